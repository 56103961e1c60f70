#include "voices/AuInstanceMgr.h"

#include "banks/AuBankMgr.h"
#include "core/AuExternalSources.h"
#include "core/AuLog.h"
#include "hierarchy/AuBus.h"
#include "hierarchy/AuSound.h"
#include "parameters/AuModulatorMgr.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuOutputSide.h"

#include <AU/MemoryMgr.h>

#include <new>

namespace {

// Each context a start triggers joins the instance's list, bound to the node it was found on.
class CAuStartModulators final : public IAuModulatorTriggerCallback {
public:
    explicit CAuStartModulators(CAuPlaybackInstance& instance) : m_instance(instance) {}
    AURESULT OnContext(CAuModulatorContext& context, const AuModulatorTrigger& trigger) noexcept override {
        return AuAttachModulator(m_instance, context, {trigger.pTarget, trigger.targetKind});
    }

private:
    CAuPlaybackInstance& m_instance;
};

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

// The media an instance plays, held from its Init to its Term: the description's own data, or
// the bank manager's media of the source ID with a reference.
// An external source's resolved description lives with the record: it may own the file name the
// voice streams from.
class CAuSourceMediaRecord final : public IAuInstanceMedia {
public:
    static CAuSourceMediaRecord* Create(const AuSourceInfo& source, AuSourceInfo* owned) {
        void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuSourceMediaRecord));
        return memory ? new (memory) CAuSourceMediaRecord(source, owned) : nullptr;
    }
    AURESULT AcquireData() noexcept override {
        if (!m_bNeedsBank) return AuResultSuccess;
        m_pData = g_pBankMgr ? g_pBankMgr->GetMedia(m_sourceID, m_size, m_pHolder) : nullptr;
        return m_pData ? AuResultSuccess : AuResultFail;
    }
    void ReleaseData() noexcept override {
        if (!m_bNeedsBank || !m_pData || !g_pBankMgr) return;
        g_pBankMgr->ReleaseMedia(m_sourceID);
        if (m_pHolder) g_pBankMgr->ReleaseHolder(m_pHolder);
        m_pData = nullptr;
        m_pHolder = nullptr;
    }
    void Destroy() noexcept override {
        this->~CAuSourceMediaRecord();
        AU::MemoryMgr::Free(g_DefaultPoolId, this);
    }
    const u8* Data() const { return m_pData; }
    u32 Size() const { return m_size; }

private:
    CAuSourceMediaRecord(const AuSourceInfo& source, AuSourceInfo* owned)
        : m_pOwned(owned), m_sourceID(source.sourceID), m_pData(static_cast<const u8*>(source.pData)),
          m_size(source.inMemorySize),
          m_bNeedsBank(!source.pData && source.StorageKind() == AuSourceStorage_InMemory) {}
    ~CAuSourceMediaRecord() { AuSourceInfo::Destroy(m_pOwned); }

    AuSourceInfo* m_pOwned;
    u32 m_sourceID;
    const u8* m_pData;
    u32 m_size;
    bool m_bNeedsBank;
    AuMediaHolder* m_pHolder = nullptr;
};

// The manager that keeps the lists' registrations; one runs at a time.
CAuInstanceMgr* s_pLimiterOwner = nullptr;

// Walks the candidates in order: the live ones count, and the last one of no higher priority that
// may give way is the victim. 1 when one more fits, or the victim stopped (or left to go
// virtual); else the refusal.
template <class Walk>
AURESULT ApplyLimit(Walk walk, u16 limit, f32 priority, bool tiesLose, bool useVirtual, u32 stopReason,
                    CAuPlaybackInstance*& victim) noexcept {
    victim = nullptr;
    u32 count = 0;
    CAuPlaybackInstance* candidate = nullptr;
    u8 answer = 1;
    walk([&](CAuPlaybackInstance* i) {
        if (i->Flags() & (CAuPlaybackInstance::kFlagStopping | CAuPlaybackInstance::kFlagStopped)) return;
        if (i->IsVirtual() || i->ForcedVirtual()) return;
        ++count;
        if (i->Priority().fPriority > priority) return;
        // With virtual behaviour, an instance that keeps playing below the threshold (action 0)
        // can be neither stopped nor sent away.
        const u8 action = i->BelowThresholdAction();
        if (useVirtual && action == 0) return;
        candidate = i;
        answer = useVirtual ? action : 1;
    });
    if (count + 1 <= limit) return AuResultSuccess;
    const AURESULT refused = useVirtual ? AuResultLimiterRefusedUseVirtual : AuResultFail;
    if (!candidate || candidate->Priority().fPriority > priority ||
        (tiesLose && candidate->Priority().fPriority == priority))
        return refused;
    if (answer == 1)
        candidate->StopForLimit(stopReason);
    else
        candidate->TryStopForLimit(stopReason);
    victim = candidate;
    return AuResultSuccess;
}

bool MatchesNodeCall(const CAuPlaybackInstance& instance, CAuRegisteredObj* gameObj, AuPlayingID playingID) {
    return (!gameObj || instance.Key().pGameObj == gameObj) &&
           (!playingID || instance.Key().playingID == playingID);
}

// One gathering of the node's accumulated values, its ranged offsets drawn once, gives a new
// instance both the values its voice reads and the levels of the muted nodes above it (each under
// its node, so a later unmute of one lifts that one only). The busses leave their voice volumes
// out: the voice takes those from its output bus.
void ApplyNodeValues(CAuLeafNode& node, CAuPlaybackInstance& instance) {
    AuAccumulatedValues values;
    AuAccumulatedValues drawn;
    // Volume (with property 33), pitch, the two filters and the envelope threshold.
    values.mask = 0x0F | AuAccumulatedValues::kSelectOutput1;
    values.key = instance.Key();
    values.bDraw = true;
    values.pRandomOffsets = &drawn;
    values.bBusWalk = true;
    node.GetAccumulatedValues(values, values.key.pGameObj);
    for (u32 i = 0; i < values.levelCount; ++i)
        instance.SetMuteLevel(values.levels[i].owner, values.levels[i].value, false);
    AuInstanceStartValues start;
    start.fVolumeDb = values.values[0] + drawn.values[0];
    start.fPitch = values.values[2] + drawn.values[2];
    start.fFilter1[0] = values.values[3];
    start.fFilter1[1] = drawn.values[3];
    start.fFilter2[0] = values.values[4];
    start.fFilter2[1] = drawn.values[4];
    start.fEnvelopeThreshold = values.output1Field;
    start.fSourceOffsetDb = values.prop33 + drawn.prop33;
    start.fDryVolumeDb = values.busFields[0];
    start.fOwnFilter1 = values.busFields[1];
    start.fOwnFilter2 = values.busFields[2];
    start.fGameSendDb = values.gameAuxSend;
    start.bUseGameSends = values.bUseGameAux;
    for (u32 i = 0; i < 4; ++i) {
        start.fUserSendDb[i] = values.userAuxSends[i];
        start.userSendBus[i] = values.userAuxBusses[i];
    }
    instance.SetStartValues(start);
}

} // namespace

AURESULT CAuInstanceMgr::StartNode(CAuLeafNode& node, const AuSourceInfo& source, AuNodePlayParams& params) {
    // An instance counts only with a playing ID.
    if (params.playingID == 0) return AuResultFail;
    AuPlaybackInstanceParams instanceParams;
    node.MakeInstanceParams(params, instanceParams);
    instanceParams.pLinks = AuInstanceModulatorLinks();
    u32 reason = 0;
    const f32 priority =
        ComputePriority({instanceParams.priority.fBase, instanceParams.priority.fDistanceOffset});
    const AURESULT allowed = CheckResourceLimits(priority, reason);
    if (allowed != AuResultSuccess) {
        node.Release();
        return allowed;
    }
    AuSourceInfo* external = nullptr;
    if (IsExternalSource(source)) {
        const AURESULT resolved = ResolveExternalSource(source, params.pExternalSources, external);
        if (resolved != AuResultSuccess) {
            node.Release();
            return resolved;
        }
    }
    const AuSourceInfo& played = external ? *external : source;
    CAuSourceMediaRecord* media = CAuSourceMediaRecord::Create(played, external);
    if (!media) {
        AuSourceInfo::Destroy(external);
        node.Release();
        return AuResultNoMemory;
    }
    instanceParams.pMedia = media;
    // From here the instance owns the node's reference and the media record.
    CAuPlaybackInstance* instance = params.pInstanceMaker
                                        ? params.pInstanceMaker->MakeInstance(instanceParams)
                                        : node.CreateSoundInstance(instanceParams);
    if (!instance) {
        media->Destroy();
        node.Release();
        return AuResultNoMemory;
    }
    // Counted before Init, which enters the lists the count found: a failing Init still leaves
    // through the node's end of count. A limit that refuses the play undoes the count here.
    AuPlayCountRecord count;
    count.pGameObj = params.pGameObj;
    count.priority = priority;
    const AURESULT counted = node.IncrementPlayCount(&count);
    // Over a limit that lets instances go virtual, a node that sends its excess to virtual
    // starts the new one virtual; any other refusal ends the start.
    const bool startVirtual =
        counted == AuResultLimiterRefusedUseVirtual && instance->BelowThresholdAction() == 2;
    if (counted != AuResultSuccess && !startVirtual) {
        AuPlayCountRecord uncount;
        uncount.pGameObj = params.pGameObj;
        node.DecrementPlayCount(&uncount);
        DestroyInstance(instance);
        return counted;
    }
    const AURESULT init = instance->Init(count.pNodeLimiter, count.pBusLimiter);
    if (init != AuResultSuccess) {
        DestroyInstance(instance);
        return init;
    }
    if (startVirtual) instance->TryStopForLimit(AU_LIMITER_REASON_LIST);
    ApplyNodeValues(node, *instance);
    // The modulators of the node's chain start for this play before its first frame reads them.
    AuModulatorTrigger trigger;
    trigger.pGameObj = params.pGameObj;
    trigger.playingID = params.playingID;
    trigger.midiTargetID = instanceParams.key.midiTargetID;
    trigger.midiStatus = params.midi.status;
    trigger.midiChannel = params.midi.channel;
    trigger.midiNote = params.midi.note;
    trigger.midiVelocity = params.midi.velocity;
    trigger.pInstance = instance;
    CAuStartModulators attach(*instance);
    node.TriggerModulators(trigger, &attach);
    AuSourceMedia described;
    described.uFlags = played.flags;
    described.uPluginID = played.pluginID;
    described.uFileID = played.fileID;
    described.uSourceID = played.sourceID;
    if (played.flags & AU_SOURCE_OWNED_NAME)
        described.pszFileName = static_cast<const wchar_t*>(played.pData);
    described.pData = media->Data();
    described.uSize = media->Size();
    instance->SetSourceMedia(described);
    const i32 loops = node.ComputeRandomizedValue();
    instance->SetLoopCount(static_cast<u16>(loops < 0 ? 0 : loops > 0xFFFF ? 0xFFFF : loops));
    // The voice mixes into the node's mixing bus; without one, into each device's master. Its
    // volume is that of the node's own bus, which may pass through to the mixing one.
    CAuNodeBase* own = node.GetMixingBus();
    if (CAuBus* bus = CAuBus::MixingBusOf(own))
        instance->SetOutputBusNode(&bus->MixNode(), &static_cast<CAuBus*>(own)->MixNode());
    AddInstance(instance);
    instance->Play({params.transitionMs, params.eCurve}, false, true);
    return AuResultSuccess;
}

bool CAuInstanceMgr::IsExternalSource(const AuSourceInfo& source) noexcept {
    return (source.pluginID >> 16) == kExternalSourceCodec;
}

AURESULT CAuInstanceMgr::ResolveExternalSource(const AuSourceInfo& source, const AuExternalSourceArray* list,
                                               AuSourceInfo*& resolved) noexcept {
    resolved = nullptr;
    // The source's file ID word carries its cookie.
    const AuExternalSourceInfo* entry = nullptr;
    for (u32 i = 0; list && i < list->Count() && !entry; ++i)
        if ((*list)[i].iExternalSrcCookie == source.fileID) entry = &(*list)[i];
    if (!entry) return AuResultFail;
    const bool hasMemory = entry->pInMemory && entry->uiMemorySize;
    if (!entry->szFile && !hasMemory && entry->idFile == 0xFFFFFFFF) return AuResultFail;
    AuSourceInfo* copy = source.Clone();
    if (!copy) return AuResultNoMemory;
    const u32 plugin = (entry->idCodec << 16) | 1;
    const u32 kept = source.flags & (AU_SOURCE_LANGUAGE_SPECIFIC | AU_SOURCE_RECORD_BIT3);
    if (entry->szFile) {
        copy->SetFromFileName(source.sourceID, plugin, entry->szFile, 0xFFFFFFFF,
                              (source.flags & AU_SOURCE_RECORD_BIT1) != 0, true);
        if (!copy->pData) {
            AuSourceInfo::Destroy(copy);
            return AuResultNoMemory;
        }
    } else if (hasMemory) {
        copy->SetWithData(plugin, const_cast<void*>(entry->pInMemory), source.sourceID, 0xFFFFFFFF, 0,
                          entry->uiMemorySize,
                          kept | AU_SOURCE_EXTERNAL | (AuSourceStorage_InMemory << AU_SOURCE_STORAGE_SHIFT));
    } else {
        copy->SetFields(plugin, source.sourceID, entry->idFile, 0, 0,
                        kept | AU_SOURCE_EXTERNAL | (AuSourceStorage_Streamed << AU_SOURCE_STORAGE_SHIFT));
    }
    resolved = copy;
    return AuResultSuccess;
}

void CAuInstanceMgr::StopInstancesOfNode(CAuLeafNode& node, CAuRegisteredObj* gameObj, i32 transitionMs,
                                         AuCurveInterpolation curve, AuPlayingID playingID) {
    for (CAuPlaybackInstance* i = node.FirstInstance(); i; i = i->NextOfNode())
        if (MatchesNodeCall(*i, gameObj, playingID)) i->Stop({transitionMs, curve}, true);
}

void CAuInstanceMgr::PauseInstancesOfNode(CAuLeafNode& node, CAuRegisteredObj* gameObj, i32 transitionMs,
                                          AuCurveInterpolation curve, AuPlayingID playingID) {
    for (CAuPlaybackInstance* i = node.FirstInstance(); i; i = i->NextOfNode())
        if (MatchesNodeCall(*i, gameObj, playingID)) i->Pause({transitionMs, curve});
}

void CAuInstanceMgr::ResumeInstancesOfNode(CAuLeafNode& node, CAuRegisteredObj* gameObj, i32 transitionMs,
                                           AuCurveInterpolation curve, AuPlayingID playingID,
                                           bool masterResume) {
    for (CAuPlaybackInstance* i = node.FirstInstance(); i; i = i->NextOfNode())
        if (MatchesNodeCall(*i, gameObj, playingID)) i->Resume({transitionMs, curve}, masterResume);
}

void CAuInstanceMgr::ReleaseModulatorsOfNode(CAuLeafNode& node, CAuRegisteredObj* gameObj,
                                             AuPlayingID playingID) {
    for (CAuPlaybackInstance* i = node.FirstInstance(); i; i = i->NextOfNode())
        if (MatchesNodeCall(*i, gameObj, playingID)) i->ReleaseModulators();
}

AURESULT CAuInstanceMgr::Init(const AuInitSettings& settings) {
    const AURESULT events = InitEvents();
    if (events != AuResultSuccess) return events;
    return InitOutputSide(settings);
}

AURESULT CAuInstanceMgr::InitEvents() {
    m_pHead = m_pTail = nullptr;
    m_uNumInstances = m_uNumVirtual = 0;
    m_bClosing = false;
    const AURESULT result = m_events.Init(kPreallocatedEvents, AuPoolList<AuInstanceEvent>::kNoMaximum);
    if (result != AuResultSuccess) return result;
    m_global.SetMaximum(m_uVoiceLimit);
    g_pGlobalVoiceLimiter = &m_global;
    s_pLimiterOwner = this;
    CAuPlaybackLimiter::SetRegistry(&RegisterLimiter);
    g_pPlaybackLimits = this;
    return result;
}

void CAuInstanceMgr::Term(bool withOutputSide) {
    m_bClosing = true;
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
    if (s_pLimiterOwner == this) {
        s_pLimiterOwner = nullptr;
        CAuPlaybackLimiter::SetRegistry(nullptr);
    }
    if (g_pPlaybackLimits == this) g_pPlaybackLimits = nullptr;
    if (g_pGlobalVoiceLimiter == &m_global) g_pGlobalVoiceLimiter = nullptr;
    m_global.Term();
    for (AuArray<CAuPlaybackLimiter*>& chain : m_limiters)
        chain.Term();
}

void CAuInstanceMgr::DestroyInstance(CAuPlaybackInstance* instance) noexcept {
    instance->SetNextInstance(nullptr);
    instance->SetListed(false);
    instance->Term(0);
    instance->~CAuPlaybackInstance();
    AU::MemoryMgr::Free(g_DefaultPoolId, instance);
}

void CAuInstanceMgr::AddInstance(CAuPlaybackInstance* instance) noexcept {
    instance->SetNextInstance(nullptr);
    (m_pTail ? m_pTail->SetNextInstance(instance) : void(m_pHead = instance));
    m_pTail = instance;
    instance->SetListed(true);
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

void CAuInstanceMgr::EndInstance(CAuPlaybackInstance* instance) noexcept {
    if (!instance) return;
    instance->OnStop(0, 0);
    if (m_bClosing || !instance->IsListed() || instance->EndQueued()) return;
    instance->SetEndQueued();
    QueueInstanceEvent(instance, AuInstanceEvent::kEnd, 0, 0.0f);
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
    CAuPlaybackInstance* victim = nullptr;
    // Highest priority first: the victim is the lowest that counts.
    return ApplyLimit(
        [this](auto&& visit) {
            for (u32 n = 0; n < m_global.Count(); ++n)
                visit(m_global[n]);
        },
        limit, priority, tiesLose, useVirtual, stopReason, victim);
}

AURESULT CAuInstanceMgr::ApplyPlaybackLimit(const CAuPlaybackLimiter& list, u16 limit, f32 priority,
                                            CAuRegisteredObj* gameObj, bool tiesLose, bool useVirtual,
                                            CAuPlaybackInstance*& victim) noexcept {
    return ApplyLimit(
        [&list, gameObj](auto&& visit) {
            for (u32 n = 0; n < list.Count(); ++n)
                if (!gameObj || list[n]->Key().pGameObj == gameObj) visit(list[n]);
        },
        limit, priority, tiesLose, useVirtual, AU_LIMITER_REASON_LIST, victim);
}

void CAuInstanceMgr::RegisterLimiter(CAuLimiterList<CAuPlaybackInstance>& list, u32 kind, bool registered) {
    if (!s_pLimiterOwner || kind - 1 >= 2) return;
    // Every engine list is a CAuPlaybackLimiter.
    auto* limiter = static_cast<CAuPlaybackLimiter*>(&list);
    AuArray<CAuPlaybackLimiter*>& chain = s_pLimiterOwner->m_limiters[kind - 1];
    const u32 at = chain.IndexOf([limiter](CAuPlaybackLimiter* row) { return row == limiter; });
    if (!registered) {
        if (at < chain.Count()) chain.EraseOrdered(at);
        return;
    }
    if (at < chain.Count()) return;
    // Without room the list is still counted and ordered; only its per-frame drop is lost.
    if (chain.Count() == chain.Capacity() && !chain.Grow(8)) {
        AuLog(AuLogLevel::Warning, "limiter list of kind %u not registered: no memory", kind);
        return;
    }
    chain.AddLast(limiter);
}

void CAuInstanceMgr::UpdateLimiters() noexcept {
    for (CAuPlaybackInstance* i = m_pHead; i; i = i->NextInstance())
        i->AgeVirtualFrameBits();
    m_global.Update(true);
    for (AuArray<CAuPlaybackLimiter*>& chain : m_limiters) {
        // The latest registered first; a list emptied by its update leaves the array behind us.
        for (u32 i = chain.Count(); i-- > 0;)
            if (i < chain.Count()) chain[i]->Update(false);
    }
}

void CAuInstanceMgr::StopInstancesUsingData(const u8* data, u32 size) noexcept {
    for (CAuPlaybackInstance* i = m_pHead; i; i = i->NextInstance()) {
        if (!i->UsesData(data, size)) continue;
        i->MarkCut();
        i->Stop({0, AuCurveInterpolation_Linear}, true);
        i->ClearNodePendingActions();
    }
    CAuLowerEngine::ReleaseEffectsUsingData(data, size);
}

void CAuInstanceMgr::OnVirtualCountLowered(bool check) noexcept {
    if (m_uNumVirtual) --m_uNumVirtual;
    if (check && m_uNumInstances - m_uNumVirtual > m_uVoiceLimit)
        ApplyPlaybackLimit(m_uVoiceLimit, 101.0f, true, true, kStopForVoiceLimit);
}
