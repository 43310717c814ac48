#include "TrendCurveCache.h"

#include <QDebug>

#include <algorithm>

void TrendCurveCache::clear()
{
    ++m_generation;
    m_points.clear();
    m_from = m_to = 0;
    m_bucketMs = 0;
}

void TrendCurveCache::read(HistoryReader& history, QObject* context, const QString& archive, const QString& trend,
                           qint64 from, qint64 to)
{
    if (to <= from)
        return;
    const quint64 generation = m_generation;
    ++m_reading;
    history.reduced(archive, trend, from, to - 1, static_cast<int>((to - from) / m_bucketMs), context,
        [this, generation, from, to](const QList<ArchiveSample>& samples, const QString& error) {
            --m_reading;
            if (generation != m_generation)
                return;
            if (!error.isEmpty())
                qWarning().noquote() << "Trend: reading" << from << "to" << to << "failed:" << error;
            // A late answer may cover buckets that scrolled out meanwhile.
            splice(std::max(from, m_from), std::min(to, m_to), samples);
            if (!m_covering && m_arrived)
                m_arrived();
        });
}

void TrendCurveCache::splice(qint64 from, qint64 to, const QList<ArchiveSample>& samples)
{
    if (to <= from)
        return;
    const auto less = [](const ArchiveSample& s, qint64 t) { return s.timeMs < t; };
    const qsizetype begin = std::lower_bound(m_points.cbegin(), m_points.cend(), from, less) - m_points.cbegin();
    const qsizetype end = std::lower_bound(m_points.cbegin(), m_points.cend(), to, less) - m_points.cbegin();
    QList<ArchiveSample> inside;
    for (const ArchiveSample& s : samples)
        if (s.timeMs >= from && s.timeMs < to)
            inside.append(s);
    m_points = m_points.mid(0, begin) + inside + m_points.mid(end);
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

void TrendCurveCache::cover(HistoryReader& history, QObject* context, const QString& archive, const QString& trend,
                            qint64 from, qint64 to, qint64 bucketMs, bool refreshLast, std::function<void()> arrived)
{
    m_arrived = std::move(arrived);
    m_covering = true;
    const bool disjoint = m_to <= m_from || to <= m_from || from >= m_to;
    if (bucketMs != m_bucketMs || disjoint) {
        clear();
        m_from = from;
        m_to = to;
        m_bucketMs = bucketMs;
        read(history, context, archive, trend, from, to);
        m_covering = false;
        return;
    }
    const qint64 oldFrom = m_from;
    qint64 rightStart = std::max(from, refreshLast ? m_to - bucketMs : m_to);
    if (to < rightStart)
        rightStart = to;
    m_from = from;
    m_to = to;
    if (from > oldFrom)
        dropBefore(from);
    else if (from < oldFrom)
        read(history, context, archive, trend, from, oldFrom);
    dropFrom(rightStart);
    read(history, context, archive, trend, rightStart, to);
    m_covering = false;
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
