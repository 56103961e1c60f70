// A sound read from a bankgen record, played through the parameter node's play entry: the
// instance manager makes its instance with the media of the bank manager's table, the voice
// commands render it frame by frame into a fake bus, and the instance ends with the media.
#include "banks/AuBankMgr.h"
#include "banks/AuSound.h"
#include "core/AuObjectIndex.h"
#include "plugins/AuDelayEffect.h"
#include "plugins/AuPluginSettings.h"
#include "voices/AuInstanceMgr.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuResampler.h"
#include "voices/AuVoiceCommands.h"
#include "voices/AuVoiceContext.h"

#include <AU/AuEffectPlugins.h>
#include <AuDefaultPoolTest.h>
#include <bankgen/Effects.h>
#include <bankgen/Media.h>
#include <bankgen/Records.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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

class SoundPlayTest : public AuDefaultPoolTest {
protected:
    SoundPlayTest() : AuDefaultPoolTest(4u << 20) {}
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        g_LEngineDefaultPoolId = g_DefaultPoolId;
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
        g_LEngineDefaultPoolId = -1;
        EXPECT_EQ(Used(), m_usedAtStart);
        AuDefaultPoolTest::TearDown();
    }
    // The audio thread's part of a frame that concerns voices.
    void Frame() {
        if (m_commands.HasVoicesToStart()) m_commands.StartPendingVoices();
        m_commands.ExecuteVoiceCommands();
        m_commands.AdvanceWaitingVoices(1024);
        m_commands.RenderVoices(true, 1024);
    }
    CAuSound* ReadSound(const bankgen::NodeCommon& node = {}) {
        bankgen::SoundRecord record;
        record.id = kSoundID;
        record.node = node;
        record.source.plugin = bankgen::kCodecPcm;
        record.source.sourceId = kMediaID;
        record.source.fileId = 0x47FD79D2;
        record.source.fileOffset = 0x80;
        record.source.inMemorySize = static_cast<u32>(m_media.size());
        bankgen::EncodeContext ctx;
        const bankgen::Bytes payload = bankgen::EncodePayload(record, ctx);
        EXPECT_TRUE(ctx.errors.empty());
        m_sound = CAuSound::Create(kSoundID);
        EXPECT_EQ(m_sound->SetInitialValues(payload.data(), static_cast<u32>(payload.size()), false),
                  AuResultSuccess);
        return m_sound;
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
        ASSERT_FLOAT_EQ(m_bus.mixed[i], f32(m_samples[i]) / 32768.0f) << i;
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

TEST_F(SoundPlayTest, TheSoundsEffectSlotFromItsRecordRunsTheBanksSettingsAndItsBypassBitPlaysItDry) {
    ASSERT_EQ(
        CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, AU_FX_DELAY_ID, CreateFx106, CreateFx106Params),
        AuResultSuccess);
    // A click in 0.1 s of media.
    m_samples.assign(4800, 0);
    m_samples[0] = 16384;
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
        EXPECT_NEAR(m_bus.mixed[0], c.atClick, 1e-3f) << int(c.bypassBits);
        if (c.bypassBits == 0) {
            EXPECT_NEAR(m_bus.mixed[24000], c.atClick, 1e-3f);
        }
        f32 elsewhere = 0.0f;
        for (size_t i = 1; i < m_bus.mixed.size(); ++i)
            if (i != 24000) elsewhere = std::max(elsewhere, std::abs(m_bus.mixed[i]));
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

} // namespace
