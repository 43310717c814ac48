// Activation of the program's windows, by the program (show, focus hand-back) and by the window system
// (a click, Alt+Tab, a dialog closing), and the windows that name themselves the current screen.

#include "StationFixture.h"
#include "Window.h"

#include <QApplication>
#include <QTest>

namespace {

const QString start = QStringLiteral("FStart");
const QString back = QStringLiteral("frmBack");
const QString overview = QStringLiteral("FCentral");
const QString trends = QStringLiteral("FTrends");
const QString chooser = QStringLiteral("frmSelection");

/// The window system makes the window active, as a click on it does; true once it has reported it and
/// every report still on its way has arrived.
bool activateByWindowSystem(Window& window)
{
    window.widget().activateWindow();
    const bool active = QTest::qWaitFor([&] { return QApplication::activeWindow() == &window.widget(); }, 2000);
    QTest::qWait(30);
    return active;
}

} // namespace

class TestActivation final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<StationFixture> m_station;

    StationFixture& station() { return *m_station; }
    Window& window(const QString& name) { return m_station->window(name); }
    Window* active() { return m_station->shell().windows().activeWindow(); }
    Window* current() { return m_station->shell().CurrentScreen(); }

private Q_SLOTS:
    void init()
    {
        m_station = std::make_unique<StationFixture>();
        QVERIFY(m_station->startUp());
        QTest::qWait(50); // the window system's own reports of the start-up windows
    }

    void cleanup()
    {
        QVERIFY2(m_station->reportedErrors().isEmpty(), qPrintable(m_station->reportedErrors().join(QLatin1Char('\n'))));
        m_station.reset();
    }

    void startUpActivatesEachWindowOnceInOrder()
    {
        const QStringList& log = station().log();
        QCOMPARE(log.count(QStringLiteral("activate frmBack")), 1);
        QCOMPARE(log.count(QStringLiteral("activate FCentral")), 1);
        QVERIFY(log.indexOf(QStringLiteral("activate frmBack")) < log.indexOf(QStringLiteral("activate FCentral")));
        QCOMPARE(active(), &window(overview));
        QCOMPARE(QApplication::activeWindow(), &window(overview).widget()); // the window system agrees
    }

    void aClickOnTheOverviewAfterTheBackgroundKeptTheFocus()
    {
        Window& centre = window(overview);
        station().pressAndWait(overview, 2); // loads hidden windows; the dialog is now the current screen
        QCOMPARE(current(), &window(chooser));

        station().log().clear();
        QVERIFY(activateByWindowSystem(window(back)));
        QCOMPARE(active(), &window(back)); // the hidden current screen cannot take the focus
        QCOMPARE(station().log(), QStringList{QStringLiteral("activate frmBack")});

        QVERIFY(activateByWindowSystem(centre));
        QCOMPARE(active(), &centre);
        QCOMPARE(current(), &centre);
        QCOMPARE(QApplication::focusWidget(), &centre.controlWidget(QStringLiteral("swtBoiler1")));

        // The background now hands the focus back to the overview, whose handler runs once more.
        station().log().clear();
        centre.controlWidget(QStringLiteral("swtWaterPump")).setFocus();
        window(back).widget().activateWindow();
        QTRY_COMPARE(station().log(), (QStringList{QStringLiteral("activate frmBack"), QStringLiteral("activate FCentral")}));
        QTRY_COMPARE(QApplication::activeWindow(), &centre.widget());
        QTest::qWait(30);
        QCOMPARE(station().log().size(), 2);
        QCOMPARE(active(), &centre);
        QCOMPARE(QApplication::focusWidget(), &centre.controlWidget(QStringLiteral("swtBoiler1")));
    }

    void aScreenBeneathAClosingDialogRunsItsActivationHandler()
    {
        station().pressAndWait(overview, 7);
        // The chooser reads the free-trend chart when it activates; that screen is loaded whenever the
        // chooser opens for real, so load it first rather than let its load name itself here.
        window(QStringLiteral("frmTrendSelection")).widget();
        Window& dialog = window(chooser);
        dialog.show();
        QCOMPARE(active(), &dialog);
        QCOMPARE(current(), &dialog); // named itself when it loaded
        station().log().clear();
        dialog.unload();
        // The window system hands the activation back to the trend screen, which names itself again.
        QVERIFY(activateByWindowSystem(window(trends)));
        QCOMPARE(station().log().count(QStringLiteral("activate FTrends")), 1);
        QCOMPARE(current(), &window(trends));
    }

    void currentScreenWriters_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("onLoad");
        QTest::addColumn<bool>("onActivation");
        QTest::newRow("FCentral") << overview << true << true;
        QTest::newRow("FAlarms") << QStringLiteral("FAlarms") << true << false;
        QTest::newRow("FTrends") << trends << false << true;
        QTest::newRow("frmTrendSelection") << QStringLiteral("frmTrendSelection") << true << false;
        QTest::newRow("frmSelection") << chooser << true << false;
        QTest::newRow("FStart") << start << false << false;
        QTest::newRow("frmBack") << back << false << false;
    }

    void currentScreenWriters()
    {
        QFETCH(QString, name);
        QFETCH(bool, onLoad);
        QFETCH(bool, onActivation);
        Window& w = window(name);
        // A window that writes nothing and is never the subject of the row.
        Window& other = window(name == start ? back : start);
        Shell& shell = station().shell();
        if (name == chooser) // the chooser opens from the free-trend screen, whose chart it reads
            window(QStringLiteral("frmTrendSelection")).widget();

        if (name != start) { // the start window cannot go while the runtime runs: it loaded before anything else
            w.unload();
            shell.setCurrentScreen(other);
            w.widget();
            QCOMPARE(current(), onLoad ? &w : &other);
        } else {
            QCOMPARE(station().log().indexOf(QStringLiteral("load FStart")), 0);
        }

        shell.setCurrentScreen(other);
        w.show();
        QCOMPARE(active(), &w);
        QCOMPARE(current(), onActivation ? &w : &other);

        // Activated by the window system after another window was active. With a hidden current
        // screen the background keeps the activation instead of handing it back.
        shell.setCurrentScreen(other);
        QVERIFY(activateByWindowSystem(name == overview ? window(back) : window(overview)));
        shell.setCurrentScreen(other);
        QVERIFY(activateByWindowSystem(w));
        QCOMPARE(active(), &w);
        QCOMPARE(current(), onActivation ? &w : &other);
    }
};

QTEST_MAIN(TestActivation)
#include "tst_Activation.moc"
