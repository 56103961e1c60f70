#include "voices/AuMixer.h"

#include "core/AuOutputTiming.h"
#include "core/AuRegistryMgr.h"
#include "voices/AuInstanceMgr.h"
#include "voices/AuLowerEngine.h"

#include "parameters/AuFastMath.h"

#include <cmath>

namespace {

constexpr u32 kAllListeners = 0xFF;

f32 MinAudible() {
    static const f32 level = AuDbToLinear(AU_MIN_AUDIBLE_DB);
    return level;
}

f32 Finite(f32 value) {
    return std::isfinite(value) ? value : 0.0f;
}

// A volume that is not a number of decibels is silence.
f32 GainFromDb(f32 dB) {
    if (!(dB * 0.05f >= -37.0f) || !std::isfinite(dB)) return 0.0f;
    return AuDbToLinear(dB < 770.0f ? dB : 770.0f);
}

bool IsBelow(const CAuVoiceOutput& output) {
    return !(output.fGain * output.pBus->CumulativeVolume() > MinAudible());
}

} // namespace

AURESULT CAuMixer::InitVoiceCommands(u32 entries) {
    const AURESULT result = m_commands.Init(entries);
    m_commands.SetBusses(this);
    if (result == AuResultSuccess) AuBusOpsSeam::Install(&m_graph);
    return result;
}

void CAuMixer::UpdateLimiters() noexcept {
    if (m_pInstances) m_pInstances->UpdateLimiters();
}

void CAuMixer::ProcessInstanceEvents() noexcept {
    if (m_pInstances) m_pInstances->ProcessInstanceEvents();
}

void CAuMixer::ForEachPluginInstance(const CAuPluginSettings& settings, AuPluginInstanceVisit visit,
                                     void* context) noexcept {
    m_graph.ForEachPluginInstance(settings, visit, context);
    for (CAuVoiceContext* voice = m_commands.FirstVoice(); voice; voice = voice->NextVoice())
        for (u32 slot = 0; slot < AU_VOICE_EFFECT_SLOTS; ++slot)
            if (const CAuEffectNode* effect = voice->Effect(slot);
                effect && effect->Holder() && effect->Settings() == &settings)
                visit(*effect->Holder(), context);
}

void CAuMixer::TermVoices() {
    m_commands.Term();
    m_graph.DestroyAllBusses();
}

void CAuMixer::Term() {
    m_commands.Term();
    m_graph.Term();
    if (AuBusOpsSeam::Get() == &m_graph) AuBusOpsSeam::Install(nullptr);
}

u32 CAuMixer::ListenerMask(const CAuPlaybackInstance& instance) noexcept {
    return instance.GameObj() ? instance.GameObj()->ActiveListeners() : kAllListeners;
}

u32 CAuMixer::NumOutputs(CAuVoiceContext& voice) {
    u32 count = 0;
    for (CAuVoiceOutput* output = voice.MixState().pOutputs; output; output = output->pNext)
        ++count;
    return count;
}

CAuVoiceOutput* CAuMixer::Connect(CAuVoiceContext& voice, IAuMixBusNode* node, u32 deviceType, u32 deviceId,
                                  CAuVoiceOutput::Kind kind) noexcept {
    CAuOutputBus* bus = m_graph.GetOrCreateBus(node, deviceType, deviceId);
    if (!bus) return nullptr;
    AuVoiceMixState& state = voice.MixState();
    for (CAuVoiceOutput* output = state.pOutputs; output; output = output->pNext)
        if (output->pBus == bus && output->eKind == kind) return output;
    return voice.AddOutput(bus, deviceType, deviceId, kind);
}

AURESULT CAuMixer::ConnectVoice(CAuVoiceContext& voice, CAuPlaybackInstance& instance) noexcept {
    const u32 mask = ListenerMask(instance);
    for (CAuOutputDevice* device = CAuLowerEngine::Devices(); device; device = device->pNextItem) {
        if (!(device->uListenerMask & mask) || device->uDeviceType == AuAudioOutputType_Motion) continue;
        if (!Connect(voice, instance.OutputBusNode(), device->uDeviceType, device->uDeviceId,
                     CAuVoiceOutput::kDry))
            return AuResultFail;
    }
    return AuResultSuccess;
}

void CAuMixer::DisconnectVoice(CAuVoiceContext& voice) noexcept {
    while (CAuVoiceOutput* output = voice.MixState().pOutputs)
        voice.RemoveOutput(output);
}

void CAuMixer::UpdateVoiceOutputs(u32 deviceType, u32 deviceId, u32 listenerMask) {
    for (CAuVoiceContext* voice = m_commands.FirstVoice(); voice; voice = voice->NextVoice()) {
        CAuPlaybackInstance* instance = voice->Instance();
        if (!instance) continue;
        AuVoiceMixState& state = voice->MixState();
        if (!(ListenerMask(*instance) & listenerMask)) {
            for (CAuVoiceOutput* output = state.pOutputs; output;) {
                CAuVoiceOutput* next = output->pNext;
                if (output->uDeviceType == deviceType && output->uDeviceId == deviceId)
                    voice->RemoveOutput(output);
                output = next;
            }
            continue;
        }
        bool has = false;
        for (CAuVoiceOutput* output = state.pOutputs; output; output = output->pNext)
            has |= output->uDeviceType == deviceType && output->uDeviceId == deviceId;
        if (!has && deviceType != AuAudioOutputType_Motion)
            Connect(*voice, instance->OutputBusNode(), deviceType, deviceId, CAuVoiceOutput::kDry);
    }
}

void CAuMixer::UpdateActiveListeners(const CAuRegisteredObj* gameObj, u32 oldMask, u32 newMask) noexcept {
    for (CAuVoiceContext* voice = m_commands.FirstVoice(); voice; voice = voice->NextVoice()) {
        CAuPlaybackInstance* instance = voice->Instance();
        if (!instance || instance->GameObj() != gameObj) continue;
        for (CAuOutputDevice* device = CAuLowerEngine::Devices(); device; device = device->pNextItem) {
            const bool heard = device->uListenerMask & newMask;
            if ((device->uListenerMask & oldMask) && !heard) {
                for (CAuVoiceOutput* output = voice->MixState().pOutputs; output;) {
                    CAuVoiceOutput* next = output->pNext;
                    if (output->uDeviceType == device->uDeviceType && output->uDeviceId == device->uDeviceId)
                        voice->RemoveOutput(output);
                    output = next;
                }
            } else if (heard && !(device->uListenerMask & oldMask) &&
                       device->uDeviceType != AuAudioOutputType_Motion) {
                Connect(*voice, instance->OutputBusNode(), device->uDeviceType, device->uDeviceId,
                        CAuVoiceOutput::kDry);
            }
        }
    }
}

void CAuMixer::UpdateSendOutputs(CAuVoiceContext& voice) noexcept {
    AuVoiceMixState& state = voice.MixState();
    const u32 mask = state.ray.listenerMask;
    for (u32 i = 0; i < state.uNumSends; ++i) {
        f32 foldedDb = 0.0f;
        IAuMixBusNode* node = m_pfnLookup ? m_pfnLookup(state.sends[i].busID, foldedDb) : nullptr;
        if (!node) continue;
        // A send to a pass-through bus mixes into its mixing bus with the volume that bus skips.
        state.sends[i].busID = node->BusNodeID();
        state.sends[i].fLevel *= GainFromDb(foldedDb);
        if (!node->IsMotionBus()) {
            for (CAuOutputDevice* device = CAuLowerEngine::Devices(); device; device = device->pNextItem)
                if ((device->uListenerMask & mask) && device->uDeviceType != AuAudioOutputType_Motion)
                    Connect(voice, node, device->uDeviceType, device->uDeviceId, CAuVoiceOutput::kGameSend);
        }
        node->Release();
    }
}

void CAuMixer::ComputeVolumes(CAuVoiceContext& voice) noexcept {
    CAuPlaybackInstance* instance = voice.Instance();
    if (!instance) return;
    AuVoiceMixState& state = voice.MixState();
    IAuMixBusNode* node = instance->OutputBusNode();

    // Voice volume and the one ray of a sound that is not positioned.
    state.uNumRays = 0;
    if (!instance->ForcedVirtual()) {
        state.fVoiceVolume =
            Finite(instance->Fader() * GainFromDb(instance->GetOutputBusVolume() + instance->VolumeDb()));
        AuAuxSend given[CAuPlaybackInstance::kMaxAuxSends];
        const u32 count = instance->GetAuxSends(given);
        state.uNumSends = AuTakeAuxSends(given, count, state.sends);
        const f32 objectBus =
            state.uNumSends && instance->GameObj() ? instance->GameObj()->OutputBusVolume() : 1.0f;
        state.ray = AuVoiceRay{};
        state.ray.listenerMask = static_cast<u8>(ListenerMask(*instance));
        state.ray.fGains[0] = Finite(GainFromDb(instance->DryVolumeDb()) * objectBus);
        state.uNumRays = 1;
        if (state.uNumSends) UpdateSendOutputs(voice);
    } else {
        state.uNumSends = 0;
    }

    // Output gains.
    f32 loudest = 0.0f;
    state.bHeardByNone = state.pOutputs != nullptr;
    for (CAuVoiceOutput* output = state.pOutputs; output;) {
        CAuVoiceOutput* next = output->pNext;
        const CAuOutputDevice* device = CAuLowerEngine::FindDevice(output->uDeviceType, output->uDeviceId);
        const u32 deviceMask = device ? device->uListenerMask : 0;
        f32 value = 0.0f;
        if (state.uNumRays && (state.ray.listenerMask & deviceMask)) state.bHeardByNone = false;
        if (state.uNumRays && (state.ray.listenerMask & deviceMask)) {
            value = output->eKind == CAuVoiceOutput::kDry        ? state.ray.fGains[0]
                    : output->eKind == CAuVoiceOutput::kGameSend ? state.ray.fGains[1]
                                                                 : state.ray.fGains[2];
        }
        if (output->eKind != CAuVoiceOutput::kDry) {
            f32 sum = 0.0f;
            bool found = false;
            for (u32 i = 0; i < state.uNumSends; ++i)
                if (state.sends[i].busID == output->pBus->BusID()) {
                    sum += state.sends[i].fLevel;
                    found = true;
                }
            if (!found) {
                voice.RemoveOutput(output);
                output = next;
                continue;
            }
            value *= sum;
        }
        output->fGain = Finite(value * state.fVoiceVolume);
        output->uFlags = IsBelow(*output) ? (output->uFlags | CAuVoiceOutput::kFlagBelow)
                                          : (output->uFlags & ~CAuVoiceOutput::kFlagBelow);
        if ((output->uFlags & CAuVoiceOutput::kFlagLevelBus) && output->fGain > loudest)
            loudest = output->fGain;
        if (output->pBus->Flags() & CAuOutputBus::kFlagDynamicRange && output->fGain > 0.0f)
            output->pBus->ReportPeak(AuFastLinearToDb(output->fGain));
        output = next;
    }
    state.fLoudestDb = loudest > 0.0f ? AuFastLinearToDb(loudest) : -4096.0f;

    // The level window of the voice's bus.
    AuLevelWindow window;
    if (node && node->GetLevelWindow(window)) {
        node->ReportLevel(state.fLoudestDb);
        const f32 windowGain = AuLevelWindowGain(state.fLoudestDb, window);
        state.fVoiceVolume *= windowGain;
        for (CAuVoiceOutput* output = state.pOutputs; output; output = output->pNext) {
            output->fGain *= windowGain;
            output->uFlags = IsBelow(*output) ? (output->uFlags | CAuVoiceOutput::kFlagBelow)
                                              : (output->uFlags & ~CAuVoiceOutput::kFlagBelow);
        }
    }

    // Audibility: a voice fading to silence renders its last frame.
    bool allBelow = true;
    for (CAuVoiceOutput* output = state.pOutputs; output; output = output->pNext)
        allBelow &= (output->uFlags & CAuVoiceOutput::kFlagBelow) != 0;
    const bool first = !state.bComputed;
    const bool audible = first ? !allBelow : (!allBelow || !state.bAllBelowLast);
    if (first) {
        for (CAuVoiceOutput* output = state.pOutputs; output; output = output->pNext)
            output->uFlags = audible ? (output->uFlags & ~CAuVoiceOutput::kFlagBelowLast)
                                     : (output->uFlags | CAuVoiceOutput::kFlagBelowLast);
    }
    state.bAllBelowLast = allBelow;
    state.levels.bAllBelowThreshold = allBelow;
    state.levels.bAudible = audible;
    state.levels.uNumOutputs = 1;
    state.levels.pTargets = &state.fTargets;
    // A voice no listener hears still gets its matrices: the frame mixes it into its dry bus.
    if (!audible && !state.bHeardByNone) {
        state.bComputed = true;
        return;
    }

    // Matrices: the 2D panner, with the source's level.
    const f32 sourceLevel = Finite(GainFromDb(instance->SourceOffset()));
    const AuChannelConfig config =
        voice.Format().NumChannels() ? voice.Format() : instance->GetMediaFormat().config;
    for (f32& target : state.fTargets)
        target = 100.0f;
    if (config.NumChannels()) {
        const bool pan = instance->PannerEnabled() && instance->PositioningMode() == 0;
        const f32 x = std::fmin(std::fmax((instance->PanLR() + 100.0f) * 0.005f, 0.0f), 1.0f);
        const f32 y = std::fmin(std::fmax((instance->PanFR() + 100.0f) * 0.005f, 0.0f), 1.0f);
        const f32 c = instance->CentrePct() * 0.01f;
        for (CAuVoiceOutput* output = state.pOutputs; output; output = output->pNext) {
            output->UpdateMatrices(config, x, y, c, pan, sourceLevel, first);
            if (output->eKind == CAuVoiceOutput::kDry)
                for (u32 t = 0; t < 4; ++t)
                    state.fTargets[t] = std::fmin(state.fTargets[t], output->fTargets[t]);
        }
        state.bComputed = true;
    }
}

void CAuMixer::PreFrame() noexcept {
    m_graph.UpdateVolumes();
    for (CAuVoiceContext* voice = m_commands.FirstVoice(); voice; voice = voice->NextVoice())
        if (voice->State() == CAuVoiceContext::kPlaying) ComputeVolumes(*voice);
    m_graph.UpdateDynamicRanges();
}

void CAuMixer::RenderVoices(bool render) noexcept {
    m_commands.RenderVoices(render, g_uNumSamplesPerFrame);
}

void CAuMixer::MixVoice(CAuVoiceContext& voice, AuPipelineBuffer& buffer) noexcept {
    AuVoiceMixState& state = voice.MixState();
    if (state.bHeardByNone) {
        // Once, into its own dry bus, at the gains its listeners give it: the bus stays active.
        for (CAuVoiceOutput* output = state.pOutputs; output; output = output->pNext) {
            if (output->eKind != CAuVoiceOutput::kDry || !output->HasMatrices() ||
                output->MatrixInputs() != buffer.NumChannels())
                continue;
            output->pBus->Connect();
            output->pBus->MixBuffer(buffer, output->pPrevMatrix, output->pMatrix,
                                    {output->fPrevVolume, output->fVolume});
            return;
        }
        return;
    }
    if (!state.levels.bAudible) return;
    for (CAuVoiceOutput* output = state.pOutputs; output; output = output->pNext) {
        if (!output->HasMatrices() || output->MatrixInputs() != buffer.NumChannels()) continue;
        if (output->fPrevVolume == 0.0f && output->fVolume == 0.0f) continue;
        output->pBus->Connect();
        output->pBus->MixBuffer(buffer, output->pPrevMatrix, output->pMatrix,
                                {output->fPrevVolume, output->fVolume});
    }
}
