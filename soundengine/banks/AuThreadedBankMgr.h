// The bank manager that runs requests on its own thread, "AU::BankManager", in the order queued,
// and the bank callbacks' cookie table that lets a game cancel the callbacks of one cookie.
#pragma once

#include "banks/AuBankMgr.h"

#include <AU/AuThreadProperties.h>

class CAuBankCallbackMgr {
public:
    CAuBankCallbackMgr();
    ~CAuBankCallbackMgr();
    CAuBankCallbackMgr(const CAuBankCallbackMgr&) = delete;
    CAuBankCallbackMgr& operator=(const CAuBankCallbackMgr&) = delete;

    // One more queued request of the cookie will call back; 52 when the table cannot grow.
    AURESULT AddCookie(void* cookie);
    // A queued request of the cookie will not call back after all. Waits for running callbacks
    // unless called on the bank thread.
    void RemoveCookie(void* cookie);
    // No callback of the requests queued so far with this cookie will be made. Waits for running
    // callbacks unless called on the bank thread.
    void CancelCookie(void* cookie);
    // Calls back unless the cookie was cancelled; any thread (the audio thread completes unloads).
    void DoCallback(AuBankCallbackFunc callback, u32 bankID, const void* memory, AURESULT result,
                    AuMemPoolId poolID, void* cookie);
    u32 CookieCount();
    void Term();

private:
    struct Entry {
        void* cookie;
        u32 pending;
        u32 cancelled;
    };
    void WaitForNoCallback();

    AuArray<Entry> m_entries;
    CRITICAL_SECTION m_lock;
    // Manual reset, signalled while m_uRunning is 0; both change under m_lock.
    HANDLE m_hNoCallback = nullptr;
    u32 m_uRunning = 0;
};

class CAuThreadedBankMgr : public CAuBankMgr {
public:
    static constexpr u32 kBlockItems = 10;

    explicit CAuThreadedBankMgr(const AuThreadProperties& properties) : m_properties(properties) {}
    ~CAuThreadedBankMgr() override;

    AURESULT Init() override;
    // Discards what is still queued; a synchronous caller of it gets 2.
    void Term() override;
    AURESULT QueueBankRequest(const AuBankRequest& request) override;
    AURESULT MakeSyncWait(SyncWait& wait) override;
    AURESULT WaitSync(SyncWait& wait, AURESULT queued) override;
    void NotifyCompletion(AuBankCallbackFunc callback, u32 bankID, const void* memory, AURESULT result,
                          AuMemPoolId poolID, void* cookie) override;
    void StopThread() override;
    void CancelCookie(void* cookie) override { m_callbacks.CancelCookie(cookie); }
    // Waits for the audio thread to finish the unload.
    AURESULT UnloadAndWait(CAuLoadedBank& bank) override;
    bool IsThreaded() const override { return true; }

    CAuBankCallbackMgr& Callbacks() { return m_callbacks; }
    // Items taken from the heap beyond the block's ten, still in use.
    u32 ExtraItems();
    u32 QueuedCount();
    static DWORD BankThreadId();

protected:
    void OnUnloadPosted() override;
    void ForgetCallback(void* cookie) override { m_callbacks.RemoveCookie(cookie); }

private:
    struct Item {
        Item* pNext;
        AuBankRequest request;
    };
    static DWORD WINAPI ThreadProc(void* self);
    void Run();
    void FreeItem(Item* item);

    AuThreadProperties m_properties;
    HANDLE m_hWake = nullptr;
    // Set when an unload has posted its message; the stop runs the passes that no audio thread
    // runs any more while it waits for this thread.
    HANDLE m_hUnloadPosted = nullptr;
    HANDLE m_hThread = nullptr;
    // Written by the stopping game thread before it wakes the bank thread, read by the bank thread
    // after each wake: the wake event orders them, release and acquire document it.
    std::atomic<bool> m_bStop{false};
    CRITICAL_SECTION m_queueLock;
    bool m_bLockMade = false;
    Item* m_pHead = nullptr;
    Item* m_pTail = nullptr;
    Item* m_pFree = nullptr;
    Item* m_pBlock = nullptr;
    u32 m_uCount = 0;
    u32 m_uExtra = 0;
    CAuBankCallbackMgr m_callbacks;
};
