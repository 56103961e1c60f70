// Switch groups: one switch value per game object, or a game parameter mapped through a curve to
// an index into the group's switch values. Switch containers and music switch nodes subscribe to
// a group and hear every change. Audio thread only (message dispatch, bank loading under
// g_csMain); the lock counter is no thread lock: it holds back subscription changes that
// subscribers make while a change is being delivered, so no subscriber array changes under a
// walk.
#pragma once

#include "banks/AuBankFormat.h"
#include "hierarchy/AuGameSyncSeams.h"
#include "memory/AuArray.h"
#include "parameters/AuKeyedValues.h"
#include "parameters/AuRTPCMgr.h"

// What follows a switch group, or a state group through the state manager: the switch-change
// operation. A state follower receives the global key and no filter. [audio thread]
class CAuSwitchAware {
public:
    virtual void SetSwitch(u32 switchID, const AuRTPCKey& key, const CAuRTPCFilter* filter) noexcept = 0;

protected:
    ~CAuSwitchAware() = default;
};

struct AuSwitchSubscription {
    CAuSwitchAware* pSubscriber;
    AuSwitchSubscription* pNext;
    u32 groupID;
    u8 active; // cleared while its unsubscribe waits for the lock to end
};

// The index a curve output selects among `count` switch values: truncated toward zero. False
// for an output out of range, NaN included (a NaN or infinite bank point yields one).
bool AuSwitchIndex(f32 output, u32 count, u32& outIndex) noexcept;

class CAuSwitchEntry final : public IAuSwitchGroupSubscriber {
public:
    explicit CAuSwitchEntry(u32 group) : groupID(group) {}
    ~CAuSwitchEntry();

    // Stores the value at {object, any} and, unless the group follows a game parameter, tells
    // every active subscriber. False when the value cannot be stored. [audio thread]
    bool SetSwitch(u32 switchID, CAuRegisteredObj* gameObj) noexcept;
    // The kind-6 push: the curve output selects the switch. [audio thread]
    void SetSwitchFromRTPC(f32 value, const AuRTPCKey& key, const CAuRTPCFilter* filter) noexcept override;
    // Drops the game-parameter binding.
    void Unbind();
    bool IsParameterDriven() const { return paramID != 0; }

    u32 groupID;
    CAuSwitchEntry* pNext = nullptr;
    AuArray<u32> switchIDs; // parameter-driven: the value of index i
    u32 paramID = 0;
    u32 drivingType = 0;
    AuArray<AuSwitchSubscription*> subscribers; // sorted by address
    CAuKeyedValues<u32> values;
};

// Also the set-state, set-switch and trigger actions' way in: the state parts go on to the state
// manager.
class CAuSwitchMgr final : public IAuGameSyncActions {
public:
    static constexpr u32 kBuckets = 193;

    CAuSwitchMgr() = default;
    ~CAuSwitchMgr() { Term(); }
    CAuSwitchMgr(const CAuSwitchMgr&) = delete;
    CAuSwitchMgr& operator=(const CAuSwitchMgr&) = delete;

    AURESULT Init();
    // Every entry with its values and binding, every subscription, the deferred queue.
    void Term();

    // Found or made; null without memory.
    CAuSwitchEntry* GetSwitchEntry(u32 groupID) noexcept override;
    // While locked: queued (2 when the queue cannot grow). Else 52 for a null subscriber or
    // without memory. A subscriber follows one group: subscribing again moves it.
    AURESULT SubscribeSwitch(CAuSwitchAware* subscriber, u32 groupID);
    void UnsubscribeSwitch(CAuSwitchAware* subscriber);

    void LockSwitches() noexcept override { ++m_uLockCount; }
    // At 0 the queued subscription changes apply, in order.
    void UnlockSwitches() noexcept override;

    // 52 when the entry or the value cannot be had. [audio thread]
    AURESULT SetSwitch(u32 groupID, u32 switchID, CAuRegisteredObj* gameObj) noexcept;
    void SetSwitch(CAuSwitchEntry& entry, u32 switchID, CAuRegisteredObj* gameObj) noexcept override;
    // 0 for an unknown group, an object without a value of its own, an index out of range.
    // [audio thread]
    u32 GetSwitch(u32 groupID, const AuRTPCKey& key) noexcept;
    // Binds the group to a game parameter: point i maps the parameter value onto index i. Zero
    // points only drop an earlier binding. 52 without memory, else the subscription's result.
    AURESULT AddSwitchRTPC(u32 groupID, u32 paramID, u32 drivingType, const AuBankSwitchPoint* points,
                           u32 count);
    // The object's values in every group. [audio thread]
    void UnregisterGameObject(CAuRegisteredObj* gameObj) noexcept;

    void SetState(u32 stateGroupID, u32 stateID, bool skipTransition, bool skipExtension) noexcept override;
    void Trigger(u32 triggerID, CAuRegisteredObj* gameObj) noexcept override;

    u32 GroupCount() const { return m_uGroupCount; }
    u32 SubscriptionCount() const { return m_uSubscriptionCount; }

private:
    struct Deferred {
        u32 operation; // 0 subscribe, 1 unsubscribe
        CAuSwitchAware* pSubscriber;
        u32 groupID;
    };
    static constexpr u32 kSubscribe = 0;
    static constexpr u32 kUnsubscribe = 1;

    CAuSwitchEntry* FindEntry(u32 groupID) const;
    AuSwitchSubscription* FindSubscription(const CAuSwitchAware* subscriber) const;
    static u32 Bucket(const CAuSwitchAware* subscriber);
    AURESULT SubscribeNow(CAuSwitchAware* subscriber, u32 groupID);
    void UnsubscribeNow(CAuSwitchAware* subscriber);
    void Unlink(AuSwitchSubscription* subscription);
    static void LeaveGroup(CAuSwitchEntry* entry, AuSwitchSubscription* subscription);

    CAuSwitchEntry* m_entries[kBuckets] = {};
    u32 m_uGroupCount = 0;
    AuSwitchSubscription* m_subscriptions[kBuckets] = {};
    u32 m_uSubscriptionCount = 0;
    AuArray<Deferred> m_deferred;
    u32 m_uLockCount = 0;
};
