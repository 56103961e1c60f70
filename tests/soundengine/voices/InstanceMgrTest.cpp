#include "VoiceTestSupport.h"
#include "voices/AuInstanceMgr.h"
#include "voices/AuLowerEngine.h"

#include "core/AuExternalSources.h"
#include "hierarchy/AuSourceInfo.h"

#include "LowerEnginePoolTest.h"

#include <gtest/gtest.h>

#include <new>
#include <vector>

namespace {

class InstanceMgrTest : public voicetest::LowerEnginePoolTest {
protected:
    InstanceMgrTest() : LowerEnginePoolTest(2u << 20) {}
    void SetUp() override {
        LowerEnginePoolTest::SetUp();
        m_node.action = 1; // below the threshold the voice stops, unless a test says otherwise
        ASSERT_EQ(m_mgr.InitEvents(), AuResultSuccess);
    }
    void TearDown() override {
        m_mgr.Term(false);
        LowerEnginePoolTest::TearDown();
    }
    // As the nodes make them: from the default pool, in the engine-wide limiter, added to the
    // manager.
    CAuPlaybackInstance* Add(f32 priority, const u8* data = nullptr) {
        AuPlaybackInstanceParams params;
        params.key.playingID = 1;
        params.pNode = &m_node;
        params.priority.fPriority = priority;
        void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuPlaybackInstance));
        auto* instance = new (block) CAuPlaybackInstance(params);
        AuSourceMedia media;
        media.pData = data;
        instance->SetSourceMedia(media);
        EXPECT_EQ(instance->Init(nullptr, nullptr), AuResultSuccess);
        m_mgr.AddInstance(instance);
        return instance;
    }
    std::vector<CAuPlaybackInstance*> Fill(u32 count, f32 priority) {
        std::vector<CAuPlaybackInstance*> added;
        for (u32 i = 0; i < count; ++i)
            added.push_back(Add(priority));
        return added;
    }

    voicetest::PlayedNode m_node;
    CAuInstanceMgr m_mgr;
};

TEST_F(InstanceMgrTest, AtTheVoiceLimitTiesLoseAndAHigherPriorityStopsOne) {
    const auto added = Fill(256, 50.0f);
    u32 reason = 0;
    EXPECT_EQ(m_mgr.CheckResourceLimits(50.0f, reason), AuResultLimiterRefusedUseVirtual);
    EXPECT_EQ(reason, CAuInstanceMgr::kRefusedVoiceLimit);
    for (CAuPlaybackInstance* i : added)
        ASSERT_FALSE(i->IsStopped());
    EXPECT_EQ(m_mgr.CheckResourceLimits(51.0f, reason), AuResultSuccess);
    // Equal priorities put the oldest last in the engine-wide list: it gives way.
    EXPECT_TRUE(added.front()->IsStopped());
    EXPECT_EQ(added.front()->StopReason(), CAuInstanceMgr::kStopForVoiceLimit);
    for (size_t i = 1; i < added.size(); ++i)
        ASSERT_FALSE(added[i]->IsStopped()) << i;
}

TEST_F(InstanceMgrTest, AtTheVoiceLimitAVirtualisingInstanceGoesVirtualInsteadOfStopping) {
    m_node.action = 2;
    const auto added = Fill(256, 50.0f);
    u32 reason = 0;
    EXPECT_EQ(m_mgr.CheckResourceLimits(51.0f, reason), AuResultSuccess);
    EXPECT_FALSE(added.front()->IsStopped());
    EXPECT_TRUE(added.front()->ForcedVirtual());
    // The virtual one no longer counts: the start took its place.
    Add(51.0f);
    // Instances that keep playing below the threshold can be neither stopped nor sent away.
    m_node.action = 0;
    EXPECT_EQ(m_mgr.CheckResourceLimits(60.0f, reason), AuResultLimiterRefusedUseVirtual);
}

TEST_F(InstanceMgrTest, AtTheVoiceLimitTheVictimIsTheLowestPriorityWhateverTheStartOrder) {
    struct Case {
        f32 priorities[3]; // in start order
        f32 start;
        int victim; // -1: refused
    };
    // Ties lose at the voice limit; the lowest that counts gives way, not the last started.
    const Case cases[] = {
        {{10, 30, 50}, 40, 0}, {{50, 10, 30}, 40, 1},  {{30, 50, 10}, 10, -1},
        {{30, 50, 10}, 11, 2}, {{60, 70, 80}, 50, -1},
    };
    for (const Case& c : cases) {
        m_mgr.Term(false);
        ASSERT_EQ(m_mgr.InitEvents(), AuResultSuccess);
        m_mgr.SetVoiceLimit(3);
        std::vector<CAuPlaybackInstance*> added;
        for (f32 priority : c.priorities)
            added.push_back(Add(priority));
        u32 reason = 0;
        EXPECT_EQ(m_mgr.CheckResourceLimits(c.start, reason),
                  c.victim < 0 ? AuResultLimiterRefusedUseVirtual : AuResultSuccess)
            << c.start;
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(added[i]->IsStopped(), i == c.victim) << c.start << " " << i;
            if (i == c.victim) {
                EXPECT_EQ(added[i]->StopReason(), AU_LIMITER_REASON_ENGINE);
            }
        }
    }
}

TEST_F(InstanceMgrTest, BelowTheLimitEveryStartGoesOn) {
    Fill(255, 50.0f);
    u32 reason = 0;
    EXPECT_EQ(m_mgr.CheckResourceLimits(0.0f, reason), AuResultSuccess);
    m_mgr.SetVoiceLimit(2);
    m_mgr.SetVirtualCount(254); // only one plays a voice
    EXPECT_EQ(m_mgr.CheckResourceLimits(0.0f, reason), AuResultSuccess);
}

TEST_F(InstanceMgrTest, MemoryThresholds) {
    CAuPlaybackInstance* low = Add(10.0f);
    u32 reason = 0;
    m_mgr.SetMemoryThresholds(1.0f, 1.0f); // never, however full
    EXPECT_TRUE(m_mgr.CheckMemoryThreshold(0.0f));
    m_mgr.SetMemoryThresholds(0.0f, 1.0f); // any use of the default pool is too much
    EXPECT_EQ(m_mgr.CheckResourceLimits(10.0f, reason), AuResultFail); // equal priority: refused
    EXPECT_EQ(reason, CAuInstanceMgr::kRefusedMemory);
    EXPECT_FALSE(low->IsStopped());
    EXPECT_EQ(m_mgr.CheckResourceLimits(20.0f, reason), AuResultSuccess);
    EXPECT_TRUE(low->IsStopped());
    EXPECT_EQ(low->StopReason(), CAuInstanceMgr::kStopForMemory);
    EXPECT_FALSE(m_mgr.CheckMemoryThreshold(90.0f)); // nothing left to stop
}

TEST_F(InstanceMgrTest, PriorityFromDistance) {
    const f32 near[] = {30.0f, 10.0f};
    const f32 far[] = {500.0f};
    struct Case {
        AuPriorityInputs in;
        f32 expected;
    };
    auto make = [](f32 base, f32 offset, bool hasMax, f32 max, f32 scaling, const f32* d, u32 n) {
        AuPriorityInputs in;
        in.fBase = base;
        in.fDistanceOffset = offset;
        in.bHasMaxDistance = hasMax;
        in.fMaxDistance = max;
        in.fScaling = scaling;
        in.pDistances = d;
        in.uNumDistances = n;
        return in;
    };
    const Case cases[] = {
        {make(50, -20, false, 100, 1, near, 2), 50},   // not positioned
        {make(50, 0, true, 100, 1, near, 2), 50},      // no offset
        {make(50, -20, true, 100, 1, near, 2), 48},    // the nearest of the positions
        {make(50, -20, true, 50, 2, near, 2), 48},     // the maximum scaled by the object
        {make(50, -20, true, 100, 1, far, 1), 30},     // past the maximum
        {make(50, -20, true, 100, 1, nullptr, 0), 30}, // no listener: 1e10
        {make(90, 40, true, 100, 1, far, 1), 100},     // clamped
        {make(10, -40, true, 100, 1, far, 1), 0},
    };
    for (const Case& c : cases)
        EXPECT_FLOAT_EQ(CAuInstanceMgr::ComputePriority(c.in), c.expected)
            << c.in.fBase << " " << c.in.fDistanceOffset;
}

TEST_F(InstanceMgrTest, ExternalSourcesResolveByNameThenMemoryThenFileID) {
    AuSourceInfo source;
    source.SetFields((CAuInstanceMgr::kExternalSourceCodec << 16) | 1, 5, 77, 0, 0,
                     AuSourceStorage_InMemory << AU_SOURCE_STORAGE_SHIFT);
    EXPECT_TRUE(CAuInstanceMgr::IsExternalSource(source));
    AuSourceInfo plain;
    plain.SetFields(0x00010001, 5, 77, 0, 0, 0);
    EXPECT_FALSE(CAuInstanceMgr::IsExternalSource(plain));
    EXPECT_FALSE(CAuInstanceMgr::IsExternalSource(AuSourceInfo{})) << "a cleared plug-in ID";

    static const u8 memory[16] = {};
    const wchar_t* name = L"voice/line_01.aum";
    constexpr u32 kNone = 0xFFFFFFFF;
    struct Case {
        const char* what;
        AuExternalSourceInfo entry;
        AURESULT result;
        u32 storage;
        u32 fileID;
        bool byName;
        bool byMemory;
    };
    const Case cases[] = {
        {"name first",
         {77, 4, name, memory, 16, 9},
         AuResultSuccess,
         AuSourceStorage_Streamed,
         kNone,
         true,
         false},
        {"then memory",
         {77, 2, nullptr, memory, 16, 9},
         AuResultSuccess,
         AuSourceStorage_InMemory,
         kNone,
         false,
         true},
        {"then the file ID",
         {77, 1, nullptr, memory, 0, 9},
         AuResultSuccess,
         AuSourceStorage_Streamed,
         9,
         false,
         false},
        {"nothing named", {77, 1, nullptr, nullptr, 0, kNone}, AuResultFail, 0, 0, false, false},
        {"another cookie", {78, 1, name, nullptr, 0, 9}, AuResultFail, 0, 0, false, false},
    };
    const u32 before = Used();
    for (const Case& c : cases) {
        // Another cookie's entry ahead of the one looked for.
        const AuExternalSourceInfo entries[] = {{12, 1, L"other.aum", nullptr, 0, 3}, c.entry};
        AuExternalSourceArray* list = AuExternalSourceArray::Create(2, entries);
        ASSERT_NE(list, nullptr);
        AuSourceInfo* resolved = nullptr;
        ASSERT_EQ(CAuInstanceMgr::ResolveExternalSource(source, list, resolved), c.result) << c.what;
        if (c.result != AuResultSuccess) {
            EXPECT_EQ(resolved, nullptr) << c.what;
            list->Release();
            continue;
        }
        ASSERT_NE(resolved, nullptr) << c.what;
        EXPECT_EQ(resolved->sourceID, 5u) << c.what;
        EXPECT_EQ(resolved->pluginID, (c.entry.idCodec << 16) | 1) << c.what;
        EXPECT_EQ(resolved->StorageKind(), c.storage) << c.what;
        EXPECT_EQ(resolved->fileID, c.fileID) << c.what;
        EXPECT_TRUE(resolved->flags & AU_SOURCE_EXTERNAL) << c.what;
        if (c.byName) {
            ASSERT_NE(resolved->pData, nullptr);
            EXPECT_NE(resolved->pData, list->operator[](1).szFile) << "the name is the description's own";
            EXPECT_STREQ(static_cast<const wchar_t*>(resolved->pData), name);
        } else if (c.byMemory) {
            EXPECT_EQ(resolved->pData, memory) << c.what;
            EXPECT_EQ(resolved->inMemorySize, 16u) << c.what;
        } else {
            EXPECT_EQ(resolved->pData, nullptr) << c.what;
        }
        // The description outlives the post's list.
        list->Release();
        if (c.byName) {
            EXPECT_STREQ(static_cast<const wchar_t*>(resolved->pData), name);
        }
        AuSourceInfo::Destroy(resolved);
    }
    AuSourceInfo* resolved = nullptr;
    EXPECT_EQ(CAuInstanceMgr::ResolveExternalSource(source, nullptr, resolved), AuResultFail) << "no list";
    EXPECT_EQ(resolved, nullptr);
    EXPECT_EQ(Used(), before);
}

TEST_F(InstanceMgrTest, AnEndEventDestroysItsInstanceAndEventsBeyondTheBlockGoBackToThePool) {
    CAuPlaybackInstance* first = Add(50.0f);
    CAuPlaybackInstance* second = Add(50.0f);
    const u32 before = Used();
    for (u32 i = 0; i < CAuInstanceMgr::kPreallocatedEvents; ++i)
        m_mgr.QueueInstanceEvent(second, 1, i, 0.0f);
    EXPECT_EQ(Used(), before);
    m_mgr.QueueInstanceEvent(first, AuInstanceEvent::kEnd, 0, 0.0f); // the 65th
    EXPECT_GT(Used(), before);
    m_mgr.ProcessInstanceEvents();
    EXPECT_EQ(m_mgr.NumInstances(), 1u);
    EXPECT_EQ(m_mgr.FirstInstance(), second);
    EXPECT_LT(Used(), before); // the event record and the instance are freed
}

TEST_F(InstanceMgrTest, AVirtualInstanceComingBackOverTheLimitStopsAnyOther) {
    const auto added = Fill(257, 100.0f);
    m_mgr.SetVirtualCount(2);
    m_mgr.OnVirtualCountLowered(false);
    EXPECT_EQ(m_mgr.NumVirtual(), 1u);
    for (CAuPlaybackInstance* i : added)
        ASSERT_FALSE(i->IsStopped());
    m_mgr.OnVirtualCountLowered(true); // 257 play against 256: even priority 100 gives way
    EXPECT_EQ(m_mgr.NumVirtual(), 0u);
    EXPECT_TRUE(added.front()->IsStopped());
}

TEST_F(InstanceMgrTest, StopInstancesUsingDataStopsThoseOfTheUnloadingBank) {
    // Two banks side by side: media anywhere inside bank A's block is A's, its end is B's start.
    const u8 banks[16] = {};
    const u8* bankA = banks;
    const u8* bankB = banks + 8;
    CAuPlaybackInstance* atStart = Add(50.0f, bankA);
    CAuPlaybackInstance* inside = Add(50.0f, bankA + 7);
    CAuPlaybackInstance* other = Add(50.0f, bankB);
    CAuPlaybackInstance* none = Add(50.0f, nullptr);
    voicetest::RecordingVoiceGraph graph;
    CAuLowerEngine::SetVoiceGraph(&graph);
    voicetest::Trace().clear();
    m_mgr.StopInstancesUsingData(bankA, 8);
    CAuLowerEngine::SetVoiceGraph(nullptr);
    EXPECT_EQ(voicetest::Trace(), std::vector<std::string>{"voices.releasefx 8"}) << "then the bus effects";
    EXPECT_EQ(m_node.pendingCleared, 2) << "once for each instance stopped";
    EXPECT_TRUE(atStart->IsStopped());
    EXPECT_TRUE(inside->IsStopped());
    EXPECT_FALSE(other->IsStopped());
    EXPECT_FALSE(none->IsStopped());
}

TEST_F(InstanceMgrTest, AnInstanceEndsOnceAndOnlyWhenTheManagerOwnsIt) {
    CAuPlaybackInstance* listed = Add(50.0f);
    AuPlaybackInstanceParams params;
    params.key.playingID = 1;
    CAuPlaybackInstance stranger(params);
    m_mgr.EndInstance(listed);
    m_mgr.EndInstance(listed);
    m_mgr.EndInstance(&stranger);
    EXPECT_TRUE(listed->IsStopped());
    EXPECT_TRUE(stranger.IsStopped());
    m_mgr.ProcessInstanceEvents(); // a second end would free the instance twice
    EXPECT_EQ(m_mgr.NumInstances(), 0u);
}

} // namespace

TEST_F(InstanceMgrTest, UpdateLimitersMakesThoseBeyondEachMaximumGiveWay) {
    // Joined as the nodes' starts do: every instance enters the engine-wide limiter.
    std::vector<CAuPlaybackInstance*> started;
    for (f32 priority : {30.0f, 10.0f, 20.0f})
        started.push_back(Add(priority));
    EXPECT_EQ(g_pGlobalVoiceLimiter != nullptr, true);
    EXPECT_EQ(m_mgr.GlobalLimiter().Count(), 3u);
    m_mgr.UpdateLimiters();
    for (CAuPlaybackInstance* i : started)
        ASSERT_FALSE(i->IsStopped());
    m_mgr.SetVoiceLimit(2);
    m_mgr.UpdateLimiters();
    EXPECT_FALSE(started[0]->IsStopped());
    EXPECT_TRUE(started[1]->IsStopped()); // the lowest priority
    EXPECT_EQ(started[1]->StopReason(), AU_LIMITER_REASON_ENGINE);
    EXPECT_FALSE(started[2]->IsStopped());

    // A node's list registers with its first instance and is updated with the frame.
    CAuPlaybackLimiter nodeList(AU_LIMITER_KIND_2, 1, false, false);
    ASSERT_EQ(nodeList.AddInstance(started[0], AU_LIMITER_KIND_2), AuResultSuccess);
    EXPECT_EQ(m_mgr.NumRegisteredLimiters(AU_LIMITER_KIND_2), 1u);
    EXPECT_EQ(m_mgr.NumRegisteredLimiters(AU_LIMITER_KIND_1), 0u);
    ASSERT_EQ(nodeList.AddInstance(started[2], AU_LIMITER_KIND_2), AuResultSuccess);
    EXPECT_EQ(m_mgr.NumRegisteredLimiters(AU_LIMITER_KIND_2), 1u);
    m_mgr.UpdateLimiters();
    EXPECT_FALSE(started[0]->IsStopped());
    EXPECT_TRUE(started[2]->IsStopped());
    EXPECT_EQ(started[2]->StopReason(), AU_LIMITER_REASON_LIST);
    nodeList.RemoveInstance(started[0], AU_LIMITER_KIND_2);
    nodeList.RemoveInstance(started[2], AU_LIMITER_KIND_2);
    EXPECT_EQ(m_mgr.NumRegisteredLimiters(AU_LIMITER_KIND_2), 0u);
    nodeList.Term();

    m_mgr.Term(false);
    EXPECT_EQ(g_pGlobalVoiceLimiter, nullptr);
    ASSERT_EQ(m_mgr.InitEvents(), AuResultSuccess);
}

TEST_F(InstanceMgrTest, AnInstanceThatWentVirtualStillCountsInTheNextFramesLimitUpdateOnly) {
    m_node.action = 1; // instances past the limit stop
    m_mgr.SetVoiceLimit(2);
    auto start = [this](f32 priority) { return Add(priority); };
    CAuPlaybackInstance* a = start(30.0f);
    CAuPlaybackInstance* b = start(20.0f);
    m_mgr.UpdateLimiters();
    // b's voice goes below the threshold in this frame, and a new start takes its place.
    b->SetVirtual(true);
    EXPECT_TRUE(b->MadeVirtualThisFrame());
    EXPECT_FALSE(b->MadeVirtualLastFrame());
    CAuPlaybackInstance* c = start(10.0f);
    m_mgr.UpdateLimiters();
    EXPECT_FALSE(b->MadeVirtualThisFrame());
    EXPECT_TRUE(b->MadeVirtualLastFrame());
    EXPECT_FALSE(a->IsStopped());
    EXPECT_TRUE(c->IsStopped()) << "b still counted: c was past the limit";
    EXPECT_EQ(c->StopReason(), AU_LIMITER_REASON_ENGINE);
    // One frame later b no longer counts: the next start stays.
    CAuPlaybackInstance* d = start(5.0f);
    m_mgr.UpdateLimiters();
    EXPECT_FALSE(b->MadeVirtualLastFrame());
    EXPECT_FALSE(d->IsStopped());
    EXPECT_FALSE(a->IsStopped());
    // Going virtual again marks the frame again; staying virtual does not.
    b->SetVirtual(false);
    b->SetVirtual(true);
    EXPECT_TRUE(b->MadeVirtualThisFrame());
    m_mgr.UpdateLimiters();
    b->SetVirtual(true);
    EXPECT_FALSE(b->MadeVirtualThisFrame());
    // A limit that sends an instance to virtual marks its frame too.
    m_node.action = 2;
    a->TryStopForLimit(AU_LIMITER_REASON_LIST);
    EXPECT_TRUE(a->ForcedVirtual());
    EXPECT_TRUE(a->MadeVirtualThisFrame());
}
