// Whole runs of the game rules with physics on the game's own levels and archetypes.
#include "GameLogic.h"

#include "ComponentAccessors.h"
#include "GameRulesFixture.h"
#include "RoomHandler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace {

using namespace gamelogic_test;

const std::vector<MessageType> kRecorded = {MessageType::RegisterCamera,  MessageType::ChangePlayerMode,
                                            MessageType::ViewportRequest, MessageType::LoadResource,
                                            MessageType::ShowMenu,        MessageType::Pause};

class GameRoundTest : public GameRulesTest {
protected:
    void SetUp() override {
        GameRulesTest::SetUp();
        UseGameResources();
        Start(kRecorded);
    }
    GameObjectManager& Objects() { return logic->GetLevel()->GetObjectManager(); }

    // Checks that the four players are registered, requested, textured and standing at their spawners.
    void ExpectFourPlayersInPlace() {
        const auto messages = recorder->Take();
        std::vector<std::string> cameras, modes, requests, flares;
        for (const auto& message : messages) {
            const std::string line = Describe(*message);
            switch (message->GetMessageType()) {
            case MessageType::RegisterCamera:
                cameras.push_back(line);
                break;
            case MessageType::ChangePlayerMode:
                modes.push_back(line);
                break;
            case MessageType::ViewportRequest:
                requests.push_back(line);
                break;
            case MessageType::LoadResource:
                if (line.find("_Flare.png") != std::string::npos) flares.push_back(line);
                break;
            default:
                break;
            }
        }
        EXPECT_EQ(cameras, (std::vector<std::string>{"36:1", "36:2", "36:3", "36:4"}));
        // Each splash screen unloaded takes its controls (the keyboard's Controller) away: the count
        // stays 0 until the players come.
        ASSERT_FALSE(modes.empty());
        EXPECT_EQ(modes.front(), "37:0") << "the splash screen's controls were not unloaded";
        while (!modes.empty() && modes.front() == "37:0")
            modes.erase(modes.begin());
        EXPECT_EQ(modes, (std::vector<std::string>{"37:1", "37:2", "37:3", "37:4"}));
        EXPECT_EQ(requests, (std::vector<std::string>{"57:1", "57:2", "57:3", "57:4"}));
        EXPECT_EQ(flares, (std::vector<std::string>{"5:1,Player1_Flare.png", "5:1,Player2_Flare.png",
                                                    "5:1,Player3_Flare.png", "5:1,Player4_Flare.png"}));
        for (int n = 1; n <= 4; ++n) {
            const std::string name = "Player" + std::to_string(n);
            auto player = Objects().FindObject(name).lock();
            ASSERT_TRUE(player) << name;
            auto spawner = Objects().FindSpawner(name).lock();
            ASSERT_TRUE(spawner) << name;
            auto at = GetComponentOfType<Transform>(player).lock()->GetPosition();
            auto spawn = GetComponentOfType<Transform>(spawner).lock()->GetPosition();
            EXPECT_NEAR(at.getX(), spawn.getX(), 1e-4f) << name;
            EXPECT_NEAR(at.getZ(), spawn.getZ(), 1e-4f) << name;
            EXPECT_NEAR(at.getY(), spawn.getY(), 0.5f) << name << " may have fallen a little since";
            auto renderable = GetComponentOfType<Renderable>(player).lock();
            ASSERT_TRUE(renderable);
            EXPECT_EQ(renderable->GetTextures().back(), name + "_Flare.png");
            auto collider = GetComponentOfType<Collider>(player).lock();
            EXPECT_EQ(collider->GetCollisionGroup(), physics->GetCollisionGroups().GetGroupId(name));
        }
    }

    // Relays one escape and three deaths for the players, then runs a frame.
    void EndTheRound() {
        Engine::RelayMessage(std::make_shared<GameEventMessage>(
            L"Engine", "escape pod launched", Objects().FindObject("Player1").lock()->GetID()));
        for (int n = 2; n <= 4; ++n)
            Engine::RelayMessage(std::make_shared<GameEventMessage>(
                L"Engine", "player died",
                Objects().FindObject("Player" + std::to_string(n)).lock()->GetID()));
        Engine::RunFrames(1, 0.02f); // delivered after the frame's updates
        Engine::RunFrames(1, 0.02f);
    }
};

TEST_F(GameRoundTest, SplashSequenceReachesPlayingWithFourPlayers) {
    EXPECT_EQ(logic->GetLevel()->GetLevelName(), "VM_SPLASH");
    recorder->Take();
    // 0.25 s frames add up exactly: 10 s is 40 frames, and the 41st moves on.
    const std::vector<std::pair<int, std::string>> stages = {{40, "VM_SPLASH"},
                                                             {20, "TEAM_SPLASH"},
                                                             {20, "GAMEPAD_SPLASH"},
                                                             {20, "HOWTOPLAY"},
                                                             {20, "OBJECTIVES"}};
    const int states[] = {0, 1, 7, 8, 9};
    for (std::size_t i = 0; i < stages.size(); ++i) {
        Engine::RunFrames(stages[i].first, 0.25f);
        EXPECT_EQ(GameState::GetState(), states[i]) << stages[i].second;
        EXPECT_EQ(logic->GetLevel()->GetLevelName(), stages[i].second);
        EXPECT_EQ(Engine::mFactory->GetObjectByName("SplashCamera").expired(), false) << stages[i].second;
        Engine::RunFrames(1, 0.25f);
    }
    EXPECT_EQ(GameState::GetState(), GameState::PLAYING);
    EXPECT_EQ(logic->GetLevel()->GetLevelName(), "Full_Level_Test");
    EXPECT_TRUE(Engine::mFactory->GetObjectByName("SplashCamera").expired()) << "the splash was unloaded";
    ExpectFourPlayersInPlace();
}

TEST_F(GameRoundTest, ASkipJumpsStraightToPlaying) {
    Engine::RunFrames(3, 0.25f);
    recorder->Take();
    Engine::RelayMessage(std::make_shared<ButtonTriggerMessage>(L"Input", "SkipWithSpace", 0));
    Engine::RunFrames(2, 0.25f);
    EXPECT_EQ(GameState::GetState(), GameState::PLAYING);
    EXPECT_EQ(logic->GetLevel()->GetLevelName(), "Full_Level_Test");
    ExpectFourPlayersInPlace();
}

TEST_F(GameRoundTest, OneEscapeAndThreeDeathsEndTheRoundAndRestartMakesItPlayable) {
    logic->GetLevel()->SetSkip();
    Engine::RunFrames(2, 0.02f);
    ASSERT_EQ(GameState::GetState(), GameState::PLAYING);
    ASSERT_FALSE(Objects().GetRulesetObject() == nullptr) << "the Arbiter runs once players are indexed";
    recorder->Take();

    EndTheRound();
    EXPECT_TRUE(logic->GetLevel()->IsRoundOver());
    EXPECT_EQ(GameState::GetState(), GameState::PAUSED);
    auto results = recorder->TakeOf<ShowMenuMessage>(MessageType::ShowMenu);
    ASSERT_FALSE(results.empty());
    EXPECT_EQ(results[0]->GetType(), MENU_RESULTS);
    EXPECT_TRUE(results[0]->IsVisible());
    auto escaped = Objects().FindObject("Player1").lock();
    EXPECT_TRUE(GetComponentOfType<Collider>(escaped).lock()->IsGhost());
    EXPECT_TRUE(GetComponentOfType<RigidBody>(escaped).lock()->IsStatic());
    EXPECT_FALSE(GetComponentOfType<Renderable>(escaped).lock()->GetVisibility());

    // The results screen's restart: the round is played again by four fresh players.
    Engine::RelayMessage(std::make_shared<LoadLevelMessage>(L"Graphics", "Restart", 4));
    Engine::RunFrames(1, 0.02f);
    logic->TogglePause(0); // the menus resume the game
    EXPECT_EQ(GameState::GetState(), GameState::PLAYING);
    Engine::RunFrames(2, 0.02f);
    EXPECT_FALSE(logic->GetLevel()->IsRoundOver());
    EXPECT_EQ(logic->GetLevel()->GetDeadCount() + logic->GetLevel()->GetEscapedCount(), 0);
    for (int n = 1; n <= 4; ++n) {
        auto player = Objects().FindObject("Player" + std::to_string(n)).lock();
        ASSERT_TRUE(player) << n;
        EXPECT_TRUE(GetComponentOfType<Renderable>(player).lock()->GetVisibility());
    }
    EXPECT_EQ(Objects().GetNextPlayerNumber(), 5u);

    // Buttons reach the new players, and the new round ends like the first.
    Engine::RelayMessage(std::make_shared<ButtonTriggerMessage>(L"Input", "Pause", 3));
    Engine::RunFrames(1, 0.02f);
    EXPECT_EQ(GameState::GetState(), GameState::PAUSED);
    Engine::RelayMessage(std::make_shared<ButtonTriggerMessage>(L"Input", "Pause", 3));
    Engine::RunFrames(1, 0.02f);
    EXPECT_EQ(GameState::GetState(), GameState::PLAYING);
    recorder->Take();
    EndTheRound();
    EXPECT_TRUE(logic->GetLevel()->IsRoundOver());
    EXPECT_EQ(GameState::GetState(), GameState::PAUSED);
}

// The lobby's levels come with their players: loading one makes four players at their spawners.
TEST_F(GameRoundTest, LobbyLevelsHoldFourPlayersRoomsPickupsAndAPod) {
    struct Case {
        const char* level;
        int rooms;
    };
    for (const Case& c : {Case{"Arena", 2}, Case{"abcBuildings", 3}}) {
        recorder.reset();
        Engine::Release();
        UseGameResources();
        Start(kRecorded);
        Log();
        GameState::SetState(GameState::IDLE);
        Engine::RelayMessage(std::make_shared<LoadLevelMessage>(L"Graphics", c.level, 4));
        Deliver();
        EXPECT_TRUE(Log().empty()) << c.level << ": the file loads without a complaint";
        EXPECT_EQ(Describe(recorder->TakeOf<Message>(MessageType::RegisterCamera)),
                  (std::vector<std::string>{"36:1", "36:2", "36:3", "36:4"}))
            << c.level;
        for (int n = 1; n <= 4; ++n) {
            const std::string name = "Player" + std::to_string(n);
            auto player = Objects().FindObject(name).lock();
            ASSERT_TRUE(player) << c.level << " " << name;
            auto spawner = Objects().FindSpawner(name).lock();
            ASSERT_TRUE(spawner) << c.level << " " << name;
            EXPECT_EQ(GetComponentOfType<Transform>(player).lock()->GetPosition().getX(),
                      GetComponentOfType<Transform>(spawner).lock()->GetPosition().getX());
            EXPECT_EQ(GetComponentOfType<Collider>(player).lock()->GetCollisionGroup(),
                      physics->GetCollisionGroups().GetGroupId(name))
                << c.level << ": the level gives each player its own group";
        }
        EXPECT_EQ(RoomHandler::HowManyRooms(), c.rooms) << c.level;
        EXPECT_EQ(Objects().GetKeyCardCount(), 3u) << c.level;
        EXPECT_EQ(Objects().GetPowerCellCount(), 3u) << c.level;
        EXPECT_FALSE(Engine::mFactory->GetObjectByName("EscapePod1").expired()) << c.level;
    }
}

// A whole round with the engine's gameplay: Player1 walks to a keycard, a power cell and an escape
// pod on its left stick; the other three stay in their rooms, which flood one every 30 s of play.
TEST_F(GameRoundTest, AScriptedRoundIsWonByOneAndLostByThree) {
    MessageRecorder gameEvents({MessageType::GameEvent});
    logic->GetLevel()->SetSkip();
    Engine::RunFrames(2, 0.05f);
    ASSERT_EQ(GameState::GetState(), GameState::PLAYING);
    float played = 0.1f;
    std::vector<std::pair<float, std::string>> timeline;
    auto note = [&] {
        for (const auto& event : gameEvents.TakeOf<GameEventMessage>(MessageType::GameEvent)) {
            auto object = Engine::mFactory->GetObjectWithID(event->GetObjectID()).lock();
            timeline.emplace_back(played, event->GetEventText() + " " + (object ? object->GetName() : "?"));
        }
    };

    auto player = Objects().FindObject("Player1").lock();
    ASSERT_TRUE(player);
    auto transform = GetComponentOfType<Transform>(player).lock();
    // Waypoints: the keycard and power cell straight ahead of player 1's spawner, then the pod
    // beyond them.
    const std::pair<float, float> route[] = {{-10.0f, -12.0f}, {-10.0f, -14.0f}, {-10.0f, -17.5f}};
    for (const auto& [x, z] : route) {
        for (int frame = 0; frame < 200; ++frame) {
            const float dx = x - transform->GetPosition().getX();
            const float dz = z - transform->GetPosition().getZ();
            const float distance = std::sqrt(dx * dx + dz * dz);
            std::int16_t stickX = 0, stickY = 0;
            if (distance >= 0.3f) {
                // Unturned, the stick's x is world x and its y is world -z.
                stickX = static_cast<std::int16_t>(32767.0f * dx / distance);
                stickY = static_cast<std::int16_t>(-32767.0f * dz / distance);
            }
            Engine::RelayMessage(std::make_shared<ControllerIDMessage>(
                L"Input", std::make_shared<LeftStickMessage>(L"Input", stickX, stickY, 0), 0));
            Engine::RunFrames(1, 0.05f);
            played += 0.05f;
            note();
            if (distance < 0.3f) break;
        }
    }
    const auto stats = [&](int n) {
        return GetComponentOfType<PlayerStats>(Objects().FindObject("Player" + std::to_string(n)).lock())
            .lock();
    };
    EXPECT_EQ(stats(1)->GetKeyCards(), 1);
    EXPECT_EQ(stats(1)->GetPowerCells(), 1);
    EXPECT_EQ(Objects().GetKeyCardCount(), 3u) << "one of the four keycards is taken";
    EXPECT_EQ(Objects().GetPowerCellCount(), 3u);
    ASSERT_EQ(logic->GetLevel()->GetEscapedCount(), 1);

    for (int frame = 0; frame < 600 && !logic->GetLevel()->IsRoundOver(); ++frame) {
        Engine::RunFrames(1, 0.25f);
        played += 0.25f;
        note();
    }
    ASSERT_TRUE(logic->GetLevel()->IsRoundOver());
    ASSERT_EQ(timeline.size(), 6u);
    EXPECT_EQ(timeline[0].second, "keycard picked up Player1");
    EXPECT_EQ(timeline[1].second, "powercell picked up Player1");
    EXPECT_EQ(timeline[2].second, "escape pod launched Player1");
    EXPECT_LT(timeline[2].first, 30.0f) << "out before the first room floods";
    // Rooms 1, 2 and 3 take players 2, 3 and 4 at 30, 60 and 90 s; player 1's room 4 would flood last.
    const char* drowned[] = {"player died Player2", "player died Player3", "player died Player4"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(timeline[3 + i].second, drowned[i]);
        EXPECT_NEAR(timeline[3 + i].first, 30.0f + 30.0f * i, 0.6f) << drowned[i];
    }
    EXPECT_EQ(GameState::GetState(), GameState::PAUSED);
    const auto menus = recorder->TakeOf<ShowMenuMessage>(MessageType::ShowMenu);
    ASSERT_FALSE(menus.empty());
    EXPECT_EQ(menus.front()->GetType(), MENU_RESULTS);
    // What the results screen reads: "Escaped!" for Player1, "Perished..." for the others.
    EXPECT_FALSE(stats(1)->perished);
    for (int n = 2; n <= 4; ++n)
        EXPECT_TRUE(stats(n)->perished) << n;
}

} // namespace
