#pragma once

#include "AuditJournal.h"
#include "EmbeddedHistory.h"
#include "PlantSource.h"
#include "Project.h"
#include "RuntimeAccess.h"
#include "SqliteArchiveBackend.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

class AlarmEngine;
class ArchiveStore;
class ArchiveBackend;
class AlarmJournalStore;
class PlantSimulator;
class PlantSource;
class QTimer;
class TagStore;
class TextDatabase;

/// What a station's runtime hands the source that mirrors a server: its own copy of the project (for
/// the definitions and the fingerprint) and the replicas the source fills.
struct StationLink {
    const Project& project;
    QString projectFolder;
    TagStore& tags;
    AlarmEngine& alarms;
    QObject* parent;
};

/// Makes the archive's and the alarm journal's stores on a database server, from a connection string.
struct HistoryServerStores {
    std::function<std::unique_ptr<ArchiveBackend>(const QString& connection)> archive;
    std::function<std::unique_ptr<AlarmJournalStore>(const QString& connection)> alarmJournal;
};

/// Where a runtime finds its projects and keeps its data; the defaults suit the installed program.
struct RuntimeOptions {
    /// Folder holding the project folders; empty means "project" beside the executable.
    QString projectsRoot;
    /// Folder for the archive and the alarm journal (one subfolder per project); empty means the
    /// per-user data folder, GenericDataLocation/Kalvora.
    QString dataDirectory;
    /// Drive the plant from a timer; tests switch it off and advance the simulation themselves. A
    /// project whose values come from a PLC always runs on the wall clock.
    bool realTime = true;
    /// Without real time: the clock's start in ms since the epoch; 0 means the moment of start().
    qint64 startTimeMs = 0;
    /// Hours of simulated history written into an empty archive at start, so charts show something.
    int backfillHours = 24;
    /// How the embedded archive file keeps old samples; Rows only to compare layouts.
    SqliteArchiveBackend::Layout archiveLayout = SqliteArchiveBackend::Layout::Packed;
    /// Plant speed factor; 0 takes the project's.
    double speed = 0.0;
    /// When set, start() runs this project whatever name the start control asks for, so the same
    /// station can be pointed at another project folder (KalvoraModbus, a real plant's) from outside.
    QString projectOverride;
    /// Set for a station of a server: makes the source that takes values, alarm states and history
    /// from there, once the station's own project copy is loaded. The runtime then keeps no files.
    std::function<PlantSource*(const StationLink&)> remoteSource;
    /// Set by a program that can keep history on a database server: makes the stores of the archive
    /// and the alarm journal for a project's connection string. Without it such a project does not start.
    HistoryServerStores historyServer;
    /// The wall clock of sign-ins and sessions (idle lock, failure lock); tests hand in a fake one.
    AccessClock accessClock;
};

/// \brief The embedded HMI runtime: loads a project, takes its process values from the project's
/// source (the plant simulation or a PLC over Modbus TCP), runs alarms, archives, the audit journal of
/// operator writes and language texts, and reports when it has started and stopped. Everything runs on
/// the GUI thread.
class Runtime final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Runtime)

public:
    enum class State { Stopped, Starting, Running, Stopping, Failed };
    Q_ENUM(State)

    /// The runtime's own status variable: true while the archive or the alarm journal cannot write
    /// (and for DamageShownMs after a damaged archive or journal was replaced). A project alarm watches it.
    static constexpr const char* ArchiveFaultVariable = "Ch1.Kalvora.System.ArchiveFault";
    /// Recordings between two tries of alarm journal rows the file refused.
    static constexpr int JournalRetryEvery = 10;
    static constexpr qint64 DamageShownMs = 10000;
    /// Wall-clock wait from opening the archive to checking it on the side.
    static constexpr int ArchiveCheckDelayMs = 3000;

    explicit Runtime(RuntimeOptions options = {}, QObject* parent = nullptr);
    ~Runtime() override;

    /// Starts the named project. Returns at once; progress() reports each step, then started() or
    /// startFailed() follows from the event loop. Ignored unless the runtime is stopped or failed.
    void start(const QString& projectName);
    /// Stops the runtime: everything accepted is written to disk and the files are closed before
    /// stopped() is emitted. stopped() follows every call, also when the runtime was not running, so a
    /// caller waiting for it is never left hanging.
    void stop();
    /// A fault the runtime cannot go on with: it stops by itself and reports stopped().
    void fail(const QString& reason);

    State state() const { return m_state; }
    QString projectName() const { return m_projectName; }
    QString projectDirectory() const;
    /// Where the archive and the alarm journal of the project live.
    QString dataFolder() const;
    QString lastError() const { return m_lastError; }
    /// Things the operator should know that did not stop the start (a damaged archive moved aside).
    QStringList notices() const { return m_notices; }
    const RuntimeOptions& options() const { return m_options; }
    /// The loaded project; empty before the first successful load.
    const Project& project() const { return m_project; }

    TagStore& tags() { return *m_tags; }
    TextDatabase& texts() { return *m_texts; }
    AlarmEngine& alarms() { return *m_alarms; }
    ArchiveStore& archive() { return *m_archive; }
    /// Archive and alarm journal reads: this runtime's files, or the server's for a station.
    HistoryReader& history() { return *m_history; }
    /// A station of a server (RuntimeOptions::remoteSource) rather than a runtime of its own.
    bool isStation() const { return bool(m_options.remoteSource); }
    AuditJournal& audit() { return m_audit; }
    /// Null until a project is loaded.
    PlantSource* source() { return m_source; }
    /// Null until a project is loaded and when the values come from a PLC.
    PlantSimulator* simulator();

    /// The runtime's own status variables lie below this name (prefix + "System."); no source delivers
    /// them.
    static QString statusPrefix(const Project& project);
    /// On while the source cannot deliver every value live (link down, no answer, refused reads).
    static QString commFaultVariable(const Project& project);

    /// The runtime's clock in ms since the epoch: the wall clock in real time, otherwise the
    /// simulated clock that advance() moves on.
    qint64 now() const;
    /// Runs `ticks` plant ticks at once (simulation, alarms, recording), as the timer would. Throws
    /// KalvoraError unless the runtime is running.
    void advance(int ticks);
    double speed() const { return m_speed; }
    /// Plant time per tick = tick length × speed; a demonstration runs at 10 or 60.
    void setSpeed(double factor);

    /// An operator write from another station (through the server): the same checks and the same way
    /// to the plant as TagStore::write from a local control, journalled with the given station and user
    /// instead of this machine's. Throws KalvoraError with the reason when the checks refuse it.
    /// `role`: the role of the station's session, checked against the project's access rules.
    void writeFrom(const QString& station, const QString& user, const QString& name, const QVariant& value,
        std::optional<Role> role = std::nullopt);

    /// Accounts, sessions and the project's access rules (open without access.json).
    RuntimeAccess& access() { return *m_access; }
    /// Who operates this runtime's own screens: this machine, the signed-in user (the machine's
    /// logged-in user when nobody is) and the session's role (none while locked or signed out).
    Actor localActor();
    /// The session of this runtime's own screens; null when nobody is signed in.
    const Session* localSession();
    /// Signs the screens' operator in, or in again after the idle lock; an action refused for want of a
    /// role just before (signInRequired()) is then carried out. Empty on success, otherwise why not.
    QString signIn(const QString& user, const QString& password);
    void signOut();
    /// Forgets the action that waits for a sign-in (the dialog was cancelled).
    void cancelSignIn() { m_pendingAction = nullptr; }
    /// Whether an action waits for a sign-in.
    bool hasPendingAction() const { return bool(m_pendingAction); }
    /// Journals an action the access rules refused (alarm commands; refused writes journal themselves).
    void journalRefused(const QString& action, const QString& target, const Actor& actor, const QString& reason);

Q_SIGNALS:
    void progress(const QString& step);
    void started();
    void startFailed(const QString& reason);
    void stopped();
    /// An operator write did not reach the plant; the variable keeps showing the plant's state.
    void writeFailed(const QString& variable, const QString& reason);
    /// An action of the screens' operator needs a role the session lacks: signing in carries it out.
    void signInRequired(const QString& reason);
    /// The screens' session began, locked, resumed or ended.
    void sessionChanged();

private:
    using Step = std::function<void()>;
    void runStep();
    void schedule(Step step);
    void failStart(const QString& reason);
    bool report(const QString& step);
    void loadProject();
    void openStore(const QString& step, const QString& file, const std::function<QString(const QString&, QString*)>& open);
    void prepareHistory();
    void backfill(qint64 from, qint64 until, qint64 chunkStart);
    void goLive();
    void becomeRunning();
    void tick();
    void tickGuarded();
    void record(qint64 nowMs);
    void closeStorage(bool savePlant);
    void dropSource();
    void publishStatus(qint64 nowMs);
    void sourceUpdated(qint64 nowMs);
    void journalWrite(const WriteRequest& request, const QString& result, const QString& reason);
    WriteRequest writeRequest(const QString& name, const QVariant& value);
    void publishArchiveFault(qint64 nowMs);
    void journalAudit(const AuditEntry& entry);
    void setUpAccess();
    /// The access check of one action of the screens' operator; a refusal that signing in would lift
    /// keeps `retry` for after the sign-in.
    QString gate(AccessRules::Action action, const QString& target, std::function<void()> retry);

    RuntimeOptions m_options;
    State m_state = State::Stopped;
    QString m_projectName;
    QString m_lastError;
    QStringList m_notices;
    Project m_project;
    TagStore* m_tags = nullptr;
    TextDatabase* m_texts = nullptr;
    AlarmEngine* m_alarms = nullptr;
    ArchiveStore* m_archive = nullptr;
    QTimer* m_timer = nullptr;
    PlantSource* m_source = nullptr;
    EmbeddedHistory m_embeddedHistory;
    HistoryReader* m_history = nullptr;
    AuditJournal m_audit;
    quint64 m_nextWrite = 1;
    /// Who the write under way comes from (writeFrom); empty for a local control.
    QString m_writeStation;
    QString m_writeUser;
    std::optional<Role> m_writeRole;
    RuntimeAccess* m_access = nullptr;
    QByteArray m_localToken;
    QString m_defaultOperator;
    std::function<void()> m_pendingAction;
    QTimer* m_sessionTimer = nullptr;
    std::vector<int> m_trendSource;
    std::deque<Step> m_steps;
    qint64 m_virtualNow = 0;
    qint64 m_lastRecorded = 0;
    qint64 m_recordCount = 0;
    double m_speed = 1.0;
    /// A damaged archive replaced in operation keeps the fault up until then (0: none), so its alarm
    /// outlasts the on-delay and the operator finds it in the list.
    qint64 m_archiveDamagedUntil = 0;
    int m_archiveFaultShown = -1; ///< the value last published; -1: none yet
};
