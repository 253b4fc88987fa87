// Records the call stack of every C++ exception at its throw.
//
// The C++ runtime raises every exception through __cxa_throw. This program
// defines that function itself: the definition in the executable takes the
// place of the runtime's for every caller in the process, records the return
// addresses of the throwing thread and hands over to the runtime's own
// function. Recording costs a couple of microseconds and allocates nothing;
// names are looked up only when a report is written.

#include "StackTrace.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

constexpr int kMaxFrames = 64;

struct Recorded
{
    const void *object = nullptr;
    std::thread::id thread;
    int count = 0;
    std::array<void *, kMaxFrames> frames{};
};

// The last few throws in the process, newest at next - 1. A handler usually
// asks for the newest one, but the exception it reports may have been thrown
// a little earlier than others caught and handled on the way.
struct Ring
{
    std::mutex mutex;
    std::array<Recorded, 32> entries;
    size_t next = 0;
};

Ring &Throws()
{
    static Ring ring;
    return ring;
}

// Out of line, so that the frames to leave out are this one, whatever
// backtrace adds of its own (a sanitizer build wraps it, which adds a frame)
// and __cxa_throw: everything up to the return into __cxa_throw.
[[gnu::noinline]] void Record(void *object)
{
    constexpr int kOwnFrames = 2;
    constexpr int kSpareFrames = 2;
    Recorded recorded;
    void *frames[kMaxFrames + kOwnFrames + kSpareFrames];
    const int count = backtrace(frames, kMaxFrames + kOwnFrames + kSpareFrames);
    const void *const intoThrow = __builtin_return_address(0);
    int own = kOwnFrames;
    for (int i = 0; i < count && i <= kOwnFrames + kSpareFrames; ++i)
        if (frames[i] == intoThrow) {
            own = i + 1;
            break;
        }
    recorded.object = object;
    recorded.thread = std::this_thread::get_id();
    recorded.count = count > own ? std::min(count - own, kMaxFrames) : 0;
    for (int i = 0; i < recorded.count; ++i)
        recorded.frames[size_t(i)] = frames[i + own];
    Ring &ring = Throws();
    const std::lock_guard lock(ring.mutex);
    ring.entries[ring.next % ring.entries.size()] = recorded;
    ++ring.next;
}

using ThrowFunction = void (*)(void *, std::type_info *, void (*)(void *));

ThrowFunction RuntimeThrow()
{
    static const ThrowFunction real = reinterpret_cast<ThrowFunction>(dlsym(RTLD_NEXT, "__cxa_throw"));
    return real;
}

}  // namespace

namespace __cxxabiv1 {

extern "C" void __cxa_throw(void *object, std::type_info *type, void (*destructor)(void *))
{
    Record(object);
    const ThrowFunction real = RuntimeThrow();
    if (!real)
        std::abort();
    real(object, type, destructor);
    __builtin_unreachable();
}

}  // namespace __cxxabiv1

RawStack RecordedStackOf(const void *exceptionObject)
{
    Ring &ring = Throws();
    const std::lock_guard lock(ring.mutex);
    const size_t size = ring.entries.size();
    const size_t oldest = ring.next > size ? ring.next - size : 0;
    const Recorded *found = nullptr;
    for (size_t i = ring.next; i > oldest && !found; --i)
        if (ring.entries[(i - 1) % size].object == exceptionObject)
            found = &ring.entries[(i - 1) % size];
    const auto self = std::this_thread::get_id();
    for (size_t i = ring.next; i > oldest && !found; --i)
        if (ring.entries[(i - 1) % size].thread == self)
            found = &ring.entries[(i - 1) % size];
    RawStack stack;
    if (found)
        for (int i = 0; i < found->count; ++i)
            stack.push_back(reinterpret_cast<std::uintptr_t>(found->frames[size_t(i)]));
    return stack;
}
