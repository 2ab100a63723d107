#ifndef THREADJOIN_H
#define THREADJOIN_H

#include <QObject>
#include <QThread>
#include <QThreadStorage>

#include "app/mutexlocker.h"

// Stopping a worker thread so that ThreadSanitizer sees the join.
//
// QThread::wait() on a thread that has already finished only reads the
// thread's state under its QMutex, inside the (uninstrumented) Qt library: to
// the sanitizer, nothing then orders what the thread did before the objects it
// used are deleted. watchThreadEnd() marks the thread's very end (after its
// deferred deletions, when its thread-local data goes); stopThread() quits,
// waits and takes that mark. Without the sanitizer they are a plain quit()
// and wait().

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
        [] { ThreadJoin::endMarks().setLocalData(new ThreadJoin::EndMark(QThread::currentThread())); },
        Qt::DirectConnection);
#else
    Q_UNUSED(thread)
#endif
}

inline void stopThread(QThread *thread)
{
    thread->quit();
    thread->wait();
#ifdef ZV_TSAN_ANNOTATIONS
    __tsan_acquire(thread);
#endif
}

#endif // THREADJOIN_H
