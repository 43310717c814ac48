#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>

/// \brief Argon2id password hashes in libsodium's self-describing text form ("$argon2id$v=19$m=...").
/// The cost is chosen once per store; a stored hash carries its own cost, so verifying a hash made with
/// other settings still works.
class PasswordHasher final {
public:
    struct Cost {
        unsigned long long opsLimit = 0;
        std::size_t memLimit = 0;
    };
    /// libsodium's interactive level: 2 passes over 64 MiB; one verification takes well under 500 ms on
    /// a 2-core machine (bench_access prints the figure).
    static Cost interactive();
    /// The smallest cost libsodium accepts; for tests only, where hashing must be cheap.
    static Cost minimal();

    explicit PasswordHasher(Cost cost = interactive());

    /// The hash text of `password`, or empty when the machine lacks the memory for it.
    QByteArray hash(const QString& password) const;
    /// Whether `password` matches `hash`; false for anything that is not an Argon2id hash.
    static bool verify(const QByteArray& hash, const QString& password);
    /// The largest cost a stored hash may name (1 GiB, 16 passes), far above any cost this program
    /// chooses.
    static constexpr unsigned maxMemoryKiB = 1024 * 1024;
    static constexpr unsigned maxPasses = 16;
    /// Whether `text` is an Argon2id hash text that libsodium can check, within the largest cost.
    static bool isArgon2idHash(const QByteArray& text);

    const Cost& cost() const { return m_cost; }

private:
    Cost m_cost;
};
