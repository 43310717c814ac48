#include "RequestServer.h"

#include "AlarmEngine.h"
#include "ArchiveStore.h"
#include "BusLog.h"
#include "Credentials.h"
#include "KalvoraError.h"
#include "RemoteHistory.h"
#include "Runtime.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtEndian>

#include <bit>

namespace {

using Op = BusRequest::Op;

// A chart's read is thousands of samples: packed as 16 bytes each in base64 they cost a copy instead
// of a JSON number pair apiece on both sides, and the doubles travel bit for bit.
QString samplesJson(const QList<ArchiveSample>& samples)
{
    QByteArray packed(samples.size() * RemoteHistory::PackedSampleBytes, Qt::Uninitialized);
    char* at = packed.data();
    for (const ArchiveSample& s : samples) {
        qToLittleEndian<qint64>(s.timeMs, at);
        qToLittleEndian<quint64>(std::bit_cast<quint64>(s.value), at + 8);
        at += RemoteHistory::PackedSampleBytes;
    }
    return QString::fromLatin1(packed.toBase64());
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
    m_clock.start();
    // The station whose session ended or locked hears of it on its response topic, with no correlation data.
    const auto tell = [this](const QString& station, const QJsonObject& event) {
        m_client.publish({m_topics.response(station), QJsonDocument(event).toJson(QJsonDocument::Compact), 1, false, {}, {}});
    };
    connect(&runtime.access(), &RuntimeAccess::sessionEnded, this, [tell](const QByteArray& id, const QString& station, const QString& reason) {
        tell(station, {{QStringLiteral("ok"), true}, {QStringLiteral("event"), QStringLiteral("sessionEnded")}, {QStringLiteral("id"), QString::fromLatin1(id)},
                          {QStringLiteral("reason"), reason}});
    });
    connect(&runtime.access(), &RuntimeAccess::sessionLocked, this, [tell](const QByteArray& id, const QString& station) {
        tell(station, {{QStringLiteral("ok"), true}, {QStringLiteral("event"), QStringLiteral("sessionLocked")}, {QStringLiteral("id"), QString::fromLatin1(id)}});
    });
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
    if (request.ok() && request.value->op == Op::SignIn) {
        // The password's hash is checked on a worker; the answer follows once it is known.
        signIn(station, *request.value, [this, topic = message.responseTopic, correlation = message.correlationData](const BusReply& reply) {
            m_client.publish({topic, reply.toJson(), 1, false, {}, correlation});
        });
        return true;
    }
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

BusReply RequestServer::signInHelps(BusReply refusal, const AccessRules::Decision& decision, const Session* session)
{
    // The station opens its sign-in dialog for these, and sends the command again once signed in.
    if (decision.signInHelps())
        refusal.fields.insert(QStringLiteral("signIn"), !session ? QStringLiteral("none") : session->locked ? QStringLiteral("locked") : QStringLiteral("role"));
    return refusal;
}

void RequestServer::signIn(const QString& station, const BusRequest& q, const std::function<void(const BusReply&)>& answer)
{
    const auto finish = [this, station, answer](const BusReply& reply) {
        if (!reply.ok)
            qCInfo(busLog).noquote() << QStringLiteral("Sign-in of %1 refused: %2").arg(station, reply.reason);
        Q_EMIT answered(station, BusRequest::opName(Op::SignIn), reply.ok);
        answer(reply);
    };
    if (m_runtime.state() != Runtime::State::Running)
        return finish(BusReply::refused(QStringLiteral("the runtime is not running")));
    if (const auto failed = m_failedSignIn.constFind(station); failed != m_failedSignIn.constEnd() && m_clock.elapsed() - *failed < SignInRetryMs)
        return finish(BusReply::refused(QStringLiteral("the last sign-in from station %1 failed a moment ago; try again in a second").arg(station)));
    RuntimeAccess& access = m_runtime.access();
    const QByteArray token = q.session.toLatin1();
    // Only the station's own session is unlocked; a token of another station counts as none.
    const Session* session = token.isEmpty() ? nullptr : access.sessions().find(token);
    const QByteArray own = session && session->station == station ? token : QByteArray();
    access.signInLater(station, q.user, q.password, own, this, [this, station, own, finish](const RuntimeAccess::SignIn& result) {
        if (!result.error.isEmpty()) {
            m_failedSignIn.insert(station, m_clock.elapsed());
            return finish(BusReply::refused(result.error));
        }
        m_failedSignIn.remove(station);
        // Another user signing in at the station ends the session it held, as on an embedded station.
        if (!result.resumed && !own.isEmpty())
            m_runtime.access().signOut(own);
        finish(BusReply::success({{QStringLiteral("session"), QString::fromLatin1(result.session.token)}, {QStringLiteral("id"), QString::fromLatin1(result.session.id)},
            {QStringLiteral("user"), result.session.userName}, {QStringLiteral("role"), roleName(result.session.role)}}));
    });
}

BusReply RequestServer::run(const QString& station, const BusRequest& q)
{
    AlarmEngine& alarms = m_runtime.alarms();
    RuntimeAccess& access = m_runtime.access();
    const QByteArray token = q.session.toLatin1();
    // A token counts only from the station it was issued to: one copied to another station is forged.
    const Session* session = token.isEmpty() ? nullptr : access.sessions().find(token);
    const bool ownSession = session && session->station == station;
    // With access control on, the journals name the session's user, whatever the request claims.
    const Actor actor = access.isOpen() ? Actor{station, q.user, std::nullopt}
        : ownSession                    ? access.actor(station, token)
                                        : Actor{station, q.user, std::nullopt};
    const QString by = station + u'/' + actor.user;
    const auto unknownAlarm = [&] { return BusReply::refused(QStringLiteral("no alarm \"%1\"").arg(q.id)); };
    // An alarm command passes the project's rules for its group first; a refusal is journalled.
    const auto refusal = [&](AccessRules::Action action, const QString& group, const QString& target) -> std::optional<BusReply> {
        const AccessRules::Decision d = access.check(action, group, actor, ownSession ? token : QByteArray());
        if (d.allowed)
            return std::nullopt;
        const QString reason = !token.isEmpty() && !ownSession ? QStringLiteral("%1 (the session is not known here: ended, expired or never issued)").arg(d.reason) : d.reason;
        m_runtime.journalRefused(AccessRules::actionName(action), target, actor, reason);
        return signInHelps(BusReply::refused(reason), d, ownSession ? session : nullptr);
    };
    switch (q.op) {
    case Op::Write:
        try {
            // Refused writes throw with the reason, after the runtime journalled them.
            m_runtime.writeFrom(station, actor.user, q.variable, q.value, actor.role);
        } catch (const KalvoraError& e) {
            // The rules' refusal comes after the variable's own checks: only that one is lifted by signing in.
            const AccessRules::Decision d = access.isOpen() ? AccessRules::Decision{true, {}, {}} : access.rules().check(AccessRules::Action::Write, q.variable, actor.role);
            return signInHelps(BusReply::refused(e.message()), d.reason == e.message() ? d : AccessRules::Decision{true, {}, {}}, ownSession ? session : nullptr);
        }
        if (ownSession)
            access.sessions().operate(token);
        return BusReply::success();
    case Op::Acknowledge:
        if (!alarms.groupNames().contains(q.group))
            return BusReply::refused(QStringLiteral("no alarm group \"%1\"").arg(q.group));
        if (auto refused = refusal(AccessRules::Action::Acknowledge, q.group, q.group))
            return *refused;
        return BusReply::success({{QStringLiteral("count"), alarms.acknowledge(q.group, by)}});
    case Op::AcknowledgeAlarm:
        if (alarms.alarm(q.id).id.isEmpty())
            return unknownAlarm();
        if (auto refused = refusal(AccessRules::Action::Acknowledge, alarms.alarm(q.id).group, q.id))
            return *refused;
        return BusReply::success({{QStringLiteral("acknowledged"), alarms.acknowledgeAlarm(q.id, by)}});
    case Op::Shelve:
        if (alarms.alarm(q.id).id.isEmpty())
            return unknownAlarm();
        if (q.durationMs > AlarmEngine::MaxShelveMs)
            return BusReply::refused(QStringLiteral("an alarm is shelved for at most %1 ms").arg(AlarmEngine::MaxShelveMs));
        if (auto refused = refusal(AccessRules::Action::Shelve, alarms.alarm(q.id).group, q.id))
            return *refused;
        alarms.shelve(q.id, q.durationMs, by);
        return BusReply::success();
    case Op::Unshelve:
        if (alarms.alarm(q.id).id.isEmpty())
            return unknownAlarm();
        if (auto refused = refusal(AccessRules::Action::Unshelve, alarms.alarm(q.id).group, q.id))
            return *refused;
        return BusReply::success({{QStringLiteral("unshelved"), alarms.unshelve(q.id, by)}});
    case Op::SignIn:
        return BusReply::refused(QStringLiteral("a sign-in is answered once its password is checked"));
    case Op::SignOut:
        if (ownSession)
            access.signOut(token);
        return BusReply::success();
    case Op::Sessions: {
        const AccessRules::Decision d = access.check(AccessRules::Action::EndSession, QString(), actor, ownSession ? token : QByteArray());
        if (!d.allowed)
            return BusReply::refused(d.reason);
        QJsonArray list;
        for (const Session& s : access.sessions().sessions())
            list.append(QJsonObject{{QStringLiteral("id"), QString::fromLatin1(s.id)}, {QStringLiteral("user"), s.userName},
                {QStringLiteral("station"), s.station}, {QStringLiteral("role"), roleName(s.role)}, {QStringLiteral("locked"), s.locked}});
        return BusReply::success({{QStringLiteral("sessions"), list}});
    }
    case Op::EndSession:
        if (const QString error = access.endSession(station, ownSession ? token : QByteArray(), q.id.toLatin1()); !error.isEmpty())
            return BusReply::refused(error);
        return BusReply::success();
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
