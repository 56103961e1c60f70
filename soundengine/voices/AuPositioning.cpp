#include "voices/AuPositioning.h"

#include <AU/MemoryMgr.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

void AuListenerData::FreeVolumeBuffer() {
    if (pSpeakerVolumeBlock) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, pSpeakerVolumeBlock);
    pSpeakerVolumeBlock = nullptr;
    pVolumesDb = nullptr;
    pVolumesLinear = nullptr;
    volumeConfig = AuChannelConfig();
}

AURESULT AuPositionArray::Copy(const AuSoundPosition* positions, u16 count) {
    if (count != uCount) {
        Term();
        if (count == 0) return AuResultSuccess;
        pPositions = static_cast<AuSoundPosition*>(
            AU::MemoryMgr::Malloc(g_DefaultPoolId, static_cast<u32>(count) * sizeof(AuSoundPosition)));
        if (!pPositions) return AuResultNoMemory;
        uCount = count;
    }
    if (count) memcpy(pPositions, positions, count * sizeof(AuSoundPosition));
    return AuResultSuccess;
}

void AuPositionArray::Term() {
    if (pPositions) AU::MemoryMgr::Free(g_DefaultPoolId, pPositions);
    pPositions = nullptr;
    uCount = 0;
}

namespace {

f64 Dot(const AuVector& a, const AuVector& b) {
    return f64(a.X) * b.X + f64(a.Y) * b.Y + f64(a.Z) * b.Z;
}

f32 SignedHalfPi(f64 v) {
    if (v == 0.0) return 0.0f;
    return v > 0.0 ? f32(std::numbers::pi / 2) : -f32(std::numbers::pi / 2);
}

// Rounding may push a cosine or sine a hair past 1; a NaN (from NaN input) stays NaN.
f64 ClampUnit(f64 v) {
    return v > 1.0 ? 1.0 : (v < -1.0 ? -1.0 : v);
}

} // namespace

f32 CAuSpeakerPan::ComputeScaledDistance(const AuListenerData& listener, const AuSoundPosition& emitter,
                                         f32 attenuationScaling, AuEmitterListenerPair& pair) noexcept {
    const AuVector& at = listener.position.Position;
    const AuVector d{emitter.Position.X - at.X, emitter.Position.Y - at.Y, emitter.Position.Z - at.Z};
    const f64 s = Dot(d, listener.matrix[0]);
    const f64 t = Dot(d, listener.matrix[1]);
    const f64 f = Dot(d, listener.matrix[2]);
    const f64 length = std::sqrt(Dot(d, d));
    pair.fDistance = f32(length / (f64(listener.fScalingFactor) * attenuationScaling));

    if (f != 0.0)
        pair.fAngles[0] = f32(std::atan2(s, f));
    else
        pair.fAngles[0] = SignedHalfPi(s);
    if (f == 0.0 && s == 0.0)
        pair.fAngles[1] = SignedHalfPi(t);
    else
        pair.fAngles[1] = length > 0.0 ? f32(std::asin(ClampUnit(t / length))) : 0.0f;
    const f64 cosine = length > 0.0 ? ClampUnit(-Dot(d, emitter.Orientation) / length) : 1.0;
    pair.fAngles[2] = f32(std::acos(cosine));
    return pair.fDistance;
}
