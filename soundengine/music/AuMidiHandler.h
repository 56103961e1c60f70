// The engine's MIDI handler: advanced once per audio frame whether or not music plays. It routes
// to no context yet; the MIDI clips register theirs with it.
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
