#include "voices/AuInstanceMgr.h"

#include "core/AuLog.h"
#include "voices/AuOutputSide.h"

#include <AU/MemoryMgr.h>

namespace {

// The share of the pool in use; 0 for a pool that reserves nothing.
f32 UsedShare(AuMemPoolId pool) {
    AU::MemoryMgr::PoolMemInfo info{};
    AU::MemoryMgr::GetPoolMemoryUsed(pool, info);
    return info.uReserved ? static_cast<f32>(info.uUsed) / static_cast<f32>(info.uReserved) : 0.0f;
}

bool Counts(const CAuPlaybackInstance& instance) {
    return !(instance.Flags() & (CAuPlaybackInstance::kFlagStopping | CAuPlaybackInstance::kFlagStopped)) &&
           !instance.IsVirtual() && !instance.ForcedVirtual();
}

} // namespace

AURESULT CAuInstanceMgr::Init(const AuInitSettings& settings) {
    const AURESULT events = InitEvents();
    if (events != AuResultSuccess) return events;
    return InitOutputSide(settings);
}

AURESULT CAuInstanceMgr::InitEvents() {
    m_pHead = m_pTail = nullptr;
    m_uNumInstances = m_uNumVirtual = 0;
    return m_events.Init(kPreallocatedEvents, AuPoolList<AuInstanceEvent>::kNoMaximum);
}

void CAuInstanceMgr::Term(bool withOutputSide) {
    if (withOutputSide) TermOutputSide();
    while (m_pHead) {
        CAuPlaybackInstance* instance = m_pHead;
        m_pHead = instance->NextInstance();
        instance->OnStop(0, 0);
        DestroyInstance(instance);
    }
    m_pTail = nullptr;
    m_uNumInstances = 0;
    m_events.Term();
}

void CAuInstanceMgr::DestroyInstance(CAuPlaybackInstance* instance) noexcept {
    instance->SetNextInstance(nullptr);
    instance->Term(0);
    instance->~CAuPlaybackInstance();
    AU::MemoryMgr::Free(g_DefaultPoolId, instance);
}

void CAuInstanceMgr::AddInstance(CAuPlaybackInstance* instance) noexcept {
    instance->SetNextInstance(nullptr);
    (m_pTail ? m_pTail->SetNextInstance(instance) : void(m_pHead = instance));
    m_pTail = instance;
    ++m_uNumInstances;
}

void CAuInstanceMgr::RemoveInstance(CAuPlaybackInstance* instance) noexcept {
    CAuPlaybackInstance* previous = nullptr;
    for (CAuPlaybackInstance* i = m_pHead; i; previous = i, i = i->NextInstance()) {
        if (i != instance) continue;
        (previous ? previous->SetNextInstance(i->NextInstance()) : void(m_pHead = i->NextInstance()));
        if (m_pTail == i) m_pTail = previous;
        --m_uNumInstances;
        return;
    }
}

void CAuInstanceMgr::QueueInstanceEvent(CAuPlaybackInstance* instance, u32 kind, u32 param,
                                        f32 fParam) noexcept {
    if (m_events.AddLast({instance, kind, param, fParam})) return;
    ProcessInstanceEvents();
    if (!m_events.AddLast({instance, kind, param, fParam}))
        AuLog(AuLogLevel::Error, "Instance event %u lost: no memory", kind);
}

void CAuInstanceMgr::ProcessInstanceEvents() noexcept {
    // Only the end is sent to instances so far.
    m_events.RemoveAll([this](const AuInstanceEvent& event) {
        if (event.uKind == AuInstanceEvent::kEnd) {
            RemoveInstance(event.pInstance);
            DestroyInstance(event.pInstance);
        }
        return true;
    });
}

f32 CAuInstanceMgr::ComputePriority(const AuPriorityInputs& inputs) noexcept {
    f32 priority = inputs.fBase;
    if (inputs.bHasMaxDistance && inputs.fDistanceOffset != 0.0f) {
        const f32 maxDistance = inputs.fMaxDistance * inputs.fScaling;
        f32 distance = kNoListenerDistance;
        for (u32 i = 0; i < inputs.uNumDistances; ++i)
            if (inputs.pDistances[i] < distance) distance = inputs.pDistances[i];
        priority = distance >= maxDistance ? inputs.fBase + inputs.fDistanceOffset
                                           : inputs.fBase + inputs.fDistanceOffset * distance / maxDistance;
    }
    return priority < 0.0f ? 0.0f : priority > 100.0f ? 100.0f : priority;
}

bool CAuInstanceMgr::CheckMemoryThreshold(f32 priority) noexcept {
    const bool defaultShort = m_fDefaultThreshold < 1.0f && UsedShare(g_DefaultPoolId) > m_fDefaultThreshold;
    const bool lowerShort =
        m_fLEngineThreshold < 1.0f && UsedShare(g_LEngineDefaultPoolId) > m_fLEngineThreshold;
    if (!defaultShort && !lowerShort) return true;
    CAuPlaybackInstance* lowest = nullptr;
    for (CAuPlaybackInstance* i = m_pHead; i; i = i->NextInstance())
        if (Counts(*i) && (!lowest || i->Priority().fPriority <= lowest->Priority().fPriority)) lowest = i;
    if (!lowest || priority <= lowest->Priority().fPriority) return false;
    lowest->StopForLimit(kStopForMemory);
    return true;
}

AURESULT CAuInstanceMgr::CheckResourceLimits(f32 priority, u32& reason) noexcept {
    if (!CheckMemoryThreshold(priority)) {
        reason = kRefusedMemory;
        return AuResultFail;
    }
    reason = kRefusedVoiceLimit;
    if (m_uNumInstances - m_uNumVirtual + 1 <= m_uVoiceLimit) return AuResultSuccess;
    return ApplyPlaybackLimit(m_uVoiceLimit, priority, true, true, kStopForVoiceLimit);
}

AURESULT CAuInstanceMgr::ApplyPlaybackLimit(u16 limit, f32 priority, bool tiesLose, bool useVirtual,
                                            u32 stopReason) noexcept {
    u32 count = 0;
    CAuPlaybackInstance* candidate = nullptr;
    u8 answer = 1;
    for (CAuPlaybackInstance* i = m_pHead; i; i = i->NextInstance()) {
        if (i->Flags() & (CAuPlaybackInstance::kFlagStopping | CAuPlaybackInstance::kFlagStopped)) continue;
        if (i->IsVirtual() || i->ForcedVirtual()) continue;
        ++count;
        if (i->Priority().fPriority > priority) continue;
        // With virtual behaviour, an instance that keeps playing below the threshold (action 0)
        // can be neither stopped nor sent away.
        const u8 action = i->BelowThresholdAction();
        if (useVirtual && action == 0) continue;
        candidate = i;
        answer = useVirtual ? action : 1;
    }
    if (count + 1 <= limit) return AuResultSuccess;
    const AURESULT refused = useVirtual ? AuResultLimiterRefusedUseVirtual : AuResultFail;
    if (!candidate || candidate->Priority().fPriority > priority ||
        (tiesLose && candidate->Priority().fPriority == priority))
        return refused;
    if (answer == 1)
        candidate->StopForLimit(stopReason);
    else
        candidate->TryStopForLimit(stopReason);
    return AuResultSuccess;
}

void CAuInstanceMgr::StopInstancesUsingData(const u8* data) noexcept {
    for (CAuPlaybackInstance* i = m_pHead; i; i = i->NextInstance())
        if (i->UsesData(data)) i->Stop({0, AuCurveInterpolation_Linear}, true);
}

void CAuInstanceMgr::OnVirtualCountLowered(bool check) noexcept {
    if (m_uNumVirtual) --m_uNumVirtual;
    if (check && m_uNumInstances - m_uNumVirtual > m_uVoiceLimit)
        ApplyPlaybackLimit(m_uVoiceLimit, 101.0f, true, true, kStopForVoiceLimit);
}
