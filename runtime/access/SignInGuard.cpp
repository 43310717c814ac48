#include "SignInGuard.h"

#include "AccessLog.h"
#include "AccountStore.h"
#include "Credentials.h"
#include "Crypto.h"

#include <QDateTime>

#include <algorithm>

QString SignInResult::message() const
{
    switch (outcome) {
    case Outcome::SignedIn: return {};
    case Outcome::Wrong:
    case Outcome::Unknown: return QStringLiteral("Wrong user name or password.");
    case Outcome::Locked: break;
    }
    return QStringLiteral("Too many failed sign-ins: signing in is locked until %1.")
        .arg(QDateTime::fromMSecsSinceEpoch(lockedUntilMs).toString(QStringLiteral("HH:mm:ss")));
}

SignInGuard::SignInGuard(AccountStore& store, AccessClock clock, qint64 lockMs)
    : m_store(store)
    , m_clock(std::move(clock))
    , m_lockMs(lockMs)
{
}

const QByteArray& SignInGuard::decoyHash()
{
    if (m_decoyHash.isEmpty())
        m_decoyHash = m_store.hasher().hash(QString::fromLatin1(Crypto::randomHex(16)));
    return m_decoyHash;
}

SignInResult SignInGuard::verify(const QString& userName, const QString& password)
{
    const Attempt attempt = begin(userName, password);
    if (attempt.decided)
        return *attempt.decided;
    return finish(attempt, attempt.check && PasswordHasher::verify(attempt.hash, password));
}

SignInGuard::Attempt SignInGuard::begin(const QString& userName, const QString& password)
{
    Attempt attempt;
    attempt.userName = userName;
    // An oversized password is a failure like any other, only without the cost of hashing it.
    attempt.check = password.size() <= Credentials::maxPasswordBytes;
    const qint64 now = m_clock();
    if (now - m_windowStartMs >= windowMs) {
        m_windowStartMs = now;
        m_windowFailures = 0;
    }
    SignInResult locked;
    locked.outcome = SignInResult::Outcome::Locked;
    locked.userName = userName;
    if (m_windowFailures >= maxFailuresPerWindow) {
        locked.lockedUntilMs = m_windowStartMs + windowMs;
        attempt.decided = locked;
        return attempt;
    }
    if (const Account* account = m_store.find(userName)) {
        if (account->lockedUntilMs > now) {
            locked.userName = account->userName;
            locked.lockedUntilMs = account->lockedUntilMs;
            attempt.decided = locked;
        }
        attempt.hash = account->passwordHash;
        return attempt;
    }
    const auto counter = m_unknown.constFind(userName.toCaseFolded());
    if (counter != m_unknown.constEnd() && counter->lockedUntilMs > now) {
        locked.lockedUntilMs = counter->lockedUntilMs;
        attempt.decided = locked;
        return attempt;
    }
    // Unknown names cost the same hash as known ones, so timing does not tell which names exist.
    attempt.hash = decoyHash();
    return attempt;
}

SignInResult SignInGuard::finish(const Attempt& attempt, bool match)
{
    const qint64 now = m_clock();
    // Looked up afresh: the account may have changed while the hash was checked.
    const Account* account = m_store.find(attempt.userName);
    if (!account)
        return unknown(attempt.userName, now);
    SignInResult result;
    result.userName = account->userName;
    if (account->lockedUntilMs > now) {
        result.outcome = SignInResult::Outcome::Locked;
        result.lockedUntilMs = account->lockedUntilMs;
        return result;
    }
    if (match && account->passwordHash == attempt.hash) {
        result.outcome = SignInResult::Outcome::SignedIn;
        result.role = account->role;
        if (account->failedSignIns != 0 || account->lockedUntilMs != 0)
            result.saveError = m_store.setSignInState(account->userName, 0, 0);
        return result;
    }
    countFailure();
    const int failures = account->failedSignIns + 1;
    if (failures >= failuresBeforeLock) {
        result.outcome = SignInResult::Outcome::Locked;
        result.lockedUntilMs = now + m_lockMs;
        result.lockedNow = true;
        // The count starts afresh, so the account gets its full number of tries once the lock ends.
        result.saveError = m_store.setSignInState(account->userName, 0, result.lockedUntilMs);
        qCInfo(lcAccess) << "account" << result.userName << "locked after" << failures << "failed sign-ins";
    } else {
        result.outcome = SignInResult::Outcome::Wrong;
        result.saveError = m_store.setSignInState(account->userName, failures, 0);
    }
    if (!result.saveError.isEmpty())
        qCWarning(lcAccess).noquote() << result.saveError;
    return result;
}

void SignInGuard::countFailure()
{
    if (++m_windowFailures == maxFailuresPerWindow)
        qCWarning(lcAccess) << maxFailuresPerWindow << "failed sign-ins within" << windowMs / 1000 << "s: every sign-in refused until"
                            << QDateTime::fromMSecsSinceEpoch(m_windowStartMs + windowMs).toString(Qt::ISODate);
}

SignInResult SignInGuard::unknown(const QString& userName, qint64 now)
{
    SignInResult result;
    result.userName = userName;
    const QString key = userName.toCaseFolded();
    Counter& counter = m_unknown[key];
    counter.order = ++m_order;
    if (counter.lockedUntilMs > now) {
        result.outcome = SignInResult::Outcome::Locked;
        result.lockedUntilMs = counter.lockedUntilMs;
        return result;
    }
    countFailure();
    if (++counter.failures >= failuresBeforeLock) {
        counter = Counter{0, now + m_lockMs, counter.order};
        result.outcome = SignInResult::Outcome::Locked;
        result.lockedUntilMs = counter.lockedUntilMs;
        result.lockedNow = true;
    } else {
        result.outcome = SignInResult::Outcome::Unknown;
    }
    if (m_unknown.size() > maxUnknownNames) {
        const auto oldest = std::min_element(m_unknown.begin(), m_unknown.end(), [](const Counter& a, const Counter& b) { return a.order < b.order; });
        m_unknown.erase(oldest);
    }
    return result;
}
