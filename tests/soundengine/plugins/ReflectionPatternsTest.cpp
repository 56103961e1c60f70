#include "plugins/AuReflectionPatterns.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

// The published rows: name, tap counts, first and last left tap in ms (to four places).
struct Row {
    const wchar_t* name;
    u32 left, right;
    f64 firstLeft, lastLeft;
};

constexpr Row kTable[AU_NUM_REFLECTION_PATTERNS] = {
    {L"Dark Chamber", 63, 63, 0.0208, 95.6042},     {L"Concrete Venue 1", 31, 31, 0.0208, 99.8750},
    {L"Concrete Venue 2", 47, 50, 0.0208, 99.0417}, {L"Night Club", 47, 48, 0.0208, 99.0417},
    {L"Warehouse", 64, 64, 22.7500, 89.5000},       {L"Small Church", 44, 47, 0.0208, 97.3542},
    {L"Medium Church", 63, 64, 43.3333, 142.7083},  {L"Large Church", 59, 61, 50.0833, 150.0000},
    {L"Cathedral", 48, 50, 63.1875, 161.5625},      {L"Short Dark Hall", 8, 9, 65.8958, 153.7083},
    {L"Long Dark Hall", 64, 64, 0.0208, 67.5833},   {L"Bright Hall", 39, 38, 0.0208, 98.6875},
    {L"Small Hall", 38, 37, 11.9583, 110.2500},     {L"Medium Hall", 44, 49, 0.0208, 40.1458},
    {L"Large Hall", 64, 64, 0.0208, 90.9792},       {L"Lecture Hall", 32, 34, 30.8542, 124.0417},
    {L"Recital Hall", 38, 38, 0.0208, 98.6875},     {L"Small Plate", 34, 38, 11.3125, 104.3333},
    {L"Medium Plate", 64, 64, 3.9167, 40.2917},     {L"Large Plate", 64, 64, 3.9167, 40.2917},
    {L"Vocal Plate", 64, 64, 3.9167, 39.0625},      {L"Small Room", 56, 59, 7.3958, 103.0000},
    {L"Large Room", 64, 64, 11.5833, 70.1875},      {L"Bathroom", 63, 63, 27.7500, 124.4792},
    {L"Bedroom", 59, 57, 0.0208, 60.5833},          {L"Tiled Room", 47, 49, 0.0208, 18.2292},
};

TEST(ReflectionPatterns, EveryRowMatchesTheTable) {
    for (u32 p = 0; p < AU_NUM_REFLECTION_PATTERNS; ++p) {
        const AuReflectionPattern& pattern = g_reflectionPatterns[p];
        const Row& row = kTable[p];
        SCOPED_TRACE(p);
        EXPECT_EQ(std::wstring(pattern.pName), std::wstring(row.name));
        EXPECT_EQ(pattern.sides[0].uNumTaps, row.left);
        EXPECT_EQ(pattern.sides[1].uNumTaps, row.right);
        EXPECT_NEAR(pattern.sides[0].taps[0].fTime, row.firstLeft, 0.00005);
        EXPECT_NEAR(pattern.sides[0].taps[row.left - 1].fTime, row.lastLeft, 0.00005);
        for (const AuReflectionSide& side : pattern.sides) {
            ASSERT_LE(side.uNumTaps, AU_MAX_REFLECTION_TAPS);
            for (u32 t = 0; t < side.uNumTaps; ++t) {
                const f64 samples = f64(side.taps[t].fTime) * 48.0;
                EXPECT_NEAR(samples, std::round(samples), 1e-3)
                    << "tap " << t << " on a whole sample at 48 kHz";
                EXPECT_LE(std::fabs(side.taps[t].fGain), 0.7f);
                EXPECT_NE(side.taps[t].fGain, 0.0f);
                if (t > 0) {
                    EXPECT_GT(side.taps[t].fTime, side.taps[t - 1].fTime) << "ascending";
                }
            }
        }
    }
}

TEST(ReflectionPatterns, GainsTakeBothSignsAndTheSidesDiffer) {
    u32 negative = 0, positive = 0, sameSides = 0;
    for (const AuReflectionPattern& pattern : g_reflectionPatterns) {
        for (const AuReflectionSide& side : pattern.sides)
            for (u32 t = 0; t < side.uNumTaps; ++t)
                (side.taps[t].fGain < 0 ? negative : positive)++;
        sameSides += pattern.sides[0].taps[1].fTime == pattern.sides[1].taps[1].fTime;
    }
    EXPECT_GT(negative, 300u);
    EXPECT_GT(positive, 300u);
    EXPECT_LT(sameSides, 5u);
}

} // namespace
