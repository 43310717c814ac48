#include "PgBlockColumns.h"

#include "PgArrayLiteral.h"
#include "QuantisedStep.h"

#include <limits>
#include <vector>

namespace {

template <class T>
QByteArray arrayOf(const std::vector<T>& values)
{
    return PgArrayLiteral::of(std::span<const T>(values));
}

bool fitsInt32(qint64 v)
{
    return v >= std::numeric_limits<qint32>::min() && v <= std::numeric_limits<qint32>::max();
}

} // namespace

QList<QByteArray> PgBlockColumns::params(qint64 spanStart, std::span<const PackedSample> samples)
{
    std::vector<qint64> dt;
    std::vector<double> values;
    dt.reserve(samples.size());
    values.reserve(samples.size());
    qint64 previous = spanStart;
    for (const PackedSample& s : samples) {
        dt.push_back(s.t - previous); // under a span's length, so an integer holds it
        previous = s.t;
        values.push_back(s.v);
    }
    QList<QByteArray> out{QByteArray::number(samples.empty() ? spanStart : samples.front().t), QByteArray::number(previous),
        QByteArray::number(static_cast<qint64>(samples.size())), arrayOf(dt)};
    // Multiples of a step whose changes fit an integer column; the doubles themselves otherwise.
    if (const auto found = QuantisedStep::find(values)) {
        std::vector<qint64> dk;
        dk.reserve(found->multiples.size());
        bool fits = true;
        for (size_t i = 0; i < found->multiples.size() && fits; ++i) {
            dk.push_back(i ? found->multiples[i] - found->multiples[i - 1] : 0);
            fits = fitsInt32(dk.back());
        }
        if (fits)
            return out << PgArrayLiteral::real(found->step) << QByteArray::number(found->multiples.front()) << arrayOf(dk) << QByteArray();
    }
    return out << QByteArray() << QByteArray() << QByteArray() << arrayOf(values);
}

QByteArray PgBlockColumns::unpackCall(const char* alias)
{
    const QByteArray a(alias);
    return "kalvora_block_samples(" + a + ".start, " + a + ".dt, " + a + ".step, " + a + ".k0, " + a + ".dk, " + a + ".vals)";
}

const QByteArray& PgBlockColumns::functionSql()
{
    // sum() of integers is a bigint, and float8(bigint) * step is the same IEEE product the packer
    // checked each value against.
    static const QByteArray sql =
        "CREATE OR REPLACE FUNCTION kalvora_block_samples(start bigint, dt integer[], step double precision, k0 bigint, dk integer[], "
        "vals double precision[]) RETURNS TABLE(t bigint, v double precision) LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ "
        "SELECT $1 + sum(u.d) OVER w, CASE WHEN $3 IS NULL THEN u.x ELSE float8($4 + sum(u.k) OVER w) * $3 END "
        "FROM unnest($2, $5, $6) WITH ORDINALITY AS u(d, k, x, i) WINDOW w AS (ORDER BY u.i) $$";
    return sql;
}
