// plcsim: a fake PLC for the station. Runs the plant simulation behind a Modbus TCP server with the map
// of a runtime project's modbus.json, so station and "PLC" run as two processes:
//
//   plcsim [--map project/KalvoraModbus/modbus.json] [--port 1502] [--listen 127.0.0.1] [--speed 1]
//
// The project's variables and plant parameters come from the map file's folder (or --project).

#include "PlcSimulator.h"
#include "ProjectLoader.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTimer>

#include <cstdio>

namespace {

int failWith(const QString& message)
{
    std::fprintf(stderr, "plcsim: %s\n", qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("plcsim"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A fake PLC: the Kalvora plant simulation behind a Modbus TCP server."));
    parser.addHelpOption();
    const QCommandLineOption mapOption(QStringLiteral("map"), QStringLiteral("The station's modbus.json (default: project/KalvoraModbus/modbus.json beside this program)."), QStringLiteral("file"));
    const QCommandLineOption projectOption(QStringLiteral("project"), QStringLiteral("The runtime project folder with variables.json and simulation.json (default: the map file's folder)."), QStringLiteral("folder"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("TCP port to listen on (default: the map's connection.port)."), QStringLiteral("port"));
    const QCommandLineOption listenOption(QStringLiteral("listen"), QStringLiteral("Address to listen on (default 127.0.0.1; 0.0.0.0 for every interface)."), QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption speedOption(QStringLiteral("speed"), QStringLiteral("Plant seconds per second (default: the project's; 0 holds the plant still)."), QStringLiteral("factor"));
    const QCommandLineOption tickOption(QStringLiteral("tick"), QStringLiteral("Milliseconds between plant steps (default: the project's tick)."), QStringLiteral("ms"));
    const QCommandLineOption clockOption(QStringLiteral("clock"), QStringLiteral("Measuring aid: writes this program's clock (ms since the epoch, modulo 2^32) into the variable's registers every 200 to 400 ms."), QStringLiteral("variable"));
    parser.addOptions({mapOption, projectOption, portOption, listenOption, speedOption, tickOption, clockOption});
    parser.process(app);

    const QString mapFile = parser.isSet(mapOption)
        ? parser.value(mapOption)
        : QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("project/KalvoraModbus/modbus.json"));
    const QString folder = parser.isSet(projectOption) ? parser.value(projectOption) : QFileInfo(mapFile).absolutePath();
    const ProjectLoadResult project = ProjectLoader::load(folder);
    if (!project.ok())
        return failWith(project.error);
    const QString statusPrefix = project.project.simulation.prefix + QStringLiteral("System.");
    ModbusConfigResult map = ModbusConfigLoader::loadFile(mapFile, project.project.variables, statusPrefix);
    if (!map.ok())
        return failWith(map.error);

    bool ok = true;
    const int port = parser.isSet(portOption) ? parser.value(portOption).toInt(&ok) : 0;
    if (!ok || port < 0 || port > 65535)
        return failWith(QStringLiteral("--port %1: expected a number from 1 to 65535").arg(parser.value(portOption)));
    const double speed = parser.isSet(speedOption) ? parser.value(speedOption).toDouble(&ok) : project.project.simulation.speed;
    if (!ok || speed < 0.0 || speed > 3600.0)
        return failWith(QStringLiteral("--speed %1: expected a number from 0 to 3600").arg(parser.value(speedOption)));
    const int tickMs = parser.isSet(tickOption) ? parser.value(tickOption).toInt(&ok) : project.project.simulation.tickMilliseconds;
    if (!ok || tickMs < 1 || tickMs > 60000)
        return failWith(QStringLiteral("--tick %1: expected a number from 1 to 60000").arg(parser.value(tickOption)));

    PlcSimulator plc(project.project.simulation, std::move(map.config));
    const QString clockVariable = parser.value(clockOption);
    if (!clockVariable.isEmpty() && plc.config().indexOf(clockVariable) < 0)
        return failWith(QStringLiteral("--clock %1: the variable has no mapping in %2").arg(clockVariable, mapFile));
    if (const QString error = plc.listen(parser.value(listenOption), port); !error.isEmpty())
        return failWith(error);
    plc.run(tickMs, speed);

    QTimer clock;
    clock.setSingleShot(true);
    if (!clockVariable.isEmpty()) {
        // Irregular, so the changes fall on every phase of the station's poll.
        QObject::connect(&clock, &QTimer::timeout, &plc, [&] {
            plc.setValue(clockVariable, static_cast<double>(static_cast<quint32>(QDateTime::currentMSecsSinceEpoch())));
            clock.start(QRandomGenerator::global()->bounded(200, 401));
        });
        clock.start(200);
    }
    std::printf("plcsim: %d variables on %s:%d, unit %d, plant speed %g\n", static_cast<int>(plc.config().map.size()),
                qPrintable(parser.value(listenOption)), port > 0 ? port : plc.config().connection.port, plc.config().connection.unitId, speed);
    std::fflush(stdout);
    return app.exec();
}
