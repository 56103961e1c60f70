// The exports against the running engine: their records reach the audio thread in order, from
// any number of threads at once, and the global callbacks frame the engine's life.
#include "core/AuAudioMgr.h"
#include "core/AuEngineManagers.h"
#include "core/AuListener.h"
#include "core/AuMsgPayloads.h"
#include "core/AuThreads.h"

#include <AU/SoundEngine.h>
#include <AuEngineStarter.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace AU::SoundEngine;

struct Frames {
    std::mutex lock;
    std::condition_variable changed;
    u32 count = 0;
    std::vector<int> calls; // +1/-1: first callback, +2/-2: second; negative at Term
};
Frames* g_frames = nullptr;

void OnFrameFirst(bool last) {
    std::lock_guard guard(g_frames->lock);
    g_frames->calls.push_back(last ? -1 : 1);
    ++g_frames->count;
    g_frames->changed.notify_all();
}

void OnFrameSecond(bool last) {
    std::lock_guard guard(g_frames->lock);
    g_frames->calls.push_back(last ? -2 : 2);
}

class ExportsEngineTest : public testing::Test {
protected:
    void SetUp() override {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        m_folder = std::filesystem::path(testing::TempDir()) / "torvik_exports" / info->name();
        std::filesystem::remove_all(m_folder);
        std::filesystem::create_directories(m_folder);
        AuDeviceSettings device = AuEngineStarter::DefaultDevice();
        device.uIOMemorySize = 0;
        g_frames = &m_frames;
        ASSERT_NO_FATAL_FAILURE(m_engine.Start(8, m_folder, device));
        ASSERT_EQ(RegisterGlobalCallback(OnFrameFirst), AuResultSuccess);
        ASSERT_EQ(RegisterGlobalCallback(OnFrameSecond), AuResultSuccess);
    }
    void TearDown() override {
        m_engine.Stop();
        g_frames = nullptr;
    }
    // Closes the frame of calls and waits for two callbacks: the second belongs to a pass that
    // began after the frame was closed, so the frame's records have run.
    void RenderAndWait() {
        std::unique_lock guard(m_frames.lock);
        const u32 target = m_frames.count + 2;
        guard.unlock();
        ASSERT_EQ(RenderAudio(), AuResultSuccess);
        guard.lock();
        m_frames.changed.wait(guard, [&] { return m_frames.count >= target; });
    }

    Frames m_frames;
    std::filesystem::path m_folder;
    AuEngineStarter m_engine;
};

TEST_F(ExportsEngineTest, CallsActInOrderOnTheAudioThread) {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("exports_capture_" + std::to_string(getpid()) + ".wav");
    const AuSoundPosition position{{1, 2, 3}, {0, 0, -1}};
    ASSERT_EQ(RegisterGameObj(10, 3), AuResultSuccess);
    ASSERT_EQ(SetPosition(10, position), AuResultSuccess);
    ASSERT_EQ(SetListenerPosition({{0, 1, 1}, {0, 1, 0}, {0, 0, -2}}, 1), AuResultSuccess);
    ASSERT_EQ(StartOutputCapture(L"capture.wav"), AuResultSuccess);
    ASSERT_EQ(AddOutputCaptureMarker("hit"), AuResultSuccess);
    RenderAndWait();
    ASSERT_EQ(StopOutputCapture(), AuResultSuccess);
    RenderAndWait();
    {
        CAuMainLock lock;
        CAuRegisteredObj* object = g_pRegistryMgr->GetObjAndAddref(10);
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(object->ActiveListeners(), 3u);
        ASSERT_EQ(object->Positions().uCount, 1u);
        EXPECT_EQ(memcmp(object->Positions().pPositions, &position, sizeof(position)), 0);
        object->Release();
        const AuListenerData& listener = CAuListener::Data(1);
        EXPECT_EQ(listener.position.OrientationFront.Z, 1.0f);
        EXPECT_EQ(listener.position.OrientationFront.Y, 0.0f);
        EXPECT_EQ(listener.position.Position.Z, -2.0f);
    }
    std::ifstream in(m_folder / "capture.wav", std::ios::binary);
    ASSERT_TRUE(in.good());
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.compare(0, 4, "RIFF"), 0);
    const size_t cue = bytes.find("cue ");
    ASSERT_NE(cue, std::string::npos);
    EXPECT_EQ(bytes.find("cue ", cue + 4), std::string::npos);
    u32 points = 0;
    ASSERT_GE(bytes.size(), cue + 12);
    memcpy(&points, bytes.data() + cue + 8, 4);
    EXPECT_EQ(points, 1u);
}

TEST_F(ExportsEngineTest, GlobalCallbacksRunNewestFirstAndOnceAtTerm) {
    RenderAndWait();
    Term();
    std::lock_guard guard(m_frames.lock);
    const size_t n = m_frames.calls.size();
    // The audio thread may run frames between the two registrations: those call the first only.
    size_t both = 0;
    while (both < n && m_frames.calls[both] == 1)
        ++both;
    ASSERT_LE(both + 4, n);
    EXPECT_EQ(m_frames.calls[both], 2);
    EXPECT_EQ(m_frames.calls[both + 1], 1);
    EXPECT_EQ(m_frames.calls[n - 2], -2);
    EXPECT_EQ(m_frames.calls[n - 1], -1);
    for (size_t i = 0; i + 2 < n; ++i)
        EXPECT_GT(m_frames.calls[i], 0) << i;
}

// What the audio thread saw of each thread's game-parameter records.
struct Seen {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::vector<u32>> sequences;
    u32 torn = 0;
    u32 total = 0;
};

void RecordRTPC(void* context, const AuQueuedMsg& msg) {
    auto* seen = static_cast<Seen*>(context);
    const auto& p = msg.As<AuMsgSetRTPC>();
    std::lock_guard guard(seen->lock);
    const u32 seq = static_cast<u32>(p.value);
    if (p.paramID >= seen->sequences.size() || p.gameObjID != p.paramID * 1000000 + seq || p.playingID != 0)
        ++seen->torn;
    else
        seen->sequences[p.paramID].push_back(seq);
    ++seen->total;
    seen->changed.notify_all();
}

TEST_F(ExportsEngineTest, FourThreadsPostIntactRecordsInTheirOwnOrder) {
    constexpr u32 kThreads = 4;
    constexpr u32 kPosts = 3000;
    Seen seen;
    seen.sequences.resize(kThreads);
    // Before any record of the type is posted: the ring's publication orders this write before
    // the audio thread's read of the table entry.
    g_pAudioMgr->SetMsgHandler(AuQueuedMsgType_SetRTPC, {RecordRTPC, nullptr, &seen});
    std::vector<std::thread> threads;
    for (u32 t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (u32 seq = 0; seq < kPosts; ++seq) {
                SetRTPCValue(t, static_cast<f32>(seq), t * 1000000 + seq);
                if (seq % 100 == 99) RenderAudio();
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    RenderAudio();
    {
        std::unique_lock guard(seen.lock);
        seen.changed.wait(guard, [&] { return seen.total == kThreads * kPosts; });
    }
    Term();
    EXPECT_EQ(seen.torn, 0u);
    for (u32 t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen.sequences[t].size(), kPosts) << t;
        for (u32 seq = 0; seq < kPosts; ++seq)
            ASSERT_EQ(seen.sequences[t][seq], seq) << t;
    }
}

// Output queries on a game thread while the audio thread adds and removes a secondary output and
// changes the angles of it and of the main output: each answer is one device's whole state, one
// of the layouts set or the one a new device starts with.
TEST_F(ExportsEngineTest, OutputQueriesWhileOutputsComeAndGoSeeWholeDevices) {
    constexpr AuAudioOutputType kSecondary = AuAudioOutputType_SecondaryA;
    constexpr u32 kOutput = 1;
    struct Layout {
        f32 angles[3];
        f32 height;
    };
    const Layout layouts[] = {{{30, 110, 150}, 10}, {{45, 100, 140}, 20}};
    f32 startAngle = 0, startHeight = 0;
    {
        u32 count = 1;
        ASSERT_EQ(GetSpeakerAngles(&startAngle, count, startHeight), AuResultSuccess);
    }
    std::atomic<bool> done{false};
    std::atomic<u32> answers{0}, torn{0};
    std::thread query([&] {
        while (!done.load() || answers.load() == 0) {
            for (const auto& [type, id] :
                 {std::pair{AuAudioOutputType_Main, 0u}, std::pair{kSecondary, kOutput}}) {
                f32 angles[3] = {};
                u32 count = 3;
                f32 height = 0;
                AuPanningRule rule;
                const bool exists = GetSpeakerAngles(angles, count, height, type, id) == AuResultSuccess;
                GetPanningRule(rule, type, id);
                const AuChannelConfig config = GetSpeakerConfiguration(type, id);
                if (type == AuAudioOutputType_Main && (!exists || config.NumChannels() == 0)) ++torn;
                if (!exists) continue;
                ++answers;
                bool whole = height == startHeight && std::fabs(angles[0] - startAngle) < 1.0f;
                for (const Layout& layout : layouts)
                    whole =
                        whole || (height == layout.height && std::fabs(angles[0] - layout.angles[0]) < 1.0f);
                if (!whole) ++torn;
            }
        }
    });
    for (u32 round = 0; round < 60; ++round) {
        const Layout& layout = layouts[round % 2];
        ASSERT_EQ(AddSecondaryOutput(kOutput, kSecondary, 0x2), AuResultSuccess);
        ASSERT_EQ(SetSpeakerAngles(layout.angles, 3, layout.height, kSecondary, kOutput), AuResultSuccess);
        ASSERT_EQ(SetSpeakerAngles(layout.angles, 3, layout.height), AuResultSuccess);
        RenderAndWait();
        ASSERT_EQ(RemoveSecondaryOutput(kOutput, kSecondary), AuResultSuccess);
        RenderAndWait();
    }
    done.store(true);
    query.join();
    EXPECT_GT(answers.load(), 0u);
    EXPECT_EQ(torn.load(), 0u);
}

} // namespace
