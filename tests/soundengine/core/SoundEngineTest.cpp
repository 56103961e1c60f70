// The engine started and stopped for real: its audio thread, the order of its start and stop,
// what a failed start leaves behind, the suspended pacing thread and callbacks on the audio thread.
#include "core/AuAudioMgr.h"
#include "core/AuCpuInfo.h"
#include "core/AuEngineManagers.h"
#include "core/AuEngineTrace.h"
#include "core/AuObjectIndex.h"
#include "core/AuOutputTiming.h"
#include "core/AuPlayingMgr.h"
#include "core/AuSoundEngineInternal.h"
#include "core/AuThreads.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuOutputSide.h"
#include "voices/AuSink.h"

#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>
#include <AU/SoundEngine.h>
#include <AuEngineStarter.h>

#include <audio_test_control.h>
#include <gtest/gtest.h>
#include <win32_testing.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Lines traced on the test's own thread, and a count of the audio thread's passes.
struct TraceLog {
    std::mutex lock;
    std::condition_variable changed;
    std::thread::id owner = std::this_thread::get_id();
    std::vector<std::string> lines;
    u32 passes = 0;
};

TraceLog* g_log = nullptr;

void Collect(const char* step, void*) {
    std::lock_guard guard(g_log->lock);
    if (std::this_thread::get_id() == g_log->owner) g_log->lines.push_back(step);
    if (std::string(step) == "pass") ++g_log->passes;
    g_log->changed.notify_all();
}

bool ThreadNamed(const std::string& name) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string line;
        std::getline(comm, line);
        if (line == name) return true;
    }
    return false;
}

class SoundEngineTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(AuEngineStarter::StartMemoryAndStreams(8));
        g_log = &m_log;
        AuSetTraceSink(Collect, nullptr);
        m_handlesBefore = win32test::OpenHandleCount();
        m_poolsBefore = AU::MemoryMgr::GetNumPools();
    }
    void TearDown() override {
        m_engine.Stop();
        AuSetTraceSink(nullptr, nullptr);
        g_log = nullptr;
    }

    void ExpectNothingLeft() {
        EXPECT_FALSE(AU::SoundEngine::IsInitialized());
        EXPECT_EQ(g_DefaultPoolId, -1);
        EXPECT_EQ(g_LEngineDefaultPoolId, -1);
        EXPECT_EQ(AU::MemoryMgr::GetNumPools(), m_poolsBefore);
        EXPECT_EQ(win32test::OpenHandleCount(), m_handlesBefore);
        EXPECT_EQ(g_pAudioMgr, nullptr);
        EXPECT_EQ(g_pIndex, nullptr);
        EXPECT_EQ(g_pPlayingMgr, nullptr);
        EXPECT_EQ(g_pStateMgr, nullptr);
        EXPECT_FALSE(ThreadNamed("AU::EventManage"));
    }

    void WaitForPasses(u32 count) {
        std::unique_lock guard(m_log.lock);
        const u32 target = m_log.passes + count;
        m_log.changed.wait(guard, [&] { return m_log.passes >= target; });
    }

    AuEngineStarter m_engine;
    TraceLog m_log;
    size_t m_handlesBefore = 0;
    i32 m_poolsBefore = 0;
};

} // namespace

TEST_F(SoundEngineTest, InitStartsTheAudioThreadThatRunsPassesOnTheOutputsTimeOut) {
    ASSERT_EQ(AU::SoundEngine::Init(nullptr, nullptr), AuResultSuccess);
    EXPECT_TRUE(AU::SoundEngine::IsInitialized());
    EXPECT_TRUE(ThreadNamed("AU::EventManage")) << "the name cut to 15 characters";
    EXPECT_NE(g_pAudioMgr->AudioThreadId(), 0u);
    // No RenderAudio: the output's time-out alone keeps the passes coming.
    WaitForPasses(3);
    EXPECT_EQ(AU::SoundEngine::RenderAudio(), AuResultSuccess);
    WaitForPasses(1);
    EXPECT_EQ(g_OutputTiming.uBufferMs, 21u);
    EXPECT_EQ(g_OutputTiming.uBufferQuarterMs, 5u);
    EXPECT_EQ(g_OutputTiming.uRateFactor, 128u);
    AU::SoundEngine::Term();
    ExpectNothingLeft();
}

TEST_F(SoundEngineTest, InitAndTermRunTheirStepsInOrder) {
    ASSERT_EQ(AU::SoundEngine::Init(nullptr, nullptr), AuResultSuccess);
    {
        std::lock_guard guard(m_log.lock);
        EXPECT_EQ(m_log.lines, (std::vector<std::string>{
                                   "init", "default pool", "object index", "rtpc manager", "curve table",
                                   "bank manager", "playing manager", "position repository",
                                   "registry manager", "modulator manager", "transition manager",
                                   "path manager", "switch manager", "state manager", "bank chunk readers",
                                   "voice side", "instance manager", "audio manager", "audio thread"}));
        m_log.lines.clear();
    }
    AU::SoundEngine::Term();
    std::lock_guard guard(m_log.lock);
    EXPECT_EQ(m_log.lines, (std::vector<std::string>{"term",
                                                     "motion devices",
                                                     "stop audio thread",
                                                     "stop bank thread",
                                                     "bank chunk readers",
                                                     "terminate modulators",
                                                     "terminate voices",
                                                     "bank manager",
                                                     "release run-time objects",
                                                     "global callbacks",
                                                     "instance manager",
                                                     "audio manager",
                                                     "path manager",
                                                     "transition manager",
                                                     "registry manager",
                                                     "playing manager",
                                                     "position repository",
                                                     "curve table",
                                                     "switch manager",
                                                     "state manager",
                                                     "rtpc manager",
                                                     "modulator manager",
                                                     "object index",
                                                     "default pool"}));
}

TEST_F(SoundEngineTest, SettingsComeBackAsTheEngineTookThem) {
    AuInitSettings settings;
    AU::SoundEngine::GetDefaultInitSettings(settings);
    EXPECT_EQ(settings.samplesPerFrame, 1024u);
    EXPECT_EQ(settings.commandQueueSize, 0x40000u);
    EXPECT_EQ(settings.mainOutputType, 3u);
    EXPECT_EQ(settings.deviceTimeoutMs, 1000u);
    EXPECT_TRUE(settings.useBankManagerThread);
    settings.samplesPerFrame = 256;
    settings.defaultPoolSize = 64;
    AuPlatformInitSettings platform;
    AU::SoundEngine::GetDefaultPlatformInitSettings(platform);
    platform.outputRefillBuffers = 1;
    platform.sampleRateMode = 1;
    ASSERT_EQ(AU::SoundEngine::Init(&settings, &platform), AuResultSuccess);
    EXPECT_EQ(platform.outputRefillBuffers, 4);
    EXPECT_EQ(AuSoundEngineInternal::InitSettings().mainOutputSettings.channelConfig.uWord, 0x3102u)
        << "the engine's copy holds the main output's layout";
    EXPECT_EQ(g_OutputTiming.uSampleRate, 24000u);
    EXPECT_EQ(g_OutputTiming.uBufferMs, 10u);
    EXPECT_EQ(g_OutputTiming.uBufferQuarterMs, 2u);
    EXPECT_EQ(g_OutputTiming.uRateFactor, 64u);
    AU::MemoryMgr::PoolMemInfo info{};
    AU::MemoryMgr::GetPoolMemoryUsed(g_DefaultPoolId, info);
    EXPECT_GT(info.uReserved + info.uUsed, 0x1000000u - 8192) << "64 bytes means the default 16 MiB";
}

// Every field the engine replaced comes back in the caller's records, the rest as given, also from
// a start that fails.
TEST_F(SoundEngineTest, InitGivesBackEveryFieldItAdjusted) {
    using Edit = void (*)(AuInitSettings&, AuPlatformInitSettings&);
    constexpr u32 stereo = AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO).uWord;
    constexpr u32 surround = AuChannelConfig::Standard(AU_SPEAKER_SETUP_7POINT1).uWord;
    const struct {
        const char* name;
        Edit given;
        void (*before)(); // what the test does to the platform first, or null
        AURESULT result;
        Edit expected; // the given records as they come back
    } cases[] = {
        {"an empty ring takes the smallest", [](auto& s, auto&) { s.commandQueueSize = 0; }, nullptr,
         AuResultSuccess, [](auto& s, auto&) { s.commandQueueSize = CAuAudioMgr::kMinQueueSize; }},
        {"the ring rounds down to 8 bytes", [](auto& s, auto&) { s.commandQueueSize = 1001; }, nullptr,
         AuResultSuccess, [](auto& s, auto&) { s.commandQueueSize = 1000; }},
        {"a ring of the right size stays", [](auto& s, auto&) { s.commandQueueSize = 4096; }, nullptr,
         AuResultSuccess, [](auto&, auto&) {}},
        {"no transitions means the default", [](auto& s, auto&) { s.maxTransitions = 0; }, nullptr,
         AuResultSuccess, [](auto& s, auto&) { s.maxTransitions = 255; }},
        {"a tiny default pool means 16 MiB", [](auto& s, auto&) { s.defaultPoolSize = 64; }, nullptr,
         AuResultSuccess, [](auto& s, auto&) { s.defaultPoolSize = 0x1000000; }},
        {"no default pool size means 16 MiB", [](auto& s, auto&) { s.defaultPoolSize = 0; }, nullptr,
         AuResultSuccess, [](auto& s, auto&) { s.defaultPoolSize = 0x1000000; }},
        {"a tiny lower-engine pool means 16 MiB", [](auto&, auto& p) { p.lowerEnginePoolSize = 1; }, nullptr,
         AuResultSuccess, [](auto&, auto& p) { p.lowerEnginePoolSize = 0x1000000; }},
        {"one refill buffer means 4", [](auto&, auto& p) { p.outputRefillBuffers = 1; }, nullptr,
         AuResultSuccess, [](auto&, auto& p) { p.outputRefillBuffers = 4; }},
        {"the sink's layout replaces none",
         [](auto& s, auto&) { s.mainOutputSettings.channelConfig = AuChannelConfig(); },
         [] { audiotest::SetDeviceChannels(8); }, AuResultSuccess,
         [](auto& s, auto&) { s.mainOutputSettings.channelConfig.uWord = surround; }},
        {"a main output that cannot open falls back to silence", [](auto&, auto&) {},
         [] { audiotest::FailNextCreation(CLSID_XAudio2, REGDB_E_CLASSNOTREG); }, AuResultSuccess,
         [](auto& s, auto&) { s.mainOutputType = AU_SINK_OPTION_DUMMY; }},
        {"a failed start gives back what it took",
         [](auto& s, auto& p) {
             s.samplesPerFrame = 1000;
             s.commandQueueSize = 0;
             s.maxTransitions = 0;
             s.defaultPoolSize = 0;
             p.outputRefillBuffers = 0;
             p.lowerEnginePoolSize = 0;
         },
         nullptr, AuResultInvalidParameter,
         [](auto& s, auto& p) {
             s.defaultPoolSize = 0x1000000;
             p.outputRefillBuffers = 4;
             p.lowerEnginePoolSize = 0x1000000;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AuInitSettings settings;
        AU::SoundEngine::GetDefaultInitSettings(settings);
        settings.mainOutputSettings.channelConfig.uWord = stereo; // what the default device gives
        AuPlatformInitSettings platform;
        AU::SoundEngine::GetDefaultPlatformInitSettings(platform);
        c.given(settings, platform);
        AuInitSettings expected = settings;
        AuPlatformInitSettings expectedPlatform = platform;
        c.expected(expected, expectedPlatform);
        if (c.before) c.before();
        ASSERT_EQ(AU::SoundEngine::Init(&settings, &platform), c.result);
        audiotest::ClearInjectedFailures();
        if (c.result == AuResultSuccess) {
            EXPECT_EQ(g_pAudioMgr->Capacity(), settings.commandQueueSize) << "what the engine runs";
            AU::SoundEngine::Term();
        }
        EXPECT_EQ(settings.assertHook, expected.assertHook);
        EXPECT_EQ(settings.maxPathRecords, expected.maxPathRecords);
        EXPECT_EQ(settings.maxTransitions, expected.maxTransitions);
        EXPECT_EQ(settings.defaultPoolSize, expected.defaultPoolSize);
        EXPECT_EQ(settings.memoryThresholdRatio, expected.memoryThresholdRatio);
        EXPECT_EQ(settings.commandQueueSize, expected.commandQueueSize);
        EXPECT_EQ(settings.preparedMediaPoolId, expected.preparedMediaPoolId);
        EXPECT_EQ(settings.gameSyncPreparation, expected.gameSyncPreparation);
        EXPECT_EQ(settings.playAndContinueLookAhead, expected.playAndContinueLookAhead);
        EXPECT_EQ(settings.samplesPerFrame, expected.samplesPerFrame);
        EXPECT_EQ(settings.reservedSizeA, expected.reservedSizeA);
        EXPECT_EQ(settings.reservedSizeB, expected.reservedSizeB);
        EXPECT_EQ(settings.mainOutputType, expected.mainOutputType);
        EXPECT_EQ(settings.mainOutputSettings.ePanningRule, expected.mainOutputSettings.ePanningRule);
        EXPECT_EQ(settings.mainOutputSettings.channelConfig.uWord,
                  expected.mainOutputSettings.channelConfig.uWord);
        EXPECT_EQ(settings.mainOutputSettings.pfnSinkPluginCreator,
                  expected.mainOutputSettings.pfnSinkPluginCreator);
        EXPECT_EQ(settings.deviceTimeoutMs, expected.deviceTimeoutMs);
        EXPECT_EQ(settings.useBankManagerThread, expected.useBankManagerThread);
        EXPECT_EQ(platform.window, expectedPlatform.window);
        EXPECT_EQ(platform.lowerEnginePoolSize, expectedPlatform.lowerEnginePoolSize);
        EXPECT_EQ(platform.lowerEnginePoolRatio, expectedPlatform.lowerEnginePoolRatio);
        EXPECT_EQ(platform.outputRefillBuffers, expectedPlatform.outputRefillBuffers);
        EXPECT_EQ(platform.sampleRateMode, expectedPlatform.sampleRateMode);
        EXPECT_EQ(platform.outputFlag, expectedPlatform.outputFlag);
        EXPECT_EQ(platform.reservedWord, expectedPlatform.reservedWord);
        EXPECT_EQ(platform.audioThread.uStackSize, expectedPlatform.audioThread.uStackSize);
        EXPECT_EQ(platform.bankManagerThread.uStackSize, expectedPlatform.bankManagerThread.uStackSize);
        ExpectNothingLeft();
    }
}

TEST_F(SoundEngineTest, ASecondInitLeavesTheRunningEngineAlone) {
    ASSERT_EQ(AU::SoundEngine::Init(nullptr, nullptr), AuResultSuccess);
    const size_t handles = win32test::OpenHandleCount();
    const AuMemPoolId pool = g_DefaultPoolId;
    AuInitSettings settings;
    AU::SoundEngine::GetDefaultInitSettings(settings);
    settings.samplesPerFrame = 512;
    AuPlatformInitSettings platform;
    AU::SoundEngine::GetDefaultPlatformInitSettings(platform);
    platform.outputRefillBuffers = 0;
    platform.sampleRateMode = 1;
    EXPECT_EQ(AU::SoundEngine::Init(&settings, &platform), AuResultFail);
    EXPECT_EQ(platform.outputRefillBuffers, 4) << "the caller learns what its platform record means";
    EXPECT_EQ(settings.samplesPerFrame, 512u);
    EXPECT_TRUE(AU::SoundEngine::IsInitialized());
    EXPECT_EQ(g_uNumSamplesPerFrame, 1024);
    EXPECT_EQ(CAuLowerEngine::PlatformSettings().sampleRateMode, 0u);
    EXPECT_EQ(g_DefaultPoolId, pool);
    EXPECT_EQ(win32test::OpenHandleCount(), handles);
    WaitForPasses(2);
}

TEST_F(SoundEngineTest, AFailedStartLeavesNoThreadNoPoolAndNoManager) {
    CAuCpuInfo noSse(0, 1024, 64);
    CAuCpuInfo::SetForTest(&noSse);
    EXPECT_EQ(AU::SoundEngine::Init(nullptr, nullptr), AuResultNoSSE);
    CAuCpuInfo::SetForTest(nullptr);
    ExpectNothingLeft();

    AU::IAuStreamMgr* const streamMgr = AU::IAuStreamMgr::m_pStreamMgr;
    AU::IAuStreamMgr::m_pStreamMgr = nullptr;
    EXPECT_EQ(AU::SoundEngine::Init(nullptr, nullptr), AuResultStreamMgrMissing);
    AU::IAuStreamMgr::m_pStreamMgr = streamMgr;
    ExpectNothingLeft();

    const struct {
        u32 samplesPerFrame;
        u32 defaultPoolSize;
        AURESULT expected;
    } cases[] = {{1000, 0, AuResultInvalidParameter},
                 {0, 0, AuResultInvalidParameter},
                 {1024, 65, AuResultNoMemory},
                 {1024, 4096, AuResultNoMemory}};
    for (const auto& c : cases) {
        AuInitSettings settings;
        AU::SoundEngine::GetDefaultInitSettings(settings);
        settings.samplesPerFrame = c.samplesPerFrame;
        settings.defaultPoolSize = c.defaultPoolSize;
        EXPECT_EQ(AU::SoundEngine::Init(&settings, nullptr), c.expected)
            << c.samplesPerFrame << " " << c.defaultPoolSize;
        EXPECT_EQ(settings.samplesPerFrame, c.samplesPerFrame);
        ExpectNothingLeft();
    }

    AuEngineStarter::StopMemoryAndStreams();
    EXPECT_EQ(AU::SoundEngine::Init(nullptr, nullptr), AuResultMemoryMgrNotReady);
    ASSERT_NO_FATAL_FAILURE(AuEngineStarter::StartMemoryAndStreams(8));
    EXPECT_EQ(AU::SoundEngine::Init(nullptr, nullptr), AuResultSuccess);
}

TEST_F(SoundEngineTest, ThePacingThreadOfASuspensionIsJoinedOnWakeUpAndOnTerm) {
    ASSERT_EQ(AU::SoundEngine::Init(nullptr, nullptr), AuResultSuccess);
    const size_t handles = win32test::OpenHandleCount();
    EXPECT_EQ(AU::SoundEngine::Suspend(true), AuResultSuccess);
    EXPECT_TRUE(g_pAudioMgr->IsPacingWhileSuspended());
    EXPECT_TRUE(ThreadNamed("AU Suspended"));
    EXPECT_EQ(AU::SoundEngine::Suspend(true), AuResultTypeNotHandled);
    WaitForPasses(2);
    EXPECT_EQ(AU::SoundEngine::WakeupFromSuspend(), AuResultSuccess);
    EXPECT_FALSE(g_pAudioMgr->IsPacingWhileSuspended());
    EXPECT_EQ(win32test::OpenHandleCount(), handles);
    EXPECT_EQ(AU::SoundEngine::WakeupFromSuspend(), AuResultTypeNotHandled);

    EXPECT_EQ(AU::SoundEngine::Suspend(false), AuResultSuccess);
    EXPECT_FALSE(g_pAudioMgr->IsPacingWhileSuspended());
    EXPECT_EQ(AU::SoundEngine::WakeupFromSuspend(), AuResultSuccess);

    EXPECT_EQ(AU::SoundEngine::Suspend(true), AuResultSuccess);
    AU::SoundEngine::Term();
    ExpectNothingLeft();
}

namespace {

// What the callbacks of one test saw, and a latch that holds a callback until the test lets go.
struct CallbackLog {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<AuEventCallbackInfo> ends;
    std::vector<DWORD> threads;
    bool hold = false;
    bool holding = false;
    AuPlayingID nested = 0;
    AuPlayingID cancelInside = 0;
    u32 framesAfter = 0;
};

CallbackLog* g_callbacks = nullptr;
// Written by the test, taken by the audio thread's frame callback.
std::atomic<AuPlayingID> g_toEnd{0};

void OnFrame(bool lastCall) {
    if (lastCall) return;
    if (const AuPlayingID id = g_toEnd.exchange(0)) g_pPlayingMgr->RemovePendingAction(id);
    std::lock_guard guard(g_callbacks->lock);
    ++g_callbacks->framesAfter;
    g_callbacks->changed.notify_all();
}

void OnEvent(AuCallbackType type, AuCallbackInfo* info) {
    ASSERT_EQ(type, AU_EndOfEvent);
    const auto event = *static_cast<AuEventCallbackInfo*>(info);
    AuPlayingID nested = 0;
    {
        std::lock_guard guard(g_callbacks->lock);
        g_callbacks->ends.push_back(event);
        g_callbacks->threads.push_back(GetCurrentThreadId());
        g_callbacks->changed.notify_all();
        std::swap(nested, g_callbacks->nested);
    }
    // A callback may end another playing ID, whose callback then runs inside this one.
    if (nested) g_pPlayingMgr->RemovePendingAction(nested);
    if (g_callbacks->cancelInside == event.playingID) AU::SoundEngine::CancelEventCallback(event.playingID);
    std::unique_lock guard(g_callbacks->lock);
    if (!g_callbacks->hold || event.playingID != 100) return;
    g_callbacks->holding = true;
    g_callbacks->changed.notify_all();
    g_callbacks->changed.wait(guard, [] { return !g_callbacks->hold; });
    g_callbacks->holding = false;
}

class CallbackTest : public SoundEngineTest {
protected:
    void SetUp() override {
        SoundEngineTest::SetUp();
        g_callbacks = &m_callbacks;
        g_toEnd = 0;
        ASSERT_EQ(AU::SoundEngine::Init(nullptr, nullptr), AuResultSuccess);
        ASSERT_EQ(AU::SoundEngine::RegisterGlobalCallback(OnFrame), AuResultSuccess);
    }
    void TearDown() override {
        SoundEngineTest::TearDown();
        g_callbacks = nullptr;
    }

    void Post(AuPlayingID id, u32 flags = AU_EndOfEvent) {
        ASSERT_EQ(g_pPlayingMgr->AddPlayingID(id, 10, 5000 + id, OnEvent, &m_callbacks, flags, nullptr),
                  AuResultSuccess);
    }
    template <class Ready> void WaitUntil(Ready ready) {
        std::unique_lock guard(m_callbacks.lock);
        m_callbacks.changed.wait(guard, ready);
    }
    void WaitFrames(u32 frames) {
        std::unique_lock guard(m_callbacks.lock);
        const u32 target = m_callbacks.framesAfter + frames;
        m_callbacks.changed.wait(guard, [&] { return m_callbacks.framesAfter >= target; });
    }
    void Release() {
        std::lock_guard guard(m_callbacks.lock);
        m_callbacks.hold = false;
        m_callbacks.changed.notify_all();
    }
    // Cancels on a thread of its own; true once that thread is blocked waiting, false when the
    // cancel returned without waiting.
    bool CancelBlocks(std::thread& canceller, std::atomic<bool>& returned, AuPlayingID id) {
        const size_t waiting = win32test::BlockedWaiterCount();
        canceller = std::thread([&returned, id] {
            AU::SoundEngine::CancelEventCallback(id);
            returned = true;
        });
        while (!returned && win32test::BlockedWaiterCount() <= waiting)
            std::this_thread::yield();
        return !returned;
    }

    CallbackLog m_callbacks;
};

} // namespace

TEST_F(CallbackTest, TheEndOfAnEventIsToldOnceOnTheAudioThread) {
    Post(100);
    EXPECT_TRUE(g_pPlayingMgr->IsLive(100)) << "the post itself holds it";
    g_toEnd = 100;
    WaitUntil([&] { return !m_callbacks.ends.empty(); });
    WaitFrames(3);
    std::lock_guard guard(m_callbacks.lock);
    ASSERT_EQ(m_callbacks.ends.size(), 1u);
    EXPECT_EQ(m_callbacks.ends[0].pCookie, &m_callbacks);
    EXPECT_EQ(m_callbacks.ends[0].gameObjID, 10u);
    EXPECT_EQ(m_callbacks.ends[0].playingID, 100u);
    EXPECT_EQ(m_callbacks.ends[0].eventID, 5100u);
    EXPECT_EQ(m_callbacks.threads[0], g_pAudioMgr->AudioThreadId());
    EXPECT_EQ(g_pPlayingMgr->GetGameObjFromPlayingID(100), 0xFFFFFFFFu);
}

TEST_F(CallbackTest, ACancelFromTheGameWaitsForTheRunningCallback) {
    m_callbacks.hold = true;
    Post(100);
    g_toEnd = 100;
    WaitUntil([&] { return m_callbacks.holding; });
    std::thread canceller;
    std::atomic<bool> returned{false};
    EXPECT_TRUE(CancelBlocks(canceller, returned, 100));
    Release();
    canceller.join();
    EXPECT_TRUE(returned);
}

TEST_F(CallbackTest, ACancelInsideACallbackReturnsAtOnce) {
    m_callbacks.cancelInside = 100;
    Post(100);
    Post(101);
    g_toEnd = 100;
    WaitUntil([&] { return m_callbacks.ends.size() == 1; });
    // The audio thread went on: the next playing ID's end is heard.
    g_toEnd = 101;
    WaitUntil([&] { return m_callbacks.ends.size() == 2; });
}

TEST_F(CallbackTest, ANestedCallbackDoesNotLetACancelThroughEarly) {
    m_callbacks.hold = true;
    m_callbacks.nested = 101;
    Post(100);
    Post(101);
    g_toEnd = 100;
    // The outer callback ends 101 (its callback runs and returns), then holds.
    WaitUntil([&] { return m_callbacks.holding; });
    {
        std::lock_guard guard(m_callbacks.lock);
        ASSERT_EQ(m_callbacks.ends.size(), 2u);
        EXPECT_EQ(m_callbacks.ends[1].playingID, 101u);
    }
    std::thread canceller;
    std::atomic<bool> returned{false};
    EXPECT_TRUE(CancelBlocks(canceller, returned, 102));
    Release();
    canceller.join();
}

TEST_F(CallbackTest, BusCallbacksNeedARunningEngine) {
    EXPECT_EQ(AU::SoundEngine::RegisterBusVolumeCallback(3, [](AuSpeakerVolumeMatrixCallbackInfo*) {}),
              AuResultSuccess);
    EXPECT_TRUE(g_pPlayingMgr->BusCallbacks().HasVolumeCallback(3));
    EXPECT_EQ(AU::SoundEngine::RegisterBusMeteringCallback(
                  3, [](AU::IAuMetering*, AuChannelConfig, AuMeteringFlags) {}, AU_EnableBusMeter_Peak),
              AuResultSuccess);
    EXPECT_EQ(g_pPlayingMgr->BusCallbacks().GetMeteringFlags(3), AU_EnableBusMeter_Peak);
    AU::SoundEngine::Term();
    EXPECT_EQ(AU::SoundEngine::RegisterBusVolumeCallback(3, nullptr), AuResultFail);
    EXPECT_EQ(AU::SoundEngine::RegisterBusMeteringCallback(3, nullptr, AU_NoMetering), AuResultFail);
    EXPECT_EQ(AU::SoundEngine::RegisterGlobalCallback(OnFrame), AuResultFail);
}

namespace {

AuSinkKind MainSinkKind() {
    CAuMainLock lock;
    return static_cast<CAuBufferedSink*>(CAuLowerEngine::MainSink())->Kind();
}

} // namespace

TEST_F(SoundEngineTest, TheAudioThreadPlaysThroughXAudio2AndRidesOutADefaultDeviceChange) {
    ASSERT_EQ(AU::SoundEngine::Init(nullptr, nullptr), AuResultSuccess);
    ASSERT_EQ(MainSinkKind(), AuSinkKind_XAudio2);
    EXPECT_NE(AU::GetEngineXAudio2Interface(), nullptr);
    EXPECT_EQ(AuCurrentDeviceWatch(), AuDeviceWatch::Enumerator);
    WaitForPasses(3);

    // The first try to bring XAudio2 back fails, so the silent sink is seen for 32 frames at least.
    audiotest::FailNextCreation(CLSID_XAudio2, E_OUTOFMEMORY);
    std::thread system(
        [] { audiotest::SimulateDefaultDeviceChanged(eRender, eMultimedia, L"usb-speakers"); });
    system.join();
    bool silenced = false;
    bool restored = false;
    for (int pass = 0; pass < 5000 && !restored; ++pass) {
        WaitForPasses(1);
        const AuSinkKind kind = MainSinkKind();
        silenced = silenced || kind == AuSinkKind_Dummy;
        restored = silenced && kind == AuSinkKind_XAudio2;
    }
    EXPECT_TRUE(restored);
    EXPECT_FALSE(CAuLowerEngine::IsDeviceChangePending());
    AU::SoundEngine::Term();
    EXPECT_EQ(AuOutputEvent(), nullptr);
    EXPECT_EQ(audiotest::LiveObjectCount(), 0u);
    EXPECT_EQ(audiotest::NotificationClientCount(), 0u);
    ExpectNothingLeft();
}
