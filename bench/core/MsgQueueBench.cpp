// Messages per second from N game threads to one audio thread: the engine's lock-free ring
// against a std::mutex + std::deque queue on the same workload. Each producer posts a 24-byte
// payload and closes a frame every 64 posts; the consumer runs every message. Prints the
// throughput ratio of each pair at the end.
#include "core/AuAudioMgr.h"
#include "core/AuThreads.h"

#include <AU/MemoryMgr.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr u32 kMessages = 1u << 18; // per iteration, shared among the producers
constexpr u32 kFrame = 64;
constexpr u32 kRingSize = 262144; // the engine's default

struct Payload {
    u32 producer;
    u32 seq;
    f32 value;
    u32 object;
    u64 extra;
};

struct Sink {
    u64 sum = 0;
    u64 count = 0;
    void Run(const Payload& payload) {
        sum += payload.seq ^ payload.object;
        ++count;
    }
};

void RunRing(void* context, const AuQueuedMsg& msg) {
    static_cast<Sink*>(context)->Run(msg.As<Payload>());
}

struct RingConsumer {
    CAuAudioMgr* mgr;
    HANDLE wake;
    std::atomic<bool> stop{false};
};

DWORD RingAudioThread(void* argument) {
    auto* consumer = static_cast<RingConsumer*>(argument);
    consumer->mgr->SetAudioThreadId(GetCurrentThreadId());
    for (;;) {
        {
            CAuMainLock lock;
            consumer->mgr->ProcessMsgQueue();
        }
        if (consumer->stop.load()) break;
        WaitForSingleObject(consumer->wake, INFINITE);
    }
    consumer->mgr->SetAudioThreadId(0);
    return 0;
}

void BM_Ring(benchmark::State& state) {
    const u32 producers = static_cast<u32>(state.range(0));
    for (auto _ : state) {
        CAuAudioMgr mgr;
        if (mgr.Init(kRingSize) != AuResultSuccess) {
            state.SkipWithError("no ring");
            return;
        }
        Sink sink;
        mgr.SetMsgHandler(AuQueuedMsgType_SetRTPC, {RunRing, nullptr, &sink});
        RingConsumer consumer{&mgr, CreateEventW(nullptr, FALSE, FALSE, nullptr)};
        mgr.SetWakeEvent(consumer.wake);
        HANDLE audio = nullptr;
        CreateNamedThread(RingAudioThread, &consumer, AuThreadProperties{0, 0, 65536}, &audio,
                          "AU::EventManager");
        std::vector<std::thread> threads;
        for (u32 p = 0; p < producers; ++p) {
            threads.emplace_back([&mgr, p, producers] {
                for (u32 seq = 0; seq < kMessages / producers; ++seq) {
                    AuQueuedMsg* msg = mgr.ReserveQueue(AuQueuedMsgType_SetRTPC, AuQueuedMsgSize<Payload>());
                    msg->As<Payload>() = {p, seq, 1.0f, 10, 0};
                    mgr.PublishMsg(msg);
                    if (seq % kFrame == kFrame - 1) mgr.RenderAudio();
                }
                mgr.RenderAudio();
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        consumer.stop.store(true);
        SetEvent(consumer.wake);
        WaitForSingleObject(audio, INFINITE);
        CloseHandle(audio);
        CloseHandle(consumer.wake);
        while (!mgr.IsEmpty()) {
            mgr.RenderAudio();
            CAuMainLock lock;
            mgr.ProcessMsgQueue();
        }
        benchmark::DoNotOptimize(sink.sum);
        if (sink.count != kMessages / producers * producers) state.SkipWithError("messages lost");
        mgr.Term();
    }
    state.SetItemsProcessed(state.iterations() * (kMessages / producers * producers));
}

// The plain alternative: one lock around a deque, a condition variable to wake the consumer.
void BM_MutexDeque(benchmark::State& state) {
    const u32 producers = static_cast<u32>(state.range(0));
    for (auto _ : state) {
        std::mutex lock;
        std::condition_variable wake;
        std::deque<Payload> queue;
        bool stop = false;
        Sink sink;
        std::thread consumer([&] {
            std::deque<Payload> batch;
            std::unique_lock guard(lock);
            for (;;) {
                wake.wait(guard, [&] { return stop || !queue.empty(); });
                if (queue.empty() && stop) break;
                batch.swap(queue);
                guard.unlock();
                for (const Payload& payload : batch)
                    sink.Run(payload);
                batch.clear();
                guard.lock();
            }
        });
        std::vector<std::thread> threads;
        for (u32 p = 0; p < producers; ++p) {
            threads.emplace_back([&, p] {
                for (u32 seq = 0; seq < kMessages / producers; ++seq) {
                    {
                        std::lock_guard guard(lock);
                        queue.push_back({p, seq, 1.0f, 10, 0});
                    }
                    if (seq % kFrame == kFrame - 1) wake.notify_one();
                }
                wake.notify_one();
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        {
            std::lock_guard guard(lock);
            stop = true;
        }
        wake.notify_one();
        consumer.join();
        benchmark::DoNotOptimize(sink.sum);
        if (sink.count != kMessages / producers * producers) state.SkipWithError("messages lost");
    }
    state.SetItemsProcessed(state.iterations() * (kMessages / producers * producers));
}

BENCHMARK(BM_Ring)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MutexDeque)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->UseRealTime()->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto items = run.counters.find("items_per_second");
            if (run.run_type == Run::RT_Iteration && items != run.counters.end())
                perSecond[run.benchmark_name()] = items->second;
        }
    }
    std::map<std::string, double> perSecond;
};

} // namespace

int main(int argc, char** argv) {
    const AuMemoryMgrSettings settings{4};
    if (AU::MemoryMgr::Init(&settings) != AuResultSuccess) return 1;
    g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 16u << 20, 64, AuPoolAttrMalloc, 0);
    if (g_DefaultPoolId == -1) return 1;

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* producers : {"1", "2", "4", "8"}) {
        const std::string suffix = std::string("/") + producers + "/real_time";
        const auto ring = reporter.perSecond.find("BM_Ring" + suffix);
        const auto deque = reporter.perSecond.find("BM_MutexDeque" + suffix);
        if (ring != reporter.perSecond.end() && deque != reporter.perSecond.end())
            printf("ring / mutex+deque messages per second, %s producer(s): %.2f (%.2f M/s vs %.2f M/s)\n",
                   producers, ring->second / deque->second, ring->second / 1e6, deque->second / 1e6);
    }
    // The exports (PostingBench.cpp): calls per second, and one post's cost in the game's regime
    // (each producer's own rate there, as each times its own bursts).
    for (const char* threads : {"1", "4"}) {
        const std::string suffix = std::string("/real_time/threads:") + threads;
        for (const char* name : {"BM_PostEvent", "BM_SetRTPCValue"}) {
            const auto calls = reporter.perSecond.find(name + suffix);
            if (calls != reporter.perSecond.end())
                printf("%s calls per second, %s thread(s): %.2f M/s\n", name + 3, threads,
                       calls->second / 1e6);
        }
        const std::string manual = std::string("/manual_time/threads:") + threads;
        const auto ring = reporter.perSecond.find("BM_GameFrameRing" + manual);
        const auto deque = reporter.perSecond.find("BM_GameFrameMutexDeque" + manual);
        if (ring != reporter.perSecond.end() && deque != reporter.perSecond.end()) {
            printf("game regime, bursts of 1000, %s producer(s): one post %.1f ns (ring) vs %.1f ns "
                   "(mutex+deque), ring / mutex+deque rate %.2f\n",
                   threads, 1e9 / ring->second, 1e9 / deque->second, ring->second / deque->second);
        }
    }
    benchmark::Shutdown();
    AU::MemoryMgr::Term();
    g_DefaultPoolId = -1;
    return 0;
}
