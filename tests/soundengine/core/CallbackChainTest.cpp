// The game's banks in the smallest ring, with a "play next" chain of end-of-event callbacks that
// re-post from the audio thread while one game thread posts positions, parameters and events: every
// message runs once in each thread's order, and no pass is kept going for ever by the records its
// own callbacks post. TORVIK_RING_SOAK_SECONDS=N runs the same loop for N seconds.
#include "core/AuAudioMgr.h"
#include "core/AuEngineManagers.h"
#include "core/AuRegistryMgr.h"
#include "core/AuThreads.h"
#include "parameters/AuRTPCMgr.h"

#include <AU/SoundEngine.h>
#include <AU/SoundEngineBanks.h>
#include <AuEngineStarter.h>
#include <Watchdog.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <mutex>

namespace {

constexpr u32 kObject = 7;
// Stop the music bus, stop the credits loop: with nothing playing, each ends while its message
// runs, so its callback posts from inside the pass.
constexpr AuUniqueID kEvents[] = {0xE7746BD5, 0xF5D36B26};
constexpr u32 kIterations = 3000;
// Every this many steps the chain's callback posts a burst larger than the whole ring, so that
// one of its posts finds the ring full and runs a pass itself.
constexpr u32 kBurstEvery = 5;
constexpr u32 kBurstPosts = 8;
static_assert(kBurstPosts * 48 > CAuAudioMgr::kMinQueueSize, "a burst must overflow the ring");

enum class Poster : uintptr_t { Game = 1, Chain = 2, Burst = 3 };

// Cookies carry who posted and a sequence number.
void* Cookie(Poster poster, u32 seq) {
    return reinterpret_cast<void*>((uintptr_t{seq} << 2) | static_cast<uintptr_t>(poster));
}

class CallbackChainTest : public testing::Test {
protected:
    void SetUp() override {
        s_self = this;
        ASSERT_NO_FATAL_FAILURE(AuEngineStarter::StartMemoryAndStreams(16));
        const std::filesystem::path resources = std::filesystem::path(TORVIK_SOUNDBANKS_DIR).parent_path();
        ASSERT_NO_FATAL_FAILURE(
            m_engine.OpenFolder(resources, AuEngineStarter::DefaultDevice(), L"SoundBanks/"));
        AuInitSettings settings;
        AU::SoundEngine::GetDefaultInitSettings(settings);
        settings.commandQueueSize = CAuAudioMgr::kMinQueueSize;
        ASSERT_EQ(AU::SoundEngine::Init(&settings, nullptr), AuResultSuccess);
        ASSERT_EQ(g_pAudioMgr->Capacity(), CAuAudioMgr::kMinQueueSize);
        AuBankID bank = 0;
        ASSERT_EQ(AU::SoundEngine::LoadBank("Init.bnk", AU_INVALID_POOL_ID, bank), AuResultSuccess);
        ASSERT_EQ(AU::SoundEngine::LoadBank("Torvik.bnk", AU_INVALID_POOL_ID, bank), AuResultSuccess);
        ASSERT_EQ(AU::SoundEngine::RegisterGameObj(kObject), AuResultSuccess);
        ASSERT_EQ(AU::SoundEngine::RegisterGlobalCallback(&OnFrame), AuResultSuccess);
    }
    void TearDown() override {
        m_engine.Stop();
        s_self = nullptr;
    }

    // Audio thread, g_csMain held.
    static void OnEnd(AuCallbackType type, AuCallbackInfo* info) {
        CallbackChainTest& self = *s_self;
        const auto& end = *static_cast<AuEventCallbackInfo*>(info);
        const auto cookie = reinterpret_cast<uintptr_t>(end.pCookie);
        const u32 seq = static_cast<u32>(cookie >> 2);
        if (type != AU_EndOfEvent) self.Error("a callback of another type");
        switch (static_cast<Poster>(cookie & 3)) {
        case Poster::Game:
            self.GameEventEnded(seq);
            break;
        case Poster::Chain:
            self.ChainStep(seq);
            break;
        case Poster::Burst:
            self.BurstEventEnded(end.playingID);
            break;
        }
        self.Notify(self.m_callbacks);
    }
    static void OnFrame(bool lastCall) {
        if (!lastCall) s_self->Notify(s_self->m_frames);
    }

    // The game object's position and parameter were set just before the event was posted, and the
    // next ones were posted after it: both must hold exactly what the game set for this event.
    void GameEventEnded(u32 seq) {
        if (seq != m_nextGame) return Error("a game event ran out of order");
        ++m_nextGame;
        CAuRegisteredObj* object = g_pRegistryMgr->GetObjAndAddref(kObject);
        if (!object) return Error("the game object is gone");
        const AuPositionArray& positions = object->Positions();
        if (positions.uCount != 1 || positions.pPositions[0].Position.X != Coordinate(seq))
            Error("the position of another iteration");
        if (g_pRTPCMgr->GetRTPCValue(m_param, AuRTPCKey(object)) != Value(seq))
            Error("the parameter value of another iteration");
        object->Release();
    }

    void ChainStep(u32 step) {
        if (step != m_nextChain) return Error("the chain ran a step twice or out of order");
        ++m_nextChain;
        if (m_stopChain.load()) {
            m_chainEnded = true;
            return;
        }
        if (!AU::SoundEngine::PostEvent(kEvents[step % 2], kObject, AU_EndOfEvent, &OnEnd,
                                        Cookie(Poster::Chain, step + 1))) {
            m_chainEnded = true;
            return Error("the chain's next post was refused");
        }
        // Not from a burst's own pass: that would only nest bursts until the depth limit.
        if (step % kBurstEvery != 0 || m_inBurst) return;
        m_inBurst = true;
        ++m_bursts;
        for (u32 i = 0; i < kBurstPosts; ++i) {
            const AuPlayingID id = AU::SoundEngine::PostEvent(kEvents[i % 2], kObject, AU_EndOfEvent, &OnEnd,
                                                              Cookie(Poster::Burst, 0));
            // A post returns only once reserved, and its record runs on this thread, so the order
            // of returns is the order of the ring.
            if (id)
                m_burstOrder.push_back(id);
            else
                ++m_refused;
        }
        m_inBurst = false;
    }

    void BurstEventEnded(AuPlayingID id) {
        if (m_burstOrder.empty() || m_burstOrder.front() != id)
            return Error("a burst's event ran out of order");
        m_burstOrder.pop_front();
        ++m_burstEvents;
    }

    static f32 Coordinate(u32 seq) { return static_cast<f32>(seq % 65536); }
    static f32 Value(u32 seq) { return static_cast<f32>(seq % 100); }

    void Error(const char* what) {
        if (m_errors.fetch_add(1) == 0) m_firstError.store(what);
    }
    void Notify(u64& counter) {
        {
            std::lock_guard lock(m_mutex);
            ++counter;
        }
        m_changed.notify_all();
    }
    // The game thread's iterations and the audio frames: a pass that never ends stops both.
    u64 ProgressCount() {
        std::lock_guard lock(m_mutex);
        return m_iterations + m_frames;
    }
    void Describe() {
        fprintf(stderr, "  game thread: %s\n", m_doing.load());
        fprintf(stderr, "  ring: read %u, write %u, pending %u of %u; frames posted %u, executed %u\n",
                g_pAudioMgr->ReadOffset(), g_pAudioMgr->WriteOffset(), g_pAudioMgr->PendingBytes(),
                g_pAudioMgr->Capacity(), g_pAudioMgr->PostedFrames(), g_pAudioMgr->ExecutedFrames());
    }

    static inline CallbackChainTest* s_self = nullptr;
    AuEngineStarter m_engine;
    AuUniqueID m_param = AU::SoundEngine::GetIDFromString("SFX_VO_Bus_Volume");

    // Audio thread only while the engine runs; the game thread reads them after the last callback.
    u32 m_nextGame = 0;
    u32 m_nextChain = 0;
    bool m_chainEnded = false;
    bool m_inBurst = false;
    u32 m_bursts = 0;
    u64 m_burstEvents = 0;
    u32 m_refused = 0;
    std::deque<AuPlayingID> m_burstOrder;

    std::atomic<bool> m_stopChain{false};
    std::atomic<u32> m_errors{0};
    std::atomic<const char*> m_firstError{""};
    std::atomic<const char*> m_doing{"starting"};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    u64 m_callbacks = 0;
    u64 m_frames = 0;
    u64 m_iterations = 0;
};

TEST_F(CallbackChainTest, ReentrantPostsFromCallbacksInAFullRingNeverStallAPass) {
    Watchdog watchdog(
        std::chrono::seconds(60), [this] { return ProgressCount(); }, [this] { Describe(); });
    const char* soak = std::getenv("TORVIK_RING_SOAK_SECONDS");
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(soak ? std::atoi(soak) : 0);

    m_doing.store("PostEvent of the chain's first step");
    ASSERT_NE(
        AU::SoundEngine::PostEvent(kEvents[0], kObject, AU_EndOfEvent, &OnEnd, Cookie(Poster::Chain, 0)), 0u);
    u32 posted = 0;
    for (; soak ? std::chrono::steady_clock::now() < until : posted < kIterations; ++posted) {
        m_doing.store("SetPosition (waits for room in the ring)");
        const AuSoundPosition position{{Coordinate(posted), 0.0f, 1.0f}, {0.0f, 0.0f, -1.0f}};
        ASSERT_EQ(AU::SoundEngine::SetPosition(kObject, position), AuResultSuccess);
        m_doing.store("SetRTPCValue (waits for room in the ring)");
        ASSERT_EQ(AU::SoundEngine::SetRTPCValue(m_param, Value(posted), kObject), AuResultSuccess);
        m_doing.store("PostEvent (waits for room in the ring)");
        ASSERT_NE(AU::SoundEngine::PostEvent(kEvents[posted % 2], kObject, AU_EndOfEvent, &OnEnd,
                                             Cookie(Poster::Game, posted)),
                  0u);
        m_doing.store("RenderAudio (waits for room for the end of the frame)");
        ASSERT_EQ(AU::SoundEngine::RenderAudio(), AuResultSuccess);
        Notify(m_iterations);
    }

    // The game falls idle with the chain alive: the audio thread must still come out of its
    // passes and render.
    {
        m_doing.store("idle, waiting for the audio thread to render frames");
        std::unique_lock lock(m_mutex);
        const u64 frames = m_frames;
        m_changed.wait(lock, [&] { return m_frames >= frames + 3; });
    }
    // Frames until the chain has taken its last step and every event has ended.
    m_stopChain.store(true);
    m_doing.store("closing frames until the chain ends and every event has ended");
    for (;;) {
        std::unique_lock lock(m_mutex);
        const u64 seen = m_callbacks;
        lock.unlock();
        {
            CAuMainLock engine;
            if (m_chainEnded && m_nextGame == posted && m_burstOrder.empty()) break;
        }
        AU::SoundEngine::RenderAudio();
        lock.lock();
        m_changed.wait(lock, [&] { return m_callbacks != seen || g_pAudioMgr->IsEmpty(); });
    }
    CAuMainLock engine;
    EXPECT_EQ(m_errors.load(), 0u) << m_firstError.load();
    EXPECT_EQ(m_nextGame, posted);
    EXPECT_TRUE(m_burstOrder.empty()) << m_burstOrder.size() << " burst events never ran";
    EXPECT_GT(m_bursts, 0u);
    EXPECT_GT(m_burstEvents, 0u);
    printf("%u game iterations, %u chain steps, %u bursts, %llu burst events, %u burst posts refused\n",
           posted, m_nextChain, m_bursts, static_cast<unsigned long long>(m_burstEvents), m_refused);
}

} // namespace
