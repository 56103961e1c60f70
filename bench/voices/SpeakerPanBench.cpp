// The angular panner's cost per voice update (GetSpeakerVolumes3D of a mono and a stereo source
// at spread 0, 50 and 100 on stereo and 5.1 outputs, focus 0), the time to rebuild an output
// device's pan tables after its angles change, and one 2D matrix of a stereo source on 5.1.
// Times are per call, in microseconds.
#include "voices/AuMixKernels.h"
#include "voices/AuOutputDevice.h"
#include "voices/AuSpeakerPan.h"

#include <AU/MemoryMgr.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The memory manager with the two pools the device needs, for the whole program.
struct Pools {
    Pools() {
        const AuMemoryMgrSettings settings{8};
        AU::MemoryMgr::Init(&settings);
        g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 4u << 20, 64, AuPoolAttrMalloc, 0);
        g_LEngineDefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 1u << 20, 64, AuPoolAttrMalloc, 16);
        CAuSpeakerPan::Init();
    }
};

// A device with the default angles of its layout.
struct Device {
    explicit Device(AuChannelConfig layout) {
        static Pools pools;
        f32 degrees[AU_NUM_SPEAKER_ANGLES];
        f32 height = 0;
        CAuSpeakerPan::GetDefaultSpeakerAngles(layout, degrees, height);
        if (device.SetSpeakerAngles(degrees, AU_NUM_SPEAKER_ANGLES, height) != AuResultSuccess)
            std::fprintf(stderr, "speaker angles refused\n");
        CAuSpeakerPan::PreparePanTables(device, layout);
    }
    ~Device() { device.Destroy(); }
    CAuOutputDevice device;
};

AuChannelConfig Output(i64 which) {
    return AuChannelConfig::Standard(which == 0 ? AU_SPEAKER_SETUP_STEREO : AU_SPEAKER_SETUP_5POINT1);
}

// Args: output (0 stereo, 1 5.1), spread percent, input channels.
void BM_GetSpeakerVolumes3D(benchmark::State& state) {
    const AuChannelConfig output = Output(state.range(0));
    Device device(output);
    const f32 spread = static_cast<f32>(state.range(1));
    const u32 inputs = static_cast<u32>(state.range(2));
    std::vector<f32> matrix(inputs * AuMatrixRowStride(output.NumChannels()));
    f32 azimuth = 0.0f;
    for (auto _ : state) {
        CAuSpeakerPan::GetSpeakerVolumes3D(azimuth, 0.0f, spread, 0.0f, matrix.data(), inputs, output,
                                           device.device);
        benchmark::DoNotOptimize(matrix.data());
        // A moving source: a new direction every update.
        azimuth += 0.01f;
        if (azimuth > 3.1f) azimuth = -3.1f;
    }
    state.SetLabel(std::string(state.range(0) == 0 ? "stereo out" : "5.1 out") + ", spread " +
                   std::to_string(state.range(1)) + ", " + std::to_string(inputs) + " in");
}
BENCHMARK(BM_GetSpeakerVolumes3D)->ArgsProduct({{0, 1}, {0, 50, 100}, {1, 2}})->Unit(benchmark::kMicrosecond);

// The tables of a 5.1 device (with and without its centre) rebuilt by a change of angles.
void BM_RebuildPanTables(benchmark::State& state) {
    Device device(Output(1));
    const f32 angles[2][AU_NUM_SPEAKER_ANGLES] = {{30, 110, 142.5f}, {25, 105, 140}};
    u32 which = 0;
    for (auto _ : state) {
        device.device.SetSpeakerAngles(angles[which], AU_NUM_SPEAKER_ANGLES, 0.0f);
        which ^= 1;
        benchmark::DoNotOptimize(device.device.panTables.Count());
    }
    state.SetLabel(std::to_string(device.device.panTables.Count()) + " tables");
}
BENCHMARK(BM_RebuildPanTables)->Unit(benchmark::kMicrosecond);

void BM_ComputeMixingMatrixStereoOn51(benchmark::State& state) {
    const AuChannelConfig input = AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO);
    const AuChannelConfig output = Output(1);
    f32 matrix[2 * 8];
    f32 x = 0.0f;
    for (auto _ : state) {
        CAuSpeakerPan::ComputeMixingMatrix(x, 0.7f, 0.3f, true, input, output, matrix);
        benchmark::DoNotOptimize(matrix);
        x = x > 1.0f ? 0.0f : x + 0.01f;
    }
}
BENCHMARK(BM_ComputeMixingMatrixStereoOn51)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
