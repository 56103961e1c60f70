// Cameras, their off-screen targets, the player slots and the split-screen viewport layout.
#include "DXDevice.h"

#include <algorithm>
#include <cstdio>

static_assert(Camera::kMaxSide == D3D11_REQ_TEXTURE2D_U_OR_V_DIMENSION);

namespace {

template <class T> void SafeRelease(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

// The viewport records, in their fixed order.
enum Record { kFull = 0, kOne = 1, kTwoFirst = 2, kTwoSecond = 3, kThreeFirst = 4, kFourFirst = 7 };

} // namespace

void DXDevice::ReleaseTarget(CameraTarget& target) {
    SafeRelease(target.renderTarget);
    SafeRelease(target.depthStencil);
    SafeRelease(target.shaderResource);
    SafeRelease(target.colour);
}

int DXDevice::AddCamera(const std::shared_ptr<Camera>& camera) {
    if (!camera) return 0;
    const bool known =
        std::any_of(mCameras.begin(), mCameras.end(),
                    [&camera](const std::weak_ptr<Camera>& entry) { return entry.lock() == camera; });
    // A camera added again keeps its one list entry and gets a fresh target; the old one is released.
    if (!known) mCameras.push_back(camera);
    CameraTarget& target = mCameraTargets[camera.get()];
    ReleaseTarget(target);
    target = CameraTarget{};
    if (RebuildCameraTarget(target, camera->GetCameraWidth(), camera->GetCameraHeight()) <= 0)
        return RebuildCameraTarget(target, camera->GetCameraWidth(), camera->GetCameraHeight());
    return 1;
}

void DXDevice::RemoveCamera(const std::shared_ptr<Camera>& camera) {
    const auto it =
        std::find_if(mCameras.begin(), mCameras.end(),
                     [&camera](const std::weak_ptr<Camera>& entry) { return entry.lock() == camera; });
    if (it != mCameras.end()) mCameras.erase(it);
    if (const auto found = mCameraTargets.find(camera.get()); found != mCameraTargets.end()) {
        ReleaseTarget(found->second);
        mCameraTargets.erase(found);
    }
    // A slot must not keep a camera that has no target any more.
    for (Camera*& slot : mPlayerSlots)
        if (slot == camera.get()) slot = nullptr;
}

void DXDevice::SetPlayerCamera(const std::shared_ptr<Camera>& camera, unsigned player) {
    if (player > 4)
        std::printf("No player slot %u: player cameras go in slots 0 to 4\n", player);
    else if (camera && mCameraTargets.count(camera.get()))
        mPlayerSlots[player] = camera.get();
    UpdateViewports();
}

void DXDevice::SetPlayerCount(unsigned count) {
    mPlayerCount = count;
    UpdateViewports();
}

int DXDevice::RebuildCameraTarget(CameraTarget& target, unsigned width, unsigned height) {
    target.viewport = {0.0f, 0.0f, float(width), float(height), 0.0f, 1.0f};
    if (RebuildDepthTarget(target, width, height) <= 0) return RebuildDepthTarget(target, width, height);
    if (RebuildColorTarget(target, width, height) <= 0) return RebuildColorTarget(target, width, height);
    return 1;
}

int DXDevice::RebuildColorTarget(CameraTarget& target, unsigned width, unsigned height) {
    SafeRelease(target.colour);
    SafeRelease(target.renderTarget);
    SafeRelease(target.shaderResource);
    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = width;
    desc.Height = height;
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
    desc.SampleDesc = {1, 0};
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_RENDER_TARGET | D3D11_BIND_SHADER_RESOURCE;
    if (HRESULT hr = mDevice->CreateTexture2D(&desc, nullptr, &target.colour); FAILED(hr)) PrintHResult(hr);
    if (HRESULT hr = mDevice->CreateRenderTargetView(target.colour, nullptr, &target.renderTarget);
        FAILED(hr))
        PrintHResult(hr);
    D3D11_SHADER_RESOURCE_VIEW_DESC view{};
    view.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
    view.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2D;
    view.Texture2D = {0, 1};
    if (HRESULT hr = mDevice->CreateShaderResourceView(target.colour, &view, &target.shaderResource);
        FAILED(hr))
        PrintHResult(hr);
    return 1;
}

int DXDevice::RebuildDepthTarget(CameraTarget& target, unsigned width, unsigned height) {
    SafeRelease(target.depthStencil);
    const D3D11_TEXTURE2D_DESC desc = DepthDesc(width, height);
    ID3D11Texture2D* texture = nullptr;
    if (HRESULT hr = mDevice->CreateTexture2D(&desc, nullptr, &texture); FAILED(hr)) PrintHResult(hr);
    if (HRESULT hr = mDevice->CreateDepthStencilView(texture, nullptr, &target.depthStencil); FAILED(hr))
        PrintHResult(hr);
    SafeRelease(texture);
    return 1;
}

void DXDevice::LayoutViewports(unsigned width, unsigned height) {
    const float W = float(width), H = float(height);
    auto set = [this](int index, unsigned x, unsigned y, unsigned w, unsigned h) {
        mViewports[index] = {float(x), float(y), float(w), float(h), 0.0f, 1.0f};
    };

    // The 16:9 box of the one-, three- and four-player layouts.
    unsigned boxX = 0, boxY = 0, boxW = width, boxH = height;
    const float a = W * 0.0625f, b = H / 9.0f;
    if (const double d = double(a - b); !(d > -0.01 && d < 0.01)) {
        if (b > a) {
            boxH = unsigned(a * 9.0f);
            boxY = (height - boxH) >> 1;
        } else {
            boxW = unsigned(b * 16.0f);
            boxX = (width - boxW) >> 1;
        }
    }

    // The two-player halves: 27:20 overall, one above the other.
    const float p = W / 27.0f, q = H / 20.0f;
    unsigned twoX = 0, twoW = width, halfH, firstY = 0, secondY;
    if (const double d2 = double(p - q); d2 > -0.01 && d2 < 0.01) {
        halfH = unsigned(q * 20.0f * 0.499f);
        secondY = unsigned(q * 10.0f);
    } else if (q > p) {
        halfH = unsigned(p * 20.0f * 0.499f);
        firstY = unsigned(H * 0.5f - float(halfH));
        secondY = unsigned(p * 10.0f + float(firstY));
    } else {
        halfH = unsigned(H * 0.499f);
        twoW = unsigned(q * 27.0f);
        twoX = (width - twoW) >> 1;
        secondY = unsigned(q * 10.0f);
    }

    // Quadrants take 0.499 of the box, so a seam stays between split viewports.
    const unsigned quadH = unsigned(float(boxH) * 0.499f);
    const unsigned quadW = unsigned(double(boxW) * 0.499);
    const unsigned left = boxX, right = boxX + boxW - quadW, top = boxY, bottom = boxY + boxH - quadH;
    const unsigned centreX = (width - quadW) >> 1;

    set(kFull, 0, 0, width, height);
    set(kOne, boxX, boxY, boxW, boxH);
    set(kTwoFirst, twoX, firstY, twoW, halfH);
    set(kTwoSecond, twoX, secondY, twoW, halfH);
    set(kThreeFirst, centreX, top, quadW, quadH);
    set(kThreeFirst + 1, left, bottom, quadW, quadH);
    set(kThreeFirst + 2, right, bottom, quadW, quadH);
    set(kFourFirst, left, top, quadW, quadH);
    set(kFourFirst + 1, right, top, quadW, quadH);
    set(kFourFirst + 2, left, bottom, quadW, quadH);
    set(kFourFirst + 3, right, bottom, quadW, quadH);
    if (mContext) mContext->RSSetViewports(1, &mViewports[kFull]);
}

void DXDevice::UpdateViewports() {
    const D3D11_VIEWPORT& quadrant = mViewports[kFourFirst];
    for (unsigned slot = 0; slot < 5; ++slot) {
        Camera* camera = mPlayerSlots[slot];
        if (!camera || !mCameraTargets.count(camera)) continue;
        const D3D11_VIEWPORT* record = &quadrant;
        if (slot == 0)
            record = &mViewports[kFull];
        else if (slot == 1 && mPlayerCount <= 1)
            record = &mViewports[kOne];
        else if (slot == 1 && mPlayerCount == 2)
            record = &mViewports[kTwoFirst];
        else if (slot == 2 && mPlayerCount == 2)
            record = &mViewports[kTwoSecond];
        camera->SetCameraWidth(unsigned(record->Width));
        camera->SetCameraHeight(unsigned(record->Height));
    }
}

const D3D11_VIEWPORT* DXDevice::GetPlayerViewport(unsigned n) {
    switch (mPlayerCount) {
    case 1:
        return n == 1 ? &mViewports[kOne] : nullptr;
    case 2:
        return n == 1 ? &mViewports[kTwoFirst] : &mViewports[kTwoSecond];
    case 3:
        return n >= 1 && n <= 3 ? &mViewports[kThreeFirst + n - 1] : nullptr;
    case 4:
        return n >= 1 && n <= 4 ? &mViewports[kFourFirst + n - 1] : nullptr;
    default:
        return nullptr;
    }
}

void DXDevice::SetFullWindowViewport() {
    const D3D11_VIEWPORT full{0.0f, 0.0f, float(mWidth), float(mHeight), 0.0f, 1.0f};
    mContext->RSSetViewports(1, &full);
}
