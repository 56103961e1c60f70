#include "voices/AuLowerEngine.h"

#include "core/AuLog.h"
#include "core/AuOutputTiming.h"
#include "voices/AuResampler.h"
#include "voices/AuSink.h"

#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>

#include <winuser.h>
#include <xmmintrin.h>

#include <cstring>
#include <new>

AuMemPoolId g_LEngineDefaultPoolId = AU_INVALID_POOL_ID;

AuPlatformInitSettings CAuLowerEngine::s_platform{};
CAuOutputDevice* CAuLowerEngine::s_pDevices = nullptr;
CAuOutputDevice* CAuLowerEngine::s_pLastDevice = nullptr;
u32 CAuLowerEngine::s_uNumDevices = 0;
CAuSinkBase* CAuLowerEngine::s_pMainSink = nullptr;
AuChannelConfig CAuLowerEngine::s_outputConfig;
f32 CAuLowerEngine::s_fPrevVolume = 1.0f;
f32 CAuLowerEngine::s_fVolume = 1.0f;
bool CAuLowerEngine::s_bSuspended = false;
bool CAuLowerEngine::s_bRenderWhileSuspended = false;
std::atomic<bool> CAuLowerEngine::s_bDeviceChangePending{false};
bool CAuLowerEngine::s_bRestorePending = false;
bool CAuLowerEngine::s_bStarvationReported = false;
u32 CAuLowerEngine::s_uLastStarvationFrame = 0;
AuCaptureName CAuLowerEngine::s_captureName;
CAuPluginAllocator CAuLowerEngine::s_allocator;
IAuVoiceGraph* CAuLowerEngine::s_pVoiceGraph = nullptr;
IAuListeners* CAuLowerEngine::s_pListeners = nullptr;
IAuMotionDeviceMgr* CAuLowerEngine::s_pMotionMgr = nullptr;

namespace {

constexpr u32 kDefaultLEnginePoolSize = 0x1000000;
constexpr u32 kFlushToZero = 0x8000;
constexpr u32 kAllListeners = 0xFF;

} // namespace

void* CAuPluginAllocator::Malloc(size_t size) {
    if (size > UINT32_MAX) return nullptr;
    return AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, static_cast<u32>(size), 16);
}

void CAuPluginAllocator::Free(void* block) {
    AU::MemoryMgr::Falign(g_LEngineDefaultPoolId, block);
}

void CAuLowerEngine::GetDefaultPlatformInitSettings(AuPlatformInitSettings& settings) {
    memset(&settings, 0, sizeof(settings));
    settings.window = GetForegroundWindow();
    settings.audioThread = {1, 0, 32768};
    settings.bankManagerThread = {0, 0, 32768};
    settings.reservedThread = {1, 0, 32768};
    settings.lowerEnginePoolSize = kDefaultLEnginePoolSize;
    settings.lowerEnginePoolRatio = 1.0f;
    settings.outputRefillBuffers = 4;
    settings.sampleRateMode = 0;
    settings.outputFlag = true;
    settings.reservedWord = nullptr;
}

void CAuLowerEngine::SetPlatformInitSettings(AuPlatformInitSettings* settings) {
    if (!settings) {
        GetDefaultPlatformInitSettings(s_platform);
        return;
    }
    s_platform = *settings;
    AdjustPlatformInitSettings(s_platform);
    *settings = s_platform;
}

void CAuLowerEngine::AdjustPlatformInitSettings(AuPlatformInitSettings& settings) {
    if (settings.outputRefillBuffers < 2) settings.outputRefillBuffers = 4;
    if (settings.lowerEnginePoolSize <= 64) settings.lowerEnginePoolSize = kDefaultLEnginePoolSize;
}

void CAuLowerEngine::GetDefaultOutputSettings(AuOutputSettings& settings) {
    settings = AuOutputSettings{};
}

AURESULT CAuLowerEngine::Init(const AuOutputSettings& mainSettings, u32 mainOutputType) {
    CAuResampler::InitKernels();
    if (!AU::MemoryMgr::IsInitialized() || !AU::IAuStreamMgr::m_pStreamMgr) return AuResultFail;
    if (g_LEngineDefaultPoolId == AU_INVALID_POOL_ID) {
        g_LEngineDefaultPoolId =
            AU::MemoryMgr::CreatePool(nullptr, s_platform.lowerEnginePoolSize, 64, AuPoolAttrMalloc, 16);
        if (g_LEngineDefaultPoolId == AU_INVALID_POOL_ID) return AuResultNoMemory;
    }
    CAuSpeakerPan::Init();
    if (s_pListeners) s_pListeners->Init();

    u32 options = mainOutputType;
    if (!(options & AU_SINK_OPTION_DUMMY)) options |= AU_SINK_OPTION_MAIN;
    if (AddOutputDevice(AuAudioOutputType_Main, 0, mainSettings, options, 0, kAllListeners, true) !=
        AuResultSuccess) {
        if (AddOutputDevice(AuAudioOutputType_Main, 0, mainSettings, AU_SINK_OPTION_DUMMY, 0, kAllListeners,
                            true) != AuResultSuccess)
            return AuResultFail;
        AuLog(AuLogLevel::Warning, "No audio output could be opened: the sound engine runs silent");
    }
    s_outputConfig = s_pDevices->channelConfig;

    if (s_pVoiceGraph) {
        const AURESULT result = s_pVoiceGraph->InitVoiceCommands(AU_VOICE_COMMAND_POOL_ENTRIES);
        if (result != AuResultSuccess) return result;
    }
    return AuResultSuccess;
}

void CAuLowerEngine::TermVoices() {
    if (s_pVoiceGraph) s_pVoiceGraph->TermVoices();
}

void CAuLowerEngine::Term() {
    if (s_pVoiceGraph) s_pVoiceGraph->Term();
    FreeRegistries();
    DestroyAllDevices();
    if (s_pMotionMgr) s_pMotionMgr->Destroy();
    if (s_pListeners) s_pListeners->Term();
    if (AU::MemoryMgr::IsInitialized() && g_LEngineDefaultPoolId != AU_INVALID_POOL_ID)
        AU::MemoryMgr::DestroyPool(g_LEngineDefaultPoolId);
    g_LEngineDefaultPoolId = AU_INVALID_POOL_ID;
    s_outputConfig = AuChannelConfig();
    s_bSuspended = s_bRenderWhileSuspended = s_bRestorePending = false;
    s_bDeviceChangePending.store(false, std::memory_order_relaxed);
    s_bStarvationReported = false;
    s_uLastStarvationFrame = 0;
}

void CAuLowerEngine::Perform(u32 audioFrame) noexcept {
    // Denormals cost far more than they are worth in a mix: flush them for the whole frame, and
    // give the thread its own choice of that one bit back afterwards.
    const u32 previousCsr = _mm_getcsr();
    _mm_setcsr(previousCsr | kFlushToZero);

    for (CAuOutputDevice* device = s_pDevices; device; device = device->pNextItem) {
        if (!device->pSink || !device->pSink->IsStarved()) continue;
        device->pSink->ResetStarved();
        if (!s_bStarvationReported || audioFrame - s_uLastStarvationFrame > AU_STARVATION_REPORT_FRAMES) {
            s_bStarvationReported = true;
            s_uLastStarvationFrame = audioFrame;
            break;
        }
    }
    const bool motion = s_pMotionMgr && s_pMotionMgr->HasDevices();
    if (motion) s_pMotionMgr->PollDevices();

    const bool render = !s_bSuspended || s_bRenderWhileSuspended;
    if (s_pVoiceGraph) {
        s_pVoiceGraph->AdvancePendingVoices(g_uNumSamplesPerFrame);
        s_pVoiceGraph->PreFrame();
        s_pVoiceGraph->RenderVoices(render);
        if (render) s_pVoiceGraph->MixBusses();
    }
    for (CAuOutputDevice* device = s_pDevices; device; device = device->pNextItem)
        device->EndFrame();
    s_fPrevVolume = s_fVolume;

    if (motion) s_pMotionMgr->RenderDevices();
    if (s_pVoiceGraph) s_pVoiceGraph->RemoveIdleBusses();

    _mm_setcsr((_mm_getcsr() & ~kFlushToZero) | (previousCsr & kFlushToZero));
}

u32 CAuLowerEngine::GetNumBuffersToRender() noexcept {
    if (!s_pMainSink) return 0;
    u32 buffers = 0;
    return s_pMainSink->IsDataNeeded(buffers) == AuResultSuccess ? buffers : 0;
}

void CAuLowerEngine::StartOutputs() noexcept {
    for (CAuOutputDevice* device = s_pDevices; device; device = device->pNextItem)
        if (device->pSink) device->pSink->Start();
}

u32 CAuLowerEngine::GetWaitTimeout() noexcept {
    return s_pMainSink ? s_pMainSink->GetWaitTimeout() : 0xFFFFFFFFu;
}

AURESULT CAuLowerEngine::SetSuspended(bool suspend, bool renderWhileSuspended) {
    s_bRenderWhileSuspended = renderWhileSuspended;
    if (s_bSuspended == suspend) return AuResultTypeNotHandled;
    s_bSuspended = suspend;
    if (suspend) {
        const AURESULT result = SwitchToDummySinks();
        if (result == AuResultSuccess) {
            s_bRestorePending = true;
            s_bDeviceChangePending.store(false, std::memory_order_relaxed);
        }
        return result;
    }
    const AURESULT result = RestoreHardwareSinks();
    if (result == AuResultSuccess) {
        s_bRestorePending = false;
        s_bDeviceChangePending.store(false, std::memory_order_relaxed);
    }
    return result;
}

void CAuLowerEngine::OnDeviceChanged() {
    if (SwitchToDummySinks() == AuResultSuccess) {
        s_bRestorePending = true;
        s_bDeviceChangePending.store(false, std::memory_order_relaxed);
    }
}

void CAuLowerEngine::TryRestoreSinks() {
    if (RestoreHardwareSinks() == AuResultSuccess) {
        s_bRestorePending = false;
        s_bDeviceChangePending.store(false, std::memory_order_relaxed);
    }
}

AURESULT CAuLowerEngine::SwitchToDummySinks() {
    AURESULT result = AuResultSuccess;
    for (CAuOutputDevice* device = s_pDevices; device; device = device->pNextItem) {
        CAuDummySink* dummy = AuCreateDummySink(device->channelConfig);
        if (!dummy) {
            result = AuResultFail;
            continue;
        }
        dummy->Start();
        CAuSinkBase* old = device->pSink;
        const bool wasMain = old && old == s_pMainSink;
        if (old) old->Term(&s_allocator);
        device->pSink = dummy;
        device->channelConfig = dummy->ChannelConfig();
        if (wasMain) s_pMainSink = dummy;
    }
    return result;
}

AURESULT CAuLowerEngine::RestoreHardwareSinks() {
    AURESULT result = AuResultSuccess;
    for (CAuOutputDevice* device = s_pDevices; device; device = device->pNextItem) {
        CAuSinkBase* old = device->pSink;
        // The layout the device had: voices, busses and pan tables were made for it, and the
        // silent sink kept it.
        const AuChannelConfig layout =
            device->channelConfig.NumChannels() ? device->channelConfig : device->settings.channelConfig;
        if (device->CreateSink(layout) != AuResultSuccess) {
            result = AuResultFail;
            continue;
        }
        if (old) old->Term(&s_allocator);
        device->pSink->Start();
    }
    return result;
}

AURESULT CAuLowerEngine::AddOutputDevice(u32 type, u32 id, const AuOutputSettings& settings, u32 options,
                                         u32 owner, u32 listenerMask, bool isMain) {
    void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuOutputDevice));
    if (!block) return AuResultNoMemory;
    auto* device = new (block) CAuOutputDevice();
    device->settings = settings;
    // Secondary outputs of the second kind are silent as well.
    device->uOptions = options == 8 ? AU_SINK_OPTION_DUMMY : options;
    device->uDeviceType = type;
    device->uDeviceId = id;
    device->bIsMainOutput = isMain;
    device->ePanningRule = settings.ePanningRule;
    if (device->CreateSink() != AuResultSuccess) {
        DestroyDevice(device);
        return AuResultNoMemory;
    }
    f32 angles[AU_NUM_SPEAKER_ANGLES];
    f32 height = 0.0f;
    CAuSpeakerPan::GetDefaultSpeakerAngles(device->channelConfig, angles, height);
    if (device->SetSpeakerAngles(angles, AU_NUM_SPEAKER_ANGLES, height) != AuResultSuccess) {
        DestroyDevice(device);
        return AuResultFail;
    }
    if (s_pLastDevice)
        s_pLastDevice->pNextItem = device;
    else
        s_pDevices = device;
    s_pLastDevice = device;
    ++s_uNumDevices;
    device->uListenerMask = listenerMask;
    device->uOwner = owner;

    // The listeners of the mask are heard through this device from now on, no longer the main one.
    const u32 moved = type == AuAudioOutputType_Motion ? 0 : listenerMask;
    if (moved && !isMain) {
        if (CAuOutputDevice* mainDevice = FindDevice(AuAudioOutputType_Main, 0))
            mainDevice->uListenerMask &= ~moved;
        if (s_pListeners) s_pListeners->SetOutputDevice(moved, type, id);
    }
    if (s_pVoiceGraph) s_pVoiceGraph->UpdateVoiceOutputs(type, id, listenerMask);

    // A device that arrives during a capture joins it under the next numbered name.
    if (s_captureName.pName && !isMain) device->StartCapture(s_captureName.Next());
    return AuResultSuccess;
}

AURESULT CAuLowerEngine::AddSecondaryOutput(const AuOutputSettings& settings, u32 type, u32 id,
                                            u32 listenerMask, u32 owner) {
    if (type == AuAudioOutputType_Main && id == 0) return AuResultFail;
    if (FindDevice(type, id)) return AuResultSuccess;
    return AddOutputDevice(type, id, settings, type, owner, listenerMask, false);
}

AURESULT CAuLowerEngine::RemoveSecondaryOutput(u32 type, u32 id) {
    CAuOutputDevice* previous = nullptr;
    CAuOutputDevice* device = s_pDevices;
    while (device && !device->Is(type, id)) {
        previous = device;
        device = device->pNextItem;
    }
    if (!device) return AuResultFail;
    if (s_pVoiceGraph) s_pVoiceGraph->UpdateVoiceOutputs(type, id, 0);
    if (previous)
        previous->pNextItem = device->pNextItem;
    else
        s_pDevices = device->pNextItem;
    if (s_pLastDevice == device) s_pLastDevice = previous;
    --s_uNumDevices;
    DestroyDevice(device);
    return AuResultSuccess;
}

void CAuLowerEngine::SetPanningRule(u32 type, u32 id, AuPanningRule rule) {
    CAuOutputDevice* device = FindDevice(type, id);
    if (!device) return;
    device->ePanningRule = rule;
    if (s_pListeners) s_pListeners->RecomputeMatrices();
}

AURESULT CAuLowerEngine::SetOutputVolume(u32 type, u32 id, f32 volume) {
    CAuOutputDevice* device = FindDevice(type, id);
    if (!device) return AuResultFail;
    device->fVolume = volume;
    return AuResultSuccess;
}

CAuOutputDevice* CAuLowerEngine::FindDevice(u32 type, u32 id) {
    for (CAuOutputDevice* device = s_pDevices; device; device = device->pNextItem)
        if (device->Is(type, id)) return device;
    return nullptr;
}

void CAuLowerEngine::MixBusIntoDevice(u32 type, u32 id, const AuPipelineBuffer& busBuffer) noexcept {
    if (!busBuffer.uValidFrames) return;
    if (CAuOutputDevice* device = FindDevice(type, id)) device->MixBus(busBuffer);
}

void CAuLowerEngine::DestroyDevice(CAuOutputDevice* device) {
    device->Destroy();
    device->~CAuOutputDevice();
    AU::MemoryMgr::Free(g_DefaultPoolId, device);
}

void CAuLowerEngine::DestroyAllDevices() {
    while (CAuOutputDevice* device = s_pDevices) {
        s_pDevices = device->pNextItem;
        DestroyDevice(device);
    }
    s_pLastDevice = nullptr;
    s_uNumDevices = 0;
    s_pMainSink = nullptr;
    s_fPrevVolume = s_fVolume = 1.0f;
    s_captureName.Free();
}

void CAuLowerEngine::StartOutputCapture(const wchar_t* fileName) {
    if (s_captureName.pName || !fileName || !fileName[0]) return;
    if (!s_captureName.Make(fileName)) return;
    for (CAuOutputDevice* device = s_pDevices; device; device = device->pNextItem)
        device->StartCapture(device->Is(AuAudioOutputType_Main, 0) ? fileName : s_captureName.Next());
}

void CAuLowerEngine::StopOutputCapture() {
    for (CAuOutputDevice* device = s_pDevices; device; device = device->pNextItem)
        device->StopCapture();
    s_captureName.Free();
}

void CAuLowerEngine::AddOutputCaptureMarker(const char* text) {
    if (!text) return;
    for (CAuOutputDevice* device = s_pDevices; device; device = device->pNextItem)
        if (device->pCaptureWriter) device->pCaptureWriter->AddMarker(text);
}
