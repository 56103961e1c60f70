// One audio pass at a time, on the test's thread, with an audio manager that has no thread: the
// order of a pass, the output-device check, the suspended mode's buffer count and the launch of
// pending actions.
#include "../voices/VoiceTestSupport.h"
#include "core/AuAudioMgr.h"
#include "core/AuEngineTrace.h"
#include "core/AuObjectIndex.h"
#include "core/AuPendingAction.h"
#include "core/AuSoundEngineInternal.h"
#include "hierarchy/AuAction.h"

#include <algorithm>

using namespace voicetest;

namespace {

void Collect(const char* step, void*) {
    Trace().push_back(step);
}

class AudioFrameTest : public VoicesTest {
protected:
    void SetUp() override {
        VoicesTest::SetUp();
        AuSetHardwareSinks(&m_hardware);
        InitLowerEngine();
        m_sink = m_hardware.made.at(0);
        ASSERT_EQ(m_mgr.Init(4096), AuResultSuccess);
        // The virtual clock counts nanoseconds.
        g_fPerfCountsPerMs = 1e6f;
        AuSetTraceSink(Collect, nullptr);
        Trace().clear();
    }
    void TearDown() override {
        AuSetTraceSink(nullptr, nullptr);
        m_mgr.Term();
        VoicesTest::TearDown();
    }

    std::vector<std::string> Pass() {
        Trace().clear();
        m_mgr.Perform();
        return Trace();
    }
    static size_t Count(const std::vector<std::string>& trace, const char* step) {
        return static_cast<size_t>(std::count(trace.begin(), trace.end(), std::string(step)));
    }
    static bool Has(const std::vector<std::string>& trace, const char* step) {
        return Count(trace, step) != 0;
    }
    static AuSinkKind MainKind() { return static_cast<CAuBufferedSink*>(CAuLowerEngine::MainSink())->Kind(); }

    CAuAudioMgr m_mgr;
    RecordingSink* m_sink = nullptr;
};

} // namespace

TEST_F(AudioFrameTest, APassRunsItsStepsInOrder) {
    CAuLowerEngine::SetVoiceGraph(&m_graph);
    m_graph.voicesToStart = true;
    m_sink->buffersNeeded = 1;
    const std::vector<std::string> messages{"messages",     "pending actions", "listeners",
                                            "game objects", "start voices",    "voices.startcommands"};
    std::vector<std::string> expected{"pass"};
    expected.insert(expected.end(), messages.begin(), messages.end());
    for (const char* step :
         {"global callbacks", "transitions and paths", "limiters", "instances.limiters", "voice commands",
          "voices.commands", "modulators", "render", "voices.start 1024", "voices.preframe", "voices.render",
          "busses.mix", "sink.silence", "busses.removeidle", "instance events", "instances.events"})
        expected.push_back(step);
    expected.insert(expected.end(), messages.begin(), messages.end());
    EXPECT_EQ(Pass(), expected);
    EXPECT_EQ(m_mgr.FrameCounter(), 1u);
}

TEST_F(AudioFrameTest, MessagesAreHandledOnceMoreThanBuffersAreRendered) {
    for (const u32 buffers : {0u, 1u, 2u, 3u}) {
        m_sink->buffersNeeded = buffers;
        const auto trace = Pass();
        EXPECT_EQ(Count(trace, "messages"), buffers + 1) << buffers;
        EXPECT_EQ(Count(trace, "render"), buffers) << buffers;
        EXPECT_EQ(Count(trace, "global callbacks"), buffers) << buffers;
    }
    EXPECT_EQ(m_mgr.FrameCounter(), 6u);
}

TEST_F(AudioFrameTest, AnOutputThatTakesNothingForOverASecondAndSixtyPassesIsReset) {
    m_sink->buffersNeeded = 1;
    Pass(); // stamps the render
    m_sink->buffersNeeded = 0;
    AdvanceMs(1001);
    for (int pass = 1; pass <= 60; ++pass)
        ASSERT_FALSE(Has(Pass(), "device lost")) << pass;
    EXPECT_TRUE(Has(Pass(), "device lost")) << "the 61st pass";
    EXPECT_EQ(MainKind(), AuSinkKind_Dummy);
    EXPECT_TRUE(CAuLowerEngine::IsRestorePending());
}

TEST_F(AudioFrameTest, ManyPassesWithinTheTimeOutAreNotALoss) {
    m_sink->buffersNeeded = 1;
    Pass();
    m_sink->buffersNeeded = 0;
    AdvanceMs(999);
    for (int pass = 1; pass <= 100; ++pass)
        ASSERT_FALSE(Has(Pass(), "device lost")) << pass;
    AdvanceMs(2);
    EXPECT_TRUE(Has(Pass(), "device lost"));
}

TEST_F(AudioFrameTest, ARestoreIsTriedOnlyOnFramesThatAreMultiplesOf32) {
    m_hardware.failXAudio2 = m_hardware.failDirectSound = true;
    CAuLowerEngine::SetDeviceChangePending();
    EXPECT_TRUE(Has(Pass(), "device changed"));
    EXPECT_EQ(MainKind(), AuSinkKind_Dummy);
    std::vector<u32> restoredAt;
    // The silent sink now takes one buffer per 21 ms of the clock.
    for (int pass = 0; pass < 70; ++pass) {
        AdvanceMs(21);
        if (Has(Pass(), "restore sinks")) restoredAt.push_back(m_mgr.FrameCounter());
    }
    EXPECT_EQ(restoredAt, (std::vector<u32>{32, 64}));
    m_hardware.failDirectSound = false;
    while (m_mgr.FrameCounter() % 32 != 31) {
        AdvanceMs(21);
        Pass();
    }
    AdvanceMs(21);
    EXPECT_TRUE(Has(Pass(), "restore sinks"));
    EXPECT_FALSE(CAuLowerEngine::IsRestorePending());
    EXPECT_EQ(MainKind(), AuSinkKind_DirectSound);
}

TEST_F(AudioFrameTest, SuspendedPassesRenderByTheClockAtMostTwoBuffers) {
    m_sink->buffersNeeded = 1;
    Pass();
    ASSERT_EQ(CAuLowerEngine::SetSuspended(true, true), AuResultSuccess);
    const struct {
        i64 ms;
        size_t renders;
    } passes[] = {{5 * 21, 2}, {10, 0}, {11, 1}, {2 * 21, 2}, {20, 0}, {3, 1}};
    for (const auto& p : passes) {
        AdvanceMs(p.ms);
        EXPECT_EQ(Count(Pass(), "render"), p.renders) << p.ms;
    }
    // Without rendering every pass runs one frame, in which nothing is mixed.
    CAuLowerEngine::SetVoiceGraph(&m_graph);
    ASSERT_EQ(CAuLowerEngine::SetSuspended(true, false), AuResultTypeNotHandled);
    const auto trace = Pass();
    EXPECT_EQ(Count(trace, "render"), 1u);
    EXPECT_TRUE(Has(trace, "voices.skip"));
    EXPECT_FALSE(Has(trace, "busses.mix"));
}

namespace {

// Notes the frame counter of the pass in which it runs.
class FrameAction : public CAuAction {
public:
    FrameAction(u32 id, const CAuAudioMgr& mgr) : CAuAction(id), m_mgr(mgr) {}
    AURESULT Execute(CAuPendingAction&) override {
        ranAt.push_back(m_mgr.FrameCounter());
        Trace().push_back("action runs");
        return AuResultSuccess;
    }
    std::vector<u32> ranAt;

private:
    const CAuAudioMgr& m_mgr;
};

} // namespace

TEST_F(AudioFrameTest, ADelayedActionRunsInThePassWhoseFrameCounterReachesItsLaunchFrame) {
    CAuObjectIndex index;
    index.Init();
    g_pIndex = &index;
    auto* action = new (AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(FrameAction))) FrameAction(1, m_mgr);
    action->SetPropValue(AuPropID_Delay, 2 * 1024, 0, 0);
    m_sink->buffersNeeded = 1;
    EXPECT_EQ(m_mgr.EnqueueOrExecute(CAuPendingAction::Create(action, nullptr, AuCustomPlayParams{}, 0)),
              AuResultSuccess);
    Pass();
    EXPECT_TRUE(action->ranAt.empty());
    const auto trace = Pass();
    EXPECT_EQ(action->ranAt, (std::vector<u32>{2}));
    // After the second frame's render, in the pending-actions step that follows it.
    const auto render = std::find(trace.begin(), trace.end(), "render");
    const auto runs = std::find(trace.begin(), trace.end(), "action runs");
    ASSERT_NE(runs, trace.end());
    EXPECT_LT(render, runs);
    EXPECT_EQ(*(runs - 1), "pending actions");
    action->Release();
    index.Term();
    g_pIndex = nullptr;
}
