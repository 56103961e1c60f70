// The containers of the sound hierarchy: the base that the random/sequence, switch and layer
// containers share, and the random/sequence container (hierarchy type 5), whose each play picks
// one child from its playlist, the next of a fixed sequence or one drawn at random (optionally
// weighted, keeping recent picks from repeating), with the position kept per game object or once
// for all. Audio thread or g_csMain, as the node base says.
#pragma once

#include "hierarchy/AuHierarchyLoader.h"
#include "hierarchy/AuParentNode.h"

// The weight of an item that takes no part in weighting.
constexpr u32 AU_PLAYLIST_UNWEIGHTED = 50000;
// Game-parameter target of the transition time, which the container does not take as pushed.
constexpr u32 AU_TARGET_TRANSITION_TIME = 7;

class CAuContainerBase : public CAuParentNode {
public:
    explicit CAuContainerBase(u32 id) : CAuParentNode(id) {}
};

// The children a container picks from, by ID, in the designer's order.
class CAuPlaylist {
public:
    virtual ~CAuPlaylist() = default;
    virtual u32 Count() const = 0;
    virtual u32 ChildAt(u32 index) const = 0;
    // 1, or 2 without memory.
    virtual AURESULT Add(u32 childID, u32 weight) = 0;
    virtual bool Contains(u32 childID) const = 0;
    virtual u32 WeightAt(u32 index) const = 0;
    virtual u64 TotalWeight() const = 0;
};

// Where one game object (or all) stands in a playlist.
class CAuPlaylistState {
public:
    virtual ~CAuPlaylistState() = default;
    virtual bool IsSequence() const = 0;
    // Destructs and frees from the default pool.
    void Destroy();
};

class CAuSequencePlaylistState final : public CAuPlaylistState {
public:
    // Null without memory.
    static CAuSequencePlaylistState* Create();
    bool IsSequence() const override { return true; }

    u8 forward = 1;
    i16 current = -1; // before the first pick
};

class CAuRandomPlaylistState final : public CAuPlaylistState {
public:
    // A state of `items` items, all selectable at the unweighted total; null (`result` 2, or 52
    // when the history or the bitmaps cannot be had) without memory.
    static CAuRandomPlaylistState* Create(u16 items, u16 avoidRepeat, AURESULT& result);
    ~CAuRandomPlaylistState() override;
    bool IsSequence() const override { return false; }

    bool WasPlayed(u32 index) const { return (m_pBits[index >> 3] >> (index & 7)) & 1; }
    bool IsBlocked(u32 index) const { return (m_pBits[m_uBitmapBytes + (index >> 3)] >> (index & 7)) & 1; }
    void MarkPlayed(u32 index) { m_pBits[index >> 3] |= u8(1u << (index & 7)); }
    void BlockItem(u32 index) { m_pBits[m_uBitmapBytes + (index >> 3)] |= u8(1u << (index & 7)); }
    void UnblockItem(u32 index) { m_pBits[m_uBitmapBytes + (index >> 3)] &= u8(~(1u << (index & 7))); }
    void ResetPlayed();

    // Weights are u32 each; their sums are kept wider so that no bank's weights overflow them.
    u64 total = 0;
    u64 available = 0; // total less the blocked and, in shuffle, the played items
    u16 selectable = 0;
    u16 unplayed = 0;
    AuArray<u16> history; // oldest first

private:
    u8* m_pBits = nullptr; // played bitmap, then blocked bitmap
    u32 m_uBitmapBytes = 0;
};

// Packed byte A.
constexpr u8 AU_RANSEQ_TRANSITION_MODE_MASK = 0x0F;
constexpr u8 AU_RANSEQ_RANDOM_MODE_SHIFT = 4;
// Packed byte B.
constexpr u8 AU_RANSEQ_PLAYLIST_MODE_MASK = 0x07;
constexpr u8 AU_RANSEQ_WEIGHTED = 0x08;
constexpr u8 AU_RANSEQ_PRIVATE_POSITION = 0x10; // continuous plays keep their own position
constexpr u8 AU_RANSEQ_REVERSE_AT_END = 0x20;
constexpr u8 AU_RANSEQ_CONTINUOUS = 0x40;
constexpr u8 AU_RANSEQ_GLOBAL_SCOPE = 0x80;

enum AuPlaylistMode : u8 { AuPlaylistMode_Random = 0, AuPlaylistMode_Sequence = 1 };
enum AuRandomMode : u8 { AuRandomMode_Standard = 0, AuRandomMode_Shuffle = 1 };

class CAuRandomSequenceContainer : public CAuContainerBase {
public:
    // From the default pool, entered in the node table, with the playlist of `mode`; null when
    // any of it fails.
    static CAuRandomSequenceContainer* Create(u32 id, u8 mode);
    explicit CAuRandomSequenceContainer(u32 id);
    // Destroys the playlist and every state.
    ~CAuRandomSequenceContainer() override;

    AuNodeCategory Category() override { return AuNodeCategory_RandomSequence; }
    // 9, 4, 21, 5, 23, else 1.
    AURESULT CanAddChild(CAuNodeBase* child) override;
    // Sets the played flag and plays one child (step play).
    AURESULT Play(AuNodePlayParams& params) override;
    // The object's state goes, then the parameter node's values.
    void ForgetObject(CAuRegisteredObj* gameObj) override;
    // The transition time's curve is not the parameter node's to apply.
    AURESULT RecalcNotificationWithID(const AuRTPCSubscription& subscription, u32 target, u32 paramID,
                                      f32 value, const AuRTPCKey& key, bool flag,
                                      const CAuRTPCFilter* filter) override;

    // The type-5 payload after the ID: the common record, the container's fields, the children
    // and the playlist.
    AURESULT SetInitialValues(const u8* payload, u32 size);

    // A weight other than 50000 makes the container weighted; 35 for a repeated child of a
    // random playlist, 2 without memory. Success resets the states.
    AURESULT AddPlaylistItem(u32 childID, u32 weight);
    // Each does nothing for the value it has; else stores it and resets the states.
    // Another playlist mode replaces the playlist (2 when it cannot).
    AURESULT SetPlaylistMode(u8 mode);
    void SetAvoidRepeatCount(u16 count);
    void SetTransitionMode(u8 mode);
    void SetRandomMode(u8 mode);
    // One of the bits 4 to 7 of packed byte B.
    void SetPackedFlag(u8 bit, bool on);
    // Every state goes; a container that has played also loses its pending actions and stops.
    void ResetPlaylistStates();

    // The picks, on a state of this container's playlist; false when nothing is selectable.
    bool PickRandom(CAuRandomPlaylistState& state, u16& index);
    bool PickSequence(CAuSequencePlaylistState& state, u16& index);
    // The state of the object (the global one with global scope or without an object), made on
    // first use; null (and `result`) when it cannot be.
    CAuPlaylistState* GetState(CAuRegisteredObj* gameObj, AURESULT& result);

    const CAuPlaylist* Playlist() const { return m_pPlaylist; }
    u8 PlaylistMode() const { return m_packedB & AU_RANSEQ_PLAYLIST_MODE_MASK; }
    u8 RandomMode() const { return u8(m_packedA >> AU_RANSEQ_RANDOM_MODE_SHIFT) & 3; }
    u8 TransitionMode() const { return m_packedA & AU_RANSEQ_TRANSITION_MODE_MASK; }
    u8 PackedB() const { return m_packedB; }
    u16 AvoidRepeatCount() const { return m_uAvoidRepeat; }
    u16 LoopCount() const { return m_uLoopCount; }
    i16 LoopMinOffset() const { return m_loopMin; }
    i16 LoopMaxOffset() const { return m_loopMax; }
    bool HasPlayed() const { return m_bPlayed; }
    CAuPlaylistState* GlobalState() const { return m_pGlobalState; }
    u32 NumObjectStates() const { return m_objectStates.Count(); }
    CAuPlaylistState* FindObjectState(u32 gameObjID) const;

private:
    struct ObjectState {
        u32 gameObjID;
        CAuPlaylistState* pState;
    };
    AURESULT MakePlaylist();
    CAuPlaylistState* MakeState(AURESULT& result);
    bool IsSelectable(const CAuRandomPlaylistState& state, u32 index) const;
    // The avoid-repeat step of a standard pick once `index` is chosen.
    void CommitStandardPick(CAuRandomPlaylistState& state, u16 index);
    void CommitShufflePick(CAuRandomPlaylistState& state, u16 index);
    // Looks the child up and plays it, its index recorded in the path, the play's result in
    // `result`; false for a child the node table lacks.
    bool PlayChild(u16 index, AuNodePlayParams& params, AURESULT& result);
    AURESULT StepPlay(AuNodePlayParams& params);

    CAuPlaylist* m_pPlaylist = nullptr;
    AuArray<ObjectState> m_objectStates; // by game-object ID
    CAuPlaylistState* m_pGlobalState = nullptr;
    f32 m_fTransitionMs = 0.0f;
    f32 m_fTransitionMin = 0.0f;
    f32 m_fTransitionMax = 0.0f;
    u16 m_uLoopCount = 1;
    i16 m_loopMin = 0;
    i16 m_loopMax = 0;
    u16 m_uAvoidRepeat = 0;
    u8 m_packedA = 0;
    u8 m_packedB = AuPlaylistMode_Sequence | AU_RANSEQ_PRIVATE_POSITION | AU_RANSEQ_GLOBAL_SCOPE;
    bool m_bPlayed = false;
};

AuHierarchyLoaderEntry AuRandomSequenceLoaderEntry();
