#pragma once

#include "Clock.h"
#include "Session.h"

#include <QList>

/// \brief The sessions a runtime has issued. A session locks after idleLockMs without activity (it
/// still names its user, so the screens show who is signed in, but permits nothing until the password
/// is given again) and ends maxAgeMs after it was issued. Tokens are compared in constant time.
class SessionManager final {
public:
    static constexpr qint64 defaultIdleLockMs = 15 * 60 * 1000;
    static constexpr qint64 defaultMaxAgeMs = 12 * 60 * 60 * 1000;

    enum class State { Unknown, Active, Locked };

    explicit SessionManager(AccessClock clock, qint64 idleLockMs = defaultIdleLockMs, qint64 maxAgeMs = defaultMaxAgeMs);

    /// Issues a session for a user whose password has just been checked.
    const Session& open(const QString& userName, Role role, const QString& station);
    /// The session of `token` after applying the idle lock and the age limit, or null when unknown or
    /// ended. The result stays valid until the next call that changes the sessions.
    const Session* find(const QByteArray& token);
    State state(const QByteArray& token);
    /// Whether the session may operate now; an active session counts this as activity.
    bool operate(const QByteArray& token);
    /// Clears the idle lock after the session's user has given the password again.
    bool resume(const QByteArray& token);
    /// Sign-out by the session's own token.
    bool close(const QByteArray& token);
    /// Ends a session by its public id (an administrator ending another station's session).
    bool end(const QByteArray& id);

    /// Locks idle sessions and drops expired ones; returns what changed since the last sweep, for the
    /// journal: sessions newly locked and sessions that ended by age. Changes that a look-up applied
    /// in between are reported here too.
    struct Sweep {
        QList<Session> locked;
        QList<Session> expired;
    };
    Sweep sweep();

    /// All sessions, tokens left out.
    QList<Session> sessions() const;

    qint64 idleLockMs() const { return m_idleLockMs; }
    void setIdleLockMs(qint64 ms) { m_idleLockMs = ms; }

private:
    /// Applies the idle lock and the age limit as of now, noting each change for sweep().
    void apply();
    qsizetype indexOf(const QByteArray& token) const;

    AccessClock m_clock;
    qint64 m_idleLockMs;
    qint64 m_maxAgeMs;
    QList<Session> m_sessions;
    Sweep m_pending;
};
