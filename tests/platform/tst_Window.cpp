#include "LayoutLoader.h"
#include "TimerControl.h"
#include "Window.h"
#include "WindowManager.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

class CountingWindow final : public Window {
public:
    using Window::Window;
    int loads = 0;
    int activations = 0;

protected:
    void onLoad() override { ++loads; }
    void onActivate() override { ++activations; }
};

void writeLayout(const QString& path, const QString& labelText)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write layout");
    file.write(QStringLiteral("<?xml version=\"1.0\"?><ui version=\"4.0\"><widget class=\"QWidget\" name=\"top\">"
                              "<property name=\"geometry\"><rect><x>0</x><y>0</y><width>120</width><height>80</height></rect></property>"
                              "<widget class=\"QLabel\" name=\"lbl\"><property name=\"text\"><string>%1</string></property></widget>"
                              "<widget class=\"Timer\" name=\"Timer1\"><property name=\"interval\"><number>25</number></property>"
                              "<property name=\"running\"><bool>true</bool></property></widget>"
                              "</widget></ui>")
                   .arg(labelText)
                   .toUtf8());
}

} // namespace

class TestWindow final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    LayoutLoader m_loader;
    std::unique_ptr<WindowManager> m_manager;

private Q_SLOTS:
    void initTestCase()
    {
        m_loader.registerControl(QStringLiteral("Timer"), TimerControl::staticMetaObject, [](QWidget* p) { return new TimerControl(p); });
        for (const char* name : {"A", "B", "C"})
            writeLayout(m_dir.filePath(QString::fromLatin1(name) + QStringLiteral(".ui")), QString::fromLatin1(name));
    }

    void init() { m_manager = std::make_unique<WindowManager>(m_loader, m_dir.path()); }
    void cleanup() { m_manager.reset(); }

    void anyReferenceLoadsOnceAndUnloadDestroys()
    {
        CountingWindow a(*m_manager, QStringLiteral("A"));
        QVERIFY(!a.isLoaded());
        QCOMPARE(a.control<QLabel>(QStringLiteral("lbl")).text(), QStringLiteral("A"));
        QVERIFY(a.isLoaded());
        QVERIFY(!a.isVisible()); // loaded but not shown stays invisible
        a.widget();
        QCOMPARE(a.loads, 1);

        QPointer<QLabel> label = &a.control<QLabel>(QStringLiteral("lbl"));
        label->setText(QStringLiteral("changed"));
        a.show();
        a.hide();
        QCOMPARE(label->text(), QStringLiteral("changed")); // hiding keeps everything
        a.unload();
        QVERIFY(!a.isLoaded());
        QVERIFY(label.isNull());

        writeLayout(m_dir.filePath(QStringLiteral("A.ui")), QStringLiteral("again"));
        QCOMPARE(a.control<QLabel>(QStringLiteral("lbl")).text(), QStringLiteral("again")); // read afresh
        QCOMPARE(a.loads, 2);
        writeLayout(m_dir.filePath(QStringLiteral("A.ui")), QStringLiteral("A"));
    }

    void loadedWindowsInLoadOrder()
    {
        CountingWindow a(*m_manager, QStringLiteral("A"));
        CountingWindow b(*m_manager, QStringLiteral("B"));
        CountingWindow c(*m_manager, QStringLiteral("C"));
        c.widget();
        a.widget();
        b.widget();
        QCOMPARE(m_manager->loadedWindows(), (QList<Window*>{&c, &a, &b}));
        a.unload();
        a.widget();
        QCOMPARE(m_manager->loadedWindows(), (QList<Window*>{&c, &b, &a}));
        c.unload();
        b.unload();
        a.unload();
        QVERIFY(m_manager->loadedWindows().isEmpty());
    }

    void activationRunsWhenTheWindowBecomesActive()
    {
        CountingWindow a(*m_manager, QStringLiteral("A"));
        CountingWindow b(*m_manager, QStringLiteral("B"));
        a.show();
        QCOMPARE(a.activations, 1);
        a.show(); // already active
        QCOMPARE(a.activations, 1);
        b.show();
        a.show();
        QCOMPARE(a.activations, 2);
        QCOMPARE(m_manager->activeWindow(), &a);
        a.unload();
        QCOMPARE(m_manager->activeWindow(), nullptr);
        b.unload();
    }

    void theWindowSystemActivatingAWindowRunsItsHandlerOncePerChange()
    {
        CountingWindow a(*m_manager, QStringLiteral("A"));
        CountingWindow b(*m_manager, QStringLiteral("B"));
        QStringList order;
        connect(m_manager.get(), &WindowManager::windowEvent, this, [&order](Window* w, WindowManager::Event e) {
            if (e == WindowManager::Event::Activated)
                order.append(w->name());
        });
        a.show();
        b.show();
        // The window system reports a, then b, active only now: both are the program's own requests.
        QTest::qWait(50);
        QCOMPARE(order, (QStringList{QStringLiteral("A"), QStringLiteral("B")}));
        QCOMPARE(m_manager->activeWindow(), &b);

        // A click or Alt+Tab: the window system alone makes a window active.
        a.widget().activateWindow();
        QTRY_COMPARE(a.activations, 2);
        QCOMPARE(m_manager->activeWindow(), &a);
        a.widget().activateWindow(); // already active: no change, no handler
        b.widget().activateWindow();
        a.widget().activateWindow();
        QTRY_COMPARE(a.activations, 3);
        QTest::qWait(50);
        QCOMPARE(order, (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("A")}));

        // The active window goes (a dialog closing): the one the window system activates next runs its handler.
        b.hide();
        b.show();
        QCOMPARE(b.activations, 3);
        b.hide();
        a.widget().activateWindow();
        QTRY_COMPARE(m_manager->activeWindow(), &a);
        QTest::qWait(50);
        QCOMPARE(a.activations, 4);
        QCOMPARE(b.activations, 3);
        a.unload();
        b.unload();
    }

    void setFocusNeedsAVisibleWindowAndLoadsAnUnloadedOne()
    {
        CountingWindow a(*m_manager, QStringLiteral("A"));
        QVERIFY_THROWS_EXCEPTION(KalvoraError, a.setFocus());
        QVERIFY(a.isLoaded()); // the reference loaded it, hidden
        QCOMPARE(a.loads, 1);
        QVERIFY(!a.isVisible());
        a.show();
        a.hide();
        QVERIFY_THROWS_EXCEPTION(KalvoraError, a.setFocus());
        a.unload();
    }

    void unloadStopsTheWindowsTimers()
    {
        CountingWindow a(*m_manager, QStringLiteral("A"));
        int ticks = 0;
        connect(&a.control<TimerControl>(QStringLiteral("Timer1")), &TimerControl::tick, this, [&] {
            ++ticks;
            a.unload(); // from inside its own tick, as a screen's dispatcher does
        });
        QTRY_COMPARE(ticks, 1);
        QTest::qWait(100);
        QCOMPARE(ticks, 1);
        QVERIFY(!a.isLoaded());
    }

    void modalShowReturnsWhenTheWindowIsUnloaded()
    {
        CountingWindow a(*m_manager, QStringLiteral("A"));
        QTimer::singleShot(20, this, [&] {
            QVERIFY(a.isVisible());
            a.unload();
            QVERIFY(!a.isLoaded());
        });
        a.showModal();
        QVERIFY(!a.isLoaded());
        a.widget(); // a later reference loads it again
        QCOMPARE(a.loads, 2);
        a.unload();
    }

    void closeRequestGoesToTheProgram()
    {
        CountingWindow a(*m_manager, QStringLiteral("A"));
        QSignalSpy requests(m_manager.get(), &WindowManager::closeRequested);
        a.show();
        QVERIFY(!a.widget().close()); // refused: the program decides
        QCOMPARE(requests.count(), 1);
        QVERIFY(a.isVisible());
        a.unload();
    }
};

QTEST_MAIN(TestWindow)
#include "tst_Window.moc"
