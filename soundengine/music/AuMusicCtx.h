// The music context tree: every music object that an event plays becomes a reference-counted tree
// of contexts (the played object, its segments, their tracks, the clips' voices). The tree runs on
// the audio thread under g_csMain; reference counts are plain integers.
#pragma once

#include "core/AuTransitionMgr.h"

#include <AU/AuTypes.h>
#include <AU/MemoryMgr.h>
#include <AU/MusicEngine.h>

#include <new>

class CAuMusicSequencer;
class CAuRegisteredObj;

// What a member of a context's children list answers: the contexts themselves and the music
// playback instances. [audio thread]
class CAuMusicChild {
public:
    // Ends the child at a stop offset; only the music playback instances act on it.
    virtual void Terminate(u32 offset) noexcept { static_cast<void>(offset); }
    virtual void OnLastFrame() noexcept = 0;
    // An offset in samples on the music clock; 0xFFFFFFFF: no particular one.
    virtual void OnStopped(u32 offset) noexcept = 0;
    virtual void OnPaused() noexcept = 0;
    virtual void OnResumed() noexcept = 0;
    // A fade level of an ancestor (the owner key tells which fade): the voices' mute levels.
    virtual void SetFadeLevel(const void* owner, f32 level) noexcept = 0;
    // A node property value down the tree (54: the playback speed).
    virtual void SetParamValue(u32 key, f32 value) noexcept = 0;
    virtual void Notify(u32 notification) noexcept = 0;
    virtual void AddRef() noexcept = 0;
    virtual void Release() noexcept = 0;

    CAuMusicChild* pNextSibling = nullptr;

protected:
    ~CAuMusicChild() = default;
};

// The node a top-level context plays, as music sees it: its activity count and its speed.
class IAuMusicNode {
public:
    virtual AuUniqueID NodeID() const noexcept = 0;
    // Flags 3: the node, its parents and its busses. False when the node refuses the play.
    virtual bool IncrementActivity(u32 flags) noexcept = 0;
    virtual void DecrementActivity(u32 flags) noexcept = 0;
    // The product of the playback-speed property (54) from this node up the tree.
    virtual f32 PlaybackSpeed() noexcept = 0;

protected:
    ~IAuMusicNode() = default;
};

constexpr u32 AuMusicActivity_NodeAndBusses = 3;
constexpr u32 AuMusicParam_PlaybackSpeed = 54;
constexpr u32 AuMusicNoStopOffset = 0xFFFFFFFF;

struct AuMusicFade {
    i32 lTimeMs = 0;
    AuCurveInterpolation eCurve = AuCurveInterpolation_Linear;
    i32 lOffsetSamples = 0; // delays the fade's start by whole frames
};

struct AuMusicPlayParams {
    CAuRegisteredObj* pGameObj = nullptr; // counted by the sequencer
    u32 gameObjID = 0;
    AuPlayingID playingID = 0;
    AuMusicFade fade;
};

class CAuMusicCtx : public CAuMusicChild, public IAuTransitionTarget {
public:
    static constexpr u8 kPlaying = 1 << 0;
    static constexpr u8 kStopping = 1 << 1;
    static constexpr u8 kStopped = 1 << 2;
    static constexpr u8 kPaused = 1 << 4;

    // Joins the parent's children list, holding a reference on the parent. The count starts at 0:
    // the creator adds the first reference.
    explicit CAuMusicCtx(CAuMusicCtx* parent) noexcept;
    virtual ~CAuMusicCtx();
    CAuMusicCtx(const CAuMusicCtx&) = delete;
    CAuMusicCtx& operator=(const CAuMusicCtx&) = delete;

    void OnLastFrame() noexcept override;
    void OnStopped(u32 offset) noexcept override;
    void OnPaused() noexcept override;
    void OnResumed() noexcept override;
    void SetFadeLevel(const void* owner, f32 level) noexcept override;
    void SetParamValue(u32 key, f32 value) noexcept override;
    void Notify(u32 notification) noexcept override;
    void AddRef() noexcept override { ++m_uRefCount; }
    // The last release leaves the parent's list and releases the parent (a top-level context
    // ends its play instead), then destroys the context and frees it to the default pool.
    void Release() noexcept override;
    virtual void SetPlaying() noexcept;
    virtual void SetStopped() noexcept;

    // Fades as transition targets (second pool of the transition manager). [audio thread]
    void PlayWithFade(const AuMusicFade& fade) noexcept;
    void StopWithFade(const AuMusicFade& fade, u32 stopOffset) noexcept;
    void PauseWithFade(const AuMusicFade& fade) noexcept;
    void ResumeWithFade(const AuMusicFade& fade, bool force) noexcept;
    void TransUpdateValue(u32 targetKey, f32 value, bool done) noexcept override;

    CAuMusicCtx* Parent() const { return m_pParent; }
    u8 State() const { return m_uState; }
    bool IsPlaying() const { return m_uState & kPlaying; }
    bool IsStopping() const { return m_uState & kStopping; }
    bool IsStopped() const { return m_uState & kStopped; }
    bool IsPaused() const { return m_uState & kPaused; }
    bool IsIdle() const { return !(m_uState & (kPlaying | kStopping | kStopped)); }
    u32 RefCount() const { return m_uRefCount; }
    u32 PauseCount() const { return m_uPauseCount; }
    u32 StopOffset() const { return m_uStopOffset; }
    f32 PlayStopLevel() const { return m_fPlayStopLevel; }
    f32 PauseLevel() const { return m_fPauseLevel; }
    bool HasPlayStopFade() const { return m_pPlayStopFade != nullptr; }
    CAuMusicChild* FirstChild() const { return m_pFirstChild; }

    // Every child in turn; a child may leave the list during its own call.
    template <class Visit> void ForEachChild(Visit visit) noexcept {
        for (CAuMusicChild* child = m_pFirstChild; child;) {
            CAuMusicChild* next = child->pNextSibling;
            visit(*child);
            child = next;
        }
    }
    void AddChild(CAuMusicChild* child) noexcept;
    // A child that joins late hears the fade levels of this context and its ancestors as they
    // stand.
    void HandDownLevels(CAuMusicChild& child) const noexcept;
    // The root of the tree's sequencer; null before the play is accepted.
    CAuMusicSequencer* RootSequencer() const noexcept;
    void RemoveChild(CAuMusicChild* child) noexcept;

protected:
    // The top-level context's end of play; a context with a parent never calls it.
    virtual void OnLastRelease() noexcept {}

private:
    CAuTransition* StartFade(u32 key, f32 from, f32 to, const AuMusicFade& fade) noexcept;

    CAuMusicCtx* m_pParent;
    CAuMusicChild* m_pFirstChild = nullptr;
    CAuTransition* m_pPlayStopFade = nullptr;
    CAuTransition* m_pPauseFade = nullptr;
    u32 m_uRefCount = 0;
    f32 m_fPlayStopLevel = 0.0f;
    f32 m_fPauseLevel = 1.0f;
    u32 m_uStopOffset = AuMusicNoStopOffset;
    u32 m_uPauseCount = 0;
    u8 m_uState = 0;
};

// A context in the default pool; null without memory.
template <class T, class... Args> T* AuMusicNew(Args&&... args) {
    void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(T));
    return block ? new (block) T(static_cast<Args&&>(args)...) : nullptr;
}

// An action waiting in a chain item for its time on the music clock.
struct AuMusicScheduledEntry {
    static constexpr u32 kStinger = 0;
    static constexpr u32 kStateChange = 1;
    u64 uTime;
    u32 uKind;
    void* pCookie; // the stinger record or the pending state change
    AuMusicScheduledEntry* pNext;
};

// A stinger of a music node, as the bank gives it.
struct AuMusicStinger {
    AuUniqueID triggerID;
    AuUniqueID segmentID; // 0: plays nothing
    u32 uSyncType;
    u32 uCueFilter; // marker ID, 0: any
    u32 uDontRepeatMs;
    u32 uLookAhead; // segments: above 0, the sync point may lie in the next one
};

// Where the scheduled actions of one playing or scheduled segment wait; the chain contexts'
// items derive from it.
class CAuMusicChainItem {
public:
    AuMusicScheduledEntry* pFirstEntry = nullptr;
};

// A segment's rhythm, in samples.
struct AuMusicTimeSettings {
    f32 fTempo; // beats per minute
    u32 uBeatDuration;
    u32 uBarDuration;
    u32 uGridPeriod;
    u32 uGridOffset;
};

struct AuMusicMarker {
    u32 uPosition; // from the entry cue
    const char* pszName;
};

// The segment a chain item plays, placed on the music clock.
struct AuMusicSegmentTimes {
    u64 uEntryPosition;  // the entry cue on the music clock
    u32 uActiveDuration; // entry cue to exit cue
    u32 uPostExitDuration;
    AuMusicTimeSettings time;
    const AuMusicMarker* pMarkers; // in position order
    u32 uNumMarkers;
};

// The base of the contexts that can be the root of a tree (segment, sequence, switch). Beside its
// slots of play, it is the sequencer's one way into the playing music: the chain items, their
// nodes and their sync positions, all in samples on the music clock.
class CAuMusicTopCtx : public CAuMusicCtx {
public:
    static constexpr u32 kFlagSegmentInfo = 1u << 21;

    // A context with a parent shares the parent's sequencer.
    CAuMusicTopCtx(CAuMusicCtx* parent, IAuMusicNode* node) noexcept : CAuMusicCtx(parent), m_pNode(node) {}

    // A root asks the engine for its sequencer and play bookkeeping first; then the fade in. 2 when
    // the play is refused (the context stays idle; its creator releases it).
    AURESULT Play(const AuMusicPlayParams& params) noexcept;

    // The derived contexts' own slots.
    virtual AURESULT GetSegmentInfo(AuSegmentInfo& info) noexcept = 0;
    // True when taken. A seek to the nearest marker rewrites the value to where it landed
    // (milliseconds; a fraction of the active duration).
    virtual bool SeekTime(i32& ms, bool nearestMarker) noexcept = 0;
    virtual bool SeekPercent(f32& fraction, bool nearestMarker) noexcept = 0;
    // Plays the window [start, start + length) of the music clock.
    virtual void ProcessWindow(u64 start, u32 length) noexcept = 0;

    // The playing music. Null when no segment plays.
    virtual CAuMusicChainItem* PlayingItem() noexcept = 0;
    // The item scheduled after this one; null at the chain's end.
    virtual CAuMusicChainItem* NextItem(CAuMusicChainItem* item) noexcept = 0;
    virtual IAuMusicNode* ItemNode(CAuMusicChainItem* item) noexcept = 0;
    // The sync types that the item's tracks, segment and ancestors declare for a state group;
    // how many were written (at most `max`).
    virtual u32 StateSyncTypes(CAuMusicChainItem* item, AuUniqueID groupID, u32* types, u32 max) noexcept = 0;
    // The first position of that sync type (on a marker of that ID when `cueFilter` is not 0) at or
    // after `from` within the item; false when none.
    virtual bool NextSyncPosition(CAuMusicChainItem* item, u32 syncType, u32 cueFilter, u64 from,
                                  u64& position) noexcept = 0;
    // The segment the item plays; false for an item that plays none.
    virtual bool ItemSegment(CAuMusicChainItem* item, AuMusicSegmentTimes& segment) noexcept = 0;
    // True once after the playing segment changed.
    virtual bool TakeSegmentChanged() noexcept = 0;
    // The first stinger of the item's segment node or its ancestors for the trigger; false when none.
    virtual bool FindStinger(CAuMusicChainItem* item, AuUniqueID triggerID,
                             AuMusicStinger& stinger) noexcept = 0;
    // A context of the stinger's segment in this tree, with one reference for the caller, and the
    // segment's length from its entry cue to its end; null when it cannot be made.
    virtual CAuMusicCtx* CreateStingerContext(AuUniqueID segmentID, u32& length) noexcept = 0;
    // Plays the window of a stinger's segment; the position is counted from the stinger's place
    // on the music clock (negative before it).
    virtual void ProcessStinger(CAuMusicCtx& stinger, i64 position, u32 length) noexcept = 0;
    // Cancels a stinger's segment at a position counted the same way.
    virtual void CancelStinger(CAuMusicCtx& stinger, i64 position) noexcept = 0;

    IAuMusicNode* Node() const { return m_pNode; }
    CAuMusicSequencer* Sequencer() const { return m_pSequencer; }
    u32 PlayFlags() const { return m_uPlayFlags; }

    // The engine's list of roots; written by the engine only.
    CAuMusicTopCtx* pNextTop = nullptr;
    void SetSequencer(CAuMusicSequencer* sequencer) { m_pSequencer = sequencer; }
    void SetPlayFlags(u32 flags) { m_uPlayFlags = flags; }

    // A root that stops lets go of its stingers.
    void SetStopped() noexcept override;

protected:
    void OnLastRelease() noexcept override;

private:
    IAuMusicNode* m_pNode;
    CAuMusicSequencer* m_pSequencer = nullptr;
    u32 m_uPlayFlags = 0;
};
