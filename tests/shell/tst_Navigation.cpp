#include "QMLanguage.h"
#include "Runtime.h"
#include "StationFixture.h"
#include "TextDatabase.h"
#include "TimerControl.h"
#include "Window.h"

#include <QGroupBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTest>

namespace {
const QString overview = QStringLiteral("FCentral");
const QString alarms = QStringLiteral("FAlarms");
const QString trends = QStringLiteral("FTrends");
const QString freeTrends = QStringLiteral("frmTrendSelection");
const QString chooser = QStringLiteral("frmSelection");
} // namespace

class TestNavigation final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<StationFixture> m_station;

    StationFixture& station() { return *m_station; }
    int languageOf(const QString& screen) { return station().window(screen).control<QMLanguage>(QStringLiteral("qmSprache")).LanguageId(); }

private Q_SLOTS:
    void init()
    {
        m_station = std::make_unique<StationFixture>();
        QVERIFY(m_station->startUp());
        m_station->log().clear();
    }

    void cleanup()
    {
        QVERIFY2(m_station->reportedErrors().isEmpty(), qPrintable(m_station->reportedErrors().join(QLatin1Char('\n'))));
        m_station.reset();
    }

    void buttonsAScreenDoesNotHandleDoNothing_data()
    {
        QTest::addColumn<int>("goTo");
        QTest::addColumn<QString>("screen");
        QTest::addColumn<int>("button");
        for (int dead : {3, 4, 9, 10, 11})
            QTest::addRow("button %d on the overview", dead) << 0 << overview << dead;
        QTest::newRow("own button on the overview") << 0 << overview << 5;
        QTest::newRow("own button on alarms") << 6 << alarms << 6;
        QTest::newRow("own button on trends") << 7 << trends << 7;
        QTest::newRow("dead button on trends") << 7 << trends << 10;
    }

    void buttonsAScreenDoesNotHandleDoNothing()
    {
        QFETCH(int, goTo);
        QFETCH(QString, screen);
        QFETCH(int, button);
        if (goTo)
            station().pressAndWait(overview, goTo);
        const std::uint8_t pending = station().shell().PendingCommand();
        station().log().clear();
        station().press(screen, button);
        QVERIFY(!station().window(screen).control<TimerControl>(QStringLiteral("Timer1")).isRunning());
        QCOMPARE(station().shell().PendingCommand(), pending);
        QTest::qWait(60);
        QVERIFY2(station().log().isEmpty(), qPrintable(station().log().join(QLatin1Char('|'))));
    }

    void ownButtonOnFreeTrendsIsIgnoredToo()
    {
        station().pressAndWait(overview, 8);
        QVERIFY(station().window(freeTrends).isVisible());
        station().press(freeTrends, 8);
        QCOMPARE(station().shell().PendingCommand(), std::uint8_t(8)); // unchanged: it was 8 already, nothing stored
        QTest::qWait(60);
        QVERIFY(station().window(freeTrends).isVisible());
    }

    void aScreenIgnoresItsOwnButton_data()
    {
        QTest::addColumn<int>("own");
        QTest::addColumn<QString>("screen");
        QTest::newRow("overview") << 5 << overview;
        QTest::newRow("alarms") << 6 << alarms;
        QTest::newRow("trends") << 7 << trends;
        QTest::newRow("free trends") << 8 << freeTrends;
    }

    void aScreenIgnoresItsOwnButton()
    {
        QFETCH(int, own);
        QFETCH(QString, screen);
        if (screen != overview)
            station().pressAndWait(overview, own);
        QTest::qWait(60); // the free-trend screen's timer runs from its load: its first tick has passed
        station().pressAndWait(screen, 1); // German on German: stores 1, changes nothing
        QCOMPARE(station().shell().PendingCommand(), std::uint8_t(1));
        station().log().clear();
        station().press(screen, own);
        // Handled, the click would have stored its own code and armed the timer.
        QCOMPARE(station().shell().PendingCommand(), std::uint8_t(1));
        QVERIFY(!station().window(screen).control<TimerControl>(QStringLiteral("Timer1")).isRunning());
        QTest::qWait(60);
        QVERIFY2(station().log().isEmpty(), qPrintable(station().log().join(QLatin1Char('|'))));
        QVERIFY(station().window(screen).isVisible());
    }

    void twoClicksInOneIntervalRunOnlyTheSecond()
    {
        station().press(overview, 6);
        station().press(overview, 7);
        QCOMPARE(station().shell().PendingCommand(), std::uint8_t(7));
        QTRY_VERIFY(station().window(trends).isVisible());
        QTest::qWait(60);
        QVERIFY(!station().window(alarms).isLoaded());
        QCOMPARE(station().log().count(QStringLiteral("load FTrends")), 1);
    }

    void theClickOnlyStoresAndArms()
    {
        station().press(overview, 6);
        QCOMPARE(station().shell().PendingCommand(), std::uint8_t(6));
        QVERIFY(station().window(overview).control<TimerControl>(QStringLiteral("Timer1")).isRunning());
        QVERIFY(!station().window(alarms).isLoaded()); // nothing happens inside the click
        QTRY_VERIFY(station().window(alarms).isVisible());
        QCOMPARE(station().shell().PendingCommand(), std::uint8_t(6)); // never cleared
    }

    void overviewToAlarmsAndBackUnloadsAlarms()
    {
        station().pressAndWait(overview, 6);
        QVERIFY(station().window(alarms).isVisible());
        station().pressAndWait(alarms, 5);
        QVERIFY(!station().window(alarms).isLoaded());
        QVERIFY(station().window(overview).isVisible());
        QCOMPARE(station().shell().windows().activeWindow(), &station().window(overview));
        QCOMPARE(station().log().count(QStringLiteral("load FCentral")), 0); // the home screen never reloads
        QCOMPARE(station().shell().CurrentScreen(), &station().window(overview));
    }

    void screenMoves_data()
    {
        QTest::addColumn<QList<int>>("presses");
        QTest::addColumn<QStringList>("loadedAfter");
        QTest::newRow("trends to alarms unloads trends") << QList<int>{7, 6} << QStringList{QStringLiteral("FStart"), QStringLiteral("frmBack"), overview, alarms};
        QTest::newRow("trends to free trends unloads trends") << QList<int>{7, 8} << QStringList{QStringLiteral("FStart"), QStringLiteral("frmBack"), overview, freeTrends};
        QTest::newRow("alarms to free trends keeps alarms") << QList<int>{6, 8} << QStringList{QStringLiteral("FStart"), QStringLiteral("frmBack"), overview, alarms, freeTrends};
        QTest::newRow("free trends to trends unloads free trends") << QList<int>{8, 7} << QStringList{QStringLiteral("FStart"), QStringLiteral("frmBack"), overview, trends};
        QTest::newRow("alarms to trends unloads alarms") << QList<int>{6, 7} << QStringList{QStringLiteral("FStart"), QStringLiteral("frmBack"), overview, trends};
    }

    void screenMoves()
    {
        QFETCH(QList<int>, presses);
        QString front = overview;
        for (int button : presses) {
            station().pressAndWait(front, button);
            front = station().shell().windows().activeWindow()->name();
        }
        QTEST(station().loaded(), "loadedAfter");
    }

    void alarmsFreeTrendsAlarmsShowsTheSameAlarmScreen()
    {
        station().pressAndWait(overview, 6);
        QWidget* alarmWidget = &station().window(alarms).widget();
        station().pressAndWait(alarms, 8);
        station().pressAndWait(freeTrends, 6);
        QCOMPARE(&station().window(alarms).widget(), alarmWidget);
        QCOMPARE(station().log().count(QStringLiteral("load FAlarms")), 1);
        QVERIFY(!station().window(freeTrends).isLoaded());
        QVERIFY(station().window(alarms).isVisible());
        // The alarm screen was shown without loading, so the current screen still names the free trends.
        QCOMPARE(station().shell().CurrentScreen(), &station().window(freeTrends));

        // A click on the background reloads the free-trend screen hidden; its first tick repeats the
        // alarm command, which brings the alarms to the front again and unloads the free trends.
        QEvent activate(QEvent::WindowActivate);
        QCoreApplication::sendEvent(&station().window(QStringLiteral("frmBack")).widget(), &activate);
        QVERIFY(station().window(freeTrends).isLoaded());
        QTRY_VERIFY(!station().window(freeTrends).isLoaded());
        QVERIFY(station().window(alarms).isVisible());
        QCOMPARE(station().shell().windows().activeWindow(), &station().window(alarms));
    }

    void germanOnGermanDoesNothingAtAll()
    {
        QCOMPARE(languageOf(overview), 1031);
        station().pressAndWait(overview, 1);
        QCOMPARE(station().loaded(), (QStringList{QStringLiteral("FStart"), QStringLiteral("frmBack"), overview}));
        QVERIFY(!station().shell().hasWindow(chooser));
    }

    void englishOnTheOverviewSwitchesEverything()
    {
        station().pressAndWait(overview, 2);
        QCOMPARE(station().loaded(), (QStringList{QStringLiteral("FStart"), QStringLiteral("frmBack"), overview, alarms, trends, freeTrends, chooser}));
        for (const QString& screen : {overview, alarms, trends, freeTrends}) {
            QCOMPARE(languageOf(screen), 1033);
            QCOMPARE(station().window(screen).isVisible(), screen == overview);
        }
        Window& dialog = station().window(chooser);
        QCOMPARE(dialog.widget().windowTitle(), QStringLiteral("Trend Selection"));
        QCOMPARE(dialog.control<QGroupBox>(QStringLiteral("fraAll")).title(), QStringLiteral("Existing Trends"));
        QCOMPARE(dialog.control<QGroupBox>(QStringLiteral("fraSelected")).title(), QStringLiteral("Selected Trends:"));
        QCOMPARE(dialog.control<QPushButton>(QStringLiteral("cmdAbort")).text(), QStringLiteral("Cancel"));
        // Loaded hidden, the dialog named itself the current screen.
        QCOMPARE(station().shell().CurrentScreen(), &dialog);

        // The free-trend screen's first tick found the language already set and did nothing more.
        QTest::qWait(60);
        QVERIFY(station().window(freeTrends).isLoaded());

        // Going to the alarms shows the screen the switch loaded, without loading it again.
        station().log().clear();
        station().pressAndWait(overview, 6);
        QCOMPARE(station().log().count(QStringLiteral("load FAlarms")), 0);
        QVERIFY(station().window(alarms).isVisible());

        // Back to German from the alarm screen: the colon moves back to the selected trends only.
        station().pressAndWait(alarms, 1);
        QCOMPARE(languageOf(overview), 1031);
        QCOMPARE(dialog.control<QGroupBox>(QStringLiteral("fraAll")).title(), QStringLiteral("Vorhandene Trends"));
        QCOMPARE(dialog.control<QGroupBox>(QStringLiteral("fraSelected")).title(), QStringLiteral("Ausgewählte Trends:"));
        QCOMPARE(dialog.control<QPushButton>(QStringLiteral("cmdAbort")).text(), QStringLiteral("Abbrechen"));

        // The texts survive the dialog being discarded and loaded again.
        dialog.unload();
        QCOMPARE(dialog.control<QGroupBox>(QStringLiteral("fraSelected")).title(), QStringLiteral("Ausgewählte Trends:"));
    }

    void theSwitchSetsEveryScreensLanguageControl_data()
    {
        QTest::addColumn<bool>("allLoaded");
        QTest::newRow("right after start-up") << false;
        QTest::newRow("every screen loaded already") << true;
    }

    void theSwitchSetsEveryScreensLanguageControl()
    {
        QFETCH(bool, allLoaded);
        if (allLoaded) {
            station().pressAndWait(overview, 2);
            station().pressAndWait(overview, 1);
            QTest::qWait(60);
        }
        // The language controls share the runtime's one language, which reports only changes. Each set
        // is turned back at once, unseen, so that the next one reports too (until the fourth, which
        // stays); noted with each set are the windows loaded at that moment.
        TextDatabase& texts = station().runtime().texts();
        const int before = texts.languageId();
        QList<QStringList> sets;
        const QMetaObject::Connection recorder = connect(&texts, &TextDatabase::languageChanged, this, [&](int id) {
            if (id == before)
                return;
            sets.append(station().loaded());
            if (sets.size() < 4) {
                const QSignalBlocker unseen(texts);
                texts.setLanguageId(before);
            }
        });
        station().pressAndWait(overview, 2);
        disconnect(recorder);
        QStringList expected{QStringLiteral("FStart"), QStringLiteral("frmBack"), overview};
        const QStringList all = expected + QStringList{alarms, trends, freeTrends, chooser};
        QCOMPARE(sets.size(), 4);
        for (const QString& screen : {QString(), alarms, trends, freeTrends}) {
            if (!screen.isEmpty())
                expected.append(screen); // loaded by the reference, before its language is set
            QCOMPARE(sets.takeFirst(), allLoaded ? all : expected);
        }
        QCOMPARE(texts.languageId(), 1033);
    }

    void theStoredDialogCaptionsStandUntilTheFirstSwitch()
    {
        Window& dialog = station().window(chooser);
        QCOMPARE(dialog.widget().windowTitle(), QStringLiteral("Trendauswahl"));
        QCOMPARE(dialog.control<QGroupBox>(QStringLiteral("fraAll")).title(), QStringLiteral("Vorhandene Trends:"));
        QCOMPARE(dialog.control<QGroupBox>(QStringLiteral("fraSelected")).title(), QStringLiteral("Ausgewählte Trends"));
    }

    void exitRunsTheShutdownOnceFromAnyScreen_data()
    {
        QTest::addColumn<int>("goTo");
        QTest::newRow("overview") << 0;
        QTest::newRow("alarms") << 6;
        QTest::newRow("trends") << 7;
        QTest::newRow("free trends") << 8;
    }

    void exitRunsTheShutdownOnceFromAnyScreen()
    {
        QFETCH(int, goTo);
        QString front = overview;
        if (goTo) {
            station().pressAndWait(overview, goTo);
            front = station().shell().windows().activeWindow()->name();
        }
        station().press(front, 12);
        station().press(front, 12); // a second press within the interval is the same command
        QTRY_COMPARE(station().endings(), QList<int>{0});
        QTest::qWait(60);
        QCOMPARE(station().endings(), QList<int>{0});
        QCOMPARE(station().log().count(QStringLiteral("show FStart")), 1);
        QCOMPARE(station().loaded(), QStringList{QStringLiteral("FStart")});
        QCOMPARE(station().shell().PendingCommand(), std::uint8_t(12));
    }
};

QTEST_MAIN(TestNavigation)
#include "tst_Navigation.moc"
