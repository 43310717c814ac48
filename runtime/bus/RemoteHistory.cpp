#include "RemoteHistory.h"

#include "BusJson.h"
#include "BusReply.h"
#include "BusRequest.h"
#include "RequestClient.h"

#include <QJsonArray>

namespace {

void filterInto(BusRequest& q, const AlarmJournalFilter& filter)
{
    q.filterAlarm = filter.alarm;
    q.filterGroup = filter.group;
    q.filterFrom = filter.fromMs;
    q.filterUntil = filter.untilMs;
}

} // namespace

RemoteHistory::RemoteHistory(RequestClient& requests, std::function<QString()> user)
    : m_requests(requests)
    , m_user(std::move(user))
{
}

BusRequest RemoteHistory::request(BusRequest::Op op) const
{
    BusRequest q;
    q.op = op;
    q.user = m_user();
    return q;
}

QList<ArchiveSample> RemoteHistory::samplesOf(const BusReply& reply, QString* error)
{
    QList<ArchiveSample> samples;
    const QJsonValue value = reply.fields.value(QStringLiteral("samples"));
    if (!value.isArray()) {
        *error = QStringLiteral("the answer holds no samples");
        return {};
    }
    const QJsonArray array = value.toArray();
    samples.reserve(array.size());
    for (const QJsonValue& v : array) {
        const QJsonArray pair = v.toArray();
        if (pair.size() != 2 || !pair.at(0).isDouble() || !pair.at(1).isDouble()) {
            *error = QStringLiteral("a sample of the answer is not [time, value]");
            return {};
        }
        samples.append({static_cast<qint64>(pair.at(0).toDouble()), pair.at(1).toDouble()});
    }
    return samples;
}

QList<AlarmJournalEntry> RemoteHistory::entriesOf(const BusReply& reply, QString* error)
{
    QList<AlarmJournalEntry> entries;
    try {
        const QJsonValue value = reply.fields.value(QStringLiteral("entries"));
        if (!value.isArray())
            throw BusJson::Fault{QStringLiteral("the answer holds no entries")};
        for (const QJsonValue& v : value.toArray()) {
            const BusJson r(v.toObject(), QStringLiteral("entries"),
                {QStringLiteral("id"), QStringLiteral("timeMs"), QStringLiteral("alarm"), QStringLiteral("group"), QStringLiteral("event"),
                 QStringLiteral("state"), QStringLiteral("cameMs"), QStringLiteral("wentMs"), QStringLiteral("acknowledgedMs"),
                 QStringLiteral("value"), QStringLiteral("station"), QStringLiteral("shelvedUntilMs")});
            AlarmJournalEntry e;
            e.id = r.whole("id");
            e.timeMs = r.whole("timeMs");
            e.alarm = r.string("alarm");
            e.group = r.string("group");
            e.event = r.string("event");
            e.state = AlarmJournal::stateFromName(r.string("state"));
            e.cameMs = r.whole("cameMs");
            e.wentMs = r.whole("wentMs");
            e.acknowledgedMs = r.whole("acknowledgedMs");
            e.value = r.number("value");
            e.station = r.string("station");
            e.shelvedUntilMs = r.whole("shelvedUntilMs");
            entries.append(e);
        }
    } catch (const BusJson::Fault& fault) {
        *error = fault.reason;
        return {};
    }
    return entries;
}

void RemoteHistory::askSamples(const BusRequest& q, QObject* context, Samples done)
{
    m_requests.send(q, context, [done = std::move(done)](const BusReply& reply) {
        QString error = reply.reason;
        const QList<ArchiveSample> samples = reply.ok ? samplesOf(reply, &error) : QList<ArchiveSample>{};
        done(samples, error);
    });
}

void RemoteHistory::reduced(const QString& archive, const QString& trend, qint64 from, qint64 to, int buckets, QObject* context,
                            Samples done)
{
    BusRequest q = request(BusRequest::Op::Reduced);
    q.archive = archive;
    q.trend = trend;
    q.from = from;
    q.to = to;
    q.buckets = buckets;
    askSamples(q, context, std::move(done));
}

void RemoteHistory::range(const QString& archive, const QString& trend, qint64 from, qint64 to, QObject* context, Samples done)
{
    BusRequest q = request(BusRequest::Op::Range);
    q.archive = archive;
    q.trend = trend;
    q.from = from;
    q.to = to;
    askSamples(q, context, std::move(done));
}

void RemoteHistory::journalPage(const AlarmJournalFilter& filter, qint64 beforeId, int limit, QObject* context, Entries done)
{
    BusRequest q = request(BusRequest::Op::JournalPage);
    filterInto(q, filter);
    q.before = beforeId;
    q.limit = limit;
    m_requests.send(q, context, [done = std::move(done)](const BusReply& reply) {
        QString error = reply.reason;
        const QList<AlarmJournalEntry> entries = reply.ok ? entriesOf(reply, &error) : QList<AlarmJournalEntry>{};
        done(entries, error);
    });
}

void RemoteHistory::journalCount(const AlarmJournalFilter& filter, QObject* context, Count done)
{
    BusRequest q = request(BusRequest::Op::JournalCount);
    filterInto(q, filter);
    m_requests.send(q, context, [done = std::move(done)](const BusReply& reply) {
        const QJsonValue count = reply.fields.value(QStringLiteral("count"));
        if (reply.ok && !count.isDouble())
            return done(0, QStringLiteral("the answer holds no count"));
        done(reply.ok ? static_cast<qint64>(count.toDouble()) : 0, reply.reason);
    });
}
