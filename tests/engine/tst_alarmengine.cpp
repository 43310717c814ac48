#include "AlarmEngine.h"
#include "ArchiveBackendRows.h"
#include "TagStore.h"
#include "TextDatabase.h"

#include <QDir>
#include <algorithm>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

namespace {

const QString G1 = QStringLiteral("FCentralAlarms1");
const QString G2 = QStringLiteral("FCentralAlarms2");

AlarmDefinition limitAlarm(const QString& id, const QString& group, const QString& variable, AlarmCondition condition, double limit,
    double deadband, qint64 delayMs = 0)
{
    AlarmDefinition a;
    a.id = id;
    a.group = group;
    a.variable = variable;
    a.condition = condition;
    a.limit = limit;
    a.deadband = deadband;
    a.delayMs = delayMs;
    a.textKey = id;
    a.helpTopic = QStringLiteral("topic") + id;
    return a;
}

QString code(AlarmState state)
{
    switch (state) {
    case AlarmState::Normal: return QStringLiteral("N");
    case AlarmState::ActiveUnacknowledged: return QStringLiteral("AU");
    case AlarmState::ActiveAcknowledged: return QStringLiteral("AA");
    case AlarmState::ReturnedUnacknowledged: return QStringLiteral("RU");
    }
    return {};
}

/// A small plant of alarms on the variables X (number) and S (on/off), with a settable clock.
struct Fixture {
    TagStore tags{nullptr};
    TextDatabase texts{nullptr};
    AlarmEngine engine{tags, texts, nullptr};
    qint64 clock = 0;

    explicit Fixture(const QList<AlarmDefinition>& alarms)
    {
        tags.define({QStringLiteral("X"), TagType::Double, {}, -1000, 1000, false});
        tags.define({QStringLiteral("S"), TagType::Bool, {}, 0, 0, true});
        engine.setClock([this] { return clock; });
        for (const AlarmDefinition& a : alarms)
            texts.insert(TextDatabase::German, a.textGroup, a.textKey, a.id);
        engine.setDefinitions({{G1, 1}, {G2, 2}}, alarms);
    }
    void set(const QString& tag, const QVariant& value, qint64 seconds)
    {
        clock = seconds * 1000;
        tags.publish(tag, value, TagQuality::Good, clock);
        engine.evaluate(clock);
    }
};

} // namespace

class tst_AlarmEngine : public QObject {
    Q_OBJECT

private slots:
    void transitions_data();
    void transitions();
    void newestFirstAndOnlyTheGroupHears();
    void textFollowsLanguage();
    void acknowledgeOneOrAll();
    void unknownValueKeepsState();
    void journalBringsBackUnfinishedAlarms_data() { backendRows(); }
    void journalBringsBackUnfinishedAlarms();
    void shelving_data();
    void shelving();
    void shelvingIsJournalledAndSurvivesARestart_data() { backendRows(); }
    void shelvingIsJournalledAndSurvivesARestart();
    void journalOfTheVersionBeforeShelvingOpens();
};

void tst_AlarmEngine::transitions_data()
{
    QTest::addColumn<int>("condition");
    QTest::addColumn<double>("limit");
    QTest::addColumn<double>("deadband");
    QTest::addColumn<int>("delaySeconds");
    QTest::addColumn<QString>("script");   // seconds:value or seconds:ack, separated by ';'
    QTest::addColumn<QString>("expected"); // the state after each step

    const int above = int(AlarmCondition::Above);
    const int below = int(AlarmCondition::Below);
    const int off = int(AlarmCondition::Off);
    QTest::newRow("comes, goes, then acknowledged") << above << 100.0 << 10.0 << 0 << "0:50;1:101;2:95;3:89;4:ack" << "N AU AU RU N";
    QTest::newRow("acknowledged while active, then goes") << above << 100.0 << 10.0 << 0 << "0:101;1:ack;2:80" << "AU AA N";
    QTest::newRow("deadband: no chatter around the limit") << above << 100.0 << 10.0 << 0 << "0:101;1:99;2:101;3:98;4:91;5:89" << "AU AU AU AU AU RU";
    QTest::newRow("on-delay filters a short spike") << above << 100.0 << 10.0 << 5 << "0:101;3:101;4:50;6:101;10:101;11:101" << "N N N N N AU";
    QTest::newRow("comes again before acknowledgement") << above << 100.0 << 10.0 << 0 << "0:101;1:80;2:101;3:ack" << "AU RU AU AA";
    QTest::newRow("low limit with deadband") << below << 10.0 << 5.0 << 0 << "0:20;1:9;2:14;3:16" << "N AU AU RU";
    QTest::newRow("acknowledging a normal alarm does nothing") << above << 100.0 << 10.0 << 0 << "0:50;1:ack;2:101" << "N N AU";
    QTest::newRow("switched off") << off << 0.0 << 0.0 << 0 << "0:1;1:0;2:ack;3:1" << "N AU AA N";
}

void tst_AlarmEngine::transitions()
{
    QFETCH(int, condition);
    QFETCH(double, limit);
    QFETCH(double, deadband);
    QFETCH(int, delaySeconds);
    QFETCH(QString, script);
    QFETCH(QString, expected);
    const auto cond = AlarmCondition(condition);
    const bool onOff = cond == AlarmCondition::On || cond == AlarmCondition::Off;
    const QString variable = onOff ? QStringLiteral("S") : QStringLiteral("X");
    Fixture f({limitAlarm(QStringLiteral("A"), G1, variable, cond, limit, deadband, delaySeconds * 1000LL)});
    QStringList states;
    for (const QString& step : script.split(QLatin1Char(';'))) {
        const qint64 seconds = step.section(QLatin1Char(':'), 0, 0).toLongLong();
        const QString what = step.section(QLatin1Char(':'), 1);
        if (what == QStringLiteral("ack")) {
            f.clock = seconds * 1000;
            f.engine.acknowledge(G1);
        } else {
            f.set(variable, onOff ? QVariant(what.toInt() != 0) : QVariant(what.toDouble()), seconds);
        }
        states.append(code(f.engine.alarm(QStringLiteral("A")).state));
    }
    QCOMPARE(states.join(QLatin1Char(' ')), expected);
}

void tst_AlarmEngine::newestFirstAndOnlyTheGroupHears()
{
    Fixture f({limitAlarm(QStringLiteral("A1"), G1, QStringLiteral("X"), AlarmCondition::Above, 10, 1),
        limitAlarm(QStringLiteral("A2"), G1, QStringLiteral("X"), AlarmCondition::Above, 20, 1),
        limitAlarm(QStringLiteral("B1"), G2, QStringLiteral("X"), AlarmCondition::Above, 30, 1)});
    QSignalSpy g1(&f.engine.group(G1), &AlarmGroup::changed);
    QSignalSpy g2(&f.engine.group(G2), &AlarmGroup::changed);
    f.set(QStringLiteral("X"), 15.0, 1);
    QCOMPARE(g1.size(), 1);
    QCOMPARE(g2.size(), 0);
    f.set(QStringLiteral("X"), 25.0, 2);
    f.set(QStringLiteral("X"), 35.0, 3);
    QCOMPARE(g2.size(), 1);
    const QList<AlarmInfo> list = f.engine.group(G1).alarms();
    QCOMPARE(list.size(), 2);
    QCOMPARE(list.at(0).id, QStringLiteral("A2"));
    QCOMPARE(list.at(0).cameMs, 2000);
    QCOMPARE(list.at(0).priority, 1);
    QCOMPARE(list.at(0).helpTopic, QStringLiteral("topicA2"));
    QCOMPARE(list.at(1).id, QStringLiteral("A1"));
    QCOMPARE(f.engine.alarms(G2).at(0).priority, 2);
    // A group the project lacks exists for a control bound to it, and stays empty.
    QVERIFY(!f.engine.group(QStringLiteral("NoSuchGroup")).isDefined());
    QVERIFY(f.engine.group(QStringLiteral("NoSuchGroup")).alarms().isEmpty());
    QCOMPARE(f.engine.groupNames(), (QStringList{G1, G2}));
}

void tst_AlarmEngine::textFollowsLanguage()
{
    Fixture f({limitAlarm(QStringLiteral("A1"), G1, QStringLiteral("X"), AlarmCondition::Above, 10, 1)});
    f.texts.clear();
    f.texts.insert(1031, QStringLiteral("Indextexte"), QStringLiteral("A1"), QStringLiteral("Kessel zu heiß"));
    f.texts.insert(1033, QStringLiteral("Indextexte"), QStringLiteral("A1"), QStringLiteral("Boiler too hot"));
    f.set(QStringLiteral("X"), 11.0, 1);
    QCOMPARE(f.engine.alarms(G1).at(0).text, QStringLiteral("Kessel zu heiß"));
    QSignalSpy spy(&f.engine.group(G1), &AlarmGroup::changed);
    f.texts.setLanguageId(TextDatabase::English);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(f.engine.alarms(G1).at(0).text, QStringLiteral("Boiler too hot"));
}

void tst_AlarmEngine::acknowledgeOneOrAll()
{
    Fixture f({limitAlarm(QStringLiteral("A1"), G1, QStringLiteral("X"), AlarmCondition::Above, 10, 1),
        limitAlarm(QStringLiteral("A2"), G1, QStringLiteral("X"), AlarmCondition::Above, 20, 1),
        limitAlarm(QStringLiteral("B1"), G2, QStringLiteral("X"), AlarmCondition::Above, 5, 1)});
    f.set(QStringLiteral("X"), 25.0, 1);
    f.clock = 7000;
    QVERIFY(f.engine.acknowledgeAlarm(QStringLiteral("A2")));
    QVERIFY(!f.engine.acknowledgeAlarm(QStringLiteral("A2")));
    QVERIFY(!f.engine.acknowledgeAlarm(QStringLiteral("nope")));
    QCOMPARE(f.engine.alarm(QStringLiteral("A2")).acknowledgedMs, 7000);
    QCOMPARE(f.engine.alarm(QStringLiteral("A1")).state, AlarmState::ActiveUnacknowledged);
    QCOMPARE(f.engine.acknowledge(G1), 1);
    QCOMPARE(f.engine.alarm(QStringLiteral("A1")).state, AlarmState::ActiveAcknowledged);
    // Acknowledging one list leaves the other alone.
    QCOMPARE(f.engine.alarm(QStringLiteral("B1")).state, AlarmState::ActiveUnacknowledged);
}

void tst_AlarmEngine::unknownValueKeepsState()
{
    Fixture f({limitAlarm(QStringLiteral("A1"), G1, QStringLiteral("X"), AlarmCondition::Above, 10, 1)});
    f.set(QStringLiteral("X"), 11.0, 1);
    f.tags.publish(QStringLiteral("X"), 0.0, TagQuality::Bad, 2000);
    f.engine.evaluate(2000);
    QCOMPARE(f.engine.alarm(QStringLiteral("A1")).state, AlarmState::ActiveUnacknowledged);
}

void tst_AlarmEngine::journalBringsBackUnfinishedAlarms()
{
    QTemporaryDir dir;
    QFETCH(QString, backend);
    JournalOn journal{backend, QDir(dir.path()).filePath(QStringLiteral("alarms.sqlite")), {}};
    const QList<AlarmDefinition> alarms{limitAlarm(QStringLiteral("A1"), G1, QStringLiteral("X"), AlarmCondition::Above, 10, 1),
        limitAlarm(QStringLiteral("A2"), G1, QStringLiteral("S"), AlarmCondition::On, 0, 0),
        limitAlarm(QStringLiteral("A3"), G2, QStringLiteral("X"), AlarmCondition::Above, 100, 1)};
    {
        Fixture f(alarms);
        QCOMPARE(journal.open(f.engine), QString());
        f.set(QStringLiteral("X"), 200.0, 1);  // A1, A3 come
        f.set(QStringLiteral("S"), true, 2);   // A2 comes
        f.clock = 3000;
        f.engine.acknowledge(G2);              // A3 acknowledged
        f.engine.acknowledgeAlarm(QStringLiteral("A1"));
        f.set(QStringLiteral("S"), false, 4);  // A2 returns unacknowledged
        f.set(QStringLiteral("X"), 50.0, 5);   // A3 goes: acknowledged and gone, back to normal
        f.engine.closeJournal();
    }
    Fixture g(alarms);
    QSignalSpy spy(&g.engine, &AlarmEngine::changed);
    QCOMPARE(journal.open(g.engine), QString());
    QVERIFY(!spy.isEmpty());
    const AlarmInfo a1 = g.engine.alarm(QStringLiteral("A1"));
    QCOMPARE(a1.state, AlarmState::ActiveAcknowledged);
    QCOMPARE(a1.cameMs, 1000);
    QCOMPARE(a1.acknowledgedMs, 3000);
    QCOMPARE(a1.acknowledgedBy, g.engine.operatorName());  // the acknowledgement was its last event
    const AlarmInfo a2 = g.engine.alarm(QStringLiteral("A2"));
    QCOMPARE(a2.state, AlarmState::ReturnedUnacknowledged);
    QCOMPARE(a2.cameMs, 2000);
    QCOMPARE(a2.wentMs, 4000);
    QCOMPARE(g.engine.alarm(QStringLiteral("A3")).state, AlarmState::Normal);
    QVERIFY(g.engine.alarms(G2).isEmpty());

    const QList<AlarmJournalEntry> history = g.engine.journal().history(100);
    QStringList events;
    for (const AlarmJournalEntry& e : history)
        events.append(e.alarm + QLatin1Char(' ') + e.event);
    QCOMPARE(events, (QStringList{QStringLiteral("A3 went"), QStringLiteral("A2 went"), QStringLiteral("A1 acknowledged"),
                         QStringLiteral("A3 acknowledged"), QStringLiteral("A2 came"), QStringLiteral("A3 came"), QStringLiteral("A1 came")}));
    // Pages and counts of one group, and of one alarm in it, newest first.
    const AlarmJournalFilter group{QString(), G1};
    QCOMPARE(g.engine.journal().count(group), 4);
    const QList<AlarmJournalEntry> first = g.engine.journal().page(group, 0, 3);
    QCOMPARE(first.size(), 3);
    const QList<AlarmJournalEntry> second = g.engine.journal().page(group, first.last().id, 3);
    QCOMPARE(second.size(), 1);
    QCOMPARE(second.last().alarm + second.last().event, QStringLiteral("A1came"));
    QCOMPARE(g.engine.journal().count({QStringLiteral("A2"), G1, 2000, 3999}), 1);
    // Trimming old history keeps each alarm's newest entry, which a restart needs.
    QCOMPARE(g.engine.journal().removeOlderThan(10000, 100), 4);
    QCOMPARE(g.engine.journal().lastEntries().size(), 3);
}

void tst_AlarmEngine::shelving_data()
{
    QTest::addColumn<QString>("script");   // seconds:what, ';' between: X=value, shelveN (minutes), unshelve, ack (the group), ackA, tick
    QTest::addColumn<QString>("expected"); // A's state after each step, "s" while shelved
    QTest::newRow("returns when the time is up, not before") << "0:X=150;1:shelve15;900:tick;901:tick" << "AU AUs AUs AU";
    QTest::newRow("the operator brings it back") << "0:X=150;1:shelve15;10:unshelve;11:unshelve" << "AU AUs AU AU";
    QTest::newRow("goes and comes while shelved") << "0:X=150;1:shelve60;2:X=50;3:X=150;4:X=50" << "AU AUs RUs AUs RUs";
    QTest::newRow("acknowledging the list passes it by") << "0:X=150;1:shelve15;2:ack;3:unshelve" << "AU AUs AUs AU";
    QTest::newRow("gone and acknowledged meanwhile: not back") << "0:X=150;1:shelve15;2:X=50;3:ackA;4:unshelve" << "AU AUs RUs Ns N";
    QTest::newRow("shelved anew: the time starts again") << "0:X=150;1:shelve15;600:shelve15;1000:tick;1501:tick" << "AU AUs AUs AUs AU";
    QTest::newRow("longer than a shift, or no time: refused") << "0:X=150;1:shelve481;2:shelve0;3:shelve480" << "AU AU AU AUs";
    QTest::newRow("shelved while quiet, comes while shelved") << "0:X=50;1:shelve15;2:X=150;901:tick" << "N Ns AUs AU";
}

void tst_AlarmEngine::shelving()
{
    QFETCH(QString, script);
    QFETCH(QString, expected);
    const QString a = QStringLiteral("A");
    Fixture f({limitAlarm(a, G1, QStringLiteral("X"), AlarmCondition::Above, 100, 10),
        limitAlarm(QStringLiteral("B"), G1, QStringLiteral("X"), AlarmCondition::Above, 100, 10)});
    QStringList states;
    for (const QString& step : script.split(QLatin1Char(';'))) {
        const qint64 seconds = step.section(QLatin1Char(':'), 0, 0).toLongLong();
        const QString what = step.section(QLatin1Char(':'), 1);
        f.clock = seconds * 1000;
        if (what.startsWith(QStringLiteral("X=")))
            f.set(QStringLiteral("X"), what.mid(2).toDouble(), seconds);
        else if (what.startsWith(QStringLiteral("shelve")))
            f.engine.shelve(a, what.mid(6).toLongLong() * 60000);
        else if (what == QStringLiteral("unshelve"))
            f.engine.unshelve(a);
        else if (what == QStringLiteral("ack"))
            f.engine.acknowledge(G1);
        else if (what == QStringLiteral("ackA"))
            f.engine.acknowledgeAlarm(a);
        else
            f.engine.evaluate(f.clock);
        const AlarmInfo info = f.engine.alarm(a);
        states.append(code(info.state) + (info.isShelved() ? QStringLiteral("s") : QString()));
        // Listed exactly when not normal and not shelved; counted among the shelved exactly when shelved.
        const auto has = [&a](const QList<AlarmInfo>& list) {
            return std::any_of(list.cbegin(), list.cend(), [&a](const AlarmInfo& i) { return i.id == a; });
        };
        QCOMPARE(has(f.engine.alarms(G1)), info.state != AlarmState::Normal && !info.isShelved());
        QCOMPARE(has(f.engine.shelvedAlarms(G1)), info.isShelved());
    }
    QCOMPARE(states.join(QLatin1Char(' ')), expected);
    // B shares the variable and is never shelved: it is acknowledged by the list as usual.
    QVERIFY(!f.engine.alarm(QStringLiteral("B")).isShelved());
}

void tst_AlarmEngine::shelvingIsJournalledAndSurvivesARestart()
{
    QTemporaryDir dir;
    QFETCH(QString, backend);
    JournalOn journal{backend, QDir(dir.path()).filePath(QStringLiteral("alarms.sqlite")), {}};
    const QList<AlarmDefinition> alarms{limitAlarm(QStringLiteral("A1"), G1, QStringLiteral("X"), AlarmCondition::Above, 10, 1),
        limitAlarm(QStringLiteral("A2"), G1, QStringLiteral("S"), AlarmCondition::On, 0, 0)};
    {
        Fixture f(alarms);
        QCOMPARE(journal.open(f.engine), QString());
        f.engine.setOperator(QStringLiteral("desk2/ben"));
        f.set(QStringLiteral("X"), 20.0, 1);
        f.clock = 2000;
        QVERIFY(f.engine.shelve(QStringLiteral("A1"), 60000));
        f.set(QStringLiteral("X"), 5.0, 3);   // went while shelved
        f.clock = 4000;
        QVERIFY(f.engine.unshelve(QStringLiteral("A1")));
        QVERIFY(!f.engine.unshelve(QStringLiteral("A1")));
        f.clock = 5000;
        QVERIFY(f.engine.shelve(QStringLiteral("A1"), 60000));
        f.engine.evaluate(65000);              // time up
        f.clock = 66000;
        QVERIFY(f.engine.shelve(QStringLiteral("A1"), 60000));  // until 126 s, across the restart
        QVERIFY(f.engine.shelve(QStringLiteral("A2"), 10000));  // until 76 s, runs out while down
        f.engine.closeJournal();
    }
    Fixture g(alarms);
    QCOMPARE(journal.open(g.engine), QString());
    QStringList events;
    const QList<AlarmJournalEntry> history = g.engine.journal().history(100);
    for (auto it = history.crbegin(); it != history.crend(); ++it)
        events.append(QStringLiteral("%1 %2 %3 %4 %5").arg(it->alarm, it->event, code(it->state), it->station).arg(it->shelvedUntilMs / 1000));
    QCOMPARE(events, (QStringList{QStringLiteral("A1 came AU  0"), QStringLiteral("A1 shelved AU desk2/ben 62"),
                         QStringLiteral("A1 went RU  62"), QStringLiteral("A1 unshelved RU desk2/ben 0"),
                         QStringLiteral("A1 shelved RU desk2/ben 65"), QStringLiteral("A1 shelve-expired RU  0"),
                         QStringLiteral("A1 shelved RU desk2/ben 126"), QStringLiteral("A2 shelved N desk2/ben 76")}));
    QCOMPARE(g.engine.alarm(QStringLiteral("A1")).shelvedUntilMs, 126000);
    QVERIFY(g.engine.alarms(G1).isEmpty());
    QCOMPARE(g.engine.shelvedAlarms(G1).size(), 2);
    g.engine.evaluate(100000);
    QVERIFY(!g.engine.alarm(QStringLiteral("A2")).isShelved());
    QVERIFY(g.engine.alarm(QStringLiteral("A1")).isShelved());
    QCOMPARE(g.engine.journal().history(1).first().event, QStringLiteral("shelve-expired"));
    QCOMPARE(g.engine.alarm(QStringLiteral("A1")).shelvedBy, QStringLiteral("desk2/ben"));
    // A command from another station names it instead of this runtime's operator.
    QVERIFY(g.engine.shelve(QStringLiteral("A2"), 1000, QStringLiteral("B/eve")));
    QCOMPARE(g.engine.alarm(QStringLiteral("A2")).shelvedBy, QStringLiteral("B/eve"));
    QCOMPARE(g.engine.journal().history(1).first().station, QStringLiteral("B/eve"));
    QVERIFY(g.engine.unshelve(QStringLiteral("A2"), QStringLiteral("B/eve")));
    QVERIFY(g.engine.alarm(QStringLiteral("A2")).shelvedBy.isEmpty());
}

void tst_AlarmEngine::journalOfTheVersionBeforeShelvingOpens()
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("alarms.sqlite"));
    {
        // The journal as the release before shelving wrote it: schema 2, one alarm waiting.
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
        const char* sql =
            "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;"
            "INSERT INTO meta VALUES('schema_version', '2');"
            "CREATE TABLE journal(id INTEGER PRIMARY KEY, time INTEGER NOT NULL, alarm TEXT NOT NULL, alarm_group TEXT NOT NULL, "
            "event TEXT NOT NULL, state TEXT NOT NULL, came INTEGER NOT NULL, went INTEGER NOT NULL, acknowledged INTEGER NOT NULL, "
            "value REAL, station TEXT);"
            "CREATE INDEX journal_alarm ON journal(alarm, id); CREATE INDEX journal_time ON journal(time);"
            "CREATE INDEX journal_group ON journal(alarm_group, id);"
            "INSERT INTO journal(time, alarm, alarm_group, event, state, came, went, acknowledged, value, station) "
            "VALUES(1000, 'A1', 'FCentralAlarms1', 'came', 'active', 1000, 0, 0, 20, NULL);";
        QCOMPARE(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    Fixture f({limitAlarm(QStringLiteral("A1"), G1, QStringLiteral("X"), AlarmCondition::Above, 10, 1)});
    QCOMPARE(f.engine.openJournal(path), QString());
    QCOMPARE(f.engine.alarm(QStringLiteral("A1")).state, AlarmState::ActiveUnacknowledged);
    QVERIFY(!f.engine.alarm(QStringLiteral("A1")).isShelved());
    f.clock = 2000;
    QVERIFY(f.engine.shelve(QStringLiteral("A1"), 60000));
    const QList<AlarmJournalEntry> history = f.engine.journal().history(10);
    QCOMPARE(history.size(), 2);
    QCOMPARE(history.at(0).shelvedUntilMs, 62000);
    QCOMPARE(history.at(1).shelvedUntilMs, 0);
}

QTEST_GUILESS_MAIN(tst_AlarmEngine)
#include "tst_alarmengine.moc"
