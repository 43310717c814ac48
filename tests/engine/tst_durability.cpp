#include "ArchiveStore.h"
#include "ArchiveTestSupport.h"
#include "EngineTestSupport.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sqlite3.h>

namespace {

constexpr int Trends = 13;
constexpr int HistoryHours = 2;

/// Opens the file as a fresh process would after the crash and answers one number per query.
class Inspect {
public:
    explicit Inspect(const QString& path)
    {
        m_ok = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
    }
    ~Inspect() { sqlite3_close(m_db); }
    Inspect(const Inspect&) = delete;
    Inspect& operator=(const Inspect&) = delete;

    QString text(const char* sql)
    {
        sqlite3_stmt* stmt = nullptr;
        QString result = QStringLiteral("error");
        if (m_ok && sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
            result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        sqlite3_finalize(stmt);
        return result;
    }
    qint64 count(const char* sql, qint64 a, qint64 b = 0)
    {
        sqlite3_stmt* stmt = nullptr;
        qint64 n = -1;
        if (m_ok && sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr) == SQLITE_OK) {
            sqlite3_bind_int64(stmt, 1, a);
            sqlite3_bind_int64(stmt, 2, b);
            if (sqlite3_step(stmt) == SQLITE_ROW)
                n = sqlite3_column_int64(stmt, 0);
        }
        sqlite3_finalize(stmt);
        return n;
    }

private:
    sqlite3* m_db = nullptr;
    bool m_ok = false;
};

} // namespace

class tst_Durability : public QObject {
    Q_OBJECT

private slots:
    void killedWhileRecordingLosesNothingCommitted();
    void killedWhilePackingLosesNothing();
};

void tst_Durability::killedWhileRecordingLosesNothingCommitted()
{
    QTemporaryDir dir;
    const QString projects = copyProject(dir.path());
    const QString data = QDir(dir.path()).filePath(QStringLiteral("data"));
    const QString archive = QDir(data).filePath(QStringLiteral("Kalvora/archive.sqlite"));
    const QString journal = QDir(data).filePath(QStringLiteral("Kalvora/alarms.sqlite"));
    QRandomGenerator random(20240601);
    const qint64 firstStart = 1717228800000;
    qint64 nextStart = firstStart;
    int kills = 0;
    int killedInHistory = 0;
    qint64 committedTotal = 0;

    for (int round = 0; round < 30; ++round) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QStringLiteral(KALVORA_DURABILITY_CHILD),
            {projects, data, QString::number(nextStart), QString::number(HistoryHours)});
        QVERIFY2(child.waitForStarted(10000), qPrintable(child.errorString()));

        // The first rounds die while the history is being written, the others at a random commit.
        const bool inHistory = round < 3;
        const int commitsToSee = 1 + static_cast<int>(random.bounded(80));
        QList<qint64> committed;
        bool sawHistory = false;
        QByteArray pending;
        while (child.state() == QProcess::Running) {
            if (!child.waitForReadyRead(10000))
                break;
            pending += child.readAllStandardOutput();
            qsizetype end = 0;
            while ((end = pending.indexOf('\n')) >= 0) {
                const QByteArray line = pending.left(end);
                pending.remove(0, end + 1);
                if (line.startsWith("C "))
                    committed.append(line.mid(2).toLongLong());
                else if (line == "H")
                    sawHistory = true;
                else if (line.startsWith("F "))
                    QFAIL(line.constData());
            }
            if ((inHistory && sawHistory) || committed.size() >= commitsToSee)
                break;
        }
        if (inHistory && sawHistory && round > 0)
            QTest::qWait(static_cast<int>(random.bounded(300))); // somewhere inside the history transaction
        child.kill(); // SIGKILL: no handler runs, nothing is flushed
        QVERIFY(child.waitForFinished(10000));
        ++kills;

        // Whatever the child reported as recorded is on disk, and the files are sound.
        {
            Inspect db(archive);
            QCOMPARE(db.text("PRAGMA integrity_check"), QStringLiteral("ok"));
            for (qint64 t : std::as_const(committed))
                QCOMPARE(db.count("SELECT count(*) FROM samples WHERE t = ?1", t), static_cast<qint64>(Trends));
            // History is written whole or not at all.
            // Old hours may be packed already: a block counts with its samples.
            const qint64 history = db.count("SELECT (SELECT count(*) FROM samples WHERE t <= ?1) + "
                                            "(SELECT coalesce(sum(count), 0) FROM sample_blocks WHERE end <= ?1)", firstStart);
            QVERIFY2(history == 0 || history == static_cast<qint64>(Trends) * HistoryHours * 3600, qPrintable(QString::number(history)));
            killedInHistory += history == 0 && round < 3;
            Inspect alarms(journal);
            QCOMPARE(alarms.text("PRAGMA integrity_check"), QStringLiteral("ok"));
        }
        committedTotal += committed.size();
        if (!committed.isEmpty())
            nextStart = std::max(nextStart, committed.last()) + 1000;
    }
    qInfo("%d kills (%d inside the history), %lld commits checked", kills, killedInHistory, static_cast<long long>(committedTotal));
    QVERIFY(killedInHistory >= 1);

    // The next start opens the files cleanly: nothing moved aside, recording goes on.
    RuntimeOptions options = testOptions(dir.path());
    options.startTimeMs = nextStart;
    Runtime runtime(options);
    QCOMPARE(startAndWait(runtime), QString());
    QVERIFY(runtime.notices().isEmpty());
    QVERIFY(QDir(QDir(data).filePath(QStringLiteral("Kalvora"))).entryList({QStringLiteral("*.damaged-*")}).isEmpty());
    runtime.advance(5);
    QCOMPARE(runtime.archive().range(QStringLiteral("Fuel"), QStringLiteral("FuelTank1"), nextStart, runtime.now()).size(), 6);
}

void tst_Durability::killedWhilePackingLosesNothing()
{
    // An archive of the schema before packing: every sample a row, no block table.
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("archive.sqlite"));
    QList<ArchiveSample> all;
    {
        ArchiveStore store(nullptr);
        store.setSettings(settings());
        QCOMPARE(store.open(std::make_unique<SqliteArchiveBackend>(path, SqliteArchiveBackend::Layout::Rows)), QString());
        store.beginBulk();
        for (qint64 i = 0; i < 12 * 3600; ++i) {
            const ArchiveSample a{1717228800000 + i * 1000 + i % 3, std::round(std::sin(i * 0.001) * 1000.0) * 0.1};
            all.append(a);
            for (int slot = 0; slot < store.trendCount(); ++slot)
                store.bulkAdd(slot, a.timeMs, a.value + slot);
        }
        store.endBulk(true);
    }
    {
        Inspect db(path);
        // Statements without a result row count -1.
        QCOMPARE(db.count("DROP TABLE sample_blocks", 0), -1);
        QCOMPARE(db.count("UPDATE meta SET value = '3' WHERE key = 'schema_version'", 0), -1);
        QCOMPARE(db.count("SELECT count(*) FROM sqlite_schema WHERE name = 'sample_blocks'", 0), 0);
    }
    const qint64 total = all.size() * 3;
    QRandomGenerator random(20261210);
    int kills = 0;
    bool done = false;
    for (int round = 0; round < 40 && !done; ++round) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QStringLiteral(KALVORA_DURABILITY_CHILD), {QStringLiteral("pack"), path});
        QVERIFY(child.waitForReadyRead(10000));
        QVERIFY(child.readLine().startsWith('O'));
        // Somewhere in the packing, a little later each round, until a round sees it done.
        done = child.waitForReadyRead(static_cast<int>(random.bounded(20)) + round * 15);
        child.kill();
        QVERIFY(child.waitForFinished(10000));
        kills += !done;
        Inspect db(path);
        QCOMPARE(db.text("PRAGMA integrity_check"), QStringLiteral("ok"));
        QCOMPARE(db.count("SELECT (SELECT count(*) FROM samples) + (SELECT coalesce(sum(count), 0) FROM sample_blocks)", 0), total);
    }
    QVERIFY(done);
    QVERIFY(kills >= 2);
    ArchiveStore store(nullptr);
    store.setSettings(settings());
    QCOMPARE(store.open(path), QString());
    QVERIFY(sqliteCount(path, "SELECT count(*) FROM sample_blocks") >= 3 * 10);
    for (int slot = 0; slot < store.trendCount(); ++slot) {
        QList<ArchiveSample> expected = all;
        for (ArchiveSample& a : expected)
            a.value += slot;
        QVERIFY(store.range(store.archiveOf(slot), store.trendAt(slot).name, 0, all.last().timeMs) == expected);
    }
}

QTEST_GUILESS_MAIN(tst_Durability)
#include "tst_durability.moc"
