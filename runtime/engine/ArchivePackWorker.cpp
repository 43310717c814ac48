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
{
    PackingLoop::Hooks hooks;
    hooks.step = [this] { return packOne(); };
    hooks.failed = [](const QString& fault) { qWarning().noquote() << "Archive: packing paused:" << fault; };
    hooks.finish = [this] { close(); };
    m_loop = std::make_unique<PackingLoop>(std::move(hooks), PackingLoop::Timing{BusyBackOff, {}, {}});
}

ArchivePackWorker::~ArchivePackWorker()
{
    m_loop.reset();
}

void ArchivePackWorker::close()
{
    m_packer.reset();
    sqlite3_close_v2(m_db);
    m_db = nullptr;
}

PackingLoop::Step ArchivePackWorker::packOne()
{
    try {
        if (!m_db) {
            const QByteArray uri = "file:" + QUrl::fromLocalFile(m_path).path(QUrl::FullyEncoded).toUtf8();
            if (const int rc = sqlite3_open_v2(uri.constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr); rc != SQLITE_OK) {
                const QString why = QString::fromUtf8(sqlite3_errmsg(m_db));
                close();
                return {PackingLoop::Outcome::Failed, why};
            }
            sqlite3_extended_result_codes(m_db, 1);
            sqlite3_busy_timeout(m_db, BusyTimeoutMs);
            // Only the archive's own connection copies the WAL into the file, so a check in progress
            // finds the file as it was.
            sqlite3_wal_autocheckpoint(m_db, 0);
        }
        if (!m_packer)
            m_packer = std::make_unique<SqliteSpanPacker>(m_db, m_path);
        const auto exec = [&](const char* sql) {
            if (const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr); rc != SQLITE_OK)
                throw SqliteError(QString::fromUtf8(sqlite3_errmsg(m_db)), rc);
        };
        exec("BEGIN IMMEDIATE");
        try {
            const auto span = m_packer->next();
            if (span)
                m_packer->pack(*span);
            exec("COMMIT");
            if (span) {
                m_packedSinceRelease = true;
                return {PackingLoop::Outcome::Packed, {}};
            }
        } catch (...) {
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
        // Nothing due: hand the pages packing freed back to the file system.
        if (m_packedSinceRelease) {
            SqliteSpanPacker::releaseFreePages(m_db, m_path);
            m_packedSinceRelease = false;
        }
        return {PackingLoop::Outcome::NothingDue, {}};
    } catch (const SqliteError& e) {
        const int code = e.code() & 0xff;
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
            return {PackingLoop::Outcome::Busy, e.message()};
        return {PackingLoop::Outcome::Failed, e.message()};
    }
}
