#include "SessionManager.h"

#include "AccessLog.h"
#include "Crypto.h"

#include <utility>

namespace {

constexpr int tokenBytes = 32;
constexpr int idBytes = 8;

} // namespace

SessionManager::SessionManager(AccessClock clock, qint64 idleLockMs, qint64 maxAgeMs)
    : m_clock(std::move(clock))
    , m_idleLockMs(idleLockMs)
    , m_maxAgeMs(maxAgeMs)
{
}

const Session& SessionManager::open(const QString& userName, Role role, const QString& station)
{
    const qint64 now = m_clock();
    Session s;
    s.id = Crypto::randomHex(idBytes);
    s.token = Crypto::randomHex(tokenBytes);
    s.userName = userName;
    s.role = role;
    s.station = station;
    s.issuedMs = now;
    s.lastActivityMs = now;
    m_sessions.append(s);
    qCInfo(lcAccess) << "session" << s.id << "opened for" << userName << "at" << station;
    return m_sessions.last();
}

qsizetype SessionManager::indexOf(const QByteArray& token) const
{
    // Every session is compared, each in constant time, so the time taken tells nothing about how
    // close a guessed token came.
    qsizetype found = -1;
    for (qsizetype i = 0; i < m_sessions.size(); ++i) {
        if (Crypto::equal(m_sessions.at(i).token, token))
            found = i;
    }
    return found;
}

void SessionManager::apply()
{
    const qint64 now = m_clock();
    for (qsizetype i = m_sessions.size() - 1; i >= 0; --i) {
        Session& s = m_sessions[i];
        if (now - s.issuedMs >= m_maxAgeMs) {
            m_pending.expired.append(s);
            m_pending.expired.last().token.clear();
            m_sessions.removeAt(i);
        } else if (!s.locked && now - s.lastActivityMs >= m_idleLockMs) {
            s.locked = true;
            m_pending.locked.append(s);
            m_pending.locked.last().token.clear();
        }
    }
}

SessionManager::Sweep SessionManager::sweep()
{
    apply();
    return std::exchange(m_pending, Sweep{});
}

const Session* SessionManager::find(const QByteArray& token)
{
    apply();
    const qsizetype i = indexOf(token);
    return i < 0 ? nullptr : &m_sessions.at(i);
}

SessionManager::State SessionManager::state(const QByteArray& token)
{
    const Session* s = find(token);
    return !s ? State::Unknown : s->locked ? State::Locked : State::Active;
}

bool SessionManager::operate(const QByteArray& token)
{
    if (state(token) != State::Active)
        return false;
    m_sessions[indexOf(token)].lastActivityMs = m_clock();
    return true;
}

bool SessionManager::resume(const QByteArray& token)
{
    if (!find(token))
        return false;
    Session& s = m_sessions[indexOf(token)];
    s.locked = false;
    s.lastActivityMs = m_clock();
    return true;
}

bool SessionManager::close(const QByteArray& token)
{
    const qsizetype i = indexOf(token);
    if (i < 0)
        return false;
    m_sessions.removeAt(i);
    return true;
}

bool SessionManager::end(const QByteArray& id)
{
    for (qsizetype i = 0; i < m_sessions.size(); ++i) {
        if (m_sessions.at(i).id == id) {
            qCInfo(lcAccess) << "session" << id << "of" << m_sessions.at(i).userName << "ended";
            m_sessions.removeAt(i);
            return true;
        }
    }
    return false;
}

QList<Session> SessionManager::sessions() const
{
    QList<Session> list = m_sessions;
    for (Session& s : list)
        s.token.clear();
    return list;
}
