#pragma once

#include "ArchiveStoreRollups.h"
#include "BlockCache.h"
#include "SampleBlockCodec.h"

#include <QList>

class PackedWindow;
class PgResult;
#include <QString>

#include <functional>
#include <map>
#include <vector>

class PgConnection;

/// One sample read back.
struct PgPoint {
    qint64 timeMs = 0;
    double value = 0.0;
    bool operator==(const PgPoint& other) const = default;
};

/// \brief Reads the archive on a PostgreSQL server: one trend's samples, or the pieces a chart's
/// reduction asks for (ArchiveStore::reduced cuts the span and merges them), all in one round trip. A
/// failed read gives nothing and sets error().
class PgArchiveReader final {
public:
    explicit PgArchiveReader(PgConnection& connection)
        : m_c(connection)
    {
    }

    /// Samples of trend id `trend` with t0 <= time <= t1, oldest first.
    QList<PgPoint> range(int trend, qint64 t0, qint64 t1);
    /// Each piece of `plan` in order: raw samples as aggregates of one sample (level -1), cells of
    /// the level otherwise. False when the read failed.
    bool pieces(int trend, const std::vector<ArchiveRollups::Segment>& plan, const std::function<void(const ArchiveAggregate&)>& onCell);
    /// The oldest sample time of `trend`; false when it has none or the read failed.
    bool oldest(int trend, qint64* timeMs);
    const QString& error() const { return m_error; }
    /// `values` as an SQL array literal, {1,2,3}.
    static QByteArray arrayLiteral(const std::vector<qint64>& values);

    /// Appends the samples of trend's blocks matching `where` ($2 on) to `out`, oldest first; false
    /// when the read failed or a block is damaged (error() names trend and hour).
    bool blockSamples(int trend, const QByteArray& where, const QList<QByteArray>& params, std::vector<PackedSample>& out);

    /// Appends the minute cells the blocks of `trend` at the hours `spans` carry to `out`, oldest first.
    bool blockCells(int trend, const std::vector<qint64>& spans, std::vector<ArchiveAggregate>& out);

private:
    /// Asks for the row versions of trend's blocks at the hours `spans`: `onKept` gets those the cache
    /// holds in that version with what `needOf` asks; the others come back with their versions.
    std::map<qint64, QByteArray> lookUp(int trend, const std::vector<qint64>& spans, const std::function<int(qint64)>& needOf,
        const std::function<void(qint64, const BlockCache::Entry&)>& onKept);
    /// Reads `columns` (start first) of the `missing` blocks and hands each row to `onBlock`, whose
    /// error names what is wrong with a damaged block.
    bool fetch(int trend, const std::map<qint64, QByteArray>& missing, const QByteArray& columns,
        const std::function<QString(const PgResult& r, int row, qint64 start, const QByteArray& version)>& onBlock);
    /// Adds trend's blocks at the hours `spans` (ascending) to `window`: their 10 s cells, and their
    /// samples at `rawSpans`; from the cache where it holds the stored version.
    bool packedWindow(int trend, const std::vector<qint64>& spans, const std::vector<qint64>& rawSpans, PackedWindow& window);

    PgConnection& m_c;
    QString m_error;
    /// The blocks a chart read last: a zoom step or the next refresh asks for most of them again.
    BlockCache m_cache{48u << 20};
};
