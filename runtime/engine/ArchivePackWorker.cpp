#include "ArchivePackWorker.h"

#include "SqliteSpanPacker.h"

#include <QDebug>
#include <QUrl>

#include <sqlite3.h>

namespace {

// A span takes a few milliseconds; the archive's commit waits for it, never the other way round
// for long: the worker backs off when the file is busy.
constexpr int BusyTimeoutMs = 200;
constexpr auto BusyBackOff = std::chrono::milliseconds(100);

} // namespace

ArchivePackWorker::ArchivePackWorker(QString path)
    : m_path(std::move(path))
    , m_thread([this] { run(); })
{
}

ArchivePackWorker::~ArchivePackWorker()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wakeUp.notify_all();
    m_thread.join();
}

void ArchivePackWorker::wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
        m_idle = false;
    }
    m_wakeUp.notify_all();
}

void ArchivePackWorker::pause(bool paused)
{
    {
        std::lock_guard lock(m_mutex);
        m_paused = paused;
        m_woken = true;
        m_idle = false;
    }
    m_wakeUp.notify_all();
}

qint64 ArchivePackWorker::packedCount() const
{
    std::lock_guard lock(m_mutex);
    return m_packed;
}

bool ArchivePackWorker::waitIdle(int timeoutMs)
{
    wake();
    std::unique_lock lock(m_mutex);
    return m_idleNow.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_idle || m_stop; });
}

bool ArchivePackWorker::packOne(sqlite3* db, SqliteSpanPacker& packer)
{
    const auto exec = [&](const char* sql) {
        if (const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr); rc != SQLITE_OK)
            throw SqliteError(QString::fromUtf8(sqlite3_errmsg(db)), rc);
    };
    exec("BEGIN IMMEDIATE");
    try {
        const auto span = packer.next();
        if (span)
            packer.pack(*span);
        exec("COMMIT");
        return span.has_value();
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void ArchivePackWorker::run()
{
    const QByteArray uri = "file:" + QUrl::fromLocalFile(m_path).path(QUrl::FullyEncoded).toUtf8();
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(uri.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        qWarning().noquote() << "Archive: packing stays off:" << sqlite3_errmsg(db);
        sqlite3_close_v2(db);
        return;
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, BusyTimeoutMs);
    // Only the archive's own connection copies the WAL into the file, so a check in progress finds
    // the file as it was.
    sqlite3_wal_autocheckpoint(db, 0);
    {
        std::optional<SqliteSpanPacker> packer;
        bool packedSinceRelease = false;
        std::unique_lock lock(m_mutex);
        while (!m_stop) {
            if (m_paused || !m_woken) {
                m_wakeUp.wait(lock, [&] { return m_stop || (m_woken && !m_paused); });
                continue;
            }
            lock.unlock();
            bool packed = false;
            bool busy = false;
            QString fault;
            try {
                if (!packer)
                    packer.emplace(db, m_path);
                packed = packOne(db, *packer);
                if (!packed && packedSinceRelease) {
                    SqliteSpanPacker::releaseFreePages(db, m_path);
                    packedSinceRelease = false;
                }
            } catch (const SqliteError& e) {
                busy = (e.code() & 0xff) == SQLITE_BUSY || (e.code() & 0xff) == SQLITE_LOCKED;
                fault = e.message();
            } catch (const std::exception& e) {
                fault = QString::fromUtf8(e.what());
            }
            lock.lock();
            if (packed) {
                ++m_packed;
                packedSinceRelease = true;
                continue;
            }
            if (busy) {
                m_wakeUp.wait_for(lock, BusyBackOff, [&] { return m_stop; });
                continue;
            }
            // Nothing due, or a fault: wait for the next write. A fault is told once.
            if (!fault.isEmpty() && fault != m_fault)
                qWarning().noquote() << "Archive: packing paused:" << fault;
            m_fault = fault;
            m_woken = false;
            m_idle = true;
            m_idleNow.notify_all();
        }
    }
    sqlite3_close_v2(db);
}
