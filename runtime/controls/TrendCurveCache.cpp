#include "TrendCurveCache.h"

#include <algorithm>

void TrendCurveCache::clear()
{
    m_points.clear();
    m_from = m_to = 0;
    m_bucketMs = 0;
}

QList<ArchiveSample> TrendCurveCache::read(const ArchiveStore& store, const QString& archive, const QString& trend,
                                           qint64 from, qint64 to, qint64 bucketMs)
{
    if (to <= from)
        return {};
    return store.reduced(archive, trend, from, to - 1, static_cast<int>((to - from) / bucketMs));
}

void TrendCurveCache::dropBefore(qint64 timeMs)
{
    const auto it = std::lower_bound(m_points.cbegin(), m_points.cend(), timeMs,
                                     [](const ArchiveSample& s, qint64 t) { return s.timeMs < t; });
    m_points.remove(0, it - m_points.cbegin());
}

void TrendCurveCache::dropFrom(qint64 timeMs)
{
    const auto it = std::lower_bound(m_points.cbegin(), m_points.cend(), timeMs,
                                     [](const ArchiveSample& s, qint64 t) { return s.timeMs < t; });
    m_points.resize(it - m_points.cbegin());
}

void TrendCurveCache::cover(const ArchiveStore& store, const QString& archive, const QString& trend, qint64 from,
                            qint64 to, qint64 bucketMs, bool refreshLast)
{
    const bool disjoint = m_to <= m_from || to <= m_from || from >= m_to;
    if (bucketMs != m_bucketMs || disjoint) {
        m_points = read(store, archive, trend, from, to, bucketMs);
        m_from = from;
        m_to = to;
        m_bucketMs = bucketMs;
        return;
    }
    if (from > m_from)
        dropBefore(from);
    else if (from < m_from)
        m_points = read(store, archive, trend, from, m_from, bucketMs) + m_points;
    qint64 rightStart = std::max(from, refreshLast ? m_to - bucketMs : m_to);
    if (to < rightStart)
        rightStart = to;
    dropFrom(rightStart);
    m_points += read(store, archive, trend, rightStart, to, bucketMs);
    m_from = from;
    m_to = to;
}

bool TrendCurveCache::hasPointsIn(qint64 t0, qint64 t1) const
{
    const auto it = std::lower_bound(m_points.cbegin(), m_points.cend(), t0,
                                     [](const ArchiveSample& s, qint64 t) { return s.timeMs < t; });
    return it != m_points.cend() && it->timeMs <= t1;
}

const ArchiveSample* TrendCurveCache::nearest(qint64 timeMs) const
{
    if (m_points.isEmpty())
        return nullptr;
    const auto it = std::lower_bound(m_points.cbegin(), m_points.cend(), timeMs,
                                     [](const ArchiveSample& s, qint64 t) { return s.timeMs < t; });
    if (it == m_points.cend())
        return &m_points.back();
    if (it == m_points.cbegin())
        return &*it;
    const auto before = it - 1;
    return timeMs - before->timeMs <= it->timeMs - timeMs ? &*before : &*it;
}
