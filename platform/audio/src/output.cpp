// The one SDL playback device under the engines, shared by the streams of its format, and output
// pulled on a test's thread.
#include "internal.h"

#include <audio_test_control.h>

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

namespace audio {

struct Device {
    // Guards the fields below, except that `streams` and `mix` also belong to the callback, which
    // runs with the SDL device locked: they change only with both held.
    std::mutex mutex;
    SDL_AudioDeviceID id = 0;
    SDL_AudioSpec spec{};
    std::vector<Output*> streams;
    std::vector<Uint8> mix;
    bool manual = false;

    // [SDL thread, or a test in RenderOutput] Each stream renders alone; the device sums them.
    static void Callback(void* self, Uint8* stream, int bytes) {
        auto* device = static_cast<Device*>(self);
        if (device->streams.size() == 1) {
            device->streams[0]->render_(device->streams[0]->owner_, stream, bytes);
            return;
        }
        std::fill(stream, stream + bytes, 0);
        device->mix.resize(static_cast<size_t>(bytes));
        for (Output* output : device->streams) {
            output->render_(output->owner_, device->mix.data(), bytes);
            if (device->spec.format == AUDIO_F32SYS) {
                auto* sum = reinterpret_cast<float*>(stream);
                const auto* add = reinterpret_cast<const float*>(device->mix.data());
                for (size_t i = 0; i < static_cast<size_t>(bytes) / sizeof(float); ++i)
                    sum[i] += add[i];
            } else {
                auto* sum = reinterpret_cast<Sint16*>(stream);
                const auto* add = reinterpret_cast<const Sint16*>(device->mix.data());
                for (size_t i = 0; i < static_cast<size_t>(bytes) / sizeof(Sint16); ++i)
                    sum[i] = static_cast<Sint16>(std::clamp(sum[i] + add[i], -32768, 32767));
            }
        }
    }
};

namespace {

Device& TheDevice() {
    static Device device;
    return device;
}

} // namespace

namespace {

struct SdlThreadUse {
    bool used = false;
    ~SdlThreadUse() {
        if (used) SDL_TLSCleanup();
    }
};

thread_local SdlThreadUse t_sdlUse;

} // namespace

void NoteSdlUse() {
    t_sdlUse.used = true;
}

bool StartSdlAudio() {
    NoteSdlUse();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        fprintf(stderr, "audio: SDL audio does not start: %s\n", SDL_GetError());
        return false;
    }
    return true;
}

void StopSdlAudio() {
    NoteSdlUse();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

std::unique_ptr<Output> Output::Open(SDL_AudioFormat format, unsigned channels, unsigned rate, Render render,
                                     void* owner) {
    NoteSdlUse();
    Device& device = TheDevice();
    std::unique_ptr<Output> output(new Output);
    output->render_ = render;
    output->owner_ = owner;
    std::lock_guard<std::mutex> lock(device.mutex);
    if (device.id != 0) {
        if (device.spec.format != format || device.spec.channels != channels ||
            device.spec.freq != static_cast<int>(rate)) {
            fprintf(stderr, "audio: the playback device is open in another format\n");
            return nullptr;
        }
        SDL_LockAudioDevice(device.id);
        device.streams.push_back(output.get());
        SDL_UnlockAudioDevice(device.id);
        return output;
    }
    if (!StartSdlAudio()) return nullptr;
    SDL_AudioSpec wanted{};
    wanted.freq = static_cast<int>(rate);
    wanted.format = format;
    wanted.channels = static_cast<Uint8>(channels);
    wanted.samples = 512;
    wanted.callback = Device::Callback;
    wanted.userdata = &device;
    // No format change is allowed: SDL converts to what the hardware takes, so the callback always
    // sees the format that was asked for.
    device.id = SDL_OpenAudioDevice(nullptr, 0, &wanted, &device.spec, 0);
    if (device.id == 0) {
        fprintf(stderr, "audio: SDL cannot open a playback device: %s\n", SDL_GetError());
        StopSdlAudio();
        return nullptr;
    }
    device.streams.push_back(output.get());
    if (!device.manual) SDL_PauseAudioDevice(device.id, 0);
    return output;
}

Output::~Output() {
    Device& device = TheDevice();
    SDL_AudioDeviceID closing = 0;
    {
        std::lock_guard<std::mutex> lock(device.mutex);
        auto found = std::find(device.streams.begin(), device.streams.end(), this);
        // A stream that was refused never joined.
        if (found == device.streams.end()) return;
        SDL_LockAudioDevice(device.id);
        device.streams.erase(found);
        SDL_UnlockAudioDevice(device.id);
        if (device.streams.empty()) std::swap(closing, device.id);
    }
    if (closing == 0) return;
    // Closing joins SDL's device thread. It happens outside the device's mutex, which a stream's
    // callback never takes, but a test's RenderOutput does.
    SDL_CloseAudioDevice(closing);
    StopSdlAudio();
}

void Output::Lock() {
    SDL_LockAudioDevice(TheDevice().id);
}

void Output::Unlock() {
    SDL_UnlockAudioDevice(TheDevice().id);
}

unsigned Output::Channels() const {
    return TheDevice().spec.channels;
}

unsigned Output::Rate() const {
    return static_cast<unsigned>(TheDevice().spec.freq);
}

unsigned Output::Frames() const {
    return TheDevice().spec.samples;
}

} // namespace audio

namespace audiotest {

void UseManualOutput(bool manual) {
    audio::Device& device = audio::TheDevice();
    std::lock_guard<std::mutex> lock(device.mutex);
    device.manual = manual;
}

std::vector<float> RenderOutput(size_t frames) {
    audio::Device& device = audio::TheDevice();
    // Held across the pass so that the device cannot close under it; callbacks never open or close
    // streams.
    std::lock_guard<std::mutex> lock(device.mutex);
    if (device.id == 0) return {};
    const size_t samples = frames * device.spec.channels;
    std::vector<float> result(samples);
    SDL_LockAudioDevice(device.id);
    if (device.spec.format == AUDIO_F32SYS) {
        audio::Device::Callback(&device, reinterpret_cast<Uint8*>(result.data()),
                                static_cast<int>(samples * sizeof(float)));
    } else {
        std::vector<Sint16> pcm(samples);
        audio::Device::Callback(&device, reinterpret_cast<Uint8*>(pcm.data()),
                                static_cast<int>(samples * sizeof(Sint16)));
        for (size_t i = 0; i < samples; ++i)
            result[i] = pcm[i] / 32768.0f;
    }
    SDL_UnlockAudioDevice(device.id);
    return result;
}

unsigned OutputChannels() {
    audio::Device& device = audio::TheDevice();
    std::lock_guard<std::mutex> lock(device.mutex);
    return device.id ? device.spec.channels : 0;
}

unsigned OutputRate() {
    audio::Device& device = audio::TheDevice();
    std::lock_guard<std::mutex> lock(device.mutex);
    return device.id ? static_cast<unsigned>(device.spec.freq) : 0;
}

} // namespace audiotest
