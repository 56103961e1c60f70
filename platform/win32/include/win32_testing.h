// Test controls of the Windows stand-in. Only tests include this header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace win32test {

// QueryPerformanceCounter, GetTickCount and GetTickCount64 read a virtual clock that only moves
// when a test advances it. The performance frequency stays 1 GHz either way.
void UseVirtualClock(int64_t startNanoseconds = 0);
void AdvanceVirtualClock(int64_t nanoseconds);
void UseRealClock();

// Kernel objects (events, threads, files) whose handles are still open.
size_t OpenHandleCount();

// The next `count` calls of CreateEventW (and CreateEventA) fail with ERROR_NOT_ENOUGH_MEMORY;
// 0 ends the failures.
void FailNextEventCreations(size_t count);

// Threads blocked right now in a wait function, so a test can act once its waiters are asleep.
size_t BlockedWaiterCount();
// Waiters that saw a thread finish and are joining it right now, before their wait returns.
size_t JoiningWaiterCount();

// rand: the scripted values come first, in order, then the classic sequence goes on. Every call
// is counted. Script only while no other thread draws.
void ScriptRand(const int* values, size_t count);
size_t RandCallCount();
// Drops what is left of the script and sets the count to 0.
void ResetRandScript();

} // namespace win32test
