#include "GameLogic.h"

#include "EngineTestControl.h"
#include "FloodWarning.h"
#include "GameRulesFixture.h"
#include "RoomHandler.h"

#include <gtest/gtest.h>

namespace {

using namespace gamelogic_test;

const std::vector<MessageType> kPauseTraffic = {MessageType::Pause, MessageType::ShowMenu,
                                                MessageType::PostSoundEvent, MessageType::DisplayCursor};

// A behaviour with a scripted life: it runs out after `frames` updates.
class ScriptedBehavior : public BehaviorComponent {
public:
    ScriptedBehavior(std::string group, bool blocking, int frames, std::vector<std::string>* log,
                     std::string name)
        : BehaviorComponent(ComponentType::PauseBehavior), mGroup(std::move(group)), mBlocking(blocking),
          mFrames(frames), mLog(log), mName(std::move(name)) {}
    float GetTimeLeft() const override { return static_cast<float>(mFrames); }
    void Update(float) override {
        --mFrames;
        mLog->push_back("update " + mName);
    }
    void Finish() override { mLog->push_back("finish " + mName); }
    std::string GetGroupName() const override { return mGroup; }
    bool IsBlocking() const override { return mBlocking; }
    bool IsExclusive() const override { return false; }
    std::uint32_t GetActedOnObjectID() const override {
        auto parent = GetParent().lock();
        return parent ? parent->GetID() : 0;
    }

private:
    std::string mGroup;
    bool mBlocking;
    int mFrames;
    std::vector<std::string>* mLog;
    std::string mName;
};

class GameLogicTest : public GameRulesTest {
protected:
    // Adds a scripted behaviour on an object of its own; returns the object.
    std::shared_ptr<Object> AddScripted(const std::string& name, const std::string& group, bool blocking,
                                        int frames) {
        auto object = Engine::mFactory->CreateGenericObject().lock();
        auto behavior = std::make_shared<ScriptedBehavior>(group, blocking, frames, &log, name);
        object->AddComponent(behavior);
        logic->GetBehaviors().push_back(behavior);
        return object;
    }
    static bool Alive(const std::shared_ptr<Object>& object) {
        return !Engine::mFactory->GetObjectWithID(object->GetID()).expired();
    }

    std::vector<std::string> log;
};

TEST_F(GameLogicTest, InitializeLoadsTheFirstSplashAndListens) {
    WriteLevel("VM_SPLASH", R"({"objects": [{"name": "SplashCamera", "components": {"Camera": {}}}]})");
    WriteArchetype("Arbiter", R"({"components": {"LevelRuleset": {}}})");
    Start(kPauseTraffic);
    EXPECT_EQ(GameState::GetState(), GameState::FIRST_SPLASH);
    EXPECT_EQ(logic->GetLevel()->GetLevelName(), "VM_SPLASH");
    EXPECT_EQ(logic->GetLevel()->GetStageDuration(), GameLevel::kFirstSplashSeconds);
    EXPECT_EQ(logic->GetLevel()->GetPlayerCount(), 0);
    EXPECT_FALSE(Engine::mFactory->GetObjectByName("SplashCamera").expired());
    EXPECT_FALSE(Engine::mFactory->GetObjectByName("Arbiter").expired());
    EXPECT_EQ(Describe(recorder->Take()), (std::vector<std::string>{"35:E7746BD5", "35:2C928473", "40:1"}));
    for (MessageType type : {MessageType::ButtonTrigger, MessageType::ButtonPress, MessageType::ButtonRelease,
                             MessageType::Collision, MessageType::Pause, MessageType::ControllerID,
                             MessageType::LoadLevel, MessageType::ViewportResponse, MessageType::GiveItems})
        EXPECT_GE(EngineTest::ListenerCount(type), 1u) << MessageTypeName(type);
    // The handler and the object manager both hear created components and game events.
    EXPECT_EQ(EngineTest::ListenerCount(MessageType::GameEvent), 2u);
}

TEST_F(GameLogicTest, TheHandlerListensFromInitializeToDestruction) {
    Start();
    const MessageType types[] = {
        MessageType::ButtonTrigger, MessageType::ButtonPress,      MessageType::ButtonRelease,
        MessageType::Collision,     MessageType::CreatedComponent, MessageType::DestroyedComponent,
        MessageType::Pause,         MessageType::ControllerID,     MessageType::LoadLevel,
        MessageType::GameEvent,     MessageType::ViewportResponse, MessageType::GiveItems};
    std::vector<std::size_t> before;
    for (MessageType type : types)
        before.push_back(EngineTest::ListenerCount(type));
    {
        GameLogic other(L"GameLogic");
        EXPECT_EQ(EngineTest::ListenerCount(MessageType::ButtonTrigger), before[0])
            << "not before Initialize";
        other.Initialize();
        for (std::size_t i = 0; i < std::size(types); ++i) {
            // The object manager also hears created components and game events.
            const bool managerToo =
                types[i] == MessageType::CreatedComponent || types[i] == MessageType::GameEvent;
            EXPECT_EQ(EngineTest::ListenerCount(types[i]), before[i] + (managerToo ? 2 : 1))
                << MessageTypeName(types[i]);
        }
    }
    for (std::size_t i = 0; i < std::size(types); ++i)
        EXPECT_EQ(EngineTest::ListenerCount(types[i]), before[i]) << MessageTypeName(types[i]);
}

TEST_F(GameLogicTest, TogglePauseSendsItsMessagesAndKeepsAPauseObject) {
    Start(kPauseTraffic);
    GameState::SetState(GameState::OBJECTIVES);
    Deliver();
    recorder->Take();

    logic->TogglePause(7);
    EXPECT_EQ(GameState::GetState(), GameState::PAUSED);
    auto pauseObject = logic->GetPauseObject().lock();
    ASSERT_TRUE(pauseObject);
    ASSERT_EQ(logic->GetBehaviors().size(), 1u);
    EXPECT_EQ(logic->GetBehaviors().front()->GetParent().lock(), pauseObject);
    Deliver();
    EXPECT_EQ(Describe(recorder->Take()),
              (std::vector<std::string>{"38:0,7", "35:E6517101", "7:5,1", "40:0"}));

    const std::uint32_t pauseId = pauseObject->GetID();
    pauseObject.reset();
    logic->TogglePause(9);
    EXPECT_EQ(GameState::GetState(), GameState::OBJECTIVES) << "the state from before the pause comes back";
    EXPECT_TRUE(logic->GetPauseObject().expired());
    EXPECT_TRUE(Engine::mFactory->GetObjectWithID(pauseId).expired());
    EXPECT_TRUE(logic->GetBehaviors().empty());
    Deliver();
    EXPECT_EQ(Describe(recorder->Take()),
              (std::vector<std::string>{"38:1,9", "7:12,0", "35:DB54B788", "40:0", "7:5,0"}));
}

TEST_F(GameLogicTest, RoundEndShowsResultsAndPausesWithoutThePauseMenu) {
    WritePlayingWorld();
    Start(kPauseTraffic);
    logic->GetLevel()->SetSkip();
    Engine::RunFrames(2, 0.1f);
    ASSERT_EQ(GameState::GetState(), GameState::PLAYING);
    recorder->Take();

    logic->GetLevel()->AddEscaped();
    for (int i = 0; i < 3; ++i)
        logic->GetLevel()->AddDead();
    Engine::RunFrames(1, 0.1f); // the flow ends the round and the rules show the results at once
    EXPECT_TRUE(logic->GetLevel()->IsRoundOver());
    EXPECT_EQ(GameState::GetState(), GameState::PAUSED);
    EXPECT_EQ(Describe(recorder->Take()),
              (std::vector<std::string>{"7:9,1", "38:0,0", "35:F64FB20D", "40:0"}));
    EXPECT_FALSE(logic->GetPauseObject().expired());

    Engine::RunFrames(3, 0.1f);
    EXPECT_TRUE(recorder->Take().empty()) << "paused: the flow no longer runs";
}

TEST_F(GameLogicTest, PauseMessagesToggleOnlyWhenTheStateAllows) {
    Start(kPauseTraffic);
    GameState::SetState(GameState::PLAYING);
    struct Case {
        PauseMessageType type;
        int stateAfter;
    };
    const Case cases[] = {{UNPAUSE_GAME, GameState::PLAYING},
                          {PAUSE_GAME, GameState::PAUSED},
                          {PAUSE_GAME, GameState::PAUSED},
                          {UNPAUSE_GAME, GameState::PLAYING}};
    for (const Case& c : cases) {
        Engine::RelayMessage(std::make_shared<PauseMessage>(L"Graphics", c.type, 3));
        Deliver(); // our own echo is delivered in the same drain and toggles nothing
        EXPECT_EQ(GameState::GetState(), c.stateAfter);
    }
}

TEST_F(GameLogicTest, SweepUpdatesExpiresAndBlocksByGroup) {
    Start();
    GameState::SetState(GameState::IDLE);
    auto a1 = AddScripted("a1", "A", true, 5);
    auto a2 = AddScripted("a2", "A", false, 5);
    auto b1 = AddScripted("b1", "B", false, 1);
    auto b2 = AddScripted("b2", "B", false, 5);
    auto c1 = AddScripted("c1", "", false, 5);
    auto stop = AddScripted("stop", "", true, 5);
    auto after = AddScripted("after", "C", false, 5);

    logic->SweepExpiredComponents(0.1f);
    EXPECT_EQ(log,
              (std::vector<std::string>{"update a1", "update b1", "finish b1", "update c1", "update stop"}))
        << "a2 blocked by a1; b2 follows an expired entry and is not updated; 'stop' ends the walk";
    EXPECT_FALSE(Alive(b1)) << "the expired entry's object is destroyed in the same frame";
    EXPECT_TRUE(Alive(a2) && Alive(b2) && Alive(after));
    EXPECT_EQ(logic->GetBehaviors().size(), 6u);
}

TEST_F(GameLogicTest, ABlockingEntryAfterAnExpiredOneStillBlocks) {
    Start();
    auto first = AddScripted("first", "X", false, 1);
    auto blocker = AddScripted("blocker", "", true, 5);
    auto later = AddScripted("later", "Y", false, 5);
    logic->SweepExpiredComponents(0.1f);
    EXPECT_EQ(log, (std::vector<std::string>{"update first", "finish first"}));
}

TEST_F(GameLogicTest, RemoveBehaviorsForFinishesAndDestroysTheirObjects) {
    Start();
    auto one = AddScripted("one", "", false, 5);
    auto two = AddScripted("two", "", false, 5);
    logic->RemoveBehaviorsFor(one->GetID());
    EXPECT_EQ(log, (std::vector<std::string>{"finish one"}));
    EXPECT_FALSE(Alive(one));
    EXPECT_TRUE(Alive(two));
    ASSERT_EQ(logic->GetBehaviors().size(), 1u);

    // Destroying an object elsewhere comes back through the destroyed-component handler.
    Engine::mFactory->Destroy(two->GetID());
    EXPECT_TRUE(logic->GetBehaviors().empty());
    EXPECT_EQ(log.back(), "finish two");
}

TEST_F(GameLogicTest, ThePauseBehaviorOutlivesFramesUntilResume) {
    Start();
    GameState::SetState(GameState::PLAYING);
    logic->TogglePause(0);
    Engine::RunFrames(20, 0.25f);
    ASSERT_FALSE(logic->GetPauseObject().expired());
    auto pause = std::static_pointer_cast<PauseBehavior>(logic->GetBehaviors().front());
    EXPECT_FLOAT_EQ(pause->GetPausedTime(), 5.0f) << "the sweep runs while paused";
    logic->TogglePause(0);
    EXPECT_TRUE(logic->GetPauseObject().expired());
}

TEST_F(GameLogicTest, IdleAndPausedSkipFlowFloodingAndWarnings) {
    Start({MessageType::ViewportRequest});
    GameState::SetState(GameState::PLAYING);
    auto room = Engine::mFactory->CreateGenericObject().lock();
    auto component = std::make_shared<RoomComponent>();
    component->SetRoomID(1);
    room->AddComponent(component);
    Deliver();
    ASSERT_EQ(RoomHandler::HowManyRooms(), 1);
    logic->GetLevel()->StartStage(0.0f, 1.0f);
    for (int state : {GameState::IDLE, GameState::PAUSED}) {
        GameState::SetState(state);
        recorder->Take();
        const float timer = logic->GetLevel()->GetStageTimer();
        for (int i = 0; i < 200; ++i)
            logic->Update(0.25f);
        Deliver();
        EXPECT_EQ(logic->GetLevel()->GetStageTimer(), timer);
        EXPECT_TRUE(TakeFloodWarnings().empty());
        EXPECT_TRUE(recorder->Take().empty()) << "no viewport requests";
        EXPECT_FALSE(RoomHandler::IsRoomFlooded(1)) << "the flood clock stands still";
    }
    GameState::SetState(GameState::PLAYING);
    for (int i = 0; i < 121; ++i)
        logic->Update(0.25f);
    EXPECT_TRUE(RoomHandler::IsRoomFlooded(1)) << "30 s of play flood the first room";
}

TEST_F(GameLogicTest, FloodWarningPerPlayerViewportEveryFrame) {
    Start();
    GameState::SetState(GameState::PLAYING);
    logic->GetLevel()->LoadLevel("Nowhere", 6);
    Engine::RelayMessage(
        std::make_shared<ViewportResponseMessage>(L"Graphics", 2, 800.0f, 450.0f, 800.0f, 0.0f));
    Deliver();
    logic->Update(0.01f);
    const auto calls = TakeFloodWarnings();
    ASSERT_EQ(calls.size(), 4u) << "players 5 and 6 have no viewport";
    EXPECT_EQ(calls[0].width, 0.0f) << "player 1 has had no answer yet";
    EXPECT_EQ(calls[1].width, 800.0f);
    EXPECT_EQ(calls[1].left, 800.0f);
    EXPECT_EQ(calls[1].top, 0.0f);
    EXPECT_EQ(calls[1].text, "Room is about to flood!");

    logic->Update(0.01f);
    logic->Update(0.01f);
    EXPECT_EQ(TakeFloodWarnings().size(), 4u) << "only one frame's calls are kept";
}

TEST_F(GameLogicTest, ViewportsAreRequestedUntilAnswered) {
    Start({MessageType::ViewportRequest});
    GameState::SetState(GameState::PLAYING);
    logic->GetLevel()->LoadLevel("Nowhere", 2);
    Engine::RunFrames(1, 0.01f);
    EXPECT_EQ(Describe(recorder->Take()), (std::vector<std::string>{"57:1", "57:2"}));
    for (unsigned player : {0u, 1u, 5u})
        Engine::RelayMessage(
            std::make_shared<ViewportResponseMessage>(L"Graphics", player, 1.0f, 2.0f, 3.0f, 4.0f));
    Engine::RunFrames(1, 0.01f);
    recorder->Take();
    Engine::RunFrames(1, 0.01f);
    EXPECT_EQ(Describe(recorder->Take()), (std::vector<std::string>{"57:2"}));
    const ViewportRecord* first = logic->GetViewport(1);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->received);
    EXPECT_EQ(first->width, 1.0f);
    EXPECT_EQ(first->height, 2.0f);
    EXPECT_EQ(first->topX, 3.0f);
    EXPECT_EQ(first->topY, 4.0f);
    EXPECT_EQ(logic->GetViewport(0), nullptr);
    EXPECT_EQ(logic->GetViewport(5), nullptr);
    EXPECT_FALSE(logic->GetViewport(3)->received);
}

TEST_F(GameLogicTest, CollisionGroupsAreNineWithThePlayersMatrix) {
    Start();
    const CollisionGroupRegistry& groups = physics->GetCollisionGroups();
    ASSERT_EQ(groups.GetGroupCount(), 9u);
    const char* names[] = {"DEFAULT",           "Player1",           "Player1projectile",
                           "Player2",           "Player2projectile", "Player3",
                           "Player3projectile", "Player4",           "Player4projectile"};
    for (std::uint32_t id = 0; id < 9; ++id)
        EXPECT_EQ(groups.GetGroupId(names[id]), id) << names[id];
    for (std::uint32_t a = 0; a < 9; ++a) {
        for (std::uint32_t b = 0; b < 9; ++b) {
            // DEFAULT meets everyone, itself included; a player group meets exactly the projectile
            // groups, its own player's included.
            const bool expected = a == 0 || b == 0 || (a % 2) != (b % 2);
            EXPECT_EQ(groups.DoGroupsCollide(a, b), expected) << names[a] << " x " << names[b];
        }
    }
}

TEST_F(GameLogicTest, SettingUpTheGroupsAgainChangesNothing) {
    Start();
    testing::internal::CaptureStdout();
    logic->SetupCollisionGroups();
    const std::string out = testing::internal::GetCapturedStdout();
    std::size_t repeated = 0;
    for (std::size_t at = out.find("already exists"); at != std::string::npos;
         at = out.find("already exists", at + 1))
        ++repeated;
    EXPECT_EQ(repeated, 8u);
    EXPECT_EQ(physics->GetCollisionGroups().GetGroupCount(), 9u);
    EXPECT_FALSE(physics->GetCollisionGroups().DoGroupsCollide(1, 3));
    EXPECT_TRUE(physics->GetCollisionGroups().DoGroupsCollide(1, 2));
}

} // namespace
