// The modulator manager: which modulators drive which subscriber, the start of their contexts
// when sounds play, and the per-frame update. Voices read the contexts that act on them through a
// modulator list, shared by the holders of one play. Audio thread only, but for Init and Term.
#pragma once

#include "memory/AuArray.h"
#include "parameters/AuModulator.h"
#include "parameters/AuModulatorEngine.h"
#include "parameters/AuRTPCSubscriber.h"
#include "voices/AuModulatorGainNode.h"

// One property of the voice that a context moves: gain = value x scale + offset.
struct AuModulatorTarget {
    f32 offset = 0.0f;
    f32 scale = 1.0f;
    u32 property = 64; // index 0 to 63 in the property masks
};

// What a context is bound to: a node's (kind 2) or a bus's (kind 3) properties.
struct AuModulatorBinding {
    IAuRTPCSubscriber* pSubscriber = nullptr;
    u32 kind = AuRTPCSubscriberKind_Node;
};

class CAuModulatorList final : public IAuModulatorList {
public:
    // With one reference; null without memory.
    static CAuModulatorList* Create();

    void AddRef() { ++m_uRefs; }
    // Drops one reference; the last clears the targets, lets the contexts go and frees the list.
    void ReleaseShared();

    // Adds the context once (a reference and a user more) and appends the targets to its item.
    // 1, or 52 without memory.
    AURESULT AddContext(CAuModulatorContext* context, const AuModulatorTarget* targets, u32 count);

    // [audio thread] Products, from 1.0, of value x scale + offset over the targets of the mask:
    // at the start of the frame (current values) and at its end.
    f32 GetStartFactor(u64 mask) const;
    f32 GetEndFactor(u64 mask) const;
    void CountTargets(u64 mask, u32& audioRate, u32& controlRate) noexcept override;
    // Per-sample buffers with their {offset, scale} and {start, end} ramps of the others, each
    // list held to its capacity; the counts come back.
    void GatherBuffersAndRamps(u64 mask, AuModulatorSampleTarget* buffers, AuModulatorFrameTarget* ramps,
                               u32 bufferCapacity, u32 rampCapacity, u32& outBuffers, u32& outRamps) const;
    void MarkConsumed();
    void UnmarkConsumed();
    void ClearTargets();
    // The envelopes start their release `offset` samples into the next frame.
    void ReleaseAll(u32 offset);
    // The contexts hold still while the play is paused.
    void Pause();
    void Resume();
    u32 ItemCount() const;

    f32 CurrentGain(u64 mask) noexcept override { return GetStartFactor(mask); }
    void FillTargets(u64 mask, AuModulatorSampleTarget* sampleRate,
                     AuModulatorFrameTarget* frameRate) noexcept override;

private:
    struct Item {
        Item* pNext;
        CAuModulatorContext* pContext;
        AuArray<AuModulatorTarget> targets;
    };
    CAuModulatorList() = default;
    ~CAuModulatorList() = default;
    template <class Visit> void ForMatching(u64 mask, Visit visit) const {
        for (Item* item = m_pHead; item; item = item->pNext)
            for (const AuModulatorTarget& target : item->targets)
                if (target.property < 64 && ((mask >> target.property) & 1)) visit(*item->pContext, target);
    }

    Item* m_pHead = nullptr;
    u32 m_uRefs = 1;
};

// A reference to a shared list, made on the first context; copies share the list.
class CAuModulatorListHolder {
public:
    CAuModulatorListHolder() = default;
    // Shares `list` (one reference more).
    explicit CAuModulatorListHolder(CAuModulatorList* list) : m_pList(list) {
        if (m_pList) m_pList->AddRef();
    }
    CAuModulatorListHolder(const CAuModulatorListHolder& other);
    CAuModulatorListHolder& operator=(const CAuModulatorListHolder& other);
    virtual ~CAuModulatorListHolder() { Reset(); }

    // Creates the list when absent, adds the context and binds it to the subscriber's modulated
    // volumes. 1, 2 without memory.
    AURESULT AddContext(CAuModulatorContext* context, const AuModulatorBinding& binding);
    CAuModulatorList* List() const { return m_pList; }
    void Reset();

private:
    CAuModulatorList* m_pList = nullptr;
};

class CAuModulatorMgr final : public IAuRTPCModulatorLinks {
public:
    static constexpr u32 kBuckets = 193;

    CAuModulatorMgr() = default;
    CAuModulatorMgr(const CAuModulatorMgr&) = delete;
    CAuModulatorMgr& operator=(const CAuModulatorMgr&) = delete;
    ~CAuModulatorMgr() { Term(); }

    // Clears the table, makes the engine and links the RTPC manager's modulator curves: 1, or 52.
    AURESULT Init();
    void Term();
    // [audio thread] Once per rendered frame.
    void ProcessModulators(u32) noexcept { Update(); }

    // The modulator (index table 7) drives the subscription: 2 when it is not loaded, 52 without
    // memory, else 1.
    AURESULT AddSubscription(u32 modulatorID, AuRTPCSubscription* subscription);
    // The modulators with the ID (all for 0) stop driving the subscriber.
    void RemoveSubscription(IAuRTPCSubscriber* subscriber, u32 modulatorID, AuRTPCSubscription* subscription);
    bool GetCurrentValue(u32 modulatorID, const AuRTPCKey& key, f32& outValue);
    bool GetInstanceValue(u32 modulatorID, const AuRTPCKey& key, f32& outValue);
    // The modulator's reach on a volume property of the subscriber, as a linear gain
    // value x scale + offset; false when no curve of it drives that property.
    bool GetSubscriptionRange(IAuRTPCSubscriber* subscriber, u32 propertyID, u32 modulatorID,
                              AuModulatorTarget& out);
    // [audio thread] Starts or retriggers the contexts of every modulator that drives the
    // subscriber, then of those that drive them, each modulator once. 1, or 2 when one fails.
    AURESULT Trigger(IAuRTPCSubscriber* subscriber, const AuModulatorTrigger& trigger,
                     IAuModulatorTriggerCallback* callback);
    // [audio thread] The modulator's contexts at keys within `key`.
    void RemoveInstances(u32 modulatorID, const AuRTPCKey& key);
    // [audio thread]
    void Update();

    CAuModulatorEngine* Engine() { return m_pEngine; }
    u32 EntryCount() const { return m_uEntryCount; }

    AURESULT Subscribe(AuRTPCSubscription* subscription, u32 modulatorID) noexcept override {
        return AddSubscription(modulatorID, subscription);
    }
    void Unsubscribe(AuRTPCSubscription* subscription, u32 modulatorID) noexcept override;
    bool GetValue(u32 modulatorID, const AuRTPCKey& key, f32& outValue) noexcept override {
        return GetInstanceValue(modulatorID, key, outValue);
    }

private:
    struct Entry {
        Entry* pNext;
        IAuRTPCSubscriber* pKey;
        AuArray<CAuModulator*> modulators;
    };
    static u32 Bucket(const IAuRTPCSubscriber* subscriber);
    Entry* Find(const IAuRTPCSubscriber* subscriber) const;
    AURESULT TriggerLinked(IAuRTPCSubscriber* subscriber, const AuModulatorTrigger& trigger,
                           IAuModulatorTriggerCallback* callback, u32 stamp);

    Entry* m_entries[kBuckets] = {};
    u32 m_uEntryCount = 0;
    CAuModulatorEngine* m_pEngine = nullptr;
    u32 m_uTriggerStamp = 0;
};

extern CAuModulatorMgr* g_pModulatorMgr;

class CAuPlaybackInstance;
class IAuInstanceLinks;

// The links of every started playback instance: its modulators pause, resume and release with it
// and go when it ends.
IAuInstanceLinks* AuInstanceModulatorLinks();
// [audio thread] A context a trigger gave joins the instance's list, bound to the volumes of the
// binding's subscriber. 1, or 2 without memory.
AURESULT AuAttachModulator(CAuPlaybackInstance& instance, CAuModulatorContext& context,
                           const AuModulatorBinding& binding);
