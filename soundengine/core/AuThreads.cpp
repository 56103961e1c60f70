#include "core/AuThreads.h"

#include <cstring>

CRITICAL_SECTION g_csMain;
thread_local u32 CAuMainLock::t_uMainLockDepth = 0;

namespace {

// g_csMain lives for the whole program, like the engine's static data.
struct MainLockLifetime {
    MainLockLifetime() { InitializeCriticalSection(&g_csMain); }
    ~MainLockLifetime() { DeleteCriticalSection(&g_csMain); }
} g_mainLockLifetime;

} // namespace

void SetThreadDebugName(HANDLE thread, const char* name) {
    if (!thread || !name) return;
    wchar_t wide[64] = {};
    const size_t length = strnlen(name, 63);
    MultiByteToWideChar(CP_ACP, 0, name, static_cast<int>(length), wide, 63);
    SetThreadDescription(thread, wide);
}

void CreateNamedThread(LPTHREAD_START_ROUTINE routine, void* argument, const AuThreadProperties& properties,
                       HANDLE* outHandle, const char* name, AuBeforeResumeFn beforeResume,
                       void* beforeResumeContext) {
    *outHandle = nullptr;
    // Suspended, so that a thread refused its priority or affinity never runs with an argument
    // that its creator is about to free.
    DWORD threadId = 0;
    HANDLE thread =
        CreateThread(nullptr, properties.uStackSize, routine, argument, CREATE_SUSPENDED, &threadId);
    if (!thread) return;
    SetThreadDebugName(thread, name);
    const bool ready =
        SetThreadPriority(thread, properties.nPriority) &&
        (properties.dwAffinityMask == 0 || SetThreadAffinityMask(thread, properties.dwAffinityMask) != 0);
    if (!ready) {
        TerminateThread(thread, 0);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        return;
    }
    if (beforeResume) beforeResume(threadId, beforeResumeContext);
    ResumeThread(thread);
    *outHandle = thread;
}
