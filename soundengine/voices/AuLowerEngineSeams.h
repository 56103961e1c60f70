// What the lower engine's frame, start and stop call in parts that plug in after it: the voice
// graph (voice commands, voices and busses), the listeners and the motion devices. Each is
// installed by its owner; without one its steps are skipped.
#pragma once

#include <AU/AuChannelConfig.h>

class CAuPluginParamHolder;
class CAuPluginSettings;

class IAuVoiceGraph {
public:
    // Game thread, from the lower engine's Init: the voice-command pool; its failure fails Init.
    virtual AURESULT InitVoiceCommands(u32 entries) = 0;
    // [audio thread] Once per pass, before any frame: voices of queued play commands are made.
    virtual bool HasVoicesToStart() noexcept = 0;
    virtual void StartPendingVoices() noexcept = 0;
    // [audio thread] Once per rendered frame, before the frame: the playback limiters, then the
    // queued voice commands.
    virtual void UpdateLimiters() noexcept = 0;
    virtual void ProcessVoiceCommands() noexcept = 0;
    // [audio thread] Once per rendered frame, after it: the instances' queued events.
    virtual void ProcessInstanceEvents() noexcept = 0;
    // [audio thread] The frame's steps, in the order the frame calls them: voices waiting for
    // their start advance by one buffer first.
    virtual void AdvancePendingVoices(u16 frames) noexcept = 0;
    virtual void PreFrame() noexcept = 0;
    // Pulls and mixes every voice when `render`; ends each voice's frame either way.
    virtual void RenderVoices(bool render) noexcept = 0;
    // Children before parents; top busses go to CAuLowerEngine::MixBusIntoDevice.
    virtual void MixBusses() noexcept = 0;
    virtual void RemoveIdleBusses() noexcept = 0;
    // A device appeared or went away, or its listeners changed.
    virtual void UpdateVoiceOutputs(u32 deviceType, u32 deviceId, u32 listenerMask) = 0;
    // Every live plug-in instance made from the settings: the busses' inserts, then the voices'
    // effects. [audio thread]
    virtual void ForEachPluginInstance(const CAuPluginSettings& settings,
                                       void (*visit)(CAuPluginParamHolder& instance, void* context),
                                       void* context) noexcept = 0;
    // [audio thread] Media leave memory: every bus whose effects or mixer use bytes of
    // [data, data + size) tears them down.
    virtual void ReleaseEffectsUsingData(const u8* data, u32 size) noexcept = 0;
    // From the engine's Term: voices, then busses, then voices waiting to start.
    virtual void TermVoices() = 0;
    // From the lower engine's Term: the voice-command queue, the bus array, the voice list.
    virtual void Term() = 0;

protected:
    ~IAuVoiceGraph() = default;
};

class IAuListeners {
public:
    // Every listener row back to its defaults (main output).
    virtual void Init() = 0;
    // Frees the listeners' speaker-volume blocks.
    virtual void Term() = 0;
    virtual void SetOutputDevice(u32 listenerMask, u32 deviceType, u32 deviceId) = 0;
    virtual void RecomputeMatrices() = 0;

protected:
    ~IAuListeners() = default;
};

class IAuMotionDeviceMgr {
public:
    virtual bool HasDevices() = 0;
    // [audio thread]
    virtual void PollDevices() noexcept = 0;
    virtual void RenderDevices() noexcept = 0;
    virtual void Destroy() = 0;

protected:
    ~IAuMotionDeviceMgr() = default;
};

// The mix busses' settings, found by the bus node's ID; each call reaches every mix bus of that
// ID, one per output device. Called under the global lock from the game thread, and from the
// audio thread while a duck fade runs, so none may throw or block.
class IAuBusOps {
public:
    // A volume below -740 dB is silence.
    virtual void SetBusVolume(u32 busID, f32 volumeDb) noexcept = 0;
    // Added to the current volume and applied at once, without a ramp.
    virtual void OffsetBusVolume(u32 busID, f32 offsetDb) noexcept = 0;
    virtual void SetBusProperty(u32 busID, f32 value, u32 propertyID) noexcept = 0;
    // Bit n: insert slot n (0-3); bit 4: all effects.
    virtual void BypassBusEffects(u32 busID, u32 bypassBits, u32 mask) noexcept = 0;
    virtual void UpdateBusEffect(u32 busID, u32 slot) noexcept = 0;
    // Five bits; the meter is allocated or freed as they ask.
    virtual void SetBusMeteringFlags(u32 busID, u8 flags) noexcept = 0;
    virtual void EnableBusVolumeCallback(u32 busID, bool enable) noexcept = 0;

protected:
    ~IAuBusOps() = default;
};

// Installed by the mixing side before the first bank loads; without one the bus nodes keep their
// values to themselves.
namespace AuBusOpsSeam {
inline IAuBusOps* g_pBusOps = nullptr;
inline void Install(IAuBusOps* ops) {
    g_pBusOps = ops;
}
inline IAuBusOps* Get() {
    return g_pBusOps;
}
} // namespace AuBusOpsSeam
