#pragma once

#include "PackingLoop.h"

#include <QString>

#include <memory>

struct sqlite3;
class SqliteSpanPacker;

/// \brief Packs an archive file's spans that have left the live window, on a thread with its own
/// connection to the file, oldest span first, each span in its own short transaction: the archive's
/// writes wait at most that long (busy timeout) and a crash at any point loses nothing. Idle until
/// wake() after the archive wrote; pause() while the archive holds a long transaction of its own.
class ArchivePackWorker final {
public:
    explicit ArchivePackWorker(QString path);
    ~ArchivePackWorker();
    ArchivePackWorker(const ArchivePackWorker&) = delete;
    ArchivePackWorker& operator=(const ArchivePackWorker&) = delete;

    void wake() { m_loop->wake(); }
    void pause(bool paused) { m_loop->pause(paused); }
    /// Spans packed since start, for tests and benchmarks.
    qint64 packedCount() const { return m_loop->packedCount(); }
    /// Wakes the worker and waits until nothing is due (or it gave up on a fault); false after
    /// `timeoutMs`. For tests and benchmarks.
    bool waitIdle(int timeoutMs) { return m_loop->waitIdle(timeoutMs); }

private:
    PackingLoop::Step packOne();
    void close();

    QString m_path;
    // Used on the loop's thread only.
    sqlite3* m_db = nullptr;
    std::unique_ptr<SqliteSpanPacker> m_packer;
    bool m_packedSinceRelease = false;
    std::unique_ptr<PackingLoop> m_loop;
};
