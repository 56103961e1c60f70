// Cameras, player slots and split-screen viewports. Until the per-camera targets and the split-screen
// layout exist, every record is the whole window and no player has a viewport of its own.
#include "DXDevice.h"

#include <algorithm>

int DXDevice::AddCamera(const std::shared_ptr<Camera>& camera) {
    mCameras.push_back(camera);
    return 1;
}

void DXDevice::RemoveCamera(const std::shared_ptr<Camera>& camera) {
    const auto it =
        std::find_if(mCameras.begin(), mCameras.end(),
                     [&camera](const std::weak_ptr<Camera>& entry) { return entry.lock() == camera; });
    if (it != mCameras.end()) mCameras.erase(it);
}

void DXDevice::SetPlayerCamera(const std::shared_ptr<Camera>&, unsigned) {
    UpdateViewports();
}

void DXDevice::SetPlayerCount(unsigned count) {
    mPlayerCount = count;
    UpdateViewports();
}

void DXDevice::LayoutViewports(unsigned width, unsigned height) {
    for (D3D11_VIEWPORT& v : mViewports)
        v = {0.0f, 0.0f, float(width), float(height), 0.0f, 1.0f};
    if (mContext) mContext->RSSetViewports(1, &mViewports[0]);
}

void DXDevice::UpdateViewports() {}

const D3D11_VIEWPORT* DXDevice::GetPlayerViewport(unsigned) {
    return nullptr;
}

void DXDevice::SetFullWindowViewport() {
    const D3D11_VIEWPORT full{0.0f, 0.0f, float(mWidth), float(mHeight), 0.0f, 1.0f};
    mContext->RSSetViewports(1, &full);
}
