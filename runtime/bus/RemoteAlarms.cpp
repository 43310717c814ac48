#include "RemoteAlarms.h"

#include "AlarmEngine.h"
#include "AlarmPublisher.h"
#include "BusLog.h"
#include "BusRequest.h"
#include "RequestClient.h"

RemoteAlarms::RemoteAlarms(AlarmEngine& alarms, RequestClient& requests, const KalvoraTopics& topics, std::function<QString()> user,
                           QObject* parent)
    : QObject(parent)
    , m_alarms(alarms)
    , m_requests(requests)
    , m_topics(topics)
    , m_user(std::move(user))
{
    // The server leaves out alarms whose id cannot be a topic level; they are not waited for.
    for (const AlarmDefinition& def : alarms.definitions())
        m_expected += KalvoraTopics::isValidLevel(def.id);
}

bool RemoteAlarms::handle(const MqttMessage& message)
{
    const QString id = m_topics.alarmOf(message.topic);
    if (id.isEmpty())
        return false;
    const auto drop = [&](const QString& reason) {
        qCWarning(busLog).noquote() << QStringLiteral("Alarm state on %1 dropped: %2").arg(message.topic, reason);
    };
    const auto state = AlarmPublisher::parse(message.payload);
    if (!state.ok())
        drop(state.error);
    else if (state.value->id != id)
        drop(QStringLiteral("it names the alarm \"%1\"").arg(state.value->id));
    else if (!m_alarms.applyState(*state.value))
        drop(QStringLiteral("this station's project has no alarm \"%1\"").arg(id));
    else
        m_seen.insert(id);
    return true;
}

void RemoteAlarms::command(BusRequest::Op op, const QString& what, const std::function<void(BusRequest&)>& fill)
{
    BusRequest q;
    q.op = op;
    q.user = m_user();
    fill(q);
    // The new state comes back as the alarm's retained message; only a failure needs telling.
    m_requests.send(q, this, [this, what](const BusReply& reply) {
        if (!reply.ok)
            m_alarms.reportCommandFailed(what, reply.reason);
    });
}

void RemoteAlarms::acknowledge(const QString& group)
{
    command(BusRequest::Op::Acknowledge, group, [&](BusRequest& q) { q.group = group; });
}

void RemoteAlarms::acknowledgeAlarm(const QString& id)
{
    command(BusRequest::Op::AcknowledgeAlarm, id, [&](BusRequest& q) { q.id = id; });
}

void RemoteAlarms::shelve(const QString& id, qint64 durationMs)
{
    command(BusRequest::Op::Shelve, id, [&](BusRequest& q) {
        q.id = id;
        q.durationMs = durationMs;
    });
}

void RemoteAlarms::unshelve(const QString& id)
{
    command(BusRequest::Op::Unshelve, id, [&](BusRequest& q) { q.id = id; });
}
