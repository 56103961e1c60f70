#include "music/AuMusicSequencer.h"

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
}

CAuMusicSequencer::~CAuMusicSequencer() {
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
            if (m_pContext->NextSyncPosition(in, types[i], m_uClock, at) && (!any || at < found)) {
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
    }
}

void CAuMusicSequencer::Reevaluate(AuMusicScheduledEntry* entries) noexcept {
    while (AuMusicScheduledEntry* entry = entries) {
        entries = entry->pNext;
        if (entry->uKind == AuMusicScheduledEntry::kStateChange)
            MusicEngineOnStateSyncRecheck(static_cast<AuPendingStateChange*>(entry->pCookie));
        AU::MemoryMgr::Free(g_DefaultPoolId, entry);
    }
}
