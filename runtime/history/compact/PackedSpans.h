#pragma once

#include "ArchiveAggregate.h"
#include "SampleBlockCodec.h"

#include <QList>

#include <functional>
#include <optional>
#include <span>

/// \brief The rules both archive backends keep for packed raw history. A trend's raw samples are cut
/// into aligned spans of an hour; a span holds either rows (one per sample: cheap to write, safe in a
/// crash) or one packed block, never both. A span is packed once the archive's newest sample is
/// LiveMs past its end; a write into a packed span unpacks it first, so replaced samples and rollup
/// cells stay exact. The finest rollup level is not stored for packed spans: readers derive its cells
/// from the block (cells()), which is most of what packing saves besides the rows.
class PackedSpans final {
public:
    static constexpr qint64 SpanMs = 3'600'000;
    static constexpr qint64 LiveMs = 5 * 60'000;
    /// The finest rollup level, which packed spans do not store.
    static constexpr qint64 CellMs = 10'000;
    using OnCell = std::function<void(const ArchiveAggregate& cell)>;

    /// The start of the span holding `t` (floor, also before 1970).
    static qint64 startOf(qint64 t);
    /// `t` rounded down to a multiple of `step`, also before 1970.
    static qint64 floorTo(qint64 t, qint64 step);
    /// Spans starting before this are due for packing while the archive's newest sample is `newestMs`.
    static qint64 dueBefore(qint64 newestMs);
    static bool isDue(qint64 spanStart, qint64 newestMs) { return spanStart < dueBefore(newestMs); }

    /// A trend and the time of its oldest row (a sample not yet packed).
    struct OldestRow {
        qint64 trend = 0;
        qint64 timeMs = 0;
    };
    struct Span {
        qint64 trend = 0;
        qint64 start = 0;
        bool operator==(const Span& other) const = default;
    };
    /// The span to pack next: the oldest due span of the trends' oldest rows (the lower trend id on a
    /// tie), or none while every row is in the live window.
    static std::optional<Span> next(std::span<const OldestRow> oldestRows, qint64 newestMs);

    /// A stored block's samples with `rows` of the same span (both by time) merged in; a row wins over a
    /// stored sample of the same time. For a block unpacked by a write, or packed again over late rows.
    static QList<PackedSample> merged(std::span<const PackedSample> block, std::span<const PackedSample> rows);
    /// The samples at or after `cutoffMs`, for a block that straddles the retention cutoff.
    static QList<PackedSample> keptFrom(std::span<const PackedSample> samples, qint64 cutoffMs);

    /// The cells of `stepMs` (aligned, as the rollups hold them) of the samples (by time) inside
    /// [from, to), oldest first, each aggregated as the rollups aggregate them.
    static void cells(std::span<const PackedSample> samples, qint64 stepMs, qint64 from, qint64 to, const OnCell& onCell);
};
