#include "ArchiveBackendRows.h"

#include <QTest>

#include <random>

namespace {

constexpr qint64 Base = 1717228800000 + 1234; // sample times off the cell grid by an odd amount
const QString Archive = QStringLiteral("B");
const QString Trend = QStringLiteral("t1");
constexpr int Slot = 2; // B/t1

/// One-second samples with gaps of up to two hours; small whole values, so equal extremes are common.
QList<ArchiveSample> history(uint seed, qint64 hours, int gapEvery)
{
    std::mt19937_64 random(seed);
    QList<ArchiveSample> all;
    double value = 0;
    for (qint64 t = Base; t < Base + hours * 3600000;) {
        value = std::clamp(value + static_cast<double>(random() % 5) - 2.0, -20.0, 20.0);
        all.append({t, value});
        t += 1000;
        if (gapEvery > 0 && random() % static_cast<unsigned>(gapEvery) == 0)
            t += 1000 * static_cast<qint64>(1 + random() % 7200);
    }
    return all;
}

void checkWindows(const ArchiveStore& store, const QList<ArchiveSample>& all, double from, double to, int buckets)
{
    const qint64 first = Base;
    const qint64 span = all.last().timeMs - first;
    const qint64 t0 = first + static_cast<qint64>(span * from);
    const qint64 t1 = first + static_cast<qint64>(span * to);
    QList<ArchiveSample> inside;
    std::copy_if(all.begin(), all.end(), std::back_inserter(inside), [&](const ArchiveSample& a) { return a.timeMs >= t0 && a.timeMs <= t1; });
    QVERIFY(store.range(Archive, Trend, t0, t1) == inside);
    for (const int n : {buckets, 1000, 1500, 37}) {
        const QList<ArchiveSample> reduced = store.reduced(Archive, Trend, t0, t1, n);
        QVERIFY2(reduced == bruteForce(all, t0, t1, n), qPrintable(QStringLiteral("%1 buckets: %2 points").arg(n).arg(reduced.size())));
    }
    // As a chart asks: buckets of an aligned length on their own grid, read from whole cells.
    for (const int columns : {buckets, 1000, 13}) {
        const qint64 bucket = ArchiveStore::alignedBucketMs(std::max<qint64>(1, (t1 - t0) / columns));
        const qint64 a0 = t0 / bucket * bucket;
        const int n = static_cast<int>((t1 - a0) / bucket + 1);
        const qint64 a1 = a0 + n * bucket - 1;
        const QList<ArchiveSample> reduced = store.reduced(Archive, Trend, a0, a1, n);
        QVERIFY2(reduced == bruteForce(all, a0, a1, n), qPrintable(QStringLiteral("aligned %1 ms: %2 points").arg(bucket).arg(reduced.size())));
    }
}

} // namespace

class tst_ArchiveRollups : public QObject {
    Q_OBJECT

private slots:
    void reductionMatchesBruteForce_data();
    void reductionMatchesBruteForce();
    void olderArchiveGetsItsRollups();
    void olderSchemaUpgrades_data();
    void olderSchemaUpgrades();
};

void tst_ArchiveRollups::reductionMatchesBruteForce_data()
{
    QTest::addColumn<QString>("backend");
    QTest::addColumn<uint>("seed");
    QTest::addColumn<int>("hours");
    QTest::addColumn<int>("gapEvery"); // one gap in so many samples on average; 0: none
    QTest::addColumn<bool>("live");    // recorded commit by commit instead of as history
    QTest::addColumn<int>("expireRounds");
    QTest::addColumn<int>("replaced"); // samples recorded again with another value
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<int>("buckets");
    for (const QString& b : archiveBackends()) {
        const auto row = [&](const char* name) -> QTestData& { return QTest::addRow("%s: %s", qPrintable(b), name) << b; };
        row("3 days, gaps, whole span") << 1u << 72 << 5000 << false << 0 << 0 << 0.0 << 1.0 << 1000;
        row("3 days, window off every grid") << 2u << 72 << 3000 << false << 0 << 0 << 0.137 << 0.861 << 777;
        row("3 days, window past both ends") << 3u << 72 << 20000 << false << 0 << 0 << -0.3 << 1.2 << 1500;
        row("no gaps, hour buckets") << 4u << 48 << 0 << false << 0 << 0 << 0.0 << 1.0 << 48;
        row("mostly gaps") << 5u << 96 << 50 << false << 0 << 0 << 0.01 << 0.99 << 200;
        row("recorded live, 6 h") << 6u << 6 << 2000 << true << 0 << 0 << 0.0 << 1.0 << 100;
        row("values recorded again") << 7u << 24 << 4000 << true << 0 << 300 << 0.0 << 1.0 << 50;
        row("history recorded again in one bulk") << 10u << 24 << 4000 << false << 0 << 300 << 0.0 << 1.0 << 50;
        row("retention half way through a cell") << 8u << 48 << 4000 << false << 7 << 0 << 0.0 << 1.0 << 300;
        row("retention done") << 9u << 48 << 4000 << false << 1000 << 0 << 0.0 << 1.0 << 300;
    }
}

void tst_ArchiveRollups::reductionMatchesBruteForce()
{
    QFETCH(QString, backend);
    QFETCH(uint, seed);
    QFETCH(int, hours);
    QFETCH(int, gapEvery);
    QFETCH(bool, live);
    QFETCH(int, expireRounds);
    QFETCH(int, replaced);
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(int, buckets);

    auto archive = archiveOn(backend, 997);
    Store& s = *archive;
    QList<ArchiveSample> all = history(seed, hours, gapEvery);
    if (live) {
        // A commit every 7 samples, so cells fill over several transactions.
        for (qsizetype i = 0; i < all.size(); ++i) {
            s.store.add(Slot, all.at(i).timeMs, all.at(i).value);
            if (i % 7 == 6)
                s.store.commit();
        }
        s.store.commit();
    }
    std::mt19937_64 random(seed * 31);
    const auto recordAgain = [&](int i) -> const ArchiveSample& {
        ArchiveSample& a = all[static_cast<qsizetype>(random() % static_cast<quint64>(all.size()))];
        a.value = i % 2 ? 25.0 + i : -25.0 - i; // new extremes, where the aggregates must follow
        return a;
    };
    if (!live) {
        s.store.beginBulk();
        for (const ArchiveSample& a : std::as_const(all))
            s.store.bulkAdd(Slot, a.timeMs, a.value);
        // History written again in the same transaction, out of order: the later value wins.
        for (int i = 0; i < replaced; ++i) {
            const ArchiveSample& a = recordAgain(i);
            s.store.bulkAdd(Slot, a.timeMs, a.value);
        }
        s.store.endBulk(true);
    }
    // Old hours are packed by now, so the values recorded again below go into packed hours.
    QVERIFY(s.packed());
    if (hours > 2)
        QVERIFY(countIn(s, "SELECT count(*) FROM sample_blocks") > 0);
    // Read once before: blocks kept decoded must not answer once their hours are written and packed again.
    if (live && replaced > 0)
        checkWindows(s.store, all, from, to, buckets);
    for (int i = 0; live && i < replaced; ++i) {
        const ArchiveSample& a = recordAgain(i);
        s.store.add(Slot, a.timeMs, a.value);
        if (i % 10 == 9)
            s.store.commit();
    }
    s.store.commit();
    // Reads must not depend on whether the packer was done with the hours those values went into.
    if (replaced > 0)
        checkWindows(s.store, all, from, to, buckets);
    QVERIFY(s.packed());
    if (expireRounds > 0) {
        // The retention cut lies in the middle of the data, off the grid of every level.
        const qint64 cutoff = Base + (all.last().timeMs - Base) / 2 + 12345;
        const qint64 now = cutoff + s.store.settings().retentionDays * 86400000LL;
        int removed = 0;
        for (int round = 0; round < expireRounds; ++round)
            removed += s.store.removeExpired(now);
        QVERIFY(removed > 0);
        all.remove(0, removed);
        QVERIFY(expireRounds < 100 || all.first().timeMs >= cutoff);
    }
    checkWindows(s.store, all, from, to, buckets);

    s.store.close();
    // The hour level: stored as 2 in the file for history's sake, 3 on the server.
    QVERIFY(countIn(s, s.server ? "SELECT count(*) FROM rollups WHERE level = 3" : "SELECT count(*) FROM rollups WHERE level = 2") > 0);
    // The server packs its live hours at a clean stop; the next recording unpacks the newest again.
    if (s.server) {
        QCOMPARE(countIn(s, "SELECT count(*) FROM samples"), 0);
        QCOMPARE(s.open(), QString());
        all.last().value = 99.5;
        s.store.add(Slot, all.last().timeMs, all.last().value);
        s.store.commit();
        checkWindows(s.store, all, from, to, buckets);
    }
}

void tst_ArchiveRollups::olderArchiveGetsItsRollups()
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("archive.sqlite"));
    const QList<ArchiveSample> all = history(11, 30, 3000);
    {
        // The archive as the first schema wrote it.
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
        sqlite3_exec(db, "PRAGMA journal_mode=WAL;"
                         "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;"
                         "INSERT INTO meta VALUES('schema_version', '1');"
                         "CREATE TABLE trends(id INTEGER PRIMARY KEY, archive TEXT NOT NULL, trend TEXT NOT NULL, UNIQUE(archive, trend));"
                         "CREATE TABLE samples(trend INTEGER NOT NULL, t INTEGER NOT NULL, v REAL NOT NULL, PRIMARY KEY(trend, t)) WITHOUT ROWID;"
                         "CREATE TABLE plant_state(id INTEGER PRIMARY KEY CHECK (id = 1), saved INTEGER NOT NULL, state TEXT NOT NULL);"
                         "INSERT INTO trends VALUES(7, 'B', 't1');"
                         "BEGIN",
            nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO samples VALUES(7, ?1, ?2)", -1, &insert, nullptr);
        for (const ArchiveSample& a : all) {
            sqlite3_bind_int64(insert, 1, a.timeMs);
            sqlite3_bind_double(insert, 2, a.value);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        QCOMPARE(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    ArchiveStore store(nullptr);
    store.setSettings(settings());
    QString notice;
    QCOMPARE(store.open(path, &notice), QString());
    QCOMPARE(notice, QString());
    checkWindows(store, all, 0.0, 1.0, 500);
    store.close();
    QCOMPARE(sqliteCount(path, "SELECT value FROM meta WHERE key = 'schema_version'"), ArchiveStore::SchemaVersion);
    QCOMPARE(sqliteCount(path, "SELECT count(DISTINCT level) FROM rollups WHERE trend = 7"), ArchiveRollups::Levels);
    QCOMPARE(sqliteCount(path, "SELECT (SELECT count(*) FROM samples) + (SELECT coalesce(sum(count), 0) FROM sample_blocks)"), all.size());
}

void tst_ArchiveRollups::olderSchemaUpgrades_data()
{
    QTest::addColumn<QByteArray>("downgrade"); // leaves the file as the older schema wrote it
    QTest::addColumn<QByteArray>("kept");      // a count the upgrade must give back

    QTest::newRow("schema 2: no 10-minute level") << QByteArray("DELETE FROM rollups WHERE level = 3; UPDATE meta SET value = '2' WHERE key = 'schema_version'")
                                                 << QByteArray("SELECT count(*) FROM rollups WHERE level = 3");
    QTest::newRow("schema 4: blocks without row ids")
        << QByteArray("CREATE TABLE old(trend INTEGER NOT NULL, start INTEGER NOT NULL, end INTEGER NOT NULL, count INTEGER NOT NULL, "
                      "data BLOB NOT NULL, PRIMARY KEY(trend, start)) WITHOUT ROWID; INSERT INTO old SELECT * FROM sample_blocks; "
                      "DROP TABLE sample_blocks; ALTER TABLE old RENAME TO sample_blocks; UPDATE meta SET value = '4' WHERE key = 'schema_version'")
        << QByteArray("SELECT count(*) FROM sample_blocks");
}

void tst_ArchiveRollups::olderSchemaUpgrades()
{
    QFETCH(QByteArray, downgrade);
    QFETCH(QByteArray, kept);
    Store s(997);
    const QList<ArchiveSample> all = history(12, 30, 3000);
    s.store.beginBulk();
    for (const ArchiveSample& a : all)
        s.store.bulkAdd(Slot, a.timeMs, a.value);
    s.store.endBulk(true);
    s.store.close();
    const int before = sqliteCount(s.path, kept.constData());
    QVERIFY(before > 20);
    {
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(s.path).constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, downgrade.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    QString notice;
    QCOMPARE(s.store.open(s.path, &notice), QString());
    checkWindows(s.store, all, 0.0, 1.0, 100);
    s.store.close();
    QCOMPARE(sqliteCount(s.path, kept.constData()), before);
    QCOMPARE(sqliteCount(s.path, "SELECT value FROM meta WHERE key = 'schema_version'"), ArchiveStore::SchemaVersion);
    // Blocks keep to their leaf pages only in a table with row ids.
    QCOMPARE(sqliteCount(s.path, "SELECT count(*) FROM sqlite_schema WHERE name = 'sample_blocks' AND sql LIKE '%WITHOUT ROWID%'"), 0);
}

QTEST_GUILESS_MAIN(tst_ArchiveRollups)
#include "tst_archiverollups.moc"
