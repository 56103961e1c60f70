#include "voices/AuVoiceOutput.h"

#include "core/AuRegistryMgr.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuSpeakerPan.h"

#include "parameters/AuFastMath.h"

#include <AU/MemoryMgr.h>

#include <cstring>
#include <new>

CAuVoiceOutput* CAuVoiceOutput::Create(CAuVoiceContext* voice, CAuOutputBus* bus, u32 deviceType,
                                       u32 deviceId, Kind kind, bool voiceAudible, bool levelBus) noexcept {
    void* block = AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, sizeof(CAuVoiceOutput), 16);
    if (!block) return nullptr;
    auto* output = new (block) CAuVoiceOutput();
    output->pVoice = voice;
    output->pBus = bus;
    output->uDeviceType = deviceType;
    output->uDeviceId = deviceId;
    output->eKind = kind;
    if (voiceAudible) output->uFlags |= kFlagBelowLast;
    if (levelBus) output->uFlags |= kFlagLevelBus;
    bus->RegisterInput();
    return output;
}

void CAuVoiceOutput::Destroy(CAuVoiceOutput* output) noexcept {
    if (output->pBus) output->pBus->UnregisterInput();
    output->FreeMatrices();
    output->~CAuVoiceOutput();
    AU::MemoryMgr::Falign(g_LEngineDefaultPoolId, output);
}

void CAuVoiceOutput::FreeMatrices() noexcept {
    if (pPrevMatrix) AU::MemoryMgr::Falign(g_LEngineDefaultPoolId, pPrevMatrix);
    if (pMatrix) AU::MemoryMgr::Falign(g_LEngineDefaultPoolId, pMatrix);
    pPrevMatrix = pMatrix = nullptr;
    m_bHasMatrices = false;
    m_uMatrixInputs = m_uMatrixOutputs = 0;
}

void CAuVoiceOutput::UpdateMatrices(AuChannelConfig input, f32 x, f32 y, f32 c, bool pan, f32 sourceLevel,
                                    bool first) noexcept {
    const AuChannelConfig output = pBus->Config();
    const u32 floats = input.NumChannels() * AuMatrixRowStride(output.NumChannels());
    bool rebuilt = false;
    if (m_bHasMatrices && m_uMatrixInputs == input.NumChannels() &&
        m_uMatrixOutputs == output.NumChannels()) {
        f32* swap = pPrevMatrix;
        pPrevMatrix = pMatrix;
        pMatrix = swap;
    } else {
        FreeMatrices();
        if (!floats) return;
        pPrevMatrix =
            static_cast<f32*>(AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, floats * sizeof(f32), 16));
        pMatrix = static_cast<f32*>(AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, floats * sizeof(f32), 16));
        if (!pPrevMatrix || !pMatrix) {
            // Without matrices the output contributes nothing this frame.
            FreeMatrices();
            return;
        }
        memset(pPrevMatrix, 0, floats * sizeof(f32));
        memset(pMatrix, 0, floats * sizeof(f32));
        m_bHasMatrices = true;
        m_uMatrixInputs = input.NumChannels();
        m_uMatrixOutputs = output.NumChannels();
        fPrevVolume = fVolume = 0.0f;
        rebuilt = true;
        ++m_uRebuilds;
    }
    fPrevVolume = fVolume;
    if (!(uFlags & kFlagBelow)) {
        CAuSpeakerPan::ComputeMixingMatrix(x, y, c, pan, input, output, pMatrix);
        for (u32 i = 0; i < floats; ++i)
            pMatrix[i] *= sourceLevel;
        fVolume = fGain;
    } else {
        memset(pMatrix, 0, floats * sizeof(f32));
        fVolume = 0.0f;
    }
    if (uFlags & kFlagBelowLast) {
        // Back from below the threshold: fade in from silence.
        memcpy(pPrevMatrix, pMatrix, floats * sizeof(f32));
        fPrevVolume = 0.0f;
    } else if (first || rebuilt) {
        // Nothing to ramp from: the old matrices were for another layout, or there were none.
        memcpy(pPrevMatrix, pMatrix, floats * sizeof(f32));
        fPrevVolume = fVolume;
    }
    uFlags = (uFlags & kFlagBelow) ? (uFlags | kFlagBelowLast) : (uFlags & ~kFlagBelowLast);
}

namespace {

f32 ClampUnit(f32 value) {
    return value < -1.0f ? -1.0f : value > 1.0f ? 1.0f : value;
}

u32 VoiceListeners(const CAuVoiceContext* voice) {
    const CAuPlaybackInstance* instance = voice ? voice->Instance() : nullptr;
    if (!instance) return 0;
    return instance->GameObj() ? instance->GameObj()->ActiveListeners() : 0xFFu;
}

} // namespace

u32 CAuVoiceOutput::DeviceListenerMask() const noexcept {
    const CAuOutputDevice* device = CAuLowerEngine::FindDevice(uDeviceType, uDeviceId);
    return device ? device->uListenerMask : 0;
}

bool CAuVoiceOutput::IsPositioned() const noexcept {
    const CAuPlaybackInstance* instance = pVoice ? pVoice->Instance() : nullptr;
    return instance && (instance->PositioningMode() != 0 || instance->PannerEnabled());
}

f32 CAuVoiceOutput::CentreFactor() const noexcept {
    const CAuPlaybackInstance* instance = pVoice ? pVoice->Instance() : nullptr;
    return instance ? instance->CentrePct() * 0.01f : 0.0f;
}

u8 CAuVoiceOutput::PositioningMode() const noexcept {
    const CAuPlaybackInstance* instance = pVoice ? pVoice->Instance() : nullptr;
    return instance ? instance->PositioningMode() : 0;
}

void CAuVoiceOutput::Get2DPanning(f32 (&pan)[3]) const noexcept {
    pan[0] = pan[1] = pan[2] = 0.0f;
    const CAuPlaybackInstance* instance = pVoice ? pVoice->Instance() : nullptr;
    if (!instance || !instance->PannerEnabled() || instance->PositioningMode() != 0) return;
    pan[0] = ClampUnit(instance->PanLR() * 0.01f);
    pan[1] = ClampUnit(instance->PanFR() * 0.01f);
}

u32 CAuVoiceOutput::NumRays() const noexcept {
    if (!pVoice || PositioningMode() != 1) return 0;
    const AuVoiceMixState& state = pVoice->MixState();
    return state.uNumRays && (state.ray.listenerMask & DeviceListenerMask()) ? 1 : 0;
}

AURESULT CAuVoiceOutput::GetRay(u32 index, AuVoiceRay& ray) const noexcept {
    if (!pVoice || index != 0) return AuResultFail;
    const AuVoiceMixState& state = pVoice->MixState();
    if (!state.uNumRays || !(state.ray.listenerMask & DeviceListenerMask())) return AuResultFail;
    ray = state.ray;
    return AuResultSuccess;
}

void CAuVoiceOutput::GetMatrices(f32* previous, f32* current) const noexcept {
    const u32 floats = m_uMatrixInputs * AuMatrixRowStride(m_uMatrixOutputs);
    if (m_bHasMatrices) {
        memcpy(previous, pPrevMatrix, floats * sizeof(f32));
        memcpy(current, pMatrix, floats * sizeof(f32));
        return;
    }
    const AuChannelConfig input =
        pVoice && pVoice->Instance() ? pVoice->Instance()->GetMediaFormat().config : AuChannelConfig();
    const u32 zeros = input.NumChannels() * AuMatrixRowStride(pBus ? pBus->Config().NumChannels() : 0);
    memset(previous, 0, zeros * sizeof(f32));
    memset(current, 0, zeros * sizeof(f32));
}

u32 CAuVoiceOutput::GameObjectID() const noexcept {
    const CAuPlaybackInstance* instance = pVoice ? pVoice->Instance() : nullptr;
    return instance && instance->GameObj() ? instance->GameObj()->ID() : 0;
}

u32 CAuVoiceOutput::ListenerMask() const noexcept {
    return VoiceListeners(pVoice) & DeviceListenerMask();
}

AuPlayingID CAuVoiceOutput::PlayingID() const noexcept {
    const CAuPlaybackInstance* instance = pVoice ? pVoice->Instance() : nullptr;
    return instance ? instance->Key().playingID : 0;
}

f32 CAuVoiceOutput::Priority() const noexcept {
    const CAuPlaybackInstance* instance = pVoice ? pVoice->Instance() : nullptr;
    return instance ? instance->Priority().fPriority : 0.0f;
}

u32 AuTakeAuxSends(const AuAuxSend* given, u32 count, AuAuxSend* list) noexcept {
    u32 n = 0;
    for (u32 i = 0; i < count && n < CAuPlaybackInstance::kMaxAuxSends; ++i) {
        if (given[i].busID == 0) break;
        list[n++] = given[i];
    }
    return n;
}

f32 AuLevelWindowGain(f32 loudestDb, const AuLevelWindow& window) noexcept {
    f32 top = window.fTop;
    if (loudestDb > top) top += window.fRatio * (loudestDb - top);
    const f32 level = top > window.fFloor ? top : window.fFloor;
    if (!(-level * 0.05f >= -37.0f)) return 0.0f;
    return AuDbToLinear(-level < 770.0f ? -level : 770.0f) * window.fVolume;
}
