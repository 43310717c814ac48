#pragma once

#include "MqttClient.h"

#include <QString>

/// \brief Where and as whom a server or a station logs in to the broker: a broker URL
/// (mqtt://host:port, mqtts://host:port) and a settings file, JSON, read through the project's JSON
/// reader (unknown or doubled fields refused):
///     {"broker": "mqtt://127.0.0.1:1883", "user": "A", "password": "...",
///      "caFile": "...", "certFile": "...", "keyFile": "..."}
/// Only "broker" is required. mqtts without a CA file trusts the system's certificate bundle.
class BrokerSettings final {
public:
    static constexpr quint16 defaultPort = 1883;
    static constexpr quint16 defaultTlsPort = 8883;

    struct Result {
        MqttSettings settings;
        QString error;  ///< names the file and the field, or the URL
        bool ok() const { return error.isEmpty(); }
    };

    /// Host and port (and TLS for mqtts) from `url` into `settings`; the reason when it is no broker URL.
    static QString applyUrl(const QString& url, MqttSettings& settings);
    static Result readFile(const QString& path);
    /// A station's log-in: the settings file `path` (--station), its broker replaced by `url` (--server)
    /// when given; the file must name the user, which is the station's name.
    static Result stationLogIn(const QString& path, const QString& url);
    /// The JSON of a settings file (what --write-broker-config writes).
    static QByteArray toJson(const QString& url, const QString& user, const QString& password);
};
