// The bank thread: its queue, the callbacks' cookies, termination with requests still queued; and
// the threaded manager inside the running engine with the game's banks.
#include "BankEngineSupport.h"
#include "BankMgrSupport.h"

#include <AU/IAuStreamMgr.h>
#include <AU/StreamMgr.h>

#include <win32_testing.h>

#include <thread>

namespace banktest {
namespace {

template <class Condition> void SpinUntil(Condition condition) {
    while (!condition())
        std::this_thread::yield();
}

class BankThreadTest : public BankMgrTest {
protected:
    void SetUp() override {
        BankMgrTest::SetUp();
        Start(true);
    }
    AURESULT LoadCopied(const Bytes& bytes, AuBankCallbackFunc callback, void* cookie) {
        AuBankID id = 0;
        return AU::SoundEngine::LoadBank(bytes.data(), static_cast<u32>(bytes.size()), callback, cookie,
                                         g_DefaultPoolId, id);
    }
};

TEST_F(BankThreadTest, CancellingACookieSuppressesTheCallbacksOfItsQueuedRequestsWhileTheyStillRun) {
    const Bytes first = MediaBank(1, {{0x71, 32}}), second = MediaBank(2, {{0x72, 32}});
    Completions cancelled;
    {
        // The bank thread cannot finish a request while the list is held here.
        EnterCriticalSection(&g_csBankList);
        EXPECT_EQ(LoadCopied(first, &Completions::Record, &cancelled), AuResultSuccess);
        EXPECT_EQ(LoadCopied(second, &Completions::Record, &cancelled), AuResultSuccess);
        AU::SoundEngine::CancelBankCallbackCookie(&cancelled);
        LeaveCriticalSection(&g_csBankList);
    }
    Flush();
    EXPECT_TRUE(cancelled.Calls().empty());
    EXPECT_EQ(m_mgr->BankCount(), 2u);
    EXPECT_EQ(Threaded().Callbacks().CookieCount(), 0u);
    // A request queued after the cancel calls back again.
    EXPECT_EQ(AU::SoundEngine::UnloadBank(1u, nullptr, &Completions::Record, &cancelled), AuResultSuccess);
    EXPECT_EQ(AU::SoundEngine::UnloadBank(2u, nullptr), AuResultSuccess);
    ASSERT_EQ(cancelled.Calls().size(), 1u);
    EXPECT_EQ(cancelled.Calls()[0].id, 1u);
}

TEST_F(BankThreadTest, CancellingACookieThatNeverCalledBackReturnsAtOnce) {
    int cookie = 0;
    AU::SoundEngine::CancelBankCallbackCookie(&cookie);
    AU::SoundEngine::CancelBankCallbackCookie(nullptr);
    EXPECT_EQ(Threaded().Callbacks().CookieCount(), 0u);
}

struct Chain {
    Completions completions;
    int calls = 0;
    static void Callback(u32 id, const void* memory, AURESULT result, AuMemPoolId pool, void* cookie) {
        auto* self = static_cast<Chain*>(cookie);
        // On the bank thread: queueing with the same cookie must neither block nor lose the callback.
        if (self->calls++ == 0) {
            EXPECT_EQ(AU::SoundEngine::UnloadBank(id, nullptr, &Chain::Callback, self), AuResultSuccess);
        }
        Completions::Record(id, memory, result, pool, &self->completions);
    }
};

TEST_F(BankThreadTest, ACallbackThatQueuesWithItsCookieGetsThatRequestsCallback) {
    const Bytes bytes = MediaBank(5, {{0x75, 32}});
    Chain chain;
    chain.completions.signal = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_EQ(LoadCopied(bytes, &Chain::Callback, &chain), AuResultSuccess);
    // The event may be set twice before the first wait: count the calls instead.
    while (chain.completions.Calls().size() < 2)
        WaitForSingleObject(chain.completions.signal, INFINITE);
    const auto calls = chain.completions.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].result, AuResultSuccess); // the load
    EXPECT_EQ(calls[1].result, AuResultSuccess); // the unload it queued
    EXPECT_EQ(m_mgr->BankCount(), 0u);
    CloseHandle(chain.completions.signal);
}

struct Blocker {
    HANDLE entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Blocker() {
        CloseHandle(entered);
        CloseHandle(release);
    }
    static void Callback(u32, const void*, AURESULT, AuMemPoolId, void* cookie) {
        auto* self = static_cast<Blocker*>(cookie);
        SetEvent(self->entered);
        WaitForSingleObject(self->release, INFINITE);
    }
};

TEST_F(BankThreadTest, ElevenQueuedRequestsUseTheTenBlockItemsAndOneAllocatedThatIsFreed) {
    Blocker blocker;
    AuBankRequest request{};
    request.kind = AuBankRequest_ReleaseMedia;
    request.callback = &Blocker::Callback;
    request.cookie = &blocker;
    ASSERT_EQ(m_mgr->QueueBankRequest(request), AuResultSuccess);
    WaitForSingleObject(blocker.entered, INFINITE);
    const u32 used = Used();
    request.callback = nullptr;
    for (int i = 0; i < 11; ++i)
        ASSERT_EQ(m_mgr->QueueBankRequest(request), AuResultSuccess);
    EXPECT_EQ(Threaded().QueuedCount(), 11u);
    EXPECT_EQ(Threaded().ExtraItems(), 1u);
    EXPECT_GT(Used(), used);
    SetEvent(blocker.release);
    Flush();
    EXPECT_EQ(Threaded().QueuedCount(), 0u);
    EXPECT_EQ(Threaded().ExtraItems(), 0u);
    EXPECT_EQ(Used(), used);
}

TEST_F(BankThreadTest, TermReleasesASynchronousCallerWhoseRequestNeverRan) {
    m_mgr->StopThread();
    AURESULT result = AuResultNotImplemented;
    std::thread caller([&] { result = AU::SoundEngine::LoadBank(1u, g_DefaultPoolId); });
    SpinUntil([&] { return Threaded().QueuedCount() == 1 && win32test::BlockedWaiterCount() == 1; });
    Completions silent;
    EXPECT_EQ(AU::SoundEngine::LoadBank(2u, &Completions::Record, &silent, g_DefaultPoolId), AuResultSuccess);
    m_mgr->Term();
    caller.join();
    EXPECT_EQ(result, AuResultFail);
    EXPECT_TRUE(silent.Calls().empty()) << "other callbacks of discarded requests stay silent";
}

TEST(BankThreadQueueTest, ASynchronousLoadWhoseQueueingFailsReturnsAtOnce) {
    const AuMemoryMgrSettings settings{8};
    ASSERT_EQ(AU::MemoryMgr::Init(&settings), AuResultSuccess);
    g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 1u << 20, 64, AuPoolAttrMalloc, 0);
    const size_t handles = win32test::OpenHandleCount();
    {
        // Never started: it has no queue items.
        CAuThreadedBankMgr mgr(AuThreadProperties{0, 0, 32768});
        g_pBankMgr = &mgr;
        EXPECT_EQ(AU::SoundEngine::LoadBank(1u, g_DefaultPoolId), AuResultFail);
        Completions completions;
        EXPECT_EQ(AU::SoundEngine::LoadBank(1u, &Completions::Record, &completions, g_DefaultPoolId),
                  AuResultFail);
        EXPECT_EQ(mgr.Callbacks().CookieCount(), 0u);
        g_pBankMgr = nullptr;
    }
    EXPECT_EQ(win32test::OpenHandleCount(), handles) << "the wait's event is closed";
    AU::MemoryMgr::Term();
    g_DefaultPoolId = AU_INVALID_POOL_ID;
}

TEST_F(BankEngineTest, TheGameBanksLoadByNameOnTheBankThreadAndUnload) {
    AuBankID init = 0, torvik = 0, again = 0;
    EXPECT_EQ(AU::SoundEngine::LoadBank("Init.bnk", AU_INVALID_POOL_ID, init), AuResultSuccess);
    EXPECT_EQ(init, 0x50C63A23u);
    EXPECT_EQ(AU::SoundEngine::LoadBank(L"Torvik.bnk", g_DefaultPoolId, torvik), AuResultSuccess);
    EXPECT_EQ(torvik, 0x47FD79D2u);
    EXPECT_EQ(AU::SoundEngine::LoadBank("Torvik", g_DefaultPoolId, again), AuResultBankAlreadyLoaded);
    EXPECT_EQ(again, torvik);
    EXPECT_EQ(g_pBankMgr->BankCount(), 2u);
    EXPECT_EQ(AU::SoundEngine::UnloadBank(0x12345u, nullptr), AuResultBankNotLoaded);
    Completions completions;
    EXPECT_EQ(AU::SoundEngine::UnloadBank("Torvik.bnk", nullptr, &Completions::Record, &completions), 1);
    EXPECT_EQ(AU::SoundEngine::UnloadBank(init, nullptr), AuResultSuccess);
    EXPECT_EQ(g_pBankMgr->BankCount(), 0u);
    ASSERT_EQ(completions.Calls().size(), 1u);
    EXPECT_EQ(completions.Calls()[0].id, torvik);
}

TEST_F(BankEngineTest, AnUnloadQueuedJustBeforeTermCompletesWithItsCallbackAndLeavesNoPool) {
    AuBankID init = 0;
    ASSERT_EQ(AU::SoundEngine::LoadBank("Init.bnk", AU_INVALID_POOL_ID, init), AuResultSuccess);
    Completions completions;
    ASSERT_EQ(AU::SoundEngine::UnloadBank(init, nullptr, &Completions::Record, &completions),
              AuResultSuccess);
    AU::SoundEngine::Term();
    ASSERT_EQ(completions.Calls().size(), 1u);
    EXPECT_EQ(completions.Calls()[0].result, AuResultSuccess);
    EXPECT_EQ(AU::MemoryMgr::GetNumPools(), m_pools);
}

TEST_F(BankEngineTest, ClearBanksEmptiesTheListAndTermLeavesNothing) {
    AuBankID id = 0;
    ASSERT_EQ(AU::SoundEngine::LoadBank("Init.bnk", AU_INVALID_POOL_ID, id), AuResultSuccess);
    ASSERT_EQ(AU::SoundEngine::LoadBank("Torvik.bnk", AU_INVALID_POOL_ID, id), AuResultSuccess);
    EXPECT_EQ(AU::SoundEngine::ClearBanks(), AuResultSuccess);
    EXPECT_EQ(g_pBankMgr->BankCount(), 0u);
    ASSERT_EQ(AU::SoundEngine::LoadBank("Init.bnk", AU_INVALID_POOL_ID, id), AuResultSuccess);
    AU::SoundEngine::Term();
    EXPECT_EQ(AU::MemoryMgr::GetNumPools(), m_pools);
    EXPECT_EQ(AU::SoundEngine::ClearBanks(), AuResultFail);
}

} // namespace
} // namespace banktest
