#include "AuLogCapture.h"
#include "VoiceTestSupport.h"

#include <xmmintrin.h>

using namespace voicetest;

namespace {

class LowerEngineTest : public VoicesTest {
protected:
    static u32 NumPools() { return static_cast<u32>(AU::MemoryMgr::GetNumPools()); }
    // The pool reserves its size less a few kilobytes of allocator bookkeeping.
    static bool LEnginePoolHasSize(u32 size) {
        AU::MemoryMgr::PoolMemInfo info{};
        AU::MemoryMgr::GetPoolMemoryUsed(g_LEngineDefaultPoolId, info);
        return info.uReserved <= size && info.uReserved > size - 8192;
    }
};

u32 g_csrSeenInFrame = 0;

void RecordCsr() {
    g_csrSeenInFrame = _mm_getcsr();
}

// Rounding toward zero, set inside the frame by the fake.
constexpr u32 kRoundTowardZero = 0x6000;

void ChangeRounding() {
    _mm_setcsr(_mm_getcsr() | kRoundTowardZero);
}

} // namespace

TEST_F(LowerEngineTest, PlatformSettingsTakeDefaultsOrTheCallersRecordWithAtLeastTwoRefills) {
    AuPlatformInitSettings defaults;
    CAuLowerEngine::GetDefaultPlatformInitSettings(defaults);
    EXPECT_EQ(defaults.audioThread.nPriority, 1);
    EXPECT_EQ(defaults.audioThread.uStackSize, 32768u);
    EXPECT_EQ(defaults.bankManagerThread.nPriority, 0);
    EXPECT_EQ(defaults.lowerEnginePoolSize, 0x1000000u);
    EXPECT_EQ(defaults.outputRefillBuffers, 4);
    EXPECT_TRUE(defaults.outputFlag);
    EXPECT_EQ(defaults.reservedWord, nullptr);

    for (const u16 refills : {u16{0}, u16{1}, u16{2}, u16{7}}) {
        AuPlatformInitSettings settings = defaults;
        settings.outputRefillBuffers = refills;
        settings.sampleRateMode = 1;
        CAuLowerEngine::SetPlatformInitSettings(&settings);
        const u16 expected = refills < 2 ? 4 : refills;
        EXPECT_EQ(settings.outputRefillBuffers, expected) << "written back";
        EXPECT_EQ(CAuLowerEngine::PlatformSettings().outputRefillBuffers, expected);
        EXPECT_EQ(CAuLowerEngine::PlatformSettings().sampleRateMode, 1u);
    }
    CAuLowerEngine::SetPlatformInitSettings(nullptr);
    EXPECT_EQ(CAuLowerEngine::PlatformSettings().sampleRateMode, 0u);
    EXPECT_EQ(CAuLowerEngine::PlatformSettings().outputRefillBuffers, 4);
}

TEST_F(LowerEngineTest, InitMakesThePoolAndASilentMainOutputAndTermTakesThemAway) {
    const u32 poolsBefore = NumPools();
    CAuLowerEngine::SetVoiceGraph(&m_graph);
    CAuLowerEngine::SetListeners(&m_listeners);
    InitLowerEngine();
    EXPECT_NE(g_LEngineDefaultPoolId, -1);
    EXPECT_EQ(NumPools(), poolsBefore + 1);
    EXPECT_TRUE(LEnginePoolHasSize(0x1000000u));
    ASSERT_EQ(CAuLowerEngine::NumDevices(), 1u);
    CAuOutputDevice* mainDevice = CAuLowerEngine::Devices();
    EXPECT_TRUE(mainDevice->Is(AuAudioOutputType_Main, 0));
    EXPECT_EQ(mainDevice->uListenerMask, 0xFFu);
    EXPECT_EQ(static_cast<CAuBufferedSink*>(mainDevice->pSink)->Kind(), AuSinkKind_Dummy);
    EXPECT_EQ(CAuLowerEngine::MainSink(), mainDevice->pSink);
    EXPECT_EQ(CAuLowerEngine::OutputConfig().uWord, 0x3102u);
    EXPECT_EQ(Trace(),
              (std::vector<std::string>{"listeners.init", "voices.outputs 16 0 255", "voices.init 512"}));

    Trace().clear();
    CAuLowerEngine::Term();
    EXPECT_EQ(Trace(), (std::vector<std::string>{"voices.term", "listeners.term"}));
    EXPECT_EQ(g_LEngineDefaultPoolId, -1);
    EXPECT_EQ(NumPools(), poolsBefore);
    EXPECT_EQ(CAuLowerEngine::NumDevices(), 0u);
    EXPECT_EQ(CAuLowerEngine::MainSink(), nullptr);
    EXPECT_EQ(Used(), m_usedAtStart);
}

TEST_F(LowerEngineTest, InitRefusesWithoutStreamManagerAndReportsTheVoiceCommandPool) {
    AU::IAuStreamMgr* const streamMgr = AU::IAuStreamMgr::m_pStreamMgr;
    AU::IAuStreamMgr::m_pStreamMgr = nullptr;
    EXPECT_EQ(CAuLowerEngine::Init(AuOutputSettings{}, 3), AuResultFail);
    AU::IAuStreamMgr::m_pStreamMgr = streamMgr;
    EXPECT_EQ(g_LEngineDefaultPoolId, -1);

    m_graph.initResult = AuResultNoMemory;
    CAuLowerEngine::SetVoiceGraph(&m_graph);
    EXPECT_EQ(CAuLowerEngine::Init(AuOutputSettings{}, 3), AuResultNoMemory);
}

TEST_F(LowerEngineTest, ASmallPoolSizeSettingMeansSixteenMebibytes) {
    for (const u32 size : {64u, 65536u}) {
        AuPlatformInitSettings settings;
        CAuLowerEngine::GetDefaultPlatformInitSettings(settings);
        settings.lowerEnginePoolSize = size;
        CAuLowerEngine::SetPlatformInitSettings(&settings);
        InitLowerEngine();
        EXPECT_TRUE(LEnginePoolHasSize(size == 64 ? 0x1000000u : size)) << size;
        CAuLowerEngine::Term();
    }
}

TEST_F(LowerEngineTest, TheMainOutputTakesTheHardwareSinkAndFallsBackToSilence) {
    AuSetHardwareSinks(&m_hardware);
    InitLowerEngine();
    ASSERT_EQ(m_hardware.made.size(), 1u);
    EXPECT_EQ(CAuLowerEngine::MainSink(), m_hardware.made[0]);
    EXPECT_EQ(CAuLowerEngine::Devices()->uOptions, 3u | AU_SINK_OPTION_MAIN);
    CAuLowerEngine::Term();

    m_hardware.failXAudio2 = m_hardware.failDirectSound = true;
    {
        AuLogCapture log;
        InitLowerEngine();
        ASSERT_EQ(log.Lines().size(), 1u);
        EXPECT_EQ(log.Lines()[0].first, AuLogLevel::Warning);
        EXPECT_NE(log.Text().find("silent"), std::string::npos);
    }
    EXPECT_EQ(static_cast<CAuBufferedSink*>(CAuLowerEngine::MainSink())->Kind(), AuSinkKind_Dummy);
    EXPECT_EQ(CAuLowerEngine::Devices()->uOptions, AU_SINK_OPTION_DUMMY);
    CAuLowerEngine::Term();

    // A main output asked to be silent never tries the m_hardware.
    m_hardware.failXAudio2 = m_hardware.failDirectSound = false;
    const int attempts = m_hardware.xaudio2Attempts;
    InitLowerEngine(AU_SINK_OPTION_DUMMY);
    EXPECT_EQ(m_hardware.xaudio2Attempts, attempts);
    EXPECT_EQ(CAuLowerEngine::Devices()->uOptions, AU_SINK_OPTION_DUMMY);
}

TEST_F(LowerEngineTest, AFrameRunsItsStepsInOrderAndEndsEveryDevicesFrame) {
    AuSetHardwareSinks(&m_hardware);
    CAuLowerEngine::SetVoiceGraph(&m_graph);
    CAuLowerEngine::SetMotionDeviceMgr(&m_motion);
    InitLowerEngine();
    ASSERT_EQ(CAuLowerEngine::AddSecondaryOutput(AuOutputSettings{}, 4, 1, 0, 0), AuResultSuccess);
    Trace().clear();
    CAuLowerEngine::Perform(1);
    EXPECT_EQ(Trace(), (std::vector<std::string>{"motion.poll", "voices.start 1024", "voices.preframe",
                                                 "voices.render", "busses.mix", "sink.silence",
                                                 "motion.render", "busses.removeidle"}));
    EXPECT_EQ(m_hardware.made[0]->silenceCount, 1);

    // Without voices or motion devices the devices' frames still end.
    CAuLowerEngine::SetVoiceGraph(nullptr);
    m_motion.hasDevices = false;
    Trace().clear();
    CAuLowerEngine::Perform(2);
    EXPECT_EQ(Trace(), (std::vector<std::string>{"sink.silence"}));
    CAuLowerEngine::SetMotionDeviceMgr(nullptr);
}

TEST_F(LowerEngineTest, SuspendedFramesMixNothingUnlessAskedTo) {
    CAuLowerEngine::SetVoiceGraph(&m_graph);
    InitLowerEngine();
    ASSERT_EQ(CAuLowerEngine::SetSuspended(true, false), AuResultSuccess);
    EXPECT_EQ(CAuLowerEngine::SetSuspended(true, false), AuResultTypeNotHandled);
    Trace().clear();
    CAuLowerEngine::Perform(1);
    EXPECT_EQ(Trace(), (std::vector<std::string>{"voices.start 1024", "voices.preframe", "voices.skip",
                                                 "busses.removeidle"}));
    EXPECT_EQ(CAuLowerEngine::SetSuspended(true, true), AuResultTypeNotHandled);
    Trace().clear();
    CAuLowerEngine::Perform(2);
    EXPECT_EQ(Trace(), (std::vector<std::string>{"voices.start 1024", "voices.preframe", "voices.render",
                                                 "busses.mix", "busses.removeidle"}));
}

TEST_F(LowerEngineTest, FlushToZeroHoldsInsideTheFrameAndTheCallersBitComesBack) {
    m_graph.onStartPending = RecordCsr;
    m_graph.onMixBusses = ChangeRounding;
    CAuLowerEngine::SetVoiceGraph(&m_graph);
    InitLowerEngine();
    const u32 original = _mm_getcsr();
    for (const bool flushBefore : {false, true}) {
        const u32 before = flushBefore ? (original | 0x8000) : (original & ~0x8000u);
        _mm_setcsr(before);
        CAuLowerEngine::Perform(1);
        const u32 after = _mm_getcsr();
        _mm_setcsr(original);
        EXPECT_TRUE(g_csrSeenInFrame & 0x8000) << flushBefore;
        EXPECT_EQ(after & 0x8000, before & 0x8000) << flushBefore;
        // What the frame did to the other bits stays.
        EXPECT_EQ(after & kRoundTowardZero, kRoundTowardZero) << flushBefore;
    }
}

TEST_F(LowerEngineTest, StarvationIsReportedAtMostOncePerEightFrames) {
    AuSetHardwareSinks(&m_hardware);
    InitLowerEngine();
    RecordingSink* sink = m_hardware.made[0];
    const struct {
        u32 frame;
        bool reported;
    } frames[] = {{100, true}, {104, false}, {108, false}, {109, true}, {110, false}};
    u32 lastReport = 0;
    for (const auto& f : frames) {
        sink->starved = true;
        CAuLowerEngine::Perform(f.frame);
        EXPECT_FALSE(sink->starved) << f.frame;
        if (f.reported) lastReport = f.frame;
        EXPECT_TRUE(CAuLowerEngine::HasStarvationReport());
        EXPECT_EQ(CAuLowerEngine::LastStarvationFrame(), lastReport) << f.frame;
    }
    EXPECT_EQ(sink->resetStarvedCount, 5);
}

TEST_F(LowerEngineTest, SuspendSwapsToSilentSinksAndWakingRestoresTheHardware) {
    AuSetHardwareSinks(&m_hardware);
    InitLowerEngine();
    ASSERT_EQ(CAuLowerEngine::AddSecondaryOutput(AuOutputSettings{}, 4, 1, 0, 0), AuResultSuccess);

    ASSERT_EQ(CAuLowerEngine::SetSuspended(true, false), AuResultSuccess);
    for (CAuOutputDevice* device = CAuLowerEngine::Devices(); device; device = device->pNextItem)
        EXPECT_EQ(static_cast<CAuBufferedSink*>(device->pSink)->Kind(), AuSinkKind_Dummy);
    EXPECT_EQ(CAuLowerEngine::MainSink(), CAuLowerEngine::Devices()->pSink);
    EXPECT_TRUE(CAuLowerEngine::IsRestorePending());

    m_hardware.failXAudio2 = m_hardware.failDirectSound = true;
    EXPECT_EQ(CAuLowerEngine::SetSuspended(false, false), AuResultFail);
    EXPECT_TRUE(CAuLowerEngine::IsRestorePending()) << "the restore is tried again later";
    EXPECT_FALSE(CAuLowerEngine::IsSuspended());

    m_hardware.failXAudio2 = m_hardware.failDirectSound = false;
    CAuLowerEngine::TryRestoreSinks();
    EXPECT_FALSE(CAuLowerEngine::IsRestorePending());
    RecordingSink* restored = m_hardware.made.back();
    EXPECT_EQ(CAuLowerEngine::MainSink(), restored);
    EXPECT_EQ(restored->startCount, 1);
    // The secondary output of kind 4 stays silent: its options ask for the dummy sink.
    EXPECT_EQ(static_cast<CAuBufferedSink*>(CAuLowerEngine::Devices()->pNextItem->pSink)->Kind(),
              AuSinkKind_Dummy);
}

TEST_F(LowerEngineTest, ASwapThatFindsNoMemoryKeepsTheOldSinkAndSaysSo) {
    AuSetHardwareSinks(&m_hardware);
    InitLowerEngine();
    ASSERT_EQ(CAuLowerEngine::AddSecondaryOutput(AuOutputSettings{}, 4, 1, 0, 0), AuResultSuccess);
    std::vector<void*> blocks;
    while (void* block = AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, 4096))
        blocks.push_back(block);
    EXPECT_EQ(CAuLowerEngine::SwitchToDummySinks(), AuResultFail);
    EXPECT_EQ(CAuLowerEngine::MainSink(), m_hardware.made[0])
        << "the device without a new sink keeps its own";
    EXPECT_EQ(CAuLowerEngine::SetSuspended(true, false), AuResultFail);
    EXPECT_FALSE(CAuLowerEngine::IsRestorePending());
    for (void* block : blocks)
        AU::MemoryMgr::Free(g_LEngineDefaultPoolId, block);
    EXPECT_EQ(CAuLowerEngine::SwitchToDummySinks(), AuResultSuccess);
    EXPECT_EQ(static_cast<CAuBufferedSink*>(CAuLowerEngine::MainSink())->Kind(), AuSinkKind_Dummy);
}

TEST_F(LowerEngineTest, ADeviceChangeSwitchesToSilenceUntilARestoreSucceeds) {
    AuSetHardwareSinks(&m_hardware);
    InitLowerEngine();
    CAuLowerEngine::SetDeviceChangePending();
    EXPECT_TRUE(CAuLowerEngine::IsDeviceChangePending());
    CAuLowerEngine::OnDeviceChanged();
    EXPECT_FALSE(CAuLowerEngine::IsDeviceChangePending());
    EXPECT_TRUE(CAuLowerEngine::IsRestorePending());
    EXPECT_EQ(static_cast<CAuBufferedSink*>(CAuLowerEngine::MainSink())->Kind(), AuSinkKind_Dummy);
    m_hardware.failXAudio2 = m_hardware.failDirectSound = true;
    CAuLowerEngine::TryRestoreSinks();
    EXPECT_TRUE(CAuLowerEngine::IsRestorePending());
    m_hardware.failDirectSound = false;
    CAuLowerEngine::TryRestoreSinks();
    EXPECT_FALSE(CAuLowerEngine::IsRestorePending());
    EXPECT_EQ(static_cast<CAuBufferedSink*>(CAuLowerEngine::MainSink())->Kind(), AuSinkKind_DirectSound);
}

TEST_F(LowerEngineTest, BuffersToRenderComeFromTheMainSinkPacedByTheClock) {
    InitLowerEngine();
    EXPECT_EQ(CAuLowerEngine::GetNumBuffersToRender(), 0u);
    EXPECT_EQ(CAuLowerEngine::GetWaitTimeout(), 5u);
    AdvanceMs(21);
    EXPECT_EQ(CAuLowerEngine::GetNumBuffersToRender(), 1u);
    AdvanceMs(21 * 4 + 10);
    EXPECT_EQ(CAuLowerEngine::GetNumBuffersToRender(), 4u);
    EXPECT_EQ(CAuLowerEngine::GetNumBuffersToRender(), 0u);
    CAuLowerEngine::Term();
    EXPECT_EQ(CAuLowerEngine::GetNumBuffersToRender(), 0u);
    EXPECT_EQ(CAuLowerEngine::GetWaitTimeout(), 0xFFFFFFFFu);
}
