#pragma once

#include "ArchiveStore.h"
#include "HistoryReader.h"

#include <QList>
#include <QString>

#include <functional>

/// \brief The reduced points of one curve over the buckets a chart shows, so scrolling and panning
/// ask the archive only for the columns that came into view.
///
/// Buckets lie on a fixed grid (multiples of the bucket length since the epoch), so a bucket asked
/// for again gives the same points and a strip added at either end joins the rest seamlessly. The
/// cache holds at most four points per bucket; the archive keeps the data.
class TrendCurveCache final {
public:
    void clear();

    /// Makes the cache hold exactly the buckets of [from, to) of `bucketMs` each (both ends on the
    /// grid). With `refreshLast`, the last bucket held so far is read again: it is the one the
    /// present is writing into. Points that `history` answers later (a server's) join the cache when
    /// they come, while `context` lives, and `arrived` is called then.
    void cover(HistoryReader& history, QObject* context, const QString& archive, const QString& trend, qint64 from, qint64 to,
               qint64 bucketMs, bool refreshLast, std::function<void()> arrived = {});

    const QList<ArchiveSample>& points() const { return m_points; }
    qint64 bucketMs() const { return m_bucketMs; }
    qint64 bucketOf(qint64 timeMs) const { return floorDiv(timeMs, m_bucketMs); }
    /// Whether a read asked of `history` has not been answered yet (a server's answers come later).
    bool isReading() const { return m_reading > 0; }
    /// Whether any point lies in [t0, t1].
    bool hasPointsIn(qint64 t0, qint64 t1) const;
    /// The point nearest to `timeMs`; null when the cache is empty.
    const ArchiveSample* nearest(qint64 timeMs) const;

    static qint64 floorDiv(qint64 a, qint64 b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

private:
    void read(HistoryReader& history, QObject* context, const QString& archive, const QString& trend, qint64 from, qint64 to);
    /// The points of [from, to) replaced by `samples`.
    void splice(qint64 from, qint64 to, const QList<ArchiveSample>& samples);
    void dropBefore(qint64 timeMs);
    void dropFrom(qint64 timeMs);

    QList<ArchiveSample> m_points;
    qint64 m_from = 0;
    qint64 m_to = 0;
    qint64 m_bucketMs = 0;
    /// Counts resets: an answer to a read from before the last one is dropped.
    quint64 m_generation = 0;
    bool m_covering = false;
    int m_reading = 0;
    std::function<void()> m_arrived;
};
