#include "voices/AuSpeakerPan.h"

#include "voices/AuMixKernels.h"
#include "voices/AuOutputDevice.h"

#include <algorithm>
#include <cmath>
#include <cstring>

f32 CAuSpeakerPan::s_sineSquared[AU_SINE_SQUARED_ENTRIES];

namespace {

constexpr f64 kPi = 3.14159265358979323846;
// One angle unit in radians.
constexpr f64 kUnitRadians = 2 * kPi / 512;
// The headphone table's step as the engine has always written it (a few 1e-10 above a unit).
constexpr f64 kSineSquaredStep = 0.012271846644580364;
constexpr u32 kFoldedMax = AU_PAN_TABLE_ENTRIES - 1;
constexpr u32 kMaxSpreadChannels = 7;

// Where each channel sits on the arc, from the left rear through the front to the right rear.
constexpr u8 kArcOrder[kMaxSpreadChannels][kMaxSpreadChannels] = {
    {0}, {0, 1}, {0, 2, 1}, {2, 0, 1, 3}, {3, 0, 2, 1, 4}, {2, 4, 0, 1, 5, 3}, {3, 5, 0, 2, 1, 6, 4},
};

// Azimuth (radians, positive to the right) as units (positive to the left), within (-512, 512).
// A non-finite azimuth has no direction and is taken as straight ahead.
f64 AzimuthUnits(f32 azimuth) {
    if (!std::isfinite(azimuth)) return 0.0;
    return std::fmod(-static_cast<f64>(azimuth) * 512.0 / (2 * kPi), 512.0);
}

} // namespace

void CAuSpeakerPan::Init() {
    for (u32 k = 0; k < AU_SINE_SQUARED_ENTRIES; ++k) {
        const f64 s = std::sin(k * kSineSquaredStep);
        s_sineSquared[k] = static_cast<f32>(s * s);
    }
}

void CAuSpeakerPan::GetDefaultSpeakerAngles(AuChannelConfig config, f32* degrees, f32& height) {
    degrees[0] = 30.0f;
    degrees[1] = 110.0f;
    degrees[2] = 142.5f;
    height = 45.0f;
    if (!config.IsStandard()) return;
    const u32 mask = config.ChannelMask();
    if ((mask & AU_SPEAKER_BACK_LEFT) && (mask & AU_SPEAKER_SIDE_LEFT)) degrees[1] = 100.0f;
    if ((mask & ~(AU_SPEAKER_FRONT_LEFT | AU_SPEAKER_FRONT_RIGHT | AU_SPEAKER_FRONT_CENTER)) == 0)
        degrees[0] = 45.0f;
}

AURESULT CAuSpeakerPan::SetSpeakerAngles(const f32* degrees, u32 count, u32* units, f32& minimumGap) {
    if (count == 0) return AuResultFail;
    for (u32 i = 0; i < count; ++i) {
        const f32 converted = degrees[i] * 512.0f * 0.0027777778f + 0.5f;
        if (!(converted >= 0.0f) || converted >= 256.0f) return AuResultFail;
        units[i] = static_cast<u32>(converted);
    }
    if (units[0] >= 128) return AuResultFail;
    u32 gap = units[0];
    for (u32 i = 1; i < count; ++i) {
        if (units[i] <= units[i - 1] || units[i] - units[i - 1] >= 256) return AuResultFail;
        gap = std::min(gap, units[i] - units[i - 1]);
    }
    gap = std::min(gap, 2 * (256 - units[count - 1]));
    // A first angle of 0 would leave no front region.
    if (gap == 0) return AuResultFail;
    minimumGap = static_cast<f32>(gap);
    return AuResultSuccess;
}

void CAuSpeakerPan::ConvertSpeakerAngles(const u32* units, u32 count, f32* degrees) {
    for (u32 i = 0; i < count; ++i)
        degrees[i] = static_cast<f32>(units[i]) * 360.0f * (1.0f / 512.0f);
}

void CAuSpeakerPan::CreatePanTable(u32 speakerMask, const u32* angles, u32 count, AuPanTable& table) {
    memset(&table, 0, sizeof(table));
    if (count == 0) return;
    const bool backsWithoutSides =
        (speakerMask & AU_SPEAKER_BACK_LEFT) && !(speakerMask & AU_SPEAKER_SIDE_LEFT);
    // A layout without sides has its backs where the sides would be.
    auto angle = [&](u32 j) {
        if (j == 1 && backsWithoutSides) j = 2;
        return static_cast<i32>(angles[std::min(j, count - 1)]);
    };
    const u32 speakers =
        __builtin_popcount(speakerMask & ~(AU_SPEAKER_FRONT_CENTER | AU_SPEAKER_LOW_FREQUENCY));
    const u32 regions = speakers / 2 + 1;

    u32 index = 0;
    // The sine law between a first speaker at `from` and a second at `to` (units): the first has
    // all the power at `from`, the second at `to`.
    auto fill = [&](i32 end, i32 from, i32 to) {
        for (; static_cast<i32>(index) <= end && index <= kFoldedMax; ++index) {
            const f64 s1 = std::sin((to - static_cast<i32>(index)) * kUnitRadians);
            const f64 s2 = std::sin((static_cast<i32>(index) - from) * kUnitRadians);
            const f64 sum = s1 * s1 + s2 * s2;
            table.fGains[index][0] = sum > 0 ? static_cast<f32>(s1 * s1 / sum) : 0.5f;
            table.fGains[index][1] = sum > 0 ? static_cast<f32>(s2 * s2 / sum) : 0.5f;
        }
    };
    const i32 front = angle(0);
    if (speakerMask & AU_SPEAKER_FRONT_CENTER)
        fill(front, 0, front);
    else
        fill(front, -front, front);
    for (u32 k = 1; k + 1 < regions; ++k)
        fill(angle(k), angle(k - 1), angle(k));
    if (regions < 2) return;
    const i32 start = angle(regions - 2);
    if (start >= 129) {
        // Behind: from the rearmost left speaker to its mirror on the right.
        fill(kFoldedMax, start, 512 - start);
        return;
    }
    // The rearmost pair stands ahead of the sides: the rear mirrors the front.
    for (; index < kFoldedMax - start; ++index) {
        table.fGains[index][0] = 1.0f;
        table.fGains[index][1] = 0.0f;
    }
    for (u32 f = kFoldedMax - start; f <= kFoldedMax; ++f) {
        const f32 first = table.fGains[kFoldedMax - f][0];
        table.fGains[f][0] = table.fGains[kFoldedMax - f][1];
        table.fGains[f][1] = first;
    }
}

AURESULT CAuSpeakerPan::PreparePanTables(CAuOutputDevice& device, AuChannelConfig layout) {
    if (!layout.IsStandard()) return AuResultFail;
    const u32 mask = layout.ChannelMask() & AU_SPEAKER_MASK_PANNED;
    if (!device.GetPanningTable(mask)) return AuResultFail;
    if ((mask & AU_SPEAKER_FRONT_CENTER) && !device.GetPanningTable(mask & AU_SPEAKER_MASK_PANNED_NO_CENTER))
        return AuResultFail;
    return AuResultSuccess;
}

const AuPanTable* CAuSpeakerPan::GetPanTable(CAuOutputDevice& device, u32 speakerMask) {
    for (const AuPanTableEntry& entry : device.panTables)
        if (entry.uSpeakerMask == speakerMask) return entry.pTable;
    return nullptr;
}

u32 CAuSpeakerPan::AzimuthToDirection(f32 azimuth) noexcept {
    return static_cast<u32>(static_cast<i32>(std::round(AzimuthUnits(azimuth)))) & 511;
}

void CAuSpeakerPan::AddSpeakerVolumesPower(i32 direction, f32 c, AuChannelConfig layout,
                                           const AuPanTable& table, CAuOutputDevice& device,
                                           f32* row) noexcept {
    const AuChannelConfig speakers = layout.WithoutLFE();
    const u32 mask = speakers.ChannelMask();
    const u32 channels = speakers.NumChannels();
    // Slots the row lacks (a layout whose count and mask disagree) are not written.
    auto add = [&](u32 slot, f32 gain) {
        if (slot < channels) row[slot] += gain;
    };
    const u32 u = static_cast<u32>(direction) & 511;

    if ((mask & ~AU_SPEAKER_SETUP_STEREO) == 0 && device.ePanningRule == AuPanningRule_Headphones) {
        u32 i = (u + 128) & 511;
        if (i >= 256) i = 512 - i;
        const f32 left = s_sineSquared[i / 2];
        add(0, left);
        add(1, 1.0f - left);
        return;
    }
    if (device.uNumSpeakerAngles == 0 || !device.pSpeakerAngles) return;
    auto angle = [&](u32 j) { return device.pSpeakerAngles[std::min(j, device.uNumSpeakerAngles - 1)]; };

    const bool mirrored = u >= 257;
    const u32 f = mirrored ? 512 - u : u;
    const bool centre = mask & AU_SPEAKER_FRONT_CENTER;
    const u32 s0 = centre ? 3 : 2;
    const bool backs = mask & AU_SPEAKER_BACK_LEFT;
    const bool sides = mask & AU_SPEAKER_SIDE_LEFT;
    const bool sixSpeakers = (mask & ~AU_SPEAKER_FRONT_CENTER) == AU_SPEAKER_MASK_PANNED_NO_CENTER;
    u32 first, second;
    if ((backs && f > angle(2)) || (!backs && sides && f > angle(1))) {
        // Behind the rearmost pair.
        first = mirrored ? s0 + 1 : s0;
        second = mirrored ? s0 : s0 + 1;
    } else if (sixSpeakers && f > angle(1)) {
        first = mirrored ? s0 + 3 : s0 + 2;
        second = mirrored ? s0 + 1 : s0;
    } else if (sixSpeakers && f > angle(0)) {
        first = mirrored ? 1 : 0;
        second = mirrored ? s0 + 3 : s0 + 2;
    } else if ((backs || sides) && f > angle(0)) {
        first = mirrored ? 1 : 0;
        second = mirrored ? s0 + 1 : s0;
    } else {
        // The front region runs from the right front speaker to the left one.
        const bool beyondFront = f > angle(0);
        first = beyondFront == mirrored ? 1 : 0;
        second = beyondFront == mirrored ? 0 : 1;
    }

    const f32* gains = table.fGains[f];
    if (centre && f < angle(0) && c > 0.0f) {
        // The table passed in is the phantom-centre law; the real centre takes its share.
        if (const AuPanTable* withCentre = GetPanTable(device, mask & AU_SPEAKER_MASK_PANNED)) {
            const f32* centreGains = withCentre->fGains[f];
            add(2, c * centreGains[0]);
            add(first, (1.0f - c) * gains[0]);
            add(second, (1.0f - c) * gains[1] + c * centreGains[1]);
            return;
        }
    }
    add(first, gains[0]);
    add(second, gains[1]);
}

AURESULT CAuSpeakerPan::GetSpeakerVolumes2DPan(CAuOutputDevice& device, f32 azimuth, AuChannelConfig layout,
                                               f32 c, f32* row) noexcept {
    const AuChannelConfig speakers = layout.WithoutLFE();
    const u32 stride = AuMatrixRowStride(speakers.NumChannels());
    memset(row, 0, stride * sizeof(f32));
    if (PreparePanTables(device, layout) != AuResultSuccess) return AuResultFail;
    if (speakers.NumChannels() == 1) {
        // One speaker hears every direction.
        row[0] = 1.0f;
        return AuResultSuccess;
    }
    const AuPanTable* table = GetPanTable(device, speakers.ChannelMask() & AU_SPEAKER_MASK_PANNED_NO_CENTER);
    AddSpeakerVolumesPower(static_cast<i32>(AzimuthToDirection(azimuth)), c, layout, *table, device, row);
    for (u32 i = 0; i < stride; ++i)
        row[i] = std::sqrt(row[i]);
    return AuResultSuccess;
}

AURESULT CAuSpeakerPan::GetSpeakerVolumes3D(f32 azimuth, f32 c, f32 spread, f32 focus, f32* matrix,
                                            u32 inputChannels, AuChannelConfig output,
                                            CAuOutputDevice& device) noexcept {
    const u32 stride = AuMatrixRowStride(output.NumChannels());
    memset(matrix, 0, inputChannels * stride * sizeof(f32));
    if (inputChannels == 0) return AuResultSuccess;
    // Rows hold the output's count of columns: a word whose count is not its mask's size has no
    // channel order to pan on.
    if (inputChannels > kMaxSpreadChannels || !output.IsStandard() ||
        output.NumChannels() != static_cast<u32>(__builtin_popcount(output.ChannelMask())))
        return AuResultFail;
    const AuChannelConfig layout = AuChannelConfig::Standard(output.ChannelMask() & AU_SPEAKER_MASK_PANNED);
    if (layout.NumChannels() == 1) {
        for (u32 i = 0; i < inputChannels; ++i)
            matrix[i * stride] = 1.0f;
        return AuResultSuccess;
    }
    if (PreparePanTables(device, layout) != AuResultSuccess) return AuResultFail;
    const AuPanTable& table = *GetPanTable(device, layout.ChannelMask() & AU_SPEAKER_MASK_PANNED_NO_CENTER);

    // Percentages beyond 0..100 (or NaN) from a curve would only multiply the points.
    spread = std::isnan(spread) ? 0.0f : std::clamp(spread, 0.0f, 100.0f);
    focus = std::isnan(focus) ? 0.0f : std::clamp(focus, 0.0f, 100.0f);
    const f32 n = static_cast<f32>(inputChannels);
    const f32 arc = spread * 2.56f;
    const f32 width = arc / n;
    f32 start = (1.0f - 1.0f / n) * arc + static_cast<f32>(AzimuthUnits(azimuth));
    // Enough points per channel that no speaker gap falls between two of them.
    const u32 points = static_cast<u32>(device.fInvMinSpeakerGap * width + 1.0f) + 1;
    const f32 normaliser = 1.0f / static_cast<f32>(points * inputChannels);
    const f32 step = (1.0f - focus * 0.01f) * width / static_cast<f32>(points);
    if (points % 2 == 0) start -= step;
    const f32 base = 2.0f * step * static_cast<f32>(points / 2) + 512.0f;

    for (u32 position = 0; position < inputChannels; ++position) {
        f32* row = matrix + kArcOrder[inputChannels - 1][position] * stride;
        f32 a = base + start;
        for (u32 p = 0; p < points; ++p) {
            AddSpeakerVolumesPower(static_cast<i32>(a + 0.5f), c, layout, table, device, row);
            a -= 2.0f * step;
        }
        for (u32 i = 0; i < stride; ++i)
            row[i] = std::sqrt(row[i] * normaliser);
        start -= 2.0f * width;
    }
    return AuResultSuccess;
}
