#include "BagFormat.h"

#include <QtEndian>

namespace BagFormat {

std::uint32_t nameHash(const QString& lowerName)
{
    std::uint32_t hash = 2166136261u;
    for (const QChar c : lowerName) {
        const char16_t unit = c.unicode();
        for (const unsigned char byte : {static_cast<unsigned char>(unit & 0xFF), static_cast<unsigned char>(unit >> 8)}) {
            hash ^= byte;
            hash *= 16777619u;
        }
    }
    return hash;
}

namespace {

bool isPrintableLatin1(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x20 && u <= 0x7E) || (u >= 0xA0 && u <= 0xFF);
}

} // namespace

QString fontProblem(const StdFont& font)
{
    if (font.size <= 0 || font.size > maxFontSize)
        return QStringLiteral("font size %1 (ten-thousandths of a point) is not above 0 and at most 1000 pt").arg(font.size);
    if (font.weight < 0 || font.weight > 1000)
        return QStringLiteral("font weight %1 is not between 0 and 1000").arg(font.weight);
    if (font.name.isEmpty())
        return QStringLiteral("font has no face name");
    if (font.name.size() > 255)
        return QStringLiteral("font face name has %1 characters, more than 255").arg(font.name.size());
    for (const QChar c : font.name) {
        if (!isPrintableLatin1(c))
            return QStringLiteral("font face name holds the character U+%1, which is not a printable single-byte character")
                .arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return {};
}

void appendFont(QByteArray& out, const StdFont& font)
{
    Q_ASSERT(fontProblem(font).isEmpty());
    char buffer[10];
    buffer[0] = static_cast<char>(fontVersion);
    qToLittleEndian<std::uint16_t>(static_cast<std::uint16_t>(font.charset), buffer + 1);
    buffer[3] = static_cast<char>((font.italic ? fontItalic : 0) | (font.underline ? fontUnderline : 0)
                                  | (font.strikeout ? fontStrikeout : 0));
    qToLittleEndian<std::int16_t>(font.weight, buffer + 4);
    qToLittleEndian<std::uint32_t>(static_cast<std::uint32_t>(font.size), buffer + 6);
    out.append(buffer, sizeof buffer);
    const QByteArray name = font.name.toLatin1();
    out.append(static_cast<char>(name.size()));
    out.append(name);
}

FontRead readFont(const char* data, qint64 available)
{
    FontRead result;
    constexpr qint64 fixedPart = 11;
    if (available < fixedPart)
        return result;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    const qint64 nameLength = bytes[10];
    if (available < fixedPart + nameLength)
        return result;
    result.size = fixedPart + nameLength;

    const unsigned char version = bytes[0];
    const unsigned char flags = bytes[3];
    const std::uint32_t size = qFromLittleEndian<std::uint32_t>(bytes + 6);
    result.font.charset = qFromLittleEndian<std::int16_t>(bytes + 1);
    result.font.italic = flags & fontItalic;
    result.font.underline = flags & fontUnderline;
    result.font.strikeout = flags & fontStrikeout;
    result.font.weight = qFromLittleEndian<std::int16_t>(bytes + 4);
    result.font.size = size;
    result.font.name = QString::fromLatin1(data + fixedPart, nameLength);

    if (version != fontVersion)
        result.problem = QStringLiteral("font object version %1, expected %2").arg(version).arg(fontVersion);
    else if (flags & ~(fontItalic | fontUnderline | fontStrikeout))
        result.problem = QStringLiteral("font flags 0x%1 hold unknown bits").arg(flags, 2, 16, QLatin1Char('0'));
    else
        result.problem = fontProblem(result.font);
    return result;
}

} // namespace BagFormat
