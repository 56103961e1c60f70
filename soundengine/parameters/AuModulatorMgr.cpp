#include "parameters/AuModulatorMgr.h"

#include "core/AuOutputTiming.h"
#include "parameters/AuKeyedParamIds.h"
#include "parameters/AuRTPCMgr.h"
#include "plugins/AuPluginSettings.h"
#include "voices/AuPlaybackInstance.h"

#include <AU/MemoryMgr.h>

#include <cmath>
#include <new>

namespace {

constexpr u32 kVolumeProperties[] = {0, 36};

f32 Gain(const AuModulatorTarget& target, f32 value) {
    return value * target.scale + target.offset;
}

f32 EndValue(const CAuModulatorContext& context) {
    return context.bHasRecord ? context.recordEnd : context.current;
}

class CAuInstanceModulatorLinks final : public IAuInstanceLinks {
public:
    void Pause(CAuPlaybackInstance& instance) noexcept override {
        if (CAuModulatorList* list = ListOf(instance)) list->Pause();
    }
    void Resume(CAuPlaybackInstance& instance) noexcept override {
        if (CAuModulatorList* list = ListOf(instance)) list->Resume();
    }
    // Instances follow no path of their own yet.
    void EndPath(CAuPlaybackInstance&) noexcept override {}
    void ReleaseModulators(CAuPlaybackInstance& instance) noexcept override {
        if (CAuModulatorList* list = ListOf(instance)) list->ReleaseAll(0);
    }
    void Unlink(CAuPlaybackInstance& instance) noexcept override {
        // The contexts kept for this very instance end with it.
        if (g_pModulatorMgr) {
            AuRTPCKey key;
            key.pInstance = &instance;
            for (u32 id : instance.KeyedParamIds().ModulatorIDs())
                g_pModulatorMgr->RemoveInstances(id, key);
        }
        if (CAuModulatorList* list = ListOf(instance)) {
            instance.SetModulatorList(nullptr);
            list->ReleaseShared();
        }
    }

private:
    // Only these links attach lists: the instance's list is one of ours.
    static CAuModulatorList* ListOf(CAuPlaybackInstance& instance) {
        return static_cast<CAuModulatorList*>(instance.ModulatorList());
    }
};

CAuInstanceModulatorLinks s_instanceLinks;

// Values kept for one playback instance are listed with it.
class CAuInstanceKeyOwners final : public IAuKeyOwnerDirectory {
public:
    AuKeyedParamIds* FindParamIds(const AuRTPCKey& key) override {
        return key.pInstance ? &key.pInstance->KeyedParamIds() : nullptr;
    }
};

CAuInstanceKeyOwners s_instanceOwners;

// Plug-in parameters driven by modulators: their contexts start with the plug-in's play.
class CAuPluginModulators final : public IAuPluginModulatorTrigger {
public:
    AURESULT Trigger(IAuPluginParamSubscriber* target, u32, u32, const AuRTPCKey& key,
                     void* callback) noexcept override {
        if (!g_pModulatorMgr) return AuResultSuccess;
        AuModulatorTrigger trigger;
        trigger.pGameObj = key.pGameObj;
        trigger.playingID = key.playingID;
        trigger.midiTargetID = key.midiTargetID;
        trigger.midiChannel = key.midiChannel;
        trigger.midiNote = key.midiNote;
        trigger.pInstance = key.pInstance;
        trigger.pTarget = target;
        trigger.targetKind = AuRTPCSubscriberKind_PluginParams;
        return g_pModulatorMgr->Trigger(target, trigger, static_cast<IAuModulatorTriggerCallback*>(callback));
    }
};

CAuPluginModulators s_pluginModulators;

} // namespace

IAuInstanceLinks* AuInstanceModulatorLinks() {
    return &s_instanceLinks;
}

AURESULT AuAttachModulator(CAuPlaybackInstance& instance, CAuModulatorContext& context,
                           const AuModulatorBinding& binding) {
    CAuModulatorListHolder holder(static_cast<CAuModulatorList*>(instance.ModulatorList()));
    const AURESULT result = holder.AddContext(&context, binding);
    if (!instance.ModulatorList() && holder.List()) {
        // The instance keeps a reference of its own; the holder's goes with it below.
        holder.List()->AddRef();
        instance.SetModulatorList(holder.List());
    }
    return result;
}

void AuModulatorStopInstance(CAuPlaybackInstance& instance) {
    instance.Stop({0, AuCurveInterpolation_Linear}, true);
}

CAuModulatorList* CAuModulatorList::Create() {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuModulatorList));
    return memory ? new (memory) CAuModulatorList() : nullptr;
}

void CAuModulatorList::ReleaseShared() {
    if (--m_uRefs) return;
    for (Item* item = m_pHead; item;) {
        Item* next = item->pNext;
        item->targets.Term();
        CAuModulatorContext* context = item->pContext;
        if (context->users) --context->users;
        if (context->consumers > context->users) context->consumers = context->users;
        context->Release();
        AU::MemoryMgr::Free(g_DefaultPoolId, item);
        item = next;
    }
    this->~CAuModulatorList();
    AU::MemoryMgr::Free(g_DefaultPoolId, this);
}

AURESULT CAuModulatorList::AddContext(CAuModulatorContext* context, const AuModulatorTarget* targets,
                                      u32 count) {
    Item* item = m_pHead;
    Item* last = nullptr;
    for (; item && item->pContext != context; item = item->pNext)
        last = item;
    if (!item) {
        void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(Item));
        if (!memory) return AuResultNoMemory;
        item = new (memory) Item{nullptr, context, {}};
        context->AddRef();
        ++context->users;
        if (last)
            last->pNext = item;
        else
            m_pHead = item;
    }
    for (u32 i = 0; i < count; ++i)
        if (!item->targets.AddLast(targets[i])) return AuResultNoMemory;
    return AuResultSuccess;
}

f32 CAuModulatorList::GetStartFactor(u64 mask) const {
    f32 factor = 1.0f;
    ForMatching(mask, [&](const CAuModulatorContext& context, const AuModulatorTarget& target) {
        factor *= Gain(target, context.current);
    });
    return factor;
}

f32 CAuModulatorList::GetEndFactor(u64 mask) const {
    f32 factor = 1.0f;
    ForMatching(mask, [&](const CAuModulatorContext& context, const AuModulatorTarget& target) {
        factor *= Gain(target, EndValue(context));
    });
    return factor;
}

void CAuModulatorList::CountTargets(u64 mask, u32& audioRate, u32& controlRate) noexcept {
    audioRate = controlRate = 0;
    ForMatching(mask, [&](const CAuModulatorContext& context, const AuModulatorTarget&) {
        ++(context.pBuffer ? audioRate : controlRate);
    });
}

void CAuModulatorList::GatherBuffersAndRamps(u64 mask, AuModulatorSampleTarget* buffers,
                                             AuModulatorFrameTarget* ramps, u32 bufferCapacity,
                                             u32 rampCapacity, u32& outBuffers, u32& outRamps) const {
    outBuffers = outRamps = 0;
    ForMatching(mask, [&](const CAuModulatorContext& context, const AuModulatorTarget& target) {
        if (context.pBuffer) {
            if (outBuffers < bufferCapacity)
                buffers[outBuffers++] = {context.pBuffer, target.offset, target.scale};
        } else if (outRamps < rampCapacity) {
            ramps[outRamps++] = {Gain(target, context.current), Gain(target, EndValue(context))};
        }
    });
}

void CAuModulatorList::FillTargets(u64 mask, AuModulatorSampleTarget* sampleRate,
                                   AuModulatorFrameTarget* frameRate) noexcept {
    u32 buffers = 0, ramps = 0;
    CountTargets(mask, buffers, ramps);
    GatherBuffersAndRamps(mask, sampleRate, frameRate, buffers, ramps, buffers, ramps);
}

void CAuModulatorList::MarkConsumed() {
    for (Item* item = m_pHead; item; item = item->pNext) {
        CAuModulatorContext& context = *item->pContext;
        ++context.consumers;
        // The last reader of a private context moves it on; a global one moves on with the frame.
        if (context.Scope() != AuModulatorScope_Global && context.consumers >= context.users &&
            context.bHasRecord) {
            context.current = context.recordEnd;
            context.bHasRecord = false;
        }
    }
}

void CAuModulatorList::UnmarkConsumed() {
    for (Item* item = m_pHead; item; item = item->pNext)
        if (item->pContext->consumers) --item->pContext->consumers;
}

void CAuModulatorList::ClearTargets() {
    for (Item* item = m_pHead; item; item = item->pNext)
        item->targets.Term();
}

void CAuModulatorList::ReleaseAll(u32 offset) {
    for (Item* item = m_pHead; item; item = item->pNext)
        item->pContext->StartRelease(offset);
}

void CAuModulatorList::Pause() {
    for (Item* item = m_pHead; item; item = item->pNext)
        ++item->pContext->paused;
}

void CAuModulatorList::Resume() {
    for (Item* item = m_pHead; item; item = item->pNext)
        if (item->pContext->paused) --item->pContext->paused;
}

u32 CAuModulatorList::ItemCount() const {
    u32 count = 0;
    for (Item* item = m_pHead; item; item = item->pNext)
        ++count;
    return count;
}

CAuModulatorListHolder::CAuModulatorListHolder(const CAuModulatorListHolder& other) : m_pList(other.m_pList) {
    if (m_pList) m_pList->AddRef();
}

CAuModulatorListHolder& CAuModulatorListHolder::operator=(const CAuModulatorListHolder& other) {
    if (other.m_pList) other.m_pList->AddRef();
    Reset();
    m_pList = other.m_pList;
    return *this;
}

void CAuModulatorListHolder::Reset() {
    if (m_pList) m_pList->ReleaseShared();
    m_pList = nullptr;
}

AURESULT CAuModulatorListHolder::AddContext(CAuModulatorContext* context, const AuModulatorBinding& binding) {
    if (!m_pList && !(m_pList = CAuModulatorList::Create())) return AuResultFail;
    AuModulatorTarget targets[2];
    u32 count = 0;
    if (binding.pSubscriber && context->Modulator() && g_pModulatorMgr)
        for (u32 property : kVolumeProperties)
            if (g_pModulatorMgr->GetSubscriptionRange(binding.pSubscriber, property,
                                                      context->Modulator()->ID(), targets[count]))
                ++count;
    return m_pList->AddContext(context, targets, count) == AuResultSuccess ? AuResultSuccess : AuResultFail;
}

AURESULT CAuModulatorMgr::Init() {
    for (Entry*& head : m_entries)
        head = nullptr;
    m_uEntryCount = 0;
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuModulatorEngine));
    if (!memory) return AuResultNoMemory;
    m_pEngine = new (memory) CAuModulatorEngine();
    if (g_pRTPCMgr) g_pRTPCMgr->SetModulatorLinks(this);
    AuKeyOwners::SetDirectory(AuKeyOwnerKind_Instance, &s_instanceOwners);
    AuSetPluginModulatorTrigger(&s_pluginModulators);
    return AuResultSuccess;
}

void CAuModulatorMgr::Term() {
    if (g_pRTPCMgr) g_pRTPCMgr->SetModulatorLinks(nullptr);
    AuKeyOwners::SetDirectory(AuKeyOwnerKind_Instance, nullptr);
    AuSetPluginModulatorTrigger(nullptr);
    for (Entry*& head : m_entries) {
        while (head) {
            Entry* entry = head;
            head = entry->pNext;
            for (CAuModulator* modulator : entry->modulators)
                modulator->Release();
            entry->modulators.Term();
            AU::MemoryMgr::Free(g_DefaultPoolId, entry);
        }
    }
    m_uEntryCount = 0;
    if (m_pEngine) {
        m_pEngine->~CAuModulatorEngine();
        AU::MemoryMgr::Free(g_DefaultPoolId, m_pEngine);
        m_pEngine = nullptr;
    }
}

u32 CAuModulatorMgr::Bucket(const IAuRTPCSubscriber* subscriber) {
    return static_cast<u32>((reinterpret_cast<uintptr_t>(subscriber) >> 3) % kBuckets);
}

CAuModulatorMgr::Entry* CAuModulatorMgr::Find(const IAuRTPCSubscriber* subscriber) const {
    for (Entry* entry = m_entries[Bucket(subscriber)]; entry; entry = entry->pNext)
        if (entry->pKey == subscriber) return entry;
    return nullptr;
}

AURESULT CAuModulatorMgr::AddSubscription(u32 modulatorID, AuRTPCSubscription* subscription) {
    if (!g_pIndex) return AuResultFail;
    auto* modulator = static_cast<CAuModulator*>(g_pIndex->GetPtrAndAddRef(AuIndexModulators, modulatorID));
    if (!modulator) return AuResultFail;
    Entry* entry = Find(subscription->pSubscriber);
    if (!entry) {
        void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(Entry));
        if (!memory) {
            modulator->Release();
            return AuResultFail;
        }
        entry =
            new (memory) Entry{m_entries[Bucket(subscription->pSubscriber)], subscription->pSubscriber, {}};
        m_entries[Bucket(subscription->pSubscriber)] = entry;
        ++m_uEntryCount;
    }
    // Each modulator once per subscriber, holding the lookup's reference.
    if (entry->modulators.IndexOf([modulator](CAuModulator* m) { return m == modulator; }) <
        entry->modulators.Count()) {
        modulator->Release();
    } else if (!entry->modulators.AddLast(modulator)) {
        modulator->Release();
        if (entry->modulators.Count() == 0)
            RemoveSubscription(subscription->pSubscriber, modulatorID, nullptr);
        return AuResultNoMemory;
    }
    return modulator->AddKeyInstance(subscription) == AuResultSuccess ? AuResultSuccess : AuResultNoMemory;
}

void CAuModulatorMgr::RemoveSubscription(IAuRTPCSubscriber* subscriber, u32 modulatorID,
                                         AuRTPCSubscription* subscription) {
    Entry** link = &m_entries[Bucket(subscriber)];
    while (*link && (*link)->pKey != subscriber)
        link = &(*link)->pNext;
    Entry* entry = *link;
    if (!entry) return;
    for (u32 i = entry->modulators.Count(); i-- > 0;) {
        CAuModulator* modulator = entry->modulators[i];
        if (modulatorID && modulator->ID() != modulatorID) continue;
        if (subscription) modulator->RemoveKeyInstance(subscription);
        entry->modulators.EraseOrdered(i);
        modulator->Release();
    }
    if (entry->modulators.Count()) return;
    *link = entry->pNext;
    entry->modulators.Term();
    AU::MemoryMgr::Free(g_DefaultPoolId, entry);
    --m_uEntryCount;
}

void CAuModulatorMgr::Unsubscribe(AuRTPCSubscription* subscription, u32 modulatorID) noexcept {
    RemoveSubscription(subscription->pSubscriber, modulatorID, subscription);
}

bool CAuModulatorMgr::GetCurrentValue(u32 modulatorID, const AuRTPCKey& key, f32& outValue) {
    if (!g_pIndex) return false;
    auto* modulator = static_cast<CAuModulator*>(g_pIndex->GetPtrAndAddRef(AuIndexModulators, modulatorID));
    if (!modulator) return false;
    AuRTPCKey found = key;
    const bool ok = modulator->GetCurrentValue(found, outValue);
    modulator->Release();
    return ok;
}

bool CAuModulatorMgr::GetInstanceValue(u32 modulatorID, const AuRTPCKey& key, f32& outValue) {
    return GetCurrentValue(modulatorID, key, outValue);
}

bool CAuModulatorMgr::GetSubscriptionRange(IAuRTPCSubscriber* subscriber, u32 propertyID, u32 modulatorID,
                                           AuModulatorTarget& out) {
    if (!g_pRTPCMgr) return false;
    const AuRTPCSubscription* subscription = g_pRTPCMgr->FindSubscription(subscriber, propertyID);
    if (!subscription) return false;
    for (const AuRTPCCurve* curve : subscription->curves) {
        if (curve->drivingType != AuRTPCDrivingType_Modulator || curve->drivingID != modulatorID) continue;
        // Volumes are in decibels: the modulator's reach from 0 to 1 as a linear gain.
        const f32 low = std::pow(10.0f, curve->curve.Convert(0.0f) / 20.0f);
        const f32 high = std::pow(10.0f, curve->curve.Convert(1.0f) / 20.0f);
        out.offset = low;
        out.scale = high - low;
        out.property = propertyID;
        return std::isfinite(out.offset) && std::isfinite(out.scale);
    }
    return false;
}

AURESULT CAuModulatorMgr::Trigger(IAuRTPCSubscriber* subscriber, const AuModulatorTrigger& trigger,
                                  IAuModulatorTriggerCallback* callback) {
    if (!m_pEngine) return AuResultFail;
    if (++m_uTriggerStamp == 0) ++m_uTriggerStamp;
    return TriggerLinked(subscriber, trigger, callback, m_uTriggerStamp);
}

AURESULT CAuModulatorMgr::TriggerLinked(IAuRTPCSubscriber* subscriber, const AuModulatorTrigger& trigger,
                                        IAuModulatorTriggerCallback* callback, u32 stamp) {
    Entry* entry = Find(subscriber);
    if (!entry) return AuResultSuccess;
    AURESULT result = AuResultSuccess;
    for (u32 i = 0; i < entry->modulators.Count(); ++i) {
        CAuModulator* modulator = entry->modulators[i];
        // Modulators may drive each other: each runs once per trigger.
        if (modulator->m_uTriggerStamp == stamp) continue;
        modulator->m_uTriggerStamp = stamp;
        if (modulator->Trigger(trigger, *m_pEngine, callback) != AuResultSuccess) result = AuResultFail;
        // Those driving this modulator's own parameters run for the play too; they act on no voice.
        if (TriggerLinked(static_cast<IAuModulatorSubscriber*>(modulator), trigger, nullptr, stamp) !=
            AuResultSuccess)
            result = AuResultFail;
    }
    return result;
}

void CAuModulatorMgr::RemoveInstances(u32 modulatorID, const AuRTPCKey& key) {
    if (!g_pIndex) return;
    auto* modulator = static_cast<CAuModulator*>(g_pIndex->GetPtrAndAddRef(AuIndexModulators, modulatorID));
    if (!modulator) return;
    modulator->RemoveKeyInstances(key);
    modulator->Release();
}

void CAuModulatorMgr::Update() {
    if (!m_pEngine) return;
    m_pEngine->UpdateModulators(g_uNumSamplesPerFrame);
    if (!g_pIndex) return;
    CAuIndexTable& table = g_pIndex->Table(AuIndexModulators);
    table.Lock();
    table.ForEach([](CAuIndexable* object) { static_cast<CAuModulator*>(object)->UpdateInstances(); });
    table.Unlock();
}
