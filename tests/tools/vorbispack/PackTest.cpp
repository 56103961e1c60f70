#include <vorbispack/Pack.h>
#include <vorbispack/Setup.h>

#include <bankgen/Media.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using vorbispack::BitWriter;
using vorbispack::Bytes;

std::uint32_t U32(const Bytes& b, std::size_t at) {
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}
std::uint16_t U16(const Bytes& b, std::size_t at) {
    return std::uint16_t(b[at] | b[at + 1] << 8);
}

vorbispack::EncodedStream Tone(int channels, long rate, float quality) {
    vorbispack::EncodedStream s;
    std::string error;
    const auto tone = bankgen::Sine(440, 2.0, std::uint32_t(rate), 0.5);
    EXPECT_TRUE(vorbispack::Encode(std::vector<std::vector<float>>(std::size_t(channels), tone), rate,
                                   quality, s, error))
        << error;
    return s;
}

TEST(VorbisPackTest, ATwoSecondToneBecomesCodec4Media) {
    const auto stream = Tone(2, 48000, 0.4f);
    Bytes media;
    std::string error;
    vorbispack::PackedInfo info;
    ASSERT_TRUE(vorbispack::Pack(stream, {}, media, error, &info)) << error;
    ASSERT_EQ(std::memcmp(media.data(), "RIFF", 4), 0);
    ASSERT_EQ(std::memcmp(media.data() + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(U32(media, 4), media.size() - 8);
    ASSERT_EQ(U32(media, 16), 66u);
    const std::size_t f = 20;
    EXPECT_EQ(U16(media, f), 0xFFFF);
    EXPECT_EQ(U16(media, f + 2), 2);
    EXPECT_EQ(U32(media, f + 4), 48000u);
    EXPECT_EQ(U32(media, f + 24), 96000u);
    EXPECT_EQ(info.totalSamples, 96000u);
    EXPECT_EQ(media[f + 64], 8); // 256 and 2048 at 48 kHz
    EXPECT_EQ(media[f + 65], 11);
    // "data" follows the 66-byte format directly and ends the file.
    const std::size_t data = f + 66 + 8;
    ASSERT_EQ(std::memcmp(media.data() + f + 66, "data", 4), 0);
    EXPECT_EQ(data + U32(media, f + 66 + 4), media.size());
    const std::uint32_t seek = U32(media, f + 40);
    const std::uint16_t setupSize = U16(media, data + seek);
    EXPECT_EQ(U32(media, f + 44), seek + 2 + setupSize);
    EXPECT_GT(seek, 4u);
    EXPECT_EQ(seek % 4, 0u);
    // No loop asked for: the whole media, with the end trim.
    EXPECT_EQ(U32(media, f + 28), 2u + setupSize);
    EXPECT_EQ(U32(media, f + 32), U32(media, f + 66 + 4) - seek);
    EXPECT_EQ(U16(media, f + 36), 0);
    EXPECT_EQ(U16(media, f + 38), U16(media, f + 50));
    EXPECT_EQ(U16(media, f + 50), info.endTrim);
    EXPECT_EQ(U32(media, f + 60), info.setupId);
    // Every packet fits the maximum and the packets fill the data exactly.
    std::size_t at = data + U32(media, f + 44);
    std::uint32_t packets = 0;
    while (at + 2 <= media.size()) {
        const std::uint16_t n = U16(media, at);
        EXPECT_LE(n, U16(media, f + 48));
        at += 2 + n;
        ++packets;
    }
    EXPECT_EQ(at, media.size());
    EXPECT_EQ(packets, info.packets);
    EXPECT_EQ(packets, stream.audio.size());
}

TEST(VorbisPackTest, TheReferenceOggCarriesTheSamePackets) {
    const auto stream = Tone(1, 22050, 0.0f);
    vorbispack::EncodedStream back;
    std::string error;
    ASSERT_TRUE(vorbispack::ReadOgg(vorbispack::WriteOgg(stream), back, error)) << error;
    EXPECT_EQ(back.setup, stream.setup);
    ASSERT_EQ(back.audio.size(), stream.audio.size());
    for (std::size_t i = 0; i < back.audio.size(); ++i)
        ASSERT_EQ(back.audio[i].bytes, stream.audio[i].bytes);
    Bytes a, b;
    ASSERT_TRUE(vorbispack::Pack(stream, {}, a, error)) << error;
    ASSERT_TRUE(vorbispack::Pack(back, {}, b, error)) << error;
    EXPECT_EQ(a, b);
}

TEST(VorbisPackTest, RefusesBlockSizesOutsideTheWindowTables) {
    for (const std::uint8_t exponents : {0xB7, 0xD8}) { // 128/2048 and 256/8192
        auto stream = Tone(1, 48000, 0.2f);
        stream.identification[28] = exponents;
        Bytes media;
        std::string error;
        EXPECT_FALSE(vorbispack::Pack(stream, {}, media, error));
        EXPECT_EQ(error, "block sizes outside 256..4096");
    }
}

TEST(VorbisPackTest, RefusesACodebookNotInTheLibrary) {
    auto stream = Tone(1, 48000, 0.2f);
    // The first codebook begins at bit 8 of the set-up body: its dimension count changes.
    stream.setup[7 + 1 + 3] ^= 0x04;
    Bytes media;
    std::string error;
    EXPECT_FALSE(vorbispack::Pack(stream, {}, media, error));
    EXPECT_EQ(error, "a codebook that is not in the library");
}

TEST(VorbisPackTest, RefusesLoopPointsOutsideTheMedia) {
    const auto stream = Tone(1, 48000, 0.2f);
    Bytes media;
    std::string error;
    vorbispack::PackOptions loop;
    loop.loop = true;
    loop.loopStart = 100;
    loop.loopEnd = 96000;
    EXPECT_FALSE(vorbispack::Pack(stream, loop, media, error));
    loop.loopEnd = 99;
    EXPECT_FALSE(vorbispack::Pack(stream, loop, media, error));
}

// A small standard set-up written field by field, to reach what the encoder never writes.
struct StandardSetupSpec {
    std::uint32_t lookupType = 1;
    std::uint32_t modes = 2;
    std::uint32_t residueType = 1;
    std::uint32_t floorType = 1;
};

Bytes StandardSetup(const StandardSetupSpec& spec) {
    BitWriter w;
    for (const char c : std::string("\x05vorbis"))
        w.Write(std::uint8_t(c), 8);
    w.Write(0, 8); // one codebook
    w.Write(0x564342, 24);
    w.Write(1, 16); // dimensions
    w.Write(4, 24); // entries
    w.Write(0, 1);  // not ordered
    w.Write(0, 1);  // not sparse
    for (int i = 0; i < 4; ++i)
        w.Write(1, 5); // length 2
    w.Write(spec.lookupType, 4);
    if (spec.lookupType) {
        w.Write(0, 32);
        w.Write(0, 32);
        w.Write(0, 4);
        w.Write(0, 1);
        // Four values either way: lookup1 of 4 entries in 1 dimension, or 4 x 1.
        for (std::uint32_t i = 0; i < 4; ++i)
            w.Write(0, 1);
    }
    w.Write(0, 6);  // one time slot
    w.Write(0, 16); // type 0
    w.Write(0, 6);  // one floor
    w.Write(spec.floorType, 16);
    w.Write(0, 5); // no partitions
    w.Write(0, 2); // multiplier 1
    w.Write(4, 4); // range bits
    w.Write(0, 6); // one residue
    w.Write(spec.residueType, 16);
    w.Write(0, 24);
    w.Write(0, 24);
    w.Write(0, 24);
    w.Write(0, 6); // one classification
    w.Write(0, 8);
    w.Write(0, 3);
    w.Write(0, 1);
    w.Write(0, 6); // one mapping
    w.Write(0, 16);
    w.Write(0, 1);
    w.Write(0, 1);
    w.Write(0, 2);
    w.Write(0, 8);
    w.Write(0, 8);
    w.Write(0, 8);
    w.Write(spec.modes - 1, 6);
    for (std::uint32_t i = 0; i < spec.modes; ++i) {
        w.Write(i & 1, 1);
        w.Write(0, 16);
        w.Write(0, 16);
        w.Write(0, 8);
    }
    w.Write(1, 1);
    return w.Bytes();
}

TEST(VorbisSetupConversionTest, RefusesWhatTheCompactFormCannotCarry) {
    struct Case {
        StandardSetupSpec spec;
        const char* error;
    };
    const Case cases[] = {
        {{1, 2, 1, 1}, ""},
        {{2, 2, 1, 1}, "codebook lookup type 2"},
        {{1, 3, 1, 1}, "more than 2 modes"},
        {{1, 2, 0, 1}, "residue type 0"},
        {{1, 2, 1, 0}, "floor type other than 1"},
    };
    for (const auto& c : cases) {
        const Bytes setup = StandardSetup(c.spec);
        vorbispack::StandardSetup out;
        std::string error;
        EXPECT_EQ(vorbispack::ReadStandardSetup(setup.data(), setup.size(), 1, out, error), *c.error == 0)
            << c.error;
        EXPECT_EQ(error, c.error);
    }
}

TEST(VorbisSetupConversionTest, TruncatedSetupsAreRefused) {
    const Bytes setup = StandardSetup({});
    for (std::size_t cut = 7; cut < setup.size(); ++cut) {
        vorbispack::StandardSetup out;
        std::string error;
        EXPECT_FALSE(vorbispack::ReadStandardSetup(setup.data(), cut, 1, out, error)) << cut;
    }
}

} // namespace
