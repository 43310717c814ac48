#pragma once

#include "Clock.h"
#include "Role.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>

class AccountStore;

/// What one sign-in attempt came to.
struct SignInResult {
    enum class Outcome { SignedIn, Wrong, Unknown, Locked };
    Outcome outcome = Outcome::Wrong;
    QString userName;         ///< as the account spells it when known, else as typed
    Role role = Role::Viewer; ///< when signed in
    qint64 lockedUntilMs = 0; ///< when locked
    bool lockedNow = false;   ///< this attempt locked the account (worth a journal row of its own)
    QString saveError;        ///< the accounts file refused the new counters; the outcome stands

    bool ok() const { return outcome == Outcome::SignedIn; }
    /// The text for the person at the keyboard: a wrong password and an unknown user read the same.
    QString message() const;
};

/// \brief Checks user name and password against the account store and locks an account after
/// failuresBeforeLock failed sign-ins in a row. Once locked, attempts are refused without hashing, so a
/// script hammering the sign-in costs next to nothing. Unknown user names are counted and locked alike
/// (in memory) and cost the same hash as a known one, so answers and timing do not tell which names exist.
/// A script that tries ever new names meets a limit for the whole guard: after maxFailuresPerWindow
/// failed sign-ins within windowMs every attempt is refused unhashed until the window ends, so the
/// hashing never takes more than a few per cent of the thread the screens run on.
class SignInGuard final {
public:
    static constexpr int failuresBeforeLock = 5;
    static constexpr qint64 defaultLockMs = 15 * 60 * 1000;
    /// Unknown names remembered at most; beyond it the oldest counts are dropped.
    static constexpr int maxUnknownNames = 1024;
    static constexpr int maxFailuresPerWindow = 30;
    static constexpr qint64 windowMs = 60 * 1000;

    SignInGuard(AccountStore& store, AccessClock clock, qint64 lockMs = defaultLockMs);
    SignInGuard(const SignInGuard&) = delete;
    SignInGuard& operator=(const SignInGuard&) = delete;

    SignInResult verify(const QString& userName, const QString& password);

    /// One attempt in two halves, so the hash can be checked away from the thread that counts:
    /// begin() decides at once what needs no hash (locked, over the limit); otherwise it names the hash
    /// to check the password against, and finish() counts what the check found.
    struct Attempt {
        std::optional<SignInResult> decided;
        QString userName; ///< as typed
        QByteArray hash;  ///< the account's hash, or the decoy for an unknown name
        bool check = true; ///< false for an oversized password: a failure without hashing
    };
    Attempt begin(const QString& userName, const QString& password);
    SignInResult finish(const Attempt& attempt, bool match);

    qint64 lockMs() const { return m_lockMs; }

private:
    struct Counter {
        int failures = 0;
        qint64 lockedUntilMs = 0;
        quint64 order = 0;
    };
    SignInResult unknown(const QString& userName, qint64 now);
    /// Counts one hashed failure towards the guard-wide limit.
    void countFailure();
    const QByteArray& decoyHash();

    AccountStore& m_store;
    AccessClock m_clock;
    qint64 m_lockMs;
    QHash<QString, Counter> m_unknown; ///< by case-folded name
    quint64 m_order = 0;
    qint64 m_windowStartMs = 0;
    int m_windowFailures = 0;
    QByteArray m_decoyHash;
};
