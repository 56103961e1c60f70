#pragma once

#include "kernel_object.h"

#include <pthread.h>

#include <deque>
#include <mutex>
#include <utility>

namespace win32 {

// A thread made by CreateThread, or an adopted thread (one the process started otherwise) seen
// through GetCurrentThread. State below `tid` is guarded by WaitLock().
struct Thread : KernelObject {
    ~Thread() override;

    pthread_t pthread{};
    // Made by CreateThread and not joined yet: joined by the first wait that sees it finished, or
    // at the last reference (detached when that is the thread itself). Guarded by `joinLock`.
    bool joinable = false;
    std::mutex joinLock;
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

// A wait on a thread returns once the thread has ended, as on the platform: its routine has
// returned and its thread-locals are destroyed. So a finished thread is joined before the wait
// reports it. Called without WaitLock(), which the ending thread may still need.
void JoinFinished(Thread& thread);

} // namespace win32
