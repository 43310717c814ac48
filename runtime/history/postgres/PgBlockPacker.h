#pragma once

#include <QString>

#include "PackingLoop.h"

#include <memory>
#include <vector>

class PgConnection;

/// \brief Packs the archive's raw samples that have left the live window (PackedSpans) into one block
/// row per trend and hour (sample_blocks). Each trend-span is one transaction: the rows are deleted with RETURNING,
/// exactly those rows go into the block, and the span's 10 s cells go (readers derive them from the
/// block); a crash at any point leaves either the rows or the block. A transaction advisory lock per
/// trend serialises it with a writer that unpacks a block to write into its span.
///
/// run() packs on a worker thread with a connection of its own, woken by poke() after each write and
/// every few seconds, oldest span first; an archive from before blocks is packed the same way, and a
/// stopped run continues where it was.
class PgBlockPacker final {
public:
    /// The key class of the per-trend advisory lock (the trend id is the other half).
    static constexpr int LockClass = 7413021;

    /// Packs up to `maxSpans` due trend-spans of the trends `ids`, oldest first, on `c`. Returns how
    /// many were packed, or -1 with `error` set.
    static int packDue(PgConnection& c, const std::vector<qint64>& ids, int maxSpans, QString* error);
    /// Packs the rows of `trend` in the span starting at `start` into its block, in one transaction.
    static QString packSpan(PgConnection& c, int trend, qint64 start);

    /// Packs every trend-hour of the trends `ids` that has rows from `fromMs` on, live ones too, each in
    /// its own transaction; at a clean stop, so a stopped archive holds no rows. A later write into
    /// such an hour unpacks it. Returns how many were packed, or -1 with `error` set.
    static int packFrom(PgConnection& c, const std::vector<qint64>& ids, qint64 fromMs, QString* error);

    PgBlockPacker();
    ~PgBlockPacker() { stop(); }
    PgBlockPacker(const PgBlockPacker&) = delete;
    PgBlockPacker& operator=(const PgBlockPacker&) = delete;

    /// Gives back the space of month partitions of the samples that lie wholly before the live
    /// window and hold no row any more (all packed); returns how many, or -1 with `error`.
    static int releaseEmptied(PgConnection& c, qint64 newestMs, QString* error);
    /// Removes at most `budget` packed samples of the trends `ids` older than `cutoffMs`, oldest block
    /// first: a block wholly before the cut goes, one that straddles it is packed again with the
    /// samples it keeps. In the caller's transaction; returns how many samples went, or -1 with `error`.
    static qint64 trimBefore(PgConnection& c, const std::vector<qint64>& ids, qint64 cutoffMs, qint64 budget, QString* error);

    /// Starts the worker on `conninfo`, packing the trends `ids`; replaces a running one.
    void run(const QString& conninfo, std::vector<qint64> ids);
    /// Wakes the worker: new samples may have moved the live window.
    void poke();
    void stop();
    /// Wakes the worker and waits until it finds nothing more due; false after `timeoutMs`. For tests
    /// and benchmarks.
    bool waitPacked(int timeoutMs);

private:
    PackingLoop::Step packRound();

    // Used on the loop's thread only.
    QString m_conninfo;
    std::vector<qint64> m_ids;
    std::unique_ptr<PgConnection> m_connection;
    std::unique_ptr<PackingLoop> m_loop;
};
