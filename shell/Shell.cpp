#include "Shell.h"

#include "ControlLibrary.h"
#include "FAlarms.h"
#include "FCentral.h"
#include "FStart.h"
#include "FTrends.h"
#include "KalvoraError.h"
#include "QMButton.h"
#include "QMLanguage.h"
#include "QMStart.h"
#include "Runtime.h"
#include "TopLevelError.h"
#include "frmBack.h"
#include "frmSelection.h"
#include "frmTrendSelection.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

QString defaultLayouts()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("layouts"));
}

template <class W>
std::unique_ptr<Window> makeWindow(Shell& shell, WindowManager& windows)
{
    return std::make_unique<W>(shell, windows);
}

const char* const operatorScreens[] = {"FCentral", "FAlarms", "FTrends", "frmTrendSelection"};

/// Every window class of the program, with how its one object is made.
const std::pair<const char*, std::unique_ptr<Window> (*)(Shell&, WindowManager&)> windowClasses[] = {
    {"FStart", &makeWindow<FStart>},
    {"frmBack", &makeWindow<frmBack>},
    {"FCentral", &makeWindow<FCentral>},
    {"FAlarms", &makeWindow<FAlarms>},
    {"FTrends", &makeWindow<FTrends>},
    {"frmTrendSelection", &makeWindow<frmTrendSelection>},
    {"frmSelection", &makeWindow<frmSelection>},
};

} // namespace

Shell::Shell(Runtime& runtime, Options options, QObject* parent)
    : QObject(parent)
    , m_runtime(runtime)
    , m_windows(m_loader, options.layoutsDirectory.isEmpty() ? defaultLayouts() : options.layoutsDirectory)
    , m_endProcess(std::move(options.endProcess))
{
    if (!m_endProcess) {
        m_endProcess = [](int code) {
            std::fflush(stdout);
            std::fflush(stderr);
            std::_Exit(code);
        };
    }
    registerRuntimeControls(m_loader, m_runtime);
    m_loader.registerControl<QMButton>(QString::fromLatin1(QMButton::className), m_runtime);
    connect(&m_windows, &WindowManager::closeRequested, this, &Shell::onCloseRequested);
}

Shell::~Shell()
{
    // Widgets go before the window objects whose handlers they may still call.
    for (auto& [name, object] : m_objects)
        object->unload();
}

void Shell::start()
{
    // The start window first: without it there is nowhere to show any other fault.
    m_windows.loader().check(m_windows.layoutPath(QStringLiteral("FStart")));
    for (const auto& windowClass : windowClasses) {
        try {
            m_windows.loader().check(m_windows.layoutPath(QString::fromLatin1(windowClass.first)));
        } catch (const KalvoraError& e) {
            m_layoutFault = e.message();
            break;
        }
    }
    window(QStringLiteral("FStart")).show();
}

QString Shell::startFault() const
{
    if (!m_layoutFault.isEmpty())
        return m_layoutFault;
    return m_runtime.state() == Runtime::State::Failed ? m_runtime.lastError() : QString();
}

void Shell::terminate()
{
    endProgram(startFault().isEmpty() ? 0 : 1);
}

std::unique_ptr<Window> Shell::createWindow(const QString& name)
{
    for (const auto& [className, make] : windowClasses) {
        if (name == QLatin1String(className))
            return make(*this, m_windows);
    }
    throw KalvoraError(QStringLiteral("There is no window named \"%1\"").arg(name));
}

Window& Shell::window(const QString& name)
{
    auto it = m_objects.find(name);
    if (it == m_objects.end())
        it = m_objects.emplace(name, createWindow(name)).first;
    return *it->second;
}

bool Shell::hasWindow(const QString& name) const
{
    return m_objects.find(name) != m_objects.end();
}

void Shell::RuntimeStarted()
{
    if (!m_layoutFault.isEmpty())
        return; // the start window keeps showing why no screen comes
    window(QStringLiteral("frmBack")).show();
    window(QStringLiteral("FCentral")).show();
    window(QStringLiteral("FStart")).hide();
    m_phase = Phase::Running;
}

void Shell::RuntimeStopped()
{
    // A runtime that stops unasked, or cannot close its files, ended on a fault.
    const QString fault = m_runtime.lastError();
    if ((!m_stopRequested || !fault.isEmpty()) && m_exitCode == 0) {
        m_exitCode = 1;
        std::fprintf(stderr, "Kalvora: the runtime stopped: %s\n", qPrintable(fault.isEmpty() ? QStringLiteral("no reason given") : fault));
    }
    endProcess(m_exitCode);
}

void Shell::endProcess(int exitCode)
{
    if (m_ended)
        return;
    m_ended = true;
    m_endProcess(exitCode);
}

bool Shell::switchLanguage(Window& source, int languageId)
{
    if (source.control<QMLanguage>(QStringLiteral("qmSprache")).LanguageId() == languageId)
        return false;
    for (const char* screen : operatorScreens)
        window(QString::fromLatin1(screen)).control<QMLanguage>(QStringLiteral("qmSprache")).setLanguageId(static_cast<qint16>(languageId));
    auto& chooser = static_cast<frmSelection&>(window(QStringLiteral("frmSelection")));
    chooser.setLanguageTexts(languageId);
    return true;
}

void Shell::ShutdownApplication()
{
    // Deliberately one shutdown only: a second call while one runs (an exit or close request handled
    // inside the message processing below) returns at once. Running it again would show the start
    // window a second time, unload windows the first pass is still walking and ask the runtime to stop
    // twice; the first pass finishes all of that anyway.
    if (m_phase == Phase::ShuttingDown)
        return;
    m_phase = Phase::ShuttingDown;
    Window& start = window(QStringLiteral("FStart"));
    start.show();
    m_windows.processMessages();
    const QList<Window*> loaded = m_windows.loadedWindows();
    for (Window* w : loaded) {
        if (w == &start)
            continue;
        w->unload();
        m_windows.processMessages();
    }
    m_stopRequested = true;
    start.control<QMStart>(QStringLiteral("QMStart1")).StopRuntime();
}

void Shell::endProgram(int exitCode)
{
    m_exitCode = exitCode;
    m_stopRequested = true;
    if (m_runtime.state() == Runtime::State::Running || m_runtime.state() == Runtime::State::Starting)
        m_runtime.stop(); // its RuntimeStopped ends the process with the code
    endProcess(exitCode);
}

void Shell::onCloseRequested(Window* window)
{
    Q_UNUSED(window);
    if (m_phase == Phase::Running) {
        // The same orderly shutdown as the exit command, run from the event loop rather than from
        // inside the closing window's own event.
        if (!m_closeQueued) {
            m_closeQueued = true;
            QTimer::singleShot(0, this, [this] { TopLevelError::guarded([this] { ShutdownApplication(); }); });
        }
        return;
    }
    // Starting (only the start window is there) or already shutting down: end now, runtime first.
    terminate();
}
