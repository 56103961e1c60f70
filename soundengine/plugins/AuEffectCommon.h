// What the three effect plug-ins share: the tail that keeps a voice or bus alive while the effect
// rings out after its input ended, and the guards on the numbers that reach them.
#pragma once

#include "voices/AuPipelineBuffer.h"

#include <AU/AuPluginTypes.h>

#include <xmmintrin.h>

#include <cmath>
#include <cstring>
#include <new>

constexpr u32 AU_EFFECT_NO_TAIL = 0xFFFFFFFFu;

// Delay times beyond this come from a bad bank or RTPC value, not from a designer.
constexpr f32 AU_EFFECT_MAX_DELAY_SECONDS = 10.0f;

struct AuEffectTail {
    // AU_EFFECT_NO_TAIL while the input runs; counts down to 0 once it ended.
    u32 uRemaining = AU_EFFECT_NO_TAIL;
    u32 uTailLength = 0;

    // [audio thread] Once per Execute, before processing: with the input ended, pads the buffer
    // to its maximum with silence and keeps its state at 45 while tail frames remain.
    void Process(AuPipelineBuffer& buffer, u32 tailLength) noexcept;
};

// `value` unless it is NaN or infinite.
inline f32 AuFiniteOr(f32 value, f32 fallback) noexcept {
    return std::isfinite(value) ? value : fallback;
}

// Samples of a delay of `seconds`, truncated; bad times are clamped to [0, 10] s.
u32 AuDelaySamples(f32 seconds, u32 sampleRate) noexcept;

// Rounds up to a whole number of four-sample groups.
constexpr u32 AuRoundUp4(u32 samples) {
    return (samples + 3u) & ~3u;
}

// Reads a parameter passed as a float, as a u32 or by its first byte; the size is not read.
inline f32 AuParamF32(const void* value) noexcept {
    f32 v;
    std::memcpy(&v, value, sizeof v);
    return v;
}
inline u32 AuParamU32(const void* value) noexcept {
    u32 v;
    std::memcpy(&v, value, sizeof v);
    return v;
}
inline bool AuParamByte(const void* value) noexcept {
    return *static_cast<const u8*>(value) != 0;
}

// An object of the effect's own kind from `allocator`, or null.
template <typename T> T* AuPluginNew(AU::IAuPluginMemAlloc* allocator) noexcept {
    void* block = allocator ? allocator->Malloc(sizeof(T)) : nullptr;
    return block ? new (block) T() : nullptr;
}

// Runs the destructor and hands the block back.
template <typename T> void AuPluginDelete(T* object, AU::IAuPluginMemAlloc* allocator) noexcept {
    object->~T();
    allocator->Free(object);
}

// [audio thread] dst[i] += src[i] x (from + step x i), four frames per step; any alignment.
// Each lane computes exactly what the one-frame loop computes, so the results are the same.
inline void AuMulAddGlide(f32* dst, const f32* src, u32 frames, f32 from, f32 step) noexcept {
    u32 i = 0;
    if (frames >= 4) {
        const __m128 vFrom = _mm_set1_ps(from);
        const __m128 vStep = _mm_set1_ps(step);
        __m128 index = _mm_setr_ps(0.0f, 1.0f, 2.0f, 3.0f);
        const __m128 four = _mm_set1_ps(4.0f);
        for (; i + 4 <= frames; i += 4) {
            const __m128 gain = _mm_add_ps(vFrom, _mm_mul_ps(vStep, index));
            _mm_storeu_ps(dst + i,
                          _mm_add_ps(_mm_loadu_ps(dst + i), _mm_mul_ps(_mm_loadu_ps(src + i), gain)));
            index = _mm_add_ps(index, four);
        }
    }
    for (; i < frames; ++i)
        dst[i] += src[i] * (from + step * f32(i));
}

// [audio thread] dst[i] += src[i] x gain, four frames per step; any alignment.
inline void AuMulAdd(f32* dst, const f32* src, u32 frames, f32 gain) noexcept {
    u32 i = 0;
    const __m128 vGain = _mm_set1_ps(gain);
    for (; i + 4 <= frames; i += 4)
        _mm_storeu_ps(dst + i, _mm_add_ps(_mm_loadu_ps(dst + i), _mm_mul_ps(_mm_loadu_ps(src + i), vGain)));
    for (; i < frames; ++i)
        dst[i] += src[i] * gain;
}
