#include "SampleBlockStore.h"

#include <sqlite3.h>

void SampleBlockStore::createTable(SqliteDatabase& db)
{
    db.exec("CREATE TABLE IF NOT EXISTS sample_blocks(trend INTEGER NOT NULL, start INTEGER NOT NULL, "
            "end INTEGER NOT NULL, count INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(trend, start)) WITHOUT ROWID");
}

SampleBlockStore::SampleBlockStore(SqliteDatabase& db)
    : m_db(db)
    , m_write(db.prepare("INSERT OR REPLACE INTO sample_blocks(trend, start, end, count, data) VALUES(?1, ?2, ?3, ?4, ?5)"))
    , m_overlapping(db.prepare("SELECT start, end, count, data FROM sample_blocks WHERE trend = ?1 AND start <= ?3 AND end >= ?2 ORDER BY start"))
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

QList<SampleBlockStore::StoredBlock> SampleBlockStore::overlapping(qint64 trend, qint64 t0, qint64 t1)
{
    QList<StoredBlock> blocks;
    m_overlapping.bind(1, trend).bind(2, t0).bind(3, t1);
    while (m_overlapping.step()) {
        sqlite3_stmt* row = m_overlapping.handle();
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(row, 3));
        blocks.append({m_overlapping.int64(0), m_overlapping.int64(1), m_overlapping.int64(2),
                       QByteArray(bytes, sqlite3_column_bytes(row, 3))});
    }
    return blocks;
}

QList<PackedSample> SampleBlockStore::unpack(qint64 trend, const StoredBlock& block) const
{
    auto decoded = SampleBlockCodec::decode(block.data);
    if (decoded.ok() && decoded.samples.size() != block.count)
        decoded.error = QStringLiteral("%1 samples where the table says %2").arg(decoded.samples.size()).arg(block.count);
    if (!decoded.ok())
        throw KalvoraError(QStringLiteral("%1: block of trend %2 from %3: %4").arg(m_db.path()).arg(trend).arg(block.start).arg(decoded.error));
    return decoded.samples;
}
