#include "GameLevel.h"

#include "GameRulesFixture.h"

#include <gtest/gtest.h>

namespace {

using namespace gamelogic_test;

class GameLevelTest : public EngineTestBase {
protected:
    void SetUp() override {
        EngineTestBase::SetUp();
        GameState::SetState(GameState::FIRST_SPLASH);
        recorder = std::make_unique<MessageRecorder>(
            std::vector<MessageType>{MessageType::PostSoundEvent, MessageType::DisplayCursor});
    }
    void TearDown() override {
        recorder.reset();
        level.reset();
        EngineTestBase::TearDown();
    }

    std::unique_ptr<GameLevel> level = std::make_unique<GameLevel>();
    std::unique_ptr<MessageRecorder> recorder;
};

TEST_F(GameLevelTest, StartStageSoundsCursorAndTimerByState) {
    struct Case {
        int state;
        std::vector<std::string> messages;
        bool setsTimer;
    };
    const std::vector<std::string> splash = {"35:E7746BD5", "35:2C928473", "40:1"};
    const Case cases[] = {
        {0, splash, true},    {5, splash, true},
        {6, splash, true},    {9, splash, true},
        {1, {"40:1"}, true},  {7, {"40:1"}, true},
        {8, {"40:1"}, true},  {2, {"40:1"}, false},
        {4, {"40:1"}, false}, {3, {"35:F64FB20D", "35:2F6C248F", "35:63E09726", "40:0"}, false},
    };
    for (const Case& c : cases) {
        GameState::SetState(GameState::FIRST_SPLASH);
        level->StartStage(1.0f, 2.0f);
        GameState::SetState(c.state);
        Drain();
        recorder->Take();
        level->StartStage(0.25f, 7.0f);
        Drain();
        EXPECT_EQ(Describe(recorder->Take()), c.messages) << "state " << c.state;
        EXPECT_EQ(level->GetStageTimer(), c.setsTimer ? 0.25f : 1.0f) << "state " << c.state;
        EXPECT_EQ(level->GetStageDuration(), c.setsTimer ? 7.0f : 2.0f) << "state " << c.state;
    }
}

TEST_F(GameLevelTest, SplashAdvancesOnlyWhenTimerPlusDtExceedsTheDuration) {
    struct Case {
        int state;
        int next;
        const char* nextLevel;
    };
    const Case cases[] = {
        {0, 1, "TEAM_SPLASH"},    {5, 1, "TEAM_SPLASH"}, {6, 1, "TEAM_SPLASH"}, {42, 1, "TEAM_SPLASH"},
        {1, 7, "GAMEPAD_SPLASH"}, {7, 8, "HOWTOPLAY"},   {8, 9, "OBJECTIVES"},  {9, 3, "Full_Level_Test"},
    };
    for (const Case& c : cases) {
        GameState::SetState(c.state);
        level->StartStage(0.0f, 5.0f);
        // 5.0 = 2.5 + 2.5 exactly: a timer equal to the duration does not advance.
        level->Update(2.5f);
        level->Update(2.5f);
        EXPECT_EQ(GameState::GetState(), c.state);
        EXPECT_EQ(level->GetStageTimer(), 5.0f);
        level->Update(0.0f);
        EXPECT_EQ(GameState::GetState(), c.state) << "a frame without time";
        level->Update(1e-6f);
        EXPECT_EQ(GameState::GetState(), c.next) << "from state " << c.state;
        EXPECT_EQ(level->GetLevelName(), c.nextLevel);
        if (c.next != GameState::PLAYING) {
            EXPECT_EQ(level->GetStageTimer(), 0.0f);
            EXPECT_EQ(level->GetStageDuration(), GameLevel::kSplashSeconds);
            EXPECT_EQ(level->GetPlayerCount(), 0);
        } else {
            EXPECT_EQ(level->GetPlayerCount(), 4);
        }
    }
}

TEST_F(GameLevelTest, ALargeFrameMovesOnAtOnceAndASkipBeatsTheTimer) {
    level->StartStage(0.0f, 10.0f);
    level->Update(10.5f);
    EXPECT_EQ(GameState::GetState(), GameState::TEAM_SPLASH);

    level->SetSkip();
    level->Update(0.0f);
    EXPECT_EQ(GameState::GetState(), GameState::PLAYING);
    EXPECT_EQ(level->GetLevelName(), "Full_Level_Test");
    EXPECT_EQ(level->GetStageDuration(), GameLevel::kSplashSeconds) << "playing keeps the stage's clock";
}

TEST_F(GameLevelTest, IdleAndPausedDoNothing) {
    for (int state : {GameState::IDLE, GameState::PAUSED}) {
        GameState::SetState(state);
        level->StartStage(0.0f, 1.0f);
        level->SetSkip();
        level->Update(5.0f);
        EXPECT_EQ(GameState::GetState(), state);
        EXPECT_EQ(level->GetStageTimer(), 0.0f);
    }
}

TEST_F(GameLevelTest, PlayingWithoutPlayersRunsNoRulesetAndNeverEnds) {
    WriteArchetype("Arbiter", R"({"components": {"LevelRuleset": {}}})");
    level->LoadLevel("Nowhere", 0);
    GameState::SetState(GameState::PLAYING);
    const auto before = Engine::mFactory->GetObjects().size();
    level->Update(0.5f);
    EXPECT_FALSE(level->IsRoundOver()) << "0 dead + 0 escaped equals 0 players, but nobody is indexed";
    EXPECT_EQ(Engine::mFactory->GetObjects().size(), before) << "no Arbiter made on demand";
    EXPECT_EQ(level->GetStageTimer(), 0.5f);
}

TEST_F(GameLevelTest, RoundEndsWhenDeadPlusEscapedEqualsThePlayers) {
    WriteArchetype("Arbiter", R"({"components": {"LevelRuleset": {}}})");
    level->LoadLevel("Nowhere", 4);
    GameState::SetState(GameState::PLAYING);
    auto player = Engine::mFactory->CreateGenericObject();
    level->GetObjectManager().AddObject("Player1", player);

    level->Update(0.1f);
    auto ruleset = level->GetObjectManager().GetRulesetObject();
    ASSERT_TRUE(ruleset) << "an Arbiter is made once a player is indexed";
    EXPECT_EQ(ruleset->GetName(), "Arbiter");

    level->AddEscaped();
    for (int dead = 1; dead <= 3; ++dead) {
        EXPECT_FALSE(level->IsRoundOver());
        level->AddDead();
        level->Update(0.1f);
    }
    EXPECT_TRUE(level->IsRoundOver());
    EXPECT_EQ(level->GetObjectManager().GetRulesetObject(), ruleset) << "the ruleset is kept";

    // A new level starts a new round: counts from zero.
    level->LoadLevel("Nowhere", 4);
    EXPECT_FALSE(level->IsRoundOver());
    EXPECT_EQ(level->GetDeadCount(), 0);
    EXPECT_EQ(level->GetEscapedCount(), 0);
    level->AddEscaped();
    level->AddDead();
    level->AddDead();
    level->AddDead();
    level->Update(0.1f);
    EXPECT_TRUE(level->IsRoundOver()) << "counts left from the first round would have overshot 4";
}

TEST_F(GameLevelTest, ADestroyedRulesetIsReplaced) {
    WriteArchetype("Arbiter", R"({"components": {"LevelRuleset": {}}})");
    level->LoadLevel("Nowhere", 4);
    GameState::SetState(GameState::PLAYING);
    level->GetObjectManager().AddObject("Player1", Engine::mFactory->CreateGenericObject());
    level->Update(0.1f);
    auto first = level->GetObjectManager().GetRulesetObject();
    ASSERT_TRUE(first);
    Engine::mFactory->Destroy(first->GetID());
    level->Update(0.1f);
    auto second = level->GetObjectManager().GetRulesetObject();
    ASSERT_TRUE(second);
    EXPECT_NE(second->GetID(), first->GetID());
}

} // namespace
