#pragma once

#include "LayoutLoader.h"
#include "ScreenHost.h"
#include "WindowManager.h"

#include <QObject>

#include <functional>
#include <map>
#include <memory>

class Runtime;
class Window;

/// \brief The application shell: owns one object per window class, the two program-wide values
/// CurrentScreen and PendingCommand, start-up on RuntimeStarted, the language switch and the orderly
/// shutdown.
class Shell final : public QObject, public ScreenHost {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Shell)

public:
    enum class Phase { Starting, Running, ShuttingDown };

    struct Options {
        /// Where the window layouts are; empty means "layouts" beside the executable.
        QString layoutsDirectory;
        /// Ends the process at once with the code; tests replace it to watch the program end.
        std::function<void(int exitCode)> endProcess;
    };

    Shell(Runtime& runtime, Options options, QObject* parent = nullptr);
    ~Shell() override;

    /// The program's only start-up action: create, load and show the start window. Every window's
    /// layout is checked first, so a broken one is reported now and not when an operator opens it.
    void start();
    /// Why the start failed (a broken layout, the runtime's start), shown on the start window; empty
    /// while nothing went wrong.
    QString startFault() const;
    /// A termination signal: the orderly end, with a non-zero code after a failed start.
    void terminate();

    Window& window(const QString& name) override;
    /// Whether the window object exists yet; asking does not create it.
    bool hasWindow(const QString& name) const;
    bool hasEnded() const { return m_ended; }
    Window* CurrentScreen() const override { return m_currentScreen; }
    void setCurrentScreen(Window& window) override { m_currentScreen = &window; }
    std::uint8_t PendingCommand() const override { return m_pendingCommand; }
    void setPendingCommand(std::uint8_t code) override { m_pendingCommand = code; }
    bool switchLanguage(Window& source, int languageId) override;
    void ShutdownApplication() override;
    Runtime& runtime() override { return m_runtime; }

    /// Handlers of the start control's events.
    void RuntimeStarted();
    void RuntimeStopped();

    /// Ends the program (a failure that reached the top level, a termination signal, a close request
    /// before start-up finished): the runtime is stopped first, so nothing it has accepted is lost.
    void endProgram(int exitCode);

    Phase phase() const { return m_phase; }
    WindowManager& windows() { return m_windows; }

private:
    std::unique_ptr<Window> createWindow(const QString& name);
    void onCloseRequested(Window* window);
    void endProcess(int exitCode);

    Runtime& m_runtime;
    LayoutLoader m_loader;
    WindowManager m_windows;
    std::function<void(int)> m_endProcess;
    std::map<QString, std::unique_ptr<Window>> m_objects;
    Window* m_currentScreen = nullptr;
    std::uint8_t m_pendingCommand = 0;
    Phase m_phase = Phase::Starting;
    bool m_closeQueued = false;
    int m_exitCode = 0;
    QString m_layoutFault;
    bool m_stopRequested = false;
    bool m_ended = false;
};
