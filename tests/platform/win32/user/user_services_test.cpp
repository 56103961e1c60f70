// The Windows user services that the input system reads.
#include <dbt.h>
#include <win32_user_testing.h>
#include <winuser.h>
#include <winuser_sdl.h>

#include <SDL.h>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

TEST(ShowCursor, EveryCallMovesTheDisplayCounterByOne) {
    win32usertest::ResetCursor();
    EXPECT_EQ(ShowCursor(FALSE), -1);
    EXPECT_EQ(ShowCursor(FALSE), -2);
    EXPECT_EQ(ShowCursor(TRUE), -1);
    EXPECT_EQ(ShowCursor(TRUE), 0);
    EXPECT_EQ(ShowCursor(TRUE), 1);
    EXPECT_EQ(win32usertest::CursorDisplayCount(), 1);
    EXPECT_EQ(win32usertest::ShowCursorCalls(), 5);
}

class FakeKeys : public ::testing::Test {
protected:
    void SetUp() override { win32usertest::UseFakeInput(); }
    void TearDown() override { win32usertest::UseRealInput(); }
};

TEST_F(FakeKeys, OnlyKeysThatAreDownHaveTheHighBit) {
    win32usertest::SetKeyDown('W', true);
    win32usertest::SetKeyDown(VK_LBUTTON, true);
    EXPECT_LT(GetKeyState('W'), 0);
    EXPECT_LT(GetKeyState(VK_LBUTTON), 0);
    EXPECT_EQ(GetKeyState('S'), 0);
    EXPECT_EQ(GetKeyState(VK_RBUTTON), 0);
    for (int outside : {-1, 256, 100000})
        EXPECT_EQ(GetKeyState(outside), 0) << outside;
    win32usertest::ReleaseAllKeys();
    EXPECT_EQ(GetKeyState('W'), 0);
}

TEST_F(FakeKeys, SideNeutralKeysFollowEitherSide) {
    struct Case {
        int side;
        int neutral;
    };
    for (Case c : {Case{VK_LSHIFT, VK_SHIFT}, Case{VK_RSHIFT, VK_SHIFT}, Case{VK_LCONTROL, VK_CONTROL},
                   Case{VK_RMENU, VK_MENU}}) {
        win32usertest::ReleaseAllKeys();
        EXPECT_EQ(GetKeyState(c.neutral), 0);
        win32usertest::SetKeyDown(c.side, true);
        EXPECT_LT(GetKeyState(c.neutral), 0) << c.side;
    }
    win32usertest::ReleaseAllKeys();
    win32usertest::SetKeyDown(VK_SHIFT, true);
    EXPECT_EQ(GetKeyState(VK_LSHIFT), 0);
}

TEST_F(FakeKeys, SetCursorPosMovesTheFakeCursorAndIsRecorded) {
    win32usertest::SetCursorScreenPos(-20, 30000);
    POINT point{};
    ASSERT_TRUE(GetCursorPos(&point));
    EXPECT_EQ(point.x, -20);
    EXPECT_EQ(point.y, 30000);
    EXPECT_TRUE(SetCursorPos(5, 6));
    ASSERT_TRUE(GetCursorPos(&point));
    EXPECT_EQ(point.x, 5);
    const auto moves = win32usertest::TakeCursorMoves();
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0].y, 6);
    EXPECT_FALSE(GetCursorPos(nullptr));
}

TEST(RealKeys, NothingIsDownWithoutAKeyboard) {
    win32usertest::UseRealInput();
    for (int vk :
         {int{'W'}, VK_ESCAPE, VK_RETURN, VK_SPACE, VK_F10, VK_LSHIFT, VK_LBUTTON, VK_RBUTTON, 0, 0xFF})
        EXPECT_EQ(GetKeyState(vk), 0) << vk;
}

class Windows : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
        window = SDL_CreateWindow("User Services", 100, 100, 640, 480, SDL_WINDOW_HIDDEN);
        ASSERT_NE(window, nullptr) << SDL_GetError();
    }
    void TearDown() override {
        if (window) SDL_DestroyWindow(window);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    SDL_Window* window = nullptr;
};

TEST_F(Windows, FindWindowMatchesTheTitleAndNoClass) {
    EXPECT_EQ(FindWindowA(nullptr, "User Services"), window);
    EXPECT_EQ(FindWindowA(nullptr, "Another"), nullptr);
    EXPECT_EQ(FindWindowA("SDL_app", "User Services"), nullptr);
    SDL_Window* second = SDL_CreateWindow("Second", 0, 0, 10, 10, SDL_WINDOW_HIDDEN);
    EXPECT_EQ(FindWindowA(nullptr, "Second"), second);
    EXPECT_EQ(FindWindowA(nullptr, "User Services"), window);
    SDL_DestroyWindow(second);
    EXPECT_EQ(FindWindowA(nullptr, "Second"), nullptr);
}

TEST_F(Windows, InstanceClientRectAndCoordinateConversions) {
    EXPECT_NE(GetWindowLongW(window, GWL_HINSTANCE), 0);
    EXPECT_EQ(GetWindowLongW(nullptr, GWL_HINSTANCE), 0);
    EXPECT_EQ(GetWindowLongW(window, -4), 0);

    RECT rect{1, 2, 3, 4};
    ASSERT_TRUE(GetClientRect(window, &rect));
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.right, 640);
    EXPECT_EQ(rect.bottom, 480);
    EXPECT_FALSE(GetClientRect(nullptr, &rect));

    POINT point{150, 90};
    ASSERT_TRUE(ScreenToClient(window, &point));
    EXPECT_EQ(point.x, 50);
    EXPECT_EQ(point.y, -10);
    ASSERT_TRUE(ClientToScreen(window, &point));
    EXPECT_EQ(point.x, 150);
    EXPECT_EQ(point.y, 90);
    EXPECT_FALSE(ScreenToClient(nullptr, &point));
}

TEST_F(Windows, WithoutAFocusedWindowTheForegroundIsTheNewestWindow) {
    EXPECT_EQ(GetForegroundWindow(), window);
}

// ---- SDL events as window messages ------------------------------------------------------------

SDL_Event Key(Uint32 type, SDL_Scancode code) {
    SDL_Event e{};
    e.type = type;
    e.key.keysym.scancode = code;
    return e;
}

TEST(WindowMessages, KeysBecomeVirtualKeyMessages) {
    struct Case {
        SDL_Scancode code;
        int vk;
    };
    const Case cases[] = {{SDL_SCANCODE_A, 'A'},
                          {SDL_SCANCODE_W, 'W'},
                          {SDL_SCANCODE_0, '0'},
                          {SDL_SCANCODE_9, '9'},
                          {SDL_SCANCODE_F10, VK_F10},
                          {SDL_SCANCODE_RETURN, VK_RETURN},
                          {SDL_SCANCODE_ESCAPE, VK_ESCAPE},
                          {SDL_SCANCODE_SPACE, VK_SPACE},
                          {SDL_SCANCODE_LSHIFT, VK_SHIFT},
                          {SDL_SCANCODE_RCTRL, VK_CONTROL},
                          {SDL_SCANCODE_LALT, VK_MENU},
                          {SDL_SCANCODE_UP, VK_UP},
                          {SDL_SCANCODE_BACKSPACE, VK_BACK}};
    for (const Case& c : cases) {
        MSG message{};
        ASSERT_TRUE(TranslateSDLEventToMessage(Key(SDL_KEYDOWN, c.code), &message)) << c.code;
        EXPECT_EQ(message.message, static_cast<UINT>(WM_KEYDOWN));
        EXPECT_EQ(message.wParam, static_cast<WPARAM>(c.vk)) << c.code;
        ASSERT_TRUE(TranslateSDLEventToMessage(Key(SDL_KEYUP, c.code), &message));
        EXPECT_EQ(message.message, static_cast<UINT>(WM_KEYUP));
    }
    MSG message{};
    EXPECT_FALSE(TranslateSDLEventToMessage(Key(SDL_KEYDOWN, SDL_SCANCODE_AUDIONEXT), &message));
    EXPECT_FALSE(TranslateSDLEventToMessage(Key(SDL_KEYDOWN, SDL_SCANCODE_A), nullptr));
}

// Without a keyboard device (the offscreen driver), events pushed into SDL's queue are the only
// input: once read, they must move the key state as a player's keys do.
TEST(WindowMessages, TheKeyStateFollowsTheKeyAndButtonEventsRead) {
    win32usertest::UseRealInput();
    MSG message{};
    ASSERT_TRUE(TranslateSDLEventToMessage(Key(SDL_KEYDOWN, SDL_SCANCODE_KP_ENTER), &message));
    EXPECT_LT(GetKeyState(VK_RETURN), 0) << "either Enter key";
    ASSERT_TRUE(TranslateSDLEventToMessage(Key(SDL_KEYDOWN, SDL_SCANCODE_LSHIFT), &message));
    EXPECT_LT(GetKeyState(VK_SHIFT), 0);
    EXPECT_LT(GetKeyState(VK_LSHIFT), 0);
    EXPECT_EQ(GetKeyState(VK_RSHIFT), 0);
    ASSERT_TRUE(TranslateSDLEventToMessage(Key(SDL_KEYUP, SDL_SCANCODE_KP_ENTER), &message));
    ASSERT_TRUE(TranslateSDLEventToMessage(Key(SDL_KEYUP, SDL_SCANCODE_LSHIFT), &message));
    EXPECT_EQ(GetKeyState(VK_RETURN), 0);
    EXPECT_EQ(GetKeyState(VK_SHIFT), 0);
    // An event nobody read (no message to read it into) leaves the state alone.
    EXPECT_FALSE(TranslateSDLEventToMessage(Key(SDL_KEYDOWN, SDL_SCANCODE_W), nullptr));
    EXPECT_EQ(GetKeyState('W'), 0);

    SDL_Event button{};
    button.type = SDL_MOUSEBUTTONDOWN;
    for (Uint8 b : {Uint8(SDL_BUTTON_LEFT), Uint8(SDL_BUTTON_MIDDLE)}) {
        button.button.button = b;
        TranslateSDLEventToMessage(button, &message);
    }
    EXPECT_LT(GetKeyState(VK_LBUTTON), 0);
    EXPECT_LT(GetKeyState(VK_MBUTTON), 0) << "a button without a message still counts";
    EXPECT_EQ(GetKeyState(VK_RBUTTON), 0);
    button.type = SDL_MOUSEBUTTONUP;
    for (Uint8 b : {Uint8(SDL_BUTTON_LEFT), Uint8(SDL_BUTTON_MIDDLE)}) {
        button.button.button = b;
        TranslateSDLEventToMessage(button, &message);
    }
    EXPECT_EQ(GetKeyState(VK_LBUTTON), 0);
    EXPECT_EQ(GetKeyState(VK_MBUTTON), 0);

    // Fake input hides the read state while it is on.
    ASSERT_TRUE(TranslateSDLEventToMessage(Key(SDL_KEYDOWN, SDL_SCANCODE_W), &message));
    win32usertest::UseFakeInput();
    EXPECT_EQ(GetKeyState('W'), 0);
    win32usertest::UseRealInput();
    EXPECT_LT(GetKeyState('W'), 0);
    ASSERT_TRUE(TranslateSDLEventToMessage(Key(SDL_KEYUP, SDL_SCANCODE_W), &message));
}

TEST(WindowMessages, MouseEventsCarrySignedClientCoordinatesAndWheelSteps) {
    SDL_Event motion{};
    motion.type = SDL_MOUSEMOTION;
    motion.motion.x = -5;
    motion.motion.y = -32768;
    MSG message{};
    ASSERT_TRUE(TranslateSDLEventToMessage(motion, &message));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_MOUSEMOVE));
    EXPECT_EQ(GET_X_LPARAM(message.lParam), -5);
    EXPECT_EQ(GET_Y_LPARAM(message.lParam), -32768);

    struct ButtonCase {
        Uint32 type;
        Uint8 button;
        UINT expected; // 0: no message
    };
    for (ButtonCase c : {ButtonCase{SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, WM_LBUTTONDOWN},
                         ButtonCase{SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, WM_LBUTTONUP},
                         ButtonCase{SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT, WM_RBUTTONDOWN},
                         ButtonCase{SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT, WM_RBUTTONUP},
                         ButtonCase{SDL_MOUSEBUTTONDOWN, SDL_BUTTON_MIDDLE, 0}}) {
        SDL_Event e{};
        e.type = c.type;
        e.button.button = c.button;
        e.button.x = 10;
        e.button.y = 20;
        MSG out{};
        EXPECT_EQ(TranslateSDLEventToMessage(e, &out), c.expected != 0);
        if (c.expected) {
            EXPECT_EQ(out.message, c.expected);
            EXPECT_EQ(GET_X_LPARAM(out.lParam), 10);
            EXPECT_EQ(GET_Y_LPARAM(out.lParam), 20);
        }
    }

    struct WheelCase {
        Sint32 y;
        Uint32 direction;
        int delta; // 0: no message
    };
    for (WheelCase c : {WheelCase{1, SDL_MOUSEWHEEL_NORMAL, 120}, WheelCase{-2, SDL_MOUSEWHEEL_NORMAL, -240},
                        WheelCase{1, SDL_MOUSEWHEEL_FLIPPED, -120}, WheelCase{0, SDL_MOUSEWHEEL_NORMAL, 0},
                        WheelCase{1000, SDL_MOUSEWHEEL_NORMAL, 32767}}) {
        SDL_Event e{};
        e.type = SDL_MOUSEWHEEL;
        e.wheel.y = c.y;
        e.wheel.direction = c.direction;
        MSG out{};
        EXPECT_EQ(TranslateSDLEventToMessage(e, &out), c.delta != 0) << c.y;
        if (c.delta) {
            EXPECT_EQ(out.message, static_cast<UINT>(WM_MOUSEWHEEL));
            EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(out.wParam), c.delta);
        }
    }
}

TEST(WindowMessages, FocusChangesBecomeActivateMessages) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    MSG out{};
    ASSERT_TRUE(TranslateSDLEventToMessage(e, &out));
    EXPECT_EQ(out.message, static_cast<UINT>(WM_ACTIVATE));
    EXPECT_EQ(LOWORD(out.wParam), WA_INACTIVE);
    EXPECT_EQ(out.lParam, 0);
    e.window.event = SDL_WINDOWEVENT_FOCUS_GAINED;
    ASSERT_TRUE(TranslateSDLEventToMessage(e, &out));
    EXPECT_EQ(LOWORD(out.wParam), WA_ACTIVE);
    e.window.event = SDL_WINDOWEVENT_RESIZED;
    EXPECT_FALSE(TranslateSDLEventToMessage(e, &out));
}

} // namespace

namespace {

// Window procedures are kept per window; a device arrival passes through the current one.
struct ProcedureLog {
    static inline std::vector<std::pair<UINT, GUID>> arrivals;
    static inline WNDPROC previous = nullptr;
};

LRESULT SubclassProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE && wParam == DBT_DEVICEARRIVAL) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        EXPECT_EQ(header->dbch_devicetype, DBT_DEVTYP_DEVICEINTERFACE);
        ProcedureLog::arrivals.emplace_back(
            message, reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam)->dbcc_classguid);
    }
    return CallWindowProcW(ProcedureLog::previous, window, message, wParam, lParam);
}

TEST(WindowProcedures, SubclassingKeepsThePreviousProcedureAndArrivalsPassThroughIt) {
    int fakeWindow;
    HWND window = &fakeWindow;
    const GUID audio = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    const GUID other = {9, 9, 9, {9, 9, 9, 9, 9, 9, 9, 9}};
    LONG_PTR original = GetWindowLongPtrW(window, GWLP_WNDPROC);
    ASSERT_NE(original, 0);

    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HDEVNOTIFY all = RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_ALL_INTERFACE_CLASSES);
    ASSERT_NE(all, nullptr);
    ProcedureLog::previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubclassProcedure)));
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(ProcedureLog::previous), original);
    EXPECT_EQ(GetWindowLongPtrW(window, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(SubclassProcedure));

    win32usertest::ArriveDeviceInterface(audio, L"\\\\?\\speakers");
    ASSERT_EQ(ProcedureLog::arrivals.size(), 1u);
    EXPECT_TRUE(ProcedureLog::arrivals[0].second == audio);

    // A filter for one class hears only that class.
    ASSERT_TRUE(UnregisterDeviceNotification(all));
    EXPECT_FALSE(UnregisterDeviceNotification(all));
    filter.dbcc_classguid = other;
    HDEVNOTIFY one = RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    ASSERT_NE(one, nullptr);
    win32usertest::ArriveDeviceInterface(audio, nullptr);
    win32usertest::ArriveDeviceInterface(other, nullptr);
    ASSERT_EQ(ProcedureLog::arrivals.size(), 2u);
    EXPECT_TRUE(ProcedureLog::arrivals[1].second == other);
    ASSERT_TRUE(UnregisterDeviceNotification(one));
    EXPECT_EQ(win32usertest::DeviceNotificationCount(), 0u);

    SetWindowLongPtrW(window, GWLP_WNDPROC, original);
    win32usertest::ArriveDeviceInterface(other, nullptr);
    EXPECT_EQ(ProcedureLog::arrivals.size(), 2u);
}

TEST(WindowProcedures, BadRegistrationsAreRefused) {
    int fakeWindow;
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = 2; // a volume, not a device interface
    EXPECT_EQ(RegisterDeviceNotificationW(&fakeWindow, &filter, DEVICE_NOTIFY_ALL_INTERFACE_CLASSES),
              nullptr);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    EXPECT_EQ(RegisterDeviceNotificationW(nullptr, &filter, DEVICE_NOTIFY_ALL_INTERFACE_CLASSES), nullptr);
    EXPECT_EQ(RegisterDeviceNotificationW(&fakeWindow, nullptr, DEVICE_NOTIFY_ALL_INTERFACE_CLASSES),
              nullptr);
    EXPECT_EQ(SetWindowLongPtrW(nullptr, GWLP_WNDPROC, 1), 0);
    EXPECT_EQ(SetWindowLongPtrW(&fakeWindow, GWLP_WNDPROC, 0), 0);
    EXPECT_EQ(win32usertest::DeviceNotificationCount(), 0u);
}

} // namespace
