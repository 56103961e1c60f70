// Where a voice sounds from, as its playback instance's game object and that object's listeners
// give it: what a voice answers the mixing side, and what a source plug-in may ask of the voice
// it plays in. Without a game object: no emitter-listener pairs, one default position, scaling 1
// and no listener. Audio thread, under g_csMain.
#pragma once

#include "plugins/AuPlugin.h"

class CAuPlaybackInstance;

class CAuVoiceInfo final : public AU::IAuSourceVoiceInfo {
public:
    explicit CAuVoiceInfo(const CAuPlaybackInstance* instance) : m_pInstance(instance) {}

    // [audio thread] Every query below.
    // The game object's ID; 0xFFFFFFFF without one.
    u32 GetGameObjectID() const noexcept override;
    // For all its listeners.
    u32 GetNumEmitterListenerPairs() const noexcept override;
    AURESULT GetEmitterListenerPair(u32 index, AuEmitterListenerPair& out) const noexcept override {
        return GetEmitterRay(index, 0xFFu, out);
    }
    // The index-th of the pairs whose listener is in `listenerMask`; 2 past them.
    AURESULT GetEmitterRay(u32 index, u32 listenerMask, AuEmitterListenerPair& out) const noexcept;
    // 1 for a single-position game object, else its position count.
    u32 GetNumPositions() const noexcept override;
    // The default position when the game object has none; 2 past the count.
    AURESULT GetPosition(u32 index, AuSoundPosition& out) const noexcept override;
    // Its three low bits; 0 without a game object.
    u32 GetMultiPositionType() const noexcept override;
    f32 GetAttenuationScaling() const noexcept override;
    u8 GetListenerMask() const noexcept override;
    // The row of the listener whose bit is the index-th set bit of the listener mask; null past
    // them.
    const AuListenerData* GetListenerData(u32 index) const noexcept override;
    AuPlayingID GetPlayingID() const noexcept override;
    // The instance's current priority, rounded to an integer.
    u32 GetPriority() const noexcept override;
    u32 GetNodeID() const noexcept;

private:
    const CAuPlaybackInstance* m_pInstance;
};
