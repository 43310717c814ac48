#include "RequestServer.h"

#include "AlarmEngine.h"
#include "ArchiveStore.h"
#include "BusLog.h"
#include "KalvoraError.h"
#include "Runtime.h"

#include <QJsonArray>

namespace {

using Op = BusRequest::Op;

QJsonArray samplesJson(const QList<ArchiveSample>& samples)
{
    QJsonArray out;
    for (const ArchiveSample& s : samples)
        out.append(QJsonArray{s.timeMs, s.value});
    return out;
}

QJsonObject entryJson(const AlarmJournalEntry& e)
{
    return {{QStringLiteral("id"), e.id}, {QStringLiteral("timeMs"), e.timeMs}, {QStringLiteral("alarm"), e.alarm},
        {QStringLiteral("group"), e.group}, {QStringLiteral("event"), e.event}, {QStringLiteral("state"), AlarmJournal::stateName(e.state)},
        {QStringLiteral("cameMs"), e.cameMs}, {QStringLiteral("wentMs"), e.wentMs}, {QStringLiteral("acknowledgedMs"), e.acknowledgedMs},
        {QStringLiteral("value"), e.value}, {QStringLiteral("station"), e.station}, {QStringLiteral("shelvedUntilMs"), e.shelvedUntilMs}};
}

QJsonArray catalogueJson(const ArchiveStore& archive)
{
    QJsonArray archives;
    for (const ArchiveDefinition& a : archive.archives()) {
        QJsonArray trends;
        for (const TrendDefinition& t : a.trends)
            trends.append(QJsonObject{{QStringLiteral("name"), t.name}, {QStringLiteral("variable"), t.variable},
                {QStringLiteral("rangeMin"), t.rangeMin}, {QStringLiteral("rangeMax"), t.rangeMax}, {QStringLiteral("unit"), t.unit}});
        archives.append(QJsonObject{{QStringLiteral("name"), a.name}, {QStringLiteral("trends"), trends}});
    }
    return archives;
}

AlarmJournalFilter filterOf(const BusRequest& q)
{
    return {q.filterAlarm, q.filterGroup, q.filterFrom, q.filterUntil};
}

} // namespace

RequestServer::RequestServer(Runtime& runtime, MqttClient& client, const QString& project, QObject* parent)
    : QObject(parent)
    , m_runtime(runtime)
    , m_client(client)
    , m_topics(project)
{
}

bool RequestServer::handle(const MqttMessage& message)
{
    const QString station = m_topics.stationOfRequest(message.topic);
    if (station.isEmpty())
        return false;
    const auto drop = [&](const QString& reason) {
        qCWarning(busLog).noquote() << QStringLiteral("Request on %1 dropped: %2").arg(message.topic, reason);
    };
    // Answers go only where the station itself reads: the server may publish anywhere below its
    // project, and a request must not steer it there.
    if (message.responseTopic != m_topics.response(station)) {
        drop(QStringLiteral("its response topic is \"%1\", not %2").arg(message.responseTopic, m_topics.response(station)));
        return true;
    }
    const auto request = BusRequest::parse(message.payload);
    BusReply reply;
    if (!request.ok()) {
        drop(request.error);
        reply = BusReply::refused(QStringLiteral("malformed request: %1").arg(request.error));
        Q_EMIT answered(station, QString(), false);
    } else {
        reply = execute(station, *request.value);
    }
    m_client.publish({message.responseTopic, reply.toJson(), 1, false, {}, message.correlationData});
    return true;
}

BusReply RequestServer::execute(const QString& station, const BusRequest& request)
{
    BusReply reply;
    try {
        reply = m_runtime.state() == Runtime::State::Running ? run(station, request)
                                                             : BusReply::refused(QStringLiteral("the runtime is not running"));
    } catch (const KalvoraError& e) {
        reply = BusReply::refused(e.message());
    } catch (const std::exception& e) {
        reply = BusReply::refused(QString::fromLocal8Bit(e.what()));
    }
    if (!reply.ok)
        qCInfo(busLog).noquote() << QStringLiteral("Request %1 of %2/%3 refused: %4")
                                        .arg(BusRequest::opName(request.op), station, request.user, reply.reason);
    Q_EMIT answered(station, BusRequest::opName(request.op), reply.ok);
    return reply;
}

BusReply RequestServer::run(const QString& station, const BusRequest& q)
{
    AlarmEngine& alarms = m_runtime.alarms();
    const QString by = station + u'/' + q.user;
    const auto unknownAlarm = [&] { return BusReply::refused(QStringLiteral("no alarm \"%1\"").arg(q.id)); };
    switch (q.op) {
    case Op::Write:
        // Refused writes throw with the reason, after the runtime journalled them.
        m_runtime.writeFrom(station, q.user, q.variable, q.value);
        return BusReply::success();
    case Op::Acknowledge:
        if (!alarms.groupNames().contains(q.group))
            return BusReply::refused(QStringLiteral("no alarm group \"%1\"").arg(q.group));
        return BusReply::success({{QStringLiteral("count"), alarms.acknowledge(q.group, by)}});
    case Op::AcknowledgeAlarm:
        if (alarms.alarm(q.id).id.isEmpty())
            return unknownAlarm();
        return BusReply::success({{QStringLiteral("acknowledged"), alarms.acknowledgeAlarm(q.id, by)}});
    case Op::Shelve:
        if (alarms.alarm(q.id).id.isEmpty())
            return unknownAlarm();
        if (q.durationMs > AlarmEngine::MaxShelveMs)
            return BusReply::refused(QStringLiteral("an alarm is shelved for at most %1 ms").arg(AlarmEngine::MaxShelveMs));
        alarms.shelve(q.id, q.durationMs, by);
        return BusReply::success();
    case Op::Unshelve:
        if (alarms.alarm(q.id).id.isEmpty())
            return unknownAlarm();
        return BusReply::success({{QStringLiteral("unshelved"), alarms.unshelve(q.id, by)}});
    case Op::Reduced:
        return BusReply::success({{QStringLiteral("samples"), samplesJson(m_runtime.archive().reduced(q.archive, q.trend, q.from, q.to, q.buckets))}});
    case Op::Range:
        return BusReply::success({{QStringLiteral("samples"), samplesJson(m_runtime.archive().range(q.archive, q.trend, q.from, q.to))}});
    case Op::JournalPage: {
        QJsonArray entries;
        for (const AlarmJournalEntry& e : alarms.journal().page(filterOf(q), q.before, q.limit))
            entries.append(entryJson(e));
        return BusReply::success({{QStringLiteral("entries"), entries}});
    }
    case Op::JournalCount:
        return BusReply::success({{QStringLiteral("count"), alarms.journal().count(filterOf(q))}});
    case Op::Catalogue:
        return BusReply::success({{QStringLiteral("archives"), catalogueJson(m_runtime.archive())}});
    }
    return BusReply::refused(QStringLiteral("unknown operation"));
}
