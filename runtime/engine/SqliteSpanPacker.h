#pragma once

#include "PackedSpans.h"
#include "SampleBlockStore.h"

#include <optional>

/// \brief Packs and unpacks the spans of an archive file on one connection (the archive's own, or the
/// packing worker's). Everything joins the caller's transaction, so a block and the removal of its rows
/// commit together and a crash at any point loses nothing.
class SqliteSpanPacker final {
public:
    SqliteSpanPacker(sqlite3* db, const QString& file);

    /// The span to pack next (PackedSpans::next over every trend of the file), or none.
    std::optional<PackedSpans::Span> next();
    /// The span's rows (merged with a block left for it) become one block; its rows and its 10 s cells go.
    void pack(const PackedSpans::Span& span);
    /// The span's block, if any, becomes rows again; returns its samples (none when the span had no
    /// block), from which the caller rebuilds the span's 10 s cells.
    QList<PackedSample> unpack(qint64 trend, qint64 start);

    /// The oldest and the newest sample time of a trend, rows and blocks alike.
    std::optional<qint64> oldest(qint64 trend);
    std::optional<qint64> newest(qint64 trend);
    bool isEmpty();
    /// Whether the hour from `start` has rows.
    bool hasRows(qint64 trend, qint64 start);

    SampleBlockStore& blocks() { return m_blocks; }
    /// Gives the pages packing freed back to the file system (only in files made with
    /// auto_vacuum=INCREMENTAL; elsewhere new rows reuse them).
    static void releaseFreePages(sqlite3* db, const QString& file);

private:
    std::optional<qint64> single(SqliteStatement& statement, qint64 trend);

    sqlite3* m_db;
    QString m_file;
    SampleBlockStore m_blocks;
    SqliteStatement m_trends;
    SqliteStatement m_oldestRow;
    SqliteStatement m_newestRow;
    SqliteStatement m_oldestBlock;
    SqliteStatement m_newestBlock;
    SqliteStatement m_rows;
    SqliteStatement m_insertRow;
    SqliteStatement m_deleteRows;
    SqliteStatement m_deleteCells;
    SqliteStatement m_anyRow;
    SqliteStatement m_anyBlock;
    SqliteStatement m_rowInSpan;
};
