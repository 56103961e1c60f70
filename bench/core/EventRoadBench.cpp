// One audio pass that runs 1000 events posted in one frame, each a play of a short PCM click, and
// that pass's share of the 21.33 ms that one 1024-sample frame at 48 kHz lasts. Two measures:
// the messages and pending actions up to the instance manager's start, on the same managers the
// event-handler tests use; and the whole pass of the running engine, through its instances,
// voices, busses and output.
#include "core/AuAudioMgr.h"
#include "core/AuEngineManagers.h"
#include "core/AuThreads.h"
#include "hierarchy/AuAction.h"
#include "hierarchy/AuSound.h"
#include "voices/AuInstanceMgr.h"
#include "voices/AuPlaybackInstance.h"

#include <AuEventRoadManagers.h>

#include <AU/AuDefaultIOHookBlocking.h>
#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>
#include <AU/SoundEngine.h>
#include <AU/SoundEngineBanks.h>
#include <AU/StreamMgr.h>
#include <audio_test_control.h>

#include <bankgen/Bank.h>
#include <bankgen/Media.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr u32 kEvents = 1000;
constexpr u32 kObject = 10, kEvent = 0xFF0B3D05, kSound = 0x1001, kAction = 0x3001;
constexpr u32 kBank = 0x4E2, kMaster = 0x100, kMedia = 0x2001;
constexpr f64 kFrameUs = 1024.0 / 48000.0 * 1e6;

void SetCounters(benchmark::State& state) {
    state.counters["us_per_pass"] =
        benchmark::Counter(1e-6, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["budget_share_pct"] = benchmark::Counter(
        kFrameUs / 1e8, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

class CountingInstances final : public IAuNodeInstances {
public:
    AURESULT StartNode(CAuLeafNode&, const AuSourceInfo&, AuNodePlayParams&) override {
        ++starts;
        return AuResultSuccess;
    }
    void StopInstancesOfNode(CAuLeafNode&, CAuRegisteredObj*, i32, AuCurveInterpolation,
                             AuPlayingID) override {}
    void PauseInstancesOfNode(CAuLeafNode&, CAuRegisteredObj*, i32, AuCurveInterpolation,
                              AuPlayingID) override {}
    void ResumeInstancesOfNode(CAuLeafNode&, CAuRegisteredObj*, i32, AuCurveInterpolation, AuPlayingID,
                               bool) override {}
    void ReleaseModulatorsOfNode(CAuLeafNode&, CAuRegisteredObj*, AuPlayingID) override {}
    u64 starts = 0;
};

// The event-handler tests' managers, one event with one play of one sound, and starts counted.
struct Managers {
    Managers() {
        const AuMemoryMgrSettings settings{4};
        AU::MemoryMgr::Init(&settings);
        g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 32u << 20, 64, AuPoolAttrMalloc, 0);
        if (road.Init(1u << 20, kObject) != AuResultSuccess) std::abort();
        g_pNodeInstances = &instances;
        sound = CAuSound::Create(kSound);
        play = CreateActionByType(AU_ACTION_PLAY, kAction);
        play->SetElementID(kSound, false);
        event = AuEventRoadManagers::MakeEvent(kEvent, {kAction});
    }
    ~Managers() {
        road.TermAudioMgr();
        event->Release();
        play->Release();
        sound->Release();
        g_pNodeInstances = nullptr;
        road.Term();
        AU::MemoryMgr::Term();
        g_DefaultPoolId = -1;
    }
    AuEventRoadManagers road;
    CountingInstances instances;
    CAuSound* sound;
    CAuAction* play;
    CAuEvent* event;
};

void EventRoadToStart(benchmark::State& state) {
    Managers engine;
    for (auto _ : state) {
        state.PauseTiming();
        for (u32 i = 0; i < kEvents; ++i)
            AU::SoundEngine::PostEvent(kEvent, kObject);
        engine.road.mgr.RenderAudio();
        state.ResumeTiming();
        CAuMainLock lock;
        engine.road.mgr.ProcessMsgQueue();
        engine.road.mgr.ProcessPendingList();
    }
    state.counters["starts_per_pass"] = f64(engine.instances.starts) / f64(state.iterations());
    SetCounters(state);
}
BENCHMARK(EventRoadToStart)->Unit(benchmark::kMicrosecond);

// A master bus and a 5 ms 1 kHz mono PCM click on it, its play and the event.
bankgen::Bytes ClickBank() {
    bankgen::BankBuilder builder(kBank);
    builder.AddMedia(
        kMedia, bankgen::MakePcmWave(bankgen::ToPcm16({bankgen::Sine(1000.0, 0.005, 48000, 0.5)}), 1, 48000));
    bankgen::BusRecord master;
    master.id = kMaster;
    builder.Add(master);
    bankgen::SoundRecord sound;
    sound.id = kSound;
    sound.source.plugin = bankgen::kCodecPcm;
    sound.source.sourceId = kMedia;
    sound.source.fromBank = true;
    sound.node.outputBus = kMaster;
    builder.Add(sound);
    bankgen::ActionRecord play;
    play.id = kAction;
    play.target = kSound;
    play.bankId = kBank;
    builder.Add(play);
    builder.Add(bankgen::EventRecord{kEvent, {kAction}});
    bankgen::Bytes out;
    std::vector<std::string> errors;
    if (!builder.Build(out, errors)) {
        std::fprintf(stderr, "click bank: %s\n", errors.empty() ? "" : errors.front().c_str());
        std::abort();
    }
    return out;
}

// The engine as a game starts it, over the audio stand-in's silent driver pulled by hand. Its
// audio thread is stopped once the bank is in, so that the bench runs each pass itself.
struct RunningEngine {
    RunningEngine() : image(ClickBank()) {
        setenv("SDL_AUDIODRIVER", "dummy", 0);
        audiotest::UseManualOutput(true);
        const AuMemoryMgrSettings memory{16};
        AU::MemoryMgr::Init(&memory);
        AuStreamMgrSettings streams;
        AU::StreamMgr::GetDefaultSettings(streams);
        AU::StreamMgr::Create(streams);
        AuDeviceSettings device;
        AU::StreamMgr::GetDefaultDeviceSettings(device);
        io.Init(device);
        AU::StreamMgr::SetFileLocationResolver(&io);
        AuInitSettings settings;
        AU::SoundEngine::GetDefaultInitSettings(settings);
        settings.commandQueueSize = 1u << 20;
        if (AU::SoundEngine::Init(&settings, nullptr) != AuResultSuccess) std::abort();
        AuBankID bank = 0;
        if (AU::SoundEngine::LoadBank(image.data(), static_cast<u32>(image.size()), AU_INVALID_POOL_ID,
                                      bank) != AuResultSuccess ||
            AU::SoundEngine::RegisterGameObj(kObject) != AuResultSuccess)
            std::abort();
        g_pAudioMgr->StopAudioThread();
        g_pInstanceMgr->SetVoiceLimit(2 * kEvents);
    }
    ~RunningEngine() {
        AU::SoundEngine::Term();
        io.Term();
        if (AU::IAuStreamMgr::m_pStreamMgr) AU::IAuStreamMgr::m_pStreamMgr->Destroy();
        AU::MemoryMgr::Term();
        audiotest::UseManualOutput(false);
    }
    // The device takes one frame, and the engine renders what it now needs.
    static void Pass() {
        audiotest::RenderOutput(1024);
        g_pAudioMgr->Perform();
    }
    bankgen::Bytes image;
    CAuDefaultIOHookBlocking io;
};

void EventRoadWithVoices(benchmark::State& state) {
    RunningEngine engine;
    u64 frames = 0, starts = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (u32 i = 0; i < kEvents; ++i)
            AU::SoundEngine::PostEvent(kEvent, kObject);
        AU::SoundEngine::RenderAudio();
        audiotest::RenderOutput(1024);
        const u32 before = g_pAudioMgr->FrameCounter();
        const u32 startedBefore = CAuPlaybackInstance::StartedCount();
        state.ResumeTiming();
        g_pAudioMgr->Perform();
        state.PauseTiming();
        frames += g_pAudioMgr->FrameCounter() - before;
        starts += CAuPlaybackInstance::StartedCount() - startedBefore;
        // The clicks end inside the pass that starts them; a few more leave the engine idle.
        for (int i = 0; i < 4; ++i)
            RunningEngine::Pass();
        state.ResumeTiming();
    }
    state.counters["frames_per_pass"] = f64(frames) / f64(state.iterations());
    state.counters["starts_per_pass"] = f64(starts) / f64(state.iterations());
    SetCounters(state);
}
BENCHMARK(EventRoadWithVoices)->Unit(benchmark::kMicrosecond);

} // namespace
