#include "VoiceTestSupport.h"

using namespace voicetest;

namespace {

class OutputDeviceTest : public VoicesTest {
protected:
    void SetUp() override {
        VoicesTest::SetUp();
        AuSetHardwareSinks(&m_hardware);
        CAuLowerEngine::SetVoiceGraph(&m_graph);
        CAuLowerEngine::SetListeners(&m_listeners);
        InitLowerEngine();
        Trace().clear();
    }

    static CAuOutputDevice* Main() { return CAuLowerEngine::FindDevice(AuAudioOutputType_Main, 0); }
    static RecordingSink* SinkOf(CAuOutputDevice* device) {
        return static_cast<RecordingSink*>(device->pSink);
    }
};

} // namespace

TEST_F(OutputDeviceTest, SecondaryOutputsAreKeyedByTypeAndId) {
    EXPECT_EQ(CAuLowerEngine::AddSecondaryOutput(AuOutputSettings{}, 16, 0, 1, 0), AuResultFail);
    EXPECT_EQ(CAuLowerEngine::AddSecondaryOutput(AuOutputSettings{}, 4, 7, 0x3, 0), AuResultSuccess);
    EXPECT_EQ(CAuLowerEngine::AddSecondaryOutput(AuOutputSettings{}, 4, 7, 0x3, 0), AuResultSuccess);
    EXPECT_EQ(CAuLowerEngine::NumDevices(), 2u);
    EXPECT_EQ(CAuLowerEngine::AddSecondaryOutput(AuOutputSettings{}, 8, 7, 0x4, 0), AuResultSuccess);
    EXPECT_EQ(CAuLowerEngine::NumDevices(), 3u);

    // Listeners move from the main output to the new device; both kinds of secondary are silent.
    EXPECT_EQ(Main()->uListenerMask, 0xF8u);
    CAuOutputDevice* second = CAuLowerEngine::FindDevice(4, 7);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->uListenerMask, 0x3u);
    EXPECT_EQ(static_cast<CAuBufferedSink*>(second->pSink)->Kind(), AuSinkKind_Dummy);
    EXPECT_EQ(static_cast<CAuBufferedSink*>(CAuLowerEngine::FindDevice(8, 7)->pSink)->Kind(),
              AuSinkKind_Dummy);
    EXPECT_EQ(CAuLowerEngine::FindDevice(8, 7)->uOptions, AU_SINK_OPTION_DUMMY);
    EXPECT_EQ(Trace(), (std::vector<std::string>{"listeners.device 3 4 7", "voices.outputs 4 7 3",
                                                 "listeners.device 4 8 7", "voices.outputs 8 7 4"}));

    Trace().clear();
    EXPECT_EQ(CAuLowerEngine::RemoveSecondaryOutput(4, 9), AuResultFail);
    EXPECT_EQ(CAuLowerEngine::RemoveSecondaryOutput(4, 7), AuResultSuccess);
    EXPECT_EQ(CAuLowerEngine::NumDevices(), 2u);
    EXPECT_EQ(CAuLowerEngine::FindDevice(4, 7), nullptr);
    EXPECT_EQ(Trace(), (std::vector<std::string>{"voices.outputs 4 7 0"}));
    // The list's tail stays right: a new device lands after the remaining one.
    EXPECT_EQ(CAuLowerEngine::RemoveSecondaryOutput(8, 7), AuResultSuccess);
    EXPECT_EQ(CAuLowerEngine::AddSecondaryOutput(AuOutputSettings{}, 4, 1, 0, 0), AuResultSuccess);
    EXPECT_EQ(Main()->pNextItem, CAuLowerEngine::FindDevice(4, 1));
}

TEST_F(OutputDeviceTest, ABackPairAloneBecomesASidePairAndTheAnglesFollowTheLayout) {
    CAuLowerEngine::Term();
    // Default angles in units: front 30 degrees (45 with fronts only), side 110 (100 with backs
    // and sides).
    const struct {
        u32 reported;
        u32 kept;
        u32 channels;
        u32 front;
        u32 side;
    } cases[] = {{0x3F, 0x60F, 6, 43, 156}, {0x63F, 0x63F, 8, 43, 142}, {0x3, 0x3, 2, 64, 156},
                 {0x33, 0x603, 4, 43, 156}, {0x607, 0x607, 5, 43, 156}, {0x7, 0x7, 3, 64, 156}};
    for (const auto& c : cases) {
        m_hardware.reportedMask = c.reported;
        InitLowerEngine();
        EXPECT_EQ(Main()->channelConfig.ChannelMask(), c.kept) << std::hex << c.reported;
        EXPECT_EQ(Main()->channelConfig.NumChannels(), c.channels) << std::hex << c.reported;
        EXPECT_EQ(Main()->pSpeakerAngles[0], c.front) << std::hex << c.reported;
        EXPECT_EQ(Main()->pSpeakerAngles[1], c.side) << std::hex << c.reported;
        EXPECT_EQ(CAuLowerEngine::OutputConfig(), Main()->channelConfig);
        CAuLowerEngine::Term();
    }
}

TEST_F(OutputDeviceTest, SpeakerAnglesAreCheckedConvertedAndRebuildThePanTables) {
    CAuOutputDevice* device = Main();
    // The stereo main output's defaults: 45, 110, 142.5 degrees become 64, 156, 203 units; the
    // smallest gap is the back pair's 47.
    ASSERT_EQ(device->channelConfig.ChannelMask(), AU_SPEAKER_SETUP_STEREO);
    ASSERT_EQ(device->uNumSpeakerAngles, 3u);
    EXPECT_EQ(device->pSpeakerAngles[0], 64u);
    EXPECT_EQ(device->pSpeakerAngles[1], 156u);
    EXPECT_EQ(device->pSpeakerAngles[2], 203u);
    EXPECT_FLOAT_EQ(device->fInvMinSpeakerGap, 1.0f / 47);
    EXPECT_EQ(device->fHeightAngle, 45.0f);

    u32 count = 0;
    f32 height = 0;
    EXPECT_EQ(device->GetSpeakerAngles(nullptr, count, height), AuResultSuccess);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(height, 45.0f);
    f32 degrees[3] = {};
    count = 2;
    EXPECT_EQ(device->GetSpeakerAngles(degrees, count, height), AuResultSuccess);
    EXPECT_EQ(count, 2u);
    EXPECT_FLOAT_EQ(degrees[0], 64 * 360.0f / 512);

    AuPanTable* table = device->GetPanningTable(0x3);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(device->GetPanningTable(0x3), table);
    EXPECT_EQ(device->panTables.Count(), 1u);
    // The left front speaker at 64 units has all the power there.
    EXPECT_FLOAT_EQ(table->fGains[64][1], 1.0f);

    const f32 invalidHeight[3] = {20, 60, 120};
    EXPECT_EQ(device->SetSpeakerAngles(invalidHeight, 3, 91.0f), AuResultInvalidParameter);
    EXPECT_EQ(device->pSpeakerAngles[0], 64u);
    EXPECT_FLOAT_EQ(table->fGains[64][1], 1.0f);

    const f32 notIncreasing[3] = {30, 110, 110};
    EXPECT_EQ(device->SetSpeakerAngles(notIncreasing, 3, 10.0f), AuResultFail);
    EXPECT_EQ(device->pSpeakerAngles[1], 156u);
    EXPECT_EQ(device->fHeightAngle, 45.0f);
    const f32 frontTooWide[1] = {90};
    EXPECT_EQ(device->SetSpeakerAngles(frontTooWide, 1, 0.0f), AuResultFail);

    // One angle given: the others keep their values, and the table follows the new front.
    const f32 front[1] = {20};
    EXPECT_EQ(device->SetSpeakerAngles(front, 1, -10.0f), AuResultSuccess);
    EXPECT_EQ(device->pSpeakerAngles[0], 28u);
    EXPECT_EQ(device->pSpeakerAngles[1], 156u);
    EXPECT_EQ(device->pSpeakerAngles[2], 203u);
    EXPECT_EQ(device->fHeightAngle, -10.0f);
    EXPECT_FLOAT_EQ(device->fInvMinSpeakerGap, 1.0f / 28);
    EXPECT_EQ(device->GetPanningTable(0x3), table);
    EXPECT_FLOAT_EQ(table->fGains[28][1], 1.0f);
    EXPECT_FLOAT_EQ(table->fGains[64][0], 1.0f) << "beyond the front pair all goes to the left";
}

TEST_F(OutputDeviceTest, ATopBusReachesTheSinkInterleavedWithTheDeviceVolume) {
    RecordingSink* sink = SinkOf(Main());
    TestBuffer tone(AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), AU_DEFAULT_SAMPLES_PER_FRAME);
    for (u32 i = 0; i < AU_DEFAULT_SAMPLES_PER_FRAME; ++i) {
        tone.buffer.GetChannel(0)[i] = static_cast<f32>(i % 16) / 16;
        tone.buffer.GetChannel(1)[i] = -static_cast<f32>(i % 16) / 16;
    }
    ASSERT_EQ(CAuLowerEngine::SetOutputVolume(16, 0, 0.5f), AuResultSuccess);
    EXPECT_EQ(CAuLowerEngine::SetOutputVolume(4, 4, 0.5f), AuResultFail);
    CAuLowerEngine::MixBusIntoDevice(16, 0, tone.buffer);
    CAuLowerEngine::Perform(1);
    ASSERT_EQ(sink->mixCount, 1);
    // The device volume ramps from 1.0 to 0.5 over the frame.
    for (const u32 frame : {3u, 500u, 1023u}) {
        const f32 gain = 1.0f - 0.5f * frame / AU_DEFAULT_SAMPLES_PER_FRAME;
        EXPECT_NEAR(sink->lastWritten[2 * frame], gain * (frame % 16) / 16, 1e-6f) << frame;
        EXPECT_NEAR(sink->lastWritten[2 * frame + 1], -gain * (frame % 16) / 16, 1e-6f) << frame;
    }
    CAuLowerEngine::MixBusIntoDevice(16, 0, tone.buffer);
    CAuLowerEngine::Perform(2);
    EXPECT_NEAR(sink->lastWritten[2 * 3], 0.5f * 3 / 16, 1e-6f) << "the new volume holds";

    // A bus for a device that does not exist is dropped, and so is one longer than a frame.
    CAuLowerEngine::MixBusIntoDevice(4, 3, tone.buffer);
    CAuLowerEngine::Perform(3);
    EXPECT_EQ(sink->silenceCount, 1);
    CAuLowerEngine::StartOutputCapture(L"long.wav");
    TestBuffer longer(AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), 2 * AU_DEFAULT_SAMPLES_PER_FRAME);
    longer.Fill(0, 1.0f);
    longer.Fill(1, 1.0f);
    CAuLowerEngine::MixBusIntoDevice(16, 0, longer.buffer);
    CAuLowerEngine::Perform(4);
    CAuLowerEngine::StopOutputCapture();
    EXPECT_EQ(sink->silenceCount, 2);
}

TEST_F(OutputDeviceTest, TwoTopBussesAreSummedAndAnotherLayoutGoesThroughTheMatrix) {
    RecordingSink* sink = SinkOf(Main());
    TestBuffer left(AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO), AU_DEFAULT_SAMPLES_PER_FRAME);
    left.Fill(0, 0.25f);
    left.Fill(1, 0.0f);
    TestBuffer centre(AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO), AU_DEFAULT_SAMPLES_PER_FRAME);
    centre.Fill(0, 0.5f);
    TestBuffer surround(AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1), AU_DEFAULT_SAMPLES_PER_FRAME);
    for (u32 c = 0; c < 6; ++c)
        surround.Fill(c, 0.125f);
    CAuLowerEngine::MixBusIntoDevice(16, 0, left.buffer);
    CAuLowerEngine::MixBusIntoDevice(16, 0, centre.buffer);
    CAuLowerEngine::MixBusIntoDevice(16, 0, surround.buffer);
    CAuLowerEngine::Perform(1);
    ASSERT_EQ(sink->mixCount, 1);
    // Left: 0.25 + the mono bus at -3 dB + the surround's front left, its centre and its side left
    // at -3 dB (the down-mix to stereo); the LFE is not heard on stereo.
    const f32 shared = 0.5f * 0.70710678f + 0.125f * (1.0f + 2 * 0.70710678f);
    EXPECT_NEAR(sink->lastWritten[200], 0.25f + shared, 1e-6f);
    EXPECT_NEAR(sink->lastWritten[201], shared, 1e-6f);
}

TEST_F(OutputDeviceTest, PanningRuleReachesTheListenersOfAKnownDeviceOnly) {
    CAuLowerEngine::SetPanningRule(4, 2, AuPanningRule_Headphones);
    EXPECT_TRUE(Trace().empty());
    CAuLowerEngine::SetPanningRule(16, 0, AuPanningRule_Headphones);
    EXPECT_EQ(Main()->ePanningRule, AuPanningRule_Headphones);
    EXPECT_EQ(Trace(), (std::vector<std::string>{"listeners.recompute"}));
}

TEST_F(OutputDeviceTest, StartOutputsStartsEverySink) {
    ASSERT_EQ(CAuLowerEngine::AddSecondaryOutput(AuOutputSettings{}, 4, 1, 0, 0), AuResultSuccess);
    CAuLowerEngine::StartOutputs();
    EXPECT_EQ(SinkOf(Main())->startCount, 1);
}

TEST(SpeakerAnglesTest, DefaultsFollowTheLayout) {
    const struct {
        u32 mask;
        u32 type;
        f32 front;
        f32 side;
    } cases[] = {
        {0x633, 1, 30, 100},                                                          // backs and sides
        {0x60F, 1, 30, 110}, {0x3, 1, 45, 110}, {0x7, 1, 45, 110}, {0x3, 0, 30, 110}, // anonymous
    };
    for (const auto& c : cases) {
        f32 degrees[3];
        f32 height = 0;
        const AuChannelConfig config(c.type == 1 ? AuChannelConfig::Standard(c.mask).uWord : 2u);
        CAuSpeakerPan::GetDefaultSpeakerAngles(config, degrees, height);
        EXPECT_EQ(degrees[0], c.front) << std::hex << c.mask;
        EXPECT_EQ(degrees[1], c.side) << std::hex << c.mask;
        EXPECT_EQ(degrees[2], 142.5f);
        EXPECT_EQ(height, 45.0f);
    }
}

TEST(SpeakerAnglesTest, ConversionValidatesAndFindsTheSmallestGap) {
    u32 units[3];
    f32 gap = 0;
    const f32 good[3] = {30, 100, 142.5f};
    ASSERT_EQ(CAuSpeakerPan::SetSpeakerAngles(good, 3, units, gap), AuResultSuccess);
    EXPECT_EQ(units[0], 43u);
    EXPECT_EQ(units[1], 142u);
    EXPECT_EQ(units[2], 203u);
    EXPECT_EQ(gap, 43.0f);
    const f32 behindIsClose[2] = {60, 170};
    ASSERT_EQ(CAuSpeakerPan::SetSpeakerAngles(behindIsClose, 2, units, gap), AuResultSuccess);
    EXPECT_EQ(gap, 2.0f * (256 - 242)) << "twice the room behind the last pair";
    const f32 bad[][3] = {{90, 100, 120}, {30, 110, 110}, {30, 20, 40},
                          {30, 100, 180}, {-5, 100, 120}, {0, 10, 20}};
    for (const auto& angles : bad)
        EXPECT_EQ(CAuSpeakerPan::SetSpeakerAngles(angles, 3, units, gap), AuResultFail)
            << angles[0] << " " << angles[2];
}
