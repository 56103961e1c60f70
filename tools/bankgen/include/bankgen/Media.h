// Test signals and media in the extensible WAVE layout the engine's PCM and IMA ADPCM sources
// read, with their optional marker, loop and envelope chunks and deliberately malformed variants.
#pragma once

#include <bankgen/Bytes.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bankgen {

// Samples are floats in [-1, 1], one channel; frames = round(seconds x rate).
std::vector<float> Sine(double frequencyHz, double seconds, std::uint32_t rate, double amplitude);
// Zeros with a single full-scale sample of `amplitude` at `at`.
std::vector<float> Impulse(std::uint32_t frames, std::uint32_t at, double amplitude);
// Uniform white noise from a 32-bit linear congruential generator: the same seed gives the same
// samples on every platform and compiler.
std::vector<float> Noise(std::uint32_t seed, std::uint32_t frames, double amplitude);

// A constant level.
std::vector<float> Dc(std::uint32_t frames, double level);
// A sine sweeping linearly from `fromHz` to `toHz` over its length.
std::vector<float> Chirp(double fromHz, double toHz, double seconds, std::uint32_t rate, double amplitude);

// Interleaves equal-length channels and converts to 16-bit with rounding and clipping.
std::vector<std::int16_t> ToPcm16(const std::vector<std::vector<float>>& channels);

struct WaveCue {
    std::uint32_t id;
    std::uint32_t position; // samples
    std::string label;      // empty: no "labl"
};

struct WaveEnvelopePoint {
    std::uint32_t position; // samples
    std::uint16_t attenuation;
};

// Chunks written between "fmt " and "data", in this order: "cue ", "LIST"/"adtl" with the
// labels, "smpl" with one loop, "aud ".
struct WaveOptions {
    std::vector<WaveCue> cues;
    bool loop = false;
    std::uint32_t loopStart = 0;
    std::uint32_t loopEnd = 0; // inclusive
    std::vector<WaveEnvelopePoint> envelope;
    bool hasEnvelope = false;
    float envelopeOffset = 0.0f;
};

// "RIFF"/"WAVE" with the 40-byte extensible "fmt " (tag 0xFFFE, PCM sub-format) and "data";
// nothing after the samples, since the PCM source requires size == data offset + data size.
Bytes MakePcmWave(const std::vector<std::int16_t>& interleaved, std::uint16_t channels, std::uint32_t rate,
                  const WaveOptions& options = {});

// The engine's IMA ADPCM: per block and channel 36 bytes {i16 first sample, u8 step index, u8 0,
// 32 bytes of nibbles, low first, of which the last byte gives only its low nibble}: 64 samples.
constexpr std::uint32_t kAdpcmBlockBytes = 36;
constexpr std::uint32_t kAdpcmBlockFrames = 64;

// Blocks for interleaved samples, the last block padded with its last frame. Each nibble is the
// one whose reconstruction, by the decoder's own arithmetic, is nearest to the input; the
// reconstructed samples (what the decoder gives back) go to `decoded` when it is not null.
Bytes EncodeAdpcm(const std::vector<std::int16_t>& interleaved, std::uint16_t channels,
                  std::vector<std::int16_t>* decoded = nullptr);
// The plain decoder of one channel's 36 bytes into 64 samples (the reference of the engine's).
void DecodeAdpcmChannel(const std::uint8_t* record, std::int16_t* out, std::uint32_t stride);
// Tag 2 with the same 40-byte "fmt " (channel mask included) and the encoded blocks.
Bytes MakeAdpcmWave(const std::vector<std::int16_t>& interleaved, std::uint16_t channels, std::uint32_t rate,
                    const WaveOptions& options = {});

// Deliberately malformed media for the parser and the sources, each built from a short stereo
// PCM (or, where it concerns ADPCM, ADPCM) file.
enum class Malformed {
    Truncated11,
    Truncated12,
    Truncated19,
    BadMagic,
    BadForm,
    CueBeforeFmt,
    MissingFmt,
    OversizeChunk,
    OddChunkNonZeroPad,
    HugeCueCount,
    HugeAudCount,
    LablSizeBelow4,
    SmplLoopOutside,
    StepIndex200,
    BlockAlignZero,
    RateZero,
    ChannelsZero,
    Pcm32Bit,
    PartialAdpcmBlock,
    LoopEndBelowStart,
    LoopPastEnd,
    TrailingBytes,
    Count
};
const char* MalformedName(Malformed kind);
Bytes MakeMalformed(Malformed kind);

// Speaker mask of the format: mono is the centre speaker, stereo front left and right.
std::uint32_t ChannelMask(std::uint16_t channels);

} // namespace bankgen
