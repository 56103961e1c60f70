// The bank parameter blocks of the three effect plug-ins: little-endian, packed, no alignment.
// Each layout is listed once, in its record's Fields, which the engine's reader and the bank
// writer both walk, so the two cannot drift apart.
#pragma once

#include <AU/AuTypes.h>

#include <bit>
#include <cstddef>
#include <type_traits>

struct AuDelayBlock {
    f32 fDelayTime = 0.0f;   // seconds
    f32 fFeedback = 0.0f;    // percent
    f32 fWetDryMix = 0.0f;   // percent
    f32 fOutputLevel = 0.0f; // dB
    u8 uFeedbackEnabled = 0;
    u8 uProcessLFE = 0;

    static constexpr u32 kSize = 18;
    template <typename F, typename B> static constexpr void Fields(F&& f, B& b) {
        f(b.fDelayTime), f(b.fFeedback), f(b.fWetDryMix), f(b.fOutputLevel), f(b.uFeedbackEnabled),
            f(b.uProcessLFE);
    }
};

struct AuStereoDelayBlock {
    u32 uLeftInput = 0;
    f32 fLeftDelayTime = 0.0f;       // seconds
    f32 fLeftFeedback = 0.0f;        // dB
    f32 fLeftToRightFeedback = 0.0f; // dB
    u32 uRightInput = 0;
    f32 fRightDelayTime = 0.0f;
    f32 fRightFeedback = 0.0f;
    f32 fRightToLeftFeedback = 0.0f;
    i32 iFilterType = 0;
    f32 fFilterGain = 0.0f; // dB
    f32 fFilterFrequency = 0.0f;
    f32 fFilterQ = 0.0f;
    f32 fDryLevel = 0.0f; // dB
    f32 fWetLevel = 0.0f; // dB
    f32 fBalance = 0.0f;
    u8 uFeedbackEnabled = 0;
    u8 uCrossFeedbackEnabled = 0;

    static constexpr u32 kSize = 62;
    template <typename F, typename B> static constexpr void Fields(F&& f, B& b) {
        f(b.uLeftInput), f(b.fLeftDelayTime), f(b.fLeftFeedback), f(b.fLeftToRightFeedback);
        f(b.uRightInput), f(b.fRightDelayTime), f(b.fRightFeedback), f(b.fRightToLeftFeedback);
        f(b.iFilterType), f(b.fFilterGain), f(b.fFilterFrequency), f(b.fFilterQ);
        f(b.fDryLevel), f(b.fWetLevel), f(b.fBalance), f(b.uFeedbackEnabled), f(b.uCrossFeedbackEnabled);
    }
};

struct AuRoomReverbBlockFilter {
    f32 fGain = 0.0f; // dB
    f32 fFrequency = 0.0f;
    f32 fQ = 0.0f;
    u32 uPosition = 0;
    u32 uType = 0;
};

struct AuRoomReverbBlock {
    static constexpr u32 kNumFilters = 3;
    static constexpr u32 kNumTuningValues = 11;

    f32 fDecayTime = 0.0f; // seconds
    f32 fDampingRatio = 0.0f;
    f32 fDiffusion = 0.0f;   // percent
    f32 fStereoWidth = 0.0f; // degrees
    AuRoomReverbBlockFilter aFilters[kNumFilters];
    // dB each.
    f32 fFrontLevel = 0.0f;
    f32 fRearLevel = 0.0f;
    f32 fCenterLevel = 0.0f;
    f32 fLFELevel = 0.0f;
    f32 fDryLevel = 0.0f;
    f32 fERLevel = 0.0f;
    f32 fReverbLevel = 0.0f;
    u8 uEREnabled = 0;
    u32 uPattern = 0;
    f32 fPreDelay = 0.0f; // ms
    f32 fERSize = 0.0f;
    f32 fRearDelay = 0.0f; // ms
    f32 fRoomSize = 0.0f;  // percent
    f32 fRoomShape = 0.0f; // percent
    u32 uDensity = 0;
    u8 uEQEnabled = 0;
    f32 fCenterInputLevel = 0.0f; // dB
    f32 fLFEInputLevel = 0.0f;    // dB
    f32 afTuning[kNumTuningValues] = {};

    static constexpr u32 kSize = 186;
    template <typename F, typename B> static constexpr void Fields(F&& f, B& b) {
        f(b.fDecayTime), f(b.fDampingRatio), f(b.fDiffusion), f(b.fStereoWidth);
        for (auto& filter : b.aFilters)
            f(filter.fGain), f(filter.fFrequency), f(filter.fQ);
        f(b.fFrontLevel), f(b.fRearLevel), f(b.fCenterLevel), f(b.fLFELevel), f(b.fDryLevel), f(b.fERLevel);
        f(b.fReverbLevel), f(b.uEREnabled), f(b.uPattern);
        f(b.fPreDelay), f(b.fERSize), f(b.fRearDelay), f(b.fRoomSize), f(b.fRoomShape);
        f(b.uDensity), f(b.uEQEnabled);
        for (auto& filter : b.aFilters)
            f(filter.uPosition), f(filter.uType);
        f(b.fCenterInputLevel), f(b.fLFEInputLevel);
        for (auto& value : b.afTuning)
            f(value);
    }
};

// The bytes a layout takes.
template <typename Block> constexpr u32 AuBlockBytes() {
    Block block{};
    u32 bytes = 0;
    Block::Fields([&](const auto& value) { bytes += sizeof(value); }, block);
    return bytes;
}

static_assert(AuBlockBytes<AuDelayBlock>() == AuDelayBlock::kSize);
static_assert(AuBlockBytes<AuStereoDelayBlock>() == AuStereoDelayBlock::kSize);
static_assert(AuBlockBytes<AuRoomReverbBlock>() == AuRoomReverbBlock::kSize);

namespace AuEffectBlockDetail {
template <typename T> using Bits = std::conditional_t<sizeof(T) == 4, u32, u8>;
} // namespace AuEffectBlockDetail

// False, with `block` untouched, when `size` is shorter than the layout.
template <typename Block> bool AuReadBlock(const void* bytes, u32 size, Block& block) {
    if (!bytes || size < Block::kSize) return false;
    const u8* p = static_cast<const u8*>(bytes);
    Block::Fields(
        [&](auto& value) {
            using T = std::remove_reference_t<decltype(value)>;
            AuEffectBlockDetail::Bits<T> bits = 0;
            for (size_t i = 0; i < sizeof(T); ++i)
                bits |= AuEffectBlockDetail::Bits<T>(p[i]) << (8 * i);
            value = std::bit_cast<T>(bits);
            p += sizeof(T);
        },
        block);
    return true;
}

// Writes Block::kSize bytes.
template <typename Block> void AuWriteBlock(const Block& block, u8* out) {
    Block::Fields(
        [&](const auto& value) {
            using T = std::remove_cvref_t<decltype(value)>;
            const auto bits = std::bit_cast<AuEffectBlockDetail::Bits<T>>(value);
            for (size_t i = 0; i < sizeof(T); ++i)
                *out++ = u8(bits >> (8 * i));
        },
        block);
}
