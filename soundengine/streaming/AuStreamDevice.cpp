#include "streaming/detail/AuStreamDevice.h"

#include "core/AuThreads.h"
#include <AU/MemoryMgr.h>

#include <new>

bool AuSchedulerPrefers(const AuSchedCandidate& candidate, const AuSchedCandidate& best) {
    if (candidate.bReady != best.bReady) return candidate.bReady;
    if (candidate.fDeadline > 0.0f) return candidate.fDeadline < best.fDeadline;
    if (best.fDeadline > 0.0f || candidate.priority > best.priority) return true;
    return candidate.priority == best.priority && candidate.iLastTransfer < best.iLastTransfer;
}

AURESULT CAuStreamDevice::Init(const AuDeviceSettings& settings, u32 deviceID,
                               AU::StreamMgr::IAuLowLevelIOHook* hook) {
    InitializeCriticalSection(&m_lockDevice);
    InitializeCriticalSection(&m_lockLists);
    m_bLocksReady = true;
    if (settings.uGranularity == 0 || !hook) return AuResultInvalidParameter;
    if (settings.uIOMemorySize != 0 && !(settings.fTargetBufferLength >= 0.0f))
        return AuResultInvalidParameter;
    m_uGranularity = settings.uGranularity;
    m_fTargetBufferLength = settings.fTargetBufferLength;
    // One transfer at a time runs inside perform-I/O; the count only gates the loop.
    m_uMaxConcurrentIO = 1;
    m_deviceID = deviceID;
    m_pHook = hook;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    m_fTicksPerMs = static_cast<f32>(frequency.QuadPart) / 1000.0f;
    if (m_ioMemory.Init(settings) != AuResultSuccess) return AuResultFail;

    m_hTermination = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_hSlotFree = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    m_hStdWaiting = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_hAutoWaiting = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_uStdWaiting = 0;
    m_uInFlight = 0;
    if (!m_hTermination || !m_hSlotFree || !m_hStdWaiting || !m_hAutoWaiting) return AuResultFail;
    const AuThreadProperties properties{settings.iThreadPriority, settings.uThreadAffinityMask,
                                        settings.uThreadStackSize};
    CreateNamedThread(&CAuStreamDevice::IOThread, this, properties, &m_hThread, "AU::IOThread");
    return m_hThread ? AuResultSuccess : AuResultFail;
}

void CAuStreamDevice::Destroy() {
    if (m_hThread) {
        SetEvent(m_hTermination);
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
        m_hThread = nullptr;
    }
    for (HANDLE* event : {&m_hTermination, &m_hSlotFree, &m_hStdWaiting, &m_hAutoWaiting}) {
        if (*event) CloseHandle(*event);
        *event = nullptr;
    }
    m_uStdWaiting = 0;
    m_uInFlight = 0;
    m_ioMemory.Term();
    if (m_bLocksReady) {
        DeleteCriticalSection(&m_lockLists);
        DeleteCriticalSection(&m_lockDevice);
    }
    this->~CAuStreamDevice();
    AU::MemoryMgr::Free(g_StreamMgrPoolId, this);
}

void CAuStreamDevice::OnThreadStart() {
    m_iPassTime = Now();
}

i64 CAuStreamDevice::Now() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

DWORD CAuStreamDevice::IOThread(void* argument) {
    auto* device = static_cast<CAuStreamDevice*>(argument);
    device->OnThreadStart();
    for (;;) {
        const HANDLE slot[2] = {device->m_hTermination, device->m_hSlotFree};
        DWORD result = WaitForMultipleObjectsEx(2, slot, FALSE, INFINITE, TRUE);
        if (result == WAIT_OBJECT_0 + 1) {
            const HANDLE work[3] = {device->m_hTermination, device->m_hStdWaiting, device->m_hAutoWaiting};
            result = WaitForMultipleObjectsEx(3, work, FALSE, INFINITE, TRUE);
        }
        if (result == WAIT_IO_COMPLETION) continue;
        if (result == WAIT_OBJECT_0) {
            // Termination wins over pending work; the thread outlives the device's streams.
            if (device->CanBeDestroyed()) return 0;
            SleepEx(100, TRUE);
            continue;
        }
        if (result != WAIT_OBJECT_0 + 1 && result != WAIT_OBJECT_0 + 2) return 1;
        // Only the count is read under the device lock: perform-I/O takes stream locks, which
        // come before the device lock.
        EnterCriticalSection(&device->m_lockDevice);
        const bool slotFree = device->m_uInFlight < device->m_uMaxConcurrentIO;
        LeaveCriticalSection(&device->m_lockDevice);
        if (slotFree) device->PerformIO();
    }
}

void CAuStreamDevice::StdStreamReady(bool ready) {
    EnterCriticalSection(&m_lockDevice);
    if (ready) {
        if (++m_uStdWaiting == 1) SetEvent(m_hStdWaiting);
    } else if (m_uStdWaiting > 0 && --m_uStdWaiting == 0) {
        ResetEvent(m_hStdWaiting);
    }
    LeaveCriticalSection(&m_lockDevice);
}

void CAuStreamDevice::FlushCache() {
    EnterCriticalSection(&m_lockDevice);
    m_ioMemory.FlushCache();
    LeaveCriticalSection(&m_lockDevice);
}

void CAuStreamDevice::FreeStream(CAuStmBase* stream) {
    stream->~CAuStmBase();
    AU::MemoryMgr::Free(g_StreamMgrPoolId, stream);
}

void CAuStreamDevice::CleanStreams() {
    CAuStmBase** link = &m_pStreams;
    while (CAuStmBase* stream = *link) {
        if ((stream->Flags() & AuStmFlagToBeDestroyed) && stream->CanBeDestroyed()) {
            *link = stream->m_pNextStream;
            FreeStream(stream);
        } else {
            link = &stream->m_pNextStream;
        }
    }
}

bool CAuStreamDevice::CanBeDestroyed() {
    EnterCriticalSection(&m_lockLists);
    CleanStreams();
    const bool empty = m_pStreams == nullptr;
    LeaveCriticalSection(&m_lockLists);
    return empty;
}

CAuReadStream* CAuStreamDevice::CreateStd(AuFileDescriptor* file, AuOpenMode) {
    const u32 blockSize = m_pHook->GetBlockSize(*file);
    if (blockSize == 0 || blockSize > m_uGranularity || m_uGranularity % blockSize != 0) return nullptr;
    void* memory = AU::MemoryMgr::Malloc(g_StreamMgrPoolId, sizeof(CAuReadStream));
    if (!memory) return nullptr;
    auto* stream = new (memory) CAuReadStream(this, file, blockSize);
    if (!stream->CreateEvents()) {
        // The caller still owns the descriptor.
        stream->DetachFile();
        FreeStream(stream);
        return nullptr;
    }
    EnterCriticalSection(&m_lockLists);
    stream->m_pNextStream = m_pStreams;
    m_pStreams = stream;
    LeaveCriticalSection(&m_lockLists);
    return stream;
}

AURESULT CAuBlockingStreamDevice::Init(const AuDeviceSettings& settings, u32 deviceID,
                                       AU::StreamMgr::IAuLowLevelIOHook* hook) {
    m_pBlockingHook = dynamic_cast<AU::StreamMgr::IAuIOHookBlocking*>(hook);
    return CAuStreamDevice::Init(settings, deviceID, m_pBlockingHook);
}

void CAuBlockingStreamDevice::PerformIO() {
    m_iPassTime = Now();
    CAuStmBase* chosen = nullptr;
    AuSchedCandidate best{};
    EnterCriticalSection(&m_lockLists);
    CAuStmBase** link = &m_pStreams;
    while (CAuStmBase* stream = *link) {
        if ((stream->Flags() & AuStmFlagToBeDestroyed) && stream->CanBeDestroyed()) {
            *link = stream->m_pNextStream;
            FreeStream(stream);
            continue;
        }
        link = &stream->m_pNextStream;
        if (!(stream->Flags() & AuStmFlagRequiresScheduling)) continue;
        AuSchedCandidate candidate;
        stream->GetSchedInfo(m_iPassTime, candidate);
        if (!chosen || AuSchedulerPrefers(candidate, best)) {
            chosen = stream;
            best = candidate;
        }
    }
    LeaveCriticalSection(&m_lockLists);
    // Only this thread frees streams, so the chosen one outlives the transfer.
    if (chosen && best.bReady) RunTransfer(chosen);
}

void CAuBlockingStreamDevice::RunTransfer(CAuStmBase* stream) {
    if (AuDeferredOpen* open = stream->TakeDeferredOpen()) {
        AURESULT result = AuResultFail;
        AuFileDescriptor opened = stream->File();
        if (AU::StreamMgr::IAuFileLocationResolver* resolver = AU::StreamMgr::GetFileLocationResolver()) {
            bool syncOpen = true;
            AuFileOpenFlags* flags = open->bHasFlags ? &open->flags : nullptr;
            result = open->pszName ? resolver->Open(open->pszName, open->openMode, flags, syncOpen, opened)
                                   : resolver->Open(open->fileID, open->openMode, flags, syncOpen, opened);
            if (result == AuResultSuccess && !syncOpen) result = AuResultFail;
        }
        AU::MemoryMgr::Free(g_StreamMgrPoolId, open->pszName);
        AU::MemoryMgr::Free(g_StreamMgrPoolId, open);
        stream->FileOpened(result, opened);
        if (result != AuResultSuccess) return;
    }
    void* buffer = nullptr;
    AuIoHeuristics heuristics{};
    if (!stream->PrepareTransfer(m_currentTransfer, buffer, heuristics)) return;
    AU::StreamMgr::IAuIOHookBlocking* hook = m_pBlockingHook;
    const AURESULT result = (stream->Flags() & AuStmFlagWrite)
                                ? hook->Write(stream->File(), heuristics, buffer, m_currentTransfer)
                                : hook->Read(stream->File(), heuristics, buffer, m_currentTransfer);
    stream->TransferComplete(result == AuResultSuccess ? AuResultSuccess : AuResultFail,
                             m_currentTransfer.uRequestedSize);
}
