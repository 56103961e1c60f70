#include "music/AuMusicSequencer.h"

#include "core/AuOutputTiming.h"
#include "core/AuPlayingMgr.h"
#include "core/AuRegistryMgr.h"
#include "music/AuMusicEngine.h"

#include <cmath>

namespace {

// More sync types than any segment declares for one group.
constexpr u32 kMaxSyncTypes = 16;

} // namespace

CAuMusicSequencer::CAuMusicSequencer(CAuMusicTopCtx* context, const AuMusicPlayParams& params) noexcept
    : m_pContext(context), m_playingID(params.playingID), m_gameObjID(params.gameObjID),
      m_pGameObj(params.pGameObj), m_fade(params.fade) {
    if (m_pGameObj) m_pGameObj->AddRef();
    IAuTriggerRegistry* triggers = AuGetTriggerRegistry();
    if (triggers && triggers->RegisterTrigger(this, m_pGameObj) == AuResultSuccess) m_pTriggers = triggers;
}

CAuMusicSequencer::~CAuMusicSequencer() {
    if (m_pTriggers) m_pTriggers->UnregisterTrigger(this, m_pGameObj);
    ReleaseStingers();
    if (m_pGameObj) m_pGameObj->Release();
}

f32 CAuMusicSequencer::UsableSpeed(f32 speed) noexcept {
    return std::isfinite(speed) && speed > 0.0f ? speed : 1.0f;
}

u32 CAuMusicSequencer::FrameStep(u32 frameSamples, f32 speed) noexcept {
    const f64 step = std::round(static_cast<f64>(frameSamples) * static_cast<f64>(speed));
    // A speed beyond any sensible tempo still advances by a count the clock can hold.
    return step >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<u32>(step);
}

void CAuMusicSequencer::NextFrame(u32 frameSamples) noexcept {
    CAuMusicTopCtx* context = m_pContext;
    context->AddRef();
    if ((context->IsPlaying() || context->IsStopping()) && !context->IsPaused()) {
        if (!m_bSpeedCurrent) {
            if (CAuMusicChainItem* item = context->PlayingItem()) {
                IAuMusicNode* node = context->ItemNode(item);
                m_fSpeed = UsableSpeed(node ? node->PlaybackSpeed() : 1.0f);
                m_bSpeedCurrent = true;
                // The voices' pitch follows: 1200 x log2(speed) cents.
                context->SetParamValue(AuMusicParam_PlaybackSpeed, m_fSpeed);
            }
        }
        const u32 step = FrameStep(frameSamples, m_fSpeed);
        context->ProcessWindow(m_uClock, step);
        RunStingers(m_uClock, step);
        NotifyWindow(m_uClock, step);
        m_midiRouter.NextFrame(step, m_fSpeed);
        m_uClock += step;
        context->OnLastFrame();
        if (context->TakeSegmentChanged()) m_bSpeedCurrent = false;
    }
    // The stopped root is let go; its last release ends the play and this sequencer with it.
    if (context->IsStopped() && m_bHoldsContext) {
        m_bHoldsContext = false;
        context->Release();
    }
    context->Release();
}

AURESULT CAuMusicSequencer::ScheduleStateChange(AuPendingStateChange* record, u32 lookAhead,
                                                u64 position) noexcept {
    CAuMusicChainItem* item = m_pContext->PlayingItem();
    for (u32 i = 0; item && i < lookAhead; ++i)
        item = m_pContext->NextItem(item);
    if (!item) return AuResultFail;
    auto* entry = static_cast<AuMusicScheduledEntry*>(
        AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(AuMusicScheduledEntry)));
    if (!entry) return AuResultFail;
    *entry = AuMusicScheduledEntry{position, AuMusicScheduledEntry::kStateChange, record, item->pFirstEntry};
    item->pFirstEntry = entry;
    return AuResultSuccess;
}

u64 CAuMusicSequencer::TimeToNextStateSync(AuUniqueID groupID, u64& position, u32& lookAhead) noexcept {
    CAuMusicChainItem* item = m_pContext->PlayingItem();
    if (!item) return 0;
    u32 types[kMaxSyncTypes];
    const u32 count = m_pContext->StateSyncTypes(item, groupID, types, kMaxSyncTypes);
    if (count == 0) return 0;
    const auto earliest = [&](CAuMusicChainItem* in, u64& found) {
        bool any = false;
        for (u32 i = 0; i < count; ++i) {
            u64 at = 0;
            if (m_pContext->NextSyncPosition(in, types[i], 0, m_uClock, at) && (!any || at < found)) {
                found = at;
                any = true;
            }
        }
        return any;
    };
    lookAhead = 0;
    if (!earliest(item, position)) {
        CAuMusicChainItem* next = m_pContext->NextItem(item);
        if (!next || !earliest(next, position)) return 0;
        lookAhead = 1;
    }
    return position > m_uClock ? position - m_uClock : 0;
}

void CAuMusicSequencer::RunDueEntries(CAuMusicChainItem& item, u64 start, u32 length) noexcept {
    AuMusicScheduledEntry** link = &item.pFirstEntry;
    while (AuMusicScheduledEntry* entry = *link) {
        if (entry->uTime >= start + length) {
            link = &entry->pNext;
            continue;
        }
        *link = entry->pNext;
        void* cookie = entry->pCookie;
        const u32 kind = entry->uKind;
        AU::MemoryMgr::Free(g_DefaultPoolId, entry);
        if (kind == AuMusicScheduledEntry::kStateChange)
            MusicEngineOnStateSyncReached(static_cast<AuPendingStateChange*>(cookie));
        else if (AuMusicStingerRecord* record = ListedStinger(cookie))
            record->bScheduled = false;
    }
}

void CAuMusicSequencer::Reevaluate(AuMusicScheduledEntry* entries) noexcept {
    while (AuMusicScheduledEntry* entry = entries) {
        entries = entry->pNext;
        if (entry->uKind == AuMusicScheduledEntry::kStateChange) {
            MusicEngineOnStateSyncRecheck(static_cast<AuPendingStateChange*>(entry->pCookie));
        } else if (AuMusicStingerRecord* record = ListedStinger(entry->pCookie)) {
            record->bScheduled = false;
            if (record->pContext)
                m_pContext->CancelStinger(*record->pContext,
                                          static_cast<i64>(m_uClock) - static_cast<i64>(record->uTime));
            record->triggeredID = 0;
            if (record->bRetrigger) TriggerStinger(record->stingerTriggerID, true);
        }
        AU::MemoryMgr::Free(g_DefaultPoolId, entry);
    }
}

AuMusicStingerRecord* CAuMusicSequencer::ListedStinger(const void* cookie) const noexcept {
    for (AuMusicStingerRecord* record = m_pFirstStinger; record; record = record->pNext)
        if (record == cookie) return record;
    return nullptr;
}

void CAuMusicSequencer::TriggerStinger(AuUniqueID triggerID, bool retrigger) noexcept {
    // A stopped play takes no new stingers: its records are gone already.
    if (m_pContext->IsStopped()) return;
    CAuMusicChainItem* playing = m_pContext->PlayingItem();
    if (!playing) return;
    AuMusicStinger stinger{};
    if (!m_pContext->FindStinger(playing, triggerID, stinger)) return;
    for (const AuMusicStingerRecord* record = m_pFirstStinger; record; record = record->pNext)
        if (record->triggeredID == triggerID && m_uClock < record->uTime + record->uDontRepeat) return;

    u32 length = 0;
    CAuMusicCtx* segment = nullptr;
    if (stinger.segmentID != 0 && !(segment = m_pContext->CreateStingerContext(stinger.segmentID, length)))
        return;
    CAuMusicChainItem* item = retrigger ? m_pContext->NextItem(playing) : playing;
    u64 position = 0;
    bool found =
        item && m_pContext->NextSyncPosition(item, stinger.uSyncType, stinger.uCueFilter, m_uClock, position);
    bool lookedAhead = false;
    if (!found && !retrigger && stinger.uLookAhead == 1) {
        item = m_pContext->NextItem(playing);
        found = item &&
                m_pContext->NextSyncPosition(item, stinger.uSyncType, stinger.uCueFilter, m_uClock, position);
        lookedAhead = true;
    }
    auto* record = found ? static_cast<AuMusicStingerRecord*>(
                               AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(AuMusicStingerRecord)))
                         : nullptr;
    auto* entry = record ? static_cast<AuMusicScheduledEntry*>(
                               AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(AuMusicScheduledEntry)))
                         : nullptr;
    if (!entry) {
        if (record) AU::MemoryMgr::Free(g_DefaultPoolId, record);
        if (segment) segment->Release();
        return;
    }
    // Milliseconds to samples in whole samples per millisecond, as the bank's times are meant.
    const u64 dontRepeat = u64{g_OutputTiming.uSampleRate / 1000} * stinger.uDontRepeatMs;
    *record = AuMusicStingerRecord{m_pFirstStinger,
                                   segment,
                                   stinger.triggerID,
                                   stinger.segmentID,
                                   position,
                                   dontRepeat,
                                   triggerID,
                                   length,
                                   !lookedAhead && !retrigger && stinger.uLookAhead != 0,
                                   true};
    m_pFirstStinger = record;
    *entry = AuMusicScheduledEntry{position, AuMusicScheduledEntry::kStinger, record, item->pFirstEntry};
    item->pFirstEntry = entry;
}

void CAuMusicSequencer::RunStingers(u64 start, u32 length) noexcept {
    const u64 end = start + length;
    for (AuMusicStingerRecord** link = &m_pFirstStinger; AuMusicStingerRecord* record = *link;) {
        if (record->pContext)
            m_pContext->ProcessStinger(*record->pContext,
                                       static_cast<i64>(start) - static_cast<i64>(record->uTime), length);
        const bool segmentOver =
            !record->pContext || record->pContext->IsStopped() || end >= record->uTime + record->uLength;
        if (record->bScheduled || end < record->uTime + record->uDontRepeat || !segmentOver) {
            link = &record->pNext;
            continue;
        }
        *link = record->pNext;
        if (record->pContext) record->pContext->Release();
        AU::MemoryMgr::Free(g_DefaultPoolId, record);
    }
}

void CAuMusicSequencer::ReleaseStingers() noexcept {
    while (AuMusicStingerRecord* record = m_pFirstStinger) {
        m_pFirstStinger = record->pNext;
        if (record->pContext) record->pContext->Release();
        AU::MemoryMgr::Free(g_DefaultPoolId, record);
    }
}

u64 CAuMusicSequencer::CountPoints(i64 from, i64 to, u32 period, u32 offset) noexcept {
    if (period == 0 || to <= from) return 0;
    const i64 first =
        from <= i64{offset} ? i64{offset} : i64{offset} + (from - offset + period - 1) / period * period;
    return first < to ? static_cast<u64>((to - 1 - first) / period) + 1 : 0;
}

void CAuMusicSequencer::NotifyWindow(u64 start, u32 length) noexcept {
    constexpr u32 kSyncBits = AU_MusicSyncBeat | AU_MusicSyncBar | AU_MusicSyncEntry | AU_MusicSyncExit |
                              AU_MusicSyncGrid | AU_MusicSyncUserCue;
    const u32 wanted = m_pContext->PlayFlags() & kSyncBits;
    if (!wanted || !g_pPlayingMgr || m_pContext->Parent()) return;
    const f64 perSecond = static_cast<f64>(g_OutputTiming.uSampleRate) * static_cast<f64>(m_fSpeed);
    const auto post = [&](AuCallbackType type, const AuMusicSegmentTimes& segment, const char* cue) {
        AuMusicSyncCallbackInfo info{};
        info.fBeatDuration = static_cast<f32>(segment.time.uBeatDuration / perSecond);
        info.fBarDuration = static_cast<f32>(segment.time.uBarDuration / perSecond);
        info.fGridDuration = static_cast<f32>(segment.time.uGridPeriod / perSecond);
        info.fGridOffset = static_cast<f32>(segment.time.uGridOffset / perSecond);
        info.pszUserCueName = cue;
        g_pPlayingMgr->NotifyMusicSync(m_playingID, type, info);
    };
    for (CAuMusicChainItem* item = m_pContext->PlayingItem(); item; item = m_pContext->NextItem(item)) {
        AuMusicSegmentTimes segment{};
        if (!m_pContext->ItemSegment(item, segment)) continue;
        const i64 w = static_cast<i64>(start) - static_cast<i64>(segment.uEntryPosition);
        const i64 end = w + length;
        const i64 active = segment.uActiveDuration;
        if (wanted & AU_MusicSyncUserCue)
            for (u32 i = 0; i < segment.uNumMarkers; ++i) {
                const i64 at = segment.pMarkers[i].uPosition;
                if (at > 0 && at < active && at >= w && at < end)
                    post(AU_MusicSyncUserCue, segment, segment.pMarkers[i].pszName);
            }
        if ((wanted & AU_MusicSyncEntry) && w <= 0 && end > 0) post(AU_MusicSyncEntry, segment, nullptr);
        // Bars, beats and grid lines of the active part only.
        const i64 from = w > 0 ? w : 0;
        const i64 to = end < active ? end : active;
        const struct {
            AuCallbackType type;
            u32 period;
            u32 offset;
        } grids[] = {{AU_MusicSyncBar, segment.time.uBarDuration, 0},
                     {AU_MusicSyncBeat, segment.time.uBeatDuration, 0},
                     {AU_MusicSyncGrid, segment.time.uGridPeriod, segment.time.uGridOffset}};
        for (const auto& grid : grids) {
            if (!(wanted & grid.type)) continue;
            for (u64 n = CountPoints(from, to, grid.period, grid.offset); n > 0; --n)
                post(grid.type, segment, nullptr);
        }
        if ((wanted & AU_MusicSyncExit) && active >= w && active < end)
            post(AU_MusicSyncExit, segment, nullptr);
        // The window ends within this segment: nothing of it reaches the next.
        if (end <= active + i64{segment.uPostExitDuration}) break;
    }
}
