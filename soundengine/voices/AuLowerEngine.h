// The lower engine: output devices with their sinks, the codec, plug-in and motion-device
// registries, the platform settings, output capture and the audio frame. One per process; the
// audio thread calls its frame under g_csMain, the engine's Init and Term call its start and stop
// on the game's thread while no audio thread runs.
#pragma once

#include "voices/AuCapture.h"
#include "voices/AuLowerEngineSeams.h"
#include "voices/AuOutputDevice.h"

#include <AU/AuInitSettings.h>
#include <AU/AuPluginTypes.h>

#include <atomic>

class CAuSinkBase;

// Hands plug-ins 16-byte aligned blocks of the lower-engine pool.
class CAuPluginAllocator final : public AU::IAuPluginMemAlloc {
public:
    void* Malloc(size_t size) override;
    void Free(void* block) override;
};

// A starving output is reported at most once in this many frames.
constexpr u32 AU_STARVATION_REPORT_FRAMES = 8;
constexpr u32 AU_VOICE_COMMAND_POOL_ENTRIES = 512;
constexpr u16 AU_MOTION_VOICE_FRAMES = 8;

class CAuLowerEngine {
public:
    // Null writes the defaults; otherwise copies the record, makes a refill count below 2 into 4
    // and a pool size of 64 or less into the default, and writes the stored copy back into the
    // caller's record.
    static void SetPlatformInitSettings(AuPlatformInitSettings* settings);
    // What the engine makes of a platform record: too few refill buffers or too small a pool
    // replaced by the defaults.
    static void AdjustPlatformInitSettings(AuPlatformInitSettings& settings);
    static const AuPlatformInitSettings& PlatformSettings() { return s_platform; }
    static void GetDefaultPlatformInitSettings(AuPlatformInitSettings& settings);
    static void GetDefaultOutputSettings(AuOutputSettings& settings);

    // The pool, the panner's tables, the listeners, the main output (falling back to a silent
    // sink) and the voice-command pool. 2 without memory or stream manager or when even the silent main
    // output fails, 52 when the pool cannot be made, else the first failing step's result.
    static AURESULT Init(const AuOutputSettings& mainSettings, u32 mainOutputType);
    static void TermVoices();
    static void Term();

    // [audio thread] One frame. `audioFrame` is the audio manager's frame counter.
    static void Perform(u32 audioFrame) noexcept;
    // [audio thread] The number of buffers the main output's sink can take now; 0 without one.
    static u32 GetNumBuffersToRender() noexcept;
    // [audio thread] Starts every device's sink, once when the audio thread starts.
    static void StartOutputs() noexcept;
    // Milliseconds the audio thread may wait for its next pass; 0xFFFFFFFF without a main sink.
    static u32 GetWaitTimeout() noexcept;

    // 3 when already in that state; else the result of swapping the sinks (1 or 2).
    static AURESULT SetSuspended(bool suspend, bool renderWhileSuspended);
    static void OnDeviceChanged();
    static void TryRestoreSinks();
    static AURESULT SwitchToDummySinks();
    static AURESULT RestoreHardwareSinks();
    static bool IsSuspended() { return s_bSuspended; }
    static bool RenderWhileSuspended() { return s_bRenderWhileSuspended; }
    static bool IsDeviceChangePending() { return s_bDeviceChangePending.load(std::memory_order_acquire); }
    static bool IsRestorePending() { return s_bRestorePending; }
    // Any thread: the device-change notice. The audio thread acts on it at its next pass.
    static void SetDeviceChangePending() { s_bDeviceChangePending.store(true, std::memory_order_release); }
    // The audio frame of the last starvation report; valid when HasStarvationReport.
    static bool HasStarvationReport() { return s_bStarvationReported; }
    static u32 LastStarvationFrame() { return s_uLastStarvationFrame; }

    // Output devices.
    static AURESULT AddOutputDevice(u32 type, u32 id, const AuOutputSettings& settings, u32 options,
                                    u32 owner, u32 listenerMask, bool isMain);
    // 2 for the main output's key; 1 when the device exists already.
    static AURESULT AddSecondaryOutput(const AuOutputSettings& settings, u32 type, u32 id, u32 listenerMask,
                                       u32 owner);
    static AURESULT RemoveSecondaryOutput(u32 type, u32 id);
    static void SetPanningRule(u32 type, u32 id, AuPanningRule rule);
    static AURESULT SetOutputVolume(u32 type, u32 id, f32 volume);
    static CAuOutputDevice* FindDevice(u32 type, u32 id);
    static CAuOutputDevice* Devices() { return s_pDevices; }
    static u32 NumDevices() { return s_uNumDevices; }
    static CAuSinkBase* MainSink() { return s_pMainSink; }
    static void SetMainSink(CAuSinkBase* sink) { s_pMainSink = sink; }
    static AuChannelConfig OutputConfig() { return s_outputConfig; }
    // [audio thread] A top bus: to the device of the same type and id, when it exists.
    static void MixBusIntoDevice(u32 type, u32 id, const AuPipelineBuffer& busBuffer) noexcept;
    // The engine-wide volumes every device applies on top of its own.
    static f32 PreviousVolume() { return s_fPrevVolume; }
    static f32 Volume() { return s_fVolume; }

    // Output capture (audio thread, from the queued messages).
    static void StartOutputCapture(const wchar_t* fileName);
    static void StopOutputCapture();
    static void AddOutputCaptureMarker(const char* text);
    static bool IsCapturing() { return s_captureName.pName != nullptr; }
    // The kept name of the running capture; null while none runs.
    static const wchar_t* CaptureName() { return s_captureName.pName; }

    // Registries (game thread, at start-up).
    static u32 PluginKey(u32 type, u32 companyId, u32 pluginId) {
        return (((pluginId << 12) + companyId) << 4) + (type & 15);
    }
    static u32 CodecKey(u32 companyId, u32 codecId) { return (((codecId << 12) + companyId) << 4) | 1; }
    static u32 MotionKey(u32 firstId, u32 secondId) { return (((secondId << 12) + firstId) * 16) + 4; }
    static AURESULT RegisterCodec(u32 companyId, u32 codecId, AuCreateSourceCallback streamed,
                                  AuCreateSourceCallback inMemory);
    static AURESULT RegisterPlugin(AuPluginType type, u32 companyId, u32 pluginId,
                                   AuCreatePluginCallback creator, AuCreateParamCallback paramCreator);
    static AURESULT RegisterMotionDevice(u32 firstId, u32 secondId, AuCreateMotionDeviceCallback creator);
    static AURESULT CreatePlugin(AU::IAuPluginMemAlloc* allocator, u32 key, AU::IAuPlugin*& plugin);
    static AURESULT CreatePluginParams(AU::IAuPluginMemAlloc* allocator, u32 key,
                                       AU::IAuPluginParam*& params);
    // Null when no codec row has the word; source type 1 (streamed) takes the first creator.
    static AU::IAuSoftwareCodec* CreateCodecSource(void* playbackInstance, u32 sourceType, u32 codecWord);
    static AURESULT CreateMotionDevice(u32 firstId, u32 secondId, u32 settingsA, u32 settingsB,
                                       AU::IAuMotionDevice*& device, u32 settingsC);
    static AURESULT FreeRegistries();
    static u32 NumPlugins();
    static u32 NumCodecs();

    static CAuPluginAllocator& PluginAllocator() { return s_allocator; }
    // [audio thread] Calls `visit` for every live instance made from the settings: bus inserts
    // with the key of any object, voice effects with their voice's key. None without a voice graph.
    static void ForEachPluginInstance(const CAuPluginSettings& settings,
                                      void (*visit)(CAuPluginParamHolder& instance, void* context),
                                      void* context) noexcept {
        if (s_pVoiceGraph) s_pVoiceGraph->ForEachPluginInstance(settings, visit, context);
    }

    // [audio thread] After the instances that play media from [data, data + size) were stopped:
    // the bus effects and mixers holding bytes of it are torn down.
    static void ReleaseEffectsUsingData(const u8* data, u32 size) noexcept {
        if (s_pVoiceGraph) s_pVoiceGraph->ReleaseEffectsUsingData(data, size);
    }

    // Seams the later parts install (null: their steps are skipped).
    static void SetVoiceGraph(IAuVoiceGraph* graph) { s_pVoiceGraph = graph; }
    static IAuVoiceGraph* VoiceGraph() { return s_pVoiceGraph; }
    static void SetListeners(IAuListeners* listeners) { s_pListeners = listeners; }
    static void SetMotionDeviceMgr(IAuMotionDeviceMgr* mgr) { s_pMotionMgr = mgr; }
    static IAuListeners* Listeners() { return s_pListeners; }

private:
    static void DestroyDevice(CAuOutputDevice* device);
    static void DestroyAllDevices();

    static AuPlatformInitSettings s_platform;
    static CAuOutputDevice* s_pDevices;
    static CAuOutputDevice* s_pLastDevice;
    static u32 s_uNumDevices;
    static CAuSinkBase* s_pMainSink;
    static AuChannelConfig s_outputConfig;
    static f32 s_fPrevVolume;
    static f32 s_fVolume;
    static bool s_bSuspended;
    static bool s_bRenderWhileSuspended;
    // Set by the device-change notice (any thread), cleared by the audio thread once the silent
    // sinks are in; a flag only, whatever it guards is the audio thread's own, so acquire and
    // release are enough.
    static std::atomic<bool> s_bDeviceChangePending;
    static bool s_bRestorePending;
    static bool s_bStarvationReported;
    static u32 s_uLastStarvationFrame;
    static AuCaptureName s_captureName;
    static CAuPluginAllocator s_allocator;
    static IAuVoiceGraph* s_pVoiceGraph;
    static IAuListeners* s_pListeners;
    static IAuMotionDeviceMgr* s_pMotionMgr;
};
