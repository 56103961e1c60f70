// The device mixing kernels: planar float buffers into the interleaved forms an output needs, and
// N x M channel mixing, each with a linear gain ramp over one buffer. The vector kernels have a
// plain reference beside them (namespace AuMixReference) that tests and benchmarks compare with.
//
// Every kernel adds into its destination: a device hears the sum of its top busses, so its sink
// buffer is cleared once per frame and each bus is added in.
#pragma once

#include "voices/AuPipelineBuffer.h"

struct AuRamp {
    u32 uFrames = 0;
    f32 fInvFrames = 0.0f;

    void Set(u32 frames) {
        uFrames = frames;
        fInvFrames = frames ? 1.0f / static_cast<f32>(frames) : 0.0f;
    }
};

// Where each interleaved output channel reads in a planar buffer of stride `stride`: the fronts
// (FL, FR and the centre when present), then the LFE (the last planar channel), then the rest in
// planar order. Returns the channel count.
u32 AuBuildChannelOrder(AuChannelConfig config, u32 stride, u32* offsets);

// [audio thread] dst[i] += src[i] x (start + i x step); frames a multiple of 8, pointers 16-byte
// aligned. Start 0 with step 0 leaves dst untouched.
f32* MixChannelRamp(const f32* src, f32* dst, f32 start, f32 step, u32 frames) noexcept;

// [audio thread] Planar stereo, 5.1 (FL FR FC SL SR LFE) and 7.1 (FL FR FC BL BR SL SR LFE) into
// interleaved FL FR [FC LFE ...] with the gain of frame k = start + k x step; frames (the ramp's)
// a multiple of 4, the output 16-byte aligned.
void InterleaveStereoRamp(const AuRamp& ramp, const AuPipelineBuffer& planar, f32* out, f32 start,
                          f32 step) noexcept;
void Interleave51Ramp(const AuRamp& ramp, const AuPipelineBuffer& planar, f32* out, f32 start,
                      f32 step) noexcept;
void Interleave71Ramp(const AuRamp& ramp, const AuPipelineBuffer& planar, f32* out, f32 start,
                      f32 step) noexcept;

// [audio thread] The device-to-sink conversion: chooses the kernel by the source's mask (stereo,
// 5.1, 7.1, centre only, any other) and adds src into dst's interleaved storage over the ramp's
// frames, from the start to the end gain.
void MixChannelsByMask(const AuRamp& ramp, const AuPipelineBuffer& src, AuPipelineBuffer& dst, f32 start,
                       f32 end) noexcept;

// [audio thread] The capture conversion: planar floats of stride `stride` into interleaved 16-bit,
// value = src x g x 32767 limited to the 16-bit range and rounded to nearest, added into dst with
// saturation; g ramps from start to end over `frames`.
void ConvertTo16Bit(const f32* src, u32 stride, i16* dst, u32 frames, AuChannelConfig config, f32 start,
                    f32 end) noexcept;

struct AuGainPair {
    f32 fPrevious;
    f32 fCurrent;
};

// Rows per source channel, each padded to a multiple of four floats.
constexpr u32 AuMatrixRowStride(u32 outputChannels) {
    return (outputChannels + 3) & ~3u;
}

// [audio thread] Adds one source channel into every non-LFE channel o of dst, ramping from
// previousRow[o] x gains.fPrevious to currentRow[o] x gains.fCurrent.
void MixOneChannel(const f32* src, AuPipelineBuffer& dst, u32 dstChannels, const f32* previousRow,
                   const f32* currentRow, AuGainPair gains, f32 rampStep, u32 frames) noexcept;
// [audio thread] Adds src into dst through the matrices, the LFEs set apart (LFE to LFE only, with
// the entry of the LFE row and the last column); dst's valid frames become `frames`.
void MixNChannels(const AuPipelineBuffer& src, AuPipelineBuffer& dst, AuGainPair gains,
                  const f32* previousMatrix, const f32* currentMatrix, f32 rampStep, u32 frames) noexcept;

// Plain loops with the kernels' arithmetic, for tests and benchmarks.
namespace AuMixReference {
void MixChannelRamp(const f32* src, f32* dst, f32 start, f32 step, u32 frames);
// Any channel layout, by the channel order map; gain of frame k = start + k x step.
void InterleaveRamp(const AuPipelineBuffer& planar, u32 frames, f32* out, f32 start, f32 step);
void ConvertTo16Bit(const f32* src, u32 stride, i16* dst, u32 frames, AuChannelConfig config, f32 start,
                    f32 end);
} // namespace AuMixReference
