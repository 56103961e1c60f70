// What the game-parameter manager pushes values into. Each subscriber kind has its own narrow
// interface; the nodes, busses, plug-in parameter holders, layers, playback instances,
// modulators and switch groups implement the one of their kind and subscribe with that kind.
#pragma once

#include "parameters/AuRTPCKey.h"

#include <AU/AuTypes.h>

class CAuRTPCFilter;
struct AuRTPCSubscription;

enum AuRTPCSubscriberKind : u32 {
    AuRTPCSubscriberKind_PluginParams = 0,
    AuRTPCSubscriberKind_Bus = 1,
    AuRTPCSubscriberKind_Node = 2,
    AuRTPCSubscriberKind_Layer = 3, // and every kind above 6
    AuRTPCSubscriberKind_PlaybackInstance = 4,
    AuRTPCSubscriberKind_Modulator = 5,
    AuRTPCSubscriberKind_SwitchGroup = 6,
};

// The generic property of layers and switch groups, pushed without a curve.
constexpr u32 AU_RTPC_PROPERTY_GENERIC = 64;

// Identity only: a subscriber is passed as the base of the interface its kind names.
class IAuRTPCSubscriber {
protected:
    ~IAuRTPCSubscriber() = default;
};

// Kind 0.
class IAuPluginParamSubscriber : public IAuRTPCSubscriber {
public:
    // The property's value before curves (modes 1 and 2 add or multiply onto it). [audio thread]
    virtual f32 GetBaseValue(u32 propertyID) noexcept = 0;
    // [audio thread]
    virtual void SetParam(u32 propertyID, const void* value, u32 size) noexcept = 0;

protected:
    ~IAuPluginParamSubscriber() = default;
};

// Kinds 1 (busses) and 2 (nodes).
class IAuNodeSubscriber : public IAuRTPCSubscriber {
public:
    // [audio thread]
    virtual bool HasActivity() noexcept = 0;
    // The curves' sum for this parameter at the new value. The filter, when given, says which
    // narrower keys keep values of their own. [audio thread]
    virtual void SetParamFromRTPC(const AuRTPCSubscription& subscription, u32 propertyID, u32 paramID,
                                  f32 value, const AuRTPCKey& key, const CAuRTPCFilter* filter) noexcept = 0;
    // Recompute the properties after a subscription changed. [audio thread]
    virtual void RecalcProps(u32 propertyID) noexcept = 0;

protected:
    ~IAuNodeSubscriber() = default;
};

// Kind 3 and above 6.
class IAuLayerSubscriber : public IAuRTPCSubscriber {
public:
    // The layer's container is active and the layer has an active association. [audio thread]
    virtual bool IsActiveForRTPC() noexcept = 0;
    // Property 64: the game parameter's own value, the cross-fade position. [audio thread]
    virtual void SetCrossfadePosition(f32 value) noexcept = 0;
    // [audio thread]
    virtual void SetParamFromRTPC(u32 propertyID, u32 paramID, f32 value, const AuRTPCKey& key,
                                  const CAuRTPCFilter* filter) noexcept = 0;
    // Push the property to the active children again. [audio thread]
    virtual void RefreshActiveChildren(u32 propertyID) noexcept = 0;

protected:
    ~IAuLayerSubscriber() = default;
};

// Kind 4.
class IAuInstanceSubscriber : public IAuRTPCSubscriber {
public:
    // [audio thread]
    virtual void ApplyRTPCParam(u16 propertyID, const void* value, u32 size) noexcept = 0;

protected:
    ~IAuInstanceSubscriber() = default;
};

// Kind 5.
class IAuModulatorSubscriber : public IAuRTPCSubscriber {
public:
    // [audio thread]
    virtual void SetParamFromRTPC(u32 propertyID, f32 value, const AuRTPCKey& key) noexcept = 0;

protected:
    ~IAuModulatorSubscriber() = default;
};

// Kind 6: the switch group's entry; the value is the first curve's output.
class IAuSwitchGroupSubscriber : public IAuRTPCSubscriber {
public:
    // [audio thread]
    virtual void SetSwitchFromRTPC(f32 value, const AuRTPCKey& key, const CAuRTPCFilter* filter) noexcept = 0;

protected:
    ~IAuSwitchGroupSubscriber() = default;
};

// Curves driven by modulators: the modulator manager installs this when it starts.
class IAuRTPCModulatorLinks {
public:
    // 1, or what kept the link from being made. [audio thread]
    virtual AURESULT Subscribe(AuRTPCSubscription* subscription, u32 modulatorID) noexcept = 0;
    // [audio thread]
    virtual void Unsubscribe(AuRTPCSubscription* subscription, u32 modulatorID) noexcept = 0;
    // The modulator's output at the key; false when it has none. [audio thread]
    virtual bool GetValue(u32 modulatorID, const AuRTPCKey& key, f32& outValue) noexcept = 0;

protected:
    ~IAuRTPCModulatorLinks() = default;
};
