#pragma once

#include <QtGlobal>

#include <cstddef>
#include <utility>
#include <vector>

/// \brief Interleaves items read from packed blocks (given first, all of them, by time) with items
/// streamed from the row table (by time) into one series in time order, as a read of a trend must
/// give them whatever part of it is packed. On equal times the row wins, as it does when a span is
/// packed over late rows. `Item` is a raw sample or a rollup cell; `timeOf` gives its time.
template <class Item, class TimeOf, class Out>
class OrderedMerge final {
public:
    OrderedMerge(TimeOf timeOf, Out out)
        : m_timeOf(std::move(timeOf))
        , m_out(std::move(out))
    {
    }
    void packed(const Item& item) { m_packed.push_back(item); }
    bool hasPacked() const { return m_next < m_packed.size(); }
    void row(const Item& item)
    {
        const qint64 t = m_timeOf(item);
        while (m_next < m_packed.size() && m_timeOf(m_packed[m_next]) < t)
            m_out(m_packed[m_next++]);
        if (m_next < m_packed.size() && m_timeOf(m_packed[m_next]) == t)
            ++m_next;
        m_out(item);
    }
    void finish()
    {
        while (m_next < m_packed.size())
            m_out(m_packed[m_next++]);
        m_packed.clear();
        m_next = 0;
    }

private:
    TimeOf m_timeOf;
    Out m_out;
    std::vector<Item> m_packed;
    std::size_t m_next = 0;
};
