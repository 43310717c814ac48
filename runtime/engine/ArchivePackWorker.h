#pragma once

#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>

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

    void wake();
    void pause(bool paused);
    /// Spans packed since start, for tests and benchmarks.
    qint64 packedCount() const;
    /// Wakes the worker and waits until nothing is due (or it gave up on a fault); false after
    /// `timeoutMs`. For tests and benchmarks.
    bool waitIdle(int timeoutMs);

private:
    void run();
    bool packOne(struct sqlite3* db, class SqliteSpanPacker& packer);

    QString m_path;
    mutable std::mutex m_mutex;
    std::condition_variable m_wakeUp;
    std::condition_variable m_idleNow;
    bool m_stop = false;
    bool m_paused = false;
    bool m_woken = true;
    bool m_idle = false;
    qint64 m_packed = 0;
    QString m_fault;
    std::thread m_thread;
};
