#pragma once

// The reduced reads a chart makes, timed: eight curves on about 1,000 buckets of an aligned length, and
// a zoom from a whole span inward, a fifth at a time around its middle. Shared by the archive benchmarks
// so that both backends are measured the same way.
#include "ArchiveStore.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace bench {

struct Percentiles {
    double p50 = 0;
    double p95 = 0;
};

inline Percentiles percentiles(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 95 / 100)]};
}

/// One curve's reduced read of [t0, t1] in `buckets`; gives the number of points.
using Reduce = std::function<qsizetype(int curve, qint64 t0, qint64 t1, int buckets)>;

/// Eight curves over [t0, t1] as the chart asks; -1 when no curve had a point.
inline double chartMs(const Reduce& reduce, qint64 t0, qint64 t1)
{
    const qint64 bucket = ArchiveStore::alignedBucketMs(std::max<qint64>(1, (t1 - t0) / 1000));
    const qint64 a0 = t0 / bucket * bucket;
    const int n = static_cast<int>((t1 - a0) / bucket + 1);
    QElapsedTimer timer;
    timer.start();
    qsizetype points = 0;
    for (int curve = 0; curve < 8; ++curve)
        points += reduce(curve, a0, a0 + n * bucket - 1, n);
    const double ms = timer.nsecsElapsed() / 1e6;
    return points > 0 ? ms : -1.0;
}

/// Twenty zoom steps into [t0, t1] (to a hundredth of it), three rounds; `printSteps` prints each.
inline Percentiles zoomSteps(const Reduce& reduce, qint64 t0, qint64 t1, bool printSteps = false)
{
    std::vector<double> ms;
    for (int round = 0; round < 3; ++round) {
        qint64 from = t0;
        qint64 to = t1;
        for (int step = 0; step < 20; ++step) {
            const qint64 middle = from + (to - from) / 2;
            const qint64 half = (to - from) * 2 / 5;
            from = middle - half;
            to = middle + half;
            ms.push_back(chartMs(reduce, from, to));
            if (printSteps)
                std::printf("    round %d, step %d, %.1f h: %.1f ms\n", round, step, (to - from) / 3.6e6, ms.back());
        }
    }
    return percentiles(ms);
}

} // namespace bench
