#include "plugins/AuEffectCommon.h"

#include <algorithm>
#include <cstring>

void AuEffectTail::Process(AuPipelineBuffer& buffer, u32 tailLength) noexcept {
    if (buffer.eState != AuResultNoMoreData) {
        uRemaining = AU_EFFECT_NO_TAIL;
        return;
    }
    if (uRemaining == 0) return;
    if (uRemaining == AU_EFFECT_NO_TAIL) {
        uRemaining = uTailLength = tailLength;
    } else if (tailLength > uTailLength) {
        // A running tail only grows, and never into the marker value.
        const u64 grown = u64{uRemaining} + (tailLength - uTailLength);
        uRemaining = u32(std::min<u64>(grown, AU_EFFECT_NO_TAIL - 1));
        uTailLength = tailLength;
    }
    const u32 lacking =
        buffer.uMaxFrames > buffer.uValidFrames ? u32(buffer.uMaxFrames - buffer.uValidFrames) : 0;
    // Stops at 0: a wrap would read as a tail that never ends.
    uRemaining = uRemaining > lacking ? uRemaining - lacking : 0;
    if (lacking && buffer.pData) {
        for (u32 c = 0; c < buffer.NumChannels(); ++c)
            memset(buffer.GetChannel(c) + buffer.uValidFrames, 0, lacking * sizeof(f32));
    }
    buffer.uValidFrames = std::max(buffer.uValidFrames, buffer.uMaxFrames);
    if (uRemaining > 0) buffer.eState = AuResultDataReady;
}

u32 AuDelaySamples(f32 seconds, u32 sampleRate) noexcept {
    if (!(seconds > 0.0f)) return 0; // also NaN
    seconds = std::min(seconds, AU_EFFECT_MAX_DELAY_SECONDS);
    const u64 samples = u64(f64(sampleRate) * f64(seconds));
    return u32(std::min<u64>(samples, 0xFFFFFFF0u));
}
