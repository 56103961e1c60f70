// One bus of the hierarchy on one output device: a float buffer of one frame that the voices and
// child busses routed to it are mixed into, metered, and mixed in turn into its parent through a
// down-mix matrix that follows the bus's own panning. Its inserts and its mixer plug-in see it
// through the contexts below. Audio thread, under g_csMain.
#pragma once

#include "voices/AuBusMeter.h"
#include "voices/AuEffectSlotHolder.h"
#include "voices/AuMixBusNode.h"
#include "voices/AuMixKernels.h"

#include "plugins/AuPlugin.h"
#include "plugins/AuPluginSettings.h"

constexpr u32 AU_BUS_INSERT_SLOTS = 4;

class CAuMixBus;

// One insert's view of its bus: the bus's frames, and the media of the insert's own settings.
class CAuBusEffectContext final : public CAuSlotEffectContext {
public:
    void Init(const CAuMixBus* bus, u32 slot) {
        m_pBus = bus;
        m_uSlot = slot;
    }
    u32 GetMaxBufferLength() const noexcept override;

private:
    const CAuMixBus* m_pBus = nullptr;
};

class CAuMixBus : public AU::IAuMixerPluginContext {
public:
    static constexpr u32 kActive = 1;
    static constexpr u32 kIdle = 4;
    // Pan and centre as a bus without positioning of its own has them.
    static constexpr f32 kDefaultPanLR = 0.5f;
    static constexpr f32 kDefaultPanFR = 1.0f;
    static constexpr f32 kDefaultCentre = 100.0f;

    CAuMixBus() = default;
    CAuMixBus(const CAuMixBus&) = delete;
    CAuMixBus& operator=(const CAuMixBus&) = delete;
    virtual ~CAuMixBus();

    // The node (null for a device's master bus) gains a reference. 1; 2 when the matrix cannot be
    // made; 52 without the buffer or the record of the node's mixer plug-in.
    AURESULT Init(u32 deviceType, u32 deviceId, AuChannelConfig config, AuChannelConfig parentConfig,
                  u16 frames, IAuMixBusNode* node) noexcept;

    // [audio thread] Every operation below.
    // Before each input is mixed: a bus coming back from idle takes the node's volume at once;
    // the mixer plug-in is made when missing and told of the input.
    void Connect() noexcept;
    // A voice's buffer through its output's matrices; the part past its valid frames is zeroed.
    // With a mixer plug-in, the plug-in takes the input instead.
    void MixBuffer(AuPipelineBuffer& voice, const f32* previousMatrix, const f32* currentMatrix,
                   AuGainPair volumes) noexcept;
    // A child bus's resulting buffer: per channel with its gain ramp when the layouts match and
    // the child does not pan and has no volume callback, else through the child's matrices.
    void MixBus(const AuPipelineBuffer& childBuffer, const CAuMixBus& child) noexcept;
    // Runs the insert effects, meters the mix and hands it out with {previous, current} gain for
    // the parent's ramp; then the gains settle and the matrix follows the bus's pan. An effect
    // still ringing after the inputs ended hands out its tail and keeps the bus active.
    // The mixer plug-in hears of the mix before the inserts and after the metering.
    void GetResultingBuffer(AuPipelineBuffer& out) noexcept;
    // The end of the bus's frame: idle when nothing was mixed, the buffer zeroed; the frame's
    // inputs disconnect, each told to the mixer plug-in.
    void ClearBuffer() noexcept;

    // Below -740 dB the gain is 0. SetVolume ramps over the next buffer; OffsetVolume adds to the
    // stored decibels and jumps.
    void SetVolume(f32 dB) noexcept;
    void OffsetVolume(f32 dB) noexcept;
    // 11 centre, 20 pan left-right, 21 pan front-rear, 64 positioning enabled; others ignored.
    void SetParam(u32 id, f32 value) noexcept;
    // The measures the bus's plug-ins ask for; the meter takes these and the metering callback's
    // together: destroyed when they change, made when missing.
    void EnableMetering(u32 flags) noexcept override;
    // The measures the bus's registered metering callback asks for (0 without one); the callback
    // receives the meter after each frame's metering.
    void SetCallbackMetering(u32 flags) noexcept;
    u32 CallbackMetering() const { return m_uCallbackMetering; }
    // The slot's effect is made again from the node: a parameter holder of its settings for any
    // object, the plug-in created through the plug-in registry, initialised for the bus's format
    // and reset; any failure leaves the slot empty.
    void SetInsertFx(u32 slot) noexcept;
    // Bits 0-3 of the mask set the slots' bypass from `values`; bit 4 the bypass of all.
    void SetInsertFxBypass(u32 values, u32 mask) noexcept;
    // The mixer record's plug-in is made from the node's mixer settings: a parameter holder for
    // any object, a plug-in of type 6 initialised with the mixer services and the bus's format,
    // and reset; any failure leaves the record empty and the bus mixes without it.
    void SetMixerPlugin() noexcept;
    // True when an insert or the mixer holds media bytes inside [data, data + size).
    bool UsesData(const u8* data, u32 size) const noexcept;
    // The inserts and the mixer plug-in end; they are made again when the bus next mixes.
    void TearDownEffects() noexcept;
    // Kept for the matrix refresh: a bus whose game code may change its matrix and volume.
    void EnableVolumeCallback(bool enable) noexcept { m_bVolumeCallback = enable; }
    bool HasVolumeCallback() const { return m_bVolumeCallback; }
    AU::IAuPlugin* InsertEffect(u32 slot) const {
        return slot < AU_BUS_INSERT_SLOTS ? m_fx[slot].pEffect : nullptr;
    }
    // The holder of the slot's working parameters and settings; null for an empty slot.
    CAuPluginParamHolder* InsertHolder(u32 slot) const {
        return slot < AU_BUS_INSERT_SLOTS && m_fx[slot].pEffect ? m_fx[slot].pHolder : nullptr;
    }

    // Null without a mixer record or while its plug-in is not made.
    AU::IAuMixerPlugin* MixerPlugin() const { return m_pMixer ? m_pMixer->pPlugin : nullptr; }
    CAuPluginParamHolder* MixerHolder() const {
        return m_pMixer && m_pMixer->pPlugin ? m_pMixer->pHolder : nullptr;
    }
    bool HasMixerRecord() const { return m_pMixer != nullptr; }
    const AU::IAuEffectPluginContext* InsertContext(u32 slot) const {
        return slot < AU_BUS_INSERT_SLOTS ? &m_fx[slot].context : nullptr;
    }

    // The mixer services.
    AU::IAuStreamMgr* GetStreamMgr() const noexcept override;
    u32 GetMaxBufferLength() const noexcept override { return m_uFrames; }
    AURESULT GetPluginMedia(u32 index, const u8*& data, u32& size) noexcept override;
    CAuCpuInfo* GetCpuInfo() const noexcept override;
    u32 GetBusID() const noexcept override { return m_uBusID; }
    u32 GetBusType() const noexcept override;
    AURESULT GetSpeakerAngles(f32* degrees, u32& count, f32& height) const noexcept override;
    AURESULT ComputeSpeakerVolumesDirect(AuChannelConfig input, AuChannelConfig output, f32 spread,
                                         f32* matrix) noexcept override;
    AURESULT ComputeSpeakerVolumes2DPanner(f32 x, f32 y, f32 centre, AuChannelConfig input,
                                           AuChannelConfig output, f32* matrix) noexcept override;
    AURESULT ComputeSpeakerVolumes3D(f32 azimuth, f32 centre, f32 spread, f32 focus, AuChannelConfig input,
                                     AuChannelConfig output, f32* matrix) noexcept override;
    AURESULT ComputePositioning(f32 azimuth, f32 elevation, f32 spread, AuChannelConfig input,
                                AuChannelConfig output, f32 focus, f32* matrix) noexcept override;
    AURESULT InitSphericalVBAP(AU::IAuPluginMemAlloc* allocator, const f32* positions, u32 count,
                               void*& handle) noexcept override;
    AURESULT ComputeSpeakerVolumesVBAP(void* handle, f32 azimuth, f32 elevation, u32 channels,
                                       f32* gains) noexcept override;
    AURESULT TermSphericalVBAP(AU::IAuPluginMemAlloc* allocator, void* handle) noexcept override;
    void MixNChannels(const AuPipelineBuffer& input, AuPipelineBuffer& output, const f32* previousMatrix,
                      const f32* nextMatrix) noexcept override;
    void MixChannel(const f32* input, AuPipelineBuffer& output, AuGainPair gains, const f32* previousRow,
                    const f32* nextRow) noexcept override;
    void ApplyGainRamp(const f32* input, f32* output, f32 start, f32 end, u32 frames) noexcept override;
    // A standard layout with only one of the back and side pairs uses the side pair for panning.
    static AuChannelConfig PanningLayout(AuChannelConfig config) noexcept;

    // Voice outputs that point at this bus: a bus with any is never removed.
    void RegisterInput() noexcept { ++m_uNumInputs; }
    void UnregisterInput() noexcept { --m_uNumInputs; }

    u32 DeviceType() const { return m_uDeviceType; }
    u32 DeviceId() const { return m_uDeviceId; }
    IAuMixBusNode* Node() const { return m_pNode; }
    u32 BusID() const { return m_uBusID; }
    AuChannelConfig Config() const { return m_buffer.channelConfig; }
    const AuPipelineBuffer& Buffer() const { return m_buffer; }
    u32 Activity() const { return m_uActivity; }
    u32 NumConnections() const { return m_uNumConnections; }
    u32 NumInputs() const { return m_uNumInputs; }
    f32 CurrentGain() const { return m_fCurrentGain; }
    f32 PreviousGain() const { return m_fPreviousGain; }
    f32 VolumeDb() const { return m_fVolumeDb; }
    const AuBusMeterData* Meter() const { return m_pMeter; }
    // Times the down-mix matrix was computed.
    u32 MatrixBuilds() const { return m_uMatrixBuilds; }
    bool PansItself() const { return m_bPositioning && m_bPositioningEnabled; }
    const f32* PreviousMatrix() const { return m_pPreviousMatrix; }
    const f32* CurrentMatrix() const { return m_pCurrentMatrix; }

protected:
    void Term() noexcept;

private:
    struct FxSlot {
        CAuBusEffectContext context;
        AU::IAuPlugin* pEffect = nullptr;
        CAuPluginParamHolder* pHolder = nullptr;
        bool bBypassed = false;
        bool bWasBypassed = false;
    };

    struct MixerRecord {
        CAuPluginParamHolder* pHolder = nullptr;
        AU::IAuMixerPlugin* pPlugin = nullptr;
        CAuEffectSlotHolder media;
        // A mixer that failed is not tried again at every input; a tear-down lets it be.
        bool bTried = false;
    };

    void EmptyFxSlot(u32 slot) noexcept;
    void EmptyMixer() noexcept;
    void Disconnect() noexcept;
    // The volume callback may change the matrix just computed, and the bus's volume.
    void NotifyVolumeCallback() noexcept;
    void SetUpEffects() noexcept;
    void RunEffects() noexcept;
    void LoadPositioning() noexcept;
    void RefreshMatrix(bool force) noexcept;
    void UpdateMeter() noexcept;
    static f32 ToGain(f32 dB) noexcept;

    u32 m_uDeviceType = 0;
    u32 m_uDeviceId = 0;
    f32* m_pPreviousMatrix = nullptr;
    f32* m_pCurrentMatrix = nullptr;
    AuChannelConfig m_parentConfig;
    u32 m_uBusID = 0xFFFFFFFFu;
    IAuMixBusNode* m_pNode = nullptr;
    u16 m_uFrames = 0;
    f32 m_fInvFrames = 0.0f;
    AuPipelineBuffer m_buffer;
    AURESULT m_eState = AuResultNoMoreData;
    f32 m_fCurrentGain = 1.0f;
    f32 m_fPreviousGain = 1.0f;
    f32 m_fVolumeDb = 0.0f;
    f32 m_fNextGain = 1.0f;
    f32 m_fPanLR = kDefaultPanLR;
    f32 m_fPanFR = kDefaultPanFR;
    f32 m_fCentre = kDefaultCentre;
    bool m_bPositioningEnabled = false;
    f32 m_fLastPanLR = 0.0f;
    f32 m_fLastPanFR = 0.0f;
    f32 m_fLastCentre = 101.0f; // no centre is 101: the first refresh computes the matrix
    bool m_bLastEnabled = false;
    bool m_bPositioning = false; // the node has positioning of its own
    u32 m_uActivity = kIdle;
    u32 m_uNumConnections = 0;
    u32 m_uNumInputs = 0;
    u32 m_uMatrixBuilds = 0;
    AuBusMeterData* m_pMeter = nullptr;
    u8 m_uCallbackMetering = 0;
    u8 m_uPluginMetering = 0;
    FxSlot m_fx[AU_BUS_INSERT_SLOTS];
    bool m_bBypassAll = false;
    bool m_bEffectsCreated = false;
    bool m_bVolumeCallback = false;
    MixerRecord* m_pMixer = nullptr; // lower-engine pool; null when the node has no mixer
};
