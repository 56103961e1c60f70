#include "memory/AuArray.h"

#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Row {
    u32 key;
    u32 value;
};

class ArrayTest : public AuDefaultPoolTest {
protected:
    ArrayTest() : AuDefaultPoolTest(8192) {}
    static std::vector<u32> Keys(const AuArray<Row>& array) {
        std::vector<u32> keys;
        for (const Row& row : array)
            keys.push_back(row.key);
        return keys;
    }
};

TEST_F(ArrayTest, GrowsOneRowAtATimeAndKeepsRows) {
    AuArray<Row> array;
    for (u32 i = 0; i < 5; ++i) {
        ASSERT_NE(array.AddLast(Row{i, i * 10}), nullptr);
        EXPECT_EQ(array.Capacity(), i + 1);
    }
    ASSERT_TRUE(array.Grow(3));
    EXPECT_EQ(array.Capacity(), 8u);
    EXPECT_EQ(Keys(array), (std::vector<u32>{0, 1, 2, 3, 4}));
    EXPECT_EQ(array[4].value, 40u);
}

TEST_F(ArrayTest, RemovalByMovingTheLastRowOrKeepingOrder) {
    AuArray<Row> array;
    for (u32 i = 0; i < 6; ++i)
        array.AddLast(Row{i, 0});
    array.EraseSwap(1);
    EXPECT_EQ(Keys(array), (std::vector<u32>{0, 5, 2, 3, 4}));
    array.EraseSwap(4); // the last row itself
    EXPECT_EQ(Keys(array), (std::vector<u32>{0, 5, 2, 3}));
    array.EraseOrdered(1);
    EXPECT_EQ(Keys(array), (std::vector<u32>{0, 2, 3}));
    array.EraseOrdered(array.IndexOf([](const Row& row) { return row.key == 42; })); // absent: nothing
    array.EraseSwap(3);
    EXPECT_EQ(Keys(array), (std::vector<u32>{0, 2, 3}));
    EXPECT_EQ(array.IndexOf([](const Row& row) { return row.key == 3; }), 2u);
}

TEST_F(ArrayTest, OutOfMemoryLeavesTheArrayUnchanged) {
    AuArray<Row> array;
    ASSERT_TRUE(array.Grow(4));
    array.AddLast(Row{7, 7});
    EXPECT_FALSE(array.Grow(100000));
    EXPECT_FALSE(array.Grow(0xFFFFFFFFu));
    EXPECT_EQ(array.Capacity(), 4u);
    EXPECT_EQ(Keys(array), (std::vector<u32>{7}));
    array.Term();
    EXPECT_EQ(array.Count(), 0u);
    AU::MemoryMgr::PoolMemInfo info{};
    AU::MemoryMgr::GetPoolMemoryUsed(g_DefaultPoolId, info);
    EXPECT_EQ(info.uUsed, 0u);
}

TEST_F(ArrayTest, OrderedInsertionAtTheLowerBoundKeepsRowsSorted) {
    AuArray<Row> array;
    const auto less = [](const Row& row, u32 key) { return row.key < key; };
    EXPECT_EQ(array.LowerBound(5u, less), 0u); // empty
    for (u32 key : {50u, 10u, 40u, 20u, 30u, 10u, 60u, 0u}) {
        const u32 at = array.LowerBound(key, less);
        ASSERT_NE(array.Insert(at, Row{key, at}), nullptr);
    }
    EXPECT_EQ(Keys(array), (std::vector<u32>{0, 10, 10, 20, 30, 40, 50, 60}));
    struct Case {
        u32 key;
        u32 index;
    };
    for (const Case& c : {Case{0, 0}, Case{5, 1}, Case{10, 1}, Case{11, 3}, Case{60, 7}, Case{61, 8}})
        EXPECT_EQ(array.LowerBound(c.key, less), c.index) << c.key;
    EXPECT_EQ(array.Insert(9, Row{1, 1}), nullptr); // past the end: refused
    EXPECT_EQ(array.Count(), 8u);
    ASSERT_NE(array.Insert(8, Row{70, 0}), nullptr); // at the end
    EXPECT_EQ(array[8].key, 70u);
}

TEST_F(ArrayTest, InsertionWithoutMemoryLeavesTheArrayUnchanged) {
    AuArray<Row> array;
    u32 count = 0;
    while (array.Insert(0, Row{count, 0}))
        ++count;
    ASSERT_GT(count, 0u);
    EXPECT_EQ(array.Count(), count);
    EXPECT_EQ(array[0].key, count - 1);
    EXPECT_EQ(array[count - 1].key, 0u);
}

} // namespace
