#include "voices/AuPitchNode.h"

#include "voices/AuPlaybackInstance.h"
#include "voices/AuSourceBase.h"

#include <AU/MemoryMgr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

bool SameFormat(const AuResamplerFormat& a, const AuResamplerFormat& b) {
    return a.uSampleRate == b.uSampleRate && a.config == b.config && a.uBitsPerSample == b.uBitsPerSample;
}

} // namespace

AURESULT CAuPitchNode::Init(CAuSourceBase* source, CAuPlaybackInstance* instance,
                            const AuResamplerFormat& format, const AuPitchNodeParams& params,
                            IAuPitchNodeVoice* voice) {
    Term();
    if (!source || !instance || params.uFramesPerBuffer == 0) return AuResultFail;
    const AURESULT result = m_resampler.Init(format, params.uOutputRate);
    if (result != AuResultSuccess) return result;
    m_pSource = source;
    m_pInstance = instance;
    m_pVoice = voice;
    m_params = params;
    m_format = format;
    m_input = AuPipelineBuffer();
    m_uInputFrames = 0;
    m_fSpeed = 1.0f;
    m_bSourceFinished = m_bStarted = m_bPositionTaken = m_bNextPending = false;
    return AuResultSuccess;
}

void CAuPitchNode::Term() {
    if (m_pSource) GiveBackInput();
    m_output.FreeMarkers();
    if (m_output.pData) m_output.FreeAudioBuffer();
    m_output = AuPipelineBuffer();
    m_resampler.Term();
    m_pSource = nullptr;
}

void CAuPitchNode::GiveBackInput() noexcept {
    if (!m_input.pData && !m_input.pMarkers) return;
    m_input.FreeMarkers();
    m_pSource->ReleaseBuffer();
    m_input.pData = nullptr;
    m_input.uValidFrames = 0;
    m_uInputFrames = 0;
}

AURESULT CAuPitchNode::Hand(AuPipelineBuffer& out, AURESULT state) noexcept {
    m_output.eState = state;
    out.pData = m_output.pData;
    out.channelConfig = m_output.channelConfig;
    out.eState = state;
    out.uMaxFrames = m_output.uMaxFrames;
    out.uValidFrames = m_output.uValidFrames;
    out.uNumMarkers = m_output.uNumMarkers;
    out.pMarkers = m_output.pMarkers;
    out.uPosition = m_output.uPosition;
    return state;
}

void CAuPitchNode::ReleaseBuffer() noexcept {
    m_output.FreeMarkers();
    m_output.eState = AuResultDataNeeded;
    m_output.uValidFrames = 0;
    m_output.uPosition = AU_NO_SOURCE_POSITION;
    m_bPositionTaken = false;
}

AURESULT CAuPitchNode::GetBuffer(AuPipelineBuffer& out) noexcept {
    m_resampler.SetPitch(m_pInstance->Pitch(), m_params.bInterpolate);
    if (m_bNextPending) {
        const AURESULT state = ChainNextSource();
        if (state != AuResultDataNeeded) return Hand(out, state);
    }
    if (m_input.uValidFrames) return Execute(m_input, out);
    return Hand(out, m_bSourceFinished ? AuResultNoMoreData : AuResultDataNeeded);
}

AURESULT CAuPitchNode::ChainNextSource() noexcept {
    if (!m_pVoice) return AuResultNoMoreData;
    CAuSourceBase* next = nullptr;
    AuResamplerFormat format;
    const AURESULT started = m_pVoice->StartNextSource(next, format);
    m_bNextPending = started == AuResultStillBuffering;
    if (m_bNextPending) return AuResultNoDataReady;
    if (started != AuResultSuccess || !next) return started == AuResultSuccess ? AuResultFail : started;
    // Only the same rate, layout and sample type can carry on in this buffer.
    if (!SameFormat(format, m_format)) return AuResultNoMoreData;
    // The finished source's instance ends with it: from here on the next one's values count.
    m_pSource = next;
    m_pInstance = next->Instance();
    m_bSourceFinished = false;
    return m_output.uValidFrames >= m_output.uMaxFrames ? AuResultDataReady : AuResultDataNeeded;
}

void CAuPitchNode::MoveMarkers(u32 consumedBefore, u32 consumedAfter) noexcept {
    u32 count = 0;
    for (u32 i = 0; i < m_input.uNumMarkers; ++i)
        count += m_input.pMarkers[i].uOffsetInBuffer - consumedBefore < consumedAfter - consumedBefore;
    if (!count) return;
    const u32 total = m_output.uNumMarkers + count;
    auto* markers = static_cast<AuBufferMarker*>(
        AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, static_cast<u32>(total * sizeof(AuBufferMarker))));
    // Without memory these markers are lost, not the audio.
    if (!markers) return;
    if (m_output.uNumMarkers)
        memcpy(markers, m_output.pMarkers, m_output.uNumMarkers * sizeof(AuBufferMarker));
    u32 n = m_output.uNumMarkers;
    for (u32 i = 0; i < m_input.uNumMarkers; ++i) {
        if (m_input.pMarkers[i].uOffsetInBuffer - consumedBefore < consumedAfter - consumedBefore) {
            markers[n] = m_input.pMarkers[i];
            markers[n++].uOffsetInBuffer = 0;
        }
    }
    m_output.FreeMarkers();
    m_output.pMarkers = markers;
    m_output.uNumMarkers = static_cast<u16>(total);
}

AURESULT CAuPitchNode::Execute(AuPipelineBuffer& in, AuPipelineBuffer& out) noexcept {
    if (in.eState == AuResultNoMoreData) m_bSourceFinished = true;
    if (!m_input.uValidFrames && &in != &m_input) {
        if (!in.uValidFrames && in.eState == AuResultDataReady) return Hand(out, AuResultDataNeeded);
        GiveBackInput();
        m_input = in;
        m_uInputFrames = in.uValidFrames;
        // The markers are the node's to free from here on.
        in.pMarkers = nullptr;
        in.uNumMarkers = 0;
    }

    if (!m_output.pData) {
        if (m_output.AllocAudioBuffer(m_params.uFramesPerBuffer, m_format.config) != AuResultSuccess)
            return Hand(out, AuResultFail);
        m_output.uValidFrames = 0;
        m_output.uPosition = AU_NO_SOURCE_POSITION;
    }

    if (!m_bStarted) {
        m_bStarted = true;
        // A voice that starts inside its first frame begins with silence up to its start.
        const u32 lead = StartLead();
        if (lead > 0) {
            const u32 silent = std::min<u32>(lead, m_output.uMaxFrames);
            for (u32 c = 0; c < m_output.NumChannels(); ++c)
                memset(m_output.GetChannel(c), 0, silent * sizeof(f32));
            m_output.uValidFrames = static_cast<u16>(silent);
            m_resampler.SetOutputFrames(silent);
        }
    }

    // What a block-aligned seek decoded before the wanted sample is not heard.
    const u32 offset = m_pInstance->SourceFrameOffset();
    if (offset && !m_pInstance->SeekPending()) {
        if (m_input.uValidFrames <= offset) {
            m_pInstance->SetSourceFrameOffset(offset - m_resampler.SkipInput(m_input, m_input.uValidFrames));
            m_pInstance->ClearSeek();
            GiveBackInput();
            return Hand(out, m_bSourceFinished ? AuResultNoMoreData : AuResultDataNeeded);
        }
        m_resampler.SkipInput(m_input, offset);
        m_pInstance->SetSourceFrameOffset(0);
        m_pInstance->ClearSeek();
    }

    const u32 consumedBefore = m_uInputFrames - m_input.uValidFrames;
    const u32 wholeBefore = m_resampler.Position() >> 16;
    const AURESULT result = m_resampler.Execute(m_input, m_output);
    const u32 consumedAfter = m_uInputFrames - m_input.uValidFrames;
    MoveMarkers(consumedBefore, consumedAfter);
    if (!m_bPositionTaken && m_input.uPosition != AU_NO_SOURCE_POSITION) {
        // The first frame out is input frame (whole part of the position - 1) past the consumed
        // ones: the frame before them when the position stands on the kept previous frame.
        const u32 first = consumedBefore + wholeBefore;
        m_output.uPosition = m_input.uPosition + (first ? first - 1 : 0);
        m_bPositionTaken = true;
    }
    m_fSpeed = m_resampler.GetSpeed();

    AURESULT state = result;
    if (!m_input.uValidFrames) {
        GiveBackInput();
        if (m_bSourceFinished) state = ChainNextSource();
    }
    return Hand(out, state);
}

u32 CAuPitchNode::StartLead() const noexcept {
    if (m_params.lFrameOffset >= 0) return 0;
    const f64 rate = m_params.fRateFactor > 0.0f ? m_params.fRateFactor : 1.0f;
    const f64 lead = std::round((m_params.uFramesPerBuffer * rate + m_params.lFrameOffset) / rate);
    return lead > 0 ? static_cast<u32>(lead) : 0;
}

AURESULT CAuPitchNode::TimeSkip(u32& frames) noexcept {
    const f32 cents = m_pInstance->Pitch();
    if (cents != m_resampler.Pitch() || m_resampler.Step() == 0) m_resampler.SetPitchAtOnce(cents);
    u64 wanted = (u64{frames} * m_resampler.Step()) >> 16;
    const u32 offset = m_pInstance->SourceFrameOffset();
    if (offset && !m_pInstance->SeekPending()) {
        wanted += offset;
        m_pInstance->SetSourceFrameOffset(0);
        m_pInstance->ClearSeek();
    }
    wanted -= m_resampler.SkipInput(m_input, static_cast<u32>(std::min<u64>(wanted, m_input.uValidFrames)));
    if (!m_input.uValidFrames) GiveBackInput();
    if (wanted && !m_bSourceFinished) {
        u32 skip = static_cast<u32>(std::min<u64>(wanted, 0xFFFFFFFFu));
        if (m_pSource->TimeSkip(skip) == AuResultNoMoreData) m_bSourceFinished = true;
    }
    return m_bSourceFinished ? AuResultNoMoreData : AuResultDataReady;
}

void CAuPitchNode::VirtualOn(u32 behavior) noexcept {
    if (behavior == 2) return;
    GiveBackInput();
    m_resampler.ResetOffsets();
    if (behavior == 0) m_bSourceFinished = false;
}

AURESULT CAuPitchNode::VirtualOff(u32 behavior, bool useSeek) noexcept {
    if (behavior == 1) {
        GiveBackInput();
        m_resampler.ResetOffsets();
    }
    return m_bSourceFinished ? AuResultSuccess : m_pSource->VirtualOff(behavior, useSeek);
}

AURESULT CAuPitchNode::SeekIfPending() noexcept {
    if (!m_pInstance->SeekPending()) return AuResultSuccess;
    GiveBackInput();
    m_resampler.Restart();
    m_bSourceFinished = false;
    return m_pSource->Seek();
}
