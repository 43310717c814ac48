#include "SampleBlockStore.h"

#include "PackedSpans.h"

#include <sqlite3.h>

void SampleBlockStore::createTable(SqliteDatabase& db)
{
    db.exec("CREATE TABLE IF NOT EXISTS sample_blocks(trend INTEGER NOT NULL, start INTEGER NOT NULL, "
            "end INTEGER NOT NULL, count INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(trend, start)) WITHOUT ROWID");
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
    , m_overlapping(db, file, "SELECT start, end, count, data FROM sample_blocks WHERE trend = ?1 AND start <= ?3 AND end >= ?2 ORDER BY start")
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
    m_overlapping.bind(1, trend).bind(2, t0).bind(3, t1);
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

QList<ArchiveAggregate> SampleBlockStore::cellsOf(qint64 trend, const StoredBlock& block) const
{
    const QList<PackedSample> samples = unpack(trend, block);
    Decoded& kept = m_decoded[{trend, block.start}];
    if (kept.cells.isEmpty())
        PackedSpans::cells(samples, PackedSpans::CellMs, block.start, block.start + PackedSpans::SpanMs,
                           [&](const ArchiveAggregate& cell) { kept.cells.append(cell); });
    return kept.cells;
}

QString SampleBlockStore::problem(const StoredBlock& block)
{
    return decodeChecked(block).error;
}

QList<PackedSample> SampleBlockStore::unpack(qint64 trend, const StoredBlock& block) const
{
    // A block written anew under the same key has other bytes, so the cache never answers for it.
    const auto key = std::pair{trend, block.start};
    if (const auto it = m_decoded.find(key); it != m_decoded.end() && it->second.data == block.data)
        return it->second.samples;
    auto decoded = decodeChecked(block);
    if (!decoded.ok())
        throw SqliteError(QStringLiteral("%1: block of trend %2 from %3: %4").arg(m_file).arg(trend).arg(block.start).arg(decoded.error),
                          SQLITE_CORRUPT);
    if (m_decoded.size() >= CacheBlocks)
        m_decoded.clear();
    m_decoded[key] = {block.data, decoded.samples, {}};
    return decoded.samples;
}
