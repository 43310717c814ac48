#include "StdFont.h"

#include "KalvoraError.h"

#include <QStringList>

#include <algorithm>

#include <cmath>

QFont StdFont::toQFont() const
{
    QFont font(name);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(points() * 96.0 / 72.0))));
    font.setWeight(static_cast<QFont::Weight>(std::clamp<int>(weight, 1, 1000)));
    font.setItalic(italic);
    font.setUnderline(underline);
    font.setStrikeOut(strikeout);
    // The layouts are pixel-exact; hinting that widens glyphs would push texts out of their cells.
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

StdFont StdFont::parse(const QString& text)
{
    const auto fail = [&text](const QString& why) {
        return KalvoraError(QStringLiteral("Invalid font \"%1\": %2").arg(text, why));
    };
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() < 2)
        throw fail(QStringLiteral("expected \"name, size pt[, style ...]\""));
    StdFont font;
    font.name = parts[0].trimmed();
    if (font.name.isEmpty() || font.name.size() > 255)
        throw fail(QStringLiteral("missing or overlong font name"));
    QString sizeText = parts[1].trimmed();
    if (sizeText.endsWith(QLatin1String("pt")))
        sizeText.chop(2);
    bool ok = false;
    const double points = sizeText.toDouble(&ok);
    if (!ok || !std::isfinite(points) || points <= 0.0 || points > 1000.0)
        throw fail(QStringLiteral("size must be a number of points between 0 and 1000"));
    font.size = std::llround(points * 10000.0);
    for (qsizetype i = 2; i < parts.size(); ++i) {
        const QString word = parts[i].trimmed().toLower();
        if (word == QLatin1String("bold"))
            font.weight = 700;
        else if (word == QLatin1String("italic"))
            font.italic = true;
        else if (word == QLatin1String("underline"))
            font.underline = true;
        else if (word == QLatin1String("strikeout"))
            font.strikeout = true;
        else if (word.startsWith(QLatin1String("weight="))) {
            const int weight = word.mid(7).toInt(&ok);
            if (!ok || weight < 1 || weight > 1000)
                throw fail(QStringLiteral("weight must be 1 to 1000"));
            font.weight = static_cast<std::int16_t>(weight);
        } else if (!word.isEmpty())
            throw fail(QStringLiteral("unknown style \"%1\"").arg(word));
    }
    return font;
}

QString StdFont::toString() const
{
    QString text = QStringLiteral("%1, %2pt").arg(name, QString::number(points(), 'g', 10));
    if (weight == 700)
        text += QStringLiteral(", bold");
    else if (weight != 400)
        text += QStringLiteral(", weight=%1").arg(weight);
    if (italic)
        text += QStringLiteral(", italic");
    if (underline)
        text += QStringLiteral(", underline");
    if (strikeout)
        text += QStringLiteral(", strikeout");
    return text;
}
