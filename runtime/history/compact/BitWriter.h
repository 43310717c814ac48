#pragma once

#include <QByteArray>

#include <cstdint>

/// \brief Appends bit fields most significant bit first; the packed block's time and value streams.
class BitWriter final {
public:
    /// Writes the low `count` bits of `bits` (count 0..64).
    void write(std::uint64_t bits, int count);
    void writeBit(bool bit) { write(bit ? 1u : 0u, 1); }
    /// Zero-pads the last byte and hands the bytes over.
    QByteArray finish();

private:
    QByteArray m_bytes;
    std::uint64_t m_pending = 0;
    int m_pendingBits = 0;
};
