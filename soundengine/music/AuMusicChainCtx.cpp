#include "music/AuMusicChainCtx.h"

#include "core/AuObjectIndex.h"
#include "core/AuOutputTiming.h"
#include "music/AuMusicSequencer.h"

#include <cmath>

namespace {

i32 SamplesToMs(i64 samples) {
    const f64 ms =
        std::round(static_cast<f64>(samples) * 1000.0 / static_cast<f64>(g_OutputTiming.uSampleRate));
    return ms >= 2147483647.0 ? 2147483647 : ms <= -2147483648.0 ? -2147483647 - 1 : static_cast<i32>(ms);
}

} // namespace

CAuSegmentChainCtx::CAuSegmentChainCtx(CAuMusicCtx* parent, CAuSegmentNode& node) noexcept
    : CAuMusicTopCtx(parent, &node), m_node(node) {
    m_node.AddRef();
    const i64 entry = m_node.EntryCue();
    for (u32 i = 0; i < m_node.NumMarkers(); ++i) {
        const AuMusicSegmentMarker& marker = m_node.Marker(i);
        // Without memory the notifications miss the user cues; the music still plays.
        if (marker.lPosition >= entry)
            m_markers.AddLast(AuMusicMarker{static_cast<u32>(marker.lPosition - entry), marker.pszName});
    }
}

CAuSegmentChainCtx::~CAuSegmentChainCtx() {
    while (AuMusicScheduledEntry* entry = m_item.pFirstEntry) {
        m_item.pFirstEntry = entry->pNext;
        AU::MemoryMgr::Free(g_DefaultPoolId, entry);
    }
    m_markers.Term();
    m_node.Release();
}

u64 CAuSegmentChainCtx::NextWindowClock() const {
    return Sequencer() ? Sequencer()->Clock() : 0;
}

AURESULT CAuSegmentChainCtx::Start(i64 position) noexcept {
    const i64 end = i64{m_node.ActiveDuration()} + m_node.PostExitDuration();
    if (position >= end) return AuResultFail;
    auto* segment = AuMusicNew<CAuSegmentCtx>(this, m_node, m_starter);
    if (!segment) return AuResultFail;
    segment->AddRef();
    segment->SetStartOffset(position);
    m_pSegment = segment;
    m_lEntryClock = static_cast<i64>(NextWindowClock()) - position;
    return AuResultSuccess;
}

void CAuSegmentChainCtx::DropSegment() noexcept {
    CAuSegmentCtx* segment = m_pSegment;
    if (!segment) return;
    m_pSegment = nullptr;
    // Its tracks and voices end now; the voices still let go of their tracks as they end.
    if (!segment->IsStopped()) segment->OnStopped(0);
    segment->Release();
}

void CAuSegmentChainCtx::ProcessWindow(u64 start, u32 length) noexcept {
    AddRef();
    const u32 n = IsStopping() && StopOffset() != AuMusicNoStopOffset ? StopOffset() : length;
    const i64 position = static_cast<i64>(start) - m_lEntryClock;
    if (CAuSegmentCtx* segment = m_pSegment) {
        if (segment->IsIdle() && IsPlaying()) segment->PlayWithFade({});
        if ((segment->IsPlaying() || segment->IsStopping()) && !segment->IsPaused())
            segment->ProcessWindow(position, n);
    }
    if (Sequencer()) Sequencer()->RunDueEntries(m_item, start, n);
    // The segment's end lies in this window: the play ends there.
    const i64 end = i64{m_node.ActiveDuration()} + m_node.PostExitDuration();
    if (IsPlaying() && position + n >= end) OnStopped(static_cast<u32>(end > position ? end - position : 0));
    Release();
}

CAuMusicChainItem* CAuSegmentChainCtx::PlayingItem() noexcept {
    return m_pSegment && !m_pSegment->IsStopped() && !IsStopped() ? &m_item : nullptr;
}

u32 CAuSegmentChainCtx::StateSyncTypes(CAuMusicChainItem* item, AuUniqueID groupID, u32* types,
                                       u32 max) noexcept {
    if (item != &m_item || max == 0) return 0;
    AuArray<u32> found;
    // The segment's tracks declare theirs first, then the segment and its ancestors.
    for (u32 i = 0; i < m_node.GetChildCount(); ++i)
        if (CAuNodeBase* track = m_node.Child(i)) track->CollectLinkedIDs(groupID, found);
    m_node.CollectLinkedIDsFromParents(groupID, found);
    u32 count = 0;
    for (u32 i = 0; i < found.Count() && count < max; ++i)
        types[count++] = found[i];
    found.Term();
    return count;
}

bool CAuSegmentChainCtx::NextSyncPosition(CAuMusicChainItem* item, u32 syncType, u32 cueFilter, u64 from,
                                          u64& position) noexcept {
    if (item != &m_item) return false;
    i64 found = 0;
    if (!m_node.GetSyncPosition(static_cast<i64>(from) - m_lEntryClock, syncType, cueFilter, false, found))
        return false;
    position = static_cast<u64>(m_lEntryClock + found);
    return true;
}

bool CAuSegmentChainCtx::ItemSegment(CAuMusicChainItem* item, AuMusicSegmentTimes& segment) noexcept {
    if (item != &m_item) return false;
    segment.uEntryPosition = static_cast<u64>(m_lEntryClock);
    segment.uActiveDuration = static_cast<u32>(m_node.ActiveDuration());
    segment.uPostExitDuration = static_cast<u32>(m_node.PostExitDuration());
    segment.time = m_node.GetTimeSettings();
    segment.pMarkers = m_markers.Count() ? &m_markers[0] : nullptr;
    segment.uNumMarkers = m_markers.Count();
    return true;
}

bool CAuSegmentChainCtx::TakeSegmentChanged() noexcept {
    const bool changed = m_bSegmentChanged;
    m_bSegmentChanged = false;
    return changed;
}

bool CAuSegmentChainCtx::FindStinger(CAuMusicChainItem* item, AuUniqueID triggerID,
                                     AuMusicStinger& stinger) noexcept {
    if (item != &m_item) return false;
    for (CAuNodeBase* node = &m_node; node; node = node->Parent()) {
        auto* music = dynamic_cast<CAuMusicNode*>(node);
        if (!music) break;
        for (u32 i = 0; i < music->NumStingers(); ++i)
            if (music->Stinger(i).triggerID == triggerID) {
                stinger = music->Stinger(i);
                return true;
            }
    }
    return false;
}

CAuMusicCtx* CAuSegmentChainCtx::CreateStingerContext(AuUniqueID segmentID, u32& length) noexcept {
    if (!g_pIndex) return nullptr;
    CAuIndexable* found = g_pIndex->GetNodePtrAndAddRef(segmentID, false);
    auto* segmentNode = dynamic_cast<CAuSegmentNode*>(found);
    if (!segmentNode) {
        if (found) found->Release();
        return nullptr;
    }
    auto* stinger = AuMusicNew<CAuSegmentCtx>(this, *segmentNode, m_starter);
    segmentNode->Release(); // the context holds its own
    if (!stinger) return nullptr;
    stinger->AddRef();
    // Its pre-entry plays before the sync point it lands on.
    stinger->SetStartOffset(-i64{segmentNode->EntryCue()});
    stinger->PlayWithFade({});
    const i64 left = i64{segmentNode->ActiveDuration()} + segmentNode->PostExitDuration();
    length = static_cast<u32>(left > 0 ? left : 0);
    return stinger;
}

void CAuSegmentChainCtx::ProcessStinger(CAuMusicCtx& stinger, i64 position, u32 length) noexcept {
    auto* segment = dynamic_cast<CAuSegmentCtx*>(&stinger);
    if (segment && (segment->IsPlaying() || segment->IsStopping()) && !segment->IsPaused())
        segment->ProcessWindow(position, length);
}

void CAuSegmentChainCtx::CancelStinger(CAuMusicCtx& stinger, i64 position) noexcept {
    auto* segment = dynamic_cast<CAuSegmentCtx*>(&stinger);
    // One that has not started plays nothing yet; one already ending is left to end.
    if (!segment || !segment->IsPlaying() || segment->IsStopping()) {
        if (!stinger.IsStopped() && !stinger.IsStopping()) stinger.OnStopped(0);
        return;
    }
    // It fades out over as long as it has played already, so that an early cancel is short.
    const i64 played = position - segment->StartOffset();
    segment->StopWithFade({played > 0 ? SamplesToMs(played) : 0, AuCurveInterpolation_Linear, 0},
                          AuMusicNoStopOffset);
}

void CAuSegmentChainCtx::SetStopped() noexcept {
    AuMusicScheduledEntry* taken = m_item.pFirstEntry;
    m_item.pFirstEntry = nullptr;
    DropSegment();
    CAuMusicTopCtx::SetStopped();
    // No segment plays any more: held state changes are applied.
    if (taken && Sequencer())
        Sequencer()->Reevaluate(taken);
    else
        while (AuMusicScheduledEntry* entry = taken) {
            taken = entry->pNext;
            AU::MemoryMgr::Free(g_DefaultPoolId, entry);
        }
}

AURESULT CAuSegmentChainCtx::GetSegmentInfo(AuSegmentInfo& info) noexcept {
    const i64 position = static_cast<i64>(NextWindowClock()) - m_lEntryClock;
    const i64 end = i64{m_node.ActiveDuration()} + m_node.PostExitDuration();
    info.iCurrentPosition = SamplesToMs(position);
    info.iPreEntryDuration = SamplesToMs(m_node.EntryCue());
    info.iActiveDuration = SamplesToMs(m_node.ActiveDuration());
    info.iPostExitDuration = SamplesToMs(m_node.PostExitDuration());
    info.iRemainingDuration = SamplesToMs(end > position ? end - position : 0);
    return AuResultSuccess;
}

bool CAuSegmentChainCtx::Seek(i64& position, bool nearestMarker) noexcept {
    if (!IsIdle() && !(IsPlaying() && !IsStopping())) return false;
    const i64 preEntry = m_node.EntryCue();
    if (position < -preEntry) position = -preEntry;
    if (nearestMarker) position = m_node.ClosestMarker(position);
    AuMusicScheduledEntry* taken = m_item.pFirstEntry;
    m_item.pFirstEntry = nullptr;
    DropSegment();
    const AURESULT started = Start(position);
    m_bSegmentChanged = true;
    if (started != AuResultSuccess) StopWithFade({0, AuCurveInterpolation_Linear, 0}, 0);
    if (Sequencer()) Sequencer()->Reevaluate(taken);
    return started == AuResultSuccess;
}

bool CAuSegmentChainCtx::SeekTime(i32& ms, bool nearestMarker) noexcept {
    const i64 perMs = g_OutputTiming.uSampleRate / 1000;
    i64 position = i64{ms} * perMs;
    if (!Seek(position, nearestMarker)) return false;
    if (nearestMarker) ms = SamplesToMs(position);
    return true;
}

bool CAuSegmentChainCtx::SeekPercent(f32& fraction, bool nearestMarker) noexcept {
    const i64 active = m_node.ActiveDuration();
    const f64 at = static_cast<f64>(fraction) * static_cast<f64>(active);
    // A fraction the bank cannot mean (NaN, infinities) seeks to the entry cue.
    i64 position = std::isfinite(at) ? static_cast<i64>(std::fmax(std::fmin(at, 4e18), -4e18)) : 0;
    if (!Seek(position, nearestMarker)) return false;
    if (nearestMarker && active > 0)
        fraction = static_cast<f32>(static_cast<f64>(position) / static_cast<f64>(active));
    return true;
}
