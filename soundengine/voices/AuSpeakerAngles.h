// Speaker angles of an output device: per side, one angle per speaker pair ([0] front, [1] side,
// [2] back), ascending, in units of 1/512 of a turn.
#pragma once

#include <AU/AuChannelConfig.h>

constexpr u32 AU_NUM_SPEAKER_ANGLES = 3;

struct AuListenerData;
struct AuSoundPosition;
struct AuEmitterListenerPair;

class CAuSpeakerPan {
public:
    // Front 30, side 110 (100 with backs and sides), back 142.5 degrees, height 45; a layout with
    // nothing beyond the fronts and the centre has its front pair at 45 degrees.
    static void GetDefaultSpeakerAngles(AuChannelConfig config, f32* degrees, f32& height);
    // Degrees to units, validated: every angle below 256, the first below 128, each next one
    // larger and less than 256 units away. 1 with the smallest gap (first angle, neighbours'
    // differences, twice the room behind the last), else 2.
    static AURESULT SetSpeakerAngles(const f32* degrees, u32 count, u32* units, f32& minimumGap);
    static void ConvertSpeakerAngles(const u32* units, u32 count, f32* degrees);
    // The pair of one emitter position as heard by the listener (voices/AuPositioning.h); returns
    // the scaled distance. [audio thread]
    static f32 ComputeScaledDistance(const AuListenerData& listener, const AuSoundPosition& emitter,
                                     f32 attenuationScaling, AuEmitterListenerPair& pair) noexcept;
};
