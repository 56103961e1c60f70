// The exported interactive-music interface: started after AU::SoundEngine::Init, stopped before
// AU::SoundEngine::Term.
#pragma once

#include <AU/AuTypes.h>

struct AuMusicSettings {
    // Every track's look-ahead time is multiplied by it.
    f32 fLookAheadScale;
};

// Milliseconds, from the playing segment of a play that asked for segment information.
struct AuSegmentInfo {
    i32 iCurrentPosition;   // from the entry cue; negative before it
    i32 iPreEntryDuration;  // segment start to entry cue
    i32 iActiveDuration;    // entry cue to exit cue
    i32 iPostExitDuration;  // exit cue to segment end
    i32 iRemainingDuration; // until the segment's own end point, 0 once it has passed
};

namespace AU::MusicEngine {

void GetDefaultInitSettings(AuMusicSettings& settings);
// Null takes the defaults; a look-ahead scale that is negative or not finite is taken as 1.0.
// 1 (also when already running), 2 when the engine cannot be made (the sound engine must run).
AURESULT Init(AuMusicSettings* settings);
// Stops every music play and waits until the audio thread has let the last one go.
void Term();
// 2 for a playing ID that did not ask for segment information or has ended (info untouched).
// Extrapolation adds the time since the audio thread last wrote the row.
AURESULT GetPlayingSegmentInfo(AuPlayingID playingID, AuSegmentInfo& info, bool extrapolate = true);

} // namespace AU::MusicEngine
