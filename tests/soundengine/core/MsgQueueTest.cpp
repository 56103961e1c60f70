#include "core/AuAudioMgr.h"
#include "core/AuThreads.h"

#include <AuDefaultPoolTest.h>

#include <AU/SoundEngine.h>
#include <win32_testing.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

namespace {

constexpr u16 kLogged = AuQueuedMsgType_SetRTPC;  // handler logs the sequence number
constexpr u16 kPlain = AuQueuedMsgType_ResetRTPC; // no handler: consumed, never run
constexpr u16 kSelfPost = AuQueuedMsgType_SetSwitch;

// Sequence number, then bytes derived from it: a torn or misplaced record fails the check.
void Fill(AuQueuedMsg* msg, u32 seq) {
    auto* bytes = reinterpret_cast<u8*>(msg + 1);
    const u32 length = msg->size - sizeof(AuQueuedMsg);
    ASSERT_GE(length, 4u);
    memcpy(bytes, &seq, 4);
    for (u32 i = 4; i < length; ++i)
        bytes[i] = static_cast<u8>(seq * 31 + i);
}

bool Intact(const AuQueuedMsg& msg, u32& seq) {
    const auto* bytes = reinterpret_cast<const u8*>(&msg + 1);
    memcpy(&seq, bytes, 4);
    for (u32 i = 4; i < msg.size - sizeof(AuQueuedMsg); ++i)
        if (bytes[i] != static_cast<u8>(seq * 31 + i)) return false;
    return true;
}

class MsgQueueTest : public AuDefaultPoolTest {
public:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        Start(256);
    }
    void TearDown() override {
        m_mgr.Term();
        EXPECT_EQ(Used(), m_usedAtStart);
        AuDefaultPoolTest::TearDown();
    }
    void Start(u32 capacity) {
        ASSERT_EQ(m_mgr.Init(capacity), AuResultSuccess);
        m_mgr.SetMsgHandler(kLogged, {Log, nullptr, this});
    }
    static void Log(void* context, const AuQueuedMsg& msg) {
        auto* self = static_cast<MsgQueueTest*>(context);
        u32 seq = 0;
        EXPECT_TRUE(Intact(msg, seq)) << "record " << seq;
        self->m_log.push_back(seq);
    }
    AuQueuedMsg* Post(u16 type, u32 size, u32 seq = 0) {
        AuQueuedMsg* msg = m_mgr.ReserveQueue(type, size);
        if (msg) {
            if (size >= sizeof(AuQueuedMsg) + 4) Fill(msg, seq);
            m_mgr.PublishMsg(msg);
        }
        return msg;
    }
    u32 OffsetOf(const AuQueuedMsg* msg) const {
        return static_cast<u32>(reinterpret_cast<const u8*>(msg) - m_mgr.Ring());
    }
    u32 WordAt(u32 offset) const {
        u32 word;
        memcpy(&word, m_mgr.Ring() + offset, 4);
        return word;
    }
    void Pass() {
        CAuMainLock lock;
        m_mgr.ProcessMsgQueue();
    }
    // An empty ring whose read and write positions are both at p (0, or 24 to capacity - 8: a
    // closed frame takes at least an 8-byte record and its 16-byte end of frame).
    void MoveTo(u32 p) {
        ASSERT_TRUE(m_mgr.IsEmpty());
        ASSERT_EQ(m_mgr.WriteOffset(), 0u);
        if (p == 0) return;
        for (u32 at = 0; at + 16 < p; at += 8)
            ASSERT_NE(Post(kPlain, 8), nullptr);
        m_mgr.RenderAudio();
        Pass();
        ASSERT_EQ(m_mgr.ReadOffset(), p);
        ASSERT_TRUE(m_mgr.IsEmpty());
    }

    CAuAudioMgr m_mgr;
    std::vector<u32> m_log;
};

TEST_F(MsgQueueTest, CapacityIsRoundedDownToEightWithAFloor) {
    struct Case {
        u32 asked, capacity, maxMsg;
    };
    for (const Case& c :
         {Case{1000, 1000, 488}, Case{1001, 1000, 488}, Case{1007, 1000, 488}, Case{10, 256, 120},
          Case{0, 256, 120}, Case{4096, 4096, 2040}, Case{262144, 262144, 65528}}) {
        SCOPED_TRACE(c.asked);
        CAuAudioMgr mgr;
        ASSERT_EQ(mgr.Init(c.asked), AuResultSuccess);
        EXPECT_EQ(mgr.Capacity(), c.capacity);
        EXPECT_EQ(mgr.MaxMsgSize(), c.maxMsg);
        EXPECT_EQ(mgr.Init(c.asked), AuResultFail); // once
    }
}

// A message that might never fit would make its writer wait forever; one that overflows the
// 16-bit size field would be misread. Both are refused at once, holding no writer count.
TEST_F(MsgQueueTest, ReservationsThatCanNeverFitAreRefused) {
    struct Case {
        u32 capacity, size;
        bool taken;
    };
    const Case cases[] = {
        {256, 120, true},
        {256, 113, true},
        {256, 121, false},
        {256, 256, false},
        {256, 7, false},
        {256, 0, false},
        {256, 0xFFFFFFFFu, false},
        {262144, 65528, true},
        {262144, 65521, true},
        {262144, 65529, false},
        {262144, 20 + 24 * 2730, false},
        {262144, 20 + 24 * 2729, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.capacity << " / " << c.size);
        m_mgr.Term();
        Start(c.capacity);
        AuQueuedMsg* msg = m_mgr.ReserveQueue(kPlain, c.size);
        EXPECT_EQ(msg != nullptr, c.taken);
        if (msg) {
            EXPECT_EQ(msg->size % 8, 0u);
            EXPECT_GE(msg->size, c.size);
            m_mgr.PublishMsg(msg);
        }
    }
}

// Where each reservation lands, with the ring empty at position p at the start. A reservation
// that does not fit makes this writer (no audio thread runs) run a pass itself.
TEST_F(MsgQueueTest, TakingSpace) {
    struct Case {
        const char* what;
        u32 p;
        std::vector<u32> sizes;
        std::vector<u32> offsets;
        std::vector<bool> passed;
        std::vector<u32> markers; // where wrap markers were left
    };
    const Case cases[] = {
        {"largest at the start", 0, {120}, {0}, {false}, {}},
        {"fits before the end", 136, {112}, {136}, {false}, {}},
        {"end needs 4 spare bytes", 128, {120}, {128}, {false}, {}},
        {"wraps with a marker", 136, {120}, {0}, {false}, {136}},
        {"behind the reader, 4 spare bytes", 136, {120, 8}, {0, 120}, {false, false}, {136}},
        {"behind the reader, full", 136, {120, 8, 8}, {0, 120, 128}, {false, false, true}, {136}},
        {"marker in the last 8 bytes", 240, {8, 8}, {240, 0}, {false, false}, {248}},
        {"empty ring at its end", 248, {8}, {0}, {false}, {248}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_mgr.Term();
        Start(256);
        MoveTo(c.p);
        for (size_t i = 0; i < c.sizes.size(); ++i) {
            const u64 executedBefore = m_mgr.ExecutedMsgCount();
            AuQueuedMsg* msg = m_mgr.ReserveQueue(kPlain, c.sizes[i]);
            ASSERT_NE(msg, nullptr);
            EXPECT_EQ(OffsetOf(msg), c.offsets[i]) << "reservation " << i;
            EXPECT_EQ(m_mgr.ExecutedMsgCount() != executedBefore, c.passed[i]) << "reservation " << i;
            if (i + 1 == c.sizes.size() && !c.passed[i]) {
                for (u32 marker : c.markers)
                    EXPECT_EQ(WordAt(marker), 0x002F0008u) << "marker at " << marker;
            }
            m_mgr.PublishMsg(msg);
        }
    }
}

// Half of the ring less 8 bytes always fits into an empty ring, wherever its positions stand.
TEST_F(MsgQueueTest, TheLargestMessageFitsAnEmptyRingAtEveryPosition) {
    for (u32 p = 0; p < 256; p += (p == 0 ? 24 : 8)) {
        SCOPED_TRACE(p);
        m_mgr.Term();
        Start(256);
        MoveTo(p);
        const u64 executedBefore = m_mgr.ExecutedMsgCount();
        AuQueuedMsg* msg = m_mgr.ReserveQueue(kPlain, m_mgr.MaxMsgSize());
        ASSERT_NE(msg, nullptr);
        EXPECT_EQ(m_mgr.ExecutedMsgCount(), executedBefore);
        m_mgr.PublishMsg(msg);
    }
}

TEST_F(MsgQueueTest, AWithdrawnMessageIsSkippedWhole) {
    AuQueuedMsg* withdrawn = m_mgr.ReserveQueue(kLogged, 40);
    ASSERT_NE(withdrawn, nullptr);
    memset(withdrawn + 1, 0xEE, 32); // what a failed poster left behind; never read
    m_mgr.WithdrawMsg(withdrawn);
    EXPECT_EQ(withdrawn->type, AuQueuedMsgType_Cancelled);
    Post(kLogged, 24, 5);
    m_mgr.RenderAudio();
    Pass();
    EXPECT_EQ(m_log, std::vector<u32>{5});
    EXPECT_TRUE(m_mgr.IsEmpty());
    EXPECT_EQ(m_mgr.ExecutedMsgCount(), 3u);
}

TEST_F(MsgQueueTest, RenderAudioOnAnEmptyRingPostsNothing) {
    EXPECT_EQ(m_mgr.RenderAudio(), AuResultSuccess);
    EXPECT_EQ(m_mgr.PostedFrames(), 0u);
    EXPECT_TRUE(m_mgr.IsEmpty());
    g_pAudioMgr = nullptr;
    EXPECT_EQ(AU::SoundEngine::RenderAudio(), AuResultFail); // not initialised
    g_pAudioMgr = &m_mgr;
    Post(kLogged, 16, 1);
    EXPECT_EQ(AU::SoundEngine::RenderAudio(), AuResultSuccess);
    g_pAudioMgr = nullptr;
    EXPECT_EQ(m_mgr.PostedFrames(), 1u);
    const AuQueuedMsg* endOfFrame = reinterpret_cast<const AuQueuedMsg*>(m_mgr.Ring() + 16);
    EXPECT_EQ(endOfFrame->type, AuQueuedMsgType_EndOfFrame);
    EXPECT_EQ(endOfFrame->As<u32>(), 0u); // the count of frames posted before it
}

TEST_F(MsgQueueTest, AnOrdinaryPassRunsUpToTheLastClosedFrame) {
    // Nothing closed yet: nothing runs.
    Post(kLogged, 16, 1);
    Post(kLogged, 16, 2);
    Pass();
    EXPECT_TRUE(m_log.empty());
    // Two frames closed between passes, then an open one: one pass runs both closed frames,
    // even with more than half the ring pending, and stops at the last end of frame.
    m_mgr.RenderAudio();
    for (u32 seq = 3; seq <= 6; ++seq)
        Post(kLogged, 24, seq);
    m_mgr.RenderAudio();
    Post(kLogged, 64, 7);
    Post(kLogged, 16, 8);
    EXPECT_GT(m_mgr.PendingBytes(), m_mgr.Capacity() / 2);
    Pass();
    EXPECT_EQ(m_log, (std::vector<u32>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(m_mgr.ExecutedFrames(), 2u);
    EXPECT_EQ(m_mgr.PendingBytes(), 64u + 16u);
    Pass();
    EXPECT_EQ(m_log.size(), 6u);
    m_mgr.RenderAudio();
    Pass();
    EXPECT_EQ(m_log, (std::vector<u32>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_TRUE(m_mgr.IsEmpty());
    EXPECT_EQ(m_mgr.ExecutedFrames(), m_mgr.PostedFrames());
}

// This thread plays the audio thread; a game thread waits for room.
class WaitingWriter {
public:
    WaitingWriter(CAuAudioMgr& mgr, u32 size)
        : m_thread([&mgr, size, this] {
              AuQueuedMsg* msg = mgr.ReserveQueue(kPlain, size);
              ASSERT_NE(msg, nullptr);
              mgr.PublishMsg(msg);
              m_done.store(true);
          }) {}
    ~WaitingWriter() { m_thread.join(); }
    bool Done() const { return m_done.load(); }

private:
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

void WaitUntilBlocked() {
    while (win32test::BlockedWaiterCount() == 0)
        std::this_thread::yield();
}

TEST_F(MsgQueueTest, AWaitingWriterMakesThePassStopAtAnUnfinishedRecord) {
    m_mgr.SetAudioThreadId(GetCurrentThreadId());
    Post(kLogged, 48, 1);
    AuQueuedMsg* unfinished = m_mgr.ReserveQueue(kLogged, 48);
    ASSERT_NE(unfinished, nullptr);
    Post(kLogged, 48, 3);
    {
        WaitingWriter writer(m_mgr, 120); // neither fits before the end nor at the start
        WaitUntilBlocked();
        Pass(); // runs past every closed frame because a writer waits
        EXPECT_EQ(m_log, std::vector<u32>{1});
        EXPECT_EQ(m_mgr.ReadOffset(), OffsetOf(unfinished));
        Fill(unfinished, 2);
        m_mgr.PublishMsg(unfinished);
        while (!writer.Done())
            if (win32test::BlockedWaiterCount() != 0) Pass();
    }
    EXPECT_EQ(m_log, (std::vector<u32>{1, 2, 3}));
    m_mgr.SetAudioThreadId(0);
}

TEST_F(MsgQueueTest, WithAWriterWaitingAndMoreThanHalfPendingAPassRunsOneRecord) {
    m_mgr.SetAudioThreadId(GetCurrentThreadId());
    for (u32 seq = 0; seq < 14; ++seq)
        Post(kLogged, 16, seq);
    ASSERT_EQ(m_mgr.PendingBytes(), 224u);
    {
        WaitingWriter writer(m_mgr, 120);
        WaitUntilBlocked();
        Pass();
        EXPECT_EQ(m_log.size(), 1u);
        EXPECT_GT(m_mgr.PendingBytes(), m_mgr.Capacity() / 2);
        while (!writer.Done())
            if (win32test::BlockedWaiterCount() != 0) Pass();
    }
    m_mgr.RenderAudio();
    Pass();
    ASSERT_EQ(m_log.size(), 14u);
    for (u32 seq = 0; seq < 14; ++seq)
        EXPECT_EQ(m_log[seq], seq);
    m_mgr.SetAudioThreadId(0);
}

// A writer waiting for an audio thread that stops is let go, and makes its room itself.
TEST_F(MsgQueueTest, AWriterWaitingWhenTheAudioThreadStopsRunsThePassItself) {
    m_mgr.SetAudioThreadId(GetCurrentThreadId());
    for (u32 seq = 0; seq < 3; ++seq)
        Post(kLogged, 48, seq);
    {
        WaitingWriter writer(m_mgr, 120);
        WaitUntilBlocked();
        EXPECT_TRUE(m_log.empty());
        m_mgr.SetAudioThreadId(0);
    }
    EXPECT_EQ(m_log, (std::vector<u32>{0, 1, 2}));
}

// A handler that posts into a full ring runs a nested pass inside the current one. The outer
// pass must go on after what the nested one ran: nothing skipped, nothing run twice.
class SelfPostTest : public MsgQueueTest {
public:
    static void PostThree(void* context, const AuQueuedMsg& msg) {
        auto* self = static_cast<SelfPostTest*>(context);
        u32 seq = 0;
        ASSERT_TRUE(Intact(msg, seq));
        self->m_log.push_back(seq);
        for (u32 i = 1; i <= 3; ++i)
            self->m_refused += self->Post(kLogged, 64, seq * 100 + i) == nullptr;
    }
    u32 m_refused = 0;
};

TEST_F(SelfPostTest, AHandlerPostingIntoAFullRingSkipsNothing) {
    m_mgr.SetMsgHandler(kSelfPost, {PostThree, nullptr, this});
    m_mgr.SetAudioThreadId(GetCurrentThreadId());
    Post(kSelfPost, 16, 1);
    for (u32 seq = 2; seq <= 12; ++seq)
        Post(kLogged, 16, seq);
    Post(kSelfPost, 16, 13);
    m_mgr.RenderAudio();
    ASSERT_GT(m_mgr.PendingBytes(), 200u);
    Pass();
    m_mgr.RenderAudio();
    Pass();
    m_mgr.RenderAudio();
    Pass();
    EXPECT_EQ(m_refused, 0u);
    // 103 found the ring full; the nested pass it ran took 13, whose posts were reserved first.
    EXPECT_EQ(m_log,
              (std::vector<u32>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 101, 102, 1301, 1302, 1303, 103}));
    EXPECT_TRUE(m_mgr.IsEmpty());
    m_mgr.SetAudioThreadId(0);
}

// Every record here posts the largest message when it runs, so each full-ring post nests one
// pass deeper. The nesting stops at its bound: the deepest post is refused, nothing breaks.
TEST_F(SelfPostTest, NestedPassesAreBounded) {
    static u32 s_depth = 0;
    static u32 s_maxDepth = 0;
    m_mgr.SetMsgHandler(kSelfPost, {[](void* context, const AuQueuedMsg& msg) {
                                        auto* self = static_cast<SelfPostTest*>(context);
                                        u32 seq = 0;
                                        ASSERT_TRUE(Intact(msg, seq));
                                        self->m_log.push_back(seq);
                                        s_maxDepth = std::max(s_maxDepth, ++s_depth);
                                        self->m_refused += self->Post(kPlain, 120) == nullptr;
                                        --s_depth;
                                    },
                                    nullptr, this});
    m_mgr.SetAudioThreadId(GetCurrentThreadId());
    for (u32 seq = 0; seq < 14; ++seq)
        Post(kSelfPost, 16, seq);
    m_mgr.RenderAudio();
    for (int i = 0; i < 20 && !m_mgr.IsEmpty(); ++i) {
        m_mgr.RenderAudio();
        Pass();
    }
    EXPECT_TRUE(m_mgr.IsEmpty());
    ASSERT_EQ(m_log.size(), 14u);
    for (u32 seq = 0; seq < 14; ++seq)
        EXPECT_EQ(m_log[seq], seq);
    EXPECT_EQ(s_maxDepth, CAuAudioMgr::kMaxDispatchDepth);
    EXPECT_GT(m_refused, 0u);
    m_mgr.SetAudioThreadId(0);
}

// A nested pass that runs the last closed frame's end: the outer pass stops there too, instead of
// running on into the frame that is still open.
TEST_F(SelfPostTest, AnOuterPassStopsWhereANestedPassClosedTheLastFrame) {
    m_mgr.SetMsgHandler(kSelfPost, {[](void* context, const AuQueuedMsg&) {
                                        auto* self = static_cast<SelfPostTest*>(context);
                                        self->m_log.push_back(1);
                                        self->m_refused += self->Post(kLogged, 120, 101) == nullptr;
                                    },
                                    nullptr, this});
    m_mgr.SetAudioThreadId(GetCurrentThreadId());
    Post(kSelfPost, 16);
    for (u32 seq = 2; seq <= 6; ++seq)
        Post(kLogged, 16, seq);
    m_mgr.RenderAudio();
    for (u32 seq = 20; seq <= 26; ++seq) // the open frame
        Post(kLogged, 16, seq);
    ASSERT_EQ(m_mgr.PendingBytes(), 224u);
    Pass();
    EXPECT_EQ(m_refused, 0u);
    // The nested passes ran the open frame only because the writer still waited for room; the
    // record that writer then posted waits for its frame to close.
    EXPECT_EQ(m_log, (std::vector<u32>{1, 2, 3, 4, 5, 6, 20, 21, 22, 23, 24, 25, 26}));
    EXPECT_EQ(m_mgr.ExecutedFrames(), m_mgr.PostedFrames());
    m_mgr.RenderAudio();
    Pass();
    EXPECT_EQ(m_log, (std::vector<u32>{1, 2, 3, 4, 5, 6, 20, 21, 22, 23, 24, 25, 26, 101}));
    m_mgr.SetAudioThreadId(0);
}

// Runs body on a thread of its own; a body that does not end within the bound is a deadlock,
// reported with what the stuck thread waits for (a hung test would only say it timed out).
void ExpectToFinish(const char* stuckWaitsFor, std::function<void()> body) {
    std::atomic<bool> finished{false};
    std::thread runner([&] {
        body();
        finished.store(true);
    });
    for (int i = 0; i < 3000 && !finished.load(); ++i)
        Sleep(10);
    if (!finished.load()) {
        fprintf(stderr, "deadlock: %s\n", stuckWaitsFor);
        std::abort();
    }
    runner.join();
}

// The audio thread of these tests: it runs a pass each time it is woken, as the engine's does.
class AudioThread {
public:
    explicit AudioThread(CAuAudioMgr& mgr) : m_mgr(mgr) {
        m_wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        m_mgr.SetWakeEvent(m_wake);
        CreateNamedThread(
            Run, this, AuThreadProperties{0, 0, 0}, &m_thread, "AU::EventManager",
            [](DWORD id, void* self) { static_cast<AudioThread*>(self)->m_id.store(id); }, this);
    }
    ~AudioThread() {
        m_mgr.SetAudioThreadId(0);
        m_stop.store(true);
        SetEvent(m_wake);
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
        m_mgr.SetWakeEvent(nullptr);
        CloseHandle(m_wake);
    }
    DWORD Id() const { return m_id.load(); }

private:
    static DWORD Run(void* argument) {
        auto* self = static_cast<AudioThread*>(argument);
        while (!self->m_stop.load()) {
            WaitForSingleObject(self->m_wake, INFINITE);
            CAuMainLock lock;
            self->m_mgr.ProcessMsgQueue();
        }
        return 0;
    }
    CAuAudioMgr& m_mgr;
    HANDLE m_wake = nullptr;
    HANDLE m_thread = nullptr;
    std::atomic<DWORD> m_id{0};
    std::atomic<bool> m_stop{false};
};

// A game thread runs a pass itself (no audio thread yet); inside it the audio thread registers,
// and a handler posts into the full ring. That writer holds g_csMain, which the audio thread
// needs, so it must make the room itself instead of waiting for a pass.
TEST_F(SelfPostTest, AWriterInsideAPassNeverWaitsForTheAudioThread) {
    AudioThread audio(m_mgr);
    ASSERT_NE(audio.Id(), 0u); // known before the thread ran at all
    static AudioThread* s_audio = nullptr;
    s_audio = &audio;
    m_mgr.SetMsgHandler(kSelfPost, {[](void* context, const AuQueuedMsg&) {
                                        auto* self = static_cast<SelfPostTest*>(context);
                                        self->m_mgr.SetAudioThreadId(s_audio->Id());
                                        for (u32 i = 1; i <= 3; ++i)
                                            self->m_refused += self->Post(kLogged, 120, 100 + i) == nullptr;
                                    },
                                    nullptr, this});
    ExpectToFinish("a writer holding g_csMain waits on the space event for the audio thread", [&] {
        Post(kSelfPost, 16);
        for (u32 seq = 0; seq < 13; ++seq)
            Post(kPlain, 16);
        Post(kPlain, 120); // full: this thread runs the pass itself
    });
    EXPECT_EQ(m_refused, 0u);
}

// A caller that holds g_csMain outside any pass (as the engine's own calls do) and finds the ring
// full, with the audio thread running, also makes the room itself.
TEST_F(MsgQueueTest, AWriterHoldingTheMainLockMakesRoomItself) {
    AudioThread audio(m_mgr);
    m_mgr.SetAudioThreadId(audio.Id());
    ExpectToFinish("a writer under g_csMain waits on the space event for the audio thread", [&] {
        CAuMainLock lock;
        for (u32 seq = 0; seq < 14; ++seq)
            Post(kLogged, 16, seq);
        EXPECT_NE(Post(kLogged, 120, 14), nullptr);
        // Closing a frame under the lock never waits for another thread either.
        EXPECT_EQ(m_mgr.RenderAudio(), AuResultSuccess);
    });
}

// Records longer than the stack copy run from a copy in the default pool; without memory for
// the copy the record is dropped through its handler's drop, so its references are not lost.
TEST_F(MsgQueueTest, LongRecordsRunFromAPoolCopyOrAreDroppedWithoutMemory) {
    m_mgr.Term();
    Start(4096);
    Post(kLogged, 1000, 1);
    m_mgr.RenderAudio();
    Pass();
    EXPECT_EQ(m_log, std::vector<u32>{1});

    // Take the whole pool.
    std::vector<void*> hoard;
    for (u32 size = 1u << 20; size >= 8; size /= 2)
        while (void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, size))
            hoard.push_back(block);
    m_mgr.SetMsgHandler(kLogged, {Log,
                                  [](void* context, const AuQueuedMsg& msg) {
                                      u32 seq = 0;
                                      EXPECT_TRUE(Intact(msg, seq));
                                      static_cast<MsgQueueTest*>(context)->m_log.push_back(1000 + seq);
                                  },
                                  this});
    Post(kLogged, 1000, 2);
    Post(kLogged, 200, 3); // short enough for the stack
    m_mgr.RenderAudio();
    Pass();
    EXPECT_EQ(m_log, (std::vector<u32>{1, 1002, 3}));
    for (void* block : hoard)
        AU::MemoryMgr::Free(g_DefaultPoolId, block);
}

// Termination drops what queued messages still hold, across a wrap, skipping withdrawn ones.
TEST_F(MsgQueueTest, TermDropsTheReferencesOfQueuedMessages) {
    static int s_live = 0;
    struct Referencing {
        int* object;
    };
    m_mgr.SetMsgHandler(AuQueuedMsgType_Event,
                        {[](void*, const AuQueuedMsg& msg) { --*msg.As<Referencing>().object; },
                         [](void*, const AuQueuedMsg& msg) { --*msg.As<Referencing>().object; }, nullptr});
    auto post = [&](bool withdraw) {
        AuQueuedMsg* msg = m_mgr.ReserveQueue(AuQueuedMsgType_Event, AuQueuedMsgSize<Referencing>() + 8);
        ASSERT_NE(msg, nullptr);
        ++s_live; // the poster's reference travels with the message
        msg->As<Referencing>().object = &s_live;
        if (withdraw) {
            --s_live; // a poster that gives up releases what it took
            m_mgr.WithdrawMsg(msg);
        } else {
            m_mgr.PublishMsg(msg);
        }
    };
    MoveTo(200);
    const u64 executed = m_mgr.ExecutedMsgCount();
    post(false); // before the end
    post(true);
    post(false); // wraps to the start
    post(false);
    ASSERT_EQ(m_mgr.ExecutedMsgCount(), executed); // all four found room: nothing ran
    EXPECT_LT(m_mgr.WriteOffset(), m_mgr.ReadOffset());
    EXPECT_EQ(s_live, 3);
    m_mgr.Term();
    EXPECT_EQ(s_live, 0);
    Start(256);
}

} // namespace
