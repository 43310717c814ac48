#include "QMSShape.h"

#include <QPainter>

#include <algorithm>

QMSShape::QMSShape(Runtime& runtime, QWidget* parent)
    : RuntimeControl(runtime, parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void QMSShape::setLineColor(const QColor& color)
{
    if (color == m_lineColor)
        return;
    m_lineColor = color;
    update();
}

void QMSShape::setLineWidth(int pixels)
{
    pixels = std::clamp(pixels, 0, 64);
    if (pixels == m_lineWidth)
        return;
    m_lineWidth = pixels;
    update();
}

void QMSShape::setFillColor(const QColor& color)
{
    if (color == m_fillColor)
        return;
    m_fillColor = color;
    update();
}

void QMSShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (m_fillColor.isValid())
        painter.fillRect(rect(), m_fillColor);
    if (m_lineWidth > 0) {
        const qreal half = m_lineWidth / 2.0;
        painter.setPen(QPen(m_lineColor, m_lineWidth));
        painter.drawRect(QRectF(rect()).adjusted(half, half, -half, -half));
    }
}
