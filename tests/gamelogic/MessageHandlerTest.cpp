#include "GameLogicMessageHandler.h"

#include "GameRulesFixture.h"
#include "RoomHandler.h"

#include <gtest/gtest.h>

namespace {

using namespace gamelogic_test;

// Counts what reaches a player's Controller.
class CountingController : public Controller {
public:
    void HandleMessage(const std::shared_ptr<Message>& message) override { received.push_back(message); }
    std::vector<std::shared_ptr<Message>> received;
};

std::shared_ptr<Message> Button(MessageType type, const std::string& action, unsigned player) {
    switch (type) {
    case MessageType::ButtonTrigger:
        return std::make_shared<ButtonTriggerMessage>(L"Input", action, player);
    case MessageType::ButtonPress:
        return std::make_shared<ButtonPressMessage>(L"Input", action, player);
    default:
        return std::make_shared<ButtonReleaseMessage>(L"Input", action, player);
    }
}

class MessageHandlerTest : public GameRulesTest {
protected:
    void SetUp() override {
        GameRulesTest::SetUp();
        Start({MessageType::Pause, MessageType::ChangePlayerMode, MessageType::PostSoundEvent});
    }

    // An object named "Player1" indexed as player 0, with a counting Controller.
    std::shared_ptr<CountingController> IndexPlayerOne() {
        auto object = Engine::mFactory->CreateGenericObject().lock();
        object->SetName("Player1");
        auto controller = std::make_shared<CountingController>();
        object->AddComponent(controller);
        Deliver();
        player = object;
        return controller;
    }
    GameLevel& Level() { return *logic->GetLevel(); }
    // A new engine and game rules: the skip flag is never cleared otherwise.
    void Restart() {
        recorder.reset();
        Engine::Release();
        Start({MessageType::Pause, MessageType::ChangePlayerMode, MessageType::PostSoundEvent});
    }

    std::shared_ptr<Object> player;
};

TEST_F(MessageHandlerTest, ButtonTypeByStateTable) {
    auto controller = IndexPlayerOne();
    ASSERT_EQ(Level().GetObjectManager().FindObject("Player1").lock(), player);
    struct Case {
        MessageType type;
        bool wrapped;
        int state;
        const char* action;
        bool reachesController;
        bool toggles;
    };
    const Case cases[] = {
        {MessageType::ButtonTrigger, false, 3, "Use", true, false},
        {MessageType::ButtonTrigger, false, 4, "Use", true, false},
        {MessageType::ButtonTrigger, false, 2, "Use", false, false},
        {MessageType::ButtonTrigger, false, 0, "Use", false, false},
        {MessageType::ButtonTrigger, false, 3, "Pause", false, true},
        {MessageType::ButtonTrigger, false, 2, "Pause", false, false},
        {MessageType::ButtonTrigger, false, 3, "pause", true, false},
        {MessageType::ButtonTrigger, true, 3, "Pause", false, true},
        {MessageType::ButtonTrigger, true, 9, "Use", false, false},
        {MessageType::ButtonPress, false, 3, "Pause", true, false},
        {MessageType::ButtonPress, false, 2, "Use", true, false},
        {MessageType::ButtonPress, true, 1, "Use", true, false},
        {MessageType::ButtonRelease, false, 3, "Use", true, false},
        {MessageType::ButtonRelease, false, 4, "Pause", true, false},
        {MessageType::ButtonRelease, false, 2, "Use", false, false},
        {MessageType::ButtonRelease, true, 2, "Use", true, false},
        {MessageType::ButtonRelease, true, 0, "Pause", true, false},
    };
    for (const Case& c : cases) {
        GameState::SetState(c.state);
        controller->received.clear();
        auto message = Button(c.type, c.action, 0);
        if (c.wrapped)
            Engine::ImmediateMessage(std::make_shared<ControllerIDMessage>(L"Input", message, 0));
        else
            Engine::ImmediateMessage(message);
        const int stateAfter = GameState::GetState();
        const std::string what = std::string(c.action) + " type " + std::to_string(static_cast<int>(c.type)) +
                                 (c.wrapped ? " wrapped" : "") + " in state " + std::to_string(c.state);
        EXPECT_TRUE(Level().GetSkip()) << what;
        ASSERT_EQ(controller->received.size(), c.reachesController ? 1u : 0u) << what;
        if (c.reachesController) {
            EXPECT_EQ(controller->received[0], message) << "the message itself, " << what;
        }
        EXPECT_EQ(stateAfter != c.state, c.toggles) << what;
        if (c.toggles) {
            Deliver();
            const auto pauses = recorder->TakeOf<PauseMessage>(MessageType::Pause);
            ASSERT_FALSE(pauses.empty());
            EXPECT_EQ(pauses[0]->GetObjectID(), player->GetID()) << "paused on behalf of Player1";
            logic->TogglePause(0);
        }
        // Delivered with the flow stopped: a skip would otherwise unload the player.
        GameState::SetState(GameState::IDLE);
        Deliver();
        recorder->Take();
    }
}

TEST_F(MessageHandlerTest, SkipFlagIsSetByEveryButtonButNotByOtherInput) {
    auto wrap = [](std::shared_ptr<Message> inner) {
        return std::make_shared<ControllerIDMessage>(L"Input", std::move(inner), 3);
    };
    struct Case {
        std::shared_ptr<Message> message;
        bool skips;
    };
    const Case cases[] = {
        {Button(MessageType::ButtonTrigger, "Use", 3), true},
        {Button(MessageType::ButtonPress, "Use", 3), true},
        {Button(MessageType::ButtonRelease, "Use", 3), true},
        {wrap(Button(MessageType::ButtonTrigger, "Pause", 3)), true},
        {wrap(Button(MessageType::ButtonPress, "Use", 3)), true},
        {wrap(Button(MessageType::ButtonRelease, "Use", 3)), true},
        {wrap(std::make_shared<MouseLookMessage>(L"Mouse", 1.0f, 1.0f, 3)), false},
        {wrap(std::make_shared<LeftStickMessage>(L"Input", 5, 5, 3)), false},
        {wrap(std::make_shared<RightTriggerPressMessage>(L"Input", 3)), false},
    };
    for (const Case& c : cases) {
        Restart();
        GameState::SetState(GameState::TEAM_SPLASH);
        Engine::ImmediateMessage(c.message);
        EXPECT_EQ(Level().GetSkip(), c.skips) << Describe(*c.message);
        Engine::RunFrames(1, 0.01f);
        EXPECT_EQ(GameState::GetState() == GameState::PLAYING, c.skips) << Describe(*c.message);
    }
}

TEST_F(MessageHandlerTest, WrappedAnalogueInputReachesTheControllerInEveryState) {
    auto controller = IndexPlayerOne();
    GameState::SetState(GameState::IDLE);
    auto look = std::make_shared<MouseLookMessage>(L"Mouse", 2, 3, 0);
    Engine::ImmediateMessage(std::make_shared<ControllerIDMessage>(L"Mouse", look, 0));
    ASSERT_EQ(controller->received.size(), 1u);
    EXPECT_EQ(controller->received[0], look);
}

TEST_F(MessageHandlerTest, ButtonsForAMissingOrDuplicatedPlayerOnlySetTheSkipFlag) {
    auto controller = IndexPlayerOne();
    GameState::SetState(GameState::PLAYING);
    Engine::ImmediateMessage(Button(MessageType::ButtonTrigger, "Pause", 2));
    EXPECT_EQ(GameState::GetState(), GameState::PLAYING) << "no Player3";
    Level().GetObjectManager().AddObject("Player1", Engine::mFactory->CreateGenericObject());
    Engine::ImmediateMessage(Button(MessageType::ButtonTrigger, "Pause", 0));
    Engine::ImmediateMessage(Button(MessageType::ButtonPress, "Use", 0));
    EXPECT_EQ(GameState::GetState(), GameState::PLAYING) << "two entries under Player1";
    EXPECT_TRUE(controller->received.empty());
    EXPECT_TRUE(Level().GetSkip());
}

TEST_F(MessageHandlerTest, RestartOnlyForItsThreeSpellings) {
    WriteArchetype("Arbiter", R"({"components": {"LevelRuleset": {}}})");
    WriteLevel("Base", R"({"objects": [{"name": "Thing", "components": {"Transform": {}}}]})");
    struct Case {
        const char* name;
        bool restarts;
    };
    const Case cases[] = {{"Restart", true},   {"restart", true},   {"RESTART", true},  {"ReStart", false},
                          {"restart ", false}, {" Restart", false}, {"Restart2", false}};
    for (const Case& c : cases) {
        Engine::ImmediateMessage(std::make_shared<LoadLevelMessage>(L"Graphics", "Base", 3));
        Deliver();
        const std::uint32_t before = Engine::mFactory->GetObjectByName("Thing").lock()->GetID();
        recorder->Take();
        Engine::ImmediateMessage(std::make_shared<LoadLevelMessage>(L"Graphics", c.name, 2));
        Deliver();
        if (c.restarts) {
            EXPECT_EQ(Level().GetLevelName(), "Base") << c.name;
            EXPECT_EQ(Level().GetPlayerCount(), 3) << c.name;
            auto thing = Engine::mFactory->GetObjectByName("Thing").lock();
            ASSERT_TRUE(thing);
            EXPECT_GT(thing->GetID(), before) << "everything was destroyed and loaded again";
            EXPECT_EQ(Engine::mFactory->GetObjects().size(), 2u) << "Thing and a new Arbiter only";
        } else {
            EXPECT_EQ(Level().GetLevelName(), c.name) << "loaded as a level file name";
            EXPECT_EQ(Level().GetPlayerCount(), 2);
            EXPECT_EQ(Engine::mFactory->GetObjectByName("Thing").lock()->GetID(), before)
                << "nothing cleared";
        }
        const auto sounds = recorder->TakeOf<PostSoundEventMessage>(MessageType::PostSoundEvent);
        ASSERT_EQ(sounds.size(), 2u) << c.name;
        EXPECT_EQ(sounds[0]->GetEventID(), 0xF64FB20Du);
        EXPECT_EQ(sounds[1]->GetEventID(), 0x2F6C248Fu);
        EXPECT_EQ(sounds[0]->GetSender(), L"GameLevel");
        EXPECT_EQ(sounds[0]->GetGameObject(), nullptr);
        Engine::mFactory->DestroyAllObjects();
    }
}

TEST_F(MessageHandlerTest, SpawnersAreIndexedByTheirPrefix) {
    struct Case {
        const char* objectName;
        const char* indexName;
    };
    const Case cases[] = {{"P1Spawn", "Player1"}, {"P2x", "Player2"}, {"P3", "Player3"}, {"P4_", "Player4"},
                          {"P5Spawn", "P5"},      {"Q1", "Q1"},       {"P", "P"},        {"p2", "p2"}};
    for (const Case& c : cases) {
        auto object = Engine::mFactory->CreateGenericObject().lock();
        object->SetName(c.objectName);
        object->AddComponent(std::make_shared<Spawner>());
        Deliver();
        EXPECT_EQ(Level().GetObjectManager().FindSpawner(c.indexName).lock(), object) << c.objectName;
    }
}

TEST_F(MessageHandlerTest, GroupComponentsShareOneGroupPerName) {
    std::vector<std::uint32_t> ids;
    for (const char* name : {"Doors", "Doors", "Lights"}) {
        auto object = Engine::mFactory->CreateGenericObject().lock();
        auto group = std::make_shared<GroupComponent>();
        group->SetGroupName(name);
        object->AddComponent(group);
        ids.push_back(object->GetID());
    }
    Deliver();
    EXPECT_EQ(Level().GetObjectManager().FindGroup("Doors")->GetMembers(),
              (std::vector<std::uint32_t>{ids[0], ids[1]}));
    EXPECT_EQ(Level().GetObjectManager().FindGroup("Lights")->GetMembers(),
              (std::vector<std::uint32_t>{ids[2]}));
}

TEST_F(MessageHandlerTest, RoomsKeepTheirFirstObject) {
    struct Case {
        int room;
        int roomsAfter;
        bool ownsRoom;
    };
    const Case cases[] = {{5, 1, true}, {2, 2, true}, {5, 2, false}, {9, 3, true}};
    for (const Case& c : cases) {
        auto object = Engine::mFactory->CreateGenericObject().lock();
        auto room = std::make_shared<RoomComponent>();
        room->SetRoomID(c.room);
        object->AddComponent(room);
        Deliver();
        EXPECT_EQ(RoomHandler::HowManyRooms(), c.roomsAfter) << c.room;
        EXPECT_EQ(RoomHandler::GetRooms().at(c.room) == object->GetID(), c.ownsRoom) << c.room;
    }
    // Rings are assigned again after every room component, the duplicate's included.
    EXPECT_EQ(RoomHandler::GetRing(2), 0);
    EXPECT_EQ(RoomHandler::GetRing(5), 1);
    EXPECT_EQ(RoomHandler::GetRing(9), 2);
}

TEST_F(MessageHandlerTest, GiveItemsIsAllOrNothing) {
    std::vector<std::shared_ptr<PlayerStats>> stats;
    for (int n = 1; n <= 4; ++n) {
        auto object = Engine::mFactory->CreateGenericObject().lock();
        object->SetName("Player" + std::to_string(n));
        if (n < 4) {
            stats.push_back(std::make_shared<PlayerStats>());
            object->AddComponent(stats.back());
        }
    }
    Engine::ImmediateMessage(std::make_shared<Message>(L"Engine", MessageType::GiveItems));
    for (const auto& s : stats)
        EXPECT_EQ(s->GetKeyCards() + s->GetPowerCells(), 0) << "Player4 has no stats: nobody gets anything";

    stats.push_back(std::make_shared<PlayerStats>());
    Engine::mFactory->GetObjectByName("Player4").lock()->AddComponent(stats.back());
    Engine::ImmediateMessage(std::make_shared<Message>(L"Engine", MessageType::GiveItems));
    for (const auto& s : stats) {
        EXPECT_EQ(s->GetKeyCards(), 1);
        EXPECT_EQ(s->GetPowerCells(), 1);
    }
}

TEST_F(MessageHandlerTest, EscapesAndDeathsChangeThePlayerAndCount) {
    struct Case {
        const char* text;
        bool ghost, isStatic, visible, gravity;
        int escaped, dead;
    };
    const Case cases[] = {
        {"escape pod launched", true, true, false, true, 1, 0},
        {"player died", true, false, false, false, 0, 1},
        {"Player died", false, false, true, true, 0, 0},
        {"keycard picked up", false, false, true, true, 0, 0},
    };
    for (const Case& c : cases) {
        Level().LoadLevel("Nowhere", 4);
        auto object = Engine::mFactory->CreateGenericObject().lock();
        auto collider = std::make_shared<Collider>();
        auto body = std::make_shared<RigidBody>();
        auto renderable = std::make_shared<Renderable>();
        object->AddComponent(collider);
        object->AddComponent(body);
        object->AddComponent(renderable);
        Engine::ImmediateMessage(std::make_shared<GameEventMessage>(L"Engine", c.text, object->GetID()));
        EXPECT_EQ(collider->IsGhost(), c.ghost) << c.text;
        EXPECT_EQ(body->IsStatic(), c.isStatic) << c.text;
        EXPECT_EQ(renderable->GetVisibility(), c.visible) << c.text;
        EXPECT_EQ(body->GetUseGravity(), c.gravity) << c.text;
        EXPECT_EQ(Level().GetEscapedCount(), c.escaped) << c.text;
        EXPECT_EQ(Level().GetDeadCount(), c.dead) << c.text;
    }
    // An unknown object changes nothing and counts nothing; a partial object gets what it has.
    Level().LoadLevel("Nowhere", 4);
    Engine::ImmediateMessage(std::make_shared<GameEventMessage>(L"Engine", "player died", 9999));
    EXPECT_EQ(Level().GetDeadCount(), 0);
    auto bare = Engine::mFactory->CreateGenericObject().lock();
    auto renderable = std::make_shared<Renderable>();
    bare->AddComponent(renderable);
    Engine::ImmediateMessage(std::make_shared<GameEventMessage>(L"Engine", "player died", bare->GetID()));
    EXPECT_FALSE(renderable->GetVisibility());
    EXPECT_EQ(Level().GetDeadCount(), 1);
}

TEST_F(MessageHandlerTest, CollisionsAreDropped) {
    auto controller = IndexPlayerOne();
    GameState::SetState(GameState::PLAYING);
    Engine::ImmediateMessage(
        std::make_shared<CollisionMessage>(L"Physics", COLLISION_STARTED, player->GetID(), 1));
    EXPECT_TRUE(controller->received.empty());
    EXPECT_FALSE(Level().GetSkip());
}

} // namespace
