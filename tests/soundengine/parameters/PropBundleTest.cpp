#include "parameters/AuPropBundle.h"

#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <vector>

namespace {

class PropBundleTest : public AuDefaultPoolTest {
protected:
    PropBundleTest() : AuDefaultPoolTest(4096) {}
};

void PutU32(std::vector<u8>& bytes, u32 value) {
    for (int i = 0; i < 4; ++i)
        bytes.push_back(u8(value >> (8 * i)));
}

TEST_F(PropBundleTest, Bundle8EntriesStartAtAMultipleOfFourAfterTheIDs) {
    AuPropBundle8 bundle;
    for (u32 n = 1; n <= 9; ++n) {
        AuPropValue8* entry = bundle.Add(u8(n * 10));
        ASSERT_NE(entry, nullptr);
        const auto offset = reinterpret_cast<const u8*>(entry) - bundle.Block();
        EXPECT_EQ(offset, std::ptrdiff_t((n + 4) / 4 * 4 + (n - 1) * 8)) << n;
        EXPECT_EQ(offset % 4, 0);
        EXPECT_EQ(entry->word1, 0u);
        entry->word1 = n;
        entry->word2 = n * 100;
    }
    EXPECT_EQ(bundle.Count(), 9u);
    for (u32 n = 1; n <= 9; ++n) { // entries survive the moves to larger blocks
        const AuPropValue8* entry = bundle.Get(u8(n * 10));
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->word1, n);
        EXPECT_EQ(entry->word2, n * 100);
    }
    EXPECT_EQ(bundle.Get(11), nullptr);
}

TEST_F(PropBundleTest, Bundle8SetChangesOrAdds) {
    AuPropBundle8 bundle;
    EXPECT_EQ(bundle.Set(10, std::bit_cast<u32>(1.0f), 0), AuResultSuccess);
    EXPECT_EQ(bundle.Set(3, 7, 8), AuResultSuccess);
    EXPECT_EQ(bundle.Set(10, 5, 6), AuResultSuccess);
    EXPECT_EQ(bundle.Count(), 2u);
    EXPECT_EQ(bundle.Get(10)->word1, 5u);
    EXPECT_EQ(bundle.Get(3)->word2, 8u);
}

TEST_F(PropBundleTest, Bundle8WithoutMemoryKeepsTheOldBlock) {
    AuPropBundle8 bundle;
    u32 n = 0;
    while (bundle.Add(u8(n)))
        bundle.Get(u8(n))->word1 = n, ++n;
    ASSERT_GT(n, 3u);
    ASSERT_LT(n, 255u); // the pool ran out, not the IDs
    const u8* block = bundle.Block();
    EXPECT_EQ(bundle.Count(), n);
    EXPECT_EQ(bundle.Set(u8(n), 1, 2), AuResultFail);
    EXPECT_EQ(bundle.Block(), block);
    for (u32 i = 0; i < n; ++i)
        ASSERT_EQ(bundle.Get(u8(i))->word1, i);
}

class PropBundleLargeTest : public AuDefaultPoolTest {};

TEST_F(PropBundleLargeTest, Bundle8HoldsAtMost255IDs) {
    std::vector<u8> bank{255};
    for (u32 i = 0; i < 255; ++i)
        bank.push_back(u8(i));
    bank.resize(bank.size() + 255 * 8);
    AuPropBundle8 bundle;
    const u8* cursor = bank.data();
    ASSERT_EQ(bundle.ReadFromBank(cursor, bank.data() + bank.size()), AuResultSuccess);
    EXPECT_EQ(bundle.Count(), 255u);
    EXPECT_EQ(bundle.Add(255), nullptr); // the count byte is full
    EXPECT_EQ(bundle.Count(), 255u);
}

TEST_F(PropBundleTest, ReadFromBankPadsTheValues) {
    std::vector<u8> bank{3, 4, 10, 0x20};
    PutU32(bank, std::bit_cast<u32>(0.5f));
    PutU32(bank, 1);
    PutU32(bank, 2);
    PutU32(bank, 3);
    PutU32(bank, std::bit_cast<u32>(-3.0f));
    PutU32(bank, 0xFFFFFFFF);
    bank.push_back(0xEE); // the next field of the record
    AuPropBundle8 bundle;
    const u8* cursor = bank.data();
    ASSERT_EQ(bundle.ReadFromBank(cursor, bank.data() + bank.size()), AuResultSuccess);
    EXPECT_EQ(*cursor, 0xEE);
    ASSERT_EQ(bundle.Count(), 3u);
    EXPECT_EQ(std::bit_cast<f32>(bundle.Get(4)->word1), 0.5f);
    EXPECT_EQ(bundle.Get(10)->word2, 3u);
    EXPECT_EQ(bundle.Get(0x20)->word2, 0xFFFFFFFFu);
    EXPECT_EQ(bundle.Block()[4], 0); // the padding after the IDs
}

TEST_F(PropBundleTest, EmptyOrShortBankBundles) {
    const std::vector<u8> none{0, 0xEE};
    AuPropBundle8 bundle;
    ASSERT_EQ(bundle.Set(1, 1, 1), AuResultSuccess);
    const u8* cursor = none.data();
    EXPECT_EQ(bundle.ReadFromBank(cursor, none.data() + none.size()), AuResultSuccess);
    EXPECT_EQ(bundle.Block(), nullptr); // n = 0 leaves no block
    EXPECT_EQ(cursor, none.data() + 1);
    EXPECT_EQ(Used(), m_usedAtStart);

    // A count larger than the record: refused, nothing read past its end.
    const std::vector<u8> shortRecord{2, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    cursor = shortRecord.data();
    EXPECT_EQ(bundle.ReadFromBank(cursor, shortRecord.data() + shortRecord.size()), AuResultTruncatedChunk);
    EXPECT_EQ(cursor, shortRecord.data());
    AuPropBundle plain;
    EXPECT_EQ(plain.SetFromBank(cursor, shortRecord.data() + 9), AuResultTruncatedChunk); // 1 + 2 + 8 needed
    EXPECT_EQ(plain.SetFromBank(cursor, shortRecord.data()), AuResultTruncatedChunk);
    EXPECT_EQ(plain.SetFromBank(cursor, shortRecord.data() + 11), AuResultSuccess);
    EXPECT_EQ(plain.Count(), 2u);
}

TEST_F(PropBundleTest, PlainBundleFromBank) {
    std::vector<u8> bank{5, 0, 1, 2, 3, 4};
    for (u32 i = 0; i < 5; ++i)
        PutU32(bank, std::bit_cast<u32>(f32(i) - 2.0f));
    AuPropBundle bundle;
    const u8* cursor = bank.data();
    ASSERT_EQ(bundle.SetFromBank(cursor, bank.data() + bank.size()), AuResultSuccess);
    EXPECT_EQ(cursor, bank.data() + bank.size());
    for (u8 id = 0; id < 5; ++id)
        EXPECT_EQ(bundle.GetValue(id)->f, f32(id) - 2.0f);
    EXPECT_EQ(bundle.GetValue(5), nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(bundle.GetValue(0)) % 4, 0u);
}

TEST_F(PropBundleTest, PlainBundleWithoutMemoryKeepsTheOldOne) {
    std::vector<u8> small{1, 7};
    PutU32(small, 70);
    std::vector<u8> big{250};
    for (u32 i = 0; i < 250; ++i)
        big.push_back(u8(i));
    big.resize(big.size() + 250 * 4);
    AuPropBundle bundle;
    const u8* cursor = small.data();
    ASSERT_EQ(bundle.SetFromBank(cursor, small.data() + small.size()), AuResultSuccess);
    // Fill the pool so that the bigger block cannot be had.
    std::vector<void*> held;
    while (void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, 256))
        held.push_back(block);
    cursor = big.data();
    EXPECT_EQ(bundle.SetFromBank(cursor, big.data() + big.size()), AuResultNoMemory);
    EXPECT_EQ(cursor, big.data());
    EXPECT_EQ(bundle.GetValue(7)->u, 70u);
    for (void* block : held)
        AU::MemoryMgr::Free(g_DefaultPoolId, block);
}

} // namespace
