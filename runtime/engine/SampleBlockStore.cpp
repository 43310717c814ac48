#include "SampleBlockStore.h"

#include "PackedSpans.h"

#include <sqlite3.h>

#include <QThread>

#include <algorithm>
#include <atomic>
#include <thread>

namespace {

/// Runs `job(0)` ... `job(n - 1)` on up to four threads, the caller's included; small batches stay on
/// the caller's thread, where starting a thread would cost more than it saves.
template <class Job>
void parallelFor(size_t n, const Job& job)
{
    const size_t threads = std::min<size_t>({static_cast<size_t>(std::max(1, QThread::idealThreadCount())), 4, n / 8});
    if (threads <= 1) {
        for (size_t i = 0; i < n; ++i)
            job(i);
        return;
    }
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t i = next++; i < n; i = next++)
            job(i);
    };
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < threads; ++t)
        helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers)
        helper.join();
}

} // namespace

void SampleBlockStore::createTable(SqliteDatabase& db)
{
    // A table with row ids: a block of about a kilobyte stays on its leaf page, three or four to a
    // page. In a table without row ids a record above a quarter page spills into an overflow page of
    // its own, which left 60 % of the blocks' pages empty.
    db.exec("CREATE TABLE IF NOT EXISTS sample_blocks(trend INTEGER NOT NULL, start INTEGER NOT NULL, "
            "end INTEGER NOT NULL, count INTEGER NOT NULL, data BLOB NOT NULL)");
    db.exec("CREATE UNIQUE INDEX IF NOT EXISTS sample_blocks_span ON sample_blocks(trend, start)");
}

void SampleBlockStore::upgradeTable(SqliteDatabase& db)
{
    db.exec("ALTER TABLE sample_blocks RENAME TO sample_blocks_old");
    createTable(db);
    db.exec("INSERT INTO sample_blocks(trend, start, end, count, data) SELECT trend, start, end, count, data FROM sample_blocks_old "
            "ORDER BY trend, start");
    db.exec("DROP TABLE sample_blocks_old");
}

SampleBlockStore::SampleBlockStore(SqliteDatabase& db)
    : SampleBlockStore(db.handle(), db.path())
{
}

SampleBlockStore::SampleBlockStore(sqlite3* db, const QString& file)
    : m_file(file)
    , m_write(db, file, "INSERT OR REPLACE INTO sample_blocks(trend, start, end, count, data) VALUES(?1, ?2, ?3, ?4, ?5)")
    , m_remove(db, file, "DELETE FROM sample_blocks WHERE trend = ?1 AND start = ?2")
    , m_find(db, file, "SELECT start, end, count, data FROM sample_blocks WHERE trend = ?1 AND start = ?2")
    // A block's samples lie in its span, so the key bounds the search from both sides: a read of the
    // last day does not walk a month of blocks.
    , m_overlapping(db, file, "SELECT start, end, count, data FROM sample_blocks WHERE trend = ?1 AND start <= ?3 AND start > ?2 - ?4 "
                              "AND end >= ?2 ORDER BY start")
{
}

void SampleBlockStore::write(qint64 trend, qint64 start, std::span<const PackedSample> samples)
{
    const QByteArray block = SampleBlockCodec::encode(samples);
    m_write.bind(1, trend).bind(2, start).bind(3, samples.empty() ? start : samples.back().t)
        .bind(4, static_cast<qint64>(samples.size()));
    // SqliteStatement has no blob binding; SQLite copies the bytes here, before `block` goes.
    sqlite3_bind_blob(m_write.handle(), 5, block.constData(), static_cast<int>(block.size()), SQLITE_TRANSIENT);
    m_write.run();
}

void SampleBlockStore::remove(qint64 trend, qint64 start)
{
    m_remove.bind(1, trend).bind(2, start).run();
}

SampleBlockStore::StoredBlock SampleBlockStore::read(const SqliteStatement& statement)
{
    sqlite3_stmt* row = statement.handle();
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(row, 3));
    return {statement.int64(0), statement.int64(1), statement.int64(2), QByteArray(bytes, sqlite3_column_bytes(row, 3))};
}

std::optional<SampleBlockStore::StoredBlock> SampleBlockStore::find(qint64 trend, qint64 start)
{
    m_find.bind(1, trend).bind(2, start);
    std::optional<StoredBlock> block;
    if (m_find.step())
        block = read(m_find);
    m_find.reset();
    return block;
}

QList<SampleBlockStore::StoredBlock> SampleBlockStore::overlapping(qint64 trend, qint64 t0, qint64 t1)
{
    QList<StoredBlock> blocks;
    m_overlapping.bind(1, trend).bind(2, t0).bind(3, t1).bind(4, PackedSpans::SpanMs);
    while (m_overlapping.step())
        blocks.append(read(m_overlapping));
    m_overlapping.reset();
    return blocks;
}

SampleBlockCodec::Decoded SampleBlockStore::decodeChecked(const StoredBlock& block)
{
    auto decoded = SampleBlockCodec::decode(block.data);
    if (decoded.ok() && decoded.samples.size() != block.count)
        decoded.error = QStringLiteral("%1 samples where the table says %2").arg(decoded.samples.size()).arg(block.count);
    return decoded;
}

QString SampleBlockStore::problem(const StoredBlock& block)
{
    return decodeChecked(block).error;
}

QList<PackedSample> SampleBlockStore::unpack(qint64 trend, const StoredBlock& block) const
{
    return unpack(trend, {block}, {Samples}).front().samples;
}

std::vector<SampleBlockStore::Unpacked> SampleBlockStore::unpack(qint64 trend, const QList<StoredBlock>& blocks, const std::vector<int>& needs) const
{
    std::vector<Unpacked> out(static_cast<size_t>(blocks.size()));
    std::vector<size_t> misses;
    for (size_t i = 0; i < out.size(); ++i) {
        // A block written anew under the same key has other bytes, so the cache never answers for it.
        const StoredBlock& block = blocks[static_cast<qsizetype>(i)];
        const BlockCache::Entry* kept = m_cache.find(trend, block.start, block.data, needs[i]);
        if (!kept) {
            misses.push_back(i);
            continue;
        }
        if (needs[i] & Samples)
            out[i].samples = kept->samples;
        if (needs[i] & Cells)
            out[i].cells = kept->cells;
    }
    std::vector<QString> errors(misses.size());
    parallelFor(misses.size(), [&](size_t m) {
        const size_t i = misses[m];
        const StoredBlock& block = blocks[static_cast<qsizetype>(i)];
        auto decoded = decodeChecked(block);
        if (!decoded.ok()) {
            errors[m] = decoded.error;
            return;
        }
        if (needs[i] & Cells)
            PackedSpans::cells(decoded.samples, PackedSpans::CellMs, block.start, block.start + PackedSpans::SpanMs,
                               [&](const ArchiveAggregate& cell) { out[i].cells.append(cell); });
        if (needs[i] & Samples)
            out[i].samples = std::move(decoded.samples);
    });
    for (size_t m = 0; m < misses.size(); ++m) {
        const size_t i = misses[m];
        const StoredBlock& block = blocks[static_cast<qsizetype>(i)];
        if (!errors[m].isEmpty())
            throw SqliteError(QStringLiteral("%1: block of trend %2 from %3: %4").arg(m_file).arg(trend).arg(block.start).arg(errors[m]),
                              SQLITE_CORRUPT);
        m_cache.put(trend, block.start, {block.data, out[i].samples, out[i].cells, needs[i]});
    }
    return out;
}

