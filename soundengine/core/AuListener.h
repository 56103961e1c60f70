// The engine's eight listeners and the small 3D helpers the positioning shares. The rows are
// changed by queued messages and read by the registry and the voices, all on the audio thread
// under g_csMain (or at Init and Term, when no audio thread runs).
#pragma once

#include "voices/AuLowerEngineSeams.h"
#include "voices/AuPositioning.h"

namespace AuMath {
AuVector CrossProduct(const AuVector& a, const AuVector& b);
f32 Distance(const AuVector& a, const AuVector& b);
f32 DotProduct(const AuVector& a, const AuVector& b);
f32 Magnitude(const AuVector& a);
// Leaves a vector of length 0 (or NaN) unchanged.
void Normalize(AuVector& a);
f32 InterpolateClamped(f32 x0, f32 y0, f32 x1, f32 y1, f32 x);
} // namespace AuMath

// Whole turns are dropped first, keeping the sign.
f32 AuRadiansToDegrees(f32 radians);
f32 AuDegreesToRadians(f32 degrees);

class CAuListener final : public IAuListeners {
public:
    // The one instance, which the engine installs into the lower engine before its start.
    static CAuListener& Instance();

    // IAuListeners: rows back to their defaults (audio mask all ones, motion mask 0); Term frees
    // the speaker-volume blocks.
    void Init() override;
    void Term() override;
    void SetOutputDevice(u32 listenerMask, u32 deviceType, u32 deviceId) override;
    void RecomputeMatrices() override;

    // [audio thread] 31 for an index of 8 or more.
    static AURESULT SetPosition(u32 index, const AuListenerPosition& position) noexcept;
    // [audio thread] 31 for an index of 8 or more, or volumes with no channel; 2 when the block
    // cannot be allocated. The dB volumes are copied.
    static AURESULT SetSpatialization(u32 index, bool spatialized, AuChannelConfig config,
                                      const f32* volumesDb) noexcept;
    // [audio thread] An index of 8 or more is ignored.
    static void SetScalingFactor(u32 index, f32 factor) noexcept;
    static void SetPipeline(u32 index, bool audio, bool motion) noexcept;
    // [audio thread] Once per pass: the objects hearing a changed listener get their positions
    // marked changed.
    static void UpdateChanged() noexcept;

    static const AuListenerData& Data(u32 index) { return s_rows[index]; }
    static u32 AudioMask() { return s_uAudioMask; }
    static u32 MotionMask() { return s_uMotionMask; }

private:
    static void ComputeMatrix(AuListenerData& row) noexcept;

    static AuListenerData s_rows[AU_NUM_LISTENERS];
    static u32 s_uAudioMask;
    static u32 s_uMotionMask;
};
