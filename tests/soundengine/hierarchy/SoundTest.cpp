// Sounds and type-17 leaves read from bankgen records, their source descriptions, the play entry
// of the parameter node (MIDI filters, initial delay) and what reaches the instance manager and
// the pending-action queue (recording fakes).
#include "TestNodes.h"

#include "banks/AuBankMgr.h"
#include "core/AuAudioMgr.h"
#include "core/AuObjectIndex.h"
#include "core/AuOutputTiming.h"
#include "core/AuPendingAction.h"
#include "core/AuRegistryMgr.h"
#include "hierarchy/AuAction.h"
#include "hierarchy/AuAttenuation.h"
#include "hierarchy/AuHierarchyLoader.h"
#include "hierarchy/AuSound.h"
#include "parameters/AuRTPCMgr.h"
#include "plugins/AuPluginSettings.h"

#include <AuDefaultPoolTest.h>
#include <AuLogCapture.h>
#include <bankgen/Records.h>
#include <win32_testing.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using bankgen::Bytes;
using nodetest::TestNode;

constexpr u32 kSoundID = 0x1001;
constexpr u32 kMediaID = 0x2001;
constexpr u32 kBusID = 0x0CB96245;
constexpr u32 kParentID = 0x7001;

class RecordingInstances final : public IAuNodeInstances {
public:
    struct Start {
        CAuLeafNode* node;
        const AuSourceInfo* source;
        AuNodePlayParams params;
    };
    struct Call {
        char what; // 's' stop, 'p' pause, 'r' resume, 'm' modulators
        CAuRegisteredObj* gameObj;
        i32 ms;
        AuCurveInterpolation curve;
        AuPlayingID playingID;
        bool masterResume;
    };
    AURESULT StartNode(CAuLeafNode& node, const AuSourceInfo& source, AuNodePlayParams& params) override {
        starts.push_back({&node, &source, params});
        return result;
    }
    void StopInstancesOfNode(CAuLeafNode&, CAuRegisteredObj* o, i32 ms, AuCurveInterpolation c,
                             AuPlayingID id) override {
        calls.push_back({'s', o, ms, c, id, false});
    }
    void PauseInstancesOfNode(CAuLeafNode&, CAuRegisteredObj* o, i32 ms, AuCurveInterpolation c,
                              AuPlayingID id) override {
        calls.push_back({'p', o, ms, c, id, false});
    }
    void ResumeInstancesOfNode(CAuLeafNode&, CAuRegisteredObj* o, i32 ms, AuCurveInterpolation c,
                               AuPlayingID id, bool master) override {
        calls.push_back({'r', o, ms, c, id, master});
    }
    void ReleaseModulatorsOfNode(CAuLeafNode&, CAuRegisteredObj* o, AuPlayingID id) override {
        calls.push_back({'m', o, 0, AuCurveInterpolation_Linear, id, false});
    }
    std::vector<Start> starts;
    std::vector<Call> calls;
    AURESULT result = AuResultSuccess;
};

} // namespace

// The frame counter, which only the audio thread moves, and the pending list.
class CAuAudioMgrTestAccess {
public:
    static void SetFrame(CAuAudioMgr& mgr, u32 frame) { mgr.m_uFrameCounter = frame; }
    static CAuAction* FirstPendingAction(CAuAudioMgr& audio) {
        const auto* link = audio.m_pendingList.First();
        return link ? link->pRecord->pAction : nullptr;
    }
};

namespace {

class SoundTest : public AuDefaultPoolTest {
protected:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        nodetest::g_live = 0;
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
    }
    void TearDown() override {
        m_audio.Term();
        g_pAudioMgr = nullptr;
        for (CAuIndexable* object : m_objects)
            object->Release();
        m_objects.clear();
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
        ctx.bankId = 0x47FD79D2;
        Bytes out = bankgen::EncodePayload(record, ctx);
        EXPECT_TRUE(ctx.errors.empty()) << ctx.errors.front();
        return out;
    }
    static bankgen::SoundRecord Sound(u32 id = kSoundID) {
        bankgen::SoundRecord sound;
        sound.id = id;
        sound.source.sourceId = kMediaID;
        sound.source.fileId = 0x47FD79D2;
        sound.source.fileOffset = 0x100;
        sound.source.inMemorySize = 5828;
        return sound;
    }
    // A new sound read from the record (kept until the end of the test), or null with the
    // read's result in `result`.
    CAuSound* Read(const bankgen::SoundRecord& record, AURESULT* result = nullptr) {
        const Bytes payload = Encode(record);
        CAuSound* sound = CAuSound::Create(record.id);
        const AURESULT read =
            sound->SetInitialValues(payload.data(), static_cast<u32>(payload.size()), false);
        if (result) *result = read;
        m_objects.push_back(sound);
        return sound;
    }
    TestNode* Bus(u32 id) {
        TestNode* bus = TestNode::Make(id, AuNodeCategory_Bus);
        m_objects.push_back(bus);
        return bus;
    }
    TestNode* Parent(u32 id) {
        TestNode* parent = TestNode::Make(id, AuNodeCategory_Grouping);
        m_objects.push_back(parent);
        return parent;
    }
    // One pass of the pending actions at the next frame.
    void Step() {
        CAuAudioMgrTestAccess::SetFrame(m_audio, ++m_frame);
        m_audio.ProcessPendingList();
    }
    static AuNodePlayParams NoteOn(u8 channel, u8 note, u8 velocity) {
        AuNodePlayParams params;
        params.playingID = 9;
        params.midi = {AU_MIDI_NOTE_ON, channel, note, velocity};
        return params;
    }

    CAuObjectIndex m_index;
    CAuRTPCMgr m_rtpc;
    RecordingInstances m_instances;
    CAuAudioMgr m_audio;
    std::vector<CAuIndexable*> m_objects;
    u32 m_frame = 0;
};

// ---- Source descriptions ----

TEST_F(SoundTest, ANamedDescriptionFreesItsNameOnceAndItsCloneItsOwnCopy) {
    const u32 before = Used();
    {
        AuSourceInfo named;
        named.SetFromFileName(77, 0x00010001, L"music/theme.aum", 0xFFFFFFFF, false, true);
        ASSERT_NE(named.pData, nullptr);
        EXPECT_EQ(named.StorageKind(), AuSourceStorage_Streamed);
        EXPECT_TRUE(named.flags & AU_SOURCE_OWNED_NAME);
        EXPECT_TRUE(named.flags & AU_SOURCE_EXTERNAL);
        EXPECT_GT(Used(), before);

        AuSourceInfo* clone = named.Clone();
        ASSERT_NE(clone, nullptr);
        EXPECT_NE(clone->pData, named.pData) << "an owned name is copied";
        EXPECT_STREQ(static_cast<const wchar_t*>(clone->pData), L"music/theme.aum");
        AuSourceInfo::Destroy(clone);

        named.Term();
        EXPECT_EQ(named.pData, nullptr);
        EXPECT_EQ(Used(), before);
        named.Term(); // frees nothing a second time
        EXPECT_EQ(named.pluginID, 0x00010001u) << "Term keeps the plug-in ID";
    }
    EXPECT_EQ(Used(), before);
}

TEST_F(SoundTest, ACloneOfADescriptionWithDataSharesTheData) {
    static const u8 media[16] = {};
    AuSourceInfo info;
    info.SetWithData(0x00010001, const_cast<u8*>(media), 5, 0xFFFFFFFF, 0, sizeof(media),
                     AuSourceStorage_InMemory << AU_SOURCE_STORAGE_SHIFT);
    AuSourceInfo* clone = info.Clone();
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->pData, media);
    EXPECT_EQ(clone->flags, info.flags);
    u32 size = 0;
    AuMediaHolder* holder = nullptr;
    EXPECT_EQ(clone->GetMedia(size, holder), media);
    EXPECT_EQ(size, sizeof(media));
    AuSourceInfo::Destroy(clone);
    EXPECT_EQ(info.pData, media) << "the original keeps its data";
}

TEST_F(SoundTest, PreparingNeedsTheBankManagerOnlyForMediaHeldInMemory) {
    ASSERT_EQ(g_pBankMgr, nullptr);
    struct Case {
        u32 size;
        bool data;
        AURESULT expected;
    };
    static u8 media[4];
    for (const Case c :
         {Case{0, false, AuResultSuccess}, Case{4, true, AuResultSuccess}, Case{4, false, AuResultFail}}) {
        AuSourceInfo info;
        if (c.data)
            info.SetWithData(0x00010001, media, 5, 0, 0, c.size,
                             AuSourceStorage_InMemory << AU_SOURCE_STORAGE_SHIFT);
        else
            info.SetFields(0x00010001, 5, 9, 0, c.size,
                           (c.size ? AuSourceStorage_InMemory : AuSourceStorage_Streamed)
                               << AU_SOURCE_STORAGE_SHIFT);
        EXPECT_EQ(info.PrepareMedia(), c.expected) << c.size << c.data;
        info.UnprepareMedia();
    }
}

TEST_F(SoundTest, SettersClearWhatTheyDoNotSet) {
    AuSourceInfo info;
    EXPECT_EQ(info.sourceID, 0u);
    EXPECT_EQ(info.fileID, 0xFFFFFFFFu);
    EXPECT_EQ(info.pluginID, 0xFFFFFFFFu);
    info.SetFields(0x00010001, 5, 9, 12, 64, AU_SOURCE_LANGUAGE_SPECIFIC | (3u << AU_SOURCE_STORAGE_SHIFT));
    EXPECT_TRUE(info.HasBankSource());
    info.SetSourceID(6);
    EXPECT_EQ(info.sourceID, 6u);
    EXPECT_EQ(info.fileID, 0xFFFFFFFFu);
    EXPECT_EQ(info.pluginID, 0xFFFFFFFFu);
    EXPECT_EQ(info.inMemorySize, 0u);
    EXPECT_EQ(info.StorageKind(), AuSourceStorage_IDOnly);
    EXPECT_EQ(info.flags & ~AU_SOURCE_STORAGE_MASK, 0u);
    EXPECT_FALSE(info.HasBankSource());
}

// ---- Source records ----

TEST_F(SoundTest, SourceRecordsReadIntoTheirDescription) {
    struct Case {
        const char* name;
        u32 plugin;
        u8 streamType;
        u8 bits;
        Bytes params;
        u32 storage;
        u32 flags; // beyond the storage kind and bit 7
        u32 offset;
    };
    const Case cases[] = {
        {"pcm in memory", bankgen::kCodecPcm, 0, 0, {}, AuSourceStorage_InMemory, 0, 0x100},
        {"streamed",
         bankgen::kCodecAdpcm,
         1,
         0x0B,
         {},
         AuSourceStorage_Streamed,
         AU_SOURCE_LANGUAGE_SPECIFIC | AU_SOURCE_STREAM_TYPE_1 | AU_SOURCE_RECORD_BIT1 |
             AU_SOURCE_RECORD_BIT3,
         0x100},
        {"streamed without offset", bankgen::kCodecVorbis, 2, 0, {}, AuSourceStorage_Streamed, 0, 0},
    };
    for (const Case& c : cases) {
        bankgen::SoundRecord record = Sound();
        record.source.plugin = c.plugin;
        record.source.streamType = c.streamType;
        record.source.bits = c.bits;
        AURESULT result = AuResultNotImplemented;
        CAuSound* sound = Read(record, &result);
        ASSERT_EQ(result, AuResultSuccess) << c.name;
        const AuSourceInfo& info = sound->Source();
        EXPECT_EQ(info.pluginID, c.plugin) << c.name;
        EXPECT_EQ(info.StorageKind(), c.storage) << c.name;
        EXPECT_EQ(info.sourceID, kMediaID) << c.name;
        EXPECT_EQ(info.fileID, 0x47FD79D2u) << c.name;
        EXPECT_EQ(info.fileOffset, c.offset) << c.name;
        EXPECT_EQ(info.inMemorySize, 5828u) << c.name;
        EXPECT_EQ(info.flags, c.flags | AU_SOURCE_SET_EXPLICITLY | c.storage << AU_SOURCE_STORAGE_SHIFT)
            << c.name;
        EXPECT_EQ(info.pData, nullptr);
        EXPECT_TRUE(sound->HasSource());
        sound->Release();
        m_objects.pop_back();
    }
}

TEST_F(SoundTest, ASourceWithAParameterBlockKeepsOnlyItsSourceID) {
    for (const u32 plugin : {0x00650002u, 0x00660005u}) {
        bankgen::SoundRecord record = Sound();
        record.source.plugin = plugin;
        record.source.params = {1, 2, 3, 4, 5};
        record.node.props = {bankgen::PropF(0, -6.0f)};
        AURESULT result = AuResultNotImplemented;
        CAuSound* sound = Read(record, &result);
        ASSERT_EQ(result, AuResultSuccess);
        EXPECT_EQ(sound->Source().sourceID, kMediaID);
        EXPECT_EQ(sound->Source().StorageKind(), AuSourceStorage_IDOnly);
        EXPECT_EQ(sound->Source().pluginID, 0xFFFFFFFFu);
        EXPECT_EQ(sound->Source().inMemorySize, 0u);
        EXPECT_EQ(sound->GetPropFloat(0), -6.0f) << "the common record follows the parameter block";
    }
}

TEST_F(SoundTest, BadSourceRecordsAreRefusedWithoutReadingPastThem) {
    const Bytes good = Encode(Sound());
    // Payload: ID 0-3, plug-in 4-7, stream type 8, source 9-12, file 13-16, offset 17-20, size 21-24,
    // bits 25.
    struct Case {
        const char* name;
        u32 at;
        u8 value;
        u32 cut; // bytes kept, 0: all
        AURESULT expected;
    };
    const Case cases[] = {
        {"plug-in type 3", 4, 0x03, 0, AuResultFail},
        {"plug-in type 15", 4, 0x0F, 0, AuResultFail},
        {"stream type 3", 8, 3, 0, AuResultFail},
        {"cut in the source", 0, 0, 20, AuResultBadHeader},
        {"cut after the source", 0, 0, 26, AuResultBadHeader},
    };
    for (const Case& c : cases) {
        Bytes payload = good;
        if (c.at) payload[c.at] = c.value;
        if (c.cut) payload.resize(c.cut);
        // Exactly the bytes of the payload, so that ASan sees a read past them.
        std::vector<u8> exact(payload.begin(), payload.end());
        CAuSound* sound = CAuSound::Create(kSoundID);
        EXPECT_EQ(sound->SetInitialValues(exact.data(), static_cast<u32>(exact.size()), false), c.expected)
            << c.name;
        sound->Release();
    }

    bankgen::SoundRecord withBlock = Sound();
    withBlock.source.plugin = 0x00650002;
    withBlock.source.params = {1, 2, 3, 4};
    Bytes payload = Encode(withBlock);
    // The block size field sits after the 26 bytes of ID and source: claim more than is left.
    const u32 huge = static_cast<u32>(payload.size());
    memcpy(payload.data() + 26, &huge, 4);
    CAuSound* sound = CAuSound::Create(kSoundID);
    EXPECT_EQ(sound->SetInitialValues(payload.data(), static_cast<u32>(payload.size()), false),
              AuResultBadHeader);
    sound->Release();
}

// ---- The common record of playable nodes ----

TEST_F(SoundTest, CommonRecordVariantsReadToTheEnd) {
    Bus(kBusID);
    Parent(kParentID);
    bankgen::SoundRecord noEffects = Sound();
    noEffects.node.outputBus = kBusID;
    noEffects.node.bypassBits = 0x1F; // not written: no effect
    noEffects.node.props = {bankgen::PropF(0, -3.0f)};

    bankgen::SoundRecord positionOff = Sound();
    positionOff.node.positioning.bits = 0x0E; // bit 0 clear: the whole block
    positionOff.node.props = {bankgen::PropF(2, 120.0f)};

    bankgen::SoundRecord threeD = Sound();
    threeD.node.positioning.bits = 0x1 | 0x8 | 0x10 | 0x40;
    threeD.node.positioning.type3d = 1;
    threeD.node.positioning.attenuation = 0xA77;
    threeD.node.parent = kParentID;

    bankgen::SoundRecord aux = Sound();
    aux.node.auxBits = 0x0D;
    aux.node.userAux = {11, 0, 13, 14};

    bankgen::SoundRecord advanced = Sound();
    advanced.node.advancedFlags = 0x1F;
    advanced.node.virtualQueue = 0x0A;   // 3 bits kept
    advanced.node.maxInstances = 0x1405; // 10 bits kept
    advanced.node.belowThreshold = 0x12; // 4 bits kept
    advanced.node.outputFlags = 0x0F;

    AURESULT result = AuResultNotImplemented;
    CAuSound* a = Read(noEffects, &result);
    ASSERT_EQ(result, AuResultSuccess);
    EXPECT_EQ(a->Bus()->key, kBusID);
    EXPECT_EQ(a->GetPropFloat(0), -3.0f);
    EXPECT_EQ(a->Effects(), nullptr) << "no bypass byte was read";

    CAuSound* b = Read(positionOff, &result);
    ASSERT_EQ(result, AuResultSuccess);
    EXPECT_FALSE(b->HasPositioning());
    EXPECT_FALSE(b->FlagsB() & AU_NODE_B_OWN_POSITIONING);
    EXPECT_EQ(b->GetPropFloat(2), 120.0f);

    CAuSound* c = Read(threeD, &result);
    ASSERT_EQ(result, AuResultSuccess);
    ASSERT_TRUE(c->HasPositioning());
    EXPECT_EQ(c->Positioning()->nodeID, kSoundID);
    EXPECT_EQ(c->Positioning()->type3D, 1);
    EXPECT_EQ(c->Positioning()->attenuationID, 0xA77u);
    EXPECT_EQ(c->Positioning()->flags, CAuPositioningParams::kSpatialisation | CAuPositioningParams::kBit3);
    EXPECT_EQ(c->PositioningByte() & AU_POS_TYPE_MASK, 1);
    EXPECT_EQ(c->Parent()->key, kParentID);

    CAuSound* d = Read(aux, &result);
    ASSERT_EQ(result, AuResultSuccess);
    EXPECT_EQ(d->PositioningByte() & 0x70, 0x50);
    EXPECT_EQ(d->AuxBus(0), 11u);
    EXPECT_EQ(d->AuxBus(1), 0u);
    EXPECT_EQ(d->AuxBus(3), 14u);

    CAuSound* e = Read(advanced, &result);
    ASSERT_EQ(result, AuResultSuccess);
    EXPECT_EQ(e->FlagsA() & 0x2F, AU_NODE_A_LIMIT_ORDER | AU_NODE_A_USE_VIRTUAL | AU_NODE_A_OWN_VIRTUAL |
                                      AU_NODE_A_OWN_LIMIT | AU_NODE_A_LIMIT_ALL_OBJECTS);
    EXPECT_EQ(e->VirtualByte(), 0x02 | (0x2 << 3));
    EXPECT_EQ(e->LimitWord() & 0x3FF, 0x005);
    EXPECT_EQ(e->PositioningByte() & AU_POS_OVERRIDE_OUT1, AU_POS_OVERRIDE_OUT1);
    EXPECT_EQ(e->OutputByte(), AU_OUT_OVERRIDE_OUT2 | AU_OUT_VALUE_OUT2 | AU_OUT_VALUE_OUT1);
    u8 queue = 0, below = 0;
    e->GetVirtualVoiceSettings(queue, below);
    EXPECT_EQ(queue, 2);
    EXPECT_EQ(below, 2);
}

// ---- Effect slots ----

// A parent whose slot 0 answers with the settings the test gives it.
class FxParent final : public TestNode {
public:
    using TestNode::TestNode;
    void GetFx(u32 slot, AuEffectRecord& io, CAuRegisteredObj*) override {
        if (io.pSettings) io.pSettings->Release();
        io = AuEffectRecord{};
        ++asked;
        if (slot != 0 || !settings) return;
        settings->AddRef();
        io = {settings, true};
    }
    u32 GetFxMediaID(u32, u32) override { return 0x77; }

    CAuPluginSettings* settings = nullptr;
    int asked = 0;
};

TEST_F(SoundTest, EffectSlotsResolveInTheTableOfTheirShareFlagWithTheirBypassAndMedia) {
    CAuPluginSettings* shared = CAuPluginSettingsType18::Create(0x50);
    CAuPluginSettings* own = CAuPluginSettingsType19::Create(0x51);
    // The same IDs in the other tables: a slot must not find them.
    CAuPluginSettings* decoy19 = CAuPluginSettingsType19::Create(0x50);
    CAuPluginSettings* decoy18 = CAuPluginSettingsType18::Create(0x51);
    ASSERT_TRUE(shared && own && decoy19 && decoy18);
    m_objects.insert(m_objects.end(), {shared, own, decoy19, decoy18});
    const Bytes media = Encode(bankgen::PluginSettingsRecord{
        bankgen::HierarchyType::PluginSettings, 0x51, bankgen::kNoPlugin, {}, {{2, 0x9001}}, {}, {}});
    ASSERT_EQ(own->LoadPluginSettings(media.data(), static_cast<u32>(media.size())), AuResultSuccess);

    bankgen::SoundRecord record = Sound();
    record.node.overrideParentEffects = 1;
    record.node.effects = {{0, 0x50, 1, 0}, {1, 0x51, 0, 0}, {2, 0x52, 0, 0}};
    record.node.bypassBits = 0x02;
    CAuSound* sound = Read(record);
    struct Case {
        u32 slot;
        CAuPluginSettings* settings;
        bool bypass;
    } cases[] = {{0, shared, false}, {1, own, true}, {2, nullptr, false}, {3, nullptr, false}};
    AuLogCapture log;
    AuEffectRecord found;
    for (const Case& c : cases) {
        const u32 before = c.settings ? c.settings->m_lRef : 0;
        sound->GetFx(c.slot, found, nullptr);
        EXPECT_EQ(found.pSettings, c.settings) << c.slot;
        EXPECT_EQ(found.bBypass, c.bypass) << c.slot;
        if (c.settings) {
            EXPECT_EQ(c.settings->m_lRef, before + 1) << c.slot << ": one reference for the caller";
        }
        // The voice's view of the same slot, for the instance's object.
        AuEffectRecord viewed;
        sound->InstanceNode().GetEffectRecord(c.slot, nullptr, viewed);
        EXPECT_EQ(viewed.pSettings, c.settings) << c.slot;
        EXPECT_EQ(viewed.bBypass, c.bypass) << c.slot;
        if (viewed.pSettings) viewed.pSettings->Release();
    }
    // Each read released what the record held before.
    EXPECT_EQ(shared->m_lRef, 1u);
    EXPECT_EQ(own->m_lRef, 1u);
    EXPECT_EQ(found.pSettings, nullptr);
    sound->GetFx(2, found, nullptr);
    ASSERT_NE(log.Text().find("plug-in settings 82 (type 19) are not loaded"), std::string::npos)
        << log.Text();
    EXPECT_EQ(log.Text().find("plug-in settings 82 (type 19) are not loaded"),
              log.Text().rfind("plug-in settings 82"))
        << "reported once: " << log.Text();

    EXPECT_EQ(sound->GetFxMediaID(1, 2), 0x9001u);
    EXPECT_EQ(sound->GetFxMediaID(1, 3), 0u) << "an index the settings do not hold";
    EXPECT_EQ(sound->GetFxMediaID(3, 0), 0u) << "an empty slot";
    EXPECT_EQ(Read(Sound(0x1002))->GetFxMediaID(0, 0), 0xFFFFFFFFu) << "no effect block";

    // A child that does not override its parent's effects takes them, bypass and media too.
    auto* parent = TestNode::Make<FxParent>(kParentID);
    m_objects.push_back(parent);
    parent->settings = own;
    bankgen::SoundRecord child = Sound(0x1003);
    child.node.parent = kParentID;
    child.node.effects = {{0, 0x50, 1, 0}};
    CAuSound* inheriting = Read(child);
    ASSERT_EQ(inheriting->Parent(), parent);
    inheriting->GetFx(0, found, nullptr);
    EXPECT_EQ(found.pSettings, own);
    EXPECT_TRUE(found.bBypass);
    EXPECT_EQ(parent->asked, 1);
    EXPECT_EQ(inheriting->GetFxMediaID(0, 2), 0x77u);
    found.pSettings->Release();
}

TEST_F(SoundTest, AMissingOutputBusFailsAndAMissingParentIsSkipped) {
    bankgen::SoundRecord busMissing = Sound();
    busMissing.node.outputBus = 0xDEAD;
    bankgen::SoundRecord parentMissing = Sound(0x1002);
    parentMissing.node.parent = 0xBEEF;
    AURESULT result = AuResultNotImplemented;
    Read(busMissing, &result);
    EXPECT_EQ(result, AuResultFail);
    CAuSound* sound = Read(parentMissing, &result);
    EXPECT_EQ(result, AuResultSuccess);
    EXPECT_EQ(sound->Parent(), nullptr);
}

// ---- Attenuations and the largest radius ----

TEST_F(SoundTest, AnAttenuationReadsItsCurvesAndConvertsEachLevelCurveOnce) {
    bankgen::AttenuationRecord record;
    record.id = 0xA01;
    record.cone = bankgen::Cone{90.0f, 180.0f, {-6.0f, 0.5f, 0.5f}};
    // Uses 0 and 1 share slot 0; use 2 takes slot 1; use 3, which is no level, slot 2.
    record.curveUse = {0, 0, 1, 2, 255, 255, 255};
    record.curves = {
        {AuCurveScaling_LinearToDb, {{0, -0.5f, 4}, {40, -1.0f, 4}}},
        {AuCurveScaling_None, {{0, 0, 4}, {60, -20, 4}}},
        {AuCurveScaling_None, {{0, 0, 4}, {80, 1, 4}}},
    };
    bankgen::RtpcCurve entry;
    entry.gameParameter = 0x51;
    entry.curveId = 3;
    entry.points = {{0, 0, 4}, {1, 1, 4}};
    record.rtpcs = {entry};
    const Bytes payload = Encode(bankgen::Record{record});
    CAuAttenuation* attenuation = CAuAttenuation::Create(record.id);
    m_objects.push_back(attenuation);
    ASSERT_EQ(attenuation->SetAttenuationParams(payload.data(), static_cast<u32>(payload.size())),
              AuResultSuccess);
    const CAuParamCurve* shared = attenuation->CurveFor(0);
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(attenuation->CurveFor(1), shared);
    EXPECT_EQ(shared->Scaling(), AuCurveScaling_None);
    EXPECT_FLOAT_EQ(shared->Points()[0].y, 0.5f) << "lifted by 1.0 once";
    EXPECT_FLOAT_EQ(shared->Points()[1].y, 0.0f);
    ASSERT_NE(attenuation->CurveFor(2), nullptr);
    EXPECT_EQ(attenuation->CurveFor(2)->Scaling(), AuCurveScaling_DbToLinear);
    ASSERT_NE(attenuation->CurveFor(3), nullptr);
    EXPECT_EQ(attenuation->CurveFor(3)->Scaling(), AuCurveScaling_None) << "not a level curve";
    EXPECT_EQ(attenuation->CurveFor(4), nullptr);
    f32 distance = 0.0f;
    EXPECT_TRUE(attenuation->GetMaxDistance(distance));
    EXPECT_EQ(distance, 40.0f);

    // Without the cone the uses start at offset 5; every cut gives 7; no curve gives 2.
    bankgen::AttenuationRecord plain;
    plain.id = 0xA02;
    const Bytes plainPayload = Encode(bankgen::Record{plain});
    ASSERT_GT(plainPayload.size(), 5u);
    EXPECT_EQ(plainPayload[5], 0) << "use 0 right after the cone flag";
    CAuAttenuation* other = CAuAttenuation::Create(plain.id);
    m_objects.push_back(other);
    for (size_t cut = 0; cut < plainPayload.size(); ++cut)
        EXPECT_EQ(other->SetAttenuationParams(plainPayload.data(), static_cast<u32>(cut)), AuResultBadHeader)
            << cut;
    for (size_t cut = 0; cut < payload.size(); ++cut)
        ASSERT_EQ(other->SetAttenuationParams(payload.data(), static_cast<u32>(cut)), AuResultBadHeader)
            << cut;
    const Bytes noCurve = {2, 0xA0, 0, 0, 0, 255, 255, 255, 255, 255, 255, 255, 0, 0, 0};
    EXPECT_EQ(other->SetAttenuationParams(noCurve.data(), static_cast<u32>(noCurve.size())), AuResultFail);
}

TEST_F(SoundTest, TheLargestRadiusIsTheLastDistanceOfThePositioningOwnersAttenuation) {
    bankgen::AttenuationRecord record;
    record.id = 0xA01;
    record.curves = {{0, {{0, 0, 4}, {125, -50, 4}, {250, -96.3f, 4}}}};
    const Bytes payload = Encode(bankgen::Record{record});
    CAuAttenuation* attenuation = CAuAttenuation::Create(record.id);
    m_objects.push_back(attenuation);
    ASSERT_EQ(attenuation->SetAttenuationParams(payload.data(), static_cast<u32>(payload.size())),
              AuResultSuccess);
    record.id = 0xA02;
    record.curveUse = {255, 0, 255, 255, 255, 255, 255}; // no curve over distance for the level
    const Bytes noDistance = Encode(bankgen::Record{record});
    CAuAttenuation* other = CAuAttenuation::Create(record.id);
    m_objects.push_back(other);
    ASSERT_EQ(other->SetAttenuationParams(noDistance.data(), static_cast<u32>(noDistance.size())),
              AuResultSuccess);

    struct Case {
        const char* what;
        u8 bits;
        u32 attenuationID;
        bool found;
        f32 radius;
    };
    const Case cases[] = {
        {"3D with the attenuation", 0x1 | 0x8, 0xA01, true, 250.0f},
        {"its level has no distance curve", 0x1 | 0x8, 0xA02, false, 0.0f},
        {"no such attenuation", 0x1 | 0x8, 0xA03, false, 0.0f},
        {"no attenuation", 0x1 | 0x8, 0, false, 0.0f},
        {"no positioning of its own", 0, 0, false, 0.0f},
    };
    u32 id = kSoundID;
    for (const Case& c : cases) {
        bankgen::SoundRecord sound = Sound(id++);
        sound.node.positioning.bits = c.bits;
        sound.node.positioning.type3d = 1;
        sound.node.positioning.attenuation = c.attenuationID;
        CAuSound* node = Read(sound);
        f32 radius = -1.0f;
        EXPECT_EQ(node->GetMaxRadius(radius), c.found) << c.what;
        EXPECT_EQ(radius, c.radius) << c.what;
    }
    EXPECT_EQ(attenuation->m_lRef, 1u) << "the lookups' references are dropped";
}

TEST_F(SoundTest, PathsAreRefusedClearlyAndCountsPastTheRecordAreBadHeaders) {
    bankgen::SoundRecord path = Sound();
    path.node.positioning.bits = 0x1 | 0x8;
    path.node.positioning.type3d = 2;
    path.node.positioning.vertices = {{1, 2, 3, 100}, {4, 5, 6, 100}};
    path.node.positioning.items = {{0, 2, 0, 0, 0}};
    AuLogCapture log;
    AURESULT result = AuResultNotImplemented;
    Read(path, &result);
    EXPECT_EQ(result, AuResultTypeNotHandled);
    EXPECT_NE(log.Text().find("path"), std::string::npos) << log.Text();

    bankgen::SoundRecord emptyPath = path;
    emptyPath.id = 0x1002;
    emptyPath.node.positioning.items.clear();
    emptyPath.node.props = {bankgen::PropF(3, 12.0f)};
    CAuSound* sound = Read(emptyPath, &result);
    EXPECT_EQ(result, AuResultSuccess) << "vertices without items are skipped";
    EXPECT_EQ(sound->GetPropFloat(3), 12.0f);

    // The vertex count, then the effect count, claim more than the record holds.
    Bytes payload = Encode(path);
    const u32 vertexCountAt = 26 + 2 + 1 + 4 + 4 + 1 + 1 + 1 + 1 + 1 + 4 + 1 + 4;
    const u32 huge = 0x10000000;
    memcpy(payload.data() + vertexCountAt, &huge, 4);
    CAuSound* bad = CAuSound::Create(0x1003);
    EXPECT_EQ(bad->SetInitialValues(payload.data(), static_cast<u32>(payload.size()), false),
              AuResultBadHeader);
    bad->Release();

    bankgen::SoundRecord effects = Sound(0x1004);
    effects.node.effects = {{0, 0x99, 0, 1}};
    payload = Encode(effects);
    payload[27] = 200; // the effect count
    bad = CAuSound::Create(0x1004);
    EXPECT_EQ(bad->SetInitialValues(payload.data(), static_cast<u32>(payload.size()), false),
              AuResultBadHeader);
    bad->Release();
}

TEST_F(SoundTest, ASoundMetAgainRereadsItsSourceAndEffectsOnlyUnlessABankDescribedItsSource) {
    AuInstallCoreHierarchyLoaders();
    AuBankObjectList list;
    CAuHierarchyLoader loader;
    loader.BeginBank(&list, nullptr, 1);
    ASSERT_EQ(loader.BeginHierarchy(4), AuResultSuccess);

    bankgen::SoundRecord plugin = Sound();
    plugin.source.plugin = 0x00650002;
    plugin.source.params = {9};
    plugin.node.props = {bankgen::PropF(0, -1.0f)};
    plugin.node.effects = {{0, 0x50, 1, 0}};
    bankgen::SoundRecord codec = Sound();
    codec.node.props = {bankgen::PropF(0, -9.0f)};
    codec.node.overrideParentEffects = 1;
    // Read again, the effects block gives only the slots' rendered marks.
    codec.node.effects = {{0, 0x50, 1, 1}, {1, 0x51, 1, 0}};
    const Bytes first = Encode(plugin);
    const Bytes second = Encode(codec);
    ASSERT_EQ(loader.LoadRecord(AuHierarchyTypeSound, first.data(), static_cast<u32>(first.size())),
              AuResultSuccess);
    ASSERT_EQ(static_cast<CAuSound*>(list[0])->Effects()->slots[0].pluginID, 0x50u);
    ASSERT_EQ(loader.LoadRecord(AuHierarchyTypeSound, second.data(), static_cast<u32>(second.size())),
              AuResultSuccess);
    ASSERT_EQ(list.Count(), 2u);
    auto* sound = static_cast<CAuSound*>(list[0]);
    EXPECT_EQ(list[1], list[0]) << "one sound, listed twice";
    EXPECT_EQ(sound->ClassKind(), 4u);
    EXPECT_EQ(sound->Category(), AuNodeCategory_Sound);
    EXPECT_EQ(sound->Source().StorageKind(), AuSourceStorage_InMemory) << "the source was read again";
    EXPECT_EQ(sound->GetPropFloat(0), -1.0f) << "the rest of the record was not";
    EXPECT_FALSE(sound->FlagsB() & AU_NODE_B_OVERRIDE_EFFECTS);
    ASSERT_NE(sound->Effects(), nullptr);
    EXPECT_TRUE(sound->Effects()->slots[0].bRendered);
    EXPECT_EQ(sound->Effects()->slots[0].pluginID, 0u) << "a rendered slot plays no effect";
    EXPECT_EQ(sound->Effects()->slots[1].pluginID, 0u) << "nothing attached on a second reading";

    // Its source now comes from a bank: a third meeting reads nothing.
    bankgen::SoundRecord third = Sound();
    third.source.inMemorySize = 1;
    third.node.effects = {{2, 0x52, 1, 1}};
    const Bytes thirdBytes = Encode(third);
    ASSERT_EQ(loader.LoadRecord(AuHierarchyTypeSound, thirdBytes.data(), static_cast<u32>(thirdBytes.size())),
              AuResultSuccess);
    EXPECT_EQ(sound->Source().inMemorySize, 5828u);
    EXPECT_FALSE(sound->Effects()->slots[2].bRendered);
    AuReleaseBankObjects(list);
    loader.BeginBank(nullptr, nullptr, 0);
}

// ---- The play entry ----

TEST_F(SoundTest, APlayReachesTheInstanceManagerOnceWithTheSoundAndItsSource) {
    CAuSound* sound = Read(Sound());
    AuNodePlayParams params;
    params.playingID = 42;
    EXPECT_EQ(sound->ExecutePlay(params), AuResultSuccess);
    ASSERT_EQ(m_instances.starts.size(), 1u);
    EXPECT_EQ(m_instances.starts[0].node, sound);
    EXPECT_EQ(m_instances.starts[0].source, &sound->Source());
    EXPECT_EQ(m_instances.starts[0].params.playingID, 42u);

    m_instances.result = AuResultLimiterRefusedUseVirtual;
    EXPECT_EQ(sound->ExecutePlay(params), AuResultLimiterRefusedUseVirtual)
        << "the start's result is the play's";
}

TEST_F(SoundTest, AnInitialDelayQueuesAPlayAndContinueThatPlaysWithoutTheDelayAgain) {
    bankgen::SoundRecord record = Sound();
    record.node.props = {bankgen::PropF(AU_PROP_INITIAL_DELAY, 0.1f)};
    CAuSound* sound = Read(record);
    // 4800 samples at 1024 a frame: 4 frames and 704 samples; a play-and-continue action starts
    // its look-ahead of frames earlier, with the rest in its offset.
    struct Case {
        u32 lookAhead;
        u32 frames;
        i32 offset;
    };
    for (const Case c : {Case{0, 4, 704}, Case{1, 3, 1728}, Case{4, 0, 4800}}) {
        m_instances.starts.clear();
        m_audio.SetPlayAndContinueLookAhead(c.lookAhead);
        AuNodePlayParams params;
        params.playingID = 42;
        EXPECT_EQ(sound->ExecutePlay(params), AuResultSuccess);
        if (c.frames != 0) {
            ASSERT_EQ(m_audio.NumPendingItems(), 1u) << c.lookAhead;
            const CAuAction* pending = CAuAudioMgrTestAccess::FirstPendingAction(m_audio);
            EXPECT_EQ(pending->ActionType(), AU_ACTION_PLAY_AND_CONTINUE);
            EXPECT_EQ(pending->TargetID(), kSoundID);
            EXPECT_EQ(pending->GetDelay(), 4800);
        }
        for (u32 frame = 0; frame < c.frames; ++frame) {
            EXPECT_TRUE(m_instances.starts.empty()) << c.lookAhead << " frame " << frame;
            Step();
        }
        ASSERT_EQ(m_instances.starts.size(), 1u) << c.lookAhead;
        const AuNodePlayParams& played = m_instances.starts[0].params;
        EXPECT_EQ(played.playingID, 42u);
        EXPECT_EQ(played.lFrameOffset, c.offset) << c.lookAhead;
        EXPECT_EQ(played.flags & AU_PLAY_DEFERRED_RETURN, 0) << "the flag is spent";
        Step();
        EXPECT_EQ(m_instances.starts.size(), 1u) << "not deferred again";
    }

    // Within a continuing walk the delay goes into the frame offset instead.
    m_instances.starts.clear();
    AuNodePlayParams params;
    params.playingID = 42;
    params.uContinuationContext = 1;
    params.lFrameOffset = 10;
    EXPECT_EQ(sound->ExecutePlay(params), AuResultSuccess);
    ASSERT_EQ(m_instances.starts.size(), 1u);
    EXPECT_EQ(m_instances.starts[0].params.lFrameOffset, 4810);
}

TEST_F(SoundTest, ADeferredPlayThatFailsReportsItsFailureOnlyWhenItRunsAtOnce) {
    bankgen::SoundRecord record = Sound();
    record.node.props = {bankgen::PropF(AU_PROP_INITIAL_DELAY, 0.01f)}; // 480 samples
    CAuSound* sound = Read(record);
    m_instances.result = AuResultLimiterRefusedUseVirtual;
    AuNodePlayParams params;
    params.playingID = 1;
    EXPECT_EQ(sound->ExecutePlay(params), AuResultLimiterRefusedUseVirtual)
        << "within the frame: run at once";
    EXPECT_EQ(m_instances.starts.size(), 1u);
}

TEST_F(SoundTest, DelaysBecomeSamplesRoundedHalfAwayFromZero) {
    EXPECT_EQ(AuSecondsToSamples(0.1f), 4800);
    EXPECT_EQ(AuMillisecondsToSamples(21.0f), 1008);
    // At 32768 Hz, 2^-16 s is exactly half a sample.
    SetOutputSampleRate(32768);
    struct Case {
        f32 seconds;
        i32 samples;
    };
    const f32 half = std::ldexp(1.0f, -16);
    for (const Case c :
         {Case{half, 1}, Case{3 * half, 2}, Case{-half, -1}, Case{half / 2, 0}, Case{-3 * half, -2}})
        EXPECT_EQ(AuSecondsToSamples(c.seconds), c.samples) << c.seconds;
    EXPECT_EQ(AuMillisecondsToSamples(1000.0f * half), 1);
    SetOutputSampleRate(48000);
}

TEST_F(SoundTest, NonPositiveAndNaNDelaysPlayAtOnce) {
    for (const f32 delay : {0.0f, -0.5f, std::numeric_limits<f32>::quiet_NaN()}) {
        bankgen::SoundRecord record = Sound();
        record.node.props = {bankgen::PropF(AU_PROP_INITIAL_DELAY, delay)};
        CAuSound* sound = Read(record);
        AuNodePlayParams params;
        params.playingID = 1;
        EXPECT_EQ(sound->ExecutePlay(params), AuResultSuccess);
        sound->Release();
        m_objects.pop_back();
    }
    EXPECT_EQ(m_instances.starts.size(), 3u) << "all at once";
}

TEST_F(SoundTest, MidiFiltersRefuseBeforeAnyInstance) {
    bankgen::SoundRecord record = Sound();
    record.node.props = {
        bankgen::PropI(AU_PROP_MIDI_CHANNEL_MASK, 0x0005), bankgen::PropI(AU_PROP_MIDI_TRANSPOSE, 2),
        bankgen::PropI(AU_PROP_MIDI_NOTE_MIN, 60),         bankgen::PropI(AU_PROP_MIDI_NOTE_MAX, 64),
        bankgen::PropI(AU_PROP_MIDI_VELOCITY_OFFSET, -10), bankgen::PropI(AU_PROP_MIDI_VELOCITY_MIN, 20),
        bankgen::PropI(AU_PROP_MIDI_VELOCITY_MAX, 100)};
    CAuSound* sound = Read(record);
    struct Case {
        const char* name;
        u8 channel, note, velocity;
        AURESULT expected;
        u8 note2, velocity2; // as the instance manager receives them
    };
    const Case cases[] = {
        {"channel 1 outside the mask", 1, 60, 64, AuResultMidiFiltered, 0, 0},
        {"channel 16", 16, 60, 64, AuResultMidiFiltered, 0, 0},
        {"note below after transposition", 0, 57, 64, AuResultMidiFiltered, 0, 0},
        {"note above after transposition", 2, 63, 64, AuResultMidiFiltered, 0, 0},
        {"velocity below", 0, 60, 29, AuResultMidiFiltered, 0, 0},
        {"velocity above", 0, 60, 111, AuResultMidiFiltered, 0, 0},
        {"velocity clamped to 1, below", 0, 60, 5, AuResultMidiFiltered, 0, 0},
        {"note clamped to 127, above", 0, 127, 64, AuResultMidiFiltered, 0, 0},
        {"lowest note", 0, 58, 30, AuResultSuccess, 60, 20},
        {"highest note", 2, 62, 110, AuResultSuccess, 64, 100},
    };
    for (const Case& c : cases) {
        m_instances.starts.clear();
        AuNodePlayParams params = NoteOn(c.channel, c.note, c.velocity);
        EXPECT_EQ(sound->ExecutePlay(params), c.expected) << c.name;
        if (c.expected != AuResultSuccess) {
            EXPECT_TRUE(m_instances.starts.empty()) << c.name;
            continue;
        }
        ASSERT_EQ(m_instances.starts.size(), 1u) << c.name;
        EXPECT_EQ(m_instances.starts[0].params.midi.note, c.note2) << c.name;
        EXPECT_EQ(m_instances.starts[0].params.midi.velocity, c.velocity2) << c.name;
    }
}

TEST_F(SoundTest, ParentFiltersRunFirstAndTranspositionsAdd) {
    bankgen::SoundRecord top = Sound(0x1100);
    top.node.props = {bankgen::PropI(AU_PROP_MIDI_TRANSPOSE, 5)};
    CAuSound* parent = Read(top);
    bankgen::SoundRecord child = Sound();
    child.node.props = {bankgen::PropI(AU_PROP_MIDI_TRANSPOSE, -2),
                        bankgen::PropI(AU_PROP_MIDI_NOTE_MAX, 70)};
    CAuSound* sound = Read(child);
    sound->SetParent(parent);
    struct Case {
        u8 note;
        AURESULT expected;
        u8 resolved;
    };
    for (const Case c : {Case{66, AuResultSuccess, 69}, Case{67, AuResultSuccess, 70},
                         Case{68, AuResultMidiFiltered, 0}, Case{125, AuResultMidiFiltered, 0}}) {
        AuMidiEvent event{AU_MIDI_NOTE_ON, 0, c.note, 64};
        bool first = true;
        EXPECT_EQ(sound->ResolveMidiEventParams(event, first), c.expected) << int(c.note);
        if (c.expected == AuResultSuccess) {
            EXPECT_EQ(event.note, c.resolved);
        }
        EXPECT_FALSE(first && c.expected == AuResultSuccess) << "the first-call flag is spent";
    }
    // Without the first-call flag the parent is not asked again.
    AuMidiEvent event{AU_MIDI_NOTE_ON, 0, 66, 64};
    bool first = false;
    EXPECT_EQ(sound->ResolveMidiEventParams(event, first), AuResultSuccess);
    EXPECT_EQ(event.note, 64);
    sound->SetParent(nullptr);
}

TEST_F(SoundTest, ANoteOnSetsTheBuiltInsAndRegistersInTheNoteRecord) {
    bankgen::SoundRecord record = Sound();
    record.node.props = {bankgen::PropI(AuPropID_MidiPlayMode, 2)};
    CAuSound* sound = Read(record);
    AuNoteRecord notes;
    ASSERT_EQ(notes.Init(4, AuNoteRecord::kNoMaximum), AuResultSuccess);
    AuNodePlayParams params = NoteOn(3, 69, 100);
    params.linkedID = 0x5150;
    params.pNoteRecord = &notes;
    EXPECT_EQ(sound->ExecutePlay(params), AuResultMidiFiltered);
    EXPECT_TRUE(m_instances.starts.empty());

    AuRTPCKey key;
    key.midiTargetID = 0x5150;
    key.midiChannel = 3;
    key.midiNote = 69;
    EXPECT_FLOAT_EQ(m_rtpc.GetRTPCValue(132, key), 440.0f);
    EXPECT_EQ(m_rtpc.GetRTPCValue(133, key), 69.0f);
    EXPECT_EQ(m_rtpc.GetRTPCValue(129, key), 100.0f);

    u32 entries = 0;
    notes.RemoveAll([&](const AuNoteRecordEntry& entry) {
        ++entries;
        EXPECT_EQ(entry.pNode, sound);
        EXPECT_EQ(entry.linkedID, 0x5150u);
        EXPECT_EQ(entry.virtualBehaviour, 1) << "play mode 2";
        entry.pNode->Release();
        return true;
    });
    EXPECT_EQ(entries, 1u);
    notes.Term();
}

// ---- Ranges ----

TEST_F(SoundTest, ARangeWithMinEqualToMaxAddsMinWithoutDrawing) {
    bankgen::SoundRecord record = Sound();
    record.node.props = {bankgen::PropF(AU_PROP_INITIAL_DELAY, 0.05f)};
    record.node.ranges = {bankgen::RangeF(AU_PROP_INITIAL_DELAY, 0.05f, 0.05f), bankgen::RangeI(58, 2, 2)};
    CAuSound* sound = Read(record);
    const size_t before = win32test::RandCallCount();
    m_audio.SetPlayAndContinueLookAhead(0);
    AuNodePlayParams params;
    params.playingID = 1;
    EXPECT_EQ(sound->ExecutePlay(params), AuResultSuccess);
    for (u32 frame = 0; frame < 4; ++frame)
        Step();
    ASSERT_EQ(m_instances.starts.size(), 1u) << "0.05 + 0.05 s: 4800 samples";
    EXPECT_EQ(m_instances.starts[0].params.lFrameOffset, 704);
    EXPECT_EQ(sound->ComputeRandomizedValue(), 3);
    EXPECT_EQ(win32test::RandCallCount(), before);
}

TEST_F(SoundTest, TheLoopCountDrawsItsRangeRoundedHalfUp) {
    bankgen::SoundRecord record = Sound();
    record.node.props = {bankgen::PropI(58, 4)};
    record.node.ranges = {bankgen::RangeI(58, -2, 2)};
    CAuSound* sound = Read(record);
    // r x 4: 0 -> 0, 16383 -> 1.99994 -> 2, 8191 -> 0.99990 -> 1, 32767 -> 4.
    const int script[] = {0, 16383, 8191, 32767};
    win32test::ScriptRand(script, 4);
    for (const i32 expected : {4 - 2 + 0, 4 - 2 + 2, 4 - 2 + 1, 4 - 2 + 4})
        EXPECT_EQ(sound->ComputeRandomizedValue(), expected);

    bankgen::SoundRecord plain = Sound(0x1002);
    EXPECT_EQ(Read(plain)->ComputeRandomizedValue(), 1) << "default 1, no range";
}

TEST_F(SoundTest, ExtremeLoopCountsAndRangesSaturateInsteadOfOverflowing) {
    constexpr i32 kMax = std::numeric_limits<i32>::max(), kMin = std::numeric_limits<i32>::min();
    struct Case {
        i32 base;
        i32 min, max;
        int draw; // the scripted generator's value
        i32 expected;
    };
    const Case cases[] = {
        {kMax, 5, 5, 0, kMax},        {kMin, -5, -5, 0, kMin},       {4, kMin, kMax, 32767, kMax},
        {4, kMin, kMax, 0, kMin + 4}, {-4, kMax, kMin, 32767, kMin},
    };
    u32 id = 0x1100;
    for (const Case& c : cases) {
        bankgen::SoundRecord record = Sound(++id);
        record.node.props = {bankgen::PropI(58, c.base)};
        record.node.ranges = {bankgen::RangeI(58, c.min, c.max)};
        win32test::ScriptRand(&c.draw, 1);
        EXPECT_EQ(Read(record)->ComputeRandomizedValue(), c.expected)
            << c.base << " " << c.min << ".." << c.max;
    }
}

// ---- Action execution ----

// A sound that notes each pause (true) and resume (false) of its transitions.
class PausingSound final : public CAuSound {
public:
    static PausingSound* Make(u32 id) {
        auto* sound = new (AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(PausingSound))) PausingSound(id);
        sound->AddToIndex();
        return sound;
    }
    void PauseTransitions(bool pause) override { pauses.push_back(pause); }
    std::vector<bool> pauses;

private:
    using CAuSound::CAuSound;
};

class SoundInstancesTest : public SoundTest {
protected:
    CAuPlaybackInstance* Start(CAuSound& sound, CAuRegisteredObj* gameObj, AuPlayingID playingID) {
        AuNodePlayParams request;
        request.pGameObj = gameObj;
        request.playingID = playingID;
        AuPlaybackInstanceParams params;
        sound.MakeInstanceParams(request, params);
        CAuPlaybackInstance* instance = sound.CreateSoundInstance(params);
        EXPECT_EQ(instance->Init(nullptr, nullptr), AuResultSuccess);
        m_live.push_back(instance);
        return instance;
    }
    void TearDown() override {
        for (CAuPlaybackInstance* instance : m_live) {
            instance->Term(0);
            instance->~CAuPlaybackInstance();
            AU::MemoryMgr::Free(g_DefaultPoolId, instance);
        }
        SoundTest::TearDown();
    }
    std::vector<CAuPlaybackInstance*> m_live;
};

TEST_F(SoundInstancesTest, ActionsWaitForSomethingPlayingThenReachTheInstanceManagerOrTheInstances) {
    CAuSound* sound = Read(Sound());
    auto* object = reinterpret_cast<CAuRegisteredObj*>(0x1234);
    AuActionExec exec;
    exec.kind = AuActionExec_Stop;
    exec.pGameObj = object;
    exec.playingID = 5;
    exec.transitionTimeMs = 300;
    exec.eCurve = AuCurveInterpolation_SmoothS;
    EXPECT_EQ(sound->ExecuteAction(exec), AuResultSuccess);
    EXPECT_TRUE(m_instances.calls.empty()) << "nothing plays";
    // Nothing plays: only the transitions, and only when the record asks.
    PausingSound* pausing = PausingSound::Make(0x1002);
    m_objects.push_back(pausing);
    for (const u32 kind : {0u, 1u, 2u, 3u, 4u, 5u}) {
        AuActionExec asking = exec;
        asking.kind = kind;
        asking.flags = AU_EXEC_PAUSE_TRANSITIONS;
        EXPECT_EQ(pausing->ExecuteAction(asking), AuResultSuccess);
        asking.flags = 0;
        EXPECT_EQ(pausing->ExecuteAction(asking), AuResultSuccess);
    }
    EXPECT_EQ(pausing->pauses, (std::vector<bool>{false, true, false, false, false, false}));
    EXPECT_TRUE(m_instances.calls.empty());

    ASSERT_EQ(sound->IncrementPlayCount(nullptr), AuResultSuccess);
    for (const u32 kind : {0u, 1u, 2u, 5u}) {
        exec.kind = kind;
        exec.flags = kind == 2 ? AU_EXEC_MASTER_RESUME : 0;
        EXPECT_EQ(sound->ExecuteAction(exec), AuResultSuccess);
    }
    ASSERT_EQ(m_instances.calls.size(), 4u);
    const char expected[] = {'s', 'p', 'r', 'm'};
    for (u32 i = 0; i < 4; ++i) {
        EXPECT_EQ(m_instances.calls[i].what, expected[i]);
        EXPECT_EQ(m_instances.calls[i].gameObj, object);
        EXPECT_EQ(m_instances.calls[i].playingID, 5u);
    }
    EXPECT_EQ(m_instances.calls[0].ms, 300);
    EXPECT_EQ(m_instances.calls[0].curve, AuCurveInterpolation_SmoothS);
    EXPECT_TRUE(m_instances.calls[2].masterResume);
    sound->DecrementPlayCount(nullptr);
    EXPECT_EQ(sound->Activity(), nullptr);
}

TEST_F(SoundInstancesTest, SeekAndPlayToEndReachTheMatchingInstancesClamped) {
    CAuSound* sound = Read(Sound());
    auto* a = reinterpret_cast<CAuRegisteredObj*>(0x10);
    auto* b = reinterpret_cast<CAuRegisteredObj*>(0x20);
    CAuPlaybackInstance* first = Start(*sound, a, 1);
    CAuPlaybackInstance* second = Start(*sound, b, 2);
    CAuPlaybackInstance* third = Start(*sound, a, 3);
    ASSERT_EQ(sound->IncrementPlayCount(nullptr), AuResultSuccess);

    struct Case {
        u32 flags;
        f32 position;
        f32 stored; // the fraction, or output samples
    };
    for (const Case c :
         {Case{AU_EXEC_SEEK_PERCENT, 1.5f, 1.0f}, Case{AU_EXEC_SEEK_PERCENT, -0.5f, 0.0f},
          Case{AU_EXEC_SEEK_PERCENT, 0.25f, 0.25f}, Case{0, -30.0f, 0.0f}, Case{0, 10.0f, 480.0f},
          Case{AU_EXEC_SEEK_PERCENT, std::numeric_limits<f32>::quiet_NaN(), 0.0f}}) {
        first->ClearSeek();
        second->ClearSeek();
        third->ClearSeek();
        AuActionExec exec;
        exec.kind = AuActionExec_Seek;
        exec.pGameObj = a;
        exec.flags = c.flags | AU_EXEC_SEEK_SNAP;
        if (c.flags & AU_EXEC_SEEK_PERCENT)
            exec.seekPosition = c.position;
        else
            exec.seekMs = static_cast<i32>(c.position);
        EXPECT_EQ(sound->ExecuteAction(exec), AuResultSuccess);
        for (CAuPlaybackInstance* hit : {first, third}) {
            EXPECT_TRUE(hit->SeekPending()) << c.position;
            EXPECT_EQ(hit->SeekByPercent(), (c.flags & AU_EXEC_SEEK_PERCENT) != 0);
            EXPECT_TRUE(hit->SeekSnap());
            EXPECT_EQ(hit->SeekPosition(), c.stored) << c.position;
        }
        EXPECT_FALSE(second->SeekPending()) << "another game object";
    }

    AuActionExec exec;
    exec.kind = AuActionExec_Seek;
    exec.playingID = 2;
    exec.seekMs = 5;
    first->ClearSeek();
    EXPECT_EQ(sound->ExecuteAction(exec), AuResultSuccess);
    EXPECT_FALSE(first->SeekPending());
    EXPECT_TRUE(second->SeekPending()) << "by playing ID";

    // A break lets the matching instances play to the end of their current loop.
    for (CAuPlaybackInstance* instance : {first, second, third})
        instance->SetLoopCount(0);
    AuActionExec brk;
    brk.kind = AuActionExec_Break;
    brk.pGameObj = a;
    EXPECT_EQ(sound->ExecuteAction(brk), AuResultSuccess);
    EXPECT_EQ(first->LoopCount(), 1u);
    EXPECT_EQ(second->LoopCount(), 0u) << "another game object";
    EXPECT_EQ(third->LoopCount(), 1u);
    sound->DecrementPlayCount(nullptr);
}

TEST_F(SoundInstancesTest, ExceptionsOfAncestorsSkipTheNode) {
    TestNode* parent = Parent(kParentID);
    bankgen::SoundRecord record = Sound();
    record.node.parent = kParentID;
    CAuSound* sound = Read(record);
    ASSERT_EQ(sound->IncrementPlayCount(nullptr), AuResultSuccess);
    const AuActionException listed[] = {{kParentID, 0}};
    const AuActionException ownOnly[] = {{kSoundID, 0}, {kParentID, 1}};
    AuActionExec exec;
    exec.pExceptions = listed;
    exec.exceptionCount = 1;
    EXPECT_EQ(sound->ExecuteActionExceptChecked(exec), AuResultSuccess);
    EXPECT_TRUE(m_instances.calls.empty());
    exec.pExceptions = ownOnly;
    exec.exceptionCount = 2;
    EXPECT_EQ(sound->ExecuteActionExceptChecked(exec), AuResultSuccess);
    EXPECT_EQ(m_instances.calls.size(), 1u) << "the node itself and a bus of the parent's ID do not count";
    sound->DecrementPlayCount(nullptr);
    (void)parent;
}

// ---- Accumulated values ----

TEST_F(SoundTest, AudioParametersSumTheSoundItsHoldersItsCurvesItsParentAndItsBus) {
    TestNode* bus = Bus(kBusID);
    bus->Props().SetValue(0, AuPropValue{.f = -1.0f});
    TestNode* parent = Parent(kParentID);
    parent->Props().SetValue(0, AuPropValue{.f = -2.0f});
    parent->Props().SetValue(2, AuPropValue{.f = 50.0f});

    bankgen::SoundRecord record = Sound();
    record.node.outputBus = kBusID;
    record.node.parent = kParentID;
    record.node.props = {bankgen::PropF(0, -4.0f), bankgen::PropF(2, 100.0f), bankgen::PropF(3, 10.0f),
                         bankgen::PropF(4, 20.0f), bankgen::PropF(23, 7.0f)};
    bankgen::RtpcCurve curve;
    curve.gameParameter = 0x77;
    curve.target = 0;
    curve.points = {{0.0f, 0.0f, 4}, {100.0f, -10.0f, 4}};
    record.node.rtpcs = {curve};
    ASSERT_EQ(m_rtpc.SetDefaultParamValue(0x77, 50.0f), AuResultSuccess);
    CAuSound* sound = Read(record);

    auto* object = reinterpret_cast<CAuRegisteredObj*>(0x40);
    ASSERT_EQ(sound->SetValueFromAction(0, -0.5f, nullptr, 0, AuCurveInterpolation_Linear, 0),
              AuResultSuccess);
    ASSERT_EQ(sound->SetValueFromAction(3, 1.0f, nullptr, 0, AuCurveInterpolation_Linear, 0),
              AuResultSuccess);
    ASSERT_EQ(sound->MuteFromAction(nullptr, 0, AuCurveInterpolation_Linear), AuResultSuccess);
    (void)object;

    AuAccumulatedValues values;
    values.mask = 0x0F;
    sound->GetAccumulatedValues(values, nullptr);
    EXPECT_FLOAT_EQ(values.values[0], -4.0f - 5.0f - 0.5f - 2.0f - 1.0f);
    EXPECT_FLOAT_EQ(values.values[2], 100.0f + 50.0f);
    EXPECT_FLOAT_EQ(values.values[3], 10.0f + 1.0f);
    EXPECT_FLOAT_EQ(values.values[4], 20.0f);
    EXPECT_EQ(values.busFields[0], 7.0f);
    ASSERT_EQ(values.levelCount, 1u);
    EXPECT_EQ(values.levels[0].owner, sound);
    EXPECT_EQ(values.levels[0].value, 0.0f);
    EXPECT_FALSE(values.bOutput2Decided) << "neither the sound nor a parameter node above decides it";

    // A MIDI note adds its distance from the root note to the pitch.
    AuAccumulatedValues midi;
    midi.mask = 0x02;
    midi.key.midiNote = 62;
    sound->GetAccumulatedValues(midi, nullptr);
    EXPECT_FLOAT_EQ(midi.values[2], 100.0f + 50.0f + 200.0f);
}

// ---- Run-time values per game object ----

TEST_F(SoundTest, EachGameObjectHasItsHolderThatResetsUnmutesBypassesAndIsForgotten) {
    CAuSound* sound = Read(Sound());
    const auto make = [](u32 id) {
        return new (AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuRegisteredObj))) CAuRegisteredObj(id);
    };
    CAuRegisteredObj* a = make(1);
    CAuRegisteredObj* b = make(2);
    for (CAuRegisteredObj* object : {static_cast<CAuRegisteredObj*>(nullptr), a, b}) {
        ASSERT_EQ(
            sound->SetValueFromAction(AuPropID_Pitch, 100.0f, object, 0, AuCurveInterpolation_Linear, 0),
            AuResultSuccess);
        ASSERT_EQ(sound->MuteFromAction(object, 0, AuCurveInterpolation_Linear), AuResultSuccess);
    }
    CAuModifiedValues* holders[] = {sound->FindModifiedValues(nullptr), sound->FindModifiedValues(a),
                                    sound->FindModifiedValues(b)};
    for (CAuModifiedValues* holder : holders) {
        ASSERT_NE(holder, nullptr);
        EXPECT_EQ(holder->GetValue(AuPropID_Level), 0.0f);
    }
    EXPECT_NE(holders[1], holders[2]) << "one holder per game object";

    // A reset and an unmute of everything reach the global holder and every object's.
    EXPECT_EQ(sound->ResetValueFromAction(AuPropID_Pitch, nullptr, 0, AuCurveInterpolation_Linear),
              AuResultSuccess);
    EXPECT_EQ(sound->UnmuteAllFromAction(0, AuCurveInterpolation_Linear), AuResultSuccess);
    sound->SetFxBypassBits(0x05, 0x0F);
    for (CAuModifiedValues* holder : holders) {
        EXPECT_EQ(holder->GetValue(AuPropID_Pitch), 0.0f);
        EXPECT_EQ(holder->GetValue(AuPropID_Level), 1.0f);
        EXPECT_EQ(holder->BypassBits() & 0x0F, 0x05);
    }

    // A game object's end takes its holder only.
    ASSERT_EQ(sound->SetValueFromAction(AuPropID_Volume, -6.0f, a, 0, AuCurveInterpolation_Linear, 0),
              AuResultSuccess);
    sound->ForgetObject(a);
    EXPECT_EQ(sound->FindModifiedValues(a), nullptr);
    EXPECT_EQ(sound->FindModifiedValues(b), holders[2]);
    AuAccumulatedValues values;
    values.mask = 1;
    values.key = AuRTPCKey(a);
    sound->GetAccumulatedValues(values, a);
    EXPECT_EQ(values.values[0], 0.0f) << "nothing of the forgotten object remains";
    sound->ForgetObject(b);
    a->Release();
    b->Release();
}

// Who answers for the aux sends and the output-bus properties: the node that sets them, else the
// root of its tree.
TEST_F(SoundTest, AuxAndBusTargetsBelongToTheNodeThatSetsThemOrToTheRoot) {
    Parent(kParentID);
    Bus(kBusID);
    struct Case {
        const char* what;
        void (*shape)(bankgen::SoundRecord&);
        u32 target;
        bool owned;
    };
    const auto child = [](bankgen::SoundRecord& r) { r.node.parent = kParentID; };
    const Case cases[] = {
        {"game aux, root", [](bankgen::SoundRecord&) {}, AU_TARGET_GAME_AUX, true},
        {"game aux, child", child, AU_TARGET_GAME_AUX, false},
        {"game aux, child that sets it",
         [](bankgen::SoundRecord& r) {
             r.node.parent = kParentID;
             r.node.auxBits = 1;
         },
         AU_TARGET_GAME_AUX, true},
        {"user aux 3, child that sets the game aux only",
         [](bankgen::SoundRecord& r) {
             r.node.parent = kParentID;
             r.node.auxBits = 1;
         },
         AU_TARGET_USER_AUX0 + 3, false},
        {"user aux 0, child that sets them",
         [](bankgen::SoundRecord& r) {
             r.node.parent = kParentID;
             r.node.auxBits = 4;
         },
         AU_TARGET_USER_AUX0, true},
        {"bus property 62, child", child, 62, false},
        {"bus property 60, child with its bus",
         [](bankgen::SoundRecord& r) {
             r.node.parent = kParentID;
             r.node.outputBus = kBusID;
         },
         60, true},
    };
    u32 id = 0x1100;
    for (const Case& c : cases) {
        bankgen::SoundRecord record = Sound(++id);
        c.shape(record);
        CAuSound* sound = Read(record);
        EXPECT_EQ(sound->OverridesParam(c.target), c.owned) << c.what;
        EXPECT_EQ(sound->HandlesParam(c.target), c.owned) << c.what;
        // Any other target is handled and never overridden.
        EXPECT_FALSE(sound->OverridesParam(AuPropID_Pitch)) << c.what;
        EXPECT_TRUE(sound->HandlesParam(AuPropID_Pitch)) << c.what;
    }
}

// ---- Owner lookups ----

TEST_F(SoundTest, PositioningComesFromTheNearestNodeThatHasItsOwn) {
    bankgen::SoundRecord top = Sound(0x1100);
    top.node.positioning.bits = 0x1 | 0x8;
    top.node.positioning.type3d = 1;
    top.node.positioning.attenuation = 0xA77;
    CAuSound* parent = Read(top);
    CAuSound* sound = Read(Sound());
    sound->SetParent(parent);
    CAuParameterNode::PositioningInfo info;
    sound->GetPositioningParams(nullptr, info);
    EXPECT_EQ(info.positioningType, 1);
    EXPECT_EQ(info.type3D, 1);
    ASSERT_TRUE(info.hasParams);
    EXPECT_EQ(info.params.nodeID, 0x1100u);
    EXPECT_EQ(info.params.attenuationID, 0xA77u);

    // Its own two-dimensional positioning stops the walk.
    sound->SetPositioningType(true, 0);
    ASSERT_TRUE(sound->HasPositioning());
    info = {};
    sound->GetPositioningParams(nullptr, info);
    EXPECT_EQ(info.positioningType, 0);
    ASSERT_TRUE(info.hasParams);
    EXPECT_EQ(info.params.nodeID, kSoundID);
    EXPECT_EQ(info.params.attenuationID, 0u);
    // Switched off, it keeps no settings and no positioning type.
    sound->SetPositioningType(false, 0);
    EXPECT_FALSE(sound->HasPositioning());
    info = {};
    sound->GetPositioningParams(nullptr, info);
    EXPECT_FALSE(info.hasParams);
    EXPECT_EQ(info.positioningType, 0);
    sound->SetParent(nullptr);
}

TEST_F(SoundTest, TheVirtualBehaviourFollowsThePlayModeOfTheNodeThatHoldsTheMidiSettings) {
    // The record's bit vector: bit 2 marks the MIDI play settings, bit 5 is their flag.
    struct Case {
        const char* what;
        u8 parentBits;
        i32 parentMode;
        u8 ownBits;
        i32 ownMode;
        u8 expected;
    };
    const Case cases[] = {
        {"nothing set: the root's defaults", 0, 1, 0, 1, 0},
        {"the root's play mode 2", 0, 2, 0, 1, 1},
        {"the root's flag", 0x20, 1, 0, 2, 2},
        {"the parent holds the settings", 0x04 | 0x20, 1, 0x20, 2, 2},
        {"the parent's play mode 2", 0x04, 2, 0, 1, 1},
        {"the sound holds its own", 0x04, 2, 0x04, 1, 0},
    };
    u32 id = 0x1200;
    for (const Case& c : cases) {
        bankgen::SoundRecord top = Sound(++id);
        top.node.bitVector = c.parentBits;
        top.node.props = {bankgen::PropI(AuPropID_MidiPlayMode, c.parentMode)};
        bankgen::SoundRecord own = Sound(++id);
        own.node.bitVector = c.ownBits;
        own.node.props = {bankgen::PropI(AuPropID_MidiPlayMode, c.ownMode)};
        CAuSound* parent = Read(top);
        CAuSound* sound = Read(own);
        sound->SetParent(parent);
        EXPECT_EQ(sound->GetVirtualBehaviour(), c.expected) << c.what;
        sound->SetParent(nullptr);
    }
}

// Layers are opaque to the node, which keeps only their addresses.
TEST_F(SoundTest, AssociatedLayersStayUntilRemovedAndAMissingOneGivesTwo) {
    CAuSound* sound = Read(Sound());
    alignas(8) char storage[9][8];
    const auto layer = [&storage](u32 i) { return reinterpret_cast<CAuLayer*>(storage[i]); };
    for (u32 i = 0; i < 9; ++i)
        ASSERT_EQ(sound->AddAssociatedLayer(layer(i)), AuResultSuccess) << "past the first eight too";
    EXPECT_EQ(sound->NumAssociatedLayers(), 9u);
    EXPECT_EQ(sound->RemoveAssociatedLayer(layer(4)), AuResultSuccess);
    EXPECT_EQ(sound->RemoveAssociatedLayer(layer(4)), AuResultFail);
    EXPECT_EQ(sound->NumAssociatedLayers(), 8u);
    for (u32 i = 0; i < 9; ++i) {
        if (i != 4) {
            EXPECT_EQ(sound->RemoveAssociatedLayer(layer(i)), AuResultSuccess) << i;
        }
    }
    EXPECT_EQ(sound->NumAssociatedLayers(), 0u);
    EXPECT_EQ(Read(Sound(0x1002))->RemoveAssociatedLayer(layer(0)), AuResultFail) << "no array yet";
    // A node that goes with layers still listed frees its array (the fixture counts the pool).
    ASSERT_EQ(sound->AddAssociatedLayer(layer(0)), AuResultSuccess);
}

// ---- The type-17 leaf ----

TEST_F(SoundTest, ATypeSeventeenLeafPlaysNothingWithoutMotionDevicesAndKeepsItsSources) {
    ASSERT_FALSE(g_bMotionDevicesPresent);
    bankgen::MotionLeafRecord record;
    record.id = 0x1701;
    bankgen::MotionSource source;
    source.device1 = 1;
    source.device2 = 2;
    source.levelOffset = -3.0f;
    source.source = Sound().source;
    record.sources = {source};
    Bytes payload = Encode(record);
    CAuLeafType17* leaf = CAuLeafType17::Create(record.id);
    m_objects.push_back(leaf);
    ASSERT_EQ(leaf->SetInitialValues(payload.data(), static_cast<u32>(payload.size()), false),
              AuResultSuccess);
    EXPECT_EQ(leaf->ClassKind(), 10u);
    EXPECT_EQ(leaf->Category(), AuNodeCategory_LeafType17);
    ASSERT_EQ(leaf->NumSources(), 1u);
    EXPECT_EQ(leaf->Source(0)->info.sourceID, kMediaID);
    EXPECT_EQ(leaf->Source(0)->levelOffset, -3.0f);

    AuNodePlayParams params;
    params.playingID = 3;
    EXPECT_EQ(leaf->ExecutePlay(params), AuResultSuccess);
    EXPECT_TRUE(m_instances.starts.empty());

    record.sources[0].device1 = 7;
    record.sources[0].levelOffset = 4.0f;
    record.sources[0].source.inMemorySize = 1;
    payload = Encode(record);
    ASSERT_EQ(leaf->SetInitialValues(payload.data(), static_cast<u32>(payload.size()), true),
              AuResultSuccess);
    ASSERT_EQ(leaf->NumSources(), 1u);
    EXPECT_EQ(leaf->Source(0)->levelOffset, 4.0f);
    EXPECT_EQ(leaf->Source(0)->device1, 1) << "only the level offset changes";
    EXPECT_EQ(leaf->Source(0)->info.inMemorySize, 5828u);
    EXPECT_EQ(leaf->GetLinkedFloat(leaf->Source(0)->info), 4.0f);

    // A count past the record.
    const u32 huge = 0x01000000;
    memcpy(payload.data() + 4, &huge, 4);
    CAuLeafType17* bad = CAuLeafType17::Create(0x1702);
    EXPECT_EQ(bad->SetInitialValues(payload.data(), static_cast<u32>(payload.size()), false),
              AuResultBadHeader);
    bad->Release();
}

// ---- Streamed sources ----

TEST_F(SoundTest, StreamedSourcesAreCollectedUnlessFlaggedOut) {
    bankgen::SoundRecord streamed = Sound();
    streamed.source.streamType = 1;
    bankgen::SoundRecord flagged = Sound(0x1002);
    flagged.source.streamType = 1;
    flagged.source.bits = 8;
    AuArray<const AuSourceInfo*> sources;
    CAuSound* a = Read(streamed);
    EXPECT_TRUE(CAuSound::CollectStreamedSources(*a, sources));
    EXPECT_TRUE(CAuSound::CollectStreamedSources(*Read(flagged), sources));
    EXPECT_TRUE(CAuSound::CollectStreamedSources(*Read(Sound(0x1003)), sources));
    ASSERT_EQ(sources.Count(), 1u);
    EXPECT_EQ(sources[0], &a->Source());
    sources.Term();
}

} // namespace
