// The execution of the stop, pause, resume, break and release actions by scope: what reaches the
// nodes through a master bus, the SFX bus and a sound, the pending actions each scope touches, and
// the results for missing targets.
#include "ActionTestSupport.h"
#include "TestNodes.h"

#include "core/AuAudioMgr.h"
#include "core/AuExternalSources.h"
#include "core/AuObjectIndex.h"
#include "core/AuPendingAction.h"
#include "core/AuRegistryMgr.h"
#include "hierarchy/AuAction.h"
#include "hierarchy/AuBus.h"
#include "hierarchy/AuSound.h"

#include <AuDefaultPoolTest.h>
#include <win32_testing.h>

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

namespace {

using actiontest::ActionManagersTest;
using actiontest::RecordingBus;
using nodetest::TestNode;

constexpr u32 kMaster = 0xE2B7BC37, kSfxBus = 0x0CB96245, kSound = 0x1001, kOther = 0x1002;

// A sound whose slots 17 and 18 record, and whose answer to a request can be set.
class TestSound : public TestNode {
public:
    using TestNode::TestNode;
    AURESULT ExecuteAction(const AuActionExec& exec) override {
        TestNode::ExecuteAction(exec);
        return answer;
    }
    AURESULT ExecuteActionExceptChecked(const AuActionExec& exec) override { return ExecuteAction(exec); }
    AURESULT answer = AuResultSuccess;
};

// A dynamic sequence as the "all" scope sees it.
class TestSequence : public CAuIndexable, public IAuAllActionTarget {
public:
    explicit TestSequence(u32 id) : CAuIndexable(id) {}
    u32 AddRef() override { return ++m_lRef; }
    u32 Release() override { return --m_lRef; }
    void ExecuteAllAction(AuActionExecKind kind, CAuRegisteredObj* gameObj) override {
        heard.push_back({kind, gameObj});
    }
    std::vector<std::pair<AuActionExecKind, CAuRegisteredObj*>> heard;
};

// An action that only records that it ran: what the pending-action filters keep or remove.
class CountingPlay : public CAuActionPlay {
public:
    using CAuActionPlay::CAuActionPlay;
    AURESULT Execute(CAuPendingAction&) override {
        ++runs;
        return AuResultSuccess;
    }
    int runs = 0;
};

// The instance manager as a play reaches it: each start is recorded.
class StartRecorder final : public IAuNodeInstances {
public:
    AURESULT StartNode(CAuLeafNode& node, const AuSourceInfo&, AuNodePlayParams& params) override {
        starts.push_back({&node, params});
        return AuResultSuccess;
    }
    void StopInstancesOfNode(CAuLeafNode&, CAuRegisteredObj*, i32, AuCurveInterpolation,
                             AuPlayingID) override {}
    void PauseInstancesOfNode(CAuLeafNode&, CAuRegisteredObj*, i32, AuCurveInterpolation,
                              AuPlayingID) override {}
    void ResumeInstancesOfNode(CAuLeafNode&, CAuRegisteredObj*, i32, AuCurveInterpolation, AuPlayingID,
                               bool) override {}
    void ReleaseModulatorsOfNode(CAuLeafNode&, CAuRegisteredObj*, AuPlayingID) override {}
    std::vector<std::pair<CAuLeafNode*, AuNodePlayParams>> starts;
};

template <class T> T* MakeAction(u32 id, u16 type, u32 target, bool isBus = false) {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(T));
    T* action = new (memory) T(id);
    action->SetActionType(type);
    action->SetElementID(target, isBus);
    action->AddToIndex();
    return action;
}

class ActionExecuteTest : public ActionManagersTest {
protected:
    void SetUp() override {
        ActionManagersTest::SetUp();
        m_obj10 = MakeObject(10);
        m_obj11 = MakeObject(11);
    }
    void TearDown() override {
        EndAudio();
        ReleaseOwned();
        m_obj10->Release();
        m_obj11->Release();
        ActionManagersTest::TearDown();
    }

    static CAuRegisteredObj* MakeObject(u32 id) {
        return new (AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuRegisteredObj))) CAuRegisteredObj(id);
    }
    // Master -> SFX bus -> sound, with something playing below the sound.
    void BuildTree() {
        m_master = Own(RecordingBus::Make(kMaster, true, true));
        m_sfx = Own(RecordingBus::Make(kSfxBus, false, true));
        m_sound = Own(TestNode::Make<TestSound>(kSound, AuNodeCategory_Sound));
        m_sfx->AddRef();
        ASSERT_EQ(m_master->AddChild(m_sfx), AuResultSuccess);
        m_sound->AddRef();
        ASSERT_EQ(m_sfx->AddChild(m_sound), AuResultSuccess);
        ASSERT_TRUE(m_sound->IncrementActivityCount(AU_ACTIVITY_TO_BOTH));
        m_active = true;
    }
    void EndActivity() {
        if (m_active) m_sound->DecrementActivityCount(AU_ACTIVITY_TO_BOTH);
        m_active = false;
        // The children hold references on their busses; they go first.
        if (m_sound) m_sfx->RemoveChild(m_sound);
        if (m_sfx) m_master->RemoveChild(m_sfx);
    }
    // A play of the target waiting 3 frames, as an event's delayed play would.
    CountingPlay* SchedulePlay(u32 id, u32 target, CAuRegisteredObj* gameObj = nullptr,
                               AuPlayingID playingID = 0) {
        CountingPlay* play = Own(MakeAction<CountingPlay>(id, 0x0403, target));
        play->SetPropValue(AuPropID_Delay, 3 * 1024, 0, 0);
        AuCustomPlayParams params;
        params.playingID = playingID;
        EXPECT_EQ(m_audio.EnqueueOrExecute(CAuPendingAction::Create(play, gameObj, params, 0)),
                  AuResultSuccess);
        return play;
    }

    CAuRegisteredObj* m_obj10 = nullptr;
    CAuRegisteredObj* m_obj11 = nullptr;
    RecordingBus* m_master = nullptr;
    RecordingBus* m_sfx = nullptr;
    TestSound* m_sound = nullptr;
    bool m_active = false;
};

TEST_F(ActionExecuteTest, EachScopeReachesTheSoundAsTheTableSays) {
    BuildTree();
    struct Case {
        const char* name;
        u16 type;
        bool postedOn10; // the pending action's object: 10, else none
        bool reachesSound;
        AuActionExecKind kind;
        bool throughMaster;
    };
    const Case cases[] = {
        {"stop the target", 0x0102, false, true, AuActionExec_Stop, false},
        {"stop the target on 10", 0x0103, true, true, AuActionExec_Stop, false},
        {"stop all", 0x0104, false, true, AuActionExec_Stop, true},
        {"stop all of 10", 0x0105, true, true, AuActionExec_Stop, true},
        {"pause the target", 0x0202, false, true, AuActionExec_Pause, false},
        {"pause all", 0x0204, false, true, AuActionExec_Pause, true},
        {"resume the target", 0x0302, false, true, AuActionExec_Resume, false},
        {"resume all", 0x0304, false, true, AuActionExec_Resume, true},
        {"stop with scope 06", 0x0106, false, false, AuActionExec_Stop, false},
        {"release the target", 0x1F02, false, true, AuActionExec_ReleaseModulators, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_sound->executed.clear();
        m_master->executed.clear();
        m_sfx->executed.clear();
        CAuAction* action = CreateActionByType(c.type, 0x3000);
        ASSERT_NE(action, nullptr);
        action->SetElementID(kSound, false);
        CAuRegisteredObj* gameObj = c.postedOn10 ? m_obj10 : nullptr;
        EXPECT_EQ(Run(action, gameObj, 77, 5), AuResultSuccess);
        action->Release();
        ASSERT_EQ(m_sound->executed.size(), c.reachesSound ? 1u : 0u);
        EXPECT_EQ(m_master->executed.size(), c.throughMaster ? 1u : 0u);
        EXPECT_EQ(m_sfx->executed.size(), c.throughMaster ? 1u : 0u);
        if (!c.reachesSound) continue;
        const AuActionExec& exec = m_sound->executed[0];
        EXPECT_EQ(exec.kind, u32(c.kind));
        EXPECT_EQ(exec.pGameObj, gameObj) << "only object 10's plays for the scoped types";
        EXPECT_EQ(exec.playingID, 5u) << "the post's filter, not its playing ID";
        EXPECT_EQ(exec.eCurve, AuCurveInterpolation_Linear);
    }
    EndActivity();
}

TEST_F(ActionExecuteTest, TheTransitionTimeAndCurveOfTheActionTravelWithTheRequest) {
    BuildTree();
    CAuAction* stop = CreateActionByType(0x0102, 0x3000);
    stop->SetElementID(kSound, false);
    stop->SetPropValue(AuPropID_TransitionTime, 200, 0, 0);
    u8 curve[] = {AuCurveInterpolation_SmoothS};
    AuRecordCursor cursor(curve, 1);
    ASSERT_EQ(stop->SetActionParams(cursor), AuResultBadHeader) << "no exception count follows";
    EXPECT_EQ(Run(stop), AuResultSuccess);
    ASSERT_EQ(m_sound->executed.size(), 1u);
    EXPECT_EQ(m_sound->executed[0].transitionTimeMs, 200);
    EXPECT_EQ(m_sound->executed[0].eCurve, AuCurveInterpolation_SmoothS);
    stop->Release();
    EndActivity();
}

TEST_F(ActionExecuteTest, AllExceptSkipsWhatIsUnderAnExceptedBus) {
    BuildTree();
    auto* stop = static_cast<CAuActionExcept*>(CreateActionByType(0x0108, 0x3000));
    ASSERT_EQ(stop->AddException(kSfxBus, true), AuResultSuccess);
    EXPECT_EQ(Run(stop), AuResultSuccess);
    EXPECT_TRUE(m_sound->executed.empty()) << "the sound's bus is excepted";
    ASSERT_EQ(m_master->excepted.size(), 1u);
    EXPECT_EQ(m_master->excepted[0].exceptionCount, 1u);

    // An exception elsewhere lets the request through to the sound.
    stop->ClearExceptions();
    ASSERT_EQ(stop->AddException(kSound, true), AuResultSuccess) << "an ID of the other table";
    EXPECT_EQ(Run(stop), AuResultSuccess);
    EXPECT_EQ(m_sound->executed.size(), 1u);
    stop->Release();
    EndActivity();
}

TEST_F(ActionExecuteTest, MissingTargetsGiveTheirFamilysResultAndLeaveThePendingActions) {
    CountingPlay* waiting = SchedulePlay(0x5000, kOther);
    struct Case {
        u16 type;
        AURESULT result;
    };
    const Case cases[] = {{0x0102, AuResultSuccess},    {0x0103, AuResultSuccess}, {0x0202, AuResultSuccess},
                          {0x0203, AuResultSuccess},    {0x0302, AuResultSuccess}, {0x0303, AuResultSuccess},
                          {0x1C02, AuResultIDNotFound}, {0x1F02, AuResultFail},    {0x1F03, AuResultFail}};
    for (const Case& c : cases) {
        CAuAction* action = CreateActionByType(c.type, 0x3000);
        action->SetElementID(0xDEAD, false);
        EXPECT_EQ(Run(action, m_obj10), c.result) << std::hex << c.type;
        action->Release();
    }
    EXPECT_EQ(m_audio.NumPendingItems(), 1u) << "nothing was done to the pending actions";
    EXPECT_EQ(m_audio.NumPausedItems(), 0u);
    m_audio.ClearPendingList();
    EXPECT_EQ(waiting->runs, 0);
}

TEST_F(ActionExecuteTest, ReleaseOfAScopeOtherThanOneTargetGivesFailure) {
    BuildTree();
    for (u16 type : {u16(0x1F04), u16(0x1F05), u16(0x1F08)}) {
        CAuAction* release = CreateActionByType(type, 0x3000);
        release->SetElementID(kSound, false);
        EXPECT_EQ(Run(release), AuResultFail) << std::hex << type;
        release->Release();
    }
    EXPECT_TRUE(m_sound->executed.empty());
    EndActivity();
}

TEST_F(ActionExecuteTest, StopClearsThePendingActionsOfItsScope) {
    BuildTree();
    SchedulePlay(0x5000, kSound, m_obj10);
    SchedulePlay(0x5001, kSound, m_obj11);
    SchedulePlay(0x5002, kOther);
    Own(TestNode::Make<TestSound>(kOther, AuNodeCategory_Sound));

    CAuAction* stopOn10 = CreateActionByType(0x0103, 0x3000);
    stopOn10->SetElementID(kSound, false);
    Run(stopOn10, m_obj10);
    EXPECT_EQ(m_audio.NumPendingItems(), 2u) << "object 11's play and the other sound's stay";
    stopOn10->Release();

    CAuAction* stopAll = CreateActionByType(0x0104, 0x3001);
    Run(stopAll);
    EXPECT_EQ(m_audio.NumPendingItems(), 0u);
    stopAll->Release();
    EndActivity();
}

TEST_F(ActionExecuteTest, PauseKeepsPendingResumesUnlessAskedAndResumeHonoursTheMasterFlag) {
    BuildTree();
    SchedulePlay(0x5000, kSound);
    CAuAction* resumeLater = Own(CreateActionByType(0x0302, 0x5001));
    resumeLater->SetElementID(kSound, false);
    resumeLater->SetPropValue(AuPropID_Delay, 3 * 1024, 0, 0);
    ASSERT_EQ(m_audio.EnqueueOrExecute(CAuPendingAction::Create(resumeLater, nullptr, {}, 0)),
              AuResultSuccess);

    // The bank's pause reads "include pending resumes" as 0 here.
    u8 payload[] = {AuCurveInterpolation_Linear, 0, 0, 0, 0, 0};
    auto* pause = static_cast<CAuActionPause*>(CreateActionByType(0x0202, 0x3000));
    pause->SetElementID(kSound, false);
    AuRecordCursor cursor(payload, sizeof(payload));
    ASSERT_EQ(pause->SetActionParams(cursor), AuResultSuccess);
    ASSERT_FALSE(pause->IncludePendingResumes());
    Run(pause);
    EXPECT_EQ(m_audio.NumPausedItems(), 1u) << "the resume stays pending";
    Run(pause);
    EXPECT_EQ(m_audio.NumPausedItems(), 1u) << "paused twice: one more level";

    // A plain resume takes one level; the master resume takes every one.
    auto* resume = static_cast<CAuActionResume*>(CreateActionByType(0x0302, 0x3001));
    resume->SetElementID(kSound, false);
    Run(resume);
    EXPECT_EQ(m_audio.NumPausedItems(), 1u);
    Run(pause);
    u8 master[] = {AuCurveInterpolation_Linear, 1, 0, 0, 0, 0};
    AuRecordCursor masterCursor(master, sizeof(master));
    ASSERT_EQ(resume->SetActionParams(masterCursor), AuResultSuccess);
    ASSERT_TRUE(resume->MasterResume());
    m_sound->executed.clear();
    Run(resume);
    EXPECT_EQ(m_audio.NumPausedItems(), 0u) << "every level at once";
    ASSERT_EQ(m_sound->executed.size(), 1u);
    EXPECT_TRUE(m_sound->executed[0].flags & AU_EXEC_MASTER_RESUME) << "the node hears the flag too";
    pause->Release();
    resume->Release();
    m_audio.ClearPendingList();
    EndActivity();
}

TEST_F(ActionExecuteTest, PauseAllAndResumeAllReachTheSoundAndThePendingActions) {
    BuildTree();
    SchedulePlay(0x5000, kSound);
    CAuAction* pauseAll = CreateActionByType(0x0204, 0x3000);
    CAuAction* resumeAll = CreateActionByType(0x0304, 0x3001);
    Run(pauseAll);
    EXPECT_EQ(m_audio.NumPausedItems(), 1u);
    Run(resumeAll);
    EXPECT_EQ(m_audio.NumPausedItems(), 0u);
    EXPECT_EQ(m_audio.NumPendingItems(), 1u);
    ASSERT_EQ(m_sound->executed.size(), 2u);
    EXPECT_EQ(m_sound->executed[0].kind, u32(AuActionExec_Pause));
    EXPECT_EQ(m_sound->executed[1].kind, u32(AuActionExec_Resume));
    pauseAll->Release();
    resumeAll->Release();
    m_audio.ClearPendingList();
    EndActivity();
}

TEST_F(ActionExecuteTest, BreakRemovesThePendingPlaysOnlyWhenTheNodeAgrees) {
    BuildTree();
    SchedulePlay(0x5000, kSound, nullptr, 5);
    CAuAction* brk = CreateActionByType(0x1C02, 0x3000);
    brk->SetElementID(kSound, false);
    brk->SetPropValue(AuPropID_TransitionTime, 300, 0, 0);

    m_sound->answer = AuResultFail;
    EXPECT_EQ(Run(brk, nullptr, 5), AuResultFail);
    EXPECT_EQ(m_audio.NumPendingItems(), 1u);
    ASSERT_EQ(m_sound->executed.size(), 1u);
    EXPECT_EQ(m_sound->executed[0].kind, u32(AuActionExec_Break));
    EXPECT_EQ(m_sound->executed[0].transitionTimeMs, 0) << "a break has no fade";
    EXPECT_EQ(m_sound->executed[0].eCurve, AuCurveInterpolation_Linear);
    EXPECT_EQ(m_sound->executed[0].playingID, 5u);

    m_sound->answer = AuResultSuccess;
    EXPECT_EQ(Run(brk, nullptr, 5), AuResultSuccess);
    EXPECT_EQ(m_audio.NumPendingItems(), 0u);
    brk->Release();
    EndActivity();
}

TEST_F(ActionExecuteTest, StopAllReachesADynamicSequenceWithoutAnyBus) {
    TestSequence sequence(9);
    sequence.AddRef();
    m_index.Table(AuIndexDynamicSequences).Add(&sequence);
    CAuAction* stopAll = CreateActionByType(0x0105, 0x3000);
    EXPECT_EQ(Run(stopAll, m_obj10), AuResultSuccess);
    ASSERT_EQ(sequence.heard.size(), 1u);
    EXPECT_EQ(sequence.heard[0].first, AuActionExec_Stop);
    EXPECT_EQ(sequence.heard[0].second, m_obj10);

    // The "all except" scope leaves the dynamic sequences alone.
    CAuAction* stopExcept = CreateActionByType(0x0108, 0x3001);
    Run(stopExcept);
    EXPECT_EQ(sequence.heard.size(), 1u);
    stopAll->Release();
    stopExcept->Release();
    m_index.Table(AuIndexDynamicSequences).Remove(&sequence);
}

class PlayActionTest : public ActionExecuteTest {
protected:
    void SetUp() override {
        ActionExecuteTest::SetUp();
        g_pNodeInstances = &m_starts;
        win32test::ResetRandScript();
        m_sound = CAuSound::Create(kSound);
        Own(m_sound);
    }
    void TearDown() override {
        g_pNodeInstances = nullptr;
        win32test::ResetRandScript();
        ActionExecuteTest::TearDown();
    }
    CAuActionPlay* Play(f32 probability, bool stored = true) {
        auto* play =
            static_cast<CAuActionPlay*>(Own(CreateActionByType(0x0403, 0x3000 + u32(m_owned.size()))));
        play->SetElementID(kSound, false);
        if (stored) play->SetPropValue(AuPropID_Probability, probability, 0.0f, 0.0f);
        return play;
    }

    StartRecorder m_starts;
    CAuSound* m_sound = nullptr;
};

TEST_F(PlayActionTest, TheProbabilityDrawDecidesWhetherTheTargetPlays) {
    struct Case {
        const char* name;
        f32 probability;
        bool stored;
        std::vector<int> draws;
        bool plays;
        size_t randCalls;
    };
    const Case cases[] = {
        {"100 with the highest draw", 100.0f, true, {32767, 32767}, true, 2},
        {"default 100", 0.0f, false, {32767, 32767}, true, 2},
        {"0 never draws", 0.0f, true, {}, false, 0},
        // (16384 x 32768) / (2^30 - 1) x 100 lies just above 50.
        {"50, just above", 50.0f, true, {16384, 0}, false, 2},
        {"50, just below", 50.0f, true, {16383, 32767}, true, 2},
        {"50, lowest draw", 50.0f, true, {0, 0}, true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_starts.starts.clear();
        CAuActionPlay* play = Play(c.probability, c.stored);
        win32test::ResetRandScript();
        win32test::ScriptRand(c.draws.data(), c.draws.size());
        EXPECT_EQ(Run(play, m_obj10, 7), AuResultSuccess);
        EXPECT_EQ(win32test::RandCallCount(), c.randCalls);
        EXPECT_EQ(m_starts.starts.size(), c.plays ? 1u : 0u);
    }
}

TEST_F(PlayActionTest, ThePlayRequestCarriesThePostAndTheRestOfTheDelay) {
    CAuActionPlay* play = Play(100.0f);
    play->SetPropValue(AuPropID_TransitionTime, 250, 0, 0);
    const AuExternalSourceInfo info{1, 2, nullptr, nullptr, 0, 3};
    AuExternalSourceArray* sources = AuExternalSourceArray::Create(1, &info);
    AuCustomPlayParams params;
    params.customWords[0] = 11;
    params.customWords[2] = 13;
    params.pExternalSources = sources;
    params.playingID = 42;
    CAuPendingAction* record = CAuPendingAction::Create(play, m_obj10, params, 0);
    record->uSampleOffset = 704;
    EXPECT_EQ(play->Execute(*record), AuResultSuccess);
    CAuPendingAction::Destroy(record);
    sources->Release();
    ASSERT_EQ(m_starts.starts.size(), 1u);
    EXPECT_EQ(m_starts.starts[0].first, m_sound);
    const AuNodePlayParams& request = m_starts.starts[0].second;
    EXPECT_EQ(request.pGameObj, m_obj10);
    EXPECT_EQ(request.playingID, 42u);
    EXPECT_EQ(request.customWords[0], 11u);
    EXPECT_EQ(request.customWords[2], 13u);
    EXPECT_EQ(request.pExternalSources, sources);
    EXPECT_EQ(request.lFrameOffset, 704);
    EXPECT_EQ(request.transitionMs, 250);
    EXPECT_EQ(request.eCurve, AuCurveInterpolation_Linear);
    EXPECT_EQ(request.flags, AU_PLAY_MIDI_FIRST_CALL | AU_PLAY_PASSED_2) << "started by a play action";
    EXPECT_EQ(request.midi.status, 0) << "no note";
    EXPECT_EQ(m_sound->m_lRef, 1u) << "the target's reference is given back";
}

TEST_F(PlayActionTest, AMissingTargetGivesIDNotFoundAndABusTargetPlaysNothing) {
    CAuActionPlay* play = Play(100.0f);
    play->SetElementID(0xDEAD, false);
    EXPECT_EQ(Run(play), AuResultIDNotFound);
    Own(TestNode::Make<TestNode>(kSfxBus, AuNodeCategory_Bus));
    play->SetElementID(kSfxBus, true);
    EXPECT_EQ(Run(play), AuResultFail);
    EXPECT_TRUE(m_starts.starts.empty());
}

} // namespace
