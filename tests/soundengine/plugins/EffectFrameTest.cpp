// The frame the three effects share: the layouts the bank writer uses, the creators and the
// engine's own plug-in allocator.
#include "plugins/AuDelayEffect.h"
#include "plugins/AuRoomReverbEffect.h"
#include "plugins/AuStereoDelayEffect.h"
#include "voices/AuLowerEngine.h"

#include "../voices/LowerEnginePoolTest.h"
#include "EffectTestSupport.h"

#include <AU/AuEffectBlocks.h>
#include <AU/AuEffectPlugins.h>

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// The writer's bytes against the offsets of the published layouts, written independently.
TEST(EffectBlocks, WrittenLayoutsMatchTheOffsets) {
    AuDelayBlock delay{0.25f, 30.0f, 75.0f, -6.0f, 1, 0};
    BlockBytes delayBytes(AuDelayBlock::kSize);
    delayBytes.F32(0, 0.25f), delayBytes.F32(4, 30.0f), delayBytes.F32(8, 75.0f), delayBytes.F32(12, -6.0f);
    delayBytes.U8(16, 1);
    std::vector<u8> written(AuDelayBlock::kSize);
    AuWriteBlock(delay, written.data());
    EXPECT_EQ(written, delayBytes.bytes);

    AuStereoDelayBlock stereo;
    stereo.uRightInput = 3;
    stereo.iFilterType = -1;
    stereo.fBalance = 12.5f;
    stereo.uCrossFeedbackEnabled = 1;
    BlockBytes stereoBytes(AuStereoDelayBlock::kSize);
    stereoBytes.U32(16, 3), stereoBytes.U32(32, 0xFFFFFFFFu), stereoBytes.F32(56, 12.5f),
        stereoBytes.U8(61, 1);
    written.assign(AuStereoDelayBlock::kSize, 0);
    AuWriteBlock(stereo, written.data());
    EXPECT_EQ(written, stereoBytes.bytes);

    AuRoomReverbBlock reverb;
    reverb.fStereoWidth = 90.0f;
    reverb.aFilters[2].fQ = 0.5f;
    reverb.fReverbLevel = -7.0f;
    reverb.uEREnabled = 1;
    reverb.uPattern = 0x01020304;
    reverb.fRoomShape = 40.0f;
    reverb.uDensity = 4;
    reverb.uEQEnabled = 1;
    reverb.aFilters[1].uType = 5;
    reverb.fLFEInputLevel = -9.0f;
    reverb.afTuning[10] = 110.0f;
    BlockBytes reverbBytes(AuRoomReverbBlock::kSize);
    reverbBytes.F32(12, 90.0f), reverbBytes.F32(48, 0.5f), reverbBytes.F32(76, -7.0f), reverbBytes.U8(80, 1);
    reverbBytes.U32(81, 0x01020304), reverbBytes.F32(101, 40.0f), reverbBytes.U32(105, 4),
        reverbBytes.U8(109, 1);
    reverbBytes.U32(122, 5), reverbBytes.F32(138, -9.0f), reverbBytes.F32(182, 110.0f);
    written.assign(AuRoomReverbBlock::kSize, 0);
    AuWriteBlock(reverb, written.data());
    EXPECT_EQ(written, reverbBytes.bytes);

    AuRoomReverbBlock read;
    ASSERT_TRUE(AuReadBlock(written.data(), u32(written.size()), read));
    EXPECT_EQ(read.uPattern, 0x01020304u);
    EXPECT_EQ(read.aFilters[1].uType, 5u);
    EXPECT_FALSE(AuReadBlock(written.data(), u32(written.size() - 1), read));
    EXPECT_FALSE(AuReadBlock(nullptr, 186, read));
}

TEST(EffectBlocks, RegistryKeys) {
    EXPECT_EQ(CAuLowerEngine::PluginKey(AuPluginTypeEffect, 0, AU_FX_DELAY_ID), 0x006A0003u);
    EXPECT_EQ(CAuLowerEngine::PluginKey(AuPluginTypeEffect, 0, AU_FX_ROOM_REVERB_ID), 0x00760003u);
    EXPECT_EQ(CAuLowerEngine::PluginKey(AuPluginTypeEffect, 0, AU_FX_STEREO_DELAY_ID), 0x00870003u);
}

TEST(EffectFrame, CreatorsReturnNullWithoutMemory) {
    TestAllocator alloc;
    alloc.FailAfter(0);
    EXPECT_EQ(CreateFx106(&alloc), nullptr);
    EXPECT_EQ(CreateFx106Params(&alloc), nullptr);
    EXPECT_EQ(CreateFx118(&alloc), nullptr);
    EXPECT_EQ(CreateFx118Params(&alloc), nullptr);
    EXPECT_EQ(CreateFx135(&alloc), nullptr);
    EXPECT_EQ(CreateFx135Params(&alloc), nullptr);
}

// The engine's allocator hands out 16-byte aligned blocks of the lower-engine pool; every effect
// returns all of them.
class EffectsOnTheEnginePool : public voicetest::LowerEnginePoolTest {
protected:
    EffectsOnTheEnginePool() : LowerEnginePoolTest(16u << 20) {}
};

TEST_F(EffectsOnTheEnginePool, EachEffectRunsAndReturnsEveryBlock) {
    AU::IAuPluginMemAlloc& alloc = CAuLowerEngine::PluginAllocator();
    const struct {
        AU::IAuPlugin* (*create)(AU::IAuPluginMemAlloc*);
        AU::IAuPluginParam* (*createParams)(AU::IAuPluginMemAlloc*);
    } effects[] = {
        {CreateFx106, CreateFx106Params}, {CreateFx118, CreateFx118Params}, {CreateFx135, CreateFx135Params}};
    const AuChannelConfig config = AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1);
    for (const auto& e : effects) {
        AU::IAuPluginParam* params = e.createParams(&alloc);
        ASSERT_NE(params, nullptr);
        ASSERT_EQ(params->Init(&alloc, nullptr, 0), AuResultSuccess);
        AU::IAuPluginParam* clone = params->Clone(&alloc);
        ASSERT_NE(clone, nullptr);
        AU::IAuPlugin* effect = e.create(&alloc);
        ASSERT_NE(effect, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(effect) % 16, 0u);
        TestContext context;
        AuPluginFormat format{48000, config};
        ASSERT_EQ(effect->Init(&alloc, &context, clone, format), AuResultSuccess);
        effect->Reset();
        TestBuffer t(config, 1024);
        t.Fill([](u32, u32 i) { return i == 0 ? 1.0f : 0.0f; });
        effect->Execute(t.buffer);
        EXPECT_EQ(effect->Term(&alloc), AuResultSuccess);
        EXPECT_EQ(clone->Term(&alloc), AuResultSuccess);
        EXPECT_EQ(params->Term(&alloc), AuResultSuccess);
        EXPECT_EQ(Used(), m_usedAtStart);
    }
}

} // namespace
