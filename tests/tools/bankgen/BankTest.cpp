#include "TestUtil.h"

#include <bankgen/Bank.h>
#include <bankgen/Media.h>
#include <bankgen/Parse.h>

#include <gtest/gtest.h>

#include <cstring>

namespace bankgen {
namespace {

using test::FromHex;

Bytes Wave(double hz, double seconds) {
    return MakePcmWave(ToPcm16({Sine(hz, seconds, 48000, 0.5)}), 1, 48000);
}

// A bank with every chunk kind: the one the tests below take apart.
BankBuilder FullBank() {
    BankBuilder b(0x1234, 7);
    Settings s;
    s.volumeThresholdDb = -80.0f;
    s.maxVoices = 32;
    s.stateGroups = {StateGroupSettings{0x5A, 100, {{0x51, 0x52, 250}}}};
    s.switchBindings = {SwitchBinding{0x5B, 0x6A, 0, {{0, 0x61, 9}, {50, 0x62, 9}}}};
    s.gameParameters = {GameParameter{0x6A, 50.0f, 1, 10.0f, 20.0f, 1}};
    b.SetSettings(s);
    Environment e;
    e.curves[0].enabled = 1;
    b.SetEnvironment(e);
    b.AddMedia(0x2001, Wave(1000, 0.01));
    b.AddMedia(0x2002, Bytes(5, 0xAB)); // odd size: the next media must still start aligned
    b.AddMedia(0x2003, Wave(500, 0.02));
    BusRecord master;
    master.id = 0xB0;
    b.Add(master);
    for (std::uint32_t i = 0; i < 3; ++i) {
        SoundRecord s;
        s.id = 0x1001 + i;
        s.source.sourceId = 0x2001 + i;
        s.source.fromBank = true;
        s.node.outputBus = 0xB0;
        b.Add(s);
    }
    ActionRecord play;
    play.id = 0x3001;
    play.target = 0x1001;
    play.bankId = 0x1234;
    b.Add(play);
    b.Add(EventRecord{0xE1, {0x3001}});
    b.AddBankName(BankName{0x1234, "Full"});
    b.AddExtraChunk("XTRA", Bytes{1, 2, 3});
    return b;
}

Bytes BuildOk(const BankBuilder& b) {
    Bytes out;
    std::vector<std::string> errors;
    EXPECT_TRUE(b.Build(out, errors)) << (errors.empty() ? "" : errors.front());
    return out;
}

TEST(BankTest, ChunksComeInLoadOrder) {
    const Bytes file = BuildOk(FullBank());
    ParsedBank bank;
    std::string error;
    ASSERT_TRUE(ParseBank(file, bank, error)) << error;
    std::vector<std::string> tags;
    for (const ParsedChunk& c : bank.chunks)
        tags.push_back(c.tag);
    EXPECT_EQ(tags,
              (std::vector<std::string>{"BKHD", "STMG", "ENVS", "DIDX", "DATA", "HIRC", "STID", "XTRA"}));
    EXPECT_EQ(bank.version, 112u);
    EXPECT_EQ(bank.bankId, 0x1234u);
    EXPECT_EQ(bank.languageId, 7u);
    EXPECT_EQ(bank.headerSize, 20u);
    EXPECT_TRUE(Validate(bank).empty()) << Validate(bank).front();
}

TEST(BankTest, SettingsAndEnvironmentReadBack) {
    const Bytes file = BuildOk(FullBank());
    ParsedBank bank;
    std::string error;
    ASSERT_TRUE(ParseBank(file, bank, error)) << error;
    ASSERT_TRUE(bank.settings);
    EXPECT_EQ(bank.settings->volumeThresholdDb, -80.0f);
    EXPECT_EQ(bank.settings->maxVoices, 32);
    ASSERT_EQ(bank.settings->stateGroups.size(), 1u);
    EXPECT_EQ(bank.settings->stateGroups[0].transitions[0].ms, 250u);
    ASSERT_EQ(bank.settings->switchBindings.size(), 1u);
    EXPECT_EQ(bank.settings->switchBindings[0].points[1].switchId, 0x62u);
    ASSERT_EQ(bank.settings->gameParameters.size(), 1u);
    EXPECT_EQ(bank.settings->gameParameters[0].builtIn, 1);
    // Sizes from the layout: 6 + 4 + (12 + 12) + 4 + (13 + 24) + 4 + 21.
    EXPECT_EQ(bank.chunks[1].size, 100u);
    ASSERT_TRUE(bank.environment);
    EXPECT_EQ(bank.environment->curves[0].enabled, 1);
    EXPECT_EQ(bank.chunks[2].size, 6u * (4 + 24));
    ASSERT_EQ(bank.names.size(), 1u);
    EXPECT_EQ(bank.names[0].name, "Full");
}

TEST(BankTest, TwoGameParametersMakeASixtyByteSettingsChunk) {
    Settings s;
    s.gameParameters = {GameParameter{1, 100.0f}, GameParameter{2, 100.0f}};
    EXPECT_EQ(EncodeSettings(s).size(), 60u);
}

TEST(BankTest, SoundsPointAtTheirMediaInTheFile) {
    const Bytes file = BuildOk(FullBank());
    ParsedBank bank;
    std::string error;
    ASSERT_TRUE(ParseBank(file, bank, error)) << error;
    ASSERT_EQ(bank.media.size(), 3u);
    const BankBuilder source = FullBank();
    for (size_t i = 0; i < bank.media.size(); ++i) {
        SCOPED_TRACE(i);
        const ParsedMedia& m = bank.media[i];
        EXPECT_EQ(m.offset % kMediaAlignment, 0u);
        EXPECT_LE(m.offset + m.size, bank.dataSize);
        const ParsedRecord* rec = bank.Find(2, 0x1001 + static_cast<std::uint32_t>(i));
        ASSERT_NE(rec, nullptr);
        const SourceRecord& src = std::get<SoundRecord>(*rec->record).source;
        EXPECT_EQ(src.sourceId, m.id);
        EXPECT_EQ(src.fileId, 0x1234u);
        EXPECT_EQ(src.inMemorySize, m.size);
        EXPECT_EQ(src.fileOffset, bank.dataOffset + m.offset);
        // The bytes at the sound's file offset are the media's.
        ASSERT_LE(src.fileOffset + src.inMemorySize, file.size());
        if (m.id == 0x2002)
            EXPECT_EQ(file[src.fileOffset], 0xAB);
        else
            EXPECT_EQ(std::memcmp(&file[src.fileOffset], "RIFF", 4), 0);
    }
}

TEST(BankTest, DumpListsChunksMediaAndRecords) {
    ParsedBank bank;
    std::string error;
    ASSERT_TRUE(ParseBank(BuildOk(FullBank()), bank, error)) << error;
    const std::string text = Dump(bank);
    for (const char* expected :
         {"BKHD size=20", "version=112 bank=0x00001234", "DIDX size=36", "entries=3", "Media id=0x00002002",
          "HIRC", "records=6", "Bus id=0x000000B0", "Sound id=0x00001003", "source=0x00002003",
          "Action id=0x00003001 size=18 type=0x0403", "target=0x00001001",
          "Event id=0x000000E1 size=12 actions=[0x00003001]", "BankName id=0x00001234 name=Full",
          "XTRA size=3"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
}

TEST(BankTest, DumpListsPluginSettingsWithTheirBlocksMediaCurvesAndValues) {
    BankBuilder b(0x1234);
    b.AddMedia(0x2001, Wave(100, 0.01));
    RtpcCurve curve;
    curve.gameParameter = 0x7B5FA2EB;
    curve.target = 2;
    curve.curveId = 11;
    curve.points = {{0, 0, 4}, {100, 100, 4}};
    b.Add(PluginSettingsRecord{HierarchyType::SharedPluginSettings,
                               0x501,
                               0x006A0003,
                               Bytes(18, 0),
                               {{0, 0x2001}},
                               {curve},
                               {{3, 0.25f}, {4, 1.5f}}});
    b.Add(PluginSettingsRecord{HierarchyType::PluginSettings, 0x502, kNoPlugin, {}, {}, {}, {}});
    ParsedBank bank;
    std::string error;
    ASSERT_TRUE(ParseBank(BuildOk(b), bank, error)) << error;
    const std::string text = Dump(bank);
    for (const char* expected :
         {"PluginSettings18 id=0x00000501 size=88 plugin=0x006A0003 block=18 media=[0:0x00002001] "
          "rtpc{param=0x7B5FA2EB target=2 curve=11 points=(0,0,4)(100,100,4)} values=[3:0.25 4:1.5]\n",
          "PluginSettings19 id=0x00000502 size=17 plugin=0xFFFFFFFF block=0 media=[] values=[]\n"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
}

TEST(BankTest, BuilderRefusesBadMediaAndRecords) {
    struct Case {
        const char* name;
        void (*change)(BankBuilder&);
    };
    const Case cases[] = {
        {"media ID twice", [](BankBuilder& b) { b.AddMedia(0x2001, Bytes(4)); }},
        {"media ID 0", [](BankBuilder& b) { b.AddMedia(0, Bytes(4)); }},
        {"empty media", [](BankBuilder& b) { b.AddMedia(0x2009, {}); }},
        {"sound naming absent media",
         [](BankBuilder& b) {
             SoundRecord s;
             s.id = 0x1009;
             s.source.sourceId = 0x2009;
             s.source.fromBank = true;
             b.Add(s);
         }},
        {"curve without points",
         [](BankBuilder& b) {
             Environment e;
             e.curves[4].points.clear();
             b.SetEnvironment(e);
         }},
        {"bank name of 256 bytes",
         [](BankBuilder& b) {
             b.AddBankName(BankName{1, std::string(256, 'a')});
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BankBuilder b = FullBank();
        c.change(b);
        Bytes out;
        std::vector<std::string> errors;
        EXPECT_FALSE(b.Build(out, errors));
        EXPECT_FALSE(errors.empty());
    }
}

// Malformed images: the parser names the fault and never reads past the buffer (the test preset
// runs it under AddressSanitizer, so an overrun would stop the test).
TEST(BankTest, ParserRefusesMalformedImages) {
    const Bytes good = BuildOk(FullBank());
    ParsedBank parsed;
    std::string error;
    ASSERT_TRUE(ParseBank(good, parsed, error));
    const size_t hircAt = parsed.chunks[5].payloadOffset; // HIRC payload
    const size_t didxAt = parsed.chunks[3].payloadOffset;

    struct Case {
        const char* name;
        std::function<Bytes()> image;
    };
    auto patchU32 = [](Bytes b, size_t at, std::uint32_t v) {
        ByteWriter(b).PatchU32(at, v);
        return b;
    };
    const Case cases[] = {
        {"empty file", [] { return Bytes{}; }},
        {"first tag not BKHD",
         [&] {
             Bytes b = good;
             b[0] = 'X';
             return b;
         }},
        {"header shorter than 20", [&] { return patchU32(good, 4, 19); }},
        {"header past the end", [&] { return patchU32(good, 4, static_cast<std::uint32_t>(good.size())); }},
        {"3 stray bytes after the last chunk",
         [&] {
             Bytes b = good;
             b.insert(b.end(), {1, 2, 3});
             return b;
         }},
        {"chunk size past the end", [&] { return patchU32(good, parsed.chunks[7].payloadOffset - 4, 100); }},
        {"DIDX of 13 bytes",
         [&] {
             Bytes b = FromHex(
                 "42 4b 48 44 14 00 00 00 70 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
             const Bytes didx = EncodeChunk("DIDX", Bytes(13, 0));
             b.insert(b.end(), didx.begin(), didx.end());
             return b;
         }},
        {"HIRC count beyond its records", [&] { return patchU32(good, hircAt, 7); }},
        {"HIRC count too large for the chunk", [&] { return patchU32(good, hircAt, 0x40000000); }},
        {"record size past the chunk", [&] { return patchU32(good, hircAt + 5, 0x1000); }},
        {"record shorter than its fields",
         [&] {
             // The bus record claims 42 bytes; the chunk still adds up because the chunk size
             // shrinks with it.
             Bytes b = patchU32(good, hircAt + 5, 42);
             b.erase(b.begin() + static_cast<std::ptrdiff_t>(hircAt + 9 + 42));
             return patchU32(b, hircAt - 4, parsed.chunks[5].size - 1);
         }},
        {"STMG with trailing bytes",
         [&] {
             Bytes b = good;
             const size_t sizeAt = parsed.chunks[1].payloadOffset - 4;
             b.insert(b.begin() +
                          static_cast<std::ptrdiff_t>(parsed.chunks[1].payloadOffset + parsed.chunks[1].size),
                      0);
             return patchU32(b, sizeAt, parsed.chunks[1].size + 1);
         }},
        {"STMG count past the chunk",
         [&] { return patchU32(good, parsed.chunks[1].payloadOffset + 6, 0x10000); }},
        {"DIDX size not a multiple of 12", [&] { return patchU32(good, didxAt - 4, 35); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ParsedBank bank;
        std::string why;
        EXPECT_FALSE(ParseBank(c.image(), bank, why));
        EXPECT_FALSE(why.empty());
    }
}

TEST(BankTest, HeaderOfMoreThanTwentyBytesIsSkipped) {
    Bytes b = FromHex("42 4b 48 44 1c 00 00 00 70 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
                      " ff ff ff ff ff ff ff ff");
    const Bytes unknown = EncodeChunk("ABCD", Bytes(3, 0));
    b.insert(b.end(), unknown.begin(), unknown.end());
    ParsedBank bank;
    std::string error;
    ASSERT_TRUE(ParseBank(b, bank, error)) << error;
    EXPECT_EQ(bank.headerSize, 28u);
    ASSERT_EQ(bank.chunks.size(), 2u);
    EXPECT_EQ(bank.chunks[1].tag, "ABCD");
}

} // namespace
} // namespace bankgen
