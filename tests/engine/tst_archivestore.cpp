#include "ArchiveBackendRows.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <cmath>
#include <limits>
#include <random>

class tst_ArchiveStore : public QObject {
    Q_OBJECT

private slots:
    void roundTripByExactNames_data() { backendRows(); }
    void roundTripByExactNames();
    void reductionMatchesBruteForce_data();
    void reductionMatchesBruteForce();
    void retentionDeletesInSmallBatches_data() { backendRows(); }
    void retentionDeletesInSmallBatches();
    void bulkHistoryIsAllOrNothing_data() { backendRows(); }
    void bulkHistoryIsAllOrNothing();
    void valuesThatAreNoNumbersAreSkipped_data() { backendRows(); }
    void valuesThatAreNoNumbersAreSkipped();
    void damagedFileIsMovedAsideNeverOverwritten();
    void fileInUseIsReportedAsLocked();
    void newerFileIsRefusedAndKept_data();
    void newerFileIsRefusedAndKept();
};

void tst_ArchiveStore::roundTripByExactNames()
{
    QFETCH(QString, backend);
    auto archive = archiveOn(backend);
    Store& s = *archive;
    QSignalSpy recorded(&s.store, &ArchiveStore::recorded);
    for (qint64 t = 1000; t <= 10000; t += 1000) {
        s.store.add(s.store.trendIndex(QStringLiteral("A"), QStringLiteral("t1")), t, t / 100.0);
        s.store.add(s.store.trendIndex(QStringLiteral("B"), QStringLiteral("t1")), t, -1.0);
    }
    s.store.setPlantState("{\"x\":1}");
    s.store.commit();
    QCOMPARE(recorded.size(), 1);
    QCOMPARE(recorded.first().first().toLongLong(), 10000);
    QCOMPARE(s.store.range(QStringLiteral("A"), QStringLiteral("t1"), 3000, 5000),
        (QList<ArchiveSample>{{3000, 30.0}, {4000, 40.0}, {5000, 50.0}}));
    QVERIFY(s.store.range(QStringLiteral("A"), QStringLiteral("T1"), 0, 20000).isEmpty());
    QVERIFY(s.store.range(QStringLiteral("a"), QStringLiteral("t1"), 0, 20000).isEmpty());
    QVERIFY(s.store.range(QStringLiteral("A"), QStringLiteral("t1"), 5000, 3000).isEmpty());
    QCOMPARE(s.store.range(QStringLiteral("B"), QStringLiteral("t1"), 0, 20000).size(), 10);
    QCOMPARE(s.store.trendNames(QStringLiteral("A")), (QStringList{QStringLiteral("t1"), QStringLiteral("T1")}));
    QVERIFY(s.store.trendNames(QStringLiteral("C")).isEmpty());
    QCOMPARE(s.store.trend(QStringLiteral("B"), QStringLiteral("t1"))->rangeMax, 1500.0);

    // The same second recorded again (a clock set back) replaces the sample instead of failing.
    s.store.add(0, 5000, 99.0);
    s.store.commit();
    QCOMPARE(s.store.range(QStringLiteral("A"), QStringLiteral("t1"), 5000, 5000), (QList<ArchiveSample>{{5000, 99.0}}));

    s.store.close();
    QVERIFY(s.store.range(QStringLiteral("A"), QStringLiteral("t1"), 0, 20000).isEmpty());
    QCOMPARE(s.open(), QString());
    QCOMPARE(s.store.range(QStringLiteral("A"), QStringLiteral("t1"), 0, 20000).size(), 10);
    QCOMPARE(s.store.lastSampleTime(), 10000);
    QCOMPARE(s.store.plantState(), QByteArray("{\"x\":1}"));
}

void tst_ArchiveStore::reductionMatchesBruteForce_data()
{
    QTest::addColumn<QString>("backend");
    QTest::addColumn<uint>("seed");
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("buckets");
    QTest::addColumn<double>("from"); // share of the data's time span where the window starts
    QTest::addColumn<double>("to");
    for (const QString& b : archiveBackends()) {
        const auto row = [&](const char* name) -> QTestData& { return QTest::addRow("%s: %s", qPrintable(b), name) << b; };
        row("few buckets") << 1u << 2000 << 10 << 0.0 << 1.0;
        row("chart width") << 2u << 20000 << 1000 << 0.0 << 1.0;
        row("more buckets than samples") << 3u << 50 << 400 << 0.0 << 1.0;
        row("window inside the data") << 4u << 10000 << 333 << 0.27 << 0.61;
        row("window reaching past the data") << 5u << 3000 << 100 << -0.5 << 1.5;
        row("one bucket") << 6u << 500 << 1 << 0.0 << 1.0;
        row("constant values") << 7u << 1000 << 50 << 0.0 << 1.0;
    }
}

void tst_ArchiveStore::reductionMatchesBruteForce()
{
    QFETCH(QString, backend);
    QFETCH(uint, seed);
    QFETCH(int, samples);
    QFETCH(int, buckets);
    QFETCH(double, from);
    QFETCH(double, to);
    auto archive = archiveOn(backend);
    Store& s = *archive;
    std::mt19937_64 random(seed);
    QList<ArchiveSample> all;
    qint64 t = 1717228800000;
    for (int i = 0; i < samples; ++i) {
        t += 1 + static_cast<qint64>(random() % 3000);
        const double value = seed == 7 ? 42.0 : static_cast<double>(random() % 100000) / 7.0 - 5000.0;
        all.append({t, value});
    }
    s.store.beginBulk();
    for (const ArchiveSample& a : std::as_const(all))
        s.store.bulkAdd(2, a.timeMs, a.value);
    s.store.endBulk(true);

    const qint64 first = all.first().timeMs;
    const qint64 span = all.last().timeMs - first;
    const qint64 t0 = first + static_cast<qint64>(span * from);
    const qint64 t1 = first + static_cast<qint64>(span * to);
    const QList<ArchiveSample> reduced = s.store.reduced(QStringLiteral("B"), QStringLiteral("t1"), t0, t1, buckets);
    QCOMPARE(reduced, bruteForce(all, t0, t1, buckets));
    QVERIFY(reduced.size() <= 4 * buckets);
    for (qsizetype i = 1; i < reduced.size(); ++i)
        QVERIFY(reduced.at(i - 1).timeMs < reduced.at(i).timeMs);
}

void tst_ArchiveStore::retentionDeletesInSmallBatches()
{
    QFETCH(QString, backend);
    auto archive = archiveOn(backend, 100);
    Store& s = *archive;
    const qint64 now = 100LL * 86400000;
    const qint64 cutoff = now - 30LL * 86400000;
    s.store.beginBulk();
    for (int i = 0; i < 250; ++i) {
        s.store.bulkAdd(0, cutoff - 250000 + i * 1000, i); // expired
        s.store.bulkAdd(2, cutoff - 250000 + i * 1000, i);
        s.store.bulkAdd(0, cutoff + i * 1000, i);          // kept
    }
    s.store.endBulk(true);
    int total = 0;
    for (int round = 0; round < 20; ++round) {
        const int removed = s.store.removeExpired(now);
        QVERIFY(removed <= 100);
        total += removed;
    }
    QCOMPARE(total, 500);
    QCOMPARE(s.store.range(QStringLiteral("A"), QStringLiteral("t1"), 0, now).size(), 250);
    QCOMPARE(s.store.range(QStringLiteral("A"), QStringLiteral("t1"), 0, now).first().timeMs, cutoff);
    QVERIFY(s.store.range(QStringLiteral("B"), QStringLiteral("t1"), 0, now).isEmpty());
}

void tst_ArchiveStore::bulkHistoryIsAllOrNothing()
{
    QFETCH(QString, backend);
    auto archive = archiveOn(backend);
    Store& s = *archive;
    s.store.beginBulk();
    for (int i = 0; i < 100; ++i)
        s.store.bulkAdd(0, i * 1000, i);
    s.store.endBulk(false);
    QVERIFY(s.store.isEmpty());
    s.store.beginBulk();
    for (int i = 0; i < 100; ++i)
        s.store.bulkAdd(0, i * 1000, i);
    s.store.close(); // closing in the middle keeps nothing of it
    QCOMPARE(s.open(), QString());
    QVERIFY(s.store.isEmpty());
}

void tst_ArchiveStore::valuesThatAreNoNumbersAreSkipped()
{
    QFETCH(QString, backend);
    auto archive = archiveOn(backend);
    Store& s = *archive;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not a number")));
    s.store.add(0, 1000, std::numeric_limits<double>::quiet_NaN());
    s.store.add(0, 2000, std::numeric_limits<double>::infinity());
    s.store.add(0, 3000, 1.5);
    s.store.commit();
    QCOMPARE(s.store.range(QStringLiteral("A"), QStringLiteral("t1"), 0, 5000), (QList<ArchiveSample>{{3000, 1.5}}));
}

void tst_ArchiveStore::damagedFileIsMovedAsideNeverOverwritten()
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("archive.sqlite"));
    QByteArray garbage(8192, '\0');
    for (qsizetype i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>((i * 7919) % 251);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(garbage);
    file.close();

    ArchiveStore store(nullptr);
    store.setSettings(settings());
    QString notice;
    QCOMPARE(store.open(path, &notice), QString());
    QVERIFY2(notice.contains(QStringLiteral("damaged")) && notice.contains(QStringLiteral("moved")), qPrintable(notice));
    const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("archive.sqlite.damaged-*")});
    QCOMPARE(aside.size(), 1);
    QFile kept(QDir(dir.path()).filePath(aside.first()));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), garbage);
    store.add(0, 1000, 1.0);
    store.commit();
    QCOMPARE(store.range(QStringLiteral("A"), QStringLiteral("t1"), 0, 2000).size(), 1);
}

void tst_ArchiveStore::fileInUseIsReportedAsLocked()
{
    Store first;
    ArchiveStore second(nullptr);
    second.setSettings(settings());
    QElapsedTimer timer;
    timer.start();
    const QString error = second.open(first.path);
    QVERIFY2(error.contains(QStringLiteral("locked")), qPrintable(error));
    QVERIFY(error.contains(QDir::toNativeSeparators(first.path)));
    QVERIFY(timer.elapsed() < 5000);
    QVERIFY(!second.isOpen());
    // The owner is not disturbed.
    first.store.add(0, 1000, 1.0);
    first.store.commit();
}

void tst_ArchiveStore::newerFileIsRefusedAndKept_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<QString>("told");
    QTest::newRow("newer") << QByteArray("99") << QStringLiteral("newer");
    // Versions no program of ours writes are refused, not taken for an empty file.
    QTest::newRow("not a number") << QByteArray("abc") << QStringLiteral("schema version this program does not understand (\"abc\")");
    QTest::newRow("beyond int") << QByteArray("1e20") << QStringLiteral("schema version this program does not understand (\"1e20\")");
    QTest::newRow("zero") << QByteArray("0") << QStringLiteral("does not understand");
}

void tst_ArchiveStore::newerFileIsRefusedAndKept()
{
    QFETCH(QByteArray, version);
    QFETCH(QString, told);
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("archive.sqlite"));
    {
        ArchiveStore store(nullptr);
        store.setSettings(settings());
        QCOMPARE(store.open(path), QString());
    }
    const QByteArray update = "UPDATE meta SET value = '" + version + "' WHERE key = 'schema_version' RETURNING 1";
    QCOMPARE(sqliteCount(path, update.constData()), 1);
    const auto bytes = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray before = bytes();
    ArchiveStore store(nullptr);
    store.setSettings(settings());
    const QString error = store.open(path);
    QVERIFY2(error.contains(told) && error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
    QCOMPARE(bytes(), before);
    QVERIFY(QDir(dir.path()).entryList({QStringLiteral("*.damaged-*")}).isEmpty());
}

QTEST_GUILESS_MAIN(tst_ArchiveStore)
#include "tst_archivestore.moc"
