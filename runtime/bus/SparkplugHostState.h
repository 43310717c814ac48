#pragma once

#include "BusResult.h"

#include <QByteArray>

/// \brief The payload of a host application's STATE topic: JSON {"online": bool, "timestamp": ms}.
/// Published retained with QoS 1; the offline form is the host's will, stamped at connection time.
struct SparkplugHostState {
    bool online = false;
    qint64 timestampMs = 0;

    QByteArray toJson() const;
    static BusResult<SparkplugHostState> parse(const QByteArray& json);
    bool operator==(const SparkplugHostState&) const = default;
};
