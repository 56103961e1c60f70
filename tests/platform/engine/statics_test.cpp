// Game state, rooms, groups and folder listing.
#include "engine_fixture.h"

#include <fstream>

namespace {

TEST(GameStateTest, StateAndMenuStateAreKept) {
    GameState::SetState(GameState::PLAYING);
    EXPECT_EQ(GameState::GetState(), 3);
    GameState::SetState(9);
    EXPECT_EQ(GameState::GetState(), 9);
    GameState::SetMenuState(GameState::MENU_STATE_RESULTS);
    EXPECT_EQ(GameState::GetMenuState(), 7);
    GameState::SetState(0);
    GameState::SetMenuState(0);
}

TEST(RoomHandlerTest, RoomsKeepTheirFirstObjectAndCountOnlyWhenIncremented) {
    RoomHandler::InitializeRooms();
    EXPECT_EQ(RoomHandler::HowManyRooms(), 0);
    RoomHandler::GetRooms().insert({7, 100});
    RoomHandler::IncrementRooms();
    RoomHandler::GetRooms().insert({7, 200});
    RoomHandler::GetRooms().insert({2, 300});
    RoomHandler::IncrementRooms();
    EXPECT_EQ(RoomHandler::HowManyRooms(), 2);
    EXPECT_EQ(RoomHandler::GetRooms().at(7), 100u);
    RoomHandler::AssignRingToRooms();
    EXPECT_EQ(RoomHandler::GetRing(2), 0);
    EXPECT_EQ(RoomHandler::GetRing(7), 1);
    EXPECT_EQ(RoomHandler::GetRing(5), -1);
    RoomHandler::InitializeRooms();
    EXPECT_TRUE(RoomHandler::GetRooms().empty());
    EXPECT_EQ(RoomHandler::HowManyRooms(), 0);
}

TEST(RoomHandlerTest, FloodsComeRingByRingAfterTheInterval) {
    RoomHandler::InitializeRooms();
    RoomHandler::UpdateTimeSinceLastFlood(RoomHandler::kFloodInterval * 2);
    EXPECT_FALSE(RoomHandler::IsTimeToFlood()) << "no rooms";
    RoomHandler::InitializeRooms();
    RoomHandler::GetRooms().insert({4, 1});
    RoomHandler::GetRooms().insert({9, 2});
    RoomHandler::AssignRingToRooms();
    RoomHandler::UpdateTimeSinceLastFlood(RoomHandler::kFloodInterval - 0.5f);
    EXPECT_FALSE(RoomHandler::IsTimeToFlood());
    RoomHandler::UpdateTimeSinceLastFlood(0.5f);
    ASSERT_TRUE(RoomHandler::IsTimeToFlood());
    RoomHandler::FloodRoom();
    EXPECT_TRUE(RoomHandler::IsRoomFlooded(4));
    EXPECT_FALSE(RoomHandler::IsRoomFlooded(9));
    EXPECT_FALSE(RoomHandler::IsTimeToFlood()) << "the timer starts again";
    EXPECT_FALSE(RoomHandler::IsARoomFlooding());
    RoomHandler::UpdateTimeSinceLastFlood(RoomHandler::kFloodInterval);
    RoomHandler::FloodRoom();
    EXPECT_TRUE(RoomHandler::IsRoomFlooded(9));
    RoomHandler::UpdateTimeSinceLastFlood(RoomHandler::kFloodInterval);
    EXPECT_FALSE(RoomHandler::IsTimeToFlood()) << "every room is flooded";
    RoomHandler::InitializeRooms();
}

TEST(GroupTest, MembersAreKeptOnceInOrder) {
    Group group("Doors");
    group.AddToGroup(5);
    group.AddToGroup(2);
    group.AddToGroup(5);
    EXPECT_EQ(group.GetName(), "Doors");
    EXPECT_EQ(group.GetMembers(), (std::vector<std::uint32_t>{5, 2}));
}

class FolderTest : public EngineTestBase {};

TEST_F(FolderTest, ListsPathsSortedByNameAndNothingForAMissingFolder) {
    WriteFile("Binaries/b.DLL", "x");
    WriteFile("Binaries/a.dll", "x");
    WriteFile("Binaries/notes.txt", "x");
    const std::string folder = mScratch.string() + "/Binaries\\";
    const std::wstring wide(folder.begin(), folder.end());
    const auto entries = GetFilesInWindowsDirectory(wide);
    const std::string base = mScratch.string() + "/Binaries/";
    const std::vector<std::wstring> expected = {std::wstring(base.begin(), base.end()) + L"a.dll",
                                                std::wstring(base.begin(), base.end()) + L"b.DLL",
                                                std::wstring(base.begin(), base.end()) + L"notes.txt"};
    EXPECT_EQ(entries, expected);
    EXPECT_TRUE(GetFilesInWindowsDirectory(L"NoSuchFolder\\").empty());
    // The resource root stands for "..\..\Resources".
    WriteFile("Levels/x.json", "{}");
    EXPECT_EQ(GetFilesInWindowsDirectory(L"..\\..\\Resources\\Levels\\").size(), 1u);
}

} // namespace
