#include "PgArchiveReader.h"

#include "ArchiveStoreRollups.h"
#include "PgArchiveSchema.h"
#include "PgConnection.h"

#include <algorithm>
#include <array>
#include <limits>

namespace {

// Bucket arithmetic multiplies a span in ms by the bucket count, beyond 64 bits for wide spans.
__extension__ typedef __int128 Wide;

QByteArray intArray(const std::vector<qint64>& values)
{
    QByteArray out = "{";
    for (size_t i = 0; i < values.size(); ++i)
        out += (i ? "," : "") + QByteArray::number(values[i]);
    return out + "}";
}

/// First, minimum, maximum and last of a stretch of samples.
struct Span {
    std::array<PgPoint, 4> p; // first, min, max, last
};

} // namespace

QList<PgPoint> PgArchiveReader::range(int trend, qint64 t0, qint64 t1)
{
    m_error.clear();
    QList<PgPoint> out;
    if (t1 < t0)
        return out;
    PgResult r = m_c.exec("SELECT t, v FROM samples WHERE trend = $1 AND t >= $2 AND t <= $3 ORDER BY t",
                          {QByteArray::number(trend), QByteArray::number(t0), QByteArray::number(t1)}, PgConnection::Rows::Binary);
    m_error = r.error();
    out.reserve(r.rows());
    for (int i = 0; i < r.rows(); ++i)
        out.append({r.int64(i, 0), r.real(i, 1)});
    return out;
}

std::vector<PgArchiveReader::Piece> PgArchiveReader::pieces(const std::vector<qint64>& edges, qint64 maxStepMs, qint64 validFrom)
{
    // The same cut as the embedded archive's, so both backends answer a chart from the same cells.
    static_assert(PgArchiveSchema::StepMs == ArchiveRollups::StepMs, "both backends keep the same rollup levels");
    return ArchiveRollups::plan(edges, maxStepMs, validFrom);
}

QList<PgPoint> PgArchiveReader::reduced(int trend, qint64 t0, qint64 t1, int buckets)
{
    m_error.clear();
    QList<PgPoint> points;
    if (t1 < t0 || buckets <= 0)
        return points;
    const Wide span = static_cast<Wide>(t1) - t0 + 1;
    const auto startOf = [&](qint64 b) {
        const Wide offset = (static_cast<Wide>(b) * span + buckets - 1) / buckets;
        return static_cast<qint64>(std::min<Wide>(static_cast<Wide>(t0) + offset, static_cast<Wide>(t1) + 1));
    };
    const qint64 maxStep = static_cast<qint64>(span / buckets);
    std::vector<Piece> plan;
    if (maxStep < PgArchiveSchema::StepMs[0]) {
        plan.push_back({-1, t0, t1 + 1});
    } else {
        // Cells older than the oldest sample may have lost samples to retention.
        PgResult oldest = m_c.exec("SELECT min(t) FROM samples WHERE trend = $1", {QByteArray::number(trend)});
        if (!oldest.ok() || oldest.isNull(0, 0)) {
            m_error = oldest.error();
            return points;
        }
        std::vector<qint64> edges;
        edges.reserve(static_cast<size_t>(buckets) + 1);
        for (qint64 b = 0; b < buckets; ++b)
            edges.push_back(startOf(b));
        edges.push_back(t1 + 1);
        plan = pieces(edges, maxStep, oldest.int64(0, 0));
    }
    std::vector<qint64> levels, froms, tos;
    for (const Piece& p : plan) {
        levels.push_back(p.level);
        froms.push_back(p.from);
        tos.push_back(p.to);
    }
    // Every piece in one round trip, in time order.
    PgResult r = m_c.exec(
        "SELECT x.* FROM unnest($2::int[], $3::bigint[], $4::bigint[]) WITH ORDINALITY AS p(level, f, e, i) CROSS JOIN LATERAL ("
        "SELECT first_t, first_v, min_t, min_v, max_t, max_v, last_t, last_v FROM rollups r "
        "WHERE p.level >= 0 AND r.level = p.level AND r.trend = $1 AND r.t >= p.f AND r.t < p.e "
        "UNION ALL SELECT s.t, s.v, s.t, s.v, s.t, s.v, s.t, s.v FROM samples s "
        "WHERE p.level < 0 AND s.trend = $1 AND s.t >= p.f AND s.t < p.e) x ORDER BY p.i, x.first_t",
        {QByteArray::number(trend), intArray(levels), intArray(froms), intArray(tos)}, PgConnection::Rows::Binary);
    if (!r.ok()) {
        m_error = r.error();
        return points;
    }
    qint64 nextStart = t0;
    bool open = false;
    Span acc;
    const auto flush = [&] {
        if (!open)
            return;
        std::array<PgPoint, 4> four = acc.p;
        std::sort(four.begin(), four.end(), [](const PgPoint& a, const PgPoint& b) { return a.timeMs < b.timeMs; });
        for (size_t i = 0; i < four.size(); ++i)
            if (i == 0 || four[i].timeMs != four[i - 1].timeMs)
                points.append(four[i]);
    };
    // No piece straddles a bucket edge, so a piece's first sample tells its bucket; strict comparisons
    // keep the earliest of equal extremes.
    for (int i = 0; i < r.rows(); ++i) {
        Span s;
        for (int k = 0; k < 4; ++k)
            s.p[static_cast<size_t>(k)] = {r.int64(i, 2 * k), r.real(i, 2 * k + 1)};
        if (s.p[0].timeMs >= nextStart) {
            flush();
            open = true;
            const qint64 bucket = static_cast<qint64>((static_cast<Wide>(s.p[0].timeMs) - t0) * buckets / span);
            nextStart = bucket + 1 < buckets ? startOf(bucket + 1) : std::numeric_limits<qint64>::max();
            acc = s;
            continue;
        }
        if (s.p[1].value < acc.p[1].value)
            acc.p[1] = s.p[1];
        if (s.p[2].value > acc.p[2].value)
            acc.p[2] = s.p[2];
        acc.p[3] = s.p[3];
    }
    flush();
    return points;
}
