// The MIDI steps of the music: the engine's handler, advanced once per audio frame whether or not
// music plays, and the router of each play, advanced by its sequencer over the same samples as
// the music clock. Neither routes to a context yet: the MIDI clips register theirs with them.
#pragma once

#include <AU/AuTypes.h>

class CAuMidiHandler {
public:
    // [audio thread] One frame of MIDI time.
    void NextFrame() noexcept { ++m_uFrames; }
    u64 FramesAdvanced() const { return m_uFrames; }

private:
    u64 m_uFrames = 0;
};

class CAuMusicMidiRouter {
public:
    // [audio thread] One frame: `samples` of the music clock at `speed`, by which the events'
    // offsets in the frame are divided.
    void NextFrame(u32 samples, f32 speed) noexcept {
        ++m_uFrames;
        m_uSamples += samples;
        m_fSpeed = speed;
    }
    u64 FramesAdvanced() const { return m_uFrames; }
    u64 SamplesAdvanced() const { return m_uSamples; }
    f32 Speed() const { return m_fSpeed; }

private:
    u64 m_uFrames = 0;
    u64 m_uSamples = 0;
    f32 m_fSpeed = 1.0f;
};
