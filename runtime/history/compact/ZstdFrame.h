#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

/// \brief One zstd frame around a block's payload, unpacked only when it declares exactly the size
/// the block header promised, so garbage can never ask for a large buffer.
class ZstdFrame final {
public:
    static QByteArray compress(QByteArrayView payload, int level);
    /// The payload, or nothing when the frame is damaged or not exactly `expectedSize` bytes.
    static std::optional<QByteArray> decompress(QByteArrayView frame, qsizetype expectedSize);
};
