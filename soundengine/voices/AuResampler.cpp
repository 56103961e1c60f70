#include "voices/AuResampler.h"

#include "core/AuCpuInfo.h"

#include <AU/MemoryMgr.h>

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr f32 kInv32768 = 3.0517578e-5f;
constexpr f32 kInv2Pow31 = 4.656613e-10f;
constexpr f32 kInv65536 = 1.5258789e-5f;
constexpr f32 kCentsToOctaves = 0.00083333335f;
constexpr u32 kMaxChannels = 255;
// The ramp lasts 1024 frames at this rate; lower rates step the counter faster.
constexpr u32 kRampRate = 48000;
// One call takes at most this many input frames, so that the position (below frames x 1.0 plus one
// step) stays inside 32 bits; the rest waits for the next call.
constexpr u32 kMaxInputFrames = (0xFFFFFFFFu - AU_RESAMPLER_MAX_STEP) / AU_RESAMPLER_UNITY;
// The copies convert this many samples at a time through the stack before reordering them.
constexpr u32 kCopyScratch = 1024;

// 16-bit samples, interleaved; the output of a*(1-f) + b*f in 16.16 is at most 2^31 in magnitude
// for any samples and fraction, so it never leaves 32 bits.
struct Pcm16 {
    using Sample = i16;
    const i16* pSrc;
    u32 uChannels;
    Pcm16(const AuPipelineBuffer& in, u32 offset, u32 channels)
        : pSrc(reinterpret_cast<const i16*>(in.pData) + static_cast<size_t>(offset) * channels),
          uChannels(channels) {}
    i16 At(u32 channel, u32 frame) const { return pSrc[static_cast<size_t>(frame) * uChannels + channel]; }
    static f32 Lerp(i16 a, i16 b, u32 fraction) {
        return static_cast<f32>(i32{a} * static_cast<i32>(AU_RESAMPLER_UNITY - fraction) +
                                i32{b} * static_cast<i32>(fraction)) *
               kInv2Pow31;
    }
};

// 32-bit floats, planar with the buffer's stride.
struct Float32 {
    using Sample = f32;
    const f32* pSrc;
    u32 uStride;
    Float32(const AuPipelineBuffer& in, u32 offset, u32) : pSrc(in.pData + offset), uStride(in.uMaxFrames) {}
    f32 At(u32 channel, u32 frame) const { return pSrc[static_cast<size_t>(channel) * uStride + frame]; }
    static f32 Lerp(f32 a, f32 b, u32 fraction) {
        return a + (b - a) * (static_cast<f32>(fraction) * kInv65536);
    }
};

inline i16 ToPcm16(f32 value) {
    return static_cast<i16>(std::clamp(value * 32767.0f, -32768.0f, 32767.0f));
}

inline void ConvertScalar(const i16* src, f32* dst, u32 count) {
    for (u32 i = 0; i < count; ++i)
        dst[i] = static_cast<f32>(src[i]) * kInv32768;
}

// Eight samples per step: two four-lane conversions of one 128-bit load.
inline void ConvertSimd(const i16* src, f32* dst, u32 count) {
    const __m128 scale = _mm_set1_ps(kInv32768);
    u32 i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i pcm = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i low = _mm_srai_epi32(_mm_unpacklo_epi16(pcm, pcm), 16);
        const __m128i high = _mm_srai_epi32(_mm_unpackhi_epi16(pcm, pcm), 16);
        _mm_storeu_ps(dst + i, _mm_mul_ps(_mm_cvtepi32_ps(low), scale));
        _mm_storeu_ps(dst + i + 4, _mm_mul_ps(_mm_cvtepi32_ps(high), scale));
    }
    ConvertScalar(src + i, dst + i, count - i);
}

} // namespace

u32 AuPlanarChannel(AuChannelConfig config, u32 interleaved) {
    if (!config.HasLFE()) return interleaved;
    const u32 lfe = static_cast<u32>(__builtin_popcount(config.ChannelMask() & 0x7));
    if (interleaved < lfe) return interleaved;
    if (interleaved == lfe) return config.NumChannels() - 1;
    return interleaved - 1;
}

struct AuResamplerKernels {
    // One call's view of the input and the output: the input frames after the consumed ones, the
    // last frame of the previous buffer and the output channels after the frames already produced
    // (16-bit channels reordered). kChannels 0 takes the resampler's count.
    template <class Src, u32 kChannels> struct Pass {
        const u32 channels;
        const Src src;
        const typename Src::Sample* const prev;
        const u32 wanted;
        const u32 frames;
        f32* dst[kMaxChannels];

        Pass(const CAuResampler& r, const AuPipelineBuffer& in, const AuPipelineBuffer& out)
            : channels(kChannels ? kChannels : r.m_uChannels), src(in, r.m_uInputOffset, channels),
              prev(static_cast<const typename Src::Sample*>(r.m_pStore)),
              wanted(out.uMaxFrames - std::min<u32>(r.m_uOutputFrames, out.uMaxFrames)),
              frames(std::min<u32>(in.uValidFrames, kMaxInputFrames)) {
            for (u32 c = 0; c < Channels(); ++c) {
                const u32 planar = r.m_bFloat ? c : AuPlanarChannel(r.m_config, c);
                dst[c] = out.pData + static_cast<size_t>(planar) * out.uMaxFrames + r.m_uOutputFrames;
            }
        }
        u32 Channels() const { return kChannels ? kChannels : channels; }

        // Output frame k at a position between the previous buffer's last frame and this one's first.
        void FromPrevious(u32 k, u32 position) {
            const u32 fraction = position & 0xFFFF;
            for (u32 c = 0; c < Channels(); ++c)
                dst[c][k] = Src::Lerp(prev[c], src.At(c, 0), fraction);
        }
        // Output frame k at a position between two frames of this buffer.
        void FromInput(u32 k, u32 position) {
            const u32 i = (position >> 16) - 1;
            const u32 fraction = position & 0xFFFF;
            for (u32 c = 0; c < Channels(); ++c)
                dst[c][k] = Src::Lerp(src.At(c, i), src.At(c, i + 1), fraction);
        }

        // Keeps the last consumed frame, takes the consumed frames off the input and says whether
        // the output is full.
        AURESULT Finish(CAuResampler& r, AuPipelineBuffer& in, AuPipelineBuffer& out, u32 position,
                        u32 produced) const {
            const u32 consumed = std::min(position >> 16, frames);
            if (consumed) {
                auto* last = static_cast<typename Src::Sample*>(r.m_pStore);
                for (u32 c = 0; c < Channels(); ++c)
                    last[c] = src.At(c, consumed - 1);
                position -= consumed << 16;
                in.uValidFrames = static_cast<u16>(in.uValidFrames - consumed);
                r.m_uInputOffset = in.uValidFrames ? r.m_uInputOffset + consumed : 0;
            }
            r.m_uPosition = position;
            const u32 total = r.m_uOutputFrames + produced;
            out.uValidFrames = static_cast<u16>(total);
            if (total >= out.uMaxFrames) {
                r.m_uOutputFrames = 0;
                return AuResultDataReady;
            }
            r.m_uOutputFrames = total;
            return AuResultDataNeeded;
        }
    };

    template <class Src, u32 kChannels>
    static AURESULT Fixed(CAuResampler& r, AuPipelineBuffer& in, AuPipelineBuffer& out) noexcept {
        Pass<Src, kChannels> pass(r, in, out);
        const u32 wanted = pass.wanted;
        const u32 step = r.m_uCurrentStep;
        u32 position = r.m_uPosition;

        u32 a = 0;
        if (position < AU_RESAMPLER_UNITY)
            a = std::min(wanted, (AU_RESAMPLER_UNITY - position + step - 1) / step);
        for (u32 k = 0; k < a; ++k, position += step)
            pass.FromPrevious(k, position);
        const u64 end = u64{pass.frames} << 16;
        u32 b = 0;
        if (position < end)
            b = static_cast<u32>(std::min<u64>(wanted - a, (end - position - 1 + step) / step));
        for (u32 k = a; k < a + b; ++k, position += step)
            pass.FromInput(k, position);
        return pass.Finish(r, in, out, position, a + b);
    }

    // As Fixed, with the step moving from current to target by a running sum over the ramp.
    template <class Src, u32 kChannels>
    static AURESULT Ramp(CAuResampler& r, AuPipelineBuffer& in, AuPipelineBuffer& out) noexcept {
        Pass<Src, kChannels> pass(r, in, out);
        const u32 increment = r.m_uRampIncrement;
        u32 counter = std::min(r.m_uRampCounter, AU_RESAMPLER_RAMP);
        // Rounded up, so that an increment that does not divide the ramp still ends it.
        const u32 limit = std::min(pass.wanted, (AU_RESAMPLER_RAMP - counter + increment - 1) / increment);
        const i64 delta = i64{r.m_uTargetStep} - i64{r.m_uCurrentStep};
        i64 sum = i64{r.m_uCurrentStep} * AU_RESAMPLER_RAMP + delta * counter;
        u32 position = r.m_uPosition;
        u32 k = 0;
        auto advance = [&] {
            counter += increment;
            sum += delta * increment;
            position += static_cast<u32>(sum >> 10);
        };
        for (; k < limit && position < AU_RESAMPLER_UNITY; ++k, advance())
            pass.FromPrevious(k, position);
        const u64 end = u64{pass.frames} << 16;
        for (; k < limit && position < end; ++k, advance())
            pass.FromInput(k, position);
        r.m_uRampCounter = counter;
        return pass.Finish(r, in, out, position, k);
    }

    // Step 1.0 on a whole position: frame i of the input is output frame i. The previous frame is
    // due first when the position stands on it.
    template <class Src, class Copy>
    static AURESULT CopyFrames(CAuResampler& r, AuPipelineBuffer& in, AuPipelineBuffer& out,
                               Copy copy) noexcept {
        Pass<Src, 0> pass(r, in, out);
        const u32 wanted = pass.wanted;
        const u32 frames = pass.frames;
        u32 position = r.m_uPosition;
        u32 k = 0;
        if (position < AU_RESAMPLER_UNITY && wanted) {
            for (u32 c = 0; c < pass.channels; ++c)
                pass.dst[c][0] = Src::Lerp(pass.prev[c], pass.prev[c], 0);
            position += AU_RESAMPLER_UNITY;
            k = 1;
        }
        const u32 first = (position >> 16) - 1;
        const u32 n = first < frames ? std::min(wanted - k, frames - first) : 0;
        if (n) copy(pass.src, first, n, pass.dst, k);
        position += n << 16;
        return pass.Finish(r, in, out, position, k + n);
    }

    template <bool kSimd>
    static AURESULT Copy16(CAuResampler& r, AuPipelineBuffer& in, AuPipelineBuffer& out) noexcept {
        return CopyFrames<Pcm16>(r, in, out, [](const Pcm16& src, u32 first, u32 n, f32** dst, u32 at) {
            const u32 channels = src.uChannels;
            const i16* from = src.pSrc + static_cast<size_t>(first) * channels;
            if (channels == 1) {
                kSimd ? ConvertSimd(from, dst[0] + at, n) : ConvertScalar(from, dst[0] + at, n);
                return;
            }
            // Interleaved floats first, then each channel to its planar place (the LFE last).
            f32 scratch[kCopyScratch];
            const u32 chunk = std::max<u32>(kCopyScratch / channels, 1);
            for (u32 done = 0; done < n;) {
                const u32 count = std::min(chunk, n - done);
                const i16* run = from + static_cast<size_t>(done) * channels;
                kSimd ? ConvertSimd(run, scratch, count * channels)
                      : ConvertScalar(run, scratch, count * channels);
                for (u32 c = 0; c < channels; ++c) {
                    f32* to = dst[c] + at + done;
                    for (u32 i = 0; i < count; ++i)
                        to[i] = scratch[i * channels + c];
                }
                done += count;
            }
        });
    }

    template <bool kSimd>
    static AURESULT Copy16Stereo(CAuResampler& r, AuPipelineBuffer& in, AuPipelineBuffer& out) noexcept {
        return CopyFrames<Pcm16>(r, in, out, [](const Pcm16& src, u32 first, u32 n, f32** dst, u32 at) {
            const i16* from = src.pSrc + static_cast<size_t>(first) * 2;
            f32* left = dst[0] + at;
            f32* right = dst[1] + at;
            u32 i = 0;
            if (kSimd) {
                const __m128 scale = _mm_set1_ps(kInv32768);
                for (; i + 4 <= n; i += 4) {
                    const __m128i pcm = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 2 * i));
                    const __m128 lo = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(pcm, pcm), 16));
                    const __m128 hi = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(pcm, pcm), 16));
                    _mm_storeu_ps(left + i,
                                  _mm_mul_ps(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)), scale));
                    _mm_storeu_ps(right + i,
                                  _mm_mul_ps(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1)), scale));
                }
            }
            for (; i < n; ++i) {
                left[i] = static_cast<f32>(from[2 * i]) * kInv32768;
                right[i] = static_cast<f32>(from[2 * i + 1]) * kInv32768;
            }
        });
    }

    static AURESULT CopyFloat(CAuResampler& r, AuPipelineBuffer& in, AuPipelineBuffer& out) noexcept {
        return CopyFrames<Float32>(r, in, out, [&r](const Float32& src, u32 first, u32 n, f32** dst, u32 at) {
            for (u32 c = 0; c < r.m_uChannels; ++c)
                memcpy(dst[c] + at, src.pSrc + static_cast<size_t>(c) * src.uStride + first, n * sizeof(f32));
        });
    }
};

namespace AuResampleCopies {
AURESULT Copy16(CAuResampler& r, AuPipelineBuffer& in, AuPipelineBuffer& out) noexcept {
    return AuResamplerKernels::Copy16<false>(r, in, out);
}
AURESULT Copy16Simd(CAuResampler& r, AuPipelineBuffer& in, AuPipelineBuffer& out) noexcept {
    return AuResamplerKernels::Copy16<true>(r, in, out);
}
AURESULT Copy16Stereo(CAuResampler& r, AuPipelineBuffer& in, AuPipelineBuffer& out) noexcept {
    return AuResamplerKernels::Copy16Stereo<false>(r, in, out);
}
AURESULT Copy16StereoSimd(CAuResampler& r, AuPipelineBuffer& in, AuPipelineBuffer& out) noexcept {
    return AuResamplerKernels::Copy16Stereo<true>(r, in, out);
}
} // namespace AuResampleCopies

using K = AuResamplerKernels;

AuResampleKernel g_pfResamplers[24] = {
    // step 1.0
    &AuResampleCopies::Copy16, &AuResampleCopies::Copy16Stereo, &AuResampleCopies::Copy16,
    &AuResampleCopies::Copy16, &K::CopyFloat, &K::CopyFloat, &K::CopyFloat, &K::CopyFloat,
    // fixed step
    &K::Fixed<Pcm16, 1>, &K::Fixed<Pcm16, 2>, &K::Fixed<Pcm16, 0>, &K::Fixed<Pcm16, 0>, &K::Fixed<Float32, 1>,
    &K::Fixed<Float32, 2>, &K::Fixed<Float32, 0>, &K::Fixed<Float32, 0>,
    // ramping
    &K::Ramp<Pcm16, 1>, &K::Ramp<Pcm16, 2>, &K::Ramp<Pcm16, 0>, &K::Ramp<Pcm16, 0>, &K::Ramp<Float32, 1>,
    &K::Ramp<Float32, 2>, &K::Ramp<Float32, 0>, &K::Ramp<Float32, 0>};

void CAuResampler::InitKernels() {
    const bool simd = CAuCpuInfo::Get()->HasFeature(AuCpuFeatureSSE2);
    const AuResampleKernel copy = simd ? &AuResampleCopies::Copy16Simd : &AuResampleCopies::Copy16;
    g_pfResamplers[0] = g_pfResamplers[2] = g_pfResamplers[3] = copy;
    g_pfResamplers[1] = simd ? &AuResampleCopies::Copy16StereoSimd : &AuResampleCopies::Copy16Stereo;
}

AURESULT CAuResampler::Init(const AuResamplerFormat& format, u32 outputRate) {
    Term();
    m_uInputOffset = m_uOutputFrames = 0;
    m_uPosition = AU_RESAMPLER_UNITY;
    m_uCurrentStep = m_uTargetStep = 0;
    m_uRampCounter = AU_RESAMPLER_RAMP;
    m_fPitch = 0.0f;
    m_bFirstPitch = 1;
    m_eState = AuResamplerState_Copy;
    const AURESULT result = SetFormat(format, outputRate);
    if (result == AuResultSuccess) memset(m_pStore, 0, m_uChannels * (m_bFloat ? sizeof(f32) : sizeof(i16)));
    return result;
}

AURESULT CAuResampler::SetFormat(const AuResamplerFormat& format, u32 outputRate) noexcept {
    const u32 channels = format.config.NumChannels();
    const u32 bits = format.uBitsPerSample;
    if ((bits != 16 && bits != 32) || channels == 0 || outputRate == 0) return AuResultFail;
    const bool isFloat = bits == 32;
    const u32 sampleBytes = isFloat ? sizeof(f32) : sizeof(i16);
    if (channels > AU_RESAMPLER_INLINE_CHANNELS) {
        void* store = AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, channels * sampleBytes, 16);
        if (!store) return AuResultFail;
        FreeStore();
        m_pStore = store;
        m_bOwnsStore = 1;
    } else {
        FreeStore();
    }
    m_bFloat = isFloat;
    m_uChannels = static_cast<u8>(channels);
    m_config = format.config;
    m_uBlockAlign = static_cast<u16>(channels * sampleBytes);
    m_uColumn = static_cast<u8>((isFloat ? 4 : 0) + (channels == 1   ? 0
                                                     : channels == 2 ? 1
                                                     : channels <= 4 ? 2
                                                                     : 3));
    m_uRampIncrement = std::max<u32>(kRampRate / outputRate, 1);
    m_fBaseRatio = static_cast<f32>(format.uSampleRate) / static_cast<f32>(outputRate);
    return AuResultSuccess;
}

void CAuResampler::FreeStore() noexcept {
    if (m_bOwnsStore) AU::MemoryMgr::Falign(g_LEngineDefaultPoolId, m_pStore);
    m_pStore = m_inlineStore;
    m_bOwnsStore = 0;
}

void CAuResampler::Term() {
    FreeStore();
}

u32 CAuResampler::ComputeStep(f32 cents) const noexcept {
    if (std::isnan(cents)) cents = 0.0f;
    f32 step = std::exp2(cents * kCentsToOctaves) * m_fBaseRatio * 65536.0f + 0.5f;
    // Clamped as a float: an extreme pitch or rate would otherwise give 0 or more than 32 bits.
    if (!(step >= static_cast<f32>(AU_RESAMPLER_MIN_STEP))) step = static_cast<f32>(AU_RESAMPLER_MIN_STEP);
    step = std::min(step, static_cast<f32>(AU_RESAMPLER_MAX_STEP));
    return static_cast<u32>(step);
}

void CAuResampler::UpdateState() noexcept {
    if (m_uCurrentStep != m_uTargetStep)
        m_eState = AuResamplerState_Ramp;
    else if (m_uCurrentStep == AU_RESAMPLER_UNITY && (m_uPosition & 0xFFFF) == 0)
        m_eState = AuResamplerState_Copy;
    else
        // A step of 1.0 reached with a fraction left keeps interpolating: a copy would drop it.
        m_eState = AuResamplerState_Fixed;
}

void CAuResampler::SetPitch(f32 cents, bool interpolate) noexcept {
    if (m_bFirstPitch) {
        m_uCurrentStep = m_uTargetStep = ComputeStep(cents);
        m_uRampCounter = AU_RESAMPLER_RAMP;
        m_bFirstPitch = 0;
        m_fPitch = cents;
        UpdateState();
        return;
    }
    if (cents == m_fPitch) return;
    if (m_eState == AuResamplerState_Ramp) {
        const i64 delta = i64{m_uTargetStep} - i64{m_uCurrentStep};
        const i64 counter = std::min(m_uRampCounter, AU_RESAMPLER_RAMP);
        m_uCurrentStep = static_cast<u32>(i64{m_uCurrentStep} + delta * counter / i64{AU_RESAMPLER_RAMP});
    }
    m_uRampCounter = 0;
    m_uTargetStep = ComputeStep(cents);
    m_fPitch = cents;
    if (!interpolate) {
        m_uCurrentStep = m_uTargetStep;
        m_uRampCounter = AU_RESAMPLER_RAMP;
    }
    UpdateState();
}

AURESULT CAuResampler::Execute(AuPipelineBuffer& in, AuPipelineBuffer& out) noexcept {
    if (!in.uValidFrames) return AuResultNoMoreData;
    if (!in.pData || !out.pData || m_uChannels == 0) return AuResultFail;
    for (;;) {
        const AURESULT result = g_pfResamplers[m_eState * 8 + m_uColumn](*this, in, out);
        if (m_eState == AuResamplerState_Ramp && m_uRampCounter >= AU_RESAMPLER_RAMP) {
            m_uCurrentStep = m_uTargetStep;
            m_eState = AuResamplerState_Fixed;
        }
        if (result == AuResultDataReady) return result;
        if (!in.uValidFrames) return AuResultDataNeeded;
    }
}

u32 CAuResampler::SkipInput(AuPipelineBuffer& in, u32 frames) noexcept {
    const u32 n = std::min<u32>(frames, in.uValidFrames);
    if (!n || !in.pData) return 0;
    for (u32 c = 0; c < m_uChannels; ++c) {
        if (m_bFloat)
            static_cast<f32*>(m_pStore)[c] =
                in.pData[static_cast<size_t>(c) * in.uMaxFrames + m_uInputOffset + n - 1];
        else
            static_cast<i16*>(m_pStore)[c] = reinterpret_cast<const i16*>(
                in.pData)[static_cast<size_t>(m_uInputOffset + n - 1) * m_uChannels + c];
    }
    in.uValidFrames = static_cast<u16>(in.uValidFrames - n);
    m_uInputOffset = in.uValidFrames ? m_uInputOffset + n : 0;
    return n;
}

void CAuResampler::GetLastFrame(f32* frame) const noexcept {
    for (u32 c = 0; c < m_uChannels; ++c)
        frame[c] = m_bFloat ? static_cast<const f32*>(m_pStore)[c]
                            : static_cast<f32>(static_cast<const i16*>(m_pStore)[c]) * kInv32768;
}

void CAuResampler::SetLastFrame(const f32* frame) noexcept {
    for (u32 c = 0; c < m_uChannels; ++c) {
        if (m_bFloat)
            static_cast<f32*>(m_pStore)[c] = frame[c];
        else
            static_cast<i16*>(m_pStore)[c] = ToPcm16(frame[c]);
    }
}

f32 CAuResampler::GetSpeed() const noexcept {
    if (m_fBaseRatio == 0.0f) return 0.0f;
    return static_cast<f32>(m_uCurrentStep) / 65536.0f / m_fBaseRatio;
}

AURESULT CAuResampler::ChangeFormat(const AuResamplerFormat& format, f32 cents, u32 outputRate) noexcept {
    f32 last[kMaxChannels] = {};
    GetLastFrame(last);
    const f32 previousRatio = m_fBaseRatio;
    const AURESULT result = SetFormat(format, outputRate);
    if (result != AuResultSuccess) return result;
    SetLastFrame(last);
    if (m_fBaseRatio != previousRatio) {
        m_bFirstPitch = 1;
        SetPitch(cents, false);
    }
    return AuResultSuccess;
}
