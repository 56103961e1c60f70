#include "raster.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace d3d11sw {

namespace {
template <class Impl, class Interface> Impl* Cast(Interface* p) {
    return static_cast<Impl*>(p);
}
} // namespace

namespace {
template <class T> void RecordList(const char* name, UINT start, UINT count, T* const* items) {
    if (!Recording()) return;
    std::vector<double> args{double(start), double(count)};
    for (UINT i = 0; i < count; ++i)
        args.push_back(items ? Addr(items[i]) : 0.0);
    RecordCall(name, std::move(args));
}
} // namespace

namespace {
// Every live context, so that the test controls can finish queued work before reading textures.
std::mutex g_contextsLock;
std::vector<Context*> g_contexts;
} // namespace

Context::Context(Device& device) : device_(device), queue_(std::make_unique<RasterQueue>()) {
    std::lock_guard<std::mutex> lock(g_contextsLock);
    g_contexts.push_back(this);
}

Context::~Context() {
    {
        std::lock_guard<std::mutex> lock(g_contextsLock);
        g_contexts.erase(std::find(g_contexts.begin(), g_contexts.end(), this));
    }
    // Nobody can look at the results any more: drop the queued work.
    queue_->draws.clear();
    for (Object* o : held_)
        o->ReleaseInternal();
}

void FlushAllContexts() {
    std::lock_guard<std::mutex> lock(g_contextsLock);
    for (Context* c : g_contexts)
        c->Flush();
}

void Context::Hold(Object* o) {
    o->AddInternal();
    held_.push_back(o);
}

void Context::Flush() {
    if (!queue_->Empty()) Execute(*queue_);
    queue_->draws.clear();
    for (Object* o : held_)
        o->ReleaseInternal();
    held_.clear();
}

// Points the queue at the bound targets (finishing work queued for others); false when they cannot
// share a queue (nothing bound, or colour and depth of different sizes).
bool Context::QueueOnBoundTargets() {
    Texture2D* colour = targets_[0] ? targets_[0]->Texture() : nullptr;
    Texture2D* depth = depth_ ? depth_->Texture() : nullptr;
    if (!colour && !depth) return false;
    if (colour && depth && (colour->Width() != depth->Width() || colour->Height() != depth->Height()))
        return false;
    uint32_t* c = colour ? colour->Colour() : nullptr;
    float* d = depth ? depth->Depth() : nullptr;
    RasterQueue& q = *queue_;
    if (!q.Empty() && (q.colour != c || q.depth != d)) Flush();
    if (q.Empty()) {
        Flush(); // lets go of what the previous work held
        const Texture2D* t = colour ? colour : depth;
        q.colour = c;
        q.depth = d;
        q.pitch = t->Width();
        q.height = t->Height();
        if (colour) Hold(colour);
        if (depth) Hold(depth);
    }
    return true;
}

HRESULT Context::QueryInterface(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ID3D11DeviceContext) {
        AddRef();
        *out = this;
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG Context::AddRef() {
    return ++refs_;
}

ULONG Context::Release() {
    const ULONG left = --refs_;
    if (left == 0) device_.MaybeDestroy();
    return left;
}

// ---- state -------------------------------------------------------------------------------------------

void Context::VSSetConstantBuffers(UINT start, UINT count, ID3D11Buffer* const* buffers) {
    RecordList("VSSetConstantBuffers", start, count, buffers);
    for (UINT i = 0; i < count && start + i < D3D11_COMMONSHADER_CONSTANT_BUFFER_API_SLOT_COUNT; ++i)
        vsConstants_[start + i].Reset(buffers ? Cast<Buffer>(buffers[i]) : nullptr);
}

void Context::PSSetConstantBuffers(UINT start, UINT count, ID3D11Buffer* const* buffers) {
    RecordList("PSSetConstantBuffers", start, count, buffers);
    for (UINT i = 0; i < count && start + i < D3D11_COMMONSHADER_CONSTANT_BUFFER_API_SLOT_COUNT; ++i)
        psConstants_[start + i].Reset(buffers ? Cast<Buffer>(buffers[i]) : nullptr);
}

void Context::PSSetShaderResources(UINT start, UINT count, ID3D11ShaderResourceView* const* views) {
    RecordList("PSSetShaderResources", start, count, views);
    for (UINT i = 0; i < count && start + i < UINT(kTextureSlots); ++i)
        psViews_[start + i].Reset(views ? static_cast<ShaderResourceView*>(views[i]) : nullptr);
}

void Context::PSSetSamplers(UINT start, UINT count, ID3D11SamplerState* const* samplers) {
    RecordList("PSSetSamplers", start, count, samplers);
    for (UINT i = 0; i < count && start + i < D3D11_COMMONSHADER_SAMPLER_SLOT_COUNT; ++i)
        psSamplers_[start + i].Reset(samplers ? Cast<SamplerState>(samplers[i]) : nullptr);
}

void Context::PSSetShader(ID3D11PixelShader* shader, ID3D11ClassInstance* const*, UINT) {
    D3D11SW_RECORD("PSSetShader", {Addr(shader)});
    ps_.Reset(Cast<PixelShader>(shader));
}

void Context::VSSetShader(ID3D11VertexShader* shader, ID3D11ClassInstance* const*, UINT) {
    D3D11SW_RECORD("VSSetShader", {Addr(shader)});
    vs_.Reset(Cast<VertexShader>(shader));
}

void Context::IASetInputLayout(ID3D11InputLayout* layout) {
    D3D11SW_RECORD("IASetInputLayout", {Addr(layout)});
    layout_.Reset(Cast<InputLayout>(layout));
}

void Context::IASetVertexBuffers(UINT start, UINT count, ID3D11Buffer* const* buffers, const UINT* strides,
                                 const UINT* offsets) {
    if (Recording()) {
        std::vector<double> args{double(start), double(count)};
        for (UINT i = 0; i < count; ++i)
            args.insert(args.end(), {buffers ? Addr(buffers[i]) : 0.0, strides ? double(strides[i]) : 0.0,
                                     offsets ? double(offsets[i]) : 0.0});
        RecordCall("IASetVertexBuffers", std::move(args));
    }
    for (UINT i = 0; i < count && start + i < D3D11_IA_VERTEX_INPUT_RESOURCE_SLOT_COUNT; ++i) {
        VertexStream& s = streams_[start + i];
        s.buffer.Reset(buffers ? Cast<Buffer>(buffers[i]) : nullptr);
        s.stride = strides ? strides[i] : 0;
        s.offset = offsets ? offsets[i] : 0;
    }
}

void Context::IASetIndexBuffer(ID3D11Buffer* buffer, DXGI_FORMAT format, UINT offset) {
    D3D11SW_RECORD("IASetIndexBuffer", {Addr(buffer), double(format), double(offset)});
    indexBuffer_.Reset(Cast<Buffer>(buffer));
    indexFormat_ = format;
    indexOffset_ = offset;
}

void Context::IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY topology) {
    D3D11SW_RECORD("IASetPrimitiveTopology", {double(topology)});
    topology_ = topology;
}

void Context::OMSetRenderTargets(UINT count, ID3D11RenderTargetView* const* views,
                                 ID3D11DepthStencilView* depth) {
    if (Recording()) {
        std::vector<double> args{double(count)};
        for (UINT i = 0; i < count; ++i)
            args.push_back(views ? Addr(views[i]) : 0.0);
        args.push_back(Addr(depth));
        RecordCall("OMSetRenderTargets", std::move(args));
    }
    Flush();
    for (UINT i = 0; i < D3D11_SIMULTANEOUS_RENDER_TARGET_COUNT; ++i)
        targets_[i].Reset(i < count && views ? static_cast<RenderTargetView*>(views[i]) : nullptr);
    depth_.Reset(static_cast<DepthStencilView*>(depth));
}

void Context::OMSetBlendState(ID3D11BlendState* state, const FLOAT factor[4], UINT sampleMask) {
    if (Recording()) {
        std::vector<double> args{Addr(state)};
        for (int i = 0; i < 4; ++i)
            args.push_back(factor ? double(factor[i]) : -1.0);
        args.push_back(double(sampleMask));
        RecordCall("OMSetBlendState", std::move(args));
    }
    blend_.Reset(Cast<BlendState>(state));
    // A null factor means (1, 1, 1, 1).
    for (int i = 0; i < 4; ++i)
        blendFactor_[i] = factor ? factor[i] : 1.0f;
}

void Context::RSSetState(ID3D11RasterizerState* state) {
    D3D11SW_RECORD("RSSetState", {Addr(state)});
    rasterizer_.Reset(Cast<RasterizerState>(state));
}

void Context::RSSetViewports(UINT count, const D3D11_VIEWPORT* viewports) {
    if (Recording()) {
        std::vector<double> args{double(count)};
        for (UINT i = 0; viewports && i < count; ++i) {
            const D3D11_VIEWPORT& v = viewports[i];
            args.insert(args.end(), {v.TopLeftX, v.TopLeftY, v.Width, v.Height, v.MinDepth, v.MaxDepth});
        }
        RecordCall("RSSetViewports", std::move(args));
    }
    viewports_.assign(viewports, viewports + (viewports ? count : 0));
}

void Context::RSSetScissorRects(UINT count, const D3D11_RECT* rects) {
    scissors_.assign(rects, rects + (rects ? count : 0));
}

// ---- data ------------------------------------------------------------------------------------------

HRESULT Context::Map(ID3D11Resource* resource, UINT subresource, D3D11_MAP type, UINT,
                     D3D11_MAPPED_SUBRESOURCE* mapped) {
    Buffer* buffer = AsBuffer(resource);
    if (!buffer || subresource != 0 || !mapped) return E_INVALIDARG;
    const auto& d = buffer->Desc();
    const bool write = type != D3D11_MAP_READ;
    const bool read = type == D3D11_MAP_READ || type == D3D11_MAP_READ_WRITE;
    if (write && !(d.CPUAccessFlags & D3D11_CPU_ACCESS_WRITE)) return E_INVALIDARG;
    if (read && !(d.CPUAccessFlags & D3D11_CPU_ACCESS_READ)) return E_INVALIDARG;
    if ((type == D3D11_MAP_WRITE_DISCARD || type == D3D11_MAP_WRITE_NO_OVERWRITE) &&
        d.Usage != D3D11_USAGE_DYNAMIC)
        return E_INVALIDARG;
    // Draws complete before they return, so the discarded contents can be handed out again.
    mapped->pData = buffer->Data();
    mapped->RowPitch = UINT(buffer->Size());
    mapped->DepthPitch = UINT(buffer->Size());
    return S_OK;
}

void Context::Unmap(ID3D11Resource*, UINT) {}

void Context::UpdateSubresource(ID3D11Resource* resource, UINT subresource, const D3D11_BOX* box,
                                const void* data, UINT rowPitch, UINT depthPitch) {
    if (Recording()) {
        // The bytes a whole-buffer update takes; texture and boxed updates record no bytes.
        Buffer* b = AsBuffer(resource);
        RecordCall("UpdateSubresource",
                   {Addr(resource), double(subresource), Addr(box), double(rowPitch), double(depthPitch)},
                   data, b && !box ? b->Size() : 0);
    }
    if (!data || subresource != 0) return;
    if (Buffer* b = AsBuffer(resource)) {
        if (b->Desc().Usage != D3D11_USAGE_DEFAULT) {
            Complain("UpdateSubresource: only default-usage buffers can be updated");
            return;
        }
        if (!box) {
            std::memcpy(b->Data(), data, b->Size());
            return;
        }
        // Constant buffers are updated whole on the platform; other buffers take the box's byte range.
        if ((b->Desc().BindFlags & D3D11_BIND_CONSTANT_BUFFER) || box->right > b->Size() ||
            box->left >= box->right)
            return;
        std::memcpy(b->Data() + box->left, data, box->right - box->left);
        return;
    }
    if (Texture2D* t = AsTexture(resource)) {
        Flush();
        if (t->IsDepth() || t->Desc().Usage != D3D11_USAGE_DEFAULT) return;
        UINT x0 = 0, y0 = 0, x1 = t->Desc().Width, y1 = t->Desc().Height;
        if (box) x0 = box->left, y0 = box->top, x1 = box->right, y1 = box->bottom;
        if (x1 > t->Desc().Width || y1 > t->Desc().Height || x0 >= x1 || y0 >= y1 || rowPitch < (x1 - x0) * 4)
            return;
        const auto* src = static_cast<const uint8_t*>(data);
        for (UINT y = y0; y < y1; ++y)
            std::memcpy(t->Colour() + size_t(y) * t->Desc().Width + x0, src + size_t(y - y0) * rowPitch,
                        size_t(x1 - x0) * 4);
    }
}

void Context::ClearRenderTargetView(ID3D11RenderTargetView* view, const FLOAT color[4]) {
    if (color) D3D11SW_RECORD("ClearRenderTargetView", {Addr(view), color[0], color[1], color[2], color[3]});
    if (!view || !color) return;
    Texture2D* t = static_cast<RenderTargetView*>(view)->Texture();
    auto unorm = [](float v) -> uint32_t {
        if (!(v > 0)) return 0;
        if (v >= 1) return 255;
        return uint32_t(v * 255.0f + 0.5f);
    };
    const uint32_t packed =
        unorm(color[0]) | unorm(color[1]) << 8 | unorm(color[2]) << 16 | unorm(color[3]) << 24;
    // A clear of the bound target joins the queue (after the draws before it), so that each band is
    // cleared just before it is drawn.
    if (targets_[0] && targets_[0]->Texture() == t) {
        if (!queue_->draws.empty()) Flush();
        if (QueueOnBoundTargets()) {
            queue_->clearColour = true;
            queue_->colourValue = packed;
            return;
        }
    }
    Flush();
    std::fill(t->Colour(), t->Colour() + size_t(t->Width()) * size_t(t->Height()), packed);
}

void Context::ClearDepthStencilView(ID3D11DepthStencilView* view, UINT flags, FLOAT depth, UINT8 stencil) {
    D3D11SW_RECORD("ClearDepthStencilView", {Addr(view), double(flags), depth, double(stencil)});
    if (!view || !(flags & D3D11_CLEAR_DEPTH)) return;
    Texture2D* t = static_cast<DepthStencilView*>(view)->Texture();
    const float value = std::clamp(depth, 0.0f, 1.0f);
    if (depth_ && depth_->Texture() == t) {
        if (!queue_->draws.empty()) Flush();
        if (QueueOnBoundTargets()) {
            queue_->clearDepth = true;
            queue_->depthValue = value;
            return;
        }
    }
    Flush();
    std::fill(t->Depth(), t->Depth() + size_t(t->Width()) * size_t(t->Height()), value);
}

// ---- drawing ---------------------------------------------------------------------------------------

void Context::DrawIndexed(UINT indexCount, UINT startIndex, INT baseVertex) {
    D3D11SW_RECORD("DrawIndexed", {double(indexCount), double(startIndex), double(baseVertex)});
    if (indexCount == 0) return;
    if (!indexBuffer_ || (indexFormat_ != DXGI_FORMAT_R32_UINT && indexFormat_ != DXGI_FORMAT_R16_UINT)) {
        Complain("DrawIndexed: no index buffer of R32_UINT or R16_UINT bound");
        return;
    }
    const size_t size = indexFormat_ == DXGI_FORMAT_R32_UINT ? 4 : 2;
    const uint8_t* base = indexBuffer_->Data();
    const size_t bytes = indexBuffer_->Size();
    // Indices past the end of the buffer read as 0 and only make degenerate primitives: stop there.
    const size_t available = bytes > indexOffset_ ? (bytes - indexOffset_) / size : 0;
    if (startIndex >= available) return;
    indexCount = UINT(std::min<size_t>(indexCount, available - startIndex));
    indexScratch_.resize(indexCount);
    for (UINT i = 0; i < indexCount; ++i) {
        const size_t at = indexOffset_ + (size_t(startIndex) + i) * size;
        uint32_t v = 0;
        // Reads past the end of the index buffer give index 0, as on the platform.
        if (at + size <= bytes) {
            if (size == 4) {
                std::memcpy(&v, base + at, 4);
            } else {
                uint16_t s;
                std::memcpy(&s, base + at, 2);
                v = s;
            }
        }
        indexScratch_[i] = uint32_t(int64_t(v) + baseVertex);
    }
    Run(indexCount, indexScratch_.data(), 0);
}

void Context::Draw(UINT vertexCount, UINT startVertex) {
    D3D11SW_RECORD("Draw", {double(vertexCount), double(startVertex)});
    if (vertexCount == 0) return;
    // More vertices than any buffer can hold is a caller's fault; refuse it rather than allocate for it.
    if (vertexCount > (1u << 26)) {
        Complain("Draw: %u vertices is more than a vertex buffer can hold", vertexCount);
        return;
    }
    Run(vertexCount, nullptr, startVertex);
}

namespace {

void Decode(DXGI_FORMAT format, const uint8_t* p, Attr& out) {
    switch (format) {
    case DXGI_FORMAT_R32G32B32A32_FLOAT:
        std::memcpy(out.f, p, 16);
        return;
    case DXGI_FORMAT_R32G32B32_FLOAT:
        std::memcpy(out.f, p, 12);
        return;
    case DXGI_FORMAT_R32G32_FLOAT:
        std::memcpy(out.f, p, 8);
        return;
    case DXGI_FORMAT_R32_FLOAT:
        std::memcpy(out.f, p, 4);
        return;
    case DXGI_FORMAT_R32G32B32A32_UINT:
        std::memcpy(out.u, p, 16);
        return;
    case DXGI_FORMAT_R32_UINT:
        std::memcpy(out.u, p, 4);
        return;
    case DXGI_FORMAT_R8G8B8A8_UNORM:
        for (int i = 0; i < 4; ++i)
            out.f[i] = float(p[i]) / 255.0f;
        return;
    default:
        return;
    }
}

size_t FormatSize(DXGI_FORMAT format) {
    switch (format) {
    case DXGI_FORMAT_R32G32B32A32_FLOAT:
    case DXGI_FORMAT_R32G32B32A32_UINT:
        return 16;
    case DXGI_FORMAT_R32G32B32_FLOAT:
        return 12;
    case DXGI_FORMAT_R32G32_FLOAT:
        return 8;
    default:
        return 4;
    }
}

bool IsUintFormat(DXGI_FORMAT f) {
    return f == DXGI_FORMAT_R32G32B32A32_UINT || f == DXGI_FORMAT_R32_UINT;
}

ConstantBlock Block(const Bound<Buffer>& b) {
    ConstantBlock c;
    if (b) c.data = b->Data(), c.size = b->Size();
    return c;
}

} // namespace

void Context::Run(UINT count, const uint32_t* indices, UINT startVertex) {
    const bool triangles = topology_ == D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST;
    if (!triangles && topology_ != D3D11_PRIMITIVE_TOPOLOGY_LINELIST) {
        Complain("draw: primitive topology %d is not supported", int(topology_));
        return;
    }
    if (!vs_ || !ps_ || !layout_) {
        Complain("draw: vertex shader, pixel shader and input layout must be bound");
        return;
    }
    if (!Compatible(vs_->program, ps_->program)) {
        Complain("draw: vertex shader of \"%s\" does not feed pixel shader of \"%s\"", vs_->stem.c_str(),
                 ps_->stem.c_str());
        return;
    }
    const unsigned required = RequiredSemantics(vs_->program);
    unsigned present = 0;
    for (const LayoutElement& e : layout_->elements)
        present |= 1u << e.semantic;
    if ((present & required) != required) {
        Complain("draw: the input layout lacks inputs of the vertex shader of \"%s\"", vs_->stem.c_str());
        return;
    }

    Texture2D* colour = targets_[0] ? targets_[0]->Texture() : nullptr;
    Texture2D* depth = depth_ ? depth_->Texture() : nullptr;
    if (!colour && !depth) return;
    if (colour && depth && (colour->Width() != depth->Width() || colour->Height() != depth->Height())) {
        Complain("draw: render target and depth buffer differ in size");
        return;
    }
    // Without a viewport nothing is rasterised, as on the platform.
    if (viewports_.empty() || !(viewports_[0].Width > 0) || !(viewports_[0].Height > 0)) return;

    RasterJob job;
    const Texture2D* target = colour ? colour : depth;
    job.colour = colour ? colour->Colour() : nullptr;
    job.depth = depth ? depth->Depth() : nullptr;
    job.pitch = target->Width();
    const D3D11_VIEWPORT& vp = viewports_[0];
    job.viewport = vp;
    float x0 = std::max(vp.TopLeftX, 0.0f), y0 = std::max(vp.TopLeftY, 0.0f);
    float x1 = std::min(vp.TopLeftX + vp.Width, float(target->Width()));
    float y1 = std::min(vp.TopLeftY + vp.Height, float(target->Height()));
    static const D3D11_RASTERIZER_DESC kDefaultRasterizer = {
        D3D11_FILL_SOLID, D3D11_CULL_BACK, FALSE, 0, 0.0f, 0.0f, TRUE, FALSE, FALSE, FALSE};
    const D3D11_RASTERIZER_DESC& rs = rasterizer_ ? rasterizer_->desc : kDefaultRasterizer;
    job.clipX0 = int(std::floor(x0));
    job.clipY0 = int(std::floor(y0));
    job.clipX1 = int(std::ceil(x1));
    job.clipY1 = int(std::ceil(y1));
    if (rs.ScissorEnable) {
        if (scissors_.empty()) return;
        const D3D11_RECT& r = scissors_[0];
        job.clipX0 = std::max<int>(job.clipX0, r.left);
        job.clipY0 = std::max<int>(job.clipY0, r.top);
        job.clipX1 = std::min<int>(job.clipX1, r.right);
        job.clipY1 = std::min<int>(job.clipY1, r.bottom);
    }
    if (job.clipX0 >= job.clipX1 || job.clipY0 >= job.clipY1) return;
    job.cull = rs.CullMode;
    job.frontCounterClockwise = rs.FrontCounterClockwise != FALSE;
    job.depthClip = rs.DepthClipEnable != FALSE;
    if (blend_ && blend_->desc.RenderTarget[0].BlendEnable) {
        job.blend = true;
        job.blendDesc = blend_->desc.RenderTarget[0];
    }
    job.writeMask = blend_ ? blend_->desc.RenderTarget[0].RenderTargetWriteMask & 0x0F : 0x0F;
    std::memcpy(job.blendFactor, blendFactor_, sizeof blendFactor_);
    job.varyings = VaryingCount(vs_->program);
    job.lastFlat = LastVaryingFlat(vs_->program);
    job.program = ps_->program;
    job.vertexColour = ps_->program == PsProgram::Scene;

    VsUniforms vsu;
    PrepareVs(vsu, vs_->program, Block(vsConstants_[0]), Block(vsConstants_[3]));
    auto psu = std::make_unique<PsUniforms>();
    PreparePs(*psu, ps_->program, Block(psConstants_[1]), Block(psConstants_[2]), psViews_[0].get(),
              psSamplers_[0].get());
    job.ps = psu.get();

    // Vertex stage, once per distinct vertex of the draw.
    uint32_t lo = startVertex, hi = startVertex + count - 1;
    if (indices) {
        lo = *std::min_element(indices, indices + count);
        hi = *std::max_element(indices, indices + count);
    }
    const bool cached = uint64_t(hi) - lo < (uint64_t(count) * 4 + 64);
    std::vector<int32_t> slot(cached ? size_t(hi - lo + 1) : 0, -1);
    std::vector<ClipVertex> vertices;
    std::vector<uint32_t> order(count);
    vertices.reserve(count);
    auto shade = [&](uint32_t index) {
        VSInput in{};
        for (int s = 0; s < kSemanticCount; ++s)
            in.a[s] = Attr{{0, 0, 0, 1}};
        for (const LayoutElement& e : layout_->elements) {
            if (IsUintFormat(e.format)) in.a[e.semantic] = Attr{.u = {0, 0, 0, 1}};
            const VertexStream& s = streams_[e.slot];
            if (!s.buffer) continue;
            const size_t at = size_t(s.offset) + size_t(index) * s.stride + e.offset;
            // Reads outside the vertex buffer give zero.
            if (at + FormatSize(e.format) > s.buffer->Size()) {
                in.a[e.semantic] = Attr{.u = {0, 0, 0, 0}};
                continue;
            }
            Decode(e.format, s.buffer->Data() + at, in.a[e.semantic]);
        }
        ClipVertex out;
        RunVs(vsu, in, out.pos, out.var);
        vertices.push_back(out);
        return uint32_t(vertices.size() - 1);
    };
    for (UINT i = 0; i < count; ++i) {
        const uint32_t index = indices ? indices[i] : startVertex + i;
        if (cached) {
            int32_t& s = slot[index - lo];
            if (s < 0) s = int32_t(shade(index));
            order[i] = uint32_t(s);
        } else {
            order[i] = shade(index);
        }
    }
    order.resize(triangles ? count / 3 * 3 : count / 2 * 2);
    CountDraw();
    if (!triangles) {
        Flush();
        DrawLines(job, vertices, order);
        return;
    }
    std::vector<Setup> setups;
    SetUpTriangles(job, vertices, order, setups);
    if (setups.empty() || !QueueOnBoundTargets()) return;
    if (psViews_[0]) Hold(psViews_[0]->Texture());
    queue_->draws.push_back(PreparedDraw{job, std::move(psu), std::move(setups)});
}

} // namespace d3d11sw
