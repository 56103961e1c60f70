// One game frame of the scene passes, as the graphics system runs it (UpdateScene, Render, Present)
// on the CPU rasteriser into the offscreen window: a level like the default one with about 300
// renderables on "splashcube" in a grid, 16 lights, 20 transparent meshes and debug shapes on, seen
// by one or four player cameras, each on every hardware thread and on two. The per-frame console lines go to
// a buffered sink. Reports the mean and the 95th percentile of the frame time; Present waits for the 60 Hz
// beat, so no frame measures under 16.7 ms.
#include <ComponentAccessors.h>
#include <DXDevice.h>
#include <Engine.h>
#include <ObjectFactory.h>
#include <d3d11_test_control.h>
#include <resources/ResourceHub.h>

#include <SDL.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace {

using Vectormath::Aos::Vector3;
using Vectormath::Aos::Vector4;

template <class T> std::shared_ptr<T> Give(const std::shared_ptr<Object>& object, const char* name) {
    return std::static_pointer_cast<T>(Engine::mFactory->GiveObjectComponent(object, std::string(name)));
}

std::shared_ptr<Object> MakeObject(const Vector3& position) {
    std::shared_ptr<Object> object = Engine::mFactory->CreateGenericObject().lock();
    Give<Transform>(object, "Transform")->SetWorldPosition(position);
    return object;
}

// Standard output into /dev/null, through the stream's own buffer, for the life of the object.
class QuietStdout {
public:
    QuietStdout() {
        std::fflush(stdout);
        mSaved = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        dup2(mSaved, STDOUT_FILENO);
        close(mSaved);
    }

private:
    int mSaved = -1;
};

void SceneFrame(benchmark::State& state) {
    const unsigned players = unsigned(state.range(0));
    // 0: every hardware thread rasterises; 2 stands for the CI machine.
    d3d11test::SetRasterThreads(unsigned(state.range(1)));
    // The run-time tree: "..\..\Resources" from the game's working directory.
    std::filesystem::current_path(TORVIK_BIN_DIR);
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    SDL_InitSubSystem(SDL_INIT_VIDEO);
    SDL_Window* window = SDL_CreateWindow("bench", 0, 0, 1600, 900, SDL_WINDOW_HIDDEN);
    auto* device = new DXDevice(window, nullptr, nullptr);
    ResourceHub* hub = nullptr;
    {
        QuietStdout quiet;
        if (!device->InitDevice()) {
            state.SkipWithError("no device");
            return;
        }
        hub = new ResourceHub(device, 0);
        device->InitPipeline(hub);
    }

    // A 20 x 15 grid of cubes with colliders on the floor of the level; 20 of them glass.
    int index = 0;
    for (int z = 0; z < 15; ++z)
        for (int x = 0; x < 20; ++x, ++index) {
            auto object = MakeObject(Vector3(float(x) * 2.0f - 19.0f, 0.0f, -float(z) * 2.0f));
            auto collider = Give<Collider>(object, "Collider");
            collider->SetShapeType(ShapeType::AABB);
            collider->SetHalfExtents(Vector3(0.5f));
            auto renderable = Give<Renderable>(object, "Renderable");
            renderable->SetModel("splashcube");
            renderable->SetColor(Vector4(1, 1, 1, index % 15 == 0 ? 0.5f : 1.0f));
            renderable->SetTransparency(index % 15 == 0);
            device->AddRenderable(renderable);
            if (index % 10 == 0) {
                auto debug = Give<Debug>(object, "Debug");
                debug->SetDrawFlags(DEBUG_DRAW_SHAPES);
                device->AddDebugObject(debug);
            }
        }
    for (int i = 0; i < 16; ++i) {
        auto light = Give<Light>(
            MakeObject(Vector3(float(i % 4) * 10.0f - 15.0f, 3.0f, -float(i / 4) * 8.0f)), "Light");
        light->SetRange(12.0f);
    }
    Engine::RunFrames(1, 0.016f); // the lights reach the device
    for (unsigned n = 1; n <= players; ++n) {
        auto object = MakeObject(Vector3(float(n) * 4.0f - 10.0f, 4.0f, 12.0f));
        auto camera = Give<Camera>(object, "Camera");
        camera->SetLocalDirections(normalize(Vector3(0.0f, -0.3f, -1.0f)), Vector3(0, 1, 0));
        device->AddCamera(camera);
        device->SetPlayerCamera(camera, n);
    }
    device->SetPlayerCount(players);

    std::vector<double> ms;
    {
        QuietStdout quiet;
        for (auto _ : state) {
            const auto start = std::chrono::steady_clock::now();
            device->UpdateScene();
            device->Render();
            device->Present();
            ms.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        }
    }
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double v : ms)
        sum += v;
    state.counters["mean_ms"] = sum / double(ms.size());
    state.counters["p95_ms"] = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];

    Engine::mFactory->DestroyAllObjects();
    hub->Release();
    delete hub;
    device->ReleaseDevice();
    delete device;
    Engine::Release();
    SDL_DestroyWindow(window);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    d3d11test::SetRasterThreads(0);
}

// Arguments: players, rasterising threads.
BENCHMARK(SceneFrame)
    ->Args({1, 0})
    ->Args({4, 0})
    ->Args({1, 2})
    ->Args({4, 2})
    ->Iterations(300)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
