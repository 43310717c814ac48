// Measures the runtime engine and prints its figures:
//   archive ingest (samples and rollups) against a plain SQLite insert loop, a 24-hour range and its
//   reduction to 1,000 and 1,500 buckets (with --month also over 30 days),
//   start-up on a filled archive, CPU of simulation and recording at normal speed, and the cost of
//   delivering 1,000 tag changes a second to 150 subscribers.
// Options: --month (start-up on 30 days of archive; takes a few minutes and about 1 GB of disk),
//          --cpu-seconds N (how long the CPU measurement runs, default 20).
#include "ArchiveFill.h"
#include "ArchiveStore.h"
#include "EngineTestSupport.h"
#include "ProjectLoader.h"
#include "Runtime.h"
#include "TagStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <sqlite3.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using bench::Day;
using bench::fillArchive;
using bench::Start;

void print(const char* name, double value, const char* unit)
{
    std::printf("%-58s %14.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

struct Timing {
    double wallMs;
    double cpuMs; ///< unaffected by other processes taking the core away
};

/// Medians of wall and thread CPU time over `runs` calls.
template <class F>
Timing median(int runs, F&& f)
{
    std::vector<double> wall;
    std::vector<double> cpu;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        const double cpuBefore = threadCpuMs();
        timer.start();
        f();
        wall.push_back(timer.nsecsElapsed() / 1e6);
        cpu.push_back(threadCpuMs() - cpuBefore);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

/// The baseline: the simplest batched insert loop SQLite offers, same pragmas, no key but the rowid.
double plainInsertRowsPerSecond(const QString& path, qint64 seconds, int trends)
{
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; CREATE TABLE plain(trend INTEGER, t INTEGER, v REAL)", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO plain(trend, t, v) VALUES(?1, ?2, ?3)", -1, &insert, nullptr);
    QElapsedTimer timer;
    timer.start();
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (qint64 s = 0; s < seconds; ++s) {
        for (int trend = 0; trend < trends; ++trend) {
            sqlite3_bind_int64(insert, 1, trend);
            sqlite3_bind_int64(insert, 2, Start + s * 1000);
            sqlite3_bind_double(insert, 3, std::sin(s * 0.001 + trend));
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    const double elapsed = timer.nsecsElapsed() / 1e9;
    sqlite3_finalize(insert);
    sqlite3_close(db);
    return static_cast<double>(seconds * trends) / elapsed;
}

/// The chart query at two chart widths: rollups for the middle of each bucket, raw samples at its edges.
void reducedFigures(const ArchiveStore& store, qint64 t0, qint64 t1, const char* span)
{
    for (const int buckets : {1000, 1500}) {
        qsizetype rows = 0;
        const Timing reduce = median(21, [&] { rows = store.reduced(QStringLiteral("Wasser"), QStringLiteral("WaterTank1"), t0, t1, buckets).size(); });
        const QByteArray label = QStringLiteral("reduced: %1, %2 buckets (median of 21), wall").arg(QLatin1String(span)).arg(buckets).toUtf8();
        print(label.constData(), reduce.wallMs, "ms");
        print("  thread CPU", reduce.cpuMs, "ms");
        print("  points returned", static_cast<double>(rows), "");
    }
}

double startupMs(const RuntimeOptions& options)
{
    Runtime runtime(options);
    QEventLoop loop;
    QObject::connect(&runtime, &Runtime::started, &loop, &QEventLoop::quit);
    QObject::connect(&runtime, &Runtime::startFailed, &loop, [&](const QString& reason) {
        std::printf("start failed: %s\n", qPrintable(reason));
        loop.quit();
    });
    QElapsedTimer timer;
    timer.start();
    runtime.start(QStringLiteral("Kalvora"));
    loop.exec();
    const double ms = timer.nsecsElapsed() / 1e6;
    runtime.stop();
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool month = args.contains(QStringLiteral("--month"));
    const qsizetype cpuAt = args.indexOf(QStringLiteral("--cpu-seconds"));
    const int cpuSecondsToRun = cpuAt > 0 && cpuAt + 1 < args.size() ? args.at(cpuAt + 1).toInt() : 20;

    QTemporaryDir dir;
    const QString projects = copyProject(dir.path());
    const ProjectLoadResult loaded = ProjectLoader::load(QDir(projects).filePath(QStringLiteral("Kalvora")));
    if (!loaded.ok()) {
        std::printf("%s\n", qPrintable(loaded.error));
        return 1;
    }
    RuntimeOptions options;
    options.projectsRoot = projects;
    options.dataDirectory = QDir(dir.path()).filePath(QStringLiteral("data"));
    options.realTime = false;
    options.backfillHours = 0;
    options.startTimeMs = Start + Day * 1000 + 1000;
    const QString archivePath = QDir(options.dataDirectory).filePath(QStringLiteral("Kalvora/archive.sqlite"));

    std::printf("== archive ingest (24 h of 13 trends at 1 s, one transaction) ==\n");
    const double plain = plainInsertRowsPerSecond(QDir(dir.path()).filePath(QStringLiteral("plain.sqlite")), Day, 13);
    print("plain SQLite insert loop", plain, "rows/s");
    ArchiveStore store(nullptr);
    store.setSettings(loaded.project.archive);
    if (const QString error = store.open(archivePath); !error.isEmpty()) {
        std::printf("%s\n", qPrintable(error));
        return 1;
    }
    const double ingest = fillArchive(store, Start + 1000, 1);
    print("ArchiveStore (keyed by trend and time, WAL)", ingest, "rows/s");
    print("ArchiveStore / plain loop", ingest / plain, "");
    {
        // The live path: one transaction a second with one sample per trend.
        QTemporaryDir liveDir;
        ArchiveStore live(nullptr);
        live.setSettings(loaded.project.archive);
        (void)live.open(QDir(liveDir.path()).filePath(QStringLiteral("live.sqlite")));
        const int commits = 2000;
        QElapsedTimer timer;
        timer.start();
        for (int c = 0; c < commits; ++c) {
            for (int t = 0; t < live.trendCount(); ++t)
                live.add(t, Start + c * 1000LL, c + t);
            live.setPlantState(QByteArray(600, 'x'));
            live.commit();
        }
        print("live recording: one commit (13 samples + plant state)", timer.nsecsElapsed() / 1e3 / commits, "us");
    }

    std::printf("== queries on that archive ==\n");
    const qint64 t1 = Start + Day * 1000;
    const qint64 t0 = t1 - Day * 1000 + 1;
    qsizetype rows = 0;
    const Timing range = median(21, [&] { rows = store.range(QStringLiteral("Wasser"), QStringLiteral("WaterTank1"), t0, t1).size(); });
    print("range: one trend, 24 h at 1 s (median of 21), wall", range.wallMs, "ms");
    print("  thread CPU", range.cpuMs, "ms");
    print("  rows returned", static_cast<double>(rows), "");
    reducedFigures(store, t0, t1, "24 h");
    store.close();

    std::printf("== start-up on a filled archive ==\n");
    print("start to started(), 1 day in the archive", startupMs(options), "ms");
    if (month) {
        store.setSettings(loaded.project.archive);
        (void)store.open(archivePath);
        QElapsedTimer timer;
        timer.start();
        const double monthRate = fillArchive(store, Start + (Day + 1) * 1000, 29);
        print("  (filling 29 more days took)", timer.elapsed() / 1000.0, "s");
        print("  ingest rate over the month, with rollups", monthRate, "rows/s");
        const qint64 end = Start + 30 * Day * 1000;
        reducedFigures(store, end - 30 * Day * 1000 + 1, end, "30 days");
        reducedFigures(store, end - Day * 1000 + 1, end, "last 24 h of 30 days");
        qsizetype rows = 0;
        const Timing raw = median(3, [&] { rows = store.range(QStringLiteral("Wasser"), QStringLiteral("WaterTank1"), end - 30 * Day * 1000 + 1, end).size(); });
        print("range: the raw 30 days of one trend (median of 3), wall", raw.wallMs, "ms");
        print("  rows returned", static_cast<double>(rows), "");
        store.close();
        print("  archive file size", QFileInfo(archivePath).size() / 1e6, "MB");
        RuntimeOptions later = options;
        later.startTimeMs = Start + 30 * Day * 1000 + 2000;
        print("start to started(), 30 days in the archive", startupMs(later), "ms");
    }

    std::printf("== delivering 1,000 tag changes to 150 subscribers ==\n");
    for (const int tagsUsed : {50, 1}) {
        TagStore tags(nullptr);
        QObject owner;
        std::vector<std::unique_ptr<QObject>> subscribers;
        qint64 deliveries = 0;
        for (int i = 0; i < 150; ++i) {
            subscribers.push_back(std::make_unique<QObject>(&owner));
            tags.subscribe(QStringLiteral("T%1").arg(i % tagsUsed), subscribers.back().get(), [&deliveries](const TagValue&) { ++deliveries; });
        }
        QStringList names;
        for (int i = 0; i < tagsUsed; ++i)
            names.append(QStringLiteral("T%1").arg(i));
        double value = 0;
        const double ms = median(51, [&] {
            for (int i = 0; i < 1000; ++i)
                tags.publish(names.at(i % tagsUsed), value += 0.5, TagQuality::Good, Start + i);
        }).cpuMs;
        const QByteArray label = QStringLiteral("1,000 changes over %1 tag(s), 150 subscribers (CPU)").arg(tagsUsed).toUtf8();
        print(label.constData(), ms, "ms");
        print("  = CPU share at 1,000 changes/s", ms / 10.0, "% of a core");
        print("  deliveries per change", static_cast<double>(deliveries) / (51 * 1000), "");
    }

    std::printf("== CPU of simulation and recording at normal speed (%d s, real time) ==\n", cpuSecondsToRun);
    {
        QTemporaryDir cpuDir;
        RuntimeOptions realTime = options;
        realTime.realTime = true;
        realTime.startTimeMs = 0;
        realTime.dataDirectory = cpuDir.path();
        Runtime runtime(realTime);
        QEventLoop loop;
        QObject::connect(&runtime, &Runtime::started, &loop, &QEventLoop::quit);
        runtime.start(QStringLiteral("Kalvora"));
        loop.exec();
        const double cpuBefore = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QTimer::singleShot(cpuSecondsToRun * 1000, &loop, &QEventLoop::quit);
        loop.exec();
        const double cpu = cpuSeconds() - cpuBefore;
        const double seconds = wall.nsecsElapsed() / 1e9;
        const qint64 now = runtime.now();
        const auto samples = runtime.archive().range(QStringLiteral("Fuel"), QStringLiteral("FuelTank1"), now - cpuSecondsToRun * 1000 - 2000, now);
        print("CPU share of one core", cpu / seconds * 100.0, "%");
        print("  samples recorded per trend", static_cast<double>(samples.size()), "");
        runtime.stop();
    }
    return 0;
}
