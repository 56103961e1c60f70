#include "user_state.h"

#include <win32_user_testing.h>

#include <SDL.h>

#include <cstring>

namespace win32user {

std::mutex& StateMutex() {
    static std::mutex mutex;
    return mutex;
}

FakeInput& Fake() {
    static FakeInput fake;
    return fake;
}

ReadInput& Read() {
    static ReadInput read;
    return read;
}

namespace {

struct CursorState {
    // The platform starts at 0 with a mouse present: the cursor shows.
    int displayCount = 0;
    int calls = 0;
};

CursorState& Cursor() {
    static CursorState cursor;
    return cursor;
}

// SDL cannot list its windows, but it hands out window ids upwards from 1: scanning the ids finds
// every live window. The bound is far above the windows a process ever opens.
constexpr Uint32 kMaxWindowId = 1u << 16;

SDL_Window* NewestWindow() {
    static Uint32 lastFound = 0;
    if (lastFound != 0) {
        if (SDL_Window* window = SDL_GetWindowFromID(lastFound)) return window;
    }
    SDL_Window* found = nullptr;
    for (Uint32 id = 1; id < kMaxWindowId; ++id) {
        if (SDL_Window* window = SDL_GetWindowFromID(id)) {
            found = window;
            lastFound = id;
        }
    }
    return found;
}

SDL_Window* AsWindow(HWND window) {
    return static_cast<SDL_Window*>(window);
}

} // namespace
} // namespace win32user

using namespace win32user;

int ShowCursor(BOOL show) {
    CursorState& cursor = Cursor();
    int count;
    {
        std::lock_guard<std::mutex> lock(StateMutex());
        cursor.displayCount += show ? 1 : -1;
        ++cursor.calls;
        count = cursor.displayCount;
    }
    if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_ShowCursor(count >= 0 ? SDL_ENABLE : SDL_DISABLE);
    return count;
}

HWND GetForegroundWindow() {
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return nullptr;
    if (SDL_Window* focus = SDL_GetKeyboardFocus()) return focus;
    // Drivers without a window manager (offscreen, dummy) never give the focus to a window.
    return NewestWindow();
}

HWND FindWindowA(LPCSTR className, LPCSTR windowName) {
    // Window classes do not exist here; only a null class matches.
    if (className || !SDL_WasInit(SDL_INIT_VIDEO)) return nullptr;
    for (Uint32 id = 1; id < kMaxWindowId; ++id) {
        SDL_Window* window = SDL_GetWindowFromID(id);
        if (!window) continue;
        if (!windowName || std::strcmp(SDL_GetWindowTitle(window), windowName) == 0) return window;
    }
    return nullptr;
}

LONG GetWindowLongW(HWND window, int index) {
    if (!window) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (index != GWL_HINSTANCE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // The module instance: callers only need a value that is not null.
    return 0x400000;
}

BOOL GetClientRect(HWND window, RECT* rect) {
    if (!window || !rect) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int width = 0, height = 0;
    SDL_GetWindowSize(AsWindow(window), &width, &height);
    *rect = RECT{0, 0, width, height};
    return TRUE;
}

BOOL GetCursorPos(POINT* point) {
    if (!point) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(StateMutex());
        if (Fake().active) {
            *point = Fake().cursor;
            return TRUE;
        }
    }
    int x = 0, y = 0;
    SDL_GetGlobalMouseState(&x, &y);
    *point = POINT{x, y};
    return TRUE;
}

BOOL SetCursorPos(int x, int y) {
    {
        std::lock_guard<std::mutex> lock(StateMutex());
        if (Fake().active) {
            Fake().cursor = POINT{x, y};
            Fake().moves.push_back(POINT{x, y});
            return TRUE;
        }
    }
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return FALSE;
    if (SDL_WarpMouseGlobal(x, y) == 0) return TRUE;
    // Drivers without a global warp can still move the cursor inside a window.
    SDL_Window* window = static_cast<SDL_Window*>(GetForegroundWindow());
    if (!window) return FALSE;
    int left = 0, top = 0;
    SDL_GetWindowPosition(window, &left, &top);
    SDL_WarpMouseInWindow(window, x - left, y - top);
    return TRUE;
}

BOOL ScreenToClient(HWND window, POINT* point) {
    if (!window || !point) return FALSE;
    int left = 0, top = 0;
    SDL_GetWindowPosition(AsWindow(window), &left, &top);
    point->x -= left;
    point->y -= top;
    return TRUE;
}

BOOL ClientToScreen(HWND window, POINT* point) {
    if (!window || !point) return FALSE;
    int left = 0, top = 0;
    SDL_GetWindowPosition(AsWindow(window), &left, &top);
    point->x += left;
    point->y += top;
    return TRUE;
}

namespace win32usertest {

void UseFakeInput() {
    std::lock_guard<std::mutex> lock(StateMutex());
    Fake() = FakeInput{};
    Fake().active = true;
}

void UseRealInput() {
    std::lock_guard<std::mutex> lock(StateMutex());
    Fake() = FakeInput{};
}

void SetKeyDown(int virtualKey, bool down) {
    if (virtualKey < 0 || virtualKey > 255) return;
    std::lock_guard<std::mutex> lock(StateMutex());
    Fake().keys[static_cast<std::size_t>(virtualKey)] = down;
}

void ReleaseAllKeys() {
    std::lock_guard<std::mutex> lock(StateMutex());
    Fake().keys.fill(false);
}

void SetCursorScreenPos(int x, int y) {
    std::lock_guard<std::mutex> lock(StateMutex());
    Fake().cursor = POINT{x, y};
}

std::vector<POINT> TakeCursorMoves() {
    std::lock_guard<std::mutex> lock(StateMutex());
    std::vector<POINT> moves;
    moves.swap(Fake().moves);
    return moves;
}

int CursorDisplayCount() {
    std::lock_guard<std::mutex> lock(StateMutex());
    return Cursor().displayCount;
}

int ShowCursorCalls() {
    std::lock_guard<std::mutex> lock(StateMutex());
    return Cursor().calls;
}

void ResetCursor() {
    std::lock_guard<std::mutex> lock(StateMutex());
    Cursor() = CursorState{};
}

} // namespace win32usertest
