// Linked into every program of a ThreadSanitizer build (scripts/test-sanitize),
// never into a normal one.
//
// Qt's own library is built without ThreadSanitizer, so the hand-off inside
// QMetaObject::invokeMethod is invisible to it: the slot object is made on
// one thread, queued under a lock and called on another, the caller of a
// blocking call waits on a semaphore, and whichever thread drops the last
// reference deletes the slot object. Those are all synchronised inside Qt,
// but the reads and writes around them are in our instrumented code, so
// every hand-off from a worker to the user-interface thread would be
// reported as a race. This program's definition of invokeMethodImpl takes the
// place of Qt's for every call from our code; it wraps the slot object in
// one that tells ThreadSanitizer what Qt guarantees, and nothing more:
//   - what the calling thread did before the call happens before the call;
//   - the call happens before the slot object is deleted, on any thread;
//   - a blocking call returns after the call has ended.
// Races between a worker and the user-interface thread outside these
// hand-offs (a flag read on one and written on the other, say) stay visible.
//
// The end of a thread is the same: Qt's threads are detached and QThread's
// wait(), isRunning() and isFinished() learn of the end under Qt's own lock,
// so the owner that deletes what its worker last touched, after waiting for
// it, would be reported too. The definitions of QThread::createThreadImpl
// (behind QThread::create), wait(), isRunning() and isFinished() below take
// the place of Qt's for calls from our code and tell ThreadSanitizer that
// everything the thread's function did happens before any of those three
// has seen the thread ended, and before the thread object is destroyed (a
// QThread deleted once finished, which its QPointer then shows).
//
// A QMutex is locked and unlocked inline, in our code, while nobody else
// wants it; a contended one is handed over inside Qt. The definitions of
// QBasicMutex's lockInternal and unlockInternal below make that hand-over
// visible too.

#include <QMutex>
#include <QObject>
#include <QThread>

#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

#include <cstdlib>
#include <future>
#include <memory>

namespace {

class HandOffSlot : public QtPrivate::QSlotObjectBase
{
public:
    HandOffSlot(QtPrivate::QSlotObjectBase *inner, void *caller)
        : QSlotObjectBase(&impl), inner_(inner), caller_(caller)
    {
        __tsan_release(this);
    }

private:
    static void impl(int which, QSlotObjectBase *base, QObject *receiver, void **args, bool *ret)
    {
        auto *self = static_cast<HandOffSlot *>(base);
        __tsan_acquire(self);
        void *const caller = self->caller_;
        switch (which) {
        case Destroy:
            self->inner_->destroyIfLastRef();
            delete self;
            return;
        case Call: self->inner_->call(receiver, args); break;
        case Compare: *ret = self->inner_->compare(args); break;
        default: break;
        }
        if (caller)
            __tsan_release(caller);
        __tsan_release(self);
    }

    QtPrivate::QSlotObjectBase *const inner_;
    void *const caller_;  // a blocking caller's mark on its stack, or null
};

using InvokeMethodImpl = bool (*)(QObject *, QtPrivate::QSlotObjectBase *, Qt::ConnectionType, void *);

template <typename F> F Real(const char *symbol)
{
    const auto real = reinterpret_cast<F>(dlsym(RTLD_NEXT, symbol));
    if (!real)
        std::abort();
    return real;
}

// What the thread's function did happens before the wait that saw it end.
bool Ended(const QThread *thread, bool ended)
{
    if (ended)
        __tsan_acquire(const_cast<QThread *>(thread));
    return ended;
}

}  // namespace

QThread *QThread::createThreadImpl(std::future<void> &&future)
{
    static const auto real = Real<QThread *(*)(std::future<void> &&)>("_ZN7QThread16createThreadImplEOSt6futureIvE");
    // The thread object is known only once made; it is filled in before the
    // thread can start.
    auto made = std::make_shared<QThread *>(nullptr);
    auto marked = std::async(std::launch::deferred, [inner = std::move(future), made]() mutable {
        struct Release
        {
            QThread *thread;
            ~Release() { __tsan_release(thread); }
        } release{*made};
        inner.get();
    });
    QThread *thread = real(std::move(marked));
    *made = thread;
    QObject::connect(thread, &QObject::destroyed, [thread] { __tsan_acquire(thread); });
    return thread;
}

void QBasicMutex::lockInternal() QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto real = Real<void (*)(QBasicMutex *)>("_ZN11QBasicMutex12lockInternalEv");
    real(this);
    __tsan_acquire(this);
}

bool QBasicMutex::lockInternal(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto real = Real<bool (*)(QBasicMutex *, int)>("_ZN11QBasicMutex12lockInternalEi");
    const bool locked = real(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QBasicMutex::unlockInternal() noexcept
{
    static const auto real = Real<void (*)(QBasicMutex *)>("_ZN11QBasicMutex14unlockInternalEv");
    __tsan_release(this);
    real(this);
}

bool QThread::wait(QDeadlineTimer deadline)
{
    static const auto real = Real<bool (*)(QThread *, QDeadlineTimer)>("_ZN7QThread4waitE14QDeadlineTimer");
    return Ended(this, real(this, deadline));
}

bool QThread::isRunning() const
{
    static const auto real = Real<bool (*)(const QThread *)>("_ZNK7QThread9isRunningEv");
    return !Ended(this, !real(this));
}

bool QThread::isFinished() const
{
    static const auto real = Real<bool (*)(const QThread *)>("_ZNK7QThread10isFinishedEv");
    return Ended(this, real(this));
}

bool QMetaObject::invokeMethodImpl(QObject *object, QtPrivate::QSlotObjectBase *slot, Qt::ConnectionType type,
                                   void *ret)
{
    static const auto real = Real<InvokeMethodImpl>(
        "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv");
    char caller = 0;
    const bool blocking = type == Qt::BlockingQueuedConnection;
    const bool invoked = real(object, new HandOffSlot(slot, blocking ? &caller : nullptr), type, ret);
    if (blocking)
        __tsan_acquire(&caller);
    return invoked;
}
