#pragma once

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
    std::uint64_t read(int count);
    bool readBit() { return read(1) != 0; }
    bool overrun() const { return m_overrun; }
    std::size_t bitsLeft() const { return m_overrun ? 0 : m_bits - m_position; }
    /// True when only zero padding of the last byte is left.
    bool atPaddedEnd() const;
    /// Whole bytes touched so far; the next section of a block starts there.
    std::size_t bytesUsed() const { return (m_position + 7) / 8; }

private:
    const unsigned char* m_data;
    std::size_t m_bits;
    std::size_t m_position = 0;
    bool m_overrun = false;
};
