// The station against plcsim, the fake PLC, running as a second process on this machine: 500 mapped
// registers polled every 100 ms. Prints
//  - the station's CPU per second of wall time while it polls (the whole station: runtime, overview);
//  - the delay from a register change at the PLC to the new value in the TagStore and to the repaint
//    of a value control bound to it, p50 and p95;
//  - the time from the link dropping to every mapped variable bad, for a PLC that dies (connection
//    closed) and for one that freezes (connection open, no answers).
//
//   bench_modbus [seconds] [--grab FILE]   (default 20 s; --grab writes the overview with the link down)
//
// plcsim writes its own clock into a 32-bit register every 200 to 400 ms; both processes read the
// same clock, so the value itself says when it changed at the PLC.

#include "BenchStation.h"
#include "QMSVarOut.h"
#include "Shell.h"
#include "TagStore.h"
#include "TopLevelError.h"
#include "Window.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int Registers = 500;
constexpr int PollMs = 100;
constexpr int TimeoutMs = 500;
const QString Clock = QStringLiteral("Ch1.Kalvora.Bench.Clock");

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1.0e6;
}

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

/// KalvoraModbus with the plant's registers plus the PLC's clock and filler registers up to 500, on `port`.
QStringList makeProject(const QString& folder, int port)
{
    QDir().mkpath(folder);
    QDirIterator it(QStringLiteral(KALVORA_SOURCE_MODBUS_PROJECT), QDir::Files);
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
    QStringList mapped;
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
    for (const QJsonValue& m : std::as_const(map))
        mapped.append(m.toObject().value(QStringLiteral("variable")).toString());
    return mapped;
}

bool startPlc(QProcess& plc, const QString& folder, int port)
{
    plc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    plc.start(QStringLiteral(KALVORA_PLCSIM), {QStringLiteral("--map"), QDir(folder).filePath(QStringLiteral("modbus.json")), QStringLiteral("--port"),
                                               QString::number(port), QStringLiteral("--clock"), Clock});
    return plc.waitForReadyRead(10000) && plc.readAll().startsWith("plcsim:");
}

/// Milliseconds since the PLC stamped `value` with its clock.
double ageOf(const QVariant& value)
{
    const quint32 now = static_cast<quint32>(QDateTime::currentMSecsSinceEpoch());
    return static_cast<double>(static_cast<quint32>(now - static_cast<quint32>(value.toDouble())));
}

/// Repaints of the clock's value control: the age of the value it shows, once per value.
class PaintWatch final : public QObject {
public:
    explicit PaintWatch(TagStore& tags)
        : m_tags(tags)
    {
    }
    std::vector<double> delaysMs;
    bool counting = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override
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

private:
    TagStore& m_tags;
    QVariant m_last;
};

double timeToAllBad(TagStore& tags, const QStringList& mapped, const std::function<void()>& drop)
{
    QElapsedTimer clock;
    clock.start();
    drop();
    const auto allBad = [&] {
        return std::all_of(mapped.begin(), mapped.end(), [&](const QString& name) { return tags.value(name).quality == TagQuality::Bad; });
    };
    if (!QTest::qWaitFor(allBad, 10000))
        return -1.0;
    return static_cast<double>(clock.nsecsElapsed()) / 1.0e6;
}

} // namespace

int main(int argc, char** argv)
{
    BenchStation::useHeadlessDisplay();
    QApplication app(argc, argv);
    const int seconds = argc >= 2 && argv[1][0] != '-' ? std::max(5, std::atoi(argv[1])) : 20;
    const QStringList arguments = QCoreApplication::arguments();
    const qsizetype grabAt = arguments.indexOf(QStringLiteral("--grab"));
    const QString grabFile = grabAt > 0 && grabAt + 1 < arguments.size() ? arguments.at(grabAt + 1) : QString();

    QTemporaryDir root;
    const int port = freePort();
    const QString folder = QDir(root.path()).filePath(QStringLiteral("projects/BenchModbus"));
    const QStringList mapped = makeProject(folder, port);
    QProcess plc;
    if (!startPlc(plc, folder, port)) {
        std::fprintf(stderr, "plcsim did not start\n");
        return 1;
    }

    RuntimeOptions options;
    options.projectsRoot = QDir(root.path()).filePath(QStringLiteral("projects"));
    options.dataDirectory = QDir(root.path()).filePath(QStringLiteral("data"));
    options.projectOverride = QStringLiteral("BenchModbus");
    Runtime runtime(options);
    Shell shell(runtime, Shell::Options{QString(), [](int) {}});
    TopLevelError::setReporter([](const QString& message) {
        std::fprintf(stderr, "the station failed: %s\n", qPrintable(message));
        std::exit(1);
    });
    shell.start();
    if (!QTest::qWaitFor([&] { return shell.phase() == Shell::Phase::Running; }, 30000)) {
        std::fprintf(stderr, "the station did not come up: %s\n", qPrintable(runtime.lastError()));
        return 1;
    }
    TagStore& tags = runtime.tags();
    const auto allGood = [&] {
        return std::all_of(mapped.begin(), mapped.end(), [&](const QString& name) { return tags.value(name).isGood(); });
    };
    if (!QTest::qWaitFor(allGood, 10000)) {
        std::fprintf(stderr, "the values did not arrive from plcsim\n");
        return 1;
    }

    // A value control bound to the PLC's clock, painted like the overview's.
    QMSVarOut clockView(runtime, nullptr);
    clockView.setProperty("processVariable", Clock);
    clockView.resize(120, 24);
    clockView.show();
    PaintWatch paints(tags);
    clockView.installEventFilter(&paints);

    std::vector<double> arrivals;
    bool counting = false;
    tags.subscribe(Clock, &app, [&](const TagValue& v) {
        if (counting && v.isGood())
            arrivals.push_back(ageOf(v.value));
    });

    QTest::qWait(1000);
    counting = true;
    paints.counting = true;
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(seconds * 1000);
    const double cpuPercent = (cpuSeconds() - cpu0) / (static_cast<double>(wall.nsecsElapsed()) / 1.0e9) * 100.0;
    counting = false;
    paints.counting = false;

    std::printf("bench_modbus: %d mapped registers (%lld variables), poll %d ms, timeout %d ms, %d s, plcsim in a second process\n",
                Registers, static_cast<long long>(mapped.size()), PollMs, TimeoutMs, seconds);
    std::printf("  station CPU while polling: %.2f %% of one core\n", cpuPercent);
    std::printf("  PLC change -> TagStore: p50 %.1f ms, p95 %.1f ms (%zu changes)\n", percentile(arrivals, 50), percentile(arrivals, 95), arrivals.size());
    std::printf("  PLC change -> repainted: p50 %.1f ms, p95 %.1f ms (%zu changes)\n", percentile(paints.delaysMs, 50), percentile(paints.delaysMs, 95), paints.delaysMs.size());

    // A PLC that freezes: the connection stays, the answers stop; the watchdog decides.
    const double frozen = timeToAllBad(tags, mapped, [&] { ::kill(static_cast<pid_t>(plc.processId()), SIGSTOP); });
    ::kill(static_cast<pid_t>(plc.processId()), SIGCONT);
    if (!QTest::qWaitFor(allGood, 40000)) {
        std::fprintf(stderr, "the values did not come back after the freeze\n");
        return 1;
    }
    // A PLC that dies: the connection closes.
    const double killed = timeToAllBad(tags, mapped, [&] {
        plc.kill();
        plc.waitForFinished(5000);
    });
    std::printf("  link drop -> every variable bad: PLC killed %.0f ms, PLC frozen %.0f ms (bound: poll + timeout = %d ms)\n", killed, frozen, PollMs + TimeoutMs);
    std::fflush(stdout);
    if (!grabFile.isEmpty()) {
        QTest::qWait(2500); // the communication alarm comes after its delay
        if (!shell.window(QStringLiteral("FCentral")).widget().grab().save(grabFile, "PNG"))
            std::fprintf(stderr, "cannot write %s\n", qPrintable(grabFile));
    }
    return 0;
}
