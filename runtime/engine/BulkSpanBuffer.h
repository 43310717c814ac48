#pragma once

#include "ArchiveBackend.h"
#include "PackedSpans.h"

#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <utility>
#include <vector>

/// \brief Generated history on its way into the archive file: a trend's samples of an hour that holds
/// nothing yet are kept in memory instead of as rows; an hour that has left the live window goes into
/// the file as one block, the others as rows. So a back-fill never writes rows only to pack them again.
/// Anything else (an hour with rows or a block, samples out of order) is left to the caller's row path.
class BulkSpanBuffer final {
public:
    struct Span {
        int slot = 0;
        qint64 id = 0;
        qint64 start = 0;
        QList<PackedSample> samples;
    };
    struct Sink {
        /// True when the file has neither rows nor a block for the hour.
        std::function<bool(qint64 id, qint64 start)> isEmpty;
        std::function<void(const Span& span)> asBlock;
        /// The samples become rows (their rollup cells are collected already).
        std::function<void(const Span& span)> asRows;
    };

    explicit BulkSpanBuffer(Sink sink)
        : m_sink(std::move(sink))
    {
    }
    /// `newestMs`: the newest sample already in the file.
    void begin(int trends, qint64 newestMs);
    /// True when the sample is kept here; false: the caller writes it as a row.
    bool add(const ArchiveRow& row);
    /// Writes everything kept: blocks for hours out of the live window, rows for the rest.
    void finish();
    void clear();

private:
    void close(int slot);
    void writeDue();
    /// A kept hour that gets a sample out of order becomes rows at once.
    void spill(qint64 id, qint64 start);

    Sink m_sink;
    std::vector<std::optional<Span>> m_open;
    std::deque<Span> m_closed;
    std::set<std::pair<qint64, qint64>> m_kept;  ///< hours taken here in this bulk
    std::set<std::pair<qint64, qint64>> m_rows;  ///< hours left to the row path
    qint64 m_newest = 0;
};
