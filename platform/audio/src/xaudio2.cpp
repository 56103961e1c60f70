// The XAudio2 engine over one SDL float device. Each SDL callback is one processing pass: engine
// pass start, every started voice's pass start, the voices' queued buffers mixed into the device
// (OnBufferStart and OnBufferEnd around each buffer), the voices' pass ends, the engine pass end.
// No stand-in lock is held while a callback runs, because callbacks call GetState and
// SubmitSourceBuffer; the SDL device lock is what keeps voices alive through a pass.
#include "internal.h"

#include <ksmedia.h>
#include <xaudio2.h>

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

namespace audio {
namespace {

class Engine;

struct QueuedBuffer {
    XAUDIO2_BUFFER buffer;
    UINT32 framesDone = 0;
    bool started = false;
};

class SourceVoice final : public IXAudio2SourceVoice {
public:
    SourceVoice(Engine* engine, UINT32 channels, IXAudio2VoiceCallback* callback)
        : engine_(engine), channels_(channels), callback_(callback) {
        CountObject(1);
    }
    ~SourceVoice() { CountObject(-1); }

    HRESULT SetVolume(float volume, UINT32 operationSet) override;
    void DestroyVoice() override;
    HRESULT Start(UINT32 flags, UINT32 operationSet) override;
    HRESULT SubmitSourceBuffer(const XAUDIO2_BUFFER* buffer, const XAUDIO2_BUFFER_WMA* wma) override;
    void GetState(XAUDIO2_VOICE_STATE* state) override;

    // [SDL thread] Mixes up to `frames` queued frames into the device buffer.
    void Pull(float* out, UINT32 frames, UINT32 outChannels);

    Engine* engine_;
    const UINT32 channels_;
    IXAudio2VoiceCallback* const callback_;
    // Guarded by the engine's mutex.
    bool started_ = false;
    float volume_ = 1.0f;
    std::deque<QueuedBuffer> queue_;
    UINT64 samplesPlayed_ = 0;
};

class MasteringVoice final : public IXAudio2MasteringVoice {
public:
    explicit MasteringVoice(Engine* engine) : engine_(engine) { CountObject(1); }
    ~MasteringVoice() { CountObject(-1); }
    HRESULT SetVolume(float volume, UINT32 operationSet) override;
    void DestroyVoice() override;

    Engine* engine_;
};

std::mutex g_enginesMutex;
std::vector<Engine*> g_engines;

class Engine final : public Com<IXAudio2> {
public:
    Engine() {
        std::lock_guard<std::mutex> lock(g_enginesMutex);
        g_engines.push_back(this);
    }
    ~Engine() override {
        {
            std::lock_guard<std::mutex> lock(g_enginesMutex);
            g_engines.erase(std::find(g_engines.begin(), g_engines.end(), this));
        }
        // Voices the caller left behind go with the engine.
        while (!sources_.empty())
            sources_.back()->DestroyVoice();
        if (master_) master_->DestroyVoice();
        if (sdlStarted_) StopSdlAudio();
    }

    HRESULT GetDeviceDetails(UINT32 index, XAUDIO2_DEVICE_DETAILS* details) override;
    HRESULT Initialize(UINT32 flags, XAUDIO2_PROCESSOR processor) override;
    HRESULT RegisterForCallbacks(IXAudio2EngineCallback* callback) override;
    void UnregisterForCallbacks(IXAudio2EngineCallback* callback) override;
    HRESULT CreateSourceVoice(IXAudio2SourceVoice** voice, const WAVEFORMATEX* format, UINT32 flags,
                              float maxFrequencyRatio, IXAudio2VoiceCallback* callback,
                              const XAUDIO2_VOICE_SENDS* sends, const XAUDIO2_EFFECT_CHAIN* effects) override;
    HRESULT CreateMasteringVoice(IXAudio2MasteringVoice** voice, UINT32 channels, UINT32 sampleRate,
                                 UINT32 flags, UINT32 deviceIndex,
                                 const XAUDIO2_EFFECT_CHAIN* effects) override;

    void RaiseCriticalError(HRESULT error);
    void RemoveSource(SourceVoice* voice);
    void CloseMaster();

    // Guards the voice lists, the callbacks and every voice's queue and state.
    std::mutex mutex_;
    std::vector<SourceVoice*> sources_;
    std::vector<IXAudio2EngineCallback*> callbacks_;
    MasteringVoice* master_ = nullptr;
    std::unique_ptr<Output> output_;

private:
    void* Answer(REFIID riid) override {
        return riid == IID_IUnknown || riid == IID_IXAudio2 ? static_cast<IXAudio2*>(this) : nullptr;
    }
    static void Render(void* self, Uint8* stream, int bytes);
    unsigned DeviceChannels() const;

    bool initialized_ = false;
    bool sdlStarted_ = false;
    // Set before the device opens; the SDL thread reads it in every pass.
    UINT32 outChannels_ = 0;
    // Copies taken at the start of a pass; only the SDL thread touches them.
    std::vector<IXAudio2EngineCallback*> passCallbacks_;
    std::vector<SourceVoice*> passVoices_;
};

unsigned Engine::DeviceChannels() const {
    if (unsigned channels = DeviceChannelsSetting()) return channels;
    SDL_AudioSpec spec;
    NoteSdlUse();
    if (SDL_GetDefaultAudioInfo(nullptr, &spec, 0) == 0 && spec.channels > 0) return spec.channels;
    // Drivers without a device list (dummy, disk) play whatever they are given: stereo.
    return 2;
}

HRESULT Engine::Initialize(UINT32 flags, XAUDIO2_PROCESSOR) {
    if (HRESULT failure = InjectedFailure("IXAudio2::Initialize")) return failure;
    if (initialized_ || (flags & ~XAUDIO2_DEBUG_ENGINE)) return XAUDIO2_E_INVALID_CALL;
    // A machine without audio still initialises; creating the mastering voice is what fails.
    sdlStarted_ = StartSdlAudio();
    initialized_ = true;
    return S_OK;
}

HRESULT Engine::GetDeviceDetails(UINT32 index, XAUDIO2_DEVICE_DETAILS* details) {
    if (HRESULT failure = InjectedFailure("IXAudio2::GetDeviceDetails")) return failure;
    if (!initialized_) return XAUDIO2_E_INVALID_CALL;
    if (!details || index != 0) return E_INVALIDARG;
    if (!sdlStarted_) return XAUDIO2_E_NO_DEVICE;
    std::memset(details, 0, sizeof(*details));
    const wchar_t id[] = L"sdl-default-playback";
    std::copy(std::begin(id), std::end(id), details->DeviceID);
    const wchar_t name[] = L"Default playback device";
    std::copy(std::begin(name), std::end(name), details->DisplayName);
    details->Role = GlobalDefaultDevice;
    WAVEFORMATEX& format = details->OutputFormat.Format;
    format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.nChannels = static_cast<WORD>(DeviceChannels());
    format.nSamplesPerSec = 48000;
    format.wBitsPerSample = 32;
    format.nBlockAlign = static_cast<WORD>(format.nChannels * 4);
    format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
    format.cbSize = 22;
    details->OutputFormat.Samples.wValidBitsPerSample = 32;
    details->OutputFormat.SubFormat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
    return S_OK;
}

HRESULT Engine::RegisterForCallbacks(IXAudio2EngineCallback* callback) {
    if (!callback) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::find(callbacks_.begin(), callbacks_.end(), callback) == callbacks_.end())
        callbacks_.push_back(callback);
    return S_OK;
}

void Engine::UnregisterForCallbacks(IXAudio2EngineCallback* callback) {
    // Waits for a running pass, so the callback is not called after this returns.
    if (output_) output_->Lock();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        callbacks_.erase(std::remove(callbacks_.begin(), callbacks_.end(), callback), callbacks_.end());
    }
    if (output_) output_->Unlock();
}

HRESULT Engine::CreateMasteringVoice(IXAudio2MasteringVoice** voice, UINT32 channels, UINT32 sampleRate,
                                     UINT32, UINT32 deviceIndex, const XAUDIO2_EFFECT_CHAIN* effects) {
    if (!voice) return E_INVALIDARG;
    *voice = nullptr;
    if (HRESULT failure = InjectedFailure("IXAudio2::CreateMasteringVoice")) return failure;
    if (!initialized_ || master_ || effects) return XAUDIO2_E_INVALID_CALL;
    if (deviceIndex != 0) return E_INVALIDARG;
    if (!sdlStarted_) return XAUDIO2_E_NO_DEVICE;
    if (channels == XAUDIO2_DEFAULT_CHANNELS) channels = DeviceChannels();
    if (sampleRate == XAUDIO2_DEFAULT_SAMPLERATE) sampleRate = 48000;
    if (channels > 8 || sampleRate < 1000 || sampleRate > 200000) return E_INVALIDARG;
    if (ChannelCountRefused(channels)) return XAUDIO2_E_NO_DEVICE;
    outChannels_ = channels;
    std::unique_ptr<Output> output = Output::Open(AUDIO_F32SYS, channels, sampleRate, Render, this);
    if (!output) return XAUDIO2_E_NO_DEVICE;
    std::lock_guard<std::mutex> lock(mutex_);
    output_ = std::move(output);
    master_ = new MasteringVoice(this);
    *voice = master_;
    return S_OK;
}

HRESULT Engine::CreateSourceVoice(IXAudio2SourceVoice** voice, const WAVEFORMATEX* format, UINT32 flags,
                                  float maxFrequencyRatio, IXAudio2VoiceCallback* callback,
                                  const XAUDIO2_VOICE_SENDS* sends, const XAUDIO2_EFFECT_CHAIN* effects) {
    if (!voice) return E_INVALIDARG;
    *voice = nullptr;
    if (HRESULT failure = InjectedFailure("IXAudio2::CreateSourceVoice")) return failure;
    if (!master_ || sends || effects || flags != 0) return XAUDIO2_E_INVALID_CALL;
    if (!format || maxFrequencyRatio < 1.0f / 1024 || maxFrequencyRatio > 1024.0f) return E_INVALIDARG;
    bool isFloat = format->wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    if (format->wFormatTag == WAVE_FORMAT_EXTENSIBLE && format->cbSize >= 22) {
        const auto* extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(format);
        isFloat = extensible->SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT &&
                  extensible->Samples.wValidBitsPerSample == 32;
    }
    if (!isFloat || format->wBitsPerSample != 32 || format->nChannels == 0 || format->nChannels > 8 ||
        format->nBlockAlign != format->nChannels * 4 || format->nSamplesPerSec != output_->Rate())
        return E_INVALIDARG;
    auto* created = new SourceVoice(this, format->nChannels, callback);
    std::lock_guard<std::mutex> lock(mutex_);
    sources_.push_back(created);
    *voice = created;
    return S_OK;
}

void Engine::RemoveSource(SourceVoice* voice) {
    std::lock_guard<std::mutex> lock(mutex_);
    sources_.erase(std::find(sources_.begin(), sources_.end(), voice));
}

void Engine::CloseMaster() {
    // The device closes outside the engine's lock: its last pass may still take that lock.
    std::unique_ptr<Output> output;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        output = std::move(output_);
        master_ = nullptr;
    }
}

void Engine::RaiseCriticalError(HRESULT error) {
    std::vector<IXAudio2EngineCallback*> callbacks;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        callbacks = callbacks_;
    }
    for (IXAudio2EngineCallback* callback : callbacks)
        callback->OnCriticalError(error);
}

void Engine::Render(void* self, Uint8* stream, int bytes) {
    auto* engine = static_cast<Engine*>(self);
    float* out = reinterpret_cast<float*>(stream);
    UINT32 outChannels = engine->outChannels_;
    UINT32 frames = static_cast<UINT32>(bytes) / (outChannels * sizeof(float));
    std::memset(stream, 0, static_cast<size_t>(bytes));
    {
        std::lock_guard<std::mutex> lock(engine->mutex_);
        engine->passCallbacks_ = engine->callbacks_;
        engine->passVoices_.clear();
        for (SourceVoice* voice : engine->sources_)
            if (voice->started_) engine->passVoices_.push_back(voice);
    }
    for (IXAudio2EngineCallback* callback : engine->passCallbacks_)
        callback->OnProcessingPassStart();
    for (SourceVoice* voice : engine->passVoices_)
        if (voice->callback_) voice->callback_->OnVoiceProcessingPassStart(frames * voice->channels_ * 4);
    for (SourceVoice* voice : engine->passVoices_)
        voice->Pull(out, frames, outChannels);
    for (SourceVoice* voice : engine->passVoices_)
        if (voice->callback_) voice->callback_->OnVoiceProcessingPassEnd();
    for (IXAudio2EngineCallback* callback : engine->passCallbacks_)
        callback->OnProcessingPassEnd();
}

void SourceVoice::Pull(float* out, UINT32 frames, UINT32 outChannels) {
    UINT32 done = 0;
    while (done < frames) {
        std::unique_lock<std::mutex> lock(engine_->mutex_);
        if (queue_.empty()) break; // underrun: the rest stays silent
        QueuedBuffer& front = queue_.front();
        if (!front.started) {
            front.started = true;
            void* context = front.buffer.pContext;
            lock.unlock();
            if (callback_) callback_->OnBufferStart(context);
            continue;
        }
        UINT32 total = front.buffer.AudioBytes / (channels_ * 4);
        UINT32 count = std::min(frames - done, total - front.framesDone);
        const float* source = reinterpret_cast<const float*>(front.buffer.pAudioData) +
                              static_cast<size_t>(front.framesDone) * channels_;
        UINT32 shared = std::min(channels_, outChannels);
        for (UINT32 frame = 0; frame < count; ++frame)
            for (UINT32 channel = 0; channel < shared; ++channel)
                out[(done + frame) * outChannels + channel] += source[frame * channels_ + channel] * volume_;
        front.framesDone += count;
        done += count;
        samplesPlayed_ += count;
        if (front.framesDone < total) continue;
        void* context = front.buffer.pContext;
        bool streamEnd = (front.buffer.Flags & XAUDIO2_END_OF_STREAM) != 0;
        queue_.pop_front();
        lock.unlock();
        if (callback_) {
            callback_->OnBufferEnd(context);
            if (streamEnd) callback_->OnStreamEnd();
        }
    }
}

HRESULT SourceVoice::SetVolume(float volume, UINT32) {
    if (!(volume >= -XAUDIO2_MAX_VOLUME_LEVEL && volume <= XAUDIO2_MAX_VOLUME_LEVEL)) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(engine_->mutex_);
    volume_ = volume;
    return S_OK;
}

HRESULT SourceVoice::Start(UINT32 flags, UINT32) {
    if (HRESULT failure = InjectedFailure("IXAudio2SourceVoice::Start")) return failure;
    if (flags != 0) return XAUDIO2_E_INVALID_CALL;
    std::lock_guard<std::mutex> lock(engine_->mutex_);
    started_ = true;
    return S_OK;
}

HRESULT SourceVoice::SubmitSourceBuffer(const XAUDIO2_BUFFER* buffer, const XAUDIO2_BUFFER_WMA* wma) {
    if (HRESULT failure = InjectedFailure("IXAudio2SourceVoice::SubmitSourceBuffer")) return failure;
    if (!buffer || wma || !buffer->pAudioData || buffer->AudioBytes == 0 ||
        buffer->AudioBytes % (channels_ * 4) != 0)
        return E_INVALIDARG;
    if (buffer->PlayBegin || buffer->PlayLength || buffer->LoopBegin || buffer->LoopLength ||
        buffer->LoopCount)
        return XAUDIO2_E_INVALID_CALL;
    std::lock_guard<std::mutex> lock(engine_->mutex_);
    if (queue_.size() >= XAUDIO2_MAX_QUEUED_BUFFERS) return XAUDIO2_E_INVALID_CALL;
    queue_.push_back(QueuedBuffer{*buffer});
    return S_OK;
}

void SourceVoice::GetState(XAUDIO2_VOICE_STATE* state) {
    if (!state) return;
    std::lock_guard<std::mutex> lock(engine_->mutex_);
    state->BuffersQueued = static_cast<UINT32>(queue_.size());
    state->pCurrentBufferContext = queue_.empty() ? nullptr : queue_.front().buffer.pContext;
    state->SamplesPlayed = samplesPlayed_;
}

void SourceVoice::DestroyVoice() {
    Engine* engine = engine_;
    // Holding the device waits for a running pass and keeps the next one from starting.
    if (engine->output_) engine->output_->Lock();
    engine->RemoveSource(this);
    if (engine->output_) engine->output_->Unlock();
    delete this;
}

HRESULT MasteringVoice::SetVolume(float volume, UINT32) {
    return volume >= -XAUDIO2_MAX_VOLUME_LEVEL && volume <= XAUDIO2_MAX_VOLUME_LEVEL ? S_OK : E_INVALIDARG;
}

void MasteringVoice::DestroyVoice() {
    engine_->CloseMaster();
    delete this;
}

} // namespace

HRESULT CreateXAudio2(REFIID riid, void** object) {
    auto* engine = new Engine;
    HRESULT result = engine->QueryInterface(riid, object);
    engine->Release();
    return result;
}

void RaiseCriticalErrors(HRESULT error) {
    std::lock_guard<std::mutex> lock(g_enginesMutex);
    for (Engine* engine : g_engines)
        engine->RaiseCriticalError(error);
}

} // namespace audio
