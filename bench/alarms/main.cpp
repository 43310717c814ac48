// The alarm screen under load, on the simulated station with its plant held still:
//  - opening the alarm screen with 500 standing alarms: bar press to the screen painted;
//  - an alarm flood of 1,000 alarms raised within one second while the screen is shown: the longest
//    stall of the event loop, the time until both lists hold every alarm, and the journal rows after;
//  - the alarm history on a journal of 100,000 more rows: F2 to the first page painted, for one alarm
//    and for the whole list, and exporting the whole list's history to CSV.
//
//   bench_alarms [runs]   (default 10 openings)

#include "AlarmEngine.h"
#include "AlarmHistoryDialog.h"
#include "AlarmHistoryModel.h"
#include "BenchStation.h"
#include "QMButton.h"
#include "QMSAlarmList.h"
#include "QMSKey.h"
#include "TagStore.h"
#include "Window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int standing = 500;
constexpr int flood = 1000;
constexpr int batches = 20; // one batch every 50 ms: the flood spreads over a second

QString floodTag(int n)
{
    return QStringLiteral("Bench.Flood%1").arg(n);
}

class PaintWatch final : public QObject {
public:
    bool armed = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            armed = false;
        return false;
    }
};

void fail(const char* why)
{
    std::fprintf(stderr, "bench_alarms: %s\n", why);
    std::exit(1);
}

} // namespace

int main(int argc, char** argv)
{
    BenchStation::useHeadlessDisplay();
    QApplication app(argc, argv);
    const int runs = argc >= 2 ? std::max(1, std::atoi(argv[1])) : 10;
    BenchStation station(false);
    if (!station.startUp())
        fail("the station did not come up");
    Runtime& runtime = station.runtime();
    Shell& shell = station.shell();
    AlarmEngine& engine = runtime.alarms();

    // The project's alarms plus ours, half in each group, each on a switch of its own without delay.
    QList<AlarmDefinition> definitions = runtime.project().alarms;
    for (int n = 0; n < standing + flood; ++n) {
        runtime.tags().define({floodTag(n), TagType::Bool, {}, 0, 0, true});
        runtime.tags().publish(floodTag(n), false);
        AlarmDefinition a;
        a.id = QStringLiteral("Bench.Alarm%1").arg(n);
        a.group = n % 2 ? QStringLiteral("FCentralAlarms2") : QStringLiteral("FCentralAlarms1");
        a.variable = floodTag(n);
        a.condition = AlarmCondition::On;
        a.textKey = QStringLiteral("AlarmWasserpumpeAus");
        a.helpTopic = QStringLiteral("waterpumpoff");
        definitions.append(a);
    }
    engine.setDefinitions(runtime.project().alarmGroups, definitions);
    qint64 clock = runtime.now();
    for (int n = 0; n < standing; ++n)
        runtime.tags().publish(floodTag(n), true);
    engine.evaluate(clock += 1000);
    const qsizetype standingNow = engine.alarms(QStringLiteral("FCentralAlarms1")).size() + engine.alarms(QStringLiteral("FCentralAlarms2")).size();

    Window& overview = shell.window(QStringLiteral("FCentral"));
    Window& alarms = shell.window(QStringLiteral("FAlarms"));
    PaintWatch watch;
    std::vector<double> openings;
    for (int run = 0; run < runs; ++run) {
        QObject::connect(&shell.windows(), &WindowManager::windowEvent, &watch,
                         [&alarms, &watch](Window* w, WindowManager::Event e) {
                             if (w == &alarms && e == WindowManager::Event::Loaded)
                                 alarms.widget().installEventFilter(&watch);
                         },
                         Qt::SingleShotConnection);
        watch.armed = true;
        QElapsedTimer pressed;
        pressed.start();
        overview.control<QMButton>(QStringLiteral("QMButton1")).key(5).click();
        if (!QTest::qWaitFor([&] { return !watch.armed; }, 5000))
            fail("the alarm screen never painted");
        openings.push_back(static_cast<double>(pressed.nsecsElapsed()) / 1.0e6);
        QTest::qWait(30);
        if (run + 1 < runs) {
            alarms.control<QMButton>(QStringLiteral("QMButton1")).key(4).click();
            if (!QTest::qWaitFor([&] { return !alarms.isLoaded(); }, 5000))
                fail("could not leave the alarm screen");
            QTest::qWait(30);
        }
    }
    std::printf("opening the alarm screen with %lld standing alarms, %d runs (offscreen)\n", static_cast<long long>(standingNow), runs);
    std::printf("  press to painted: p50 %.1f ms, p95 %.1f ms\n", percentile(openings, 50), percentile(openings, 95));

    // The flood, with the screen in front; a 5 ms heartbeat shows how long the loop was held.
    auto& left = alarms.control<QMSAlarmList>(QStringLiteral("QMAlarmList1"));
    auto& right = alarms.control<QMSAlarmList>(QStringLiteral("QMAlarmList2"));
    const qint64 floodStart = clock + 1;
    const qint64 journalBefore = engine.journal().count({QString(), QString(), floodStart, std::numeric_limits<qint64>::max()});
    QElapsedTimer elapsed;
    elapsed.start();
    qint64 lastBeat = 0;
    qint64 longestGap = 0;
    QTimer heartbeat;
    heartbeat.setInterval(5);
    QObject::connect(&heartbeat, &QTimer::timeout, &app, [&] {
        const qint64 now = elapsed.nsecsElapsed();
        longestGap = std::max(longestGap, now - lastBeat);
        lastBeat = now;
    });
    int next = standing;
    QTimer raiser;
    raiser.setInterval(1000 / batches);
    QObject::connect(&raiser, &QTimer::timeout, &app, [&] {
        for (int i = 0; i < flood / batches; ++i)
            runtime.tags().publish(floodTag(next++), true);
        engine.evaluate(clock += 1000 / batches);
        if (next >= standing + flood)
            raiser.stop();
    });
    const qsizetype expected = standingNow + flood;
    lastBeat = elapsed.nsecsElapsed();
    heartbeat.start();
    raiser.start();
    if (!QTest::qWaitFor([&] { return left.alarms().size() + right.alarms().size() == expected; }, 10000))
        fail("the lists never held the whole flood");
    const double complete = static_cast<double>(elapsed.nsecsElapsed()) / 1.0e6;
    QTest::qWait(200); // let the last paints through the heartbeat
    heartbeat.stop();
    const qint64 journalRows = engine.journal().count({QString(), QString(), floodStart, std::numeric_limits<qint64>::max()}) - journalBefore;
    std::printf("alarm flood: %d alarms in %d batches over 1 s, alarm screen shown\n", flood, batches);
    std::printf("  longest event-loop stall: %.1f ms (goal <= 50 ms)\n", static_cast<double>(longestGap) / 1.0e6 - 5.0);
    std::printf("  lists complete after: %.1f ms (%lld lines)\n", complete, static_cast<long long>(expected));
    std::printf("  journal rows written: %lld of %d\n", static_cast<long long>(journalRows), flood);

    // The history: 100,000 rows more, every tenth of them the water pump's, in one transaction.
    constexpr int historyRows = 100000;
    const QString pump = QStringLiteral("WaterPump.Off");
    QList<AlarmJournalEntry> rows;
    rows.reserve(historyRows);
    const qint64 historyStart = clock - historyRows * 1000LL;
    for (int n = 0; n < historyRows; ++n) {
        const bool ours = n % 10 == 0;
        rows.append({historyStart + n * 1000LL, ours ? pump : QStringLiteral("Bench.Alarm%1").arg(2 * (n % 750) + 1), QStringLiteral("FCentralAlarms2"),
                     n % 2 ? QStringLiteral("went") : QStringLiteral("came"), n % 2 ? AlarmState::ReturnedUnacknowledged : AlarmState::ActiveUnacknowledged,
                     historyStart, 0, 0, double(n), n % 3 ? QString() : QStringLiteral("desk1/operator")});
    }
    engine.journal().append(rows);
    const qint64 journalTotal = engine.journal().count({});
    // F2 on the list: the picked alarm's history, or the list's with nothing picked.
    const auto openHistory = [&right, runs](const QString& id) {
        std::vector<double> times;
        for (int run = 0; run < runs; ++run) {
            PaintWatch painted;
            painted.armed = true;
            QElapsedTimer pressed;
            pressed.start();
            AlarmHistoryDialog* dialog = right.showHistory(id);
            dialog->table().viewport()->installEventFilter(&painted);
            if (!QTest::qWaitFor([&] { return !painted.armed; }, 5000))
                fail("the history never painted");
            times.push_back(static_cast<double>(pressed.nsecsElapsed()) / 1.0e6);
            dialog->table().viewport()->removeEventFilter(&painted);
            dialog->close();
            QTest::qWait(20);
        }
        return times;
    };
    const std::vector<double> onePump = openHistory(pump);
    const std::vector<double> wholeList = openHistory(QString());
    // An alarm that hardly ever came: its few rows lie behind all the others.
    const std::vector<double> rare = openHistory(QStringLiteral("Storage.High"));
    std::printf("alarm history on a journal of %lld rows (%d added, a tenth of them one alarm's), %d runs\n",
                static_cast<long long>(journalTotal), historyRows, runs);
    std::printf("  one alarm: open to first page painted: p50 %.1f ms, p95 %.1f ms (goal < 200 ms)\n", percentile(onePump, 50), percentile(onePump, 95));
    std::printf("  whole list: open to first page painted: p50 %.1f ms, p95 %.1f ms (goal < 200 ms)\n", percentile(wholeList, 50), percentile(wholeList, 95));
    std::printf("  an alarm with hardly any rows: p50 %.1f ms, p95 %.1f ms (goal < 200 ms)\n", percentile(rare, 50), percentile(rare, 95));
    {
        AlarmHistoryDialog* dialog = right.showHistory(QString());
        QTemporaryDir scratch;
        QElapsedTimer exporting;
        exporting.start();
        QString error = QStringLiteral("no answer");
        dialog->exportTo(scratch.filePath(QStringLiteral("history.csv")), [&error](const QString& e) { error = e; });
        // The station's own journal answers at once.
        const double exportMs = static_cast<double>(exporting.nsecsElapsed()) / 1.0e6;
        if (!error.isEmpty())
            fail(qPrintable(error));
        std::printf("  whole list exported to CSV: %lld rows in %.0f ms\n", static_cast<long long>(dialog->model().totalCount()), exportMs);
        dialog->close();
    }
    return journalRows == flood ? 0 : 1;
}
