#include "AccessStatus.h"
#include "AccountStore.h"
#include "AlarmEngine.h"
#include "AlarmPublisher.h"
#include "BrokerConfig.h"
#include "BrokerSettings.h"
#include "BusReply.h"
#include "EngineTestSupport.h"
#include "MosquittoBroker.h"
#include "PlantPublisher.h"
#include "ProjectFingerprint.h"
#include "RemoteHistory.h"
#include "RemoteSource.h"
#include "RequestClient.h"
#include "RequestServer.h"
#include "Server.h"
#include "ServerStatus.h"
#include "SignInDialog.h"
#include "SparkplugCodec.h"
#include "TagStore.h"

#include <QJsonArray>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <bit>
#include <cmath>

#include <memory>
#include <signal.h>

using Type = SparkplugMessageType;

namespace {

const QString project = QStringLiteral("Kalvora");
const QString childProject = QStringLiteral("Plant2");
const QString valve = QStringLiteral("Ch1.Kalvora.Unit1.WaterTank.ValveOn");
const QString setpoint = QStringLiteral("Ch1.Kalvora.Test.Setpoint");
/// A copy of the project with access control on, run by a second server and by an embedded runtime.
const QString guarded = QStringLiteral("Guarded");
const QString password = QStringLiteral("password-1");
/// Its sessions lock after 20 idle minutes, not the default 15.
constexpr qint64 guardedIdleMs = 20 * 60 * 1000;
const QByteArray guardedRules = R"({"format": 1, "idleLockMinutes": 20,
  "write": [{"role": "engineer", "variables": ["Ch1.Kalvora.Test.Setpoint"]},
            {"role": "operator", "variables": ["Ch1.Kalvora.Unit1.WaterTank.ValveOn"]}],
  "acknowledge": [{"role": "anyone", "groups": ["FCentralAlarms2"]}, {"role": "operator", "groups": ["FCentralAlarms1"]}],
  "shelve": [{"role": "engineer", "groups": ["*"]}]})";

QString nodeTopic(Type type, const QString& node)
{
    return SparkplugTopic::node(type, QStringLiteral("Kalvora"), node).toString();
}

} // namespace

class TestServer final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void birthNamesEveryVariable();
    void dataByException();
    void rebirthOnCommand();
    void requests_data();
    void requests();
    void answersOnlyToTheStationsOwnTopic();
    void acknowledgementSeenByEveryStation();
    void accessList_data();
    void accessList();
    void serverEnds_data();
    void serverEnds();
    void refusedLogInEndsTheServer();
    void brokerConfigFiles();
    void alarmStateDecoding_data();
    void alarmStateDecoding();
    void journalAnswerWithUnknownState();
    void sampleAnswers_data();
    void sampleAnswers();
    void settingsFile_data();
    void settingsFile();
    void permissions_data();
    void permissions();
    void craftedSessions_data();
    void craftedSessions();
    void administratorEndsASession();
    void embeddedSignInCarriesTheActionOut();
    void stationSignsInThroughTheServer();
    void clientsShareAResponseTopic();
    void usersToolEndsSessions_data();
    void usersToolEndsSessions();

private:
    MqttSettings login(const QString& user) const;
    std::unique_ptr<MqttClient> connectStation(const QString& user, QList<MqttMessage>& inbox, const QStringList& filters);
    /// The first message on `topic` from `from` on in the inbox (waiting for it); empty topic if none came.
    MqttMessage waitFor(const QString& topic, qsizetype from = 0, int timeoutMs = 10000);
    BusReply ask(const QByteArray& body, const QString& onProject = project);
    /// Signs in on the guarded server from station A: the session token, empty when refused.
    QString signInRemote(const QString& user);
    SparkplugPayload decodeOrFail(const MqttMessage& message, Type type);

    QTemporaryDir m_dir;
    MosquittoBroker m_broker;
    std::unique_ptr<Server> m_server;
    std::unique_ptr<Server> m_guardedServer;
    std::unique_ptr<Runtime> m_embedded;
    /// Station B of the guarded server.
    std::unique_ptr<Runtime> m_guardedStation;
    qint64 m_accessNow = 1717228800000; ///< the guarded runtimes' access clock, moved by hand
    std::unique_ptr<MqttClient> m_station;
    QList<MqttMessage> m_inbox;
    SparkplugAliasTable m_aliases;
    int m_correlation = 0;
};

MqttSettings TestServer::login(const QString& user) const
{
    MqttSettings settings;
    settings.port = m_broker.port();
    settings.userName = user;
    settings.password = user + QStringLiteral("-pw");
    return settings;
}

std::unique_ptr<MqttClient> TestServer::connectStation(const QString& user, QList<MqttMessage>& inbox, const QStringList& filters)
{
    auto client = std::make_unique<MqttClient>();
    client->setSettings(login(user));
    connect(client.get(), &MqttClient::messageReceived, this, [&inbox](const MqttMessage& m) { inbox.append(m); });
    QSignalSpy connected(client.get(), &MqttClient::connected);
    client->connectToBroker();
    if (!connected.wait(10000))
        return nullptr;
    QSignalSpy subscribed(client.get(), &MqttClient::subscribed);
    for (const QString& filter : filters)
        client->subscribe(filter, 1);
    if (!QTest::qWaitFor([&] { return subscribed.size() == filters.size(); }, 5000))
        return nullptr;
    for (const auto& granted : subscribed)
        if (granted.at(1).value<QList<int>>().value(0, 128) >= 128)
            return nullptr;
    return client;
}

MqttMessage TestServer::waitFor(const QString& topic, qsizetype from, int timeoutMs)
{
    MqttMessage found;
    (void)QTest::qWaitFor(
        [&] {
            for (qsizetype i = from; i < m_inbox.size(); ++i)
                if (m_inbox.at(i).topic == topic) {
                    found = m_inbox.at(i);
                    return true;
                }
            return false;
        },
        timeoutMs);
    return found;
}

SparkplugPayload TestServer::decodeOrFail(const MqttMessage& message, Type type)
{
    const auto decoded = SparkplugCodec::decode(message.payload, type, &m_aliases);
    if (!decoded.ok())
        qWarning() << "cannot decode" << message.topic << decoded.error;
    return decoded.value.value_or(SparkplugPayload{});
}

BusReply TestServer::ask(const QByteArray& body, const QString& onProject)
{
    const QByteArray correlation = QByteArray::number(++m_correlation);
    const KalvoraTopics topics(onProject);
    m_station->publish({topics.request(QStringLiteral("A")), body, 1, false, topics.response(QStringLiteral("A")), correlation});
    BusReply reply = BusReply::refused(QStringLiteral("no answer"));
    (void)QTest::qWaitFor(
        [&] {
            for (const MqttMessage& m : std::as_const(m_inbox))
                if (m.topic == topics.response(QStringLiteral("A")) && m.correlationData == correlation) {
                    const auto parsed = BusReply::parse(m.payload);
                    reply = parsed.ok() ? *parsed.value : BusReply::refused(QStringLiteral("unreadable answer: ") + parsed.error);
                    return true;
                }
            return false;
        },
        10000);
    return reply;
}

void TestServer::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QString projects = copyProject(m_dir.path());
    // One writable quantity with a range, for the range check.
    QVERIFY(replaceInFile(QDir(projects).filePath(QStringLiteral("Kalvora/variables.json")), R"("variables": [)",
        R"("variables": [ {"name": "Ch1.Kalvora.Test.Setpoint", "type": "double", "min": 0, "max": 120, "writable": true},)"));
    // A second project for the server run as a child process, so its node does not meet this one's.
    QDir().mkpath(QDir(projects).filePath(childProject));
    for (const QString& file : QDir(QDir(projects).filePath(project)).entryList(QDir::Files))
        QFile::copy(QDir(projects).filePath(project + u'/' + file), QDir(projects).filePath(childProject + u'/' + file));

    QDir().mkpath(QDir(projects).filePath(guarded));
    for (const QString& file : QDir(QDir(projects).filePath(project)).entryList(QDir::Files))
        QFile::copy(QDir(projects).filePath(project + u'/' + file), QDir(projects).filePath(guarded + u'/' + file));
    QFile rules(QDir(projects).filePath(guarded + QStringLiteral("/access.json")));
    QVERIFY(rules.open(QIODevice::WriteOnly) && rules.write(guardedRules) == guardedRules.size());
    rules.close();
    // The same accounts in the server's data folder and in the embedded runtime's.
    for (const QString& data : {QStringLiteral("data"), QStringLiteral("embedded")}) {
        const QString folder = QDir(m_dir.path()).filePath(data + u'/' + guarded);
        QVERIFY(QDir().mkpath(folder));
        AccountStore accounts(QDir(folder).filePath(AccountStore::fileName()), PasswordHasher(PasswordHasher::minimal()));
        for (const Role role : {Role::Viewer, Role::Operator, Role::Engineer, Role::Administrator})
            QCOMPARE(accounts.add(roleName(role), QString(), role, password), QString());
    }

    m_broker.addAccount(QStringLiteral("server"), QStringLiteral("server-pw"),
        BrokerConfig::serverAccess(project) + BrokerConfig::serverAccess(childProject) + BrokerConfig::serverAccess(guarded));
    for (const QString& station : {QStringLiteral("A"), QStringLiteral("B")})
        m_broker.addAccount(station, station + QStringLiteral("-pw"),
            BrokerConfig::stationAccess(project, station) + BrokerConfig::stationAccess(childProject, station)
                + BrokerConfig::stationAccess(guarded, station));
    QVERIFY2(m_broker.start(), qPrintable(m_broker.errorString()));

    const KalvoraTopics topics(project);
    m_station = connectStation(QStringLiteral("A"), m_inbox,
        {QStringLiteral("spBv1.0/Kalvora/+/Kalvora"), QStringLiteral("spBv1.0/Kalvora/+/Plant2"), topics.server(),
         KalvoraTopics(childProject).server(), topics.alarmsFilter(), topics.response(QStringLiteral("A")),
         KalvoraTopics(guarded).response(QStringLiteral("A"))});
    QVERIFY(m_station);

    ServerOptions options;
    options.runtime = testOptions(m_dir.path());
    options.project = project;
    options.broker = login(QStringLiteral("server"));
    options.broker.password = QStringLiteral("server-pw");
    m_server = std::make_unique<Server>(options);
    QSignalSpy running(m_server.get(), &Server::running);
    m_server->start();
    QVERIFY(running.wait(20000));
    const MqttMessage birth = waitFor(nodeTopic(Type::NBIRTH, project));
    QVERIFY(!birth.topic.isEmpty());
    const auto decoded = SparkplugCodec::decode(birth.payload, Type::NBIRTH);
    QVERIFY2(decoded.ok(), qPrintable(decoded.error));
    m_aliases = SparkplugAliasTable(*decoded.value);

    options.project = guarded;
    options.runtime.accessClock = [this] { return m_accessNow; };
    m_guardedServer = std::make_unique<Server>(options);
    QSignalSpy guardedRunning(m_guardedServer.get(), &Server::running);
    m_guardedServer->start();
    QVERIFY(guardedRunning.wait(20000));
    RuntimeOptions embedded = options.runtime;
    embedded.dataDirectory = QDir(m_dir.path()).filePath(QStringLiteral("embedded"));
    m_embedded = std::make_unique<Runtime>(embedded);
    QCOMPARE(startAndWait(*m_embedded, guarded), QString());

    RuntimeOptions station = testOptions(m_dir.path());
    station.dataDirectory = QDir(m_dir.path()).filePath(QStringLiteral("station"));
    RemoteStationOptions remote;
    remote.broker = login(QStringLiteral("B"));
    remote.requestTimeoutMs = 5000;
    station.remoteSource = RemoteSource::factory(remote);
    m_guardedStation = std::make_unique<Runtime>(station);
    QCOMPARE(startAndWait(*m_guardedStation, guarded), QString());
    QVERIFY(m_guardedStation->isAccessControlled());
}

void TestServer::cleanupTestCase()
{
    if (m_guardedStation)
        m_guardedStation->stop();
    if (m_server) {
        QSignalSpy finished(m_server.get(), &Server::finished);
        m_server->stop();
        QCOMPARE(finished.size(), 1);
    }
    if (m_guardedServer)
        m_guardedServer->stop();
    if (m_embedded)
        m_embedded->stop();
}

void TestServer::birthNamesEveryVariable()
{
    const SparkplugPayload birth = decodeOrFail(waitFor(nodeTopic(Type::NBIRTH, project)), Type::NBIRTH);
    TagStore& tags = m_server->runtime().tags();
    QCOMPARE(birth.seq, 0u);
    QCOMPARE(birth.metric(QStringLiteral("bdSeq"))->value, QVariant(qlonglong(m_server->plant()->bdSeq())));
    QCOMPARE(birth.metrics.size(), tags.names().size() + 2);
    for (const QString& name : tags.names()) {
        const SparkplugMetric* metric = birth.metric(name);
        QVERIFY2(metric, qPrintable(name));
        QVERIFY(metric->alias);
        const TagDefinition& def = *tags.definition(name);
        QCOMPARE(metric->type, PlantPublisher::dataTypeOf(def.type));
        QCOMPARE(PlantPublisher::tagQualityOf(metric->quality), tags.value(name).quality);
        QCOMPARE(metric->timestampMs, quint64(tags.value(name).timestampMs));
    }
    // Every variable the simulation serves is delivered, so good.
    QCOMPARE(birth.metric(valve)->quality, SparkplugQuality::Good);
    QCOMPARE(birth.metric(valve)->value, tags.value(valve).value);
    // The server announces the project it runs.
    const QByteArray payload = waitFor(KalvoraTopics(project).server()).payload;
    const auto status = ServerStatus::parse(payload);
    QVERIFY2(status.ok(), qPrintable(status.error));
    QVERIFY(status.value->online);
    // An open project's status reads as stations without sign-in know it.
    QVERIFY(!status.value->access && !payload.contains("access"));
    QCOMPARE(status.value->fingerprint, ProjectFingerprint::of(m_server->runtime().projectDirectory()));
    QCOMPARE(status.value->fingerprint.size(), 64);
}

void TestServer::dataByException()
{
    const qsizetype from = m_inbox.size();
    const MqttMessage birth = waitFor(nodeTopic(Type::NBIRTH, project));
    TagStore& tags = m_server->runtime().tags();
    // A quality change alone is news.
    const QString level = QStringLiteral("Ch1.Kalvora.Unit1.WaterTank");
    tags.publish(level, tags.value(level).value, TagQuality::Bad, m_server->runtime().now());
    const SparkplugPayload first = decodeOrFail(waitFor(nodeTopic(Type::NDATA, project), from), Type::NDATA);
    QCOMPARE(first.metrics.size(), 1);
    QCOMPARE(first.metrics.first().name, level);
    QCOMPARE(first.metrics.first().quality, SparkplugQuality::Bad);
    const quint64 seq = *first.seq;

    // One tick: every variable that changed in it, once, in one message with the next seq.
    const qsizetype afterFirst = m_inbox.size();
    QHash<QString, TagValue> before;
    for (const QString& name : tags.names())
        before.insert(name, tags.value(name));
    m_server->runtime().advance(1);
    QSet<QString> changed;
    for (const QString& name : tags.names())
        if (!(tags.value(name) == before.value(name)))
            changed.insert(name);
    const SparkplugPayload tick = decodeOrFail(waitFor(nodeTopic(Type::NDATA, project), afterFirst), Type::NDATA);
    QCOMPARE(tick.seq, SparkplugEdgeSession::nextSeq(seq));
    QVERIFY(tick.metrics.size() > 1);
    QVERIFY(tick.metrics.size() < tags.names().size());
    QSet<QString> names;
    for (const SparkplugMetric& m : tick.metrics) {
        QVERIFY2(!names.contains(m.name), qPrintable(m.name));
        names.insert(m.name);
        QCOMPARE(PlantPublisher::tagQualityOf(m.quality), tags.value(m.name).quality);
        if (m.type == SparkplugDataType::Double)
            QCOMPARE(m.value.toDouble(), tags.value(m.name).value.toDouble());
    }
    QCOMPARE(names, changed);
    QVERIFY(names.contains(level));  // good again, read by the tick
}

void TestServer::rebirthOnCommand()
{
    const qsizetype from = m_inbox.size();
    SparkplugPayload command;
    command.timestampMs = 1;
    command.metrics << SparkplugMetric{QStringLiteral("Node Control/Rebirth"), std::nullopt, std::nullopt, SparkplugDataType::Boolean, true,
        SparkplugQuality::Good};
    m_station->publish({nodeTopic(Type::NCMD, project), SparkplugCodec::encode(command, Type::NCMD), 1, false, {}, {}});
    const SparkplugPayload birth = decodeOrFail(waitFor(nodeTopic(Type::NBIRTH, project), from), Type::NBIRTH);
    QCOMPARE(birth.seq, 0u);
    QCOMPARE(birth.metric(QStringLiteral("bdSeq"))->value, QVariant(qlonglong(m_server->plant()->bdSeq())));
    QCOMPARE(birth.metrics.size(), m_server->runtime().tags().names().size() + 2);
}

void TestServer::requests_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("reason");    // empty: ok
    QTest::addColumn<QString>("audit");     // the audit row it leaves: "ok", "refused", or none
    QTest::addColumn<QString>("field");     // a field the answer carries
    QTest::addColumn<bool>("malformed");    // refused unread, with a log line naming the topic
    const auto row = [](const char* name, const QByteArray& body, const char* reason, const char* audit = nullptr, const char* field = nullptr) {
        QTest::newRow(name) << body << QString::fromUtf8(reason) << QString::fromUtf8(audit) << QString::fromUtf8(field) << false;
    };
    const auto malformed = [](const char* name, const QByteArray& body, const char* reason) {
        QTest::newRow(name) << body << QString::fromUtf8(reason) << QString() << QString() << true;
    };
    const QByteArray w = R"({"op":"write","user":"alice","variable":")";
    const QByteArray v = valve.toUtf8();

    row("write", w + v + R"(","value":true})", {}, "ok");
    row("write 0 to on/off", w + v + R"(","value":0})", {}, "ok");
    row("unknown variable", w + R"(Ch1.Kalvora.Nothing","value":1})", "no such process variable", "refused");
    row("read-only", w + R"(Ch1.Kalvora.Unit1.WaterTank","value":5})", "read-only", "refused");
    row("wrong type", w + v + R"(","value":"on"})", "expects on/off", "refused");
    row("fraction to on/off", w + v + R"(","value":0.5})", "expects on/off", "refused");
    row("out of range", w + setpoint.toUtf8() + R"(","value":500})", "outside 0 to 120", "refused");
    row("unknown alarm", R"({"op":"acknowledgeAlarm","user":"u","id":"Nope"})", "no alarm \"Nope\"");
    row("unknown group", R"({"op":"acknowledge","user":"u","group":"X"})", "no alarm group");
    row("shelve too long", R"({"op":"shelve","user":"u","id":"WaterPump.Off","durationMs":28800001})", "at most 28800000");
    row("catalogue", R"({"op":"catalogue","user":"u"})", {}, {}, "archives");
    row("journal count", R"({"op":"journalCount","user":"u","filter":{}})", {}, {}, "count");
    row("journal page", R"({"op":"journalPage","user":"u","filter":{"group":"FCentralAlarms2"},"before":0,"limit":10})", {}, {}, "entries");
    row("reduced", R"({"op":"reduced","user":"u","archive":"Wasser","trend":"WaterTank","from":0,"to":4000000000000,"buckets":100})", {}, {},
        "samples");
    malformed("not JSON", "garbage{", "not JSON");
    malformed("array", "[1]", "not a JSON object");
    malformed("user not text", R"({"op":"write","user":5,"variable":"x","value":1})", "field \"user\": expected a text");
    malformed("no user", R"({"op":"catalogue"})", "field \"user\": missing");
    malformed("unknown op", R"({"op":"explode","user":"u"})", "unknown operation \"explode\"");
    malformed("field of another op", R"({"op":"catalogue","user":"u","variable":"x"})", "unknown field \"variable\"");
    malformed("value null", w + v + R"(","value":null})", "expected true, false, a number or a text");
    malformed("filter not object", R"({"op":"journalCount","user":"u","filter":[]})", "expected an object");
    malformed("range too long", R"({"op":"range","user":"u","archive":"Wasser","trend":"WaterTank","from":0,"to":21600001})", "at most 21600000");
    malformed("limit too big", R"({"op":"journalPage","user":"u","filter":{},"before":0,"limit":5001})", "outside 1 to 5000");
    malformed("pasted password", R"({"op":"signIn","user":"u","password":")" + QByteArray(5000, 'p') + R"("})", "field \"password\": longer than 1025");
    row("sign-in without access control", R"({"op":"signIn","user":"u","password":"password-1"})", "this project has no access control");
        malformed("huge", R"({"op":"catalogue","user":")" + QByteArray(70000, 'x') + R"("})", "above the limit of 65536");
}

void TestServer::requests()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, reason);
    QFETCH(QString, audit);
    QFETCH(QString, field);
    QFETCH(bool, malformed);
    Runtime& runtime = m_server->runtime();
    const qsizetype auditBefore = runtime.audit().history(100000).size();
    const QString variable = QString::fromUtf8(body).section(QStringLiteral("\"variable\":\""), 1).section(u'"', 0, 0);
    const TagValue before = runtime.tags().value(variable);
    if (malformed)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Request on kalvora/Kalvora/request/A dropped: .+")));

    const BusReply reply = ask(body);
    QCOMPARE(reply.ok, reason.isEmpty());
    QVERIFY2(reply.reason.contains(reason), qPrintable(reply.reason));
    QCOMPARE(reply.reason.startsWith(QLatin1String("malformed request: ")), malformed);
    if (!field.isEmpty())
        QVERIFY2(reply.fields.contains(field), qPrintable(QString::fromUtf8(reply.toJson())));

    const QList<AuditEntry> journal = runtime.audit().history(100000);
    QCOMPARE(journal.size(), auditBefore + (audit.isEmpty() ? 0 : 1));
    if (!audit.isEmpty()) {
        const AuditEntry& last = journal.first();
        QCOMPARE(last.station, QStringLiteral("A"));
        QCOMPARE(last.user, QStringLiteral("alice"));
        QCOMPARE(last.target, variable);
        QCOMPARE(last.result, audit);
        QVERIFY2(last.reason.contains(reason), qPrintable(last.reason));
    }
    if (!reason.isEmpty())
        QCOMPARE(runtime.tags().value(variable), before);  // nothing reached the plant
}

void TestServer::answersOnlyToTheStationsOwnTopic()
{
    const KalvoraTopics topics(project);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Request on kalvora/Kalvora/request/A dropped: its response topic .*alarms")));
    const qsizetype from = m_inbox.size();
    // Steering the server's answer onto an alarm's retained topic: not answered, not executed.
    m_station->publish({topics.request(QStringLiteral("A")), R"({"op":"catalogue","user":"u"})", 1, false,
        topics.alarm(QStringLiteral("WaterPump.Off")), "x"});
    QVERIFY(ask(R"({"op":"catalogue","user":"u"})").ok);
    for (qsizetype i = from; i < m_inbox.size(); ++i)
        QVERIFY2(m_inbox.at(i).correlationData != "x", qPrintable(m_inbox.at(i).topic));
}

void TestServer::acknowledgementSeenByEveryStation()
{
    const QString id = QStringLiteral("WaterPump.Off");
    const QString alarmTopic = KalvoraTopics(project).alarm(id);
    Runtime& runtime = m_server->runtime();
    QVERIFY(ask(R"({"op":"write","user":"alice","variable":"Ch1.Kalvora.WaterPump","value":false})").ok);
    qsizetype from = m_inbox.size();
    runtime.advance(4);  // past the alarm's two seconds of delay
    auto state = AlarmPublisher::parse(waitFor(alarmTopic, from).payload);
    QVERIFY2(state.ok(), qPrintable(state.error));
    QCOMPARE(state.value->state, AlarmState::ActiveUnacknowledged);

    from = m_inbox.size();
    const BusReply reply = ask(R"({"op":"acknowledgeAlarm","user":"bob","id":"WaterPump.Off"})");
    QVERIFY(reply.ok);
    QCOMPARE(reply.fields.value(QStringLiteral("acknowledged")).toBool(), true);
    const MqttMessage acknowledged = waitFor(alarmTopic, from);
    QVERIFY(acknowledged.retain || !acknowledged.topic.isEmpty());
    state = AlarmPublisher::parse(acknowledged.payload);
    QVERIFY2(state.ok(), qPrintable(state.error));
    QCOMPARE(state.value->state, AlarmState::ActiveAcknowledged);
    QCOMPARE(state.value->acknowledgedBy, QStringLiteral("A/bob"));
    QCOMPARE(state.value->acknowledgedMs, runtime.alarms().alarm(id).acknowledgedMs);
    QCOMPARE(runtime.alarms().journal().history(1).first().station, QStringLiteral("A/bob"));

    // A station that comes later finds every alarm's state, this acknowledgement included.
    QList<MqttMessage> late;
    const auto b = connectStation(QStringLiteral("B"), late, {KalvoraTopics(project).alarmsFilter()});
    QVERIFY(b);
    QTRY_COMPARE(late.size(), runtime.alarms().definitions().size());
    for (const MqttMessage& m : std::as_const(late)) {
        QVERIFY(m.retain);
        const auto mirrored = AlarmPublisher::parse(m.payload);
        QVERIFY2(mirrored.ok(), qPrintable(mirrored.error));
        const AlarmInfo real = runtime.alarms().alarm(mirrored.value->id);
        QCOMPARE(mirrored.value->state, real.state);
        QCOMPARE(mirrored.value->acknowledgedBy, real.acknowledgedBy);
        QCOMPARE(mirrored.value->cameMs, real.cameMs);
    }
}

void TestServer::accessList_data()
{
    QTest::addColumn<QString>("topic");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("plant data") << nodeTopic(Type::NDATA, project) << false;
    QTest::newRow("birth") << nodeTopic(Type::NBIRTH, project) << false;
    QTest::newRow("death") << nodeTopic(Type::NDEATH, project) << false;
    QTest::newRow("alarm state") << KalvoraTopics(project).alarm(QStringLiteral("WaterPump.Off")) << false;
    QTest::newRow("server status") << KalvoraTopics(project).server() << false;
    QTest::newRow("another station's request") << KalvoraTopics(project).request(QStringLiteral("B")) << false;
    QTest::newRow("a response") << KalvoraTopics(project).response(QStringLiteral("A")) << false;
    QTest::newRow("another station's STATE") << SparkplugTopic::state(QStringLiteral("B")).toString() << false;
    QTest::newRow("own STATE") << SparkplugTopic::state(QStringLiteral("A")).toString() << true;
}

void TestServer::accessList()
{
    QFETCH(QString, topic);
    QFETCH(bool, allowed);
    QSignalSpy acknowledged(m_station.get(), &MqttClient::published);
    const int id = m_station->publish({topic, R"({"online":true,"timestamp":1})", 1, false, {}, {}});
    QVERIFY(id > 0);
    QVERIFY(acknowledged.wait(5000));
    QCOMPARE(acknowledged.first().at(0).toInt(), id);
    const int reasonCode = acknowledged.first().at(1).toInt();
    if (allowed)
        QVERIFY2(reasonCode < 128, qPrintable(QString::number(reasonCode)));
    else
        QCOMPARE(reasonCode, 135);
}

void TestServer::serverEnds_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("killed") << int(SIGKILL);
    QTest::newRow("terminated") << int(SIGTERM);
}

void TestServer::serverEnds()
{
    QFETCH(int, signalNumber);
    const QString settings = m_dir.filePath(QStringLiteral("server.json"));
    QFile file(settings);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(BrokerSettings::toJson(QStringLiteral("mqtt://127.0.0.1:%1").arg(m_broker.port()), QStringLiteral("server"),
        QStringLiteral("server-pw")));
    file.close();

    const qsizetype from = m_inbox.size();
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral(KALVORA_SERVER),
        {QStringLiteral("--project"), childProject, QStringLiteral("--projects"), m_dir.filePath(QStringLiteral("projects")),
         QStringLiteral("--data"), m_dir.filePath(QStringLiteral("child-") + QString::fromLatin1(QTest::currentDataTag())),
         QStringLiteral("--settings"), settings, QStringLiteral("--backfill-hours"), QStringLiteral("0")});
    const MqttMessage birth = waitFor(nodeTopic(Type::NBIRTH, childProject), from, 30000);
    QVERIFY2(!birth.topic.isEmpty(), child.readAll().constData());
    const auto born = SparkplugCodec::decode(birth.payload, Type::NBIRTH);
    QVERIFY2(born.ok(), qPrintable(born.error));
    const QString statusTopic = KalvoraTopics(childProject).server();
    QTRY_VERIFY_WITH_TIMEOUT(
        std::any_of(m_inbox.begin() + from, m_inbox.end(),
            [&](const MqttMessage& m) { return m.topic == statusTopic && ServerStatus::parse(m.payload).value.value_or(ServerStatus{}).online; }),
        10000);

    const qsizetype beforeEnd = m_inbox.size();
    ::kill(static_cast<pid_t>(child.processId()), signalNumber);
    QVERIFY(child.waitForFinished(20000));
    if (signalNumber == SIGTERM) {
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
    }
    const auto death = SparkplugCodec::decode(waitFor(nodeTopic(Type::NDEATH, childProject), beforeEnd).payload, Type::NDEATH);
    QVERIFY2(death.ok(), qPrintable(death.error));
    QCOMPARE(death.value->metric(QStringLiteral("bdSeq"))->value, born.value->metric(QStringLiteral("bdSeq"))->value);
    const auto offline = ServerStatus::parse(waitFor(statusTopic, beforeEnd).payload);
    QVERIFY2(offline.ok(), qPrintable(offline.error));
    QVERIFY(!offline.value->online);
    QCOMPARE(offline.value->fingerprint, ProjectFingerprint::of(m_dir.filePath(QStringLiteral("projects/") + childProject)));
}

void TestServer::refusedLogInEndsTheServer()
{
    // Retrying a wrong password only floods the broker's log: the server says so once and ends.
    QProcess child;
    child.start(QStringLiteral(KALVORA_SERVER),
        {QStringLiteral("--project"), childProject, QStringLiteral("--projects"), m_dir.filePath(QStringLiteral("projects")),
         QStringLiteral("--data"), m_dir.filePath(QStringLiteral("child-refused")), QStringLiteral("--backfill-hours"), QStringLiteral("0"),
         QStringLiteral("--broker"), QStringLiteral("mqtt://127.0.0.1:%1").arg(m_broker.port())});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitCode(), 2);
    QVERIFY2(child.readAllStandardError().contains("The broker refused the server"), "no reason given");
}

void TestServer::brokerConfigFiles()
{
    const QString folder = m_dir.filePath(QStringLiteral("broker"));
    QProcess tool;
    tool.start(QStringLiteral(KALVORA_SERVER), {QStringLiteral("--write-broker-config"), folder, QStringLiteral("--stations"),
                                                   QStringLiteral("A,Boilerhouse"), QStringLiteral("--port"), QStringLiteral("18830")});
    QVERIFY(tool.waitForFinished(20000));
    QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
    const auto station = BrokerSettings::readFile(QDir(folder).filePath(QStringLiteral("station-Boilerhouse.json")));
    QVERIFY2(station.ok(), qPrintable(station.error));
    QCOMPARE(station.settings.userName, QStringLiteral("Boilerhouse"));
    QCOMPARE(station.settings.port, 18830);
    QVERIFY(station.settings.password.size() >= 24);
    QVERIFY(BrokerSettings::readFile(QDir(folder).filePath(QStringLiteral("server.json"))).settings.password != station.settings.password);
    QVERIFY(QFileInfo(QDir(folder).filePath(QStringLiteral("passwords"))).size() > 0);

    tool.start(QStringLiteral(KALVORA_SERVER), {QStringLiteral("--write-broker-config"), folder, QStringLiteral("--stations"), QStringLiteral("server")});
    QVERIFY(tool.waitForFinished(20000));
    QCOMPARE(tool.exitCode(), 1);
    QVERIFY(tool.readAllStandardError().contains("station \"server\""));
}

void TestServer::alarmStateDecoding_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("error");  // empty: decodes and encodes back to the same bytes
    AlarmInfo a;
    a.id = QStringLiteral("Unit1.WaterEmpty");
    a.group = QStringLiteral("FCentralAlarms1");
    a.state = AlarmState::ReturnedUnacknowledged;
    a.cameMs = 1700000000000;
    a.wentMs = 1700000005000;
    a.value = 412.5;
    a.shelvedUntilMs = 1700003600000;
    a.shelvedBy = QStringLiteral("B/eve");
    const QByteArray good = AlarmPublisher::toJson(a);
    QTest::newRow("round trip") << good << QString();
    QTest::newRow("not JSON") << QByteArray("{\"id\":") << "not JSON";
    QTest::newRow("unknown state") << QByteArray(good).replace("\"returned\"", "\"gone\"") << "unknown state \"gone\"";
    QTest::newRow("time as text") << QByteArray(good).replace("1700000000000", "\"1700000000000\"") << "field \"cameMs\": expected a whole number";
    QTest::newRow("negative time") << QByteArray(good).replace("1700000005000", "-1") << "field \"wentMs\": -1 is outside";
    QTest::newRow("who as number") << QByteArray(good).replace("\"B/eve\"", "7") << "field \"shelvedBy\": expected a text";
    QTest::newRow("unknown field") << QByteArray(good).replace("\"group\"", "\"groups\"") << "unknown field \"groups\"";
    QTest::newRow("missing field") << QByteArray(R"({"id":"x"})") << "missing";
    QTest::newRow("huge") << QByteArray(20000, ' ') + good << "above the limit";
}

void TestServer::alarmStateDecoding()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, error);
    const auto parsed = AlarmPublisher::parse(json);
    QCOMPARE(parsed.ok(), error.isEmpty());
    if (!error.isEmpty())
        QVERIFY2(parsed.error.contains(error), qPrintable(parsed.error));
    else
        QCOMPARE(AlarmPublisher::toJson(*parsed.value), json);
}

void TestServer::sampleAnswers_data()
{
    QTest::addColumn<QJsonValue>("samples");
    QTest::addColumn<int>("count"); // -1: refused
    const auto packed = [](std::initializer_list<std::pair<qint64, double>> samples) {
        QByteArray raw;
        for (const auto& [t, v] : samples) {
            char bytes[16];
            qToLittleEndian<qint64>(t, bytes);
            qToLittleEndian<quint64>(std::bit_cast<quint64>(v), bytes + 8);
            raw.append(bytes, 16);
        }
        return QJsonValue(QString::fromLatin1(raw.toBase64()));
    };
    QTest::newRow("none") << packed({}) << 0;
    QTest::newRow("odd values") << packed({{-5, -0.0}, {1796861972346, std::numeric_limits<double>::infinity()},
                                           {1796861972347, std::numeric_limits<double>::quiet_NaN()}, {1796861972348, 4.9e-324}}) << 4;
    QTest::newRow("not base64") << QJsonValue(QStringLiteral("AAAA!!!!")) << -1;
    QTest::newRow("15 bytes") << QJsonValue(QString::fromLatin1(QByteArray(15, 'x').toBase64())) << -1;
    QTest::newRow("old pairs") << QJsonValue(QJsonArray{QJsonArray{1, 2.0}}) << -1;
    QTest::newRow("missing") << QJsonValue() << -1;
}

void TestServer::sampleAnswers()
{
    QFETCH(QJsonValue, samples);
    QFETCH(int, count);
    BusReply reply = BusReply::success({{QStringLiteral("samples"), samples}});
    QString error;
    const QList<ArchiveSample> read = RemoteHistory::samplesOf(reply, &error);
    QCOMPARE(error.isEmpty(), count >= 0);
    QCOMPARE(read.size(), std::max(count, 0));
    // Bit for bit: -0.0 and NaN come back as they were sent.
    if (count == 4) {
        QCOMPARE(read.at(0).timeMs, -5);
        QVERIFY(std::signbit(read.at(0).value));
        QVERIFY(std::isnan(read.at(2).value));
        QCOMPARE(read.at(3).value, 4.9e-324);
    }
}

void TestServer::journalAnswerWithUnknownState()
{
    // A journal page whose entry names a state no version knows is refused, not shown as another.
    QJsonObject entry{{QStringLiteral("id"), 1}, {QStringLiteral("timeMs"), 5}, {QStringLiteral("alarm"), QStringLiteral("A")},
        {QStringLiteral("group"), QStringLiteral("G")}, {QStringLiteral("event"), QStringLiteral("came")}, {QStringLiteral("state"), QStringLiteral("active")},
        {QStringLiteral("cameMs"), 5}, {QStringLiteral("wentMs"), 0}, {QStringLiteral("acknowledgedMs"), 0}, {QStringLiteral("value"), 1.0},
        {QStringLiteral("station"), QString()}, {QStringLiteral("shelvedUntilMs"), 0}};
    QString error;
    QCOMPARE(RemoteHistory::entriesOf(BusReply::success({{QStringLiteral("entries"), QJsonArray{entry}}}), &error).size(), 1);
    QCOMPARE(error, QString());
    entry[QStringLiteral("state")] = QStringLiteral("burning");
    QVERIFY(RemoteHistory::entriesOf(BusReply::success({{QStringLiteral("entries"), QJsonArray{entry}}}), &error).isEmpty());
    QVERIFY2(error.contains(QStringLiteral("unknown state \"burning\"")), qPrintable(error));
}

void TestServer::settingsFile_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("error");  // empty: read
    QTest::newRow("plain") << QByteArray(R"({"broker":"mqtt://plant-server:1884","user":"A","password":"p"})") << QString();
    QTest::newRow("TLS, default port") << QByteArray(R"({"broker":"mqtts://plant-server","caFile":"/x/ca.crt"})") << QString();
    QTest::newRow("misspelt field") << QByteArray(R"({"broker":"mqtt://h:1","pasword":"p"})") << "pasword";
    QTest::newRow("no broker") << QByteArray(R"({"user":"A"})") << "broker";
    QTest::newRow("other scheme") << QByteArray(R"({"broker":"http://h:1"})") << "not a broker address";
    QTest::newRow("with a path") << QByteArray(R"({"broker":"mqtt://h:1/x"})") << "not a broker address";
    QTest::newRow("certificate without key") << QByteArray(R"({"broker":"mqtts://h","certFile":"c.pem"})") << "needs its key";
    QTest::newRow("password as number") << QByteArray(R"({"broker":"mqtt://h","password":5})") << "password";
    QTest::newRow("twice") << QByteArray(R"({"broker":"mqtt://h","broker":"mqtt://g"})") << "broker";
    QTest::newRow("keep-alive of 30 s") << QByteArray(R"({"broker":"mqtt://plant-server:1884","keepAlive":30})") << QString();
    QTest::newRow("keep-alive too short") << QByteArray(R"({"broker":"mqtt://h","keepAlive":1})") << "keepAlive";
    QTest::newRow("keep-alive as text") << QByteArray(R"({"broker":"mqtt://h","keepAlive":"10"})") << "keepAlive";
}

void TestServer::settingsFile()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, error);
    const QString path = m_dir.filePath(QStringLiteral("settings-%1.json").arg(QString::fromLatin1(QTest::currentDataTag())));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(json);
    file.close();
    const auto read = BrokerSettings::readFile(path);
    QCOMPARE(read.ok(), error.isEmpty());
    if (!error.isEmpty()) {
        QVERIFY2(read.error.contains(error) && read.error.contains(path), qPrintable(read.error));
        return;
    }
    QCOMPARE(read.settings.host, QStringLiteral("plant-server"));
    const bool tls = json.contains("mqtts");
    QCOMPARE(read.settings.port, tls ? BrokerSettings::defaultTlsPort : quint16(1884));
    QCOMPARE(read.settings.caFile.isEmpty(), !tls);
    QCOMPARE(read.settings.keepAliveSeconds, json.contains("keepAlive") ? 30 : 10);
}

QString TestServer::signInRemote(const QString& user)
{
    const BusReply reply = ask(R"({"op":"signIn","user":")" + user.toUtf8() + R"(","password":")" + password.toUtf8() + R"("})", guarded);
    return reply.ok ? reply.fields.value(QStringLiteral("session")).toString() : QString();
}

void TestServer::permissions_data()
{
    QTest::addColumn<QString>("role"); // who is signed in; empty: nobody
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("allowed");
    const auto row = [](const char* role, const char* op, const QString& target, bool allowed) {
        QTest::addRow("%s %s %s", *role ? role : "nobody", op, qPrintable(target)) << QString::fromLatin1(role) << QString::fromLatin1(op) << target << allowed;
    };
    const QString pump = QStringLiteral("WaterPump.Off");
    const QString everyone = QStringLiteral("FCentralAlarms2");
    const QString operators = QStringLiteral("FCentralAlarms1");
    row("", "write", valve, false);
    row("viewer", "write", valve, false);
    row("operator", "write", valve, true);
    row("administrator", "write", valve, true);
    // The first rule naming the set point wants an engineer.
    row("operator", "write", setpoint, false);
    row("engineer", "write", setpoint, true);
    // No rule names the water pump: nobody may switch it.
    row("administrator", "write", QStringLiteral("Ch1.Kalvora.WaterPump"), false);
    row("", "acknowledge", everyone, true);
    row("", "acknowledge", operators, false);
    row("viewer", "acknowledge", operators, false);
    row("operator", "acknowledge", operators, true);
    row("operator", "shelve", pump, false);
    row("engineer", "shelve", pump, true);
    row("viewer", "unshelve", pump, false);
}

void TestServer::permissions()
{
    QFETCH(QString, role);
    QFETCH(QString, op);
    QFETCH(QString, target);
    QFETCH(bool, allowed);
    const QString value = target == setpoint ? QStringLiteral("50") : QStringLiteral("true");

    // Embedded: the runtime checks its own screens' actions.
    Runtime& embedded = *m_embedded;
    embedded.signOut();
    if (!role.isEmpty())
        QCOMPARE(signInAndWait(embedded, role, password), QString());
    QSignalSpy refusedCommand(&embedded.alarms(), &AlarmEngine::commandFailed);
    bool done = false;
    if (op == QLatin1String("write")) {
        try {
            embedded.tags().write(target, target == setpoint ? QVariant(50) : QVariant(true));
            done = true;
        } catch (const KalvoraError&) {
        }
    } else if (op == QLatin1String("acknowledge")) {
        embedded.alarms().acknowledge(target);
        done = refusedCommand.isEmpty();
    } else if (op == QLatin1String("shelve")) {
        done = embedded.alarms().shelve(target, 60000);
    } else {
        embedded.alarms().unshelve(target);
        done = refusedCommand.isEmpty();
    }
    QCOMPARE(done, allowed);
    if (!allowed) {
        const AuditEntry last = embedded.audit().history(1).value(0);
        QCOMPARE(last.result, QStringLiteral("refused"));
        QCOMPARE(last.target, target);
        if (!role.isEmpty())
            QCOMPARE(last.user, role);
    }

    // Server: the same rows as requests with the session the server issued.
    const QString session = role.isEmpty() ? QString() : signInRemote(role);
    QCOMPARE(session.isEmpty(), role.isEmpty());
    const QByteArray head = R"({"op":")" + op.toUtf8() + R"(","user":"claimed","session":")" + session.toUtf8() + R"(",)";
    const QByteArray body = op == QLatin1String("write") ? head + R"("variable":")" + target.toUtf8() + R"(","value":)" + value.toUtf8() + "}"
        : op == QLatin1String("acknowledge")            ? head + R"("group":")" + target.toUtf8() + R"("})"
        : op == QLatin1String("shelve")                 ? head + R"("id":")" + target.toUtf8() + R"(","durationMs":60000})"
                                                        : head + R"("id":")" + target.toUtf8() + R"("})";
    const BusReply reply = ask(body, guarded);
    QVERIFY2(reply.ok == allowed, qPrintable(reply.reason));
    if (!allowed) {
        const AuditEntry last = m_guardedServer->runtime().audit().history(1).value(0);
        QCOMPARE(last.result, QStringLiteral("refused"));
        QCOMPARE(last.station, QStringLiteral("A"));
        // The journal names the session's user, not the one the request claims.
        QCOMPARE(last.user, role.isEmpty() ? QStringLiteral("claimed") : role);
    }

    // A station of the server: the same rows from its screens, with the session it signed in to.
    // (A station sends no unshelve for an alarm it does not see shelved.)
    if (op == QLatin1String("unshelve"))
        return;
    Runtime& station = *m_guardedStation;
    station.signOut();
    if (!role.isEmpty())
        QCOMPARE(signInAndWait(station, role, password), QString());
    QSignalSpy answered(m_guardedServer->requests(), &RequestServer::answered);
    QSignalSpy asked(&station, &Runtime::signInRequired);
    QSignalSpy failed(&station, &Runtime::writeFailed);
    if (op == QLatin1String("write"))
        station.tags().write(target, target == setpoint ? QVariant(50) : QVariant(true));
    else if (op == QLatin1String("acknowledge"))
        station.alarms().acknowledge(target);
    else
        QVERIFY(station.alarms().shelve(target, 60000));
    QTRY_VERIFY(!answered.isEmpty());
    QCOMPARE(answered.first().at(0).toString(), QStringLiteral("B"));
    QCOMPARE(answered.first().at(2).toBool(), allowed);
    if (!allowed) {
        QTRY_COMPARE(failed.size(), 1);
        // Only a refusal that a sign-in would lift asks for one: no rule lets anyone switch the pump.
        QCOMPARE(asked.size(), target == QLatin1String("Ch1.Kalvora.WaterPump") ? 0 : 1);
        station.cancelSignIn();
    }
}

void TestServer::craftedSessions_data()
{
    QTest::addColumn<QString>("session"); // "forged", "other station", "expired", "idle", "signed out"
    QTest::addColumn<QString>("reason");
    QTest::newRow("forged") << QStringLiteral("forged") << QStringLiteral("the session is not known here");
    QTest::newRow("issued to another station") << QStringLiteral("other station") << QStringLiteral("the session is not known here");
    QTest::newRow("past its age limit") << QStringLiteral("expired") << QStringLiteral("the session is not known here");
    QTest::newRow("idle-locked") << QStringLiteral("idle") << QStringLiteral("needs signing in as operator");
    QTest::newRow("signed out") << QStringLiteral("signed out") << QStringLiteral("the session is not known here");
}

void TestServer::craftedSessions()
{
    QFETCH(QString, session);
    QFETCH(QString, reason);
    RuntimeAccess& access = m_guardedServer->runtime().access();
    QString token = QString::fromLatin1(QByteArray(64, 'a'));
    if (session == QLatin1String("other station")) {
        token = QString::fromLatin1(access.signIn(QStringLiteral("B"), QStringLiteral("operator"), password).session.token);
    } else if (session != QLatin1String("forged")) {
        token = signInRemote(QStringLiteral("operator"));
        QVERIFY(!token.isEmpty());
        if (session == QLatin1String("expired"))
            m_accessNow += SessionManager::defaultMaxAgeMs;
        if (session == QLatin1String("idle"))
            m_accessNow += guardedIdleMs;
        if (session == QLatin1String("signed out"))
            QVERIFY(ask(R"({"op":"signOut","user":"x","session":")" + token.toUtf8() + R"("})", guarded).ok);
    }
    const TagValue before = m_guardedServer->runtime().tags().value(valve);
    const BusReply reply = ask(R"({"op":"acknowledge","user":"operator","session":")" + token.toUtf8() + R"(","group":"FCentralAlarms1"})", guarded);
    QVERIFY(!reply.ok);
    QVERIFY2(reply.reason.contains(reason), qPrintable(reply.reason));
    QVERIFY(!ask(R"({"op":"write","user":"operator","session":")" + token.toUtf8() + R"(","variable":")" + valve.toUtf8() + R"(","value":false})", guarded).ok);
    QCOMPARE(m_guardedServer->runtime().tags().value(valve), before);
    // Viewing needs no session.
    QVERIFY(ask(R"({"op":"catalogue","user":"x","session":")" + token.toUtf8() + R"("})", guarded).ok);
}

void TestServer::administratorEndsASession()
{
    const QString operatorSession = signInRemote(QStringLiteral("operator"));
    const QString adminSession = signInRemote(QStringLiteral("administrator"));
    QVERIFY(!ask(R"({"op":"sessions","user":"x","session":")" + operatorSession.toUtf8() + R"("})", guarded).ok);
    const BusReply list = ask(R"({"op":"sessions","user":"x","session":")" + adminSession.toUtf8() + R"("})", guarded);
    QVERIFY2(list.ok, qPrintable(list.reason));
    QString id;
    for (const QJsonValue& s : list.fields.value(QStringLiteral("sessions")).toArray())
        if (s[QStringLiteral("user")] == QStringLiteral("operator") && s[QStringLiteral("station")] == QStringLiteral("A"))
            id = s[QStringLiteral("id")].toString();
    QVERIFY(!id.isEmpty());
    // An operator may not end sessions; the administrator may, and the station hears of it.
    QVERIFY(!ask(R"({"op":"endSession","user":"x","session":")" + operatorSession.toUtf8() + R"(","id":")" + id.toUtf8() + R"("})", guarded).ok);
    const qsizetype from = m_inbox.size();
    const BusReply ended = ask(R"({"op":"endSession","user":"x","session":")" + adminSession.toUtf8() + R"(","id":")" + id.toUtf8() + R"("})", guarded);
    QVERIFY2(ended.ok, qPrintable(ended.reason));
    QTRY_VERIFY(std::any_of(m_inbox.cbegin() + from, m_inbox.cend(), [&](const MqttMessage& m) {
        return m.topic == KalvoraTopics(guarded).response(QStringLiteral("A")) && m.correlationData.isEmpty()
            && m.payload.contains(R"("event":"sessionEnded")") && m.payload.contains(id.toUtf8());
    }));
    QVERIFY(!ask(R"({"op":"write","user":"x","session":")" + operatorSession.toUtf8() + R"(","variable":")" + valve.toUtf8() + R"(","value":true})", guarded).ok);
    const AuditEntry last = m_guardedServer->runtime().audit().history(2).value(1);
    QCOMPARE(last.action, QStringLiteral("session-ended"));
    QCOMPARE(last.user, QStringLiteral("administrator"));

    // A failed sign-in makes the station wait before its next attempt is even hashed.
    QVERIFY(!ask(R"({"op":"signIn","user":"operator","password":"wrong-password"})", guarded).ok);
    QElapsedTimer asked;
    asked.start();
    const BusReply hurried = ask(R"({"op":"signIn","user":"operator","password":")" + password.toUtf8() + R"("})", guarded);
    QVERIFY(!hurried.ok && hurried.reason.contains(QStringLiteral("try again in a second")));
    QVERIFY(asked.elapsed() < RequestServer::SignInRetryMs);
    QTRY_VERIFY_WITH_TIMEOUT(!signInRemote(QStringLiteral("operator")).isEmpty(), 5000);
}

void TestServer::embeddedSignInCarriesTheActionOut()
{
    Runtime& runtime = *m_embedded;
    runtime.signOut();
    runtime.access().sweep(); // sessions of earlier tests that the moved clock ended are journalled now
    QCOMPARE(signInAndWait(runtime, QStringLiteral("operator"), password), QString());
    runtime.tags().write(valve, false);
    runtime.advance(2);
    runtime.signOut();
    const qint64 firstRow = runtime.audit().head().id;
    QSignalSpy required(&runtime, &Runtime::signInRequired);
    QVERIFY_THROWS_EXCEPTION(KalvoraError, runtime.tags().write(valve, true));
    QCOMPARE(required.size(), 1);
    QVERIFY(runtime.hasPendingAction());
    // A wrong password keeps the action waiting; the right one carries it out.
    QCOMPARE(signInAndWait(runtime, QStringLiteral("operator"), QStringLiteral("wrong-password")), QStringLiteral("Wrong user name or password."));
    QVERIFY(runtime.hasPendingAction());
    QCOMPARE(signInAndWait(runtime, QStringLiteral("operator"), password), QString());
    QVERIFY(!runtime.hasPendingAction());
    runtime.advance(2);
    QCOMPARE(runtime.tags().value(valve).value.toBool(), true);

    // Idle: the session locks, still naming its user; operating needs the password again.
    m_accessNow += SessionManager::defaultIdleLockMs;
    runtime.access().sweep();
    QVERIFY(!runtime.localSession()->locked); // the project's own idle time counts
    QSignalSpy changed(&runtime, &Runtime::sessionChanged);
    m_accessNow += guardedIdleMs - SessionManager::defaultIdleLockMs;
    runtime.access().sweep();
    QCOMPARE(changed.size(), 1);
    QVERIFY(runtime.localSession() && runtime.localSession()->locked);
    QVERIFY_THROWS_EXCEPTION(KalvoraError, runtime.tags().write(valve, false));
    QCOMPARE(signInAndWait(runtime, QStringLiteral("operator"), password), QString());
    runtime.signOut();

    QStringList rows;
    QList<AuditEntry> journal = runtime.audit().history(100);
    std::reverse(journal.begin(), journal.end());
    for (const AuditEntry& e : std::as_const(journal))
        if (e.id > firstRow)
            rows.append(QStringList{e.action, e.user, e.result}.join(u' '));
    QCOMPARE(rows, (QStringList{QStringLiteral("write ") + qEnvironmentVariable("USER") + QStringLiteral(" refused"),
                       QStringLiteral("sign-in-failed operator refused"), QStringLiteral("sign-in operator ok"), QStringLiteral("write operator ok"),
                       QStringLiteral("lock operator ok"), QStringLiteral("write operator refused"), QStringLiteral("unlock operator ok"),
                       QStringLiteral("write operator ok"), QStringLiteral("sign-out operator ok")}));
    const AuditChain::Verdict verdict = AuditChain::verify(journal, runtime.audit().head());
    QVERIFY2(verdict.ok, qPrintable(verdict.reason));
}

void TestServer::stationSignsInThroughTheServer()
{
    Runtime& station = *m_guardedStation;
    Runtime& server = m_guardedServer->runtime();
    station.signOut();
    AccessStatus status(station);
    QWidget screen;
    screen.setWindowTitle(QStringLiteral("Kalvora"));
    screen.show();
    QCOMPARE(screen.windowTitle(), QStringLiteral("Kalvora — nicht angemeldet"));
    const auto valveBecomes = [&](bool on) {
        return QTest::qWaitFor([&] {
            server.advance(1);
            return server.tags().value(valve).value.toBool() == on;
        });
    };
    const auto signInThroughDialog = [&](const QString& user) {
        QTRY_VERIFY(status.dialog());
        const QList<QLineEdit*> fields = status.dialog()->findChildren<QLineEdit*>();
        QCOMPARE(fields.at(0)->text(), station.localSession() ? station.localSession()->userName : QString());
        fields.at(0)->setText(user);
        fields.at(1)->setText(password);
        QSignalSpy answered(&station, &Runtime::signInFinished);
        status.dialog()->accept();
        // The server checks the password; meanwhile the dialog waits and the station goes on.
        QVERIFY(station.isSigningIn() && !fields.at(1)->isEnabled());
        QVERIFY(answered.wait());
        QCOMPARE(answered.first().first().toString(), QString());
    };

    // A viewer sees the plant but may not open the valve: the refusal asks for a sign-in, and the
    // operator's carries the switch out.
    QCOMPARE(signInAndWait(station, QStringLiteral("viewer"), password), QString());
    QCOMPARE(screen.windowTitle(), QStringLiteral("Kalvora — Betrachter viewer"));
    const bool before = server.tags().value(valve).value.toBool();
    station.tags().write(valve, !before);
    signInThroughDialog(QStringLiteral("operator"));
    QVERIFY(valveBecomes(!before));
    QCOMPARE(screen.windowTitle(), QStringLiteral("Kalvora — Bediener operator"));
    // The token went with the command: the server knows it as station B's, and journals its user.
    const QByteArray token = station.localSession()->token;
    QVERIFY(server.access().sessions().find(token) && server.access().sessions().find(token)->station == QLatin1String("B"));
    QTRY_VERIFY(server.audit().history(1).value(0).action == QLatin1String("write"));
    QCOMPARE(server.audit().history(1).value(0).user, QStringLiteral("operator"));

    // Idle at the server: the station shows the lock at once, the next command asks for the password,
    // which unlocks the same session.
    m_accessNow += guardedIdleMs;
    server.access().sweep();
    QTRY_COMPARE(screen.windowTitle(), QStringLiteral("Kalvora — Bediener operator (gesperrt)"));
    station.tags().write(valve, before);
    signInThroughDialog(QStringLiteral("operator"));
    QVERIFY(valveBecomes(before));
    QCOMPARE(station.localSession()->token, token);
    QCOMPARE(screen.windowTitle(), QStringLiteral("Kalvora — Bediener operator"));

    // An administrator ends the session from elsewhere: the station is signed out at once and says why.
    const QString admin = signInRemote(QStringLiteral("administrator"));
    const QByteArray id = server.access().sessions().find(token)->id;
    QVERIFY(ask(R"({"op":"endSession","user":"x","session":")" + admin.toUtf8() + R"(","id":")" + id + R"("})", guarded).ok);
    QTRY_COMPARE(screen.windowTitle(), QStringLiteral("Kalvora — nicht angemeldet (Sitzung beendet: ended by administrator)"));
    QVERIFY(!station.localSession());
}

void TestServer::clientsShareAResponseTopic()
{
    // A tool with a station's log-in reads that station's answers too: each client takes only its own.
    const KalvoraTopics topics(guarded);
    QList<MqttMessage> unused;
    std::unique_ptr<MqttClient> links[2];
    std::unique_ptr<RequestClient> clients[2];
    for (int i = 0; i < 2; ++i) {
        links[i] = connectStation(QStringLiteral("B"), unused, {topics.response(QStringLiteral("B"))});
        QVERIFY(links[i]);
        clients[i] = std::make_unique<RequestClient>(*links[i], topics, QStringLiteral("B"), nullptr);
        clients[i]->setAvailable(true);
        connect(links[i].get(), &MqttClient::messageReceived, clients[i].get(), [c = clients[i].get()](const MqttMessage& m) { c->handle(m); });
    }
    BusRequest refused; // listing the sessions needs an administrator
    refused.op = BusRequest::Op::Sessions;
    BusRequest viewing;
    viewing.op = BusRequest::Op::Catalogue;
    // Both wait at once, for different answers.
    std::optional<bool> ok[2];
    clients[0]->send(refused, nullptr, [&](const BusReply& r) { ok[0] = r.ok; });
    clients[1]->send(viewing, nullptr, [&](const BusReply& r) { ok[1] = r.ok; });
    QTRY_VERIFY(ok[0] && ok[1]);
    QCOMPARE(*ok[0], false);
    QCOMPARE(*ok[1], true);
}

void TestServer::usersToolEndsSessions_data()
{
    QTest::addColumn<QString>("admin");
    QTest::addColumn<QString>("typed"); // the password typed
    QTest::addColumn<QString>("endId"); // "B": station B's session; empty: list the sessions
    QTest::addColumn<QString>("server"); // --server; empty: the station file's broker
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("says");
    const QString admin = QStringLiteral("administrator");
    const QString b = QStringLiteral("B");
    QTest::newRow("lists") << admin << password << QString() << QString() << 0 << QStringLiteral("\toperator\tB\toperator\tno\n");
    QTest::newRow("ends B's session") << admin << password << b << QString() << 0 << QStringLiteral("done");
    QTest::newRow("operator refused") << QStringLiteral("operator") << password << QString() << QString() << 1
                                      << QStringLiteral("sessions refused: ");
    QTest::newRow("unknown id") << admin << password << QStringLiteral("no-such-id") << QString() << 1 << QStringLiteral("no session \"no-such-id\"");
    QTest::newRow("no broker") << admin << password << QString() << QStringLiteral("mqtt://127.0.0.1:1") << 4
                               << QStringLiteral("cannot log in to the broker 127.0.0.1:1");
    // Last: a failed sign-in makes the station's next one wait a second.
    QTest::newRow("wrong password") << admin << QStringLiteral("wrong-password") << QString() << QString() << 1
                                    << QStringLiteral("sign-in refused: Wrong user name or password.");
}

void TestServer::usersToolEndsSessions()
{
    QFETCH(QString, admin);
    QFETCH(QString, typed);
    QFETCH(QString, endId);
    QFETCH(QString, server);
    QFETCH(int, code);
    QFETCH(QString, says);
    Runtime& station = *m_guardedStation;
    if (!station.localSession() || station.localSession()->userName != QLatin1String("operator"))
        QCOMPARE(signInAndWait(station, QStringLiteral("operator"), password), QString());
    const QByteArray token = station.localSession()->token;
    SessionManager& sessions = m_guardedServer->runtime().access().sessions();
    if (endId == QLatin1String("B"))
        endId = QString::fromLatin1(sessions.find(token)->id);

    // The tool logs in as station B, whose runtime is running.
    QFile login(QDir(m_dir.path()).filePath(QStringLiteral("station-B.json")));
    QVERIFY(login.open(QIODevice::WriteOnly));
    login.write(BrokerSettings::toJson(QStringLiteral("mqtt://127.0.0.1:%1").arg(m_broker.port()), QStringLiteral("B"), QStringLiteral("B-pw")));
    login.close();
    QStringList arguments{QStringLiteral("--project"), guarded, QStringLiteral("--station"), login.fileName()};
    if (!server.isEmpty())
        arguments << QStringLiteral("--server") << server;
    arguments << (endId.isEmpty() ? QStringList{QStringLiteral("sessions"), admin} : QStringList{QStringLiteral("end-session"), admin, endId});
    QProcess tool;
    tool.start(QStringLiteral(KALVORA_USERS), arguments);
    QVERIFY(tool.waitForStarted());
    tool.write(typed.toUtf8() + '\n');
    tool.closeWriteChannel();
    // The server runs in this process: its answers need this event loop while the tool waits.
    QTRY_VERIFY_WITH_TIMEOUT(tool.state() == QProcess::NotRunning, 15000);
    const QString out = QString::fromUtf8(tool.readAllStandardOutput() + tool.readAllStandardError());
    QVERIFY2(out.contains(says), qPrintable(out));
    QCOMPARE(tool.exitCode(), code);

    // B's station hears of its ended session; otherwise it keeps it and its link to the broker.
    if (QByteArray(QTest::currentDataTag()) == "ends B's session") {
        QTRY_VERIFY(!station.localSession());
        QVERIFY(!sessions.find(token));
    } else {
        QVERIFY(station.localSession() && sessions.find(token));
    }
    QCOMPARE(station.tags().value(Runtime::commFaultVariable(station.project())).value.toBool(), false);
    // The tool signed out: no administrator's session is left behind.
    for (const Session& s : sessions.sessions())
        QVERIFY(s.userName != QLatin1String("administrator") || s.station != QLatin1String("B"));
}

QTEST_MAIN(TestServer)
#include "tst_server.moc"
