// Window size, full screen, the renderable and debug lists and the small setters of the device.
#include "DXDevice.h"

#include <Engine.h>
#include <Messages.h>

#include <algorithm>

namespace {

template <class T> void EraseFirst(std::vector<std::weak_ptr<T>>& list, const std::shared_ptr<T>& item) {
    const auto it = std::find_if(list.begin(), list.end(),
                                 [&item](const std::weak_ptr<T>& entry) { return entry.lock() == item; });
    if (it != list.end()) list.erase(it);
}

} // namespace

int DXDevice::Resize(unsigned width, unsigned height) {
    LayoutViewports(width, height);
    // Retry once: after a failure the step's second result is the answer, and nothing later runs.
    if (!ResizeDepthBuffer(width, height)) return ResizeDepthBuffer(width, height) ? 1 : 0;
    if (!ResizeRenderTargetView(width, height)) return ResizeRenderTargetView(width, height) ? 1 : 0;
    UpdateViewports();
    mWidth = width;
    mHeight = height;
    return 1;
}

int DXDevice::ToggleFullscreen() {
    mFullscreen = !mFullscreen;
    Controller::isFullscreened = mFullscreen;
    int result = 1;
    DXGI_MODE_DESC target{};
    if (mFullscreen) {
        SwitchToLargestDisplayMode();
        if (FAILED(mSwapChain->SetFullscreenState(TRUE, nullptr))) result = 0;
        if (!mDisplayModes.empty()) {
            target = mDisplayModes.back();
        } else {
            // No mode to switch to: full screen keeps the current size.
            target.Width = mWidth;
            target.Height = mHeight;
            target.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
        }
        target.RefreshRate = {0, 0};
    } else {
        if (FAILED(mSwapChain->SetFullscreenState(FALSE, nullptr))) result = 0;
        RestoreWindowSize();
        target = {kStartWidth,
                  kStartHeight,
                  {60, 1},
                  DXGI_FORMAT_R8G8B8A8_UNORM,
                  DXGI_MODE_SCANLINE_ORDER_UNSPECIFIED,
                  DXGI_MODE_SCALING_UNSPECIFIED};
    }
    if (SUCCEEDED(mSwapChain->ResizeTarget(&target))) return result;
    PrintHResult(mSwapChain->ResizeTarget(&target));
    return 0;
}

int DXDevice::SwitchToLargestDisplayMode() {
    IDXGIOutput* containing = nullptr;
    if (FAILED(mSwapChain->GetContainingOutput(&containing))) {
        PrintHResult(mSwapChain->GetContainingOutput(&containing));
        if (containing) containing->Release();
        return 0;
    }
    // Every failure below repeats its call once, prints that result and gives up.
    auto fail = [containing](HRESULT again) {
        DXDevice::PrintHResult(again);
        containing->Release();
        return 0;
    };
    UINT count = 0;
    if (FAILED(mOutput->GetDisplayModeList(DXGI_FORMAT_R8G8B8A8_UNORM, DXGI_ENUM_MODES_INTERLACED, &count,
                                           nullptr)))
        return fail(mOutput->GetDisplayModeList(DXGI_FORMAT_R8G8B8A8_UNORM, DXGI_ENUM_MODES_INTERLACED,
                                                &count, nullptr));
    mDisplayModes.assign(count, DXGI_MODE_DESC{});
    if (FAILED(mOutput->GetDisplayModeList(DXGI_FORMAT_R8G8B8A8_UNORM, DXGI_ENUM_MODES_INTERLACED, &count,
                                           mDisplayModes.data())))
        return fail(mOutput->GetDisplayModeList(DXGI_FORMAT_R8G8B8A8_UNORM, DXGI_ENUM_MODES_INTERLACED,
                                                &count, mDisplayModes.data()));
    mDisplayModes.resize(count);
    if (mDisplayModes.empty()) {
        containing->Release();
        return 0;
    }
    // The list is in ascending order: the last mode is the largest.
    const DXGI_MODE_DESC largest = mDisplayModes.back();
    if (FAILED(mSwapChain->ResizeTarget(&largest))) return fail(mSwapChain->ResizeTarget(&largest));
    Resize(largest.Width, largest.Height);
    containing->Release();
    return 1;
}

int DXDevice::RestoreWindowSize() {
    auto size = std::make_shared<WindowSizeMessage>(L"Graphics", 0, 0);
    Engine::ImmediateMessage(size);
    return Resize(unsigned(size->GetWidth()), unsigned(size->GetHeight()));
}

bool DXDevice::SetFullscreen(bool fullscreen) {
    mFullscreen = fullscreen;
    return mFullscreen;
}

void DXDevice::SetBackgroundColor(const Vectormath::Aos::Vector3& color) {
    mBackground[0] = color.getX();
    mBackground[1] = color.getY();
    mBackground[2] = color.getZ();
}

void DXDevice::AddRenderable(const std::shared_ptr<Renderable>& renderable) {
    mRenderables.push_back(renderable);
}

void DXDevice::AddDebugObject(const std::shared_ptr<Debug>& debug) {
    mDebugObjects.push_back(debug);
}

void DXDevice::RemoveRenderable(const std::shared_ptr<Renderable>& renderable) {
    EraseFirst(mRenderables, renderable);
}

void DXDevice::RemoveDebugObject(const std::shared_ptr<Debug>& debug) {
    EraseFirst(mDebugObjects, debug);
}
