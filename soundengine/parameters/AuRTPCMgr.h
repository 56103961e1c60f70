// Game parameters: named, game-driven floats stored per key, ramped through transitions, and
// pushed through curves into every subscriber whose key matches. Only the audio thread touches the
// manager (message dispatch, bank loading under g_csMain, transitions): it has no lock.
#pragma once

#include "core/AuTransitionMgr.h"
#include "memory/AuArray.h"
#include "parameters/AuKeyedValues.h"
#include "parameters/AuParamCurve.h"
#include "parameters/AuRTPCSubscriber.h"

// Game parameter 131 exists from Init with this default.
constexpr u32 AU_RTPC_PARAM_131 = 131;
constexpr f32 AU_RTPC_PARAM_131_DEFAULT = 64.0f;
// Built-in kinds 1 to 6: distance, three angles, obstruction, occlusion.
constexpr u32 AU_RTPC_BUILT_IN_KINDS = 7;

enum AuValueMeaning : u32 {
    AuValueMeaning_Default = 0,
    AuValueMeaning_Independent = 1,
    AuValueMeaning_Offset = 2, // added to the current value
};

enum AuRTPCRampKind : u32 {
    AuRTPCRampKind_None = 0,
    AuRTPCRampKind_Rate = 1, // units per second up and down
    AuRTPCRampKind_Time = 2, // seconds up and down
};

enum AuRTPCDrivingType : u32 {
    AuRTPCDrivingType_GameParameter = 0,
    AuRTPCDrivingType_Modulator = 2,
};

enum AuRTPCMode : u32 {
    AuRTPCMode_Single = 0,
    AuRTPCMode_Additive = 1,
    AuRTPCMode_Multiplicative = 2,
};

struct AuRTPCEntry;
struct AuRTPCTransition;

struct AuRTPCCurve {
    u32 curveID;
    u32 drivingID;
    u32 drivingType;
    CAuParamCurve curve;
};

struct AuRTPCSubscription {
    IAuRTPCSubscriber* pSubscriber;
    u32 propertyID;
    AuRTPCSubscription* pNext;
    AuRTPCKey key;
    u32 kind;
    u32 mode;
    AuArray<AuRTPCCurve*> curves;
};

// Passed to node, layer and switch subscribers while narrower values exist below the key being
// set: a candidate key that holds a narrower value of its own keeps it.
class CAuRTPCFilter {
public:
    CAuRTPCFilter(AuRTPCEntry& entry, const AuRTPCKey& key) : m_entry(entry), m_key(key) {}
    // True when the candidate keeps its own value (skip it). [audio thread]
    bool SkipKey(const AuRTPCKey& candidate) const noexcept;

private:
    AuRTPCEntry& m_entry;
    AuRTPCKey m_key;
};

class CAuRTPCMgr {
public:
    static constexpr u32 kBuckets = 193;

    CAuRTPCMgr() = default;
    CAuRTPCMgr(const CAuRTPCMgr&) = delete;
    CAuRTPCMgr& operator=(const CAuRTPCMgr&) = delete;
    ~CAuRTPCMgr() { Term(); }

    // Creates game parameter 131 (default 64). 1, or 52 without memory.
    AURESULT Init();
    // Frees every parameter (cancelling its ramps) and every subscription with its curves.
    void Term();

    // [audio thread] 1, or 2 when the parameter cannot be made or its value cannot be stored
    // (the subscribers have been told then).
    AURESULT SetRTPCInternal(u32 paramID, f32 value, const AuRTPCKey& key, const TransParamsBase& transition,
                             AuValueMeaning meaning = AuValueMeaning_Independent) noexcept;
    AURESULT SetRTPCInternal(u32 paramID, f32 value, CAuRegisteredObj* gameObj, AuPlayingID playingID,
                             const TransParamsBase& transition,
                             AuValueMeaning meaning = AuValueMeaning_Independent) noexcept;
    // Linear, at once. [audio thread]
    AURESULT SetRTPCImmediate(u32 paramID, f32 value, const AuRTPCKey& key) noexcept;
    // Moves the value at exactly the key to the one it would inherit, then removes it. Nothing
    // for an unknown parameter or a key without a value of its own. [audio thread]
    void ResetRTPCValue(u32 paramID, const AuRTPCKey& key, const TransParamsBase& transition) noexcept;
    void ResetRTPCValueByObject(u32 paramID, CAuRegisteredObj* gameObj, AuPlayingID playingID,
                                const TransParamsBase& transition) noexcept;
    // A key owner ends: drops, without telling anyone, the subscriptions of exactly this key,
    // the ramps and the values matching it. [audio thread]
    void RemoveKeyValues(u32 paramID, const AuRTPCKey& key) noexcept;

    // 0.0 when the parameter is unknown.
    f32 GetDefaultValue(u32 paramID, bool* outFound = nullptr) const;
    // From the init bank; the parameter is made when needed. 1, or 52 without memory.
    AURESULT SetDefaultParamValue(u32 paramID, f32 value);
    AURESULT SetRampingParams(u32 paramID, u32 rampKind, f32 up, f32 down);
    // Kinds 1 to 6; anything else is not stored. 1, or 52 without memory.
    AURESULT AddBuiltInParamBinding(u32 kind, u32 paramID);
    // Sets every parameter bound to the kind at the key, at once. [audio thread]
    void UpdateBuiltInParam(u32 kind, const AuRTPCKey& key, f32 value) noexcept;

    // 31 for a null subscriber, or points missing where a curve is needed (only kind 3 with
    // property 64 goes without); 52 without memory; else what the first push gives. On failure
    // a subscription left without curves is gone again.
    AURESULT SubscribeRTPC(IAuRTPCSubscriber* subscriber, u32 drivingID, u32 drivingType, u32 mode,
                           u32 propertyID, u32 curveID, u32 scaling, const AuCurvePoint* points, u32 count,
                           const AuRTPCKey& key, u32 kind);
    AURESULT SubscribeProperty64(IAuLayerSubscriber* subscriber, u32 drivingID, u32 drivingType);
    AURESULT SubscribeSwitchGroup(IAuSwitchGroupSubscriber* entry, u32 paramID, u32 drivingType,
                                  const AuCurvePoint* points, u32 count);
    void UnSubscribeRTPC(IAuRTPCSubscriber* subscriber);
    void UnSubscribeRTPCProperty(IAuRTPCSubscriber* subscriber, u32 propertyID);
    void UnSubscribeProperty64(IAuRTPCSubscriber* subscriber);
    // Drops one curve; the subscription goes with its last curve. `outCurvesRemain` says whether
    // the subscription still has curves.
    void UnSubscribeRTPCCurve(IAuRTPCSubscriber* subscriber, u32 propertyID, u32 curveID,
                              bool* outCurvesRemain = nullptr);
    AuRTPCSubscription* FindSubscription(IAuRTPCSubscriber* subscriber, u32 propertyID) const;

    // The subscription's curves at their driving values for the key: a product in mode 2, else a
    // sum; 0.0 without such a subscription. [audio thread]
    f32 GetRTPCConvertedValue(IAuRTPCSubscriber* subscriber, u32 propertyID, const AuRTPCKey& key) noexcept;
    // The first curve of the property-64 subscription at its driving value. [audio thread]
    f32 GetProperty64Value(IAuRTPCSubscriber* subscriber, const AuRTPCKey& key) noexcept;
    // The curves driven by one parameter, at a given value. [audio thread]
    static f32 SumCurves(const AuRTPCSubscription& subscription, u32 paramID, f32 value) noexcept;
    // Pushes every subscription of the subscriber again. [audio thread]
    AURESULT RefreshSubscriber(IAuRTPCSubscriber* subscriber) noexcept;

    // The value that applies at the key, with fall-back; the default when none is stored, 0.0 for
    // an unknown parameter.
    f32 GetRTPCValue(u32 paramID, const AuRTPCKey& key) const;

    void SetModulatorLinks(IAuRTPCModulatorLinks* links) { m_pModulators = links; }
    bool HasModulatorValue(u32 modulatorID, const AuRTPCKey& key) noexcept;
    f32 GetModulatorValue(u32 modulatorID, const AuRTPCKey& key) noexcept;
    // A modulator's value at the key reaches one subscription it drives, through the curves that
    // it drives there. [audio thread]
    void NotifyModulatorValue(AuRTPCSubscription& subscription, u32 modulatorID, f32 value,
                              const AuRTPCKey& key) noexcept;

    // Parameters with a default, ramps, a binding, values or subscribers.
    u32 ParamCount() const { return m_uParamCount; }
    u32 SubscriptionCount() const { return m_uSubscriptionCount; }

private:
    friend struct AuRTPCTransition;

    AuRTPCEntry* FindEntry(u32 paramID) const;
    AuRTPCEntry* FindOrCreateEntry(u32 paramID);
    static void FreeEntry(AuRTPCEntry* entry);
    void DropIfUnused(AuRTPCEntry* entry);
    static u32 SubscriptionBucket(const IAuRTPCSubscriber* subscriber, u32 propertyID);

    AURESULT SetValueWithRamp(AuRTPCEntry& entry, f32* slot, f32 target, const AuRTPCKey& key,
                              const TransParamsBase& transition, bool reset, bool narrower) noexcept;
    bool StartTransition(AuRTPCEntry& entry, f32 current, f32 target, const AuRTPCKey& key,
                         const TransParamsBase& transition, i32 ms, bool reset, bool timeRamp) noexcept;
    static void CancelTransition(AuRTPCEntry& entry, AuRTPCTransition* transition) noexcept;
    static AuRTPCTransition* FindTransition(AuRTPCEntry& entry, const AuRTPCKey& key) noexcept;
    void OnTransitionValue(AuRTPCTransition* transition, f32 value, bool done) noexcept;
    AURESULT StoreValue(AuRTPCEntry& entry, f32* slot, f32 value, const AuRTPCKey& key, bool reset,
                        bool narrower) noexcept;
    void NotifySubscribers(AuRTPCEntry& entry, f32 value, const AuRTPCKey& key, bool narrower) noexcept;
    void NotifySubscription(AuRTPCSubscription& subscription, AuRTPCEntry& entry, f32 value,
                            const AuRTPCKey& key, const CAuRTPCFilter* filter) noexcept;
    AURESULT PushSubscription(AuRTPCSubscription& subscription) noexcept;

    // The driving value of one curve; false when nothing applies, `ignore` for curves that do not
    // count (busses and nodes on properties 0 and 36 without such a parameter).
    bool GetParamValue(u32 drivingID, u32 drivingType, u32 propertyID, u32 kind, const AuRTPCKey& key,
                       f32& value, bool& ignore) noexcept;
    f32 CombinedValue(const AuRTPCSubscription& subscription, const AuRTPCKey& key, u32 exceptDrivingID,
                      bool& anyCurve) noexcept;
    f32 WithBase(AuRTPCSubscription& subscription, f32 curves) noexcept;

    void UnlinkSubscription(AuRTPCSubscription* subscription);
    void DropSubscription(AuRTPCSubscription* subscription);
    void RemoveFromParam(AuRTPCSubscription* subscription, u32 paramID);
    void DropCurve(AuRTPCSubscription* subscription, u32 index);
    AuRTPCSubscription* FindSubscriptionWithKey(IAuRTPCSubscriber* subscriber, u32 propertyID) const;

    AuRTPCEntry* m_params[kBuckets] = {};
    u32 m_uParamCount = 0;
    u32 m_uHoldingEntries = 0;
    AuRTPCSubscription* m_subscriptions[kBuckets] = {};
    u32 m_uSubscriptionCount = 0;
    AuArray<u32> m_builtIn[AU_RTPC_BUILT_IN_KINDS];
    IAuRTPCModulatorLinks* m_pModulators = nullptr;
};

// Made by the engine's initialisation; null before and after.
extern CAuRTPCMgr* g_pRTPCMgr;
