// The 3D geometry the positioning shares with the game-object registry: listener rows, position
// arrays and the emitter-listener pairs computed from them (CAuSpeakerPan::ComputeScaledDistance).
#pragma once

#include <AU/AuChannelConfig.h>
#include <AU/AuPositionTypes.h>

#include "voices/AuSpeakerPan.h"

constexpr u32 AU_NUM_LISTENERS = 8;

// One of the engine's eight listener rows (the listeners keep them, the voices read them).
struct AuListenerData {
    AuListenerPosition position;
    f32 fScalingFactor;
    bool bSpatialized;
    // One block from the lower-engine pool: the dB half, then the linear half (null when none).
    void* pSpeakerVolumeBlock;
    f32* pVolumesDb;
    f32* pVolumesLinear;
    AuChannelConfig volumeConfig;
    // Rows side = top x front, top, front.
    AuVector matrix[3];
    u32 outputType;
    u32 outputDeviceId;
    bool bChanged;

    // Frees the speaker-volume block and forgets the volumes.
    void FreeVolumeBuffer();
};

// Where one game object is heard by one listener: the scaled distance and three angles in radians.
struct AuEmitterListenerPair {
    f32 fDistance;
    f32 fAngles[3];
    u8 listenerBit; // 1 << listener index
};

// A game object's own positions, in the default pool.
struct AuPositionArray {
    AuSoundPosition* pPositions = nullptr;
    u16 uCount = 0;

    // Takes a copy; a new block only when the count changes. 1, or 52 without memory (then empty).
    AURESULT Copy(const AuSoundPosition* positions, u16 count);
    void Term();
};
