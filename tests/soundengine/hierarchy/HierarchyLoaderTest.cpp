#include "BankMgrSupport.h"
#include "BankTestSupport.h"
#include "TestNodes.h"

#include "banks/AuBankChunks.h"
#include "banks/AuBankFileNames.h"
#include "banks/AuBankReader.h"
#include "core/AuThreads.h"
#include "hierarchy/AuAction.h"
#include "hierarchy/AuEvent.h"
#include "hierarchy/AuHierarchyLoader.h"

#include <AuLogCapture.h>

#include <gtest/gtest.h>

namespace {

using banktest::Bytes;
using banktest::RecordingSinks;
using nodetest::TestNode;

// Test classes for sounds (type 2) and busses (type 8) until theirs land: the sound reads its
// source record without interpreting it, then the common record; the bus takes its payload as
// read.
struct Reads {
    u32 fresh = 0;
    u32 again = 0;
} g_reads;

CAuIndexable* CreateSound(u32 id, const u8*, u32) {
    return TestNode::Make(id, AuNodeCategory_Sound);
}

AURESULT ReadSound(CAuIndexable& object, const u8* payload, u32 size, bool present) {
    ++(present ? g_reads.again : g_reads.fresh);
    AuRecordCursor cursor(payload, size);
    // ID, then a codec source record of 22 bytes.
    if (!cursor.Skip(4 + 22)) return AuResultBadHeader;
    const AURESULT result = static_cast<TestNode&>(object).SetNodeBaseParams(cursor, false);
    if (result != AuResultSuccess) return result;
    return cursor.Left() == 0 ? AuResultSuccess : AuResultBadHeader;
}

CAuIndexable* CreateBus(u32 id, const u8*, u32) {
    return TestNode::Make(id, AuNodeCategory_Bus);
}

AURESULT ReadBus(CAuIndexable&, const u8*, u32, bool present) {
    ++(present ? g_reads.again : g_reads.fresh);
    return AuResultSuccess;
}

bool Always(CAuIndexable&) {
    return true;
}

bankgen::SoundRecord Sound(u32 id) {
    bankgen::SoundRecord sound;
    sound.id = id;
    return sound;
}

bankgen::ActionRecord Play(u32 id, u32 target, u32 bank) {
    bankgen::ActionRecord action;
    action.id = id;
    action.type = AU_ACTION_PLAY;
    action.target = target;
    action.bankId = bank;
    return action;
}

class HierarchyLoaderTest : public banktest::BankTest {
protected:
    void SetUp() override {
        BankTest::SetUp();
        g_pIndex = &m_index;
        m_index.Init();
        nodetest::g_live = 0;
        g_reads = {};
        AuInstallCoreHierarchyLoaders();
        AuSetHierarchyLoader(AuHierarchyTypeSound,
                             {AuIndexNodes, &CreateSound, &ReadSound, &Always, nullptr});
        AuSetHierarchyLoader(AuHierarchyTypeBus, {AuIndexBusses, &CreateBus, &ReadBus, nullptr, nullptr});
    }
    void TearDown() override {
        for (AuBankObjectList& list : m_lists)
            AuReleaseBankObjects(list);
        AuSetHierarchyLoader(AuHierarchyTypeSound, {});
        AuSetHierarchyLoader(AuHierarchyTypeBus, {});
        AU::SoundEngine::SetBankExtensionReader(nullptr);
        EXPECT_EQ(nodetest::g_live.load(), 0);
        for (u32 table = 0; table < AuIndexTableCount; ++table)
            EXPECT_EQ(m_index.Table(AuIndexTableId(table)).Count(), 0u) << table;
        m_index.Term();
        g_pIndex = nullptr;
        EXPECT_EQ(Used(), m_usedAtStart);
        BankTest::TearDown();
    }
    static Bytes Build(u32 bankID, std::vector<bankgen::Record> records) {
        bankgen::BankBuilder builder(bankID);
        for (bankgen::Record& record : records)
            builder.Add(std::move(record));
        Bytes out;
        std::vector<std::string> errors;
        EXPECT_TRUE(builder.Build(out, errors)) << (errors.empty() ? "" : errors.front());
        return out;
    }
    // Reads the image as bank number `bank` (0 or 1) of the test.
    AURESULT Load(u32 bank, const Bytes& image) {
        CAuBankReader reader;
        reader.Init();
        reader.SetMemory(image.data(), static_cast<u32>(image.size()));
        RecordingSinks others;
        CAuHierarchyLoader loader;
        loader.BeginBank(&m_lists[bank], nullptr, 0xB0 + bank);
        CAuBankFileNames names;
        AuBankChunkSinks sinks = others.Sinks(&names);
        sinks.pHierarchy = &loader;
        AuBankHeader header;
        const AURESULT result = AuReadBank(reader, AuBankLoadModeLoad, false, sinks, header);
        names.Term();
        return result;
    }
    u32 Listed(u32 bank) const { return m_lists[bank].Count(); }

    CAuObjectIndex m_index;
    AuBankObjectList m_lists[2];
};

TEST_F(HierarchyLoaderTest, EveryObjectOfABankIsIndexedAndListedAndGoesWithTheBank) {
    bankgen::BusRecord bus;
    bus.id = 0x100;
    bankgen::SoundRecord sound = Sound(0x200);
    sound.node.outputBus = 0x100;
    const Bytes image =
        Build(0xB0, {bus, sound, Play(0x300, 0x200, 0xB0), bankgen::EventRecord{0x400, {0x300}}});
    ASSERT_EQ(Load(0, image), AuResultSuccess);
    EXPECT_EQ(Listed(0), 4u);
    EXPECT_EQ(m_index.Table(AuIndexBusses).Count(), 1u);
    EXPECT_EQ(m_index.Table(AuIndexNodes).Count(), 1u);
    EXPECT_EQ(m_index.Table(AuIndexActions).Count(), 1u);
    EXPECT_EQ(m_index.Table(AuIndexEvents).Count(), 1u);
    auto* event = static_cast<CAuEvent*>(m_index.GetPtrAndAddRef(AuIndexEvents, 0x400));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->ForEachPlayTarget(nullptr, nullptr, 0, 0, 0), AuResultSuccess);
    event->Release();
    auto* node = static_cast<TestNode*>(m_index.GetNodePtrAndAddRef(0x200, false));
    EXPECT_EQ(node->notified, 1);
    EXPECT_EQ(node->Bus()->key, 0x100u);
    node->Release();
    // The teardown releases the list: every table empty, nothing alive, the pool as it was.
}

TEST_F(HierarchyLoaderTest, ContainersAndGroupingNodesAreBuiltOverTheChildrenBeforeThem) {
    bankgen::RandomSequenceRecord container;
    container.id = 0x300;
    container.children = {0x200};
    container.playlist = {{0x200, 50000}};
    const Bytes image = Build(
        0xB0, {Sound(0x200), Sound(0x201), container, bankgen::GroupingRecord{0x400, {}, {0x300, 0x201}}});
    ASSERT_EQ(Load(0, image), AuResultSuccess);
    EXPECT_EQ(Listed(0), 4u);
    EXPECT_EQ(m_index.Table(AuIndexNodes).Count(), 4u);
    auto* group = static_cast<CAuNodeBase*>(m_index.GetNodePtrAndAddRef(0x400, false));
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->Category(), AuNodeCategory_Grouping);
    for (u32 id : {0x200u, 0x201u, 0x300u}) {
        auto* node = static_cast<CAuNodeBase*>(m_index.GetNodePtrAndAddRef(id, false));
        ASSERT_NE(node, nullptr) << id;
        EXPECT_EQ(node->Parent()->key, id == 0x200 ? 0x300u : 0x400u) << id;
        node->Release();
    }
    group->Release();
}

TEST_F(HierarchyLoaderTest, ObjectsSharedByTwoBanksAreMadeOnceAndListedTwice) {
    bankgen::BusRecord bus;
    bus.id = 0x100;
    ASSERT_EQ(Load(0, Build(0xB0, {bus, Sound(1234)})), AuResultSuccess);
    ASSERT_EQ(Load(1, Build(0xB1, {bus, Sound(1234)})), AuResultSuccess);
    EXPECT_EQ(g_reads.fresh, 2u) << "one sound and one bus made";
    EXPECT_EQ(g_reads.again, 1u) << "the sound is read again, the bus kept";
    EXPECT_EQ(m_index.Table(AuIndexNodes).Count(), 1u);
    auto* sound = m_index.GetNodePtrAndAddRef(1234, false);
    EXPECT_EQ(sound->m_lRef, 3u) << "one reference per bank, and the lookup's";
    sound->Release();
    AuReleaseBankObjects(m_lists[0]);
    EXPECT_EQ(m_index.Table(AuIndexNodes).Count(), 1u) << "the second bank still holds it";
}

TEST_F(HierarchyLoaderTest, APlayActionIsReadAgainOnlyUntilItKnowsItsBank) {
    CAuAction* early = CreateActionByType(AU_ACTION_PLAY, 0x300);
    ASSERT_EQ(Load(0, Build(0xB0, {Play(0x300, 0x200, 0xB0)})), AuResultSuccess);
    EXPECT_EQ(static_cast<CAuActionPlay*>(early)->BankID(), 0xB0u);
    ASSERT_EQ(Load(1, Build(0xB1, {Play(0x300, 0x200, 0xB1)})), AuResultSuccess);
    EXPECT_EQ(static_cast<CAuActionPlay*>(early)->BankID(), 0xB0u) << "the first bank decides";
    EXPECT_EQ(early->m_lRef, 3u);
    early->Release();
}

// A HIRC chunk of hand-made records: {type, payload}.
Bytes RawHierarchy(std::vector<std::pair<u8, Bytes>> records) {
    Bytes payload = banktest::U32s({static_cast<u32>(records.size())});
    for (auto& [type, bytes] : records) {
        payload.push_back(type);
        const Bytes size = banktest::U32s({static_cast<u32>(bytes.size())});
        payload.insert(payload.end(), size.begin(), size.end());
        payload.insert(payload.end(), bytes.begin(), bytes.end());
    }
    return banktest::Concat({banktest::Header(), banktest::Chunk("HIRC", payload)});
}

std::vector<Bytes> g_extensionRecords;

// The engine's reader, as the music engine installs it: 1 for type 11, 3 for type 23, 52 else.
AURESULT ExtensionReader(const u8* record, CAuLoadedBank*, u32 bankID) {
    const u32 size = u32(record[1]) | u32(record[2]) << 8 | u32(record[3]) << 16 | u32(record[4]) << 24;
    g_extensionRecords.emplace_back(record, record + AU_BANK_RECORD_HEADER_SIZE + size);
    EXPECT_EQ(bankID, 0xB0u);
    return record[0] == 11 ? AuResultSuccess : record[0] == 23 ? AuResultTypeNotHandled : AuResultNoMemory;
}

TEST_F(HierarchyLoaderTest, TheExtensionReaderGetsEachOtherRecordWholeAndItsAnswerDecides) {
    AU::SoundEngine::SetBankExtensionReader(&ExtensionReader);
    bankgen::EncodeContext ctx;
    const Bytes action = bankgen::EncodePayload(Play(0x300, 0x200, 0xB0), ctx);
    struct Case {
        u8 type;
        AURESULT expected;
        u32 listed; // the action after it
    };
    for (const Case c :
         {Case{11, AuResultSuccess, 1}, Case{23, AuResultTypeNotHandled, 0}, Case{12, AuResultNoMemory, 0}}) {
        g_extensionRecords.clear();
        EXPECT_EQ(Load(0, RawHierarchy({{c.type, banktest::U32s({7, 8})}, {AuHierarchyTypeAction, action}})),
                  c.expected)
            << int(c.type);
        EXPECT_EQ(Listed(0), c.listed) << int(c.type);
        ASSERT_EQ(g_extensionRecords.size(), 1u) << int(c.type);
        EXPECT_EQ(g_extensionRecords[0], banktest::Concat({{c.type, 8, 0, 0, 0}, banktest::U32s({7, 8})}));
        AuReleaseBankObjects(m_lists[0]);
    }
}

TEST_F(HierarchyLoaderTest, RecordsThatCannotBeBuiltFailTheLoadAndLeaveNothingBehind) {
    struct Case {
        const char* name;
        std::pair<u8, Bytes> record;
        AURESULT expected;
    };
    Bytes shortEvent = banktest::U32s({0x400, 2, 0x300}); // two actions claimed, one given
    Bytes unknownKind = banktest::U32s({0x301});
    for (u8 b : {0x02, 0x15, 0, 0, 0, 0, 0, 0, 0})
        unknownKind.push_back(b);
    const Case cases[] = {
        {"event shorter than its count", {AuHierarchyTypeEvent, shortEvent}, AuResultBadHeader},
        {"action of an unknown kind", {AuHierarchyTypeAction, unknownKind}, AuResultFail},
        {"a type whose class is not built",
         {AuHierarchyTypeDialogueEvent, banktest::U32s({0x500, 0})},
         AuResultTypeNotHandled},
    };
    for (const Case& c : cases) {
        AuLogCapture log;
        EXPECT_EQ(Load(0, RawHierarchy({c.record})), c.expected) << c.name;
        EXPECT_EQ(Listed(0), 0u) << c.name;
        EXPECT_FALSE(log.Text().empty()) << c.name;
    }
    // A sound record cut inside its common part fails in the object's reader; the half-built
    // node goes.
    bankgen::EncodeContext ctx;
    const Bytes sound = bankgen::EncodePayload(Sound(0x200), ctx);
    ASSERT_GT(sound.size(), 3u);
    const Bytes cut(sound.begin(), sound.end() - 3);
    EXPECT_EQ(Load(0, RawHierarchy({{AuHierarchyTypeSound, cut}})), AuResultBadHeader);
    EXPECT_EQ(m_index.Table(AuIndexNodes).Count(), 0u);
}

// Through the bank manager: a load lists the objects in the bank's record, an unload releases
// them, and a failed load leaves none behind.
class BankHierarchyTest : public banktest::BankMgrTest {
protected:
    void SetUp() override {
        BankMgrTest::SetUp();
        g_pIndex = &m_index;
        m_index.Init();
        AuInstallCoreHierarchyLoaders();
        Start(false);
        m_mgr->SetChunkSinks(&m_sinks, &m_sinks, &m_loader);
    }
    void TearDown() override {
        Stop();
        for (u32 table = 0; table < AuIndexTableCount; ++table)
            EXPECT_EQ(m_index.Table(AuIndexTableId(table)).Count(), 0u) << table;
        m_index.Term();
        g_pIndex = nullptr;
        BankMgrTest::TearDown();
    }
    CAuObjectIndex m_index;
    CAuHierarchyLoader m_loader;
};

TEST_F(BankHierarchyTest, UnloadingABankReleasesItsObjects) {
    bankgen::BankBuilder builder(0xB0);
    builder.Add(Play(0x300, 0x200, 0xB0));
    builder.Add(bankgen::EventRecord{0x400, {0x300}});
    Bytes image;
    std::vector<std::string> errors;
    ASSERT_TRUE(builder.Build(image, errors));
    AuBankID id = 0;
    ASSERT_EQ(AU::SoundEngine::LoadBank(image.data(), static_cast<u32>(image.size()), g_DefaultPoolId, id),
              AuResultSuccess);
    EXPECT_EQ(m_index.Table(AuIndexActions).Count(), 1u);
    EXPECT_EQ(m_index.Table(AuIndexEvents).Count(), 1u);
    ASSERT_EQ(AU::SoundEngine::UnloadBank(id, nullptr), AuResultSuccess);
    Flush();
    EXPECT_EQ(m_index.Table(AuIndexActions).Count(), 0u);
    EXPECT_EQ(m_index.Table(AuIndexEvents).Count(), 0u);
}

TEST_F(BankHierarchyTest, TheManagersEndReleasesTheObjectsOfBanksStillLoaded) {
    bankgen::BankBuilder builder(0xB2);
    builder.Add(Play(0x300, 0x200, 0xB2));
    Bytes image;
    std::vector<std::string> errors;
    ASSERT_TRUE(builder.Build(image, errors));
    AuBankID id = 0;
    ASSERT_EQ(AU::SoundEngine::LoadBank(image.data(), static_cast<u32>(image.size()), g_DefaultPoolId, id),
              AuResultSuccess);
    Stop();
    EXPECT_EQ(m_index.Table(AuIndexActions).Count(), 0u);
}

TEST_F(BankHierarchyTest, AFailedLoadReleasesWhatItHadRead) {
    // The action is read, then the event names one that is not there (2).
    bankgen::BankBuilder builder(0xB1);
    builder.Add(Play(0x300, 0x200, 0xB1));
    Bytes image;
    std::vector<std::string> errors;
    ASSERT_TRUE(builder.Build(image, errors));
    const Bytes event = banktest::U32s({0x400, 1, 0x999});
    Bytes hirc = banktest::U32s({1});
    hirc.push_back(AuHierarchyTypeEvent);
    const Bytes size = banktest::U32s({static_cast<u32>(event.size())});
    hirc.insert(hirc.end(), size.begin(), size.end());
    hirc.insert(hirc.end(), event.begin(), event.end());
    image = banktest::Concat({image, banktest::Chunk("HIRC", hirc)});
    AuBankID id = 0;
    EXPECT_EQ(AU::SoundEngine::LoadBank(image.data(), static_cast<u32>(image.size()), g_DefaultPoolId, id),
              AuResultFail);
    EXPECT_EQ(m_index.Table(AuIndexActions).Count(), 0u);
    EXPECT_EQ(m_index.Table(AuIndexEvents).Count(), 0u);
}

// Preparations read the hierarchy as loads do; the record holds its objects until its last use.
class PreparedHierarchyTest : public BankHierarchyTest {
protected:
    static Bytes GoodBank(u32 id) {
        bankgen::BankBuilder builder(id);
        builder.Add(Play(0x300, 0x200, id));
        builder.Add(bankgen::EventRecord{0x400, {0x300}});
        Bytes image;
        std::vector<std::string> errors;
        EXPECT_TRUE(builder.Build(image, errors));
        return image;
    }
    // The good bank with an event after it that names an action no bank has (2).
    static Bytes BadBank(u32 id) {
        const Bytes event = banktest::U32s({0x401, 1, 0x999});
        Bytes hirc = banktest::U32s({1});
        hirc.push_back(AuHierarchyTypeEvent);
        const Bytes size = banktest::U32s({static_cast<u32>(event.size())});
        hirc.insert(hirc.end(), size.begin(), size.end());
        hirc.insert(hirc.end(), event.begin(), event.end());
        return banktest::Concat({GoodBank(id), banktest::Chunk("HIRC", hirc)});
    }
    u32 Listed(u32 bankID) {
        CAuLoadedBank* bank = m_mgr->FindBank(bankID, nullptr);
        return bank ? bank->objects.Count() : 0;
    }
    u32 Indexed() { return m_index.Table(AuIndexActions).Count() + m_index.Table(AuIndexEvents).Count(); }

    banktest::FakeStreamMgr m_streams;
};

TEST_F(PreparedHierarchyTest, APreparedBanksObjectsStayUntilItsLastPreparationGoes) {
    m_streams.file = GoodBank(0xB3);
    ASSERT_EQ(AU::SoundEngine::PrepareBank(AuPreparation_Load, 0xB3u, AuBankContent_StructureOnly),
              AuResultSuccess);
    EXPECT_EQ(Indexed(), 2u);
    EXPECT_EQ(Listed(0xB3), 2u);
    // Counted only: nothing is read.
    ASSERT_EQ(AU::SoundEngine::PrepareBank(AuPreparation_Load, 0xB3u, AuBankContent_StructureOnly),
              AuResultSuccess);
    EXPECT_EQ(Listed(0xB3), 2u);
    // The media of a structure-only record: the bank is read again and lists its objects once more.
    ASSERT_EQ(AU::SoundEngine::PrepareBank(AuPreparation_Load, 0xB3u, AuBankContent_All), AuResultSuccess);
    EXPECT_EQ(Listed(0xB3), 4u);
    EXPECT_EQ(Indexed(), 2u) << "found, not made again";
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(AU::SoundEngine::PrepareBank(AuPreparation_Unload, 0xB3u), AuResultSuccess);
        EXPECT_EQ(Indexed(), 2u) << i;
    }
    ASSERT_EQ(AU::SoundEngine::PrepareBank(AuPreparation_Unload, 0xB3u), AuResultSuccess);
    EXPECT_EQ(Indexed(), 0u);
    EXPECT_EQ(m_mgr->BankCount(), 0u);
}

TEST_F(PreparedHierarchyTest, AFailedReadGivesBackWhatItListedAndKeepsWhatTheRecordHeld) {
    m_streams.file = GoodBank(0xB3);
    ASSERT_EQ(AU::SoundEngine::PrepareBank(AuPreparation_Load, 0xB3u, AuBankContent_StructureOnly),
              AuResultSuccess);
    m_streams.file = BadBank(0xB3);
    EXPECT_EQ(AU::SoundEngine::PrepareBank(AuPreparation_Load, 0xB3u, AuBankContent_All), AuResultFail);
    EXPECT_EQ(Listed(0xB3), 2u) << "the first preparation's objects";
    auto* action = m_index.GetPtrAndAddRef(AuIndexActions, 0x300);
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->m_lRef, 3u) << "the list's, the event's and the lookup's";
    action->Release();
    // A load of the same bank fails alike and leaves the preparation as it was.
    EXPECT_EQ(AU::SoundEngine::LoadBank(0xB3u, g_DefaultPoolId), AuResultFail);
    EXPECT_EQ(Listed(0xB3), 2u);
    // A new record that fails goes whole.
    EXPECT_EQ(AU::SoundEngine::PrepareBank(AuPreparation_Load, 0xB4u, AuBankContent_StructureOnly),
              AuResultFail);
    EXPECT_EQ(m_mgr->BankCount(), 1u);
    EXPECT_EQ(m_index.Table(AuIndexEvents).Count(), 1u);
    ASSERT_EQ(AU::SoundEngine::PrepareBank(AuPreparation_Unload, 0xB3u), AuResultSuccess);
    EXPECT_EQ(Indexed(), 0u);
    EXPECT_EQ(m_mgr->BankCount(), 0u);
}

// Events prepared through the engine's walk of the event table: the bank each play action names
// is prepared (its hierarchy read), then the action's target, looked up in that bank's objects.
class EventPreparationTest : public PreparedHierarchyTest {
protected:
    void SetUp() override {
        PreparedHierarchyTest::SetUp();
        nodetest::g_live = 0;
        AuSetHierarchyLoader(AuHierarchyTypeSound,
                             {AuIndexNodes, &CreateSound, &ReadSound, nullptr, nullptr});
        m_mgr->SetEventPreparation(&m_events);
        // The event's own bank, in memory: a stop action, then a play action whose sound lies in
        // bank 0xB4, which only preparation reads.
        bankgen::BankBuilder builder(0xB3);
        bankgen::ActionRecord stop;
        stop.id = 0x301;
        stop.type = 0x0102;
        stop.target = 0x200;
        builder.Add(stop);
        builder.Add(Play(0x300, 0x200, 0xB4));
        builder.Add(bankgen::EventRecord{0x400, {0x301, 0x300}});
        std::vector<std::string> errors;
        ASSERT_TRUE(builder.Build(m_eventBank, errors));
        AuBankID id = 0;
        ASSERT_EQ(AU::SoundEngine::LoadBank(m_eventBank.data(), static_cast<u32>(m_eventBank.size()),
                                            g_DefaultPoolId, id),
                  AuResultSuccess);
    }
    void TearDown() override {
        PreparedHierarchyTest::TearDown();
        AuSetHierarchyLoader(AuHierarchyTypeSound, {});
        EXPECT_EQ(nodetest::g_live.load(), 0);
    }
    static AURESULT Prepare(AuPreparationType type) {
        const AuUniqueID event = 0x400;
        return AU::SoundEngine::PrepareEvent(type, &event, 1);
    }

    CAuEventPreparation m_events;
    Bytes m_eventBank;
};

TEST_F(EventPreparationTest, APlayActionsBankIsReadForItsTargetAndGoesWithTheLastPreparation) {
    bankgen::BankBuilder sounds(0xB4);
    sounds.Add(Sound(0x200));
    std::vector<std::string> errors;
    ASSERT_TRUE(sounds.Build(m_streams.file, errors));
    ASSERT_EQ(Prepare(AuPreparation_Load), AuResultSuccess);
    ASSERT_EQ(Prepare(AuPreparation_Load), AuResultSuccess);
    EXPECT_EQ(m_mgr->BankCount(), 2u);
    EXPECT_EQ(Listed(0xB4), 1u);
    auto* event = static_cast<CAuEvent*>(m_index.GetPtrAndAddRef(AuIndexEvents, 0x400));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->Preparations(), 2u);
    event->Release();
    auto* sound = static_cast<TestNode*>(m_index.GetNodePtrAndAddRef(0x200, false));
    ASSERT_NE(sound, nullptr);
    ASSERT_EQ(Prepare(AuPreparation_Unload), AuResultSuccess);
    EXPECT_EQ(sound->unprepared, 0) << "one preparation is left";
    ASSERT_EQ(Prepare(AuPreparation_Unload), AuResultSuccess);
    EXPECT_EQ(sound->unprepared, 1);
    EXPECT_EQ(sound->m_lRef, 1u) << "only this test's reference: the bank's went with it";
    EXPECT_EQ(m_mgr->BankCount(), 1u);
    sound->Release();
    EXPECT_EQ(m_index.Table(AuIndexNodes).Count(), 0u);
}

TEST_F(EventPreparationTest, ATargetItsBankDoesNotHoldGives15AndUndoesTheBank) {
    bankgen::BankBuilder sounds(0xB4);
    sounds.Add(Sound(0x201));
    std::vector<std::string> errors;
    ASSERT_TRUE(sounds.Build(m_streams.file, errors));
    EXPECT_EQ(Prepare(AuPreparation_Load), AuResultIDNotFound);
    EXPECT_EQ(m_mgr->BankCount(), 1u) << "bank 0xB4 prepared and dropped again";
    EXPECT_EQ(m_index.Table(AuIndexNodes).Count(), 0u);
    // Term clears what is still prepared: prepare once for real, then stop the manager.
    m_streams.file.clear();
    bankgen::BankBuilder fixed(0xB4);
    fixed.Add(Sound(0x200));
    ASSERT_TRUE(fixed.Build(m_streams.file, errors));
    ASSERT_EQ(Prepare(AuPreparation_Load), AuResultSuccess);
    Stop();
    EXPECT_EQ(m_index.Table(AuIndexNodes).Count(), 0u);
    EXPECT_EQ(m_index.Table(AuIndexEvents).Count(), 0u);
}

} // namespace
