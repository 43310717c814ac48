#include "ServerStatus.h"

#include "BusJson.h"

#include <QJsonObject>

QByteArray ServerStatus::toJson() const
{
    return BusJson::compact(QJsonObject{{QStringLiteral("online"), online}, {QStringLiteral("fingerprint"), fingerprint},
        {QStringLiteral("startedMs"), startedMs}, {QStringLiteral("protocol"), protocol}});
}

BusResult<ServerStatus> ServerStatus::parse(const QByteArray& json)
{
    try {
        const BusJson r(json, 4096, {QStringLiteral("online"), QStringLiteral("fingerprint"), QStringLiteral("startedMs"), QStringLiteral("protocol")});
        ServerStatus status;
        status.online = r.boolean("online");
        status.fingerprint = r.string("fingerprint");
        status.startedMs = r.whole("startedMs", 0);
        status.protocol = static_cast<int>(r.whole("protocol", 1, 1000));
        return BusResult<ServerStatus>::success(status);
    } catch (const BusJson::Fault& fault) {
        return BusResult<ServerStatus>::failure(fault.reason);
    }
}
