// Windows user services: cursor, keyboard state, window lookups and the window messages the game
// reads. Windows are SDL windows: an HWND is the SDL_Window pointer.
#pragma once

#include <windows.h>

// ---- virtual keys ----------------------------------------------------------------------
#define VK_LBUTTON 0x01
#define VK_RBUTTON 0x02
#define VK_MBUTTON 0x04
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_PAUSE 0x13
#define VK_CAPITAL 0x14
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_INSERT 0x2D
#define VK_DELETE 0x2E
#define VK_F1 0x70
#define VK_F10 0x79
#define VK_F12 0x7B
#define VK_LSHIFT 0xA0
#define VK_RSHIFT 0xA1
#define VK_LCONTROL 0xA2
#define VK_RCONTROL 0xA3
#define VK_LMENU 0xA4
#define VK_RMENU 0xA5

// ---- window messages -------------------------------------------------------------------
#define WM_ACTIVATE 0x0006
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_MOUSEWHEEL 0x020A
#define WM_DEVICECHANGE 0x0219
#define WA_INACTIVE 0
#define WA_ACTIVE 1
#define WHEEL_DELTA 120

#define GWL_HINSTANCE (-6)
#define GWLP_WNDPROC (-4)
#define GWLP_HINSTANCE (-6)

using WNDPROC = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
using HDEVNOTIFY = void*;

#define DEVICE_NOTIFY_WINDOW_HANDLE 0x00000000u
#define DEVICE_NOTIFY_ALL_INTERFACE_CLASSES 0x00000004u

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

// Changes the display counter by one and returns it; the cursor shows while it is 0 or more.
int ShowCursor(BOOL show);
// High bit set while the key (or mouse button) is down.
SHORT GetKeyState(int virtualKey);

HWND GetForegroundWindow();
HWND FindWindowA(LPCSTR className, LPCSTR windowName);
LONG GetWindowLongW(HWND window, int index);
// Every window starts with a default procedure that answers 0; subclassing replaces it. The 32-bit
// forms cannot hold a procedure on a 64-bit platform, so the procedure is reached through the
// pointer-sized forms only.
LONG_PTR GetWindowLongPtrW(HWND window, int index);
LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value);
LRESULT CallWindowProcW(WNDPROC procedure, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Device-interface notifications (a DEV_BROADCAST_DEVICEINTERFACE_W filter, see dbt.h) reach the
// window's procedure as WM_DEVICECHANGE.
HDEVNOTIFY RegisterDeviceNotificationW(HANDLE recipient, LPVOID filter, DWORD flags);
BOOL UnregisterDeviceNotification(HDEVNOTIFY notification);
BOOL GetClientRect(HWND window, RECT* rect);

BOOL GetCursorPos(POINT* point);
BOOL SetCursorPos(int x, int y);
BOOL ScreenToClient(HWND window, POINT* point);
BOOL ClientToScreen(HWND window, POINT* point);
