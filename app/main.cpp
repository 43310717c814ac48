#include "Fonts.h"
#include "KalvoraApplication.h"
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

/// The runtime project to run instead of the start window's: "--project NAME" or KALVORA_PROJECT, a
/// folder name below "project" beside the executable (KalvoraModbus runs the plant from a PLC).
QString chosenProject(const QStringList& arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--project") && i + 1 < arguments.size())
            return arguments.at(i + 1);
        if (arguments.at(i).startsWith(QLatin1String("--project=")))
            return arguments.at(i).mid(10);
    }
    return qEnvironmentVariable("KALVORA_PROJECT");
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
    Runtime runtime(options);
    Shell shell(runtime, {});

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
