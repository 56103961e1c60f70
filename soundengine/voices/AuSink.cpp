#include "voices/AuSink.h"

#include "core/AuOutputTiming.h"
#include "voices/AuLowerEngine.h"

#include <windows.h>

#include <cstring>

namespace {

IAuHardwareSinks* s_pHardwareSinks = nullptr;

constexpr AuChannelConfig kStereo = AuChannelConfig::Standard(AU_SPEAKER_SETUP_STEREO);

} // namespace

AURESULT CAuSinkBase::Term(AU::IAuPluginMemAlloc*) {
    this->~CAuSinkBase();
    AU::MemoryMgr::Falign(g_LEngineDefaultPoolId, this);
    return AuResultSuccess;
}

CAuBufferedSink::CAuBufferedSink(AuSinkKind kind) : m_eKind(kind) {
    m_buffer.channelConfig = AuChannelConfig(AuChannelConfigType_Standard << 8);
    m_buffer.uMaxFrames = 0;
}

CAuBufferedSink::~CAuBufferedSink() {
    m_buffer.FreeAudioBuffer();
}

AURESULT CAuBufferedSink::AllocBuffer(AuChannelConfig config) {
    const u16 frames = g_uNumSamplesPerFrame;
    if (m_buffer.AllocAudioBuffer(frames, config) != AuResultSuccess) return AuResultNoMemory;
    memset(m_buffer.pData, 0, sizeof(f32) * config.NumChannels() * frames);
    m_buffer.eState = AuResultDataNeeded;
    m_buffer.uValidFrames = 0;
    return AuResultSuccess;
}

AuPipelineBuffer& CAuBufferedSink::NextWriteBuffer() noexcept {
    m_buffer.uValidFrames = 0;
    return m_buffer;
}

void CAuBufferedSink::PassData(const AuPipelineBuffer& buffer, f32 previousGain, f32 targetGain) noexcept {
    if (buffer.uValidFrames == 0) return;
    const bool firstOfFrame = !m_bDataPassed;
    AuPipelineBuffer& target = firstOfFrame ? NextWriteBuffer() : m_buffer;
    // A buffer of another shape than the sink's would be written past its end: it is not heard.
    if (target.pData && target.NumChannels() == buffer.NumChannels() &&
        buffer.uMaxFrames <= target.uMaxFrames) {
        // Busses add into the device's sum; the first one of the frame starts from silence.
        if (firstOfFrame) memset(target.pData, 0, sizeof(f32) * target.NumChannels() * target.uMaxFrames);
        AuRamp ramp;
        ramp.Set(buffer.uMaxFrames);
        MixChannelsByMask(ramp, buffer, target, previousGain, targetGain);
        target.uValidFrames = buffer.uValidFrames;
    }
    m_bDataPassed = 1;
}

AURESULT CAuBufferedSink::OnFrameEnd() noexcept {
    AURESULT result;
    if (!m_bDataPassed) {
        AuPipelineBuffer& silent = NextWriteBuffer();
        if (silent.pData) memset(silent.pData, 0, sizeof(f32) * silent.NumChannels() * silent.uMaxFrames);
        result = WriteSilence();
    } else {
        result = WriteMix();
    }
    m_bDataPassed = 0;
    return result;
}

AURESULT CAuDummySink::Init(AuChannelConfig config) {
    m_uLastTick = GetTickCount();
    m_channelConfig = config;
    const f64 buffersPerSecond = static_cast<f64>(g_OutputTiming.uSampleRate) / g_uNumSamplesPerFrame;
    m_uPeriodMs = static_cast<u32>(1000.0 / buffersPerSecond);
    // The mix still lands somewhere, so that what a silent output was given can be read.
    return AllocBuffer(config);
}

AURESULT CAuDummySink::IsDataNeeded(u32& buffers) noexcept {
    const u32 now = GetTickCount();
    if (now < m_uLastTick) {
        buffers = 1;
        m_uLastTick = now;
        return AuResultSuccess;
    }
    buffers = m_uPeriodMs ? (now - m_uLastTick) / m_uPeriodMs : 1;
    if (buffers) m_uLastTick = now;
    return AuResultSuccess;
}

u32 CAuDummySink::GetWaitTimeout() noexcept {
    return g_OutputTiming.uBufferQuarterMs;
}

void AuSetHardwareSinks(IAuHardwareSinks* sinks) {
    s_pHardwareSinks = sinks;
}

CAuDummySink* AuCreateDummySink(AuChannelConfig config) {
    CAuDummySink* sink = AuNewInLEngine<CAuDummySink>();
    if (!sink) return nullptr;
    if (sink->Init(config) != AuResultSuccess) {
        sink->Term(nullptr);
        return nullptr;
    }
    return sink;
}

CAuSinkBase* CreateOutputSink(const AuOutputSettings& settings, u32 options) {
    if (options & AU_SINK_OPTION_DUMMY) {
        AuChannelConfig config = settings.channelConfig;
        if (config.NumChannels() == 0) {
            const CAuSinkBase* mainSink = CAuLowerEngine::MainSink();
            config = mainSink ? mainSink->ChannelConfig() : kStereo;
        }
        return AuCreateDummySink(config);
    }
    if (!s_pHardwareSinks) return nullptr;
    const AuPlatformInitSettings& platform = CAuLowerEngine::PlatformSettings();
    const u32 mask = settings.channelConfig.ChannelMask();
    if (CAuSinkBase* sink = s_pHardwareSinks->CreateXAudio2Sink(platform, mask, options)) return sink;
    return s_pHardwareSinks->CreateDirectSoundSink(platform, mask);
}
