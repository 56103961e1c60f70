// The 26 early-reflection patterns of the room reverb: per side up to 64 taps in ascending time,
// each on a whole sample at 48 kHz with a gain within +-0.7.
#pragma once

#include <AU/AuTypes.h>

#include <array>

constexpr u32 AU_NUM_REFLECTION_PATTERNS = 26;
constexpr u32 AU_MAX_REFLECTION_TAPS = 64;

struct AuReflectionTap {
    f32 fTime; // ms
    f32 fGain;
};

struct AuReflectionSide {
    u32 uNumTaps;
    AuReflectionTap taps[AU_MAX_REFLECTION_TAPS];
};

struct AuReflectionPattern {
    const wchar_t* pName;
    AuReflectionSide sides[2]; // left, right
};

extern const std::array<AuReflectionPattern, AU_NUM_REFLECTION_PATTERNS> g_reflectionPatterns;
