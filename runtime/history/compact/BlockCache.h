#pragma once

#include "ArchiveAggregate.h"
#include "SampleBlockCodec.h"

#include <QByteArray>
#include <QList>

#include <cstddef>
#include <map>
#include <utility>

/// \brief Decoded blocks kept between reads, the least recently used dropped first once they hold more
/// than `maxBytes`. An entry answers only for the version it was stored with (the block's own bytes, or
/// what identifies the stored row on a server), so a block written anew is never answered from here.
class BlockCache final {
public:
    /// What a read needs of a block: its samples, its cells of PackedSpans::CellMs, the minute cells a
    /// server's block row carries.
    enum Need { Samples = 1, Cells = 2, Minutes = 4 };
    struct Entry {
        QByteArray version;
        QList<PackedSample> samples;
        QList<ArchiveAggregate> cells;
        int has = 0; ///< Need bits
        QList<ArchiveAggregate> minutes;
    };

    explicit BlockCache(std::size_t maxBytes)
        : m_maxBytes(maxBytes)
    {
    }
    /// The entry of the block when it holds at least `need` of `version`; marks it used.
    const Entry* find(qint64 trend, qint64 start, const QByteArray& version, int need);
    /// Stores what a read decoded; what the cache held of the same version stays.
    void put(qint64 trend, qint64 start, Entry entry);

private:
    struct Kept {
        Entry entry;
        quint64 used = 0;
        std::size_t bytes() const;
    };
    using Key = std::pair<qint64, qint64>;
    std::size_t m_maxBytes;
    std::map<Key, Kept> m_kept;
    std::size_t m_bytes = 0;
    quint64 m_uses = 0;
};
