#include "BankFakes.h"
#include "BankTestSupport.h"
#include "BusOpsFake.h"
#include "TestNodes.h"

#include "banks/AuBankChunks.h"
#include "banks/AuBankFileNames.h"
#include "banks/AuBankReader.h"
#include "core/AuAudioMgr.h"
#include "core/AuMsgPayloads.h"
#include "core/AuOutputTiming.h"
#include "core/AuPendingAction.h"
#include "core/AuRegistryMgr.h"
#include "core/AuThreads.h"
#include "core/AuTransitionMgr.h"
#include "hierarchy/AuBus.h"
#include "hierarchy/AuHierarchyLoader.h"
#include "hierarchy/AuSound.h"
#include "parameters/AuRTPCMgr.h"

#include <AuLogCapture.h>
#include <bankgen/Bank.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// The audio manager's frame counter and pending list, as the audio pass moves them.
class CAuAudioMgrTestAccess {
public:
    static void NextFrame(CAuAudioMgr& audio) {
        ++audio.m_uFrameCounter;
        audio.ProcessPendingList();
    }
    static CAuAction* FirstPendingAction(CAuAudioMgr& audio) {
        const auto* link = audio.m_pendingList.First();
        return link ? link->pRecord->pAction : nullptr;
    }
};

namespace {

using banktest::Bytes;
using banktest::RecordingBusOps;
using nodetest::TestNode;

constexpr u32 kMaster = 0xE2B7BC37, kMusicBus = 0x9FCA9ECD, kSfxBus = 0x0CB96245;
constexpr u32 kSfxVolume = 0x01415798;

// A bus whose slot 17 and slot 46 leave a line in the node trace.
class TracingBus : public CAuBus {
public:
    static TracingBus* Make(u32 id) {
        void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(TracingBus));
        auto* bus = new (memory) TracingBus(id);
        EXPECT_EQ(bus->Init(), AuResultSuccess);
        return bus;
    }
    AURESULT ExecuteAction(const AuActionExec& exec) override {
        nodetest::Trace("exec bus " + std::to_string(key));
        return CAuBus::ExecuteAction(exec);
    }
    AURESULT ExecuteActionExceptChecked(const AuActionExec& exec) override {
        nodetest::Trace("except bus " + std::to_string(key));
        return CAuBus::ExecuteActionExceptChecked(exec);
    }
    void PauseTransitions(bool pause) override {
        nodetest::Trace(std::string(pause ? "pause " : "resume ") + std::to_string(key));
    }

private:
    explicit TracingBus(u32 id) : CAuBus(id) {}
};

class TracingNode : public TestNode {
public:
    using TestNode::TestNode;
    AURESULT ExecuteAction(const AuActionExec& exec) override {
        nodetest::Trace("exec node " + std::to_string(key));
        return TestNode::ExecuteAction(exec);
    }
    AURESULT ExecuteActionExceptChecked(const AuActionExec&) override {
        nodetest::Trace("except node " + std::to_string(key));
        return AuResultSuccess;
    }
};

bankgen::BusRecord Bus(u32 id, u32 parent = 0) {
    bankgen::BusRecord bus;
    bus.id = id;
    bus.parent = parent;
    return bus;
}

class BusTest : public banktest::BankTest {
protected:
    void SetUp() override {
        BankTest::SetUp();
        nodetest::g_live = 0;
        nodetest::g_trace.clear();
        g_pIndex = &m_index;
        m_index.Init();
        g_pRTPCMgr = &m_rtpc;
        ASSERT_EQ(m_rtpc.Init(), AuResultSuccess);
        ASSERT_EQ(m_transitions.Init(0), AuResultSuccess);
        g_pTransitionMgr = &m_transitions;
        AuInstallCoreHierarchyLoaders();
        ASSERT_EQ(m_audio.Init(0), AuResultSuccess);
        g_pAudioMgr = &m_audio;
        AuSetFirstBusRead(false);
        CAuBus::ClearMasterBusses();
    }
    void TearDown() override {
        m_audio.ClearPendingList();
        m_audio.ClearPausedList();
        m_audio.Term();
        g_pAudioMgr = nullptr;
        for (AuBankObjectList& list : m_lists)
            AuReleaseBankObjects(list);
        AuSetHierarchyLoader(AuHierarchyTypeBus, {});
        AuSetHierarchyLoader(AuHierarchyTypeDefaultBus, {});
        AuSetHierarchyLoader(AuHierarchyTypeBusType20, {});
        AuSetBankLoadHooks(nullptr, nullptr);
        AuSetDefaultBusSource(nullptr);
        EXPECT_EQ(nodetest::g_live.load(), 0);
        for (u32 table = 0; table < AuIndexTableCount; ++table)
            EXPECT_EQ(m_index.Table(AuIndexTableId(table)).Count(), 0u) << table;
        m_transitions.Term();
        g_pTransitionMgr = nullptr;
        EXPECT_EQ(m_rtpc.SubscriptionCount(), 0u);
        m_rtpc.Term();
        g_pRTPCMgr = nullptr;
        m_index.Term();
        g_pIndex = nullptr;
        EXPECT_EQ(Used(), m_usedAtStart);
        BankTest::TearDown();
    }
    static Bytes Build(u32 bankID, std::vector<bankgen::Record> records) {
        bankgen::BankBuilder builder(bankID);
        for (bankgen::Record& record : records)
            builder.Add(std::move(record));
        Bytes out;
        std::vector<std::string> errors;
        EXPECT_TRUE(builder.Build(out, errors)) << (errors.empty() ? "" : errors.front());
        return out;
    }
    // Reads the image as bank number `bank` of the test, as the bank manager does: opened with
    // its list, closed with none.
    AURESULT Load(u32 bank, const Bytes& image) {
        CAuBankReader reader;
        reader.Init();
        reader.SetMemory(image.data(), static_cast<u32>(image.size()));
        banktest::RecordingSinks others;
        m_loader.BeginBank(&m_lists[bank], nullptr, 0xB0 + bank);
        CAuBankFileNames names;
        AuBankChunkSinks sinks = others.Sinks(&names);
        sinks.pHierarchy = &m_loader;
        AuBankHeader header;
        const AURESULT result = AuReadBank(reader, AuBankLoadModeLoad, false, sinks, header);
        m_loader.BeginBank(nullptr, nullptr, 0);
        names.Term();
        return result;
    }
    AURESULT LoadInit(u32 bank) {
        std::ifstream file(std::string(TORVIK_SOUNDBANKS_DIR) + "/Init.bnk", std::ios::binary);
        EXPECT_TRUE(file.good());
        const Bytes image{std::istreambuf_iterator<char>(file), {}};
        return Load(bank, image);
    }
    CAuBus* Find(u32 id) {
        auto* bus = static_cast<CAuBus*>(m_index.GetPtrAndAddRef(AuIndexBusses, id));
        if (bus) bus->Release(); // the bank's list keeps it
        return bus;
    }
    // The transitions' and the pending actions' part of each audio frame.
    void RunFrames(u32 count) {
        for (u32 i = 0; i < count; ++i) {
            m_transitions.ProcessTransitionsList(++m_frame);
            CAuAudioMgrTestAccess::NextFrame(m_audio);
        }
    }
    static f32 SumOfOffsets(const RecordingBusOps& ops, u32 busID) {
        f32 sum = 0.0f;
        char prefix[32];
        snprintf(prefix, sizeof(prefix), "offset %08X ", busID);
        for (const std::string& line : ops.calls)
            if (line.rfind(prefix, 0) == 0) sum += std::stof(line.substr(strlen(prefix)));
        return sum;
    }

    CAuObjectIndex m_index;
    CAuRTPCMgr m_rtpc;
    CAuTransitionMgr m_transitions;
    CAuAudioMgr m_audio;
    CAuHierarchyLoader m_loader;
    AuBankObjectList m_lists[3];
    u32 m_frame = 0;
};

TEST_F(BusTest, TheInitBankMakesTheMasterBusPrimaryWithMusicAndSfxBelowIt) {
    ASSERT_EQ(LoadInit(0), AuResultSuccess);
    CAuBus* primary = CAuBus::GetPrimaryMasterBus();
    ASSERT_NE(primary, nullptr);
    EXPECT_EQ(primary->key, kMaster);
    EXPECT_TRUE(primary->BusFlags() & AU_BUS_PRIMARY_TREE);
    ASSERT_EQ(primary->BusChildCount(), 2u);
    // Sorted by ID.
    EXPECT_EQ(primary->BusChild(0)->key, kSfxBus);
    EXPECT_EQ(primary->BusChild(1)->key, kMusicBus);
    EXPECT_EQ(primary->ChildCount(), 2u);
    primary->Release();
    EXPECT_EQ(CAuBus::GetSecondaryMasterBus(), nullptr);
    for (u32 id : {kMusicBus, kSfxBus}) {
        CAuBus* bus = Find(id);
        ASSERT_NE(bus, nullptr);
        EXPECT_EQ(bus->Bus(), Find(kMaster));
        EXPECT_TRUE(bus->MixesOnItsOwn()) << "flags 3 bit 0";
        EXPECT_TRUE(bus->BusFlags() & AU_BUS_PRIMARY_TREE) << "pushed down from the master";
        EXPECT_TRUE(bus->HasRTPC(AuPropID_BusVolume));
    }
    EXPECT_TRUE(AuFirstBusRead());
}

TEST_F(BusTest, TopLevelBussesArePrimaryThenSecondaryThenPlainAndThePrimarysEndClearsTheFlag) {
    ASSERT_EQ(Load(0, Build(0xB0, {Bus(1)})), AuResultSuccess);
    ASSERT_EQ(Load(1, Build(0xB1, {Bus(2), Bus(3)})), AuResultSuccess);
    CAuBus* primary = CAuBus::GetPrimaryMasterBus();
    CAuBus* secondary = CAuBus::GetSecondaryMasterBus();
    ASSERT_NE(primary, nullptr);
    ASSERT_NE(secondary, nullptr);
    EXPECT_EQ(primary->key, 1u);
    EXPECT_EQ(secondary->key, 2u);
    EXPECT_FALSE(secondary->BusFlags() & AU_BUS_PRIMARY_TREE);
    EXPECT_FALSE(Find(3)->BusFlags() & AU_BUS_PRIMARY_TREE);
    EXPECT_TRUE(Find(3)->IsTopLevelBus());
    primary->Release();
    secondary->Release();

    AuReleaseBankObjects(m_lists[0]);
    EXPECT_EQ(CAuBus::GetPrimaryMasterBus(), nullptr);
    EXPECT_FALSE(AuFirstBusRead());
    // The next bank's first bus starts the master busses afresh.
    ASSERT_EQ(Load(2, Build(0xB2, {Bus(4)})), AuResultSuccess);
    primary = CAuBus::GetPrimaryMasterBus();
    ASSERT_NE(primary, nullptr);
    EXPECT_EQ(primary->key, 4u);
    primary->Release();
    EXPECT_EQ(CAuBus::GetSecondaryMasterBus(), nullptr);
    AuReleaseBankObjects(m_lists[1]);
}

// The state manager's sweeps, recorded.
class SweepRecorder final : public IAuStateMembership {
public:
    SweepRecorder() { AuSetStateMembership(this); }
    ~SweepRecorder() { AuSetStateMembership(nullptr); }
    AURESULT AddStateGroupMember(u32, CAuStateGroupRecord*) override { return AuResultSuccess; }
    void RemoveStateGroupMember(u32, CAuStateGroupRecord*) override {}
    u32 GetState(u32) override { return 0; }
    void RemoveAllStateGroups(bool onlyEmpty) override { sweeps.push_back(onlyEmpty); }
    std::vector<bool> sweeps;
};

TEST_F(BusTest, OnlyThePrimaryMasterBusesEndFreesTheStateGroupsLeftEmpty) {
    SweepRecorder states;
    ASSERT_EQ(Load(0, Build(0xB0, {Bus(1)})), AuResultSuccess);
    ASSERT_EQ(Load(1, Build(0xB1, {Bus(2), Bus(3, 2)})), AuResultSuccess);
    AuReleaseBankObjects(m_lists[1]);
    EXPECT_TRUE(states.sweeps.empty()) << "the secondary and a plain bus";
    AuReleaseBankObjects(m_lists[0]);
    EXPECT_EQ(states.sweeps, std::vector<bool>{true});
}

TEST_F(BusTest, ALoadedBusSendsItsVolumeAndTheSfxSliderThenOffsetsIt) {
    RecordingBusOps ops;
    ASSERT_EQ(m_rtpc.SetDefaultParamValue(kSfxVolume, 100.0f), AuResultSuccess);
    ASSERT_EQ(m_rtpc.SetDefaultParamValue(0x7B5FA2EB, 100.0f), AuResultSuccess);
    ASSERT_EQ(LoadInit(0), AuResultSuccess);
    // Each bus's last word after the read is the volume of its whole record.
    for (u32 id : {kMaster, kMusicBus, kSfxBus}) {
        const std::string prefix = banktest::Line("volume %08X ", id);
        std::string last;
        for (const std::string& line : ops.calls)
            if (line.rfind(prefix, 0) == 0) last = line;
        EXPECT_EQ(last, banktest::Line("volume %08X 0.00", id));
    }
    ops.calls.clear();
    // The slider at 0: silence, the curve's -1 in decibels.
    ASSERT_EQ(m_rtpc.SetRTPCImmediate(kSfxVolume, 0.0f, AuRTPCKey{}), AuResultSuccess);
    EXPECT_EQ(ops.calls, std::vector<std::string>{banktest::Line("offset %08X -4096.00", kSfxBus)});

    // A pass-through bus tells the lower engine nothing when it is read.
    ops.calls.clear();
    bankgen::BusRecord quiet = Bus(0x51, kMaster);
    quiet.props = {bankgen::PropF(AuPropID_BusVolume, -4.0f)};
    bankgen::BusRecord loud = Bus(0x52, kMaster);
    loud.props = {bankgen::PropF(AuPropID_BusVolume, -4.0f)};
    loud.flags3 = 1;
    ASSERT_EQ(Load(1, Build(0xB1, {quiet, loud})), AuResultSuccess);
    EXPECT_EQ(ops.calls, std::vector<std::string>{banktest::Line("volume %08X -4.00", 0x52)});
}

TEST_F(BusTest, ATypeTwentyBusIsABusOfItsOwnCategoryThatAlwaysMixesOnItsOwn) {
    RecordingBusOps ops;
    bankgen::BusRecord twenty = Bus(0x20, 1);
    twenty.type = bankgen::HierarchyType::BusType20;
    twenty.props = {bankgen::PropF(AuPropID_BusVolume, -6.0f)};
    twenty.flags2 = 4;
    twenty.maxInstances = 3;
    ASSERT_EQ(Load(0, Build(0xB0, {Bus(1), twenty})), AuResultSuccess);
    CAuBus* bus = Find(0x20);
    ASSERT_NE(bus, nullptr) << "in the bus table";
    EXPECT_EQ(bus->Category(), AuNodeCategory_BusType20);
    EXPECT_TRUE(bus->FlagsB() & AU_NODE_B_IS_BUS);
    EXPECT_EQ(bus->Bus(), Find(1));
    EXPECT_EQ(Find(1)->BusChildCount(), 1u);
    EXPECT_EQ(bus->LimitWord() & 0x3FF, 3u) << "the type-8 payload";
    EXPECT_TRUE(bus->MixesOnItsOwn()) << "no effect, mixer, channels or flag, and a parent";
    EXPECT_EQ(ops.calls.back(), banktest::Line("volume %08X -6.00", 0x20));

    // Found again: kept as it is; the first-bus flag belongs to type 8 alone.
    AuSetFirstBusRead(false);
    twenty.props = {bankgen::PropF(AuPropID_BusVolume, -1.0f)};
    ASSERT_EQ(Load(1, Build(0xB1, {twenty})), AuResultSuccess);
    EXPECT_FALSE(AuFirstBusRead());
    EXPECT_EQ(Find(0x20)->GetPropFloat(AuPropID_BusVolume), -6.0f);
    EXPECT_EQ(Find(0x20)->m_lRef, 2u);
    AuReleaseBankObjects(m_lists[1]);
    AuReleaseBankObjects(m_lists[0]);
}

TEST_F(BusTest, ATypeSeventeenLeafGathersItsMotionVolumesFromItsBusOfTheMotionTree) {
    AuSetFirstBusRead(true);
    bankgen::MotionLeafRecord record;
    record.id = 0x1701;
    bankgen::MotionSource source;
    source.device1 = 3;
    source.device2 = 4;
    source.source.sourceId = 0x6001;
    record.sources = {source};
    bankgen::EncodeContext ctx;
    const Bytes payload = bankgen::EncodePayload(bankgen::Record{record}, ctx);
    CAuLeafType17* leaf = CAuLeafType17::Create(record.id);
    ASSERT_EQ(leaf->SetInitialValues(payload.data(), static_cast<u32>(payload.size()), false),
              AuResultSuccess);
    AuMotionParams params;
    EXPECT_EQ(leaf->GetMotionParams(params, *leaf->Source(0), 0), AuResultFail) << "no bus at all";

    bankgen::BusRecord motion = Bus(0x16);
    motion.type = bankgen::HierarchyType::DefaultBus;
    motion.props = {bankgen::PropF(AuPropID_Volume, -3.0f), bankgen::PropF(AuPropID_Pitch, 100.0f)};
    ASSERT_EQ(Load(0, Build(0xB0, {motion})), AuResultSuccess);
    params.reserved[0] = params.reserved[1] = 7;
    ASSERT_EQ(leaf->GetMotionParams(params, *leaf->Source(0), 0), AuResultSuccess);
    EXPECT_EQ(params.pBus, Find(0x16));
    EXPECT_EQ(leaf->GetExtraOwner(), Find(0x16)) << "the orphan joined the default bus";
    EXPECT_EQ(params.device1, 3u);
    EXPECT_EQ(params.device2, 4u);
    EXPECT_EQ(params.reserved[0] | params.reserved[1], 0u);
    EXPECT_EQ(params.volumes.values[1], -3.0f);
    EXPECT_EQ(params.volumes.values[3], 100.0f);

    // A record that has its devices keeps them, and its bus word.
    AuMotionParams other;
    other.device1 = 9;
    other.device2 = 8;
    ASSERT_EQ(leaf->GetMotionParams(other, *leaf->Source(0), 0), AuResultSuccess);
    EXPECT_EQ(other.pBus, nullptr);
    EXPECT_EQ(other.device1, 9u);
    EXPECT_EQ(other.volumes.values[1], -3.0f);
    leaf->Release();
}

TEST_F(BusTest, ABusFoundAgainInALaterBankIsKept) {
    bankgen::BusRecord child = Bus(2, 1);
    ASSERT_EQ(Load(0, Build(0xB0, {Bus(1), child})), AuResultSuccess);
    child.props = {bankgen::PropF(AuPropID_BusVolume, -6.0f)};
    ASSERT_EQ(Load(1, Build(0xB1, {Bus(1), child})), AuResultSuccess);
    EXPECT_EQ(Find(1)->BusChildCount(), 1u);
    EXPECT_EQ(Find(2)->GetPropFloat(AuPropID_BusVolume), 0.0f);
    // One reference from each bank's list; the parent also holds one for its child.
    EXPECT_EQ(Find(2)->m_lRef, 2u);
    EXPECT_EQ(Find(1)->m_lRef, 3u);
}

TEST_F(BusTest, TheBusPayloadIsReadFieldByField) {
    bankgen::BusRecord bus = Bus(7);
    bus.props = {bankgen::PropF(AuPropID_BusVolume, -3.0f)};
    bus.flags1 = 3;
    bus.flags2 = 7;
    bus.maxInstances = 0xFC05;
    bus.channelConfig = 0x3102;
    bus.flags3 = 3;
    bus.recoveryMs = 500;
    bus.maxDuckVolume = -40.0f;
    bus.ducks = {{9, -6.0f, 100, 200, 4, 5}, {10, -3.0f, 0, 0, 1, 0}};
    bus.mixer = 0x55;
    bus.mixerShareSet = 0;
    bus.overrideAttachedPlugin = 1;
    ASSERT_EQ(Load(0, Build(0xB0, {bus})), AuResultSuccess);
    CAuBus* read = Find(7);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->GetPropFloat(AuPropID_BusVolume), -3.0f);
    EXPECT_TRUE(read->FlagsB() & AU_NODE_B_BANK_BUS_FLAG3);
    EXPECT_TRUE(read->FlagsB() & AU_NODE_B_PANNER_2D);
    EXPECT_TRUE(read->FlagsB() & AU_NODE_B_BANK_BUS_FLAG4);
    EXPECT_EQ(read->FlagsA() & 0x1B, AU_NODE_A_LIMIT_ORDER | AU_NODE_A_USE_VIRTUAL | AU_NODE_A_OWN_LIMIT |
                                         AU_NODE_A_OVERRIDE_PLUGIN);
    EXPECT_EQ(read->LimitWord() & 0x3FF, 5u);
    EXPECT_EQ(read->ChannelConfig().uWord, 0x3102u);
    EXPECT_TRUE(read->BusFlags() & AU_BUS_BANK_FLAG);
    EXPECT_EQ(read->RecoverySamples(), 500u * 48u);
    EXPECT_EQ(read->MaxDuckVolume(), -40.0f);
    EXPECT_EQ(read->DuckTargetCount(), 2u);
    ASSERT_NE(read->Mixer(), nullptr);
    EXPECT_EQ(read->Mixer()->pluginID, 0x55u);
    EXPECT_EQ(read->Mixer()->bShareSet, 0u);
}

TEST_F(BusTest, RecoveryTimesBecomeSamplesAndAtMostOneFrameBecomesZero) {
    struct Case {
        u32 ms;
        u32 samples;
    };
    // 48 samples a millisecond; a frame is 1024 samples (21.3 ms).
    const Case cases[] = {{0, 0}, {21, 0}, {22, 22 * 48}, {1000, 48000}, {0xFFFFFFFFu, 0xFFFFFFFFu}};
    u32 id = 100;
    for (const Case& c : cases) {
        bankgen::BusRecord bus = Bus(++id);
        bus.recoveryMs = c.ms;
        ASSERT_EQ(Load(0, Build(0xB0, {bus})), AuResultSuccess);
        EXPECT_EQ(Find(id)->RecoverySamples(), c.samples) << c.ms;
        AuReleaseBankObjects(m_lists[0]);
    }
}

TEST_F(BusTest, BadBusRecordsAreRefusedWithoutLeaks) {
    AuLogCapture log;
    // A parent bus that is not loaded.
    EXPECT_EQ(Load(0, Build(0xB0, {Bus(2, 1)})), AuResultFail);
    AuReleaseBankObjects(m_lists[0]);
    // A duck-target count past the record: 7 before anything is allocated.
    bankgen::BusRecord bus = Bus(3);
    bus.ducks = {{9, -6.0f, 100, 200, 4, 5}};
    bankgen::EncodeContext ctx;
    Bytes payload = bankgen::EncodePayload(bankgen::Record{bus}, ctx);
    // The count sits after ID, parent, an empty bundle and the 18 bytes of fields.
    const u32 countAt = 4 + 4 + 1 + 4 + 4 + 1 + 4 + 4;
    ASSERT_EQ(payload[countAt], 1u);
    payload[countAt] = 200;
    Bytes hirc = banktest::U32s({1});
    hirc.push_back(AuHierarchyTypeBus);
    const Bytes size = banktest::U32s({static_cast<u32>(payload.size())});
    hirc.insert(hirc.end(), size.begin(), size.end());
    hirc.insert(hirc.end(), payload.begin(), payload.end());
    const u32 usedBefore = Used();
    EXPECT_EQ(Load(0, banktest::Concat({banktest::Header(), banktest::Chunk("HIRC", hirc)})),
              AuResultBadHeader);
    AuReleaseBankObjects(m_lists[0]);
    EXPECT_EQ(Used(), usedBefore);
    // More than 100 duck targets: the 101st has no room.
    bankgen::BusRecord many = Bus(4);
    for (u32 i = 0; i < 101; ++i)
        many.ducks.push_back({1000 + i, -1.0f, 0, 0, 4, 5});
    EXPECT_EQ(Load(0, Build(0xB0, {many})), AuResultFail);
    AuReleaseBankObjects(m_lists[0]);
    // Channel words the voice side may refuse are kept as read.
    bankgen::BusRecord odd = Bus(5);
    odd.channelConfig = 0xFFFFF0FF; // count 255, unknown type and mask
    ASSERT_EQ(Load(0, Build(0xB0, {odd})), AuResultSuccess);
    EXPECT_EQ(Find(5)->ChannelConfig().uWord, 0xFFFFF0FFu);
}

// Which busses mix on their own, and what RecalcProps sends for them: the whole accumulated bus
// volume (states, bundle, curve, run-time value, ducks and the pass-through busses above).
TEST_F(BusTest, APassThroughBusFoldsItsVolumeAndEveryOtherBusSendsItsOwn) {
    RecordingBusOps ops;
    constexpr u32 kParam = 0x99, kLoadedEffect = 0x77;
    ASSERT_EQ(m_rtpc.SetDefaultParamValue(kParam, 50.0f), AuResultSuccess);
    struct Case {
        const char* what;
        void (*shape)(bankgen::BusRecord&);
        bool mixes;
        f32 above; // the folded volume of the busses above that pass theirs through
    };
    const Case cases[] = {
        {"pass-through", [](bankgen::BusRecord&) {}, false, -3.0f},
        {"effect",
         [](bankgen::BusRecord& b) {
             b.effects = {{0, kLoadedEffect, 1, 0}};
         },
         true, -3.0f},
        {"effect not loaded",
         [](bankgen::BusRecord& b) {
             b.effects = {{3, 0x78, 0, 0}};
         },
         true, -3.0f},
        {"mixer", [](bankgen::BusRecord& b) { b.mixer = 0x78; }, true, -3.0f},
        {"channels", [](bankgen::BusRecord& b) { b.channelConfig = 0x3102; }, true, -3.0f},
        {"flag B3", [](bankgen::BusRecord& b) { b.flags1 = 1; }, true, -3.0f},
        {"flag B4", [](bankgen::BusRecord& b) { b.flags3 = 1; }, true, -3.0f},
        {"no parent", [](bankgen::BusRecord& b) { b.parent = 0; }, true, 0.0f},
    };
    u32 id = 0x10;
    for (const Case& c : cases) {
        // top (-2, mixes) <- pass-through (-3) <- the bus of the case <- a leaf that mixes (-7).
        bankgen::PluginSettingsRecord effect{
            bankgen::HierarchyType::SharedPluginSettings, kLoadedEffect, bankgen::kNoPlugin, {}, {}, {}, {}};
        bankgen::BusRecord top = Bus(1);
        top.props = {bankgen::PropF(AuPropID_BusVolume, -2.0f)};
        bankgen::BusRecord pass = Bus(2, 1);
        pass.props = {bankgen::PropF(AuPropID_BusVolume, -3.0f)};
        bankgen::BusRecord shaped = Bus(++id, 2);
        shaped.props = {bankgen::PropF(AuPropID_BusVolume, -5.0f)};
        bankgen::RtpcCurve curve;
        curve.gameParameter = kParam;
        curve.target = AuPropID_BusVolume;
        curve.points = {{0.0f, 0.0f, 4}, {100.0f, -4.0f, 4}}; // -2 dB at the parameter's 50
        shaped.rtpcs = {curve};
        c.shape(shaped);
        bankgen::BusRecord leaf = Bus(0x100 + id, id);
        leaf.flags3 = 1;
        leaf.props = {bankgen::PropF(AuPropID_BusVolume, -7.0f)};
        ASSERT_EQ(Load(0, Build(0xB0, {effect, top, pass, shaped, leaf})), AuResultSuccess);
        CAuBus* bus = Find(id);
        EXPECT_EQ(bus->MixesOnItsOwn(), c.mixes) << c.what;
        ASSERT_EQ(
            bus->SetValueFromAction(AuPropID_BusVolume, -1.0f, nullptr, 0, AuCurveInterpolation_Linear, 0),
            AuResultSuccess);
        // Its own -5 (bundle), -2 (curve) and -1 (run-time value), then what passes through above.
        const f32 accumulated = -8.0f + c.above;
        EXPECT_EQ(bus->GetAccumulatedProp(0, AuPropID_BusVolume), accumulated) << c.what;
        ops.calls.clear();
        bus->RecalcProps(0);
        if (c.mixes) {
            EXPECT_EQ(ops.calls,
                      std::vector<std::string>{banktest::Line("volume %08X %.2f", id, accumulated)})
                << c.what;
            EXPECT_EQ(bus->FoldedBusVolume(), 0.0f) << c.what;
        } else {
            EXPECT_TRUE(ops.calls.empty()) << c.what;
            EXPECT_EQ(bus->FoldedBusVolume(), accumulated) << c.what;
            // An effect given at run time makes it mix on its own: the lower engine learns its
            // volume at once, and the leaf below no longer adds it.
            ASSERT_EQ(bus->SetEffect(1, kLoadedEffect, true, AU_EFFECT_STAMP_API), AuResultSuccess);
            EXPECT_TRUE(bus->MixesOnItsOwn());
            EXPECT_EQ(ops.calls,
                      (std::vector<std::string>{banktest::Line("volume %08X %.2f", id, accumulated),
                                                banktest::Line("effect %08X 1", id)}));
            EXPECT_EQ(bus->FoldedBusVolume(), 0.0f);
            ops.calls.clear();
            Find(0x100 + id)->RecalcProps(0);
            EXPECT_EQ(ops.calls, std::vector<std::string>{banktest::Line("volume %08X -7.00", 0x100 + id)});
            ASSERT_EQ(bus->SetEffect(1, 0, true, AU_EFFECT_STAMP_API), AuResultSuccess);
            EXPECT_FALSE(bus->MixesOnItsOwn());
            EXPECT_EQ(bus->FoldedBusVolume(), accumulated);
        }
        ops.calls.clear();
        Find(0x100 + id)->RecalcProps(0);
        // The leaf adds the bus above only when that one passes its volume through.
        EXPECT_EQ(ops.calls, std::vector<std::string>{banktest::Line("volume %08X %.2f", 0x100 + id,
                                                                     c.mixes ? -7.0f : -7.0f + accumulated)})
            << c.what;
        EXPECT_EQ(Find(0x100 + id)->GetAccumulatedProp(1, AuPropID_BusVolume),
                  -15.0f + (c.above == 0.0f ? 0.0f : -5.0f))
            << c.what << ": mode 1 adds every bus above";
        // Without a parent a bus mixes on its own whatever its record says.
        EXPECT_TRUE(Find(1)->MixesOnItsOwn());
        ops.calls.clear();
        Find(1)->RecalcProps(0);
        EXPECT_EQ(ops.calls, std::vector<std::string>{banktest::Line("volume %08X -2.00", 1)});
        AuReleaseBankObjects(m_lists[0]);
        AuSetFirstBusRead(false);
    }
}

TEST_F(BusTest, TheSfxSliderTakesTheSfxBusDownThroughItsCurve) {
    RecordingBusOps ops;
    ASSERT_EQ(LoadInit(0), AuResultSuccess);
    ASSERT_EQ(m_rtpc.SetDefaultParamValue(kSfxVolume, 100.0f), AuResultSuccess);
    CAuBus* sfx = Find(kSfxBus);
    ops.calls.clear();
    sfx->RecalcProps(0);
    ASSERT_EQ(ops.calls.size(), 1u);
    EXPECT_EQ(ops.calls[0], banktest::Line("volume %08X 0.00", kSfxBus));
    ops.calls.clear();
    // Half the gain at 50, silence only at 0.
    ASSERT_EQ(m_rtpc.SetRTPCImmediate(kSfxVolume, 50.0f, AuRTPCKey{}), AuResultSuccess);
    ASSERT_EQ(ops.calls.size(), 1u);
    EXPECT_EQ(ops.calls[0], banktest::Line("offset %08X -6.02", kSfxBus));
    ops.calls.clear();
    ASSERT_EQ(m_rtpc.SetRTPCImmediate(kSfxVolume, 0.0f, AuRTPCKey{}), AuResultSuccess);
    ASSERT_EQ(ops.calls.size(), 1u);
    EXPECT_EQ(ops.calls[0], banktest::Line("offset %08X -4089.98", kSfxBus)); // from -6.02
    EXPECT_NEAR(sfx->GetAccumulatedProp(0, AuPropID_BusVolume), -4096.0f, 1e-3);
}

// A bus that keeps a copy of the value record as the walk reaches it, made by the bus loader
// entry in place of a plain bus.
class ValuesRecordingBus final : public CAuBus {
public:
    struct Seen {
        u32 bus;
        AuAccumulatedValues values;
    };
    static AuHierarchyLoaderEntry LoaderEntry() {
        return AuHierarchyLoaderEntry{AuIndexBusses, &Create, &Read, nullptr, nullptr};
    }
    void GetAccumulatedValues(AuAccumulatedValues& values, CAuRegisteredObj* gameObj) override {
        seen.push_back({key, values});
        CAuBus::GetAccumulatedValues(values, gameObj);
    }
    static inline std::vector<Seen> seen;

private:
    explicit ValuesRecordingBus(u32 id) : CAuBus(id) {}
    static CAuIndexable* Create(u32 id, const u8*, u32) {
        void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(ValuesRecordingBus));
        auto* bus = new (memory) ValuesRecordingBus(id);
        EXPECT_EQ(bus->Init(), AuResultSuccess);
        return bus;
    }
    static AURESULT Read(CAuIndexable& object, const u8* payload, u32 size, bool) {
        AuRecordCursor cursor(payload, size);
        return static_cast<CAuBus&>(object).SetInitialValues(cursor);
    }
};

// A sound on "SFX_Bus" under the master: the sound's bundle, curves and two holders come first,
// then each bus adds properties 2 to 4 (its bundle and run-time value) on the way up.
TEST_F(BusTest, ASoundsAudioParametersAddTheSoundThenTheSfxBusThenTheMaster) {
    ValuesRecordingBus::seen.clear();
    AuSetHierarchyLoader(AuHierarchyTypeBus, ValuesRecordingBus::LoaderEntry());
    ASSERT_EQ(LoadInit(0), AuResultSuccess);
    constexpr u32 kParam = 0x77, kSound = 0x1001;
    ASSERT_EQ(m_rtpc.SetDefaultParamValue(kParam, 50.0f), AuResultSuccess);

    bankgen::SoundRecord record;
    record.id = kSound;
    record.source.sourceId = 0x2001;
    record.source.fileId = 0xB1;
    record.source.fileOffset = 0x100;
    record.source.inMemorySize = 5828;
    record.node.outputBus = kSfxBus;
    record.node.props = {bankgen::PropF(AuPropID_Volume, -4.0f), bankgen::PropF(AuPropID_Pitch, 100.0f),
                         bankgen::PropF(3, 10.0f), bankgen::PropF(4, 20.0f)};
    record.node.ranges = {bankgen::RangeF(3, 2.0f, 2.0f)};
    bankgen::RtpcCurve volume;
    volume.gameParameter = kParam;
    volume.target = AuPropID_Volume;
    volume.curveId = 1;
    volume.points = {{0.0f, 0.0f, 4}, {100.0f, -10.0f, 4}}; // -5 at 50
    bankgen::RtpcCurve four = volume;
    four.target = 4;
    four.curveId = 2;
    four.points = {{0.0f, 0.0f, 4}, {100.0f, 8.0f, 4}}; // +4 at 50
    record.node.rtpcs = {volume, four};
    ASSERT_EQ(Load(1, Build(0xB1, {record})), AuResultSuccess);
    auto* sound = static_cast<CAuSound*>(m_index.GetPtrAndAddRef(AuIndexNodes, kSound));
    ASSERT_NE(sound, nullptr);
    sound->Release(); // the bank's list keeps it
    ASSERT_EQ(sound->Bus(), Find(kSfxBus));

    // Run-time values: the sound's global holder, then the game object's.
    auto* object = new (AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuRegisteredObj))) CAuRegisteredObj(5);
    const auto set = [](CAuNodeBase* node, u8 prop, f32 value, CAuRegisteredObj* gameObj) {
        ASSERT_EQ(node->SetValueFromAction(prop, value, gameObj, 0, AuCurveInterpolation_Linear, 0),
                  AuResultSuccess);
    };
    set(sound, AuPropID_Volume, -0.5f, nullptr);
    set(sound, AuPropID_Pitch, 3.0f, nullptr);
    set(sound, AuPropID_Level, 0.0f, nullptr);
    set(sound, AuPropID_Volume, -0.25f, object);
    set(sound, 4, 2.0f, object);
    set(sound, AuPropID_Level, 0.5f, object);
    CAuBus* sfx = Find(kSfxBus);
    CAuBus* master = Find(kMaster);
    ASSERT_EQ(sfx->SetAuProp(AuPropID_Pitch, 30.0f, 0, 0), AuResultSuccess);
    set(sfx, 3, 6.0f, nullptr);
    set(sfx, AuPropID_Level, 0.0f, nullptr);
    ASSERT_EQ(master->SetAuProp(4, 8.0f, 0, 0), AuResultSuccess);
    set(master, AuPropID_Pitch, 1.5f, nullptr);
    set(master, AuPropID_Level, 0.25f, nullptr);

    AuAccumulatedValues offsets;
    AuAccumulatedValues values;
    values.mask = 0x1F;
    values.key = AuRTPCKey(object);
    values.bDraw = true;
    values.pRandomOffsets = &offsets;
    ValuesRecordingBus::seen.clear();
    sound->GetAccumulatedValues(values, object);

    // Entries 0, 2, 3, 4 and 5 of the record, and the owners of its levels, at each step.
    struct Step {
        const char* where;
        f32 entries[5];
        u32 mask;
        std::vector<std::pair<const void*, f32>> levels;
    };
    // The sound: -4 and -5 (curve), -0.5 and -0.25 (holders); 100 and 3; 10; 20, 4 (curve) and 2.
    // The object's level replaced the global holder's.
    const Step atSfx{"at SFX_Bus", {-9.75f, 103.0f, 10.0f, 26.0f, 0.0f}, 0x1F, {{sound, 0.5f}}};
    // "SFX_Bus" adds 30 to pitch and 6 to property 3; its volumes (and its curve on 5) stay with
    // the bus, and the busses above see only properties 2 to 4 asked for.
    const Step atMaster{
        "at the master", {-9.75f, 133.0f, 16.0f, 26.0f, 0.0f}, 0x0E, {{sound, 0.5f}, {sfx, 0.0f}}};
    // The master adds 8 to property 4 and 1.5 to pitch; the caller's selection is whole again.
    const Step after{"after the walk",
                     {-9.75f, 134.5f, 16.0f, 34.0f, 0.0f},
                     0x1F,
                     {{sound, 0.5f}, {sfx, 0.0f}, {master, 0.25f}}};
    const auto check = [](const Step& step, const AuAccumulatedValues& got) {
        const f32 entries[5] = {got.values[0], got.values[2], got.values[3], got.values[4], got.values[5]};
        for (u32 i = 0; i < 5; ++i)
            EXPECT_EQ(entries[i], step.entries[i]) << step.where << " entry " << i;
        EXPECT_EQ(got.mask, step.mask) << step.where;
        ASSERT_EQ(got.levelCount, step.levels.size()) << step.where;
        for (u32 i = 0; i < got.levelCount; ++i) {
            EXPECT_EQ(got.levels[i].owner, step.levels[i].first) << step.where << " level " << i;
            EXPECT_EQ(got.levels[i].value, step.levels[i].second) << step.where << " level " << i;
        }
    };
    ASSERT_EQ(ValuesRecordingBus::seen.size(), 2u);
    EXPECT_EQ(ValuesRecordingBus::seen[0].bus, kSfxBus);
    check(atSfx, ValuesRecordingBus::seen[0].values);
    EXPECT_EQ(ValuesRecordingBus::seen[1].bus, kMaster);
    check(atMaster, ValuesRecordingBus::seen[1].values);
    check(after, values);
    // The ranged offset went to its own record.
    EXPECT_EQ(offsets.values[3], 2.0f);

    AuReleaseBankObjects(m_lists[1]);
    object->Release();
}

class DuckTest : public BusTest {
protected:
    void SetUp() override {
        BusTest::SetUp();
        // A ducks B by 12 dB: out over 10 buffers of 21 ms, back over 5, with 420 ms of recovery.
        bankgen::BusRecord a = Bus(kA);
        a.recoveryMs = 420;
        a.ducks = {{kB, -12.0f, 210, 105, AuCurveInterpolation_Linear, AuPropID_BusVolume}};
        ASSERT_EQ(Load(0, Build(0xB0, {a, Bus(kB)})), AuResultSuccess);
        ops.calls.clear();
    }
    static constexpr u32 kA = 0xA, kB = 0xB;
    RecordingBusOps ops;
};

TEST_F(DuckTest, APlayDucksTheTargetFrameByFrameHoldsItThroughRecoveryAndFadesItBack) {
    CAuBus* a = Find(kA);
    CAuBus* b = Find(kB);
    AuPlayCountRecord play;
    ASSERT_EQ(a->IncrementPlayCount(&play), AuResultSuccess);
    EXPECT_EQ(a->DuckState(), AuDuckState_Ducking);
    std::vector<f32> ducked;
    for (u32 frame = 0; frame < 12; ++frame) {
        RunFrames(1);
        ducked.push_back(b->GetDuckedVolume(AuPropID_BusVolume));
    }
    EXPECT_NEAR(ducked[4], -6.0f, 0.01f);
    EXPECT_GT(ducked[8], -12.0f);
    EXPECT_EQ(ducked[9], -12.0f);
    EXPECT_EQ(ducked[11], -12.0f);
    for (size_t i = 1; i < ducked.size(); ++i)
        EXPECT_LE(ducked[i], ducked[i - 1]);
    // B mixes on its own: every step reached the lower engine as an offset.
    EXPECT_NEAR(SumOfOffsets(ops, kB), -12.0f, 0.01f);

    a->DecrementPlayCount(&play);
    EXPECT_EQ(a->DuckState(), AuDuckState_Recovering);
    ASSERT_EQ(m_audio.NumPendingItems(), 1u);
    CAuAction* recovery = CAuAudioMgrTestAccess::FirstPendingAction(m_audio);
    EXPECT_EQ(recovery->ActionType(), AU_ACTION_BUS_DELAYED);
    EXPECT_EQ(recovery->key, 0u);
    EXPECT_EQ(recovery->TargetID(), kA);
    EXPECT_TRUE(recovery->Flags() & AU_ACTION_TARGET_IS_BUS);
    EXPECT_EQ(recovery->GetDelay(), 420 * 48);
    // What a stop-all and a pause-all do to the pending actions leaves it waiting.
    m_audio.ClearPendingItems(nullptr, nullptr, 0);
    m_audio.PausePendingItems(nullptr, nullptr, true, 0);
    EXPECT_EQ(m_audio.NumPendingItems(), 1u);
    EXPECT_EQ(m_audio.NumPausedItems(), 0u);

    // 20160 samples: it runs in the 19th frame. Until then B is held.
    RunFrames(18);
    EXPECT_EQ(a->DuckState(), AuDuckState_Recovering);
    EXPECT_EQ(b->GetDuckedVolume(AuPropID_BusVolume), -12.0f);
    RunFrames(1);
    EXPECT_EQ(a->DuckState(), AuDuckState_Idle);
    EXPECT_EQ(m_audio.NumPendingItems(), 0u);
    ducked.clear();
    for (u32 frame = 0; frame < 6; ++frame) {
        RunFrames(1);
        ducked.push_back(b->GetDuckedVolume(AuPropID_BusVolume));
    }
    EXPECT_GT(ducked[3], ducked[0]);
    EXPECT_LT(ducked[3], 0.0f);
    EXPECT_EQ(ducked[4], 0.0f);
    EXPECT_NEAR(SumOfOffsets(ops, kB), 0.0f, 0.01f);
}

TEST_F(DuckTest, ARecoveryOfAtMostOneFrameRestoresAtOnce) {
    bankgen::BusRecord c = Bus(0xC);
    c.recoveryMs = 21; // 1008 samples: within one frame, stored as 0
    c.ducks = {{kB, -6.0f, 0, 0, AuCurveInterpolation_Linear, AuPropID_BusVolume}};
    ASSERT_EQ(Load(1, Build(0xB1, {c})), AuResultSuccess);
    CAuBus* bus = Find(0xC);
    EXPECT_EQ(bus->RecoverySamples(), 0u);
    AuPlayCountRecord play;
    ASSERT_EQ(bus->IncrementPlayCount(&play), AuResultSuccess);
    EXPECT_EQ(Find(kB)->GetDuckedVolume(AuPropID_BusVolume), -6.0f);
    bus->DecrementPlayCount(&play);
    EXPECT_EQ(m_audio.NumPendingItems(), 0u);
    EXPECT_EQ(bus->DuckState(), AuDuckState_Idle);
    EXPECT_EQ(Find(kB)->GetDuckedVolume(AuPropID_BusVolume), 0.0f);
}

TEST_F(DuckTest, ARecoveryThatCannotBeScheduledRestoresAtOnce) {
    AuLogCapture log;
    g_pAudioMgr = nullptr; // no queue to wait in
    CAuBus* a = Find(kA);
    AuPlayCountRecord play;
    ASSERT_EQ(a->IncrementPlayCount(&play), AuResultSuccess);
    RunFrames(10);
    a->DecrementPlayCount(&play);
    EXPECT_EQ(a->DuckState(), AuDuckState_Idle);
    RunFrames(5);
    EXPECT_EQ(Find(kB)->GetDuckedVolume(AuPropID_BusVolume), 0.0f);
    g_pAudioMgr = &m_audio;
}

TEST_F(DuckTest, DucksSumToTheMaximumDuckVolumeAtMostAndAnEmptyListAddsItsPositivePart) {
    struct Case {
        f32 maxDuck;
        std::vector<f32> ducks;
        f32 expected;
    };
    const Case cases[] = {
        {AU_BUS_MIN_DUCK_DB, {}, 0.0f},
        {6.0f, {}, 6.0f},
        {AU_BUS_MIN_DUCK_DB, {-10.0f, -20.0f}, -30.0f},
        {AU_BUS_MIN_DUCK_DB, {-60.0f, -50.0f}, AU_BUS_MIN_DUCK_DB},
        {-20.0f, {-15.0f, -15.0f}, -20.0f},
    };
    u32 id = 0x200;
    for (const Case& c : cases) {
        bankgen::BusRecord target = Bus(++id);
        target.maxDuckVolume = c.maxDuck;
        std::vector<bankgen::Record> records{target};
        for (size_t i = 0; i < c.ducks.size(); ++i) {
            bankgen::BusRecord ducking = Bus(id + 0x100 + static_cast<u32>(i));
            ducking.ducks = {{id, c.ducks[i], 0, 0, AuCurveInterpolation_Linear, AuPropID_BusVolume}};
            records.push_back(ducking);
        }
        ASSERT_EQ(Load(1, Build(0xB1, records)), AuResultSuccess);
        std::vector<AuPlayCountRecord> plays(c.ducks.size());
        for (size_t i = 0; i < c.ducks.size(); ++i)
            ASSERT_EQ(Find(id + 0x100 + static_cast<u32>(i))->IncrementPlayCount(&plays[i]), AuResultSuccess);
        EXPECT_NEAR(Find(id)->GetDuckedVolume(AuPropID_BusVolume), c.expected, 1e-4) << id;
        for (size_t i = 0; i < c.ducks.size(); ++i)
            Find(id + 0x100 + static_cast<u32>(i))->DecrementPlayCount(&plays[i]);
        AuReleaseBankObjects(m_lists[1]);
    }
}

TEST_F(DuckTest, AFullDuckListDoesNotApplyTheNewDuck) {
    AuLogCapture log;
    std::vector<bankgen::Record> records;
    for (u32 i = 0; i <= AU_BUS_MAX_DUCKS; ++i) {
        bankgen::BusRecord ducking = Bus(0x1000 + i);
        ducking.ducks = {{kB, -0.1f, 0, 0, AuCurveInterpolation_Linear, AuPropID_Volume}};
        records.push_back(ducking);
    }
    ASSERT_EQ(Load(1, Build(0xB1, records)), AuResultSuccess);
    std::vector<AuPlayCountRecord> plays(AU_BUS_MAX_DUCKS + 1);
    for (u32 i = 0; i <= AU_BUS_MAX_DUCKS; ++i)
        ASSERT_EQ(Find(0x1000 + i)->IncrementPlayCount(&plays[i]), AuResultSuccess);
    EXPECT_NEAR(Find(kB)->GetDuckedVolume(AuPropID_Volume), -0.1f * AU_BUS_MAX_DUCKS, 1e-3);
    EXPECT_NE(log.Text().find("duck list full"), std::string::npos);
    for (u32 i = 0; i <= AU_BUS_MAX_DUCKS; ++i)
        Find(0x1000 + i)->DecrementPlayCount(&plays[i]);
}

TEST_F(BusTest, ExecuteActionRunsSlot46ThenEveryChildLastToFirst) {
    TracingBus* bus = TracingBus::Make(1);
    TracingBus* childBus1 = TracingBus::Make(5);
    TracingBus* childBus2 = TracingBus::Make(6);
    auto* node1 = TestNode::Make<TracingNode>(10, AuNodeCategory_Sound);
    auto* node2 = TestNode::Make<TracingNode>(11, AuNodeCategory_Sound);
    for (CAuNodeBase* child : std::initializer_list<CAuNodeBase*>{childBus2, node2, childBus1, node1}) {
        child->AddRef();
        ASSERT_EQ(bus->AddChild(child), AuResultSuccess);
    }
    AuActionExec exec;
    exec.kind = AuActionExec_Pause;
    exec.flags = AU_EXEC_PAUSE_TRANSITIONS;
    nodetest::g_trace.clear();
    EXPECT_EQ(bus->ExecuteAction(exec), AuResultSuccess);
    EXPECT_EQ(nodetest::g_trace, std::vector<std::string>{"exec bus 1"}) << "nothing plays below";

    nodetest::g_trace.clear();
    ASSERT_TRUE(bus->IncrementActivityCount(AU_ACTIVITY_TO_BOTH));
    EXPECT_EQ(bus->ExecuteAction(exec), AuResultSuccess);
    const std::vector<std::string> expected{"exec bus 1",   "pause 1",    "exec node 11",
                                            "exec node 10", "exec bus 6", "exec bus 5"};
    EXPECT_EQ(nodetest::g_trace, expected);
    ASSERT_EQ(node1->executed.size(), 1u);
    EXPECT_TRUE(node1->executed[0].flags & AU_EXEC_TRANSITIONS_HANDLED);
    // A record that does not ask leaves the transitions alone.
    nodetest::g_trace.clear();
    exec.flags = 0;
    EXPECT_EQ(bus->ExecuteAction(exec), AuResultSuccess);
    EXPECT_EQ(std::count(nodetest::g_trace.begin(), nodetest::g_trace.end(), "pause 1"), 0);
    EXPECT_EQ(nodetest::g_trace.size(), expected.size() - 1);

    // An exception names an ID and whether it is a bus: both must match.
    nodetest::g_trace.clear();
    const AuActionException except[] = {{10, 1}, {6, 1}, {11, 0}};
    AuActionExec stop;
    stop.pExceptions = except;
    stop.exceptionCount = 3;
    EXPECT_EQ(bus->ExecuteActionExcept(stop), AuResultSuccess);
    const std::vector<std::string> skipped{"resume 1", "except node 10", "except bus 5", "resume 5"};
    EXPECT_EQ(nodetest::g_trace, skipped);

    bus->DecrementActivityCount(AU_ACTIVITY_TO_BOTH);
    for (CAuNodeBase* child : std::initializer_list<CAuNodeBase*>{childBus1, childBus2, node1, node2})
        child->Release();
    EXPECT_EQ(bus->m_lRef, 1u);
    bus->Release();
}

TEST_F(BusTest, AddChildRefusesItselfANodeWithABusAndARepeat) {
    CAuBus* bus = CAuBus::Create(1);
    CAuBus* other = CAuBus::Create(2);
    auto* node = TestNode::Make(10, AuNodeCategory_Sound);
    bus->AddRef();
    EXPECT_EQ(bus->AddChild(bus), AuResultCannotBeOwnChild);
    node->AddRef();
    ASSERT_EQ(other->AddChild(node), AuResultSuccess);
    node->AddRef();
    EXPECT_EQ(bus->AddChild(node), AuResultChildHasParent);
    node->AddRef();
    EXPECT_EQ(other->AddChild(node), AuResultAlreadyAChild);
    EXPECT_EQ(other->NodeChildCount(), 1u);
    EXPECT_EQ(other->m_lRef, 2u) << "one reference per child";
    EXPECT_EQ(node->m_lRef, 1u) << "the caller's references were dropped";
    EXPECT_EQ(bus->AddChildByID(0, false), AuResultInvalidPool);
    EXPECT_EQ(bus->AddChildByID(99, true), AuResultIDNotFound);
    other->RemoveChildByID(10, false);
    EXPECT_EQ(other->NodeChildCount(), 0u);
    EXPECT_EQ(node->Bus(), nullptr);
    EXPECT_EQ(other->m_lRef, 1u);
    node->Release();
    other->Release();
    bus->Release();
}

TEST_F(BusTest, GatherChildrenGivesZeroForAChildWithoutParent) {
    CAuBus* bus = CAuBus::Create(1);
    auto* parent = TestNode::Make(20, AuNodeCategory_Grouping);
    auto* withParent = TestNode::Make(21, AuNodeCategory_Sound);
    auto* orphan = TestNode::Make(22, AuNodeCategory_Sound);
    withParent->AddRef();
    ASSERT_EQ(parent->AddChild(withParent), AuResultSuccess);
    for (CAuNodeBase* child : {static_cast<CAuNodeBase*>(withParent), static_cast<CAuNodeBase*>(orphan)}) {
        child->AddRef();
        ASSERT_EQ(bus->AddChild(child), AuResultSuccess);
    }
    AuChildInfo out[4] = {};
    u32 count = 0;
    bus->GatherChildren(1, out, count, 3);
    ASSERT_EQ(count, 1u);
    bus->GatherChildren(4, out, count = 0, 3);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(out[0].childID, 21u);
    EXPECT_EQ(out[0].parentID, 20u);
    EXPECT_EQ(out[0].depth, 3u);
    EXPECT_EQ(out[1].childID, 22u);
    EXPECT_EQ(out[1].parentID, 0u);
    orphan->Release();
    withParent->Release();
    parent->Release();
    bus->Release();
}

TEST_F(BusTest, TheMeterLevelIsClampedBetweenItsTwoPropertiesBeforeItSetsTheGameParameter) {
    CAuBus* bus = CAuBus::Create(1);
    bus->SetMeterGameParameter(50.0f); // no game parameter named: nothing
    AuPropValue word;
    word.u = 0x1234;
    ASSERT_EQ(bus->Props().SetValue(29, word), AuResultSuccess);
    // Neither bound in the bundle: their defaults, 0 and 200.
    for (const auto& [level, expected] : {std::pair{500.0f, 200.0f}, {-5.0f, 0.0f}, {50.0f, 50.0f}}) {
        bus->SetMeterGameParameter(level);
        EXPECT_EQ(m_rtpc.GetRTPCValue(0x1234, AuRTPCKey{}), expected) << level;
    }
    struct Case {
        f32 lower;
        bool upperSet;
        f32 upper;
        f32 level;
        f32 expected;
    };
    const Case cases[] = {
        {0.0f, false, 0.0f, 500.0f, 200.0f},   {0.0f, false, 0.0f, 50.0f, 50.0f},
        {-10.0f, true, 20.0f, -50.0f, -10.0f}, {-10.0f, true, 20.0f, 30.0f, 20.0f},
        {-10.0f, true, 20.0f, 5.0f, 5.0f},
    };
    for (const Case& c : cases) {
        AuPropValue value;
        value.f = c.lower;
        ASSERT_EQ(bus->Props().SetValue(30, value), AuResultSuccess);
        value.f = c.upperSet ? c.upper : 200.0f;
        ASSERT_EQ(bus->Props().SetValue(31, value), AuResultSuccess);
        bus->SetMeterGameParameter(c.level);
        EXPECT_EQ(m_rtpc.GetRTPCValue(0x1234, AuRTPCKey{}), c.expected) << c.level;
    }
    m_rtpc.RemoveKeyValues(0x1234, AuRTPCKey{});
    bus->Release();
}

TEST_F(BusTest, TheFirstDefaultBusIsTheSingletonUntilItGoesAndAnOrphanJoinsItOnce) {
    AuSetFirstBusRead(true); // as after the Init bank: loads no longer detach the default bus
    ASSERT_EQ(Load(0, Build(0xB0, {[] {
                                bankgen::BusRecord b = Bus(0x16);
                                b.type = bankgen::HierarchyType::DefaultBus;
                                return b;
                            }()})),
              AuResultSuccess);
    ASSERT_EQ(Load(1, Build(0xB1, {[] {
                                bankgen::BusRecord b = Bus(0x17);
                                b.type = bankgen::HierarchyType::DefaultBus;
                                return b;
                            }()})),
              AuResultSuccess);
    CAuDefaultBus* current = CAuDefaultBus::GetDefaultBus();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->key, 0x16u);
    EXPECT_EQ(current->Category(), AuNodeCategory_DefaultBus);
    current->Release();

    auto* orphan = TestNode::Make(30, AuNodeCategory_Sound);
    CAuNodeBase* joined = orphan->GetDefaultBusIfOrphan();
    EXPECT_EQ(joined, Find(0x16));
    EXPECT_EQ(orphan->GetDefaultBusIfOrphan(), joined);
    EXPECT_EQ(Find(0x16)->NodeChildCount(), 1u);
    EXPECT_EQ(orphan->Bus(), nullptr) << "its own bus stays for mixing";
    orphan->Release();
    EXPECT_EQ(Find(0x16)->NodeChildCount(), 0u);

    AuReleaseBankObjects(m_lists[0]);
    EXPECT_EQ(CAuDefaultBus::GetDefaultBus(), nullptr);
    auto* late = TestNode::Make(31, AuNodeCategory_Sound);
    EXPECT_EQ(late->GetDefaultBusIfOrphan(), nullptr);
    late->Release();
    CAuDefaultBus::SetDefaultBusIfNone(static_cast<CAuDefaultBus*>(Find(0x17)));
    current = CAuDefaultBus::TakeDefaultBus();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->key, 0x17u);
    EXPECT_EQ(CAuDefaultBus::GetDefaultBus(), nullptr);
    current->Release();
}

// A type-16 bus owns its children as their extra owner: a node keeps its own bus for mixing, and
// the motion tree hears volume and pitch changes as targets 29 and 31.
TEST_F(BusTest, ADefaultBusAdoptsNodesThatHaveABusAndPassesVolumeAndPitchOnAsItsOwnTargets) {
    bankgen::BusRecord motion = Bus(0x16);
    motion.type = bankgen::HierarchyType::DefaultBus;
    bankgen::BusRecord other = Bus(0x17);
    other.type = bankgen::HierarchyType::DefaultBus;
    ASSERT_EQ(Load(0, Build(0xB0, {Bus(1), motion, other})), AuResultSuccess);
    CAuBus* audio = Find(1);
    CAuBus* owner = Find(0x16);
    auto* node = TestNode::Make(10, AuNodeCategory_Sound);
    node->AddRef();
    ASSERT_EQ(audio->AddChild(node), AuResultSuccess);
    node->AddRef();
    EXPECT_EQ(owner->AddChild(node), AuResultSuccess) << "a node with a bus of its own is welcome";
    EXPECT_EQ(node->Bus(), audio);
    EXPECT_EQ(node->GetExtraOwner(), owner);
    node->AddRef();
    EXPECT_EQ(owner->AddChild(node), AuResultAlreadyAChild);
    owner->AddRef();
    EXPECT_EQ(owner->AddChild(owner), AuResultCannotBeOwnChild);
    // Another default bus leaves a child it does not own alone.
    Find(0x17)->RemoveChild(node);
    EXPECT_EQ(node->GetExtraOwner(), owner);
    EXPECT_EQ(owner->NodeChildCount(), 1u);

    ASSERT_TRUE(node->IncrementActivityCount(AU_ACTIVITY_TO_BOTH));
    node->changes.clear();
    for (const u32 target : {u32{AuPropID_Volume}, u32{AuPropID_Pitch}, 3u})
        owner->NotifyParamChange(target, -3.0f, AuRTPCKey{}, false, true);
    std::vector<u32> heard;
    for (const AuParamChange& change : node->changes)
        heard.push_back(change.target);
    EXPECT_EQ(heard, (std::vector<u32>{29, 31, 3}));
    node->DecrementActivityCount(AU_ACTIVITY_TO_BOTH);

    owner->RemoveChild(node);
    EXPECT_EQ(node->GetExtraOwner(), nullptr);
    EXPECT_EQ(node->Bus(), audio) << "its own bus stays";
    audio->RemoveChild(node);
    node->Release();
}

TEST_F(BusTest, ADefaultBusDetachedForALoadIsReleasedOrPutBack) {
    bankgen::BusRecord first = Bus(0x16);
    first.type = bankgen::HierarchyType::DefaultBus;
    // Default busses are not type 8: the first-bus flag stays clear.
    ASSERT_EQ(Load(0, Build(0xB0, {first})), AuResultSuccess);
    ASSERT_FALSE(AuFirstBusRead());
    bankgen::BusRecord second = Bus(0x17);
    second.type = bankgen::HierarchyType::DefaultBus;
    ASSERT_EQ(Load(1, Build(0xB1, {second})), AuResultSuccess);
    CAuDefaultBus* current = CAuDefaultBus::GetDefaultBus();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->key, 0x17u) << "the bank installed a new one";
    current->Release();
    EXPECT_EQ(Find(0x16)->m_lRef, 1u) << "the detached one was let go";

    // A bank without a default bus puts the detached one back.
    ASSERT_EQ(Load(2, Build(0xB2, {bankgen::EventRecord{0x400, {}}})), AuResultSuccess);
    current = CAuDefaultBus::GetDefaultBus();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->key, 0x17u);
    current->Release();

    // Once a bus has been read, loads leave the default bus alone.
    ASSERT_EQ(Load(2, Build(0xB3, {Bus(1)})), AuResultSuccess);
    AuReleaseBankObjects(m_lists[1]);
    EXPECT_EQ(CAuDefaultBus::GetDefaultBus(), nullptr);
}

TEST_F(BusTest, MixerStampsAndChangesStopWhatPlaysThroughTheBus) {
    TracingBus* bus = TracingBus::Make(1);
    auto* node = TestNode::Make<TracingNode>(10, AuNodeCategory_Sound);
    node->AddRef();
    ASSERT_EQ(bus->AddChild(node), AuResultSuccess);
    ASSERT_TRUE(bus->IncrementActivityCount(AU_ACTIVITY_TO_BOTH));
    nodetest::g_trace.clear();
    EXPECT_EQ(bus->SetMixerPlugin(0x50, false, AU_EFFECT_STAMP_API), AuResultSuccess);
    ASSERT_NE(bus->Mixer(), nullptr);
    EXPECT_EQ(nodetest::g_trace, (std::vector<std::string>{"exec bus 1", "exec node 10"}));
    EXPECT_TRUE(bus->MixesOnItsOwn());
    // The bank writes below the exported interface's stamp: ignored.
    EXPECT_EQ(bus->SetMixerPlugin(0x60, true, AU_EFFECT_STAMP_BANK), AuResultSuccess);
    EXPECT_EQ(bus->Mixer()->pluginID, 0x50u);
    nodetest::g_trace.clear();
    EXPECT_EQ(bus->SetMixerPlugin(0x50, false, AU_EFFECT_STAMP_API), AuResultSuccess);
    EXPECT_TRUE(nodetest::g_trace.empty()) << "unchanged";
    EXPECT_EQ(bus->SetMixerPlugin(0, false, AU_EFFECT_STAMP_API), AuResultSuccess);
    EXPECT_EQ(bus->Mixer(), nullptr);
    bus->DecrementActivityCount(AU_ACTIVITY_TO_BOTH);
    node->Release();
    bus->Release();
}

} // namespace

namespace {

std::vector<std::string> g_limiterRegistry;

void RecordLimiter(CAuLimiterList<CAuPlaybackInstance>&, u32 kind, bool registered) {
    g_limiterRegistry.push_back((registered ? "register " : "unregister ") + std::to_string(kind));
}

std::vector<u32> Order(const CAuPlaybackLimiter* list, const std::vector<CAuPlaybackInstance*>& instances) {
    std::vector<u32> order;
    for (u32 i = 0; list && i < list->Count(); ++i)
        for (u32 n = 0; n < instances.size(); ++n)
            if ((*list)[i] == instances[n]) order.push_back(n);
    return order;
}

TEST_F(BusTest, ABusWithItsOwnLimitKeepsItsPlaysInOrderAndReSortsWhenItsOrderFlagChanges) {
    g_limiterRegistry.clear();
    CAuPlaybackLimiter::SetRegistry(&RecordLimiter);
    bankgen::BusRecord top = Bus(1);
    bankgen::BusRecord limited = Bus(2, 1);
    limited.flags2 = 4; // own limit
    limited.maxInstances = 2;
    ASSERT_EQ(Load(0, Build(0xB0, {top, limited})), AuResultSuccess);
    CAuBus* bus = Find(2);
    std::vector<CAuPlaybackInstance*> instances;
    std::vector<AuPlayCountRecord> plays(4);
    for (const f32 priority : {30.0f, 70.0f, 50.0f, 50.0f}) {
        AuPlaybackInstanceParams params;
        params.priority.fPriority = priority;
        instances.push_back(new CAuPlaybackInstance(params));
    }
    for (u32 i = 0; i < 4; ++i) {
        ASSERT_EQ(bus->IncrementPlayCount(&plays[i]), AuResultSuccess);
        EXPECT_EQ(plays[i].pLimitedAt, bus) << "counted once, by the bus that has the limit";
        ASSERT_NE(plays[i].pBusLimiter, nullptr);
        EXPECT_EQ(plays[i].pBusLimiter, bus->Limiter());
        // As the instance's start does.
        ASSERT_EQ(static_cast<IAuInstanceLimiter*>(plays[i].pBusLimiter)->AddInstance(instances[i]),
                  AuResultSuccess);
    }
    EXPECT_EQ(bus->Activity()->limited, 4u);
    EXPECT_EQ(Find(1)->Activity()->limited, 0u);
    ASSERT_NE(bus->Limiter(), nullptr);
    EXPECT_EQ(bus->Limiter()->Maximum(), 2u);
    EXPECT_EQ(bus->Limiter()->Kind(), AU_LIMITER_KIND_2);
    // Equal priorities: the later instance (larger order key) first with order flag 0.
    EXPECT_EQ(Order(bus->Limiter(), instances), (std::vector<u32>{1, 3, 2, 0}));
    bus->SetLimitOrder(true);
    EXPECT_EQ(Order(bus->Limiter(), instances), (std::vector<u32>{1, 2, 3, 0}));
    EXPECT_EQ(g_limiterRegistry, std::vector<std::string>{"register 2"});

    // As each instance's end does: out of the list, then its count.
    for (u32 i = 0; i < 4; ++i) {
        static_cast<IAuInstanceLimiter*>(plays[i].pBusLimiter)->RemoveInstance(instances[i]);
        AuPlayCountRecord end;
        bus->DecrementPlayCount(&end);
    }
    EXPECT_EQ(bus->Limiter(), nullptr);
    EXPECT_EQ(bus->Activity(), nullptr);
    EXPECT_EQ(g_limiterRegistry, (std::vector<std::string>{"register 2", "unregister 2"}));
    for (CAuPlaybackInstance* instance : instances)
        delete instance;
    CAuPlaybackLimiter::SetRegistry(nullptr);
}

} // namespace

namespace {

TEST_F(BusTest, MessageFortyOneSetsTheMixerOfABusWithTheInterfacesStamp) {
    CAuAudioMgr audio;
    ASSERT_EQ(audio.Init(4096), AuResultSuccess);
    AuInstallNodeMsgHandlers(audio);
    CAuBus* bus = CAuBus::Create(7);
    auto* node = TestNode::Make(7, AuNodeCategory_Sound);
    AuLogCapture log;
    for (const AuMsgSetMixer& payload :
         {AuMsgSetMixer{7, 0, 0x66, 1}, AuMsgSetMixer{7, 0, 0x67, 0}, AuMsgSetMixer{8, 0, 0x68, 1}}) {
        AuQueuedMsg* msg = audio.ReserveQueue(AuQueuedMsgType_SetMixer, AuQueuedMsgSize<AuMsgSetMixer>());
        ASSERT_NE(msg, nullptr);
        msg->As<AuMsgSetMixer>() = payload;
        audio.PublishMsg(msg);
    }
    audio.RenderAudio();
    {
        CAuMainLock lock;
        audio.ProcessMsgQueue();
    }
    ASSERT_NE(bus->Mixer(), nullptr);
    EXPECT_EQ(bus->Mixer()->pluginID, 0x66u);
    EXPECT_EQ(bus->Mixer()->stamp, AU_EFFECT_STAMP_API);
    // A bank read later does not undo it.
    EXPECT_EQ(bus->SetMixerPlugin(0x69, true, AU_EFFECT_STAMP_BANK), AuResultSuccess);
    EXPECT_EQ(bus->Mixer()->pluginID, 0x66u);
    // A node has no mixer; bus 8 is not loaded.
    EXPECT_NE(log.Text().find("mixer 103 of 7"), std::string::npos);
    EXPECT_NE(log.Text().find("mixer for bus 8: not loaded"), std::string::npos);
    node->Release();
    bus->Release();
    audio.Term();
}

TEST_F(BusTest, NotificationsOfAPassThroughBusReachItsActiveChildren) {
    RecordingBusOps ops;
    ASSERT_EQ(Load(0, Build(0xB0, {Bus(1), Bus(2, 1),
                                   [] {
                                       bankgen::BusRecord b = Bus(3, 2);
                                       b.flags3 = 1;
                                       return b;
                                   }()})),
              AuResultSuccess);
    CAuBus* middle = Find(2);
    CAuBus* leaf = Find(3);
    auto* node = TestNode::Make(10, AuNodeCategory_Sound);
    node->AddRef();
    ASSERT_EQ(middle->AddChild(node), AuResultSuccess);
    // Nothing below: a pass-through bus lets changes go.
    middle->ParamNotification(AuParamChange{AuPropID_BusVolume, -4.0f, AuRTPCKey{}, false, true});
    EXPECT_EQ(middle->FoldedBusVolume(), 0.0f);

    ASSERT_TRUE(node->IncrementActivityCount(AU_ACTIVITY_TO_BOTH));
    ASSERT_TRUE(leaf->IncrementActivityCount(AU_ACTIVITY_TO_BOTH));
    ops.calls.clear();
    middle->ParamNotification(AuParamChange{AuPropID_BusVolume, -4.0f, AuRTPCKey{}, false, true});
    EXPECT_EQ(middle->FoldedBusVolume(), -4.0f);
    // The leaf mixes on its own: the change reaches its mix busses.
    EXPECT_EQ(ops.calls, std::vector<std::string>{banktest::Line("offset %08X -4.00", 3u)});
    middle->ParamNotification(AuParamChange{AuPropID_Volume, -2.0f, AuRTPCKey{}, false, true});
    EXPECT_EQ(middle->AccumulatedVoiceVolume(), -2.0f);
    EXPECT_EQ(leaf->AccumulatedVoiceVolume(), -2.0f);
    EXPECT_TRUE(node->changes.empty()) << "voices read volumes from their bus";
    middle->ParamNotification(AuParamChange{AuPropID_Pitch, 100.0f, AuRTPCKey{}, false, true});
    ASSERT_EQ(node->changes.size(), 1u);
    EXPECT_EQ(node->changes[0].target, AuPropID_Pitch);
    // Kinds 32 to 34 mark the bus (its flags start with both marks) and go no further.
    for (const u32 kind : {32u, 33u, 34u})
        middle->ParamNotification(AuParamChange{kind, 1.0f, AuRTPCKey{}, false, true});
    EXPECT_EQ(middle->BusFlags() & (AU_BUS_VOLUME_SENT | AU_BUS_DYNAMICS_CHANGED),
              AU_BUS_VOLUME_SENT | AU_BUS_DYNAMICS_CHANGED);
    EXPECT_EQ(node->changes.size(), 1u);

    // Properties 0 to 5 go as a difference through slot 23 before the bundle takes them.
    ops.calls.clear();
    EXPECT_EQ(leaf->SetAuProp(AuPropID_BusVolume, -6.0f, 0, 0), AuResultSuccess);
    EXPECT_EQ(ops.calls, std::vector<std::string>{banktest::Line("offset %08X -6.00", 3u)});
    EXPECT_EQ(leaf->GetPropFloat(AuPropID_BusVolume), -6.0f);
    ops.calls.clear();
    EXPECT_EQ(leaf->SetAuProp(AuPropID_BusVolume, -6.0f, 0, 0), AuResultSuccess);
    EXPECT_TRUE(ops.calls.empty()) << "unchanged";

    leaf->DecrementActivityCount(AU_ACTIVITY_TO_BOTH);
    node->DecrementActivityCount(AU_ACTIVITY_TO_BOTH);
    node->Release();
}

TEST_F(BusTest, BypassAndEffectChangesReachTheLowerEngineByBusID) {
    RecordingBusOps ops;
    bankgen::BusRecord bus = Bus(1);
    bus.effects = {{1, 0x70, 1, 0}, {3, 0, 0, 0}};
    bus.bypassBits = 0x12;
    ASSERT_EQ(Load(0, Build(0xB0, {bus})), AuResultSuccess);
    EXPECT_NE(std::find(ops.calls.begin(), ops.calls.end(), banktest::Line("effect %08X 1", 1u)),
              ops.calls.end());
    EXPECT_NE(std::find(ops.calls.begin(), ops.calls.end(), banktest::Line("bypass %08X 12/1F", 1u)),
              ops.calls.end());
    CAuBus* read = Find(1);
    EXPECT_TRUE(read->GetBypassAllFx(nullptr));
    AuEffectRecord record;
    read->GetFx(1, record, nullptr);
    EXPECT_EQ(record.pSettings, nullptr) << "no settings object of that ID is loaded";
    EXPECT_EQ(read->GetFxMediaID(1, 0), 0u);
    ops.calls.clear();
    read->RTPCTargetChanged(AuTarget_BypassSlot0 + 1);
    EXPECT_EQ(ops.calls, std::vector<std::string>{banktest::Line("bypass %08X 12/1F", 1u)});
    ops.calls.clear();
    read->RTPCTargetChanged(AuTarget_Priority);
    EXPECT_TRUE(ops.calls.empty());
}

} // namespace
