// The exported sound-engine interface.
#pragma once

#include <AU/AuTypes.h>

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

} // namespace AU::SoundEngine

struct IXAudio2;
struct IDirectSound8;

namespace AU {

// The platform objects of the main output's sink, for a game that reaches the output itself;
// null when the main sink is of another kind or there is none.
IDirectSound8* GetDirectSoundInstance();
IXAudio2* GetEngineXAudio2Interface();

} // namespace AU
