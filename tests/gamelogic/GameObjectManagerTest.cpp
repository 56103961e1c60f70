#include "GameObjectManager.h"

#include "EngineTestControl.h"
#include "engine_fixture.h"

#include <gtest/gtest.h>

namespace {

class GameObjectManagerTest : public EngineTestBase {
protected:
    std::shared_ptr<Object> NewObject() { return Engine::mFactory->CreateGenericObject().lock(); }
    static void Event(const std::string& text) {
        Engine::ImmediateMessage(std::make_shared<GameEventMessage>(L"Test", text, 0));
    }
    void Pickup(const std::string& type) {
        auto object = NewObject();
        auto pickup = std::make_shared<PickupComponent>();
        pickup->SetPickupType(type);
        object->AddComponent(pickup);
        Drain();
    }

    GameObjectManager manager;
};

TEST_F(GameObjectManagerTest, FindObjectNeedsExactlyOneLiveEntry) {
    auto first = NewObject();
    auto second = NewObject();
    manager.AddObject("Player1", first);
    manager.AddObject("Player2", first);
    manager.AddObject("Player2", second);
    EXPECT_EQ(manager.FindObject("Player1").lock(), first);
    EXPECT_EQ(manager.GetPlayerObject(0).lock(), first);
    EXPECT_TRUE(manager.FindObject("Player2").expired()) << "two entries under one name";
    EXPECT_TRUE(manager.GetPlayerObject(1).expired());
    EXPECT_TRUE(manager.FindObject("Player3").expired());

    Engine::mFactory->Destroy(first->GetID());
    first.reset();
    EXPECT_TRUE(manager.FindObject("Player1").expired()) << "the object is gone";

    manager.AddSpawner("Player4", second);
    EXPECT_EQ(manager.FindSpawner("Player4").lock(), second);
    EXPECT_TRUE(manager.FindObject("Player4").expired()) << "spawners have an index of their own";
}

TEST_F(GameObjectManagerTest, PickupsCountAsPowerCellOnlyWhenSpelledExactly) {
    for (const char* type : {"PowerCell", "KeyCard", "powercell", "", "PowerCell "})
        Pickup(type);
    EXPECT_EQ(manager.GetPowerCellCount(), 1u);
    EXPECT_EQ(manager.GetKeyCardCount(), 4u);
}

TEST_F(GameObjectManagerTest, GameEventsCountPickupsDownButNeverBelowZero) {
    Pickup("KeyCard");
    Pickup("PowerCell");
    Pickup("PowerCell");
    struct Case {
        const char* text;
        std::uint32_t keys, cells;
    };
    const Case cases[] = {
        {"keycard picked up", 0, 2},    {"keycard picked up", 0, 2},   {"Keycard picked up", 0, 2},
        {"powercell picked up ", 0, 2}, {"powercell picked up", 0, 1}, {"escape pod launched", 0, 1},
        {"powercell picked up", 0, 0},  {"powercell picked up", 0, 0},
    };
    for (const Case& c : cases) {
        Event(c.text);
        EXPECT_EQ(manager.GetKeyCardCount(), c.keys) << c.text;
        EXPECT_EQ(manager.GetPowerCellCount(), c.cells) << c.text;
    }
}

TEST_F(GameObjectManagerTest, ClearForgetsPlayersOnly) {
    auto object = NewObject();
    Pickup("KeyCard");
    manager.AddObject("Player1", object);
    manager.AddSpawner("Player1", object);
    manager.SetRulesetObject(object);
    manager.GetOrCreateGroup("A")->AddToGroup(7);
    manager.SetNextPlayerNumber(5);

    manager.Clear();

    EXPECT_FALSE(manager.HasObjects());
    EXPECT_TRUE(manager.FindObject("Player1").expired());
    EXPECT_EQ(manager.GetNextPlayerNumber(), 1u) << "the next level's players count from 1 again";
    EXPECT_EQ(manager.FindSpawner("Player1").lock(), object);
    EXPECT_EQ(manager.GetRulesetObject(), object);
    EXPECT_EQ(manager.FindGroup("A")->GetMembers(), std::vector<std::uint32_t>{7});
    EXPECT_EQ(manager.GetKeyCardCount(), 1u);
}

TEST_F(GameObjectManagerTest, RulesetDestroyedByTheFactoryCountsAsNone) {
    auto object = NewObject();
    manager.SetRulesetObject(object);
    ASSERT_EQ(manager.GetRulesetObject(), object);
    Engine::mFactory->Destroy(object->GetID());
    EXPECT_EQ(manager.GetRulesetObject(), nullptr);
    manager.SetRulesetObject(std::weak_ptr<Object>());
    EXPECT_EQ(manager.GetRulesetObject(), nullptr);
}

TEST_F(GameObjectManagerTest, ListenersLiveAsLongAsTheManager) {
    const auto events = EngineTest::ListenerCount(MessageType::GameEvent);
    const auto created = EngineTest::ListenerCount(MessageType::CreatedComponent);
    {
        GameObjectManager other;
        EXPECT_EQ(EngineTest::ListenerCount(MessageType::GameEvent), events + 1);
        EXPECT_EQ(EngineTest::ListenerCount(MessageType::CreatedComponent), created + 1);
    }
    EXPECT_EQ(EngineTest::ListenerCount(MessageType::GameEvent), events);
    EXPECT_EQ(EngineTest::ListenerCount(MessageType::CreatedComponent), created);
}

} // namespace
