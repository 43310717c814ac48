#include "PlantPublisher.h"

#include "BusLog.h"
#include "SparkplugCodec.h"
#include "SparkplugTopic.h"

#include <QTimer>

#include <algorithm>

PlantPublisher::PlantPublisher(TagStore& tags, MqttClient& client, QString edgeNodeId, std::function<qint64()> clock, QObject* parent)
    : QObject(parent)
    , m_tags(tags)
    , m_client(client)
    , m_edgeNodeId(std::move(edgeNodeId))
    , m_clock(std::move(clock))
    , m_names(tags.names())
{
    for (qsizetype i = 0; i < m_names.size(); ++i)
        m_tags.subscribe(m_names.at(i), this, [this, place = static_cast<int>(i)](const TagValue&) {
            if (!m_born)
                return;
            m_changed.insert(place);
            // Everything that changes in one turn of the event loop (one runtime tick) goes out together.
            if (!m_flushScheduled) {
                m_flushScheduled = true;
                QTimer::singleShot(0, this, &PlantPublisher::flush);
            }
        });
}

QString PlantPublisher::topic(SparkplugMessageType type) const
{
    return SparkplugTopic::node(type, QString(groupId), m_edgeNodeId).toString();
}

void PlantPublisher::beginConnection()
{
    m_born = false;
    m_changed.clear();
    m_session.beginConnection();
    const MqttMessage will = death();
    m_client.setWill(MqttWill{will.topic, will.payload, will.qos, will.retain});
}

MqttMessage PlantPublisher::death() const
{
    return {topic(SparkplugMessageType::NDEATH), SparkplugCodec::encode(m_session.death(), SparkplugMessageType::NDEATH), 1, false, {}, {}};
}

SparkplugDataType PlantPublisher::dataTypeOf(TagType type)
{
    switch (type) {
    case TagType::Bool: return SparkplugDataType::Boolean;
    case TagType::Int: return SparkplugDataType::Int64;
    case TagType::Double: return SparkplugDataType::Double;
    case TagType::String: return SparkplugDataType::String;
    }
    return SparkplugDataType::Unknown;
}

SparkplugQuality PlantPublisher::qualityOf(TagQuality quality)
{
    switch (quality) {
    case TagQuality::Good: return SparkplugQuality::Good;
    case TagQuality::Bad: return SparkplugQuality::Bad;
    case TagQuality::NotDelivered: return SparkplugQuality::Stale;
    }
    return SparkplugQuality::Bad;
}

TagQuality PlantPublisher::tagQualityOf(SparkplugQuality quality)
{
    switch (quality) {
    case SparkplugQuality::Good: return TagQuality::Good;
    case SparkplugQuality::Bad: return TagQuality::Bad;
    case SparkplugQuality::Stale: return TagQuality::NotDelivered;
    }
    return TagQuality::Bad;
}

SparkplugMetric PlantPublisher::metricOf(const TagDefinition& definition, const TagValue& value, quint64 alias)
{
    return {definition.name, alias, static_cast<quint64>(std::max<qint64>(0, value.timestampMs)), dataTypeOf(definition.type), value.value,
        qualityOf(value.quality)};
}

void PlantPublisher::publishBirth()
{
    QList<SparkplugMetric> metrics;
    metrics.reserve(m_names.size());
    for (qsizetype i = 0; i < m_names.size(); ++i)
        if (const TagDefinition* def = m_tags.definition(m_names.at(i)))
            metrics << metricOf(*def, m_tags.value(m_names.at(i)), static_cast<quint64>(i + 1));
    const SparkplugPayload birth = m_session.birth(std::move(metrics), m_clock());
    m_changed.clear();
    if (m_client.publish({topic(SparkplugMessageType::NBIRTH), SparkplugCodec::encode(birth, SparkplugMessageType::NBIRTH), 0, false, {}, {}}) < 0)
        return;
    m_born = true;
    qCInfo(busLog).noquote() << QStringLiteral("Birth of %1 variables, bdSeq %2").arg(m_names.size()).arg(m_session.bdSeq());
    Q_EMIT birthPublished();
}

void PlantPublisher::flush()
{
    m_flushScheduled = false;
    if (m_changed.isEmpty() || !m_born)
        return;
    QList<int> places(m_changed.begin(), m_changed.end());
    m_changed.clear();
    std::sort(places.begin(), places.end());
    QList<SparkplugMetric> metrics;
    metrics.reserve(places.size());
    for (int place : std::as_const(places)) {
        const QString& name = m_names.at(place);
        if (const TagDefinition* def = m_tags.definition(name)) {
            SparkplugMetric metric = metricOf(*def, m_tags.value(name), static_cast<quint64>(place + 1));
            metric.name.clear();  // the birth's alias says which
            metrics << metric;
        }
    }
    const SparkplugPayload data = m_session.data(std::move(metrics), m_clock());
    // A message the client cannot take now is not lost: the next connection begins with a birth.
    if (m_client.publish({topic(SparkplugMessageType::NDATA), SparkplugCodec::encode(data, SparkplugMessageType::NDATA), 0, false, {}, {}}) >= 0)
        Q_EMIT dataPublished(static_cast<int>(data.metrics.size()));
}

void PlantPublisher::handleCommand(const MqttMessage& message)
{
    const auto command = SparkplugCodec::decode(message.payload, SparkplugMessageType::NCMD);
    if (!command.ok()) {
        qCWarning(busLog).noquote() << QStringLiteral("Command on %1 dropped: %2").arg(message.topic, command.error);
        return;
    }
    if (SparkplugEdgeSession::isRebirthRequest(*command.value)) {
        publishBirth();
        return;
    }
    qCWarning(busLog).noquote() << QStringLiteral("Command on %1 ignored: only \"%2\" is taken; writes come as requests")
                                       .arg(message.topic, SparkplugCodec::rebirthMetric);
}
