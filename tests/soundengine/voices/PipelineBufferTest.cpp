#include "AuDefaultPoolTest.h"
#include "voices/AuPipelineBuffer.h"

#include <AU/MemoryMgr.h>

namespace {

class PipelineBufferTest : public AuDefaultPoolTest {
protected:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        g_LEngineDefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 64 * 1024, 64, AuPoolAttrMalloc, 16);
        ASSERT_NE(g_LEngineDefaultPoolId, -1);
    }
    void TearDown() override {
        g_LEngineDefaultPoolId = -1;
        AuDefaultPoolTest::TearDown();
    }
    static u32 LEngineUsed() {
        AU::MemoryMgr::PoolMemInfo info{};
        AU::MemoryMgr::GetPoolMemoryUsed(g_LEngineDefaultPoolId, info);
        return info.uUsed;
    }
};

} // namespace

TEST_F(PipelineBufferTest, TheLfeIsTheLastChannelWhenTheMaskHasIt) {
    AuPipelineBuffer buffer;
    ASSERT_EQ(buffer.AllocAudioBuffer(256, AuChannelConfig::Standard(AU_SPEAKER_SETUP_5POINT1)),
              AuResultSuccess);
    EXPECT_EQ(buffer.GetLFE(), buffer.pData + 5 * 256);
    buffer.FreeAudioBuffer();
    ASSERT_EQ(buffer.AllocAudioBuffer(256, AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO)),
              AuResultSuccess);
    EXPECT_EQ(buffer.GetLFE(), nullptr);
    buffer.FreeAudioBuffer();
    EXPECT_EQ(buffer.pData, nullptr);
    EXPECT_EQ(buffer.uMaxFrames, 0);
}

TEST_F(PipelineBufferTest, AllocationIsAlignedAndAFailedOneLeavesTheRecordAlone) {
    AuPipelineBuffer buffer;
    const u32 before = LEngineUsed();
    ASSERT_EQ(buffer.AllocAudioBuffer(1024, AuChannelConfig::Standard(AU_SPEAKER_SETUP_MONO)),
              AuResultSuccess);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer.pData) % 16, 0u);
    EXPECT_GE(LEngineUsed() - before, 4096u);
    EXPECT_EQ(buffer.uValidFrames, 0);
    f32* const kept = buffer.pData;

    // 8 channels x 4096 frames x 4 bytes cannot come from a 64 KiB pool.
    EXPECT_EQ(buffer.AllocAudioBuffer(4096, AuChannelConfig::Standard(AU_SPEAKER_SETUP_7POINT1)),
              AuResultNoMemory);
    EXPECT_EQ(buffer.pData, kept);
    EXPECT_EQ(buffer.uMaxFrames, 1024);
    EXPECT_EQ(buffer.channelConfig.uWord, 0x4101u);
    buffer.FreeAudioBuffer();
    EXPECT_EQ(LEngineUsed(), before);
}

TEST_F(PipelineBufferTest, FreeingAbsentMarkersTouchesNothing) {
    AuPipelineBuffer buffer;
    const u32 before = LEngineUsed();
    buffer.FreeMarkers();
    EXPECT_EQ(buffer.uNumMarkers, 0);
    EXPECT_EQ(buffer.pMarkers, nullptr);
    EXPECT_EQ(LEngineUsed(), before);

    buffer.pMarkers = static_cast<AuBufferMarker*>(AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, 48));
    buffer.uNumMarkers = 2;
    buffer.FreeMarkers();
    EXPECT_EQ(buffer.uNumMarkers, 0);
    EXPECT_EQ(buffer.pMarkers, nullptr);
    EXPECT_EQ(LEngineUsed(), before);
}

TEST_F(PipelineBufferTest, AVoicePassStartsFromAFreshRecord) {
    AuPipelineBuffer buffer;
    buffer.eState = AuResultNoMoreData;
    buffer.fGain = 0.2f;
    buffer.uPosition = 12;
    buffer.uValidFrames = 3;
    buffer.PrepareForVoicePass(8);
    EXPECT_EQ(buffer.pData, nullptr);
    EXPECT_EQ(buffer.channelConfig.uWord, 0u);
    EXPECT_EQ(buffer.eState, AuResultDataNeeded);
    EXPECT_EQ(buffer.uMaxFrames, 8);
    EXPECT_EQ(buffer.uValidFrames, 0);
    EXPECT_EQ(buffer.fGain, 1.0f);
    EXPECT_EQ(buffer.fPrevGain, 1.0f);
    EXPECT_EQ(buffer.uPosition, AU_NO_SOURCE_POSITION);
}
