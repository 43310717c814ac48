#pragma once

#include "SessionLink.h"

#include <QJsonObject>

#include <optional>

class BusReply;
class RequestClient;

/// \brief A station's sign-in at its server (PROTOCOL.md: signIn, signOut, the sessionEnded event):
/// the session the server issues is kept in memory only and stamped on every later request; a command
/// the server refuses for want of a role asks for a sign-in and is sent again once signed in.
class RemoteSessions final : public SessionLink {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RemoteSessions)

public:
    RemoteSessions(RequestClient& requests, QObject* parent);

    /// What the server's status says; a server that started anew knows no session of before.
    void serverStatus(bool controlled, qint64 startedMs);

    bool isControlled() const override { return m_controlled; }
    const Session* session() const override { return m_session ? &*m_session : nullptr; }
    void signIn(const QString& userName, const QString& password) override;
    void signOut() override;

private:
    void refused(const BusReply& refusal, const std::function<void()>& resend);
    void event(const QJsonObject& event);
    void drop();

    RequestClient& m_requests;
    std::optional<Session> m_session;
    bool m_controlled = false;
    bool m_busy = false;
    qint64 m_serverStartedMs = 0;
};
