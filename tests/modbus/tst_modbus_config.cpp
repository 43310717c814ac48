// modbus.json faults: the runtime does not start, and the reason names the file, the field and what
// is wrong. Each row edits one place of the shipped KalvoraModbus map, or replaces the whole file.

#include "FileKinds.h"
#include "ModbusTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <optional>

namespace {

/// `root` with the value at `path` ("map/3/address") replaced; an undefined value removes it.
QJsonValue edited(const QJsonValue& root, QStringList path, const QJsonValue& value)
{
    const QString key = path.takeFirst();
    if (root.isArray()) {
        QJsonArray array = root.toArray();
        const int index = key.toInt();
        if (path.isEmpty() && value.isUndefined())
            array.removeAt(index);
        else if (path.isEmpty() && index == array.size())
            array.append(value);
        else
            array[index] = path.isEmpty() ? value : edited(array.at(index), path, value);
        return array;
    }
    QJsonObject object = root.toObject();
    if (path.isEmpty() && value.isUndefined())
        object.remove(key);
    else
        object[key] = path.isEmpty() ? value : edited(object.value(key), path, value);
    return object;
}

/// Stands in the document for a value that is not JSON, which is then written as it stands.
const QString rawMarker = QStringLiteral("\u0001raw");

QJsonValue json(const char* text)
{
    if (QByteArrayView(text) == "delete")
        return QJsonValue(QJsonValue::Undefined);
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson("[" + QByteArray(text) + "]", &error);
    return error.error == QJsonParseError::NoError ? doc.array().at(0) : QJsonValue(rawMarker);
}

} // namespace

class TestModbusConfig final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shippedMapLoads();
    void faultStopsTheStart_data();
    void faultStopsTheStart();
};

void TestModbusConfig::shippedMapLoads()
{
    QTemporaryDir root;
    copyModbusProject(root.path(), 1502);
    Runtime runtime(modbusOptions(root.path()));
    QSignalSpy failed(&runtime, &Runtime::startFailed);
    runtime.start(QStringLiteral("KalvoraModbus"));
    // Started, connecting to a PLC that is not there: no start failure, values not yet delivered.
    QTRY_VERIFY(runtime.state() == Runtime::State::Running || !failed.isEmpty());
    QVERIFY2(failed.isEmpty(), qPrintable(failed.isEmpty() ? QString() : failed.first().first().toString()));
    runtime.stop();
}

void TestModbusConfig::faultStopsTheStart_data()
{
    QTest::addColumn<QString>("path");
    // JSON text; "delete"; text that is not JSON, written in as it stands. With no path: "" writes a
    // broken file, "delete" removes it, anything else is a kind of file for replaceWithKind().
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("reason");

    const auto row = [](const char* name, const char* path, const char* value, const char* reason) {
        QTest::newRow(name) << QString::fromLatin1(path) << QString::fromLatin1(value) << QString::fromUtf8(reason);
    };
    row("missing connection", "connection", "delete", "field connection: missing");
    row("missing host", "connection/host", "delete", "field connection.host: missing");
    row("port as text", "connection/port", "\"502\"", "field connection.port: expected a number");
    row("port out of range", "connection/port", "70000", "field connection.port: 70000 is outside 1 to 65535");
    row("unit id out of range", "connection/unitId", "256", "field connection.unitId: 256 is outside 0 to 255");
    row("poll interval not whole", "connection/pollIntervalMilliseconds", "100.5", "field connection.pollIntervalMilliseconds: 100.5 is not a whole number");
    // A misspelt field would start the station with the default in its place.
    row("misspelt connection field", "connection/timeuot", "500",
        "field connection.timeuot: unknown field; here the fields are host, port, unitId, pollIntervalMilliseconds, responseTimeoutMilliseconds, retries and description");
    row("misspelt map field", "map/18/scael", "0.2", "field map[18] \"Ch1.Kalvora.Unit1.WaterTank\".scael: unknown field");
    row("unknown top-level field", "maps", "[]", "field maps: unknown field");
    row("field twice in a map entry", "map/0/address", "0, \"address\": 40", "the field \"address\" is given twice in one object");
    row("map not a list", "map", "{}", "field map: expected a list");
    row("entry without address", "map/0/address", "delete", "field map[0] \"Ch1.Kalvora.WaterPump\".address: missing");
    row("address as text", "map/0/address", "\"0\"", "field map[0] \"Ch1.Kalvora.WaterPump\".address: expected a number");
    row("address out of range", "map/0/address", "65536", "field map[0] \"Ch1.Kalvora.WaterPump\".address: 65536 is outside 0 to 65535");
    row("32-bit value past the last address", "map/17/address", "65535", "field map[17] \"Ch1.Kalvora.Storage.WaterTank\".address: a 2-register value at 65535 runs past the last address 65535");
    row("unknown table", "map/0/table", "\"register\"", "field map[0] \"Ch1.Kalvora.WaterPump\".table: expected one of coil, discreteInput, holding, input");
    row("unknown type", "map/17/type", "\"double\"", "field map[17] \"Ch1.Kalvora.Storage.WaterTank\".type: expected one of bool, int16");
    row("unknown word order", "map/17/wordOrder", "\"big\"", "field map[17] \"Ch1.Kalvora.Storage.WaterTank\".wordOrder: expected one of highFirst, lowFirst");
    row("scale zero", "map/18/scale", "0", "field map[18] \"Ch1.Kalvora.Unit1.WaterTank\".scale: must not be 0");
    row("bool type on a register", "map/17/type", "\"bool\"", "field map[17] \"Ch1.Kalvora.Storage.WaterTank\".type: registers hold int16, uint16, int32, uint32 or float32");
    row("number on a coil", "map/17/table", "\"coil\"", "field map[17] \"Ch1.Kalvora.Storage.WaterTank\".type: coils and discrete inputs hold bool only");
    row("switch on a discrete input", "map/0/table", "\"discreteInput\"", "field map[0] \"Ch1.Kalvora.WaterPump\".table: \"Ch1.Kalvora.WaterPump\" is writable, but a discreteInput cannot be written");
    row("overlapping registers", "map/18/address", "1", "field map[18] \"Ch1.Kalvora.Unit1.WaterTank\".address: input 1 overlaps \"Ch1.Kalvora.Storage.WaterTank\" at 0");
    row("overlapping coils", "map/1/address", "0", "\"Ch1.Kalvora.Storage.Valve.Manual\".address: coil 0 overlaps \"Ch1.Kalvora.WaterPump\" at 0");
    row("unknown variable", "map/0/variable", "\"Ch1.Kalvora.NoSuchPump\"", "field map[0] \"Ch1.Kalvora.NoSuchPump\".variable: no process variable \"Ch1.Kalvora.NoSuchPump\" in variables.json");
    row("status variable mapped", "map/33", "{\"variable\": \"Ch1.Kalvora.System.CommFault\", \"table\": \"coil\", \"address\": 100}",
        "field map[33] \"Ch1.Kalvora.System.CommFault\".variable: a status variable of the runtime itself");
    row("variable mapped twice", "map/33", "{\"variable\": \"Ch1.Kalvora.WaterPump\", \"table\": \"coil\", \"address\": 100}",
        "field map[33] \"Ch1.Kalvora.WaterPump\".variable: mapped twice (first at map[0])");
    row("variable without mapping", "map/0", "delete", "field map: the process variable \"Ch1.Kalvora.WaterPump\" has no mapping");
    row("not JSON", "", "", "modbus.json, line 1, column ");
    row("file missing", "", "delete", "modbus.json: the file is missing");
    row("FIFO", "", "fifo", "modbus.json: not a regular file but a FIFO");
    row("link to /dev/zero", "", "link to /dev/zero", "modbus.json: not a regular file but a character device");
    row("folder", "", "folder", "modbus.json: not a regular file but a folder");
    row("oversized", "", "oversized:52428800", "modbus.json: the file is 52428800 bytes, more than the 8388608 bytes");
}

void TestModbusConfig::faultStopsTheStart()
{
    QFETCH(QString, path);
    QFETCH(QString, value);
    QFETCH(QString, reason);

    QTemporaryDir root;
    const QString folder = copyModbusProject(root.path(), 1502);
    QFile file(QDir(folder).filePath(QStringLiteral("modbus.json")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonDocument original = QJsonDocument::fromJson(file.readAll());
    file.close();
    QVERIFY(original.isObject());
    std::optional<ReadWatchdog> watchdog;
    if (path.isEmpty() && value == QLatin1String("delete")) {
        QVERIFY(file.remove());
    } else if (path.isEmpty() && !value.isEmpty()) {
        QVERIFY(replaceWithKind(file.fileName(), value));
        watchdog.emplace(file.fileName());
    } else {
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        if (path.isEmpty())
            file.write("{ \"connection\": ");
        else
            file.write(QJsonDocument(edited(original.object(), path.split(QLatin1Char('/')), json(value.toUtf8().constData())).toObject())
                           .toJson()
                           .replace(QJsonDocument(QJsonArray{rawMarker}).toJson(QJsonDocument::Compact).mid(1).chopped(1), value.toUtf8()));
        file.close();
    }

    Runtime runtime(modbusOptions(root.path()));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Runtime start failed")));
    const QString error = startAndWait(runtime);
    QVERIFY2(error.contains(QDir::toNativeSeparators(file.fileName())), qPrintable(error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    QCOMPARE(runtime.state(), Runtime::State::Failed);
}

QTEST_GUILESS_MAIN(TestModbusConfig)
#include "tst_modbus_config.moc"
