#include "PgArchiveReader.h"

#include "ArchiveStoreRollups.h"
#include "PgArchiveSchema.h"
#include "PgConnection.h"

QByteArray PgArchiveReader::arrayLiteral(const std::vector<qint64>& values)
{
    QByteArray out = "{";
    for (size_t i = 0; i < values.size(); ++i)
        out += (i ? "," : "") + QByteArray::number(values[i]);
    return out + "}";
}

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

bool PgArchiveReader::oldest(int trend, qint64* timeMs)
{
    PgResult r = m_c.exec("SELECT min(t) FROM samples WHERE trend = $1", {QByteArray::number(trend)});
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
    // Every piece in one round trip, in time order.
    PgResult r = m_c.exec(
        "SELECT x.* FROM unnest($2::int[], $3::bigint[], $4::bigint[]) WITH ORDINALITY AS p(level, f, e, i) CROSS JOIN LATERAL ("
        "SELECT first_t, first_v, min_t, min_v, max_t, max_v, last_t, last_v FROM rollups r "
        "WHERE p.level >= 0 AND r.level = p.level AND r.trend = $1 AND r.t >= p.f AND r.t < p.e "
        "UNION ALL SELECT s.t, s.v, s.t, s.v, s.t, s.v, s.t, s.v FROM samples s "
        "WHERE p.level < 0 AND s.trend = $1 AND s.t >= p.f AND s.t < p.e) x ORDER BY p.i, x.first_t",
        {QByteArray::number(trend), arrayLiteral(levels), arrayLiteral(froms), arrayLiteral(tos)}, PgConnection::Rows::Binary);
    if (!r.ok()) {
        m_error = r.error();
        return false;
    }
    for (int i = 0; i < r.rows(); ++i)
        onCell(ArchiveAggregate{r.int64(i, 0), r.real(i, 1), r.int64(i, 2), r.real(i, 3), r.int64(i, 4), r.real(i, 5), r.int64(i, 6), r.real(i, 7)});
    return true;
}
