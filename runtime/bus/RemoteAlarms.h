#pragma once

#include "AlarmCommandSink.h"
#include "BusRequest.h"
#include "KalvoraTopics.h"
#include "MqttClient.h"

#include <QObject>
#include <QSet>

#include <functional>

class AlarmEngine;
class RequestClient;

/// \brief A station's alarms as the server holds them: the retained state of each alarm is applied to
/// the station's alarm engine (in mirror mode), and the operator's commands go to the server as
/// requests; a command that fails is reported through the engine.
class RemoteAlarms final : public QObject, public AlarmCommandSink {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RemoteAlarms)

public:
    RemoteAlarms(AlarmEngine& alarms, RequestClient& requests, const KalvoraTopics& topics, std::function<QString()> user,
                 QObject* parent);

    /// Applies the message if it is an alarm state: true then, also when it was dropped as malformed.
    bool handle(const MqttMessage& message);
    /// True once every alarm of the project that can travel has a state from the server.
    bool complete() const { return m_seen.size() >= m_expected; }

    void acknowledge(const QString& group) override;
    void acknowledgeAlarm(const QString& id) override;
    void shelve(const QString& id, qint64 durationMs) override;
    void unshelve(const QString& id) override;

private:
    void command(BusRequest::Op op, const QString& what, const std::function<void(BusRequest&)>& fill);

    AlarmEngine& m_alarms;
    RequestClient& m_requests;
    KalvoraTopics m_topics;
    std::function<QString()> m_user;
    QSet<QString> m_seen;
    qsizetype m_expected = 0;
};
