#include "Fonts.h"

#include <QDebug>
#include <QFileInfo>
#include <QFontDatabase>

namespace Fonts {

int registerLayoutFaces()
{
    struct Face {
        const char* family;
        QStringList files;
    };
    const QString wine = QStringLiteral("/usr/share/wine/fonts/");
    const Face faces[] = {
        {"Tahoma", {wine + QStringLiteral("tahoma.ttf"), wine + QStringLiteral("tahomabd.ttf")}},
        {"MS Sans Serif", {wine + QStringLiteral("ms_sans_serif.ttf")}},
    };
    int missing = 0;
    for (const Face& face : faces) {
        const QString family = QString::fromLatin1(face.family);
        if (QFontDatabase::families().contains(family, Qt::CaseInsensitive))
            continue;
        for (const QString& file : face.files) {
            if (QFileInfo::exists(file))
                QFontDatabase::addApplicationFont(file);
        }
        if (!QFontDatabase::families().contains(family, Qt::CaseInsensitive)) {
            qWarning().noquote() << "Font" << family << "is not installed (Debian package fonts-wine);"
                                 << "texts are drawn with a substitute and may not fit their fields";
            ++missing;
        }
    }
    return missing;
}

} // namespace Fonts
