#pragma once

#include <QtEndian>

#include <cstddef>
#include <cstdint>

/// \brief Reads bit fields written by BitWriter; reading past the end yields zeros and sets a flag
/// the caller checks once, so a damaged block never reads outside its bytes.
class BitReader final {
public:
    BitReader(const unsigned char* data, std::size_t size)
        : m_data(data)
        , m_bits(size * 8)
    {
    }

    /// Reads `count` bits (0..64).
    std::uint64_t read(int count)
    {
        // The hot path of every decode: one 8-byte load while 64 bits are left.
        if (count <= 57 && m_bits - m_position >= 64 && !m_overrun) {
            const int offset = static_cast<int>(m_position % 8);
            const std::uint64_t word = qFromBigEndian<quint64>(m_data + m_position / 8);
            m_position += static_cast<std::size_t>(count);
            return count == 0 ? 0 : (word << offset) >> (64 - count);
        }
        return readSlow(count);
    }
    bool readBit() { return read(1) != 0; }
    bool overrun() const { return m_overrun; }
    std::size_t bitsLeft() const { return m_overrun ? 0 : m_bits - m_position; }
    /// True when only zero padding of the last byte is left.
    bool atPaddedEnd() const;
    /// Whole bytes touched so far; the next section of a block starts there.
    std::size_t bytesUsed() const { return (m_position + 7) / 8; }

private:
    std::uint64_t readSlow(int count);

    const unsigned char* m_data;
    std::size_t m_bits;
    std::size_t m_position = 0;
    bool m_overrun = false;
};
