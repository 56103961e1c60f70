#pragma once

#include <AU/AuTypes.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vorbistest {

// Plays the input as codec-4 media through the in-memory Vorbis source (once, looping twice with
// a seek, and for ever), which parses its set-up and decodes its packets, touching every sample
// delivered. The results of each start and of each buffer that ended a pass.
std::vector<AURESULT> PlayVorbisEveryWay(const uint8_t* data, size_t size);

} // namespace vorbistest
