// Test controls of the Windows user services. Only tests include this header.
#pragma once

#include <unknwn.h>
#include <winuser.h>

#include <cstddef>

#include <vector>

namespace win32usertest {

// Fake input: GetKeyState reads the keys set below instead of SDL's keyboard and mouse, and the
// cursor is a virtual point that SetCursorPos moves (every move is recorded).
void UseFakeInput();
void UseRealInput();
void SetKeyDown(int virtualKey, bool down);
void ReleaseAllKeys();
void SetCursorScreenPos(int x, int y);
std::vector<POINT> TakeCursorMoves();

// The cursor display counter, and the number of ShowCursor calls since the last reset.
int CursorDisplayCount();
int ShowCursorCalls();
void ResetCursor();

// A device interface of the given class arrives: every window registered for it (or for all
// classes) gets WM_DEVICECHANGE with DBT_DEVICEARRIVAL through its current procedure, on the
// calling thread, as the platform delivers it on the window's thread.
void ArriveDeviceInterface(const GUID& interfaceClass, const wchar_t* name);

// Registrations that are still open.
size_t DeviceNotificationCount();

} // namespace win32usertest
