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

#include <QObject>

#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

#include <cstdlib>

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
        case Call:
            self->inner_->call(receiver, args);
            break;
        case Compare:
            *ret = self->inner_->compare(args);
            break;
        default:
            break;
        }
        if (caller)
            __tsan_release(caller);
        __tsan_release(self);
    }

    QtPrivate::QSlotObjectBase *const inner_;
    void *const caller_;  // a blocking caller's mark on its stack, or null
};

using InvokeMethodImpl = bool (*)(QObject *, QtPrivate::QSlotObjectBase *, Qt::ConnectionType, void *);

} // namespace

bool QMetaObject::invokeMethodImpl(QObject *object, QtPrivate::QSlotObjectBase *slot, Qt::ConnectionType type,
                                   void *ret)
{
    static const auto real = reinterpret_cast<InvokeMethodImpl>(dlsym(
        RTLD_NEXT, "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv"));
    if (!real)
        std::abort();
    char caller = 0;
    const bool blocking = type == Qt::BlockingQueuedConnection;
    const bool invoked = real(object, new HandOffSlot(slot, blocking ? &caller : nullptr), type, ret);
    if (blocking)
        __tsan_acquire(&caller);
    return invoked;
}
