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

} // namespace
