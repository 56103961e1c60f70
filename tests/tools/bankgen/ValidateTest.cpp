#include <bankgen/Bank.h>
#include <bankgen/Parse.h>

#include <gtest/gtest.h>

#include <functional>

namespace bankgen {
namespace {

BusRecord Bus(std::uint32_t id, std::uint32_t parent = 0) {
    BusRecord b;
    b.id = id;
    b.parent = parent;
    return b;
}

SoundRecord Sound(std::uint32_t id, std::uint32_t bus, std::uint32_t parent = 0) {
    SoundRecord s;
    s.id = id;
    s.source.plugin = 0; // no media: the checks below are about the hierarchy
    s.node.outputBus = bus;
    s.node.parent = parent;
    return s;
}

NodeCommon OnBus(std::uint32_t bus) {
    NodeCommon n;
    n.outputBus = bus;
    return n;
}

ActionRecord Play(std::uint32_t id, std::uint32_t target) {
    ActionRecord a;
    a.id = id;
    a.target = target;
    a.bankId = 0x77;
    return a;
}

ParsedBank Parse(const BankBuilder& b) {
    Bytes bytes;
    std::vector<std::string> errors;
    EXPECT_TRUE(b.Build(bytes, errors)) << (errors.empty() ? "" : errors.front());
    ParsedBank bank;
    std::string error;
    EXPECT_TRUE(ParseBank(bytes, bank, error)) << error;
    return bank;
}

struct Case {
    const char* name;
    std::function<void(BankBuilder&)> records;
    const char* expected; // part of the first problem; nullptr = the bank is fine
};

TEST(ValidateTest, LoadingRules) {
    const Case cases[] = {
        {"busses top-down, then a sound, its action and event",
         [](BankBuilder& b) {
             b.Add(Bus(1));
             b.Add(Bus(2, 1));
             b.Add(Sound(10, 2));
             b.Add(Play(100, 10));
             b.Add(EventRecord{1000, {100}});
         },
         nullptr},
        {"child bus before its parent",
         [](BankBuilder& b) {
             b.Add(Bus(2, 1));
             b.Add(Bus(1));
         },
         "parent bus 0x00000001"},
        {"node on an unknown bus", [](BankBuilder& b) { b.Add(Sound(10, 5)); }, "output bus 0x00000005"},
        {"container before its child",
         [](BankBuilder& b) {
             b.Add(Bus(1));
             b.Add(GroupingRecord{20, OnBus(1), {10}});
             b.Add(Sound(10, 0));
         },
         "child 0x0000000A is not loaded"},
        {"child listed by two containers",
         [](BankBuilder& b) {
             b.Add(Bus(1));
             b.Add(Sound(10, 0));
             b.Add(GroupingRecord{20, OnBus(1), {10}});
             b.Add(GroupingRecord{21, OnBus(1), {10}});
         },
         "already has a parent"},
        {"child that linked itself to an existing parent, listed by another container",
         [](BankBuilder& b) {
             b.Add(Bus(1));
             b.Add(Sound(11, 0));
             b.Add(GroupingRecord{20, OnBus(1), {11}});
             b.Add(Sound(10, 0, 20));
             b.Add(GroupingRecord{21, OnBus(1), {10}});
         },
         "already has a parent"},
        {"event before its action",
         [](BankBuilder& b) {
             b.Add(Bus(1));
             b.Add(Sound(10, 1));
             b.Add(EventRecord{1000, {100}});
             b.Add(Play(100, 10));
         },
         "action 0x00000064 is not loaded before the event"},
        {"one action in two events",
         [](BankBuilder& b) {
             b.Add(Bus(1));
             b.Add(Sound(10, 1));
             b.Add(Play(100, 10));
             b.Add(EventRecord{1000, {100}});
             b.Add(EventRecord{1001, {100}});
         },
         "listed by another event or twice"},
        {"one action twice in an event",
         [](BankBuilder& b) {
             b.Add(Bus(1));
             b.Add(Sound(10, 1));
             b.Add(Play(100, 10));
             b.Add(EventRecord{1000, {100, 100}});
         },
         "listed by another event or twice"},
        {"play action on a missing node", [](BankBuilder& b) { b.Add(Play(100, 10)); }, "target 0x0000000A"},
        {"state object linked before it exists",
         [](BankBuilder& b) {
             b.Add(Bus(1));
             SoundRecord s = Sound(10, 1);
             s.node.stateGroups = {StateGroupLink{5, 0, {{6, 7}}}};
             b.Add(s);
         },
         "state object 0x00000007"},
        {"same ID twice in one table",
         [](BankBuilder& b) {
             b.Add(Bus(1));
             b.Add(Bus(1));
         },
         "already loaded"},
        {"a bus and a node may share an ID",
         [](BankBuilder& b) {
             b.Add(Bus(1));
             b.Add(Sound(1, 1));
         },
         nullptr},
        {"node ID with the top bit",
         [](BankBuilder& b) {
             b.Add(Bus(1));
             b.Add(Sound(0x80000001, 1));
         },
         "top bit"},
        {"repeated child in a random playlist",
         [](BankBuilder& b) {
             b.Add(Bus(1));
             b.Add(Sound(10, 0));
             RandomSequenceRecord r;
             r.id = 20;
             r.node.outputBus = 1;
             r.playlistMode = 0;
             r.children = {10};
             r.playlist = {{10, kUnweighted}, {10, kUnweighted}};
             b.Add(r);
         },
         "repeated in a random playlist"},
        {"repeated child in a sequence is fine",
         [](BankBuilder& b) {
             b.Add(Bus(1));
             b.Add(Sound(10, 0));
             RandomSequenceRecord r;
             r.id = 20;
             r.node.outputBus = 1;
             r.children = {10};
             r.playlist = {{10, kUnweighted}, {10, kUnweighted}};
             b.Add(r);
         },
         nullptr},
        {"duplicate child in a switch package",
         [](BankBuilder& b) {
             b.Add(Bus(1));
             b.Add(Sound(10, 0));
             SwitchRecord s;
             s.id = 20;
             s.node.outputBus = 1;
             s.children = {10};
             s.packages = {{1, {10, 10}}};
             b.Add(s);
         },
         "twice in one package"},
        {"switch on group type 2",
         [](BankBuilder& b) {
             SwitchRecord s;
             s.id = 20;
             s.groupType = 2;
             b.Add(s);
         },
         "group type"},
        {"in-memory sound whose media is nowhere",
         [](BankBuilder& b) {
             b.Add(Bus(1));
             SoundRecord s = Sound(10, 1);
             s.source.plugin = kCodecPcm;
             s.source.sourceId = 0x2001;
             b.Add(s);
         },
         "media 0x00002001 is in no loaded bank"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BankBuilder b(0x77);
        c.records(b);
        const std::vector<std::string> problems = Validate(Parse(b));
        if (!c.expected) {
            EXPECT_TRUE(problems.empty()) << problems.front();
        } else {
            ASSERT_FALSE(problems.empty());
            EXPECT_NE(problems.front().find(c.expected), std::string::npos) << problems.front();
        }
    }
}

TEST(ValidateTest, EarlierBanksProvideBussesMediaAndActions) {
    BankBuilder init(1);
    init.Add(Bus(1));
    init.AddMedia(0x2001, Bytes(16, 1));
    init.Add(Sound(10, 1));
    init.Add(Play(100, 10));
    init.Add(EventRecord{1000, {100}});
    const ParsedBank first = Parse(init);
    ASSERT_TRUE(Validate(first).empty());

    BankBuilder later(2);
    later.Add(Sound(11, 1));
    SoundRecord usesEarlierMedia = Sound(12, 1);
    usesEarlierMedia.source.plugin = kCodecPcm;
    usesEarlierMedia.source.sourceId = 0x2001;
    later.Add(usesEarlierMedia);
    later.Add(Play(101, 10));
    later.Add(EventRecord{1001, {101}});
    const ParsedBank second = Parse(later);
    EXPECT_FALSE(Validate(second).empty());
    EXPECT_TRUE(Validate(second, {&first}).empty()) << Validate(second, {&first}).front();

    BankBuilder reuse(3);
    reuse.Add(Play(102, 10));
    reuse.Add(EventRecord{1002, {100}}); // action 100 is listed by bank 1's event already
    const std::vector<std::string> problems = Validate(Parse(reuse), {&first});
    ASSERT_FALSE(problems.empty());
    EXPECT_NE(problems.front().find("listed by another event"), std::string::npos) << problems.front();
}

TEST(ValidateTest, ChunkLevelRules) {
    struct ChunkCase {
        const char* name;
        std::function<Bytes()> image;
        const char* expected;
    };
    auto header = [](std::uint32_t version) {
        Bytes payload = EncodeHeaderPayload(9, 0, false);
        ByteWriter(payload).PatchU32(0, version);
        return EncodeChunk("BKHD", payload);
    };
    auto append = [](Bytes b, const Bytes& chunk) {
        b.insert(b.end(), chunk.begin(), chunk.end());
        return b;
    };
    auto didx = [](std::uint32_t id, std::uint32_t offset, std::uint32_t size) {
        Bytes p;
        ByteWriter w(p);
        w.U32(id);
        w.U32(offset);
        w.U32(size);
        return EncodeChunk("DIDX", p);
    };
    const ChunkCase cases[] = {
        {"version 111", [&] { return header(111); }, "bank version 111"},
        {"version 113", [&] { return header(113); }, "bank version 113"},
        {"media past DATA",
         [&] { return append(append(header(112), didx(5, 8, 9)), EncodeChunk("DATA", Bytes(16))); },
         "lies outside DATA"},
        {"media with huge offset",
         [&] {
             return append(append(header(112), didx(5, 0xFFFFFFF0u, 0x20)), EncodeChunk("DATA", Bytes(16)));
         },
         "lies outside DATA"},
        {"DATA before DIDX",
         [&] { return append(append(header(112), EncodeChunk("DATA", Bytes(16))), didx(5, 0, 4)); },
         "DATA comes before DIDX"},
        {"empty DATA", [&] { return append(append(header(112), didx(5, 0, 0)), EncodeChunk("DATA", {})); },
         "DATA is empty"},
        {"media indexed twice",
         [&] {
             Bytes p;
             ByteWriter w(p);
             for (int i = 0; i < 2; ++i) {
                 w.U32(5);
                 w.U32(0);
                 w.U32(4);
             }
             return append(append(header(112), EncodeChunk("DIDX", p)), EncodeChunk("DATA", Bytes(16)));
         },
         "indexed twice"},
        {"undefined record type",
         [&] {
             Bytes p;
             ByteWriter w(p);
             w.U32(1);
             w.U8(23);
             w.U32(4);
             w.U32(0x55);
             return append(header(112), EncodeChunk("HIRC", p));
         },
         "fails the load"},
        {"extra-owner flag set", [&] { return EncodeChunk("BKHD", EncodeHeaderPayload(9, 0, true)); },
         "extra-owner"},
    };
    for (const ChunkCase& c : cases) {
        SCOPED_TRACE(c.name);
        ParsedBank bank;
        std::string error;
        ASSERT_TRUE(ParseBank(c.image(), bank, error)) << error;
        const std::vector<std::string> problems = Validate(bank);
        ASSERT_FALSE(problems.empty());
        EXPECT_NE(problems.front().find(c.expected), std::string::npos) << problems.front();
    }
}

} // namespace
} // namespace bankgen
