// Packed test media and the two decoders side by side: the engine's over the packed media, and
// the reference library over the encoder's own packets.
#pragma once

#include "plugins/AuVorbisDecoder.h"

#include <bankgen/Media.h>
#include <vorbispack/Pack.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vorbistest {

struct Encoded {
    vorbispack::EncodedStream stream;
    vorbispack::Bytes media;
    vorbispack::PackedInfo info;
    std::uint32_t channels = 0;
};

// A tone with a sweep and some noise, different on each channel so that coupling matters.
std::vector<std::vector<float>> TestSignal(std::uint32_t channels, long rate, double seconds);
Encoded Make(std::uint32_t channels, long rate, float quality, double seconds = 2.0,
             const vorbispack::PackOptions& options = {});

// The fields of the packed media that the decoder needs.
struct MediaView {
    std::uint32_t channels = 0;
    std::uint32_t rate = 0;
    std::uint32_t total = 0;
    std::uint32_t loopStart = 0, loopEnd = 0;
    std::uint16_t loopSkip = 0, loopTrim = 0;
    std::uint32_t seekSize = 0, firstPacket = 0;
    std::uint16_t maxPacket = 0, endTrim = 0;
    AuVorbisSetupParams setup{};
    const std::uint8_t* data = nullptr; // "data" payload
    std::uint32_t dataSize = 0;
    std::uint32_t dataOffset = 0;
    std::uint32_t fmtOffset = 0;
};
MediaView View(const vorbispack::Bytes& media);

// Float x 32768, truncated and clipped, as the engine's output; interleaved.
std::vector<std::int16_t> ReferenceDecode(const vorbispack::EncodedStream& stream);

// The engine's decoder over the whole media in one go (the set-up from the cache, released
// again), `wanted` frames per call.
std::vector<std::int16_t> EngineDecode(const vorbispack::Bytes& media, std::uint32_t wanted = 1024,
                                       std::uint32_t skip = 0, std::uint32_t fromOffset = 0);

} // namespace vorbistest
