// A sound read from a bankgen record, played through the parameter node's play entry: the
// instance manager makes its instance with the media of the bank manager's table, the voice
// commands render it frame by frame into a fake bus, and the instance ends with the media.
#include "EdgeRise.h"
#include "LowerEnginePoolTest.h"
#include "banks/AuBankMgr.h"
#include "core/AuObjectIndex.h"
#include "hierarchy/AuBus.h"
#include "hierarchy/AuPlaybackLimiter.h"
#include "hierarchy/AuSound.h"
#include "parameters/AuFastMath.h"
#include "parameters/AuRTPCMgr.h"
#include "plugins/AuDelayEffect.h"
#include "plugins/AuPluginSettings.h"
#include "voices/AuInstanceMgr.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuResampler.h"
#include "voices/AuVoiceCommands.h"
#include "voices/AuVoiceContext.h"

#include <AU/AuEffectPlugins.h>
#include <bankgen/Effects.h>
#include <bankgen/Media.h>
#include <bankgen/Records.h>

#include <gtest/gtest.h>
#include <win32_testing.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr u32 kSoundID = 0x5001;
constexpr u32 kMediaID = 0x6001;

class MixingBus final : public IAuVoiceBusses {
public:
    AURESULT ConnectVoice(CAuVoiceContext&, CAuPlaybackInstance&) noexcept override {
        ++connected;
        return AuResultSuccess;
    }
    void MixVoice(CAuVoiceContext&, AuPipelineBuffer& buffer) noexcept override {
        mixed.insert(mixed.end(), buffer.pData, buffer.pData + buffer.uValidFrames);
    }
    void DisconnectVoice(CAuVoiceContext&) noexcept override { ++disconnected; }

    std::vector<f32> mixed;
    int connected = 0;
    int disconnected = 0;
};

class SoundPlayTest : public voicetest::LowerEnginePoolTest {
protected:
    SoundPlayTest() : LowerEnginePoolTest(4u << 20) {}
    void SetUp() override {
        LowerEnginePoolTest::SetUp();
        CAuResampler::InitKernels();
        CAuLowerEngine::SetPlatformInitSettings(nullptr);
        g_pIndex = &m_index;
        m_index.Init();
        ASSERT_EQ(m_bank.Init(), AuResultSuccess);
        g_pBankMgr = &m_bank;
        ASSERT_EQ(m_instances.InitEvents(), AuResultSuccess);
        g_pNodeInstances = &m_instances;
        ASSERT_EQ(m_commands.Init(AU_VOICE_COMMAND_POOL_ENTRIES), AuResultSuccess);
        m_commands.SetBusses(&m_bus);
        g_pVoiceCommandQueue = &m_commands;

        m_samples.resize(2500);
        for (size_t i = 0; i < m_samples.size(); ++i)
            m_samples[i] = static_cast<i16>((i * 71) % 30000 - 15000);
        m_media = bankgen::MakePcmWave(m_samples, 1, 48000);
        const AuSourceSettings media{kMediaID, m_media.data(), static_cast<u32>(m_media.size())};
        ASSERT_EQ(m_bank.SetMedia(&media, 1), AuResultSuccess);
    }
    void TearDown() override {
        g_pVoiceCommandQueue = nullptr;
        m_commands.Term();
        g_pNodeInstances = nullptr;
        m_instances.Term(false);
        if (m_sound) m_sound->Release();
        const AuSourceSettings media{kMediaID, m_media.data(), static_cast<u32>(m_media.size())};
        EXPECT_EQ(m_bank.UnsetMedia(&media, 1), AuResultSuccess);
        g_pBankMgr = nullptr;
        m_bank.Term();
        EXPECT_EQ(m_index.Table(AuIndexNodes).Count(), 0u);
        m_index.Term();
        g_pIndex = nullptr;
        EXPECT_EQ(Used(), m_usedAtStart);
        LowerEnginePoolTest::TearDown();
    }
    // The audio thread's part of a frame that concerns voices.
    void Frame() {
        if (m_commands.HasVoicesToStart()) m_commands.StartPendingVoices();
        m_commands.ExecuteVoiceCommands();
        m_commands.AdvanceWaitingVoices(1024);
        m_commands.RenderVoices(true, 1024);
    }
    CAuSound* ReadSound(const bankgen::NodeCommon& node = {}) {
        m_sound = MakeSound(kSoundID, node);
        return m_sound;
    }
    // A sound of the test's media; the caller releases it.
    CAuSound* MakeSound(u32 id, const bankgen::NodeCommon& node) {
        bankgen::SoundRecord record;
        record.id = id;
        record.node = node;
        record.source.plugin = bankgen::kCodecPcm;
        record.source.sourceId = kMediaID;
        record.source.fileId = 0x47FD79D2;
        record.source.fileOffset = 0x80;
        record.source.inMemorySize = static_cast<u32>(m_media.size());
        bankgen::EncodeContext ctx;
        const bankgen::Bytes payload = bankgen::EncodePayload(record, ctx);
        EXPECT_TRUE(ctx.errors.empty());
        CAuSound* sound = CAuSound::Create(id);
        EXPECT_EQ(sound->SetInitialValues(payload.data(), static_cast<u32>(payload.size()), false),
                  AuResultSuccess);
        return sound;
    }

    CAuObjectIndex m_index;
    CAuBankMgr m_bank;
    CAuInstanceMgr m_instances;
    CAuVoiceCommands m_commands;
    MixingBus m_bus;
    std::vector<i16> m_samples;
    bankgen::Bytes m_media;
    CAuSound* m_sound = nullptr;
};

TEST_F(SoundPlayTest, APlayedPcmSoundRendersSampleForSampleAndItsInstanceEndsWithTheMedia) {
    CAuSound* sound = ReadSound();
    AuNodePlayParams params;
    params.playingID = 7;
    ASSERT_EQ(sound->ExecutePlay(params), AuResultSuccess);
    ASSERT_EQ(m_instances.NumInstances(), 1u);
    CAuPlaybackInstance* instance = m_instances.FirstInstance();
    EXPECT_EQ(sound->FirstInstance(), instance);
    EXPECT_EQ(instance->GetSourceMedia().StorageKind(), AuSourceMedia::kStorageInMemory);
    EXPECT_EQ(instance->GetSourceMedia().uPluginID, bankgen::kCodecPcm);
    EXPECT_EQ(instance->GetSourceMedia().pData, m_media.data()) << "the bank manager's media";
    ASSERT_NE(sound->Activity(), nullptr);
    EXPECT_EQ(sound->Activity()->playing, 1u);

    for (int frame = 0; frame < 5; ++frame)
        Frame();
    EXPECT_EQ(m_bus.connected, 1);
    EXPECT_EQ(m_bus.disconnected, 1);
    ASSERT_EQ(m_bus.mixed.size(), m_samples.size());
    for (size_t i = 0; i < m_samples.size(); ++i)
        ASSERT_NEAR(m_bus.mixed[i], f32(m_samples[i]) / 32768.0f * voicetest::EdgeRise(i), 1e-6f) << i;
    EXPECT_TRUE(instance->IsStopped());

    // Its end event gives back the media, the node's count and the node's reference.
    m_instances.QueueInstanceEvent(instance, AuInstanceEvent::kEnd, 0, 0.0f);
    m_instances.ProcessInstanceEvents();
    EXPECT_EQ(m_instances.NumInstances(), 0u);
    EXPECT_EQ(sound->FirstInstance(), nullptr);
    EXPECT_EQ(sound->Activity(), nullptr);
}

TEST_F(SoundPlayTest, NodeCallsReachOnlyTheMatchingInstances) {
    CAuSound* sound = ReadSound();
    auto* a = reinterpret_cast<CAuRegisteredObj*>(0x10);
    auto* b = reinterpret_cast<CAuRegisteredObj*>(0x20);
    for (CAuRegisteredObj* object : {a, b, a}) {
        AuNodePlayParams params;
        params.playingID = object == a ? 7 : 8;
        params.pGameObj = object;
        ASSERT_EQ(sound->ExecutePlay(params), AuResultSuccess);
    }
    ASSERT_EQ(m_instances.NumInstances(), 3u);
    EXPECT_EQ(sound->Activity()->playing, 3u);
    EXPECT_EQ(sound->Pause(a, 0, 0, AuCurveInterpolation_Linear), AuResultSuccess);
    u32 paused = 0;
    for (CAuPlaybackInstance* i = sound->FirstInstance(); i; i = i->NextOfNode()) {
        EXPECT_EQ(i->IsPaused(), i->Key().pGameObj == a);
        paused += i->IsPaused();
    }
    EXPECT_EQ(paused, 2u);
    EXPECT_EQ(sound->Stop(nullptr, 8, 0, AuCurveInterpolation_Linear), AuResultSuccess);
    for (CAuPlaybackInstance* i = sound->FirstInstance(); i; i = i->NextOfNode())
        EXPECT_EQ(i->IsStopped(), i->Key().playingID == 8) << "without a voice yet a stop is at once";

    AuNodePlayParams noID;
    EXPECT_EQ(sound->ExecutePlay(noID), AuResultFail) << "an instance needs a playing ID";
    EXPECT_EQ(m_instances.NumInstances(), 3u);
}

// A new instance starts from the values of its sound and the nodes above it, with the ranged
// offsets drawn once; a later change of the sound adds its difference once.
TEST_F(SoundPlayTest, AnInstanceStartsWithItsNodesValuesAndALaterChangeAddsItsDifferenceOnce) {
    // rand() / 32767 of the script: 8192 draws a quarter of the range, 16384 about half of it.
    const f32 quarter = 8192.0f / 32767.0f, half = 16384.0f / 32767.0f;
    struct Case {
        const char* name;
        std::vector<bankgen::Prop> props, parentProps;
        std::vector<bankgen::RangedValue> ranges;
        std::vector<int> script;
        f32 volume, pitch, filter1[2], filter2[2];
    };
    const Case cases[] = {
        {"nothing set", {}, {}, {}, {}, 0.0f, 0.0f, {0, 0}, {0, 0}},
        {"the sound at -6 dB", {bankgen::PropF(0, -6.0f)}, {}, {}, {}, -6.0f, 0.0f, {0, 0}, {0, 0}},
        {"and its parent at -3 dB",
         {bankgen::PropF(0, -6.0f)},
         {bankgen::PropF(0, -3.0f)},
         {},
         {},
         -9.0f,
         0.0f,
         {0, 0},
         {0, 0}},
        {"a ranged volume",
         {bankgen::PropF(0, -2.0f)},
         {},
         {bankgen::RangeF(0, -8.0f, 4.0f)},
         {8192},
         -2.0f - 8.0f + quarter * 12.0f,
         0.0f,
         {0, 0},
         {0, 0}},
        {"an octave up",
         {bankgen::PropF(2, 1200.0f)},
         {bankgen::PropF(2, -100.0f)},
         {},
         {},
         0.0f,
         1100.0f,
         {0, 0},
         {0, 0}},
        {"ranged filters, drawn in order",
         {bankgen::PropF(3, 10.0f), bankgen::PropF(4, 20.0f)},
         {bankgen::PropF(3, 5.0f)},
         {bankgen::RangeF(3, 0.0f, 40.0f), bankgen::RangeF(4, -4.0f, -4.0f)},
         {16384},
         0.0f,
         0.0f,
         {15.0f, half * 40.0f},
         {20.0f, -4.0f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bankgen::NodeCommon parentNode;
        parentNode.props = c.parentProps;
        CAuSound* parent = MakeSound(kSoundID + 1, parentNode);
        bankgen::NodeCommon node;
        node.props = c.props;
        node.ranges = c.ranges;
        CAuSound* sound = ReadSound(node);
        sound->SetParent(parent);
        win32test::ResetRandScript();
        win32test::ScriptRand(c.script.data(), c.script.size());
        AuNodePlayParams params;
        params.playingID = 7;
        ASSERT_EQ(sound->ExecutePlay(params), AuResultSuccess);
        EXPECT_EQ(win32test::RandCallCount(), c.script.size()) << "a range of one value draws nothing";
        win32test::ResetRandScript();
        CAuPlaybackInstance* instance = sound->FirstInstance();
        ASSERT_NE(instance, nullptr);
        EXPECT_FLOAT_EQ(instance->VolumeOffsetDb(), c.volume);
        EXPECT_FLOAT_EQ(instance->VolumeDb(), c.volume);
        EXPECT_FLOAT_EQ(instance->Pitch(), c.pitch);
        EXPECT_FLOAT_EQ(instance->Filter1(), c.filter1[0] + c.filter1[1]);
        EXPECT_FLOAT_EQ(instance->Filter2(), c.filter2[0] + c.filter2[1]);

        // Set on the sound by an action: the difference to what the sound had, once; setting
        // the same value again changes nothing.
        for (int i = 0; i < 2; ++i)
            ASSERT_EQ(sound->SetValueFromAction(0, -4.0f, nullptr, 0, AuCurveInterpolation_Linear, 0),
                      AuResultSuccess);
        ASSERT_EQ(sound->SetValueFromAction(3, 2.0f, nullptr, 0, AuCurveInterpolation_Linear, 0),
                  AuResultSuccess);
        EXPECT_FLOAT_EQ(instance->VolumeDb(), c.volume - 4.0f);
        EXPECT_FLOAT_EQ(instance->Filter1(), c.filter1[0] + c.filter1[1] + 2.0f);

        // A second play takes the run-time value with the bank's.
        params.playingID = 8;
        win32test::ScriptRand(c.script.data(), c.script.size());
        ASSERT_EQ(sound->ExecutePlay(params), AuResultSuccess);
        win32test::ResetRandScript();
        ASSERT_EQ(sound->FirstInstance()->Key().playingID, 8u);
        EXPECT_FLOAT_EQ(sound->FirstInstance()->VolumeDb(), c.volume - 4.0f);

        for (CAuPlaybackInstance* i = m_instances.FirstInstance(); i; i = i->NextInstance())
            m_instances.QueueInstanceEvent(i, AuInstanceEvent::kEnd, 0, 0.0f);
        m_instances.ProcessInstanceEvents();
        sound->SetParent(nullptr);
        parent->Release();
        m_sound->Release();
        m_sound = nullptr;
    }
}

// The sound's sends and its source level reach the instance with its volume; the envelope
// threshold is the root's (property 32, 12 by default).
TEST_F(SoundPlayTest, TheSoundsSendsAndSourceLevelReachItsInstance) {
    bankgen::NodeCommon node;
    node.auxBits = 0x0F; // own and use game-defined sends, own user sends with their busses
    node.userAux = {0x90, 0x91, 0, 0};
    node.props = {bankgen::PropF(18, -3.0f), bankgen::PropF(19, -6.0f), bankgen::PropF(22, -2.0f),
                  bankgen::PropF(33, -1.5f)};
    CAuSound* sound = ReadSound(node);
    AuNodePlayParams params;
    params.playingID = 7;
    ASSERT_EQ(sound->ExecutePlay(params), AuResultSuccess);
    CAuPlaybackInstance* instance = sound->FirstInstance();
    ASSERT_NE(instance, nullptr);
    EXPECT_FLOAT_EQ(instance->GameSendVolumeDb(), -2.0f);
    EXPECT_FLOAT_EQ(instance->SourceOffset(), -1.5f);
    EXPECT_FLOAT_EQ(instance->EnvelopeThreshold(), 12.0f);
    AuAuxSend sends[CAuPlaybackInstance::kMaxAuxSends];
    ASSERT_EQ(instance->GetAuxSends(sends), 2u);
    EXPECT_EQ(sends[0].busID, 0x90u);
    EXPECT_FLOAT_EQ(sends[0].fLevel, AuDbToLinear(-3.0f));
    EXPECT_EQ(sends[1].busID, 0x91u);
    EXPECT_FLOAT_EQ(sends[1].fLevel, AuDbToLinear(-6.0f));
    m_instances.QueueInstanceEvent(instance, AuInstanceEvent::kEnd, 0, 0.0f);
    m_instances.ProcessInstanceEvents();
}

// Instance limits: which play gives way when one more would exceed a node's or a bus's limit.
class PlayLimitTest : public SoundPlayTest {
protected:
    AURESULT PlayFor(CAuRegisteredObj* gameObj) {
        AuNodePlayParams params;
        params.playingID = ++m_playingID;
        params.pGameObj = gameObj;
        return m_sound->ExecutePlay(params);
    }
    std::vector<CAuPlaybackInstance*> Instances() const {
        std::vector<CAuPlaybackInstance*> all;
        for (CAuPlaybackInstance* i = m_instances.FirstInstance(); i; i = i->NextInstance())
            all.push_back(i);
        return all;
    }
    static bool StoppedByLimit(const CAuPlaybackInstance* instance) {
        return instance->Flags() & CAuPlaybackInstance::kFlagStopByLimit;
    }
    void EndAll() {
        for (CAuPlaybackInstance* instance : Instances())
            m_instances.QueueInstanceEvent(instance, AuInstanceEvent::kEnd, 0, 0.0f);
        m_instances.ProcessInstanceEvents();
    }
    static CAuBus* MakeBus(u32 id, u8 flags2, u16 maxInstances) {
        CAuBus* bus = CAuBus::Create(id);
        bankgen::BusRecord record;
        record.id = id;
        record.flags2 = flags2;
        record.maxInstances = maxInstances;
        bankgen::EncodeContext ctx;
        const bankgen::Bytes payload = bankgen::EncodePayload(bankgen::Record{record}, ctx);
        AuRecordCursor cursor(payload.data(), static_cast<u32>(payload.size()));
        EXPECT_EQ(bus->SetInitialValues(cursor), AuResultSuccess);
        return bus;
    }
    u32 m_playingID = 0;
};

// Stands in for the instance manager's choice: names the victim it is given and stops nothing.
class ChosenVictim final : public IAuPlaybackLimits {
public:
    AURESULT ApplyPlaybackLimit(const CAuPlaybackLimiter& list, u16, f32 priority, CAuRegisteredObj*, bool,
                                bool, CAuPlaybackInstance*& out) noexcept override {
        lists.push_back(&list);
        priorities.push_back(priority);
        out = victim;
        return AuResultSuccess;
    }
    CAuPlaybackInstance* victim = nullptr;
    std::vector<const CAuPlaybackLimiter*> lists;
    std::vector<f32> priorities;
};

TEST_F(PlayLimitTest, ANodeLimitStopsTheOldestOrRefusesTheNewPlayByItsOrderFlagAndScope) {
    auto* a = reinterpret_cast<CAuRegisteredObj*>(0x10);
    auto* b = reinterpret_cast<CAuRegisteredObj*>(0x20);
    struct Case {
        const char* what;
        u8 advancedFlags;
        AURESULT third;    // a third play for `a`
        AURESULT otherObj; // then a play for `b`
        u32 lists;         // registered lists of kind 1 after the plays
    };
    // Flags: bit 0 order flag (ties lose), bit 2 one limit for all objects, bit 3 own limit.
    const Case cases[] = {
        {"per object, ties win", 8, AuResultSuccess, AuResultSuccess, 2},
        {"per object, ties lose", 8 | 1, AuResultFail, AuResultSuccess, 2},
        {"all objects, ties win", 8 | 4, AuResultSuccess, AuResultSuccess, 1},
        {"all objects, ties lose", 8 | 4 | 1, AuResultFail, AuResultFail, 1},
    };
    for (const Case& c : cases) {
        bankgen::NodeCommon node;
        node.advancedFlags = c.advancedFlags;
        node.maxInstances = 2;
        ReadSound(node);
        ASSERT_EQ(PlayFor(a), AuResultSuccess) << c.what;
        ASSERT_EQ(PlayFor(a), AuResultSuccess) << c.what;
        const CAuPlaybackInstance* oldest = Instances().front();
        EXPECT_EQ(PlayFor(a), c.third) << c.what;
        // Ties win: the oldest of the equal priorities is last in the list and gives way.
        EXPECT_EQ(StoppedByLimit(oldest), c.third == AuResultSuccess) << c.what;
        EXPECT_EQ(PlayFor(b), c.otherObj) << c.what;
        EXPECT_EQ(m_instances.NumRegisteredLimiters(AU_LIMITER_KIND_1), c.lists) << c.what;
        const u32 started = 2 + (c.third == AuResultSuccess) + (c.otherObj == AuResultSuccess);
        EXPECT_EQ(m_instances.NumInstances(), started) << c.what << ": a refused start leaves nothing";
        EXPECT_EQ(m_sound->Activity()->playing, started) << c.what;
        EXPECT_EQ(m_sound->Activity()->limited, started) << c.what;
        EndAll();
        EXPECT_EQ(m_sound->Activity(), nullptr) << c.what << ": lists and entries go with the last end";
        EXPECT_EQ(m_instances.NumRegisteredLimiters(AU_LIMITER_KIND_1), 0u) << c.what;
        m_sound->Release();
        m_sound = nullptr;
    }
}

TEST_F(PlayLimitTest, OverALimitThatUsesVirtualTheNodesBelowThresholdBehaviourDecides) {
    struct Case {
        u8 belowThreshold;
        AURESULT second;
        bool virtualStart;
    };
    // Own limit of one with the order flag (ties lose) and use-virtual.
    const Case cases[] = {{2, AuResultSuccess, true}, {1, AuResultLimiterRefusedUseVirtual, false}};
    for (const Case& c : cases) {
        bankgen::NodeCommon node;
        node.advancedFlags = 8 | 2 | 1;
        node.maxInstances = 1;
        node.belowThreshold = c.belowThreshold;
        ReadSound(node);
        ASSERT_EQ(PlayFor(nullptr), AuResultSuccess);
        EXPECT_EQ(PlayFor(nullptr), c.second) << int(c.belowThreshold);
        ASSERT_EQ(m_instances.NumInstances(), c.virtualStart ? 2u : 1u);
        EXPECT_FALSE(Instances()[0]->ForcedVirtual());
        if (c.virtualStart) {
            EXPECT_TRUE(Instances()[1]->ForcedVirtual());
        }
        EXPECT_EQ(m_sound->Activity()->playing, m_instances.NumInstances());
        EndAll();
        EXPECT_EQ(m_sound->Activity(), nullptr);
        m_sound->Release();
        m_sound = nullptr;
    }
}

TEST_F(PlayLimitTest, ChangingTheOrderFlagReSortsTheGlobalListAndEveryPerObjectListAtOnce) {
    auto* a = reinterpret_cast<CAuRegisteredObj*>(0x10);
    auto* b = reinterpret_cast<CAuRegisteredObj*>(0x20);
    const auto keys = [](const CAuPlaybackLimiter* list) {
        std::vector<u32> out;
        for (u32 i = 0; i < list->Count(); ++i)
            out.push_back((*list)[i]->Key().playingID);
        return out;
    };
    {
        // One list for all objects: the node's global list.
        bankgen::NodeCommon global;
        global.advancedFlags = 8 | 4;
        ReadSound(global);
        for (CAuRegisteredObj* object : {a, b, a})
            ASSERT_EQ(PlayFor(object), AuResultSuccess);
        const CAuPlaybackLimiter* list = m_sound->Activity()->pGlobalLimiter;
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(keys(list), (std::vector<u32>{3, 2, 1}));
        m_sound->SetLimitFlags(true, false);
        EXPECT_EQ(keys(list), (std::vector<u32>{1, 2, 3}));
        EndAll();
        m_sound->Release();
        m_sound = nullptr;
        m_playingID = 0;
    }
    bankgen::NodeCommon node;
    node.advancedFlags = 8;
    ReadSound(node);
    for (CAuRegisteredObj* object : {a, b, a, b, a})
        ASSERT_EQ(PlayFor(object), AuResultSuccess);
    const AuActivityBlock* block = m_sound->Activity();
    ASSERT_EQ(block->perObject.Count(), 2u);
    const CAuPlaybackLimiter* listA = block->perObject[0].pLimiter;
    const CAuPlaybackLimiter* listB = block->perObject[1].pLimiter;
    EXPECT_EQ(keys(listA), (std::vector<u32>{5, 3, 1}));
    EXPECT_EQ(keys(listB), (std::vector<u32>{4, 2}));
    m_sound->SetLimitFlags(true, false);
    EXPECT_EQ(keys(listA), (std::vector<u32>{1, 3, 5}));
    EXPECT_EQ(keys(listB), (std::vector<u32>{2, 4}));
    EndAll();
}

TEST_F(PlayLimitTest, APriorityChangeMovesTheInstanceInItsBussListAndTheFrameDropsWhatExceedsTheMaximum) {
    CAuBus* bus = CAuBus::Create(0x900);
    bankgen::BusRecord record;
    record.id = 0x900;
    record.flags2 = 4; // own limit, none yet
    bankgen::EncodeContext ctx;
    const bankgen::Bytes payload = bankgen::EncodePayload(bankgen::Record{record}, ctx);
    AuRecordCursor cursor(payload.data(), static_cast<u32>(payload.size()));
    ASSERT_EQ(bus->SetInitialValues(cursor), AuResultSuccess);
    bankgen::NodeCommon node;
    node.outputBus = 0x900;
    ReadSound(node);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(PlayFor(nullptr), AuResultSuccess);
    const std::vector<CAuPlaybackInstance*> all = Instances();
    const CAuPlaybackLimiter* list = bus->Limiter();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->Kind(), AU_LIMITER_KIND_2);
    ASSERT_EQ(list->Count(), 3u);
    EXPECT_EQ((*list)[2], all[0]) << "equal priorities: the oldest last";
    EXPECT_EQ(m_instances.NumRegisteredLimiters(AU_LIMITER_KIND_2), 1u);

    // The oldest gains 20 points of priority through its own notification.
    all[0]->HandleParamNotification(AuParamNotification{8, nullptr, AuRTPCKey{}, false, 20.0f});
    EXPECT_EQ(all[0]->Priority().fPriority, 70.0f);
    EXPECT_EQ((*list)[0], all[0]);
    EXPECT_EQ(m_sound->Activity()->pGlobalLimiter, nullptr) << "the sound counts per object";
    EXPECT_EQ((*m_sound->Activity()->perObject[0].pLimiter)[0], all[0]) << "and in its own list";

    bus->SetMaxNumInstances(1, nullptr, nullptr, false);
    m_instances.UpdateLimiters();
    EXPECT_FALSE(StoppedByLimit(all[0]));
    EXPECT_TRUE(StoppedByLimit(all[1]));
    EXPECT_TRUE(StoppedByLimit(all[2]));
    EndAll();
    EXPECT_EQ(bus->Limiter(), nullptr);
    EXPECT_EQ(m_instances.NumRegisteredLimiters(AU_LIMITER_KIND_2), 0u);
    m_sound->Release();
    m_sound = nullptr;
    bus->Release();
}

TEST_F(PlayLimitTest, AnInstanceThatGaveWayUnderAnotherBusLeavesRoomOnlyUnderItsOwn) {
    struct Case {
        const char* what;
        bool victimUnderSameBus;
        size_t limitsApplied; // the node's, then the bus's when the victim left it no room
    };
    const Case cases[] = {{"same bus", true, 1}, {"other bus", false, 2}};
    for (const Case& c : cases) {
        CAuBus* limited = MakeBus(0x900, 4, 1); // its own limit of one
        CAuBus* other = MakeBus(0x901, 0, 0);
        bankgen::NodeCommon node;
        node.outputBus = 0x900;
        node.advancedFlags = 8; // its own limit of one, per game object
        node.maxInstances = 1;
        ReadSound(node);
        bankgen::NodeCommon elsewhere;
        elsewhere.outputBus = 0x901;
        CAuSound* otherSound = MakeSound(0x5002, elsewhere);
        AuNodePlayParams params;
        params.playingID = 99;
        ASSERT_EQ(otherSound->ExecutePlay(params), AuResultSuccess);
        ASSERT_EQ(PlayFor(nullptr), AuResultSuccess);
        ChosenVictim chooser;
        chooser.victim = c.victimUnderSameBus ? m_sound->FirstInstance() : otherSound->FirstInstance();
        g_pPlaybackLimits = &chooser;
        EXPECT_EQ(PlayFor(nullptr), AuResultSuccess) << c.what;
        g_pPlaybackLimits = &m_instances;
        ASSERT_EQ(chooser.lists.size(), c.limitsApplied) << c.what;
        EXPECT_EQ(chooser.lists[0], m_sound->Activity()->perObject[0].pLimiter) << c.what;
        if (c.limitsApplied == 2) {
            EXPECT_EQ(chooser.lists[1], limited->Limiter()) << c.what;
        }
        EndAll();
        otherSound->Release();
        m_sound->Release();
        m_sound = nullptr;
        limited->Release();
        other->Release();
    }
}

TEST_F(PlayLimitTest, ACountGoingDownOverALoweredLimitAppliesItAgainSoThatAnyInstanceGivesWay) {
    auto* a = reinterpret_cast<CAuRegisteredObj*>(0x10);
    struct Case {
        const char* what;
        bool virtualBack; // else one play fewer
        bool check;
        bool stops;
    };
    const Case cases[] = {
        {"back from virtual, asked", true, true, true},
        {"back from virtual, not asked", true, false, false},
        {"one fewer, asked", false, true, true},
        {"one fewer, not asked", false, false, false},
    };
    for (const Case& c : cases) {
        bankgen::NodeCommon node;
        node.advancedFlags = 8; // own limit, per game object, ties win
        ReadSound(node);
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(PlayFor(a), AuResultSuccess) << c.what;
        // A fourth count: one virtual, or one counted that has no instance.
        AuPlayCountRecord extra;
        extra.pGameObj = a;
        if (c.virtualBack)
            m_sound->IncrementVirtualCount(&extra);
        else
            ASSERT_EQ(m_sound->IncrementPlayCount(&extra), AuResultSuccess);
        m_sound->SetMaxNumInstances(c.virtualBack ? 2 : 1, nullptr, nullptr, false);
        const std::vector<CAuPlaybackInstance*> all = Instances();
        for (CAuPlaybackInstance* i : all)
            ASSERT_FALSE(StoppedByLimit(i)) << c.what;
        ChosenVictim chooser;
        chooser.victim = all[1];
        g_pPlaybackLimits = &chooser;
        AuPlayCountRecord down;
        down.pGameObj = a;
        down.bCheckLimit = c.check;
        if (c.virtualBack)
            m_sound->DecrementVirtualCount(&down);
        else
            m_sound->DecrementPlayCount(&down);
        g_pPlaybackLimits = &m_instances;
        ASSERT_EQ(chooser.priorities.size(), c.stops ? 1u : 0u) << c.what;
        if (c.stops) {
            EXPECT_EQ(chooser.priorities[0], 101.0f) << c.what;
            EXPECT_EQ(chooser.lists[0], m_sound->Activity()->perObject[0].pLimiter) << c.what;
            EXPECT_EQ(down.removed, 1u) << c.what;
        }
        // The real choice at 101: the oldest of equal priorities gives way.
        if (c.stops) {
            CAuPlaybackInstance* victim = nullptr;
            const CAuPlaybackLimiter& list = *m_sound->Activity()->perObject[0].pLimiter;
            EXPECT_EQ(m_instances.ApplyPlaybackLimit(list, list.Maximum(), 101.0f, a, false, false, victim),
                      AuResultSuccess);
            EXPECT_EQ(victim, all.front()) << c.what;
            EXPECT_EQ(all.front()->StopReason(), AU_LIMITER_REASON_LIST) << c.what;
        }
        // The extra count is gone: the instances' ends take back the rest.
        EndAll();
        EXPECT_EQ(m_sound->Activity(), nullptr) << c.what;
        m_sound->Release();
        m_sound = nullptr;
    }
}

TEST_F(PlayLimitTest, AnInstanceLimitFromAGameParameterSparesTheObjectsThatKeepTheirOwnValue) {
    CAuRTPCMgr rtpcs;
    ASSERT_EQ(rtpcs.Init(), AuResultSuccess);
    g_pRTPCMgr = &rtpcs;
    constexpr u32 kLimitParam = 0x1B17;
    auto* a = reinterpret_cast<CAuRegisteredObj*>(0x10);
    auto* b = reinterpret_cast<CAuRegisteredObj*>(0x20);
    ASSERT_EQ(rtpcs.SetRTPCImmediate(kLimitParam, 8.0f, AuRTPCKey{}), AuResultSuccess);
    ASSERT_EQ(rtpcs.SetRTPCImmediate(kLimitParam, 4.0f, AuRTPCKey(b)), AuResultSuccess);
    bankgen::NodeCommon node;
    node.advancedFlags = 8; // own limit, per game object
    node.maxInstances = 5;
    bankgen::RtpcCurve curve;
    curve.gameParameter = kLimitParam;
    curve.target = AuTarget_InstanceLimit;
    curve.curveId = 1;
    curve.points = {{0, 0, 4}, {100, 100, 4}};
    node.rtpcs = {curve};
    ReadSound(node);
    ASSERT_EQ(PlayFor(a), AuResultSuccess);
    ASSERT_EQ(PlayFor(b), AuResultSuccess);
    const AuActivityBlock* block = m_sound->Activity();
    ASSERT_EQ(block->perObject.Count(), 2u);
    const CAuPlaybackLimiter* listA = block->perObject[0].pLimiter;
    const CAuPlaybackLimiter* listB = block->perObject[1].pLimiter;
    EXPECT_EQ(listA->Maximum(), 8u);
    EXPECT_EQ(listB->Maximum(), 4u);

    // b holds a value of its own: the change for every object passes it by.
    ASSERT_EQ(rtpcs.SetRTPCImmediate(kLimitParam, 2.0f, AuRTPCKey{}), AuResultSuccess);
    EXPECT_EQ(listA->Maximum(), 2u);
    EXPECT_EQ(listB->Maximum(), 4u);
    ASSERT_EQ(rtpcs.SetRTPCImmediate(kLimitParam, 3.0f, AuRTPCKey(b)), AuResultSuccess);
    EXPECT_EQ(listA->Maximum(), 2u);
    EXPECT_EQ(listB->Maximum(), 3u);
    EXPECT_EQ(m_sound->LimitWord() & 0x3FF, 5u) << "a game parameter leaves the stored limit";
    // Set from outside a curve, the limit reaches every list and is stored.
    m_sound->SetMaxNumInstances(6, nullptr, nullptr, false);
    EXPECT_EQ(listA->Maximum(), 6u);
    EXPECT_EQ(listB->Maximum(), 6u);
    EXPECT_EQ(m_sound->LimitWord() & 0x3FF, 6u);

    EndAll();
    m_sound->Release();
    m_sound = nullptr;
    g_pRTPCMgr = nullptr;
    rtpcs.Term();
}

TEST_F(SoundPlayTest, ALevelOffsetChangeReachesTheMotionInstancesOfThatSourceOnly) {
    bankgen::MotionLeafRecord record;
    record.id = 0x1701;
    for (u32 media : {kMediaID, kMediaID + 1}) {
        bankgen::MotionSource source;
        source.device1 = 1;
        source.levelOffset = -3.0f;
        source.source.sourceId = media;
        source.source.inMemorySize = static_cast<u32>(m_media.size());
        record.sources.push_back(source);
    }
    bankgen::EncodeContext ctx;
    const bankgen::Bytes payload = bankgen::EncodePayload(bankgen::Record{record}, ctx);
    CAuLeafType17* leaf = CAuLeafType17::Create(record.id);
    ASSERT_EQ(leaf->SetInitialValues(payload.data(), static_cast<u32>(payload.size()), false),
              AuResultSuccess);
    g_bMotionDevicesPresent = true;
    AuNodePlayParams params;
    params.playingID = 9;
    EXPECT_EQ(leaf->ExecutePlay(params), AuResultSuccess);
    g_bMotionDevicesPresent = false;
    // The second source's media is not in the table: only the first starts.
    ASSERT_EQ(m_instances.NumInstances(), 1u);
    CAuPlaybackInstance* instance = leaf->FirstInstance();
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(instance->GetSourceMedia().uSourceID, kMediaID);
    const f32 before = instance->VolumeOffsetDb();
    leaf->SetLevelOffset(*leaf->FindSource(kMediaID + 1), 6.0f);
    EXPECT_EQ(instance->VolumeOffsetDb(), before) << "another source's instances";
    leaf->SetLevelOffset(*leaf->FindSource(kMediaID), 2.0f);
    EXPECT_FLOAT_EQ(instance->VolumeOffsetDb(), before + 5.0f);
    EXPECT_EQ(leaf->GetLinkedFloat(leaf->FindSource(kMediaID)->info), 2.0f);
    m_instances.QueueInstanceEvent(instance, AuInstanceEvent::kEnd, 0, 0.0f);
    m_instances.ProcessInstanceEvents();
    leaf->Release();
}

TEST_F(SoundPlayTest, TheSoundsEffectSlotFromItsRecordRunsTheBanksSettingsAndItsBypassBitPlaysItDry) {
    ASSERT_EQ(
        CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, AU_FX_DELAY_ID, CreateFx106, CreateFx106Params),
        AuResultSuccess);
    // A click in 0.1 s of media, once the voice's start has risen.
    constexpr size_t kClick = voicetest::kEdgeRise;
    m_samples.assign(4800, 0);
    m_samples[kClick] = 16384;
    const AuSourceSettings old{kMediaID, m_media.data(), static_cast<u32>(m_media.size())};
    ASSERT_EQ(m_bank.UnsetMedia(&old, 1), AuResultSuccess);
    m_media = bankgen::MakePcmWave(m_samples, 1, 48000);
    const AuSourceSettings click{kMediaID, m_media.data(), static_cast<u32>(m_media.size())};
    ASSERT_EQ(m_bank.SetMedia(&click, 1), AuResultSuccess);
    // The 0.5 s, 50 % wet delay as the sound's own settings (type 19), read from the bank's record.
    AuDelayBlock block;
    block.fDelayTime = 0.5f;
    block.fWetDryMix = 50.0f;
    bankgen::EncodeContext ctx;
    const bankgen::Bytes payload = bankgen::EncodePayload(bankgen::EffectSettings(0x106, block), ctx);
    CAuPluginSettings* settings = CAuPluginSettingsType19::Create(0x106);
    ASSERT_NE(settings, nullptr);
    ASSERT_EQ(settings->LoadPluginSettings(payload.data(), static_cast<u32>(payload.size())),
              AuResultSuccess);

    struct Case {
        u8 bypassBits;
        f32 atClick;
        size_t frames; // rendered: the media, and the delay line's tail unless bypassed
    } cases[] = {{0, 0.25f, (4800 + 24000 + 1023) / 1024 * 1024}, {1, 0.5f, 4800}};
    for (const Case& c : cases) {
        bankgen::NodeCommon node;
        node.overrideParentEffects = 1;
        node.effects = {{0, 0x106, 0, 0}};
        node.bypassBits = c.bypassBits;
        CAuSound* sound = ReadSound(node);
        AuNodePlayParams params;
        params.playingID = 7;
        ASSERT_EQ(sound->ExecutePlay(params), AuResultSuccess);
        CAuPlaybackInstance* instance = m_instances.FirstInstance();
        m_bus.mixed.clear();
        Frame();
        EXPECT_EQ(settings->m_lRef, 2u) << "the voice's effect holds the settings";
        for (int frame = 1; frame < 40 && !instance->IsStopped(); ++frame)
            Frame();
        EXPECT_TRUE(instance->IsStopped());
        ASSERT_EQ(m_bus.mixed.size(), c.frames) << int(c.bypassBits);
        // Half dry at once and half wet 24000 frames on, at the engine's gain of 0 dB (within
        // 0.1 % of 1); the bypassed slot passes the click alone.
        EXPECT_NEAR(m_bus.mixed[kClick], c.atClick, 1e-3f) << int(c.bypassBits);
        if (c.bypassBits == 0) {
            EXPECT_NEAR(m_bus.mixed[kClick + 24000], c.atClick, 1e-3f);
        }
        f32 elsewhere = 0.0f;
        for (size_t i = 0; i < m_bus.mixed.size(); ++i)
            if (i != kClick && i != kClick + 24000) elsewhere = std::max(elsewhere, std::abs(m_bus.mixed[i]));
        EXPECT_LT(elsewhere, 1e-6f) << int(c.bypassBits);
        m_instances.QueueInstanceEvent(instance, AuInstanceEvent::kEnd, 0, 0.0f);
        m_instances.ProcessInstanceEvents();
        EXPECT_EQ(m_instances.NumInstances(), 0u);
        m_sound->Release();
        m_sound = nullptr;
    }
    EXPECT_EQ(settings->m_lRef, 1u) << "every voice let go";
    settings->Release();
    CAuLowerEngine::FreeRegistries();
}

TEST_F(SoundPlayTest, ABankBusHandsTheMixingSideItsMixerSettingsFromTheTableItsShareSetNames) {
    constexpr u32 kMixer = 0x3A1;
    CAuPluginSettings* shared = CAuPluginSettingsType18::Create(kMixer);
    CAuPluginSettings* own = CAuPluginSettingsType19::Create(kMixer);
    ASSERT_TRUE(shared && own);
    struct Case {
        const char* name;
        u32 mixer;
        u8 shareSet;
        CAuPluginSettings* expected;
    } cases[] = {
        {"shared", kMixer, 1, shared},
        {"the bus's own", kMixer, 0, own},
        {"none", 0, 1, nullptr},
        {"an ID no object has", kMixer + 1, 1, nullptr},
    };
    u32 id = 0x900;
    for (const Case& c : cases) {
        CAuBus* bus = CAuBus::Create(++id);
        ASSERT_NE(bus, nullptr);
        bankgen::BusRecord record;
        record.id = id;
        record.mixer = c.mixer;
        record.mixerShareSet = c.shareSet;
        bankgen::EncodeContext ctx;
        const bankgen::Bytes payload = bankgen::EncodePayload(bankgen::Record{record}, ctx);
        AuRecordCursor cursor(payload.data(), static_cast<u32>(payload.size()));
        ASSERT_EQ(bus->SetInitialValues(cursor), AuResultSuccess) << c.name;
        AuEffectRecord mixer;
        bus->MixNode().GetMixerPlugin(mixer);
        EXPECT_EQ(mixer.pSettings, c.expected) << c.name;
        if (mixer.pSettings) {
            EXPECT_EQ(mixer.pSettings->m_lRef, 2u) << c.name << ": one reference for the caller";
            mixer.pSettings->Release();
        }
        bus->Release();
    }
    EXPECT_EQ(shared->m_lRef, 1u);
    EXPECT_EQ(own->m_lRef, 1u);
    shared->Release();
    own->Release();
}

} // namespace
