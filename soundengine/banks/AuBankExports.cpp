// The exported bank calls: each builds one request and hands it to the bank manager.
#include "banks/AuBankMgr.h"
#include "core/AuBankNames.h"

#include <AU/MemoryMgr.h>
#include <AU/SoundEngine.h>

#include <cstring>

namespace {

AuBankRequest Request(u32 kind, AuBankCallbackFunc callback, void* cookie, u32 source, u32 bankID) {
    AuBankRequest request{};
    request.kind = kind;
    request.callback = callback;
    request.cookie = cookie;
    request.source = source;
    request.bankID = bankID;
    request.poolID = AU_INVALID_POOL_ID;
    return request;
}

AURESULT Queue(const AuBankRequest& request) {
    CAuBankMgr* mgr = g_pBankMgr;
    return mgr ? mgr->QueueBankRequest(request) : AuResultFail;
}

// Queues with the synchronous callback and waits for it. The wait record's pool goes to `outPool`.
AURESULT RunSync(AuBankRequest request, AuMemPoolId* outPool = nullptr) {
    CAuBankMgr* mgr = g_pBankMgr;
    if (!mgr) return AuResultFail;
    CAuBankMgr::SyncWait wait;
    AURESULT result = mgr->MakeSyncWait(wait);
    if (result != AuResultSuccess) return result;
    request.callback = &CAuBankMgr::SyncCallback;
    request.cookie = &wait;
    result = mgr->WaitSync(wait, mgr->QueueBankRequest(request));
    if (outPool) *outPool = wait.poolID;
    return result;
}

AuBankRequest LoadRequest(AuBankCallbackFunc callback, void* cookie, u32 source, u32 bankID, AuMemPoolId pool,
                          const void* memory = nullptr, u32 size = 0) {
    AuBankRequest request = Request(AuBankRequest_Load, callback, cookie, source, bankID);
    request.poolID = pool;
    request.memory = memory;
    request.size = size;
    return request;
}

bool UsableInPlace(const void* memory, u32 size) {
    return memory && reinterpret_cast<uintptr_t>(memory) % 16 == 0 && size >= AU_BANK_MIN_IMAGE_SIZE;
}

AuBankRequest UnloadRequest(AuBankID bankID, const void* memory, AuBankCallbackFunc callback, void* cookie) {
    AuBankRequest request = Request(AuBankRequest_Unload, callback, cookie,
                                    memory ? AuBankSource_InPlace : AuBankSource_ByName, bankID);
    request.memory = memory;
    return request;
}

AuBankRequest PrepareBankRequest(AU::SoundEngine::PreparationType type, AuBankID bankID,
                                 AuBankCallbackFunc callback, void* cookie, AuBankContent content) {
    AuBankRequest request =
        Request(type == AuPreparation_Load ? AuBankRequest_PrepareBank : AuBankRequest_UnprepareBank,
                callback, cookie, AuBankSource_ByName, bankID);
    request.content = content;
    return request;
}

// A list whose bytes a u32 size can name; longer ones are refused before anything is copied.
bool CountFits(u32 count) {
    return count <= UINT32_MAX / sizeof(u32);
}

// The request of a list of IDs: one carried alone, several in an array the request owns.
// 52 when the array cannot be had.
AURESULT CarryIDs(const u32* ids, u32 count, u32& outOne, u32*& outArray) {
    if (count == 1) {
        outOne = ids[0];
        return AuResultSuccess;
    }
    outArray =
        static_cast<u32*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, count * static_cast<u32>(sizeof(u32))));
    if (!outArray) return AuResultNoMemory;
    memcpy(outArray, ids, count * sizeof(u32));
    return AuResultSuccess;
}

// Queued or run, synchronously or with the caller's callback. An array the request owns is freed
// by whoever ends up with it: the manager once it took the request, else here.
AURESULT Submit(AuBankRequest request, bool sync, u32* owned) {
    CAuBankMgr* mgr = g_pBankMgr;
    AURESULT result = mgr ? AuResultSuccess : AuResultFail;
    CAuBankMgr::SyncWait wait{};
    if (mgr && sync) {
        result = mgr->MakeSyncWait(wait);
        request.callback = &CAuBankMgr::SyncCallback;
        request.cookie = &wait;
    }
    if (result != AuResultSuccess) {
        if (owned) AU::MemoryMgr::Free(g_DefaultPoolId, owned);
        return result;
    }
    const AURESULT queued = mgr->QueueBankRequest(request);
    // The plain manager has run the request whatever its result; the threaded one took it only
    // when queueing succeeded.
    const bool taken = !mgr->IsThreaded() || queued == AuResultSuccess;
    if (!taken && owned) AU::MemoryMgr::Free(g_DefaultPoolId, owned);
    return sync ? mgr->WaitSync(wait, queued) : queued;
}

template <class Char>
AURESULT EventsByName(AU::SoundEngine::PreparationType type, const Char** names, u32 count,
                      AuBankCallbackFunc callback, void* cookie, bool sync) {
    if (!names || count == 0 || !CountFits(count)) return AuResultInvalidParameter;
    if (count == 1) {
        const u32 id = AU::SoundEngine::GetIDFromString(names[0]);
        if (id == 0) return AuResultIDNotFound;
        return sync ? AU::SoundEngine::PrepareEvent(type, &id, 1)
                    : AU::SoundEngine::PrepareEvent(type, &id, 1, callback, cookie);
    }
    AuArray<u32> ids;
    if (!ids.Grow(count)) return AuResultNoMemory;
    for (u32 i = 0; i < count; ++i)
        ids.AddLast(AU::SoundEngine::GetIDFromString(names[i]));
    return sync ? AU::SoundEngine::PrepareEvent(type, ids.begin(), count)
                : AU::SoundEngine::PrepareEvent(type, ids.begin(), count, callback, cookie);
}

AURESULT EventRequest(AU::SoundEngine::PreparationType type, const u32* ids, u32 count,
                      AuBankCallbackFunc callback, void* cookie, bool sync) {
    if (!ids || count == 0 || !CountFits(count)) return AuResultInvalidParameter;
    AuBankRequest request =
        Request(type == AuPreparation_Load ? AuBankRequest_PrepareEvents : AuBankRequest_UnprepareEvents,
                callback, cookie, AuBankSource_ByName, count);
    request.pEventIDs = nullptr;
    const AURESULT carried = CarryIDs(ids, count, request.eventID, request.pEventIDs);
    if (carried != AuResultSuccess) return carried;
    return Submit(request, sync, count > 1 ? request.pEventIDs : nullptr);
}

AURESULT GameSyncRequest(AU::SoundEngine::PreparationType type, u32 groupType, u32 groupID, const u32* values,
                         u32 count, AuBankCallbackFunc callback, void* cookie, bool sync) {
    if (!values || count == 0 || !CountFits(count)) return AuResultInvalidParameter;
    AuBankRequest request =
        Request(AuBankRequest_PrepareGameSyncs, callback, cookie, AuBankSource_ByName, groupType);
    request.eventID = groupID;
    request.prepare = type == AuPreparation_Load;
    request.size = count;
    request.pValueIDs = nullptr;
    const AURESULT carried = CarryIDs(values, count, request.valueID, request.pValueIDs);
    if (carried != AuResultSuccess) return carried;
    return Submit(request, sync, count > 1 ? request.pValueIDs : nullptr);
}

template <class Char>
AURESULT GameSyncsByName(AU::SoundEngine::PreparationType type, u32 groupType, const Char* group,
                         const Char** names, u32 count, AuBankCallbackFunc callback, void* cookie,
                         bool sync) {
    if (!group || !names || count == 0 || !CountFits(count)) return AuResultInvalidParameter;
    const u32 groupID = AU::SoundEngine::GetIDFromString(group);
    AuArray<u32> ids;
    if (!ids.Grow(count)) return AuResultNoMemory;
    for (u32 i = 0; i < count; ++i)
        ids.AddLast(AU::SoundEngine::GetIDFromString(names[i]));
    return GameSyncRequest(type, groupType, groupID, ids.begin(), count, callback, cookie, sync);
}

} // namespace

namespace AU::SoundEngine {

AURESULT PrepareEvent(PreparationType type, const AuUniqueID* eventIDs, u32 count) {
    return EventRequest(type, eventIDs, count, nullptr, nullptr, true);
}

AURESULT PrepareEvent(PreparationType type, const AuUniqueID* eventIDs, u32 count,
                      AuBankCallbackFunc callback, void* cookie) {
    return EventRequest(type, eventIDs, count, callback, cookie, false);
}

AURESULT PrepareEvent(PreparationType type, const char** names, u32 count) {
    return EventsByName(type, names, count, nullptr, nullptr, true);
}

AURESULT PrepareEvent(PreparationType type, const char** names, u32 count, AuBankCallbackFunc callback,
                      void* cookie) {
    return EventsByName(type, names, count, callback, cookie, false);
}

AURESULT PrepareEvent(PreparationType type, const wchar_t** names, u32 count) {
    return EventsByName(type, names, count, nullptr, nullptr, true);
}

AURESULT PrepareEvent(PreparationType type, const wchar_t** names, u32 count, AuBankCallbackFunc callback,
                      void* cookie) {
    return EventsByName(type, names, count, callback, cookie, false);
}

AURESULT PrepareGameSyncs(PreparationType type, u32 groupType, AuUniqueID groupID, const AuUniqueID* valueIDs,
                          u32 count) {
    return GameSyncRequest(type, groupType, groupID, valueIDs, count, nullptr, nullptr, true);
}

AURESULT PrepareGameSyncs(PreparationType type, u32 groupType, AuUniqueID groupID, const AuUniqueID* valueIDs,
                          u32 count, AuBankCallbackFunc callback, void* cookie) {
    return GameSyncRequest(type, groupType, groupID, valueIDs, count, callback, cookie, false);
}

AURESULT PrepareGameSyncs(PreparationType type, u32 groupType, const char* groupName, const char** valueNames,
                          u32 count) {
    return GameSyncsByName(type, groupType, groupName, valueNames, count, nullptr, nullptr, true);
}

AURESULT PrepareGameSyncs(PreparationType type, u32 groupType, const char* groupName, const char** valueNames,
                          u32 count, AuBankCallbackFunc callback, void* cookie) {
    return GameSyncsByName(type, groupType, groupName, valueNames, count, callback, cookie, false);
}

AURESULT PrepareGameSyncs(PreparationType type, u32 groupType, const wchar_t* groupName,
                          const wchar_t** valueNames, u32 count) {
    return GameSyncsByName(type, groupType, groupName, valueNames, count, nullptr, nullptr, true);
}

AURESULT PrepareGameSyncs(PreparationType type, u32 groupType, const wchar_t* groupName,
                          const wchar_t** valueNames, u32 count, AuBankCallbackFunc callback, void* cookie) {
    return GameSyncsByName(type, groupType, groupName, valueNames, count, callback, cookie, false);
}

AURESULT ClearPreparedEvents() {
    return RunSync(Request(AuBankRequest_ClearPreparedEvents, nullptr, nullptr, AuBankSource_ByName, 0));
}

AURESULT LoadBank(AuBankID bankID, AuMemPoolId poolID) {
    return RunSync(LoadRequest(nullptr, nullptr, AuBankSource_ByID, bankID, poolID));
}

AURESULT LoadBank(AuBankID bankID, AuBankCallbackFunc callback, void* cookie, AuMemPoolId poolID) {
    return Queue(LoadRequest(callback, cookie, AuBankSource_ByID, bankID, poolID));
}

AURESULT LoadBank(const char* name, AuMemPoolId poolID, AuBankID& outBankID) {
    outBankID = GetBankIDFromName(name);
    return RunSync(LoadRequest(nullptr, nullptr, AuBankSource_ByName, outBankID, poolID));
}

AURESULT LoadBank(const char* name, AuBankCallbackFunc callback, void* cookie, AuMemPoolId poolID,
                  AuBankID& outBankID) {
    outBankID = GetBankIDFromName(name);
    return Queue(LoadRequest(callback, cookie, AuBankSource_ByName, outBankID, poolID));
}

AURESULT LoadBank(const wchar_t* name, AuMemPoolId poolID, AuBankID& outBankID) {
    outBankID = GetBankIDFromName(name);
    return RunSync(LoadRequest(nullptr, nullptr, AuBankSource_ByName, outBankID, poolID));
}

AURESULT LoadBank(const wchar_t* name, AuBankCallbackFunc callback, void* cookie, AuMemPoolId poolID,
                  AuBankID& outBankID) {
    outBankID = GetBankIDFromName(name);
    return Queue(LoadRequest(callback, cookie, AuBankSource_ByName, outBankID, poolID));
}

AURESULT LoadBank(const void* memory, u32 size, AuBankID& outBankID) {
    outBankID = AuGetBankIDFromMemory(memory, size);
    if (!UsableInPlace(memory, size)) return AuResultInvalidParameter;
    return RunSync(
        LoadRequest(nullptr, nullptr, AuBankSource_InPlace, outBankID, AU_INVALID_POOL_ID, memory, size));
}

AURESULT LoadBank(const void* memory, u32 size, AuBankCallbackFunc callback, void* cookie,
                  AuBankID& outBankID) {
    outBankID = AuGetBankIDFromMemory(memory, size);
    if (!UsableInPlace(memory, size)) return AuResultInvalidParameter;
    return Queue(
        LoadRequest(callback, cookie, AuBankSource_InPlace, outBankID, AU_INVALID_POOL_ID, memory, size));
}

AURESULT LoadBank(const void* memory, u32 size, AuMemPoolId poolID, AuBankID& outBankID) {
    outBankID = AuGetBankIDFromMemory(memory, size);
    return RunSync(LoadRequest(nullptr, nullptr, AuBankSource_Copied, outBankID, poolID, memory, size));
}

AURESULT LoadBank(const void* memory, u32 size, AuBankCallbackFunc callback, void* cookie, AuMemPoolId poolID,
                  AuBankID& outBankID) {
    outBankID = AuGetBankIDFromMemory(memory, size);
    return Queue(LoadRequest(callback, cookie, AuBankSource_Copied, outBankID, poolID, memory, size));
}

AURESULT UnloadBank(AuBankID bankID, const void* memory, AuMemPoolId* outPoolID) {
    return RunSync(UnloadRequest(bankID, memory, nullptr, nullptr), outPoolID);
}

AURESULT UnloadBank(AuBankID bankID, const void* memory, AuBankCallbackFunc callback, void* cookie) {
    return Queue(UnloadRequest(bankID, memory, callback, cookie));
}

AURESULT UnloadBank(const char* name, const void* memory, AuMemPoolId* outPoolID) {
    return UnloadBank(GetBankIDFromName(name), memory, outPoolID);
}

AURESULT UnloadBank(const char* name, const void* memory, AuBankCallbackFunc callback, void* cookie) {
    return UnloadBank(GetBankIDFromName(name), memory, callback, cookie);
}

AURESULT UnloadBank(const wchar_t* name, const void* memory, AuMemPoolId* outPoolID) {
    return UnloadBank(GetBankIDFromName(name), memory, outPoolID);
}

AURESULT UnloadBank(const wchar_t* name, const void* memory, AuBankCallbackFunc callback, void* cookie) {
    return UnloadBank(GetBankIDFromName(name), memory, callback, cookie);
}

AURESULT PrepareBank(PreparationType type, AuBankID bankID, AuBankContent content) {
    return RunSync(PrepareBankRequest(type, bankID, nullptr, nullptr, content));
}

AURESULT PrepareBank(PreparationType type, AuBankID bankID, AuBankCallbackFunc callback, void* cookie,
                     AuBankContent content) {
    return Queue(PrepareBankRequest(type, bankID, callback, cookie, content));
}

AURESULT PrepareBank(PreparationType type, const char* name, AuBankContent content) {
    return PrepareBank(type, GetBankIDFromName(name), content);
}

AURESULT PrepareBank(PreparationType type, const char* name, AuBankCallbackFunc callback, void* cookie,
                     AuBankContent content) {
    return PrepareBank(type, GetBankIDFromName(name), callback, cookie, content);
}

AURESULT PrepareBank(PreparationType type, const wchar_t* name, AuBankContent content) {
    return PrepareBank(type, GetBankIDFromName(name), content);
}

AURESULT PrepareBank(PreparationType type, const wchar_t* name, AuBankCallbackFunc callback, void* cookie,
                     AuBankContent content) {
    return PrepareBank(type, GetBankIDFromName(name), callback, cookie, content);
}

AURESULT ClearBanks() {
    if (!g_pBankMgr) return AuResultFail;
    const AURESULT cleared = ClearPreparedEvents();
    if (cleared != AuResultSuccess) return cleared;
    return RunSync(Request(AuBankRequest_ClearBanks, nullptr, nullptr, AuBankSource_ByName, 0));
}

void CancelBankCallbackCookie(void* cookie) {
    if (CAuBankMgr* mgr = g_pBankMgr) mgr->CancelCookie(cookie);
}

AURESULT SetBankLoadIOSettings(f32 throughput, u8 priority) {
    CAuBankMgr* mgr = g_pBankMgr;
    if (!mgr) return AuResultFail;
    return mgr->SetBankLoadIOSettings(throughput, priority);
}

AURESULT SetMedia(const AuSourceSettings* settings, u32 count) {
    if (!settings) return AuResultInvalidParameter;
    if (count == 0) return AuResultSuccess;
    CAuBankMgr* mgr = g_pBankMgr;
    return mgr ? mgr->SetMedia(settings, count) : AuResultFail;
}

AURESULT UnsetMedia(const AuSourceSettings* settings, u32 count) {
    if (!settings) return AuResultInvalidParameter;
    if (count == 0) return AuResultSuccess;
    CAuBankMgr* mgr = g_pBankMgr;
    return mgr ? mgr->UnsetMedia(settings, count) : AuResultFail;
}

} // namespace AU::SoundEngine
