#pragma once

#include "Runtime.h"
#include "Shell.h"

#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class Window;

/// The whole operator station in a test: the real shell, layouts and runtime project, a runtime on a
/// temporary data folder that only moves when the test advances it, and a record of how the program
/// ended instead of the process really ending.
class StationFixture final {
public:
    /// `projectsRoot` empty: the project beside the test executable.
    explicit StationFixture(const QString& projectsRoot = {});
    ~StationFixture();

    Runtime& runtime() { return *m_runtime; }
    Shell& shell() { return *m_shell; }
    Window& window(const QString& name) { return m_shell->window(name); }

    /// Starts and waits until the overview is up; false if it did not come up.
    bool startUp();

    /// Names of the loaded windows, oldest load first.
    QStringList loaded() const;
    /// What happened, in order: "load X", "show X", "hide X", "unload X", "activate X", "messages",
    /// "runtime stopped", "end N".
    QStringList& log() { return m_log; }
    const QList<int>& endings() const { return m_endings; }
    QStringList reportedErrors() const { return m_errors; }

    /// Presses bar button n (1 to 12) on the named screen, as the operator does.
    void press(const QString& screen, int button);
    /// Presses and waits until the screen's command timer has ticked.
    void pressAndWait(const QString& screen, int button);

private:
    QTemporaryDir m_data;
    std::unique_ptr<Runtime> m_runtime;
    std::unique_ptr<Shell> m_shell;
    QStringList m_log;
    QList<int> m_endings;
    QStringList m_errors;
};
