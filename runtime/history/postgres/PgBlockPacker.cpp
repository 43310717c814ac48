#include "PgBlockPacker.h"

#include "HistoryLog.h"
#include "PgArchiveReader.h"
#include "PgArchiveSchema.h"
#include "PgBlockColumns.h"
#include "PgConnection.h"
#include "PackedSpans.h"

#include <algorithm>
#include <chrono>

namespace {

/// Spans packed in one go before the worker looks for a stop again.
constexpr int SpansPerRound = 16;
constexpr auto Idle = std::chrono::milliseconds(5000);
constexpr auto Backoff = std::chrono::milliseconds(5000);

} // namespace

QString PgBlockPacker::packSpan(PgConnection& c, int trend, qint64 start)
{
    PgTransaction transaction(c);
    if (!transaction.error().isEmpty())
        return transaction.error();
    const QList<QByteArray> key{QByteArray::number(trend), QByteArray::number(start), QByteArray::number(start + PackedSpans::SpanMs)};
    if (QString e = c.exec("SELECT pg_advisory_xact_lock(" + QByteArray::number(LockClass) + ", $1)", {key[0]}).error(); !e.isEmpty())
        return e;
    // Exactly the rows deleted go into the block, whatever arrives meanwhile.
    PgResult rows = c.exec("DELETE FROM samples WHERE trend = $1 AND t >= $2 AND t < $3 RETURNING t, v", key, PgConnection::Rows::Binary);
    if (!rows.ok())
        return rows.error();
    if (rows.rows() == 0)
        return transaction.commit();
    std::vector<PackedSample> samples;
    samples.reserve(static_cast<size_t>(rows.rows()));
    for (int i = 0; i < rows.rows(); ++i)
        samples.push_back({rows.int64(i, 0), rows.real(i, 1)});
    // A block the span has already (rows written beside it by an older program) is merged; a row wins.
    std::vector<PackedSample> block;
    PgArchiveReader reader(c);
    if (!reader.blockSamples(trend, "start = $2", {key[1]}, block))
        return reader.error();
    std::sort(samples.begin(), samples.end(), [](const PackedSample& a, const PackedSample& b) { return a.t < b.t; });
    if (!block.empty()) {
        const QList<PackedSample> merged = PackedSpans::merged(block, samples);
        samples.assign(merged.begin(), merged.end());
    }
    QList<QByteArray> params{key[0], key[1]};
    params += PgBlockColumns::params(start, samples);
    PgResult put = c.exec(QByteArray("INSERT INTO sample_blocks(trend, start, ") + PgBlockColumns::Columns +
                              ") VALUES($1, $2, " + PgBlockColumns::placeholders(3) + ") ON CONFLICT (trend, start) DO UPDATE SET (" + PgBlockColumns::Columns +
                              ") = ROW(" + PgBlockColumns::placeholders(3) + ")",
        params);
    if (!put.ok())
        return put.error();
    // The 10 s cells of a packed hour come from its samples, the minute cells from its block's own
    // columns; the coarser cells stay.
    if (QString e = c.exec("DELETE FROM rollups WHERE level <= 1 AND trend = $1 AND t >= $2 AND t < $3", key).error(); !e.isEmpty())
        return e;
    return transaction.commit();
}

int PgBlockPacker::packFrom(PgConnection& c, const std::vector<qint64>& ids, qint64 fromMs, QString* error)
{
    const QByteArray span = QByteArray::number(PackedSpans::SpanMs);
    PgResult hours = c.exec("SELECT DISTINCT trend, t - (((t % " + span + ") + " + span + ") % " + span + ") FROM samples "
                            "WHERE trend = ANY($1::int[]) AND t >= $2 ORDER BY 1, 2",
        {PgArchiveReader::arrayLiteral(ids), QByteArray::number(PackedSpans::startOf(fromMs))}, PgConnection::Rows::Binary);
    *error = hours.error();
    if (!hours.ok())
        return -1;
    for (int i = 0; i < hours.rows(); ++i) {
        if (QString e = packSpan(c, static_cast<int>(hours.int64(i, 0)), hours.int64(i, 1)); !e.isEmpty()) {
            *error = e;
            return -1;
        }
    }
    return hours.rows();
}

int PgBlockPacker::releaseEmptied(PgConnection& c, qint64 newestMs, QString* error)
{
    const auto months = PgArchiveSchema::partitions(c, error);
    if (!error->isEmpty())
        return -1;
    int released = 0;
    for (const auto& [name, end] : months) {
        if (end > PackedSpans::dueBefore(newestMs))
            break;
        // Deleted rows leave their pages behind, and no new row will come to reuse them in a past month.
        // Under the lock no writer can unpack an hour into it between the look and the truncation.
        const QByteArray table = c.identifier(name);
        PgTransaction transaction(c);
        PgResult r = c.exec("SELECT pg_relation_size('" + table + "') > 0 AND NOT EXISTS (SELECT 1 FROM " + table + ")");
        if (r.ok() && r.text(0, 0) == "t") {
            r = c.exec("LOCK TABLE " + table + " IN ACCESS EXCLUSIVE MODE");
            if (r.ok())
                r = c.exec("SELECT NOT EXISTS (SELECT 1 FROM " + table + ")");
            if (r.ok() && r.text(0, 0) == "t" && (r = c.exec("TRUNCATE " + table)).ok())
                ++released;
        }
        if (QString e = r.ok() ? transaction.commit() : r.error(); !e.isEmpty()) {
            *error = e;
            return -1;
        }
    }
    return released;
}

qint64 PgBlockPacker::trimBefore(PgConnection& c, const std::vector<qint64>& ids, qint64 cutoffMs, qint64 budget, QString* error)
{
    error->clear();
    const QByteArray cutoff = QByteArray::number(cutoffMs);
    PgResult old = c.exec("SELECT trend, start, n, last_t FROM sample_blocks WHERE trend = ANY($1::int[]) AND first_t < $2 ORDER BY start, trend LIMIT $3",
        {PgArchiveReader::arrayLiteral(ids), cutoff, QByteArray::number(std::max<qint64>(1, budget))}, PgConnection::Rows::Binary);
    qint64 removed = 0;
    for (int i = 0; i < old.rows() && removed < budget; ++i) {
        const QList<QByteArray> key{QByteArray::number(old.int64(i, 0)), QByteArray::number(old.int64(i, 1))};
        const qint64 count = old.int64(i, 2);
        if (old.int64(i, 3) < cutoffMs && count <= budget - removed) {
            if (QString e = c.exec("DELETE FROM sample_blocks WHERE trend = $1 AND start = $2", key).error(); !e.isEmpty()) {
                *error = e;
                return -1;
            }
            removed += count;
            continue;
        }
        std::vector<PackedSample> samples;
        PgArchiveReader reader(c);
        if (!reader.blockSamples(static_cast<int>(old.int64(i, 0)), "start = $2", {key[1]}, samples)) {
            *error = reader.error();
            return -1;
        }
        // The cut, or as far as the budget reaches before it.
        qint64 cut = cutoffMs;
        if (const auto below = static_cast<qint64>(PackedSpans::keptFrom(samples, cutoffMs).size()); static_cast<qint64>(samples.size()) - below > budget - removed)
            cut = samples[static_cast<size_t>(budget - removed)].t;
        const QList<PackedSample> kept = PackedSpans::keptFrom(samples, cut);
        removed += static_cast<qint64>(samples.size()) - kept.size();
        const QByteArray sql = kept.isEmpty() ? QByteArray("DELETE FROM sample_blocks WHERE trend = $1 AND start = $2")
                                              : QByteArray("UPDATE sample_blocks SET (") + PgBlockColumns::Columns +
                                                    ") = ROW(" + PgBlockColumns::placeholders(3) + ") WHERE trend = $1 AND start = $2";
        // A minute cell that began before the oldest sample kept goes, as such cells go from the rollups.
        const QList<QByteArray> params = kept.isEmpty() ? key : key + PgBlockColumns::params(old.int64(i, 1), kept, kept.front().t);
        if (QString e = c.exec(sql, params).error(); !e.isEmpty()) {
            *error = e;
            return -1;
        }
    }
    *error = old.error();
    return error->isEmpty() ? removed : -1;
}

int PgBlockPacker::packDue(PgConnection& c, const std::vector<qint64>& ids, int maxSpans, QString* error)
{
    error->clear();
    if (ids.empty())
        return 0;
    const QByteArray trends = PgArchiveReader::arrayLiteral(ids);
    PgResult newest = c.exec("SELECT greatest((SELECT max(x.m) FROM unnest($1::int[]) AS tr(id) CROSS JOIN LATERAL "
                             "(SELECT max(t) AS m FROM samples WHERE trend = tr.id) x), "
                             "(SELECT max(x.m) FROM unnest($1::int[]) AS tr(id) CROSS JOIN LATERAL "
                             "(SELECT last_t AS m FROM sample_blocks WHERE trend = tr.id ORDER BY start DESC LIMIT 1) x))",
        {trends});
    if (!newest.ok() || newest.isNull(0, 0)) {
        *error = newest.error();
        return error->isEmpty() ? 0 : -1;
    }
    const qint64 newestMs = newest.int64(0, 0);
    int packed = 0;
    while (packed < maxSpans) {
        PgResult oldest = c.exec("SELECT tr.id, x.m FROM unnest($1::int[]) AS tr(id) CROSS JOIN LATERAL "
                                 "(SELECT min(t) AS m FROM samples WHERE trend = tr.id) x WHERE x.m IS NOT NULL",
            {trends}, PgConnection::Rows::Binary);
        if (!oldest.ok()) {
            *error = oldest.error();
            return -1;
        }
        std::vector<PackedSpans::OldestRow> rows;
        for (int i = 0; i < oldest.rows(); ++i)
            rows.push_back({oldest.int64(i, 0), oldest.int64(i, 1)});
        const auto span = PackedSpans::next(rows, newestMs);
        if (!span)
            break;
        if (QString e = packSpan(c, static_cast<int>(span->trend), span->start); !e.isEmpty()) {
            *error = e;
            return -1;
        }
        ++packed;
    }
    if (packed > 0 && releaseEmptied(c, newestMs, error) < 0)
        return -1;
    return packed;
}

PgBlockPacker::PgBlockPacker() = default;

void PgBlockPacker::run(const QString& conninfo, std::vector<qint64> ids)
{
    stop();
    m_conninfo = conninfo;
    m_ids = std::move(ids);
    m_connection = std::make_unique<PgConnection>();
    PackingLoop::Hooks hooks;
    hooks.step = [this] { return packRound(); };
    // The rows stay as they are; the next round tries again on a fresh connection.
    hooks.failed = [](const QString& error) { qCWarning(historyLog).noquote() << "Archive: packing old samples failed:" << error; };
    m_loop = std::make_unique<PackingLoop>(std::move(hooks), PackingLoop::Timing{Backoff, Backoff, Idle});
}

PackingLoop::Step PgBlockPacker::packRound()
{
    QString error = m_connection->isOpen() ? QString() : m_connection->open(m_conninfo);
    const int packed = error.isEmpty() ? packDue(*m_connection, m_ids, SpansPerRound, &error) : -1;
    if (!error.isEmpty()) {
        m_connection->close();
        return {PackingLoop::Outcome::Failed, error};
    }
    return {packed == SpansPerRound ? PackingLoop::Outcome::Packed : PackingLoop::Outcome::NothingDue, {}};
}

void PgBlockPacker::poke()
{
    if (m_loop)
        m_loop->wake();
}

bool PgBlockPacker::waitPacked(int timeoutMs)
{
    return !m_loop || m_loop->waitIdle(timeoutMs, false);
}

void PgBlockPacker::stop()
{
    m_loop.reset();
    m_connection.reset();
}
