// The voice's own gain at its edges: a voice that starts or resumes rises from silence over a few
// milliseconds, and one paused or stopped without a fade time falls to silence over one buffer,
// so that neither steps between silence and the middle of a waveform (a click). Fades with a time
// are the instance's; this only rounds off the edges that have none.
#pragma once

#include "voices/AuPipelineBuffer.h"

// How long a start or a resume takes to rise: a few milliseconds round off the step without
// being heard as a fade in, and keep the rise's own step per sample below that of a 1 kHz sine.
constexpr u32 AU_VOICE_EDGE_RISE_MS = 2;

class CAuVoiceEdge {
public:
    // [audio thread] Every operation below.
    // Silent from here on, until a rise.
    void Silence() noexcept {
        m_fGain = m_fTarget = 0.0f;
        m_uHold = 0;
    }
    // Towards unity from where the gain stands, by 1 / `frames` a frame.
    void Rise(u32 frames) noexcept;
    // Towards silence from where the gain stands, reaching it after `frames` frames.
    void Fall(u32 frames) noexcept;
    // The next `frames` frames keep the gain where it stands (the silence a voice starts inside
    // its first buffer with).
    void Hold(u32 frames) noexcept { m_uHold = frames; }
    // Multiplies every channel of the buffer's valid frames, the gain moved before each frame.
    void Apply(AuPipelineBuffer& buffer) noexcept;

    f32 Gain() const { return m_fGain; }
    f32 Target() const { return m_fTarget; }

private:
    f32 m_fGain = 1.0f;
    f32 m_fTarget = 1.0f;
    f32 m_fStep = 0.0f;
    u32 m_uHold = 0;
};
