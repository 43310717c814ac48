#pragma once

#include "AlarmGroup.h"
#include "BusResult.h"
#include "KalvoraTopics.h"
#include "MqttClient.h"

#include <QByteArray>
#include <QHash>
#include <QObject>

class AlarmEngine;
class BusJson;

/// \brief Every alarm's state as a retained message on kalvora/<project>/alarms/<id> (PROTOCOL.md): all
/// of them after each connection, then each one whose state changed, so a station started at any time
/// finds the current states.
class AlarmPublisher final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AlarmPublisher)

public:
    AlarmPublisher(AlarmEngine& alarms, MqttClient& client, const QString& project, QObject* parent);

    /// Every alarm, whatever was published before (after a connection).
    void publishAll();

    /// The retained payload of one alarm, and back. parse() fills what travels (id, group, state,
    /// times, who, value, shelving); number, text, priority and help come from the station's project.
    static QByteArray toJson(const AlarmInfo& alarm);
    static BusResult<AlarmInfo> parse(const QByteArray& json);
    /// The field "state" of `r` as the journal names states; an unknown name fails `r`.
    static AlarmState stateOf(const BusJson& r);

private:
    void publishGroup(const QString& group, bool always);

    AlarmEngine& m_alarms;
    MqttClient& m_client;
    KalvoraTopics m_topics;
    QHash<QString, QByteArray> m_published;  ///< by alarm id, what went out last
};
