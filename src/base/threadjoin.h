#ifndef THREADJOIN_H
#define THREADJOIN_H

#include <QObject>
#include <QThread>
#include <QThreadStorage>
#include <climits>

#include "base/mutexlocker.h"

// Stopping a worker thread so that ThreadSanitizer sees the join.
//
// QThread::wait() on a thread that has already finished only reads the
// thread's state under its QMutex, inside the (uninstrumented) Qt library: to
// the sanitizer, nothing then orders what the thread did before the objects it
// used are deleted. watchThreadEnd() marks the thread's very end (after its
// deferred deletions, when its thread-local data goes); stopThread() quits,
// waits and takes that mark. The other way round, the quit is a hand-over:
// what the stopping thread did with the worker's objects (a disconnect reads
// them too) comes before the deferred deletions at the thread's end. Without
// the sanitizer they are a plain quit() and wait().
//
// stopThread() may be given a bound: a worker stuck in a long call is then
// left behind rather than waited for (see there).

namespace ThreadJoin {
#ifdef ZV_TSAN_ANNOTATIONS
struct EndMark
{
    explicit EndMark(QThread *thread)
        : thread(thread)
    {
    }
    ~EndMark() { __tsan_release(thread); }
    EndMark(const EndMark &) = delete;
    EndMark &operator=(const EndMark &) = delete;

    QThread *thread;
};

inline QThreadStorage<EndMark *> &endMarks()
{
    static QThreadStorage<EndMark *> marks;
    return marks;
}
#endif
} // namespace ThreadJoin

// Call while `thread` has not finished yet (before or after starting it).
inline void watchThreadEnd(QThread *thread)
{
#ifdef ZV_TSAN_ANNOTATIONS
    // Runs on the thread itself as it finishes; its thread-local data, the
    // mark among it, is destroyed after the deferred deletions. (Nothing is
    // captured: the thread may be running already, and the connection is
    // handed to it under Qt's own locks.)
    QObject::connect(
        thread, &QThread::finished, thread,
        [] {
            __tsan_acquire(QThread::currentThread()); // the hand-over of stopThread()
            ThreadJoin::endMarks().setLocalData(new ThreadJoin::EndMark(QThread::currentThread()));
        },
        Qt::DirectConnection);
#else
    Q_UNUSED(thread)
#endif
}

namespace ThreadJoin {
// How long closing a program waits for its worker thread.
constexpr unsigned long ExitBoundMs = 2000;
constexpr unsigned long Unbounded = ULONG_MAX;
} // namespace ThreadJoin

// Asks the thread to stop (interruption requested, event loop told to quit)
// and waits at most `boundMs` for it. True when it has finished. False when
// it is still running: it may not be destroyed then (destroying a running
// QThread aborts the process), so the caller leaves the QThread object and
// everything living on that thread alone while it runs (deleting them on its
// finished() signal at the earliest).
inline bool stopThread(QThread *thread, unsigned long boundMs = ThreadJoin::Unbounded)
{
#ifdef ZV_TSAN_ANNOTATIONS
    __tsan_release(thread);
#endif
    thread->requestInterruption();
    thread->quit();
    if (!thread->wait(boundMs))
        return false;
#ifdef ZV_TSAN_ANNOTATIONS
    __tsan_acquire(thread);
#endif
    return true;
}

#endif // THREADJOIN_H
