#include "ServerStatus.h"

#include "BusJson.h"

#include <QJsonObject>

QByteArray ServerStatus::toJson() const
{
    QJsonObject o{{QStringLiteral("online"), online}, {QStringLiteral("fingerprint"), fingerprint}, {QStringLiteral("startedMs"), startedMs},
        {QStringLiteral("protocol"), protocol}};
    // Only when on: the status of an open project stays as stations without sign-in know it.
    if (access)
        o.insert(QStringLiteral("access"), true);
    return BusJson::compact(o);
}

BusResult<ServerStatus> ServerStatus::parse(const QByteArray& json)
{
    try {
        const BusJson r(json, 4096, {QStringLiteral("online"), QStringLiteral("fingerprint"), QStringLiteral("startedMs"), QStringLiteral("protocol"), QStringLiteral("access")});
        ServerStatus status;
        status.online = r.boolean("online");
        status.fingerprint = r.string("fingerprint");
        status.startedMs = r.whole("startedMs", 0);
        status.protocol = static_cast<int>(r.whole("protocol", 1, 1000));
        status.access = r.boolean("access", false);
        return BusResult<ServerStatus>::success(status);
    } catch (const BusJson::Fault& fault) {
        return BusResult<ServerStatus>::failure(fault.reason);
    }
}
