// The audio thread "AU::EventManager", its pass over the queued messages and the frames, the
// output-device check, and the suspended mode with its pacing thread "AU Suspended".
#include "core/AuAudioMgr.h"
#include "core/AuEngineManagers.h"
#include "core/AuEngineTrace.h"
#include "core/AuListener.h"
#include "core/AuOutputTiming.h"
#include "core/AuPositionRepository.h"
#include "core/AuSoundEngineInternal.h"
#include "core/AuThreads.h"
#include "voices/AuLowerEngine.h"

#include <algorithm>

namespace {

constexpr u32 kRestorePeriodFrames = 32;
constexpr u32 kMaxSuspendedBuffers = 2;
// Passes per second the device time-out assumes when it counts passes without a render.
constexpr u32 kPassesPerSecond = 60;

u64 PerfNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<u64>(now.QuadPart);
}

f64 MsSince(u64 stamp) {
    return g_fPerfCountsPerMs > 0.0f ? static_cast<f64>(PerfNow() - stamp) / g_fPerfCountsPerMs : 0.0;
}

void RegisterAudioThread(DWORD threadId, void* self) {
    static_cast<CAuAudioMgr*>(self)->SetAudioThreadId(threadId);
}

} // namespace

AURESULT CAuAudioMgr::StartAudioThread(const AuThreadProperties& properties, HANDLE wakeEvent) {
    if (m_hAudioThread) return AuResultFail;
    m_audioThreadProperties = properties;
    m_bStopAudioThread.store(false, std::memory_order_release);
    SetWakeEvent(wakeEvent);
    m_uLastRenderStamp = PerfNow();
    CreateNamedThread(&CAuAudioMgr::AudioThreadProc, this, properties, &m_hAudioThread, "AU::EventManager",
                      &RegisterAudioThread, this);
    if (!m_hAudioThread) {
        SetWakeEvent(nullptr);
        return AuResultFail;
    }
    return AuResultSuccess;
}

void CAuAudioMgr::StopAudioThread() {
    EndSuspendedPacing();
    if (!m_hAudioThread) return;
    m_bStopAudioThread.store(true, std::memory_order_release);
    WakeUp();
    WaitForSingleObject(m_hAudioThread, INFINITE);
    CloseHandle(m_hAudioThread);
    m_hAudioThread = nullptr;
    SetWakeEvent(nullptr);
}

DWORD WINAPI CAuAudioMgr::AudioThreadProc(void* self) {
    auto* mgr = static_cast<CAuAudioMgr*>(self);
    srand(static_cast<unsigned>(_time64(nullptr)));
    bool comHere = false;
    if (!AuSoundEngineInternal::ComInitializedByEngine())
        comHere = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    {
        CAuMainLock lock;
        CAuLowerEngine::StartOutputs();
    }
    DWORD waited = WAIT_OBJECT_0;
    while (!mgr->m_bStopAudioThread.load(std::memory_order_acquire)) {
        if (waited == WAIT_OBJECT_0 || waited == WAIT_TIMEOUT) mgr->Perform();
        u32 timeout;
        {
            CAuMainLock lock;
            timeout = CAuLowerEngine::GetWaitTimeout();
        }
        waited = WaitForSingleObject(mgr->m_hWakeEvent.load(std::memory_order_acquire), timeout);
    }
    // Writers run their own passes from here on.
    mgr->SetAudioThreadId(0);
    if (comHere) CoUninitialize();
    return 0;
}

u32 CAuAudioMgr::NumBuffersToRender() noexcept {
    if (!CAuLowerEngine::IsSuspended()) return CAuLowerEngine::GetNumBuffersToRender();
    if (!CAuLowerEngine::RenderWhileSuspended()) return 1;
    const f64 buffers = MsSince(m_uLastRenderStamp) / std::max(g_OutputTiming.uBufferMs, 1u);
    return std::min(static_cast<u32>(buffers), kMaxSuspendedBuffers);
}

void CAuAudioMgr::Perform() noexcept {
    CAuMainLock lock;
    AuTrace("pass");
    u32 buffers = NumBuffersToRender();
    const bool rendered = buffers != 0;
    IAuVoiceGraph* voices = CAuLowerEngine::VoiceGraph();
    for (;;) {
        AuTrace("messages");
        ProcessMsgQueue();
        AuTrace("pending actions");
        ProcessPendingList();
        AuTrace("listeners");
        CAuListener::UpdateChanged();
        AuTrace("game objects");
        if (g_pRegistryMgr) g_pRegistryMgr->UpdateObjects();
        if (voices && voices->HasVoicesToStart()) {
            AuTrace("start voices");
            voices->StartPendingVoices();
        }
        if (buffers == 0) break;
        AuTrace("global callbacks");
        AuSoundEngineInternal::CallGlobalCallbacks(false);
        AuTrace("transitions and paths");
        if (g_pTransitionMgr) g_pTransitionMgr->ProcessTransitionsList(m_uFrameCounter + 1);
        if (g_pPathMgr) g_pPathMgr->ProcessPathsList(m_uFrameCounter + 1);
        AuTrace("limiters");
        if (voices) voices->UpdateLimiters();
        AuTrace("voice commands");
        if (voices) voices->ProcessVoiceCommands();
        AuTrace("modulators");
        if (g_pModulatorMgr) g_pModulatorMgr->ProcessModulators(m_uFrameCounter + 1);
        AuTrace("render");
        CAuLowerEngine::Perform(m_uFrameCounter);
        AuTrace("instance events");
        if (voices) voices->ProcessInstanceEvents();
        ++m_uFrameCounter;
        if (g_pPositionRepository) g_pPositionRepository->UpdateTime(m_uFrameCounter);
        --buffers;
    }
    CheckOutputDevice(rendered);
}

void CAuAudioMgr::CheckOutputDevice(bool rendered) noexcept {
    if (CAuLowerEngine::IsRestorePending() && !CAuLowerEngine::IsSuspended() &&
        m_uFrameCounter % kRestorePeriodFrames == 0) {
        AuTrace("restore sinks");
        CAuLowerEngine::TryRestoreSinks();
    }
    if (CAuLowerEngine::IsDeviceChangePending()) {
        AuTrace("device changed");
        CAuLowerEngine::OnDeviceChanged();
    }
    if (rendered || (CAuLowerEngine::IsSuspended() && !CAuLowerEngine::RenderWhileSuspended())) {
        m_uLastRenderStamp = PerfNow();
        m_uPassesWithoutRender = 0;
        return;
    }
    ++m_uPassesWithoutRender;
    if (m_uPassesWithoutRender > m_uDeviceTimeoutMs * kPassesPerSecond / 1000 &&
        MsSince(m_uLastRenderStamp) > m_uDeviceTimeoutMs) {
        AuTrace("device lost");
        CAuLowerEngine::OnDeviceChanged();
        m_uLastRenderStamp = PerfNow();
        m_uPassesWithoutRender = 0;
    }
}

AURESULT CAuAudioMgr::Suspend(bool renderWhileSuspended) {
    AURESULT result;
    {
        CAuMainLock lock;
        result = CAuLowerEngine::SetSuspended(true, renderWhileSuspended);
    }
    if (result != AuResultSuccess || !renderWhileSuspended) return result;
    m_bPacing.store(true, std::memory_order_release);
    CreateNamedThread(&CAuAudioMgr::SuspendedThreadProc, this, m_audioThreadProperties, &m_hSuspendedThread,
                      "AU Suspended");
    if (!m_hSuspendedThread) {
        m_bPacing.store(false, std::memory_order_release);
        return AuResultFail;
    }
    return AuResultSuccess;
}

AURESULT CAuAudioMgr::WakeupFromSuspend() {
    AURESULT result;
    {
        CAuMainLock lock;
        result = CAuLowerEngine::SetSuspended(false, true);
    }
    EndSuspendedPacing();
    WakeUp();
    return result;
}

void CAuAudioMgr::EndSuspendedPacing() {
    if (!m_hSuspendedThread) return;
    m_bPacing.store(false, std::memory_order_release);
    WaitForSingleObject(m_hSuspendedThread, INFINITE);
    CloseHandle(m_hSuspendedThread);
    m_hSuspendedThread = nullptr;
}

DWORD WINAPI CAuAudioMgr::SuspendedThreadProc(void* self) {
    auto* mgr = static_cast<CAuAudioMgr*>(self);
    while (mgr->m_bPacing.load(std::memory_order_acquire)) {
        Sleep(g_OutputTiming.uBufferMs);
        mgr->WakeUp();
    }
    return 0;
}
