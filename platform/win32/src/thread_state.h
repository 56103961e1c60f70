#pragma once

#include "kernel_object.h"

#include <pthread.h>

#include <deque>
#include <utility>

namespace win32 {

// A thread made by CreateThread, or an adopted thread (one the process started otherwise) seen
// through GetCurrentThread. State below `tid` is guarded by WaitLock().
struct Thread : KernelObject {
    ~Thread() override;

    pthread_t pthread{};
    bool joinable = false; // made by CreateThread: joined, or detached when the last handle goes
    pid_t tid = 0;
    int priority = THREAD_PRIORITY_NORMAL;

    bool released = false;  // a suspended thread may run its routine
    bool cancelled = false; // ended before it ran its routine
    bool finished = false;
    DWORD exitCode = STILL_ACTIVE;
    std::deque<std::pair<PAPCFUNC, ULONG_PTR>> apcs;

    LPTHREAD_START_ROUTINE routine = nullptr;
    void* argument = nullptr;
};

std::shared_ptr<Thread> CurrentThreadObject();

} // namespace win32
