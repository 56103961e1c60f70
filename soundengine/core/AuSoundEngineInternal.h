// What the engine's start keeps for its audio thread and frame.
#pragma once

#include <AU/AuCallback.h>
#include <AU/AuInitSettings.h>
#include <AU/SoundEngine.h>

#include <atomic>

// Performance-counter counts per millisecond, taken once at start-up.
extern f32 g_fPerfCountsPerMs;
extern AuAssertHook g_pAssertHook;

// Written by the music engine's Init on the game's thread; read by the state manager (audio
// thread) and the bank loader (bank thread). Release and acquire: a reader that sees the pointer
// sees the function's engine made before it was stored.
extern std::atomic<AuStateChangeHandlerFunc> g_pfnStateChangeHandler;
extern std::atomic<AuBankExtensionReaderFunc> g_pfnBankExtensionReader;

namespace AuSoundEngineInternal {

const AuInitSettings& InitSettings();
// True when the start's CoInitializeEx (multithreaded) succeeded on the game's thread.
bool ComInitializedByEngine();
// [audio thread] Every registered global callback, from the last registered to the first.
void CallGlobalCallbacks(bool lastCall) noexcept;

} // namespace AuSoundEngineInternal
