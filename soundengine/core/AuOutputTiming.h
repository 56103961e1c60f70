// The engine's frame constants: output rate, samples per frame and the two wait times derived
// from them. Set on the game's thread by the engine's start before the audio thread exists (the
// thread's start orders the writes before its reads), then only read.
#pragma once

#include <AU/AuTypes.h>

constexpr u32 AU_DEFAULT_SAMPLE_RATE = 48000;
constexpr u32 AU_LOW_SAMPLE_RATE = 24000;
constexpr u16 AU_DEFAULT_SAMPLES_PER_FRAME = 1024;

extern u16 g_uNumSamplesPerFrame;

struct AuOutputTiming {
    u32 uSampleRate = AU_DEFAULT_SAMPLE_RATE;
    // trunc(frames / (0.001 x rate)): how long one buffer lasts.
    u32 uBufferMs = 21;
    // trunc(frames x 1000 / rate x 0.25): the sinks' wait between wake-ups.
    u32 uBufferQuarterMs = 5;
    // rate x 128 / 48000: the filters' sub-block, 128 samples at 48000 Hz.
    u32 uRateFactor = 128;
};

extern AuOutputTiming g_OutputTiming;

// Each stores its value and derives both durations again.
void SetOutputSampleRate(u32 sampleRate);
void SetOutputTiming(u16 samplesPerFrame);
