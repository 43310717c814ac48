#include "SampleBlockPacker.h"

#include "PackedSpans.h"

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
        QList<PackedSample> stored;
        for (const auto& block : store.overlapping(trend, start, start + spanMs - 1))
            if (block.start == start)
                stored = store.unpack(trend, block);
        const QList<PackedSample> merged = PackedSpans::merged(stored, rows.subspan(from, to - from));
        store.write(trend, start, merged);
        from = to;
    }
}
