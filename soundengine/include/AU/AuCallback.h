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

// Called on the audio thread, never under an engine lock other than g_csMain.
using AuCallbackFunc = void (*)(AuCallbackType type, AuCallbackInfo* info);

enum AuMeteringFlags : u32 {
    AU_NoMetering = 0,
    AU_EnableBusMeter_Peak = 1,
    AU_EnableBusMeter_TruePeak = 2,
    AU_EnableBusMeter_RMS = 4,
    AU_EnableBusMeter_KPower = 16,
};

struct AuSpeakerVolumeMatrixCallbackInfo;
namespace AU {
class IAuMetering;
}

// Both run on the audio thread under the bus-callback lock.
using AuBusCallbackFunc = void (*)(AuSpeakerVolumeMatrixCallbackInfo* info);
using AuBusMeteringCallbackFunc = void (*)(AU::IAuMetering* metering, AuChannelConfig channelConfig,
                                           AuMeteringFlags flags);

// Once per audio frame on the audio thread with false; with true at the engine's Term.
using AuGlobalCallbackFunc = void (*)(bool lastCall);
