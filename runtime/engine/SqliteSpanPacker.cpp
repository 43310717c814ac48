#include "SqliteSpanPacker.h"

#include "ArchiveStoreRollups.h"

#include <sqlite3.h>

#include <algorithm>
#include <vector>

SqliteSpanPacker::SqliteSpanPacker(sqlite3* db, const QString& file)
    : m_db(db)
    , m_file(file)
    , m_blocks(db, file)
    , m_trends(db, file, "SELECT id FROM trends ORDER BY id")
    , m_oldestRow(db, file, "SELECT min(t) FROM samples WHERE trend = ?1")
    , m_newestRow(db, file, "SELECT max(t) FROM samples WHERE trend = ?1")
    , m_oldestBlock(db, file, "SELECT min(start) FROM sample_blocks WHERE trend = ?1")
    , m_newestBlock(db, file, "SELECT end FROM sample_blocks WHERE trend = ?1 ORDER BY start DESC LIMIT 1")
    , m_rows(db, file, "SELECT t, v FROM samples WHERE trend = ?1 AND t >= ?2 AND t < ?3 ORDER BY t")
    // A row already there is newer than the block's sample of the same time and stays.
    , m_insertRow(db, file, "INSERT OR IGNORE INTO samples(trend, t, v) VALUES(?1, ?2, ?3)")
    , m_deleteRows(db, file, "DELETE FROM samples WHERE trend = ?1 AND t >= ?2 AND t < ?3")
    , m_deleteCells(db, file, "DELETE FROM rollups WHERE level = ?4 AND trend = ?1 AND t >= ?2 AND t < ?3")
    , m_anyRow(db, file, "SELECT 1 FROM samples LIMIT 1")
    , m_anyBlock(db, file, "SELECT 1 FROM sample_blocks LIMIT 1")
    , m_rowInSpan(db, file, "SELECT 1 FROM samples WHERE trend = ?1 AND t >= ?2 AND t < ?3 LIMIT 1")
{
}

std::optional<qint64> SqliteSpanPacker::single(SqliteStatement& statement, qint64 trend)
{
    statement.bind(1, trend);
    std::optional<qint64> value;
    if (statement.step() && !statement.isNull(0))
        value = statement.int64(0);
    statement.reset();
    return value;
}

std::optional<PackedSpans::Span> SqliteSpanPacker::next()
{
    std::vector<PackedSpans::OldestRow> oldestRows;
    qint64 newestAll = 0;
    bool any = false;
    while (m_trends.step()) {
        const qint64 trend = m_trends.int64(0);
        if (const auto row = single(m_oldestRow, trend))
            oldestRows.push_back({trend, *row});
        if (const auto last = newest(trend)) {
            newestAll = any ? std::max(newestAll, *last) : *last;
            any = true;
        }
    }
    m_trends.reset();
    if (!any)
        return std::nullopt;
    return PackedSpans::next(oldestRows, newestAll);
}

void SqliteSpanPacker::pack(const PackedSpans::Span& span)
{
    const qint64 end = span.start + PackedSpans::SpanMs;
    QList<PackedSample> rows;
    m_rows.bind(1, span.trend).bind(2, span.start).bind(3, end);
    while (m_rows.step())
        rows.append({m_rows.int64(0), m_rows.real(1)});
    m_rows.reset();
    QList<PackedSample> stored;
    if (const auto block = m_blocks.find(span.trend, span.start))
        stored = m_blocks.unpack(span.trend, *block);
    const QList<PackedSample> samples = PackedSpans::merged(stored, rows);
    if (samples.size() > SampleBlockCodec::MaxSamples)
        throw KalvoraError(QStringLiteral("%1: trend %2 has %3 samples in the hour from %4, more than a block holds; they stay unpacked")
                               .arg(m_file).arg(span.trend).arg(samples.size()).arg(span.start));
    m_blocks.write(span.trend, span.start, samples);
    m_deleteRows.bind(1, span.trend).bind(2, span.start).bind(3, end).run();
    m_deleteCells.bind(1, span.trend).bind(2, span.start).bind(3, end).bind(4, ArchiveRollups::stored(0)).run();
}

QList<PackedSample> SqliteSpanPacker::unpack(qint64 trend, qint64 start)
{
    const auto block = m_blocks.find(trend, start);
    if (!block)
        return {};
    const QList<PackedSample> samples = m_blocks.unpack(trend, *block);
    for (const PackedSample& s : samples)
        m_insertRow.bind(1, trend).bind(2, s.t).bind(3, s.v).run();
    m_blocks.remove(trend, start);
    return samples;
}

std::optional<qint64> SqliteSpanPacker::oldest(qint64 trend)
{
    std::optional<qint64> first = single(m_oldestRow, trend);
    // Blocks are older than rows unless late rows came in; the oldest block's first sample decides.
    if (const auto start = single(m_oldestBlock, trend); start && (!first || *start < *first)) {
        if (const auto block = m_blocks.find(trend, *start)) {
            const QList<PackedSample> samples = m_blocks.unpack(trend, *block);
            if (!samples.isEmpty() && (!first || samples.front().t < *first))
                first = samples.front().t;
        }
    }
    return first;
}

std::optional<qint64> SqliteSpanPacker::newest(qint64 trend)
{
    const auto row = single(m_newestRow, trend);
    const auto block = single(m_newestBlock, trend);
    if (row && block)
        return std::max(*row, *block);
    return row ? row : block;
}

bool SqliteSpanPacker::isEmpty()
{
    const bool rows = m_anyRow.step();
    m_anyRow.reset();
    if (rows)
        return false;
    const bool blocks = m_anyBlock.step();
    m_anyBlock.reset();
    return !blocks;
}

bool SqliteSpanPacker::hasRows(qint64 trend, qint64 start)
{
    m_rowInSpan.bind(1, trend).bind(2, start).bind(3, start + PackedSpans::SpanMs);
    const bool any = m_rowInSpan.step();
    m_rowInSpan.reset();
    return any;
}

void SqliteSpanPacker::releaseFreePages(sqlite3* db, const QString& file)
{
    SqliteStatement vacuum(db, file, "PRAGMA incremental_vacuum");
    while (vacuum.step()) {
    }
}
