#pragma once

#include "AlarmJournal.h"

#include <QList>
#include <QObject>
#include <QString>

class AlarmEngine;

/// One alarm as an alarm list shows it. The text is in the runtime's current language.
struct AlarmInfo {
    QString id;
    QString group;
    QString text;
    AlarmState state = AlarmState::Normal;
    qint64 cameMs = 0;
    qint64 wentMs = 0;          ///< 0 while the condition holds
    qint64 acknowledgedMs = 0;  ///< 0 until acknowledged
    int priority = 0;
    QString helpTopic;

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

    /// The group's alarms that are not back to normal, newest first.
    QList<AlarmInfo> alarms() const;
    /// Acknowledges every unacknowledged alarm of the group; returns how many.
    int acknowledge();

Q_SIGNALS:
    /// An alarm of the group came, went or was acknowledged, or the language changed.
    void changed();

private:
    friend class AlarmEngine;
    AlarmEngine& m_engine;
    QString m_name;
    int m_priority = 0;
    bool m_defined = false;
};
