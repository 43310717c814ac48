// Measures the archive on PostgreSQL beside the embedded SQLite archive, same samples, one run:
//   ingest rate with rollups, the reduced query of 8 curves over 30 days (1,500 buckets, as a chart),
//   bytes on disk per sample (table plus indexes, rollups included), and, on PostgreSQL, one trend's
//   hour read through the B-tree key against a BRIN index on time.
// Options: --interval-ms N (sample interval, default 10000; 1000 gives the 1 s month, minutes long),
//          --days N (default 30), --batch-s N (seconds of samples per commit, default 3600).
// Runs a throwaway PostgreSQL cluster of its own (as the postgres user when run as root), stopped and
// removed with its folder on every way out but SIGKILL: on errors and on SIGINT, SIGTERM or SIGHUP too.
#include "ArchiveStore.h"
#include "PgArchiveBackend.h"
#include "PgArchiveSchema.h"
#include "PgArchiveWriter.h"
#include "PgConnection.h"
#include "PostgresCluster.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
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

double value(int curve, qint64 i)
{
    return 50.0 + 40.0 * std::sin(static_cast<double>(i) / (300.0 + 37.0 * curve)) + static_cast<double>((i * 7919 + curve * 104729) % 100) / 50.0;
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

} // namespace

int main(int argc, char** argv)
{
    cleanUpOnSignals();
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qint64 interval = option(args, QStringLiteral("--interval-ms"), 10'000);
    const qint64 days = option(args, QStringLiteral("--days"), 30);
    const qint64 batchS = option(args, QStringLiteral("--batch-s"), 3600);
    const qint64 perCurve = days * 86'400'000LL / interval;
    const qint64 perBatch = std::max<qint64>(1, batchS * 1000 / interval);
    const qint64 end = Start + perCurve * interval - 1;
    std::printf("%d curves, %lld days at %lld ms, %lld samples per curve per commit\n", Curves, static_cast<long long>(days),
        static_cast<long long>(interval), static_cast<long long>(perBatch));

    PostgresCluster cluster;
    QTemporaryDir dir;
    {
        const std::lock_guard lock(leftovers.mutex);
        leftovers.cluster = &cluster;
        leftovers.sqliteDir = dir.path();
    }
    if (QString e = cluster.start(); !e.isEmpty())
        fail(e);
    PgConnection c;
    QString error = c.open(cluster.conninfo());
    if (error.isEmpty())
        error = PgArchiveSchema::open(c);
    if (!error.isEmpty())
        fail(error);
    QList<std::pair<QString, QString>> names;
    ArchiveSettings settings;
    settings.retentionDays = 3650;
    settings.recordIntervalMs = static_cast<int>(interval);
    settings.archives = {{QStringLiteral("bench"), {}}};
    for (int k = 0; k < Curves; ++k) {
        names.append({QStringLiteral("bench"), QStringLiteral("c%1").arg(k)});
        settings.archives[0].trends.append({names.back().second, names.back().second, 0, 100, {}});
    }
    const QList<int> ids = PgArchiveSchema::bindTrends(c, names, &error);
    if (!error.isEmpty())
        fail(error);

    ArchiveStore sqlite;
    sqlite.setSettings(settings);
    if (QString e = sqlite.open(QDir(dir.path()).filePath(QStringLiteral("archive.sqlite"))); !e.isEmpty())
        fail(e);

    // Ingest, the same batches into both.
    PgArchiveWriter writer(c);
    const QByteArray walBefore = c.exec("SELECT pg_current_wal_lsn()").text(0, 0);
    double pgMs = 0;
    double sqliteMs = 0;
    QElapsedTimer timer;
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
            sqlite.add(s.trend - ids[0], s.timeMs, s.value);
        sqlite.commit();
        sqliteMs += static_cast<double>(timer.nsecsElapsed()) / 1e6;
    }
    const double rows = static_cast<double>(perCurve * Curves);
    print("PostgreSQL ingest with rollups", rows / (pgMs / 1000.0), "rows/s");
    print("SQLite ingest with rollups", rows / (sqliteMs / 1000.0), "rows/s");
    // What each committed sample costs the server's write-ahead log, the price of durability.
    print("PostgreSQL write-ahead log per sample", static_cast<double>(c.exec("SELECT pg_wal_lsn_diff(pg_current_wal_lsn(), $1)", {walBefore}).int64(0, 0)) / rows, "B");

    // A chart of 8 curves over the whole span: buckets as they fall, and on the grid of the rollup cells
    // as the trend chart asks for them.
    // Read through the archive as the runtime does: the same reduction over either store.
    ArchiveStore pg;
    pg.setSettings(settings);
    if (QString e = pg.open(std::make_unique<PgArchiveBackend>(cluster.conninfo())); !e.isEmpty())
        fail(e);
    const qint64 bucketMs = ArchiveStore::alignedBucketMs((end - Start + 1) / 1500);
    const qint64 gridStart = Start / bucketMs * bucketMs;
    const int gridBuckets = static_cast<int>((end - gridStart) / bucketMs + 1);
    for (const bool aligned : {false, true}) {
        const qint64 t0 = aligned ? gridStart : Start;
        const qint64 t1 = aligned ? gridStart + gridBuckets * bucketMs - 1 : end;
        const int buckets = aligned ? gridBuckets : 1500;
        std::vector<double> pgRuns, sqliteRuns;
        for (int run = 0; run < 7; ++run) {
            timer.start();
            for (int k = 0; k < Curves; ++k)
                if (pg.reduced(QStringLiteral("bench"), names[k].second, t0, t1, buckets).isEmpty())
                    fail(QStringLiteral("no points"));
            pgRuns.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
            timer.start();
            for (int k = 0; k < Curves; ++k)
                sqlite.reduced(QStringLiteral("bench"), names[k].second, t0, t1, buckets);
            sqliteRuns.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        }
        print(aligned ? "PostgreSQL reduced, 8 curves, buckets on the cell grid, median" : "PostgreSQL reduced, 8 curves, 1500 buckets as they fall, median",
            medianMs(pgRuns), "ms");
        print(aligned ? "SQLite reduced, 8 curves, buckets on the cell grid, median" : "SQLite reduced, 8 curves, 1500 buckets as they fall, median",
            medianMs(sqliteRuns), "ms");
    }

    // Bytes on disk per sample.
    c.exec("VACUUM ANALYZE");
    const auto bytes = [&](const char* parent) {
        PgResult r = c.exec(QByteArray("SELECT coalesce(sum(pg_total_relation_size(inhrelid)), 0) FROM pg_inherits WHERE inhparent = '") + parent + "'::regclass");
        return static_cast<double>(r.int64(0, 0));
    };
    const double samplesBytes = bytes("samples");
    const double rollupBytes = bytes("rollups");
    print("PostgreSQL bytes per sample, samples table and key", samplesBytes / rows, "B");
    print("PostgreSQL bytes per sample, with rollups", (samplesBytes + rollupBytes) / rows, "B");
    sqlite.close();
    const QString file = QDir(dir.path()).filePath(QStringLiteral("archive.sqlite"));
    print("SQLite bytes per sample, whole file (samples, rollups, keys)", static_cast<double>(QFileInfo(file).size()) / rows, "B");

    // One trend's hour in the middle: through the key on (trend, t), then through BRIN on t alone.
    const QByteArray hour = "SELECT count(*) FROM samples WHERE trend = " + QByteArray::number(ids[3]) + " AND t >= " +
                            QByteArray::number(Start + (end - Start) / 2) + " AND t < " + QByteArray::number(Start + (end - Start) / 2 + 3'600'000);
    const auto hourMs = [&] {
        std::vector<double> runs;
        for (int run = 0; run < 9; ++run) {
            timer.start();
            if (!c.exec(hour).ok())
                fail(QStringLiteral("hour read failed"));
            runs.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        }
        return medianMs(runs);
    };
    print("PostgreSQL one trend's hour, B-tree (trend, t)", hourMs(), "ms");
    c.exec("CREATE INDEX samples_brin ON samples USING brin (t)");
    c.exec("VACUUM ANALYZE");
    const double brinBytes = static_cast<double>(c.exec("SELECT coalesce(sum(pg_relation_size(indexrelid)), 0) FROM pg_index i JOIN pg_class x "
                                                        "ON x.oid = i.indexrelid WHERE x.relname LIKE 'samples_%brin%' OR x.relname LIKE 'samples_%_t_idx'")
                                                   .int64(0, 0));
    const double btreeBytes = static_cast<double>(c.exec("SELECT coalesce(sum(pg_relation_size(indexrelid)), 0) FROM pg_index i JOIN pg_class x "
                                                         "ON x.oid = i.indexrelid WHERE x.relname LIKE 'samples_%pkey'")
                                                    .int64(0, 0));
    // Without the key for the moment of the measurement; DDL rolls back like any other statement.
    c.begin();
    c.exec("ALTER TABLE samples DROP CONSTRAINT samples_pkey");
    print("PostgreSQL one trend's hour, BRIN (t)", hourMs(), "ms");
    c.rollback();
    print("PostgreSQL bytes per sample, B-tree key", btreeBytes / rows, "B");
    print("PostgreSQL bytes per sample, BRIN index", brinBytes / rows, "B");
    c.close();
    cleanUp();
    return 0;
}
