#include "CollisionGroupRegistry.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// Every entry of the table against the expected rows.
void ExpectMatrix(const CollisionGroupRegistry& registry, const std::vector<std::vector<bool>>& expected) {
    ASSERT_EQ(registry.GetGroupCount(), expected.size());
    for (std::uint32_t i = 0; i < expected.size(); ++i)
        for (std::uint32_t j = 0; j < expected.size(); ++j)
            EXPECT_EQ(registry.DoGroupsCollide(i, j), expected[i][j]) << "entry (" << i << ", " << j << ")";
}

TEST(CollisionGroupRegistry, StartsWithDefaultCollidingWithItself) {
    CollisionGroupRegistry registry;
    EXPECT_EQ(registry.GetGroupId("DEFAULT"), 0u);
    ExpectMatrix(registry, {{true}});
}

TEST(CollisionGroupRegistry, NewGroupsCollideWithEarlierOnesOnlyWhenAskedAndNeverWithThemselves) {
    CollisionGroupRegistry registry;
    registry.RegisterCollisionGroup(true, "A");
    EXPECT_EQ(registry.GetGroupId("A"), 1u);
    ExpectMatrix(registry, {{true, true}, {true, false}});

    registry.RegisterCollisionGroup(false, "B");
    EXPECT_EQ(registry.GetGroupId("B"), 2u);
    ExpectMatrix(registry, {{true, true, false}, {true, false, false}, {false, false, false}});
}

TEST(CollisionGroupRegistry, RepeatedNamesAreRefusedWithTheirId) {
    CollisionGroupRegistry registry;
    registry.RegisterCollisionGroup(true, "A");
    const struct {
        const char* name;
        const char* printed;
    } cases[] = {
        {"A", "Attempting to register Collision Group A that already exists with ID 1\n"},
        // The default group's own name counts as registered, so the two maps never disagree.
        {"DEFAULT", "Attempting to register Collision Group DEFAULT that already exists with ID 0\n"},
    };
    for (const auto& c : cases) {
        CaptureStdout();
        registry.RegisterCollisionGroup(false, c.name);
        EXPECT_EQ(GetCapturedStdout(), c.printed);
        ExpectMatrix(registry, {{true, true}, {true, false}});
    }
    EXPECT_EQ(registry.GetGroupId("DEFAULT"), 0u);
    EXPECT_EQ(registry.GetGroupId("A"), 1u);
}

TEST(CollisionGroupRegistry, SetGroupsCollideWritesBothEntries) {
    CollisionGroupRegistry registry;
    registry.RegisterCollisionGroup(true, "A");
    registry.RegisterCollisionGroup(false, "B");
    registry.SetGroupsCollide(1, 1, true);
    EXPECT_TRUE(registry.DoGroupsCollide(1, 1));
    registry.SetGroupsCollide(2, 1, true);
    EXPECT_TRUE(registry.DoGroupsCollide(1, 2));
    EXPECT_TRUE(registry.DoGroupsCollide(2, 1));
    registry.SetGroupsCollide(0, 1, false);
    ExpectMatrix(registry, {{true, false, false}, {false, true, true}, {false, true, false}});
}

TEST(CollisionGroupRegistry, UnknownNamesFallBackToDefault) {
    CollisionGroupRegistry registry;
    registry.RegisterCollisionGroup(true, "A");
    EXPECT_EQ(registry.GetGroupId("never registered"), 0u);
    EXPECT_EQ(registry.GetGroupId(""), 0u);
    EXPECT_EQ(registry.GetGroupId("a"), 0u); // names are case-sensitive
}

TEST(CollisionGroupRegistry, EachRegistryNumbersItsOwnGroups) {
    // The game's set-up: eight groups after DEFAULT, numbered 1 to 8 in every registry, however
    // many registries the program has made before.
    const char* names[] = {"Player1", "Player1projectile", "Player2", "Player2projectile",
                           "Player3", "Player3projectile", "Player4", "Player4projectile"};
    for (int round = 0; round < 2; ++round) {
        CollisionGroupRegistry registry;
        for (const char* name : names)
            registry.RegisterCollisionGroup(true, name);
        ASSERT_EQ(registry.GetGroupCount(), 9u);
        for (std::uint32_t id = 1; id <= 8; ++id) {
            EXPECT_EQ(registry.GetGroupId(names[id - 1]), id) << "round " << round;
            registry.SetGroupsCollide(id, id, true); // every id has its row
            EXPECT_TRUE(registry.DoGroupsCollide(id, id));
        }
    }
}

TEST(CollisionGroupRegistry, IdsWithoutARowAreRefusedAndCollideWithNothing) {
    CollisionGroupRegistry registry;
    CaptureStdout();
    registry.SetGroupsCollide(0, 5, true);
    EXPECT_EQ(GetCapturedStdout(), "Physics: no collision groups 0 and 5 to pair (1 registered)\n");
    ExpectMatrix(registry, {{true}});
    EXPECT_FALSE(registry.DoGroupsCollide(0, 5));
    EXPECT_FALSE(registry.DoGroupsCollide(7, 0));
}

} // namespace
