#pragma once

#include <QList>
#include <QString>

/// The chart's axes: the stored date and time formats and where the ticks go.
namespace TrendAxes {

/// The toolkit's format for a stored date or time format: "d"/"dd" day, "m"/"mm" month, "yy"/"yyyy"
/// year, "h"/"hh" hour (0 to 23), "n"/"nn" minute, "s"/"ss" second; every other character is shown
/// as it stands ("dd.mm.yyyy" shows 01.06.2002, "hh:nn:ss" 09:00:00).
QString toQtFormat(const QString& stored);

/// Tick times in [startMs, endMs], a whole step apart on the local clock (a 6-hour step ticks at 0,
/// 6, 12 and 18 o'clock), the step the smallest of a fixed ladder (1 s ... 7 days) that leaves at
/// least `minPixels` between ticks on an axis `pixels` wide.
QList<qint64> timeTicks(qint64 startMs, qint64 endMs, int pixels, int minPixels);

/// A step of 1, 2, 2.5 or 5 times a power of ten that cuts [low, high] into at most `maxDivisions`.
double valueStep(double low, double high, int maxDivisions);

/// Rows between the frame and either end of the value range, so a curve running at an end of its range
/// is drawn inside the plot rather than on the frame.
inline constexpr int ValueInset = 4;

/// The y (the centre of the nearest pixel row) of `value` on a plot framed by the rows `top` and
/// `bottom`: `low` lies `ValueInset` rows inside the bottom frame, `high` as far inside the top one
/// (less on a plot too low for that), a value beyond the range on the row just inside the frame on its
/// side.
double valueY(double value, double low, double high, int top, int bottom);

} // namespace TrendAxes
