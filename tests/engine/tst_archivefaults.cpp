#include "AlarmEngine.h"
#include "AlarmJournal.h"
#include "ArchiveTestSupport.h"
#include "AuditJournal.h"
#include "EngineTestSupport.h"
#include "TagStore.h"

#include <QRegularExpression>
#include <QDir>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace {

/// A VFS in front of the default one whose writes to chosen files fail as on a full disk.
namespace faulty {

sqlite3_vfs* real = nullptr;
sqlite3_vfs vfs;
QStringList failing; // name fragments of the files that refuse writes now
QString corruptOnce; // a name fragment: the next write to that file reports it damaged, once

struct File {
    sqlite3_file base;
    const char* path; // SQLite keeps it valid while the file is open
    sqlite3_file* inner() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};
File* of(sqlite3_file* f) { return reinterpret_cast<File*>(f); }

bool refuses(const char* path)
{
    const QString name = QString::fromUtf8(path ? path : "");
    for (const QString& fragment : std::as_const(failing))
        if (name.contains(fragment))
            return true;
    return false;
}

int xClose(sqlite3_file* f) { return of(f)->inner()->pMethods->xClose(of(f)->inner()); }
int xRead(sqlite3_file* f, void* b, int n, sqlite3_int64 o) { return of(f)->inner()->pMethods->xRead(of(f)->inner(), b, n, o); }
int xWrite(sqlite3_file* f, const void* b, int n, sqlite3_int64 o)
{
    if (!corruptOnce.isEmpty() && QString::fromUtf8(of(f)->path ? of(f)->path : "").contains(corruptOnce)) {
        corruptOnce.clear();
        return SQLITE_CORRUPT;
    }
    return refuses(of(f)->path) ? SQLITE_FULL : of(f)->inner()->pMethods->xWrite(of(f)->inner(), b, n, o);
}
int xTruncate(sqlite3_file* f, sqlite3_int64 s) { return of(f)->inner()->pMethods->xTruncate(of(f)->inner(), s); }
int xSync(sqlite3_file* f, int fl) { return of(f)->inner()->pMethods->xSync(of(f)->inner(), fl); }
int xFileSize(sqlite3_file* f, sqlite3_int64* s) { return of(f)->inner()->pMethods->xFileSize(of(f)->inner(), s); }
int xLock(sqlite3_file* f, int l) { return of(f)->inner()->pMethods->xLock(of(f)->inner(), l); }
int xUnlock(sqlite3_file* f, int l) { return of(f)->inner()->pMethods->xUnlock(of(f)->inner(), l); }
int xCheck(sqlite3_file* f, int* r) { return of(f)->inner()->pMethods->xCheckReservedLock(of(f)->inner(), r); }
int xControl(sqlite3_file* f, int op, void* a) { return of(f)->inner()->pMethods->xFileControl(of(f)->inner(), op, a); }
int xSector(sqlite3_file* f) { return of(f)->inner()->pMethods->xSectorSize(of(f)->inner()); }
int xDevice(sqlite3_file* f) { return of(f)->inner()->pMethods->xDeviceCharacteristics(of(f)->inner()); }
int xShmMap(sqlite3_file* f, int r, int s, int e, void volatile** p) { return of(f)->inner()->pMethods->xShmMap(of(f)->inner(), r, s, e, p); }
int xShmLock(sqlite3_file* f, int o, int n, int fl) { return of(f)->inner()->pMethods->xShmLock(of(f)->inner(), o, n, fl); }
void xShmBarrier(sqlite3_file* f) { of(f)->inner()->pMethods->xShmBarrier(of(f)->inner()); }
int xShmUnmap(sqlite3_file* f, int d) { return of(f)->inner()->pMethods->xShmUnmap(of(f)->inner(), d); }
int xFetch(sqlite3_file* f, sqlite3_int64 o, int n, void** p) { return of(f)->inner()->pMethods->xFetch(of(f)->inner(), o, n, p); }
int xUnfetch(sqlite3_file* f, sqlite3_int64 o, void* p) { return of(f)->inner()->pMethods->xUnfetch(of(f)->inner(), o, p); }

sqlite3_io_methods methods[4];

int xOpen(sqlite3_vfs*, sqlite3_filename path, sqlite3_file* f, int flags, int* outFlags)
{
    File* file = of(f);
    const int rc = real->xOpen(real, path, file->inner(), flags, outFlags);
    file->base.pMethods = nullptr;
    if (!file->inner()->pMethods)
        return rc;
    file->path = path;
    const int version = std::min(3, file->inner()->pMethods->iVersion);
    file->base.pMethods = &methods[version];
    return rc;
}

void install()
{
    real = sqlite3_vfs_find(nullptr);
    vfs = *real;
    vfs.zName = "faulty";
    vfs.szOsFile = static_cast<int>(sizeof(File)) + real->szOsFile;
    vfs.xOpen = xOpen;
    for (int v = 1; v <= 3; ++v)
        methods[v] = {v, xClose, xRead, xWrite, xTruncate, xSync, xFileSize, xLock, xUnlock, xCheck, xControl, xSector, xDevice,
            v >= 2 ? xShmMap : nullptr, v >= 2 ? xShmLock : nullptr, v >= 2 ? xShmBarrier : nullptr, v >= 2 ? xShmUnmap : nullptr,
            v >= 3 ? xFetch : nullptr, v >= 3 ? xUnfetch : nullptr};
    sqlite3_vfs_register(&vfs, 1);
}

} // namespace faulty

} // namespace

namespace {

const QString Fault = QString::fromLatin1(Runtime::ArchiveFaultVariable);
const QString FaultAlarm = QStringLiteral("System.ArchiveFault");
const QString Pump = QStringLiteral("Ch1.Kalvora.WaterPump");

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/// An archive of a few MB: every page kind (samples, rollups, inner pages) is well represented.
void writeArchive(const QString& path)
{
    ArchiveStore store(nullptr);
    store.setSettings(settings());
    // One row per sample, as an archive from before packing: a file of a few MB to damage.
    QCOMPARE(store.open(std::make_unique<SqliteArchiveBackend>(path, SqliteArchiveBackend::Layout::Rows)), QString());
    store.beginBulk();
    for (int slot = 0; slot < 3; ++slot)
        for (qint64 i = 0; i < 60000; ++i)
            store.bulkAdd(slot, 1717228800000 + i * 1000, static_cast<double>((i * 7919 + slot) % 1000));
    store.endBulk(true);
}

/// What each of the runtime's files is called in messages.
QString whatIs(const QString& file)
{
    return file == QLatin1String("alarms.sqlite") ? QStringLiteral("alarm journal")
        : file == QLatin1String("audit.sqlite")   ? QStringLiteral("audit journal")
                                                  : QStringLiteral("archive");
}

/// A file of the kind `file` names, of a few MB, as the runtime writes it.
void writeFile(const QString& file, const QString& path)
{
    if (file == QLatin1String("archive.sqlite"))
        return writeArchive(path);
    if (file == QLatin1String("alarms.sqlite")) {
        AlarmJournal journal;
        QCOMPARE(journal.open(path), QString());
        QList<AlarmJournalEntry> rows;
        for (int i = 0; i < 30000; ++i)
            rows.append({1717228800000 + i * 1000, QStringLiteral("Alarm%1").arg(i % 40), QStringLiteral("Group%1").arg(i % 3),
                QStringLiteral("came"), AlarmState::ActiveUnacknowledged, 1717228800000, 0, 0, i * 0.5, {}, 0, 0});
        journal.append(rows);
        QCOMPARE(journal.heldCount(), 0);
        return;
    }
    AuditJournal audit;
    QCOMPARE(audit.open(path), QString());
    for (int i = 0; i < 4000; ++i)
        audit.append({0, 1717228800000 + i * 1000, QStringLiteral("station"), QStringLiteral("operator"), QStringLiteral("write"),
            QStringLiteral("Ch1.Kalvora.Var%1").arg(i % 50), QString::number(i), QString::number(i + 1), QStringLiteral("refused"),
            QString(300, QLatin1Char('x')), {}});
}

/// Opens the file as the runtime's store of its kind; the error, empty on success.
QString openFile(const QString& file, const QString& path)
{
    if (file == QLatin1String("alarms.sqlite"))
        return AlarmJournal().open(path);
    if (file == QLatin1String("audit.sqlite"))
        return AuditJournal().open(path);
    ArchiveStore store(nullptr);
    store.setSettings(settings());
    return store.open(path);
}

/// The files moved aside for `file`, without their WAL.
QStringList movedAside(const QString& folder, const QString& file)
{
    QStringList aside = QDir(folder).entryList({file + QStringLiteral(".damaged-*")});
    aside.removeIf([](const QString& name) { return name.endsWith(QLatin1String("-wal")) || name.endsWith(QLatin1String("-shm")); });
    return aside;
}

/// Writes garbage over part of the file ("tail", "middle" or "header"); returns the damaged bytes.
QByteArray spoil(const QString& path, const QString& damage)
{
    QByteArray bytes = readAll(path);
    const qsizetype length = damage == QLatin1String("header") ? 100 : 65536;
    const qsizetype at = damage == QLatin1String("tail") ? bytes.size() - length : damage == QLatin1String("middle") ? bytes.size() / 2 / 4096 * 4096 : 0;
    for (qsizetype i = 0; i < length; ++i)
        bytes[at + i] = static_cast<char>((i * 7919 + 13) % 251);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return bytes;
}

} // namespace

class tst_ArchiveFaults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { faulty::install(); }
    void cleanup()
    {
        faulty::failing.clear();
        faulty::corruptOnce.clear();
    }
    void fullDiskKeepsThePlantRunning_data();
    void fullDiskKeepsThePlantRunning();
    void holdBufferDropsOnlyTheOldest();
    void damagedArchiveIsKeptAside_data();
    void damagedArchiveIsKeptAside();
    void damagedJournalIsKeptAside_data();
    void damagedJournalIsKeptAside();
    void foreignFileIsRefusedAndKept_data();
    void foreignFileIsRefusedAndKept();
    void readOnlyArchiveSaysWhy_data();
    void readOnlyArchiveSaysWhy();
    void damageInOperationRaisesTheAlarm();
    void journalDamagedInOperationIsReplaced_data();
    void journalDamagedInOperationIsReplaced();
    void runtimeChecksItsArchiveAfterStart();
    void auditJournalOfTheFirstSchemaIsChained();
};

void tst_ArchiveFaults::fullDiskKeepsThePlantRunning_data()
{
    QTest::addColumn<QStringList>("refusing");
    QTest::addColumn<QStringList>("events"); // in the journal afterwards
    const QString came = FaultAlarm + QStringLiteral(" came");
    const QString went = FaultAlarm + QStringLiteral(" went");
    const QString pumpOff = QStringLiteral("WaterPump.Off came");
    // A refusing archive raises its alarm after its one-second delay, in the tick where the pump alarm
    // comes too (project order puts the pump first); a refusing journal only once it has a row to write.
    QTest::newRow("archive") << QStringList{QStringLiteral("archive.sqlite")} << QStringList{pumpOff, came, went};
    QTest::newRow("alarm journal") << QStringList{QStringLiteral("alarms.sqlite")} << QStringList{pumpOff, came, went};
    QTest::newRow("both") << QStringList{QStringLiteral("archive.sqlite"), QStringLiteral("alarms.sqlite")} << QStringList{pumpOff, came, went};
    // The operator's write itself is the audit journal's first row to refuse: its alarm comes first.
    QTest::newRow("audit journal") << QStringList{QStringLiteral("audit.sqlite")} << QStringList{came, pumpOff, went};
}

void tst_ArchiveFaults::fullDiskKeepsThePlantRunning()
{
    QFETCH(QStringList, refusing);
    QFETCH(QStringList, events);
    const bool archiveRefuses = refusing.contains(QStringLiteral("archive.sqlite"));
    const bool journalRefuses = refusing.contains(QStringLiteral("alarms.sqlite"));
    const bool auditRefuses = refusing.contains(QStringLiteral("audit.sqlite"));
    QTemporaryDir dir;
    copyProject(dir.path());
    Runtime runtime(testOptions(dir.path()));
    QCOMPARE(startAndWait(runtime), QString());
    const qint64 first = runtime.now() / 1000 * 1000;
    runtime.tags().write(Pump, true);
    runtime.advance(20);
    QCOMPARE(runtime.tags().value(Fault).value.toBool(), false);
    const int journalBefore = runtime.alarms().journal().history(100000).size();

    faulty::failing = refusing;
    // Switching the pump off raises an alarm, whose journal rows the journal file must hold too.
    runtime.tags().write(Pump, false);
    runtime.advance(600);
    QCOMPARE(runtime.state(), Runtime::State::Running);
    QCOMPARE(runtime.tags().value(Fault).value.toBool(), true);
    QVERIFY(runtime.alarms().alarm(FaultAlarm).isActive());
    QVERIFY(runtime.alarms().alarm(QStringLiteral("WaterPump.Off")).isActive());
    QCOMPARE(runtime.archive().pendingCount() > 600 * 12, archiveRefuses);
    QCOMPARE(runtime.alarms().journal().heldCount() >= 2, journalRefuses);
    QCOMPARE(runtime.audit().heldCount() >= 1, auditRefuses);

    faulty::failing.clear();
    runtime.advance(2 * Runtime::JournalRetryEvery);
    QCOMPARE(runtime.tags().value(Fault).value.toBool(), false);
    QCOMPARE(runtime.archive().pendingCount(), 0);
    QCOMPARE(runtime.alarms().journal().heldCount(), 0);
    QCOMPARE(runtime.audit().heldCount(), 0);
    QCOMPARE(runtime.archive().droppedCount(), 0);
    // The pump's write reached the audit journal, held or not.
    const QList<AuditEntry> audit = runtime.audit().history(1);
    QCOMPARE(audit.size(), 1);
    QCOMPARE(audit.first().newValue, QStringLiteral("false"));
    // Held rows join the chain when they are written, and it verifies up to the newest row.
    QList<AuditEntry> chained = runtime.audit().history(100);
    std::reverse(chained.begin(), chained.end());
    const AuditChain::Verdict verdict = AuditChain::verify(chained, runtime.audit().head());
    QVERIFY2(verdict.ok, qPrintable(verdict.reason));
    QCOMPARE(runtime.audit().head().id, chained.last().id);
    // Every second of every trend is on disk, the held ones included.
    const qint64 last = runtime.now() / 1000 * 1000;
    for (int i = 0; i < runtime.archive().trendCount(); ++i) {
        const QList<ArchiveSample> samples = runtime.archive().range(runtime.archive().archiveOf(i), runtime.archive().trendAt(i).name, first, last);
        QCOMPARE(samples.size(), (last - first) / 1000 + 1);
        QCOMPARE(samples.last().timeMs, last);
    }
    // The journal has the pump alarm and the archive alarm in the order they happened.
    QList<AlarmJournalEntry> journal = runtime.alarms().journal().history(100000);
    journal.resize(journal.size() - journalBefore);
    std::reverse(journal.begin(), journal.end());
    QStringList written;
    for (const AlarmJournalEntry& e : std::as_const(journal))
        written.append(e.alarm + QLatin1Char(' ') + e.event);
    QCOMPARE(written, events);
    for (qsizetype i = 1; i < journal.size(); ++i)
        QVERIFY(journal.at(i - 1).timeMs <= journal.at(i).timeMs);
    runtime.stop();
}

void tst_ArchiveFaults::holdBufferDropsOnlyTheOldest()
{
    Store s;
    s.store.setHoldLimit(40);
    QSignalSpy faults(&s.store, &ArchiveStore::writeFaultChanged);
    faulty::failing = {QStringLiteral("archive.sqlite")};
    for (qint64 i = 1; i <= 100; ++i) {
        s.store.add(0, i * 1000, static_cast<double>(i));
        s.store.commit();
    }
    QCOMPARE(faults.size(), 1);
    QVERIFY2(faults.first().first().toString().contains(QStringLiteral("full")), qPrintable(faults.first().first().toString()));
    QCOMPARE(s.store.pendingCount(), 40);
    QCOMPARE(s.store.droppedCount(), 60);
    faulty::failing.clear();
    // Retried on the first commit RetryMs after the last refused one.
    s.store.add(0, 100000 + ArchiveStore::RetryMs, 0.5);
    s.store.commit();
    QCOMPARE(faults.size(), 2);
    QCOMPARE(faults.last().first().toString(), QString());
    const QList<ArchiveSample> kept = s.store.range(QStringLiteral("A"), QStringLiteral("t1"), 0, 1000000);
    QCOMPARE(kept.size(), 41);
    QCOMPARE(kept.first(), (ArchiveSample{61000, 61.0}));
    QCOMPARE(kept.at(39), (ArchiveSample{100000, 100.0}));
}

void tst_ArchiveFaults::damagedArchiveIsKeptAside_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("garbage over the last pages") << QStringLiteral("tail");
    QTest::newRow("64 KB of garbage in the middle") << QStringLiteral("middle");
    QTest::newRow("garbage over the header") << QStringLiteral("header");
}

void tst_ArchiveFaults::damagedArchiveIsKeptAside()
{
    QFETCH(QString, damage);
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("archive.sqlite"));
    writeArchive(path);
    const QByteArray bytes = spoil(path, damage);
    QVERIFY(bytes.size() > 1 << 20);

    // As the runtime does it: open, check on the side, and work on meanwhile.
    ArchiveStore store(nullptr);
    store.setSettings(settings());
    QSignalSpy replaced(&store, &ArchiveStore::damagedReplaced);
    QString notice;
    QCOMPARE(store.open(path, &notice), QString());
    if (notice.isEmpty()) {
        store.startCheck();
        QVERIFY(QTest::qWaitFor([&] { return !store.isChecking(); }, 30000));
        (void)store.reduced(QStringLiteral("A"), QStringLiteral("t1"), 0, 1717228800000 + 60000000, 1000);
    }
    QVERIFY2(!notice.isEmpty() || replaced.size() == 1, qPrintable(notice));
    const QString told = notice.isEmpty() ? replaced.first().first().toString() : notice;
    QVERIFY2(told.contains(QStringLiteral("damaged")) && told.contains(QStringLiteral("moved")), qPrintable(told));

    QStringList aside = QDir(dir.path()).entryList({QStringLiteral("archive.sqlite.damaged-*")});
    aside.removeIf([](const QString& name) { return name.endsWith(QLatin1String("-wal")) || name.endsWith(QLatin1String("-shm")); });
    QCOMPARE(aside.size(), 1);
    QCOMPARE(readAll(QDir(dir.path()).filePath(aside.first())), bytes);
    store.add(0, 5000, 1.5);
    store.commit();
    QCOMPARE(store.writeFault(), QString());
    QCOMPARE(store.range(QStringLiteral("A"), QStringLiteral("t1"), 0, 1717228800000 * 2), (QList<ArchiveSample>{{5000, 1.5}}));
    store.close();
    QCOMPARE(sqliteCount(path, "SELECT count(*) FROM samples"), 1);
}

void tst_ArchiveFaults::damageInOperationRaisesTheAlarm()
{
    QTemporaryDir dir;
    copyProject(dir.path());
    Runtime runtime(testOptions(dir.path()));
    QCOMPARE(startAndWait(runtime), QString());
    runtime.advance(5);
    // What the store reports after it has moved a damaged file aside and opened a fresh one.
    Q_EMIT runtime.archive().damagedReplaced(QStringLiteral("The archive is damaged; it was moved aside."));
    runtime.advance(3);
    QVERIFY(runtime.alarms().alarm(FaultAlarm).isActive());
    runtime.advance(Runtime::DamageShownMs / 1000);
    QVERIFY(!runtime.alarms().alarm(FaultAlarm).isActive());
    QVERIFY(!runtime.alarms().alarm(FaultAlarm).isAcknowledged());
}

void tst_ArchiveFaults::journalDamagedInOperationIsReplaced_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("alarm journal") << QStringLiteral("alarms.sqlite");
    QTest::newRow("audit journal") << QStringLiteral("audit.sqlite");
}

/// A journal found damaged while the station runs is replaced; the row that found it goes into the
/// fresh file, and the operator is told as for the archive.
void tst_ArchiveFaults::journalDamagedInOperationIsReplaced()
{
    QFETCH(QString, file);
    QTemporaryDir dir;
    copyProject(dir.path());
    Runtime runtime(testOptions(dir.path()));
    QCOMPARE(startAndWait(runtime), QString());
    runtime.tags().write(Pump, true);
    runtime.advance(20);
    const QString folder = QDir(dir.path()).filePath(QStringLiteral("data/Kalvora"));
    const QString path = QDir(folder).filePath(file);
    faulty::corruptOnce = file;
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^The %1 .*%2 is damaged.*moved").arg(whatIs(file), file)));
    runtime.tags().write(Pump, false); // an audit row at once, the pump alarm's row a little later
    runtime.advance(5);
    QVERIFY(faulty::corruptOnce.isEmpty());
    QCOMPARE(movedAside(folder, file).size(), 1);
    QVERIFY2(runtime.notices().size() == 1 && runtime.notices().first().contains(whatIs(file)), qPrintable(runtime.notices().join(QLatin1Char('\n'))));
    if (file == QLatin1String("audit.sqlite"))
        QCOMPARE(sqliteCount(path, "SELECT count(*) FROM audit"), 1);
    else
        QCOMPARE(sqliteCount(path, "SELECT count(*) FROM journal WHERE alarm = 'WaterPump.Off'"), 1);
    QVERIFY(runtime.alarms().alarm(FaultAlarm).isActive());
    QCOMPARE(runtime.state(), Runtime::State::Running);
}

void tst_ArchiveFaults::runtimeChecksItsArchiveAfterStart()
{
    QTemporaryDir dir;
    copyProject(dir.path());
    const RuntimeOptions options = testOptions(dir.path());
    const QString folder = QDir(options.dataDirectory).filePath(QStringLiteral("Kalvora"));
    QVERIFY(QDir().mkpath(folder));
    const QString path = QDir(folder).filePath(QStringLiteral("archive.sqlite"));
    writeArchive(path);
    const QByteArray bytes = spoil(path, QStringLiteral("middle")); // opens fine: only a check finds it
    QVERIFY(!bytes.isEmpty());
    Runtime runtime(options);
    QCOMPARE(startAndWait(runtime), QString());
    QSignalSpy replaced(&runtime.archive(), &ArchiveStore::damagedReplaced);
    QVERIFY(QTest::qWaitFor([&] { return replaced.size() == 1; }, Runtime::ArchiveCheckDelayMs + 20000));
    runtime.advance(3);
    QVERIFY(runtime.alarms().alarm(FaultAlarm).isActive());
    QStringList aside = QDir(folder).entryList({QStringLiteral("archive.sqlite.damaged-*")});
    aside.removeIf([](const QString& name) { return name.endsWith(QLatin1String("-wal")) || name.endsWith(QLatin1String("-shm")); });
    QCOMPARE(aside.size(), 1);
    // The runtime had recorded into the file before the check found it: the damage itself is kept.
    const QByteArray kept = readAll(QDir(folder).filePath(aside.first()));
    const qsizetype at = bytes.size() / 2 / 4096 * 4096;
    QVERIFY(kept.size() >= bytes.size());
    QCOMPARE(kept.mid(at, 65536), bytes.mid(at, 65536));
    QCOMPARE(runtime.state(), Runtime::State::Running);
}

void tst_ArchiveFaults::readOnlyArchiveSaysWhy_data()
{
    QTest::addColumn<QString>("file");
    for (const char* file : {"archive.sqlite", "alarms.sqlite", "audit.sqlite"})
        QTest::newRow(file) << QString::fromLatin1(file);
}

/// SQLite itself only says "disk I/O error" or "attempt to write a readonly database".
void tst_ArchiveFaults::readOnlyArchiveSaysWhy()
{
    QFETCH(QString, file);
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(file);
    writeFile(file, path);
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    const auto restore = qScopeGuard([&] { QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); });
    const auto openError = [&] { return openFile(file, path); };
    QString error;
    if (::geteuid() != 0) {
        error = openError();
    } else {
        // Permissions do not stop root: open it as an unprivileged user in a child.
        int fds[2];
        QCOMPARE(::pipe(fds), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(fds[0]);
            ::unsetenv("USER");
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(2);
            const QByteArray text = openError().toUtf8();
            (void)!::write(fds[1], text.constData(), static_cast<size_t>(text.size()));
            ::_exit(0);
        }
        ::close(fds[1]);
        QByteArray text;
        char buffer[512];
        for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
            text.append(buffer, n);
        ::close(fds[0]);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        error = QString::fromUtf8(text);
    }
    QVERIFY2(error.contains(QStringLiteral("is not writable for this program")), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("owned by %1").arg(QFileInfo(path).owner())), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("the %1 %2").arg(whatIs(file), QDir::toNativeSeparators(path))), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("(0444)")), qPrintable(error));
}

void tst_ArchiveFaults::damagedJournalIsKeptAside_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("damage");
    for (const char* file : {"alarms.sqlite", "audit.sqlite"}) {
        QTest::addRow("%s, garbage over the last pages", file) << QString::fromLatin1(file) << QStringLiteral("tail");
        QTest::addRow("%s, 64 KB of garbage in the middle", file) << QString::fromLatin1(file) << QStringLiteral("middle");
        QTest::addRow("%s, garbage over the header", file) << QString::fromLatin1(file) << QStringLiteral("header");
    }
}

/// A journal is checked before the start goes on; a damaged one is kept aside and a fresh one records.
void tst_ArchiveFaults::damagedJournalIsKeptAside()
{
    QFETCH(QString, file);
    QFETCH(QString, damage);
    QTemporaryDir dir;
    copyProject(dir.path());
    const RuntimeOptions options = testOptions(dir.path());
    const QString folder = QDir(options.dataDirectory).filePath(QStringLiteral("Kalvora"));
    QVERIFY(QDir().mkpath(folder));
    const QString path = QDir(folder).filePath(file);
    writeFile(file, path);
    const QByteArray bytes = spoil(path, damage);
    QVERIFY(bytes.size() > 1 << 20);

    Runtime runtime(options);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("is damaged")));
    QCOMPARE(startAndWait(runtime), QString());
    const QString told = runtime.notices().join(QLatin1Char('\n'));
    QVERIFY2(runtime.notices().size() == 1 && told.contains(QStringLiteral("The %1 %2 is damaged").arg(whatIs(file), QDir::toNativeSeparators(path)))
            && told.contains(QStringLiteral("moved")), qPrintable(told));
    const QStringList aside = movedAside(folder, file);
    QCOMPARE(aside.size(), 1);
    QCOMPARE(readAll(QDir(folder).filePath(aside.first())), bytes);

    // The fresh file takes what happens next, and another program reads it while the station runs.
    runtime.tags().write(Pump, true);
    runtime.advance(5);
    runtime.tags().write(Pump, false);
    runtime.advance(5);
    QVERIFY(runtime.alarms().alarm(QStringLiteral("WaterPump.Off")).isActive());
    if (file == QLatin1String("audit.sqlite"))
        QCOMPARE(sqliteCount(path, "SELECT count(*) FROM audit"), 2);
    else
        QCOMPARE(sqliteCount(path, "SELECT count(*) FROM journal WHERE alarm = 'WaterPump.Off'"), 1);
    QCOMPARE(runtime.state(), Runtime::State::Running);
}

void tst_ArchiveFaults::foreignFileIsRefusedAndKept_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("change");
    QTest::addColumn<QString>("told");
    const QString foreign = QStringLiteral("does not hold the tables this program writes");
    QTest::newRow("archive, foreign samples table") << QStringLiteral("archive.sqlite") << QByteArray("ALTER TABLE samples RENAME COLUMN v TO value") << foreign;
    QTest::newRow("alarm journal, foreign table") << QStringLiteral("alarms.sqlite") << QByteArray("ALTER TABLE journal RENAME COLUMN time TO t") << foreign;
    QTest::newRow("audit journal, foreign table") << QStringLiteral("audit.sqlite") << QByteArray("ALTER TABLE audit RENAME COLUMN time TO t") << foreign;
    const QString version = QStringLiteral("schema version this program does not understand");
    for (const char* file : {"archive.sqlite", "alarms.sqlite", "audit.sqlite"})
        QTest::addRow("%s, schema version abc", file) << QString::fromLatin1(file) << QByteArray("UPDATE meta SET value = 'abc' WHERE key = 'schema_version'") << version;
}

/// Nothing is written into a file whose tables cannot hold it: it is refused, named and left alone.
void tst_ArchiveFaults::foreignFileIsRefusedAndKept()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, change);
    QFETCH(QString, told);
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(file);
    writeFile(file, path);
    (void)sqliteCount(path, change.constData());
    const QByteArray before = readAll(path);
    const QString error = openFile(file, path);
    QVERIFY2(error.contains(told) && error.contains(QStringLiteral("The %1 %2").arg(whatIs(file), QDir::toNativeSeparators(path))), qPrintable(error));
    QCOMPARE(readAll(path), before);
    QVERIFY(movedAside(dir.path(), file).isEmpty());
}

QTEST_GUILESS_MAIN(tst_ArchiveFaults)
void tst_ArchiveFaults::auditJournalOfTheFirstSchemaIsChained()
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("audit.sqlite"));
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    QCOMPARE(sqlite3_exec(db,
                 "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID; INSERT INTO meta VALUES('schema_version', '1');"
                 "CREATE TABLE audit(id INTEGER PRIMARY KEY, time INTEGER NOT NULL, station TEXT NOT NULL, user TEXT NOT NULL, "
                 "variable TEXT NOT NULL, old_value TEXT NOT NULL, new_value TEXT NOT NULL, result TEXT NOT NULL, reason TEXT NOT NULL);"
                 "INSERT INTO audit VALUES(1, 1000, 'h', 'u', 'Ch1.A', 'false', 'true', 'ok', ''), (2, 2000, 'h', 'u', 'Ch1.B', '1', '2', 'refused', 'r');",
                 nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(db);

    AuditJournal audit;
    QCOMPARE(audit.open(path), QString());
    audit.append({0, 3000, QStringLiteral("h"), QStringLiteral("anna"), QStringLiteral("sign-in"), QStringLiteral("operator"), {}, {},
        QStringLiteral("ok"), {}, {}});
    QList<AuditEntry> rows = audit.history(10);
    std::reverse(rows.begin(), rows.end());
    QCOMPARE(rows.size(), 3);
    // The old rows are kept as writes, their variable as the target, and chained before the new row.
    QCOMPARE(rows.at(1).action, QStringLiteral("write"));
    QCOMPARE(rows.at(1).target, QStringLiteral("Ch1.B"));
    QCOMPARE(rows.at(1).reason, QStringLiteral("r"));
    QCOMPARE(rows.at(2).id, 3);
    const AuditChain::Verdict verdict = AuditChain::verify(rows, audit.head());
    QVERIFY2(verdict.ok, qPrintable(verdict.reason));
}

#include "tst_archivefaults.moc"
