#pragma once

// The month archive of the engine's benchmarks: one-second history of every trend, written the way the
// runtime writes history (per trend in hour runs, a transaction a day), values as a PLC delivers them
// (a raw count times 0.1).
#include "ArchiveStore.h"

#include <QElapsedTimer>

#include <cmath>

namespace bench {

constexpr qint64 Day = 86400;
constexpr qint64 Start = 1717228800000;

/// Fills `days` from `from`; returns the rate in samples a second.
inline double fillArchive(ArchiveStore& store, qint64 from, qint64 days)
{
    const int trends = store.trendCount();
    QElapsedTimer timer;
    timer.start();
    const qint64 chunk = 3600;
    for (qint64 hour = 0; hour < days * 24; ++hour) {
        if (hour % 24 == 0)
            store.beginBulk();
        for (int trend = 0; trend < trends; ++trend)
            for (qint64 s = 0; s < chunk; ++s) {
                const qint64 second = hour * chunk + s;
                const double value = 500.0 + 400.0 * std::sin(second * 0.0007 + trend) + (second * 7919 % 101) / 10.0;
                store.bulkAdd(trend, from + second * 1000, static_cast<double>(std::llround(value * 10.0)) * 0.1);
            }
        if (hour % 24 == 23)
            store.endBulk(true);
    }
    return static_cast<double>(days * Day * trends) / (timer.nsecsElapsed() / 1e9);
}

} // namespace bench
