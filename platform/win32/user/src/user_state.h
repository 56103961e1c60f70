// State shared by the user-service sources: fake input for tests.
#pragma once

#include <winuser.h>

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

// Guards every field of the returned state.
std::mutex& StateMutex();
FakeInput& Fake();

// The scancodes that make a virtual key go down (up to two: left and right variants).
struct KeyScancodes {
    SDL_Scancode first = SDL_SCANCODE_UNKNOWN;
    SDL_Scancode second = SDL_SCANCODE_UNKNOWN;
};
KeyScancodes ScancodesOf(int virtualKey);

} // namespace win32user
