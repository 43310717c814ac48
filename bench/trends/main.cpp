// Measures the trend chart and the trend screen and prints the figures:
//   ApplyCurveSettings to painted for 8 curves over 24 hours and over 30 days of 1-second samples,
//   one wheel zoom step and one pan step on 8 curves over 30 days (p95), and the CPU the trend screen
//   with its four live charts takes per second of wall time.
//
//   bench_trends [--days N] [--runs N] [--cpu-seconds N]   (defaults 30, 30, 10)
//
// The month of archive is written straight into the store first (8 trends, about 20 million rows:
// a minute or two and some 700 MB of disk in a temporary folder).

#include "BenchOptions.h"
#include "ArchiveStore.h"
#include "BenchStation.h"
#include "ChartTiming.h"
#include "EngineTestSupport.h"
#include "QMButton.h"
#include "QMSKey.h"
#include "QMTrend.h"
#include "Runtime.h"
#include "Window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <sys/resource.h>

#include <cmath>
#include <cstdio>

namespace {

using namespace ChartBench;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int option(const QStringList& args, const char* name, int fallback)
{
    return static_cast<int>(bench::optionNumber(args, name, fallback));
}

void chartBenchmarks(int days, int runs, SqliteArchiveBackend::Layout layout)
{
    QTemporaryDir dir;
    const QString projects = copyProject(dir.path());
    RuntimeOptions options;
    options.projectsRoot = projects;
    options.dataDirectory = QDir(dir.path()).filePath(QStringLiteral("data"));
    options.realTime = false;
    options.backfillHours = 0;
    options.archiveLayout = layout;
    const qint64 end = QDateTime::currentMSecsSinceEpoch() / 1000 * 1000;
    options.startTimeMs = end + 1000;
    Runtime runtime(options);
    if (const QString why = startAndWait(runtime); !why.isEmpty()) {
        std::printf("runtime did not start: %s\n", qPrintable(why));
        std::exit(1);
    }
    ArchiveStore& store = runtime.archive();
    QElapsedTimer fill;
    fill.start();
    fillArchive(store, end, days);
    // The chart is measured on the archive as it stands in operation, not while the fill is packed.
    store.waitPacked(600'000);
    std::printf("%s: filled %d days of %d trends in %.1f s\n", layout == SqliteArchiveBackend::Layout::Rows ? "one row per sample" : "packed hours",
                days, Curves, fill.nsecsElapsed() / 1e9);

    QMTrend chart(runtime, nullptr);
    chart.setObjectName(QStringLiteral("trdBench"));
    chart.resize(510, 218);
    chart.show();
    QTest::qWait(50);
    ChartTiming watch(chart);
    bindCurves(chart, store);
    chart.setOnline(false);

    for (const int periodDays : {1, days}) {
        chart.setPeriodSeconds(periodDays * 86400);
        chart.setTimePosition(QDateTime::fromMSecsSinceEpoch(end));
        std::vector<double> times;
        for (int run = 0; run < std::max(5, runs / 3); ++run)
            times.push_back(watch.toPainted([&] { chart.ApplyCurveSettings(); }));
        std::printf("%-58s %8.1f ms p50 %8.1f ms p95 (goal <= %d ms)\n",
                    qPrintable(QStringLiteral("ApplyCurveSettings to painted, 8 curves, %1 d").arg(periodDays)),
                    percentile(times, 50), percentile(times, 95), periodDays == 1 ? 30 : 50);
    }

    std::vector<double> paints;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        chart.repaint();
        paints.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::printf("%-58s %8.1f ms p50 %8.1f ms p95\n", "repaint alone, 8 curves", percentile(paints, 50), percentile(paints, 95));

    // Over the whole month: a wheel notch in, then out, around the middle; then pan steps of 10 pixels.
    const QPointF middle(chart.width() / 2.0, chart.height() / 2.0);
    std::vector<double> zooms;
    for (int run = 0; run < runs; ++run) {
        zooms.push_back(watch.toPainted([&] { wheelStep(chart, run); }));
        QTest::qWait(20);
    }
    std::printf("%-58s %8.1f ms p50 %8.1f ms p95 (goal <= 16 ms)\n", "wheel zoom step, 8 curves over the month", percentile(zooms, 50), percentile(zooms, 95));
    std::vector<double> pans;
    QMouseEvent press(QEvent::MouseButtonPress, middle, chart.mapToGlobal(middle), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&chart, &press);
    for (int run = 0; run < runs; ++run) {
        // Ten steps right, ten back, and so on: each step brings 10 columns into view.
        const int leg = run % 20;
        const QPointF at = middle + QPointF(10.0 * (leg < 10 ? leg + 1 : 19 - leg), 0);
        pans.push_back(watch.toPainted([&] {
            QMouseEvent move(QEvent::MouseMove, at, chart.mapToGlobal(at), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&chart, &move);
        }));
        QTest::qWait(20);
    }
    std::printf("%-58s %8.1f ms p50 %8.1f ms p95 (goal <= 16 ms)\n", "pan step of 10 px, 8 curves over the month", percentile(pans, 50), percentile(pans, 95));
    runtime.stop();
}

void screenCpu(int seconds)
{
    BenchStation station(true);
    if (!station.startUp())
        std::exit(1);
    Shell& shell = station.shell();
    const auto cpuPerWallSecond = [](int s) {
        const double cpu0 = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(s * 1000);
        return (cpuSeconds() - cpu0) / (wall.nsecsElapsed() / 1e9) * 100.0;
    };
    const double overview = cpuPerWallSecond(seconds);
    shell.window(QStringLiteral("FCentral")).control<QMButton>(QStringLiteral("QMButton1")).key(6).click();
    if (!QTest::qWaitFor([&] { return shell.window(QStringLiteral("FTrends")).isVisible(); }, 5000))
        std::exit(1);
    QTest::qWait(500);
    const double trends = cpuPerWallSecond(seconds);
    std::printf("%-58s %8.2f %% of a core\n", "station on the plant overview (for comparison)", overview);
    std::printf("%-58s %8.2f %% of a core (goal < 3 %%)\n", "station on the trend screen, four live charts", trends);
}

} // namespace

int main(int argc, char** argv)
{
    BenchStation::useHeadlessDisplay();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    // Both archive layouts in one run, so their figures share the machine's mood.
    for (const auto layout : {SqliteArchiveBackend::Layout::Rows, SqliteArchiveBackend::Layout::Packed})
        chartBenchmarks(std::max(1, option(args, "--days", 30)), std::max(10, option(args, "--runs", 30)), layout);
    screenCpu(std::max(2, option(args, "--cpu-seconds", 10)));
    return 0;
}
