#pragma once

#include "AccountChangeLog.h"

#include <QByteArray>
#include <QObject>

#include <functional>

class QFileSystemWatcher;
class QTimer;

/// \brief Watches a runtime's data folder for what the engineer's tool changed beside it: the account
/// changes it logged go into the audit journal (then out of the log, once the journal has written
/// them; while the journal holds rows in memory they stay in the log, so a restart still finds them),
/// and a changed accounts file is announced so the runtime reads it afresh without a restart.
class AccountChangeFeed final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AccountChangeFeed)

public:
    /// Journals the rows and says whether the journal has written everything it was given so far.
    using Journal = std::function<bool(const QList<AuditRow>& rows)>;
    /// Events of the folder are taken together for this long.
    static constexpr int SettleMs = 50;

    AccountChangeFeed(Journal journal, std::function<qint64()> clock, QObject* parent);

    /// Watches `dataFolder` and takes what is already logged; `accountsFile` is the accounts file there.
    void start(const QString& dataFolder, const QString& accountsFile);
    void stop();
    /// Takes the log's new changes, and removes those the journal has written since; also after the
    /// journal wrote rows it had held.
    void poll();

Q_SIGNALS:
    /// The accounts file's content changed.
    void accountsChanged();

private:
    void watch();
    /// Takes the log's changes; false when the log is busy (the tool is writing) and to be tried again.
    bool takeLog();

    Journal m_journal;
    std::function<qint64()> m_clock;
    QFileSystemWatcher* m_watcher = nullptr;
    QTimer* m_settle = nullptr;
    QString m_folder;
    QString m_accountsFile;
    QByteArray m_accounts;
    std::unique_ptr<AccountChangeLog> m_log;
    /// Bytes at the log's start handed to the journal and not yet removed.
    qint64 m_taken = 0;
    /// Whether the journal has written everything handed to it.
    bool m_written = true;
};
