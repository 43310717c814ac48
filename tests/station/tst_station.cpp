#include "AlarmEngine.h"
#include "AlarmHistoryModel.h"
#include "QMSAlarmLine.h"
#include "AlarmPublisher.h"
#include "ArchiveStore.h"
#include "BrokerConfig.h"
#include "EngineTestSupport.h"
#include "MosquittoBroker.h"
#include "PlantPublisher.h"
#include "RemoteSource.h"
#include "Server.h"
#include "SparkplugCodec.h"
#include "TagStore.h"
#include "TextDatabase.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString project = QStringLiteral("Kalvora");
const QString pump = QStringLiteral("Ch1.Kalvora.WaterPump");
const QString level = QStringLiteral("Ch1.Kalvora.Unit1.WaterTank");
const QString pumpAlarm = QStringLiteral("WaterPump.Off");
const QString renamed = QStringLiteral("Plant2");  // a copy of the project in a folder of that name
constexpr int KeepAliveSeconds = 5;

} // namespace

class TestStation final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void valuesArriveWithQuality();
    void writeReachesThePlantAndEveryStation();
    void acknowledgementSeenByOthersAndLateStations();
    void remoteHistoryEqualsEmbedded();
    void unansweredRequestFails();
    void sequenceGapAsksForRebirth();
    void malformedMessagesDropped_data();
    void malformedMessagesDropped();
    void staleDeathIgnored();
    void startRefused_data();
    void startRefused();
    void brokerGoneAndBack_data();
    void brokerGoneAndBack();
    void serverGoneAndBack();
    void projectFolderNamesTheTopics();

private:
    MqttSettings login(const QString& user) const;
    std::unique_ptr<Runtime> makeStation(const QString& name, const QString& password = {}, const QString& projectsRoot = {});
    void startServer();
    /// Advances the server's plant a tick at a time until `done` holds; false when it never does.
    bool advanceUntil(const std::function<bool()>& done, int timeoutMs = 10000);
    /// A second client with the server's log-in, to send what the server never would.
    bool connectAsServer(MqttClient& client);
    /// Sends a harmless marker through `client` and waits until both stations have it: everything
    /// `client` sent before has reached them by then.
    bool bothStationsPast(MqttClient& client);
    RemoteSource* sourceOf(Runtime& station) { return qobject_cast<RemoteSource*>(station.source()); }

    QTemporaryDir m_dir;
    QString m_projects;
    MosquittoBroker m_broker;
    std::unique_ptr<Server> m_server;
    std::unique_ptr<Runtime> m_a;
    std::unique_ptr<Runtime> m_b;
};

MqttSettings TestStation::login(const QString& user) const
{
    MqttSettings settings;
    settings.port = m_broker.port();
    settings.userName = user;
    settings.password = user + QStringLiteral("-pw");
    settings.keepAliveSeconds = KeepAliveSeconds;
    return settings;
}

std::unique_ptr<Runtime> TestStation::makeStation(const QString& name, const QString& password, const QString& projectsRoot)
{
    RuntimeOptions options;
    options.projectsRoot = projectsRoot.isEmpty() ? m_projects : projectsRoot;
    options.dataDirectory = QDir(m_dir.path()).filePath(QStringLiteral("station-") + name);
    RemoteStationOptions station;
    station.broker = login(name);
    if (!password.isEmpty())
        station.broker.password = password;
    station.user = QStringLiteral("alice");
    station.requestTimeoutMs = 3000;
    options.remoteSource = RemoteSource::factory(station);
    return std::make_unique<Runtime>(options);
}

bool TestStation::connectAsServer(MqttClient& client)
{
    client.setSettings(login(QStringLiteral("server")));
    QSignalSpy connected(&client, &MqttClient::connected);
    client.connectToBroker();
    return connected.wait(10000);
}

bool TestStation::bothStationsPast(MqttClient& client)
{
    // The server's own state of one alarm, sent again: it changes nothing, and the stations announce it.
    const QString marker = QStringLiteral("Unit1.WaterEmpty");
    QSignalSpy changedA(&m_a->alarms(), &AlarmEngine::changed);
    QSignalSpy changedB(&m_b->alarms(), &AlarmEngine::changed);
    client.publish({KalvoraTopics(project).alarm(marker), AlarmPublisher::toJson(m_server->runtime().alarms().alarm(marker)), 1, true, {}, {}});
    return QTest::qWaitFor([&] { return !changedA.isEmpty() && !changedB.isEmpty(); }, 10000);
}

void TestStation::startServer()
{
    ServerOptions options;
    options.runtime = testOptions(m_dir.path(), 1);
    options.project = project;
    options.broker = login(QStringLiteral("server"));
    m_server = std::make_unique<Server>(options);
    QSignalSpy running(m_server.get(), &Server::running);
    m_server->start();
    QVERIFY(running.wait(20000));
}

bool TestStation::advanceUntil(const std::function<bool()>& done, int timeoutMs)
{
    return QTest::qWaitFor(
        [&] {
            if (done())
                return true;
            m_server->runtime().advance(1);
            return false;
        },
        timeoutMs);
}

void TestStation::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_projects = copyProject(m_dir.path());
    m_broker.addAccount(QStringLiteral("server"), QStringLiteral("server-pw"), BrokerConfig::serverAccess(project) + BrokerConfig::serverAccess(renamed));
    m_broker.addAccount(QStringLiteral("R"), QStringLiteral("R-pw"), BrokerConfig::stationAccess(renamed, QStringLiteral("R")));
    for (const QString& station : {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")})
        m_broker.addAccount(station, station + QStringLiteral("-pw"), BrokerConfig::stationAccess(project, station));
    QVERIFY2(m_broker.start(), qPrintable(m_broker.errorString()));
    startServer();
    m_a = makeStation(QStringLiteral("A"));
    m_b = makeStation(QStringLiteral("B"));
    QCOMPARE(startAndWait(*m_a), QString());
    QCOMPARE(startAndWait(*m_b), QString());
}

void TestStation::cleanupTestCase()
{
    m_a.reset();
    m_b.reset();
    if (m_server) {
        QSignalSpy finished(m_server.get(), &Server::finished);
        m_server->stop();
        QCOMPARE(finished.size(), 1);
    }
}

void TestStation::valuesArriveWithQuality()
{
    Runtime& server = m_server->runtime();
    const QString commFault = Runtime::commFaultVariable(server.project());
    QCOMPARE(m_a->state(), Runtime::State::Running);
    QVERIFY(m_a->tags().value(level).isGood());
    QCOMPARE(m_a->tags().value(level).value, server.tags().value(level).value);
    QCOMPARE(m_a->tags().value(commFault).value, QVariant(false));
    // Data by exception: a tick's new level arrives on both stations.
    server.advance(5);
    const QVariant now = server.tags().value(level).value;
    QTRY_COMPARE(m_a->tags().value(level).value, now);
    QTRY_COMPARE(m_b->tags().value(level).value, now);
    QCOMPARE(m_a->tags().value(level).timestampMs, server.tags().value(level).timestampMs);
    // Charts that follow the present hear of new samples as on a runtime that records itself.
    QSignalSpy recorded(&m_a->archive(), &ArchiveStore::recorded);
    QVERIFY(advanceUntil([&] { return !recorded.isEmpty(); }));
}

void TestStation::writeReachesThePlantAndEveryStation()
{
    const bool before = m_server->runtime().tags().value(pump).value.toBool();
    QSignalSpy failed(m_a.get(), &Runtime::writeFailed);
    m_a->tags().write(pump, !before);
    QTRY_COMPARE(m_server->runtime().tags().value(pump).value, QVariant(!before));
    QTRY_COMPARE(m_a->tags().value(pump).value, QVariant(!before));
    QTRY_COMPARE(m_b->tags().value(pump).value, QVariant(!before));
    QCOMPARE(failed.size(), 0);
    m_a->tags().write(pump, before);
    QTRY_COMPARE(m_b->tags().value(pump).value, QVariant(before));
}

void TestStation::acknowledgementSeenByOthersAndLateStations()
{
    m_a->tags().write(pump, false);
    QVERIFY(advanceUntil([&] { return m_b->alarms().alarm(pumpAlarm).state == AlarmState::ActiveUnacknowledged; }));
    QTRY_COMPARE(m_a->alarms().alarm(pumpAlarm).state, AlarmState::ActiveUnacknowledged);
    QVERIFY(m_a->alarms().acknowledgeAlarm(pumpAlarm));
    QTRY_COMPARE(m_b->alarms().alarm(pumpAlarm).state, AlarmState::ActiveAcknowledged);
    QCOMPARE(m_b->alarms().alarm(pumpAlarm).acknowledgedBy, QStringLiteral("A/alice"));
    QCOMPARE(m_server->runtime().alarms().alarm(pumpAlarm).state, AlarmState::ActiveAcknowledged);
    // The mirror does not evaluate: its state stays the server's, whatever its own values say.
    QCOMPARE(m_a->alarms().alarm(pumpAlarm).acknowledgedMs, m_server->runtime().alarms().alarm(pumpAlarm).acknowledgedMs);

    auto late = makeStation(QStringLiteral("C"));
    QCOMPARE(startAndWait(*late), QString());
    const AlarmInfo seen = late->alarms().alarm(pumpAlarm);
    QCOMPARE(seen.state, AlarmState::ActiveAcknowledged);
    QCOMPARE(seen.acknowledgedBy, QStringLiteral("A/alice"));
    QCOMPARE(seen.cameMs, m_server->runtime().alarms().alarm(pumpAlarm).cameMs);
    m_a->tags().write(pump, true);
    QVERIFY(advanceUntil([&] { return m_a->alarms().alarm(pumpAlarm).state == AlarmState::Normal; }));
}

void TestStation::remoteHistoryEqualsEmbedded()
{
    Runtime& server = m_server->runtime();
    const ArchiveDefinition& archive = server.archive().archives().first();
    const QString trend = archive.trends.first().name;
    const qint64 to = server.now();
    const qint64 from = to - 3600 * 1000;
    const QList<ArchiveSample> embedded = server.archive().reduced(archive.name, trend, from, to, 120);
    QVERIFY(embedded.size() > 100);
    QList<ArchiveSample> remote;
    QString error = QStringLiteral("no answer");
    m_a->history().reduced(archive.name, trend, from, to, 120, this, [&](const QList<ArchiveSample>& samples, const QString& e) {
        remote = samples;
        error = e;
    });
    QTRY_COMPARE(error, QString());
    QCOMPARE(remote.size(), embedded.size());
    for (qsizetype i = 0; i < remote.size(); ++i) {
        QCOMPARE(remote.at(i).timeMs, embedded.at(i).timeMs);
        QCOMPARE(remote.at(i).value, embedded.at(i).value);
    }

    // The alarm journal as the history dialog reads it: the count and a page, newest first.
    const AlarmJournalFilter all;
    qint64 count = -1;
    m_a->history().journalCount(all, this, [&count](qint64 c, const QString& e) { count = e.isEmpty() ? c : -2; });
    QTRY_VERIFY(count != -1);
    QCOMPARE(count, server.alarms().journal().count(all));
    QVERIFY(count > 0);
    const QList<AlarmJournalEntry> local = server.alarms().journal().page(all, 0, 50);
    QList<AlarmJournalEntry> page;
    error = QStringLiteral("no answer");
    m_a->history().journalPage(all, 0, 50, this, [&](const QList<AlarmJournalEntry>& entries, const QString& e) {
        page = entries;
        error = e;
    });
    QTRY_COMPARE(error, QString());
    QCOMPARE(page.size(), local.size());
    for (qsizetype i = 0; i < page.size(); ++i) {
        QCOMPARE(page.at(i).id, local.at(i).id);
        QCOMPARE(page.at(i).event, local.at(i).event);
        QCOMPARE(page.at(i).state, local.at(i).state);
        QCOMPARE(page.at(i).station, local.at(i).station);
        QCOMPARE(page.at(i).cameMs, local.at(i).cameMs);
    }

    // The history dialog's model: its total comes after its rows, and a CSV export of more than one
    // export page is, byte for byte, the one the server's own files give.
    QList<AlarmJournalEntry> rows;
    for (int i = 0; i < 4500; ++i)
        rows.append({to - 4500 + i, pumpAlarm, QString(), i % 2 ? QStringLiteral("went") : QStringLiteral("came"),
                     i % 2 ? AlarmState::ReturnedUnacknowledged : AlarmState::ActiveUnacknowledged, to, 0, 0, double(i),
                     QStringLiteral("desk \"%1\"").arg(i)});
    server.alarms().journal().append(rows);
    const auto designation = [](const QString& id) { return id; };
    AlarmHistoryModel remoteModel(*m_a, all, QStringLiteral("dd.MM.yyyy"), QStringLiteral("hh:mm:ss"), designation, nullptr);
    QTRY_COMPARE(remoteModel.totalCount(), count + rows.size());
    AlarmHistoryModel embeddedModel(server, all, QStringLiteral("dd.MM.yyyy"), QStringLiteral("hh:mm:ss"), designation, nullptr);
    const auto exported = [this](const AlarmHistoryModel& model, const QString& name) {
        const QString path = m_dir.filePath(name);
        QString result = QStringLiteral("no answer");
        model.exportCsv(path, [&result](const QString& e) { result = e; });
        if (!QTest::qWaitFor([&result] { return result != QLatin1String("no answer"); }, 10000) || !result.isEmpty())
            return QByteArray("failed: ") + result.toUtf8();
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable");
    };
    const QByteArray remoteCsv = exported(remoteModel, QStringLiteral("remote.csv"));
    QCOMPARE(remoteCsv.count("\r\n"), 1 + count + rows.size());
    QCOMPARE(remoteCsv, exported(embeddedModel, QStringLiteral("embedded.csv")));
}

void TestStation::unansweredRequestFails()
{
    // The server still lives but no longer hears this station's requests.
    const QString requests = KalvoraTopics(project).requestsFilter();
    QVERIFY(m_server->edgeClient().unsubscribe(requests) >= 0);
    // The broker takes a client's packets in order: once this one is acknowledged, so is the above.
    QSignalSpy published(&m_server->edgeClient(), &MqttClient::published);
    m_server->edgeClient().publish({QStringLiteral("kalvora/Kalvora/test"), "-", 1, false, {}, {}});
    QVERIFY(published.wait(5000));
    QSignalSpy failed(m_a.get(), &Runtime::writeFailed);
    QSignalSpy signInAnswer(m_a.get(), &Runtime::signInFinished);
    QElapsedTimer asked;
    asked.start();
    m_a->tags().write(pump, false);
    // A sign-in in flight fails alike: the dialog hears why and takes the next try.
    QVERIFY(m_a->signIn(QStringLiteral("otto"), QStringLiteral("password-1")));
    QVERIFY(failed.wait(6000));
    QCOMPARE(failed.first().at(1).toString(), QStringLiteral("the server did not answer"));
    QTRY_COMPARE(signInAnswer.size(), 1);
    QCOMPARE(signInAnswer.first().first().toString(), QStringLiteral("the server did not answer"));
    QVERIFY(!m_a->isSigningIn());
    QVERIFY(asked.elapsed() >= 2500);  // the time-out of 3 s (a coarse timer may fire 5 % early)
    QSignalSpy subscribed(&m_server->edgeClient(), &MqttClient::subscribed);
    m_server->edgeClient().subscribe(requests, 1);
    QVERIFY(subscribed.wait(5000));
}

void TestStation::sequenceGapAsksForRebirth()
{
    RemoteSource* source = sourceOf(*m_a);
    QVERIFY(source);
    QSignalSpy rebirth(source, &RemoteSource::rebirthRequested);
    // A data message that skips sequence numbers, as if some were lost on the way.
    MqttClient intruder;
    QVERIFY(connectAsServer(intruder));
    SparkplugPayload skip;
    skip.timestampMs = 1;
    skip.seq = (m_server->plant()->bdSeq() + 200) % 256;
    const QString topic = m_server->plant()->topic(SparkplugMessageType::NDATA);
    intruder.publish({topic, SparkplugCodec::encode(skip, SparkplugMessageType::NDATA), 0, false, {}, {}});
    QVERIFY(rebirth.wait(5000));
    QVERIFY(rebirth.first().first().toString().contains(QStringLiteral("did not come")));
    // The new birth brings the station back in step: later data are applied again.
    m_server->runtime().advance(3);
    const QVariant now = m_server->runtime().tags().value(level).value;
    QTRY_COMPARE(m_a->tags().value(level).value, now);
    intruder.disconnectFromBroker();
}

void TestStation::malformedMessagesDropped_data()
{
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("logged");
    const KalvoraTopics topics(project);
    const QString data = SparkplugTopic::node(SparkplugMessageType::NDATA, QStringLiteral("Kalvora"), project).toString();
    QTest::newRow("not protobuf") << data << QByteArray("\xff\xff\xff garbage", 11) << QStringLiteral("Data on .* dropped");
    SparkplugPayload unknownAlias;
    unknownAlias.timestampMs = 1;
    unknownAlias.seq = 1;
    unknownAlias.metrics.append({{}, 99999, 1, SparkplugDataType::Double, 1.0, SparkplugQuality::Good});
    QTest::newRow("unknown alias") << data << SparkplugCodec::encode(unknownAlias, SparkplugMessageType::NDATA)
                                   << QStringLiteral("Data on .* dropped");
    QTest::newRow("alarm not JSON") << topics.alarm(QStringLiteral("Unit1.WaterEmpty")) << QByteArray("{oops")
                                    << QStringLiteral("Alarm state on .*Unit1.WaterEmpty dropped");
    QTest::newRow("alarm of another id") << topics.alarm(QStringLiteral("Unit1.WaterEmpty"))
                                         << QByteArray(R"({"id":"Unit1.FuelEmpty","group":"FCentralAlarms1","state":"normal","cameMs":0,"wentMs":0,"acknowledgedMs":0,"acknowledgedBy":"","value":0,"shelvedUntilMs":0,"shelvedBy":""})")
                                         << QStringLiteral("Alarm state on .* dropped: it names");
    QTest::newRow("status not JSON") << topics.server() << QByteArray("[]") << QStringLiteral("Server status on .* dropped");
}

void TestStation::malformedMessagesDropped()
{
    QFETCH(QString, topic);
    QFETCH(QByteArray, payload);
    QFETCH(QString, logged);
    MqttClient intruder;
    QVERIFY(connectAsServer(intruder));
    // Each station logs it once.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(logged));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(logged));
    QSignalSpy published(&intruder, &MqttClient::published);
    intruder.publish({topic, payload, 1, false, {}, {}});
    QVERIFY(published.wait(5000));
    QVERIFY(bothStationsPast(intruder));
    intruder.disconnectFromBroker();
    // What was dropped left the station as it was.
    QCOMPARE(m_a->state(), Runtime::State::Running);
    QCOMPARE(m_a->tags().value(level).value, m_server->runtime().tags().value(level).value);
    QVERIFY(m_a->tags().value(level).isGood());
}

void TestStation::staleDeathIgnored()
{
    // The will of an older connection of the server, delivered late: the birth held now stands.
    MqttClient intruder;
    QVERIFY(connectAsServer(intruder));
    SparkplugPayload death;
    death.metrics.append({QString(SparkplugCodec::bdSeqMetric), std::nullopt, std::nullopt, SparkplugDataType::Int64,
                          qlonglong((m_server->plant()->bdSeq() + 255) % 256), SparkplugQuality::Good});
    intruder.publish({m_server->plant()->topic(SparkplugMessageType::NDEATH), SparkplugCodec::encode(death, SparkplugMessageType::NDEATH), 1,
                      false, {}, {}});
    QSignalSpy faults(sourceOf(*m_a), &PlantSource::faultChanged);
    QVERIFY(bothStationsPast(intruder));
    intruder.disconnectFromBroker();
    QCOMPARE(faults.size(), 0);
    QVERIFY(m_a->tags().value(level).isGood());
    QVERIFY(sourceOf(*m_a)->hasBirth());
}

void TestStation::startRefused_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("otherProject");
    QTest::addColumn<QString>("reason");
    QTest::newRow("wrong password") << QStringLiteral("wrong") << false << QStringLiteral("refused station \"C\"");
    QTest::newRow("other project copy") << QString() << true << QStringLiteral("The server runs project \"Kalvora\" with fingerprint [0-9a-f]{64}, but this station's copy .* has fingerprint [0-9a-f]{64}");
}

void TestStation::startRefused()
{
    QFETCH(QString, password);
    QFETCH(bool, otherProject);
    QFETCH(QString, reason);
    QString root;
    if (otherProject) {
        root = copyProject(QDir(m_dir.path()).filePath(QStringLiteral("other")));
        QVERIFY(replaceInFile(QDir(root).filePath(QStringLiteral("Kalvora/texts.tsv")), "\n", "\n\n"));
    }
    auto station = makeStation(QStringLiteral("C"), password, root);
    QSignalSpy failed(station.get(), &Runtime::startFailed);
    QSignalSpy started(station.get(), &Runtime::started);
    station->start(project);
    QVERIFY(failed.wait(10000));
    QVERIFY2(QRegularExpression(reason).match(failed.first().first().toString()).hasMatch(), qPrintable(failed.first().first().toString()));
    QCOMPARE(station->state(), Runtime::State::Failed);
    QTest::qWait(1500);  // no second attempt after a refused log-in
    QCOMPARE(started.size(), 0);
    // Reads after the end of the link are answered at once by the station's own (closed) files.
    bool answered = false;
    station->history().journalCount({}, this, [&answered](qint64, const QString&) { answered = true; });
    QVERIFY(answered);
}

void TestStation::brokerGoneAndBack_data()
{
    QTest::addColumn<bool>("kill");
    QTest::newRow("killed") << true;
    QTest::newRow("stopped") << false;
}

void TestStation::brokerGoneAndBack()
{
    QFETCH(bool, kill);
    const QString commFault = Runtime::commFaultVariable(m_a->project());
    QSignalSpy stopped(m_a.get(), &Runtime::stopped);
    // The overview's alarm line of the group, as the operator reads it.
    QMSAlarmLine line(*m_a, nullptr);
    line.setAlarmGroup(m_a->alarms().alarm(QStringLiteral("System.CommFault")).group);
    QElapsedTimer gone;
    gone.start();
    if (kill)
        m_broker.kill();
    else
        m_broker.pause();
    QTRY_VERIFY_WITH_TIMEOUT(m_a->tags().value(level).quality == TagQuality::Bad, KeepAliveSeconds * 1500);
    QVERIFY(gone.elapsed() <= KeepAliveSeconds * 1500);
    QCOMPARE(m_a->tags().value(commFault).value, QVariant(true));
    const AlarmInfo linkAlarm = m_a->alarms().alarm(QStringLiteral("System.CommFault"));
    QCOMPARE(linkAlarm.state, AlarmState::ActiveUnacknowledged);
    QCOMPARE(linkAlarm.text, m_a->texts().text(QStringLiteral("Indextexte"), QString(RemoteSource::ServerLinkText)));
    QVERIFY(!linkAlarm.text.isEmpty() && linkAlarm.text != QString(RemoteSource::ServerLinkText));
    QVERIFY2(line.text().endsWith(linkAlarm.text), qPrintable(line.text()));
    // A command without a server fails at once, and says why.
    QSignalSpy failed(m_a.get(), &Runtime::writeFailed);
    m_a->tags().write(pump, false);
    QVERIFY(failed.wait(1000));
    QCOMPARE(failed.first().at(1).toString(), QStringLiteral("no connection to the server"));
    // A station switched on meanwhile says that it waits for the broker, and starts once it is back.
    std::unique_ptr<Runtime> late;
    std::unique_ptr<QSignalSpy> lateStarted;
    if (kill) {
        late = makeStation(QStringLiteral("C"));
        QSignalSpy progress(late.get(), &Runtime::progress);
        lateStarted = std::make_unique<QSignalSpy>(late.get(), &Runtime::started);
        late->start(project);
        QTRY_VERIFY(!progress.isEmpty() && progress.last().first().toString().contains(QStringLiteral(": kein Broker unter ")));
    }

    if (kill)
        QVERIFY2(m_broker.start(), qPrintable(m_broker.errorString()));
    else
        m_broker.resume();
    QVERIFY(advanceUntil([&] { return m_a->tags().value(level).isGood() && m_b->tags().value(level).isGood(); }, 40000));
    QTRY_COMPARE(m_a->tags().value(commFault).value, QVariant(false));
    // The server's own state of the alarm replaces the station's word.
    QTRY_COMPARE(m_a->alarms().alarm(QStringLiteral("System.CommFault")).state, AlarmState::Normal);
    QCOMPARE(stopped.size(), 0);
    QCOMPARE(m_a->state(), Runtime::State::Running);
    if (late)
        QVERIFY(lateStarted->size() == 1 || lateStarted->wait(10000));
}

void TestStation::serverGoneAndBack()
{
    const QString commFault = Runtime::commFaultVariable(m_a->project());
    {
        QSignalSpy finished(m_server.get(), &Server::finished);
        m_server->stop();
        QVERIFY(finished.size() == 1 || finished.wait(10000));
    }
    QTRY_VERIFY_WITH_TIMEOUT(m_a->tags().value(level).quality == TagQuality::Bad, 5000);
    QCOMPARE(m_b->tags().value(level).quality, TagQuality::Bad);
    QCOMPARE(m_a->tags().value(commFault).value, QVariant(true));
    // A station switched on meanwhile waits for the server, says so, and starts once it is back.
    auto late = makeStation(QStringLiteral("C"));
    QSignalSpy progress(late.get(), &Runtime::progress);
    QSignalSpy lateStarted(late.get(), &Runtime::started);
    late->start(project);
    QTRY_VERIFY(!progress.isEmpty() && progress.last().first().toString().endsWith(QStringLiteral("der Server des Projekts \"Kalvora\" läuft nicht")));
    QCOMPARE(late->state(), Runtime::State::Starting);
    m_server.reset();
    startServer();
    QVERIFY(lateStarted.wait(10000));
    QTRY_VERIFY_WITH_TIMEOUT(m_a->tags().value(level).isGood() && m_b->tags().value(level).isGood(), 10000);
    QCOMPARE(m_a->tags().value(commFault).value, QVariant(false));
    QCOMPARE(m_a->state(), Runtime::State::Running);
}

void TestStation::projectFolderNamesTheTopics()
{
    // The project copied under another folder name: server and station both name the plant after it.
    const QString root = QDir(m_dir.path()).filePath(QStringLiteral("renamed"));
    const QString projects = copyProject(root);
    QVERIFY(QDir(projects).rename(project, renamed));
    ServerOptions options;
    options.runtime = testOptions(root);
    options.project = renamed;
    options.broker = login(QStringLiteral("server"));
    Server server(options);
    QSignalSpy running(&server, &Server::running);
    server.start();
    QVERIFY(running.wait(20000));
    const std::unique_ptr<Runtime> station = makeStation(QStringLiteral("R"), {}, projects);
    QCOMPARE(startAndWait(*station, renamed), QString());
    QCOMPARE(station->tags().value(level).value, server.runtime().tags().value(level).value);
    QSignalSpy finished(&server, &Server::finished);
    server.stop();
    QVERIFY(finished.size() == 1 || finished.wait(10000));
}

QTEST_MAIN(TestStation)
#include "tst_station.moc"
