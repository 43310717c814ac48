#pragma once

#include "SparkplugPayload.h"

/// \brief The counters of one Sparkplug edge node: bdSeq, which ties a birth to the death the broker
/// holds as will (one more on every new connection, 0 after 255), and seq, which numbers every birth
/// and data message from 0 to 255 and wraps.
class SparkplugEdgeSession final {
public:
    /// Before every connection attempt: the next bdSeq (the first call gives 0). Register death() as
    /// the will of that attempt.
    void beginConnection();
    quint64 bdSeq() const { return m_bdSeq; }

    /// NDEATH: bdSeq alone, no sequence number.
    SparkplugPayload death() const;
    /// NBIRTH: seq restarts at 0; bdSeq and "Node Control/Rebirth" (false) come first, then `metrics`.
    SparkplugPayload birth(QList<SparkplugMetric> metrics, qint64 nowMs);
    /// NDATA: the next seq.
    SparkplugPayload data(QList<SparkplugMetric> metrics, qint64 nowMs);

    /// The seq that follows `seq`.
    static quint64 nextSeq(quint64 seq) { return (seq + 1) % 256; }
    /// Whether a decoded NCMD asks for a new birth.
    static bool isRebirthRequest(const SparkplugPayload& command);

private:
    quint64 m_bdSeq = 255;  // so that the first connection gets 0
    quint64 m_seq = 0;
};
