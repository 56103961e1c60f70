// The one routine that makes every thread of the engine, and the engine's outermost lock.
#pragma once

#include <AU/AuThreadProperties.h>

#include <windows.h>

// Held for every audio pass and around everything that must not overlap one. Every other engine
// lock is a leaf beneath it: a thread holding a leaf never takes this one.
extern CRITICAL_SECTION g_csMain;

// The routine runs only once the stack size, name, priority and affinity are all in place. On any
// failure *outHandle is null and the routine never runs, so the caller may free its argument.
// beforeResume, when given, runs on the creating thread with the new thread's ID while that thread
// is still suspended: an owner registers the ID there, so no one ever sees the thread unregistered.
using AuBeforeResumeFn = void (*)(DWORD threadId, void* context);
void CreateNamedThread(LPTHREAD_START_ROUTINE routine, void* argument, const AuThreadProperties& properties,
                       HANDLE* outHandle, const char* name, AuBeforeResumeFn beforeResume = nullptr,
                       void* beforeResumeContext = nullptr);

// Names the thread for debuggers (the system keeps the first 15 bytes).
void SetThreadDebugName(HANDLE thread, const char* name);

// Holds g_csMain for one scope. The engine takes g_csMain only through this, so that a thread can
// tell whether it holds the lock (a writer that does must never wait for the audio thread).
class CAuMainLock {
public:
    CAuMainLock() {
        EnterCriticalSection(&g_csMain);
        ++t_uMainLockDepth;
    }
    ~CAuMainLock() {
        --t_uMainLockDepth;
        LeaveCriticalSection(&g_csMain);
    }
    CAuMainLock(const CAuMainLock&) = delete;
    CAuMainLock& operator=(const CAuMainLock&) = delete;

    static bool HeldByThisThread() { return t_uMainLockDepth != 0; }

private:
    static thread_local u32 t_uMainLockDepth;
};
