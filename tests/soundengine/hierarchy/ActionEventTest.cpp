#include "TestNodes.h"

#include "core/AuObjectIndex.h"
#include "hierarchy/AuAction.h"
#include "hierarchy/AuEvent.h"

#include <AuDefaultPoolTest.h>
#include <bankgen/Records.h>
#include <win32_testing.h>

#include <gtest/gtest.h>

#include <set>

namespace {

using nodetest::TestNode;

bankgen::ActionRecord Action(u32 id, u16 type, u32 target = 0, u8 isBus = 0) {
    bankgen::ActionRecord record;
    record.id = id;
    record.type = type;
    record.target = target;
    record.isBus = isBus;
    return record;
}

class ActionEventTest : public AuDefaultPoolTest {
protected:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        g_pIndex = &m_index;
        m_index.Init();
        win32test::ResetRandScript();
    }
    void TearDown() override {
        win32test::ResetRandScript();
        for (u32 table = 0; table < AuIndexTableCount; ++table)
            EXPECT_EQ(m_index.Table(AuIndexTableId(table)).Count(), 0u) << table;
        m_index.Term();
        g_pIndex = nullptr;
        EXPECT_EQ(Used(), m_usedAtStart);
        AuDefaultPoolTest::TearDown();
    }
    static bankgen::Bytes Payload(const bankgen::Record& record) {
        bankgen::EncodeContext ctx;
        bankgen::Bytes bytes = bankgen::EncodePayload(record, ctx);
        EXPECT_TRUE(ctx.errors.empty()) << (ctx.errors.empty() ? "" : ctx.errors.front());
        return bytes;
    }
    // Made by the factory and read as the loader does; null (and nothing kept) on failure.
    static CAuAction* Load(const bankgen::ActionRecord& record, AURESULT expected = AuResultSuccess) {
        const bankgen::Bytes bytes = Payload(record);
        CAuAction* action = CreateActionByType(record.type, record.id);
        if (!action) return nullptr;
        AuRecordCursor cursor(bytes.data(), static_cast<u32>(bytes.size()));
        EXPECT_EQ(action->SetInitialValues(cursor), expected) << std::hex << record.type;
        if (expected != AuResultSuccess) {
            action->Release();
            return nullptr;
        }
        EXPECT_EQ(cursor.Left(), 0u) << "every byte read, type " << std::hex << record.type;
        return action;
    }
    static void Script(std::initializer_list<int> values) {
        win32test::ScriptRand(values.begin(), values.size());
    }
    CAuObjectIndex m_index;
};

TEST_F(ActionEventTest, TheFactoryMakesTheClassOfEveryHighByteABankCarries) {
    const std::set<u32> made = {0x01, 0x02, 0x03, 0x04, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,
                                0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x19,
                                0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F, 0x20, 0x30};
    for (u32 high = 0; high <= 0xFF; ++high) {
        const u16 type = static_cast<u16>(high << 8 | 0x02);
        CAuAction* action = CreateActionByType(type, 100 + high);
        EXPECT_EQ(action != nullptr, made.count(high) == 1) << std::hex << high;
        if (!action) continue;
        EXPECT_EQ(action->ActionType(), type);
        EXPECT_EQ(m_index.GetPtrAndAddRef(AuIndexActions, 100 + high), action);
        action->Release();
        action->Release();
    }
    CAuAction* unindexed = CreateActionByType(0x0403, 0);
    EXPECT_NE(dynamic_cast<CAuActionPlay*>(unindexed), nullptr);
    EXPECT_EQ(m_index.Table(AuIndexActions).Count(), 0u) << "an action with ID 0 is not indexed";
    unindexed->Release();
}

TEST_F(ActionEventTest, EveryKindReadsItsOwnPartOfTheBankPayload) {
    bankgen::ActionRecord stop = Action(1, 0x0102, 5, 1);
    stop.curve = 0xE9;
    stop.exceptions = {{7, 0}, {8, 1}};
    CAuAction* action = Load(stop);
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->FadeCurve(), 9) << "low 5 bits of the curve byte";
    EXPECT_EQ(action->Flags() & AU_ACTION_TARGET_IS_BUS, AU_ACTION_TARGET_IS_BUS);
    const auto* except = dynamic_cast<CAuActionExcept*>(action);
    ASSERT_NE(except, nullptr);
    ASSERT_EQ(except->Exceptions().Count(), 2u);
    EXPECT_EQ(except->Exceptions()[1].id, 8u);
    EXPECT_EQ(except->Exceptions()[1].isBus, 1u);
    action->Release();

    bankgen::ActionRecord pause = Action(2, 0x0203);
    pause.option = 0;
    action = Load(pause);
    EXPECT_FALSE(dynamic_cast<CAuActionPause*>(action)->IncludePendingResumes());
    action->Release();

    bankgen::ActionRecord resume = Action(3, 0x0302);
    resume.option = 1;
    action = Load(resume);
    EXPECT_TRUE(dynamic_cast<CAuActionResume*>(action)->MasterResume());
    action->Release();

    bankgen::ActionRecord play = Action(4, 0x0403, 9);
    play.bankId = 0xB0;
    action = Load(play);
    auto* asPlay = dynamic_cast<CAuActionPlay*>(action);
    EXPECT_EQ(asPlay->BankID(), 0xB0u);
    EXPECT_TRUE(asPlay->BankIDRead());
    action->Release();

    bankgen::ActionRecord setProp = Action(5, 0x0C02);
    setProp.valueMeaning = 1, setProp.base = -3.0f, setProp.min = 1.0f, setProp.max = 1.0f;
    action = Load(setProp);
    auto* asSetProp = dynamic_cast<CAuActionSetProp*>(action);
    EXPECT_EQ(asSetProp->PropertyID(), AuPropID_BusVolume);
    EXPECT_EQ(asSetProp->ValueMeaning(), 1);
    EXPECT_EQ(asSetProp->Value(), -2.0f);
    action->Release();

    bankgen::ActionRecord rtpc = Action(6, 0x1302);
    rtpc.bypassTransition = 1, rtpc.valueMeaning = 2, rtpc.base = 4.0f;
    action = Load(rtpc);
    auto* asRtpc = dynamic_cast<CAuActionSetGameParameter*>(action);
    EXPECT_TRUE(asRtpc->BypassTransition());
    EXPECT_EQ(asRtpc->Value(), 4.0f);
    action->Release();

    for (u16 type : {u16{0x1202}, u16{0x1902}}) {
        bankgen::ActionRecord group = Action(7, type);
        group.groupId = 0x40, group.valueId = 0x41;
        action = Load(group);
        auto* asGroup = dynamic_cast<CAuActionSetGroupValue*>(action);
        EXPECT_EQ(asGroup->GroupID(), 0x40u);
        EXPECT_EQ(asGroup->ValueID(), 0x41u);
        action->Release();
    }

    bankgen::ActionRecord bypass = Action(8, 0x1A02);
    bypass.option = 1, bypass.slotMask = 0x05;
    action = Load(bypass);
    EXPECT_EQ(dynamic_cast<CAuActionBypassFX*>(action)->SlotMask(), 0x05u);
    action->Release();

    bankgen::ActionRecord seek = Action(9, 0x1E02);
    seek.option = 1, seek.base = 25.0f, seek.snapToMarker = 1;
    action = Load(seek);
    auto* asSeek = dynamic_cast<CAuActionSeek*>(action);
    EXPECT_TRUE(asSeek->IsPercent());
    EXPECT_TRUE(asSeek->SnapToMarker());
    EXPECT_EQ(asSeek->Position(), 25.0f);
    action->Release();

    for (u16 type :
         {u16{0x0602}, u16{0x1002}, u16{0x1C02}, u16{0x1D02}, u16{0x1F02}, u16{0x3002}, u16{0x1402}}) {
        bankgen::ActionRecord other = Action(10, type);
        action = Load(other);
        ASSERT_NE(action, nullptr) << std::hex << type;
        action->Release();
    }
}

TEST_F(ActionEventTest, DelaysAreKeptInSamplesAndDrawnInTheirRange) {
    bankgen::ActionRecord play = Action(1, 0x0403);
    play.props = {bankgen::PropI(AuPropID_Delay, 10), bankgen::PropI(AuPropID_TransitionTime, 300)};
    play.ranges = {bankgen::RangeI(AuPropID_Delay, -5, 5), bankgen::RangeI(AuPropID_TransitionTime, 0, 100)};
    CAuAction* action = Load(play);
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->Props().GetValue(AuPropID_Delay)->i, 480);
    EXPECT_EQ(static_cast<i32>(action->Ranges().Get(AuPropID_Delay)->word1), -240);
    EXPECT_EQ(static_cast<i32>(action->Ranges().Get(AuPropID_Delay)->word2), 240);
    EXPECT_EQ(action->Props().GetValue(AuPropID_TransitionTime)->i, 300) << "only the delay is converted";

    Script({0, 32767, 16383});
    EXPECT_EQ(action->GetDelay(), 480 - 240);
    EXPECT_EQ(action->GetDelay(), 480 + 240);
    EXPECT_EQ(action->GetDelay(), 480 - 240 + 240) << "rounded half up";
    Script({0, 32767});
    EXPECT_EQ(action->GetTransitionTime(), 300);
    EXPECT_EQ(action->GetTransitionTime(), 400) << "drawn anew at every call";
    action->Release();

    win32test::ResetRandScript();
    bankgen::ActionRecord fixed = Action(2, 0x0403);
    fixed.props = {bankgen::PropI(AuPropID_Delay, 10)};
    fixed.ranges = {bankgen::RangeI(AuPropID_Delay, 5, 5)};
    action = Load(fixed);
    EXPECT_EQ(action->GetDelay(), 480 + 240);
    EXPECT_EQ(win32test::RandCallCount(), 0u) << "a single-value range draws nothing";
    action->Release();
}

// Past about 12.4 hours at 48 kHz the samples do not fit 32 bits: the delay and its range stay
// at the longest (or most negative) delay, and a draw added to them stays there too.
TEST_F(ActionEventTest, LongDelaysSaturateInsteadOfWrapping) {
    struct Case {
        i32 delayMs, minMs, maxMs;
        i32 delay, min, max; // samples
        std::vector<int> draws;
        i32 drawn;
    };
    const Case cases[] = {
        {44739242, 0, 0, 2147483616, 0, 0, {}, 2147483616}, // the last that fits
        {44739243, 0, 0, INT32_MAX, 0, 0, {}, INT32_MAX},   // the first that does not
        {50000000, 0, 0, INT32_MAX, 0, 0, {}, INT32_MAX},
        {INT32_MAX, 0, 0, INT32_MAX, 0, 0, {}, INT32_MAX},
        {-50000000, 0, 0, INT32_MIN, 0, 0, {}, INT32_MIN},
        {50000000, 50000000, 50000000, INT32_MAX, INT32_MAX, INT32_MAX, {}, INT32_MAX},
        {50000000, -50000000, 50000000, INT32_MAX, INT32_MIN, INT32_MAX, {32767}, INT32_MAX},
        {0, -50000000, 50000000, 0, INT32_MIN, INT32_MAX, {0}, INT32_MIN},
        {0, -50000000, 50000000, 0, INT32_MIN, INT32_MAX, {16384}, 65538},
    };
    u32 id = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.delayMs << " [" << c.minMs << ", " << c.maxMs << "]");
        bankgen::ActionRecord play = Action(id++, 0x0403);
        play.props = {bankgen::PropI(AuPropID_Delay, c.delayMs)};
        if (c.minMs || c.maxMs) play.ranges = {bankgen::RangeI(AuPropID_Delay, c.minMs, c.maxMs)};
        CAuAction* action = Load(play);
        ASSERT_NE(action, nullptr);
        EXPECT_EQ(action->Props().GetValue(AuPropID_Delay)->i, c.delay);
        if (c.minMs || c.maxMs) {
            ASSERT_NE(action->Ranges().Get(AuPropID_Delay), nullptr);
            EXPECT_EQ(static_cast<i32>(action->Ranges().Get(AuPropID_Delay)->word1), c.min);
            EXPECT_EQ(static_cast<i32>(action->Ranges().Get(AuPropID_Delay)->word2), c.max);
        }
        win32test::ScriptRand(c.draws.data(), c.draws.size());
        EXPECT_EQ(action->GetDelay(), c.drawn);
        win32test::ResetRandScript();
        action->Release();
    }
}

TEST_F(ActionEventTest, SetPropValueStoresChangesAndRangesOnlyWhenTheyMatter) {
    CAuAction* action = CreateActionByType(0x0403, 1);
    const u32 used = Used();
    EXPECT_EQ(action->SetPropValue(AuPropID_Probability, 100.0f, 0.0f, 0.0f), AuResultSuccess);
    EXPECT_EQ(action->SetPropValue(AuPropID_Delay, i32{0}, 0, 0), AuResultSuccess);
    EXPECT_EQ(Used(), used) << "the defaults and an empty range store nothing";
    EXPECT_EQ(action->SetPropValue(AuPropID_Delay, i32{96}, -48, 48), AuResultSuccess);
    EXPECT_EQ(action->Props().GetValue(AuPropID_Delay)->i, 96);
    ASSERT_NE(action->Ranges().Get(AuPropID_Delay), nullptr);
    EXPECT_EQ(action->SetPropValue(AuPropID_Delay, i32{96}, 0, 0), AuResultSuccess);
    EXPECT_EQ(action->Ranges().Get(AuPropID_Delay)->word2, 0u) << "a stored range is overwritten";
    action->Release();
}

TEST_F(ActionEventTest, ExceptionCountsAreBoundedByThePayloadBeforeAnythingIsAllocated) {
    bankgen::ActionRecord none = Action(1, 0x0102);
    CAuAction* action = Load(none);
    EXPECT_EQ(dynamic_cast<CAuActionExcept*>(action)->Exceptions().Capacity(), 0u);
    action->Release();

    bankgen::ActionRecord stop = Action(2, 0x0102);
    stop.exceptions = {{7, 0}};
    bankgen::Bytes bytes = Payload(stop);
    // The count is the last field but one entry: claim far more entries than there are bytes.
    const size_t countAt = bytes.size() - 9;
    bytes[countAt + 3] = 0x40;
    action = CreateActionByType(stop.type, 2);
    const u32 used = Used();
    AuRecordCursor cursor(bytes.data(), static_cast<u32>(bytes.size()));
    EXPECT_EQ(action->SetInitialValues(cursor), AuResultBadHeader);
    EXPECT_LE(Used(), used + 64) << "no array for the claimed count";
    action->Release();
}

TEST_F(ActionEventTest, EveryCutOfAnActionPayloadGivesSeven) {
    bankgen::ActionRecord record = Action(1, 0x0A02);
    record.props = {bankgen::PropI(AuPropID_Delay, 10)};
    record.ranges = {bankgen::RangeI(AuPropID_Delay, 1, 2)};
    record.exceptions = {{7, 0}, {8, 1}};
    const bankgen::Bytes bytes = Payload(record);
    for (u32 cut = 0; cut < bytes.size(); ++cut) {
        CAuAction* action = CreateActionByType(record.type, 1);
        AuRecordCursor cursor(bytes.data(), cut);
        EXPECT_EQ(action->SetInitialValues(cursor), AuResultBadHeader) << cut;
        action->Release();
    }
}

class EventTest : public ActionEventTest {
protected:
    void SetUp() override {
        ActionEventTest::SetUp();
        node = TestNode::Make(0x50, AuNodeCategory_Sound);
        play = Load(Action(1, 0x0403, 0x50));
        playAll = Load(Action(2, 0x0402, 0x50));
    }
    void TearDown() override {
        play->Release();
        playAll->Release();
        node->Release();
        ActionEventTest::TearDown();
    }
    CAuEvent* Read(u32 id, std::vector<u32> actions, AURESULT expected = AuResultSuccess) {
        const bankgen::Bytes bytes = Payload(bankgen::EventRecord{id, std::move(actions)});
        CAuEvent* event = CAuEvent::Create(id);
        AuRecordCursor cursor(bytes.data(), static_cast<u32>(bytes.size()));
        EXPECT_EQ(event->SetInitialValues(cursor), expected);
        if (expected != AuResultSuccess) {
            event->Release();
            return nullptr;
        }
        event->AddToIndex();
        return event;
    }
    TestNode* node = nullptr;
    CAuAction* play = nullptr;
    CAuAction* playAll = nullptr;
};

TEST_F(EventTest, AnActionListedTwiceIsVisitedTwiceAndReleasedOncePerListing) {
    CAuEvent* event = Read(0x99, {1, 2, 1});
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(play->m_lRef, 3u);
    ASSERT_EQ(event->Actions().Count(), 3u);
    EXPECT_EQ(event->Actions()[2], play);
    EXPECT_EQ(event->ForEachPlayTarget(nullptr, nullptr, 0, 0, 0), AuResultSuccess);
    EXPECT_EQ(node->notified, 2) << "only 0x0403, once per listing";
    EXPECT_EQ(node->m_lRef, 1u);
    event->Release();
    EXPECT_EQ(play->m_lRef, 1u);
    EXPECT_EQ(playAll->m_lRef, 1u);
}

TEST_F(EventTest, TwoEventsSharingAnActionKeepTheirOwnLists) {
    CAuEvent* first = Read(0x98, {1, 2});
    CAuEvent* second = Read(0x99, {1});
    EXPECT_EQ(first->Actions().Count(), 2u);
    EXPECT_EQ(second->Actions().Count(), 1u);
    EXPECT_EQ(m_index.GetPtrAndAddRef(AuIndexEvents, 0x99), second);
    second->Release();
    second->Release();
    EXPECT_EQ(first->Actions()[1], playAll);
    first->Release();
    EXPECT_EQ(play->m_lRef, 1u);
}

TEST_F(EventTest, ActionIdZeroUnknownActionsAndLongCountsFailTheEvent) {
    Read(0x97, {1, 0}, AuResultInvalidPool);
    Read(0x97, {1, 0x1234}, AuResultFail);
    EXPECT_EQ(play->m_lRef, 1u) << "the half-read events let go of what they took";

    const u32 used = Used();
    const u8 bytes[] = {0x97, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x3F, 1, 0, 0, 0};
    CAuEvent* event = CAuEvent::Create(0x97);
    AuRecordCursor cursor(bytes, sizeof(bytes));
    EXPECT_EQ(event->SetInitialValues(cursor), AuResultBadHeader);
    EXPECT_LE(Used(), used + 64) << "no list for the claimed count";
    event->Release();
}

} // namespace
