#ifndef MUTEXLOCKER_H
#define MUTEXLOCKER_H

#include <QMutex>

#if defined(__SANITIZE_THREAD__)
#define ZV_TSAN_ANNOTATIONS 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZV_TSAN_ANNOTATIONS 1
#endif
#endif

#ifdef ZV_TSAN_ANNOTATIONS
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);
#endif

// QMutexLocker that, under ThreadSanitizer, tells the sanitizer about the
// lock: QMutex's contended path runs inside the (uninstrumented) Qt library,
// where the sanitizer cannot see the ordering it creates.
class MutexLocker
{
public:
    explicit MutexLocker(QMutex &mutex)
        : mutex(mutex)
    {
        mutex.lock();
#ifdef ZV_TSAN_ANNOTATIONS
        __tsan_acquire(&mutex);
#endif
    }
    ~MutexLocker()
    {
#ifdef ZV_TSAN_ANNOTATIONS
        __tsan_release(&mutex);
#endif
        mutex.unlock();
    }
    MutexLocker(const MutexLocker &) = delete;
    MutexLocker &operator=(const MutexLocker &) = delete;

private:
    QMutex &mutex;
};

#endif // MUTEXLOCKER_H
