#include "core/AuPlayingMgr.h"
#include "core/AuPositionRepository.h"
#include "voices/AuFileSources.h"
#include "voices/AuPlaybackInstance.h"
#include "voices/AuSourceBase.h"
#include "voices/AuSourcePluginHost.h"

#include "LowerEnginePoolTest.h"
#include "VoiceTestSupport.h"

#include <AuMemoryAutoStream.h>
#include <bankgen/Media.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

using bankgen::Bytes;
using bankgen::Malformed;

void IgnoreCallback(AuCallbackType, AuCallbackInfo*) {}

class SourceTest : public voicetest::LowerEnginePoolTest {
protected:
    struct Pass {
        std::vector<i16> samples;
        std::vector<u32> frames;
        AURESULT state = AuResultDataReady;
    };
    // Pulls until the source ends or fails, or `limit` buffers.
    static Pass Pull(CAuSourceBase& source, u16 maxFrames, u32 channels, u32 limit = 1000) {
        Pass pass;
        for (u32 n = 0; n < limit && pass.state == AuResultDataReady; ++n) {
            AuPipelineBuffer buffer;
            buffer.uMaxFrames = maxFrames;
            source.GetBuffer(buffer);
            pass.state = buffer.eState;
            const i16* data = reinterpret_cast<const i16*>(buffer.pData);
            if (buffer.eState == AuResultDataReady || buffer.eState == AuResultNoMoreData) {
                pass.samples.insert(pass.samples.end(), data, data + buffer.uValidFrames * channels);
                pass.frames.push_back(buffer.uValidFrames);
            }
            buffer.FreeMarkers();
            source.ReleaseBuffer();
        }
        return pass;
    }
};

std::vector<i16> Signal(u32 frames, u16 channels) {
    std::vector<std::vector<float>> c;
    for (u16 i = 0; i < channels; ++i)
        c.push_back(bankgen::Chirp(100 + 300 * i, 5000, frames / 48000.0, 48000, 0.6));
    return bankgen::ToPcm16(c);
}

// What the engine's decoder must give: the encoder's own reconstruction.
std::vector<i16> AdpcmReference(const std::vector<i16>& samples, u16 channels) {
    std::vector<i16> decoded;
    bankgen::EncodeAdpcm(samples, channels, &decoded);
    return decoded;
}

std::vector<i16> Frames(const std::vector<i16>& all, u32 from, u32 to, u16 channels) {
    return std::vector<i16>(all.begin() + from * channels, all.begin() + (to + 1) * channels);
}

TEST(SourceLoopTest, ResolveLoopTable) {
    struct Case {
        u64 p;
        u32 start, end;
        u16 count;
        u32 position;
        u16 remaining;
    };
    const Case cases[] = {
        {500, 100, 199, 1, 500, 1}, // plays once: no loop
        {150, 100, 199, 3, 150, 3}, // inside the first pass
        {250, 100, 199, 3, 150, 2}, // one pass skipped
        {350, 100, 199, 3, 150, 1},
        {450, 100, 199, 3, 250, 1}, // beyond all passes: past the loop end in the last one
        {450, 100, 199, 0, 150, 0}, // infinite
        {100000, 100, 199, 0, 100, 0},
        {250, 100, 100, 3, 250, 3}, // an empty loop region resolves nothing
        {50, 100, 199, 3, 50, 3},
        {0x100000064, 100, 199, 0, 196, 0},        // 2^32 + 100, beyond 32 bits
        {0x200000000, 100, 199, 3, 0xFFFFFFFF, 1}, // past the last pass and 32 bits: clamped
    };
    for (const Case& c : cases) {
        u32 position;
        u16 remaining;
        CAuSourceBase::ResolveLoop(c.p, c.start, c.end, c.count, position, remaining);
        EXPECT_EQ(position, c.position) << c.p << " " << c.count;
        EXPECT_EQ(remaining, c.remaining) << c.p << " " << c.count;
    }
}

TEST_F(SourceTest, PcmPlaysItsLoopPassesThenToTheEnd) {
    const std::vector<i16> samples = Signal(1000, 2);
    bankgen::WaveOptions o;
    o.loop = true, o.loopStart = 200, o.loopEnd = 699;
    const Bytes media = bankgen::MakePcmWave(samples, 2, 48000, o);
    auto instance = Instance(3);
    CAuPcmBankSource source(instance.get(), media.data(), u32(media.size()));
    ASSERT_EQ(source.StartStream(), AuResultSuccess);
    EXPECT_EQ(instance->GetMediaFormat().uSampleRate, 48000u);
    EXPECT_EQ(instance->GetMediaFormat().config.uWord, 0x3102u);
    EXPECT_FLOAT_EQ(source.GetDuration(), (500.0f * 2 + 1000.0f) * 1000.0f / 48000.0f);
    const Pass pass = Pull(source, 256, 2);
    EXPECT_EQ(pass.state, AuResultNoMoreData);
    std::vector<i16> expected = Frames(samples, 0, 699, 2);
    for (int i = 0; i < 2; ++i) {
        const std::vector<i16> more = Frames(samples, 200, i == 1 ? 999 : 699, 2);
        expected.insert(expected.end(), more.begin(), more.end());
    }
    EXPECT_EQ(pass.samples, expected);
    source.StopStream();
}

TEST_F(SourceTest, AnInfiniteLoopHasNoDuration) {
    bankgen::WaveOptions o;
    o.loop = true, o.loopStart = 10, o.loopEnd = 20;
    const Bytes media = bankgen::MakePcmWave(Signal(100, 1), 1, 48000, o);
    auto instance = Instance(0);
    CAuPcmBankSource source(instance.get(), media.data(), u32(media.size()));
    ASSERT_EQ(source.StartStream(), AuResultSuccess);
    EXPECT_EQ(source.GetDuration(), 0.0f);
    EXPECT_EQ(Pull(source, 64, 1, 50).state, AuResultDataReady); // still looping
}

TEST_F(SourceTest, BadMediaAreRefused) {
    struct Case {
        Malformed kind;
        AURESULT pcm;
    };
    const Case cases[] = {
        {Malformed::Truncated19, AuResultBadHeader},
        {Malformed::CueBeforeFmt, AuResultBadHeader},
        {Malformed::BlockAlignZero, AuResultBadHeader},
        {Malformed::RateZero, AuResultBadHeader},
        {Malformed::ChannelsZero, AuResultBadHeader},
        {Malformed::Pcm32Bit, AuResultBadHeader},
        {Malformed::LoopEndBelowStart, AuResultFail},
        {Malformed::LoopPastEnd, AuResultFail},
        {Malformed::TrailingBytes, AuResultFail},
        {Malformed::HugeAudCount, AuResultSuccess},
        {Malformed::SmplLoopOutside, AuResultSuccess},
        {Malformed::OddChunkNonZeroPad, AuResultBadHeader}, // samples at an odd address
    };
    for (const Case& c : cases) {
        const Bytes media = bankgen::MakeMalformed(c.kind);
        auto instance = Instance(0);
        CAuPcmBankSource source(instance.get(), media.data(), u32(media.size()));
        EXPECT_EQ(source.StartStream(), c.pcm) << bankgen::MalformedName(c.kind);
    }
    for (Malformed kind : {Malformed::PartialAdpcmBlock, Malformed::BlockAlignZero}) {
        const Bytes media = bankgen::MakeMalformed(kind);
        auto instance = Instance(1);
        CAuAdpcmBankSource source(instance.get(), media.data(), u32(media.size()));
        EXPECT_EQ(source.StartStream(), AuResultBadHeader) << bankgen::MalformedName(kind);
    }
    auto instance = Instance(1);
    CAuPcmBankSource none(instance.get(), nullptr, 0);
    EXPECT_EQ(none.StartStream(), AuResultFail);
    EXPECT_EQ(Used(), m_usedAtStart);
}

TEST_F(SourceTest, TheEngineDecoderFollowsTheEncoderAndClampsTheStepIndex) {
    const std::vector<i16> samples = Signal(4096, 2);
    const Bytes blocks = bankgen::EncodeAdpcm(samples, 2);
    const std::vector<i16> expected = AdpcmReference(samples, 2);
    std::vector<i16> decoded(expected.size());
    for (size_t b = 0; b < blocks.size() / 72; ++b)
        for (u32 c = 0; c < 2; ++c)
            AuDecodeAdpcmBlock(&blocks[(b * 2 + c) * 36], &decoded[b * 128 + c], 2);
    EXPECT_EQ(decoded, expected);

    u8 record[36];
    memcpy(record, blocks.data(), 36);
    i16 clamped[64], at88[64];
    record[2] = 200;
    AuDecodeAdpcmBlock(record, clamped, 1);
    record[2] = 88;
    AuDecodeAdpcmBlock(record, at88, 1);
    EXPECT_EQ(std::vector<i16>(clamped, clamped + 64), std::vector<i16>(at88, at88 + 64));
}

TEST_F(SourceTest, AdpcmSeeksToTheBlockAndLeavesTheRestToThePitchNode) {
    const Bytes media = bankgen::MakeAdpcmWave(Signal(640, 1), 1, 50000);
    auto instance = Instance(1);
    CAuAdpcmBankSource source(instance.get(), media.data(), u32(media.size()));
    ASSERT_EQ(source.StartStream(), AuResultSuccess);
    // 2 ms: 96 output-rate samples, converted once into 100 media samples.
    instance->SeekTime(2, false);
    ASSERT_EQ(source.Seek(), AuResultSuccess);
    EXPECT_EQ(source.Position(), 64u);
    EXPECT_EQ(instance->SourceFrameOffset(), 36u);
    EXPECT_FALSE(instance->SeekPending());
    // Fractions that are not numbers or lie outside [0, 1] are clamped before any conversion.
    for (f32 fraction :
         {std::numeric_limits<f32>::quiet_NaN(), -std::numeric_limits<f32>::infinity(), -3.0f}) {
        instance->SeekPercent(fraction, false);
        EXPECT_EQ(source.Seek(), AuResultSuccess);
        EXPECT_EQ(source.Position(), 0u);
    }
    instance->SeekPercent(1.0f, false);
    const AURESULT atEnd = source.Seek();
    const u32 endPosition = source.Position();
    for (f32 fraction : {std::numeric_limits<f32>::infinity(), 2.0f}) {
        instance->SeekPercent(fraction, false);
        EXPECT_EQ(source.Seek(), atEnd);
        EXPECT_EQ(source.Position(), endPosition);
    }
}

// Time seeks far past 2^32 output samples: an endless loop lands where the loop says, to the
// sample; a loop that ends and a source without a loop are past their end.
TEST_F(SourceTest, TimeSeeksPast32BitsOfSamplesLandWhereTheLoopSays) {
    struct Case {
        u32 rate;
        u32 frames;
        bool loop;
        u16 loopCount;
        u32 ms;
        AURESULT result;
        u32 position;
    };
    const Case cases[] = {
        {48000, 96000, true, 0, 2147483647, AuResultSuccess, 79056}, // 103 079 215 056 samples
        {48000, 96000, true, 0, 100000001, AuResultSuccess, 48},     // 4 800 000 048 samples
        {24000, 48000, true, 0, 2147483647, AuResultSuccess, 39528}, // half as many media samples
        {48000, 96000, true, 0, 1000, AuResultSuccess, 48000},
        {48000, 96000, true, 3, 2147483647, AuResultFail, 0},
        {48000, 96000, false, 1, 2147483647, AuResultFail, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.ms << " ms, " << c.rate << " Hz, loop count " << c.loopCount);
        bankgen::WaveOptions o;
        o.loop = c.loop, o.loopStart = 0, o.loopEnd = c.frames - 1;
        const Bytes media = bankgen::MakePcmWave(Signal(c.frames, 1), 1, c.rate, o);
        auto instance = Instance(c.loopCount);
        CAuPcmBankSource source(instance.get(), media.data(), u32(media.size()));
        ASSERT_EQ(source.StartStream(), AuResultSuccess);
        instance->SeekTime(c.ms, false);
        EXPECT_EQ(source.Seek(), c.result);
        if (c.result == AuResultSuccess) {
            EXPECT_EQ(source.Position(), c.position);
        }
        source.StopStream();
    }
}

TEST_F(SourceTest, AdpcmLoopsDeliverExactlyTheirFrames) {
    const std::vector<i16> samples = Signal(128, 1);
    const std::vector<i16> reference = AdpcmReference(samples, 1);
    {
        // [0, 99] twice over two blocks: 100 frames, then the last pass to the end.
        bankgen::WaveOptions o;
        o.loop = true, o.loopStart = 0, o.loopEnd = 99;
        const Bytes media = bankgen::MakeAdpcmWave(samples, 1, 48000, o);
        auto instance = Instance(2);
        CAuAdpcmBankSource source(instance.get(), media.data(), u32(media.size()));
        ASSERT_EQ(source.StartStream(), AuResultSuccess);
        const Pass pass = Pull(source, 1024, 1);
        EXPECT_EQ(pass.state, AuResultNoMoreData);
        EXPECT_EQ(pass.samples.size(), 228u);
        std::vector<i16> expected = Frames(reference, 0, 99, 1);
        expected.insert(expected.end(), reference.begin(), reference.end());
        EXPECT_EQ(pass.samples, expected);
    }
    {
        // [10, 73]: a pass that starts and ends inside blocks, for ever.
        bankgen::WaveOptions o;
        o.loop = true, o.loopStart = 10, o.loopEnd = 73;
        const Bytes media = bankgen::MakeAdpcmWave(samples, 1, 48000, o);
        auto instance = Instance(0);
        CAuAdpcmBankSource source(instance.get(), media.data(), u32(media.size()));
        ASSERT_EQ(source.StartStream(), AuResultSuccess);
        const Pass pass = Pull(source, 1024, 1, 5);
        EXPECT_EQ(pass.state, AuResultDataReady);
        EXPECT_EQ(pass.frames, (std::vector<u32>{74, 64, 64, 64, 64}));
        std::vector<i16> expected = Frames(reference, 0, 73, 1);
        for (int i = 0; i < 4; ++i) {
            const std::vector<i16> again = Frames(reference, 10, 73, 1);
            expected.insert(expected.end(), again.begin(), again.end());
        }
        EXPECT_EQ(pass.samples, expected);
    }
    EXPECT_EQ(Used(), m_usedAtStart);
}

TEST_F(SourceTest, MarkersReachTheirBuffers) {
    CAuPlayingMgr playing;
    ASSERT_EQ(playing.Init(), AuResultSuccess);
    ASSERT_EQ(playing.AddPlayingID(1, 1, 0, IgnoreCallback, nullptr, AU_CALLBACK_FLAG_MARKER, nullptr),
              AuResultSuccess);
    g_pPlayingMgr = &playing;
    bankgen::WaveOptions o;
    o.cues = {{1, 10, "ten"}, {2, 300, ""}, {3, 511, "last"}};
    const Bytes media = bankgen::MakePcmWave(Signal(600, 1), 1, 48000, o);
    {
        auto instance = Instance(1);
        ASSERT_EQ(instance->Init(nullptr, nullptr), AuResultSuccess);
        CAuPcmBankSource source(instance.get(), media.data(), u32(media.size()));
        ASSERT_EQ(source.StartStream(), AuResultSuccess);
        std::vector<std::vector<std::pair<u32, u32>>> got;
        for (int n = 0; n < 3; ++n) {
            AuPipelineBuffer buffer;
            buffer.uMaxFrames = 256;
            source.GetBuffer(buffer);
            got.emplace_back();
            for (u32 i = 0; i < buffer.uNumMarkers; ++i) {
                EXPECT_EQ(buffer.pMarkers[i].pInstance, instance.get());
                got.back().push_back({buffer.pMarkers[i].cue.uID, buffer.pMarkers[i].uOffsetInBuffer});
            }
            buffer.FreeMarkers();
        }
        using V = std::vector<std::pair<u32, u32>>;
        EXPECT_EQ(got, (std::vector<V>{V{{1, 10}}, V{{2, 44}, {3, 255}}, V{}}));
        // Skipping while virtual: 17 at the end with the frames that were left.
        u32 frames = 1000;
        source.VirtualOff(0, false);
        EXPECT_EQ(source.TimeSkip(frames), AuResultNoMoreData);
        EXPECT_EQ(frames, 600u);
        instance->Term(0);
    }
    g_pPlayingMgr = nullptr;
    playing.Term();
}

std::vector<std::string>& MarkerLog() {
    static std::vector<std::string> log;
    return log;
}

void RecordMarker(AuCallbackType type, AuCallbackInfo* info) {
    const auto* marker = static_cast<AuMarkerCallbackInfo*>(info);
    ASSERT_EQ(type, AU_Marker);
    MarkerLog().push_back(std::to_string(marker->playingID) + ":" + std::to_string(marker->uIdentifier) +
                          "@" + std::to_string(marker->uPosition) + " " +
                          (marker->strLabel ? marker->strLabel : "-"));
}

TEST_F(SourceTest, SkippingWhileVirtualNotifiesTheMarkersPassedOver) {
    CAuPlayingMgr playing;
    ASSERT_EQ(playing.Init(), AuResultSuccess);
    ASSERT_EQ(playing.AddPlayingID(1, 1, 0, RecordMarker, nullptr, AU_Marker, nullptr), AuResultSuccess);
    g_pPlayingMgr = &playing;
    MarkerLog().clear();
    bankgen::WaveOptions o;
    o.cues = {{1, 10, "ten"}, {2, 300, ""}, {3, 599, "last"}, {4, 200, "edge"}};
    o.loop = true, o.loopStart = 100, o.loopEnd = 349;
    const Bytes media = bankgen::MakePcmWave(Signal(600, 1), 1, 48000, o);
    {
        auto instance = Instance(2);
        ASSERT_EQ(instance->Init(nullptr, nullptr), AuResultSuccess);
        CAuPcmBankSource source(instance.get(), media.data(), u32(media.size()));
        ASSERT_EQ(source.StartStream(), AuResultSuccess);
        struct Step {
            u32 frames, skipped;
            AURESULT result;
            std::vector<std::string> markers;
        };
        const Step steps[] = {
            {200, 200, AuResultDataReady, {"1:1@10 ten"}},                // [0, 200): 200 is not in it
            {500, 150, AuResultDataReady, {"1:2@300 -", "1:4@200 edge"}}, // to the loop end, then back
            {100, 100, AuResultDataReady, {}},                            // [100, 200)
            {1000, 400, AuResultNoMoreData, {"1:2@300 -", "1:3@599 last", "1:4@200 edge"}},
        };
        for (const Step& step : steps) {
            MarkerLog().clear();
            u32 frames = step.frames;
            EXPECT_EQ(source.TimeSkip(frames), step.result) << step.frames;
            EXPECT_EQ(frames, step.skipped) << step.frames;
            EXPECT_EQ(MarkerLog(), step.markers) << step.frames;
        }
        instance->Term(0);
    }
    g_pPlayingMgr = nullptr;
    playing.Term();
}

TEST_F(SourceTest, TheFactoryBuildsThePcmAndAdpcmClassesInMemoryAndStreamed) {
    struct Case {
        u32 kind, codec;
        const char* made; // null: none
    };
    const Case cases[] = {
        {3, 1, "pcm bank"}, {1, 1, "pcm file"},  {3, 2, "adpcm bank"}, {1, 2, "adpcm file"},
        {0, 1, nullptr},    {2, 1, "generator"}, {3, 0, nullptr},      {1, 4, nullptr},
    };
    const Bytes media = bankgen::MakePcmWave(Signal(100, 1), 1, 48000);
    for (const Case& c : cases) {
        auto instance = Instance(1);
        AuSourceMedia described;
        described.uFlags = c.kind << AuSourceMedia::kStorageShift;
        described.uPluginID = c.codec << 16 | 1;
        described.uFileID = 9;
        described.pData = media.data();
        described.uSize = u32(media.size());
        instance->SetSourceMedia(described);
        CAuSourceBase* source = AuCreateSource(instance.get());
        const char* made = !source                                      ? nullptr
                           : dynamic_cast<CAuPcmBankSource*>(source)    ? "pcm bank"
                           : dynamic_cast<CAuPcmFileSource*>(source)    ? "pcm file"
                           : dynamic_cast<CAuAdpcmBankSource*>(source)  ? "adpcm bank"
                           : dynamic_cast<CAuAdpcmFileSource*>(source)  ? "adpcm file"
                           : dynamic_cast<CAuSourcePluginHost*>(source) ? "generator"
                                                                        : "other";
        EXPECT_STREQ(made, c.made) << c.kind << " " << c.codec;
        AuDestroySource(source);
    }
    EXPECT_EQ(Used(), m_usedAtStart);
}

TEST_F(SourceTest, TheSharedOperations) {
    CAuPlayingMgr playing;
    ASSERT_EQ(playing.Init(), AuResultSuccess);
    static std::vector<std::pair<f32, f32>> durations;
    durations.clear();
    const AuCallbackFunc record = [](AuCallbackType, AuCallbackInfo* info) {
        const auto* d = static_cast<AuDurationCallbackInfo*>(info);
        durations.push_back({d->fDuration, d->fEstimatedDuration});
    };
    ASSERT_EQ(
        playing.AddPlayingID(1, 1, 0, record, nullptr, AU_Duration | AU_EnableGetSourcePlayPosition, nullptr),
        AuResultSuccess);
    g_pPlayingMgr = &playing;
    CAuPositionRepository positions;
    ASSERT_EQ(positions.Init(), AuResultSuccess);
    g_pPositionRepository = &positions;
    {
        const Bytes media = bankgen::MakePcmWave(Signal(4800, 1), 1, 48000);
        auto instance = Instance(1);
        ASSERT_EQ(instance->Init(nullptr, nullptr), AuResultSuccess);
        instance->SetSourceMedia(voicetest::InMemoryMedia(media.data(), media.size(), 1 << 16 | 1));
        CAuSourceBase* source = AuCreateSource(instance.get());
        ASSERT_NE(source, nullptr);
        EXPECT_FALSE(source->IsLooping());
        EXPECT_EQ(source->StartOnce(), AuResultSuccess);
        EXPECT_EQ(source->StartOnce(), AuResultSuccess);
        source->NotifyDuration();
        ASSERT_EQ(durations.size(), 1u);
        EXPECT_FLOAT_EQ(durations[0].first, 100.0f);
        EXPECT_FLOAT_EQ(durations[0].second, 100.0f); // no pitch offset
        u32 ms = 1;
        EXPECT_EQ(positions.GetSourcePlayPosition(1, ms, false), AuResultSuccess);
        EXPECT_EQ(ms, 0u);
        // A probe takes a buffer and gives it back.
        EXPECT_EQ(source->ProbeBuffer(300), 300u);
        EXPECT_EQ(source->Position(), 300u);
        source->OnPaused();
        source->OnResumed(1.0f);
        source->Stop(0);
        EXPECT_TRUE(instance->IsStopped());
        EXPECT_EQ(positions.GetSourcePlayPosition(1, ms, false), AuResultFail);
        AuDestroySource(source);
        instance->Term(0);
    }
    g_pPositionRepository = nullptr;
    positions.Term();
    g_pPlayingMgr = nullptr;
    playing.Term();
}

TEST_F(SourceTest, TheEnvelopeInterpolatesAndHoldsItsEnds) {
    bankgen::WaveOptions o;
    o.hasEnvelope = true;
    o.envelope = {{10, 4}, {110, 24}, {210, 24}};
    const Bytes media = bankgen::MakePcmWave(Signal(400, 1), 1, 48000, o);
    auto instance = Instance(1);
    CAuPcmBankSource source(instance.get(), media.data(), u32(media.size()));
    ASSERT_EQ(source.StartStream(), AuResultSuccess);
    EXPECT_EQ(source.GetAnalyzedEnvelope(0), -4.0f); // before the first point
    u32 frames = 60;
    source.TimeSkip(frames);
    EXPECT_EQ(source.GetAnalyzedEnvelope(0), -14.0f);
    EXPECT_EQ(source.GetAnalyzedEnvelope(100), -4.0f);
    frames = 300;
    source.TimeSkip(frames);
    EXPECT_EQ(source.GetAnalyzedEnvelope(0), -24.0f);   // past the last point
    EXPECT_EQ(source.GetAnalyzedEnvelope(300), -14.0f); // the search wraps to the start

    for (const Bytes& other :
         {bankgen::MakeMalformed(Malformed::HugeAudCount), bankgen::MakePcmWave(Signal(400, 1), 1, 48000)}) {
        auto i = Instance(1);
        CAuPcmBankSource s(i.get(), other.data(), u32(other.size()));
        ASSERT_EQ(s.StartStream(), AuResultSuccess);
        EXPECT_EQ(s.GetAnalyzedEnvelope(0), 0.0f);
    }
}

TEST_F(SourceTest, RelocatedMediaPlayOnFromTheirNewPlace) {
    const std::vector<i16> samples = Signal(300, 1);
    const Bytes media = bankgen::MakeAdpcmWave(samples, 1, 48000);
    std::vector<u8> first(media.begin(), media.end()), second(media.begin(), media.end());
    auto instance = Instance(1);
    CAuAdpcmBankSource source(instance.get(), first.data(), u32(first.size()));
    ASSERT_EQ(source.StartStream(), AuResultSuccess);
    Pass pass = Pull(source, 128, 1, 1);
    source.RelocateMedia(second.data(), first.data());
    first.assign(first.size(), 0xFF); // the old place is gone
    const Pass rest = Pull(source, 1024, 1);
    pass.samples.insert(pass.samples.end(), rest.samples.begin(), rest.samples.end());
    EXPECT_EQ(rest.state, AuResultNoMoreData);
    EXPECT_EQ(pass.samples, AdpcmReference(samples, 1));
}

} // namespace
