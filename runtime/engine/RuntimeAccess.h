#pragma once

#include "AccessRules.h"
#include "AccountStore.h"
#include "AuditJournal.h"
#include "SessionManager.h"
#include "SignInGuard.h"

#include <QObject>
#include <QSet>

class QThreadPool;

#include <functional>
#include <memory>
#include <optional>

/// Who carries out an action: the station and user written into the journals, and the role the action
/// is checked against (none: nobody signed in, or the session is locked).
struct Actor {
    QString station;
    QString user;
    std::optional<Role> role;
};

/// \brief A runtime's access layer: the project's rules (access.json; without it everything is open, as
/// before), the accounts of the runtime's data folder, sign-in with its failure lock, and the sessions
/// with their idle lock. Every access event (sign-in, failed sign-in, lock, unlock, sign-out, session
/// ended) goes to the journal handed in. The runtime that executes an action asks check(): the
/// embedded station's runtime for its own screens, the server for every station's requests.
class RuntimeAccess final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RuntimeAccess)

public:
    using Journal = std::function<void(const AuditEntry&)>;

    RuntimeAccess(AccessClock clock, Journal journal, QObject* parent);
    ~RuntimeAccess() override;

    /// Reads the project's rules and, when there are any, the accounts; empty on success, otherwise
    /// the fault with file, place and reason. Sessions of an earlier project end.
    QString load(const QString& projectFolder, const QString& dataFolder, const QStringList& variables, const QStringList& groups);
    /// Back to open rules, no accounts, no sessions.
    void clear();
    /// Reads the accounts file afresh, changed beside the running runtime: a new account can sign in,
    /// a removed one cannot, a new password counts. Sessions of an account removed or given another
    /// role end (journalled). A file that cannot be read leaves the accounts as they were.
    void reloadAccounts();

    bool isOpen() const { return m_rules.isOpen(); }
    const AccessRules& rules() const { return m_rules; }
    SessionManager& sessions() { return *m_sessions; }
    /// Null while the project runs open.
    AccountStore* accounts() { return m_accounts.get(); }

    struct SignIn {
        SignInResult result;
        Session session; ///< with its token, when signed in
        QString error;   ///< why refused, for the person at the keyboard; empty when signed in
        bool resumed = false; ///< an idle-locked session was unlocked rather than a new one opened
    };
    using SignInDone = std::function<void(const SignIn& result)>;
    /// Checks the password and opens a session for `station`. Refused at once, unhashed, for a bad user
    /// name or an oversized password. Journalled either way.
    SignIn signIn(const QString& station, const QString& userName, const QString& password);
    /// Signs the session of `token` in again after its idle lock; journalled as "unlock".
    SignIn unlock(const QString& station, const QByteArray& token, const QString& password);
    /// Signs in as signIn() does, or in again as unlock() does when `heldToken` is `userName`'s
    /// idle-locked session, with the password's hash checked on a worker thread: the thread that serves
    /// screens or requests goes on meanwhile. `done` runs later on this object's thread, never inside
    /// this call, and not at all once `context` is gone. While one attempt of `station` is checked, the
    /// next is refused at once.
    void signInLater(const QString& station, const QString& userName, const QString& password, const QByteArray& heldToken,
        QObject* context, SignInDone done);
    /// Whether an attempt of `station` is being checked.
    bool isVerifying(const QString& station) const { return m_verifying.contains(station); }
    /// Ends the session of `token`, its owner signing out; false when there was none.
    bool signOut(const QByteArray& token);
    /// An administrator's session (`token`, at `station`) ends the session `id` of any station: empty
    /// when done, otherwise why not (journalled either way).
    QString endSession(const QString& station, const QByteArray& token, const QByteArray& id);

    /// Who acts with the session of `token` at `station`: its user and role, no role while locked; an
    /// unknown token, or none, gives the user `fallbackUser` with no role.
    Actor actor(const QString& station, const QByteArray& token, const QString& fallbackUser = {});
    /// Whether `actor` may do `action` on `target`. An allowed action counts as the session's activity.
    AccessRules::Decision check(AccessRules::Action action, const QString& target, const Actor& actor, const QByteArray& token = {});

    /// Applies the idle lock and the age limit and journals what changed.
    void sweep();

Q_SIGNALS:
    /// A session was opened, locked, unlocked or ended.
    void sessionsChanged();
    /// The session `id` ended by another's hand or by age (the station that holds it hears of it).
    void sessionEnded(const QByteArray& id, const QString& station, const QString& reason);
    /// The session `id` locked after its idle time (the station that holds it hears of it).
    void sessionLocked(const QByteArray& id, const QString& station);

private:
    /// One attempt between its checks on this thread and the hash on a worker.
    struct Attempt {
        QString station;
        QString userName;
        QByteArray token; ///< the session to unlock; empty for a new sign-in
        SignInGuard::Attempt guard;
    };
    /// What needs no hash: the input, the locks, the guard's limits. Decided: the result; otherwise
    /// `attempt` names the hash to check.
    std::optional<SignIn> begin(Attempt& attempt, const QString& password);
    /// Counts the hash check's finding, opens or unlocks the session, journals either way.
    SignIn conclude(const Attempt& attempt, const SignInResult& result);
    void journal(const QString& action, const QString& station, const QString& user, const QString& target, const QString& result,
        const QString& reason);
    /// Refuses what must never reach the hash: a bad user name or an oversized or empty password.
    static QString inputFault(const QString& userName, const QString& password);

    AccessClock m_clock;
    Journal m_journal;
    AccessRules m_rules;
    std::unique_ptr<AccountStore> m_accounts;
    std::unique_ptr<SignInGuard> m_guard;
    std::unique_ptr<SessionManager> m_sessions;
    QSet<QString> m_verifying;
    /// Counts reloads: an answer of the hash check that outlived its accounts is dropped.
    quint64 m_generation = 0;
    QThreadPool* m_pool;
};
