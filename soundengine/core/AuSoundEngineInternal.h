// What the engine's start keeps for its audio thread and frame.
#pragma once

#include <AU/AuCallback.h>
#include <AU/AuInitSettings.h>

// Performance-counter counts per millisecond, taken once at start-up.
extern f32 g_fPerfCountsPerMs;
extern AuAssertHook g_pAssertHook;

namespace AuSoundEngineInternal {

const AuInitSettings& InitSettings();
// True when the start's CoInitializeEx (multithreaded) succeeded on the game's thread.
bool ComInitializedByEngine();
// [audio thread] Every registered global callback, from the last registered to the first.
void CallGlobalCallbacks(bool lastCall) noexcept;

} // namespace AuSoundEngineInternal
