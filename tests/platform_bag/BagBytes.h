#pragma once

#include <QByteArray>
#include <QString>
#include <QtEndian>

#include <cstdint>

// Raw little-endian pieces of the stored form, for tests that build or check bags byte by byte.
namespace BagBytes {

inline QByteArray le16(std::uint16_t v)
{
    QByteArray b(2, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

inline QByteArray le32(std::uint32_t v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

inline QByteArray utf16(const QString& s)
{
    QByteArray b;
    for (QChar c : s)
        b += le16(c.unicode());
    return b;
}

} // namespace BagBytes
