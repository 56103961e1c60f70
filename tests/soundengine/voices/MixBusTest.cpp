#include "MixerPluginSupport.h"
#include "MixingTestSupport.h"
#include "VoiceTestSupport.h"
#include "banks/AuBankMgr.h"
#include "core/AuCpuInfo.h"
#include "core/AuPlayingMgr.h"
#include "voices/AuBusGraph.h"
#include "voices/AuSpeakerPan.h"
#include "voices/AuVoiceOutput.h"

#include "parameters/AuFastMath.h"

#include <AU/IAuStreamMgr.h>

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <new>

namespace {

using voicetest::FakeBusNode;
using voicetest::TestBuffer;

constexpr u16 kFrames = 1024;
const AuChannelConfig kStereo = AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO);
const AuChannelConfig kMono = AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO);

// An effect that counts what the bus asks of it.
struct FxCounts {
    int executes = 0;
    int resets = 0;
    int terms = 0;
    const u8* media = nullptr; // what its media index 0 gave at Init
};
FxCounts g_fx;

class CountingParams final : public AU::IAuPluginParam {
public:
    AURESULT SetParam(u16, const void*, u32) noexcept override { return AuResultSuccess; }
    IAuPluginParam* Clone(AU::IAuPluginMemAlloc* allocator) noexcept override {
        return new (allocator->Malloc(sizeof(CountingParams))) CountingParams();
    }
    AURESULT Init(AU::IAuPluginMemAlloc*, const void*, u32) noexcept override { return AuResultSuccess; }
    AURESULT Term(AU::IAuPluginMemAlloc* allocator) noexcept override {
        this->~CountingParams();
        allocator->Free(this);
        return AuResultSuccess;
    }
    AURESULT SetParamsBlock(const void*, u32) noexcept override { return AuResultSuccess; }
};

class CountingEffect final : public AU::IAuPlugin {
public:
    AURESULT Term(AU::IAuPluginMemAlloc* allocator) noexcept override {
        ++g_fx.terms;
        this->~CountingEffect();
        allocator->Free(this);
        return AuResultSuccess;
    }
    AURESULT Reset() noexcept override {
        ++g_fx.resets;
        return AuResultSuccess;
    }
    AURESULT GetPluginInfo(AuPluginInfo& info) noexcept override {
        info.eType = AuPluginTypeEffect;
        return AuResultSuccess;
    }
    AURESULT Init(AU::IAuPluginMemAlloc*, AU::IAuEffectPluginContext* context, AU::IAuPluginParam*,
                  AuPluginFormat&) noexcept override {
        u32 size = 0;
        context->GetPluginMedia(0, g_fx.media, size);
        return AuResultSuccess;
    }
    void Execute(AuPipelineBuffer&) noexcept override { ++g_fx.executes; }
    AURESULT TimeSkip(u32) noexcept override { return AuResultSuccess; }
};

AU::IAuPlugin* CreateCountingEffect(AU::IAuPluginMemAlloc* allocator) {
    return new (allocator->Malloc(sizeof(CountingEffect))) CountingEffect();
}
AU::IAuPluginParam* CreateCountingParams(AU::IAuPluginMemAlloc* allocator) {
    return new (allocator->Malloc(sizeof(CountingParams))) CountingParams();
}

class MixBusTest : public voicetest::VoicesTest {
protected:
    void SetUp() override {
        VoicesTest::SetUp();
        InitLowerEngine();
        g_fx = {};
        m_settings.Init();
    }
    void TearDown() override {
        m_graph.Term();
        m_settings.Term();
        VoicesTest::TearDown();
    }

    // A bus of the graph on the main output.
    CAuOutputBus* Bus(FakeBusNode& node) { return m_graph.GetOrCreateBus(&node, AuAudioOutputType_Main, 0); }

    // A voice buffer of `config` holding `value`, mixed through an identity-like matrix.
    static void MixConstant(CAuMixBus& bus, f32 value, AuGainPair gains) {
        TestBuffer voice(bus.Config(), kFrames);
        for (u32 c = 0; c < bus.Config().NumChannels(); ++c)
            voice.Fill(c, value);
        f32 matrix[64] = {};
        CAuSpeakerPan::ComputeIdentityMatrix(AuChannelConfig::Anonymous(bus.Config().NumChannels()),
                                             AuChannelConfig::Anonymous(bus.Config().NumChannels()), matrix);
        bus.Connect();
        bus.MixBuffer(voice.buffer, matrix, matrix, gains);
    }

    // Nodes outlive the busses, which the fixture's TearDown destroys.
    FakeBusNode& Node(u32 id, FakeBusNode* parent = nullptr) { return m_nodes.emplace_back(id, parent); }

    CAuBusGraph m_graph;
    std::deque<FakeBusNode> m_nodes;
    voicetest::InsertSettings m_settings;
};

TEST_F(MixBusTest, AChildOfTheSameLayoutIsMixedPerChannelWithItsGainRamp) {
    FakeBusNode& parentNode = Node(1);
    FakeBusNode& childNode = Node(2, &parentNode);
    CAuOutputBus* parent = Bus(parentNode);
    CAuOutputBus* child = Bus(childNode);
    ASSERT_TRUE(parent && child);
    MixConstant(*child, 0.5f, {1.0f, 1.0f});
    child->SetVolume(-6.0f);
    AuPipelineBuffer out;
    child->GetResultingBuffer(out);
    EXPECT_FLOAT_EQ(out.fPrevGain, AuDbToLinear(0.0f));
    EXPECT_FLOAT_EQ(out.fGain, AuDbToLinear(-6.0f));
    parent->MixBus(out, *child);
    const f32 start = out.fPrevGain;
    const f32 step = (out.fGain - out.fPrevGain) / kFrames;
    for (u32 c = 0; c < 2; ++c)
        for (u32 i : {0u, 1u, 511u, 1023u})
            EXPECT_NEAR(parent->Buffer().GetChannel(c)[i], 0.5f * (start + step * f32(i)), 1e-5)
                << c << " " << i;
    // The gain settled: the next buffer is handed out flat.
    child->ClearBuffer();
    MixConstant(*child, 0.5f, {1.0f, 1.0f});
    child->GetResultingBuffer(out);
    EXPECT_EQ(out.fPrevGain, out.fGain);
}

TEST_F(MixBusTest, AChildOfAnotherLayoutGoesThroughItsMatrix) {
    FakeBusNode& parentNode = Node(1);
    FakeBusNode& childNode = Node(2, &parentNode);
    childNode.config = kMono;
    CAuOutputBus* parent = Bus(parentNode);
    CAuOutputBus* child = Bus(childNode);
    ASSERT_TRUE(parent && child);
    EXPECT_EQ(child->Config(), kMono);
    EXPECT_EQ(parent->Config(), kStereo);
    MixConstant(*child, 0.5f, {1.0f, 1.0f});
    AuPipelineBuffer out;
    child->GetResultingBuffer(out);
    parent->MixBus(out, *child);
    const f32 gain = AuDbToLinear(0.0f);
    for (u32 c = 0; c < 2; ++c)
        EXPECT_NEAR(parent->Buffer().GetChannel(c)[700], 0.5f * AU_MINUS_3DB * gain, 1e-5);
}

TEST_F(MixBusTest, TheMatrixIsComputedAgainOnlyWhenAPanValueChanges) {
    FakeBusNode& node = Node(1);
    node.positioning = true;
    node.props = {{AuBusProperty_Centre, 100.0f}, {AuBusProperty_PositioningEnabled, 1.0f}};
    CAuOutputBus* bus = Bus(node);
    ASSERT_TRUE(bus);
    const u32 built = bus->MatrixBuilds();
    AuPipelineBuffer out;
    struct Step {
        u32 property;
        f32 value;
        u32 builds;
    } steps[] = {
        {AuBusProperty_PanFR, 0.0f, 0},
        {AuBusProperty_PanLR, 30.0f, 1},
        {AuBusProperty_PanLR, 30.0f, 1},
        {AuBusProperty_PanFR, -20.0f, 2},
        {AuBusProperty_Centre, 50.0f, 3},
        {1, 99.0f, 3},
        {AuBusProperty_PositioningEnabled, 0.0f, 4},
    };
    for (const Step& step : steps) {
        bus->SetParam(step.property, step.value);
        bus->GetResultingBuffer(out);
        bus->ClearBuffer();
        EXPECT_EQ(bus->MatrixBuilds() - built, step.builds) << step.property << " " << step.value;
    }
}

TEST_F(MixBusTest, ABusThatReceivedNothingBecomesIdleAtTheNextClear) {
    FakeBusNode& node = Node(1);
    CAuOutputBus* bus = Bus(node);
    ASSERT_TRUE(bus);
    EXPECT_EQ(bus->Activity(), CAuMixBus::kIdle);
    MixConstant(*bus, 0.25f, {1.0f, 1.0f});
    EXPECT_EQ(bus->Activity(), CAuMixBus::kActive);
    EXPECT_EQ(bus->NumConnections(), 1u);
    bus->ClearBuffer();
    EXPECT_EQ(bus->Activity(), CAuMixBus::kActive); // it mixed in the frame that ended
    EXPECT_EQ(bus->Buffer().GetChannel(0)[5], 0.0f);
    bus->ClearBuffer();
    EXPECT_EQ(bus->Activity(), CAuMixBus::kIdle);
    EXPECT_EQ(bus->NumConnections(), 0u);
}

TEST_F(MixBusTest, VolumesByBusIdReachEveryBusOfTheNode) {
    FakeBusNode& node = Node(7);
    node.props[AuBusProperty_BusVolume] = 0.0f;
    CAuOutputBus* bus = Bus(node);
    ASSERT_TRUE(bus);
    MixConstant(*bus, 0.1f, {1.0f, 1.0f}); // active: the node's volume is read once
    struct Case {
        const char* op;
        f32 dB;
        f32 previous;
        f32 current;
    } cases[] = {
        {"set", -800.0f, AuDbToLinear(0.0f), 0.0f},
        {"set", -6.0f, 0.0f, AuDbToLinear(-6.0f)},
        {"offset", -6.0f, AuDbToLinear(-12.0f), AuDbToLinear(-12.0f)},
        {"set", NAN, AuDbToLinear(-12.0f), 0.0f},
    };
    for (const Case& c : cases) {
        if (c.op[0] == 's')
            m_graph.SetBusVolume(7, c.dB);
        else
            m_graph.OffsetBusVolume(7, c.dB);
        AuPipelineBuffer out;
        bus->GetResultingBuffer(out);
        EXPECT_FLOAT_EQ(out.fPrevGain, c.previous) << c.op << " " << c.dB;
        EXPECT_FLOAT_EQ(out.fGain, c.current) << c.op << " " << c.dB;
    }
    m_graph.SetBusVolume(8, -3.0f); // another node's busses only
    EXPECT_EQ(bus->CurrentGain(), 0.0f);
    m_graph.EnableBusVolumeCallback(7, true);
    EXPECT_TRUE(bus->HasVolumeCallback());
    m_graph.EnableBusVolumeCallback(7, false);
    EXPECT_FALSE(bus->HasVolumeCallback());
}

TEST_F(MixBusTest, ABypassedEffectIsResetOnceAndNotExecuted) {
    ASSERT_EQ(CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, 900, CreateCountingEffect,
                                             CreateCountingParams),
              AuResultSuccess);
    CAuPluginSettings* settings =
        m_settings.Make(0x900, CAuLowerEngine::PluginKey(AuPluginTypeEffect, 0, 900));
    CAuPluginSettings* other = m_settings.Make(0x901, CAuLowerEngine::PluginKey(AuPluginTypeEffect, 0, 900));
    ASSERT_TRUE(settings && other);
    FakeBusNode& node = Node(1);
    node.effectSlot = 2;
    node.effectSettings = settings;
    CAuOutputBus* bus = Bus(node);
    ASSERT_TRUE(bus);
    AuPipelineBuffer out;
    auto frame = [&] {
        MixConstant(*bus, 0.1f, {1.0f, 1.0f});
        bus->GetResultingBuffer(out);
        bus->ClearBuffer();
    };
    frame();
    ASSERT_NE(bus->InsertEffect(2), nullptr);
    EXPECT_EQ(g_fx.resets, 1); // after its Init
    EXPECT_EQ(g_fx.executes, 1);
    m_graph.BypassBusEffects(1, 1u << 2, 1u << 2);
    frame();
    frame();
    EXPECT_EQ(g_fx.resets, 2);
    EXPECT_EQ(g_fx.executes, 1);
    m_graph.BypassBusEffects(1, 0, 1u << 2);
    frame();
    EXPECT_EQ(g_fx.executes, 2);
    m_graph.BypassBusEffects(1, 1u << 4, 1u << 4); // bypass all
    frame();
    EXPECT_EQ(g_fx.resets, 3);
    EXPECT_EQ(g_fx.executes, 2);
    // Changed settings reach every effect made from them, as for any object.
    static int s_calls;
    s_calls = 0;
    auto count = +[](CAuPluginParamHolder& holder, void* context) {
        EXPECT_EQ(&holder, context);
        EXPECT_NE(holder.Params(), nullptr);
        EXPECT_TRUE(holder.Key().IsGlobal());
        ++s_calls;
    };
    m_graph.ForEachPluginInstance(*settings, count, bus->InsertHolder(2));
    EXPECT_EQ(s_calls, 1);
    m_graph.ForEachPluginInstance(*other, count, nullptr);
    EXPECT_EQ(s_calls, 1);
    // The slot made again from the node: the old effect goes.
    node.effectSlot = 99;
    m_graph.UpdateBusEffect(1, 2);
    EXPECT_EQ(bus->InsertEffect(2), nullptr);
    EXPECT_EQ(g_fx.terms, 1);
}

TEST_F(MixBusTest, MeteringFollowsTheFlagsOfEveryBusOfTheNode) {
    FakeBusNode& node = Node(3);
    CAuOutputBus* bus = Bus(node);
    ASSERT_TRUE(bus);
    EXPECT_EQ(bus->Meter(), nullptr);
    m_graph.SetBusMeteringFlags(3, AU_EnableBusMeter_Peak);
    ASSERT_NE(bus->Meter(), nullptr);
    MixConstant(*bus, 0.25f, {1.0f, 1.0f});
    AuPipelineBuffer out;
    bus->GetResultingBuffer(out);
    EXPECT_NEAR(bus->Meter()->pPeak[0], 0.25f * AuDbToLinear(0.0f) * 1.0009619f, 1e-5);
    m_graph.SetBusMeteringFlags(3, AU_EnableBusMeter_RMS);
    ASSERT_NE(bus->Meter(), nullptr);
    EXPECT_EQ(bus->Meter()->pPeak, nullptr);
    m_graph.SetBusMeteringFlags(3, 0);
    EXPECT_EQ(bus->Meter(), nullptr);
}

struct MeterCall {
    int calls = 0;
    f32 peak = 0.0f;
    f32 rms = 0.0f;
    u32 channels = 0;
    AuMeteringFlags flags = AU_NoMetering;
};
MeterCall g_meterCall;
void RecordMeter(AU::IAuMetering* metering, AuChannelConfig config, AuMeteringFlags flags) {
    ++g_meterCall.calls;
    g_meterCall.peak = metering->GetPeak() ? metering->GetPeak()[1] : -1.0f;
    g_meterCall.rms = metering->GetRMS() ? metering->GetRMS()[1] : -1.0f;
    g_meterCall.channels = config.NumChannels();
    g_meterCall.flags = flags;
}

TEST_F(MixBusTest, TheRegisteredMeteringCallbackReceivesTheMeterAfterEachFrame) {
    CAuPlayingMgr playing;
    ASSERT_EQ(playing.Init(), AuResultSuccess);
    g_pPlayingMgr = &playing;
    g_meterCall = {};
    // Registered before the bus exists: the bus reads the wanted measures when it is made.
    ASSERT_EQ(playing.BusCallbacks().SetMeteringCallback(4, RecordMeter, AU_EnableBusMeter_Peak),
              AuResultSuccess);
    CAuOutputBus* bus = Bus(Node(4));
    CAuOutputBus* other = Bus(Node(5));
    ASSERT_TRUE(bus && other);
    EXPECT_EQ(bus->CallbackMetering(), AU_EnableBusMeter_Peak);
    ASSERT_NE(bus->Meter(), nullptr);
    EXPECT_EQ(other->Meter(), nullptr);
    MixConstant(*bus, 0.5f, {1.0f, 1.0f});
    AuPipelineBuffer out;
    bus->GetResultingBuffer(out);
    EXPECT_EQ(g_meterCall.calls, 1);
    EXPECT_NEAR(g_meterCall.peak, 0.5f * AuDbToLinear(0.0f) * 1.0009619f, 1e-5);
    EXPECT_EQ(g_meterCall.rms, -1.0f);
    EXPECT_EQ(g_meterCall.channels, 2u);
    EXPECT_EQ(g_meterCall.flags, AU_EnableBusMeter_Peak);
    // Plug-ins' measures join the callback's; the callback's going leaves the plug-ins' meter.
    bus->EnableMetering(AU_EnableBusMeter_RMS);
    bus->ClearBuffer();
    MixConstant(*bus, 0.5f, {1.0f, 1.0f});
    bus->GetResultingBuffer(out);
    EXPECT_EQ(g_meterCall.calls, 2);
    EXPECT_NEAR(g_meterCall.rms, 0.5f * AuDbToLinear(0.0f) * 1.0009619f, 1e-5);
    ASSERT_EQ(playing.BusCallbacks().SetMeteringCallback(4, nullptr, AU_NoMetering), AuResultSuccess);
    m_graph.SetBusMeteringFlags(4, 0);
    ASSERT_NE(bus->Meter(), nullptr);
    EXPECT_EQ(bus->Meter()->uFlags, u32{AU_EnableBusMeter_RMS});
    bus->GetResultingBuffer(out);
    EXPECT_EQ(g_meterCall.calls, 2);
    bus->EnableMetering(0);
    EXPECT_EQ(bus->Meter(), nullptr);
    // A volume callback registered for the node is seen by the busses made afterwards.
    ASSERT_EQ(playing.BusCallbacks().SetVolumeCallback(6, [](AuSpeakerVolumeMatrixCallbackInfo*) {}),
              AuResultSuccess);
    CAuOutputBus* watched = Bus(Node(6));
    ASSERT_TRUE(watched);
    EXPECT_TRUE(watched->HasVolumeCallback());
    EXPECT_FALSE(bus->HasVolumeCallback());
    m_graph.EnableBusVolumeCallback(6, false);
    EXPECT_FALSE(watched->HasVolumeCallback());
    m_graph.DestroyAllBusses();
    g_pPlayingMgr = nullptr;
    playing.Term();
}

// Dynamic range, one frame per row: the peak routed to the bus, then the envelope, the gain
// handed to the node and the keep bit.
TEST_F(MixBusTest, DynamicRangeGainComputer) {
    struct Row {
        const char* name;
        f32 threshold, ratio, release;
        bool releaseInDb;
        f32 peaks[3];
        f32 envelopes[3];
        bool keeps[3];
    };
    const f32 c = std::exp(-1024.0f / (0.1f * 48000.0f));
    const Row rows[] = {
        {"below threshold",
         -20.0f,
         4.0f,
         0.1f,
         true,
         {-30.0f, -30.0f, -30.0f},
         {-20.0f, -20.0f, -20.0f},
         {false, false, false}},
        {"attack at once, release in dB",
         -20.0f,
         4.0f,
         0.1f,
         true,
         {-8.0f, -30.0f, -30.0f},
         {-11.0f, (1 - c) * -20.0f + c * -11.0f, (1 - c) * -20.0f + c * ((1 - c) * -20.0f + c * -11.0f)},
         {false, true, true}},
        {"ratio 0 acts as 1",
         -20.0f,
         0.0f,
         0.1f,
         true,
         {-8.0f, -8.0f, -8.0f},
         {-20.0f, -20.0f, -20.0f},
         {false, false, false}},
        {"NaN ratio acts as 1",
         -20.0f,
         NAN,
         0.1f,
         true,
         {0.0f, 0.0f, 0.0f},
         {-20.0f, -20.0f, -20.0f},
         {false, false, false}},
        {"release 0 falls at once",
         -20.0f,
         2.0f,
         0.0f,
         true,
         {0.0f, -40.0f, -40.0f},
         {-10.0f, -20.0f, -20.0f},
         {false, false, false}},
        {"negative release falls at once",
         -20.0f,
         2.0f,
         -5.0f,
         false,
         {0.0f, -40.0f, -40.0f},
         {-10.0f, -20.0f, -20.0f},
         {false, false, false}},
    };
    for (const Row& row : rows) {
        FakeBusNode& node = Node(40);
        node.dynamicRange = true;
        node.releaseInDb = row.releaseInDb;
        node.props = {{AuBusProperty_DynamicThreshold, row.threshold},
                      {AuBusProperty_DynamicRatio, row.ratio},
                      {AuBusProperty_DynamicRelease, row.release},
                      {AuBusProperty_BusVolume, 0.0f}};
        CAuOutputBus* bus = Bus(node);
        ASSERT_TRUE(bus);
        ASSERT_TRUE(bus->Flags() & CAuOutputBus::kFlagDynamicRange);
        bus->SetVolume(0.0f);
        const f32 own = 20.0f * std::log10(bus->CurrentGain());
        bus->RegisterInput(); // held by a voice, so the idle pass leaves it
        for (int frame = 0; frame < 3; ++frame) {
            m_graph.RemoveIdleBusses(); // clears the keep bit
            ASSERT_EQ(Bus(node), bus);
            bus->ReportPeak(row.peaks[frame] + own);
            m_graph.UpdateDynamicRanges();
            // The linear release goes through the fast conversion both ways (0.02 dB).
            EXPECT_NEAR(bus->EnvelopeDb(), row.envelopes[frame], 0.03) << row.name << " " << frame;
            EXPECT_NEAR(node.dynamicGainDb, row.envelopes[frame] + own, 0.03) << row.name << " " << frame;
            EXPECT_EQ(bus->Keeps(), row.keeps[frame]) << row.name << " " << frame;
            EXPECT_TRUE(std::isfinite(bus->RatioTerm())) << row.name;
        }
        bus->UnregisterInput();
        m_graph.DestroyAllBusses();
    }
}

TEST_F(MixBusTest, GraphFindsAndLinksBussesPerDeviceAndRemovesOnlyIdleOnes) {
    FakeBusNode& a = Node(1);
    FakeBusNode& b = Node(2, &a);
    FakeBusNode& c = Node(3, &b);
    CAuOutputBus* busC = Bus(c);
    ASSERT_TRUE(busC);
    EXPECT_EQ(m_graph.NumBusses(), 4u); // the device's master, then a, b and c
    EXPECT_EQ(m_graph.Bus(0)->BusID(), CAuBusGraph::kMasterBusID);
    EXPECT_EQ(busC->Parent()->BusID(), 2u);
    EXPECT_EQ(busC->Parent()->Parent()->Parent(), m_graph.Bus(0));
    EXPECT_EQ(Bus(c), busC);
    EXPECT_EQ(m_graph.FindBus(3, AuAudioOutputType_SecondaryB, 0), nullptr);
    EXPECT_EQ(m_graph.GetOrCreateBus(&c, AuAudioOutputType_SecondaryB, 0), nullptr); // no such device
    EXPECT_EQ(c.refs, 1);
    // Created in a frame without voices: kept through this idle pass, gone at the next.
    busC->RegisterInput();
    m_graph.RemoveIdleBusses();
    m_graph.RemoveIdleBusses();
    EXPECT_EQ(m_graph.NumBusses(), 4u); // c has an input; its parents have children
    busC->UnregisterInput();
    m_graph.RemoveIdleBusses();
    EXPECT_EQ(m_graph.NumBusses(), 0u);
    EXPECT_EQ(c.refs, 0);
    EXPECT_EQ(a.refs, 0);
}

TEST_F(MixBusTest, AMotionNodesBusIsMono16FramesAndNeverReachesTheDevice) {
    FakeBusNode& parentNode = Node(1);
    FakeBusNode& motionNode = Node(2, &parentNode);
    motionNode.motion = true;
    motionNode.config = AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1);
    CAuOutputBus* motion = Bus(motionNode);
    ASSERT_NE(motion, nullptr);
    EXPECT_EQ(motion->Config(), kMono);
    EXPECT_EQ(motion->Buffer().uMaxFrames, CAuOutputBus::kMotionFrames);
    EXPECT_TRUE(motion->Flags() & CAuOutputBus::kFlagMotion);
    CAuOutputBus* parent = motion->Parent();
    ASSERT_NE(parent, nullptr);
    EXPECT_FALSE(parent->Flags() & CAuOutputBus::kFlagMotion);
    TestBuffer voice(kMono, CAuOutputBus::kMotionFrames);
    voice.Fill(0, 0.5f);
    const f32 unity[4] = {1.0f, 0.0f, 0.0f, 0.0f};
    motion->Connect();
    motion->MixBuffer(voice.buffer, unity, unity, {1.0f, 1.0f});
    EXPECT_EQ(motion->Buffer().uValidFrames, CAuOutputBus::kMotionFrames);
    m_graph.MixBusses();
    // Mixed, but not into its parent.
    EXPECT_EQ(motion->Activity(), CAuMixBus::kActive);
    EXPECT_EQ(parent->Activity(), CAuMixBus::kIdle);
}

TEST_F(MixBusTest, ACycleInTheBusTreeMakesNoBus) {
    FakeBusNode& a = Node(1);
    FakeBusNode& b = Node(2, &a);
    a.parent = &b;
    EXPECT_EQ(Bus(b), nullptr);
}

TEST_F(MixBusTest, AMixerPluginTakesEveryInputInsteadOfTheMatricesAndHearsOfEachStepOfTheFrame) {
    using voicetest::g_mixer;
    voicetest::RegisterTestMixer();
    const f32 gain = 0.25f;
    CAuPluginSettings* settings = m_settings.Make(0x3A1, voicetest::TestMixerKey(), &gain, sizeof gain);
    ASSERT_TRUE(settings && settings->ParamObject());
    FakeBusNode& parentNode = Node(1);
    parentNode.mixerSettings = settings;
    FakeBusNode& childNode = Node(2, &parentNode);
    childNode.config = kMono;
    CAuOutputBus* parent = Bus(parentNode);
    CAuOutputBus* child = Bus(childNode);
    ASSERT_TRUE(parent && child);
    EXPECT_TRUE(parent->HasMixerRecord());
    EXPECT_FALSE(child->HasMixerRecord());
    EXPECT_EQ(parent->MixerPlugin(), nullptr) << "made when the first input connects";

    MixConstant(*parent, 0.5f, {1.0f, 1.0f});
    ASSERT_NE(parent->MixerPlugin(), nullptr);
    EXPECT_EQ(g_mixer.pContext, static_cast<AU::IAuMixerPluginContext*>(parent));
    EXPECT_EQ(g_mixer.format.uSampleRate, 48000u);
    EXPECT_EQ(g_mixer.format.channelConfig, kStereo);
    MixConstant(*child, 0.4f, {1.0f, 1.0f});
    AuPipelineBuffer childOut;
    child->GetResultingBuffer(childOut);
    parent->Connect();
    parent->MixBus(childOut, *child);
    AuPipelineBuffer out;
    parent->GetResultingBuffer(out);
    // The mixer's own mix: both inputs straight across at its gain, the mono child on both sides.
    for (u32 c = 0; c < 2; ++c)
        for (u32 i : {0u, 512u, 1023u})
            EXPECT_FLOAT_EQ(out.GetChannel(c)[i], (0.5f + 0.4f) * gain) << c << " " << i;
    parent->ClearBuffer();
    EXPECT_EQ(g_mixer.calls,
              (std::vector<std::string>{"init", "reset", "connect", "consume 2", "connect", "consume 1",
                                        "mixdone", "effectsdone", "disconnect", "disconnect"}));
    EXPECT_EQ(parent->NumConnections(), 0u);

    // Changed settings reach the mixer as they reach the inserts.
    static std::vector<CAuPluginParamHolder*> s_seen;
    s_seen.clear();
    m_graph.ForEachPluginInstance(
        *settings,
        [](CAuPluginParamHolder& holder, void*) {
            EXPECT_TRUE(holder.Key().IsGlobal());
            s_seen.push_back(&holder);
        },
        nullptr);
    EXPECT_EQ(s_seen, std::vector<CAuPluginParamHolder*>{parent->MixerHolder()});
    EXPECT_EQ(settings->m_lRef, 2u) << "the test's and the mixer's";
    m_graph.DestroyAllBusses();
    EXPECT_EQ(g_mixer.calls.back(), "term");
    EXPECT_EQ(g_mixer.live, 0);
    EXPECT_EQ(settings->m_lRef, 1u);
}

TEST_F(MixBusTest, AMixerThatCannotRunLeavesTheBusMixingThroughItsMatrices) {
    using voicetest::g_mixer;
    voicetest::RegisterTestMixer();
    CAuPluginSettings* mixer = m_settings.Make(0x3A1, voicetest::TestMixerKey());
    // Settings whose plug-in no one registered: no parameter object.
    bankgen::PluginSettingsRecord unknown;
    unknown.type = bankgen::HierarchyType::SharedPluginSettings;
    unknown.id = 0x3A2;
    unknown.plugin = CAuLowerEngine::PluginKey(AuPluginTypeMixer, 0, 0x3A2);
    CAuPluginSettings* unregistered = m_settings.Load(unknown);
    ASSERT_TRUE(mixer && unregistered && !unregistered->ParamObject());
    struct Case {
        const char* name;
        CAuPluginSettings* settings;
        AuPluginType answers;
        AURESULT init, reset;
        int made; // plug-ins made and ended again
    } cases[] = {
        {"an effect, not a mixer", mixer, AuPluginTypeEffect, AuResultSuccess, AuResultSuccess, 1},
        {"its Init fails", mixer, AuPluginTypeMixer, AuResultFail, AuResultSuccess, 1},
        {"its Reset fails", mixer, AuPluginTypeMixer, AuResultSuccess, AuResultNoMemory, 1},
        {"no parameter object", unregistered, AuPluginTypeMixer, AuResultSuccess, AuResultSuccess, 0},
    };
    u32 id = 10;
    for (const Case& c : cases) {
        g_mixer.eType = c.answers;
        g_mixer.eInit = c.init;
        g_mixer.eReset = c.reset;
        g_mixer.calls.clear();
        FakeBusNode& node = Node(++id);
        node.mixerSettings = c.settings;
        CAuOutputBus* bus = Bus(node);
        ASSERT_NE(bus, nullptr) << c.name;
        MixConstant(*bus, 0.5f, {1.0f, 1.0f});
        EXPECT_EQ(bus->MixerPlugin(), nullptr) << c.name;
        EXPECT_EQ(g_mixer.live, 0) << c.name;
        EXPECT_EQ(std::count(g_mixer.calls.begin(), g_mixer.calls.end(), "term"), c.made) << c.name;
        EXPECT_EQ(c.settings->m_lRef, 1u) << c.name << ": nothing holds the settings";
        AuPipelineBuffer out;
        bus->GetResultingBuffer(out);
        EXPECT_FLOAT_EQ(out.GetChannel(1)[100], 0.5f) << c.name << ": through the identity matrix";
        bus->ClearBuffer();
        MixConstant(*bus, 0.5f, {1.0f, 1.0f});
        EXPECT_EQ(std::count(g_mixer.calls.begin(), g_mixer.calls.end(), "term"), c.made)
            << c.name << ": not made again at the next input";
        bus->ClearBuffer();
    }
}

TEST_F(MixBusTest, TheMixerServicesAnswerForTheBusItsDeviceAndTheEnginesPanning) {
    FakeBusNode& top = Node(1);
    FakeBusNode& below = Node(2, &top);
    FakeBusNode& motion = Node(3, &top);
    motion.motion = true;
    FakeBusNode& motionTop = Node(4);
    motionTop.motion = true;
    struct TypeCase {
        FakeBusNode* node;
        u32 type;
    } types[] = {{&top, 1}, {&below, 0}, {&motion, 2}, {&motionTop, 3}};
    for (const TypeCase& t : types) {
        CAuOutputBus* bus = Bus(*t.node);
        ASSERT_NE(bus, nullptr) << t.node->id;
        EXPECT_EQ(bus->GetBusType(), t.type) << t.node->id;
        EXPECT_EQ(bus->GetBusID(), t.node->id);
    }
    CAuOutputBus* master = m_graph.GetMasterBus(AuAudioOutputType_Main, 0);
    ASSERT_NE(master, nullptr);
    EXPECT_EQ(master->GetBusType(), 1u) << "the device's master bus";

    AU::IAuMixerPluginContext& services = *Bus(below);
    EXPECT_EQ(services.GetMaxBufferLength(), kFrames);
    EXPECT_EQ(services.GetCpuInfo(), CAuCpuInfo::Get());
    EXPECT_EQ(services.GetStreamMgr(), AU::IAuStreamMgr::m_pStreamMgr);
    f32 degrees[8] = {}, expected[8] = {};
    u32 count = 8, expectedCount = 8;
    f32 height = 0.0f, expectedHeight = 0.0f;
    ASSERT_EQ(services.GetSpeakerAngles(degrees, count, height), AuResultSuccess);
    ASSERT_EQ(CAuLowerEngine::FindDevice(AuAudioOutputType_Main, 0)
                  ->GetSpeakerAngles(expected, expectedCount, expectedHeight),
              AuResultSuccess);
    EXPECT_EQ(count, expectedCount);
    EXPECT_EQ(degrees[0], expected[0]);
    EXPECT_EQ(height, expectedHeight);

    // A layout with only the back pair pans as the same layout with the side pair.
    const AuChannelConfig backs = AuChannelConfig::Standard(0x33);
    const AuChannelConfig sides = AuChannelConfig::Standard(0x603);
    const AuChannelConfig both = AuChannelConfig::Standard(AU_SPEAKER_SETUP_7POINT1);
    struct LayoutCase {
        AuChannelConfig in, out;
    } layouts[] = {{backs, sides},
                   {sides, sides},
                   {both, both},
                   {kStereo, kStereo},
                   {AuChannelConfig::Anonymous(4), AuChannelConfig::Anonymous(4)}};
    for (const LayoutCase& l : layouts)
        EXPECT_EQ(CAuMixBus::PanningLayout(l.in), l.out) << std::hex << l.in.uWord;
    f32 got[64], want[64];
    ASSERT_EQ(services.ComputeSpeakerVolumesDirect(backs, both, 0.0f, got), AuResultSuccess);
    CAuSpeakerPan::ComputeMatrixNoPan(sides, both, want);
    for (u32 i = 0; i < 4 * AuMatrixRowStride(8); ++i)
        EXPECT_EQ(got[i], want[i]) << i;

    // Positions clamp to -1 .. 1, then map onto 0 .. 1.
    struct PanCase {
        f32 x, y, unitX, unitY;
    } pans[] = {{-1.0f, 1.0f, 0.0f, 1.0f}, {5.0f, -7.0f, 1.0f, 0.0f}, {0.5f, 0.0f, 0.75f, 0.5f}};
    for (const PanCase& p : pans) {
        ASSERT_EQ(services.ComputeSpeakerVolumes2DPanner(p.x, p.y, 0.5f, kMono, both, got), AuResultSuccess);
        CAuSpeakerPan::ComputeMixingMatrix(p.unitX, p.unitY, 0.5f, true, kMono, both, want);
        for (u32 i = 0; i < AuMatrixRowStride(8); ++i)
            EXPECT_EQ(got[i], want[i]) << p.x << " " << p.y << " " << i;
    }

    // 3D panning on the bus's device; the positioning service adds the LFE's own path.
    const AuChannelConfig surround = AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1);
    CAuOutputDevice* device = CAuLowerEngine::FindDevice(AuAudioOutputType_Main, 0);
    ASSERT_EQ(services.ComputeSpeakerVolumes3D(0.7f, 0.5f, 40.0f, 20.0f, kStereo, surround, got),
              AuResultSuccess);
    ASSERT_EQ(CAuSpeakerPan::GetSpeakerVolumes3D(0.7f, 0.5f, 40.0f, 20.0f, want, 2, surround, *device),
              AuResultSuccess);
    for (u32 i = 0; i < 2 * AuMatrixRowStride(6); ++i)
        EXPECT_EQ(got[i], want[i]) << "3D " << i;
    std::fill(got, got + 64, 7.0f);
    std::fill(want, want + 64, 0.0f);
    ASSERT_EQ(services.ComputePositioning(0.7f, 0.3f, 40.0f, surround, surround, 20.0f, got),
              AuResultSuccess);
    ASSERT_EQ(CAuSpeakerPan::GetSpeakerVolumes3D(0.7f, 1.0f, 40.0f, 20.0f, want, 5, surround, *device),
              AuResultSuccess);
    const u32 lfe = 5 * AuMatrixRowStride(6) + 5;
    want[lfe] = 1.0f;
    for (u32 i = 0; i < 6 * AuMatrixRowStride(6); ++i)
        EXPECT_EQ(got[i], want[i]) << "positioning " << i;
    EXPECT_GT(got[0] + got[1] + got[2], 0.0f) << "the direction reaches the speakers";

    // Vector-base panning over four speakers in the horizontal plane: between two, on one, and
    // straight behind across the seam of the azimuths.
    constexpr f32 kQuarter = 0.785398163f;
    constexpr f32 kHalf = 0.70710678f;
    const f32 positions[8] = {-kQuarter, 0.0f, kQuarter, 0.0f, 3 * kQuarter, 0.0f, -3 * kQuarter, 0.0f};
    AU::IAuPluginMemAlloc* allocator = &CAuLowerEngine::PluginAllocator();
    void* handle = nullptr;
    ASSERT_EQ(services.InitSphericalVBAP(allocator, positions, 4, handle), AuResultSuccess);
    struct VbapCase {
        f32 azimuth;
        f32 gains[4];
    } directions[] = {
        {0.0f, {kHalf, kHalf, 0.0f, 0.0f}},
        {kQuarter, {0.0f, 1.0f, 0.0f, 0.0f}},
        {4 * kQuarter, {0.0f, 0.0f, kHalf, kHalf}},
        {-2 * kQuarter, {kHalf, 0.0f, 0.0f, kHalf}},
    };
    for (const VbapCase& d : directions) {
        f32 gains[4] = {9.0f, 9.0f, 9.0f, 9.0f};
        ASSERT_EQ(services.ComputeSpeakerVolumesVBAP(handle, d.azimuth, 0.0f, 4, gains), AuResultSuccess);
        for (u32 i = 0; i < 4; ++i)
            EXPECT_NEAR(gains[i], d.gains[i], 1e-4f) << d.azimuth << " speaker " << i;
    }
    EXPECT_EQ(services.TermSphericalVBAP(allocator, handle), AuResultSuccess);
    handle = allocator;
    EXPECT_EQ(services.InitSphericalVBAP(allocator, positions, 1, handle), AuResultFail);
    EXPECT_EQ(handle, nullptr);

    // The kernels add into their output over the bus's frames.
    TestBuffer in(kStereo, kFrames);
    in.Fill(0, 1.0f);
    in.Fill(1, 0.5f);
    TestBuffer mixed(kStereo, kFrames);
    mixed.Fill(0, 0.25f);
    mixed.Fill(1, 0.25f);
    f32 identity[8] = {};
    CAuSpeakerPan::ComputeIdentityMatrix(AuChannelConfig::Anonymous(2), AuChannelConfig::Anonymous(2),
                                         identity);
    services.MixNChannels(in.buffer, mixed.buffer, identity, identity);
    EXPECT_FLOAT_EQ(mixed.buffer.GetChannel(0)[700], 1.25f);
    EXPECT_FLOAT_EQ(mixed.buffer.GetChannel(1)[700], 0.75f);
    services.MixChannel(in.buffer.GetChannel(0), mixed.buffer, {0.0f, 1.0f}, identity + 4, identity + 4);
    EXPECT_FLOAT_EQ(mixed.buffer.GetChannel(0)[512], 1.25f);
    EXPECT_NEAR(mixed.buffer.GetChannel(1)[512], 0.75f + 0.5f, 1e-6f);
    f32 ramp[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    f32 ramped[4] = {0.5f, 0.5f, 0.5f, 0.5f};
    services.ApplyGainRamp(ramp, ramped, 0.0f, 1.0f, 4);
    EXPECT_EQ(std::vector<f32>(ramped, ramped + 4), (std::vector<f32>{0.5f, 0.75f, 1.0f, 1.25f}));
    services.ApplyGainRamp(in.buffer.GetChannel(0), mixed.buffer.GetChannel(0), 1.0f, 0.0f, kFrames);
    EXPECT_FLOAT_EQ(mixed.buffer.GetChannel(0)[0], 2.25f);
    EXPECT_FLOAT_EQ(mixed.buffer.GetChannel(0)[768], 1.5f);
}

// The game's volume callback: it mutes the right side of whatever matrix it is given and halves the
// volume.
struct VolumeCall {
    int calls = 0;
    AuChannelConfig input, output;
    AU::IAuMixerPluginContext* context = nullptr;
} g_volumeCall;
void MuteRightHalveVolume(AuSpeakerVolumeMatrixCallbackInfo* info) {
    ++g_volumeCall.calls;
    g_volumeCall.input = info->inputConfig;
    g_volumeCall.output = info->outputConfig;
    g_volumeCall.context = info->pMixerContext;
    const u32 stride = AuMatrixRowStride(info->outputConfig.NumChannels());
    for (u32 row = 0; row < info->inputConfig.NumChannels(); ++row)
        info->pVolumes[row * stride + 1] = 0.0f;
    *info->pfBaseVolume *= 0.5f;
}

TEST_F(MixBusTest, AVolumeCallbackChangesTheMatrixAndVolumeEachTimeTheMatrixIsComputed) {
    CAuPlayingMgr playing;
    ASSERT_EQ(playing.Init(), AuResultSuccess);
    g_pPlayingMgr = &playing;
    g_volumeCall = {};
    ASSERT_EQ(playing.BusCallbacks().SetVolumeCallback(2, MuteRightHalveVolume), AuResultSuccess);
    ASSERT_EQ(playing.BusCallbacks().SetVolumeCallback(3, MuteRightHalveVolume), AuResultSuccess);
    FakeBusNode& parentNode = Node(1);
    FakeBusNode& childNode = Node(2, &parentNode);
    FakeBusNode& anonymousNode = Node(3, &parentNode);
    anonymousNode.config = AuChannelConfig::Anonymous(2);
    CAuOutputBus* parent = Bus(parentNode);
    CAuOutputBus* child = Bus(childNode);
    ASSERT_TRUE(parent && child && Bus(anonymousNode));
    EXPECT_EQ(g_volumeCall.calls, 1) << "the standard child's first matrix only";
    EXPECT_EQ(g_volumeCall.input, kStereo);
    EXPECT_EQ(g_volumeCall.output, kStereo);
    EXPECT_EQ(g_volumeCall.context, static_cast<AU::IAuMixerPluginContext*>(child));

    // Though the layouts match, the child goes through the matrix its callback changed.
    const f32 unity = AuDbToLinear(0.0f);
    AuPipelineBuffer out;
    MixConstant(*child, 0.5f, {1.0f, 1.0f});
    child->GetResultingBuffer(out);
    parent->Connect();
    parent->MixBus(out, *child);
    EXPECT_EQ(g_volumeCall.calls, 1) << "the matrix was not computed again";
    EXPECT_NEAR(parent->Buffer().GetChannel(0)[600], 0.5f * unity, 1e-6f);
    EXPECT_EQ(parent->Buffer().GetChannel(1)[600], 0.0f);
    parent->GetResultingBuffer(out);
    parent->ClearBuffer();
    child->ClearBuffer();

    // A pan change computes the matrix again: the callback runs and halves the next buffer's gain.
    child->SetParam(AuBusProperty_PanLR, 30.0f);
    MixConstant(*child, 0.5f, {1.0f, 1.0f});
    child->GetResultingBuffer(out);
    EXPECT_EQ(g_volumeCall.calls, 2);
    child->ClearBuffer();
    MixConstant(*child, 0.5f, {1.0f, 1.0f});
    child->GetResultingBuffer(out);
    EXPECT_FLOAT_EQ(out.fPrevGain, unity);
    EXPECT_FLOAT_EQ(out.fGain, 0.5f * unity);
    parent->Connect();
    parent->MixBus(out, *child);
    EXPECT_NEAR(parent->Buffer().GetChannel(0)[0], 0.5f * unity, 1e-6f);
    EXPECT_NEAR(parent->Buffer().GetChannel(0)[1023], 0.5f * (0.5f * unity + 0.5f * unity / kFrames), 1e-5f);
    EXPECT_EQ(parent->Buffer().GetChannel(1)[1023], 0.0f);
    m_graph.DestroyAllBusses();
    g_pPlayingMgr = nullptr;
    playing.Term();
}

TEST_F(MixBusTest, EffectsHoldingMediaThatLeaveAreTornDownAndMadeAgainWhenTheBusNextMixes) {
    using voicetest::g_mixer;
    CAuBankMgr bank;
    ASSERT_EQ(bank.Init(), AuResultSuccess);
    g_pBankMgr = &bank;
    std::vector<u8> impulse(64, 0x21), table(48, 0x42), elsewhere(16, 0);
    const AuSourceSettings media[2] = {{0x700, impulse.data(), static_cast<u32>(impulse.size())},
                                       {0x701, table.data(), static_cast<u32>(table.size())}};
    ASSERT_EQ(bank.SetMedia(media, 2), AuResultSuccess);
    voicetest::RegisterTestMixer();
    g_mixer.uMediaIndex = 0;
    ASSERT_EQ(CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, 900, CreateCountingEffect,
                                             CreateCountingParams),
              AuResultSuccess);
    // The mixer's media index 0 names the impulse, the insert's the table.
    bankgen::PluginSettingsRecord mixerRecord;
    mixerRecord.type = bankgen::HierarchyType::SharedPluginSettings;
    mixerRecord.id = 0x3A1;
    mixerRecord.plugin = voicetest::TestMixerKey();
    mixerRecord.media = {{0, 0x700}};
    bankgen::PluginSettingsRecord insertRecord = mixerRecord;
    insertRecord.id = 0x900;
    insertRecord.plugin = CAuLowerEngine::PluginKey(AuPluginTypeEffect, 0, 900);
    insertRecord.media = {{0, 0x701}};
    CAuPluginSettings* mixer = m_settings.Load(mixerRecord);
    CAuPluginSettings* insert = m_settings.Load(insertRecord);
    ASSERT_TRUE(mixer && insert);
    FakeBusNode& node = Node(1);
    node.mixerSettings = mixer;
    node.effectSlot = 0;
    node.effectSettings = insert;
    CAuOutputBus* bus = Bus(node);
    ASSERT_NE(bus, nullptr);
    auto frame = [&] {
        MixConstant(*bus, 0.1f, {1.0f, 1.0f});
        AuPipelineBuffer out;
        bus->GetResultingBuffer(out);
        bus->ClearBuffer();
    };
    frame();
    EXPECT_EQ(g_mixer.pMedia, impulse.data());
    EXPECT_EQ(g_fx.media, table.data());

    struct Case {
        const char* name;
        const u8* data;
        u32 size;
        bool tornDown;
    } cases[] = {
        {"other bytes", elsewhere.data(), 16, false},
        {"the bytes just before", impulse.data() - 8, 8, false},
        {"the mixer's media", impulse.data(), 64, true},
        {"a range holding the insert's", table.data() - 4, 8, true},
    };
    for (const Case& c : cases) {
        const int terms = g_fx.terms;
        m_graph.ReleaseEffectsUsingData(c.data, c.size);
        EXPECT_EQ(bus->MixerPlugin() == nullptr, c.tornDown) << c.name;
        EXPECT_EQ(bus->InsertEffect(0) == nullptr, c.tornDown) << c.name;
        EXPECT_EQ(g_fx.terms - terms, c.tornDown ? 1 : 0) << c.name;
        EXPECT_EQ(g_mixer.live, c.tornDown ? 0 : 1) << c.name;
        EXPECT_EQ(mixer->m_lRef, c.tornDown ? 1u : 2u) << c.name;
        frame();
        EXPECT_NE(bus->MixerPlugin(), nullptr) << c.name << ": made again";
        EXPECT_NE(bus->InsertEffect(0), nullptr) << c.name << ": made again";
    }
    m_graph.DestroyAllBusses();
    // Every media reference went back with its plug-in: the bank can let go of both.
    EXPECT_EQ(bank.UnsetMedia(media, 2), AuResultSuccess);
    g_pBankMgr = nullptr;
    bank.Term();
}

// The level window: the top moves up by the ratio of the excess, the floor holds the level up.
TEST(LevelWindowTest, WindowTopRatioAndFloor) {
    struct Row {
        f32 loudest, top, ratio, floor, expectedLevel;
    } rows[] = {
        {-20.0f, -10.0f, 0.5f, -60.0f, -10.0f}, {0.0f, -10.0f, 0.5f, -60.0f, -5.0f},
        {0.0f, -10.0f, 1.0f, -60.0f, 0.0f},     {0.0f, -10.0f, 0.0f, -60.0f, -10.0f},
        {-20.0f, -30.0f, 0.0f, -12.0f, -12.0f}, {-4096.0f, -10.0f, 0.5f, -60.0f, -10.0f},
        {0.0f, 800.0f, 0.0f, -60.0f, 800.0f},
    };
    for (const Row& row : rows) {
        AuLevelWindow window{row.top, row.ratio, row.floor, 0.5f};
        const f32 expected =
            -row.expectedLevel * 0.05f < -37.0f ? 0.0f : AuDbToLinear(-row.expectedLevel) * 0.5f;
        EXPECT_FLOAT_EQ(AuLevelWindowGain(row.loudest, window), expected) << row.loudest << " " << row.top;
    }
}

TEST(AuxSendsTest, AtMostEightSendsAndNoneAfterAnEmptyOne) {
    AuAuxSend given[10];
    for (u32 i = 0; i < 10; ++i)
        given[i] = {100 + i, 0.1f * f32(i + 1)};
    AuAuxSend list[CAuPlaybackInstance::kMaxAuxSends] = {};
    EXPECT_EQ(AuTakeAuxSends(given, 9, list), 8u);
    EXPECT_EQ(list[7].busID, 107u);
    given[3].busID = 0;
    EXPECT_EQ(AuTakeAuxSends(given, 9, list), 3u);
    EXPECT_EQ(AuTakeAuxSends(given, 0, list), 0u);
}

TEST_F(MixBusTest, AChannelCountChangeRebuildsTheMatricesWithoutARamp) {
    FakeBusNode& node = Node(1);
    CAuOutputBus* bus = Bus(node);
    ASSERT_TRUE(bus);
    CAuVoiceOutput* output =
        CAuVoiceOutput::Create(nullptr, bus, AuAudioOutputType_Main, 0, CAuVoiceOutput::kDry, false, false);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(bus->NumInputs(), 1u);
    output->fGain = 0.5f;
    output->UpdateMatrices(kMono, 0.5f, 1.0f, 1.0f, false, 1.0f, true);
    output->fGain = 0.8f;
    output->UpdateMatrices(kMono, 0.5f, 1.0f, 1.0f, false, 1.0f, false);
    EXPECT_EQ(output->fPrevVolume, 0.5f); // the same layout ramps
    EXPECT_EQ(output->fVolume, 0.8f);
    output->fGain = 0.6f;
    output->UpdateMatrices(kStereo, 0.5f, 1.0f, 1.0f, false, 1.0f, false);
    EXPECT_EQ(output->MatrixRebuilds(), 2u);
    EXPECT_EQ(output->MatrixInputs(), 2u);
    EXPECT_EQ(output->fPrevVolume, 0.6f);
    EXPECT_EQ(output->fVolume, 0.6f);
    for (u32 i = 0; i < 2 * AuMatrixRowStride(2); ++i)
        EXPECT_EQ(output->pPrevMatrix[i], output->pMatrix[i]) << i;
    EXPECT_EQ(output->pMatrix[0], 1.0f);
    CAuVoiceOutput::Destroy(output);
    EXPECT_EQ(bus->NumInputs(), 0u);
}

} // namespace
