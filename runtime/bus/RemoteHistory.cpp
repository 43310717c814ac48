#include "RemoteHistory.h"

#include "AlarmPublisher.h"
#include "BusJson.h"
#include "BusReply.h"
#include "BusRequest.h"
#include "RequestClient.h"

#include <QJsonArray>
#include <QtEndian>

#include <bit>

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
    const QJsonValue value = reply.fields.value(QStringLiteral("samples"));
    const auto decoded = QByteArray::fromBase64Encoding(value.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!value.isString() || !decoded || decoded.decoded.size() % PackedSampleBytes != 0) {
        *error = QStringLiteral("the answer's samples are not base64 of 16-byte samples");
        return {};
    }
    const QByteArray& packed = decoded.decoded;
    QList<ArchiveSample> samples;
    samples.reserve(packed.size() / PackedSampleBytes);
    for (const char* at = packed.constData(); at < packed.constData() + packed.size(); at += PackedSampleBytes)
        samples.append({qFromLittleEndian<qint64>(at), std::bit_cast<double>(qFromLittleEndian<quint64>(at + 8))});
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
            e.state = AlarmPublisher::stateOf(r);
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
