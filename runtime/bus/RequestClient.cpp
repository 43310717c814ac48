#include "RequestClient.h"

#include "BusLog.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTimer>

RequestClient::RequestClient(MqttClient& client, const KalvoraTopics& topics, QString station, QObject* parent)
    : QObject(parent)
    , m_client(client)
    , m_topics(topics)
    , m_station(std::move(station))
    , m_prefix(QByteArray::number(QRandomGenerator::system()->generate64(), 16) + ':')
{
}

void RequestClient::send(const BusRequest& request, QObject* context, Answer answer)
{
    const QByteArray correlation = m_prefix + QByteArray::number(m_next++);
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    BusRequest stamped = request;
    stamped.session = m_session;
    m_pending.insert(correlation, {context ? QPointer<QObject>(context) : QPointer<QObject>(this), std::move(answer), timer, request});
    if (!m_available || !m_client.isConnected()
        || m_client.publish({m_topics.request(m_station), stamped.toJson(), 1, false, responseTopic(), correlation}) < 0) {
        // Failed at once, but answered from the event loop as a real answer would be.
        connect(timer, &QTimer::timeout, this, [this, correlation] { finish(correlation, BusReply::refused(noServer())); });
        timer->start(0);
        return;
    }
    connect(timer, &QTimer::timeout, this, [this, correlation] { finish(correlation, BusReply::refused(noAnswer())); });
    timer->start(m_timeoutMs);
}

bool RequestClient::handle(const MqttMessage& message)
{
    if (message.topic != responseTopic())
        return false;
    if (message.correlationData.isEmpty()) {
        // An event is small; anything large here is not one.
        const QJsonObject event = message.payload.size() <= 4096 ? QJsonDocument::fromJson(message.payload).object() : QJsonObject();
        if (event.value(QStringLiteral("event")).isString()) {
            if (m_event)
                m_event(event);
        } else {
            qCWarning(busLog).noquote() << QStringLiteral("Message on %1 dropped: neither an answer nor an event").arg(message.topic);
        }
        return true;
    }
    if (!m_pending.contains(message.correlationData)) {
        qCInfo(busLog).noquote() << QStringLiteral("Answer on %1 dropped: no request waits for it (late or unknown)").arg(message.topic);
        return true;
    }
    const auto reply = BusReply::parse(message.payload);
    if (!reply.ok()) {
        qCWarning(busLog).noquote() << QStringLiteral("Answer on %1 dropped: %2").arg(message.topic, reply.error);
        finish(message.correlationData, BusReply::refused(QStringLiteral("the server's answer was malformed: %1").arg(reply.error)));
        return true;
    }
    finish(message.correlationData, *reply.value);
    return true;
}

void RequestClient::failAll(const QString& reason)
{
    const QList<QByteArray> keys = m_pending.keys();
    for (const QByteArray& key : keys) {
        // Answered from the event loop, as every failure is.
        Pending& p = m_pending[key];
        p.timer->disconnect(this);
        connect(p.timer, &QTimer::timeout, this, [this, key, reason] { finish(key, BusReply::refused(reason)); });
        p.timer->start(0);
    }
}

void RequestClient::finish(const QByteArray& correlation, const BusReply& reply)
{
    const auto it = m_pending.find(correlation);
    if (it == m_pending.end())
        return;
    const Pending pending = *it;
    m_pending.erase(it);
    pending.timer->deleteLater();
    if (!pending.context)
        return;
    pending.answer(reply);
    if (!reply.ok && reply.fields.contains(QStringLiteral("signIn")) && m_signInNeeded) {
        const QPointer<RequestClient> self(this);
        m_signInNeeded(reply, [self, pending] {
            if (self && pending.context)
                self->send(pending.request, pending.context, pending.answer);
        });
    }
}
