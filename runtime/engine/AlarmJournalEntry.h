#pragma once

#include <QString>

#include <limits>

enum class AlarmState { Normal, ActiveUnacknowledged, ActiveAcknowledged, ReturnedUnacknowledged };

/// One transition of one alarm, with the alarm's times after it.
struct AlarmJournalEntry {
    qint64 timeMs = 0;
    QString alarm;
    QString group;
    QString event; ///< "came", "went", "acknowledged", "shelved", "unshelved" or "shelve-expired"
    AlarmState state = AlarmState::Normal;
    qint64 cameMs = 0;
    qint64 wentMs = 0;
    qint64 acknowledgedMs = 0;
    double value = 0.0;
    QString station; ///< who acknowledged, shelved or unshelved ("host/user"); empty for the process and the clock
    qint64 id = 0;   ///< the entry's place in the journal, rising; set when read back
    qint64 shelvedUntilMs = 0; ///< when a shelved alarm comes back by itself; 0 while not shelved
};

/// Which journal entries a history asks for: one alarm or a whole group, within a time span.
struct AlarmJournalFilter {
    QString alarm;  ///< empty: every alarm of the group
    QString group;  ///< empty: every group
    qint64 fromMs = 0;
    qint64 untilMs = std::numeric_limits<qint64>::max();
};
