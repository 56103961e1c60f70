// The playback of one playing segment: the segment context turns the segment's tracks into timed
// sub-track starts and runs them as the music clock passes them; each started sub-track gets a
// track context that starts its clips' sources at their samples and stops them at their ends.
// [audio thread]
#pragma once

#include "music/AuMusicCtx.h"
#include "music/AuMusicNodes.h"
#include "music/AuMusicPlaybackInstance.h"

// Where a track context starts a clip's source; the chain contexts that play segments give it.
class IAuMusicClipStarter {
public:
    // Starts `clip` of the track's node at `sourceOffset` samples into its source, its first
    // sample `frameOffset` samples into the current window. The started source's music-context
    // interface (it joins the track context's children), null when the start fails.
    virtual CAuMusicChild* StartClip(IAuMusicTrackCtx& track, CAuTrackNode& node,
                                     const AuMusicTrackClip& clip, u32 sourceOffset,
                                     i32 frameOffset) noexcept = 0;

protected:
    ~IAuMusicClipStarter() = default;
};

// A timed action of a track context's clip queue.
struct AuMusicClipAction {
    static constexpr u8 kStartClip = 0;
    static constexpr u8 kStopClip = 1;
    AuMusicClipAction* pNext;
    i64 lTime; // on the track's clip timeline
    u8 uKind;
    // Start clip.
    AuMusicTrackClip clip;
    u32 uDurationLeft;
    u32 uSourceOffset;
    u32 uLookAhead;
    // Stop clip.
    CAuMusicChild* pSource;
};

class CAuTrackCtx final : public CAuMusicCtx, public IAuMusicTrackCtx {
public:
    // Holds a reference on the node.
    CAuTrackCtx(CAuMusicCtx* parent, CAuTrackNode& node, u32 subTrack, IAuMusicClipStarter& starter) noexcept;
    ~CAuTrackCtx() override;

    // The first time, the clips of the sub-track are scheduled from the start offset on.
    void SetPlaying() noexcept override;
    // Runs the clip actions due before position + n on the clip timeline (late ones included).
    void ProcessWindow(i64 position, u32 length) noexcept;

    CAuMusicCtx& TrackContext() noexcept override { return *this; }
    void DropQueuedActions(CAuMusicPlaybackInstance* instance) noexcept override;
    bool VirtualReturnPosition(CAuMusicPlaybackInstance* instance, u32 lookAhead,
                               u32& sourcePosition) noexcept override;

    void SetStartOffset(i64 offset) { m_lStartOffset = offset; }
    i64 StartOffset() const { return m_lStartOffset; }
    CAuTrackNode& Node() const { return m_node; }
    u32 SubTrack() const { return m_uSubTrack; }
    const AuMusicClipAction* FirstAction() const { return m_pFirstAction; }

    // The segment context's reference, until the context has stopped.
    bool bHeldBySegment = false;

private:
    void ScheduleClips() noexcept;
    void Enqueue(AuMusicClipAction* action) noexcept;
    void RunAction(AuMusicClipAction& action, i64 windowStart, u32 length) noexcept;

    CAuTrackNode& m_node;
    IAuMusicClipStarter& m_starter;
    AuMusicClipAction* m_pFirstAction = nullptr;
    i64 m_lStartOffset = 0;
    i64 m_lPosition = 0; // start of the latest window
    u32 m_uSubTrack;
    bool m_bStarted = false;
};

// A start of a sub-track, waiting in the segment context's queue.
struct AuMusicSegmentAction {
    AuMusicSegmentAction* pNext;
    i64 lTime; // from the segment's entry cue
    CAuTrackNode* pTrack;
    u32 uSubTrack;
    AuMusicFade fade;
    i64 lSourceOffset;
};

class CAuSegmentCtx final : public CAuMusicCtx {
public:
    // Holds a reference on the node.
    CAuSegmentCtx(CAuMusicCtx* parent, CAuSegmentNode& node, IAuMusicClipStarter& starter) noexcept;
    ~CAuSegmentCtx() override;

    // The first time, one start of the sub-track for every track that is not a switch track, at
    // the segment's start offset.
    void SetPlaying() noexcept override;
    // Lets go of the track contexts, which have stopped with it.
    void SetStopped() noexcept override;
    // Plays the window [start, start + length), counted from the entry cue.
    void ProcessWindow(i64 start, u32 length) noexcept;

    // From the entry cue: where the segment starts playing.
    void SetStartOffset(i64 offset) { m_lStartOffset = offset; }
    i64 StartOffset() const { return m_lStartOffset; }
    i64 PreEntryDuration() const;
    CAuSegmentNode& Node() const { return m_node; }
    const AuMusicSegmentAction* FirstAction() const { return m_pFirstAction; }
    // The idle or playing track context of that track and sub-track; null when none.
    CAuTrackCtx* FindTrack(const CAuTrackNode& track, u32 subTrack) const noexcept;

private:
    void Enqueue(AuMusicSegmentAction* action) noexcept;
    void StartSubTrack(const AuMusicSegmentAction& action) noexcept;
    // A context that has stopped is let go of.
    void ReleaseStoppedTracks() noexcept;

    CAuSegmentNode& m_node;
    IAuMusicClipStarter& m_starter;
    AuMusicSegmentAction* m_pFirstAction = nullptr;
    i64 m_lStartOffset = 0;
    bool m_bScheduled = false;
};
