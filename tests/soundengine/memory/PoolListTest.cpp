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

TEST_F(PoolListTest, SortedInsertionGoesAfterEveryEqualKey) {
    AuPoolList<Entry> list;
    ASSERT_EQ(list.Init(2, AuPoolList<Entry>::kNoMaximum), AuResultSuccess);
    EXPECT_EQ(list.First(), nullptr);
    const auto byKey = [](const Entry& a, const Entry& b) { return a.data < b.data; };
    // {id, key}: the ids tell the arrival order; keys 5, 1, 5, 9, 1, 0 and 5 again.
    for (const Entry entry :
         {Entry{1, 5}, Entry{2, 1}, Entry{3, 5}, Entry{4, 9}, Entry{5, 1}, Entry{6, 0}, Entry{7, 5}})
        ASSERT_NE(list.AddSorted(entry, byKey), nullptr) << entry.id;
    EXPECT_EQ(Ids(list), (std::vector<u32>{6, 2, 5, 1, 3, 7, 4}));
    ASSERT_NE(list.First(), nullptr);
    EXPECT_EQ(list.First()->id, 6u);
    EXPECT_EQ(list.Count(), 7u);

    // The tail stays right whether the new item went first, in the middle or last.
    list.AddLast({8, 10});
    EXPECT_EQ(Ids(list).back(), 8u);
    EXPECT_TRUE(list.RemoveFirst([](const Entry&) { return true; }));
    EXPECT_EQ(list.First()->id, 2u);
    list.RemoveAll();
    EXPECT_EQ(list.First(), nullptr);
    list.AddSorted({9, 3}, byKey);
    list.AddLast({10, 4});
    EXPECT_EQ(Ids(list), (std::vector<u32>{9, 10}));
}

TEST_F(PoolListTest, SortedInsertionIsRefusedAtTheMaximumAndWithoutMemory) {
    const auto byKey = [](const Entry& a, const Entry& b) { return a.data < b.data; };
    AuPoolList<Entry> bounded;
    ASSERT_EQ(bounded.Init(0, 2), AuResultSuccess);
    EXPECT_NE(bounded.AddSorted({1, 5}, byKey), nullptr);
    EXPECT_NE(bounded.AddSorted({2, 7}, byKey), nullptr);
    EXPECT_EQ(bounded.AddSorted({3, 1}, byKey), nullptr); // would go first
    EXPECT_EQ(bounded.AddSorted({4, 9}, byKey), nullptr); // would go last
    EXPECT_EQ(Ids(bounded), (std::vector<u32>{1, 2}));

    // A block of one: the second item must come from a pool with nothing left in it.
    AuPoolList<Entry> list;
    ASSERT_EQ(list.Init(1, AuPoolList<Entry>::kNoMaximum), AuResultSuccess);
    ASSERT_NE(list.AddSorted({1, 5}, byKey), nullptr);
    std::vector<void*> blocks;
    while (void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, 16))
        blocks.push_back(block);
    EXPECT_EQ(list.AddSorted({2, 1}, byKey), nullptr);
    EXPECT_EQ(list.AddSorted({3, 8}, byKey), nullptr);
    EXPECT_EQ(Ids(list), (std::vector<u32>{1}));
    EXPECT_EQ(list.Count(), 1u);
    for (void* block : blocks)
        AU::MemoryMgr::Free(g_DefaultPoolId, block);
    EXPECT_NE(list.AddSorted({2, 1}, byKey), nullptr);
    EXPECT_EQ(Ids(list), (std::vector<u32>{2, 1}));
}

} // namespace
