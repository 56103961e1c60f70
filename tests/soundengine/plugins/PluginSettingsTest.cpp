// Plug-in settings objects read from bank records through the hierarchy loader, their merges and
// bad input, the parameter holders of live instances driven by game parameters, and lifetimes.
#include "../parameters/RTPCMgrFixture.h"

#include "banks/AuBankFormat.h"
#include "core/AuObjectIndex.h"
#include "hierarchy/AuHierarchyLoader.h"
#include "plugins/AuDelayEffect.h"
#include "plugins/AuPluginSettings.h"
#include "voices/AuLowerEngine.h"

#include <AU/AuEffectBlocks.h>
#include <AU/AuEffectPlugins.h>
#include <AuLogCapture.h>
#include <bankgen/Records.h>

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

using bankgen::Bytes;
using bankgen::PluginSettingsRecord;

constexpr u32 kRecordingPluginID = 900;
constexpr u32 kMusicVolume = 0x7B5FA2EB;

// A parameter object that keeps what its Init was given and counts the live ones.
struct RecordingParams final : AU::IAuPluginParam {
    static inline int live = 0;
    static inline int terms = 0;
    static inline AURESULT initResult = AuResultSuccess;
    static inline std::vector<std::pair<u16, f32>> sets;
    Bytes block;

    static AU::IAuPluginParam* Create(AU::IAuPluginMemAlloc* allocator) {
        void* memory = allocator->Malloc(sizeof(RecordingParams));
        if (!memory) return nullptr;
        ++live;
        return new (memory) RecordingParams;
    }
    AURESULT SetParam(u16 id, const void* value, u32) noexcept override {
        f32 v;
        memcpy(&v, value, 4);
        sets.emplace_back(id, v);
        return AuResultSuccess;
    }
    AU::IAuPluginParam* Clone(AU::IAuPluginMemAlloc* allocator) noexcept override {
        auto* copy = static_cast<RecordingParams*>(Create(allocator));
        return copy;
    }
    AURESULT Init(AU::IAuPluginMemAlloc*, const void* data, u32 size) noexcept override {
        // Kept as a copy: the bank's record is gone after the read.
        const auto* bytes = static_cast<const u8*>(data);
        block.assign(bytes, bytes + size);
        return initResult;
    }
    AURESULT Term(AU::IAuPluginMemAlloc* allocator) noexcept override {
        --live;
        ++terms;
        this->~RecordingParams();
        allocator->Free(this);
        return AuResultSuccess;
    }
    AURESULT SetParamsBlock(const void*, u32) noexcept override { return AuResultSuccess; }
};

u32 DelayKey() {
    return CAuLowerEngine::PluginKey(AuPluginTypeEffect, 0, AU_FX_DELAY_ID);
}
u32 RecordingKey() {
    return CAuLowerEngine::PluginKey(AuPluginTypeEffect, 0, kRecordingPluginID);
}

Bytes DelayBlock(f32 seconds, f32 wetPercent) {
    AuDelayBlock block;
    block.fDelayTime = seconds;
    block.fWetDryMix = wetPercent;
    Bytes bytes(AuDelayBlock::kSize);
    AuWriteBlock(block, bytes.data());
    return bytes;
}

bankgen::RtpcCurve Curve(u32 gameParam, u8 parameter, u32 curveID, std::vector<bankgen::CurvePoint> points,
                         u8 drivingType = 0, u8 mode = 0) {
    bankgen::RtpcCurve c;
    c.gameParameter = gameParam;
    c.drivingType = drivingType;
    c.mode = mode;
    c.target = parameter;
    c.curveId = curveID;
    c.points = std::move(points);
    return c;
}

Bytes Payload(const PluginSettingsRecord& record) {
    bankgen::EncodeContext ctx;
    return bankgen::EncodePayload(record, ctx);
}

class PluginSettingsTest : public RTPCMgrFixture {
protected:
    void SetUp() override {
        RTPCMgrFixture::SetUp();
        // What the test leaves must be gone at the end, except the manager's own parameter.
        mgr.Term();
        m_baseline = Used();
        ASSERT_EQ(mgr.Init(), AuResultSuccess);
        g_pRTPCMgr = &mgr;
        g_LEngineDefaultPoolId = g_DefaultPoolId;
        g_pIndex = &m_index;
        m_index.Init();
        AuInstallCoreHierarchyLoaders();
        RecordingParams::live = 0;
        RecordingParams::terms = 0;
        RecordingParams::initResult = AuResultSuccess;
        RecordingParams::sets.clear();
        ASSERT_EQ(CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, AU_FX_DELAY_ID, CreateFx106,
                                                 CreateFx106Params),
                  AuResultSuccess);
        ASSERT_EQ(CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, kRecordingPluginID, nullptr,
                                                 &RecordingParams::Create),
                  AuResultSuccess);
        m_loader.BeginBank(&m_list, nullptr, 0xB0);
    }
    void TearDown() override {
        AuReleaseBankObjects(m_list);
        CAuLowerEngine::SetVoiceGraph(nullptr);
        AuSetPluginModulatorTrigger(nullptr);
        CAuLowerEngine::FreeRegistries();
        EXPECT_EQ(RecordingParams::live, 0);
        for (u32 table = 0; table < AuIndexTableCount; ++table)
            EXPECT_EQ(m_index.Table(AuIndexTableId(table)).Count(), 0u) << table;
        m_index.Term();
        g_pIndex = nullptr;
        g_pRTPCMgr = nullptr;
        g_LEngineDefaultPoolId = -1;
        mgr.Term();
        EXPECT_EQ(Used(), m_baseline);
        RTPCMgrFixture::TearDown();
    }

    // One record through the loader; the payload is freed when this returns, as a bank's is.
    AURESULT Load(const PluginSettingsRecord& record) {
        auto payload = std::make_unique<Bytes>(Payload(record));
        if (m_list.Count() == m_list.Capacity()) m_list.Grow(4);
        return m_loader.LoadRecord(static_cast<u8>(record.type), payload->data(),
                                   static_cast<u32>(payload->size()));
    }
    // The object of the ID, its reference given back at once (the bank list keeps it alive).
    CAuPluginSettings* Find(u32 id, bool shared = false) {
        CAuIndexable* found =
            g_pIndex->GetPtrAndAddRef(shared ? AuIndexPluginSettings18 : AuIndexPluginSettings19, id);
        if (found) found->Release();
        return static_cast<CAuPluginSettings*>(found);
    }

    CAuObjectIndex m_index;
    AuBankObjectList m_list;
    CAuHierarchyLoader m_loader;
    u32 m_baseline = 0;
};

TEST_F(PluginSettingsTest, ADelayRecordMakesItsParameterObjectFromTheBlock) {
    PluginSettingsRecord record{
        bankgen::HierarchyType::SharedPluginSettings, 0x501, DelayKey(), DelayBlock(0.5f, 50.0f), {}, {}, {}};
    ASSERT_EQ(Load(record), AuResultSuccess);
    CAuPluginSettings* settings = Find(0x501, true);
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(settings->IsShared());
    EXPECT_EQ(settings->PluginID(), DelayKey());
    auto* params = static_cast<CAuDelayEffectParams*>(settings->ParamObject());
    ASSERT_NE(params, nullptr);
    // Read from the block while it lived; the record is gone now.
    EXPECT_FLOAT_EQ(params->m_fDelayTime, 0.5f);
    EXPECT_FLOAT_EQ(params->m_fWetDryMix, 0.5f);
    EXPECT_EQ(Find(0x501, false), nullptr);
}

TEST_F(PluginSettingsTest, InitReceivesTheWholeBlockAndTheSettingsTermItAtTheLastRelease) {
    const Bytes block = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    ASSERT_EQ(Load({bankgen::HierarchyType::PluginSettings, 0x502, RecordingKey(), block, {}, {}, {}}),
              AuResultSuccess);
    CAuPluginSettings* settings = Find(0x502);
    ASSERT_NE(settings, nullptr);
    EXPECT_FALSE(settings->IsShared());
    EXPECT_EQ(static_cast<RecordingParams*>(settings->ParamObject())->block, block);
    EXPECT_EQ(RecordingParams::live, 1);
    AuReleaseBankObjects(m_list);
    EXPECT_EQ(RecordingParams::live, 0);
    EXPECT_EQ(m_index.Table(AuIndexPluginSettings19).Count(), 0u);
}

TEST_F(PluginSettingsTest, WithoutARegisteredPluginMediaCurvesAndValuesStillLoad) {
    for (u32 plugin : {CAuLowerEngine::PluginKey(AuPluginTypeEffect, 0, 777), AU_NO_PLUGIN}) {
        SCOPED_TRACE(plugin);
        const u32 id = plugin == AU_NO_PLUGIN ? 0x601 : 0x600;
        AuLogCapture log;
        ASSERT_EQ(Load({bankgen::HierarchyType::PluginSettings,
                        id,
                        plugin,
                        Bytes(18, 0),
                        {{0, 0x2001}, {3, 0x2004}},
                        {Curve(kMusicVolume, 2, 7, {{0, 0, 4}, {100, 100, 4}})},
                        {{3, 0.25f}}}),
                  AuResultSuccess);
        CAuPluginSettings* settings = Find(id);
        ASSERT_NE(settings, nullptr);
        EXPECT_EQ(settings->ParamObject(), nullptr);
        EXPECT_EQ(settings->PluginID(), AU_NO_PLUGIN);
        EXPECT_EQ(settings->GetMediaID(0), 0x2001u);
        EXPECT_EQ(settings->GetMediaID(3), 0x2004u);
        ASSERT_EQ(settings->RTPCEntries().Count(), 1u);
        EXPECT_EQ(settings->RTPCEntries()[0].uPointCount, 2u);
        EXPECT_FLOAT_EQ(settings->GetParamValue(3), 0.25f);
        // Only a named plug-in that is missing is worth a line.
        EXPECT_EQ(log.Lines().size(), plugin == AU_NO_PLUGIN ? 0u : 1u) << log.Text();
        // Without a parameter object no instance can run the settings.
        EXPECT_EQ(CAuPluginParamHolder::Create(*settings, AuRTPCKey{}), nullptr);
    }
}

TEST_F(PluginSettingsTest, AFailingInitFailsTheReadAndTheObjectGoes) {
    RecordingParams::initResult = AuResultInvalidParameter;
    AuLogCapture log;
    EXPECT_EQ(Load({bankgen::HierarchyType::PluginSettings, 0x503, RecordingKey(), Bytes(4, 0), {}, {}, {}}),
              AuResultInvalidParameter);
    EXPECT_EQ(RecordingParams::terms, 1);
    // The delay refuses a block shorter than its layout the same way.
    EXPECT_EQ(
        Load({bankgen::HierarchyType::SharedPluginSettings, 0x504, DelayKey(), Bytes(4, 0), {}, {}, {}}),
        AuResultFail);
    EXPECT_EQ(m_index.Table(AuIndexPluginSettings18).Count(), 0u);
    EXPECT_EQ(m_index.Table(AuIndexPluginSettings19).Count(), 0u);
    EXPECT_EQ(m_list.Count(), 0u);
}

TEST_F(PluginSettingsTest, RepeatedEntriesMergeAsTheBankSays) {
    ASSERT_EQ(Load({bankgen::HierarchyType::PluginSettings,
                    0x505,
                    AU_NO_PLUGIN,
                    {},
                    {{1, 0x2001}, {2, 0x2002}, {1, 0x2003}},
                    {Curve(kMusicVolume, 2, 7, {{0, 0, 4}}), Curve(kMusicVolume, 2, 8, {{0, 1, 4}}),
                     Curve(0x1234, 2, 7, {{0, 2, 4}, {1, 3, 4}}, 0, 1)},
                    {{3, 0.25f}, {4, 1.0f}, {3, 0.75f}}}),
              AuResultSuccess);
    CAuPluginSettings* settings = Find(0x505);
    ASSERT_NE(settings, nullptr);
    // Media: index 1 set twice keeps one entry with the later ID.
    ASSERT_EQ(settings->Media().Count(), 2u);
    EXPECT_EQ(settings->GetMediaID(1), 0x2003u);
    EXPECT_EQ(settings->GetMediaID(2), 0x2002u);
    EXPECT_EQ(settings->GetMediaID(9), 0u);
    // Curves: the same parameter and curve ID leaves the second; another curve ID stays beside it.
    ASSERT_EQ(settings->RTPCEntries().Count(), 2u);
    EXPECT_EQ(settings->RTPCEntries()[0].curveID, 8u);
    const AuPluginRTPCEntry& replaced = settings->RTPCEntries()[1];
    EXPECT_EQ(replaced.curveID, 7u);
    EXPECT_EQ(replaced.gameParamID, 0x1234u);
    ASSERT_EQ(replaced.uPointCount, 2u);
    EXPECT_EQ(replaced.pPoints[1].y, 3.0f);
    EXPECT_EQ(settings->GetRTPCEntry(2), 0u); // the first entry of parameter 2 has mode 0
    EXPECT_EQ(settings->GetRTPCEntry(5), 0u);
    // Values: a repeated key takes the new value; an unknown key gives the default.
    ASSERT_EQ(settings->InitialValues().Count(), 2u);
    EXPECT_EQ(settings->GetParamValue(3), 0.75f);
    EXPECT_EQ(settings->GetParamValue(4), 1.0f);
    EXPECT_EQ(settings->GetParamValue(5), 0.0f);
    EXPECT_EQ(settings->GetParamValue(5, -1.0f), -1.0f);
}

TEST_F(PluginSettingsTest, GetRTPCEntryGivesTheAccumulationMode) {
    ASSERT_EQ(
        Load({bankgen::HierarchyType::PluginSettings,
              0x50A,
              AU_NO_PLUGIN,
              {},
              {},
              {Curve(kMusicVolume, 1, 7, {{0, 0, 4}}, 0, 2), Curve(kMusicVolume, 2, 8, {{0, 0, 4}}, 0, 1)},
              {}}),
        AuResultSuccess);
    CAuPluginSettings* settings = Find(0x50A);
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->GetRTPCEntry(1), 2u);
    EXPECT_EQ(settings->GetRTPCEntry(2), 1u);
    EXPECT_EQ(settings->GetRTPCEntry(3), 0u);
}

TEST_F(PluginSettingsTest, AnObjectFoundAgainIsKeptAsTheFirstBankMadeIt) {
    ASSERT_EQ(
        Load({bankgen::HierarchyType::SharedPluginSettings, 0x506, AU_NO_PLUGIN, {}, {}, {}, {{1, 1.0f}}}),
        AuResultSuccess);
    ASSERT_EQ(
        Load({bankgen::HierarchyType::SharedPluginSettings, 0x506, AU_NO_PLUGIN, {}, {}, {}, {{1, 2.0f}}}),
        AuResultSuccess);
    EXPECT_EQ(m_list.Count(), 2u);
    EXPECT_EQ(m_index.Table(AuIndexPluginSettings18).Count(), 1u);
    EXPECT_EQ(Find(0x506, true)->GetParamValue(1), 1.0f);
    // The same ID of the other type is an object of its own.
    ASSERT_EQ(Load({bankgen::HierarchyType::PluginSettings, 0x506, AU_NO_PLUGIN, {}, {}, {}, {{1, 3.0f}}}),
              AuResultSuccess);
    EXPECT_EQ(Find(0x506, false)->GetParamValue(1), 3.0f);
}

// Every count and size field pointed past the end of the record: 7, and nothing is kept.
TEST_F(PluginSettingsTest, SizesAndCountsBeyondTheRecordAreRefused) {
    const PluginSettingsRecord full{bankgen::HierarchyType::PluginSettings,
                                    0x507,
                                    RecordingKey(),
                                    Bytes(6, 1),
                                    {{0, 0x2001}},
                                    {Curve(kMusicVolume, 2, 7, {{0, 0, 4}, {1, 1, 4}})},
                                    {{3, 0.25f}}};
    const Bytes whole = Payload(full);
    // Offsets of the fields: block size at 8, media count after the block, RTPC count after the
    // media, point count 12 bytes into the entry, value count after the curve.
    const size_t blockSize = 8, mediaCount = 12 + 6, rtpcCount = mediaCount + 1 + 5,
                 pointCount = rtpcCount + 2 + 12, valueCount = pointCount + 2 + 24;
    struct Case {
        const char* name;
        size_t offset;
        std::vector<u8> bytes;
    };
    const Case cases[] = {
        {"block size", blockSize, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"block size one past", blockSize, {static_cast<u8>(whole.size() - 12 + 1), 0, 0, 0}},
        {"media count", mediaCount, {0xFF}},
        {"RTPC count", rtpcCount, {0xFF, 0xFF}},
        {"point count", pointCount, {0xFF, 0xFF}},
        {"value count", valueCount, {2, 0}},
    };
    ASSERT_EQ(whole[valueCount], 1u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes payload = whole;
        std::copy(c.bytes.begin(), c.bytes.end(), payload.begin() + c.offset);
        AuLogCapture log;
        EXPECT_EQ(m_loader.LoadRecord(AuHierarchyTypePluginSettings, payload.data(), u32(payload.size())),
                  AuResultBadHeader);
    }
    // Every cut of the record short of its end.
    for (size_t size = 4; size < whole.size(); ++size) {
        SCOPED_TRACE(size);
        AuLogCapture log;
        const auto cut = std::make_unique<Bytes>(whole.begin(), whole.begin() + std::ptrdiff_t(size));
        EXPECT_EQ(m_loader.LoadRecord(AuHierarchyTypePluginSettings, cut->data(), u32(size)),
                  AuResultBadHeader);
    }
    EXPECT_EQ(RecordingParams::live, 0);
    EXPECT_EQ(RecordingParams::terms, 0); // refused before a parameter object was made
    EXPECT_EQ(m_index.Table(AuIndexPluginSettings19).Count(), 0u);
    EXPECT_EQ(m_list.Count(), 0u);
}

TEST_F(PluginSettingsTest, ASlotFindsItsSettingsInTheTableItsShareFlagNames) {
    ASSERT_EQ(Load({bankgen::HierarchyType::SharedPluginSettings, 0x50C, AU_NO_PLUGIN, {}, {}, {}, {}}),
              AuResultSuccess);
    ASSERT_EQ(Load({bankgen::HierarchyType::PluginSettings, 0x50D, RecordingKey(), {}, {}, {}, {}}),
              AuResultSuccess);
    AuLogCapture log;
    // Settings ID 0 is an empty slot, not a missing object.
    EXPECT_EQ(CAuPluginSettings::Find(0, true), nullptr);
    EXPECT_EQ(CAuPluginSettings::Find(0, false), nullptr);
    EXPECT_TRUE(log.Lines().empty()) << log.Text();

    CAuPluginSettings* shared = CAuPluginSettings::Find(0x50C, true);
    ASSERT_NE(shared, nullptr);
    EXPECT_TRUE(shared->IsShared());
    EXPECT_EQ(shared->m_lRef, 2u); // the bank's and ours
    CAuPluginSettings* own = CAuPluginSettings::Find(0x50D, false);
    ASSERT_NE(own, nullptr);
    EXPECT_FALSE(own->IsShared());
    own->Release();

    // Absent from the table the flag names: the slot plays dry, said once.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(CAuPluginSettings::Find(0x50C, false), nullptr);
        EXPECT_EQ(CAuPluginSettings::Find(0x50D, true), nullptr);
    }
    EXPECT_EQ(log.Lines().size(), 2u) << log.Text();
    // Present without parameters: no instance, said once too.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(CAuPluginParamHolder::Create(*shared, AuRTPCKey{}), nullptr);
    EXPECT_EQ(log.Lines().size(), 3u) << log.Text();
    shared->Release();
}

TEST_F(PluginSettingsTest, SetParamObjectEndsTheOneBefore) {
    ASSERT_EQ(Load({bankgen::HierarchyType::PluginSettings, 0x508, RecordingKey(), {}, {}, {}, {}}),
              AuResultSuccess);
    CAuPluginSettings* settings = Find(0x508);
    ASSERT_NE(settings, nullptr);
    AU::IAuPluginParam* next = RecordingParams::Create(&CAuLowerEngine::PluginAllocator());
    settings->SetParamObject(0x1234, next);
    EXPECT_EQ(RecordingParams::terms, 1);
    EXPECT_EQ(settings->ParamObject(), next);
    EXPECT_EQ(settings->PluginID(), 0x1234u);
}

// The settings of a running delay whose wet level follows "Music_Ambience_Bus_Volume".
class PluginHolderTest : public PluginSettingsTest {
protected:
    void SetUp() override {
        PluginSettingsTest::SetUp();
        ASSERT_EQ(
            Load({bankgen::HierarchyType::SharedPluginSettings,
                  0x509,
                  DelayKey(),
                  DelayBlock(0.5f, 50.0f),
                  {},
                  {Curve(kMusicVolume, CAuDelayEffectParams::WetDryMix, 11, {{0, 0, 4}, {100, 100, 4}})},
                  {}}),
            AuResultSuccess);
        settings = Find(0x509, true);
        ASSERT_NE(settings, nullptr);
    }
    static f32 Wet(CAuPluginParamHolder* holder) {
        return static_cast<CAuDelayEffectParams*>(holder->Params())->m_fWetDryMix;
    }
    CAuPluginSettings* settings = nullptr;
};

TEST_F(PluginHolderTest, AGameParameterMovesTheInstancesOwnParameters) {
    CAuPluginParamHolder* holder = CAuPluginParamHolder::Create(*settings, AuRTPCKey{});
    ASSERT_NE(holder, nullptr);
    EXPECT_NE(holder->Params(), settings->ParamObject());
    EXPECT_EQ(holder->PluginID(), DelayKey());
    // Subscribing pushes the curve's value at once: the parameter is unknown yet, so 0.
    EXPECT_FLOAT_EQ(Wet(holder), 0.0f);
    ASSERT_EQ(mgr.SetRTPCImmediate(kMusicVolume, 25.0f, AuRTPCKey{}), AuResultSuccess);
    EXPECT_FLOAT_EQ(Wet(holder), 0.25f);
    // The settings' own object keeps the bank's value.
    EXPECT_FLOAT_EQ(static_cast<CAuDelayEffectParams*>(settings->ParamObject())->m_fWetDryMix, 0.5f);
    holder->Destroy();
    EXPECT_EQ(mgr.SubscriptionCount(), 0u);
}

TEST_F(PluginHolderTest, TheLastInstanceKeepsTheSettingsAfterTheBankGoes) {
    CAuPluginParamHolder* holder = CAuPluginParamHolder::Create(*settings, AuRTPCKey{});
    ASSERT_NE(holder, nullptr);
    AuReleaseBankObjects(m_list);
    EXPECT_EQ(m_index.Table(AuIndexPluginSettings18).Count(), 1u);
    EXPECT_EQ(&holder->Settings(), settings);
    EXPECT_EQ(settings->GetRTPCEntry(CAuDelayEffectParams::WetDryMix), 0u);
    holder->Destroy();
    EXPECT_EQ(m_index.Table(AuIndexPluginSettings18).Count(), 0u);
}

// The lower engine's voice graph as far as its walk over plug-in instances: it visits the holders
// the test made and counts the walks. Nothing else of the graph runs in these tests.
std::vector<CAuPluginParamHolder*> g_instances;
int g_walks = 0;
class WalkingVoiceGraph final : public IAuVoiceGraph {
public:
    void ForEachPluginInstance(const CAuPluginSettings& settings, AuPluginInstanceVisit visit,
                               void* context) noexcept override {
        ++g_walks;
        for (CAuPluginParamHolder* holder : g_instances)
            if (&holder->Settings() == &settings) visit(*holder, context);
    }
    AURESULT InitVoiceCommands(u32) override { return AuResultSuccess; }
    bool HasVoicesToStart() noexcept override { return false; }
    void StartPendingVoices() noexcept override {}
    void UpdateLimiters() noexcept override {}
    void ProcessVoiceCommands() noexcept override {}
    void ProcessInstanceEvents() noexcept override {}
    void AdvancePendingVoices(u16) noexcept override {}
    void PreFrame() noexcept override {}
    void RenderVoices(bool) noexcept override {}
    void MixBusses() noexcept override {}
    void RemoveIdleBusses() noexcept override {}
    void UpdateVoiceOutputs(u32, u32, u32) override {}
    void ReleaseEffectsUsingData(const u8*, u32) noexcept override {}
    void TermVoices() override {}
    void Term() override {}
};

TEST_F(PluginHolderTest, RemovingACurveUnsubscribesEveryLiveInstance) {
    g_walks = 0;
    g_instances = {CAuPluginParamHolder::Create(*settings, AuRTPCKey{}),
                   CAuPluginParamHolder::Create(*settings, AuRTPCKey{})};
    ASSERT_NE(g_instances[0], nullptr);
    ASSERT_NE(g_instances[1], nullptr);
    WalkingVoiceGraph graph;
    CAuLowerEngine::SetVoiceGraph(&graph);
    ASSERT_EQ(mgr.SetRTPCImmediate(kMusicVolume, 80.0f, AuRTPCKey{}), AuResultSuccess);
    // Another curve ID of the parameter is not the one removed.
    settings->RemoveRTPCEntry(CAuDelayEffectParams::WetDryMix, 12);
    EXPECT_EQ(g_walks, 0);
    EXPECT_EQ(settings->RTPCEntries().Count(), 1u);

    settings->RemoveRTPCEntry(CAuDelayEffectParams::WetDryMix, 11);
    EXPECT_EQ(g_walks, 1);
    EXPECT_EQ(settings->RTPCEntries().Count(), 0u);
    for (CAuPluginParamHolder* holder : g_instances)
        EXPECT_EQ(mgr.FindSubscription(holder, CAuDelayEffectParams::WetDryMix), nullptr);
    ASSERT_EQ(mgr.SetRTPCImmediate(kMusicVolume, 25.0f, AuRTPCKey{}), AuResultSuccess);
    for (CAuPluginParamHolder* holder : g_instances) {
        EXPECT_FLOAT_EQ(Wet(holder), 0.8f);
        holder->Destroy();
    }
    g_instances.clear();
}

struct RecordingTrigger final : IAuPluginModulatorTrigger {
    std::vector<std::pair<u32, u32>> calls; // parameter, modulator
    AURESULT answer = AuResultSuccess;
    AURESULT Trigger(IAuPluginParamSubscriber*, u32 parameterID, u32 modulatorID, const AuRTPCKey&,
                     void*) noexcept override {
        calls.emplace_back(parameterID, modulatorID);
        return answer;
    }
};

TEST_F(PluginSettingsTest, OnlyModulatorCurvesTriggerModulators) {
    ASSERT_EQ(Load({bankgen::HierarchyType::PluginSettings,
                    0x50B,
                    AU_NO_PLUGIN,
                    {},
                    {},
                    {Curve(kMusicVolume, 1, 7, {{0, 0, 4}}), Curve(0x700, 2, 8, {{0, 0, 4}}, 2),
                     Curve(0x701, 3, 9, {{0, 0, 4}}, 2)},
                    {}}),
              AuResultSuccess);
    CAuPluginSettings* settings = Find(0x50B);
    ASSERT_NE(settings, nullptr);
    // No modulator manager yet: nothing to start.
    EXPECT_EQ(settings->TriggerModulators(nullptr, AuRTPCKey{}, nullptr), AuResultSuccess);
    RecordingTrigger trigger;
    AuSetPluginModulatorTrigger(&trigger);
    EXPECT_EQ(settings->TriggerModulators(nullptr, AuRTPCKey{}, nullptr), AuResultSuccess);
    const std::vector<std::pair<u32, u32>> expected = {{2, 0x700}, {3, 0x701}};
    EXPECT_EQ(trigger.calls, expected);
    trigger.answer = AuResultFail;
    EXPECT_EQ(settings->TriggerModulators(nullptr, AuRTPCKey{}, nullptr), AuResultFail);
    EXPECT_EQ(trigger.calls.size(), 4u);
}

} // namespace
