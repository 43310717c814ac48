#include "AlarmEngine.h"
#include "ArchiveCatalog.h"
#include "ArchiveStore.h"
#include "ArchiveTrendInfo.h"
#include "EngineTestSupport.h"
#include "KalvoraError.h"
#include "PlantSimulator.h"
#include "TagStore.h"
#include "TextDatabase.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <sqlite3.h>

namespace {

const QString P = QStringLiteral("Ch1.Kalvora.");

QString name(const char* suffix)
{
    return P + QLatin1String(suffix);
}

bool inList(Runtime& r, const QString& group, const QString& id, AlarmState* state = nullptr)
{
    for (const AlarmInfo& a : r.alarms().alarms(group))
        if (a.id == id) {
            if (state)
                *state = a.state;
            return true;
        }
    return false;
}

} // namespace

class tst_Runtime : public QObject {
    Q_OBJECT

private slots:
    void startReportsEachStepThenStarted();
    void firstStartWritesADayOfHistoryQuickly();
    void startFailures_data();
    void startFailures();
    void switchesActOnThePlantAtOnce();
    void writesAreChecked_data();
    void writesAreChecked();
    void numbersRefuseOnOff();
    void alarmsComeAndGoWithThePlant();
    void stopKeepsEverythingAndRestartResumes();
    void faultStopsCleanly();
    void secondRuntimeOnTheSameArchiveIsTold();
    void otherProgramsReadWhileRecording();
    void damagedArchiveIsMovedAsideAtStart();
    void stopDuringHistoryLeavesNoHalfOfIt();
    void textsFollowTheLanguage();
    void speedFactorRunsThePlantFaster();
    void catalogue_data();
    void catalogue();
};

void tst_Runtime::startReportsEachStepThenStarted()
{
    QTemporaryDir dir;
    copyProject(dir.path());
    Runtime runtime(testOptions(dir.path(), 2));
    QSignalSpy progress(&runtime, &Runtime::progress);
    QSignalSpy stopped(&runtime, &Runtime::stopped);
    runtime.start(QStringLiteral("Kalvora"));
    QCOMPARE(runtime.state(), Runtime::State::Starting);
    QVERIFY(progress.isEmpty()); // start() returns at once
    QCOMPARE(startAndWait(runtime), QString());
    QStringList steps;
    for (const QList<QVariant>& p : std::as_const(progress))
        steps.append(p.first().toString());
    QCOMPARE(steps.first(), QStringLiteral("Projekt wird geladen"));
    QCOMPARE(steps.at(1), QStringLiteral("Archiv wird geöffnet"));
    QCOMPARE(steps.at(2), QStringLiteral("Alarmjournal wird geöffnet"));
    QVERIFY(steps.at(3).startsWith(QStringLiteral("Verlauf der letzten 2 Stunden wird erzeugt")));
    QCOMPARE(steps.last(), QStringLiteral("Simulation wird gestartet"));
    QCOMPARE(runtime.state(), Runtime::State::Running);

    QVERIFY(runtime.tags().value(name("Unit1.WaterTank")).isGood());
    QCOMPARE(runtime.tags().value(name("Unit1.WaterTank")).timestampMs, runtime.now());
    const qint64 now = runtime.now();
    const auto history = runtime.archive().range(QStringLiteral("Fuel"), QStringLiteral("FuelTank3"), now - 2 * 3600 * 1000, now);
    QCOMPARE(history.size(), 2 * 3600);
    QCOMPARE(history.last().timeMs, now);
    QCOMPARE(runtime.dataFolder(), QDir(dir.path()).filePath(QStringLiteral("data/Kalvora")));
    runtime.stop();
    QCOMPARE(stopped.size(), 1);
}

void tst_Runtime::firstStartWritesADayOfHistoryQuickly()
{
    QTemporaryDir dir;
    copyProject(dir.path());
    Runtime runtime(testOptions(dir.path(), 24));
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(startAndWait(runtime, QStringLiteral("Kalvora"), 60000), QString());
    const qint64 elapsed = timer.elapsed();
    qInfo("24 h of history for 13 trends written in %lld ms", static_cast<long long>(elapsed));
    QVERIFY2(elapsed < 15000, "a first start should take a few seconds at most");
    const qint64 now = runtime.now();
    const auto reduced = runtime.archive().reduced(QStringLiteral("BoilerTemperaturen"), QStringLiteral("bTemperature2"), now - 86400000 + 1, now, 1000);
    QVERIFY(reduced.size() >= 1000 && reduced.size() <= 4000);
    QCOMPARE(runtime.archive().range(QStringLiteral("Wasser"), QStringLiteral("WaterTank"), now - 86400000 + 1, now).size(), 86400);
}

void tst_Runtime::startFailures_data()
{
    QTest::addColumn<QString>("project");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no such project folder") << QStringLiteral("Kalvorra") << QString() << QByteArray() << QByteArray()
                                            << QStringLiteral("projects%1Kalvorra does not exist").arg(QDir::separator());
    QTest::newRow("no project named") << QString() << QString() << QByteArray() << QByteArray() << QStringLiteral("No runtime project");
    QTest::newRow("broken alarm file") << QStringLiteral("Kalvora") << QStringLiteral("alarms.json") << QByteArray("\"limit\": 1100,")
                                       << QByteArray("\"limit\": 1100") << QStringLiteral("alarms.json, line 7, column");
}

void tst_Runtime::startFailures()
{
    QFETCH(QString, project);
    QFETCH(QString, file);
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString projects = copyProject(dir.path());
    if (!file.isEmpty())
        QVERIFY(replaceInFile(QDir(projects).filePath(QStringLiteral("Kalvora/") + file), from, to));
    Runtime runtime(testOptions(dir.path()));
    QSignalSpy stopped(&runtime, &Runtime::stopped);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Runtime start failed")));
    const QString reason = startAndWait(runtime, project);
    QVERIFY2(reason.contains(expected), qPrintable(reason));
    QCOMPARE(runtime.state(), Runtime::State::Failed);
    QCOMPARE(runtime.lastError(), reason);
    QVERIFY(stopped.isEmpty()); // the start window keeps showing the reason
    QVERIFY_THROWS_EXCEPTION(KalvoraError, runtime.advance(1));
}

void tst_Runtime::switchesActOnThePlantAtOnce()
{
    QTemporaryDir dir;
    copyProject(dir.path());
    Runtime runtime(testOptions(dir.path()));
    QCOMPARE(startAndWait(runtime), QString());
    QVERIFY(runtime.tags().value(name("Unit1.Boiler.BurnerOn")).value.toBool());
    QSignalSpy burner(&runtime.tags().tag(name("Unit1.Boiler.BurnerOn")), &Tag::changed);
    QSignalSpy other(&runtime.tags().tag(name("Unit2.Boiler.BurnerOn")), &Tag::changed);
    runtime.tags().write(name("Unit1.Boiler.SwitchOn"), QVariant(false));
    QCOMPARE(burner.size(), 1);
    QVERIFY(!runtime.tags().value(name("Unit1.Boiler.BurnerOn")).value.toBool());
    QVERIFY(other.isEmpty());

    // Switches write -1/0 as well as true/false.
    runtime.tags().write(name("Unit1.Boiler.SwitchOn"), QVariant(-1));
    QVERIFY(runtime.tags().value(name("Unit1.Boiler.BurnerOn")).value.toBool());
    runtime.tags().write(name("WaterPump"), QVariant(0));
    for (const char* unit : {"Unit1", "Unit2", "Unit3"})
        QVERIFY(!runtime.tags().value(P + QLatin1String(unit) + QStringLiteral(".WaterTank.FillOn")).value.toBool());

    const double before = runtime.tags().value(name("Unit1.Boiler.FuelTank")).value.toDouble();
    const qint64 t = runtime.now();
    runtime.advance(10);
    QCOMPARE(runtime.now(), t + 10000);
    QVERIFY(runtime.tags().value(name("Unit1.Boiler.FuelTank")).value.toDouble() < before);
    QCOMPARE(runtime.tags().value(name("Unit1.Boiler.FuelTank")).timestampMs, t + 10000);
}

void tst_Runtime::writesAreChecked_data()
{
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("unknown variable") << name("Unit4.Boiler.SwitchOn") << QVariant(true) << QStringLiteral("no such process variable");
    QTest::newRow("computed value") << name("Unit1.WaterTank.FillOn") << QVariant(true) << QStringLiteral("read-only");
    QTest::newRow("text to a switch") << name("WaterPump") << QVariant(QStringLiteral("on")) << QStringLiteral("expects on/off");
    QTest::newRow("empty value") << name("Storage.Valve.Manual") << QVariant() << QStringLiteral("an empty value");
}

void tst_Runtime::writesAreChecked()
{
    QFETCH(QString, variable);
    QFETCH(QVariant, value);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    copyProject(dir.path());
    Runtime runtime(testOptions(dir.path()));
    QCOMPARE(startAndWait(runtime), QString());
    const TagValue before = runtime.tags().value(variable);
    try {
        runtime.tags().write(variable, value);
        QFAIL("the write was accepted");
    } catch (const KalvoraError& e) {
        QVERIFY2(e.message().contains(expected) && e.message().contains(variable), qPrintable(e.message()));
    }
    QCOMPARE(runtime.tags().value(variable).value, before.value);
}

void tst_Runtime::numbersRefuseOnOff()
{
    TagStore tags(nullptr);
    tags.define({QStringLiteral("Setpoint"), TagType::Double, QStringLiteral("°C"), 0, 120, true});
    tags.define({QStringLiteral("Count"), TagType::Int, {}, 0, 10, true});
    QVERIFY_THROWS_EXCEPTION(KalvoraError, tags.write(QStringLiteral("Setpoint"), QVariant(true)));
    QVERIFY_THROWS_EXCEPTION(KalvoraError, tags.write(QStringLiteral("Count"), QVariant(true)));
    QVERIFY_THROWS_EXCEPTION(KalvoraError, tags.write(QStringLiteral("Setpoint"), QVariant(121.0)));
    tags.write(QStringLiteral("Setpoint"), QVariant(75));
    QCOMPARE(tags.value(QStringLiteral("Setpoint")).value, QVariant(75.0));
}

void tst_Runtime::alarmsComeAndGoWithThePlant()
{
    QTemporaryDir dir;
    copyProject(dir.path());
    Runtime runtime(testOptions(dir.path()));
    QCOMPARE(startAndWait(runtime), QString());
    const QString group = QStringLiteral("FCentralAlarms2");
    const QString id = QStringLiteral("WaterPump.Off");
    QSignalSpy changed(&runtime.alarms().group(group), &AlarmGroup::changed);
    runtime.tags().write(name("WaterPump"), QVariant(false));
    runtime.advance(1);
    QVERIFY(!inList(runtime, group, id)); // on-delay of 2 s
    runtime.advance(2);
    AlarmState state{};
    QVERIFY(inList(runtime, group, id, &state));
    QCOMPARE(state, AlarmState::ActiveUnacknowledged);
    QVERIFY(!changed.isEmpty());
    QCOMPARE(runtime.alarms().alarms(group).first().text, QStringLiteral("Wasserpumpe ausgeschaltet"));
    QCOMPARE(runtime.alarms().alarms(group).first().helpTopic, QStringLiteral("waterpumpoff"));
    QVERIFY(runtime.alarms().acknowledge(group) >= 1);
    QVERIFY(inList(runtime, group, id, &state));
    QCOMPARE(state, AlarmState::ActiveAcknowledged);
    QCOMPARE(runtime.alarms().alarms(group).first().acknowledgedMs, runtime.now());
    runtime.tags().write(name("WaterPump"), QVariant(true));
    runtime.advance(1);
    QVERIFY(!inList(runtime, group, id));
}

void tst_Runtime::stopKeepsEverythingAndRestartResumes()
{
    QTemporaryDir dir;
    copyProject(dir.path());
    RuntimeOptions options = testOptions(dir.path());
    qint64 lastTime = 0;
    double level = 0;
    double recordedLevel = 0;
    {
        Runtime runtime(options);
        QCOMPARE(startAndWait(runtime), QString());
        QSignalSpy recorded(&runtime.archive(), &ArchiveStore::recorded);
        runtime.advance(100);
        QCOMPARE(recorded.size(), 100);
        runtime.tags().write(name("WaterPump"), QVariant(false));
        runtime.advance(5);
        lastTime = runtime.now();
        level = runtime.simulator()->state().storageWater;
        // What the plant delivered: the level at the register's resolution.
        recordedLevel = runtime.tags().value(name("Storage.WaterTank")).value.toDouble();
        QSignalSpy stopped(&runtime, &Runtime::stopped);
        runtime.stop();
        QCOMPARE(stopped.size(), 1);
        QCOMPARE(runtime.state(), Runtime::State::Stopped);
        QCOMPARE(runtime.tags().value(name("WaterPump")).quality, TagQuality::NotDelivered);
        QVERIFY(!runtime.archive().isOpen());
    }
    options.startTimeMs = lastTime + 60000;
    Runtime again(options);
    QCOMPARE(startAndWait(again), QString());
    QCOMPARE(again.archive().range(QStringLiteral("Wasser"), QStringLiteral("WaterTank"), 0, lastTime).size(), 106);
    QCOMPARE(again.archive().range(QStringLiteral("Wasser"), QStringLiteral("WaterTank"), 0, lastTime).last().value, recordedLevel);
    // The plant carries on as the operator left it, and so does the unacknowledged alarm.
    QCOMPARE(again.tags().value(name("WaterPump")).value, QVariant(false));
    QCOMPARE(again.simulator()->state().storageWater, level);
    QVERIFY(inList(again, QStringLiteral("FCentralAlarms2"), QStringLiteral("WaterPump.Off")));
}

void tst_Runtime::faultStopsCleanly()
{
    QTemporaryDir dir;
    copyProject(dir.path());
    Runtime runtime(testOptions(dir.path()));
    QCOMPARE(startAndWait(runtime), QString());
    runtime.advance(3);
    QSignalSpy stopped(&runtime, &Runtime::stopped);
    QTest::ignoreMessage(QtCriticalMsg, "Runtime fault: sensor bus lost");
    runtime.fail(QStringLiteral("sensor bus lost"));
    QCOMPARE(stopped.size(), 1);
    QCOMPARE(runtime.lastError(), QStringLiteral("sensor bus lost"));
    QCOMPARE(runtime.state(), Runtime::State::Stopped);
    // Files are closed: another runtime takes them over at once.
    Runtime next(testOptions(dir.path()));
    QCOMPARE(startAndWait(next), QString());
    // Stopping a runtime that is not running still answers, so nobody waits for ever.
    runtime.stop();
    QCOMPARE(stopped.size(), 2);
}

void tst_Runtime::secondRuntimeOnTheSameArchiveIsTold()
{
    QTemporaryDir dir;
    copyProject(dir.path());
    Runtime first(testOptions(dir.path()));
    QCOMPARE(startAndWait(first), QString());
    Runtime second(testOptions(dir.path()));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Runtime start failed")));
    const QString reason = startAndWait(second);
    QVERIFY2(reason.contains(QStringLiteral("locked")) && reason.contains(QStringLiteral("archive.sqlite")), qPrintable(reason));
    first.advance(2); // the first one records on, undisturbed
}

/// A report script or a chart tool reads the files live, each time a consistent state, and the
/// runtime records on undisturbed by it.
void tst_Runtime::otherProgramsReadWhileRecording()
{
    QTemporaryDir dir;
    copyProject(dir.path());
    Runtime runtime(testOptions(dir.path()));
    QCOMPARE(startAndWait(runtime), QString());
    runtime.tags().write(QStringLiteral("Ch1.Kalvora.WaterPump"), true);
    runtime.advance(20);
    const QString data = QDir(dir.path()).filePath(QStringLiteral("data/Kalvora"));
    sqlite3* reader = nullptr;
    QCOMPARE(sqlite3_open_v2(QFile::encodeName(QDir(data).filePath(QStringLiteral("archive.sqlite"))).constData(), &reader, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    const auto closeReader = qScopeGuard([&] { sqlite3_close(reader); });
    const auto number = [&](const char* sql) {
        sqlite3_stmt* stmt = nullptr;
        qint64 n = -1;
        if (sqlite3_prepare_v2(reader, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
            n = sqlite3_column_int64(stmt, 0);
        else
            qWarning() << sqlite3_errmsg(reader);
        sqlite3_finalize(stmt);
        return n;
    };
    // Every recording is one transaction: each second the reader sees holds as many samples as the newest.
    const char* halfWritten = "SELECT count(*) FROM (SELECT t FROM samples GROUP BY t "
                              "HAVING count(*) <> (SELECT count(*) FROM samples WHERE t = (SELECT max(t) FROM samples)))";
    const qint64 first = number("SELECT count(*) FROM samples");
    QVERIFY(first > 0);
    QCOMPARE(number(halfWritten), 0);

    // A reader inside its own transaction keeps its snapshot while the runtime commits on.
    QCOMPARE(sqlite3_exec(reader, "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK);
    const qint64 snapshot = number("SELECT count(*) FROM samples");
    runtime.advance(20);
    QCOMPARE(number("SELECT count(*) FROM samples"), snapshot);
    QCOMPARE(sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    QVERIFY(number("SELECT count(*) FROM samples") > snapshot);
    QCOMPARE(number(halfWritten), 0);
    QCOMPARE(number("SELECT max(t) FROM samples"), runtime.now() / 1000 * 1000);
    QCOMPARE(runtime.archive().writeFault(), QString());

    // The journals too.
    sqlite3_close(reader);
    reader = nullptr;
    QCOMPARE(sqlite3_open_v2(QFile::encodeName(QDir(data).filePath(QStringLiteral("audit.sqlite"))).constData(), &reader, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    QCOMPARE(number("SELECT count(*) FROM audit"), 1);
    sqlite3_close(reader);
    reader = nullptr;
    QCOMPARE(sqlite3_open_v2(QFile::encodeName(QDir(data).filePath(QStringLiteral("alarms.sqlite"))).constData(), &reader, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    QCOMPARE(number("SELECT count(*) FROM journal"), runtime.alarms().journal().history(100000).size());
    QCOMPARE(runtime.state(), Runtime::State::Running);
}

void tst_Runtime::damagedArchiveIsMovedAsideAtStart()
{
    QTemporaryDir dir;
    copyProject(dir.path());
    const QString data = QDir(dir.path()).filePath(QStringLiteral("data/Kalvora"));
    QDir().mkpath(data);
    QFile file(QDir(data).filePath(QStringLiteral("archive.sqlite")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    Runtime runtime(testOptions(dir.path()));
    QSignalSpy progress(&runtime, &Runtime::progress);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("damaged")));
    QCOMPARE(startAndWait(runtime), QString());
    QCOMPARE(runtime.notices().size(), 1);
    bool told = false;
    for (const QList<QVariant>& p : std::as_const(progress))
        told = told || p.first().toString() == runtime.notices().first();
    QVERIFY(told);
    QCOMPARE(QDir(data).entryList({QStringLiteral("archive.sqlite.damaged-*")}).size(), 1);
    runtime.advance(1);
    QVERIFY(!runtime.archive().isEmpty());
}

void tst_Runtime::stopDuringHistoryLeavesNoHalfOfIt()
{
    QTemporaryDir dir;
    copyProject(dir.path());
    RuntimeOptions options = testOptions(dir.path(), 24);
    Runtime runtime(options);
    QSignalSpy started(&runtime, &Runtime::started);
    QSignalSpy stopped(&runtime, &Runtime::stopped);
    connect(&runtime, &Runtime::progress, this, [&](const QString& step) {
        if (step.contains(QStringLiteral("(25 %)")))
            runtime.stop();
    });
    runtime.start(QStringLiteral("Kalvora"));
    QVERIFY(QTest::qWaitFor([&] { return !stopped.isEmpty(); }, 20000));
    QTest::qWait(50);
    QVERIFY(started.isEmpty());
    QCOMPARE(runtime.state(), Runtime::State::Stopped);

    options.backfillHours = 0;
    Runtime after(options);
    QCOMPARE(startAndWait(after), QString());
    QVERIFY(after.archive().range(QStringLiteral("Fuel"), QStringLiteral("FuelTank1"), 0, after.now() - 1).isEmpty());
}

void tst_Runtime::textsFollowTheLanguage()
{
    QTemporaryDir dir;
    copyProject(dir.path());
    Runtime runtime(testOptions(dir.path()));
    QCOMPARE(startAndWait(runtime), QString());
    TextDatabase& texts = runtime.texts();
    QCOMPARE(texts.languageId(), 1031);
    QCOMPARE(texts.text(QStringLiteral("Formular-Namen"), QStringLiteral("6")), QStringLiteral("Alarme"));
    QCOMPARE(texts.text(QStringLiteral("Indextexte"), QStringLiteral("Pumpe An")), QStringLiteral("Pumpe an"));
    QSignalSpy changed(&texts, &TextDatabase::languageChanged);
    texts.setLanguageId(1033);
    texts.setLanguageId(1033);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(texts.text(QStringLiteral("Formular-Namen"), QStringLiteral("6")), QStringLiteral("Alarms"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Missing runtime text.*NoSuchKey")));
    QCOMPARE(texts.text(QStringLiteral("Indextexte"), QStringLiteral("NoSuchKey")), QStringLiteral("[Indextexte/NoSuchKey]"));
}

void tst_Runtime::speedFactorRunsThePlantFaster()
{
    QTemporaryDir dir;
    copyProject(dir.path());
    RuntimeOptions options = testOptions(dir.path());
    options.speed = 60;
    Runtime runtime(options);
    QCOMPARE(startAndWait(runtime), QString());
    const double before = runtime.simulator()->state().seconds;
    const qint64 t = runtime.now();
    runtime.advance(2);
    QCOMPARE(runtime.simulator()->state().seconds - before, 120.0);
    QCOMPARE(runtime.now() - t, 2000); // the clock and the recording keep real seconds
    QVERIFY_THROWS_EXCEPTION(KalvoraError, runtime.setSpeed(0));
}

void tst_Runtime::catalogue_data()
{
    QTest::addColumn<QString>("archive");
    QTest::addColumn<QString>("trend");
    QTest::addColumn<double>("rangeMax");
    QTest::addColumn<QString>("variable");
    QTest::newRow("storage") << "Wasser" << "WaterTank" << 60000.0 << name("Storage.WaterTank");
    QTest::newRow("unit water") << "Wasser" << "WaterTank2" << 12000.0 << name("Unit2.WaterTank");
    QTest::newRow("fuel") << "Fuel" << "FuelTank3" << 600.0 << name("Unit3.Boiler.FuelTank");
    QTest::newRow("water temperature") << "WasserTemperaturen" << "wTemperature1" << 120.0 << name("Unit1.WaterTank.Temperature");
    QTest::newRow("boiler temperature") << "BoilerTemperaturen" << "bTemperature2" << 1500.0 << name("Unit2.Boiler.Temperature");
}

void tst_Runtime::catalogue()
{
    QFETCH(QString, archive);
    QFETCH(QString, trend);
    QFETCH(double, rangeMax);
    QFETCH(QString, variable);
    QTemporaryDir dir;
    copyProject(dir.path());
    Runtime runtime(testOptions(dir.path()));
    QCOMPARE(startAndWait(runtime), QString());
    ArchiveCatalog catalog(runtime, &runtime);
    QStringList names{QStringLiteral("left over")};
    QCOMPARE(catalog.GetArchives(names), 4);
    QCOMPARE(names, (QStringList{QStringLiteral("Wasser"), QStringLiteral("Fuel"), QStringLiteral("WasserTemperaturen"), QStringLiteral("BoilerTemperaturen")}));
    QVERIFY(catalog.GetTrends(archive, names) >= 3);
    QVERIFY(names.contains(trend));
    QCOMPARE(catalog.GetTrends(archive.toLower(), names), 0);
    QVERIFY(names.isEmpty());
    ArchiveTrendInfo* info = catalog.GetTrendInfo(archive, trend);
    QCOMPARE(info->parent(), &catalog);
    QCOMPARE(info->RangeMax(), rangeMax);
    QCOMPARE(info->property("RangeMax").toDouble(), rangeMax);
    QCOMPARE(info->RangeMin(), 0.0);
    QCOMPARE(info->Variable(), variable);
    QVERIFY_THROWS_EXCEPTION(KalvoraError, catalog.GetTrendInfo(archive, trend.toUpper()));
}

QTEST_GUILESS_MAIN(tst_Runtime)
#include "tst_runtime.moc"
