#include "core/AuPositionRepository.h"

#include <AU/MemoryMgr.h>
#include <win32_testing.h>

#include <gtest/gtest.h>

#include <thread>

namespace {

constexpr int64_t kMs = 1000000; // virtual clock ticks are nanoseconds

class PositionRepositoryTest : public testing::Test {
protected:
    void SetUp() override {
        const AuMemoryMgrSettings settings{4};
        ASSERT_EQ(AU::MemoryMgr::Init(&settings), AuResultSuccess);
        g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 1 << 20, 64, AuPoolAttrMalloc, 0);
        ASSERT_NE(g_DefaultPoolId, -1);
        win32test::UseVirtualClock(1000 * kMs);
        repository = new CAuPositionRepository;
        ASSERT_EQ(repository->Init(), AuResultSuccess);
    }
    void TearDown() override {
        delete repository;
        win32test::UseRealClock();
        AU::MemoryMgr::Term();
        g_DefaultPoolId = -1;
    }
    CAuPositionRepository* repository = nullptr;
};

TEST_F(PositionRepositoryTest, NoPositionBeforeTheVoiceReportsASampleRate) {
    u32 ms = 77;
    EXPECT_EQ(repository->GetSourcePlayPosition(5, ms, false), AuResultFail);
    EXPECT_EQ(ms, 0u);
    repository->AddSource(5, 0xC0);
    ms = 77;
    EXPECT_EQ(repository->GetSourcePlayPosition(5, ms, true), AuResultFail);
    EXPECT_EQ(ms, 0u);
    repository->UpdatePlayPosition(5, 0xC0, 100, 1000, 0); // rate 0 is as unknown as 1
    EXPECT_EQ(repository->GetSourcePlayPosition(5, ms, false), AuResultFail);
    repository->UpdatePlayPosition(5, 0xC0, 24000, 96000, 48000);
    EXPECT_EQ(repository->GetSourcePlayPosition(5, ms, false), AuResultSuccess);
    EXPECT_EQ(ms, 500u);
}

TEST_F(PositionRepositoryTest, ExtrapolationFollowsTheClockAndRateAndStopsAtTheDuration) {
    repository->UpdatePlayPosition(9, 1, 48000, 48000 * 3, 48000); // at 1 s of 3 s
    u32 ms = 0;
    win32test::AdvanceVirtualClock(250 * kMs);
    EXPECT_EQ(repository->GetSourcePlayPosition(9, ms, false), AuResultSuccess);
    EXPECT_EQ(ms, 1000u);
    EXPECT_EQ(repository->GetSourcePlayPosition(9, ms, true), AuResultSuccess);
    EXPECT_EQ(ms, 1250u);

    repository->UpdateTime(1);    // the frame's stamp: now
    repository->SetRate(9, 2.0f); // restamps the row at the frame's time
    win32test::AdvanceVirtualClock(100 * kMs);
    EXPECT_EQ(repository->GetSourcePlayPosition(9, ms, true), AuResultSuccess);
    EXPECT_EQ(ms, 1200u);

    win32test::AdvanceVirtualClock(60000 * kMs);
    EXPECT_EQ(repository->GetSourcePlayPosition(9, ms, true), AuResultSuccess);
    EXPECT_EQ(ms, 3000u);
}

TEST_F(PositionRepositoryTest, LongPositionsDoNotOverflow) {
    // Two hours at 48 kHz: position x 1000 needs more than 32 bits.
    const u32 samples = 48000u * 7200u;
    repository->UpdatePlayPosition(3, 1, samples, 0xFFFFFFFEu, 48000);
    u32 ms = 0;
    EXPECT_EQ(repository->GetSourcePlayPosition(3, ms, false), AuResultSuccess);
    EXPECT_EQ(ms, 7200000u);
}

TEST_F(PositionRepositoryTest, RowsBelongToTheirCookieAndKeepTheirOrder) {
    for (AuPlayingID id = 1; id <= 12; ++id) // more than the 8 rows made at Init
        repository->UpdatePlayPosition(id, 100 + id, id * 1000, 1000000, 1000);
    repository->AddSource(4, 999);    // already has a row: unchanged
    repository->RemoveSource(5, 999); // not its cookie
    repository->RemovePlayingID(2);
    repository->RemoveSource(7, 107);
    u32 ms = 0;
    for (AuPlayingID id = 1; id <= 12; ++id) {
        const bool present = id != 2 && id != 7;
        EXPECT_EQ(repository->GetSourcePlayPosition(id, ms, false), present ? AuResultSuccess : AuResultFail)
            << id;
        if (present) {
            EXPECT_EQ(ms, id * 1000u) << id;
        }
    }
}

TEST_F(PositionRepositoryTest, StreamBufferingKeepsTheSmallestAmountWithinAFrame) {
    u32 amount = 0, status = 0;
    EXPECT_EQ(repository->GetSourceStreamBuffering(8, amount, status), AuResultFail);

    repository->UpdateTime(10);
    repository->UpdateStreamBuffering(8, 400, 17);
    repository->UpdateStreamBuffering(8, 250, 1);
    repository->UpdateStreamBuffering(8, 300, 17);
    ASSERT_EQ(repository->GetSourceStreamBuffering(8, amount, status), AuResultSuccess);
    EXPECT_EQ(amount, 250u);
    EXPECT_EQ(status, 17u);

    repository->UpdateStreamBuffering(8, 900, 2); // an error is reported as it comes
    ASSERT_EQ(repository->GetSourceStreamBuffering(8, amount, status), AuResultSuccess);
    EXPECT_EQ(amount, 900u);
    EXPECT_EQ(status, 2u);

    repository->UpdateTime(11); // a new frame takes the values as they come
    repository->UpdateStreamBuffering(8, 1, 1);
    repository->UpdateStreamBuffering(8, 5, 17); // the kept amount is 1: status not stored
    ASSERT_EQ(repository->GetSourceStreamBuffering(8, amount, status), AuResultSuccess);
    EXPECT_EQ(amount, 1u);
    EXPECT_EQ(status, 1u);

    repository->UpdateTime(12);
    repository->UpdateStreamBuffering(8, 600, 17);
    ASSERT_EQ(repository->GetSourceStreamBuffering(8, amount, status), AuResultSuccess);
    EXPECT_EQ(amount, 600u);
    EXPECT_EQ(status, 17u);

    repository->RemoveStreamBuffering(8);
    EXPECT_EQ(repository->GetSourceStreamBuffering(8, amount, status), AuResultFail);
}

TEST_F(PositionRepositoryTest, GameThreadsReadWhileTheAudioThreadWrites) {
    win32test::UseRealClock();
    std::thread audio([&] {
        for (u32 i = 0; i < 2000; ++i) {
            repository->UpdateTime(i);
            repository->UpdatePlayPosition(1 + i % 4, 1, i * 48, 48000 * 100, 48000);
            repository->UpdateStreamBuffering(1 + i % 4, i, 1);
            if (i % 10 == 0) repository->RemovePlayingID(1 + i % 4);
        }
    });
    u32 ms = 0, amount = 0, status = 0;
    for (int i = 0; i < 2000; ++i) {
        repository->GetSourcePlayPosition(1 + i % 4, ms, true);
        repository->GetSourceStreamBuffering(1 + i % 4, amount, status);
        EXPECT_LE(ms, 100000u);
    }
    audio.join();
}

} // namespace
