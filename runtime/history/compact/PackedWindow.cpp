#include "PackedWindow.h"

#include <algorithm>
#include <optional>

PackedWindow::Ranges PackedWindow::spanRuns(const Ranges& ranges)
{
    Ranges runs;
    for (const auto& [t0, t1] : ranges) {
        if (t1 < t0)
            continue;
        const qint64 first = PackedSpans::startOf(t0);
        const qint64 last = PackedSpans::startOf(t1) + PackedSpans::SpanMs - 1;
        if (!runs.empty() && first <= runs.back().second + 1)
            runs.back().second = std::max(runs.back().second, last);
        else
            runs.emplace_back(first, last);
    }
    return runs;
}

void PackedWindow::add(qint64 spanStart, QList<PackedSample> samples, QList<ArchiveAggregate> cells)
{
    m_spans[spanStart] = {std::move(samples), std::move(cells)};
}

bool PackedWindow::touches(qint64 t0, qint64 t1) const
{
    const auto it = m_spans.lower_bound(PackedSpans::startOf(t0));
    return it != m_spans.end() && it->first <= t1;
}

bool PackedWindow::covers(qint64 t0, qint64 t1) const
{
    for (qint64 start = PackedSpans::startOf(t0); start <= t1; start += PackedSpans::SpanMs)
        if (!m_spans.contains(start))
            return false;
    return true;
}

void PackedWindow::samples(qint64 t0, qint64 t1, const OnSample& onSample) const
{
    for (auto span = m_spans.lower_bound(PackedSpans::startOf(t0)); span != m_spans.end() && span->first <= t1; ++span) {
        const QList<PackedSample>& in = span->second.samples;
        auto it = std::lower_bound(in.begin(), in.end(), t0, [](const PackedSample& s, qint64 t) { return s.t < t; });
        for (; it != in.end() && it->t <= t1; ++it)
            onSample(*it);
    }
}

void PackedWindow::cells(qint64 from, qint64 to, const PackedSpans::OnCell& onCell) const
{
    for (auto span = m_spans.lower_bound(PackedSpans::startOf(from)); span != m_spans.end() && span->first < to; ++span) {
        const QList<ArchiveAggregate>& kept = span->second.cells;
        if (kept.isEmpty()) {
            PackedSpans::cells(span->second.samples, PackedSpans::CellMs, from, to, onCell);
            continue;
        }
        // A cell's first sample lies in the cell, so on an aligned range it tells in or out.
        auto it = std::lower_bound(kept.begin(), kept.end(), from, [](const ArchiveAggregate& c, qint64 t) { return c.firstT < t; });
        for (; it != kept.end() && it->firstT < to; ++it)
            onCell(*it);
    }
}

void PackedWindow::cells(qint64 from, qint64 to, qint64 stepMs, const PackedSpans::OnCell& onCell) const
{
    qint64 start = 0;
    std::optional<ArchiveAggregate> open;
    cells(from, to, [&](const ArchiveAggregate& cell) {
        const qint64 cellStart = PackedSpans::floorTo(cell.firstT, stepMs);
        if (open && cellStart == start) {
            open->merge(cell);
            return;
        }
        if (open)
            onCell(*open);
        open = cell;
        start = cellStart;
    });
    if (open)
        onCell(*open);
}
