#include "StreamTestSupport.h"

#include "streaming/detail/AuIOMemory.h"
#include "streaming/detail/AuStreamDevice.h"

#include <string>
#include <vector>

namespace {

using namespace streamtest;

TEST(StreamMgrLifecycle, CreateNeedsTheMemoryManager) {
    AuStreamMgrSettings settings;
    AU::StreamMgr::GetDefaultSettings(settings);
    EXPECT_EQ(settings.uMemorySize, 65536u);
    EXPECT_EQ(AU::StreamMgr::Create(settings), nullptr);
    EXPECT_EQ(AU::IAuStreamMgr::m_pStreamMgr, nullptr);
}

TEST(StreamMgrLifecycle, DefaultDeviceSettings) {
    AuDeviceSettings settings;
    AU::StreamMgr::GetDefaultDeviceSettings(settings);
    EXPECT_EQ(settings.pIOMemory, nullptr);
    EXPECT_EQ(settings.uIOMemorySize, 2097152u);
    EXPECT_EQ(settings.uIOMemoryAlignment, 4u);
    EXPECT_EQ(settings.ePoolAttributes, 2u);
    EXPECT_EQ(settings.uGranularity, 16384u);
    EXPECT_EQ(settings.uSchedulerTypeFlags, 1u);
    EXPECT_EQ(settings.iThreadPriority, 1);
    EXPECT_EQ(settings.uThreadAffinityMask, 0u);
    EXPECT_EQ(settings.uThreadStackSize, 32768u);
    EXPECT_EQ(settings.fTargetBufferLength, 380.0f);
    EXPECT_EQ(settings.uMaxConcurrentIO, 8u);
    EXPECT_EQ(settings.fCacheRatio, 1.0f);
    EXPECT_EQ(settings.uMaxCachePinnedBytes, 4294967295u);
}

using StreamMgrTest = StreamingTest;

TEST_F(StreamMgrTest, SecondCreateReturnsTheFirstAndDestroyEndsThePool) {
    const AuMemPoolId pool = AU::StreamMgr::GetPoolID();
    EXPECT_NE(pool, AU_INVALID_POOL_ID);
    EXPECT_EQ(AU::IAuStreamMgr::m_pStreamMgr, m_pStreamMgr);
    AuStreamMgrSettings other{4096};
    EXPECT_EQ(AU::StreamMgr::Create(other), m_pStreamMgr);
    EXPECT_EQ(AU::StreamMgr::GetPoolID(), pool);
    EXPECT_EQ(m_pStreamMgr->GetStreamMgrProfile(), nullptr);

    FakeIO io;
    AU::StreamMgr::SetFileLocationResolver(&io);
    m_pStreamMgr->Destroy();
    EXPECT_EQ(AU::IAuStreamMgr::m_pStreamMgr, nullptr);
    EXPECT_EQ(AU::StreamMgr::GetPoolID(), AU_INVALID_POOL_ID);
    EXPECT_EQ(AU::StreamMgr::GetFileLocationResolver(), nullptr);
    EXPECT_EQ(AU::MemoryMgr::CheckPoolId(pool), AuResultInvalidPool);
}

TEST_F(StreamMgrTest, AutomaticStreamsAreRefusedWithoutOpeningAnything) {
    FakeIO io;
    io.AddFile(7, std::vector<u8>(100, 1));
    AU::StreamMgr::SetFileLocationResolver(&io);
    AuFileOpenFlags flags{AU_FILE_ORIGIN_ENGINE, 1, 0, nullptr, false, false, false, AU_NO_CACHE_ID, 0};
    const AuAutoStmHeuristics heuristics{1.0f, 0, 0, 0, 50};
    AU::IAuAutoStream* stream = reinterpret_cast<AU::IAuAutoStream*>(&flags);
    EXPECT_EQ(m_pStreamMgr->CreateAuto(7, &flags, heuristics, nullptr, stream, true), AuResultFail);
    EXPECT_EQ(stream, nullptr);
    stream = reinterpret_cast<AU::IAuAutoStream*>(&flags);
    EXPECT_EQ(m_pStreamMgr->CreateAuto(L"7.aum", &flags, heuristics, nullptr, stream, true), AuResultFail);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(m_pStreamMgr->CreateAuto(static_cast<const wchar_t*>(nullptr), &flags, heuristics, nullptr,
                                       stream, true),
              AuResultInvalidParameter);
    EXPECT_EQ(io.OpenCount(), 0);
    AU::StreamMgr::SetFileLocationResolver(nullptr);
}

TEST_F(StreamMgrTest, CurrentLanguageTable) {
    ASSERT_EQ(AU::StreamMgr::SetCurrentLanguage(L"English(US)"), AuResultSuccess);
    const std::wstring thirtyOne(31, L'a');
    const std::wstring thirtyTwo(32, L'b');
    const struct {
        const wchar_t* language;
        AURESULT result;
        const wchar_t* after;
    } cases[] = {
        {thirtyOne.c_str(), AuResultSuccess, thirtyOne.c_str()},
        {thirtyTwo.c_str(), AuResultFail, thirtyOne.c_str()},
        {L"French/", AuResultFail, thirtyOne.c_str()},
        {L"French\\", AuResultFail, thirtyOne.c_str()},
        {nullptr, AuResultFail, thirtyOne.c_str()},
        {L"English(US)", AuResultSuccess, L"English(US)"},
        {L"", AuResultSuccess, L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AU::StreamMgr::SetCurrentLanguage(c.language), c.result)
            << (c.language ? c.language : L"(null)");
        EXPECT_STREQ(AU::StreamMgr::GetCurrentLanguage(), c.after);
    }
}

TEST_F(StreamMgrTest, CreateClearsTheLanguage) {
    ASSERT_EQ(AU::StreamMgr::SetCurrentLanguage(L"Deutsch"), AuResultSuccess);
    m_pStreamMgr->Destroy();
    AuStreamMgrSettings settings{65536};
    ASSERT_NE(AU::StreamMgr::Create(settings), nullptr);
    EXPECT_STREQ(AU::StreamMgr::GetCurrentLanguage(), L"");
}

struct ObserverLog {
    std::vector<std::wstring> calls;
};

void RecordA(const wchar_t* language, void* cookie) {
    static_cast<ObserverLog*>(cookie)->calls.push_back(std::wstring(L"a:") + language);
}
void RecordB(const wchar_t* language, void* cookie) {
    static_cast<ObserverLog*>(cookie)->calls.push_back(std::wstring(L"b:") + language);
}

TEST_F(StreamMgrTest, ObserversRunNewestFirstAndLeaveByCookie) {
    ObserverLog first, second;
    ASSERT_EQ(AU::StreamMgr::AddLanguageChangeObserver(RecordA, &first), AuResultSuccess);
    ASSERT_EQ(AU::StreamMgr::AddLanguageChangeObserver(RecordB, &second), AuResultSuccess);
    ASSERT_EQ(AU::StreamMgr::AddLanguageChangeObserver(RecordB, &first), AuResultSuccess);
    ASSERT_EQ(AU::StreamMgr::SetCurrentLanguage(L"Polski"), AuResultSuccess);
    EXPECT_EQ(first.calls, (std::vector<std::wstring>{L"b:Polski", L"a:Polski"}));
    EXPECT_EQ(second.calls, (std::vector<std::wstring>{L"b:Polski"}));

    AU::StreamMgr::RemoveLanguageChangeObserver(&first);
    ASSERT_EQ(AU::StreamMgr::SetCurrentLanguage(L"Svenska"), AuResultSuccess);
    EXPECT_EQ(first.calls.size(), 2u);
    EXPECT_EQ(second.calls.back(), L"b:Svenska");
    // A refused language reaches nobody.
    EXPECT_EQ(AU::StreamMgr::SetCurrentLanguage(L"x/"), AuResultFail);
    EXPECT_EQ(second.calls.size(), 2u);
}

TEST_F(StreamMgrTest, DeviceIdsAreReusedAndDestroyedOnce) {
    FakeIO io;
    const u32 first = AU::StreamMgr::CreateDevice(DeviceSettings(), &io);
    const u32 second = AU::StreamMgr::CreateDevice(DeviceSettings(), &io);
    ASSERT_EQ(first, 0u);
    ASSERT_EQ(second, 1u);
    EXPECT_EQ(AU::StreamMgr::DestroyDevice(first), AuResultSuccess);
    EXPECT_EQ(AU::StreamMgr::DestroyDevice(first), AuResultInvalidParameter);
    EXPECT_EQ(AU::StreamMgr::DestroyDevice(7), AuResultInvalidParameter);
    EXPECT_EQ(AU::StreamMgr::CreateDevice(DeviceSettings(), &io), first);
    EXPECT_EQ(AU::StreamMgr::CreateDevice(DeviceSettings(), &io), 2u);
}

TEST_F(StreamMgrTest, BadDeviceSettingsAreRefusedAndLeaveTheIdFree) {
    FakeIO io;
    AuDeviceSettings zeroGranularity = DeviceSettings();
    zeroGranularity.uGranularity = 0;
    AuDeviceSettings negativeTarget = DeviceSettings(2 * 1024 * 1024);
    negativeTarget.fTargetBufferLength = -1.0f;
    AuDeviceSettings noScheduler = DeviceSettings();
    noScheduler.uSchedulerTypeFlags = 0;
    // More block records than the manager's pool holds.
    AuDeviceSettings tooMuchMemory = DeviceSettings(64 * 1024 * 1024, 1);
    for (const AuDeviceSettings* settings : {&zeroGranularity, &negativeTarget, &noScheduler, &tooMuchMemory})
        EXPECT_EQ(AU::StreamMgr::CreateDevice(*settings, &io), AU_INVALID_DEVICE_ID);
    EXPECT_EQ(AU::StreamMgr::CreateDevice(DeviceSettings(), nullptr), AU_INVALID_DEVICE_ID);
    // A negative target is fine for a device without I/O memory.
    AuDeviceSettings noMemory = DeviceSettings(0);
    noMemory.fTargetBufferLength = -1.0f;
    EXPECT_EQ(AU::StreamMgr::CreateDevice(noMemory, &io), 0u);
}

TEST(StreamMgrWithoutManager, DeviceNeedsTheManagersPool) {
    const AuMemoryMgrSettings memory{4};
    ASSERT_EQ(AU::MemoryMgr::Init(&memory), AuResultSuccess);
    FakeIO io;
    EXPECT_EQ(AU::StreamMgr::CreateDevice(DeviceSettings(), &io), AU_INVALID_DEVICE_ID);
    EXPECT_EQ(AU::StreamMgr::DestroyDevice(0), AuResultInvalidParameter);
    AU::MemoryMgr::Term();
}

// The scheduler's choice between two streams that both require scheduling.
TEST(StreamScheduler, ChoiceTable) {
    const struct {
        AuSchedCandidate best;
        AuSchedCandidate candidate;
        bool candidateWins;
        const char* why;
    } cases[] = {
        {{true, 5.0f, 50, 0}, {true, 3.0f, 50, 0}, true, "nearer deadline"},
        {{true, 3.0f, 50, 0}, {true, 5.0f, 50, 0}, false, "farther deadline"},
        {{true, 3.0f, 50, 0}, {true, 3.0f, 90, 0}, false, "equal positive deadline, priority does not count"},
        {{true, 3.0f, 50, 0}, {true, 0.0f, 10, 0}, true, "starving beats a positive deadline"},
        {{true, 0.0f, 50, 0}, {true, 3.0f, 90, 0}, false, "a positive deadline never beats a starving one"},
        {{true, 0.0f, 50, 0}, {true, 0.0f, 80, 0}, true, "both starving: higher priority"},
        {{true, 0.0f, 80, 0}, {true, 0.0f, 50, 0}, false, "both starving: lower priority"},
        {{true, 0.0f, 50, 200}, {true, 0.0f, 50, 100}, true, "both starving, equal: served longer ago"},
        {{true, 0.0f, 50, 100}, {true, 0.0f, 50, 100}, false, "both starving, equal: same age"},
        {{false, 0.0f, 100, 0}, {true, 9.0f, 0, 9}, true, "ready beats not ready"},
        {{true, 9.0f, 0, 9}, {false, 0.0f, 100, 0}, false, "not ready loses"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AuSchedulerPrefers(c.candidate, c.best), c.candidateWins) << c.why;
}

class IOMemoryTest : public StreamingTest {
protected:
    u32 PoolSize() const override { return 8 * 1024 * 1024; }
};

TEST_F(IOMemoryTest, BlocksFromSizeAndGranularity) {
    const struct {
        u32 size;
        u32 granularity;
        u32 blocks;
        u32 regionBytes;
    } cases[] = {
        {2097152, 16384, 128, 2097152},
        {2097152, 3000, 699, 2097000},
        {0, 16384, 0, 0},
        {1000, 16384, 0, 0},
    };
    for (const auto& c : cases) {
        CAuIOMemory memory;
        ASSERT_EQ(memory.Init(DeviceSettings(c.size, c.granularity)), AuResultSuccess) << c.granularity;
        EXPECT_EQ(memory.NumBlocks(), c.blocks);
        EXPECT_EQ(memory.FreeCount(), c.blocks);
        EXPECT_EQ(memory.AvailableViews(), c.blocks);
        AU::MemoryMgr::PoolStats stats{};
        if (c.blocks) {
            ASSERT_EQ(AU::MemoryMgr::GetPoolStats(memory.PoolID(), stats), AuResultSuccess);
            EXPECT_EQ(stats.uReserved, c.regionBytes);
            EXPECT_EQ(AU::MemoryMgr::GetPoolAttributes(memory.PoolID()),
                      AuPoolAttrVirtualAlloc | AuPoolAttrFixedBlocks);
            EXPECT_EQ(memory.Block(c.blocks - 1)->pData - memory.Block(0)->pData,
                      static_cast<ptrdiff_t>((c.blocks - 1) * c.granularity));
        } else {
            EXPECT_EQ(memory.PoolID(), AU_INVALID_POOL_ID);
            EXPECT_EQ(memory.TakeFreeBlock(), nullptr);
        }
        memory.Term();
    }
}

TEST_F(IOMemoryTest, CacheRatioGrantsMoreViews) {
    AuDeviceSettings settings = DeviceSettings(16384 * 10);
    settings.fCacheRatio = 1.26f;
    CAuIOMemory memory;
    ASSERT_EQ(memory.Init(settings), AuResultSuccess);
    EXPECT_TRUE(memory.CachingOn());
    EXPECT_EQ(memory.AvailableViews(), 13u);
    memory.Term();
}

TEST_F(IOMemoryTest, ReleasedBlocksKeepCachedDataLongest) {
    CAuIOMemory memory;
    ASSERT_EQ(memory.Init(DeviceSettings(16384 * 4)), AuResultSuccess);
    AuIOBlock* a = memory.TakeFreeBlock();
    AuIOBlock* b = memory.TakeFreeBlock();
    EXPECT_EQ(a, memory.Block(0));
    EXPECT_EQ(b, memory.Block(1));
    EXPECT_EQ(memory.FreeCount(), 2u);
    memory.EnterInCache(a, 7, 0, 16384);
    memory.ReleaseBlock(a); // cached: to the tail
    memory.ReleaseBlock(b); // plain: to the head
    EXPECT_EQ(memory.TakeFreeBlock(), memory.Block(1));
    EXPECT_EQ(memory.TakeFreeBlock(), memory.Block(2));
    EXPECT_EQ(memory.TakeFreeBlock(), memory.Block(3));
    EXPECT_EQ(memory.TakeFreeBlock(), memory.Block(0));
    EXPECT_EQ(memory.TakeFreeBlock(), nullptr);
    EXPECT_EQ(memory.AvailableViews(), 0u);
    memory.Term();
}

// The index stays sorted by (cache id, position, address); a block leaving the cache goes to the end.
TEST_F(IOMemoryTest, CacheIndexSortsAndFlushes) {
    CAuIOMemory memory;
    ASSERT_EQ(memory.Init(DeviceSettings(16384 * 5)), AuResultSuccess);
    memory.EnterInCache(memory.Block(3), 9, 0, 100);
    memory.EnterInCache(memory.Block(1), 4, 32768, 100);
    memory.EnterInCache(memory.Block(4), 4, 16384, 100);
    const u32 sorted[] = {4, 1, 3, 0, 2};
    for (u32 i = 0; i < 5; ++i)
        EXPECT_EQ(memory.IndexEntry(i), sorted[i]) << i;
    memory.RemoveFromCache(memory.Block(4));
    const u32 afterRemove[] = {1, 3, 0, 2, 4};
    for (u32 i = 0; i < 5; ++i)
        EXPECT_EQ(memory.IndexEntry(i), afterRemove[i]) << i;
    memory.FlushCache();
    const u32 afterFlush[] = {0, 2, 4, 1, 3};
    for (u32 i = 0; i < 5; ++i) {
        EXPECT_EQ(memory.IndexEntry(i), afterFlush[i]) << i;
        EXPECT_EQ(memory.Block(i)->uCacheID, AU_NO_CACHE_ID);
    }
    // Entering again sorts in front of every uncached block.
    memory.EnterInCache(memory.Block(2), 1, 0, 100);
    EXPECT_EQ(memory.IndexEntry(0), 2u);
    memory.Term();
}

// 1 GiB at the default granularity is 65536 blocks: block numbers must not wrap at 16 bits.
TEST_F(IOMemoryTest, AGibibyteOfIOMemoryKeepsEveryBlockNumber) {
    CAuIOMemory memory;
    ASSERT_EQ(memory.Init(DeviceSettings(1u << 30)), AuResultSuccess);
    ASSERT_EQ(memory.NumBlocks(), 65536u);
    memory.EnterInCache(memory.Block(65535), 1, 16384, 16384);
    memory.EnterInCache(memory.Block(0), 1, 32768, 16384);
    memory.EnterInCache(memory.Block(65534), 1, 0, 16384);
    EXPECT_EQ(memory.IndexEntry(0), 65534u);
    EXPECT_EQ(memory.IndexEntry(1), 65535u);
    EXPECT_EQ(memory.IndexEntry(2), 0u);
    EXPECT_EQ(memory.IndexEntry(3), 1u);
    EXPECT_EQ(memory.IndexEntry(65535), 65533u);
    memory.FlushCache();
    EXPECT_EQ(memory.IndexEntry(65533), 0u);
    EXPECT_EQ(memory.IndexEntry(65534), 65534u);
    EXPECT_EQ(memory.IndexEntry(65535), 65535u);
    memory.Term();
}

} // namespace
