// The obstruction and occlusion curves as the voice side reads them.
#include "core/AuCurveTable.h"

#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

class CurveTableTest : public AuDefaultPoolTest {
protected:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        ASSERT_EQ(m_table.Init(), AuResultSuccess);
    }
    void TearDown() override {
        m_table.Term();
        EXPECT_EQ(Used(), m_usedAtStart);
        AuDefaultPoolTest::TearDown();
    }
    void Set(u32 group, u32 output, bool enabled, u8 scaling, std::vector<AuBankCurvePoint> points) {
        m_table.SetCurve(group, output, enabled, scaling, points.data(), static_cast<u32>(points.size()));
    }
    CAuCurveTable m_table;
};

TEST_F(CurveTableTest, AMissingCurveLeavesTheVoiceAsItIs) {
    const u32 linear = AuCurveInterpolation_Linear;
    Set(AuEnvironmentGroup_Obstruction, AuEnvironmentOutput_Volume, false, 0,
        {{0, -20, linear}, {100, -40, linear}});
    Set(AuEnvironmentGroup_Occlusion, AuEnvironmentOutput_LowPass, true, 1, {});
    EXPECT_EQ(m_table.Value(AuEnvironmentGroup_Obstruction, AuEnvironmentOutput_Volume, 50.0f), 1.0f)
        << "disabled";
    EXPECT_EQ(m_table.Value(AuEnvironmentGroup_Occlusion, AuEnvironmentOutput_LowPass, 50.0f), 1.0f)
        << "empty";
    EXPECT_EQ(m_table.Value(AuEnvironmentGroup_Occlusion, AuEnvironmentOutput_HighPass, 50.0f), 1.0f)
        << "never set";
    EXPECT_EQ(m_table.Value(2, 0, 50.0f), 1.0f) << "no such group";
    EXPECT_EQ(m_table.VolumeFactor(255, 255), 1.0f);
}

TEST_F(CurveTableTest, TheVolumeFactorIsOcclusionTimesObstruction) {
    const u32 linear = AuCurveInterpolation_Linear;
    // Decibels, converted when read (by the engine's fast conversion, within 0.1 %): occlusion 0
    // at 0 dB is a factor of 1.
    Set(AuEnvironmentGroup_Occlusion, AuEnvironmentOutput_Volume, true, 0,
        {{0, 0, linear}, {100, -20, linear}});
    // Offsets from 1.0.
    Set(AuEnvironmentGroup_Obstruction, AuEnvironmentOutput_Volume, true, 2,
        {{0, 0, linear}, {100, -0.5f, linear}});
    // The filters' values as the curve gives them.
    Set(AuEnvironmentGroup_Obstruction, AuEnvironmentOutput_LowPass, true, 0,
        {{0, 0, linear}, {100, 60, linear}});
    EXPECT_NEAR(m_table.VolumeFactor(0, 0), 1.0f, 1e-3f);
    EXPECT_NEAR(m_table.Value(AuEnvironmentGroup_Occlusion, AuEnvironmentOutput_Volume, 100.0f), 0.1f, 1e-3f);
    EXPECT_NEAR(m_table.VolumeFactor(255, 255), 0.05f, 1e-3f);
    EXPECT_NEAR(m_table.VolumeFactor(0, 255), 0.1f, 1e-3f);
    // 51 of 255 is 20 %.
    EXPECT_NEAR(m_table.VolumeFactor(51, 0), 0.9f, 1e-3f);
    EXPECT_NEAR(m_table.Value(AuEnvironmentGroup_Obstruction, AuEnvironmentOutput_LowPass, 50.0f), 30.0f,
                1e-4f);
}

} // namespace
