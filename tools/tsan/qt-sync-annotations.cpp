// Preloaded into ThreadSanitizer runs. Debian's Qt is not built for the
// sanitizer, so the locking inside QMutex and QWaitCondition is invisible to
// it: every access guarded by them would be reported as a race, and lock-order
// inversions would go unseen. These wrappers call Qt's own functions and
// report each lock and unlock to the sanitizer as a mutex operation. Qt's
// threads are detached and joined through Qt's own condition, so a thread's
// end is handed to whoever waits for it or sees it finished.

#include <QDeadlineTimer>
#include <QMutex>
#include <QThread>
#include <QVariant>
#include <QWaitCondition>

#include <sanitizer/tsan_interface.h>

#include <dlfcn.h>

namespace {
template <class Function>
Function next(const char* symbol)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, symbol));
}

void beforeUnlock(void* mutex) { __tsan_mutex_pre_unlock(mutex, 0); }
void afterUnlock(void* mutex) { __tsan_mutex_post_unlock(mutex, 0); }
void beforeLock(void* mutex) { __tsan_mutex_pre_lock(mutex, 0); }
void afterLock(void* mutex) { __tsan_mutex_post_lock(mutex, 0, 0); }
} // namespace

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto real = next<void (*)(QMutex*)>("_ZN6QMutex4lockEv");
    beforeLock(this);
    real(this);
    afterLock(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto real = next<bool (*)(QMutex*, int)>("_ZN6QMutex7tryLockEi");
    __tsan_mutex_pre_lock(this, __tsan_mutex_try_lock);
    const bool locked = real(this, timeout);
    __tsan_mutex_post_lock(this, __tsan_mutex_try_lock | (locked ? 0 : __tsan_mutex_try_lock_failed), 0);
    return locked;
}

void QMutex::unlock() noexcept
{
    static const auto real = next<void (*)(QMutex*)>("_ZN6QMutex6unlockEv");
    beforeUnlock(this);
    real(this);
    afterUnlock(this);
}

bool QWaitCondition::wait(QMutex* mutex, QDeadlineTimer deadline)
{
    static const auto real = next<bool (*)(QWaitCondition*, QMutex*, QDeadlineTimer)>(
        "_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer");
    beforeUnlock(mutex);
    afterUnlock(mutex);
    const bool woken = real(this, mutex, deadline);
    beforeLock(mutex);
    afterLock(mutex);
    return woken;
}

bool QWaitCondition::wait(QMutex* mutex, unsigned long time)
{
    static const auto real = next<bool (*)(QWaitCondition*, QMutex*, unsigned long)>(
        "_ZN14QWaitCondition4waitEP6QMutexm");
    beforeUnlock(mutex);
    afterUnlock(mutex);
    const bool woken = real(this, mutex, time);
    beforeLock(mutex);
    afterLock(mutex);
    return woken;
}

void QThread::start(Priority priority)
{
    static const auto real = next<void (*)(QThread*, Priority)>("_ZN7QThread5startENS_8PriorityE");
    static const char* const handsOver = "tsanHandsOverItsEnd";
    if (!property(handsOver).toBool()) {
        setProperty(handsOver, true);
        connect(
            this, &QThread::finished, this, [this] { __tsan_release(this); }, Qt::DirectConnection);
    }
    real(this, priority);
}

bool QThread::wait(QDeadlineTimer deadline)
{
    static const auto real = next<bool (*)(QThread*, QDeadlineTimer)>("_ZN7QThread4waitE14QDeadlineTimer");
    const bool ended = real(this, deadline);
    if (ended)
        __tsan_acquire(this);
    return ended;
}

bool QThread::wait(unsigned long time)
{
    static const auto real = next<bool (*)(QThread*, unsigned long)>("_ZN7QThread4waitEm");
    const bool ended = real(this, time);
    if (ended)
        __tsan_acquire(this);
    return ended;
}

bool QThread::isFinished() const
{
    static const auto real = next<bool (*)(const QThread*)>("_ZNK7QThread10isFinishedEv");
    const bool finished = real(this);
    if (finished)
        __tsan_acquire(const_cast<QThread*>(this));
    return finished;
}
