#include "BitReader.h"

std::uint64_t BitReader::readSlow(int count)
{
    if (m_overrun || static_cast<std::size_t>(count) > m_bits - m_position) {
        m_overrun = true;
        return 0;
    }
    std::uint64_t value = 0;
    while (count > 0) {
        const std::size_t byte = m_position / 8;
        const int offset = static_cast<int>(m_position % 8);
        const int available = 8 - offset;
        const int take = count < available ? count : available;
        const unsigned bits = (m_data[byte] >> (available - take)) & ((1u << take) - 1u);
        value = (value << take) | bits;
        m_position += static_cast<std::size_t>(take);
        count -= take;
    }
    return value;
}

bool BitReader::atPaddedEnd() const
{
    if (m_overrun || m_bits - m_position >= 8)
        return false;
    const int rest = static_cast<int>(m_bits - m_position);
    return rest == 0 || (m_data[m_position / 8] & ((1u << rest) - 1u)) == 0;
}
