// The packer: standard Vorbis packets (from the encoder or an Ogg file) into codec-4 media, the
// engine's own RIFF layout with a seek table, the compact set-up and size-prefixed packets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorbispack {

using Bytes = std::vector<std::uint8_t>;

struct EncodedPacket {
    Bytes bytes;
    std::int64_t granule;
};

// The three header packets and the audio packets of one stream.
struct EncodedStream {
    Bytes identification;
    Bytes comments;
    Bytes setup;
    std::vector<EncodedPacket> audio;
};

// Channels of equal length, samples in [-1, 1].
bool Encode(const std::vector<std::vector<float>>& channels, long rate, float quality, EncodedStream& out,
            std::string& error);
bool ReadOgg(const Bytes& ogg, EncodedStream& out, std::string& error);
// The same packets in Ogg pages, the reference for the tests.
Bytes WriteOgg(const EncodedStream& stream);

struct PackOptions {
    bool loop = false;
    std::uint32_t loopStart = 0;      // samples
    std::uint32_t loopEnd = 0;        // samples, inclusive
    std::uint32_t stepSamples = 4096; // seek-table granularity
};

struct PackedInfo {
    std::uint32_t totalSamples = 0;
    std::uint16_t endTrim = 0;
    std::uint16_t maxPacket = 0;
    std::uint32_t setupId = 0;
    std::uint32_t setupMemory = 0;
    std::uint32_t packets = 0;
};

// False with a reason for what the media cannot carry: channels outside 1..8, block sizes
// outside 256..4096, more than 2 modes, a codebook not in the engine's library, lookup type 2,
// residue type 0, a beginning trim, sizes beyond their fields, loop points outside the media.
bool Pack(const EncodedStream& stream, const PackOptions& options, Bytes& media, std::string& error,
          PackedInfo* info = nullptr);

} // namespace vorbispack
