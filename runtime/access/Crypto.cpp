#include "Crypto.h"

#include <sodium.h>

#include <stdexcept>

void Crypto::ensureReady()
{
    // sodium_init() is safe to call repeatedly and from several threads; it fails only when the
    // system's random source is unusable, and then nothing here may go on.
    static const bool ready = sodium_init() >= 0;
    if (!ready)
        throw std::runtime_error("libsodium could not be initialised (no random source)");
}

QByteArray Crypto::randomHex(int bytes)
{
    ensureReady();
    QByteArray raw(bytes, Qt::Uninitialized);
    randombytes_buf(raw.data(), static_cast<size_t>(raw.size()));
    return raw.toHex();
}

bool Crypto::equal(const QByteArray& a, const QByteArray& b)
{
    ensureReady();
    return a.size() == b.size() && sodium_memcmp(a.constData(), b.constData(), static_cast<size_t>(a.size())) == 0;
}

QByteArray Crypto::digest(const QByteArray& data)
{
    ensureReady();
    QByteArray out(digestBytes, Qt::Uninitialized);
    crypto_generichash(reinterpret_cast<unsigned char*>(out.data()), digestBytes, reinterpret_cast<const unsigned char*>(data.constData()),
        static_cast<unsigned long long>(data.size()), nullptr, 0);
    return out;
}
