#include "ArchiveAggregate.h"

void ArchiveAggregate::merge(const ArchiveAggregate& o)
{
    if (o.firstT < firstT) {
        firstT = o.firstT;
        firstV = o.firstV;
    }
    if (o.lastT > lastT) {
        lastT = o.lastT;
        lastV = o.lastV;
    }
    if (o.minV < minV || (o.minV == minV && o.minT < minT)) {
        minT = o.minT;
        minV = o.minV;
    }
    if (o.maxV > maxV || (o.maxV == maxV && o.maxT < maxT)) {
        maxT = o.maxT;
        maxV = o.maxV;
    }
}
