#pragma once

class QWidget;

/// Positions and sizes in twips, 15 to the pixel, as the layouts and handlers think of them. A widget
/// takes whole pixels; every setter rounds to the nearest pixel and every getter reports what the
/// widget actually took, so code that reads back after writing sees the container's rounding.
namespace Twips {

inline constexpr int perPixel = 15;

/// Pixels for a twips value; throws KalvoraError for a value that is not finite or does not fit a
/// widget coordinate.
int toPixels(float twips);
inline float fromPixels(int pixels) { return static_cast<float>(pixels * perPixel); }

float left(const QWidget& w);
float top(const QWidget& w);
float width(const QWidget& w);
float height(const QWidget& w);
void setLeft(QWidget& w, float twips);
void setTop(QWidget& w, float twips);
void setWidth(QWidget& w, float twips);
void setHeight(QWidget& w, float twips);

/// A top-level window's outer size (frame included), in twips.
float outerWidth(const QWidget& window);
float outerHeight(const QWidget& window);

} // namespace Twips
