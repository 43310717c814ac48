#include "PasswordHasher.h"

#include "Crypto.h"

#include <sodium.h>

#include <cstdio>

PasswordHasher::Cost PasswordHasher::interactive()
{
    return {crypto_pwhash_argon2id_OPSLIMIT_INTERACTIVE, crypto_pwhash_argon2id_MEMLIMIT_INTERACTIVE};
}

PasswordHasher::Cost PasswordHasher::minimal()
{
    return {crypto_pwhash_argon2id_OPSLIMIT_MIN, crypto_pwhash_argon2id_MEMLIMIT_MIN};
}

PasswordHasher::PasswordHasher(Cost cost)
    : m_cost(cost)
{
}

QByteArray PasswordHasher::hash(const QString& password) const
{
    Crypto::ensureReady();
    const QByteArray utf8 = password.toUtf8();
    char out[crypto_pwhash_argon2id_STRBYTES];
    if (crypto_pwhash_argon2id_str(out, utf8.constData(), static_cast<unsigned long long>(utf8.size()), m_cost.opsLimit, m_cost.memLimit) != 0)
        return {};
    return QByteArray(out);
}

bool PasswordHasher::verify(const QByteArray& hash, const QString& password)
{
    if (!isArgon2idHash(hash))
        return false;
    const QByteArray utf8 = password.toUtf8();
    return crypto_pwhash_argon2id_str_verify(hash.constData(), utf8.constData(), static_cast<unsigned long long>(utf8.size())) == 0;
}

bool PasswordHasher::isArgon2idHash(const QByteArray& text)
{
    Crypto::ensureReady();
    if (!text.startsWith("$argon2id$") || text.size() >= crypto_pwhash_argon2id_STRBYTES || text.contains('\0'))
        return false;
    // Reports -1 for a text it cannot parse; 0 or 1 only says whether the cost differs from the minimum.
    if (crypto_pwhash_argon2id_str_needs_rehash(text.constData(), crypto_pwhash_argon2id_OPSLIMIT_MIN, crypto_pwhash_argon2id_MEMLIMIT_MIN) < 0)
        return false;
    // A hand-edited cost would otherwise make one sign-in allocate gigabytes or run for minutes.
    unsigned memoryKiB = 0;
    unsigned passes = 0;
    unsigned lanes = 0;
    if (std::sscanf(text.constData(), "$argon2id$v=19$m=%u,t=%u,p=%u$", &memoryKiB, &passes, &lanes) != 3)
        return false;
    return memoryKiB <= maxMemoryKiB && passes <= maxPasses;
}
