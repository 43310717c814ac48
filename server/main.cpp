// kalvora-server: runs a runtime project headless and serves it to the stations through an MQTT broker
// (runtime/bus/PROTOCOL.md); or, with --write-broker-config, writes a broker configuration for a project
// and its stations.
#include "BrokerConfig.h"
#include "BrokerSettings.h"
#include "KalvoraError.h"
#include "KalvoraTopics.h"
#include "PgAlarmJournal.h"
#include "PgAuditJournal.h"
#include "PgArchiveBackend.h"
#include "Server.h"
#include "ServerLog.h"
#include "TerminationSignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

namespace {

int writeBrokerConfig(const QCommandLineParser& args)
{
    const QString folder = args.value(QStringLiteral("write-broker-config"));
    const QString project = args.value(QStringLiteral("project"));
    const QStringList stations = args.value(QStringLiteral("stations")).split(u',', Qt::SkipEmptyParts);
    bool portOk = false;
    const uint port = args.value(QStringLiteral("port")).toUInt(&portOk);
    if (!KalvoraTopics::isValidLevel(project))
        throw KalvoraError(QStringLiteral("--project \"%1\" cannot be a topic level (no '/', '+' or '#')").arg(project));
    if (!portOk || port == 0 || port > 65535)
        throw KalvoraError(QStringLiteral("--port \"%1\" is not a port number").arg(args.value(QStringLiteral("port"))));
    if (stations.isEmpty())
        throw KalvoraError(QStringLiteral("--stations names no station (for example --stations A,B)"));
    BrokerConfig config;
    config.port = static_cast<quint16>(port);
    config.accounts.append({QLatin1String(BrokerConfig::serverUser), BrokerConfig::randomPassword(), BrokerConfig::serverAccess(project)});
    for (const QString& station : stations) {
        if (!KalvoraTopics::isValidStation(station))
            throw KalvoraError(QStringLiteral("station \"%1\": a station name is letters, digits, '-' and '_' (and not \"server\")").arg(station));
        if (stations.count(station) > 1)
            throw KalvoraError(QStringLiteral("station \"%1\" is named twice").arg(station));
        config.accounts.append({station, BrokerConfig::randomPassword(), BrokerConfig::stationAccess(project, station)});
    }
    if (!QDir().mkpath(folder))
        throw KalvoraError(QStringLiteral("%1: cannot create the folder").arg(folder));
    if (const QString error = config.write(folder); !error.isEmpty())
        throw KalvoraError(error);
    const QString url = QStringLiteral("mqtt://%1:%2").arg(config.listenAddress).arg(port);
    for (const BrokerAccount& account : std::as_const(config.accounts)) {
        const bool server = account.user == QLatin1String(BrokerConfig::serverUser);
        QFile file(QDir(folder).filePath(server ? QStringLiteral("server.json") : QStringLiteral("station-%1.json").arg(account.user)));
        const QByteArray json = BrokerSettings::toJson(url, account.user, account.password);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(json) != json.size())
            throw KalvoraError(QStringLiteral("%1: %2").arg(file.fileName(), file.errorString()));
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    const QString where = QDir(folder).absolutePath();
    // Started as root, mosquitto changes to its own user, who must be able to read the password file.
    std::printf("Broker configuration for project %s and stations %s written to %s\n"
                "Start the broker as the folder's owner: mosquitto -c %s\n"
                "(started as root, mosquitto runs as user mosquitto: chown -R mosquitto %s first)\n",
        qPrintable(project), qPrintable(stations.join(QStringLiteral(", "))), qPrintable(where),
        qPrintable(BrokerConfig::configPath(where)), qPrintable(where));
    return 0;
}

ServerOptions serverOptions(const QCommandLineParser& args)
{
    ServerOptions options;
    options.project = args.value(QStringLiteral("project"));
    options.runtime.projectsRoot = args.value(QStringLiteral("projects"));
    options.runtime.dataDirectory = args.value(QStringLiteral("data"));
    options.runtime.historyServer = {&PgArchiveBackend::create, &PgAlarmJournal::create, &PgAuditJournal::create};
    if (args.isSet(QStringLiteral("backfill-hours")))
        options.runtime.backfillHours = args.value(QStringLiteral("backfill-hours")).toInt();
    if (args.isSet(QStringLiteral("settings"))) {
        BrokerSettings::Result read = BrokerSettings::readFile(args.value(QStringLiteral("settings")));
        if (!read.ok())
            throw KalvoraError(read.error);
        options.broker = read.settings;
    }
    const QString url = args.isSet(QStringLiteral("broker")) || !args.isSet(QStringLiteral("settings"))
        ? args.value(QStringLiteral("broker"))
        : QString();
    if (!url.isEmpty())
        if (const QString error = BrokerSettings::applyUrl(url, options.broker); !error.isEmpty())
            throw KalvoraError(QStringLiteral("--broker: %1").arg(error));
    return options;
}

} // namespace

int main(int argc, char** argv)
try {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kalvora-server"));
    QCommandLineParser args;
    args.setApplicationDescription(QStringLiteral("Runs a Kalvora runtime project and serves it to operator stations through an MQTT broker."));
    args.addHelpOption();
    args.addOptions({
        {QStringLiteral("project"), QStringLiteral("The runtime project to run."), QStringLiteral("name"), QStringLiteral("Kalvora")},
        {QStringLiteral("projects"), QStringLiteral("The folder holding the project folders (default: project beside the program)."),
            QStringLiteral("folder")},
        {QStringLiteral("data"), QStringLiteral("The folder for archive and journals (default: the user's data folder)."), QStringLiteral("folder")},
        {QStringLiteral("broker"), QStringLiteral("The broker, mqtt://host:port or mqtts://host:port; overrides the settings file's."),
            QStringLiteral("url"), QStringLiteral("mqtt://127.0.0.1:1883")},
        {QStringLiteral("settings"), QStringLiteral("Broker settings, JSON: broker, user, password, caFile, certFile, keyFile."),
            QStringLiteral("file")},
        {QStringLiteral("backfill-hours"), QStringLiteral("Hours of simulated history written into an empty archive (default 24)."),
            QStringLiteral("hours")},
        {QStringLiteral("write-broker-config"), QStringLiteral("Write mosquitto.conf, password file, access list and log-in files into the "
            "folder, for --project and --stations, and exit."), QStringLiteral("folder")},
        {QStringLiteral("stations"), QStringLiteral("With --write-broker-config: the stations' names, comma-separated."), QStringLiteral("names")},
        {QStringLiteral("port"), QStringLiteral("With --write-broker-config: the broker's port."), QStringLiteral("port"), QStringLiteral("1883")},
    });
    args.process(app);
    if (!args.positionalArguments().isEmpty())
        throw KalvoraError(QStringLiteral("unexpected argument \"%1\"").arg(args.positionalArguments().first()));
    if (args.isSet(QStringLiteral("write-broker-config")))
        return writeBrokerConfig(args);

    Server server(serverOptions(args));
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &server, [&server](int signalNumber) {
        qCInfo(serverLog).noquote() << QStringLiteral("Signal %1: stopping").arg(signalNumber);
        server.stop(0);
    });
    QObject::connect(&server, &Server::finished, &app, [](int exitCode) { QCoreApplication::exit(exitCode); }, Qt::QueuedConnection);
    server.start();
    return app.exec();
} catch (const KalvoraError& e) {
    std::fprintf(stderr, "kalvora-server: %s\n", qPrintable(e.message()));
    return 1;
} catch (const std::exception& e) {
    std::fprintf(stderr, "kalvora-server: %s\n", e.what());
    return 1;
}
