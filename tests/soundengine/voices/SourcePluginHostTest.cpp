#include "core/AuListener.h"
#include "core/AuObjectIndex.h"
#include "core/AuRegistryMgr.h"
#include "plugins/AuEffectCommon.h"
#include "plugins/AuPluginSettings.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuPlaybackInstance.h"
#include "voices/AuResampler.h"
#include "voices/AuSourcePluginHost.h"
#include "voices/AuVoiceContext.h"

#include "LowerEnginePoolTest.h"
#include "TestPlugins.h"
#include "VoiceTestSupport.h"

#include <bankgen/Bank.h>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

constexpr u32 kGeneratorId = 0x7A;
constexpr u32 kEffectId = 0x7B;
constexpr u32 kSettingsID = 0x5E7;

// What the tests ask of the generator and what it saw.
struct GeneratorControl {
    u32 formatWord = 0; // 0: keep the offered format
    f32 durationMs = 2000.0f;
    f32 envelope = 1.0f;
    u32 seekedTo = 0xFFFFFFFF;
    u32 offeredRate = 0;
    AuChannelConfig offered;
    int live = 0;
    int resets = 0;
    u16 loopsSeen = 0;
    // What the voice answered the generator at its Init.
    u32 objectSeen = 0;
    AuPlayingID playingIDSeen = 0;
};
GeneratorControl g_gen;

// Writes sample n of its output as n / 4096 on every channel, 4096 samples in all.
class RampGenerator final : public AU::IAuSourcePlugin {
public:
    RampGenerator() { ++g_gen.live; }
    ~RampGenerator() override { --g_gen.live; }
    AURESULT Term(AU::IAuPluginMemAlloc* allocator) noexcept override {
        AuPluginDelete(this, allocator);
        return AuResultSuccess;
    }
    AURESULT Reset() noexcept override {
        ++g_gen.resets;
        m_next = 0;
        return AuResultSuccess;
    }
    AURESULT GetPluginInfo(AuPluginInfo& info) noexcept override {
        info.eType = AuPluginTypeSource;
        return AuResultSuccess;
    }
    using AU::IAuSourcePlugin::Init;
    AURESULT Init(AU::IAuPluginMemAlloc*, AU::IAuSourcePluginContext* context, AU::IAuPluginParam*,
                  AuPluginFormat& format) noexcept override {
        g_gen.offeredRate = format.uSampleRate;
        g_gen.offered = format.channelConfig;
        g_gen.loopsSeen = context->GetNumLoops();
        g_gen.objectSeen = context->GetVoiceInfo()->GetGameObjectID();
        g_gen.playingIDSeen = context->GetVoiceInfo()->GetPlayingID();
        if (g_gen.formatWord) format.channelConfig = AuChannelConfig(g_gen.formatWord);
        return AuResultSuccess;
    }
    void Execute(AuPipelineBuffer& buffer) noexcept override {
        const u32 frames = std::min<u32>(buffer.uMaxFrames, kLength - m_next);
        for (u32 c = 0; c < buffer.NumChannels(); ++c)
            for (u32 i = 0; i < frames; ++i)
                buffer.GetChannel(c)[i] = f32(m_next + i) / 4096.0f;
        m_next += frames;
        buffer.uValidFrames = static_cast<u16>(frames);
        buffer.eState = m_next == kLength ? AuResultNoMoreData : AuResultDataReady;
    }
    AURESULT TimeSkip(u32) noexcept override { return AuResultSuccess; }
    f32 GetDuration() const noexcept override { return g_gen.durationMs; }
    void StopLooping() noexcept override {}
    AURESULT Seek(u32 position) noexcept override {
        g_gen.seekedTo = position;
        m_next = position < kLength ? position : kLength;
        return AuResultSuccess;
    }
    f32 GetEnvelope() const noexcept override { return g_gen.envelope; }

private:
    static constexpr u32 kLength = 4096;
    u32 m_next = 0;
};

AU::IAuPlugin* CreateGenerator(AU::IAuPluginMemAlloc* allocator) {
    return AuPluginNew<RampGenerator>(allocator);
}
// An effect registered where a generator is expected.
AU::IAuPlugin* CreateNotAGenerator(AU::IAuPluginMemAlloc* allocator) {
    return AuPluginNew<voicetest::PassThroughEffect>(allocator);
}

class SourcePluginHostTest : public voicetest::LowerEnginePoolTest {
protected:
    SourcePluginHostTest() : LowerEnginePoolTest(4u << 20) {}
    void SetUp() override {
        LowerEnginePoolTest::SetUp();
        CAuResampler::InitKernels();
        CAuLowerEngine::SetPlatformInitSettings(nullptr);
        m_index.Init();
        g_pIndex = &m_index;
        ASSERT_EQ(CAuLowerEngine::RegisterPlugin(AuPluginTypeSource, 0, kGeneratorId, CreateGenerator,
                                                 voicetest::CreateNoParams),
                  AuResultSuccess);
        ASSERT_EQ(CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, kEffectId, CreateNotAGenerator,
                                                 voicetest::CreateNoParams),
                  AuResultSuccess);
        g_gen = {};
    }
    void TearDown() override {
        m_voice.reset();
        m_instance.reset();
        if (m_settings) m_settings->Release();
        CAuLowerEngine::FreeRegistries();
        m_index.Term();
        g_pIndex = nullptr;
        EXPECT_EQ(g_gen.live, 0);
        LowerEnginePoolTest::TearDown();
    }

    // The sound's generator settings, running the plug-in registered under `pluginId`.
    void MakeSettings(u32 type, u32 pluginId) {
        m_settings = CAuPluginSettingsType19::Create(kSettingsID);
        ASSERT_NE(m_settings, nullptr);
        m_settings->SetParamObject(CAuLowerEngine::PluginKey(type, 0, pluginId),
                                   voicetest::CreateNoParams(&CAuLowerEngine::PluginAllocator()));
    }
    CAuPlaybackInstance& MakeInstance(u16 loops = 1, CAuRegisteredObj* gameObj = nullptr) {
        AuPlaybackInstanceParams params;
        params.pGameObj = gameObj;
        params.key.playingID = 9;
        params.priority.fPriority = 61.6f;
        m_instance = std::make_unique<CAuPlaybackInstance>(params);
        AuSourceMedia media;
        media.uFlags = AuSourceMedia::kStoragePlugin << AuSourceMedia::kStorageShift;
        media.uSourceID = kSettingsID;
        m_instance->SetSourceMedia(media);
        m_instance->SetLoopCount(loops);
        return *m_instance;
    }
    CAuSourcePluginHost* MakeHost() {
        CAuSourceBase* source = AuCreateSource(m_instance.get());
        EXPECT_NE(dynamic_cast<CAuSourcePluginHost*>(source), nullptr);
        return static_cast<CAuSourcePluginHost*>(source);
    }

    CAuObjectIndex m_index;
    CAuPluginSettings* m_settings = nullptr;
    std::unique_ptr<CAuPlaybackInstance> m_instance;
    std::unique_ptr<CAuVoiceContext> m_voice;
};

TEST_F(SourcePluginHostTest, AGeneratorStartsWithAMonoFormatAt48kHzAndFillsPlanarFloatBuffers) {
    MakeSettings(AuPluginTypeSource, kGeneratorId);
    MakeInstance(3);
    CAuSourcePluginHost* host = MakeHost();
    ASSERT_NE(host, nullptr);
    ASSERT_EQ(host->StartStream(), AuResultSuccess);
    EXPECT_EQ(g_gen.offeredRate, 48000u);
    EXPECT_EQ(g_gen.offered, AuChannelConfig::Standard(AU_SPEAKER_FRONT_CENTER));
    EXPECT_EQ(g_gen.loopsSeen, 3);
    EXPECT_EQ(g_gen.resets, 1);
    const auto& format = m_instance->GetMediaFormat();
    EXPECT_EQ(format.uSampleRate, 48000u);
    EXPECT_EQ(format.config, AuChannelConfig::Standard(AU_SPEAKER_FRONT_CENTER));
    EXPECT_EQ(format.uBits & 63, 32u);
    EXPECT_EQ(m_settings->m_lRef, 2u); // the clone's holder keeps one
    AuPipelineBuffer buffer;
    buffer.uMaxFrames = 1024;
    host->GetBuffer(buffer);
    ASSERT_EQ(buffer.eState, AuResultDataReady);
    ASSERT_EQ(buffer.uValidFrames, 1024);
    EXPECT_EQ(buffer.pData[0], 0.0f);
    EXPECT_EQ(buffer.pData[1023], 1023.0f / 4096.0f);
    buffer.uMaxFrames = 0;
    host->GetBuffer(buffer);
    EXPECT_EQ(buffer.eState, AuResultNoMoreData);
    EXPECT_EQ(host->GetDuration(), 2000.0f);
    AuDestroySource(host);
    EXPECT_EQ(m_settings->m_lRef, 1u);
}

TEST_F(SourcePluginHostTest, AGeneratorAsksItsVoiceWhereItSoundsFrom) {
    MakeSettings(AuPluginTypeSource, kGeneratorId);
    {
        // Without a game object: no pairs, the default position, no listener.
        MakeInstance();
        CAuSourcePluginHost* host = MakeHost();
        ASSERT_EQ(host->StartStream(), AuResultSuccess);
        EXPECT_EQ(g_gen.objectSeen, 0xFFFFFFFFu);
        EXPECT_EQ(g_gen.playingIDSeen, 9u);
        const AU::IAuSourceVoiceInfo& info = *host->GetVoiceInfo();
        AuEmitterListenerPair pair{};
        AuSoundPosition position{};
        EXPECT_EQ(info.GetNumEmitterListenerPairs(), 0u);
        EXPECT_EQ(info.GetEmitterListenerPair(0, pair), AuResultFail);
        EXPECT_EQ(info.GetNumPositions(), 1u);
        ASSERT_EQ(info.GetPosition(0, position), AuResultSuccess);
        EXPECT_EQ(position.Position.Z, AU_DEFAULT_SOUND_POSITION.Position.Z);
        EXPECT_EQ(info.GetMultiPositionType(), 0u);
        EXPECT_EQ(info.GetAttenuationScaling(), 1.0f);
        EXPECT_EQ(info.GetListenerMask(), 0);
        EXPECT_EQ(info.GetListenerData(0), nullptr);
        EXPECT_EQ(info.GetPriority(), 62u);
        AuDestroySource(host);
    }
    CAuRegisteredObj object(42);
    ASSERT_NO_FATAL_FAILURE(voicetest::PlaceForTwoListeners(object));
    MakeInstance(1, &object);
    CAuSourcePluginHost* host = MakeHost();
    ASSERT_EQ(host->StartStream(), AuResultSuccess);
    EXPECT_EQ(g_gen.objectSeen, 42u);
    const AU::IAuSourceVoiceInfo& info = *host->GetVoiceInfo();
    EXPECT_EQ(info.GetNumEmitterListenerPairs(), 4u); // two listeners, two positions
    // Pairs of every listener, in the game object's order: listener 2 holds the last two.
    const struct {
        u32 index;
        AURESULT result;
        u8 listenerBit;
    } pairs[] = {{0, AuResultSuccess, 0x1},
                 {2, AuResultSuccess, 0x4},
                 {3, AuResultSuccess, 0x4},
                 {4, AuResultFail, 0}};
    for (const auto& c : pairs) {
        AuEmitterListenerPair pair{};
        EXPECT_EQ(info.GetEmitterListenerPair(c.index, pair), c.result) << c.index;
        EXPECT_EQ(pair.listenerBit, c.listenerBit) << c.index;
    }
    EXPECT_EQ(info.GetNumPositions(), 2u);
    AuSoundPosition position{};
    ASSERT_EQ(info.GetPosition(1, position), AuResultSuccess);
    EXPECT_EQ(position.Position.Y, 2.0f);
    EXPECT_EQ(info.GetPosition(2, position), AuResultFail);
    EXPECT_EQ(info.GetMultiPositionType(), 1u);
    EXPECT_EQ(info.GetAttenuationScaling(), 2.0f);
    EXPECT_EQ(info.GetListenerMask(), 0x5);
    EXPECT_EQ(info.GetListenerData(0), &CAuListener::Data(0));
    EXPECT_EQ(info.GetListenerData(1), &CAuListener::Data(2));
    EXPECT_EQ(info.GetListenerData(2), nullptr);
    EXPECT_EQ(info.GetPlayingID(), 9u);
    AuDestroySource(host);
    m_instance.reset(); // before the game object
}

TEST_F(SourcePluginHostTest, TheFormatAGeneratorLeavesMustBeOneTheVoicesPlay) {
    MakeSettings(AuPluginTypeSource, kGeneratorId);
    struct Case {
        u32 word;
        AURESULT result;
    };
    const Case cases[] = {
        {AuChannelConfig::Standard(0x60F).uWord, AuResultSuccess},
        {AuChannelConfig::Standard(0x3).uWord, AuResultSuccess},
        {AuChannelConfig::Standard(0x63F).uWord, AuResultSuccess},
        {AuChannelConfig::Anonymous(3).uWord, AuResultSuccess},
        {AuChannelConfig::Standard(0x2).uWord, AuResultFail},
        {AuChannelConfig::Standard(0x30).uWord, AuResultFail},
        {AuChannelConfig::Anonymous(0).uWord | 0x0200, AuResultFail}, // neither anonymous nor standard
    };
    for (const Case& c : cases) {
        g_gen.formatWord = c.word;
        MakeInstance();
        CAuSourcePluginHost* host = MakeHost();
        EXPECT_EQ(host->StartStream(), c.result) << std::hex << c.word;
        EXPECT_EQ(host->Plugin() != nullptr, c.result == AuResultSuccess);
        AuDestroySource(host);
        EXPECT_EQ(g_gen.live, 0);
    }
}

TEST_F(SourcePluginHostTest, MissingSettingsOrAPluginOfAnotherKindDoNotStart) {
    MakeInstance();
    CAuSourcePluginHost* host = MakeHost();
    EXPECT_EQ(host->StartStream(), AuResultFail); // no settings loaded
    AuPipelineBuffer buffer;
    buffer.uMaxFrames = 64;
    host->GetBuffer(buffer);
    EXPECT_EQ(buffer.eState, AuResultFail);
    EXPECT_EQ(host->GetAnalyzedEnvelope(0), 0.0f);
    AuDestroySource(host);
    MakeSettings(AuPluginTypeEffect, kEffectId);
    host = MakeHost();
    EXPECT_EQ(host->StartStream(), AuResultFail);
    EXPECT_EQ(m_settings->m_lRef, 1u); // nothing kept
    AuDestroySource(host);
}

TEST_F(SourcePluginHostTest, SeeksAndEnvelope) {
    MakeSettings(AuPluginTypeSource, kGeneratorId);
    MakeInstance();
    CAuSourcePluginHost* host = MakeHost();
    ASSERT_EQ(host->StartStream(), AuResultSuccess);
    m_instance->SeekPercent(0.5f, false);
    EXPECT_EQ(host->Seek(), AuResultSuccess);
    EXPECT_EQ(g_gen.seekedTo, 48000u); // half of 2000 ms at 48 kHz
    EXPECT_FALSE(m_instance->SeekPending());
    m_instance->SeekTime(10, false);
    EXPECT_EQ(host->Seek(), AuResultSuccess);
    EXPECT_EQ(g_gen.seekedTo, 480u);
    for (f32 level : {1.0f, 0.5f, 0.1f}) {
        g_gen.envelope = level;
        EXPECT_NEAR(host->GetAnalyzedEnvelope(0), 20.0f * std::log10(level), 0.01f) << level;
    }
    g_gen.envelope = 0.0f;
    EXPECT_LT(host->GetAnalyzedEnvelope(0), -700.0f);
    // Coming back from virtual mode from the beginning starts the generator again.
    const int resets = g_gen.resets;
    host->VirtualOn(0);
    host->VirtualOn(2);
    EXPECT_EQ(g_gen.resets, resets + 1);
    AuDestroySource(host);
}

TEST_F(SourcePluginHostTest, AVoiceRendersTheGeneratorSampleForSample) {
    MakeSettings(AuPluginTypeSource, kGeneratorId);
    MakeInstance();
    m_voice = std::make_unique<CAuVoiceContext>();
    ASSERT_EQ(m_voice->AttachSource(AuCreateSource(m_instance.get()), true, true), AuResultSuccess);
    m_voice->Start();
    std::vector<f32> rendered;
    for (int frame = 0; frame < 6 && m_voice->State() == CAuVoiceContext::kPlaying; ++frame) {
        AuVoiceFrame record;
        record.uFrames = 1024;
        m_voice->ApplyFrameBudget(record);
        if (!m_voice->VoiceUpdate(record, AuVoiceLevels{})) break;
        AuPipelineBuffer out;
        out.PrepareForVoicePass(1024);
        const AURESULT state = m_voice->Pull(out, 1024);
        if (out.pData) rendered.insert(rendered.end(), out.pData, out.pData + out.uValidFrames);
        m_voice->ReleaseBuffer();
        if (state == AuResultNoMoreData) break;
    }
    ASSERT_GE(rendered.size(), 4096u);
    for (u32 i : {0u, 1u, 1023u, 1024u, 3000u, 4095u})
        EXPECT_NEAR(rendered[i], f32(i) / 4096.0f * voicetest::EdgeRise(i), 1e-6f) << i;
}

} // namespace
