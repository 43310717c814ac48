#include "HistoryBench.h"

#include "ArchiveStore.h"
#include "BrokerSettings.h"
#include "ChartTiming.h"
#include "ChildProcess.h"
#include "EngineTestSupport.h"
#include "QMTrend.h"
#include "RemoteSource.h"
#include "Runtime.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>

#include <cstdio>

namespace HistoryBench {

namespace {

/// The chart as the trend screen has it, offline over the month up to `endMs`.
Figures measure(Runtime& runtime, qint64 endMs, int days, int runs)
{
    QMTrend chart(runtime, nullptr);
    chart.resize(510, 218);
    chart.show();
    QTest::qWait(50);
    ChartTiming watch(chart);
    ChartBench::bindCurves(chart, runtime.archive());
    chart.setOnline(false);
    chart.setPeriodSeconds(days * 86400);
    chart.setTimePosition(QDateTime::fromMSecsSinceEpoch(endMs));
    Figures figures;
    for (int run = 0; run < runs; ++run)
        figures.applyMs.push_back(watch.toPainted([&] { chart.ApplyCurveSettings(); }));
    for (int run = 0; run < runs; ++run) {
        figures.zoomMs.push_back(watch.toPainted([&] { ChartBench::wheelStep(chart, run); }));
        QTest::qWait(20);
    }
    return figures;
}

} // namespace

bool run(const Options& options, Figures& embedded, Figures& remote)
{
    const qint64 end = QDateTime::currentMSecsSinceEpoch() / 1000 * 1000;
    {
        RuntimeOptions local;
        local.projectsRoot = options.projectsRoot;
        local.dataDirectory = options.dataFolder;
        local.realTime = false;
        local.backfillHours = 0;
        local.startTimeMs = end + 1000;
        Runtime runtime(local);
        if (const QString why = startAndWait(runtime, QStringLiteral("Kalvora"), 60000); !why.isEmpty()) {
            std::fprintf(stderr, "the embedded runtime did not start: %s\n", qPrintable(why));
            return false;
        }
        QElapsedTimer fill;
        fill.start();
        ChartBench::fillArchive(runtime.archive(), end, options.days);
        std::fprintf(stderr, "filled %d days of %d trends in %.1f s\n", options.days, ChartBench::Curves, static_cast<double>(fill.elapsed()) / 1000.0);
        embedded = measure(runtime, end, options.days, options.runs);
        runtime.stop();
    }

    // The same archive, now the server's.
    ChildProcess server(QStringLiteral("kalvora-server (history)"), options.serverProgram,
                        {QStringLiteral("--project"), QStringLiteral("Kalvora"), QStringLiteral("--projects"), options.projectsRoot, QStringLiteral("--data"),
                         options.dataFolder, QStringLiteral("--settings"), options.serverLogin, QStringLiteral("--backfill-hours"), QStringLiteral("0")});
    if (!server.start())
        return false;
    const BrokerSettings::Result login = BrokerSettings::readFile(options.stationLogin);
    RemoteStationOptions station;
    station.broker = login.settings;
    station.user = QStringLiteral("bench");
    RuntimeOptions through;
    through.projectsRoot = options.projectsRoot;
    through.dataDirectory = QDir(options.dataFolder).filePath(QStringLiteral("station"));
    through.remoteSource = RemoteSource::factory(station);
    Runtime runtime(through);
    if (const QString why = startAndWait(runtime, QStringLiteral("Kalvora"), 60000); !why.isEmpty()) {
        std::fprintf(stderr, "the station did not start: %s\n", qPrintable(why));
        return false;
    }
    remote = measure(runtime, end, options.days, options.runs);
    runtime.stop();
    return true;
}

} // namespace HistoryBench
