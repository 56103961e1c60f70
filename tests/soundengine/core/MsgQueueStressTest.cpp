// Game threads post through a small ring while an audio thread runs the passes and two more
// threads close frames. Runs under ThreadSanitizer too.
#include "core/AuAudioMgr.h"
#include "core/AuThreads.h"

#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr u16 kData = AuQueuedMsgType_SetRTPC;
constexpr u16 kSelfPost = AuQueuedMsgType_SetSwitch;
constexpr u32 kProducers = 4;
constexpr u32 kAudioProducer = kProducers; // the audio thread's own posts
constexpr u32 kPoison = 0xDEADu;
constexpr u32 kSelfPosts = 3;

struct DataMsg {
    u32 producer;
    u32 seq;
    std::atomic<int>* reference; // a counted reference the handler releases, or null
    u32 length;                  // bytes after this record
    u32 checksum;
};

u32 Checksum(const u8* bytes, u32 length, u32 producer, u32 seq) {
    u32 sum = producer * 0x9E3779B9u ^ seq;
    for (u32 i = 0; i < length; ++i)
        sum = sum * 31 + bytes[i];
    return sum;
}

struct StressParams {
    u32 ringSize;
    u32 perProducer;
};

class MsgQueueStress : public AuDefaultPoolTest, public testing::WithParamInterface<StressParams> {
public:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        ASSERT_EQ(m_mgr.Init(GetParam().ringSize), AuResultSuccess);
        m_mgr.SetMsgHandler(kData, {RunData, DropData, this});
        m_mgr.SetMsgHandler(kSelfPost, {RunSelfPost, nullptr, this});
    }
    void TearDown() override {
        m_mgr.Term();
        EXPECT_EQ(Used(), m_usedAtStart);
        AuDefaultPoolTest::TearDown();
    }

    // A record of one of a few sizes, so that wraps land everywhere.
    u32 SizeFor(u32 seq) const {
        const u32 size = AuQueuedMsgSize<DataMsg>() + (seq % 12) * 8;
        return std::min(size, m_mgr.MaxMsgSize());
    }

    bool Post(u32 producer, u32 seq, bool withReference, bool withdraw) {
        std::atomic<const char*>& doing = m_doing[producer];
        const char* before = doing.exchange("reserving: waits for room in the ring or runs a pass");
        AuQueuedMsg* msg = m_mgr.ReserveQueue(kData, SizeFor(seq));
        doing.store(before);
        if (!msg) return false;
        DataMsg& data = msg->As<DataMsg>();
        data.length = msg->size - AuQueuedMsgSize<DataMsg>();
        auto* bytes = reinterpret_cast<u8*>(&data + 1);
        for (u32 i = 0; i < data.length; ++i)
            bytes[i] = static_cast<u8>(producer * 7 + seq + i);
        data.producer = withdraw ? kPoison : producer;
        data.seq = seq;
        data.reference = nullptr;
        if (withReference) {
            m_live.fetch_add(1);
            data.reference = &m_live;
        }
        data.checksum = Checksum(bytes, data.length, data.producer, seq);
        if (withdraw) {
            // A poster that fails after reserving releases what it took and withdraws the record.
            if (data.reference) m_live.fetch_sub(1);
            m_mgr.WithdrawMsg(msg);
        } else {
            m_mgr.PublishMsg(msg);
        }
        return true;
    }

    static void RunData(void* context, const AuQueuedMsg& msg) {
        auto* self = static_cast<MsgQueueStress*>(context);
        const DataMsg& data = msg.As<DataMsg>();
        const u32 executedFrames = self->m_mgr.ExecutedFrames();
        if (executedFrames > self->m_mgr.PostedFrames()) self->m_errors.fetch_add(1);
        if (data.producer > kAudioProducer ||
            data.checksum !=
                Checksum(reinterpret_cast<const u8*>(&data + 1), data.length, data.producer, data.seq) ||
            data.seq != self->m_next[data.producer]) {
            self->m_errors.fetch_add(1);
            return;
        }
        ++self->m_next[data.producer];
        self->m_ran.fetch_add(1, std::memory_order_relaxed);
        if (data.reference) data.reference->fetch_sub(1);
    }
    static void DropData(void*, const AuQueuedMsg& msg) {
        if (std::atomic<int>* reference = msg.As<DataMsg>().reference) reference->fetch_sub(1);
    }
    static void RunSelfPost(void* context, const AuQueuedMsg&) {
        auto* self = static_cast<MsgQueueStress*>(context);
        ++self->m_selfPostsRun;
        for (u32 i = 0; i < kSelfPosts; ++i) {
            if (!self->Post(kAudioProducer, self->m_audioSeq, i == 0, false)) self->m_errors.fetch_add(1);
            ++self->m_audioSeq;
        }
    }

    static DWORD AudioThread(void* argument) {
        auto* self = static_cast<MsgQueueStress*>(argument);
        std::atomic<const char*>& doing = self->m_doing[kAudioProducer];
        self->m_mgr.SetAudioThreadId(GetCurrentThreadId());
        for (;;) {
            {
                doing.store("waits for g_csMain");
                CAuMainLock lock;
                doing.store("runs a pass");
                self->m_mgr.ProcessMsgQueue();
            }
            if (self->m_stopAudio.load()) break;
            doing.store("waits for its wake event");
            WaitForSingleObject(self->m_wake, INFINITE);
        }
        doing.store("ended");
        self->m_mgr.SetAudioThreadId(0);
        return 0;
    }

    CAuAudioMgr m_mgr;
    HANDLE m_wake = nullptr;
    std::atomic<bool> m_stopAudio{false};
    std::atomic<int> m_live{0};
    std::atomic<u32> m_errors{0};
    std::atomic<u64> m_ran{0}; // messages run so far: the watchdog's measure of progress
    // What each thread is doing, for the watchdog's diagnosis: producers, then the audio thread,
    // then the two frame closers.
    std::atomic<const char*> m_doing[kProducers + 3] = {};
    void Describe() const {
        for (u32 i = 0; i < kProducers + 3; ++i) {
            const char* doing = m_doing[i].load();
            fprintf(stderr, "  %s %u: %s\n",
                    i < kProducers    ? "producer"
                    : i == kProducers ? "audio thread"
                                      : "frame closer",
                    i < kProducers    ? i
                    : i == kProducers ? 0
                                      : i - kProducers - 1,
                    doing ? doing : "not started");
        }
        fprintf(stderr, "  ring: read %u, write %u, pending %u of %u; frames posted %u, executed %u\n",
                m_mgr.ReadOffset(), m_mgr.WriteOffset(), m_mgr.PendingBytes(), m_mgr.Capacity(),
                m_mgr.PostedFrames(), m_mgr.ExecutedFrames());
    }
    // Audio thread only (under g_csMain); read by the test once that thread has ended.
    u32 m_next[kProducers + 1] = {};
    u32 m_audioSeq = 0;
    u32 m_selfPostsRun = 0;
};

// Fails the run when the threads stop making progress (a deadlock never ends by itself), after
// printing what each thread was doing and the ring's state, so the failure names the wait. Judged by
// progress, not by total time: a loaded machine is slow, a deadlock makes no progress at all.
class Watchdog {
public:
    Watchdog(std::chrono::seconds stall, std::function<u64()> progress, std::function<void()> describe)
        : m_thread([this, stall, progress, describe] {
              std::unique_lock lock(m_mutex);
              u64 last = progress();
              while (!m_changed.wait_for(lock, stall, [this] { return m_done; })) {
                  const u64 now = progress();
                  if (now != last) {
                      last = now;
                      continue;
                  }
                  fprintf(stderr, "watchdog: no message ran for %lld s, deadlock\n",
                          static_cast<long long>(stall.count()));
                  describe();
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_done = false;
    std::thread m_thread;
};

TEST_P(MsgQueueStress, EveryMessageRunsOnceInOrderWithItsPayload) {
    const u32 perProducer = GetParam().perProducer;
    Watchdog watchdog(
        std::chrono::seconds(60), [this] { return m_ran.load(); }, [this] { Describe(); });

    m_wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(m_wake, nullptr);
    m_mgr.SetWakeEvent(m_wake);
    HANDLE audio = nullptr;
    CreateNamedThread(AudioThread, this, AuThreadProperties{0, 0, 32768}, &audio, "AU::EventManager");
    ASSERT_NE(audio, nullptr);

    std::atomic<u32> producing{kProducers};
    std::vector<std::thread> threads;
    for (u32 producer = 0; producer < kProducers; ++producer) {
        threads.emplace_back([this, producer, perProducer, &producing] {
            m_doing[producer].store("posting");
            u32 attempt = 0;
            for (u32 seq = 0; seq < perProducer; ++seq) {
                if (++attempt % 7 == 0 && !Post(producer, seq, true, true)) // withdrawn
                    m_errors.fetch_add(1);
                if (!Post(producer, seq, seq % 3 == 0, false)) m_errors.fetch_add(1);
                if (producer == 0 && seq % 100 == 0) {
                    AuQueuedMsg* msg = m_mgr.ReserveQueue(kSelfPost, sizeof(AuQueuedMsg));
                    if (msg)
                        m_mgr.PublishMsg(msg);
                    else
                        m_errors.fetch_add(1);
                }
            }
            m_doing[producer].store("done");
            producing.fetch_sub(1);
        });
    }
    // Two threads close frames, so the render lock has work too.
    for (u32 i = 0; i < 2; ++i) {
        threads.emplace_back([this, i, &producing] {
            std::atomic<const char*>& doing = m_doing[kProducers + 1 + i];
            while (producing.load() != 0) {
                doing.store("in RenderAudio");
                m_mgr.RenderAudio();
                doing.store("between frames");
                std::this_thread::yield();
            }
            doing.store("done");
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    m_mgr.RenderAudio();
    m_stopAudio.store(true);
    SetEvent(m_wake);
    WaitForSingleObject(audio, INFINITE);
    CloseHandle(audio);
    m_mgr.SetWakeEvent(nullptr);
    CloseHandle(m_wake);

    // What the audio thread left: the last frame's messages, and what its own posts added.
    for (int pass = 0; pass < 100 && !m_mgr.IsEmpty(); ++pass) {
        m_mgr.RenderAudio();
        CAuMainLock lock;
        m_mgr.ProcessMsgQueue();
    }

    EXPECT_EQ(m_errors.load(), 0u);
    for (u32 producer = 0; producer < kProducers; ++producer)
        EXPECT_EQ(m_next[producer], perProducer) << "producer " << producer;
    EXPECT_EQ(m_selfPostsRun, (perProducer + 99) / 100);
    EXPECT_EQ(m_next[kAudioProducer], kSelfPosts * m_selfPostsRun);
    EXPECT_TRUE(m_mgr.IsEmpty());
    EXPECT_EQ(m_mgr.ExecutedFrames(), m_mgr.PostedFrames());
    EXPECT_EQ(m_live.load(), 0);
}

// Messages still queued at termination give back their references.
TEST_P(MsgQueueStress, TermReleasesWhatQueuedMessagesHold) {
    for (u32 seq = 0; m_mgr.PendingBytes() + SizeFor(seq) < m_mgr.Capacity() / 2; ++seq)
        ASSERT_TRUE(Post(0, seq, true, false));
    EXPECT_GT(m_live.load(), 0);
    m_mgr.Term();
    EXPECT_EQ(m_live.load(), 0);
    ASSERT_EQ(m_mgr.Init(GetParam().ringSize), AuResultSuccess);
}

INSTANTIATE_TEST_SUITE_P(Rings, MsgQueueStress,
                         testing::Values(StressParams{4096, 250000}, StressParams{1024, 20000},
                                         StressParams{256, 20000}),
                         [](const testing::TestParamInfo<StressParams>& info) {
                             return "Ring" + std::to_string(info.param.ringSize);
                         });

} // namespace
