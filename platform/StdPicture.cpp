#include "StdPicture.h"

#include "KalvoraError.h"
#include "RegularFile.h"

#include <QBuffer>
#include <QImageReader>
#include <QPixmap>

namespace {

// Files larger than this are not pictures of a layout; refusing them early keeps a stray path from
// pulling a whole disk image into memory.
constexpr qint64 maxFileBytes = 64 * 1024 * 1024;

} // namespace

QByteArray StdPicture::sniffFormat(const QByteArray& data)
{
    if (data.startsWith("GIF87a") || data.startsWith("GIF89a"))
        return QByteArrayLiteral("gif");
    if (data.startsWith("\xFF\xD8\xFF"))
        return QByteArrayLiteral("jpeg");
    if (data.startsWith("\x89PNG\r\n\x1A\n"))
        return QByteArrayLiteral("png");
    if (data.startsWith("BM"))
        return QByteArrayLiteral("bmp");
    return {};
}

std::optional<StdPicture> StdPicture::decode(const QByteArray& data, QString* why)
{
    const auto fail = [why](const QString& reason) -> std::optional<StdPicture> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    if (data.isEmpty())
        return StdPicture();

    const QByteArray format = sniffFormat(data);
    if (format.isEmpty())
        return fail(QStringLiteral("the image is not a GIF, JPEG, PNG or BMP file"));

    QByteArray copy = data;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    // Only the decoder the bytes announce: letting Qt guess would hand hostile bytes to every plugin.
    QImageReader reader(&buffer, format);
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);

    // Ask for the size first, so a header that claims a huge image is refused before anything is allocated.
    const QSize claimed = reader.size();
    if (!claimed.isValid() || claimed.isEmpty())
        return fail(QStringLiteral("the %1 image does not decode: %2")
                        .arg(QString::fromLatin1(format), reader.errorString()));
    if (claimed.width() > maxSide || claimed.height() > maxSide
        || qint64(claimed.width()) * claimed.height() > maxPixels)
        return fail(QStringLiteral("the %1 image claims %2 x %3 pixels, more than a picture may have")
                        .arg(QString::fromLatin1(format))
                        .arg(claimed.width())
                        .arg(claimed.height()));

    QImage image;
    if (!reader.read(&image) || image.isNull())
        return fail(QStringLiteral("the %1 image does not decode: %2")
                        .arg(QString::fromLatin1(format), reader.errorString()));

    StdPicture picture;
    picture.m_data = data;
    picture.m_image = std::move(image);
    picture.m_format = format;
    return picture;
}

StdPicture StdPicture::fromFile(const QString& path)
{
    const RegularFile::Content content = RegularFile::read(path, maxFileBytes);
    if (!content.ok())
        throw KalvoraError(QStringLiteral("Cannot read picture %1").arg(content.message(path)));
    const QByteArray& data = content.bytes;
    if (data.isEmpty())
        throw KalvoraError(QStringLiteral("Picture %1 is empty").arg(path));
    QString why;
    std::optional<StdPicture> picture = decode(data, &why);
    if (!picture)
        throw KalvoraError(QStringLiteral("Picture %1: %2").arg(path, why));
    return *std::move(picture);
}

QPixmap StdPicture::pixmap() const
{
    return isNull() ? QPixmap() : QPixmap::fromImage(m_image);
}
