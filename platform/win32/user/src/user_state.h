// State shared by the user-service sources: fake input for tests.
#pragma once

#include <winuser.h>

#include <SDL_events.h>
#include <SDL_scancode.h>

#include <array>
#include <mutex>
#include <vector>

namespace win32user {

struct FakeInput {
    bool active = false;
    std::array<bool, 256> keys{};
    POINT cursor{0, 0};
    std::vector<POINT> moves;
};

// What the input events read so far left down: the thread's key state, as the platform keeps it
// from the key and button messages a thread reads. SDL's own keyboard state would miss events that
// reach the queue without a device (pushed ones, as under the offscreen driver).
struct ReadInput {
    std::array<bool, SDL_NUM_SCANCODES> scancodes{};
    Uint32 buttons = 0; // SDL_BUTTON masks
};

// Guards every field of the returned states.
std::mutex& StateMutex();
FakeInput& Fake();
ReadInput& Read();
// A key or mouse button event was read: the read state follows it.
void NoteInputEvent(const SDL_Event& event);

// The scancodes that make a virtual key go down (up to two: left and right variants).
struct KeyScancodes {
    SDL_Scancode first = SDL_SCANCODE_UNKNOWN;
    SDL_Scancode second = SDL_SCANCODE_UNKNOWN;
};
KeyScancodes ScancodesOf(int virtualKey);

} // namespace win32user
