#pragma once

#include <QString>

/// \brief What identifies a runtime project's contents: SHA-256 over its files (PROTOCOL.md), so a
/// station can tell whether its own copy of the project is the one the server runs.
class ProjectFingerprint final {
public:
    /// Lower-case hex; empty with `error` set when a file cannot be read.
    static QString of(const QString& folder, QString* error = nullptr);
};
