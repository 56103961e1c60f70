#include "thread_state.h"

#include <win32_testing.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

using win32::Event;
using win32::Thread;

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
    cs->impl = new std::recursive_mutex;
}

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD) {
    InitializeCriticalSection(cs);
    return TRUE;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
    static_cast<std::recursive_mutex*>(cs->impl)->lock();
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
    return static_cast<std::recursive_mutex*>(cs->impl)->try_lock() ? TRUE : FALSE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
    static_cast<std::recursive_mutex*>(cs->impl)->unlock();
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
    delete static_cast<std::recursive_mutex*>(cs->impl);
    cs->impl = nullptr;
}

namespace {

std::atomic<size_t> s_eventFailures{0};

// Takes one injected failure when any is left.
bool TakeEventFailure() {
    size_t left = s_eventFailures.load();
    while (left > 0)
        if (s_eventFailures.compare_exchange_weak(left, left - 1)) return true;
    return false;
}

} // namespace

void win32test::FailNextEventCreations(size_t count) {
    s_eventFailures.store(count);
}

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    if (TakeEventFailure()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (name) {
        // Named events are shared between processes on the platform; nothing here needs that.
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return win32::RegisterObject(std::make_shared<Event>(manualReset != FALSE, initialState != FALSE));
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCSTR name) {
    if (name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return CreateEventW(attributes, manualReset, initialState, nullptr);
}

BOOL SetEvent(HANDLE handle) {
    auto event = win32::Lookup<Event>(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(win32::WaitLock());
    event->signaled = true;
    if (event->manualReset) ++event->setCount;
    win32::WaitChanged().notify_all();
    return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
    auto event = win32::Lookup<Event>(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(win32::WaitLock());
    event->signaled = false;
    return TRUE;
}

namespace {

size_t g_blockedWaiters = 0; // guarded by WaitLock()

struct Waited {
    std::shared_ptr<Event> event;
    std::shared_ptr<Thread> thread;
    uint64_t setCountAtStart = 0;

    // Caller holds WaitLock().
    bool Ready() const {
        if (event) return event->signaled || (event->manualReset && event->setCount != setCountAtStart);
        return thread->finished;
    }
    void Consume() const {
        if (event && !event->manualReset) event->signaled = false;
    }
};

// Runs the calling thread's queued APCs if there are any; the lock is released while they run.
bool RunApcs(std::unique_lock<std::mutex>& lock) {
    std::shared_ptr<Thread> self = win32::CurrentThreadObject();
    if (self->apcs.empty()) return false;
    auto apcs = std::move(self->apcs);
    self->apcs.clear();
    lock.unlock();
    for (auto& [routine, data] : apcs)
        routine(data);
    lock.lock();
    return true;
}

DWORD Wait(DWORD count, const HANDLE* handles, bool waitAll, DWORD milliseconds, bool alertable) {
    if (count > MAXIMUM_WAIT_OBJECTS || (count > 0 && !handles)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<Waited> waited(count);
    for (DWORD i = 0; i < count; ++i) {
        auto object = win32::LookupObject(handles[i]);
        waited[i].event = std::dynamic_pointer_cast<Event>(object);
        waited[i].thread = std::dynamic_pointer_cast<Thread>(object);
        if (!waited[i].event && !waited[i].thread) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }
    if (alertable) win32::CurrentThreadObject(); // adopt the caller before taking the lock

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock lock(win32::WaitLock());
    for (Waited& w : waited)
        if (w.event) w.setCountAtStart = w.event->setCount;
    for (;;) {
        if (alertable && RunApcs(lock)) return WAIT_IO_COMPLETION;
        if (waitAll && count > 0) {
            bool all = true;
            for (const Waited& w : waited)
                all = all && w.Ready();
            if (all) {
                for (const Waited& w : waited)
                    w.Consume();
                lock.unlock();
                for (const Waited& w : waited)
                    if (w.thread) win32::JoinFinished(*w.thread);
                return WAIT_OBJECT_0;
            }
        } else {
            for (DWORD i = 0; i < count; ++i) {
                if (waited[i].Ready()) {
                    waited[i].Consume();
                    if (waited[i].thread) {
                        lock.unlock();
                        win32::JoinFinished(*waited[i].thread);
                    }
                    return WAIT_OBJECT_0 + i;
                }
            }
        }
        if (milliseconds == 0) return WAIT_TIMEOUT;
        ++g_blockedWaiters;
        if (milliseconds == INFINITE) {
            win32::WaitChanged().wait(lock);
        } else if (win32::WaitChanged().wait_until(lock, deadline) == std::cv_status::timeout) {
            milliseconds = 0; // one last look before reporting the time-out
        }
        --g_blockedWaiters;
    }
}

} // namespace

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return Wait(1, &handle, false, milliseconds, false);
}

DWORD WaitForSingleObjectEx(HANDLE handle, DWORD milliseconds, BOOL alertable) {
    return Wait(1, &handle, false, milliseconds, alertable != FALSE);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    if (count == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    return Wait(count, handles, waitAll != FALSE, milliseconds, false);
}

DWORD WaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds,
                               BOOL alertable) {
    if (count == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    return Wait(count, handles, waitAll != FALSE, milliseconds, alertable != FALSE);
}

DWORD SleepEx(DWORD milliseconds, BOOL alertable) {
    if (!alertable) {
        Sleep(milliseconds);
        return 0;
    }
    return Wait(0, nullptr, false, milliseconds, true) == WAIT_IO_COMPLETION ? WAIT_IO_COMPLETION : 0;
}

namespace win32test {

size_t BlockedWaiterCount() {
    std::lock_guard lock(win32::WaitLock());
    return g_blockedWaiters;
}

} // namespace win32test

LONG InterlockedIncrement(LONG volatile* value) {
    return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}
LONG InterlockedDecrement(LONG volatile* value) {
    return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}
LONG InterlockedExchange(LONG volatile* target, LONG value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
LONG InterlockedExchangeAdd(LONG volatile* target, LONG value) {
    return __atomic_fetch_add(target, value, __ATOMIC_SEQ_CST);
}
LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}
void* InterlockedCompareExchangePointer(void* volatile* target, void* exchange, void* comparand) {
    __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}
