// Whole runs of the game rules with physics on the game's own levels and archetypes.
#include "GameLogic.h"

#include "ComponentAccessors.h"
#include "GameRulesFixture.h"

#include <gtest/gtest.h>

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

} // namespace
