// What the sound engine tells the game: the callback types a post asks for and their information
// blocks, and the per-bus volume and metering callbacks.
#pragma once

#include <AU/AuChannelConfig.h>
#include <AU/AuTypes.h>

enum AuCallbackType : u32 {
    AU_EndOfEvent = 0x1,
    AU_EndOfDynamicSequenceItem = 0x2,
    AU_Marker = 0x4,
    AU_Duration = 0x8,
    AU_SpeakerVolumeMatrix = 0x10,
    AU_Starvation = 0x20,
    AU_MusicPlaylistSelect = 0x40,
    AU_MusicPlayStarted = 0x80,
    AU_MusicSyncBeat = 0x100,
    AU_MusicSyncBar = 0x200,
    AU_MusicSyncEntry = 0x400,
    AU_MusicSyncExit = 0x800,
    AU_MusicSyncGrid = 0x1000,
    AU_MusicSyncUserCue = 0x2000,
    AU_MIDIEvent = 0x10000,
    // Options of a post rather than callbacks.
    AU_EnableGetSourcePlayPosition = 0x100000,
    AU_EnableGetSourceStreamBuffering = 0x400000,
};

// The low twenty bits are callback types; without a callback only these of them are kept.
constexpr u32 AU_CALLBACK_TYPE_BITS = 0xFFFFF;
constexpr u32 AU_CALLBACK_BITS_WITHOUT_CALLBACK = 0xFDFFB;

struct AuCallbackInfo {
    void* pCookie;
    u32 gameObjID;
};

struct AuEventCallbackInfo : AuCallbackInfo {
    AuPlayingID playingID;
    AuUniqueID eventID;
};

struct AuDurationCallbackInfo : AuEventCallbackInfo {
    f32 fDuration;
    f32 fEstimatedDuration; // corrected by the pitch
    u32 audioNodeID;
    u32 mediaID;
};

// A cue point of a media reached by one of the event's voices.
struct AuMarkerCallbackInfo : AuEventCallbackInfo {
    u32 uIdentifier;
    u32 uPosition;        // samples
    const char* strLabel; // null without a label; valid during the call only
};

// The playing segment's rhythm, in seconds of the music as it plays (its speed included).
struct AuMusicSyncCallbackInfo : AuEventCallbackInfo {
    f32 fBeatDuration;
    f32 fBarDuration;
    f32 fGridDuration;
    f32 fGridOffset;
    const char* pszUserCueName; // the cue's marker name for AU_MusicSyncUserCue, else null
};

// Called on the audio thread, never under an engine lock other than g_csMain.
using AuCallbackFunc = void (*)(AuCallbackType type, AuCallbackInfo* info);

enum AuMeteringFlags : u32 {
    AU_NoMetering = 0,
    AU_EnableBusMeter_Peak = 1,
    AU_EnableBusMeter_TruePeak = 2,
    AU_EnableBusMeter_RMS = 4,
    AU_EnableBusMeter_KPower = 16,
};

namespace AU {
class IAuMetering;
class IAuMixerPluginContext;
} // namespace AU

// A mixing matrix the game may change in place before it is used: one row per input channel, each
// row padded to a multiple of four floats. A bus's callback gets no event: the first four fields
// are 0 and the volume is the bus's gain for its next frame.
struct AuSpeakerVolumeMatrixCallbackInfo : AuEventCallbackInfo {
    f32* pVolumes;
    AuChannelConfig inputConfig;
    AuChannelConfig outputConfig;
    f32* pfBaseVolume;
    // The engine's panning and mixing routines for the matrix's output.
    AU::IAuMixerPluginContext* pMixerContext;
};

// Both run on the audio thread under the bus-callback lock.
using AuBusCallbackFunc = void (*)(AuSpeakerVolumeMatrixCallbackInfo* info);
using AuBusMeteringCallbackFunc = void (*)(AU::IAuMetering* metering, AuChannelConfig channelConfig,
                                           AuMeteringFlags flags);

// Once per audio frame on the audio thread with false; with true at the engine's Term.
using AuGlobalCallbackFunc = void (*)(bool lastCall);
