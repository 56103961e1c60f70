// The bus node of the hierarchy as the mixing side reads it. The hierarchy's bus implements it;
// mixing busses and voices hold one reference on it while they use it. Audio thread, g_csMain.
#pragma once

#include <AU/AuChannelConfig.h>
#include <AU/AuTypes.h>

struct AuEffectRecord;

// The bus properties the mixing side reads.
enum AuBusProperty : u32 {
    AuBusProperty_VoiceVolume = 0,
    AuBusProperty_BusVolume = 5,
    AuBusProperty_Centre = 11,
    AuBusProperty_PanLR = 20,
    AuBusProperty_PanFR = 21,
    AuBusProperty_DynamicThreshold = 32,
    AuBusProperty_DynamicRelease = 33,
    AuBusProperty_DynamicRatio = 34,
    AuBusProperty_PositioningEnabled = 64,
};

// A bus's level window: a voice routed to it is held inside the window its loudest voice sets.
struct AuLevelWindow {
    f32 fTop = 0.0f;    // the window's two values, added
    f32 fRatio = 0.0f;  // how much of a level above the top moves the top up
    f32 fFloor = 0.0f;  // the lowest the level goes
    f32 fVolume = 1.0f; // the bus's volume factor
};

class IAuMixBusNode {
public:
    virtual void AddRef() noexcept = 0;
    virtual void Release() noexcept = 0;
    virtual u32 BusNodeID() noexcept = 0;
    // Null at the top of the bus tree.
    virtual IAuMixBusNode* ParentBusNode() noexcept = 0;
    // 0: the bus takes its parent's, or its device's.
    virtual AuChannelConfig ChannelConfig() noexcept = 0;
    // The property as the node reads it now (its default when not set).
    virtual f32 GetProperty(u32 property) noexcept = 0;
    // The node keeps its own pan and centre (properties 11, 20, 21, 64).
    virtual bool HasPositioning() noexcept = 0;
    virtual bool IsMotionBus() noexcept = 0;
    // Dynamic-range processing: the flag, the release mode (true: in decibels), whether the
    // threshold, ratio or release changed since the last call, and the resulting gain handed back.
    virtual bool HasDynamicRange() noexcept = 0;
    virtual bool ReleaseInDecibels() noexcept = 0;
    virtual bool TakeDynamicRangeChanged() noexcept = 0;
    virtual void SetDynamicRangeGain(f32 dB) noexcept = 0;
    // What a voice on this bus takes from it, in decibels: the voice volume (property 0) summed up
    // the bus chain, and the bus volume of a bus that has no mixing bus of its own.
    virtual f32 OutputBusVolumeDb() noexcept = 0;
    // False when no bus up the chain keeps a level window.
    virtual bool GetLevelWindow(AuLevelWindow& window) noexcept = 0;
    // The loudest level of a voice of the window this frame.
    virtual void ReportLevel(f32 dB) noexcept = 0;
    // The effect of an insert slot (0-3): its settings with one reference for the caller and the
    // slot's bypass; an empty record for an empty slot.
    virtual void GetInsertEffect(u32 slot, AuEffectRecord& record) noexcept = 0;
    virtual bool BypassAllEffects() noexcept = 0;
    // The settings of the node's mixer plug-in with one reference for the caller; an empty record
    // when the node has none.
    virtual void GetMixerPlugin(AuEffectRecord& record) noexcept = 0;

protected:
    ~IAuMixBusNode() = default;
};

// How the aux sends reach their busses: the mixing bus node of a bus by ID with one reference,
// null when none. `foldedDb`: the bus volume of a bus that passes through to it, with that of the
// pass-through busses between, which the mixing bus never applies; 0 for a mixing bus.
using AuBusNodeLookup = IAuMixBusNode* (*)(u32 busID, f32& foldedDb);
