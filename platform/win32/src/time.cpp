#include <win32_testing.h>
#include <windows.h>

#include <atomic>
#include <ctime>

namespace {

// Written by tests, read by any thread; relaxed is enough: each value stands on its own.
std::atomic<bool> g_virtual{false};
std::atomic<int64_t> g_virtualNanoseconds{0};

int64_t NowNanoseconds() {
    if (g_virtual.load(std::memory_order_relaxed))
        return g_virtualNanoseconds.load(std::memory_order_relaxed);
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

} // namespace

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
    if (!count) return FALSE;
    count->QuadPart = NowNanoseconds();
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    if (!frequency) return FALSE;
    frequency->QuadPart = 1000000000;
    return TRUE;
}

DWORD GetTickCount() {
    return static_cast<DWORD>(GetTickCount64());
}

ULONGLONG GetTickCount64() {
    return static_cast<ULONGLONG>(NowNanoseconds() / 1000000);
}

__int64 _time64(__int64* timer) {
    __int64 now = static_cast<__int64>(time(nullptr));
    if (timer) *timer = now;
    return now;
}

namespace win32test {

void UseVirtualClock(int64_t startNanoseconds) {
    g_virtualNanoseconds.store(startNanoseconds);
    g_virtual.store(true);
}

void AdvanceVirtualClock(int64_t nanoseconds) {
    g_virtualNanoseconds.fetch_add(nanoseconds);
}

void UseRealClock() {
    g_virtual.store(false);
}

} // namespace win32test
