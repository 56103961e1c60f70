// The exported posting layer from the game's threads. Calls per second of PostEvent and
// SetRTPCValue from 1 and 4 threads with an audio thread draining the ring; then the game's
// regime side by side with a mutex-and-deque queue: each producer posts a burst of 1,000
// messages per frame and closes the frame, the audio thread runs one pass per frame and the
// ring never fills. main() prints the cost of one post and the ratio.
#include "core/AuAudioMgr.h"
#include "core/AuMsgPayloads.h"
#include "core/AuObjectIndex.h"
#include "core/AuPlayingMgr.h"
#include "core/AuThreads.h"

#include <AU/MemoryMgr.h>
#include <AU/SoundEngine.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace {

constexpr u32 kEventID = 77;
constexpr u32 kBurst = 1000;

// An event that lives as long as the benchmark.
class BenchEvent final : public CAuIndexable {
public:
    BenchEvent() : CAuIndexable(kEventID) {}
    u32 AddRef() override { return AddRefIn(g_pIndex->Table(AuIndexEvents)); }
    u32 Release() override { return ReleaseIn(g_pIndex->Table(AuIndexEvents)); }
};

// What the event path will do with a posted event, as far as the records go: the playing ID
// ends and the event's reference is given back.
void EndEvent(void*, const AuQueuedMsg& msg) {
    const auto& p = msg.As<AuMsgEvent>();
    g_pPlayingMgr->RemovePendingAction(p.head.playingID);
    p.pEvent->Release();
}

void CountRTPC(void* context, const AuQueuedMsg& msg) {
    *static_cast<u64*>(context) += msg.As<AuMsgSetRTPC>().paramID;
}

DWORD AudioThread(void* argument);

// The engine's pieces the exports need, and an audio thread that runs a pass at every wake.
struct Engine {
    CAuObjectIndex index;
    CAuPlayingMgr playing;
    CAuAudioMgr mgr;
    BenchEvent* event = nullptr;
    HANDLE wake = nullptr;
    HANDLE thread = nullptr;
    std::atomic<bool> stop{false};
    u64 sum = 0;

    Engine() {
        index.Init();
        g_pIndex = &index;
        playing.Init();
        g_pPlayingMgr = &playing;
        mgr.Init(0x40000);
        g_pAudioMgr = &mgr;
        mgr.SetMsgHandler(AuQueuedMsgType_Event, {EndEvent});
        mgr.SetMsgHandler(AuQueuedMsgType_SetRTPC, {CountRTPC, nullptr, &sum});
        event = new (AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(BenchEvent))) BenchEvent();
        index.Table(AuIndexEvents).Add(event);
        wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        mgr.SetWakeEvent(wake);
        CreateNamedThread(AudioThread, this, AuThreadProperties{0, 0, 65536}, &thread, "AU::EventManager");
    }
    ~Engine() {
        stop.store(true);
        SetEvent(wake);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        while (!mgr.IsEmpty()) {
            mgr.RenderAudio();
            CAuMainLock lock;
            mgr.ProcessMsgQueue();
        }
        mgr.SetWakeEvent(nullptr);
        CloseHandle(wake);
        event->Release();
        g_pAudioMgr = nullptr;
        mgr.Term();
        g_pPlayingMgr = nullptr;
        playing.Term();
        g_pIndex = nullptr;
        index.Term();
    }
};

DWORD AudioThread(void* argument) {
    auto* engine = static_cast<Engine*>(argument);
    engine->mgr.SetAudioThreadId(GetCurrentThreadId());
    while (!engine->stop.load()) {
        {
            CAuMainLock lock;
            engine->mgr.ProcessMsgQueue();
        }
        WaitForSingleObject(engine->wake, INFINITE);
    }
    engine->mgr.SetAudioThreadId(0);
    return 0;
}

Engine* g_engine = nullptr;

// Thread 0 makes the engine before the threads start their loops and ends it after they have
// all left them (the benchmark's barriers); the end drains what is left in the ring.
template <class Post> void RunExport(benchmark::State& state, Post post) {
    if (state.thread_index() == 0) g_engine = new Engine();
    u32 seq = 0;
    for (auto _ : state) {
        post(seq);
        if (++seq % 64 == 0) AU::SoundEngine::RenderAudio();
    }
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) {
        delete g_engine;
        g_engine = nullptr;
    }
}

void BM_PostEvent(benchmark::State& state) {
    RunExport(state, [](u32) { benchmark::DoNotOptimize(AU::SoundEngine::PostEvent(kEventID, 10)); });
}

void BM_SetRTPCValue(benchmark::State& state) {
    RunExport(state, [](u32 seq) { AU::SoundEngine::SetRTPCValue(3, static_cast<f32>(seq), 10); });
}

// The game's regime: one iteration is one frame of one producer. The frame waits (untimed) until
// the audio thread has run the previous one, as a game frame is long beside an audio pass, so
// the ring never fills; the time is the burst and the frame's close.
void BM_GameFrameRing(benchmark::State& state) {
    if (state.thread_index() == 0) g_engine = new Engine();
    for (auto _ : state) {
        while (g_pAudioMgr->ExecutedFrames() != g_pAudioMgr->PostedFrames())
            std::this_thread::yield();
        const auto start = std::chrono::steady_clock::now();
        for (u32 i = 0; i < kBurst; ++i)
            AU::SoundEngine::SetRTPCValue(3, static_cast<f32>(i), 10);
        AU::SoundEngine::RenderAudio();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetItemsProcessed(state.iterations() * kBurst);
    if (state.thread_index() == 0) {
        delete g_engine;
        g_engine = nullptr;
    }
}

struct DequeMsg {
    u32 paramID;
    f32 value;
    u32 gameObj;
    u32 playingID;
};

// The mutex-and-deque queue in the same regime: its consumer swaps the queue out once a frame.
struct DequeQueue {
    std::mutex lock;
    std::condition_variable wake;
    std::deque<DequeMsg> queue;
    bool stop = false;
    u64 sum = 0;
    std::thread consumer;

    DequeQueue() {
        consumer = std::thread([this] {
            std::deque<DequeMsg> batch;
            std::unique_lock guard(lock);
            for (;;) {
                wake.wait(guard, [&] { return stop || !queue.empty(); });
                if (queue.empty() && stop) break;
                batch.swap(queue);
                guard.unlock();
                for (const DequeMsg& msg : batch)
                    sum += msg.paramID;
                batch.clear();
                guard.lock();
            }
        });
    }
    ~DequeQueue() {
        {
            std::lock_guard guard(lock);
            stop = true;
        }
        wake.notify_one();
        consumer.join();
    }
};

DequeQueue* g_deque = nullptr;

void BM_GameFrameMutexDeque(benchmark::State& state) {
    if (state.thread_index() == 0) g_deque = new DequeQueue();
    for (auto _ : state) {
        for (;;) {
            std::lock_guard guard(g_deque->lock);
            if (g_deque->queue.empty()) break;
        }
        const auto start = std::chrono::steady_clock::now();
        for (u32 i = 0; i < kBurst; ++i) {
            std::lock_guard guard(g_deque->lock);
            g_deque->queue.push_back({3, static_cast<f32>(i), 10, 0});
        }
        g_deque->wake.notify_one();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetItemsProcessed(state.iterations() * kBurst);
    if (state.thread_index() == 0) {
        delete g_deque;
        g_deque = nullptr;
    }
}

BENCHMARK(BM_PostEvent)->Threads(1)->Threads(4)->UseRealTime();
BENCHMARK(BM_SetRTPCValue)->Threads(1)->Threads(4)->UseRealTime();
BENCHMARK(BM_GameFrameRing)->Threads(1)->Threads(4)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GameFrameMutexDeque)->Threads(1)->Threads(4)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace
