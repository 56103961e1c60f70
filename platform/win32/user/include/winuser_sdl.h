// Where the platform delivers window messages, SDL delivers its own events: this turns an SDL event
// into the window message the platform would have sent for it.
#pragma once

#include <winuser.h>

#include <SDL_events.h>

// Keys, mouse motion (client coordinates), left and right buttons, the wheel and focus changes.
// Returns false for an event that has no such message (the middle button, unknown keys, ...).
// Translating is reading the event: GetKeyState then answers from the key and button events read
// so far, as the platform's thread key state follows the messages the thread reads.
bool TranslateSDLEventToMessage(const SDL_Event& event, MSG* message);

// The virtual key of an SDL scancode as WM_KEYDOWN carries it (the shift, control and alt keys give
// the side-neutral key); 0 when there is none.
int VirtualKeyFromScancode(SDL_Scancode scancode);
