// Test signals and PCM media in the extensible WAVE layout the engine's PCM source reads.
#pragma once

#include <bankgen/Bytes.h>

#include <cstdint>
#include <vector>

namespace bankgen {

// Samples are floats in [-1, 1], one channel; frames = round(seconds x rate).
std::vector<float> Sine(double frequencyHz, double seconds, std::uint32_t rate, double amplitude);
// Zeros with a single full-scale sample of `amplitude` at `at`.
std::vector<float> Impulse(std::uint32_t frames, std::uint32_t at, double amplitude);
// Uniform white noise from a 32-bit linear congruential generator: the same seed gives the same
// samples on every platform and compiler.
std::vector<float> Noise(std::uint32_t seed, std::uint32_t frames, double amplitude);

// Interleaves equal-length channels and converts to 16-bit with rounding and clipping.
std::vector<std::int16_t> ToPcm16(const std::vector<std::vector<float>>& channels);

// "RIFF"/"WAVE" with the 40-byte extensible "fmt " (tag 0xFFFE, PCM sub-format) and "data";
// nothing after the samples, since the PCM source requires size == data offset + data size.
Bytes MakePcmWave(const std::vector<std::int16_t>& interleaved, std::uint16_t channels, std::uint32_t rate);

// Speaker mask of the format: mono is the centre speaker, stereo front left and right.
std::uint32_t ChannelMask(std::uint16_t channels);

} // namespace bankgen
