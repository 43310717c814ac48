#include "PgBlockColumns.h"

#include "PackedSpans.h"
#include "PgArrayLiteral.h"
#include "PgResult.h"
#include "QuantisedStep.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace {

template <class T>
QByteArray arrayOf(const std::vector<T>& values)
{
    return PgArrayLiteral::of(std::span<const T>(values));
}

constexpr qint64 MinuteMs = 60'000;

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

QList<QByteArray> PgBlockColumns::params(qint64 spanStart, std::span<const PackedSample> samples, qint64 cellsFrom)
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
    // The minute cells, each sample's index standing for its time and value.
    std::vector<qint64> cellT;
    std::vector<size_t> cellAt;
    const auto indexOf = [&samples](qint64 t) {
        return static_cast<size_t>(std::lower_bound(samples.begin(), samples.end(), PackedSample{t, 0.0}, [](const PackedSample& a, const PackedSample& b) {
            return a.t < b.t;
        }) - samples.begin());
    };
    PackedSpans::cells(samples, MinuteMs, spanStart, spanStart + PackedSpans::SpanMs, [&](const ArchiveAggregate& cell) {
        if (spanStart + (cell.firstT - spanStart) / MinuteMs * MinuteMs < cellsFrom)
            return;
        for (const qint64 t : {cell.firstT, cell.minT, cell.maxT, cell.lastT}) {
            cellT.push_back(t - spanStart);
            cellAt.push_back(indexOf(t));
        }
    });
    // Multiples of a step whose changes fit an integer column; the doubles themselves otherwise.
    if (const auto found = QuantisedStep::find(values)) {
        std::vector<qint64> dk;
        dk.reserve(found->multiples.size());
        bool fits = true;
        for (size_t i = 0; i < found->multiples.size() && fits; ++i) {
            dk.push_back(i ? found->multiples[i] - found->multiples[i - 1] : 0);
            fits = fitsInt32(dk.back());
        }
        std::vector<qint64> cellK;
        for (size_t i = 0; i < cellAt.size() && fits; ++i) {
            cellK.push_back(found->multiples[cellAt[i]] - found->multiples.front());
            fits = fitsInt32(cellK.back());
        }
        if (fits)
            return out << PgArrayLiteral::real(found->step) << QByteArray::number(found->multiples.front()) << arrayOf(dk) << QByteArray()
                       << arrayOf(cellT) << arrayOf(cellK) << QByteArray();
    }
    std::vector<double> cellV;
    for (const size_t i : cellAt)
        cellV.push_back(values[i]);
    return out << QByteArray() << QByteArray() << QByteArray() << arrayOf(values) << arrayOf(cellT) << QByteArray() << arrayOf(cellV);
}

QByteArray PgBlockColumns::placeholders(int first)
{
    QByteArray out;
    for (int i = 0; i < ColumnCount; ++i)
        out += (i ? ", $" : "$") + QByteArray::number(first + i);
    return out;
}

QString PgBlockColumns::decodeCells(const PgResult& r, int row, int column, std::vector<ArchiveAggregate>& out)
{
    if (r.isNull(row, column + 3))
        return {};
    qsizetype n = 0, m = 0;
    const char* times = nullptr;
    const char* values = nullptr;
    const bool stepped = !r.isNull(row, column + 4);
    if (!elements(r.bytes(row, column + 3), 4, &n, &times) || n % 4 != 0)
        return QStringLiteral("column cell_t is not an array of four integers a cell");
    if (stepped ? !elements(r.bytes(row, column + 4), 4, &m, &values) || r.isNull(row, column + 1) || r.isNull(row, column + 2)
                : !elements(r.bytes(row, column + 5), 8, &m, &values))
        return stepped ? QStringLiteral("columns step, k0 and cell_k do not hold the cells' multiples") : QStringLiteral("column cell_v is not an array of doubles");
    if (m != n)
        return QStringLiteral("%1 cell times but %2 cell values").arg(n).arg(m);
    const qint64 start = r.int64(row, column);
    const double step = stepped ? r.real(row, column + 1) : 0.0;
    const quint64 k0 = stepped ? static_cast<quint64>(r.int64(row, column + 2)) : 0;
    const auto timeAt = [&](qsizetype i) { return start + qFromBigEndian<qint32>(times + i * 8 + 4); };
    const auto valueAt = [&](qsizetype i) {
        if (stepped)
            return static_cast<double>(static_cast<qint64>(k0 + static_cast<quint64>(static_cast<qint64>(qFromBigEndian<qint32>(values + i * 8 + 4))))) * step;
        double v;
        const quint64 bits = qFromBigEndian<quint64>(values + i * 12 + 4);
        std::memcpy(&v, &bits, sizeof v);
        return v;
    };
    out.reserve(out.size() + static_cast<size_t>(n / 4));
    for (qsizetype i = 0; i < n; i += 4)
        out.push_back({timeAt(i), valueAt(i), timeAt(i + 1), valueAt(i + 1), timeAt(i + 2), valueAt(i + 2), timeAt(i + 3), valueAt(i + 3)});
    return {};
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
