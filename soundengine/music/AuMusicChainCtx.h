// The root that plays one music segment by itself: it places the segment's entry cue on the music
// clock, plays the segment's context window by window, runs the scheduled actions of its one chain
// item, stops at the segment's end and answers the sequencer's questions about the playing music
// from the segment node. [audio thread]
#pragma once

#include "memory/AuArray.h"
#include "music/AuMusicClipStarter.h"
#include "music/AuMusicNodes.h"
#include "music/AuMusicSegmentCtx.h"

class CAuSegmentChainCtx final : public CAuMusicTopCtx {
public:
    // Holds a reference on the node. The count starts at 0, as for every context.
    CAuSegmentChainCtx(CAuMusicCtx* parent, CAuSegmentNode& node) noexcept;
    ~CAuSegmentChainCtx() override;

    // Plays from `position` samples from the entry cue (the pre-entry from minus its length),
    // placed at the sequencer's next window. 2 at or past the segment's end, or without memory.
    AURESULT Start(i64 position) noexcept;

    AURESULT GetSegmentInfo(AuSegmentInfo& info) noexcept override;
    // Refused unless idle or playing; a seek that cannot play stops the context.
    bool SeekTime(i32& ms, bool nearestMarker) noexcept override;
    bool SeekPercent(f32& fraction, bool nearestMarker) noexcept override;
    void ProcessWindow(u64 start, u32 length) noexcept override;

    CAuMusicChainItem* PlayingItem() noexcept override;
    CAuMusicChainItem* NextItem(CAuMusicChainItem*) noexcept override { return nullptr; }
    IAuMusicNode* ItemNode(CAuMusicChainItem*) noexcept override { return &m_node; }
    u32 StateSyncTypes(CAuMusicChainItem* item, AuUniqueID groupID, u32* types, u32 max) noexcept override;
    bool NextSyncPosition(CAuMusicChainItem* item, u32 syncType, u32 cueFilter, u64 from,
                          u64& position) noexcept override;
    bool ItemSegment(CAuMusicChainItem* item, AuMusicSegmentTimes& segment) noexcept override;
    bool TakeSegmentChanged() noexcept override;
    // The segment node's stingers, then each music ancestor's.
    bool FindStinger(CAuMusicChainItem* item, AuUniqueID triggerID,
                     AuMusicStinger& stinger) noexcept override;
    CAuMusicCtx* CreateStingerContext(AuUniqueID segmentID, u32& length) noexcept override;
    void ProcessStinger(CAuMusicCtx& stinger, i64 position, u32 length) noexcept override;
    void CancelStinger(CAuMusicCtx& stinger, i64 position) noexcept override;

    // Lets go of the segment context; the item's held state changes find their place again.
    void SetStopped() noexcept override;

    CAuSegmentCtx* Segment() const { return m_pSegment; }
    // The entry cue on the music clock (negative after a seek past the clock).
    i64 EntryClock() const { return m_lEntryClock; }

private:
    // Where the next window starts on the music clock.
    u64 NextWindowClock() const;
    // Plays again from `position`, which a snap moves onto the nearest marker.
    bool Seek(i64& position, bool nearestMarker) noexcept;
    void DropSegment() noexcept;

    CAuSegmentNode& m_node;
    CAuMusicVoiceStarter m_starter;
    CAuMusicChainItem m_item;
    CAuSegmentCtx* m_pSegment = nullptr; // one reference
    i64 m_lEntryClock = 0;
    AuArray<AuMusicMarker> m_markers; // from the entry cue
    bool m_bSegmentChanged = false;
};
