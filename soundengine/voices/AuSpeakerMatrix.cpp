// Mixing matrices between channel configurations: straight routing, the fixed down-mix tables,
// the 2D pan law and the LFE rule.
#include "voices/AuMixKernels.h"
#include "voices/AuSpeakerPan.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr f32 kThird = 0.33333334f;
constexpr f32 kSeventh = 0.14285715f;
// The most channels of a virtual layout: the speakers of AU_SPEAKER_MASK_PANNED.
constexpr u32 kMaxVirtual = 7;
constexpr u32 kVirtualStride = AuMatrixRowStride(kMaxVirtual);

constexpr u32 FL = AU_SPEAKER_FRONT_LEFT, FR = AU_SPEAKER_FRONT_RIGHT, FC = AU_SPEAKER_FRONT_CENTER,
              BL = AU_SPEAKER_BACK_LEFT, BR = AU_SPEAKER_BACK_RIGHT, BC = AU_SPEAKER_BACK_CENTER,
              SL = AU_SPEAKER_SIDE_LEFT, SR = AU_SPEAKER_SIDE_RIGHT;

// One input speaker of a down-mix table: at most two output speakers with their gains.
struct AuDownmixRow {
    u32 uInput;
    u32 uOutput[2];
    f32 fGain[2];
};

struct AuDownmixTable {
    u32 uOutputMask;
    AuDownmixRow rows[8];
};

constexpr f32 H = AU_MINUS_3DB;

// One table per output layout (mask & AU_SPEAKER_MASK_TABLES). The five-channel table's back
// centre is kept as the layout's authors tuned it (centre and side left).
constexpr AuDownmixTable kDownmixTables[] = {
    {FC,
     {{FL, {FC, 0}, {H, 0}},
      {FR, {FC, 0}, {H, 0}},
      {FC, {FC, 0}, {1, 0}},
      {BL, {FC, 0}, {0.5f, 0}},
      {BR, {FC, 0}, {0.5f, 0}},
      {BC, {FC, 0}, {0.5f, 0}},
      {SL, {FC, 0}, {0.5f, 0}},
      {SR, {FC, 0}, {0.5f, 0}}}},
    {FL | FR,
     {{FL, {FL, 0}, {1, 0}},
      {FR, {FR, 0}, {1, 0}},
      {FC, {FL, FR}, {H, H}},
      {BL, {FL, 0}, {H, 0}},
      {BR, {FR, 0}, {H, 0}},
      {BC, {FL, FR}, {H, H}},
      {SL, {FL, 0}, {H, 0}},
      {SR, {FR, 0}, {H, 0}}}},
    {FL | FR | FC,
     {{FL, {FL, 0}, {1, 0}},
      {FR, {FR, 0}, {1, 0}},
      {FC, {FC, 0}, {1, 0}},
      {BL, {FL, 0}, {H, 0}},
      {BR, {FR, 0}, {H, 0}},
      {BC, {FC, 0}, {H, 0}},
      {SL, {FL, 0}, {H, 0}},
      {SR, {FR, 0}, {H, 0}}}},
    {FL | FR | SL | SR,
     {{FL, {FL, 0}, {1, 0}},
      {FR, {FR, 0}, {1, 0}},
      {FC, {FL, FR}, {H, H}},
      {BL, {SL, 0}, {1, 0}},
      {BR, {SR, 0}, {1, 0}},
      {BC, {FL, FR}, {H, H}},
      {SL, {SL, 0}, {1, 0}},
      {SR, {SR, 0}, {1, 0}}}},
    {FL | FR | FC | SL | SR,
     {{FL, {FL, 0}, {1, 0}},
      {FR, {FR, 0}, {1, 0}},
      {FC, {FC, 0}, {1, 0}},
      {BL, {SL, 0}, {1, 0}},
      {BR, {SR, 0}, {1, 0}},
      {BC, {FC, SL}, {H, 1}},
      {SL, {SL, 0}, {1, 0}},
      {SR, {SR, 0}, {1, 0}}}},
    {FL | FR | BL | BR | SL | SR,
     {{FL, {FL, 0}, {1, 0}},
      {FR, {FR, 0}, {1, 0}},
      {FC, {FL, FR}, {H, H}},
      {BL, {BL, 0}, {1, 0}},
      {BR, {BR, 0}, {1, 0}},
      {BC, {FL, FR}, {H, H}},
      {SL, {SL, 0}, {1, 0}},
      {SR, {SR, 0}, {1, 0}}}},
    {FL | FR | FC | BL | BR | SL | SR,
     {{FL, {FL, 0}, {1, 0}},
      {FR, {FR, 0}, {1, 0}},
      {FC, {FC, 0}, {1, 0}},
      {BL, {BL, 0}, {1, 0}},
      {BR, {BR, 0}, {1, 0}},
      {BC, {FC, 0}, {H, 0}},
      {SL, {SL, 0}, {1, 0}},
      {SR, {SR, 0}, {1, 0}}}},
};

const AuDownmixTable* FindDownmixTable(u32 outputMask) {
    outputMask &= AU_SPEAKER_MASK_TABLES;
    for (const AuDownmixTable& table : kDownmixTables)
        if (table.uOutputMask == outputMask) return &table;
    return nullptr;
}

// The column of a speaker among the output's non-LFE channels.
u32 ColumnOf(u32 outputMask, u32 speaker) {
    return __builtin_popcount(outputMask & (speaker - 1) & ~AU_SPEAKER_LOW_FREQUENCY);
}

// Adds `scale` times the table row of `speaker` into an output row.
void AddTableRow(const AuDownmixTable& table, u32 speaker, f32 scale, u32 outputMask, f32* row) {
    for (const AuDownmixRow& entry : table.rows) {
        if (entry.uInput != speaker) continue;
        for (u32 k = 0; k < 2; ++k)
            if (entry.uOutput[k]) row[ColumnOf(outputMask, entry.uOutput[k])] += scale * entry.fGain[k];
        return;
    }
}

// Square roots of power shares; a share a hair below zero from rounding is silence.
f32 Root(f32 power) {
    return std::sqrt(std::max(0.0f, power));
}

// A standard word whose count is not its mask's size has no channel order.
bool IsConsistent(AuChannelConfig config) {
    return config.NumChannels() == static_cast<u32>(__builtin_popcount(config.ChannelMask()));
}

// The mono law's centre and right shares of a left-right position.
void MonoShares(f32 x, f32 c, f32& centre, f32& right) {
    if (x > 0.5f) {
        centre = (1.0f - x) * c * 2.0f;
        right = (x - 1.0f) * c + x;
    } else {
        centre = c * 2.0f * x;
        right = (1.0f - c) * x;
    }
}

} // namespace

void CAuSpeakerPan::ComputeMixingMatrix(f32 x, f32 y, f32 c, bool pan, AuChannelConfig input,
                                        AuChannelConfig output, f32* matrix) {
    memset(matrix, 0, input.NumChannels() * AuMatrixRowStride(output.NumChannels()) * sizeof(f32));
    if (input.ConfigType() != output.ConfigType()) return;
    if (input.IsStandard()) {
        if (IsConsistent(input) && IsConsistent(output))
            ComputeStandardMatrix(x, y, c, pan, input, output, matrix);
    } else if (input.ConfigType() == AuChannelConfigType_Anonymous) {
        ComputeIdentityMatrix(input, output, matrix);
    }
}

void CAuSpeakerPan::ComputeMatrixNoPan(AuChannelConfig input, AuChannelConfig output, f32* matrix) {
    memset(matrix, 0, input.NumChannels() * AuMatrixRowStride(output.NumChannels()) * sizeof(f32));
    if (input.ConfigType() != output.ConfigType()) return;
    if (input.IsStandard()) {
        if (IsConsistent(input) && IsConsistent(output))
            ComputeDirectMatrix(input, input.WithoutLFE(), output, output.WithoutLFE(), 0.0f, matrix);
    } else if (input.ConfigType() == AuChannelConfigType_Anonymous) {
        ComputeIdentityMatrix(input, output, matrix);
    }
}

void CAuSpeakerPan::ComputeIdentityMatrix(AuChannelConfig input, AuChannelConfig output, f32* matrix) {
    const u32 stride = AuMatrixRowStride(output.NumChannels());
    memset(matrix, 0, input.NumChannels() * stride * sizeof(f32));
    for (u32 i = 0; i < std::min(input.NumChannels(), output.NumChannels()); ++i)
        matrix[i * stride + i] = 1.0f;
}

void CAuSpeakerPan::ComputeDirectMatrix(AuChannelConfig input, AuChannelConfig inputNoLFE,
                                        AuChannelConfig output, AuChannelConfig outputNoLFE, f32 c,
                                        f32* matrix) {
    const u32 outMask = outputNoLFE.ChannelMask();
    if (inputNoLFE.NumChannels() == 1) {
        if (outputNoLFE.NumChannels() == 1) {
            matrix[0] = 1.0f;
        } else if ((outMask & (FL | FR | FC)) != (FL | FR | FC)) {
            if (outputNoLFE.NumChannels() >= 2) matrix[0] = matrix[1] = AU_MINUS_3DB;
        } else {
            matrix[ColumnOf(outMask, FL)] = matrix[ColumnOf(outMask, FR)] = Root((1.0f - c) * 0.5f);
            matrix[ColumnOf(outMask, FC)] = Root(c);
        }
    } else {
        ComputeDownmixMatrix(inputNoLFE.ChannelMask(), outMask, output.NumChannels(), matrix);
    }
    RouteLFE(input, output, matrix);
}

void CAuSpeakerPan::ComputeDownmixMatrix(u32 inputMask, u32 outputMask, u32 outputChannels, f32* matrix) {
    const u32 stride = AuMatrixRowStride(outputChannels);
    outputMask &= ~AU_SPEAKER_LOW_FREQUENCY;
    const AuDownmixTable* table = FindDownmixTable(outputMask);
    f32* row = matrix;
    for (u32 bits = inputMask & AU_SPEAKER_MASK_TABLES; bits; bits &= bits - 1, row += stride) {
        memset(row, 0, stride * sizeof(f32));
        if (table) AddTableRow(*table, bits & (~bits + 1), 1.0f, outputMask, row);
    }
    // Height speakers pass to themselves when the output has them.
    for (u32 bits = inputMask & ~0x7FFu; bits; bits &= bits - 1, row += stride) {
        memset(row, 0, stride * sizeof(f32));
        const u32 speaker = bits & (~bits + 1);
        if (outputMask & speaker) row[ColumnOf(outputMask, speaker)] = 1.0f;
    }
}

void CAuSpeakerPan::ApplyDownmixTables(AuChannelConfig input, AuChannelConfig virtualLayout,
                                       AuChannelConfig output, u32 outputChannels, const f32* virtualMatrix,
                                       f32* matrix) {
    const u32 inMask = input.ChannelMask();
    const u32 rows = (inMask & ~AU_SPEAKER_MASK_TABLES) == 0
                         ? input.NumChannels()
                         : static_cast<u32>(__builtin_popcount(inMask & AU_SPEAKER_MASK_TABLES));
    const u32 outMask = output.ChannelMask() & ~AU_SPEAKER_LOW_FREQUENCY;
    const AuDownmixTable* table = FindDownmixTable(outMask);
    if (!table) return;
    const u32 stride = AuMatrixRowStride(outputChannels);
    const u32 virtualStride = AuMatrixRowStride(virtualLayout.NumChannels());
    for (u32 r = 0; r < rows; ++r) {
        f32* row = matrix + r * stride;
        const f32* gains = virtualMatrix + r * virtualStride;
        memset(row, 0, stride * sizeof(f32));
        u32 column = 0;
        for (u32 bits = virtualLayout.ChannelMask() & AU_SPEAKER_MASK_TABLES; bits;
             bits &= bits - 1, ++column)
            AddTableRow(*table, bits & (~bits + 1), gains[column], outMask, row);
    }
}

void CAuSpeakerPan::RouteLFE(AuChannelConfig input, AuChannelConfig output, f32* matrix) {
    if (!input.HasLFE() || input.NumChannels() == 0) return;
    const u32 stride = AuMatrixRowStride(output.NumChannels());
    f32* row = matrix + (input.NumChannels() - 1) * stride;
    memset(row, 0, stride * sizeof(f32));
    if (output.HasLFE() && output.NumChannels() > 0) row[output.NumChannels() - 1] = 1.0f;
}

void CAuSpeakerPan::ComputeStandardMatrix(f32 x, f32 y, f32 c, bool pan, AuChannelConfig input,
                                          AuChannelConfig output, f32* matrix) {
    const AuChannelConfig inputNoLFE = input.WithoutLFE();
    const AuChannelConfig outputNoLFE = output.WithoutLFE();
    if (!pan || outputNoLFE.NumChannels() == 1) {
        ComputeDirectMatrix(input, inputNoLFE, output, outputNoLFE, c, matrix);
        return;
    }
    const u32 outMask = outputNoLFE.ChannelMask() & AU_SPEAKER_MASK_2D;

    if (inputNoLFE.NumChannels() == 1) {
        f32* row = matrix;
        if (outMask == (FL | FR | FC | BL | BR | SL | SR)) {
            PanSevenChannelsMono(x, y, c, row);
        } else if (outMask == (FL | FR | BL | BR | SL | SR)) {
            PanSixChannels(x, y, outMask, row);
        } else if (outMask == (FL | FR | FC | SL | SR) || outMask == (FL | FR | FC)) {
            f32 centre, right;
            MonoShares(x, c, centre, right);
            const f32 left = 1.0f - right - centre;
            const f32 front = outMask == (FL | FR | FC) ? 1.0f : y;
            row[0] = Root(left * front);
            row[1] = Root(right * front);
            row[2] = Root(centre * front);
            if (outMask & SL) {
                row[3] = Root((1.0f - x) * (1.0f - y));
                row[4] = Root((1.0f - y) * x);
            }
        } else if (outMask == (FL | FR | SL | SR)) {
            PanFourChannels(x, y, outMask, row);
        } else if (outputNoLFE.NumChannels() >= 2) {
            row[0] = Root(1.0f - x);
            row[1] = Root(x);
        }
        RouteLFE(input, output, matrix);
        return;
    }

    u32 inMask = inputNoLFE.ChannelMask() & AU_SPEAKER_MASK_2D;
    if (((inMask & BL) != 0) != ((inMask & SL) != 0)) inMask = (inMask & ~(BL | BR)) | SL | SR;
    if (inMask == 0) {
        RouteLFE(input, output, matrix);
        return;
    }
    const u32 virtualMask = inMask | outMask;
    const AuChannelConfig virtualLayout = AuChannelConfig::Standard(virtualMask);
    // Seeds: one row per input channel over the virtual layout's columns.
    const u32 vstride = AuMatrixRowStride(virtualLayout.NumChannels());
    f32 seedRows[kMaxVirtual * kVirtualStride] = {};
    auto seed = [&](u32 row, u32 column) -> f32& { return seedRows[row * vstride + column]; };
    f32 gains[kVirtualStride] = {};
    const u32 k = (virtualMask & FC) ? 1 : 0;
    const bool backsAndSides = (virtualMask & (BL | SL)) == (BL | SL);
    const bool sidesOnly = !(virtualMask & BL) && (virtualMask & SL);

    auto sevenOrFive = [&] {
        if (backsAndSides)
            PanSevenChannels(x, y, gains);
        else
            PanFiveChannels(x, y, gains);
    };
    auto sixOrFour = [&] {
        if (backsAndSides)
            PanSixChannels(x, y, virtualMask, gains);
        else
            PanFourChannels(x, y, virtualMask, gains);
    };
    switch (inMask) {
    case FL | FR:
        seed(0, 0) = seed(1, 1) = 1.0f;
        if (backsAndSides) {
            seed(0, 2 + k) = seed(0, 4 + k) = seed(1, 3 + k) = seed(1, 5 + k) = 1.0f;
            PanSixChannels(x, y, virtualMask, gains);
        } else if (sidesOnly) {
            seed(0, 2 + k) = seed(1, 3 + k) = 1.0f;
            PanFourChannels(x, y, virtualMask, gains);
        } else {
            gains[0] = Root(1.0f - x);
            gains[1] = Root(x);
        }
        break;
    case FL | FR | FC:
        seed(0, 0) = seed(1, 1) = seed(2, 2) = 1.0f;
        if (backsAndSides) {
            seed(0, 2 + k) = seed(0, 4 + k) = seed(1, 3 + k) = seed(1, 5 + k) = 1.0f;
            for (u32 col = 2 + k; col <= 5 + k; ++col)
                seed(2, col) = 0.5f;
            PanSevenChannels(x, y, gains);
        } else if (sidesOnly) {
            seed(0, 2 + k) = seed(1, 3 + k) = 1.0f;
            seed(2, 2 + k) = seed(2, 3 + k) = 0.5f;
            PanFiveChannels(x, y, gains);
        } else {
            gains[0] = Root((2.0f - 2.0f * x) * kThird);
            gains[1] = Root(2.0f * x * kThird);
            gains[2] = Root(kThird);
        }
        break;
    case FL | FR | SL | SR:
        seed(0, 0) = seed(1, 1) = seed(2, 2 + k) = seed(3, 3 + k) = 1.0f;
        if (backsAndSides) seed(2, 4 + k) = seed(3, 5 + k) = 1.0f;
        sixOrFour();
        break;
    case FL | FR | FC | SL | SR:
        seed(0, 0) = seed(1, 1) = seed(2, 2) = seed(3, 2 + k) = seed(4, 3 + k) = 1.0f;
        if (backsAndSides) seed(3, 4 + k) = seed(4, 5 + k) = 1.0f;
        sevenOrFive();
        break;
    case FL | FR | BL | BR | SL | SR:
    case FL | FR | FC | BL | BR | SL | SR:
        if (inMask & FC) {
            for (u32 i = 0; i < 7; ++i)
                seed(i, i) = 1.0f;
            PanSevenChannels(x, y, gains);
        } else {
            seed(0, 0) = seed(1, 1) = 1.0f;
            for (u32 i = 2; i < 6; ++i)
                seed(i, i + k) = 1.0f;
            PanSixChannels(x, y, virtualMask, gains);
        }
        break;
    default:
        // No pan law for this layout: only its LFE is heard.
        RouteLFE(input, output, matrix);
        return;
    }
    for (u32 row = 0; row < kMaxVirtual; ++row)
        for (u32 col = 0; col < vstride; ++col)
            seed(row, col) *= gains[col];
    ApplyDownmixTables(AuChannelConfig::Standard(inMask), virtualLayout, output, output.NumChannels(),
                       seedRows, matrix);
    RouteLFE(input, output, matrix);
}

void CAuSpeakerPan::PanFourChannels(f32 x, f32 y, u32 mask, f32* gains) {
    gains[0] = Root((1.0f - x) * y);
    gains[1] = Root(x * y);
    u32 s0 = 2;
    if (mask & FC) gains[s0++] = 0.0f;
    gains[s0] = Root((1.0f - y) * (1.0f - x));
    gains[s0 + 1] = Root((1.0f - y) * x);
}

void CAuSpeakerPan::PanFiveChannels(f32 x, f32 y, f32* gains) {
    const f32 rear = y >= 0.5f ? (4.0f - 4.0f * y) * 0.2f : 1.0f - 6.0f * y * 0.2f;
    const f32 front = 1.0f - rear;
    gains[0] = Root(front * (2.0f - 2.0f * x) * kThird);
    gains[1] = Root(front * 2.0f * x * kThird);
    gains[2] = Root(front * kThird);
    gains[3] = Root(rear * (1.0f - x));
    gains[4] = Root(rear * x);
}

void CAuSpeakerPan::PanSixChannels(f32 x, f32 y, u32 mask, f32* gains) {
    const f32 front = std::max(0.0f, (4.0f * y - 1.0f) * kThird);
    const f32 back = std::max(0.0f, (3.0f - 4.0f * y) * kThird);
    const f32 side = 1.0f - (front + back);
    gains[0] = Root(front * (1.0f - x));
    gains[1] = Root(front * x);
    u32 s0 = 2;
    if (mask & FC) gains[s0++] = 0.0f;
    gains[s0] = Root(back * (1.0f - x));
    gains[s0 + 1] = Root(back * x);
    gains[s0 + 2] = Root(side * (1.0f - x));
    gains[s0 + 3] = Root(side * x);
}

void CAuSpeakerPan::PanSevenChannels(f32 x, f32 y, f32* gains) {
    const f32 front = std::max(0.0f, (8.0f * y - 1.0f) * kSeventh);
    const f32 back = std::max(0.0f, (7.0f - 10.0f * y) * kSeventh);
    const f32 side = 1.0f - (front + back);
    const f32 left = (2.0f - 2.0f * x) * kThird;
    gains[0] = Root(front * left);
    gains[1] = Root(front * (1.0f - (left + kThird)));
    gains[2] = Root(front * kThird);
    gains[3] = Root(back * (1.0f - x));
    gains[4] = Root(back * x);
    gains[5] = Root(side * (1.0f - x));
    gains[6] = Root(side * x);
}

void CAuSpeakerPan::PanSevenChannelsMono(f32 x, f32 y, f32 c, f32* gains) {
    f32 centre, right;
    MonoShares(x, c, centre, right);
    const f32 front = std::max(0.0f, (4.0f * y - 1.0f) * kThird);
    const f32 back = std::max(0.0f, (3.0f - 4.0f * y) * kThird);
    const f32 side = 1.0f - (front + back);
    gains[0] = Root(front * (1.0f - right - centre));
    gains[1] = Root(front * right);
    gains[2] = Root(front * centre);
    gains[3] = Root(back * (1.0f - x));
    gains[4] = Root(back * x);
    gains[5] = Root(side * (1.0f - x));
    gains[6] = Root(side * x);
}
