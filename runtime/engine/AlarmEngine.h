#pragma once

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

    /// The alarms of a group that are not back to normal, newest first.
    QList<AlarmInfo> alarms(const QString& group) const;
    /// The state of one alarm; an info with an empty id for an unknown one.
    AlarmInfo alarm(const QString& id) const;

    /// Who acknowledges: written with every acknowledgement into the journal. Defaults to this
    /// machine's name and the logged-in user, "host/user".
    void setOperator(const QString& station) { m_operator = station; }
    const QString& operatorName() const { return m_operator; }

    /// Acknowledges every unacknowledged alarm of the group (what an alarm list's Acknowledge does).
    int acknowledge(const QString& group);
    /// Acknowledges one alarm; false if it is unknown or needs no acknowledgement.
    bool acknowledgeAlarm(const QString& id);

    /// Checks every condition against the current values at `nowMs`.
    void evaluate(qint64 nowMs);

    /// Opens the journal and brings back the alarms it left unfinished.
    QString openJournal(const QString& path, QString* notice = nullptr);
    void closeJournal();
    AlarmJournal& journal() { return m_journal; }

Q_SIGNALS:
    /// Carries the group's name; AlarmGroup::changed fires with it.
    void changed(const QString& group);

private:
    struct Live {
        AlarmState state = AlarmState::Normal;
        qint64 cameMs = 0;
        qint64 wentMs = 0;
        qint64 acknowledgedMs = 0;
        qint64 pendingSinceMs = -1;
        double value = 0.0;
    };
    AlarmInfo info(int index) const;
    void record(int index, const QString& event, qint64 timeMs, QList<AlarmJournalEntry>& entries, QSet<QString>& touched);
    bool acknowledgeAt(int index, qint64 nowMs, QList<AlarmJournalEntry>& entries, QSet<QString>& touched);
    void announce(const QSet<QString>& groups);
    void noteChanged(int index, QSet<QString>& touched);
    void write(const QList<AlarmJournalEntry>& entries);

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
    /// Alarms changed since the last announce, in the order they changed.
    QList<int> m_changed;
};
