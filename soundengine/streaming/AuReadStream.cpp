#include "streaming/detail/AuStreamDevice.h"

#include <AU/MemoryMgr.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cwchar>

CAuStmBase::CAuStmBase(CAuStreamDevice* device, AuFileDescriptor* file) : m_pFile(file), m_pDevice(device) {
    InitializeCriticalSection(&m_lock);
}

bool CAuStmBase::CreateEvents() {
    // Manual reset, armed under the lock before each wait: a completion between the unlock and
    // the wait is not lost, and a canceller and a reader waiting together both wake.
    m_hWaitEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return m_hWaitEvent != nullptr;
}

CAuStmBase::~CAuStmBase() {
    EnterCriticalSection(&m_lock);
    UpdateSchedulingState(false, false);
    LeaveCriticalSection(&m_lock);
    if (m_pFile) {
        if (HasFlag(AuStmFlagFileOpen)) m_pDevice->Hook()->Close(*m_pFile);
        AU::MemoryMgr::Free(g_StreamMgrPoolId, m_pFile);
    }
    if (m_pDeferredOpen) {
        AU::MemoryMgr::Free(g_StreamMgrPoolId, m_pDeferredOpen->pszName);
        AU::MemoryMgr::Free(g_StreamMgrPoolId, m_pDeferredOpen);
    }
    AU::MemoryMgr::Free(g_StreamMgrPoolId, m_pszName);
    if (m_hWaitEvent) CloseHandle(m_hWaitEvent);
    DeleteCriticalSection(&m_lock);
}

void CAuStmBase::SetFlag(u8 flag, bool on) {
    if (on)
        m_flags.fetch_or(flag, std::memory_order_acq_rel);
    else
        m_flags.fetch_and(static_cast<u8>(~flag), std::memory_order_acq_rel);
}

void CAuStmBase::UpdateSchedulingState(bool requiresScheduling, bool ready) {
    SetFlag(AuStmFlagRequiresScheduling, requiresScheduling);
    if (HasFlag(AuStmFlagReadyForIO) == ready) return;
    SetFlag(AuStmFlagReadyForIO, ready);
    m_pDevice->StdStreamReady(ready);
}

bool CAuStmBase::CanBeDestroyed() {
    EnterCriticalSection(&m_lock);
    const bool canGo = HasFlag(AuStmFlagToBeDestroyed) && m_uWaiters == 0 && !m_bIOInProgress;
    LeaveCriticalSection(&m_lock);
    return canGo;
}

void CAuStmBase::WaitUnderLock() {
    ++m_uWaiters;
    ResetEvent(m_hWaitEvent);
    LeaveCriticalSection(&m_lock);
    WaitForSingleObject(m_hWaitEvent, INFINITE);
    EnterCriticalSection(&m_lock);
    --m_uWaiters;
}

void CAuStmBase::WakeWaiters() {
    if (m_uWaiters) SetEvent(m_hWaitEvent);
}

void CAuStmBase::SetDeferredOpen(AuDeferredOpen* record) {
    EnterCriticalSection(&m_lock);
    m_pDeferredOpen = record;
    LeaveCriticalSection(&m_lock);
}

AuDeferredOpen* CAuStmBase::TakeDeferredOpen() {
    EnterCriticalSection(&m_lock);
    AuDeferredOpen* record = m_pDeferredOpen;
    m_pDeferredOpen = nullptr;
    LeaveCriticalSection(&m_lock);
    return record;
}

AURESULT CAuStmBase::CopyName(const wchar_t* name) {
    wchar_t* copy = nullptr;
    if (name) {
        const size_t bytes = (wcslen(name) + 1) * sizeof(wchar_t);
        if (bytes > UINT32_MAX) return AuResultNoMemory;
        copy = static_cast<wchar_t*>(AU::MemoryMgr::Malloc(g_StreamMgrPoolId, static_cast<u32>(bytes)));
        if (!copy) return AuResultNoMemory;
        memcpy(copy, name, bytes);
    }
    EnterCriticalSection(&m_lock);
    wchar_t* old = m_pszName;
    m_pszName = copy;
    LeaveCriticalSection(&m_lock);
    AU::MemoryMgr::Free(g_StreamMgrPoolId, old);
    return AuResultSuccess;
}

CAuReadStream::CAuReadStream(CAuStreamDevice* device, AuFileDescriptor* file, u32 blockSize)
    : CAuStmBase(device, file), m_uBlockSize(blockSize) {}

// A stream waiting for I/O or marked for destruction keeps the device coming back: the first to
// get a transfer, the second to be freed once nobody is inside it any more.
void CAuReadStream::SetStatus(AuStmStatus status) {
    m_status = status;
    const bool dying = HasFlag(AuStmFlagToBeDestroyed);
    const bool pending = status == AuStmStatusPending && !dying;
    UpdateSchedulingState(pending, pending || (dying && m_uWaiters == 0 && !m_bIOInProgress));
    if (status != AuStmStatusPending && status != AuStmStatusIdle) WakeWaiters();
}

void CAuReadStream::CutAtEndOfFile() {
    const u64 fileSize = m_pFile->iFileSize > 0 ? static_cast<u64>(m_pFile->iFileSize) : 0;
    if (m_uPosition + m_uRequestedSize > fileSize) {
        m_uRequestedSize = m_uPosition < fileSize ? static_cast<u32>(fileSize - m_uPosition) : 0;
        SetFlag(AuStmFlagEndOfFile, true);
    }
}

AURESULT CAuReadStream::Read(void* buffer, u32 size, bool wait, u8 priority, f32 deadline, u32& outSize) {
    return Execute(false, buffer, size, wait, priority, deadline, outSize);
}

AURESULT CAuReadStream::Write(void* buffer, u32 size, bool wait, u8 priority, f32 deadline, u32& outSize) {
    return Execute(true, buffer, size, wait, priority, deadline, outSize);
}

AURESULT CAuReadStream::Execute(bool write, void* buffer, u32 size, bool wait, u8 priority, f32 deadline,
                                u32& outSize) {
    outSize = 0;
    if (!buffer || priority > 100 || !(deadline >= 0.0f)) return AuResultInvalidParameter;
    EnterCriticalSection(&m_lock);
    // Checked before anything is stored: a refused call must not retarget the pending operation.
    if (m_status == AuStmStatusPending || m_status == AuStmStatusError || HasFlag(AuStmFlagToBeDestroyed) ||
        (!write && size % m_uBlockSize != 0)) {
        LeaveCriticalSection(&m_lock);
        return AuResultFail;
    }
    m_priority = priority;
    m_fDeadline = deadline;
    m_pBuffer = static_cast<u8*>(buffer);
    m_uRequestedSize = size;
    m_uTransferred = 0;
    SetFlag(AuStmFlagWrite, write);
    SetFlag(AuStmFlagEndOfFile, false);
    if (!write && HasFlag(AuStmFlagFileOpen)) CutAtEndOfFile();
    if (m_uRequestedSize == 0) {
        SetStatus(AuStmStatusCompleted);
        LeaveCriticalSection(&m_lock);
        return AuResultSuccess;
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    m_iIOStartTime = now.QuadPart;
    SetStatus(AuStmStatusPending);
    outSize = m_uRequestedSize;
    AURESULT result = AuResultSuccess;
    if (wait) {
        while (m_status == AuStmStatusPending)
            WaitUnderLock();
        outSize = m_uRequestedSize;
        result = m_status == AuStmStatusCompleted ? AuResultSuccess : AuResultFail;
        // The device may be waiting for the last waiter to leave before it frees the stream.
        SetStatus(m_status);
    }
    LeaveCriticalSection(&m_lock);
    return result;
}

u64 CAuReadStream::GetPosition(bool* endOfFile) {
    EnterCriticalSection(&m_lock);
    const u64 position = m_uPosition;
    if (endOfFile) *endOfFile = HasFlag(AuStmFlagEndOfFile);
    LeaveCriticalSection(&m_lock);
    return position;
}

AURESULT CAuReadStream::SetPosition(i64 moveOffset, AuMoveMethod moveMethod, i64* realOffset) {
    EnterCriticalSection(&m_lock);
    AURESULT result = AuResultSuccess;
    i64 base = 0;
    if (m_status == AuStmStatusPending)
        result = AuResultFail;
    else if (moveMethod == AuMoveCurrent)
        base = static_cast<i64>(m_uPosition);
    else if (moveMethod == AuMoveEnd)
        base = m_pFile->iFileSize;
    else if (moveMethod != AuMoveBegin)
        result = AuResultInvalidParameter;
    i64 position = 0;
    if (result == AuResultSuccess && __builtin_add_overflow(base, moveOffset, &position))
        result = AuResultInvalidParameter;
    if (result == AuResultSuccess && position < 0) result = AuResultInvalidParameter;
    if (result == AuResultSuccess) {
        position -= position % m_uBlockSize;
        m_uPosition = static_cast<u64>(position);
        if (realOffset) *realOffset = position - base;
    }
    LeaveCriticalSection(&m_lock);
    return result;
}

void CAuReadStream::Cancel() {
    EnterCriticalSection(&m_lock);
    SetStatus(AuStmStatusCancelled);
    while (m_bIOInProgress)
        WaitUnderLock();
    SetStatus(m_status);
    LeaveCriticalSection(&m_lock);
}

void CAuReadStream::Destroy() {
    EnterCriticalSection(&m_lock);
    SetFlag(AuStmFlagToBeDestroyed, true);
    SetStatus(AuStmStatusCancelled);
    while (m_bIOInProgress)
        WaitUnderLock();
    // Last touch: from here on the I/O thread may free the stream.
    SetStatus(m_status);
    LeaveCriticalSection(&m_lock);
}

void CAuReadStream::GetInfo(AuStreamInfo& info) {
    EnterCriticalSection(&m_lock);
    info.deviceID = m_pDevice->ID();
    info.pszName = m_pszName;
    info.uSize = m_pFile->iFileSize > 0 ? static_cast<u64>(m_pFile->iFileSize) : 0;
    info.bIsOpen = HasFlag(AuStmFlagFileOpen);
    LeaveCriticalSection(&m_lock);
}

AURESULT CAuReadStream::SetStreamName(const wchar_t* name) {
    return CopyName(name);
}

void* CAuReadStream::GetData(u32& size) {
    EnterCriticalSection(&m_lock);
    size = m_uRequestedSize;
    void* data = m_pBuffer;
    LeaveCriticalSection(&m_lock);
    return data;
}

AuStmStatus CAuReadStream::GetStatus() {
    EnterCriticalSection(&m_lock);
    const AuStmStatus status = m_status;
    LeaveCriticalSection(&m_lock);
    return status;
}

// The caller's deadline shared over the transfers still needed, less the time already gone.
f32 CAuReadStream::EffectiveDeadline(i64 now) const {
    const u32 remaining = m_uRequestedSize - m_uTransferred;
    const u32 granularity = m_pDevice->Granularity();
    const u32 transfers = remaining / granularity + (remaining % granularity ? 1 : 0);
    const f32 elapsed = static_cast<f32>(now - m_iIOStartTime) / m_pDevice->TicksPerMs();
    const f32 deadline = m_fDeadline / static_cast<f32>(transfers ? transfers : 1) - elapsed;
    return deadline > 0.0f ? deadline : 0.0f;
}

void CAuReadStream::GetSchedInfo(i64 passTime, AuSchedCandidate& info) {
    EnterCriticalSection(&m_lock);
    info.bReady = HasFlag(AuStmFlagReadyForIO);
    info.fDeadline = EffectiveDeadline(passTime);
    info.priority = m_priority;
    info.iLastTransfer = m_iIOStartTime;
    LeaveCriticalSection(&m_lock);
}

bool CAuReadStream::PrepareTransfer(AuTransferInfo& transfer, void*& buffer, AuIoHeuristics& heuristics) {
    EnterCriticalSection(&m_lock);
    const bool ready = !HasFlag(AuStmFlagToBeDestroyed) && HasFlag(AuStmFlagRequiresScheduling) &&
                       m_uTransferred < m_uRequestedSize;
    if (ready) {
        const u32 size = std::min(m_pDevice->Granularity(), m_uRequestedSize - m_uTransferred);
        const u64 position = m_uPosition + m_uTransferred;
        transfer.uFilePosition = u64{m_pFile->uSector} * m_uBlockSize + position;
        transfer.uBufferSize = size;
        transfer.uRequestedSize = size;
        buffer = m_pBuffer + m_uTransferred;
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        heuristics.fDeadline = EffectiveDeadline(now.QuadPart);
        heuristics.priority = m_priority;
        m_bIOInProgress = true;
    }
    LeaveCriticalSection(&m_lock);
    return ready;
}

void CAuReadStream::TransferComplete(AURESULT result, u32 size) {
    EnterCriticalSection(&m_lock);
    m_bIOInProgress = false;
    // A cancelled or destroyed stream ignores the data.
    if (m_status == AuStmStatusPending && !HasFlag(AuStmFlagToBeDestroyed)) {
        if (result != AuResultSuccess) {
            SetStatus(AuStmStatusError);
        } else {
            m_uTransferred += size;
            if (m_uTransferred >= m_uRequestedSize) {
                m_uPosition += m_uRequestedSize;
                // Written data extends the file for later reads of this stream.
                if (HasFlag(AuStmFlagWrite) && static_cast<i64>(m_uPosition) > m_pFile->iFileSize)
                    m_pFile->iFileSize = static_cast<i64>(m_uPosition);
                SetStatus(AuStmStatusCompleted);
            }
        }
    } else {
        SetStatus(m_status);
        WakeWaiters();
    }
    LeaveCriticalSection(&m_lock);
}

void CAuReadStream::FileOpened(AURESULT result, const AuFileDescriptor& opened) {
    EnterCriticalSection(&m_lock);
    if (result == AuResultSuccess) {
        *m_pFile = opened;
        SetFlag(AuStmFlagFileOpen, true);
        if (m_status == AuStmStatusPending && !HasFlag(AuStmFlagWrite)) {
            CutAtEndOfFile();
            if (m_uTransferred >= m_uRequestedSize) SetStatus(AuStmStatusCompleted);
        }
    } else if (m_status == AuStmStatusPending && !HasFlag(AuStmFlagToBeDestroyed)) {
        SetStatus(AuStmStatusError);
    }
    LeaveCriticalSection(&m_lock);
}
