// Measures the archive on PostgreSQL beside the embedded SQLite archive, same samples, one run, each
// in today's layout (a row per sample) and packed (hours past the live window in blocks):
//   ingest rate with rollups, bytes on disk per sample (tables, keys, rollups, blocks), the reduced
//   query of 8 curves over the whole span on the cell grid (as the chart asks), a jump to one day at
//   20 places (p95) and twenty zoom steps into the span, three rounds (p95).
// Options: --interval-ms N (sample interval, default 10000; 1000 gives the 1 s archive),
//          --days N (default 30), --batch-s N (seconds of samples per commit, default 3600),
//          --steps (print each zoom step's time), --full-precision (values in all 52 mantissa bits; default: counts of 0.01, as from a PLC).
// Runs a throwaway PostgreSQL cluster of its own (as the postgres user when run as root), stopped and
// removed with its folder on every way out but SIGKILL: on errors and on SIGINT, SIGTERM or SIGHUP too.
#include "ArchiveStore.h"
#include "PgArchiveBackend.h"
#include "PgBlockPacker.h"
#include "SampleBlockCodec.h"
#include "SqliteArchiveBackend.h"
#include "PgArchiveReader.h"
#include "PgArchiveSchema.h"
#include "PgArchiveWriter.h"
#include "PgConnection.h"
#include "PostgresCluster.h"
#include "ReducedReads.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include <csignal>
#include <pthread.h>

namespace {

constexpr int Curves = 8;
constexpr qint64 Start = 1793491200000LL; // 2026-11-01 00:00 UTC

[[noreturn]] void fail(const QString& why);

void print(const char* name, double value, const char* unit)
{
    std::printf("%-62s %14.3f %s\n", name, value, unit);
    if (std::fflush(stdout) != 0)
        fail(QStringLiteral("standard output is closed"));
}

bool fullPrecision = false;

double value(int curve, qint64 i)
{
    const double v = 50.0 + 40.0 * std::sin(static_cast<double>(i) / (300.0 + 37.0 * curve)) + static_cast<double>((i * 7919 + curve * 104729) % 100) / 50.0;
    // A PLC hands over a register: a whole count times its scale.
    return fullPrecision ? v : static_cast<double>(std::llround(v * 100.0)) * 0.01;
}

qint64 option(const QStringList& args, const QString& name, qint64 fallback)
{
    const qsizetype i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args[i + 1].toLongLong() : fallback;
}

/// What must not outlive the bench: a cluster left running holds its port, its shared memory and its
/// folder in /tmp.
struct Leftovers {
    std::mutex mutex;
    PostgresCluster* cluster = nullptr;
    QString sqliteDir;
    bool done = false;
};
Leftovers leftovers;

void cleanUp()
{
    const std::lock_guard lock(leftovers.mutex);
    if (leftovers.done)
        return;
    leftovers.done = true;
    std::error_code ignored;
    if (leftovers.cluster) {
        if (leftovers.cluster->isRunning())
            leftovers.cluster->stop(true);
        std::filesystem::remove_all(QFile::encodeName(leftovers.cluster->socketDir()).toStdString(), ignored);
    }
    if (!leftovers.sqliteDir.isEmpty())
        std::filesystem::remove_all(QFile::encodeName(leftovers.sqliteDir).toStdString(), ignored);
}

[[noreturn]] void fail(const QString& why)
{
    std::fprintf(stderr, "bench_history_pg: %s\n", qPrintable(why));
    cleanUp();
    std::_Exit(1);
}

/// Signals that end the bench are taken by a thread of their own, which cleans up and leaves; every
/// other thread, and so every child process, has them blocked.
void cleanUpOnSignals()
{
    static sigset_t stopping;
    sigemptyset(&stopping);
    for (const int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stopping, s);
    pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
    // A reader that goes away (`| head`) ends the bench through fail(), not through SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    std::thread([] {
        int received = 0;
        sigwait(&stopping, &received);
        cleanUp();
        std::_Exit(128 + received);
    }).detach();
}

double medianMs(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

double p95Ms(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
}

/// What one layout of one backend measured.
struct Figures {
    double ingestRowsPerS = 0;
    double packSamplesPerS = 0;
    double bytesPerSample = 0;
    double chartMs = 0;
    double dayChartMs = 0;
    double zoomP95Ms = 0;
    double zoomStepP95Ms = 0;
};

} // namespace

int main(int argc, char** argv)
{
    cleanUpOnSignals();
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qint64 interval = option(args, QStringLiteral("--interval-ms"), 10'000);
    const bool printSteps = args.contains(QStringLiteral("--steps"));
    const qint64 days = option(args, QStringLiteral("--days"), 30);
    const qint64 batchS = option(args, QStringLiteral("--batch-s"), 3600);
    fullPrecision = args.contains(QStringLiteral("--full-precision"));
    const qint64 perCurve = days * 86'400'000LL / interval;
    const qint64 perBatch = std::max<qint64>(1, batchS * 1000 / interval);
    const qint64 end = Start + perCurve * interval - 1;
    const double rows = static_cast<double>(perCurve * Curves);
    std::printf("%d curves, %lld days at %lld ms, %lld samples per curve per commit, %s values\n", Curves, static_cast<long long>(days),
        static_cast<long long>(interval), static_cast<long long>(perBatch), fullPrecision ? "full-precision" : "PLC (counts of 0.01)");

    PostgresCluster cluster;
    QTemporaryDir dir;
    {
        const std::lock_guard lock(leftovers.mutex);
        leftovers.cluster = &cluster;
        leftovers.sqliteDir = dir.path();
    }
    if (QString e = cluster.start(); !e.isEmpty())
        fail(e);
    ArchiveSettings settings;
    settings.retentionDays = 3650;
    settings.recordIntervalMs = static_cast<int>(interval);
    settings.archives = {{QStringLiteral("bench"), {}}};
    QList<std::pair<QString, QString>> names;
    for (int k = 0; k < Curves; ++k) {
        names.append({QStringLiteral("bench"), QStringLiteral("c%1").arg(k)});
        settings.archives[0].trends.append({names.back().second, names.back().second, 0, 100, {}});
    }
    QElapsedTimer timer;

    // The chart's month on the grid of the rollup cells (about 1,000 buckets), then one day at 20 places.
    const auto charts = [&](ArchiveStore& store, Figures& f) {
        const qint64 bucketMs = ArchiveStore::alignedBucketMs((end - Start + 1) / 1000);
        const qint64 gridStart = Start / bucketMs * bucketMs;
        const int buckets = static_cast<int>((end - gridStart) / bucketMs + 1);
        std::vector<double> runs;
        for (int run = 0; run < 7; ++run) {
            timer.start();
            for (int k = 0; k < Curves; ++k)
                if (store.reduced(QStringLiteral("bench"), names[k].second, gridStart, gridStart + buckets * bucketMs - 1, buckets).isEmpty())
                    fail(QStringLiteral("no points"));
            runs.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        }
        f.chartMs = medianMs(runs);
        runs.clear();
        const bench::Reduce curves = [&](int k, qint64 t0, qint64 t1, int n) { return store.reduced(QStringLiteral("bench"), names[k].second, t0, t1, n).size(); };
        for (int run = 0; run < 7; ++run)
            runs.push_back(bench::chartMs(curves, end - 86'400'000 + 1, end));
        f.dayChartMs = medianMs(runs);
        runs.clear();
        const qint64 dayBucket = ArchiveStore::alignedBucketMs(86'400'000 / 1000);
        for (int place = 0; place < 20; ++place) {
            const qint64 from = (Start + (end - Start - 86'400'000) / 19 * place) / dayBucket * dayBucket;
            timer.start();
            for (int k = 0; k < Curves; ++k)
                store.reduced(QStringLiteral("bench"), names[k].second, from, from + 1000 * dayBucket - 1, 1000);
            runs.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        }
        f.zoomP95Ms = p95Ms(runs);
        f.zoomStepP95Ms = bench::zoomSteps(curves, Start, end, printSteps).p95;
    };

    Figures pg[2], sqlite[2];
    double arrayBytes = 0, codecBytes = 0, walPerSample = 0;
    for (const bool packed : {false, true}) {
        // PostgreSQL: the writer as the archive uses it; packing as its worker does, a day at a time,
        // with the vacuum that the server's autovacuum would run beside it.
        const QString db = packed ? QStringLiteral("packed") : QStringLiteral("rows");
        PgConnection c;
        QString error = c.open(cluster.conninfo());
        if (error.isEmpty() && !c.exec("CREATE DATABASE " + db.toUtf8()).ok())
            error = QStringLiteral("cannot create database %1").arg(db);
        if (error.isEmpty())
            error = c.open(cluster.conninfo(db));
        if (error.isEmpty())
            error = PgArchiveSchema::open(c);
        const QList<int> ids = error.isEmpty() ? PgArchiveSchema::bindTrends(c, names, &error) : QList<int>();
        if (!error.isEmpty())
            fail(error);
        const std::vector<qint64> idList(ids.begin(), ids.end());
        auto fileBackend = std::make_unique<SqliteArchiveBackend>(QDir(dir.path()).filePath(db + QStringLiteral(".sqlite")),
            packed ? SqliteArchiveBackend::Layout::Packed : SqliteArchiveBackend::Layout::Rows);
        SqliteArchiveBackend* file = fileBackend.get();
        ArchiveStore lite;
        lite.setSettings(settings);
        if (QString e = lite.open(std::move(fileBackend)); !e.isEmpty())
            fail(e);
        PgArchiveWriter writer(c);
        const QByteArray walBefore = c.exec("SELECT pg_current_wal_lsn()").text(0, 0);
        double pgMs = 0, packMs = 0, sqliteMs = 0;
        for (qint64 first = 0; first < perCurve; first += perBatch) {
            std::vector<PgSample> batch;
            batch.reserve(static_cast<size_t>(perBatch * Curves));
            for (qint64 i = first; i < std::min(perCurve, first + perBatch); ++i)
                for (int k = 0; k < Curves; ++k)
                    batch.push_back({ids[k], Start + i * interval, value(k, i)});
            timer.start();
            if (QString e = writer.write(batch); !e.isEmpty())
                fail(e);
            pgMs += static_cast<double>(timer.nsecsElapsed()) / 1e6;
            timer.start();
            for (const PgSample& s : batch)
                lite.add(s.trend - ids[0], s.timeMs, s.value);
            lite.commit();
            sqliteMs += static_cast<double>(timer.nsecsElapsed()) / 1e6;
            // As the worker would after each batch; an hour passes between two in a plant, time enough
            // for the autovacuum to free what the packing deleted.
            if (packed) {
                timer.start();
                if (PgBlockPacker::packDue(c, idList, INT_MAX, &error) < 0)
                    fail(error);
                packMs += static_cast<double>(timer.nsecsElapsed()) / 1e6;
                c.exec("VACUUM samples, rollups");
            }
        }
        if (!packed)
            walPerSample = static_cast<double>(c.exec("SELECT pg_wal_lsn_diff(pg_current_wal_lsn(), $1)", {walBefore}).int64(0, 0)) / rows;
        if (packed && !file->waitPacked(180'000))
            fail(QStringLiteral("the file's packer did not finish"));
        Figures& p = pg[packed];
        Figures& q = sqlite[packed];
        p.ingestRowsPerS = rows / (pgMs / 1000.0);
        q.ingestRowsPerS = rows / (sqliteMs / 1000.0);
        p.packSamplesPerS = packMs > 0 ? rows / (packMs / 1000.0) : 0;

        c.exec("VACUUM ANALYZE");
        const auto bytes = [&](const QByteArray& sql) { return static_cast<double>(c.exec(sql).int64(0, 0)); };
        p.bytesPerSample = (bytes("SELECT coalesce(sum(pg_total_relation_size(inhrelid)), 0) FROM pg_inherits WHERE inhparent IN ('samples'::regclass, 'rollups'::regclass)") +
                               bytes("SELECT pg_total_relation_size('sample_blocks')")) / rows;
        const QByteArray part = "SELECT coalesce(sum(pg_total_relation_size(inhrelid)), 0) FROM pg_inherits WHERE inhparent = ";
        std::printf("PostgreSQL %s: bytes per sample in samples %.1f, rollups %.1f, blocks %.1f\n", packed ? "packed" : "rows",
            bytes(part + "'samples'::regclass") / rows, bytes(part + "'rollups'::regclass") / rows, bytes("SELECT pg_total_relation_size('sample_blocks')") / rows);
        if (packed) {
            arrayBytes = bytes("SELECT pg_total_relation_size('sample_blocks')") / rows;
            // The same blocks as the codec's blobs, for comparison: their bytes plus a row's head and key.
            PgResult blocks = c.exec("SELECT b.trend, b.start, x.t, x.v FROM sample_blocks b CROSS JOIN LATERAL kalvora_block_samples(b.start, b.dt, b.step, b.k0, "
                                     "b.dk, b.vals) x ORDER BY b.trend, b.start, x.t", {}, PgConnection::Rows::Binary);
            std::vector<PackedSample> one;
            const auto flush = [&] {
                if (!one.empty())
                    codecBytes += static_cast<double>(SampleBlockCodec::encode(one).size()) + 24 + 4 + 40;
                one.clear();
            };
            for (int i = 0; i < blocks.rows(); ++i) {
                if (i > 0 && (blocks.int64(i, 0) != blocks.int64(i - 1, 0) || blocks.int64(i, 1) != blocks.int64(i - 1, 1)))
                    flush();
                one.push_back({blocks.int64(i, 2), blocks.real(i, 3)});
            }
            flush();
            codecBytes /= rows;
        }
        // Reads as the runtime makes them, through the archive and its reduction; no packer running.
        ArchiveStore server;
        server.setSettings(settings);
        if (QString e = server.open(std::make_unique<PgArchiveBackend>(cluster.conninfo(db), PgArchiveBackend::Layout::Rows)); !e.isEmpty())
            fail(e);
        charts(server, p);
        {
            std::vector<double> runs;
            PgArchiveReader reader(c);
            for (int run = 0; run < 9; ++run) {
                timer.start();
                reader.range(ids[3], Start + 86'400'000, Start + 2 * 86'400'000 - 1);
                runs.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
            }
            print(packed ? "PostgreSQL one curve's day through range(), packed, median" : "PostgreSQL one curve's day through range(), rows, median", medianMs(runs), "ms");
        }
        charts(lite, q);
        server.close();
        lite.close();
        q.bytesPerSample = static_cast<double>(QFileInfo(QDir(dir.path()).filePath(db + QStringLiteral(".sqlite"))).size()) / rows;
        c.close();
        if (!packed)
            print("PostgreSQL write-ahead log per sample, rows", walPerSample, "B");
    }
    {
        // A fresh start as the runtime makes it: a day of 13 trends at 1 s back-filled in one bulk into
        // the packed archive, its packer left to finish, a clean stop, then the server's vacuum.
        constexpr int FreshTrends = 13;
        constexpr qint64 FreshSamples = 86'400;
        ArchiveSettings fresh;
        fresh.retentionDays = 3650;
        fresh.recordIntervalMs = 1000;
        fresh.archives = {{QStringLiteral("fresh"), {}}};
        for (int k = 0; k < FreshTrends; ++k)
            fresh.archives[0].trends.append({QStringLiteral("f%1").arg(k), QStringLiteral("f%1").arg(k), 0, 100, {}});
        PgConnection c;
        if (QString e = c.open(cluster.conninfo()); !e.isEmpty() || !c.exec("CREATE DATABASE fresh").ok())
            fail(QStringLiteral("cannot create database fresh"));
        ArchiveStore store;
        store.setSettings(fresh);
        if (QString e = store.open(std::make_unique<PgArchiveBackend>(cluster.conninfo(QStringLiteral("fresh")))); !e.isEmpty())
            fail(e);
        timer.start();
        store.beginBulk();
        for (qint64 i = 0; i < FreshSamples; ++i)
            for (int k = 0; k < FreshTrends; ++k)
                store.bulkAdd(k, Start + i * 1000, value(k, i));
        store.endBulk(true);
        const double fillMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        if (!store.waitPacked(180'000))
            fail(QStringLiteral("the server's packer did not finish"));
        store.close();
        if (QString e = c.open(cluster.conninfo(QStringLiteral("fresh"))); !e.isEmpty())
            fail(e);
        c.exec("VACUUM ANALYZE");
        const double samples = static_cast<double>(FreshSamples * FreshTrends);
        const auto bytes = [&](const QByteArray& sql) { return static_cast<double>(c.exec(sql).int64(0, 0)); };
        const QByteArray part = "SELECT coalesce(sum(pg_total_relation_size(inhrelid)), 0) FROM pg_inherits WHERE inhparent = ";
        const double inSamples = bytes(part + "'samples'::regclass"), inRollups = bytes(part + "'rollups'::regclass");
        const double inBlocks = bytes("SELECT pg_total_relation_size('sample_blocks')");
        std::printf("PostgreSQL fresh day (13 trends, 1 s): %.0f rows left, bytes per sample in samples %.2f, rollups %.2f, blocks %.2f\n",
            bytes("SELECT count(*) FROM samples"), inSamples / samples, inRollups / samples, inBlocks / samples);
        print("PostgreSQL fresh day back-filled, clean stop, bytes per sample", (inSamples + inRollups + inBlocks) / samples, "B");
        print("PostgreSQL fresh day back-fill", fillMs, "ms");
        c.close();
    }
    std::printf("%-44s %12s %12s %12s %12s\n", "", "PG rows", "PG packed", "SQLite rows", "SQLite packed");
    const auto line = [](const char* name, double Figures::*field, const char* unit, Figures* a, Figures* b) {
        std::printf("%-44s %12.1f %12.1f %12.1f %12.1f %s\n", name, a[0].*field, a[1].*field, b[0].*field, b[1].*field, unit);
    };
    line("ingest with rollups", &Figures::ingestRowsPerS, "rows/s", pg, sqlite);
    line("bytes per sample (tables, keys, rollups, blocks)", &Figures::bytesPerSample, "B", pg, sqlite);
    line("8 curves over the span, ~1000 buckets, median", &Figures::chartMs, "ms", pg, sqlite);
    line("8 curves over the last 24 h, median", &Figures::dayChartMs, "ms", pg, sqlite);
    line("zoom to one day, 8 curves, 20 places, p95", &Figures::zoomP95Ms, "ms", pg, sqlite);
    line("zoom step over the span, 8 curves, p95", &Figures::zoomStepP95Ms, "ms", pg, sqlite);
    print("PostgreSQL packing, samples per second (a day at a time)", pg[1].packSamplesPerS, "samples/s");
    print("PostgreSQL blocks as SQL arrays (lz4), bytes per sample", arrayBytes, "B");
    print("PostgreSQL blocks as codec blobs (estimate, row head and key included)", codecBytes, "B");
    if (std::fflush(stdout) != 0)
        fail(QStringLiteral("standard output is closed"));
    cleanUp();
    return 0;
}
