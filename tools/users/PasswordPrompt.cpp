#include "PasswordPrompt.h"

#include "Credentials.h"

#include <csignal>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace {

termios savedTerminal{};

/// Gives the echo back if the user breaks off while typing a password.
extern "C" void restoreAndQuit(int signal)
{
    ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    ::_exit(128 + signal);
}

/// Turns the terminal's echo off for its lifetime when standard input is a terminal.
class NoEcho {
public:
    NoEcho()
    {
        if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &savedTerminal) != 0)
            return;
        termios quiet = savedTerminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        m_previous = std::signal(SIGINT, restoreAndQuit);
        m_active = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~NoEcho()
    {
        if (!m_active)
            return;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        std::signal(SIGINT, m_previous);
        std::fputc('\n', stderr);
    }
    NoEcho(const NoEcho&) = delete;
    NoEcho& operator=(const NoEcho&) = delete;

private:
    bool m_active = false;
    void (*m_previous)(int) = SIG_DFL;
};

} // namespace

PasswordPrompt::Answer PasswordPrompt::readLine(const QString& prompt)
{
    if (::isatty(STDIN_FILENO)) {
        std::fputs(prompt.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    }
    const NoEcho noEcho;
    QByteArray line;
    bool tooLong = false;
    int c = 0;
    while ((c = std::getchar()) != EOF && c != '\n') {
        if (line.size() < Credentials::maxPasswordBytes + 1)
            line.append(static_cast<char>(c));
        else
            tooLong = true;
    }
    if (c == EOF && line.isEmpty())
        return {{}, QStringLiteral("no password given (input ended)")};
    if (line.endsWith('\r'))
        line.chop(1);
    if (tooLong || line.size() > Credentials::maxPasswordBytes)
        return {{}, QStringLiteral("the password is longer than %1 bytes").arg(Credentials::maxPasswordBytes)};
    return {QString::fromUtf8(line), {}};
}

PasswordPrompt::Answer PasswordPrompt::ask(const QString& prompt, bool confirm)
{
    Answer first = readLine(prompt);
    if (!first.error.isEmpty() || !confirm)
        return first;
    const Answer second = readLine(QStringLiteral("Repeat the password: "));
    if (!second.error.isEmpty())
        return second;
    if (second.password != first.password)
        return {{}, QStringLiteral("the two passwords differ")};
    return first;
}
