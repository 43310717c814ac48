#include "RuntimeAccess.h"

#include "Credentials.h"
#include "PasswordHasher.h"

#include <QDebug>
#include <QDir>
#include <QPointer>
#include <QThreadPool>

namespace {

const QString Ok = QStringLiteral("ok");
const QString Refused = QStringLiteral("refused");

} // namespace

RuntimeAccess::RuntimeAccess(AccessClock clock, Journal journal, QObject* parent)
    : QObject(parent)
    , m_clock(std::move(clock))
    , m_journal(std::move(journal))
    , m_sessions(std::make_unique<SessionManager>(m_clock))
    , m_pool(new QThreadPool(this))
{
    // Each check holds 64 MiB for a tenth of a second: two at a time bound the memory.
    m_pool->setMaxThreadCount(2);
}

RuntimeAccess::~RuntimeAccess()
{
    m_pool->waitForDone();
}

void RuntimeAccess::clear()
{
    ++m_generation;
    m_verifying.clear();
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

std::optional<RuntimeAccess::SignIn> RuntimeAccess::begin(Attempt& attempt, const QString& password)
{
    SignIn out;
    if (!m_guard) {
        out.error = QStringLiteral("this project has no access control; nobody needs to sign in");
        return out;
    }
    if (!attempt.token.isEmpty()) {
        const Session* session = m_sessions->find(attempt.token);
        if (!session) {
            out.error = QStringLiteral("the session has ended; sign in again");
            return out;
        }
        attempt.userName = session->userName;
        if (const QString fault = inputFault(attempt.userName, password); !fault.isEmpty()) {
            out.error = fault;
            return out;
        }
    } else if (const QString fault = inputFault(attempt.userName, password); !fault.isEmpty()) {
        // A bad name is journalled by its length only: it may hold anything, a password typed in the wrong field too.
        const QString shownName = Credentials::checkUserName(attempt.userName).isEmpty() ? attempt.userName
                                                                                        : QStringLiteral("(%1 characters)").arg(attempt.userName.size());
        out.error = fault;
        journal(QStringLiteral("sign-in-failed"), attempt.station, shownName, {}, Refused, fault);
        return out;
    }
    attempt.guard = m_guard->begin(attempt.userName, password);
    if (attempt.guard.decided)
        return conclude(attempt, *attempt.guard.decided);
    return std::nullopt;
}

RuntimeAccess::SignIn RuntimeAccess::conclude(const Attempt& attempt, const SignInResult& result)
{
    SignIn out;
    out.result = result;
    out.resumed = !attempt.token.isEmpty();
    const QString& station = attempt.station;
    if (!result.ok()) {
        out.error = result.message();
        const QString why = out.resumed ? QStringLiteral("wrong password to unlock")
            : result.outcome == SignInResult::Outcome::Locked && !result.lockedNow ? QStringLiteral("account locked")
                                                                                    : QStringLiteral("wrong user name or password");
        journal(QStringLiteral("sign-in-failed"), station, result.userName, {}, Refused, why);
        if (result.lockedNow) {
            const bool closed = out.resumed && m_sessions->close(attempt.token);
            journal(QStringLiteral("lock"), station, result.userName, result.userName, Ok,
                QStringLiteral("%1 failed sign-ins in a row").arg(SignInGuard::failuresBeforeLock));
            if (closed)
                Q_EMIT sessionsChanged();
        }
        return out;
    }
    if (out.resumed) {
        // The session may have ended (age, an administrator) while the password was checked.
        if (!m_sessions->find(attempt.token)) {
            out.error = QStringLiteral("the session has ended; sign in again");
            return out;
        }
        m_sessions->resume(attempt.token);
        out.session = *m_sessions->find(attempt.token);
        journal(QStringLiteral("unlock"), station, result.userName, {}, Ok, {});
    } else {
        out.session = m_sessions->open(result.userName, result.role, station);
        journal(QStringLiteral("sign-in"), station, result.userName, roleName(result.role), Ok, {});
    }
    Q_EMIT sessionsChanged();
    return out;
}

RuntimeAccess::SignIn RuntimeAccess::signIn(const QString& station, const QString& userName, const QString& password)
{
    Attempt attempt{station, userName, {}, {}};
    if (std::optional<SignIn> decided = begin(attempt, password))
        return *decided;
    return conclude(attempt, m_guard->finish(attempt.guard, attempt.guard.check && PasswordHasher::verify(attempt.guard.hash, password)));
}

RuntimeAccess::SignIn RuntimeAccess::unlock(const QString& station, const QByteArray& token, const QString& password)
{
    if (token.isEmpty())
        return SignIn{{}, {}, QStringLiteral("the session has ended; sign in again"), false};
    Attempt attempt{station, {}, token, {}};
    if (std::optional<SignIn> decided = begin(attempt, password))
        return *decided;
    return conclude(attempt, m_guard->finish(attempt.guard, attempt.guard.check && PasswordHasher::verify(attempt.guard.hash, password)));
}

void RuntimeAccess::signInLater(const QString& station, const QString& userName, const QString& password, const QByteArray& heldToken,
    QObject* context, SignInDone done)
{
    const auto deliver = [guard = QPointer<QObject>(context), done = std::move(done)](const SignIn& result) {
        if (guard)
            done(result);
    };
    const Session* held = heldToken.isEmpty() ? nullptr : m_sessions->find(heldToken);
    const bool resume = held && held->locked && Credentials::sameUser(held->userName, userName);
    Attempt attempt{station, userName, resume ? heldToken : QByteArray(), {}};
    std::optional<SignIn> decided;
    if (m_verifying.contains(station))
        decided = SignIn{{}, {}, QStringLiteral("a sign-in from this station is being checked; wait for its answer"), false};
    else
        decided = begin(attempt, password);
    if (decided) {
        QMetaObject::invokeMethod(this, [deliver, result = *decided] { deliver(result); }, Qt::QueuedConnection);
        return;
    }
    m_verifying.insert(station);
    const auto checked = [this, attempt, deliver, generation = m_generation](bool match) {
        if (generation != m_generation) {
            deliver(SignIn{{}, {}, QStringLiteral("the accounts were loaded anew meanwhile; sign in again"), false});
            return;
        }
        m_verifying.remove(attempt.station);
        deliver(conclude(attempt, m_guard->finish(attempt.guard, match)));
    };
    // `this` outlives the job: the destructor waits for the pool.
    m_pool->start([this, checked, hash = attempt.guard.hash, password, check = attempt.guard.check] {
        const bool match = check && PasswordHasher::verify(hash, password);
        QMetaObject::invokeMethod(this, [checked, match] { checked(match); }, Qt::QueuedConnection);
    });
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
    for (const Session& s : changes.locked) {
        journal(QStringLiteral("lock"), s.station, s.userName, {}, Ok, QStringLiteral("idle for %1 min").arg(m_sessions->idleLockMs() / 60000));
        Q_EMIT sessionLocked(s.id, s.station);
    }
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
