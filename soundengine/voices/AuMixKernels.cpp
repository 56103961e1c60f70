#include "voices/AuMixKernels.h"

#include <emmintrin.h>
#include <xmmintrin.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr u32 kMaxOrderChannels = 32;

// The four-lane gains of frames k .. k+3 and their advance per group of four.
struct GainVector {
    __m128 gains;
    __m128 advance;

    GainVector(f32 start, f32 step)
        : gains(
              _mm_add_ps(_mm_set1_ps(start), _mm_mul_ps(_mm_set1_ps(step), _mm_setr_ps(0.f, 1.f, 2.f, 3.f)))),
          advance(_mm_set1_ps(4.0f * step)) {}
    __m128 Next() {
        const __m128 current = gains;
        gains = _mm_add_ps(gains, advance);
        return current;
    }
};

inline void AddTo(f32* out, __m128 value) {
    _mm_store_ps(out, _mm_add_ps(_mm_load_ps(out), value));
}

// Four planar channels read four frames at a time: transposed, each row is one frame's four samples.
struct ChannelQuad {
    const f32* channels[4];

    ChannelQuad(const AuPipelineBuffer& planar, u32 c0, u32 c1, u32 c2, u32 c3)
        : channels{planar.GetChannel(c0), planar.GetChannel(c1), planar.GetChannel(c2),
                   planar.GetChannel(c3)} {}
    void Frames(u32 k, __m128 g, __m128& r0, __m128& r1, __m128& r2, __m128& r3) const {
        r0 = _mm_mul_ps(_mm_load_ps(channels[0] + k), g);
        r1 = _mm_mul_ps(_mm_load_ps(channels[1] + k), g);
        r2 = _mm_mul_ps(_mm_load_ps(channels[2] + k), g);
        r3 = _mm_mul_ps(_mm_load_ps(channels[3] + k), g);
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
    }
};

inline i16 Saturate16(i32 value) {
    return static_cast<i16>(std::clamp(value, -32768, 32767));
}

inline i32 ToPcm16(f32 sample, f32 gain) {
    const f32 scaled = std::clamp(sample * gain * 32767.0f, -32768.0f, 32767.0f);
    return static_cast<i32>(std::lrintf(scaled));
}

// Any layout by the channel order map: g ramps per frame in double precision.
void InterleaveGeneric(const AuPipelineBuffer& src, u32 frames, f32* out, f32 start, f32 end) {
    u32 offsets[kMaxOrderChannels];
    const u32 channels = AuBuildChannelOrder(src.channelConfig, src.uMaxFrames, offsets);
    const f64 step = frames ? (static_cast<f64>(end) - start) / frames : 0.0;
    f64 gain = start;
    for (u32 frame = 0; frame < frames; ++frame) {
        const f32 g = static_cast<f32>(gain);
        f32* outFrame = out + static_cast<size_t>(frame) * channels;
        for (u32 c = 0; c < channels; ++c)
            outFrame[c] += src.pData[offsets[c] + frame] * g;
        gain += step;
    }
}

} // namespace

u32 AuBuildChannelOrder(AuChannelConfig config, u32 stride, u32* offsets) {
    const u32 channels = std::min(config.NumChannels(), kMaxOrderChannels);
    if (!config.HasLFE()) {
        for (u32 c = 0; c < channels; ++c)
            offsets[c] = c * stride;
        return channels;
    }
    const u32 fronts = std::min(config.HasCenter() ? 3u : 2u, channels - 1);
    u32 out = 0;
    for (u32 c = 0; c < fronts; ++c)
        offsets[out++] = c * stride;
    offsets[out++] = (channels - 1) * stride;
    for (u32 c = fronts; c + 1 < channels; ++c)
        offsets[out++] = c * stride;
    return channels;
}

f32* MixChannelRamp(const f32* src, f32* dst, f32 start, f32 step, u32 frames) noexcept {
    if (step == 0.0f) {
        if (start == 0.0f) return dst;
        const __m128 gain = _mm_set1_ps(start);
        for (u32 i = 0; i < frames; i += 8) {
            AddTo(dst + i, _mm_mul_ps(_mm_load_ps(src + i), gain));
            AddTo(dst + i + 4, _mm_mul_ps(_mm_load_ps(src + i + 4), gain));
        }
        return dst;
    }
    __m128 low =
        _mm_add_ps(_mm_set1_ps(start), _mm_mul_ps(_mm_set1_ps(step), _mm_setr_ps(0.f, 1.f, 2.f, 3.f)));
    __m128 high = _mm_add_ps(low, _mm_set1_ps(4.0f * step));
    const __m128 advance = _mm_set1_ps(8.0f * step);
    for (u32 i = 0; i < frames; i += 8) {
        AddTo(dst + i, _mm_mul_ps(_mm_load_ps(src + i), low));
        AddTo(dst + i + 4, _mm_mul_ps(_mm_load_ps(src + i + 4), high));
        low = _mm_add_ps(low, advance);
        high = _mm_add_ps(high, advance);
    }
    return dst;
}

void InterleaveStereoRamp(const AuRamp& ramp, const AuPipelineBuffer& planar, f32* out, f32 start,
                          f32 step) noexcept {
    const f32* left = planar.GetChannel(0);
    const f32* right = planar.GetChannel(1);
    GainVector gain(start, step);
    for (u32 k = 0; k < ramp.uFrames; k += 4, out += 8) {
        const __m128 g = gain.Next();
        const __m128 l = _mm_mul_ps(_mm_load_ps(left + k), g);
        const __m128 r = _mm_mul_ps(_mm_load_ps(right + k), g);
        AddTo(out, _mm_unpacklo_ps(l, r));
        AddTo(out + 4, _mm_unpackhi_ps(l, r));
    }
}

void Interleave51Ramp(const AuRamp& ramp, const AuPipelineBuffer& planar, f32* out, f32 start,
                      f32 step) noexcept {
    const ChannelQuad fronts(planar, 0, 1, 2, 5);
    const f32* sl = planar.GetChannel(3);
    const f32* sr = planar.GetChannel(4);
    GainVector gain(start, step);
    // Four frames are 24 floats: rows FL FR FC LFE transposed give each frame's first four, the
    // side pairs fill the gaps between them.
    for (u32 k = 0; k < ramp.uFrames; k += 4, out += 24) {
        const __m128 g = gain.Next();
        __m128 t0, t1, t2, t3;
        fronts.Frames(k, g, t0, t1, t2, t3);
        const __m128 l = _mm_mul_ps(_mm_load_ps(sl + k), g);
        const __m128 r = _mm_mul_ps(_mm_load_ps(sr + k), g);
        const __m128 sides01 = _mm_unpacklo_ps(l, r);
        const __m128 sides23 = _mm_unpackhi_ps(l, r);
        AddTo(out, t0);
        AddTo(out + 4, _mm_movelh_ps(sides01, t1));
        AddTo(out + 8, _mm_movehl_ps(sides01, t1));
        AddTo(out + 12, t2);
        AddTo(out + 16, _mm_movelh_ps(sides23, t3));
        AddTo(out + 20, _mm_movehl_ps(sides23, t3));
    }
}

void Interleave71Ramp(const AuRamp& ramp, const AuPipelineBuffer& planar, f32* out, f32 start,
                      f32 step) noexcept {
    const ChannelQuad fronts(planar, 0, 1, 2, 7);
    const ChannelQuad backs(planar, 3, 4, 5, 6);
    GainVector gain(start, step);
    for (u32 k = 0; k < ramp.uFrames; k += 4, out += 32) {
        const __m128 g = gain.Next();
        __m128 a0, a1, a2, a3, b0, b1, b2, b3;
        fronts.Frames(k, g, a0, a1, a2, a3);
        backs.Frames(k, g, b0, b1, b2, b3);
        AddTo(out, a0);
        AddTo(out + 4, b0);
        AddTo(out + 8, a1);
        AddTo(out + 12, b1);
        AddTo(out + 16, a2);
        AddTo(out + 20, b2);
        AddTo(out + 24, a3);
        AddTo(out + 28, b3);
    }
}

void MixChannelsByMask(const AuRamp& ramp, const AuPipelineBuffer& src, AuPipelineBuffer& dst, f32 start,
                       f32 end) noexcept {
    const f32 step = (end - start) * ramp.fInvFrames;
    switch (src.channelConfig.ChannelMask()) {
    case AU_SPEAKER_SETUP_STEREO:
        InterleaveStereoRamp(ramp, src, dst.pData, start, step);
        break;
    case AU_SPEAKER_SETUP_5POINT1:
        Interleave51Ramp(ramp, src, dst.pData, start, step);
        break;
    case AU_SPEAKER_SETUP_7POINT1:
        Interleave71Ramp(ramp, src, dst.pData, start, step);
        break;
    case AU_SPEAKER_SETUP_MONO:
        // One channel: planar and interleaved are the same layout.
        for (u32 c = 0; c < src.NumChannels(); ++c)
            MixChannelRamp(src.GetChannel(c), dst.pData + static_cast<size_t>(c) * ramp.uFrames, start, step,
                           ramp.uFrames);
        break;
    default:
        InterleaveGeneric(src, ramp.uFrames, dst.pData, start, end);
        break;
    }
}

void ConvertTo16Bit(const f32* src, u32 stride, i16* dst, u32 frames, AuChannelConfig config, f32 start,
                    f32 end) noexcept {
    const f64 step = frames ? (static_cast<f64>(end) - start) / frames : 0.0;
    if (config.ChannelMask() == AU_SPEAKER_SETUP_STEREO && config.NumChannels() == 2 && frames % 4 == 0 &&
        reinterpret_cast<uintptr_t>(dst) % 16 == 0) {
        // Four frames per step: scale, limit, round and pack both channels, then add with saturation.
        const f32* left = src;
        const f32* right = src + stride;
        const __m128 scale = _mm_set1_ps(32767.0f);
        const __m128 low = _mm_set1_ps(-32768.0f);
        const __m128 high = _mm_set1_ps(32767.0f);
        f64 gain = start;
        for (u32 k = 0; k < frames; k += 4) {
            const __m128 g = _mm_mul_ps(
                scale, _mm_setr_ps(static_cast<f32>(gain), static_cast<f32>(gain + step),
                                   static_cast<f32>(gain + 2 * step), static_cast<f32>(gain + 3 * step)));
            gain += 4 * step;
            const __m128 l = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_loadu_ps(left + k), g), low), high);
            const __m128 r = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_loadu_ps(right + k), g), low), high);
            const __m128i li = _mm_cvtps_epi32(l);
            const __m128i ri = _mm_cvtps_epi32(r);
            const __m128i interleaved =
                _mm_packs_epi32(_mm_unpacklo_epi32(li, ri), _mm_unpackhi_epi32(li, ri));
            __m128i* out = reinterpret_cast<__m128i*>(dst + 2 * k);
            _mm_store_si128(out, _mm_adds_epi16(_mm_load_si128(out), interleaved));
        }
        return;
    }
    AuMixReference::ConvertTo16Bit(src, stride, dst, frames, config, start, end);
}

void MixOneChannel(const f32* src, AuPipelineBuffer& dst, u32 dstChannels, const f32* previousRow,
                   const f32* currentRow, AuGainPair gains, f32 rampStep, u32 frames) noexcept {
    for (u32 o = 0; o < dstChannels; ++o) {
        const f32 start = previousRow[o] * gains.fPrevious;
        const f32 end = currentRow[o] * gains.fCurrent;
        MixChannelRamp(src, dst.GetChannel(o), start, (end - start) * rampStep, frames);
    }
}

void MixNChannels(const AuPipelineBuffer& src, AuPipelineBuffer& dst, AuGainPair gains,
                  const f32* previousMatrix, const f32* currentMatrix, f32 rampStep, u32 frames) noexcept {
    const u32 srcChannels = src.channelConfig.WithoutLFE().NumChannels();
    const u32 dstChannels = dst.channelConfig.WithoutLFE().NumChannels();
    const u32 rowStride = AuMatrixRowStride(dst.NumChannels());
    for (u32 i = 0; i < srcChannels; ++i)
        MixOneChannel(src.GetChannel(i), dst, dstChannels, previousMatrix + i * rowStride,
                      currentMatrix + i * rowStride, gains, rampStep, frames);
    if (src.channelConfig.HasLFE() && dst.channelConfig.HasLFE()) {
        const u32 entry = (src.NumChannels() - 1) * rowStride + dst.NumChannels() - 1;
        const f32 start = previousMatrix[entry] * gains.fPrevious;
        const f32 end = currentMatrix[entry] * gains.fCurrent;
        MixChannelRamp(src.GetLFE(), dst.GetLFE(), start, (end - start) * rampStep, frames);
    }
    dst.uValidFrames = static_cast<u16>(frames);
}

namespace AuMixReference {

void MixChannelRamp(const f32* src, f32* dst, f32 start, f32 step, u32 frames) {
    for (u32 i = 0; i < frames; ++i)
        dst[i] += src[i] * (start + static_cast<f32>(i) * step);
}

void InterleaveRamp(const AuPipelineBuffer& planar, u32 frames, f32* out, f32 start, f32 step) {
    u32 offsets[kMaxOrderChannels];
    const u32 channels = AuBuildChannelOrder(planar.channelConfig, planar.uMaxFrames, offsets);
    for (u32 frame = 0; frame < frames; ++frame) {
        const f32 gain = start + static_cast<f32>(frame) * step;
        for (u32 c = 0; c < channels; ++c)
            out[frame * channels + c] += planar.pData[offsets[c] + frame] * gain;
    }
}

void ConvertTo16Bit(const f32* src, u32 stride, i16* dst, u32 frames, AuChannelConfig config, f32 start,
                    f32 end) {
    u32 offsets[kMaxOrderChannels];
    const u32 channels = AuBuildChannelOrder(config, stride, offsets);
    const f64 step = frames ? (static_cast<f64>(end) - start) / frames : 0.0;
    f64 gain = start;
    for (u32 frame = 0; frame < frames; ++frame) {
        const f32 g = static_cast<f32>(gain);
        for (u32 c = 0; c < channels; ++c) {
            i16& out = dst[frame * channels + c];
            out = Saturate16(out + ToPcm16(src[offsets[c] + frame], g));
        }
        gain += step;
    }
}

} // namespace AuMixReference
