#include "kernel_object.h"
#include "thread_state.h"

#include <win32_testing.h>

#include <unordered_map>

namespace win32 {
namespace {

struct Registry {
    std::mutex lock;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
    // Starts high and steps by 4 so handle values never collide with null, the pseudo-handles
    // (-1, -2) or small integers that careless callers might pass.
    uintptr_t next = 0x10000;
};

// Kernel state is never destroyed: a detached thread may still finish after static destructors run.
Registry& TheRegistry() {
    static auto* registry = new Registry;
    return *registry;
}

} // namespace

std::mutex& WaitLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

std::condition_variable& WaitChanged() {
    static auto* changed = new std::condition_variable;
    return *changed;
}

HANDLE RegisterObject(std::shared_ptr<KernelObject> object) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    uintptr_t id = registry.next;
    registry.next += 4;
    registry.objects.emplace(id, std::move(object));
    return reinterpret_cast<HANDLE>(id);
}

std::shared_ptr<KernelObject> LookupObject(HANDLE handle) {
    if (handle == GetCurrentThread()) return CurrentThreadObject();
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    auto found = registry.objects.find(reinterpret_cast<uintptr_t>(handle));
    return found == registry.objects.end() ? nullptr : found->second;
}

} // namespace win32

namespace win32test {

size_t OpenHandleCount() {
    win32::Registry& registry = win32::TheRegistry();
    std::lock_guard guard(registry.lock);
    return registry.objects.size();
}

} // namespace win32test

BOOL CloseHandle(HANDLE handle) {
    std::shared_ptr<win32::KernelObject> object;
    {
        win32::Registry& registry = win32::TheRegistry();
        std::lock_guard guard(registry.lock);
        auto found = registry.objects.find(reinterpret_cast<uintptr_t>(handle));
        if (found == registry.objects.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = std::move(found->second);
        registry.objects.erase(found);
    }
    // The object may be destroyed here, outside the registry lock (a thread object joins).
    object.reset();
    return TRUE;
}

namespace {
thread_local DWORD t_lastError = 0;
}

DWORD GetLastError() {
    return t_lastError;
}
void SetLastError(DWORD code) {
    t_lastError = code;
}
