// The bank reader: memory and stream paths, bounds, views across buffer boundaries, settings.
#include "BankTestSupport.h"

#include "banks/AuBankFormat.h"
#include "banks/AuBankReader.h"

#include <algorithm>

namespace banktest {
namespace {

class BankReaderTest : public BankTest {
protected:
    void TearDown() override {
        m_reader.Term();
        EXPECT_EQ(Used(), m_usedAtStart) << "the reader gave back all its memory";
        BankTest::TearDown();
    }
    // Opens the fake file; the first transfer fills the buffer.
    void Open(Bytes file, u32 blockSize) {
        m_streams.file = std::move(file);
        m_streams.blockSize = blockSize;
        ASSERT_EQ(m_reader.Init(), AuResultSuccess);
        ASSERT_EQ(m_reader.OpenByID(7, 0, 0, nullptr, false), AuResultSuccess);
    }
    Bytes Slice(size_t at, size_t n) const {
        return Bytes(m_streams.file.begin() + at, m_streams.file.begin() + at + n);
    }

    FakeStreamMgr m_streams;
    CAuBankReader m_reader;
};

TEST_F(BankReaderTest, InitAndLoadSettings) {
    ASSERT_EQ(m_reader.Init(), AuResultSuccess);
    EXPECT_EQ(m_reader.Init(), AuResultFail);
    EXPECT_FLOAT_EQ(m_reader.Throughput(), 1048.576f);
    EXPECT_EQ(m_reader.Priority(), 50);

    const struct {
        f32 throughput;
        u8 priority;
        AURESULT expected;
    } cases[] = {
        {-0.5f, 10, AuResultInvalidParameter},
        {200.0f, 101, AuResultInvalidParameter},
        {200.0f, 255, AuResultInvalidParameter},
        {0.0f, 100, AuResultSuccess},
        {3.0f, 0, AuResultSuccess},
    };
    for (const auto& c : cases) {
        const f32 before = m_reader.Throughput();
        const u8 priorityBefore = m_reader.Priority();
        EXPECT_EQ(m_reader.SetBankLoadIOSettings(c.throughput, c.priority), c.expected);
        const bool stored = c.expected == AuResultSuccess;
        EXPECT_EQ(m_reader.Throughput(), stored ? c.throughput : before);
        EXPECT_EQ(m_reader.Priority(), stored ? c.priority : priorityBefore);
    }
}

TEST_F(BankReaderTest, MemoryPathReadsSkipsAndViewsInPlace) {
    const Bytes image = Pattern(100);
    m_reader.SetMemory(image.data(), 100);
    u8 bytes[16];
    u32 got = 0;
    ASSERT_EQ(m_reader.Read(bytes, 10, got), AuResultSuccess);
    EXPECT_EQ(got, 10u);
    EXPECT_TRUE(std::equal(bytes, bytes + 10, image.begin()));
    EXPECT_EQ(m_reader.GetData(20, got), image.data() + 10) << "no copy for a bank in memory";
    EXPECT_EQ(got, 20u);
    m_reader.ReleaseData();
    EXPECT_EQ(m_reader.ReadExact(bytes, 4), AuResultSuccess);
    EXPECT_EQ(bytes[0], image[30]);
    EXPECT_EQ(m_reader.Skip(60, got), AuResultSuccess);
    EXPECT_EQ(got, 60u);
    EXPECT_EQ(m_reader.Consumed(), 94u);
    EXPECT_EQ(m_reader.Available(), 6u);
    EXPECT_EQ(m_reader.GetData(10, got), image.data() + 94) << "a short view still points in place";
    EXPECT_EQ(got, 6u);
    EXPECT_EQ(m_reader.ReadExact(bytes, 1), AuResultHeaderChunkTooShort);
    EXPECT_EQ(m_reader.Read(bytes, 5, got), AuResultSuccess);
    EXPECT_EQ(got, 0u);
}

TEST_F(BankReaderTest, BoundsNestAndStopEveryKindOfRead) {
    const Bytes image = Pattern(64);
    m_reader.SetMemory(image.data(), 64);
    u8 bytes[64];
    u32 got = 0;
    const u64 outer = m_reader.BeginBounds(20);
    const u64 inner = m_reader.BeginBounds(8);
    EXPECT_EQ(m_reader.Read(bytes, 10, got), AuResultSuccess);
    EXPECT_EQ(got, 8u);
    EXPECT_EQ(m_reader.ReadExact(bytes, 1), AuResultHeaderChunkTooShort);
    m_reader.EndBounds(inner);
    EXPECT_EQ(m_reader.BoundsLeft(), 12u);
    // An inner bound never reaches past the outer one.
    const u64 wide = m_reader.BeginBounds(100);
    EXPECT_EQ(m_reader.Skip(50, got), AuResultSuccess);
    EXPECT_EQ(got, 12u);
    m_reader.EndBounds(wide);
    EXPECT_EQ(m_reader.GetData(4, got), image.data() + 20);
    EXPECT_EQ(got, 0u);
    m_reader.EndBounds(outer);
    EXPECT_EQ(m_reader.Read(bytes, 4, got), AuResultSuccess);
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(bytes[0], image[20]);
}

TEST_F(BankReaderTest, BankIDFromMemory) {
    Bytes image = Header(112, 20, 0x50C63A23);
    EXPECT_EQ(AuGetBankIDFromMemory(image.data(), 28), 0x50C63A23u);
    EXPECT_EQ(AuGetBankIDFromMemory(image.data(), 27), 0u);
    EXPECT_EQ(AuGetBankIDFromMemory(nullptr, 28), 0u);
}

TEST_F(BankReaderTest, StreamBufferIsAtLeast32KiBAndReadsWholeBlocks) {
    const struct {
        u32 blockSize;
        u32 capacity;
        u32 firstTransfer;
    } cases[] = {{1, 32768, 32768}, {2048, 32768, 32768}, {3000, 32768, 30000}, {65536, 65536, 65536}};
    for (const auto& c : cases) {
        m_reader.Term();
        m_streams.log.clear();
        Open(Pattern(200000), c.blockSize);
        EXPECT_EQ(m_reader.BufferCapacity(), c.capacity);
        u8 bytes[8];
        ASSERT_EQ(m_reader.ReadExact(bytes, 8), AuResultSuccess);
        EXPECT_TRUE(std::equal(bytes, bytes + 8, m_streams.file.begin()));
        ASSERT_EQ(m_streams.log.size(), 2u);
        EXPECT_EQ(m_streams.log[1], Line("read 0 %u priority 50", c.firstTransfer));
    }
}

// Banks are read seldom: a closed reader holds no buffer, and the next open reads as the first.
TEST_F(BankReaderTest, ClosingGivesTheBufferBack) {
    for (int open = 0; open < 2; ++open) {
        if (open == 0)
            Open(Pattern(200000), 2048);
        else
            ASSERT_EQ(m_reader.OpenByID(7, 0, 0, nullptr, false), AuResultSuccess);
        u8 bytes[8];
        ASSERT_EQ(m_reader.ReadExact(bytes, 8), AuResultSuccess);
        EXPECT_TRUE(std::equal(bytes, bytes + 8, m_streams.file.begin()));
        EXPECT_GE(Used(), m_usedAtStart + CAuBankReader::kMinBufferSize);
        EXPECT_EQ(m_reader.Close(), AuResultSuccess);
        EXPECT_EQ(Used(), m_usedAtStart);
        EXPECT_EQ(m_reader.BufferCapacity(), 0u);
    }
}

TEST_F(BankReaderTest, OpenFlagsLanguageFallBackAndFailures) {
    m_streams.file = Pattern(100);
    m_streams.onlyCommon = true;
    ASSERT_EQ(m_reader.Init(), AuResultSuccess);
    int cookie = 0;
    ASSERT_EQ(m_reader.OpenByID(1234, 0, 4, &cookie, true), AuResultSuccess);
    ASSERT_EQ(m_streams.log.size(), 2u);
    const std::string flags = Line("{0 4 0 %p %%d 0 FFFFFFFF} mode 0 sync 1", static_cast<void*>(&cookie));
    EXPECT_EQ(m_streams.log[0], "open id 1234 flags " + Line(flags.c_str(), 1));
    EXPECT_EQ(m_streams.log[1], "open id 1234 flags " + Line(flags.c_str(), 0));

    m_streams.log.clear();
    ASSERT_EQ(m_reader.OpenByName("Init.bnk", 0, &cookie), AuResultSuccess);
    EXPECT_EQ(m_streams.log[0], "destroy") << "a new open closes the previous stream";
    EXPECT_EQ(
        m_streams.log[1],
        "open name Init.bnk flags " +
            Line(Line("{0 0 0 %p %%d 0 FFFFFFFF} mode 0 sync 1", static_cast<void*>(&cookie)).c_str(), 0));

    m_streams.missing = true;
    EXPECT_EQ(m_reader.OpenByID(1234, 0, 0, nullptr, true), AuResultFileNotFound);
    EXPECT_FALSE(m_reader.IsStreamed());
    m_streams.missing = false;
    m_streams.blockSize = 0;
    m_streams.log.clear();
    EXPECT_EQ(m_reader.OpenByID(1234, 0, 0, nullptr, false), AuResultFail);
    EXPECT_EQ(m_streams.log.back(), "destroy");
    EXPECT_FALSE(m_reader.IsStreamed());
}

TEST_F(BankReaderTest, OpenAtAnOffsetReadsUpToItFromTheBlockBoundary) {
    m_streams.file = Pattern(5000);
    m_streams.blockSize = 512;
    ASSERT_EQ(m_reader.Init(), AuResultSuccess);
    ASSERT_EQ(m_reader.OpenByID(9, 1000, 0, nullptr, false), AuResultSuccess);
    EXPECT_EQ(m_streams.log[1], "seek 512");
    u8 byte = 0;
    ASSERT_EQ(m_reader.ReadExact(&byte, 1), AuResultSuccess);
    EXPECT_EQ(byte, m_streams.file[1000]);
    EXPECT_EQ(m_reader.Consumed(), 1u) << "positions count from the offset";

    EXPECT_EQ(m_reader.OpenByID(9, 6000, 0, nullptr, false), AuResultFail) << "an offset past the end";
}

TEST_F(BankReaderTest, GetDataAcrossABufferBoundaryUsesAnAlignedTemporaryBlock) {
    Open(Pattern(200000), 2048);
    for (u32 left : {20u, 64u, 1u}) {
        u32 got = 0;
        // Leaves `left` bytes in the buffer.
        const u32 skip = static_cast<u32>(m_reader.BufferCapacity() - (m_reader.Consumed() % 32768) - left);
        ASSERT_EQ(m_reader.Skip(skip, got), AuResultSuccess);
        const size_t at = m_reader.Consumed();
        const u8* data = m_reader.GetData(100, got);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(got, 100u);
        EXPECT_EQ(Bytes(data, data + 100), Slice(at, 100));
        EXPECT_EQ((reinterpret_cast<uintptr_t>(data) + left) % 32, 0u) << "the buffered part ends aligned";
        EXPECT_GT(Used(), m_usedAtStart + m_reader.BufferCapacity());
        m_reader.ReleaseData();
    }
    // Inside the buffer: consecutive views, no block.
    u32 got = 0;
    const u32 used = Used();
    const u8* first = m_reader.GetData(10, got);
    const u8* second = m_reader.GetData(10, got);
    EXPECT_EQ(second, first + 10);
    EXPECT_EQ(Used(), used);
    // A view larger than the buffer.
    const size_t at = m_reader.Consumed();
    const u8* large = m_reader.GetData(40000, got);
    ASSERT_NE(large, nullptr);
    EXPECT_EQ(Bytes(large, large + 40000), Slice(at, 40000));
    m_reader.ReleaseData();
}

TEST_F(BankReaderTest, ShortViewsAndReadsAtTheEndOfAFile) {
    Open(Pattern(40000), 2048);
    const u32 withBuffer = Used();
    u32 got = 0;
    ASSERT_EQ(m_reader.Skip(39990, got), AuResultSuccess);
    EXPECT_EQ(m_reader.GetData(20, got), nullptr) << "a view the file cannot fill";
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(Used(), withBuffer) << "its block is freed again";

    m_reader.Term();
    m_streams.log.clear();
    Open(Pattern(40000), 2048);
    Bytes bytes(50000);
    EXPECT_EQ(m_reader.Read(bytes.data(), 50000, got), AuResultFail) << "a direct transfer cut short";
    EXPECT_EQ(got, 40000u);
    EXPECT_EQ(m_streams.log[1], "read 0 49152 priority 50");
}

TEST_F(BankReaderTest, LargeReadsGoStraightToTheDestination) {
    Open(Pattern(100000), 2048);
    ASSERT_EQ(m_reader.SetBankLoadIOSettings(1.0f, 77), AuResultSuccess);
    Bytes bytes(70000);
    u32 got = 0;
    ASSERT_EQ(m_reader.Read(bytes.data(), 70000, got), AuResultSuccess);
    EXPECT_EQ(got, 70000u);
    EXPECT_EQ(bytes, Slice(0, 70000));
    const std::vector<std::string> expected{"read 0 69632 priority 77", "read 69632 32768 priority 77"};
    EXPECT_EQ(std::vector<std::string>(m_streams.log.begin() + 1, m_streams.log.end()), expected);
}

TEST_F(BankReaderTest, LongSkipsMoveTheStreamAndStopAtTheEnd) {
    Open(Pattern(200000), 2048);
    u32 got = 0;
    ASSERT_EQ(m_reader.Skip(150000, got), AuResultSuccess);
    EXPECT_EQ(got, 150000u);
    EXPECT_NE(std::find(m_streams.log.begin(), m_streams.log.end(), "seek 116736"), m_streams.log.end());
    u8 byte = 0;
    ASSERT_EQ(m_reader.ReadExact(&byte, 1), AuResultSuccess);
    EXPECT_EQ(byte, m_streams.file[150000]);
    EXPECT_EQ(m_reader.Available(), 200000u - 150001u);

    EXPECT_EQ(m_reader.Skip(100000, got), AuResultFail);
    EXPECT_EQ(got, 200000u - 150001u) << "what was there is counted";
}

} // namespace
} // namespace banktest
