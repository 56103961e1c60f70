#include "voices/AuVoiceInfo.h"

#include "core/AuListener.h"
#include "core/AuRegistryMgr.h"
#include "voices/AuPlaybackInstance.h"

#include <cmath>

u32 CAuVoiceInfo::GetGameObjectID() const noexcept {
    const CAuRegisteredObj* object = m_pInstance->Key().pGameObj;
    return object ? object->ID() : 0xFFFFFFFFu;
}

u32 CAuVoiceInfo::GetNumEmitterListenerPairs() const noexcept {
    const CAuRegisteredObj* object = m_pInstance->Key().pGameObj;
    return object ? object->NumPairs() : 0;
}

AURESULT CAuVoiceInfo::GetEmitterRay(u32 index, u32 listenerMask, AuEmitterListenerPair& out) const noexcept {
    const CAuRegisteredObj* object = m_pInstance->Key().pGameObj;
    for (u32 pair = 0; object && pair < object->NumPairs(); ++pair) {
        if (!(object->Pairs()[pair].listenerBit & listenerMask)) continue;
        if (index-- == 0) {
            out = object->Pairs()[pair];
            return AuResultSuccess;
        }
    }
    return AuResultFail;
}

u32 CAuVoiceInfo::GetNumPositions() const noexcept {
    const CAuRegisteredObj* object = m_pInstance->Key().pGameObj;
    return object && object->MultiPositionType() != 0 ? object->Positions().uCount : 1;
}

AURESULT CAuVoiceInfo::GetPosition(u32 index, AuSoundPosition& out) const noexcept {
    if (index >= GetNumPositions()) return AuResultFail;
    const CAuRegisteredObj* object = m_pInstance->Key().pGameObj;
    const AuPositionArray* positions = object ? &object->Positions() : nullptr;
    out = positions && index < positions->uCount ? positions->pPositions[index] : AU_DEFAULT_SOUND_POSITION;
    return AuResultSuccess;
}

u32 CAuVoiceInfo::GetMultiPositionType() const noexcept {
    const CAuRegisteredObj* object = m_pInstance->Key().pGameObj;
    return object ? object->MultiPositionType() : 0;
}

f32 CAuVoiceInfo::GetAttenuationScaling() const noexcept {
    const CAuRegisteredObj* object = m_pInstance->Key().pGameObj;
    return object ? object->ScalingFactor() : 1.0f;
}

u8 CAuVoiceInfo::GetListenerMask() const noexcept {
    const CAuRegisteredObj* object = m_pInstance->Key().pGameObj;
    return object ? object->ActiveListeners() : 0;
}

const AuListenerData* CAuVoiceInfo::GetListenerData(u32 index) const noexcept {
    const u32 mask = GetListenerMask();
    for (u32 listener = 0; listener < AU_NUM_LISTENERS; ++listener)
        if ((mask >> listener) & 1 && index-- == 0) return &CAuListener::Data(listener);
    return nullptr;
}

AuPlayingID CAuVoiceInfo::GetPlayingID() const noexcept {
    return m_pInstance->Key().playingID;
}

u32 CAuVoiceInfo::GetPriority() const noexcept {
    return static_cast<u32>(std::lround(m_pInstance->Priority().fPriority));
}

u32 CAuVoiceInfo::GetNodeID() const noexcept {
    return m_pInstance->Node() ? m_pInstance->Node()->key : 0;
}
