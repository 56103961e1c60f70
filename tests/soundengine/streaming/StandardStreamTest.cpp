#include "StreamTestSupport.h"

#include <AU/AuDefaultIOHookBlocking.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <limits>
#include <thread>

namespace {

using namespace streamtest;

class StandardStreamTest : public StreamingTest {
protected:
    void SetUp() override {
        StreamingTest::SetUp();
        AU::StreamMgr::SetFileLocationResolver(&m_io);
    }
    void TearDown() override {
        for (AU::IAuStdStream* stream : m_streams)
            stream->Destroy();
        m_streams.clear();
        if (m_io.deviceID != AU_INVALID_DEVICE_ID) {
            EXPECT_EQ(AU::StreamMgr::DestroyDevice(m_io.deviceID), AuResultSuccess);
        }
        win32test::UseRealClock();
        StreamingTest::TearDown();
    }

    void StartDevice(u32 granularity = 16384) {
        m_io.deviceID = AU::StreamMgr::CreateDevice(DeviceSettings(0, granularity), &m_io);
        ASSERT_NE(m_io.deviceID, AU_INVALID_DEVICE_ID);
    }

    // A stream over the fake file `id`, destroyed by the fixture.
    AU::IAuStdStream* Open(u32 id, AuOpenMode mode = AuOpenModeRead, bool syncOpen = true) {
        AU::IAuStdStream* stream = nullptr;
        EXPECT_EQ(m_pStreamMgr->CreateStd(id, nullptr, mode, stream, syncOpen), AuResultSuccess);
        if (stream) m_streams.push_back(stream);
        return stream;
    }

    void Forget(AU::IAuStdStream* stream) { std::erase(m_streams, stream); }

    FakeIO m_io;
    std::vector<AU::IAuStdStream*> m_streams;
};

TEST_F(StandardStreamTest, ReadsInGranularitySizedTransfersOnTheIOThread) {
    StartDevice();
    const std::vector<u8> bytes = Pattern(100000);
    m_io.AddFile(5, bytes);
    AU::IAuStdStream* stream = Open(5);
    ASSERT_NE(stream, nullptr);
    std::vector<u8> buffer(100000);
    u32 size = 0;
    ASSERT_EQ(stream->Read(buffer.data(), 100000, true, 50, 0.0f, size), AuResultSuccess);
    EXPECT_EQ(size, 100000u);
    EXPECT_EQ(buffer, bytes);
    EXPECT_EQ(stream->GetStatus(), AuStmStatusCompleted);
    const auto transfers = m_io.Transfers();
    ASSERT_EQ(transfers.size(), 7u);
    for (size_t i = 0; i < transfers.size(); ++i) {
        EXPECT_EQ(transfers[i].position, i * 16384);
        EXPECT_EQ(transfers[i].size, i < 6 ? 16384u : 100000u - 6 * 16384);
        EXPECT_EQ(transfers[i].thread, "AU::IOThread");
    }
    bool end = true;
    EXPECT_EQ(stream->GetPosition(&end), 100000u);
    EXPECT_FALSE(end);
    // Nothing is left: the next read completes at once with nothing and reports the end.
    EXPECT_EQ(stream->Read(buffer.data(), 16, true, 50, 0.0f, size), AuResultSuccess);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(stream->GetPosition(&end), 100000u);
    EXPECT_TRUE(end);
    EXPECT_EQ(m_io.Transfers().size(), 7u);
}

TEST_F(StandardStreamTest, ReadEdgeCases) {
    StartDevice();
    m_io.AddFile(1, Pattern(3000));
    std::vector<u8> buffer(8192);
    u32 size = 0;

    m_io.blockSize = 2048;
    AU::IAuStdStream* blocked = Open(1);
    ASSERT_NE(blocked, nullptr);
    EXPECT_EQ(blocked->GetBlockSize(), 2048u);
    EXPECT_EQ(blocked->Read(buffer.data(), 100, true, 50, 0.0f, size), AuResultFail);
    EXPECT_EQ(blocked->GetStatus(), AuStmStatusIdle);
    EXPECT_EQ(blocked->Read(buffer.data(), 2048, true, 50, 0.0f, size), AuResultSuccess);

    m_io.blockSize = 1;
    AU::IAuStdStream* stream = Open(1);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->Read(buffer.data(), 100, true, 50, 0.0f, size), AuResultSuccess);
    i64 real = 0;
    ASSERT_EQ(stream->SetPosition(1000, AuMoveBegin, &real), AuResultSuccess);
    EXPECT_EQ(stream->Read(buffer.data(), 4096, true, 50, 0.0f, size), AuResultSuccess);
    EXPECT_EQ(size, 2000u);
    bool end = false;
    EXPECT_EQ(stream->GetPosition(&end), 3000u);
    EXPECT_TRUE(end);
    u32 dataSize = 0;
    EXPECT_EQ(stream->GetData(dataSize), buffer.data());
    EXPECT_EQ(dataSize, 2000u);
    const std::vector<u8> expected = Pattern(3000);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 2000, expected.begin() + 1000));

    const size_t before = m_io.Transfers().size();
    EXPECT_EQ(stream->Read(buffer.data(), 0, true, 50, 0.0f, size), AuResultSuccess);
    EXPECT_EQ(stream->GetStatus(), AuStmStatusCompleted);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(m_io.Transfers().size(), before);
}

TEST_F(StandardStreamTest, BadArgumentsAreRefusedWithoutTouchingTheStream) {
    StartDevice();
    m_io.AddFile(1, Pattern(10000));
    m_io.blockSize = 2048;
    AU::IAuStdStream* stream = Open(1);
    ASSERT_NE(stream, nullptr);
    u8 buffer[4096];
    u32 size = 99;
    const struct {
        void* buffer;
        u8 priority;
        f32 deadline;
    } reads[] = {
        {nullptr, 50, 0.0f},
        {buffer, 101, 0.0f},
        {buffer, 255, 0.0f},
        {buffer, 50, -1.0f},
        {buffer, 50, std::numeric_limits<f32>::quiet_NaN()},
    };
    for (const auto& r : reads) {
        EXPECT_EQ(stream->Read(r.buffer, 2048, true, r.priority, r.deadline, size), AuResultInvalidParameter);
        EXPECT_EQ(stream->Write(r.buffer, 2048, true, r.priority, r.deadline, size),
                  AuResultInvalidParameter);
    }
    EXPECT_EQ(stream->GetStatus(), AuStmStatusIdle);
    EXPECT_TRUE(m_io.Transfers().empty());

    const struct {
        i64 offset;
        u32 method;
        AURESULT result;
        u64 position;
        i64 real;
    } moves[] = {
        {5000, AuMoveBegin, AuResultSuccess, 4096, 4096},
        {100, AuMoveCurrent, AuResultSuccess, 4096, 0},
        {2048, AuMoveCurrent, AuResultSuccess, 6144, 2048},
        {-1000, AuMoveEnd, AuResultSuccess, 8192, -1808},
        {-1, AuMoveBegin, AuResultInvalidParameter, 8192, 0},
        {-20000, AuMoveEnd, AuResultInvalidParameter, 8192, 0},
        {0, 3, AuResultInvalidParameter, 8192, 0},
        {std::numeric_limits<i64>::max(), AuMoveEnd, AuResultInvalidParameter, 8192, 0},
    };
    for (const auto& m : moves) {
        i64 real = 0;
        EXPECT_EQ(stream->SetPosition(m.offset, static_cast<AuMoveMethod>(m.method), &real), m.result)
            << m.offset;
        EXPECT_EQ(stream->GetPosition(nullptr), m.position) << m.offset;
        if (m.result == AuResultSuccess) {
            EXPECT_EQ(real, m.real) << m.offset;
        }
    }
}

TEST_F(StandardStreamTest, AFailedTransferLeavesTheStreamInError) {
    StartDevice();
    m_io.AddFile(1, Pattern(50000));
    m_io.FailReadsOf(1);
    AU::IAuStdStream* stream = Open(1);
    ASSERT_NE(stream, nullptr);
    std::vector<u8> buffer(50000);
    u32 size = 0;
    EXPECT_EQ(stream->Read(buffer.data(), 50000, true, 50, 0.0f, size), AuResultFail);
    EXPECT_EQ(stream->GetStatus(), AuStmStatusError);
    EXPECT_EQ(m_io.Transfers().size(), 1u);
    EXPECT_EQ(stream->Read(buffer.data(), 10, true, 50, 0.0f, size), AuResultFail);
    EXPECT_EQ(stream->Read(buffer.data(), 10, false, 50, 0.0f, size), AuResultFail);
    EXPECT_EQ(m_io.Transfers().size(), 1u);
}

TEST_F(StandardStreamTest, WhilePendingTheStreamRefusesMovesAndNewOperations) {
    StartDevice();
    m_io.AddFile(1, Pattern(40000, 1));
    AU::IAuStdStream* stream = Open(1);
    ASSERT_NE(stream, nullptr);
    std::vector<u8> buffer(40000), other(100, 0xEE);
    u32 size = 0;
    m_io.HoldNextTransfer();
    ASSERT_EQ(stream->Read(buffer.data(), 40000, false, 50, 0.0f, size), AuResultSuccess);
    m_io.WaitUntilHeld();
    EXPECT_EQ(stream->GetStatus(), AuStmStatusPending);
    i64 real = 0;
    EXPECT_EQ(stream->SetPosition(16, AuMoveBegin, &real), AuResultFail);
    EXPECT_EQ(stream->GetPosition(nullptr), 0u);
    // A second operation is refused and does not retarget the pending one.
    EXPECT_EQ(stream->Read(other.data(), 100, false, 50, 0.0f, size), AuResultFail);
    EXPECT_EQ(stream->Write(other.data(), 100, false, 50, 0.0f, size), AuResultFail);
    m_io.Release();
    while (stream->GetStatus() == AuStmStatusPending)
        std::this_thread::yield();
    EXPECT_EQ(stream->GetStatus(), AuStmStatusCompleted);
    EXPECT_EQ(buffer, Pattern(40000, 1));
    EXPECT_EQ(other, std::vector<u8>(100, 0xEE));
    u32 dataSize = 0;
    EXPECT_EQ(stream->GetData(dataSize), buffer.data());
    EXPECT_EQ(dataSize, 40000u);
}

TEST_F(StandardStreamTest, WritesReachTheFileAndReadBack) {
    StartDevice();
    m_io.AddFile(9, {});
    AU::IAuStdStream* stream = Open(9, AuOpenModeReadWrite);
    ASSERT_NE(stream, nullptr);
    std::vector<u8> bytes = Pattern(40000, 3);
    u32 size = 0;
    ASSERT_EQ(stream->Write(bytes.data(), 40000, true, 50, 0.0f, size), AuResultSuccess);
    EXPECT_EQ(size, 40000u);
    EXPECT_EQ(m_io.Contents(9), bytes);
    EXPECT_EQ(m_io.Transfers().size(), 3u);
    EXPECT_EQ(stream->GetPosition(nullptr), 40000u);
    ASSERT_EQ(stream->SetPosition(0, AuMoveBegin, nullptr), AuResultSuccess);
    std::vector<u8> back(40000);
    ASSERT_EQ(stream->Read(back.data(), 40000, true, 50, 0.0f, size), AuResultSuccess);
    EXPECT_EQ(size, 40000u);
    EXPECT_EQ(back, bytes);
    AuStreamInfo info{};
    stream->GetInfo(info);
    EXPECT_EQ(info.uSize, 40000u);
    EXPECT_TRUE(info.bIsOpen);
    EXPECT_EQ(info.deviceID, m_io.deviceID);
}

TEST_F(StandardStreamTest, NamesAndInfo) {
    StartDevice();
    m_io.AddFile(12, Pattern(10));
    AU::IAuStdStream* stream = nullptr;
    ASSERT_EQ(m_pStreamMgr->CreateStd(L"12", nullptr, AuOpenModeRead, stream, true), AuResultSuccess);
    m_streams.push_back(stream);
    AuStreamInfo info{};
    stream->GetInfo(info);
    EXPECT_EQ(info.pszName, nullptr);
    EXPECT_EQ(info.uSize, 10u);
    ASSERT_EQ(stream->SetStreamName(L"twelve"), AuResultSuccess);
    stream->GetInfo(info);
    EXPECT_STREQ(info.pszName, L"twelve");
    EXPECT_EQ(stream->GetFileDescriptor()->iFileSize, 10);
    EXPECT_EQ(
        m_pStreamMgr->CreateStd(static_cast<const wchar_t*>(nullptr), nullptr, AuOpenModeRead, stream, true),
        AuResultInvalidParameter);
}

TEST_F(StandardStreamTest, OpenFailuresFreeEverything) {
    StartDevice();
    AU::MemoryMgr::PoolMemInfo before{};
    AU::MemoryMgr::GetPoolMemoryUsed(AU::StreamMgr::GetPoolID(), before);
    AU::IAuStdStream* stream = nullptr;
    EXPECT_EQ(m_pStreamMgr->CreateStd(404, nullptr, AuOpenModeRead, stream, true), AuResultFileNotFound);
    EXPECT_EQ(stream, nullptr);
    // A descriptor that names no device.
    m_io.AddFile(1, Pattern(10));
    const u32 device = m_io.deviceID;
    m_io.deviceID = 5;
    EXPECT_EQ(m_pStreamMgr->CreateStd(1, nullptr, AuOpenModeRead, stream, true), AuResultFail);
    // A block size that does not divide the granularity: the opened file is closed again.
    m_io.deviceID = device;
    m_io.blockSize = 3000;
    EXPECT_EQ(m_pStreamMgr->CreateStd(1, nullptr, AuOpenModeRead, stream, true), AuResultFail);
    EXPECT_EQ(m_io.CloseCount(), 1);
    AU::StreamMgr::SetFileLocationResolver(nullptr);
    EXPECT_EQ(m_pStreamMgr->CreateStd(1, nullptr, AuOpenModeRead, stream, true), AuResultFail);
    AU::MemoryMgr::PoolMemInfo after{};
    AU::MemoryMgr::GetPoolMemoryUsed(AU::StreamMgr::GetPoolID(), after);
    EXPECT_EQ(after.uUsed, before.uUsed);
}

TEST_F(StandardStreamTest, DeferredOpenRunsOnTheIOThread) {
    m_io.deferOpens = true;
    StartDevice();
    m_io.AddFile(3, Pattern(3000, 2));
    AU::IAuStdStream* stream = Open(3, AuOpenModeRead, false);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(m_io.OpenCount(), 0);
    AuStreamInfo info{};
    stream->GetInfo(info);
    EXPECT_FALSE(info.bIsOpen);
    std::vector<u8> buffer(4096);
    u32 size = 0;
    ASSERT_EQ(stream->Read(buffer.data(), 4096, true, 50, 0.0f, size), AuResultSuccess);
    EXPECT_EQ(m_io.OpenCount(), 1);
    u32 dataSize = 0;
    stream->GetData(dataSize);
    EXPECT_EQ(dataSize, 3000u);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 3000, Pattern(3000, 2).begin()));
    stream->GetInfo(info);
    EXPECT_TRUE(info.bIsOpen);
    EXPECT_EQ(info.uSize, 3000u);

    AU::IAuStdStream* missing = Open(77, AuOpenModeRead, false);
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->Read(buffer.data(), 10, true, 50, 0.0f, size), AuResultFail);
    EXPECT_EQ(missing->GetStatus(), AuStmStatusError);
}

// Both streams wait while the I/O thread is held in a third stream's transfer; the scheduler then
// serves them in the order its rules give.
TEST_F(StandardStreamTest, PendingStreamsAreServedByDeadlineThenPriority) {
    win32test::UseVirtualClock(1000000000);
    StartDevice();
    const struct {
        f32 deadlineA;
        u8 priorityA;
        f32 deadlineB;
        u8 priorityB;
        u32 first;
    } cases[] = {
        {500.0f, 50, 100.0f, 50, 2}, {100.0f, 50, 500.0f, 50, 1}, {0.0f, 50, 300.0f, 100, 1},
        {0.0f, 50, 0.0f, 80, 2},     {0.0f, 90, 0.0f, 80, 1},
    };
    m_io.AddFile(1, Pattern(1000, 1));
    m_io.AddFile(2, Pattern(1000, 2));
    m_io.AddFile(3, Pattern(1000, 3));
    AU::IAuStdStream* a = Open(1);
    AU::IAuStdStream* b = Open(2);
    AU::IAuStdStream* holder = Open(3);
    ASSERT_TRUE(a && b && holder);
    for (const auto& c : cases) {
        std::vector<u8> bufferA(1000), bufferB(1000), bufferH(1000);
        u32 size = 0;
        m_io.HoldNextTransfer();
        ASSERT_EQ(holder->SetPosition(0, AuMoveBegin, nullptr), AuResultSuccess);
        ASSERT_EQ(holder->Read(bufferH.data(), 1000, false, 50, 0.0f, size), AuResultSuccess);
        m_io.WaitUntilHeld();
        const size_t start = m_io.Transfers().size();
        ASSERT_EQ(a->SetPosition(0, AuMoveBegin, nullptr), AuResultSuccess);
        ASSERT_EQ(b->SetPosition(0, AuMoveBegin, nullptr), AuResultSuccess);
        const size_t blocked = win32test::BlockedWaiterCount();
        std::thread readerA([&] { a->Read(bufferA.data(), 1000, true, c.priorityA, c.deadlineA, size); });
        std::thread readerB([&] {
            u32 sizeB = 0;
            b->Read(bufferB.data(), 1000, true, c.priorityB, c.deadlineB, sizeB);
        });
        WaitForBlockedWaiters(blocked + 2);
        m_io.Release();
        readerA.join();
        readerB.join();
        const auto transfers = m_io.Transfers();
        ASSERT_EQ(transfers.size(), start + 2);
        EXPECT_EQ(transfers[start].fileID, c.first) << c.deadlineA << " " << c.deadlineB;
        EXPECT_EQ(bufferA, Pattern(1000, 1));
        EXPECT_EQ(bufferB, Pattern(1000, 2));
    }
}

TEST_F(StandardStreamTest, CancelAndDestroyWaitForTheTransferInProgress) {
    StartDevice();
    m_io.AddFile(1, Pattern(20000));
    m_io.AddFile(2, Pattern(20000));
    AU::IAuStdStream* cancelled = Open(1);
    AU::IAuStdStream* destroyed = Open(2);
    ASSERT_TRUE(cancelled && destroyed);
    std::vector<u8> buffer(20000);
    u32 size = 0;
    for (AU::IAuStdStream* stream : {cancelled, destroyed}) {
        m_io.HoldNextTransfer();
        ASSERT_EQ(stream->Read(buffer.data(), 20000, false, 50, 0.0f, size), AuResultSuccess);
        m_io.WaitUntilHeld();
        std::atomic<bool> returned{false};
        const size_t blocked = win32test::BlockedWaiterCount();
        std::thread caller([&] {
            if (stream == cancelled)
                stream->Cancel();
            else
                stream->Destroy();
            returned = true;
        });
        WaitForBlockedWaiters(blocked + 1);
        EXPECT_FALSE(returned);
        m_io.Release();
        caller.join();
        if (stream == destroyed) Forget(stream);
    }
    // The rest of the cancelled read never ran; a new one starts from the old position.
    EXPECT_EQ(cancelled->GetStatus(), AuStmStatusCancelled);
    EXPECT_EQ(cancelled->GetPosition(nullptr), 0u);
    EXPECT_EQ(m_io.Transfers().size(), 2u);
    ASSERT_EQ(cancelled->Read(buffer.data(), 20000, true, 50, 0.0f, size), AuResultSuccess);
    EXPECT_EQ(buffer, Pattern(20000));
}

TEST_F(StandardStreamTest, TheDeviceEndsOnlyAfterItsStreamsAndTerminationWinsOverWork) {
    StartDevice();
    m_io.AddFile(1, Pattern(1000));
    m_io.AddFile(2, Pattern(1000));
    AU::IAuStdStream* busy = Open(1);
    AU::IAuStdStream* waiting = Open(2);
    ASSERT_TRUE(busy && waiting);
    std::vector<u8> buffer(1000), other(1000);
    u32 size = 0;
    m_io.HoldNextTransfer();
    ASSERT_EQ(busy->Read(buffer.data(), 1000, false, 50, 0.0f, size), AuResultSuccess);
    m_io.WaitUntilHeld();
    ASSERT_EQ(waiting->Read(other.data(), 1000, false, 50, 0.0f, size), AuResultSuccess);

    std::atomic<bool> destroyed{false};
    const size_t blocked = win32test::BlockedWaiterCount();
    std::thread destroyer([&] {
        EXPECT_EQ(AU::StreamMgr::DestroyDevice(m_io.deviceID), AuResultSuccess);
        destroyed = true;
    });
    WaitForBlockedWaiters(blocked + 1); // the destroyer joins the I/O thread
    m_io.Release();
    // The I/O thread sees termination first, finds live streams and polls.
    WaitForBlockedWaiters(blocked + 2);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(busy->GetStatus(), AuStmStatusCompleted);
    EXPECT_EQ(waiting->GetStatus(), AuStmStatusPending);
    EXPECT_EQ(m_io.Transfers().size(), 1u);
    busy->Destroy();
    waiting->Destroy();
    m_streams.clear();
    destroyer.join();
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(m_io.CloseCount(), 2);
    m_io.deviceID = AU_INVALID_DEVICE_ID;
}

// The I/O thread must not hold the device lock during a transfer: another thread going from a
// stream's lock to the device lock (any read does) would deadlock against it.
TEST_F(StandardStreamTest, TransfersRunWithoutTheDeviceLock) {
    StartDevice();
    m_io.AddFile(1, Pattern(1000));
    m_io.AddFile(2, Pattern(1000));
    AU::IAuStdStream* first = Open(1);
    AU::IAuStdStream* second = Open(2);
    ASSERT_TRUE(first && second);
    std::vector<u8> buffer(1000), other(1000);
    std::atomic<int> inHook{0};
    std::atomic<bool> otherThreadGotThrough{false};
    std::promise<void> readIssued;
    std::thread helper;
    m_io.onTransfer = [&] {
        if (inHook++ != 0) return;
        helper = std::thread([&] {
            u32 size = 0;
            EXPECT_EQ(second->Read(other.data(), 1000, false, 50, 0.0f, size), AuResultSuccess);
            readIssued.set_value();
        });
        // Bounded only so that a regression fails instead of hanging: the read takes two short locks.
        otherThreadGotThrough =
            readIssued.get_future().wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    };
    u32 size = 0;
    ASSERT_EQ(first->Read(buffer.data(), 1000, true, 50, 0.0f, size), AuResultSuccess);
    helper.join();
    EXPECT_TRUE(otherThreadGotThrough);
    while (second->GetStatus() == AuStmStatusPending)
        std::this_thread::yield();
    EXPECT_EQ(other, Pattern(1000));
}

// An audio-like thread and a game-like thread read their own streams while a third polls; the
// I/O thread serves all of them.
TEST_F(StandardStreamTest, ConcurrentReadersStress) {
    StartDevice(4096);
    constexpr u32 kSize = 3 * 4096 + 100;
    m_io.AddFile(1, Pattern(kSize, 1));
    m_io.AddFile(2, Pattern(kSize, 2));
    AU::IAuStdStream* audio = Open(1);
    AU::IAuStdStream* game = Open(2);
    ASSERT_TRUE(audio && game);
    std::atomic<bool> stop{false};
    auto reader = [](AU::IAuStdStream* stream, u32 seed, u8 priority) {
        std::vector<u8> buffer(kSize);
        const std::vector<u8> expected = Pattern(kSize, seed);
        for (int i = 0; i < 150; ++i) {
            u32 size = 0;
            EXPECT_EQ(stream->SetPosition(0, AuMoveBegin, nullptr), AuResultSuccess);
            ASSERT_EQ(stream->Read(buffer.data(), kSize, true, priority, static_cast<f32>(i % 7), size),
                      AuResultSuccess);
            ASSERT_EQ(buffer, expected);
        }
    };
    std::thread poller([&] {
        while (!stop) {
            bool end = false;
            audio->GetPosition(&end);
            audio->GetStatus();
            AuStreamInfo info;
            game->GetInfo(info);
        }
    });
    std::thread audioThread(reader, audio, 1u, u8{90});
    reader(game, 2, 20);
    audioThread.join();
    stop = true;
    poller.join();
    EXPECT_EQ(m_io.Transfers().size(), 2u * 150 * 4);
}

} // namespace
