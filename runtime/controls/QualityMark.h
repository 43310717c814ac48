#pragma once

#include <QColor>
#include <QRectF>

class QPainter;

/// The one way every runtime control shows that what it displays is not live (bad quality, nothing
/// delivered): its content greyed, and a magenta flag in the top right corner of what it shows.
namespace QualityMark {

/// Text and fills of a control without a live value.
QColor greyed();
/// The colour of the flag; no state colour of the plant (flow blue, alarm red and amber) uses it.
QColor flagColor();
/// Draws the flag into the top right corner of `area`.
void paint(QPainter& painter, const QRectF& area);

} // namespace QualityMark
