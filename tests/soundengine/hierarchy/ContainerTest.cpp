// The grouping node and the random/sequence container over real sounds read from bankgen records:
// the parent node's children, checks, preparation, actions and notifications; the container's
// record, its picks (seeded generator) and the states it keeps per game object. Plays reach a
// recording instance manager.
#include "TestNodes.h"

#include "core/AuAudioMgr.h"
#include "core/AuObjectIndex.h"
#include "core/AuOutputTiming.h"
#include "core/AuRegistryMgr.h"
#include "hierarchy/AuContainer.h"
#include "hierarchy/AuGroupingNode.h"
#include "hierarchy/AuSound.h"
#include "parameters/AuRTPCMgr.h"

#include <AuDefaultPoolTest.h>
#include <bankgen/Records.h>
#include <win32_testing.h>

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>
#include <new>
#include <random>
#include <vector>

namespace {

using bankgen::Bytes;
using nodetest::TestNode;

constexpr u32 kSeed = 20261211;

class RecordingStarts final : public IAuNodeInstances {
public:
    AURESULT StartNode(CAuLeafNode& node, const AuSourceInfo&, AuNodePlayParams& params) override {
        started.push_back(node.key);
        paths.push_back(params.path);
        return AuResultSuccess;
    }
    void StopInstancesOfNode(CAuLeafNode& node, CAuRegisteredObj*, i32, AuCurveInterpolation,
                             AuPlayingID) override {
        stopped.push_back(node.key);
    }
    void PauseInstancesOfNode(CAuLeafNode&, CAuRegisteredObj*, i32, AuCurveInterpolation,
                              AuPlayingID) override {}
    void ResumeInstancesOfNode(CAuLeafNode&, CAuRegisteredObj*, i32, AuCurveInterpolation, AuPlayingID,
                               bool) override {}
    void ReleaseModulatorsOfNode(CAuLeafNode&, CAuRegisteredObj*, AuPlayingID) override {}
    std::vector<u32> started;
    std::vector<AuPlayPath> paths;
    std::vector<u32> stopped;
};

class ContainerTest : public AuDefaultPoolTest {
protected:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        nodetest::g_live = 0;
        nodetest::g_trace.clear();
        g_pIndex = &m_index;
        m_index.Init();
        g_pRTPCMgr = &m_rtpc;
        ASSERT_EQ(m_rtpc.Init(), AuResultSuccess);
        g_pNodeInstances = &m_instances;
        ASSERT_EQ(m_audio.Init(4096), AuResultSuccess);
        g_pAudioMgr = &m_audio;
        SetOutputTiming(1024);
        SetOutputSampleRate(48000);
        win32test::ResetRandScript();
        srand(kSeed);
    }
    void TearDown() override {
        m_audio.Term();
        g_pAudioMgr = nullptr;
        for (CAuIndexable* object : m_objects)
            object->Release();
        m_objects.clear();
        for (CAuRegisteredObj* object : m_gameObjects)
            object->Release();
        g_pNodeInstances = nullptr;
        win32test::ResetRandScript();
        EXPECT_EQ(nodetest::g_live.load(), 0);
        m_rtpc.Term();
        g_pRTPCMgr = nullptr;
        for (u32 table = 0; table < AuIndexTableCount; ++table)
            EXPECT_EQ(m_index.Table(AuIndexTableId(table)).Count(), 0u) << table;
        m_index.Term();
        g_pIndex = nullptr;
        EXPECT_EQ(Used(), m_usedAtStart);
        AuDefaultPoolTest::TearDown();
    }

    static Bytes Encode(const bankgen::Record& record) {
        bankgen::EncodeContext ctx;
        Bytes out = bankgen::EncodePayload(record, ctx);
        EXPECT_TRUE(ctx.errors.empty()) << ctx.errors.front();
        return out;
    }
    // Sounds with an in-memory source, kept until the end of the test.
    void Sounds(std::initializer_list<u32> ids) {
        for (u32 id : ids) {
            bankgen::SoundRecord record;
            record.id = id;
            record.source.sourceId = id + 1;
            record.source.inMemorySize = 64;
            const Bytes payload = Encode(record);
            CAuSound* sound = CAuSound::Create(id);
            ASSERT_EQ(sound->SetInitialValues(payload.data(), static_cast<u32>(payload.size()), false),
                      AuResultSuccess);
            m_objects.push_back(sound);
        }
    }
    // Read as the loader reads them: a refused record leaves no object behind.
    CAuGroupingNode* Grouping(const bankgen::GroupingRecord& record, AURESULT* result = nullptr) {
        return Load<CAuGroupingNode>(record, AuGroupingLoaderEntry(), result);
    }
    CAuRandomSequenceContainer* Container(const bankgen::RandomSequenceRecord& record,
                                          AURESULT* result = nullptr) {
        return Load<CAuRandomSequenceContainer>(record, AuRandomSequenceLoaderEntry(), result);
    }
    template <class T>
    T* Load(const bankgen::Record& record, const AuHierarchyLoaderEntry& entry, AURESULT* result) {
        const Bytes payload = Encode(record);
        const u32 id = payload[0] | payload[1] << 8 | payload[2] << 16 | u32(payload[3]) << 24;
        CAuIndexable* object = entry.create(id, payload.data(), static_cast<u32>(payload.size()));
        const AURESULT read = entry.read(*object, payload.data(), static_cast<u32>(payload.size()), false);
        if (result) *result = read;
        if (read != AuResultSuccess) {
            object->Release();
            return nullptr;
        }
        m_objects.push_back(object);
        return static_cast<T*>(object);
    }
    // A random/sequence record over `children`, each in the playlist with its weight.
    static bankgen::RandomSequenceRecord Record(u32 id, u8 playlistMode, std::vector<u32> children,
                                                std::vector<u32> weights = {}) {
        bankgen::RandomSequenceRecord record;
        record.id = id;
        record.playlistMode = playlistMode;
        record.children = children;
        for (size_t i = 0; i < children.size(); ++i)
            record.playlist.push_back(
                {children[i], i < weights.size() ? weights[i] : AU_PLAYLIST_UNWEIGHTED});
        return record;
    }
    CAuRegisteredObj* GameObject(u32 id) {
        auto* object =
            new (AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuRegisteredObj))) CAuRegisteredObj(id);
        m_gameObjects.push_back(object);
        return object;
    }
    // The sounds that `count` plays of the node start, in order.
    std::vector<u32> Plays(CAuParameterNode& node, u32 count, CAuRegisteredObj* gameObj = nullptr) {
        m_instances.started.clear();
        m_instances.paths.clear();
        for (u32 n = 0; n < count; ++n) {
            AuNodePlayParams params;
            params.pGameObj = gameObj;
            EXPECT_EQ(node.ExecutePlay(params), AuResultSuccess);
        }
        return m_instances.started;
    }

    CAuObjectIndex m_index;
    CAuRTPCMgr m_rtpc;
    RecordingStarts m_instances;
    CAuAudioMgr m_audio;
    std::vector<CAuIndexable*> m_objects;
    std::vector<CAuRegisteredObj*> m_gameObjects;
};

// ---- Parent and grouping node ----

TEST_F(ContainerTest, ChildrenKeepIdOrderAndTheChecksRefuseWithTheirCodesLeavingBothNodesAsTheyWere) {
    Sounds({0x30, 0x10, 0x20});
    CAuGroupingNode* group = Grouping({0x900, {}, {0x30, 0x10, 0x20}});
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(group->GetChildCount(), 3u);
    for (u32 i = 0; i < 3; ++i) {
        EXPECT_EQ(group->Child(i)->key, 0x10u * (i + 1)) << "children in ID order, not the bank's";
        EXPECT_EQ(group->Child(i)->Parent(), group);
    }
    CAuGroupingNode* other = Grouping({0x901, {}, {}});
    ASSERT_NE(other, nullptr);
    CAuNodeBase* child = group->Child(0);

    child->AddRef();
    EXPECT_EQ(other->AddChild(child), AuResultChildHasParent);
    EXPECT_EQ(other->GetChildCount(), 0u);
    EXPECT_EQ(child->Parent(), group);

    // Listed although its parent link is gone: 5.
    child->SetParent(nullptr);
    child->AddRef();
    EXPECT_EQ(group->AddChild(child), AuResultAlreadyAChild);
    child->SetParent(group);
    EXPECT_EQ(group->GetChildCount(), 3u);

    group->AddRef();
    EXPECT_EQ(group->AddChild(group), AuResultCannotBeOwnChild);
    EXPECT_EQ(group->Parent(), nullptr);

    AuNodePlayParams params;
    EXPECT_EQ(group->ExecutePlay(params), AuResultNotImplemented) << "nothing plays through the node itself";
    EXPECT_TRUE(m_instances.started.empty());
}

// Children that trace what reaches them, in the order it reaches them.
class TracingChild final : public TestNode {
public:
    using TestNode::TestNode;
    AURESULT PrepareData() override {
        nodetest::Trace("prepare " + std::to_string(key));
        return prepareResult;
    }
    void UnPrepareData() override { nodetest::Trace("unprepare " + std::to_string(key)); }
    AURESULT ExecuteAction(const AuActionExec& exec) override {
        nodetest::Trace("execute " + std::to_string(key));
        return TestNode::ExecuteAction(exec);
    }
};

class GroupingChildrenTest : public ContainerTest {
protected:
    void SetUp() override {
        ContainerTest::SetUp();
        m_group = Grouping({0x900, {}, {}});
        ASSERT_NE(m_group, nullptr);
        for (u32 id : {1u, 2u, 3u}) {
            m_children.push_back(TestNode::Make<TracingChild>(id, AuNodeCategory_Sound));
            m_objects.push_back(m_children.back());
            m_children.back()->AddRef();
            ASSERT_EQ(m_group->AddChild(m_children.back()), AuResultSuccess);
        }
        nodetest::g_trace.clear();
    }
    // The child counts one playing instance and is listed among the group's active children.
    void Activate(TracingChild& child) {
        ASSERT_TRUE(child.IncrementActivityCount(0));
        child.Activity()->playing = 1;
    }
    void TearDown() override {
        for (TracingChild* child : m_children) {
            if (child->Activity()) child->Activity()->playing = 0;
            if (child->Activity() && child->Activity()->activity) child->DecrementActivityCount(0);
            m_group->RemoveChild(child);
        }
        ContainerTest::TearDown();
    }
    CAuGroupingNode* m_group = nullptr;
    std::vector<TracingChild*> m_children;
};

TEST_F(GroupingChildrenTest, AFailedThirdPrepareUnpreparesTheFirstTwoInOrder) {
    m_children[2]->prepareResult = AuResultNoMemory;
    EXPECT_EQ(m_group->PrepareData(), AuResultNoMemory);
    EXPECT_EQ(nodetest::g_trace, (std::vector<std::string>{"prepare 1", "prepare 2", "prepare 3",
                                                           "unprepare 1", "unprepare 2"}));
}

TEST_F(GroupingChildrenTest, ActionsReachChildrenOnlyWhileSomethingCountsBelowTheNodeLastChildFirst) {
    const AuActionExec stop = MakeActionExec(AuActionExec_Stop, nullptr, 0, 0, AuCurveInterpolation_Linear);
    EXPECT_EQ(m_group->ExecuteAction(stop), AuResultSuccess);
    EXPECT_TRUE(nodetest::g_trace.empty()) << "no activity: nothing is done";

    Activate(*m_children[0]);
    EXPECT_EQ(m_group->ExecuteAction(stop), AuResultSuccess);
    EXPECT_EQ(nodetest::g_trace, (std::vector<std::string>{"execute 3", "execute 2", "execute 1"}));

    // Come down from a bus, the record skips a child that is reached through its own bus.
    TestNode* bus = TestNode::Make(0x800, AuNodeCategory_Bus);
    m_objects.push_back(bus);
    m_children[1]->SetBus(bus);
    nodetest::g_trace.clear();
    AuActionExec fromBus = stop;
    fromBus.flags |= AU_EXEC_TRANSITIONS_HANDLED;
    EXPECT_EQ(m_group->ExecuteAction(fromBus), AuResultSuccess);
    EXPECT_EQ(nodetest::g_trace, (std::vector<std::string>{"execute 3", "execute 1"}));
    m_children[1]->SetBus(nullptr);
}

TEST_F(GroupingChildrenTest, NotificationsReachOnlyPlayingActiveChildrenThroughTheirFilters) {
    Activate(*m_children[0]);
    Activate(*m_children[1]);
    // Active with no playing instance.
    ASSERT_TRUE(m_children[2]->IncrementActivityCount(0));

    m_group->RecalcProps(7);
    EXPECT_EQ(m_children[0]->recalcs, std::vector<u32>{7});
    EXPECT_EQ(m_children[1]->recalcs, std::vector<u32>{7});
    EXPECT_TRUE(m_children[2]->recalcs.empty()) << "a playing count of 0 is skipped";

    struct Case {
        const char* name;
        std::function<void(TracingChild&)> mark;
        std::function<void()> notify;
        std::function<size_t(TracingChild&)> reached;
    };
    TestNode* bus = TestNode::Make(0x800, AuNodeCategory_Bus);
    m_objects.push_back(bus);
    const Case cases[] = {
        {"own positioning skips positioning values",
         [](TracingChild& c) { c.SetFlagsB(AU_NODE_B_OWN_POSITIONING, true); },
         [&] { m_group->SetBusValue(1.0f, 20, nullptr, false); },
         [](TracingChild& c) { return c.forwarded.size(); }},
        {"own effects skip a bypass", [](TracingChild& c) { c.SetFlagsB(AU_NODE_B_OVERRIDE_EFFECTS, true); },
         [&] { m_group->BypassNotification(1, 1, nullptr, false); },
         [](TracingChild& c) { return c.bypasses.size(); }},
        {"own bus skips a parameter change that asks", [&](TracingChild& c) { c.SetBus(bus); },
         [&] {
             m_group->ParamNotification(AuParamChange{0, 1.0f, AuRTPCKey{}, true, false});
         },
         [](TracingChild& c) { return c.changes.size(); }},
    };
    for (const Case& c : cases) {
        c.mark(*m_children[1]);
        c.notify();
        EXPECT_EQ(c.reached(*m_children[0]), 1u) << c.name;
        EXPECT_EQ(c.reached(*m_children[1]), 0u) << c.name;
        EXPECT_EQ(c.reached(*m_children[2]), 0u) << c.name;
        m_children[1]->SetFlagsB(AU_NODE_B_OWN_POSITIONING | AU_NODE_B_OVERRIDE_EFFECTS, false);
        m_children[1]->SetBus(nullptr);
    }
    // Without the ask, a child with its own bus hears the change.
    m_children[1]->SetBus(bus);
    m_group->ParamNotification(AuParamChange{0, 1.0f, AuRTPCKey{}, false, false});
    EXPECT_EQ(m_children[1]->changes.size(), 1u);
    m_children[1]->SetBus(nullptr);
}

// ---- The container's record ----

TEST_F(ContainerTest, TheRecordSetsEveryFieldAndAnInfiniteLoopStoresNoOffsets) {
    Sounds({0x10, 0x20});
    bankgen::RandomSequenceRecord record = Record(0x900, 0, {0x10, 0x20}, {1, 3});
    record.loopCount = 3;
    record.loopMin = -2;
    record.loopMax = 4;
    record.avoidRepeat = 1;
    record.transitionMode = 0x15; // only the low 4 bits count
    record.randomMode = 1;
    record.flags = 0x1E;
    CAuRandomSequenceContainer* container = Container(record);
    ASSERT_NE(container, nullptr);
    EXPECT_EQ(container->Category(), AuNodeCategory_RandomSequence);
    EXPECT_EQ(container->PlaylistMode(), AuPlaylistMode_Random);
    EXPECT_EQ(container->RandomMode(), AuRandomMode_Shuffle);
    EXPECT_EQ(container->TransitionMode(), 5);
    EXPECT_EQ(container->AvoidRepeatCount(), 1);
    EXPECT_EQ(container->LoopCount(), 3);
    EXPECT_EQ(container->LoopMinOffset(), -2);
    EXPECT_EQ(container->LoopMaxOffset(), 4);
    EXPECT_EQ(container->PackedB() & 0xF8, AU_RANSEQ_WEIGHTED | AU_RANSEQ_PRIVATE_POSITION |
                                               AU_RANSEQ_REVERSE_AT_END | AU_RANSEQ_CONTINUOUS |
                                               AU_RANSEQ_GLOBAL_SCOPE);
    ASSERT_EQ(container->Playlist()->Count(), 2u);
    EXPECT_EQ(container->Playlist()->TotalWeight(), 4u);
    EXPECT_EQ(container->GetChildCount(), 2u);

    record = Record(0x901, 1, {});
    record.loopCount = 0;
    record.loopMin = 5;
    record.loopMax = 9;
    record.flags = 0;
    CAuRandomSequenceContainer* infinite = Container(record);
    ASSERT_NE(infinite, nullptr);
    EXPECT_EQ(infinite->LoopCount(), 0);
    EXPECT_EQ(infinite->LoopMinOffset(), 0);
    EXPECT_EQ(infinite->LoopMaxOffset(), 0);
    EXPECT_EQ(infinite->PlaylistMode(), AuPlaylistMode_Sequence);
    EXPECT_EQ(infinite->PackedB() & 0xF8, 0) << "the flags byte clears the creation defaults";
}

TEST_F(ContainerTest, BadRecordsAreRefusedWithTheirCodesAndLeaveNoNodeBehind) {
    Sounds({0x10, 0x20});
    struct Case {
        const char* name;
        std::function<void(bankgen::RandomSequenceRecord&)> spoil;
        AURESULT expected;
    };
    const Case cases[] = {
        {"a repeated child in a random playlist",
         [](auto& r) {
             r.playlist.push_back({0x10, AU_PLAYLIST_UNWEIGHTED});
         },
         AuResultRepeatedPlaylistChild},
        {"a grouping node as a child", [](auto& r) { r.children.push_back(0x901); },
         AuResultChildTypeRefused},
        {"an unknown child", [](auto& r) { r.children.push_back(0x777); }, AuResultIDNotFound},
        {"itself as a child", [](auto& r) { r.children.push_back(0x900); }, AuResultCannotBeOwnChild},
    };
    CAuGroupingNode* group = Grouping({0x901, {}, {}});
    ASSERT_NE(group, nullptr);
    for (const Case& c : cases) {
        bankgen::RandomSequenceRecord record = Record(0x900, 0, {0x10, 0x20});
        c.spoil(record);
        AURESULT result = AuResultSuccess;
        EXPECT_EQ(Container(record, &result), nullptr) << c.name;
        EXPECT_EQ(result, c.expected) << c.name;
        EXPECT_EQ(m_index.GetPtrAndAddRef(AuIndexNodes, 0x900), nullptr) << c.name;
        for (CAuIndexable* object : m_objects)
            if (object != group) {
                EXPECT_EQ(static_cast<CAuNodeBase*>(object)->Parent(), nullptr) << c.name;
            }
    }
    // A playlist or child count past the end of the record.
    const Bytes whole = Encode(Record(0x900, 0, {0x10, 0x20}));
    for (size_t cut : {size_t{1}, size_t{9}, size_t{17}, size_t{25}}) {
        const Bytes payload(whole.begin(), whole.end() - cut);
        const AuHierarchyLoaderEntry entry = AuRandomSequenceLoaderEntry();
        CAuIndexable* object = entry.create(0x900, payload.data(), static_cast<u32>(payload.size()));
        EXPECT_EQ(entry.read(*object, payload.data(), static_cast<u32>(payload.size()), false),
                  AuResultBadHeader)
            << cut;
        object->Release();
        EXPECT_EQ(m_index.GetPtrAndAddRef(AuIndexNodes, 0x900), nullptr) << cut;
    }
}

TEST_F(ContainerTest, AContainerRefusesChildrenPastItsCapAndOfOtherCategories) {
    Sounds({0x10});
    CAuRandomSequenceContainer* container = Container(Record(0x900, 0, {}));
    ASSERT_NE(container, nullptr);
    struct Case {
        AuNodeCategory category;
        AURESULT expected;
    };
    const Case cases[] = {
        {AuNodeCategory_Sound, AuResultSuccess},
        {AuNodeCategory_LeafType17, AuResultSuccess},
        {AuNodeCategory_RandomSequence, AuResultSuccess},
        {AuNodeCategory_Switch, AuResultSuccess},
        {AuNodeCategory_LayerContainer, AuResultSuccess},
        {AuNodeCategory_Grouping, AuResultChildTypeRefused},
        {AuNodeCategory_MusicSegment, AuResultChildTypeRefused},
        {AuNodeCategory_Bus, AuResultChildTypeRefused},
    };
    u32 id = 0x100;
    for (const Case& c : cases) {
        TestNode* node = TestNode::Make(++id, c.category);
        m_objects.push_back(node);
        EXPECT_EQ(container->CanAddChild(node), c.expected) << c.category;
    }
}

// ---- Picks ----

TEST_F(ContainerTest, AvoidRepeatOneNeverRepeatsAndShuffleWithoutItPlaysEachChildOncePerCycle) {
    Sounds({0x10, 0x20, 0x30});
    bankgen::RandomSequenceRecord standard = Record(0x900, 0, {0x10, 0x20, 0x30});
    standard.avoidRepeat = 1;
    CAuRandomSequenceContainer* avoiding = Container(standard);
    ASSERT_NE(avoiding, nullptr);
    const std::vector<u32> played = Plays(*avoiding, 10000);
    ASSERT_EQ(played.size(), 10000u);
    std::map<u32, u32> counts;
    for (size_t i = 0; i < played.size(); ++i) {
        ++counts[played[i]];
        if (i > 0) {
            ASSERT_NE(played[i], played[i - 1]) << "play " << i;
        }
    }
    EXPECT_EQ(counts.size(), 3u);
    for (const auto& [child, count] : counts)
        EXPECT_GT(count, 3000u) << child;

    avoiding->RemoveAllChildren();
    bankgen::RandomSequenceRecord shuffle = Record(0x901, 0, {0x10, 0x20, 0x30});
    shuffle.randomMode = 1;
    CAuRandomSequenceContainer* shuffled = Container(shuffle);
    ASSERT_NE(shuffled, nullptr);
    const std::vector<u32> cycles = Plays(*shuffled, 9999);
    ASSERT_EQ(cycles.size(), 9999u);
    bool repeatedAcrossCycles = false;
    for (size_t cycle = 0; cycle < cycles.size(); cycle += 3) {
        std::vector<u32> one(cycles.begin() + cycle, cycles.begin() + cycle + 3);
        std::sort(one.begin(), one.end());
        ASSERT_EQ(one, (std::vector<u32>{0x10, 0x20, 0x30})) << "cycle " << cycle / 3;
        repeatedAcrossCycles |= cycle > 0 && cycles[cycle] == cycles[cycle - 1];
    }
    EXPECT_FALSE(repeatedAcrossCycles) << "the last of a cycle is held back from the next one's start";
}

TEST_F(ContainerTest, WeightsSetTheOddsAndWeightsThatAddUpToNothingPickUniformly) {
    Sounds({0x10, 0x20, 0x30});
    struct Case {
        const char* name;
        std::vector<u32> weights;
        std::vector<double> shares;
    };
    const Case cases[] = {
        {"one to three", {1, 3, 0}, {0.25, 0.75, 0.0}},
        {"all zero", {0, 0, 0}, {1.0 / 3, 1.0 / 3, 1.0 / 3}},
        {"unweighted",
         {AU_PLAYLIST_UNWEIGHTED, AU_PLAYLIST_UNWEIGHTED, AU_PLAYLIST_UNWEIGHTED},
         {1.0 / 3, 1.0 / 3, 1.0 / 3}},
    };
    u32 id = 0x900;
    for (const Case& c : cases) {
        CAuRandomSequenceContainer* container = Container(Record(++id, 0, {}, {}));
        ASSERT_NE(container, nullptr);
        for (u32 i = 0; i < 3; ++i)
            ASSERT_EQ(container->AddPlaylistItem(0x10 * (i + 1), c.weights[i]), AuResultSuccess);
        AURESULT result = AuResultSuccess;
        auto* state = static_cast<CAuRandomPlaylistState*>(container->GetState(nullptr, result));
        ASSERT_NE(state, nullptr);
        constexpr u32 kPicks = 100000;
        u32 counts[3] = {};
        for (u32 n = 0; n < kPicks; ++n) {
            u16 index = 0;
            ASSERT_TRUE(container->PickRandom(*state, index)) << c.name;
            ++counts[index];
        }
        for (u32 i = 0; i < 3; ++i)
            EXPECT_NEAR(counts[i] / double(kPicks), c.shares[i], 0.01) << c.name << " item " << i;
        if (c.weights[0] == 1) {
            EXPECT_NEAR(double(counts[1]) / counts[0], 3.0, 0.09) << c.name;
        }
    }
}

TEST_F(ContainerTest, SequencesStepForwardAndTurnBackWhenAsked) {
    Sounds({0x10, 0x20, 0x30, 0x40});
    struct Case {
        u8 flags;
        std::vector<u32> expected;
    };
    const Case cases[] = {
        {0x04, {0x10, 0x20, 0x30, 0x40, 0x30, 0x20, 0x10, 0x20}},
        {0x00, {0x10, 0x20, 0x30, 0x40, 0x10, 0x20}},
    };
    u32 id = 0x900;
    for (const Case& c : cases) {
        bankgen::RandomSequenceRecord record = Record(++id, 1, {});
        record.playlist = {{0x10, AU_PLAYLIST_UNWEIGHTED},
                           {0x20, AU_PLAYLIST_UNWEIGHTED},
                           {0x30, AU_PLAYLIST_UNWEIGHTED},
                           {0x40, AU_PLAYLIST_UNWEIGHTED}};
        record.flags = c.flags;
        CAuRandomSequenceContainer* container = Container(record);
        ASSERT_NE(container, nullptr);
        EXPECT_EQ(Plays(*container, static_cast<u32>(c.expected.size())), c.expected) << int(c.flags);
    }
}

TEST_F(ContainerTest, APickIsRecordedInThePathAndAMissingChildGivesWayToTheNextOne) {
    Sounds({0x10, 0x30});
    CAuRandomSequenceContainer* container = Container(Record(0x900, 1, {}));
    ASSERT_NE(container, nullptr);
    for (u32 child : {0x10u, 0x20u, 0x30u})
        ASSERT_EQ(container->AddPlaylistItem(child, AU_PLAYLIST_UNWEIGHTED), AuResultSuccess);
    // 0x20 is in no table: the sequence moves on to 0x30 within the same play.
    EXPECT_EQ(Plays(*container, 3), (std::vector<u32>{0x10, 0x30, 0x10}));
    ASSERT_EQ(m_instances.paths.size(), 3u);
    EXPECT_EQ(m_instances.paths[1].depth, 1u);
    EXPECT_EQ(m_instances.paths[1].index[0], 2u);
    EXPECT_EQ(m_instances.paths[1].continuousMask, 0u);

    // A standard random container takes the next item along: 0x20 is drawn, 0x30 plays.
    CAuRandomSequenceContainer* random = Container(Record(0x901, 0, {}));
    ASSERT_NE(random, nullptr);
    for (u32 child : {0x10u, 0x20u, 0x30u})
        ASSERT_EQ(random->AddPlaylistItem(child, AU_PLAYLIST_UNWEIGHTED), AuResultSuccess);
    const int script[] = {1};
    win32test::ScriptRand(script, 1);
    EXPECT_EQ(Plays(*random, 1), std::vector<u32>{0x30});

    // Nothing playable at all: the play fails.
    CAuRandomSequenceContainer* empty = Container(Record(0x902, 0, {}));
    ASSERT_NE(empty, nullptr);
    ASSERT_EQ(empty->AddPlaylistItem(0x77, AU_PLAYLIST_UNWEIGHTED), AuResultSuccess);
    ASSERT_EQ(empty->AddPlaylistItem(0x78, AU_PLAYLIST_UNWEIGHTED), AuResultSuccess);
    AuNodePlayParams params;
    EXPECT_EQ(empty->ExecutePlay(params), AuResultFail);
}

// ---- States ----

TEST_F(ContainerTest, EachGameObjectHasItsOwnPositionWhichGoesWithTheObject) {
    Sounds({0x10, 0x20, 0x30});
    CAuRandomSequenceContainer* container = Container(Record(0x900, 1, {0x10, 0x20, 0x30}));
    ASSERT_NE(container, nullptr);
    CAuRegisteredObj* a = GameObject(7);
    CAuRegisteredObj* b = GameObject(3);

    // Global scope: one position for every object.
    container->SetPackedFlag(AU_RANSEQ_GLOBAL_SCOPE, true);
    EXPECT_EQ(Plays(*container, 1, a), std::vector<u32>{0x10});
    EXPECT_EQ(Plays(*container, 1, b), std::vector<u32>{0x20});
    EXPECT_EQ(container->NumObjectStates(), 0u);

    container->SetPackedFlag(AU_RANSEQ_GLOBAL_SCOPE, false);
    EXPECT_EQ(container->GlobalState(), nullptr) << "a scope change forgets every position";
    EXPECT_EQ(Plays(*container, 2, a), (std::vector<u32>{0x10, 0x20}));
    EXPECT_EQ(Plays(*container, 1, b), std::vector<u32>{0x10});
    EXPECT_EQ(Plays(*container, 1, nullptr), std::vector<u32>{0x10}) << "no object: the global position";
    EXPECT_EQ(Plays(*container, 1, a), std::vector<u32>{0x30});
    EXPECT_EQ(container->NumObjectStates(), 2u);

    // The object names the container among the nodes that keep values for it; its end reaches
    // the container as the registry's links do.
    std::vector<u32> modified;
    a->ForEachModifiedNode([&](const AuModifiedNode& node) { modified.push_back(node.nodeID); });
    EXPECT_EQ(modified, std::vector<u32>{0x900});
    container->ForgetObject(a);
    EXPECT_EQ(container->FindObjectState(7), nullptr);
    EXPECT_NE(container->FindObjectState(3), nullptr);
    EXPECT_EQ(Plays(*container, 1, a), std::vector<u32>{0x10}) << "a new position from the start";
    EXPECT_EQ(Plays(*container, 1, b), std::vector<u32>{0x20});
}

TEST_F(ContainerTest, ChangingAPlaylistSettingAfterAPlayStopsTheContainerAndForgetsPositions) {
    Sounds({0x10, 0x20, 0x30});
    bankgen::RandomSequenceRecord record = Record(0x900, 1, {0x10, 0x20, 0x30});
    CAuRandomSequenceContainer* container = Container(record);
    ASSERT_NE(container, nullptr);
    container->SetAvoidRepeatCount(2);
    EXPECT_TRUE(m_instances.stopped.empty()) << "never played: nothing to stop";

    // Something plays below the container, as the instance manager would count it.
    EXPECT_EQ(Plays(*container, 2), (std::vector<u32>{0x10, 0x20}));
    CAuNodeBase* child = container->Child(1);
    ASSERT_TRUE(child->IncrementActivityCount(0));
    child->Activity()->playing = 1;

    container->SetAvoidRepeatCount(2);
    EXPECT_TRUE(m_instances.stopped.empty()) << "an unchanged value changes nothing";
    EXPECT_NE(container->GlobalState(), nullptr);

    container->SetAvoidRepeatCount(1);
    EXPECT_EQ(m_instances.stopped, std::vector<u32>{0x20});
    EXPECT_EQ(container->GlobalState(), nullptr);
    EXPECT_EQ(Plays(*container, 1), std::vector<u32>{0x10}) << "the sequence starts again";

    child->Activity()->playing = 0;
    child->DecrementActivityCount(0);
}

} // namespace
