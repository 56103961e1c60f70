#include "core/AuListener.h"

#include "core/AuEngineManagers.h"
#include "parameters/AuFastMath.h"

#include <AU/MemoryMgr.h>

#include <cmath>
#include <cstring>
#include <numbers>

namespace AuMath {

AuVector CrossProduct(const AuVector& a, const AuVector& b) {
    return {a.Y * b.Z - a.Z * b.Y, a.Z * b.X - a.X * b.Z, a.X * b.Y - a.Y * b.X};
}

f32 Distance(const AuVector& a, const AuVector& b) {
    const f64 x = f64(a.X) - b.X, y = f64(a.Y) - b.Y, z = f64(a.Z) - b.Z;
    return f32(std::sqrt(x * x + y * y + z * z));
}

f32 DotProduct(const AuVector& a, const AuVector& b) {
    return f32(f64(a.X) * b.X + f64(a.Y) * b.Y + f64(a.Z) * b.Z);
}

f32 Magnitude(const AuVector& a) {
    return f32(std::sqrt(f64(a.X) * a.X + f64(a.Y) * a.Y + f64(a.Z) * a.Z));
}

void Normalize(AuVector& a) {
    const f32 length = Magnitude(a);
    if (length == 0.0f || std::isnan(length)) return;
    a.X /= length;
    a.Y /= length;
    a.Z /= length;
}

f32 InterpolateClamped(f32 x0, f32 y0, f32 x1, f32 y1, f32 x) {
    if (x <= x0) return y0;
    if (x >= x1) return y1;
    return y0 + (x - x0) / (x1 - x0) * (y1 - y0);
}

} // namespace AuMath

f32 AuRadiansToDegrees(f32 radians) {
    constexpr f32 kTurn = f32(2 * std::numbers::pi);
    return (radians - kTurn * std::trunc(radians / kTurn)) * 57.29578f;
}

f32 AuDegreesToRadians(f32 degrees) {
    return (degrees - 360.0f * std::trunc(degrees / 360.0f)) * 0.017453292f;
}

AuListenerData CAuListener::s_rows[AU_NUM_LISTENERS];
u32 CAuListener::s_uAudioMask = 0xFF;
u32 CAuListener::s_uMotionMask = 0;

CAuListener& CAuListener::Instance() {
    static CAuListener listeners;
    return listeners;
}

void CAuListener::ComputeMatrix(AuListenerData& row) noexcept {
    row.matrix[0] = AuMath::CrossProduct(row.position.OrientationTop, row.position.OrientationFront);
    row.matrix[1] = row.position.OrientationTop;
    row.matrix[2] = row.position.OrientationFront;
}

void CAuListener::Init() {
    for (AuListenerData& row : s_rows) {
        row = AuListenerData{};
        row.position.OrientationFront = {0.0f, 0.0f, 1.0f};
        row.position.OrientationTop = {0.0f, 1.0f, 0.0f};
        row.fScalingFactor = 1.0f;
        row.bSpatialized = true;
        row.outputType = 16;
        row.bChanged = true;
        ComputeMatrix(row);
    }
    s_uAudioMask = 0xFF;
    s_uMotionMask = 0;
}

void CAuListener::Term() {
    for (AuListenerData& row : s_rows)
        row.FreeVolumeBuffer();
}

void CAuListener::SetOutputDevice(u32 listenerMask, u32 deviceType, u32 deviceId) {
    for (u32 i = 0; i < AU_NUM_LISTENERS; ++i) {
        if (!(listenerMask & (1u << i))) continue;
        s_rows[i].outputType = deviceType;
        s_rows[i].outputDeviceId = deviceId;
    }
}

void CAuListener::RecomputeMatrices() {
    for (AuListenerData& row : s_rows) {
        ComputeMatrix(row);
        row.bChanged = true;
    }
}

AURESULT CAuListener::SetPosition(u32 index, const AuListenerPosition& position) noexcept {
    if (index >= AU_NUM_LISTENERS) return AuResultInvalidParameter;
    AuListenerData& row = s_rows[index];
    row.position = position;
    ComputeMatrix(row);
    row.bChanged = true;
    return AuResultSuccess;
}

AURESULT CAuListener::SetSpatialization(u32 index, bool spatialized, AuChannelConfig config,
                                        const f32* volumesDb) noexcept {
    if (index >= AU_NUM_LISTENERS) return AuResultInvalidParameter;
    AuListenerData& row = s_rows[index];
    row.bSpatialized = spatialized;
    row.FreeVolumeBuffer();
    if (!volumesDb) return AuResultSuccess;
    const u32 count = config.NumChannels();
    if (count == 0) return AuResultInvalidParameter;
    // Each half in whole groups of four floats, so that both can be walked four channels at a time.
    const u32 half = (count + 3) / 4 * 4;
    void* block = AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, half * 2 * sizeof(f32), 16);
    if (!block) return AuResultFail;
    row.pSpeakerVolumeBlock = block;
    row.pVolumesDb = static_cast<f32*>(block);
    row.pVolumesLinear = row.pVolumesDb + half;
    row.volumeConfig = config;
    memcpy(row.pVolumesDb, volumesDb, count * sizeof(f32));
    for (u32 i = 0; i < count; ++i)
        row.pVolumesLinear[i] = AuDbToLinear(volumesDb[i]);
    return AuResultSuccess;
}

void CAuListener::SetScalingFactor(u32 index, f32 factor) noexcept {
    if (index >= AU_NUM_LISTENERS) return;
    s_rows[index].fScalingFactor = factor;
    s_rows[index].bChanged = true;
}

void CAuListener::SetPipeline(u32 index, bool audio, bool motion) noexcept {
    if (index >= AU_NUM_LISTENERS) return;
    const u32 bit = 1u << index;
    s_uAudioMask = audio ? (s_uAudioMask | bit) : (s_uAudioMask & ~bit);
    s_uMotionMask = motion ? (s_uMotionMask | bit) : (s_uMotionMask & ~bit);
}

void CAuListener::UpdateChanged() noexcept {
    u32 changed = 0;
    for (u32 i = 0; i < AU_NUM_LISTENERS; ++i) {
        if (s_rows[i].bChanged) changed |= 1u << i;
        s_rows[i].bChanged = false;
    }
    if (changed && g_pRegistryMgr) g_pRegistryMgr->MarkListenersChanged(changed);
}
