#include "voices/AuBusMeter.h"

#include "voices/AuLowerEngine.h"

#include <AU/MemoryMgr.h>

#include <cmath>
#include <cstring>

// The 48-coefficient interpolation filter of the loudness standard's true-peak annex, one row per
// phase.
const f32 g_AuTruePeakTaps[AU_TRUE_PEAK_PHASES][AU_TRUE_PEAK_TAPS] = {
    {0.0017089843750f, 0.0109863281250f, -0.0196533203125f, 0.0332031250000f, -0.0594482421875f,
     0.1373291015625f, 0.9721679687500f, -0.1022949218750f, 0.0476074218750f, -0.0266113281250f,
     0.0148925781250f, -0.0083007812500f},
    {-0.0291748046875f, 0.0292968750000f, -0.0517578125000f, 0.0891113281250f, -0.1665039062500f,
     0.4650878906250f, 0.7797851562500f, -0.2003173828125f, 0.1015625000000f, -0.0582275390625f,
     0.0330810546875f, -0.0189208984375f},
    {-0.0189208984375f, 0.0330810546875f, -0.0582275390625f, 0.1015625000000f, -0.2003173828125f,
     0.7797851562500f, 0.4650878906250f, -0.1665039062500f, 0.0891113281250f, -0.0517578125000f,
     0.0292968750000f, -0.0291748046875f},
    {-0.0083007812500f, 0.0148925781250f, -0.0266113281250f, 0.0476074218750f, -0.1022949218750f,
     0.9721679687500f, 0.1373291015625f, -0.0594482421875f, 0.0332031250000f, -0.0196533203125f,
     0.0109863281250f, 0.0017089843750f},
};

namespace {

// The meters read what the engine's unity gain (0 dB through the fast conversion) took away.
constexpr f32 kUnityCompensation = 1.0009619f;
constexpr u32 kFrontMask = 0x7;
constexpr u32 kSurroundMask = 0x630;
constexpr u32 kWeightedMask = kFrontMask | kSurroundMask;

u32 Padded(u32 channels) {
    return (channels + 3) & ~3u;
}

template <class T> T* Alloc(u32 count) {
    void* block = AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, count * sizeof(T), 16);
    if (block) memset(block, 0, count * sizeof(T));
    return static_cast<T*>(block);
}

template <class T> void Free(T*& block) {
    if (block) AU::MemoryMgr::Falign(g_LEngineDefaultPoolId, block);
    block = nullptr;
}

} // namespace

void AuKWeightingCoefficients(u32 sampleRate, AuBiquadBlock& shelf, AuBiquadBlock& highPass) noexcept {
    const f64 fs = sampleRate;
    const f64 a = std::pow(10.0, 0.1);
    f64 w0 = 9443.0 / fs;
    f64 cw = std::cos(w0);
    const f64 alpha = 2.0 * std::sqrt(a) * std::sin(w0) * 0.70422536;
    const f64 a0 = (a + 1) - (a - 1) * cw + alpha;
    const f64 b0 = a * ((a + 1) + (a - 1) * cw + alpha);
    const f64 b1 = -2 * a * ((a - 1) + (a + 1) * cw);
    const f64 b2 = a * ((a + 1) + (a - 1) * cw - alpha);
    const f64 a1 = 2 * ((a - 1) - (a + 1) * cw);
    const f64 a2 = (a + 1) - (a - 1) * cw - alpha;
    BiquadCoefficients(shelf, f32(b0 / a0), f32(b1 / a0), f32(b2 / a0), f32(a1 / a0), f32(a2 / a0));

    w0 = 238.76105 / fs;
    cw = std::cos(w0);
    const f64 k = 1.0 / (1.0 + std::sin(w0));
    BiquadCoefficients(highPass, f32((1 + cw) * 0.5 * k), f32(-(1 + cw) * k), f32((1 + cw) * 0.5 * k),
                       f32(-2 * cw * k), f32((1 - std::sin(w0)) * k));
}

AURESULT AuBusMeterData::Init(u32 channels, u32 sampleRate, u32 flags) noexcept {
    uFlags = flags & AU_METERING_ALL;
    uNumChannels = channels;
    const u32 padded = Padded(channels);
    bool ok = true;
    if (uFlags & AU_EnableBusMeter_Peak) ok &= (pPeak = Alloc<f32>(padded)) != nullptr;
    if (uFlags & AU_EnableBusMeter_RMS) ok &= (pRMS = Alloc<f32>(padded)) != nullptr;
    if (uFlags & AU_EnableBusMeter_TruePeak) {
        ok &= (pTruePeak = Alloc<f32>(padded)) != nullptr;
        ok &= (pTruePeakHistory = Alloc<f32>(padded * AU_TRUE_PEAK_TAPS)) != nullptr;
    }
    if (uFlags & AU_EnableBusMeter_KPower) {
        ok &= (pKStages = Alloc<AuBiquadBlock>(2)) != nullptr;
        ok &= (pKMemory = Alloc<AuBiquadMemory>(2 * padded)) != nullptr;
        if (pKStages) AuKWeightingCoefficients(sampleRate, pKStages[0], pKStages[1]);
    }
    fKPower = 0.0f;
    return ok ? AuResultSuccess : AuResultFail;
}

void AuBusMeterData::Term() noexcept {
    Free(pPeak);
    Free(pRMS);
    Free(pTruePeak);
    Free(pTruePeakHistory);
    Free(pKStages);
    Free(pKMemory);
    fKPower = 0.0f;
    uFlags = 0;
}

void AuBusMeterData::BusMeter(f32 gain, const AuPipelineBuffer& buffer) noexcept {
    const u32 channels = buffer.NumChannels() < uNumChannels ? buffer.NumChannels() : uNumChannels;
    const u32 frames = buffer.uMaxFrames & ~3u;
    const f32 g = gain * kUnityCompensation;
    const bool silent = !(gain > 0.0f) || !buffer.pData;
    if (pPeak) {
        for (u32 c = 0; c < uNumChannels; ++c) {
            if (silent || c >= channels) {
                pPeak[c] = 0.0f;
                continue;
            }
            const f32* x = buffer.GetChannel(c);
            f32 lo[4] = {2147483648.0f, 2147483648.0f, 2147483648.0f, 2147483648.0f};
            f32 hi[4] = {-2147483648.0f, -2147483648.0f, -2147483648.0f, -2147483648.0f};
            for (u32 i = 0; i < frames; i += 4)
                for (u32 k = 0; k < 4; ++k) {
                    lo[k] = x[i + k] < lo[k] ? x[i + k] : lo[k];
                    hi[k] = x[i + k] > hi[k] ? x[i + k] : hi[k];
                }
            const f32 minimum = std::fmin(std::fmin(lo[0], lo[1]), std::fmin(lo[2], lo[3]));
            const f32 maximum = std::fmax(std::fmax(hi[0], hi[1]), std::fmax(hi[2], hi[3]));
            pPeak[c] = frames ? std::fmax(maximum, -minimum) * g : 0.0f;
        }
    }
    if (pRMS) {
        for (u32 c = 0; c < uNumChannels; ++c) {
            if (silent || c >= channels || !frames) {
                pRMS[c] = 0.0f;
                continue;
            }
            const f32* x = buffer.GetChannel(c);
            f32 sum[4] = {};
            for (u32 i = 0; i < frames; i += 4)
                for (u32 k = 0; k < 4; ++k)
                    sum[k] += x[i + k] * x[i + k];
            pRMS[c] = std::sqrt((sum[0] + sum[1] + sum[2] + sum[3]) / f32(frames)) * g;
        }
    }
    if (pTruePeak) {
        for (u32 c = 0; c < uNumChannels; ++c) {
            f32* history = pTruePeakHistory + c * AU_TRUE_PEAK_TAPS;
            if (silent || c >= channels) {
                pTruePeak[c] = 0.0f;
                continue;
            }
            const f32* x = buffer.GetChannel(c);
            f32 largest = 0.0f;
            // Window ending at input n: history then buffer, the newest sample last.
            for (u32 n = 0; n < frames; ++n) {
                for (u32 p = 0; p < AU_TRUE_PEAK_PHASES; ++p) {
                    f32 y = 0.0f;
                    for (u32 t = 0; t < AU_TRUE_PEAK_TAPS; ++t) {
                        const i32 at = i32(n) - i32(t);
                        const f32 sample = at >= 0 ? x[at] : history[AU_TRUE_PEAK_TAPS + at];
                        y += g_AuTruePeakTaps[p][t] * sample;
                    }
                    largest = std::fabs(y) > largest ? std::fabs(y) : largest;
                }
            }
            pTruePeak[c] = largest * g;
            if (frames >= AU_TRUE_PEAK_TAPS) {
                memcpy(history, x + frames - AU_TRUE_PEAK_TAPS, AU_TRUE_PEAK_TAPS * sizeof(f32));
            } else {
                memmove(history, history + frames, (AU_TRUE_PEAK_TAPS - frames) * sizeof(f32));
                memcpy(history + AU_TRUE_PEAK_TAPS - frames, x, frames * sizeof(f32));
            }
        }
    }
    if (pKStages) {
        fKPower = 0.0f;
        const AuChannelConfig config = buffer.channelConfig;
        if (silent || !config.IsStandard() || !frames) return;
        // Channels are in speaker-bit order, the LFE last; walk the mask to name each one.
        f32 front = 0.0f;
        f32 surround = 0.0f;
        f32 scratch[1024];
        u32 channel = 0;
        for (u32 bits = config.ChannelMask() & ~AU_SPEAKER_LOW_FREQUENCY; bits && channel < channels;
             bits &= bits - 1, ++channel) {
            const u32 speaker = bits & (~bits + 1);
            if (!(speaker & kWeightedMask)) continue;
            f32 sum = 0.0f;
            for (u32 done = 0; done < frames; done += 1024) {
                const u32 run = frames - done < 1024 ? frames - done : 1024;
                memcpy(scratch, buffer.GetChannel(channel) + done, run * sizeof(f32));
                BiquadFilter(pKStages[0], pKMemory[2 * channel], scratch, run);
                BiquadFilter(pKStages[1], pKMemory[2 * channel + 1], scratch, run);
                for (u32 i = 0; i < run; ++i)
                    sum += scratch[i] * scratch[i];
            }
            (speaker & kFrontMask ? front : surround) += sum;
        }
        fKPower = g * g * (front + AU_SURROUND_WEIGHT * surround) / f32(frames);
    }
}
