#include "AlarmEngine.h"
#include "AlarmHistoryDialog.h"
#include "AlarmHistoryModel.h"
#include "BlinkClock.h"
#include "EngineTestSupport.h"
#include "QMSAlarmLine.h"
#include "QMSAlarmList.h"
#include "TagStore.h"
#include "TextDatabase.h"

#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString G2 = QStringLiteral("FCentralAlarms2");
const QString G1 = QStringLiteral("FCentralAlarms1");

QString stateCode(AlarmState state)
{
    switch (state) {
    case AlarmState::Normal: return QStringLiteral("N");
    case AlarmState::ActiveUnacknowledged: return QStringLiteral("AU");
    case AlarmState::ActiveAcknowledged: return QStringLiteral("AA");
    case AlarmState::ReturnedUnacknowledged: return QStringLiteral("RU");
    }
    return {};
}
} // namespace

/// The alarm list on a real runtime: the project's alarms, driven by publishing their variables and
/// evaluating at chosen times, so nothing else moves.
class TestAlarmList final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Runtime> m_runtime;
    qint64 m_start = 0;
    qint64 m_now = 0;

    AlarmEngine& engine() { return m_runtime->alarms(); }

    /// Publishes and evaluates long enough for every on-delay to pass.
    void set(const char* tag, const QVariant& value, int second)
    {
        m_runtime->tags().publish(QStringLiteral("Ch1.Kalvora.") + QString::fromLatin1(tag), value);
        engine().evaluate(m_start + second * 1000LL);
        m_now = m_start + second * 1000LL + 10000; // the longest on-delay of the project
        engine().evaluate(m_now);
    }

    /// Runs a script of steps separated by ";": "tag=value@second", "ack" (acknowledge the list).
    void run(QMSAlarmList& list, const QString& script)
    {
        for (const QString& step : script.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            if (step == QLatin1String("ack")) {
                list.Acknowledge();
                continue;
            }
            const QStringList parts = step.split(QRegularExpression(QStringLiteral("[=@]")));
            QCOMPARE(parts.size(), 3);
            const QVariant value = parts.at(1) == QLatin1String("off") ? QVariant(false)
                : parts.at(1) == QLatin1String("on")                   ? QVariant(true)
                                                                       : QVariant(parts.at(1).toDouble());
            set(parts.at(0).toLatin1().constData(), value, parts.at(2).toInt());
        }
    }

    /// Triggers the menu entry named `name` (its object name), as the operator's click does.
    static void choose(std::unique_ptr<QMenu> menu, const QString& name)
    {
        QAction* action = menu->findChild<QAction*>(name);
        QVERIFY2(action, qPrintable(name));
        action->trigger();
    }

    /// Journal entries of WaterPump.Off every 10 s from a whole minute two hours ago on, 5 s into each
    /// minute: six to a minute. The value counts them; the station needs quoting in CSV.
    qint64 fillJournal(int entries)
    {
        const qint64 base = (m_runtime->now() - 2 * 3600 * 1000LL) / 60000 * 60000 + 5000;
        QList<AlarmJournalEntry> rows;
        for (int i = 0; i < entries; ++i)
            rows.append({base + i * 10000LL, QStringLiteral("WaterPump.Off"), G2, i % 2 ? QStringLiteral("went") : QStringLiteral("came"),
                         i % 2 ? AlarmState::ReturnedUnacknowledged : AlarmState::ActiveUnacknowledged, base, 0, 0, double(i),
                         i % 3 ? QString() : QStringLiteral("desk \"7\", hall/anna")});
        engine().journal().append(rows);
        return base;
    }

    static QString shown(const QMSAlarmList& list)
    {
        QStringList rows;
        for (const AlarmInfo& a : list.alarms())
            rows.append(a.id + QLatin1Char(':') + stateCode(a.state));
        return rows.join(QLatin1Char(' '));
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        copyProject(m_dir->path());
        m_runtime = std::make_unique<Runtime>(testOptions(m_dir->path()));
        QCOMPARE(startAndWait(*m_runtime), QString());
        m_start = m_runtime->now();
        engine().setClock([this] { return m_now; });
        // A plant at rest: every alarm of the project quiet.
        set("WaterPump", true, 0);
        set("Storage.WaterTank", 20000.0, 0);
        for (const char* unit : {"Unit1", "Unit2", "Unit3"}) {
            const QByteArray u(unit);
            set((u + ".Boiler.FuelTank").constData(), 100.0, 0);
            set((u + ".WaterTank").constData(), 3000.0, 0);
            set((u + ".Boiler.Temperature").constData(), 20.0, 0);
        }
        // Whatever the start raised has gone; out of the way with it.
        engine().acknowledge(G1);
        engine().acknowledge(G2);
        QVERIFY(engine().alarms(G1).isEmpty());
        QVERIFY(engine().alarms(G2).isEmpty());
        m_start += 60000;
    }

    void cleanup()
    {
        m_runtime->stop();
        m_runtime.reset();
        m_dir.reset();
    }

    void ordersAndMarksStates_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        QTest::newRow("newest first") << "WaterPump=off@0;Storage.WaterTank=9000@20;Unit2.Boiler.FuelTank=50@40"
                                      << "Unit2.FuelLow:AU Storage.Low:AU WaterPump.Off:AU";
        QTest::newRow("acknowledged stays in place") << "WaterPump=off@0;Storage.WaterTank=9000@20;ack"
                                                     << "Storage.Low:AA WaterPump.Off:AA";
        QTest::newRow("gone, unacknowledged, stays") << "WaterPump=off@0;Storage.WaterTank=9000@20;WaterPump=on@30"
                                                     << "Storage.Low:AU WaterPump.Off:RU";
        QTest::newRow("gone and acknowledged leaves") << "WaterPump=off@0;Storage.WaterTank=9000@20;WaterPump=on@30;ack"
                                                      << "Storage.Low:AA";
        QTest::newRow("acknowledged, then gone, leaves") << "WaterPump=off@0;ack;WaterPump=on@30" << "";
        QTest::newRow("a new occurrence moves to the top")
            << "WaterPump=off@0;Storage.WaterTank=9000@20;WaterPump=on@30;WaterPump=off@50"
            << "WaterPump.Off:AU Storage.Low:AU";
        QTest::newRow("the other group's alarms stay out") << "Storage.WaterTank=1000@0" << "Storage.Low:AU";
    }

    void ordersAndMarksStates()
    {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        QMSAlarmList list(*m_runtime, nullptr);
        list.setAlarmGroup(G2);
        run(list, script);
        QCOMPARE(shown(list), expected);
        // Built alarm by alarm, the list must agree with a list read afresh.
        QMSAlarmList fresh(*m_runtime, nullptr);
        fresh.setAlarmGroup(G2);
        QCOMPARE(shown(fresh), expected);
    }

    void acknowledgeIsJournalledWithTheOperator()
    {
        QMSAlarmList list(*m_runtime, nullptr);
        list.setAlarmGroup(G2);
        QMSAlarmList other(*m_runtime, nullptr);
        other.setAlarmGroup(G1);
        engine().setOperator(QStringLiteral("station7/anna"));
        run(list, QStringLiteral("WaterPump=off@0;Storage.WaterTank=1000@10"));
        QCOMPARE(list.Acknowledge(), 2);
        QCOMPARE(shown(other), QStringLiteral("Storage.Empty:AU"));
        QCOMPARE(list.Acknowledge(), 0);
        const QList<AlarmJournalEntry> acks = engine().journal().page({QString(), G2, 0, std::numeric_limits<qint64>::max()}, 0, 10);
        QStringList seen;
        for (const AlarmJournalEntry& e : acks)
            if (e.event == QLatin1String("acknowledged"))
                seen.append(e.alarm + QLatin1Char('/') + e.station);
        seen.sort();
        QCOMPARE(seen, QStringList({QStringLiteral("Storage.Low/station7/anna"), QStringLiteral("WaterPump.Off/station7/anna")}));
        for (const AlarmJournalEntry& e : acks)
            if (e.event != QLatin1String("acknowledged"))
                QVERIFY(e.station.isEmpty());
    }

    void keysPickLines_data()
    {
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("picks");
        QTest::newRow("down from nothing picks the top") << QList<int>{Qt::Key_Down} << 0 << 1;
        QTest::newRow("down twice") << QList<int>{Qt::Key_Down, Qt::Key_Down} << 1 << 2;
        QTest::newRow("up at the top picks nothing anew") << QList<int>{Qt::Key_Home, Qt::Key_Up} << 0 << 1;
        QTest::newRow("end") << QList<int>{Qt::Key_End} << 6 << 1;
        QTest::newRow("down at the end stays") << QList<int>{Qt::Key_End, Qt::Key_Down} << 6 << 1;
        QTest::newRow("page down stops at the end") << QList<int>{Qt::Key_Home, Qt::Key_PageDown, Qt::Key_PageDown} << 6 << 3;
        QTest::newRow("page up from the end") << QList<int>{Qt::Key_End, Qt::Key_PageUp} << 3 << 2;
    }

    void keysPickLines()
    {
        QFETCH(QList<int>, keys);
        QFETCH(int, row);
        QFETCH(int, picks);
        QMSAlarmList list(*m_runtime, nullptr);
        list.setAlarmGroup(G2);
        // Seven alarms, in a list three lines high.
        run(list, QStringLiteral("WaterPump=off@0;Storage.WaterTank=9000@10;Unit1.Boiler.FuelTank=50@20;Unit2.Boiler.FuelTank=50@30;"
                                 "Unit3.Boiler.FuelTank=50@40;Unit1.WaterTank=1000@50;Unit2.WaterTank=1000@60"));
        QCOMPARE(list.alarms().size(), 7);
        list.resize(504, 3 * (list.fontMetrics().height() + 4) + 2);
        QSignalSpy picked(&list, &QMSAlarmList::AlarmSelected);
        for (int key : keys)
            QTest::keyClick(&list, static_cast<Qt::Key>(key));
        QCOMPARE(list.currentRow(), row);
        QCOMPARE(picked.size(), picks);
        QCOMPARE(picked.last().at(1).toString(), list.alarms().at(row).id);
    }

    void pickCarriesTheFrame()
    {
        QMSAlarmList list(*m_runtime, nullptr);
        list.setAlarmGroup(G2);
        list.resize(504, 244);
        run(list, QStringLiteral("Storage.WaterTank=9000@0;WaterPump=off@20;WaterPump=on@40"));
        QSignalSpy picked(&list, &QMSAlarmList::AlarmSelected);
        const int lineHeight = list.fontMetrics().height() + 4;
        QTest::mouseClick(&list, Qt::LeftButton, {}, QPoint(200, 1 + lineHeight / 2));
        QCOMPARE(picked.size(), 1);
        const QList<QVariant> frame = picked.first();
        const AlarmInfo pump = engine().alarm(QStringLiteral("WaterPump.Off"));
        QVERIFY(pump.number > 0);
        QCOMPARE(frame.at(0).toInt(), pump.number);
        QCOMPARE(frame.at(1).toString(), QStringLiteral("WaterPump.Off"));
        QCOMPARE(frame.at(2).toString(), QStringLiteral("Wasserpumpe ausgeschaltet"));
        QCOMPARE(frame.at(4).toString(), QStringLiteral("waterpumpoff"));
        QCOMPARE(frame.at(5).toInt(), 2);
        const QByteArray values = frame.at(3).toByteArray();
        QCOMPARE(values.size(), 32);
        const QMSAlarmList::FrameValues v = QMSAlarmList::decodeFrameValues(values);
        QCOMPARE(v.cameMs, m_start + 30000);
        QCOMPARE(v.wentMs, m_start + 40000);
        QCOMPARE(v.acknowledgedMs, 0);
        QCOMPARE(v.state, 3);        // gone, waiting for acknowledgement
        QCOMPARE(v.value, 1.0F);     // the pump was back on
        // A click below the last line picks nothing.
        QTest::mouseClick(&list, Qt::LeftButton, {}, QPoint(200, 200));
        QCOMPARE(picked.size(), 1);
    }

    void selectionFollowsItsAlarm()
    {
        QMSAlarmList list(*m_runtime, nullptr);
        list.setAlarmGroup(G2);
        run(list, QStringLiteral("WaterPump=off@0"));
        list.pick(0);
        run(list, QStringLiteral("Storage.WaterTank=9000@10"));
        QCOMPARE(list.currentRow(), 1);
        run(list, QStringLiteral("ack;WaterPump=on@20"));
        QCOMPARE(list.currentRow(), -1);
        QCOMPARE(shown(list), QStringLiteral("Storage.Low:AA"));
    }

    void textsFollowTheLanguage()
    {
        QMSAlarmList list(*m_runtime, nullptr);
        list.setAlarmGroup(G2);
        QCOMPARE(list.emptyText(), QStringLiteral("Keine Alarme"));
        run(list, QStringLiteral("WaterPump=off@0"));
        m_runtime->texts().setLanguageId(TextDatabase::English);
        QCOMPARE(list.alarms().first().text, QStringLiteral("Water pump switched off"));
        QCOMPARE(list.cellText(u'X', list.alarms().first()), QStringLiteral("Water pump switched off"));
        QCOMPARE(list.emptyText(), QStringLiteral("No alarms"));
        const QStringList details = list.details(list.alarms().first()).split(QLatin1Char('\n'));
        QCOMPARE(details.at(0), QStringLiteral("Alarm %1 (WaterPump.Off)").arg(list.alarms().first().number, 4, 10, QLatin1Char('0')));
        QVERIFY2(details.at(2).startsWith(QStringLiteral("Came: ")) && !details.at(2).endsWith(QStringLiteral("—")), qPrintable(details.at(2)));
        QCOMPARE(details.at(3), QStringLiteral("Went: —"));
        QCOMPARE(details.at(4), QStringLiteral("Acknowledged: —"));
    }

    void columnsUseTheStoredFormats()
    {
        QMSAlarmList list(*m_runtime, nullptr);
        list.setAlarmGroup(G2);
        list.setDateFormat(QStringLiteral("%02D.%02O.%04C"));
        list.setTimeFormat(QStringLiteral("%02T:%02I:%02S"));
        run(list, QStringLiteral("WaterPump=off@0"));
        const QDateTime came = QDateTime::fromMSecsSinceEpoch(list.alarms().first().cameMs);
        QCOMPARE(list.cellText(u'T', list.alarms().first()), came.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")));
        QCOMPARE(list.cellText(u'D', list.alarms().first()), came.toString(QStringLiteral("dd.MM.yyyy")));
    }

    void oneBlinkClockWhileSomethingWaits()
    {
        BlinkClock& clock = BlinkClock::of(*m_runtime);
        QMSAlarmList left(*m_runtime, nullptr);
        left.setAlarmGroup(G1);
        QMSAlarmList right(*m_runtime, nullptr);
        right.setAlarmGroup(G2);
        QMSAlarmLine line(*m_runtime, nullptr);
        line.setBlinkUnacknowledged(true);
        line.setAlarmGroup(G2);
        QVERIFY(!clock.isRunning());
        run(right, QStringLiteral("WaterPump=off@0;Storage.WaterTank=1000@10"));
        QCOMPARE(clock.subscribers(), 3);
        QVERIFY(clock.isRunning());
        // Another runtime keeps a rhythm of its own.
        Runtime other;
        QVERIFY(&BlinkClock::of(other) != &clock);
        QVERIFY(!BlinkClock::of(other).isRunning());
        QVERIFY(QTest::qWaitFor([&] { return !clock.isOn(); }, 2000));
        QVERIFY(!right.isFlashing(0));
        QVERIFY(QTest::qWaitFor([&] { return clock.isOn(); }, 2000));
        QVERIFY(right.isFlashing(0));
        right.Acknowledge();
        QCOMPARE(clock.subscribers(), 1);
        QVERIFY(!right.isFlashing(0));
        left.Acknowledge();
        QVERIFY(!clock.isRunning());
    }

    void journalPages_data()
    {
        QTest::addColumn<QString>("alarm");
        QTest::addColumn<QString>("group");
        QTest::addColumn<int>("fromSecond");
        QTest::addColumn<int>("count");
        // Per round: the pump came, was acknowledged, went; storage low the same; storage empty came,
        // went, was acknowledged.
        QTest::newRow("everything") << "" << "" << 0 << 18;
        QTest::newRow("one group") << "" << G2 << 0 << 12;
        QTest::newRow("one alarm") << "WaterPump.Off" << "" << 0 << 6;
        QTest::newRow("from a time on") << "" << "" << 95 << 9;
        QTest::newRow("alarm and wrong group") << "WaterPump.Off" << G1 << 0 << 0;
    }

    void journalPages()
    {
        QFETCH(QString, alarm);
        QFETCH(QString, group);
        QFETCH(int, fromSecond);
        QFETCH(int, count);
        QMSAlarmList list(*m_runtime, nullptr);
        list.setAlarmGroup(G2);
        const AlarmJournal& journal = engine().journal();
        // Two rounds of: pump off, storage low and empty, acknowledged, all back, the rest acknowledged.
        for (int round = 0; round < 2; ++round) {
            const int t = round * 100;
            run(list, QStringLiteral("WaterPump=off@%1;Storage.WaterTank=1000@%2;ack;WaterPump=on@%3;Storage.WaterTank=20000@%3")
                          .arg(t).arg(t + 10).arg(t + 20));
            engine().acknowledge(G1);
        }
        const AlarmJournalFilter filter{alarm, group, m_start + fromSecond * 1000LL, std::numeric_limits<qint64>::max()};
        QCOMPARE(journal.count(filter), count);
        // Paged in threes: newest first, no entry twice, none left out.
        QList<AlarmJournalEntry> all;
        qint64 beforeId = 0;
        for (;;) {
            const QList<AlarmJournalEntry> page = journal.page(filter, beforeId, 3);
            if (page.isEmpty())
                break;
            all += page;
            beforeId = page.last().id;
        }
        QCOMPARE(all.size(), journal.count(filter));
        for (qsizetype i = 1; i < all.size(); ++i) {
            QVERIFY(all.at(i).id < all.at(i - 1).id);
            QVERIFY(all.at(i).timeMs <= all.at(i - 1).timeMs);
        }
        for (const AlarmJournalEntry& e : all) {
            QVERIFY(alarm.isEmpty() || e.alarm == alarm);
            QVERIFY(group.isEmpty() || e.group == group);
            QVERIFY(e.timeMs >= filter.fromMs);
        }
    }

    void shelvedAlarmsLeaveTheListAndComeBack()
    {
        QMSAlarmList list(*m_runtime, nullptr);
        list.setAlarmGroup(G2);
        list.resize(504, 244);
        engine().setOperator(QStringLiteral("station7/anna"));
        run(list, QStringLiteral("WaterPump=off@0;Storage.WaterTank=9000@20"));
        QCOMPARE(shown(list), QStringLiteral("Storage.Low:AU WaterPump.Off:AU"));
        choose(list.alarmMenu(1), QStringLiteral("shelve15"));
        QCOMPARE(shown(list), QStringLiteral("Storage.Low:AU"));
        QCOMPARE(list.shelvedCount(), 1);
        QCOMPARE(list.shelvedText(), QStringLiteral("1 zurückgestellt"));
        m_runtime->texts().setLanguageId(TextDatabase::English);
        QCOMPARE(list.shelvedText(), QStringLiteral("1 shelved"));
        // Acknowledging the list leaves the shelved alarm waiting; a fresh list agrees with the live one.
        QCOMPARE(list.Acknowledge(), 1);
        run(list, QStringLiteral("WaterPump=on@40"));
        QMSAlarmList fresh(*m_runtime, nullptr);
        fresh.setAlarmGroup(G2);
        QCOMPARE(shown(fresh), QStringLiteral("Storage.Low:AA"));
        QCOMPARE(fresh.shelvedCount(), 1);
        // The operator brings it back from the "shelved" line's menu: gone, still unacknowledged.
        choose(list.shelvedMenu(), QStringLiteral("unshelve:WaterPump.Off"));
        QCOMPARE(shown(list), QStringLiteral("Storage.Low:AA WaterPump.Off:RU"));
        QCOMPARE(list.shelvedCount(), 0);
        // Shelved for an hour, back by itself when the hour is up.
        choose(list.alarmMenu(1), QStringLiteral("shelve60"));
        QCOMPARE(list.shelvedCount(), 1);
        engine().evaluate(m_now + 3600 * 1000LL - 1);
        QCOMPARE(list.shelvedCount(), 1);
        engine().evaluate(m_now + 3600 * 1000LL);
        QCOMPARE(shown(list), QStringLiteral("Storage.Low:AA WaterPump.Off:RU"));
        QStringList events;
        for (const AlarmJournalEntry& e : engine().journal().page({QStringLiteral("WaterPump.Off"), G2}, 0, 4))
            events.prepend(e.event + QLatin1Char('/') + e.station);
        QCOMPARE(events, (QStringList{QStringLiteral("went/"), QStringLiteral("unshelved/station7/anna"), QStringLiteral("shelved/station7/anna"),
                                      QStringLiteral("shelve-expired/")}));
    }

    void theShelvedLineTakesTheBottomLine()
    {
        QMSAlarmList list(*m_runtime, nullptr);
        list.setAlarmGroup(G2);
        const int line = list.fontMetrics().height() + 4;
        list.resize(504, 3 * line + 2);
        run(list, QStringLiteral("WaterPump=off@0;Storage.WaterTank=9000@10;Unit1.Boiler.FuelTank=50@20;Unit2.Boiler.FuelTank=50@30"));
        engine().shelve(QStringLiteral("WaterPump.Off"), 60000);
        // Three lines high: two alarm lines and the count; a click on the count picks no alarm.
        QSignalSpy picked(&list, &QMSAlarmList::AlarmSelected);
        QTest::mouseClick(&list, Qt::LeftButton, {}, QPoint(200, 1 + line + line / 2));
        QCOMPARE(picked.size(), 1);
        QTest::keyClick(&list, Qt::Key_PageDown);
        QCOMPARE(list.currentRow(), 2);
        engine().unshelve(QStringLiteral("WaterPump.Off"));
        QCOMPARE(list.shelvedCount(), 0);
    }

    void historyPagesNewestFirst_data()
    {
        QTest::addColumn<bool>("wholeList");
        QTest::newRow("one alarm") << false;
        QTest::newRow("the whole list") << true;
    }

    void historyPagesNewestFirst()
    {
        QFETCH(bool, wholeList);
        QMSAlarmList list(*m_runtime, nullptr);
        list.setAlarmGroup(G2);
        run(list, QStringLiteral("WaterPump=off@0;Storage.WaterTank=9000@10"));
        fillJournal(450);
        QCOMPARE(list.alarms().at(1).id, QStringLiteral("WaterPump.Off"));
        // F2 opens the picked alarm's history, or the list's when nothing is picked.
        if (!wholeList)
            list.pick(1);
        QTest::keyClick(&list, Qt::Key_F2);
        auto* dialog = list.findChild<AlarmHistoryDialog*>();
        QVERIFY(dialog);
        AlarmHistoryModel& model = dialog->model();
        QCOMPARE(model.filter().alarm, wholeList ? QString() : QStringLiteral("WaterPump.Off"));
        QCOMPARE(model.filter().group, G2);
        QCOMPARE(model.rowCount(), AlarmHistoryModel::PageSize);
        const qint64 total = engine().journal().count(model.filter());
        QCOMPARE(model.totalCount(), total);
        QVERIFY(total > 450);
        // Scrolling to the end reads the next pages until the journal is exhausted.
        while (model.canFetchMore({})) {
            const int before = model.rowCount();
            dialog->table().scrollToBottom();
            QCoreApplication::processEvents();
            if (model.rowCount() == before)
                model.fetchMore({});
        }
        QCOMPARE(model.rowCount(), total);
        QList<int> ours;
        for (qsizetype i = 0; i < model.entries().size(); ++i) {
            const AlarmJournalEntry& e = model.entries().at(i);
            QVERIFY(i == 0 || e.id < model.entries().at(i - 1).id);
            QVERIFY(wholeList || e.alarm == QLatin1String("WaterPump.Off"));
            if (e.timeMs < m_runtime->now() - 30 * 60 * 1000LL) // ours: they end 45 minutes ago
                ours.append(static_cast<int>(e.value));
        }
        QCOMPARE(ours.size(), 450);
        QCOMPARE(ours.first(), 449);
        QCOMPARE(ours.last(), 0);
        QCOMPARE(model.index(0, AlarmHistoryModel::AlarmColumn).data().toString().contains(QStringLiteral("Alarm 00")), true);
        QVERIFY(dialog->statusText().startsWith(QStringLiteral("%1 von %2").arg(total).arg(total)));

        // What is journalled while it is open comes in at the top, nothing lost or doubled.
        const qint64 shownNewest = model.entries().first().id;
        run(list, QStringLiteral("WaterPump=on@0"));
        QTRY_COMPARE(model.rowCount(), total + 1);
        QCOMPARE(model.totalCount(), total + 1);
        QVERIFY(model.entries().first().id > shownNewest);
        QCOMPARE(model.entries().first().alarm, QStringLiteral("WaterPump.Off"));
        QCOMPARE(model.entries().at(1).id, shownNewest);
        dialog->close();
    }

    void historyKeepsToTheTimeSpan_data()
    {
        QTest::addColumn<int>("fromMinute");
        QTest::addColumn<int>("untilMinute");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("newest");
        QTest::newRow("one minute, both ends whole") << 0 << 0 << 6 << 5;
        QTest::newRow("ten minutes") << 10 << 19 << 60 << 119;
        QTest::newRow("past the last entry") << 74 << 90 << 6 << 449;
        QTest::newRow("before the first") << -30 << -1 << 0 << -1;
    }

    void historyKeepsToTheTimeSpan()
    {
        QFETCH(int, fromMinute);
        QFETCH(int, untilMinute);
        QFETCH(int, count);
        QFETCH(int, newest);
        QMSAlarmList list(*m_runtime, nullptr);
        list.setAlarmGroup(G2);
        const qint64 base = fillJournal(450) - 5000;
        std::unique_ptr<AlarmHistoryDialog> dialog(list.showHistory(QStringLiteral("WaterPump.Off")));
        dialog->setAttribute(Qt::WA_DeleteOnClose, false);
        dialog->setSpan(AlarmHistoryDialog::Span::Custom, base + fromMinute * 60000LL, base + untilMinute * 60000LL);
        QCOMPARE(dialog->model().totalCount(), count);
        QCOMPARE(dialog->model().rowCount(), count);
        QCOMPARE(dialog->model().entries().isEmpty() ? -1 : int(dialog->model().entries().first().value), newest);
        dialog->setSpan(AlarmHistoryDialog::Span::Everything);
        QVERIFY(dialog->model().totalCount() >= 450);
    }

    void csvFieldsAreQuoted_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("field");
        QTest::newRow("plain") << "Wasserpumpe ausgeschaltet" << "Wasserpumpe ausgeschaltet";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("comma") << "a,b" << "\"a,b\"";
        QTest::newRow("quote") << "say \"hi\"" << "\"say \"\"hi\"\"\"";
        QTest::newRow("line break") << "one\ntwo" << "\"one\ntwo\"";
        QTest::newRow("carriage return") << "one\rtwo" << "\"one\rtwo\"";
    }

    void csvFieldsAreQuoted()
    {
        QFETCH(QString, text);
        QFETCH(QString, field);
        QCOMPARE(AlarmHistoryModel::csvField(text), field);
    }

    void historyExportsCsv()
    {
        QMSAlarmList list(*m_runtime, nullptr);
        list.setAlarmGroup(G2);
        const qint64 base = fillJournal(450) - 5000;
        std::unique_ptr<AlarmHistoryDialog> dialog(list.showHistory(QStringLiteral("WaterPump.Off")));
        dialog->setAttribute(Qt::WA_DeleteOnClose, false);
        dialog->setSpan(AlarmHistoryDialog::Span::Custom, base, base + 60000LL);
        const QString path = m_dir->filePath(QStringLiteral("history.csv"));
        const auto exportTo = [&dialog](const QString& target) {
            QString result = QStringLiteral("never answered");
            dialog->exportTo(target, [&result](const QString& error) { result = error; });
            return result;
        };
        QCOMPARE(exportTo(path), QString());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 1 + 12 + 1); // header, two minutes of entries, the empty rest after the last CRLF
        QCOMPARE(lines.first(), QStringLiteral("time,alarm,text,event,state,value,station,shelved_until"));
        QCOMPARE(lines.last(), QString());
        // Newest first: entry 11 went, entry 9 came with the station that needs quoting.
        QCOMPARE(lines.at(1).section(QLatin1Char(','), 1), QStringLiteral("WaterPump.Off,Wasserpumpe ausgeschaltet,went,returned,11,,"));
        QCOMPARE(lines.at(3).section(QLatin1Char(','), 1),
                 QStringLiteral("WaterPump.Off,Wasserpumpe ausgeschaltet,went,returned,9,\"desk \"\"7\"\", hall/anna\","));
        const QDateTime time = QDateTime::fromString(lines.at(1).section(QLatin1Char(','), 0, 0), Qt::ISODateWithMs);
        QCOMPARE(time.toMSecsSinceEpoch(), base + 5000 + 11 * 10000LL);
        // A file that cannot be written says which, and leaves nothing half written behind.
        const QString bad = m_dir->filePath(QStringLiteral("no/such/folder/history.csv"));
        const QString error = exportTo(bad);
        QVERIFY2(error.startsWith(QStringLiteral("Der Verlauf konnte nicht gespeichert werden: ")) && error.contains(bad), qPrintable(error));
        QVERIFY(!QFile::exists(bad));
    }
};

QTEST_MAIN(TestAlarmList)
#include "tst_AlarmList.moc"
