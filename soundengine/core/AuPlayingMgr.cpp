#include "core/AuPlayingMgr.h"

#include "core/AuAudioMgr.h"
#include "core/AuExternalSources.h"
#include "core/AuPositionRepository.h"

#include <AU/MemoryMgr.h>

CAuPlayingMgr* g_pPlayingMgr = nullptr;

AURESULT CAuBusCallbackMgr::Init() {
    InitializeCriticalSection(&m_lock);
    m_bLockMade = true;
    return AuResultSuccess;
}

void CAuBusCallbackMgr::Term() {
    m_volume.Term();
    m_metering.Term();
    if (m_bLockMade) DeleteCriticalSection(&m_lock);
    m_bLockMade = false;
}

AURESULT CAuBusCallbackMgr::SetVolumeCallback(AuUniqueID busID, AuBusCallbackFunc callback) {
    EnterCriticalSection(&m_lock);
    AURESULT result = AuResultSuccess;
    const u32 index = m_volume.IndexOf([busID](const VolumeEntry& e) { return e.busID == busID; });
    if (!callback)
        m_volume.EraseSwap(index);
    else if (index < m_volume.Count())
        m_volume[index].callback = callback;
    else if (!m_volume.AddLast({busID, callback}))
        result = AuResultNoMemory;
    LeaveCriticalSection(&m_lock);
    return result;
}

AURESULT CAuBusCallbackMgr::SetMeteringCallback(AuUniqueID busID, AuBusMeteringCallbackFunc callback,
                                                AuMeteringFlags flags) {
    EnterCriticalSection(&m_lock);
    AURESULT result = AuResultSuccess;
    const u32 index = m_metering.IndexOf([busID](const MeteringEntry& e) { return e.busID == busID; });
    if (!callback)
        m_metering.EraseSwap(index);
    else if (index < m_metering.Count())
        m_metering[index] = {busID, callback, flags};
    else if (!m_metering.AddLast({busID, callback, flags}))
        result = AuResultNoMemory;
    LeaveCriticalSection(&m_lock);
    return result;
}

bool CAuBusCallbackMgr::DoVolumeCallback(AuUniqueID busID, AuSpeakerVolumeMatrixCallbackInfo* info) noexcept {
    EnterCriticalSection(&m_lock);
    const u32 index = m_volume.IndexOf([busID](const VolumeEntry& e) { return e.busID == busID; });
    const bool found = index < m_volume.Count();
    if (found) m_volume[index].callback(info);
    LeaveCriticalSection(&m_lock);
    return found;
}

bool CAuBusCallbackMgr::DoMeteringCallback(AuUniqueID busID, AU::IAuMetering* metering,
                                           AuChannelConfig config) noexcept {
    EnterCriticalSection(&m_lock);
    const u32 index = m_metering.IndexOf([busID](const MeteringEntry& e) { return e.busID == busID; });
    const bool found = index < m_metering.Count();
    if (found) m_metering[index].callback(metering, config, m_metering[index].flags);
    LeaveCriticalSection(&m_lock);
    return found;
}

AuMeteringFlags CAuBusCallbackMgr::GetMeteringFlags(AuUniqueID busID) {
    EnterCriticalSection(&m_lock);
    const u32 index = m_metering.IndexOf([busID](const MeteringEntry& e) { return e.busID == busID; });
    const AuMeteringFlags flags = index < m_metering.Count() ? m_metering[index].flags : AU_NoMetering;
    LeaveCriticalSection(&m_lock);
    return flags;
}

bool CAuBusCallbackMgr::HasVolumeCallback(AuUniqueID busID) {
    EnterCriticalSection(&m_lock);
    const bool found =
        m_volume.IndexOf([busID](const VolumeEntry& e) { return e.busID == busID; }) < m_volume.Count();
    LeaveCriticalSection(&m_lock);
    return found;
}

AURESULT CAuPlayingMgr::Init() {
    m_hCallbackEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    if (!m_hCallbackEvent) return AuResultFail;
    InitializeCriticalSection(&m_lock);
    m_bLockMade = true;
    return m_busCallbacks.Init();
}

void CAuPlayingMgr::Term() {
    for (AuPlayingRecord*& head : m_buckets)
        while (AuPlayingRecord* record = head) {
            head = record->pNextItem;
            FreeRecord(record);
        }
    m_uNumRecords = 0;
    m_busCallbacks.Term();
    if (m_hCallbackEvent) CloseHandle(m_hCallbackEvent);
    m_hCallbackEvent = nullptr;
    if (m_bLockMade) DeleteCriticalSection(&m_lock);
    m_bLockMade = false;
}

AuPlayingRecord* CAuPlayingMgr::Find(AuPlayingID playingID) {
    for (AuPlayingRecord* record = m_buckets[playingID % kNumBuckets]; record; record = record->pNextItem)
        if (record->playingID == playingID) return record;
    return nullptr;
}

void CAuPlayingMgr::FreeRecord(AuPlayingRecord* record) {
    if (record->pExternalSources) record->pExternalSources->Release();
    AU::MemoryMgr::Free(g_DefaultPoolId, record);
}

AURESULT CAuPlayingMgr::AddPlayingID(AuPlayingID playingID, u32 gameObj, AuUniqueID eventID,
                                     AuCallbackFunc callback, void* cookie, u32 flags,
                                     AuExternalSourceArray* externalSources) {
    auto* record =
        static_cast<AuPlayingRecord*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(AuPlayingRecord)));
    if (!record) return AuResultNoMemory;
    if (!callback) flags &= ~AU_CALLBACK_BITS_WITHOUT_CALLBACK;
    *record =
        AuPlayingRecord{0, 1, eventID, gameObj, externalSources, playingID, callback, cookie, flags, nullptr};
    if (externalSources) externalSources->AddRef();
    EnterCriticalSection(&m_lock);
    AuPlayingRecord*& head = m_buckets[playingID % kNumBuckets];
    record->pNextItem = head;
    head = record;
    ++m_uNumRecords;
    LeaveCriticalSection(&m_lock);
    return AuResultSuccess;
}

AURESULT CAuPlayingMgr::AddInstance(AuPlayingID playingID, u32& flags) {
    EnterCriticalSection(&m_lock);
    if (AuPlayingRecord* record = Find(playingID)) {
        ++record->uNumInstances;
        flags = record->uFlags;
    }
    LeaveCriticalSection(&m_lock);
    return AuResultSuccess;
}

void CAuPlayingMgr::RemoveInstance(AuPlayingID playingID) {
    EnterCriticalSection(&m_lock);
    AuPlayingRecord* record = Find(playingID);
    if (record && record->uNumInstances) --record->uNumInstances;
    CheckEndAndLeave(record);
}

void CAuPlayingMgr::AddPendingAction(AuPlayingID playingID) {
    if (!playingID) return;
    EnterCriticalSection(&m_lock);
    if (AuPlayingRecord* record = Find(playingID)) ++record->uNumPendingActions;
    LeaveCriticalSection(&m_lock);
}

void CAuPlayingMgr::RemovePendingAction(AuPlayingID playingID) {
    EnterCriticalSection(&m_lock);
    AuPlayingRecord* record = Find(playingID);
    if (record && record->uNumPendingActions) --record->uNumPendingActions;
    CheckEndAndLeave(record);
}

void CAuPlayingMgr::CheckEndAndLeave(AuPlayingRecord* record) {
    if (!record || record->uNumInstances || record->uNumPendingActions) {
        LeaveCriticalSection(&m_lock);
        return;
    }
    if (g_pPositionRepository) {
        if (record->uFlags & AU_EnableGetSourcePlayPosition)
            g_pPositionRepository->RemovePlayingID(record->playingID);
        if (record->uFlags & AU_EnableGetSourceStreamBuffering)
            g_pPositionRepository->RemoveStreamBuffering(record->playingID);
    }
    AuPlayingRecord** link = &m_buckets[record->playingID % kNumBuckets];
    while (*link != record)
        link = &(*link)->pNextItem;
    *link = record->pNextItem;
    --m_uNumRecords;
    const AuCallbackFunc callback = record->pfnCallback;
    const bool tell = (record->uFlags & AU_EndOfEvent) && callback;
    AuEventCallbackInfo info;
    info.pCookie = record->pCookie;
    info.gameObjID = record->gameObj;
    info.playingID = record->playingID;
    info.eventID = record->eventID;
    FreeRecord(record);
    if (tell)
        CallAndLeave(callback, AU_EndOfEvent, &info);
    else
        LeaveCriticalSection(&m_lock);
}

void CAuPlayingMgr::CallAndLeave(AuCallbackFunc callback, AuCallbackType type,
                                 AuCallbackInfo* info) noexcept {
    if (m_uRunningCallbacks++ == 0) {
        ResetEvent(m_hCallbackEvent);
        m_callbackThread = GetCurrentThreadId();
    }
    LeaveCriticalSection(&m_lock);
    callback(type, info);
    EnterCriticalSection(&m_lock);
    if (--m_uRunningCallbacks == 0) {
        m_callbackThread = 0;
        SetEvent(m_hCallbackEvent);
    }
    LeaveCriticalSection(&m_lock);
}

u32 CAuPlayingMgr::GetGameObjFromPlayingID(AuPlayingID playingID) {
    EnterCriticalSection(&m_lock);
    const AuPlayingRecord* record = Find(playingID);
    const u32 gameObj = record ? record->gameObj : 0xFFFFFFFFu;
    LeaveCriticalSection(&m_lock);
    return gameObj;
}

bool CAuPlayingMgr::IsLive(AuPlayingID playingID) {
    EnterCriticalSection(&m_lock);
    const bool live = Find(playingID) != nullptr;
    LeaveCriticalSection(&m_lock);
    return live;
}

u32 CAuPlayingMgr::NumRecords() {
    EnterCriticalSection(&m_lock);
    const u32 count = m_uNumRecords;
    LeaveCriticalSection(&m_lock);
    return count;
}

void CAuPlayingMgr::WaitForRunningCallbacks() {
    // The thread that runs the callbacks (the audio thread, or a writer running a pass) would
    // wait for itself.
    const DWORD self = GetCurrentThreadId();
    if (g_pAudioMgr && g_pAudioMgr->AudioThreadId() == self) return;
    EnterCriticalSection(&m_lock);
    const bool mine = m_uRunningCallbacks && m_callbackThread == self;
    LeaveCriticalSection(&m_lock);
    if (!mine) WaitForSingleObject(m_hCallbackEvent, INFINITE);
}

void CAuPlayingMgr::CancelEventCallback(AuPlayingID playingID) {
    EnterCriticalSection(&m_lock);
    if (AuPlayingRecord* record = Find(playingID)) {
        record->pfnCallback = nullptr;
        record->uFlags &= ~AU_CALLBACK_TYPE_BITS;
    }
    LeaveCriticalSection(&m_lock);
    WaitForRunningCallbacks();
}

void CAuPlayingMgr::CancelEventCallbackCookie(void* cookie) {
    EnterCriticalSection(&m_lock);
    for (AuPlayingRecord* head : m_buckets)
        for (AuPlayingRecord* record = head; record; record = record->pNextItem)
            if (record->pCookie == cookie) {
                record->pfnCallback = nullptr;
                record->uFlags &= ~AU_CALLBACK_TYPE_BITS;
            }
    LeaveCriticalSection(&m_lock);
    WaitForRunningCallbacks();
}

void CAuPlayingMgr::NotifyDuration(AuPlayingID playingID, f32 duration, f32 estimatedDuration,
                                   u32 audioNodeID, u32 mediaID) noexcept {
    EnterCriticalSection(&m_lock);
    const AuPlayingRecord* record = Find(playingID);
    if (!record || !(record->uFlags & AU_Duration) || !record->pfnCallback) {
        LeaveCriticalSection(&m_lock);
        return;
    }
    AuDurationCallbackInfo info;
    info.pCookie = record->pCookie;
    info.gameObjID = record->gameObj;
    info.playingID = playingID;
    info.eventID = record->eventID;
    info.fDuration = duration;
    info.fEstimatedDuration = estimatedDuration;
    info.audioNodeID = audioNodeID;
    info.mediaID = mediaID;
    CallAndLeave(record->pfnCallback, AU_Duration, &info);
}

void CAuPlayingMgr::NotifyMarker(AuPlayingID playingID, u32 identifier, u32 position,
                                 const char* label) noexcept {
    EnterCriticalSection(&m_lock);
    const AuPlayingRecord* record = Find(playingID);
    if (!record || !(record->uFlags & AU_Marker) || !record->pfnCallback) {
        LeaveCriticalSection(&m_lock);
        return;
    }
    AuMarkerCallbackInfo info;
    info.pCookie = record->pCookie;
    info.gameObjID = record->gameObj;
    info.playingID = playingID;
    info.eventID = record->eventID;
    info.uIdentifier = identifier;
    info.uPosition = position;
    info.strLabel = label;
    CallAndLeave(record->pfnCallback, AU_Marker, &info);
}

void CAuPlayingMgr::NotifyStarvation(AuPlayingID playingID) noexcept {
    EnterCriticalSection(&m_lock);
    const AuPlayingRecord* record = Find(playingID);
    if (!record || !(record->uFlags & AU_Starvation) || !record->pfnCallback) {
        LeaveCriticalSection(&m_lock);
        return;
    }
    AuEventCallbackInfo info;
    info.pCookie = record->pCookie;
    info.gameObjID = record->gameObj;
    info.playingID = playingID;
    info.eventID = record->eventID;
    CallAndLeave(record->pfnCallback, AU_Starvation, &info);
}
