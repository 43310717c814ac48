#include "KalvoraError.h"
#include "QMSShape.h"
#include "QMStart.h"
#include "StationFixture.h"
#include "Twips.h"
#include "Window.h"

#include <QResizeEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

/// Index of the first log line equal to `entry` at or after `from`, or -1.
qsizetype find(const QStringList& log, const QString& entry, qsizetype from = 0)
{
    return log.indexOf(entry, from);
}

} // namespace

class TestStartup final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startUpLoadsStartBackgroundAndOverviewInOrder()
    {
        StationFixture station;
        QVERIFY(station.startUp());
        QCOMPARE(station.loaded(), (QStringList{QStringLiteral("FStart"), QStringLiteral("frmBack"), QStringLiteral("FCentral")}));
        QVERIFY(!station.window(QStringLiteral("FStart")).isVisible());
        QVERIFY(station.window(QStringLiteral("frmBack")).isVisible());
        QVERIFY(station.window(QStringLiteral("FCentral")).isVisible());
        QCOMPARE(station.shell().CurrentScreen(), &station.window(QStringLiteral("FCentral")));
        QCOMPARE(station.shell().windows().activeWindow(), &station.window(QStringLiteral("FCentral")));
        // The background is shown before the overview, and the start window hidden last.
        const QStringList& log = station.log();
        QVERIFY(find(log, QStringLiteral("show frmBack")) < find(log, QStringLiteral("show FCentral")));
        QVERIFY(find(log, QStringLiteral("show FCentral")) < find(log, QStringLiteral("hide FStart")));
        QWidget& overview = station.window(QStringLiteral("FCentral")).widget();
        QCOMPARE(overview.focusWidget(), &station.window(QStringLiteral("FCentral")).controlWidget(QStringLiteral("swtBoiler1")));
        QCOMPARE(overview.size(), QSize(1024, 768));
        QVERIFY(station.reportedErrors().isEmpty());
    }

    void aRuntimeThatNeverStartsLeavesOnlyTheStartWindow()
    {
        QTemporaryDir emptyProjects;
        StationFixture station(emptyProjects.path());
        QVERIFY(!station.startUp());
        QTest::qWait(100);
        QCOMPARE(station.loaded(), QStringList{QStringLiteral("FStart")});
        QVERIFY(station.window(QStringLiteral("FStart")).isVisible());
        auto& start = station.window(QStringLiteral("FStart")).control<QMStart>(QStringLiteral("QMStart1"));
        QVERIFY(start.hasFailed());
        // The operator learns which folder was searched.
        QVERIFY2(start.statusText().contains(QDir::toNativeSeparators(emptyProjects.path())), qPrintable(start.statusText()));
        QVERIFY(station.endings().isEmpty());

        // Closing the start window then ends the program, reporting the failed start.
        QVERIFY(!station.window(QStringLiteral("FStart")).widget().close());
        QCOMPARE(station.endings(), QList<int>{1});
    }

    void exitShowsStartFirstUnloadsEverythingThenStopsTheRuntime_data()
    {
        QTest::addColumn<int>("screenButton");
        QTest::addColumn<QString>("screen");
        QTest::addColumn<bool>("withHiddenWindows");
        QTest::newRow("overview") << 5 << QStringLiteral("FCentral") << false;
        QTest::newRow("alarms") << 6 << QStringLiteral("FAlarms") << false;
        QTest::newRow("trends") << 7 << QStringLiteral("FTrends") << false;
        QTest::newRow("free trends") << 8 << QStringLiteral("frmTrendSelection") << false;
        QTest::newRow("overview, hidden screens and dialog loaded") << 5 << QStringLiteral("FCentral") << true;
    }

    void exitShowsStartFirstUnloadsEverythingThenStopsTheRuntime()
    {
        QFETCH(int, screenButton);
        QFETCH(QString, screen);
        QFETCH(bool, withHiddenWindows);
        StationFixture station;
        QVERIFY(station.startUp());
        if (screenButton != 5)
            station.pressAndWait(QStringLiteral("FCentral"), screenButton);
        if (withHiddenWindows)
            station.pressAndWait(screen, 2); // loads every screen and the dialog, hidden
        QVERIFY(station.window(screen).isVisible());
        const QStringList before = station.loaded();
        station.log().clear();

        station.pressAndWait(screen, 12);
        QTRY_COMPARE(station.endings(), QList<int>{0});
        const QStringList& log = station.log();
        QCOMPARE(log.count(QStringLiteral("show FStart")), 1);
        // The start window is shown and painted before any other window disappears.
        const qsizetype shown = find(log, QStringLiteral("show FStart"));
        qsizetype at = find(log, QStringLiteral("messages"), shown);
        QVERIFY(shown >= 0 && at > shown);
        QVERIFY(!log.mid(0, at).join(QLatin1Char('|')).contains(QStringLiteral("unload")));
        for (const QString& name : before) {
            if (name == QLatin1String("FStart"))
                continue;
            const qsizetype unloaded = find(log, QStringLiteral("unload ") + name, at);
            QVERIFY2(unloaded > at, qPrintable(name + QStringLiteral(" not unloaded in load order: ") + log.join(QLatin1Char('|'))));
            QCOMPARE(log.at(unloaded + 1), QStringLiteral("messages"));
            at = unloaded;
        }
        QVERIFY(find(log, QStringLiteral("runtime stopped")) > at);
        QCOMPARE(station.loaded(), QStringList{QStringLiteral("FStart")});
        QVERIFY(station.window(QStringLiteral("FStart")).isVisible());
        QVERIFY(station.reportedErrors().isEmpty());
    }

    void theRuntimeStoppingByItselfEndsTheProgramWithoutUnloading()
    {
        StationFixture station;
        QVERIFY(station.startUp());
        station.log().clear();
        station.runtime().fail(QStringLiteral("archive disk removed"));
        // A fault ended it: a script that started the station must be able to tell.
        QCOMPARE(station.endings(), QList<int>{1});
        QVERIFY2(!station.log().join(QLatin1Char('|')).contains(QStringLiteral("unload")), qPrintable(station.log().join(QLatin1Char('|'))));
    }

    void aCloseRequestRunsTheOrderlyShutdown()
    {
        StationFixture station;
        QVERIFY(station.startUp());
        QVERIFY(!station.window(QStringLiteral("FCentral")).widget().close());
        QVERIFY(!station.window(QStringLiteral("frmBack")).widget().close()); // a second request is the same shutdown
        QTRY_COMPARE(station.endings(), QList<int>{0});
        QCOMPARE(station.log().count(QStringLiteral("show FStart")), 2); // start-up, then shutdown once
        QCOMPARE(station.loaded(), QStringList{QStringLiteral("FStart")});
    }

    void aShutdownAskedForWhileOneRunsIsIgnored()
    {
        StationFixture station;
        QVERIFY(station.startUp());
        station.log().clear();
        Shell& shell = station.shell();
        // An exit that arrives inside the shutdown's message processing, after the first unload.
        bool asked = false;
        connect(&shell.windows(), &WindowManager::windowEvent, &shell, [&](Window*, WindowManager::Event e) {
            if (e == WindowManager::Event::Unloaded && !std::exchange(asked, true))
                QTimer::singleShot(0, &shell, [&shell] { shell.ShutdownApplication(); });
        });
        shell.ShutdownApplication();
        QTRY_COMPARE(station.endings(), QList<int>{0});
        QVERIFY(asked);
        QCOMPARE(station.log().count(QStringLiteral("show FStart")), 1);
        QCOMPARE(station.log().count(QStringLiteral("runtime stopped")), 1);
        QCOMPARE(station.loaded(), QStringList{QStringLiteral("FStart")});
    }

    void backgroundShapeIsCentred_data()
    {
        QTest::addColumn<QSize>("display");
        QTest::addColumn<float>("left");
        QTest::addColumn<float>("top");
        QTest::newRow("1280 x 1024") << QSize(1280, 1024) << 1875.0F << 1875.0F;
        QTest::newRow("1024 x 768 overhangs") << QSize(1024, 768) << -45.0F << -45.0F;
        QTest::newRow("1920 x 1080") << QSize(1920, 1080) << 6675.0F << 2295.0F;
    }

    void backgroundShapeIsCentred()
    {
        QFETCH(QSize, display);
        StationFixture station;
        Window& back = station.window(QStringLiteral("frmBack"));
        QWidget& widget = back.widget();
        const QSize old = widget.size();
        widget.resize(display);
        QResizeEvent resized(display, old);
        QCoreApplication::sendEvent(&widget, &resized);
        auto& shape = back.control<QMSShape>(QStringLiteral("QMSShape1"));
        QCOMPARE(Twips::width(shape), 15450.0F);
        QCOMPARE(Twips::height(shape), 11610.0F);
        QTEST(Twips::left(shape), "left");
        QTEST(Twips::top(shape), "top");
    }

    void focusHandBack()
    {
        StationFixture station;
        Window& back = station.window(QStringLiteral("frmBack"));
        // Shown before any screen: nothing to hand the focus to, and nothing fails.
        back.show();
        QCOMPARE(station.shell().CurrentScreen(), nullptr);
        QCOMPARE(station.loaded(), QStringList{QStringLiteral("frmBack")});
        back.unload();

        QVERIFY(station.startUp());
        const auto clickBackground = [&] {
            QEvent activate(QEvent::WindowActivate);
            QCoreApplication::sendEvent(&back.widget(), &activate);
        };
        Window& overview = station.window(QStringLiteral("FCentral"));
        clickBackground();
        QCOMPARE(station.shell().windows().activeWindow(), &overview);

        // A hidden current screen: the focus stays on the background.
        station.window(QStringLiteral("frmSelection")).widget();
        QCOMPARE(station.shell().CurrentScreen(), &station.window(QStringLiteral("frmSelection")));
        station.window(QStringLiteral("FCentral")).show();
        clickBackground();
        QCOMPARE(station.shell().windows().activeWindow(), &back);
        QVERIFY(!station.window(QStringLiteral("frmSelection")).isVisible());

        // An unloaded current screen is loaded again by the request, hidden.
        station.window(QStringLiteral("frmSelection")).unload();
        station.window(QStringLiteral("FStart")).show(); // something else active, CurrentScreen untouched
        station.window(QStringLiteral("FStart")).hide();
        clickBackground();
        QVERIFY(station.window(QStringLiteral("frmSelection")).isLoaded());
        QVERIFY(!station.window(QStringLiteral("frmSelection")).isVisible());
        QCOMPARE(station.shell().windows().activeWindow(), &back);
        QVERIFY(station.reportedErrors().isEmpty());
    }
};

QTEST_MAIN(TestStartup)
#include "tst_Startup.moc"
