// Starts the operator station headless on the simulated plant and writes PNG pictures of its windows,
// for the README and for looking at screens without a display.
//
//   screenshot [--display WxH] [--data DIR] [--settle MS] STEP...
//   STEP: --press N          press bar button N on the screen in front (the real click path)
//         --wait MS          let the plant run
//         --show NAME        show window NAME, as a reference to it does (a dialog opens without blocking)
//         --grab NAME FILE   write window NAME (it must be loaded) to FILE
//         --grab-display FILE  write the whole display to FILE
//         --write TAG VALUE  write a process variable as an operator switch does ("false", "true" or a number)
//         --speed F          run the plant F times faster (60: a minute of plant time per second)
//         --pick NAME LIST ROW  pick line ROW of alarm list LIST on window NAME, as a click does
//         --set CONTROL PROPERTY N  write a whole number to a property of a control on the screen in front
//         --click CONTROL    press the key CONTROL on the screen in front
//         --curves CHART LEGEND ARCHIVE/TREND,...  put these curves on a chart of the screen in front, as
//                            the chooser's OK does (ranges from the archive, the rest of its slots empty)
//         --shelve NAME LIST ROW MINUTES  shelve the alarm on line ROW of LIST, as its context menu does
//         --sign-in USER PASSWORD  sign in through the sign-in dialog (opened if none is), as its OK does
//         --grab-sign-in FILE  write the open sign-in dialog to FILE
//         --titles           print every window's title (who is signed in stands there)
//         --history NAME LIST ROW FILE    open the history of line ROW of LIST (-1: of the whole list),
//                            as F2 does, write it to FILE and close it
//
// Without a platform chosen in QT_QPA_PLATFORM it draws off screen on a display of the given size;
// KALVORA_PROJECT chooses another runtime project, as for the station.

#include "AccessStatus.h"
#include "AlarmHistoryDialog.h"
#include "Fonts.h"
#include "KalvoraError.h"
#include "QMButton.h"
#include "QMSAlarmList.h"
#include "QMSKey.h"
#include "QMTrend.h"
#include "QMTrendLegend.h"
#include "TagStore.h"
#include "Runtime.h"
#include "Shell.h"
#include "TopLevelError.h"
#include "Window.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void usage(const QString& why)
{
    std::fprintf(stderr, "screenshot: %s\nusage: screenshot [--display WxH] [--data DIR] STEP...\n"
                         "  STEP: --press N | --show NAME | --wait MS | --grab NAME FILE | --grab-display FILE | --write TAG VALUE | --speed F\n"
                         "        | --pick NAME LIST ROW | --set CONTROL PROPERTY N | --click CONTROL | --curves CHART LEGEND A/T,...\n"
                         "        | --shelve NAME LIST ROW MINUTES | --history NAME LIST ROW FILE\n",
                 qPrintable(why));
    std::exit(2);
}

void runFor(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool save(const QPixmap& picture, const QString& file)
{
    if (picture.isNull() || !picture.save(file, "PNG")) {
        std::fprintf(stderr, "screenshot: cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s (%dx%d)\n", qPrintable(file), picture.width(), picture.height());
    return true;
}

Window* frontScreen(Shell& shell)
{
    Window* active = shell.windows().activeWindow();
    return active && active->isVisible() ? active : nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    QString display = QStringLiteral("1024x768");
    for (int i = 1; i + 1 < argc; ++i)
        if (qstrcmp(argv[i], "--display") == 0)
            display = QString::fromLocal8Bit(argv[i + 1]);
    const QStringList size = display.split(QLatin1Char('x'));
    if (size.size() != 2 || size[0].toInt() <= 0 || size[1].toInt() <= 0)
        usage(QStringLiteral("bad display size %1").arg(display));

    QTemporaryDir scratch;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        const QString config = scratch.filePath(QStringLiteral("screen.json"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            usage(QStringLiteral("cannot write %1").arg(config));
        QTextStream(&file) << QStringLiteral(R"({"screens":[{"name":"display","x":0,"y":0,"width":%1,"height":%2,)"
                                             R"("logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})")
                                  .arg(size[0], size[1]);
        file.close();
        qputenv("QT_QPA_PLATFORM", QStringLiteral("offscreen:configfile=%1").arg(config).toLocal8Bit());
    }

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Kalvora"));
    QGuiApplication::setQuitOnLastWindowClosed(false);
    Fonts::registerLayoutFaces();

    RuntimeOptions options;
    // As the station itself takes it: another runtime project, a PLC's for instance.
    options.projectOverride = qEnvironmentVariable("KALVORA_PROJECT");
    QStringList steps = QCoreApplication::arguments().mid(1);
    for (qsizetype i = 0; i + 1 < steps.size(); ++i) {
        if (steps[i] == QLatin1String("--data"))
            options.dataDirectory = steps[i + 1];
    }
    if (options.dataDirectory.isEmpty())
        options.dataDirectory = scratch.filePath(QStringLiteral("data"));

    int exitCode = 0;
    Runtime runtime(options);
    Shell shell(runtime, {QString(), [&exitCode](int code) { exitCode = code; }});
    AccessStatus access(runtime);
    TopLevelError::setReporter([](const QString& message) {
        std::fprintf(stderr, "screenshot: the station failed: %s\n", qPrintable(message));
        std::exit(1);
    });
    TopLevelError::guarded([&shell] { shell.start(); });

    QElapsedTimer clock;
    clock.start();
    while (shell.phase() != Shell::Phase::Running && clock.elapsed() < 60000 && !shell.hasEnded())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (shell.phase() != Shell::Phase::Running) {
        // Still show what the start window says, which is the point when start-up fails.
        save(shell.window(QStringLiteral("FStart")).widget().grab(), QStringLiteral("FStart-failed.png"));
        std::fprintf(stderr, "screenshot: the runtime did not start\n");
        return 1;
    }
    runFor(800);

    bool ok = true;
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const QString& step = steps[i];
        const auto argument = [&](int n) {
            if (i + n >= steps.size())
                usage(QStringLiteral("%1 needs %2 argument(s)").arg(step).arg(n));
            return steps[i + n];
        };
        if (step == QLatin1String("--display") || step == QLatin1String("--data")) {
            ++i;
        } else if (step == QLatin1String("--press")) {
            const int button = argument(1).toInt();
            ++i;
            Window* front = frontScreen(shell);
            if (!front || button < 1 || button > QMButton::buttonCount)
                usage(QStringLiteral("no screen in front, or no button %1").arg(button));
            front->control<QMButton>(QStringLiteral("QMButton1")).key(button - 1).click();
            runFor(300);
        } else if (step == QLatin1String("--show")) {
            const QString name = argument(1);
            ++i;
            TopLevelError::guarded([&shell, &name] { shell.window(name).show(); });
            runFor(300);
        } else if (step == QLatin1String("--wait")) {
            runFor(argument(1).toInt());
            ++i;
        } else if (step == QLatin1String("--grab")) {
            const QString name = argument(1);
            const QString file = argument(2);
            i += 2;
            if (!shell.hasWindow(name) || !shell.window(name).isLoaded()) {
                std::fprintf(stderr, "screenshot: window %s is not loaded\n", qPrintable(name));
                ok = false;
                continue;
            }
            ok = save(shell.window(name).widget().grab(), file) && ok;
        } else if (step == QLatin1String("--write")) {
            const QString value = argument(2);
            const QVariant typed = value == QLatin1String("true") ? QVariant(true)
                : value == QLatin1String("false")                 ? QVariant(false)
                                                                  : QVariant(value.toDouble());
            try {
                runtime.tags().write(argument(1), typed);
            } catch (const KalvoraError& e) {
                std::printf("write refused: %s\n", qPrintable(e.message()));
            }
            i += 2;
            runFor(300);
        } else if (step == QLatin1String("--speed")) {
            runtime.setSpeed(argument(1).toDouble());
            ++i;
        } else if (step == QLatin1String("--pick")) {
            const QString name = argument(1);
            const QString list = argument(2);
            const int row = argument(3).toInt();
            i += 3;
            if (!shell.hasWindow(name) || !shell.window(name).isLoaded())
                usage(QStringLiteral("window %1 is not loaded").arg(name));
            shell.window(name).control<QMSAlarmList>(list).pick(row);
        } else if (step == QLatin1String("--shelve") || step == QLatin1String("--history")) {
            const QString name = argument(1);
            auto& list = [&]() -> QMSAlarmList& {
                if (!shell.hasWindow(name) || !shell.window(name).isLoaded())
                    usage(QStringLiteral("window %1 is not loaded").arg(name));
                return shell.window(name).control<QMSAlarmList>(argument(2));
            }();
            const int row = argument(3).toInt();
            const QString last = argument(4);
            i += 4;
            const QString id = row >= 0 && row < list.alarms().size() ? list.alarms().at(row).id : QString();
            if (step == QLatin1String("--shelve")) {
                const std::unique_ptr<QMenu> menu = list.alarmMenu(row);
                QAction* action = menu->findChild<QAction*>(QStringLiteral("shelve") + last);
                if (!action)
                    usage(QStringLiteral("no line %1, or no shelving for %2 minutes").arg(row).arg(last));
                action->trigger();
                runFor(300);
            } else {
                AlarmHistoryDialog* dialog = list.showHistory(id);
                if (!dialog)
                    usage(QStringLiteral("list %1 has no alarm group").arg(argument(2)));
                runFor(500);
                ok = save(dialog->grab(), last) && ok;
                dialog->close();
                runFor(100);
            }
        } else if (step == QLatin1String("--set") || step == QLatin1String("--click")) {
            // The operator's entries on the screen in front: a property by name, or a key pressed.
            Window* front = frontScreen(shell);
            const QString control = argument(1);
            if (!front)
                usage(QStringLiteral("no screen in front"));
            QWidget& widget = front->controlWidget(control);
            if (step == QLatin1String("--click")) {
                front->control<QMSKey>(control).click();
                ++i;
            } else {
                widget.setProperty(qPrintable(argument(2)), QVariant(argument(3)).toInt());
                i += 3;
            }
            runFor(300);
        } else if (step == QLatin1String("--curves")) {
            Window* front = frontScreen(shell);
            if (!front)
                usage(QStringLiteral("no screen in front"));
            auto& chart = front->control<QMTrend>(argument(1));
            const QStringList curves = argument(3).split(QLatin1Char(','), Qt::SkipEmptyParts);
            for (int slot = 1; slot <= QMTrend::SlotCount; ++slot) {
                const QStringList pair = slot <= curves.size() ? curves.at(slot - 1).split(QLatin1Char('/')) : QStringList{QString(), QString()};
                if (pair.size() != 2)
                    usage(QStringLiteral("a curve is ARCHIVE/TREND, not %1").arg(curves.at(slot - 1)));
                chart.setProperty(qPrintable(QStringLiteral("Archive%1").arg(slot)), pair.at(0));
                chart.setProperty(qPrintable(QStringLiteral("Trend%1").arg(slot)), pair.at(1));
                // The range the chooser takes from the catalogue.
                if (const TrendDefinition* def = runtime.archive().trend(pair.at(0), pair.at(1)))
                    chart.setProperty(qPrintable(QStringLiteral("MaxValue%1").arg(slot)), def->rangeMax);
            }
            chart.ApplyCurveSettings();
            front->control<QMTrendLegend>(argument(2)).UpdateLegend();
            i += 3;
            runFor(300);
        } else if (step == QLatin1String("--sign-in")) {
            if (!access.dialog())
                access.askToSignIn({});
            const QList<QLineEdit*> fields = access.dialog()->findChildren<QLineEdit*>();
            fields.at(0)->setText(argument(1));
            fields.at(1)->setText(argument(2));
            access.dialog()->accept();
            i += 2;
            // The password is checked off the GUI thread; the picture wants its outcome.
            while (runtime.isSigningIn())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            runFor(300);
        } else if (step == QLatin1String("--grab-sign-in")) {
            if (!access.dialog())
                usage(QStringLiteral("no sign-in dialog is open"));
            ok = save(access.dialog()->grab(), argument(1)) && ok;
            ++i;
        } else if (step == QLatin1String("--titles")) {
            for (QWidget* window : QApplication::topLevelWidgets())
                if (window->isVisible())
                    std::printf("title: %s\n", qPrintable(window->windowTitle()));
        } else if (step == QLatin1String("--grab-display")) {
            ok = save(QGuiApplication::primaryScreen()->grabWindow(0), argument(1)) && ok;
            ++i;
        } else {
            usage(QStringLiteral("unknown step %1").arg(step));
        }
    }
    shell.endProgram(0);
    return ok ? exitCode : 1;
}
