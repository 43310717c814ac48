#include "ZstdFrame.h"

#include <zstd.h>

#include <memory>

namespace {

// A context per thread, made once: ZSTD_compress and ZSTD_decompress set one up on every call, which
// cost a quarter of a read's time when a chart decodes a few hundred blocks.
struct ContextFree {
    void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
    void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

ZSTD_CCtx* compressContext()
{
    thread_local std::unique_ptr<ZSTD_CCtx, ContextFree> context(ZSTD_createCCtx());
    return context.get();
}

ZSTD_DCtx* decompressContext()
{
    thread_local std::unique_ptr<ZSTD_DCtx, ContextFree> context(ZSTD_createDCtx());
    return context.get();
}

} // namespace

QByteArray ZstdFrame::compress(QByteArrayView payload, int level)
{
    QByteArray frame(static_cast<qsizetype>(ZSTD_compressBound(static_cast<size_t>(payload.size()))), Qt::Uninitialized);
    const size_t written = ZSTD_compressCCtx(compressContext(), frame.data(), static_cast<size_t>(frame.size()), payload.data(),
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
    const size_t got = ZSTD_decompressDCtx(decompressContext(), payload.data(), static_cast<size_t>(expectedSize), frame.data(), static_cast<size_t>(frame.size()));
    if (ZSTD_isError(got) || got != static_cast<size_t>(expectedSize))
        return std::nullopt;
    return payload;
}
