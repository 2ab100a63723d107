#include "recorder/errorfilter.h"

#include "base/logging.h"

bool ErrorFilter::pass(int code, int param)
{
    const bool repeat = code == lastCode && param == lastParam && lastPassed.isValid();
    if (repeat && lastPassed.elapsed() < RepeatIntervalMs) {
        ++held;
        return false;
    }
    if (held > 0) {
        qCWarning(lcController).noquote()
            << QStringLiteral("net: error E%1-%2-0 repeated %3 times").arg(lastCode).arg(lastParam).arg(held);
    }
    held = 0;
    lastCode = code;
    lastParam = param;
    lastPassed.start();
    return true;
}
