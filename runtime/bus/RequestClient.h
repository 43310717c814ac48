#pragma once

#include "BusReply.h"
#include "BusRequest.h"
#include "KalvoraTopics.h"
#include "MqttClient.h"

#include <QHash>
#include <QObject>
#include <QPointer>

#include <functional>

class QTimer;

/// \brief A station's requests to the server (PROTOCOL.md): each one goes out with the station's
/// response topic and its own correlation data, and gets exactly one answer: the server's, or a
/// failure when there is no server to ask or it does not answer in time.
class RequestClient final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RequestClient)

public:
    using Answer = std::function<void(const BusReply& reply)>;
    /// A command the server refused for want of a role (its answer has "signIn"): `resend` sends it
    /// again, with the session held then, to the same answer.
    using SignInNeeded = std::function<void(const BusReply& refusal, const std::function<void()>& resend)>;
    /// A message of the server's own (no correlation data, an "event" field).
    using EventHandler = std::function<void(const QJsonObject& event)>;

    static constexpr int DefaultTimeoutMs = 10000;

    RequestClient(MqttClient& client, const KalvoraTopics& topics, QString station, QObject* parent);

    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    /// While false every request fails at once: the server is not there to take it.
    void setAvailable(bool available) { m_available = available; }
    QString responseTopic() const { return m_topics.response(m_station); }
    /// The session token every later request carries; empty: none.
    void setSession(const QString& token) { m_session = token; }
    void setSignInHandler(SignInNeeded handler) { m_signInNeeded = std::move(handler); }
    void setEventHandler(EventHandler handler) { m_event = std::move(handler); }

    /// `answer` runs once, never inside this call, and not at all when `context` is gone by then.
    void send(const BusRequest& request, QObject* context, Answer answer);
    /// Takes the message if it is an answer to this station: true then.
    bool handle(const MqttMessage& message);
    /// Every request still waiting fails with `reason` (the link is gone: its answer will not come).
    void failAll(const QString& reason);

    static QString noServer() { return QStringLiteral("no connection to the server"); }
    static QString noAnswer() { return QStringLiteral("the server did not answer"); }

private:
    struct Pending {
        QPointer<QObject> context;
        Answer answer;
        QTimer* timer = nullptr;
        BusRequest request;
    };
    void finish(const QByteArray& correlation, const BusReply& reply);

    MqttClient& m_client;
    KalvoraTopics m_topics;
    QString m_station;
    int m_timeoutMs = DefaultTimeoutMs;
    bool m_available = false;
    /// Random per client: another client on the same response topic (a tool with the station's log-in)
    /// never takes this one's answers for its own, nor this one its.
    QByteArray m_prefix;
    quint64 m_next = 1;
    QHash<QByteArray, Pending> m_pending;
    QString m_session;
    SignInNeeded m_signInNeeded;
    EventHandler m_event;
};
