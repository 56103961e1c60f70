#include "voices/AuXAudio2Sink.h"

#include "core/AuOutputTiming.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuOutputSide.h"

#include <ksmedia.h>
#include <windows.h>

#include <algorithm>
#include <cstring>

CAuXAudio2Sink* CAuXAudio2Sink::s_pFirstSink = nullptr;

namespace {

bool s_bLibraryPinned = false;

// Far outside any mix: only infinities are held at the edge.
constexpr f32 kSampleLimit = 2147483648.0f;

// The layout of a device with this many output channels.
u32 DeviceMask(u32 deviceChannels) {
    if (deviceChannels >= 7) return AU_SPEAKER_SETUP_7POINT1;
    if (deviceChannels < 4) return AU_SPEAKER_SETUP_STEREO;
    return AU_SPEAKER_SETUP_5POINT1;
}

} // namespace

CAuXAudio2Sink::CAuXAudio2Sink()
    : CAuBufferedSink(AuSinkKind_XAudio2), m_engineCallback(*this), m_voiceCallback(*this) {}

CAuXAudio2Sink::~CAuXAudio2Sink() = default;

CAuXAudio2Sink* CAuXAudio2Sink::FindLive(const CAuSinkBase* sink) {
    for (CAuXAudio2Sink* live = s_pFirstSink; live; live = live->m_pNextSink)
        if (live == sink) return live;
    return nullptr;
}

AURESULT CAuXAudio2Sink::Init(const AuPlatformInitSettings& platform, u32 channelMask, u32 options) {
    // 1. The engine: the game's own, or a new one.
    if (platform.reservedWord) {
        m_pXAudio2 = static_cast<IXAudio2*>(platform.reservedWord);
        m_pXAudio2->AddRef();
    } else {
        constexpr u32 kCreationFlags = 0;
        const CLSID& engineClass =
            (kCreationFlags & XAUDIO2_DEBUG_ENGINE) ? CLSID_XAudio2_Debug : CLSID_XAudio2;
        if (FAILED(CoCreateInstance(engineClass, nullptr, CLSCTX_INPROC_SERVER, IID_IXAudio2,
                                    reinterpret_cast<void**>(&m_pXAudio2))))
            return AuResultFail;
        if (FAILED(m_pXAudio2->Initialize(kCreationFlags, XAUDIO2_DEFAULT_PROCESSOR))) {
            m_pXAudio2->Release();
            m_pXAudio2 = nullptr;
            return AuResultFail;
        }
        // Voices outlive a released engine object inside the library, so it must never unload.
        if (!s_bLibraryPinned) {
            HMODULE library;
            s_bLibraryPinned =
                GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, "XAudio2_7.dll", &library) != FALSE;
        }
    }

    // 2-3. The device at the engine's rate, and the engine's notices.
    const u32 rate = g_OutputTiming.uSampleRate;
    if (FAILED(m_pXAudio2->CreateMasteringVoice(&m_pMasteringVoice, XAUDIO2_DEFAULT_CHANNELS, rate, 0, 0,
                                                nullptr)))
        return AuResultFail;
    m_bCallbacksRegistered = SUCCEEDED(m_pXAudio2->RegisterForCallbacks(&m_engineCallback));

    // 4. The layout: the one asked for, else the device's.
    u32 mask = channelMask;
    if (mask == 0) {
        XAUDIO2_DEVICE_DETAILS details;
        if (FAILED(m_pXAudio2->GetDeviceDetails(0, &details))) return AuResultFail;
        mask = DeviceMask(details.OutputFormat.Format.nChannels);
    }
    const AuChannelConfig config = AuChannelConfig::Standard(mask);
    m_uNumChannels = config.NumChannels();

    // 5-6. The sink buffer and the ring.
    if (AllocBuffer(config) != AuResultSuccess) return AuResultFail;
    m_channelConfig = config;
    m_uBlockSize = static_cast<u16>(m_uNumChannels * sizeof(f32));
    const u32 slotBytes = static_cast<u32>(m_uBlockSize) * g_uNumSamplesPerFrame;
    m_pRing = static_cast<u8*>(
        AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, AU_XAUDIO2_RING_SLOTS * slotBytes, 16));
    if (!m_pRing) return AuResultFail;
    memset(m_pRing, 0, AU_XAUDIO2_RING_SLOTS * slotBytes);
    for (u32 slot = 0; slot < AU_XAUDIO2_RING_SLOTS; ++slot)
        m_pSlots[slot] = m_pRing + slot * slotBytes;
    // More refills than slots would write over slots the voice still plays.
    m_uRefill = std::min<u32>(platform.outputRefillBuffers, AU_XAUDIO2_RING_SLOTS);

    // 7. The source voice, in the layout's float format.
    WAVEFORMATEXTENSIBLE format{};
    format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.Format.nChannels = static_cast<WORD>(m_uNumChannels);
    format.Format.nSamplesPerSec = rate;
    format.Format.nAvgBytesPerSec = m_uBlockSize * rate;
    format.Format.nBlockAlign = m_uBlockSize;
    format.Format.wBitsPerSample = 32;
    format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    format.Samples.wValidBitsPerSample = 32;
    format.dwChannelMask = mask;
    format.SubFormat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
    if (FAILED(m_pXAudio2->CreateSourceVoice(&m_pSourceVoice, &format.Format, 0, 1.0f, &m_voiceCallback,
                                             nullptr, nullptr)))
        return AuResultFail;
    m_pSourceVoice->SetVolume(1.0f);

    // 8. A running main XAudio2 sink hands its ring over, so that nothing it holds is lost.
    if (options & AU_SINK_OPTION_MAIN) {
        if (const CAuXAudio2Sink* old = FindLive(CAuLowerEngine::MainSink())) TakeOver(*old);
    }

    // 9.
    m_pNextSink = s_pFirstSink;
    s_pFirstSink = this;
    return AuResultSuccess;
}

void CAuXAudio2Sink::TakeOver(const CAuXAudio2Sink& old) {
    // Another layout cannot continue that ring.
    if (old.m_uBlockSize != m_uBlockSize) return;
    const i32 pending = std::clamp<i32>(old.m_iWritten.load(std::memory_order_acquire), 0, m_uRefill);
    const u32 slotBytes = static_cast<u32>(m_uBlockSize) * g_uNumSamplesPerFrame;
    // The oldest unplayed slot of the old ring becomes slot 0 here.
    for (i32 i = 0; i < pending; ++i) {
        const u32 from = (old.m_uWriteIndex + AU_XAUDIO2_RING_SLOTS - pending + i) % AU_XAUDIO2_RING_SLOTS;
        memcpy(m_pSlots[i], old.m_pSlots[from], slotBytes);
    }
    m_uWriteIndex = static_cast<u16>(pending);
    m_uSubmitIndex = 0;
    m_iWritten.store(pending, std::memory_order_release);
    for (i32 i = 0; i < pending; ++i)
        SubmitSlot(static_cast<u32>(i));
    m_uSubmitIndex = static_cast<u16>(pending % AU_XAUDIO2_RING_SLOTS);
}

AURESULT CAuXAudio2Sink::Term(AU::IAuPluginMemAlloc* allocator) {
    // Destroying the voices waits for their last callback, so nothing below runs concurrently.
    if (m_pSourceVoice) m_pSourceVoice->DestroyVoice();
    if (m_pMasteringVoice) m_pMasteringVoice->DestroyVoice();
    m_pSourceVoice = nullptr;
    m_pMasteringVoice = nullptr;
    m_buffer.FreeAudioBuffer();
    if (m_pXAudio2) {
        if (m_bCallbacksRegistered) m_pXAudio2->UnregisterForCallbacks(&m_engineCallback);
        m_pXAudio2->Release();
        m_pXAudio2 = nullptr;
    }
    m_uWriteIndex = m_uSubmitIndex = 0;
    for (u8*& slot : m_pSlots)
        slot = nullptr;
    if (m_pRing) AU::MemoryMgr::Falign(g_LEngineDefaultPoolId, m_pRing);
    m_pRing = nullptr;
    for (CAuXAudio2Sink** link = &s_pFirstSink; *link; link = &(*link)->m_pNextSink) {
        if (*link == this) {
            *link = m_pNextSink;
            break;
        }
    }
    return CAuBufferedSink::Term(allocator);
}

AURESULT CAuXAudio2Sink::Start() {
    return SUCCEEDED(m_pSourceVoice->Start(0, XAUDIO2_COMMIT_NOW)) ? AuResultSuccess : AuResultFail;
}

AURESULT CAuXAudio2Sink::IsDataNeeded(u32& buffers) noexcept {
    u32 answer = 1000;
    for (const CAuXAudio2Sink* sink = s_pFirstSink; sink; sink = sink->m_pNextSink) {
        // Never more than the ring holds, and none while it is full.
        const i32 room = static_cast<i32>(m_uRefill) - sink->m_iWritten.load(std::memory_order_acquire);
        answer = std::min(answer, static_cast<u32>(std::max(room, 0)));
    }
    buffers = answer;
    return m_bCriticalError.load(std::memory_order_relaxed) ? AuResultFail : AuResultSuccess;
}

void CAuXAudio2Sink::AdvanceWrite() noexcept {
    m_uWriteIndex = static_cast<u16>((m_uWriteIndex + 1) % AU_XAUDIO2_RING_SLOTS);
    m_iWritten.fetch_add(1, std::memory_order_acq_rel);
}

AURESULT CAuXAudio2Sink::WriteMix() noexcept {
    f32* slot = reinterpret_cast<f32*>(m_pSlots[m_uWriteIndex]);
    const u32 samples = static_cast<u32>(m_buffer.uValidFrames) * m_uNumChannels;
    for (u32 i = 0; i < samples; ++i)
        slot[i] = std::clamp(m_buffer.pData[i], -kSampleLimit, kSampleLimit);
    // The voice plays whole slots: a short mix must not be followed by what the slot held before.
    const u32 slotSamples = static_cast<u32>(g_uNumSamplesPerFrame) * m_uNumChannels;
    if (samples < slotSamples) memset(slot + samples, 0, (slotSamples - samples) * sizeof(f32));
    AdvanceWrite();
    return AuResultSuccess;
}

AURESULT CAuXAudio2Sink::WriteSilence() noexcept {
    memset(m_pSlots[m_uWriteIndex], 0, static_cast<size_t>(m_uBlockSize) * g_uNumSamplesPerFrame);
    AdvanceWrite();
    return AuResultSuccess;
}

u32 CAuXAudio2Sink::GetWaitTimeout() noexcept {
    return 2 * g_OutputTiming.uBufferMs;
}

void CAuXAudio2Sink::SubmitSlot(u32 index) noexcept {
    XAUDIO2_BUFFER buffer{};
    buffer.AudioBytes = static_cast<u32>(m_uBlockSize) * g_uNumSamplesPerFrame;
    buffer.pAudioData = m_pSlots[index];
    m_pSourceVoice->SubmitSourceBuffer(&buffer, nullptr);
}

void CAuXAudio2Sink::SubmitWritten() noexcept {
    XAUDIO2_VOICE_STATE state;
    m_pSourceVoice->GetState(&state);
    if (state.BuffersQueued >= m_uRefill) return;
    if (state.BuffersQueued == 0 && state.SamplesPlayed > 0)
        m_bStarved.store(true, std::memory_order_relaxed);
    u32 queued = state.BuffersQueued;
    // Only slots written and not held by the voice yet; "<" so that a count that ever fell behind
    // the voice cannot submit slots without end.
    const i32 written = m_iWritten.load(std::memory_order_acquire);
    while (static_cast<i32>(queued) < written) {
        SubmitSlot(m_uSubmitIndex);
        m_uSubmitIndex = static_cast<u16>((m_uSubmitIndex + 1) % AU_XAUDIO2_RING_SLOTS);
        ++queued;
    }
    if (queued < m_uRefill) AuSignalOutputEvent();
}

void CAuXAudio2Sink::VoiceCallback::OnVoiceProcessingPassStart(UINT32) {
    m_sink.SubmitWritten();
}

void CAuXAudio2Sink::VoiceCallback::OnBufferEnd(void*) {
    m_sink.m_iWritten.fetch_sub(1, std::memory_order_acq_rel);
    AuSignalOutputEvent();
}

void CAuXAudio2Sink::EngineCallback::OnCriticalError(HRESULT) {
    m_sink.m_bCriticalError.store(true, std::memory_order_relaxed);
    AuSignalOutputEvent();
}

CAuSinkBase* AuCreateXAudio2Sink(const AuPlatformInitSettings& platform, u32 channelMask, u32 options) {
    CAuXAudio2Sink* sink = AuNewInLEngine<CAuXAudio2Sink>();
    if (!sink) return nullptr;
    if (sink->Init(platform, channelMask, options) != AuResultSuccess) {
        sink->Term(&CAuLowerEngine::PluginAllocator());
        return nullptr;
    }
    return sink;
}
