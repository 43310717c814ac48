#include "GifWriter.h"

#include <QHash>
#include <QList>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

constexpr int maxCodeBits = 12;
constexpr int maxCodes = 1 << maxCodeBits;

/// Packs variable-width codes least significant bit first, as GIF wants.
class BitPacker final {
public:
    void put(int code, int bits)
    {
        m_buffer |= static_cast<std::uint32_t>(code) << m_used;
        m_used += bits;
        while (m_used >= 8) {
            m_bytes.append(static_cast<char>(m_buffer & 0xFF));
            m_buffer >>= 8;
            m_used -= 8;
        }
    }
    QByteArray finish()
    {
        if (m_used > 0)
            m_bytes.append(static_cast<char>(m_buffer & 0xFF));
        m_buffer = 0;
        m_used = 0;
        return m_bytes;
    }

private:
    QByteArray m_bytes;
    std::uint32_t m_buffer = 0;
    int m_used = 0;
};

QByteArray lzw(const QList<std::uint8_t>& pixels, int minCodeSize)
{
    const int clear = 1 << minCodeSize;
    const int end = clear + 1;
    BitPacker out;
    QHash<std::uint32_t, int> table;
    int codeSize = minCodeSize + 1;
    int next = end + 1;
    const auto reset = [&] {
        table.clear();
        codeSize = minCodeSize + 1;
        next = end + 1;
    };
    // Every emitted code (but the first after a clear) makes the decoder add an entry; it widens its codes
    // once its next free code no longer fits, and the encoder has to widen at the same point.
    const auto grow = [&] {
        if (next < maxCodes) {
            ++next;
            if (next > (1 << codeSize) && codeSize < maxCodeBits)
                ++codeSize;
        }
    };

    out.put(clear, codeSize);
    int prefix = pixels.isEmpty() ? 0 : pixels.first();
    for (qsizetype i = 1; i < pixels.size(); ++i) {
        const std::uint8_t pixel = pixels[i];
        const std::uint32_t key = (static_cast<std::uint32_t>(prefix) << 8) | pixel;
        if (const auto found = table.constFind(key); found != table.cend()) {
            prefix = *found;
            continue;
        }
        out.put(prefix, codeSize);
        if (next < maxCodes) {
            table.insert(key, next);
            grow();
        } else {
            out.put(clear, codeSize);
            reset();
        }
        prefix = pixel;
    }
    out.put(prefix, codeSize);
    grow();
    out.put(end, codeSize);
    return out.finish();
}

void appendWord(QByteArray& out, int value)
{
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
}

QRgb blend(QRgb pixel, QRgb face)
{
    const int a = qAlpha(pixel);
    const auto mix = [a](int over, int under) { return (over * a + under * (255 - a) + 127) / 255; };
    return qRgb(mix(qRed(pixel), qRed(face)), mix(qGreen(pixel), qGreen(face)), mix(qBlue(pixel), qBlue(face)));
}

int distance(QRgb a, QRgb b)
{
    const int r = qRed(a) - qRed(b);
    const int g = qGreen(a) - qGreen(b);
    const int bl = qBlue(a) - qBlue(b);
    return r * r + g * g + bl * bl;
}

} // namespace

namespace GifWriter {

QByteArray encode(const QImage& source, QRgb face)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int width = image.width();
    const int height = image.height();

    // Opaque colours by frequency; ties broken by value so the palette does not depend on hash order.
    QList<QRgb> colours;
    bool transparent = false;
    QHash<QRgb, int> counts;
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            if (qAlpha(line[x]) == 0)
                transparent = true;
            else
                ++counts[blend(line[x], face)];
        }
    }
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        colours.append(it.key());
    std::sort(colours.begin(), colours.end(), [&counts](QRgb a, QRgb b) {
        return counts[a] != counts[b] ? counts[a] > counts[b] : a < b;
    });
    if (colours.size() > 255)
        colours.resize(255);

    QHash<QRgb, std::uint8_t> index;
    for (qsizetype i = 0; i < colours.size(); ++i)
        index.insert(colours[i], static_cast<std::uint8_t>(i));
    const int transparentIndex = static_cast<int>(colours.size());
    const int used = transparentIndex + (transparent ? 1 : 0);
    int bits = 1;
    while ((1 << bits) < used)
        ++bits;

    QList<std::uint8_t> pixels;
    pixels.reserve(qsizetype(width) * height);
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            if (qAlpha(line[x]) == 0) {
                pixels.append(static_cast<std::uint8_t>(transparentIndex));
                continue;
            }
            const QRgb colour = blend(line[x], face);
            if (const auto found = index.constFind(colour); found != index.cend()) {
                pixels.append(*found);
                continue;
            }
            int best = 0;
            int bestDistance = std::numeric_limits<int>::max();
            for (qsizetype i = 0; i < colours.size(); ++i) {
                if (const int d = distance(colour, colours[i]); d < bestDistance) {
                    best = static_cast<int>(i);
                    bestDistance = d;
                }
            }
            pixels.append(static_cast<std::uint8_t>(best));
        }
    }

    QByteArray out("GIF89a");
    appendWord(out, width);
    appendWord(out, height);
    out.append(static_cast<char>(0x80 | 0x70 | (bits - 1))); // global table, 8-bit colour resolution
    out.append('\0');                                         // background colour index
    out.append('\0');                                         // pixel aspect ratio
    for (int i = 0; i < (1 << bits); ++i) {
        const QRgb colour = i < colours.size() ? colours[i] : (i == transparentIndex ? face : qRgb(0, 0, 0));
        out.append(static_cast<char>(qRed(colour)));
        out.append(static_cast<char>(qGreen(colour)));
        out.append(static_cast<char>(qBlue(colour)));
    }
    if (transparent) {
        out.append("\x21\xF9\x04\x01\x00\x00", 6);
        out.append(static_cast<char>(transparentIndex));
        out.append('\0');
    }
    out.append('\x2C');
    appendWord(out, 0);
    appendWord(out, 0);
    appendWord(out, width);
    appendWord(out, height);
    out.append('\0'); // no local table, not interlaced

    const int minCodeSize = std::max(2, bits);
    out.append(static_cast<char>(minCodeSize));
    const QByteArray data = lzw(pixels, minCodeSize);
    for (qsizetype at = 0; at < data.size(); at += 255) {
        const qsizetype block = std::min<qsizetype>(255, data.size() - at);
        out.append(static_cast<char>(block));
        out.append(data.constData() + at, block);
    }
    out.append('\0');
    out.append('\x3B');
    return out;
}

} // namespace GifWriter
