#include "kernels.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace d3d11sw {

// ---- worker pool -----------------------------------------------------------------------------------
// Bands of rows are handed out to the workers and the calling thread; every band sees the queued
// clears and primitives in submission order, so the result per pixel is the same as on one thread.

namespace {

class Pool {
public:
    Pool() {
        const unsigned hw = std::max(1u, std::thread::hardware_concurrency());
        threads_ = std::min(hw, 16u);
        limit_ = threads_;
        for (unsigned i = 1; i < threads_; ++i)
            workers_.emplace_back([this, i] { Work(i); });
    }
    ~Pool() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (auto& t : workers_)
            t.join();
    }

    unsigned Limit() const { return limit_.load(); }
    void SetLimit(unsigned n) { limit_ = std::clamp(n, 1u, threads_); }

    // Safe to call from several threads at once (two devices, each with its own context): the workers
    // serve one caller at a time, and a caller who finds them taken does its own work on its own thread.
    void Run(int tasks, const std::function<void(int)>& fn) {
        const unsigned use = std::min<unsigned>(limit_.load(), unsigned(tasks));
        if (use <= 1 || busy_.exchange(true, std::memory_order_acquire)) {
            for (int i = 0; i < tasks; ++i)
                fn(i);
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            fn_ = &fn;
            tasks_ = tasks;
            next_ = 0;
            participants_ = use;
            pending_ = unsigned(workers_.size());
            ++generation_;
        }
        wake_.notify_all();
        Drain(fn);
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return pending_ == 0; });
        fn_ = nullptr;
        busy_.store(false, std::memory_order_release);
    }

private:
    void Drain(const std::function<void(int)>& fn) {
        for (int i = next_++; i < tasks_; i = next_++)
            fn(i);
    }

    void Work(unsigned id) {
        uint64_t seen = 0;
        for (;;) {
            const std::function<void(int)>* fn;
            bool join;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
                if (stop_) return;
                seen = generation_;
                fn = fn_;
                join = id < participants_;
            }
            if (join) Drain(*fn);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (--pending_ == 0) done_.notify_one();
            }
        }
    }

    unsigned threads_ = 1;
    std::atomic<unsigned> limit_{1};
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    bool stop_ = false;
    uint64_t generation_ = 0;
    const std::function<void(int)>* fn_ = nullptr;
    // Written under the mutex before a generation starts; read by the workers after they wake.
    int tasks_ = 0;
    unsigned participants_ = 0;
    unsigned pending_ = 0;
    std::atomic<int> next_{0};
    // Taken by the caller whose tasks the workers run, released by it once they are all done; the
    // acquire and release order that caller's use of the fields above after the previous caller's.
    std::atomic<bool> busy_{false};
};

Pool& ThePool() {
    static Pool pool;
    return pool;
}

// ---- clipping ------------------------------------------------------------------------------------

constexpr float kMinW = 1e-5f;

inline float PlaneDistance(const ClipVertex& v, int plane) {
    const float* p = v.pos;
    switch (plane) {
    case 0:
        return p[3] - kMinW;
    case 1:
        return p[3] + p[0];
    case 2:
        return p[3] - p[0];
    case 3:
        return p[3] + p[1];
    case 4:
        return p[3] - p[1];
    case 5:
        return p[2];
    default:
        return p[3] - p[2];
    }
}

inline void Lerp(const ClipVertex& a, const ClipVertex& b, float t, int nvar, ClipVertex& out) {
    for (int i = 0; i < 4; ++i)
        out.pos[i] = a.pos[i] + (b.pos[i] - a.pos[i]) * t;
    for (int i = 0; i < nvar; ++i)
        out.var[i] = a.var[i] + (b.var[i] - a.var[i]) * t;
}

inline bool Finite(const ClipVertex& v) {
    return std::isfinite(v.pos[0]) && std::isfinite(v.pos[1]) && std::isfinite(v.pos[2]) &&
           std::isfinite(v.pos[3]);
}

// Beside the planes' bits: a position that is not finite. Such a vertex never reaches the fixed-point
// set-up, whose integers a NaN or an infinity would overflow; the triangle is dropped, as a GPU does.
constexpr unsigned kNotFinite = 1u << 7;

// A NaN distance counts as outside: the vertex is then never kept by the plane tests.
inline unsigned OutCode(const ClipVertex& v, int planes) {
    unsigned code = Finite(v) ? 0 : kNotFinite;
    for (int p = 0; p < planes; ++p)
        if (!(PlaneDistance(v, p) >= 0)) code |= 1u << p;
    return code;
}

// Sutherland-Hodgman against the view volume; returns the vertex count of the clipped polygon.
int ClipPolygon(ClipVertex* poly, int count, int planes, unsigned mask, int nvar, ClipVertex* scratch) {
    ClipVertex* in = poly;
    ClipVertex* out = scratch;
    for (int p = 0; p < planes && count > 0; ++p) {
        if (!(mask & (1u << p))) continue;
        int n = 0;
        for (int i = 0; i < count; ++i) {
            const ClipVertex& a = in[i];
            const ClipVertex& b = in[(i + 1) % count];
            const float da = PlaneDistance(a, p), db = PlaneDistance(b, p);
            if (da >= 0) out[n++] = a;
            // Always from the inside end: the two triangles of a shared edge walk it in opposite
            // directions and must still cut it at the very same point, or the seam cracks.
            if (da >= 0 && db < 0) Lerp(a, b, da / (da - db), nvar, out[n++]);
            if (da < 0 && db >= 0) Lerp(b, a, db / (db - da), nvar, out[n++]);
        }
        std::swap(in, out);
        count = n;
    }
    if (in != poly)
        for (int i = 0; i < count; ++i)
            poly[i] = in[i];
    return count;
}

// ---- triangle set-up -------------------------------------------------------------------------------

// Rows per band of work: tall enough that few small triangles straddle two bands (each part is shaded
// separately), low enough to give every thread several bands of a 449-row camera target.
constexpr int kBandRows = 32;

struct Screen {
    float x, y, z, iw;
    int64_t X, Y;
};

// floor(v) for finite v: the library call is slow where the processor lacks a rounding instruction.
inline int64_t FloorToInt(float v) {
    const int64_t i = int64_t(v);
    return float(i) > v ? i - 1 : i;
}

inline Screen ToScreen(const RasterJob& job, const ClipVertex& c) {
    const D3D11_VIEWPORT& vp = job.viewport;
    const float iw = 1.0f / c.pos[3];
    Screen s;
    s.x = vp.TopLeftX + (c.pos[0] * iw + 1.0f) * 0.5f * vp.Width;
    s.y = vp.TopLeftY + (1.0f - c.pos[1] * iw) * 0.5f * vp.Height;
    s.z = vp.MinDepth + c.pos[2] * iw * (vp.MaxDepth - vp.MinDepth);
    s.iw = iw;
    // Round to the sub-pixel grid; clipping keeps the values well inside the int64 range.
    s.X = FloorToInt(s.x * float(kOne) + 0.5f);
    s.Y = FloorToInt(s.y * float(kOne) + 0.5f);
    return s;
}

// Top and left edges own the pixels whose centres lie exactly on them; with the positive-area winding
// used here (clockwise on screen, y down) a top edge runs left to right and a left edge runs upwards.
inline bool TopLeft(int64_t ax, int64_t ay, int64_t bx, int64_t by) {
    const int64_t dx = bx - ax, dy = by - ay;
    return (dy == 0 && dx > 0) || dy < 0;
}

// `p` holds the screen positions of `cv`.
bool MakeSetup(const RasterJob& job, const ClipVertex* cv[3], const Screen p[3], Setup& s) {
    int64_t area = (p[1].X - p[0].X) * (p[2].Y - p[0].Y) - (p[2].X - p[0].X) * (p[1].Y - p[0].Y);
    if (area == 0) return false;
    const bool clockwise = area > 0;
    const bool front = job.frontCounterClockwise ? !clockwise : clockwise;
    if ((job.cull == D3D11_CULL_BACK && !front) || (job.cull == D3D11_CULL_FRONT && front)) return false;
    int order[3] = {0, 1, 2};
    if (!clockwise) std::swap(order[1], order[2]);
    for (int i = 0; i < 3; ++i)
        s.X[i] = p[order[i]].X, s.Y[i] = p[order[i]].Y;

    const int64_t minX = std::min({s.X[0], s.X[1], s.X[2]}), maxX = std::max({s.X[0], s.X[1], s.X[2]});
    const int64_t minY = std::min({s.Y[0], s.Y[1], s.Y[2]}), maxY = std::max({s.Y[0], s.Y[1], s.Y[2]});
    // Pixel centres at i + 0.5: the first centre at or right of minX is ceil((minX - half) / one).
    auto firstCentre = [](int64_t v) { return int((v - kOne / 2 + kOne - 1) >> kSubBits); };
    auto lastCentre = [](int64_t v) { return int((v - kOne / 2) >> kSubBits); };
    s.minX = std::max(firstCentre(minX), job.clipX0);
    s.maxX = std::min(lastCentre(maxX), job.clipX1 - 1);
    s.minY = std::max(firstCentre(minY), job.clipY0);
    s.maxY = std::min(lastCentre(maxY), job.clipY1 - 1);
    if (s.minX > s.maxX || s.minY > s.maxY) return false;

    for (int e = 0; e < 3; ++e) {
        const int a = e, b = (e + 1) % 3;
        s.bias[e] = TopLeft(s.X[a], s.Y[a], s.X[b], s.Y[b]) ? 0 : -1;
    }

    // Attribute planes from the snapped positions, relative to vertex 0.
    const Screen& q0 = p[order[0]];
    const Screen& q1 = p[order[1]];
    const Screen& q2 = p[order[2]];
    const float x0 = float(s.X[0]) / kOne, y0 = float(s.Y[0]) / kOne;
    const float dx1 = float(s.X[1]) / kOne - x0, dy1 = float(s.Y[1]) / kOne - y0;
    const float dx2 = float(s.X[2]) / kOne - x0, dy2 = float(s.Y[2]) / kOne - y0;
    const float det = dx1 * dy2 - dx2 * dy1;
    const float inv = 1.0f / det;
    auto plane = [&](float a0, float a1, float a2, float& base, float& ddx, float& ddy) {
        const float d1 = a1 - a0, d2 = a2 - a0;
        ddx = (d1 * dy2 - d2 * dy1) * inv;
        ddy = (d2 * dx1 - d1 * dx2) * inv;
        base = a0;
    };
    s.refX = x0;
    s.refY = y0;
    plane(q0.z, q1.z, q2.z, s.z, s.zdx, s.zdy);
    plane(q0.iw, q1.iw, q2.iw, s.iw, s.iwdx, s.iwdy);
    const ClipVertex& c0 = *cv[order[0]];
    const ClipVertex& c1 = *cv[order[1]];
    const ClipVertex& c2 = *cv[order[2]];
    for (int i = 0; i < job.varyings; ++i)
        plane(c0.var[i] * q0.iw, c1.var[i] * q1.iw, c2.var[i] * q2.iw, s.v[i], s.vdx[i], s.vdy[i]);
    // The provoking vertex is the first one of the primitive as submitted.
    s.flat = job.varyings > 0 ? cv[0]->var[job.varyings - 1] : 0.0f;
    return true;
}

// ---- output merger ---------------------------------------------------------------------------------

inline float Factor(D3D11_BLEND f, const float* src, const float* dst, const float* constant, int channel) {
    switch (f) {
    case D3D11_BLEND_ZERO:
        return 0;
    case D3D11_BLEND_ONE:
        return 1;
    case D3D11_BLEND_SRC_COLOR:
        return src[channel];
    case D3D11_BLEND_INV_SRC_COLOR:
        return 1 - src[channel];
    case D3D11_BLEND_SRC_ALPHA:
        return src[3];
    case D3D11_BLEND_INV_SRC_ALPHA:
        return 1 - src[3];
    case D3D11_BLEND_DEST_ALPHA:
        return dst[3];
    case D3D11_BLEND_INV_DEST_ALPHA:
        return 1 - dst[3];
    case D3D11_BLEND_DEST_COLOR:
        return dst[channel];
    case D3D11_BLEND_INV_DEST_COLOR:
        return 1 - dst[channel];
    case D3D11_BLEND_SRC_ALPHA_SAT:
        return channel == 3 ? 1.0f : std::min(src[3], 1 - dst[3]);
    case D3D11_BLEND_BLEND_FACTOR:
        return constant[channel];
    case D3D11_BLEND_INV_BLEND_FACTOR:
        return 1 - constant[channel];
    }
    return 0;
}

inline float Combine(D3D11_BLEND_OP op, float s, float d, float sf, float df) {
    switch (op) {
    case D3D11_BLEND_OP_ADD:
        return s * sf + d * df;
    case D3D11_BLEND_OP_SUBTRACT:
        return s * sf - d * df;
    case D3D11_BLEND_OP_REV_SUBTRACT:
        return d * df - s * sf;
    case D3D11_BLEND_OP_MIN:
        return std::min(s, d);
    case D3D11_BLEND_OP_MAX:
        return std::max(s, d);
    }
    return s;
}

inline uint32_t ToUnorm(float v) {
    v = v > 0 ? v : 0; // NaN becomes 0
    v = v < 1 ? v : 1;
    return uint32_t(v * 255.0f + 0.5f);
}

inline void Write(const RasterJob& job, uint32_t* pixel, float c[4]) {
    if (job.blend) {
        const uint32_t d = *pixel;
        constexpr float k = 1.0f / 255.0f;
        const float dst[4] = {float(d & 0xFF) * k, float((d >> 8) & 0xFF) * k, float((d >> 16) & 0xFF) * k,
                              float(d >> 24) * k};
        float src[4];
        for (int i = 0; i < 4; ++i)
            src[i] = std::clamp(c[i], 0.0f, 1.0f);
        const auto& b = job.blendDesc;
        float out[4];
        for (int i = 0; i < 3; ++i)
            out[i] = Combine(b.BlendOp, src[i], dst[i], Factor(b.SrcBlend, src, dst, job.blendFactor, i),
                             Factor(b.DestBlend, src, dst, job.blendFactor, i));
        out[3] =
            Combine(b.BlendOpAlpha, src[3], dst[3], Factor(b.SrcBlendAlpha, src, dst, job.blendFactor, 3),
                    Factor(b.DestBlendAlpha, src, dst, job.blendFactor, 3));
        std::memcpy(c, out, sizeof out);
    }
    const uint32_t packed = ToUnorm(c[0]) | ToUnorm(c[1]) << 8 | ToUnorm(c[2]) << 16 | ToUnorm(c[3]) << 24;
    if (job.writeMask == 0x0F) {
        *pixel = packed;
        return;
    }
    uint32_t keep = 0;
    for (int i = 0; i < 4; ++i)
        if (!(job.writeMask & (1 << i))) keep |= 0xFFu << (8 * i);
    *pixel = (*pixel & keep) | (packed & ~keep);
}

// Returns false when the depth test rejects the pixel; passes write depth (the default state).
inline bool DepthPass(const RasterJob& job, size_t index, float z) {
    if (!job.depth) return true;
    z = std::clamp(z, 0.0f, 1.0f);
    if (!(z < job.depth[index])) return false;
    job.depth[index] = z;
    return true;
}

template <class PS>
void RasterBand(const RasterJob& job, const PS& ps, const SetupList& setups, int bandY0, int bandY1) {
    float values[kMaxVaryings];
    const int nvar = job.varyings;
    const int interpolated = job.lastFlat ? nvar - 1 : nvar;
    for (size_t i = 0; i < setups.size(); ++i) {
        const Setup& s = setups[i];
        const int y0 = std::max(s.minY, bandY0), y1 = std::min(s.maxY, bandY1 - 1);
        for (int y = y0; y <= y1; ++y) {
            int xs, xe;
            if (!RowSpan(s, y, xs, xe)) continue;
            const float dy = float(y) + 0.5f - s.refY;
            const float zRow = s.z + s.zdy * dy;
            const float iwRow = s.iw + s.iwdy * dy;
            float rowBase[kMaxVaryings];
            for (int i = 0; i < interpolated; ++i)
                rowBase[i] = s.v[i] + s.vdy[i] * dy;
            const size_t rowIndex = size_t(y) * size_t(job.pitch);
            for (int x = xs; x <= xe; ++x) {
                const float dx = float(x) + 0.5f - s.refX;
                const size_t index = rowIndex + size_t(x);
                if (!DepthPass(job, index, zRow + s.zdx * dx)) continue;
                if (!job.colour) continue;
                const float w = 1.0f / (iwRow + s.iwdx * dx);
                for (int i = 0; i < interpolated; ++i)
                    values[i] = (rowBase[i] + s.vdx[i] * dx) * w;
                if (job.lastFlat) values[nvar - 1] = s.flat;
                float colour[4];
                ps.Shade(values, colour);
                Write(job, job.colour + index, colour);
            }
        }
    }
}

void RasterDrawBand(const PreparedDraw& d, BandKernel kernel, const SetupList& list, int y0, int y1) {
    if (kernel) {
        kernel(d.job, list, y0, y1);
        return;
    }
    switch (d.job.program) {
    case PsProgram::Scene:
    case PsProgram::Textured:
        RasterBand(d.job, ScenePs{d.job.ps, d.job.vertexColour}, list, y0, y1);
        break;
    case PsProgram::Camera:
        RasterBand(d.job, CameraPs{d.job.ps}, list, y0, y1);
        break;
    case PsProgram::Gui:
        RasterBand(d.job, GuiPs{d.job.ps}, list, y0, y1);
        break;
    }
}

} // namespace

void WritePixel(const RasterJob& job, uint32_t* pixel, float c[4]) {
    Write(job, pixel, c);
}

void ForRows(int rows, const std::function<void(int, int)>& fn) {
    constexpr int kRows = 32;
    const int bands = (rows + kRows - 1) / kRows;
    ThePool().Run(bands, [&](int k) { fn(k * kRows, std::min(rows, (k + 1) * kRows)); });
}

void SetThreadCount(unsigned n) {
    ThePool().SetLimit(n == 0 ? ~0u : n);
}
unsigned ThreadCount() {
    return ThePool().Limit();
}

void SetUpTriangles(const RasterJob& job, const std::vector<ClipVertex>& vertices,
                    const std::vector<uint32_t>& indices, std::vector<Setup>& setups) {
    const int planes = job.depthClip ? 7 : 5;
    setups.reserve(setups.size() + indices.size() / 3);
    // Vertices are shared by several triangles: classify and project each once.
    std::vector<unsigned> codes(vertices.size());
    std::vector<Screen> screens(vertices.size());
    for (size_t v = 0; v < vertices.size(); ++v) {
        codes[v] = OutCode(vertices[v], planes);
        if (codes[v] == 0) screens[v] = ToScreen(job, vertices[v]);
    }
    ClipVertex poly[16], scratch[16];
    for (size_t t = 0; t + 2 < indices.size(); t += 3) {
        const uint32_t i0 = indices[t], i1 = indices[t + 1], i2 = indices[t + 2];
        const ClipVertex* cv[3] = {&vertices[i0], &vertices[i1], &vertices[i2]};
        const unsigned c0 = codes[i0], c1 = codes[i1], c2 = codes[i2];
        if (c0 & c1 & c2) continue;
        if ((c0 | c1 | c2) == 0) {
            const Screen p[3] = {screens[i0], screens[i1], screens[i2]};
            // Set up in place: the record is large.
            setups.emplace_back();
            if (!MakeSetup(job, cv, p, setups.back())) setups.pop_back();
            continue;
        }
        Setup s;
        poly[0] = *cv[0], poly[1] = *cv[1], poly[2] = *cv[2];
        const int n = ClipPolygon(poly, 3, planes, c0 | c1 | c2, job.varyings, scratch);
        // Cutting an edge to an infinite vertex gives NaN (infinity times 0).
        if (!std::all_of(poly, poly + n, Finite)) continue;
        for (int i = 1; i + 1 < n; ++i) {
            const ClipVertex* fan[3] = {&poly[0], &poly[i], &poly[i + 1]};
            const Screen p[3] = {ToScreen(job, poly[0]), ToScreen(job, poly[i]), ToScreen(job, poly[i + 1])};
            if (MakeSetup(job, fan, p, s)) {
                // The fan keeps the primitive's provoking value.
                if (job.varyings > 0) s.flat = cv[0]->var[job.varyings - 1];
                setups.push_back(s);
            }
        }
    }
}

void Execute(RasterQueue& q) {
    // The queue is empty afterwards, whichever way this returns.
    struct Empty {
        RasterQueue& q;
        ~Empty() {
            q.draws.clear();
            q.clearColour = q.clearDepth = false;
        }
    } emptyAfter{q};
    if (q.Empty() || q.height <= 0 || q.pitch <= 0) return;
    // Rows to visit: all of them when a clear is pending, else those the draws touch.
    int minY = q.height, maxY = -1;
    int64_t work = 0;
    if (q.clearColour || q.clearDepth) {
        minY = 0, maxY = q.height - 1;
        work += int64_t(q.pitch) * q.height / 4;
    }
    for (const PreparedDraw& d : q.draws)
        for (const Setup& s : d.setups) {
            minY = std::min(minY, s.minY);
            maxY = std::max(maxY, s.maxY);
            work += int64_t(s.maxX - s.minX + 1) * (s.maxY - s.minY + 1);
        }
    if (maxY < minY) return;
    const int bands = (maxY - minY + kBandRows) / kBandRows;
    // Setups binned by band: for draw d and band b, index[d][start[d][b] .. start[d][b + 1]).
    struct Bins {
        std::vector<uint32_t> start, index;
        BandKernel kernel;
    };
    std::vector<Bins> bins(q.draws.size());
    for (size_t di = 0; di < q.draws.size(); ++di) {
        const PreparedDraw& d = q.draws[di];
        Bins& b = bins[di];
        b.kernel = PickBandKernel(d.job);
        b.start.assign(size_t(bands) + 1, 0);
        for (const Setup& s : d.setups)
            for (int k = (s.minY - minY) / kBandRows; k <= (s.maxY - minY) / kBandRows; ++k)
                ++b.start[size_t(k) + 1];
        for (int k = 0; k < bands; ++k)
            b.start[size_t(k) + 1] += b.start[size_t(k)];
        b.index.resize(b.start[size_t(bands)]);
        std::vector<uint32_t> fill(b.start.begin(), b.start.end() - 1);
        for (size_t i = 0; i < d.setups.size(); ++i) {
            const Setup& s = d.setups[i];
            for (int k = (s.minY - minY) / kBandRows; k <= (s.maxY - minY) / kBandRows; ++k)
                b.index[fill[size_t(k)]++] = uint32_t(i);
        }
    }
    auto band = [&](int k) {
        const int y0 = minY + k * kBandRows, y1 = std::min(y0 + kBandRows, maxY + 1);
        const size_t from = size_t(y0) * size_t(q.pitch), to = size_t(y1) * size_t(q.pitch);
        if (q.clearColour && q.colour) std::fill(q.colour + from, q.colour + to, q.colourValue);
        if (q.clearDepth && q.depth) std::fill(q.depth + from, q.depth + to, q.depthValue);
        for (size_t di = 0; di < q.draws.size(); ++di) {
            const Bins& b = bins[di];
            const SetupList list{q.draws[di].setups.data(), b.index.data() + b.start[size_t(k)],
                                 b.start[size_t(k) + 1] - b.start[size_t(k)]};
            if (list.size() > 0) RasterDrawBand(q.draws[di], b.kernel, list, y0, y1);
        }
    };
    // Small amounts of work are cheaper on the calling thread than handing them out.
    if (work < 16384) {
        for (int k = 0; k < bands; ++k)
            band(k);
        return;
    }
    ThePool().Run(bands, band);
}

namespace {
template <class PS> void Line(const RasterJob& job, const PS& ps, const ClipVertex& a, const ClipVertex& b) {
    const Screen p = ToScreen(job, a), q = ToScreen(job, b);
    const float ddx = q.x - p.x, ddy = q.y - p.y;
    const bool xMajor = std::fabs(ddx) >= std::fabs(ddy);
    const float from = xMajor ? std::min(p.x, q.x) : std::min(p.y, q.y);
    const float to = xMajor ? std::max(p.x, q.x) : std::max(p.y, q.y);
    const float length = xMajor ? ddx : ddy;
    if (length == 0) return;
    float values[kMaxVaryings];
    const int nvar = job.varyings;
    // One pixel per column (or row) whose centre lies in [from, to).
    for (int i = int(std::ceil(from - 0.5f)); float(i) + 0.5f < to; ++i) {
        const float t = ((float(i) + 0.5f) - (xMajor ? p.x : p.y)) / length;
        const float minor = xMajor ? p.y + ddy * t : p.x + ddx * t;
        const int x = xMajor ? i : int(std::floor(minor));
        const int y = xMajor ? int(std::floor(minor)) : i;
        if (x < job.clipX0 || x >= job.clipX1 || y < job.clipY0 || y >= job.clipY1) continue;
        const size_t index = size_t(y) * size_t(job.pitch) + size_t(x);
        if (!DepthPass(job, index, p.z + (q.z - p.z) * t)) continue;
        if (!job.colour) continue;
        const float iw = p.iw + (q.iw - p.iw) * t;
        for (int k = 0; k < nvar; ++k)
            values[k] = (a.var[k] * p.iw + (b.var[k] * q.iw - a.var[k] * p.iw) * t) / iw;
        if (job.lastFlat && nvar > 0) values[nvar - 1] = a.var[nvar - 1];
        float colour[4];
        ps.Shade(values, colour);
        Write(job, job.colour + index, colour);
    }
}

template <class PS>
void LinesWith(const RasterJob& job, const PS& ps, const std::vector<ClipVertex>& vertices,
               const std::vector<uint32_t>& indices) {
    const int planes = job.depthClip ? 7 : 5;
    for (size_t l = 0; l + 1 < indices.size(); l += 2) {
        ClipVertex a = vertices[indices[l]], b = vertices[indices[l + 1]];
        bool visible = true;
        float t0 = 0, t1 = 1;
        for (int p = 0; p < planes && visible; ++p) {
            const float da = PlaneDistance(a, p), db = PlaneDistance(b, p);
            if (!(da >= 0) && !(db >= 0))
                visible = false;
            else if (!(da >= 0))
                t0 = std::max(t0, da / (da - db));
            else if (!(db >= 0))
                t1 = std::min(t1, da / (da - db));
        }
        if (!visible || t0 >= t1) continue;
        ClipVertex ca, cb;
        Lerp(a, b, t0, job.varyings, ca);
        Lerp(a, b, t1, job.varyings, cb);
        // A non-finite end makes the cut ends NaN (infinity times 0, or NaN itself): nothing to draw.
        if (!Finite(ca) || !Finite(cb)) continue;
        if (job.lastFlat && job.varyings > 0)
            ca.var[job.varyings - 1] = cb.var[job.varyings - 1] = a.var[job.varyings - 1];
        Line(job, ps, ca, cb);
    }
}
} // namespace

void DrawLines(const RasterJob& job, const std::vector<ClipVertex>& vertices,
               const std::vector<uint32_t>& indices) {
    switch (job.program) {
    case PsProgram::Scene:
    case PsProgram::Textured:
        LinesWith(job, ScenePs{job.ps, job.vertexColour}, vertices, indices);
        break;
    case PsProgram::Camera:
        LinesWith(job, CameraPs{job.ps}, vertices, indices);
        break;
    case PsProgram::Gui:
        LinesWith(job, GuiPs{job.ps}, vertices, indices);
        break;
    }
}

} // namespace d3d11sw
