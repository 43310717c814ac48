#pragma once

// Files that are not what their name promises, for the readers' fault tables, and a watchdog that
// turns a reader stuck on one of them into a failed test instead of a hung suite.

#include <QFile>
#include <QString>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <sys/stat.h>

/// Replaces `path` (a file or nothing) by: "fifo", "link to /dev/zero", "folder", or "oversized:<bytes>"
/// (a sparse file of that size, so it costs no disk). False for an unknown kind or a failure.
inline bool replaceWithKind(const QString& path, const QString& kind)
{
    QFile::remove(path);
    const QByteArray name = QFile::encodeName(path);
    if (kind == QLatin1String("fifo"))
        return ::mkfifo(name.constData(), 0600) == 0;
    if (kind == QLatin1String("link to /dev/zero"))
        return QFile::link(QStringLiteral("/dev/zero"), path);
    if (kind == QLatin1String("folder"))
        return ::mkdir(name.constData(), 0700) == 0;
    if (kind.startsWith(QLatin1String("oversized:"))) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.resize(kind.section(QLatin1Char(':'), 1).toLongLong());
    }
    return false;
}

/// Ends the test program with a message if it is still alive `seconds` after construction and the
/// watchdog has not been destroyed: a reader that waits on a FIFO for a writer, or reads a device
/// without end, then fails the run instead of hanging it until the test driver gives up.
class ReadWatchdog {
public:
    explicit ReadWatchdog(QString what, int seconds = 20)
        : m_what(std::move(what))
        , m_thread([this, seconds] {
            std::unique_lock lock(m_mutex);
            if (!m_done.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_finished; })) {
                std::fprintf(stderr, "FAIL: reading %s did not come back within %d s\n", qPrintable(m_what), seconds);
                std::fflush(stderr);
                std::_Exit(3);
            }
        })
    {
    }
    ~ReadWatchdog()
    {
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_one();
        m_thread.join();
    }
    ReadWatchdog(const ReadWatchdog&) = delete;
    ReadWatchdog& operator=(const ReadWatchdog&) = delete;

private:
    QString m_what;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};
