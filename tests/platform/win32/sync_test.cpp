#include <gtest/gtest.h>
#include <win32_testing.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

struct EventGuard {
    HANDLE h;
    explicit EventGuard(BOOL manual, BOOL initial = FALSE)
        : h(CreateEventW(nullptr, manual, initial, nullptr)) {}
    ~EventGuard() { CloseHandle(h); }
};

TEST(Events, AutoResetWakesOneWaiterPerSetAndKeepsAnUnconsumedSet) {
    EventGuard e(FALSE);
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_TIMEOUT);
    SetEvent(e.h);
    SetEvent(e.h); // two sets before a wait give one wake
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_TIMEOUT);
}

TEST(Events, InjectedFailuresRefuseThatManyCreationsThenStop) {
    win32test::FailNextEventCreations(2);
    EXPECT_EQ(CreateEventW(nullptr, FALSE, FALSE, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, nullptr), nullptr);
    HANDLE made = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_NE(made, nullptr);
    CloseHandle(made);
    win32test::FailNextEventCreations(1);
    win32test::FailNextEventCreations(0);
    made = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_NE(made, nullptr);
    CloseHandle(made);
}

TEST(Events, ManualResetStaysSetUntilReset) {
    EventGuard e(TRUE, TRUE);
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_OBJECT_0);
    ResetEvent(e.h);
    EXPECT_EQ(WaitForSingleObject(e.h, 10), WAIT_TIMEOUT);
}

TEST(Events, ManualSetThenImmediateResetReleasesEveryoneWaitingAtTheTime) {
    EventGuard e(TRUE);
    constexpr int kWaiters = 4;
    std::atomic<int> released{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kWaiters; ++i)
        threads.emplace_back([&] {
            if (WaitForSingleObject(e.h, 10000) == WAIT_OBJECT_0) ++released;
        });
    while (win32test::BlockedWaiterCount() < kWaiters)
        std::this_thread::yield();
    SetEvent(e.h);
    ResetEvent(e.h);
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(released, kWaiters);
}

// Spins until the condition holds; false after ten seconds, so a fault fails the test instead of
// hanging it.
template <class Condition> bool SpinUntil(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

TEST(Events, AutoResetWithManyWaitersReleasesOnePerSet) {
    EventGuard e(FALSE);
    std::atomic<int> released{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i)
        threads.emplace_back([&] {
            if (WaitForSingleObject(e.h, 10000) == WAIT_OBJECT_0) ++released;
        });
    // Each set is judged once every waiter is either released or blocked again.
    auto settled = [&](int expectedReleased) {
        return SpinUntil([&] {
                   return static_cast<size_t>(released.load()) + win32test::BlockedWaiterCount() == 3;
               }) &&
               released == expectedReleased;
    };
    ASSERT_TRUE(SpinUntil([] { return win32test::BlockedWaiterCount() == 3; }));
    for (int set = 1; set <= 3; ++set) {
        SetEvent(e.h);
        EXPECT_TRUE(SpinUntil([&] { return released >= set; })) << "set " << set << " released nobody";
        EXPECT_TRUE(settled(set)) << "set " << set << " released " << released << " waiters";
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(released, 3);
}

TEST(Waits, MultipleWaitReturnsLowestSignalledIndex) {
    EventGuard a(TRUE), b(TRUE), c(FALSE);
    HANDLE handles[] = {a.h, b.h, c.h};
    SetEvent(c.h);
    SetEvent(b.h);
    EXPECT_EQ(WaitForMultipleObjectsEx(3, handles, FALSE, 0, FALSE), WAIT_OBJECT_0 + 1);
    SetEvent(a.h); // termination at index 0 wins over the others
    EXPECT_EQ(WaitForMultipleObjectsEx(3, handles, FALSE, INFINITE, FALSE), WAIT_OBJECT_0);
    // Waiting for all consumes the auto-reset member.
    EXPECT_EQ(WaitForMultipleObjects(3, handles, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(c.h, 0), WAIT_TIMEOUT);
}

TEST(Waits, AlertableWaitRunsQueuedApcsOnTheWaitingThread) {
    EventGuard never(TRUE);
    static std::atomic<DWORD> ranOn{0};
    std::atomic<DWORD> waiterId{0};
    std::atomic<DWORD> result{0};
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    struct Args {
        HANDLE never, ready;
        std::atomic<DWORD>* waiterId;
        std::atomic<DWORD>* result;
    } args{never.h, ready, &waiterId, &result};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
            auto* a = static_cast<Args*>(p);
            *a->waiterId = GetCurrentThreadId();
            SetEvent(a->ready);
            *a->result = WaitForMultipleObjectsEx(1, &a->never, FALSE, INFINITE, TRUE);
            return 0;
        },
        &args, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(ready, INFINITE);
    ASSERT_EQ(QueueUserAPC([](ULONG_PTR) { ranOn = GetCurrentThreadId(); }, thread, 0), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(result, WAIT_IO_COMPLETION);
    EXPECT_EQ(ranOn, waiterId);
    CloseHandle(thread);
    CloseHandle(ready);

    // A non-alertable sleep leaves a queued APC alone; an alertable one runs it.
    HANDLE self = GetCurrentThread();
    ASSERT_EQ(QueueUserAPC([](ULONG_PTR) { ranOn = 7; }, self, 0), 1u);
    EXPECT_EQ(SleepEx(0, FALSE), 0u);
    EXPECT_NE(ranOn, 7u);
    EXPECT_EQ(SleepEx(1000, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(ranOn, 7u);
}

TEST(Waits, TimeOutAndBadHandles) {
    EventGuard e(FALSE);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(e.h, 30), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));

    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    HANDLE closed = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    ASSERT_TRUE(CloseHandle(closed));
    EXPECT_FALSE(CloseHandle(closed));
    EXPECT_EQ(WaitForSingleObject(closed, 0), WAIT_FAILED);
    EXPECT_FALSE(SetEvent(closed));
    EXPECT_FALSE(ResetEvent(reinterpret_cast<HANDLE>(0x1234)));
    HANDLE mixed[] = {e.h, closed};
    EXPECT_EQ(WaitForMultipleObjectsEx(2, mixed, FALSE, 0, FALSE), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjectsEx(0, mixed, FALSE, 0, FALSE), WAIT_FAILED);
    EXPECT_EQ(CreateEventW(nullptr, FALSE, FALSE, L"named"), nullptr);
}

TEST(CriticalSections, AreRecursiveAndExclusive) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 2000; ++i) {
            EnterCriticalSection(&cs);
            EnterCriticalSection(&cs); // re-entry by the owner must not deadlock
            ++counter;
            LeaveCriticalSection(&cs);
            LeaveCriticalSection(&cs);
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 4000);
    DeleteCriticalSection(&cs);
}

TEST(Interlocked, ReturnsTheDocumentedValues) {
    volatile LONG v = 5;
    EXPECT_EQ(InterlockedIncrement(&v), 6);
    EXPECT_EQ(InterlockedDecrement(&v), 5);
    EXPECT_EQ(InterlockedExchangeAdd(&v, 3), 5);
    EXPECT_EQ(InterlockedCompareExchange(&v, 1, 7), 8); // no swap: returns the current value
    EXPECT_EQ(InterlockedCompareExchange(&v, 1, 8), 8);
    EXPECT_EQ(v, 1);
    void* volatile p = nullptr;
    int x;
    EXPECT_EQ(InterlockedCompareExchangePointer(&p, &x, nullptr), nullptr);
    EXPECT_EQ(p, &x);
}

TEST(Clock, VirtualClockDrivesCounterAndTicks) {
    LARGE_INTEGER frequency, a, b;
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency.QuadPart, 1000000000);
    win32test::UseVirtualClock(5'000'000'000);
    QueryPerformanceCounter(&a);
    EXPECT_EQ(GetTickCount(), 5000u);
    win32test::AdvanceVirtualClock(1'500'000);
    QueryPerformanceCounter(&b);
    EXPECT_EQ(b.QuadPart - a.QuadPart, 1'500'000);
    EXPECT_EQ(GetTickCount64(), 5001u);
    win32test::UseRealClock();
    QueryPerformanceCounter(&a);
    Sleep(2);
    QueryPerformanceCounter(&b);
    EXPECT_GE(b.QuadPart - a.QuadPart, 2'000'000);
}

TEST(Com, InitialisationIsRememberedPerThread) {
    std::thread([] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        CoUninitialize();
    }).join();
}

} // namespace
