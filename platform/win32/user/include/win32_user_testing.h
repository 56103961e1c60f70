// Test controls of the Windows user services. Only tests include this header.
#pragma once

#include <winuser.h>

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

} // namespace win32usertest
