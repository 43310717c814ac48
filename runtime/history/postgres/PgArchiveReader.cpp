#include "PgArchiveReader.h"

#include "ArchiveStoreRollups.h"
#include "OrderedMerge.h"
#include "PackedSpans.h"
#include "PgArrayLiteral.h"
#include "PgArchiveSchema.h"
#include "PgBlockColumns.h"
#include "PgConnection.h"

#include <algorithm>
#include <limits>

namespace {

/// Samples of packed blocks of trend $1 with $2 <= t < $3, as rows of `columns` (x.t and x.v in them).
QByteArray packedSamples(const QByteArray& columns)
{
    return "SELECT " + columns + " FROM sample_blocks b CROSS JOIN LATERAL " + PgBlockColumns::unpackCall("b") +
           " x WHERE b.trend = $1::int AND b.start < $3::bigint AND b.start > $2::bigint - " + QByteArray::number(PackedSpans::SpanMs) +
           " AND x.t >= $2::bigint AND x.t < $3::bigint";
}

} // namespace

QByteArray PgArchiveReader::arrayLiteral(const std::vector<qint64>& values)
{
    return PgArrayLiteral::of(std::span<const qint64>(values));
}

QList<PgPoint> PgArchiveReader::range(int trend, qint64 t0, qint64 t1)
{
    m_error.clear();
    QList<PgPoint> out;
    if (t1 < t0)
        return out;
    // Rows and packed samples in one round trip; the packed ones first, each part by time.
    const qint64 end = t1 == std::numeric_limits<qint64>::max() ? t1 : t1 + 1;
    PgResult r = m_c.exec("SELECT * FROM (" + packedSamples("1 AS packed, x.t, x.v") +
                              " UNION ALL SELECT 0, t, v FROM samples WHERE trend = $1 AND t >= $2 AND t < $3) u ORDER BY packed DESC, t",
        {QByteArray::number(trend), QByteArray::number(t0), QByteArray::number(end)}, PgConnection::Rows::Binary);
    m_error = r.error();
    out.reserve(r.rows());
    const auto timeOf = [](const PgPoint& p) { return p.timeMs; };
    const auto append = [&out](const PgPoint& p) { out.append(p); };
    OrderedMerge<PgPoint, decltype(timeOf), decltype(append)> merge(timeOf, append);
    for (int i = 0; i < r.rows(); ++i) {
        const PgPoint p{r.int64(i, 1), r.real(i, 2)};
        r.int64(i, 0) ? merge.packed(p) : merge.row(p);
    }
    merge.finish();
    return out;
}

bool PgArchiveReader::oldest(int trend, qint64* timeMs)
{
    PgResult r = m_c.exec("SELECT least((SELECT min(t) FROM samples WHERE trend = $1), "
                          "(SELECT first_t FROM sample_blocks WHERE trend = $1 ORDER BY start LIMIT 1))",
        {QByteArray::number(trend)});
    m_error = r.error();
    if (!r.ok() || r.isNull(0, 0))
        return false;
    *timeMs = r.int64(0, 0);
    return true;
}

bool PgArchiveReader::pieces(int trend, const std::vector<ArchiveRollups::Segment>& plan, const std::function<void(const ArchiveAggregate&)>& onCell)
{
    // Level numbers here are in step order, as ArchiveRollups counts them.
    static_assert(PgArchiveSchema::StepMs == ArchiveRollups::StepMs, "both backends keep the same rollup levels");
    m_error.clear();
    std::vector<qint64> levels, froms, tos;
    for (const ArchiveRollups::Segment& p : plan) {
        levels.push_back(p.level);
        froms.push_back(p.from);
        tos.push_back(p.to);
    }
    // The finest pieces may lie in packed hours: their samples come along, ahead of the pieces.
    qint64 packedFrom = 0;
    qint64 packedTo = 0;
    for (const ArchiveRollups::Segment& p : plan)
        if (p.level <= 0) {
            packedFrom = packedTo > packedFrom ? std::min(packedFrom, p.from) : p.from;
            packedTo = std::max(packedTo, p.to);
        }
    // Every piece in one round trip, in time order.
    PgResult r = m_c.exec(
        "SELECT * FROM (" + packedSamples("x.t AS first_t, x.v, x.t, x.v, x.t, x.v, x.t, x.v, 0::bigint AS i") +
            " UNION ALL SELECT x.*, p.i FROM unnest($4::int[], $5::bigint[], $6::bigint[]) WITH ORDINALITY AS p(level, f, e, i) CROSS JOIN LATERAL ("
            "SELECT first_t, first_v, min_t, min_v, max_t, max_v, last_t, last_v FROM rollups r "
            "WHERE p.level >= 0 AND r.level = p.level AND r.trend = $1 AND r.t >= p.f AND r.t < p.e "
            "UNION ALL SELECT s.t, s.v, s.t, s.v, s.t, s.v, s.t, s.v FROM samples s "
            "WHERE p.level < 0 AND s.trend = $1 AND s.t >= p.f AND s.t < p.e) x) u ORDER BY i, first_t",
        {QByteArray::number(trend), QByteArray::number(packedFrom), QByteArray::number(packedTo), arrayLiteral(levels), arrayLiteral(froms),
            arrayLiteral(tos)},
        PgConnection::Rows::Binary);
    if (!r.ok()) {
        m_error = r.error();
        return false;
    }
    const auto cellAt = [&r](int i) {
        return ArchiveAggregate{r.int64(i, 0), r.real(i, 1), r.int64(i, 2), r.real(i, 3), r.int64(i, 4), r.real(i, 5), r.int64(i, 6), r.real(i, 7)};
    };
    std::vector<PackedSample> packed;
    int row = 0;
    for (; row < r.rows() && r.int64(row, 8) == 0; ++row)
        packed.push_back({r.int64(row, 0), r.real(row, 1)});
    const auto firstOf = [](const ArchiveAggregate& a) { return a.firstT; };
    for (size_t piece = 0; piece < plan.size(); ++piece) {
        const ArchiveRollups::Segment& p = plan[piece];
        OrderedMerge<ArchiveAggregate, decltype(firstOf), decltype(onCell)> merge(firstOf, onCell);
        if (p.level == 0)
            PackedSpans::cells(packed, ArchiveRollups::StepMs[0], p.from, p.to, [&merge](const ArchiveAggregate& cell) { merge.packed(cell); });
        else if (p.level < 0)
            for (auto it = std::lower_bound(packed.begin(), packed.end(), PackedSample{p.from, 0.0}, [](const PackedSample& a, const PackedSample& b) {
                     return a.t < b.t;
                 });
                 it != packed.end() && it->t < p.to; ++it)
                merge.packed(ArchiveAggregate::of(it->t, it->v));
        for (; row < r.rows() && r.int64(row, 8) == static_cast<qint64>(piece + 1); ++row)
            merge.row(cellAt(row));
        merge.finish();
    }
    return true;
}
