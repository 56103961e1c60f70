// DirectSound over one SDL 16-bit device: the primary buffer's format is the device's, and every
// playing secondary buffer is a ring that the device's callback reads at its play cursor.
#include "internal.h"

#include <dsound.h>
#include <ksmedia.h>

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace audio {
namespace {

constexpr DWORD kMaxBufferBytes = 0x0FFFFFFF;
constexpr DWORD kSecondaryFlags = DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2;

// 16-bit PCM, plain or extensible, one to eight channels.
bool IsPcm16(const WAVEFORMATEX* format) {
    if (!format) return false;
    bool pcm = format->wFormatTag == WAVE_FORMAT_PCM;
    if (format->wFormatTag == WAVE_FORMAT_EXTENSIBLE && format->cbSize >= 22) {
        const auto* extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(format);
        pcm = extensible->SubFormat == KSDATAFORMAT_SUBTYPE_PCM &&
              extensible->Samples.wValidBitsPerSample == 16;
    }
    return pcm && format->wBitsPerSample == 16 && format->nChannels >= 1 && format->nChannels <= 8 &&
           format->nBlockAlign == format->nChannels * 2 && format->nSamplesPerSec >= 100 &&
           format->nSamplesPerSec <= 200000;
}

class DirectSound;

class SoundBuffer final : public Com<IDirectSoundBuffer8> {
public:
    SoundBuffer(DirectSound* owner, bool primary, DWORD bytes, const WAVEFORMATEX& format);
    ~SoundBuffer() override;

    HRESULT GetCurrentPosition(DWORD* playCursor, DWORD* writeCursor) override;
    HRESULT SetFormat(LPCWAVEFORMATEX format) override;
    HRESULT Play(DWORD reserved, DWORD priority, DWORD flags) override;
    HRESULT Stop() override;
    HRESULT Lock(DWORD offset, DWORD bytes, LPVOID* part1, DWORD* bytes1, LPVOID* part2, DWORD* bytes2,
                 DWORD flags) override;
    HRESULT Unlock(LPVOID part1, DWORD bytes1, LPVOID part2, DWORD bytes2) override;

    // [SDL thread, owner's mutex held] Adds `frames` from the play cursor into the device buffer.
    void Mix(Sint16* out, DWORD frames, DWORD outChannels);

    DirectSound* const owner_;
    const bool primary_;
    const WAVEFORMATEX format_;
    // Guarded by the owner's mutex (the data only where the device reads it: the caller writes
    // between Lock and Unlock, ahead of the write cursor).
    std::vector<Uint8> data_;
    DWORD play_ = 0;
    bool playing_ = false;
    bool looping_ = false;
    void* locked1_ = nullptr;
    DWORD lockedBytes1_ = 0;
    void* locked2_ = nullptr;
    DWORD lockedBytes2_ = 0;

private:
    void* Answer(REFIID riid) override {
        if (riid == IID_IUnknown || riid == IID_IDirectSoundBuffer)
            return static_cast<IDirectSoundBuffer*>(this);
        if (riid == IID_IDirectSoundBuffer8 && !primary_) return static_cast<IDirectSoundBuffer8*>(this);
        return nullptr;
    }
    DWORD WriteLead() const;
};

class DirectSound final : public Com<IDirectSound8> {
public:
    ~DirectSound() override {
        output_.reset();
        if (initialized_) StopSdlAudio();
    }

    HRESULT CreateSoundBuffer(LPCDSBUFFERDESC description, IDirectSoundBuffer** buffer,
                              IUnknown* outer) override;
    HRESULT GetSpeakerConfig(DWORD* config) override;
    HRESULT SetCooperativeLevel(HWND window, DWORD level) override;
    HRESULT Initialize(const GUID* device) override;

    // Opens the device in this format unless it is open in it already.
    HRESULT OpenOutput(const WAVEFORMATEX& format);

    std::mutex mutex_;
    std::vector<SoundBuffer*> secondaries_;
    std::unique_ptr<Output> output_;
    DWORD level_ = 0;
    // Read by the SDL thread; written before the device opens.
    DWORD outChannels_ = 0;
    DWORD outRate_ = 0;

private:
    void* Answer(REFIID riid) override {
        return riid == IID_IUnknown || riid == IID_IDirectSound8 ? static_cast<IDirectSound8*>(this)
                                                                 : nullptr;
    }
    static void Render(void* self, Uint8* stream, int bytes);

    bool initialized_ = false;
};

SoundBuffer::SoundBuffer(DirectSound* owner, bool primary, DWORD bytes, const WAVEFORMATEX& format)
    : owner_(owner), primary_(primary), format_(format), data_(bytes) {
    owner_->AddRef();
    if (primary_) return;
    std::lock_guard<std::mutex> lock(owner_->mutex_);
    owner_->secondaries_.push_back(this);
}

SoundBuffer::~SoundBuffer() {
    if (!primary_) {
        std::lock_guard<std::mutex> lock(owner_->mutex_);
        owner_->secondaries_.erase(std::find(owner_->secondaries_.begin(), owner_->secondaries_.end(), this));
    }
    owner_->Release();
}

DWORD SoundBuffer::WriteLead() const {
    // The device reads ahead by one of its callbacks.
    DWORD frames = owner_->output_ ? owner_->output_->Frames() : 512;
    DWORD lead = frames * format_.nBlockAlign;
    DWORD half = static_cast<DWORD>(data_.size()) / 2 / format_.nBlockAlign * format_.nBlockAlign;
    return std::min(lead, half);
}

HRESULT SoundBuffer::GetCurrentPosition(DWORD* playCursor, DWORD* writeCursor) {
    if (HRESULT failure = InjectedFailure("IDirectSoundBuffer::GetCurrentPosition")) return failure;
    if (primary_) return DSERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(owner_->mutex_);
    if (playCursor) *playCursor = play_;
    if (writeCursor)
        *writeCursor = playing_ ? static_cast<DWORD>((play_ + WriteLead()) % data_.size()) : play_;
    return DS_OK;
}

HRESULT SoundBuffer::SetFormat(LPCWAVEFORMATEX format) {
    if (HRESULT failure = InjectedFailure("IDirectSoundBuffer::SetFormat")) return failure;
    if (!primary_) return DSERR_INVALIDCALL;
    if (owner_->level_ < DSSCL_PRIORITY) return DSERR_PRIOLEVELNEEDED;
    if (!IsPcm16(format) || ChannelCountRefused(format->nChannels)) return DSERR_BADFORMAT;
    return owner_->OpenOutput(*format);
}

HRESULT SoundBuffer::Play(DWORD reserved, DWORD, DWORD flags) {
    if (HRESULT failure = InjectedFailure("IDirectSoundBuffer::Play")) return failure;
    if (reserved != 0 || (flags & ~DSBPLAY_LOOPING)) return DSERR_INVALIDPARAM;
    // The primary buffer always loops; it plays while anything plays.
    if (primary_) return flags & DSBPLAY_LOOPING ? DS_OK : DSERR_INVALIDPARAM;
    if (!owner_->output_) {
        if (HRESULT result = owner_->OpenOutput(format_); FAILED(result)) return result;
    }
    std::lock_guard<std::mutex> lock(owner_->mutex_);
    playing_ = true;
    looping_ = (flags & DSBPLAY_LOOPING) != 0;
    return DS_OK;
}

HRESULT SoundBuffer::Stop() {
    std::lock_guard<std::mutex> lock(owner_->mutex_);
    playing_ = false;
    return DS_OK;
}

HRESULT SoundBuffer::Lock(DWORD offset, DWORD bytes, LPVOID* part1, DWORD* bytes1, LPVOID* part2,
                          DWORD* bytes2, DWORD flags) {
    if (HRESULT failure = InjectedFailure("IDirectSoundBuffer::Lock")) return failure;
    if (primary_) return DSERR_INVALIDCALL;
    if (!part1 || !bytes1) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(owner_->mutex_);
    DWORD size = static_cast<DWORD>(data_.size());
    if (flags & DSBLOCK_ENTIREBUFFER) bytes = size;
    if (flags & DSBLOCK_FROMWRITECURSOR)
        offset = playing_ ? static_cast<DWORD>((play_ + WriteLead()) % size) : play_;
    if (offset >= size || bytes == 0 || bytes > size || locked1_) return DSERR_INVALIDPARAM;
    DWORD first = std::min(bytes, size - offset);
    if (first < bytes && (!part2 || !bytes2)) return DSERR_INVALIDPARAM;
    locked1_ = data_.data() + offset;
    lockedBytes1_ = first;
    locked2_ = first < bytes ? data_.data() : nullptr;
    lockedBytes2_ = bytes - first;
    *part1 = locked1_;
    *bytes1 = lockedBytes1_;
    if (part2) *part2 = locked2_;
    if (bytes2) *bytes2 = lockedBytes2_;
    return DS_OK;
}

HRESULT SoundBuffer::Unlock(LPVOID part1, DWORD bytes1, LPVOID part2, DWORD bytes2) {
    // Taking the lock also publishes what was written to the device's thread.
    std::lock_guard<std::mutex> lock(owner_->mutex_);
    if (!locked1_ || part1 != locked1_ || bytes1 > lockedBytes1_ || part2 != locked2_ ||
        bytes2 > lockedBytes2_)
        return DSERR_INVALIDPARAM;
    locked1_ = locked2_ = nullptr;
    lockedBytes1_ = lockedBytes2_ = 0;
    return DS_OK;
}

void SoundBuffer::Mix(Sint16* out, DWORD frames, DWORD outChannels) {
    DWORD channels = format_.nChannels;
    DWORD shared = std::min(channels, outChannels);
    DWORD size = static_cast<DWORD>(data_.size());
    for (DWORD frame = 0; frame < frames && playing_; ++frame) {
        Sint16 samples[8];
        std::memcpy(samples, data_.data() + play_, channels * 2);
        for (DWORD channel = 0; channel < shared; ++channel) {
            int sum = out[frame * outChannels + channel] + samples[channel];
            out[frame * outChannels + channel] = static_cast<Sint16>(std::clamp(sum, -32768, 32767));
        }
        play_ += format_.nBlockAlign;
        if (play_ >= size) {
            play_ = 0;
            if (!looping_) playing_ = false;
        }
    }
}

HRESULT DirectSound::Initialize(const GUID* device) {
    if (HRESULT failure = InjectedFailure("IDirectSound8::Initialize")) return failure;
    if (initialized_) return DSERR_ALREADYINITIALIZED;
    if (device) return DSERR_NODRIVER;
    if (!StartSdlAudio()) return DSERR_NODRIVER;
    initialized_ = true;
    return DS_OK;
}

HRESULT DirectSound::SetCooperativeLevel(HWND window, DWORD level) {
    if (HRESULT failure = InjectedFailure("IDirectSound8::SetCooperativeLevel")) return failure;
    if (!initialized_) return DSERR_UNINITIALIZED;
    if (!window || (level != DSSCL_NORMAL && level != DSSCL_PRIORITY)) return DSERR_INVALIDPARAM;
    level_ = level;
    return DS_OK;
}

HRESULT DirectSound::GetSpeakerConfig(DWORD* config) {
    if (HRESULT failure = InjectedFailure("IDirectSound8::GetSpeakerConfig")) return failure;
    if (!initialized_) return DSERR_UNINITIALIZED;
    if (!config) return DSERR_INVALIDPARAM;
    if (DWORD set = SpeakerConfigSetting()) {
        *config = set;
        return DS_OK;
    }
    unsigned channels = DeviceChannelsSetting();
    SDL_AudioSpec spec;
    NoteSdlUse();
    if (channels == 0 && SDL_GetDefaultAudioInfo(nullptr, &spec, 0) == 0) channels = spec.channels;
    switch (channels) {
    case 1:
        *config = DSSPEAKER_MONO;
        break;
    case 4:
        *config = DSSPEAKER_QUAD;
        break;
    case 6:
        *config = DSSPEAKER_5POINT1_SURROUND;
        break;
    case 8:
        *config = DSSPEAKER_7POINT1_SURROUND;
        break;
    default:
        *config = DSSPEAKER_STEREO;
        break;
    }
    return DS_OK;
}

HRESULT DirectSound::CreateSoundBuffer(LPCDSBUFFERDESC description, IDirectSoundBuffer** buffer,
                                       IUnknown* outer) {
    if (!buffer) return DSERR_INVALIDPARAM;
    *buffer = nullptr;
    if (HRESULT failure = InjectedFailure("IDirectSound8::CreateSoundBuffer")) return failure;
    if (!initialized_) return DSERR_UNINITIALIZED;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (!description || description->dwSize != sizeof(DSBUFFERDESC)) return DSERR_INVALIDPARAM;
    if (description->dwFlags & DSBCAPS_PRIMARYBUFFER) {
        if (description->dwBufferBytes != 0 || description->lpwfxFormat) return DSERR_INVALIDPARAM;
        WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 48000, 48000 * 4, 4, 16, 0};
        *buffer = new SoundBuffer(this, true, 0, format);
        return DS_OK;
    }
    if (description->dwFlags & ~kSecondaryFlags) return DSERR_INVALIDPARAM;
    const WAVEFORMATEX* format = description->lpwfxFormat;
    if (!IsPcm16(format) || ChannelCountRefused(format->nChannels)) return DSERR_BADFORMAT;
    DWORD bytes = description->dwBufferBytes;
    if (bytes < 4 || bytes > kMaxBufferBytes || bytes % format->nBlockAlign != 0) return DSERR_INVALIDPARAM;
    *buffer = new SoundBuffer(this, false, bytes, *format);
    return DS_OK;
}

HRESULT DirectSound::OpenOutput(const WAVEFORMATEX& format) {
    if (output_ && outChannels_ == format.nChannels && outRate_ == format.nSamplesPerSec) return DS_OK;
    output_.reset();
    outChannels_ = format.nChannels;
    outRate_ = format.nSamplesPerSec;
    output_ = Output::Open(AUDIO_S16SYS, outChannels_, outRate_, Render, this);
    return output_ ? DS_OK : DSERR_NODRIVER;
}

void DirectSound::Render(void* self, Uint8* stream, int bytes) {
    auto* sound = static_cast<DirectSound*>(self);
    std::memset(stream, 0, static_cast<size_t>(bytes));
    DWORD frames = static_cast<DWORD>(bytes) / (sound->outChannels_ * 2);
    std::lock_guard<std::mutex> lock(sound->mutex_);
    for (SoundBuffer* buffer : sound->secondaries_)
        buffer->Mix(reinterpret_cast<Sint16*>(stream), frames, sound->outChannels_);
}

} // namespace

HRESULT CreateDirectSound8(REFIID riid, void** object) {
    auto* sound = new DirectSound;
    HRESULT result = sound->QueryInterface(riid, object);
    sound->Release();
    return result;
}

} // namespace audio
