#include "banks/AuBankMgr.h"
#include "core/AuObjectIndex.h"
#include "plugins/AuEffectCommon.h"
#include "plugins/AuPluginSettings.h"
#include "voices/AuEffectNode.h"
#include "voices/AuEffectSlotHolder.h"
#include "voices/AuLowerEngine.h"

#include "TestPlugins.h"

#include <AuDefaultPoolTest.h>
#include <bankgen/Bank.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr u32 kEcho = 0x600D;
constexpr u32 kImpulse = 0x600E;
constexpr u32 kMissing = 0x600F;

class EffectSlotHolderTest : public AuDefaultPoolTest {
protected:
    EffectSlotHolderTest() : AuDefaultPoolTest(2u << 20) {}
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        m_index.Init();
        g_pIndex = &m_index;
        ASSERT_EQ(m_bank.Init(), AuResultSuccess);
        g_pBankMgr = &m_bank;
        m_echo.assign(96, 0x11);
        m_impulse.assign(40, 0x22);
        const AuSourceSettings media[2] = {{kEcho, m_echo.data(), static_cast<u32>(m_echo.size())},
                                           {kImpulse, m_impulse.data(), static_cast<u32>(m_impulse.size())}};
        ASSERT_EQ(m_bank.SetMedia(media, 2), AuResultSuccess);
        // Index 0 names the echo, 3 the impulse, 5 a media no bank holds.
        m_settings = CAuPluginSettingsType19::Create(0x5E7);
        ASSERT_NE(m_settings, nullptr);
        bankgen::PluginSettingsRecord record{bankgen::HierarchyType::PluginSettings,
                                             0x5E7,
                                             bankgen::kNoPlugin,
                                             {},
                                             {{0, kEcho}, {3, kImpulse}, {5, kMissing}},
                                             {},
                                             {}};
        bankgen::EncodeContext context;
        const bankgen::Bytes payload = bankgen::EncodePayload(record, context);
        ASSERT_EQ(m_settings->LoadPluginSettings(payload.data(), static_cast<u32>(payload.size())),
                  AuResultSuccess);
    }
    void TearDown() override {
        m_settings->Release();
        const AuSourceSettings media[2] = {{kEcho, m_echo.data(), static_cast<u32>(m_echo.size())},
                                           {kImpulse, m_impulse.data(), static_cast<u32>(m_impulse.size())}};
        EXPECT_EQ(m_bank.UnsetMedia(media, 2), AuResultSuccess);
        g_pBankMgr = nullptr;
        m_bank.Term();
        m_index.Term();
        g_pIndex = nullptr;
        AuDefaultPoolTest::TearDown();
    }

    CAuObjectIndex m_index;
    CAuBankMgr m_bank;
    CAuPluginSettings* m_settings = nullptr;
    std::vector<u8> m_echo;
    std::vector<u8> m_impulse;
};

TEST_F(EffectSlotHolderTest, MediaByIndexAreFetchedOnceThroughTheSettingsAndHeldUntilReleased) {
    const i32 echoRefs = m_bank.MediaRefCount(kEcho);
    CAuEffectSlotHolder holder;
    holder.SetSettings(m_settings);
    struct Case {
        u32 index;
        const u8* data;
        u32 size;
    };
    const Case cases[] = {{0, m_echo.data(), 96},
                          {3, m_impulse.data(), 40},
                          {0, m_echo.data(), 96},
                          {5, nullptr, 0},
                          {7, nullptr, 0}};
    for (const Case& c : cases) {
        const u8* data = reinterpret_cast<const u8*>(1);
        u32 size = 99;
        holder.GetMedia(c.index, data, size);
        EXPECT_EQ(data, c.data) << c.index;
        EXPECT_EQ(size, c.size) << c.index;
    }
    EXPECT_EQ(holder.Count(), 2u); // a media ID with no data leaves nothing
    EXPECT_EQ(m_bank.MediaRefCount(kEcho), echoRefs + 1);
    EXPECT_TRUE(holder.HasMediaObject(m_impulse.data()));
    EXPECT_FALSE(holder.HasMediaObject(m_impulse.data() + 1));
    EXPECT_FALSE(holder.HasMediaObject(nullptr));
    // An index taken again gives back what it held.
    ASSERT_EQ(holder.AddMedia(0, kImpulse), AuResultSuccess);
    EXPECT_EQ(holder.Count(), 2u);
    EXPECT_EQ(m_bank.MediaRefCount(kEcho), echoRefs);
    EXPECT_EQ(holder.AddMedia(1, kMissing), AuResultFail);
    holder.ReleaseAll();
    EXPECT_EQ(holder.Count(), 0u);
    EXPECT_EQ(m_bank.MediaRefCount(kImpulse), echoRefs);
}

TEST_F(EffectSlotHolderTest, WithoutSettingsOrBankManagerNothingIsServed) {
    CAuEffectSlotHolder holder;
    const u8* data = nullptr;
    u32 size = 0;
    holder.GetMedia(0, data, size);
    EXPECT_EQ(data, nullptr);
    g_pBankMgr = nullptr;
    EXPECT_EQ(holder.AddMedia(0, kEcho), AuResultFail);
    g_pBankMgr = &m_bank;
    EXPECT_EQ(holder.Count(), 0u);
}

// An effect that reads its media at index 3 when it starts.
struct MediaSeen {
    const u8* data = nullptr;
    u32 size = 0;
    AURESULT result = AuResultFail;
};
MediaSeen g_seen;

class MediaReadingEffect final : public voicetest::PassThroughEffect {
public:
    AURESULT Init(AU::IAuPluginMemAlloc*, AU::IAuEffectPluginContext* context, AU::IAuPluginParam*,
                  AuPluginFormat&) noexcept override {
        g_seen.result = context->GetPluginMedia(3, g_seen.data, g_seen.size);
        return AuResultSuccess;
    }
};

TEST_F(EffectSlotHolderTest, AVoiceEffectIsServedItsMediaUntilItsNodeEnds) {
    g_LEngineDefaultPoolId = g_DefaultPoolId;
    m_settings->SetParamObject(1, voicetest::CreateNoParams(&CAuLowerEngine::PluginAllocator()));
    const i32 refs = m_bank.MediaRefCount(kImpulse);
    g_seen = {};
    {
        CAuInPlaceEffectNode node;
        AuEffectRecord record{m_settings, false};
        AuPluginFormat format{48000, AuChannelConfig::Standard(0x3)};
        ASSERT_EQ(node.Init(AuPluginNew<MediaReadingEffect>(&CAuLowerEngine::PluginAllocator()), record, 0,
                            nullptr, 1024, format),
                  AuResultSuccess);
        EXPECT_EQ(g_seen.result, AuResultSuccess);
        EXPECT_EQ(g_seen.data, m_impulse.data());
        EXPECT_EQ(g_seen.size, 40u);
        EXPECT_EQ(node.Media().Count(), 1u);
        EXPECT_EQ(m_bank.MediaRefCount(kImpulse), refs + 1);
    }
    EXPECT_EQ(m_bank.MediaRefCount(kImpulse), refs);
    g_LEngineDefaultPoolId = -1;
}

} // namespace
