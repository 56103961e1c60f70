// Preparing events and game syncs: the banks their play actions name, their nodes' data, the
// deferred media, and everything undone when one step fails.
#include "BankMgrSupport.h"

#include <map>

namespace banktest {
namespace {

struct FakeNode {
    int prepared = 0;
    AURESULT result = AuResultSuccess;
    // Media the node's data needs, loaded through the manager as a sound's would be.
    u32 mediaID = 0;
};

class FakeEvents : public IAuEventPreparation {
public:
    struct Event {
        u32 count = 0;
        int refs = 0;
        std::vector<PlayAction> actions;
    };
    std::map<u32, Event> events;
    CAuBankMgr* mgr = nullptr;

    void* AcquireEvent(u32 eventID) override {
        auto found = events.find(eventID);
        if (found == events.end()) return nullptr;
        ++found->second.refs;
        return &found->second;
    }
    void ReleaseEvent(void* event) override { --static_cast<Event*>(event)->refs; }
    u32 PreparationCount(void* event) override { return static_cast<Event*>(event)->count; }
    void SetPreparationCount(void* event, u32 count) override { static_cast<Event*>(event)->count = count; }
    u32 PlayActionCount(void* event) override {
        return static_cast<u32>(static_cast<Event*>(event)->actions.size());
    }
    PlayAction GetPlayAction(void* event, u32 index) override {
        return static_cast<Event*>(event)->actions[index];
    }
    AURESULT PrepareData(void* node) override {
        auto* fake = static_cast<FakeNode*>(node);
        if (fake->result != AuResultSuccess) return fake->result;
        if (fake->mediaID) {
            const AURESULT loaded =
                mgr->LoadMedia(CAuBankMgr::MediaLoad{fake->mediaID, 9, 0, 16, 0, nullptr, 0});
            if (loaded != AuResultSuccess) return loaded;
        }
        ++fake->prepared;
        return AuResultSuccess;
    }
    void UnPrepareData(void* node) override {
        auto* fake = static_cast<FakeNode*>(node);
        --fake->prepared;
        if (fake->mediaID) mgr->UnloadMedia(fake->mediaID);
    }
    u32 CollectPreparedEvents(void** out, u32 capacity) override {
        u32 found = 0;
        for (auto& [id, event] : events)
            if (event.count && found < capacity) {
                ++event.refs;
                out[found++] = &event;
            }
        return found;
    }
};

class RecordingGameSyncs : public IAuGameSyncPreparation {
public:
    std::vector<std::string> calls;
    u32 failing = 0;
    AURESULT PrepareGameSync(u32 groupType, u32 groupID, u32 valueID, bool prepare) override {
        calls.push_back(Line("%s %u %X %X", prepare ? "prepare" : "unprepare", groupType, groupID, valueID));
        return prepare && valueID == failing ? AuResultIDNotFound : AuResultSuccess;
    }
};

class BankPrepareTest : public BankMgrTest, public testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        BankMgrTest::SetUp();
        Start(GetParam());
        m_events.mgr = m_mgr;
        m_mgr->SetEventPreparation(&m_events);
        m_mgr->SetGameSyncPreparation(&m_syncs);
        m_streams.file = MediaBank(1, {{0x77, 64}});
        m_events.events[0xE1].actions = {{1, &m_a}};
        m_events.events[0xE2].actions = {{2, &m_b}, {1, &m_c}};
        // The reader's buffer and the callback table's first row stay once made.
        ASSERT_EQ(AU::SoundEngine::PrepareBank(AuPreparation_Load, 1u, AuBankContent_StructureOnly), 1);
        ASSERT_EQ(AU::SoundEngine::PrepareBank(AuPreparation_Unload, 1u), AuResultSuccess);
        m_used = Used();
    }
    void ExpectNothingPrepared() {
        for (auto& [id, event] : m_events.events) {
            EXPECT_EQ(event.count, 0u) << std::hex << id;
            EXPECT_EQ(event.refs, 0) << std::hex << id;
        }
        for (FakeNode* node : {&m_a, &m_b, &m_c})
            EXPECT_EQ(node->prepared, 0);
        EXPECT_EQ(m_mgr->BankCount(), 0u);
        EXPECT_EQ(m_mgr->MediaEntryCount(), 0u);
        // At most what was used at the start: the bank thread may still hold a transient record
        // then, freed later; a leak shows as more.
        EXPECT_LE(Used(), m_used) << "arrays and records are freed";
    }

    FakeStreamMgr m_streams;
    FakeEvents m_events;
    RecordingGameSyncs m_syncs;
    FakeNode m_a, m_b, m_c;
    u32 m_used = 0;
};

INSTANTIATE_TEST_SUITE_P(Managers, BankPrepareTest, testing::Bool(),
                         [](const auto& info) { return info.param ? "Threaded" : "Plain"; });

TEST_P(BankPrepareTest, AnUnknownThirdEventGives15AndLeavesTheFirstTwoUnprepared) {
    const AuUniqueID ids[] = {0xE1, 0xE2, 0xE3};
    EXPECT_EQ(AU::SoundEngine::PrepareEvent(AuPreparation_Load, ids, 3), AuResultIDNotFound);
    ExpectNothingPrepared();
}

TEST_P(BankPrepareTest, EventsCountTheirPreparationsAndHoldTheirBanksUntilTheLast) {
    const AuUniqueID both[] = {0xE1, 0xE2};
    ASSERT_EQ(AU::SoundEngine::PrepareEvent(AuPreparation_Load, both, 2), AuResultSuccess);
    const AuUniqueID one = 0xE1;
    Completions completions;
    ASSERT_EQ(AU::SoundEngine::PrepareEvent(AuPreparation_Load, &one, 1, &Completions::Record, &completions),
              AuResultSuccess);
    Flush();
    // Two cookies were counted at once: the callback table keeps its second row.
    m_used += GetParam() ? 16 : 0;
    ASSERT_EQ(completions.Calls().size(), 1u);
    EXPECT_EQ(completions.Calls()[0].id, 0xE1u) << "a single event's ID is reported";
    EXPECT_EQ(m_events.events[0xE1].count, 2u);
    EXPECT_EQ(m_events.events[0xE2].count, 1u);
    EXPECT_EQ(m_a.prepared + m_b.prepared + m_c.prepared, 3);
    EXPECT_EQ(m_mgr->BankCount(), 2u);
    EXPECT_EQ(m_mgr->FindBank(1, nullptr)->prepareCount.load(), 2);
    ASSERT_EQ(AU::SoundEngine::PrepareEvent(AuPreparation_Unload, both, 2), AuResultSuccess);
    EXPECT_EQ(m_events.events[0xE1].count, 1u);
    EXPECT_EQ(m_mgr->BankCount(), 1u);
    const AuUniqueID unknownFirst[] = {0xE9, 0xE1};
    EXPECT_EQ(AU::SoundEngine::PrepareEvent(AuPreparation_Unload, unknownFirst, 2), AuResultIDNotFound);
    EXPECT_EQ(m_events.events[0xE1].count, 1u) << "the IDs after an unknown one are not processed";
    ASSERT_EQ(AU::SoundEngine::PrepareEvent(AuPreparation_Unload, &one, 1), AuResultSuccess);
    ExpectNothingPrepared();
}

TEST_P(BankPrepareTest, AFailingNodeUndoesItsEventsActions) {
    m_c.result = AuResultNoMemory;
    const AuUniqueID ids[] = {0xE1, 0xE2};
    EXPECT_EQ(AU::SoundEngine::PrepareEvent(AuPreparation_Load, ids, 2), AuResultNoMemory);
    ExpectNothingPrepared();
}

TEST_P(BankPrepareTest, MediaThatCannotBeLoadedUndoEveryEventOfTheRequest) {
    m_a.mediaID = 0x55; // no prepared-media pool: the deferred pass fails with 52
    const AuUniqueID ids[] = {0xE1, 0xE2};
    EXPECT_EQ(AU::SoundEngine::PrepareEvent(AuPreparation_Load, ids, 2), AuResultNoMemory);
    ExpectNothingPrepared();
}

TEST_P(BankPrepareTest, ClearingPreparedEventsForcesEveryCountToZero) {
    const AuUniqueID ids[] = {0xE1, 0xE2, 0xE1};
    ASSERT_EQ(AU::SoundEngine::PrepareEvent(AuPreparation_Load, ids, 3), AuResultSuccess);
    EXPECT_EQ(AU::SoundEngine::ClearPreparedEvents(), AuResultSuccess);
    ExpectNothingPrepared();
    ASSERT_EQ(AU::SoundEngine::PrepareEvent(AuPreparation_Load, ids, 2), AuResultSuccess);
    EXPECT_EQ(AU::SoundEngine::ClearBanks(), AuResultSuccess);
    ExpectNothingPrepared();
}

TEST_P(BankPrepareTest, EventListsAreChecked) {
    const AuUniqueID one = 0xE1;
    EXPECT_EQ(AU::SoundEngine::PrepareEvent(AuPreparation_Load, &one, 0), AuResultInvalidParameter);
    EXPECT_EQ(AU::SoundEngine::PrepareEvent(AuPreparation_Load, static_cast<const AuUniqueID*>(nullptr), 1),
              AuResultInvalidParameter);
    const char* names[] = {"Play_Footstep", "Nothing"};
    EXPECT_EQ(AU::SoundEngine::PrepareEvent(AuPreparation_Load, names, 2), AuResultIDNotFound);
    ExpectNothingPrepared();
}

// Lists whose bytes a 32-bit size cannot name (2^30 IDs and more) are refused before anything is
// read or copied; the arrays here are far shorter than the counts claim.
TEST_P(BankPrepareTest, ListsTooLongForTheirSizeAreRefused) {
    const AuUniqueID ids[] = {0xE1, 0xE2};
    const char* names[] = {"Play_Footstep", "Nothing"};
    const wchar_t* wideNames[] = {L"Play_Footstep", L"Nothing"};
    Completions completions;
    const AuBankCallbackFunc record = &Completions::Record;
    constexpr AuPreparationType kLoad = AuPreparation_Load;
    for (const u32 count : {1u << 30, (1u << 30) + 1, 0xFFFFFFFFu}) {
        SCOPED_TRACE(count);
        const AURESULT results[] = {
            AU::SoundEngine::PrepareEvent(kLoad, ids, count),
            AU::SoundEngine::PrepareEvent(kLoad, ids, count, record, &completions),
            AU::SoundEngine::PrepareEvent(kLoad, names, count),
            AU::SoundEngine::PrepareEvent(kLoad, wideNames, count, record, &completions),
            AU::SoundEngine::PrepareGameSyncs(kLoad, 1, 0x30, ids, count),
            AU::SoundEngine::PrepareGameSyncs(kLoad, 1, 0x30, ids, count, record, &completions),
            AU::SoundEngine::PrepareGameSyncs(kLoad, 1, "Group", names, count),
            AU::SoundEngine::PrepareGameSyncs(kLoad, 1, L"Group", wideNames, count, record, &completions),
        };
        for (size_t i = 0; i < std::size(results); ++i)
            EXPECT_EQ(results[i], AuResultInvalidParameter) << "call " << i;
    }
    EXPECT_TRUE(completions.Calls().empty());
    EXPECT_TRUE(m_syncs.calls.empty());
    EXPECT_EQ(Used(), m_used);
    ExpectNothingPrepared();
}

TEST_P(BankPrepareTest, AGameSyncThatFailsUndoesTheValuesBeforeIt) {
    m_syncs.failing = 0x33;
    const AuUniqueID values[] = {0x31, 0x32, 0x33, 0x34};
    EXPECT_EQ(AU::SoundEngine::PrepareGameSyncs(AuPreparation_Load, 1, 0x30, values, 4), AuResultIDNotFound);
    EXPECT_EQ(m_syncs.calls,
              (std::vector<std::string>{"prepare 1 30 31", "prepare 1 30 32", "prepare 1 30 33",
                                        "unprepare 1 30 32", "unprepare 1 30 31"}));
    m_syncs.calls.clear();
    const AuUniqueID one = 0x31;
    EXPECT_EQ(AU::SoundEngine::PrepareGameSyncs(AuPreparation_Unload, 1, 0x30, &one, 1), AuResultSuccess);
    EXPECT_EQ(m_syncs.calls, std::vector<std::string>{"unprepare 1 30 31"});
    EXPECT_EQ(AU::SoundEngine::PrepareGameSyncs(AuPreparation_Load, 1, 0x30, values, 0),
              AuResultInvalidParameter);
    EXPECT_EQ(Used(), m_used);
    m_mgr->SetGameSyncPreparation(nullptr);
    EXPECT_EQ(AU::SoundEngine::PrepareGameSyncs(AuPreparation_Load, 1, 0x30, values, 2), AuResultFail);
    EXPECT_EQ(Used(), m_used);
}

} // namespace
} // namespace banktest
