#include "TerminationSignals.h"

#include "KalvoraError.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int pipeEnds[2] = {-1, -1};

// A closed terminal (SIGHUP) ends the station as orderly as a request to terminate.
constexpr int handledSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // Only async-signal-safe work here: one byte into the socket the GUI thread watches.
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[0], &byte, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipeEnds) != 0)
        throw KalvoraError(QStringLiteral("Cannot watch for termination signals: socketpair failed (errno %1)").arg(errno));
    m_notifier = new QSocketNotifier(pipeEnds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readSignal);

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : handledSignals) {
        if (::sigaction(signalNumber, &action, nullptr) != 0)
            throw KalvoraError(QStringLiteral("Cannot watch for signal %1 (errno %2)").arg(signalNumber).arg(errno));
    }
}

TerminationSignals::~TerminationSignals()
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : handledSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

void TerminationSignals::readSignal()
{
    unsigned char byte = 0;
    if (::read(pipeEnds[1], &byte, 1) == 1)
        Q_EMIT terminationRequested(byte);
}
