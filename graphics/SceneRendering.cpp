// The frame's passes. Until the camera passes and the split-screen composition exist, a frame binds
// the back buffer and clears it black, as the composition does with no camera.
#include "DXDevice.h"

int DXDevice::Render() {
    // Retry once: a failed step is run again and its second result ends the frame.
    if (RenderCameras() <= 0) return RenderCameras();
    if (ComposeViewports() <= 0) return ComposeViewports();
    return 1;
}

int DXDevice::RenderCameras() {
    return 1;
}

int DXDevice::ComposeViewports() {
    mContext->OMSetRenderTargets(1, &mBackBufferView, mDepthView);
    const float black[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    mContext->ClearRenderTargetView(mBackBufferView, black);
    mContext->ClearDepthStencilView(mDepthView, D3D11_CLEAR_DEPTH | D3D11_CLEAR_STENCIL, 1.0f, 0);
    return 1;
}

int DXDevice::Present() {
    if (SUCCEEDED(mSwapChain->Present(1, 0))) return 1;
    PrintHResult(mSwapChain->Present(1, 0));
    return 0;
}
