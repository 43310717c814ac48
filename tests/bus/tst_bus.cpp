#include "MosquittoBroker.h"
#include "MqttClient.h"
#include "SparkplugCodec.h"
#include "SparkplugEdgeSession.h"
#include "SparkplugHostState.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>
#include <QTest>

#include <limits>
#include <memory>

using Type = SparkplugDataType;
using Quality = SparkplugQuality;

namespace {

// Hand-written protobuf, for payloads our own encoder would never produce.
QByteArray varint(quint64 value)
{
    QByteArray out;
    do {
        char byte = static_cast<char>(value & 0x7f);
        value >>= 7;
        if (value)
            byte = static_cast<char>(byte | 0x80);
        out += byte;
    } while (value);
    return out;
}

QByteArray number(int field, quint64 value)
{
    return varint(static_cast<quint64>(field) << 3) + varint(value);
}

QByteArray bytes(int field, const QByteArray& content)
{
    return varint((static_cast<quint64>(field) << 3) | 2) + varint(static_cast<quint64>(content.size())) + content;
}

QByteArray metric(const QByteArray& name, quint32 datatype, const QByteArray& rest)
{
    return bytes(2, (name.isEmpty() ? QByteArray() : bytes(1, name)) + (datatype ? number(4, datatype) : QByteArray()) + rest);
}

QByteArray quality(quint32 type, quint64 code)
{
    return bytes(9, bytes(1, "Quality") + bytes(2, number(1, type) + number(3, code)));
}

const QByteArray stamp = number(1, 1700000000000);
const QByteArray bdSeq = metric("bdSeq", 4, number(11, 0));

} // namespace

class TestBus final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void codecRoundTrip_data();
    void codecRoundTrip();
    void tagTypes();
    void edgeSession();
    void decodeBadInput_data();
    void decodeBadInput();
    void topics_data();
    void topics();
    void hostState_data();
    void hostState();

    void requestAndResponse();
    void smallMessagesNotHeldBack();
    void refusedLogin_data();
    void refusedLogin();
    void tls_data();
    void tls();
    void accessListRefusesPublish();
    void willOfAClientThatDies();
    void keepAliveNoticesStoppedBroker();
    void reconnectAfterBrokerKilled();

private:
    MqttSettings login(const QString& user, const QString& password) const;
    std::unique_ptr<MqttClient> connectedClient(const QString& user, const QString& password, int keepAlive = 30,
        const std::optional<MqttWill>& will = {});
    static bool subscribe(MqttClient& client, const QString& filter);

    MosquittoBroker m_broker;
};

void TestBus::initTestCase()
{
    m_broker.addAccount(QStringLiteral("server"), QStringLiteral("server-pw"), {QStringLiteral("topic readwrite #")});
    m_broker.addAccount(QStringLiteral("station"), QStringLiteral("station-pw"),
        {QStringLiteral("topic read kalvora/#"), QStringLiteral("topic write kalvora/request/station/#")});
    QVERIFY2(m_broker.enableTls(), qPrintable(m_broker.errorString()));
    QVERIFY2(m_broker.start(), qPrintable(m_broker.errorString()));
}

void TestBus::codecRoundTrip_data()
{
    QTest::addColumn<Type>("type");
    QTest::addColumn<QVariant>("input");
    QTest::addColumn<QVariant>("expected");
    QTest::addColumn<Quality>("quality");
    QTest::addColumn<Quality>("expectedQuality");
    const auto good = Quality::Good;
    const auto bad = Quality::Bad;
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC);

    QTest::newRow("Boolean") << Type::Boolean << QVariant(true) << QVariant(true) << good << good;
    QTest::newRow("Boolean from 1") << Type::Boolean << QVariant(1) << QVariant(true) << good << good;
    QTest::newRow("Int8 minimum") << Type::Int8 << QVariant(-128) << QVariant(-128) << good << good;
    QTest::newRow("Int16 minimum") << Type::Int16 << QVariant(-32768) << QVariant(-32768) << good << good;
    QTest::newRow("Int16 out of range goes bad") << Type::Int16 << QVariant(40000) << QVariant() << good << bad;
    QTest::newRow("Int32 minimum") << Type::Int32 << QVariant(std::numeric_limits<int>::min())
                                   << QVariant(std::numeric_limits<int>::min()) << good << good;
    QTest::newRow("Int32 from whole double") << Type::Int32 << QVariant(3.0) << QVariant(3) << good << good;
    QTest::newRow("Int32 from fraction goes bad") << Type::Int32 << QVariant(3.5) << QVariant() << good << bad;
    QTest::newRow("Int64 minimum") << Type::Int64 << QVariant(std::numeric_limits<qlonglong>::min())
                                   << QVariant(std::numeric_limits<qlonglong>::min()) << good << good;
    QTest::newRow("UInt8 from negative goes bad") << Type::UInt8 << QVariant(-1) << QVariant() << good << bad;
    QTest::newRow("UInt32 maximum") << Type::UInt32 << QVariant(std::numeric_limits<uint>::max())
                                    << QVariant(std::numeric_limits<uint>::max()) << good << good;
    QTest::newRow("UInt64 maximum") << Type::UInt64 << QVariant(std::numeric_limits<qulonglong>::max())
                                    << QVariant(std::numeric_limits<qulonglong>::max()) << good << good;
    QTest::newRow("Float") << Type::Float << QVariant(1.5) << QVariant(1.5f) << good << good;
    QTest::newRow("Double") << Type::Double << QVariant(-0.25) << QVariant(-0.25) << good << good;
    QTest::newRow("Double infinity") << Type::Double << QVariant(std::numeric_limits<double>::infinity())
                                     << QVariant(std::numeric_limits<double>::infinity()) << good << good;
    QTest::newRow("String") << Type::String << QVariant(QStringLiteral("Kessel 1 – Temperatur °C äöü"))
                            << QVariant(QStringLiteral("Kessel 1 – Temperatur °C äöü")) << good << good;
    QTest::newRow("String empty") << Type::String << QVariant(QString()) << QVariant(QString()) << good << good;
    QTest::newRow("String from number goes bad") << Type::String << QVariant(5) << QVariant() << good << bad;
    QTest::newRow("Text") << Type::Text << QVariant(QStringLiteral("a\nb")) << QVariant(QStringLiteral("a\nb")) << good << good;
    QTest::newRow("DateTime") << Type::DateTime << QVariant(time) << QVariant(time) << good << good;
    QTest::newRow("Bytes") << Type::Bytes << QVariant(QByteArray("\0\x01\xff", 3)) << QVariant(QByteArray("\0\x01\xff", 3))
                           << good << good;
    QTest::newRow("no reading, bad") << Type::Double << QVariant() << QVariant() << bad << bad;
    QTest::newRow("no reading, stale") << Type::Boolean << QVariant() << QVariant() << Quality::Stale << Quality::Stale;
    QTest::newRow("stale value") << Type::Double << QVariant(7.5) << QVariant(7.5) << Quality::Stale << Quality::Stale;
    QTest::newRow("bad value with reading") << Type::Int32 << QVariant(12) << QVariant(12) << bad << bad;
}

void TestBus::codecRoundTrip()
{
    QFETCH(Type, type);
    QFETCH(QVariant, input);
    QFETCH(QVariant, expected);
    QFETCH(Quality, quality);
    QFETCH(Quality, expectedQuality);

    SparkplugPayload payload;
    payload.timestampMs = 1700000000000;
    payload.seq = 17;
    payload.metrics << SparkplugMetric{QStringLiteral("Ch1.Kalvora.Unit1.Boiler.Temperature"), std::nullopt, 1700000000001,
        type, input, quality};
    const auto decoded = SparkplugCodec::decode(SparkplugCodec::encode(payload, SparkplugMessageType::NDATA),
        SparkplugMessageType::NDATA);
    QVERIFY2(decoded.ok(), qPrintable(decoded.error));
    QCOMPARE(decoded.value->seq, payload.seq);
    QCOMPARE(decoded.value->timestampMs, payload.timestampMs);
    QCOMPARE(decoded.value->metrics.size(), 1);
    const SparkplugMetric& out = decoded.value->metrics.first();
    QCOMPARE(out.name, payload.metrics.first().name);
    QCOMPARE(out.timestampMs, payload.metrics.first().timestampMs);
    QCOMPARE(out.type, type);
    QCOMPARE(out.value.metaType(), expected.metaType());
    QCOMPARE(out.value, expected);
    QCOMPARE(out.quality, expectedQuality);
}

void TestBus::tagTypes()
{
    // The runtime's variable types: Bool, Int, Double, String.
    QCOMPARE(sparkplugDataTypeFor(QMetaType::fromType<bool>()), Type::Boolean);
    QCOMPARE(sparkplugDataTypeFor(QMetaType::fromType<int>()), Type::Int32);
    QCOMPARE(sparkplugDataTypeFor(QMetaType::fromType<double>()), Type::Double);
    QCOMPARE(sparkplugDataTypeFor(QMetaType::fromType<QString>()), Type::String);
    QCOMPARE(sparkplugDataTypeFor(QMetaType::fromType<QVariantList>()), Type::Unknown);
}

void TestBus::edgeSession()
{
    SparkplugEdgeSession session;
    session.beginConnection();
    QCOMPARE(session.bdSeq(), 0u);
    const auto death = SparkplugCodec::decode(SparkplugCodec::encode(session.death(), SparkplugMessageType::NDEATH),
        SparkplugMessageType::NDEATH);
    QVERIFY2(death.ok(), qPrintable(death.error));
    QVERIFY(!death.value->seq);
    QCOMPARE(death.value->metric(QStringLiteral("bdSeq"))->value, QVariant(0LL));

    const QString level = QStringLiteral("Ch1.Kalvora.Unit1.Tank.Level");
    SparkplugPayload birth = session.birth({SparkplugMetric{level, 7, 1000, Type::Double, 2.5, Quality::Good}}, 1000);
    const auto born = SparkplugCodec::decode(SparkplugCodec::encode(birth, SparkplugMessageType::NBIRTH), SparkplugMessageType::NBIRTH);
    QVERIFY2(born.ok(), qPrintable(born.error));
    QCOMPARE(born.value->seq, 0u);
    QCOMPARE(born.value->metric(QStringLiteral("Node Control/Rebirth"))->value, QVariant(false));
    QCOMPARE(born.value->metric(level)->value, QVariant(2.5));

    // Data travel by alias alone and are read back through the birth's table.
    const SparkplugAliasTable aliases(*born.value);
    const QByteArray data = SparkplugCodec::encode(session.data({SparkplugMetric{{}, 7, 1100, Type::Double, 3.5, Quality::Good}}, 1100),
        SparkplugMessageType::NDATA);
    QVERIFY(!data.contains(level.toUtf8()));
    const auto read = SparkplugCodec::decode(data, SparkplugMessageType::NDATA, &aliases);
    QVERIFY2(read.ok(), qPrintable(read.error));
    QCOMPARE(read.value->seq, 1u);
    QCOMPARE(read.value->metrics.first().name, level);
    QCOMPARE(read.value->metrics.first().value, QVariant(3.5));

    SparkplugPayload last;
    for (int i = 0; i < 255; ++i)
        last = session.data({}, 1200);
    QCOMPARE(last.seq, 0u);
    for (int i = 0; i < 255; ++i)
        session.beginConnection();
    QCOMPARE(session.bdSeq(), 255u);
    session.beginConnection();
    QCOMPARE(session.bdSeq(), 0u);

    for (const bool value : {true, false}) {
        SparkplugPayload command;
        command.metrics << SparkplugMetric{QStringLiteral("Node Control/Rebirth"), std::nullopt, std::nullopt, Type::Boolean, value, Quality::Good};
        const auto decoded = SparkplugCodec::decode(SparkplugCodec::encode(command, SparkplugMessageType::NCMD), SparkplugMessageType::NCMD);
        QVERIFY2(decoded.ok(), qPrintable(decoded.error));
        QCOMPARE(SparkplugEdgeSession::isRebirthRequest(*decoded.value), value);
    }
}

void TestBus::decodeBadInput_data()
{
    QTest::addColumn<SparkplugMessageType>("type");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("error");
    const auto data = SparkplugMessageType::NDATA;
    const auto birth = SparkplugMessageType::NBIRTH;
    const QByteArray seq = number(3, 0);
    const QByteArray int1 = number(10, 1);

    QTest::newRow("garbage") << data << QByteArray("\xff\xff\xff\xff\xff", 5) << "broken protobuf";
    QTest::newRow("truncated") << data << (stamp + metric("Level", 10, number(13, 0))).chopped(3) << "broken protobuf";
    QTest::newRow("huge") << data << QByteArray(SparkplugCodec::defaultMaxBytes + 1, '\0') << "above the limit";
    QTest::newRow("empty data") << data << QByteArray() << "no sequence number";
    QTest::newRow("sequence above 255") << data << stamp + number(3, 256) << "above 255";
    QTest::newRow("data without time stamp") << data << seq << "no time stamp";
    QTest::newRow("unknown alias") << data << stamp + bytes(2, number(2, 99) + number(13, 0)) + seq << "alias no birth declared";
    QTest::newRow("alias of another metric") << data << stamp + metric("Other", 10, number(2, 1) + number(13, 0)) + seq
                                             << "has the alias of \"Level\"";
    QTest::newRow("neither name nor alias") << data << stamp + metric({}, 3, int1) + seq << "neither name nor alias";
    QTest::newRow("no data type anywhere") << data << stamp + metric("Other", 0, int1) + seq << "no data type";
    QTest::newRow("type differs from birth") << data << stamp + metric("Level", 3, int1) + seq << "the birth said Double";
    QTest::newRow("wrong value field") << data << stamp + metric("x", 3, number(14, 1)) + seq << "Int32 but carries a boolean";
    QTest::newRow("Int8 out of range") << data << stamp + metric("x", 1, number(10, 200)) + seq << "out of the range of Int8";
    QTest::newRow("no value, not null") << data << stamp + metric("x", 3, {}) + seq << "has no value";
    QTest::newRow("data set not carried") << data << stamp + metric("x", 16, {}) + seq << "not carried";
    QTest::newRow("unknown quality code") << data << stamp + metric("x", 3, int1 + quality(3, 7)) + seq << "Quality 7";
    QTest::newRow("quality not Int32") << data << stamp + metric("x", 3, int1 + quality(12, 0)) + seq << "not an Int32";
    QTest::newRow("property keys without values") << data << stamp + metric("x", 3, int1 + bytes(9, bytes(1, "Quality"))) + seq
                                                  << "1 keys but 0 values";
    QTest::newRow("birth without bdSeq") << birth << stamp + metric("x", 3, int1) + seq << "no bdSeq";
    QTest::newRow("birth bdSeq above 255") << birth << stamp + metric("bdSeq", 4, number(11, 300)) + seq << "bdSeq that is not";
    QTest::newRow("birth metric without type") << birth << stamp + bdSeq + metric("x", 0, int1) + seq << "has no data type";
    QTest::newRow("birth metric without name") << birth << stamp + bdSeq + metric({}, 3, int1) + seq << "has no name";
    QTest::newRow("birth alias twice") << birth
                                       << stamp + bdSeq + metric("a", 3, number(2, 5) + int1) + metric("b", 3, number(2, 5) + int1) + seq
                                       << "repeats an alias";
}

void TestBus::decodeBadInput()
{
    QFETCH(SparkplugMessageType, type);
    QFETCH(QByteArray, input);
    QFETCH(QString, error);
    SparkplugAliasTable aliases;
    aliases.add(1, QStringLiteral("Level"), Type::Double);
    const auto decoded = SparkplugCodec::decode(input, type, &aliases);
    QVERIFY(!decoded.ok());
    QVERIFY2(decoded.error.contains(error), qPrintable(decoded.error));
}

void TestBus::topics_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error");     // empty: parses
    QTest::addColumn<SparkplugTopic>("expected");
    const auto node = [](SparkplugMessageType type) { return SparkplugTopic::node(type, QStringLiteral("Kalvora"), QStringLiteral("Plant 1")); };
    SparkplugTopic device = node(SparkplugMessageType::DDATA);
    device.deviceId = QStringLiteral("PLC");

    QTest::newRow("NBIRTH") << "spBv1.0/Kalvora/NBIRTH/Plant 1" << QString() << node(SparkplugMessageType::NBIRTH);
    QTest::newRow("NDATA") << "spBv1.0/Kalvora/NDATA/Plant 1" << QString() << node(SparkplugMessageType::NDATA);
    QTest::newRow("NDEATH") << "spBv1.0/Kalvora/NDEATH/Plant 1" << QString() << node(SparkplugMessageType::NDEATH);
    QTest::newRow("NCMD") << "spBv1.0/Kalvora/NCMD/Plant 1" << QString() << node(SparkplugMessageType::NCMD);
    QTest::newRow("DDATA") << "spBv1.0/Kalvora/DDATA/Plant 1/PLC" << QString() << device;
    QTest::newRow("STATE") << "spBv1.0/STATE/station-2" << QString() << SparkplugTopic::state(QStringLiteral("station-2"));
    QTest::newRow("other name space") << "spAv1.0/Kalvora/NDATA/Plant 1" << "name space" << SparkplugTopic();
    QTest::newRow("old STATE form") << "STATE/station-2" << "name space" << SparkplugTopic();
    QTest::newRow("STATE without host") << "spBv1.0/STATE/" << "no valid host id" << SparkplugTopic();
    QTest::newRow("unknown type") << "spBv1.0/Kalvora/NFOO/Plant 1" << "unknown message type" << SparkplugTopic();
    QTest::newRow("STATE in a group") << "spBv1.0/Kalvora/STATE/Plant 1" << "unknown message type" << SparkplugTopic();
    QTest::newRow("node type with device") << "spBv1.0/Kalvora/NDATA/Plant 1/PLC" << "takes no a device id" << SparkplugTopic();
    QTest::newRow("device type without device") << "spBv1.0/Kalvora/DDATA/Plant 1" << "needs a device id" << SparkplugTopic();
    QTest::newRow("empty edge node") << "spBv1.0/Kalvora/NDATA/" << "empty or reserved" << SparkplugTopic();
    QTest::newRow("wildcard as edge node") << "spBv1.0/Kalvora/NDATA/+" << "empty or reserved" << SparkplugTopic();
    QTest::newRow("too deep") << "spBv1.0/Kalvora/DDATA/Plant 1/PLC/x" << "6 levels" << SparkplugTopic();
    QTest::newRow("too short") << "spBv1.0/Kalvora" << "2 levels" << SparkplugTopic();
}

void TestBus::topics()
{
    QFETCH(QString, text);
    QFETCH(QString, error);
    QFETCH(SparkplugTopic, expected);
    const auto parsed = SparkplugTopic::parse(text);
    if (!error.isEmpty()) {
        QVERIFY(!parsed.ok());
        QVERIFY2(parsed.error.contains(error), qPrintable(parsed.error));
        return;
    }
    QVERIFY2(parsed.ok(), qPrintable(parsed.error));
    QVERIFY(*parsed.value == expected);
    QCOMPARE(expected.toString(), text);
    // An id that would split differently is never turned into a topic.
    SparkplugTopic broken = expected;
    (expected.type == SparkplugMessageType::STATE ? broken.hostId : broken.edgeNodeId) += QStringLiteral("/x");
    QVERIFY(broken.toString().isEmpty());
}

void TestBus::hostState_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("error");

    QTest::newRow("online") << QByteArray(R"({"online":true,"timestamp":1700000000000})") << QString();
    QTest::newRow("offline") << QByteArray(R"({"timestamp":5,"online":false})") << QString();
    QTest::newRow("not JSON") << QByteArray("online") << "not JSON";
    QTest::newRow("array") << QByteArray("[true,1]") << "not a JSON object";
    QTest::newRow("online as text") << QByteArray(R"({"online":"true","timestamp":1})") << "boolean";
    QTest::newRow("no timestamp") << QByteArray(R"({"online":true})") << "timestamp";
    QTest::newRow("negative timestamp") << QByteArray(R"({"online":true,"timestamp":-1})") << "timestamp";
    QTest::newRow("fractional timestamp") << QByteArray(R"({"online":true,"timestamp":1.5})") << "timestamp";
}

void TestBus::hostState()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, error);
    const auto parsed = SparkplugHostState::parse(json);
    if (!error.isEmpty()) {
        QVERIFY(!parsed.ok());
        QVERIFY2(parsed.error.contains(error), qPrintable(parsed.error));
        return;
    }
    QVERIFY2(parsed.ok(), qPrintable(parsed.error));
    QCOMPARE(SparkplugHostState::parse(parsed.value->toJson()).value, parsed.value);
}

MqttSettings TestBus::login(const QString& user, const QString& password) const
{
    MqttSettings settings;
    settings.port = m_broker.port();
    settings.userName = user;
    settings.password = password;
    return settings;
}

std::unique_ptr<MqttClient> TestBus::connectedClient(const QString& user, const QString& password, int keepAlive,
    const std::optional<MqttWill>& will)
{
    auto client = std::make_unique<MqttClient>();
    client->setWill(will);
    MqttSettings settings = login(user, password);
    settings.keepAliveSeconds = keepAlive;
    client->setSettings(settings);
    QSignalSpy connected(client.get(), &MqttClient::connected);
    client->connectToBroker();
    if (!connected.wait(10000))
        return nullptr;
    return client;
}

bool TestBus::subscribe(MqttClient& client, const QString& filter)
{
    QSignalSpy acknowledged(&client, &MqttClient::subscribed);
    const int id = client.subscribe(filter, 1);
    return id > 0 && acknowledged.wait(5000) && acknowledged.first().first().toInt() == id;
}

void TestBus::requestAndResponse()
{
    const auto server = connectedClient(QStringLiteral("server"), QStringLiteral("server-pw"));
    const auto station = connectedClient(QStringLiteral("station"), QStringLiteral("station-pw"));
    QVERIFY(server && station);
    QVERIFY(subscribe(*server, QStringLiteral("kalvora/request/#")));
    QVERIFY(subscribe(*station, QStringLiteral("kalvora/response/station/#")));
    QSignalSpy serverGot(server.get(), &MqttClient::messageReceived);
    QSignalSpy stationGot(station.get(), &MqttClient::messageReceived);

    const QByteArray correlation("\0\x01request-17", 12);
    QVERIFY(station->publish({QStringLiteral("kalvora/request/station/write"), R"({"variable":"Pump","value":false})", 1, false,
                QStringLiteral("kalvora/response/station/1"), correlation})
        > 0);
    QVERIFY(serverGot.wait(5000));
    const auto request = serverGot.first().first().value<MqttMessage>();
    QCOMPARE(request.topic, QStringLiteral("kalvora/request/station/write"));
    QCOMPARE(request.payload, QByteArray(R"({"variable":"Pump","value":false})"));
    QCOMPARE(request.qos, 1);
    QCOMPARE(request.responseTopic, QStringLiteral("kalvora/response/station/1"));
    QCOMPARE(request.correlationData, correlation);

    QVERIFY(server->publish({request.responseTopic, "done", 1, false, {}, request.correlationData}) > 0);
    QVERIFY(stationGot.wait(5000));
    const auto answer = stationGot.first().first().value<MqttMessage>();
    QCOMPARE(answer.payload, QByteArray("done"));
    QCOMPARE(answer.correlationData, correlation);
    QVERIFY(answer.responseTopic.isEmpty());
}

void TestBus::smallMessagesNotHeldBack()
{
    // Requests answered at once, as an acknowledgement: the answer follows the request's PUBACK on the
    // same socket, and with Nagle it waited for the broker's delayed ack of that, some 40 ms.
    const auto server = connectedClient(QStringLiteral("server"), QStringLiteral("server-pw"));
    const auto station = connectedClient(QStringLiteral("station"), QStringLiteral("station-pw"));
    QVERIFY(server && station);
    QVERIFY(subscribe(*server, QStringLiteral("kalvora/request/#")));
    QVERIFY(subscribe(*station, QStringLiteral("kalvora/response/station/#")));
    connect(server.get(), &MqttClient::messageReceived, this, [&](const MqttMessage& m) {
        server->publish({m.responseTopic, "done", 1, false, {}, m.correlationData});
    });
    QElapsedTimer clock;
    std::vector<double> roundTripsMs;
    connect(station.get(), &MqttClient::messageReceived, this, [&] { roundTripsMs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6); });
    for (int n = 1; n <= 15; ++n) {
        clock.start();
        station->publish({QStringLiteral("kalvora/request/station/ack"), "{}", 1, false, QStringLiteral("kalvora/response/station/1"), "c"});
        QTRY_COMPARE_WITH_TIMEOUT(roundTripsMs.size(), std::size_t(n), 5000);
    }
    std::sort(roundTripsMs.begin(), roundTripsMs.end());
    const double median = roundTripsMs[roundTripsMs.size() / 2];
    // Delayed acks wait at least 40 ms; a loaded machine is well below that without Nagle.
    QVERIFY2(median < 35.0, qPrintable(QStringLiteral("median %1 ms").arg(median)));
}

void TestBus::refusedLogin_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("reason");
    // mosquitto answers every failed password check with "not authorised" (135).
    QTest::newRow("wrong password") << "station" << "server-pw" << "refused the log-in of user \"station\": Not authorized";
    QTest::newRow("unknown user") << "nobody" << "x" << "refused the log-in of user \"nobody\": Not authorized";
    QTest::newRow("no user") << "" << "" << "Not authorized";
}

void TestBus::refusedLogin()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, reason);
    MqttClient client;
    client.setSettings(login(user, password));
    client.setBackOff(50, 50);  // a retry, if there were one, would come at once
    QSignalSpy failed(&client, &MqttClient::connectFailed);
    QSignalSpy attempts(&client, &MqttClient::connecting);
    client.connectToBroker();
    QVERIFY(failed.wait(5000));
    QVERIFY2(failed.first().at(0).toString().contains(reason), qPrintable(failed.first().at(0).toString()));
    QCOMPARE(failed.first().at(1).toBool(), false);
    QCOMPARE(client.state(), MqttClient::State::Refused);
    QVERIFY(!attempts.wait(1000));
    QCOMPARE(client.connectionAttempts(), 1);
    QCOMPARE(failed.size(), 1);
}

void TestBus::tls_data()
{
    QTest::addColumn<bool>("rightCa");
    QTest::newRow("broker's certificate") << true;
    QTest::newRow("unknown certificate") << false;
}

void TestBus::tls()
{
    QFETCH(bool, rightCa);
    MqttClient client;
    MqttSettings settings = login(QStringLiteral("server"), QStringLiteral("server-pw"));
    settings.port = m_broker.tlsPort();
    // Any certificate but the broker's: the system's bundle does not vouch for a self-signed one.
    settings.caFile = rightCa ? m_broker.caFile() : QStringLiteral("/etc/ssl/certs/ca-certificates.crt");
    client.setSettings(settings);
    QSignalSpy connected(&client, &MqttClient::connected);
    QSignalSpy failed(&client, &MqttClient::connectFailed);
    client.connectToBroker();
    if (!rightCa) {
        QTRY_VERIFY_WITH_TIMEOUT(!failed.isEmpty(), 10000);
        QVERIFY2(failed.first().first().toString().contains(QStringLiteral("TLS")), qPrintable(failed.first().first().toString()));
        QTRY_VERIFY_WITH_TIMEOUT(failed.size() >= 2, 5000);  // the retry fails as promptly, it does not hang
        QVERIFY(!client.isConnected());
        return;
    }
    QVERIFY(connected.wait(10000));
    QVERIFY(subscribe(client, QStringLiteral("kalvora/tls")));
    QSignalSpy got(&client, &MqttClient::messageReceived);
    QVERIFY(client.publish({QStringLiteral("kalvora/tls"), QByteArray(100000, 'x'), 1, false, {}, {}}) > 0);
    QVERIFY(got.wait(5000));
    QCOMPARE(got.first().first().value<MqttMessage>().payload.size(), 100000);
}

void TestBus::accessListRefusesPublish()
{
    const auto server = connectedClient(QStringLiteral("server"), QStringLiteral("server-pw"));
    const auto station = connectedClient(QStringLiteral("station"), QStringLiteral("station-pw"));
    QVERIFY(server && station);
    QVERIFY(subscribe(*server, QStringLiteral("kalvora/#")));
    QSignalSpy serverGot(server.get(), &MqttClient::messageReceived);
    QSignalSpy acknowledged(station.get(), &MqttClient::published);

    const int refused = station->publish({QStringLiteral("kalvora/plant/Level"), "99", 1, false, {}, {}});
    QVERIFY(refused > 0);
    QVERIFY(acknowledged.wait(5000));
    QCOMPARE(acknowledged.first().at(0).toInt(), refused);
    QCOMPARE(acknowledged.first().at(1).toInt(), 135);
    // The broker handles one client's messages in order: had it passed on the refused one, the
    // server would see it before this one.
    QVERIFY(station->publish({QStringLiteral("kalvora/request/station/ping"), "1", 1, false, {}, {}}) > 0);
    QVERIFY(serverGot.wait(5000));
    QCOMPARE(serverGot.size(), 1);
    QCOMPARE(serverGot.first().first().value<MqttMessage>().topic, QStringLiteral("kalvora/request/station/ping"));
}

void TestBus::willOfAClientThatDies()
{
    const QString willTopic = QStringLiteral("kalvora/request/station/will");
    const auto observer = connectedClient(QStringLiteral("server"), QStringLiteral("server-pw"));
    QVERIFY(observer);
    QVERIFY(subscribe(*observer, willTopic));
    QSignalSpy got(observer.get(), &MqttClient::messageReceived);

    // A clean disconnection drops the will...
    {
        const auto polite = connectedClient(QStringLiteral("station"), QStringLiteral("station-pw"), 30, MqttWill{willTopic, "clean", 1, false});
        QVERIFY(polite);
        polite->disconnectFromBroker();
    }
    // ...and a client that dies has the broker publish it.
    QProcess child;
    child.start(QCoreApplication::applicationDirPath() + QStringLiteral("/bus_will_client"),
        {QString::number(m_broker.port()), QStringLiteral("station"), QStringLiteral("station-pw"), willTopic, QStringLiteral("dead")});
    QVERIFY(child.waitForReadyRead(10000));
    QCOMPARE(child.readAllStandardOutput().trimmed(), QByteArray("connected"));
    child.kill();
    QVERIFY(child.waitForFinished(5000));
    QVERIFY(got.wait(5000));
    QCOMPARE(got.size(), 1);
    QCOMPARE(got.first().first().value<MqttMessage>().payload, QByteArray("dead"));
}

void TestBus::keepAliveNoticesStoppedBroker()
{
    const auto client = connectedClient(QStringLiteral("server"), QStringLiteral("server-pw"), 5);
    QVERIFY(client);
    client->setBackOff(200, 1000);
    QSignalSpy lost(client.get(), &MqttClient::disconnected);
    QSignalSpy connected(client.get(), &MqttClient::connected);
    QElapsedTimer clock;
    clock.start();
    m_broker.pause();
    QVERIFY(lost.wait(15000));
    // A ping after one interval of silence, then one more interval for its answer.
    QVERIFY2(clock.elapsed() <= 2 * 5000 + 1000, qPrintable(QString::number(clock.elapsed())));
    m_broker.resume();
    QVERIFY(connected.wait(20000));
}

void TestBus::reconnectAfterBrokerKilled()
{
    const auto client = connectedClient(QStringLiteral("server"), QStringLiteral("server-pw"));
    QVERIFY(client);
    QSignalSpy lost(client.get(), &MqttClient::disconnected);
    QSignalSpy connected(client.get(), &MqttClient::connected);
    const int attemptsBefore = client->connectionAttempts();
    m_broker.kill();
    QVERIFY(lost.wait(5000));
    QVERIFY(!client->isConnected());
    QVERIFY2(m_broker.start(), qPrintable(m_broker.errorString()));
    QVERIFY(connected.wait(10000));
    QVERIFY(client->connectionAttempts() > attemptsBefore);

    QVERIFY(subscribe(*client, QStringLiteral("kalvora/again")));
    QSignalSpy got(client.get(), &MqttClient::messageReceived);
    QVERIFY(client->publish({QStringLiteral("kalvora/again"), "back", 1, false, {}, {}}) > 0);
    QVERIFY(got.wait(5000));
}

QTEST_MAIN(TestBus)
#include "tst_bus.moc"
