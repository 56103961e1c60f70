#include <gtest/gtest.h>
#include <win32_testing.h>
#include <windows.h>

#include <sched.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

namespace {

std::string ThreadComm(DWORD tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

struct NamedRun {
    HANDLE go;
    std::string seen;
};

TEST(Threads, SuspendedThreadTakesPropertiesAndNameBeforeItRuns) {
    NamedRun run{CreateEventW(nullptr, FALSE, FALSE, nullptr), {}};
    DWORD id = 0;
    HANDLE thread = CreateThread(
        nullptr, 32768,
        [](LPVOID p) -> DWORD {
            auto* r = static_cast<NamedRun*>(p);
            WaitForSingleObject(r->go, INFINITE);
            r->seen = ThreadComm(GetCurrentThreadId());
            return 17;
        },
        &run, CREATE_SUSPENDED, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL)); // best effort, never refused
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_ABOVE_NORMAL);
    EXPECT_FALSE(SetThreadPriority(thread, 99));
    EXPECT_NE(SetThreadAffinityMask(thread, ~DWORD_PTR{0}), 0u);
    EXPECT_EQ(SetThreadDescription(thread, L"AU::EventManager"), S_OK);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(ResumeThread(thread), 1u);
    SetEvent(run.go);
    ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(run.seen, "AU::EventManage"); // the kernel keeps 15 characters
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 17u);
    CloseHandle(thread);
    CloseHandle(run.go);
}

TEST(Threads, AffinityNamingNoCpuFailsAndTheRoutineNeverRuns) {
    static std::atomic<bool> ran{false};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID) -> DWORD {
            ran = true;
            return 0;
        },
        nullptr, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(thread, nullptr);
    cpu_set_t allowed;
    sched_getaffinity(0, sizeof allowed, &allowed);
    DWORD_PTR offline = 0;
    for (unsigned cpu = 0; cpu < 64; ++cpu)
        if (!CPU_ISSET(cpu, &allowed)) {
            offline = DWORD_PTR{1} << cpu;
            break;
        }
    ASSERT_NE(offline, 0u);
    EXPECT_EQ(SetThreadAffinityMask(thread, offline), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    ASSERT_TRUE(TerminateThread(thread, 5));
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 5u);
    EXPECT_FALSE(ran);
    CloseHandle(thread);
}

TEST(Threads, ClosingTheHandleFirstDetachesAndTheThreadStillFinishes) {
    static std::atomic<bool> finished{false};
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    size_t before = win32test::OpenHandleCount();
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
            WaitForSingleObject(static_cast<HANDLE>(p), INFINITE);
            finished = true;
            return 0;
        },
        release, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_EQ(win32test::OpenHandleCount(), before);
    SetEvent(release);
    while (!finished)
        Sleep(1);
    EXPECT_EQ(TerminateThread(thread, 0), FALSE);
    CloseHandle(release);
}

// The thread-local of a thread, destroyed as the thread ends after its routine. Its destructor
// holds the thread until the test's wait either returned (too early: the thread had not ended) or
// is joining it, so the order shows whatever the machine's speed.
struct EndOfThread {
    std::atomic<bool> waitReturned{false};
    std::atomic<bool> destroyed{false};
};
EndOfThread g_endOfThread;

struct ThreadLocalProbe {
    void Touch() {}
    ~ThreadLocalProbe() {
        while (!g_endOfThread.waitReturned && win32test::JoiningWaiterCount() == 0)
            std::this_thread::yield();
        g_endOfThread.destroyed = true;
    }
};
thread_local ThreadLocalProbe t_probe;

TEST(Threads, AWaitOnAThreadReturnsOnceTheThreadHasEndedWithItsThreadLocals) {
    for (const bool waitAll : {false, true}) {
        SCOPED_TRACE(waitAll ? "WaitForMultipleObjects, all" : "WaitForSingleObject");
        EndOfThread& end = g_endOfThread;
        end.waitReturned = false;
        end.destroyed = false;
        HANDLE handles[2] = {CreateThread(
                                 nullptr, 0,
                                 [](LPVOID) -> DWORD {
                                     t_probe.Touch();
                                     return 0;
                                 },
                                 nullptr, 0, nullptr),
                             CreateEventW(nullptr, TRUE, TRUE, nullptr)};
        ASSERT_NE(handles[0], nullptr);
        const DWORD waited = waitAll ? WaitForMultipleObjects(2, handles, TRUE, INFINITE)
                                     : WaitForSingleObject(handles[0], INFINITE);
        const bool destroyed = end.destroyed;
        end.waitReturned = true;
        EXPECT_EQ(waited, WAIT_OBJECT_0);
        EXPECT_TRUE(destroyed) << "the wait returned before the thread had ended";
        CloseHandle(handles[0]);
        CloseHandle(handles[1]);
    }
}

TEST(Threads, BadArgumentsFailLikeThePlatform) {
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(ResumeThread(nullptr), static_cast<DWORD>(-1));
    EXPECT_FALSE(SetThreadPriority(nullptr, 0));
    EXPECT_EQ(SetThreadAffinityMask(nullptr, 1), 0u);
    EXPECT_EQ(QueueUserAPC([](ULONG_PTR) {}, nullptr, 0), 0u);
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_FALSE(SetThreadPriority(event, 0)); // not a thread
    CloseHandle(event);
}

TEST(Threads, CurrentThreadIdIsTheKernelId) {
    DWORD id = GetCurrentThreadId();
    EXPECT_NE(id, 0u);
    EXPECT_FALSE(ThreadComm(id).empty());
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL));
}

} // namespace
