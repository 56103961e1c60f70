// The level's rooms (room id to the id of the room's object) and their flooding.
#pragma once

#include <cstdint>
#include <map>

class RoomHandler {
public:
    // Forgets every room and every flood.
    static void InitializeRooms();
    static int HowManyRooms();
    // Room id to object id; callers insert, so an existing room keeps its first object.
    static std::map<int, std::uint32_t>& GetRooms();
    static void IncrementRooms();
    // Orders the rooms into flood rings by ascending room id: ring i floods i-th.
    static void AssignRingToRooms();
    static int GetRing(int roomId);
    // The room's object is being destroyed: when the room is still that object's, it is forgotten
    // with its ring and flood. Once no room is left, the flood clock starts again from zero, so the
    // next level (or a restart) floods on its own timeline.
    static void ForgetRoom(int roomId, std::uint32_t objectId);

    // A flood is due once kFloodInterval seconds have passed since the last one (or since the rooms
    // were initialised) and an unflooded room remains. A flood takes the lowest unflooded ring at
    // once, so no room is ever left in the middle of flooding.
    static constexpr float kFloodInterval = 30.0f;
    static bool IsTimeToFlood();
    static void FloodRoom();
    static bool IsARoomFlooding();
    static bool IsRoomFlooded(int roomId);
    static void UpdateTimeSinceLastFlood(float dt);
};
