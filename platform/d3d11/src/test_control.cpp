#include "internal.h"
#include "kernels.h"

#include <d3d11_test_control.h>

#include <map>
#include <mutex>

namespace d3d11sw {
// Defined with the other controls' storage in objects.cpp.
void InjectFailure(const char* call, unsigned nth, HRESULT result);
void ClearFailures();
unsigned Draws();
void ResetDraws();
void StartRecording(bool record);
std::vector<d3d11test::Call> TakeRecordedCalls();
size_t LiveObjectCount();
void SetMaxLevel(D3D_FEATURE_LEVEL level);
} // namespace d3d11sw

namespace d3d11test {

bool ReadPixels(ID3D11Resource* resource, std::vector<uint32_t>& pixels, int& width, int& height) {
    d3d11sw::FlushAllContexts();
    d3d11sw::Texture2D* t = d3d11sw::AsTexture(resource);
    if (!t || t->IsDepth()) return false;
    width = t->Width();
    height = t->Height();
    pixels.assign(t->Colour(), t->Colour() + size_t(width) * size_t(height));
    return true;
}

uint32_t ReadPixel(ID3D11View* view, int x, int y) {
    d3d11sw::FlushAllContexts();
    ID3D11Resource* r = nullptr;
    view->GetResource(&r);
    d3d11sw::Texture2D* t = d3d11sw::AsTexture(r);
    uint32_t p = 0;
    if (t && !t->IsDepth() && x >= 0 && y >= 0 && x < t->Width() && y < t->Height())
        p = t->Colour()[size_t(y) * size_t(t->Width()) + size_t(x)];
    if (r) r->Release();
    return p;
}

float ReadDepth(ID3D11DepthStencilView* view, int x, int y) {
    d3d11sw::FlushAllContexts();
    ID3D11Resource* r = nullptr;
    view->GetResource(&r);
    d3d11sw::Texture2D* t = d3d11sw::AsTexture(r);
    float d = -1.0f;
    if (t && t->IsDepth() && x >= 0 && y >= 0 && x < t->Width() && y < t->Height())
        d = t->Depth()[size_t(y) * size_t(t->Width()) + size_t(x)];
    if (r) r->Release();
    return d;
}

unsigned DrawCount() {
    return d3d11sw::Draws();
}
void ResetDrawCount() {
    d3d11sw::ResetDraws();
}
void FailNextCall(const char* call, HRESULT result) {
    d3d11sw::InjectFailure(call, 1, result);
}
void FailNthCall(const char* call, unsigned nth, HRESULT result) {
    d3d11sw::InjectFailure(call, nth, result);
}
void ClearInjectedFailures() {
    d3d11sw::ClearFailures();
}
void RecordCalls(bool record) {
    d3d11sw::StartRecording(record);
}
std::vector<Call> TakeCalls() {
    return d3d11sw::TakeRecordedCalls();
}
std::size_t LiveObjects() {
    return d3d11sw::LiveObjectCount();
}
void SetMaxFeatureLevel(D3D_FEATURE_LEVEL level) {
    d3d11sw::SetMaxLevel(level);
}
void SetPlainKernels(bool plain) {
    d3d11sw::SetPlainKernels(plain);
}
bool VectorKernels() {
    return d3d11sw::VectorKernelsAvailable();
}
void SetRasterThreads(unsigned count) {
    d3d11sw::SetThreadCount(count);
}
unsigned RasterThreads() {
    return d3d11sw::ThreadCount();
}

} // namespace d3d11test
