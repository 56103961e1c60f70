// The fast power of ten beside std::pow and exp2f on the same exponents, curve evaluation, the
// keyed-value lookup with fall-back on a tree of 1000 game objects x 10 playing IDs, game-
// parameter sets fanned out to 100 subscriptions with values for 1000 game objects, and the game
// syncs: a state set on a group of 1000 member nodes, a switch set heard by 100 followers, and
// switch reads, stored and parameter-driven; each set against the audio frame's budget. The
// modulators: each LFO waveform and the envelope at audio rate in ns per sample beside a plain
// std::sin and linear-ramp loop, and the frame update of 256 contexts, half at audio rate.
#include "core/AuEngineManagers.h"
#include "core/AuObjectIndex.h"
#include "hierarchy/AuSound.h"
#include "parameters/AuFastMath.h"
#include "parameters/AuKeyedValues.h"
#include "parameters/AuModulator.h"
#include "parameters/AuModulatorMgr.h"
#include "parameters/AuParamCurve.h"
#include "parameters/AuRTPCMgr.h"
#include "parameters/AuStateMgr.h"
#include "parameters/AuSwitchMgr.h"

#include <AU/MemoryMgr.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr size_t kInputs = 4096;

std::vector<f32> Decibels() {
    std::mt19937 random(7);
    std::uniform_real_distribution<f32> dB(-96.3f, 24.0f);
    std::vector<f32> values(kInputs);
    for (f32& v : values)
        v = dB(random);
    return values;
}

void DbToGainFast(benchmark::State& state) {
    const std::vector<f32> dB = Decibels();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(AuDbToLinear(dB[i]));
        i = (i + 1) % kInputs;
    }
}
BENCHMARK(DbToGainFast);

void DbToGainStdPow(benchmark::State& state) {
    const std::vector<f32> dB = Decibels();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::pow(10.0f, dB[i] * 0.05f));
        i = (i + 1) % kInputs;
    }
}
BENCHMARK(DbToGainStdPow);

void DbToGainExp2f(benchmark::State& state) {
    const std::vector<f32> dB = Decibels();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(exp2f(dB[i] * (0.05f * 3.321928f)));
        i = (i + 1) % kInputs;
    }
}
BENCHMARK(DbToGainExp2f);

// A block of gains, as a voice's level is converted per buffer.
void DbToGainBlockFast(benchmark::State& state) {
    const std::vector<f32> dB = Decibels();
    std::vector<f32> gains(kInputs);
    for (auto _ : state) {
        for (size_t i = 0; i < kInputs; ++i)
            gains[i] = AuDbToLinear(dB[i]);
        benchmark::DoNotOptimize(gains.data());
    }
    state.SetItemsProcessed(state.iterations() * kInputs);
}
BENCHMARK(DbToGainBlockFast);

void DbToGainBlockStdPow(benchmark::State& state) {
    const std::vector<f32> dB = Decibels();
    std::vector<f32> gains(kInputs);
    for (auto _ : state) {
        for (size_t i = 0; i < kInputs; ++i)
            gains[i] = std::pow(10.0f, dB[i] * 0.05f);
        benchmark::DoNotOptimize(gains.data());
    }
    state.SetItemsProcessed(state.iterations() * kInputs);
}
BENCHMARK(DbToGainBlockStdPow);

// The engine's default pool for the benchmarks that allocate.
class PoolScope {
public:
    PoolScope() {
        const AuMemoryMgrSettings settings{4};
        AU::MemoryMgr::Init(&settings);
        g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 16u << 20, 64, AuPoolAttrMalloc, 0);
    }
    ~PoolScope() {
        AU::MemoryMgr::Term();
        g_DefaultPoolId = -1;
    }
};

void CurveConvert16Points(benchmark::State& state) {
    PoolScope pool;
    std::vector<AuCurvePoint> points;
    for (u32 i = 0; i < 16; ++i)
        points.push_back({f32(i) * 100.0f / 15.0f, -96.3f + f32(i) * 6.0f,
                          i % 2 ? AuCurveInterpolation_Linear : AuCurveInterpolation_EaseOutCubic});
    CAuParamCurve curve;
    curve.Set(points.data(), u32(points.size()), u32(state.range(0)));
    std::mt19937 random(16);
    std::uniform_real_distribution<f32> x(-5.0f, 105.0f);
    std::vector<f32> inputs(kInputs);
    for (f32& v : inputs)
        v = x(random);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(curve.Convert(inputs[i]));
        i = (i + 1) % kInputs;
    }
}
BENCHMARK(CurveConvert16Points)->Arg(AuCurveScaling_None)->Arg(AuCurveScaling_DbToLinear);

// 1000 objects x 10 playing IDs, half of the objects also with a value of their own; requests
// for (object, playing ID) hit exactly, fall back to the object, or to the global value.
void KeyedFindValue(benchmark::State& state) {
    PoolScope pool;
    {
        CAuKeyedValues<f32> values;
        *values.CreateSlot(AuRTPCKey{}) = 1.0f;
        const auto object = [](u32 i) {
            return reinterpret_cast<CAuRegisteredObj*>(uintptr_t(0x10000 + i * 64));
        };
        for (u32 o = 0; o < 1000; ++o) {
            if (o % 2) *values.CreateSlot(AuRTPCKey(object(o))) = f32(o);
            for (u32 p = 1; p <= 10; ++p) {
                AuRTPCKey key(object(o));
                key.playingID = p * 2; // even IDs stored, odd ones fall back
                *values.CreateSlot(key) = f32(p);
            }
        }
        std::mt19937 random(1000);
        std::vector<AuRTPCKey> requests(kInputs);
        for (AuRTPCKey& key : requests) {
            key = AuRTPCKey(object(random() % 1200)); // some objects have no values at all
            key.playingID = 1 + random() % 20;
        }
        size_t i = 0;
        for (auto _ : state) {
            AuRTPCKey key = requests[i];
            benchmark::DoNotOptimize(values.FindValue(key));
            i = (i + 1) % kInputs;
        }
    }
}
BENCHMARK(KeyedFindValue);

// A node that takes the value and, while narrower values exist, asks the filter about a few of
// its objects, as a node updating its playing objects does.
class ProbingNode : public IAuNodeSubscriber {
public:
    bool HasActivity() noexcept override { return true; }
    void SetParamFromRTPC(const AuRTPCSubscription&, u32, u32, f32 value, const AuRTPCKey&,
                          const CAuRTPCFilter* filter) noexcept override {
        sum += value;
        if (filter)
            for (const AuRTPCKey& key : probes)
                skipped += filter->SkipKey(key);
    }
    void RecalcProps(u32) noexcept override {}
    std::vector<AuRTPCKey> probes;
    f32 sum = 0;
    u32 skipped = 0;
};

// arg 0: sets for one object at a time; 1: global sets, each node probing 10 objects.
void RTPCSetFanOut(benchmark::State& state) {
    PoolScope pool;
    {
        CAuTransitionMgr transitions;
        transitions.Init(0);
        g_pTransitionMgr = &transitions;
        CAuRTPCMgr mgr;
        mgr.Init();
        constexpr u32 kParam = 77;
        const auto object = [](u32 i) {
            return reinterpret_cast<CAuRegisteredObj*>(uintptr_t(0x10000 + i * 64));
        };
        const AuCurvePoint curve[] = {{0, -96.3f, AuCurveInterpolation_Linear},
                                      {100, 0, AuCurveInterpolation_Linear}};
        std::vector<ProbingNode> nodes(100);
        for (u32 n = 0; n < nodes.size(); ++n) {
            for (u32 p = 0; p < 10; ++p)
                nodes[n].probes.push_back(AuRTPCKey(object((n * 10 + p) % 1000)));
            mgr.SubscribeRTPC(&nodes[n], kParam, AuRTPCDrivingType_GameParameter, AuRTPCMode_Single, 5, 1,
                              AuCurveScaling_None, curve, 2, AuRTPCKey{}, AuRTPCSubscriberKind_Node);
        }
        for (u32 o = 0; o < 1000; o += 2)
            mgr.SetRTPCImmediate(kParam, f32(o % 100), AuRTPCKey(object(o)));
        const bool global = state.range(0) == 1;
        u32 i = 0;
        for (auto _ : state) {
            const f32 value = f32(i % 97) + 0.5f; // never the value the key holds
            mgr.SetRTPCImmediate(kParam, value, global ? AuRTPCKey{} : AuRTPCKey(object(i % 1000)));
            ++i;
        }
        state.SetItemsProcessed(state.iterations());
        benchmark::DoNotOptimize(nodes[0].sum);
        mgr.Term();
        transitions.Term();
        g_pTransitionMgr = nullptr;
    }
}
BENCHMARK(RTPCSetFanOut)->Arg(0)->Arg(1);

// 1000 sounds follow one group whose two states give property 0 different volumes; each set
// moves every member to the other state over 100 ms (the runs already under way are retargeted).
void StateSet1000Members(benchmark::State& state) {
    PoolScope pool;
    {
        CAuObjectIndex index;
        index.Init();
        g_pIndex = &index;
        CAuRTPCMgr rtpc;
        rtpc.Init();
        g_pRTPCMgr = &rtpc;
        CAuTransitionMgr transitions;
        transitions.Init(2048);
        g_pTransitionMgr = &transitions;
        CAuStateMgr states;
        states.Init();
        g_pStateMgr = &states;
        AuSetStateMembership(&states);
        constexpr u32 kGroup = 9, kStates = 2;
        states.AddStateGroup(kGroup);
        states.SetDefaultTransitionTime(kGroup, 100);
        CAuState* objects[kStates];
        for (u32 s = 0; s < kStates; ++s) {
            objects[s] = CAuState::Create(100 + s);
            AuPropValue volume;
            volume.f = s == 0 ? -6.0f : -12.0f;
            objects[s]->Props().SetValue(0, volume);
        }
        std::vector<CAuSound*> sounds;
        for (u32 n = 0; n < 1000; ++n) {
            CAuSound* sound = CAuSound::Create(1000 + n);
            CAuStateGroupRecord* record = sound->AddStateGroup(kGroup);
            for (u32 s = 0; s < kStates; ++s)
                record->LinkState(1 + s, 100 + s);
            sounds.push_back(sound);
        }
        u32 i = 0;
        for (auto _ : state)
            states.SetState(kGroup, 1 + (i++ % kStates), false, false);
        state.SetItemsProcessed(state.iterations());
        for (CAuSound* sound : sounds)
            sound->Release();
        for (CAuState* object : objects)
            object->Release();
        AuSetStateMembership(nullptr);
        states.Term();
        g_pStateMgr = nullptr;
        transitions.Term();
        g_pTransitionMgr = nullptr;
        rtpc.Term();
        g_pRTPCMgr = nullptr;
        index.Term();
        g_pIndex = nullptr;
    }
}
BENCHMARK(StateSet1000Members)->Unit(benchmark::kMicrosecond);

class CountingFollower final : public CAuSwitchAware {
public:
    void SetSwitch(u32 switchID, const AuRTPCKey&, const CAuRTPCFilter*) noexcept override {
        sum += switchID;
    }
    u32 sum = 0;
};

CAuRegisteredObj* BenchObject(u32 i) {
    return reinterpret_cast<CAuRegisteredObj*>(uintptr_t(0x10000 + i * 64));
}

// A switch set for one of 1000 objects, heard by the group's 100 followers.
void SwitchSet100Followers(benchmark::State& state) {
    PoolScope pool;
    {
        CAuSwitchMgr switches;
        switches.Init();
        g_pSwitchMgr = &switches;
        std::vector<CountingFollower> followers(100);
        for (CountingFollower& follower : followers)
            switches.SubscribeSwitch(&follower, 5);
        u32 i = 0;
        for (auto _ : state) {
            switches.SetSwitch(5, 1 + i % 7, BenchObject(i % 1000));
            ++i;
        }
        state.SetItemsProcessed(state.iterations());
        benchmark::DoNotOptimize(followers[0].sum);
        switches.Term();
        g_pSwitchMgr = nullptr;
    }
}
BENCHMARK(SwitchSet100Followers);

// arg 0: the values stored for 1000 objects; 1: a group driven by a game parameter with values
// for 1000 objects, mapped through 8 points.
void GetSwitch(benchmark::State& state) {
    PoolScope pool;
    {
        CAuRTPCMgr rtpc;
        rtpc.Init();
        g_pRTPCMgr = &rtpc;
        CAuSwitchMgr switches;
        switches.Init();
        g_pSwitchMgr = &switches;
        constexpr u32 kGroup = 5, kParam = 77;
        if (state.range(0) == 1) {
            std::vector<AuBankSwitchPoint> points;
            for (u32 p = 0; p < 8; ++p)
                points.push_back({f32(p * 10), 100 + p, AuCurveInterpolation_Linear});
            switches.AddSwitchRTPC(kGroup, kParam, AuRTPCDrivingType_GameParameter, points.data(), 8);
            for (u32 o = 0; o < 1000; ++o)
                rtpc.SetRTPCImmediate(kParam, f32(o % 80), AuRTPCKey(BenchObject(o)));
        } else {
            for (u32 o = 0; o < 1000; ++o)
                switches.SetSwitch(kGroup, 100 + o % 8, BenchObject(o));
        }
        u32 i = 0;
        for (auto _ : state)
            benchmark::DoNotOptimize(switches.GetSwitch(kGroup, AuRTPCKey(BenchObject(i++ % 1000))));
        state.SetItemsProcessed(state.iterations());
        switches.Term();
        g_pSwitchMgr = nullptr;
        rtpc.Term();
        g_pRTPCMgr = nullptr;
    }
}
BENCHMARK(GetSwitch)->Arg(0)->Arg(1);

// Keeps each run's time so the fast conversions can be set against their references.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                ns[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    std::map<std::string, double> ns;
};

constexpr u32 kFrame = 1024;

void LfoWaveform(benchmark::State& state) {
    AuLfoOscillator osc;
    osc.SetWaveform(static_cast<u32>(state.range(0)));
    osc.SetFrequency(30.0f);
    std::vector<f32> out(kFrame);
    for (auto _ : state) {
        AuGenerateLfoWaveform(osc, out.data(), kFrame, 0.5f, 0.0f, 0.3f);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kFrame);
}
BENCHMARK(LfoWaveform)->DenseRange(0, 4);

void EnvelopeFill(benchmark::State& state) {
    AuEnvelopeShape shape;
    shape.attack = 480;
    shape.decay = 960;
    shape.release = 2000;
    shape.releaseStart = 2000;
    std::vector<f32> out(kFrame);
    u64 t0 = 0;
    for (auto _ : state) {
        shape.Fill(out.data(), kFrame, t0);
        t0 = (t0 + kFrame) % 4096; // through every segment in turn
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kFrame);
}
BENCHMARK(EnvelopeFill);

void PlainSin(benchmark::State& state) {
    std::vector<f32> out(kFrame);
    f32 phase = 0.0f;
    const f32 step = 30.0f / 48000.0f * 6.2831853f;
    for (auto _ : state) {
        for (u32 i = 0; i < kFrame; ++i) {
            phase += step;
            if (phase >= 6.2831853f) phase -= 6.2831853f;
            out[i] = (1.0f + std::sin(phase)) * 0.25f;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kFrame);
}
BENCHMARK(PlainSin);

void PlainRamp(benchmark::State& state) {
    std::vector<f32> out(kFrame);
    f32 from = 0.0f;
    for (auto _ : state) {
        const f32 step = (1.0f - from) / kFrame;
        for (u32 i = 0; i < kFrame; ++i)
            out[i] = from + step * f32(i + 1);
        from = out[kFrame - 1] * 0.5f;
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kFrame);
}
BENCHMARK(PlainRamp);

// 256 contexts over 256 objects: 128 of a 30 Hz LFO allowed audio rate, 128 of a 1 Hz one.
void ModulatorUpdate256(benchmark::State& state) {
    PoolScope pool;
    {
        CAuObjectIndex index;
        index.Init();
        g_pIndex = &index;
        CAuRTPCMgr rtpc;
        rtpc.Init();
        g_pRTPCMgr = &rtpc;
        CAuModulatorMgr manager;
        manager.Init();
        g_pModulatorMgr = &manager;
        CAuModulator* fast = CAuModulator::Create(1, AuModulatorKind_Lfo);
        CAuModulator* slow = CAuModulator::Create(2, AuModulatorKind_Lfo);
        // Scope 2 (per object), depth 100 %, no attack, 30 Hz and 1 Hz.
        const u8 fastRecord[] = {1, 0,    0,    0, 4, 0, 2, 3, 4, 2,    0,    0, 0, 0,
                                 0, 0xC8, 0x42, 0, 0, 0, 0, 0, 0, 0xF0, 0x41, 0, 0, 0};
        const u8 slowRecord[] = {2, 0,    0,    0, 4, 0, 2, 3, 4, 2,    0,    0, 0, 0,
                                 0, 0xC8, 0x42, 0, 0, 0, 0, 0, 0, 0x80, 0x3F, 0, 0, 0};
        fast->SetInitialValues(fastRecord, sizeof(fastRecord));
        slow->SetInitialValues(slowRecord, sizeof(slowRecord));
        AuRTPCSubscription volume{};
        volume.kind = AuRTPCSubscriberKind_Node;
        fast->AddKeyInstance(&volume);
        static char objects[128];
        for (u32 i = 0; i < 128; ++i) {
            AuModulatorTrigger trigger;
            trigger.pGameObj = reinterpret_cast<CAuRegisteredObj*>(&objects[i]);
            fast->Trigger(trigger, *manager.Engine(), nullptr);
            slow->Trigger(trigger, *manager.Engine(), nullptr);
        }
        for (auto _ : state)
            manager.Update();
        state.counters["contexts"] = manager.Engine()->Count();
        fast->Release();
        slow->Release();
        manager.Term();
        g_pModulatorMgr = nullptr;
        rtpc.Term();
        g_pRTPCMgr = nullptr;
        index.Term();
        g_pIndex = nullptr;
    }
}
BENCHMARK(ModulatorUpdate256)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const std::pair<const char*, const char*> pairs[] = {{"DbToGainFast", "DbToGainStdPow"},
                                                         {"DbToGainFast", "DbToGainExp2f"},
                                                         {"DbToGainBlockFast", "DbToGainBlockStdPow"}};
    for (const auto& [fast, reference] : pairs) {
        const auto a = reporter.ns.find(fast);
        const auto b = reporter.ns.find(reference);
        if (a != reporter.ns.end() && b != reporter.ns.end())
            printf("%s / %s time: %.2f (%.1f ns vs %.1f ns)\n", fast, reference, a->second / b->second,
                   a->second, b->second);
    }
    // The audio frame's budget: 1024 samples at 48000 Hz.
    constexpr double kFrameNs = 1024.0 / 48000.0 * 1e9;
    const std::pair<const char*, const char*> syncs[] = {
        {"StateSet1000Members", "SetState, 1000 members"},
        {"SwitchSet100Followers", "SetSwitch, 100 followers"},
        {"GetSwitch/0", "GetSwitch, stored"},
        {"GetSwitch/1", "GetSwitch, parameter-driven"}};
    for (const auto& [name, what] : syncs) {
        const auto run = reporter.ns.find(name);
        if (run == reporter.ns.end()) continue;
        // The reporter keeps each run in its own unit: microseconds for the state set.
        const double ns = std::string(name) == "StateSet1000Members" ? run->second * 1e3 : run->second;
        printf("%s: %.3f us (%.0f ns), %.4f %% of a %.2f ms frame\n", what, ns / 1e3, ns,
               100.0 * ns / kFrameNs, kFrameNs / 1e6);
    }
    const char* waves[] = {"LfoWaveform/0", "LfoWaveform/1", "LfoWaveform/2", "LfoWaveform/3",
                           "LfoWaveform/4", "EnvelopeFill",  "PlainSin",      "PlainRamp"};
    for (const char* name : waves) {
        const auto run = reporter.ns.find(name);
        if (run != reporter.ns.end()) printf("%s: %.2f ns per sample\n", name, run->second / kFrame);
    }
    if (const auto run = reporter.ns.find("ModulatorUpdate256"); run != reporter.ns.end()) {
        printf("modulator update, 256 contexts (128 at audio rate): %.1f us per frame, %.3f %% of a frame\n",
               run->second, 100.0 * run->second * 1e3 / kFrameNs);
    }
    benchmark::Shutdown();
    return 0;
}
