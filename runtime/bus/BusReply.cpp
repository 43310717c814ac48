#include "BusReply.h"

#include "BusJson.h"

QByteArray BusReply::toJson() const
{
    QJsonObject o = fields;
    o.insert(QStringLiteral("ok"), ok);
    if (!ok)
        o.insert(QStringLiteral("reason"), reason);
    return BusJson::compact(o);
}

BusResult<BusReply> BusReply::parse(const QByteArray& json)
{
    try {
        const BusJson r(json, 16 * 1024 * 1024);
        BusReply reply;
        reply.ok = r.boolean("ok");
        if (!reply.ok)
            reply.reason = r.string("reason");
        reply.fields = r.object();
        reply.fields.remove(QStringLiteral("ok"));
        reply.fields.remove(QStringLiteral("reason"));
        return BusResult<BusReply>::success(std::move(reply));
    } catch (const BusJson::Fault& fault) {
        return BusResult<BusReply>::failure(fault.reason);
    }
}
