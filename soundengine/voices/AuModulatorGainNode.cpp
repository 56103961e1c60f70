#include "voices/AuModulatorGainNode.h"

#include "voices/AuPlaybackInstance.h"

#include <alloca.h>
#include <new>

void AuApplyGainRamp(AuPipelineBuffer& buffer, f32 from, f32 to, bool includeLFE) noexcept {
    u32 channels = buffer.NumChannels();
    if (buffer.channelConfig.HasLFE() && !includeLFE && channels > 0) --channels;
    const u32 frames = buffer.uValidFrames;
    if (from == to) {
        if (from == 1.0f) return;
        for (u32 c = 0; c < channels; ++c) {
            f32* samples = buffer.GetChannel(c);
            for (u32 i = 0; i < frames; ++i)
                samples[i] *= from;
        }
        return;
    }
    const u32 blocked = frames & ~3u;
    const f32 step = blocked ? (to - from) / static_cast<f32>(blocked) : 0.0f;
    const f32 tailStep = frames ? (to - from) / static_cast<f32>(frames) : 0.0f;
    for (u32 c = 0; c < channels; ++c) {
        f32* samples = buffer.GetChannel(c);
        f32 gain[4] = {from, from + step, from + 2.0f * step, from + 3.0f * step};
        u32 i = 0;
        for (; i < blocked; i += 4) {
            for (u32 k = 0; k < 4; ++k) {
                samples[i + k] *= gain[k];
                gain[k] += 4.0f * step;
            }
        }
        f32 g = gain[0];
        for (; i < frames; ++i) {
            samples[i] *= g;
            g += tailStep;
        }
    }
}

void CAuModulatorGainNode::Execute(AuPipelineBuffer& buffer) noexcept {
    if (!buffer.pData || !buffer.uValidFrames || !m_pInstance) return;
    IAuModulatorList* list = m_pInstance->ModulatorList();
    if (!list) return;
    u32 sampleCount = 0;
    u32 frameCount = 0;
    list->CountTargets(AU_MODULATOR_GAIN_PROPERTIES, sampleCount, frameCount);
    if (sampleCount + frameCount == 0) return;
    if (m_pInstance->UsesSingleModulatorGain()) {
        const f32 gain = list->CurrentGain(AU_MODULATOR_GAIN_PROPERTIES);
        AuApplyGainRamp(buffer, gain, gain, true);
        return;
    }
    // Stack records for this call only: the audio thread takes nothing from the allocator here.
    auto* sampleTargets =
        static_cast<AuModulatorSampleTarget*>(alloca(sizeof(AuModulatorSampleTarget) * (sampleCount + 1)));
    auto* frameTargets =
        static_cast<AuModulatorFrameTarget*>(alloca(sizeof(AuModulatorFrameTarget) * (frameCount + 1)));
    for (u32 i = 0; i < sampleCount; ++i)
        new (&sampleTargets[i]) AuModulatorSampleTarget();
    for (u32 i = 0; i < frameCount; ++i)
        new (&frameTargets[i]) AuModulatorFrameTarget();
    list->FillTargets(AU_MODULATOR_GAIN_PROPERTIES, sampleTargets, frameTargets);
    const u32 frames = buffer.uMaxFrames & ~3u;
    const u32 channels = buffer.NumChannels();
    for (u32 t = 0; t < sampleCount; ++t) {
        const AuModulatorSampleTarget& target = sampleTargets[t];
        if (!target.pValues) continue;
        for (u32 c = 0; c < channels; ++c) {
            f32* samples = buffer.GetChannel(c);
            for (u32 n = 0; n < frames; ++n)
                samples[n] *= target.pValues[n] * target.fScale + target.fOffset;
        }
    }
    for (u32 t = 0; t < frameCount; ++t)
        AuApplyGainRamp(buffer, frameTargets[t].fStart, frameTargets[t].fEnd, true);
}
