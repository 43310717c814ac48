#include "ArchiveTestSupport.h"
#include "EngineTestSupport.h"
#include "PgAlarmJournal.h"
#include "PgAuditJournal.h"
#include "PgArchiveBackend.h"
#include "PgArchiveReader.h"
#include "PgArchiveSchema.h"
#include "PgArchiveWriter.h"
#include "PgBlockPacker.h"
#include "PgConnection.h"
#include "PostgresCluster.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include <bit>
#include <cfloat>
#include <climits>
#include <memory>
#include <thread>

#include <sqlite3.h>

namespace {

// 2026-11-30 00:00:00 UTC: a month edge a day later.
constexpr qint64 Nov30 = 1795996800000LL;
constexpr qint64 Day = 86'400'000LL;

/// One batch of trend t1 by one of two writers on the same database: seconds after `Dec1 - 30 s` and
/// values, a plant state, and whether it is taken.
using Seconds = QList<std::pair<int, double>>;
struct Batch {
    Batch() = default;
    Batch(int w, Seconds s, QByteArray plant = {}, bool ok = true)
        : writer(w)
        , samples(std::move(s))
        , state(std::move(plant))
        , taken(ok)
    {
    }
    int writer = 0;
    Seconds samples;
    QByteArray state;
    bool taken = true;
};

// Cells recomputed from the samples by brute force, against the stored ones, both ways.
const QByteArray RollupsOffTheSamples =
    "WITH lv(level, step) AS (VALUES (0, 10000::bigint), (1, 60000), (2, 600000), (3, 3600000)), "
    "truth AS (SELECT level::smallint, trend, c, min(t), (array_agg(v ORDER BY t))[1], (array_agg(t ORDER BY v, t))[1], min(v), "
    "(array_agg(t ORDER BY v DESC, t))[1], max(v), max(t), (array_agg(v ORDER BY t DESC))[1] "
    "FROM (SELECT lv.level, s.trend, s.t - (((s.t % lv.step) + lv.step) % lv.step) AS c, s.t, s.v FROM samples s CROSS JOIN lv) x "
    "GROUP BY 1, 2, 3), "
    "stored AS (SELECT level, trend, t, first_t, first_v, min_t, min_v, max_t, max_v, last_t, last_v FROM rollups) "
    "SELECT (SELECT count(*) FROM (SELECT * FROM truth EXCEPT SELECT * FROM stored) a) + (SELECT count(*) FROM (SELECT * FROM stored EXCEPT SELECT * FROM truth) b)";

/// Packs every hour of the archive's trends that has left the live window; how many it packed.
int packAll(PgConnection& c, const QList<int>& ids)
{
    QString error;
    const int packed = PgBlockPacker::packDue(c, std::vector<qint64>(ids.begin(), ids.end()), INT_MAX, &error);
    if (!error.isEmpty())
        qWarning().noquote() << error;
    return packed;
}

/// Samples as "time bits" lines: QCOMPARE then tells -0.0 from 0.0 and shows the first difference.
QStringList bitsOf(const QList<PgPoint>& points)
{
    QStringList out;
    for (const PgPoint& p : points)
        out.append(QStringLiteral("%1 %2").arg(p.timeMs).arg(std::bit_cast<quint64>(p.value), 16, 16, QLatin1Char('0')));
    return out;
}

} // namespace

Q_DECLARE_METATYPE(QList<Batch>)

class TestHistoryPg : public QObject {
    Q_OBJECT

private:
    PostgresCluster m_cluster;
    int m_databases = 0;

    /// A fresh database with the archive's schema and the trends of archive A; their ids in `ids`.
    std::unique_ptr<PgConnection> freshArchive(QList<int>* ids = nullptr, QString* name = nullptr)
    {
        const QString db = QStringLiteral("archive%1").arg(++m_databases);
        PgConnection admin;
        if (!admin.open(m_cluster.conninfo()).isEmpty() || !admin.exec("CREATE DATABASE " + db.toUtf8()).ok())
            qFatal("cannot create database %s", qPrintable(db));
        auto c = std::make_unique<PgConnection>();
        QString error = c->open(m_cluster.conninfo(db));
        if (error.isEmpty())
            error = PgArchiveSchema::open(*c);
        QList<int> bound = PgArchiveSchema::bindTrends(*c, {{QStringLiteral("A"), QStringLiteral("t1")}, {QStringLiteral("A"), QStringLiteral("T1")}}, &error);
        if (!error.isEmpty())
            qFatal("%s", qPrintable(error));
        if (ids)
            *ids = bound;
        if (name)
            *name = db;
        return c;
    }

    qint64 count(PgConnection& c, const QByteArray& sql)
    {
        PgResult r = c.exec(sql);
        return r.ok() ? r.int64(0, 0) : -1;
    }

    /// A runtime on the source tree's project with its history in database `db` (created if missing).
    std::unique_ptr<Runtime> serverRuntime(const QString& root, const QString& connection, bool canServe = true)
    {
        const QString projects = copyProject(root);
        const QByteArray history = "\"format\": 1, \"history\": {\"store\": \"postgresql\", \"connection\": \"" + connection.toUtf8() + "\"},";
        if (!replaceInFile(QDir(projects).filePath(QStringLiteral("Kalvora/project.json")), "\"format\": 1,", history))
            qFatal("the project no longer holds its format line");
        RuntimeOptions options = testOptions(root);
        if (canServe)
            options.historyServer = {&PgArchiveBackend::create, &PgAlarmJournal::create, &PgAuditJournal::create};
        return std::make_unique<Runtime>(options);
    }

    /// Five audit rows written into the file `path` or, with `connection`, the journal on the server.
    static void writeAudit(const QString& path, const QString& connection, int rows = 5)
    {
        AuditJournal journal;
        const QString error = connection.isEmpty() ? journal.open(path) : journal.open(std::make_unique<PgAuditJournal>(connection));
        QVERIFY2(error.isEmpty(), qPrintable(error));
        for (int i = 1; i <= rows; ++i)
            journal.append({0, Nov30 + i, QStringLiteral("desk"), QStringLiteral("anna"), QStringLiteral("write"), QStringLiteral("Ch1.Kalvora.WaterPump"),
                QString::number(i % 2), QString::number((i + 1) % 2), QStringLiteral("ok"), {}, {}});
        QCOMPARE(journal.heldCount(), 0);
    }

    /// kalvora-users verify-audit on the file `path` or on the server: exit code and what it said.
    static std::pair<int, QString> verifyAudit(const QString& path, const QString& connection)
    {
        QProcess tool;
        tool.start(QStringLiteral(KALVORA_USERS_TOOL), connection.isEmpty() ? QStringList{QStringLiteral("verify-audit"), path}
                                                                            : QStringList{QStringLiteral("--connection"), connection, QStringLiteral("verify-audit")});
        if (!tool.waitForFinished(30000))
            qFatal("kalvora-users did not finish");
        return {tool.exitCode(), QString::fromUtf8(tool.readAllStandardOutput() + tool.readAllStandardError())};
    }

    QString database()
    {
        const QString db = QStringLiteral("runtime%1").arg(++m_databases);
        PgConnection admin;
        if (!admin.open(m_cluster.conninfo()).isEmpty() || !admin.exec("CREATE DATABASE " + db.toUtf8()).ok())
            qFatal("cannot create database %s", qPrintable(db));
        return db;
    }

private Q_SLOTS:
    void initTestCase()
    {
        const QString error = m_cluster.start();
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void refusesWithReason_data()
    {
        QTest::addColumn<QString>("conninfo");
        QTest::addColumn<QByteArray>("alteration");
        QTest::addColumn<QString>("expected");
        const QString pw = QString::fromLatin1(PostgresCluster::Password);
        QTest::newRow("bad connection string") << QStringLiteral("host=/tmp colour=blue") << QByteArray()
                                               << QStringLiteral("connection string is not valid: invalid connection option \"colour\"");
        QTest::newRow("wrong port") << QStringLiteral("host=127.0.0.1 port=%1 user=postgres password=x").arg(m_cluster.port() == 1 ? 2 : 1)
                                    << QByteArray() << QStringLiteral("server at 127.0.0.1, port %1 is not reachable").arg(m_cluster.port() == 1 ? 2 : 1);
        QTest::newRow("wrong password") << m_cluster.tcpConninfo(QStringLiteral("postgres"), QStringLiteral("wrong")) << QByteArray()
                                        << QStringLiteral("refused user \"postgres\": wrong password or unknown user");
        QTest::newRow("missing database") << m_cluster.tcpConninfo(QStringLiteral("postgres"), pw, QStringLiteral("nosuchdb")) << QByteArray()
                                          << QStringLiteral("The database \"nosuchdb\" does not exist on the server at 127.0.0.1, port %1").arg(m_cluster.port());
        QTest::newRow("newer schema") << QString() << QByteArray("UPDATE kalvora_meta SET value = '7' WHERE key = 'schema_version'")
                                      << QStringLiteral("has schema version 7, newer than this program's %1").arg(PgArchiveSchema::SchemaVersion);
        QTest::newRow("missing column") << QString() << QByteArray("ALTER TABLE rollups DROP COLUMN max_v")
                                        << QStringLiteral("Archive table rollups: column max_v is missing");
        QTest::newRow("wrong column type") << QString() << QByteArray("ALTER TABLE plant_state ALTER COLUMN saved TYPE text")
                                           << QStringLiteral("Archive table plant_state: column saved is text, expected bigint");
        QTest::newRow("block column type") << QString()
                                           << QByteArray("DO $$BEGIN DROP VIEW history CASCADE; ALTER TABLE sample_blocks ALTER COLUMN dt TYPE bigint[]; END$$")
                                           << QStringLiteral("Archive table sample_blocks: column dt is bigint[], expected integer[]");
        QTest::newRow("block column missing") << QString() << QByteArray("DO $$BEGIN DROP VIEW history CASCADE; ALTER TABLE sample_blocks DROP COLUMN vals; END$$")
                                              << QStringLiteral("Archive table sample_blocks: column vals is missing");
    }

    void refusesWithReason()
    {
        QFETCH(QString, conninfo);
        QFETCH(QByteArray, alteration);
        QFETCH(QString, expected);
        QString error;
        if (!conninfo.isEmpty()) {
            PgConnection c;
            error = c.open(conninfo);
            QVERIFY2(!error.contains(u"password=") && !error.contains(u"wrong\""), qPrintable(error));
        } else {
            QString db;
            std::unique_ptr<PgConnection> c = freshArchive(nullptr, &db);
            QVERIFY2(c->exec(alteration).ok(), alteration.constData());
            c->close();
            QCOMPARE(c->open(m_cluster.conninfo(db)), QString());
            error = PgArchiveSchema::open(*c);
        }
        QVERIFY2(error.contains(expected), qPrintable(error));
    }

    void samplesComeBackAsWritten()
    {
        QList<int> ids;
        auto c = freshArchive(&ids);
        PgArchiveWriter writer(*c);
        PgArchiveReader reader(*c);
        // Across a month edge, out of order, one time twice in the batch, then one value replaced.
        const qint64 edge = Nov30 + Day;
        QCOMPARE(writer.write({{ids[0], edge + 1000, 3.0}, {ids[0], edge - 1000, 1.0}, {ids[1], edge, 9.0}, {ids[0], edge, 2.0}, {ids[0], edge, 2.5},
                                  {ids[1], edge + 1, qQNaN()}, {ids[1], edge + 2, qInf()}},
                     "{\"state\":1}"),
            QString());
        QCOMPARE(writer.write({{ids[0], edge - 1000, -4.0}}), QString());
        QCOMPARE(reader.range(ids[0], edge - Day, edge + Day), (QList<PgPoint>{{edge - 1000, -4.0}, {edge, 2.5}, {edge + 1000, 3.0}}));
        QCOMPARE(reader.range(ids[1], edge - Day, edge + Day), (QList<PgPoint>{{edge, 9.0}}));
        QCOMPARE(count(*c, "SELECT count(*) FROM samples_202611"), 1);
        // The replaced value's cells were computed afresh: the hour before the edge holds only -4.
        QCOMPARE(count(*c, "SELECT count(*) FROM rollups WHERE min_v = -4 AND max_v = -4 AND first_v = -4 AND last_v = -4"), 4);
        QCOMPARE(c->exec("SELECT state FROM plant_state").text(0, 0), QByteArray("{\"state\":1}"));
        // A late -0.0 merged into stored cells keeps its sign there too.
        QCOMPARE(writer.write({{ids[1], edge - 1, -0.0}}), QString());
        QCOMPARE(count(*c, "SELECT count(*) FROM rollups WHERE min_v::text = '-0'"), 4);
    }

    void opensEarlierSchemas_data()
    {
        QTest::addColumn<QList<QByteArray>>("downgrade");
        QTest::newRow("version 1, keys filled to 90 %")
            << QList<QByteArray>{"ALTER TABLE samples DROP CONSTRAINT samples_pkey, ADD CONSTRAINT samples_pkey PRIMARY KEY (trend, t)",
                   "ALTER TABLE rollups DROP CONSTRAINT rollups_pkey, ADD CONSTRAINT rollups_pkey PRIMARY KEY (level, trend, t)",
                   "UPDATE kalvora_meta SET value = '1' WHERE key = 'schema_version'"};
        QTest::newRow("version 2, no packed hours") << QList<QByteArray>{"DROP VIEW history CASCADE", "DROP TABLE sample_blocks",
                                                           "DROP FUNCTION kalvora_block_samples", "UPDATE kalvora_meta SET value = '2' WHERE key = 'schema_version'"};
        QTest::newRow("version 3, minute cells in the rollups")
            << QList<QByteArray>{"ALTER TABLE sample_blocks DROP COLUMN cell_t, DROP COLUMN cell_k, DROP COLUMN cell_v",
                   "UPDATE kalvora_meta SET value = '3' WHERE key = 'schema_version'"};
    }

    void opensEarlierSchemas()
    {
        QFETCH(QList<QByteArray>, downgrade);
        QList<int> ids;
        QString db;
        auto c = freshArchive(&ids, &db);
        QCOMPARE(PgArchiveWriter(*c).write({{ids[0], Nov30, 1.5}}), QString());
        for (const QByteArray& sql : downgrade)
            QVERIFY2(c->exec(sql).ok(), sql.constData());
        c->close();
        QCOMPARE(c->open(m_cluster.conninfo(db)), QString());
        QCOMPARE(PgArchiveSchema::open(*c), QString());
        QCOMPARE(c->exec("SELECT value FROM kalvora_meta WHERE key = 'schema_version'").text(0, 0), QByteArray::number(PgArchiveSchema::SchemaVersion));
        // The keys of the parents and of the month made before the upgrade, and of a month made after it.
        QCOMPARE(PgArchiveWriter(*c).write({{ids[0], Nov30 + Day, 2.5}}), QString());
        QCOMPARE(count(*c, "SELECT count(*) FROM pg_class WHERE relname LIKE '%pkey' AND (relname LIKE 'samples%' OR relname LIKE 'rollups%') "
                           "AND reloptions @> '{fillfactor=100}'"),
            6);
        QCOMPARE(PgArchiveReader(*c).range(ids[0], Nov30, Nov30 + Day), (QList<PgPoint>{{Nov30, 1.5}, {Nov30 + Day, 2.5}}));
        QCOMPARE(count(*c, "SELECT count(*) FROM history"), 2);
    }

    void batchesMeetStoredData_data()
    {
        QTest::addColumn<QList<Batch>>("batches");
        QTest::addColumn<Seconds>("stored");
        QTest::newRow("small batches across cells") << QList<Batch>{{0, {{0, 1}, {5, 3}}}, {0, {{12, 2}}}, {0, {{13, 1.0 / 3}, {14, 4}, {75, 1}}}}
                                                    << Seconds{{0, 1}, {5, 3}, {12, 2}, {13, 1.0 / 3}, {14, 4}, {75, 1}};
        QTest::newRow("older than the latest") << QList<Batch>{{0, {{10, 1}}}, {0, {{5, 2}, {11, 3}}}}
                                               << Seconds{{5, 2}, {10, 1}, {11, 3}};
        QTest::newRow("another writer came first") << QList<Batch>{{0, {{0, 1}}}, {1, {{5, 2}, {6, 3}}}, {0, {{5, 9}, {7, 4}}}}
                                                   << Seconds{{0, 1}, {5, 9}, {6, 3}, {7, 4}};
        QTest::newRow("refused batch opened a month") << QList<Batch>{{0, {{40, 1}}, "refuse", false}, {0, {{40, 2}}}}
                                                      << Seconds{{40, 2}};
    }

    void batchesMeetStoredData()
    {
        QFETCH(QList<Batch>, batches);
        QFETCH(Seconds, stored);
        QList<int> ids;
        QString db;
        auto c = freshArchive(&ids, &db);
        QVERIFY(c->exec("ALTER TABLE plant_state ADD CHECK (state <> 'refuse')").ok());
        PgConnection other;
        QCOMPARE(other.open(m_cluster.conninfo(db)), QString());
        PgArchiveWriter writers[] = {PgArchiveWriter(*c), PgArchiveWriter(other)};
        const qint64 start = Nov30 + Day - 30'000;
        for (const Batch& batch : std::as_const(batches)) {
            std::vector<PgSample> rows;
            for (const auto& [s, v] : batch.samples)
                rows.push_back({ids[0], start + s * 1000LL, v});
            const QString error = writers[batch.writer].write(rows, batch.state);
            QVERIFY2(error.isEmpty() == batch.taken, qPrintable(error));
        }
        QList<PgPoint> expected;
        for (const auto& [s, v] : stored)
            expected.append({start + s * 1000LL, v});
        QCOMPARE(PgArchiveReader(*c).range(ids[0], start - Day, start + Day), expected);
        QCOMPARE(count(*c, RollupsOffTheSamples), 0);
    }

    void reducedAsTheEmbeddedArchive_data()
    {
        QTest::addColumn<qint64>("t0");
        QTest::addColumn<qint64>("t1");
        QTest::addColumn<int>("buckets");
        QTest::addColumn<bool>("packed");
        const qint64 start = Nov30 + 12 * 3'600'000LL; // the day crosses the month edge
        // Rows first; then every hour but the live one packed, a few of them unpacked again by late writes.
        for (const bool packed : {false, true}) {
            const char* layout = packed ? ", packed" : "";
            QTest::addRow("day, hour cells%s", layout) << start << start + Day - 1 << 20 << packed;
            QTest::addRow("day, unaligned%s", layout) << start - 12345 << start + Day + 777 << 997 << packed;
            QTest::addRow("two hours, 10 s cells%s", layout) << start + 3'600'000 + 5 << start + 3 * 3'600'000 + 4321 << 333 << packed;
            QTest::addRow("raw samples only%s", layout) << start + 1000 << start + 601'000 << 400 << packed;
            QTest::addRow("live hour and the one before%s", layout) << start + Day - 7'000'000 << start + Day << 700 << packed;
            QTest::addRow("one bucket%s", layout) << start - Day << start + 2 * Day << 1 << packed;
            QTest::addRow("before the data%s", layout) << start - 2 * Day << start - Day << 50 << packed;
        }
    }

    void reducedAsTheEmbeddedArchive()
    {
        QFETCH(qint64, t0);
        QFETCH(qint64, t1);
        QFETCH(int, buckets);
        QFETCH(bool, packed);
        static QList<int> ids;
        static std::unique_ptr<PgConnection> c;
        static std::unique_ptr<Store> sqlite;
        static std::unique_ptr<ArchiveStore> pg;
        if (!c) {
            QString db;
            c = freshArchive(&ids, &db);
            pg = std::make_unique<ArchiveStore>();
            pg->setSettings(settings());
            // Packed only where this test says so.
            QCOMPARE(pg->open(std::make_unique<PgArchiveBackend>(m_cluster.conninfo(db), PgArchiveBackend::Layout::Rows)), QString());
            sqlite = std::make_unique<Store>();
            PgArchiveWriter writer(*c);
            QRandomGenerator random(20);
            const qint64 start = Nov30 + 12 * 3'600'000LL;
            // A day of two trends at 1 s in batches of ten minutes; coarse values make ties of extremes.
            for (qint64 batch = 0; batch < 144; ++batch) {
                std::vector<PgSample> rows;
                for (qint64 s = 0; s < 600; ++s)
                    for (int trend = 0; trend < 2; ++trend) {
                        const qint64 t = start + (batch * 600 + s) * 1000;
                        const double v = random.bounded(20) * 0.5;
                        rows.push_back({ids[trend], t, v});
                        sqlite->store.add(trend, t, v);
                    }
                QCOMPARE(writer.write(rows), QString());
                sqlite->store.commit();
            }
            // Some values written again later: their cells are computed afresh on both sides.
            std::vector<PgSample> again;
            for (int i = 0; i < 200; ++i) {
                const qint64 t = start + random.bounded(86400) * 1000LL;
                again.push_back({ids[0], t, 100.0 + i});
                sqlite->store.add(0, t, 100.0 + i);
            }
            QCOMPARE(writer.write(again), QString());
            sqlite->store.commit();
        }
        static bool isPacked = false;
        if (packed && !isPacked) {
            isPacked = true;
            QCOMPARE(packAll(*c, ids), 46);
            // Late values into packed hours: each write unpacks its hour, the others stay packed.
            QRandomGenerator random(21);
            const qint64 start = Nov30 + 12 * 3'600'000LL;
            // Each twice: a new high, then a new low in its place.
            std::vector<PgSample> late[2];
            for (int i = 0; i < 5; ++i) {
                const qint64 t = start + random.bounded(20 * 3600) * 1000LL;
                late[0].push_back({ids[1], t, 1000.0 + i});
                late[1].push_back({ids[1], t, -50.0 - i});
            }
            for (const std::vector<PgSample>& batch : late) {
                QCOMPARE(PgArchiveWriter(*c).write(batch), QString());
                for (const PgSample& s : batch)
                    sqlite->store.add(1, s.timeMs, s.value);
                sqlite->store.commit();
            }
            QVERIFY(count(*c, "SELECT count(*) FROM sample_blocks") >= 41);
        }
        for (int trend = 0; trend < 2; ++trend) {
            const QString name = trend ? QStringLiteral("T1") : QStringLiteral("t1");
            const QList<ArchiveSample> expected = sqlite->store.reduced(QStringLiteral("A"), name, t0, t1, buckets);
            const QList<ArchiveSample> got = pg->reduced(QStringLiteral("A"), name, t0, t1, buckets);
            QCOMPARE(got.size(), expected.size());
            QCOMPARE(got, expected);
        }
    }

    void packedHoursReadBackBitForBit_data()
    {
        QTest::addColumn<qint64>("start");
        QTest::addColumn<QList<PgPoint>>("samples");
        const qint64 hour = 3'600'000;
        QRandomGenerator random(22);
        const auto series = [&](qint64 start, qint64 count, auto value, bool irregular = false) {
            QList<PgPoint> out;
            qint64 t = start;
            for (qint64 i = 0; i < count; ++i, t += irregular ? 1 + random.bounded(2500) : 1000)
                out.append({t, value(i)});
            return out;
        };
        double level = 0;
        QTest::newRow("PLC counts times 0.1") << Nov30 << series(Nov30, 3 * 3600, [&](qint64) { return (level += random.bounded(7) - 3) * 0.1; });
        QTest::newRow("full precision") << Nov30 << series(Nov30, 3 * 3600, [](qint64 i) { return 50 + 40 * std::sin(i / 300.0) + 1e-9 * (i % 7); });
        const QList<double> odd{-0.0, 0.0, 5e-324, -5e-324, DBL_MIN, -DBL_MIN, DBL_MAX, -DBL_MAX, 1e300, 0.1 + 0.2, -1.5};
        QTest::newRow("signed zeros, denormals, extremes")
            << Nov30 + 17 << series(Nov30 + 17, 3 * 3600, [&](qint64 i) { return odd[static_cast<qsizetype>(i % odd.size())]; });
        QTest::newRow("multiples too far apart for an integer") << Nov30 << series(Nov30, 3 * 3600, [](qint64 i) { return i % 2 ? 1e13 : 0.0; });
        QTest::newRow("stamps off the second, before 1970")
            << -3 * hour - 1 << series(-3 * hour - 1, 8000, [](qint64 i) { return i * 0.25; }, true);
    }

    void packedHoursReadBackBitForBit()
    {
        QFETCH(qint64, start);
        QFETCH(QList<PgPoint>, samples);
        QList<int> ids;
        auto c = freshArchive(&ids);
        std::vector<PgSample> rows;
        for (const PgPoint& p : samples)
            rows.push_back({ids[0], p.timeMs, p.value});
        QCOMPARE(PgArchiveWriter(*c).write(rows), QString());
        QVERIFY(packAll(*c, ids) >= 2);
        QCOMPARE(count(*c, "SELECT count(*) FROM samples WHERE t < (SELECT max(t) - 3900000 FROM samples)"), 0);
        const qint64 end = samples.last().timeMs;
        QCOMPARE(bitsOf(PgArchiveReader(*c).range(ids[0], start, end)), bitsOf(samples));
        // What a report tool sees through the view, with nothing but SQL.
        PgResult view = c->exec("SELECT (extract(epoch FROM time) * 1000)::bigint, value FROM \"history_A\" WHERE trend = 't1' ORDER BY time",
            {}, PgConnection::Rows::Binary);
        QVERIFY2(view.ok(), qPrintable(view.error()));
        QList<PgPoint> seen;
        for (int i = 0; i < view.rows(); ++i)
            seen.append({view.int64(i, 0), view.real(i, 1)});
        QCOMPARE(bitsOf(seen), bitsOf(samples));
    }

    void retentionCutsPackedHours()
    {
        QList<int> ids;
        QString db;
        auto c = freshArchive(&ids, &db);
        const qint64 hour = 3'600'000;
        std::vector<PgSample> rows;
        QList<PgPoint> kept;
        const qint64 cutoff = Nov30 + 6 * hour + hour / 2;
        for (qint64 t = Nov30 + 5 * hour; t < Nov30 + 8 * hour; t += 1000) {
            rows.push_back({ids[0], t, t / 1000 % 17 * 0.5});
            if (t >= cutoff)
                kept.append({t, rows.back().value});
        }
        QCOMPARE(PgArchiveWriter(*c).write(rows), QString());
        QCOMPARE(packAll(*c, ids), 2);
        PgArchiveBackend backend(m_cluster.conninfo(db), PgArchiveBackend::Layout::Rows);
        QCOMPARE(backend.open(nullptr), QString());
        backend.bindTrends({{QStringLiteral("A"), QStringLiteral("t1")}, {QStringLiteral("A"), QStringLiteral("T1")}});
        // The packed hour before the cut goes whole, the one it straddles keeps its second half.
        int removed = 0;
        for (int round = 0; round < 8; ++round) {
            const int now = backend.expire({cutoff, 1000});
            QVERIFY(now <= 1000);
            removed += now;
        }
        QCOMPARE(removed, 5400);
        QCOMPARE(bitsOf(PgArchiveReader(*c).range(ids[0], Nov30, Nov30 + Day)), bitsOf(kept));
        QCOMPARE(count(*c, "SELECT count(*) FROM rollups WHERE t < " + QByteArray::number(cutoff)), 0);
        qint64 oldest = 0;
        QVERIFY(backend.oldest(ids[0], &oldest));
        QCOMPARE(oldest, cutoff);
    }

    void retentionDropsWholeMonths_data()
    {
        QTest::addColumn<qint64>("cutoff");
        QTest::addColumn<int>("dropped");
        QTest::addColumn<qint64>("left");
        // One sample a day from 2026-10-01 to 2026-12-10.
        const qint64 oct1 = Nov30 - 60 * Day;
        QTest::newRow("nothing old enough") << oct1 + 20 * Day << 0 << qint64(71);
        QTest::newRow("October") << oct1 + 45 * Day << 1 << qint64(40);
        QTest::newRow("October and November") << Nov30 + 6 * Day << 2 << qint64(10);
    }

    void retentionDropsWholeMonths()
    {
        QFETCH(qint64, cutoff);
        QFETCH(int, dropped);
        QFETCH(qint64, left);
        QList<int> ids;
        auto c = freshArchive(&ids);
        PgArchiveWriter writer(*c);
        std::vector<PgSample> rows;
        for (qint64 d = 0; d < 71; ++d)
            rows.push_back({ids[0], Nov30 - 60 * Day + d * Day, double(d)});
        QCOMPARE(writer.write(rows), QString());
        int gone = -1;
        QCOMPARE(writer.dropBefore(cutoff, &gone), QString());
        QCOMPARE(gone, dropped);
        QCOMPARE(count(*c, "SELECT count(*) FROM samples"), left);
        // No cell outlives its samples.
        QCOMPARE(count(*c, "SELECT count(*) FROM rollups r WHERE NOT EXISTS (SELECT 1 FROM samples s WHERE s.trend = r.trend AND s.t = r.first_t)"), 0);
        // Writing into a dropped month again makes its partition afresh.
        QCOMPARE(writer.write({{ids[0], Nov30 - 60 * Day, 1.0}}), QString());
    }

    void readerRoleReadsOnlyTheViews_data()
    {
        QTest::addColumn<QByteArray>("sql");
        QTest::addColumn<bool>("allowed");
        // Refused for want of the privilege, or because a view over a join cannot be written at all.
        QTest::newRow("archive view") << QByteArray("SELECT count(*) FROM \"history_A\" WHERE time >= '2026-11-30' AND trend = 't1'") << true;
        QTest::newRow("all archives") << QByteArray("SELECT archive, trend, time, value FROM history") << true;
        QTest::newRow("samples table") << QByteArray("SELECT * FROM samples") << false;
        QTest::newRow("catalogue") << QByteArray("UPDATE trends SET trend = 'x'") << false;
        QTest::newRow("insert") << QByteArray("INSERT INTO samples VALUES(1, 1, 1)") << false;
        QTest::newRow("write the view") << QByteArray("DELETE FROM history") << false;
        QTest::newRow("new table") << QByteArray("CREATE TABLE mine(a int)") << false;
    }

    void readerRoleReadsOnlyTheViews()
    {
        QFETCH(QByteArray, sql);
        QFETCH(bool, allowed);
        static QString db;
        if (db.isEmpty()) {
            QList<int> ids;
            auto c = freshArchive(&ids, &db);
            QCOMPARE(PgArchiveWriter(*c).write({{ids[0], Nov30 + 5000, 1.5}}), QString());
            QVERIFY(c->exec("DO $$BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'dashboard') THEN "
                            "CREATE ROLE dashboard LOGIN PASSWORD 'look' IN ROLE kalvora_reader; END IF; END$$")
                        .ok());
        }
        PgConnection dashboard;
        QCOMPARE(dashboard.open(m_cluster.tcpConninfo(QStringLiteral("dashboard"), QStringLiteral("look"), db)), QString());
        PgResult r = dashboard.exec(sql);
        QVERIFY2(r.ok() == allowed, qPrintable(r.error()));
        if (!allowed)
            QVERIFY2(r.sqlState() == u"42501" || (sql.startsWith("DELETE") && r.sqlState() == u"55000"), qPrintable(r.error()));
    }

    void auditChainBreaksAreNamedInBothStores_data()
    {
        QTest::addColumn<bool>("server");
        QTest::addColumn<QStringList>("tamper"); // statements; %1 is the table
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        const QList<std::tuple<const char*, QStringList, int, QString>> cases{
            {"intact", {}, 0, QStringLiteral("5 rows, the chain is intact")},
            {"row edited", {QStringLiteral("UPDATE %1 SET new_value = '7' WHERE id = 2")}, 1, QStringLiteral("broken at row 2: row 2 was changed")},
            {"row deleted", {QStringLiteral("DELETE FROM %1 WHERE id = 3")}, 1, QStringLiteral("broken at row 4: row 4 does not follow row 2")},
            {"pair swapped", {QStringLiteral("UPDATE %1 SET id = -2 WHERE id = 2"), QStringLiteral("UPDATE %1 SET id = 2 WHERE id = 3"),
                                 QStringLiteral("UPDATE %1 SET id = 3 WHERE id = -2")},
                1, QStringLiteral("broken at row 2: row 2 was changed")},
            {"end cut off", {QStringLiteral("DELETE FROM %1 WHERE id = 5")}, 1, QStringLiteral("broken at row 5: row 5 is missing")},
        };
        for (const bool server : {false, true})
            for (const auto& [name, tamper, code, said] : cases)
                QTest::addRow("%s, %s", server ? "postgresql" : "sqlite", name) << server << tamper << code << said;
    }

    void auditChainBreaksAreNamedInBothStores()
    {
        QFETCH(bool, server);
        QFETCH(QStringList, tamper);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QString path = QDir(dir.path()).filePath(QStringLiteral("audit.sqlite"));
        const QString connection = server ? m_cluster.conninfo(database()) : QString();
        writeAudit(path, connection);
        if (server) {
            PgConnection c;
            QCOMPARE(c.open(connection), QString());
            for (const QString& sql : std::as_const(tamper))
                QCOMPARE(c.exec(sql.arg(QStringLiteral("audit_journal")).toUtf8()).error(), QString());
        } else {
            sqlite3* db = nullptr;
            QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
            for (const QString& sql : std::as_const(tamper))
                QCOMPARE(sqlite3_exec(db, sql.arg(QStringLiteral("audit")).toUtf8().constData(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        }
        const auto [code, text] = verifyAudit(path, connection);
        QVERIFY2(text.contains(said), qPrintable(text));
        QCOMPARE(code, exitCode);
    }

    // Last: it stops the server.
    void serverHistoryStopsTheStartWithTheReason_data()
    {
        QTest::addColumn<QString>("connection"); // %1: a fresh database's name
        QTest::addColumn<QByteArray>("alteration");
        QTest::addColumn<bool>("canServe");
        QTest::addColumn<QString>("expected");
        const QString pw = QString::fromLatin1(PostgresCluster::Password);
        QTest::newRow("program keeps files only") << QStringLiteral("dbname=%1") << QByteArray() << false
                                                  << QStringLiteral("project.json: this program keeps history only in files");
        QTest::newRow("wrong password") << m_cluster.tcpConninfo(QStringLiteral("postgres"), QStringLiteral("wrong"), QStringLiteral("%1")) << QByteArray()
                                        << true << QStringLiteral("refused user \"postgres\": wrong password");
        QTest::newRow("missing database") << m_cluster.tcpConninfo(QStringLiteral("postgres"), pw, QStringLiteral("nosuchdb")) << QByteArray() << true
                                          << QStringLiteral("The database \"nosuchdb\" does not exist");
        QTest::newRow("newer schema") << QStringLiteral("%1") << QByteArray("UPDATE kalvora_meta SET value = '9' WHERE key = 'schema_version'") << true
                                      << QStringLiteral("has schema version 9, newer than this program's");
        QTest::newRow("table altered") << QStringLiteral("%1") << QByteArray("ALTER TABLE plant_state DROP COLUMN state") << true
                                       << QStringLiteral("Archive table plant_state: column state is missing");
    }

    void serverHistoryStopsTheStartWithTheReason()
    {
        QFETCH(QString, connection);
        QFETCH(QByteArray, alteration);
        QFETCH(bool, canServe);
        QFETCH(QString, expected);
        QString db;
        std::unique_ptr<PgConnection> c = freshArchive(nullptr, &db);
        QVERIFY(alteration.isEmpty() || c->exec(alteration).ok());
        c.reset();
        // A bare database name goes through the test cluster's socket.
        QString conninfo = connection.contains(u"%1") ? connection.arg(db) : connection;
        if (!conninfo.contains(u'='))
            conninfo = m_cluster.conninfo(conninfo);
        QTemporaryDir root;
        auto runtime = serverRuntime(root.path(), conninfo, canServe);
        const QString error = startAndWait(*runtime);
        QVERIFY2(error.contains(expected), qPrintable(error));
    }

    void outageHoldsEverySampleAndWritesItLater()
    {
        const QString db = database();
        QTemporaryDir root;
        auto runtime = serverRuntime(root.path(), m_cluster.conninfo(db));
        QCOMPARE(startAndWait(*runtime), QString());
        ArchiveStore& archive = runtime->archive();
        const QString fault = QString::fromLatin1(Runtime::ArchiveFaultVariable);
        runtime->advance(20);
        QCOMPARE(archive.writeFault(), QString());
        QCOMPARE(m_cluster.stop(true), QString());
        runtime->advance(30);
        QVERIFY(!archive.writeFault().isEmpty());
        QCOMPARE(runtime->tags().value(fault).value.toBool(), true);
        QVERIFY(archive.pendingCount() >= 29 * archive.trendCount());
        // Operator writes in the outage: their audit rows are held in order and chained once written.
        const QString pump = QStringLiteral("Ch1.Kalvora.WaterPump");
        const qint64 auditBefore = runtime->audit().head().id;
        for (int i = 0; i < 3; ++i)
            runtime->tags().write(pump, i % 2 == 0);
        QCOMPARE(runtime->audit().heldCount(), 3);
        QCOMPARE(m_cluster.start(), QString());
        // The store tries again once its back-off has passed, on the next recording.
        QTRY_VERIFY_WITH_TIMEOUT((runtime->advance(1), archive.writeFault().isEmpty() && runtime->audit().heldCount() == 0), 15000);
        const QList<AuditEntry> audit = runtime->audit().history(100);
        QCOMPARE(audit.size(), auditBefore + 3);
        QCOMPARE(audit.first().newValue, QStringLiteral("true"));
        QCOMPARE(verifyAudit({}, m_cluster.conninfo(db)).first, 0);
        QCOMPARE(runtime->tags().value(fault).value.toBool(), false);
        QCOMPARE(archive.pendingCount(), 0);
        QCOMPARE(archive.droppedCount(), 0);
        PgConnection c;
        QCOMPARE(c.open(m_cluster.conninfo(db)), QString());
        const qint64 first = count(c, "SELECT min(t) FROM samples");
        const qint64 last = count(c, "SELECT max(t) FROM samples");
        const qint64 recordings = (last - first) / archive.settings().recordIntervalMs + 1;
        QVERIFY(recordings >= 51);
        // Every trend has every slot from the first to the last: no gap for the outage.
        QCOMPARE(count(c, "SELECT count(*) FROM samples"), recordings * archive.trendCount());
        for (int i = 0; i < archive.trendCount(); ++i)
            QCOMPARE(archive.range(archive.archiveOf(i), archive.trendAt(i).name, first, last).size(), recordings);
        runtime->stop();
    }

    void migrationResumesAfterAKillAndCountsAgree()
    {
        // A month edge inside the copy; three trends, one of them with a gap.
        Store sqlite;
        const qint64 start = Nov30 + 20 * 3'600'000LL;
        sqlite.store.beginBulk();
        qint64 total = 0;
        for (int trend = 0; trend < 3; ++trend)
            for (qint64 i = 0; i < 8000; ++i, ++total)
                sqlite.store.bulkAdd(trend, start + i * 1000 + (trend == 2 && i > 4000 ? 3'600'000 : 0), std::sin(i / 100.0) * 50 + trend);
        sqlite.store.endBulk(true);
        sqlite.store.setPlantState("{\"plant\":2}");
        sqlite.store.commit();
        sqlite.store.close();
        const QString journalFile = QDir(sqlite.dir.path()).filePath(QStringLiteral("alarms.sqlite"));
        {
            AlarmJournal journal;
            QCOMPARE(journal.open(journalFile), QString());
            QList<AlarmJournalEntry> entries;
            for (int i = 0; i < 2500; ++i)
                entries.append({start + i, QStringLiteral("A%1").arg(i % 7), QStringLiteral("G"), QStringLiteral("came"), AlarmState::ActiveUnacknowledged,
                    start + i, 0, 0, i * 0.5, i % 3 ? QString() : QStringLiteral("desk/ann"), 0, 0});
            journal.append(entries);
        }
        const QString auditFile = QDir(sqlite.dir.path()).filePath(QStringLiteral("audit.sqlite"));
        writeAudit(auditFile, {}, 2200);
        const QString db = database();
        const QStringList args{QStringLiteral("migrate"), QStringLiteral("--to"), m_cluster.conninfo(db), QStringLiteral("--batch"),
            QStringLiteral("1000"), QStringLiteral("--audit"), auditFile, sqlite.path, journalFile};
        // Killed after its third batch, then run to the end, then once more: nothing twice, nothing lost.
        // Counted through the view: the tool's archive packs old hours as it goes.
        QProcess killed;
        killed.start(QStringLiteral(KALVORA_ARCHIVE_TOOL), args);
        QByteArray seen;
        QTRY_VERIFY2_WITH_TIMEOUT((seen += killed.readAllStandardOutput()).count("copied up to") >= 3, killed.readAllStandardError().constData(), 20000);
        killed.kill();
        killed.waitForFinished();
        PgConnection c;
        QCOMPARE(c.open(m_cluster.conninfo(db)), QString());
        QVERIFY(count(c, "SELECT count(*) FROM history") < total);
        for (int run = 0; run < 2; ++run) {
            QProcess tool;
            tool.start(QStringLiteral(KALVORA_ARCHIVE_TOOL), args);
            QVERIFY(tool.waitForFinished(60000));
            QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
            QVERIFY(tool.readAllStandardOutput().contains("done: every count agrees"));
        }
        QCOMPARE(count(c, "SELECT count(*) FROM history"), total);
        QCOMPARE(count(c, "SELECT count(*) FROM alarm_journal"), 2500);
        // The audit rows keep their chain: it verifies on the server as in the file.
        QCOMPARE(count(c, "SELECT count(*) FROM audit_journal"), 2200);
        const auto [verified, said] = verifyAudit({}, m_cluster.conninfo(db));
        QVERIFY2(verified == 0 && said.contains(u"2200 rows, the chain is intact"), qPrintable(said));
        QCOMPARE(c.exec("SELECT state FROM plant_state").text(0, 0), QByteArray("{\"plant\":2}"));
        // The server's archive answers charts and the journal pages as the files do.
        ArchiveStore pg;
        pg.setSettings(settings());
        QCOMPARE(pg.open(std::make_unique<PgArchiveBackend>(m_cluster.conninfo(db))), QString());
        QCOMPARE(sqlite.open(), QString());
        for (const QString& archive : {QStringLiteral("A"), QStringLiteral("B")})
            QCOMPARE(pg.reduced(archive, QStringLiteral("t1"), start, start + 4 * 3'600'000, 97),
                sqlite.store.reduced(archive, QStringLiteral("t1"), start, start + 4 * 3'600'000, 97));
        AlarmJournal fromFile;
        AlarmJournal fromServer;
        QCOMPARE(fromFile.open(journalFile), QString());
        QCOMPARE(fromServer.open(std::make_unique<PgAlarmJournal>(m_cluster.conninfo(db))), QString());
        const auto described = [](const QList<AlarmJournalEntry>& entries) {
            QStringList out;
            for (const AlarmJournalEntry& e : entries)
                out.append(QStringLiteral("%1 %2 %3 %4 %5").arg(e.timeMs).arg(e.alarm, e.event, e.station).arg(e.value));
            return out;
        };
        QCOMPARE(described(fromServer.history(3000)), described(fromFile.history(3000)));
    }

    void nothingCommittedIsLostInAnOutage()
    {
        QList<int> ids;
        QString db;
        auto c = freshArchive(&ids, &db);
        PgArchiveWriter writer(*c);
        const auto batch = [&](int n) {
            std::vector<PgSample> rows;
            for (int i = 0; i < 1000; ++i)
                rows.push_back({ids[i % 2], Nov30 + (n * 1000 + i) * 500LL, double(i)});
            return rows;
        };
        for (int n = 0; n < 5; ++n)
            QCOMPARE(writer.write(batch(n)), QString());
        // A batch under way on another connection when the server dies.
        PgConnection other;
        QCOMPARE(other.open(m_cluster.conninfo(db)), QString());
        QCOMPARE(other.begin(), QString());
        QCOMPARE(other.copyIn("COPY samples FROM STDIN", "1\t1795996800001\t7\n").error(), QString());
        QCOMPARE(m_cluster.stop(true), QString());
        const QString refused = writer.write(batch(5));
        QVERIFY2(refused.contains(u"connection"), qPrintable(refused));
        QCOMPARE(m_cluster.start(), QString());
        QCOMPARE(c->open(m_cluster.conninfo(db)), QString());
        writer.reset();
        QCOMPARE(count(*c, "SELECT count(*) FROM samples"), 5000);
        QCOMPARE(count(*c, "SELECT sum(count) FROM (SELECT count(*) FROM rollups GROUP BY level) x"), count(*c, "SELECT count(*) FROM rollups"));
        QCOMPARE(writer.write(batch(5)), QString());
        QCOMPARE(count(*c, "SELECT count(*) FROM samples"), 6000);
    }

    void packingStoppedMidwayLosesNothing()
    {
        QList<int> ids;
        QString db;
        auto c = freshArchive(&ids, &db);
        std::vector<PgSample> rows;
        QList<PgPoint> written[2];
        for (qint64 i = 0; i < 12 * 3600; ++i)
            for (int trend = 0; trend < 2; ++trend) {
                rows.push_back({ids[trend], Nov30 + 13 * 3'600'000 + i * 1000, std::sin(i / (100.0 + trend)) * 30});
                written[trend].append({rows.back().timeMs, rows.back().value});
            }
        QCOMPARE(PgArchiveWriter(*c).write(rows), QString());
        // The server dies while the packer is under way, as at a power cut.
        std::thread packer([&] {
            PgConnection own;
            if (own.open(m_cluster.conninfo(db)).isEmpty())
                packAll(own, ids);
        });
        QTRY_VERIFY_WITH_TIMEOUT(count(*c, "SELECT count(*) FROM sample_blocks") > 0, 10000);
        QCOMPARE(m_cluster.stop(true), QString());
        packer.join();
        QCOMPARE(m_cluster.start(), QString());
        QCOMPARE(c->open(m_cluster.conninfo(db)), QString());
        const qint64 packedBefore = count(*c, "SELECT count(*) FROM sample_blocks");
        QVERIFY(packedBefore > 0);
        const auto everything = [&] {
            for (int trend = 0; trend < 2; ++trend)
                QCOMPARE(bitsOf(PgArchiveReader(*c).range(ids[trend], Nov30, Nov30 + 2 * Day)), bitsOf(written[trend]));
            QCOMPARE(count(*c, "SELECT count(*) FROM history"), 2 * 12 * 3600);
        };
        everything();
        // The packer continues where it was, and November, all packed, gives its space back.
        QCOMPARE(packAll(*c, ids) + packedBefore, 22);
        everything();
        QCOMPARE(count(*c, "SELECT pg_relation_size('samples_202611')"), 0);
    }
};

QTEST_GUILESS_MAIN(TestHistoryPg)
#include "tst_history_pg.moc"
