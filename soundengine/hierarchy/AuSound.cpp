#include "hierarchy/AuSound.h"

#include "banks/AuBankMgr.h"
#include "core/AuAudioMgr.h"
#include "core/AuLog.h"
#include "core/AuOutputTiming.h"
#include "hierarchy/AuHierarchyLoader.h"
#include "parameters/AuRTPCMgr.h"

#include <AU/MemoryMgr.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <new>

namespace {

// The built-in game parameters a note-on sets.
constexpr u32 kParamVelocity = 129;
constexpr u32 kParamFrequency = 132;
constexpr u32 kParamNote = 133;

bool Matches(const CAuPlaybackInstance& instance, CAuRegisteredObj* gameObj, AuPlayingID playingID) {
    return (!gameObj || instance.Key().pGameObj == gameObj) &&
           (!playingID || instance.Key().playingID == playingID);
}

template <class T> T* MakeNode(u32 id) {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(T));
    if (!memory) return nullptr;
    T* node = new (memory) T(id);
    node->AddToIndex();
    return node;
}

} // namespace

CAuLeafNode::CAuLeafNode(u32 id) : CAuParameterNode(id), m_instanceNode(*this) {}

void CAuLeafNode::NodeView::OnInstanceTerm(CAuPlaybackInstance* instance) noexcept {
    AuPlayCountRecord count;
    count.pGameObj = instance->Key().pGameObj;
    m_owner.DecrementPlayCount(&count);
}

u8 CAuLeafNode::NodeView::GetBelowThresholdBehavior() noexcept {
    u8 queue = 0, below = 0;
    m_owner.GetVirtualVoiceSettings(queue, below);
    return below == 1 || below == 2 ? below : 0;
}

void CAuLeafNode::NodeView::ClearPendingActions() noexcept {
    if (g_pAudioMgr) g_pAudioMgr->ClearPendingItems(&m_owner, nullptr, 0);
}

AURESULT CAuLeafNode::PlayToEnd(CAuRegisteredObj* gameObj, u32, AuPlayingID playingID) {
    for (CAuPlaybackInstance* i = m_pInstances; i; i = i->NextOfNode())
        if (Matches(*i, gameObj, playingID)) i->StopLooping();
    return AuResultSuccess;
}

void CAuLeafNode::ParamNotification(const AuParamChange& change) {
    const AuParamNotification notification{change.target, change.key.pGameObj, change.key, false,
                                           change.value};
    for (CAuPlaybackInstance* i = m_pInstances; i; i = i->NextOfNode())
        if (Matches(*i, change.key.pGameObj, 0)) i->HandleParamNotification(notification);
}

void CAuLeafNode::LevelNotificationForObject(f32 level, CAuRegisteredObj* gameObj, const void* owner) {
    for (CAuPlaybackInstance* i = m_pInstances; i; i = i->NextOfNode())
        if (Matches(*i, gameObj, 0)) i->SetMuteLevel(owner, level, true);
}

void CAuLeafNode::LevelNotification(f32 level, const void* owner) {
    for (CAuPlaybackInstance* i = m_pInstances; i; i = i->NextOfNode())
        i->SetMuteLevel(owner, level, true);
}

void CAuLeafNode::SetBusValue(f32 value, u32 target, CAuRegisteredObj* gameObj, bool) {
    for (CAuPlaybackInstance* i = m_pInstances; i; i = i->NextOfNode())
        if (Matches(*i, gameObj, 0)) i->SetPositioningProp(target, value);
}

void CAuLeafNode::RecalcNotification() {
    for (CAuPlaybackInstance* i = m_pInstances; i; i = i->NextOfNode())
        i->RefreshParams();
}

void CAuLeafNode::BypassNotification(u32 bits, u32 mask, CAuRegisteredObj* gameObj, bool) {
    for (CAuPlaybackInstance* i = m_pInstances; i; i = i->NextOfNode())
        if (Matches(*i, gameObj, 0)) i->ForwardVoiceFlags(bits, mask);
}

void CAuLeafNode::EffectChanged(u32) {
    for (CAuPlaybackInstance* i = m_pInstances; i; i = i->NextOfNode())
        i->RefreshParams();
}

void CAuLeafNode::RecalcProps(u32) noexcept {
    for (CAuPlaybackInstance* i = m_pInstances; i; i = i->NextOfNode())
        i->RefreshParams();
}

i32 CAuLeafNode::ComputeRandomizedValue() {
    // Wide, then saturated: a bank's extreme count and range must not overflow.
    const f64 value =
        f64(static_cast<i32>(GetPropWord(AuPropID_LoopCount))) + RangeOffset(AuPropID_LoopCount);
    return static_cast<i32>(std::clamp(value, f64{INT32_MIN}, f64{INT32_MAX}));
}

void CAuLeafNode::MakeInstanceParams(const AuNodePlayParams& request, AuPlaybackInstanceParams& out) {
    AddRef();
    out.pNode = &m_instanceNode;
    out.pGameObj = request.pGameObj;
    out.midiStatus = request.midi.status;
    out.midiNote = request.midi.CarriesNote() ? request.midi.note : AU_MIDI_ANY;
    out.bMidi = request.midi.status != 0;
    out.key = AuRTPCKey(request.pGameObj);
    out.key.playingID = request.playingID;
    out.key.midiTargetID = request.linkedID;
    out.key.midiChannel = request.midi.status ? request.midi.channel : AU_MIDI_ANY;
    out.key.midiNote = out.midiNote;
    f32 priority = 50.0f, offset = 0.0f;
    GetPriority(request.pGameObj, priority, offset);
    out.priority.fPriority = out.priority.fBase = priority;
    out.priority.fDistanceOffset = offset;
    out.bMotion = (request.flags & AU_PLAY_MOTION) != 0;
    // A delayed play starts this many samples into its launch frame.
    out.lStartDelayFrames = request.lFrameOffset;
}

void CAuLeafNode::SeekInstances(const AuActionExec& exec) {
    const bool snap = (exec.flags & AU_EXEC_SEEK_SNAP) != 0;
    f32 position = std::isnan(exec.seekPosition) ? 0.0f : exec.seekPosition;
    for (CAuPlaybackInstance* i = m_pInstances; i; i = i->NextOfNode()) {
        if (!Matches(*i, exec.pGameObj, exec.playingID)) continue;
        if (exec.flags & AU_EXEC_SEEK_PERCENT) {
            i->SeekPercent(position < 0.0f ? 0.0f : position > 1.0f ? 1.0f : position, snap);
        } else {
            // A negative time seeks to the start.
            i->SeekTime(exec.seekMs < 0 ? 0u : static_cast<u32>(exec.seekMs), snap);
        }
    }
}

CAuSound* CAuSound::Create(u32 id) {
    return MakeNode<CAuSound>(id);
}

CAuSound::~CAuSound() {
    m_source.Term();
}

bool CAuSound::NotifyChildren(void* arg1, void*, u32, u32, u32) {
    auto* sources = static_cast<AuArray<const AuSourceInfo*>*>(arg1);
    if (!sources || m_source.StorageKind() != AuSourceStorage_Streamed ||
        (m_source.flags & AU_SOURCE_RECORD_BIT3))
        return true;
    return sources->AddLast(&m_source) != nullptr;
}

AURESULT CAuSound::ExecuteAction(const AuActionExec& exec) {
    if (exec.flags & AU_EXEC_PAUSE_TRANSITIONS) PauseTransitions(exec.kind == AuActionExec_Pause);
    if (!m_pActivity || m_pActivity->playing == 0) return AuResultSuccess;
    IAuNodeInstances* instances = g_pNodeInstances;
    switch (exec.kind) {
    case AuActionExec_Stop:
        if (instances)
            instances->StopInstancesOfNode(*this, exec.pGameObj, exec.transitionTimeMs, exec.eCurve,
                                           exec.playingID);
        break;
    case AuActionExec_Pause:
        if (instances)
            instances->PauseInstancesOfNode(*this, exec.pGameObj, exec.transitionTimeMs, exec.eCurve,
                                            exec.playingID);
        break;
    case AuActionExec_Resume:
        if (instances)
            instances->ResumeInstancesOfNode(*this, exec.pGameObj, exec.transitionTimeMs, exec.eCurve,
                                             exec.playingID, (exec.flags & AU_EXEC_MASTER_RESUME) != 0);
        break;
    case AuActionExec_Break:
        return PlayToEnd(exec.pGameObj, 0, exec.playingID);
    case AuActionExec_Seek:
        SeekInstances(exec);
        break;
    case AuActionExec_ReleaseModulators:
        if (instances) instances->ReleaseModulatorsOfNode(*this, exec.pGameObj, exec.playingID);
        break;
    default:
        break;
    }
    return AuResultSuccess;
}

AURESULT CAuSound::ExecuteActionExcept(const AuActionExec& exec) {
    if (!exec.pGameObj) PauseTransitions(exec.kind == AuActionExec_Pause);
    switch (exec.kind) {
    case AuActionExec_Stop:
    case AuActionExec_Pause:
    case AuActionExec_Resume:
    case AuActionExec_Seek: {
        AuActionExec plain = exec;
        plain.flags &= ~AU_EXEC_PAUSE_TRANSITIONS;
        return ExecuteAction(plain);
    }
    default:
        return AuResultSuccess;
    }
}

void CAuSound::GetAccumulatedValues(AuAccumulatedValues& values, CAuRegisteredObj* gameObj) {
    CAuParameterNode::GetAccumulatedValues(values, gameObj);
    if ((values.mask & 2) && values.key.midiNote != AU_MIDI_ANY) {
        const i32 root = static_cast<i32>(GetPropWord(AuPropID_MidiRootNote));
        values.values[2] += static_cast<f32>((i32{values.key.midiNote} - root) * 100);
    }
}

AURESULT CAuSound::Play(AuNodePlayParams& params) {
    if (params.midi.IsNoteOn()) {
        AuRTPCKey key(params.pGameObj);
        key.midiTargetID = params.linkedID;
        key.midiChannel = params.midi.channel;
        key.midiNote = params.midi.CarriesNote() ? params.midi.note : AU_MIDI_ANY;
        if (g_pRTPCMgr) {
            const f32 note = params.midi.note;
            g_pRTPCMgr->SetRTPCImmediate(kParamNote, note, key);
            g_pRTPCMgr->SetRTPCImmediate(kParamVelocity, params.midi.velocity, key);
            g_pRTPCMgr->SetRTPCImmediate(kParamFrequency, 440.0f * std::pow(2.0f, (note - 69.0f) / 12.0f),
                                         key);
        }
        if (params.pNoteRecord && params.pNoteRecord->AddLast({GetVirtualBehaviour(), this, params.linkedID}))
            AddRef();
        if (GetPropWord(AuPropID_MidiPlayMode) != 1) return AuResultMidiFiltered;
    }
    if (!g_pNodeInstances) {
        AuLog(AuLogLevel::Error, "sound %u: no instance manager to play it", key);
        return AuResultFail;
    }
    return g_pNodeInstances->StartNode(*this, m_source, params);
}

AURESULT CAuSound::SetInitialValues(const u8* payload, u32 size, bool present) {
    AuRecordCursor cursor(payload, size);
    if (!cursor.Skip(4)) return AuResultBadHeader;
    AuBankSourceRecord record;
    const AURESULT result = CAuBankMgr::LoadSource(cursor, record);
    if (result != AuResultSuccess) return result;
    record.ApplyTo(m_source);
    return SetNodeBaseParams(cursor, present);
}

CAuLeafType17* CAuLeafType17::Create(u32 id) {
    return MakeNode<CAuLeafType17>(id);
}

CAuLeafType17::~CAuLeafType17() {
    ClearSources();
}

void CAuLeafType17::ClearSources() {
    for (Entry& entry : m_sources) {
        entry.pSource->~AuMotionSource();
        AU::MemoryMgr::Free(g_DefaultPoolId, entry.pSource);
    }
    m_sources.Term();
}

AuMotionSource* CAuLeafType17::FindSource(u32 sourceID) const {
    for (const Entry& entry : m_sources)
        if (entry.sourceID == sourceID) return entry.pSource;
    return nullptr;
}

AURESULT CAuLeafType17::ExecuteAction(const AuActionExec& exec) {
    if (exec.kind > AuActionExec_Break) return AuResultSuccess;
    if (exec.flags & AU_EXEC_PAUSE_TRANSITIONS) PauseTransitions(exec.kind == AuActionExec_Pause);
    if (!m_pActivity || m_pActivity->playing == 0) return AuResultSuccess;
    IAuNodeInstances* instances = g_pNodeInstances;
    if (exec.kind == AuActionExec_Break) return PlayToEnd(exec.pGameObj, 0, exec.playingID);
    if (!instances) return AuResultSuccess;
    if (exec.kind == AuActionExec_Stop)
        instances->StopInstancesOfNode(*this, exec.pGameObj, exec.transitionTimeMs, exec.eCurve,
                                       exec.playingID);
    else if (exec.kind == AuActionExec_Pause)
        instances->PauseInstancesOfNode(*this, exec.pGameObj, exec.transitionTimeMs, exec.eCurve,
                                        exec.playingID);
    else
        instances->ResumeInstancesOfNode(*this, exec.pGameObj, exec.transitionTimeMs, exec.eCurve,
                                         exec.playingID, (exec.flags & AU_EXEC_MASTER_RESUME) != 0);
    return AuResultSuccess;
}

AURESULT CAuLeafType17::ExecuteActionExcept(const AuActionExec& exec) {
    if (exec.kind > AuActionExec_Resume) return AuResultSuccess;
    if (!exec.pGameObj) PauseTransitions(exec.kind == AuActionExec_Pause);
    AuActionExec plain = exec;
    plain.flags &= ~AU_EXEC_PAUSE_TRANSITIONS;
    return ExecuteAction(plain);
}

AURESULT CAuLeafType17::IncrementPlayCount(void* counter) {
    bool owned = false;
    for (CAuNodeBase* node = this; node && !owned; node = node->Parent())
        owned = node->GetExtraOwner() != nullptr;
    if (!owned) GetDefaultBusIfOrphan();
    return CAuParameterNode::IncrementPlayCount(counter);
}

AURESULT CAuLeafType17::PrepareData() {
    AURESULT result = AuResultSuccess;
    for (Entry& entry : m_sources) {
        const AURESULT prepared = entry.pSource->info.PrepareMedia();
        if (prepared != AuResultSuccess) result = prepared;
    }
    return result;
}

void CAuLeafType17::UnPrepareData() {
    for (Entry& entry : m_sources)
        entry.pSource->info.UnprepareMedia();
}

void CAuLeafType17::GetAccumulatedValues(AuAccumulatedValues& values, CAuRegisteredObj* gameObj) {
    values.bBusWalk = false;
    CAuParameterNode::GetAccumulatedValues(values, gameObj);
}

AURESULT CAuLeafType17::Play(AuNodePlayParams& params) {
    params.flags |= AU_PLAY_MOTION;
    params.lFrameOffset = g_uNumSamplesPerFrame ? params.lFrameOffset * 8 / g_uNumSamplesPerFrame : 0;
    if (!g_bMotionDevicesPresent || !g_pNodeInstances) return AuResultSuccess;
    for (Entry& entry : m_sources)
        g_pNodeInstances->StartNode(*this, entry.pSource->info, params);
    return AuResultSuccess;
}

void CAuLeafType17::SetLevelOffset(AuMotionSource& source, f32 offset) {
    const f32 change = offset - source.levelOffset;
    if (change != 0.0f) {
        const AuParamNotification note{0, nullptr, AuRTPCKey{}, false, change};
        for (CAuPlaybackInstance* i = FirstInstance(); i; i = i->NextOfNode())
            if (i->GetSourceMedia().uSourceID == source.info.sourceID) i->HandleParamNotification(note);
    }
    source.levelOffset = offset;
}

AURESULT CAuLeafType17::GetMotionParams(AuMotionParams& record, const AuMotionSource& source, u32 arg) {
    CAuNodeBase* bus = GetDefaultBusIfOrphan();
    if (!bus) return AuResultFail;
    if (record.device2 == 0) {
        record.device1 = source.device1;
        record.device2 = source.device2;
        record.pBus = bus;
    }
    record.reserved[0] = record.reserved[1] = 0;
    bus->CollectVolumes(record.volumes, nullptr, arg, false);
    return AuResultSuccess;
}

f32 CAuLeafType17::GetLinkedFloat(const AuSourceInfo& source) const {
    for (const Entry& entry : m_sources)
        if (&entry.pSource->info == &source) return entry.pSource->levelOffset;
    return 0.0f;
}

AURESULT CAuLeafType17::SetInitialValues(const u8* payload, u32 size, bool present) {
    AuRecordCursor cursor(payload, size);
    u32 count = 0;
    if (!cursor.Skip(4) || !cursor.Read(count)) return AuResultBadHeader;
    // An entry takes at least 8 bytes and a source record of 18.
    if (cursor.Left() / 26 < count) return AuResultBadHeader;
    for (u32 n = 0; n < count; ++n) {
        u16 device1 = 0, device2 = 0;
        f32 level = 0.0f;
        if (!cursor.Read(device1) || !cursor.Read(device2) || !cursor.Read(level)) return AuResultBadHeader;
        AuBankSourceRecord record;
        const AURESULT result = CAuBankMgr::LoadSource(cursor, record);
        if (result != AuResultSuccess) return result;
        AuMotionSource* source = FindSource(record.sourceID);
        if (!source) {
            void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(AuMotionSource));
            if (!memory) return AuResultFail;
            source = new (memory) AuMotionSource();
            if (!m_sources.AddLast(Entry{record.sourceID, source})) {
                source->~AuMotionSource();
                AU::MemoryMgr::Free(g_DefaultPoolId, source);
                return AuResultFail;
            }
            record.ApplyTo(source->info);
            source->device1 = device1;
            source->device2 = device2;
        }
        SetLevelOffset(*source, level);
    }
    return SetNodeBaseParams(cursor, present);
}

namespace {

CAuIndexable* CreateSound(u32 id, const u8*, u32) {
    return CAuSound::Create(id);
}

AURESULT ReadSound(CAuIndexable& object, const u8* payload, u32 size, bool present) {
    return static_cast<CAuSound&>(object).SetInitialValues(payload, size, present);
}

// A sound whose source a bank already described is kept as it is.
bool ReadSoundAgain(CAuIndexable& object) {
    return !static_cast<CAuSound&>(object).Source().HasBankSource();
}

CAuIndexable* CreateLeaf17(u32 id, const u8*, u32) {
    return CAuLeafType17::Create(id);
}

AURESULT ReadLeaf17(CAuIndexable& object, const u8* payload, u32 size, bool present) {
    return static_cast<CAuLeafType17&>(object).SetInitialValues(payload, size, present);
}

bool ReadLeaf17Again(CAuIndexable&) {
    return true;
}

} // namespace

AuHierarchyLoaderEntry AuSoundLoaderEntry() {
    return {AuIndexNodes, &CreateSound, &ReadSound, &ReadSoundAgain, nullptr};
}

AuHierarchyLoaderEntry AuLeafType17LoaderEntry() {
    return {AuIndexNodes, &CreateLeaf17, &ReadLeaf17, &ReadLeaf17Again, nullptr};
}
