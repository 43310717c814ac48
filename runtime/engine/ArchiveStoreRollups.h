#pragma once

#include "ArchiveAggregate.h"
#include "SqliteDatabase.h"

#include <QtGlobal>

#include <array>
#include <map>
#include <span>
#include <tuple>
#include <vector>

/// \brief The archive's coarse levels: per trend and aligned cell of 10 s, 1 min, 10 min and 1 h, the
/// aggregate of the raw samples in it. A cell holds only samples that are still in the raw table:
/// retention drops every cell older than a trend's oldest sample, and readers ignore such cells.
class ArchiveRollups final {
public:
    static constexpr int Levels = 4;
    static constexpr std::array<qint64, Levels> StepMs{10'000, 60'000, 600'000, 3'600'000};
    /// The number each level has in the file. The 10-minute level came after the hour level, whose
    /// stored cells keep their number.
    static constexpr std::array<int, Levels> StoredLevel{0, 1, 3, 2};
    static int stored(int level) { return StoredLevel[static_cast<size_t>(level)]; }

    static void createTable(SqliteDatabase& db);
    /// Builds every cell from the raw samples; for an archive that had none.
    static void rebuild(SqliteDatabase& db);
    /// Builds every cell of `level` from the cells of the level below it; for an archive from before
    /// that level existed.
    static void derive(SqliteDatabase& db, int level);

    /// Collects the cells that new samples touch; flush() writes them inside the caller's transaction.
    class Collector {
    public:
        explicit Collector(int trends = 0) { resize(trends); }
        void resize(int trends);
        /// A sample that did not exist before, of the trend in `slot` (ArchiveStore's index).
        void add(int slot, qint64 id, qint64 t, double v);
        /// A sample whose value was replaced: its cells are computed afresh from the raw samples.
        void replaced(qint64 id, qint64 t);
        void flush(SqliteDatabase& db);
        /// Forgets the cells of `level` collected for trend `id` in [from, to): a packed hour keeps no
        /// 10 s cells.
        void discard(int level, qint64 id, qint64 from, qint64 to);
        void clear();
        /// Drops the prepared statements; before the file they belong to closes.
        void forget();
        size_t cellCount() const { return m_cells.size(); }

    private:
        struct Cell {
            ArchiveAggregate agg;
            bool hasAgg = false;
            bool recompute = false;
        };
        struct Open {
            qint64 id = -1;
            qint64 start = 0;
            ArchiveAggregate agg;
        };
        using Key = std::tuple<int, qint64, qint64>; // level, trend id, cell start
        void close(int level, Open& open);
        void prepare(SqliteDatabase& db);
        std::vector<std::array<Open, Levels>> m_open;
        int m_openCount = 0;
        std::map<Key, Cell> m_cells;
        const SqliteDatabase* m_preparedFor = nullptr;
        SqliteStatement m_read;
        SqliteStatement m_raw;
        SqliteStatement m_write;
        SqliteStatement m_drop;
    };

    /// Drops the cells of a trend that begin before `keepFrom`: its oldest raw sample, or the retention
    /// cutoff when it has none left.
    static void removeStale(SqliteDatabase& db, qint64 id, qint64 keepFrom);

    /// One piece of a query span, read from one level (-1: raw samples), [from, to).
    struct Segment {
        int level;
        qint64 from;
        qint64 to;
    };
    /// Cuts each span [edges[i], edges[i+1]) into pieces: the middle from the coarsest level whose step
    /// is not above `maxStepMs` and whose cells lie wholly inside, the ends from finer levels down to
    /// the raw samples. Cells before `validFrom` (aligned per level) are not used.
    static std::vector<Segment> plan(const std::vector<qint64>& edges, qint64 maxStepMs, qint64 validFrom);

    /// A level of a plan read once over [from, to) and cut per piece: where its pieces lie thick (a zoom
    /// alternates minute and 10 s pieces), one range scan beats a probe a piece and reads at most a
    /// few cells in vain per piece.
    struct LevelScan {
        bool whole = false;
        qint64 from = 0;
        qint64 to = 0;
    };
    static std::array<LevelScan, Levels> scans(const std::vector<Segment>& plan);
    /// The cells of `cells` (in time order) whose first sample lies in [from, to).
    static std::span<const ArchiveAggregate> slice(const std::vector<ArchiveAggregate>& cells, qint64 from, qint64 to);
};
