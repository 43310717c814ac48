#include "RemoteSource.h"

#include "AlarmEngine.h"
#include "BusLog.h"
#include "PlantPublisher.h"
#include "ProjectFingerprint.h"
#include "RemoteAlarms.h"
#include "RemoteHistory.h"
#include "RemoteSessions.h"
#include "RequestClient.h"
#include "Runtime.h"
#include "SparkplugCodec.h"
#include "SparkplugHostState.h"
#include "SparkplugTopic.h"
#include "TagStore.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

namespace {

QVariant asTagValue(TagType type, const QVariant& value)
{
    if (value.isNull())
        return {};
    switch (type) {
    case TagType::Bool:
        return value.toBool();
    case TagType::Int:
        return value.toLongLong();
    case TagType::Double:
        return value.toDouble();
    case TagType::String:
        return value.toString();
    }
    return value;
}

} // namespace

RemoteSource::RemoteSource(const StationLink& link, RemoteStationOptions options)
    : PlantSource(link.tags, link.parent)
    , m_options(std::move(options))
    , m_tagStore(link.tags)
    , m_alarmEngine(link.alarms)
    // The server names its topics after the folder it runs (its --project), not project.json's name:
    // a copy of a project under another folder is another plant.
    , m_topics(QFileInfo(link.projectFolder).fileName())
    , m_station(m_options.broker.userName)
    , m_projectFolder(link.projectFolder)
    , m_commFault(Runtime::commFaultVariable(link.project))
    , m_client(new MqttClient(this))
    , m_gapTimer(new QTimer(this))
    , m_probeTimer(new QTimer(this))
{
    for (const TagDefinition& def : link.project.variables)
        if (def.name != m_commFault)
            m_variables.append(def.name);
    m_requests = new RequestClient(*m_client, m_topics, m_station, this);
    m_requests->setTimeoutMs(m_options.requestTimeoutMs);
    m_sessions = new RemoteSessions(*m_requests, this);
    m_alarms = new RemoteAlarms(link.alarms, *m_requests, m_topics, [this] { return user(); }, this);
    m_history = std::make_unique<RemoteHistory>(*m_requests, [this] { return user(); });
    m_client->setSettings(m_options.broker);
    m_gapTimer->setSingleShot(true);
    connect(m_gapTimer, &QTimer::timeout, this, [this] {
        if (m_missingSeq)
            requestRebirth(QStringLiteral("data message %1 did not come").arg(*m_missingSeq));
    });
    // The link is checked twice per keep-alive interval, so a broker that stopped answering is noticed
    // within one interval rather than the library's one and a half to two.
    m_probeTimer->setInterval(std::max(1, m_options.broker.keepAliveSeconds) * 500);
    connect(m_probeTimer, &QTimer::timeout, this, &RemoteSource::probe);
    connect(m_client, &MqttClient::connecting, this, [this] {
        m_client->setWill(MqttWill{SparkplugTopic::state(m_station).toString(), SparkplugHostState{false, nowMs()}.toJson(), 1, true});
    });
    connect(m_client, &MqttClient::connected, this, &RemoteSource::connected);
    connect(m_client, &MqttClient::disconnected, this, &RemoteSource::linkLost);
    connect(m_client, &MqttClient::messageReceived, this, &RemoteSource::received);
    connect(m_client, &MqttClient::published, this, [this](int id) {
        if (id == m_probeId)
            m_probeId = -1;
    });
    connect(m_client, &MqttClient::connectFailed, this, [this](const QString& reason, bool retrying) {
        if (retrying) {
            qCInfo(busLog).noquote() << "No broker yet:" << reason;
            if (!m_live)
                Q_EMIT waiting(QStringLiteral("kein Broker unter %1:%2 (%3)").arg(m_options.broker.host).arg(m_options.broker.port).arg(reason));
            return;
        }
        refuse(QStringLiteral("The broker %1:%2 refused station \"%3\": %4")
                   .arg(m_options.broker.host)
                   .arg(m_options.broker.port)
                   .arg(m_station, reason));
    });
}

RemoteSource::~RemoteSource() = default;

std::function<PlantSource*(const StationLink&)> RemoteSource::factory(RemoteStationOptions options)
{
    return [options](const StationLink& link) -> PlantSource* { return new RemoteSource(link, options); };
}

qint64 RemoteSource::nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QString RemoteSource::user() const
{
    if (const Session* s = m_sessions->session())
        return s->userName;
    return m_options.user.isEmpty() ? qEnvironmentVariable("USER", qEnvironmentVariable("USERNAME")) : m_options.user;
}

AlarmCommandSink* RemoteSource::alarmCommands()
{
    return m_alarms;
}

HistoryReader* RemoteSource::history()
{
    return m_history.get();
}

SessionLink* RemoteSource::sessions()
{
    return m_sessions;
}

bool RemoteSource::isFaulty() const
{
    return !m_linkUp || !m_born || m_mismatch || m_serverCommFault;
}

void RemoteSource::start(qint64)
{
    QString error;
    m_ownFingerprint = ProjectFingerprint::of(m_projectFolder, &error);
    if (m_ownFingerprint.isEmpty()) {
        refuse(QStringLiteral("Cannot take the fingerprint of this station's project copy %1: %2")
                   .arg(QDir::toNativeSeparators(m_projectFolder), error));
        return;
    }
    m_running = true;
    m_client->connectToBroker();
}

void RemoteSource::stop()
{
    if (!m_running)
        return;
    m_running = false;
    m_probeTimer->stop();
    m_gapTimer->stop();
    if (m_client->isConnected())
        m_client->publish({SparkplugTopic::state(m_station).toString(), SparkplugHostState{false, nowMs()}.toJson(), 1, true, {}, {}});
    m_client->disconnectFromBroker();
    m_requests->setAvailable(false);
    m_requests->failAll(RequestClient::noServer());
}

void RemoteSource::refuse(const QString& reason)
{
    qCWarning(busLog).noquote() << reason;
    if (m_live || m_refused)
        return;
    m_refused = true;
    Q_EMIT startRefused(reason);
}

void RemoteSource::connected()
{
    if (!m_running)
        return;
    m_linkUp = true;
    m_probeId = -1;
    m_probeTimer->start();
    m_client->subscribe(m_topics.server(), 1);
    m_client->subscribe(m_topics.alarmsFilter(), 1);
    m_client->subscribe(m_requests->responseTopic(), 1);
    m_client->subscribe(SparkplugTopic::nodeFilter(QString(PlantPublisher::groupId), m_topics.project()), 0);
    m_client->publish({SparkplugTopic::state(m_station).toString(), SparkplugHostState{true, nowMs()}.toJson(), 1, true, {}, {}});
    // A birth is not retained: the server sends one for whoever asks.
    requestRebirth(QStringLiteral("connected"));
    if (!m_live)
        Q_EMIT waiting(waitingForServer());
}

QString RemoteSource::waitingForServer() const
{
    // The server's retained will tells a stopped server from one never started on this broker.
    if (m_status && !m_status->online)
        return QStringLiteral("der Server des Projekts \"%1\" läuft nicht").arg(m_topics.project());
    return QStringLiteral("Broker erreicht, der Server des Projekts \"%1\" meldet sich noch nicht").arg(m_topics.project());
}

void RemoteSource::linkLost(const QString& reason)
{
    qCWarning(busLog).noquote() << "Lost the link to the server's broker:" << reason;
    m_linkUp = false;
    m_probeTimer->stop();
    serverGone();
}

void RemoteSource::serverGone()
{
    m_born = false;
    m_missingSeq.reset();
    m_gapTimer->stop();
    m_requests->setAvailable(false);
    m_requests->failAll(RequestClient::noServer());
    const qint64 t = nowMs();
    for (const QString& name : std::as_const(m_variables))
        m_tagStore.publish(name, m_tagStore.value(name).value, TagQuality::Bad, t);
    // The alarms on the communication fault are this station's to raise now: the server cannot.
    for (const AlarmDefinition& def : m_alarmEngine.definitions())
        if (def.variable == m_commFault && m_alarmEngine.alarm(def.id).state == AlarmState::Normal)
            m_alarmEngine.raiseLocally(def.id, QString(ServerLinkText), t);
    update();
}

void RemoteSource::probe()
{
    if (!m_client->isConnected())
        return;
    if (m_probeId >= 0) {
        // The broker did not acknowledge the last probe: it is gone or stopped. Start over.
        m_probeId = -1;
        m_client->disconnectFromBroker();
        linkLost(QStringLiteral("the broker did not answer within %1 ms").arg(m_probeTimer->interval()));
        m_client->connectToBroker();
        return;
    }
    m_probeId = m_client->publish({SparkplugTopic::state(m_station).toString(), SparkplugHostState{true, nowMs()}.toJson(), 1, false, {}, {}});
}

void RemoteSource::requestRebirth(const QString& reason)
{
    if (!m_client->isConnected())
        return;
    qCInfo(busLog).noquote() << "Asking the server for a new birth:" << reason;
    SparkplugPayload command;
    command.timestampMs = static_cast<quint64>(nowMs());
    command.metrics.append({QString(SparkplugCodec::rebirthMetric), std::nullopt, std::nullopt, SparkplugDataType::Boolean, true, SparkplugQuality::Good});
    const QString topic = SparkplugTopic::node(SparkplugMessageType::NCMD, QString(PlantPublisher::groupId), m_topics.project()).toString();
    m_client->publish({topic, SparkplugCodec::encode(command, SparkplugMessageType::NCMD), 0, false, {}, {}});
    m_rebirthAsked.start();
    Q_EMIT rebirthRequested(reason);
}

void RemoteSource::received(const MqttMessage& message)
{
    if (!m_running)
        return;
    if (m_requests->handle(message) || m_alarms->handle(message)) {
        checkLive();
        return;
    }
    if (message.topic == m_topics.server())
        return serverStatus(message);
    const auto topic = SparkplugTopic::parse(message.topic);
    if (!topic.ok() || topic.value->edgeNodeId != m_topics.project()) {
        qCDebug(busLog).noquote() << "Ignored a message on" << message.topic;
        return;
    }
    switch (topic.value->type) {
    case SparkplugMessageType::NBIRTH:
        return birth(message);
    case SparkplugMessageType::NDATA:
        return data(message);
    case SparkplugMessageType::NDEATH:
        return death(message);
    default:
        return;
    }
}

void RemoteSource::serverStatus(const MqttMessage& message)
{
    const auto status = ServerStatus::parse(message.payload);
    if (!status.ok()) {
        qCWarning(busLog).noquote() << QStringLiteral("Server status on %1 dropped: %2").arg(message.topic, status.error);
        return;
    }
    m_status = *status.value;
    if (m_status->online)
        m_sessions->serverStatus(m_status->access, m_status->startedMs);
    if (!m_status->online) {
        if (!m_live)
            Q_EMIT waiting(waitingForServer());
        return;
    }
    m_mismatch = m_status->fingerprint != m_ownFingerprint;
    if (m_mismatch) {
        refuse(QStringLiteral("The server runs project \"%1\" with fingerprint %2, but this station's copy %3 has fingerprint %4")
                   .arg(m_topics.project(), m_status->fingerprint, QDir::toNativeSeparators(m_projectFolder), m_ownFingerprint));
        serverGone();
        return;
    }
    checkLive();
}

void RemoteSource::birth(const MqttMessage& message)
{
    const auto payload = SparkplugCodec::decode(message.payload, SparkplugMessageType::NBIRTH);
    if (!payload.ok()) {
        qCWarning(busLog).noquote() << QStringLiteral("Birth on %1 dropped: %2").arg(message.topic, payload.error);
        return;
    }
    const SparkplugMetric* bdSeq = payload.value->metric(QString(SparkplugCodec::bdSeqMetric));
    m_bdSeq = bdSeq ? bdSeq->value.toULongLong() : 0;
    m_aliases = SparkplugAliasTable(*payload.value);
    m_nextSeq = payload.value->seq.value_or(0) + 1 == 256 ? 0 : payload.value->seq.value_or(0) + 1;
    m_missingSeq.reset();
    m_gapTimer->stop();
    const qint64 sent = static_cast<qint64>(payload.value->timestampMs.value_or(static_cast<quint64>(nowMs())));
    for (const SparkplugMetric& metric : std::as_const(payload.value->metrics))
        apply(metric, sent);
    m_born = !m_mismatch;
    m_requests->setAvailable(m_born);
    qCInfo(busLog).noquote() << QStringLiteral("The server's birth: %1 metrics, bdSeq %2").arg(payload.value->metrics.size()).arg(m_bdSeq);
    update();
    checkLive();
}

void RemoteSource::data(const MqttMessage& message)
{
    if (!m_born) {
        qCWarning(busLog).noquote() << QStringLiteral("Data on %1 dropped: no birth holds").arg(message.topic);
        if (!m_mismatch && (!m_rebirthAsked.isValid() || m_rebirthAsked.hasExpired(m_options.seqGapMs)))
            requestRebirth(QStringLiteral("data before a birth"));
        return;
    }
    const auto payload = SparkplugCodec::decode(message.payload, SparkplugMessageType::NDATA, &m_aliases);
    if (!payload.ok()) {
        qCWarning(busLog).noquote() << QStringLiteral("Data on %1 dropped: %2").arg(message.topic, payload.error);
        return;
    }
    const quint64 seq = payload.value->seq.value_or(0);
    if (m_missingSeq && seq == *m_missingSeq) {
        m_missingSeq.reset();
        m_gapTimer->stop();
    } else if (seq != m_nextSeq && !m_missingSeq) {
        m_missingSeq = m_nextSeq;
        m_gapTimer->start(m_options.seqGapMs);
    }
    m_nextSeq = (seq + 1) % 256;
    const qint64 sent = static_cast<qint64>(payload.value->timestampMs.value_or(static_cast<quint64>(nowMs())));
    for (const SparkplugMetric& metric : std::as_const(payload.value->metrics))
        apply(metric, sent);
    update();
}

void RemoteSource::death(const MqttMessage& message)
{
    const auto payload = SparkplugCodec::decode(message.payload, SparkplugMessageType::NDEATH);
    if (!payload.ok()) {
        qCWarning(busLog).noquote() << QStringLiteral("Death on %1 dropped: %2").arg(message.topic, payload.error);
        return;
    }
    const SparkplugMetric* bdSeq = payload.value->metric(QString(SparkplugCodec::bdSeqMetric));
    // The will of an older connection says nothing about the birth held now.
    if (!m_born || !bdSeq || bdSeq->value.toULongLong() != m_bdSeq)
        return;
    qCWarning(busLog).noquote() << "The server is gone (death" << m_bdSeq << ")";
    serverGone();
}

void RemoteSource::apply(const SparkplugMetric& metric, qint64 fallbackMs)
{
    QString name = metric.name;
    if (name.isEmpty() && metric.alias)
        if (const SparkplugAliasTable::Entry* entry = m_aliases.byAlias(*metric.alias))
            name = entry->name;
    if (name == SparkplugCodec::bdSeqMetric || name == SparkplugCodec::rebirthMetric)
        return;
    const TagQuality quality = PlantPublisher::tagQualityOf(metric.quality);
    // The server's link to its plant; the runtime shows it together with this station's link.
    if (name == m_commFault) {
        m_serverCommFault = quality == TagQuality::Good && metric.value.toBool();
        return;
    }
    const TagDefinition* def = m_tagStore.definition(name);
    if (!def) {
        qCDebug(busLog).noquote() << "The server's variable" << name << "is not in this station's project";
        return;
    }
    const qint64 stamp = metric.timestampMs ? static_cast<qint64>(*metric.timestampMs) : fallbackMs;
    m_tagStore.publish(name, asTagValue(def->type, metric.value), quality, stamp);
}

void RemoteSource::update()
{
    const bool faulty = isFaulty();
    Q_EMIT updated(nowMs());
    if (faulty != m_lastFaulty) {
        m_lastFaulty = faulty;
        Q_EMIT faultChanged(faulty);
    }
}

void RemoteSource::checkLive()
{
    if (m_live || m_refused || !m_born || !m_status || !m_status->online || m_mismatch || !m_alarms->complete())
        return;
    m_live = true;
    qCInfo(busLog).noquote() << QStringLiteral("Station %1 has the server's values and alarm states").arg(m_station);
    Q_EMIT live();
}

void RemoteSource::write(const WriteRequest& request)
{
    BusRequest q;
    q.op = BusRequest::Op::Write;
    q.user = user();
    q.variable = request.variable;
    const QVariant& v = request.value;
    q.value = v.typeId() == QMetaType::Int || v.typeId() == QMetaType::UInt || v.typeId() == QMetaType::Short ? QVariant(v.toLongLong()) : v;
    m_requests->send(q, this, [this, request](const BusReply& reply) { Q_EMIT writeFinished(request, reply.ok, reply.reason); });
}
