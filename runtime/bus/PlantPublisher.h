#pragma once

#include "MqttClient.h"
#include "SparkplugEdgeSession.h"
#include "SparkplugPayload.h"
#include "SparkplugTopic.h"
#include "TagStore.h"

#include <QObject>
#include <QSet>
#include <QStringList>

#include <functional>

/// \brief The runtime's process variables as a Sparkplug B edge node (PROTOCOL.md): a birth of every
/// variable at each connection and on request, data by exception coalesced per turn of the event loop,
/// and the death as the connection's will.
class PlantPublisher final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PlantPublisher)

public:
    static constexpr QLatin1StringView groupId{"Kalvora"};

    /// The variables are those `tags` defines now: create it once the project is loaded.
    PlantPublisher(TagStore& tags, MqttClient& client, QString edgeNodeId, std::function<qint64()> clock, QObject* parent);

    /// Before each connection attempt: the next bdSeq, and the death registered as the attempt's will.
    void beginConnection();
    /// The NDEATH of the current bdSeq, as will or to publish on an orderly stop.
    MqttMessage death() const;
    /// NBIRTH of every variable; data follow from here on.
    void publishBirth();
    /// An NCMD for this node: a rebirth request is honoured, anything else is logged and ignored.
    void handleCommand(const MqttMessage& message);

    QString topic(SparkplugMessageType type) const;
    quint64 bdSeq() const { return m_session.bdSeq(); }

    /// How the runtime's types and qualities travel, both ways.
    static SparkplugDataType dataTypeOf(TagType type);
    static SparkplugQuality qualityOf(TagQuality quality);
    static TagQuality tagQualityOf(SparkplugQuality quality);
    static SparkplugMetric metricOf(const TagDefinition& definition, const TagValue& value, quint64 alias);

Q_SIGNALS:
    void birthPublished();
    void dataPublished(int metrics);

private:
    void flush();

    TagStore& m_tags;
    MqttClient& m_client;
    QString m_edgeNodeId;
    std::function<qint64()> m_clock;
    SparkplugEdgeSession m_session;
    QStringList m_names;   ///< sorted; alias = place + 1
    QSet<int> m_changed;   ///< places changed since the last message
    bool m_flushScheduled = false;
    bool m_born = false;
};
