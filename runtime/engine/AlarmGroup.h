#pragma once

#include "AlarmJournal.h"

#include <QList>
#include <QObject>
#include <QString>

class AlarmEngine;

/// One alarm as an alarm list shows it. The text is in the runtime's current language.
struct AlarmInfo {
    QString id;
    int number = 0;             ///< place in the project's alarm list, from 1; 0 for an unknown alarm
    QString group;
    QString text;
    AlarmState state = AlarmState::Normal;
    qint64 cameMs = 0;
    qint64 wentMs = 0;          ///< 0 while the condition holds
    qint64 acknowledgedMs = 0;  ///< 0 until acknowledged
    int priority = 0;
    QString helpTopic;
    double value = 0.0;         ///< the process value at the last transition
    qint64 shelvedUntilMs = 0;  ///< while shelved, when it comes back by itself; 0 when not shelved
    QString acknowledgedBy;     ///< "station/user" of the acknowledgement; empty until acknowledged
    QString shelvedBy;          ///< "station/user" who shelved it; empty when not shelved

    bool isShelved() const { return shelvedUntilMs > 0; }
    bool isActive() const { return state == AlarmState::ActiveUnacknowledged || state == AlarmState::ActiveAcknowledged; }
    bool isAcknowledged() const { return state == AlarmState::ActiveAcknowledged; }
};

/// \brief One alarm group, as alarm lines and lists bind to it: its current alarms and a change signal
/// that fires only for this group. A group the project does not define stays empty.
class AlarmGroup final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AlarmGroup)

public:
    AlarmGroup(AlarmEngine& engine, QString name, QObject* parent);

    const QString& name() const { return m_name; }
    int priority() const { return m_priority; }
    bool isDefined() const { return m_defined; }

    /// The group's alarms that are not back to normal and not shelved, newest first.
    QList<AlarmInfo> alarms() const;
    /// The group's shelved alarms, whatever their state, the soonest to come back first.
    QList<AlarmInfo> shelvedAlarms() const;
    /// Acknowledges every unacknowledged alarm of the group that is not shelved; returns how many.
    int acknowledge();

Q_SIGNALS:
    /// One alarm of the group came, went, was acknowledged, shelved or unshelved; `changed` follows
    /// once for the batch.
    void alarmChanged(const QString& id);
    /// Something in the group changed: after a batch of alarmChanged, or alone when the language or
    /// the definitions changed and every alarm should be read anew.
    void changed();

private:
    friend class AlarmEngine;
    AlarmEngine& m_engine;
    QString m_name;
    int m_priority = 0;
    bool m_defined = false;
};
