#include "TestUtil.h"

#include <bankgen/Bank.h>
#include <bankgen/Parse.h>

#include <gtest/gtest.h>

#include <set>

namespace bankgen {
namespace {

using test::FromHex;
using test::ToHex;

struct Golden {
    const char* name;
    Record record;
    const char* bytes; // HIRC header, then the payload field by field
};

Bytes Encode(const Record& r, bool extraOwner = false) {
    EncodeContext ctx;
    ctx.extraOwner = extraOwner;
    Bytes out = EncodeRecord(r, ctx);
    EXPECT_TRUE(ctx.errors.empty()) << ctx.errors.front();
    return out;
}

// Re-derived field by field from the record layouts; each '|' separates one block of the layout.
TEST(RecordsTest, MinimalRecordsHaveTheFormatsBytes) {
    SoundRecord sound;
    sound.id = 0x1001;
    sound.source.sourceId = 0x2001;
    sound.source.inMemorySize = 5828;
    sound.node.outputBus = 0x0CB96245;

    ActionRecord play;
    play.id = 0x3001;
    play.target = 0x1001;
    play.bankId = 0x47FD79D2;

    ActionRecord stopAll;
    stopAll.id = 0x3006;
    stopAll.type = 0x0104;
    stopAll.props = {PropI(15, 500)};

    ActionRecord muteBus;
    muteBus.id = 0x300D;
    muteBus.type = 0x0602;
    muteBus.target = 0x9FCA9ECD;
    muteBus.isBus = 1;
    muteBus.exceptions = {{0x1004, 0}};

    BusRecord master;
    master.id = 0xE2B7BC37;

    BusRecord music;
    music.id = 0x9FCA9ECD;
    music.parent = 0xE2B7BC37;
    music.flags3 = 1;
    music.rtpcs = {RtpcCurve{0x7B5FA2EB, 0, 0, 5, 1, 0, {{0, -96.3f, 4}, {100, 0, 4}}}};

    const Golden cases[] = {
        {"bus", master,
         "08 2b000000 | 37bcb7e2 00000000 00 | 00 00 0000 00000000 00 00000000 9a99c0c2 00000000"
         " | 00 | 00000000 00 | 00 | 0000 | 00000000"},
        {"bus with curve", music,
         "08 51000000 | cd9eca9f 37bcb7e2 00 | 00 00 0000 00000000 01 00000000 9a99c0c2 00000000"
         " | 00 | 00000000 00 | 00 | 0100 eba25f7b 00 00 05 01000000 00 0200 00000000 9a99c0c2 04000000"
         " 0000c842 00000000 04000000 | 00000000"},
        {"sound", sound,
         "02 36000000 | 01100000 | 01000100 00 01200000 00000000 00000000 c4160000 00"
         " | 00 00 | 00 45 62b90c 00000000 00 | 00 | 00 | 00 | 00 | 00 00 0000 00 00 | 00000000 | 0000"},
        {"play action", play, "03 12000000 | 01300000 0304 01100000 00 | 00 | 00 | 04 d279fd47"},
        {"stop-all action with fade", stopAll,
         "03 17000000 | 06300000 0401 00000000 00 | 01 0f f4010000 | 00 | 04 00000000"},
        {"bus mute with exception", muteBus,
         "03 17000000 | 0d300000 0206 cd9eca9f 01 | 00 | 00 | 04 01000000 04100000 00"},
        {"event", EventRecord{0xFF0B3D05, {0x3001}}, "04 0c000000 | 053d0bff 01000000 01300000"},
        {"state", StateRecord{0x77, {PropF(0, -6.0f)}}, "01 0a000000 | 77000000 | 01 00 0000c0c0"},
    };
    for (const Golden& g : cases) {
        SCOPED_TRACE(g.name);
        EXPECT_EQ(ToHex(Encode(g.record)), ToHex(FromHex(g.bytes)));
    }
}

TEST(RecordsTest, HeaderChunkOfTheInitBank) {
    const Bytes header = EncodeChunk("BKHD", EncodeHeaderPayload(0x50C63A23, 0, false));
    EXPECT_EQ(ToHex(header),
              ToHex(FromHex("42 4b 48 44 14 00 00 00 70 00 00 00 23 3a c6 50 00 00 00 00 00 00 00 00 "
                            "00 00 00 00")));
    // The extra-owner flag is the u16 at file offset 20.
    const Bytes flagged = EncodeChunk("BKHD", EncodeHeaderPayload(1, 2, true));
    ASSERT_EQ(flagged.size(), 28u);
    EXPECT_EQ(flagged[20], 1);
    EXPECT_EQ(flagged[21], 0);
}

TEST(RecordsTest, StreamTypeTwoHasNoFileOffset) {
    SoundRecord s;
    s.id = 1;
    s.source.streamType = 2;
    s.source.fileOffset = 0xDEADBEEF; // not written
    SoundRecord s0 = s;
    s0.source.streamType = 0;
    EXPECT_EQ(Encode(s0).size() - Encode(s).size(), 4u);
}

TEST(RecordsTest, PluginSourcesCarryTheirParameterBlock) {
    SoundRecord s;
    s.id = 1;
    s.source.plugin = 0x00650002; // type 2: a source plug-in
    s.source.params = {1, 2, 3};
    const Bytes withBlock = Encode(s);
    s.source.plugin = kCodecPcm;
    EXPECT_EQ(withBlock.size() - Encode(s).size(), 4u + 3u);
}

TEST(RecordsTest, EncoderRefusesWhatTheEngineCannotRead) {
    struct Case {
        const char* name;
        Record record;
    };
    ActionRecord playAndContinue;
    playAndContinue.id = 5;
    playAndContinue.type = 0x0503;
    ActionRecord zeroId;
    zeroId.id = 0;
    SoundRecord badPlugin;
    badPlugin.id = 1;
    badPlugin.source.plugin = 0x00010003;
    SoundRecord badStream;
    badStream.id = 1;
    badStream.source.streamType = 3;
    SoundRecord bankMediaMissing;
    bankMediaMissing.id = 1;
    bankMediaMissing.source.fromBank = true;
    GroupingRecord slot4;
    slot4.id = 2;
    slot4.node.effects = {EffectEntry{4, 9, 0, 0}};
    AttenuationRecord noCurves;
    noCurves.curves.clear();
    AttenuationRecord useMissing;
    useMissing.curveUse[3] = 1;
    GroupingRecord pathPastVertices;
    pathPastVertices.node.positioning.bits = 1 | 8;
    pathPastVertices.node.positioning.vertices.resize(2);
    pathPastVertices.node.positioning.items = {PathItem{1, 2}};
    StateRecord tooManyProps;
    tooManyProps.props.resize(256);

    const Case cases[] = {
        {"play-and-continue is made only at run time", playAndContinue},
        {"action ID 0", zeroId},
        {"plug-in type 3", badPlugin},
        {"stream type 3", badStream},
        {"bank media not in the bank", bankMediaMissing},
        {"effect slot 4", slot4},
        {"attenuation without curves", noCurves},
        {"curve use past the curves", useMissing},
        {"path item past the vertices", pathPastVertices},
        {"256 properties", tooManyProps},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EncodeContext ctx;
        EncodeRecord(c.record, ctx);
        EXPECT_FALSE(ctx.errors.empty());
    }
}

// Every record type, with its optional parts filled, survives encode -> decode -> encode, and the
// decoder consumes exactly the payload.
std::vector<Record> FullRecords() {
    NodeCommon node;
    node.overrideParentEffects = 1;
    node.effects = {EffectEntry{0, 0x501, 1, 0}, EffectEntry{3, 0x502, 0, 1}};
    node.bypassBits = 0x11;
    node.overrideAttachedPlugin = 1;
    node.outputBus = 0xB1;
    node.parent = 0xC1;
    node.bitVector = 0x3F;
    node.props = {PropF(0, -3.0f), PropI(58, 0), PropF(2, 100.0f)};
    node.ranges = {RangeF(2, -50.0f, 50.0f)};
    node.positioning.bits = 1 | 8 | 16 | 32;
    node.positioning.type3d = 2;
    node.positioning.attenuation = 0xA77;
    node.positioning.pathMode = 3;
    node.positioning.pathEndMs = 250;
    node.positioning.vertices = {{1, 2, 3, 100}, {4, 5, 6, 200}, {7, 8, 9, 300}};
    node.positioning.items = {PathItem{0, 2, 1, 1, 1}, PathItem{2, 1, 2, 2, 2}};
    node.auxBits = 1 | 8;
    node.userAux = {0xA1, 0xA2, 0, 0xA4};
    node.advancedFlags = 0x1F;
    node.virtualQueue = 2;
    node.maxInstances = 5;
    node.belowThreshold = 2;
    node.outputFlags = 9;
    node.stateGroups = {StateGroupLink{0x5A, 0, {{0x51, 0x77}, {0x52, 0x78}}}};
    node.rtpcs = {RtpcCurve{0x6A, 2, 1, 0, 7, 2, {{0, 0, 4}, {1, 1, 9}}}};
    node.extraOwnerBus = 0xE0;

    SourceRecord source;
    source.plugin = kCodecVorbis;
    source.streamType = 1;
    source.sourceId = 0x2001;
    source.fileId = 0x2001;
    source.fileOffset = 0;
    source.bits = 1 | 2 | 8;
    SourceRecord pluginSource;
    pluginSource.plugin = 0x00650005;
    pluginSource.streamType = 2;
    pluginSource.sourceId = 0x2002;
    pluginSource.params = {9, 8, 7, 6};

    std::vector<Record> out;
    out.push_back(StateRecord{0x77, {PropF(0, -6.0f), PropF(2, 1200.0f)}});
    out.push_back(SoundRecord{0x1001, source, node});
    out.push_back(MotionLeafRecord{
        0x1002, {MotionSource{1, 2, -3.0f, source}, MotionSource{3, 4, 0, pluginSource}}, node});

    const std::pair<std::uint16_t, const char*> kinds[] = {{0x0103, "stop"},
                                                           {0x0204, "pause"},
                                                           {0x0305, "resume"},
                                                           {0x0403, "play"},
                                                           {0x0602, "mute"},
                                                           {0x0709, "unmute"},
                                                           {0x0A02, "set volume"},
                                                           {0x3009, "reset prop 4"},
                                                           {0x1002, "use state"},
                                                           {0x1204, "set state"},
                                                           {0x1302, "set game parameter"},
                                                           {0x1403, "reset game parameter"},
                                                           {0x1904, "set switch"},
                                                           {0x1A02, "bypass"},
                                                           {0x1C04, "break"},
                                                           {0x1D04, "trigger"},
                                                           {0x1E03, "seek"},
                                                           {0x1F02, "release"}};
    std::uint32_t id = 0x3000;
    for (const auto& [type, name] : kinds) {
        ActionRecord a;
        a.id = ++id;
        a.type = type;
        a.target = 0x1001;
        a.props = {PropI(14, 20), PropI(15, 300), PropF(16, 50.0f)};
        a.ranges = {RangeI(14, -5, 5)};
        a.curve = 9;
        a.bankId = 0x47FD79D2;
        a.option = 1;
        a.valueMeaning = 2;
        a.bypassTransition = 1;
        a.base = 1.5f;
        a.min = -1.0f;
        a.max = 2.0f;
        a.slotMask = 5;
        a.snapToMarker = 1;
        a.groupId = 0x99;
        a.valueId = 0x98;
        a.exceptions = {{0x1001, 0}, {0xB1, 1}};
        out.push_back(a);
    }
    out.push_back(EventRecord{0xFF0B3D05, {0x3001, 0x3002}});
    out.push_back(RandomSequenceRecord{0x1010,
                                       node,
                                       0,
                                       -1,
                                       2,
                                       100,
                                       -10,
                                       10,
                                       1,
                                       3,
                                       1,
                                       0,
                                       0x1E,
                                       {0x1001, 0x1002},
                                       {{0x1001, 50000}, {0x1002, 0}}});
    out.push_back(SwitchRecord{0x1011,
                               node,
                               1,
                               0x5A,
                               0x51,
                               1,
                               {0x1001, 0x1002},
                               {{0x51, {0x1001}}, {0x52, {0x1001, 0x1002}}},
                               {{0x1001, 3, 1, 100, 200}}});
    out.push_back(GroupingRecord{0x1012, node, {0x1001}});
    BusRecord bus;
    bus.type = HierarchyType::DefaultBus;
    bus.id = 0xB2;
    bus.parent = 0xB1;
    bus.props = {PropF(5, -3.0f), PropI(29, 0x6A)};
    bus.flags1 = 3;
    bus.flags2 = 7;
    bus.maxInstances = 10;
    bus.channelConfig = 0x3102;
    bus.flags3 = 3;
    bus.recoveryMs = 500;
    bus.ducks = {DuckTarget{0xB3, -12.0f, 100, 200, 4, 5}};
    bus.bypassBits = 1;
    bus.effects = {EffectEntry{1, 0x503, 1, 0}};
    bus.mixer = 0x504;
    bus.mixerShareSet = 1;
    bus.overrideAttachedPlugin = 1;
    bus.rtpcs = node.rtpcs;
    bus.stateGroups = node.stateGroups;
    bus.extraOwnerBus = 0xE1;
    out.push_back(bus);
    bus.type = HierarchyType::Bus;
    out.push_back(bus);
    bus.type = HierarchyType::BusType20;
    out.push_back(bus);
    out.push_back(LayerContainerRecord{
        0x1013, node, {0x1001}, {Layer{0x600, node.rtpcs, 0x6B, 0, {{0x1001, {{0, 1, 4}, {100, 0, 4}}}}}}});
    out.push_back(MusicSegmentRecord{
        MusicNodePart{0x1014, 6, node, {0x1015}, 500.0, 10.0, 96.0f, 3, 4, 1, {Stinger{1, 2, 3, 4, 5, 6}}},
        4000.0,
        {Marker{1, 0.0, "entry"}, Marker{2, 3900.5, ""}}});
    MusicTrackRecord track;
    track.id = 0x1015;
    track.flags = 6;
    track.sources = {source, pluginSource};
    track.clips = {TrackClip{0, 0x2001, 0, 10, 20, 4000}};
    track.subTrackCount = 2;
    track.automations = {ClipAutomation{0, 1, {{0, 1, 4}, {1.5f, 0, 4}}}};
    track.node = node;
    track.trackType = 3;
    track.switchTrack = SwitchTrack{1, 0x5A, 0x51, {0x51, 0x52}, 100, 4, 10, 2, 0, 200, 4, 20};
    track.lookAheadMs = 100;
    out.push_back(track);
    TransitionRule rule;
    rule.sources = {0x1014};
    rule.destinations = {0xFFFFFFFF};
    rule.transitionSegment = TransitionSegment{0x1014, 1, 2, 3, 4, 5, 6, 1, 0};
    out.push_back(
        MusicSwitchRecord{MusicNodePart{0x1016, 0, node, {0x1014}, 0, 0, 120, 4, 4, 0, {}},
                          {TransitionRule{}, rule},
                          1,
                          {0x5A, 0x5B},
                          {1, 0},
                          1,
                          {InnerTreeNode(0, 1, 2), LeafTreeNode(0, 0x1014), LeafTreeNode(0x51, 0x1014)}});
    out.push_back(MusicPlaylistRecord{MusicNodePart{0x1017, 0, node, {0x1014}, 0, 0, 120, 4, 4, 0, {}},
                                      {TransitionRule{}},
                                      {MusicPlaylistItem{0, 1, 1, 0, 0, 0, 0, 50000, 0, 0, 0},
                                       MusicPlaylistItem{0x1014, 2, 0, 0, 2, -1, 1, 100, 1, 0, 1}}});
    AttenuationRecord att;
    att.id = 0xA77;
    att.cone = Cone{90, 180, {-6, 0.5f, 1}};
    att.curveUse = {0, 1, 255, 1, 255, 255, 255};
    att.curves = {ScaledCurve{0, {{0, 0, 4}, {50, -20, 4}}}, ScaledCurve{2, {{0, 0, 4}}}};
    att.rtpcs = node.rtpcs;
    out.push_back(att);
    out.push_back(
        DialogueEventRecord{0xD1,
                            80,
                            {{1, 2, 3, 4, 5}},
                            1,
                            {InnerTreeNode(0, 1, 2), LeafTreeNode(0, 0x1001), LeafTreeNode(7, 0x1002)}});
    out.push_back(PluginSettingsRecord{HierarchyType::SharedPluginSettings,
                                       0x501,
                                       0x006A0003,
                                       Bytes(18, 0x42),
                                       {PluginMedia{0, 0x2001}},
                                       node.rtpcs,
                                       {{3, 0.25f}}});
    out.push_back(PluginSettingsRecord{HierarchyType::PluginSettings, 0x502, kNoPlugin, {}, {}, {}, {}});
    out.push_back(
        ModulatorRecord{HierarchyType::Lfo, 0x700, {PropF(0, 1.0f)}, {RangeF(0, 0, 1)}, node.rtpcs});
    out.push_back(ModulatorRecord{HierarchyType::Envelope, 0x701, {}, {}, {}});
    return out;
}

TEST(RecordsTest, EveryTypeRoundTripsThroughTheParser) {
    std::set<std::uint8_t> types;
    for (bool extraOwner : {false, true}) {
        for (const Record& r : FullRecords()) {
            SCOPED_TRACE(std::string(HierarchyTypeName(TypeOf(r))) + " " + std::to_string(IdOf(r)) +
                         (extraOwner ? " with extra owner" : ""));
            EncodeContext ctx;
            ctx.extraOwner = extraOwner;
            const Bytes payload = EncodePayload(r, ctx);
            ASSERT_TRUE(ctx.errors.empty()) << ctx.errors.front();
            Record decoded;
            std::string error;
            ASSERT_TRUE(DecodePayload(TypeOf(r), payload, extraOwner, decoded, error)) << error;
            EXPECT_EQ(TypeOf(decoded), TypeOf(r));
            EXPECT_EQ(IdOf(decoded), IdOf(r));
            EncodeContext again;
            again.extraOwner = extraOwner;
            EXPECT_EQ(ToHex(EncodePayload(decoded, again)), ToHex(payload));

            // One byte short must fail inside the fields, one byte more must be reported left over.
            Record scratch;
            const Bytes shorter(payload.begin(), payload.end() - 1);
            EXPECT_FALSE(DecodePayload(TypeOf(r), shorter, extraOwner, scratch, error));
            Bytes longer = payload;
            longer.push_back(0);
            EXPECT_FALSE(DecodePayload(TypeOf(r), longer, extraOwner, scratch, error));
            types.insert(TypeOf(r));
        }
    }
    EXPECT_EQ(types.size(), 22u); // every hierarchy type 1-22
}

TEST(RecordsTest, ExtraOwnerAddsOneBusIdToNodesAndBusses) {
    BusRecord bus;
    bus.id = 1;
    GroupingRecord group;
    group.id = 2;
    EventRecord event{3, {}};
    EXPECT_EQ(Encode(bus, true).size() - Encode(bus).size(), 4u);
    EXPECT_EQ(Encode(group, true).size() - Encode(group).size(), 4u);
    EXPECT_EQ(Encode(event, true).size(), Encode(event).size());
}

TEST(RecordsTest, DecodedFieldsAreTheWrittenOnes) {
    const std::vector<Record> records = FullRecords();
    const auto& sound = std::get<SoundRecord>(records[1]);
    EncodeContext ctx;
    Record decoded;
    std::string error;
    ASSERT_TRUE(DecodePayload(2, EncodePayload(sound, ctx), false, decoded, error)) << error;
    const auto& back = std::get<SoundRecord>(decoded);
    EXPECT_EQ(back.source.plugin, kCodecVorbis);
    EXPECT_EQ(back.source.streamType, 1);
    EXPECT_EQ(back.source.bits, 11);
    EXPECT_EQ(back.node.outputBus, 0xB1u);
    EXPECT_EQ(back.node.parent, 0xC1u);
    ASSERT_EQ(back.node.positioning.vertices.size(), 3u);
    EXPECT_EQ(back.node.positioning.vertices[2].durationMs, 300u);
    ASSERT_EQ(back.node.positioning.items.size(), 2u);
    EXPECT_EQ(back.node.positioning.items[1].rangeZ, 2.0f);
    EXPECT_EQ(back.node.userAux[3], 0xA4u);
    ASSERT_EQ(back.node.rtpcs.size(), 1u);
    EXPECT_EQ(back.node.rtpcs[0].points[1].shape, 9u);
    ASSERT_EQ(back.node.props.size(), 3u);
    EXPECT_EQ(back.node.props[1].id, 58);
    EXPECT_EQ(back.node.props[1].bits, 0u);
}

TEST(RecordsTest, UndefinedTypesAndActionKindsAreNotDecoded) {
    Record out;
    std::string error;
    const Bytes payload = FromHex("01000000");
    EXPECT_FALSE(DecodePayload(0, payload, false, out, error));
    EXPECT_FALSE(DecodePayload(23, payload, false, out, error));
    for (std::uint16_t type : {0x0003, 0x0503, 0x1503, 0x2103, 0x3103}) {
        SCOPED_TRACE(type);
        Bytes p = FromHex("01000000");
        p.push_back(static_cast<std::uint8_t>(type));
        p.push_back(static_cast<std::uint8_t>(type >> 8));
        for (int i = 0; i < 7; ++i)
            p.push_back(0);
        EXPECT_FALSE(DecodePayload(3, p, false, out, error));
        EXPECT_FALSE(IsBankActionKind(type));
    }
}

} // namespace
} // namespace bankgen
