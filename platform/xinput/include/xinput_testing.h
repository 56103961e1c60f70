// Test controls of the gamepad stand-in. Only tests include this header.
#pragma once

#include <Xinput.h>

#include <vector>

namespace xinputtest {

// Fake pads: every slot is disconnected until a test connects it; SDL is not asked.
void UseFakePads();
void UseRealPads();
// Connects the slot (or keeps it connected) with this state; the packet number moves on a change.
void SetPad(DWORD userIndex, const XINPUT_GAMEPAD& pad);
void DisconnectPad(DWORD userIndex);

struct Vibration {
    DWORD userIndex;
    WORD left;
    WORD right;
};
// Every XInputSetState that reached a connected slot, in order.
std::vector<Vibration> TakeVibrations();
// XInputGetState calls per slot since UseFakePads.
int GetStateCalls(DWORD userIndex);

} // namespace xinputtest
