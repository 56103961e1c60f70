#include "core/AuOutputTiming.h"

u16 g_uNumSamplesPerFrame = AU_DEFAULT_SAMPLES_PER_FRAME;
AuOutputTiming g_OutputTiming;

namespace {

void DeriveDurations() {
    const f64 frames = g_uNumSamplesPerFrame;
    const f64 rate = g_OutputTiming.uSampleRate;
    g_OutputTiming.uBufferMs = static_cast<u32>(frames / (0.001 * rate));
    g_OutputTiming.uBufferQuarterMs = static_cast<u32>(frames * 1000.0 / rate * 0.25);
}

} // namespace

void SetOutputSampleRate(u32 sampleRate) {
    g_OutputTiming.uSampleRate = sampleRate;
    g_OutputTiming.uRateFactor = sampleRate * 128 / AU_DEFAULT_SAMPLE_RATE;
    DeriveDurations();
}

void SetOutputTiming(u16 samplesPerFrame) {
    g_uNumSamplesPerFrame = samplesPerFrame;
    DeriveDurations();
}
