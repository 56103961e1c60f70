#include "VorbisSourcePoolTest.h"
#include "VorbisTestSupport.h"

#include "plugins/AuVorbisSource.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuPlaybackInstance.h"

#include <AU/VorbisCodec.h>

#include <AuDefaultPoolTest.h>
#include <bankgen/Parse.h>
#include <bankgen/Recipe.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <variant>

namespace {

using vorbispack::Bytes;
using vorbistest::EngineDecode;
using vorbistest::Make;
using vorbistest::View;

class VorbisSourceTest : public vorbistest::SourcePoolTest {
protected:
    struct Pass {
        std::vector<i16> samples;
        AURESULT state = AuResultDataReady;
    };
    static Pass Pull(CAuSourceBase& source, u16 maxFrames, u32 channels, u32 limit = 10000) {
        Pass pass;
        for (u32 n = 0; n < limit && (pass.state == AuResultDataReady || pass.state == AuResultNoDataReady);
             ++n) {
            AuPipelineBuffer buffer;
            buffer.uMaxFrames = maxFrames;
            source.GetBuffer(buffer);
            pass.state = buffer.eState;
            const i16* data = reinterpret_cast<const i16*>(buffer.pData);
            if (buffer.eState == AuResultDataReady || buffer.eState == AuResultNoMoreData)
                pass.samples.insert(pass.samples.end(), data, data + buffer.uValidFrames * channels);
            buffer.FreeMarkers();
            source.ReleaseBuffer();
        }
        return pass;
    }
    static std::vector<i16> Range(const std::vector<i16>& all, u32 from, u32 to, u32 channels) {
        return std::vector<i16>(all.begin() + std::ptrdiff_t(from * channels),
                                all.begin() + std::ptrdiff_t((to + 1) * channels));
    }
};

TEST_F(VorbisSourceTest, AOneShotEndsExactlyAtItsTotal) {
    const auto e = Make(2, 48000, 0.4f);
    const auto whole = EngineDecode(e.media);
    auto instance = Instance(1);
    CAuVorbisBankSource source(instance.get(), e.media.data(), u32(e.media.size()));
    ASSERT_EQ(source.StartStream(), AuResultSuccess);
    EXPECT_EQ(instance->GetMediaFormat().uSampleRate, 48000u);
    EXPECT_EQ(instance->GetMediaFormat().config.uWord, 0x3102u);
    const Pass pass = Pull(source, 512, 2);
    EXPECT_EQ(pass.state, AuResultNoMoreData);
    EXPECT_EQ(pass.samples.size(), std::size_t(e.info.totalSamples) * 2);
    EXPECT_EQ(pass.samples, whole);
    EXPECT_EQ(source.Position(), e.info.totalSamples);
    source.StopStream();
}

TEST_F(VorbisSourceTest, AWholeMediaLoopOfThreeGivesThreeCopies) {
    const auto e = Make(1, 22050, 0.0f);
    const auto whole = EngineDecode(e.media);
    auto instance = Instance(3);
    CAuVorbisBankSource source(instance.get(), e.media.data(), u32(e.media.size()));
    ASSERT_EQ(source.StartStream(), AuResultSuccess);
    const Pass pass = Pull(source, 300, 1);
    EXPECT_EQ(pass.state, AuResultNoMoreData);
    std::vector<i16> expected;
    for (int i = 0; i < 3; ++i)
        expected.insert(expected.end(), whole.begin(), whole.end());
    EXPECT_EQ(pass.samples, expected);
}

TEST_F(VorbisSourceTest, StopLoopingEndsAfterTheCurrentPassWithTheEndTrim) {
    const auto e = Make(2, 32000, 0.2f, 1.0);
    const auto whole = EngineDecode(e.media);
    auto instance = Instance(0);
    CAuVorbisBankSource source(instance.get(), e.media.data(), u32(e.media.size()));
    ASSERT_EQ(source.StartStream(), AuResultSuccess);
    // Into the second pass, then no more loops.
    const std::size_t frames = e.info.totalSamples + e.info.totalSamples / 2;
    const Pass first = Pull(source, 500, 2, u32((frames + 499) / 500));
    ASSERT_EQ(first.state, AuResultDataReady);
    source.StopLooping();
    const Pass rest = Pull(source, 500, 2);
    EXPECT_EQ(rest.state, AuResultNoMoreData);
    std::vector<i16> all = first.samples;
    all.insert(all.end(), rest.samples.begin(), rest.samples.end());
    std::vector<i16> expected = whole;
    expected.insert(expected.end(), whole.begin(), whole.end());
    EXPECT_EQ(all, expected);
}

TEST_F(VorbisSourceTest, ASamplerLoopPlaysToItsEndThenWholePasses) {
    vorbispack::PackOptions loop;
    loop.loop = true;
    loop.loopStart = 10000;
    loop.loopEnd = 70000;
    const auto e = Make(2, 48000, 0.4f, 2.0, loop);
    const auto whole = EngineDecode(e.media);
    for (const u16 maxFrames : {u16(256), u16(1000)}) {
        auto instance = Instance(3);
        CAuVorbisBankSource source(instance.get(), e.media.data(), u32(e.media.size()));
        ASSERT_EQ(source.StartStream(), AuResultSuccess);
        const Pass pass = Pull(source, maxFrames, 2);
        EXPECT_EQ(pass.state, AuResultNoMoreData);
        std::vector<i16> expected = Range(whole, 0, 70000, 2);
        const auto middle = Range(whole, 10000, 70000, 2);
        const auto last = Range(whole, 10000, e.info.totalSamples - 1, 2);
        expected.insert(expected.end(), middle.begin(), middle.end());
        expected.insert(expected.end(), last.begin(), last.end());
        ASSERT_EQ(pass.samples.size(), expected.size()) << maxFrames;
        EXPECT_EQ(pass.samples, expected) << maxFrames;
    }
}

TEST_F(VorbisSourceTest, SeeksGiveTheSamplesOfADecodeFromTheStart) {
    const auto e = Make(2, 48000, 0.4f);
    const auto whole = EngineDecode(e.media);
    // Output and media rates are both 48 kHz: a millisecond is 48 samples.
    for (const u32 ms : {0u, 1u, 60u, 1000u, 1999u}) {
        auto instance = Instance(1);
        instance->SeekTime(ms, false);
        CAuVorbisBankSource source(instance.get(), e.media.data(), u32(e.media.size()));
        ASSERT_EQ(source.StartStream(), AuResultSuccess) << ms;
        EXPECT_EQ(source.Position(), ms * 48);
        const Pass pass = Pull(source, 512, 2);
        EXPECT_EQ(pass.state, AuResultNoMoreData);
        EXPECT_EQ(pass.samples, Range(whole, ms * 48, e.info.totalSamples - 1, 2)) << ms;
    }
    auto instance = Instance(1);
    instance->SeekTime(2000, false); // the total itself
    CAuVorbisBankSource source(instance.get(), e.media.data(), u32(e.media.size()));
    EXPECT_EQ(source.StartStream(), AuResultFail);
}

TEST_F(VorbisSourceTest, BackFromVirtualFromTheElapsedTimeOrTheBeginning) {
    const auto e = Make(2, 48000, 0.4f, 1.0);
    const auto whole = EngineDecode(e.media);
    for (const u32 behavior : {0u, 1u}) {
        auto instance = Instance(1);
        CAuVorbisBankSource source(instance.get(), e.media.data(), u32(e.media.size()));
        ASSERT_EQ(source.StartStream(), AuResultSuccess);
        Pull(source, 500, 2, 10); // 5000 frames heard
        u32 frames = 20000;       // then virtual for a while
        ASSERT_EQ(source.TimeSkip(frames), AuResultDataReady);
        ASSERT_EQ(source.VirtualOff(behavior, false), AuResultSuccess);
        const u32 from = behavior == 0 ? 0 : 25000;
        EXPECT_EQ(source.Position(), from);
        const Pass rest = Pull(source, 500, 2);
        EXPECT_EQ(rest.state, AuResultNoMoreData);
        EXPECT_EQ(rest.samples, Range(whole, from, e.info.totalSamples - 1, 2)) << behavior;
    }
}

TEST_F(VorbisSourceTest, WithoutASeekTableOnlySampleZeroIsReached) {
    vorbispack::PackOptions options;
    options.stepSamples = 0xFFFFFFFF;
    const auto e = Make(1, 48000, 0.2f, 0.5, options);
    ASSERT_EQ(View(e.media).seekSize, 0u);
    auto instance = Instance(1);
    instance->SeekTime(0, false);
    CAuVorbisBankSource atZero(instance.get(), e.media.data(), u32(e.media.size()));
    EXPECT_EQ(atZero.StartStream(), AuResultSuccess);
    instance->SeekTime(1, false);
    CAuVorbisBankSource later(instance.get(), e.media.data(), u32(e.media.size()));
    EXPECT_EQ(later.StartStream(), AuResultFail);
}

TEST_F(VorbisSourceTest, TheSourceFactoryBuildsTheRegisteredCodec) {
    const auto e = Make(1, 22050, 0.0f, 0.5);
    const auto whole = EngineDecode(e.media);
    auto instance = Instance(1);
    AuSourceMedia media;
    media.uFlags = AuSourceMedia::kStorageInMemory << AuSourceMedia::kStorageShift;
    media.uPluginID = 0x00040001;
    media.pData = e.media.data();
    media.uSize = u32(e.media.size());
    instance->SetSourceMedia(media);
    EXPECT_EQ(AuCreateSource(instance.get()), nullptr); // not registered yet
    ASSERT_EQ(CAuLowerEngine::RegisterCodec(0, 4, CreateVorbisFileSource, CreateVorbisBankSource),
              AuResultSuccess);
    CAuSourceBase* source = AuCreateSource(instance.get());
    ASSERT_NE(source, nullptr);
    EXPECT_NE(dynamic_cast<CAuVorbisBankSource*>(source), nullptr);
    ASSERT_EQ(source->StartStream(), AuResultSuccess);
    EXPECT_EQ(Pull(*source, 512, 1).samples, whole);
    source->StopStream();
    AuDestroySource(source);
    media.uFlags = AuSourceMedia::kStorageStreamed << AuSourceMedia::kStorageShift;
    instance->SetSourceMedia(media);
    source = AuCreateSource(instance.get());
    EXPECT_NE(dynamic_cast<CAuVorbisFileSource*>(source), nullptr);
    AuDestroySource(source);
    CAuLowerEngine::FreeRegistries();
}

TEST_F(VorbisSourceTest, ABankWithVorbisMediaPlaysThroughTheInMemorySource) {
    const auto e = Make(2, 48000, 0.4f, 0.5);
    const std::string dir = testing::TempDir();
    std::ofstream(dir + "/vorbis-bank-media.wav", std::ios::binary)
        .write(reinterpret_cast<const char*>(e.media.data()), std::streamsize(e.media.size()));
    std::vector<std::string> errors;
    auto builder = bankgen::BuilderFromRecipe(
        R"({"bank": "V", "media": [{"id": "0x2001", "file": "vorbis-bank-media.wav"}],
        "objects": [{"type": "sound", "id": "0x1001", "media": "0x2001", "plugin": "0x00040001"}]})",
        errors, dir);
    ASSERT_TRUE(builder) << (errors.empty() ? "" : errors.front());
    Bytes bank;
    ASSERT_TRUE(builder->Build(bank, errors));
    bankgen::ParsedBank parsed;
    std::string error;
    ASSERT_TRUE(bankgen::ParseBank(bank, parsed, error)) << error;
    ASSERT_EQ(parsed.media.size(), 1u);
    ASSERT_EQ(parsed.records.size(), 1u);
    const auto& sound = std::get<bankgen::SoundRecord>(*parsed.records[0].record);
    EXPECT_EQ(sound.source.plugin, 0x00040001u);
    // The media as the bank holds it: exactly the packed file, which the source plays.
    const u8* media = bank.data() + parsed.dataOffset + parsed.media[0].offset;
    auto instance = Instance(1);
    CAuVorbisBankSource source(instance.get(), media, parsed.media[0].size);
    ASSERT_EQ(source.StartStream(), AuResultSuccess);
    EXPECT_EQ(Pull(source, 512, 2).samples, EngineDecode(e.media));
}

TEST(VorbisSeekTableTest, LookupTable) {
    // Steps of {4096 samples, 1000 bytes}, {4096, 900}, {2048, 500}; first packet at 300.
    const u8 table[] = {0x00, 0x10, 0xE8, 0x03, 0x00, 0x10, 0x84, 0x03, 0x00, 0x08, 0xF4, 0x01};
    struct Case {
        u32 t, reached, offset;
    };
    const Case cases[] = {{0, 0, 300},
                          {1, 0, 300},
                          {4095, 0, 300},
                          {4096, 4096, 12 + 1000},
                          {8191, 4096, 12 + 1000},
                          {8192, 8192, 12 + 1900},
                          {10240, 10240, 12 + 2400},
                          {50000, 10240, 12 + 2400}};
    for (const auto& c : cases) {
        u32 reached = 99, offset = 99;
        ASSERT_EQ(VorbisSeekTableLookup(table, sizeof table, 300, c.t, reached, offset), AuResultSuccess);
        EXPECT_EQ(reached, c.reached) << c.t;
        EXPECT_EQ(offset, c.offset) << c.t;
    }
    u32 reached, offset;
    EXPECT_EQ(VorbisSeekTableLookup(table, 3, 300, 1, reached, offset), AuResultFail);
    EXPECT_EQ(VorbisSeekTableLookup(nullptr, 0, 300, 0, reached, offset), AuResultSuccess);
}

void PutU16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = std::uint8_t(v);
    b[at + 1] = std::uint8_t(v >> 8);
}
void PutU32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}

TEST_F(VorbisSourceTest, BadMediaTable) {
    const auto e = Make(1, 22050, 0.0f, 0.5);
    const auto v = View(e.media);
    const std::size_t f = v.fmtOffset;
    struct Case {
        const char* name;
        void (*edit)(Bytes&, const vorbistest::MediaView&);
        AURESULT result;
    };
    const Case cases[] = {
        {"tag", [](Bytes& b, const vorbistest::MediaView& m) { PutU16(b, m.fmtOffset, 0xFFFE); },
         AuResultBadHeader},
        {"channels 0", [](Bytes& b, const vorbistest::MediaView& m) { PutU16(b, m.fmtOffset + 2, 0); },
         AuResultBadHeader},
        {"channels 9", [](Bytes& b, const vorbistest::MediaView& m) { PutU16(b, m.fmtOffset + 2, 9); },
         AuResultBadHeader},
        {"rate 0", [](Bytes& b, const vorbistest::MediaView& m) { PutU32(b, m.fmtOffset + 4, 0); },
         AuResultBadHeader},
        {"seek table past the data",
         [](Bytes& b, const vorbistest::MediaView& m) { PutU32(b, m.fmtOffset + 40, m.dataSize + 4); },
         AuResultBadHeader},
        {"set-up count past the data",
         [](Bytes& b, const vorbistest::MediaView& m) { PutU16(b, m.dataOffset + m.seekSize, 0xFFFF); },
         AuResultBadHeader},
        {"first packet elsewhere",
         [](Bytes& b, const vorbistest::MediaView& m) { PutU32(b, m.fmtOffset + 44, m.firstPacket + 2); },
         AuResultBadHeader},
        {"maximum packet 0", [](Bytes& b, const vorbistest::MediaView& m) { PutU16(b, m.fmtOffset + 48, 0); },
         AuResultBadHeader},
        {"loop end past the data",
         [](Bytes& b, const vorbistest::MediaView& m) { PutU32(b, m.fmtOffset + 32, m.dataSize); },
         AuResultFail},
        {"loop end before its start",
         [](Bytes& b, const vorbistest::MediaView& m) { PutU32(b, m.fmtOffset + 32, m.loopStart); },
         AuResultFail},
        {"trailing byte",
         [](Bytes& b, const vorbistest::MediaView&) {
             b.push_back(0);
             PutU32(b, 4, std::uint32_t(b.size() - 8));
         },
         AuResultFail},
        {"set-up memory too small",
         [](Bytes& b, const vorbistest::MediaView& m) {
             PutU32(b, m.fmtOffset + 52, m.setup.uMemorySize - 4);
         },
         AuResultFail},
    };
    for (const auto& c : cases) {
        Bytes media = e.media;
        c.edit(media, v);
        auto instance = Instance(1);
        CAuVorbisBankSource source(instance.get(), media.data(), u32(media.size()));
        EXPECT_EQ(source.StartStream(), c.result) << c.name;
    }
    // The fmt chunk cut to 64 bytes.
    Bytes shortFmt = e.media;
    shortFmt.erase(shortFmt.begin() + std::ptrdiff_t(f + 64), shortFmt.begin() + std::ptrdiff_t(f + 66));
    PutU32(shortFmt, f - 4, 64);
    PutU32(shortFmt, 4, std::uint32_t(shortFmt.size() - 8));
    auto instance = Instance(1);
    CAuVorbisBankSource source(instance.get(), shortFmt.data(), u32(shortFmt.size()));
    EXPECT_EQ(source.StartStream(), AuResultBadHeader);
}

TEST_F(VorbisSourceTest, APacketAboveTheMaximumSizeFailsTheBuffer) {
    auto e = Make(1, 22050, 0.0f, 0.5);
    PutU16(e.media, View(e.media).fmtOffset + 48, 4);
    auto instance = Instance(1);
    CAuVorbisBankSource source(instance.get(), e.media.data(), u32(e.media.size()));
    ASSERT_EQ(source.StartStream(), AuResultSuccess);
    EXPECT_EQ(Pull(source, 256, 1).state, AuResultFail);
}

} // namespace
