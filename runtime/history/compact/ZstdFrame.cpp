#include "ZstdFrame.h"

#include <zstd.h>

QByteArray ZstdFrame::compress(QByteArrayView payload, int level)
{
    QByteArray frame(static_cast<qsizetype>(ZSTD_compressBound(static_cast<size_t>(payload.size()))), Qt::Uninitialized);
    const size_t written = ZSTD_compress(frame.data(), static_cast<size_t>(frame.size()), payload.data(),
                                         static_cast<size_t>(payload.size()), level);
    if (ZSTD_isError(written))
        return {};
    frame.truncate(static_cast<qsizetype>(written));
    return frame;
}

std::optional<QByteArray> ZstdFrame::decompress(QByteArrayView frame, qsizetype expectedSize)
{
    const unsigned long long declared = ZSTD_getFrameContentSize(frame.data(), static_cast<size_t>(frame.size()));
    if (declared != static_cast<unsigned long long>(expectedSize)
        || ZSTD_findFrameCompressedSize(frame.data(), static_cast<size_t>(frame.size())) != static_cast<size_t>(frame.size()))
        return std::nullopt;
    QByteArray payload(expectedSize, Qt::Uninitialized);
    const size_t got = ZSTD_decompress(payload.data(), static_cast<size_t>(expectedSize), frame.data(), static_cast<size_t>(frame.size()));
    if (ZSTD_isError(got) || got != static_cast<size_t>(expectedSize))
        return std::nullopt;
    return payload;
}
