#pragma once

#include <QtGlobal>

/// First, minimum, maximum and last sample of a span. Ties go to the earliest sample, as a scan in time
/// order finds them, so a merged aggregate equals the one computed from the samples themselves.
struct ArchiveAggregate {
    qint64 firstT = 0;
    double firstV = 0.0;
    qint64 minT = 0;
    double minV = 0.0;
    qint64 maxT = 0;
    double maxV = 0.0;
    qint64 lastT = 0;
    double lastV = 0.0;

    static ArchiveAggregate of(qint64 t, double v) { return {t, v, t, v, t, v, t, v}; }
    void merge(const ArchiveAggregate& other);
    bool operator==(const ArchiveAggregate& other) const = default;
};
