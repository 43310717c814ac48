#include "SingleLineText.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRect>

void SingleLineText::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    m_width = -1;
}

void SingleLineText::paint(QPainter& painter, const QRect& area, Qt::Alignment alignment)
{
    if (m_text.isEmpty())
        return;
    const QFontMetrics metrics(painter.font());
    if (m_width < 0 || painter.font() != m_measuredWith) {
        m_width = metrics.horizontalAdvance(m_text);
        m_measuredWith = painter.font();
    }
    qreal x = area.left();
    if (alignment & Qt::AlignRight)
        x = area.right() + 1 - m_width;
    else if (alignment & Qt::AlignHCenter)
        x = area.left() + (area.width() - m_width) / 2.0;
    qreal y = area.top() + (area.height() - metrics.height()) / 2.0 + metrics.ascent();
    if (alignment & Qt::AlignTop)
        y = area.top() + metrics.ascent();
    else if (alignment & Qt::AlignBottom)
        y = area.bottom() + 1 - metrics.descent();
    // Clipped to the field, so a text too long for it never draws over its neighbour.
    painter.save();
    painter.setClipRect(area, Qt::IntersectClip);
    painter.drawText(QPointF(x, y), m_text);
    painter.restore();
}
