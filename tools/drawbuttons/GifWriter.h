#pragma once

#include <QByteArray>
#include <QImage>

/// Encodes an image as a single-frame GIF89a, which Qt can read but not write.
///
/// Fully transparent pixels become the GIF's transparent colour; partly transparent ones are blended
/// over `face` first, since a GIF pixel is either shown or not. Up to 255 opaque colours are kept
/// exactly; beyond that the most frequent 255 are kept and every other pixel takes the nearest of them.
namespace GifWriter {
QByteArray encode(const QImage& image, QRgb face = qRgb(240, 240, 240));
} // namespace GifWriter
