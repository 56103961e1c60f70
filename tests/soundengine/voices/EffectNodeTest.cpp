#include "core/AuObjectIndex.h"
#include "core/AuPlayingMgr.h"
#include "core/AuTransitionMgr.h"
#include "parameters/AuRTPCMgr.h"
#include "plugins/AuDelayEffect.h"
#include "plugins/AuEffectCommon.h"
#include "plugins/AuPluginSettings.h"
#include "plugins/AuRoomReverbEffect.h"
#include "voices/AuEffectNode.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuPlaybackInstance.h"
#include "voices/AuResampler.h"
#include "voices/AuSourceBase.h"
#include "voices/AuVoiceContext.h"
#include <AU/AuEffectBlocks.h>
#include <AU/AuEffectPlugins.h>

#include "LowerEnginePoolTest.h"
#include "MixingTestSupport.h"
#include "TestPlugins.h"
#include "VoiceTestSupport.h"

#include <AuLogCapture.h>
#include <bankgen/Effects.h>
#include <bankgen/Media.h>
#include <bankgen/Records.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

// What the fake plug-ins did, and how the next ones behave.
struct FakeLog {
    int resets = 0;
    int executes = 0;
    int terms = 0;
    int timeSkips = 0;
    u32 skippedFrames = 0;
    std::vector<AURESULT> statesSeen;
    std::vector<u16> validSeen;
};
struct FakeBehaviour {
    bool refuse = false;
    u32 tailFrames = 0;
    AURESULT initResult = AuResultSuccess;
    AuChannelConfig outConfig; // out of place: the layout the plug-in chooses (0: the input's)
    u32 takePerCall = 1024;    // out of place: input frames taken per Execute at most
    AURESULT skipResult = AuResultDataReady;
};
FakeLog g_log;
FakeBehaviour g_fake;

// What both fakes log of their ends, resets and skips; Self is the fake.
template <class Self, class Interface> class LoggingEffect : public Interface {
public:
    AURESULT Term(AU::IAuPluginMemAlloc* allocator) noexcept override {
        ++g_log.terms;
        AuPluginDelete(static_cast<Self*>(this), allocator);
        return AuResultSuccess;
    }
    AURESULT Reset() noexcept override {
        ++g_log.resets;
        return AuResultSuccess;
    }

protected:
    static void LogSkip(u32 frames) {
        ++g_log.timeSkips;
        g_log.skippedFrames += frames;
    }
};

// In place: doubles the samples and rings out through the shared tail.
class DoublingEffect final : public LoggingEffect<DoublingEffect, AU::IAuPlugin> {
public:
    AURESULT GetPluginInfo(AuPluginInfo& info) noexcept override {
        info.eType = AuPluginTypeEffect;
        info.bIsInPlace = true;
        info.bRefused = g_fake.refuse;
        return AuResultSuccess;
    }
    AURESULT Init(AU::IAuPluginMemAlloc*, AU::IAuEffectPluginContext*, AU::IAuPluginParam*,
                  AuPluginFormat&) noexcept override {
        return g_fake.initResult;
    }
    void Execute(AuPipelineBuffer& buffer) noexcept override {
        ++g_log.executes;
        g_log.statesSeen.push_back(buffer.eState);
        g_log.validSeen.push_back(buffer.uValidFrames);
        m_tail.Process(buffer, g_fake.tailFrames);
        for (u32 c = 0; c < buffer.NumChannels(); ++c)
            for (u32 i = 0; i < buffer.uValidFrames; ++i)
                buffer.GetChannel(c)[i] *= 2.0f;
    }
    AURESULT TimeSkip(u32 frames) noexcept override {
        LogSkip(frames);
        return AuResultDataReady;
    }

private:
    AuEffectTail m_tail;
};

// Out of place: moves at most takePerCall input frames per call into its output, channel c from
// input channel c (or 0 when the input has fewer).
class RepackingEffect final : public LoggingEffect<RepackingEffect, AU::IAuOutOfPlacePlugin> {
public:
    using AU::IAuOutOfPlacePlugin::Execute;
    AURESULT GetPluginInfo(AuPluginInfo& info) noexcept override {
        info.eType = AuPluginTypeEffect;
        info.bIsInPlace = false;
        return AuResultSuccess;
    }
    AURESULT Init(AU::IAuPluginMemAlloc*, AU::IAuEffectPluginContext*, AU::IAuPluginParam*,
                  AuPluginFormat& format) noexcept override {
        if (g_fake.outConfig.uWord) format.channelConfig = g_fake.outConfig;
        return g_fake.initResult;
    }
    void Execute(AuPipelineBuffer& in, u32 offset, AuPipelineBuffer& out) noexcept override {
        ++g_log.executes;
        g_log.statesSeen.push_back(in.eState);
        const u32 take =
            std::min({u32(in.uValidFrames), g_fake.takePerCall, u32(out.uMaxFrames - out.uValidFrames)});
        for (u32 c = 0; c < out.NumChannels() && take > 0; ++c) {
            const f32* from = in.GetChannel(c < in.NumChannels() ? c : 0) + offset;
            std::copy(from, from + take, out.GetChannel(c) + out.uValidFrames);
        }
        in.uValidFrames = u16(in.uValidFrames - take);
        out.uValidFrames = u16(out.uValidFrames + take);
        if (in.eState == AuResultNoMoreData && in.uValidFrames == 0)
            out.eState = AuResultNoMoreData;
        else
            out.eState = out.uValidFrames == out.uMaxFrames ? AuResultDataReady : AuResultDataNeeded;
    }
    AURESULT TimeSkip(u32 frames) noexcept override {
        LogSkip(frames);
        return g_fake.skipResult;
    }
};

// Real settings objects of a sound's own, each made one keeping its bank reference until Term.
class SettingsTables : public voicetest::SettingsIndex<CAuPluginSettingsType19> {
public:
    // Settings with the record's curves whose parameter object (a fake one by default) runs the
    // plug-in of `pluginKey`.
    CAuPluginSettings* Make(u32 id, u32 pluginKey, AU::IAuPluginParam* params = nullptr,
                            std::vector<bankgen::RtpcCurve> curves = {}) {
        CAuPluginSettings* settings = Load(
            {bankgen::HierarchyType::PluginSettings, id, bankgen::kNoPlugin, {}, {}, std::move(curves), {}});
        if (!settings) return nullptr;
        settings->SetParamObject(
            pluginKey, params ? params : voicetest::CreateNoParams(&CAuLowerEngine::PluginAllocator()));
        return settings;
    }
};

// The 0.5 s, 50 % wet delay as a bank carries it.
bankgen::PluginSettingsRecord EchoSettings(u32 id) {
    AuDelayBlock block;
    block.fDelayTime = 0.5f;
    block.fWetDryMix = 50.0f;
    return bankgen::EffectSettings(id, block);
}

constexpr u32 kCurveGameParam = 0x51DE;
constexpr u8 kCurveParameter = 3;

AU::IAuPlugin* CreateDoubling(AU::IAuPluginMemAlloc* allocator) {
    return AuPluginNew<DoublingEffect>(allocator);
}
AU::IAuPlugin* CreateRepacking(AU::IAuPluginMemAlloc* allocator) {
    return AuPluginNew<RepackingEffect>(allocator);
}
constexpr AuChannelConfig kMono = AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO);
constexpr AuChannelConfig kStereo = AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO);
constexpr AuChannelConfig k51 = AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1);

// A planar buffer of its own storage, as the node's input.
struct InputBuffer {
    InputBuffer(AuChannelConfig config, u16 frames, f32 first = 1.0f)
        : samples(config.NumChannels() * frames) {
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = first + f32(i);
        buffer.pData = samples.data();
        buffer.channelConfig = config;
        buffer.uMaxFrames = frames;
        buffer.uValidFrames = frames;
        buffer.eState = AuResultDataReady;
    }
    std::vector<f32> samples;
    AuPipelineBuffer buffer;
};

// Records what reaches the node from its input side.
class RecordingInput final : public CAuPipelineNode {
public:
    void ReleaseBuffer() noexcept override { ++releases; }
    AURESULT TimeSkip(u32& frames) noexcept override {
        skipped += frames;
        return result;
    }
    int releases = 0;
    u32 skipped = 0;
    AURESULT result = AuResultDataReady;
};

class EffectNodeTest : public voicetest::LowerEnginePoolTest {
protected:
    EffectNodeTest() : LowerEnginePoolTest(4u << 20) {}
    void SetUp() override {
        LowerEnginePoolTest::SetUp();
        g_log = FakeLog{};
        g_fake = FakeBehaviour{};
        ASSERT_EQ(m_transitions.Init(0), AuResultSuccess);
        g_pTransitionMgr = &m_transitions;
        ASSERT_EQ(m_rtpcs.Init(), AuResultSuccess);
        g_pRTPCMgr = &m_rtpcs;
        m_tables.Init();
        bankgen::RtpcCurve curve;
        curve.gameParameter = kCurveGameParam;
        curve.target = kCurveParameter;
        curve.curveId = 1;
        curve.points = {{0, 0, 4}, {100, 100, 4}};
        m_settings = m_tables.Make(0x5E7, 0, nullptr, {curve});
        ASSERT_NE(m_settings, nullptr);
        // The manager keeps the curve's game parameter and its subscriber array once made: they
        // exist before any test counts the pool's bytes.
        CAuPluginParamHolder* warmUp = CAuPluginParamHolder::Create(*m_settings, AuRTPCKey{});
        ASSERT_NE(warmUp, nullptr);
        warmUp->Destroy();
    }
    void TearDown() override {
        m_tables.Term();
        g_pRTPCMgr = nullptr;
        m_rtpcs.Term();
        g_pTransitionMgr = nullptr;
        m_transitions.Term();
        LowerEnginePoolTest::TearDown();
    }

    template <class Node, class Plugin>
    std::unique_ptr<Node> MakeNode(AuChannelConfig input, AuPluginFormat* out = nullptr,
                                   CAuPlaybackInstance* instance = nullptr) {
        auto node = std::make_unique<Node>();
        AuPluginFormat format;
        format.uSampleRate = 48000;
        format.channelConfig = input;
        AuEffectRecord record;
        record.pSettings = m_settings;
        auto* plugin = AuPluginNew<Plugin>(&CAuLowerEngine::PluginAllocator());
        EXPECT_EQ(node->Init(plugin, record, 1, instance, 1024, format), AuResultSuccess);
        node->Connect(&m_input);
        if (out) *out = format;
        return node;
    }

    void MakeInstanceForBypassAll() {
        AuPlaybackInstanceParams params;
        m_instance = std::make_unique<CAuPlaybackInstance>(params);
    }

    CAuTransitionMgr m_transitions;
    CAuRTPCMgr m_rtpcs;
    SettingsTables m_tables;
    CAuPluginSettings* m_settings = nullptr;
    RecordingInput m_input;
    std::unique_ptr<CAuPlaybackInstance> m_instance;
};

TEST_F(EffectNodeTest, InitClonesSubscribesAndResetsAndTermGivesEverythingBack) {
    const u32 used = Used();
    {
        auto node = MakeNode<CAuInPlaceEffectNode, DoublingEffect>(kStereo);
        EXPECT_EQ(node->SettingsID(), 0x5E7u);
        EXPECT_EQ(m_settings->m_lRef, 2u);
        EXPECT_EQ(node->Settings(), m_settings);
        // The settings' curve drives the node's own clone through its holder.
        ASSERT_NE(node->Holder(), nullptr);
        EXPECT_EQ(m_rtpcs.SubscriptionCount(), 1u);
        EXPECT_NE(m_rtpcs.FindSubscription(node->Holder(), kCurveParameter), nullptr);
        EXPECT_EQ(node->Holder()->Params(), node->Params());
        EXPECT_NE(node->Params(), nullptr);
        EXPECT_NE(node->Params(), m_settings->ParamObject());
        EXPECT_EQ(g_log.resets, 1); // after a successful Init
        EXPECT_EQ(node->OutputConfig(), kStereo);
    }
    EXPECT_EQ(m_settings->m_lRef, 1u);
    EXPECT_EQ(m_rtpcs.SubscriptionCount(), 0u);
    EXPECT_EQ(g_log.terms, 1);
    EXPECT_EQ(Used(), used);
    // A failing Init is returned; Term still frees the plug-in.
    g_fake.initResult = AuResultNoMemory;
    {
        CAuInPlaceEffectNode node;
        AuPluginFormat format{48000, kStereo};
        AuEffectRecord record{m_settings, false};
        auto* plugin = AuPluginNew<DoublingEffect>(&CAuLowerEngine::PluginAllocator());
        EXPECT_EQ(node.Init(plugin, record, 0, nullptr, 1024, format), AuResultNoMemory);
    }
    EXPECT_EQ(g_log.terms, 2);
    EXPECT_EQ(m_settings->m_lRef, 1u);
    EXPECT_EQ(m_rtpcs.SubscriptionCount(), 0u);
    EXPECT_EQ(Used(), used);
}

TEST_F(EffectNodeTest, InPlaceStateWordRoundTripsThroughThePlugin) {
    // The plug-in sees the pipeline's state and its answer is the pipeline's state.
    struct Case {
        AURESULT in;
        u32 tail;
        AURESULT out;
        bool lastSeen;
    };
    const Case cases[] = {
        {AuResultDataReady, 0, AuResultDataReady, false},
        {AuResultNoMoreData, 0, AuResultNoMoreData, true},
        {AuResultNoMoreData, 4096, AuResultDataReady, true},
    };
    for (const Case& c : cases) {
        g_fake.tailFrames = c.tail;
        g_log = FakeLog{};
        auto node = MakeNode<CAuInPlaceEffectNode, DoublingEffect>(kMono);
        InputBuffer input(kMono, 1024);
        input.buffer.eState = c.in;
        node->ProcessBuffer(input.buffer);
        ASSERT_EQ(g_log.statesSeen.size(), 1u);
        EXPECT_EQ(g_log.statesSeen[0], c.in);
        EXPECT_EQ(input.buffer.eState, c.out) << c.in << " " << c.tail;
        EXPECT_EQ(node->LastBufferSeen(), c.lastSeen);
        EXPECT_EQ(node->NeedsInput(), !c.lastSeen);
        EXPECT_EQ(input.buffer.GetChannel(0)[10], 22.0f); // processed where it lies
    }
}

TEST_F(EffectNodeTest, TailIsFlushedUntilThePluginReportsNoMoreData) {
    g_fake.tailFrames = 2500; // two and a half buffers
    auto node = MakeNode<CAuInPlaceEffectNode, DoublingEffect>(kStereo);
    InputBuffer last(kStereo, 1024);
    last.buffer.uValidFrames = 1000;
    last.buffer.eState = AuResultNoMoreData;
    node->ProcessBuffer(last.buffer);
    // The 24 missing frames of the last buffer are the tail's first.
    EXPECT_EQ(last.buffer.eState, AuResultDataReady);
    EXPECT_EQ(last.buffer.uValidFrames, 1024);
    node->ReleaseBuffer();
    EXPECT_EQ(m_input.releases, 1); // the last input buffer goes back
    std::vector<AURESULT> states;
    for (int call = 0; call < 10 && states.size() < 10; ++call) {
        ASSERT_FALSE(node->NeedsInput());
        AuPipelineBuffer buffer;
        node->Flush(buffer, 1024);
        ASSERT_NE(buffer.pData, nullptr);
        EXPECT_EQ(buffer.uValidFrames, 1024);
        EXPECT_EQ(buffer.NumChannels(), 2u);
        states.push_back(buffer.eState);
        node->ReleaseBuffer();
        if (buffer.eState == AuResultNoMoreData) break;
    }
    // 2476 frames remain after the last buffer: three more buffers, the third the last.
    EXPECT_EQ(states, (std::vector<AURESULT>{AuResultDataReady, AuResultDataReady, AuResultNoMoreData}));
    // Each flush handed the plug-in an empty buffer in state 17.
    for (size_t i = 1; i < g_log.statesSeen.size(); ++i) {
        EXPECT_EQ(g_log.statesSeen[i], AuResultNoMoreData);
        EXPECT_EQ(g_log.validSeen[i], 0);
    }
    // The tail's buffers are the node's own: nothing more goes upstream.
    EXPECT_EQ(m_input.releases, 1);
}

TEST_F(EffectNodeTest, BypassResetsThePluginOnceWhenItBegins) {
    MakeInstanceForBypassAll();
    auto node = MakeNode<CAuInPlaceEffectNode, DoublingEffect>(kMono, nullptr, m_instance.get());
    const int afterInit = g_log.resets;
    // p: processed; s: slot bypass; a: bypass-all on the instance.
    struct Step {
        bool slot, all;
        int resets, executes;
    };
    const Step steps[] = {
        {false, false, 0, 1}, {true, false, 1, 1},  {true, false, 1, 1}, {true, true, 1, 1},
        {false, true, 1, 1},  {false, false, 1, 2}, {false, true, 2, 2}, {false, true, 2, 2},
    };
    int step = 0;
    for (const Step& s : steps) {
        node->SetBypass(s.slot);
        m_instance->ForwardVoiceFlags(s.all ? 0x10 : 0, 0x10);
        InputBuffer input(kMono, 64);
        node->ProcessBuffer(input.buffer);
        EXPECT_EQ(g_log.resets - afterInit, s.resets) << "step " << step;
        EXPECT_EQ(g_log.executes, s.executes) << "step " << step;
        // Bypassed buffers pass unchanged.
        EXPECT_EQ(input.buffer.GetChannel(0)[3], s.slot || s.all ? 4.0f : 8.0f) << "step " << step;
        ++step;
    }
}

TEST_F(EffectNodeTest, BypassedOutOfPlaceEffectWithAnotherLayoutPassesAudioAtUnity) {
    g_fake.outConfig = k51;
    AuPluginFormat format;
    auto node = MakeNode<CAuOutOfPlaceEffectNode, RepackingEffect>(kStereo, &format);
    EXPECT_EQ(format.channelConfig, k51);
    EXPECT_EQ(node->OutputConfig(), k51);
    node->SetBypass(true);
    // Two half buffers fill one output.
    InputBuffer first(kStereo, 512, 1.0f);
    node->ProcessBuffer(first.buffer);
    EXPECT_EQ(first.buffer.eState, AuResultDataNeeded);
    EXPECT_EQ(first.buffer.pData, nullptr);
    EXPECT_EQ(m_input.releases, 1);
    InputBuffer second(kStereo, 512, 5000.0f);
    node->ProcessBuffer(second.buffer);
    ASSERT_EQ(second.buffer.eState, AuResultDataReady);
    const AuPipelineBuffer& out = second.buffer;
    EXPECT_EQ(out.channelConfig, k51);
    EXPECT_EQ(out.uValidFrames, 1024);
    EXPECT_EQ(g_log.executes, 0);
    EXPECT_EQ(g_log.resets, 2); // Init, then once as the bypass began
    // Left and right land on front left and right unchanged; nothing elsewhere.
    for (u32 i = 0; i < 1024; ++i) {
        const InputBuffer& from = i < 512 ? first : second;
        const u32 at = i % 512;
        ASSERT_EQ(out.GetChannel(0)[i], from.samples[at]) << i;
        ASSERT_EQ(out.GetChannel(1)[i], from.samples[512 + at]) << i;
        for (u32 c = 2; c < 6; ++c)
            ASSERT_EQ(out.GetChannel(c)[i], 0.0f) << c << " " << i;
    }
    node->ReleaseBuffer();
    EXPECT_EQ(m_input.releases, 2);
}

TEST_F(EffectNodeTest, MarkersOutsideTheConsumedRangeStayForTheNextCall) {
    g_fake.takePerCall = 256;
    auto node = MakeNode<CAuOutOfPlaceEffectNode, RepackingEffect>(kMono);
    InputBuffer input(kMono, 1024);
    AuBufferMarker markers[3] = {};
    markers[0].uOffsetInBuffer = 10;
    markers[1].uOffsetInBuffer = 300;
    markers[2].uOffsetInBuffer = 700;
    input.buffer.pMarkers = markers;
    input.buffer.uNumMarkers = 3;
    AuPipelineBuffer pass = input.buffer;
    node->ProcessBuffer(pass);
    // Frames 0 to 255 went out with the marker at 10; the input and its markers stay held.
    EXPECT_EQ(pass.eState, AuResultDataNeeded);
    EXPECT_EQ(node->Output().uNumMarkers, 1);
    EXPECT_EQ(node->HeldInput().uValidFrames, 768);
    EXPECT_EQ(node->HeldInput().uNumMarkers, 3); // its own copy
    EXPECT_EQ(m_input.releases, 0);
    ASSERT_FALSE(node->NeedsInput());
    // Calls that pull nothing take the held input on.
    std::vector<AURESULT> states;
    std::vector<u16> outputMarkers;
    for (int call = 0; call < 3; ++call) {
        node->Flush(pass, 1024);
        states.push_back(pass.eState);
        outputMarkers.push_back(node->Output().uNumMarkers);
    }
    EXPECT_EQ(states, (std::vector<AURESULT>{AuResultDataNeeded, AuResultDataNeeded, AuResultDataReady}));
    EXPECT_EQ(outputMarkers, (std::vector<u16>{2, 3, 3}));
    ASSERT_EQ(pass.uNumMarkers, 3);
    std::vector<u32> offsets;
    for (u32 i = 0; i < pass.uNumMarkers; ++i)
        offsets.push_back(pass.pMarkers[i].uOffsetInBuffer);
    EXPECT_EQ(offsets, (std::vector<u32>{10, 300, 700}));
    // The input went back once it was used up.
    EXPECT_EQ(m_input.releases, 1);
    EXPECT_EQ(node->HeldInput().uNumMarkers, 0);
    EXPECT_EQ(node->TotalFrames(), 1024u);
    EXPECT_TRUE(node->NeedsInput());
    node->ReleaseBuffer();
    EXPECT_EQ(node->Output().uNumMarkers, 0);
}

TEST_F(EffectNodeTest, PositionsAndSpeedsAverageWithWeightOneEighthWhenTheInstanceAsksForThem) {
    CAuPlayingMgr playing;
    ASSERT_EQ(playing.Init(), AuResultSuccess);
    const AuCallbackFunc ignore = [](AuCallbackType, AuCallbackInfo*) {};
    ASSERT_EQ(playing.AddPlayingID(1, 1, 0, ignore, nullptr, AU_EnableGetSourcePlayPosition, nullptr),
              AuResultSuccess);
    g_pPlayingMgr = &playing;
    {
        AuPlaybackInstanceParams params;
        params.key.playingID = 1;
        CAuPlaybackInstance instance(params);
        ASSERT_EQ(instance.Init(nullptr, nullptr), AuResultSuccess);
        auto node = MakeNode<CAuOutOfPlaceEffectNode, RepackingEffect>(kMono, nullptr, &instance);
        // Two inputs of 512 frames fill each output of 1024.
        std::vector<f32> inputs, outputs;
        std::vector<u32> positions;
        u32 position = 1000;
        for (int output = 0; output < 2; ++output) {
            AuPipelineBuffer pass;
            for (int half = 0; half < 2; ++half) {
                InputBuffer input(kMono, 512);
                input.buffer.uPosition = position;
                position += 512;
                pass = input.buffer;
                node->ProcessBuffer(pass);
            }
            ASSERT_EQ(pass.eState, AuResultDataReady);
            inputs.push_back(node->InputAverage());
            outputs.push_back(node->OutputAverage());
            positions.push_back(pass.uPosition);
            EXPECT_FLOAT_EQ(pass.fSpeed, 1.0f);
            node->ReleaseBuffer();
        }
        const f32 first = (1024.0f + 7.0f) * 0.125f;
        EXPECT_EQ(inputs, (std::vector<f32>{first, (1024.0f + 7.0f * first) * 0.125f}));
        EXPECT_EQ(outputs, inputs);
        // The position of the input that completed the output.
        EXPECT_EQ(positions, (std::vector<u32>{1512, 2536}));
        node.reset();
        instance.Term(0);
    }
    g_pPlayingMgr = nullptr;
    playing.Term();
}

TEST_F(EffectNodeTest, CountMarkersInRangeTable) {
    AuBufferMarker markers[4] = {};
    const u32 at[4] = {0, 99, 100, 255};
    for (u32 i = 0; i < 4; ++i)
        markers[i].uOffsetInBuffer = at[i];
    AuPipelineBuffer source;
    source.pMarkers = markers;
    source.uNumMarkers = 4;
    struct Case {
        u32 start, length, count;
    };
    const Case cases[] = {{0, 100, 2}, {100, 156, 2}, {0, 256, 4}, {256, 100, 0}, {50, 0, 0}, {99, 1, 1}};
    for (const Case& c : cases) {
        AuPipelineBuffer destination;
        CountMarkersInRange(source, destination, c.start, c.length);
        CountMarkersInRange(source, destination, c.start, c.length); // appends again
        EXPECT_EQ(destination.uNumMarkers, 2 * c.count) << c.start << "+" << c.length;
        destination.FreeMarkers();
    }
}

TEST_F(EffectNodeTest, OutOfPlaceTimeSkipTotals) {
    struct Case {
        u32 frames;
        AURESULT pluginAnswer;
        u32 pluginCalls, total;
        AURESULT result;
    };
    const Case cases[] = {
        {2500, AuResultDataReady, 2, 2048, AuResultDataReady},
        {1000, AuResultDataReady, 0, 0, AuResultDataReady},
        {4096, AuResultDataNeeded, 1, 1024, AuResultDataReady},
        {4096, AuResultNoMoreData, 1, 1024, AuResultNoMoreData},
    };
    for (const Case& c : cases) {
        g_log = FakeLog{};
        g_fake.skipResult = c.pluginAnswer;
        m_input.skipped = 0;
        auto node = MakeNode<CAuOutOfPlaceEffectNode, RepackingEffect>(kMono);
        u32 frames = c.frames;
        EXPECT_EQ(node->TimeSkip(frames), c.result) << c.frames;
        EXPECT_EQ(m_input.skipped, c.frames);
        EXPECT_EQ(g_log.timeSkips, int(c.pluginCalls)) << c.frames;
        EXPECT_EQ(node->TotalFrames(), c.total) << c.frames;
        EXPECT_EQ(node->LastBufferSeen(), c.result == AuResultNoMoreData);
    }
}

TEST_F(EffectNodeTest, VirtualModesAndSeekRestartThePlugin) {
    struct Case {
        u32 mode;
        int resets;
    };
    for (const Case& c : {Case{0, 1}, Case{1, 1}, Case{2, 0}}) {
        g_log = FakeLog{};
        g_fake.tailFrames = 5000;
        auto node = MakeNode<CAuInPlaceEffectNode, DoublingEffect>(kMono);
        InputBuffer last(kMono, 64);
        last.buffer.eState = AuResultNoMoreData;
        node->ProcessBuffer(last.buffer);
        ASSERT_TRUE(node->LastBufferSeen());
        const int before = g_log.resets;
        node->VirtualOn(c.mode);
        EXPECT_EQ(g_log.resets - before, c.resets) << c.mode;
        // Only mode 0 (from the beginning) forgets that the input ended.
        EXPECT_EQ(node->LastBufferSeen(), c.mode != 0) << c.mode;
        EXPECT_EQ(node->VirtualOff(c.mode, false), AuResultSuccess);
        EXPECT_EQ(node->SeekIfPending(), AuResultFail); // the recording input has no seek
        EXPECT_FALSE(node->LastBufferSeen());
    }
}

// ---- Effects in a voice's chain ----

constexpr u32 kDoublingId = 900;
constexpr u32 kRepackingId = 901;

// A click at half scale once the voice's start has risen, then silence: 0.1 s at 48 kHz.
constexpr size_t kClickAt = voicetest::kEdgeRise;
std::vector<i16> Click() {
    std::vector<i16> click(4800, 0);
    click[kClickAt] = 16384;
    return click;
}

// Starts a voice of 48 kHz mono PCM `samples` played for `node`, kept in the test's `media`,
// `instance` and `voice`; what attaching the source gave.
AURESULT StartMonoVoice(IAuInstanceNode& node, const std::vector<i16>& samples, bankgen::Bytes& media,
                        std::unique_ptr<CAuPlaybackInstance>& instance,
                        std::unique_ptr<CAuVoiceContext>& voice) {
    media = bankgen::MakePcmWave(samples, 1, 48000);
    AuPlaybackInstanceParams params;
    params.key.playingID = 7;
    params.pNode = &node;
    instance = std::make_unique<CAuPlaybackInstance>(params);
    instance->SetSourceMedia(voicetest::InMemoryMedia(media.data(), media.size()));
    voice = std::make_unique<CAuVoiceContext>();
    const AURESULT attached = voice->AttachSource(AuCreateSource(instance.get()), true, true);
    voice->Start();
    return attached;
}

class VoiceEffectsTest : public EffectNodeTest {
protected:
    void SetUp() override {
        EffectNodeTest::SetUp();
        CAuResampler::InitKernels();
        CAuLowerEngine::SetPlatformInitSettings(nullptr);
        ASSERT_EQ(CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, kDoublingId, CreateDoubling,
                                                 voicetest::CreateNoParams),
                  AuResultSuccess);
        ASSERT_EQ(CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, kRepackingId, CreateRepacking,
                                                 voicetest::CreateNoParams),
                  AuResultSuccess);
        ASSERT_EQ(CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, AU_FX_DELAY_ID, CreateFx106,
                                                 CreateFx106Params),
                  AuResultSuccess);
    }
    void TearDown() override {
        m_voice.reset();
        m_instance.reset();
        CAuLowerEngine::FreeRegistries();
        EffectNodeTest::TearDown();
    }

    static u32 Key(u32 id) { return CAuLowerEngine::PluginKey(AuPluginTypeEffect, 0, id); }

    // A started voice of 48 kHz mono PCM media.
    CAuVoiceContext& MakeVoice(const std::vector<i16>& samples) {
        EXPECT_EQ(StartMonoVoice(m_node, samples, m_media, m_instance, m_voice), AuResultSuccess);
        return *m_voice;
    }
    // One frame of the voice; its first channel is appended to `rendered`.
    AURESULT Frame(std::vector<f32>* rendered = nullptr, u32* channels = nullptr) {
        AuVoiceFrame frame;
        frame.uFrames = 1024;
        m_voice->ApplyFrameBudget(frame);
        if (!m_voice->VoiceUpdate(frame, AuVoiceLevels{})) return AuResultFail;
        AuPipelineBuffer out;
        out.PrepareForVoicePass(1024);
        const AURESULT state = m_voice->Pull(out, 1024);
        if (rendered && out.pData) rendered->insert(rendered->end(), out.pData, out.pData + out.uValidFrames);
        if (channels) *channels = out.NumChannels();
        m_voice->ReleaseBuffer();
        return state;
    }
    // Frames until the voice has delivered its last buffer, 100 at the most; the last state.
    AURESULT RenderToEnd(std::vector<f32>& rendered) {
        AURESULT state = AuResultDataReady;
        for (int frames = 0; state == AuResultDataReady && frames < 100; ++frames)
            state = Frame(&rendered);
        return state;
    }

    voicetest::PlayedNode m_node;
    bankgen::Bytes m_media;
    std::unique_ptr<CAuVoiceContext> m_voice;
};

TEST_F(VoiceEffectsTest, EffectNodesStandBetweenTheModulatorNodeAndFilterStageOneInSlotOrder) {
    CAuPluginSettings* doubling = m_tables.Make(1, Key(kDoublingId));
    CAuPluginSettings* refused = m_tables.Make(2, Key(kDoublingId));
    CAuPluginSettings* unknown = m_tables.Make(3, Key(4242));
    CAuPluginSettings* repacking = m_tables.Make(4, Key(kRepackingId));
    m_node.records[0] = {repacking, false};
    m_node.records[1] = {unknown, false};
    m_node.records[3] = {doubling, true};
    CAuVoiceContext& voice = MakeVoice(std::vector<i16>(3000, 1000));
    ASSERT_EQ(Frame(), AuResultDataReady);
    ASSERT_TRUE(voice.ChainBuilt());
    ASSERT_NE(voice.Effect(0), nullptr);
    EXPECT_EQ(voice.Effect(1), nullptr); // no plug-in under that key
    EXPECT_EQ(voice.Effect(2), nullptr);
    ASSERT_NE(voice.Effect(3), nullptr);
    EXPECT_NE(dynamic_cast<const CAuOutOfPlaceEffectNode*>(voice.Effect(0)), nullptr);
    EXPECT_NE(dynamic_cast<const CAuInPlaceEffectNode*>(voice.Effect(3)), nullptr);
    EXPECT_EQ(voice.FinalNode().Input(), &voice.FilterStage1());
    EXPECT_EQ(voice.FilterStage1().Input(), voice.Effect(3));
    EXPECT_EQ(voice.Effect(3)->Input(), voice.Effect(0));
    EXPECT_EQ(voice.Effect(0)->Input(), &voice.ModulatorNode());
    EXPECT_TRUE(voice.Effect(3)->IsBypassed()); // from its record
    // The effect queries see the slots that hold a plug-in.
    struct SettingsCase {
        u32 id;
        bool held;
    };
    for (const SettingsCase c : {SettingsCase{1, true}, {4, true}, {2, false}, {3, false}, {0, false}})
        EXPECT_EQ(voice.HasEffectOfSettings(c.id), c.held) << c.id;
    // Each record's reference went back; the nodes hold one each.
    EXPECT_EQ(doubling->m_lRef, 2u);
    EXPECT_EQ(repacking->m_lRef, 2u);
    EXPECT_EQ(unknown->m_lRef, 1u);
    // The instance's bypass bits reach the slots that hold nodes.
    m_instance->ForwardVoiceFlags(0x1, 0x9);
    EXPECT_TRUE(voice.Effect(0)->IsBypassed());
    EXPECT_FALSE(voice.Effect(3)->IsBypassed());
    // A plug-in that refuses leaves its slot empty.
    g_fake.refuse = true;
    m_node.records[2] = {refused, false};
    voice.UpdateEffect(2);
    EXPECT_EQ(voice.Effect(2), nullptr);
    EXPECT_EQ(refused->m_lRef, 1u);
    EXPECT_EQ(voice.FilterStage1().Input(), voice.Effect(3));
    m_voice.reset();
    EXPECT_EQ(doubling->m_lRef, 1u);
    EXPECT_EQ(repacking->m_lRef, 1u);
}

TEST_F(VoiceEffectsTest, SettingsWithoutParametersLeaveTheirSlotDryAndAreReportedOnce) {
    // Read while their plug-in was not registered: it is now, yet there is nothing to run it on.
    CAuPluginSettings* bare = m_tables.Make(0x5E75, Key(kDoublingId));
    bare->SetParamObject(Key(kDoublingId), nullptr);
    m_node.records[1] = {bare, false};
    AuLogCapture log;
    CAuVoiceContext& voice = MakeVoice(std::vector<i16>(3000, 1000));
    std::vector<f32> rendered;
    ASSERT_EQ(Frame(&rendered), AuResultDataReady);
    EXPECT_EQ(voice.Effect(1), nullptr);
    EXPECT_FLOAT_EQ(rendered[100], 1000.0f / 32768.0f); // dry
    voice.UpdateEffect(1);
    EXPECT_EQ(voice.Effect(1), nullptr);
    EXPECT_EQ(g_log.terms, 2); // the plug-in made for each try is freed
    EXPECT_EQ(bare->m_lRef, 1u);
    const auto lines = log.Lines();
    const auto reports = std::count_if(lines.begin(), lines.end(), [](const auto& line) {
        return line.second.find("settings 24181 have no parameters") != std::string::npos;
    });
    EXPECT_EQ(reports, 1);
}

TEST_F(VoiceEffectsTest, AnEffectThatChangesTheLayoutCarriesTheChangeToTheFilterStages) {
    CAuPluginSettings* repacking = m_tables.Make(4, Key(kRepackingId));
    CAuPluginSettings* doubling = m_tables.Make(1, Key(kDoublingId));
    g_fake.outConfig = kStereo;
    m_node.records[0] = {repacking, false};
    m_node.records[2] = {doubling, false};
    CAuVoiceContext& voice = MakeVoice(std::vector<i16>(20000, 1000));
    u32 channels = 0;
    std::vector<f32> rendered;
    ASSERT_EQ(Frame(&rendered, &channels), AuResultDataReady);
    EXPECT_EQ(voice.Format(), kStereo);
    EXPECT_EQ(channels, 2u);
    EXPECT_FLOAT_EQ(rendered[100], 2.0f * 1000.0f / 32768.0f);
    // The first effect now makes 5.1: the later one is rebuilt for it, then the stages.
    g_fake.outConfig = k51;
    voice.UpdateEffect(0);
    ASSERT_NE(voice.Effect(2), nullptr);
    EXPECT_EQ(voice.Effect(2)->OutputConfig(), k51);
    EXPECT_EQ(voice.Format(), k51);
    EXPECT_EQ(voice.Effect(2)->Input(), voice.Effect(0));
    EXPECT_EQ(voice.FilterStage1().Input(), voice.Effect(2));
    ASSERT_EQ(Frame(nullptr, &channels), AuResultDataReady);
    EXPECT_EQ(channels, 6u);
    // Without the first effect the media's own layout comes back.
    m_node.records[0] = {};
    voice.UpdateEffect(0);
    EXPECT_EQ(voice.Effect(0), nullptr);
    EXPECT_EQ(voice.Effect(2)->Input(), &voice.ModulatorNode());
    EXPECT_EQ(voice.Format(), kMono);
    ASSERT_EQ(Frame(nullptr, &channels), AuResultDataReady);
    EXPECT_EQ(channels, 1u);
    voice.UpdateEffect(AU_VOICE_EFFECT_SLOTS); // outside the slots: nothing
    EXPECT_EQ(repacking->m_lRef, 1u);
    EXPECT_EQ(doubling->m_lRef, 2u);
    m_voice.reset();
    EXPECT_EQ(doubling->m_lRef, 1u);
}

TEST_F(VoiceEffectsTest, RoomReverbRingsOnAfterTheSourceEndsForItsTailAndNoLonger) {
    ASSERT_EQ(CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, AU_FX_ROOM_REVERB_ID, CreateFx118,
                                             CreateFx118Params),
              AuResultSuccess);
    AU::IAuPluginMemAlloc* allocator = &CAuLowerEngine::PluginAllocator();
    AU::IAuPluginParam* shared = CreateFx118Params(allocator);
    ASSERT_NE(shared, nullptr);
    ASSERT_EQ(shared->Init(allocator, nullptr, 0), AuResultSuccess);
    const f32 decay = 0.5f;
    const f32 preDelay = 20.0f;
    ASSERT_EQ(shared->SetParam(CAuRoomReverbEffectParams::DecayTime, &decay, 4), AuResultSuccess);
    ASSERT_EQ(shared->SetParam(CAuRoomReverbEffectParams::PreDelay, &preDelay, 4), AuResultSuccess);
    {
        CAuPluginSettings* settings = m_tables.Make(11, Key(AU_FX_ROOM_REVERB_ID), shared);
        m_node.records[0] = {settings, false};
        MakeVoice(Click());
        std::vector<f32> rendered;
        EXPECT_EQ(RenderToEnd(rendered), AuResultNoMoreData);
        // The tail is (pre-delay + decay) x rate = 24960 frames after the media's 4800, in whole
        // buffers.
        EXPECT_EQ(rendered.size(), size_t((4800 + 24960 + 1023) / 1024 * 1024));
        f64 after = 0.0;
        for (size_t i = 4800; i < rendered.size(); ++i) {
            ASSERT_TRUE(std::isfinite(rendered[i])) << i;
            after += f64(rendered[i]) * rendered[i];
        }
        EXPECT_GT(after, 1e-6); // heard after the source ended
        m_voice.reset();
        EXPECT_EQ(settings->m_lRef, 1u);
    }
}

TEST_F(VoiceEffectsTest, EffectsFollowTheInstanceOfTheSourceThatPlaysOn) {
    CAuPluginSettings* doubling = m_tables.Make(1, Key(kDoublingId));
    m_node.records[0] = {doubling, false};
    CAuVoiceContext& voice = MakeVoice(std::vector<i16>(1500, 1000));
    AuPlaybackInstanceParams params;
    params.key.playingID = 8;
    params.pNode = &m_node;
    auto next = std::make_unique<CAuPlaybackInstance>(params);
    next->SetSourceMedia(m_instance->GetSourceMedia());
    ASSERT_EQ(voice.AttachSource(AuCreateSource(next.get()), false, false), AuResultSuccess);
    next->ForwardVoiceFlags(0x10, 0x10); // the next instance bypasses every effect
    std::vector<f32> rendered;
    ASSERT_EQ(Frame(&rendered), AuResultDataReady);
    ASSERT_EQ(Frame(&rendered), AuResultDataReady); // the first source ends inside this one
    ASSERT_EQ(voice.Instance(), next.get());
    m_instance.reset(); // nothing of the voice may read the finished instance
    ASSERT_EQ(Frame(&rendered), AuResultNoMoreData);
    ASSERT_EQ(rendered.size(), 3000u);
    const f32 sample = 1000.0f / 32768.0f;
    EXPECT_FLOAT_EQ(rendered[100], 2.0f * sample);
    EXPECT_FLOAT_EQ(rendered[2048 + 100], sample);
    m_voice.reset();
    next.reset();
}

TEST_F(VoiceEffectsTest, DelayInSlotZeroRepeatsAClickHalfASecondLaterAndRingsOut) {
    {
        CAuPluginSettings* settings = m_tables.Load(EchoSettings(10));
        ASSERT_NE(settings, nullptr);
        ASSERT_NE(settings->ParamObject(), nullptr);
        m_node.records[0] = {settings, false};
        MakeVoice(Click());
        std::vector<f32> rendered;
        EXPECT_EQ(RenderToEnd(rendered), AuResultNoMoreData);
        // The media's 4800 frames, then the 24000 of the line, in whole buffers.
        EXPECT_EQ(rendered.size(), size_t((4800 + 24000 + 1023) / 1024 * 1024));
        // Half dry at once, half wet 24000 frames on, at the engine's gain of 0 dB (within 0.1 % of
        // 1).
        const f32 gain = static_cast<CAuDelayEffectParams*>(settings->ParamObject())->m_fOutputGain;
        EXPECT_NEAR(gain, 1.0f, 1e-3f);
        EXPECT_NEAR(rendered[kClickAt], 0.5f * 0.5f * gain, 1e-6f);
        EXPECT_NEAR(rendered[kClickAt + 24000], 0.5f * 0.5f * gain, 1e-6f);
        f32 elsewhere = 0.0f;
        for (size_t i = 0; i < rendered.size(); ++i)
            if (i != kClickAt && i != kClickAt + 24000)
                elsewhere = std::max(elsewhere, std::abs(rendered[i]));
        EXPECT_LT(elsewhere, 1e-6f);
        m_voice.reset();
        EXPECT_EQ(settings->m_lRef, 1u);
    }
}

// ---- Through the lower engine's frame into the capture ----

// The voice's buffer goes straight into the main device where the bus graph would mix it.
class EffectCaptureTest : public voicetest::VoicesTest {
protected:
    void SetUp() override {
        VoicesTest::SetUp();
        InitLowerEngine();
        CAuResampler::InitKernels();
        ASSERT_EQ(CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, AU_FX_DELAY_ID, CreateFx106,
                                                 CreateFx106Params),
                  AuResultSuccess);
        m_tables.Init();
    }
    void TearDown() override {
        m_voice.reset();
        m_instance.reset();
        m_tables.Term();
        VoicesTest::TearDown();
    }

    SettingsTables m_tables;
    voicetest::PlayedNode m_node;
    bankgen::Bytes m_media;
    std::unique_ptr<CAuPlaybackInstance> m_instance;
    std::unique_ptr<CAuVoiceContext> m_voice;
};

TEST_F(EffectCaptureTest, ADelayInSlotZeroMakesAClickHeardAgainHalfASecondLater) {
    CAuPluginSettings* settings = m_tables.Load(EchoSettings(10));
    ASSERT_NE(settings, nullptr);
    ASSERT_NE(settings->ParamObject(), nullptr);
    m_node.records[0] = {settings, false};
    ASSERT_EQ(StartMonoVoice(m_node, Click(), m_media, m_instance, m_voice), AuResultSuccess);

    CAuLowerEngine::StartOutputCapture(L"echo.wav");
    EXPECT_TRUE(voicetest::CaptureVoice(*m_voice, 40, false)); // the tail ended within the frames rendered
    CAuLowerEngine::StopOutputCapture();
    m_voice.reset();
    EXPECT_EQ(settings->m_lRef, 1u);

    const voicetest::CaptureFile file = voicetest::CaptureFile::Read(m_folder / "echo.wav");
    ASSERT_TRUE(file.valid);
    ASSERT_EQ(file.channels, 2);
    const auto heard = [&](size_t frame) { return file.samples[2 * frame]; };
    size_t first = 0;
    while (first < file.samples.size() / 2 && heard(first) == 0)
        ++first;
    ASSERT_LT(first + 24000, file.samples.size() / 2);
    // Half the click dry, then half of it again 0.5 s later; silence everywhere else.
    EXPECT_GT(heard(first), 4000);
    EXPECT_EQ(heard(first + 24000), heard(first));
    EXPECT_EQ(file.samples[2 * first + 1], heard(first)); // both sides of the mono voice
    for (size_t f = first + 1; f < file.samples.size() / 2; ++f) {
        if (f != first + 24000) {
            ASSERT_EQ(heard(f), 0) << f;
        }
    }
}

} // namespace
