// The archive file's two layouts side by side, in one run: one row per sample ("rows", as before
// packing) and old hours packed into blocks ("packed"). Printed per layout: bytes per sample of a fresh
// start's 24-hour archive and of the engine benchmark's month archive, the month's ingest rate, eight
// curves reduced as a chart asks for them (24 h and the whole month, p50/p95), one zoom step over the
// month (p95) and the CSV export of a day of all trends.
// Options: --days N (length of the month archive, default 30; about 1 GB of disk with the rows layout),
//          --layout rows|packed (only one of them),
//          --month DIR (keep the month archives in DIR and reuse them on the next run, to save the fill),
//          --steps (print each zoom step's time).
#include "BenchOptions.h"
#include "AlarmJournal.h"
#include "ArchiveFill.h"
#include "EmbeddedHistory.h"
#include "EngineTestSupport.h"
#include "ProjectLoader.h"
#include "ReducedReads.h"
#include "Runtime.h"
#include "TrendCsvExport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using Layout = SqliteArchiveBackend::Layout;

qint64 fileBytes(const QString& path)
{
    return QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
}

bool printSteps = false;

/// The first eight trends of the store, as the chart reads them.
bench::Reduce curvesOf(const ArchiveStore& store)
{
    return [&store](int curve, qint64 t0, qint64 t1, int n) { return store.reduced(store.archiveOf(curve), store.trendAt(curve).name, t0, t1, n).size(); };
}

bench::Percentiles chart(const ArchiveStore& store, qint64 t0, qint64 t1, int runs)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i)
        ms.push_back(bench::chartMs(curvesOf(store), t0, t1));
    return bench::percentiles(ms);
}

double csvDayMs(const ArchiveStore& store, qint64 t0, const QString& path)
{
    AlarmJournal journal;
    EmbeddedHistory history(store, journal);
    std::vector<TrendCsvExport::Curve> curves;
    for (int i = 0; i < store.trendCount(); ++i)
        curves.push_back({store.archiveOf(i), store.trendAt(i).name});
    QObject owner;
    bool done = false;
    QElapsedTimer timer;
    timer.start();
    TrendCsvExport::start(history, path, curves, t0, t0 + bench::Day * 1000 - 1, &owner, [&](const QString& error) {
        if (!error.isEmpty())
            std::printf("export failed: %s\n", qPrintable(error));
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents();
    return timer.nsecsElapsed() / 1e6;
}

void run(Layout layout, qint64 days, const QString& monthDir)
{
    const char* name = layout == Layout::Rows ? "rows" : "packed";
    std::printf("== %s ==\n", name);
    QTemporaryDir dir;
    copyProject(dir.path());
    {
        RuntimeOptions options = testOptions(dir.path(), 24);
        options.archiveLayout = layout;
        QElapsedTimer timer;
        timer.start();
        Runtime runtime(options);
        if (const QString error = startAndWait(runtime, QStringLiteral("Kalvora"), 600000); !error.isEmpty()) {
            std::printf("%s\n", qPrintable(error));
            return;
        }
        const double startSeconds = timer.nsecsElapsed() / 1e9;
        runtime.stop();
        const QString path = QDir(options.dataDirectory).filePath(QStringLiteral("Kalvora/archive.sqlite"));
        std::printf("  fresh start, 24 h back-fill: %.2f B/sample (%.1f MB), start with back-fill %.1f s\n",
                    static_cast<double>(fileBytes(path)) / (13.0 * bench::Day), fileBytes(path) / 1e6, startSeconds);
        if (qEnvironmentVariableIsSet("KALVORA_BENCH_KEEP"))
            QFile::copy(path, qEnvironmentVariable("KALVORA_BENCH_KEEP") + QLatin1String(name));
    }
    const QString path = QDir(monthDir.isEmpty() ? dir.path() : monthDir).filePath(QStringLiteral("month-%1-%2.sqlite").arg(QLatin1String(name)).arg(days));
    const bool reuse = !monthDir.isEmpty() && QFileInfo::exists(path);
    ArchiveStore store(nullptr);
    RuntimeOptions options = testOptions(dir.path());
    const auto project = ProjectLoader::load(QDir(options.projectsRoot).filePath(QStringLiteral("Kalvora")));
    store.setSettings(project.project.archive);
    if (const QString error = store.open(std::make_unique<SqliteArchiveBackend>(path, layout)); !error.isEmpty()) {
        std::printf("%s\n", qPrintable(error));
        return;
    }
    const double rate = reuse ? 0.0 : bench::fillArchive(store, bench::Start + 1000, days);
    store.waitPacked(600000);
    store.close();
    const double samples = static_cast<double>(store.trendCount()) * days * bench::Day;
    std::printf("  month archive (%lld days, %.0f samples): %.2f B/sample (%.1f MB), ingest %.0f rows/s%s\n", static_cast<long long>(days),
                samples, fileBytes(path) / samples, fileBytes(path) / 1e6, rate,
                reuse ? " (reused)" : "");
    (void)store.open(std::make_unique<SqliteArchiveBackend>(path, layout));
    const qint64 end = bench::Start + days * bench::Day * 1000;
    const bench::Percentiles day = chart(store, end - bench::Day * 1000 + 1, end, 21);
    const bench::Percentiles month = chart(store, bench::Start + 1, end, 21);
    const bench::Percentiles zoom = bench::zoomSteps(curvesOf(store), bench::Start + 1, end, printSteps);
    std::printf("  8 curves, last 24 h: p50 %.2f ms, p95 %.2f ms\n", day.p50, day.p95);
    std::printf("  8 curves, %lld days: p50 %.2f ms, p95 %.2f ms\n", static_cast<long long>(days), month.p50, month.p95);
    std::printf("  zoom step over the month (8 curves): p50 %.2f ms, p95 %.2f ms\n", zoom.p50, zoom.p95);
    const QString csv = QDir(dir.path()).filePath(QStringLiteral("day.csv"));
    const double csvMs = csvDayMs(store, end - 2 * bench::Day * 1000 + 1, csv);
    std::printf("  CSV export of a day, %d trends: %.0f ms (%.1f MB)\n", store.trendCount(), csvMs, QFileInfo(csv).size() / 1e6);
    store.close();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qint64 days = bench::optionNumber(args, "--days", 30);
    const QString monthDir = bench::optionText(args, "--month");
    printSteps = args.contains(QStringLiteral("--steps"));
    // --layout rows|packed: only one of them, while working on it.
    const QString only = bench::optionText(args, "--layout");
    if (only != QLatin1String("packed"))
        run(Layout::Rows, days, monthDir);
    if (only != QLatin1String("rows"))
        run(Layout::Packed, days, monthDir);
    return 0;
}
