// libFuzzer entry point over the packed history block decoder: arbitrary bytes must decode or name
// their reason; a block that decodes must pack again, in its own layout and in the chosen one, and
// unpack to the very same time stamps and value bits.

#include "SampleBlockCodec.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void expectSame(const QList<PackedSample>& a, const QByteArray& block)
{
    const auto again = SampleBlockCodec::decode(block);
    if (!again.ok() || again.samples.size() != a.size())
        std::abort();
    for (qsizetype i = 0; i < a.size(); ++i)
        if (again.samples[i].t != a[i].t || std::bit_cast<std::uint64_t>(again.samples[i].v) != std::bit_cast<std::uint64_t>(a[i].v))
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView block(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto decoded = SampleBlockCodec::decode(block);
    if (!decoded.ok()) {
        if (decoded.error.isEmpty() || !decoded.samples.isEmpty())
            std::abort();
        return 0;
    }
    expectSame(decoded.samples, SampleBlockCodec::encode(decoded.samples, SampleBlockCodec::layoutOf(block)));
    expectSame(decoded.samples, SampleBlockCodec::encode(decoded.samples));
    return 0;
}
