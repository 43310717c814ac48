#pragma once

#include "PackedSpans.h"

#include <map>
#include <utility>
#include <vector>

/// \brief The packed spans one read of a trend needs, decoded once for the whole read. A chart's read
/// asks for many short pieces; where a piece lies wholly in packed spans it is answered from here
/// without asking the store at all (a span holds either rows or a block, so nothing else is there).
class PackedWindow final {
public:
    /// Inclusive ranges [t0, t1].
    using Ranges = std::vector<std::pair<qint64, qint64>>;
    using OnSample = std::function<void(const PackedSample& sample)>;

    /// The runs of whole spans that `ranges` (ascending) touch, as inclusive ranges for one store
    /// query each.
    static Ranges spanRuns(const Ranges& ranges);

    /// A packed span's samples and, where the caller keeps them, its cells of PackedSpans::CellMs.
    void add(qint64 spanStart, QList<PackedSample> samples, QList<ArchiveAggregate> cells = {});
    /// Whether any packed span lies in [t0, t1]; whether all of [t0, t1] lies in packed spans.
    bool touches(qint64 t0, qint64 t1) const;
    bool covers(qint64 t0, qint64 t1) const;
    /// The packed samples in [t0, t1], oldest first.
    void samples(qint64 t0, qint64 t1, const OnSample& onSample) const;
    /// The cells of PackedSpans::CellMs of the packed samples in [from, to) (aligned to the cells).
    void cells(qint64 from, qint64 to, const PackedSpans::OnCell& onCell) const;
    /// The cells of `stepMs` (a multiple of PackedSpans::CellMs) in [from, to), each merged from the
    /// cells above: exactly what the rollups hold for a packed span, without asking the store.
    void cells(qint64 from, qint64 to, qint64 stepMs, const PackedSpans::OnCell& onCell) const;

private:
    struct Span {
        QList<PackedSample> samples;
        QList<ArchiveAggregate> cells;
    };
    std::map<qint64, Span> m_spans;
};
