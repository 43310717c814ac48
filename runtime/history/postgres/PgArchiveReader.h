#pragma once

#include "ArchiveStoreRollups.h"

#include <QList>
#include <QString>

#include <vector>

class PgConnection;

/// One sample read back.
struct PgPoint {
    qint64 timeMs = 0;
    double value = 0.0;
    bool operator==(const PgPoint& other) const = default;
};

/// \brief Reads the archive on a PostgreSQL server: one trend's samples, or the reduction for a chart
/// answered from the coarsest rollup level that tiles each bucket, the same points the embedded
/// archive gives for the same samples. A failed read gives nothing and sets error().
class PgArchiveReader final {
public:
    explicit PgArchiveReader(PgConnection& connection)
        : m_c(connection)
    {
    }

    /// Samples of trend id `trend` with t0 <= time <= t1, oldest first.
    QList<PgPoint> range(int trend, qint64 t0, qint64 t1);
    /// [t0, t1] cut into `buckets` equal spans; per span that holds samples, its first, minimum, maximum
    /// and last sample (each once, oldest first).
    QList<PgPoint> reduced(int trend, qint64 t0, qint64 t1, int buckets);
    const QString& error() const { return m_error; }

    /// One piece of a query span from one level (-1: the raw samples), [from, to).
    using Piece = ArchiveRollups::Segment;
    /// Cuts every span [edges[i], edges[i+1]) into pieces: the middle from the coarsest level whose step
    /// is at most `maxStepMs` and whose cells lie wholly inside and not before `validFrom`, the ends
    /// from finer levels down to the raw samples.
    static std::vector<Piece> pieces(const std::vector<qint64>& edges, qint64 maxStepMs, qint64 validFrom);

private:
    PgConnection& m_c;
    QString m_error;
};
