#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

class AlarmCommandSink;
class HistoryReader;
class PlantSimulator;
class SessionLink;
class TagStore;

/// One operator write on its way to the plant: what was asked, and what the variable held before.
struct WriteRequest {
    quint64 id = 0;
    QString variable;
    QVariant value;
    QVariant oldValue;
    qint64 requestedMs = 0;
    QString station; ///< who asked, for the audit journal; empty: this machine and its logged-in user
    QString user;
};

/// \brief Where the runtime's process values come from: publishes every variable it serves into the
/// TagStore with a quality and the time of the reading, and carries operator writes to the plant.
/// Alarms, archive and controls see only the TagStore, never the source.
class PlantSource : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PlantSource)

public:
    ~PlantSource() override = default;

    /// Starts delivering values at `nowMs`; values before the first reading stay "not delivered".
    virtual void start(qint64 nowMs) = 0;
    /// Stops delivering; nothing is published after it returns.
    virtual void stop() = 0;
    /// The runtime's tick: `plantSeconds` of plant time passed. Sources with a clock of their own
    /// (a PLC) ignore it.
    virtual void tick(qint64 nowMs, double plantSeconds) = 0;
    /// Carries a checked operator write to the plant; writeFinished() follows, now or later.
    virtual void write(const WriteRequest& request) = 0;
    /// True while values are not all live (link down, no answer, refused requests).
    virtual bool isFaulty() const = 0;
    /// The simulated plant behind the source, if there is one.
    virtual PlantSimulator* simulator() { return nullptr; }
    /// A source that mirrors another runtime (a server) takes the alarm commands and history reads
    /// there as well; null for a source of this runtime's own plant.
    virtual AlarmCommandSink* alarmCommands() { return nullptr; }
    virtual HistoryReader* history() { return nullptr; }
    /// ... and the sign-in, which the server checks.
    virtual SessionLink* sessions() { return nullptr; }
    /// False when the source reports live() (or startRefused()) some time after start(), once it has
    /// everything the screens need.
    virtual bool startsAtOnce() const { return true; }

Q_SIGNALS:
    /// A round of fresh readings (or a change of quality) was published at `timeMs`.
    void updated(qint64 timeMs);
    /// The outcome of one write; `reason` says why it failed and is empty on success.
    void writeFinished(const WriteRequest& request, bool ok, const QString& reason);
    /// isFaulty() changed.
    void faultChanged(bool faulty);
    /// A source that does not start at once has everything for the screens.
    void live();
    /// A source that does not start at once cannot: `reason` is for the operator.
    void startRefused(const QString& reason);
    /// A source that does not start at once is still waiting, and `what` says for what (no broker yet,
    /// no server yet); it goes on waiting until live() or until the runtime is stopped.
    void waiting(const QString& what);

protected:
    explicit PlantSource(TagStore& tags, QObject* parent)
        : QObject(parent)
        , m_tags(tags)
    {
    }
    TagStore& tags() { return m_tags; }

private:
    TagStore& m_tags;
};
