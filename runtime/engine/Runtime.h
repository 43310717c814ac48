#pragma once

#include <QObject>
#include <QString>

#include <memory>

class TagStore;
class TextDatabase;

/// Where a runtime finds its projects and keeps its data; the defaults suit the installed program.
struct RuntimeOptions {
    /// Folder holding the project folders; empty means "project" beside the executable.
    QString projectsRoot;
    /// Folder for the archive and the alarm journal; empty means the per-user data folder.
    QString dataDirectory;
    /// Drive the plant from a timer; tests switch it off and advance the simulation themselves.
    bool realTime = true;
};

/// \brief The embedded HMI runtime: loads a project, runs the plant simulation, alarms, archives and
/// language texts, and reports when it has started and stopped. Everything runs on the GUI thread.
class Runtime final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Runtime)

public:
    enum class State { Stopped, Starting, Running, Stopping, Failed };
    Q_ENUM(State)

    explicit Runtime(RuntimeOptions options = {}, QObject* parent = nullptr);
    ~Runtime() override;

    /// Starts the named project. Returns at once; progress() reports each step, then started() or
    /// startFailed() follows from the event loop. Ignored unless the runtime is stopped or failed.
    void start(const QString& projectName);
    /// Stops the runtime: everything accepted is written to disk before stopped() is emitted.
    void stop();
    /// A fault the runtime cannot go on with: it stops by itself and reports stopped().
    void fail(const QString& reason);

    State state() const { return m_state; }
    QString projectName() const { return m_projectName; }
    QString projectDirectory() const;
    QString lastError() const { return m_lastError; }
    const RuntimeOptions& options() const { return m_options; }

    TagStore& tags() { return *m_tags; }
    TextDatabase& texts() { return *m_texts; }

Q_SIGNALS:
    void progress(const QString& step);
    void started();
    void startFailed(const QString& reason);
    void stopped();

private:
    void runStart();
    void setFailed(const QString& reason);

    RuntimeOptions m_options;
    State m_state = State::Stopped;
    QString m_projectName;
    QString m_lastError;
    TagStore* m_tags = nullptr;
    TextDatabase* m_texts = nullptr;
};
