// The signal catcher's wake-up on POSIX systems: a non-blocking self-pipe
// that the handler writes a byte into and a QSocketNotifier on the main
// thread reads, so that a signal ends a wait at once.
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "signalcatcher.h"

namespace {
int wakePipe[2] = {-1, -1};

// Both ends non-blocking (the handler must not wait, the reader drains it)
// and closed on exec.
bool makeWakePipe()
{
    if (::pipe(wakePipe) != 0)
        return false;
    for (const int fd : wakePipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    return true;
}
} // namespace

void SignalCatcher::onSignal(int signal)
{
    const int savedErrno = errno;
    note(signal);
    // Never blocks: a full pipe has a wake-up in it already.
    const char byte = char(signal);
    [[maybe_unused]] const auto written = ::write(wakePipe[1], &byte, 1);
    errno = savedErrno;
}

void SignalCatcher::install()
{
    // Without its pipe nothing could wake the loop: the default action, which
    // ends the program, then stays.
    if (wakePipe[0] >= 0 || !makeWakePipe())
        return;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

void SignalCatcher::startWaking()
{
    if (wakePipe[0] < 0)
        return;
    const auto *notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] { deliver(); });
}

void SignalCatcher::drainWakeUps()
{
    char bytes[64];
    while (wakePipe[0] >= 0 && ::read(wakePipe[0], bytes, sizeof bytes) > 0) { }
}
