// States, switches and triggers in the running engine: the init bank's groups, the game's
// messages handled on the audio thread, bank actions, the game objects' links, and game syncs
// prepared on the bank thread.
#include "BankTestSupport.h"

#include "core/AuEngineManagers.h"
#include "core/AuRegistryMgr.h"
#include "core/AuThreads.h"
#include "hierarchy/AuParameterNode.h"
#include "parameters/AuStateMgr.h"

#include <AuLogCapture.h>

#include <AU/SoundEngineBanks.h>

#include <bankgen/Media.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace banktest {
namespace {

using namespace AU::SoundEngine;

constexpr u32 kBank = 0x5A1;
constexpr u32 kStateGroup = 0x100, kQuietGroup = 0x101, kSwitchGroup = 0x200;
constexpr u32 kUnderwater = 0x110, kSurfaced = 0x111;
constexpr u32 kSound = 0x300, kMedia = 0x310;
constexpr u32 kSetStateEvent = 0x400, kSetVolumeEvent = 0x401, kPlayEvent = 0x402;
constexpr u32 kLoopingSound = 0x301, kPlayLooping = 0x413, kPlayLoopingEvent = 0x403;
constexpr u32 kObject = 10, kUnknownObject = 99;
constexpr u32 kSwitchGroupType = 0;

// Written on the audio thread under g_csMain, read by the test under it.
class Follower final : public CAuSwitchAware {
public:
    void SetSwitch(u32 switchID, const AuRTPCKey& key, const CAuRTPCFilter*) noexcept override {
        heard.push_back({switchID, key.pGameObj ? key.pGameObj->ID() : 0});
        onTestThread |= std::this_thread::get_id() == testThread;
    }
    std::vector<std::pair<u32, u32>> heard;
    std::thread::id testThread = std::this_thread::get_id();
    bool onTestThread = false;
};

class Handler final : public IAuTriggerHandler {
public:
    void Trigger(AuUniqueID triggerID) noexcept override {
        heard.push_back(triggerID);
        onTestThread |= std::this_thread::get_id() == testThread;
    }
    std::vector<u32> heard;
    std::thread::id testThread = std::this_thread::get_id();
    bool onTestThread = false;
};

class GameSyncsEngineTest : public RunningEngineTest {
protected:
    GameSyncsEngineTest() : RunningEngineTest("torvik_gamesyncs") {}

    // Two state groups (one with a transition), a parameter-driven switch group, a sound, and the
    // events of a set-state, an object's set-volume and a play action.
    static Bytes Build() {
        bankgen::BankBuilder builder(kBank);
        bankgen::Settings settings;
        settings.stateGroups.push_back({kStateGroup, 250, {{kSurfaced, kUnderwater, 0}}});
        settings.stateGroups.push_back({kQuietGroup, 0, {}});
        settings.switchBindings.push_back({0x201, 0x500, 0, {{0.0f, 7, 9}, {50.0f, 8, 9}}});
        builder.SetSettings(settings);
        builder.AddMedia(kMedia, bankgen::MakePcmWave(
                                     bankgen::ToPcm16({bankgen::Sine(500.0, 0.1, 48000, 0.25)}), 1, 48000));
        builder.Add(BankSound(kSound, kMedia, 0));
        bankgen::ActionRecord setState = ActionOn(0x410, 0x1204, 0);
        setState.groupId = kStateGroup;
        setState.valueId = kSurfaced;
        builder.Add(setState);
        builder.Add(bankgen::EventRecord{kSetStateEvent, {setState.id}});
        bankgen::ActionRecord setVolume = ActionOn(0x411, 0x0A03, kSound);
        setVolume.base = -6.0f;
        setVolume.valueMeaning = 0;
        builder.Add(setVolume);
        builder.Add(bankgen::EventRecord{kSetVolumeEvent, {setVolume.id}});
        bankgen::SoundRecord looping = BankSound(kLoopingSound, kMedia, 0);
        looping.node.props.push_back(bankgen::PropI(58, 0)); // loops for ever
        builder.Add(looping);
        builder.Add(PlayAction(kPlayLooping, kLoopingSound, kBank));
        builder.Add(bankgen::EventRecord{kPlayLoopingEvent, {kPlayLooping}});
        builder.Add(PlayAction(0x412, kSound, kBank));
        builder.Add(bankgen::EventRecord{kPlayEvent, {0x412}});
        return Built(builder);
    }
    void SetUp() override {
        RunningEngineTest::SetUp();
        AuLogCapture log;
        ASSERT_NO_FATAL_FAILURE(LoadImage(Build()));
        EXPECT_EQ(log.Text().find("not kept"), std::string::npos) << log.Text();
        ASSERT_EQ(RegisterGameObj(kObject), AuResultSuccess);
    }
    template <class Read> static auto Locked(Read read) {
        CAuMainLock lock;
        return read();
    }
    static u32 State(u32 group) {
        return Locked([group] { return g_pStateMgr->GetState(group); });
    }
};

TEST_F(GameSyncsEngineTest, TheGamesSetsAndTriggersActOnTheAudioThread) {
    Follower follower;
    Handler handler;
    Locked([&] {
        EXPECT_EQ(g_pStateMgr->GroupCount(), 2u);
        EXPECT_EQ(g_pSwitchMgr->SubscribeSwitch(&follower, kSwitchGroup), AuResultSuccess);
        return g_pStateMgr->RegisterTrigger(&handler, nullptr);
    });
    ASSERT_EQ(SetState(kStateGroup, kUnderwater), AuResultSuccess);
    ASSERT_EQ(SetSwitch(kSwitchGroup, 5, kObject), AuResultSuccess);
    ASSERT_EQ(SetSwitch(kSwitchGroup, 6, kUnknownObject), AuResultSuccess);
    ASSERT_EQ(PostTrigger(7, AU_INVALID_GAME_OBJECT), AuResultSuccess);
    ASSERT_EQ(PostTrigger(8, kUnknownObject), AuResultSuccess);
    ASSERT_EQ(PostTrigger(9, kObject), AuResultSuccess);
    // The handler has no object: only the global trigger reaches it; the messages run in order.
    EXPECT_TRUE(RenderUntil([&] { return Locked([&] { return handler.heard.size() == 1; }); }));
    ASSERT_EQ(SetState(kQuietGroup, 3), AuResultSuccess);
    EXPECT_TRUE(RenderUntil([&] { return State(kQuietGroup) == 3; }));
    Locked([&] {
        EXPECT_EQ(g_pStateMgr->GetState(kStateGroup), kUnderwater);
        EXPECT_EQ(handler.heard, std::vector<u32>{7});
        EXPECT_EQ(follower.heard, (std::vector<std::pair<u32, u32>>{{5, kObject}}))
            << "an unknown object skips it";
        EXPECT_FALSE(follower.onTestThread);
        EXPECT_FALSE(handler.onTestThread);
        g_pSwitchMgr->UnsubscribeSwitch(&follower);
        g_pStateMgr->UnregisterTrigger(&handler, nullptr);
        return 0;
    });
    // A set-state action of the bank.
    ASSERT_NE(PostEvent(kSetStateEvent, kObject), 0u);
    EXPECT_TRUE(RenderUntil([] { return State(kStateGroup) == kSurfaced; }));
}

TEST_F(GameSyncsEngineTest, AnUnregisteredObjectLeavesTheNodesAndTheSwitchGroups) {
    auto* sound =
        static_cast<CAuParameterNode*>(Locked([] { return g_pIndex->GetNodePtrAndAddRef(kSound, false); }));
    ASSERT_NE(sound, nullptr);
    const auto holders = [sound] { return Locked([sound] { return sound->NumObjectHolders(); }); };
    const auto switchValuesEmpty = [] {
        return Locked([] { return g_pSwitchMgr->GetSwitchEntry(kSwitchGroup)->values.IsEmpty(); });
    };
    ASSERT_NE(PostEvent(kSetVolumeEvent, kObject), 0u);
    ASSERT_EQ(SetSwitch(kSwitchGroup, 5, kObject), AuResultSuccess);
    EXPECT_TRUE(RenderUntil([&] { return holders() == 1 && !switchValuesEmpty(); }));
    ASSERT_EQ(UnregisterGameObj(kObject), AuResultSuccess);
    EXPECT_TRUE(RenderUntil([&] { return holders() == 0 && switchValuesEmpty(); }))
        << "the node forgot the object's values and the switch group its value";
    Locked([sound] { return sound->Release(); });
}

// The largest sample of the capture from `from` on, and whether at least `frames` of them follow.
struct Tail {
    i32 peak = 0;
    bool longEnough = false;
};
Tail TailOf(const std::filesystem::path& path, size_t from, size_t frames) {
    const AuCaptureFile capture = AuCaptureFile::Read(path);
    return {from < capture.Frames() ? Peak(capture, from, capture.Frames()) : 0,
            capture.Frames() >= from + frames};
}

TEST_F(GameSyncsEngineTest, AListenerMaskChangeConnectsThePlayingVoicesToTheOutputAndTakesThemOff) {
    const auto path = m_folder / "listeners.wav";
    // Until the output stays silent for as long as anyone listens.
    const auto renderSilence = [&] {
        size_t silentFrom = AuCaptureFile::Read(path).Frames();
        constexpr size_t kSilence = 8 * 1024;
        return RenderUntil([&] {
            const Tail tail = TailOf(path, silentFrom, kSilence);
            if (tail.peak != 0) silentFrom = AuCaptureFile::Read(path).Frames();
            return tail.peak == 0 && tail.longEnough;
        });
    };
    const auto renderHeard = [&] {
        const size_t from = AuCaptureFile::Read(path).Frames();
        return RenderUntil([&] { return TailOf(path, from, 0).peak > 1000; });
    };
    ASSERT_EQ(StartOutputCapture(L"listeners.wav"), AuResultSuccess);
    // Started without a listener, the voice has no output to mix into.
    ASSERT_EQ(SetActiveListeners(kObject, 0), AuResultSuccess);
    ASSERT_NE(PostEvent(kPlayLoopingEvent, kObject), 0u);
    EXPECT_TRUE(renderSilence());
    ASSERT_EQ(SetActiveListeners(kObject, 1), AuResultSuccess);
    EXPECT_TRUE(renderHeard()) << "the object's voice joined the output of its new listener";
    ASSERT_EQ(SetActiveListeners(kObject, 0), AuResultSuccess);
    EXPECT_TRUE(renderSilence()) << "and left it with the listener";
    StopAll(kObject);
}

// The voices read the object's listeners and sends on every frame: the object the game unregisters
// while its sound plays lives on until that sound ends (a pool-poisoning build reports the read
// of a freed object otherwise).
TEST_F(GameSyncsEngineTest, AnObjectUnregisteredWhileItsSoundPlaysLastsUntilTheSoundEnds) {
    const auto live = [] { return Locked([] { return CAuRegisteredObj::LiveCount(); }); };
    ASSERT_TRUE(RenderUntil([] {
        return Locked([] {
            CAuRegisteredObj* object = g_pRegistryMgr->GetObjAndAddref(kObject);
            if (object) object->Release();
            return object != nullptr;
        });
    }));
    const u32 withObject = live();
    std::atomic<int> ends{0};
    const auto onEnd = [](AuCallbackType type, AuCallbackInfo* info) {
        if (type == AU_EndOfEvent) ++*static_cast<std::atomic<int>*>(info->pCookie);
    };
    ASSERT_NE(PostEvent(kPlayEvent, kObject, AU_EndOfEvent, onEnd, &ends), 0u);
    ASSERT_EQ(UnregisterGameObj(kObject), AuResultSuccess);
    EXPECT_TRUE(RenderUntil([&] { return ends.load() == 1; })) << "the 0.1 s sound plays to its end";
    EXPECT_TRUE(RenderUntil([&] { return live() == withObject - 1; })) << "and its object goes with it";
}

class RecordingPreparation final : public CAuPreparationAware {
public:
    AURESULT ModifyActiveState(u32 valueID, bool prepare) noexcept override {
        calls.push_back((prepare ? "+" : "-") + std::to_string(valueID));
        return AuResultSuccess;
    }
    std::vector<std::string> calls;
};

TEST_F(GameSyncsEngineTest, GameSyncsPreparedThroughTheBankThreadReachTheStateManager) {
    RecordingPreparation subscriber;
    ASSERT_EQ(Locked([&] { return subscriber.SubscribePrepare(kSwitchGroup, kSwitchGroupType); }),
              AuResultSuccess);
    AuLogCapture log;
    const AuUniqueID values[] = {5, 6};
    ASSERT_EQ(PrepareGameSyncs(AuPreparation_Load, kSwitchGroupType, kSwitchGroup, values, 2),
              AuResultSuccess);
    EXPECT_EQ(log.Text().find("no state manager"), std::string::npos) << log.Text();
    Locked([&] {
        EXPECT_EQ(subscriber.calls, (std::vector<std::string>{"+5", "+6"}));
        const AuArray<u32>* prepared = g_pStateMgr->GetPreparedGameSyncValues(kSwitchGroup, kSwitchGroupType);
        EXPECT_TRUE(prepared && prepared->Count() == 2);
        subscriber.UnsubscribePrepare(kSwitchGroup, kSwitchGroupType);
        return 0;
    });
}

// The audio thread keeps unsubscribing and subscribing again (as nodes end and load) while the
// bank thread prepares and unprepares the group's values.
std::vector<RecordingPreparation>* g_churned = nullptr;
std::atomic<u32> g_passes = 0;
void Churn(bool) {
    if (!g_churned) return;
    const u32 pass = g_passes.fetch_add(1);
    RecordingPreparation& subscriber = (*g_churned)[pass % g_churned->size()];
    subscriber.UnsubscribePrepare(kSwitchGroup, kSwitchGroupType);
    subscriber.calls.clear();
    subscriber.SubscribePrepare(kSwitchGroup, kSwitchGroupType);
}

struct Done {
    std::atomic<u32> count = 0;
    std::atomic<u32> failed = 0;
};
void OnPrepared(u32, const void*, AURESULT result, AuMemPoolId, void* cookie) {
    auto* done = static_cast<Done*>(cookie);
    if (result != AuResultSuccess) done->failed.fetch_add(1);
    done->count.fetch_add(1);
}

TEST_F(GameSyncsEngineTest, PreparingOnTheBankThreadWhileTheAudioThreadDropsSubscribers) {
    std::vector<RecordingPreparation> subscribers(4);
    Locked([&] {
        for (RecordingPreparation& s : subscribers)
            s.SubscribePrepare(kSwitchGroup, kSwitchGroupType);
        g_churned = &subscribers;
        return 0;
    });
    g_passes = 0;
    ASSERT_EQ(RegisterGlobalCallback(Churn), AuResultSuccess);
    constexpr u32 kRequests = 600;
    Done done;
    for (u32 i = 0; i < kRequests; ++i) {
        const AuUniqueID value = 1 + i % 3;
        ASSERT_EQ(PrepareGameSyncs(i % 2 ? AuPreparation_Unload : AuPreparation_Load, kSwitchGroupType,
                                   kSwitchGroup, &value, 1, OnPrepared, &done),
                  AuResultSuccess);
    }
    EXPECT_TRUE(RenderUntil([&] { return done.count == kRequests && g_passes > 30; }, kUntilDone));
    EXPECT_EQ(done.failed.load(), 0u);
    Locked([&] {
        g_churned = nullptr;
        for (RecordingPreparation& s : subscribers)
            s.UnsubscribePrepare(kSwitchGroup, kSwitchGroupType);
        return 0;
    });
    EXPECT_EQ(UnregisterGlobalCallback(Churn), AuResultSuccess);
}

} // namespace
} // namespace banktest
