#include "PgBlockColumns.h"

#include "PgArrayLiteral.h"
#include "PgResult.h"
#include "QuantisedStep.h"

#include <QtEndian>

#include <cstring>
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

/// The elements of a one-dimensional array without NULLs in PostgreSQL's binary format, each
/// `width` bytes; false when the bytes are anything else.
bool elements(QByteArrayView a, int width, qsizetype* count, const char** first)
{
    if (a.size() < 12)
        return false;
    const char* p = a.data();
    const qint32 dims = qFromBigEndian<qint32>(p);
    *count = 0;
    *first = p + 12;
    if (dims == 0)
        return a.size() == 12;
    if (dims != 1 || qFromBigEndian<qint32>(p + 4) != 0 || a.size() < 20)
        return false;
    const qint32 n = qFromBigEndian<qint32>(p + 12);
    *first = p + 20;
    if (n < 0 || a.size() != 20 + static_cast<qsizetype>(n) * (4 + width))
        return false;
    for (qint32 i = 0; i < n; ++i)
        if (qFromBigEndian<qint32>(*first + static_cast<qsizetype>(i) * (4 + width)) != width)
            return false;
    *count = n;
    return true;
}

} // namespace

QString PgBlockColumns::decode(const PgResult& r, int row, int column, std::vector<PackedSample>& out)
{
    qsizetype n = 0, m = 0;
    const char* dt = nullptr;
    const char* values = nullptr;
    const bool stepped = !r.isNull(row, column + 2);
    if (!elements(r.bytes(row, column + 1), 4, &n, &dt))
        return QStringLiteral("column dt is not an array of integers");
    if (stepped ? !elements(r.bytes(row, column + 4), 4, &m, &values) || r.isNull(row, column + 3)
                : !elements(r.bytes(row, column + 5), 8, &m, &values))
        return stepped ? QStringLiteral("columns k0 and dk do not hold the multiples") : QStringLiteral("column vals is not an array of doubles");
    if (m != n)
        return QStringLiteral("%1 times but %2 values").arg(n).arg(m);
    const double step = stepped ? r.real(row, column + 2) : 0.0;
    // Unsigned sums wrap as the server's bigint sums would overflow: a damaged block reads as nonsense, never as a crash.
    quint64 t = static_cast<quint64>(r.int64(row, column));
    quint64 k = stepped ? static_cast<quint64>(r.int64(row, column + 3)) : 0;
    out.reserve(out.size() + static_cast<size_t>(n));
    for (qsizetype i = 0; i < n; ++i) {
        t += static_cast<quint64>(static_cast<qint64>(qFromBigEndian<qint32>(dt + i * 8 + 4)));
        double v;
        if (stepped) {
            k += static_cast<quint64>(static_cast<qint64>(qFromBigEndian<qint32>(values + i * 8 + 4)));
            v = static_cast<double>(static_cast<qint64>(k)) * step;
        } else {
            const quint64 bits = qFromBigEndian<quint64>(values + i * 12 + 4);
            std::memcpy(&v, &bits, sizeof v);
        }
        out.push_back({static_cast<qint64>(t), v});
    }
    return {};
}

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
