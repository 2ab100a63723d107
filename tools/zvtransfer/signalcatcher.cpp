#include "signalcatcher.h"

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {
// Written by the handler, which may run on any thread at any moment.
std::atomic<int> firstSignal{0};
std::atomic<int> lastSignal{0};
std::atomic<int> signalCount{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may only touch lock-free atomics");

int wakePipe[2] = {-1, -1};

#ifdef Q_OS_UNIX
void onSignal(int signal)
{
    const int savedErrno = errno;
    int none = 0;
    firstSignal.compare_exchange_strong(none, signal);
    lastSignal.store(signal);
    signalCount.fetch_add(1);
    // Never blocks: a full pipe has a wake-up in it already.
    const char byte = char(signal);
    [[maybe_unused]] const auto written = ::write(wakePipe[1], &byte, 1);
    errno = savedErrno;
}

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
#endif
} // namespace

void SignalCatcher::install()
{
#ifdef Q_OS_UNIX
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
#endif
}

int SignalCatcher::caught()
{
    return firstSignal.load();
}

SignalCatcher::SignalCatcher(QObject *parent)
    : QObject(parent)
{
#ifdef Q_OS_UNIX
    if (wakePipe[0] < 0)
        return;
    notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] { deliver(); });
#endif
}

SignalCatcher::~SignalCatcher() = default;

void SignalCatcher::listen(QObject *context, const std::function<void(int)> &handler)
{
    deliver();
    connect(this, &SignalCatcher::signalled, context, handler);
    if (delivered > 0)
        handler(firstSignal.load());
}

// Empties the pipe, then hands on every signal the handler counted since the
// last time (so also one whose byte found the pipe full).
void SignalCatcher::deliver()
{
#ifdef Q_OS_UNIX
    char bytes[64];
    while (wakePipe[0] >= 0 && ::read(wakePipe[0], bytes, sizeof bytes) > 0) { }
#endif
    const int count = signalCount.load();
    while (delivered < count) {
        ++delivered;
        emit signalled(delivered == 1 ? firstSignal.load() : lastSignal.load());
    }
}
