#include "BarBag.h"

#include <QDir>

namespace BarBag {

StdFont labelFont()
{
    StdFont font;
    font.name = QStringLiteral("Tahoma");
    font.size = 82500;
    font.weight = 700;
    font.charset = 0;
    return font;
}

QString textGroup()
{
    return QStringLiteral("Formular-Namen");
}

PropertyBag build(const QString& buttonsDir)
{
    PropertyBag bag(QStringLiteral("QMButton.bag"));
    bag.write(QStringLiteral("_extentx"), extentX);
    bag.write(QStringLiteral("_extenty"), extentY);

    // The same calls, defaults and order as the bar's own saving, so the file is what a save would give.
    for (int button = 1; button <= buttonCount; ++button) {
        StdPicture picture;
        for (const ButtonImage& image : images) {
            if (image.button != button)
                continue;
            const QString path = QDir(buttonsDir).filePath(QString::fromLatin1(image.file));
            picture = StdPicture::fromFile(path);
            if (picture.format() != "gif" || picture.size() != image.size)
                throw KalvoraError(QStringLiteral("Picture %1 must be a %2 x %3 GIF image, it is a %4 x %5 %6 image")
                                       .arg(path)
                                       .arg(image.size.width())
                                       .arg(image.size.height())
                                       .arg(picture.size().width())
                                       .arg(picture.size().height())
                                       .arg(QString::fromLatin1(picture.format())));
        }
        bag.write(QStringLiteral("Picture%1").arg(button), picture, StdPicture());
    }
    for (int i = 0; i < buttonCount; ++i)
        bag.write(QStringLiteral("Font"), labelFont());
    for (int i = 0; i < buttonCount; ++i)
        bag.write(QStringLiteral("IndexGroup"), textGroup(), QString());
    for (int button = 1; button <= buttonCount; ++button)
        bag.write(QStringLiteral("Text%1").arg(button), QString::number(button), QStringLiteral("Text"));
    bag.write(QStringLiteral("BorderStyle"), borderStyle, std::int16_t(0));
    return bag;
}

} // namespace BarBag
