#include "BitWriter.h"

void BitWriter::write(std::uint64_t bits, int count)
{
    while (count > 0) {
        const int room = 8 - m_pendingBits;
        const int take = count < room ? count : room;
        const std::uint64_t part = (bits >> (count - take)) & ((1u << take) - 1u);
        m_pending = (m_pending << take) | part;
        m_pendingBits += take;
        count -= take;
        if (m_pendingBits == 8) {
            m_bytes.append(static_cast<char>(m_pending));
            m_pending = 0;
            m_pendingBits = 0;
        }
    }
}

QByteArray BitWriter::finish()
{
    if (m_pendingBits > 0)
        write(0, 8 - m_pendingBits);
    return std::move(m_bytes);
}
