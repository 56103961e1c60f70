#include "music/AuMusicSegmentCtx.h"

#include "hierarchy/AuSourceInfo.h"

namespace {

template <class T> T* NewAction() {
    void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(T));
    return block ? new (block) T{} : nullptr;
}

template <class T> void FreeAction(T* action) {
    action->~T();
    AU::MemoryMgr::Free(g_DefaultPoolId, action);
}

// Inserted after the actions of equal time.
template <class T> void InsertByTime(T*& head, T* action) {
    T** link = &head;
    while (*link && (*link)->lTime <= action->lTime)
        link = &(*link)->pNext;
    action->pNext = *link;
    *link = action;
}

u32 ClampToU32(i64 value) {
    return value <= 0 ? 0u : value >= 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<u32>(value);
}

} // namespace

CAuTrackCtx::CAuTrackCtx(CAuMusicCtx* parent, CAuTrackNode& node, u32 subTrack,
                         IAuMusicClipStarter& starter) noexcept
    : CAuMusicCtx(parent), m_node(node), m_starter(starter), m_uSubTrack(subTrack) {
    m_node.AddRef();
}

CAuTrackCtx::~CAuTrackCtx() {
    while (AuMusicClipAction* action = m_pFirstAction) {
        m_pFirstAction = action->pNext;
        FreeAction(action);
    }
    m_node.Release();
}

void CAuTrackCtx::SetPlaying() noexcept {
    CAuMusicCtx::SetPlaying();
    if (m_bStarted) return;
    m_bStarted = true;
    ScheduleClips();
}

void CAuTrackCtx::ScheduleClips() noexcept {
    const i64 start = m_lStartOffset;
    for (u32 i = 0; i < m_node.NumClips(); ++i) {
        const AuMusicTrackClip& clip = m_node.Clip(i);
        if (clip.uSubTrack != m_uSubTrack) continue;
        const AuSourceInfo* source = m_node.FindSource(clip.sourceID);
        if (!source) continue;
        const i64 playAt = clip.lStart;
        const i64 end = playAt + clip.lDuration;
        if (end <= start) continue;
        // Prefetched data covers a clip that starts from its source's beginning.
        u32 lookAhead = 0;
        if (source->StorageKind() == AuSourceStorage_Streamed &&
            !((source->flags & AU_SOURCE_STREAM_TYPE_1) && start <= playAt && clip.lSourceOffset == 0))
            lookAhead = m_node.SourceLookAhead(*source);
        AuMusicClipAction* action = NewAction<AuMusicClipAction>();
        if (!action) continue;
        action->uKind = AuMusicClipAction::kStartClip;
        action->clip = clip;
        action->uLookAhead = lookAhead;
        if (playAt < start) {
            const i64 duration = clip.lSourceDuration > 0 ? clip.lSourceDuration : 1;
            i64 offset = (clip.lSourceOffset - playAt + start) % duration;
            if (offset < 0) offset += duration;
            action->lTime = start - lookAhead;
            action->uSourceOffset = static_cast<u32>(offset);
            action->uDurationLeft = ClampToU32(end - start);
        } else {
            action->lTime = playAt - lookAhead;
            action->uSourceOffset = ClampToU32(clip.lSourceOffset);
            action->uDurationLeft = ClampToU32(clip.lDuration);
        }
        Enqueue(action);
    }
}

void CAuTrackCtx::Enqueue(AuMusicClipAction* action) noexcept {
    InsertByTime(m_pFirstAction, action);
}

void CAuTrackCtx::ProcessWindow(i64 position, u32 length) noexcept {
    AddRef();
    m_lPosition = position;
    const u32 n = IsStopping() && StopOffset() != AuMusicNoStopOffset ? StopOffset() : length;
    while (m_pFirstAction && m_pFirstAction->lTime < position + n) {
        AuMusicClipAction* action = m_pFirstAction;
        m_pFirstAction = action->pNext;
        RunAction(*action, position, n);
        FreeAction(action);
    }
    Release();
}

void CAuTrackCtx::RunAction(AuMusicClipAction& action, i64 windowStart, u32 length) noexcept {
    const i64 t = action.lTime - windowStart;
    if (action.uKind == AuMusicClipAction::kStopClip) {
        action.pSource->Terminate(static_cast<u32>(t < 0 ? 0 : t));
        return;
    }
    static_cast<void>(length);
    // Where the clip itself begins in the window: its look-ahead is streamed before it.
    CAuMusicChild* source = m_starter.StartClip(*this, m_node, action.clip, action.uSourceOffset,
                                                static_cast<i32>(t + action.uLookAhead));
    if (!source) return;
    if (IsStopping()) {
        source->Terminate(StopOffset());
        return;
    }
    AuMusicClipAction* stop = NewAction<AuMusicClipAction>();
    if (!stop) {
        source->Terminate(0);
        return;
    }
    stop->uKind = AuMusicClipAction::kStopClip;
    stop->lTime = i64{action.clip.lStart} + action.clip.lDuration;
    stop->pSource = source;
    Enqueue(stop);
}

void CAuTrackCtx::DropQueuedActions(CAuMusicPlaybackInstance* instance) noexcept {
    CAuMusicChild* source = instance;
    for (AuMusicClipAction** link = &m_pFirstAction; *link;) {
        AuMusicClipAction* action = *link;
        if (action->uKind == AuMusicClipAction::kStopClip && action->pSource == source) {
            *link = action->pNext;
            FreeAction(action);
        } else {
            link = &action->pNext;
        }
    }
}

bool CAuTrackCtx::VirtualReturnPosition(CAuMusicPlaybackInstance* instance, u32 lookAhead,
                                        u32& sourcePosition) noexcept {
    if (IsStopping() || IsStopped()) return false;
    const AuMusicTrackClip& clip = instance->Clip();
    const i64 position = m_lPosition + lookAhead;
    if (position >= i64{clip.lStart} + clip.lDuration) return false;
    const i64 duration = clip.lSourceDuration > 0 ? clip.lSourceDuration : 1;
    i64 offset = (clip.lSourceOffset + position - clip.lStart) % duration;
    if (offset < 0) offset += duration;
    sourcePosition = static_cast<u32>(offset);
    return true;
}

CAuSegmentCtx::CAuSegmentCtx(CAuMusicCtx* parent, CAuSegmentNode& node, IAuMusicClipStarter& starter) noexcept
    : CAuMusicCtx(parent), m_node(node), m_starter(starter) {
    m_node.AddRef();
}

CAuSegmentCtx::~CAuSegmentCtx() {
    while (AuMusicSegmentAction* action = m_pFirstAction) {
        m_pFirstAction = action->pNext;
        FreeAction(action);
    }
    m_node.Release();
}

i64 CAuSegmentCtx::PreEntryDuration() const {
    return m_node.NumMarkers() ? m_node.Marker(0).lPosition : 0;
}

void CAuSegmentCtx::SetPlaying() noexcept {
    CAuMusicCtx::SetPlaying();
    if (m_bScheduled) return;
    m_bScheduled = true;
    for (u32 i = 0; i < m_node.GetChildCount(); ++i) {
        auto* track = dynamic_cast<CAuTrackNode*>(m_node.Child(i));
        if (!track || track->TrackType() == AU_MUSIC_TRACK_SWITCH) continue;
        AuMusicSegmentAction* action = NewAction<AuMusicSegmentAction>();
        if (!action) continue;
        action->lTime = m_lStartOffset;
        action->pTrack = track;
        action->uSubTrack = 0;
        action->lSourceOffset = m_lStartOffset;
        Enqueue(action);
    }
}

void CAuSegmentCtx::Enqueue(AuMusicSegmentAction* action) noexcept {
    InsertByTime(m_pFirstAction, action);
}

CAuTrackCtx* CAuSegmentCtx::FindTrack(const CAuTrackNode& track, u32 subTrack) const noexcept {
    for (CAuMusicChild* child = FirstChild(); child; child = child->pNextSibling) {
        auto* context = dynamic_cast<CAuTrackCtx*>(child);
        if (context && &context->Node() == &track && context->SubTrack() == subTrack &&
            (context->IsIdle() || context->IsPlaying()))
            return context;
    }
    return nullptr;
}

void CAuSegmentCtx::StartSubTrack(const AuMusicSegmentAction& action) noexcept {
    if (FindTrack(*action.pTrack, action.uSubTrack)) return;
    auto* track = AuMusicNew<CAuTrackCtx>(this, *action.pTrack, action.uSubTrack, m_starter);
    if (!track) return;
    track->AddRef();
    track->bHeldBySegment = true;
    track->SetStartOffset(PreEntryDuration() + action.lSourceOffset);
    track->PlayWithFade(action.fade);
    if (IsStopping()) track->OnStopped(StopOffset());
}

void CAuSegmentCtx::ProcessWindow(i64 start, u32 length) noexcept {
    AddRef();
    const u32 n = IsStopping() && StopOffset() != AuMusicNoStopOffset ? StopOffset() : length;
    while (m_pFirstAction && m_pFirstAction->lTime < start + n) {
        AuMusicSegmentAction* action = m_pFirstAction;
        m_pFirstAction = action->pNext;
        StartSubTrack(*action);
        FreeAction(action);
    }
    const i64 position = PreEntryDuration() + start;
    ForEachChild([position, n](CAuMusicChild& child) {
        auto* track = dynamic_cast<CAuTrackCtx*>(&child);
        if (track && (track->IsPlaying() || track->IsStopping()) && !track->IsPaused())
            track->ProcessWindow(position, n);
    });
    ReleaseStoppedTracks();
    Release();
}

void CAuSegmentCtx::SetStopped() noexcept {
    CAuMusicCtx::SetStopped();
    ReleaseStoppedTracks();
}

void CAuSegmentCtx::ReleaseStoppedTracks() noexcept {
    ForEachChild([](CAuMusicChild& child) {
        auto* track = dynamic_cast<CAuTrackCtx*>(&child);
        if (!track || !track->bHeldBySegment || !track->IsStopped()) return;
        track->bHeldBySegment = false;
        track->Release();
    });
}
