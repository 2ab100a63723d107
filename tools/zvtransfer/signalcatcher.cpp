#include "signalcatcher.h"

#include <atomic>

namespace {
// Written by the handler, which may run on any thread at any moment.
std::atomic<int> firstSignal{0};
std::atomic<int> lastSignal{0};
std::atomic<int> signalCount{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may only touch lock-free atomics");
} // namespace

void SignalCatcher::note(int signal)
{
    int none = 0;
    firstSignal.compare_exchange_strong(none, signal);
    lastSignal.store(signal);
    signalCount.fetch_add(1);
}

int SignalCatcher::caught()
{
    return firstSignal.load();
}

SignalCatcher::SignalCatcher(QObject *parent)
    : QObject(parent)
{
    startWaking();
}

SignalCatcher::~SignalCatcher() = default;

void SignalCatcher::listen(QObject *context, const std::function<void(int)> &handler)
{
    deliver();
    connect(this, &SignalCatcher::signalled, context, handler);
    if (delivered > 0)
        handler(firstSignal.load());
}

// Takes the wake-ups, then hands on every signal the handler counted since
// the last time (so also one whose wake-up was lost).
void SignalCatcher::deliver()
{
    drainWakeUps();
    const int count = signalCount.load();
    while (delivered < count) {
        ++delivered;
        emit signalled(delivered == 1 ? firstSignal.load() : lastSignal.load());
    }
}
