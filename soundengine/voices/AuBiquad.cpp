#include "voices/AuBiquad.h"

#include <xmmintrin.h>

#include <cstdint>

namespace {

inline void Set4(f32* lanes, f32 l0, f32 l1, f32 l2, f32 l3) {
    lanes[0] = l0;
    lanes[1] = l1;
    lanes[2] = l2;
    lanes[3] = l3;
}

inline void FilterOne(const AuBiquadBlock& block, AuBiquadMemory& m, f32* samples, u32 frames) {
    f32 x1 = m.fX1, x2 = m.fX2, y1 = m.fY1, y2 = m.fY2;
    for (u32 i = 0; i < frames; ++i) {
        const f32 x = samples[i];
        const f32 y = block.fB0 * x + block.fB1 * x1 + block.fB2 * x2 + block.fC * y1 + block.fD * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        samples[i] = y;
    }
    m = {x1, x2, y1, y2};
}

} // namespace

void BiquadCoefficients(AuBiquadBlock& block, f32 b0, f32 b1, f32 b2, f32 a1, f32 a2) noexcept {
    const f32 c = -a1;
    const f32 d = -a2;
    const f32 h1 = b0 * c + b1;
    const f32 h2 = h1 * c + b2 + b0 * d;
    const f32 h3 = h2 * c + h1 * d;
    const f32 g1 = b1 * c + b2;
    const f32 g2 = g1 * c + b1 * d;
    const f32 g3 = g2 * c + b2 * d + b1 * d * c;
    const f32 cc = c * c;
    Set4(block.vX0, b0, b0, b0, b0);
    Set4(block.vX1, 0.0f, 0.0f, 0.0f, h1);
    Set4(block.vX2, 0.0f, 0.0f, h1, h2);
    Set4(block.vX3, 0.0f, h1, h2, h3);
    Set4(block.vX4, b1, g1, g2, g3);
    Set4(block.vX5, b2, b2 * c, b2 * cc + b2 * d, (2.0f * b2 * d + b2 * cc) * c);
    Set4(block.vY1, c, cc + d, (2.0f * d + cc) * c, (3.0f * d + cc) * cc + d * d);
    Set4(block.vY2, d, c * d, cc * d + d * d, (2.0f * d * d + cc * d) * c);
    block.fB0 = b0;
    block.fB1 = b1;
    block.fB2 = b2;
    block.fC = c;
    block.fD = d;
    block.fPad[0] = block.fPad[1] = block.fPad[2] = 0.0f;
}

void BiquadIdentity(AuBiquadBlock& block) noexcept {
    BiquadCoefficients(block, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f);
}

void BiquadFilter(const AuBiquadBlock& block, AuBiquadMemory& memory, f32* samples, u32 frames) noexcept {
    u32 head = static_cast<u32>((16 - (reinterpret_cast<uintptr_t>(samples) & 15)) & 15) / sizeof(f32);
    if (head > frames) head = frames;
    FilterOne(block, memory, samples, head);
    samples += head;
    frames -= head;

    const u32 groups = frames / 4;
    if (groups) {
        const __m128 vX0 = _mm_load_ps(block.vX0);
        const __m128 vX1 = _mm_load_ps(block.vX1);
        const __m128 vX2 = _mm_load_ps(block.vX2);
        const __m128 vX3 = _mm_load_ps(block.vX3);
        const __m128 vX4 = _mm_load_ps(block.vX4);
        const __m128 vX5 = _mm_load_ps(block.vX5);
        const __m128 vY1 = _mm_load_ps(block.vY1);
        const __m128 vY2 = _mm_load_ps(block.vY2);
        // The state rides in lanes: x[n-1], x[n-2], y[n-1], y[n-2] broadcast from the last group.
        __m128 x1 = _mm_set1_ps(memory.fX1);
        __m128 x2 = _mm_set1_ps(memory.fX2);
        __m128 y1 = _mm_set1_ps(memory.fY1);
        __m128 y2 = _mm_set1_ps(memory.fY2);
        f32* p = samples;
        for (u32 g = 0; g < groups; ++g, p += 4) {
            const __m128 x = _mm_load_ps(p);
            const __m128 xn = _mm_shuffle_ps(x, x, _MM_SHUFFLE(0, 0, 0, 0));
            const __m128 xn1 = _mm_shuffle_ps(x, x, _MM_SHUFFLE(1, 1, 1, 1));
            const __m128 xn2 = _mm_shuffle_ps(x, x, _MM_SHUFFLE(2, 2, 2, 2));
            // The feed-forward part does not wait for the previous group's outputs.
            __m128 ff = _mm_mul_ps(vX0, x);
            ff = _mm_add_ps(ff, _mm_mul_ps(xn2, vX1));
            ff = _mm_add_ps(ff, _mm_mul_ps(xn1, vX2));
            ff = _mm_add_ps(ff, _mm_mul_ps(xn, vX3));
            ff = _mm_add_ps(ff, _mm_mul_ps(x1, vX4));
            ff = _mm_add_ps(ff, _mm_mul_ps(x2, vX5));
            const __m128 y = _mm_add_ps(ff, _mm_add_ps(_mm_mul_ps(y1, vY1), _mm_mul_ps(y2, vY2)));
            _mm_store_ps(p, y);
            x1 = _mm_shuffle_ps(x, x, _MM_SHUFFLE(3, 3, 3, 3));
            x2 = xn2;
            y1 = _mm_shuffle_ps(y, y, _MM_SHUFFLE(3, 3, 3, 3));
            y2 = _mm_shuffle_ps(y, y, _MM_SHUFFLE(2, 2, 2, 2));
        }
        memory.fX1 = _mm_cvtss_f32(x1);
        memory.fX2 = _mm_cvtss_f32(x2);
        memory.fY1 = _mm_cvtss_f32(y1);
        memory.fY2 = _mm_cvtss_f32(y2);
    }
    FilterOne(block, memory, samples + groups * 4, frames - groups * 4);
}

namespace AuBiquadReference {

void Filter(const AuBiquadBlock& block, AuBiquadMemory& memory, f32* samples, u32 frames) {
    FilterOne(block, memory, samples, frames);
}

} // namespace AuBiquadReference
