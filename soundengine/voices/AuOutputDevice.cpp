#include "voices/AuOutputDevice.h"

#include "core/AuLog.h"
#include "core/AuOutputTiming.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuSink.h"

#include <algorithm>
#include <cstring>

AURESULT CAuOutputDevice::CreateSink(AuChannelConfig layout) {
    CAuSinkBase* sink = nullptr;
    if (settings.pfnSinkPluginCreator) {
        // Sink plug-ins are not hosted: the device then takes a built-in sink through the caller's
        // fall-back.
        return AuResultNoMemory;
    }
    AuOutputSettings requested = settings;
    requested.channelConfig = layout;
    sink = CreateOutputSink(requested, uOptions);
    if (!sink) return AuResultNoMemory;
    AuChannelConfig config = sink->ChannelConfig();
    if (config.IsStandard()) {
        u32 mask = config.ChannelMask();
        const bool back = mask & AU_SPEAKER_BACK_LEFT;
        const bool side = mask & AU_SPEAKER_SIDE_LEFT;
        if (back != side) {
            mask = (mask & ~(AU_SPEAKER_BACK_LEFT | AU_SPEAKER_BACK_RIGHT)) | AU_SPEAKER_SIDE_LEFT |
                   AU_SPEAKER_SIDE_RIGHT;
            config = AuChannelConfig::Standard(mask);
        }
    }
    pSink = sink;
    channelConfig = config;
    if (bIsMainOutput) CAuLowerEngine::SetMainSink(sink);
    return AuResultSuccess;
}

AURESULT CAuOutputDevice::SetSpeakerAngles(const f32* degrees, u32 count, f32 height) {
    if (!(height >= -90.0f && height <= 90.0f)) return AuResultInvalidParameter;
    const u32 total = std::max(count, uNumSpeakerAngles);
    if (total == 0) return AuResultFail;
    f32* merged = static_cast<f32*>(AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, total * sizeof(f32)));
    u32* units = static_cast<u32*>(AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, total * sizeof(u32)));
    AURESULT result = AuResultFail;
    if (merged && units) {
        memcpy(merged, degrees, count * sizeof(f32));
        if (total > count)
            CAuSpeakerPan::ConvertSpeakerAngles(pSpeakerAngles + count, total - count, merged + count);
        f32 gap = 0.0f;
        result = CAuSpeakerPan::SetSpeakerAngles(merged, total, units, gap);
        if (result == AuResultSuccess) {
            if (pSpeakerAngles) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, pSpeakerAngles);
            pSpeakerAngles = units;
            units = nullptr;
            uNumSpeakerAngles = total;
            fInvMinSpeakerGap = 1.0f / gap;
            fHeightAngle = height;
        }
    }
    if (merged) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, merged);
    if (units) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, units);
    RebuildPanTables();
    return result;
}

AURESULT CAuOutputDevice::GetSpeakerAngles(f32* degrees, u32& count, f32& height) const {
    if (!pSink || !channelConfig.IsStandard()) {
        count = 0;
        height = 0.0f;
        return AuResultFail;
    }
    height = fHeightAngle;
    if (!degrees) {
        count = AU_NUM_SPEAKER_ANGLES;
        return AuResultSuccess;
    }
    count = std::min({count, AU_NUM_SPEAKER_ANGLES, uNumSpeakerAngles});
    CAuSpeakerPan::ConvertSpeakerAngles(pSpeakerAngles, count, degrees);
    return AuResultSuccess;
}

void CAuOutputDevice::RebuildPanTables() {
    for (AuPanTableEntry& entry : panTables)
        CAuSpeakerPan::CreatePanTable(entry.uSpeakerMask, pSpeakerAngles, uNumSpeakerAngles, *entry.pTable);
}

AuPanTable* CAuOutputDevice::GetPanningTable(u32 speakerMask) {
    for (const AuPanTableEntry& entry : panTables)
        if (entry.uSpeakerMask == speakerMask) return entry.pTable;
    auto* table = static_cast<AuPanTable*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(AuPanTable)));
    if (!table) return nullptr;
    if (!panTables.AddLast({speakerMask, table})) {
        AU::MemoryMgr::Free(g_DefaultPoolId, table);
        return nullptr;
    }
    CAuSpeakerPan::CreatePanTable(speakerMask, pSpeakerAngles, uNumSpeakerAngles, *table);
    return table;
}

const AuPipelineBuffer* CAuOutputDevice::ToDeviceLayout(const AuPipelineBuffer& busBuffer) noexcept {
    if (busBuffer.channelConfig == channelConfig) return &busBuffer;
    if (!conversionBuffer.pData || conversionBuffer.channelConfig != channelConfig ||
        conversionBuffer.uMaxFrames != busBuffer.uMaxFrames) {
        conversionBuffer.FreeAudioBuffer();
        if (conversionBuffer.AllocAudioBuffer(busBuffer.uMaxFrames, channelConfig) != AuResultSuccess)
            return nullptr;
    }
    // Rows of at most 32 channels of four-padded columns: the engine's layouts stay far below.
    constexpr u32 kMaxChannels = 32;
    if (busBuffer.NumChannels() > kMaxChannels || channelConfig.NumChannels() > kMaxChannels) return nullptr;
    f32 matrix[kMaxChannels * kMaxChannels];
    CAuSpeakerPan::ComputeMatrixNoPan(busBuffer.channelConfig, channelConfig, matrix);
    memset(conversionBuffer.pData, 0,
           sizeof(f32) * channelConfig.NumChannels() * conversionBuffer.uMaxFrames);
    MixNChannels(busBuffer, conversionBuffer, {1.0f, 1.0f}, matrix, matrix, 0.0f, busBuffer.uMaxFrames);
    conversionBuffer.uValidFrames = busBuffer.uValidFrames;
    return &conversionBuffer;
}

void CAuOutputDevice::MixBus(const AuPipelineBuffer& busBuffer) noexcept {
    // The sink and capture buffers hold one frame of the engine's size.
    if (busBuffer.uMaxFrames > g_uNumSamplesPerFrame) return;
    const AuPipelineBuffer* buffer = ToDeviceLayout(busBuffer);
    if (!buffer || !pSink) return;
    const f32 start = busBuffer.fPrevGain * fPrevVolume * CAuLowerEngine::PreviousVolume();
    const f32 end = busBuffer.fGain * fVolume * CAuLowerEngine::Volume();
    if (pCaptureWriter && captureBuffer.pSamples && buffer->uValidFrames) {
        ConvertTo16Bit(buffer->pData, buffer->uMaxFrames, captureBuffer.pSamples, buffer->uMaxFrames,
                       buffer->channelConfig, start, end);
        captureBuffer.uValidFrames = buffer->uValidFrames;
    }
    pSink->PassData(*buffer, start, end);
}

void CAuOutputDevice::EndFrame() noexcept {
    if (pCaptureWriter && captureBuffer.pSamples) {
        // The buffer is kept silent between frames, since the busses add into it.
        const u32 bytes =
            captureBuffer.channelConfig.NumChannels() * u32{g_uNumSamplesPerFrame} * sizeof(i16);
        pCaptureWriter->WriteFrame(captureBuffer.pSamples, bytes);
        if (captureBuffer.uValidFrames) memset(captureBuffer.pSamples, 0, bytes);
        captureBuffer.uValidFrames = 0;
    }
    if (pSink) pSink->OnFrameEnd();
    fPrevVolume = fVolume;
}

AURESULT CAuOutputDevice::StartCapture(const wchar_t* fileName) {
    if (pCaptureWriter || captureBuffer.pSamples) return AuResultSuccess;
    const u32 bytes = channelConfig.NumChannels() * u32{g_uNumSamplesPerFrame} * sizeof(i16);
    if (bytes == 0) return AuResultFail;
    auto* samples = static_cast<i16*>(AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, bytes, 16));
    if (!samples) return AuResultNoMemory;
    memset(samples, 0, bytes);
    CAuWavFileWriter* writer = CAuWavFileWriter::Create(
        fileName, static_cast<u16>(channelConfig.NumChannels()), g_OutputTiming.uSampleRate);
    if (!writer) {
        AU::MemoryMgr::Falign(g_LEngineDefaultPoolId, samples);
        AuLog(AuLogLevel::Warning, "Output capture: the file of output %u/%u cannot be written", uDeviceType,
              uDeviceId);
        return AuResultFail;
    }
    captureBuffer.pSamples = samples;
    captureBuffer.channelConfig = channelConfig;
    captureBuffer.uValidFrames = 0;
    pCaptureWriter = writer;
    return AuResultSuccess;
}

void CAuOutputDevice::StopCapture() {
    if (pCaptureWriter) pCaptureWriter->Stop();
    pCaptureWriter = nullptr;
    if (captureBuffer.pSamples) AU::MemoryMgr::Falign(g_LEngineDefaultPoolId, captureBuffer.pSamples);
    captureBuffer = AuCaptureBuffer{};
}

void CAuOutputDevice::Destroy() {
    StopCapture();
    if (pSink) {
        if (CAuLowerEngine::MainSink() == pSink) CAuLowerEngine::SetMainSink(nullptr);
        pSink->Term(&CAuLowerEngine::PluginAllocator());
        pSink = nullptr;
    }
    channelConfig = AuChannelConfig();
    if (pSpeakerAngles) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, pSpeakerAngles);
    pSpeakerAngles = nullptr;
    uNumSpeakerAngles = 0;
    for (AuPanTableEntry& entry : panTables)
        AU::MemoryMgr::Free(g_DefaultPoolId, entry.pTable);
    panTables.Term();
    conversionBuffer.FreeAudioBuffer();
}
