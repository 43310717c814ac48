#pragma once

#include <QFont>
#include <QString>

#include <cstdint>

/// \brief The standard font object of stored configurations: face name, size in points, weight and
/// style flags, exactly as a layout or property bag keeps them.
struct StdFont {
    QString name = QStringLiteral("MS Sans Serif");
    /// Size in ten-thousandths of a point, the unit the stored form uses (8.25 pt = 82500).
    std::int64_t size = 82500;
    std::int16_t weight = 400;
    std::int16_t charset = 0;
    bool italic = false;
    bool underline = false;
    bool strikeout = false;

    double points() const { return static_cast<double>(size) / 10000.0; }
    bool operator==(const StdFont&) const = default;

    /// The font a widget draws with. Sizes map to pixels at 96 per inch, the density the layouts
    /// were drawn for, so a screen looks the same whatever the display reports.
    QFont toQFont() const;

    /// Reads the layout notation "Tahoma, 8.25pt, bold" (style words: bold, italic, underline,
    /// strikeout; or weight=NNN). Throws KalvoraError naming the text on anything else.
    static StdFont parse(const QString& text);
    QString toString() const;
};
