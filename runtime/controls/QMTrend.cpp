#include "QMTrend.h"

#include <QPainter>

// Interface skeleton: drawing, data queries and operator actions come with the chart itself.

QMTrend::QMTrend(Runtime& runtime, QWidget* parent)
    : RuntimeControl(runtime, parent, Coverage::Whole)
{
}

QMTrend::~QMTrend() = default;

void QMTrend::ApplyCurveSettings()
{
    m_applied = m_slots;
    update();
    Q_EMIT curvesApplied();
}

void QMTrend::setOnline(bool online)
{
    if (online == m_online)
        return;
    m_online = online;
    update();
}

void QMTrend::setTimePosition(const QDateTime& time)
{
    if (time == m_timePosition)
        return;
    m_timePosition = time;
    update();
}

void QMTrend::setDateFormat(const QString& format) { m_dateFormat = format; update(); }
void QMTrend::setTimeFormat(const QString& format) { m_timeFormat = format; update(); }
void QMTrend::setPeriodSeconds(int seconds) { m_periodSeconds = seconds; update(); }

void QMTrend::setSlotTrend(int index, const QString& value) { m_slots.at(static_cast<std::size_t>(index)).trend = value; }
void QMTrend::setSlotArchive(int index, const QString& value) { m_slots.at(static_cast<std::size_t>(index)).archive = value; }
void QMTrend::setSlotMaxValue(int index, double value) { m_slots.at(static_cast<std::size_t>(index)).maxValue = value; }
void QMTrend::setSlotMinValue(int index, double value) { m_slots.at(static_cast<std::size_t>(index)).minValue = value; }
void QMTrend::setSlotColor(int index, const QColor& value) { m_slots.at(static_cast<std::size_t>(index)).color = value; }

void QMTrend::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintBackground(painter);
}
