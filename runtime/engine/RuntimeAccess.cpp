#include "RuntimeAccess.h"

#include "Credentials.h"

#include <QDebug>
#include <QDir>

namespace {

const QString Ok = QStringLiteral("ok");
const QString Refused = QStringLiteral("refused");

} // namespace

RuntimeAccess::RuntimeAccess(AccessClock clock, Journal journal, QObject* parent)
    : QObject(parent)
    , m_clock(std::move(clock))
    , m_journal(std::move(journal))
    , m_sessions(std::make_unique<SessionManager>(m_clock))
{
}

RuntimeAccess::~RuntimeAccess() = default;

void RuntimeAccess::clear()
{
    m_rules = AccessRules();
    m_guard.reset();
    m_accounts.reset();
    const bool had = !m_sessions->sessions().isEmpty();
    m_sessions = std::make_unique<SessionManager>(m_clock, m_sessions->idleLockMs());
    if (had)
        Q_EMIT sessionsChanged();
}

QString RuntimeAccess::load(const QString& projectFolder, const QString& dataFolder, const QStringList& variables, const QStringList& groups)
{
    clear();
    AccessRules::Loaded loaded = AccessRules::load(QDir(projectFolder).filePath(AccessRules::fileName()), variables, groups);
    if (!loaded.error.isEmpty())
        return loaded.error;
    if (loaded.rules.isOpen())
        return {};
    // Accounts live with the runtime's data, never in the project: a copied project brings no passwords.
    auto accounts = std::make_unique<AccountStore>(QDir(dataFolder).filePath(AccountStore::fileName()));
    if (const QString error = accounts->load(); !error.isEmpty())
        return error;
    m_rules = std::move(loaded.rules);
    m_sessions->setIdleLockMs(m_rules.idleLockMs());
    m_accounts = std::move(accounts);
    m_guard = std::make_unique<SignInGuard>(*m_accounts, m_clock);
    return {};
}

void RuntimeAccess::reloadAccounts()
{
    if (!m_accounts)
        return;
    if (const QString error = m_accounts->load(); !error.isEmpty()) {
        qWarning().noquote() << "Accounts not read again, the earlier ones stay:" << error;
        return;
    }
    bool changed = false;
    for (const Session& s : m_sessions->sessions()) {
        const Account* account = m_accounts->find(s.userName);
        if (account && account->role == s.role)
            continue;
        const QString reason = account ? QStringLiteral("the account's role changed") : QStringLiteral("the account was removed");
        m_sessions->end(s.id);
        journal(QStringLiteral("session-ended"), s.station, s.userName, {}, Ok, reason);
        Q_EMIT sessionEnded(s.id, s.station, reason);
        changed = true;
    }
    if (changed)
        Q_EMIT sessionsChanged();
}

QString RuntimeAccess::inputFault(const QString& userName, const QString& password)
{
    if (const QString why = Credentials::checkUserName(userName); !why.isEmpty())
        return why;
    // The length first: a pasted megabyte is turned away before anything looks at its content.
    if (password.size() > Credentials::maxPasswordBytes || password.toUtf8().size() > Credentials::maxPasswordBytes)
        return QStringLiteral("the password is longer than %1 bytes").arg(Credentials::maxPasswordBytes);
    if (password.isEmpty())
        return QStringLiteral("the password is empty");
    return {};
}

RuntimeAccess::SignIn RuntimeAccess::signIn(const QString& station, const QString& userName, const QString& password)
{
    SignIn out;
    // A bad name is journalled by its length only: it may hold anything, a password typed in the wrong field too.
    const QString shownName = Credentials::checkUserName(userName).isEmpty() ? userName : QStringLiteral("(%1 characters)").arg(userName.size());
    if (!m_guard) {
        out.error = QStringLiteral("this project has no access control; nobody needs to sign in");
        return out;
    }
    if (const QString fault = inputFault(userName, password); !fault.isEmpty()) {
        out.error = fault;
        journal(QStringLiteral("sign-in-failed"), station, shownName, {}, Refused, fault);
        return out;
    }
    out.result = m_guard->verify(userName, password);
    if (!out.result.ok()) {
        out.error = out.result.message();
        journal(QStringLiteral("sign-in-failed"), station, out.result.userName, {}, Refused,
            out.result.outcome == SignInResult::Outcome::Locked && !out.result.lockedNow ? QStringLiteral("account locked") : QStringLiteral("wrong user name or password"));
        if (out.result.lockedNow)
            journal(QStringLiteral("lock"), station, out.result.userName, out.result.userName, Ok,
                QStringLiteral("%1 failed sign-ins in a row").arg(SignInGuard::failuresBeforeLock));
        return out;
    }
    out.session = m_sessions->open(out.result.userName, out.result.role, station);
    journal(QStringLiteral("sign-in"), station, out.result.userName, roleName(out.result.role), Ok, {});
    Q_EMIT sessionsChanged();
    return out;
}

RuntimeAccess::SignIn RuntimeAccess::unlock(const QString& station, const QByteArray& token, const QString& password)
{
    SignIn out;
    const Session* session = m_sessions->find(token);
    if (!session) {
        out.error = QStringLiteral("the session has ended; sign in again");
        return out;
    }
    const Session held = *session;
    if (const QString fault = inputFault(held.userName, password); !fault.isEmpty()) {
        out.error = fault;
        return out;
    }
    out.result = m_guard->verify(held.userName, password);
    if (!out.result.ok()) {
        out.error = out.result.message();
        journal(QStringLiteral("sign-in-failed"), station, held.userName, {}, Refused, QStringLiteral("wrong password to unlock"));
        if (out.result.lockedNow) {
            m_sessions->close(token);
            journal(QStringLiteral("lock"), station, held.userName, held.userName, Ok,
                QStringLiteral("%1 failed sign-ins in a row").arg(SignInGuard::failuresBeforeLock));
            Q_EMIT sessionsChanged();
        }
        return out;
    }
    m_sessions->resume(token);
    out.session = *m_sessions->find(token);
    journal(QStringLiteral("unlock"), station, held.userName, {}, Ok, {});
    Q_EMIT sessionsChanged();
    return out;
}

bool RuntimeAccess::signOut(const QByteArray& token)
{
    const Session* session = m_sessions->find(token);
    if (!session)
        return false;
    const Session held = *session;
    m_sessions->close(token);
    journal(QStringLiteral("sign-out"), held.station, held.userName, {}, Ok, {});
    Q_EMIT sessionsChanged();
    return true;
}

QString RuntimeAccess::endSession(const QString& station, const QByteArray& token, const QByteArray& id)
{
    const Actor by = actor(station, token);
    const AccessRules::Decision decision = check(AccessRules::Action::EndSession, QString::fromLatin1(id), by, token);
    if (!decision.allowed) {
        journal(QStringLiteral("session-ended"), by.station, by.user, QString::fromLatin1(id), Refused, decision.reason);
        return decision.reason;
    }
    QString owner;
    QString ownerStation;
    for (const Session& s : m_sessions->sessions()) {
        if (s.id == id) {
            owner = s.userName;
            ownerStation = s.station;
        }
    }
    if (!m_sessions->end(id))
        return QStringLiteral("no session \"%1\"").arg(QString::fromLatin1(id));
    const QString reason = QStringLiteral("ended by %1").arg(by.user);
    journal(QStringLiteral("session-ended"), by.station, by.user, owner + QLatin1Char('@') + ownerStation, Ok, reason);
    Q_EMIT sessionEnded(id, ownerStation, reason);
    Q_EMIT sessionsChanged();
    return {};
}

Actor RuntimeAccess::actor(const QString& station, const QByteArray& token, const QString& fallbackUser)
{
    const Session* s = token.isEmpty() ? nullptr : m_sessions->find(token);
    if (!s)
        return {station, fallbackUser, std::nullopt};
    return {station, s->userName, s->locked ? std::nullopt : std::optional<Role>(s->role)};
}

AccessRules::Decision RuntimeAccess::check(AccessRules::Action action, const QString& target, const Actor& actor, const QByteArray& token)
{
    if (m_rules.isOpen())
        return {true, {}, {}};
    AccessRules::Decision decision = m_rules.check(action, target, actor.role);
    if (decision.allowed && !token.isEmpty())
        m_sessions->operate(token);
    return decision;
}

void RuntimeAccess::sweep()
{
    const SessionManager::Sweep changes = m_sessions->sweep();
    for (const Session& s : changes.locked)
        journal(QStringLiteral("lock"), s.station, s.userName, {}, Ok, QStringLiteral("idle for %1 min").arg(m_sessions->idleLockMs() / 60000));
    for (const Session& s : changes.expired) {
        journal(QStringLiteral("session-ended"), s.station, s.userName, {}, Ok, QStringLiteral("the session's age limit"));
        Q_EMIT sessionEnded(s.id, s.station, QStringLiteral("the session's age limit"));
    }
    if (!changes.locked.isEmpty() || !changes.expired.isEmpty())
        Q_EMIT sessionsChanged();
}

void RuntimeAccess::journal(const QString& action, const QString& station, const QString& user, const QString& target, const QString& result,
    const QString& reason)
{
    if (m_journal)
        m_journal(AuditEntry{0, m_clock(), station, user, action, target, {}, {}, result, reason, {}});
}
