#include "AccessStatus.h"
#include "BrokerSettings.h"
#include "Fonts.h"
#include "KalvoraApplication.h"
#include "RemoteSource.h"
#include "Runtime.h"
#include "Shell.h"
#include "TerminationSignals.h"
#include "TopLevelError.h"

#include <QGuiApplication>
#include <QMessageBox>

#include <cstdio>

namespace {

bool hasDisplay()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

/// The value of "--NAME VALUE" or "--NAME=VALUE"; empty when not given.
QString argument(const QStringList& arguments, const QString& name)
{
    const QString option = QStringLiteral("--") + name;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments.at(i) == option && i + 1 < arguments.size())
            return arguments.at(i + 1);
        if (arguments.at(i).startsWith(option + QLatin1Char('=')))
            return arguments.at(i).mid(option.size() + 1);
    }
    return {};
}

/// The runtime project to run instead of the start window's: "--project NAME" or KALVORA_PROJECT, a
/// folder name below "project" beside the executable (KalvoraModbus runs the plant from a PLC).
QString chosenProject(const QStringList& arguments)
{
    const QString project = argument(arguments, QStringLiteral("project"));
    return project.isEmpty() ? qEnvironmentVariable("KALVORA_PROJECT") : project;
}

/// "--station FILE" (the log-in file kalvora-server writes) and "--server URL" (overrides its broker)
/// make this a station of that server; the reason when they do not fit.
QString stationOptions(const QStringList& arguments, RuntimeOptions& options)
{
    const QString file = argument(arguments, QStringLiteral("station"));
    const QString url = argument(arguments, QStringLiteral("server"));
    if (file.isEmpty() && url.isEmpty())
        return {};
    const BrokerSettings::Result read = BrokerSettings::stationLogIn(file, url);
    if (!read.ok())
        return read.error;
    RemoteStationOptions station;
    station.broker = read.settings;
    options.remoteSource = RemoteSource::factory(station);
    return {};
}

} // namespace

int main(int argc, char** argv)
try {
    KalvoraApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Kalvora"));
    QGuiApplication::setQuitOnLastWindowClosed(false);
    Fonts::registerLayoutFaces();

    RuntimeOptions options;
    options.projectOverride = chosenProject(QCoreApplication::arguments());
    if (const QString error = stationOptions(QCoreApplication::arguments(), options); !error.isEmpty()) {
        std::fprintf(stderr, "Kalvora: %s\n", qPrintable(error));
        return 1;
    }
    Runtime runtime(options);
    Shell shell(runtime, {});
    // Sign-in dialog, Ctrl+Alt+L and who is signed in, in every window's title (only with access.json).
    AccessStatus access(runtime);

    TopLevelError::setReporter([&shell](const QString& message) {
        std::fprintf(stderr, "Kalvora: %s\n", qPrintable(message));
        if (hasDisplay())
            QMessageBox::critical(nullptr, QStringLiteral("Kalvora"), message);
        shell.endProgram(1);
    });

    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &shell, [&shell](int) { shell.terminate(); });

    TopLevelError::guarded([&shell] { shell.start(); });
    return app.exec();
} catch (...) {
    // Before the event loop runs (no display, no signal pipe) there is no window to tell it in.
    std::fprintf(stderr, "Kalvora: %s\n", qPrintable(TopLevelError::describe(std::current_exception())));
    return 1;
}
