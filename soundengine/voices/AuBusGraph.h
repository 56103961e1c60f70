// The lower engine's mixing busses: one per (bus node, output device), made when a voice first
// routes to the node on that device, with their parents up to the device's master bus; mixed from
// children to parents into the devices each frame and removed once idle. Also the operations the
// hierarchy applies to every bus of a bus node. Audio thread, under g_csMain.
#pragma once

#include "memory/AuArray.h"
#include "parameters/AuRTPCKey.h"
#include "voices/AuLowerEngineSeams.h"
#include "voices/AuMixBus.h"

class CAuOutputBus final : public CAuMixBus {
public:
    static constexpr u32 kInUse = 1;
    static constexpr u32 kRemoving = 2;
    static constexpr u8 kFlagKeep = 1 << 0;
    static constexpr u8 kFlagDynamicRange = 1 << 1;
    static constexpr u8 kFlagReleaseInDb = 1 << 2;
    // The bus of a motion node: 16 frames of mono a buffer for a motion device, never mixed into
    // an audio device.
    static constexpr u8 kFlagMotion = 1 << 3;
    static constexpr u16 kMotionFrames = 16;
    // No level: the peak of a frame without input, and the envelope's start.
    static constexpr f32 kSilentDb = -4096.0f;

    CAuOutputBus* Parent() const { return m_pParent; }
    u32 NumChildren() const { return m_uNumChildren; }
    u32 State() const { return m_uState; }
    u8 Flags() const { return m_uFlags; }
    bool Keeps() const { return m_uFlags & kFlagKeep; }
    // Its own volume times its parent's, 1.0 at the top; set before the voices' volumes.
    f32 CumulativeVolume() const { return m_fCumulative; }

    // Dynamic range: the loudest level routed to the bus in this frame (decibels).
    void ReportPeak(f32 dB) noexcept {
        if (dB > m_fPeakDb) m_fPeakDb = dB;
    }
    // The per-frame gain computer; the result goes to the node.
    void UpdateDynamicRange() noexcept;
    f32 EnvelopeDb() const { return m_fEnvelopeDb; }
    f32 ResultingGainDb() const { return m_fGainDb; }
    f32 ReleaseCoefficient() const { return m_fReleaseCoef; }
    f32 RatioTerm() const { return m_fRatioTerm; }

private:
    friend class CAuBusGraph;

    u32 m_uState = kInUse;
    u32 m_uNumChildren = 0;
    CAuOutputBus* m_pParent = nullptr;
    u8 m_uFlags = kFlagKeep;
    f32 m_fCumulative = 1.0f;
    f32 m_fPeakDb = kSilentDb;
    f32 m_fEnvelopeDb = kSilentDb;
    f32 m_fEnvelopeLinear = 0.0f;
    f32 m_fGainDb = 0.0f;
    f32 m_fReleaseCoef = 0.0f;
    f32 m_fReleaseTime = -1.0f;
    f32 m_fThresholdDb = 0.0f;
    f32 m_fRatioTerm = 0.0f;
    bool m_bDynamicsRead = false;
};

class CAuBusGraph final : public IAuBusOps {
public:
    static constexpr u32 kMasterBusID = 0xFFFFFFFFu;
    static constexpr u32 kGrowBy = 8;

    // The first bus of the identity that is not being removed, or null.
    CAuOutputBus* FindBus(u32 busID, u32 deviceType, u32 deviceId) const noexcept;
    // The node's bus on the device, made with its parents when missing; a null node is the
    // device's master bus. Null when the device is missing or memory is short.
    CAuOutputBus* GetOrCreateBus(IAuMixBusNode* node, u32 deviceType, u32 deviceId) noexcept;
    // The device's master bus (no node), made first in the array when missing.
    CAuOutputBus* GetMasterBus(u32 deviceType, u32 deviceId) noexcept;

    // [audio thread] The frame's bus steps.
    void UpdateVolumes() noexcept;
    void UpdateDynamicRanges() noexcept;
    // Children before parents: each into its parent, the master busses into their devices.
    void MixBusses() noexcept;
    // A bus idle in this frame, without children, without voice outputs and without its keep bit
    // leaves; every other bus has its keep bit cleared for the next frame.
    void RemoveIdleBusses() noexcept;
    void DestroyAllBusses() noexcept;
    void Term() noexcept;

    // The holder of every insert effect of every bus made from `settings`, then of every mixer.
    void ForEachPluginInstance(const CAuPluginSettings& settings, AuPluginInstanceVisit visit,
                               void* context) noexcept;
    // Busses whose inserts or mixer hold media bytes inside [data, data + size) tear them down;
    // they are made again, from what the node then names, when the bus next mixes.
    void ReleaseEffectsUsingData(const u8* data, u32 size) noexcept;

    u32 NumBusses() const { return m_busses.Count(); }
    CAuOutputBus* Bus(u32 index) const { return m_busses[index]; }

    // By bus node ID, over every bus of the node.
    void SetBusVolume(u32 busID, f32 volumeDb) noexcept override;
    void OffsetBusVolume(u32 busID, f32 offsetDb) noexcept override;
    void SetBusProperty(u32 busID, f32 value, u32 propertyID) noexcept override;
    void BypassBusEffects(u32 busID, u32 bypassBits, u32 mask) noexcept override;
    void UpdateBusEffect(u32 busID, u32 slot) noexcept override;
    void SetBusMeteringFlags(u32 busID, u8 flags) noexcept override;
    void EnableBusVolumeCallback(u32 busID, bool enable) noexcept override;

private:
    CAuOutputBus* CreateBus(IAuMixBusNode* node, u32 deviceType, u32 deviceId, CAuOutputBus* parent) noexcept;
    CAuOutputBus* GetOrCreate(IAuMixBusNode* node, u32 deviceType, u32 deviceId, u32 depth) noexcept;
    static void DestroyBus(CAuOutputBus* bus) noexcept;
    bool Reserve() noexcept;
    template <class F> void ForEachOfNode(u32 busID, F f) noexcept {
        for (u32 i = 0; i < m_busses.Count(); ++i)
            if (m_busses[i]->BusID() == busID && m_busses[i]->State() != CAuOutputBus::kRemoving)
                f(*m_busses[i]);
    }

    AuArray<CAuOutputBus*, &g_LEngineDefaultPoolId> m_busses;
};
