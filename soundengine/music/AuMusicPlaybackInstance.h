// The voice of one clip of a music track: a playback instance that is also a child of its track
// context, so the tree's stops, pauses, fades and speed reach it. [audio thread]
#pragma once

#include "music/AuMusicCtx.h"
#include "voices/AuPlaybackInstance.h"

class CAuMusicPlaybackInstance;

// One clip of a track, in samples.
struct AuMusicTrackClip {
    u32 uSubTrack;
    AuUniqueID sourceID;
    i32 lStart;
    i32 lDuration;
    i32 lSourceDuration;
    i32 lSourceOffset;
};

// What the instance asks of its track context; the track contexts implement it.
class IAuMusicTrackCtx {
public:
    // The context whose children list the instance joins.
    virtual CAuMusicCtx& TrackContext() noexcept = 0;
    // Drops the track's queued stop-clip actions and active automation entries of this instance.
    virtual void DropQueuedActions(CAuMusicPlaybackInstance* instance) noexcept = 0;
    // Where the clip's source stands `lookAhead` samples past the segment's current position;
    // false when the track is stopping or stopped, or the clip would be over.
    virtual bool VirtualReturnPosition(CAuMusicPlaybackInstance* instance, u32 lookAhead,
                                       u32& sourcePosition) noexcept = 0;

protected:
    ~IAuMusicTrackCtx() = default;
};

class CAuMusicPlaybackInstance : public CAuPlaybackInstance, public CAuMusicChild {
public:
    static constexpr u8 kTerminated = 1 << 0;
    static constexpr u8 kFadeOutAutomation = 1 << 1;
    static constexpr u8 kJoinedTrack = 1 << 2; // holds a reference on its track context
    static constexpr i32 kNoPendingStop = -1;

    // lookAhead: the source's streaming look-ahead in samples (0 for sources in memory).
    CAuMusicPlaybackInstance(const AuPlaybackInstanceParams& params, IAuMusicTrackCtx& track,
                             const AuMusicTrackClip& clip, u32 lookAhead) noexcept;

    // A flagged stop while a stop offset is pending leaves the voice to end at that offset.
    void OnStop(u32 reason, u32 flag) noexcept override;
    // Joins the track context's children and keeps the context alive until Term: a voice that
    // plays its tail outlives its segment's stop.
    AURESULT Init(IAuInstanceLimiter* nodeLimiter, IAuInstanceLimiter* busLimiter) noexcept override;
    void Term(u32 reason) noexcept override;
    // Music seeks through its contexts, never its voices.
    void SeekTime(u32, bool) noexcept override {}
    void SeekPercent(f32, bool) noexcept override {}
    // 1 restarts from the position the track gives, 2 stops.
    u32 GetVirtualReturnMode() noexcept override;
    // The base refresh, then the music speed as pitch: 1200 x log2(speed) cents.
    void RefreshParams() noexcept override;
    // The pending stop offset once; -1 while a fade-out automation plays the clip out.
    i32 TakeFrameBudget() noexcept override;

    void Terminate(u32 offset) noexcept override;
    void OnLastFrame() noexcept override {}
    // An offset on the music clock is divided by the speed: the voice counts its own samples.
    void OnStopped(u32 offset) noexcept override;
    void OnPaused() noexcept override { PauseNow(true); }
    void OnResumed() noexcept override { Resume(AuInstanceTransition{}, true); }
    void SetFadeLevel(const void* owner, f32 level) noexcept override { SetMuteLevel(owner, level, false); }
    void SetParamValue(u32 key, f32 value) noexcept override;
    // The tree counts no references on its voices: the lower engine owns them.
    void Notify(u32) noexcept override {}
    void AddRef() noexcept override {}
    void Release() noexcept override {}

    // Where an offset (samples from the frame start) is moved: back to the frame start when it
    // lies in the first half of the speed-scaled frame and the look-ahead absorbs it, else to the
    // next frame start.
    static u32 AlignStart(u32 offset, u32 frameSamples, f32 speed, u32 lookAhead) noexcept;

    void SetMusicFlags(u8 flags) { m_uMusicFlags = flags; }
    u8 MusicFlags() const { return m_uMusicFlags; }
    f32 MusicSpeed() const { return m_fSpeed; }
    i32 PendingStopOffset() const { return m_lPendingStop; }
    u32 LookAhead() const { return m_uLookAhead; }
    u32 SourcePosition() const { return m_uSourcePosition; }
    const AuMusicTrackClip& Clip() const { return m_clip; }

private:
    IAuMusicTrackCtx& m_track;
    AuMusicTrackClip m_clip;
    u32 m_uLookAhead;
    u32 m_uSourcePosition = 0;
    f32 m_fSpeed = 1.0f;
    i32 m_lPendingStop = kNoPendingStop;
    u8 m_uMusicFlags = 0;
};
