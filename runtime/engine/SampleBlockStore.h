#pragma once

#include "SampleBlockCodec.h"
#include "SqliteDatabase.h"

#include <span>

/// \brief The packed blocks of an archive file in SQLite: one row per trend and block span, holding
/// the span's start, the last sample's time, the count and the block. Writes join the caller's
/// transaction, so a block and the removal of the rows it replaces commit together.
class SampleBlockStore final {
public:
    struct StoredBlock {
        qint64 start = 0;
        qint64 end = 0;
        qint64 count = 0;
        QByteArray data;
    };

    /// Creates the table in a schema upgrade.
    static void createTable(SqliteDatabase& db);

    explicit SampleBlockStore(SqliteDatabase& db);
    /// Stores (or replaces) the block of `trend` for the span starting at `start`.
    void write(qint64 trend, qint64 start, std::span<const PackedSample> samples);
    /// The blocks of `trend` holding samples inside [t0, t1], oldest first.
    QList<StoredBlock> overlapping(qint64 trend, qint64 t0, qint64 t1);
    /// The samples of one stored block; throws KalvoraError naming the file, the trend and the span
    /// when the block is damaged.
    QList<PackedSample> unpack(qint64 trend, const StoredBlock& block) const;

private:
    SqliteDatabase& m_db;
    SqliteStatement m_write;
    SqliteStatement m_overlapping;
};
