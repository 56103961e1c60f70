#include "voices/AuPlaybackInstance.h"
#include "voices/AuMixBusNode.h"

#include "core/AuOutputTiming.h"
#include "core/AuPlayingMgr.h"
#include "parameters/AuFastMath.h"
#include "parameters/AuRTPCMgr.h"

#include <AU/MemoryMgr.h>

#include <initializer_list>
#include <new>

IAuVoiceCommandQueue* g_pVoiceCommandQueue = nullptr;
IAuInstanceLimiter* g_pGlobalVoiceLimiter = nullptr;
IAuGameObjRefs* g_pGameObjRefs = nullptr;

namespace {
// Orders instances of equal priority; audio thread only.
u32 s_uNextSequence = 0;
u32 s_uStartedCount = 0;

f32 Clamp100(f32 value) {
    return value < 0.0f ? 0.0f : value > 100.0f ? 100.0f : value;
}

bool IsNoteStatus(u8 status) {
    const u8 kind = status & 0xF0;
    return kind == 0x80 || kind == 0x90 || kind == 0xA0;
}
} // namespace

u32 CAuPlaybackInstance::StartedCount() {
    return s_uStartedCount;
}

CAuPlaybackInstance::CAuPlaybackInstance(const AuPlaybackInstanceParams& params) noexcept
    : m_key(params.key), m_pOwner(params.pOwner), m_uCreatorWord(params.uCreatorWord), m_pNode(params.pNode),
      m_pMedia(params.pMedia), m_pLinks(params.pLinks), m_pGameObj(params.pGameObj),
      m_bMotion(params.bMotion), m_bMidi(params.bMidi), m_priority(params.priority),
      m_uSequence(++s_uNextSequence), m_lStartDelay(params.lStartDelayFrames) {
    m_key.pGameObj = params.pGameObj;
    if (IsNoteStatus(params.midiStatus)) {
        m_key.midiChannel = params.midiStatus & 0x0F;
        m_key.midiNote = params.midiNote;
    } else {
        m_key.midiChannel = m_key.midiNote = AU_MIDI_ANY;
    }
    m_noteKey.playingID = m_key.playingID;
    m_noteKey.midiChannel = m_key.midiChannel;
    m_noteKey.midiNote = m_key.midiNote;
    m_noteKey.pInstance = this;
    if (m_pGameObj && g_pGameObjRefs) g_pGameObjRefs->AddRef(m_pGameObj);
    if (params.fSeekPosition != 0.0f) {
        m_fSeekPosition = params.fSeekPosition;
        m_bSeekPending = true;
    }
}

CAuPlaybackInstance::~CAuPlaybackInstance() {
    SetOutputBusNode(nullptr);
    m_muteLevels.Term();
    m_keyedIds.Term();
}

AURESULT CAuPlaybackInstance::Init(IAuInstanceLimiter* nodeLimiter, IAuInstanceLimiter* busLimiter) noexcept {
    if (m_key.playingID == 0) return AuResultFail;
    m_bRegistered = true;
    if (m_pNode) {
        CAuPlaybackInstance*& head = m_pNode->InstanceListHead();
        m_pNextOfNode = head;
        head = this;
        m_bLevelWindow = m_pNode->UsesLevelWindow();
    }
    m_pNodeLimiter = nodeLimiter;
    m_pBusLimiter = busLimiter;
    for (IAuInstanceLimiter* limiter : {m_pNodeLimiter, m_pBusLimiter, g_pGlobalVoiceLimiter}) {
        if (!limiter) continue;
        const AURESULT result = limiter->AddInstance(this);
        if (result != AuResultSuccess) return result;
    }
    if (g_pPlayingMgr) {
        const AURESULT result = g_pPlayingMgr->AddInstance(m_key.playingID, m_uCallbackFlags);
        if (result != AuResultSuccess) return result;
    }
    if (m_pMedia) {
        const AURESULT result = m_pMedia->AcquireData();
        if (result != AuResultSuccess) return result;
        m_bMediaHeld = true;
    }
    return AuResultSuccess;
}

void CAuPlaybackInstance::Term(u32 /*reason*/) noexcept {
    if (m_bRegistered) {
        for (IAuInstanceLimiter* limiter : {m_pNodeLimiter, m_pBusLimiter, g_pGlobalVoiceLimiter})
            if (limiter) limiter->RemoveInstance(this);
        m_pNodeLimiter = m_pBusLimiter = nullptr;
        if (m_pNode) m_pNode->OnInstanceTerm(this);
    }
    if (m_pLinks) m_pLinks->EndPath(*this);
    RemoveTransitions();
    if (m_bRegistered && g_pPlayingMgr) g_pPlayingMgr->RemoveInstance(m_key.playingID);
    if (m_pLinks) m_pLinks->Unlink(*this);
    if (g_pRTPCMgr) {
        for (u32 id : m_keyedIds.ParamIDs())
            g_pRTPCMgr->RemoveKeyValues(id, m_noteKey);
        g_pRTPCMgr->UnSubscribeRTPC(this);
    }
    m_keyedIds.Term();
    if (m_pGameObj && g_pGameObjRefs) g_pGameObjRefs->Release(m_pGameObj);
    m_pGameObj = nullptr;
    if (m_p3D) {
        m_p3D->~AuInstance3DPositioning();
        AU::MemoryMgr::Free(g_DefaultPoolId, m_p3D);
        m_p3D = nullptr;
    }
    m_muteLevels.Term();
    if (m_bRegistered && m_pNode) {
        for (CAuPlaybackInstance** link = &m_pNode->InstanceListHead(); *link;
             link = &(*link)->m_pNextOfNode) {
            if (*link == this) {
                *link = m_pNextOfNode;
                break;
            }
        }
    }
    m_pNextOfNode = nullptr;
    m_bRegistered = false;
    if (m_pMedia && m_bMediaHeld) m_pMedia->ReleaseData();
    m_bMediaHeld = false;
    if (m_pOwner) m_pOwner->RemoveInstance(this);
    m_pOwner = nullptr;
    if (m_pNode) m_pNode->Release();
    m_pNode = nullptr;
    if (m_pMedia) m_pMedia->Destroy();
    m_pMedia = nullptr;
}

void CAuPlaybackInstance::Queue(AuVoiceCommand command) noexcept {
    if (g_pVoiceCommandQueue) g_pVoiceCommandQueue->QueueCommand(this, command);
}

void CAuPlaybackInstance::Fade(CAuTransition*& handle, u32 key, f32 from, f32 to, i32 ms,
                               AuCurveInterpolation curve) noexcept {
    if (handle) {
        g_pTransitionMgr->ChangeParameter(handle, key, to, ms, curve, 0);
        return;
    }
    AuTransitionParams params;
    params.pTarget = this;
    params.uTargetKey = key;
    params.fStartValue = from;
    params.fTargetValue = to;
    params.lDurationMs = ms;
    params.eCurve = curve;
    if (!g_pTransitionMgr) {
        TransUpdateValue(key, to, true);
        return;
    }
    // Without a record the manager has delivered the end value with its completion already.
    handle = g_pTransitionMgr->AddTransition(params, true);
}

void CAuPlaybackInstance::Play(const AuInstanceTransition& transition, bool paused, bool count) noexcept {
    if (transition.lTimeMs > 0) {
        if (!m_pPlayTrans) m_fPlayFade = 0.0f;
        ComputeFader();
        m_bFadingIn = true;
        Fade(m_pPlayTrans, AU_TRANSITION_KEY_FADE_PLAY, m_fPlayFade, 1.0f, transition.lTimeMs,
             transition.eCurve);
        FadeHook(14, transition.lTimeMs);
    }
    m_uFlags |= kFlagStarted;
    if (paused || (m_uPlayMode & 7) == kPlayModePaused) {
        m_uFlags |= kFlagPaused;
        Queue(AuVoiceCommand_StartPaused);
        PauseTransitions();
        if (m_pLinks) m_pLinks->Pause(*this);
    } else {
        Queue(AuVoiceCommand_Start);
    }
    if ((m_uPlayMode & 7) == kPlayModeStopAfterStart) OnStop(0, 0);
    if (count) ++s_uStartedCount;
}

void CAuPlaybackInstance::Stop(const AuInstanceTransition& transition, bool immediate) noexcept {
    if (m_uFlags & kFlagOnStopRan) return;
    if ((m_uFlags & kFlagPaused) || (m_pPauseTrans && m_pPauseTrans->IsFadeTransition())) {
        OnStop(0, 0);
        return;
    }
    m_uFlags |= kFlagStopping;
    if (transition.lTimeMs > 0) {
        Fade(m_pPlayTrans, AU_TRANSITION_KEY_FADE_STOP, m_fPlayFade, 0.0f, transition.lTimeMs,
             transition.eCurve);
        return;
    }
    if (!VoiceActive()) {
        OnStop(0, 1);
    } else if (m_pPlayTrans) {
        g_pTransitionMgr->ChangeParameter(m_pPlayTrans, AU_TRANSITION_KEY_FADE_STOP, 0.0f, 0,
                                          AuCurveInterpolation_Linear, 0);
    } else if (immediate) {
        if (!m_bMotion) {
            m_fPlayFade = 0.0f;
            m_fFader = 0.0f;
        }
        if (m_uStopReason == kNoStopReason) m_uStopReason = 0;
        OnStop(0, 0);
    }
}

void CAuPlaybackInstance::Pause(const AuInstanceTransition& transition) noexcept {
    ++m_uPauseCount;
    if (transition.lTimeMs > 0) {
        Fade(m_pPauseTrans, AU_TRANSITION_KEY_FADE_PAUSE, m_fPauseFade, 0.0f, transition.lTimeMs,
             transition.eCurve);
    } else if (!m_pPauseTrans) {
        // A running voice is held too: only silenced, its source would run on and the resume
        // would continue later than where the sound was paused.
        PauseNow(false);
    } else {
        g_pTransitionMgr->ChangeParameter(m_pPauseTrans, AU_TRANSITION_KEY_FADE_PAUSE, 0.0f, 0,
                                          AuCurveInterpolation_Linear, 0);
    }
}

void CAuPlaybackInstance::Resume(const AuInstanceTransition& transition, bool force) noexcept {
    if (!force && m_uPauseCount > 1) {
        --m_uPauseCount;
        return;
    }
    m_uPauseCount = 0;
    ResumeNow();
    if (transition.lTimeMs > 0) {
        Fade(m_pPauseTrans, AU_TRANSITION_KEY_FADE_RESUME, m_fPauseFade, 1.0f, transition.lTimeMs,
             transition.eCurve);
    } else if (!m_pPauseTrans) {
        m_fPauseFade = 1.0f;
        ComputeFader();
    } else {
        g_pTransitionMgr->ChangeParameter(m_pPauseTrans, AU_TRANSITION_KEY_FADE_RESUME, 1.0f, 0,
                                          AuCurveInterpolation_Linear, 0);
    }
}

void CAuPlaybackInstance::PauseNow(bool skipCommand) noexcept {
    if (m_uFlags & (kFlagPaused | kFlagStopped)) return;
    m_uFlags |= kFlagPaused;
    if (!m_bMotion) {
        m_fPauseFade = 0.0f;
        m_fFader = 0.0f;
    }
    if (!skipCommand) Queue(AuVoiceCommand_Pause);
    PauseTransitions();
    if (m_pLinks) m_pLinks->Pause(*this);
}

void CAuPlaybackInstance::ResumeNow() noexcept {
    if (!(m_uFlags & kFlagPaused) || (m_uFlags & kFlagStopped)) return;
    if (m_pLinks) m_pLinks->Resume(*this);
    m_uFlags &= ~kFlagPaused;
    Queue(AuVoiceCommand_Resume);
    ResumeTransitions();
}

void CAuPlaybackInstance::StopLooping() noexcept {
    m_uLoopCount = 1;
    Queue(AuVoiceCommand_StopLooping);
}

void CAuPlaybackInstance::SeekTime(u32 ms, bool snapToMarker) noexcept {
    // Output-rate samples: the source converts to the media's rate, once.
    m_fSeekPosition = f64(u64{g_OutputTiming.uSampleRate / 1000} * ms);
    m_bSeekPending = true;
    m_bSeekPercent = false;
    m_bSeekSnap = snapToMarker;
    Queue(AuVoiceCommand_Seek);
}

void CAuPlaybackInstance::SeekPercent(f32 fraction, bool snapToMarker) noexcept {
    // Stored as given: the source clamps before converting.
    m_fSeekPosition = fraction;
    m_bSeekPending = true;
    m_bSeekPercent = true;
    m_bSeekSnap = snapToMarker;
    Queue(AuVoiceCommand_Seek);
}

void CAuPlaybackInstance::OnStop(u32 reason, u32 /*flag*/) noexcept {
    if (m_uFlags & kFlagOnStopRan) return;
    m_uFlags |= kFlagOnStopRan;
    if (reason == 0 || reason == 2) {
        RemoveTransitions();
        if (m_pLinks) m_pLinks->EndPath(*this);
    }
    m_uFlags |= kFlagStopped;
}

void CAuPlaybackInstance::NotifyRemainingTime(u32) noexcept {}
void CAuPlaybackInstance::NotifyVoiceActivity(u8) noexcept {}
void CAuPlaybackInstance::Trigger() noexcept {}
void CAuPlaybackInstance::FadeHook(u32, i32) noexcept {}

void CAuPlaybackInstance::ReleaseModulators() noexcept {
    if (m_pLinks) m_pLinks->ReleaseModulators(*this);
}

u32 CAuPlaybackInstance::GetVirtualReturnMode() noexcept {
    return 0;
}

void CAuPlaybackInstance::RefreshParams() noexcept {
    m_fLastPanLR = 101.0f;
    ComputeFader();
}

i32 CAuPlaybackInstance::TakeFrameBudget() noexcept {
    const i32 budget = m_lFrameBudget;
    m_lFrameBudget = -1;
    return budget;
}

void CAuPlaybackInstance::SetVoiceActivity(u8 bit) noexcept {
    bit &= kVoiceActivityMask;
    if (!bit || (m_uPlayMode & bit) == bit) return;
    m_uPlayMode |= bit;
    NotifyVoiceActivity(bit);
}

void CAuPlaybackInstance::ForwardVoiceFlags(u32 value, u32 mask) noexcept {
    if (m_pVoice && (mask & ~0x10u)) m_pVoice->ForwardVoiceFlags(value, mask);
    if (mask & 0x10) m_bBypassAll = value & 0x10;
}

void CAuPlaybackInstance::RecordStopReason(u32 reason) noexcept {
    if (m_uFlags & kFlagStopByLimit) return;
    m_uFlags |= kFlagStopByLimit;
    m_uStopReason = reason;
}

void CAuPlaybackInstance::TryStopForLimit(u32 reason) noexcept {
    const u8 action = m_pNode ? m_pNode->GetBelowThresholdBehavior() : 0;
    if (action == 1) {
        StopForLimit(reason);
    } else if (action == 2) {
        if (!m_bForcedVirtual) m_bMadeVirtualThisFrame = true;
        m_bForcedVirtual = true;
    }
}

void CAuPlaybackInstance::StopForLimit(u32 reason) noexcept {
    RecordStopReason(reason);
    Stop({0, AuCurveInterpolation_Linear}, true);
}

void CAuPlaybackInstance::TransUpdateValue(u32 targetKey, f32 value, bool done) noexcept {
    switch (targetKey) {
    case AU_TRANSITION_KEY_FADE_PLAY:
    case AU_TRANSITION_KEY_FADE_STOP:
        m_fPlayFade = value;
        if (done) {
            m_pPlayTrans = nullptr;
            m_bFadingIn = false;
        }
        break;
    case AU_TRANSITION_KEY_FADE_PAUSE:
    case AU_TRANSITION_KEY_FADE_RESUME:
        m_fPauseFade = value;
        if (done) m_pPauseTrans = nullptr;
        break;
    default:
        return;
    }
    ComputeFader();
    if (done && targetKey == AU_TRANSITION_KEY_FADE_STOP) OnStop(0, 1);
    // The faded-out voice is held where it is, as a pause without time holds it.
    if (done && targetKey == AU_TRANSITION_KEY_FADE_PAUSE) PauseNow(false);
}

void CAuPlaybackInstance::PauseTransitions() noexcept {
    if (!g_pTransitionMgr) return;
    if (m_pPlayTrans) g_pTransitionMgr->Pause(m_pPlayTrans);
    if (m_pPauseTrans) g_pTransitionMgr->Pause(m_pPauseTrans);
}

void CAuPlaybackInstance::ResumeTransitions() noexcept {
    if (!g_pTransitionMgr) return;
    if (m_pPlayTrans) g_pTransitionMgr->Resume(m_pPlayTrans);
    if (m_pPauseTrans) g_pTransitionMgr->Resume(m_pPauseTrans);
}

void CAuPlaybackInstance::RemoveTransitions() noexcept {
    if (g_pTransitionMgr) {
        if (m_pPlayTrans) g_pTransitionMgr->RemoveTransitionUser(m_pPlayTrans, this);
        if (m_pPauseTrans) g_pTransitionMgr->RemoveTransitionUser(m_pPauseTrans, this);
    }
    m_pPlayTrans = m_pPauseTrans = nullptr;
}

void CAuPlaybackInstance::ComputeFader() noexcept {
    f32 fader = m_fPlayFade * m_fPauseFade;
    for (const MuteEntry& entry : m_muteLevels)
        fader *= entry.level;
    // NaN fails the comparison too and becomes silence.
    m_fFader = fader > 0.0f ? fader : 0.0f;
    m_fVolumeDb = m_fVolumeOffset + m_fOwnerVolumeOffset;
}

void CAuPlaybackInstance::SetOutputBusNode(IAuMixBusNode* node, IAuMixBusNode* volumeNode) noexcept {
    if (volumeNode == node) volumeNode = nullptr;
    for (IAuMixBusNode* held : {node, volumeNode})
        if (held) held->AddRef();
    for (IAuMixBusNode* held : {m_pOutputBus, m_pVolumeBus})
        if (held) held->Release();
    m_pOutputBus = node;
    m_pVolumeBus = volumeNode;
}

f32 CAuPlaybackInstance::GetOutputBusVolume() const noexcept {
    IAuMixBusNode* bus = m_pVolumeBus ? m_pVolumeBus : m_pOutputBus;
    return bus ? bus->OutputBusVolumeDb() : 0.0f;
}

void CAuPlaybackInstance::SetOwnerVolumeOffset(f32 dB) {
    m_fOwnerVolumeOffset = dB;
    ComputeFader();
}

void CAuPlaybackInstance::SetMuteLevel(const void* owner, f32 level, bool transition) noexcept {
    const u32 index = m_muteLevels.IndexOf([owner](const MuteEntry& entry) { return entry.owner == owner; });
    if (level == 1.0f) {
        m_muteLevels.EraseSwap(index);
    } else if (index < m_muteLevels.Count()) {
        m_muteLevels[index].level = level;
        m_muteLevels[index].flags = transition;
    } else {
        // Without memory the level is lost rather than the instance: it plays unmuted.
        m_muteLevels.AddLast({owner, transition, level});
    }
    ComputeFader();
}

void CAuPlaybackInstance::SetPriority(f32 priority) noexcept {
    if (priority == m_priority.fPriority) return;
    for (IAuInstanceLimiter* limiter : {m_pNodeLimiter, m_pBusLimiter, g_pGlobalVoiceLimiter})
        if (limiter) limiter->Resort(this, priority);
    m_priority.fPriority = priority;
}

void CAuPlaybackInstance::UpdatePriorityWithDistance(f32 distance) noexcept {
    if (m_priority.fDistanceOffset == 0.0f) return;
    f32 maxDistance = 0.0f;
    if (!m_pNode || !m_pNode->GetMaxDistance(maxDistance)) return;
    f32 priority = m_priority.fBase + m_priority.fDistanceOffset;
    if (maxDistance > 0.0f && maxDistance > distance)
        priority = m_priority.fBase + distance / maxDistance * m_priority.fDistanceOffset;
    SetPriority(Clamp100(priority));
}

void CAuPlaybackInstance::HandleParamNotification(const AuParamNotification& note) noexcept {
    if (note.pGameObj && m_pGameObj && note.pGameObj != m_pGameObj) return;
    if (!note.key.MatchesSubKey(m_noteKey)) return;
    const f32 delta = note.fDelta;
    switch (note.uParamID) {
    case 0:
    case 5:
        if (m_bMotion && note.bMotion) break;
        m_fVolumeOffset += delta;
        ComputeFader();
        break;
    case 2:
        m_fPitch += delta;
        break;
    case 3:
        m_fFilter1Parts[0] += delta;
        m_fFilter1 = m_fFilter1Parts[0] + m_fFilter1Parts[1];
        break;
    case 4:
        m_fFilter2Parts[0] += delta;
        m_fFilter2 = m_fFilter2Parts[0] + m_fFilter2Parts[1];
        break;
    case 8: {
        const f32 base = m_priority.fBase + delta;
        SetPriority(Clamp100(base - m_priority.fBase + m_priority.fPriority));
        m_priority.fBase = base;
        break;
    }
    case 19:
        m_fGameSendVolumeDb += delta;
        break;
    case 31:
        if (m_bMotion) m_fPitch += delta;
        break;
    case 35:
        m_fEnvelopeThreshold += delta;
        break;
    case 36:
        m_fSourceOffset += delta;
        break;
    case 56:
    case 57:
    case 58:
    case 59:
        m_fUserSendDb[note.uParamID - 56] += delta;
        break;
    case 60:
        m_fDryVolumeDb += delta;
        break;
    case 61:
        m_fOwnFilter2 += delta;
        break;
    case 62:
        m_fOwnFilter1 += delta;
        break;
    default:
        break;
    }
}

void CAuPlaybackInstance::SetPositioningProp(u32 propID, f32 value) noexcept {
    switch (propID) {
    case 10: {
        const u8 mode = u8(value) & 3;
        if (mode == 1 && !m_p3D) {
            void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(AuInstance3DPositioning));
            if (!memory) return;
            m_p3D = new (memory) AuInstance3DPositioning;
        }
        m_uPositioningMode = mode;
        break;
    }
    case 11:
        m_fCentrePct = value;
        break;
    case 20:
        m_fPanLR = value;
        break;
    case 21:
        m_fPanFR = value;
        break;
    case 37:
    case 38:
        if (m_p3D) {
            f32 maxDistance = 1.0f;
            if (!m_pNode || !m_pNode->GetMaxDistance(maxDistance)) maxDistance = 1.0f;
            m_p3D->fDistances[propID - 37] = value * maxDistance;
        }
        break;
    case 64:
        m_bPanner = value > 0.0f;
        break;
    case 65:
    case 66:
        if (m_p3D) {
            const u8 bit = u8(1u << (propID - 65));
            m_p3D->uFlags = value != 0.0f ? m_p3D->uFlags | bit : m_p3D->uFlags & ~bit;
        }
        break;
    case 67:
        if (m_p3D) m_p3D->attenuationID = AuUniqueID(value);
        break;
    case 68:
        if (m_p3D) m_p3D->pathID = AuUniqueID(value);
        break;
    default:
        break;
    }
}

void CAuPlaybackInstance::ApplyRTPCParam(u16 propertyID, const void* value, u32 size) noexcept {
    if (!m_p3D || size != sizeof(f32) || propertyID < 13 || propertyID > 15) return;
    f32 v;
    __builtin_memcpy(&v, value, sizeof v);
    m_p3D->fRTPCValues[propertyID - 13] = v;
}

void CAuPlaybackInstance::SetUserSend(u32 index, AuUniqueID busID, f32 volumeDb) {
    if (index >= 4) return;
    m_userSendBus[index] = busID;
    m_fUserSendDb[index] = volumeDb;
}

void CAuPlaybackInstance::SetStartValues(const AuInstanceStartValues& values) noexcept {
    m_fVolumeOffset = values.fVolumeDb;
    m_fPitch = values.fPitch;
    m_fFilter1Parts[0] = values.fFilter1[0];
    m_fFilter1Parts[1] = values.fFilter1[1];
    m_fFilter1 = m_fFilter1Parts[0] + m_fFilter1Parts[1];
    m_fFilter2Parts[0] = values.fFilter2[0];
    m_fFilter2Parts[1] = values.fFilter2[1];
    m_fFilter2 = m_fFilter2Parts[0] + m_fFilter2Parts[1];
    m_fEnvelopeThreshold = values.fEnvelopeThreshold;
    m_fSourceOffset = values.fSourceOffsetDb;
    m_fDryVolumeDb = values.fDryVolumeDb;
    m_fOwnFilter1 = values.fOwnFilter1;
    m_fOwnFilter2 = values.fOwnFilter2;
    m_fGameSendVolumeDb = values.fGameSendDb;
    m_bUseGameDefinedSends = values.bUseGameSends;
    for (u32 i = 0; i < 4; ++i)
        SetUserSend(i, values.userSendBus[i], values.fUserSendDb[i]);
    ComputeFader();
}

u32 CAuPlaybackInstance::GetAuxSends(AuAuxSend (&sends)[kMaxAuxSends]) noexcept {
    static const f32 kMinAudible = AuDbToLinear(AU_MIN_AUDIBLE_DB);
    u32 count = 0;
    if (m_bUseGameDefinedSends && m_pGameObj && g_pGameObjRefs) {
        AuUniqueID buses[4] = {};
        f32 levels[4] = {};
        const u32 n = g_pGameObjRefs->GetGameDefinedSends(m_pGameObj, buses, levels);
        const f32 scale = AuDbToLinear(m_fGameSendVolumeDb);
        for (u32 i = 0; i < n && i < 4 && buses[i] != 0; ++i) {
            const f32 level = m_bForcedVirtual ? 0.0f : levels[i] * scale;
            if (level > kMinAudible) sends[count++] = {buses[i], level};
        }
    }
    for (u32 i = 0; i < 4 && m_userSendBus[i] != 0; ++i) {
        if (!(m_fUserSendDb[i] > AU_MIN_AUDIBLE_DB) || m_bForcedVirtual) continue;
        sends[count++] = {m_userSendBus[i], AuDbToLinear(m_fUserSendDb[i])};
    }
    return count;
}
