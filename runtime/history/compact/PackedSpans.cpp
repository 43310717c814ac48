#include "PackedSpans.h"

#include <algorithm>

namespace {

bool earlier(const PackedSample& a, const PackedSample& b)
{
    return a.t < b.t;
}

} // namespace

qint64 PackedSpans::floorTo(qint64 t, qint64 step)
{
    const qint64 rest = t % step;
    return t - (rest < 0 ? rest + step : rest);
}

qint64 PackedSpans::startOf(qint64 t)
{
    return floorTo(t, SpanMs);
}

qint64 PackedSpans::dueBefore(qint64 newestMs)
{
    // A span [s, s + SpanMs) is due when s + SpanMs + LiveMs <= newest; spans start on the grid.
    return startOf(newestMs - LiveMs);
}

std::optional<PackedSpans::Span> PackedSpans::next(std::span<const OldestRow> oldestRows, qint64 newestMs)
{
    std::optional<Span> best;
    const qint64 bound = dueBefore(newestMs);
    for (const OldestRow& row : oldestRows) {
        const qint64 start = startOf(row.timeMs);
        if (start >= bound)
            continue;
        if (!best || start < best->start || (start == best->start && row.trend < best->trend))
            best = Span{row.trend, start};
    }
    return best;
}

QList<PackedSample> PackedSpans::merged(std::span<const PackedSample> block, std::span<const PackedSample> rows)
{
    QList<PackedSample> out;
    out.reserve(static_cast<qsizetype>(block.size() + rows.size()));
    auto b = block.begin();
    for (const PackedSample& row : rows) {
        for (; b != block.end() && b->t < row.t; ++b)
            out.append(*b);
        if (b != block.end() && b->t == row.t)
            ++b;
        out.append(row);
    }
    out.append(QList<PackedSample>(b, block.end()));
    return out;
}

QList<PackedSample> PackedSpans::keptFrom(std::span<const PackedSample> samples, qint64 cutoffMs)
{
    const auto first = std::lower_bound(samples.begin(), samples.end(), PackedSample{cutoffMs, 0.0}, earlier);
    return QList<PackedSample>(first, samples.end());
}

void PackedSpans::cells(std::span<const PackedSample> samples, qint64 stepMs, qint64 from, qint64 to, const OnCell& onCell)
{
    auto it = std::lower_bound(samples.begin(), samples.end(), PackedSample{from, 0.0}, earlier);
    while (it != samples.end() && it->t < to) {
        const qint64 end = floorTo(it->t, stepMs) + stepMs;
        ArchiveAggregate cell = ArchiveAggregate::of(it->t, it->v);
        for (++it; it != samples.end() && it->t < end && it->t < to; ++it)
            cell.merge(ArchiveAggregate::of(it->t, it->v));
        onCell(cell);
    }
}
