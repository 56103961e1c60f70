// The output side: COM for the thread, the output event that wakes the audio thread, the lower
// engine with its hardware sinks, and the watch on audio-device changes. Set up from the instance
// manager's Init and torn down from its Term, on the game's thread.
#pragma once

#include <AU/AuInitSettings.h>

#include <windows.h>

// The sample rate (platform settings), the frame constants, COM, the output event (handed to the
// audio manager as its wake event when one exists), the lower engine and the change watch. 2 when
// the event cannot be made, else the lower engine's result.
AURESULT InitOutputSide(const AuInitSettings& settings);
void TermOutputSide();

// Whether InitOutputSide initialised COM on its thread (the audio thread initialises it for
// itself otherwise).
bool AuOutputSideInitialisedCom();
// The output event; null outside InitOutputSide..TermOutputSide.
HANDLE AuOutputEvent();
// Any thread: wakes the audio thread through the output event, when it exists.
void AuSignalOutputEvent() noexcept;
// Any thread: an audio device changed. The lower engine takes the silent sinks at the audio
// thread's next pass; the thread is woken when the engine runs.
void AuRaiseDeviceChangeNotice() noexcept;

// How the change watch was set up: through the device enumerator (the usual way), through the
// window's device notices when the enumerator is missing, or not at all.
enum class AuDeviceWatch { None, Enumerator, Window };
AuDeviceWatch AuCurrentDeviceWatch();
// The default render device's identifier as the watch last heard it; null without one.
const wchar_t* AuDefaultDeviceId();
