#pragma once

#include "StdFont.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

/// The stored form of a property bag, below the level of entries: constants, the name hash and the
/// persisted form of the standard font object. All integers are little-endian.
///
/// Bag:    u32 45715, u32 total length in bytes (header included), then the entries.
/// Entry:  u16 value type, u16 name length in UTF-16 units, u32 name hash, i32 offset to the next entry,
///         the name in UTF-16LE lower case, the value, zero padding to a multiple of 4 bytes. The last
///         entry's offset leads back to the first entry at byte 8 (so it is 0 in a bag of one entry).
/// Values: i16 (type 2), i32 (type 3), string (type 8: u32 count, UTF-16LE), object (type 13: 16-byte
///         class id, then the object's own persisted form).
namespace BagFormat {

inline constexpr std::uint32_t headerValue = 45715;
inline constexpr qint64 headerSize = 8;
inline constexpr qint64 entryHeaderSize = 12;
/// No stored layout comes near this; a file above it is refused before it is read.
inline constexpr qint64 maxBagBytes = 16 * 1024 * 1024;

enum ValueType : std::uint16_t {
    TypeInt16 = 2,
    TypeInt32 = 3,
    TypeString = 8,
    TypeObject = 13,
};

using ClassId = std::array<unsigned char, 16>;

/// Class ids in the usual in-memory byte order of a GUID: the first three groups little-endian, the last
/// eight bytes as written.
/// {0BE35204-8F91-11CE-9DE3-00AA004BB851}
inline constexpr ClassId pictureClassId = {0x04, 0x52, 0xE3, 0x0B, 0x91, 0x8F, 0xCE, 0x11,
                                           0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51};
/// {0BE35203-8F91-11CE-9DE3-00AA004BB851}
inline constexpr ClassId fontClassId = {0x03, 0x52, 0xE3, 0x0B, 0x91, 0x8F, 0xCE, 0x11,
                                        0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51};

/// The 4-byte tag in front of a picture object's image length.
inline constexpr std::array<char, 4> pictureTag = {'l', 't', '\0', '\0'};

/// 32-bit FNV-1a over the UTF-16LE bytes of the lower-case name. It only guards the name against
/// corruption; lookups compare the names themselves.
std::uint32_t nameHash(const QString& lowerName);

/// Font flags byte.
inline constexpr unsigned char fontItalic = 0x01;
inline constexpr unsigned char fontUnderline = 0x02;
inline constexpr unsigned char fontStrikeout = 0x04;
inline constexpr unsigned char fontVersion = 1;
/// Sizes are kept in ten-thousandths of a point; fonts beyond 1000 pt are not fonts of a screen.
inline constexpr std::int64_t maxFontSize = 1000 * 10000;

/// Why a font cannot be stored or used (size, weight, face name), or empty when it can.
QString fontProblem(const StdFont& font);

/// Appends the font object's persisted form (without class id); the font must have no fontProblem().
void appendFont(QByteArray& out, const StdFont& font);

struct FontRead {
    StdFont font;
    /// Bytes the persisted form takes, or -1 when it runs past the bytes available.
    qint64 size = -1;
    /// What is wrong with a font that was read completely (version, flags, size, weight, name).
    QString problem;
};

/// Reads a font object's persisted form from the `available` bytes at `data`.
FontRead readFont(const char* data, qint64 available);

} // namespace BagFormat
