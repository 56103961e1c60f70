// Shared helpers of the graphics tests: a message recorder, a recording iDevice, and a window with
// the engine's window system around a graphics system.
#pragma once

#include <Callable.h>
#include <Engine.h>
#include <GraphicsSystem.h>
#include <Messages.h>
#include <WindowSystem.h>
#include <d3d11_test_control.h>
#include <iDevice.h>

#include <MessageRecorder.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace gfxtest {

using Recorder = MessageRecorder;

// Writes each call as a line ("Resize 1280 720"); full screen and viewports as a device would.
class RecordingDevice : public iDevice {
public:
    bool InitDevice() override { return Log("InitDevice"), true; }
    bool InitPipeline(ResourceHub*) override { return Log("InitPipeline"), true; }
    bool UpdateScene() override { return Log("UpdateScene"), true; }
    int Render() override { return Log("Render"), 1; }
    int RenderCameras() override { return 1; }
    int ComposeViewports() override { return 1; }
    int ReleaseDevice() override { return Log("ReleaseDevice"), 1; }
    bool IsFullscreen() override { return fullscreen; }
    bool SetFullscreen(bool f) override {
        Log("SetFullscreen " + std::to_string(f));
        return fullscreen = f;
    }
    int GetWidth() override { return 1600; }
    int GetHeight() override { return 900; }
    void SetBackgroundColor(const Vectormath::Aos::Vector3&) override { Log("SetBackgroundColor"); }
    int ToggleFullscreen() override {
        fullscreen = !fullscreen;
        return Log("ToggleFullscreen"), 1;
    }
    int NoOpTrueWithArgs(int, int, int, int, int, int) override { return 1; }
    int NoOpTrue() override { return 1; }
    int Present() override { return Log("Present"), 1; }
    float GetAspectRatio() override { return 16.0f / 9.0f; }
    Vectormath::Aos::Vector4 GetZeroVector() override { return {}; }
    Vectormath::Aos::Vector4 GetZeroVector2() override { return {}; }
    void AddRenderable(const std::shared_ptr<Renderable>& r) override { LogObject("AddRenderable", *r); }
    void AddDebugObject(const std::shared_ptr<Debug>& d) override { LogObject("AddDebugObject", *d); }
    void RemoveRenderable(const std::shared_ptr<Renderable>& r) override {
        LogObject("RemoveRenderable", *r);
    }
    void RemoveDebugObject(const std::shared_ptr<Debug>& d) override { LogObject("RemoveDebugObject", *d); }
    int AddCamera(const std::shared_ptr<Camera>& c) override { return LogObject("AddCamera", *c), 1; }
    void RemoveCamera(const std::shared_ptr<Camera>& c) override { LogObject("RemoveCamera", *c); }
    int Resize(unsigned w, unsigned h) override {
        return Log("Resize " + std::to_string(w) + " " + std::to_string(h)), 1;
    }
    void SetPlayerCamera(const std::shared_ptr<Camera>& c, unsigned n) override {
        Log("SetPlayerCamera " + std::string(c ? "camera" : "none") + " " + std::to_string(n));
    }
    void SetPlayerCount(unsigned count) override { Log("SetPlayerCount " + std::to_string(count)); }
    // Players 1 to 4 each have a viewport of their own.
    const D3D11_VIEWPORT* GetPlayerViewport(unsigned n) override {
        if (n < 1 || n > 4) return nullptr;
        viewport = {float(10 * n), float(20 * n), float(100 * n), float(50 * n), 0.0f, 1.0f};
        return &viewport;
    }

    void Log(const std::string& line) { calls->push_back(line); }
    void LogObject(const std::string& what, const Component& c) {
        const auto object = c.GetParent().lock();
        Log(what + " " + std::to_string(object ? object->GetID() : 0));
    }

    // Shared with the test so that it outlives the device, which the system deletes.
    std::shared_ptr<std::vector<std::string>> calls = std::make_shared<std::vector<std::string>>();
    bool fullscreen = true;
    D3D11_VIEWPORT viewport{};
};

// Message boxes are counted, never shown.
inline int& BoxCount() {
    static int count = 0;
    return count;
}
inline void InstallBoxCounter() {
    WindowSystem::SetMessageBoxFunction([](Uint32, const char*, const char*, SDL_Window*) {
        ++BoxCount();
        return 0;
    });
}

} // namespace gfxtest
