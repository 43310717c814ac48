#include "SampleBlockCodec.h"

#include "BitReader.h"
#include "BitWriter.h"
#include "QuantisedStep.h"
#include "ZstdFrame.h"

#include <bit>
#include <optional>
#include <stdexcept>
#include <vector>

namespace {

constexpr std::uint8_t ZstdFlag = 0x10;
constexpr int ZstdLevel = 3;

/// The most payload bytes `count` samples can need in any layout (worst case of each stream, rounded
/// up); a header that claims more is damaged.
qsizetype maxPayloadBytes(qsizetype count)
{
    return count * 20 + 64;
}

void writeVarint(QByteArray& out, std::uint64_t value)
{
    while (value >= 0x80) {
        out.append(static_cast<char>((value & 0x7f) | 0x80));
        value >>= 7;
    }
    out.append(static_cast<char>(value));
}

std::optional<std::uint64_t> readVarint(QByteArrayView in, qsizetype& at)
{
    std::uint64_t value = 0;
    for (int shift = 0; shift < 35 && at < in.size(); shift += 7) {
        const auto byte = static_cast<std::uint8_t>(in[at++]);
        value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0)
            return value;
    }
    return std::nullopt;
}

std::uint64_t zigzag(std::uint64_t wrapped)
{
    return (wrapped << 1) ^ (0 - (wrapped >> 63));
}

std::uint64_t unzigzag(std::uint64_t z)
{
    return (z >> 1) ^ (0 - (z & 1));
}

// Small signed numbers (a delta of deltas, a change of a multiple) in few bits: 0 costs one bit.
void writeSmall(BitWriter& out, std::uint64_t wrapped)
{
    const std::uint64_t z = zigzag(wrapped);
    if (z == 0)
        out.write(0b0, 1);
    else if (z < (1u << 7))
        out.write((0b10u << 7) | z, 9);
    else if (z < (1u << 9))
        out.write((0b110u << 9) | z, 12);
    else if (z < (1u << 12))
        out.write((0b1110u << 12) | z, 16);
    else {
        out.write(0b1111, 4);
        out.write(z, 64);
    }
}

std::uint64_t readSmall(BitReader& in)
{
    int prefix = 0;
    while (prefix < 4 && in.readBit())
        ++prefix;
    static constexpr int widths[] = {0, 7, 9, 12, 64};
    return unzigzag(in.read(widths[prefix]));
}

void writeTimes(BitWriter& out, std::span<const PackedSample> samples)
{
    out.write(static_cast<std::uint64_t>(samples[0].t), 64);
    std::uint64_t previousDelta = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        // Unsigned arithmetic wraps, so any pair of time stamps round-trips, even out of order.
        const std::uint64_t delta = static_cast<std::uint64_t>(samples[i].t) - static_cast<std::uint64_t>(samples[i - 1].t);
        writeSmall(out, delta - previousDelta);
        previousDelta = delta;
    }
}

void readTimes(BitReader& in, QList<PackedSample>& samples)
{
    std::uint64_t t = in.read(64);
    std::uint64_t delta = 0;
    samples[0].t = static_cast<qint64>(t);
    for (qsizetype i = 1; i < samples.size() && !in.overrun(); ++i) {
        delta += readSmall(in);
        t += delta;
        samples[i].t = static_cast<qint64>(t);
    }
}

std::uint64_t bitsOf(double v)
{
    return std::bit_cast<std::uint64_t>(v);
}

void writeXor(BitWriter& out, std::span<const PackedSample> samples)
{
    std::uint64_t previous = bitsOf(samples[0].v);
    out.write(previous, 64);
    int windowLead = -1;
    int windowTrail = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const std::uint64_t bits = bitsOf(samples[i].v);
        const std::uint64_t x = bits ^ previous;
        previous = bits;
        if (x == 0) {
            out.write(0b0, 1);
            continue;
        }
        const int lead = std::min(std::countl_zero(x), 31);
        const int trail = std::countr_zero(x);
        if (windowLead >= 0 && lead >= windowLead && trail >= windowTrail) {
            out.write(0b10, 2);
            out.write(x >> windowTrail, 64 - windowLead - windowTrail);
            continue;
        }
        const int length = 64 - lead - trail;
        out.write(0b11, 2);
        out.write(static_cast<std::uint64_t>(lead), 5);
        out.write(static_cast<std::uint64_t>(length - 1), 6);
        out.write(x >> trail, length);
        windowLead = lead;
        windowTrail = trail;
    }
}

bool readXor(BitReader& in, QList<PackedSample>& samples)
{
    std::uint64_t previous = in.read(64);
    samples[0].v = std::bit_cast<double>(previous);
    int windowLead = -1;
    int windowTrail = 0;
    for (qsizetype i = 1; i < samples.size() && !in.overrun(); ++i) {
        if (in.readBit()) {
            if (in.readBit()) {
                const int lead = static_cast<int>(in.read(5));
                const int length = static_cast<int>(in.read(6)) + 1;
                if (lead + length > 64)
                    return false;
                windowLead = lead;
                windowTrail = 64 - lead - length;
            } else if (windowLead < 0) {
                return false;
            }
            previous ^= in.read(64 - windowLead - windowTrail) << windowTrail;
        }
        samples[i].v = std::bit_cast<double>(previous);
    }
    return true;
}

void writeQuantised(BitWriter& out, const QuantisedStep::Found& found)
{
    out.write(bitsOf(found.step), 64);
    std::uint64_t previous = static_cast<std::uint64_t>(found.multiples[0]);
    out.write(previous, 64);
    for (std::size_t i = 1; i < found.multiples.size(); ++i) {
        const auto k = static_cast<std::uint64_t>(found.multiples[i]);
        writeSmall(out, k - previous);
        previous = k;
    }
}

void readQuantised(BitReader& in, QList<PackedSample>& samples)
{
    const double step = std::bit_cast<double>(in.read(64));
    std::uint64_t k = in.read(64);
    for (qsizetype i = 0; i < samples.size() && !in.overrun(); ++i) {
        if (i > 0)
            k += readSmall(in);
        samples[i].v = QuantisedStep::value(static_cast<std::int64_t>(k), step);
    }
}

// Byte planes: the sign-and-exponent bytes of all values side by side, then the next byte, ... so a
// general compressor sees the long runs slowly varying values have in their high bytes. With `delta`
// each value's bits minus its predecessor's: for smooth full-precision values the high planes become
// runs of zeros and of 0xff.
QByteArray writePlanes(std::span<const PackedSample> samples, bool delta)
{
    const auto count = static_cast<qsizetype>(samples.size());
    QByteArray out(count * 8, Qt::Uninitialized);
    std::uint64_t previous = 0;
    for (qsizetype i = 0; i < count; ++i) {
        const std::uint64_t now = bitsOf(samples[static_cast<std::size_t>(i)].v);
        const std::uint64_t bits = delta ? now - previous : now;
        previous = now;
        for (int b = 0; b < 8; ++b)
            out[(7 - b) * count + i] = static_cast<char>(bits >> (8 * b));
    }
    return out;
}

void readPlanes(QByteArrayView in, QList<PackedSample>& samples, bool delta)
{
    const qsizetype count = samples.size();
    std::uint64_t previous = 0;
    for (qsizetype i = 0; i < count; ++i) {
        std::uint64_t bits = 0;
        for (int b = 0; b < 8; ++b)
            bits |= static_cast<std::uint64_t>(static_cast<std::uint8_t>(in[(7 - b) * count + i])) << (8 * b);
        if (delta)
            bits += previous;
        previous = bits;
        samples[i].v = std::bit_cast<double>(bits);
    }
}

QByteArray encodeValues(std::span<const PackedSample> samples, SampleBlockCodec::ValueCode& code)
{
    if (code == SampleBlockCodec::ValueCode::Planes || code == SampleBlockCodec::ValueCode::DeltaPlanes)
        return writePlanes(samples, code == SampleBlockCodec::ValueCode::DeltaPlanes);
    BitWriter out;
    if (code == SampleBlockCodec::ValueCode::Quantised) {
        std::vector<double> values;
        values.reserve(samples.size());
        for (const PackedSample& s : samples)
            values.push_back(s.v);
        if (const auto found = QuantisedStep::find(values)) {
            writeQuantised(out, *found);
            return out.finish();
        }
        code = SampleBlockCodec::ValueCode::Xor;
    }
    writeXor(out, samples);
    return out.finish();
}

QByteArray timesSection(std::span<const PackedSample> samples)
{
    BitWriter out;
    writeTimes(out, samples);
    return out.finish();
}

QByteArray assemble(qsizetype count, SampleBlockCodec::Layout layout, const QByteArray& payload)
{
    QByteArray block;
    block.append(static_cast<char>(SampleBlockCodec::Version));
    block.append(static_cast<char>(static_cast<std::uint8_t>(layout.values) | (layout.zstd ? ZstdFlag : 0)));
    writeVarint(block, static_cast<std::uint64_t>(count));
    if (!layout.zstd)
        return block + payload;
    writeVarint(block, static_cast<std::uint64_t>(payload.size()));
    return block + ZstdFrame::compress(payload, ZstdLevel);
}

void checkSize(std::span<const PackedSample> samples)
{
    if (static_cast<qsizetype>(samples.size()) > SampleBlockCodec::MaxSamples)
        throw std::length_error("a packed block holds at most SampleBlockCodec::MaxSamples samples");
}

SampleBlockCodec::Decoded failed(const QString& why, qsizetype at)
{
    return {{}, QStringLiteral("damaged history block: %1 at byte %2").arg(why).arg(at)};
}

} // namespace

QByteArray SampleBlockCodec::encode(std::span<const PackedSample> samples, Layout layout)
{
    checkSize(samples);
    if (samples.empty())
        return assemble(0, {ValueCode::Xor, false}, {});
    QByteArray payload = timesSection(samples);
    payload += encodeValues(samples, layout.values);
    return assemble(static_cast<qsizetype>(samples.size()), layout, payload);
}

QByteArray SampleBlockCodec::encode(std::span<const PackedSample> samples)
{
    checkSize(samples);
    if (samples.empty())
        return encode(samples, {});
    const auto count = static_cast<qsizetype>(samples.size());
    const QByteArray times = timesSection(samples);
    // Integer multiples where the values have an exact step, else XOR; each with and without zstd,
    // against the delta planes in zstd, which suit noisy full-precision values better.
    ValueCode code = ValueCode::Quantised;
    const QByteArray payload = times + encodeValues(samples, code);
    QByteArray best = assemble(count, {code, false}, payload);
    for (QByteArray candidate : {assemble(count, {code, true}, payload),
                                 assemble(count, {ValueCode::DeltaPlanes, true}, times + writePlanes(samples, true))})
        if (candidate.size() < best.size())
            best = std::move(candidate);
    return best;
}

SampleBlockCodec::Layout SampleBlockCodec::layoutOf(QByteArrayView block)
{
    if (block.size() < 2)
        return {};
    const auto byte = static_cast<std::uint8_t>(block[1]);
    return {static_cast<ValueCode>(byte & 0x0f), (byte & ZstdFlag) != 0};
}

SampleBlockCodec::Decoded SampleBlockCodec::decode(QByteArrayView block)
{
    if (block.size() < 3)
        return failed(QStringLiteral("block of %1 bytes is too short").arg(block.size()), 0);
    if (const auto version = static_cast<std::uint8_t>(block[0]); version != Version)
        return failed(QStringLiteral("unknown block version %1").arg(version), 0);
    const auto layoutByte = static_cast<std::uint8_t>(block[1]);
    const std::uint8_t valueCode = layoutByte & 0x0f;
    if (valueCode > static_cast<std::uint8_t>(ValueCode::DeltaPlanes) || (layoutByte & ~(ZstdFlag | 0x0f)) != 0)
        return failed(QStringLiteral("unknown layout %1").arg(layoutByte), 1);
    qsizetype at = 2;
    const auto count = readVarint(block, at);
    if (!count || *count > static_cast<std::uint64_t>(MaxSamples))
        return failed(QStringLiteral("sample count missing or above %1").arg(MaxSamples), 2);
    const auto samplesCount = static_cast<qsizetype>(*count);
    QByteArray unpacked;
    QByteArrayView payload = block.sliced(at);
    if (layoutByte & ZstdFlag) {
        const qsizetype sizeAt = at;
        const auto size = readVarint(block, at);
        if (!size || *size > static_cast<std::uint64_t>(maxPayloadBytes(samplesCount)))
            return failed(QStringLiteral("payload size missing or too large"), sizeAt);
        auto frame = ZstdFrame::decompress(block.sliced(at), static_cast<qsizetype>(*size));
        if (!frame)
            return failed(QStringLiteral("compressed payload does not unpack to its declared size"), at);
        unpacked = std::move(*frame);
        payload = unpacked;
    }
    if (samplesCount == 0) {
        if (!payload.empty())
            return failed(QStringLiteral("bytes after an empty block"), at);
        return {};
    }
    // Every sample after the first takes at least one bit of time and one of value: a cheap check
    // before the allocation that a lying count cannot pass with a short block.
    if (payload.size() < 16 || (samplesCount - 1) / 4 > payload.size())
        return failed(QStringLiteral("%1 samples cannot fit in %2 bytes").arg(samplesCount).arg(payload.size()), at);
    Decoded decoded;
    decoded.samples.resize(samplesCount);
    const auto* bytes = reinterpret_cast<const unsigned char*>(payload.data());
    BitReader times(bytes, static_cast<std::size_t>(payload.size()));
    readTimes(times, decoded.samples);
    if (times.overrun())
        return failed(QStringLiteral("time stamps end early"), at);
    const auto valuesAt = static_cast<qsizetype>(times.bytesUsed());
    const QByteArrayView values = payload.sliced(valuesAt);
    const bool delta = valueCode == static_cast<std::uint8_t>(ValueCode::DeltaPlanes);
    if (delta || valueCode == static_cast<std::uint8_t>(ValueCode::Planes)) {
        if (values.size() != samplesCount * 8)
            return failed(QStringLiteral("value planes hold %1 bytes for %2 samples").arg(values.size()).arg(samplesCount), at + valuesAt);
        readPlanes(values, decoded.samples, delta);
        return decoded;
    }
    BitReader in(reinterpret_cast<const unsigned char*>(values.data()), static_cast<std::size_t>(values.size()));
    bool sound = true;
    if (valueCode == static_cast<std::uint8_t>(ValueCode::Xor))
        sound = readXor(in, decoded.samples);
    else
        readQuantised(in, decoded.samples);
    if (!sound || in.overrun())
        return failed(QStringLiteral("values end early or are malformed"), at + valuesAt);
    if (!in.atPaddedEnd())
        return failed(QStringLiteral("bytes left after %1 samples").arg(samplesCount), at + valuesAt);
    return decoded;
}
