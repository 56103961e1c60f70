#include "core/AuThreads.h"

#include <win32_testing.h>

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Seen {
    std::atomic<int> runs{0};
    char name[32] = {};
};

DWORD Observe(void* argument) {
    auto* seen = static_cast<Seen*>(argument);
    pthread_getname_np(pthread_self(), seen->name, sizeof seen->name);
    seen->runs.fetch_add(1);
    return 7;
}

DWORD_PTR UsableMask() {
    cpu_set_t set;
    CPU_ZERO(&set);
    EXPECT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
    DWORD_PTR mask = 0;
    for (unsigned cpu = 0; cpu < sizeof(DWORD_PTR) * 8; ++cpu)
        if (CPU_ISSET(cpu, &set)) mask |= DWORD_PTR{1} << cpu;
    return mask;
}

TEST(CreateNamedThread, RunsTheRoutineWithItsNameAlreadySet) {
    Seen seen;
    HANDLE thread = nullptr;
    CreateNamedThread(Observe, &seen, AuThreadProperties{THREAD_PRIORITY_ABOVE_NORMAL, 0, 32768}, &thread,
                      "AU::EventManager");
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_ABOVE_NORMAL);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_EQ(seen.runs.load(), 1);
    EXPECT_EQ(std::string(seen.name), "AU::EventManage"); // the system keeps 15 bytes
    CloseHandle(thread);
}

TEST(CreateNamedThread, AnAffinityTheSystemTakesKeepsTheThread) {
    Seen seen;
    HANDLE thread = nullptr;
    const DWORD_PTR usable = UsableMask();
    const DWORD_PTR lowest = usable & (~usable + 1);
    CreateNamedThread(Observe, &seen, AuThreadProperties{0, static_cast<u32>(lowest), 32768}, &thread,
                      "AU::IOThread");
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    EXPECT_EQ(seen.runs.load(), 1);
    EXPECT_EQ(std::string(seen.name), "AU::IOThread");
    CloseHandle(thread);
}

// A thread refused its priority or affinity must never run its routine: its creator frees the
// argument at once. Nothing stays open either.
TEST(CreateNamedThread, ARefusedPropertyEndsTheThreadBeforeItsRoutineRuns) {
    const DWORD_PTR usable = UsableMask();
    DWORD_PTR unusable = 0;
    for (unsigned cpu = 0; cpu < 32 && !unusable; ++cpu)
        if (!(usable & (DWORD_PTR{1} << cpu))) unusable = DWORD_PTR{1} << cpu;
    struct Case {
        const char* what;
        AuThreadProperties properties;
    };
    std::vector<Case> cases = {{"priority the system has no level for", {7, 0, 32768}}};
    if (unusable)
        cases.push_back({"affinity naming no usable processor", {0, static_cast<u32>(unusable), 32768}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t handlesBefore = win32test::OpenHandleCount();
        auto* seen = new Seen;
        HANDLE thread = reinterpret_cast<HANDLE>(1);
        CreateNamedThread(Observe, seen, c.properties, &thread, "AU::BankManager");
        EXPECT_EQ(thread, nullptr);
        EXPECT_EQ(win32test::OpenHandleCount(), handlesBefore);
        EXPECT_EQ(seen->runs.load(), 0);
        delete seen; // ASan reports a use after free if the routine still ran
    }
}

TEST(CreateNamedThread, MainLockIsRecursiveAndExcludesOtherThreads) {
    CAuMainLock outer;
    {
        CAuMainLock inner; // the audio thread's own posts take it again during a pass
    }
    std::atomic<bool> got{true};
    std::thread other([&] { got = TryEnterCriticalSection(&g_csMain) != FALSE; });
    other.join();
    EXPECT_FALSE(got.load());
}

} // namespace
