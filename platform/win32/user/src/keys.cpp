#include "user_state.h"

#include <winuser_sdl.h>

#include <SDL_mouse.h>

namespace win32user {

KeyScancodes ScancodesOf(int vk) {
    if (vk >= 'A' && vk <= 'Z') return {static_cast<SDL_Scancode>(SDL_SCANCODE_A + (vk - 'A'))};
    if (vk >= '1' && vk <= '9') return {static_cast<SDL_Scancode>(SDL_SCANCODE_1 + (vk - '1'))};
    if (vk == '0') return {SDL_SCANCODE_0};
    if (vk >= VK_F1 && vk <= VK_F12) return {static_cast<SDL_Scancode>(SDL_SCANCODE_F1 + (vk - VK_F1))};
    switch (vk) {
    case VK_BACK:
        return {SDL_SCANCODE_BACKSPACE};
    case VK_TAB:
        return {SDL_SCANCODE_TAB};
    case VK_RETURN:
        return {SDL_SCANCODE_RETURN, SDL_SCANCODE_KP_ENTER};
    case VK_SHIFT:
        return {SDL_SCANCODE_LSHIFT, SDL_SCANCODE_RSHIFT};
    case VK_CONTROL:
        return {SDL_SCANCODE_LCTRL, SDL_SCANCODE_RCTRL};
    case VK_MENU:
        return {SDL_SCANCODE_LALT, SDL_SCANCODE_RALT};
    case VK_PAUSE:
        return {SDL_SCANCODE_PAUSE};
    case VK_CAPITAL:
        return {SDL_SCANCODE_CAPSLOCK};
    case VK_ESCAPE:
        return {SDL_SCANCODE_ESCAPE};
    case VK_SPACE:
        return {SDL_SCANCODE_SPACE};
    case VK_PRIOR:
        return {SDL_SCANCODE_PAGEUP};
    case VK_NEXT:
        return {SDL_SCANCODE_PAGEDOWN};
    case VK_END:
        return {SDL_SCANCODE_END};
    case VK_HOME:
        return {SDL_SCANCODE_HOME};
    case VK_LEFT:
        return {SDL_SCANCODE_LEFT};
    case VK_UP:
        return {SDL_SCANCODE_UP};
    case VK_RIGHT:
        return {SDL_SCANCODE_RIGHT};
    case VK_DOWN:
        return {SDL_SCANCODE_DOWN};
    case VK_INSERT:
        return {SDL_SCANCODE_INSERT};
    case VK_DELETE:
        return {SDL_SCANCODE_DELETE};
    case VK_LSHIFT:
        return {SDL_SCANCODE_LSHIFT};
    case VK_RSHIFT:
        return {SDL_SCANCODE_RSHIFT};
    case VK_LCONTROL:
        return {SDL_SCANCODE_LCTRL};
    case VK_RCONTROL:
        return {SDL_SCANCODE_RCTRL};
    case VK_LMENU:
        return {SDL_SCANCODE_LALT};
    case VK_RMENU:
        return {SDL_SCANCODE_RALT};
    default:
        return {};
    }
}

namespace {

bool FakeKeyDown(const FakeInput& fake, int vk) {
    // The side-neutral keys follow either side, as they do on the platform.
    switch (vk) {
    case VK_SHIFT:
        return fake.keys[VK_SHIFT] || fake.keys[VK_LSHIFT] || fake.keys[VK_RSHIFT];
    case VK_CONTROL:
        return fake.keys[VK_CONTROL] || fake.keys[VK_LCONTROL] || fake.keys[VK_RCONTROL];
    case VK_MENU:
        return fake.keys[VK_MENU] || fake.keys[VK_LMENU] || fake.keys[VK_RMENU];
    default:
        return fake.keys[static_cast<std::size_t>(vk)];
    }
}

bool ReadKeyDown(const ReadInput& read, int vk) {
    switch (vk) {
    case VK_LBUTTON:
        return (read.buttons & SDL_BUTTON(SDL_BUTTON_LEFT)) != 0;
    case VK_RBUTTON:
        return (read.buttons & SDL_BUTTON(SDL_BUTTON_RIGHT)) != 0;
    case VK_MBUTTON:
        return (read.buttons & SDL_BUTTON(SDL_BUTTON_MIDDLE)) != 0;
    default:
        break;
    }
    const KeyScancodes codes = ScancodesOf(vk);
    if (codes.first == SDL_SCANCODE_UNKNOWN) return false;
    return read.scancodes[codes.first] ||
           (codes.second != SDL_SCANCODE_UNKNOWN && read.scancodes[codes.second]);
}

} // namespace

void NoteInputEvent(const SDL_Event& event) {
    std::lock_guard<std::mutex> lock(StateMutex());
    ReadInput& read = Read();
    switch (event.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        const SDL_Scancode code = event.key.keysym.scancode;
        if (code > SDL_SCANCODE_UNKNOWN && code < SDL_NUM_SCANCODES)
            read.scancodes[static_cast<std::size_t>(code)] = event.type == SDL_KEYDOWN;
        break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        if (event.button.button < 1 || event.button.button > 32) break;
        const Uint32 mask = SDL_BUTTON(event.button.button);
        if (event.type == SDL_MOUSEBUTTONDOWN)
            read.buttons |= mask;
        else
            read.buttons &= ~mask;
        break;
    }
    default:
        break;
    }
}

} // namespace win32user

SHORT GetKeyState(int virtualKey) {
    using namespace win32user;
    if (virtualKey < 0 || virtualKey > 255) return 0;
    bool down;
    {
        std::lock_guard<std::mutex> lock(StateMutex());
        down = Fake().active ? FakeKeyDown(Fake(), virtualKey) : ReadKeyDown(Read(), virtualKey);
    }
    // The platform answers 0xFF80 for a key that is down: only the sign is meaningful.
    return down ? static_cast<SHORT>(-128) : 0;
}

int VirtualKeyFromScancode(SDL_Scancode scancode) {
    if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z) return 'A' + (scancode - SDL_SCANCODE_A);
    if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_9) return '1' + (scancode - SDL_SCANCODE_1);
    if (scancode == SDL_SCANCODE_0) return '0';
    if (scancode >= SDL_SCANCODE_F1 && scancode <= SDL_SCANCODE_F12)
        return VK_F1 + (scancode - SDL_SCANCODE_F1);
    switch (scancode) {
    case SDL_SCANCODE_LSHIFT:
    case SDL_SCANCODE_RSHIFT:
        return VK_SHIFT;
    case SDL_SCANCODE_LCTRL:
    case SDL_SCANCODE_RCTRL:
        return VK_CONTROL;
    case SDL_SCANCODE_LALT:
    case SDL_SCANCODE_RALT:
        return VK_MENU;
    case SDL_SCANCODE_KP_ENTER:
        return VK_RETURN;
    default:
        break;
    }
    // Every other key maps back through the table of GetKeyState.
    for (int vk = 1; vk < 256; ++vk) {
        if (vk == VK_LSHIFT || vk == VK_RSHIFT || vk == VK_LCONTROL || vk == VK_RCONTROL || vk == VK_LMENU ||
            vk == VK_RMENU)
            continue;
        if (win32user::ScancodesOf(vk).first == scancode) return vk;
    }
    return 0;
}
