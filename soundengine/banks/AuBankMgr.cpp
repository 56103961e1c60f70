#include "banks/AuBankMgr.h"

#include "hierarchy/AuHierarchyLoader.h"

#include "core/AuAudioMgr.h"
#include "core/AuBankNames.h"
#include "core/AuLog.h"
#include "core/AuThreads.h"

#include <AU/MemoryMgr.h>

#include <cstring>
#include <new>

CRITICAL_SECTION g_csBankList;

namespace {

// g_csBankList lives for the whole program, like g_csMain.
struct BankListLockLifetime {
    BankListLockLifetime() { InitializeCriticalSection(&g_csBankList); }
    ~BankListLockLifetime() { DeleteCriticalSection(&g_csBankList); }
} s_bankListLockLifetime;

class CAuLock {
public:
    explicit CAuLock(CRITICAL_SECTION& lock) : m_lock(lock) { EnterCriticalSection(&m_lock); }
    ~CAuLock() { LeaveCriticalSection(&m_lock); }
    CAuLock(const CAuLock&) = delete;
    CAuLock& operator=(const CAuLock&) = delete;

private:
    CRITICAL_SECTION& m_lock;
};

constexpr u32 kMediaAlignment = 16;
constexpr u32 kDeferredGrowth = 8;
constexpr u32 kMaxFileName = 260;

// The ID a completion reports for kinds that carry no bank: the one ID a request carries alone.
u32 ReportedID(const AuBankRequest& request) {
    switch (request.kind) {
    case AuBankRequest_Load:
    case AuBankRequest_Unload:
    case AuBankRequest_PrepareBank:
    case AuBankRequest_UnprepareBank:
        return request.bankID;
    case AuBankRequest_PrepareGameSyncs:
        return 0;
    default:
        return request.bankID == 1 ? request.eventID : 0;
    }
}

const void* ReportedMemory(const AuBankRequest& request) {
    return request.source == AuBankSource_InPlace ? request.memory : nullptr;
}

void BankMsgExecute(void* context, const AuQueuedMsg& msg) {
    static_cast<CAuBankMgr*>(context)->FinishUnload(*msg.As<CAuLoadedBank*>());
}

} // namespace

// ---- bank list ----

void CAuBankList::Init() {
    memset(m_buckets, 0, sizeof(m_buckets));
    m_uCount = 0;
}

CAuLoadedBank* CAuBankList::Get(u32 bankID, const void* secondKey) {
    for (CAuLoadedBank* bank = m_buckets[Bucket(bankID, secondKey)]; bank; bank = bank->pNext)
        if (bank->bankID == bankID && bank->secondKey == secondKey) return bank;
    return nullptr;
}

bool CAuBankList::Set(CAuLoadedBank* bank) {
    if (Get(bank->bankID, bank->secondKey)) return false;
    CAuLoadedBank*& head = m_buckets[Bucket(bank->bankID, bank->secondKey)];
    bank->pNext = head;
    head = bank;
    ++m_uCount;
    return true;
}

void CAuBankList::Remove(CAuLoadedBank* bank) {
    for (CAuLoadedBank** link = &m_buckets[Bucket(bank->bankID, bank->secondKey)]; *link;
         link = &(*link)->pNext) {
        if (*link == bank) {
            *link = bank->pNext;
            bank->pNext = nullptr;
            --m_uCount;
            return;
        }
    }
}

// ---- manager ----

CAuBankMgr::CAuBankMgr() {
    InitializeCriticalSection(&m_mediaLock);
}

CAuBankMgr::~CAuBankMgr() {
    DeleteCriticalSection(&m_mediaLock);
}

AURESULT CAuBankMgr::Init() {
    {
        CAuLock lock(g_csBankList);
        m_list.Init();
    }
    m_reader.Init();
    return AuResultSuccess;
}

void CAuBankMgr::Term() {
    Unload();
    {
        CAuLock lock(m_mediaLock);
        for (MediaEntry*& head : m_media) {
            while (MediaEntry* entry = head) {
                entry->refCount = 1;
                DropMediaRef(entry);
            }
        }
    }
    m_names.Term();
    m_reader.Term();
    m_deferred.Term();
}

void CAuBankMgr::Unload() {
    ClearPreparedEvents();
    // Explicit preparations first, most recently found first.
    AuArray<CAuLoadedBank*> prepared;
    {
        CAuLock lock(g_csBankList);
        m_list.ForEach([&](CAuLoadedBank* bank) {
            if (bank->uExplicitPreparations) prepared.AddLast(bank);
        });
    }
    for (u32 i = prepared.Count(); i-- > 0;) {
        --prepared[i]->uExplicitPreparations;
        DropPreparation(*prepared[i], true);
    }
    // What is left is loaded: its unload completes here, without a callback. A holder of its
    // media still counted (the voices are gone by now) must not keep it.
    for (;;) {
        CAuLoadedBank* bank = nullptr;
        {
            CAuLock lock(g_csBankList);
            m_list.ForEach([&](CAuLoadedBank* b) {
                if (!bank) bank = b;
            });
            if (!bank) break;
            m_list.Remove(bank);
            bank->flags &= static_cast<u8>(~CAuLoadedBank::kLoaded);
            bank->prepareCount.store(0);
            bank->loadCount.store(1);
        }
        AuReleaseBankObjects(bank->objects);
        UnloadCompletion(*bank, false);
    }
}

void CAuBankMgr::SetChunkSinks(IAuBankSettingsSink* settings, IAuCurveTableSink* curves,
                               IAuHierarchySink* hierarchy) {
    m_pSettings = settings ? settings : &m_engineSettings;
    m_pCurves = curves;
    m_pHierarchy = hierarchy;
}

AURESULT CAuBankMgr::SetBankFileName(u32 bankID, const char* cutName) {
    return m_names.SetBankFileName(bankID, cutName);
}

AURESULT CAuBankMgr::QueueBankRequest(const AuBankRequest& request) {
    return ExecuteQueueItem(request);
}

AURESULT CAuBankMgr::MakeSyncWait(SyncWait& wait) {
    wait = SyncWait{AuResultNotImplemented, nullptr, AU_INVALID_POOL_ID};
    return AuResultSuccess;
}

AURESULT CAuBankMgr::WaitSync(SyncWait& wait, AURESULT queued) {
    // The request ran on this thread; its callback has filled the record unless none came.
    return wait.result != AuResultNotImplemented ? wait.result : queued;
}

void CAuBankMgr::SyncCallback(u32, const void*, AURESULT result, AuMemPoolId poolID, void* cookie) {
    auto* wait = static_cast<SyncWait*>(cookie);
    wait->result = result;
    wait->poolID = poolID;
    if (wait->event) SetEvent(wait->event);
}

void CAuBankMgr::NotifyCompletion(AuBankCallbackFunc callback, u32 bankID, const void* memory,
                                  AURESULT result, AuMemPoolId poolID, void* cookie) {
    if (callback) callback(bankID, memory, result, poolID, cookie);
}

AURESULT CAuBankMgr::UnloadAndWait(CAuLoadedBank& bank) {
    return PostUnload(bank, nullptr, nullptr);
}

AURESULT CAuBankMgr::ExecuteQueueItem(const AuBankRequest& request) {
    switch (request.kind) {
    case AuBankRequest_Load:
        return Load(request);
    case AuBankRequest_Unload:
        return UnloadRequest(request);
    case AuBankRequest_PrepareBank:
        return PrepareBank(request);
    case AuBankRequest_UnprepareBank:
        return UnprepareBank(request);
    case AuBankRequest_PrepareEvents:
        return PrepareEvents(request);
    case AuBankRequest_UnprepareEvents:
        return UnprepareEvents(request);
    case AuBankRequest_PrepareGameSyncs:
        return PrepareGameSyncs(request);
    case AuBankRequest_ClearPreparedEvents: {
        const AURESULT result = ClearPreparedEvents();
        NotifyCompletion(request.callback, ReportedID(request), ReportedMemory(request), result,
                         AU_INVALID_POOL_ID, request.cookie);
        return result;
    }
    case AuBankRequest_ClearBanks: {
        const AURESULT result = ClearBanks();
        NotifyCompletion(request.callback, ReportedID(request), ReportedMemory(request), result,
                         AU_INVALID_POOL_ID, request.cookie);
        return result;
    }
    case AuBankRequest_ReleaseMedia: {
        const AURESULT result = ReleaseOneMedia(request.bankID);
        NotifyCompletion(request.callback, ReportedID(request), ReportedMemory(request), result,
                         AU_INVALID_POOL_ID, request.cookie);
        return result;
    }
    default:
        // Kinds nothing posts: nothing to do and no one to tell.
        AuLog(AuLogLevel::Warning, "bank: request kind %u has no handler", request.kind);
        if (request.callback) ForgetCallback(request.cookie);
        return AuResultSuccess;
    }
}

CAuLoadedBank* CAuBankMgr::NewBank(u32 bankID, const void* secondKey, AuMemPoolId poolID) {
    void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuLoadedBank));
    if (!block) return nullptr;
    auto* bank = new (block) CAuLoadedBank();
    bank->stateFlags = AuMediaHolder::kIsBank;
    bank->bankID = bankID;
    bank->secondKey = secondKey;
    bank->poolID = poolID;
    return bank;
}

void CAuBankMgr::FreeBank(CAuLoadedBank* bank) {
    if (bank->flags & CAuLoadedBank::kOwnsIndex)
        AU::MemoryMgr::Free(g_DefaultPoolId, const_cast<AuMediaIndexEntry*>(bank->pIndex));
    bank->~CAuLoadedBank();
    AU::MemoryMgr::Free(g_DefaultPoolId, bank);
}

void CAuBankMgr::FreeData(CAuLoadedBank& bank) {
    WithdrawMedia(bank);
    if (bank.pData) {
        if (bank.bDataFromBlockPool)
            AU::MemoryMgr::ReleaseBlock(bank.poolID, bank.pData);
        else
            AU::MemoryMgr::Free(bank.poolID, bank.pData);
        bank.pData = nullptr;
    }
    if (bank.bOwnPool) {
        AU::MemoryMgr::DestroyPool(bank.poolID);
        bank.bOwnPool = false;
    }
    bank.uDataSize = 0;
}

AURESULT CAuBankMgr::OpenSource(const AuBankRequest& request, u32 bankID) {
    m_reader.Reset();
    switch (request.source) {
    case AuBankSource_InPlace:
    case AuBankSource_Copied:
        m_reader.SetMemory(request.memory, request.size);
        return AuResultSuccess;
    case AuBankSource_ByName: {
        char name[kMaxFileName];
        if (m_names.GetBankFileName(bankID, name, sizeof(name)))
            return m_reader.OpenByName(name, 0, request.cookie);
        [[fallthrough]];
    }
    default:
        return m_reader.OpenByID(bankID, 0, 0, request.cookie, true);
    }
}

AURESULT CAuBankMgr::LoadBankData(const AuBankRequest& request, CAuLoadedBank& bank, AuBankLoadMode mode) {
    if (!m_pSettings || !m_pCurves || !m_pHierarchy) {
        AuLog(AuLogLevel::Error, "bank: %08X cannot be read: no reader of its settings, curves or hierarchy",
              bank.bankID);
        return AuResultFail;
    }
    AURESULT result = OpenSource(request, bank.bankID);
    if (result != AuResultSuccess) {
        AuLog(AuLogLevel::Error, "bank: %08X cannot be opened (%s)", bank.bankID, AuResultName(result));
        return result;
    }
    m_pLoading = &bank;
    m_loadingMode = mode;
    const AuBankChunkSinks sinks{m_pSettings, m_pCurves, this, m_pHierarchy, &m_names};
    // A prepared bank keeps its objects as a loaded one does; a failed read gives back only what
    // it listed itself, not what an earlier load or preparation of the record holds.
    const u32 listedBefore = bank.objects.Count();
    m_pHierarchy->BeginBank(&bank.objects, &bank, bank.bankID);
    result = AuReadBank(m_reader, mode, request.source == AuBankSource_InPlace, sinks, m_lastHeader);
    m_pHierarchy->BeginBank(nullptr, nullptr, 0);
    m_reader.Close();
    m_pLoading = nullptr;
    if (result != AuResultSuccess) AuReleaseBankObjects(bank.objects, listedBefore);
    return result;
}

AURESULT CAuBankMgr::Load(const AuBankRequest& request) {
    const void* key = request.source == AuBankSource_InPlace ? request.memory : nullptr;
    CAuLoadedBank* bank;
    bool listed;
    AURESULT refusal = AuResultSuccess;
    {
        CAuLock lock(g_csBankList);
        bank = m_list.Get(request.bankID, key);
        // A prepared bank whose unload the audio thread has not finished: that unload keeps its
        // record, this load takes a fresh one.
        if (bank && (bank->stateFlags & AuMediaHolder::kUnloading) && !TakeOverPreparation(bank))
            refusal = AuResultNoMemory;
        listed = bank != nullptr;
        if (refusal == AuResultSuccess && bank && (bank->flags & CAuLoadedBank::kLoaded))
            refusal = AuResultBankAlreadyLoaded;
        else if (refusal == AuResultSuccess && !bank &&
                 !(bank = NewBank(request.bankID, key, request.poolID)))
            refusal = AuResultNoMemory;
        if (refusal == AuResultSuccess) {
            // A prepared record counts this load too, so that a holder of its media keeps it.
            bank->poolID = request.poolID;
            bank->loadCount.store(1);
        }
    }
    if (refusal != AuResultSuccess) {
        NotifyCompletion(request.callback, request.bankID, ReportedMemory(request), refusal, request.poolID,
                         request.cookie);
        // Already loaded is the callback's news; the request itself did what it should.
        return refusal == AuResultBankAlreadyLoaded ? AuResultSuccess : refusal;
    }
    const AURESULT result = LoadBankData(request, *bank, AuBankLoadModeLoad);
    if (result == AuResultSuccess) {
        CAuLock lock(g_csBankList);
        bank->flags |= CAuLoadedBank::kLoaded;
        if (!listed) m_list.Set(bank);
    } else {
        UnloadCompletion(*bank, false);
    }
    NotifyCompletion(request.callback, request.bankID, ReportedMemory(request), result, request.poolID,
                     request.cookie);
    return result;
}

bool CAuBankMgr::TakeOverPreparation(CAuLoadedBank*& bank) {
    CAuLoadedBank& pending = *bank;
    CAuLoadedBank* fresh = nullptr;
    if (pending.prepareCount.load() > 0) {
        if (!(fresh = NewBank(pending.bankID, pending.secondKey, pending.poolID))) return false;
        // Prepared media are counted by the index's IDs: the fresh record gives them back later,
        // the pending one still withdraws its own registrations by its copy.
        if ((pending.flags & CAuLoadedBank::kMediaPrepared) && pending.uMediaCount) {
            const u32 bytes = pending.uMediaCount * static_cast<u32>(sizeof(AuMediaIndexEntry));
            auto* index = static_cast<AuMediaIndexEntry*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, bytes));
            if (!index) {
                FreeBank(fresh);
                return false;
            }
            memcpy(index, pending.pIndex, bytes);
            fresh->pIndex = index;
            fresh->uMediaCount = pending.uMediaCount;
            fresh->flags |= CAuLoadedBank::kOwnsIndex;
        }
        fresh->flags |= pending.flags & CAuLoadedBank::kMediaPrepared;
        fresh->prepareCount.store(pending.prepareCount.load());
        fresh->uExplicitPreparations = pending.uExplicitPreparations;
        pending.flags &= static_cast<u8>(~CAuLoadedBank::kMediaPrepared);
        pending.prepareCount.store(0);
        pending.uExplicitPreparations = 0;
    }
    // Unlisted, the pending record is freed by its unload's completion.
    m_list.Remove(&pending);
    if (fresh) m_list.Set(fresh);
    bank = fresh;
    return true;
}

AURESULT CAuBankMgr::UnloadRequest(const AuBankRequest& request) {
    const void* key = request.source == AuBankSource_InPlace ? request.memory : nullptr;
    CAuLoadedBank* bank;
    AURESULT refusal = AuResultSuccess;
    {
        CAuLock lock(g_csBankList);
        bank = m_list.Get(request.bankID, key);
        if (!bank)
            refusal = AuResultBankNotLoaded;
        else if (!(bank->flags & CAuLoadedBank::kLoaded))
            refusal = AuResultFail;
    }
    if (refusal != AuResultSuccess) {
        NotifyCompletion(request.callback, request.bankID, ReportedMemory(request), refusal, request.poolID,
                         request.cookie);
        return refusal;
    }
    return PostUnload(*bank, request.callback, request.cookie);
}

AURESULT CAuBankMgr::PostUnload(CAuLoadedBank& bank, AuBankCallbackFunc callback, void* cookie) {
    {
        CAuLock lock(g_csBankList);
        // A bank that is still prepared stays listed, so that its unpreparation finds it.
        if (bank.prepareCount.load() == 0) m_list.Remove(&bank);
        bank.flags &= static_cast<u8>(~CAuLoadedBank::kLoaded);
        bank.stateFlags |= AuMediaHolder::kUnloading;
        bank.pendingCallback = callback;
        bank.pendingCookie = cookie;
    }
    AuReleaseBankObjects(bank.objects);
    CAuAudioMgr* audio = g_pAudioMgr;
    AuQueuedMsg* msg =
        audio ? audio->ReserveQueue(AuQueuedMsgType_BankRequest, AuQueuedMsgSize<CAuLoadedBank*>()) : nullptr;
    if (!msg) {
        // Without the ring, or when no record can be had (a full ring under passes nested as deep
        // as they go), the unload finishes here under the lock: it has happened.
        CAuMainLock lock;
        FinishUnload(bank);
        return AuResultSuccess;
    }
    msg->As<CAuLoadedBank*>() = &bank;
    audio->PublishMsg(msg);
    const AURESULT result = audio->RenderAudio();
    // Once the audio thread has stopped, no one else runs the message.
    if (audio->AudioThreadId() == 0) {
        CAuMainLock lock;
        audio->ProcessMsgQueue();
    }
    OnUnloadPosted();
    return result;
}

void CAuBankMgr::FinishUnload(CAuLoadedBank& bank) noexcept {
    if (m_pStopper) m_pStopper->StopInstancesUsingData(bank);
    UnloadCompletion(bank, true);
}

void CAuBankMgr::UnloadCompletion(CAuLoadedBank& bank, bool notify) noexcept {
    AuBankCallbackFunc callback;
    void* cookie;
    u32 bankID;
    const void* key;
    AuMemPoolId pool;
    {
        CAuLock lock(g_csBankList);
        if (bank.loadCount.fetch_sub(1) - 1 > 0) return;
        bank.loadCount.store(0);
        pool = bank.poolID;
        FreeData(bank);
        callback = bank.pendingCallback;
        cookie = bank.pendingCookie;
        bankID = bank.bankID;
        key = bank.secondKey;
        bank.pendingCallback = nullptr;
        bank.pendingCookie = nullptr;
        bank.stateFlags &= static_cast<u8>(~AuMediaHolder::kUnloading);
        if (bank.prepareCount.load() <= 0 && !(bank.flags & CAuLoadedBank::kLoaded)) {
            if (m_list.Get(bankID, key) == &bank) m_list.Remove(&bank);
            ReleasePreparedMedia(bank);
            FreeBank(&bank);
        }
    }
    if (notify) NotifyCompletion(callback, bankID, key, AuResultSuccess, pool, cookie);
}

AURESULT CAuBankMgr::PrepareBank(const AuBankRequest& request) {
    CAuLoadedBank* bank;
    bool listed;
    // Null: the record already holds what is asked, the preparation is only counted.
    bool read = true;
    AuBankLoadMode mode = AuBankLoadModePrepareStructure;
    {
        CAuLock lock(g_csBankList);
        bank = m_list.Get(request.bankID, nullptr);
        listed = bank != nullptr;
        if (bank) {
            bank->prepareCount.fetch_add(1);
            ++bank->uExplicitPreparations;
            read = request.content == AuBankContent_All && !(bank->flags & CAuLoadedBank::kMediaPrepared);
            mode = AuBankLoadModePrepareAgain;
        } else if ((bank = NewBank(request.bankID, nullptr, AU_INVALID_POOL_ID))) {
            bank->prepareCount.store(1);
            bank->uExplicitPreparations = 1;
            if (request.content == AuBankContent_All) mode = AuBankLoadModePrepareWithMedia;
        }
    }
    AURESULT result = AuResultSuccess;
    if (!bank) {
        result = AuResultNoMemory;
    } else if (read) {
        AuBankRequest byName = request;
        byName.source = AuBankSource_ByName;
        result = LoadBankData(byName, *bank, mode);
        if (result == AuResultSuccess) {
            CAuLock lock(g_csBankList);
            if (!listed) m_list.Set(bank);
        } else if (listed) {
            {
                CAuLock lock(g_csBankList);
                --bank->uExplicitPreparations;
            }
            DropPreparation(*bank, false);
        } else {
            ReleasePreparedMedia(*bank);
            FreeBank(bank);
        }
    }
    NotifyCompletion(request.callback, request.bankID, nullptr, result, AU_INVALID_POOL_ID, request.cookie);
    return result;
}

AURESULT CAuBankMgr::UnprepareBank(const AuBankRequest& request) {
    CAuLoadedBank* bank;
    {
        CAuLock lock(g_csBankList);
        bank = m_list.Get(request.bankID, nullptr);
        if (bank && bank->uExplicitPreparations) --bank->uExplicitPreparations;
    }
    if (bank) DropPreparation(*bank, false);
    NotifyCompletion(request.callback, request.bankID, nullptr, AuResultSuccess, AU_INVALID_POOL_ID,
                     request.cookie);
    return AuResultSuccess;
}

void CAuBankMgr::DropPreparation(CAuLoadedBank& bank, bool force) {
    {
        CAuLock lock(g_csBankList);
        if (force)
            bank.prepareCount.store(0);
        else if (bank.prepareCount.fetch_sub(1) - 1 > 0)
            return;
        ReleasePreparedMedia(bank);
        // Loaded, or its unload still waits for the audio thread: the load side frees it.
        if ((bank.flags & CAuLoadedBank::kLoaded) || bank.loadCount.load() > 0) return;
        m_list.Remove(&bank);
    }
    // Out of the list, the record is this call's alone; g_csMain, which the release takes, comes
    // before g_csBankList.
    AuReleaseBankObjects(bank.objects);
    CAuLock lock(g_csBankList);
    FreeData(bank);
    FreeBank(&bank);
}

AURESULT CAuBankMgr::ClearBanks() {
    AuArray<CAuLoadedBank*> loaded;
    {
        CAuLock lock(g_csBankList);
        bool complete = true;
        m_list.ForEach([&](CAuLoadedBank* bank) {
            if ((bank->flags & CAuLoadedBank::kLoaded) && !loaded.AddLast(bank)) complete = false;
        });
        if (!complete) return AuResultNoMemory;
    }
    for (u32 i = loaded.Count(); i-- > 0;)
        UnloadAndWait(*loaded[i]);
    return AuResultSuccess;
}

AURESULT CAuBankMgr::ReleaseOneMedia(u32 mediaID) {
    CAuLock lock(m_mediaLock);
    MediaEntry* entry = FindMedia(mediaID);
    if (!entry) return AuResultSuccess;
    const bool remains = entry->refCount > 1;
    DropMediaRef(entry);
    return remains ? AuResultFail : AuResultSuccess;
}

u32 CAuBankMgr::BankCount() {
    CAuLock lock(g_csBankList);
    return m_list.Count();
}

CAuLoadedBank* CAuBankMgr::FindBank(u32 bankID, const void* secondKey) {
    CAuLock lock(g_csBankList);
    return m_list.Get(bankID, secondKey);
}

// ---- events and game syncs ----

AURESULT CAuBankMgr::PrepareBankForEvent(u32 bankID) {
    CAuLoadedBank* bank;
    {
        CAuLock lock(g_csBankList);
        if ((bank = m_list.Get(bankID, nullptr))) {
            bank->prepareCount.fetch_add(1);
            return AuResultSuccess;
        }
        if (!(bank = NewBank(bankID, nullptr, AU_INVALID_POOL_ID))) return AuResultNoMemory;
        bank->prepareCount.store(1);
    }
    AuBankRequest request{};
    request.source = AuBankSource_ByName;
    request.bankID = bankID;
    const AURESULT result = LoadBankData(request, *bank, AuBankLoadModePrepareStructure);
    if (result != AuResultSuccess) {
        FreeBank(bank);
        return result;
    }
    CAuLock lock(g_csBankList);
    m_list.Set(bank);
    return AuResultSuccess;
}

void CAuBankMgr::DropBankPreparation(u32 bankID) {
    CAuLoadedBank* bank;
    {
        CAuLock lock(g_csBankList);
        bank = m_list.Get(bankID, nullptr);
    }
    if (bank) DropPreparation(*bank, false);
}

void CAuBankMgr::UndoPlayActions(void* event, u32 count) {
    for (u32 k = count; k-- > 0;) {
        const IAuEventPreparation::PlayAction action = m_pEvents->GetPlayAction(event, k);
        m_pEvents->UnPrepareData(action.target);
        DropBankPreparation(action.bankID);
    }
}

AURESULT CAuBankMgr::PrepareOneEvent(u32 eventID) {
    void* event = m_pEvents ? m_pEvents->AcquireEvent(eventID) : nullptr;
    if (!event) return AuResultIDNotFound;
    if (const u32 count = m_pEvents->PreparationCount(event)) {
        m_pEvents->SetPreparationCount(event, count + 1);
        m_pEvents->ReleaseEvent(event);
        return AuResultSuccess;
    }
    const u32 actions = m_pEvents->PlayActionCount(event);
    for (u32 k = 0; k < actions; ++k) {
        const IAuEventPreparation::PlayAction action = m_pEvents->GetPlayAction(event, k);
        AURESULT result = PrepareBankForEvent(action.bankID);
        if (result == AuResultSuccess && (result = m_pEvents->PrepareData(action.target)) != AuResultSuccess)
            DropBankPreparation(action.bankID);
        if (result != AuResultSuccess) {
            UndoPlayActions(event, k);
            m_pEvents->ReleaseEvent(event);
            return result;
        }
    }
    // The lookup's reference stays with the preparation.
    m_pEvents->SetPreparationCount(event, 1);
    return AuResultSuccess;
}

void CAuBankMgr::UnprepareEventObject(void* event, bool force) {
    const u32 count = m_pEvents->PreparationCount(event);
    if (count == 0) return;
    if (!force && count > 1) {
        m_pEvents->SetPreparationCount(event, count - 1);
        return;
    }
    m_pEvents->SetPreparationCount(event, 0);
    UndoPlayActions(event, m_pEvents->PlayActionCount(event));
    m_pEvents->ReleaseEvent(event);
}

AURESULT CAuBankMgr::UnprepareOneEvent(u32 eventID) {
    void* event = m_pEvents ? m_pEvents->AcquireEvent(eventID) : nullptr;
    if (!event) return AuResultIDNotFound;
    UnprepareEventObject(event, false);
    m_pEvents->ReleaseEvent(event);
    return AuResultSuccess;
}

AURESULT CAuBankMgr::PrepareEvents(const AuBankRequest& request) {
    const u32 count = request.bankID;
    const u32* ids = count == 1 ? &request.eventID : request.pEventIDs;
    m_bPreparing = true;
    AURESULT result = AuResultSuccess;
    u32 done = 0;
    for (; done < count && result == AuResultSuccess; ++done)
        if ((result = PrepareOneEvent(ids[done])) != AuResultSuccess) break;
    if (result == AuResultSuccess) {
        m_bPreparing = false;
        result = LoadDeferredMedia();
    }
    if (result != AuResultSuccess) {
        // Most recent first, as they were made.
        for (u32 i = done; i-- > 0;)
            UnprepareOneEvent(ids[i]);
    }
    m_bPreparing = false;
    m_deferred.Term();
    if (count > 1) AU::MemoryMgr::Free(g_DefaultPoolId, request.pEventIDs);
    NotifyCompletion(request.callback, ReportedID(request), ReportedMemory(request), result,
                     AU_INVALID_POOL_ID, request.cookie);
    return result;
}

AURESULT CAuBankMgr::UnprepareEvents(const AuBankRequest& request) {
    const u32 count = request.bankID;
    const u32* ids = count == 1 ? &request.eventID : request.pEventIDs;
    AURESULT result = AuResultSuccess;
    for (u32 i = 0; i < count && result == AuResultSuccess; ++i)
        result = UnprepareOneEvent(ids[i]);
    if (count > 1) AU::MemoryMgr::Free(g_DefaultPoolId, request.pEventIDs);
    NotifyCompletion(request.callback, ReportedID(request), ReportedMemory(request), result,
                     AU_INVALID_POOL_ID, request.cookie);
    return result;
}

AURESULT CAuBankMgr::ClearPreparedEvents() {
    if (!m_pEvents) return AuResultSuccess;
    CAuMainLock lock;
    for (;;) {
        void* batch[64];
        const u32 found = m_pEvents->CollectPreparedEvents(batch, 64);
        for (u32 i = 0; i < found; ++i) {
            UnprepareEventObject(batch[i], true);
            m_pEvents->ReleaseEvent(batch[i]);
        }
        if (found < 64) return AuResultSuccess;
    }
}

AURESULT CAuBankMgr::PrepareGameSyncs(const AuBankRequest& request) {
    const u32 count = request.size;
    const u32* values = count == 1 ? &request.valueID : request.pValueIDs;
    const u32 groupType = request.bankID;
    const u32 groupID = request.eventID;
    const bool prepare = request.prepare;
    AURESULT result = AuResultSuccess;
    if (!m_pGameSyncs) {
        AuLog(AuLogLevel::Error, "bank: game syncs cannot be prepared: no state manager takes them");
        result = AuResultFail;
    }
    m_bPreparing = prepare;
    u32 done = 0;
    for (; done < count && result == AuResultSuccess; ++done)
        if ((result = m_pGameSyncs->PrepareGameSync(groupType, groupID, values[done], prepare)) !=
            AuResultSuccess)
            break;
    if (result == AuResultSuccess && prepare) {
        m_bPreparing = false;
        result = LoadDeferredMedia();
    }
    if (result != AuResultSuccess && m_pGameSyncs)
        for (u32 i = done; i-- > 0;)
            m_pGameSyncs->PrepareGameSync(groupType, groupID, values[i], !prepare);
    m_bPreparing = false;
    m_deferred.Term();
    if (count > 1) AU::MemoryMgr::Free(g_DefaultPoolId, request.pValueIDs);
    NotifyCompletion(request.callback, 0, ReportedMemory(request), result, AU_INVALID_POOL_ID,
                     request.cookie);
    return result;
}

// ---- media table ----

CAuBankMgr::MediaEntry* CAuBankMgr::FindMedia(u32 mediaID) {
    for (MediaEntry* entry = m_media[mediaID % kMediaBuckets]; entry; entry = entry->pNext)
        if (entry->mediaID == mediaID) return entry;
    return nullptr;
}

CAuBankMgr::MediaEntry* CAuBankMgr::NewMedia(u32 mediaID) {
    void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(MediaEntry));
    if (!block) return nullptr;
    void* holders = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(AuArray<MediaTriple>));
    if (!holders) {
        AU::MemoryMgr::Free(g_DefaultPoolId, block);
        return nullptr;
    }
    auto* entry =
        new (block) MediaEntry{nullptr, mediaID, nullptr, 0, new (holders) AuArray<MediaTriple>(), 1};
    MediaEntry*& head = m_media[mediaID % kMediaBuckets];
    entry->pNext = head;
    head = entry;
    ++m_uMediaCount;
    return entry;
}

void CAuBankMgr::DropMediaRef(MediaEntry* entry) {
    if (--entry->refCount > 0) return;
    if (entry->pOwnData) AU::MemoryMgr::Falign(m_preparedMediaPool, entry->pOwnData);
    for (const MediaTriple& triple : *entry->pHolders)
        if (!(triple.holder->stateFlags & AuMediaHolder::kIsBank))
            AU::MemoryMgr::Free(g_DefaultPoolId, triple.holder);
    for (MediaEntry** link = &m_media[entry->mediaID % kMediaBuckets]; *link; link = &(*link)->pNext) {
        if (*link == entry) {
            *link = entry->pNext;
            break;
        }
    }
    --m_uMediaCount;
    entry->pHolders->~AuArray<MediaTriple>();
    AU::MemoryMgr::Free(g_DefaultPoolId, entry->pHolders);
    AU::MemoryMgr::Free(g_DefaultPoolId, entry);
}

bool CAuBankMgr::AddTriple(MediaEntry& entry, AuMediaHolder* holder, const u8* data, u32 size) {
    for (MediaTriple& triple : *entry.pHolders) {
        if (triple.holder == holder) {
            triple.data = data;
            triple.size = size;
            return true;
        }
    }
    return entry.pHolders->AddLast(MediaTriple{holder, data, size}) != nullptr;
}

void CAuBankMgr::RemoveTriples(MediaEntry& entry, const void* data, AuMediaHolder* holder) {
    AuArray<MediaTriple>& triples = *entry.pHolders;
    for (u32 i = triples.Count(); i-- > 0;) {
        const MediaTriple triple = triples[i];
        const bool match = holder
                               ? triple.holder == holder
                               : triple.data == data && !(triple.holder->stateFlags & AuMediaHolder::kIsBank);
        if (!match) continue;
        // Registration order decides which holder is handed out first: keep it.
        triples.EraseOrdered(i);
        if (!(triple.holder->stateFlags & AuMediaHolder::kIsBank))
            AU::MemoryMgr::Free(g_DefaultPoolId, triple.holder);
    }
}

AURESULT CAuBankMgr::SetMedia(const AuSourceSettings* settings, u32 count) {
    if (count == 0) return AuResultSuccess;
    if (!settings) return AuResultFail;
    // A setting that would be refused is found before anything changes, so a refusal leaves the
    // table exactly as it was.
    for (u32 i = 0; i < count; ++i)
        if (!settings[i].pMediaMemory || settings[i].uMediaSize == 0) return AuResultFail;
    AuArray<AuMediaHolder*> made;
    if (!made.Grow(count)) return AuResultNoMemory;
    CAuLock lock(m_mediaLock);
    AURESULT result = AuResultSuccess;
    for (u32 i = 0; i < count && result == AuResultSuccess; ++i) {
        const AuSourceSettings& setting = settings[i];
        MediaEntry* entry = FindMedia(setting.sourceID);
        if (entry)
            ++entry->refCount;
        else if (!(entry = NewMedia(setting.sourceID))) {
            result = AuResultFail;
            break;
        }
        void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(AuMediaHolder));
        auto* holder = block ? new (block) AuMediaHolder() : nullptr;
        if (!holder || !AddTriple(*entry, holder, setting.pMediaMemory, setting.uMediaSize)) {
            if (holder) AU::MemoryMgr::Free(g_DefaultPoolId, holder);
            DropMediaRef(entry);
            result = AuResultNoMemory;
            break;
        }
        made.AddLast(holder);
    }
    if (result != AuResultSuccess) {
        // Undo exactly what this call added: its holders and one reference each.
        for (u32 i = made.Count(); i-- > 0;) {
            MediaEntry* entry = FindMedia(settings[i].sourceID);
            RemoveTriples(*entry, nullptr, made[i]);
            DropMediaRef(entry);
        }
    }
    return result;
}

AURESULT CAuBankMgr::UnsetMedia(const AuSourceSettings* settings, u32 count) {
    if (count == 0) return AuResultSuccess;
    if (!settings) return AuResultFail;
    CAuLock lock(m_mediaLock);
    for (u32 i = 0; i < count; ++i) {
        MediaEntry* entry = FindMedia(settings[i].sourceID);
        if (!entry) continue;
        RemoveTriples(*entry, settings[i].pMediaMemory, nullptr);
        DropMediaRef(entry);
    }
    return AuResultSuccess;
}

const u8* CAuBankMgr::GetMedia(u32 mediaID, u32& outSize, AuMediaHolder*& outHolder) noexcept {
    outSize = 0;
    outHolder = nullptr;
    CAuLock list(g_csBankList);
    CAuLock lock(m_mediaLock);
    MediaEntry* entry = FindMedia(mediaID);
    if (!entry) return nullptr;
    ++entry->refCount;
    if (entry->pOwnData) {
        outSize = entry->uOwnSize;
        return entry->pOwnData;
    }
    for (const MediaTriple& triple : *entry->pHolders) {
        if (triple.holder->stateFlags & AuMediaHolder::kUnloading) continue;
        if (triple.holder->stateFlags & AuMediaHolder::kIsBank)
            static_cast<CAuLoadedBank*>(triple.holder)->loadCount.fetch_add(1);
        outHolder = triple.holder;
        outSize = triple.size;
        return triple.data;
    }
    DropMediaRef(entry);
    return nullptr;
}

void CAuBankMgr::ReleaseMedia(u32 mediaID) noexcept {
    CAuLock list(g_csBankList);
    CAuLock lock(m_mediaLock);
    if (MediaEntry* entry = FindMedia(mediaID)) DropMediaRef(entry);
}

void CAuBankMgr::ReleaseHolder(AuMediaHolder* holder) noexcept {
    if (holder && (holder->stateFlags & AuMediaHolder::kIsBank))
        UnloadCompletion(*static_cast<CAuLoadedBank*>(holder), true);
}

u32 CAuBankMgr::MediaEntryCount() {
    CAuLock lock(m_mediaLock);
    return m_uMediaCount;
}

i32 CAuBankMgr::MediaRefCount(u32 mediaID) {
    CAuLock lock(m_mediaLock);
    const MediaEntry* entry = FindMedia(mediaID);
    return entry ? entry->refCount : 0;
}

void* CAuBankMgr::AllocateDataBlock(u32 size) {
    CAuLoadedBank& bank = *m_pLoading;
    if (bank.poolID == AU_INVALID_POOL_ID) {
        // A pool of exactly one block of the payload, destroyed with the bank.
        bank.poolID = AU::MemoryMgr::CreatePool(nullptr, size, size, AuPoolAttrMalloc | AuPoolAttrFixedBlocks,
                                                kMediaAlignment);
        if (bank.poolID == AU_INVALID_POOL_ID) return nullptr;
        bank.bOwnPool = true;
    }
    void* block;
    if ((AU::MemoryMgr::GetPoolAttributes(bank.poolID) & AuPoolAttrFixedBlocks) &&
        AU::MemoryMgr::GetBlockSize(bank.poolID) >= size) {
        block = AU::MemoryMgr::GetBlock(bank.poolID);
        bank.bDataFromBlockPool = block != nullptr;
    } else {
        block = AU::MemoryMgr::Malloc(bank.poolID, size);
    }
    bank.pData = static_cast<u8*>(block);
    bank.uDataSize = block ? size : 0;
    return block;
}

namespace {

// The bank keeps its own copy of the index's real entries (ID 0 marks none), once: the reader's
// entries are valid during its call only, and withdrawal walks the copy later.
bool KeepMediaIndex(CAuLoadedBank& bank, const AuMediaIndexEntry* entries, u32 count) {
    if (bank.pIndex || count == 0) return true;
    auto* copy = static_cast<AuMediaIndexEntry*>(
        AU::MemoryMgr::Malloc(g_DefaultPoolId, count * static_cast<u32>(sizeof(AuMediaIndexEntry))));
    if (!copy) return false;
    u32 kept = 0;
    for (u32 i = 0; i < count; ++i)
        if (entries[i].mediaID != 0) copy[kept++] = entries[i];
    bank.pIndex = copy;
    bank.uMediaCount = kept;
    bank.flags |= CAuLoadedBank::kOwnsIndex;
    return true;
}

} // namespace

AURESULT CAuBankMgr::RegisterMedia(const AuMediaIndexEntry* entries, u32 count, const u8* block, u32 size) {
    CAuLoadedBank& bank = *m_pLoading;
    if (bank.uMediaRegistered) return AuResultSuccess;
    if (!KeepMediaIndex(bank, entries, count)) return AuResultNoMemory;
    bank.uDataSize = size;
    {
        CAuLock lock(m_mediaLock);
        for (u32 i = 0; i < bank.uMediaCount; ++i) {
            const AuMediaIndexEntry& e = bank.pIndex[i];
            MediaEntry* entry = FindMedia(e.mediaID);
            const bool created = entry == nullptr;
            if (created && !(entry = NewMedia(e.mediaID))) break;
            if (!entry->pOwnData && !AddTriple(*entry, &bank, block + e.uOffset, e.uSize)) {
                if (created) DropMediaRef(entry);
                break;
            }
            if (!created) ++entry->refCount;
            ++bank.uMediaRegistered;
        }
        if (bank.uMediaRegistered == bank.uMediaCount) return AuResultSuccess;
    }
    WithdrawMedia(bank);
    return AuResultNoMemory;
}

void CAuBankMgr::WithdrawMedia(CAuLoadedBank& bank) {
    CAuLock lock(m_mediaLock);
    for (u32 i = bank.uMediaRegistered; i-- > 0;) {
        if (MediaEntry* entry = FindMedia(bank.pIndex[i].mediaID)) {
            AuArray<MediaTriple>& triples = *entry->pHolders;
            const u32 at = triples.IndexOf([&](const MediaTriple& t) { return t.holder == &bank; });
            triples.EraseOrdered(at);
            DropMediaRef(entry);
        }
    }
    bank.uMediaRegistered = 0;
}

const u8* CAuBankMgr::CopyFromBank(MediaEntry& entry, u32 size) {
    for (const MediaTriple& triple : *entry.pHolders)
        if ((triple.holder->stateFlags & AuMediaHolder::kIsBank) && triple.size == size) return triple.data;
    return nullptr;
}

AURESULT CAuBankMgr::PrepareMedia(CAuBankReader& reader, const AuMediaIndexEntry* entries, u32 count, u32) {
    CAuLoadedBank& bank = *m_pLoading;
    if (bank.flags & CAuLoadedBank::kMediaPrepared) return AuResultSuccess;
    if (m_preparedMediaPool == AU_INVALID_POOL_ID) return AuResultNoMemory;
    if (!KeepMediaIndex(bank, entries, count)) return AuResultNoMemory;
    const u64 start = reader.Consumed();
    u32 prepared = 0;
    AURESULT result = AuResultSuccess;
    for (; prepared < bank.uMediaCount; ++prepared) {
        const AuMediaIndexEntry& e = bank.pIndex[prepared];
        const u64 at = reader.Consumed() - start;
        if (e.uOffset < at) {
            AuLog(AuLogLevel::Error, "bank: media %08X lies before the media read already", e.mediaID);
            result = AuResultFail;
            break;
        }
        u32 got = 0;
        reader.Skip(static_cast<u32>(e.uOffset - at), got);
        if (got != e.uOffset - at) {
            result = AuResultFail;
            break;
        }
        EnterCriticalSection(&m_mediaLock);
        MediaEntry* entry = FindMedia(e.mediaID);
        const bool created = entry == nullptr;
        if (created && !(entry = NewMedia(e.mediaID))) {
            LeaveCriticalSection(&m_mediaLock);
            result = AuResultNoMemory;
            break;
        }
        if (!created) ++entry->refCount;
        if (entry->pOwnData) {
            LeaveCriticalSection(&m_mediaLock);
            continue;
        }
        auto* copy = static_cast<u8*>(AU::MemoryMgr::Malign(m_preparedMediaPool, e.uSize, kMediaAlignment));
        if (!copy) {
            DropMediaRef(entry);
            LeaveCriticalSection(&m_mediaLock);
            result = AuResultNoMemory;
            break;
        }
        if (const u8* there = CopyFromBank(*entry, e.uSize)) {
            memcpy(copy, there, e.uSize);
        } else {
            LeaveCriticalSection(&m_mediaLock);
            got = 0;
            if (reader.Read(copy, e.uSize, got) != AuResultSuccess || got != e.uSize) {
                AU::MemoryMgr::Falign(m_preparedMediaPool, copy);
                CAuLock lock(m_mediaLock);
                if ((entry = FindMedia(e.mediaID))) DropMediaRef(entry);
                result = AuResultFail;
                break;
            }
            EnterCriticalSection(&m_mediaLock);
            entry = FindMedia(e.mediaID);
        }
        entry->pOwnData = copy;
        entry->uOwnSize = e.uSize;
        LeaveCriticalSection(&m_mediaLock);
    }
    if (result != AuResultSuccess) {
        CAuLock lock(m_mediaLock);
        for (u32 i = prepared; i-- > 0;)
            if (MediaEntry* entry = FindMedia(bank.pIndex[i].mediaID)) DropMediaRef(entry);
        return result;
    }
    bank.flags |= CAuLoadedBank::kMediaPrepared;
    return AuResultSuccess;
}

void CAuBankMgr::ReleasePreparedMedia(CAuLoadedBank& bank) {
    if (!(bank.flags & CAuLoadedBank::kMediaPrepared)) return;
    CAuLock lock(m_mediaLock);
    for (u32 i = 0; i < bank.uMediaCount; ++i)
        if (MediaEntry* entry = FindMedia(bank.pIndex[i].mediaID)) DropMediaRef(entry);
    bank.flags &= static_cast<u8>(~CAuLoadedBank::kMediaPrepared);
}

// ---- media for sources ----

AURESULT CAuBankMgr::ReadMediaFromFile(const MediaLoad& media, u8* destination) {
    const u32 codec = (media.pluginID >> 16) & 0xFF;
    AURESULT result;
    char name[kMaxFileName];
    if (media.offset == 0 && codec != 0)
        result = m_reader.OpenByID(media.fileID, 0, codec, nullptr, media.flags & 1);
    else if (m_names.GetBankFileName(media.fileID, name, sizeof(name)))
        result = m_reader.OpenByName(name, media.offset, nullptr);
    else
        result = m_reader.OpenByID(media.fileID, media.offset, 0, nullptr, media.flags & 1);
    if (result != AuResultSuccess) return result;
    u32 got = 0;
    result = m_reader.Read(destination, media.size, got);
    m_reader.Close();
    return result == AuResultSuccess && got == media.size ? AuResultSuccess : AuResultFail;
}

AURESULT CAuBankMgr::LoadOne(const MediaLoad& media) {
    EnterCriticalSection(&m_mediaLock);
    MediaEntry* entry = FindMedia(media.mediaID);
    const bool created = entry == nullptr;
    if (created && !(entry = NewMedia(media.mediaID))) {
        LeaveCriticalSection(&m_mediaLock);
        return AuResultNoMemory;
    }
    if (!created) ++entry->refCount;
    if (entry->pOwnData) {
        LeaveCriticalSection(&m_mediaLock);
        return AuResultSuccess;
    }
    u8* copy =
        m_preparedMediaPool == AU_INVALID_POOL_ID
            ? nullptr
            : static_cast<u8*>(AU::MemoryMgr::Malign(m_preparedMediaPool, media.size, kMediaAlignment));
    if (!copy) {
        DropMediaRef(entry);
        LeaveCriticalSection(&m_mediaLock);
        return AuResultNoMemory;
    }
    if (const u8* there = CopyFromBank(*entry, media.size)) {
        memcpy(copy, there, media.size);
    } else {
        LeaveCriticalSection(&m_mediaLock);
        const AURESULT result = ReadMediaFromFile(media, copy);
        EnterCriticalSection(&m_mediaLock);
        entry = FindMedia(media.mediaID);
        if (result != AuResultSuccess) {
            AU::MemoryMgr::Falign(m_preparedMediaPool, copy);
            if (entry) DropMediaRef(entry);
            LeaveCriticalSection(&m_mediaLock);
            return result;
        }
    }
    entry->pOwnData = copy;
    entry->uOwnSize = media.size;
    LeaveCriticalSection(&m_mediaLock);
    return AuResultSuccess;
}

AURESULT CAuBankMgr::LoadMedia(const MediaLoad& media) {
    if (!m_bPreparing) return LoadOne(media);
    MediaLoad record = media;
    record.data = nullptr;
    const u32 at = m_deferred.LowerBound(record, [](const MediaLoad& row, const MediaLoad& key) {
        return row.fileID != key.fileID ? row.fileID < key.fileID : row.offset < key.offset;
    });
    if (m_deferred.Count() == m_deferred.Capacity() && !m_deferred.Grow(kDeferredGrowth))
        return AuResultNoMemory;
    return m_deferred.Insert(at, record) ? AuResultSuccess : AuResultNoMemory;
}

void CAuBankMgr::UnloadMedia(u32 mediaID) {
    CAuLock lock(m_mediaLock);
    if (MediaEntry* entry = FindMedia(mediaID)) DropMediaRef(entry);
}

AURESULT CAuBankMgr::LoadDeferredMedia() {
    AURESULT result = AuResultSuccess;
    u32 loaded = 0;
    for (; loaded < m_deferred.Count(); ++loaded)
        if ((result = LoadOne(m_deferred[loaded])) != AuResultSuccess) break;
    if (result != AuResultSuccess)
        for (u32 i = loaded; i-- > 0;)
            UnloadMedia(m_deferred[i].mediaID);
    m_deferred.Term();
    return result;
}

// ---- engine wiring ----

namespace {

void BankFileNameSink(AuUniqueID bankID, const char* cutName) {
    if (CAuBankMgr* mgr = g_pBankMgr) mgr->SetBankFileName(bankID, cutName);
}

void BankMsgDrop(void* context, const AuQueuedMsg& msg) {
    // Nothing plays any more: the unload still finishes, so its data and callback are not lost.
    BankMsgExecute(context, msg);
}

} // namespace

void AuInstallBankManager(CAuBankMgr* mgr) {
    AuSetBankFileNameSink(mgr ? &BankFileNameSink : nullptr);
}

void AuInstallBankMsgHandler(CAuAudioMgr& audio, CAuBankMgr& mgr) {
    audio.SetMsgHandler(AuQueuedMsgType_BankRequest, AuMsgHandler{&BankMsgExecute, &BankMsgDrop, &mgr});
}
