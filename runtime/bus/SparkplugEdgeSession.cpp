#include "SparkplugEdgeSession.h"

#include "SparkplugCodec.h"

namespace {

SparkplugMetric bdSeqMetric(quint64 bdSeq, qint64 nowMs)
{
    return {QString(SparkplugCodec::bdSeqMetric), std::nullopt, static_cast<quint64>(nowMs), SparkplugDataType::Int64,
        QVariant(static_cast<qlonglong>(bdSeq)), SparkplugQuality::Good};
}

} // namespace

void SparkplugEdgeSession::beginConnection()
{
    m_bdSeq = nextSeq(m_bdSeq);
}

SparkplugPayload SparkplugEdgeSession::death() const
{
    SparkplugPayload payload;
    SparkplugMetric bdSeq = bdSeqMetric(m_bdSeq, 0);
    bdSeq.timestampMs.reset();  // the broker sends it, at a time nobody knows now
    payload.metrics << bdSeq;
    return payload;
}

SparkplugPayload SparkplugEdgeSession::birth(QList<SparkplugMetric> metrics, qint64 nowMs)
{
    m_seq = 0;
    SparkplugPayload payload;
    payload.timestampMs = static_cast<quint64>(nowMs);
    payload.seq = m_seq;
    payload.metrics << bdSeqMetric(m_bdSeq, nowMs)
                    << SparkplugMetric{QString(SparkplugCodec::rebirthMetric), std::nullopt, static_cast<quint64>(nowMs),
                           SparkplugDataType::Boolean, QVariant(false), SparkplugQuality::Good};
    payload.metrics << metrics;
    return payload;
}

SparkplugPayload SparkplugEdgeSession::data(QList<SparkplugMetric> metrics, qint64 nowMs)
{
    m_seq = nextSeq(m_seq);
    SparkplugPayload payload;
    payload.timestampMs = static_cast<quint64>(nowMs);
    payload.seq = m_seq;
    payload.metrics = std::move(metrics);
    return payload;
}

bool SparkplugEdgeSession::isRebirthRequest(const SparkplugPayload& command)
{
    const SparkplugMetric* rebirth = command.metric(SparkplugCodec::rebirthMetric);
    return rebirth && rebirth->type == SparkplugDataType::Boolean && rebirth->value.toBool();
}
