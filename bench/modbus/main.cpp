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
#include "PlcBench.h"
#include "QMSVarOut.h"
#include "Shell.h"
#include "TagStore.h"
#include "Window.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace PlcBench;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1.0e6;
}

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
    const QStringList mapped = makeProject(QStringLiteral(KALVORA_SOURCE_MODBUS_PROJECT), folder, port);
    QProcess plc;
    if (!startPlc(plc, QStringLiteral(KALVORA_PLCSIM), folder, port)) {
        std::fprintf(stderr, "plcsim did not start\n");
        return 1;
    }

    RuntimeOptions options;
    options.projectsRoot = QDir(root.path()).filePath(QStringLiteral("projects"));
    options.projectOverride = QStringLiteral("BenchModbus");
    BenchStation station(options);
    if (!station.startUp())
        return 1;
    Runtime& runtime = station.runtime();
    Shell& shell = station.shell();
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
    ClockPaintWatch paints(tags);
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
