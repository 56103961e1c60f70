// The pitch node's arithmetic: media at its own rate into float buffers at the output rate, with
// the voice's pitch in cents, by linear interpolation on a 16.16 fixed-point position. A table of
// kernels chosen by step state, sample type and channel count does the work.
#pragma once

#include "voices/AuPipelineBuffer.h"

// 1.0 in 16.16.
constexpr u32 AU_RESAMPLER_UNITY = 0x10000;
// A pitch change ramps over this many output frames at 48 kHz.
constexpr u32 AU_RESAMPLER_RAMP = 1024;
// The step never falls to 0 (the kernels divide by it) nor rises above 63 input frames per output
// frame, which keeps the position of a 1024-frame buffer inside 32 bits.
constexpr u32 AU_RESAMPLER_MIN_STEP = 1;
constexpr u32 AU_RESAMPLER_MAX_STEP = 0x3F0000;
static_assert(u64{AU_RESAMPLER_MAX_STEP} * 1024 + AU_RESAMPLER_UNITY < (u64{1} << 32));
// Channels whose previous frame fits inside the resampler; more take a block of the lower-engine pool.
constexpr u32 AU_RESAMPLER_INLINE_CHANNELS = 8;

enum AuResamplerState : u8 {
    AuResamplerState_Copy = 0,  // step exactly 1.0 on a whole position
    AuResamplerState_Fixed = 1, // any other steady step
    AuResamplerState_Ramp = 2,  // the step moves towards its target
};

// The media format a source reports: 16-bit interleaved or 32-bit float planar samples.
struct AuResamplerFormat {
    u32 uSampleRate = 0;
    AuChannelConfig config;
    u32 uBitsPerSample = 16;
};

class CAuResampler;
struct AuResamplerKernels;
// [audio thread] Converts from `in` (its frames past the resampler's input offset) into `out`
// (after the frames already produced); 45 when `out` is full, else 43.
using AuResampleKernel = AURESULT (*)(CAuResampler&, AuPipelineBuffer& in, AuPipelineBuffer& out) noexcept;

// Row = step state, column = sample type (0-3 16-bit, 4-7 float) and channels (1, 2, 3-4, 5+).
extern AuResampleKernel g_pfResamplers[24];

class CAuResampler {
public:
    CAuResampler() = default;
    ~CAuResampler() { Term(); }
    CAuResampler(const CAuResampler&) = delete;
    CAuResampler& operator=(const CAuResampler&) = delete;

    // Fills the step-1.0 16-bit entries with the vector copies when the processor has SSE2, else
    // the plain ones. Once at lower-engine start, before any voice.
    static void InitKernels();

    // 2 for a sample size other than 16 or 32 bits, no channels, an output rate of 0, or a
    // previous-frame store the pool cannot give; else 1.
    AURESULT Init(const AuResamplerFormat& format, u32 outputRate);
    void Term();

    // [audio thread] The pitch of this buffer; with `interpolate` a change ramps over 1024 frames.
    void SetPitch(f32 cents, bool interpolate) noexcept;
    // [audio thread] As a first call: no ramp, the step of `cents` at once.
    void SetPitchAtOnce(f32 cents) noexcept {
        m_bFirstPitch = 1;
        SetPitch(cents, false);
    }
    f32 Pitch() const { return m_fPitch; }
    // [audio thread] Drops up to `frames` input frames without audio, keeping the last as the
    // previous frame; returns the frames dropped.
    u32 SkipInput(AuPipelineBuffer& in, u32 frames) noexcept;
    // [audio thread] Frames of the output already filled by the caller (silence before a late start).
    void SetOutputFrames(u32 frames) noexcept { m_uOutputFrames = frames; }
    // [audio thread] Converts until `out` is full (45) or `in` is used up (43); 17 at once for an
    // input without frames. `in` loses the frames consumed.
    AURESULT Execute(AuPipelineBuffer& in, AuPipelineBuffer& out) noexcept;

    // The previous-frame store as floats, one per channel (a voice moving between chains).
    void GetLastFrame(f32* frame) const noexcept;
    void SetLastFrame(const f32* frame) noexcept;
    // Input frames per output frame, less the media's own rate ratio.
    f32 GetSpeed() const noexcept;
    void ResetOffsets() noexcept { m_uInputOffset = m_uOutputFrames = 0; }
    // [audio thread] After a seek: the previous frame belongs to the old position, so the next
    // output starts on the first input frame.
    void Restart() noexcept {
        ResetOffsets();
        m_uPosition = AU_RESAMPLER_UNITY;
        UpdateState();
    }
    // A next source of another format: the column follows it, and a changed rate ratio makes the
    // next SetPitch a first one. 2 when the new previous-frame store cannot be had.
    AURESULT ChangeFormat(const AuResamplerFormat& format, f32 cents, u32 outputRate) noexcept;

    u32 Step() const { return m_uCurrentStep; }
    u32 TargetStep() const { return m_uTargetStep; }
    u32 Position() const { return m_uPosition; }
    u32 RampCounter() const { return m_uRampCounter; }
    AuResamplerState State() const { return m_eState; }
    u8 Column() const { return m_uColumn; }
    u32 InputOffset() const { return m_uInputOffset; }
    u32 OutputFrames() const { return m_uOutputFrames; }
    // The step a pitch asks for at this rate ratio, clamped to the kernels' range.
    u32 ComputeStep(f32 cents) const noexcept;

private:
    friend struct AuResamplerKernels;

    AURESULT SetFormat(const AuResamplerFormat& format, u32 outputRate) noexcept;
    void UpdateState() noexcept;
    void FreeStore() noexcept;

    alignas(16) u8 m_inlineStore[AU_RESAMPLER_INLINE_CHANNELS * sizeof(f32)] = {};
    void* m_pStore = m_inlineStore;
    u32 m_uInputOffset = 0;
    u32 m_uOutputFrames = 0;
    u32 m_uPosition = AU_RESAMPLER_UNITY;
    u32 m_uCurrentStep = 0;
    u32 m_uTargetStep = 0;
    u32 m_uRampCounter = AU_RESAMPLER_RAMP;
    u32 m_uRampIncrement = 1;
    AuResamplerState m_eState = AuResamplerState_Copy;
    f32 m_fBaseRatio = 1.0f;
    f32 m_fPitch = 0.0f;
    u8 m_uColumn = 0;
    u8 m_uChannels = 0;
    u16 m_uBlockAlign = 0;
    u8 m_bFirstPitch = 1;
    u8 m_bOwnsStore = 0;
    bool m_bFloat = false;
    AuChannelConfig m_config;
};

// The step-1.0 16-bit copies, plain and vector, so that tests and benchmarks can hold one against
// the other.
namespace AuResampleCopies {
AURESULT Copy16(CAuResampler& r, AuPipelineBuffer& in, AuPipelineBuffer& out) noexcept;
AURESULT Copy16Simd(CAuResampler& r, AuPipelineBuffer& in, AuPipelineBuffer& out) noexcept;
AURESULT Copy16Stereo(CAuResampler& r, AuPipelineBuffer& in, AuPipelineBuffer& out) noexcept;
AURESULT Copy16StereoSimd(CAuResampler& r, AuPipelineBuffer& in, AuPipelineBuffer& out) noexcept;
} // namespace AuResampleCopies

// Where interleaved channel i of a configuration lands in planar order: the LFE (after the front
// channels of mask 0x7) goes last and the channels behind it move down by one.
u32 AuPlanarChannel(AuChannelConfig config, u32 interleaved);
