// The speaker panner: mixing matrices between channel configurations (fixed down-mix tables, the
// 2D pan law, the LFE rule) and the angular panner over an output device's speaker angles and pan
// tables. Matrices are row-major, one row per input channel, each row padded to a multiple of four
// floats (AuMatrixRowStride of the output's channel count); channels are the non-LFE speakers in
// mask-bit order, then the LFE.
#pragma once

#include <AU/AuChannelConfig.h>

class CAuOutputDevice;

// Per side, one angle per speaker pair ([0] front, [1] side, [2] back), in units of 1/512 turn.
constexpr u32 AU_NUM_SPEAKER_ANGLES = 3;
constexpr u32 AU_PAN_TABLE_ENTRIES = 257;
constexpr u32 AU_SINE_SQUARED_ENTRIES = 129;
// The speakers the pan tables and down-mix tables know (no LFE, no front pair of centre).
constexpr u32 AU_SPEAKER_MASK_TABLES = 0x737;
constexpr u32 AU_SPEAKER_MASK_PANNED = 0x637;
constexpr u32 AU_SPEAKER_MASK_PANNED_NO_CENTER = 0x633;
constexpr u32 AU_SPEAKER_MASK_2D = 0x63F;
// 1/sqrt(2) as a float.
constexpr f32 AU_MINUS_3DB = 0.70710678f;

// For each folded direction 0..256, the power of the first and the second speaker of its region.
struct AuPanTable {
    f32 fGains[AU_PAN_TABLE_ENTRIES][2];
};

struct AuListenerData;
struct AuSoundPosition;
struct AuEmitterListenerPair;

class CAuSpeakerPan {
public:
    // The pair of one emitter position as heard by the listener (voices/AuPositioning.h); returns
    // the scaled distance. [audio thread]
    static f32 ComputeScaledDistance(const AuListenerData& listener, const AuSoundPosition& emitter,
                                     f32 attenuationScaling, AuEmitterListenerPair& pair) noexcept;

    // ---- Mixing matrices ----

    // Zeroes the matrix, then: standard to standard by ComputeStandardMatrix, anonymous to
    // anonymous by ComputeIdentityMatrix; mixed types stay silent. x: 0 left .. 1 right,
    // y: 0 rear .. 1 front, c: centre fraction.
    static void ComputeMixingMatrix(f32 x, f32 y, f32 c, bool pan, AuChannelConfig input,
                                    AuChannelConfig output, f32* matrix);
    // The same dispatch without a pan position: standard layouts by ComputeDirectMatrix.
    static void ComputeMatrixNoPan(AuChannelConfig input, AuChannelConfig output, f32* matrix);
    // Channel i to channel i for i below the smaller count.
    static void ComputeIdentityMatrix(AuChannelConfig input, AuChannelConfig output, f32* matrix);
    static void ComputeDirectMatrix(AuChannelConfig input, AuChannelConfig inputNoLFE, AuChannelConfig output,
                                    AuChannelConfig outputNoLFE, f32 c, f32* matrix);
    // One row per input speaker among AU_SPEAKER_MASK_TABLES, then one per height speaker.
    static void ComputeDownmixMatrix(u32 inputMask, u32 outputMask, u32 outputChannels, f32* matrix);
    // Folds the columns of the virtual layout onto the output through the down-mix tables.
    static void ApplyDownmixTables(AuChannelConfig input, AuChannelConfig virtualLayout,
                                   AuChannelConfig output, u32 outputChannels, const f32* virtualMatrix,
                                   f32* matrix);
    // The LFE row is cleared, and gets 1.0 in the output's LFE column when the output has one.
    static void RouteLFE(AuChannelConfig input, AuChannelConfig output, f32* matrix);
    static void ComputeStandardMatrix(f32 x, f32 y, f32 c, bool pan, AuChannelConfig input,
                                      AuChannelConfig output, f32* matrix);

    // Per-speaker amplitude gains of a position. The four- and six-speaker laws take the layout's
    // mask and leave a zero slot for its front centre; the others write five or seven slots.
    static void PanFourChannels(f32 x, f32 y, u32 mask, f32* gains);
    static void PanFiveChannels(f32 x, f32 y, f32* gains);
    static void PanSixChannels(f32 x, f32 y, u32 mask, f32* gains);
    static void PanSevenChannels(f32 x, f32 y, f32* gains);
    static void PanSevenChannelsMono(f32 x, f32 y, f32 c, f32* gains);

    // ---- Speaker angles and angular panning ----

    // The sine-squared table of the headphone law; once, when the lower engine starts.
    static void Init();
    // Front 30, side 110 (100 with backs and sides), back 142.5 degrees, height 45; a layout with
    // nothing beyond the fronts and the centre has its front pair at 45 degrees.
    static void GetDefaultSpeakerAngles(AuChannelConfig config, f32* degrees, f32& height);
    // Degrees to units, validated: every angle below 256, the first below 128, each next one
    // larger and less than 256 units away. 1 with the smallest gap (first angle, neighbours'
    // differences, twice the room behind the last), else 2.
    static AURESULT SetSpeakerAngles(const f32* degrees, u32 count, u32* units, f32& minimumGap);
    static void ConvertSpeakerAngles(const u32* units, u32 count, f32* degrees);
    // The sine law between neighbouring speakers of the mask, the rear mirroring the front when
    // the rearmost pair stands ahead of the sides.
    static void CreatePanTable(u32 speakerMask, const u32* angles, u32 count, AuPanTable& table);
    // The device's tables for the layout's mask without LFE and, with a centre, without it too;
    // 2 when one cannot be made.
    static AURESULT PreparePanTables(CAuOutputDevice& device, AuChannelConfig layout);
    // The table of a mask that PreparePanTables made.
    static const AuPanTable* GetPanTable(CAuOutputDevice& device, u32 speakerMask);
    // [audio thread] Adds the power gains of one direction (units, any integer) into the row.
    static void AddSpeakerVolumesPower(i32 direction, f32 c, AuChannelConfig layout, const AuPanTable& table,
                                       CAuOutputDevice& device, f32* row) noexcept;
    // [audio thread] One direction (radians, positive to the right) as amplitude gains over the
    // layout's channels without LFE.
    static AURESULT GetSpeakerVolumes2DPan(CAuOutputDevice& device, f32 azimuth, AuChannelConfig layout,
                                           f32 c, f32* row) noexcept;
    // [audio thread] One row per input channel (LFE excluded), spread over an arc of
    // spread x 2.56 units and drawn together by focus (both percentages).
    static AURESULT GetSpeakerVolumes3D(f32 azimuth, f32 c, f32 spread, f32 focus, f32* matrix,
                                        u32 inputChannels, AuChannelConfig output,
                                        CAuOutputDevice& device) noexcept;
    // An azimuth in radians as a direction in units (0..511); a non-finite azimuth is ahead.
    static u32 AzimuthToDirection(f32 azimuth) noexcept;
    static f32 SineSquared(u32 index) { return s_sineSquared[index]; }

private:
    static f32 s_sineSquared[AU_SINE_SQUARED_ENTRIES];
};
