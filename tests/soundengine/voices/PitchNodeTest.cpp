#include "voices/AuPitchNode.h"
#include "voices/AuPlaybackInstance.h"
#include "voices/AuSourceBase.h"

#include "LowerEnginePoolTest.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// A source that hands out its samples (16-bit interleaved) in pieces of a fixed size, with the
// last piece in state 17, and counts the buffers given back.
class ScriptedSource final : public CAuSourceBase {
public:
    ScriptedSource(CAuPlaybackInstance* instance, std::vector<i16> samples, u32 channels, u32 piece)
        : CAuSourceBase(instance, nullptr, 0), m_samples(std::move(samples)), m_uChannels(channels),
          m_uPiece(piece) {
        m_uTotalSamples = static_cast<u32>(m_samples.size() / channels);
        m_format.uSampleRate = 48000; // what a seek converts with
        m_config = AuChannelConfig::Anonymous(channels);
    }
    AURESULT StartStream() noexcept override { return AuResultSuccess; }
    void GetBuffer(AuPipelineBuffer& buffer) noexcept override {
        const u32 frames = std::min({m_uPiece, u32(buffer.uMaxFrames), m_uTotalSamples - m_uPosition});
        buffer.pData = reinterpret_cast<f32*>(m_samples.data() + size_t{m_uPosition} * m_uChannels);
        buffer.uMaxFrames = buffer.uValidFrames = u16(frames);
        buffer.channelConfig = m_config;
        buffer.uPosition = m_uPosition;
        for (u32 cue : markerAt) {
            if (cue - m_uPosition < frames) {
                auto* marker = static_cast<AuBufferMarker*>(
                    AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, sizeof(AuBufferMarker)));
                *marker = {m_pInstance, cue - m_uPosition, {cue, cue, nullptr}};
                buffer.pMarkers = marker;
                buffer.uNumMarkers = 1;
            }
        }
        m_uPosition += frames;
        buffer.eState = m_uPosition >= m_uTotalSamples ? AuResultNoMoreData : AuResultDataReady;
        ++handedOut;
    }
    void ReleaseBuffer() noexcept override { ++givenBack; }

    std::vector<u32> markerAt; // one marker per buffer at most
    int handedOut = 0;
    int givenBack = 0;

private:
    std::vector<i16> m_samples;
    u32 m_uChannels;
    u32 m_uPiece;
};

// Sample i holds base + i, so every output frame tells where it came from.
std::vector<i16> Ramp(u32 frames, i16 base = 0) {
    std::vector<i16> samples(frames);
    for (u32 i = 0; i < frames; ++i)
        samples[i] = static_cast<i16>(base + i);
    return samples;
}

f32 Pcm(i32 value) {
    return f32(value) / 32768.0f;
}

class QueuedVoice final : public IAuPitchNodeVoice {
public:
    AURESULT StartNextSource(CAuSourceBase*& source, AuResamplerFormat& format) noexcept override {
        ++calls;
        if (buffering) {
            --buffering;
            return AuResultStillBuffering;
        }
        if (!next) return AuResultNoMoreData;
        source = next;
        format = nextFormat;
        next = nullptr;
        return AuResultSuccess;
    }
    CAuSourceBase* next = nullptr;
    AuResamplerFormat nextFormat;
    int buffering = 0;
    int calls = 0;
};

class PitchNodeTest : public voicetest::LowerEnginePoolTest {
protected:
    void SetUp() override {
        LowerEnginePoolTest::SetUp();
        CAuResampler::InitKernels();
        AuPlaybackInstanceParams params;
        params.key.playingID = 1;
        m_instance = std::make_unique<CAuPlaybackInstance>(params);
    }
    void TearDown() override {
        m_instance.reset();
        LowerEnginePoolTest::TearDown();
    }

    static AuResamplerFormat Mono16(u32 rate = 48000) {
        AuResamplerFormat format;
        format.uSampleRate = rate;
        format.config = AuChannelConfig::Anonymous(1);
        format.uBitsPerSample = 16;
        return format;
    }

    // What the voice does each frame: the node first, then the source while data is needed.
    static AURESULT Pull(CAuPitchNode& node, AuPipelineBuffer& out) {
        AURESULT state = node.GetBuffer(out);
        while (state == AuResultDataNeeded) {
            AuPipelineBuffer in;
            in.uMaxFrames = 1024;
            node.Source()->GetBuffer(in);
            if (in.eState == AuResultNoDataReady) return AuResultNoDataReady;
            state = node.Execute(in, out);
        }
        return state;
    }

    // One frame from a source handing out 700 frames at a time: frame 1024 of the 1400 taken in
    // waits in the node as the previous frame.
    void PlayFirstFrame(ScriptedSource& source, CAuPitchNode& node, AuPipelineBuffer& out) {
        ASSERT_EQ(node.Init(&source, m_instance.get(), Mono16(), AuPitchNodeParams(), nullptr),
                  AuResultSuccess);
        ASSERT_EQ(Pull(node, out), AuResultDataReady);
        node.ReleaseBuffer();
        ASSERT_EQ(node.HeldFrames(), 375u);
    }

    std::unique_ptr<CAuPlaybackInstance> m_instance;
};

} // namespace

TEST_F(PitchNodeTest, AVoiceStartingInsideAFrameBeginsWithSilence) {
    ScriptedSource source(m_instance.get(), Ramp(3000, 100), 1, 512);
    CAuPitchNode node;
    AuPitchNodeParams params;
    params.lFrameOffset = -724; // 300 frames of this frame are left before the start
    ASSERT_EQ(node.Init(&source, m_instance.get(), Mono16(), params, nullptr), AuResultSuccess);
    AuPipelineBuffer out;
    ASSERT_EQ(Pull(node, out), AuResultDataReady);
    ASSERT_EQ(out.uValidFrames, 1024);
    for (u32 i = 0; i < 300; ++i)
        ASSERT_EQ(out.pData[i], 0.0f) << i;
    EXPECT_EQ(out.pData[300], Pcm(100));
    EXPECT_EQ(out.pData[1023], Pcm(100 + 723));
    node.ReleaseBuffer();
    // The next frame carries on without a gap.
    ASSERT_EQ(Pull(node, out), AuResultDataReady);
    EXPECT_EQ(out.pData[0], Pcm(100 + 724));
}

TEST_F(PitchNodeTest, SilentLeadFollowsTheRateFactor) {
    const struct {
        i32 offset;
        f32 rate;
        u32 silent;
    } cases[] = {{-724, 1.0f, 300}, {-100, 2.0f, 974}, {-2048, 1.0f, 0},
                 {0, 1.0f, 0},      {-1, 0.001f, 24},  {-1, 1000.0f, 1024}};
    for (const auto& c : cases) {
        ScriptedSource source(m_instance.get(), Ramp(3000, 1), 1, 1024);
        CAuPitchNode node;
        AuPitchNodeParams params;
        params.lFrameOffset = c.offset;
        params.fRateFactor = c.rate;
        ASSERT_EQ(node.Init(&source, m_instance.get(), Mono16(), params, nullptr), AuResultSuccess);
        AuPipelineBuffer out;
        ASSERT_EQ(Pull(node, out), AuResultDataReady);
        ASSERT_EQ(out.uValidFrames, 1024);
        u32 zeros = 0;
        while (zeros < 1024 && out.pData[zeros] == 0.0f)
            ++zeros;
        EXPECT_EQ(zeros, c.silent) << c.offset << " " << c.rate;
    }
}

TEST_F(PitchNodeTest, SourceOffsetDropsItsFrames) {
    const struct { u32 piece; } cases[] = {{512}, {20}, {36}};
    for (const auto& c : cases) {
        ScriptedSource source(m_instance.get(), Ramp(3000), 1, c.piece);
        m_instance->SetSourceFrameOffset(36);
        CAuPitchNode node;
        ASSERT_EQ(node.Init(&source, m_instance.get(), Mono16(), AuPitchNodeParams(), nullptr),
                  AuResultSuccess);
        AuPipelineBuffer out;
        ASSERT_EQ(Pull(node, out), AuResultDataReady);
        EXPECT_EQ(out.pData[0], Pcm(36)) << c.piece;
        EXPECT_EQ(out.pData[1], Pcm(37)) << c.piece;
        EXPECT_EQ(m_instance->SourceFrameOffset(), 0u);
    }
}

TEST_F(PitchNodeTest, ANextSourceOfTheSameFormatContinuesInTheSameBuffer) {
    ScriptedSource first(m_instance.get(), Ramp(300, 1000), 1, 512);
    ScriptedSource second(m_instance.get(), Ramp(2000, 5000), 1, 512);
    QueuedVoice voice;
    voice.next = &second;
    voice.nextFormat = Mono16();
    voice.buffering = 1;
    CAuPitchNode node;
    ASSERT_EQ(node.Init(&first, m_instance.get(), Mono16(), AuPitchNodeParams(), &voice), AuResultSuccess);
    AuPipelineBuffer out;
    // The next source is still buffering: the voice waits with what it has.
    EXPECT_EQ(Pull(node, out), AuResultNoDataReady);
    EXPECT_EQ(out.uValidFrames, 300);
    ASSERT_EQ(Pull(node, out), AuResultDataReady);
    EXPECT_EQ(node.Source(), &second);
    EXPECT_EQ(out.pData[299], Pcm(1299));
    EXPECT_EQ(out.pData[300], Pcm(5000));
    EXPECT_EQ(out.pData[1023], Pcm(5723));
    EXPECT_EQ(first.givenBack, first.handedOut);
}

TEST_F(PitchNodeTest, ANextSourceOfAnotherFormatEndsTheVoice) {
    ScriptedSource first(m_instance.get(), Ramp(300), 1, 512);
    ScriptedSource second(m_instance.get(), Ramp(2000), 1, 512);
    QueuedVoice voice;
    voice.next = &second;
    voice.nextFormat = Mono16(44100);
    CAuPitchNode node;
    ASSERT_EQ(node.Init(&first, m_instance.get(), Mono16(), AuPitchNodeParams(), &voice), AuResultSuccess);
    AuPipelineBuffer out;
    EXPECT_EQ(Pull(node, out), AuResultNoMoreData);
    EXPECT_EQ(out.uValidFrames, 300);
    EXPECT_EQ(node.Source(), &first);
    // Without a next source the end is the end too.
    ScriptedSource alone(m_instance.get(), Ramp(10), 1, 512);
    CAuPitchNode single;
    ASSERT_EQ(single.Init(&alone, m_instance.get(), Mono16(), AuPitchNodeParams(), nullptr), AuResultSuccess);
    EXPECT_EQ(Pull(single, out), AuResultNoMoreData);
    EXPECT_EQ(out.uValidFrames, 10);
    EXPECT_EQ(single.GetBuffer(out), AuResultNoMoreData);
}

TEST_F(PitchNodeTest, MarkersAndPositionMoveToTheOutput) {
    ScriptedSource source(m_instance.get(), Ramp(5000), 1, 700);
    source.markerAt = {100, 900};
    CAuPitchNode node;
    ASSERT_EQ(node.Init(&source, m_instance.get(), Mono16(), AuPitchNodeParams(), nullptr), AuResultSuccess);
    AuPipelineBuffer out;
    ASSERT_EQ(Pull(node, out), AuResultDataReady);
    // Both cues lie in the 1024 frames consumed.
    ASSERT_EQ(out.uNumMarkers, 2);
    EXPECT_EQ(out.pMarkers[0].cue.uID, 100u);
    EXPECT_EQ(out.pMarkers[1].cue.uID, 900u);
    EXPECT_EQ(out.pMarkers[1].uOffsetInBuffer, 0u);
    EXPECT_EQ(out.uPosition, 0u);
    EXPECT_EQ(node.GetSpeed(), 1.0f);
    node.ReleaseBuffer();
    ASSERT_EQ(Pull(node, out), AuResultDataReady);
    EXPECT_EQ(out.uNumMarkers, 0);
    // The second buffer starts at source frame 1024, 324 frames into the source's second piece.
    EXPECT_EQ(out.pData[0], Pcm(1024));
    EXPECT_EQ(out.uPosition, 1024u);
    node.ReleaseBuffer();
}

TEST_F(PitchNodeTest, UnsupportedSampleSizeRefusesTheVoice) {
    ScriptedSource source(m_instance.get(), Ramp(10), 1, 10);
    CAuPitchNode node;
    AuResamplerFormat format = Mono16();
    format.uBitsPerSample = 24;
    EXPECT_EQ(node.Init(&source, m_instance.get(), format, AuPitchNodeParams(), nullptr), AuResultFail);
    format.uBitsPerSample = 8;
    EXPECT_EQ(node.Init(&source, m_instance.get(), format, AuPitchNodeParams(), nullptr), AuResultFail);
}

TEST_F(PitchNodeTest, TimeSkipTakesHeldFramesThenTheSource) {
    ScriptedSource source(m_instance.get(), Ramp(20000), 1, 700);
    CAuPitchNode node;
    ASSERT_EQ(node.Init(&source, m_instance.get(), Mono16(24000), AuPitchNodeParams(), nullptr),
              AuResultSuccess);
    AuPipelineBuffer out;
    // 1024 output frames interpolate across 512 source frames; the 513th stays as the previous one.
    ASSERT_EQ(Pull(node, out), AuResultDataReady);
    node.ReleaseBuffer();
    const u32 held = node.HeldFrames();
    EXPECT_EQ(held, 700u - 513u);
    u32 frames = 2000; // 1000 source frames
    EXPECT_EQ(node.TimeSkip(frames), AuResultDataReady);
    EXPECT_EQ(node.HeldFrames(), 0u);
    EXPECT_EQ(source.Position(), 700u + 1000u - held);
    frames = 100000;
    EXPECT_EQ(node.TimeSkip(frames), AuResultNoMoreData);
    EXPECT_TRUE(node.SourceFinished());
}

TEST_F(PitchNodeTest, VirtualTransitionsDropOrKeepTheHeldInput) {
    ScriptedSource source(m_instance.get(), Ramp(20000), 1, 700);
    CAuPitchNode node;
    AuPipelineBuffer out;
    ASSERT_NO_FATAL_FAILURE(PlayFirstFrame(source, node, out));
    node.VirtualOn(2); // resume keeps the held frame
    EXPECT_EQ(node.HeldFrames(), 375u);
    EXPECT_EQ(node.VirtualOff(1, false), AuResultSuccess);
    EXPECT_EQ(node.HeldFrames(), 0u);
    EXPECT_EQ(source.givenBack, source.handedOut);
    ASSERT_EQ(Pull(node, out), AuResultDataReady);
    // The kept previous frame, then the source's next buffer.
    EXPECT_EQ(out.pData[0], Pcm(1024));
    EXPECT_EQ(out.pData[1], Pcm(1400));
}

// The previous frame waiting in the resampler belongs to the position a seek leaves: the frame
// after the seek is the new position's from its first sample.
TEST_F(PitchNodeTest, ASeekPlaysTheNewPositionFromItsFirstSample) {
    ScriptedSource source(m_instance.get(), Ramp(20000), 1, 700);
    CAuPitchNode node;
    AuPipelineBuffer out;
    ASSERT_NO_FATAL_FAILURE(PlayFirstFrame(source, node, out));
    m_instance->SeekTime(100, false); // 4800 frames
    ASSERT_EQ(node.SeekIfPending(), AuResultSuccess);
    EXPECT_EQ(node.HeldFrames(), 0u);
    ASSERT_EQ(Pull(node, out), AuResultDataReady);
    for (u32 i = 0; i < 1024; ++i)
        ASSERT_EQ(out.pData[i], Pcm(4800 + i)) << i;
}
