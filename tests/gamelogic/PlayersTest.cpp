#include "GameLogic.h"

#include "GameRulesFixture.h"

#include <gtest/gtest.h>

namespace {

using namespace gamelogic_test;
using Vectormath::Aos::Vector3;

class PlayersTest : public GameRulesTest {
protected:
    void SetUp() override {
        GameRulesTest::SetUp();
        Start({MessageType::RegisterCamera, MessageType::ChangePlayerMode});
    }
    GameObjectManager& Objects() { return logic->GetLevel()->GetObjectManager(); }
    std::shared_ptr<Object> Spawner(const std::string& name, Vector3 position) {
        auto object = Engine::mFactory->CreateGenericObject().lock();
        object->SetName(name);
        auto transform = std::make_shared<Transform>();
        transform->SetWorldPosition(position);
        object->AddComponent(transform);
        object->AddComponent(std::make_shared<::Spawner>());
        return object;
    }
    static Vector3 PositionOf(const std::shared_ptr<Object>& object) {
        return std::static_pointer_cast<Transform>(object->GetComponent(ComponentType::Transform).lock())
            ->GetPosition();
    }
};

TEST_F(PlayersTest, PlayersAreNamedInCreationOrderWithCamerasAndModes) {
    for (int n = 1; n <= 4; ++n)
        Spawner("P" + std::to_string(n) + "Spawn", Vector3(10.0f * n, 1.0f, 0.0f));
    Deliver();
    // The object "Player2" gets its Controller first.
    std::vector<std::shared_ptr<Object>> players;
    for (const char* name : {"Player2", "Player1", "Player3", "Player4"})
        players.push_back(MakePlayerObject(name));
    Deliver();

    EXPECT_EQ(Describe(recorder->Take()),
              (std::vector<std::string>{"36:1", "37:1", "36:2", "37:2", "36:3", "37:3", "36:4", "37:4"}));
    EXPECT_EQ(Objects().FindObject("Player1").lock(), players[0]) << "indexed in order of creation";
    EXPECT_EQ(Objects().FindObject("Player2").lock(), players[1]);
    EXPECT_EQ(Objects().GetNextPlayerNumber(), 5u);
    // Placement follows the object's own name: the object "Player2" stands at P2's spawner.
    EXPECT_FLOAT_EQ(PositionOf(players[0]).getX(), 20.0f);
    EXPECT_FLOAT_EQ(PositionOf(players[1]).getX(), 10.0f);
    EXPECT_FLOAT_EQ(PositionOf(players[3]).getX(), 40.0f);
}

TEST_F(PlayersTest, CameraRegistrationCarriesThePlayersCamera) {
    auto object = MakePlayerObject("Player1");
    Deliver();
    const auto cameras = recorder->TakeOf<RegisterCameraMessage>(MessageType::RegisterCamera);
    ASSERT_EQ(cameras.size(), 1u);
    EXPECT_EQ(cameras[0]->GetCamerPTR().lock(), object->GetComponent(ComponentType::Camera).lock());
    EXPECT_EQ(cameras[0]->GetSender(), L"GameLogic");
}

TEST_F(PlayersTest, APlayerWithoutCameraIsStillNamedCountedAndPlaced) {
    Spawner("P1", Vector3(3.0f, 4.0f, 5.0f));
    Deliver();
    auto object = MakePlayerObject("Player1", false);
    Deliver();
    EXPECT_TRUE(recorder->Take().empty());
    EXPECT_EQ(Objects().FindObject("Player1").lock(), object);
    EXPECT_EQ(Objects().GetNextPlayerNumber(), 2u);
    EXPECT_FLOAT_EQ(PositionOf(object).getZ(), 5.0f);
}

TEST_F(PlayersTest, OnlyThePlayerNamesBecomePlayers) {
    for (const char* name : {"Player5", "Player", "player1", "Player1 ", "Enemy"})
        MakePlayerObject(name);
    Deliver();
    EXPECT_FALSE(Objects().HasObjects());
    EXPECT_TRUE(recorder->Take().empty());
}

TEST_F(PlayersTest, PlacementNeedsOneSpawnerWithATransform) {
    Spawner("P1a", Vector3(1.0f, 0.0f, 0.0f));
    Spawner("P1b", Vector3(2.0f, 0.0f, 0.0f));
    auto bare = Engine::mFactory->CreateGenericObject().lock();
    bare->SetName("P2");
    bare->AddComponent(std::make_shared<::Spawner>());
    Deliver();
    auto one = MakePlayerObject("Player1");
    auto two = MakePlayerObject("Player2");
    Deliver();
    EXPECT_FLOAT_EQ(PositionOf(one).getX(), 0.0f) << "two spawners under Player1";
    EXPECT_FLOAT_EQ(PositionOf(two).getX(), 0.0f) << "the spawner has no Transform";
}

TEST_F(PlayersTest, RemovingPlayersRelaysThePlayerModes) {
    std::vector<std::shared_ptr<Object>> players;
    for (const char* name : {"Player1", "Player2", "Player3", "Player4"})
        players.push_back(MakePlayerObject(name));
    Deliver();
    recorder->Take();

    // Not indexed: the unchanged next number minus one.
    auto stranger = MakePlayerObject("Enemy");
    Deliver();
    Engine::mFactory->Destroy(stranger->GetID());
    Deliver();
    EXPECT_EQ(Describe(recorder->Take()), (std::vector<std::string>{"37:4"}));

    // The first removal resets the numbering; the others pass over their names one by one.
    Engine::mFactory->Destroy(players[2]->GetID());
    Deliver();
    EXPECT_EQ(Describe(recorder->Take()), (std::vector<std::string>{"37:0"}));
    EXPECT_TRUE(Objects().FindObject("Player3").expired());
    EXPECT_FALSE(Objects().FindObject("Player4").expired());
    Engine::mFactory->Destroy(players[0]->GetID());
    Deliver();
    EXPECT_EQ(Describe(recorder->Take()), (std::vector<std::string>{"37:0"}));
    EXPECT_TRUE(Objects().FindObject("Player1").expired());

    // An empty index only relays the mode.
    Objects().Clear();
    Objects().SetNextPlayerNumber(3);
    Engine::mFactory->Destroy(players[1]->GetID());
    Deliver();
    EXPECT_EQ(Describe(recorder->Take()), (std::vector<std::string>{"37:2"}));
}

TEST_F(PlayersTest, RemovingSpawnersForgetsOnlyPlayerSpawners) {
    auto p2 = Spawner("P2Spawn", Vector3(0.0f));
    auto other = Spawner("Q7", Vector3(0.0f));
    Deliver();
    Objects().SetNextPlayerNumber(3);
    Engine::mFactory->Destroy(p2->GetID());
    Deliver();
    EXPECT_TRUE(Objects().FindSpawner("Player2").expired());
    Engine::mFactory->Destroy(other->GetID());
    Deliver();
    EXPECT_EQ(Describe(recorder->Take()), (std::vector<std::string>{"37:2", "37:2"}));
    EXPECT_EQ(Objects().GetNextPlayerNumber(), 3u);
}

TEST_F(PlayersTest, TheNextLevelsPlayersAreNumberedFromOneAgain) {
    WritePlayingWorld();
    logic->GetLevel()->SetSkip();
    Engine::RunFrames(1, 0.01f);
    ASSERT_EQ(GameState::GetState(), GameState::PLAYING);
    ASSERT_EQ(Objects().GetNextPlayerNumber(), 5u);
    recorder->Take();

    for (const char* level : {"Restart", "Full_Level_Test"}) {
        if (std::string(level) != "Restart") logic->GetLevel()->Unload();
        Engine::ImmediateMessage(std::make_shared<LoadLevelMessage>(L"Graphics", level, 4));
        if (std::string(level) != "Restart") logic->GetLevel()->SpawnPlayers();
        Deliver();
        for (int n = 1; n <= 4; ++n) {
            auto player = Objects().FindObject("Player" + std::to_string(n)).lock();
            ASSERT_TRUE(player) << level << " player " << n;
            EXPECT_EQ(player->GetName(), "Player" + std::to_string(n));
        }
        const auto cameras = recorder->TakeOf<RegisterCameraMessage>(MessageType::RegisterCamera);
        ASSERT_EQ(cameras.size(), 4u);
        EXPECT_EQ(cameras.back()->GetPlayerNumber(), 4u) << "not Player8";
    }
}

} // namespace
