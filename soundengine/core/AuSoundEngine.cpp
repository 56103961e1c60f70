// The engine's start and stop: the checks, the managers in their fixed order, the voice side and
// the audio thread; and the exported calls that act at once on the caller's thread.
#include "core/AuAudioMgr.h"
#include "core/AuCpuInfo.h"
#include "core/AuEngineManagers.h"
#include "core/AuEngineSettings.h"
#include "core/AuEngineTrace.h"
#include "core/AuEventMsgHandlers.h"
#include "core/AuGameSyncs.h"
#include "core/AuListener.h"
#include "core/AuObjectIndex.h"
#include "core/AuOutputTiming.h"
#include "core/AuPlayingMgr.h"
#include "core/AuPositionRepository.h"
#include "core/AuRegistryMsgHandlers.h"
#include "core/AuSoundEngineInternal.h"
#include "core/AuThreads.h"
#include "hierarchy/AuBus.h"
#include "hierarchy/AuEvent.h"
#include "hierarchy/AuHierarchyLoader.h"
#include "hierarchy/AuNodeBase.h"
#include "voices/AuInstanceMgr.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuLowerEngineSeams.h"
#include "voices/AuMixer.h"
#include "voices/AuOutputSide.h"

#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>
#include <AU/SoundEngine.h>

#include <new>

f32 g_fPerfCountsPerMs = 0.0f;
AuAssertHook g_pAssertHook = nullptr;
std::atomic<AuStateChangeHandlerFunc> g_pfnStateChangeHandler{nullptr};
std::atomic<AuBankExtensionReaderFunc> g_pfnBankExtensionReader{nullptr};

CAuCurveTable* g_pCurveTable = nullptr;
CAuBankMgr* g_pBankMgr = nullptr;
CAuRegistryMgr* g_pRegistryMgr = nullptr;
CAuModulatorMgr* g_pModulatorMgr = nullptr;
CAuPathMgr* g_pPathMgr = nullptr;
CAuSwitchMgr* g_pSwitchMgr = nullptr;
CAuStateMgr* g_pStateMgr = nullptr;
CAuInstanceMgr* g_pInstanceMgr = nullptr;

namespace {

constexpr u32 kDefaultPoolSize = 0x1000000;

AuInitSettings s_settings{};
bool s_bInitialized = false;
AuArray<AuGlobalCallbackFunc> s_globalCallbacks;
// Reads the "HIRC" chunks of the bank manager, one request at a time.
CAuHierarchyLoader s_hierarchyLoader;
// The events that the bank manager prepares; it walks them until its own end.
CAuEventPreparation s_eventPreparation;
// The lower engine's voice graph: voices, their outputs and the mixing busses.
CAuMixer s_mixer;

// A playing sound holds its game object: one the game unregisters meanwhile lives on until its
// last sound ends, as the voices still ask it for listeners and sends.
class CAuRegisteredObjRefs final : public IAuGameObjRefs {
public:
    void AddRef(CAuRegisteredObj* gameObj) noexcept override { gameObj->AddRef(); }
    void Release(CAuRegisteredObj* gameObj) noexcept override { gameObj->Release(); }
    u32 GetGameDefinedSends(CAuRegisteredObj* gameObj, AuUniqueID busIDs[4],
                            f32 levels[4]) noexcept override {
        u32 count = 0;
        for (u32 i = 0; i < AU_MAX_AUX_SENDS && gameObj->AuxSends()[i].auxBusID != 0; ++i, ++count) {
            busIDs[i] = gameObj->AuxSends()[i].auxBusID;
            levels[i] = gameObj->AuxSends()[i].fControlValue;
        }
        return count;
    }
};
CAuRegisteredObjRefs s_objectRefs;

// Builds a manager in the default pool (unless it exists) and runs its start; 52 without memory,
// else the start's result. The pointer is set before the start so that Term finds a manager
// whose start failed.
template <class T, class Start, class... Args>
AURESULT Make(T*& global, const char* step, Start start, Args... args) {
    AuTrace(step);
    if (global) return AuResultSuccess;
    void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(T));
    if (!block) return AuResultNoMemory;
    global = new (block) T(args...);
    return start(*global);
}

template <class T> void Destroy(T*& global, const char* step) {
    if (!global) return;
    AuTrace(step);
    global->Term();
    global->~T();
    AU::MemoryMgr::Free(g_DefaultPoolId, global);
    global = nullptr;
}

// The threaded manager or the plain one, by the settings; the game's bank names reach it.
AURESULT MakeBankMgr() {
    AuTrace("bank manager");
    if (g_pBankMgr) return AuResultSuccess;
    const bool threaded = s_settings.useBankManagerThread;
    void* block =
        AU::MemoryMgr::Malloc(g_DefaultPoolId, threaded ? sizeof(CAuThreadedBankMgr) : sizeof(CAuBankMgr));
    if (!block) return AuResultNoMemory;
    g_pBankMgr = threaded ? new (block)
                                CAuThreadedBankMgr(CAuLowerEngine::PlatformSettings().bankManagerThread)
                          : new (block) CAuBankMgr();
    g_pBankMgr->SetPreparedMediaPool(s_settings.preparedMediaPoolId);
    AuInstallBankManager(g_pBankMgr);
    return g_pBankMgr->Init();
}

AURESULT SoundEngineStartup() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    g_fPerfCountsPerMs = static_cast<f32>(frequency.QuadPart) / 1000.0f;
    AURESULT result = AuResultSuccess;
    const u32 frames = s_settings.samplesPerFrame;
    if (frames != 256 && frames != 512 && frames != 1024 && frames != 2048) result = AuResultInvalidParameter;

    const auto plain = [](auto& manager) { return manager.Init(); };
    if (result == AuResultSuccess)
        result = Make(g_pIndex, "object index", [](CAuObjectIndex& index) {
            index.Init();
            return AuResultSuccess;
        });
    if (result == AuResultSuccess) result = Make(g_pRTPCMgr, "rtpc manager", plain);
    if (result == AuResultSuccess) result = Make(g_pCurveTable, "curve table", plain);
    if (result == AuResultSuccess) result = MakeBankMgr();
    if (result == AuResultSuccess) result = Make(g_pPlayingMgr, "playing manager", plain);
    if (result == AuResultSuccess) result = Make(g_pPositionRepository, "position repository", plain);
    if (result == AuResultSuccess) result = Make(g_pRegistryMgr, "registry manager", plain);
    if (result == AuResultSuccess) result = Make(g_pModulatorMgr, "modulator manager", plain);
    if (result == AuResultSuccess)
        result = Make(g_pTransitionMgr, "transition manager",
                      [](CAuTransitionMgr& m) { return m.Init(s_settings.maxTransitions); });
    if (result == AuResultSuccess)
        result =
            Make(g_pPathMgr, "path manager", [](CAuPathMgr& m) { return m.Init(s_settings.maxPathRecords); });
    if (result == AuResultSuccess) result = Make(g_pSwitchMgr, "switch manager", plain);
    if (result == AuResultSuccess) result = Make(g_pStateMgr, "state manager", plain);
    if (result == AuResultSuccess) {
        // Every owner of a chunk exists now: banks can be read.
        AuTrace("bank chunk readers");
        AuInstallCoreHierarchyLoaders();
        g_pBankMgr->SetChunkSinks(nullptr, g_pCurveTable, &s_hierarchyLoader);
        g_pBankMgr->SetEventPreparation(&s_eventPreparation);
        AuInstallGameSyncs(g_pBankMgr, s_mixer);
    }
    if (g_pTransitionMgr) s_settings.maxTransitions = g_pTransitionMgr->Capacity();
    return result;
}

// The voice side: output timing, COM, the wake event (the output side's output event), the lower
// engine with its main output and the watch on audio-device changes.
AURESULT StartVoiceSide() {
    AuTrace("voice side");
    CAuLowerEngine::SetListeners(&CAuListener::Instance());
    // The graph is in place before the lower engine starts: its start sizes the voice commands.
    CAuLowerEngine::SetVoiceGraph(&s_mixer);
    s_mixer.SetBusNodeLookup(AuLookupBankMixBus);
    g_pVoiceCommandQueue = &s_mixer.Commands();
    g_pGameObjRefs = &s_objectRefs;
    // The instance manager's start brings up the output side.
    const AURESULT result =
        Make(g_pInstanceMgr, "instance manager", [](CAuInstanceMgr& m) { return m.Init(s_settings); });
    s_mixer.SetInstanceMgr(g_pInstanceMgr);
    g_pNodeInstances = g_pInstanceMgr;
    // A bank's unload stops the instances that read its data before the data goes.
    if (g_pBankMgr) g_pBankMgr->SetInstanceStopper(g_pInstanceMgr);
    if (g_pTransitionMgr) g_pTransitionMgr->SetOutputTiming(g_OutputTiming.uBufferMs, g_uNumSamplesPerFrame);
    if (result == AuResultSuccess) {
        s_settings.mainOutputSettings.channelConfig = CAuLowerEngine::OutputConfig();
        // A main output that could not be opened fell back to the silent sink.
        const CAuOutputDevice* main = CAuLowerEngine::FindDevice(AuAudioOutputType_Main, 0);
        if (main && (main->uOptions & AU_SINK_OPTION_DUMMY)) s_settings.mainOutputType = main->uOptions;
    }
    return result;
}

AURESULT StartAudioMgr() {
    AuTrace("audio manager");
    if (g_pAudioMgr) return AuResultSuccess;
    void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuAudioMgr));
    if (!block) return AuResultNoMemory;
    g_pAudioMgr = new (block) CAuAudioMgr();
    AURESULT result = g_pAudioMgr->Init(s_settings.commandQueueSize);
    if (result != AuResultSuccess) return result;
    s_settings.commandQueueSize = g_pAudioMgr->Capacity();
    g_pAudioMgr->SetDeviceTimeoutMs(s_settings.deviceTimeoutMs);
    g_pAudioMgr->SetPlayAndContinueLookAhead(s_settings.playAndContinueLookAhead);
    AuRegisterObjectMsgHandlers(*g_pAudioMgr);
    AuRegisterOutputMsgHandlers(*g_pAudioMgr);
    AuRegisterRTPCMsgHandlers(*g_pAudioMgr);
    AuRegisterGameSyncMsgHandlers(*g_pAudioMgr);
    AuRegisterEventMsgHandlers(*g_pAudioMgr);
    AuInstallNodeMsgHandlers(*g_pAudioMgr);
    if (g_pBankMgr) AuInstallBankMsgHandler(*g_pAudioMgr, *g_pBankMgr);
    AuTrace("audio thread");
    return g_pAudioMgr->StartAudioThread(CAuLowerEngine::PlatformSettings().audioThread, AuOutputEvent());
}

void ReleaseDynamicSequence(CAuIndexable& sequence) {
    if (g_pPlayingMgr) g_pPlayingMgr->RemovePendingAction(sequence.key);
}

} // namespace

namespace AuSoundEngineInternal {

const AuInitSettings& InitSettings() {
    return s_settings;
}

bool ComInitializedByEngine() {
    return AuOutputSideInitialisedCom();
}

void CallGlobalCallbacks(bool lastCall) noexcept {
    for (u32 i = s_globalCallbacks.Count(); i-- > 0;)
        s_globalCallbacks[i](lastCall);
}

} // namespace AuSoundEngineInternal

namespace AU::SoundEngine {

void GetDefaultInitSettings(AuInitSettings& settings) {
    settings = AuInitSettings{};
    settings.assertHook = nullptr;
    settings.maxPathRecords = 255;
    settings.maxTransitions = 255;
    settings.defaultPoolSize = kDefaultPoolSize;
    settings.memoryThresholdRatio = 1.0f;
    settings.commandQueueSize = 0x40000;
    settings.preparedMediaPoolId = AU_INVALID_POOL_ID;
    settings.gameSyncPreparation = false;
    settings.playAndContinueLookAhead = 1;
    settings.samplesPerFrame = AU_DEFAULT_SAMPLES_PER_FRAME;
    settings.reservedSizeA = 0x40000;
    settings.reservedSizeB = 0x10000;
    settings.mainOutputType = 3;
    CAuLowerEngine::GetDefaultOutputSettings(settings.mainOutputSettings);
    settings.deviceTimeoutMs = 1000;
    settings.useBankManagerThread = true;
}

void GetDefaultPlatformInitSettings(AuPlatformInitSettings& settings) {
    CAuLowerEngine::GetDefaultPlatformInitSettings(settings);
}

AURESULT Init(AuInitSettings* settings, AuPlatformInitSettings* platformSettings) {
    if (!CAuCpuInfo::Get()->HasFeature(AuCpuFeatureSSE)) return AuResultNoSSE;
    if (!AU::MemoryMgr::IsInitialized()) return AuResultMemoryMgrNotReady;
    if (!AU::IAuStreamMgr::m_pStreamMgr) return AuResultStreamMgrMissing;
    if (s_bInitialized) {
        // The running engine keeps its settings; the caller still learns what its platform record means.
        if (platformSettings) CAuLowerEngine::AdjustPlatformInitSettings(*platformSettings);
        return AuResultFail;
    }
    AuTrace("init");
    if (settings)
        s_settings = *settings;
    else
        GetDefaultInitSettings(s_settings);
    g_pAssertHook = s_settings.assertHook;
    AuEngineSettings::Reset();
    // The caller's platform record learns at once what the engine made of it; the init record once
    // start-up has run, whether or not it went through.
    AuPlatformInitSettings platform;
    if (platformSettings)
        platform = *platformSettings;
    else
        GetDefaultPlatformInitSettings(platform);
    CAuLowerEngine::SetPlatformInitSettings(&platform);
    if (platformSettings) *platformSettings = platform;

    AuTrace("default pool");
    if (s_settings.defaultPoolSize <= 64) s_settings.defaultPoolSize = kDefaultPoolSize;
    if (g_DefaultPoolId == AU_INVALID_POOL_ID) {
        g_DefaultPoolId =
            AU::MemoryMgr::CreatePool(nullptr, s_settings.defaultPoolSize, 64, AuPoolAttrMalloc, 0);
        if (g_DefaultPoolId == AU_INVALID_POOL_ID) return AuResultNoMemory;
    }
    AURESULT result = SoundEngineStartup();
    if (result == AuResultSuccess) result = StartVoiceSide();
    if (result == AuResultSuccess) result = StartAudioMgr();
    if (settings) *settings = s_settings;
    if (result == AuResultSuccess) {
        s_bInitialized = true;
        return result;
    }
    Term();
    if (!s_bInitialized && g_DefaultPoolId != AU_INVALID_POOL_ID) {
        AU::MemoryMgr::DestroyPool(g_DefaultPoolId);
        g_DefaultPoolId = AU_INVALID_POOL_ID;
    }
    return result;
}

bool IsInitialized() {
    return s_bInitialized;
}

void Term() {
    AuTrace("term");
    AuTrace("motion devices");
    if (g_pAudioMgr) {
        AuTrace("stop audio thread");
        g_pAudioMgr->StopAudioThread();
    }
    if (g_pBankMgr) {
        AuTrace("stop bank thread");
        g_pBankMgr->StopThread();
        // No bank is read from here on; the owners of its chunks go below.
        AuTrace("bank chunk readers");
        g_pBankMgr->SetChunkSinks(nullptr, nullptr, nullptr);
    }
    // Records left in the ring are dropped now: their handlers' owners go below.
    if (g_pAudioMgr) g_pAudioMgr->DropQueuedMessages();
    if (g_pModulatorMgr) {
        AuTrace("terminate modulators");
        g_pModulatorMgr->Term();
    }
    AuTrace("terminate voices");
    CAuLowerEngine::TermVoices();
    g_pNodeInstances = nullptr;
    if (g_pBankMgr) g_pBankMgr->SetInstanceStopper(nullptr);
    // The banks' and the run-time plug-in settings end their parameter objects in the lower
    // engine's pool: they go while that pool still exists.
    if (g_pBankMgr) {
        AuTrace("bank manager");
        AuInstallBankManager(nullptr);
        g_pBankMgr->Term();
        g_pBankMgr->~CAuBankMgr();
        AU::MemoryMgr::Free(g_DefaultPoolId, g_pBankMgr);
        g_pBankMgr = nullptr;
    }
    if (g_pIndex) {
        AuTrace("release run-time objects");
        g_pIndex->ReleaseRunTimeObjects();
        g_pIndex->ReleaseDynamicSequences(&ReleaseDynamicSequence);
    }
    AuTrace("global callbacks");
    AuSoundEngineInternal::CallGlobalCallbacks(true);
    s_globalCallbacks.Term();
    // Its stop takes the output side, and with it the lower engine's pool, down with it.
    Destroy(g_pInstanceMgr, "instance manager");
    s_mixer.SetInstanceMgr(nullptr);
    g_pVoiceCommandQueue = nullptr;
    g_pGameObjRefs = nullptr;
    CAuLowerEngine::SetVoiceGraph(nullptr);
    if (g_pAudioMgr) {
        AuTrace("audio manager");
        g_pAudioMgr->Term();
        g_pAudioMgr->~CAuAudioMgr();
        AU::MemoryMgr::Free(g_DefaultPoolId, g_pAudioMgr);
        g_pAudioMgr = nullptr;
    }
    Destroy(g_pPathMgr, "path manager");
    Destroy(g_pTransitionMgr, "transition manager");
    Destroy(g_pRegistryMgr, "registry manager");
    Destroy(g_pPlayingMgr, "playing manager");
    Destroy(g_pPositionRepository, "position repository");
    // The last game object and the primary master bus have gone: the seams go before their owners.
    AuRemoveGameSyncs(g_pBankMgr);
    Destroy(g_pCurveTable, "curve table");
    Destroy(g_pSwitchMgr, "switch manager");
    Destroy(g_pStateMgr, "state manager");
    Destroy(g_pRTPCMgr, "rtpc manager");
    if (g_pModulatorMgr) {
        AuTrace("modulator manager");
        g_pModulatorMgr->~CAuModulatorMgr();
        AU::MemoryMgr::Free(g_DefaultPoolId, g_pModulatorMgr);
        g_pModulatorMgr = nullptr;
    }
    Destroy(g_pIndex, "object index");
    s_globalCallbacks.Term();
    if (g_DefaultPoolId != AU_INVALID_POOL_ID) {
        AuTrace("default pool");
        AU::MemoryMgr::DestroyPool(g_DefaultPoolId);
        g_DefaultPoolId = AU_INVALID_POOL_ID;
    }
    s_bInitialized = false;
}

AURESULT Suspend(bool renderWhileSuspended) {
    return g_pAudioMgr ? g_pAudioMgr->Suspend(renderWhileSuspended) : AuResultFail;
}

AURESULT WakeupFromSuspend() {
    return g_pAudioMgr ? g_pAudioMgr->WakeupFromSuspend() : AuResultFail;
}

AURESULT RegisterGlobalCallback(AuGlobalCallbackFunc callback) {
    if (!s_bInitialized) return AuResultFail;
    CAuMainLock lock;
    return AddBehavioralExtension(callback);
}

AURESULT UnregisterGlobalCallback(AuGlobalCallbackFunc callback) {
    CAuMainLock lock;
    return RemoveBehavioralExtension(callback);
}

AURESULT AddBehavioralExtension(AuGlobalCallbackFunc callback) {
    return s_globalCallbacks.AddLast(callback) ? AuResultSuccess : AuResultNoMemory;
}

AURESULT RemoveBehavioralExtension(AuGlobalCallbackFunc callback) {
    const u32 index =
        s_globalCallbacks.IndexOf([callback](AuGlobalCallbackFunc held) { return held == callback; });
    if (index == s_globalCallbacks.Count()) return AuResultFail;
    s_globalCallbacks.EraseOrdered(index);
    if (s_globalCallbacks.Count() == 0) s_globalCallbacks.Term();
    return AuResultSuccess;
}

void SetStateChangeHandler(AuStateChangeHandlerFunc handler) {
    g_pfnStateChangeHandler.store(handler, std::memory_order_release);
}

void SetBankExtensionReader(AuBankExtensionReaderFunc reader) {
    g_pfnBankExtensionReader.store(reader, std::memory_order_release);
}

void CancelEventCallback(AuPlayingID playingID) {
    if (g_pPlayingMgr) g_pPlayingMgr->CancelEventCallback(playingID);
}

void CancelEventCallbackCookie(void* cookie) {
    if (g_pPlayingMgr) g_pPlayingMgr->CancelEventCallbackCookie(cookie);
}

AURESULT RegisterBusVolumeCallback(AuUniqueID busID, AuBusCallbackFunc callback) {
    if (!s_bInitialized || !g_pPlayingMgr) return AuResultFail;
    const AURESULT result = g_pPlayingMgr->BusCallbacks().SetVolumeCallback(busID, callback);
    if (result != AuResultSuccess) return result;
    // The busses live on the audio thread: they learn of it under the global lock.
    CAuMainLock lock;
    if (IAuBusOps* busses = AuBusOpsSeam::Get()) busses->EnableBusVolumeCallback(busID, callback != nullptr);
    return result;
}

AURESULT RegisterBusMeteringCallback(AuUniqueID busID, AuBusMeteringCallbackFunc callback,
                                     AuMeteringFlags flags) {
    if (!s_bInitialized || !g_pPlayingMgr) return AuResultFail;
    const AURESULT result = g_pPlayingMgr->BusCallbacks().SetMeteringCallback(busID, callback, flags);
    if (result != AuResultSuccess) return result;
    CAuMainLock lock;
    if (IAuBusOps* busses = AuBusOpsSeam::Get())
        busses->SetBusMeteringFlags(busID, callback ? static_cast<u8>(flags) : 0);
    return result;
}

} // namespace AU::SoundEngine
