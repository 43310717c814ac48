#pragma once

#include "SampleBlockCodec.h"

#include <vector>

class PgResult;

#include <QByteArray>
#include <QList>

#include <span>

/// \brief One packed block as plain SQL columns that a tool (and the read-only view) can unpack with
/// unnest and window sums, so nothing but SQL is needed to read every sample back bit for bit:
/// `dt` the time deltas (the first from the span's start), and either `step`, `k0` and `dk` (each
/// value is float8(k) * step, k0 the first multiple, dk the changes, the first 0) or `vals`, the
/// doubles themselves. The arrays are stored with lz4, which removes the runs of equal deltas.
class PgBlockColumns final {
public:
    /// The columns after (trend, start): first_t, last_t, n, dt, step, k0, dk, vals as text
    /// parameters (a null array is SQL NULL). `samples` ordered by time, all inside the span.
    static QList<QByteArray> params(qint64 spanStart, std::span<const PackedSample> samples);
    /// The column list matching params(), for INSERT.
    static constexpr const char* Columns = "first_t, last_t, n, dt, step, k0, dk, vals";
    /// The columns decode() reads, in its order.
    static constexpr const char* StoredColumns = "start, dt, step, k0, dk, vals";
    /// Appends the samples of the block in binary row `row` (StoredColumns from `column` on) to `out`,
    /// the same arithmetic as the SQL function; what is wrong with a block altered by hand otherwise.
    static QString decode(const PgResult& r, int row, int column, std::vector<PackedSample>& out);
    /// The set-returning call that unpacks block `alias` into (t, v), oldest first.
    static QByteArray unpackCall(const char* alias);
    /// Creates (or replaces) the SQL function unpackCall() uses.
    static const QByteArray& functionSql();
};
