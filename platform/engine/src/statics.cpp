#include "Engine.h"
#include "GameState.h"
#include "ObjectFactory.h"
#include "Players.h"
#include "RoomHandler.h"
#include "WindowsDirectory.h"
#include "detail.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

namespace {

int gState = GameState::FIRST_SPLASH;
int gMenuState = GameState::MENU_STATE_MAIN;

struct Rooms {
    std::map<int, std::uint32_t> table;
    int count = 0;
    std::map<int, int> ringOf; // room id -> ring
    std::set<int> flooded;
    float sinceLastFlood = 0.0f;
};

Rooms& RoomState() {
    static Rooms rooms;
    return rooms;
}

} // namespace

int GameState::GetState() {
    return gState;
}
void GameState::SetState(int state) {
    gState = state;
}
int GameState::GetMenuState() {
    return gMenuState;
}
void GameState::SetMenuState(int menuState) {
    gMenuState = menuState;
}

void RoomHandler::InitializeRooms() {
    RoomState() = Rooms{};
}
int RoomHandler::HowManyRooms() {
    return RoomState().count;
}
std::map<int, std::uint32_t>& RoomHandler::GetRooms() {
    return RoomState().table;
}
void RoomHandler::IncrementRooms() {
    ++RoomState().count;
}

void RoomHandler::AssignRingToRooms() {
    Rooms& rooms = RoomState();
    rooms.ringOf.clear();
    int ring = 0;
    for (const auto& [room, object] : rooms.table)
        rooms.ringOf[room] = ring++;
}

int RoomHandler::GetRing(int roomId) {
    const Rooms& rooms = RoomState();
    auto found = rooms.ringOf.find(roomId);
    return found == rooms.ringOf.end() ? -1 : found->second;
}

void RoomHandler::ForgetRoom(int roomId, std::uint32_t objectId) {
    Rooms& rooms = RoomState();
    auto found = rooms.table.find(roomId);
    if (found == rooms.table.end() || found->second != objectId) return;
    rooms.table.erase(found);
    if (rooms.count > 0) --rooms.count;
    rooms.flooded.erase(roomId);
    AssignRingToRooms();
    if (rooms.table.empty()) rooms.sinceLastFlood = 0.0f;
}

bool RoomHandler::IsTimeToFlood() {
    const Rooms& rooms = RoomState();
    if (rooms.sinceLastFlood < kFloodInterval) return false;
    for (const auto& [room, ring] : rooms.ringOf)
        if (rooms.flooded.count(room) == 0) return true;
    return false;
}

void RoomHandler::FloodRoom() {
    Rooms& rooms = RoomState();
    int next = -1, nextRing = 0;
    for (const auto& [room, ring] : rooms.ringOf) {
        if (rooms.flooded.count(room) != 0) continue;
        if (next == -1 || ring < nextRing) {
            next = room;
            nextRing = ring;
        }
    }
    if (next == -1) return;
    rooms.flooded.insert(next);
    rooms.sinceLastFlood = 0.0f;
}

bool RoomHandler::IsARoomFlooding() {
    return false;
}
bool RoomHandler::IsRoomFlooded(int roomId) {
    return RoomState().flooded.count(roomId) != 0;
}
void RoomHandler::UpdateTimeSinceLastFlood(float dt) {
    RoomState().sinceLastFlood += dt;
}

std::weak_ptr<Object> Players::GetPlayer(const std::string& objectName) {
    return Engine::mFactory->GetObjectByName(objectName);
}

void Group::AddToGroup(std::uint32_t objectId) {
    if (std::find(mMembers.begin(), mMembers.end(), objectId) == mMembers.end()) mMembers.push_back(objectId);
}

std::vector<std::wstring> GetFilesInWindowsDirectory(const std::wstring& folder) {
    std::string path = zurari::ResolvePath(zurari::Narrow(folder));
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(path.empty() ? "." : path, error), end; !error && it != end;
         it.increment(error))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    std::vector<std::wstring> entries;
    entries.reserve(names.size());
    for (const auto& name : names)
        entries.push_back(zurari::Widen(path.empty() ? name : path + "/" + name));
    return entries;
}
