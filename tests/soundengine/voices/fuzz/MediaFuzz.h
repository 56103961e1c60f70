// The media fuzz target's work, shared with the test that replays it on generated media.
#pragma once

#include <AU/AuTypes.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace voicetest {

// Parses the input as a media header and plays it through the PCM and the ADPCM sources, in memory
// and streamed (once, looping twice and for ever, with a seek), touching every sample delivered. The results
// of the parse and of each source's start.
std::vector<AURESULT> ReadMediaEveryWay(const uint8_t* data, size_t size);

} // namespace voicetest
