// The music sequencer of one play: the music clock, its speed, the play's game object and playing
// ID, and the actions it schedules at musical positions. One per top-level context; it lives as
// long as that context. [audio thread]
#pragma once

#include "music/AuMusicCtx.h"

struct AuPendingStateChange;

class CAuMusicSequencer {
public:
    // Holds one reference on the game object (when given); the engine hands it the play's
    // reference on the context once the play is accepted.
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
    // going): each state change finds its sync point again or is applied. The list is freed.
    void Reevaluate(AuMusicScheduledEntry* entries) noexcept;

    void MarkSpeedStale(u8 value) noexcept {
        m_bSpeedCurrent = false;
        m_uSpeedRequest = value;
    }
    u64 Clock() const { return m_uClock; }
    f32 Speed() const { return m_fSpeed; }
    AuPlayingID PlayingID() const { return m_playingID; }
    u32 GameObjID() const { return m_gameObjID; }
    CAuMusicTopCtx* Context() const { return m_pContext; }
    void HoldContext() noexcept {
        m_pContext->AddRef();
        m_bHoldsContext = true;
    }

    // A speed from the node tree that cannot be used plays at 1.0.
    static f32 UsableSpeed(f32 speed) noexcept;
    // round(f x speed), half away from zero.
    static u32 FrameStep(u32 frameSamples, f32 speed) noexcept;

private:
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
};
