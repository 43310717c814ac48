#include "BusRequest.h"

#include "BusJson.h"
#include "Credentials.h"

#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <array>
#include <utility>

namespace {

using Op = BusRequest::Op;

constexpr std::array<std::pair<Op, const char*>, 14> opNames{{
    {Op::Write, "write"},
    {Op::Acknowledge, "acknowledge"},
    {Op::AcknowledgeAlarm, "acknowledgeAlarm"},
    {Op::Shelve, "shelve"},
    {Op::Unshelve, "unshelve"},
    {Op::Reduced, "reduced"},
    {Op::Range, "range"},
    {Op::JournalPage, "journalPage"},
    {Op::JournalCount, "journalCount"},
    {Op::Catalogue, "catalogue"},
    {Op::SignIn, "signIn"},
    {Op::SignOut, "signOut"},
    {Op::Sessions, "sessions"},
    {Op::EndSession, "endSession"},
}};

// The fields each operation takes, beside op, user and session.
QStringList fieldsOf(Op op)
{
    switch (op) {
    case Op::Write: return {QStringLiteral("variable"), QStringLiteral("value")};
    case Op::Acknowledge: return {QStringLiteral("group")};
    case Op::AcknowledgeAlarm:
    case Op::Unshelve: return {QStringLiteral("id")};
    case Op::Shelve: return {QStringLiteral("id"), QStringLiteral("durationMs")};
    case Op::Reduced:
        return {QStringLiteral("archive"), QStringLiteral("trend"), QStringLiteral("from"), QStringLiteral("to"), QStringLiteral("buckets")};
    case Op::Range: return {QStringLiteral("archive"), QStringLiteral("trend"), QStringLiteral("from"), QStringLiteral("to")};
    case Op::JournalPage: return {QStringLiteral("filter"), QStringLiteral("before"), QStringLiteral("limit")};
    case Op::JournalCount: return {QStringLiteral("filter")};
    case Op::SignIn: return {QStringLiteral("password")};
    case Op::EndSession: return {QStringLiteral("id")};
    case Op::Catalogue:
    case Op::SignOut:
    case Op::Sessions: return {};
    }
    return {};
}

QVariant writeValue(const BusJson& r)
{
    const QJsonValue v = r.value("value");
    if (v.isBool())
        return v.toBool();
    if (v.isString())
        return v.toString();
    if (v.isDouble()) {
        // Whole numbers go on as integers, as a local control writes them: a Bool variable takes 1/0.
        const double d = v.toDouble();
        if (std::abs(d) <= static_cast<double>(BusJson::maxWhole) && d == std::trunc(d))
            return QVariant(static_cast<qlonglong>(d));
        return d;
    }
    r.fail("value", QStringLiteral("expected true, false, a number or a text"));
}

} // namespace

QString BusRequest::opName(Op op)
{
    for (const auto& [o, name] : opNames)
        if (o == op)
            return QLatin1String(name);
    return {};
}

BusResult<BusRequest> BusRequest::parse(const QByteArray& json)
{
    try {
        const BusJson r(json, maxBytes);
        BusRequest q;
        const QString op = r.string("op", std::nullopt, 64);
        const auto found = std::find_if(opNames.begin(), opNames.end(), [&](const auto& entry) { return op == QLatin1String(entry.second); });
        if (found == opNames.end())
            r.fail("op", QStringLiteral("unknown operation \"%1\"").arg(op));
        q.op = found->first;
        r.only(fieldsOf(q.op) << QStringLiteral("op") << QStringLiteral("user") << QStringLiteral("session"));
        q.user = r.string("user", std::nullopt, maxUserLength);
        q.session = r.string("session", QString(), maxUserLength);
        switch (q.op) {
        case Op::Write:
            q.variable = r.string("variable");
            q.value = writeValue(r);
            break;
        case Op::Acknowledge:
            q.group = r.string("group");
            break;
        case Op::Shelve:
            q.durationMs = r.whole("durationMs", 1);
            [[fallthrough]];
        case Op::AcknowledgeAlarm:
        case Op::Unshelve:
            q.id = r.string("id");
            break;
        case Op::Reduced:
            q.buckets = static_cast<int>(r.whole("buckets", 1, maxBuckets));
            [[fallthrough]];
        case Op::Range:
            q.archive = r.string("archive");
            q.trend = r.string("trend");
            q.from = r.whole("from", -BusJson::maxWhole);
            q.to = r.whole("to", q.from);
            if (q.op == Op::Range && q.to - q.from > maxRangeSpanMs)
                r.fail("to", QStringLiteral("a range reads at most %1 ms at a time").arg(maxRangeSpanMs));
            break;
        case Op::JournalPage:
            q.before = r.whole("before");
            q.limit = static_cast<int>(r.whole("limit", 1, maxPageLimit));
            [[fallthrough]];
        case Op::JournalCount: {
            const BusJson f(r.nested("filter"), QStringLiteral("filter"),
                {QStringLiteral("alarm"), QStringLiteral("group"), QStringLiteral("from"), QStringLiteral("until")});
            q.filterAlarm = f.string("alarm", QString());
            q.filterGroup = f.string("group", QString());
            q.filterFrom = f.whole("from", -BusJson::maxWhole, BusJson::maxWhole, 0);
            q.filterUntil = f.has("until") ? f.whole("until", -BusJson::maxWhole) : std::numeric_limits<qint64>::max();
            break;
        }
        case Op::SignIn:
            // Long enough for any password the accounts take; the runtime refuses one above its limit.
            q.password = r.string("password", std::nullopt, Credentials::maxPasswordBytes + 1);
            break;
        case Op::EndSession:
            q.id = r.string("id");
            break;
        case Op::Catalogue:
        case Op::SignOut:
        case Op::Sessions:
            break;
        }
        return BusResult<BusRequest>::success(std::move(q));
    } catch (const BusJson::Fault& fault) {
        return BusResult<BusRequest>::failure(fault.reason);
    }
}

QByteArray BusRequest::toJson() const
{
    QJsonObject o{{QStringLiteral("op"), opName(op)}, {QStringLiteral("user"), user}};
    if (!session.isEmpty())
        o.insert(QStringLiteral("session"), session);
    switch (op) {
    case Op::Write:
        o.insert(QStringLiteral("variable"), variable);
        o.insert(QStringLiteral("value"), QJsonValue::fromVariant(value));
        break;
    case Op::Acknowledge:
        o.insert(QStringLiteral("group"), group);
        break;
    case Op::Shelve:
        o.insert(QStringLiteral("durationMs"), durationMs);
        [[fallthrough]];
    case Op::AcknowledgeAlarm:
    case Op::Unshelve:
        o.insert(QStringLiteral("id"), id);
        break;
    case Op::Reduced:
        o.insert(QStringLiteral("buckets"), buckets);
        [[fallthrough]];
    case Op::Range:
        o.insert(QStringLiteral("archive"), archive);
        o.insert(QStringLiteral("trend"), trend);
        o.insert(QStringLiteral("from"), from);
        o.insert(QStringLiteral("to"), to);
        break;
    case Op::JournalPage:
        o.insert(QStringLiteral("before"), before);
        o.insert(QStringLiteral("limit"), limit);
        [[fallthrough]];
    case Op::JournalCount: {
        QJsonObject filter;
        if (!filterAlarm.isEmpty())
            filter.insert(QStringLiteral("alarm"), filterAlarm);
        if (!filterGroup.isEmpty())
            filter.insert(QStringLiteral("group"), filterGroup);
        if (filterFrom != 0)
            filter.insert(QStringLiteral("from"), filterFrom);
        if (filterUntil != std::numeric_limits<qint64>::max())
            filter.insert(QStringLiteral("until"), filterUntil);
        o.insert(QStringLiteral("filter"), filter);
        break;
    }
    case Op::SignIn:
        o.insert(QStringLiteral("password"), password);
        break;
    case Op::EndSession:
        o.insert(QStringLiteral("id"), id);
        break;
    case Op::Catalogue:
    case Op::SignOut:
    case Op::Sessions:
        break;
    }
    return BusJson::compact(o);
}
