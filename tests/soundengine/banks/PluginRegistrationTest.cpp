// Plug-ins registered on a game thread while the bank thread reads settings records: each record
// looks its plug-in up in the table that the registrations grow.
#include "BankTestSupport.h"

#include "core/AuObjectIndex.h"
#include "plugins/AuPluginSettings.h"

#include <AU/AuEffectPlugins.h>
#include <AU/SoundEngine.h>
#include <AU/SoundEngineBanks.h>

#include <bankgen/Effects.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace banktest {
namespace {

constexpr u32 kBank = 0x4E9;
constexpr u32 kFirstSettings = 0x20000;
constexpr u32 kSettings = 300;
constexpr u32 kOtherPlugins = 4000;

class PluginRegistrationTest : public RunningEngineTest {
protected:
    PluginRegistrationTest() : RunningEngineTest("torvik_plugin_registration") {}

    // Share sets of the delay, nothing else.
    static Bytes DelaySettingsBank() {
        bankgen::BankBuilder builder(kBank);
        AuDelayBlock delay;
        delay.fDelayTime = 0.1f;
        delay.fWetDryMix = 50.0f;
        for (u32 i = 0; i < kSettings; ++i)
            builder.Add(bankgen::EffectSettings(kFirstSettings + i, delay,
                                                bankgen::HierarchyType::SharedPluginSettings));
        return Built(builder);
    }

    // Records of the loaded bank that are missing or hold no parameters.
    static u32 RecordsWithoutParameters() {
        u32 without = 0;
        for (u32 i = 0; i < kSettings; ++i) {
            CAuIndexable* object = g_pIndex->GetPtrAndAddRef(AuIndexPluginSettings18, kFirstSettings + i);
            without += !object || !static_cast<CAuPluginSettings*>(object)->ParamObject();
            if (object) object->Release();
        }
        return without;
    }

    u32 LoadAndUnload(const Bytes& image) {
        AuBankID id = 0;
        EXPECT_EQ(
            AU::SoundEngine::LoadBank(image.data(), static_cast<u32>(image.size()), g_DefaultPoolId, id),
            AuResultSuccess);
        const u32 without = RecordsWithoutParameters();
        EXPECT_EQ(AU::SoundEngine::UnloadBank(id, nullptr), AuResultSuccess);
        return without;
    }
};

TEST_F(PluginRegistrationTest, RegisteringWhileBanksLoadLeavesNoSettingsRecordWithoutParameters) {
    ASSERT_EQ(AU::SoundEngine::RegisterPlugin(AuPluginTypeEffect, 0, AU_FX_DELAY_ID, CreateFx106,
                                              CreateFx106Params),
              AuResultSuccess);
    const Bytes image = DelaySettingsBank();
    ASSERT_EQ(LoadAndUnload(image), 0u) << "alone, every record finds the delay";

    std::atomic<bool> registered{false};
    std::thread game([&] {
        for (u32 id = 1; id <= kOtherPlugins; ++id)
            EXPECT_EQ(
                AU::SoundEngine::RegisterPlugin(AuPluginTypeEffect, 77, id, CreateFx106, CreateFx106Params),
                AuResultSuccess);
        registered.store(true);
    });
    u32 loads = 0, without = 0;
    while (!registered.load() || loads == 0) {
        without += LoadAndUnload(image);
        ++loads;
    }
    game.join();
    EXPECT_EQ(without, 0u) << "over " << loads << " loads; the delay was registered before each";
}

} // namespace
} // namespace banktest
