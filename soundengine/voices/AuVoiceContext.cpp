#include "voices/AuVoiceContext.h"

#include "core/AuOutputTiming.h"
#include "core/AuPlayingMgr.h"
#include "core/AuRegistryMgr.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuOutputDevice.h"
#include "voices/AuPlaybackInstance.h"
#include "voices/AuSourceBase.h"
#include "voices/AuSpeakerPan.h"
#include "voices/AuVoiceInfo.h"
#include "voices/AuVoiceOutput.h"

#include <AU/MemoryMgr.h>

#include <algorithm>
#include <cmath>
#include <new>

namespace {

f32 Clamp100(f32 value) {
    return value < 0.0f ? 0.0f : value > 100.0f ? 100.0f : value;
}

void MoveTarget(AuFilterTarget& target, f32 value) {
    value = Clamp100(value);
    if (value == target.fTarget) return;
    target.fStart += (target.fTarget - target.fStart) * static_cast<f32>(target.uSteps) * 0.125f;
    target.fTarget = value;
    target.uSteps = 0;
    target.bDirty = true;
}

i32 RoundHalfAway(f64 value) {
    return static_cast<i32>(std::lround(value));
}

// An out-of-place effect that asks for input this many times in one pull without handing on
// anything is broken: the voice fails rather than spinning.
constexpr u32 kMaxEffectPulls = 64;

} // namespace

void CAuVoiceFilterNode::SetTargets(f32 lowPass, f32 highPass) noexcept {
    MoveTarget(m_targets[0], lowPass);
    MoveTarget(m_targets[1], highPass);
}

void CAuVoiceFilterNode::Process(AuPipelineBuffer& buffer) noexcept {
    if (m_targets[0].bDirty) m_filters.SetLowPass(m_targets[0].fTarget);
    if (m_targets[1].bDirty) m_filters.SetHighPass(m_targets[1].fTarget);
    m_filters.Process(buffer);
    // The filters ramp a change over one call's eight sub-blocks.
    for (AuFilterTarget& target : m_targets) {
        target.bDirty = false;
        target.uSteps = AU_FILTER_RAMP_STEPS;
    }
}

CAuVoiceContext::~CAuVoiceContext() {
    ReleaseSources();
    if (m_pRays) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pRays);
}

u32 CAuVoiceContext::GetNumEmitterRays() const noexcept {
    return CAuVoiceInfo(m_pInstance).GetNumEmitterListenerPairs();
}

AURESULT CAuVoiceContext::GetEmitterRay(u32 index, u32 listenerMask,
                                        AuEmitterListenerPair& out) const noexcept {
    return CAuVoiceInfo(m_pInstance).GetEmitterRay(index, listenerMask, out);
}

u32 CAuVoiceContext::GetNumEmitterPositions() const noexcept {
    return CAuVoiceInfo(m_pInstance).GetNumPositions();
}

AURESULT CAuVoiceContext::GetEmitterPosition(u32 index, AuSoundPosition& out) const noexcept {
    return CAuVoiceInfo(m_pInstance).GetPosition(index, out);
}

f32 CAuVoiceContext::GetAttenuationScaling() const noexcept {
    return CAuVoiceInfo(m_pInstance).GetAttenuationScaling();
}

u8 CAuVoiceContext::GetListenerMask() const noexcept {
    return CAuVoiceInfo(m_pInstance).GetListenerMask();
}

const AuListenerData* CAuVoiceContext::GetListenerData(u32 index) const noexcept {
    return CAuVoiceInfo(m_pInstance).GetListenerData(index);
}

u32 CAuVoiceContext::GetPriority() const noexcept {
    return CAuVoiceInfo(m_pInstance).GetPriority();
}

u32 CAuVoiceContext::GetGameObjectID() const noexcept {
    return CAuVoiceInfo(m_pInstance).GetGameObjectID();
}

u32 CAuVoiceContext::GetPositioningType() const noexcept {
    return CAuVoiceInfo(m_pInstance).GetMultiPositionType();
}

u32 CAuVoiceContext::GetNodeID() const noexcept {
    return CAuVoiceInfo(m_pInstance).GetNodeID();
}

bool CAuVoiceContext::HasEffectOfSettings(u32 settingsID) const noexcept {
    for (const CAuEffectNode* effect : m_pEffects)
        if (effect && effect->Plugin() && effect->SettingsID() == settingsID) return true;
    return false;
}

bool CAuVoiceContext::HasEffectWithProperty(u32 propertyID) const noexcept {
    for (const CAuEffectNode* effect : m_pEffects) {
        const CAuPluginSettings* settings = effect ? effect->Settings() : nullptr;
        if (!settings || !effect->Plugin()) continue;
        for (u32 i = 0; i < settings->InitialValues().Count(); ++i)
            if (settings->InitialValues()[i].key == propertyID) return true;
    }
    return false;
}

void CAuVoiceContext::ForwardPitch(f32 rateFactor, bool interpolate) noexcept {
    m_pitch.SetRate(rateFactor, interpolate);
}

f32 CAuVoiceContext::GetSourceEnvelope() noexcept {
    return m_pSource ? m_pSource->GetAnalyzedEnvelope(m_pitch.HeldFrames()) : 0.0f;
}

bool CAuVoiceContext::GrowRays(u32 capacity) noexcept {
    while (m_uRayCapacity < capacity) {
        void* block =
            AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, (m_uRayCapacity + 1) * sizeof(AuVoiceRay));
        if (!block) return false;
        auto* rays = static_cast<AuVoiceRay*>(block);
        std::copy(m_pRays, m_pRays + m_uNumRays, rays);
        if (m_pRays) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pRays);
        m_pRays = rays;
        ++m_uRayCapacity;
    }
    return true;
}

AURESULT CAuVoiceContext::SetNumRays(u32 count) noexcept {
    if (!GrowRays(count)) return AuResultFail;
    for (u32 ray = m_uNumRays; ray < count; ++ray)
        new (&m_pRays[ray]) AuVoiceRay;
    m_uNumRays = count;
    return AuResultSuccess;
}

AURESULT CAuVoiceContext::AttachSource(CAuSourceBase* source, bool asCurrent, bool firstAttachment) noexcept {
    // Room for the one ray every voice has; more come with the listeners.
    if (asCurrent && firstAttachment && !GrowRays(1)) {
        AuDestroySource(source);
        return AuResultFail;
    }
    CAuPlaybackInstance* instance = source->Instance();
    if (asCurrent) m_pInstance = instance;
    instance->AttachVoice(this);
    if (asCurrent && firstAttachment) {
        m_uVirtualMode = instance->VirtualMode();
        m_uBelowAction = instance->BelowThresholdAction();
        if (m_uBelowAction != 0 && instance->IsVirtual()) {
            if (m_uBelowAction == 1) {
                AuDestroySource(source);
                return AuResultTypeNotHandled;
            }
            if (m_uBelowAction == 2 && m_uVirtualMode == 0) {
                // It comes back from the beginning anyway: the source starts when it does.
                m_pSource = source;
                if (m_uFlags & kFlagAudible) instance->SetVirtual(true);
                m_uFlags &= ~kFlagAudible;
                return AuResultSuccess;
            }
        }
    }
    const AURESULT result = source->StartOnce();
    if (result != AuResultSuccess && result != AuResultStillBuffering) {
        source->StopStream();
        AuDestroySource(source);
        return result;
    }
    (asCurrent ? m_pSource : m_pPendingSource) = source;
    return result;
}

u32 CAuVoiceContext::RiseFrames() noexcept {
    return g_OutputTiming.uSampleRate * AU_VOICE_EDGE_RISE_MS / 1000;
}

void CAuVoiceContext::Start() noexcept {
    if (m_eState == kStopped) return;
    if (m_eState != kCreated) {
        Stop();
        return;
    }
    m_eState = kPlaying;
    m_edge.Silence();
    m_edge.Rise(RiseFrames());
    if (!m_pSource || !(m_uFlags & kFlagAudible)) return;
    if (m_pSource->StartOnce() == AuResultSuccess)
        m_pSource->NotifyDuration();
    else
        Stop();
}

void CAuVoiceContext::Stop() noexcept {
    if (m_pSource && !m_bSourceStopped) {
        m_bSourceStopped = true;
        m_pSource->Stop(0);
    }
    m_eState = kStopped;
}

void CAuVoiceContext::Pause() noexcept {
    if (m_eState != kPlaying) {
        Stop();
        return;
    }
    if (m_pSource) m_pSource->OnPaused();
    m_eState = kPaused;
    if (m_bChainBuilt && m_bReady && m_edge.Gain() > 0.0f) {
        m_edge.Fall(FramesPerBuffer());
        m_bFallPending = true;
    } else {
        m_edge.Silence();
    }
}

void CAuVoiceContext::Resume() noexcept {
    if (m_eState == kPlaying) return;
    if (m_eState != kPaused) {
        Stop();
        return;
    }
    if (m_pSource) m_pSource->OnResumed(m_pitch.GetSpeed());
    m_eState = kPlaying;
    // A pause not heard yet is taken back where its fall stands.
    m_bFallPending = false;
    m_edge.Rise(RiseFrames());
}

bool CAuVoiceContext::TakeFall(bool stopped) noexcept {
    const bool pending = m_bFallPending;
    m_bFallPending = false;
    if (!m_bChainBuilt || !m_bReady || !(m_uFlags & kFlagAudible) || m_edge.Gain() == 0.0f) return false;
    if (m_pInstance && m_pInstance->IsCut()) return false;
    if (pending) return true;
    if (!stopped || m_eState != kPlaying) return false;
    m_edge.Fall(FramesPerBuffer());
    return true;
}

void CAuVoiceContext::StopLooping(CAuPlaybackInstance* instance) noexcept {
    if (m_pSource && m_pSource->Instance() == instance && m_eState != kCreated)
        m_pSource->StopLooping();
    else if (!m_pPendingSource || m_pPendingSource->Instance() != instance)
        Stop();
    if (m_pPendingSource && m_pPendingSource->Instance() == instance) {
        m_pPendingSource->StopStream();
        AuDestroySource(m_pPendingSource);
        m_pPendingSource = nullptr;
    }
}

void CAuVoiceContext::ApplySeek() noexcept {
    if (m_uVirtualMode == 0 && m_uBelowAction == 2) {
        m_pInstance->ClearSeek();
        return;
    }
    if (!m_bChainBuilt) return; // the source seeks as it starts
    m_stage1.ReleaseBuffer();
    if (m_stage1.SeekIfPending() != AuResultSuccess) Stop();
}

void CAuVoiceContext::DisconnectChain() noexcept {
    m_final.Disconnect();
    m_stage1.Disconnect();
    for (u32 slot = 0; slot < AU_VOICE_EFFECT_SLOTS; ++slot)
        DestroyEffect(slot);
    m_modulator.Disconnect();
    m_pitch.Term();
    m_stage1.Term();
    m_final.Term();
    m_bChainBuilt = false;
}

void CAuVoiceContext::ReleaseSources() noexcept {
    DisconnectChain();
    if (m_pSource) {
        if (!m_bSourceStopped) m_pSource->Stop(0);
        AuDestroySource(m_pSource);
        m_pSource = nullptr;
    }
    m_bSourceStopped = false;
    if (m_pPendingSource) {
        m_pPendingSource->StopStream();
        AuDestroySource(m_pPendingSource);
        m_pPendingSource = nullptr;
    }
    m_uFlags |= kFlagAudible;
}

void CAuVoiceContext::ReportStarvation() noexcept {
    m_uFlags |= kFlagResyncPending;
    if (m_bStarving) return;
    m_bStarving = true;
    if (g_pPlayingMgr) g_pPlayingMgr->NotifyStarvation(m_pInstance->Key().playingID);
}

AURESULT CAuVoiceContext::CheckSourceReady() noexcept {
    if (!m_pSource) return AuResultFail;
    const AURESULT polled = m_pSource->StartOnce();
    const i32 delay = m_pInstance->StartDelay();
    if (polled == AuResultStillBuffering) {
        if (delay < 0) ReportStarvation();
        return AuResultStillBuffering;
    }
    if (polled != AuResultSuccess) return AuResultFail;
    m_bStarving = false;
    const u32 frames = m_pInstance->IsMotion() ? AU_MOTION_VOICE_FRAMES : g_uNumSamplesPerFrame;
    const u32 buffers = CAuLowerEngine::PlatformSettings().outputRefillBuffers;
    const i32 lookAhead = RoundHalfAway(f64(buffers + 1) * frames * m_pInstance->RateFactor());
    if (delay >= lookAhead) return AuResultStillBuffering;
    if (delay < 0) ReportStarvation();
    return AuResultSuccess;
}

void CAuVoiceContext::ApplyFrameBudget(AuVoiceFrame& frame) noexcept {
    const i32 budget = m_pInstance->TakeFrameBudget();
    if (budget != -1) {
        if (static_cast<u32>(budget) < frame.uFrames) frame.uFrames = static_cast<u32>(budget);
        frame.bBudgeted = true;
    }
    if (m_pPendingSource) {
        const AURESULT ready = m_pPendingSource->StartOnce();
        if (ready != AuResultSuccess && ready != AuResultStillBuffering) frame.eState = AuResultFail;
    }
}

void CAuVoiceContext::ApplyFilterTargets(const f32 (*targets)[4], u32 count) noexcept {
    if (count == 0) return;
    f32 lowest[4] = {targets[0][0], targets[0][1], targets[0][2], targets[0][3]};
    for (u32 o = 1; o < count; ++o)
        for (u32 t = 0; t < 4; ++t)
            lowest[t] = targets[o][t] < lowest[t] ? targets[o][t] : lowest[t];
    m_stage1.SetTargets(lowest[0], lowest[2]);
    const f32 ownLowPass = m_pInstance->OwnFilter1();
    const f32 ownHighPass = m_pInstance->OwnFilter2();
    m_final.SetTargets(lowest[1] > ownLowPass ? lowest[1] : ownLowPass,
                       lowest[3] > ownHighPass ? lowest[3] : ownHighPass);
}

bool CAuVoiceContext::VoiceUpdate(AuVoiceFrame& frame, const AuVoiceLevels& levels) noexcept {
    if (frame.bBudgeted && frame.uFrames == 0) return false;
    frame.config = m_config;
    const u32 frames = static_cast<u32>(RoundHalfAway(f64(frame.uFrames) * m_pInstance->RateFactor()));
    const bool wasAudible = m_uFlags & kFlagAudible;
    bool render = m_eState == kPlaying;
    if (!levels.bAudible) {
        if (m_uBelowAction == 2) {
            render = false;
            if (wasAudible && m_bChainBuilt) {
                m_stage1.VirtualOn(m_uVirtualMode);
                if (m_uVirtualMode != 2) m_stage1.ReleaseBuffer();
            }
            const i32 delay = m_pInstance->StartDelay();
            if (m_uVirtualMode == 1 && m_bChainBuilt && delay < static_cast<i32>(frames)) {
                u32 skipped = frames;
                frame.eState = m_stage1.TimeSkip(skipped);
            }
        } else if (m_uBelowAction == 1) {
            Stop();
            render = false;
        }
    } else {
        if (!levels.bAllBelowThreshold) ApplyFilterTargets(levels.pTargets, levels.uNumOutputs);
        if (!wasAudible && m_uBelowAction == 2 && m_eState == kPlaying) {
            if (!m_pSource || !m_pSource->Instance()) {
                Stop();
                render = false;
            } else {
                const AURESULT ready = m_pSource->StartOnce();
                if (ready == AuResultStillBuffering) {
                    render = false;
                    return false;
                }
                const u32 restart = ready == AuResultSuccess ? m_pInstance->GetVirtualReturnMode() : 2;
                if (restart == 2 ||
                    (m_bChainBuilt && m_stage1.VirtualOff(m_uVirtualMode, restart == 1) != AuResultSuccess)) {
                    Stop();
                    render = false;
                }
            }
        }
    }
    if (m_uFlags & kFlagResyncPending) {
        const u32 answer = m_pInstance->GetVirtualReturnMode();
        if (answer == 1) ApplySeek();
        if (answer == 2) {
            Stop();
            render = false;
        }
        m_uFlags &= ~kFlagResyncPending;
    }
    const i32 delay = m_pInstance->StartDelay();
    // Where the voice starts inside its first rendered frame, as the pitch node counts it.
    i32 startOffset = 0;
    if (render && m_eState == kPlaying && static_cast<i32>(frames) > delay) {
        if (delay >= 0) {
            startOffset = delay - static_cast<i32>(frames);
            m_pInstance->SetStartDelay(startOffset);
        }
    } else {
        // A start further away than this frame counts down, or the voice would wait for ever.
        if (render && m_eState == kPlaying) m_pInstance->SetStartDelay(delay - static_cast<i32>(frames));
        render = false;
    }
    if (levels.bAudible != wasAudible) m_pInstance->SetVirtual(!levels.bAudible);
    m_uFlags = levels.bAudible ? (m_uFlags | kFlagAudible) : (m_uFlags & ~kFlagAudible);
    if (render && !m_bChainBuilt) {
        if (BuildChain(startOffset) != AuResultSuccess) {
            Stop();
            return false;
        }
        m_pInstance->RefreshParams();
        frame.config = m_config;
    }
    m_uFlags |= kFlagVolumesComputed;
    return render;
}

AURESULT CAuVoiceContext::BuildChain(i32 startOffset) noexcept {
    if (!m_pSource) return AuResultFail;
    const CAuPlaybackInstance::MediaFormat& media = m_pInstance->GetMediaFormat();
    AuResamplerFormat format;
    format.uSampleRate = media.uSampleRate;
    format.config = media.config;
    format.uBitsPerSample = media.uBits & 63;
    AuPitchNodeParams params;
    params.uOutputRate = g_OutputTiming.uSampleRate;
    params.uFramesPerBuffer = m_pInstance->IsMotion() ? AU_MOTION_VOICE_FRAMES : g_uNumSamplesPerFrame;
    params.fRateFactor = m_pInstance->RateFactor();
    params.lFrameOffset = startOffset;
    if (m_pitch.Init(m_pSource, m_pInstance, format, params, this) != AuResultSuccess) return AuResultFail;
    m_modulator.Init(m_pInstance);
    AuPluginFormat running;
    running.uSampleRate = g_OutputTiming.uSampleRate;
    running.channelConfig = media.config;
    for (u32 slot = 0; slot < AU_VOICE_EFFECT_SLOTS; ++slot) {
        if (CreateEffect(slot, running, m_pEffects[slot]) != AuResultSuccess) {
            DisconnectChain();
            return AuResultFail;
        }
    }
    m_config = running.channelConfig;
    if (m_stage1.Init(m_config) != AuResultSuccess || m_final.Init(m_config) != AuResultSuccess) {
        DisconnectChain();
        return AuResultFail;
    }
    m_final.Connect(&m_stage1);
    CAuPipelineNode* previous = &m_modulator;
    for (CAuEffectNode* effect : m_pEffects) {
        if (!effect) continue;
        effect->Connect(previous);
        previous = effect;
    }
    m_stage1.Connect(previous);
    m_modulator.Connect(&m_pitchStage);
    m_bChainBuilt = true;
    // The rise starts with the voice, not with the silence before it in its first buffer.
    m_edge.Hold(m_pitch.StartLead());
    return AuResultSuccess;
}

u16 CAuVoiceContext::FramesPerBuffer() const noexcept {
    return m_pInstance->IsMotion() ? AU_MOTION_VOICE_FRAMES : g_uNumSamplesPerFrame;
}

AURESULT CAuVoiceContext::CreateEffect(u32 slot, AuPluginFormat& format, CAuEffectNode*& node) noexcept {
    node = nullptr;
    AuEffectRecord record;
    m_pInstance->GetEffectRecord(slot, record);
    if (!record.pSettings) return AuResultSuccess;
    AU::IAuPluginMemAlloc* allocator = &CAuLowerEngine::PluginAllocator();
    AURESULT result = AuResultSuccess;
    AU::IAuPlugin* plugin = nullptr;
    if (CAuLowerEngine::CreatePlugin(allocator, record.pSettings->PluginID(), plugin) == AuResultSuccess) {
        AuPluginInfo info;
        plugin->GetPluginInfo(info);
        constexpr size_t kBytes = std::max(sizeof(CAuInPlaceEffectNode), sizeof(CAuOutOfPlaceEffectNode));
        void* block = info.bRefused ? nullptr : AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, kBytes, 16);
        if (!block) {
            plugin->Term(allocator);
            if (!info.bRefused) result = AuResultFail;
        } else {
            CAuEffectNode* made = info.bIsInPlace
                                      ? static_cast<CAuEffectNode*>(new (block) CAuInPlaceEffectNode)
                                      : new (block) CAuOutOfPlaceEffectNode;
            const AuPluginFormat input = format;
            if (made->Init(plugin, record, slot, m_pInstance, FramesPerBuffer(), format) == AuResultSuccess) {
                made->SetBypass(record.bBypass);
                node = made;
            } else {
                format = input;
                made->~CAuEffectNode();
                AU::MemoryMgr::Falign(g_LEngineDefaultPoolId, made);
            }
        }
    }
    record.pSettings->Release();
    return result;
}

void CAuVoiceContext::DestroyEffect(u32 slot) noexcept {
    CAuEffectNode* node = m_pEffects[slot];
    if (!node) return;
    m_pEffects[slot] = nullptr;
    node->~CAuEffectNode();
    AU::MemoryMgr::Falign(g_LEngineDefaultPoolId, node);
}

void CAuVoiceContext::UpdateEffect(u32 slot) noexcept {
    // Before the chain is built its set-up reads every record anyway.
    if (slot >= AU_VOICE_EFFECT_SLOTS || !m_bChainBuilt) return;
    CAuPipelineNode* previous = &m_modulator;
    AuPluginFormat running;
    running.uSampleRate = g_OutputTiming.uSampleRate;
    running.channelConfig = m_pInstance->GetMediaFormat().config;
    for (u32 before = 0; before < slot; ++before) {
        if (!m_pEffects[before]) continue;
        previous = m_pEffects[before];
        running.channelConfig = m_pEffects[before]->OutputConfig();
    }
    const AuChannelConfig input = running.channelConfig;
    const AuChannelConfig was = m_pEffects[slot] ? m_pEffects[slot]->OutputConfig() : input;
    DestroyEffect(slot);
    // Without memory for the node the voice stops, its chain still whole.
    if (CreateEffect(slot, running, m_pEffects[slot]) != AuResultSuccess) Stop();
    if (m_pEffects[slot]) m_pEffects[slot]->Connect(previous);
    const AuChannelConfig now = m_pEffects[slot] ? running.channelConfig : input;
    u32 later = slot + 1;
    while (later < AU_VOICE_EFFECT_SLOTS && !m_pEffects[later])
        ++later;
    if (now != was) {
        if (later < AU_VOICE_EFFECT_SLOTS) {
            UpdateEffect(later);
        } else {
            m_stage1.Term();
            m_final.Term();
            m_config = now;
            if (m_stage1.Init(now) != AuResultSuccess || m_final.Init(now) != AuResultSuccess) Stop();
            m_uFlags |= kFlagOutputsChanged;
        }
    }
    // The later slot may have been rebuilt above: its node is looked up again.
    CAuPipelineNode* feed = m_pEffects[slot] ? static_cast<CAuPipelineNode*>(m_pEffects[slot]) : previous;
    CAuPipelineNode* next = later < AU_VOICE_EFFECT_SLOTS && m_pEffects[later] ? m_pEffects[later] : nullptr;
    if (!next) next = &m_stage1;
    next->Connect(feed);
}

void CAuVoiceContext::FollowInstance(CAuPlaybackInstance* instance) noexcept {
    m_modulator.Init(instance);
    for (CAuEffectNode* effect : m_pEffects)
        if (effect) effect->SetInstance(instance);
}

void CAuVoiceContext::SetEffectBypass(u32 bits, u32 mask) noexcept {
    for (u32 slot = 0; slot < AU_VOICE_EFFECT_SLOTS; ++slot)
        if ((mask >> slot) & 1 && m_pEffects[slot]) m_pEffects[slot]->SetBypass((bits >> slot) & 1);
}

void CAuVoiceContext::RefreshEffectBypass(u32 slot) noexcept {
    if (slot >= AU_VOICE_EFFECT_SLOTS || !m_pEffects[slot]) return;
    AuEffectRecord record;
    m_pInstance->GetEffectRecord(slot, record);
    m_pEffects[slot]->SetBypass(record.bBypass);
    if (record.pSettings) record.pSettings->Release();
}

void CAuVoiceContext::RefreshAllEffectBypass() noexcept {
    for (u32 slot = 0; slot < AU_VOICE_EFFECT_SLOTS; ++slot)
        RefreshEffectBypass(slot);
}

AURESULT CAuVoiceContext::Pull(AuPipelineBuffer& out, u16 framesPerPull) noexcept {
    if (!m_bChainBuilt) return AuResultFail;
    const AURESULT state = PullThrough(AU_VOICE_EFFECT_SLOTS, out, framesPerPull);
    if (state != AuResultDataReady && state != AuResultNoMoreData) return state;
    m_stage1.Process(out);
    m_final.Process(out);
    m_edge.Apply(out);
    return state;
}

AURESULT CAuVoiceContext::PullThrough(u32 end, AuPipelineBuffer& out, u16 framesPerPull) noexcept {
    u32 slot = end;
    while (slot > 0 && !m_pEffects[slot - 1])
        --slot;
    if (slot == 0) return PullHead(out, framesPerPull);
    CAuEffectNode& node = *m_pEffects[slot - 1];
    for (u32 pull = 0; pull < kMaxEffectPulls; ++pull) {
        if (node.NeedsInput()) {
            const AURESULT state = PullThrough(slot - 1, out, framesPerPull);
            if (state != AuResultDataReady && state != AuResultNoMoreData) return state;
            node.ProcessBuffer(out);
        } else {
            node.Flush(out, framesPerPull);
        }
        if (out.eState != AuResultDataNeeded) return out.eState;
    }
    return AuResultFail;
}

AURESULT CAuVoiceContext::PullHead(AuPipelineBuffer& out, u16 framesPerPull) noexcept {
    AURESULT state = m_pitch.GetBuffer(out);
    while (state == AuResultDataNeeded) {
        AuPipelineBuffer in;
        in.uMaxFrames = framesPerPull;
        m_pitch.Source()->GetBuffer(in);
        if (in.eState == AuResultNoDataReady) {
            ReportStarvation();
            return AuResultNoDataReady;
        }
        if (in.eState != AuResultDataReady && in.eState != AuResultNoMoreData) return in.eState;
        state = m_pitch.Execute(in, out);
    }
    if (state != AuResultDataReady && state != AuResultNoMoreData) return state;
    m_bStarving = false;
    m_modulator.Execute(out);
    return state;
}

void CAuVoiceContext::TakePendingSource() noexcept {
    if (m_pSource) {
        if (!m_bSourceStopped) m_pSource->Stop(0);
        AuDestroySource(m_pSource);
    }
    m_bSourceStopped = false;
    m_pSource = m_pPendingSource;
    m_pPendingSource = nullptr;
    if (!m_pSource) return;
    m_pInstance = m_pSource->Instance();
    FollowInstance(m_pInstance);
}

AURESULT CAuVoiceContext::SwitchToPendingSource() noexcept {
    TakePendingSource();
    if (!m_pSource) return AuResultFail;
    return m_pSource->StartOnce();
}

AURESULT CAuVoiceContext::StartNextSource(CAuSourceBase*& source, AuResamplerFormat& format) noexcept {
    if (!m_pPendingSource) return AuResultNoMoreData;
    const AURESULT ready = m_pPendingSource->StartOnce();
    if (ready != AuResultSuccess) return ready;
    const CAuPlaybackInstance::MediaFormat& media = m_pPendingSource->Instance()->GetMediaFormat();
    format.uSampleRate = media.uSampleRate;
    format.config = media.config;
    format.uBitsPerSample = media.uBits & 63;
    // The pitch node plays it on; the finished source goes.
    TakePendingSource();
    source = m_pSource;
    return AuResultSuccess;
}

void CAuVoiceContext::ForwardVoiceFlags(u32 value, u32 mask) noexcept {
    SetEffectBypass(value, mask & ((1u << AU_VOICE_EFFECT_SLOTS) - 1));
}

CAuVoiceOutput* CAuVoiceContext::AddOutput(CAuOutputBus* bus, u32 deviceType, u32 deviceId,
                                           u32 kind) noexcept {
    AuLevelWindow window;
    const bool levelBus = kind == CAuVoiceOutput::kDry && deviceType == AuAudioOutputType_Main &&
                          deviceId == 0 && m_pInstance && m_pInstance->OutputBusNode() &&
                          m_pInstance->OutputBusNode()->GetLevelWindow(window);
    CAuVoiceOutput* output =
        CAuVoiceOutput::Create(this, bus, deviceType, deviceId, CAuVoiceOutput::Kind(kind),
                               m_mix.bComputed && m_mix.levels.bAudible, levelBus);
    if (!output) return nullptr;
    // The device learns the bus's layout so that its pan tables exist before the voice pans into
    // it; a device that cannot take it gets no output.
    const AuChannelConfig layout = bus->Config();
    if (layout.IsStandard()) {
        CAuOutputDevice* device = CAuLowerEngine::FindDevice(deviceType, deviceId);
        if (!device || CAuSpeakerPan::PreparePanTables(*device, layout) != AuResultSuccess) {
            CAuVoiceOutput::Destroy(output);
            return nullptr;
        }
    }
    output->pNext = m_mix.pOutputs;
    m_mix.pOutputs = output;
    m_uFlags |= kFlagOutputsChanged;
    return output;
}

void CAuVoiceContext::RemoveOutput(CAuVoiceOutput* output) noexcept {
    CAuVoiceOutput** link = &m_mix.pOutputs;
    while (*link && *link != output)
        link = &(*link)->pNext;
    if (*link) *link = output->pNext;
    CAuVoiceOutput::Destroy(output);
    m_uFlags |= kFlagOutputsChanged;
}
