// The graphics system's rendering device. DXDevice implements it on Direct3D 11; tests drive the
// graphics system and its message handler through recording implementations.
#pragma once

#include <Components.h>
#include <Vectormath.h>
#include <d3d11.h>

#include <memory>
#include <vector>

class ResourceHub;

class iDevice {
public:
    virtual ~iDevice();

    virtual bool InitDevice() = 0;
    virtual bool InitPipeline(ResourceHub* hub) = 0;
    virtual bool UpdateScene() = 0;
    // Greater than 0 on success.
    virtual int Render() = 0;
    virtual int RenderCameras() = 0;
    virtual int ComposeViewports() = 0;
    virtual int ReleaseDevice() = 0;
    virtual bool IsFullscreen() = 0;
    // Stores the flag only; the swap chain is left as it is.
    virtual bool SetFullscreen(bool fullscreen) = 0;
    virtual int GetWidth() = 0;
    virtual int GetHeight() = 0;
    virtual void SetBackgroundColor(const Vectormath::Aos::Vector3& color) = 0;
    virtual int ToggleFullscreen() = 0;
    virtual int NoOpTrueWithArgs(int, int, int, int, int, int) = 0;
    virtual int NoOpTrue() = 0;
    virtual int Present() = 0;
    virtual float GetAspectRatio() = 0;
    virtual Vectormath::Aos::Vector4 GetZeroVector() = 0;
    virtual Vectormath::Aos::Vector4 GetZeroVector2() = 0;
    virtual void AddRenderable(const std::shared_ptr<Renderable>& renderable) = 0;
    virtual void AddDebugObject(const std::shared_ptr<Debug>& debug) = 0;
    virtual void RemoveRenderable(const std::shared_ptr<Renderable>& renderable) = 0;
    virtual void RemoveDebugObject(const std::shared_ptr<Debug>& debug) = 0;
    virtual int AddCamera(const std::shared_ptr<Camera>& camera) = 0;
    virtual void RemoveCamera(const std::shared_ptr<Camera>& camera) = 0;
    virtual int Resize(unsigned width, unsigned height) = 0;
    virtual void SetPlayerCamera(const std::shared_ptr<Camera>& camera, unsigned player) = 0;
    virtual void SetPlayerCount(unsigned count) = 0;
    // The viewport of player n (1 to 4) under the current player count; null when there is none.
    // The handler and the HUD reach it through the device they hold, so it is part of the interface.
    virtual const D3D11_VIEWPORT* GetPlayerViewport(unsigned player) = 0;

    unsigned mPlayerCount = 0;
    std::vector<std::weak_ptr<Camera>> mCameras;
    std::vector<std::weak_ptr<Renderable>> mRenderables;
    std::vector<std::weak_ptr<Debug>> mDebugObjects;
};
