#include "voices/AuEffectNode.h"

#include "plugins/AuEffectCommon.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuMixKernels.h"
#include "voices/AuPlaybackInstance.h"
#include "voices/AuSourceBase.h"
#include "voices/AuSpeakerPan.h"

#include <AU/AuCallback.h>
#include <AU/MemoryMgr.h>

#include <algorithm>
#include <cstring>

namespace {

// The bypass copy's matrix: one row per input channel, padded to four.
constexpr u32 kMaxBypassChannels = 16;

} // namespace

void CountMarkersInRange(const AuPipelineBuffer& source, AuPipelineBuffer& destination, u32 start,
                         u32 length) noexcept {
    const auto inRange = [&](const AuBufferMarker& marker) {
        return marker.uOffsetInBuffer >= start && marker.uOffsetInBuffer - start < length;
    };
    u32 found = 0;
    for (u32 i = 0; i < source.uNumMarkers; ++i)
        found += inRange(source.pMarkers[i]) ? 1 : 0;
    if (found == 0) return;
    const u32 total = destination.uNumMarkers + found;
    void* block = total <= 0xFFFF
                      ? AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, total * sizeof(AuBufferMarker))
                      : nullptr;
    if (!block) {
        destination.FreeMarkers();
        return;
    }
    auto* markers = static_cast<AuBufferMarker*>(block);
    if (destination.uNumMarkers)
        std::memcpy(markers, destination.pMarkers, destination.uNumMarkers * sizeof(AuBufferMarker));
    u32 next = destination.uNumMarkers;
    for (u32 i = 0; i < source.uNumMarkers; ++i)
        if (inRange(source.pMarkers[i])) markers[next++] = source.pMarkers[i];
    destination.FreeMarkers();
    destination.pMarkers = markers;
    destination.uNumMarkers = static_cast<u16>(total);
}

AURESULT CAuEffectNode::Init(AU::IAuPlugin* plugin, const AuEffectRecord& record, u32 slot,
                             CAuPlaybackInstance* instance, u16 framesPerBuffer,
                             AuPluginFormat& format) noexcept {
    AU::IAuPluginMemAlloc* allocator = &CAuLowerEngine::PluginAllocator();
    m_pPlugin = plugin;
    m_pInstance = instance;
    m_bLastBuffer = false;
    m_bBypass = false;
    m_bBypassReset = false;
    m_context.Init(slot, framesPerBuffer);
    if (!record.pSettings || !plugin) return AuResultFail;
    m_pHolder = CAuPluginParamHolder::Create(*record.pSettings, instance ? instance->Key() : AuRTPCKey{});
    if (!m_pHolder) return AuResultFail;
    m_uSettingsID = record.pSettings->key;
    m_context.Media().SetSettings(record.pSettings);
    const AuChannelConfig input = format.channelConfig;
    const AURESULT result = m_pPlugin->Init(allocator, &m_context, m_pHolder->Params(), format);
    if (result != AuResultSuccess) return result;
    m_pPlugin->Reset();
    PrepareBuffers(input, format);
    return AuResultSuccess;
}

void CAuEffectNode::Term() noexcept {
    AU::IAuPluginMemAlloc* allocator = &CAuLowerEngine::PluginAllocator();
    if (m_pPlugin) {
        m_pPlugin->Term(allocator);
        m_pPlugin = nullptr;
    }
    // The plug-in is gone: nothing reads its media any more.
    m_context.Media().ReleaseAll();
    m_context.Media().SetSettings(nullptr);
    if (m_pHolder) {
        m_pHolder->Destroy();
        m_pHolder = nullptr;
    }
    TermBuffers();
}

bool CAuEffectNode::BypassNow() noexcept {
    const bool bypassed = m_bBypass || (m_pInstance && m_pInstance->BypassAllEffects());
    if (!bypassed) {
        m_bBypassReset = false;
        return false;
    }
    if (!m_bBypassReset) {
        m_pPlugin->Reset();
        m_bBypassReset = true;
    }
    return true;
}

void CAuEffectNode::VirtualOn(u32 mode) noexcept {
    if (mode != 2) {
        m_pPlugin->Reset();
        DropOutput();
    }
    if (mode == 0) m_bLastBuffer = false;
    if (!m_bLastBuffer && m_pInput) m_pInput->VirtualOn(mode);
}

AURESULT CAuEffectNode::VirtualOff(u32 mode, bool restart) noexcept {
    if (m_bLastBuffer) return AuResultSuccess;
    return CAuPipelineNode::VirtualOff(mode, restart);
}

AURESULT CAuEffectNode::SeekIfPending() noexcept {
    m_pPlugin->Reset();
    m_bLastBuffer = false;
    DropInput();
    return CAuPipelineNode::SeekIfPending();
}

// ---- In place ----

void CAuInPlaceEffectNode::PrepareBuffers(AuChannelConfig input, AuPluginFormat& format) noexcept {
    // The plug-in works where the buffer lies: its layout goes on unchanged.
    m_config = input;
    format.channelConfig = input;
}

void CAuInPlaceEffectNode::TermBuffers() noexcept {
    if (m_pScratch) AU::MemoryMgr::Falign(g_LEngineDefaultPoolId, m_pScratch);
    m_pScratch = nullptr;
    m_uScratchFrames = 0;
}

bool CAuInPlaceEffectNode::AttachScratch(AuPipelineBuffer& buffer) noexcept {
    if (!m_pScratch || m_uScratchFrames < buffer.uMaxFrames) {
        TermBuffers();
        const size_t bytes = size_t{buffer.uMaxFrames} * m_config.NumChannels() * sizeof(f32);
        m_pScratch = static_cast<f32*>(AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, bytes, 16));
        if (!m_pScratch) {
            buffer.eState = AuResultFail;
            return false;
        }
        m_uScratchFrames = buffer.uMaxFrames;
    }
    buffer.pData = m_pScratch;
    buffer.channelConfig = m_config;
    buffer.uValidFrames = 0;
    return true;
}

void CAuInPlaceEffectNode::ReleaseBuffer() noexcept {
    // A tail buffer holds nothing of the input.
    if (m_bFromInput && m_pInput) m_pInput->ReleaseBuffer();
    m_bFromInput = false;
}

AURESULT CAuInPlaceEffectNode::TimeSkip(u32& frames) noexcept {
    if (m_bLastBuffer || !m_pInput) {
        // A voice skipping time has no one to hear the tail.
        frames = 0;
        return AuResultNoMoreData;
    }
    const AURESULT result = m_pInput->TimeSkip(frames);
    m_pPlugin->TimeSkip(frames);
    return result;
}

void CAuInPlaceEffectNode::ProcessBuffer(AuPipelineBuffer& buffer) noexcept {
    m_bFromInput = true;
    Process(buffer);
}

void CAuInPlaceEffectNode::Process(AuPipelineBuffer& buffer) noexcept {
    if (BypassNow()) return;
    if (buffer.eState == AuResultNoMoreData) m_bLastBuffer = true;
    if (!buffer.pData && !AttachScratch(buffer)) return;
    m_pPlugin->Execute(buffer);
}

void CAuInPlaceEffectNode::Flush(AuPipelineBuffer& buffer, u16 maxFrames) noexcept {
    buffer = AuPipelineBuffer{};
    buffer.uMaxFrames = maxFrames;
    buffer.channelConfig = m_config;
    buffer.eState = AuResultNoMoreData;
    // Even a bypassed tail hands on real, empty samples.
    if (!AttachScratch(buffer)) return;
    Process(buffer);
}

// ---- Out of place ----

void CAuOutOfPlaceEffectNode::PrepareBuffers(AuChannelConfig input, AuPluginFormat& format) noexcept {
    m_output.FreeAudioBuffer();
    m_output.FreeMarkers();
    m_output = AuPipelineBuffer{};
    m_output.uMaxFrames = m_context.GetMaxBufferLength() & 0xFFFF;
    m_output.channelConfig = format.channelConfig;
    m_input.channelConfig = input;
    ResetInput();
    m_fInputAverage = 1.0f;
    m_fOutputAverage = 1.0f;
    m_uFramesSinceOutput = 0;
    m_uTotalFrames = 0;
}

void CAuOutOfPlaceEffectNode::TermBuffers() noexcept {
    m_output.FreeAudioBuffer();
    m_output.FreeMarkers();
    m_output.uValidFrames = 0;
    m_input.FreeMarkers();
}

void CAuOutOfPlaceEffectNode::ResetInput() noexcept {
    m_input.FreeMarkers();
    const AuChannelConfig config = m_input.channelConfig;
    m_input = AuPipelineBuffer{};
    m_input.channelConfig = config;
    m_uInputOffset = 0;
}

void CAuOutOfPlaceEffectNode::DropOutput() noexcept {
    m_output.FreeMarkers();
    m_output.uValidFrames = 0;
    m_output.eState = AuResultDataNeeded;
}

void CAuOutOfPlaceEffectNode::DropInput() noexcept {
    ResetInput();
}

void CAuOutOfPlaceEffectNode::ReleaseBuffer() noexcept {
    DropOutput();
    m_output.uPosition = AU_NO_SOURCE_POSITION;
    m_output.fSpeed = 1.0f;
}

AURESULT CAuOutOfPlaceEffectNode::TimeSkip(u32& frames) noexcept {
    if (m_bLastBuffer || !m_pInput) {
        frames = 0;
        return AuResultNoMoreData;
    }
    const AURESULT input = m_pInput->TimeSkip(frames);
    if (input == AuResultNoMoreData) m_bLastBuffer = true;
    const u32 buffer = m_output.uMaxFrames;
    u32 remaining = frames;
    AURESULT result = AuResultDataReady;
    while (buffer && remaining >= buffer && result == AuResultDataReady) {
        result = m_pPlugin->TimeSkip(buffer);
        m_uTotalFrames += buffer;
        remaining -= buffer;
    }
    if (result == AuResultNoMoreData) m_bLastBuffer = true;
    return m_bLastBuffer ? AuResultNoMoreData : input;
}

void CAuOutOfPlaceEffectNode::ProcessBuffer(AuPipelineBuffer& buffer) noexcept {
    if (buffer.eState == AuResultNoMoreData) m_bLastBuffer = true;
    if (m_input.uValidFrames == 0) {
        ResetInput();
        m_input = buffer;
        m_input.pMarkers = nullptr;
        m_input.uNumMarkers = 0;
        CountMarkersInRange(buffer, m_input, 0, buffer.uValidFrames);
        m_uInputOffset = 0;
    }
    if (!m_output.pData &&
        m_output.AllocAudioBuffer(m_output.uMaxFrames, m_output.channelConfig) != AuResultSuccess) {
        buffer.eState = AuResultFail;
        return;
    }
    const u32 framesAtStart = m_input.uValidFrames;
    if (BypassNow())
        CopyBypassed();
    else
        static_cast<AU::IAuOutOfPlacePlugin*>(m_pPlugin)->Execute(m_input, m_uInputOffset, m_output);
    HandOff(buffer, framesAtStart);
}

void CAuOutOfPlaceEffectNode::Flush(AuPipelineBuffer& buffer, u16 maxFrames) noexcept {
    buffer = AuPipelineBuffer{};
    buffer.uMaxFrames = maxFrames;
    buffer.channelConfig = m_input.channelConfig;
    // With input still held this record is not read; after the last one it asks for the tail.
    buffer.eState = m_bLastBuffer ? AuResultNoMoreData : AuResultDataReady;
    ProcessBuffer(buffer);
}

void CAuOutOfPlaceEffectNode::CopyBypassed() noexcept {
    const AuChannelConfig in = m_input.channelConfig;
    const AuChannelConfig out = m_output.channelConfig;
    const u32 frames = std::min<u32>(m_input.uValidFrames, m_output.uMaxFrames - m_output.uValidFrames);
    const u32 at = m_output.uValidFrames;
    for (u32 c = 0; c < out.NumChannels(); ++c)
        std::memset(m_output.GetChannel(c) + at, 0, frames * sizeof(f32));
    if (m_input.pData && in.NumChannels() <= kMaxBypassChannels && out.NumChannels() <= kMaxBypassChannels) {
        f32 matrix[kMaxBypassChannels * kMaxBypassChannels];
        const u32 stride = AuMatrixRowStride(out.NumChannels());
        CAuSpeakerPan::ComputeMatrixNoPan(in, out, matrix);
        for (u32 i = 0; i < in.NumChannels(); ++i)
            for (u32 o = 0; o < out.NumChannels(); ++o)
                if (const f32 gain = matrix[i * stride + o]; gain != 0.0f)
                    AuMulAdd(m_output.GetChannel(o) + at, m_input.GetChannel(i) + m_uInputOffset, frames,
                             gain);
    }
    m_input.uValidFrames = static_cast<u16>(m_input.uValidFrames - frames);
    m_output.uValidFrames = static_cast<u16>(at + frames);
    if (m_bLastBuffer && m_input.uValidFrames == 0)
        m_output.eState = AuResultNoMoreData;
    else
        m_output.eState =
            m_output.uValidFrames == m_output.uMaxFrames ? AuResultDataReady : AuResultDataNeeded;
}

void CAuOutOfPlaceEffectNode::HandOff(AuPipelineBuffer& buffer, u32 framesAtStart) noexcept {
    const u32 left = m_input.uValidFrames;
    const u32 consumed = framesAtStart > left ? framesAtStart - left : 0;
    CountMarkersInRange(m_input, m_output, m_uInputOffset, consumed);
    const bool handsOn = m_output.eState == AuResultDataReady || m_output.eState == AuResultNoMoreData;
    if (m_pInstance && (m_pInstance->CallbackFlags() & AU_EnableGetSourcePlayPosition)) {
        m_uFramesSinceOutput += consumed;
        if (handsOn) {
            m_fInputAverage = (f32(m_uFramesSinceOutput) + 7.0f * m_fInputAverage) * 0.125f;
            m_fOutputAverage = (f32(m_output.uValidFrames) + 7.0f * m_fOutputAverage) * 0.125f;
            m_uFramesSinceOutput = 0;
            if (m_input.uPosition != AU_NO_SOURCE_POSITION) {
                m_output.uPosition = m_input.uPosition + m_uInputOffset;
                m_output.fSpeed = m_fOutputAverage > 0.0f ? m_fInputAverage / m_fOutputAverage : 1.0f;
            }
        }
    }
    m_uInputOffset += consumed;
    m_uTotalFrames += consumed;
    if (m_input.uValidFrames == 0) {
        if (m_pInput) m_pInput->ReleaseBuffer();
        ResetInput();
        buffer.pData = nullptr;
        buffer.uValidFrames = 0;
        buffer.pMarkers = nullptr;
        buffer.uNumMarkers = 0;
    }
    if (handsOn) buffer = m_output;
    buffer.eState = m_output.eState;
}
