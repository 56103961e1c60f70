#include "plugins/AuRoomReverbEffect.h"

#include "parameters/AuFastMath.h"

#include <AU/AuEffectBlocks.h>
#include <AU/AuEffectPlugins.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

using Params = CAuRoomReverbEffectParams;

constexpr f32 kDefaultTuning[AU_REVERB_NUM_TUNING] = {8.0f,  50.0f, 2.0f,  0.1f, 0.8f, 66.0f,
                                                      15.0f, 5.0f,  40.0f, 0.5f, 50.0f};
// Line, all-pass and block input times beyond this come from bad tuning values.
constexpr f64 kMaxStructureMs = 1000.0;
constexpr f64 kTwoPi = f64(6.2831855f);
constexpr f32 kGoldenGain = 0.61803f;
constexpr f32 kAllpassOffsets[AU_REVERB_NUM_ALLPASSES] = {1.85409f, 1.23606f, 0.61803f, 0.0f};
constexpr f32 kMaxDampingPole = 0.999f;
constexpr u32 kMaxERBufferLength = 65535;

// The seeded generator of the network's random lengthenings.
struct Lcg {
    u32 x;
    f64 Next() {
        x = x * 196314165u + 907633515u;
        return f64(x) / 4294967296.0;
    }
};

f32 ReverbGain(f32 dB) {
    return AuDbToLinear(dB - 3.0f);
}

// Samples of `ms` milliseconds at `rate`, truncated; negative and NaN give 0.
u32 MsToSamples(f64 ms, u32 rate) {
    if (!(ms > 0.0)) return 0;
    return u32(std::min(ms * 0.001 * rate, 4294967040.0));
}

bool PassesDivisorTest(u32 length, u32 bound) {
    for (u32 d = 3; d < bound; d += 2)
        if (length % d == 0) return false;
    return true;
}

// Odd, free of odd divisors below the first candidate's square root, and unlike the previous.
u32 LineLength(f64 ms, u32 rate, u32 previous) {
    u32 length = MsToSamples(std::min(ms, kMaxStructureMs), rate);
    if (length % 2 == 0) ++length;
    const u32 bound = u32(std::sqrt(f64(length))) + 1;
    while (!PassesDivisorTest(length, bound) || length == previous)
        length += 2;
    return length;
}

void MixInto(f32* dst, const f32* src, u32 frames, f32 from, f32 to) {
    if (from == to)
        AuMulAdd(dst, src, frames, from);
    else
        AuMulAddGlide(dst, src, frames, from, (to - from) / f32(frames));
}

void ScaleBy(f32* samples, u32 frames, f32 from, f32 to) {
    if (from == to && from == 1.0f) return;
    const f32 step = (to - from) / f32(frames);
    for (u32 i = 0; i < frames; ++i)
        samples[i] *= from + step * f32(i);
}

struct WidthGains {
    f32 w, c;
};

WidthGains Width(f32 degrees) {
    const f32 w = degrees * (1.0f / 180.0f) * 0.292894f + 0.707106f;
    const f32 rest = 1.0f - w * w;
    return {w, rest > 0.0f ? std::sqrt(rest) : 0.0f};
}

} // namespace

AU::IAuPluginParam* CreateFx118Params(AU::IAuPluginMemAlloc* allocator) {
    return AuPluginNew<CAuRoomReverbEffectParams>(allocator);
}

AU::IAuPlugin* CreateFx118(AU::IAuPluginMemAlloc* allocator) {
    return AuPluginNew<CAuRoomReverbEffect>(allocator);
}

void CAuRoomReverbEffectParams::SetDefaults() {
    m_levels = {};
    m_levels.fLFELevel = AuDbToLinear(-96.0f);
    m_levels.fERLevel = AuDbToLinear(-20.0f);
    m_levels.fReverbLevel = ReverbGain(-20.0f);
    m_levels.fFrontLevel = m_levels.fRearLevel = m_levels.fCenterLevel = m_levels.fDryLevel =
        AuDbToLinear(0.0f);
    m_structure = {};
    m_structure.fCenterInputLevel = AuDbToLinear(0.0f);
    m_structure.fLFEInputLevel = AuDbToLinear(-96.0f);
    std::copy(std::begin(kDefaultTuning), std::end(kDefaultTuning), m_afTuning);
}

AURESULT CAuRoomReverbEffectParams::SetParam(u16 id, const void* value, u32) noexcept {
    if (!value) return AuResultInvalidParameter;
    AuRoomReverbLevels& a = m_levels;
    AuRoomReverbStructure& b = m_structure;
    // Switches by their first byte, indices as u32; every other value is a float.
    if (id == EREnabled || id == EQEnabled) {
        (id == EREnabled ? b.bEREnabled : b.bEQEnabled) = AuParamByte(value);
        m_bStructureChanged = true;
        return AuResultSuccess;
    }
    if (id == Pattern) {
        const u32 pattern = AuParamU32(value);
        if (pattern >= AU_NUM_REFLECTION_PATTERNS) return AuResultInvalidParameter;
        b.uPattern = pattern;
        m_bStructureChanged = true;
        return AuResultSuccess;
    }
    if (id == Density) {
        b.uDensity = std::clamp(AuParamU32(value), AU_REVERB_MIN_DENSITY, AU_REVERB_MAX_DENSITY);
        m_bStructureChanged = true;
        return AuResultSuccess;
    }
    if (id >= Filter1Position && id < Filter1Position + 5 * AU_REVERB_NUM_FILTERS &&
        (id - Filter1Position) % 5 < 2) {
        const u32 k = (id - Filter1Position) / 5;
        ((id - Filter1Position) % 5 == 0 ? b.auFilterPosition[k] : b.auFilterType[k]) = AuParamU32(value);
        m_bStructureChanged = true;
        return AuResultSuccess;
    }
    const f32 x = AuParamF32(value);
    if (!std::isfinite(x)) return AuResultInvalidParameter;
    bool levels = true;
    switch (id) {
    case PreDelay:
        b.fPreDelay = x, levels = false;
        break;
    case ERSize:
        b.fERSize = x, levels = false;
        break;
    case RearDelay:
        b.fRearDelay = x, levels = false;
        break;
    case RoomSize:
        b.fRoomSize = x, levels = false;
        break;
    case RoomShape:
        b.fRoomShape = x, levels = false;
        break;
    case CenterInputLevel:
        b.fCenterInputLevel = AuDbToLinear(x), levels = false;
        break;
    case LFEInputLevel:
        b.fLFEInputLevel = AuDbToLinear(x), levels = false;
        break;
    case DecayTime:
        a.fDecayTime = x;
        break;
    case DampingRatio:
        a.fDampingRatio = x;
        break;
    case Diffusion:
        a.fDiffusion = x;
        break;
    case StereoWidth:
        a.fStereoWidth = x;
        break;
    case FrontLevel:
        a.fFrontLevel = AuDbToLinear(x);
        break;
    case RearLevel:
        a.fRearLevel = AuDbToLinear(x);
        break;
    case CenterLevel:
        a.fCenterLevel = AuDbToLinear(x);
        break;
    case LFELevel:
        a.fLFELevel = AuDbToLinear(x);
        break;
    case DryLevel:
        a.fDryLevel = AuDbToLinear(x);
        break;
    case ERLevel:
        a.fERLevel = AuDbToLinear(x);
        break;
    case ReverbLevel:
        a.fReverbLevel = ReverbGain(x);
        break;
    default:
        if (id >= FirstTuning && id <= LastTuning) {
            // Read when the structures are next built; raises nothing.
            m_afTuning[id - FirstTuning] = x;
            return AuResultSuccess;
        }
        if (id >= Filter1Position && id < Filter1Position + 5 * AU_REVERB_NUM_FILTERS) {
            const u32 k = (id - Filter1Position) / 5;
            const u32 which = (id - Filter1Position) % 5;
            (which == 2 ? a.afFilterGain : which == 3 ? a.afFilterFrequency : a.afFilterQ)[k] = x;
            break;
        }
        return AuResultSuccess; // not in the table: nothing stored
    }
    (levels ? m_bLevelsChanged : m_bStructureChanged) = true;
    return AuResultSuccess;
}

AU::IAuPluginParam* CAuRoomReverbEffectParams::Clone(AU::IAuPluginMemAlloc* allocator) noexcept {
    auto* copy = AuPluginNew<CAuRoomReverbEffectParams>(allocator);
    if (!copy) return nullptr;
    *copy = *this;
    copy->m_bLevelsChanged = copy->m_bStructureChanged = true;
    return copy;
}

AURESULT CAuRoomReverbEffectParams::Init(AU::IAuPluginMemAlloc*, const void* block, u32 size) noexcept {
    if (size == 0) {
        SetDefaults();
        return AuResultSuccess;
    }
    return SetParamsBlock(block, size);
}

AURESULT CAuRoomReverbEffectParams::Term(AU::IAuPluginMemAlloc* allocator) noexcept {
    AuPluginDelete(this, allocator);
    return AuResultSuccess;
}

AURESULT CAuRoomReverbEffectParams::SetParamsBlock(const void* bytes, u32 size) noexcept {
    AuRoomReverbBlock block;
    if (!AuReadBlock(bytes, size, block)) return AuResultFail;
    AuRoomReverbLevels& a = m_levels;
    AuRoomReverbStructure& b = m_structure;
    // A number that is not finite keeps the value held before.
    const auto gain = [](f32 dB, f32 held) { return std::isfinite(dB) ? AuDbToLinear(dB) : held; };
    a.fDecayTime = AuFiniteOr(block.fDecayTime, a.fDecayTime);
    a.fDampingRatio = AuFiniteOr(block.fDampingRatio, a.fDampingRatio);
    a.fDiffusion = AuFiniteOr(block.fDiffusion, a.fDiffusion);
    a.fStereoWidth = AuFiniteOr(block.fStereoWidth, a.fStereoWidth);
    for (u32 k = 0; k < AU_REVERB_NUM_FILTERS; ++k) {
        const AuRoomReverbBlockFilter& f = block.aFilters[k];
        a.afFilterGain[k] = AuFiniteOr(f.fGain, a.afFilterGain[k]);
        a.afFilterFrequency[k] = AuFiniteOr(f.fFrequency, a.afFilterFrequency[k]);
        a.afFilterQ[k] = AuFiniteOr(f.fQ, a.afFilterQ[k]);
        b.auFilterPosition[k] = f.uPosition;
        b.auFilterType[k] = f.uType;
    }
    a.fFrontLevel = gain(block.fFrontLevel, a.fFrontLevel);
    a.fRearLevel = gain(block.fRearLevel, a.fRearLevel);
    a.fCenterLevel = gain(block.fCenterLevel, a.fCenterLevel);
    a.fLFELevel = gain(block.fLFELevel, a.fLFELevel);
    a.fDryLevel = gain(block.fDryLevel, a.fDryLevel);
    a.fERLevel = gain(block.fERLevel, a.fERLevel);
    if (std::isfinite(block.fReverbLevel)) a.fReverbLevel = ReverbGain(block.fReverbLevel);
    b.bEREnabled = block.uEREnabled != 0;
    // A pattern outside the table keeps the one held.
    if (block.uPattern < AU_NUM_REFLECTION_PATTERNS) b.uPattern = block.uPattern;
    b.fPreDelay = AuFiniteOr(block.fPreDelay, b.fPreDelay);
    b.fERSize = AuFiniteOr(block.fERSize, b.fERSize);
    b.fRearDelay = AuFiniteOr(block.fRearDelay, b.fRearDelay);
    b.fRoomSize = AuFiniteOr(block.fRoomSize, b.fRoomSize);
    b.fRoomShape = AuFiniteOr(block.fRoomShape, b.fRoomShape);
    b.uDensity = std::clamp(block.uDensity, AU_REVERB_MIN_DENSITY, AU_REVERB_MAX_DENSITY);
    b.bEQEnabled = block.uEQEnabled != 0;
    b.fCenterInputLevel = gain(block.fCenterInputLevel, b.fCenterInputLevel);
    b.fLFEInputLevel = gain(block.fLFEInputLevel, b.fLFEInputLevel);
    for (u32 t = 0; t < AU_REVERB_NUM_TUNING; ++t)
        m_afTuning[t] = AuFiniteOr(block.afTuning[t], m_afTuning[t]);
    m_bLevelsChanged = m_bStructureChanged = true;
    return AuResultSuccess;
}

void AuReverbDelay::Run(f32* samples, u32 frames) noexcept {
    if (!pBuffer) return;
    for (u32 i = 0; i < frames;) {
        const u32 run = std::min(frames - i, uLength - uPos);
        f32* line = pBuffer + uPos;
        for (u32 k = 0; k < run; ++k) {
            const f32 delayed = line[k];
            line[k] = samples[i + k];
            samples[i + k] = delayed;
        }
        i += run;
        uPos += run;
        if (uPos == uLength) uPos = 0;
    }
}

void AuReverbDelay::Clear() noexcept {
    if (pBuffer) memset(pBuffer, 0, size_t{uLength} * sizeof(f32));
    uPos = 0;
}

AURESULT CAuRoomReverbEffect::Term(AU::IAuPluginMemAlloc* allocator) noexcept {
    FreeLineSets();
    for (AuReverbAllpass& allpass : m_allpasses)
        if (allpass.pLine) allocator->Free(allpass.pLine);
    for (AuReverbDelay* line : {&m_erLine, &m_preDelay, &m_rearLines[0], &m_rearLines[1]})
        FreeDelay(*line);
    if (m_er.pBuffer) allocator->Free(m_er.pBuffer);
    if (m_pFilterSlots) allocator->Free(m_pFilterSlots);
    AuPluginDelete(this, allocator);
    return AuResultSuccess;
}

AURESULT CAuRoomReverbEffect::Reset() noexcept {
    for (AuReverbAllpass& allpass : m_allpasses) {
        if (allpass.pLine) memset(allpass.pLine, 0, 2 * size_t{allpass.uLength} * sizeof(f32));
        allpass.uPos = 0;
    }
    for (AuDcBlocker& blocker : m_dcBlockers)
        blocker.fLastIn = blocker.fLastOut = 0.0f;
    for (AuReverbDelay* line : {&m_erLine, &m_preDelay, &m_rearLines[0], &m_rearLines[1]})
        line->Clear();
    for (u32 j = 0; m_pLineSets && j < m_uDensity; ++j) {
        AuReverbLineSet& set = m_pLineSets[j];
        for (AuReverbDelay& line : set.lines)
            line.Clear();
        set.input.Clear();
        std::fill(std::begin(set.afState), std::end(set.afState), 0.0f);
    }
    for (u32 s = 0; s < m_uNumFilterSlots; ++s)
        m_pFilterSlots[s].filter.Clear();
    if (m_er.pBuffer) memset(m_er.pBuffer, 0, size_t{m_er.uLength} * sizeof(f32));
    m_er.uWritePos = 0;
    return AuResultSuccess;
}

AURESULT CAuRoomReverbEffect::GetPluginInfo(AuPluginInfo& info) noexcept {
    info = {AuPluginTypeEffect, true, false};
    return AuResultSuccess;
}

f32 CAuRoomReverbEffect::DryLevel() const {
    return m_bSendMode ? 0.0f : m_pParams->m_levels.fDryLevel;
}

AURESULT CAuRoomReverbEffect::AllocDelay(AuReverbDelay& line, u32 length) noexcept {
    FreeDelay(line);
    if (length == 0) return AuResultSuccess;
    length = std::max(length, 4u);
    line.pBuffer = static_cast<f32*>(m_pAllocator->Malloc(size_t{length} * sizeof(f32)));
    if (!line.pBuffer) return AuResultNoMemory;
    line.uLength = length;
    line.Clear();
    return AuResultSuccess;
}

void CAuRoomReverbEffect::FreeDelay(AuReverbDelay& line) noexcept {
    if (line.pBuffer) m_pAllocator->Free(line.pBuffer);
    line = {};
}

void CAuRoomReverbEffect::BuildDcBlockers() noexcept {
    const f64 corner = m_pParams->m_afTuning[Params::DcBlockerCorner];
    const f32 pole = f32(std::clamp(1.0 - kTwoPi * corner / m_uSampleRate, 0.0, 0.999999));
    for (AuDcBlocker& blocker : m_dcBlockers)
        blocker = {0.0f, 0.0f, pole};
}

AURESULT CAuRoomReverbEffect::BuildFilterSlots() noexcept {
    if (m_pFilterSlots) m_pAllocator->Free(m_pFilterSlots);
    m_pFilterSlots = nullptr;
    m_uNumFilterSlots = 0;
    const AuRoomReverbStructure& b = m_pParams->m_structure;
    if (!b.bEQEnabled) return AuResultSuccess;
    AuReverbFilterSlot slots[2 * AU_REVERB_NUM_FILTERS];
    u32 count = 0;
    for (u32 k = 0; k < AU_REVERB_NUM_FILTERS; ++k) {
        const u32 position = b.auFilterPosition[k];
        u32 taken = 0;
        if (position == AuReverbFilterOnReflections)
            taken = RunsER() ? 2 : 0;
        else if (position == AuReverbFilterOnReverbInput || position == AuReverbFilterOnEffectInput)
            taken = 1;
        for (u32 s = 0; s < taken; ++s) {
            slots[count].uPosition = position;
            slots[count++].uFilter = k;
        }
    }
    if (count == 0) return AuResultSuccess;
    m_pFilterSlots =
        static_cast<AuReverbFilterSlot*>(m_pAllocator->Malloc(count * sizeof(AuReverbFilterSlot)));
    if (!m_pFilterSlots) return AuResultNoMemory;
    std::copy(slots, slots + count, m_pFilterSlots);
    m_uNumFilterSlots = count;
    DesignFilterSlots();
    return AuResultSuccess;
}

void CAuRoomReverbEffect::DesignFilterSlots() noexcept {
    const AuRoomReverbLevels& a = m_pParams->m_levels;
    const AuRoomReverbStructure& b = m_pParams->m_structure;
    for (u32 s = 0; s < m_uNumFilterSlots; ++s) {
        const u32 k = m_pFilterSlots[s].uFilter;
        DesignEffectFilter(m_pFilterSlots[s].filter, b.auFilterType[k], f32(m_uSampleRate),
                           a.afFilterFrequency[k], a.afFilterGain[k], a.afFilterQ[k]);
    }
}

void CAuRoomReverbEffect::LineTimes(const CAuRoomReverbEffectParams& params, f64* times, bool lengthen) {
    const f32* t = params.m_afTuning;
    const AuRoomReverbStructure& b = params.m_structure;
    const u32 count = 4 * b.uDensity;
    const f64 mean = t[Params::ShortestMeanTime] +
                     f64(t[Params::LongestMeanTime] - t[Params::ShortestMeanTime]) * b.fRoomSize / 100.0;
    const f64 shortest = (t[Params::ShapeRatioAt0] +
                          f64(t[Params::ShapeRatioAt100] - t[Params::ShapeRatioAt0]) * b.fRoomShape / 100.0) *
                         mean;
    Lcg rng{7032007};
    for (u32 i = 0; i < count; ++i) {
        times[i] = count > 1 ? shortest + i * 2.0 * (mean - shortest) / (count - 1) : mean;
        const f64 r = rng.Next();
        if (lengthen) times[i] += t[Params::LineLengthening] / 100.0 * times[i] * r;
        // Tuning values that overflow give the shortest line instead of an order the sort cannot keep.
        if (!std::isfinite(times[i])) times[i] = 0.0;
    }
    std::sort(times, times + count);
}

void CAuRoomReverbEffect::FreeLineSets() noexcept {
    if (!m_pLineSets) return;
    for (u32 j = 0; j < m_uDensity; ++j) {
        for (AuReverbDelay& line : m_pLineSets[j].lines)
            FreeDelay(line);
        FreeDelay(m_pLineSets[j].input);
    }
    m_pAllocator->Free(m_pLineSets);
    m_pLineSets = nullptr;
}

AURESULT CAuRoomReverbEffect::BuildLineSets() noexcept {
    FreeLineSets();
    const u32 n = m_uDensity = m_pParams->m_structure.uDensity;
    m_pLineSets = static_cast<AuReverbLineSet*>(m_pAllocator->Malloc(n * sizeof(AuReverbLineSet)));
    if (!m_pLineSets) {
        m_uDensity = 0;
        return AuResultNoMemory;
    }
    for (u32 j = 0; j < n; ++j)
        new (&m_pLineSets[j]) AuReverbLineSet();
    f64 times[4 * AU_REVERB_MAX_DENSITY];
    LineTimes(*m_pParams, times, true);
    u32 previous = 0;
    for (u32 i = 0; i < 4 * n; ++i) {
        const u32 length = LineLength(times[i], m_uSampleRate, previous);
        previous = length;
        // Set j takes the lines j, N + j, 2N + j and 3N + j.
        AuReverbDelay& line = m_pLineSets[i % n].lines[i / n];
        if (AllocDelay(line, length) != AuResultSuccess) return AuResultNoMemory;
        line.uLength = length; // the delay is the length itself, however short
    }
    const f32* t = m_pParams->m_afTuning;
    Lcg rng{29101977};
    for (u32 j = 0; j < n; ++j) {
        const f64 ms = std::min(f64(t[Params::BlockInputDelay]) / n *
                                    (1.0 + t[Params::BlockInputLengthening] / 100.0 * rng.Next()),
                                kMaxStructureMs);
        if (AllocDelay(m_pLineSets[j].input, MsToSamples(ms, m_uSampleRate)) != AuResultSuccess)
            return AuResultNoMemory;
    }
    m_fBlockNormaliser = n > 1 ? f32(1.0 / std::sqrt(f64(n))) : 1.0f;
    DesignDamping();
    return AuResultSuccess;
}

void CAuRoomReverbEffect::DesignDamping() noexcept {
    const f64 decay = std::max(m_pParams->m_levels.fDecayTime, AU_REVERB_MIN_DECAY_SECONDS);
    const f64 rate = m_uSampleRate;
    // log10 of a line's gain: its share of a 60 dB fall over the decay time.
    const auto log10Gain = [&](u32 length) { return -3.0 * length / (decay * rate); };
    for (u32 j = 0; j < m_uDensity; ++j) {
        AuReverbLineSet& set = m_pLineSets[j];
        f64 k = m_pParams->m_levels.fDampingRatio;
        u32 longest = 0;
        for (const AuReverbDelay& line : set.lines)
            longest = std::max(longest, line.uLength);
        const f64 aLongest = std::log(10.0) * 0.25 * log10Gain(longest);
        if (aLongest * (1.0 - k * k) > 1.0) k = std::sqrt(1.0 - 1.0 / aLongest);
        for (u32 l = 0; l < 4; ++l) {
            const f64 lg = log10Gain(set.lines[l].uLength);
            const f64 a = std::log(10.0) * 0.25 * lg;
            // Held inside the unit circle both ways, so that no ratio makes the filter ring up.
            const f64 b = std::clamp((1.0 - k * k) * a, -f64(kMaxDampingPole), f64(kMaxDampingPole));
            set.afInCoef[l] = f32(std::pow(10.0, lg) * (1.0 - b));
            set.afFbCoef[l] = f32(b);
        }
    }
}

AURESULT CAuRoomReverbEffect::BuildERLine() noexcept {
    FreeDelay(m_erLine);
    if (!RunsER()) return AuResultSuccess;
    const AuReflectionPattern& pattern = g_reflectionPatterns[m_pParams->m_structure.uPattern];
    const f64 scale = std::exp2(std::clamp(f64(m_pParams->m_structure.fERSize), -1000.0, 1000.0) * 0.01);
    const f64 first = std::min(pattern.sides[0].taps[0].fTime, pattern.sides[1].taps[0].fTime) * scale;
    return AllocDelay(m_erLine, MsToSamples(first, m_uSampleRate));
}

AURESULT CAuRoomReverbEffect::BuildERUnit() noexcept {
    if (m_er.pBuffer) m_pAllocator->Free(m_er.pBuffer);
    m_er = {};
    if (!RunsER()) return AuResultSuccess;
    const AuReflectionPattern& pattern = g_reflectionPatterns[m_pParams->m_structure.uPattern];
    for (const AuReflectionSide& side : pattern.sides)
        if (side.uNumTaps == 0 || side.uNumTaps > AU_MAX_REFLECTION_TAPS) return AuResultFail;
    const f64 scale = std::exp2(std::clamp(f64(m_pParams->m_structure.fERSize), -1000.0, 1000.0) * 0.01);
    const AuReflectionSide& left = pattern.sides[0];
    const AuReflectionSide& right = pattern.sides[1];
    const f64 first = std::min(left.taps[0].fTime, right.taps[0].fTime) * scale;
    const f64 last = std::max(left.taps[left.uNumTaps - 1].fTime, right.taps[right.uNumTaps - 1].fTime);
    const f64 samples = std::max((last * scale - first) * 0.001 * m_uSampleRate, 4.0);
    if (samples > kMaxERBufferLength) return AuResultFail;
    const u32 length = u32(samples) & ~3u;
    // One block more than the longest delay, so that a whole block is written before any tap
    // reads it; the delays themselves are those of the nominal length.
    const u32 bufferLength = length + AU_REVERB_BLOCK_FRAMES;
    m_er.pBuffer = static_cast<f32*>(m_pAllocator->Malloc(size_t{bufferLength} * sizeof(f32)));
    if (!m_er.pBuffer) return AuResultNoMemory;
    m_er.uLength = bufferLength;
    memset(m_er.pBuffer, 0, size_t{bufferLength} * sizeof(f32));
    m_er.uMaxStep = bufferLength;
    for (u32 s = 0; s < 2; ++s) {
        const AuReflectionSide& side = pattern.sides[s];
        u32 count = 0;
        u32 previous = 0xFFFFFFFFu;
        for (u32 i = 0; i < side.uNumTaps; ++i) {
            const f64 at = std::max((side.taps[i].fTime * scale - first) * 0.001 * m_uSampleRate, 0.0);
            const u32 d = std::min(u32(at) & ~3u, length - 4);
            if (d == previous) continue;
            previous = d;
            if (d > 0) m_er.uMaxStep = std::min(m_er.uMaxStep, bufferLength - d);
            m_er.aauReadPos[s][count] = d == 0 ? 0 : bufferLength - d;
            m_er.aafGain[s][count++] = side.taps[i].fGain;
        }
        m_er.auNumTaps[s] = count;
    }
    return AuResultSuccess;
}

AURESULT CAuRoomReverbEffect::BuildPreDelay() noexcept {
    const f64 ms = std::clamp(f64(m_pParams->m_structure.fPreDelay), 0.0, f64(AU_REVERB_MAX_DELAY_MS));
    return AllocDelay(m_preDelay, MsToSamples(ms, m_uSampleRate));
}

AURESULT CAuRoomReverbEffect::BuildRearLines() noexcept {
    FreeDelay(m_rearLines[0]);
    FreeDelay(m_rearLines[1]);
    if (!RunsER() || !m_bHasRear) return AuResultSuccess;
    const f64 ms = std::clamp(f64(m_pParams->m_structure.fRearDelay), 0.0, f64(AU_REVERB_MAX_DELAY_MS));
    for (AuReverbDelay& line : m_rearLines)
        if (AllocDelay(line, MsToSamples(ms, m_uSampleRate)) != AuResultSuccess) return AuResultNoMemory;
    return AuResultSuccess;
}

AURESULT CAuRoomReverbEffect::BuildAllpasses() noexcept {
    const f32* t = m_pParams->m_afTuning;
    f64 times[AU_REVERB_NUM_ALLPASSES];
    Lcg rng{3072007};
    for (u32 i = 0; i < AU_REVERB_NUM_ALLPASSES; ++i) {
        times[i] = t[Params::FirstAllpassTime] * std::pow(f64(t[Params::AllpassTimeRatio]) / 100.0, f64(i));
        times[i] += t[Params::AllpassLengthening] / 100.0 * times[i] * rng.Next();
        if (!std::isfinite(times[i])) times[i] = 0.0;
    }
    std::sort(times, times + AU_REVERB_NUM_ALLPASSES);
    u32 previous = 0;
    for (u32 i = 0; i < AU_REVERB_NUM_ALLPASSES; ++i) {
        AuReverbAllpass& allpass = m_allpasses[i];
        if (allpass.pLine) m_pAllocator->Free(allpass.pLine);
        allpass.pLine = nullptr;
        const u32 length = previous = LineLength(times[i], m_uSampleRate, previous);
        allpass.pLine = static_cast<f32*>(m_pAllocator->Malloc(2 * size_t{length} * sizeof(f32)));
        if (!allpass.pLine) return AuResultNoMemory;
        allpass.uLength = length;
        allpass.uPos = 0;
        memset(allpass.pLine, 0, 2 * size_t{length} * sizeof(f32));
    }
    ComputeAllpassCoefs();
    return AuResultSuccess;
}

void CAuRoomReverbEffect::ComputeAllpassCoefs() noexcept {
    const f32 d = m_pParams->m_levels.fDiffusion;
    for (u32 i = 0; i < AU_REVERB_NUM_ALLPASSES; ++i)
        m_allpasses[i].fCoef =
            std::clamp(d * 0.01f * kGoldenGain * 4.0f - kAllpassOffsets[i], 0.0f, kGoldenGain);
}

void CAuRoomReverbEffect::ComputeTailLength() noexcept {
    const f64 preDelay = std::clamp(f64(m_pParams->m_structure.fPreDelay), 0.0, f64(AU_REVERB_MAX_DELAY_MS));
    const f64 decay = std::max(m_pParams->m_levels.fDecayTime, AU_REVERB_MIN_DECAY_SECONDS);
    m_uTailLength = u32(std::min((preDelay * 0.001 + decay) * m_uSampleRate, 4294967040.0));
}

AURESULT CAuRoomReverbEffect::Init(AU::IAuPluginMemAlloc* allocator, AU::IAuEffectPluginContext* context,
                                   AU::IAuPluginParam* params, AuPluginFormat& format) noexcept {
    m_pAllocator = allocator;
    m_pParams = static_cast<CAuRoomReverbEffectParams*>(params);
    m_uSampleRate = format.uSampleRate;
    m_config = format.channelConfig;
    if (m_uSampleRate == 0) return AuResultFail;
    m_bSendMode = context && context->IsSendModeEffect();
    m_prevLevels = m_pParams->m_levels;
    m_prevLevels.fDryLevel = DryLevel();
    const u32 mask = m_config.ChannelMask();
    m_bHasRear = (mask & (AU_SPEAKER_BACK_LEFT | AU_SPEAKER_BACK_RIGHT | AU_SPEAKER_SIDE_LEFT |
                          AU_SPEAKER_SIDE_RIGHT));
    m_uERLineCount = m_pParams->m_structure.bEREnabled && mask != AU_SPEAKER_LOW_FREQUENCY ? 2 : 0;
    m_builtStructure = m_pParams->m_structure;
    BuildDcBlockers();
    AURESULT result = BuildFilterSlots();
    if (result == AuResultSuccess) result = BuildLineSets();
    if (result == AuResultSuccess) result = BuildERLine();
    if (result == AuResultSuccess) result = BuildPreDelay();
    if (result == AuResultSuccess) result = BuildERUnit();
    if (result == AuResultSuccess) result = BuildRearLines();
    if (result == AuResultSuccess) result = BuildAllpasses();
    ComputeTailLength();
    m_pParams->m_bLevelsChanged = m_pParams->m_bStructureChanged = false;
    return result;
}

bool CAuRoomReverbEffect::RebuildStructures() noexcept {
    const AuRoomReverbStructure& now = m_pParams->m_structure;
    const AuRoomReverbStructure& was = m_builtStructure;
    const auto ok = [](AURESULT r) { return r == AuResultSuccess; };
    if (now.uDensity != was.uDensity || now.fRoomSize != was.fRoomSize || now.fRoomShape != was.fRoomShape)
        if (!ok(BuildLineSets())) return false;
    bool filtersToo = now.bEQEnabled != was.bEQEnabled;
    bool erToo = now.uPattern != was.uPattern || now.fERSize != was.fERSize;
    bool rearToo = now.fRearDelay != was.fRearDelay;
    if (now.bEREnabled != was.bEREnabled) {
        m_uERLineCount = now.bEREnabled && m_config.ChannelMask() != AU_SPEAKER_LOW_FREQUENCY ? 2 : 0;
        erToo = rearToo = filtersToo = true;
    }
    if (now.fPreDelay != was.fPreDelay) {
        if (!ok(BuildPreDelay())) return false;
        ComputeTailLength();
    }
    if (erToo && (!ok(BuildERLine()) || !ok(BuildERUnit()))) return false;
    if (rearToo && !ok(BuildRearLines())) return false;
    for (u32 k = 0; k < AU_REVERB_NUM_FILTERS; ++k)
        filtersToo |= now.auFilterPosition[k] != was.auFilterPosition[k];
    if (filtersToo) {
        if (!ok(BuildFilterSlots())) return false;
    } else {
        // Only types changed: the slots stay and are designed anew.
        DesignFilterSlots();
    }
    m_builtStructure = now;
    return true;
}

void CAuRoomReverbEffect::Execute(AuPipelineBuffer& buffer) noexcept {
    if (m_pParams->m_bStructureChanged) {
        if (!RebuildStructures()) return;
        m_pParams->m_bStructureChanged = false;
    }
    if (m_pParams->m_bLevelsChanged) {
        DesignDamping();
        ComputeTailLength();
        ComputeAllpassCoefs();
        DesignFilterSlots();
        m_pParams->m_bLevelsChanged = false;
    }
    m_tail.Process(buffer, m_uTailLength);
    if (buffer.uValidFrames == 0 || !buffer.pData) return;
    u32 numOutputs = 0;
    switch (buffer.channelConfig.ChannelMask() & 0x63F) {
    case 0x3:
    case 0x4:
    case 0x8:
    case 0xB:
    case 0xC:
        numOutputs = 2;
        break;
    case 0x7:
    case 0xF:
    case 0x603:
        numOutputs = 4;
        break;
    case 0x607:
    case 0x60B:
    case 0x60F:
    case 0x633:
    case 0x637:
    case 0x63B:
    case 0x63F:
        numOutputs = 6;
        break;
    default:
        return; // a layout no routine serves passes untouched
    }
    // Input, reverb path, the network's outputs, both reflection sides and their rear copies.
    const size_t workFloats = size_t{2 + numOutputs + 4} * AU_REVERB_BLOCK_FRAMES;
    auto* work = static_cast<f32*>(m_pAllocator->Malloc(workFloats * sizeof(f32)));
    if (!work) return;
    Process(buffer, numOutputs, work);
    m_pAllocator->Free(work);
    m_prevLevels = m_pParams->m_levels;
    m_prevLevels.fDryLevel = DryLevel();
}

void CAuRoomReverbEffect::Process(AuPipelineBuffer& buffer, u32 numOutputs, f32* work) noexcept {
    for (u32 offset = 0; offset < buffer.uValidFrames; offset += AU_REVERB_BLOCK_FRAMES) {
        const u32 frames = std::min<u32>(AU_REVERB_BLOCK_FRAMES, buffer.uValidFrames - offset);
        ProcessBlock(buffer, offset, frames, numOutputs, work, offset == 0);
    }
}

void CAuRoomReverbEffect::FilterAt(u32 position, f32* samples, u32 frames, u32 side) noexcept {
    for (u32 s = 0; s < m_uNumFilterSlots; ++s) {
        AuReverbFilterSlot& slot = m_pFilterSlots[s];
        if (slot.uPosition != position) continue;
        // A filter on the reflections has two slots in a row: the left side's, then the right's.
        if (position == AuReverbFilterOnReflections) {
            if (side == 1) ++s;
            if (s < m_uNumFilterSlots) ProcessEffectFilter(m_pFilterSlots[s].filter, samples, frames);
            if (side == 0) ++s;
            continue;
        }
        ProcessEffectFilter(slot.filter, samples, frames);
    }
}

void CAuRoomReverbEffect::RunERUnit(const f32* in, f32* left, f32* right, u32 frames) noexcept {
    AuEarlyReflections& er = m_er;
    f32* outs[2] = {left, right};
    memset(left, 0, frames * sizeof(f32));
    memset(right, 0, frames * sizeof(f32));
    // Each step writes its input first, then every tap reads the step's frames; a step no longer
    // than the shortest tap distance never overwrites a sample a tap has still to read.
    for (u32 i = 0; i < frames;) {
        const u32 step = std::min(frames - i, er.uMaxStep);
        for (u32 k = 0; k < step;) {
            const u32 run = std::min(step - k, er.uLength - er.uWritePos);
            memcpy(er.pBuffer + er.uWritePos, in + i + k, run * sizeof(f32));
            k += run;
            er.uWritePos += run;
            if (er.uWritePos == er.uLength) er.uWritePos = 0;
        }
        for (u32 s = 0; s < 2; ++s) {
            f32* out = outs[s] + i;
            for (u32 t = 0; t < er.auNumTaps[s]; ++t) {
                const f32 gain = er.aafGain[s][t];
                u32 at = er.aauReadPos[s][t];
                for (u32 k = 0; k < step;) {
                    const u32 run = std::min(step - k, er.uLength - at);
                    AuMulAdd(out + k, er.pBuffer + at, run, gain);
                    k += run;
                    at += run;
                    if (at == er.uLength) at = 0;
                }
                er.aauReadPos[s][t] = at;
            }
        }
        i += step;
    }
}

void CAuRoomReverbEffect::ProcessBlock(AuPipelineBuffer& buffer, u32 offset, u32 n, u32 numOutputs, f32* work,
                                       bool glide) noexcept {
    const AuChannelConfig config = buffer.channelConfig;
    const u32 mask = config.ChannelMask() & 0x63F;
    const u32 numChannels = config.NumChannels();
    f32* A = work;
    f32* B = A + AU_REVERB_BLOCK_FRAMES;
    f32* O[6];
    for (u32 k = 0; k < numOutputs; ++k)
        O[k] = B + (1 + k) * AU_REVERB_BLOCK_FRAMES;
    f32* EL = B + (1 + numOutputs) * AU_REVERB_BLOCK_FRAMES;
    f32* ER = EL + AU_REVERB_BLOCK_FRAMES;
    f32* rearEL = ER + AU_REVERB_BLOCK_FRAMES;
    f32* rearER = rearEL + AU_REVERB_BLOCK_FRAMES;
    const auto channel = [&](u32 index) { return buffer.GetChannel(index) + offset; };

    // Where each speaker sits: front-left, front-right, centre in order, then back, then side;
    // the LFE is the last channel.
    const bool hasFL = mask & AU_SPEAKER_FRONT_LEFT, hasFR = mask & AU_SPEAKER_FRONT_RIGHT;
    const bool hasC = mask & AU_SPEAKER_FRONT_CENTER, hasLFE = mask & AU_SPEAKER_LOW_FREQUENCY;
    const bool hasBack = mask & (AU_SPEAKER_BACK_LEFT | AU_SPEAKER_BACK_RIGHT);
    const bool hasSide = mask & (AU_SPEAKER_SIDE_LEFT | AU_SPEAKER_SIDE_RIGHT);
    u32 next = 0;
    const int fl = hasFL ? int(next++) : -1;
    const int fr = hasFR ? int(next++) : -1;
    const int c = hasC ? int(next++) : -1;
    const int back = hasBack ? int(next) : -1;
    next += hasBack ? 2 : 0;
    const int side = hasSide ? int(next) : -1;
    const int lfe = hasLFE ? int(numChannels - 1) : -1;

    // 1. The input downmix; a buffer whose weights sum to nothing feeds silence.
    const AuRoomReverbStructure& structure = m_pParams->m_structure;
    const f32 cl = std::min(structure.fCenterInputLevel, 1.0f);
    const f32 ll = std::min(structure.fLFEInputLevel, 1.0f);
    const u32 plain = u32(__builtin_popcount(mask & ~(AU_SPEAKER_FRONT_CENTER | AU_SPEAKER_LOW_FREQUENCY)));
    const f32 weights = f32(plain) + (hasC ? cl * cl : 0.0f) + (hasLFE ? ll * ll : 0.0f);
    memset(A, 0, n * sizeof(f32));
    if (weights > 0.0f) {
        const f32 norm = 1.0f / std::sqrt(weights);
        for (u32 ch = 0; ch < numChannels; ++ch) {
            f32 g = norm;
            if (int(ch) == c) g *= cl;
            if (int(ch) == lfe) {
                if (mask != AU_SPEAKER_LOW_FREQUENCY) continue;
                g *= ll;
            }
            const f32* in = channel(ch);
            for (u32 i = 0; i < n; ++i)
                A[i] += in[i] * g;
        }
    }
    FilterAt(AuReverbFilterOnEffectInput, A, n, 0);

    // 2. Pre-delay.
    memcpy(B, A, n * sizeof(f32));
    m_preDelay.Run(B, n);

    // 3. Early reflections, with their copies for the rear pairs.
    const bool er = RunsER() && m_er.pBuffer;
    if (er) {
        m_erLine.Run(A, n);
        RunERUnit(A, EL, ER, n);
        FilterAt(AuReverbFilterOnReflections, EL, n, 0);
        FilterAt(AuReverbFilterOnReflections, ER, n, 1);
        if (numOutputs > 2 && (hasBack || hasSide)) {
            memcpy(rearEL, EL, n * sizeof(f32));
            memcpy(rearER, ER, n * sizeof(f32));
            m_rearLines[0].Run(rearEL, n);
            m_rearLines[1].Run(rearER, n);
        }
    }

    // 4. Diffusion.
    for (AuReverbAllpass& allpass : m_allpasses) {
        const f32 g = allpass.fCoef;
        for (u32 i = 0; i < n; ++i) {
            f32* past = allpass.pLine + 2 * size_t{allpass.uPos};
            const f32 x = B[i];
            const f32 y = g * (x - past[1]) + past[0];
            past[0] = x;
            past[1] = y;
            B[i] = y;
            if (++allpass.uPos == allpass.uLength) allpass.uPos = 0;
        }
    }

    // 5. Filters on the reverb input.
    FilterAt(AuReverbFilterOnReverbInput, B, n, 0);

    // 6. The network: set j hears B through the input delays of sets 0 to j.
    for (u32 k = 0; k < numOutputs; ++k)
        memset(O[k], 0, n * sizeof(f32));
    const u32 outputsPerSet = numOutputs / 2;
    for (u32 j = 0; j < m_uDensity; ++j) {
        AuReverbLineSet& set = m_pLineSets[j];
        set.input.Run(B, n);
        f32* outs[3] = {O[j & 1], outputsPerSet > 1 ? O[2 + (j & 1)] : nullptr,
                        outputsPerSet > 2 ? O[4 + (j & 1)] : nullptr};
        // Runs in which no line wraps.
        for (u32 i = 0; i < n;) {
            u32 run = n - i;
            for (const AuReverbDelay& line : set.lines)
                run = std::min(run, line.uLength - line.uPos);
            f32* p[4];
            for (u32 l = 0; l < 4; ++l)
                p[l] = set.lines[l].pBuffer + set.lines[l].uPos;
            f32 state[4] = {set.afState[0], set.afState[1], set.afState[2], set.afState[3]};
            for (u32 k = 0; k < run; ++k) {
                f32 y[4];
                for (u32 l = 0; l < 4; ++l)
                    y[l] = state[l] = set.afInCoef[l] * p[l][k] + set.afFbCoef[l] * state[l];
                outs[0][i + k] += y[0] - y[1] + y[2] - y[3];
                if (outs[1]) outs[1][i + k] += y[0] + y[1] - y[2] - y[3];
                if (outs[2]) outs[2][i + k] += y[0] - y[1] - y[2] + y[3];
                const f32 s = B[i + k] - 0.5f * (y[0] + y[1] + y[2] + y[3]);
                for (u32 l = 0; l < 4; ++l)
                    p[l][k] = s + y[(l + 1) & 3];
            }
            for (u32 l = 0; l < 4; ++l) {
                set.afState[l] = state[l];
                AuReverbDelay& line = set.lines[l];
                line.uPos += run;
                if (line.uPos == line.uLength) line.uPos = 0;
            }
            i += run;
        }
    }

    // 7. DC blockers.
    const f32 G = m_fBlockNormaliser * 1.4142135f;
    for (u32 k = 0; k < numOutputs; ++k) {
        AuDcBlocker& blocker = m_dcBlockers[k];
        for (u32 i = 0; i < n; ++i) {
            const f32 x = O[k][i];
            const f32 y = G * x - G * blocker.fLastIn + blocker.fPole * blocker.fLastOut;
            blocker.fLastIn = x;
            blocker.fLastOut = y;
            O[k][i] = y;
        }
    }

    // 8. Mix, gliding from the previous values over the first block of the buffer.
    const AuRoomReverbLevels& cur = m_pParams->m_levels;
    const AuRoomReverbLevels& prev = glide ? m_prevLevels : cur;
    const f32 dryNow = DryLevel(), dryPrev = glide ? m_prevLevels.fDryLevel : dryNow;
    const WidthGains wNow = Width(cur.fStereoWidth), wPrev = Width(prev.fStereoWidth);
    constexpr f32 kHalf = 0.707106f;
    // Adds a pair of signals to a pair of channels: the first reaches the left with w and the right
    // with c, the second the other way round.
    const auto pair = [&](int left, int right, const f32* first, const f32* second, f32 from, f32 to) {
        if (left >= 0) {
            MixInto(channel(u32(left)), first, n, from * wPrev.w, to * wNow.w);
            MixInto(channel(u32(left)), second, n, from * wPrev.c, to * wNow.c);
        }
        if (right >= 0) {
            MixInto(channel(u32(right)), first, n, from * wPrev.c, to * wNow.c);
            MixInto(channel(u32(right)), second, n, from * wPrev.w, to * wNow.w);
        }
    };
    for (u32 ch = 0; ch < numChannels; ++ch)
        ScaleBy(channel(ch), n, dryPrev, dryNow);
    if (numOutputs == 2) {
        pair(fl, fr, O[0], O[1], prev.fReverbLevel, cur.fReverbLevel);
        if (er) pair(fl, fr, EL, ER, prev.fERLevel, cur.fERLevel);
        if (c >= 0) {
            MixInto(channel(u32(c)), O[0], n, prev.fReverbLevel * kHalf, cur.fReverbLevel * kHalf);
            MixInto(channel(u32(c)), O[1], n, prev.fReverbLevel * kHalf, cur.fReverbLevel * kHalf);
            if (er) {
                MixInto(channel(u32(c)), EL, n, prev.fERLevel * kHalf, cur.fERLevel * kHalf);
                MixInto(channel(u32(c)), ER, n, prev.fERLevel * kHalf, cur.fERLevel * kHalf);
            }
        }
        if (lfe >= 0) {
            const f32 from = prev.fReverbLevel * prev.fLFELevel * kHalf,
                      to = cur.fReverbLevel * cur.fLFELevel * kHalf;
            MixInto(channel(u32(lfe)), O[0], n, from, to);
            MixInto(channel(u32(lfe)), O[1], n, from, to);
        }
        return;
    }
    // Without back or side channels the group levels stand aside.
    const bool groups = hasBack || hasSide;
    const f32 frontPrev = groups ? prev.fFrontLevel : 1.0f, frontNow = groups ? cur.fFrontLevel : 1.0f;
    const f32 rearPrev = groups ? prev.fRearLevel : 1.0f, rearNow = groups ? cur.fRearLevel : 1.0f;
    pair(fl, fr, O[0], O[1], prev.fReverbLevel * frontPrev, cur.fReverbLevel * frontNow);
    if (er) pair(fl, fr, EL, ER, prev.fERLevel * frontPrev, cur.fERLevel * frontNow);
    // The four-output routine sends its second pair to the rear, the six-output one its third.
    const f32* rearFirst = numOutputs == 4 ? O[2] : O[4];
    const f32* rearSecond = numOutputs == 4 ? O[3] : O[5];
    for (int rear : {back, side}) {
        if (rear < 0) continue;
        pair(rear, rear + 1, rearFirst, rearSecond, prev.fReverbLevel * rearPrev, cur.fReverbLevel * rearNow);
        if (er) pair(rear, rear + 1, rearEL, rearER, prev.fERLevel * rearPrev, cur.fERLevel * rearNow);
    }
    const auto middle = [&](int ch, f32 levelPrev, f32 levelNow) {
        if (ch < 0) return;
        const f32 from = prev.fReverbLevel * levelPrev * kHalf, to = cur.fReverbLevel * levelNow * kHalf;
        MixInto(channel(u32(ch)), O[2], n, from, to);
        MixInto(channel(u32(ch)), O[3], n, from, to);
    };
    middle(c, prev.fCenterLevel, cur.fCenterLevel);
    middle(lfe, prev.fLFELevel, cur.fLFELevel);
}

AURESULT CAuRoomReverbEffect::TimeSkip(u32) noexcept {
    return AuResultDataReady;
}
