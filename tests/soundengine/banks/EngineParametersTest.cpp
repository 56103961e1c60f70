// Game parameters in the running engine: the banks' "STMG" settings reach the RTPC manager, the
// game's sets travel through the message ring and move on the audio thread frame by frame, and a
// moved game object feeds the distance parameter.
#include "BankEngineSupport.h"

#include "core/AuEngineManagers.h"
#include "core/AuRegistryMgr.h"
#include "core/AuThreads.h"
#include "core/AuTransitionMgr.h"
#include "parameters/AuRTPCMgr.h"

#include <bankgen/Bank.h>

#include <condition_variable>
#include <mutex>
#include <vector>

namespace banktest {
namespace {

using namespace AU::SoundEngine;

constexpr u32 kGlobal = AU_INVALID_GAME_OBJECT;
constexpr u32 kBusVolume = 5;

// What an idle bus receives for its volume, and at which audio frame.
class RecordingBus : public IAuNodeSubscriber {
public:
    bool HasActivity() noexcept override { return false; }
    void SetParamFromRTPC(const AuRTPCSubscription&, u32 propertyID, u32, f32 value, const AuRTPCKey&,
                          const CAuRTPCFilter*) noexcept override {
        if (propertyID != kBusVolume) return;
        std::lock_guard guard(m_lock);
        m_values.push_back(value);
        m_frames.push_back(g_pTransitionMgr->CurrentFrame());
        m_changed.notify_all();
    }
    void RecalcProps(u32) noexcept override {}

    // Waits for `count` deliveries; the values and frames up to then.
    void WaitFor(size_t count, std::vector<f32>& values, std::vector<u32>& frames) {
        std::unique_lock guard(m_lock);
        m_changed.wait(guard, [&] { return m_values.size() >= count; });
        values = m_values;
        frames = m_frames;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<f32> m_values;
    std::vector<u32> m_frames;
};

struct FrameCount {
    std::mutex lock;
    std::condition_variable changed;
    u32 count = 0;
};
FrameCount* g_frames = nullptr;

void OnFrame(bool) {
    std::lock_guard guard(g_frames->lock);
    ++g_frames->count;
    g_frames->changed.notify_all();
}

class EngineParametersTest : public BankEngineTest {
protected:
    void SetUp() override {
        BankEngineTest::SetUp();
        // The engine's own reader of the settings; the curves and the hierarchy stay recorded.
        g_pBankMgr->SetChunkSinks(nullptr, &m_sinks, &m_sinks);
        g_frames = &m_frames;
        ASSERT_EQ(RegisterGlobalCallback(OnFrame), AuResultSuccess);
    }
    void TearDown() override {
        if (IsInitialized()) Term();
        g_frames = nullptr;
        BankEngineTest::TearDown();
    }
    // Closes the frame of calls and waits for two passes: the second began after the frame was
    // closed, so the frame's records have run.
    void RenderAndWait() {
        std::unique_lock guard(m_frames.lock);
        const u32 target = m_frames.count + 2;
        guard.unlock();
        ASSERT_EQ(RenderAudio(), AuResultSuccess);
        guard.lock();
        m_frames.changed.wait(guard, [&] { return m_frames.count >= target; });
    }
    f32 ValueAt(u32 paramID, u32 gameObjID) {
        CAuMainLock lock;
        CAuRegisteredObj* object = g_pRegistryMgr->GetObjAndAddref(gameObjID);
        const f32 value = g_pRTPCMgr->GetRTPCValue(paramID, AuRTPCKey(object));
        if (object) object->Release();
        return value;
    }

    FrameCount m_frames;
    bankgen::Bytes m_bank; // loaded in place: lives past Term
};

TEST_F(EngineParametersTest, TheInitBanksVolumeFadesABusFrameByFrameOnTheAudioThread) {
    AuBankID init = 0;
    ASSERT_EQ(LoadBank("Init.bnk", AU_INVALID_POOL_ID, init), AuResultSuccess);
    const u32 sfx = GetIDFromString("SFX_VO_Bus_Volume");
    const u32 music = GetIDFromString("Music_Ambience_Bus_Volume");
    // The Init bank's bus curve: a gain proportional to the slider, a line from -1 to 0 in decibels.
    const AuCurvePoint curve[] = {{0, -1.0f, AuCurveInterpolation_Linear},
                                  {100, 0, AuCurveInterpolation_Linear}};
    RecordingBus bus;
    {
        CAuMainLock lock;
        bool found = false;
        EXPECT_EQ(g_pRTPCMgr->GetDefaultValue(sfx, &found), 100.0f);
        EXPECT_TRUE(found);
        EXPECT_EQ(g_pRTPCMgr->GetDefaultValue(music, &found), 100.0f);
        EXPECT_TRUE(found);
        ASSERT_EQ(g_pRTPCMgr->SubscribeRTPC(&bus, sfx, AuRTPCDrivingType_GameParameter, AuRTPCMode_Single,
                                            kBusVolume, 1, AuCurveScaling_LinearToDb, curve, 2, AuRTPCKey{},
                                            AuRTPCSubscriberKind_Bus),
                  AuResultSuccess);
    }
    ASSERT_EQ(SetRTPCValue("SFX_VO_Bus_Volume", 50, kGlobal, 500, AuCurveInterpolation_Linear, false),
              AuResultSuccess);
    ASSERT_EQ(RenderAudio(), AuResultSuccess);

    std::vector<f32> values;
    std::vector<u32> frames;
    bus.WaitFor(24, values, frames);
    {
        CAuMainLock lock;
        // Done with the 24th frame: no ramp is left to deliver more.
        EXPECT_EQ(g_pTransitionMgr->Count(0), 0u);
        EXPECT_EQ(g_pRTPCMgr->GetRTPCValue(sfx, AuRTPCKey{}), 50.0f);
        EXPECT_NEAR(g_pRTPCMgr->GetRTPCConvertedValue(&bus, kBusVolume, AuRTPCKey{}), -6.02f, 0.05f);
        g_pRTPCMgr->UnSubscribeRTPC(&bus);
    }
    ASSERT_EQ(values.size(), 24u);
    EXPECT_LT(values[0], 0.0f);
    for (size_t i = 1; i < values.size(); ++i) {
        EXPECT_LT(values[i], values[i - 1]) << i;
        EXPECT_EQ(frames[i], frames[0] + i) << i; // one value per audio frame
    }
    EXPECT_NEAR(values.back(), -6.02f, 0.05f);
}

TEST_F(EngineParametersTest, AResetThroughTheRingReturnsToTheBanksDefault) {
    AuBankID init = 0;
    ASSERT_EQ(LoadBank("Init.bnk", AU_INVALID_POOL_ID, init), AuResultSuccess);
    const u32 music = GetIDFromString("Music_Ambience_Bus_Volume");
    ASSERT_EQ(RegisterGameObj(30), AuResultSuccess);
    ASSERT_EQ(SetRTPCValue(music, 20, 30), AuResultSuccess);
    ASSERT_EQ(SetRTPCValue(music, 40, 31), AuResultSuccess); // never registered: dropped
    RenderAndWait();
    EXPECT_EQ(ValueAt(music, 30), 20.0f);
    EXPECT_EQ(ValueAt(music, 31), 100.0f);
    ASSERT_EQ(ResetRTPCValue("Music_Ambience_Bus_Volume", 30), AuResultSuccess);
    RenderAndWait();
    EXPECT_EQ(ValueAt(music, 30), 100.0f);
}

TEST_F(EngineParametersTest, AMovedObjectFeedsTheDistanceParameterOfItsOwnOnly) {
    constexpr u32 kDistance = 0x400;
    bankgen::Settings settings;
    settings.gameParameters.push_back({kDistance, 0.0f, 0, 0.0f, 0.0f, 1});
    bankgen::BankBuilder builder(7);
    builder.SetSettings(settings);
    std::vector<std::string> errors;
    ASSERT_TRUE(builder.Build(m_bank, errors));
    AuBankID id = 0;
    ASSERT_EQ(LoadBank(m_bank.data(), static_cast<u32>(m_bank.size()), g_DefaultPoolId, id), AuResultSuccess);

    const AuVector front{0, 0, -1};
    ASSERT_EQ(SetListenerPosition({{0, 0, 1}, {0, 1, 0}, {0, 0, 0}}), AuResultSuccess);
    ASSERT_EQ(RegisterGameObj(20), AuResultSuccess);
    ASSERT_EQ(RegisterGameObj(21), AuResultSuccess);
    RenderAndWait();
    // Held the way playing sounds hold them: only objects in use follow their positions.
    CAuRegisteredObj* held[2];
    {
        CAuMainLock lock;
        held[0] = g_pRegistryMgr->GetObjAndAddref(20);
        held[1] = g_pRegistryMgr->GetObjAndAddref(21);
    }
    ASSERT_NE(held[0], nullptr);
    ASSERT_NE(held[1], nullptr);
    ASSERT_EQ(SetPosition(20, {{0, 0, 2}, front}), AuResultSuccess);
    ASSERT_EQ(SetPosition(21, {{0, 0, 7}, front}), AuResultSuccess);
    RenderAndWait();
    EXPECT_FLOAT_EQ(ValueAt(kDistance, 20), 2.0f);
    EXPECT_FLOAT_EQ(ValueAt(kDistance, 21), 7.0f);

    ASSERT_EQ(SetPosition(20, {{3, 4, 0}, front}), AuResultSuccess);
    RenderAndWait();
    EXPECT_FLOAT_EQ(ValueAt(kDistance, 20), 5.0f);
    EXPECT_FLOAT_EQ(ValueAt(kDistance, 21), 7.0f);
    EXPECT_EQ(ValueAt(kDistance, kGlobal), 0.0f); // the default: no object sets the global value
    CAuMainLock lock;
    for (CAuRegisteredObj* object : held)
        object->Release();
}

} // namespace
} // namespace banktest
