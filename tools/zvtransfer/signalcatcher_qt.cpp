// The signal catcher's wake-up with Qt and standard C++ alone (Qt offers no
// signal handling of its own): the handler only notes the signal, and a
// timer on the main thread looks for it every LookIntervalMs, which is all
// the delay a signal meets before it ends a wait.
#include <QTimer>
#include <cerrno>
#include <csignal>

#include "signalcatcher.h"

namespace {
constexpr int LookIntervalMs = 50;
} // namespace

void SignalCatcher::onSignal(int signal)
{
    const int savedErrno = errno;
    // Where a handler is reset before it runs, it is set again, so that a
    // further signal is caught too.
    std::signal(signal, onSignal);
    note(signal);
    errno = savedErrno;
}

void SignalCatcher::install()
{
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}

void SignalCatcher::startWaking()
{
    auto *timer = new QTimer(this);
    timer->setInterval(LookIntervalMs);
    connect(timer, &QTimer::timeout, this, [this] { deliver(); });
    timer->start();
}

void SignalCatcher::drainWakeUps()
{
}
