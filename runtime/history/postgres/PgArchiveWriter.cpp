#include "PgArchiveWriter.h"

#include "PgArchiveReader.h"
#include "PgArrayLiteral.h"
#include "PgArchiveSchema.h"
#include "PgBlockColumns.h"
#include "PgBlockPacker.h"
#include "PackedSpans.h"
#include "PgConnection.h"
#include "PgCopyBuffer.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace {

constexpr qint64 Never = std::numeric_limits<qint64>::min();

qint64 cellOf(qint64 t, qint64 step)
{
    const qint64 q = t / step;
    return (q * step > t ? q - 1 : q) * step;
}

/// The levels as an SQL VALUES list (level, step).
QByteArray levelsSql()
{
    QByteArray sql = "(VALUES ";
    for (int level = 0; level < PgArchiveSchema::Levels; ++level)
        sql += (level ? ", (" : "(") + QByteArray::number(level) + ", " + QByteArray::number(PgArchiveSchema::StepMs[static_cast<size_t>(level)]) + "::bigint)";
    return sql + ") lv(level, step)";
}

// Ties of minimum and maximum go to the earliest sample, as the embedded archive keeps them.
const QByteArray AggregateColumns = "min(s.t), (array_agg(s.v ORDER BY s.t))[1], (array_agg(s.t ORDER BY s.v, s.t))[1], min(s.v), "
                                    "(array_agg(s.t ORDER BY s.v DESC, s.t))[1], max(s.v), max(s.t), (array_agg(s.v ORDER BY s.t DESC))[1]";

const QByteArray RollupColumns = "(level, trend, t, first_t, first_v, min_t, min_v, max_t, max_v, last_t, last_v)";

bool isDuplicate(const PgResult& r)
{
    return r.sqlState() == u"23505";
}

/// COPY rows straight into the month partitions, which spares the server routing every row through
/// the parent table. Rows come in by trend and time, so the month is looked up afresh only when a row
/// leaves the month of the one before.
class ByMonth final {
public:
    ByMonth(qsizetype reserveRows, int bytesPerRow)
        : m_reserve(reserveRows)
        , m_bytesPerRow(bytesPerRow)
    {
    }
    PgCopyBuffer& at(qint64 t)
    {
        if (!m_current || t < m_from || t >= m_to) {
            m_from = PgArchiveSchema::monthStart(t);
            m_to = PgArchiveSchema::nextMonth(t);
            auto it = m_buffers.find(m_from);
            if (it == m_buffers.end())
                it = m_buffers.emplace(m_from, PgCopyBuffer(m_reserve, m_bytesPerRow)).first;
            m_current = &it->second;
        }
        return *m_current;
    }
    PgResult copyInto(PgConnection& c, const QByteArray& table)
    {
        for (auto& [month, rows] : m_buffers)
            if (PgResult r = c.copyIn("COPY " + table + "_" + PgArchiveSchema::monthKey(month).toLatin1() + " FROM STDIN (FORMAT binary)", rows.finish());
                !r.ok())
                return r;
        return {};
    }

private:
    std::map<qint64, PgCopyBuffer> m_buffers;
    PgCopyBuffer* m_current = nullptr;
    qint64 m_from = 0;
    qint64 m_to = 0;
    qsizetype m_reserve;
    int m_bytesPerRow;
};

/// Rollup cells as one array per column, the parameters of a single INSERT: for the few cells a batch
/// shares with stored ones this spares the round trip and the temporary table of a COPY.
class CellArrays final {
public:
    void add(int level, int trend, qint64 cell, const PgSample& first, const PgSample& lo, const PgSample& hi, const PgSample& last)
    {
        const qint64 integers[] = {level, trend, cell, first.timeMs, lo.timeMs, hi.timeMs, last.timeMs};
        const double reals[] = {first.value, lo.value, hi.value, last.value};
        for (int i = 0; i < 7; ++i)
            m_columns[i] += (m_columns[i].isEmpty() ? "{" : ",") + QByteArray::number(integers[i]);
        for (int i = 0; i < 4; ++i) {
            m_columns[7 + i] += m_columns[7 + i].isEmpty() ? "{" : ",";
            PgArrayLiteral::appendReal(m_columns[7 + i], reals[i]);
        }
    }
    bool isEmpty() const { return m_columns[0].isEmpty(); }
    QList<QByteArray> params() const
    {
        QList<QByteArray> out;
        for (const QByteArray& column : m_columns)
            out.append(column + "}");
        return out;
    }

private:
    // level, trend, cell, first_t, min_t, max_t, last_t, first_v, min_v, max_v, last_v
    QByteArray m_columns[11];
};

} // namespace

QString PgArchiveWriter::prepare()
{
    if (m_prepared)
        return {};
    for (const QByteArray& sql : {
             QByteArray("CREATE TEMP TABLE IF NOT EXISTS kalvora_stage(trend integer, t bigint, v double precision) ON COMMIT DELETE ROWS"),
             QByteArray("CREATE TEMP TABLE IF NOT EXISTS kalvora_replaced(trend integer, t bigint) ON COMMIT DELETE ROWS")})
        if (QString e = m_c.exec(sql).error(); !e.isEmpty())
            return e;
    m_prepared = true;
    return {};
}

QString PgArchiveWriter::ensureMonths(qint64 t0, qint64 t1)
{
    // Each partition commits on its own, before the batch: a batch that fails later must not take a
    // partition with it that this writer then believes made.
    for (qint64 m = PgArchiveSchema::monthStart(t0); m <= t1; m = PgArchiveSchema::nextMonth(m)) {
        if (m_months.contains(m))
            continue;
        if (QString e = PgArchiveSchema::ensurePartitions(m_c, m, m); !e.isEmpty())
            return e;
        m_months.insert(m);
    }
    return {};
}

QString PgArchiveWriter::learnLast(const std::vector<PgSample>& sorted)
{
    QByteArray unknown;
    for (size_t i = 0; i < sorted.size(); ++i)
        if ((i == 0 || sorted[i].trend != sorted[i - 1].trend) && !m_last.contains(sorted[i].trend))
            unknown += (unknown.isEmpty() ? "" : ",") + QByteArray::number(sorted[i].trend);
    if (unknown.isEmpty())
        return {};
    // Packed samples count too: a sample after the newest row may still fall into a packed hour.
    PgResult r = m_c.exec("SELECT x, greatest((SELECT max(t) FROM samples WHERE trend = x), "
                          "(SELECT last_t FROM sample_blocks WHERE trend = x ORDER BY start DESC LIMIT 1)) FROM unnest($1::int[]) AS x",
        {"{" + unknown + "}"});
    for (int i = 0; i < r.rows(); ++i)
        m_last.insert(static_cast<int>(r.int64(i, 0)), r.isNull(i, 1) ? Never : r.int64(i, 1));
    return r.error();
}

PgResult PgArchiveWriter::appendSamples(const std::vector<PgSample>& sorted)
{
    ByMonth rows(static_cast<qsizetype>(sorted.size()), 38);
    for (const PgSample& s : sorted)
        rows.at(s.timeMs).row(3).int32(s.trend).int64(s.timeMs).float8(s.value);
    return rows.copyInto(m_c, "samples");
}

PgResult PgArchiveWriter::mergeSamples(const std::vector<PgSample>& sorted, qint64* replaced)
{
    // New samples go in, a sample stored already takes the new value and is noted for its cells.
    PgCopyBuffer rows(static_cast<qsizetype>(sorted.size()), 38);
    for (const PgSample& s : sorted)
        rows.row(3).int32(s.trend).int64(s.timeMs).float8(s.value);
    PgResult r = m_c.copyIn("COPY kalvora_stage FROM STDIN (FORMAT binary)", rows.finish());
    if (r.ok())
        r = m_c.exec("INSERT INTO samples SELECT trend, t, v FROM kalvora_stage ON CONFLICT (trend, t) DO NOTHING");
    if (r.ok())
        r = m_c.exec("WITH up AS (UPDATE samples s SET v = st.v FROM kalvora_stage st WHERE s.trend = st.trend AND s.t = st.t AND s.v <> st.v "
                     "RETURNING s.trend, s.t), kept AS (INSERT INTO kalvora_replaced SELECT trend, t FROM up RETURNING 1) SELECT count(*) FROM kept");
    *replaced = r.ok() ? r.int64(0, 0) : 0;
    return r;
}

PgResult PgArchiveWriter::writeCells(const std::vector<PgSample>& sorted, bool append, int firstLevel)
{
    // A cell that starts after the trend's latest stored sample cannot exist yet and goes in by COPY;
    // the others are merged with what the server holds.
    ByMonth fresh(static_cast<qsizetype>(sorted.size() / 8 + 16), 110);
    CellArrays merged;
    for (int level = firstLevel; level < PgArchiveSchema::Levels; ++level) {
        const qint64 step = PgArchiveSchema::StepMs[static_cast<size_t>(level)];
        // The batch is sorted by trend and time: a cell is one run, its first and last rows are its ends.
        size_t i = 0;
        while (i < sorted.size()) {
            const PgSample& first = sorted[i];
            const qint64 cell = cellOf(first.timeMs, step);
            const PgSample* lo = &first;
            const PgSample* hi = &first;
            size_t j = i + 1;
            for (; j < sorted.size() && sorted[j].trend == first.trend && sorted[j].timeMs < cell + step; ++j) {
                if (sorted[j].value < lo->value)
                    lo = &sorted[j];
                if (sorted[j].value > hi->value)
                    hi = &sorted[j];
            }
            const PgSample& last = sorted[j - 1];
            if (append && cell > m_last.value(first.trend, Never)) {
                PgCopyBuffer& out = fresh.at(cell);
                out.row(11).int16(static_cast<qint16>(level)).int32(first.trend).int64(cell);
                out.int64(first.timeMs).float8(first.value).int64(lo->timeMs).float8(lo->value);
                out.int64(hi->timeMs).float8(hi->value).int64(last.timeMs).float8(last.value);
            } else {
                merged.add(level, first.trend, cell, first, *lo, *hi, last);
            }
            i = j;
        }
    }
    if (PgResult r = fresh.copyInto(m_c, "rollups"); !r.ok() || merged.isEmpty())
        return r;
    return m_c.exec(
        "INSERT INTO rollups AS r (level, trend, t, first_t, min_t, max_t, last_t, first_v, min_v, max_v, last_v) "
        "SELECT * FROM unnest($1::smallint[], $2::int[], $3::bigint[], $4::bigint[], $5::bigint[], $6::bigint[], $7::bigint[], "
        "$8::float8[], $9::float8[], $10::float8[], $11::float8[]) ON CONFLICT (level, trend, t) DO UPDATE SET "
        "first_t = CASE WHEN EXCLUDED.first_t < r.first_t THEN EXCLUDED.first_t ELSE r.first_t END, "
        "first_v = CASE WHEN EXCLUDED.first_t < r.first_t THEN EXCLUDED.first_v ELSE r.first_v END, "
        "min_t = CASE WHEN EXCLUDED.min_v < r.min_v OR (EXCLUDED.min_v = r.min_v AND EXCLUDED.min_t < r.min_t) THEN EXCLUDED.min_t ELSE r.min_t END, "
        "min_v = CASE WHEN EXCLUDED.min_v < r.min_v OR (EXCLUDED.min_v = r.min_v AND EXCLUDED.min_t < r.min_t) THEN EXCLUDED.min_v ELSE r.min_v END, "
        "max_t = CASE WHEN EXCLUDED.max_v > r.max_v OR (EXCLUDED.max_v = r.max_v AND EXCLUDED.max_t < r.max_t) THEN EXCLUDED.max_t ELSE r.max_t END, "
        "max_v = CASE WHEN EXCLUDED.max_v > r.max_v OR (EXCLUDED.max_v = r.max_v AND EXCLUDED.max_t < r.max_t) THEN EXCLUDED.max_v ELSE r.max_v END, "
        "last_t = CASE WHEN EXCLUDED.last_t > r.last_t THEN EXCLUDED.last_t ELSE r.last_t END, "
        "last_v = CASE WHEN EXCLUDED.last_t > r.last_t THEN EXCLUDED.last_v ELSE r.last_v END",
        merged.params());
}

PgResult PgArchiveWriter::unpackTouched(const std::vector<PgSample>& sorted, qint64* unpacked)
{
    // The packer takes the same lock per trend, so a span cannot be packed under this batch's feet;
    // taken in trend order, as the batch is sorted, so two writers cannot deadlock.
    std::vector<qint64> trends, spanTrends, spans;
    for (const PgSample& s : sorted) {
        const qint64 span = PackedSpans::startOf(s.timeMs);
        if (trends.empty() || trends.back() != s.trend)
            trends.push_back(s.trend);
        if (spans.empty() || spanTrends.back() != s.trend || spans.back() != span) {
            spanTrends.push_back(s.trend);
            spans.push_back(span);
        }
    }
    PgResult r = m_c.exec("SELECT pg_advisory_xact_lock(" + QByteArray::number(PgBlockPacker::LockClass) +
                          ", x) FROM (SELECT x FROM unnest($1::int[]) AS x ORDER BY x) o",
        {PgArchiveReader::arrayLiteral(trends)});
    if (!r.ok())
        return r;
    // A block in a span the batch writes into goes back to rows first, and that hour gets its 10 s
    // and minute cells again; the batch then meets the rows as it meets any stored sample.
    const QList<QByteArray> touched{PgArchiveReader::arrayLiteral(spanTrends), PgArchiveReader::arrayLiteral(spans)};
    r = m_c.exec("WITH gone AS (DELETE FROM sample_blocks b USING unnest($1::int[], $2::bigint[]) AS q(trend, start) "
                 "WHERE b.trend = q.trend AND b.start = q.start RETURNING b.*), "
                 "back AS (INSERT INTO samples(trend, t, v) SELECT g.trend, x.t, x.v FROM gone g CROSS JOIN LATERAL " +
                     PgBlockColumns::unpackCall("g") + " x) "
                 "SELECT g.trend, g.start FROM gone g",
        touched);
    *unpacked = r.rows();
    if (!r.ok() || r.rows() == 0)
        return r;
    std::vector<qint64> unpackedTrends, unpackedSpans;
    for (int i = 0; i < r.rows(); ++i) {
        unpackedTrends.push_back(r.int64(i, 0));
        unpackedSpans.push_back(r.int64(i, 1));
    }
    // The hour's 10 s and minute cells, which its block stood for, computed from its samples again.
    return m_c.exec("INSERT INTO rollups AS r " + RollupColumns + " SELECT lv.level, s.trend, s.t - (((s.t % lv.step) + lv.step) % lv.step) AS c, " +
                        AggregateColumns +
                        " FROM unnest($1::int[], $2::bigint[]) AS q(trend, start) JOIN samples s ON s.trend = q.trend AND s.t >= q.start "
                        "AND s.t < q.start + " + QByteArray::number(PackedSpans::SpanMs) +
                        " CROSS JOIN (VALUES (0, 10000::bigint), (1, 60000::bigint)) lv(level, step) GROUP BY lv.level, s.trend, c "
                        "ON CONFLICT (level, trend, t) DO UPDATE SET first_t = EXCLUDED.first_t, first_v = EXCLUDED.first_v, "
                        "min_t = EXCLUDED.min_t, min_v = EXCLUDED.min_v, max_t = EXCLUDED.max_t, max_v = EXCLUDED.max_v, "
                        "last_t = EXCLUDED.last_t, last_v = EXCLUDED.last_v",
        {PgArchiveReader::arrayLiteral(unpackedTrends), PgArchiveReader::arrayLiteral(unpackedSpans)});
}

PgResult PgArchiveWriter::writeOnce(const std::vector<PgSample>& sorted, const QByteArray& plantState, bool append)
{
    PgTransaction transaction(m_c);
    if (!transaction.error().isEmpty())
        return PgResult(nullptr, transaction.error());
    if (!sorted.empty()) {
        qint64 unpacked = 0;
        if (PgResult u = unpackTouched(sorted, &unpacked); !u.ok())
            return u;
        append = append && unpacked == 0;
        qint64 replaced = 0;
        PgResult r = append ? appendSamples(sorted) : mergeSamples(sorted, &replaced);
        if (r.ok())
            r = writeCells(sorted, append);
        // Cells of a replaced value are computed afresh from the samples, which hold the new value now.
        if (r.ok() && replaced > 0)
            r = m_c.exec(
                "WITH cells AS (SELECT DISTINCT lv.level, x.trend, x.t - (((x.t % lv.step) + lv.step) % lv.step) AS c, lv.step "
                "FROM kalvora_replaced x CROSS JOIN " + levelsSql() + ") "
                "INSERT INTO rollups AS r " + RollupColumns + " SELECT cells.level, cells.trend, cells.c, " + AggregateColumns +
                " FROM cells JOIN samples s ON s.trend = cells.trend AND s.t >= cells.c AND s.t < cells.c + cells.step "
                "GROUP BY cells.level, cells.trend, cells.c ON CONFLICT (level, trend, t) DO UPDATE SET "
                "first_t = EXCLUDED.first_t, first_v = EXCLUDED.first_v, min_t = EXCLUDED.min_t, min_v = EXCLUDED.min_v, "
                "max_t = EXCLUDED.max_t, max_v = EXCLUDED.max_v, last_t = EXCLUDED.last_t, last_v = EXCLUDED.last_v");
        if (!r.ok())
            return r;
    }
    if (!plantState.isEmpty()) {
        PgResult saved = m_c.exec("INSERT INTO plant_state(id, saved, state) VALUES(1, $1, $2) "
                                  "ON CONFLICT (id) DO UPDATE SET saved = EXCLUDED.saved, state = EXCLUDED.state",
                                  {QByteArray::number(QDateTime::currentMSecsSinceEpoch()), plantState});
        if (!saved.ok())
            return saved;
    }
    return PgResult(nullptr, transaction.commit());
}

QString PgArchiveWriter::write(std::vector<PgSample> batch, const QByteArray& plantState)
{
    if (batch.empty() && plantState.isEmpty())
        return {};
    // A sample given twice in one batch keeps its last value, as a later write would.
    std::stable_sort(batch.begin(), batch.end(), [](const PgSample& a, const PgSample& b) {
        return a.trend != b.trend ? a.trend < b.trend : a.timeMs < b.timeMs;
    });
    std::vector<PgSample> unique;
    unique.reserve(batch.size());
    qint64 t0 = std::numeric_limits<qint64>::max();
    qint64 t1 = Never;
    for (const PgSample& s : batch) {
        // As in the embedded archive, what is not a finite number is not archived.
        if (!std::isfinite(s.value))
            continue;
        if (!unique.empty() && unique.back().trend == s.trend && unique.back().timeMs == s.timeMs)
            unique.back() = s;
        else
            unique.push_back(s);
        t0 = std::min(t0, s.timeMs);
        t1 = std::max(t1, s.timeMs);
    }
    if (QString e = prepare(); !e.isEmpty())
        return e;
    if (!unique.empty()) {
        if (QString e = ensureMonths(t0, t1); !e.isEmpty())
            return e;
        if (QString e = learnLast(unique); !e.isEmpty())
            return e;
    }
    // Samples all later than what is stored (the recorder's usual batch) take the short way: COPY
    // straight into the partitions, no staging, no savepoint.
    bool append = true;
    for (size_t i = 0; i < unique.size() && append; ++i)
        append = (i > 0 && unique[i].trend == unique[i - 1].trend) || unique[i].timeMs > m_last.value(unique[i].trend, Never);
    PgResult r = writeOnce(unique, plantState, append);
    if (append && isDuplicate(r)) {
        // Someone else wrote these trends meanwhile: what this writer knew is stale.
        m_last.clear();
        r = writeOnce(unique, plantState, false);
    }
    if (!r.ok())
        return r.error();
    for (size_t i = 0; i < unique.size(); ++i)
        if (i + 1 == unique.size() || unique[i + 1].trend != unique[i].trend)
            m_last[unique[i].trend] = std::max(m_last.value(unique[i].trend, Never), unique[i].timeMs);
    return {};
}

QString PgArchiveWriter::writeBlock(int trend, qint64 start, std::span<const PackedSample> samples)
{
    std::vector<PackedSample> finite;
    std::vector<PgSample> rows;
    finite.reserve(samples.size());
    rows.reserve(samples.size());
    for (const PackedSample& s : samples) {
        if (std::isfinite(s.v)) {
            finite.push_back(s);
            rows.push_back({trend, s.t, s.v});
        }
    }
    if (finite.empty())
        return {};
    if (QString e = ensureMonths(start, start); !e.isEmpty())
        return e;
    PgTransaction transaction(m_c);
    if (!transaction.error().isEmpty())
        return transaction.error();
    const QList<QByteArray> key{QByteArray::number(trend), QByteArray::number(start)};
    if (QString e = m_c.exec("SELECT pg_advisory_xact_lock(" + QByteArray::number(PgBlockPacker::LockClass) + ", $1)", {key[0]}).error(); !e.isEmpty())
        return e;
    PgResult put = m_c.exec(QByteArray("INSERT INTO sample_blocks(trend, start, ") + PgBlockColumns::Columns + ") VALUES($1, $2, " +
                                PgBlockColumns::placeholders(3) + ")",
        key + PgBlockColumns::params(start, finite));
    if (!put.ok())
        return put.error();
    // The block's samples and minute cells stand for the 10 s and minute levels.
    if (PgResult r = writeCells(rows, false, 2); !r.ok())
        return r.error();
    if (QString e = transaction.commit(); !e.isEmpty())
        return e;
    // Unknown stays unknown: later samples may be stored.
    if (const auto it = m_last.find(trend); it != m_last.end())
        *it = std::max(*it, finite.back().t);
    return {};
}

QString PgArchiveWriter::dropBefore(qint64 cutoffMs, int* dropped)
{
    if (dropped)
        *dropped = 0;
    QString error;
    const auto months = PgArchiveSchema::partitions(m_c, &error);
    if (!error.isEmpty())
        return error;
    for (const auto& [name, end] : months) {
        if (end > cutoffMs)
            continue;
        // The rollups of a month go with its samples: a cell never spans two months.
        PgTransaction transaction(m_c);
        const QByteArray key = name.mid(8).toLatin1();
        for (const char* table : {"samples_", "rollups_"})
            if (QString e = m_c.exec("DROP TABLE IF EXISTS " + QByteArray(table) + key).error(); !e.isEmpty())
                return e;
        // Packed hours of the month go with it: an hour never spans two months.
        if (QString e = m_c.exec("DELETE FROM sample_blocks WHERE start < $1", {QByteArray::number(end)}).error(); !e.isEmpty())
            return e;
        if (QString e = transaction.commit(); !e.isEmpty())
            return e;
        m_months.remove(end - 1 >= 0 ? PgArchiveSchema::monthStart(end - 1) : 0);
        if (dropped)
            ++*dropped;
    }
    return {};
}
