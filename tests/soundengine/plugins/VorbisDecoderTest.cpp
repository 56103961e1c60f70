#include "VorbisSourcePoolTest.h"
#include "VorbisTestSupport.h"

#include "plugins/AuVorbisCodebookLibrary.h"

#include <vorbispack/Setup.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

using vorbistest::EngineDecode;
using vorbistest::Make;
using vorbistest::ReferenceDecode;

class VorbisDecoderTest : public vorbistest::SourcePoolTest {};

TEST(VorbisDctTest, FastTransformMatchesTheDefinition) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    for (const u32 n : {128u, 256u, 512u, 1024u, 2048u}) {
        std::vector<f32> in(n), fast(n), reference(n);
        for (auto& v : in)
            v = value(random);
        fast = in;
        VorbisDctIv(fast.data(), n);
        VorbisDctIvReference(in.data(), reference.data(), n);
        for (u32 i = 0; i < n; ++i)
            ASSERT_NEAR(fast[i], reference[i], 2e-3) << n << " " << i;
    }
}

struct SideBySide {
    u32 channels;
    long rate;
    float quality;
};

class VorbisSideBySideTest : public VorbisDecoderTest, public testing::WithParamInterface<SideBySide> {};

TEST_P(VorbisSideBySideTest, MatchesTheReferenceDecoderWithinOneOrTwoSteps) {
    const auto [channels, rate, quality] = GetParam();
    const auto e = Make(channels, rate, quality);
    const auto reference = ReferenceDecode(e.stream);
    const auto engine = EngineDecode(e.media);
    ASSERT_EQ(engine.size(), reference.size());
    ASSERT_EQ(engine.size(), std::size_t(e.info.totalSamples) * channels);
    std::size_t withinOne = 0;
    int worst = 0;
    int loudest = 0;
    for (const auto v : reference)
        loudest = std::max(loudest, std::abs(int(v)));
    EXPECT_GT(loudest, 8000); // the signal is there, not two silences alike
    for (std::size_t i = 0; i < engine.size(); ++i) {
        const int d = std::abs(int(engine[i]) - int(reference[i]));
        worst = std::max(worst, d);
        withinOne += d <= 1;
    }
    EXPECT_LE(worst, 2);
    std::printf("%u ch %ld Hz q%.1f: %zu samples, worst %d, %.4f%% within 1\n", channels, rate,
                double(quality), engine.size(), worst, 100.0 * double(withinOne) / double(engine.size()));
    EXPECT_GE(double(withinOne), 0.99 * double(engine.size()));
}

INSTANTIATE_TEST_SUITE_P(Configurations, VorbisSideBySideTest,
                         testing::Values(SideBySide{1, 48000, 0.2f}, SideBySide{2, 48000, 0.4f},
                                         SideBySide{2, 44100, -0.1f}, SideBySide{1, 22050, 0.0f},
                                         SideBySide{2, 32000, 1.0f}));

struct SetupBytes {
    vorbistest::MediaView view;
    std::vector<u8> packet;
};

SetupBytes SetupOf(const vorbispack::Bytes& media) {
    SetupBytes s;
    s.view = vorbistest::View(media);
    const u8* p = s.view.data + s.view.seekSize;
    s.packet.assign(p + 2, p + 2 + (p[0] | p[1] << 8));
    return s;
}

TEST_F(VorbisDecoderTest, OneSetupIdSharesOneEntry) {
    const auto e = Make(2, 48000, 0.4f, 0.5);
    const auto s = SetupOf(e.media);
    const VorbisSetupInfo* first =
        VorbisSetupCache::Get(s.view.setup, 2, s.packet.data(), u32(s.packet.size()));
    ASSERT_NE(first, nullptr);
    // The second user's packet is never parsed: garbage passes.
    std::vector<u8> garbage(s.packet.size(), 0xA5);
    EXPECT_EQ(VorbisSetupCache::Get(s.view.setup, 2, garbage.data(), u32(garbage.size())), first);
    EXPECT_EQ(VorbisSetupCache::Count(), 1u);
    // Another channel count under the same ID would index per-channel tables out of range.
    EXPECT_EQ(VorbisSetupCache::Get(s.view.setup, 3, s.packet.data(), u32(s.packet.size())), nullptr);
    VorbisSetupCache::Release(s.view.setup.uSetupId);
    EXPECT_EQ(VorbisSetupCache::Count(), 1u);
    VorbisSetupCache::Release(s.view.setup.uSetupId);
    EXPECT_EQ(VorbisSetupCache::Count(), 0u);
    EXPECT_EQ(Used(), m_usedAtStart);
}

TEST_F(VorbisDecoderTest, SetupRefusals) {
    const auto e = Make(2, 48000, 0.4f, 0.5);
    const auto s = SetupOf(e.media);
    struct Case {
        const char* name;
        AuVorbisSetupParams params;
        std::vector<u8> packet;
    };
    std::vector<Case> cases;
    const auto with = [&](const char* name, auto edit) {
        Case c{name, s.view.setup, s.packet};
        edit(c);
        cases.push_back(c);
    };
    with("memory one word short", [](Case& c) { c.params.uMemorySize -= 4; });
    with("short block of 128", [](Case& c) { c.params.uShortExp = 7; });
    with("long block of 8192", [](Case& c) { c.params.uLongExp = 13; });
    with("short above long", [](Case& c) { c.params.uShortExp = 12, c.params.uLongExp = 11; });
    // The first library index sits in bits 8 to 17.
    with("library index at the library size", [](Case& c) {
        const u32 index = g_uVorbisCodebookCount;
        c.packet[1] = u8(index);
        c.packet[2] = u8((c.packet[2] & ~3u) | (index >> 8));
    });
    with("library index 1023", [](Case& c) {
        c.packet[1] = 0xFF;
        c.packet[2] |= 3;
    });
    for (const std::size_t cut :
         {std::size_t(0), std::size_t(1), std::size_t(3), s.packet.size() / 2, s.packet.size() - 1})
        with("truncated", [cut](Case& c) { c.packet.resize(cut); });
    for (const auto& c : cases) {
        EXPECT_EQ(VorbisSetupCache::Get(c.params, 2, c.packet.data(), u32(c.packet.size())), nullptr)
            << c.name;
        EXPECT_EQ(VorbisSetupCache::Count(), 0u) << c.name;
    }
    EXPECT_EQ(Used(), m_usedAtStart);
}

// A small compact set-up written field by field: one codebook (a library entry with VQ values),
// one floor, one residue, one mapping with one coupling step, two modes.
struct CompactSpec {
    u32 channels = 2;
    u32 floorBook = 0; // stored plus one
    u32 classBook = 0;
    u32 cascadeBook = 0;
    u32 magnitude = 0, angle = 1;
    u32 reserved = 0;
    u32 submaps = 1;
    u32 mux = 0;
    u32 submapFloor = 0, submapResidue = 0;
    u32 modes = 2;
    u32 modeMapping = 0;
};

u32 VqLibraryIndex() {
    std::vector<u8> block(8u << 20);
    for (u32 i = 0; i < g_uVorbisCodebookCount; ++i) {
        AuVorbisCodebook book;
        u32 used;
        if (UnpackVorbisCodebook(book, VorbisCodebookLibrary[i], block.data(), u32(block.size()), used) &&
            book.pValues)
            return i;
    }
    return 0;
}

std::vector<u8> CompactSetup(const CompactSpec& c) {
    vorbispack::BitWriter w;
    w.Write(0, 8);
    w.Write(VqLibraryIndex(), 10);
    w.Write(0, 6); // one floor
    w.Write(1, 5); // one partition
    w.Write(0, 4); // of class 0
    w.Write(0, 3); // one dimension
    w.Write(0, 2); // no subclasses
    w.Write(c.floorBook + 1, 8);
    w.Write(1, 2); // multiplier 2
    w.Write(4, 4); // range bits
    w.Write(5, 4); // X
    w.Write(0, 6); // one residue
    w.Write(1, 2);
    w.Write(0, 24);
    w.Write(64, 24);
    w.Write(7, 24); // partitions of 8
    w.Write(0, 6);  // one classification
    w.Write(c.classBook, 8);
    w.Write(1, 3); // cascade: pass 0
    w.Write(0, 1);
    w.Write(c.cascadeBook, 8);
    w.Write(0, 6); // one mapping
    w.Write(c.submaps > 1, 1);
    if (c.submaps > 1) w.Write(c.submaps - 1, 4);
    w.Write(1, 1); // coupled
    w.Write(0, 8);
    const int bits = vorbispack::ILog(c.channels - 1);
    w.Write(c.magnitude, bits);
    w.Write(c.angle, bits);
    w.Write(c.reserved, 2);
    if (c.submaps > 1)
        for (u32 ch = 0; ch < c.channels; ++ch)
            w.Write(c.mux, 4);
    for (u32 i = 0; i < c.submaps; ++i) {
        w.Write(0, 8);
        w.Write(c.submapFloor, 8);
        w.Write(c.submapResidue, 8);
    }
    w.Write(c.modes - 1, 6);
    for (u32 i = 0; i < c.modes; ++i) {
        w.Write(i & 1, 1);
        w.Write(c.modeMapping, 8);
    }
    return w.Bytes();
}

TEST_F(VorbisDecoderTest, CompactSetupRefusalTable) {
    struct Case {
        const char* name;
        CompactSpec spec;
        bool accepted;
    };
    const auto with = [](auto edit) {
        CompactSpec c;
        edit(c);
        return c;
    };
    const Case cases[] = {
        {"valid", {}, true},
        {"floor book past the count", with([](CompactSpec& c) { c.floorBook = 1; }), false},
        {"class book past the count", with([](CompactSpec& c) { c.classBook = 1; }), false},
        {"cascade book past the count", with([](CompactSpec& c) { c.cascadeBook = 1; }), false},
        {"coupling of a channel with itself", with([](CompactSpec& c) { c.angle = 0; }), false},
        {"coupling channel past the count", with([](CompactSpec& c) { c.channels = 3, c.angle = 3; }), false},
        {"reserved bits", with([](CompactSpec& c) { c.reserved = 2; }), false},
        {"submap number past the count", with([](CompactSpec& c) { c.submaps = 2, c.mux = 2; }), false},
        {"two submaps", with([](CompactSpec& c) { c.submaps = 2, c.mux = 1; }), true},
        {"submap floor past the count", with([](CompactSpec& c) { c.submapFloor = 1; }), false},
        {"submap residue past the count", with([](CompactSpec& c) { c.submapResidue = 1; }), false},
        {"mode mapping past the count", with([](CompactSpec& c) { c.modeMapping = 1; }), false},
        {"three modes", with([](CompactSpec& c) { c.modes = 3; }), false},
    };
    for (const Case& c : cases) {
        const auto packet = CompactSetup(c.spec);
        const AuVorbisSetupParams params{1234, 8u << 20, 8, 11};
        const VorbisSetupInfo* info =
            VorbisSetupCache::Get(params, c.spec.channels, packet.data(), u32(packet.size()));
        EXPECT_EQ(info != nullptr, c.accepted) << c.name;
        if (info) VorbisSetupCache::Release(1234);
        if (c.accepted) {
            EXPECT_GT(VorbisSetupMemorySize(packet.data(), u32(packet.size()), c.spec.channels, 8, 11), 0u)
                << c.name;
        }
    }
}

TEST_F(VorbisDecoderTest, SkipDropsExactlyTheFirstSamples) {
    const auto e = Make(1, 44100, 0.2f, 0.5);
    const auto whole = EngineDecode(e.media);
    for (const u32 skip : {1u, 100u, 1024u + 100u, 5000u}) {
        const auto skipped = EngineDecode(e.media, 700, skip);
        ASSERT_EQ(skipped.size() + skip, whole.size()) << skip;
        EXPECT_TRUE(std::equal(skipped.begin(), skipped.end(), whole.begin() + skip)) << skip;
    }
}

TEST_F(VorbisDecoderTest, ATrimLargerThanTheLastPacketEndsWithNoFrames) {
    const auto e = Make(1, 48000, 0.2f, 0.5);
    const auto v = vorbistest::View(e.media);
    const auto s = SetupOf(e.media);
    AuVorbisDecodeState st;
    st.decoder.pSetup = VorbisSetupCache::Get(v.setup, 1, s.packet.data(), u32(s.packet.size()));
    ASSERT_NE(st.decoder.pSetup, nullptr);
    ASSERT_EQ(InitVorbisChannels(st.decoder, 1), 0);
    // Two packets only: the first primes, the second is the last and trimmed away.
    const u8* first = v.data + v.firstPacket;
    const u32 twoPackets =
        4 + (first[0] | first[1] << 8) +
        (first[2 + (first[0] | first[1] << 8)] | first[3 + (first[0] | first[1] << 8)] << 8);
    ResetVorbisDecoder(st.decoder, 0, 60000);
    st.uStage = kVorbisStageDecoding;
    st.bAllDataPresent = true;
    st.uFramesWanted = 4096;
    st.uBytesAvailable = twoPackets;
    std::vector<i16> out(4096);
    DecodeVorbisPackets(st, v.maxPacket, first, out.data());
    EXPECT_EQ(st.uFramesProduced, 0u);
    EXPECT_EQ(st.eStatus, AuResultNoMoreData);
    EXPECT_EQ(st.uBytesConsumed, twoPackets);
    FreeVorbisChannels(st.decoder);
    VorbisSetupCache::Release(v.setup.uSetupId);
}

TEST_F(VorbisDecoderTest, PacketsCutShortDecodeWithoutReadingPastThem) {
    const auto e = Make(2, 48000, 0.4f, 0.5);
    const auto v = vorbistest::View(e.media);
    const auto s = SetupOf(e.media);
    AuVorbisPacketDecoder d;
    d.pSetup = VorbisSetupCache::Get(v.setup, 2, s.packet.data(), u32(s.packet.size()));
    ASSERT_NE(d.pSetup, nullptr);
    ASSERT_EQ(InitVorbisChannels(d, 2), 0);
    const u8* p = v.data + v.firstPacket;
    std::vector<i16> out(8192);
    for (int k = 0; k < 8; ++k) {
        const u32 size = p[0] | p[1] << 8;
        for (const u32 cut : {0u, 1u, 2u, size / 3, size / 2, size - 1}) {
            // A heap copy of exactly the cut bytes: the sanitizer sees any read past them.
            std::vector<u8> copy(p + 2, p + 2 + cut);
            DecodeVorbisPacket(d, {copy.data(), cut, false});
            OutputVorbisFrames(d, out.data(), 4096);
        }
        p += 2 + size;
    }
    FreeVorbisChannels(d);
    VorbisSetupCache::Release(v.setup.uSetupId);
}

} // namespace
