// The music sequencer of one play: the music clock, its speed, the play's game object and playing
// ID, and the actions it schedules at musical positions. One per top-level context; it lives as
// long as that context. [audio thread]
#pragma once

#include "music/AuMidiHandler.h"
#include "music/AuMusicCtx.h"
#include "music/AuMusicTriggers.h"

struct AuPendingStateChange;

// A stinger placed on the music clock by a trigger. It blocks a repeat of its trigger until its
// don't-repeat window has passed, and lives on while its segment plays.
struct AuMusicStingerRecord {
    AuMusicStingerRecord* pNext;
    CAuMusicCtx* pContext; // a counted reference; null for segment ID 0
    AuUniqueID stingerTriggerID;
    AuUniqueID segmentID;
    u64 uTime;              // its place on the music clock, also its segment's origin
    u64 uDontRepeat;        // samples
    AuUniqueID triggeredID; // 0 once it no longer blocks a repeat
    u32 uLength;            // its segment from the entry cue to the end
    bool bRetrigger;        // placed in the current segment while it could have looked further
    bool bScheduled;        // its entry still waits in a chain item
};

class CAuMusicSequencer final : public IAuTriggerHandler {
public:
    // Holds one reference on the game object (when given) and registers as the trigger handler
    // of that object; the engine hands it the play's reference on the context once the play is
    // accepted.
    CAuMusicSequencer(CAuMusicTopCtx* context, const AuMusicPlayParams& params) noexcept;
    ~CAuMusicSequencer();
    CAuMusicSequencer(const CAuMusicSequencer&) = delete;
    CAuMusicSequencer& operator=(const CAuMusicSequencer&) = delete;

    // One audio frame of f samples. Drops the context once it has stopped, which may end the play
    // and destroy this sequencer: nothing may touch it after the call.
    void NextFrame(u32 frameSamples) noexcept;

    // 1, or 2 when no segment plays or without memory.
    AURESULT ScheduleStateChange(AuPendingStateChange* record, u32 lookAhead, u64 position) noexcept;
    // Samples from the clock to the next sync point of the group (0: no need to wait), with the
    // sync point and how many segments ahead it lies.
    u64 TimeToNextStateSync(AuUniqueID groupID, u64& position, u32& lookAhead) noexcept;
    // Runs and frees the item's entries due in [start, start + length); the chain contexts call it
    // while they play a window.
    void RunDueEntries(CAuMusicChainItem& item, u64 start, u32 length) noexcept;
    // Entries taken out of a chain item because the segments after it changed (or the item is
    // going): each stinger is cancelled and, when it may, looked for again in the next segment;
    // each state change finds its sync point again or is applied. The list is freed.
    void Reevaluate(AuMusicScheduledEntry* entries) noexcept;

    // A trigger posted on the play's game object: the stinger that the playing segment's node or
    // an ancestor has for it is placed at its next sync point.
    void Trigger(AuUniqueID triggerID) noexcept override { TriggerStinger(triggerID, false); }
    // A re-trigger looks only in the segment after the current one.
    void TriggerStinger(AuUniqueID triggerID, bool retrigger) noexcept;
    // The stingers' segments play the window [start, start + length); the records whose window
    // and segment are over go.
    void RunStingers(u64 start, u32 length) noexcept;
    // Every record is unlinked, its segment released and freed.
    void ReleaseStingers() noexcept;
    const AuMusicStingerRecord* FirstStinger() const { return m_pFirstStinger; }
    const CAuMusicMidiRouter& MidiRouter() const { return m_midiRouter; }

    void MarkSpeedStale(u8 value) noexcept {
        m_bSpeedCurrent = false;
        m_uSpeedRequest = value;
    }
    u64 Clock() const { return m_uClock; }
    f32 Speed() const { return m_fSpeed; }
    AuPlayingID PlayingID() const { return m_playingID; }
    u32 GameObjID() const { return m_gameObjID; }
    CAuRegisteredObj* GameObj() const { return m_pGameObj; }
    CAuMusicTopCtx* Context() const { return m_pContext; }
    void HoldContext() noexcept {
        m_pContext->AddRef();
        m_bHoldsContext = true;
    }

    // The music-sync notifications that the play asked for, for the window [start, start + n):
    // in each segment the window reaches, cue, entry, bar, beat, grid, exit.
    void NotifyWindow(u64 start, u32 length) noexcept;
    // How many points offset + k x period (k >= 0) lie in [from, to).
    static u64 CountPoints(i64 from, i64 to, u32 period, u32 offset) noexcept;

    // A speed from the node tree that cannot be used plays at 1.0.
    static f32 UsableSpeed(f32 speed) noexcept;
    // round(f x speed), half away from zero.
    static u32 FrameStep(u32 frameSamples, f32 speed) noexcept;

private:
    // The record of a scheduled entry's cookie while it is still listed; null once it went.
    AuMusicStingerRecord* ListedStinger(const void* cookie) const noexcept;

    CAuMusicTopCtx* m_pContext;
    bool m_bHoldsContext = false;
    u64 m_uClock = 0;
    AuPlayingID m_playingID;
    u32 m_gameObjID;
    CAuRegisteredObj* m_pGameObj;
    AuMusicFade m_fade;
    f32 m_fSpeed = 1.0f;
    bool m_bSpeedCurrent = false;
    u8 m_uSpeedRequest = 0;
    AuMusicStingerRecord* m_pFirstStinger = nullptr;
    IAuTriggerRegistry* m_pTriggers = nullptr; // where this handler is registered
    CAuMusicMidiRouter m_midiRouter;
};
