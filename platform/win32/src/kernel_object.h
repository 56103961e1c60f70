// Kernel objects behind HANDLE values. A handle is an id into a registry of shared objects, so a
// closed or forged handle is refused instead of dereferenced, and an object stays alive while a
// wait on it is in progress even if another thread closes the handle.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace win32 {

struct KernelObject {
    virtual ~KernelObject() = default;
};

// Waitable objects share one lock and one condition variable: a wait on several objects of
// different kinds then needs no per-object registration, and every state change is seen.
std::mutex& WaitLock();
std::condition_variable& WaitChanged();

HANDLE RegisterObject(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupObject(HANDLE handle);

template <typename T> std::shared_ptr<T> Lookup(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupObject(handle));
}

// Event state; guarded by WaitLock().
struct Event : KernelObject {
    Event(bool manual, bool initial) : manualReset(manual), signaled(initial) {}
    const bool manualReset;
    bool signaled;
    // Counts sets of a manual-reset event, so a set followed at once by a reset still releases
    // every thread that was waiting at the time of the set.
    uint64_t setCount = 0;
};

} // namespace win32
