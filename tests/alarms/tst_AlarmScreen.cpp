#include "AlarmEngine.h"
#include "FAlarms.h"
#include "FileKinds.h"
#include "QMSAlarmList.h"
#include "QMSKey.h"
#include "QMSSwitch.h"
#include "RtfReader.h"
#include "Runtime.h"
#include "StationFixture.h"
#include "TagStore.h"
#include "TextDatabase.h"
#include "Window.h"

#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>

namespace {
const QString alarms = QStringLiteral("FAlarms");
const QString folder()
{
    return FAlarms::helpFolder();
}

/// What the pane should show for a file: what the reader makes of it, or nothing when it cannot.
struct Expected {
    bool loads = false;
    QString text;
};
Expected readWithTheReader(const QString& file)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return {};
    QTextDocument document;
    const bool ok = RtfReader::read(in.readAll(), document).ok;
    return {ok, ok ? document.toPlainText() : QString()};
}
} // namespace

/// The alarm screen in the whole station: its help pane, keys and focus. Which file the pane was
/// asked to show is checked by name; what it then shows is compared with the reader's own result for
/// that file, so these tests hold whatever the reader makes of our help texts.
class TestAlarmScreen final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<StationFixture> m_station;

    FAlarms& screen() { return static_cast<FAlarms&>(m_station->window(alarms)); }
    QTextBrowser& pane() { return screen().control<QTextBrowser>(QStringLiteral("RTB")); }
    QMSAlarmList& list(int n) { return screen().control<QMSAlarmList>(QStringLiteral("QMAlarmList%1").arg(n)); }
    Runtime& runtime() { return m_station->runtime(); }

    void goToAlarms()
    {
        m_station->pressAndWait(QStringLiteral("FCentral"), 6);
        QVERIFY(screen().isVisible());
    }

    /// The list raises its event as a pick of an alarm with that help topic does.
    void pickTopic(int listNumber, const QString& topic)
    {
        Q_EMIT list(listNumber).AlarmSelected(1, QStringLiteral("Some.Alarm"), QStringLiteral("some text"), QByteArray(32, '\0'), topic, 2);
    }

    /// The pane shows the file named, as the reader reads it, or `before` if it cannot.
    void verifyPane(const QString& file, const QString& before)
    {
        QCOMPARE(screen().lastHelpFile(), file);
        const Expected expected = readWithTheReader(file);
        QCOMPARE(screen().lastHelpLoaded(), expected.loads);
        QCOMPARE(pane().toPlainText(), expected.loads ? expected.text : before);
    }

    /// Both groups with an alarm waiting: the pump off (warnings), the storage tank empty (faults).
    void raiseInBothGroups()
    {
        runtime().tags().publish(QStringLiteral("Ch1.Kalvora.WaterPump"), false);
        runtime().tags().publish(QStringLiteral("Ch1.Kalvora.Storage.WaterTank"), 1000.0);
        const qint64 now = runtime().now();
        runtime().alarms().evaluate(now);
        runtime().alarms().evaluate(now + 10000);
    }

private Q_SLOTS:
    void init()
    {
        m_station = std::make_unique<StationFixture>();
        QVERIFY(m_station->startUp());
    }

    void cleanup()
    {
        QVERIFY2(m_station->reportedErrors().isEmpty(), qPrintable(m_station->reportedErrors().join(QLatin1Char('\n'))));
        m_station.reset();
    }

    void startTextPerLanguage_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("file");
        QTest::newRow("German") << 1031 << "startde.rtf";
        QTest::newRow("English") << 1033 << "starteng.rtf";
        QTest::newRow("another language loads nothing") << 1040 << "";
    }

    void startTextPerLanguage()
    {
        QFETCH(int, language);
        QFETCH(QString, file);
        runtime().texts().setLanguageId(language);
        goToAlarms();
        QCOMPARE(screen().Textout(), folder() + QStringLiteral("/start"));
        if (file.isEmpty()) {
            QCOMPARE(screen().lastHelpFile(), QString());
            QCOMPARE(pane().toPlainText(), QString());
        } else {
            verifyPane(folder() + QLatin1Char('/') + file, QString());
        }
        QCOMPARE(m_station->shell().CurrentScreen(), &screen());
    }

    void pickShowsTheAlarmsHelp_data()
    {
        QTest::addColumn<int>("listNumber");
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("left, German") << 1 << 1031 << "de.rtf";
        QTest::newRow("right, German") << 2 << 1031 << "de.rtf";
        QTest::newRow("right, English") << 2 << 1033 << "eng.rtf";
    }

    void pickShowsTheAlarmsHelp()
    {
        QFETCH(int, listNumber);
        QFETCH(int, language);
        QFETCH(QString, suffix);
        runtime().texts().setLanguageId(language);
        goToAlarms();
        const QString before = pane().toPlainText();
        pickTopic(listNumber, QStringLiteral("waterpumpoff"));
        QCOMPARE(screen().Textout(), folder() + QStringLiteral("/waterpumpoff"));
        verifyPane(screen().Textout() + suffix, before);
    }

    void pickWithAnotherLanguageDoesNothing()
    {
        goToAlarms();
        runtime().texts().setLanguageId(1040);
        pickTopic(1, QStringLiteral("waterpumpoff"));
        QCOMPARE(screen().Textout(), folder() + QStringLiteral("/start"));
        QCOMPARE(screen().lastHelpFile(), folder() + QStringLiteral("/startde.rtf"));
    }

    void switchOnTheAlarmScreenReloads()
    {
        goToAlarms();
        pickTopic(2, QStringLiteral("fuellow"));
        m_station->pressAndWait(alarms, 2);
        QCOMPARE(screen().Textout(), folder() + QStringLiteral("/fuellow"));
        verifyPane(folder() + QStringLiteral("/fuelloweng.rtf"), pane().toPlainText());
        // The same language again does not reload.
        pane().setPlainText(QStringLiteral("marker"));
        m_station->pressAndWait(alarms, 2);
        QCOMPARE(pane().toPlainText(), QStringLiteral("marker"));
    }

    void switchElsewhereLeavesThePaneButTheNextLoadFollows()
    {
        goToAlarms();
        pickTopic(1, QStringLiteral("fuelempty"));
        m_station->pressAndWait(alarms, 7); // to the trends; the alarm screen unloads
        QVERIFY(!screen().isLoaded());
        m_station->pressAndWait(QStringLiteral("FTrends"), 2);
        // The switch loaded the alarm screen hidden, and its load read the new language.
        QVERIFY(screen().isLoaded());
        QCOMPARE(screen().lastHelpFile(), folder() + QStringLiteral("/starteng.rtf"));
    }

    void missingFileKeepsTheText()
    {
        goToAlarms();
        pane().setPlainText(QStringLiteral("marker"));
        pickTopic(1, QStringLiteral("nosuchtopic"));
        QCOMPARE(screen().Textout(), folder() + QStringLiteral("/nosuchtopic"));
        QVERIFY(!screen().lastHelpLoaded());
        QCOMPARE(pane().toPlainText(), QStringLiteral("marker"));
        m_station->pressAndWait(alarms, 2);
        QCOMPARE(screen().lastHelpFile(), folder() + QStringLiteral("/nosuchtopiceng.rtf"));
        QCOMPARE(pane().toPlainText(), QStringLiteral("marker"));
        QVERIFY(m_station->reportedErrors().isEmpty());
    }

    void helpFileNotRegularKeepsTheText_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("FIFO") << "fifo" << "not a regular file but a FIFO";
        QTest::newRow("link to /dev/zero") << "link to /dev/zero" << "not a regular file but a character device";
        QTest::newRow("oversized") << "oversized:16777217" << "the file is 16777217 bytes, more than the 16777216 bytes";
    }

    void helpFileNotRegularKeepsTheText()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        runtime().texts().setLanguageId(1031);
        goToAlarms();
        pane().setPlainText(QStringLiteral("marker"));
        const QString file = folder() + QStringLiteral("/strangefilede.rtf");
        QVERIFY(replaceWithKind(file, kind));
        const auto removeIt = qScopeGuard([&] { QFile::remove(file); });
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("help text not read: .*strangefilede\\.rtf: ") + reason));
        {
            const ReadWatchdog watchdog(file);
            pickTopic(1, QStringLiteral("strangefile"));
        }
        QCOMPARE(screen().lastHelpFile(), file);
        QVERIFY(!screen().lastHelpLoaded());
        QCOMPARE(pane().toPlainText(), QStringLiteral("marker"));
        QVERIFY(m_station->reportedErrors().isEmpty());
    }

    void emptyTopic()
    {
        goToAlarms();
        pickTopic(2, QString());
        QCOMPARE(screen().Textout(), folder() + QLatin1Char('/'));
        QCOMPARE(screen().lastHelpFile(), folder() + QStringLiteral("/de.rtf"));
        m_station->pressAndWait(alarms, 2);
        QCOMPARE(screen().lastHelpFile(), folder() + QStringLiteral("/eng.rtf"));
    }

    void topicsReachingOutsideLoadNothing_data()
    {
        QTest::addColumn<QString>("topic");
        QTest::newRow("parent folder") << "../startde.rtf#";
        QTest::newRow("dots alone") << "..";
        QTest::newRow("sub folder") << "sub/start";
        QTest::newRow("backslash") << "..\\start";
        QTest::newRow("absolute") << "/etc/passwd";
        QTest::newRow("drive") << "C:start";
        QTest::newRow("control character") << "start\n";
        QTest::newRow("NUL") << QStringLiteral("start") + QChar(u'\0');
        QTest::newRow("wide control character") << QStringLiteral("start") + QChar(0x85);
    }

    void topicsReachingOutsideLoadNothing()
    {
        QFETCH(QString, topic);
        goToAlarms();
        pane().setPlainText(QStringLiteral("marker"));
        // Logged once per refused load, and only then.
        const QRegularExpression refused(QStringLiteral("help text refused"));
        QTest::ignoreMessage(QtWarningMsg, refused);
        QTest::failOnWarning(refused);
        pickTopic(1, topic);
        QCOMPARE(screen().Textout(), folder() + QLatin1Char('/') + topic);
        QVERIFY(!screen().lastHelpLoaded());
        QCOMPARE(pane().toPlainText(), QStringLiteral("marker"));
        QVERIFY(m_station->reportedErrors().isEmpty());
    }

    void plainTopicsAreUsedAsGiven_data()
    {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<bool>("plain");
        QTest::newRow("project topic") << "waterpumpoff" << true;
        QTest::newRow("blank inside") << "water pump" << true;
        QTest::newRow("one dot") << "pump.v2" << true;
        QTest::newRow("umlaut") << "Störung" << true;
        QTest::newRow("trailing dot dot") << "pump.." << false;
    }

    void plainTopicsAreUsedAsGiven()
    {
        QFETCH(QString, topic);
        QFETCH(bool, plain);
        QCOMPARE(FAlarms::isPlainFileName(topic + QStringLiteral("de.rtf")), plain);
    }

    void eachKeyAcknowledgesItsOwnList()
    {
        goToAlarms();
        raiseInBothGroups();
        const auto waiting = [this](int n) {
            int count = 0;
            for (const AlarmInfo& a : list(n).alarms())
                count += a.state == AlarmState::ActiveUnacknowledged ? 1 : 0;
            return count;
        };
        QVERIFY(waiting(1) > 0);
        QVERIFY(waiting(2) > 0);
        screen().control<QMSKey>(QStringLiteral("QMKey1")).click();
        QCOMPARE(waiting(1), 0);
        QVERIFY(waiting(2) > 0);
        screen().control<QMSKey>(QStringLiteral("QMKey2")).click();
        QCOMPARE(waiting(2), 0);
    }

    void focusOnTheLeftListAfterActivation()
    {
        goToAlarms();
        QCOMPARE(screen().widget().focusWidget(), &list(1));
        // Back from the free trends, activation puts it there again, and CurrentScreen stays as the
        // free-trend screen set it.
        list(2).setFocus();
        m_station->pressAndWait(alarms, 8);
        m_station->pressAndWait(QStringLiteral("frmTrendSelection"), 6);
        QCOMPARE(screen().widget().focusWidget(), &list(1));
        QCOMPARE(m_station->shell().CurrentScreen(), &m_station->window(QStringLiteral("frmTrendSelection")));
    }

    void freeTrendsAndBackKeepTheText()
    {
        goToAlarms();
        pickTopic(2, QStringLiteral("storagehigh"));
        pane().setPlainText(QStringLiteral("marker"));
        m_station->pressAndWait(alarms, 8);
        m_station->pressAndWait(QStringLiteral("frmTrendSelection"), 6);
        QVERIFY(screen().isVisible());
        QCOMPARE(m_station->log().count(QStringLiteral("load FAlarms")), 1);
        QCOMPARE(screen().Textout(), folder() + QStringLiteral("/storagehigh"));
        QCOMPARE(pane().toPlainText(), QStringLiteral("marker"));
    }

    void waterPumpOffOnTheOverview()
    {
        Window& overview = m_station->window(QStringLiteral("FCentral"));
        goToAlarms();
        QCOMPARE(list(2).alarms().size(), 0);
        overview.control<QMSSwitch>(QStringLiteral("swtWaterPump")).toggle();
        runtime().advance(40);
        const int row = [this] {
            for (qsizetype i = 0; i < list(2).alarms().size(); ++i)
                if (list(2).alarms().at(i).id == QLatin1String("WaterPump.Off"))
                    return static_cast<int>(i);
            return -1;
        }();
        QVERIFY(row >= 0);
        QCOMPARE(list(2).alarms().at(row).state, AlarmState::ActiveUnacknowledged);
        QVERIFY(QTest::qWaitFor([&] { return list(2).isFlashing(row); }, 2000));
        list(2).pick(row);
        QCOMPARE(screen().lastHelpFile(), folder() + QStringLiteral("/waterpumpoffde.rtf"));
        screen().control<QMSKey>(QStringLiteral("QMKey2")).click();
        QCOMPARE(runtime().alarms().alarm(QStringLiteral("WaterPump.Off")).state, AlarmState::ActiveAcknowledged);
        QVERIFY(!list(2).isFlashing(list(2).currentRow()));
        overview.control<QMSSwitch>(QStringLiteral("swtWaterPump")).toggle();
        runtime().advance(5);
        for (const AlarmInfo& a : list(2).alarms())
            QVERIFY(a.id != QLatin1String("WaterPump.Off"));
    }
};

QTEST_MAIN(TestAlarmScreen)
#include "tst_AlarmScreen.moc"
