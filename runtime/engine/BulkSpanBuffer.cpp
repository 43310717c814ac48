#include "BulkSpanBuffer.h"

#include <algorithm>

void BulkSpanBuffer::begin(int trends, qint64 newestMs)
{
    clear();
    m_open.resize(static_cast<size_t>(std::max(0, trends)));
    m_newest = newestMs;
}

void BulkSpanBuffer::clear()
{
    m_open.clear();
    m_closed.clear();
    m_kept.clear();
    m_rows.clear();
}

bool BulkSpanBuffer::add(const ArchiveRow& row)
{
    if (row.slot < 0 || static_cast<size_t>(row.slot) >= m_open.size())
        return false;
    m_newest = std::max(m_newest, row.timeMs);
    const std::pair key{row.id, PackedSpans::startOf(row.timeMs)};
    std::optional<Span>& open = m_open[static_cast<size_t>(row.slot)];
    bool taken = false;
    if (open && open->id == key.first && open->start == key.second) {
        if (row.timeMs > open->samples.back().t) {
            open->samples.append({row.timeMs, row.value});
            taken = true;
        } else {
            spill(key.first, key.second);
        }
    } else {
        close(row.slot);
        if (m_kept.contains(key))
            spill(key.first, key.second);
        if (!m_rows.contains(key) && !m_kept.contains(key)) {
            if (m_sink.isEmpty(key.first, key.second)) {
                open = Span{row.slot, key.first, key.second, {{row.timeMs, row.value}}};
                m_kept.insert(key);
                taken = true;
            } else {
                m_rows.insert(key);
            }
        }
    }
    writeDue();
    return taken;
}

void BulkSpanBuffer::close(int slot)
{
    std::optional<Span>& open = m_open[static_cast<size_t>(slot)];
    if (open)
        m_closed.push_back(std::move(*open));
    open.reset();
}

void BulkSpanBuffer::writeDue()
{
    // Hours close roughly in time order; one that is not due yet holds the others back, which only
    // keeps them in memory a little longer.
    while (!m_closed.empty() && PackedSpans::isDue(m_closed.front().start, m_newest)) {
        m_sink.asBlock(m_closed.front());
        m_closed.pop_front();
    }
}

void BulkSpanBuffer::spill(qint64 id, qint64 start)
{
    const auto same = [&](const Span& s) { return s.id == id && s.start == start; };
    for (std::optional<Span>& open : m_open) {
        if (open && same(*open)) {
            m_sink.asRows(*open);
            open.reset();
        }
    }
    if (const auto it = std::find_if(m_closed.begin(), m_closed.end(), same); it != m_closed.end()) {
        m_sink.asRows(*it);
        m_closed.erase(it);
    }
    // Written as a block already: the row path unpacks it.
    m_rows.insert({id, start});
}

void BulkSpanBuffer::finish()
{
    for (size_t slot = 0; slot < m_open.size(); ++slot)
        close(static_cast<int>(slot));
    for (const Span& span : m_closed) {
        if (PackedSpans::isDue(span.start, m_newest))
            m_sink.asBlock(span);
        else
            m_sink.asRows(span);
    }
    clear();
}
