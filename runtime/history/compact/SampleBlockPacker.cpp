#include "SampleBlockPacker.h"

#include <algorithm>

qint64 SampleBlockPacker::spanStart(qint64 t, qint64 spanMs)
{
    const qint64 rest = t % spanMs;
    return t - (rest < 0 ? rest + spanMs : rest);
}

void SampleBlockPacker::pack(SampleBlockStore& store, qint64 trend, std::span<const PackedSample> rows, qint64 spanMs)
{
    std::size_t from = 0;
    while (from < rows.size()) {
        const qint64 start = spanStart(rows[from].t, spanMs);
        std::size_t to = from;
        while (to < rows.size() && rows[to].t < start + spanMs)
            ++to;
        const auto byTime = [](const PackedSample& a, const PackedSample& b) { return a.t < b.t; };
        const std::span<const PackedSample> fresh = rows.subspan(from, to - from);
        QList<PackedSample> merged(fresh.begin(), fresh.end());
        for (const auto& block : store.overlapping(trend, start, start + spanMs - 1)) {
            if (block.start != start)
                continue;
            for (const PackedSample& s : store.unpack(trend, block))
                if (!std::binary_search(fresh.begin(), fresh.end(), s, byTime))
                    merged.append(s);
        }
        std::stable_sort(merged.begin(), merged.end(), byTime);
        store.write(trend, start, merged);
        from = to;
    }
}
