#include "voices/AuBiquad.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

struct Coefs {
    const char* name;
    f32 b0, b1, b2, a1, a2;
};

// Butterworth sections at a few cut-offs (48 kHz), plus a resonant peak: the block form must hold
// for poles near the unit circle as well as for flat ones.
std::vector<Coefs> Designs() {
    std::vector<Coefs> designs;
    for (f64 cutoff : {60.0, 1000.0, 7000.0, 20000.0}) {
        const f64 k = std::tan(3.14159265358979 * cutoff / 48000.0);
        const f64 n = 1.0 / (k * k + std::sqrt(2.0) * k + 1.0);
        designs.push_back({"lowpass", f32(k * k * n), f32(2 * k * k * n), f32(k * k * n),
                           f32(2 * (k * k - 1) * n), f32((k * k - std::sqrt(2.0) * k + 1) * n)});
        designs.push_back({"highpass", f32(n), f32(-2 * n), f32(n), f32(2 * (k * k - 1) * n),
                           f32((k * k - std::sqrt(2.0) * k + 1) * n)});
    }
    designs.push_back({"peak", 1.05f, -1.8f, 0.8f, -1.8f, 0.85f});
    return designs;
}

// The recurrence in double precision on the same (single-precision) coefficients.
struct DirectForm1 {
    f64 x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    void Run(const Coefs& c, std::vector<f64>& samples) {
        for (f64& s : samples) {
            const f64 y = f64(c.b0) * s + f64(c.b1) * x1 + f64(c.b2) * x2 - f64(c.a1) * y1 - f64(c.a2) * y2;
            x2 = x1;
            x1 = s;
            y2 = y1;
            y1 = y;
            s = y;
        }
    }
};

// Room for a run that starts `offset` floats past a 16-byte boundary.
struct AlignedRun {
    std::vector<f32> storage;
    f32* data;
    AlignedRun(u32 offset, u32 frames) : storage(frames + 8) {
        const uintptr_t base = (reinterpret_cast<uintptr_t>(storage.data()) + 15) & ~uintptr_t{15};
        data = reinterpret_cast<f32*>(base) + offset;
    }
};

f64 Peak(const std::vector<f64>& samples, f64 other) {
    f64 peak = std::abs(other);
    for (f64 s : samples)
        peak = std::max(peak, std::abs(s));
    return peak;
}

f64 MaxError(const f32* got, const std::vector<f64>& want) {
    f64 error = 0, peak = 1e-30;
    for (size_t i = 0; i < want.size(); ++i) {
        error = std::max(error, std::abs(f64(got[i]) - want[i]));
        peak = std::max(peak, std::abs(want[i]));
    }
    return error / peak;
}

} // namespace

TEST(BiquadTest, BlockFormEqualsTheDoubleDirectFormForEveryAlignmentAndLength) {
    std::mt19937 random(7);
    std::uniform_real_distribution<f32> sample(-1.0f, 1.0f);
    for (const Coefs& c : Designs()) {
        AuBiquadBlock block;
        BiquadCoefficients(block, c.b0, c.b1, c.b2, c.a1, c.a2);
        for (u32 offset = 0; offset < 4; ++offset) {
            for (u32 frames = 1; frames <= 20; ++frames) {
                AlignedRun run(offset, frames);
                // A primed memory, so that the state's weights (vX4, vX5, vY1, vY2) take part.
                AuBiquadMemory memory{sample(random), sample(random), sample(random), sample(random)};
                DirectForm1 reference{memory.fX1, memory.fX2, memory.fY1, memory.fY2};
                std::vector<f64> want(frames);
                for (u32 i = 0; i < frames; ++i)
                    want[i] = run.data[i] = sample(random);
                BiquadFilter(block, memory, run.data, frames);
                reference.Run(c, want);
                EXPECT_LT(MaxError(run.data, want), 1e-5)
                    << c.name << " offset " << offset << " frames " << frames;
                // The inputs are kept exactly; the outputs as closely as the samples themselves.
                EXPECT_EQ(memory.fX1, f32(reference.x1));
                EXPECT_EQ(memory.fX2, f32(reference.x2));
                EXPECT_LT(std::abs(memory.fY1 - reference.y1), 1e-5 * Peak(want, reference.y2));
                EXPECT_LT(std::abs(memory.fY2 - reference.y2), 1e-5 * Peak(want, reference.y2));
            }
        }
    }
}

// Over long runs single precision drifts from the double recurrence whatever the form (most for
// poles near the unit circle); the block form, cut into calls of any size, stays within a small
// factor of the scalar twin's own drift.
TEST(BiquadTest, SplitRunsStayAsCloseAsTheScalarTwin) {
    std::mt19937 random(11);
    std::uniform_real_distribution<f32> sample(-1.0f, 1.0f);
    std::uniform_int_distribution<u32> cut(0, 37);
    constexpr u32 kFrames = 4096;
    for (const Coefs& c : Designs()) {
        AuBiquadBlock block;
        BiquadCoefficients(block, c.b0, c.b1, c.b2, c.a1, c.a2);
        AlignedRun vector(1, kFrames);
        AlignedRun scalar(1, kFrames);
        std::vector<f64> want(kFrames);
        for (u32 i = 0; i < kFrames; ++i)
            want[i] = vector.data[i] = scalar.data[i] = sample(random);
        AuBiquadMemory memory{};
        for (u32 at = 0; at < kFrames;) {
            const u32 frames = std::min(cut(random), kFrames - at);
            BiquadFilter(block, memory, vector.data + at, frames);
            at += frames;
        }
        AuBiquadMemory scalarMemory{};
        AuBiquadReference::Filter(block, scalarMemory, scalar.data, kFrames);
        DirectForm1 reference;
        reference.Run(c, want);
        const f64 scalarError = MaxError(scalar.data, want);
        EXPECT_LT(MaxError(vector.data, want), std::max(1e-5, 4.0 * scalarError))
            << c.name << " scalar " << scalarError;
    }
}

TEST(BiquadTest, IdentityPassesTheSignalUnchanged) {
    AuBiquadBlock block;
    BiquadIdentity(block);
    AlignedRun run(3, 19);
    std::vector<f32> input(19);
    for (u32 i = 0; i < 19; ++i)
        input[i] = run.data[i] = 0.37f * static_cast<f32>(i) - 3.1f;
    AuBiquadMemory memory{0.5f, -0.25f, 0.75f, 0.125f};
    BiquadFilter(block, memory, run.data, 19);
    EXPECT_TRUE(std::equal(input.begin(), input.end(), run.data));
    EXPECT_EQ(memory.fX1, input[18]);
    EXPECT_EQ(memory.fX2, input[17]);
    EXPECT_EQ(memory.fY1, input[18]);
}

TEST(BiquadTest, EmptyRunLeavesTheMemory) {
    AuBiquadBlock block;
    BiquadCoefficients(block, 0.2f, 0.4f, 0.2f, -0.5f, 0.3f);
    AuBiquadMemory memory{1.0f, 2.0f, 3.0f, 4.0f};
    f32 sample = 9.0f;
    BiquadFilter(block, memory, &sample, 0);
    EXPECT_EQ(sample, 9.0f);
    EXPECT_EQ(memory.fX1, 1.0f);
    EXPECT_EQ(memory.fY2, 4.0f);
}
