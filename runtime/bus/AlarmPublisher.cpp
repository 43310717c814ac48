#include "AlarmPublisher.h"

#include "AlarmEngine.h"
#include "BusJson.h"
#include "BusLog.h"

#include <QJsonObject>

AlarmPublisher::AlarmPublisher(AlarmEngine& alarms, MqttClient& client, const QString& project, QObject* parent)
    : QObject(parent)
    , m_alarms(alarms)
    , m_client(client)
    , m_topics(project)
{
    connect(&m_alarms, &AlarmEngine::changed, this, [this](const QString& group) { publishGroup(group, false); });
    for (const AlarmDefinition& def : m_alarms.definitions())
        if (!KalvoraTopics::isValidLevel(def.id))
            qCWarning(busLog).noquote() << QStringLiteral("Alarm \"%1\" is not published: its id cannot be a topic level").arg(def.id);
}

void AlarmPublisher::publishAll()
{
    m_published.clear();
    QSet<QString> groups;
    for (const AlarmDefinition& def : m_alarms.definitions())
        groups.insert(def.group);
    for (const QString& group : std::as_const(groups))
        publishGroup(group, true);
}

void AlarmPublisher::publishGroup(const QString& group, bool always)
{
    if (!m_client.isConnected())
        return;
    // The engine says which group changed; only the alarms whose state differs from what went out go
    // out again (a change of language changes nothing here).
    for (const AlarmDefinition& def : m_alarms.definitions()) {
        if (def.group != group || !KalvoraTopics::isValidLevel(def.id))
            continue;
        const QByteArray json = toJson(m_alarms.alarm(def.id));
        if (!always && m_published.value(def.id) == json)
            continue;
        if (m_client.publish({m_topics.alarm(def.id), json, 1, true, {}, {}}) >= 0)
            m_published.insert(def.id, json);
    }
}

QByteArray AlarmPublisher::toJson(const AlarmInfo& a)
{
    return BusJson::compact(QJsonObject{{QStringLiteral("id"), a.id}, {QStringLiteral("group"), a.group},
        {QStringLiteral("state"), AlarmJournal::stateName(a.state)}, {QStringLiteral("cameMs"), a.cameMs}, {QStringLiteral("wentMs"), a.wentMs},
        {QStringLiteral("acknowledgedMs"), a.acknowledgedMs}, {QStringLiteral("acknowledgedBy"), a.acknowledgedBy},
        {QStringLiteral("value"), a.value}, {QStringLiteral("shelvedUntilMs"), a.shelvedUntilMs}, {QStringLiteral("shelvedBy"), a.shelvedBy}});
}

AlarmState AlarmPublisher::stateOf(const BusJson& r)
{
    const QString name = r.string("state");
    const AlarmState state = AlarmJournal::stateFromName(name);
    if (AlarmJournal::stateName(state) != name)
        r.fail("state", QStringLiteral("unknown state \"%1\"").arg(name));
    return state;
}

BusResult<AlarmInfo> AlarmPublisher::parse(const QByteArray& json)
{
    try {
        const BusJson r(json, 16384,
            {QStringLiteral("id"), QStringLiteral("group"), QStringLiteral("state"), QStringLiteral("cameMs"), QStringLiteral("wentMs"),
             QStringLiteral("acknowledgedMs"), QStringLiteral("acknowledgedBy"), QStringLiteral("value"), QStringLiteral("shelvedUntilMs"),
             QStringLiteral("shelvedBy")});
        AlarmInfo a;
        a.id = r.string("id");
        a.group = r.string("group");
        a.state = stateOf(r);
        a.cameMs = r.whole("cameMs");
        a.wentMs = r.whole("wentMs");
        a.acknowledgedMs = r.whole("acknowledgedMs");
        a.acknowledgedBy = r.string("acknowledgedBy");
        a.value = r.number("value");
        a.shelvedUntilMs = r.whole("shelvedUntilMs");
        a.shelvedBy = r.string("shelvedBy");
        return BusResult<AlarmInfo>::success(std::move(a));
    } catch (const BusJson::Fault& fault) {
        return BusResult<AlarmInfo>::failure(fault.reason);
    }
}
