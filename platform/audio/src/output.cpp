// SDL playback devices under the engines, and output pulled on a test's thread.
#include "internal.h"

#include <audio_test_control.h>

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

namespace audio {
namespace {

struct OpenOutputs {
    std::mutex mutex;
    std::vector<Output*> outputs; // oldest first
    bool manual = false;
};

OpenOutputs& Outputs() {
    static OpenOutputs open;
    return open;
}

} // namespace

bool StartSdlAudio() {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        fprintf(stderr, "audio: SDL audio does not start: %s\n", SDL_GetError());
        return false;
    }
    return true;
}

void StopSdlAudio() {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

std::unique_ptr<Output> Output::Open(SDL_AudioFormat format, unsigned channels, unsigned rate, Render render,
                                     void* owner) {
    if (!StartSdlAudio()) return nullptr;
    std::unique_ptr<Output> output(new Output);
    output->render_ = render;
    output->owner_ = owner;
    SDL_AudioSpec wanted{};
    wanted.freq = static_cast<int>(rate);
    wanted.format = format;
    wanted.channels = static_cast<Uint8>(channels);
    wanted.samples = 512;
    wanted.callback = Callback;
    wanted.userdata = output.get();
    // No format change is allowed: SDL converts to what the hardware takes, so the callback always
    // sees the format that was asked for.
    output->device_ = SDL_OpenAudioDevice(nullptr, 0, &wanted, &output->spec_, 0);
    if (output->device_ == 0) {
        fprintf(stderr, "audio: SDL cannot open a playback device: %s\n", SDL_GetError());
        StopSdlAudio();
        return nullptr;
    }
    OpenOutputs& open = Outputs();
    std::lock_guard<std::mutex> lock(open.mutex);
    open.outputs.push_back(output.get());
    if (!open.manual) SDL_PauseAudioDevice(output->device_, 0);
    return output;
}

Output::~Output() {
    {
        OpenOutputs& open = Outputs();
        std::lock_guard<std::mutex> lock(open.mutex);
        open.outputs.erase(std::find(open.outputs.begin(), open.outputs.end(), this));
    }
    // Closing joins SDL's device thread, so no callback runs after this.
    SDL_CloseAudioDevice(device_);
    StopSdlAudio();
}

void Output::Lock() {
    SDL_LockAudioDevice(device_);
}

void Output::Unlock() {
    SDL_UnlockAudioDevice(device_);
}

void Output::RenderNow(Uint8* stream, int bytes) {
    Lock();
    render_(owner_, stream, bytes);
    Unlock();
}

void Output::Callback(void* self, Uint8* stream, int bytes) {
    auto* output = static_cast<Output*>(self);
    output->render_(output->owner_, stream, bytes);
}

} // namespace audio

namespace audiotest {

void UseManualOutput(bool manual) {
    audio::OpenOutputs& open = audio::Outputs();
    std::lock_guard<std::mutex> lock(open.mutex);
    open.manual = manual;
}

std::vector<float> RenderOutput(size_t frames) {
    audio::OpenOutputs& open = audio::Outputs();
    // Held across the pass so that the device cannot close under it; callbacks never open or close
    // devices.
    std::lock_guard<std::mutex> lock(open.mutex);
    if (open.outputs.empty()) return {};
    audio::Output* output = open.outputs.back();
    size_t samples = frames * output->Channels();
    std::vector<float> result(samples);
    if (output->Format() == AUDIO_F32SYS) {
        output->RenderNow(reinterpret_cast<Uint8*>(result.data()), static_cast<int>(samples * sizeof(float)));
    } else {
        std::vector<Sint16> pcm(samples);
        output->RenderNow(reinterpret_cast<Uint8*>(pcm.data()), static_cast<int>(samples * sizeof(Sint16)));
        for (size_t i = 0; i < samples; ++i)
            result[i] = pcm[i] / 32768.0f;
    }
    return result;
}

unsigned OutputChannels() {
    audio::OpenOutputs& open = audio::Outputs();
    std::lock_guard<std::mutex> lock(open.mutex);
    return open.outputs.empty() ? 0 : open.outputs.back()->Channels();
}

unsigned OutputRate() {
    audio::OpenOutputs& open = audio::Outputs();
    std::lock_guard<std::mutex> lock(open.mutex);
    return open.outputs.empty() ? 0 : open.outputs.back()->Rate();
}

} // namespace audiotest
