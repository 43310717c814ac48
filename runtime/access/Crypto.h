#pragma once

#include <QByteArray>

/// \brief The few primitives the access room takes from libsodium: random tokens, a comparison
/// that takes the same time wherever the inputs differ, and a 32-byte BLAKE2b digest.
class Crypto final {
public:
    Crypto() = delete;

    /// `bytes` random bytes from the system's generator, as lower-case hex.
    static QByteArray randomHex(int bytes);
    /// Equal contents, compared in time that depends on the length only.
    static bool equal(const QByteArray& a, const QByteArray& b);
    /// BLAKE2b with a 32-byte digest.
    static QByteArray digest(const QByteArray& data);
    static constexpr int digestBytes = 32;

    /// Initialises libsodium once; every entry point calls it, so callers never need to.
    static void ensureReady();
};
