#pragma once

#include "ArchiveAggregate.h"
#include "SampleBlockCodec.h"

#include <limits>

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
/// The block also carries its hour's minute cells (one row per hour instead of sixty rollup rows):
/// `cell_t` holds first, minimum, maximum and last time of each cell as offsets from `start`, and
/// `cell_k` the four values as multiples of `step` counted from `k0`, or `cell_v` the doubles. A block
/// without `cell_t` (packed by an older program) left its minute cells in the rollups.
class PgBlockColumns final {
public:
    /// The columns after (trend, start): first_t, last_t, n, dt, step, k0, dk, vals as text
    /// parameters (a null array is SQL NULL). `samples` ordered by time, all inside the span.
    /// Minute cells starting before `cellsFrom` are left out (retention's cut drops them).
    static QList<QByteArray> params(qint64 spanStart, std::span<const PackedSample> samples, qint64 cellsFrom = std::numeric_limits<qint64>::min());
    /// The column list matching params(), for INSERT.
    static constexpr const char* Columns = "first_t, last_t, n, dt, step, k0, dk, vals, cell_t, cell_k, cell_v";
    static constexpr int ColumnCount = 11;
    /// `$first, $first+1, ...` for the ColumnCount parameters of params().
    static QByteArray placeholders(int first);
    /// The columns decode() reads, in its order.
    static constexpr const char* StoredColumns = "start, dt, step, k0, dk, vals";
    /// Appends the samples of the block in binary row `row` (StoredColumns from `column` on) to `out`,
    /// the same arithmetic as the SQL function; what is wrong with a block altered by hand otherwise.
    static QString decode(const PgResult& r, int row, int column, std::vector<PackedSample>& out);
    /// The columns decodeCells() reads, in its order.
    static constexpr const char* CellColumns = "start, step, k0, cell_t, cell_k, cell_v";
    /// Appends the minute cells of binary row `row` (CellColumns from `column` on) to `out`; a block
    /// without them adds none. What is wrong with a block altered by hand otherwise.
    static QString decodeCells(const PgResult& r, int row, int column, std::vector<ArchiveAggregate>& out);
    /// The set-returning call that unpacks block `alias` into (t, v), oldest first.
    static QByteArray unpackCall(const char* alias);
    /// Creates (or replaces) the SQL function unpackCall() uses.
    static const QByteArray& functionSql();
};
