#include "music/AuMusicNodes.h"

#include "music/AuMusicChainCtx.h"

#include "banks/AuBankMgr.h"
#include "core/AuLog.h"
#include "core/AuOutputTiming.h"
#include "core/AuRegistryMgr.h"
#include "hierarchy/AuRecordCursor.h"
#include "music/AuMusicEngine.h"

#include <AU/MemoryMgr.h>

#include <cmath>
#include <cstring>
#include <new>
#include <type_traits>

namespace {

// The largest tree of playlist groups kept while reading: deeper trees are refused rather than
// walked (the reader keeps its own stack, so this bounds memory, not the thread's stack).
constexpr u32 kMaxPlaylistDepth = 64;
constexpr u32 kStingerSize = 24;
constexpr u32 kPlaylistItemSize = 30;
constexpr u32 kClipSize = 40;
constexpr u32 kPointSize = 12;

template <class T> T* NewInPool() {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(T));
    return memory ? new (memory) T() : nullptr;
}

template <class T> void DeleteInPool(T* object) {
    if (!object) return;
    object->~T();
    AU::MemoryMgr::Free(g_DefaultPoolId, object);
}

void* AllocBytes(u64 bytes) {
    if (bytes == 0 || bytes > UINT32_MAX) return nullptr;
    return AU::MemoryMgr::Malloc(g_DefaultPoolId, static_cast<u32>(bytes));
}

void FreeBytes(void* block) {
    if (block) AU::MemoryMgr::Free(g_DefaultPoolId, block);
}

template <class T> T* MakeNode(u32 id) {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(T));
    if (!memory) return nullptr;
    T* node = new (memory) T(id);
    node->AddToIndex();
    return node;
}

bool ReadF64(AuRecordCursor& cursor, f64& value) {
    const u8* at = cursor.Take(8);
    if (!at) return false;
    u64 bits = 0;
    for (u32 i = 0; i < 8; ++i)
        bits |= u64(at[i]) << (8 * i);
    memcpy(&value, &bits, sizeof(value));
    return true;
}

bool ReadI16(AuRecordCursor& cursor, i16& value) {
    u16 word = 0;
    if (!cursor.Read(word)) return false;
    value = static_cast<i16>(word);
    return true;
}

i32 RoundToI32(f64 value) {
    if (std::isnan(value)) return 0;
    const f64 rounded = value < 0 ? -std::floor(-value + 0.5) : std::floor(value + 0.5);
    if (rounded >= 2147483647.0) return INT32_MAX;
    if (rounded <= -2147483648.0) return INT32_MIN;
    return static_cast<i32>(rounded);
}

// Kind 4 on a segment or a switch: the roots playing the node seek. The values are copies: where a
// snapped seek lands is not written into the record, which the node's siblings read after it.
void SeekRoots(AuUniqueID nodeID, const AuActionExec& exec) {
    const u32 gameObjID = exec.pGameObj ? exec.pGameObj->ID() : 0;
    const bool snap = (exec.flags & AU_EXEC_SEEK_SNAP) != 0;
    if (exec.flags & AU_EXEC_SEEK_PERCENT) {
        // NaN seeks to the start.
        f32 fraction = exec.seekPosition >= 0.0f ? std::fmin(exec.seekPosition, 1.0f) : 0.0f;
        MusicEngineSeekContextsByPercent(nodeID, gameObjID, exec.playingID, fraction, snap);
    } else {
        i32 ms = exec.seekMs;
        MusicEngineSeekContextsByTime(nodeID, gameObjID, exec.playingID, ms, snap);
    }
}

// A u32 count followed by `count` rows of at least `rowSize` bytes each: 7 when the record cannot
// hold them.
bool ReadCount(AuRecordCursor& cursor, u32 rowSize, u32& count) {
    return cursor.Read(count) && cursor.Left() / rowSize >= count;
}

// An ascending ID list of a rule: 52 without memory.
AURESULT ReadIDList(AuRecordCursor& cursor, u32*& ids, u32& count) {
    if (!ReadCount(cursor, 4, count)) return AuResultBadHeader;
    if (count == 0) return AuResultSuccess;
    ids = static_cast<u32*>(AllocBytes(u64{count} * 4));
    if (!ids) return AuResultFail;
    for (u32 i = 0; i < count; ++i)
        cursor.Read(ids[i]);
    return AuResultSuccess;
}

void FreeRule(AuMusicTransitionRule& rule) {
    FreeBytes(rule.pSources);
    FreeBytes(rule.pDestinations);
    FreeBytes(rule.pTransitionSegment);
    rule = AuMusicTransitionRule{};
}

AURESULT ReadRule(AuRecordCursor& cursor, AuMusicTransitionRule& rule) {
    rule = AuMusicTransitionRule{};
    AURESULT result = ReadIDList(cursor, rule.pSources, rule.uNumSources);
    if (result == AuResultSuccess) result = ReadIDList(cursor, rule.pDestinations, rule.uNumDestinations);
    if (result != AuResultSuccess) return result;
    u32 syncType = 0, sourceOffset = 0, destOffset = 0;
    u8 postExit = 0, preEntry = 0, matchCue = 0, hasSegment = 0;
    u16 entryType = 0;
    if (!cursor.Read(rule.uSourceFadeMs) || !cursor.Read(rule.uSourceFadeCurve) ||
        !cursor.Read(sourceOffset) || !cursor.Read(syncType) || !cursor.Read(rule.uSourceCueFilter) ||
        !cursor.Read(postExit) || !cursor.Read(rule.uDestFadeMs) || !cursor.Read(rule.uDestFadeCurve) ||
        !cursor.Read(destOffset) || !cursor.Read(rule.uDestCueFilter) || !cursor.Read(rule.uJumpToID) ||
        !cursor.Read(entryType) || !cursor.Read(preEntry) || !cursor.Read(matchCue) ||
        !cursor.Read(hasSegment))
        return AuResultBadHeader;
    rule.uSourceFadeOffset = AuMusicMsToSamplesU32(sourceOffset);
    rule.uSyncType = syncType & 0x1F;
    rule.bPlayPostExit = postExit != 0;
    rule.uDestFadeOffset = AuMusicMsToSamplesU32(destOffset);
    rule.uDestEntryType = static_cast<u8>(entryType & 7);
    rule.bPlayPreEntry = preEntry != 0;
    rule.bMatchSourceCueName = matchCue != 0;
    if (!hasSegment) return AuResultSuccess;
    AuMusicTransitionSegment segment{};
    u32 inOffset = 0, outOffset = 0;
    u8 segPreEntry = 0, segPostExit = 0;
    if (!cursor.Read(segment.segmentID) || !cursor.Read(segment.uFadeInMs) ||
        !cursor.Read(segment.uFadeInCurve) || !cursor.Read(inOffset) || !cursor.Read(segment.uFadeOutMs) ||
        !cursor.Read(segment.uFadeOutCurve) || !cursor.Read(outOffset) || !cursor.Read(segPreEntry) ||
        !cursor.Read(segPostExit))
        return AuResultBadHeader;
    segment.uFadeInOffset = AuMusicMsToSamplesU32(inOffset);
    segment.uFadeOutOffset = AuMusicMsToSamplesU32(outOffset);
    segment.bPlayPreEntry = segPreEntry != 0;
    segment.bPlayPostExit = segPostExit != 0;
    rule.pTransitionSegment = static_cast<AuMusicTransitionSegment*>(AllocBytes(sizeof(segment)));
    if (!rule.pTransitionSegment) return AuResultFail;
    *rule.pTransitionSegment = segment;
    return AuResultSuccess;
}

bool IsMidiSource(const AuSourceInfo& info) {
    return (info.pluginID & 0xFFFF) == AU_MUSIC_SOURCE_MIDI;
}

} // namespace

i32 AuMusicMsToSamples(f64 ms) {
    return RoundToI32(ms * g_OutputTiming.uSampleRate * 0.001);
}

u32 AuMusicMsToSamplesU32(u32 ms) {
    return g_OutputTiming.uSampleRate / 1000 * ms;
}

// ---- Music node ----

CAuMusicNode::~CAuMusicNode() {
    m_stingers.Term();
}

AURESULT CAuMusicNode::CanAddChild(CAuNodeBase* child) {
    if (GetChildCount() >= AU_MUSIC_MAX_CHILDREN) return AuResultTooManyChildren;
    if (!AcceptsChild(child->Category())) return AuResultChildTypeRefused;
    if (child->Parent()) return AuResultChildHasParent;
    if (FindChild(child->key)) return AuResultAlreadyAChild;
    if (child == this) return AuResultCannotBeOwnChild;
    return AuResultSuccess;
}

AURESULT CAuMusicNode::ExecuteAction(const AuActionExec& exec) {
    if (exec.kind <= AuActionExec_Resume) {
        const AuMusicFade fade{exec.transitionTimeMs, exec.eCurve, 0};
        const u32 gameObjID = exec.pGameObj ? exec.pGameObj->ID() : 0;
        if (exec.kind == AuActionExec_Stop)
            MusicEngineStopContexts(key, gameObjID, fade, exec.playingID);
        else if (exec.kind == AuActionExec_Pause)
            MusicEnginePauseContexts(key, gameObjID, fade, exec.playingID);
        else
            MusicEngineResumeContexts(key, gameObjID, fade, exec.playingID);
    }
    return CAuParentNode::ExecuteAction(exec);
}

AURESULT CAuMusicNode::SetAuProp(u8 id, f32 value, u32 arg1, u32 arg2) {
    if (id != AuMusicParam_PlaybackSpeed) return CAuParentNode::SetAuProp(id, value, arg1, arg2);
    const AuPropValue* stored = m_props.GetValue(id);
    if (stored && stored->f == value) return AuResultSuccess;
    if (!stored && value == 0.0f) return AuResultSuccess; // an absent property counts as 0
    const AURESULT result = CAuParentNode::SetAuProp(id, value, arg1, arg2);
    if (result == AuResultSuccess) MusicEngineRequestSpeedRefresh(0);
    return result;
}

void CAuMusicNode::UnprepareStingers(u32 count) {
    for (u32 i = 0; i < count; ++i)
        if (m_stingers[i].segmentID) UnprepareNodeByID(m_stingers[i].segmentID);
}

AURESULT CAuMusicNode::PrepareData() {
    AURESULT result = CAuParentNode::PrepareData();
    if (result != AuResultSuccess) return result;
    for (u32 i = 0; i < m_stingers.Count(); ++i) {
        if (!m_stingers[i].segmentID) continue;
        result = PrepareNodeByID(m_stingers[i].segmentID);
        if (result == AuResultSuccess) continue;
        UnprepareStingers(i);
        CAuParentNode::UnPrepareData();
        return result;
    }
    result = PrepareMore();
    if (result != AuResultSuccess) {
        UnprepareStingers(m_stingers.Count());
        CAuParentNode::UnPrepareData();
    }
    return result;
}

void CAuMusicNode::UnPrepareData() {
    UnprepareMore();
    UnprepareStingers(m_stingers.Count());
    CAuParentNode::UnPrepareData();
}

AURESULT CAuMusicNode::Play(AuNodePlayParams&) {
    AuLog(AuLogLevel::Error, "music node %u: its playback contexts are not built; nothing plays", key);
    return AuResultFail;
}

f32 CAuMusicNode::PlaybackSpeed() noexcept {
    f32 speed = 1.0f;
    for (CAuNodeBase* node = this; node; node = node->Parent())
        if (const AuPropValue* value = node->Props().GetValue(AuMusicParam_PlaybackSpeed)) speed *= value->f;
    return speed;
}

static bool IsMusicContainer(u32 category) {
    return category == AuNodeCategory_MusicSegment || category == AuNodeCategory_MusicPlaylist ||
           category == AuNodeCategory_MusicSwitch;
}

const AuMusicTimeSettings& CAuMusicNode::GetTimeSettings() {
    CAuMusicNode* topmost = this;
    for (CAuMusicNode* node = this; node;) {
        if (node->m_uMusicFlags & kOwnTimeSettings) return node->m_time;
        topmost = node;
        CAuNodeBase* parent = node->Parent();
        node = parent && IsMusicContainer(parent->Category()) ? static_cast<CAuMusicNode*>(parent) : nullptr;
    }
    return topmost->m_time;
}

bool CAuMusicNode::GetTempo(f32& tempo) {
    const bool own = (m_uMusicFlags & kOwnTimeSettings) != 0;
    tempo = own ? m_time.fTempo : 0.0f;
    return own;
}

bool CAuMusicNode::GetOverrideA(f32& value) {
    const AuPropValue* stored = m_props.GetValue(AU_PROP_MIDI_TEMPO_OVERRIDE);
    value = stored ? stored->f : 0.0f;
    return (m_uMusicFlags & kOverrideA) != 0;
}

bool CAuMusicNode::GetOverrideB(f32& value) {
    const AuPropValue* stored = m_props.GetValue(AU_PROP_MIDI_TARGET);
    value = stored ? stored->f : 0.0f;
    return (m_uMusicFlags & kOverrideB) != 0;
}

AURESULT CAuMusicNode::SetMusicNodeParams(AuRecordCursor& cursor, bool present) {
    u8 flags = 0;
    if (!cursor.Skip(4) || !cursor.Read(flags)) return AuResultBadHeader;
    m_uMusicFlags = static_cast<u8>((m_uMusicFlags & kOwnTimeSettings) | ((flags >> 1) & 1 ? kOverrideA : 0) |
                                    ((flags >> 2) & 1 ? kOverrideB : 0));
    AURESULT result = SetNodeBaseParams(cursor, present);
    if (result == AuResultSuccess) result = SetChildren(cursor);
    if (result != AuResultSuccess) return result;
    f64 gridPeriod = 0, gridOffset = 0;
    f32 tempo = 0;
    u8 beatsPerBar = 0, beatValue = 0, overrides = 0;
    if (!ReadF64(cursor, gridPeriod) || !ReadF64(cursor, gridOffset) || !cursor.Read(tempo) ||
        !cursor.Read(beatsPerBar) || !cursor.Read(beatValue) || !cursor.Read(overrides))
        return AuResultBadHeader;
    if (overrides) {
        const f64 rate = g_OutputTiming.uSampleRate;
        // A tempo or beat value of 0 has no beat: 0 samples rather than a division by zero.
        const f64 beat = tempo > 0.0f && beatValue ? 4.0 / beatValue * (60.0 / tempo) * rate : 0.0;
        const i32 beatSamples = RoundToI32(beat);
        m_time.fTempo = tempo;
        m_time.uBeatDuration = beatSamples > 0 ? static_cast<u32>(beatSamples) : 0;
        const u64 bar = u64{beatsPerBar} * m_time.uBeatDuration;
        m_time.uBarDuration = bar > UINT32_MAX ? UINT32_MAX : static_cast<u32>(bar);
        const i32 period = RoundToI32(rate * gridPeriod * 0.001);
        const i32 offset = RoundToI32(0.001 * rate * gridOffset);
        m_time.uGridPeriod = period > 0 ? static_cast<u32>(period) : 0;
        m_time.uGridOffset = offset > 0 ? static_cast<u32>(offset) : 0;
        m_uMusicFlags |= kOwnTimeSettings;
    } else {
        m_uMusicFlags &= static_cast<u8>(~kOwnTimeSettings);
    }
    u32 count = 0;
    if (!ReadCount(cursor, kStingerSize, count)) return AuResultBadHeader;
    m_stingers.Term();
    if (count == 0) return AuResultSuccess;
    if (!m_stingers.Grow(count)) return AuResultFail;
    for (u32 i = 0; i < count; ++i) {
        AuMusicStinger stinger{};
        cursor.Read(stinger.triggerID);
        cursor.Read(stinger.segmentID);
        cursor.Read(stinger.uSyncType);
        cursor.Read(stinger.uCueFilter);
        cursor.Read(stinger.uDontRepeatMs);
        cursor.Read(stinger.uLookAhead);
        m_stingers.AddLast(stinger);
    }
    return AuResultSuccess;
}

// ---- Segment ----

CAuSegmentNode* CAuSegmentNode::Create(u32 id) {
    return MakeNode<CAuSegmentNode>(id);
}

CAuSegmentNode::~CAuSegmentNode() {
    ClearMarkers();
}

void CAuSegmentNode::ClearMarkers() {
    for (AuMusicSegmentMarker& marker : m_markers)
        FreeBytes(marker.pszName);
    m_markers.Term();
}

AURESULT CAuSegmentNode::ExecuteAction(const AuActionExec& exec) {
    if (exec.kind != AuActionExec_Seek) return CAuMusicNode::ExecuteAction(exec);
    SeekRoots(key, exec);
    return AuResultSuccess;
}

AURESULT CAuSegmentNode::Play(AuNodePlayParams& params) {
    auto* context = AuMusicNew<CAuSegmentChainCtx>(nullptr, *this);
    if (!context) return AuResultNoMemory;
    context->AddRef();
    AURESULT result = context->Start(-i64{EntryCue()});
    if (result == AuResultSuccess) {
        AuMusicPlayParams play;
        play.pGameObj = params.pGameObj;
        play.gameObjID = params.pGameObj ? params.pGameObj->ID() : 0;
        play.playingID = params.playingID;
        play.fade = AuMusicFade{params.transitionMs, params.eCurve, 0};
        result = context->Play(play);
    }
    // A refused play lets go of its segment, which holds the context.
    if (result != AuResultSuccess) context->SetStopped();
    // The sequencer holds an accepted play.
    context->Release();
    return result;
}

bool CAuSegmentNode::GetSyncPosition(i64 p, u32 syncType, u32 cueFilter, bool skipCurrent, i64& position) {
    const i64 active = ActiveDuration();
    if (p > active) return false;
    const i64 entry = EntryCue();
    const u32 count = m_markers.Count();
    switch (syncType) {
    case AuMusicSync_Immediate:
        position = p;
        return true;
    case AuMusicSync_NextGrid:
    case AuMusicSync_NextBar:
    case AuMusicSync_NextBeat: {
        const AuMusicTimeSettings& time = GetTimeSettings();
        const i64 period = syncType == AuMusicSync_NextGrid  ? time.uGridPeriod
                           : syncType == AuMusicSync_NextBar ? time.uBarDuration
                                                             : time.uBeatDuration;
        const i64 offset = syncType == AuMusicSync_NextGrid ? time.uGridOffset : 0;
        const i64 q = skipCurrent ? p + 1 : p;
        i64 at;
        if (period == 0)
            at = q + 1;
        else if (offset > q)
            at = offset;
        else
            at = offset + ((q - offset) / period + 1) * period;
        if (at > active) return false;
        position = at;
        return true;
    }
    case AuMusicSync_NextMarker:
        for (u32 i = skipCurrent ? 1 : 0; i < count; ++i) {
            const AuMusicSegmentMarker& marker = m_markers[i];
            if (marker.lPosition >= entry + p && (cueFilter == 0 || marker.uID == cueFilter)) {
                position = marker.lPosition - entry;
                return true;
            }
        }
        position = active;
        return true;
    case AuMusicSync_NextUserMarker:
        for (u32 i = 1; i + 1 < count; ++i) {
            const AuMusicSegmentMarker& marker = m_markers[i];
            if (marker.lPosition > entry + p && (cueFilter == 0 || marker.uID == cueFilter)) {
                position = marker.lPosition - entry;
                return true;
            }
        }
        return false;
    case AuMusicSync_EntryCue:
        if (p != 0 || skipCurrent) return false;
        position = 0;
        return true;
    case AuMusicSync_ExitCue:
        position = active;
        return true;
    default:
        return false;
    }
}

i64 CAuSegmentNode::ClosestMarker(i64 p) const {
    const u32 count = m_markers.Count();
    if (count < 2) return 0;
    const i64 entry = EntryCue();
    i64 best = m_markers[0].lPosition;
    for (u32 i = 1; i + 1 < count; ++i) {
        const i64 at = m_markers[i].lPosition;
        const i64 distance = at - (entry + p) < 0 ? entry + p - at : at - (entry + p);
        const i64 bestDistance = best - (entry + p) < 0 ? entry + p - best : best - (entry + p);
        if (distance < bestDistance) best = at;
    }
    return best - entry;
}

AURESULT CAuSegmentNode::SetInitialValues(const u8* payload, u32 size, bool present) {
    AuRecordCursor cursor(payload, size);
    AURESULT result = SetMusicNodeParams(cursor, present);
    if (result != AuResultSuccess) return result;
    f64 duration = 0;
    u32 count = 0;
    // A marker takes at least 16 bytes: ID, position and name length.
    if (!ReadF64(cursor, duration) || !ReadCount(cursor, 16, count)) return AuResultBadHeader;
    m_lDuration = AuMusicMsToSamples(duration);
    ClearMarkers();
    if (count == 0) return AuResultSuccess;
    if (!m_markers.Grow(count)) return AuResultNoMemory;
    for (u32 i = 0; i < count; ++i) {
        AuMusicSegmentMarker marker{};
        f64 position = 0;
        u32 length = 0;
        if (!cursor.Read(marker.uID) || !ReadF64(cursor, position) || !cursor.Read(length)) {
            ClearMarkers();
            return AuResultBadHeader;
        }
        const u8* name = cursor.Take(length);
        if (!name) {
            ClearMarkers();
            return AuResultBadHeader;
        }
        marker.lPosition = AuMusicMsToSamples(position);
        if (length) {
            marker.pszName = static_cast<char*>(AllocBytes(u64{length} + 1));
            if (!marker.pszName) {
                ClearMarkers();
                return AuResultFail;
            }
            memcpy(marker.pszName, name, length);
            marker.pszName[length] = '\0';
        }
        m_markers.AddLast(marker);
    }
    return AuResultSuccess;
}

// ---- Transition rules ----

CAuMusicTransNode::~CAuMusicTransNode() {
    ClearRules();
}

void CAuMusicTransNode::ClearRules() {
    for (AuMusicTransitionRule& rule : m_rules)
        FreeRule(rule);
    m_rules.Term();
}

AURESULT CAuMusicTransNode::SetRules(AuRecordCursor& cursor) {
    u32 count = 0;
    // A rule takes at least 8 + 55 bytes: its two counts and its fixed fields.
    if (!ReadCount(cursor, 63, count)) return AuResultBadHeader;
    ClearRules();
    if (count == 0) return AuResultSuccess;
    if (!m_rules.Grow(count)) return AuResultFail;
    for (u32 i = 0; i < count; ++i) {
        AuMusicTransitionRule rule;
        const AURESULT result = ReadRule(cursor, rule);
        if (result != AuResultSuccess) {
            FreeRule(rule);
            ClearRules();
            return result;
        }
        m_rules.AddLast(rule);
    }
    return AuResultSuccess;
}

AURESULT CAuMusicTransNode::PrepareMore() {
    for (u32 i = 0; i < m_rules.Count(); ++i) {
        const AuMusicTransitionSegment* segment = m_rules[i].pTransitionSegment;
        if (!segment || !segment->segmentID) continue;
        const AURESULT result = PrepareNodeByID(segment->segmentID);
        if (result == AuResultSuccess) continue;
        for (u32 done = 0; done < i; ++done)
            if (const AuMusicTransitionSegment* s = m_rules[done].pTransitionSegment; s && s->segmentID)
                UnprepareNodeByID(s->segmentID);
        return result;
    }
    return AuResultSuccess;
}

void CAuMusicTransNode::UnprepareMore() {
    for (const AuMusicTransitionRule& rule : m_rules)
        if (rule.pTransitionSegment && rule.pTransitionSegment->segmentID)
            UnprepareNodeByID(rule.pTransitionSegment->segmentID);
}

// ---- Switch container ----

CAuSwitchMusicNode* CAuSwitchMusicNode::Create(u32 id) {
    return MakeNode<CAuSwitchMusicNode>(id);
}

CAuSwitchMusicNode::~CAuSwitchMusicNode() {
    ClearGroups();
}

void CAuSwitchMusicNode::ClearGroups() {
    FreeBytes(m_pGroupIDs);
    FreeBytes(m_pGroupTypes);
    FreeBytes(m_pTree);
    m_pGroupIDs = nullptr;
    m_pGroupTypes = nullptr;
    m_pTree = nullptr;
    m_uDepth = 0;
    m_uTreeSize = 0;
}

AURESULT CAuSwitchMusicNode::ExecuteAction(const AuActionExec& exec) {
    if (exec.kind != AuActionExec_Seek) return CAuMusicNode::ExecuteAction(exec);
    SeekRoots(key, exec);
    return AuResultSuccess;
}

AURESULT CAuSwitchMusicNode::SetAuProp(u8 id, f32 value, u32 arg1, u32 arg2) {
    if (id != AU_PROP_MUSIC_SWITCH_BYTE) return CAuMusicTransNode::SetAuProp(id, value, arg1, arg2);
    m_uSwitchByte = std::isfinite(value) && value >= 0.0f && value <= 255.0f ? static_cast<u8>(value) : 0;
    return AuResultSuccess;
}

AURESULT CAuSwitchMusicNode::SetInitialValues(const u8* payload, u32 size, bool present) {
    AuRecordCursor cursor(payload, size);
    AURESULT result = SetMusicNodeParams(cursor, present);
    if (result == AuResultSuccess) result = SetRules(cursor);
    if (result != AuResultSuccess) return result;
    u8 continuePlayback = 0;
    u32 depth = 0;
    // A group takes 5 bytes: its ID and its type.
    if (!cursor.Read(continuePlayback) || !ReadCount(cursor, 5, depth)) return AuResultBadHeader;
    m_bContinuePlayback = continuePlayback != 0;
    ClearGroups();
    if (depth) {
        m_pGroupIDs = static_cast<u32*>(AllocBytes(u64{depth} * 4));
        m_pGroupTypes = static_cast<u8*>(AllocBytes(depth));
        if (!m_pGroupIDs || !m_pGroupTypes) return AuResultNoMemory;
        m_uDepth = depth;
        for (u32 i = 0; i < depth; ++i)
            cursor.Read(m_pGroupIDs[i]);
        for (u32 i = 0; i < depth; ++i)
            cursor.Read(m_pGroupTypes[i]);
    }
    u32 treeSize = 0;
    if (!cursor.Read(treeSize) || !cursor.Read(m_uDecisionMode)) return AuResultBadHeader;
    const u8* tree = cursor.Take(treeSize);
    if (!tree) return AuResultBadHeader;
    if (treeSize) {
        m_pTree = static_cast<u8*>(AllocBytes(treeSize));
        if (!m_pTree) return AuResultNoMemory;
        memcpy(m_pTree, tree, treeSize);
        m_uTreeSize = treeSize;
    }
    return AuResultSuccess;
}

// ---- Playlist container ----

CAuPlaylistMusicNode* CAuPlaylistMusicNode::Create(u32 id) {
    return MakeNode<CAuPlaylistMusicNode>(id);
}

CAuPlaylistMusicNode::~CAuPlaylistMusicNode() {
    FreeChildren(m_root);
}

void CAuPlaylistMusicNode::FreeChildren(AuMusicPlaylistItem& group) {
    for (AuMusicPlaylistItem* child : group.children) {
        FreeChildren(*child);
        DeleteInPool(child);
    }
    group.children.Term();
}

void CAuPlaylistMusicNode::ResetRoot() {
    FreeChildren(m_root);
    m_root.segmentID = 0;
    m_root.uItemID = 0;
    m_root.uLevelMode = 0;
    m_root.uLoopCount = 1;
    m_root.iLoopMin = m_root.iLoopMax = 0;
    m_root.uWeight = AU_MUSIC_DEFAULT_WEIGHT;
    m_root.uAvoidRepeat = 0;
    m_root.bShuffle = true;
    m_root.bWeighted = false;
}

AURESULT CAuPlaylistMusicNode::ExecuteAction(const AuActionExec& exec) {
    if (exec.kind == AuActionExec_Seek) return AuResultFail;
    return CAuMusicNode::ExecuteAction(exec);
}

namespace {

struct PlaylistItemFields {
    u32 segmentID, itemID, childCount, levelMode;
    u16 loopCount;
    i16 loopMin, loopMax;
    u32 weight;
    u16 avoidRepeat;
    u8 unused, shuffle;
};

bool ReadItemFields(AuRecordCursor& cursor, PlaylistItemFields& f) {
    return cursor.Read(f.segmentID) && cursor.Read(f.itemID) && cursor.Read(f.childCount) &&
           cursor.Read(f.levelMode) && cursor.Read(f.loopCount) && ReadI16(cursor, f.loopMin) &&
           ReadI16(cursor, f.loopMax) && cursor.Read(f.weight) && cursor.Read(f.avoidRepeat) &&
           cursor.Read(f.unused) && cursor.Read(f.shuffle);
}

void ApplyItemFields(const PlaylistItemFields& f, AuMusicPlaylistItem& item) {
    item.segmentID = f.segmentID;
    item.uItemID = f.itemID;
    item.uLoopCount = f.loopCount;
    item.iLoopMin = f.loopMin;
    item.iLoopMax = f.loopMax;
    item.uWeight = f.weight;
    if (f.segmentID == 0) {
        item.uLevelMode = f.levelMode;
        item.uAvoidRepeat = f.avoidRepeat;
        item.bShuffle = f.shuffle != 0;
    }
}

} // namespace

AURESULT CAuPlaylistMusicNode::SetInitialValues(const u8* payload, u32 size, bool present) {
    AuRecordCursor cursor(payload, size);
    AURESULT result = SetMusicNodeParams(cursor, present);
    if (result == AuResultSuccess) result = SetRules(cursor);
    if (result != AuResultSuccess) return result;
    u32 count = 0;
    if (!ReadCount(cursor, kPlaylistItemSize, count)) return AuResultBadHeader;
    ResetRoot();
    if (count == 0) return AuResultSuccess;

    PlaylistItemFields fields{};
    ReadItemFields(cursor, fields);
    ApplyItemFields(fields, m_root);
    m_root.uLevelMode = fields.levelMode;
    m_root.uAvoidRepeat = fields.avoidRepeat;
    m_root.bShuffle = fields.shuffle != 0;
    // The open groups and how many items each still waits for; the root first.
    struct Open {
        AuMusicPlaylistItem* group;
        u32 left;
    };
    Open stack[kMaxPlaylistDepth];
    u32 depth = 0;
    stack[depth++] = Open{&m_root, fields.childCount};
    u32 read = 1;
    result = AuResultSuccess;
    while (depth > 0 && result == AuResultSuccess) {
        Open& top = stack[depth - 1];
        if (top.left == 0) {
            --depth;
            continue;
        }
        if (read == count) {
            AuLog(AuLogLevel::Error, "bank: playlist %u: its groups name more items than it holds", key);
            result = AuResultBadHeader;
            break;
        }
        ReadItemFields(cursor, fields);
        ++read;
        --top.left;
        AuMusicPlaylistItem* item = NewInPool<AuMusicPlaylistItem>();
        if (!item) {
            result = AuResultFail;
            break;
        }
        ApplyItemFields(fields, *item);
        if (!top.group->children.AddLast(item)) {
            DeleteInPool(item);
            result = AuResultFail;
            break;
        }
        if (item->uWeight != AU_MUSIC_DEFAULT_WEIGHT) top.group->bWeighted = true;
        if (item->segmentID == 0 && fields.childCount) {
            if (depth == kMaxPlaylistDepth) {
                AuLog(AuLogLevel::Error, "bank: playlist %u: groups nested deeper than %u", key,
                      kMaxPlaylistDepth);
                result = AuResultBadHeader;
                break;
            }
            stack[depth++] = Open{item, fields.childCount};
        }
    }
    if (result == AuResultSuccess && read != count) {
        AuLog(AuLogLevel::Error, "bank: playlist %u: %u items lie outside its tree", key, count - read);
        result = AuResultBadHeader;
    }
    if (result != AuResultSuccess) ResetRoot();
    return result;
}

// ---- Track ----

CAuTrackNode* CAuTrackNode::Create(u32 id) {
    return MakeNode<CAuTrackNode>(id);
}

CAuTrackNode::~CAuTrackNode() {
    ClearSources();
    ClearAutomations();
    m_clips.Term();
    DeleteInPool(m_pSwitch);
}

void CAuTrackNode::ClearSources() {
    for (SourceEntry& entry : m_sources)
        DeleteInPool(entry.pInfo);
    m_sources.Term();
}

void CAuTrackNode::ClearAutomations() {
    for (AuMusicClipAutomation& automation : m_automations)
        FreeBytes(automation.pPoints);
    m_automations.Term();
}

AuSourceInfo* CAuTrackNode::FindSource(u32 sourceID) const {
    for (const SourceEntry& entry : m_sources)
        if (entry.sourceID == sourceID) return entry.pInfo;
    return nullptr;
}

u32 CAuTrackNode::SourceLookAhead(const AuSourceInfo& source) const {
    return IsMidiSource(source) ? 0 : m_uLookAhead;
}

AURESULT CAuTrackNode::Play(AuNodePlayParams&) {
    AuLog(AuLogLevel::Error, "music track %u: a track plays through its segment only", key);
    return AuResultFail;
}

AURESULT CAuTrackNode::PrepareData() {
    for (u32 i = 0; i < m_sources.Count(); ++i) {
        const AURESULT result = m_sources[i].pInfo->PrepareMedia();
        if (result == AuResultSuccess) continue;
        for (u32 done = 0; done < i; ++done)
            m_sources[done].pInfo->UnprepareMedia();
        return result;
    }
    return AuResultSuccess;
}

void CAuTrackNode::UnPrepareData() {
    for (SourceEntry& entry : m_sources)
        entry.pInfo->UnprepareMedia();
}

bool CAuTrackNode::NeedsReread() const {
    for (const SourceEntry& entry : m_sources)
        if (entry.pInfo->StorageKind() != 0 && !entry.pInfo->pData) return false;
    return true;
}

AURESULT CAuTrackNode::ReadSources(AuRecordCursor& cursor) {
    u32 count = 0;
    // A source record takes at least 14 bytes.
    if (!ReadCount(cursor, 14, count)) return AuResultBadHeader;
    ClearSources();
    for (u32 i = 0; i < count; ++i) {
        AuBankSourceRecord record;
        const AURESULT result = CAuBankMgr::LoadSource(cursor, record);
        if (result != AuResultSuccess) return result;
        if (FindSource(record.sourceID)) continue;
        AuSourceInfo* info = NewInPool<AuSourceInfo>();
        if (!info) return AuResultFail;
        if (!m_sources.AddLast(SourceEntry{record.sourceID, info})) {
            DeleteInPool(info);
            return AuResultFail;
        }
        record.ApplyTo(*info);
    }
    return AuResultSuccess;
}

AURESULT CAuTrackNode::ReadClips(AuRecordCursor& cursor) {
    u32 count = 0;
    if (!ReadCount(cursor, kClipSize, count)) return AuResultBadHeader;
    m_clips.Term();
    for (u32 i = 0; i < count; ++i) {
        u32 subTrack = 0, sourceID = 0;
        f64 playAt = 0, beginTrim = 0, endTrim = 0, sourceDuration = 0;
        cursor.Read(subTrack);
        cursor.Read(sourceID);
        ReadF64(cursor, playAt);
        ReadF64(cursor, beginTrim);
        ReadF64(cursor, endTrim);
        ReadF64(cursor, sourceDuration);
        AuMusicTrackClip clip{};
        clip.uSubTrack = subTrack;
        clip.sourceID = sourceID;
        clip.lStart = AuMusicMsToSamples(playAt + beginTrim);
        clip.lDuration = AuMusicMsToSamples(endTrim + sourceDuration - beginTrim);
        clip.lSourceDuration = AuMusicMsToSamples(sourceDuration);
        const i32 begin = AuMusicMsToSamples(beginTrim);
        if (clip.lSourceDuration > 0) {
            const i32 wrapped = begin % clip.lSourceDuration;
            clip.lSourceOffset = wrapped < 0 ? wrapped + clip.lSourceDuration : wrapped;
        } else {
            clip.lSourceOffset = 0;
        }
        if (clip.lDuration <= 0) continue;
        if (!m_clips.AddLast(clip)) return AuResultFail;
    }
    return AuResultSuccess;
}

AURESULT CAuTrackNode::ReadAutomations(AuRecordCursor& cursor) {
    u32 count = 0;
    if (!ReadCount(cursor, 12, count)) return AuResultBadHeader;
    ClearAutomations();
    if (count && !m_automations.Grow(count)) return AuResultFail;
    for (u32 i = 0; i < count; ++i) {
        AuMusicClipAutomation automation{};
        if (!cursor.Read(automation.uClipIndex) || !cursor.Read(automation.uType) ||
            !ReadCount(cursor, kPointSize, automation.uNumPoints))
            return AuResultBadHeader;
        if (automation.uNumPoints) {
            automation.pPoints =
                static_cast<AuCurvePoint*>(AllocBytes(u64{automation.uNumPoints} * sizeof(AuCurvePoint)));
            if (!automation.pPoints) return AuResultFail;
            for (u32 p = 0; p < automation.uNumPoints; ++p) {
                f32 seconds = 0;
                AuCurvePoint& point = automation.pPoints[p];
                cursor.Read(seconds);
                cursor.Read(point.y);
                cursor.Read(point.interpolation);
                point.x = static_cast<f32>(RoundToI32(f64(seconds) * g_OutputTiming.uSampleRate));
            }
        }
        m_automations.AddLast(automation);
    }
    return AuResultSuccess;
}

AURESULT CAuTrackNode::SetTrackType(u8 type) {
    if (type != AU_MUSIC_TRACK_SWITCH) {
        DeleteInPool(m_pSwitch);
        m_pSwitch = nullptr;
    } else if (!m_pSwitch) {
        m_pSwitch = NewInPool<AuMusicSwitchTrackParams>();
        if (!m_pSwitch) return AuResultNoMemory;
        m_pSwitch->uSyncType = 8;
    }
    m_uTrackType = type;
    return AuResultSuccess;
}

AURESULT CAuTrackNode::ReadSwitchParams(AuRecordCursor& cursor) {
    AuMusicSwitchTrackParams& s = *m_pSwitch;
    u32 count = 0;
    if (!cursor.Read(s.uGroupType) || !cursor.Read(s.uGroupID) || !cursor.Read(s.uDefaultValue) ||
        !ReadCount(cursor, 4, count))
        return AuResultBadHeader;
    s.subTrackValues.Term();
    if (count && !s.subTrackValues.Grow(count)) return AuResultNoMemory;
    for (u32 i = 0; i < count; ++i) {
        u32 value = 0;
        cursor.Read(value);
        s.subTrackValues.AddLast(value);
    }
    u32 outOffset = 0, inOffset = 0, syncType = 0;
    if (!cursor.Read(s.uFadeOutMs) || !cursor.Read(s.uFadeOutCurve) || !cursor.Read(outOffset) ||
        !cursor.Read(syncType) || !cursor.Read(s.uCueFilter) || !cursor.Read(s.uFadeInMs) ||
        !cursor.Read(s.uFadeInCurve) || !cursor.Read(inOffset))
        return AuResultBadHeader;
    s.uFadeOutOffset = AuMusicMsToSamplesU32(outOffset);
    s.uFadeInOffset = AuMusicMsToSamplesU32(inOffset);
    s.uSyncType = syncType & 0x1F;
    return AuResultSuccess;
}

AURESULT CAuTrackNode::SetInitialValues(const u8* payload, u32 size, bool present) {
    AuRecordCursor cursor(payload, size);
    u8 flags = 0;
    if (!cursor.Skip(4) || !cursor.Read(flags)) return AuResultBadHeader;
    m_uTrackFlags = static_cast<u8>(((flags >> 2) & 1 ? kOverrideMidiTarget : 0) |
                                    ((flags >> 1) & 1 ? kOverrideMidiTempo : 0));
    AURESULT result = ReadSources(cursor);
    if (result == AuResultSuccess) result = ReadClips(cursor);
    if (result != AuResultSuccess) return result;
    if (!cursor.Read(m_uNumSubTracks)) return AuResultBadHeader;
    result = ReadAutomations(cursor);
    if (result == AuResultSuccess) result = SetNodeBaseParams(cursor, present);
    if (result != AuResultSuccess || present) return result;
    u8 type = 0;
    if (!cursor.Read(type)) return AuResultBadHeader;
    if ((result = SetTrackType(type)) != AuResultSuccess) return result;
    if (type == AU_MUSIC_TRACK_SWITCH && (result = ReadSwitchParams(cursor)) != AuResultSuccess)
        return result;
    u32 lookAheadMs = 0;
    if (!cursor.Read(lookAheadMs)) return AuResultBadHeader;
    f32 scale = 1.0f;
    if (CAuMusicEngine* engine = g_pMusicEngine.load(std::memory_order_acquire))
        scale = engine->settings.fLookAheadScale;
    const i32 lookAhead = RoundToI32(f64(lookAheadMs) * scale * g_OutputTiming.uSampleRate * 0.001);
    m_uLookAhead = lookAhead > 0 ? static_cast<u32>(lookAhead) : 0;
    return AuResultSuccess;
}

// ---- Loader entries ----

namespace {

template <class Node> CAuIndexable* CreateNode(u32 id, const u8*, u32) {
    return Node::Create(id);
}
template <class Node> AURESULT ReadNode(CAuIndexable& object, const u8* payload, u32 size, bool present) {
    Node& node = static_cast<Node&>(object);
    const AURESULT result = node.SetInitialValues(payload, size, present);
    // A new container refused after its child list lets its children go, so that the loader's
    // release destroys it.
    if constexpr (std::is_base_of_v<CAuMusicNode, Node>) {
        if (result != AuResultSuccess && !present) node.RemoveAllChildren();
    }
    return result;
}
bool ReadTrackAgain(CAuIndexable& object) {
    return static_cast<CAuTrackNode&>(object).NeedsReread();
}

} // namespace

AuHierarchyLoaderEntry AuMusicSegmentLoaderEntry() {
    return {AuIndexNodes, &CreateNode<CAuSegmentNode>, &ReadNode<CAuSegmentNode>, nullptr, nullptr};
}
AuHierarchyLoaderEntry AuMusicTrackLoaderEntry() {
    return {AuIndexNodes, &CreateNode<CAuTrackNode>, &ReadNode<CAuTrackNode>, &ReadTrackAgain, nullptr};
}
AuHierarchyLoaderEntry AuMusicSwitchLoaderEntry() {
    return {AuIndexNodes, &CreateNode<CAuSwitchMusicNode>, &ReadNode<CAuSwitchMusicNode>, nullptr, nullptr};
}
AuHierarchyLoaderEntry AuMusicPlaylistLoaderEntry() {
    return {AuIndexNodes, &CreateNode<CAuPlaylistMusicNode>, &ReadNode<CAuPlaylistMusicNode>, nullptr,
            nullptr};
}
