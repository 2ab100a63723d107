#include "loglinefilter.h"

#include <QMutex>
#include <QStringList>
#include <atomic>

#include "base/mutexlocker.h"

namespace {
// Created once and never destroyed: lines may come from any thread until the
// very end.
struct Hidden
{
    QMutex mutex;
    QStringList prefixes; // one entry per hide() not yet undone
};

Hidden &hidden()
{
    static Hidden *const instance = new Hidden;
    return *instance;
}

std::atomic<bool> enabled{true};
} // namespace

void LogLineFilter::hide(const QString &prefix)
{
    MutexLocker locker(hidden().mutex);
    hidden().prefixes.append(prefix);
}

void LogLineFilter::unhide(const QString &prefix)
{
    MutexLocker locker(hidden().mutex);
    hidden().prefixes.removeOne(prefix);
}

bool LogLineFilter::passes(const QString &message)
{
    if (!enabled)
        return true;
    MutexLocker locker(hidden().mutex);
    for (const QString &prefix : qAsConst(hidden().prefixes)) {
        if (message.startsWith(prefix))
            return false;
    }
    return true;
}

void LogLineFilter::setEnabled(bool on)
{
    enabled = on;
}
