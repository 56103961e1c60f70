// The voices of a playing segment's clips: each clip's source starts as a music playback instance
// through the instance manager, as a sound's source does, with the play's game object and playing
// ID, its source offset, its place in the frame and the music's speed. [audio thread]
#pragma once

#include "music/AuMusicSegmentCtx.h"

class CAuMusicVoiceStarter final : public IAuMusicClipStarter {
public:
    // Null when the track has no such source, the source is a MIDI one (MIDI clips do not play
    // here), the play is not accepted yet, or the instance manager refuses the start.
    CAuMusicChild* StartClip(IAuMusicTrackCtx& track, CAuTrackNode& node, const AuMusicTrackClip& clip,
                             u32 sourceOffset, i32 frameOffset) noexcept override;
};
