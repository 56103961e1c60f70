// Eight pixels at a time on AVX2, for the scene programs and the composition program with linear
// wrap/clamp sampling. Coverage, depth, 1/w, texture filtering and the composition repeat the plain
// path's arithmetic operation for operation (same order, true divisions, no fused multiply-add: "fma"
// is deliberately not in the target), so depth and composed pictures are the same. The scene lighting
// is cheaper but not identical: reciprocal square roots from the estimate and one Newton step, the
// normal's length divided out of the dot products, light terms folded per material, pow by squaring
// for whole exponents (else by a series). That moves a colour by one 8-bit step at most, and rarely.
// Set-up, clipping, lines and the other programs and states stay on the plain path.
#include "kernels.h"

#include <atomic>
#include <cmath>
#include <immintrin.h>

namespace d3d11sw {

namespace {
std::atomic<bool> plainKernels{false};
} // namespace

void SetPlainKernels(bool plain) {
    plainKernels = plain;
}
bool VectorKernelsAvailable() {
    static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt") &&
                             __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
    return avx2;
}

#pragma GCC push_options
#pragma GCC target("avx2,popcnt,bmi,bmi2")

namespace {

using V = __m256;
using I = __m256i;

inline V Set(float f) {
    return _mm256_set1_ps(f);
}
inline V Add(V a, V b) {
    return _mm256_add_ps(a, b);
}
inline V Sub(V a, V b) {
    return _mm256_sub_ps(a, b);
}
inline V Mul(V a, V b) {
    return _mm256_mul_ps(a, b);
}
inline V Div(V a, V b) {
    return _mm256_div_ps(a, b);
}
inline V Lt(V a, V b) {
    return _mm256_cmp_ps(a, b, _CMP_LT_OQ);
}
inline V Le(V a, V b) {
    return _mm256_cmp_ps(a, b, _CMP_LE_OQ);
}
inline V Gt(V a, V b) {
    return _mm256_cmp_ps(a, b, _CMP_GT_OQ);
}
inline V Ge(V a, V b) {
    return _mm256_cmp_ps(a, b, _CMP_GE_OQ);
}
inline V And(V a, V b) {
    return _mm256_and_ps(a, b);
}
inline V Or(V a, V b) {
    return _mm256_or_ps(a, b);
}
// b without the lanes of a.
inline V AndNot(V a, V b) {
    return _mm256_andnot_ps(a, b);
}
// mask ? a : b, per lane.
inline V Select(V mask, V a, V b) {
    return _mm256_blendv_ps(b, a, mask);
}
inline V Dot3(const V* a, const V* b) {
    return Add(Add(Mul(a[0], b[0]), Mul(a[1], b[1])), Mul(a[2], b[2]));
}
inline I Int(int i) {
    return _mm256_set1_epi32(i);
}

// 1/sqrt(x) from the estimate and one Newton step: within a few units in the last place of the true
// quotient, at a fraction of the cost of a square root and a division. 0 for infinite x, as 1/sqrt.
inline V Rsqrt(V x) {
    const V r = _mm256_rsqrt_ps(x);
    const V refined = Mul(r, Sub(Set(1.5f), Mul(Mul(Set(0.5f), x), Mul(r, r))));
    return AndNot(_mm256_cmp_ps(x, Set(INFINITY), _CMP_EQ_OQ), refined);
}

// As the plain path's Normalise: vectors of length below 1e-10 are left alone.
inline void Normalise(V* v) {
    const V len2 = Dot3(v, v);
    const V ok = _mm256_cmp_ps(len2, Set(1e-20f), _CMP_NLE_UQ);
    const V inv = Select(ok, Rsqrt(len2), Set(1.0f));
    for (int i = 0; i < 3; ++i)
        v[i] = Mul(v[i], inv);
}

// x^y for x > 0 as 2^(y log2 x): log2 from the exponent and an odd series in (m-1)/(m+1) with m in
// [0.707, 1.414), 2^f by its Taylor series for |f| <= 0.5. Relative error about 1e-7 per factor; the
// result is flushed to 0 below 2^-126 and held at 2^127 above, where 8-bit output cannot tell.
inline V Pow(V x, V y) {
    const I bits = _mm256_castps_si256(x);
    I e = _mm256_sub_epi32(_mm256_srli_epi32(bits, 23), Int(127));
    V m = _mm256_castsi256_ps(_mm256_or_si256(_mm256_and_si256(bits, Int(0x007FFFFF)), Int(0x3F800000)));
    const V big = Gt(m, Set(1.41421356f));
    m = Select(big, Mul(m, Set(0.5f)), m);
    e = _mm256_add_epi32(e, _mm256_and_si256(_mm256_castps_si256(big), Int(1)));
    const V t = Div(Sub(m, Set(1.0f)), Add(m, Set(1.0f)));
    const V t2 = Mul(t, t);
    V s = Set(1.0f / 9.0f);
    s = Add(Mul(s, t2), Set(1.0f / 7.0f));
    s = Add(Mul(s, t2), Set(1.0f / 5.0f));
    s = Add(Mul(s, t2), Set(1.0f / 3.0f));
    s = Add(Mul(s, t2), Set(1.0f));
    const V log2x = Add(_mm256_cvtepi32_ps(e), Mul(Mul(t, s), Set(2.0f / 0.69314718f)));

    V z = Mul(y, log2x);
    const V under = Lt(z, Set(-126.0f));
    z = _mm256_min_ps(_mm256_max_ps(z, Set(-126.0f)), Set(127.0f));
    const V n = _mm256_round_ps(z, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    const V f = Mul(Sub(z, n), Set(0.69314718f));
    V p = Set(1.0f / 5040.0f);
    p = Add(Mul(p, f), Set(1.0f / 720.0f));
    p = Add(Mul(p, f), Set(1.0f / 120.0f));
    p = Add(Mul(p, f), Set(1.0f / 24.0f));
    p = Add(Mul(p, f), Set(1.0f / 6.0f));
    p = Add(Mul(p, f), Set(0.5f));
    p = Add(Mul(p, f), Set(1.0f));
    p = Add(Mul(p, f), Set(1.0f));
    const V scale =
        _mm256_castsi256_ps(_mm256_slli_epi32(_mm256_add_epi32(_mm256_cvtps_epi32(n), Int(127)), 23));
    return AndNot(under, Mul(p, scale));
}

// x^n for a whole exponent, by squaring: the usual material shininess (32) and light falloff (1, 2)
// cost a handful of multiplies instead of a logarithm and an exponential.
inline V PowWhole(V x, unsigned n) {
    if (n == 0) return Set(1.0f);
    for (; !(n & 1); n >>= 1)
        x = Mul(x, x);
    V result = x;
    while (n >>= 1) {
        x = Mul(x, x);
        if (n & 1) result = Mul(result, x);
    }
    return result;
}

// The exponent as a whole number below 1024, or -1.
inline int WholeExponent(float y) {
    return y >= 0.0f && y < 1024.0f && y == std::floor(y) ? int(y) : -1;
}

inline V PowBy(V x, float y, int whole) {
    return whole >= 0 ? PowWhole(x, unsigned(whole)) : Pow(x, Set(y));
}

inline I Load8(const uint32_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const I*>(p));
}

// A 16-bit value in both halves of each lane.
inline I Both(I w) {
    return _mm256_or_si256(w, _mm256_slli_epi32(w, 16));
}

// Linear sampling with wrap or clamp addressing, as Sample does it: 8-bit weights, packed blending.
struct Sampler {
    const uint32_t* pixels = nullptr;
    int width = 0, height = 0;
    bool wrapU = false, wrapV = false;

    explicit Sampler(const TextureRef& t)
        : pixels(t.pixels), width(t.width), height(t.height), wrapU(t.addressU == D3D11_TEXTURE_ADDRESS_WRAP),
          wrapV(t.addressV == D3D11_TEXTURE_ADDRESS_WRAP) {}

    // Texel index pair along one axis from the coordinate `c` in texture units times 256; `outside`
    // (if asked for) marks the lanes whose pair does not lie inside the texture without addressing.
    static void Axis(V c, int n, bool wrap, I& i0, I& i1, I& weight, I* outside) {
        const I fixed = _mm256_cvttps_epi32(_mm256_floor_ps(c));
        i0 = _mm256_srai_epi32(fixed, 8);
        weight = _mm256_and_si256(fixed, Int(255));
        i1 = _mm256_add_epi32(i0, Int(1));
        const I last = Int(n - 1);
        if (outside) *outside = _mm256_or_si256(_mm256_cmpgt_epi32(Int(0), i0), _mm256_cmpgt_epi32(i1, last));
        if (wrap) {
            // Wrapped coordinates lie in [0, 1], so the pair lies in [-1, n].
            i0 = _mm256_add_epi32(i0, _mm256_and_si256(_mm256_cmpgt_epi32(Int(0), i0), Int(n)));
            i1 = _mm256_sub_epi32(i1, _mm256_and_si256(_mm256_cmpgt_epi32(i1, last), Int(n)));
        } else {
            i0 = _mm256_min_epi32(_mm256_max_epi32(i0, Int(0)), last);
            i1 = _mm256_min_epi32(_mm256_max_epi32(i1, Int(0)), last);
        }
    }

    // Texels at `index` and index + 1 for each lane, as two vectors.
    void Pairs(I index, I& first, I& second) const {
        // Plain 64-bit loads, with the indices taken from registers: hardware gathers, and reloading
        // the indices from a vector store, are both slower than this on some cores.
        const __m128i i03 = _mm256_castsi256_si128(index), i47 = _mm256_extracti128_si256(index, 1);
        const auto two = [&](int first, int second) {
            const __m128d low =
                _mm_castsi128_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixels + first)));
            return _mm_castpd_si128(_mm_loadh_pd(low, reinterpret_cast<const double*>(pixels + second)));
        };
        const I lo = _mm256_set_m128i(two(_mm_extract_epi32(i03, 2), _mm_extract_epi32(i03, 3)),
                                      two(_mm_cvtsi128_si32(i03), _mm_extract_epi32(i03, 1)));
        const I hi = _mm256_set_m128i(two(_mm_extract_epi32(i47, 2), _mm_extract_epi32(i47, 3)),
                                      two(_mm_cvtsi128_si32(i47), _mm_extract_epi32(i47, 1)));
        const I split = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
        const I l = _mm256_permutevar8x32_epi32(lo, split), h = _mm256_permutevar8x32_epi32(hi, split);
        first = _mm256_permute2x128_si256(l, h, 0x20);
        second = _mm256_permute2x128_si256(l, h, 0x31);
    }

    static V Finite(V c) { return Lt(And(c, _mm256_castsi256_ps(Int(0x7FFFFFFF))), Set(INFINITY)); }

    // One axis of finite coordinates `c` over `n` texels: the texel pair and the weight of the second.
    static void AxisOf(V c, int n, bool wrap, I& i0, I& i1, I& weight, I* outside) {
        c = _mm256_min_ps(_mm256_max_ps(c, Set(-4096.0f)), Set(4096.0f));
        // Clamped addressing gives the same texels for every coordinate beyond [-2, 3].
        if (wrap)
            c = Sub(c, _mm256_floor_ps(c));
        else
            c = _mm256_min_ps(_mm256_max_ps(c, Set(-2.0f)), Set(3.0f));
        const V t = Mul(c, Set(float(n)));
        Axis(Mul(Sub(t, Set(0.5f)), Set(256.0f)), n, wrap, i0, i1, weight, outside);
    }

    // The filtered texels from the pairs of both axes (see Sums).
    void Filter(I x0, I x1, I wx, bool insideX, I y0, I y1, I wy, I& rb, I& ga) const {
        // Rows and widths below 2^15: one 16-bit multiply-add gives the exact product.
        const I row0 = _mm256_madd_epi16(y0, Int(width)), row1 = _mm256_madd_epi16(y1, Int(width));
        const int* base = reinterpret_cast<const int*>(pixels);
        // The second row has weight 0 in every lane when the coordinates sit on texel rows (as when a
        // target is composed at its own size): it adds nothing, so it is not fetched.
        const bool secondRow = !_mm256_testz_si256(wy, wy);
        I a, b, c = _mm256_setzero_si256(), d = _mm256_setzero_si256();
        if (insideX) {
            // Both texels of a row are neighbours in memory: fetch them as one 64-bit pair.
            Pairs(_mm256_add_epi32(row0, x0), a, b);
            if (secondRow) Pairs(_mm256_add_epi32(row1, x0), c, d);
        } else {
            a = _mm256_i32gather_epi32(base, _mm256_add_epi32(row0, x0), 4);
            b = _mm256_i32gather_epi32(base, _mm256_add_epi32(row0, x1), 4);
            if (secondRow) {
                c = _mm256_i32gather_epi32(base, _mm256_add_epi32(row1, x0), 4);
                d = _mm256_i32gather_epi32(base, _mm256_add_epi32(row1, x1), 4);
            }
        }
        Mix(a, b, c, d, wx, wy, rb, ga);
    }

    // Texels a, b (first row) and c, d (second row) weighted by wx across and wy down.
    static void Mix(I a, I b, I c, I d, I wx, I wy, I& rb, I& ga) {
        const I w11 = _mm256_srli_epi32(_mm256_madd_epi16(wx, wy), 8);
        const I w10 = _mm256_sub_epi32(wx, w11), w01 = _mm256_sub_epi32(wy, w11);
        const I w00 = _mm256_add_epi32(_mm256_sub_epi32(_mm256_sub_epi32(Int(256), wx), wy), w11);
        const I low = Int(0x00FF00FF);
        // Two channels per 32-bit lane, multiplied as 16-bit halves: every product and the sum of the
        // four stay within 255 x 256, so nothing carries into the other half.
        const I v00 = Both(w00), v10 = Both(w10), v01 = Both(w01), v11 = Both(w11);
        auto mix = [&](I pa, I pb, I pc, I pd) {
            I r = _mm256_mullo_epi16(_mm256_and_si256(pa, low), v00);
            r = _mm256_add_epi16(r, _mm256_mullo_epi16(_mm256_and_si256(pb, low), v10));
            r = _mm256_add_epi16(r, _mm256_mullo_epi16(_mm256_and_si256(pc, low), v01));
            return _mm256_add_epi16(r, _mm256_mullo_epi16(_mm256_and_si256(pd, low), v11));
        };
        rb = mix(a, b, c, d);
        ga = mix(_mm256_srli_epi32(a, 8), _mm256_srli_epi32(b, 8), _mm256_srli_epi32(c, 8),
                 _mm256_srli_epi32(d, 8));
    }

    // Filtered texels times 255 x 256, two channels per lane (red and blue, green and alpha), and the
    // lanes whose coordinates are finite (the others read as 0). Needs a texture.
    void Sums(V u, V v, I& rb, I& ga, V& finite) const {
        finite = And(Finite(u), Finite(v));
        I x0, x1, wx, y0, y1, wy, outsideX;
        AxisOf(And(finite, u), width, wrapU, x0, x1, wx, &outsideX);
        AxisOf(And(finite, v), height, wrapV, y0, y1, wy, nullptr);
        Filter(x0, x1, wx, _mm256_testz_si256(outsideX, outsideX) != 0, y0, y1, wy, rb, ga);
    }

    void Sample(V u, V v, V out[4]) const {
        if (!pixels) {
            out[0] = out[1] = out[2] = out[3] = _mm256_setzero_ps();
            return;
        }
        I rb, ga;
        V finite;
        Sums(u, v, rb, ga, finite);
        const V k = Set(1.0f / (255.0f * 256.0f));
        const I half = Int(0xFFFF);
        out[0] = And(finite, Mul(_mm256_cvtepi32_ps(_mm256_and_si256(rb, half)), k));
        out[1] = And(finite, Mul(_mm256_cvtepi32_ps(_mm256_and_si256(ga, half)), k));
        out[2] = And(finite, Mul(_mm256_cvtepi32_ps(_mm256_srli_epi32(rb, 16)), k));
        out[3] = And(finite, Mul(_mm256_cvtepi32_ps(_mm256_srli_epi32(ga, 16)), k));
    }
};

// Sample followed by 8-bit packing, without the detour through floats: for every sum s of Sums the
// plain path's trunc(min(float(s) * k, 1) * 255 + 0.5), k = 1 / 65280 in single precision, is
// (s + 128) >> 8.
constexpr bool PackingMatchesFloats() {
    constexpr float k = 1.0f / (255.0f * 256.0f);
    for (uint32_t sum = 0; sum <= 255 * 256; ++sum) {
        float v = float(sum) * k;
        v = v < 1.0f ? v : 1.0f;
        if (uint32_t(v * 255.0f + 0.5f) != (sum + 128) >> 8) return false;
    }
    return true;
}
static_assert(PackingMatchesFloats());

inline I SampleBytes(const Sampler& sampler, V u, V v) {
    if (!sampler.pixels) return _mm256_setzero_si256();
    I rb, ga;
    V finite;
    sampler.Sums(u, v, rb, ga, finite);
    const I half = Int(0x00800080);
    rb = _mm256_srli_epi16(_mm256_add_epi16(rb, half), 8);
    ga = _mm256_srli_epi16(_mm256_add_epi16(ga, half), 8);
    return _mm256_and_si256(_mm256_castps_si256(finite), _mm256_or_si256(rb, _mm256_slli_epi32(ga, 8)));
}

inline I ToUnorm(V v) {
    v = _mm256_max_ps(v, _mm256_setzero_ps()); // NaN becomes 0
    v = _mm256_min_ps(v, Set(1.0f));
    return _mm256_cvttps_epi32(Add(Mul(v, Set(255.0f)), Set(0.5f)));
}

// The depth test and write of eight pixels of a row; returns the lanes that pass. Whole chunks inside
// the row use plain loads and stores (masked stores are slow on some cores); the pixels they rewrite
// unchanged lie in the same row, which only this thread touches.
inline V DepthTest(const RasterJob& job, size_t index, int x, I active, V z) {
    // Clamped to [0, 1] with NaN kept: max and min return their second operand when either is NaN.
    z = _mm256_min_ps(Set(1.0f), _mm256_max_ps(_mm256_setzero_ps(), z));
    float* d = job.depth + index;
    if (x + 8 <= job.pitch) {
        const V old = _mm256_loadu_ps(d);
        const V pass = And(_mm256_castsi256_ps(active), Lt(z, old));
        _mm256_storeu_ps(d, Select(pass, z, old));
        return pass;
    }
    const V pass = And(_mm256_castsi256_ps(active), Lt(z, _mm256_maskload_ps(d, active)));
    _mm256_maskstore_ps(d, _mm256_castps_si256(pass), z);
    return pass;
}

// The pixels of one row that survive the depth test and take a colour, eight at a time: `shade` gets
// the lanes' x offsets from the setup's reference point and 1/w, and returns RGBA; `shadeBytes` also
// gets the first lane's column and returns packed colours.
template <class Shade, class ShadeBytes>
inline void Row(const RasterJob& job, const Setup& s, int y, int xs, int xe, const Shade& shade,
                const ShadeBytes& shadeBytes) {
    const float dy = float(y) + 0.5f - s.refY;
    const V zRow = Set(s.z + s.zdy * dy), iwRow = Set(s.iw + s.iwdy * dy);
    const V zdx = Set(s.zdx), iwdx = Set(s.iwdx), refX = Set(s.refX);
    const I lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const size_t rowIndex = size_t(y) * size_t(job.pitch);
    const bool direct = !job.blend && job.writeMask == 0x0F;
    for (int x = xs; x <= xe; x += 8) {
        const I active = _mm256_cmpgt_epi32(Int(xe - x + 1), lanes);
        const V dx = Sub(Add(_mm256_cvtepi32_ps(_mm256_add_epi32(Int(x), lanes)), Set(0.5f)), refX);
        V pass = _mm256_castsi256_ps(active);
        if (job.depth) pass = DepthTest(job, rowIndex + size_t(x), x, active, Add(zRow, Mul(zdx, dx)));
        if (!job.colour) continue;
        const int live = _mm256_movemask_ps(pass);
        if (live == 0) continue;
        const V w = Div(Set(1.0f), Add(iwRow, Mul(iwdx, dx)));
        uint32_t* out = job.colour + rowIndex + size_t(x);
        if (direct) {
            const I packed = shadeBytes(x, dx, w);
            if (x + 8 <= job.pitch) {
                I* o = reinterpret_cast<I*>(out);
                _mm256_storeu_si256(
                    o, _mm256_blendv_epi8(_mm256_loadu_si256(o), packed, _mm256_castps_si256(pass)));
            } else {
                _mm256_maskstore_epi32(reinterpret_cast<int*>(out), _mm256_castps_si256(pass), packed);
            }
            continue;
        }
        V c[4];
        shade(dx, w, c);
        alignas(32) float lanesOut[4][8];
        for (int i = 0; i < 4; ++i)
            _mm256_store_ps(lanesOut[i], c[i]);
        for (int l = 0; l < 8; ++l) {
            if (!(live & (1 << l))) continue;
            float colour[4] = {lanesOut[0][l], lanesOut[1][l], lanesOut[2][l], lanesOut[3][l]};
            WritePixel(job, out + l, colour);
        }
    }
}

template <class Shade> inline void Rows(const Setup& s, int bandY0, int bandY1, const Shade& shade) {
    const int y0 = std::max(s.minY, bandY0), y1 = std::min(s.maxY, bandY1 - 1);
    for (int y = y0; y <= y1; ++y) {
        int xs, xe;
        if (RowSpan(s, y, xs, xe)) shade(y, xs, xe);
    }
}

// Triangles whose vertices span at most this many sub-pixel steps either way have edge functions
// that fit 32 bits anywhere in their bounding box widened by a chunk: 2 x e x (e + 9 pixels) < 2^31.
constexpr int64_t kSmallExtent = 96 * kOne;
static_assert(2 * kSmallExtent * (kSmallExtent + 9 * kOne) < (int64_t(1) << 31));

// Lane orders that move the set lanes of an 8-bit mask to the front, four bits per lane.
struct PackTable {
    uint32_t order[256];
    constexpr PackTable() : order() {
        for (int m = 0; m < 256; ++m) {
            uint32_t o = 0;
            int n = 0;
            for (int l = 0; l < 8; ++l)
                if (m & (1 << l)) o |= uint32_t(l) << (4 * n++);
            order[m] = o;
        }
    }
};
constexpr PackTable kPack;

// The pixels of one triangle in the band that pass the depth test, gathered eight at a time across
// its rows: small triangles fill few lanes of a row, and shading dominates. `shade` gets the lanes'
// offsets from the setup's reference point and 1/w and returns RGBA; colours are written in the order
// the pixels were found, before the next triangle starts.
template <class Shade>
void Batched(const RasterJob& job, const Setup& s, int bandY0, int bandY1, const Shade& shade) {
    // The batch lives in registers: lanes below `count` hold pixels waiting to be shaded.
    I batchX = _mm256_setzero_si256(), batchY = _mm256_setzero_si256();
    int count = 0;
    const V refX = Set(s.refX), refY = Set(s.refY);
    const bool direct = !job.blend && job.writeMask == 0x0F;
    auto flush = [&](int n) {
        const V dx = Sub(Add(_mm256_cvtepi32_ps(batchX), Set(0.5f)), refX);
        const V dy = Sub(Add(_mm256_cvtepi32_ps(batchY), Set(0.5f)), refY);
        const V w = Div(Set(1.0f), Add(Add(Set(s.iw), Mul(Set(s.iwdy), dy)), Mul(Set(s.iwdx), dx)));
        V c[4];
        shade(dx, dy, w, c);
        const I index = _mm256_add_epi32(_mm256_mullo_epi32(batchY, Int(job.pitch)), batchX);
        if (direct && n == 8) {
            I packed = ToUnorm(c[0]);
            packed = _mm256_or_si256(packed, _mm256_slli_epi32(ToUnorm(c[1]), 8));
            packed = _mm256_or_si256(packed, _mm256_slli_epi32(ToUnorm(c[2]), 16));
            packed = _mm256_or_si256(packed, _mm256_slli_epi32(ToUnorm(c[3]), 24));
            // Lane by lane from registers (no scatter in AVX2; reloading a vector store stalls).
            uint32_t* colour = job.colour;
            const __m128i i03 = _mm256_castsi256_si128(index), i47 = _mm256_extracti128_si256(index, 1);
            const __m128i p03 = _mm256_castsi256_si128(packed), p47 = _mm256_extracti128_si256(packed, 1);
            colour[_mm_cvtsi128_si32(i03)] = uint32_t(_mm_cvtsi128_si32(p03));
            colour[_mm_extract_epi32(i03, 1)] = uint32_t(_mm_extract_epi32(p03, 1));
            colour[_mm_extract_epi32(i03, 2)] = uint32_t(_mm_extract_epi32(p03, 2));
            colour[_mm_extract_epi32(i03, 3)] = uint32_t(_mm_extract_epi32(p03, 3));
            colour[_mm_cvtsi128_si32(i47)] = uint32_t(_mm_cvtsi128_si32(p47));
            colour[_mm_extract_epi32(i47, 1)] = uint32_t(_mm_extract_epi32(p47, 1));
            colour[_mm_extract_epi32(i47, 2)] = uint32_t(_mm_extract_epi32(p47, 2));
            colour[_mm_extract_epi32(i47, 3)] = uint32_t(_mm_extract_epi32(p47, 3));
            return;
        }
        alignas(32) int at[8];
        _mm256_store_si256(reinterpret_cast<I*>(at), index);
        if (direct) {
            I packed = ToUnorm(c[0]);
            packed = _mm256_or_si256(packed, _mm256_slli_epi32(ToUnorm(c[1]), 8));
            packed = _mm256_or_si256(packed, _mm256_slli_epi32(ToUnorm(c[2]), 16));
            packed = _mm256_or_si256(packed, _mm256_slli_epi32(ToUnorm(c[3]), 24));
            alignas(32) uint32_t out[8];
            _mm256_store_si256(reinterpret_cast<I*>(out), packed);
            for (int l = 0; l < n; ++l)
                job.colour[at[l]] = out[l];
            return;
        }
        alignas(32) float lanesOut[4][8];
        for (int i = 0; i < 4; ++i)
            _mm256_store_ps(lanesOut[i], c[i]);
        for (int l = 0; l < n; ++l) {
            float colour[4] = {lanesOut[0][l], lanesOut[1][l], lanesOut[2][l], lanesOut[3][l]};
            WritePixel(job, job.colour + at[l], colour);
        }
    };
    const I lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const I nibbles = _mm256_setr_epi32(0, 4, 8, 12, 16, 20, 24, 28);
    const V zdx = Set(s.zdx);
    // Depth test of the covered lanes of eight pixels from x, and their place in the batch.
    auto chunk = [&](int x, int y, size_t rowIndex, V zRow, I active) {
        const I xl = _mm256_add_epi32(Int(x), lanes);
        V pass = _mm256_castsi256_ps(active);
        if (job.depth) {
            const V dx = Sub(Add(_mm256_cvtepi32_ps(xl), Set(0.5f)), refX);
            pass = DepthTest(job, rowIndex + size_t(x), x, active, Add(zRow, Mul(zdx, dx)));
        }
        if (!job.colour) return;
        const int mask = _mm256_movemask_ps(pass);
        if (mask == 0) return;
        // Move the passing lanes to the front, then rotate them to start at lane `count`.
        const I order = _mm256_and_si256(_mm256_srlv_epi32(Int(int(kPack.order[mask])), nibbles), Int(15));
        const I rotate = _mm256_and_si256(_mm256_sub_epi32(lanes, Int(count)), Int(7));
        const I newX = _mm256_permutevar8x32_epi32(_mm256_permutevar8x32_epi32(xl, order), rotate);
        const I fill = _mm256_cmpgt_epi32(Int(count), lanes); // lanes already taken
        batchX = _mm256_blendv_epi8(newX, batchX, fill);
        batchY = _mm256_blendv_epi8(Int(y), batchY, fill);
        count += __builtin_popcount(unsigned(mask));
        if (count >= 8) {
            flush(8);
            // What did not fit sits in the low lanes of the rotated vector.
            count -= 8;
            batchX = newX;
            batchY = Int(y);
        }
    };
    const int y0 = std::max(s.minY, bandY0), y1 = std::min(s.maxY, bandY1 - 1);
    const int64_t extentX = std::max({s.X[0], s.X[1], s.X[2]}) - std::min({s.X[0], s.X[1], s.X[2]});
    const int64_t extentY = std::max({s.Y[0], s.Y[1], s.Y[2]}) - std::min({s.Y[0], s.Y[1], s.Y[2]});
    if (extentX <= kSmallExtent && extentY <= kSmallExtent) {
        // Small triangles: step the three edge functions over the bounding box eight pixels at a time
        // instead of solving each row's span. Relative to a pixel inside the box they fit 32 bits.
        const int64_t ox = int64_t(s.minX) * kOne + kOne / 2, oy = int64_t(y0) * kOne + kOne / 2;
        int32_t edge[3], stepX[3], stepY[3];
        I laneStep[3];
        for (int e = 0; e < 3; ++e) {
            const int a = e, b = (e + 1) % 3;
            const int64_t ex = s.X[b] - s.X[a], ey = s.Y[b] - s.Y[a];
            edge[e] = int32_t(ex * (oy - s.Y[a]) - ey * (ox - s.X[a]) + s.bias[e]);
            stepX[e] = int32_t(-ey * kOne);
            stepY[e] = int32_t(ex * kOne);
            laneStep[e] = _mm256_mullo_epi32(lanes, Int(stepX[e]));
        }
        for (int y = y0; y <= y1; ++y) {
            const float dyRow = float(y) + 0.5f - s.refY;
            const V zRow = Set(s.z + s.zdy * dyRow);
            const size_t rowIndex = size_t(y) * size_t(job.pitch);
            I e0 = _mm256_add_epi32(Int(edge[0]), laneStep[0]);
            I e1 = _mm256_add_epi32(Int(edge[1]), laneStep[1]);
            I e2 = _mm256_add_epi32(Int(edge[2]), laneStep[2]);
            for (int x = s.minX; x <= s.maxX; x += 8) {
                // Inside all three edges: no sign bit in any of them.
                const I inside = _mm256_cmpgt_epi32(_mm256_or_si256(_mm256_or_si256(e0, e1), e2), Int(-1));
                const I active = _mm256_and_si256(inside, _mm256_cmpgt_epi32(Int(s.maxX - x + 1), lanes));
                if (!_mm256_testz_si256(active, active)) chunk(x, y, rowIndex, zRow, active);
                e0 = _mm256_add_epi32(e0, Int(8 * stepX[0]));
                e1 = _mm256_add_epi32(e1, Int(8 * stepX[1]));
                e2 = _mm256_add_epi32(e2, Int(8 * stepX[2]));
            }
            for (int e = 0; e < 3; ++e)
                edge[e] += stepY[e];
        }
    } else {
        for (int y = y0; y <= y1; ++y) {
            int xs, xe;
            if (!RowSpan(s, y, xs, xe)) continue;
            const float dyRow = float(y) + 0.5f - s.refY;
            const V zRow = Set(s.z + s.zdy * dyRow);
            const size_t rowIndex = size_t(y) * size_t(job.pitch);
            for (int x = xs; x <= xe; x += 8)
                chunk(x, y, rowIndex, zRow, _mm256_cmpgt_epi32(Int(xe - x + 1), lanes));
        }
    }
    if (count > 0) flush(count);
}

// Value of varying i at the lanes: the plane at the row, stepped by dx, times w.
struct Varyings {
    const Setup& s;
    float row[kMaxVaryings];
    Varyings(const Setup& setup, int y, int count) : s(setup) {
        const float dy = float(y) + 0.5f - s.refY;
        for (int i = 0; i < count; ++i)
            row[i] = s.v[i] + s.vdy[i] * dy;
    }
    V At(int i, V dx, V w) const { return Mul(Add(Set(row[i]), Mul(Set(s.vdx[i]), dx)), w); }
};

// The composition quad is axis-aligned in the target with a constant 1/w, so u depends on the column
// alone and v on the row alone: the horizontal texel pairs and weights are worked out once per column
// and the vertical ones once per row, with the same arithmetic as the per-pixel path.
bool Separable(const RasterJob& job, const Setup& s, const Sampler& sampler) {
    return sampler.pixels && !job.blend && job.writeMask == 0x0F && s.iwdx == 0 && s.iwdy == 0 &&
           s.vdy[0] == 0 && s.vdx[1] == 0 && std::isfinite(s.iw) && std::isfinite(s.v[0]) &&
           std::isfinite(s.vdx[0]) && std::isfinite(s.v[1]) && std::isfinite(s.vdy[1]);
}

// Per column of a separable setup: texel pair, weight, whether the pair lies inside the texture, and
// whether u is finite, from the setup's first column to seven past its last (a row's last chunk of
// eight may start at the last column).
struct Columns {
    int first = 0;
    std::vector<int32_t> x0, x1, weight, inside, finite;
    V w;

    void Build(const Setup& s, const Sampler& sampler, int y) {
        first = s.minX;
        const size_t count = size_t((s.maxX - s.minX + 1 + 7 + 7) / 8 * 8);
        for (auto* v : {&x0, &x1, &weight, &inside, &finite})
            v->resize(count);
        const float dy = float(y) + 0.5f - s.refY;
        const V iwRow = Set(s.iw + s.iwdy * dy), iwdx = Set(s.iwdx), refX = Set(s.refX);
        const Varyings var(s, y, 1);
        const I lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
        for (size_t k = 0; k < count; k += 8) {
            const V dx =
                Sub(Add(_mm256_cvtepi32_ps(_mm256_add_epi32(Int(first + int(k)), lanes)), Set(0.5f)), refX);
            w = Div(Set(1.0f), Add(iwRow, Mul(iwdx, dx)));
            const V u = var.At(0, dx, w);
            const V ok = Sampler::Finite(u);
            I i0, i1, wx, out;
            Sampler::AxisOf(And(ok, u), sampler.width, sampler.wrapU, i0, i1, wx, &out);
            auto store = [&](std::vector<int32_t>& v, I x) {
                _mm256_storeu_si256(reinterpret_cast<I*>(v.data() + k), x);
            };
            store(x0, i0), store(x1, i1), store(weight, wx);
            store(inside, _mm256_xor_si256(out, Int(-1)));
            store(finite, _mm256_castps_si256(ok));
        }
    }

    // Packed filtered colours of eight pixels from column x, on a row whose texel rows are y0 and y1.
    I Bytes(const Sampler& sampler, int x, I y0, I y1, I wy) const {
        const size_t at = size_t(x - first);
        auto load = [&](const std::vector<int32_t>& v) {
            return _mm256_loadu_si256(reinterpret_cast<const I*>(v.data() + at));
        };
        const I in = load(inside), first0 = load(x0), wx = load(weight);
        I rb, ga;
        // At the target's own size the eight pairs are neighbours: two plain loads per texel row.
        const int start = _mm256_cvtsi256_si32(first0);
        const I lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
        const I run = _mm256_cmpeq_epi32(first0, _mm256_add_epi32(Int(start), lanes));
        if (_mm256_testc_si256(_mm256_and_si256(in, run), Int(-1))) {
            const uint32_t* row0 = sampler.pixels + size_t(_mm256_cvtsi256_si32(y0)) * size_t(sampler.width);
            const uint32_t* row1 = sampler.pixels + size_t(_mm256_cvtsi256_si32(y1)) * size_t(sampler.width);
            // Right on the texel centres the filter returns the texels themselves.
            if (_mm256_testz_si256(_mm256_or_si256(wx, wy), _mm256_or_si256(wx, wy)))
                return _mm256_and_si256(load(finite), Load8(row0 + start));
            I c = _mm256_setzero_si256(), d = _mm256_setzero_si256();
            if (!_mm256_testz_si256(wy, wy)) c = Load8(row1 + start), d = Load8(row1 + start + 1);
            Sampler::Mix(Load8(row0 + start), Load8(row0 + start + 1), c, d, wx, wy, rb, ga);
        } else {
            sampler.Filter(first0, load(x1), wx, _mm256_testc_si256(in, Int(-1)) != 0, y0, y1, wy, rb, ga);
        }
        const I half = Int(0x00800080);
        rb = _mm256_srli_epi16(_mm256_add_epi16(rb, half), 8);
        ga = _mm256_srli_epi16(_mm256_add_epi16(ga, half), 8);
        return _mm256_and_si256(load(finite), _mm256_or_si256(rb, _mm256_slli_epi32(ga, 8)));
    }
};

void CameraBand(const RasterJob& job, const SetupList& setups, int bandY0, int bandY1) {
    const Sampler sampler(job.ps->texture);
    Columns columns;
    for (size_t i = 0; i < setups.size(); ++i) {
        const Setup& s = setups[i];
        const bool separable = Separable(job, s, sampler);
        if (separable) columns.Build(s, sampler, std::max(s.minY, bandY0));
        Rows(s, bandY0, bandY1, [&](int y, int xs, int xe) {
            const Varyings var(s, y, 2);
            const auto shade = [&](V dx, V w, V c[4]) {
                sampler.Sample(var.At(0, dx, w), var.At(1, dx, w), c);
            };
            if (separable) {
                const V v = var.At(1, _mm256_setzero_ps(), columns.w);
                if (_mm256_movemask_ps(Sampler::Finite(v)) == 0xFF) {
                    I y0, y1, wy;
                    Sampler::AxisOf(v, sampler.height, sampler.wrapV, y0, y1, wy, nullptr);
                    Row(job, s, y, xs, xe, shade,
                        [&](int x, V, V) { return columns.Bytes(sampler, x, y0, y1, wy); });
                    return;
                }
            }
            Row(job, s, y, xs, xe, shade,
                [&](int, V dx, V w) { return SampleBytes(sampler, var.At(0, dx, w), var.At(1, dx, w)); });
        });
    }
}

// A light's terms for one material, broadcast once per band.
struct LightTerms {
    int type;
    float toLight[3]; // directional: minus the direction
    float position[3];
    float direction[3];
    float range2, invRange, falloff, cosOuter, cosInner, coneWidth;
    int wholeFalloff;
    float diffuse[3];  // material B x light diffuse x intensity
    float specular[3]; // material C x light specular x intensity
    bool hasSpecular;
};

void SceneBand(const RasterJob& job, const SetupList& setups, int bandY0, int bandY1) {
    const PsUniforms& u = *job.ps;
    const Sampler sampler(u.texture);
    const bool vertexColour = job.vertexColour;
    const size_t lights = u.lights.size();
    std::vector<LightTerms> terms(lights * 4);
    for (int m = 0; m < 4; ++m)
        for (size_t i = 0; i < lights; ++i) {
            const Light& l = u.lights[i];
            const float* B = u.material[m] + 4;
            const float* C = u.material[m] + 8;
            LightTerms& t = terms[size_t(m) * lights + i];
            t.type = l.type;
            for (int k = 0; k < 3; ++k) {
                t.toLight[k] = -l.direction[k];
                t.position[k] = l.position[k];
                t.direction[k] = l.direction[k];
                t.diffuse[k] = B[k] * l.diffuse[k] * l.intensity;
                t.specular[k] = C[k] * l.specular[k] * l.intensity;
            }
            // A range of 0 or below lights nothing; a NaN range stays NaN, as in the plain path.
            t.range2 = !(l.range <= 0.0f) ? l.range * l.range : -INFINITY;
            t.invRange = 1.0f / l.range;
            t.falloff = l.falloff, t.cosOuter = l.cosOuter, t.cosInner = l.cosInner;
            t.wholeFalloff = WholeExponent(l.falloff);
            t.coneWidth = l.cosInner - l.cosOuter;
            t.hasSpecular =
                (C[0] * l.specular[0] != 0) | (C[1] * l.specular[1] != 0) | (C[2] * l.specular[2] != 0);
        }
    const V zero = _mm256_setzero_ps();
    for (size_t si = 0; si < setups.size(); ++si) {
        const Setup& s = setups[si];
        const int m = MaterialIndex(s.flat);
        const float* A = u.material[m];
        const float shininess = A[11];
        const int wholeShininess = WholeExponent(shininess);
        const LightTerms* lt = terms.data() + size_t(m) * lights;
        bool anySpecular = false;
        for (size_t i = 0; i < lights; ++i)
            anySpecular |= lt[i].hasSpecular;
        // Inlined into the batch's flush: the call would spill the batch's registers.
        Batched(
            job, s, bandY0, bandY1, [&](V dx, V dy, V w, V out[4]) __attribute__((always_inline)) {
                // As the plain path: the plane at the row, stepped along it, times w.
                auto at = [&](int i) {
                    return Mul(Add(Add(Set(s.v[i]), Mul(Set(s.vdy[i]), dy)), Mul(Set(s.vdx[i]), dx)), w);
                };
                V base[4];
                if (u.textured)
                    sampler.Sample(at(6), at(7), base);
                else
                    base[0] = base[1] = base[2] = base[3] = Set(1.0f);
                for (int i = 0; i < 4; ++i)
                    base[i] = Mul(base[i], vertexColour ? Mul(Set(u.objectColour[i]), at(8 + i))
                                                        : Set(u.objectColour[i]));
                // The normal is not scaled: its length is divided out of the dot products instead.
                const V n[3] = {at(3), at(4), at(5)};
                const V len2n = Dot3(n, n);
                // Geometry without normals is shown unlit (those lanes' sums are not used).
                const V lit = _mm256_cmp_ps(len2n, Set(1e-20f), _CMP_NLE_UQ);
                const V invN = Rsqrt(len2n);
                const V pos[3] = {at(0), at(1), at(2)};
                V toEye[3] = {at(12), at(13), at(14)};
                if (anySpecular) Normalise(toEye);
                V sum[3] = {Set(u.ambient[0] * A[0]), Set(u.ambient[1] * A[1]), Set(u.ambient[2] * A[2])};
                for (size_t i = 0; i < lights; ++i) {
                    const LightTerms& t = lt[i];
                    V L[3];
                    V att = Set(1.0f);
                    V skip = zero;
                    if (t.type == 0) {
                        L[0] = Set(t.toLight[0]), L[1] = Set(t.toLight[1]), L[2] = Set(t.toLight[2]);
                    } else {
                        for (int k = 0; k < 3; ++k)
                            L[k] = Sub(Set(t.position[k]), pos[k]);
                        // Out of range or on the light, compared squared: no square root.
                        const V len2 = Dot3(L, L);
                        skip = Or(Ge(len2, Set(t.range2)), Le(len2, Set(1e-12f)));
                        const V inv = Rsqrt(len2);
                        for (int k = 0; k < 3; ++k)
                            L[k] = Mul(L[k], inv);
                        att = Sub(Set(1.0f), Mul(Mul(len2, inv), Set(t.invRange)));
                        if (t.falloff != 1.0f) att = PowBy(att, t.falloff, t.wholeFalloff);
                        if (t.type == 2) {
                            const V dir[3] = {Set(t.direction[0]), Set(t.direction[1]), Set(t.direction[2])};
                            const V c = _mm256_xor_ps(Dot3(L, dir), Set(-0.0f));
                            skip = Or(skip, Le(c, Set(t.cosOuter)));
                            att = Select(Lt(c, Set(t.cosInner)),
                                         Mul(att, Div(Sub(c, Set(t.cosOuter)), Set(t.coneWidth))), att);
                        }
                    }
                    V ndl = Mul(Dot3(n, L), invN);
                    skip = Or(skip, Le(ndl, zero));
                    if (_mm256_movemask_ps(skip) == 0xFF) continue;
                    if (t.type != 0) ndl = Mul(ndl, att);
                    if (t.hasSpecular) {
                        const V h[3] = {Add(L[0], toEye[0]), Add(L[1], toEye[1]), Add(L[2], toEye[2])};
                        const V len2h = Dot3(h, h);
                        const V ok = _mm256_cmp_ps(len2h, Set(1e-20f), _CMP_NLE_UQ);
                        const V ndh = Mul(Mul(Dot3(n, h), invN), Rsqrt(len2h));
                        V spec = And(And(ok, Gt(ndh, zero)), PowBy(ndh, shininess, wholeShininess));
                        if (t.type != 0) spec = Mul(spec, att);
                        for (int c = 0; c < 3; ++c) {
                            const V term = Add(Mul(Set(t.diffuse[c]), ndl), Mul(Set(t.specular[c]), spec));
                            sum[c] = Add(sum[c], AndNot(skip, term));
                        }
                    } else {
                        for (int c = 0; c < 3; ++c)
                            sum[c] = Add(sum[c], AndNot(skip, Mul(Set(t.diffuse[c]), ndl)));
                    }
                }
                for (int i = 0; i < 3; ++i)
                    out[i] = Select(lit, Mul(base[i], sum[i]), base[i]);
                out[3] = base[3];
            });
    }
}

bool LinearWrapOrClamp(const TextureRef& t) {
    auto ok = [](D3D11_TEXTURE_ADDRESS_MODE m) {
        return m == D3D11_TEXTURE_ADDRESS_WRAP || m == D3D11_TEXTURE_ADDRESS_CLAMP;
    };
    // Texel rows are addressed with 16-bit multiplies.
    return t.linear && ok(t.addressU) && ok(t.addressV) && t.width < 32768 && t.height < 32768;
}

} // namespace

BandKernel PickBandKernel(const RasterJob& job) {
    if (!VectorKernelsAvailable() || plainKernels || !job.ps) return nullptr;
    const PsUniforms& u = *job.ps;
    switch (job.program) {
    case PsProgram::Scene:
    case PsProgram::Textured:
        if (job.varyings != kMaxVaryings || !job.lastFlat) return nullptr;
        if (u.textured && !LinearWrapOrClamp(u.texture)) return nullptr;
        return SceneBand;
    case PsProgram::Camera:
        if (job.varyings < 2 || !LinearWrapOrClamp(u.texture)) return nullptr;
        return CameraBand;
    case PsProgram::Gui:
        break;
    }
    return nullptr;
}

#pragma GCC pop_options

} // namespace d3d11sw
