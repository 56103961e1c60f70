#include "voices/AuMixKernels.h"
#include "voices/AuOutputDevice.h"
#include "voices/AuSpeakerPan.h"

#include "../../support/AuDefaultPoolTest.h"

#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr f32 H = 0.70710678f;
constexpr f32 kPi = std::numbers::pi_v<f32>;

AuChannelConfig Std(u32 mask) {
    return AuChannelConfig::Standard(mask);
}

// A matrix of exactly the rows and padded columns of the two layouts, so that a write past a row
// or past the last row is seen by the address sanitizer.
struct Matrix {
    Matrix(AuChannelConfig input, AuChannelConfig output)
        : stride(AuMatrixRowStride(output.NumChannels())), values(input.NumChannels() * stride, -1.0f) {}
    f32* data() { return values.data(); }
    f32 at(u32 row, u32 column) const { return values[row * stride + column]; }
    u32 stride;
    std::vector<f32> values;
};

enum class Kind { NoPan, Pan };

struct MatrixCase {
    const char* name;
    Kind kind;
    AuChannelConfig input;
    AuChannelConfig output;
    f32 x, y, c;
    std::vector<std::vector<f32>> rows; // every other entry, padding included, is 0
};

} // namespace

TEST(SpeakerMatrixTest, EdgeCasesOfTheMatrices) {
    const MatrixCase cases[] = {
        {"stereo to mono", Kind::NoPan, Std(0x3), Std(0x4), 0, 0, 0, {{H}, {H}}},
        {"5.1 to stereo",
         Kind::NoPan,
         Std(0x60F),
         Std(0x3),
         0,
         0,
         0,
         {{1, 0}, {0, 1}, {H, H}, {H, 0}, {0, H}, {0, 0}}},
        {"7.1 to 5.1",
         Kind::NoPan,
         Std(0x63F),
         Std(0x60F),
         0,
         0,
         0,
         {{1},
          {0, 1},
          {0, 0, 1},
          {0, 0, 0, 1},
          {0, 0, 0, 0, 1},
          {0, 0, 0, 1},
          {0, 0, 0, 0, 1},
          {0, 0, 0, 0, 0, 1}}},
        {"mono on 5.0, no centre", Kind::Pan, Std(0x4), Std(0x607), 0.5f, 1, 0, {{H, H, 0, 0, 0}}},
        {"mono on 5.0, all centre", Kind::Pan, Std(0x4), Std(0x607), 0.5f, 1, 1, {{0, 0, 1, 0, 0}}},
        // The virtual layout is 0x607: each input channel is seeded to its front and side speakers,
        // weighted by the four-speaker law, the centre left out.
        {"stereo on 5.1",
         Kind::Pan,
         Std(0x3),
         Std(0x60F),
         0.5f,
         0.5f,
         0,
         {{0.5f, 0, 0, 0.5f, 0, 0}, {0, 0.5f, 0, 0, 0.5f, 0}}},
        {"anonymous 4 to 2",
         Kind::Pan,
         AuChannelConfig::Anonymous(4),
         AuChannelConfig::Anonymous(2),
         0.5f,
         0.5f,
         0,
         {{1, 0}, {0, 1}, {0, 0}, {0, 0}}},
        {"standard on anonymous",
         Kind::Pan,
         Std(0x3),
         AuChannelConfig::Anonymous(2),
         0.5f,
         0.5f,
         0,
         {{}, {}}},
        {"anonymous on standard", Kind::NoPan, AuChannelConfig::Anonymous(2), Std(0x3), 0, 0, 0, {{}, {}}},
        {"5.1 on 7.1 panned to the front",
         Kind::Pan,
         Std(0x60F),
         Std(0x63F),
         0.5f,
         1,
         0,
         // Front weight (8 - 1) / 7 = 1: the front channels keep the front law, the sides fold
         // onto the fronts of the virtual 7-speaker layout with the side law's zero share.
         {{std::sqrt(1.0f / 3), 0, 0, 0, 0, 0, 0, 0},
          {0, std::sqrt(1.0f / 3), 0, 0, 0, 0, 0, 0},
          {0, 0, std::sqrt(1.0f / 3), 0, 0, 0, 0, 0},
          {0, 0, 0, 0, 0, 0, 0, 0},
          {0, 0, 0, 0, 0, 0, 0, 0},
          {0, 0, 0, 0, 0, 0, 0, 1}}},
    };
    for (const MatrixCase& test : cases) {
        Matrix matrix(test.input, test.output);
        if (test.kind == Kind::NoPan)
            CAuSpeakerPan::ComputeMatrixNoPan(test.input, test.output, matrix.data());
        else
            CAuSpeakerPan::ComputeMixingMatrix(test.x, test.y, test.c, true, test.input, test.output,
                                               matrix.data());
        ASSERT_EQ(test.rows.size(), test.input.NumChannels()) << test.name;
        for (u32 r = 0; r < test.input.NumChannels(); ++r)
            for (u32 col = 0; col < matrix.stride; ++col) {
                const f32 expected = col < test.rows[r].size() ? test.rows[r][col] : 0.0f;
                EXPECT_NEAR(matrix.at(r, col), expected, 1e-6f)
                    << test.name << " row " << r << " column " << col;
            }
    }
}

TEST(SpeakerMatrixTest, TheLFEIsNeverPannedAndOnlyReachesAnLFE) {
    Matrix matrix(Std(0xF), Std(0x60F));
    CAuSpeakerPan::ComputeMixingMatrix(0.1f, 0.2f, 0.3f, true, Std(0xF), Std(0x60F), matrix.data());
    for (u32 col = 0; col < 5; ++col)
        EXPECT_EQ(matrix.at(3, col), 0.0f);
    EXPECT_EQ(matrix.at(3, 5), 1.0f);
    Matrix toStereo(Std(0xF), Std(0x3));
    CAuSpeakerPan::ComputeMixingMatrix(0.1f, 0.2f, 0.3f, true, Std(0xF), Std(0x3), toStereo.data());
    EXPECT_EQ(toStereo.at(3, 0), 0.0f);
    EXPECT_EQ(toStereo.at(3, 1), 0.0f);
}

TEST(SpeakerMatrixTest, MonoRowsCarryUnitPowerOnEveryLayoutWithALaw) {
    const u32 outputs[] = {0x4, 0x3, 0x7, 0x603, 0x607, 0x633, 0x637, 0x60F, 0x63F, 0xB};
    for (const u32 mask : outputs)
        for (u32 xi = 0; xi <= 10; ++xi)
            for (u32 yi = 0; yi <= 10; ++yi)
                for (u32 ci = 0; ci <= 10; ++ci) {
                    const f32 x = xi * 0.1f, y = yi * 0.1f, c = ci * 0.1f;
                    Matrix matrix(Std(0x4), Std(mask));
                    CAuSpeakerPan::ComputeMixingMatrix(x, y, c, true, Std(0x4), Std(mask), matrix.data());
                    f32 power = 0;
                    for (u32 col = 0; col < matrix.stride; ++col)
                        power += matrix.at(0, col) * matrix.at(0, col);
                    ASSERT_NEAR(power, 1.0f, 1e-5f)
                        << std::hex << mask << std::dec << " " << x << " " << y << " " << c;
                }
}

TEST(SpeakerMatrixTest, PanLawsFillTheirSlots) {
    f32 gains[8];
    std::fill(std::begin(gains), std::end(gains), -1.0f);
    CAuSpeakerPan::PanFourChannels(0.25f, 1.0f, 0x607, gains);
    EXPECT_FLOAT_EQ(gains[0], std::sqrt(0.75f));
    EXPECT_FLOAT_EQ(gains[1], 0.5f);
    EXPECT_EQ(gains[2], 0.0f) << "the centre's slot";
    EXPECT_EQ(gains[3], 0.0f);
    EXPECT_EQ(gains[4], 0.0f);
    EXPECT_EQ(gains[5], -1.0f) << "five slots only";

    // Rear share 1 - 6y x 0.2 below the middle, (4 - 4y) x 0.2 above it: 0.4 either way at 0.5.
    CAuSpeakerPan::PanFiveChannels(0.5f, 0.5f, gains);
    EXPECT_FLOAT_EQ(gains[3] * gains[3] + gains[4] * gains[4], 0.4f);
    CAuSpeakerPan::PanFiveChannels(0.5f, 0.25f, gains);
    EXPECT_FLOAT_EQ(gains[3] * gains[3] + gains[4] * gains[4], 0.7f);

    // At the front-rear middle the six-speaker law has front 1/3, back 1/3, side 1/3.
    CAuSpeakerPan::PanSixChannels(0.0f, 0.5f, 0x633, gains);
    EXPECT_NEAR(gains[0] * gains[0], 1.0f / 3, 1e-6f);
    EXPECT_NEAR(gains[2] * gains[2], 1.0f / 3, 1e-6f);
    EXPECT_NEAR(gains[4] * gains[4], 1.0f / 3, 1e-6f);
    EXPECT_EQ(gains[1] + gains[3] + gains[5], 0.0f);

    // The seven-speaker law: the centre carries a third of the front.
    CAuSpeakerPan::PanSevenChannels(0.5f, 1.0f, gains);
    EXPECT_NEAR(gains[2] * gains[2], 1.0f / 3, 1e-6f);
    EXPECT_NEAR(gains[0], gains[1], 1e-6f);
    CAuSpeakerPan::PanSevenChannelsMono(1.0f, 1.0f, 0.5f, gains);
    EXPECT_NEAR(gains[1], 1.0f, 1e-6f) << "hard right leaves nothing to the centre";
    EXPECT_NEAR(gains[2], 0.0f, 1e-6f);
}

TEST(SpeakerMatrixTest, MalformedWordsGiveSilenceWithoutWritingPastTheMatrix) {
    const AuChannelConfig odd[] = {
        AuChannelConfig(0x3101),                   // stereo mask counted as one channel
        AuChannelConfig(0x3108),                   // stereo mask counted as eight
        AuChannelConfig((0xFFFFFu << 12) | 0x10C), // every speaker bit, twelve channels
        AuChannelConfig(0x0102),                   // standard without a mask
        AuChannelConfig(0x70F0 | (0x2u << 8)),     // an unknown type
        AuChannelConfig::Anonymous(200),
    };
    const AuChannelConfig outputs[] = {Std(0x3), Std(0x63F), AuChannelConfig(0x3101),
                                       AuChannelConfig::Anonymous(9)};
    for (const AuChannelConfig input : odd)
        for (const AuChannelConfig output : outputs) {
            for (const bool pan : {false, true}) {
                Matrix matrix(input, output);
                CAuSpeakerPan::ComputeMixingMatrix(0.3f, 0.6f, 0.5f, pan, input, output, matrix.data());
                Matrix direct(input, output);
                CAuSpeakerPan::ComputeMatrixNoPan(input, output, direct.data());
                if (input.IsStandard() && output.IsStandard() &&
                    (input.NumChannels() != static_cast<u32>(__builtin_popcount(input.ChannelMask())) ||
                     output.NumChannels() != static_cast<u32>(__builtin_popcount(output.ChannelMask())))) {
                    for (const f32 value : matrix.values)
                        ASSERT_EQ(value, 0.0f) << std::hex << input.uWord << " " << output.uWord;
                }
            }
        }
}

namespace {

// An output device of a layout with its angles, without a sink, over the default and the
// lower-engine pools.
class SpeakerPanTest : public AuDefaultPoolTest {
protected:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        g_LEngineDefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 1u << 20, 64, AuPoolAttrMalloc, 16);
        ASSERT_NE(g_LEngineDefaultPoolId, -1);
        CAuSpeakerPan::Init();
    }
    void TearDown() override {
        m_device.Destroy();
        g_LEngineDefaultPoolId = -1;
        AuDefaultPoolTest::TearDown();
    }
    void SetAngles(f32 front, f32 side, f32 back) {
        const f32 degrees[3] = {front, side, back};
        ASSERT_EQ(m_device.SetSpeakerAngles(degrees, 3, 0.0f), AuResultSuccess);
    }
    // The amplitude row of one direction in units (positive to the left).
    std::vector<f32> Pan2D(AuChannelConfig layout, f32 units, f32 c) {
        std::vector<f32> row(AuMatrixRowStride(layout.NumChannels()), -1.0f);
        EXPECT_EQ(
            CAuSpeakerPan::GetSpeakerVolumes2DPan(m_device, -units * 2 * kPi / 512, layout, c, row.data()),
            AuResultSuccess);
        return row;
    }
    std::vector<f32> Pan3D(AuChannelConfig output, u32 inputs, f32 azimuth, f32 spread, f32 focus,
                           f32 c = 0) {
        std::vector<f32> matrix(inputs * AuMatrixRowStride(output.NumChannels()), -1.0f);
        EXPECT_EQ(CAuSpeakerPan::GetSpeakerVolumes3D(azimuth, c, spread, focus, matrix.data(), inputs, output,
                                                     m_device),
                  AuResultSuccess);
        return matrix;
    }

    CAuOutputDevice m_device;
};

void ExpectRow(const std::vector<f32>& row, const std::vector<f32>& expected, const char* what) {
    for (u32 i = 0; i < row.size(); ++i)
        EXPECT_NEAR(row[i], i < expected.size() ? expected[i] : 0.0f, 1e-5f) << what << " slot " << i;
}

} // namespace

TEST_F(SpeakerPanTest, StereoSpeakersAheadLeftAndBehind) {
    SetAngles(30, 110, 142.5f);
    ExpectRow(Pan2D(Std(0x3), 0, 0), {H, H}, "ahead");
    ExpectRow(Pan2D(Std(0x3), 64, 0), {1, 0}, "90 degrees left");
    ExpectRow(Pan2D(Std(0x3), -64, 0), {0, 1}, "90 degrees right");
    ExpectRow(Pan2D(Std(0x3), 256, 0), {H, H}, "behind");
    ExpectRow(Pan2D(Std(0x3), 43, 0), {1, 0}, "on the left speaker");
    // The LFE of the layout is never part of the row.
    ExpectRow(Pan2D(Std(0xB), 128, 0), {1, 0, 0, 0}, "90 degrees left with an LFE");
}

TEST_F(SpeakerPanTest, HeadphonesFollowTheSineLaw) {
    SetAngles(30, 110, 142.5f);
    m_device.ePanningRule = AuPanningRule_Headphones;
    const AuPanTable* table = nullptr;
    ASSERT_EQ(CAuSpeakerPan::PreparePanTables(m_device, Std(0x3)), AuResultSuccess);
    table = CAuSpeakerPan::GetPanTable(m_device, 0x3);
    ASSERT_NE(table, nullptr);
    const struct {
        i32 direction;
        f32 left;
    } cases[] = {{0, 0.5f}, {256, 0.5f}, {128, 1.0f}, {384, 0.0f}, {-128, 0.0f}, {512 + 128, 1.0f}};
    for (const auto& test : cases) {
        f32 row[4] = {};
        CAuSpeakerPan::AddSpeakerVolumesPower(test.direction, 0, Std(0x3), *table, m_device, row);
        EXPECT_NEAR(row[0], test.left, 1e-6f) << test.direction;
        EXPECT_NEAR(row[0] + row[1], 1.0f, 1e-6f) << test.direction;
        EXPECT_EQ(row[2], 0.0f);
    }
}

TEST_F(SpeakerPanTest, EveryPanTableEntryCarriesUnitPower) {
    const f32 angleSets[][3] = {{30, 100, 142.5f}, {45, 110, 142.5f}, {20, 60, 80}, {10, 30, 175}};
    const u32 masks[] = {0x3, 0x7, 0x603, 0x607, 0x633, 0x637, 0x33, 0x37, 0x0};
    for (const auto& angles : angleSets) {
        SetAngles(angles[0], angles[1], angles[2]);
        for (const u32 mask : masks) {
            AuPanTable table;
            CAuSpeakerPan::CreatePanTable(mask, m_device.pSpeakerAngles, m_device.uNumSpeakerAngles, table);
            if (mask == 0) continue; // a layout without a pair has nothing to share
            for (u32 f = 0; f < AU_PAN_TABLE_ENTRIES; ++f) {
                ASSERT_NEAR(table.fGains[f][0] + table.fGains[f][1], 1.0f, 1e-5f)
                    << std::hex << mask << std::dec << " entry " << f << " front " << angles[0];
                ASSERT_GE(table.fGains[f][0], 0.0f);
                ASSERT_GE(table.fGains[f][1], 0.0f);
            }
        }
    }
}

// The tables are built with direct sine calls; a running recurrence with 2 cos(one unit), as the
// law can also be computed, gives the same entries to float precision.
TEST_F(SpeakerPanTest, PanTablesAgreeWithTheSineRecurrence) {
    SetAngles(30, 100, 142.5f); // 43, 142, 203 units
    f32 sines[512];
    const f32 twoCos = 2 * std::cos(2 * kPi / 512);
    sines[0] = 0;
    sines[1] = std::sin(2 * kPi / 512);
    for (u32 k = 2; k < 512; ++k)
        sines[k] = twoCos * sines[k - 1] - sines[k - 2];
    auto sine = [&](i32 units) { return sines[units]; };
    // Regions of 0x633 at these angles: from the right front (-43) to the left front, then to the
    // side (142), to the back (203) and from the left back to its mirror (309).
    const i32 regions[][3] = {{-43, 43, 43}, {43, 142, 142}, {142, 203, 203}, {203, 309, 256}};
    AuPanTable table;
    CAuSpeakerPan::CreatePanTable(0x633, m_device.pSpeakerAngles, m_device.uNumSpeakerAngles, table);
    i32 f = 0;
    for (const auto& region : regions)
        for (; f <= region[2]; ++f) {
            const f32 s1 = sine(region[1] - f), s2 = sine(f - region[0]);
            const f32 first = s1 * s1 / (s1 * s1 + s2 * s2);
            ASSERT_NEAR(table.fGains[f][0], first, 1e-5f) << f;
            ASSERT_NEAR(table.fGains[f][1], 1 - first, 1e-5f) << f;
        }
}

TEST_F(SpeakerPanTest, CentreFractionBlendsThePhantomAndTheRealCentre) {
    SetAngles(30, 110, 142.5f);
    const AuChannelConfig layout = Std(0x607);
    for (const f32 units : {0.0f, 20.0f, -30.0f}) {
        const std::vector<f32> none = Pan2D(layout, units, 0);
        EXPECT_EQ(none[2], 0.0f) << units;
        const std::vector<f32> all = Pan2D(layout, units, 1);
        f32 power = 0, half = 0;
        for (const f32 g : all)
            power += g * g;
        EXPECT_NEAR(power, 1.0f, 1e-5f) << units;
        const std::vector<f32> blend = Pan2D(layout, units, 0.5f);
        for (const f32 g : blend)
            half += g * g;
        EXPECT_NEAR(half, 1.0f, 1e-5f) << units;
    }
    ExpectRow(Pan2D(layout, 0, 1), {0, 0, 1, 0, 0}, "ahead, all to the centre");
    ExpectRow(Pan2D(layout, 0, 0), {H, H, 0, 0, 0}, "ahead, phantom centre");
    // Beyond the front pair the centre takes no part.
    ExpectRow(Pan2D(layout, 128, 1), Pan2D(layout, 128, 0), "left side");
}

TEST_F(SpeakerPanTest, SurroundRegionsPickTheirPairs) {
    SetAngles(30, 100, 142.5f); // 43, 142, 203
    // 7.0: FL FR FC BL BR SL SR. On a speaker the whole power is there.
    ExpectRow(Pan2D(Std(0x637), 142, 0), {0, 0, 0, 0, 0, 1, 0}, "side left");
    ExpectRow(Pan2D(Std(0x637), -203, 0), {0, 0, 0, 0, 1, 0, 0}, "back right");
    ExpectRow(Pan2D(Std(0x637), 256, 0), {0, 0, 0, H, H, 0, 0}, "behind");
    // 5.1 keeps its sides at the side angle, the rear between them.
    ExpectRow(Pan2D(Std(0x60F), 142, 0), {0, 0, 0, 1, 0, 0, 0, 0}, "side left of 5.1");
    ExpectRow(Pan2D(Std(0x60F), 256, 0), {0, 0, 0, H, H, 0, 0, 0}, "behind 5.1");
}

TEST_F(SpeakerPanTest, NonFiniteAzimuthsPanStraightAhead) {
    SetAngles(30, 110, 142.5f);
    const std::vector<f32> ahead = Pan2D(Std(0x607), 0, 0.3f);
    for (const f32 azimuth : {std::nanf(""), INFINITY, -INFINITY}) {
        std::vector<f32> row(8, -1.0f);
        ASSERT_EQ(CAuSpeakerPan::GetSpeakerVolumes2DPan(m_device, azimuth, Std(0x607), 0.3f, row.data()),
                  AuResultSuccess);
        ExpectRow(row, ahead, "non-finite 2D");
        EXPECT_EQ(CAuSpeakerPan::AzimuthToDirection(azimuth), 0u);
        ExpectRow(Pan3D(Std(0x60F), 2, azimuth, 50, 0), Pan3D(Std(0x60F), 2, 0, 50, 0), "non-finite 3D");
    }
    // Huge finite azimuths wrap like any other.
    EXPECT_EQ(CAuSpeakerPan::AzimuthToDirection(-kPi / 2), 128u);
    EXPECT_EQ(CAuSpeakerPan::AzimuthToDirection(kPi / 2 + 20 * kPi), 384u);
    EXPECT_LT(CAuSpeakerPan::AzimuthToDirection(1e30f), 512u);
}

TEST_F(SpeakerPanTest, SpreadZeroIsAPointSourceAndFocusCollapsesThePoints) {
    SetAngles(30, 110, 142.5f);
    const AuChannelConfig output = Std(0x60F);
    const f32 azimuth = -0.3f;
    const f32 units = 0.3f * 512 / (2 * kPi);
    // A mono source with no spread is the 2D pan of its direction.
    std::vector<f32> point = Pan2D(output, std::round(units), 0);
    point.resize(8, 0.0f);
    ExpectRow(Pan3D(output, 1, azimuth, 0, 0), point, "spread 0");
    // Focus 100: each channel of a stereo source sits at its own point, a quarter of the arc away.
    const std::vector<f32> focused = Pan3D(output, 2, azimuth, 50, 100);
    const u32 stride = 8;
    std::vector<f32> left = Pan2D(output, std::trunc(units + 64 + 0.5f), 0);
    std::vector<f32> right = Pan2D(output, std::trunc(512 + units - 64 + 0.5f) - 512, 0);
    left.resize(stride, 0.0f);
    right.resize(stride, 0.0f);
    for (u32 i = 0; i < stride; ++i) {
        EXPECT_NEAR(focused[i], left[i] * H, 1e-5f) << i;
        EXPECT_NEAR(focused[stride + i], right[i] * H, 1e-5f) << i;
    }
}

TEST_F(SpeakerPanTest, SpreadShareOutThePowerOverHalfATurn) {
    SetAngles(30, 110, 142.5f);
    // Full spread puts the two channels of a stereo source at 90 degrees left and right.
    const std::vector<f32> stereo = Pan3D(Std(0x3), 2, 0, 100, 100);
    ExpectRow({stereo.begin(), stereo.begin() + 4}, {H, 0}, "left channel");
    ExpectRow({stereo.begin() + 4, stereo.end()}, {0, H}, "right channel");
    for (const f32 spread : {0.0f, 50.0f, 100.0f})
        for (const u32 inputs : {1u, 2u, 5u, 6u}) {
            const std::vector<f32> matrix = Pan3D(Std(0x60F), inputs, 0.7f, spread, 20);
            f32 power = 0;
            for (u32 r = 0; r < inputs; ++r) {
                EXPECT_EQ(matrix[r * 8 + 5], 0.0f) << "the LFE column";
                EXPECT_EQ(matrix[r * 8 + 6] + matrix[r * 8 + 7], 0.0f) << "padding";
                for (u32 col = 0; col < 8; ++col)
                    power += matrix[r * 8 + col] * matrix[r * 8 + col];
            }
            EXPECT_NEAR(power, 1.0f, 1e-5f) << spread << " " << inputs;
        }
    // The channels lie around the arc from the left rear through the front to the right rear: a
    // focused 5.0 source at full spread on 7.0 has its side channels on the back speakers (205
    // units each way, beyond the backs at 203).
    const std::vector<f32> five = Pan3D(Std(0x637), 5, 0, 100, 100);
    auto loudest = [&](u32 row) {
        return static_cast<u32>(std::max_element(five.begin() + row * 8, five.begin() + row * 8 + 8) -
                                (five.begin() + row * 8));
    };
    EXPECT_EQ(loudest(3), 3u) << "side left on back left";
    EXPECT_EQ(loudest(4), 4u) << "side right on back right";
    EXPECT_EQ(five[2 * 8 + 2], 0.0f) << "without a centre fraction the centre is a phantom";
    const std::vector<f32> withCentre = Pan3D(Std(0x637), 5, 0, 100, 100, 1.0f);
    EXPECT_NEAR(withCentre[2 * 8 + 2], std::sqrt(0.2f), 1e-6f) << "centre on the centre";
    EXPECT_EQ(loudest(0), 5u) << "front left, 102 units left, on side left";
}

TEST_F(SpeakerPanTest, OneSpeakerHearsEverythingAndBadInputIsRefused) {
    SetAngles(30, 110, 142.5f);
    ExpectRow(Pan3D(Std(0x4), 2, 1.0f, 50, 0), {1, 0, 0, 0, 1}, "mono output");
    std::vector<f32> matrix(8 * 4, -1.0f);
    EXPECT_EQ(CAuSpeakerPan::GetSpeakerVolumes3D(0, 0, 0, 0, matrix.data(), 8, Std(0x3), m_device),
              AuResultFail);
    for (const f32 value : matrix)
        EXPECT_EQ(value, 0.0f);
    // A 5.1 mask counted as two channels would have rows too short for its speakers.
    std::vector<f32> shortRows(2 * 4, -1.0f);
    EXPECT_EQ(CAuSpeakerPan::GetSpeakerVolumes3D(0.5f, 0, 50, 0, shortRows.data(), 2,
                                                 AuChannelConfig(0x60F102), m_device),
              AuResultFail);
    for (const f32 value : shortRows)
        EXPECT_EQ(value, 0.0f);
    std::vector<f32> row(4, -1.0f);
    EXPECT_EQ(
        CAuSpeakerPan::GetSpeakerVolumes2DPan(m_device, 0, AuChannelConfig::Anonymous(2), 0, row.data()),
        AuResultFail);
    EXPECT_EQ(row[0], 0.0f);
    // Spread and focus beyond their range do not multiply the points.
    const std::vector<f32> wide = Pan3D(Std(0x3), 1, 0, 1e9f, -5);
    ExpectRow(wide, Pan3D(Std(0x3), 1, 0, 100, 0), "spread above 100");
}

TEST_F(SpeakerPanTest, ADeviceMakesBothTablesOfACentreLayoutBeforePanning) {
    SetAngles(30, 110, 142.5f);
    ASSERT_EQ(CAuSpeakerPan::PreparePanTables(m_device, Std(0x60F)), AuResultSuccess);
    EXPECT_NE(CAuSpeakerPan::GetPanTable(m_device, 0x607), nullptr);
    EXPECT_NE(CAuSpeakerPan::GetPanTable(m_device, 0x603), nullptr);
    EXPECT_EQ(m_device.panTables.Count(), 2u);
    ASSERT_EQ(CAuSpeakerPan::PreparePanTables(m_device, Std(0x603)), AuResultSuccess);
    EXPECT_EQ(m_device.panTables.Count(), 2u);
}
