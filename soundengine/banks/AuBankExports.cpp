// The exported bank calls: each builds one request and hands it to the bank manager.
#include "banks/AuBankMgr.h"
#include "core/AuBankNames.h"

#include <AU/SoundEngine.h>

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

} // namespace

namespace AU::SoundEngine {

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
