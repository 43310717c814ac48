#pragma once

#include "AlarmCommandSink.h"
#include "AlarmGroup.h"
#include "AlarmJournal.h"
#include "Project.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>

#include <functional>
#include <vector>

class TagStore;
class TextDatabase;

/// \brief The runtime's alarms: limit and state conditions on process variables, with deadband and
/// on-delay so they do not chatter; states normal, active unacknowledged, active acknowledged and
/// returned unacknowledged; every transition in the journal. An alarm comes after its condition held
/// for the delay, goes when the value is back beyond the deadband, and leaves the list once it is both
/// gone and acknowledged.
///
/// Shelving takes a nuisance alarm off the operator's lists for a while (at most MaxShelveMs). A shelved
/// alarm still comes, goes and is journalled as ever; the group's Acknowledge passes it by, since nobody
/// saw it. It comes back by itself when its time is up, or when the operator unshelves it, in whatever
/// state it then has: one that went and was acknowledged meanwhile (by id) is simply no longer listed.
class AlarmEngine final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AlarmEngine)

public:
    AlarmEngine(TagStore& tags, TextDatabase& texts, QObject* parent);
    ~AlarmEngine() override;

    void setDefinitions(const QList<AlarmGroupDefinition>& groups, const QList<AlarmDefinition>& alarms);
    const QList<AlarmDefinition>& definitions() const { return m_definitions; }
    /// Where acknowledgements take their time from; the runtime hands in its clock.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

    QStringList groupNames() const;
    /// The group object for alarm controls; created on first use, also for names the project lacks.
    AlarmGroup& group(const QString& name);

    /// The alarms of a group that are not back to normal and not shelved, newest first.
    QList<AlarmInfo> alarms(const QString& group) const;
    /// The shelved alarms of a group, whatever their state, the soonest to come back first.
    QList<AlarmInfo> shelvedAlarms(const QString& group) const;
    /// The state of one alarm; an info with an empty id for an unknown one.
    AlarmInfo alarm(const QString& id) const;

    /// Who acknowledges: written with every acknowledgement into the journal. Defaults to this
    /// machine's name and the logged-in user, "host/user".
    void setOperator(const QString& station) { m_operator = station; }
    const QString& operatorName() const { return m_operator; }

    /// Acknowledges every unacknowledged alarm of the group that is not shelved (what an alarm list's
    /// Acknowledge does).
    int acknowledge(const QString& group);
    /// Acknowledges one alarm, shelved or not; false if it is unknown or needs no acknowledgement.
    bool acknowledgeAlarm(const QString& id);
    /// The same for a command from elsewhere (a station through the server): `by` is journalled as who
    /// did it, "station/user", instead of this runtime's operator.
    int acknowledge(const QString& group, const QString& by);
    bool acknowledgeAlarm(const QString& id, const QString& by);

    /// The longest an operator may shelve an alarm: one shift.
    static constexpr qint64 MaxShelveMs = 8 * 60 * 60 * 1000LL;
    /// Shelves an alarm from now for `durationMs` (a shelved one anew); false if the alarm is unknown
    /// or the duration is not within 1 ms .. MaxShelveMs. Journalled with the operator.
    bool shelve(const QString& id, qint64 durationMs);
    /// Brings a shelved alarm back now; false if it is unknown or not shelved. Journalled with the operator.
    bool unshelve(const QString& id);
    bool shelve(const QString& id, qint64 durationMs, const QString& by);
    bool unshelve(const QString& id, const QString& by);

    /// Asked before every command of this runtime's own operator (the overloads without `by`), whether
    /// it is permitted: the action ("acknowledge", "shelve", "unshelve"), the alarm group and the alarm
    /// (empty for a whole group), and how to run the command again. A refusal (non-empty reason) is
    /// announced as commandFailed() and the command does nothing.
    using CommandGate = std::function<QString(const QString& action, const QString& group, const QString& alarm, std::function<void()> retry)>;
    void setCommandGate(CommandGate gate) { m_gate = std::move(gate); }

    /// Mirror mode: the states belong to another engine (the server's). Commands go to `sink` (not owned;
    /// null ends mirror mode), evaluate() does nothing and applyState() brings the states.
    void setCommandSink(AlarmCommandSink* sink) { m_sink = sink; }
    bool isMirror() const { return m_sink != nullptr; }
    /// Takes over the state of one alarm as its owner announced it; false for an unknown id.
    /// `textKey`, when given, names the text shown instead of the definition's.
    bool applyState(const AlarmInfo& state, const QString& textKey = {});
    /// A mirror's own word on one alarm while its owner cannot be heard (a station without its server):
    /// active and unacknowledged since `nowMs`, shown with the text `textKey` of the alarm's text group
    /// until the owner's next state for it.
    bool raiseLocally(const QString& id, const QString& textKey, qint64 nowMs);
    /// A command the sink could not carry out: announced as commandFailed().
    void reportCommandFailed(const QString& what, const QString& reason) { Q_EMIT commandFailed(what, reason); }

    /// Checks every condition against the current values at `nowMs`, and brings back the shelved
    /// alarms whose time is up.
    void evaluate(qint64 nowMs);

    /// Opens the journal and brings back the alarms it left unfinished.
    QString openJournal(const QString& path, QString* notice = nullptr);
    /// The same for a journal in `store` (a database server).
    QString openJournal(std::unique_ptr<AlarmJournalStore> store, QString* notice = nullptr);
    void closeJournal();
    AlarmJournal& journal() { return m_journal; }

Q_SIGNALS:
    /// Carries the group's name; AlarmGroup::changed fires with it.
    void changed(const QString& group);
    /// A mirrored command did not reach the alarms' owner; `what` names the alarm or group.
    void commandFailed(const QString& what, const QString& reason);
    /// A command changed an alarm's state (here, not in a mirror): the action ("acknowledge",
    /// "shelve", "unshelve"), the alarm or group, what came of it, and who ("station/user").
    void commandCarried(const QString& action, const QString& target, const QString& result, const QString& by);

private:
    struct Live {
        AlarmState state = AlarmState::Normal;
        qint64 cameMs = 0;
        qint64 wentMs = 0;
        qint64 acknowledgedMs = 0;
        qint64 pendingSinceMs = -1;
        double value = 0.0;
        qint64 shelvedUntilMs = 0;
        QString acknowledgedBy;
        QString shelvedBy;
        QString textKey;  ///< instead of the definition's while set
    };
    AlarmInfo info(int index) const;
    void record(int index, const QString& event, qint64 timeMs, QList<AlarmJournalEntry>& entries, QSet<QString>& touched,
                const QString& by = {});
    bool acknowledgeAt(int index, qint64 nowMs, const QString& by, QList<AlarmJournalEntry>& entries, QSet<QString>& touched);
    void announce(const QSet<QString>& groups);
    void noteChanged(int index, QSet<QString>& touched);
    void write(const QList<AlarmJournalEntry>& entries);
    /// Whether the gate lets the operator's command through; a refusal is announced.
    bool permitted(const QString& action, const QString& group, const QString& alarm, std::function<void()> retry);

    TagStore& m_tags;
    TextDatabase& m_texts;
    QList<AlarmDefinition> m_definitions;
    std::vector<Live> m_live;
    QHash<QString, int> m_byId;
    QHash<QString, int> m_priority;
    QHash<QString, AlarmGroup*> m_groups;
    AlarmJournal m_journal;
    std::function<qint64()> m_clock;
    QString m_operator;
    AlarmCommandSink* m_sink = nullptr;
    CommandGate m_gate;
    /// Alarms changed since the last announce, in the order they changed.
    QList<int> m_changed;
};
