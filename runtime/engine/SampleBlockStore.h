#pragma once

#include "ArchiveAggregate.h"
#include "BlockCache.h"
#include "SampleBlockCodec.h"
#include "SqliteDatabase.h"

#include <optional>
#include <utility>
#include <span>
#include <vector>

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
    /// Moves the blocks of a schema-4 file into the table createTable makes.
    static void upgradeTable(SqliteDatabase& db);

    explicit SampleBlockStore(SqliteDatabase& db);
    /// On a connection of its own (a worker's), `file` naming it in messages.
    SampleBlockStore(sqlite3* db, const QString& file);
    /// Stores (or replaces) the block of `trend` for the span starting at `start`.
    void write(qint64 trend, qint64 start, std::span<const PackedSample> samples);
    void remove(qint64 trend, qint64 start);
    /// The block of `trend` for the span starting at `start`, if there is one.
    std::optional<StoredBlock> find(qint64 trend, qint64 start);
    /// The blocks of `trend` holding samples inside [t0, t1], oldest first.
    QList<StoredBlock> overlapping(qint64 trend, qint64 t0, qint64 t1);
    /// What a read needs of a block: its samples, its cells of PackedSpans::CellMs, or both.
    enum Need { Samples = BlockCache::Samples, Cells = BlockCache::Cells };
    struct Unpacked {
        QList<PackedSample> samples; ///< empty unless asked for
        QList<ArchiveAggregate> cells; ///< empty unless asked for
    };
    /// Blocks of one trend, `needs[i]` telling what block i must give. A damaged block throws
    /// SqliteError as a damaged file does (SQLITE_CORRUPT), naming the file, the trend and the span.
    /// Recently read blocks stay decoded (a chart asks for the same hours piece by piece, and a zoom
    /// step asks again); the others are decoded on all cores.
    std::vector<Unpacked> unpack(qint64 trend, const QList<StoredBlock>& blocks, const std::vector<int>& needs) const;
    /// The samples of one stored block.
    QList<PackedSample> unpack(qint64 trend, const StoredBlock& block) const;
    /// Why a stored block cannot be read; empty for a sound one.
    static QString problem(const StoredBlock& block);

private:
    static StoredBlock read(const SqliteStatement& statement);
    static SampleBlockCodec::Decoded decodeChecked(const StoredBlock& block);
    /// A day of eight curves decoded, or the cells of a few weeks of them: 10 s cells are all a chart
    /// needs of a packed hour until it zooms in below them.
    static constexpr std::size_t CacheBytes = 32u << 20;
    QString m_file;
    mutable BlockCache m_cache{CacheBytes};
    SqliteStatement m_write;
    SqliteStatement m_remove;
    SqliteStatement m_find;
    SqliteStatement m_overlapping;
};
