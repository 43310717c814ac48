#pragma once

#include <QString>

/// \brief Where an alarm engine that mirrors another one (a station of a server) sends the operator's
/// alarm commands instead of changing states itself; the new states come back as applyState().
class AlarmCommandSink {
public:
    virtual ~AlarmCommandSink() = default;
    virtual void acknowledge(const QString& group) = 0;
    virtual void acknowledgeAlarm(const QString& id) = 0;
    virtual void shelve(const QString& id, qint64 durationMs) = 0;
    virtual void unshelve(const QString& id) = 0;
};
