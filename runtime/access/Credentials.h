#pragma once

#include <QString>

/// \brief The rules for user names, full names and passwords. Each check returns why the text is
/// refused, or an empty text when it is fine.
class Credentials final {
public:
    Credentials() = delete;

    static constexpr int maxUserNameLength = 64;
    static constexpr int maxFullNameLength = 128;
    static constexpr int minPasswordLength = 8;
    /// Bytes (UTF-8); a pasted megabyte is refused before anything else looks at it.
    static constexpr int maxPasswordBytes = 1024;

    static QString checkUserName(const QString& name);
    static QString checkFullName(const QString& name);
    /// The length limit is checked first, so an oversized text costs nothing more.
    static QString checkPassword(const QString& userName, const QString& password);
    /// Whether two user names name the same account (case does not count).
    static bool sameUser(const QString& a, const QString& b);
};
