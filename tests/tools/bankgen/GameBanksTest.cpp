// The banks the build wrote for the game: what the game posts and sets must be in them.
#include <bankgen/Parse.h>
#include <bankgen/Recipe.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include <sys/wait.h>

namespace bankgen {
namespace {

Bytes ReadBank(const std::string& name) {
    std::ifstream in(std::string(TORVIK_SOUNDBANKS_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class GameBanksTest : public ::testing::Test {
protected:
    void SetUp() override {
        initBytes = ReadBank("Init.bnk");
        torvikBytes = ReadBank("Torvik.bnk");
        std::string error;
        ASSERT_TRUE(ParseBank(initBytes, init, error)) << error;
        ASSERT_TRUE(ParseBank(torvikBytes, torvik, error)) << error;
    }
    Bytes initBytes, torvikBytes;
    ParsedBank init, torvik;
};

constexpr std::uint32_t kMaster = 0xE2B7BC37, kMusicBus = 0x9FCA9ECD, kSfxBus = 0x0CB96245;
constexpr std::uint32_t kMusicVolume = 0x7B5FA2EB, kSfxVolume = 0x01415798;

TEST_F(GameBanksTest, InitHoldsTheGameParametersAndBusses) {
    EXPECT_EQ(initBytes.size(), 328u);
    EXPECT_EQ(init.bankId, IdOfName("Init"));
    EXPECT_EQ(init.bankId, 0x50C63A23u);
    EXPECT_TRUE(Validate(init).empty()) << Validate(init).front();
    ASSERT_TRUE(init.settings);
    ASSERT_EQ(init.settings->gameParameters.size(), 2u);
    EXPECT_EQ(init.settings->gameParameters[0].id, kMusicVolume);
    EXPECT_EQ(init.settings->gameParameters[1].id, kSfxVolume);
    for (const GameParameter& p : init.settings->gameParameters) {
        EXPECT_EQ(p.defaultValue, 100.0f);
        EXPECT_EQ(p.builtIn, 0);
    }
    EXPECT_EQ(kMaster, IdOfName("Master Audio Bus"));
    EXPECT_EQ(kMusicBus, IdOfName("Music_Bus"));
    EXPECT_EQ(kSfxBus, IdOfName("SFX_Bus"));

    ASSERT_EQ(init.records.size(), 3u);
    const auto& master = std::get<BusRecord>(*init.records[0].record);
    EXPECT_EQ(master.id, kMaster);
    EXPECT_EQ(master.parent, 0u); // becomes the primary master bus
    const std::pair<std::uint32_t, std::uint32_t> children[] = {{kMusicBus, kMusicVolume},
                                                                {kSfxBus, kSfxVolume}};
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const auto& bus = std::get<BusRecord>(*init.records[i + 1].record);
        EXPECT_EQ(bus.id, children[i].first);
        EXPECT_EQ(bus.parent, kMaster);
        EXPECT_EQ(bus.flags3 & 1, 1); // mixes on its own, so its bus volume reaches the mixer
        ASSERT_EQ(bus.rtpcs.size(), 1u);
        const RtpcCurve& c = bus.rtpcs[0];
        EXPECT_EQ(c.gameParameter, children[i].second);
        EXPECT_EQ(c.target, 5); // bus volume
        // The slider's gain is proportional to its value: a line from -1 to 0 that scaling 2
        // turns into decibels, silent only at 0.
        EXPECT_EQ(c.scaling, 2);
        ASSERT_EQ(c.points.size(), 2u);
        EXPECT_EQ(c.points[0].x, 0.0f);
        EXPECT_EQ(c.points[0].y, -1.0f);
        EXPECT_EQ(c.points[1].x, 100.0f);
        EXPECT_EQ(c.points[1].y, 0.0f);
    }
}

TEST_F(GameBanksTest, TorvikHasAnEventForEveryIdTheGamePosts) {
    EXPECT_EQ(torvik.bankId, 0x47FD79D2u);
    EXPECT_TRUE(Validate(torvik, {&init}).empty()) << Validate(torvik, {&init}).front();
    EXPECT_FALSE(Validate(torvik).empty()); // it needs the busses of Init

    // Event -> (action type, target, is-bus); target 0 = everything.
    struct Expected {
        std::uint16_t type;
        std::uint32_t target;
        std::uint8_t isBus;
    };
    const std::map<std::uint32_t, Expected> expected = {
        {0xFF0B3D05, {0x0403, 0x1001, 0}},    {0xF9BB515D, {0x0403, 0x1002, 0}},
        {0x44A6CADC, {0x0403, 0x1003, 0}},    {0xE7746BD5, {0x0102, kMusicBus, 1}},
        {0x2C928473, {0x0403, 0x1004, 0}},    {0xF64FB20D, {0x0104, 0, 0}},
        {0x2F6C248F, {0x0403, 0x1006, 0}},    {0x63E09726, {0x0403, 0x1007, 0}},
        {0xE6517101, {0x0204, 0, 0}},         {0xDB54B788, {0x0304, 0, 0}},
        {0x9A5F2038, {0x0403, 0x1008, 0}},    {0xF5D36B26, {0x0102, 0x1008, 0}},
        {0x205DA04D, {0x0602, kMusicBus, 1}}, {0x3474117A, {0x0702, kMusicBus, 1}},
        {0x63C39CE1, {0x0602, kSfxBus, 1}},   {0x305775FC, {0x0702, kSfxBus, 1}},
    };
    size_t events = 0;
    for (const ParsedRecord& r : torvik.records) {
        if (r.type != 4) continue;
        ++events;
        SCOPED_TRACE(r.id);
        auto it = expected.find(r.id);
        ASSERT_NE(it, expected.end());
        const auto& event = std::get<EventRecord>(*r.record);
        ASSERT_EQ(event.actions.size(), 1u);
        const ParsedRecord* a = torvik.Find(3, event.actions[0]);
        ASSERT_NE(a, nullptr);
        const auto& action = std::get<ActionRecord>(*a->record);
        EXPECT_EQ(action.type, it->second.type);
        EXPECT_EQ(action.target, it->second.target);
        EXPECT_EQ(action.isBus, it->second.isBus);
        if (action.type == 0x0403) {
            EXPECT_EQ(action.bankId, torvik.bankId);
        }
    }
    EXPECT_EQ(events, expected.size());
}

// The menu music and the ambience are Vorbis packed by vorbispack from their 4 s scores; the
// clicks, the level and the credits music are PCM that mediagen renders from theirs.
TEST_F(GameBanksTest, TorvikSoundsPlayTheirMediaOnTheGameBusses) {
    std::map<std::uint32_t, const ParsedMedia*> media;
    for (const ParsedMedia& m : torvik.media)
        media[m.id] = &m;
    EXPECT_EQ(media.size(), 7u);
    struct Expected {
        std::uint32_t bus;
        std::uint32_t codec;
    };
    const std::map<std::uint32_t, Expected> expected = {
        {0x1001, {kSfxBus, kCodecPcm}},   {0x1002, {kSfxBus, kCodecPcm}},
        {0x1003, {kSfxBus, kCodecPcm}},   {0x1004, {kMusicBus, kCodecVorbis}},
        {0x1006, {kMusicBus, kCodecPcm}}, {0x1007, {kMusicBus, kCodecVorbis}},
        {0x1008, {kMusicBus, kCodecPcm}},
    };
    size_t sounds = 0;
    for (const ParsedRecord& r : torvik.records) {
        if (r.type != 2) continue;
        ++sounds;
        SCOPED_TRACE(r.id);
        const auto& s = std::get<SoundRecord>(*r.record);
        auto it = expected.find(s.id);
        ASSERT_NE(it, expected.end());
        EXPECT_EQ(s.node.outputBus, it->second.bus);
        EXPECT_EQ(s.source.plugin, it->second.codec);
        // In the bank's DATA: the game's streams have no automatic streams to play from yet.
        EXPECT_EQ(s.source.streamType, 0);
        ASSERT_EQ(media.count(s.source.sourceId), 1u);
        const ParsedMedia& m = *media[s.source.sourceId];
        EXPECT_EQ(s.source.fileOffset, torvik.dataOffset + m.offset);
        ASSERT_LE(s.source.fileOffset + m.size, torvikBytes.size());
        ByteReader wave(std::span<const std::uint8_t>(torvikBytes).subspan(s.source.fileOffset, m.size));
        EXPECT_EQ(wave.U32(), 0x46464952u); // "RIFF"
        EXPECT_EQ(wave.U32(), m.size - 8);
        wave.Take(8);
        const std::uint32_t fmtSize = wave.U32();
        if (it->second.codec == kCodecPcm) {
            // A whole extensible WAVE: "data" size + 68-byte header == media size.
            EXPECT_EQ(fmtSize, 40u);
            EXPECT_EQ(wave.U16(), 0xFFFE);
            EXPECT_EQ(wave.U16(), 1); // mono
            EXPECT_EQ(wave.U32(), 48000u);
            wave.Take(64 - 28);
            EXPECT_EQ(wave.U32(), m.size - 68);
        } else {
            // Codec 4's own format record, no loop region of its own (the whole media loops),
            // then "data": header 20 + 66 + 8 bytes.
            EXPECT_EQ(fmtSize, 66u);
            EXPECT_EQ(wave.U16(), 0xFFFF);
            EXPECT_EQ(wave.U16(), 1); // mono
            EXPECT_EQ(wave.U32(), 48000u);
            wave.Take(16);
            EXPECT_EQ(wave.U32(), 192000u); // samples: 4 s
            wave.Take(fmtSize - 28);
            EXPECT_EQ(wave.U32(), 0x61746164u); // "data"
            EXPECT_EQ(wave.U32(), m.size - 94);
        }
        // Music loops play until stopped: loop count property 58 = 0.
        bool loops = false;
        for (const Prop& p : s.node.props)
            loops |= p.id == 58 && p.bits == 0;
        EXPECT_EQ(loops, s.node.outputBus == kMusicBus);
    }
    EXPECT_EQ(sounds, expected.size());
}

struct DumpRun {
    int status = -1;
    std::vector<std::string> lines;
};

// bankdump on the run-time tree's banks, as a person runs it.
DumpRun BankDump(const std::string& arguments) {
    const std::string command = std::string(TORVIK_BANKDUMP) + " " + arguments + " 2>&1";
    DumpRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    std::string out;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe))
        out += buffer;
    const int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        run.lines.push_back(line);
    return run;
}

std::string BankPath(const char* name) {
    return std::string(TORVIK_SOUNDBANKS_DIR) + "/" + name;
}

// The line of the listing that starts with `start` (after its indent); empty when there is none.
std::string LineStarting(const DumpRun& run, const std::string& start) {
    for (const std::string& line : run.lines) {
        const size_t text = line.find_first_not_of(' ');
        if (text != std::string::npos && line.compare(text, start.size(), start) == 0) return line;
    }
    return {};
}

std::string Hex(std::uint32_t value, int digits = 8) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

TEST_F(GameBanksTest, BankDumpListsTorviksEventsWithTheirActionsAndAllMedia) {
    const DumpRun run = BankDump(BankPath("Torvik.bnk") + " --after " + BankPath("Init.bnk"));
    EXPECT_EQ(run.status, 0) << "after Init.bnk nothing keeps Torvik.bnk from loading";
    EXPECT_EQ(LineStarting(run, "problem:"), "");

    size_t media = 0;
    for (const ParsedMedia& m : torvik.media) {
        ++media;
        EXPECT_EQ(LineStarting(run, "Media id=" + Hex(m.id) + " "),
                  "  Media id=" + Hex(m.id) + " offset=" + std::to_string(m.offset) +
                      " size=" + std::to_string(m.size));
    }
    EXPECT_EQ(media, 7u);

    size_t events = 0;
    for (const ParsedRecord& r : torvik.records) {
        if (r.type != 4) continue;
        ++events;
        SCOPED_TRACE(Hex(r.id));
        const auto& event = std::get<EventRecord>(*r.record);
        const std::string eventLine = LineStarting(run, "Event id=" + Hex(r.id) + " ");
        ASSERT_NE(eventLine, "");
        std::string actions;
        for (std::uint32_t a : event.actions)
            actions += (actions.empty() ? "" : ",") + Hex(a);
        EXPECT_NE(eventLine.find("actions=[" + actions + "]"), std::string::npos) << eventLine;
        for (std::uint32_t a : event.actions) {
            const auto& action = std::get<ActionRecord>(*torvik.Find(3, a)->record);
            const std::string actionLine = LineStarting(run, "Action id=" + Hex(a) + " ");
            EXPECT_NE(actionLine.find(" type=" + Hex(action.type, 4) + " target=" + Hex(action.target) + " "),
                      std::string::npos)
                << actionLine;
        }
    }
    EXPECT_EQ(events, 16u);
}

TEST_F(GameBanksTest, BankDumpOfTorvikAloneNamesTheBussesItNeeds) {
    const DumpRun run = BankDump(BankPath("Torvik.bnk"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(LineStarting(run, "problem: Sound 0x00001001:"),
              "problem: Sound 0x00001001: output bus 0x0CB96245 is not loaded before it");
    EXPECT_EQ(LineStarting(run, "problem: Action 0x0000300D:"),
              "problem: Action 0x0000300D: target 0x9FCA9ECD is not loaded");
}

} // namespace
} // namespace bankgen
