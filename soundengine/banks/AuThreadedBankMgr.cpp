#include "banks/AuThreadedBankMgr.h"

#include "core/AuAudioMgr.h"
#include "core/AuLog.h"
#include "core/AuThreads.h"

#include <AU/MemoryMgr.h>

#include <new>

namespace {

// Written by the bank thread when it starts and by its stopper after the join; read by the
// callback table to tell whether a wait would wait for its own caller. Sequentially consistent:
// it is read rarely and must never be seen stale by the bank thread itself.
std::atomic<DWORD> s_bankThreadId{0};

// Callbacks run on the bank thread and, for unloads, on the audio thread: neither may wait for
// running callbacks, one of which may be its own.
bool MayWaitForCallbacks() {
    const DWORD self = GetCurrentThreadId();
    if (self == s_bankThreadId.load()) return false;
    CAuAudioMgr* audio = g_pAudioMgr;
    return !audio || audio->AudioThreadId() != self;
}

} // namespace

// ---- callbacks ----

CAuBankCallbackMgr::CAuBankCallbackMgr() {
    InitializeCriticalSection(&m_lock);
    m_hNoCallback = CreateEventW(nullptr, TRUE, TRUE, nullptr);
}

CAuBankCallbackMgr::~CAuBankCallbackMgr() {
    Term();
    if (m_hNoCallback) CloseHandle(m_hNoCallback);
    DeleteCriticalSection(&m_lock);
}

void CAuBankCallbackMgr::Term() {
    EnterCriticalSection(&m_lock);
    m_entries.Term();
    LeaveCriticalSection(&m_lock);
}

u32 CAuBankCallbackMgr::CookieCount() {
    EnterCriticalSection(&m_lock);
    const u32 count = m_entries.Count();
    LeaveCriticalSection(&m_lock);
    return count;
}

AURESULT CAuBankCallbackMgr::AddCookie(void* cookie) {
    EnterCriticalSection(&m_lock);
    AURESULT result = AuResultSuccess;
    const u32 at = m_entries.IndexOf([&](const Entry& e) { return e.cookie == cookie; });
    if (at < m_entries.Count())
        ++m_entries[at].pending;
    else if (!m_entries.AddLast(Entry{cookie, 1, 0}))
        result = AuResultNoMemory;
    LeaveCriticalSection(&m_lock);
    return result;
}

void CAuBankCallbackMgr::WaitForNoCallback() {
    if (MayWaitForCallbacks()) WaitForSingleObject(m_hNoCallback, INFINITE);
}

void CAuBankCallbackMgr::RemoveCookie(void* cookie) {
    EnterCriticalSection(&m_lock);
    const u32 at = m_entries.IndexOf([&](const Entry& e) { return e.cookie == cookie; });
    if (at < m_entries.Count()) {
        Entry& entry = m_entries[at];
        if (entry.pending <= 1)
            m_entries.EraseOrdered(at);
        else {
            --entry.pending;
            if (entry.cancelled > entry.pending) entry.cancelled = entry.pending;
        }
    }
    LeaveCriticalSection(&m_lock);
    WaitForNoCallback();
}

void CAuBankCallbackMgr::CancelCookie(void* cookie) {
    EnterCriticalSection(&m_lock);
    const u32 at = m_entries.IndexOf([&](const Entry& e) { return e.cookie == cookie; });
    if (at < m_entries.Count()) m_entries[at].cancelled = m_entries[at].pending;
    LeaveCriticalSection(&m_lock);
    WaitForNoCallback();
}

void CAuBankCallbackMgr::DoCallback(AuBankCallbackFunc callback, u32 bankID, const void* memory,
                                    AURESULT result, AuMemPoolId poolID, void* cookie) {
    if (!callback) return;
    EnterCriticalSection(&m_lock);
    const u32 at = m_entries.IndexOf([&](const Entry& e) { return e.cookie == cookie; });
    if (at == m_entries.Count()) {
        LeaveCriticalSection(&m_lock);
        return;
    }
    Entry& entry = m_entries[at];
    const bool call = entry.cancelled == 0;
    if (entry.pending <= 1) {
        m_entries.EraseOrdered(at);
    } else {
        --entry.pending;
        if (entry.cancelled) --entry.cancelled;
    }
    // Counted, not flagged: the bank thread and the audio thread may both be inside a callback.
    if (m_uRunning++ == 0) ResetEvent(m_hNoCallback);
    LeaveCriticalSection(&m_lock);
    if (call) callback(bankID, memory, result, poolID, cookie);
    EnterCriticalSection(&m_lock);
    if (--m_uRunning == 0) SetEvent(m_hNoCallback);
    LeaveCriticalSection(&m_lock);
}

// ---- threaded manager ----

CAuThreadedBankMgr::~CAuThreadedBankMgr() {
    StopThread();
    if (m_pBlock) AU::MemoryMgr::Free(g_DefaultPoolId, m_pBlock);
    if (m_bLockMade) DeleteCriticalSection(&m_queueLock);
}

DWORD CAuThreadedBankMgr::BankThreadId() {
    return s_bankThreadId.load();
}

AURESULT CAuThreadedBankMgr::Init() {
    AURESULT result = CAuBankMgr::Init();
    if (result != AuResultSuccess) return result;
    if (!m_bLockMade) {
        InitializeCriticalSection(&m_queueLock);
        m_bLockMade = true;
    }
    m_pBlock = static_cast<Item*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, kBlockItems * sizeof(Item)));
    if (!m_pBlock) return AuResultNoMemory;
    for (u32 i = 0; i < kBlockItems; ++i) {
        m_pBlock[i].pNext = m_pFree;
        m_pFree = &m_pBlock[i];
    }
    if (m_hThread || s_bankThreadId.load() != 0) return AuResultFail;
    m_bStop.store(false, std::memory_order_release);
    m_hWake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_hUnloadPosted = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!m_hWake || !m_hUnloadPosted) return AuResultFail;
    CreateNamedThread(&CAuThreadedBankMgr::ThreadProc, this, m_properties, &m_hThread, "AU::BankManager");
    return m_hThread ? AuResultSuccess : AuResultFail;
}

DWORD WINAPI CAuThreadedBankMgr::ThreadProc(void* self) {
    s_bankThreadId.store(GetCurrentThreadId());
    static_cast<CAuThreadedBankMgr*>(self)->Run();
    return 0;
}

void CAuThreadedBankMgr::Run() {
    for (;;) {
        WaitForSingleObject(m_hWake, INFINITE);
        // What was queued before the stop still runs: an unload queued just before the engine's
        // termination completes and calls back.
        EnterCriticalSection(&m_queueLock);
        while (Item* item = m_pHead) {
            const AuBankRequest request = item->request;
            m_pHead = item->pNext;
            if (!m_pHead) m_pTail = nullptr;
            --m_uCount;
            FreeItem(item);
            LeaveCriticalSection(&m_queueLock);
            ExecuteQueueItem(request);
            EnterCriticalSection(&m_queueLock);
        }
        LeaveCriticalSection(&m_queueLock);
        if (m_bStop.load(std::memory_order_acquire)) return;
    }
}

void CAuThreadedBankMgr::FreeItem(Item* item) {
    if (item >= m_pBlock && item < m_pBlock + kBlockItems) {
        item->pNext = m_pFree;
        m_pFree = item;
    } else {
        --m_uExtra;
        AU::MemoryMgr::Free(g_DefaultPoolId, item);
    }
}

AURESULT CAuThreadedBankMgr::QueueBankRequest(const AuBankRequest& request) {
    if (!m_bLockMade || !m_pBlock) return AuResultFail;
    EnterCriticalSection(&m_queueLock);
    if (request.callback) {
        const AURESULT added = m_callbacks.AddCookie(request.cookie);
        if (added != AuResultSuccess) {
            LeaveCriticalSection(&m_queueLock);
            return added;
        }
    }
    Item* item = m_pFree;
    if (item) {
        m_pFree = item->pNext;
    } else if ((item = static_cast<Item*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(Item))))) {
        ++m_uExtra;
    } else {
        LeaveCriticalSection(&m_queueLock);
        // Outside the queue lock: a running callback may be queueing.
        if (request.callback) m_callbacks.RemoveCookie(request.cookie);
        return AuResultFail;
    }
    item->pNext = nullptr;
    item->request = request;
    if (m_pTail)
        m_pTail->pNext = item;
    else
        m_pHead = item;
    m_pTail = item;
    ++m_uCount;
    SetEvent(m_hWake);
    LeaveCriticalSection(&m_queueLock);
    return AuResultSuccess;
}

AURESULT CAuThreadedBankMgr::MakeSyncWait(SyncWait& wait) {
    wait = SyncWait{AuResultNotImplemented, CreateEventW(nullptr, FALSE, FALSE, nullptr), AU_INVALID_POOL_ID};
    return wait.event ? AuResultSuccess : AuResultFail;
}

AURESULT CAuThreadedBankMgr::WaitSync(SyncWait& wait, AURESULT queued) {
    if (queued == AuResultSuccess) WaitForSingleObject(wait.event, INFINITE);
    CloseHandle(wait.event);
    wait.event = nullptr;
    return queued == AuResultSuccess ? wait.result : queued;
}

void CAuThreadedBankMgr::NotifyCompletion(AuBankCallbackFunc callback, u32 bankID, const void* memory,
                                          AURESULT result, AuMemPoolId poolID, void* cookie) {
    m_callbacks.DoCallback(callback, bankID, memory, result, poolID, cookie);
}

AURESULT CAuThreadedBankMgr::UnloadAndWait(CAuLoadedBank& bank) {
    SyncWait wait;
    AURESULT result = MakeSyncWait(wait);
    if (result != AuResultSuccess) return result;
    if ((result = m_callbacks.AddCookie(&wait)) != AuResultSuccess) {
        CloseHandle(wait.event);
        return result;
    }
    result = PostUnload(bank, &CAuBankMgr::SyncCallback, &wait);
    // The completion comes whatever the wake-up's result: wait for it.
    WaitForSingleObject(wait.event, INFINITE);
    CloseHandle(wait.event);
    return result == AuResultSuccess ? wait.result : result;
}

void CAuThreadedBankMgr::OnUnloadPosted() {
    if (m_hUnloadPosted) SetEvent(m_hUnloadPosted);
}

void CAuThreadedBankMgr::StopThread() {
    m_bStop.store(true, std::memory_order_release);
    if (m_hThread) {
        SetEvent(m_hWake);
        // The audio thread is gone by now: an unload that posted before it went, and waits for
        // its completion, gets its pass run here.
        const HANDLE handles[2] = {m_hThread, m_hUnloadPosted};
        while (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0) {
            if (CAuAudioMgr* audio = g_pAudioMgr; audio && audio->AudioThreadId() == 0) {
                CAuMainLock lock;
                audio->ProcessMsgQueue();
            }
        }
        CloseHandle(m_hThread);
        m_hThread = nullptr;
        s_bankThreadId.store(0);
    }
    if (m_hWake) CloseHandle(m_hWake);
    if (m_hUnloadPosted) CloseHandle(m_hUnloadPosted);
    m_hWake = m_hUnloadPosted = nullptr;
}

void CAuThreadedBankMgr::Term() {
    if (m_bLockMade) {
        EnterCriticalSection(&m_queueLock);
        Item* item = m_pHead;
        m_pHead = m_pTail = nullptr;
        m_uCount = 0;
        while (item) {
            Item* next = item->pNext;
            // A synchronous caller would wait for ever: it learns that its request did not run.
            if (item->request.callback == &CAuBankMgr::SyncCallback)
                SyncCallback(item->request.bankID, nullptr, AuResultFail, AU_INVALID_POOL_ID,
                             item->request.cookie);
            FreeItem(item);
            item = next;
        }
        m_pFree = nullptr;
        LeaveCriticalSection(&m_queueLock);
    }
    if (m_pBlock) AU::MemoryMgr::Free(g_DefaultPoolId, m_pBlock);
    m_pBlock = nullptr;
    m_callbacks.Term();
    CAuBankMgr::Term();
}

u32 CAuThreadedBankMgr::ExtraItems() {
    EnterCriticalSection(&m_queueLock);
    const u32 extra = m_uExtra;
    LeaveCriticalSection(&m_queueLock);
    return extra;
}

u32 CAuThreadedBankMgr::QueuedCount() {
    EnterCriticalSection(&m_queueLock);
    const u32 count = m_uCount;
    LeaveCriticalSection(&m_queueLock);
    return count;
}
