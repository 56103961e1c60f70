// The one routine that makes every thread of the engine, and the engine's outermost lock.
#pragma once

#include <AU/AuThreadProperties.h>

#include <windows.h>

// Held for every audio pass and around everything that must not overlap one. Every other engine
// lock is a leaf beneath it: a thread holding a leaf never takes this one.
extern CRITICAL_SECTION g_csMain;

// The routine runs only once the stack size, name, priority and affinity are all in place. On any
// failure *outHandle is null and the routine never runs, so the caller may free its argument.
void CreateNamedThread(LPTHREAD_START_ROUTINE routine, void* argument, const AuThreadProperties& properties,
                       HANDLE* outHandle, const char* name);

// Names the thread for debuggers (the system keeps the first 15 bytes).
void SetThreadDebugName(HANDLE thread, const char* name);

// Holds g_csMain for one scope.
class CAuMainLock {
public:
    CAuMainLock() { EnterCriticalSection(&g_csMain); }
    ~CAuMainLock() { LeaveCriticalSection(&g_csMain); }
    CAuMainLock(const CAuMainLock&) = delete;
    CAuMainLock& operator=(const CAuMainLock&) = delete;
};
