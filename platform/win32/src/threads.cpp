#include "thread_state.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

namespace win32 {
namespace {

thread_local std::shared_ptr<Thread> t_self;

pid_t CurrentTid() {
    return static_cast<pid_t>(syscall(SYS_gettid));
}

// Sanitizers grow every stack frame several times over; a stack sized for the plain build would
// overflow under them, so the requested size is scaled there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kStackScale = 8;
#else
constexpr size_t kStackScale = 1;
#endif

void* ThreadMain(void* raw) {
    std::shared_ptr<Thread> self = std::move(*static_cast<std::shared_ptr<Thread>*>(raw));
    delete static_cast<std::shared_ptr<Thread>*>(raw);
    t_self = self;
    bool run;
    {
        std::unique_lock lock(WaitLock());
        self->tid = CurrentTid();
        WaitChanged().notify_all();
        WaitChanged().wait(lock, [&] { return self->released || self->cancelled; });
        run = !self->cancelled;
    }
    DWORD code = run ? self->routine(self->argument) : self->exitCode;
    {
        std::lock_guard lock(WaitLock());
        self->exitCode = code;
        self->finished = true;
        self->apcs.clear();
        WaitChanged().notify_all();
    }
    t_self.reset();
    return nullptr;
}

int NiceFor(int priority) {
    switch (priority) {
    case THREAD_PRIORITY_LOWEST:
        return 10;
    case THREAD_PRIORITY_BELOW_NORMAL:
        return 5;
    case THREAD_PRIORITY_NORMAL:
        return 0;
    case THREAD_PRIORITY_ABOVE_NORMAL:
        return -5;
    case THREAD_PRIORITY_HIGHEST:
        return -10;
    case THREAD_PRIORITY_TIME_CRITICAL:
        return -20;
    default:
        return INT_MIN;
    }
}

} // namespace

std::atomic<size_t> g_joining{0};

Thread::~Thread() {
    if (!joinable) return;
    // The last reference can be dropped by the thread itself when its handle was closed first.
    if (pthread_equal(pthread, pthread_self()))
        pthread_detach(pthread);
    else
        pthread_join(pthread, nullptr);
}

void JoinFinished(Thread& thread) {
    std::lock_guard lock(thread.joinLock);
    if (!thread.joinable || pthread_equal(thread.pthread, pthread_self())) return;
    g_joining.fetch_add(1);
    pthread_join(thread.pthread, nullptr);
    g_joining.fetch_sub(1);
    thread.joinable = false;
}

std::shared_ptr<Thread> CurrentThreadObject() {
    if (!t_self) {
        t_self = std::make_shared<Thread>();
        t_self->pthread = pthread_self();
        t_self->tid = CurrentTid();
        t_self->released = true;
    }
    return t_self;
}

} // namespace win32

using win32::Thread;

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE routine, LPVOID parameter,
                    DWORD creationFlags, LPDWORD threadId) {
    if (!routine) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto thread = std::make_shared<Thread>();
    thread->routine = routine;
    thread->argument = parameter;
    thread->released = (creationFlags & CREATE_SUSPENDED) == 0;

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    if (stackSize != 0) {
        size_t size = std::max<size_t>(stackSize * win32::kStackScale, PTHREAD_STACK_MIN);
        size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        pthread_attr_setstacksize(&attributes, (size + page - 1) / page * page);
    }
    auto* handoff = new std::shared_ptr<Thread>(thread);
    int error = pthread_create(&thread->pthread, &attributes, win32::ThreadMain, handoff);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        delete handoff;
        SetLastError(error == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    thread->joinable = true;
    {
        // The thread's id must be known before anyone can set its priority or ask for it.
        std::unique_lock lock(win32::WaitLock());
        win32::WaitChanged().wait(lock, [&] { return thread->tid != 0; });
    }
    if (threadId) *threadId = static_cast<DWORD>(thread->tid);
    return win32::RegisterObject(thread);
}

DWORD ResumeThread(HANDLE handle) {
    auto thread = win32::Lookup<Thread>(handle);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    std::lock_guard lock(win32::WaitLock());
    DWORD previous = thread->released ? 0 : 1;
    thread->released = true;
    win32::WaitChanged().notify_all();
    return previous;
}

BOOL TerminateThread(HANDLE handle, DWORD exitCode) {
    auto thread = win32::Lookup<Thread>(handle);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(win32::WaitLock());
    if (thread->finished) return TRUE;
    // Only a thread that has not yet run its routine can be ended safely here.
    if (thread->released) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    thread->cancelled = true;
    thread->exitCode = exitCode;
    win32::WaitChanged().notify_all();
    return TRUE;
}

BOOL GetExitCodeThread(HANDLE handle, LPDWORD exitCode) {
    auto thread = win32::Lookup<Thread>(handle);
    if (!thread || !exitCode) {
        SetLastError(thread ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(win32::WaitLock());
    *exitCode = thread->finished ? thread->exitCode : STILL_ACTIVE;
    return TRUE;
}

BOOL SetThreadPriority(HANDLE handle, int priority) {
    auto thread = win32::Lookup<Thread>(handle);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    int nice = win32::NiceFor(priority);
    if (nice == INT_MIN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Best effort: an unprivileged process may not raise a priority, and a game must still run.
    setpriority(PRIO_PROCESS, static_cast<id_t>(thread->tid), nice);
    std::lock_guard lock(win32::WaitLock());
    thread->priority = priority;
    return TRUE;
}

int GetThreadPriority(HANDLE handle) {
    auto thread = win32::Lookup<Thread>(handle);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return THREAD_PRIORITY_ERROR_RETURN;
    }
    std::lock_guard lock(win32::WaitLock());
    return thread->priority;
}

DWORD_PTR SetThreadAffinityMask(HANDLE handle, DWORD_PTR mask) {
    auto thread = win32::Lookup<Thread>(handle);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) CPU_ZERO(&allowed);
    cpu_set_t wanted;
    CPU_ZERO(&wanted);
    DWORD_PTR previous = 0;
    for (unsigned cpu = 0; cpu < sizeof(DWORD_PTR) * 8; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed)) continue;
        previous |= DWORD_PTR{1} << cpu;
        if (mask & (DWORD_PTR{1} << cpu)) CPU_SET(cpu, &wanted);
    }
    if (CPU_COUNT(&wanted) == 0 || pthread_setaffinity_np(thread->pthread, sizeof wanted, &wanted) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return previous;
}

HRESULT SetThreadDescription(HANDLE handle, LPCWSTR description) {
    auto thread = win32::Lookup<Thread>(handle);
    if (!thread) return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    if (!description) return E_INVALIDARG;
    char name[64] = {};
    int length = WideCharToMultiByte(CP_UTF8, 0, description, -1, name, sizeof name, nullptr, nullptr);
    name[sizeof name - 1] = '\0';
    (void)length;
    // The kernel keeps 15 bytes; cut on a character boundary so the name stays valid UTF-8.
    size_t cut = std::min<size_t>(strlen(name), 15);
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut;
    name[cut] = '\0';
    return pthread_setname_np(thread->pthread, name) == 0 ? S_OK : E_FAIL;
}

HANDLE GetCurrentThread() {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));
}

DWORD GetCurrentThreadId() {
    return static_cast<DWORD>(win32::CurrentTid());
}

DWORD QueueUserAPC(PAPCFUNC routine, HANDLE handle, ULONG_PTR data) {
    auto thread = win32::Lookup<Thread>(handle);
    if (!thread || !routine) {
        SetLastError(thread ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return 0;
    }
    std::lock_guard lock(win32::WaitLock());
    if (thread->finished) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    thread->apcs.emplace_back(routine, data);
    win32::WaitChanged().notify_all();
    return 1;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    timespec delay{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
}

namespace win32test {

size_t JoiningWaiterCount() {
    return win32::g_joining.load();
}

} // namespace win32test
