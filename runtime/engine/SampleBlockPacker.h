#pragma once

#include "SampleBlockStore.h"

#include <span>

/// \brief Packs rows of one trend that have left the live window into blocks of whole spans. A span
/// that already has a block is merged with it (a row wins over a stored sample of the same time), so
/// running again after a crash, or over late rows, gives the same blocks and loses nothing.
class SampleBlockPacker final {
public:
    /// `rows` ordered by time; `spanMs` the block span (an hour). Runs in the caller's transaction.
    static void pack(SampleBlockStore& store, qint64 trend, std::span<const PackedSample> rows, qint64 spanMs);
    /// The start of the span holding `t` (floor, also before 1970).
    static qint64 spanStart(qint64 t, qint64 spanMs);
};
