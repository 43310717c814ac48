#pragma once

#include "Account.h"
#include "PasswordHasher.h"

#include <QJsonObject>
#include <QList>
#include <QString>

/// \brief The operator accounts of one runtime, kept in a JSON file in the runtime's data folder
/// (never in the project). The file is written whole and atomically, readable by its owner only, and a
/// damaged or hand-edited file is refused whole with the file, field and reason. Every change is made
/// under the file's lock to the file as it is then (read afresh), and saved at once, so the engineer's
/// tool and a running runtime never undo each other's changes; a change the file refuses is taken back
/// (sign-in counters excepted). Errors come back as text, empty on success.
class AccountStore final {
public:
    static constexpr int fileFormat = 1;
    static constexpr qint64 maxFileBytes = 4 * 1024 * 1024;
    /// How long a change waits for another program's lock on the file.
    static constexpr int lockWaitMs = 5000;
    static QString fileName() { return QStringLiteral("accounts.json"); }

    /// `path`: the accounts file; `hasher`: the cost of new password hashes.
    explicit AccountStore(QString path, PasswordHasher hasher = PasswordHasher{});

    /// Reads the file; a missing file is an empty store. On error the store keeps what it held.
    QString load();
    QString save() const;

    const QString& path() const { return m_path; }
    const QList<Account>& accounts() const { return m_accounts; }
    /// The account of that user name (case does not count), or null.
    const Account* find(const QString& userName) const;

    QString add(const QString& userName, const QString& fullName, Role role, const QString& password);
    QString remove(const QString& userName);
    QString setRole(const QString& userName, Role role);
    QString setFullName(const QString& userName, const QString& fullName);
    QString resetPassword(const QString& userName, const QString& password);
    /// Clears the failed sign-ins and the lock.
    QString unlock(const QString& userName);
    /// Stores the sign-in counters of an account (SignInGuard's bookkeeping); unlike the other
    /// changes, kept in memory even when the file cannot be written.
    QString setSignInState(const QString& userName, int failedSignIns, qint64 lockedUntilMs);

    const PasswordHasher& hasher() const { return m_hasher; }

private:
    Account* findMutable(const QString& userName);
    /// Under the file's lock: reads the file afresh, runs `apply` and saves; takes the change back if
    /// `apply` or saving fails.
    template <class Apply>
    QString update(Apply&& apply);
    /// Applies `change` to the named account, as update() does.
    template <class Change>
    QString change(const QString& userName, Change&& change);
    QString parse(const QJsonObject& root, QList<Account>* accounts) const;

    QString m_path;
    PasswordHasher m_hasher;
    QList<Account> m_accounts;
};
