#include "plugins/AuReflectionPatterns.h"

namespace {

// What each pattern is known by: its tap counts and where its left side starts and ends, in
// samples at 48 kHz. The taps in between are made by the generator below, once, at compile time.
struct PatternRow {
    const wchar_t* name;
    u32 left, right;
    u32 firstLeft, lastLeft;
};

constexpr PatternRow kRows[AU_NUM_REFLECTION_PATTERNS] = {
    {L"Dark Chamber", 63, 63, 1, 4589},     {L"Concrete Venue 1", 31, 31, 1, 4794},
    {L"Concrete Venue 2", 47, 50, 1, 4754}, {L"Night Club", 47, 48, 1, 4754},
    {L"Warehouse", 64, 64, 1092, 4296},     {L"Small Church", 44, 47, 1, 4673},
    {L"Medium Church", 63, 64, 2080, 6850}, {L"Large Church", 59, 61, 2404, 7200},
    {L"Cathedral", 48, 50, 3033, 7755},     {L"Short Dark Hall", 8, 9, 3163, 7378},
    {L"Long Dark Hall", 64, 64, 1, 3244},   {L"Bright Hall", 39, 38, 1, 4737},
    {L"Small Hall", 38, 37, 574, 5292},     {L"Medium Hall", 44, 49, 1, 1927},
    {L"Large Hall", 64, 64, 1, 4367},       {L"Lecture Hall", 32, 34, 1481, 5954},
    {L"Recital Hall", 38, 38, 1, 4737},     {L"Small Plate", 34, 38, 543, 5008},
    {L"Medium Plate", 64, 64, 188, 1934},   {L"Large Plate", 64, 64, 188, 1934},
    {L"Vocal Plate", 64, 64, 188, 1875},    {L"Small Room", 56, 59, 355, 4944},
    {L"Large Room", 64, 64, 556, 3369},     {L"Bathroom", 63, 63, 1332, 5975},
    {L"Bedroom", 59, 57, 1, 2908},          {L"Tiled Room", 47, 49, 1, 875},
};

constexpr f32 kSamplesPerMs = 48.0f;
constexpr f32 kMaxGain = 0.7f;

struct Lcg {
    u32 x;
    constexpr u32 Next() { return x = x * 1664525u + 1013904223u; }
    // [0, 1)
    constexpr f32 Unit() { return f32(Next() >> 8) * (1.0f / 16777216.0f); }
};

// `count` taps from `first` to `last` samples: evenly spread, each moved by up to 40 % of the
// spacing, kept strictly ascending; gains fall off with time and take either sign.
constexpr AuReflectionSide MakeSide(u32 count, u32 first, u32 last, Lcg& rng) {
    AuReflectionSide side{};
    side.uNumTaps = count;
    const f32 spacing = count > 1 ? f32(last - first) / f32(count - 1) : 0.0f;
    u32 previous = 0;
    for (u32 i = 0; i < count; ++i) {
        u32 at = first;
        if (i == count - 1) {
            at = last;
        } else if (i > 0) {
            const f32 jitter = (rng.Unit() - 0.5f) * 0.8f * spacing;
            const f32 wanted = f32(first) + spacing * f32(i) + jitter;
            at = u32(wanted < f32(first) ? f32(first) : wanted);
            // Room for the taps still to come, one sample apart at least.
            if (at <= previous) at = previous + 1;
            if (at > last - (count - 1 - i)) at = last - (count - 1 - i);
        }
        previous = at;
        const f32 age = last > first ? f32(at - first) / f32(last - first) : 0.0f;
        const f32 magnitude = kMaxGain * (1.0f - 0.75f * age) * (0.55f + 0.45f * rng.Unit());
        side.taps[i] = {f32(at) / kSamplesPerMs, (rng.Next() & 0x80000000u) ? -magnitude : magnitude};
    }
    return side;
}

constexpr std::array<AuReflectionPattern, AU_NUM_REFLECTION_PATTERNS> MakePatterns() {
    std::array<AuReflectionPattern, AU_NUM_REFLECTION_PATTERNS> patterns{};
    for (u32 p = 0; p < AU_NUM_REFLECTION_PATTERNS; ++p) {
        const PatternRow& row = kRows[p];
        Lcg rng{0x5EED0000u + p};
        patterns[p].pName = row.name;
        patterns[p].sides[0] = MakeSide(row.left, row.firstLeft, row.lastLeft, rng);
        // The right side spans the same time a little later, so that the two sides differ.
        const u32 rightFirst = row.firstLeft + 1 + (p % 5);
        patterns[p].sides[1] = MakeSide(row.right, rightFirst, row.lastLeft, rng);
    }
    return patterns;
}

} // namespace

constexpr std::array<AuReflectionPattern, AU_NUM_REFLECTION_PATTERNS> g_reflectionPatterns = MakePatterns();
