// The exported sound-engine interface.
#pragma once

#include <AU/AuCallback.h>
#include <AU/AuInitSettings.h>
#include <AU/AuTypes.h>
#include <AU/SoundEngineBanks.h>

// One external source posted with an event: the sound whose source carries the cookie plays the
// first usable of file name, memory or file ID.
struct AuExternalSourceInfo {
    u32 iExternalSrcCookie;
    u32 idCodec;
    const wchar_t* szFile;
    const void* pInMemory;
    u32 uiMemorySize;
    u32 idFile;
};

namespace AU::SoundEngine {

// The ID of a name: at most 259 bytes, A-Z lower-cased, 32-bit FNV-1. Null gives 0, "" the basis.
u32 GetIDFromString(const char* name);
// Converts through the ANSI code page first, then hashes as the 8-bit form.
u32 GetIDFromString(const wchar_t* name);

// Ends the frame of calls made so far and wakes the audio thread to run them. Call it once per
// game frame. 1, or 2 while the engine is not initialised.
AURESULT RenderAudio();

void GetDefaultInitSettings(AuInitSettings& settings);
// Clears the record, then writes the defaults (the window is the foreground window).
void GetDefaultPlatformInitSettings(AuPlatformInitSettings& settings);

// Needs the memory manager (else 74) and the stream manager (else 75), and SSE (else 76). Null
// records take the defaults; given ones get the effective settings back. 2 when already running
// (the running engine is left as it is), 31 for a samples-per-frame other than 256, 512, 1024
// or 2048, 52 without memory; a failed start leaves nothing behind.
AURESULT Init(AuInitSettings* settings, AuPlatformInitSettings* platformSettings);
bool IsInitialized();
// Stops the threads and destroys every manager and the default pool.
void Term();

// Silent outputs until WakeupFromSuspend; with rendering, frames go on at the output's pace.
AURESULT Suspend(bool renderWhileSuspended = false);
AURESULT WakeupFromSuspend();

// Once per audio frame; 1, 2 before Init, 52 without memory.
AURESULT RegisterGlobalCallback(AuGlobalCallbackFunc callback);

// No callback for this playing ID (or any of this cookie's) starts after these return; off the
// audio thread they also wait for one that is running.
void CancelEventCallback(AuPlayingID playingID);
void CancelEventCallbackCookie(void* cookie);

// A null callback removes the bus's. 1, 2 before Init, 52 without memory.
AURESULT RegisterBusVolumeCallback(AuUniqueID busID, AuBusCallbackFunc callback);
AURESULT RegisterBusMeteringCallback(AuUniqueID busID, AuBusMeteringCallbackFunc callback,
                                     AuMeteringFlags flags);

} // namespace AU::SoundEngine
