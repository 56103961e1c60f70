#include "voices/AuSpeakerAngles.h"

#include <algorithm>

void CAuSpeakerPan::GetDefaultSpeakerAngles(AuChannelConfig config, f32* degrees, f32& height) {
    degrees[0] = 30.0f;
    degrees[1] = 110.0f;
    degrees[2] = 142.5f;
    height = 45.0f;
    if (!config.IsStandard()) return;
    const u32 mask = config.ChannelMask();
    if ((mask & AU_SPEAKER_BACK_LEFT) && (mask & AU_SPEAKER_SIDE_LEFT)) degrees[1] = 100.0f;
    if ((mask & ~(AU_SPEAKER_FRONT_LEFT | AU_SPEAKER_FRONT_RIGHT | AU_SPEAKER_FRONT_CENTER)) == 0)
        degrees[0] = 45.0f;
}

AURESULT CAuSpeakerPan::SetSpeakerAngles(const f32* degrees, u32 count, u32* units, f32& minimumGap) {
    if (count == 0) return AuResultFail;
    for (u32 i = 0; i < count; ++i) {
        const f32 converted = degrees[i] * 512.0f * 0.0027777778f + 0.5f;
        if (!(converted >= 0.0f) || converted >= 256.0f) return AuResultFail;
        units[i] = static_cast<u32>(converted);
    }
    if (units[0] >= 128) return AuResultFail;
    u32 gap = units[0];
    for (u32 i = 1; i < count; ++i) {
        if (units[i] <= units[i - 1] || units[i] - units[i - 1] >= 256) return AuResultFail;
        gap = std::min(gap, units[i] - units[i - 1]);
    }
    gap = std::min(gap, 2 * (256 - units[count - 1]));
    if (gap == 0) return AuResultFail;
    minimumGap = static_cast<f32>(gap);
    return AuResultSuccess;
}

void CAuSpeakerPan::ConvertSpeakerAngles(const u32* units, u32 count, f32* degrees) {
    for (u32 i = 0; i < count; ++i)
        degrees[i] = static_cast<f32>(units[i]) * 360.0f * (1.0f / 512.0f);
}
