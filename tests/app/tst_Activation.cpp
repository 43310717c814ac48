// The station on a real X server (Xvfb) with real mouse clicks (xdotool): here the window system, not
// the program, decides which window becomes active, and the program has to follow it.

#include "StationFixture.h"
#include "Window.h"

#include <QApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

/// A virtual X display on a free display number, for as long as the object lives.
class VirtualDisplay final {
public:
    VirtualDisplay()
    {
        int pipeEnds[2];
        if (::pipe(pipeEnds) != 0) {
            m_problem = QStringLiteral("no pipe for Xvfb");
            return;
        }
        m_server = ::fork();
        if (m_server == 0) {
            ::close(pipeEnds[0]);
            const std::string fd = std::to_string(pipeEnds[1]);
            // Xvfb picks a free display and writes its number to the descriptor.
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(pipeEnds[1]);
        std::string number;
        pollfd reading{pipeEnds[0], POLLIN, 0};
        char c = 0;
        while (m_server > 0 && ::poll(&reading, 1, 15000) > 0 && ::read(pipeEnds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(pipeEnds[0]);
        if (number.empty())
            m_problem = QStringLiteral("Xvfb did not start (is the xvfb package installed?)");
        else
            m_name = QStringLiteral(":") + QString::fromStdString(number);
    }

    ~VirtualDisplay()
    {
        if (m_server > 0) {
            ::kill(m_server, SIGTERM);
            ::waitpid(m_server, nullptr, 0);
        }
    }

    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    const QString& name() const { return m_name; }
    const QString& problem() const { return m_problem; }

private:
    pid_t m_server = -1;
    QString m_name;
    QString m_problem;
};

QString s_problem;

/// A real press and release of the left mouse button at a point of the display.
bool click(QPoint global)
{
    return QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(global.x()),
                                                         QString::number(global.y()), QStringLiteral("click"), QStringLiteral("1")})
        == 0;
}

} // namespace

class TestActivation final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!s_problem.isEmpty())
            QSKIP(qPrintable(s_problem));
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    }

    void clicksOnTheBackgroundAndTheOverviewAfterALanguageSwitch()
    {
        StationFixture station;
        QVERIFY(station.startUp());
        Window& back = station.window(QStringLiteral("frmBack"));
        Window& overview = station.window(QStringLiteral("FCentral"));
        const auto active = [&station] { return station.shell().windows().activeWindow(); };
        QTRY_COMPARE(QApplication::activeWindow(), &overview.widget());
        QWidget& burner = overview.controlWidget(QStringLiteral("swtBoiler1"));
        // Outside the overview the background shows; the overview's title label takes no input.
        const QPoint onBackground(5, 5);
        const QPoint onOverview = overview.widget().mapToGlobal(QPoint(200, 15));

        station.pressAndWait(QStringLiteral("FCentral"), 2); // loads hidden windows: the current screen is hidden
        QVERIFY(station.shell().CurrentScreen() != &overview);
        station.log().clear();
        QVERIFY(click(onBackground));
        QTRY_COMPARE(QApplication::activeWindow(), &back.widget());
        QTest::qWait(100);
        QCOMPARE(active(), &back);
        QCOMPARE(station.log(), QStringList{QStringLiteral("activate frmBack")});

        QVERIFY(click(onOverview));
        QTRY_COMPARE(active(), &overview);
        QCOMPARE(station.shell().CurrentScreen(), &overview);
        QTRY_COMPARE(QApplication::focusWidget(), &burner);

        // Now the background hands the focus back to the overview at once.
        station.log().clear();
        QVERIFY(click(onBackground));
        QTRY_COMPARE(QApplication::activeWindow(), &overview.widget());
        QTest::qWait(100);
        QCOMPARE(station.log(), (QStringList{QStringLiteral("activate frmBack"), QStringLiteral("activate FCentral")}));
        QCOMPARE(active(), &overview);
        QCOMPARE(QApplication::focusWidget(), &burner);
        QVERIFY(station.reportedErrors().isEmpty());
    }
};

int main(int argc, char** argv)
{
    VirtualDisplay display;
    s_problem = display.problem();
    if (s_problem.isEmpty() && QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        s_problem = QStringLiteral("xdotool is not installed");
    if (s_problem.isEmpty()) {
        qputenv("DISPLAY", display.name().toLatin1());
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication app(argc, argv);
    TestActivation test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_Activation.moc"
