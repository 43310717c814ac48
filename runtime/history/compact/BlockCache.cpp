#include "BlockCache.h"

#include <algorithm>
#include <vector>

std::size_t BlockCache::Kept::bytes() const
{
    return static_cast<std::size_t>(entry.version.size()) + static_cast<std::size_t>(entry.samples.size()) * sizeof(PackedSample)
        + static_cast<std::size_t>(entry.cells.size() + entry.minutes.size()) * sizeof(ArchiveAggregate);
}

const BlockCache::Entry* BlockCache::find(qint64 trend, qint64 start, const QByteArray& version, int need)
{
    const auto it = m_kept.find({trend, start});
    if (it == m_kept.end() || it->second.entry.version != version || (it->second.entry.has & need) != need)
        return nullptr;
    it->second.used = ++m_uses;
    return &it->second.entry;
}

void BlockCache::put(qint64 trend, qint64 start, Entry entry)
{
    const Key key{trend, start};
    if (const auto it = m_kept.find(key); it != m_kept.end()) {
        const Entry& old = it->second.entry;
        if (old.version == entry.version) {
            if (!(entry.has & Samples) && (old.has & Samples))
                entry.samples = old.samples;
            if (!(entry.has & Cells) && (old.has & Cells))
                entry.cells = old.cells;
            if (!(entry.has & Minutes) && (old.has & Minutes))
                entry.minutes = old.minutes;
            entry.has |= old.has;
        }
        m_bytes -= it->second.bytes();
        m_kept.erase(it);
    }
    Kept kept{std::move(entry), ++m_uses};
    m_bytes += kept.bytes();
    m_kept.emplace(key, std::move(kept));
    if (m_bytes <= m_maxBytes)
        return;
    // Down to three quarters at once, so that a long read does not evict block by block.
    std::vector<std::pair<quint64, Key>> byUse;
    byUse.reserve(m_kept.size());
    for (const auto& [k, v] : m_kept)
        byUse.emplace_back(v.used, k);
    std::sort(byUse.begin(), byUse.end());
    for (const auto& [used, k] : byUse) {
        if (m_bytes <= m_maxBytes / 4 * 3)
            break;
        const auto it = m_kept.find(k);
        m_bytes -= it->second.bytes();
        m_kept.erase(it);
    }
}
