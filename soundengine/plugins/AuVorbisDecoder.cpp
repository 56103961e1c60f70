#include "plugins/AuVorbisDecoder.h"

#include "plugins/AuVorbisCodebookLibrary.h"

#include <AU/MemoryMgr.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr u32 kFastBits = 10;
constexpr u32 kMaxFloorValues = 65;
constexpr u32 kMaxFloorClasses = 16;
constexpr u32 kMaxClassifications = 64;
constexpr u32 kMaxSubmaps = 16;
constexpr u32 kMaxCouplingSteps = 256;
constexpr u32 kCacheBuckets = 31;

u32 ILog(u32 v) {
    u32 bits = 0;
    for (; v; v >>= 1)
        ++bits;
    return bits;
}

} // namespace

struct AuVorbisFloor {
    u32 uPartitions;
    u8 classList[31];
    u8 classDims[kMaxFloorClasses];
    u8 classSubs[kMaxFloorClasses];
    i16 classMaster[kMaxFloorClasses];
    i16 subBooks[kMaxFloorClasses][8];
    u32 uMultiplier;
    u32 uValues;
    u16 x[kMaxFloorValues];
    u8 sorted[kMaxFloorValues];
    u8 low[kMaxFloorValues];
    u8 high[kMaxFloorValues];
};

struct AuVorbisResidue {
    u32 uType;
    u32 uBegin;
    u32 uEnd;
    u32 uPartSize;
    u32 uClassifications;
    u32 uClassBook;
    i16 books[kMaxClassifications][8];
};

struct AuVorbisMapping {
    u32 uSubmaps;
    u32 uSteps;
    u8 magnitude[kMaxCouplingSteps];
    u8 angle[kMaxCouplingSteps];
    u8 mux[kVorbisMaxChannels];
    u8 submapFloor[kMaxSubmaps];
    u8 submapResidue[kMaxSubmaps];
};

struct AuVorbisMode {
    u8 uBlockFlag;
    u8 uMapping;
};

struct VorbisSetupInfo {
    u32 uShortSize;
    u32 uLongSize;
    u32 uModeCount;
    u32 uMappingCount;
    u32 uFloorCount;
    u32 uResidueCount;
    u32 uCodebookCount;
    AuVorbisMode* pModes;
    AuVorbisMapping* pMappings;
    AuVorbisFloor* pFloors;
    AuVorbisResidue* pResidues;
    AuVorbisCodebook* pCodebooks;
};

// ---- bit reader ----

u32 AuVorbisBitReader::PeekBits(u32 n) const noexcept {
    if (n == 0) return 0;
    u64 window = 0;
    // Never reads a byte past the end: the missing ones are zero.
    const i32 have = iBytesLeft < 5 ? iBytesLeft : 5;
    for (i32 i = 0; i < have; ++i)
        window |= u64(pData[i]) << (8 * i);
    window >>= uBitOffset;
    return u32(window & ((u64(1) << n) - 1));
}

void AuVorbisBitReader::SkipBits(u32 n) noexcept {
    const u32 total = uBitOffset + n;
    const u32 bytes = total >> 3;
    if (iBytesLeft > 0) pData += i32(bytes) < iBytesLeft ? bytes : u32(iBytesLeft);
    iBytesLeft -= i32(bytes);
    uBitOffset = total & 7;
    // Once past the end the count says so even when the offset alone advanced.
    if (iBytesLeft == 0 && uBitOffset) iBytesLeft = -1;
}

u32 AuVorbisBitReader::ReadBits(u32 n) noexcept {
    const u32 v = PeekBits(n);
    SkipBits(n);
    return v;
}

// ---- tables shared by every decoder ----

namespace {

struct AuComplex {
    f32 re;
    f32 im;
};

// FFT twiddles for 1024 points, pre- and post-twiddles of the DCT-IV for each size, the power-sine
// slopes and the floor-1 inverse-dB table: built once when the program starts.
struct AuVorbisTables {
    AuComplex fft[512];
    AuComplex pre[5][1024];
    AuComplex post[5][1024];
    f32 slope[5][2048];
    f32 inverseDb[256];

    AuVorbisTables() {
        const double pi = 3.14159265358979323846;
        for (u32 k = 0; k < 512; ++k)
            fft[k] = {f32(std::cos(-2 * pi * k / 1024)), f32(std::sin(-2 * pi * k / 1024))};
        for (u32 s = 0; s < 5; ++s) {
            const u32 m = 128u << s; // DCT-IV size: half a block
            for (u32 k = 0; k < m / 2; ++k) {
                pre[s][k] = {f32(std::cos(-pi * (k + 0.25) / m)), f32(std::sin(-pi * (k + 0.25) / m))};
                post[s][k] = {f32(std::cos(-pi * k / m)), f32(std::sin(-pi * k / m))};
            }
            for (u32 i = 0; i < m; ++i) {
                const double t = std::sin((i + 0.5) / m * pi / 2);
                slope[s][i] = f32(std::sin(pi / 2 * t * t));
            }
        }
        // The table of the Vorbis floor: a geometric series from 1.0649863e-07 up to 1.
        const double ratio = std::exp(-std::log(1.0649863e-07) / 255.0);
        for (u32 i = 0; i < 256; ++i)
            inverseDb[i] = f32(std::pow(ratio, double(i) - 255.0));
    }
};

const AuVorbisTables g_tables;

u32 SizeIndex(u32 half) {
    return ILog(half) - 8; // 128 -> 0 ... 2048 -> 4
}

void Fft(AuComplex* a, u32 n) {
    for (u32 i = 1, j = 0; i < n; ++i) {
        u32 bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j) {
            const AuComplex t = a[i];
            a[i] = a[j];
            a[j] = t;
        }
    }
    for (u32 len = 2; len <= n; len <<= 1) {
        const u32 stride = 1024 / len;
        for (u32 i = 0; i < n; i += len)
            for (u32 k = 0; k < len / 2; ++k) {
                const AuComplex w = g_tables.fft[k * stride];
                AuComplex& x = a[i + k];
                AuComplex& y = a[i + k + len / 2];
                const AuComplex t = {y.re * w.re - y.im * w.im, y.re * w.im + y.im * w.re};
                y = {x.re - t.re, x.im - t.im};
                x = {x.re + t.re, x.im + t.im};
            }
    }
}

} // namespace

void VorbisDctIv(f32* data, u32 n) noexcept {
    AuComplex z[1024];
    const u32 half = n / 2;
    const u32 s = SizeIndex(n);
    for (u32 m = 0; m < half; ++m) {
        const f32 re = data[2 * m];
        const f32 im = data[n - 1 - 2 * m];
        const AuComplex w = g_tables.pre[s][m];
        z[m] = {re * w.re - im * w.im, re * w.im + im * w.re};
    }
    Fft(z, half);
    for (u32 p = 0; p < half; ++p) {
        const AuComplex w = g_tables.post[s][p];
        data[2 * p] = z[p].re * w.re - z[p].im * w.im;
        data[n - 1 - 2 * p] = -(z[p].re * w.im + z[p].im * w.re);
    }
}

void VorbisDctIvReference(const f32* in, f32* out, u32 n) {
    const double pi = 3.14159265358979323846;
    for (u32 i = 0; i < n; ++i) {
        double sum = 0;
        for (u32 k = 0; k < n; ++k)
            sum += in[k] * std::cos(pi / n * (i + 0.5) * (k + 0.5));
        out[i] = f32(sum);
    }
}

u32 VorbisSetupId(const u8* setup, u32 size, u32 channels, u32 shortExp, u32 longExp) noexcept {
    u32 hash = 2166136261u;
    const auto add = [&hash](u8 b) { hash = (hash * 16777619u) ^ b; };
    for (u32 i = 0; i < size; ++i)
        add(setup[i]);
    add(u8(channels));
    add(u8(shortExp));
    add(u8(longExp));
    return hash;
}

// ---- set-up ----

namespace {

// Tables carved one after another from the set-up block, each rounded up to 4 bytes.
struct AuCarver {
    u8* pBase;
    u32 uUsed;
    u32 uCapacity;
    bool bOverflow = false;

    template <class T> T* Take(u64 count) {
        const u64 bytes = (count * sizeof(T) + 3) & ~u64(3);
        if (bOverflow || bytes > uCapacity - uUsed) {
            bOverflow = true;
            return nullptr;
        }
        T* p = reinterpret_cast<T*>(pBase + uUsed);
        std::memset(static_cast<void*>(p), 0, bytes);
        uUsed += u32(bytes);
        return p;
    }
};

f32 Float32Unpack(u32 x) {
    const f64 mantissa = f64(x & 0x1FFFFF);
    const i32 exponent = i32((x & 0x7FE00000) >> 21) - 788;
    const f64 v = std::ldexp(mantissa, exponent);
    return f32(x & 0x80000000u ? -v : v);
}

u32 Lookup1Values(u32 entries, u32 dims) {
    u32 r = 0;
    for (;;) {
        u64 p = 1;
        for (u32 d = 0; d < dims && p <= entries; ++d)
            p *= r + 1;
        if (p > entries) return r;
        ++r;
    }
}

u32 Reverse(u32 v, u32 bits) {
    u32 r = 0;
    for (u32 i = 0; i < bits; ++i)
        r |= ((v >> i) & 1) << (bits - 1 - i);
    return r;
}

// Codewords by the Vorbis rule: each entry takes the lowest free codeword of its length. False for
// an over-specified tree, or an under-specified one with more than one entry.
bool AssignCodewords(AuVorbisCodebook& book) {
    u32 available[33] = {};
    u32 used = 0;
    u32 last = 0;
    for (u32 e = 0; e < book.uEntries; ++e) {
        const u32 len = book.pLengths[e];
        if (!len) continue;
        ++used;
        last = e;
        if (used == 1) {
            book.pCodes[e] = 0;
            for (u32 i = 1; i <= len; ++i)
                available[i] = 1u << (32 - i);
            continue;
        }
        u32 z = len;
        while (z > 0 && !available[z])
            --z;
        if (z == 0) return false;
        const u32 res = available[z];
        available[z] = 0;
        book.pCodes[e] = Reverse(res >> (32 - len), len);
        if (z != len)
            for (u32 y = len; y > z; --y)
                available[y] = res + (1u << (32 - y));
    }
    if (used == 1) {
        // A single codeword matches whatever its bits are.
        (void)last;
        return true;
    }
    for (u32 i = 1; i <= 32; ++i)
        if (available[i]) return false;
    return used > 0;
}

bool BuildDecodeTables(AuVorbisCodebook& book, AuCarver& carver) {
    u32 maxLength = 0;
    u32 used = 0;
    for (u32 e = 0; e < book.uEntries; ++e) {
        if (book.pLengths[e] > maxLength) maxLength = book.pLengths[e];
        used += book.pLengths[e] != 0;
    }
    book.uFastBits = maxLength < kFastBits ? maxLength : kFastBits;
    book.pFast = carver.Take<u16>(u64(1) << book.uFastBits);
    u32 slow = 0;
    for (u32 e = 0; e < book.uEntries; ++e)
        slow += book.pLengths[e] > kFastBits;
    book.pSlow = carver.Take<u32>(slow ? slow : 1);
    if (!book.pFast || !book.pSlow) return false;
    if (used == 1) {
        u32 e = 0;
        while (!book.pLengths[e])
            ++e;
        for (u32 i = 0; i < (1u << book.uFastBits); ++i)
            book.pFast[i] = u16(e + 1);
        return true;
    }
    for (u32 e = 0; e < book.uEntries; ++e) {
        const u32 len = book.pLengths[e];
        if (!len) continue;
        if (len > kFastBits) {
            book.pSlow[book.uSlowCount++] = e;
            continue;
        }
        for (u32 i = book.pCodes[e]; i < (1u << book.uFastBits); i += 1u << len)
            book.pFast[i] = u16(e + 1);
    }
    return true;
}

bool UnpackInto(AuVorbisCodebook& book, const AuVorbisCodebookEntry& entry, AuCarver& carver) {
    AuVorbisBitReader r;
    r.Init(entry.pBits, entry.uBytes);
    book.uDims = r.ReadBits(4);
    book.uEntries = r.ReadBits(14);
    if (book.uDims == 0 || book.uEntries == 0) return false;
    book.pLengths = carver.Take<u8>(book.uEntries);
    book.pCodes = carver.Take<u32>(book.uEntries);
    if (!book.pLengths || !book.pCodes) return false;
    if (r.ReadBits(1)) {
        u32 current = 0;
        u32 length = r.ReadBits(5) + 1;
        while (current < book.uEntries) {
            const u32 number = r.ReadBits(ILog(book.uEntries - current));
            if (number > book.uEntries - current || length > 32 || r.Eop()) return false;
            for (u32 i = 0; i < number; ++i)
                book.pLengths[current + i] = u8(length);
            current += number;
            ++length;
        }
    } else {
        const u32 width = r.ReadBits(3);
        const bool sparse = r.ReadBits(1);
        for (u32 e = 0; e < book.uEntries; ++e) {
            if (sparse && !r.ReadBits(1)) continue;
            const u32 length = r.ReadBits(width) + 1;
            if (length > 32) return false;
            book.pLengths[e] = u8(length);
        }
    }
    if (r.ReadBits(1)) {
        const f32 minimum = Float32Unpack(r.ReadBits(32));
        const f32 delta = Float32Unpack(r.ReadBits(32));
        const u32 valueBits = r.ReadBits(4) + 1;
        const bool sequence = r.ReadBits(1);
        const u32 count = Lookup1Values(book.uEntries, book.uDims);
        u32* multiplicands = carver.Take<u32>(count ? count : 1);
        book.pValues = carver.Take<f32>(u64(book.uEntries) * book.uDims);
        if (!multiplicands || !book.pValues || count == 0) return false;
        for (u32 i = 0; i < count; ++i)
            multiplicands[i] = r.ReadBits(valueBits);
        for (u32 e = 0; e < book.uEntries; ++e) {
            f32 last = 0;
            u32 divisor = 1;
            for (u32 d = 0; d < book.uDims; ++d) {
                const u32 offset = (e / divisor) % count;
                const f32 v = f32(multiplicands[offset]) * delta + minimum + last;
                book.pValues[e * book.uDims + d] = v;
                if (sequence) last = v;
                divisor *= count;
            }
        }
    }
    if (r.Eop()) return false;
    return AssignCodewords(book) && BuildDecodeTables(book, carver);
}

bool ParseFloor(AuVorbisFloor& f, AuVorbisBitReader& r, u32 books) {
    f.uPartitions = r.ReadBits(5);
    i32 maxClass = -1;
    for (u32 i = 0; i < f.uPartitions; ++i) {
        f.classList[i] = u8(r.ReadBits(4));
        if (f.classList[i] > maxClass) maxClass = f.classList[i];
    }
    for (i32 c = 0; c <= maxClass; ++c) {
        f.classDims[c] = u8(r.ReadBits(3) + 1);
        f.classSubs[c] = u8(r.ReadBits(2));
        f.classMaster[c] = -1;
        if (f.classSubs[c]) {
            f.classMaster[c] = i16(r.ReadBits(8));
            if (u32(f.classMaster[c]) >= books) return false;
        }
        for (u32 s = 0; s < (1u << f.classSubs[c]); ++s) {
            f.subBooks[c][s] = i16(i32(r.ReadBits(8)) - 1);
            if (f.subBooks[c][s] >= 0 && u32(f.subBooks[c][s]) >= books) return false;
        }
    }
    f.uMultiplier = r.ReadBits(2) + 1;
    const u32 rangeBits = r.ReadBits(4);
    f.x[0] = 0;
    f.x[1] = u16(1u << rangeBits);
    f.uValues = 2;
    for (u32 i = 0; i < f.uPartitions; ++i) {
        const u32 dims = f.classDims[f.classList[i]];
        for (u32 j = 0; j < dims; ++j) {
            if (f.uValues >= kMaxFloorValues) return false;
            f.x[f.uValues++] = u16(r.ReadBits(rangeBits));
        }
    }
    if (r.Eop()) return false;
    // Sorted order and neighbours once here, not per packet; repeated X values would divide by
    // zero when the curve is drawn.
    for (u32 i = 0; i < f.uValues; ++i)
        f.sorted[i] = u8(i);
    for (u32 i = 1; i < f.uValues; ++i)
        for (u32 j = i; j > 0 && f.x[f.sorted[j - 1]] > f.x[f.sorted[j]]; --j) {
            const u8 t = f.sorted[j];
            f.sorted[j] = f.sorted[j - 1];
            f.sorted[j - 1] = t;
        }
    for (u32 i = 1; i < f.uValues; ++i)
        if (f.x[f.sorted[i]] == f.x[f.sorted[i - 1]]) return false;
    for (u32 i = 2; i < f.uValues; ++i) {
        u32 lo = 0, hi = 1;
        for (u32 j = 0; j < i; ++j) {
            if (f.x[j] < f.x[i] && f.x[j] > f.x[lo]) lo = j;
            if (f.x[j] > f.x[i] && f.x[j] < f.x[hi]) hi = j;
        }
        f.low[i] = u8(lo);
        f.high[i] = u8(hi);
    }
    return true;
}

bool ParseResidue(AuVorbisResidue& res, AuVorbisBitReader& r, u32 books, const AuVorbisCodebook* codebooks) {
    res.uType = r.ReadBits(2);
    res.uBegin = r.ReadBits(24);
    res.uEnd = r.ReadBits(24);
    res.uPartSize = r.ReadBits(24) + 1;
    res.uClassifications = r.ReadBits(6) + 1;
    res.uClassBook = r.ReadBits(8);
    if (res.uClassBook >= books) return false;
    u32 cascade[kMaxClassifications];
    for (u32 i = 0; i < res.uClassifications; ++i) {
        cascade[i] = r.ReadBits(3);
        if (r.ReadBits(1)) cascade[i] |= r.ReadBits(5) << 3;
    }
    for (u32 i = 0; i < res.uClassifications; ++i)
        for (u32 j = 0; j < 8; ++j) {
            res.books[i][j] = -1;
            if (cascade[i] & (1u << j)) {
                const u32 book = r.ReadBits(8);
                if (book >= books || !codebooks[book].pValues) return false;
                res.books[i][j] = i16(book);
            }
        }
    // The classification book's entries must spell classifications within range.
    const AuVorbisCodebook& cb = codebooks[res.uClassBook];
    u64 combos = 1;
    for (u32 d = 0; d < cb.uDims && combos <= cb.uEntries; ++d)
        combos *= res.uClassifications;
    return !r.Eop() && combos > 0;
}

bool ParseMapping(AuVorbisMapping& m, AuVorbisBitReader& r, u32 channels, const VorbisSetupInfo& s) {
    m.uSubmaps = r.ReadBits(1) ? r.ReadBits(4) + 1 : 1;
    m.uSteps = 0;
    if (r.ReadBits(1)) {
        m.uSteps = r.ReadBits(8) + 1;
        const u32 bits = ILog(channels - 1);
        for (u32 i = 0; i < m.uSteps; ++i) {
            m.magnitude[i] = u8(r.ReadBits(bits));
            m.angle[i] = u8(r.ReadBits(bits));
            if (m.magnitude[i] == m.angle[i] || m.magnitude[i] >= channels || m.angle[i] >= channels)
                return false;
        }
    }
    if (r.ReadBits(2) != 0) return false;
    for (u32 c = 0; c < channels; ++c) {
        m.mux[c] = 0;
        if (m.uSubmaps > 1) {
            m.mux[c] = u8(r.ReadBits(4));
            if (m.mux[c] >= m.uSubmaps) return false;
        }
    }
    for (u32 i = 0; i < m.uSubmaps; ++i) {
        r.ReadBits(8);
        m.submapFloor[i] = u8(r.ReadBits(8));
        m.submapResidue[i] = u8(r.ReadBits(8));
        if (m.submapFloor[i] >= s.uFloorCount || m.submapResidue[i] >= s.uResidueCount) return false;
    }
    return !r.Eop();
}

} // namespace

bool ParseVorbisSetup(const AuVorbisSetupParams& params, u32 channels, AuVorbisBitReader& r, u8* block,
                      u32 capacity, u32& used) noexcept {
    used = 0;
    if (channels == 0 || channels > kVorbisMaxChannels) return false;
    if (params.uShortExp < kVorbisMinBlockExp || params.uLongExp > kVorbisMaxBlockExp ||
        params.uShortExp > params.uLongExp)
        return false;
    AuCarver carver{block, 0, capacity};
    auto* s = carver.Take<VorbisSetupInfo>(1);
    if (!s) return false;
    s->uShortSize = 1u << params.uShortExp;
    s->uLongSize = 1u << params.uLongExp;

    s->uCodebookCount = r.ReadBits(8) + 1;
    s->pCodebooks = carver.Take<AuVorbisCodebook>(s->uCodebookCount);
    if (!s->pCodebooks) return false;
    for (u32 i = 0; i < s->uCodebookCount; ++i) {
        const u32 index = r.ReadBits(10);
        if (index >= g_uVorbisCodebookCount || r.Eop()) return false;
        if (!UnpackInto(s->pCodebooks[i], VorbisCodebookLibrary[index], carver)) return false;
    }
    s->uFloorCount = r.ReadBits(6) + 1;
    s->pFloors = carver.Take<AuVorbisFloor>(s->uFloorCount);
    if (!s->pFloors) return false;
    for (u32 i = 0; i < s->uFloorCount; ++i)
        if (!ParseFloor(s->pFloors[i], r, s->uCodebookCount)) return false;
    s->uResidueCount = r.ReadBits(6) + 1;
    s->pResidues = carver.Take<AuVorbisResidue>(s->uResidueCount);
    if (!s->pResidues) return false;
    for (u32 i = 0; i < s->uResidueCount; ++i)
        if (!ParseResidue(s->pResidues[i], r, s->uCodebookCount, s->pCodebooks)) return false;
    s->uMappingCount = r.ReadBits(6) + 1;
    s->pMappings = carver.Take<AuVorbisMapping>(s->uMappingCount);
    if (!s->pMappings) return false;
    for (u32 i = 0; i < s->uMappingCount; ++i)
        if (!ParseMapping(s->pMappings[i], r, channels, *s)) return false;
    s->uModeCount = r.ReadBits(6) + 1;
    s->pModes = carver.Take<AuVorbisMode>(s->uModeCount);
    if (!s->pModes) return false;
    // Audio packets carry a 1-bit mode number.
    if (s->uModeCount > 2) return false;
    for (u32 i = 0; i < s->uModeCount; ++i) {
        s->pModes[i].uBlockFlag = u8(r.ReadBits(1));
        s->pModes[i].uMapping = u8(r.ReadBits(8));
        if (s->pModes[i].uMapping >= s->uMappingCount) return false;
    }
    if (r.Eop()) return false;
    used = carver.uUsed;
    return true;
}

u32 VorbisSetupMemorySize(const u8* packet, u32 size, u32 channels, u32 shortExp, u32 longExp) {
    const AuVorbisSetupParams params{0, 0, u8(shortExp), u8(longExp)};
    for (u32 capacity = 1u << 20; capacity <= (1u << 28); capacity <<= 1) {
        u8* block = static_cast<u8*>(std::malloc(capacity));
        if (!block) return 0;
        AuVorbisBitReader r;
        r.Init(packet, size);
        u32 used = 0;
        const bool ok = ParseVorbisSetup(params, channels, r, block, capacity, used);
        std::free(block);
        if (ok) return used;
    }
    return 0;
}

bool UnpackVorbisCodebook(AuVorbisCodebook& book, const AuVorbisCodebookEntry& entry, u8* block, u32 capacity,
                          u32& used) noexcept {
    book = AuVorbisCodebook{};
    AuCarver carver{block, 0, capacity};
    const bool ok = UnpackInto(book, entry, carver);
    used = carver.uUsed;
    return ok;
}

// ---- set-up cache ----

namespace {

struct AuSetupEntry {
    u32 uSetupId;
    AuSetupEntry* pNext;
    u8* pBlock;
    u32 uUsed;
    u32 uCapacity;
    i32 iRefs;
    u32 uChannels;
    u8 uShortExp;
    u8 uLongExp;
};

AuSetupEntry* g_buckets[kCacheBuckets];
u32 g_uEntries;

} // namespace

const VorbisSetupInfo* VorbisSetupCache::Get(const AuVorbisSetupParams& params, u32 channels,
                                             const u8* packet, u32 size) noexcept {
    AuSetupEntry*& head = g_buckets[params.uSetupId % kCacheBuckets];
    for (AuSetupEntry* e = head; e; e = e->pNext)
        if (e->uSetupId == params.uSetupId) {
            // The decoded set-up is laid out for its channel count and block sizes: another
            // media under the same ID would index its tables out of range.
            if (e->uChannels != channels || e->uShortExp != params.uShortExp ||
                e->uLongExp != params.uLongExp || params.uMemorySize < e->uUsed)
                return nullptr;
            ++e->iRefs;
            return reinterpret_cast<const VorbisSetupInfo*>(e->pBlock);
        }
    auto* entry =
        static_cast<AuSetupEntry*>(AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, sizeof(AuSetupEntry)));
    if (!entry) return nullptr;
    u8* block = params.uMemorySize
                    ? static_cast<u8*>(AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, params.uMemorySize, 16))
                    : nullptr;
    AuVorbisBitReader r;
    r.Init(packet, size);
    u32 used = 0;
    if (!block || !packet || !ParseVorbisSetup(params, channels, r, block, params.uMemorySize, used)) {
        if (block) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, block);
        AU::MemoryMgr::Free(g_LEngineDefaultPoolId, entry);
        return nullptr;
    }
    *entry = {params.uSetupId,  head,           block, used, params.uMemorySize, 1, channels,
              params.uShortExp, params.uLongExp};
    head = entry;
    ++g_uEntries;
    return reinterpret_cast<const VorbisSetupInfo*>(block);
}

void VorbisSetupCache::Release(u32 setupId) noexcept {
    AuSetupEntry** link = &g_buckets[setupId % kCacheBuckets];
    for (; *link; link = &(*link)->pNext)
        if ((*link)->uSetupId == setupId) {
            AuSetupEntry* e = *link;
            if (--e->iRefs > 0) return;
            *link = e->pNext;
            AU::MemoryMgr::Free(g_LEngineDefaultPoolId, e->pBlock);
            AU::MemoryMgr::Free(g_LEngineDefaultPoolId, e);
            --g_uEntries;
            return;
        }
}

u32 VorbisSetupCache::Count() noexcept {
    return g_uEntries;
}

// ---- packet decoder ----

i32 InitVorbisChannels(AuVorbisPacketDecoder& d, u32 channels) noexcept {
    FreeVorbisChannels(d);
    if (channels == 0 || channels > kVorbisMaxChannels || !d.pSetup) return -1;
    const u32 half = d.pSetup->uLongSize / 2;
    const u32 perChannel = half * u32(sizeof(f32));
    const u32 floats = perChannel * channels * 3;
    const u32 classes = half * channels;
    const u32 bytes = floats + ((classes + 15) & ~15u);
    u8* block = static_cast<u8*>(AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, bytes, 16));
    if (!block) return -1;
    std::memset(block, 0, bytes);
    d.pBlock = block;
    d.uChannels = channels;
    for (u32 c = 0; c < channels; ++c) {
        d.pCurrent[c] = reinterpret_cast<f32*>(block + c * perChannel);
        d.pPrevious[c] = reinterpret_cast<f32*>(block + (channels + c) * perChannel);
    }
    d.pInterleaved = reinterpret_cast<f32*>(block + 2 * channels * perChannel);
    d.pClasses = block + floats;
    ResetVorbisDecoder(d, 0, 0);
    return 0;
}

void FreeVorbisChannels(AuVorbisPacketDecoder& d) noexcept {
    if (d.pBlock) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, d.pBlock);
    d.pBlock = nullptr;
    for (u32 c = 0; c < kVorbisMaxChannels; ++c)
        d.pCurrent[c] = d.pPrevious[c] = nullptr;
    d.pInterleaved = nullptr;
    d.pClasses = nullptr;
}

void ResetVorbisDecoder(AuVorbisPacketDecoder& d, u16 skip, u16 trim) noexcept {
    d.uSkip = skip;
    d.uTrim = trim;
    d.iStart = d.iEnd = -1;
}

namespace {

// The entry of the next codeword, or -1 at the end of the packet.
i32 DecodeScalar(const AuVorbisCodebook& book, AuVorbisBitReader& r) {
    const u32 peek = r.PeekBits(32);
    u32 entry = book.pFast[peek & ((1u << book.uFastBits) - 1)];
    u32 len;
    if (entry) {
        --entry;
        len = book.pLengths[entry];
    } else {
        u32 i = 0;
        for (; i < book.uSlowCount; ++i) {
            const u32 e = book.pSlow[i];
            const u32 l = book.pLengths[e];
            if ((peek & (l == 32 ? 0xFFFFFFFFu : (1u << l) - 1)) == book.pCodes[e]) break;
        }
        if (i == book.uSlowCount) {
            r.iBytesLeft = -1;
            return -1;
        }
        entry = book.pSlow[i];
        len = book.pLengths[entry];
    }
    // A single-codeword book still consumes its one bit.
    r.SkipBits(len);
    return r.Eop() ? -1 : i32(entry);
}

i32 RenderPoint(i32 x0, i32 y0, i32 x1, i32 y1, i32 x) {
    const i32 dy = y1 - y0;
    const i32 adx = x1 - x0;
    const i32 ady = dy < 0 ? -dy : dy;
    const i32 off = ady * (x - x0) / adx;
    return dy < 0 ? y0 - off : y0 + off;
}

void RenderLine(i32 x0, i32 y0, i32 x1, i32 y1, u8* v, i32 n) {
    const i32 dy = y1 - y0;
    const i32 adx = x1 - x0;
    i32 ady = dy < 0 ? -dy : dy;
    const i32 base = dy / adx;
    const i32 sy = dy < 0 ? base - 1 : base + 1;
    ady -= (base < 0 ? -base : base) * adx;
    i32 y = y0;
    i32 err = 0;
    const auto put = [v, n](i32 x, i32 value) {
        if (x < n) v[x] = u8(value < 0 ? 0 : value > 255 ? 255 : value);
    };
    put(x0, y);
    for (i32 x = x0 + 1; x < x1; ++x) {
        err += ady;
        if (err >= adx) {
            err -= adx;
            y += sy;
        } else {
            y += base;
        }
        put(x, y);
    }
}

// False when the channel's floor is unused (or the packet ended inside it).
bool DecodeFloor(const AuVorbisFloor& f, const VorbisSetupInfo& s, AuVorbisBitReader& r, i32* y) {
    if (!r.ReadBits(1)) return false;
    static constexpr i32 kRanges[4] = {256, 128, 86, 64};
    const i32 range = kRanges[f.uMultiplier - 1];
    const u32 bits = ILog(u32(range - 1));
    y[0] = i32(r.ReadBits(bits));
    y[1] = i32(r.ReadBits(bits));
    u32 offset = 2;
    for (u32 i = 0; i < f.uPartitions; ++i) {
        const u32 c = f.classList[i];
        const u32 cdim = f.classDims[c];
        const u32 cbits = f.classSubs[c];
        const u32 csub = (1u << cbits) - 1;
        u32 cval = 0;
        if (cbits) {
            const i32 e = DecodeScalar(s.pCodebooks[f.classMaster[c]], r);
            if (e < 0) return false;
            cval = u32(e);
        }
        for (u32 j = 0; j < cdim; ++j) {
            const i32 book = f.subBooks[c][cval & csub];
            cval >>= cbits;
            y[offset + j] = 0;
            if (book >= 0) {
                const i32 e = DecodeScalar(s.pCodebooks[book], r);
                if (e < 0) return false;
                y[offset + j] = e;
            }
        }
        offset += cdim;
    }
    return !r.Eop();
}

void ApplyFloor(const AuVorbisFloor& f, const i32* y, f32* v, u32 n) {
    static constexpr i32 kRanges[4] = {256, 128, 86, 64};
    const i32 range = kRanges[f.uMultiplier - 1];
    bool step2[kMaxFloorValues];
    i32 fy[kMaxFloorValues];
    step2[0] = step2[1] = true;
    fy[0] = y[0];
    fy[1] = y[1];
    for (u32 i = 2; i < f.uValues; ++i) {
        const u32 lo = f.low[i], hi = f.high[i];
        const i32 predicted = RenderPoint(f.x[lo], fy[lo], f.x[hi], fy[hi], f.x[i]);
        const i32 val = y[i];
        const i32 highroom = range - predicted;
        const i32 lowroom = predicted;
        const i32 room = (highroom < lowroom ? highroom : lowroom) * 2;
        if (val) {
            step2[lo] = step2[hi] = step2[i] = true;
            if (val >= room)
                fy[i] = highroom > lowroom ? val - lowroom + predicted : predicted - val + highroom - 1;
            else
                fy[i] = (val & 1) ? predicted - (val + 1) / 2 : predicted + val / 2;
        } else {
            step2[i] = false;
            fy[i] = predicted;
        }
    }
    u8 curve[2048];
    const i32 mult = i32(f.uMultiplier);
    i32 lx = 0, ly = fy[f.sorted[0]] * mult, hx = 0, hy = ly;
    for (u32 i = 1; i < f.uValues; ++i) {
        const u32 k = f.sorted[i];
        if (!step2[k]) continue;
        hy = fy[k] * mult;
        hx = f.x[k];
        RenderLine(lx, ly, hx, hy, curve, i32(n));
        lx = hx;
        ly = hy;
    }
    if (hx < i32(n)) RenderLine(hx, hy, i32(n), hy, curve, i32(n));
    for (u32 i = 0; i < n; ++i)
        v[i] *= g_tables.inverseDb[curve[i]];
}

// Adds the partition's vectors into `v`; false at the end of the packet.
bool DecodePartition(const AuVorbisCodebook& book, AuVorbisBitReader& r, f32* v, u32 size) {
    const u32 dims = book.uDims;
    for (u32 i = 0; i < size;) {
        const i32 e = DecodeScalar(book, r);
        if (e < 0) return false;
        const f32* values = book.pValues + u32(e) * dims;
        for (u32 k = 0; k < dims && i < size; ++k)
            v[i++] += values[k];
    }
    return true;
}

// Format 0 and 1 (type 0 decoded as type 1) over `count` vectors of `n` values.
void DecodeResidueVectors(const AuVorbisResidue& res, const VorbisSetupInfo& s, AuVorbisBitReader& r,
                          f32** vectors, const bool* skip, u32 count, u32 n, u8* classes) {
    const u32 begin = res.uBegin < n ? res.uBegin : n;
    const u32 end = res.uEnd < n ? res.uEnd : n;
    if (end <= begin) return;
    const u32 partitions = (end - begin) / res.uPartSize;
    const AuVorbisCodebook& classBook = s.pCodebooks[res.uClassBook];
    const u32 perWord = classBook.uDims;
    for (u32 pass = 0; pass < 8; ++pass) {
        u32 p = 0;
        while (p < partitions) {
            if (pass == 0)
                for (u32 j = 0; j < count; ++j) {
                    if (skip[j]) continue;
                    i32 temp = DecodeScalar(classBook, r);
                    if (temp < 0) return;
                    for (i32 i = i32(perWord) - 1; i >= 0; --i) {
                        if (p + u32(i) < partitions)
                            classes[j * n + p + u32(i)] = u8(u32(temp) % res.uClassifications);
                        temp = i32(u32(temp) / res.uClassifications);
                    }
                }
            for (u32 i = 0; i < perWord && p < partitions; ++i, ++p)
                for (u32 j = 0; j < count; ++j) {
                    if (skip[j]) continue;
                    const i32 book = res.books[classes[j * n + p]][pass];
                    if (book < 0) continue;
                    if (!DecodePartition(s.pCodebooks[book], r, vectors[j] + begin + p * res.uPartSize,
                                         res.uPartSize))
                        return;
                }
        }
    }
}

void DecodeResidue(const AuVorbisResidue& res, const VorbisSetupInfo& s, AuVorbisPacketDecoder& d,
                   f32** vectors, const bool* skip, u32 count, u32 n) {
    if (res.uType < 2) {
        DecodeResidueVectors(res, s, d.reader, vectors, skip, count, n, d.pClasses);
        return;
    }
    bool any = false;
    for (u32 j = 0; j < count; ++j)
        any |= !skip[j];
    if (!any) return;
    f32* inter = d.pInterleaved;
    std::memset(inter, 0, sizeof(f32) * n * count);
    const bool none = false;
    DecodeResidueVectors(res, s, d.reader, &inter, &none, 1, n * count, d.pClasses);
    for (u32 i = 0; i < n; ++i)
        for (u32 j = 0; j < count; ++j)
            vectors[j][i] += inter[i * count + j];
}

} // namespace

void DecodeVorbisPacket(AuVorbisPacketDecoder& d, const AuVorbisPacket& packet) noexcept {
    const VorbisSetupInfo& s = *d.pSetup;
    d.reader.Init(packet.pData, packet.uSize);
    u32 modeNumber = d.reader.ReadBits(1);
    if (modeNumber >= s.uModeCount) modeNumber = 0;
    const AuVorbisMode& mode = s.pModes[modeNumber];
    d.uPrevFlag = d.uCurFlag;
    d.uCurFlag = mode.uBlockFlag;
    const u32 prevSize = d.uPrevFlag ? s.uLongSize : s.uShortSize;
    const u32 curSize = d.uCurFlag ? s.uLongSize : s.uShortSize;
    const u32 longHalf = s.uLongSize / 2;
    for (u32 c = 0; c < d.uChannels; ++c) {
        f32* t = d.pPrevious[c];
        d.pPrevious[c] = d.pCurrent[c];
        d.pCurrent[c] = t;
    }

    bool synthesise = true;
    if (d.iStart < 0) {
        d.iStart = d.iEnd = 0;
        if (d.uSkip >= longHalf) synthesise = false;
    } else {
        const u32 count = prevSize / 4 + curSize / 4;
        d.iStart = 0;
        d.iEnd = i32(count);
        if (d.uSkip <= count) {
            d.iStart = d.uSkip;
            d.uSkip = 0;
        } else {
            d.iStart = d.iEnd;
            d.uSkip = u16(d.uSkip - count);
            if (d.uSkip >= longHalf) synthesise = false;
        }
    }
    if (packet.bLast) d.iEnd = d.iEnd - i32(d.uTrim) > d.iStart ? d.iEnd - i32(d.uTrim) : d.iStart;
    if (!synthesise) return;

    const AuVorbisMapping& map = s.pMappings[mode.uMapping];
    const u32 n = curSize / 2;
    bool used[kVorbisMaxChannels];
    i32 y[kVorbisMaxChannels][kMaxFloorValues];
    for (u32 c = 0; c < d.uChannels; ++c) {
        const AuVorbisFloor& f = s.pFloors[map.submapFloor[map.mux[c]]];
        used[c] = DecodeFloor(f, s, d.reader, y[c]);
    }
    bool zero[kVorbisMaxChannels];
    for (u32 c = 0; c < d.uChannels; ++c)
        zero[c] = !used[c];
    for (u32 i = 0; i < map.uSteps; ++i)
        if (!zero[map.magnitude[i]] || !zero[map.angle[i]])
            zero[map.magnitude[i]] = zero[map.angle[i]] = false;
    for (u32 c = 0; c < d.uChannels; ++c)
        std::memset(d.pCurrent[c], 0, sizeof(f32) * n);
    for (u32 sm = 0; sm < map.uSubmaps; ++sm) {
        f32* vectors[kVorbisMaxChannels];
        bool skip[kVorbisMaxChannels];
        u32 count = 0;
        for (u32 c = 0; c < d.uChannels; ++c)
            if (map.mux[c] == sm) {
                vectors[count] = d.pCurrent[c];
                skip[count++] = zero[c];
            }
        DecodeResidue(s.pResidues[map.submapResidue[sm]], s, d, vectors, skip, count, n);
    }
    for (i32 i = i32(map.uSteps) - 1; i >= 0; --i) {
        f32* mag = d.pCurrent[map.magnitude[i]];
        f32* ang = d.pCurrent[map.angle[i]];
        for (u32 k = 0; k < n; ++k) {
            const f32 m = mag[k], a = ang[k];
            if (m > 0) {
                if (a > 0) {
                    ang[k] = m - a;
                } else {
                    ang[k] = m;
                    mag[k] = m + a;
                }
            } else {
                if (a > 0) {
                    ang[k] = m + a;
                } else {
                    ang[k] = m;
                    mag[k] = m - a;
                }
            }
        }
    }
    for (u32 c = 0; c < d.uChannels; ++c) {
        if (!used[c]) {
            std::memset(d.pCurrent[c], 0, sizeof(f32) * n);
            continue;
        }
        ApplyFloor(s.pFloors[map.submapFloor[map.mux[c]]], y[c], d.pCurrent[c], n);
        VorbisDctIv(d.pCurrent[c], n);
    }
}

u32 OutputVorbisFrames(AuVorbisPacketDecoder& d, i16* output, u32 wanted) noexcept {
    const u32 pending = d.iStart >= 0 && d.iStart < d.iEnd ? u32(d.iEnd - d.iStart) : 0;
    if (!output) return pending;
    const u32 count = wanted < pending ? wanted : pending;
    if (!count) return 0;
    const VorbisSetupInfo& s = *d.pSetup;
    const i32 p = i32(d.uPrevFlag ? s.uLongSize : s.uShortSize);
    const i32 c = i32(d.uCurFlag ? s.uLongSize : s.uShortSize);
    const i32 w = (p < c ? p : c) / 2; // the slope where the two blocks overlap
    const i32 slopeStart = p / 4 - w / 2;
    const i32 curOffset = p / 4 - c / 4; // output index of the current block's first sample
    const f32* slope = g_tables.slope[SizeIndex(u32(w))];
    const i32 pm = p / 2, cm = c / 2; // DCT-IV lengths
    for (u32 ch = 0; ch < d.uChannels; ++ch) {
        const f32* prev = d.pPrevious[ch];
        const f32* cur = d.pCurrent[ch];
        i16* out = output + ch;
        for (i32 o = d.iStart; o < d.iStart + i32(count); ++o, out += d.uChannels) {
            f32 v = 0;
            // The previous block's right half: y[pm + j] = -u[pm/2 - 1 - j] or -u[j - pm/2].
            if (o < pm && o < slopeStart + w) {
                const f32 y = o < pm / 2 ? -prev[pm / 2 - 1 - o] : -prev[o - pm / 2];
                v += o < slopeStart ? y : y * slope[w - 1 - (o - slopeStart)];
            }
            // The current block's left half: y[j] = u[j + cm/2] or -u[3cm/2 - 1 - j].
            const i32 j = o - curOffset;
            if (j >= 0 && o >= slopeStart) {
                const f32 y = j < cm / 2 ? cur[j + cm / 2] : -cur[3 * cm / 2 - 1 - j];
                v += o < slopeStart + w ? y * slope[o - slopeStart] : y;
            }
            const f32 scaled = v * 32768.0f;
            *out = scaled >= 32767.0f ? i16(32767) : scaled <= -32768.0f ? i16(-32768) : i16(i32(scaled));
        }
    }
    d.iStart += i32(count);
    return count;
}

void DecodeVorbisPackets(AuVorbisDecodeState& st, u32 maxPacketSize, const u8* data, i16* output) noexcept {
    u32 left = st.uFramesWanted;
    u32 consumed = 0;
    AuVorbisPacketDecoder& d = st.decoder;
    while (left > 0) {
        const u32 n = OutputVorbisFrames(d, output, left);
        if (n > 0) {
            output += n * d.uChannels;
            left -= n;
            continue;
        }
        if (st.uStage == kVorbisStageLastDecoded || st.uBytesAvailable - consumed < 2) break;
        const u32 size = u32(data[consumed]) | u32(data[consumed + 1]) << 8;
        if (size > maxPacketSize) {
            st.uFramesProduced = 0;
            st.uBytesConsumed = consumed;
            st.eStatus = AuResultFail;
            return;
        }
        if (st.uBytesAvailable - consumed - 2 < size) break;
        const bool last = st.bAllDataPresent && consumed + 2 + size == st.uBytesAvailable;
        if (last) st.uStage = kVorbisStageLastDecoded;
        DecodeVorbisPacket(d, {data + consumed + 2, size, last});
        consumed += 2 + size;
    }
    st.uFramesProduced = st.uFramesWanted - left;
    st.uBytesConsumed = consumed;
    if (st.uStage == kVorbisStageLastDecoded && OutputVorbisFrames(d, nullptr, 0) == 0)
        st.eStatus = AuResultNoMoreData;
    else
        st.eStatus = st.uFramesProduced ? AuResultDataReady : AuResultNoDataReady;
}
