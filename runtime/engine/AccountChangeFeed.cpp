#include "AccountChangeFeed.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileSystemWatcher>
#include <QTimer>

namespace {

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(AccountChangeLog::maxReadBytes * 8) : QByteArray();
}

} // namespace

AccountChangeFeed::AccountChangeFeed(Journal journal, std::function<qint64()> clock, QObject* parent)
    : QObject(parent)
    , m_journal(std::move(journal))
    , m_clock(std::move(clock))
    , m_watcher(new QFileSystemWatcher(this))
    , m_settle(new QTimer(this))
{
    m_settle->setSingleShot(true);
    m_settle->setInterval(SettleMs);
    connect(m_settle, &QTimer::timeout, this, &AccountChangeFeed::poll);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, m_settle, qOverload<>(&QTimer::start));
    connect(m_watcher, &QFileSystemWatcher::fileChanged, m_settle, qOverload<>(&QTimer::start));
}

void AccountChangeFeed::start(const QString& dataFolder, const QString& accountsFile)
{
    stop();
    m_folder = dataFolder;
    m_accountsFile = accountsFile;
    m_accounts = contentOf(accountsFile);
    m_log = std::make_unique<AccountChangeLog>(QDir(dataFolder).filePath(AccountChangeLog::fileName()));
    QDir().mkpath(dataFolder);
    watch();
    poll();
}

void AccountChangeFeed::stop()
{
    m_settle->stop();
    if (!m_watcher->files().isEmpty())
        m_watcher->removePaths(m_watcher->files());
    if (!m_watcher->directories().isEmpty())
        m_watcher->removePaths(m_watcher->directories());
    m_log.reset();
    m_taken = 0;
    m_written = true;
}

void AccountChangeFeed::watch()
{
    // Files replaced by renaming drop out of the watch: the folder's event brings them back.
    for (const QString& path : {m_folder, m_accountsFile, m_log->path()})
        if (QFileInfo::exists(path) && !m_watcher->files().contains(path) && !m_watcher->directories().contains(path))
            m_watcher->addPath(path);
}

void AccountChangeFeed::poll()
{
    if (!m_log)
        return;
    watch();
    // The tool changes the accounts while it holds the log's lock: once the log is free, its change is
    // in the accounts file too.
    if (!takeLog()) {
        m_settle->start();
        return;
    }
    if (const QByteArray accounts = contentOf(m_accountsFile); accounts != m_accounts) {
        m_accounts = accounts;
        Q_EMIT accountsChanged();
    }
}

bool AccountChangeFeed::takeLog()
{
    if (!m_written)
        m_written = m_journal({});
    // Locking makes a lock file in the watched folder, which calls this again: only with work to do.
    const qint64 size = QFileInfo(m_log->path()).size();
    if (size <= m_taken && !(m_written && m_taken > 0))
        return true;
    QString error;
    // Never waited for: the screens do not stall while the tool hashes a password.
    const std::unique_ptr<QLockFile> lock = m_log->lock(&error, 0);
    if (!lock)
        return false;
    // Only what the journal has written leaves the log; the rest waits there, also for a restart.
    if (m_written && m_taken > 0) {
        if (error = m_log->remove(m_taken); !error.isEmpty()) {
            qWarning().noquote() << "Account changes:" << error;
            return true;
        }
        m_taken = 0;
    }
    const AccountChangeLog::Read read = m_log->read(m_taken, m_clock());
    if (read.end == m_taken)
        return true;
    m_written = m_journal(read.rows);
    if (m_written && (error = m_log->remove(read.end)).isEmpty())
        m_taken = 0;
    else
        m_taken = read.end;
    if (!error.isEmpty())
        qWarning().noquote() << "Account changes:" << error;
    return true;
}
