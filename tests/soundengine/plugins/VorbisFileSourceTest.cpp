// The streamed Vorbis source on the in-memory automatic stream: whatever the sizes of the
// stream's buffers (twice the largest packet, which forces the stitch buffer, or random), it
// delivers what the in-memory source delivers from the same media.
#include "VorbisSourcePoolTest.h"
#include "VorbisTestSupport.h"

#include "plugins/AuVorbisSource.h"
#include "voices/AuPlaybackInstance.h"

#include <AuDefaultPoolTest.h>
#include <AuMemoryAutoStream.h>

#include <gtest/gtest.h>

#include <memory>

namespace {

using vorbispack::Bytes;

constexpr u32 kFileID = 77;

struct Pass {
    std::vector<i16> samples;
    AURESULT state = AuResultDataReady;
};

class VorbisFileSourceTest : public vorbistest::SourcePoolTest {
protected:
    // Played from the file of kFileID.
    static std::unique_ptr<CAuPlaybackInstance> Instance(u16 loopCount) {
        auto instance = SourcePoolTest::Instance(loopCount);
        AuSourceMedia media;
        media.uFlags = AuSourceMedia::kStorageStreamed << AuSourceMedia::kStorageShift;
        media.uPluginID = 4u << 16 | 1;
        media.uFileID = kFileID;
        instance->SetSourceMedia(media);
        return instance;
    }
    // Pulls until the source ends or fails, or 1000 answers of 46 in a row.
    static Pass Pull(CAuSourceBase& source, u16 maxFrames, u32 channels) {
        Pass pass;
        for (u32 n = 0, waiting = 0; n < 200000 && waiting < 1000; ++n) {
            AuPipelineBuffer buffer;
            buffer.uMaxFrames = maxFrames;
            source.GetBuffer(buffer);
            pass.state = buffer.eState;
            const i16* data = reinterpret_cast<const i16*>(buffer.pData);
            waiting = buffer.eState == AuResultNoDataReady ? waiting + 1 : 0;
            if (buffer.eState == AuResultDataReady || buffer.eState == AuResultNoMoreData)
                pass.samples.insert(pass.samples.end(), data, data + buffer.uValidFrames * channels);
            buffer.FreeMarkers();
            source.ReleaseBuffer();
            if (buffer.eState != AuResultDataReady && buffer.eState != AuResultNoDataReady) break;
        }
        return pass;
    }
    static AURESULT Start(CAuSourceBase& source) {
        AURESULT result = AuResultStillBuffering;
        for (int i = 0; i < 100000 && result == AuResultStillBuffering; ++i)
            result = source.StartStream();
        return result;
    }
    static Pass FromBank(const Bytes& media, u16 loopCount, u32 channels, u32 seekMs) {
        auto instance = Instance(loopCount);
        if (seekMs) instance->SeekTime(seekMs, false);
        CAuVorbisBankSource source(instance.get(), media.data(), u32(media.size()));
        EXPECT_EQ(source.StartStream(), AuResultSuccess);
        Pass pass = Pull(source, 700, channels);
        source.StopStream();
        return pass;
    }
    autostm::MemoryStreamMgr m_streams;
};

struct Case {
    const char* name;
    u32 channels;
    long rate;
    float quality;
    bool loop;
    u32 loopStart, loopEnd;
    u16 loopCount;
    u32 seekMs;
};

const Case kCases[] = {
    {"mono once", 1, 22050, 0.0f, false, 0, 0, 1, 0},
    {"stereo whole loop x2", 2, 48000, 0.4f, false, 0, 0, 2, 0},
    {"stereo sampler loop x3", 2, 44100, -0.1f, true, 5000, 30000, 3, 0},
    {"stereo seek", 2, 48000, 0.4f, false, 0, 0, 1, 300},
};

TEST_F(VorbisFileSourceTest, AnyBufferSizesGiveTheInMemorySourcesSamples) {
    for (const Case& c : kCases) {
        vorbispack::PackOptions options;
        options.loop = c.loop, options.loopStart = c.loopStart, options.loopEnd = c.loopEnd;
        const auto e = vorbistest::Make(c.channels, c.rate, c.quality, 1.0, options);
        const Pass bank = FromBank(e.media, c.loopCount, c.channels, c.seekMs);
        ASSERT_EQ(bank.state, AuResultNoMoreData) << c.name;
        m_streams.AddFile(kFileID, Bytes(e.media));
        const u32 twice = 2 * (u32(e.info.maxPacket) + 2);
        for (u32 seed = 0; seed <= 6; ++seed) {
            const u32 hi = seed <= 2 ? 16 : seed <= 4 ? 600 : 5000;
            m_streams.onCreate = [&](autostm::MemoryAutoStream& s) {
                if (seed == 0)
                    s.sizes = {twice};
                else
                    s.sizeSource = autostm::RandomSizes(seed, 1, hi);
            };
            auto instance = Instance(c.loopCount);
            if (c.seekMs) instance->SeekTime(c.seekMs, false);
            CAuVorbisFileSource source(instance.get());
            ASSERT_EQ(Start(source), AuResultSuccess) << c.name << " seed " << seed;
            const Pass file = Pull(source, 700, c.channels);
            EXPECT_EQ(file.state, AuResultNoMoreData) << c.name << " seed " << seed;
            ASSERT_EQ(file.samples.size(), bank.samples.size()) << c.name << " seed " << seed;
            EXPECT_EQ(file.samples, bank.samples) << c.name << " seed " << seed;
            source.StopStream();
        }
    }
}

TEST_F(VorbisFileSourceTest, BackFromVirtualFromTheElapsedTimeOrTheBeginning) {
    const auto e = vorbistest::Make(2, 48000, 0.4f, 1.0);
    const auto whole = vorbistest::EngineDecode(e.media);
    m_streams.AddFile(kFileID, Bytes(e.media));
    m_streams.onCreate = [](autostm::MemoryAutoStream& s) { s.sizeSource = autostm::RandomSizes(3, 1, 900); };
    for (const u32 behavior : {0u, 1u}) {
        auto instance = Instance(1);
        CAuVorbisFileSource source(instance.get());
        ASSERT_EQ(Start(source), AuResultSuccess);
        for (int i = 0; i < 10; ++i) {
            AuPipelineBuffer buffer;
            buffer.uMaxFrames = 500;
            source.GetBuffer(buffer);
            source.ReleaseBuffer();
        }
        source.VirtualOn(behavior);
        u32 frames = 20000;
        ASSERT_EQ(source.TimeSkip(frames), AuResultDataReady);
        ASSERT_EQ(source.VirtualOff(behavior, false), AuResultSuccess);
        const u32 from = behavior == 0 ? 0 : source.Position();
        if (behavior == 1) {
            EXPECT_GT(from, 20000u);
        }
        const Pass rest = Pull(source, 500, 2);
        EXPECT_EQ(rest.state, AuResultNoMoreData);
        EXPECT_EQ(rest.samples, std::vector<i16>(whole.begin() + std::ptrdiff_t(from) * 2,
                                                 whole.begin() + std::ptrdiff_t(e.info.totalSamples) * 2))
            << behavior;
        source.StopStream();
    }
}

} // namespace
