#include "voices/AuMixBus.h"

#include "core/AuCpuInfo.h"
#include "core/AuLog.h"
#include "core/AuPlayingMgr.h"

#include "voices/AuLowerEngine.h"
#include "voices/AuSpeakerPan.h"
#include "voices/AuSpeakerSet.h"

#include "parameters/AuFastMath.h"

#include <AU/IAuStreamMgr.h>
#include <AU/MemoryMgr.h>

#include <cmath>
#include <cstring>
#include <new>

namespace {

f32 Clamp01(f32 value) {
    return value < 0.0f ? 0.0f : value > 1.0f ? 1.0f : value;
}

u32 MatrixFloats(AuChannelConfig input, AuChannelConfig output) {
    return input.NumChannels() * AuMatrixRowStride(output.NumChannels());
}

} // namespace

u32 CAuBusEffectContext::GetMaxBufferLength() const noexcept {
    return m_pBus ? m_pBus->GetMaxBufferLength() : 0;
}

CAuMixBus::~CAuMixBus() {
    Term();
}

f32 CAuMixBus::ToGain(f32 dB) noexcept {
    // A volume that is not a number of decibels is silence rather than a NaN or infinite mix.
    return !(dB * 0.05f >= -37.0f) || !std::isfinite(dB) ? 0.0f : AuDbToLinear(dB < 770.0f ? dB : 770.0f);
}

AURESULT CAuMixBus::Init(u32 deviceType, u32 deviceId, AuChannelConfig config, AuChannelConfig parentConfig,
                         u16 frames, IAuMixBusNode* node) noexcept {
    m_uDeviceType = deviceType;
    m_uDeviceId = deviceId;
    m_uFrames = frames;
    m_fInvFrames = frames ? 1.0f / f32(frames) : 0.0f;
    m_parentConfig = parentConfig;
    if (node) {
        m_pNode = node;
        node->AddRef();
        m_uBusID = node->BusNodeID();
    }
    if (g_pPlayingMgr) {
        m_bVolumeCallback = g_pPlayingMgr->BusCallbacks().HasVolumeCallback(m_uBusID);
        m_uCallbackMetering =
            static_cast<u8>(g_pPlayingMgr->BusCallbacks().GetMeteringFlags(m_uBusID) & AU_METERING_ALL);
    }
    for (u32 slot = 0; slot < AU_BUS_INSERT_SLOTS; ++slot)
        m_fx[slot].context.Init(this, slot);
    m_uActivity = kIdle;
    m_uNumConnections = 0;
    m_eState = AuResultNoMoreData;
    if (!config.NumChannels() || m_buffer.AllocAudioBuffer(frames, config) != AuResultSuccess)
        return AuResultNoMemory;
    memset(m_buffer.pData, 0, sizeof(f32) * config.NumChannels() * frames);
    m_buffer.uValidFrames = 0;
    LoadPositioning();
    const u32 floats = MatrixFloats(config, parentConfig);
    if (floats) {
        m_pPreviousMatrix =
            static_cast<f32*>(AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, floats * sizeof(f32), 16));
        m_pCurrentMatrix =
            static_cast<f32*>(AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, floats * sizeof(f32), 16));
        if (!m_pPreviousMatrix || !m_pCurrentMatrix) return AuResultFail;
        RefreshMatrix(true);
        memcpy(m_pPreviousMatrix, m_pCurrentMatrix, floats * sizeof(f32));
    }
    if (node) {
        AuEffectRecord mixer;
        node->GetMixerPlugin(mixer);
        if (mixer.pSettings) {
            mixer.pSettings->Release();
            void* block = AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, sizeof(MixerRecord));
            if (!block) return AuResultNoMemory;
            m_pMixer = new (block) MixerRecord();
        }
    }
    UpdateMeter();
    return AuResultSuccess;
}

void CAuMixBus::Term() noexcept {
    for (u32 slot = 0; slot < AU_BUS_INSERT_SLOTS; ++slot)
        EmptyFxSlot(slot);
    if (m_pMixer) {
        EmptyMixer();
        m_pMixer->~MixerRecord();
        AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pMixer);
        m_pMixer = nullptr;
    }
    if (m_pMeter) {
        m_pMeter->Term();
        AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pMeter);
        m_pMeter = nullptr;
    }
    if (m_pPreviousMatrix) AU::MemoryMgr::Falign(g_LEngineDefaultPoolId, m_pPreviousMatrix);
    if (m_pCurrentMatrix) AU::MemoryMgr::Falign(g_LEngineDefaultPoolId, m_pCurrentMatrix);
    m_pPreviousMatrix = m_pCurrentMatrix = nullptr;
    m_buffer.FreeAudioBuffer();
    if (m_pNode) m_pNode->Release();
    m_pNode = nullptr;
}

void CAuMixBus::LoadPositioning() noexcept {
    m_bPositioning = m_pNode && m_pNode->HasPositioning();
    if (m_bPositioning) {
        m_fCentre = m_pNode->GetProperty(AuBusProperty_Centre);
        m_fPanLR = m_pNode->GetProperty(AuBusProperty_PanLR);
        m_fPanFR = m_pNode->GetProperty(AuBusProperty_PanFR);
        m_bPositioningEnabled = m_pNode->GetProperty(AuBusProperty_PositioningEnabled) > 0.0f;
    } else {
        m_fPanLR = kDefaultPanLR;
        m_fPanFR = kDefaultPanFR;
        m_fCentre = kDefaultCentre;
        m_bPositioningEnabled = false;
    }
}

void CAuMixBus::RefreshMatrix(bool force) noexcept {
    if (!m_pCurrentMatrix) return;
    const u32 floats = MatrixFloats(m_buffer.channelConfig, m_parentConfig);
    memcpy(m_pPreviousMatrix, m_pCurrentMatrix, floats * sizeof(f32));
    if (!force && m_fPanLR == m_fLastPanLR && m_fPanFR == m_fLastPanFR && m_fCentre == m_fLastCentre &&
        m_bPositioningEnabled == m_bLastEnabled)
        return;
    m_fLastPanLR = m_fPanLR;
    m_fLastPanFR = m_fPanFR;
    m_fLastCentre = m_fCentre;
    m_bLastEnabled = m_bPositioningEnabled;
    const f32 x = Clamp01((m_fPanLR + 100.0f) * 0.005f);
    const f32 y = Clamp01((m_fPanFR + 100.0f) * 0.005f);
    const f32 c = m_bPositioning ? m_fCentre * 0.01f : 1.0f;
    CAuSpeakerPan::ComputeMixingMatrix(x, y, c, PansItself(), m_buffer.channelConfig, m_parentConfig,
                                       m_pCurrentMatrix);
    ++m_uMatrixBuilds;
    if (m_bVolumeCallback && m_buffer.channelConfig.IsStandard()) NotifyVolumeCallback();
}

void CAuMixBus::NotifyVolumeCallback() noexcept {
    if (!g_pPlayingMgr) return;
    f32 volume = m_fNextGain;
    AuSpeakerVolumeMatrixCallbackInfo info{};
    info.pVolumes = m_pCurrentMatrix;
    info.inputConfig = m_buffer.channelConfig;
    info.outputConfig = m_parentConfig;
    info.pfBaseVolume = &volume;
    info.pMixerContext = this;
    if (!g_pPlayingMgr->BusCallbacks().DoVolumeCallback(m_uBusID, &info) || volume == m_fNextGain) return;
    // Taken as SetVolume takes a gain: the next buffer ramps to it. Not a number is silence.
    m_fCurrentGain = m_fNextGain = std::isfinite(volume) && volume > 0.0f ? volume : 0.0f;
}

void CAuMixBus::Connect() noexcept {
    if (m_uActivity != kActive) {
        if (m_pNode) {
            m_fVolumeDb = m_pNode->GetProperty(AuBusProperty_BusVolume);
            m_fPreviousGain = m_fCurrentGain = m_fNextGain = ToGain(m_fVolumeDb);
        }
    }
    if (m_pMixer) {
        if (!m_pMixer->pPlugin && !m_pMixer->bTried) SetMixerPlugin();
        if (m_pMixer->pPlugin) m_pMixer->pPlugin->OnInputConnected();
    }
    ++m_uNumConnections;
}

void CAuMixBus::Disconnect() noexcept {
    if (m_uNumConnections) --m_uNumConnections;
    if (m_pMixer && m_pMixer->pPlugin) m_pMixer->pPlugin->OnInputDisconnected();
}

void CAuMixBus::MixBuffer(AuPipelineBuffer& voice, const f32* previousMatrix, const f32* currentMatrix,
                          AuGainPair volumes) noexcept {
    if (!voice.uValidFrames || !voice.pData || !m_buffer.pData) return;
    SetUpEffects();
    m_eState = AuResultDataReady;
    m_uActivity = kActive;
    voice.FreeMarkers();
    const u32 frames = voice.uMaxFrames < m_uFrames ? voice.uMaxFrames : m_uFrames;
    if (voice.uValidFrames < voice.uMaxFrames) {
        for (u32 c = 0; c < voice.NumChannels(); ++c)
            memset(voice.GetChannel(c) + voice.uValidFrames, 0,
                   sizeof(f32) * (voice.uMaxFrames - voice.uValidFrames));
        voice.uValidFrames = voice.uMaxFrames;
    }
    if (AU::IAuMixerPlugin* mixer = MixerPlugin())
        mixer->ConsumeInput(voice, previousMatrix, currentMatrix, volumes, m_buffer);
    else
        ::MixNChannels(voice, m_buffer, volumes, previousMatrix, currentMatrix, m_fInvFrames, frames);
    m_buffer.uValidFrames = m_uFrames;
}

void CAuMixBus::MixBus(const AuPipelineBuffer& childBuffer, const CAuMixBus& child) noexcept {
    if (!childBuffer.uValidFrames || !childBuffer.pData || !m_buffer.pData) return;
    SetUpEffects();
    m_eState = AuResultDataReady;
    m_uActivity = kActive;
    const u32 frames = childBuffer.uMaxFrames < m_uFrames ? childBuffer.uMaxFrames : m_uFrames;
    const AuGainPair volumes{childBuffer.fPrevGain, childBuffer.fGain};
    if (AU::IAuMixerPlugin* mixer = MixerPlugin()) {
        mixer->ConsumeInput(childBuffer, child.m_pPreviousMatrix, child.m_pCurrentMatrix, volumes, m_buffer);
    } else if (childBuffer.channelConfig == m_buffer.channelConfig && !child.PansItself() &&
               !child.m_bVolumeCallback) {
        const f32 step = (volumes.fCurrent - volumes.fPrevious) * m_fInvFrames;
        for (u32 c = 0; c < m_buffer.NumChannels(); ++c)
            MixChannelRamp(childBuffer.GetChannel(c), m_buffer.GetChannel(c), volumes.fPrevious, step,
                           frames);
    } else if (child.m_pCurrentMatrix) {
        ::MixNChannels(childBuffer, m_buffer, volumes, child.m_pPreviousMatrix, child.m_pCurrentMatrix,
                       m_fInvFrames, frames);
    }
    m_buffer.uValidFrames = m_uFrames;
}

void CAuMixBus::GetResultingBuffer(AuPipelineBuffer& out) noexcept {
    AU::IAuMixerPlugin* mixer = MixerPlugin();
    if (mixer) mixer->OnMixDone(m_buffer);
    if (m_uActivity == kActive) RunEffects();
    m_buffer.fPrevGain = m_fPreviousGain;
    m_buffer.fGain = m_fCurrentGain;
    m_buffer.eState = m_eState;
    out = m_buffer;
    m_fPreviousGain = m_fCurrentGain = m_fNextGain;
    RefreshMatrix(false);
    if (m_pMeter) {
        m_pMeter->BusMeter(m_buffer.uValidFrames ? m_fCurrentGain : 0.0f, m_buffer);
        if (m_uCallbackMetering && g_pPlayingMgr)
            g_pPlayingMgr->BusCallbacks().DoMeteringCallback(m_uBusID, m_pMeter, m_buffer.channelConfig);
    }
    if (mixer) mixer->OnEffectsProcessed(m_buffer);
}

void CAuMixBus::ClearBuffer() noexcept {
    m_uActivity = m_eState == AuResultNoMoreData ? kIdle : kActive;
    m_eState = AuResultNoMoreData;
    if (m_buffer.pData && m_buffer.uValidFrames)
        memset(m_buffer.pData, 0, sizeof(f32) * m_buffer.NumChannels() * m_buffer.uMaxFrames);
    m_buffer.uValidFrames = 0;
    while (m_uNumConnections)
        Disconnect();
}

void CAuMixBus::SetVolume(f32 dB) noexcept {
    m_fVolumeDb = dB;
    m_fCurrentGain = m_fNextGain = ToGain(dB);
}

void CAuMixBus::OffsetVolume(f32 dB) noexcept {
    m_fVolumeDb += dB;
    m_fPreviousGain = m_fCurrentGain = m_fNextGain = ToGain(m_fVolumeDb);
}

void CAuMixBus::SetParam(u32 id, f32 value) noexcept {
    switch (id) {
    case AuBusProperty_Centre:
        m_fCentre = value;
        break;
    case AuBusProperty_PanLR:
        m_fPanLR = value;
        break;
    case AuBusProperty_PanFR:
        m_fPanFR = value;
        break;
    case AuBusProperty_PositioningEnabled:
        m_bPositioningEnabled = value > 0.0f;
        break;
    default:
        break;
    }
}

void CAuMixBus::EnableMetering(u32 flags) noexcept {
    m_uPluginMetering = static_cast<u8>(flags & AU_METERING_ALL);
    UpdateMeter();
}

void CAuMixBus::SetCallbackMetering(u32 flags) noexcept {
    m_uCallbackMetering = static_cast<u8>(flags & AU_METERING_ALL);
    UpdateMeter();
}

void CAuMixBus::UpdateMeter() noexcept {
    const u32 flags = (m_uCallbackMetering | m_uPluginMetering) & AU_METERING_ALL;
    if (m_pMeter && m_pMeter->uFlags != flags) {
        m_pMeter->Term();
        AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pMeter);
        m_pMeter = nullptr;
    }
    if (!flags || m_pMeter) return;
    void* block = AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, sizeof(AuBusMeterData));
    if (!block) return;
    m_pMeter = new (block) AuBusMeterData();
    if (m_pMeter->Init(m_buffer.NumChannels(), AU_METER_RATE, flags) != AuResultSuccess) {
        m_pMeter->Term();
        AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pMeter);
        m_pMeter = nullptr;
    }
}

void CAuMixBus::EmptyFxSlot(u32 slot) noexcept {
    FxSlot& fx = m_fx[slot];
    if (fx.pEffect) fx.pEffect->Term(&CAuLowerEngine::PluginAllocator());
    // The media go back before the settings that name them may end with the holder.
    fx.context.Media().ReleaseAll();
    fx.context.Media().SetSettings(nullptr);
    if (fx.pHolder) fx.pHolder->Destroy();
    fx.pEffect = nullptr;
    fx.pHolder = nullptr;
}

void CAuMixBus::EmptyMixer() noexcept {
    if (m_pMixer->pPlugin) m_pMixer->pPlugin->Term(&CAuLowerEngine::PluginAllocator());
    m_pMixer->media.ReleaseAll();
    m_pMixer->media.SetSettings(nullptr);
    if (m_pMixer->pHolder) m_pMixer->pHolder->Destroy();
    m_pMixer->pPlugin = nullptr;
    m_pMixer->pHolder = nullptr;
}

void CAuMixBus::SetMixerPlugin() noexcept {
    if (!m_pMixer || !m_pNode) return;
    EmptyMixer();
    m_pMixer->bTried = true;
    AuEffectRecord record;
    m_pNode->GetMixerPlugin(record);
    if (!record.pSettings) return;
    m_pMixer->pHolder = CAuPluginParamHolder::Create(*record.pSettings, AuRTPCKey{});
    const u32 key = record.pSettings->PluginID();
    record.pSettings->Release();
    if (!m_pMixer->pHolder) return;
    m_pMixer->media.SetSettings(&m_pMixer->pHolder->Settings());
    AU::IAuPluginMemAlloc* allocator = &CAuLowerEngine::PluginAllocator();
    AU::IAuPlugin* plugin = nullptr;
    AuPluginInfo info;
    if (CAuLowerEngine::CreatePlugin(allocator, key, plugin) != AuResultSuccess || !plugin ||
        plugin->GetPluginInfo(info) != AuResultSuccess || info.eType != AuPluginTypeMixer) {
        if (plugin) plugin->Term(allocator);
        AuLog(AuLogLevel::Warning, "bus %u mixes without its mixer plug-in 0x%08X: not a mixer", m_uBusID,
              key);
        EmptyMixer();
        return;
    }
    m_pMixer->pPlugin = static_cast<AU::IAuMixerPlugin*>(plugin);
    AuPluginFormat format{AU_METER_RATE, m_buffer.channelConfig};
    if (m_pMixer->pPlugin->Init(allocator, this, m_pMixer->pHolder->Params(), format) != AuResultSuccess ||
        m_pMixer->pPlugin->Reset() != AuResultSuccess)
        EmptyMixer();
}

AURESULT CAuMixBus::GetPluginMedia(u32 index, const u8*& data, u32& size) noexcept {
    data = nullptr;
    size = 0;
    if (m_pMixer) m_pMixer->media.GetMedia(index, data, size);
    return data ? AuResultSuccess : AuResultFail;
}

bool CAuMixBus::UsesData(const u8* data, u32 size) const noexcept {
    for (const FxSlot& fx : m_fx)
        if (fx.pEffect && fx.context.Media().UsesData(data, size)) return true;
    return m_pMixer && m_pMixer->media.UsesData(data, size);
}

void CAuMixBus::TearDownEffects() noexcept {
    for (u32 slot = 0; slot < AU_BUS_INSERT_SLOTS; ++slot)
        EmptyFxSlot(slot);
    if (m_pMixer) {
        EmptyMixer();
        m_pMixer->bTried = false;
    }
    m_bEffectsCreated = false;
}

AU::IAuStreamMgr* CAuMixBus::GetStreamMgr() const noexcept {
    return AU::IAuStreamMgr::m_pStreamMgr;
}

CAuCpuInfo* CAuMixBus::GetCpuInfo() const noexcept {
    return CAuCpuInfo::Get();
}

u32 CAuMixBus::GetBusType() const noexcept {
    const bool motion = m_pNode && m_pNode->IsMotionBus();
    const bool master = !m_pNode || !m_pNode->ParentBusNode();
    return (motion ? 2u : 0u) + (master ? 1u : 0u);
}

AURESULT CAuMixBus::GetSpeakerAngles(f32* degrees, u32& count, f32& height) const noexcept {
    const CAuOutputDevice* device = CAuLowerEngine::FindDevice(m_uDeviceType, m_uDeviceId);
    return device ? device->GetSpeakerAngles(degrees, count, height) : AuResultFail;
}

AuChannelConfig CAuMixBus::PanningLayout(AuChannelConfig config) noexcept {
    constexpr u32 kBackPair = AU_SPEAKER_BACK_LEFT | AU_SPEAKER_BACK_RIGHT;
    constexpr u32 kSidePair = AU_SPEAKER_SIDE_LEFT | AU_SPEAKER_SIDE_RIGHT;
    if (!config.IsStandard()) return config;
    const u32 mask = config.ChannelMask();
    const bool back = (mask & kBackPair) == kBackPair;
    const bool side = (mask & kSidePair) == kSidePair;
    if (!back || side) return config;
    return AuChannelConfig::Standard((mask & ~kBackPair) | kSidePair);
}

AURESULT CAuMixBus::ComputeSpeakerVolumesDirect(AuChannelConfig input, AuChannelConfig output, f32,
                                                f32* matrix) noexcept {
    if (!matrix) return AuResultFail;
    CAuSpeakerPan::ComputeMatrixNoPan(PanningLayout(input), PanningLayout(output), matrix);
    return AuResultSuccess;
}

AURESULT CAuMixBus::ComputeSpeakerVolumes2DPanner(f32 x, f32 y, f32 centre, AuChannelConfig input,
                                                  AuChannelConfig output, f32* matrix) noexcept {
    if (!matrix) return AuResultFail;
    auto toUnit = [](f32 v) { return ((v < -1.0f ? -1.0f : v > 1.0f ? 1.0f : v) + 1.0f) * 0.5f; };
    // A position that is not a number is the centre.
    CAuSpeakerPan::ComputeMixingMatrix(std::isfinite(x) ? toUnit(x) : 0.5f,
                                       std::isfinite(y) ? toUnit(y) : 0.5f, centre, true,
                                       PanningLayout(input), PanningLayout(output), matrix);
    return AuResultSuccess;
}

AURESULT CAuMixBus::ComputeSpeakerVolumes3D(f32 azimuth, f32 centre, f32 spread, f32 focus,
                                            AuChannelConfig input, AuChannelConfig output,
                                            f32* matrix) noexcept {
    CAuOutputDevice* device = CAuLowerEngine::FindDevice(m_uDeviceType, m_uDeviceId);
    if (!matrix || !device) return AuResultFail;
    return CAuSpeakerPan::GetSpeakerVolumes3D(azimuth, centre, spread, focus, matrix,
                                              PanningLayout(input).WithoutLFE().NumChannels(),
                                              PanningLayout(output), *device);
}

AURESULT CAuMixBus::ComputePositioning(f32 azimuth, f32, f32 spread, AuChannelConfig input,
                                       AuChannelConfig output, f32 focus, f32* matrix) noexcept {
    if (!matrix) return AuResultFail;
    const u32 stride = AuMatrixRowStride(output.NumChannels());
    memset(matrix, 0, sizeof(f32) * input.NumChannels() * stride);
    const AURESULT result = ComputeSpeakerVolumes3D(azimuth, 1.0f, spread, focus, input, output, matrix);
    // The LFE row and column come last.
    if (result == AuResultSuccess && input.HasLFE() && output.HasLFE())
        matrix[(input.NumChannels() - 1) * stride + output.NumChannels() - 1] = 1.0f;
    return result;
}

AURESULT CAuMixBus::InitSphericalVBAP(AU::IAuPluginMemAlloc* allocator, const f32* positions, u32 count,
                                      void*& handle) noexcept {
    handle = nullptr;
    if (!allocator || !positions || count < 2 || count > 255) return AuResultFail;
    // One block: the set, then a vector and a plane point per speaker, the virtual speaker last.
    const u32 speakers = count + 1;
    const size_t size = sizeof(CAuSpeakerSet) + speakers * (sizeof(AuSpeakerVector) + 2 * sizeof(f32));
    void* block = allocator->Malloc(size);
    if (!block) return AuResultFail;
    auto* set = new (block) CAuSpeakerSet();
    auto* vectors = reinterpret_cast<AuSpeakerVector*>(set + 1);
    auto* points = reinterpret_cast<f32*>(vectors + speakers);
    for (u32 i = 0; i < count; ++i) {
        const f32 azimuth = positions[2 * i], elevation = positions[2 * i + 1];
        vectors[i] = {{std::cos(azimuth) * std::cos(elevation), std::sin(azimuth) * std::cos(elevation),
                       std::sin(elevation)}};
        points[2 * i] = azimuth;
        points[2 * i + 1] = elevation;
    }
    // The virtual speaker straight below closes the set, so that speakers in one plane still form
    // triangles; what falls on it pans on its two real neighbours.
    constexpr f32 kPi = 3.14159265358979f;
    vectors[count] = {{0.0f, 0.0f, -1.0f}};
    points[2 * count] = 0.0f;
    points[2 * count + 1] = -0.5f * kPi;
    set->uNumSpeakers = speakers;
    set->pSpeakers = vectors;
    bool made = set->Triangulate(points, set->listA);
    // List B is the same speakers seen across the rear: azimuths below 0 unwrapped past pi, which
    // gives the triangles that straddle the seam.
    for (u32 i = 0; i < count; ++i)
        if (points[2 * i] < 0.0f) points[2 * i] += 2.0f * kPi;
    points[2 * count] = kPi;
    made = made && set->Triangulate(points, set->listB);
    if (!made || set->listA.uCount + set->listB.uCount == 0) {
        TermSphericalVBAP(allocator, set);
        return AuResultFail;
    }
    handle = set;
    return AuResultSuccess;
}

AURESULT CAuMixBus::ComputeSpeakerVolumesVBAP(void* handle, f32 azimuth, f32 elevation, u32 channels,
                                              f32* gains) noexcept {
    if (!handle || !gains) return AuResultFail;
    static_cast<const CAuSpeakerSet*>(handle)->ComputeGains(azimuth, elevation, channels, gains);
    return AuResultSuccess;
}

AURESULT CAuMixBus::TermSphericalVBAP(AU::IAuPluginMemAlloc* allocator, void* handle) noexcept {
    if (!allocator || !handle) return AuResultFail;
    auto* set = static_cast<CAuSpeakerSet*>(handle);
    set->listA.Term();
    set->listB.Term();
    set->~CAuSpeakerSet();
    allocator->Free(set);
    return AuResultSuccess;
}

void CAuMixBus::MixNChannels(const AuPipelineBuffer& input, AuPipelineBuffer& output,
                             const f32* previousMatrix, const f32* nextMatrix) noexcept {
    if (!input.pData || !output.pData || !previousMatrix || !nextMatrix) return;
    const u32 frames = input.uMaxFrames < output.uMaxFrames ? input.uMaxFrames : output.uMaxFrames;
    ::MixNChannels(input, output, {1.0f, 1.0f}, previousMatrix, nextMatrix, m_fInvFrames,
                   frames < m_uFrames ? frames : m_uFrames);
}

void CAuMixBus::MixChannel(const f32* input, AuPipelineBuffer& output, AuGainPair gains,
                           const f32* previousRow, const f32* nextRow) noexcept {
    if (!input || !output.pData || !previousRow || !nextRow) return;
    const u32 frames = output.uMaxFrames < m_uFrames ? output.uMaxFrames : m_uFrames;
    MixOneChannel(input, output, output.NumChannels(), previousRow, nextRow, gains, m_fInvFrames, frames);
}

void CAuMixBus::ApplyGainRamp(const f32* input, f32* output, f32 start, f32 end, u32 frames) noexcept {
    if (!input || !output || !frames) return;
    const f32 step = (end - start) / static_cast<f32>(frames);
    // The vector kernel takes aligned blocks of eight frames; a plug-in's own arrays may be neither.
    const bool aligned = (reinterpret_cast<uintptr_t>(input) | reinterpret_cast<uintptr_t>(output)) % 16 == 0;
    if (aligned && frames % 8 == 0)
        MixChannelRamp(input, output, start, step, frames);
    else
        AuMixReference::MixChannelRamp(input, output, start, step, frames);
}

void CAuMixBus::SetInsertFx(u32 slot) noexcept {
    if (slot >= AU_BUS_INSERT_SLOTS) return;
    EmptyFxSlot(slot);
    if (!m_pNode) return;
    AuEffectRecord record;
    m_pNode->GetInsertEffect(slot, record);
    if (!record.pSettings) return;
    FxSlot& fx = m_fx[slot];
    fx.bBypassed = record.bBypass;
    // A bus answers for every object: its curves follow the global values.
    fx.pHolder = CAuPluginParamHolder::Create(*record.pSettings, AuRTPCKey{});
    const u32 key = record.pSettings->PluginID();
    record.pSettings->Release();
    if (!fx.pHolder) return;
    fx.context.Media().SetSettings(&fx.pHolder->Settings());
    AU::IAuPluginMemAlloc* allocator = &CAuLowerEngine::PluginAllocator();
    AU::IAuPlugin* effect = nullptr;
    if (CAuLowerEngine::CreatePlugin(allocator, key, effect) != AuResultSuccess || !effect) {
        EmptyFxSlot(slot);
        return;
    }
    fx.pEffect = effect;
    AuPluginInfo info;
    AuPluginFormat format{AU_METER_RATE, m_buffer.channelConfig};
    if (effect->GetPluginInfo(info) != AuResultSuccess || info.bRefused ||
        effect->Init(allocator, &fx.context, fx.pHolder->Params(), format) != AuResultSuccess ||
        effect->Reset() != AuResultSuccess)
        EmptyFxSlot(slot);
}

void CAuMixBus::SetUpEffects() noexcept {
    if (m_bEffectsCreated) return;
    m_bEffectsCreated = true;
    for (u32 slot = 0; slot < AU_BUS_INSERT_SLOTS; ++slot)
        SetInsertFx(slot);
    m_bBypassAll = m_pNode && m_pNode->BypassAllEffects();
}

void CAuMixBus::SetInsertFxBypass(u32 values, u32 mask) noexcept {
    for (u32 slot = 0; slot < AU_BUS_INSERT_SLOTS; ++slot)
        if (mask & (1u << slot)) m_fx[slot].bBypassed = values & (1u << slot);
    if (mask & (1u << AU_BUS_INSERT_SLOTS)) m_bBypassAll = values & (1u << AU_BUS_INSERT_SLOTS);
}

void CAuMixBus::RunEffects() noexcept {
    // With nothing mixed the buffer reads as ended input: an effect with a tail pads it and
    // answers 45 while it still rings.
    m_buffer.eState = m_eState;
    for (FxSlot& fx : m_fx) {
        const bool bypassed = fx.bBypassed || m_bBypassAll;
        if (fx.pEffect) {
            // An effect switched off starts clean when it comes back.
            if (bypassed && !fx.bWasBypassed) fx.pEffect->Reset();
            if (!bypassed) fx.pEffect->Execute(m_buffer);
        }
        fx.bWasBypassed = bypassed;
    }
    if (m_buffer.eState == AuResultDataReady) m_eState = AuResultDataReady;
}
