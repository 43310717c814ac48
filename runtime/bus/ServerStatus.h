#pragma once

#include "BusResult.h"

#include <QByteArray>
#include <QString>

/// \brief The retained payload of kalvora/<project>/server: whether the server is up, the fingerprint
/// of the project it runs and when it started. The offline form is its will.
struct ServerStatus {
    static constexpr int ProtocolVersion = 1;

    bool online = false;
    QString fingerprint;
    qint64 startedMs = 0;
    int protocol = ProtocolVersion;
    /// The project runs with access control: stations sign in and carry the session.
    bool access = false;

    QByteArray toJson() const;
    static BusResult<ServerStatus> parse(const QByteArray& json);
    bool operator==(const ServerStatus&) const = default;
};
