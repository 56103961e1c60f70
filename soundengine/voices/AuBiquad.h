// The second-order section every filter of the engine runs: the voice filters, the bus meters and
// the effects derive five coefficients their own way and hand them to BiquadCoefficients, which
// unrolls the recurrence y[n] = b0 x[n] + b1 x[n-1] + b2 x[n-2] - a1 y[n-1] - a2 y[n-2] four
// outputs deep so that a buffer is filtered four samples per step.
#pragma once

#include <AU/AuTypes.h>

// Lane k of each vector belongs to output y[n+k]. With c = -a1 and d = -a2:
// y[n..n+3] = vX0 * x[n..n+3] + x[n+2] vX1 + x[n+1] vX2 + x[n] vX3 + x[n-1] vX4 + x[n-2] vX5
//           + y[n-1] vY1 + y[n-2] vY2.
// The scalars run the one-sample recurrence of the unaligned head and the tail.
struct alignas(16) AuBiquadBlock {
    f32 vX0[4];
    f32 vX1[4];
    f32 vX2[4];
    f32 vX3[4];
    f32 vX4[4];
    f32 vX5[4];
    f32 vY1[4];
    f32 vY2[4];
    f32 fB0;
    f32 fB1;
    f32 fB2;
    f32 fC; // -a1
    f32 fD; // -a2
    f32 fPad[3];
};
// Forty floats: the effects lay their section memory right after a block.
static_assert(sizeof(AuBiquadBlock) == 40 * sizeof(f32));

// One channel's section memory, carried from buffer to buffer.
struct AuBiquadMemory {
    f32 fX1; // x[n-1]
    f32 fX2; // x[n-2]
    f32 fY1; // y[n-1]
    f32 fY2; // y[n-2]
};
static_assert(sizeof(AuBiquadMemory) == 4 * sizeof(f32));

// Fills the block for the (already normalised) coefficients.
void BiquadCoefficients(AuBiquadBlock& block, f32 b0, f32 b1, f32 b2, f32 a1, f32 a2) noexcept;
// The pass-through section (b0 = 1, the rest 0).
void BiquadIdentity(AuBiquadBlock& block) noexcept;

// [audio thread] Filters `frames` samples in place and leaves the memory after the last one. The
// samples up to the first 16-byte boundary (at most three) and the one to three after the last
// whole group of four run one at a time; any alignment of `samples` is accepted.
void BiquadFilter(const AuBiquadBlock& block, AuBiquadMemory& memory, f32* samples, u32 frames) noexcept;

// The one-sample recurrence over the whole run, in single precision: what BiquadFilter computes,
// without vectors, for tests and benchmarks.
namespace AuBiquadReference {
void Filter(const AuBiquadBlock& block, AuBiquadMemory& memory, f32* samples, u32 frames);
} // namespace AuBiquadReference
