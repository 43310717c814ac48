// Launch time of the operator station, from process start to the plant overview painted, against a
// minimal Qt Widgets program that shows one window, measured in the same run.
//
//   bench_launch [runs]      (default 15; each run starts a fresh process of this program)
//
// Both children draw off screen on a 1024 x 768 display and report the moment of their first paint
// relative to the parent's clock reading just before it started them. The station starts on an
// archive that already exists (a warm-up run creates it), as it does every day in the plant.

#include "Fonts.h"
#include "Runtime.h"
#include "Shell.h"
#include "TopLevelError.h"
#include "Window.h"

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<qint64>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

/// Reports the first paint of `target` as nanoseconds since `startNs`, then ends the process.
class FirstPaint final : public QObject {
public:
    FirstPaint(qint64 startNs, std::function<void()> finish)
        : m_startNs(startNs)
        , m_finish(std::move(finish))
    {
    }
    QWidget* target = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (target && watched == target && event->type() == QEvent::Paint) {
            std::printf("%lld\n", static_cast<long long>(monotonicNs() - m_startNs));
            std::fflush(stdout);
            QMetaObject::invokeMethod(this, [this] { m_finish(); }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    qint64 m_startNs;
    std::function<void()> m_finish;
};

int runMinimal(int argc, char** argv, qint64 startNs)
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(1024, 768);
    FirstPaint watcher(startNs, [] { std::_Exit(0); });
    watcher.target = &window;
    window.installEventFilter(&watcher);
    window.show();
    return app.exec();
}

int runStation(int argc, char** argv, qint64 startNs, const QString& dataDirectory)
{
    QApplication app(argc, argv);
    QGuiApplication::setQuitOnLastWindowClosed(false);
    Fonts::registerLayoutFaces();
    RuntimeOptions options;
    options.dataDirectory = dataDirectory;
    Runtime runtime(options);
    Shell shell(runtime, {QString(), [](int code) { std::_Exit(code); }});
    TopLevelError::setReporter([](const QString& message) {
        std::fprintf(stderr, "station failed: %s\n", qPrintable(message));
        std::_Exit(3);
    });
    FirstPaint watcher(startNs, [&shell] { shell.endProgram(0); });
    // The overview's widget exists only once start-up loads it; watch for it among all events.
    QObject::connect(&shell.windows(), &WindowManager::windowEvent, &watcher, [&](Window* w, WindowManager::Event e) {
        if (e == WindowManager::Event::Loaded && w->name() == QLatin1String("FCentral")) {
            watcher.target = &w->widget();
            w->widget().installEventFilter(&watcher);
        }
    });
    TopLevelError::guarded([&shell] { shell.start(); });
    return app.exec();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

/// Starts one child and returns its launch time in milliseconds, or a negative value on failure.
double launch(const QString& self, const QString& mode, const QString& dataDirectory)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    const qint64 start = monotonicNs();
    child.start(self, {mode, QString::number(start), dataDirectory});
    if (!child.waitForFinished(60000) || child.exitCode() != 0) {
        std::fprintf(stderr, "%s run failed: %s\n", qPrintable(mode), child.readAllStandardError().constData());
        return -1;
    }
    return child.readAllStandardOutput().trimmed().toLongLong() / 1.0e6;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && qstrcmp(argv[1], "--minimal") == 0)
        return runMinimal(argc, argv, std::atoll(argv[2]));
    if (argc >= 4 && qstrcmp(argv[1], "--station") == 0)
        return runStation(argc, argv, std::atoll(argv[2]), QString::fromLocal8Bit(argv[3]));

    const int runs = argc >= 2 ? std::max(10, std::atoi(argv[1])) : 15;
    QCoreApplication app(argc, argv);
    const QString self = QCoreApplication::applicationFilePath();
    QTemporaryDir data;
    if (launch(self, QStringLiteral("--station"), data.path()) < 0) // warm-up: creates the archive
        return 1;
    std::vector<double> minimal;
    std::vector<double> station;
    for (int i = 0; i < runs; ++i) {
        const double m = launch(self, QStringLiteral("--minimal"), data.path());
        const double s = launch(self, QStringLiteral("--station"), data.path());
        if (m < 0 || s < 0)
            return 1;
        minimal.push_back(m);
        station.push_back(s);
    }
    const double minimalMedian = median(minimal);
    const double stationMedian = median(station);
    std::printf("launch to first paint, median of %d runs (offscreen, 1024x768)\n", runs);
    std::printf("  minimal Qt Widgets window : %8.1f ms\n", minimalMedian);
    std::printf("  Kalvora to plant overview : %8.1f ms\n", stationMedian);
    std::printf("  ratio                     : %8.2f (goal <= 4)\n", stationMedian / minimalMedian);
    return 0;
}
