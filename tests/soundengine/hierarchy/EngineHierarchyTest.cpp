// The engine as the game starts it, with its own chunk readers: banks load through the exported
// bank calls, their settings reach the engine's owners, their objects the index, and unloading or
// the engine's end releases every object.
#include "BankEngineSupport.h"
#include "BankTestSupport.h"
#include "TestNodes.h"

#include "core/AuBankNames.h"
#include "core/AuEngineManagers.h"
#include "core/AuEngineSettings.h"
#include "core/AuObjectIndex.h"
#include "core/AuThreads.h"
#include "hierarchy/AuEvent.h"
#include "hierarchy/AuHierarchyLoader.h"
#include "hierarchy/AuSound.h"
#include "parameters/AuRTPCMgr.h"
#include "plugins/AuPlugin.h"
#include "voices/AuLowerEngine.h"

#include <AuLogCapture.h>

#include <AU/AuPluginTypes.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <new>
#include <string>

namespace banktest {
namespace {

using nodetest::TestNode;

u32 Indexed(AuIndexTableId table) {
    return g_pIndex->Table(table).Count();
}

u32 IndexedAll() {
    u32 count = 0;
    for (u32 table = 0; table < AuIndexTableCount; ++table)
        count += Indexed(AuIndexTableId(table));
    return count;
}

Bytes Build(bankgen::BankBuilder& builder) {
    Bytes out;
    std::vector<std::string> errors;
    EXPECT_TRUE(builder.Build(out, errors)) << (errors.empty() ? "" : errors.front());
    return out;
}

bankgen::ActionRecord Action(u32 id, u16 type, u32 target, u32 bank = 0) {
    bankgen::ActionRecord action;
    action.id = id;
    action.type = type;
    action.target = target;
    action.bankId = bank;
    return action;
}

AURESULT LoadFromMemory(const Bytes& image, AuBankID& id) {
    return AU::SoundEngine::LoadBank(image.data(), static_cast<u32>(image.size()), AU_INVALID_POOL_ID, id);
}

class EngineHierarchyTest : public EngineTest {};

TEST_F(EngineHierarchyTest, ActionsAndEventsOfABankInMemoryAreIndexedAndTheUnloadReleasesAll) {
    constexpr u32 kBank = 0xB5;
    bankgen::BankBuilder builder(kBank);
    builder.Add(Action(0x300, AU_ACTION_PLAY, 0x200, kBank));
    builder.Add(Action(0x301, 0x0102, 0x200));
    builder.Add(Action(0x302, 0x0204, 0));
    builder.Add(bankgen::EventRecord{0x400, {0x300, 0x301}});
    builder.Add(bankgen::EventRecord{0x401, {0x302}});
    const Bytes image = Build(builder);
    AuBankID id = 0;
    ASSERT_EQ(LoadFromMemory(image, id), AuResultSuccess);
    EXPECT_EQ(id, kBank);
    EXPECT_EQ(Indexed(AuIndexActions), 3u);
    EXPECT_EQ(Indexed(AuIndexEvents), 2u);
    auto* event = static_cast<CAuEvent*>(g_pIndex->GetPtrAndAddRef(AuIndexEvents, 0x400));
    ASSERT_NE(event, nullptr);
    ASSERT_EQ(event->Actions().Count(), 2u);
    EXPECT_EQ(event->Actions()[0]->key, 0x300u) << "bank order";
    EXPECT_EQ(event->Actions()[1]->key, 0x301u);
    EXPECT_EQ(static_cast<CAuActionPlay*>(event->Actions()[0])->BankID(), kBank);
    event->Release();
    CAuLoadedBank* bank = g_pBankMgr->FindBank(kBank, nullptr);
    ASSERT_NE(bank, nullptr);
    EXPECT_EQ(bank->objects.Count(), 5u);

    ASSERT_EQ(AU::SoundEngine::UnloadBank(id, nullptr), AuResultSuccess);
    EXPECT_EQ(IndexedAll(), 0u);
    EXPECT_EQ(g_pBankMgr->BankCount(), 0u);
    // A second load builds everything anew.
    ASSERT_EQ(LoadFromMemory(image, id), AuResultSuccess);
    EXPECT_EQ(IndexedAll(), 5u);
    AU::SoundEngine::Term();
    EXPECT_EQ(AU::MemoryMgr::GetNumPools(), m_pools) << "the bank's own pool and the default pool are gone";
}

TEST_F(EngineHierarchyTest, ARecordOfATypeWithoutAClassFailsTheLoadWithThreeAndLeavesNothing) {
    bankgen::BankBuilder builder(0xB6);
    builder.Add(Action(0x300, 0x0102, 0x200));
    const Bytes actions = Build(builder);
    // A dialogue-event record after the action: no class reads type 15 yet.
    Bytes hirc = U32s({1});
    hirc.push_back(AuHierarchyTypeDialogueEvent);
    const Bytes payload = U32s({0x500, 0});
    const Bytes size = U32s({static_cast<u32>(payload.size())});
    hirc.insert(hirc.end(), size.begin(), size.end());
    hirc.insert(hirc.end(), payload.begin(), payload.end());
    const Bytes image = Concat({actions, Chunk("HIRC", hirc)});
    AuLogCapture log;
    AuBankID id = 0;
    EXPECT_EQ(LoadFromMemory(image, id), AuResultTypeNotHandled);
    EXPECT_NE(log.Text().find("type 15"), std::string::npos) << log.Text();
    EXPECT_EQ(IndexedAll(), 0u);
    EXPECT_EQ(g_pBankMgr->BankCount(), 0u);
}

TEST_F(EngineHierarchyTest, SettingsReachTheEngineAndTheStateAndSwitchManagers) {
    // A value the game set before the bank is kept: the game's priority wins over the bank's.
    ASSERT_EQ(AU::SoundEngine::SetMaxNumVoicesLimit(20), AuResultSuccess);
    bankgen::BankBuilder builder(0xB7);
    bankgen::Settings settings;
    settings.volumeThresholdDb = -60.0f;
    settings.maxVoices = 48;
    settings.stateGroups.push_back({0x100, 250, {{1, 2, 500}}});
    settings.stateGroups.push_back({0x101, 0, {}});
    settings.switchBindings.push_back({0x200, 0x300, 0, {{0.0f, 7, 9}, {50.0f, 8, 9}}});
    settings.gameParameters.push_back({0x300, 55.0f, 0, 0.0f, 0.0f, 0});
    builder.SetSettings(settings);
    builder.Add(Action(0x301, 0x0102, 0x200));
    const Bytes image = Build(builder);
    AuLogCapture log;
    AuBankID id = 0;
    ASSERT_EQ(LoadFromMemory(image, id), AuResultSuccess);
    EXPECT_EQ(AuEngineSettings::VolumeThresholdDb(), -60.0f);
    EXPECT_EQ(AuEngineSettings::MaxNumVoices(), 20u);
    bool found = false;
    EXPECT_EQ(g_pRTPCMgr->GetDefaultValue(0x300, &found), 55.0f);
    EXPECT_TRUE(found);
    EXPECT_EQ(log.Text().find("not kept"), std::string::npos) << log.Text();
    EXPECT_EQ(log.Text().find("not bound"), std::string::npos) << log.Text();
    {
        CAuMainLock lock;
        EXPECT_EQ(g_pStateMgr->GroupCount(), 2u);
        EXPECT_EQ(g_pStateMgr->SetDefaultTransitionTime(0x101, 0), AuResultSuccess) << "a known group";
        EXPECT_EQ(g_pSwitchMgr->GetSwitch(0x200, AuRTPCKey{}), 8u)
            << "the parameter's 55 is past the last point";
    }
    EXPECT_EQ(Indexed(AuIndexActions), 1u) << "the hierarchy after the settings is read";
}

// A parameter object that notes whether the lower engine's pool, which it lives in, still stood
// when it ended.
struct PoolWatchParams final : AU::IAuPluginParam {
    static inline int terms = 0;
    static inline int termsWithoutPool = 0;
    static AU::IAuPluginParam* Create(AU::IAuPluginMemAlloc* allocator) {
        return new (allocator->Malloc(sizeof(PoolWatchParams))) PoolWatchParams();
    }
    AURESULT SetParam(u16, const void*, u32) noexcept override { return AuResultSuccess; }
    IAuPluginParam* Clone(AU::IAuPluginMemAlloc* allocator) noexcept override { return Create(allocator); }
    AURESULT Init(AU::IAuPluginMemAlloc*, const void*, u32) noexcept override { return AuResultSuccess; }
    AURESULT Term(AU::IAuPluginMemAlloc* allocator) noexcept override {
        ++terms;
        if (g_LEngineDefaultPoolId == AU_INVALID_POOL_ID) {
            ++termsWithoutPool;
            return AuResultSuccess; // its block went with the pool
        }
        this->~PoolWatchParams();
        allocator->Free(this);
        return AuResultSuccess;
    }
    AURESULT SetParamsBlock(const void*, u32) noexcept override { return AuResultSuccess; }
};

TEST_F(EngineHierarchyTest, SettingsStillLoadedAtTermEndTheirParametersBeforeTheLowerEnginesPoolGoes) {
    constexpr u32 kPlugin = 0x7A1;
    ASSERT_EQ(
        AU::SoundEngine::RegisterPlugin(AuPluginTypeEffect, 0, kPlugin, nullptr, &PoolWatchParams::Create),
        AuResultSuccess);
    PoolWatchParams::terms = PoolWatchParams::termsWithoutPool = 0;
    const u32 key = CAuLowerEngine::PluginKey(AuPluginTypeEffect, 0, kPlugin);
    bankgen::BankBuilder builder(0xB8);
    builder.Add(bankgen::PluginSettingsRecord{
        bankgen::HierarchyType::SharedPluginSettings, 0x700, key, {}, {}, {}, {}});
    builder.Add(
        bankgen::PluginSettingsRecord{bankgen::HierarchyType::PluginSettings, 0x701, key, {}, {}, {}, {}});
    const Bytes image = Build(builder);
    AuBankID id = 0;
    ASSERT_EQ(LoadFromMemory(image, id), AuResultSuccess);
    EXPECT_EQ(Indexed(AuIndexPluginSettings18), 1u);
    EXPECT_EQ(Indexed(AuIndexPluginSettings19), 1u);
    // The game ends without unloading its bank.
    AU::SoundEngine::Term();
    EXPECT_EQ(PoolWatchParams::terms, 2);
    EXPECT_EQ(PoolWatchParams::termsWithoutPool, 0);
    EXPECT_EQ(AU::MemoryMgr::GetNumPools(), m_pools);
}

// Unloaded banks leave nothing in the default pool but what is kept on purpose: the names the game
// gave its banks (a later load by ID opens the file by its name) and the Init bank's parameter
// defaults (banks loaded later read them). Those are made before the baseline.
TEST_F(EngineHierarchyTest, BanksLoadedAndUnloadedGiveBackTheDefaultPool) {
    const auto used = [] {
        AU::MemoryMgr::PoolMemInfo info{};
        AU::MemoryMgr::GetPoolMemoryUsed(g_DefaultPoolId, info);
        return info.uUsed;
    };
    GetBankIDFromName("Init.bnk");
    GetBankIDFromName("Torvik.bnk");
    AuBankID id = 0;
    std::ifstream file(std::string(TORVIK_SOUNDBANKS_DIR) + "/Init.bnk", std::ios::binary);
    const Bytes init{std::istreambuf_iterator<char>(file), {}};
    ASSERT_EQ(LoadFromMemory(init, id), AuResultSuccess);
    ASSERT_EQ(AU::SoundEngine::UnloadBank(id, nullptr), AuResultSuccess);
    const u32 baseline = used();

    // A bus under the game's master with a curve on a game parameter nothing else names.
    constexpr u32 kOwnBank = 0xB9;
    bankgen::BankBuilder builder(kOwnBank);
    bankgen::BusRecord bus;
    bus.id = 0x990;
    bus.parent = AU::SoundEngine::GetIDFromString("Master Audio Bus");
    bankgen::RtpcCurve curve;
    curve.gameParameter = 0x991;
    curve.target = AuPropID_BusVolume;
    curve.points = {{0.0f, 0.0f, 4}, {100.0f, -4.0f, 4}};
    bus.rtpcs = {curve};
    builder.Add(bus);
    const Bytes own = Build(builder);

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        AuBankID initID = 0, torvikID = 0, ownID = 0;
        ASSERT_EQ(AU::SoundEngine::LoadBank("Init.bnk", AU_INVALID_POOL_ID, initID), AuResultSuccess);
        ASSERT_EQ(AU::SoundEngine::LoadBank("Torvik.bnk", AU_INVALID_POOL_ID, torvikID), AuResultSuccess);
        ASSERT_EQ(LoadFromMemory(own, ownID), AuResultSuccess);
        bool found = false;
        g_pRTPCMgr->GetDefaultValue(curve.gameParameter, &found);
        EXPECT_TRUE(found) << "the bus follows the parameter";
        ASSERT_EQ(AU::SoundEngine::UnloadBank(ownID, nullptr), AuResultSuccess);
        ASSERT_EQ(AU::SoundEngine::UnloadBank(torvikID, nullptr), AuResultSuccess);
        ASSERT_EQ(AU::SoundEngine::UnloadBank(initID, nullptr), AuResultSuccess);
        EXPECT_EQ(used(), baseline);
    }
}

TEST_F(EngineHierarchyTest, EnvironmentCurvesReachTheCurveTableWithOutputZeroAsALinearFactor) {
    bankgen::Environment environment;
    // (group, output) in row order: obstruction 0..2, occlusion 0..2.
    environment.curves[0] = {1, 0, {{0, 0, 4}, {100, -20, 4}}};   // decibels
    environment.curves[1] = {0, 3, {{0, 1, 4}, {100, 2, 4}}};     // another output keeps its scaling
    environment.curves[3] = {1, 2, {{0, 0, 4}, {100, -0.5f, 4}}}; // offsets from 1.0
    bankgen::BankBuilder builder(0xB8);
    builder.SetEnvironment(environment);
    const Bytes image = Build(builder);
    AuBankID id = 0;
    ASSERT_EQ(LoadFromMemory(image, id), AuResultSuccess);
    const CAuCurveTable& table = *g_pCurveTable;
    EXPECT_TRUE(table.IsEnabled(0, 0));
    EXPECT_FALSE(table.IsEnabled(0, 1));
    EXPECT_TRUE(table.IsEnabled(1, 0));
    EXPECT_EQ(table.Curve(0, 0).Scaling(), u32{AuCurveScaling_DbToLinear});
    EXPECT_NEAR(table.Curve(0, 0).Convert(100.0f), 0.1f, 1e-3f) << "-20 dB";
    EXPECT_EQ(table.Curve(0, 1).Scaling(), 3u);
    EXPECT_EQ(table.Curve(1, 0).Scaling(), u32{AuCurveScaling_None});
    EXPECT_FLOAT_EQ(table.Curve(1, 0).Convert(0.0f), 1.0f);
    EXPECT_FLOAT_EQ(table.Curve(1, 0).Convert(100.0f), 0.5f);
    EXPECT_EQ(table.Curve(1, 1).Scaling(), u32{AuCurveScaling_None}) << "decibels only on output 0";
}

// The game's own banks, with small test classes for the types the engine does not build yet
// (sounds 2 and busses 8): every other record of them is the engine's own reading.
CAuIndexable* CreateNode(u32 id, AuNodeCategory category) {
    return TestNode::Make(id, category);
}

class GameBanksTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        nodetest::g_live = 0;
        AuSetHierarchyLoader(AuHierarchyTypeSound,
                             {AuIndexNodes,
                              [](u32 id, const u8*, u32) { return CreateNode(id, AuNodeCategory_Sound); },
                              &ReadWhole, nullptr, nullptr});
        AuSetHierarchyLoader(AuHierarchyTypeBus,
                             {AuIndexBusses,
                              [](u32 id, const u8*, u32) { return CreateNode(id, AuNodeCategory_Bus); },
                              &ReadWhole, nullptr, nullptr});
    }
    void TearDown() override {
        EngineTest::TearDown();
        EXPECT_EQ(nodetest::g_live.load(), 0);
        AuSetHierarchyLoader(AuHierarchyTypeSound, {});
        AuSetHierarchyLoader(AuHierarchyTypeBus, {});
        AuInstallCoreHierarchyLoaders();
    }
    static AURESULT ReadWhole(CAuIndexable&, const u8*, u32, bool) { return AuResultSuccess; }
};

TEST_F(GameBanksTest, TheGamesBanksLoadWholeByNameAndTheirUnloadReleasesEveryObject) {
    AuBankID init = 0, torvik = 0;
    ASSERT_EQ(AU::SoundEngine::LoadBank("Init.bnk", AU_INVALID_POOL_ID, init), AuResultSuccess);
    EXPECT_EQ(Indexed(AuIndexBusses), 3u);
    ASSERT_EQ(AU::SoundEngine::LoadBank("Torvik.bnk", AU_INVALID_POOL_ID, torvik), AuResultSuccess);
    EXPECT_EQ(Indexed(AuIndexNodes), 7u);
    EXPECT_EQ(Indexed(AuIndexActions), 16u);
    EXPECT_EQ(Indexed(AuIndexEvents), 16u);
    // Posted by the game under its name's ID.
    const u32 bounce = 0xFF0B3D05;
    CAuIndexable* event = g_pIndex->GetPtrAndAddRef(AuIndexEvents, bounce);
    ASSERT_NE(event, nullptr);
    event->Release();
    EXPECT_EQ(AuEngineSettings::MaxNumVoices(), 64u) << "the Init bank's voice limit";
    bool found = false;
    g_pRTPCMgr->GetDefaultValue(AU::SoundEngine::GetIDFromString("SFX_VO_Bus_Volume"), &found);
    EXPECT_TRUE(found);
    ASSERT_EQ(AU::SoundEngine::UnloadBank(torvik, nullptr), AuResultSuccess);
    EXPECT_EQ(Indexed(AuIndexNodes) + Indexed(AuIndexActions) + Indexed(AuIndexEvents), 0u);
    ASSERT_EQ(AU::SoundEngine::UnloadBank(init, nullptr), AuResultSuccess);
    EXPECT_EQ(IndexedAll(), 0u);
}

// The game's sounds with their own class (the busses still test nodes): each reads its source
// and common record whole, holds the bank's in-memory PCM media and sits under its bus.
class GameSoundsTest : public GameBanksTest {
protected:
    void SetUp() override {
        GameBanksTest::SetUp();
        AuSetHierarchyLoader(AuHierarchyTypeSound, AuSoundLoaderEntry());
    }
};

TEST_F(GameSoundsTest, TheGamesSoundsHoldInMemorySourcesUnderTheGameBusses) {
    AuBankID init = 0, torvik = 0;
    ASSERT_EQ(AU::SoundEngine::LoadBank("Init.bnk", AU_INVALID_POOL_ID, init), AuResultSuccess);
    ASSERT_EQ(AU::SoundEngine::LoadBank("Torvik.bnk", AU_INVALID_POOL_ID, torvik), AuResultSuccess);
    const u32 sfx = AU::SoundEngine::GetIDFromString("SFX_Bus");
    const u32 music = AU::SoundEngine::GetIDFromString("Music_Bus");
    u32 sounds = 0, onMusic = 0;
    {
        CAuMainLock lock;
        CAuIndexTable& table = g_pIndex->Table(AuIndexNodes);
        table.Lock();
        table.ForEach([&](CAuIndexable* object) {
            if (object->ClassKind() != 4) return;
            auto* sound = static_cast<CAuSound*>(object);
            ++sounds;
            SCOPED_TRACE(sound->key);
            const AuSourceInfo& source = sound->Source();
            // The menu music and the ambience are Vorbis, the rest PCM.
            const bool vorbis = sound->key == 0x1004 || sound->key == 0x1007;
            EXPECT_EQ(source.pluginID, vorbis ? 0x00040001u : 0x00010001u);
            EXPECT_EQ(source.StorageKind(), AuSourceStorage_InMemory);
            EXPECT_NE(source.sourceID, 0u);
            EXPECT_GT(source.inMemorySize, 68u);
            ASSERT_NE(sound->Bus(), nullptr);
            EXPECT_TRUE(sound->Bus()->key == sfx || sound->Bus()->key == music);
            // Music loops until stopped.
            const bool isMusic = sound->Bus()->key == music;
            onMusic += isMusic;
            EXPECT_EQ(sound->ComputeRandomizedValue(), isMusic ? 0 : 1);
        });
        table.Unlock();
    }
    EXPECT_EQ(sounds, 7u);
    EXPECT_GT(onMusic, 0u);
    ASSERT_EQ(AU::SoundEngine::UnloadBank(torvik, nullptr), AuResultSuccess);
    EXPECT_EQ(Indexed(AuIndexNodes), 0u);
    ASSERT_EQ(AU::SoundEngine::UnloadBank(init, nullptr), AuResultSuccess);
}

} // namespace
} // namespace banktest
