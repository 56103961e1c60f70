// Shared inside the audio stand-in: COM object lifetime, injected failures, the device's shape and
// the SDL output device under every engine.
#pragma once

#include <mmdeviceapi.h>
#include <objbase.h>

#include <SDL_audio.h>

#include <atomic>
#include <memory>

namespace audio {

// Lifetime of every object: one reference at creation, deleted at the last Release.
void CountObject(int change);

template <class I> class Com : public I {
public:
    Com() { CountObject(1); }
    virtual ~Com() { CountObject(-1); }
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;

    ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override {
        // acq_rel: the deleting thread must see every write made through the other references.
        ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = Answer(riid);
        if (!*object) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

protected:
    // The interface pointer for riid, or null.
    virtual void* Answer(REFIID riid) = 0;

private:
    std::atomic<ULONG> refs_{1};
};

// S_OK, or the failure a test asked for on this call.
HRESULT InjectedFailure(const char* call);
bool CreationFails(REFCLSID classId, HRESULT* result);

unsigned DeviceChannelsSetting();
DWORD SpeakerConfigSetting();
bool ChannelCountRefused(unsigned channels);

// Every call into SDL from a thread goes through here first: SDL keeps state per thread (its error
// text), and a thread SDL did not make must hand that back itself when it ends.
void NoteSdlUse();

// The audio subsystem of SDL, started and stopped in pairs.
bool StartSdlAudio();
void StopSdlAudio();

// A playback stream on the one SDL device of the process, in callback mode. Streams of the same
// format share the device, which sums them (as the system's mixer would); a stream of another
// format is refused while the device is open. `render` fills `bytes` of the format; it runs on
// SDL's device thread (or on a test's thread in manual mode) with the device locked.
class Output {
public:
    using Render = void (*)(void* owner, Uint8* stream, int bytes);

    static std::unique_ptr<Output> Open(SDL_AudioFormat format, unsigned channels, unsigned rate,
                                        Render render, void* owner);
    // Returns once the stream's callback has finished and cannot start again.
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // While locked, no stream's callback is running or starts.
    void Lock();
    void Unlock();

    unsigned Channels() const;
    unsigned Rate() const;
    unsigned Frames() const;

private:
    Output() = default;
    friend struct Device;

    Render render_ = nullptr;
    void* owner_ = nullptr;
};

HRESULT CreateXAudio2(REFIID riid, void** object);
HRESULT CreateDirectSound8(REFIID riid, void** object);
HRESULT CreateDeviceEnumerator(REFIID riid, void** object);

// Every live XAudio2 engine hears of a critical error (test control).
void RaiseCriticalErrors(HRESULT error);
// Notification clients of every enumerator hear of a default-device change (test control).
void NotifyDefaultDeviceChanged(EDataFlow flow, ERole role, const wchar_t* deviceId);
size_t RegisteredClientCount();
void ResetDefaultEndpoint();

} // namespace audio
