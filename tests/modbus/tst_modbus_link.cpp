// The Modbus TCP source against real servers on 127.0.0.1: a QModbusTcpServer (counting its requests,
// or refusing them), a TCP server that never answers, and plcsim's server with the whole runtime.

#include "AlarmEngine.h"
#include "ArchiveStore.h"
#include "ModbusSource.h"
#include "ModbusTestSupport.h"
#include "PlcSimulator.h"
#include "ProjectLoader.h"
#include "TagStore.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QModbusTcpServer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

namespace {

/// A real server that counts what it is asked and can refuse everything with an exception code.
class CountingServer final : public QModbusTcpServer {
public:
    explicit CountingServer(int size = 2000)
    {
        QModbusDataUnitMap tables;
        for (const auto type : {QModbusDataUnit::Coils, QModbusDataUnit::DiscreteInputs, QModbusDataUnit::HoldingRegisters, QModbusDataUnit::InputRegisters})
            tables.insert(type, QModbusDataUnit(type, 0, static_cast<quint16>(size)));
        setMap(tables);
        setServerAddress(1);
    }
    int requests = 0;
    QModbusPdu::ExceptionCode refuseWith = QModbusPdu::ExceptionCode(0);

protected:
    QModbusResponse processRequest(const QModbusPdu& request) override
    {
        ++requests;
        if (refuseWith != QModbusPdu::ExceptionCode(0))
            return QModbusExceptionResponse(request.functionCode(), refuseWith);
        return QModbusTcpServer::processRequest(request);
    }
};

ModbusMapping mapping(const QString& variable, ModbusTable table, int address, ModbusValueType type = ModbusValueType::UInt16)
{
    ModbusMapping m;
    m.variable = variable;
    m.table = table;
    m.address = address;
    m.type = type;
    m.variableType = type == ModbusValueType::Bool ? TagType::Bool : TagType::Double;
    return m;
}

/// A ModbusSource on its own TagStore, pointed at `port`.
struct Station {
    TagStore tags;
    std::unique_ptr<ModbusSource> source;

    Station(const QList<ModbusMapping>& map, int port, int pollMs = 50, int timeoutMs = 200, int unitId = 1)
    {
        ModbusConfig config;
        config.connection = {QStringLiteral("127.0.0.1"), port, unitId, pollMs, timeoutMs, 0};
        config.map = map;
        for (const ModbusMapping& m : map)
            tags.define({m.variable, m.variableType, {}, 0.0, 0.0, m.table == ModbusTable::Coil || m.table == ModbusTable::HoldingRegister});
        source = std::make_unique<ModbusSource>(tags, config, nullptr);
    }
    ~Station() { source->stop(); }

    bool all(TagQuality quality)
    {
        const QList<ModbusMapping>& map = source->config().map;
        return std::all_of(map.begin(), map.end(), [&](const ModbusMapping& m) { return tags.value(m.variable).quality == quality; });
    }
};

/// The runtime on a copy of the KalvoraModbus project, with plcsim's server in this process.
struct PlantLink {
    QTemporaryDir root;
    std::unique_ptr<PlcSimulator> plc;
    std::unique_ptr<Runtime> runtime;
    int port = 0;
    QStringList mapped;
    QString error;

    PlantLink()
    {
        const ProjectLoadResult project = ProjectLoader::load(QStringLiteral(KALVORA_SOURCE_MODBUS_PROJECT));
        ModbusConfigResult map = ModbusConfigLoader::load(project.project.folder, project.project.variables, Runtime::statusPrefix(project.project));
        if (!project.ok() || !map.ok()) {
            error = project.error + map.error;
            return;
        }
        for (const ModbusMapping& m : std::as_const(map.config.map))
            mapped.append(m.variable);
        plc = std::make_unique<PlcSimulator>(project.project.simulation, std::move(map.config));
        port = listenOnFreePort([this](int p) { return plc->listen(QStringLiteral("127.0.0.1"), p).isEmpty(); });
        copyModbusProject(root.path(), port);
        runtime = std::make_unique<Runtime>(modbusOptions(root.path()));
        error = startAndWait(*runtime);
    }
    ~PlantLink()
    {
        if (runtime)
            runtime->stop();
    }

    int countOf(TagQuality quality) const
    {
        return static_cast<int>(std::count_if(mapped.begin(), mapped.end(), [&](const QString& name) { return runtime->tags().value(name).quality == quality; }));
    }
    bool allGood() const { return countOf(TagQuality::Good) == mapped.size(); }
    bool allBad() const { return countOf(TagQuality::Bad) == mapped.size(); }
    bool commFault() { return runtime->tags().value(Runtime::commFaultVariable(runtime->project())).value.toBool(); }
};

} // namespace

class TestModbusLink final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void valuesArriveScaledAndStamped_data();
    void valuesArriveScaledAndStamped();
    void readsAreGroupedIntoBlocks();
    void faultyAnswersMakeValuesBad_data();
    void faultyAnswersMakeValuesBad();
    void switchWriteShowsTheReadBack();
    void refusedWriteKeepsTheReading_data();
    void refusedWriteKeepsTheReading();
    void linkDropAndReconnect();
    void pulledAwayAndBackAgain();
};

void TestModbusLink::valuesArriveScaledAndStamped_data()
{
    QTest::addColumn<int>("table");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("order");
    QTest::addColumn<QList<int>>("words");
    QTest::addColumn<double>("scale");
    QTest::addColumn<double>("offset");
    QTest::addColumn<bool>("integer"); // the variable is an int
    QTest::addColumn<QVariant>("expected"); // invalid: the value is no number and turns bad

    const int hi = int(ModbusWordOrder::HighFirst);
    const int lo = int(ModbusWordOrder::LowFirst);
    const int reg = int(ModbusTable::HoldingRegister);
    const int inp = int(ModbusTable::InputRegister);
    QTest::newRow("coil on") << int(ModbusTable::Coil) << int(ModbusValueType::Bool) << hi << QList<int>{1} << 1.0 << 0.0 << false << QVariant(true);
    QTest::newRow("discrete input off") << int(ModbusTable::DiscreteInput) << int(ModbusValueType::Bool) << hi << QList<int>{0} << 1.0 << 0.0 << false << QVariant(false);
    QTest::newRow("int16 negative, tenths") << reg << int(ModbusValueType::Int16) << hi << QList<int>{0xFB2E} << 0.1 << 0.0 << false << QVariant(-123.4);
    QTest::newRow("uint16 top, offset") << inp << int(ModbusValueType::UInt16) << hi << QList<int>{0xFFFF} << 1.0 << -10.0 << false << QVariant(65525.0);
    QTest::newRow("int32 high first") << reg << int(ModbusValueType::Int32) << hi << QList<int>{0xFFFE, 0x7960} << 0.01 << 0.0 << false << QVariant(-1000.0);
    QTest::newRow("int32 low first") << inp << int(ModbusValueType::Int32) << lo << QList<int>{0x7960, 0xFFFE} << 0.01 << 0.0 << false << QVariant(-1000.0);
    QTest::newRow("uint32 high first") << reg << int(ModbusValueType::UInt32) << hi << QList<int>{0xB2D0, 0x5E00} << 1.0 << 0.0 << false << QVariant(3000000000.0);
    QTest::newRow("uint32 low first") << reg << int(ModbusValueType::UInt32) << lo << QList<int>{0x5E00, 0xB2D0} << 0.001 << 5.0 << false << QVariant(3000005.0);
    QTest::newRow("float32 high first") << inp << int(ModbusValueType::Float32) << hi << QList<int>{0x41AC, 0x0000} << 2.0 << 1.0 << false << QVariant(44.0);
    QTest::newRow("float32 low first") << reg << int(ModbusValueType::Float32) << lo << QList<int>{0x0000, 0xC1AC} << 1.0 << 0.0 << false << QVariant(-21.5);
    QTest::newRow("int variable rounds") << reg << int(ModbusValueType::UInt16) << hi << QList<int>{7} << 0.5 << 0.0 << true << QVariant(qlonglong(4));
    QTest::newRow("float32 NaN is bad") << reg << int(ModbusValueType::Float32) << hi << QList<int>{0x7FC0, 0x0000} << 1.0 << 0.0 << false << QVariant();
}

void TestModbusLink::valuesArriveScaledAndStamped()
{
    QFETCH(int, table);
    QFETCH(int, type);
    QFETCH(int, order);
    QFETCH(QList<int>, words);
    QFETCH(double, scale);
    QFETCH(double, offset);
    QFETCH(bool, integer);
    QFETCH(QVariant, expected);

    ModbusMapping m = mapping(QStringLiteral("V"), ModbusTable(table), 10, ModbusValueType(type));
    m.wordOrder = ModbusWordOrder(order);
    m.scale = scale;
    m.offset = offset;
    if (integer)
        m.variableType = TagType::Int;
    CountingServer server;
    const int port = listenOnFreePort(server);
    QVERIFY(port > 0);
    QList<quint16> raw;
    for (const int w : words)
        raw.append(static_cast<quint16>(w));
    QVERIFY(server.setData(QModbusDataUnit(ModbusConfig::registerType(m.table), 10, raw)));
    Station station({m}, port);
    if (!expected.isValid())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Modbus: V \\(holding 10\\): the raw value is not a number")));

    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    station.source->start(0);
    QTRY_VERIFY(station.tags.value(QStringLiteral("V")).quality != TagQuality::NotDelivered);
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    const TagValue v = station.tags.value(QStringLiteral("V"));
    if (!expected.isValid()) {
        QCOMPARE(v.quality, TagQuality::Bad);
        return;
    }
    QCOMPARE(v.quality, TagQuality::Good);
    QCOMPARE(v.value.typeId(), expected.typeId());
    QVERIFY2(qAbs(v.value.toDouble() - expected.toDouble()) < 1e-6, qPrintable(v.value.toString()));
    QVERIFY(v.timestampMs >= before && v.timestampMs <= after);
    // A write of the same value gives back the same words, whatever the type and word order.
    if (!integer)
        QCOMPARE(m.encode(expected).value_or(QList<quint16>{}), raw);
}

void TestModbusLink::readsAreGroupedIntoBlocks()
{
    QList<ModbusMapping> map;
    for (int a = 0; a < 10; ++a)
        map.append(mapping(QStringLiteral("H%1").arg(a), ModbusTable::HoldingRegister, a));
    map.append(mapping(QStringLiteral("F20"), ModbusTable::HoldingRegister, 20, ModbusValueType::Float32));
    // 124 registers and a 32-bit value: the value does not fit the 125-register read and starts the next.
    for (int a = 1000; a < 1124; ++a)
        map.append(mapping(QStringLiteral("R%1").arg(a), ModbusTable::HoldingRegister, a));
    map.append(mapping(QStringLiteral("F1124"), ModbusTable::HoldingRegister, 1124, ModbusValueType::Float32));
    for (int a = 1126; a < 1131; ++a)
        map.append(mapping(QStringLiteral("R%1").arg(a), ModbusTable::HoldingRegister, a));
    for (int a = 0; a < 5; ++a)
        map.append(mapping(QStringLiteral("C%1").arg(a), ModbusTable::Coil, a, ModbusValueType::Bool));
    map.append(mapping(QStringLiteral("I7"), ModbusTable::InputRegister, 7));

    CountingServer server;
    const int port = listenOnFreePort(server);
    QVERIFY(port > 0);
    QVERIFY(server.setData(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 1124, QList<quint16>{0x41AC, 0x0000})));
    QVERIFY(server.setData(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 1122, QList<quint16>{77})));
    // A long poll interval: only the first round of reads goes out during the test.
    Station station(map, port, 60000, 1000);
    QCOMPARE(station.source->blockCount(), 6);
    station.source->start(0);
    QTRY_VERIFY(station.all(TagQuality::Good));
    QCOMPARE(server.requests, 6);
    QCOMPARE(station.tags.value(QStringLiteral("F1124")).value.toDouble(), 21.5);
    QCOMPARE(station.tags.value(QStringLiteral("R1122")).value.toDouble(), 77.0);
}

void TestModbusLink::faultyAnswersMakeValuesBad_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("logged");
    QTest::newRow("exception code") << QStringLiteral("refuse") << QStringLiteral("the PLC answered with exception code 4 \\(server device failure\\)");
    QTest::newRow("address beyond the PLC's tables") << QStringLiteral("small") << QStringLiteral("the PLC answered with exception code 2 \\(illegal data address\\)");
    QTest::newRow("wrong unit id") << QStringLiteral("unit") << QStringLiteral(".+");
    QTest::newRow("accepts and never answers") << QStringLiteral("silent") << QStringLiteral("no answer within 200 ms");
    QTest::newRow("garbage bytes") << QStringLiteral("garbage") << QStringLiteral(".+");
}

void TestModbusLink::faultyAnswersMakeValuesBad()
{
    QFETCH(QString, fault);
    QFETCH(QString, logged);

    CountingServer server(fault == QLatin1String("small") ? 5 : 2000);
    server.refuseWith = fault == QLatin1String("refuse") ? QModbusPdu::ServerDeviceFailure : QModbusPdu::ExceptionCode(0);
    QTcpServer raw; // accepts connections; answers nothing, or garbage
    QList<QTcpSocket*> peers;
    int port = 0;
    if (fault == QLatin1String("silent") || fault == QLatin1String("garbage")) {
        QVERIFY(raw.listen(QHostAddress::LocalHost));
        port = raw.serverPort();
        connect(&raw, &QTcpServer::newConnection, this, [&] {
            QTcpSocket* peer = raw.nextPendingConnection();
            connect(peer, &QTcpSocket::readyRead, peer, [peer, fault] {
                peer->readAll();
                if (fault == QLatin1String("garbage"))
                    peer->write(QByteArray::fromHex("deadbeef00ff0102030405"));
            });
        });
    } else {
        port = listenOnFreePort(server);
    }
    QVERIFY(port > 0);

    Station station({mapping(QStringLiteral("V"), ModbusTable::HoldingRegister, 10)}, port, 50, 200, fault == QLatin1String("unit") ? 7 : 1);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Modbus: V \\(holding 10\\): ") + logged));
    // The event loop keeps running while the source waits: nothing here blocks on the network.
    int beats = 0;
    QTimer heartbeat;
    connect(&heartbeat, &QTimer::timeout, this, [&beats] { ++beats; });
    heartbeat.start(10);
    QElapsedTimer call;
    call.start();
    station.source->start(0);
    QVERIFY(call.elapsed() < 50);
    QTRY_COMPARE_WITH_TIMEOUT(station.tags.value(QStringLiteral("V")).quality, TagQuality::Bad, 3000);
    QVERIFY(station.source->isFaulty());
    beats = 0;
    QTest::qWait(300); // and stays bad, without a crash, under further polls
    QCOMPARE(station.tags.value(QStringLiteral("V")).quality, TagQuality::Bad);
    QVERIFY2(beats >= 10, qPrintable(QString::number(beats)));
}

void TestModbusLink::switchWriteShowsTheReadBack()
{
    PlantLink link;
    QVERIFY2(link.error.isEmpty(), qPrintable(link.error));
    QTRY_VERIFY_WITH_TIMEOUT(link.allGood(), 5000);
    const QString pump = QStringLiteral("Ch1.Kalvora.WaterPump");
    TagStore& tags = link.runtime->tags();
    const bool before = tags.value(pump).value.toBool();
    QCOMPARE(link.plc->plant().state().waterPumpOn, before);

    tags.write(pump, !before);
    // Until the PLC has it and it is read back, the switch shows the plant's state.
    QCOMPARE(tags.value(pump).value.toBool(), before);
    QTRY_COMPARE_WITH_TIMEOUT(tags.value(pump).value.toBool(), !before, 3000);
    QCOMPARE(tags.value(pump).quality, TagQuality::Good);
    QCOMPARE(link.plc->plant().state().waterPumpOn, !before);
    QTRY_VERIFY(!link.runtime->audit().history(1).isEmpty());
    AuditEntry entry = link.runtime->audit().history(1).first();
    QCOMPARE(entry.target, pump);
    QCOMPARE(entry.result, QStringLiteral("ok"));
    QCOMPARE(entry.newValue, !before ? QStringLiteral("true") : QStringLiteral("false"));
    QCOMPARE(entry.oldValue, before ? QStringLiteral("true") : QStringLiteral("false"));

    // With the PLC gone the write fails, the operator hears of it, the switch keeps the last reading.
    link.plc->close();
    QTRY_VERIFY_WITH_TIMEOUT(link.allBad(), 3000);
    QSignalSpy failed(link.runtime.get(), &Runtime::writeFailed);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Operator write .*WaterPump.* failed: no connection")));
    tags.write(pump, before);
    QTRY_COMPARE(failed.size(), 1);
    QCOMPARE(failed.first().at(0).toString(), pump);
    QCOMPARE(tags.value(pump).value.toBool(), !before);
    QCOMPARE(tags.value(pump).quality, TagQuality::Bad);
    entry = link.runtime->audit().history(1).first();
    QCOMPARE(entry.result, QStringLiteral("failed"));
}

void TestModbusLink::refusedWriteKeepsTheReading_data()
{
    QTest::addColumn<bool>("answered");
    QTest::addColumn<QString>("reason");
    QTest::newRow("refused with an exception code") << true << QStringLiteral("exception code 3");
    QTest::newRow("never answered") << false << QStringLiteral("no answer within 200 ms");
}

void TestModbusLink::refusedWriteKeepsTheReading()
{
    QFETCH(bool, answered);
    QFETCH(QString, reason);
    CountingServer server;
    // A PLC that reads coil 3 as on and lets every write go unanswered, framed by hand: a real server
    // always answers.
    QTcpServer mute;
    int port = 0;
    if (answered) {
        port = listenOnFreePort(server);
        QVERIFY(server.setData(QModbusDataUnit::Coils, 3, 1));
    } else {
        QVERIFY(mute.listen(QHostAddress::LocalHost));
        port = mute.serverPort();
        connect(&mute, &QTcpServer::newConnection, this, [&mute] {
            QTcpSocket* peer = mute.nextPendingConnection();
            auto* pending = new QByteArray;
            connect(peer, &QObject::destroyed, [pending] { delete pending; });
            connect(peer, &QTcpSocket::readyRead, peer, [peer, pending] {
                pending->append(peer->readAll());
                while (pending->size() >= 8) {
                    const int length = (static_cast<uchar>(pending->at(4)) << 8) | static_cast<uchar>(pending->at(5));
                    if (pending->size() < 6 + length)
                        return;
                    const QByteArray frame = pending->left(6 + length);
                    pending->remove(0, 6 + length);
                    if (frame.at(7) != 0x01) // read coils only
                        continue;
                    QByteArray answer = frame.left(4); // transaction and protocol id
                    answer += QByteArray::fromHex("0004");
                    answer += frame.at(6); // unit
                    answer += QByteArray::fromHex("010101"); // read coils, one byte, coil on
                    peer->write(answer);
                }
            });
        });
    }
    QVERIFY(port > 0);
    Station station({mapping(QStringLiteral("S"), ModbusTable::Coil, 3, ModbusValueType::Bool)}, port, 50, 200);
    station.source->start(0);
    QTRY_VERIFY(station.tags.value(QStringLiteral("S")).isGood());
    QSignalSpy finished(station.source.get(), &PlantSource::writeFinished);
    server.refuseWith = QModbusPdu::IllegalDataValue;
    station.source->write({1, QStringLiteral("S"), false, true, 0, {}, {}});
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(finished.first().at(1).toBool(), false);
    QVERIFY2(finished.first().at(2).toString().contains(reason), qPrintable(finished.first().at(2).toString()));
    QCOMPARE(station.tags.value(QStringLiteral("S")).value.toBool(), true);
    QVERIFY(station.tags.value(QStringLiteral("S")).isGood());
}

void TestModbusLink::linkDropAndReconnect()
{
    PlantLink link;
    QVERIFY2(link.error.isEmpty(), qPrintable(link.error));
    QTRY_VERIFY_WITH_TIMEOUT(link.allGood() && !link.commFault(), 5000);
    QTest::qWait(1500); // a few good recordings before the drop
    const QString alarm = QStringLiteral("System.CommFault");
    QVERIFY(!link.runtime->alarms().alarm(alarm).isActive());
    const double level = link.runtime->tags().value(QStringLiteral("Ch1.Kalvora.Storage.WaterTank")).value.toDouble();

    const qint64 dropAt = QDateTime::currentMSecsSinceEpoch();
    link.plc->close();
    // One poll interval plus the response timeout at most (250 + 500 ms in the project).
    QTRY_VERIFY_WITH_TIMEOUT(link.allBad(), 750);
    const qint64 badAt = QDateTime::currentMSecsSinceEpoch();
    QVERIFY(link.commFault());
    // The last reading stays, marked bad.
    QCOMPARE(link.runtime->tags().value(QStringLiteral("Ch1.Kalvora.Storage.WaterTank")).value.toDouble(), level);
    QTRY_VERIFY_WITH_TIMEOUT(link.runtime->alarms().alarm(alarm).isActive(), 3000);

    QTest::qWait(1000);
    QVERIFY(link.plc->listen(QStringLiteral("127.0.0.1"), link.port).isEmpty());
    // Reconnects back off from 1 s: the link is back within a few seconds.
    QTRY_VERIFY_WITH_TIMEOUT(link.allGood(), 10000);
    const qint64 goodAt = QDateTime::currentMSecsSinceEpoch();
    QTRY_VERIFY_WITH_TIMEOUT(!link.commFault() && !link.runtime->alarms().alarm(alarm).isActive(), 3000);
    QTest::qWait(1500);

    // The archive has a gap where the values were bad, and samples on both sides of it.
    const QList<ArchiveSample> samples = link.runtime->archive().range(QStringLiteral("Wasser"), QStringLiteral("WaterTank"), dropAt - 60000, goodAt + 60000);
    QVERIFY(goodAt - 1000 - badAt >= 1000);
    int beforeDrop = 0;
    int afterReturn = 0;
    for (const ArchiveSample& s : samples) {
        QVERIFY2(s.timeMs <= badAt || s.timeMs > goodAt - 1000, qPrintable(QString::number(s.timeMs - dropAt)));
        beforeDrop += s.timeMs <= dropAt;
        afterReturn += s.timeMs > goodAt;
    }
    QVERIFY(beforeDrop > 0);
    QVERIFY(afterReturn > 0);
}

void TestModbusLink::pulledAwayAndBackAgain()
{
    // Each round waits out the first reconnect delay (1 s): about a minute in all.
    constexpr int Rounds = 50;
    QList<ModbusMapping> map;
    for (int a = 0; a < 4; ++a)
        map.append(mapping(QStringLiteral("H%1").arg(a), ModbusTable::HoldingRegister, a * 200)); // four blocks
    CountingServer server;
    const int port = listenOnFreePort(server);
    QVERIFY(port > 0);
    Station station(map, port, 20, 200);
    // Every change of a variable: good ones must carry the server's current value, never an old one.
    int staleGood = 0;
    quint16 current = 0;
    for (const ModbusMapping& m : std::as_const(map))
        station.tags.subscribe(m.variable, this, [&](const TagValue& v) {
            if (v.isGood() && v.value.toInt() != current)
                ++staleGood;
        });
    station.source->start(0);
    for (int round = 1; round <= Rounds; ++round) {
        QTRY_VERIFY_WITH_TIMEOUT(station.all(TagQuality::Good), 5000);
        server.disconnectDevice();
        QTRY_VERIFY_WITH_TIMEOUT(station.all(TagQuality::Bad), 1000);
        current = static_cast<quint16>(round);
        for (int a = 0; a < 4; ++a)
            server.setData(QModbusDataUnit::HoldingRegisters, static_cast<quint16>(a * 200), current);
        QVERIFY(server.connectDevice());
    }
    QTRY_VERIFY_WITH_TIMEOUT(station.all(TagQuality::Good), 5000);
    QCOMPARE(staleGood, 0);
    QCOMPARE(station.tags.value(QStringLiteral("H3")).value.toInt(), Rounds);
}

QTEST_GUILESS_MAIN(TestModbusLink)
#include "tst_modbus_link.moc"
