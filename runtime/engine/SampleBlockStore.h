#pragma once

#include "ArchiveAggregate.h"
#include "SampleBlockCodec.h"
#include "SqliteDatabase.h"

#include <map>
#include <optional>
#include <utility>
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
    /// On a connection of its own (a worker's), `file` naming it in messages.
    SampleBlockStore(sqlite3* db, const QString& file);
    /// Stores (or replaces) the block of `trend` for the span starting at `start`.
    void write(qint64 trend, qint64 start, std::span<const PackedSample> samples);
    void remove(qint64 trend, qint64 start);
    /// The block of `trend` for the span starting at `start`, if there is one.
    std::optional<StoredBlock> find(qint64 trend, qint64 start);
    /// The blocks of `trend` holding samples inside [t0, t1], oldest first.
    QList<StoredBlock> overlapping(qint64 trend, qint64 t0, qint64 t1);
    /// The samples of one stored block; a damaged block throws SqliteError as a damaged file does
    /// (SQLITE_CORRUPT), naming the file, the trend and the span. The last blocks read stay decoded:
    /// a chart's query asks for the same hours piece by piece, and a zoom step asks again.
    QList<PackedSample> unpack(qint64 trend, const StoredBlock& block) const;
    /// The block's cells of PackedSpans::CellMs, kept with its decoded samples.
    QList<ArchiveAggregate> cellsOf(qint64 trend, const StoredBlock& block) const;
    /// Why a stored block cannot be read; empty for a sound one.
    static QString problem(const StoredBlock& block);

private:
    static StoredBlock read(const SqliteStatement& statement);
    static SampleBlockCodec::Decoded decodeChecked(const StoredBlock& block);
    struct Decoded {
        QByteArray data;
        QList<PackedSample> samples;
        QList<ArchiveAggregate> cells;
    };
    /// About 15 MB at most: a day of eight curves, or the hours around a zoomed window.
    static constexpr std::size_t CacheBlocks = 256;
    QString m_file;
    mutable std::map<std::pair<qint64, qint64>, Decoded> m_decoded;
    SqliteStatement m_write;
    SqliteStatement m_remove;
    SqliteStatement m_find;
    SqliteStatement m_overlapping;
};
