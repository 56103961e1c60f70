// The music objects of the hierarchy, as banks describe them (hierarchy types 10 to 13): the
// music node base (time settings, stingers, two override flags), the segment (duration and
// markers), the transition rules that switch and playlist containers share, the switch container
// (its groups and decision-tree bytes), the playlist container (its item tree) and the track (its
// sources, clips, automation and switch-track settings). Read on the bank thread under g_csMain;
// read by the audio thread under g_csMain.
#pragma once

#include "hierarchy/AuHierarchyLoader.h"
#include "hierarchy/AuParentNode.h"
#include "hierarchy/AuSound.h"
#include "music/AuMusicCtx.h"
#include "music/AuMusicPlaybackInstance.h"
#include "parameters/AuParamCurve.h"

constexpr u8 AU_PROP_MUSIC_SWITCH_BYTE = 17;
constexpr u8 AU_PROP_MIDI_TEMPO_OVERRIDE = 55;
constexpr u8 AU_PROP_MIDI_TARGET = 56;
constexpr u32 AU_MUSIC_ANY_ID = 0xFFFFFFFF; // first entry of a rule's ID list: any node
constexpr u32 AU_MUSIC_DEFAULT_WEIGHT = 50000;
constexpr u32 AU_MUSIC_MAX_CHILDREN = 65535;
constexpr u32 AU_MUSIC_SOURCE_MIDI = 16; // source type word (plug-in ID low word)
constexpr u8 AU_MUSIC_TRACK_SWITCH = 3;

// Where a music transition, a stinger or a held state change may happen.
enum AuMusicSyncType : u32 {
    AuMusicSync_Immediate = 0,
    AuMusicSync_NextGrid = 1,
    AuMusicSync_NextBar = 2,
    AuMusicSync_NextBeat = 3,
    AuMusicSync_NextMarker = 4,
    AuMusicSync_NextUserMarker = 5,
    AuMusicSync_EntryCue = 6,
    AuMusicSync_ExitCue = 7,
};

// Samples at the output rate for a duration in milliseconds: round(ms x R x 0.001), half away
// from zero, held to the i32 range (a value the bank cannot mean, NaN included, gives 0 or the
// nearest end).
i32 AuMusicMsToSamples(f64 ms);
// (R / 1000) x ms in unsigned arithmetic, the division first.
u32 AuMusicMsToSamplesU32(u32 ms);

// A marker of a segment: its position from the segment's start and its own copy of its name.
struct AuMusicSegmentMarker {
    u32 uID;
    i32 lPosition;
    char* pszName; // null without a name
};

struct AuMusicTransitionSegment {
    AuUniqueID segmentID;
    u32 uFadeInMs;
    u32 uFadeInCurve;
    u32 uFadeInOffset; // samples
    u32 uFadeOutMs;
    u32 uFadeOutCurve;
    u32 uFadeOutOffset; // samples
    bool bPlayPreEntry;
    bool bPlayPostExit;
};

struct AuMusicTransitionRule {
    u32* pSources; // ascending; AU_MUSIC_ANY_ID first: any
    u32 uNumSources;
    u32* pDestinations;
    u32 uNumDestinations;
    u32 uSourceFadeMs;
    u32 uSourceFadeCurve;
    u32 uSourceFadeOffset; // samples
    u32 uSyncType;         // low 5 bits
    u32 uSourceCueFilter;
    bool bPlayPostExit;
    u32 uDestFadeMs;
    u32 uDestFadeCurve;
    u32 uDestFadeOffset; // samples
    u32 uDestCueFilter;
    u32 uJumpToID;
    u8 uDestEntryType; // low 3 bits
    bool bPlayPreEntry;
    bool bMatchSourceCueName;
    AuMusicTransitionSegment* pTransitionSegment; // null: none
};

// A node of a playlist's tree: a segment leaf, or a group of items.
struct AuMusicPlaylistItem {
    AuUniqueID segmentID = 0; // 0: a group
    u32 uItemID = 0;
    u32 uLevelMode = 0; // groups: 0 sequence continuous, 1 sequence step, 2 random continuous, 3 random step
    u16 uLoopCount = 1; // 0 loops for ever
    i16 iLoopMin = 0;
    i16 iLoopMax = 0;
    u32 uWeight = AU_MUSIC_DEFAULT_WEIGHT;
    u16 uAvoidRepeat = 0;
    bool bShuffle = true;
    bool bWeighted = false; // a direct child's weight is not the default
    AuArray<AuMusicPlaylistItem*> children;
};

class CAuMusicNode : public CAuParentNode, public IAuMusicNode {
public:
    static constexpr u8 kOverrideA = 1;
    static constexpr u8 kOverrideB = 2;
    static constexpr u8 kOwnTimeSettings = 4;

    explicit CAuMusicNode(u32 id) : CAuParentNode(id) {}
    ~CAuMusicNode() override;

    // 9, 4 (a child of another category than AcceptsChild says), 21, 5, 23, else 1.
    AURESULT CanAddChild(CAuNodeBase* child) override;
    // Stop, pause and resume reach the roots playing this node, then its children.
    AURESULT ExecuteAction(const AuActionExec& exec) override;
    // Property 54 at a new value asks every sequencer to refresh its speed.
    AURESULT SetAuProp(u8 id, f32 value, u32 arg1, u32 arg2) override;
    // Own data, then the segment of every stinger; a failure undoes what came before.
    AURESULT PrepareData() override;
    void UnPrepareData() override;
    // The music is played by its contexts; the node itself plays nothing here.
    AURESULT Play(AuNodePlayParams& params) override;

    // IAuMusicNode.
    AuUniqueID NodeID() const noexcept override { return key; }
    bool IncrementActivity(u32 flags) noexcept override { return IncrementActivityCount(flags); }
    void DecrementActivity(u32 flags) noexcept override { DecrementActivityCount(flags); }
    f32 PlaybackSpeed() noexcept override;

    // The node's own settings, else the nearest music ancestor's that owns them, else the
    // topmost music ancestor's.
    const AuMusicTimeSettings& GetTimeSettings();
    // The tempo when the node owns its settings, else 0.
    bool GetTempo(f32& tempo);
    // The override flag and the value of property 55 (A) or 56 (B), 0 when absent.
    bool GetOverrideA(f32& value);
    bool GetOverrideB(f32& value);

    u8 MusicFlags() const { return m_uMusicFlags; }
    u32 NumStingers() const { return m_stingers.Count(); }
    const AuMusicStinger& Stinger(u32 i) const { return m_stingers[i]; }
    // The part every music node record starts with: 7 for a cut record.
    AURESULT SetMusicNodeParams(AuRecordCursor& cursor, bool present);

protected:
    virtual bool AcceptsChild(u32 category) const = 0;
    // What a container prepares beyond the stingers (the rules' transition segments).
    virtual AURESULT PrepareMore() { return AuResultSuccess; }
    virtual void UnprepareMore() {}

private:
    void UnprepareStingers(u32 count);

    AuMusicTimeSettings m_time{120.0f, 24000, 96000, 0, 0};
    AuArray<AuMusicStinger> m_stingers;
    u8 m_uMusicFlags = 0;
};

class CAuSegmentNode : public CAuMusicNode {
public:
    static CAuSegmentNode* Create(u32 id);
    explicit CAuSegmentNode(u32 id) : CAuMusicNode(id) {}
    ~CAuSegmentNode() override;

    AuNodeCategory Category() override { return AuNodeCategory_MusicSegment; }
    // Kind 4 seeks the roots playing the segment.
    AURESULT ExecuteAction(const AuActionExec& exec) override;

    // The whole type-10 payload.
    AURESULT SetInitialValues(const u8* payload, u32 size, bool present);
    // The music nodes' Play: a segment plays through its own root context.
    AURESULT Play(AuNodePlayParams& params) override;
    i32 Duration() const { return m_lDuration; }
    // Marker 0 is the entry cue, the last one the exit cue; without markers both lie at 0.
    i32 EntryCue() const { return m_markers.Count() ? m_markers[0].lPosition : 0; }
    i32 ExitCue() const { return m_markers.Count() ? m_markers[m_markers.Count() - 1].lPosition : 0; }
    i32 ActiveDuration() const { return ExitCue() > EntryCue() ? ExitCue() - EntryCue() : 0; }
    i32 PostExitDuration() const { return m_lDuration > ExitCue() ? m_lDuration - ExitCue() : 0; }
    // The sync point of `syncType` (AuMusicSyncType) at or after p (from the entry cue): false
    // when the segment has none before its exit cue. `cueFilter` names a marker ID (0: any).
    bool GetSyncPosition(i64 p, u32 syncType, u32 cueFilter, bool skipCurrent, i64& position);
    // The marker other than the exit cue nearest p (from the entry cue), from the entry cue.
    i64 ClosestMarker(i64 p) const;
    u32 NumMarkers() const { return m_markers.Count(); }
    const AuMusicSegmentMarker& Marker(u32 i) const { return m_markers[i]; }

protected:
    bool AcceptsChild(u32 category) const override { return category == AuNodeCategory_MusicTrack; }

private:
    void ClearMarkers();

    AuArray<AuMusicSegmentMarker> m_markers;
    i32 m_lDuration = 0;
};

class CAuMusicTransNode : public CAuMusicNode {
public:
    explicit CAuMusicTransNode(u32 id) : CAuMusicNode(id) {}
    ~CAuMusicTransNode() override;

    u32 NumRules() const { return m_rules.Count(); }
    const AuMusicTransitionRule& Rule(u32 i) const { return m_rules[i]; }
    // The rule table that follows the music node part.
    AURESULT SetRules(AuRecordCursor& cursor);

protected:
    AURESULT PrepareMore() override;
    void UnprepareMore() override;

private:
    void ClearRules();

    AuArray<AuMusicTransitionRule> m_rules;
};

class CAuSwitchMusicNode : public CAuMusicTransNode {
public:
    static CAuSwitchMusicNode* Create(u32 id);
    explicit CAuSwitchMusicNode(u32 id) : CAuMusicTransNode(id) {}
    ~CAuSwitchMusicNode() override;

    AuNodeCategory Category() override { return AuNodeCategory_MusicSwitch; }
    AURESULT ExecuteAction(const AuActionExec& exec) override;
    AURESULT SetAuProp(u8 id, f32 value, u32 arg1, u32 arg2) override;

    // The whole type-12 payload.
    AURESULT SetInitialValues(const u8* payload, u32 size, bool present);
    bool ContinuePlayback() const { return m_bContinuePlayback; }
    u32 Depth() const { return m_uDepth; }
    u32 GroupID(u32 i) const { return m_pGroupIDs[i]; }
    u8 GroupType(u32 i) const { return m_pGroupTypes[i]; }
    u8 DecisionMode() const { return m_uDecisionMode; }
    // The decision tree's bytes as the bank gave them, for its evaluation.
    const u8* TreeData() const { return m_pTree; }
    u32 TreeSize() const { return m_uTreeSize; }
    u8 SwitchByte() const { return m_uSwitchByte; }

protected:
    bool AcceptsChild(u32 category) const override {
        return category == AuNodeCategory_MusicSegment || category == AuNodeCategory_MusicPlaylist ||
               category == AuNodeCategory_MusicSwitch;
    }

private:
    void ClearGroups();

    u32* m_pGroupIDs = nullptr;
    u8* m_pGroupTypes = nullptr;
    u32 m_uDepth = 0;
    u8* m_pTree = nullptr;
    u32 m_uTreeSize = 0;
    u8 m_uDecisionMode = 0;
    u8 m_uSwitchByte = 0;
    bool m_bContinuePlayback = true;
};

class CAuPlaylistMusicNode : public CAuMusicTransNode {
public:
    static CAuPlaylistMusicNode* Create(u32 id);
    explicit CAuPlaylistMusicNode(u32 id) : CAuMusicTransNode(id) {}
    ~CAuPlaylistMusicNode() override;

    AuNodeCategory Category() override { return AuNodeCategory_MusicPlaylist; }
    // Playlists do not seek: 2 for kind 4.
    AURESULT ExecuteAction(const AuActionExec& exec) override;

    // The whole type-13 payload.
    AURESULT SetInitialValues(const u8* payload, u32 size, bool present);
    // The root group: the container's own values and its first-level items.
    const AuMusicPlaylistItem& Root() const { return m_root; }

protected:
    bool AcceptsChild(u32 category) const override { return category == AuNodeCategory_MusicSegment; }

private:
    static void FreeChildren(AuMusicPlaylistItem& group);
    // Back to a new group's values, without children.
    void ResetRoot();

    AuMusicPlaylistItem m_root;
};

struct AuMusicClipAutomation {
    u32 uClipIndex;
    u32 uType;
    AuCurvePoint* pPoints; // x: time in samples
    u32 uNumPoints;
};

// The switch settings of a switch track (type 3).
struct AuMusicSwitchTrackParams {
    u8 uGroupType;
    u32 uGroupID;
    u32 uDefaultValue;
    AuArray<u32> subTrackValues; // one switch value per sub-track
    u32 uFadeOutMs;
    u32 uFadeOutCurve;
    u32 uFadeOutOffset; // samples
    u32 uSyncType;      // low 5 bits; 8 until read
    u32 uCueFilter;
    u32 uFadeInMs;
    u32 uFadeInCurve;
    u32 uFadeInOffset; // samples
};

class CAuTrackNode : public CAuLeafNode {
public:
    static constexpr u8 kOverrideMidiTarget = 1; // property 56
    static constexpr u8 kOverrideMidiTempo = 2;  // property 55

    static CAuTrackNode* Create(u32 id);
    explicit CAuTrackNode(u32 id) : CAuLeafNode(id) {}
    ~CAuTrackNode() override;

    AuNodeCategory Category() override { return AuNodeCategory_MusicTrack; }
    // A track's voices follow its contexts: the actions reach them through the music engine.
    AURESULT ExecuteAction(const AuActionExec&) override { return AuResultSuccess; }
    AURESULT ExecuteActionExcept(const AuActionExec&) override { return AuResultSuccess; }
    // Tracks are started by their segment's contexts only.
    AURESULT Play(AuNodePlayParams& params) override;
    // Every source's media in order; a failure gives back those prepared before it.
    AURESULT PrepareData() override;
    void UnPrepareData() override;

    // The whole type-11 payload; met again, the sources, clips and automation are replaced and
    // the read stops after the node base part.
    AURESULT SetInitialValues(const u8* payload, u32 size, bool present);
    // Whether a record met again is read into the track.
    bool NeedsReread() const;

    u32 NumSources() const { return m_sources.Count(); }
    AuSourceInfo* FindSource(u32 sourceID) const;
    const AuSourceInfo& Source(u32 i) const { return *m_sources[i].pInfo; }
    u32 NumClips() const { return m_clips.Count(); }
    const AuMusicTrackClip& Clip(u32 i) const { return m_clips[i]; }
    u32 NumSubTracks() const { return m_uNumSubTracks; }
    u32 NumAutomations() const { return m_automations.Count(); }
    const AuMusicClipAutomation& Automation(u32 i) const { return m_automations[i]; }
    u8 TrackType() const { return m_uTrackType; }
    const AuMusicSwitchTrackParams* SwitchParams() const { return m_pSwitch; }
    u32 LookAhead() const { return m_uLookAhead; }
    // What a source of the track streams ahead, in samples: MIDI sources need none.
    u32 SourceLookAhead(const AuSourceInfo& source) const;
    u8 TrackFlags() const { return m_uTrackFlags; }

private:
    struct SourceEntry {
        u32 sourceID;
        AuSourceInfo* pInfo;
    };
    void ClearSources();
    void ClearAutomations();
    AURESULT ReadSources(AuRecordCursor& cursor);
    AURESULT ReadClips(AuRecordCursor& cursor);
    AURESULT ReadAutomations(AuRecordCursor& cursor);
    AURESULT ReadSwitchParams(AuRecordCursor& cursor);
    AURESULT SetTrackType(u8 type);

    AuArray<SourceEntry> m_sources;
    AuArray<AuMusicTrackClip> m_clips;
    AuArray<AuMusicClipAutomation> m_automations;
    AuMusicSwitchTrackParams* m_pSwitch = nullptr;
    u32 m_uNumSubTracks = 0;
    u32 m_uLookAhead = 0;
    u8 m_uTrackType = 0;
    u8 m_uTrackFlags = 0;
};

// The hierarchy loader's entries of types 10 to 13.
AuHierarchyLoaderEntry AuMusicSegmentLoaderEntry();
AuHierarchyLoaderEntry AuMusicTrackLoaderEntry();
AuHierarchyLoaderEntry AuMusicSwitchLoaderEntry();
AuHierarchyLoaderEntry AuMusicPlaylistLoaderEntry();
