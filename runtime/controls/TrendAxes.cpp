#include "TrendAxes.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

namespace TrendAxes {

QString toQtFormat(const QString& stored)
{
    QString result;
    QString literal;
    const auto flushLiteral = [&] {
        if (literal.isEmpty())
            return;
        result += QLatin1Char('\'') + QString(literal).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
        literal.clear();
    };
    for (const QChar c : stored) {
        const char16_t u = c.toLower().unicode();
        char16_t mapped = 0;
        switch (u) {
        case u'd': mapped = u'd'; break;
        case u'm': mapped = u'M'; break;
        case u'y': mapped = u'y'; break;
        case u'h': mapped = u'H'; break;
        case u'n': mapped = u'm'; break;
        case u's': mapped = u's'; break;
        default: break;
        }
        if (mapped) {
            flushLiteral();
            result += QChar(mapped);
        } else {
            literal += c;
        }
    }
    flushLiteral();
    return result;
}

QList<qint64> timeTicks(qint64 startMs, qint64 endMs, int pixels, int minPixels)
{
    static constexpr qint64 ladder[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 10800,
                                        14400, 21600, 43200, 86400, 172800, 604800};
    QList<qint64> ticks;
    if (endMs <= startMs || pixels <= 0)
        return ticks;
    const double msPerPixel = static_cast<double>(endMs - startMs) / pixels;
    qint64 stepMs = ladder[std::size(ladder) - 1] * 1000;
    for (const qint64 s : ladder) {
        if (static_cast<double>(s) * 1000.0 / msPerPixel >= minPixels) {
            stepMs = s * 1000;
            break;
        }
    }
    // On the local clock, so the ticks fall on round local hours and midnights.
    const qint64 offsetMs = static_cast<qint64>(QDateTime::fromMSecsSinceEpoch(startMs).offsetFromUtc()) * 1000;
    const qint64 local = startMs + offsetMs;
    qint64 first = (local >= 0 ? local / stepMs : -((-local + stepMs - 1) / stepMs)) * stepMs - offsetMs;
    if (first < startMs)
        first += stepMs;
    for (qint64 t = first; t <= endMs && ticks.size() < 1000; t += stepMs)
        ticks.append(t);
    return ticks;
}

double valueStep(double low, double high, int maxDivisions)
{
    const double span = high - low;
    if (!(span > 0.0) || !std::isfinite(span) || maxDivisions < 1)
        return 1.0;
    const double raw = span / maxDivisions;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (m * power >= raw * (1.0 - 1e-9))
            return m * power;
    return 10.0 * power;
}

double valueY(double value, double low, double high, int top, int bottom)
{
    const int inset = std::clamp((bottom - top - 3) / 2, 0, ValueInset);
    const int rowLow = bottom - 1 - inset;
    const int rowHigh = top + 1 + inset;
    int row = 0;
    if (value > high)
        row = top + 1;
    else if (value < low)
        row = bottom - 1;
    else // the nearest row: a level line lies on one row, sharp, instead of blurred over two
        row = rowLow - static_cast<int>(std::lround((value - low) / (high - low) * (rowLow - rowHigh)));
    return row + 0.5;
}

} // namespace TrendAxes
