// The chunk loop: header, dispatch, skipping, bounded chunk readers and what reaches the managers.
#include "AuLogCapture.h"
#include "BankTestSupport.h"

#include "banks/AuBankChunks.h"
#include "banks/AuBankFileNames.h"

#include <algorithm>

namespace banktest {
namespace {

// A chunk whose size field says `declared`, whatever the payload holds.
Bytes RawChunk(std::string_view tag, u32 declared, const Bytes& payload) {
    Bytes out(tag.begin(), tag.end());
    bankgen::ByteWriter(out).U32(declared);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes Record(u8 type, const Bytes& payload) {
    Bytes out{type};
    bankgen::ByteWriter(out).U32(static_cast<u32>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes Hierarchy(std::initializer_list<Bytes> records, u32 count = ~0u) {
    Bytes payload = U32s({count == ~0u ? static_cast<u32>(records.size()) : count});
    for (const Bytes& record : records)
        payload.insert(payload.end(), record.begin(), record.end());
    return Chunk("HIRC", payload);
}

Bytes Settings(const bankgen::Settings& settings = {}) {
    return Chunk("STMG", bankgen::EncodeSettings(settings));
}

Bytes MediaIndex(std::initializer_list<AuMediaIndexEntry> entries) {
    Bytes payload;
    for (const AuMediaIndexEntry& e : entries) {
        Bytes entry = U32s({e.mediaID, e.uOffset, e.uSize});
        payload.insert(payload.end(), entry.begin(), entry.end());
    }
    return Chunk("DIDX", payload);
}

std::vector<std::string> Matching(const std::vector<std::string>& calls, std::string_view prefix) {
    std::vector<std::string> out;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(out),
                 [&](const std::string& call) { return call.starts_with(prefix); });
    return out;
}

using BankChunksTest = BankTest;

TEST_F(BankChunksTest, ResultTable) {
    const Bytes header = Header();
    const Bytes settings = Settings();
    const Bytes junk = Chunk("JUNK", Pattern(10));
    const Bytes stateRecord = Record(1, Concat({U32s({0x501}), Bytes{0}}));
    // A record that claims 1.1 GB inside a chunk that claims as much: only the file bounds it.
    Bytes huge{2};
    bankgen::ByteWriter(huge).U32(1100000000);
    const Bytes hugePayload = Pattern(40);
    huge.insert(huge.end(), hugePayload.begin(), hugePayload.end());
    const struct {
        const char* name;
        Bytes image;
        AURESULT expected;
    } cases[] = {
        {"wrong first tag", Chunk("BKHX", Bytes(20)), AuResultBadHeader},
        {"nothing at all", {}, AuResultBadHeader},
        {"cut inside the first chunk header", Bytes(header.begin(), header.begin() + 5), AuResultBadHeader},
        {"version 111", Header(111), AuResultWrongBankVersion},
        {"version 113", Header(113), AuResultWrongBankVersion},
        {"header of 20 bytes", Concat({header, settings}), AuResultSuccess},
        {"header of 28 bytes", Concat({Header(112, 28), settings}), AuResultSuccess},
        {"header under 20 bytes", RawChunk("BKHD", 12, Bytes(40)), AuResultBadHeader},
        {"header shorter than its size", Cut(Header(112, 40), 10), AuResultHeaderChunkTooShort},
        {"header fields cut", Cut(header, 8), AuResultHeaderChunkTooShort},
        {"unknown chunk skipped", Concat({header, junk, settings}), AuResultSuccess},
        {"ends right after a chunk", Concat({header, settings}), AuResultSuccess},
        {"ends 3 bytes into a chunk header", Concat({header, Bytes(settings.begin(), settings.begin() + 3)}),
         AuResultBadHeader},
        {"skipped chunk shorter than its size", Concat({header, Cut(junk, 4)}), AuResultBadHeader},
        {"short settings read", Concat({header, Cut(settings, 5)}), AuResultHeaderChunkTooShort},
        {"settings larger than their chunk",
         Concat({header, RawChunk("STMG", 10, Bytes(settings.begin() + 8, settings.end()))}),
         AuResultHeaderChunkTooShort},
        {"settings chunk past the end",
         Concat({header, RawChunk("STMG", 100, Bytes(settings.begin() + 8, settings.end()))}),
         AuResultBadHeader},
        {"environment of size 0", Concat({header, Chunk("ENVS", {})}), AuResultFail},
        {"short environment read", Concat({header, Cut(Chunk("ENVS", bankgen::EncodeEnvironment({})), 5)}),
         AuResultHeaderChunkTooShort},
        {"media index cut short", Concat({header, Cut(MediaIndex({{1, 0, 4}, {2, 4, 4}}), 5)}),
         AuResultTruncatedChunk},
        {"media outside DATA",
         Concat({header, MediaIndex({{1, 0, 8}, {2, 60, 8}}), Chunk("DATA", Pattern(64))}),
         AuResultTruncatedChunk},
        {"media ID 0 is not checked", Concat({header, MediaIndex({{0, 60, 8}}), Chunk("DATA", Pattern(64))}),
         AuResultSuccess},
        {"DATA shorter than its size",
         Concat({header, MediaIndex({{1, 0, 8}}), Cut(Chunk("DATA", Pattern(64)), 10)}), AuResultBadHeader},
        {"record cut short", Concat({header, Cut(Hierarchy({stateRecord}), 2)}), AuResultBadHeader},
        {"record count beyond the chunk", Concat({header, Hierarchy({stateRecord}, 3), settings}),
         AuResultBadHeader},
        {"record header cut by the chunk",
         Concat({header, Hierarchy({stateRecord, Bytes{1, 0, 0}}, 2), settings}), AuResultBadHeader},
        {"record without room for its ID", Concat({header, Hierarchy({Record(1, Bytes{1, 2})})}),
         AuResultBadHeader},
        {"record larger than its chunk",
         Concat({header, RawChunk("HIRC", 13, Concat({U32s({1}), Record(1, Pattern(20))})), settings}),
         AuResultBadHeader},
        {"record and chunk past the file",
         Concat({header, RawChunk("HIRC", 1100000100, Concat({U32s({1}), huge}))}), AuResultBadHeader},
        {"empty hierarchy", Concat({header, Hierarchy({})}), AuResultSuccess},
        {"bank names cut by their chunk",
         Concat({header, Chunk("STID", Concat({U32s({1, 2, 0x50C63A23}), Bytes{4, 'I', 'n', 'i', 't'}})),
                 settings}),
         AuResultTruncatedChunk},
    };
    for (const auto& c : cases) {
        const Reading reading = ReadMemory(c.image);
        EXPECT_EQ(reading.result, c.expected) << c.name;
        for (u32 blockSize : {1u, 2048u}) {
            FakeStreamMgr streams;
            streams.file = c.image;
            streams.blockSize = blockSize;
            CAuBankReader reader;
            ASSERT_EQ(reader.OpenByID(1, 0, 0, nullptr, false), AuResultSuccess);
            RecordingSinks sinks;
            EXPECT_EQ(ReadWith(reader, AuBankLoadModeLoad, false, sinks).result, c.expected)
                << c.name << " through a stream of " << blockSize << "-byte blocks";
            EXPECT_EQ(sinks.calls, reading.calls) << c.name;
            reader.Term();
        }
    }
}

TEST_F(BankChunksTest, TheHeaderIsConsumedWholeBeforeTheVersionIsChecked) {
    for (u32 size : {20u, 28u, 100u}) {
        for (u32 version : {111u, 112u, 113u}) {
            const Bytes image = Concat({Header(version, size, 0x50C63A23), Settings()});
            CAuBankReader reader;
            reader.SetMemory(image.data(), static_cast<u32>(image.size()));
            AuBankHeader header{};
            EXPECT_EQ(AuReadBankHeader(reader, header),
                      version == 112 ? AuResultSuccess : AuResultWrongBankVersion);
            EXPECT_EQ(reader.Consumed(), 8u + size);
            EXPECT_EQ(header.uVersion, version);
            EXPECT_EQ(header.bankID, 0x50C63A23u);
        }
    }
    Bytes payload = bankgen::EncodeHeaderPayload(7, 0x1234, true);
    const Bytes image = Chunk("BKHD", payload);
    CAuBankReader reader;
    reader.SetMemory(image.data(), static_cast<u32>(image.size()));
    AuBankHeader header{};
    ASSERT_EQ(AuReadBankHeader(reader, header), AuResultSuccess);
    EXPECT_EQ(header.languageID, 0x1234u);
    EXPECT_EQ(header.uExtraOwnerFlag, 1u);
}

TEST_F(BankChunksTest, SettingsReachTheManagersInOrder) {
    bankgen::Settings settings;
    settings.volumeThresholdDb = -40.5f;
    settings.maxVoices = 48;
    settings.stateGroups.push_back({0x100, 250, {{1, 2, 100}, {2, 1, 300}}});
    settings.stateGroups.push_back({0x101, 0, {}});
    settings.switchBindings.push_back({0x200, 0x300, 2, {{0.0f, 0x201, 9}, {50.5f, 0x202, 4}}});
    settings.switchBindings.push_back({0x210, 0x300, 0, {}});
    settings.gameParameters.push_back({0x7B5FA2EB, 100.0f, 0, 0.0f, 0.0f, 0});
    settings.gameParameters.push_back({0x300, 5.0f, 1, 2.0f, 3.0f, 6});
    settings.gameParameters.push_back({0x301, 1.0f, 2, 0.5f, 0.25f, 7});
    const Reading reading = ReadMemory(Concat({Header(), Settings(settings)}));
    ASSERT_EQ(reading.result, AuResultSuccess);
    const std::vector<std::string> expected{
        "threshold -40.5 priority 2",
        "voices 48 priority 2",
        "state group 00000100",
        "default transition 00000100 250",
        "transition 00000100 00000001->00000002 100",
        "transition 00000100 00000002->00000001 300",
        "state group 00000101",
        "default transition 00000101 0",
        "switch 00000200 by 00000300 kind 2 points 2 (0 00000201 9) (50.5 00000202 4)",
        "switch 00000210 by 00000300 kind 0 points 0",
        "game parameter 7B5FA2EB default 100 ramp 0 0 0",
        "game parameter 00000300 default 5 ramp 1 2 3",
        "binding 00000300 kind 6",
        "game parameter 00000301 default 1 ramp 2 0.5 0.25", // kind 7 names no list: no binding
    };
    EXPECT_EQ(reading.calls, expected);
}

TEST_F(BankChunksTest, SettingsFailuresKeepWhatWasTaken) {
    bankgen::Settings settings;
    settings.stateGroups.push_back({0x100, 250, {}});
    RecordingSinks refusing;
    refusing.stateGroupsFail = true;
    const Reading reading =
        ReadMemory(Concat({Header(), Settings(settings)}), AuBankLoadModeLoad, false, std::move(refusing));
    EXPECT_EQ(reading.result, AuResultFail);
    EXPECT_EQ(reading.calls.size(), 3u) << "threshold and voices stay set";

    // A point count the chunk cannot hold fails before anything is allocated for it.
    Bytes payload = bankgen::EncodeSettings({});
    payload.resize(10); // threshold, voices, no state groups
    Bytes binding = Concat({U32s({1, 0x200, 0x300}), Bytes{0}, U32s({0x10000000})});
    const Reading huge = ReadMemory(Concat({Header(), Chunk("STMG", Concat({payload, binding}))}));
    EXPECT_EQ(huge.result, AuResultHeaderChunkTooShort);
}

TEST_F(BankChunksTest, EnvironmentCurvesInTableOrder) {
    bankgen::Environment environment;
    for (u32 i = 0; i < 6; ++i) {
        environment.curves[i].enabled = i % 2;
        environment.curves[i].scaling = static_cast<u8>(i);
        environment.curves[i].points = {{0.0f, 1.0f, 4}, {100.0f, 0.1f * static_cast<f32>(i), 9}};
    }
    const Bytes image = Concat({Header(), Chunk("ENVS", bankgen::EncodeEnvironment(environment))});
    const Reading reading = ReadMemory(image);
    ASSERT_EQ(reading.result, AuResultSuccess);
    const std::vector<std::string> expected{
        "curve 0.0 enabled 0 scaling 0 points 2 (0 1 4) (100 0 9)",
        "curve 0.1 enabled 1 scaling 1 points 2 (0 1 4) (100 0.1 9)",
        "curve 0.2 enabled 0 scaling 2 points 2 (0 1 4) (100 0.2 9)",
        "curve 1.0 enabled 1 scaling 3 points 2 (0 1 4) (100 0.3 9)",
        "curve 1.1 enabled 0 scaling 4 points 2 (0 1 4) (100 0.4 9)",
        "curve 1.2 enabled 1 scaling 5 points 2 (0 1 4) (100 0.5 9)",
    };
    EXPECT_EQ(reading.calls, expected);

    RecordingSinks uninitialised;
    uninitialised.curveTableReady = false;
    EXPECT_EQ(ReadMemory(image, AuBankLoadModeLoad, false, std::move(uninitialised)).result, AuResultFail);
}

TEST_F(BankChunksTest, BankNamesKeepTheFirstName) {
    const Bytes names = bankgen::EncodeBankNames({{0x50C63A23, "Second"}, {0x47FD79D2, "Torvik"}});
    const Bytes image = Concat({Header(), Chunk("STID", Concat({names, names}))});
    CAuBankReader reader;
    reader.SetMemory(image.data(), static_cast<u32>(image.size()));
    RecordingSinks sinks;
    CAuBankFileNames table;
    ASSERT_EQ(table.SetBankFileName(0x50C63A23, "Init"), AuResultSuccess);
    AuBankHeader header{};
    ASSERT_EQ(AuReadBank(reader, AuBankLoadModeLoad, false, sinks.Sinks(&table), header), AuResultSuccess);
    char name[64];
    ASSERT_TRUE(table.GetBankFileName(0x50C63A23, name, sizeof(name)));
    EXPECT_STREQ(name, "Init.bnk");
    ASSERT_TRUE(table.GetBankFileName(0x47FD79D2, name, sizeof(name)));
    EXPECT_STREQ(name, "Torvik.bnk");
    EXPECT_EQ(table.Count(), 2u);
    EXPECT_FALSE(table.GetBankFileName(1, name, sizeof(name)));
    table.Term();
}

TEST_F(BankChunksTest, MediaIndexOfThirteenBytesHoldsOneEntry) {
    Bytes index = U32s({0x2001, 16, 8});
    index.push_back(0xEE);
    const Bytes data = Pattern(32);
    const Bytes image = Concat({Header(), Chunk("DIDX", index), Chunk("DATA", data), Settings()});
    const Reading reading = ReadMemory(image);
    ASSERT_EQ(reading.result, AuResultSuccess);
    const std::vector<std::string> expected{
        "data block 32", "register 1 media in 32 bytes",
        Line("  media 00002001 at 16 size 8 digest %08X", Digest(data.data() + 16, 8))};
    EXPECT_EQ(Matching(reading.calls, "data block").size(), 1u);
    EXPECT_EQ(std::vector<std::string>(reading.calls.begin(), reading.calls.begin() + 3), expected);
    EXPECT_EQ(Matching(reading.calls, "threshold").size(), 1u) << "the next chunk is found";
}

TEST_F(BankChunksTest, MediaByLoadMode) {
    const Bytes image = FullBank();
    bankgen::ParsedBank parsed;
    std::string error;
    ASSERT_TRUE(bankgen::ParseBank(image, parsed, error)) << error;
    std::vector<std::string> media;
    for (const auto& m : parsed.media)
        media.push_back(
            Line("%08X digest %08X", m.id, Digest(image.data() + parsed.dataOffset + m.offset, m.size)));
    ASSERT_EQ(media.size(), 3u);

    // Copied: one block for the whole payload.
    const Reading copied = ReadMemory(image);
    ASSERT_EQ(copied.result, AuResultSuccess);
    EXPECT_EQ(Matching(copied.calls, "data block"),
              std::vector<std::string>{Line("data block %u", parsed.dataSize)});
    std::vector<std::string> registered;
    for (const std::string& call : Matching(copied.calls, "  media "))
        registered.push_back(call.substr(8, 8) + call.substr(call.find(" digest")));
    EXPECT_EQ(registered, media);

    // In place: the block is the image itself.
    CAuBankReader reader;
    reader.SetMemory(image.data(), static_cast<u32>(image.size()));
    RecordingSinks inPlace;
    const Reading placed = ReadWith(reader, AuBankLoadModeLoad, true, inPlace);
    ASSERT_EQ(placed.result, AuResultSuccess);
    EXPECT_TRUE(Matching(placed.calls, "data block").empty());
    EXPECT_EQ(inPlace.registeredBlock, image.data() + parsed.dataOffset);

    // Prepared: copies read through the reader, bounded to the payload.
    for (AuBankLoadMode mode : {AuBankLoadModePrepareWithMedia, AuBankLoadModePrepareAgain}) {
        const Reading prepared = ReadMemory(image, mode);
        ASSERT_EQ(prepared.result, AuResultSuccess);
        std::vector<std::string> copies;
        for (const std::string& call : Matching(prepared.calls, "  copy "))
            copies.push_back(call.substr(7));
        EXPECT_EQ(copies, media);
        EXPECT_TRUE(Matching(prepared.calls, "register").empty());
        EXPECT_EQ(Matching(prepared.calls, "record").size(), Matching(copied.calls, "record").size());
    }
    // A preparation that reads nothing still leaves the reader at the next chunk.
    RecordingSinks lazy;
    lazy.prepareReadsMedia = false;
    EXPECT_EQ(ReadMemory(image, AuBankLoadModePrepareWithMedia, false, std::move(lazy)).result,
              AuResultSuccess);

    // Structure only: the index and the media are skipped, the records are read.
    const Reading structure = ReadMemory(image, AuBankLoadModePrepareStructure);
    ASSERT_EQ(structure.result, AuResultSuccess);
    EXPECT_TRUE(Matching(structure.calls, "register").empty());
    EXPECT_TRUE(Matching(structure.calls, "prepare").empty());
    EXPECT_EQ(Matching(structure.calls, "record"), Matching(copied.calls, "record"));

    RecordingSinks noMemory;
    noMemory.dataBlocksFail = true;
    EXPECT_EQ(ReadMemory(image, AuBankLoadModeLoad, false, std::move(noMemory)).result, AuResultNoMemory);
}

TEST_F(BankChunksTest, TrailingBytesOfAKnownChunkAreSkipped) {
    const Bytes record = Record(1, Concat({U32s({0x501}), Bytes{0}}));
    Bytes payload = Concat({U32s({1}), record, Bytes{9, 9, 9}});
    const Reading reading = ReadMemory(Concat({Header(), Chunk("HIRC", payload), Settings()}));
    ASSERT_EQ(reading.result, AuResultSuccess);
    EXPECT_EQ(Matching(reading.calls, "record").size(), 1u);
    EXPECT_EQ(Matching(reading.calls, "threshold").size(), 1u);
}

TEST_F(BankChunksTest, RecordsOfOtherTypesGoToTheExtensionReader) {
    const Bytes state = Record(1, Concat({U32s({0x501}), Bytes{0}}));
    const Bytes music = Record(11, Pattern(30));
    const Bytes image = Concat({Header(), Hierarchy({state, music, Record(23, Pattern(3)), state})});

    const Reading without = ReadMemory(image);
    EXPECT_EQ(without.result, AuResultSuccess) << "skipped without an extension reader";
    EXPECT_EQ(Matching(without.calls, "record").size(), 2u);

    RecordingSinks notHandled;
    notHandled.extensionReader = true;
    notHandled.extensionResult = AuResultTypeNotHandled;
    const Reading refused = ReadMemory(image, AuBankLoadModeLoad, false, std::move(notHandled));
    EXPECT_EQ(refused.result, AuResultTypeNotHandled);
    EXPECT_EQ(Matching(refused.calls, "record").size(), 1u) << "the load stops at the record";

    RecordingSinks handled;
    handled.extensionReader = true;
    const Reading read = ReadMemory(image, AuBankLoadModeLoad, false, std::move(handled));
    EXPECT_EQ(read.result, AuResultSuccess);
    EXPECT_EQ(Matching(read.calls, "  read"), (std::vector<std::string>{"  read 30", "  read 3"}))
        << "each read is bounded to its record";
    EXPECT_EQ(Matching(read.calls, "record").size(), 2u);

    RecordingSinks failing;
    failing.extensionReader = true;
    failing.extensionResult = AuResultNoMemory;
    EXPECT_EQ(ReadMemory(image, AuBankLoadModeLoad, false, std::move(failing)).result, AuResultNoMemory);
}

// A record that claims more bytes than its chunk holds never reaches the readers, which would
// trust the size; the refusal says why.
TEST_F(BankChunksTest, AnExtensionRecordLargerThanWhatRemainsIsRefused) {
    Bytes oversized{11};
    bankgen::ByteWriter(oversized).U32(1000);
    const Bytes payload = Pattern(30);
    oversized.insert(oversized.end(), payload.begin(), payload.end());
    RecordingSinks sinks;
    sinks.extensionReader = true;
    AuLogCapture log;
    const Reading reading =
        ReadMemory(Concat({Header(), Hierarchy({oversized})}), AuBankLoadModeLoad, false, std::move(sinks));
    EXPECT_EQ(reading.result, AuResultBadHeader);
    EXPECT_TRUE(Matching(reading.calls, "extension").empty());
    EXPECT_NE(log.Text().find("claims 1000 bytes; 30 remain"), std::string::npos) << log.Text();
}

TEST_F(BankChunksTest, RecordsArriveWholeWithTheirTypeAndID) {
    const Bytes image = FullBank();
    bankgen::ParsedBank parsed;
    std::string error;
    ASSERT_TRUE(bankgen::ParseBank(image, parsed, error)) << error;
    std::vector<std::string> expected{Line("hierarchy %u records", static_cast<u32>(parsed.records.size()))};
    for (const auto& r : parsed.records)
        expected.push_back(Line("record type %u id %08X size %u digest %08X", r.type, r.id, r.size,
                                Digest(image.data() + r.payloadOffset, r.size)));
    const Reading reading = ReadMemory(image);
    ASSERT_EQ(reading.result, AuResultSuccess);
    std::vector<std::string> records = Matching(reading.calls, "record");
    records.insert(records.begin(), Matching(reading.calls, "hierarchy").front());
    EXPECT_EQ(records, expected);

    RecordingSinks refusing;
    refusing.recordResult = AuResultIDNotFound;
    const Reading refused = ReadMemory(image, AuBankLoadModeLoad, false, std::move(refusing));
    EXPECT_EQ(refused.result, AuResultIDNotFound);
    EXPECT_EQ(Matching(refused.calls, "record").size(), 1u);
}

} // namespace
} // namespace banktest
