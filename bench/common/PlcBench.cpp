#include "PlcBench.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QEvent>
#include <QFile>
#include <QJsonArray>
#include <QTcpServer>

namespace PlcBench {

QJsonDocument readJson(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QJsonDocument::fromJson(file.readAll());
}

void writeJson(const QString& path, const QJsonObject& object)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(QJsonDocument(object).toJson());
}

int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

QStringList makeProject(const QString& source, const QString& folder, int port)
{
    QDir().mkpath(folder);
    QDirIterator it(source, QDir::Files);
    while (it.hasNext()) {
        it.next();
        QFile::copy(it.filePath(), QDir(folder).filePath(it.fileName()));
    }
    QJsonObject variables = readJson(QDir(folder).filePath(QStringLiteral("variables.json"))).object();
    QJsonObject modbus = readJson(QDir(folder).filePath(QStringLiteral("modbus.json"))).object();
    QJsonArray defs = variables.value(QStringLiteral("variables")).toArray();
    QJsonArray map = modbus.value(QStringLiteral("map")).toArray();
    int registers = 0;
    for (const QJsonValue& m : std::as_const(map)) {
        const QString table = m.toObject().value(QStringLiteral("table")).toString();
        if (table == QLatin1String("input") || table == QLatin1String("holding"))
            registers += m.toObject().value(QStringLiteral("type")).toString() == QLatin1String("float32") ? 2 : 1;
    }
    defs.append(QJsonObject{{QStringLiteral("name"), Clock}, {QStringLiteral("type"), QStringLiteral("double")}, {QStringLiteral("min"), 0}, {QStringLiteral("max"), 4294967295.0}});
    map.append(QJsonObject{{QStringLiteral("variable"), Clock}, {QStringLiteral("table"), QStringLiteral("holding")}, {QStringLiteral("address"), 0}, {QStringLiteral("type"), QStringLiteral("uint32")}});
    registers += 2;
    for (int a = 2; registers < Registers; ++a, ++registers) {
        const QString name = QStringLiteral("Ch1.Kalvora.Bench.R%1").arg(a, 3, 10, QLatin1Char('0'));
        defs.append(QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("type"), QStringLiteral("double")}, {QStringLiteral("min"), 0}, {QStringLiteral("max"), 65535}});
        map.append(QJsonObject{{QStringLiteral("variable"), name}, {QStringLiteral("table"), QStringLiteral("holding")}, {QStringLiteral("address"), a}, {QStringLiteral("type"), QStringLiteral("uint16")}});
    }
    variables[QStringLiteral("variables")] = defs;
    modbus[QStringLiteral("map")] = map;
    QJsonObject connection = modbus.value(QStringLiteral("connection")).toObject();
    connection[QStringLiteral("port")] = port;
    connection[QStringLiteral("pollIntervalMilliseconds")] = PollMs;
    connection[QStringLiteral("responseTimeoutMilliseconds")] = TimeoutMs;
    modbus[QStringLiteral("connection")] = connection;
    writeJson(QDir(folder).filePath(QStringLiteral("variables.json")), variables);
    writeJson(QDir(folder).filePath(QStringLiteral("modbus.json")), modbus);
    QStringList mapped;
    for (const QJsonValue& m : std::as_const(map))
        mapped.append(m.toObject().value(QStringLiteral("variable")).toString());
    return mapped;
}

bool startPlc(QProcess& plc, const QString& program, const QString& folder, int port)
{
    // Its errors show; its line per write taken would only fill the terminal.
    plc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("default.info=false"));
    plc.setProcessEnvironment(environment);
    plc.start(program, {QStringLiteral("--map"), QDir(folder).filePath(QStringLiteral("modbus.json")), QStringLiteral("--port"),
                           QString::number(port), QStringLiteral("--clock"), Clock});
    return plc.waitForReadyRead(10000) && plc.readAll().startsWith("plcsim:");
}

double ageOf(const QVariant& value)
{
    const quint32 now = static_cast<quint32>(QDateTime::currentMSecsSinceEpoch());
    return static_cast<double>(static_cast<quint32>(now - static_cast<quint32>(value.toDouble())));
}

bool ClockPaintWatch::eventFilter(QObject*, QEvent* event)
{
    if (event->type() != QEvent::Paint || !counting)
        return false;
    const TagValue v = m_tags.value(Clock);
    if (v.isGood() && v.value != m_last) {
        m_last = v.value;
        delaysMs.push_back(ageOf(v.value));
    }
    return false;
}

} // namespace PlcBench
