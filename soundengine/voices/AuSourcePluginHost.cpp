#include "voices/AuSourcePluginHost.h"

#include "core/AuObjectIndex.h"
#include "core/AuOutputTiming.h"
#include "plugins/AuPluginSettings.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuPlaybackInstance.h"

#include <cmath>
#include <cstring>

namespace {

// The standard layouts a generator may produce.
constexpr u32 kPlayableMasks[] = {0x3,   0x4,   0x7,   0x8,   0xB,   0xC,  0xF,
                                  0x603, 0x607, 0x60B, 0x60F, 0x637, 0x63F};

// 20 x log10(e) with the engine's fast logarithm: the mantissa's series and the exponent.
f32 FastDecibels(f32 linear) {
    const f32 x = linear + 9.99999935e-39f;
    u32 bits;
    std::memcpy(&bits, &x, sizeof bits);
    const i32 exponent = static_cast<i32>((bits >> 23) & 0xFF);
    const u32 mantissaBits = (bits & 0x7FFFFFu) | 0x3F800000u;
    f32 m;
    std::memcpy(&m, &mantissaBits, sizeof m);
    const f32 t = (m - 1.0f) / (m + 1.0f);
    const f32 ln = 2.0f * t * (1.0f + t * t * 0.33333334f) + static_cast<f32>(exponent - 127) * 0.69314718f;
    return ln * 0.43429449f * 20.0f;
}

} // namespace

bool AuIsSourcePluginFormat(AuChannelConfig config) noexcept {
    if (config.ConfigType() == AuChannelConfigType_Anonymous) return config.NumChannels() > 0;
    if (!config.IsStandard()) return false;
    for (u32 mask : kPlayableMasks)
        if (config.ChannelMask() == mask) return true;
    return false;
}

CAuSourcePluginHost::CAuSourcePluginHost(CAuPlaybackInstance* instance, u32 settingsID) noexcept
    : CAuSourceBase(instance, nullptr, 0), m_uSettingsID(settingsID), m_voiceInfo(instance) {}

CAuSourcePluginHost::~CAuSourcePluginHost() {
    StopStream();
}

AURESULT CAuSourcePluginHost::StartStream() noexcept {
    AU::IAuPluginMemAlloc* allocator = &CAuLowerEngine::PluginAllocator();
    // A sound's generator settings are its own (type 19), or shared ones (type 18).
    auto* settings = g_pIndex ? static_cast<CAuPluginSettings*>(
                                    g_pIndex->GetPtrAndAddRef(AuIndexPluginSettings19, m_uSettingsID))
                              : nullptr;
    if (!settings && g_pIndex)
        settings = static_cast<CAuPluginSettings*>(
            g_pIndex->GetPtrAndAddRef(AuIndexPluginSettings18, m_uSettingsID));
    if (!settings) return AuResultFail;
    m_pParams = CAuPluginParamHolder::Create(*settings, m_pInstance->Key());
    settings->Release(); // the parameter holder keeps its own
    if (!m_pParams) return AuResultFail;
    m_media.SetSettings(&m_pParams->Settings());
    AU::IAuPlugin* plugin = nullptr;
    AuPluginInfo info;
    if (CAuLowerEngine::CreatePlugin(allocator, m_pParams->PluginID(), plugin) != AuResultSuccess ||
        !plugin || plugin->GetPluginInfo(info) != AuResultSuccess || info.eType != AuPluginTypeSource) {
        if (plugin) plugin->Term(allocator);
        StopStream();
        return AuResultFail;
    }
    m_pPlugin = static_cast<AU::IAuSourcePlugin*>(plugin);
    m_pluginFormat.uSampleRate = m_pInstance->IsMotion() && g_uNumSamplesPerFrame
                                     ? static_cast<u16>(kRate / g_uNumSamplesPerFrame * 8)
                                     : kRate;
    m_pluginFormat.channelConfig = AuChannelConfig::Standard(AU_SPEAKER_FRONT_CENTER);
    if (m_pPlugin->Init(allocator, this, m_pParams->Params(), m_pluginFormat) != AuResultSuccess ||
        !AuIsSourcePluginFormat(m_pluginFormat.channelConfig) || m_pPlugin->Reset() != AuResultSuccess) {
        StopStream();
        return AuResultFail;
    }
    m_pParams->Settings().TriggerModulators(m_pParams, m_pInstance->Key(), nullptr);
    CAuPlaybackInstance::MediaFormat format;
    format.uSampleRate = m_pluginFormat.uSampleRate;
    format.config = m_pluginFormat.channelConfig;
    format.uBits = 32 | (4u << 6); // 32-bit float, planar: four bytes a sample
    m_pInstance->SetMediaFormat(format);
    m_format.uSampleRate = format.uSampleRate;
    m_config = format.config;
    return AuResultSuccess;
}

void CAuSourcePluginHost::StopStream() noexcept {
    AU::IAuPluginMemAlloc* allocator = &CAuLowerEngine::PluginAllocator();
    ReleaseBuffer();
    if (m_pPlugin) {
        m_pPlugin->Term(allocator);
        m_pPlugin = nullptr;
    }
    m_media.ReleaseAll();
    m_media.SetSettings(nullptr);
    if (m_pParams) {
        m_pParams->Destroy();
        m_pParams = nullptr;
    }
}

void CAuSourcePluginHost::GetBuffer(AuPipelineBuffer& buffer) noexcept {
    ReleaseBuffer();
    if (!m_pPlugin) {
        buffer.uValidFrames = 0;
        buffer.eState = AuResultFail;
        return;
    }
    if (buffer.uMaxFrames == 0) {
        buffer.uValidFrames = 0;
        buffer.eState = AuResultNoMoreData;
        return;
    }
    if (m_output.AllocAudioBuffer(buffer.uMaxFrames, m_pluginFormat.channelConfig) != AuResultSuccess) {
        buffer.uValidFrames = 0;
        buffer.eState = AuResultFail;
        return;
    }
    m_output.uValidFrames = 0;
    m_output.eState = AuResultDataNeeded;
    m_pPlugin->Execute(m_output);
    // A generator never hands more than the buffer holds.
    if (m_output.uValidFrames > m_output.uMaxFrames) m_output.uValidFrames = m_output.uMaxFrames;
    m_uPosition += m_output.uValidFrames;
    buffer.pData = m_output.pData;
    buffer.uMaxFrames = m_output.uMaxFrames;
    buffer.uValidFrames = m_output.uValidFrames;
    buffer.channelConfig = m_output.channelConfig;
    buffer.eState = m_output.eState;
    buffer.uPosition = m_uPosition - m_output.uValidFrames;
}

void CAuSourcePluginHost::ReleaseBuffer() noexcept {
    if (m_output.pData) m_output.FreeAudioBuffer();
}

AURESULT CAuSourcePluginHost::Seek() noexcept {
    if (!m_pPlugin) return AuResultFail;
    f64 position;
    if (m_pInstance->SeekByPercent()) {
        f64 fraction = m_pInstance->SeekPosition();
        if (!(fraction > 0.0)) fraction = 0.0;
        if (fraction > 1.0) fraction = 1.0;
        position = f64(m_pPlugin->GetDuration()) * fraction * m_pluginFormat.uSampleRate * 0.001;
    } else {
        f64 outputSamples = m_pInstance->SeekPosition();
        if (!(outputSamples > 0.0)) outputSamples = 0.0;
        position = outputSamples * m_pluginFormat.uSampleRate / g_OutputTiming.uSampleRate;
    }
    m_pInstance->ClearSeek();
    const u32 target = position < f64(UINT32_MAX) ? static_cast<u32>(position) : UINT32_MAX;
    const AURESULT result = m_pPlugin->Seek(target);
    if (result == AuResultSuccess) m_uPosition = target;
    return result;
}

AURESULT CAuSourcePluginHost::TimeSkip(u32& frames) noexcept {
    if (!m_pPlugin) return AuResultNoMoreData;
    const AURESULT result = m_pPlugin->TimeSkip(frames);
    if (result == AuResultNoMoreData) return result;
    m_uPosition += frames;
    return AuResultDataReady;
}

void CAuSourcePluginHost::VirtualOn(u32 behavior) noexcept {
    if (behavior == 0 && m_pPlugin) {
        m_pPlugin->Reset();
        m_uPosition = 0;
    }
}

void CAuSourcePluginHost::StopLooping() noexcept {
    if (m_pPlugin) m_pPlugin->StopLooping();
}

f32 CAuSourcePluginHost::GetDuration() const noexcept {
    return m_pPlugin ? m_pPlugin->GetDuration() : 0.0f;
}

f32 CAuSourcePluginHost::GetAnalyzedEnvelope(u32) noexcept {
    return m_pPlugin ? FastDecibels(m_pPlugin->GetEnvelope()) : 0.0f;
}

u32 CAuSourcePluginHost::GetMaxBufferLength() const noexcept {
    return g_uNumSamplesPerFrame;
}

AURESULT CAuSourcePluginHost::GetPluginMedia(u32 index, const u8*& data, u32& size) noexcept {
    m_media.GetMedia(index, data, size);
    return data ? AuResultSuccess : AuResultFail;
}

u16 CAuSourcePluginHost::GetNumLoops() const noexcept {
    return m_pInstance->LoopCount();
}
