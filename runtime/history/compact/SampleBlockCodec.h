#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <cstdint>
#include <span>

/// One raw sample of a trend: time in ms since the epoch and the value exactly as recorded.
struct PackedSample {
    qint64 t = 0;
    double v = 0.0;
};

/// \brief Packs one trend's raw samples of a block span into a self-describing, lossless block:
/// version byte, layout byte, sample count, then the time stamps as deltas of deltas and the values
/// as XOR of doubles, as integer multiples of a detected step, or as byte planes (of the values or of
/// their differences), optionally
/// inside one zstd frame. Every double comes back bit for bit (NaN payloads, -0.0, infinities).
class SampleBlockCodec final {
public:
    static constexpr std::uint8_t Version = 1;
    /// The most samples one block may hold (an hour at 72 samples a second); it bounds what a
    /// damaged block can make the decoder allocate.
    static constexpr qsizetype MaxSamples = 1 << 18;

    enum class ValueCode : std::uint8_t { Planes = 0, Xor = 1, Quantised = 2, DeltaPlanes = 3 };
    struct Layout {
        ValueCode values = ValueCode::Xor;
        bool zstd = false;
    };

    /// The block in the layout that comes out smallest. Throws std::length_error past MaxSamples.
    static QByteArray encode(std::span<const PackedSample> samples);
    /// The block in the given layout; Quantised falls back to Xor when the values have no exact step.
    static QByteArray encode(std::span<const PackedSample> samples, Layout layout);
    /// The layout a block was written in, for reports; nothing sensible for a damaged block.
    static Layout layoutOf(QByteArrayView block);

    struct Decoded {
        QList<PackedSample> samples;
        /// Why the block could not be read, naming the byte; empty on success.
        QString error;
        bool ok() const { return error.isEmpty(); }
    };
    static Decoded decode(QByteArrayView block);
};
