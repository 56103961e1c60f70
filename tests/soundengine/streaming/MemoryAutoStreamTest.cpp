// The in-memory automatic stream that the streamed sources' tests read: its buffers follow the
// file and its loop region in order, and its answers are those of the interface.
#include <AuMemoryAutoStream.h>

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace {

std::vector<u8> Pattern(u32 size) {
    std::vector<u8> bytes(size);
    for (u32 i = 0; i < size; ++i)
        bytes[i] = u8(i * 7 + 3);
    return bytes;
}

TEST(MemoryAutoStream, BuffersFollowTheFileAndItsLoop) {
    autostm::MemoryStreamMgr mgr;
    EXPECT_EQ(AU::IAuStreamMgr::m_pStreamMgr, &mgr);
    mgr.AddFile(5, Pattern(100));
    AuFileOpenFlags flags{};
    AU::IAuAutoStream* stream = nullptr;
    ASSERT_EQ(mgr.CreateAuto(5, &flags, {1.0f, 40, 70, 0, 50}, nullptr, stream, true), AuResultSuccess);
    EXPECT_TRUE(flags.bIsAutomaticStream);
    mgr.last->sizes = {30, 25}; // the third is cut at the loop end
    std::vector<u8> got;
    for (int i = 0; i < 4; ++i) {
        void* data;
        u32 size;
        ASSERT_EQ(stream->GetBuffer(data, size, false), AuResultDataReady);
        got.insert(got.end(), static_cast<u8*>(data), static_cast<u8*>(data) + size);
    }
    const std::vector<u8> file = Pattern(100);
    std::vector<u8> expected(file.begin(), file.begin() + 70);
    expected.insert(expected.end(), file.begin() + 40, file.begin() + 65);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(mgr.last->Granted(), 4u);

    // Without the loop the stream runs to the end of the file and says so.
    stream->SetHeuristics({1.0f, 0, 0, 0, 50});
    i64 real;
    ASSERT_EQ(stream->SetPosition(90, AuMoveBegin, &real), AuResultSuccess);
    EXPECT_EQ(real, 90);
    void* data;
    u32 size;
    EXPECT_EQ(stream->GetBuffer(data, size, false), AuResultNoMoreData);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(stream->GetBuffer(data, size, false), AuResultNoMoreData);
    EXPECT_EQ(size, 0u);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(stream->ReleaseBuffer(), AuResultSuccess);
    EXPECT_EQ(stream->ReleaseBuffer(), AuResultFail);
    stream->Destroy();
    EXPECT_EQ(mgr.Live(), 0u);
    EXPECT_EQ(mgr.destroyed, 1);
}

TEST(MemoryAutoStream, RunsDryFailsAndMissesFiles) {
    autostm::MemoryStreamMgr mgr;
    mgr.AddFile(L"a.aum", Pattern(10));
    AU::IAuAutoStream* stream = nullptr;
    EXPECT_EQ(mgr.CreateAuto(9, nullptr, {1.0f, 0, 0, 0, 50}, nullptr, stream, true), AuResultFileNotFound);
    ASSERT_EQ(mgr.CreateAuto(L"a.aum", nullptr, {1.0f, 0, 0, 0, 50}, nullptr, stream, true), AuResultSuccess);
    void* data;
    u32 size;
    u32 held;
    mgr.last->dry = true;
    EXPECT_EQ(stream->GetBuffer(data, size, false), AuResultNoDataReady);
    EXPECT_EQ(stream->QueryBufferingStatus(held), AuResultNoDataReady);
    mgr.last->dry = false;
    EXPECT_EQ(stream->QueryBufferingStatus(held), AuResultDataReady);
    EXPECT_EQ(held, 10u);
    mgr.last->error = true;
    EXPECT_EQ(stream->GetBuffer(data, size, false), AuResultFail);
    EXPECT_EQ(stream->QueryBufferingStatus(held), AuResultFail);
    stream->Destroy();
}

} // namespace
