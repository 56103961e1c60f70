// The PCM and ADPCM file sources on the in-memory automatic stream: whatever the sizes of the
// stream's buffers, they deliver what the bank sources deliver from the same media.
#include "LowerEnginePoolTest.h"
#include "core/AuPlayingMgr.h"
#include "core/AuPositionRepository.h"
#include "voices/AuFileSources.h"
#include "voices/AuPlaybackInstance.h"

#include <AuMemoryAutoStream.h>
#include <bankgen/Media.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using bankgen::Bytes;

constexpr u32 kFileID = 4321;

std::vector<i16> Signal(u32 frames, u16 channels) {
    std::vector<std::vector<float>> c;
    for (u16 i = 0; i < channels; ++i)
        c.push_back(bankgen::Chirp(200 + 500 * i, 9000, frames / 48000.0, 48000, 0.7));
    return bankgen::ToPcm16(c);
}

struct Pass {
    std::vector<i16> samples;
    std::vector<u32> frames;
    AURESULT state = AuResultDataReady;
    u32 waits = 0; // buffers answered 46
};

class StreamedSourceTest : public voicetest::LowerEnginePoolTest {
protected:
    StreamedSourceTest() : LowerEnginePoolTest(16u << 20) {}

    std::unique_ptr<CAuPlaybackInstance> Instance(u16 loopCount, u32 codec, const Bytes* prefetch = nullptr,
                                                  u32 prefetchSize = 0) {
        AuPlaybackInstanceParams params;
        params.key.playingID = 1;
        params.priority.fPriority = 70.0f;
        auto instance = std::make_unique<CAuPlaybackInstance>(params);
        instance->SetLoopCount(loopCount);
        AuSourceMedia media;
        media.uFlags = AuSourceMedia::kStorageStreamed << AuSourceMedia::kStorageShift;
        media.uPluginID = codec << 16 | 1;
        media.uFileID = kFileID;
        if (prefetch) {
            media.uFlags |= AuSourceMedia::kPrefetched;
            media.pData = prefetch->data();
            media.uSize = prefetchSize;
        }
        instance->SetSourceMedia(media);
        return instance;
    }

    // Pulls until the source ends or fails, `limit` buffers, or 100 answers of 46 in a row.
    static Pass Pull(CAuSourceBase& source, u16 maxFrames, u32 channels, u32 limit = 100000) {
        Pass pass;
        u32 waiting = 0;
        for (u32 n = 0; n < limit && waiting < 100; ++n) {
            AuPipelineBuffer buffer;
            buffer.uMaxFrames = maxFrames;
            source.GetBuffer(buffer);
            pass.state = buffer.eState;
            const i16* data = reinterpret_cast<const i16*>(buffer.pData);
            if (buffer.eState == AuResultDataReady || buffer.eState == AuResultNoMoreData) {
                waiting = 0;
                pass.samples.insert(pass.samples.end(), data, data + buffer.uValidFrames * channels);
                pass.frames.push_back(buffer.uValidFrames);
            } else if (buffer.eState == AuResultNoDataReady) {
                ++waiting;
                ++pass.waits;
            }
            buffer.FreeMarkers();
            source.ReleaseBuffer();
            if (buffer.eState != AuResultDataReady && buffer.eState != AuResultNoDataReady) break;
        }
        return pass;
    }

    template <class Bank> Pass FromBank(const Bytes& media, u16 loopCount, u32 channels, u32 limit) {
        AuPlaybackInstanceParams params;
        params.key.playingID = 1;
        CAuPlaybackInstance instance(params);
        instance.SetLoopCount(loopCount);
        Bank source(&instance, media.data(), u32(media.size()));
        EXPECT_EQ(source.StartStream(), AuResultSuccess);
        Pass pass = Pull(source, 1024, channels, limit);
        source.StopStream();
        return pass;
    }

    // Starts a file source, retrying while it buffers.
    static AURESULT Start(CAuSourceBase& source) {
        AURESULT result = AuResultStillBuffering;
        for (int i = 0; i < 100000 && result == AuResultStillBuffering; ++i)
            result = source.StartStream();
        return result;
    }

    autostm::MemoryStreamMgr m_streams;
};

struct Media {
    const char* name;
    u32 codec;
    u16 channels;
    u32 frames;
    bool loop;
    u32 loopStart, loopEnd;
    u16 loopCount;
};

Bytes Make(const Media& m) {
    bankgen::WaveOptions o;
    o.loop = m.loop, o.loopStart = m.loopStart, o.loopEnd = m.loopEnd;
    o.cues = {{1, 5, "a"}, {2, m.frames / 2, ""}};
    o.hasEnvelope = true;
    o.envelope = {{0, 3}, {m.frames / 2, 9}};
    const std::vector<i16> samples = Signal(m.frames, m.channels);
    return m.codec == 1 ? bankgen::MakePcmWave(samples, m.channels, 48000, o)
                        : bankgen::MakeAdpcmWave(samples, m.channels, 48000, o);
}

const Media kMedia[] = {
    {"pcm mono", 1, 1, 3001, false, 0, 0, 1},
    {"pcm stereo loop x3", 1, 2, 2000, true, 300, 1299, 3},
    {"pcm 6 channels loop x2", 1, 6, 700, true, 1, 698, 2},
    {"adpcm stereo", 2, 2, 64 * 40, false, 0, 0, 1},
    {"adpcm mono unaligned loop x3", 2, 1, 64 * 30, true, 10, 73, 3},
    {"adpcm stereo loop [0,99] x2", 2, 2, 128, true, 0, 99, 2},
    {"adpcm stereo long loop x4", 2, 2, 64 * 50, true, 1000, 2900, 4},
};

TEST_F(StreamedSourceTest, AnyBufferSizesGiveTheBankSourcesSamples) {
    for (const Media& m : kMedia) {
        const Bytes media = Make(m);
        const Pass bank = m.codec == 1 ? FromBank<CAuPcmBankSource>(media, m.loopCount, m.channels, 100000)
                                       : FromBank<CAuAdpcmBankSource>(media, m.loopCount, m.channels, 100000);
        ASSERT_EQ(bank.state, AuResultNoMoreData) << m.name;
        m_streams.AddFile(kFileID, Bytes(media));
        for (u32 seed = 1; seed <= 12; ++seed) {
            const u32 hi = seed <= 4 ? 8 : seed <= 8 ? 300 : 4096;
            m_streams.onCreate = [&](autostm::MemoryAutoStream& s) {
                s.sizeSource = autostm::RandomSizes(seed, 1, hi);
            };
            auto instance = Instance(m.loopCount, m.codec);
            std::unique_ptr<CAuStreamedSourceBase> source;
            if (m.codec == 1)
                source = std::make_unique<CAuPcmFileSource>(instance.get());
            else
                source = std::make_unique<CAuAdpcmFileSource>(instance.get());
            ASSERT_EQ(Start(*source), AuResultSuccess) << m.name << " seed " << seed;
            const f64 total = m.codec == 1 ? m.frames : (m.frames + 63) / 64 * 64;
            const f64 looped = m.loop ? f64(m.loopEnd - m.loopStart + 1) * (m.loopCount - 1) : 0.0;
            EXPECT_FLOAT_EQ(source->GetDuration(), f32((looped + total) * 1000.0 / 48000.0)) << m.name;
            const Pass file = Pull(*source, u16(seed % 3 == 0 ? 100 : 1024), m.channels);
            // The envelope outlives the stream buffers it came in.
            EXPECT_EQ(source->GetAnalyzedEnvelope(source->Position()), -3.0f) << m.name;
            EXPECT_EQ(file.state, AuResultNoMoreData) << m.name << " seed " << seed;
            EXPECT_EQ(file.samples, bank.samples) << m.name << " seed " << seed;
            source->StopStream();
            EXPECT_EQ(m_streams.Live(), 0u);
        }
    }
    EXPECT_EQ(Used(), m_usedAtStart);
}

TEST_F(StreamedSourceTest, TheStreamIsOpenedForTheCodecWithTheLoopRegion) {
    const Media m{"adpcm", 2, 2, 64 * 10, true, 100, 300, 3};
    const Bytes media = Make(m);
    m_streams.AddFile(kFileID, Bytes(media));
    auto instance = Instance(3, 2);
    AuSourceMedia described = instance->GetSourceMedia();
    described.uFlags |= AuSourceMedia::kLanguageSpecific;
    instance->SetSourceMedia(described);
    CAuAdpcmFileSource source(instance.get());
    ASSERT_EQ(Start(source), AuResultSuccess);
    ASSERT_EQ(m_streams.opens.size(), 1u);
    const autostm::AutoOpen& open = m_streams.opens[0];
    EXPECT_EQ(open.fileID, kFileID);
    EXPECT_EQ(open.flags.uOrigin, AU_FILE_ORIGIN_ENGINE);
    EXPECT_EQ(open.flags.uFileType, 2u);
    EXPECT_TRUE(open.flags.bIsLanguageSpecific);
    EXPECT_EQ(open.heuristics.priority, 70);
    ASSERT_TRUE(open.hadBufferSettings);
    EXPECT_EQ(open.bufferSettings.uMinBufferSize, 2048u);
    // Blocks of 72 bytes; the region runs from the block of sample 100 through that of 300.
    const auto& h = m_streams.last->Heuristics();
    EXPECT_EQ(m_streams.last->minimalBufferSize, 72u);
    const u32 dataOffset = u32(media.size()) - 10 * 72;
    EXPECT_EQ(h.uLoopStart, dataOffset + 1 * 72);
    EXPECT_EQ(h.uLoopEnd, dataOffset + 5 * 72);
    EXPECT_FLOAT_EQ(h.fThroughput, 72.0f * 48000.0f / 64000.0f);
    EXPECT_EQ(h.priority, 70);
    source.StopStream();
    EXPECT_EQ(m_streams.Live(), 0u);

    // Without a name or an ID there is nothing to open.
    auto nameless = Instance(1, 1);
    AuSourceMedia none = nameless->GetSourceMedia();
    none.uFileID = 0xFFFFFFFF;
    nameless->SetSourceMedia(none);
    CAuPcmFileSource unnamed(nameless.get());
    EXPECT_EQ(unnamed.StartStream(), AuResultFail);
    AuPipelineBuffer buffer;
    buffer.uMaxFrames = 64;
    unnamed.GetBuffer(buffer); // a source that did not start has nothing to give
    EXPECT_EQ(buffer.eState, AuResultFail);
    EXPECT_EQ(unnamed.Seek(), AuResultFail);
    // By name.
    m_streams.AddFile(L"voice.aum", Bytes(media));
    none.pszFileName = L"voice.aum";
    nameless->SetSourceMedia(none);
    CAuAdpcmFileSource named(nameless.get());
    EXPECT_EQ(Start(named), AuResultSuccess);
    EXPECT_EQ(m_streams.opens.back().name, L"voice.aum");
}

TEST_F(StreamedSourceTest, BelowTheNominalBufferingTheSourceWaits) {
    const Bytes media = Make({"pcm", 1, 1, 4000, false, 0, 0, 1});
    m_streams.AddFile(kFileID, Bytes(media));
    m_streams.onCreate = [](autostm::MemoryAutoStream& s) {
        s.nominal = 6000;
        s.buffered = 100;
    };
    auto instance = Instance(1, 1);
    CAuPcmFileSource source(instance.get());
    EXPECT_EQ(source.StartStream(), AuResultStillBuffering);
    EXPECT_EQ(source.StartStream(), AuResultStillBuffering);
    AuPipelineBuffer buffer;
    buffer.uMaxFrames = 256;
    source.GetBuffer(buffer);
    EXPECT_EQ(buffer.eState, AuResultNoDataReady);
    EXPECT_EQ(buffer.uValidFrames, 0);
    m_streams.last->buffered = 4000;
    EXPECT_EQ(source.StartStream(), AuResultSuccess);
    // Once buffered, a dip does not hold the source back until it restarts.
    m_streams.last->buffered = 0;
    source.GetBuffer(buffer);
    EXPECT_EQ(buffer.eState, AuResultDataReady);
    source.ReleaseBuffer();
    source.VirtualOn(2);
    EXPECT_EQ(source.VirtualOff(2, false), AuResultSuccess);
    source.GetBuffer(buffer);
    EXPECT_EQ(buffer.eState, AuResultNoDataReady);
    // A stream that runs dry before the header is there makes the start wait too.
    auto other = Instance(1, 1);
    m_streams.onCreate = [](autostm::MemoryAutoStream& s) { s.dry = true; };
    CAuPcmFileSource dry(other.get());
    EXPECT_EQ(dry.StartStream(), AuResultStillBuffering);
    m_streams.last->dry = false;
    EXPECT_EQ(dry.StartStream(), AuResultSuccess);
}

TEST_F(StreamedSourceTest, BufferingIsReportedToThePlayingID) {
    CAuPlayingMgr playing;
    ASSERT_EQ(playing.Init(), AuResultSuccess);
    ASSERT_EQ(playing.AddPlayingID(1, 1, 0, nullptr, nullptr, AU_EnableGetSourceStreamBuffering, nullptr),
              AuResultSuccess);
    g_pPlayingMgr = &playing;
    CAuPositionRepository positions;
    ASSERT_EQ(positions.Init(), AuResultSuccess);
    g_pPositionRepository = &positions;
    {
        // Mono 16-bit at 48 kHz: 96 bytes a millisecond.
        const Bytes media = Make({"pcm", 1, 1, 48000, false, 0, 0, 1});
        m_streams.AddFile(kFileID, Bytes(media));
        m_streams.onCreate = [](autostm::MemoryAutoStream& s) {
            s.sizes = {u32(4096)};
            s.nominal = 96 * 100;
            s.buffered = 96 * 20;
        };
        auto instance = Instance(1, 1);
        ASSERT_EQ(instance->Init(nullptr, nullptr), AuResultSuccess);
        CAuPcmFileSource source(instance.get());
        EXPECT_EQ(source.StartStream(), AuResultStillBuffering);
        u32 ms = 0, status = 0;
        ASSERT_EQ(positions.GetSourceStreamBuffering(1, ms, status), AuResultSuccess);
        const u32 headerBytes = u32(media.size()) - 96000;
        EXPECT_EQ(ms, (96 * 20 + 4096 - headerBytes) / 96);
        EXPECT_EQ(status, 1u);
        positions.UpdateTime(1);
        m_streams.last->buffered = 96 * 100;
        EXPECT_EQ(source.StartStream(), AuResultSuccess);
        ASSERT_EQ(positions.GetSourceStreamBuffering(1, ms, status), AuResultSuccess);
        EXPECT_EQ(status, 17u);
        positions.UpdateTime(2);
        m_streams.last->error = true;
        AuPipelineBuffer buffer;
        buffer.uMaxFrames = 64;
        source.GetBuffer(buffer);
        ASSERT_EQ(positions.GetSourceStreamBuffering(1, ms, status), AuResultSuccess);
        EXPECT_EQ(status, 2u);
        EXPECT_EQ(ms, 0u);
        source.ReleaseBuffer();
        source.StopStream();
        instance->Term(0);
    }
    g_pPositionRepository = nullptr;
    positions.Term();
    g_pPlayingMgr = nullptr;
    playing.Term();
}

TEST_F(StreamedSourceTest, AFrameSplitBetweenBuffersIsDeliveredAlone) {
    const std::vector<i16> samples = Signal(40, 2);
    const Bytes media = bankgen::MakePcmWave(samples, 2, 48000);
    m_streams.AddFile(kFileID, Bytes(media));
    const u32 dataOffset = u32(media.size()) - 160;
    // The first buffer ends two bytes into frame 10.
    m_streams.onCreate = [&](autostm::MemoryAutoStream& s) { s.sizes = {dataOffset + 42, 4096}; };
    auto instance = Instance(1, 1);
    CAuPcmFileSource source(instance.get());
    ASSERT_EQ(Start(source), AuResultSuccess);
    const Pass pass = Pull(source, 1024, 2);
    EXPECT_EQ(pass.frames, (std::vector<u32>{10, 1, 29}));
    EXPECT_EQ(pass.samples, samples);
    EXPECT_EQ(pass.state, AuResultNoMoreData);
}

TEST_F(StreamedSourceTest, StreamFailuresAndShortFiles) {
    const std::vector<i16> samples = Signal(1000, 1);
    const Bytes media = bankgen::MakePcmWave(samples, 1, 48000);
    {
        // The file ends in the middle of a frame, 300 frames into its data: what came is played
        // and the half frame dropped.
        m_streams.AddFile(kFileID, Bytes(media.begin(), media.end() - 1400 - 1));
        m_streams.onCreate = [](autostm::MemoryAutoStream& s) { s.sizes = {77}; };
        auto instance = Instance(1, 1);
        CAuPcmFileSource source(instance.get());
        ASSERT_EQ(Start(source), AuResultSuccess);
        const Pass pass = Pull(source, 256, 1);
        EXPECT_EQ(pass.state, AuResultNoMoreData);
        EXPECT_EQ(pass.samples, std::vector<i16>(samples.begin(), samples.begin() + 299));
    }
    {
        const Bytes adpcm = bankgen::MakeAdpcmWave(samples, 1, 48000);
        m_streams.AddFile(kFileID, Bytes(adpcm.begin(), adpcm.end() - 36 * 3 - 5));
        m_streams.onCreate = [](autostm::MemoryAutoStream& s) { s.sizes = {50}; };
        auto instance = Instance(1, 2);
        CAuAdpcmFileSource source(instance.get());
        ASSERT_EQ(Start(source), AuResultSuccess);
        const Pass pass = Pull(source, 1024, 1);
        EXPECT_EQ(pass.state, AuResultNoMoreData);
        std::vector<i16> decoded;
        bankgen::EncodeAdpcm(samples, 1, &decoded);
        decoded.resize((16 - 4) * 64);
        EXPECT_EQ(pass.samples, decoded);
    }
    {
        // A stream error reaches the buffer.
        m_streams.AddFile(kFileID, Bytes(media));
        m_streams.onCreate = [](autostm::MemoryAutoStream& s) { s.sizes = {200}; };
        auto instance = Instance(1, 1);
        CAuPcmFileSource source(instance.get());
        ASSERT_EQ(Start(source), AuResultSuccess);
        Pass pass = Pull(source, 64, 1, 2);
        EXPECT_EQ(pass.state, AuResultDataReady);
        m_streams.last->error = true;
        pass = Pull(source, 64, 1, 10);
        EXPECT_EQ(pass.state, AuResultFail);
    }
    {
        // A missing file and a header the stream never completes.
        auto instance = Instance(1, 1);
        AuSourceMedia described = instance->GetSourceMedia();
        described.uFileID = 99;
        instance->SetSourceMedia(described);
        CAuPcmFileSource missing(instance.get());
        EXPECT_EQ(missing.StartStream(), AuResultFileNotFound);
        m_streams.AddFile(kFileID, Bytes(media.begin(), media.begin() + 30));
        m_streams.onCreate = [](autostm::MemoryAutoStream& s) { s.sizes = {7}; };
        auto cut = Instance(1, 1);
        CAuPcmFileSource truncated(cut.get());
        EXPECT_EQ(Start(truncated), AuResultBadHeader);
    }
    EXPECT_EQ(m_streams.Live(), 0u);
}

TEST_F(StreamedSourceTest, MalformedHeadersAreRefusedOverAStream) {
    struct Case {
        bankgen::Malformed kind;
        u32 codec;
        AURESULT result;
    };
    using bankgen::Malformed;
    const Case cases[] = {
        {Malformed::BadMagic, 1, AuResultBadHeader},
        {Malformed::CueBeforeFmt, 1, AuResultBadHeader},
        {Malformed::MissingFmt, 1, AuResultBadHeader},
        {Malformed::OversizeChunk, 1, AuResultBadHeader},
        {Malformed::HugeCueCount, 1, AuResultBadHeader},
        {Malformed::RateZero, 1, AuResultBadHeader},
        {Malformed::ChannelsZero, 1, AuResultBadHeader},
        {Malformed::Pcm32Bit, 1, AuResultBadHeader},
        {Malformed::LoopEndBelowStart, 1, AuResultFail},
        {Malformed::LoopPastEnd, 1, AuResultFail},
        {Malformed::PartialAdpcmBlock, 2, AuResultBadHeader},
        {Malformed::BlockAlignZero, 2, AuResultBadHeader},
        {Malformed::HugeAudCount, 1, AuResultSuccess},
        {Malformed::TrailingBytes, 1, AuResultSuccess},
    };
    for (const Case& c : cases) {
        for (u32 size : {3u, 4096u}) {
            m_streams.AddFile(kFileID, bankgen::MakeMalformed(c.kind));
            m_streams.onCreate = [size](autostm::MemoryAutoStream& s) { s.sizes = {size}; };
            auto instance = Instance(0, c.codec);
            std::unique_ptr<CAuStreamedSourceBase> source;
            if (c.codec == 1)
                source = std::make_unique<CAuPcmFileSource>(instance.get());
            else
                source = std::make_unique<CAuAdpcmFileSource>(instance.get());
            EXPECT_EQ(Start(*source), c.result) << bankgen::MalformedName(c.kind) << " " << size;
            source->StopStream();
        }
    }
    EXPECT_EQ(m_streams.Live(), 0u);
}

TEST_F(StreamedSourceTest, AdpcmSeekStartsAtTheBlockAndLeavesTheRestToThePitchNode) {
    const std::vector<i16> samples = Signal(64 * 8, 1);
    const Bytes media = bankgen::MakeAdpcmWave(samples, 1, 50000);
    std::vector<i16> decoded;
    bankgen::EncodeAdpcm(samples, 1, &decoded);
    m_streams.AddFile(kFileID, Bytes(media));
    m_streams.onCreate = [](autostm::MemoryAutoStream& s) { s.sizes = {13}; };
    auto instance = Instance(1, 2);
    // A seek asked before the start is resolved once the header is read.
    instance->SeekTime(2, false);
    CAuAdpcmFileSource source(instance.get());
    ASSERT_EQ(Start(source), AuResultSuccess);
    EXPECT_EQ(source.Position(), 64u);
    EXPECT_EQ(instance->SourceFrameOffset(), 36u);
    EXPECT_FALSE(instance->SeekPending());
    const u32 dataOffset = u32(media.size()) - 8 * 36;
    EXPECT_EQ(m_streams.last->positions.back(), dataOffset + 36u);
    const Pass pass = Pull(source, 1024, 1);
    EXPECT_EQ(pass.samples, std::vector<i16>(decoded.begin() + 64, decoded.end()));

    // Virtual and back: from the beginning, and from where it was.
    source.VirtualOn(0);
    ASSERT_EQ(source.VirtualOff(0, false), AuResultSuccess);
    EXPECT_EQ(m_streams.last->positions.back(), dataOffset);
    EXPECT_EQ(Pull(source, 1024, 1).samples, decoded);
    source.VirtualOn(0);
    source.VirtualOff(0, false);
    u32 frames = 200;
    EXPECT_EQ(source.TimeSkip(frames), AuResultDataReady);
    source.VirtualOn(1);
    ASSERT_EQ(source.VirtualOff(1, false), AuResultSuccess);
    EXPECT_EQ(source.Position(), 192u);
    EXPECT_EQ(instance->SourceFrameOffset(), 8u);
    EXPECT_EQ(Pull(source, 1024, 1).samples, std::vector<i16>(decoded.begin() + 192, decoded.end()));
    // Back from virtual through a seek: 6 ms are 300 media samples.
    source.VirtualOn(1);
    instance->SeekTime(6, false);
    ASSERT_EQ(source.VirtualOff(1, true), AuResultSuccess);
    EXPECT_EQ(source.Position(), 256u);
    EXPECT_EQ(instance->SourceFrameOffset(), 44u);
    EXPECT_EQ(Pull(source, 1024, 1).samples, std::vector<i16>(decoded.begin() + 256, decoded.end()));
    // Past the end the seek fails.
    instance->SeekTime(100, false);
    EXPECT_EQ(source.Seek(), AuResultFail);
}

TEST_F(StreamedSourceTest, APrefetchedStartPlaysAtOnce) {
    const Media m{"pcm loop", 1, 2, 3000, true, 100, 2000, 2};
    const Bytes media = Make(m);
    const Pass bank = FromBank<CAuPcmBankSource>(media, 2, 2, 100000);
    m_streams.AddFile(kFileID, Bytes(media));
    const u32 dataOffset = u32(media.size()) - 3000 * 4;
    for (u32 prefetch : {dataOffset, dataOffset + 1001, dataOffset + 4000, u32(media.size())}) {
        m_streams.onCreate = [](autostm::MemoryAutoStream& s) {
            s.sizes = {333};
            s.nominal = 1u << 30; // never filled: only the prefetch lets the source start
        };
        auto instance = Instance(2, 1, &media, prefetch);
        CAuPcmFileSource source(instance.get());
        ASSERT_EQ(source.StartStream(), AuResultSuccess) << prefetch;
        EXPECT_TRUE(source.HasAnalysisData());
        const Pass pass = Pull(source, 512, 2);
        EXPECT_EQ(pass.samples, bank.samples) << prefetch;
        EXPECT_EQ(pass.state, AuResultNoMoreData) << prefetch;
    }
}

TEST_F(StreamedSourceTest, StopLoopingPlaysOnToTheEndOfTheData) {
    const Media m{"pcm loop", 1, 1, 2000, true, 100, 499, 0};
    const Bytes media = Make(m);
    m_streams.AddFile(kFileID, Bytes(media));
    m_streams.onCreate = [](autostm::MemoryAutoStream& s) { s.sizes = {250}; };
    const std::vector<i16> samples = Signal(2000, 1);
    auto instance = Instance(0, 1);
    CAuPcmFileSource source(instance.get());
    ASSERT_EQ(Start(source), AuResultSuccess);
    // Into the second pass, the stream ahead of it.
    Pass pass;
    while (pass.samples.size() < 700) {
        const Pass more = Pull(source, 100, 1, 1);
        ASSERT_EQ(more.state, AuResultDataReady);
        pass.samples.insert(pass.samples.end(), more.samples.begin(), more.samples.end());
    }
    EXPECT_GT(source.Position(), 100u);
    EXPECT_LT(source.Position(), 500u);
    source.StopLooping();
    const Pass rest = Pull(source, 100, 1);
    EXPECT_EQ(rest.state, AuResultNoMoreData);
    pass.samples.insert(pass.samples.end(), rest.samples.begin(), rest.samples.end());
    std::vector<i16> expected(samples.begin(), samples.begin() + 500);
    expected.insert(expected.end(), samples.begin() + 100, samples.end());
    EXPECT_EQ(pass.samples, expected);
}

} // namespace
