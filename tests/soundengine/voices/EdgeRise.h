// What sample-exact expectations of a voice take into account: its own rise from silence when it
// starts or resumes.
#pragma once

#include "voices/AuVoiceEdge.h"

namespace voicetest {

// The frames of the rise at 48 kHz, and the voice's gain at its frame n from the start.
constexpr u32 kEdgeRise = 48000 * AU_VOICE_EDGE_RISE_MS / 1000;
inline f64 EdgeRise(u64 n) {
    return n + 1 < kEdgeRise ? f64(n + 1) / kEdgeRise : 1.0;
}

} // namespace voicetest
