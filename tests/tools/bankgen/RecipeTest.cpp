#include <bankgen/Effects.h>
#include <bankgen/Parse.h>
#include <bankgen/Recipe.h>

#include <gtest/gtest.h>

#include <fstream>

namespace bankgen {
namespace {

TEST(RecipeTest, NamesHashLikeTheEngine) {
    EXPECT_EQ(IdOfName("Init"), 0x50C63A23u);
    EXPECT_EQ(IdOfName("Torvik"), 0x47FD79D2u);
    EXPECT_EQ(IdOfName("none"), 0x2CA33BDBu);
    EXPECT_EQ(IdOfName(""), 0x811C9DC5u);
    EXPECT_EQ(IdOfName("MASTER AUDIO BUS"), IdOfName("master audio bus"));
    EXPECT_EQ(BankIdOfName("Init.bnk"), 0x50C63A23u);
    EXPECT_EQ(BankIdOfName("Torvik.x.bnk"), 0x47FD79D2u);
    EXPECT_EQ(IdOfName("Music_Ambience_Bus_Volume"), 0x7B5FA2EBu);
    EXPECT_EQ(IdOfName("SFX_VO_Bus_Volume"), 0x01415798u);
}

ParsedBank FromRecipe(const char* json) {
    std::vector<std::string> errors;
    std::optional<BankBuilder> b = BuilderFromRecipe(json, errors);
    EXPECT_TRUE(b) << (errors.empty() ? "" : errors.front());
    ParsedBank bank;
    if (!b) return bank;
    Bytes bytes;
    EXPECT_TRUE(b->Build(bytes, errors)) << (errors.empty() ? "" : errors.front());
    std::string error;
    EXPECT_TRUE(ParseBank(bytes, bank, error)) << error;
    return bank;
}

TEST(RecipeTest, IdsAreNumbersHexOrNames) {
    const ParsedBank bank = FromRecipe(R"({
      "bank": "Demo.bnk",
      "media": [{"id": 8193, "channels": [{"kind": "impulse", "frames": 4, "at": 1}]}],
      "objects": [
        {"type": "bus", "id": "Master Audio Bus"},
        {"type": "sound", "id": "0x1001", "media": 8193, "bus": "master audio bus",
         "props": [{"id": 58, "int": 0}, {"id": 0, "float": -6.5}]},
        {"type": "action", "id": 12289, "action": "0x0403", "target": "0x1001"},
        {"type": "action", "id": 12290, "action": 1538, "target": "Master Audio Bus", "isBus": true,
         "exceptions": [{"id": 4097}]},
        {"type": "event", "id": "Play_Thing", "actions": [12289, "0x3002"]}
      ]})");
    EXPECT_EQ(bank.bankId, IdOfName("Demo"));
    ASSERT_EQ(bank.records.size(), 5u);
    EXPECT_EQ(bank.records[0].id, 0xE2B7BC37u);
    const auto& sound = std::get<SoundRecord>(*bank.records[1].record);
    EXPECT_EQ(sound.id, 0x1001u);
    EXPECT_EQ(sound.node.outputBus, 0xE2B7BC37u);
    EXPECT_EQ(sound.source.sourceId, 8193u);
    EXPECT_EQ(sound.source.fileId, bank.bankId);
    ASSERT_EQ(sound.node.props.size(), 2u);
    EXPECT_EQ(sound.node.props[0].bits, 0u);
    EXPECT_EQ(sound.node.props[1].bits, PropF(0, -6.5f).bits);
    const auto& play = std::get<ActionRecord>(*bank.records[2].record);
    EXPECT_EQ(play.type, 0x0403);
    EXPECT_EQ(play.bankId, bank.bankId); // play actions name their own bank by default
    const auto& mute = std::get<ActionRecord>(*bank.records[3].record);
    EXPECT_EQ(mute.type, 0x0602);
    EXPECT_EQ(mute.isBus, 1);
    ASSERT_EQ(mute.exceptions.size(), 1u);
    EXPECT_EQ(mute.exceptions[0].id, 0x1001u);
    const auto& event = std::get<EventRecord>(*bank.records[4].record);
    EXPECT_EQ(event.id, IdOfName("play_thing"));
    EXPECT_EQ(event.actions, (std::vector<std::uint32_t>{0x3001, 0x3002}));
    EXPECT_TRUE(Validate(bank).empty()) << Validate(bank).front();
}

TEST(RecipeTest, MistakesAreReportedNotGuessed) {
    const std::pair<const char*, const char*> cases[] = {
        {"not json", "{"},
        {"unknown key", R"({"bank": "A", "objekts": []})"},
        {"unknown key in an object", R"({"bank": "A", "objects": [{"type": "bus", "id": 1, "parnet": 2}]})"},
        {"unknown object type", R"({"bank": "A", "objects": [{"type": "buss", "id": 1}]})"},
        {"missing id", R"({"bank": "A", "objects": [{"type": "event"}]})"},
        {"id out of range", R"({"bank": "A", "objects": [{"type": "bus", "id": 4294967296}]})"},
        {"bad hex id", R"({"bank": "A", "objects": [{"type": "bus", "id": "0xZZ"}]})"},
        {"negative count", R"({"bank": "A", "objects": [{"type": "bus", "id": 1, "flags3": -1}]})"},
        {"value out of range", R"({"bank": "A", "objects": [{"type": "bus", "id": 1, "flags3": 256}]})"},
        {"word for a number", R"({"bank": "A", "objects": [{"type": "action", "id": 1, "action": "play"}]})"},
        {"run-time-only action",
         R"({"bank": "A", "objects": [{"type": "action", "id": 1, "action": "0x0503"}]})"},
        {"property without value",
         R"({"bank": "A", "objects": [{"type": "bus", "id": 1, "props": [{"id": 5}]}]})"},
        {"curve without points",
         R"({"bank": "A", "objects": [{"type": "bus", "id": 1, "rtpcs": [{"gameParameter": 5, "target": 5}]}]})"},
        {"bad point", R"({"bank": "A", "objects": [{"type": "bus", "id": 1,
            "rtpcs": [{"gameParameter": 5, "points": [[0]]}]}]})"},
        {"unknown signal", R"({"bank": "A", "media": [{"id": 1, "channels": [{"kind": "saw"}]}]})"},
        {"media without channels", R"({"bank": "A", "media": [{"id": 1}]})"},
        {"unknown codec",
         R"({"bank": "A", "media": [{"id": 1, "codec": "mp3", "channels": [{"kind": "dc"}]}]})"},
        {"channels of different lengths", R"({"bank": "A", "media": [{"id": 1, "channels": [
            {"kind": "impulse", "frames": 4}, {"kind": "impulse", "frames": 5}]}]})"},
        {"built-in binding above 6",
         R"({"bank": "A", "settings": {"gameParameters": [{"id": 1, "builtIn": 7}]}})"},
        {"bank name not a string", R"({"bank": "A", "bankNames": [3]})"},
        {"missing bank name", R"({"objects": []})"},
        {"effect slot above 3",
         R"({"bank": "A", "objects": [{"type": "bus", "id": 1, "effects": [{"slot": 4, "id": 2}]}]})"},
        {"effect without settings id",
         R"({"bank": "A", "objects": [{"type": "bus", "id": 1, "effects": [{"slot": 0}]}]})"},
        {"unknown effect key", R"({"bank": "A", "objects": [{"type": "delay", "id": 1, "delay": 0.5}]})"},
        {"four reverb filters", R"({"bank": "A", "objects": [{"type": "roomReverb", "id": 1,
            "filters": [{}, {}, {}, {}]}]})"},
        {"tuning word", R"({"bank": "A", "objects": [{"type": "roomReverb", "id": 1, "tuning": ["x"]}]})"},
        {"markers out of order", R"({"bank": "A", "objects": [{"type": "musicSegment", "id": 1,
            "durationMs": 1000, "markers": [{"id": 5, "ms": 600}, {"id": 6, "ms": 300}]}]})"},
        {"exit cue past the end", R"({"bank": "A", "objects": [{"type": "musicSegment", "id": 1,
            "durationMs": 1000, "exitCueMs": 1200}]})"},
        {"time settings without tempo", R"({"bank": "A", "objects": [{"type": "musicSegment", "id": 1,
            "beatsPerBar": 3}]})"},
        {"tempo of 0", R"({"bank": "A", "objects": [{"type": "musicSegment", "id": 1, "tempo": 0}]})"},
        {"clip on a missing sub-track", R"({"bank": "A", "objects": [{"type": "musicTrack", "id": 1,
            "sources": [{"media": 2}], "clips": [{"source": 2, "subTrack": 1, "sourceDurationMs": 10}]}]})"},
        {"clip without source duration", R"({"bank": "A", "objects": [{"type": "musicTrack", "id": 1,
            "sources": [{"media": 2}], "clips": [{"source": 2}]}]})"},
        {"automation of no clip", R"({"bank": "A", "objects": [{"type": "musicTrack", "id": 1,
            "automations": [{"clip": 0, "points": [[0, 1]]}]}]})"},
        {"playlist without items", R"({"bank": "A", "objects": [{"type": "musicPlaylist", "id": 1}]})"},
        {"switch group without type", R"({"bank": "A", "objects": [{"type": "musicSwitch", "id": 1,
            "groups": [5]}]})"},
    };
    for (const auto& [name, json] : cases) {
        SCOPED_TRACE(name);
        std::vector<std::string> errors;
        EXPECT_FALSE(BuilderFromRecipe(json, errors));
        EXPECT_FALSE(errors.empty());
    }
}

TEST(RecipeTest, MusicRecordsCarryTheirParts) {
    const ParsedBank bank = FromRecipe(R"({
      "bank": "Music.bnk",
      "media": [{"id": 9, "channels": [{"kind": "impulse", "frames": 4}]}],
      "objects": [
        {"type": "musicTrack", "id": 11, "parent": 10, "bus": 3, "sources": [{"media": 9}],
         "clips": [{"source": 9, "playAtMs": 250, "sourceDurationMs": 500, "endTrimMs": -100}],
         "automations": [{"clip": 0, "type": 3, "points": [[0, 0], [0.1, 1, 1]]}], "lookAheadMs": 20},
        {"type": "musicSegment", "id": 10, "children": [11], "durationMs": 2000, "tempo": 90,
         "beatsPerBar": 3, "entryCueMs": 500, "exitCueMs": 1500,
         "markers": [{"id": 7, "ms": 1000, "name": "Verse"}],
         "stingers": [{"trigger": 4, "segment": 10, "syncType": 2, "dontRepeatMs": 300}]},
        {"type": "musicPlaylist", "id": 12, "children": [10],
         "items": [{"childCount": 1, "itemId": 100, "loopCount": 0}, {"segment": 10, "itemId": 101}],
         "rules": [{"sources": [10], "syncType": 2, "fadeOutMs": 50}]},
        {"type": "musicSwitch", "id": 13, "children": [12], "groups": [5], "groupTypes": [1],
         "tree": [{"key": 0, "firstChild": 1, "count": 1}, {"key": 6, "node": 12}]}
      ]})");
    const ParsedRecord* track = bank.Find(11, 11);
    ASSERT_TRUE(track && track->record);
    const auto& t = std::get<MusicTrackRecord>(*track->record);
    ASSERT_EQ(t.clips.size(), 1u);
    EXPECT_EQ(t.clips[0].source, 9u);
    EXPECT_DOUBLE_EQ(t.clips[0].playAtMs, 250.0);
    EXPECT_DOUBLE_EQ(t.clips[0].endTrimMs, -100.0);
    ASSERT_EQ(t.automations.size(), 1u);
    EXPECT_EQ(t.automations[0].points[1].shape, 1u);
    EXPECT_EQ(t.lookAheadMs, 20u);
    EXPECT_EQ(t.node.outputBus, 3u);
    const ParsedRecord* segment = bank.Find(10, 10);
    ASSERT_TRUE(segment && segment->record);
    const auto& s = std::get<MusicSegmentRecord>(*segment->record);
    ASSERT_EQ(s.markers.size(), 3u); // entry cue, "Verse", exit cue
    EXPECT_DOUBLE_EQ(s.markers[0].positionMs, 500.0);
    EXPECT_EQ(s.markers[1].name, "Verse");
    EXPECT_DOUBLE_EQ(s.markers[2].positionMs, 1500.0);
    EXPECT_EQ(s.music.timeOverride, 1u);
    EXPECT_EQ(s.music.beatsPerBar, 3u);
    ASSERT_EQ(s.music.stingers.size(), 1u);
    EXPECT_EQ(s.music.stingers[0].dontRepeatMs, 300u);
    const ParsedRecord* playlist = bank.Find(13, 12);
    ASSERT_TRUE(playlist && playlist->record);
    const auto& p = std::get<MusicPlaylistRecord>(*playlist->record);
    ASSERT_EQ(p.items.size(), 2u);
    EXPECT_EQ(p.items[0].loopCount, 0u);
    ASSERT_EQ(p.rules.size(), 1u);
    EXPECT_EQ(p.rules[0].sources, std::vector<std::uint32_t>{10});
    EXPECT_EQ(p.rules[0].destinations, std::vector<std::uint32_t>{0xFFFFFFFF});
    const ParsedRecord* node = bank.Find(12, 13);
    ASSERT_TRUE(node && node->record);
    const auto& w = std::get<MusicSwitchRecord>(*node->record);
    EXPECT_EQ(w.groups, std::vector<std::uint32_t>{5});
    ASSERT_EQ(w.tree.size(), 2u);
    EXPECT_EQ(w.tree[1].childOrNode, 12u);
    // A container without rules gets the one rule from any to any at the exit cue.
    EXPECT_EQ(w.rules.size(), 1u);
    EXPECT_EQ(w.rules[0].syncType, 7u);
}

TEST(RecipeTest, SettingsContainersAndBankNames) {
    const ParsedBank bank = FromRecipe(R"({
      "bank": "Init",
      "settings": {"volumeThresholdDb": -90, "maxVoices": 12,
                   "gameParameters": [{"id": "P", "default": 3.5, "rampKind": 1, "rampUp": 2, "rampDown": 4,
                                       "builtIn": 1}]},
      "objects": [
        {"type": "bus", "id": 1},
        {"type": "state", "id": 7, "props": [{"id": 0, "float": -3}]},
        {"type": "grouping", "id": 30, "bus": 1},
        {"type": "randomSequence", "id": 31, "bus": 1, "playlistMode": 0, "loopCount": 0, "children": []}
      ],
      "bankNames": ["Init.bnk", "Torvik"]})");
    ASSERT_TRUE(bank.settings);
    EXPECT_EQ(bank.settings->volumeThresholdDb, -90.0f);
    EXPECT_EQ(bank.settings->maxVoices, 12);
    ASSERT_EQ(bank.settings->gameParameters.size(), 1u);
    EXPECT_EQ(bank.settings->gameParameters[0].id, IdOfName("P"));
    EXPECT_EQ(bank.settings->gameParameters[0].rampDown, 4.0f);
    ASSERT_EQ(bank.records.size(), 4u);
    EXPECT_EQ(bank.records[1].type, 1);
    EXPECT_EQ(bank.records[2].type, 7);
    EXPECT_EQ(std::get<RandomSequenceRecord>(*bank.records[3].record).loopCount, 0);
    ASSERT_EQ(bank.names.size(), 2u);
    EXPECT_EQ(bank.names[0].bankId, 0x50C63A23u);
    EXPECT_EQ(bank.names[0].name, "Init");
    EXPECT_EQ(bank.names[1].bankId, 0x47FD79D2u);
}

TEST(RecipeTest, EffectSettingsCarryTheirBlocksAndNodesTheirSlots) {
    const ParsedBank bank = FromRecipe(R"({
      "bank": "Fx",
      "media": [{"id": 9, "channels": [{"kind": "dc", "seconds": 0.001}]}],
      "objects": [
        {"type": "delay", "id": "Echo", "shared": 1, "delayTime": 0.5, "feedback": 40, "wetDryMix": 50,
         "outputLevel": -3, "feedbackEnabled": 1, "processLFE": 0},
        {"type": "stereoDelay", "id": 21, "leftInput": 2, "leftDelayTime": 0.25, "filterType": -1,
         "balance": -100, "crossFeedbackEnabled": 1},
        {"type": "roomReverb", "id": 22, "decayTime": 1.2, "pattern": 25, "density": 32,
         "filters": [{"gain": 3, "frequency": 8000, "q": 0.7, "position": 2, "type": 4}],
         "lfeInputLevel": -6, "tuning": [8, 50]},
        {"type": "bus", "id": 1, "effects": [{"slot": 0, "id": "Echo", "shared": 1}]},
        {"type": "sound", "id": 2, "media": 9, "bus": 1, "effects": [{"slot": 3, "id": 22}]}
      ]})");
    ASSERT_EQ(bank.records.size(), 5u);
    const auto& echo = std::get<PluginSettingsRecord>(*bank.records[0].record);
    EXPECT_EQ(bank.records[0].type, 18);
    EXPECT_EQ(echo.id, IdOfName("Echo"));
    EXPECT_EQ(echo.plugin, 0x006A0003u);
    AuDelayBlock delay;
    ASSERT_EQ(echo.block.size(), 18u);
    ASSERT_TRUE(AuReadBlock(echo.block.data(), u32(echo.block.size()), delay));
    EXPECT_EQ(delay.fDelayTime, 0.5f);
    EXPECT_EQ(delay.fFeedback, 40.0f);
    EXPECT_EQ(delay.fOutputLevel, -3.0f);
    EXPECT_EQ(delay.uFeedbackEnabled, 1);
    EXPECT_EQ(delay.uProcessLFE, 0);
    const auto& stereo = std::get<PluginSettingsRecord>(*bank.records[1].record);
    EXPECT_EQ(bank.records[1].type, 19);
    EXPECT_EQ(stereo.plugin, 0x00870003u);
    AuStereoDelayBlock stereoBlock;
    ASSERT_EQ(stereo.block.size(), 62u);
    ASSERT_TRUE(AuReadBlock(stereo.block.data(), u32(stereo.block.size()), stereoBlock));
    EXPECT_EQ(stereoBlock.uLeftInput, 2u);
    EXPECT_EQ(stereoBlock.iFilterType, -1);
    EXPECT_EQ(stereoBlock.fBalance, -100.0f);
    EXPECT_EQ(stereoBlock.uFeedbackEnabled, 0);
    EXPECT_EQ(stereoBlock.uCrossFeedbackEnabled, 1);
    const auto& reverb = std::get<PluginSettingsRecord>(*bank.records[2].record);
    EXPECT_EQ(reverb.plugin, 0x00760003u);
    AuRoomReverbBlock reverbBlock;
    ASSERT_EQ(reverb.block.size(), 186u);
    ASSERT_TRUE(AuReadBlock(reverb.block.data(), u32(reverb.block.size()), reverbBlock));
    EXPECT_EQ(reverbBlock.fDecayTime, 1.2f);
    EXPECT_EQ(reverbBlock.uPattern, 25u);
    EXPECT_EQ(reverbBlock.uDensity, 32u);
    EXPECT_EQ(reverbBlock.aFilters[0].fFrequency, 8000.0f);
    EXPECT_EQ(reverbBlock.aFilters[0].uType, 4u);
    EXPECT_EQ(reverbBlock.aFilters[1].uType, 0u);
    EXPECT_EQ(reverbBlock.fLFEInputLevel, -6.0f);
    EXPECT_EQ(reverbBlock.afTuning[1], 50.0f);
    EXPECT_EQ(reverbBlock.afTuning[2], 0.0f);
    const auto& bus = std::get<BusRecord>(*bank.records[3].record);
    ASSERT_EQ(bus.effects.size(), 1u);
    EXPECT_EQ(bus.effects[0].id, IdOfName("Echo"));
    EXPECT_EQ(bus.effects[0].shared, 1);
    const auto& sound = std::get<SoundRecord>(*bank.records[4].record);
    ASSERT_EQ(sound.node.effects.size(), 1u);
    EXPECT_EQ(sound.node.effects[0].slot, 3);
    EXPECT_EQ(sound.node.effects[0].id, 22u);
    EXPECT_EQ(sound.node.overrideParentEffects, 1);
}

TEST(EffectsTest, BlocksLieAtTheirOffsetsLittleEndian) {
    AuDelayBlock delay;
    delay.fDelayTime = 0.5f;    // 0x3F000000 at 0
    delay.fOutputLevel = -1.0f; // 0xBF800000 at 12
    delay.uProcessLFE = 1;      // at 17
    const PluginSettingsRecord record = EffectSettings(7, delay);
    EXPECT_EQ(record.type, HierarchyType::PluginSettings);
    ASSERT_EQ(record.block.size(), 18u);
    EXPECT_EQ(record.block[3], 0x3F);
    EXPECT_EQ(record.block[2], 0x00);
    EXPECT_EQ(record.block[14], 0x80);
    EXPECT_EQ(record.block[15], 0xBF);
    EXPECT_EQ(record.block[16], 0);
    EXPECT_EQ(record.block[17], 1);
    AuRoomReverbBlock reverb;
    reverb.uPattern = 0x01020304; // at 81, after the levels and the ER switch
    reverb.afTuning[10] = 1.0f;   // the last four bytes
    const PluginSettingsRecord big = EffectSettings(8, reverb, HierarchyType::SharedPluginSettings);
    ASSERT_EQ(big.block.size(), 186u);
    EXPECT_EQ(big.block[81], 0x04);
    EXPECT_EQ(big.block[84], 0x01);
    EXPECT_EQ(big.block[185], 0x3F);
    EXPECT_EQ(big.block[184], 0x80);
}

TEST(RecipeTest, MediaMayAskForAdpcm) {
    std::vector<std::string> errors;
    std::optional<BankBuilder> b = BuilderFromRecipe(R"({"bank": "M", "media": [
        {"id": 5, "codec": "adpcm", "rate": 24000, "channels": [{"kind": "chirp", "seconds": 0.01}]},
        {"id": 6, "channels": [{"kind": "dc", "seconds": 0.001}]}]})",
                                                     errors);
    ASSERT_TRUE(b) << (errors.empty() ? "" : errors.front());
    Bytes bytes;
    ASSERT_TRUE(b->Build(bytes, errors));
    ParsedBank bank;
    std::string error;
    ASSERT_TRUE(ParseBank(bytes, bank, error)) << error;
    ASSERT_EQ(bank.media.size(), 2u);
    const std::uint8_t* adpcm = bytes.data() + bank.dataOffset + bank.media[0].offset;
    EXPECT_EQ(adpcm[20], 2);  // tag
    EXPECT_EQ(adpcm[32], 36); // block align
    EXPECT_EQ(bank.media[0].size, 68u + (240u + 63u) / 64u * 36u);
    const std::uint8_t* pcm = bytes.data() + bank.dataOffset + bank.media[1].offset;
    EXPECT_EQ(pcm[20], 0xFE);
    EXPECT_EQ(bank.media[1].size, 68u + 48u * 2u);
}

TEST(RecipeTest, MediaMayComeFromAFileMadeAtBuildTime) {
    const std::string dir = testing::TempDir();
    const Bytes made = {'R', 'I', 'F', 'F', 1, 2, 3, 4, 5};
    std::ofstream(dir + "/recipe-media.wav", std::ios::binary)
        .write(reinterpret_cast<const char*>(made.data()), std::streamsize(made.size()));
    std::vector<std::string> errors;
    std::optional<BankBuilder> b =
        BuilderFromRecipe(R"({"bank": "F", "media": [{"id": 7, "file": "recipe-media.wav"}]})", errors, dir);
    ASSERT_TRUE(b) << (errors.empty() ? "" : errors.front());
    Bytes bytes;
    ASSERT_TRUE(b->Build(bytes, errors));
    ParsedBank bank;
    std::string error;
    ASSERT_TRUE(ParseBank(bytes, bank, error)) << error;
    ASSERT_EQ(bank.media.size(), 1u);
    EXPECT_EQ(Bytes(bytes.begin() + bank.dataOffset + bank.media[0].offset,
                    bytes.begin() + bank.dataOffset + bank.media[0].offset + bank.media[0].size),
              made);

    errors.clear();
    EXPECT_FALSE(
        BuilderFromRecipe(R"({"bank": "F", "media": [{"id": 7, "file": "no-such.wav"}]})", errors, dir));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("no-such.wav"), std::string::npos);
}

} // namespace
} // namespace bankgen
