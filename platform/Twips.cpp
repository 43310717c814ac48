#include "Twips.h"

#include "KalvoraError.h"

#include <QWidget>

#include <cmath>

namespace Twips {
namespace {

// Widgets keep coordinates well inside 16 bits on every window system; anything beyond is a fault.
constexpr float limitPixels = 32767.0F;

QString describe(float value)
{
    return QString::number(static_cast<double>(value), 'g', 9);
}

} // namespace

int toPixels(float twips)
{
    if (!std::isfinite(twips))
        throw KalvoraError(QStringLiteral("Invalid position or size: %1 twips").arg(describe(twips)));
    const float pixels = std::nearbyint(twips / static_cast<float>(perPixel));
    if (std::fabs(pixels) > limitPixels)
        throw KalvoraError(QStringLiteral("Position or size out of range: %1 twips").arg(describe(twips)));
    return static_cast<int>(pixels);
}

float left(const QWidget& w) { return fromPixels(w.x()); }
float top(const QWidget& w) { return fromPixels(w.y()); }
float width(const QWidget& w) { return fromPixels(w.width()); }
float height(const QWidget& w) { return fromPixels(w.height()); }

void setLeft(QWidget& w, float twips) { w.move(toPixels(twips), w.y()); }
void setTop(QWidget& w, float twips) { w.move(w.x(), toPixels(twips)); }

void setWidth(QWidget& w, float twips)
{
    const int pixels = toPixels(twips);
    if (pixels < 0)
        throw KalvoraError(QStringLiteral("Invalid width: %1 twips").arg(describe(twips)));
    w.resize(pixels, w.height());
}

void setHeight(QWidget& w, float twips)
{
    const int pixels = toPixels(twips);
    if (pixels < 0)
        throw KalvoraError(QStringLiteral("Invalid height: %1 twips").arg(describe(twips)));
    w.resize(w.width(), pixels);
}

float outerWidth(const QWidget& window) { return fromPixels(window.frameGeometry().width()); }
float outerHeight(const QWidget& window) { return fromPixels(window.frameGeometry().height()); }

} // namespace Twips
