#include "BankFakes.h"
#include "RTPCMgrFixture.h"
#include "banks/AuBankSettings.h"
#include "core/AuTransitionMgr.h"
#include "parameters/AuRTPCMgr.h"

#include <AU/SoundEngine.h>
#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

namespace {

class BusVolume : public IAuNodeSubscriber {
public:
    bool HasActivity() noexcept override { return false; } // an idle bus still follows its volume
    void SetParamFromRTPC(const AuRTPCSubscription&, u32 propertyID, u32, f32 value, const AuRTPCKey&,
                          const CAuRTPCFilter*) noexcept override {
        if (propertyID == 5) volumes.push_back(value);
    }
    void RecalcProps(u32) noexcept override {}
    std::vector<f32> volumes;
};

// The engine's reader of "STMG" feeds the manager; the other chunks are recorded.
class InitBankSettingsTest : public RTPCMgrFixture {
protected:
    void SetUp() override {
        RTPCMgrFixture::SetUp();
        g_pRTPCMgr = &mgr;
    }
    void TearDown() override {
        g_pRTPCMgr = nullptr;
        RTPCMgrFixture::TearDown();
    }
};

TEST_F(InitBankSettingsTest, TheInitBankSetsBothVolumeDefaultsAndItsCurveFadesABus) {
    std::ifstream file(std::string(TORVIK_SOUNDBANKS_DIR) + "/Init.bnk", std::ios::binary);
    ASSERT_TRUE(file) << TORVIK_SOUNDBANKS_DIR;
    const std::vector<u8> image{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    CAuBankReader reader;
    ASSERT_EQ(reader.Init(), AuResultSuccess);
    reader.SetMemory(image.data(), u32(image.size()));
    banktest::RecordingSinks recorded;
    CAuBankSettingsSink settings;
    AuBankChunkSinks sinks = recorded.Sinks(nullptr);
    sinks.pSettings = &settings;
    AuBankHeader header{};
    ASSERT_EQ(AuReadBank(reader, AuBankLoadModeLoad, false, sinks, header), AuResultSuccess);
    EXPECT_FALSE(recorded.calls.empty()); // the hierarchy went elsewhere

    const u32 sfx = AU::SoundEngine::GetIDFromString("SFX_VO_Bus_Volume");
    const u32 music = AU::SoundEngine::GetIDFromString("Music_Ambience_Bus_Volume");
    bool found = false;
    EXPECT_EQ(mgr.GetDefaultValue(sfx, &found), 100.0f);
    EXPECT_TRUE(found);
    EXPECT_EQ(mgr.GetDefaultValue(music, &found), 100.0f);
    EXPECT_TRUE(found);

    // The bank's bus curve: a gain proportional to the slider, a line from -1 to 0 in decibels.
    const AuCurvePoint curve[] = {{0, -1.0f, AuCurveInterpolation_Linear},
                                  {100, 0, AuCurveInterpolation_Linear}};
    BusVolume bus;
    ASSERT_EQ(mgr.SubscribeRTPC(&bus, sfx, AuRTPCDrivingType_GameParameter, AuRTPCMode_Single, 5, 1,
                                AuCurveScaling_LinearToDb, curve, 2, AuRTPCKey{}, AuRTPCSubscriberKind_Bus),
              AuResultSuccess);
    EXPECT_EQ(mgr.GetRTPCConvertedValue(&bus, 5, AuRTPCKey{}), 0.0f); // at the default
    ASSERT_EQ(
        mgr.SetRTPCInternal(sfx, 50, AuRTPCKey{}, TransParamsBase{500, AuCurveInterpolation_Linear, false}),
        AuResultSuccess);
    for (u32 frame = 1; frame <= 24; ++frame)
        transitions.ProcessTransitionsList(frame);
    ASSERT_EQ(bus.volumes.size(), 24u);
    EXPECT_GT(bus.volumes[0], bus.volumes[1]); // moving down frame by frame
    EXPECT_NEAR(bus.volumes.back(), -6.02f, 0.05f);
    EXPECT_NEAR(mgr.GetRTPCConvertedValue(&bus, 5, AuRTPCKey{}), -6.02f, 0.05f);
    // Gentle near the top, steep only towards the bottom, silent only at 0.
    const struct {
        f32 slider, db, tolerance;
    } cases[] = {{90, -0.92f, 0.05f}, {10, -20.0f, 0.1f}, {1, -40.0f, 0.2f}};
    for (const auto& c : cases) {
        ASSERT_EQ(mgr.SetRTPCInternal(sfx, c.slider, AuRTPCKey{},
                                      TransParamsBase{0, AuCurveInterpolation_Linear, true}),
                  AuResultSuccess);
        EXPECT_NEAR(mgr.GetRTPCConvertedValue(&bus, 5, AuRTPCKey{}), c.db, c.tolerance) << c.slider;
    }
    ASSERT_EQ(mgr.SetRTPCInternal(sfx, 0, AuRTPCKey{}, TransParamsBase{0, AuCurveInterpolation_Linear, true}),
              AuResultSuccess);
    EXPECT_LT(mgr.GetRTPCConvertedValue(&bus, 5, AuRTPCKey{}), -96.0f);
}

} // namespace
