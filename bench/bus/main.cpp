// The plant through a server against the embedded runtime, side by side in one run. Prints one table:
//  1. kalvora-server against plcsim (500 registers polled every 100 ms) with four stations, and an
//     embedded station on the same PLC: CPU per second of wall time of server, broker, each station
//     and the embedded station over the window; a register change at the PLC to the value painted on
//     a station (all four pooled) and on the embedded station, p50 and p95.
//  2. An acknowledgement on station A to the alarm line painted steady on station B, p50 and p95.
//  3. The trend chart, 8 curves over a month: ApplyCurveSettings to painted and one wheel zoom step,
//     embedded archive against the same archive through the server, p50 and p95.
//  4. Broker killed to every mapped value bad on every station; broker back to every value good.
//
//   bench_bus [--quick] [--seconds N] [--cycles N] [--days N] [--runs N]
//   (defaults 30 s of CPU window, 20 acknowledgements, 30 days, 20 chart runs: one to two minutes and
//   700 MB of temporary disk; --quick: 10 s, 8, 3 days, 8 runs, under a minute)
//
// Every station is a whole station (runtime and shell, offscreen) in a child process of this program
// (StationRole), so its CPU is its own and the broker stands between it and the server as it would
// between machines. Each station paints a value control on the PLC's clock register: plcsim writes its
// wall clock there, so the painted value says how old it is. Across processes, times come from one
// monotonic clock. The chart figures are taken in this process, first on the embedded runtime that
// wrote the month, then as a station of a kalvora-server started on that same archive.

#include "BenchOptions.h"
#include "BenchStation.h"
#include "BrokerConfig.h"
#include "BrokerSettings.h"
#include "ChildProcess.h"
#include "EngineTestSupport.h"
#include "HistoryBench.h"
#include "MosquittoBroker.h"
#include "PlcBench.h"
#include "StationRole.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace {

const QString modbusProject = QStringLiteral("BenchModbus");
const QString historyProject = QStringLiteral("Kalvora");
const QString benchAlarm = QStringLiteral("Bench.Alarm");
const QString alarmRegister = QStringLiteral("Ch1.Kalvora.Bench.R002");
const QStringList stationNames{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("D")};
const QString historyStation = QStringLiteral("H");

int option(const QStringList& args, const char* name, int fallback)
{
    return static_cast<int>(bench::optionNumber(args, name, fallback));
}

/// Ends the run through main's handler, so that every child process is stopped on the way out.
[[noreturn]] void fail(const char* why)
{
    throw std::runtime_error(why);
}

/// One filler register made writable, with an alarm above 0.5 that comes at once: a station's write
/// raises it through the PLC and clears it again.
void addBenchAlarm(const QString& folder)
{
    const QString variablesFile = QDir(folder).filePath(QStringLiteral("variables.json"));
    QJsonObject variables = PlcBench::readJson(variablesFile).object();
    QJsonArray defs = variables.value(QStringLiteral("variables")).toArray();
    for (qsizetype i = 0; i < defs.size(); ++i)
        if (defs.at(i).toObject().value(QStringLiteral("name")).toString() == alarmRegister) {
            QJsonObject def = defs.at(i).toObject();
            def[QStringLiteral("writable")] = true;
            defs[i] = def;
        }
    variables[QStringLiteral("variables")] = defs;
    PlcBench::writeJson(variablesFile, variables);
    const QString alarmsFile = QDir(folder).filePath(QStringLiteral("alarms.json"));
    QJsonObject alarms = PlcBench::readJson(alarmsFile).object();
    QJsonArray list = alarms.value(QStringLiteral("alarms")).toArray();
    list.append(QJsonObject{{QStringLiteral("id"), benchAlarm}, {QStringLiteral("group"), QStringLiteral("FCentralAlarms1")},
                            {QStringLiteral("variable"), alarmRegister}, {QStringLiteral("condition"), QStringLiteral("above")},
                            {QStringLiteral("limit"), 0.5}, {QStringLiteral("deadband"), 0.25}, {QStringLiteral("delaySeconds"), 0},
                            {QStringLiteral("text"), QStringLiteral("AlarmWasserpumpeAus")}, {QStringLiteral("help"), QStringLiteral("waterpumpoff")}});
    alarms[QStringLiteral("alarms")] = list;
    PlcBench::writeJson(alarmsFile, alarms);
}

QString writeLogin(const QString& folder, int port, const QString& user)
{
    const QString path = QDir(folder).filePath(user + QStringLiteral(".json"));
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(BrokerSettings::toJson(QStringLiteral("mqtt://127.0.0.1:%1").arg(port), user, user + QStringLiteral("-bench")));
    return path;
}

void row(const QString& what, const QString& figure)
{
    std::printf("  %-66s %s\n", qPrintable(what), qPrintable(figure));
}

QString latency(const std::vector<double>& ms, const QString& goal = {})
{
    return QStringLiteral("p50 %1 ms, p95 %2 ms (%3)%4")
        .arg(percentile(ms, 50), 0, 'f', 1)
        .arg(percentile(ms, 95), 0, 'f', 1)
        .arg(ms.size())
        .arg(goal.isEmpty() ? QString() : QStringLiteral("  goal ") + goal);
}

/// Sends `command` to every station and waits until each has taken it ("@armed").
void armAll(const std::vector<std::unique_ptr<ChildProcess>>& stations, const QString& command)
{
    for (const auto& s : stations)
        s->send(command);
    for (const auto& s : stations)
        if (!s->await(QStringLiteral("armed")))
            fail("a station did not take its command");
}

/// Milliseconds from `startNs` to the last station's answer `what` (with its time); -1 if one failed.
double untilAll(const std::vector<std::unique_ptr<ChildProcess>>& stations, const QString& what, qint64 startNs)
{
    qint64 last = startNs;
    for (const auto& s : stations) {
        const std::optional<QStringList> answer = s->await(what, 60000);
        if (!answer)
            return -1.0;
        last = std::max(last, answer->value(0).toLongLong());
    }
    return static_cast<double>(last - startNs) / 1e6;
}

int conduct(const QStringList& args)
{
    const bool quick = args.contains(QStringLiteral("--quick"));
    const int seconds = std::max(5, option(args, "--seconds", quick ? 10 : 30));
    const int cycles = std::max(2, option(args, "--cycles", quick ? 8 : 20));
    const int days = std::max(1, option(args, "--days", quick ? 3 : 30));
    const int runs = std::max(3, option(args, "--runs", quick ? 8 : 20));

    QTemporaryDir root;
    const QString projects = copyProject(root.path());
    const int plcPort = PlcBench::freePort();
    const QString modbusFolder = QDir(projects).filePath(modbusProject);
    PlcBench::makeProject(QStringLiteral(KALVORA_SOURCE_MODBUS_PROJECT), modbusFolder, plcPort);
    addBenchAlarm(modbusFolder);
    QProcess plc;
    if (!PlcBench::startPlc(plc, QStringLiteral(KALVORA_PLCSIM), modbusFolder, plcPort))
        fail("plcsim did not start");

    MosquittoBroker broker;
    broker.addAccount(QLatin1String(BrokerConfig::serverUser), QStringLiteral("server-bench"),
                      BrokerConfig::serverAccess(modbusProject) + BrokerConfig::serverAccess(historyProject));
    for (const QString& name : stationNames)
        broker.addAccount(name, name + QStringLiteral("-bench"), BrokerConfig::stationAccess(modbusProject, name));
    broker.addAccount(historyStation, historyStation + QStringLiteral("-bench"), BrokerConfig::stationAccess(historyProject, historyStation));
    if (!broker.start())
        fail(qPrintable(broker.errorString()));
    const QString serverLogin = writeLogin(root.path(), broker.port(), QLatin1String(BrokerConfig::serverUser));

    const QString self = QCoreApplication::applicationFilePath();
    const auto stationArguments = [&](const QString& name, const QString& login) {
        QStringList a{QStringLiteral("--role"), QStringLiteral("station"), QStringLiteral("--projects"), projects, QStringLiteral("--project"),
                      modbusProject, QStringLiteral("--data"), QDir(root.path()).filePath(QStringLiteral("data-") + name)};
        if (!login.isEmpty())
            a << QStringLiteral("--station") << login;
        return a;
    };
    ChildProcess server(QStringLiteral("kalvora-server"), QStringLiteral(KALVORA_SERVER),
                        {QStringLiteral("--project"), modbusProject, QStringLiteral("--projects"), projects, QStringLiteral("--data"),
                         QDir(root.path()).filePath(QStringLiteral("data-server")), QStringLiteral("--settings"), serverLogin});
    ChildProcess embedded(QStringLiteral("embedded station"), self, stationArguments(QStringLiteral("embedded"), {}));
    std::vector<std::unique_ptr<ChildProcess>> stations;
    for (const QString& name : stationNames)
        stations.push_back(std::make_unique<ChildProcess>(QStringLiteral("station ") + name, self,
                                                          stationArguments(name, writeLogin(root.path(), broker.port(), name))));
    if (!server.start() || !embedded.start(60000))
        fail("the server or the embedded station did not come up");
    for (const auto& s : stations)
        if (!s->start())
            fail("a station did not start");
    for (const auto& s : stations)
        if (!s->await(QStringLiteral("ready"), 90000))
            fail("a station did not come up");

    // 1. CPU and PLC to painted, everyone running side by side.
    QTest::qWait(3000);
    std::vector<ChildProcess*> measured{&server, &embedded};
    for (const auto& s : stations)
        measured.push_back(s.get());
    std::vector<double> cpuBefore;
    for (ChildProcess* p : measured) {
        p->send(QStringLiteral("measure"));
        cpuBefore.push_back(p->cpuSeconds());
    }
    const double brokerBefore = ChildProcess::cpuSecondsOf(broker.processId());
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(seconds * 1000);
    const double wallSeconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    std::vector<double> cpuPercent;
    for (std::size_t i = 0; i < measured.size(); ++i)
        cpuPercent.push_back((measured[i]->cpuSeconds() - cpuBefore[i]) / wallSeconds * 100.0);
    const double brokerPercent = (ChildProcess::cpuSecondsOf(broker.processId()) - brokerBefore) / wallSeconds * 100.0;
    const auto delaysOf = [](ChildProcess& p) {
        p.send(QStringLiteral("report"));
        std::vector<double> delays;
        if (const std::optional<QStringList> answer = p.await(QStringLiteral("delays")))
            for (const QString& d : *answer)
                delays.push_back(d.toDouble());
        return delays;
    };
    const std::vector<double> embeddedDelays = delaysOf(embedded);
    std::vector<double> stationDelays;
    for (const auto& s : stations) {
        const std::vector<double> d = delaysOf(*s);
        stationDelays.insert(stationDelays.end(), d.begin(), d.end());
    }

    // 2. Acknowledged on A, steady on B: the alarm raised and cleared through the PLC each time.
    ChildProcess& a = *stations[0];
    ChildProcess& b = *stations[1];
    std::vector<double> acknowledgements;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        a.send(QStringLiteral("write %1 1").arg(alarmRegister));
        b.send(QStringLiteral("await-active ") + benchAlarm);
        if (!a.await(QStringLiteral("written")) || !b.await(QStringLiteral("active")))
            fail("the bench alarm did not come");
        b.send(QStringLiteral("await-steady ") + benchAlarm);
        if (!b.await(QStringLiteral("armed")))
            fail("station B did not take its command");
        a.send(QStringLiteral("ack ") + benchAlarm);
        const std::optional<QStringList> acked = a.await(QStringLiteral("acked"));
        const std::optional<QStringList> steady = b.await(QStringLiteral("steady"));
        if (!acked || !steady)
            fail("the acknowledgement did not show on station B");
        acknowledgements.push_back(static_cast<double>(steady->value(0).toLongLong() - acked->value(0).toLongLong()) / 1e6);
        a.send(QStringLiteral("write %1 0").arg(alarmRegister));
        b.send(QStringLiteral("await-normal ") + benchAlarm);
        if (!a.await(QStringLiteral("written")) || !b.await(QStringLiteral("normal")))
            fail("the bench alarm did not go");
    }

    // 4. The broker killed and started again on its port.
    armAll(stations, QStringLiteral("await-bad"));
    qint64 start = StationRole::monotonicNs();
    broker.kill();
    const double allBad = untilAll(stations, QStringLiteral("bad"), start);
    armAll(stations, QStringLiteral("await-good"));
    start = StationRole::monotonicNs();
    if (!broker.start())
        fail("the broker did not start again");
    const double allGood = untilAll(stations, QStringLiteral("good"), start);
    for (const auto& s : stations)
        s->stop();
    embedded.stop();
    server.stop();
    plc.kill();
    plc.waitForFinished(5000);

    // 3. History, the month through the server against the embedded archive.
    HistoryBench::Options history;
    history.projectsRoot = projects;
    history.dataFolder = QDir(root.path()).filePath(QStringLiteral("data-history"));
    history.serverProgram = QStringLiteral(KALVORA_SERVER);
    history.serverLogin = serverLogin;
    history.stationLogin = writeLogin(root.path(), broker.port(), historyStation);
    history.days = days;
    history.runs = runs;
    HistoryBench::Figures chartLocal;
    HistoryBench::Figures chartRemote;
    const bool historyOk = HistoryBench::run(history, chartLocal, chartRemote);

    std::printf("bench_bus: kalvora-server and %lld stations against plcsim (%d registers, poll %d ms), one embedded station on the same PLC; "
                "CPU over %.0f s\n",
                static_cast<long long>(stations.size()), PlcBench::Registers, PlcBench::PollMs, wallSeconds);
    const auto percent = [](double p, const char* goal) { return QStringLiteral("%1 % of one core%2").arg(p, 0, 'f', 2).arg(QString::fromLatin1(goal)); };
    row(QStringLiteral("CPU kalvora-server"), percent(cpuPercent[0], "  goal < 5 %"));
    row(QStringLiteral("CPU mosquitto"), percent(brokerPercent, ""));
    for (std::size_t i = 0; i < stations.size(); ++i)
        row(QStringLiteral("CPU station %1").arg(stationNames[static_cast<qsizetype>(i)]), percent(cpuPercent[i + 2], "  goal < 3 %"));
    row(QStringLiteral("CPU embedded station (runtime in process)"), percent(cpuPercent[1], ""));
    row(QStringLiteral("PLC change -> painted, station of the server (4 pooled)"), latency(stationDelays, QStringLiteral("p95 <= 200 ms")));
    row(QStringLiteral("PLC change -> painted, embedded station"), latency(embeddedDelays, QStringLiteral("p95 <= 150 ms")));
    row(QStringLiteral("acknowledged on A -> alarm line steady on B"), latency(acknowledgements, QStringLiteral("p95 <= 100 ms")));
    row(QStringLiteral("broker killed -> every value bad on every station"), QStringLiteral("%1 ms").arg(allBad, 0, 'f', 1));
    row(QStringLiteral("broker back -> every value good on every station"), QStringLiteral("%1 ms").arg(allGood, 0, 'f', 1));
    if (historyOk) {
        const QString goal = QStringLiteral("p95 <= %1 ms (twice embedded)");
        row(QStringLiteral("ApplyCurveSettings to painted, 8 curves, %1 d, embedded").arg(days), latency(chartLocal.applyMs));
        row(QStringLiteral("ApplyCurveSettings to painted, 8 curves, %1 d, through server").arg(days),
            latency(chartRemote.applyMs, goal.arg(2 * percentile(chartLocal.applyMs, 95), 0, 'f', 1)));
        row(QStringLiteral("wheel zoom step over %1 d, embedded").arg(days), latency(chartLocal.zoomMs));
        row(QStringLiteral("wheel zoom step over %1 d, through server").arg(days),
            latency(chartRemote.zoomMs, goal.arg(2 * percentile(chartLocal.zoomMs, 95), 0, 'f', 1)));
    }
    std::fflush(stdout);
    return historyOk && allBad >= 0 && allGood >= 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    BenchStation::useHeadlessDisplay();
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.contains(QStringLiteral("--role")))
        return StationRole::run(args);
    try {
        return conduct(args);
    } catch (const std::runtime_error& failure) {
        std::fprintf(stderr, "bench_bus: %s\n", failure.what());
        return 1;
    }
}
