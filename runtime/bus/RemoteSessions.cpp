#include "RemoteSessions.h"

#include "BusLog.h"
#include "BusReply.h"
#include "BusRequest.h"
#include "RequestClient.h"

RemoteSessions::RemoteSessions(RequestClient& requests, QObject* parent)
    : SessionLink(parent)
    , m_requests(requests)
{
    m_requests.setSignInHandler([this](const BusReply& refusal, const std::function<void()>& resend) { refused(refusal, resend); });
    m_requests.setEventHandler([this](const QJsonObject& e) { event(e); });
}

void RemoteSessions::serverStatus(bool controlled, qint64 startedMs)
{
    const bool restarted = m_serverStartedMs != 0 && startedMs != m_serverStartedMs;
    m_serverStartedMs = startedMs;
    if (restarted && m_session) {
        drop();
        Q_EMIT sessionEnded(QStringLiteral("the server was restarted"));
    }
    if (controlled != m_controlled) {
        m_controlled = controlled;
        Q_EMIT sessionChanged();
    }
}

void RemoteSessions::signIn(const QString& userName, const QString& password)
{
    if (m_busy) {
        QMetaObject::invokeMethod(this, [this] { Q_EMIT signInFinished(QStringLiteral("a sign-in is being checked; wait for its answer")); },
            Qt::QueuedConnection);
        return;
    }
    m_busy = true;
    BusRequest q;
    q.op = BusRequest::Op::SignIn;
    q.user = userName;
    q.password = password;
    // The held session travels along, so the server unlocks it rather than opening another.
    m_requests.send(q, this, [this](const BusReply& reply) {
        m_busy = false;
        if (!reply.ok)
            return Q_EMIT signInFinished(reply.reason);
        const QString token = reply.fields.value(QStringLiteral("session")).toString();
        const std::optional<Role> role = parseRole(reply.fields.value(QStringLiteral("role")).toString());
        if (token.isEmpty() || !role)
            return Q_EMIT signInFinished(QStringLiteral("the server's answer to the sign-in lacks its session or role"));
        Session s;
        s.token = token.toLatin1();
        s.id = reply.fields.value(QStringLiteral("id")).toString().toLatin1();
        s.userName = reply.fields.value(QStringLiteral("user")).toString();
        s.role = *role;
        m_session = s;
        m_requests.setSession(token);
        Q_EMIT sessionChanged();
        Q_EMIT signInFinished({});
    });
}

void RemoteSessions::signOut()
{
    if (!m_session)
        return;
    BusRequest q;
    q.op = BusRequest::Op::SignOut;
    q.user = m_session->userName;
    // Sent with the session still stamped; the station is signed out whatever the server answers.
    m_requests.send(q, this, [](const BusReply& reply) {
        if (!reply.ok)
            qCInfo(busLog).noquote() << "The server did not take the sign-out:" << reply.reason;
    });
    drop();
}

void RemoteSessions::drop()
{
    m_session.reset();
    m_requests.setSession({});
    Q_EMIT sessionChanged();
}

void RemoteSessions::refused(const BusReply& refusal, const std::function<void()>& resend)
{
    // What the server found of the session the command carried.
    const QString found = refusal.fields.value(QStringLiteral("signIn")).toString();
    if (m_session && found == QLatin1String("none")) {
        drop();
    } else if (m_session && found == QLatin1String("locked") && !m_session->locked) {
        m_session->locked = true;
        Q_EMIT sessionChanged();
    }
    Q_EMIT signInRequired(refusal.reason, resend);
}

void RemoteSessions::event(const QJsonObject& event)
{
    if (!m_session || event.value(QStringLiteral("id")).toString().toLatin1() != m_session->id)
        return;
    const QString what = event.value(QStringLiteral("event")).toString();
    if (what == QLatin1String("sessionLocked") && !m_session->locked) {
        m_session->locked = true;
        Q_EMIT sessionChanged();
    } else if (what == QLatin1String("sessionEnded")) {
        drop();
        Q_EMIT sessionEnded(event.value(QStringLiteral("reason")).toString());
    }
}
