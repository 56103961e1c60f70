#include "memory/AuPoolList.h"

#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Entry {
    u32 id;
    u32 data;
};

class PoolListTest : public AuDefaultPoolTest {
protected:
    PoolListTest() : AuDefaultPoolTest(8192) {}
    void TearDown() override {
        EXPECT_EQ(Used(), m_usedAtStart) << "the list left memory behind";
        AuDefaultPoolTest::TearDown();
    }
    static std::vector<u32> Ids(AuPoolList<Entry>& list) {
        std::vector<u32> ids;
        list.ForEach([&](const Entry& e) { ids.push_back(e.id); });
        return ids;
    }
};

TEST_F(PoolListTest, BlockItemsReturnToTheFreeListAndPoolItemsToThePool) {
    AuPoolList<Entry> list;
    ASSERT_EQ(list.Init(2, AuPoolList<Entry>::kNoMaximum), AuResultSuccess);
    const u32 afterBlock = Used();
    list.AddLast({1, 0});
    list.AddLast({2, 0});
    EXPECT_EQ(Used(), afterBlock); // the block serves the first two
    list.AddLast({3, 0});
    list.AddFirst({0, 0});
    EXPECT_GT(Used(), afterBlock);
    EXPECT_EQ(Ids(list), (std::vector<u32>{0, 1, 2, 3}));

    const u32 full = Used();
    EXPECT_TRUE(list.RemoveFirst([](const Entry& e) { return e.id == 3; })); // the tail, a pool item
    EXPECT_LT(Used(), full);                                                 // freed at once
    EXPECT_FALSE(list.RemoveFirst([](const Entry& e) { return e.id == 9; }));
    list.AddLast({4, 0}); // from the pool again, and the tail moved correctly
    EXPECT_EQ(Used(), full);
    EXPECT_EQ(Ids(list), (std::vector<u32>{0, 1, 2, 4}));
    EXPECT_EQ(list.RemoveAll([](const Entry& e) { return e.id % 2 == 0; }), 3u);
    EXPECT_EQ(Ids(list), (std::vector<u32>{1}));
    EXPECT_EQ(list.Count(), 1u);
    EXPECT_EQ(Used(), afterBlock); // one block item left the list: both pool items are gone
    list.AddLast({5, 0});
    EXPECT_EQ(Used(), afterBlock); // the block item came back from the free list
    list.Term();                   // frees the block; TearDown checks nothing is left
    EXPECT_TRUE(list.IsEmpty());
}

TEST_F(PoolListTest, MaximumAndOutOfMemoryRefuseNewItems) {
    AuPoolList<Entry> bounded;
    ASSERT_EQ(bounded.Init(0, 2), AuResultSuccess);
    EXPECT_NE(bounded.AddLast({1, 0}), nullptr);
    EXPECT_NE(bounded.AddLast({2, 0}), nullptr);
    EXPECT_EQ(bounded.AddLast({3, 0}), nullptr);
    EXPECT_EQ(bounded.Count(), 2u);

    AuPoolList<Entry> huge;
    EXPECT_EQ(huge.Init(100000, AuPoolList<Entry>::kNoMaximum), AuResultNoMemory); // the pool is 8 KiB
    EXPECT_EQ(huge.Count(), 0u);
}

} // namespace
