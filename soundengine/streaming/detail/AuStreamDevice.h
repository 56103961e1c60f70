// Streaming devices, their I/O thread and the streams they serve.
//
// Lock order: a device's list lock, then a stream's lock, then the device lock. Counts and the
// waiting events change only under the device lock.
#pragma once

#include <AU/IAuStreamMgr.h>

#include "streaming/detail/AuIOMemory.h"

#include <windows.h>

#include <atomic>

class CAuStreamDevice;

// Stream flag bits that the device reads.
enum : u8 {
    AuStmFlagAutomatic = 1 << 0,
    AuStmFlagWrite = 1 << 1,
    AuStmFlagEndOfFile = 1 << 2,
    AuStmFlagToBeDestroyed = 1 << 3,
    AuStmFlagFileOpen = 1 << 4,
    AuStmFlagReadyForIO = 1 << 5,
    AuStmFlagRequiresScheduling = 1 << 7,
};

// What the scheduler weighs for one stream.
struct AuSchedCandidate {
    bool bReady;
    f32 fDeadline; // milliseconds before the stream runs out; 0 when already starving
    u8 priority;
    i64 iLastTransfer;
};

// True when `candidate` should be served before `best` (both require scheduling).
bool AuSchedulerPrefers(const AuSchedCandidate& candidate, const AuSchedCandidate& best);

// An open to run on the I/O thread before the first transfer (the resolver deferred it).
struct AuDeferredOpen {
    u32 fileID;
    wchar_t* pszName; // null: open by id
    AuFileOpenFlags flags;
    bool bHasFlags;
    AuOpenMode openMode;
};

class CAuStmBase {
public:
    CAuStmBase(CAuStreamDevice* device, AuFileDescriptor* file);
    virtual ~CAuStmBase();
    bool CreateEvents();

    // I/O thread side, each under the stream's own lock.
    virtual void GetSchedInfo(i64 passTime, AuSchedCandidate& info) = 0;
    bool CanBeDestroyed();
    // Fills the transfer and returns true when the stream has one to run now.
    virtual bool PrepareTransfer(AuTransferInfo& transfer, void*& buffer, AuIoHeuristics& heuristics) = 0;
    virtual void TransferComplete(AURESULT result, u32 size) = 0;
    // The deferred open ran on the I/O thread; on success `opened` is the filled descriptor.
    virtual void FileOpened(AURESULT result, const AuFileDescriptor& opened) = 0;

    u8 Flags() const { return m_flags.load(std::memory_order_acquire); }
    AuFileDescriptor& File() { return *m_pFile; }
    AuDeferredOpen* TakeDeferredOpen();
    void SetDeferredOpen(AuDeferredOpen* record);
    void MarkFileOpen() { SetFlag(AuStmFlagFileOpen, true); }
    // The stream gives the descriptor back to its creator instead of freeing it.
    void DetachFile() { m_pFile = nullptr; }

    CAuStmBase* m_pNextStream = nullptr; // the device's list, under its list lock

protected:
    void SetFlag(u8 flag, bool on);
    bool HasFlag(u8 flag) const { return Flags() & flag; }
    // Recomputes requires-scheduling and ready-for-I/O from the stream's state, telling the
    // device about a change of readiness. Under the stream's lock.
    void UpdateSchedulingState(bool requiresScheduling, bool ready);
    // Releases the lock while waiting; returns with it held again.
    void WaitUnderLock();
    void WakeWaiters();
    AURESULT CopyName(const wchar_t* name);

    CRITICAL_SECTION m_lock;
    HANDLE m_hWaitEvent = nullptr;
    u32 m_uWaiters = 0;
    AuFileDescriptor* m_pFile;
    AuDeferredOpen* m_pDeferredOpen = nullptr;
    wchar_t* m_pszName = nullptr;
    CAuStreamDevice* m_pDevice;
    i64 m_iIOStartTime = 0;
    u8 m_priority = 50;
    bool m_bIOInProgress = false; // a transfer of this stream is inside the hook
    // Written under the stream's lock, read by the scheduler under the list lock only.
    std::atomic<u8> m_flags{0};
};

class CAuReadStream final : public CAuStmBase, public AU::IAuStdStream {
public:
    CAuReadStream(CAuStreamDevice* device, AuFileDescriptor* file, u32 blockSize);
    ~CAuReadStream() override = default;

    void Destroy() override;
    void GetInfo(AuStreamInfo& info) override;
    AuFileDescriptor* GetFileDescriptor() override { return m_pFile; }
    AURESULT SetStreamName(const wchar_t* name) override;
    u32 GetBlockSize() override { return m_uBlockSize; }
    AURESULT Read(void* buffer, u32 size, bool wait, u8 priority, f32 deadline, u32& outSize) override;
    AURESULT Write(void* buffer, u32 size, bool wait, u8 priority, f32 deadline, u32& outSize) override;
    u64 GetPosition(bool* endOfFile) override;
    AURESULT SetPosition(i64 moveOffset, AuMoveMethod moveMethod, i64* realOffset) override;
    void Cancel() override;
    void* GetData(u32& size) override;
    AuStmStatus GetStatus() override;

    void GetSchedInfo(i64 passTime, AuSchedCandidate& info) override;
    bool PrepareTransfer(AuTransferInfo& transfer, void*& buffer, AuIoHeuristics& heuristics) override;
    void TransferComplete(AURESULT result, u32 size) override;
    void FileOpened(AURESULT result, const AuFileDescriptor& opened) override;

private:
    AURESULT Execute(bool write, void* buffer, u32 size, bool wait, u8 priority, f32 deadline, u32& outSize);
    void SetStatus(AuStmStatus status);
    void CutAtEndOfFile();
    f32 EffectiveDeadline(i64 now) const;

    u32 m_uBlockSize;
    u8* m_pBuffer = nullptr;
    u64 m_uPosition = 0;
    u32 m_uRequestedSize = 0;
    u32 m_uTransferred = 0;
    f32 m_fDeadline = 0;
    AuStmStatus m_status = AuStmStatusIdle;
};

class CAuStreamDevice {
public:
    CAuStreamDevice() = default;
    virtual ~CAuStreamDevice() = default;
    CAuStreamDevice(const CAuStreamDevice&) = delete;
    CAuStreamDevice& operator=(const CAuStreamDevice&) = delete;

    // One scheduling pass and at most one transfer, on the I/O thread.
    virtual void PerformIO() = 0;
    // Frees the streams marked for destruction that allow it; true when none is left.
    virtual bool CanBeDestroyed();
    virtual void OnThreadStart();
    virtual AURESULT Init(const AuDeviceSettings& settings, u32 deviceID,
                          AU::StreamMgr::IAuLowLevelIOHook* hook);
    // Waits for the I/O thread, which ends only once every stream is gone, then frees the device.
    virtual void Destroy();
    virtual CAuReadStream* CreateStd(AuFileDescriptor* file, AuOpenMode openMode);

    // Readiness counts of standard streams, under the device lock.
    void StdStreamReady(bool ready);
    void FlushCache();

    u32 Granularity() const { return m_uGranularity; }
    u32 ID() const { return m_deviceID; }
    f32 TicksPerMs() const { return m_fTicksPerMs; }
    AU::StreamMgr::IAuLowLevelIOHook* Hook() const { return m_pHook; }
    CAuIOMemory& IOMemory() { return m_ioMemory; }
    CRITICAL_SECTION& DeviceLock() { return m_lockDevice; }

protected:
    static DWORD IOThread(void* device);
    // Unlinks and frees every stream of the list that may go; under the list lock.
    void CleanStreams();
    void FreeStream(CAuStmBase* stream);
    i64 Now() const;

    HANDLE m_hThread = nullptr;
    CRITICAL_SECTION m_lockDevice;
    HANDLE m_hTermination = nullptr;
    HANDLE m_hSlotFree = nullptr;
    HANDLE m_hStdWaiting = nullptr;
    HANDLE m_hAutoWaiting = nullptr;
    u32 m_uStdWaiting = 0;
    u32 m_uInFlight = 0;
    u32 m_uMaxConcurrentIO = 1;
    i64 m_iPassTime = 0; // I/O thread only
    CAuStmBase* m_pStreams = nullptr;
    CRITICAL_SECTION m_lockLists;
    CAuIOMemory m_ioMemory;
    u32 m_uGranularity = 0;
    f32 m_fTargetBufferLength = 0;
    u32 m_deviceID = AU_INVALID_DEVICE_ID;
    AU::StreamMgr::IAuLowLevelIOHook* m_pHook = nullptr;
    f32 m_fTicksPerMs = 1.0f;
    bool m_bLocksReady = false;
};

class CAuBlockingStreamDevice final : public CAuStreamDevice {
public:
    AURESULT Init(const AuDeviceSettings& settings, u32 deviceID,
                  AU::StreamMgr::IAuLowLevelIOHook* hook) override;
    void PerformIO() override;

private:
    void RunTransfer(CAuStmBase* stream);
    AU::StreamMgr::IAuIOHookBlocking* m_pBlockingHook = nullptr;
    AuTransferInfo m_currentTransfer{};
};
