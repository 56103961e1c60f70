#include "voices/AuVoiceEdge.h"

#include <algorithm>

void CAuVoiceEdge::Rise(u32 frames) noexcept {
    m_fTarget = 1.0f;
    m_fStep = 1.0f / static_cast<f32>(std::max(frames, 1u));
}

void CAuVoiceEdge::Fall(u32 frames) noexcept {
    m_fTarget = 0.0f;
    m_uHold = 0;
    m_fStep = m_fGain / static_cast<f32>(std::max(frames, 1u));
}

void CAuVoiceEdge::Apply(AuPipelineBuffer& buffer) noexcept {
    if (m_fGain == 1.0f && m_fTarget == 1.0f) return;
    const u32 channels = buffer.NumChannels();
    for (u32 n = 0; n < buffer.uValidFrames; ++n) {
        if (m_uHold) {
            --m_uHold;
        } else if (m_fGain < m_fTarget) {
            m_fGain = std::min(m_fGain + m_fStep, m_fTarget);
        } else if (m_fGain > m_fTarget) {
            // The last step lands on the target exactly, whatever the rounding of the ones before.
            m_fGain = m_fGain - m_fStep > m_fTarget + 0.5f * m_fStep ? m_fGain - m_fStep : m_fTarget;
        }
        for (u32 c = 0; c < channels; ++c)
            buffer.GetChannel(c)[n] *= m_fGain;
    }
}
