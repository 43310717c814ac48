#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <optional>

class QPixmap;

/// \brief The standard picture object: an image file kept byte for byte as it was stored, and the image
/// it decodes to. A default-constructed picture is the empty object reference.
///
/// The file bytes are what a bag writes back, so a picture survives load and save unchanged; the decoded
/// image is only for drawing.
class StdPicture final {
public:
    StdPicture() = default;

    /// Largest accepted image, per side and in pixels: a few header bytes can claim gigapixels, and a
    /// picture in a stored layout is never near this.
    static constexpr int maxSide = 8192;
    static constexpr qint64 maxPixels = qint64(4096) * 4096;

    /// Decodes an image file (GIF, JPEG, BMP or PNG, told by its first bytes). Empty data gives the empty
    /// reference. On failure returns nothing and, when `why` is given, says why.
    static std::optional<StdPicture> decode(const QByteArray& data, QString* why = nullptr);
    /// Reads and decodes an image file; throws KalvoraError naming the file.
    static StdPicture fromFile(const QString& path);

    bool isNull() const { return m_data.isEmpty(); }
    /// The image file exactly as stored.
    const QByteArray& data() const { return m_data; }
    const QImage& image() const { return m_image; }
    QSize size() const { return m_image.size(); }
    /// "gif", "jpeg", "bmp" or "png"; empty for the empty reference.
    const QByteArray& format() const { return m_format; }
    /// Needs a QGuiApplication, like every pixmap.
    QPixmap pixmap() const;

    /// Pictures are the same when they hold the same file bytes.
    bool operator==(const StdPicture& other) const { return m_data == other.m_data; }

    /// The image format a file starts with, or empty when it is none of the accepted ones.
    static QByteArray sniffFormat(const QByteArray& data);

private:
    QByteArray m_data;
    QImage m_image;
    QByteArray m_format;
};
