#pragma once

#include <QString>

/// \brief Reads a password from standard input: from a terminal with the echo off, otherwise one line
/// per password, so scripts and tests can drive the tool. A line longer than the password limit is
/// read to its end but not kept.
class PasswordPrompt final {
public:
    PasswordPrompt() = delete;

    struct Answer {
        QString password;
        QString error; ///< input ended, or the line was too long; empty when read
    };
    /// Asks twice when `confirm` and refuses two different answers.
    static Answer ask(const QString& prompt, bool confirm);

private:
    static Answer readLine(const QString& prompt);
};
