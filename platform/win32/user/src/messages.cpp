#include "user_state.h"

#include <winuser_sdl.h>

#include <SDL_video.h>

namespace {

LPARAM PointParam(Sint32 x, Sint32 y) {
    // The platform packs client coordinates as two signed 16-bit words.
    return MAKELPARAM(static_cast<WORD>(static_cast<Sint16>(x)), static_cast<WORD>(static_cast<Sint16>(y)));
}

} // namespace

bool TranslateSDLEventToMessage(const SDL_Event& event, MSG* message) {
    if (!message) return false;
    // Reading a key or button message is what moves the thread's key state.
    win32user::NoteInputEvent(event);
    MSG out{};
    out.time = event.common.timestamp;
    switch (event.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        const int vk = VirtualKeyFromScancode(event.key.keysym.scancode);
        if (vk == 0) return false;
        out.hwnd = SDL_GetWindowFromID(event.key.windowID);
        out.message = event.type == SDL_KEYDOWN ? WM_KEYDOWN : WM_KEYUP;
        out.wParam = static_cast<WPARAM>(vk);
        out.lParam = 1; // repeat count
        break;
    }
    case SDL_MOUSEMOTION:
        out.hwnd = SDL_GetWindowFromID(event.motion.windowID);
        out.message = WM_MOUSEMOVE;
        out.lParam = PointParam(event.motion.x, event.motion.y);
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        const bool down = event.type == SDL_MOUSEBUTTONDOWN;
        if (event.button.button == SDL_BUTTON_LEFT) {
            out.message = down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
        } else if (event.button.button == SDL_BUTTON_RIGHT) {
            out.message = down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
        } else {
            return false;
        }
        out.hwnd = SDL_GetWindowFromID(event.button.windowID);
        out.lParam = PointParam(event.button.x, event.button.y);
        break;
    }
    case SDL_MOUSEWHEEL: {
        Sint32 steps = event.wheel.y;
        if (event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) steps = -steps;
        // Sideways scrolling has a message of its own on the platform, which the game does not read.
        if (steps == 0) return false;
        const int delta = steps * WHEEL_DELTA;
        const Sint16 clamped = static_cast<Sint16>(delta > 32767 ? 32767 : (delta < -32768 ? -32768 : delta));
        out.hwnd = SDL_GetWindowFromID(event.wheel.windowID);
        out.message = WM_MOUSEWHEEL;
        out.wParam = MAKEWPARAM(0, static_cast<WORD>(clamped));
        break;
    }
    case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_FOCUS_LOST) {
            out.wParam = MAKEWPARAM(WA_INACTIVE, 0);
        } else if (event.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) {
            out.wParam = MAKEWPARAM(WA_ACTIVE, 0);
        } else {
            return false;
        }
        out.hwnd = SDL_GetWindowFromID(event.window.windowID);
        out.message = WM_ACTIVATE;
        out.lParam = 0;
        break;
    default:
        return false;
    }
    *message = out;
    return true;
}
