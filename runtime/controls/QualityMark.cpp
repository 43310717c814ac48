#include "QualityMark.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace QualityMark {

QColor greyed()
{
    return QColor(140, 140, 140);
}

QColor flagColor()
{
    return QColor(214, 0, 147);
}

void paint(QPainter& painter, const QRectF& area)
{
    // Large enough to be seen across the room, small enough to leave a value readable.
    const double side = std::clamp(std::min(area.width(), area.height()) * 0.6, 5.0, 12.0);
    QPainterPath flag;
    flag.moveTo(area.right() - side, area.top());
    flag.lineTo(area.right(), area.top());
    flag.lineTo(area.right(), area.top() + side);
    flag.closeSubpath();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(flag, flagColor());
    painter.setPen(QPen(QColor(255, 255, 255), 1));
    painter.drawPath(flag);
    painter.restore();
}

} // namespace QualityMark
