// The music engine: the singleton that AU::MusicEngine::Init makes, its three hooks into the core
// (the frame callback, the state-change handler, the bank extension reader), the list of top-level
// music contexts, the state changes held back until a musical sync point, and the entry points
// that the music nodes' actions call. Everything here but Init, Term and GetPlayingSegmentInfo
// runs under g_csMain.
#pragma once

#include "memory/AuPoolList.h"
#include "music/AuMidiHandler.h"
#include "music/AuMusicCtx.h"
#include "music/AuSegmentInfoRepository.h"

#include <AU/MusicEngine.h>
#include <AU/SoundEngine.h>

#include <atomic>

struct CAuLoadedBank;

constexpr u32 AuPendingState_Cancelled = 1u << 0;
constexpr u32 AuPendingState_Scheduled = 1u << 1;

// A state change held for a sync point. New records go to the head, so later ones are newer.
struct AuPendingStateChange {
    AuUniqueID groupID;
    AuUniqueID stateID;
    u32 uFlags;
};

class CAuMusicEngine {
public:
    AuMusicSettings settings{1.0f};
    HANDLE hTermEvent = nullptr; // auto reset: signalled at each release of a top-level context
    CAuMusicTopCtx* pFirstTop = nullptr;
    CAuMusicTopCtx* pLastTop = nullptr;
    bool bSpeedRefresh = false;
    u8 uSpeedRefresh = 0;
    AuPoolList<AuPendingStateChange> pendingStates;
    CAuSegmentInfoRepository segmentInfo;
    CAuMidiHandler* pMidiHandler = nullptr;
};

// Written on the game's thread by Init and Term (Term under g_csMain) and by the callbacks' last
// call; read by the hooks under g_csMain and by GetPlayingSegmentInfo on the game's thread.
// Release and acquire: whoever sees the pointer sees the engine it points to fully made.
extern std::atomic<CAuMusicEngine*> g_pMusicEngine;

// The existing singleton, or a new one; null when it cannot be made (nothing is left then).
CAuMusicEngine* MusicEngineCreate(const AuMusicSettings* settings);
// Stops every play, waits for the audio thread to release every top-level context (letting go
// itself of those that the audio thread does not release), then frees the singleton. The game's
// thread, not holding g_csMain.
void MusicEngineDestroy();

// [audio thread] The global callback: every frame with false; with true once at the sound engine's
// Term, after its audio thread has stopped.
void MusicFrameCallback(bool lastCall) noexcept;
// [audio thread] True when the change is held for a sync point.
bool MusicStateChangeHandler(AuUniqueID groupID, AuUniqueID stateID) noexcept;
// The bank extension reader: a record of types 10 to 13 (its 5-byte header, then the payload)
// becomes its music node in the bank's object list; 3 for any other type or once the engine is
// gone. The bank ID is not read.
AURESULT MusicBankObjectLoader(const u8* record, CAuLoadedBank* bank, u32 bankID);
// [audio thread] A property that changes the playback speed changed somewhere in the tree.
void MusicEngineRequestSpeedRefresh(u8 value) noexcept;

// [audio thread] A root starts: its sequencer, the node's activity, the list, the playing ID's
// instance. 2 when any of it cannot be had (nothing is kept then).
AURESULT MusicEnginePlay(CAuMusicTopCtx* context, const AuMusicPlayParams& params) noexcept;
// [audio thread] The last release of a root: the play ends and Term hears of it.
void MusicEngineReleaseRoot(CAuMusicTopCtx* context) noexcept;

// [audio thread] The music nodes' actions on the roots playing a node: the game object and the
// playing ID must match where given (0 matches all).
void MusicEngineStopContexts(AuUniqueID nodeID, u32 gameObjID, const AuMusicFade& fade,
                             AuPlayingID playingID) noexcept;
void MusicEnginePauseContexts(AuUniqueID nodeID, u32 gameObjID, const AuMusicFade& fade,
                              AuPlayingID playingID) noexcept;
void MusicEngineResumeContexts(AuUniqueID nodeID, u32 gameObjID, const AuMusicFade& fade,
                               AuPlayingID playingID) noexcept;
// A root that takes the seek raises music-play-started again. With `nearestMarker` each root seeks
// from the value as the one before left it, and the value ends where the last one landed.
void MusicEngineSeekContextsByTime(AuUniqueID nodeID, u32 gameObjID, AuPlayingID playingID, i32& ms,
                                   bool nearestMarker) noexcept;
void MusicEngineSeekContextsByPercent(AuUniqueID nodeID, u32 gameObjID, AuPlayingID playingID, f32& fraction,
                                      bool nearestMarker) noexcept;

// [audio thread] The earliest sync point of the group over the playing roots, as samples beyond
// the current frame (0 or less: apply now), with its root, position and look-ahead.
struct AuStateSync {
    CAuMusicTopCtx* pContext = nullptr;
    u64 uPosition = 0;
    u32 uLookAhead = 0;
};
i64 MusicEngineFindStateSync(AuUniqueID groupID, AuStateSync& found) noexcept;
// [audio thread] A held change's sync point falls in the frame being played.
void MusicEngineOnStateSyncReached(AuPendingStateChange* record) noexcept;
// [audio thread] A held change lost its place (the segments after its own changed).
void MusicEngineOnStateSyncRecheck(AuPendingStateChange* record) noexcept;
void MusicEngineApplyStateChange(AuPendingStateChange* record) noexcept;
void MusicEnginePurgePendingStates() noexcept;
