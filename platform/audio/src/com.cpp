// COM creation of the audio classes, task memory, identifiers and the stand-in's test controls.
#include "internal.h"

#include <audio_test_control.h>
#include <dsound.h>
#include <ksmedia.h>
#include <mmdeviceapi.h>
#include <win32_modules.h>
#include <xaudio2.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Class and interface identifiers are the stand-in's own; only the sub-formats are file values.
const CLSID CLSID_XAudio2 = {0x6c1d7a01, 0x3b52, 0x4e0a, {0x91, 0x2f, 0x5d, 0x40, 0x7e, 0x11, 0xa2, 0x01}};
const CLSID CLSID_XAudio2_Debug = {
    0x6c1d7a01, 0x3b52, 0x4e0a, {0x91, 0x2f, 0x5d, 0x40, 0x7e, 0x11, 0xa2, 0x02}};
const IID IID_IXAudio2 = {0x6c1d7a01, 0x3b52, 0x4e0a, {0x91, 0x2f, 0x5d, 0x40, 0x7e, 0x11, 0xa2, 0x03}};
const CLSID CLSID_DirectSound8 = {
    0x6c1d7a02, 0x3b52, 0x4e0a, {0x91, 0x2f, 0x5d, 0x40, 0x7e, 0x11, 0xb3, 0x01}};
const IID IID_IDirectSound8 = {0x6c1d7a02, 0x3b52, 0x4e0a, {0x91, 0x2f, 0x5d, 0x40, 0x7e, 0x11, 0xb3, 0x02}};
const IID IID_IDirectSoundBuffer = {
    0x6c1d7a02, 0x3b52, 0x4e0a, {0x91, 0x2f, 0x5d, 0x40, 0x7e, 0x11, 0xb3, 0x03}};
const IID IID_IDirectSoundBuffer8 = {
    0x6c1d7a02, 0x3b52, 0x4e0a, {0x91, 0x2f, 0x5d, 0x40, 0x7e, 0x11, 0xb3, 0x04}};
const CLSID CLSID_MMDeviceEnumerator = {
    0x6c1d7a03, 0x3b52, 0x4e0a, {0x91, 0x2f, 0x5d, 0x40, 0x7e, 0x11, 0xc4, 0x01}};
const IID IID_IMMDeviceEnumerator = {
    0x6c1d7a03, 0x3b52, 0x4e0a, {0x91, 0x2f, 0x5d, 0x40, 0x7e, 0x11, 0xc4, 0x02}};
const IID IID_IMMDevice = {0x6c1d7a03, 0x3b52, 0x4e0a, {0x91, 0x2f, 0x5d, 0x40, 0x7e, 0x11, 0xc4, 0x03}};
const IID IID_IMMNotificationClient = {
    0x6c1d7a03, 0x3b52, 0x4e0a, {0x91, 0x2f, 0x5d, 0x40, 0x7e, 0x11, 0xc4, 0x04}};
const GUID KSCATEGORY_AUDIO = {0x6c1d7a04, 0x3b52, 0x4e0a, {0x91, 0x2f, 0x5d, 0x40, 0x7e, 0x11, 0xd5, 0x01}};
const GUID KSCATEGORY_RENDER = {0x6c1d7a04, 0x3b52, 0x4e0a, {0x91, 0x2f, 0x5d, 0x40, 0x7e, 0x11, 0xd5, 0x02}};
const GUID KSDATAFORMAT_SUBTYPE_PCM = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID KSDATAFORMAT_SUBTYPE_IEEE_FLOAT = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

namespace audio {
namespace {

struct Controls {
    std::mutex mutex;
    std::vector<std::pair<CLSID, HRESULT>> creationFailures;
    std::vector<std::pair<std::string, HRESULT>> callFailures;
    unsigned deviceChannels = 0;
    DWORD speakerConfig = 0;
    unsigned refusedChannels = 0;
};

Controls& Control() {
    static Controls controls;
    return controls;
}

// Written by any thread that creates or frees an object, read by tests once the threads are done:
// relaxed is enough for a count.
std::atomic<long> g_liveObjects{0};

struct ClassEntry {
    const CLSID* classId;
    const char* module;
    HRESULT (*create)(REFIID, void**);
};

const ClassEntry kClasses[] = {
    {&CLSID_XAudio2, "XAudio2_7.dll", CreateXAudio2},
    {&CLSID_XAudio2_Debug, "XAudio2_7.dll", CreateXAudio2},
    {&CLSID_DirectSound8, "dsound.dll", CreateDirectSound8},
    {&CLSID_MMDeviceEnumerator, "MMDevAPI.dll", CreateDeviceEnumerator},
};

} // namespace

void CountObject(int change) {
    g_liveObjects.fetch_add(change, std::memory_order_relaxed);
}

HRESULT InjectedFailure(const char* call) {
    Controls& controls = Control();
    std::lock_guard<std::mutex> lock(controls.mutex);
    for (auto it = controls.callFailures.begin(); it != controls.callFailures.end(); ++it) {
        if (it->first == call) {
            HRESULT result = it->second;
            controls.callFailures.erase(it);
            return result;
        }
    }
    return S_OK;
}

bool CreationFails(REFCLSID classId, HRESULT* result) {
    Controls& controls = Control();
    std::lock_guard<std::mutex> lock(controls.mutex);
    for (auto it = controls.creationFailures.begin(); it != controls.creationFailures.end(); ++it) {
        if (it->first == classId) {
            *result = it->second;
            controls.creationFailures.erase(it);
            return true;
        }
    }
    return false;
}

unsigned DeviceChannelsSetting() {
    std::lock_guard<std::mutex> lock(Control().mutex);
    return Control().deviceChannels;
}

DWORD SpeakerConfigSetting() {
    std::lock_guard<std::mutex> lock(Control().mutex);
    return Control().speakerConfig;
}

bool ChannelCountRefused(unsigned channels) {
    std::lock_guard<std::mutex> lock(Control().mutex);
    return Control().refusedChannels != 0 && Control().refusedChannels == channels;
}

} // namespace audio

HRESULT CoCreateInstance(REFCLSID classId, IUnknown* outer, DWORD context, REFIID riid, LPVOID* object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    for (const audio::ClassEntry& entry : audio::kClasses) {
        if (!(*entry.classId == classId)) continue;
        if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
        HRESULT failure;
        if (audio::CreationFails(classId, &failure)) return failure;
        // Creating the first object loads the class's library.
        win32::MarkBuiltinModuleLoaded(entry.module);
        return entry.create(riid, object);
    }
    return REGDB_E_CLASSNOTREG;
}

LPVOID CoTaskMemAlloc(SIZE_T size) {
    // Zero bytes still give a block that can be freed.
    return std::malloc(size ? size : 1);
}

void CoTaskMemFree(LPVOID block) {
    std::free(block);
}

namespace audiotest {

void FailNextCreation(REFCLSID classId, HRESULT result) {
    std::lock_guard<std::mutex> lock(audio::Control().mutex);
    audio::Control().creationFailures.emplace_back(classId, result);
}

void FailNextCall(const char* call, HRESULT result) {
    std::lock_guard<std::mutex> lock(audio::Control().mutex);
    audio::Control().callFailures.emplace_back(call, result);
}

void ClearInjectedFailures() {
    {
        audio::Controls& controls = audio::Control();
        std::lock_guard<std::mutex> lock(controls.mutex);
        controls.creationFailures.clear();
        controls.callFailures.clear();
        controls.deviceChannels = 0;
        controls.speakerConfig = 0;
        controls.refusedChannels = 0;
    }
    audio::ResetDefaultEndpoint();
}

void SetDeviceChannels(unsigned channels) {
    std::lock_guard<std::mutex> lock(audio::Control().mutex);
    audio::Control().deviceChannels = channels;
}

void SetSpeakerConfig(DWORD config) {
    std::lock_guard<std::mutex> lock(audio::Control().mutex);
    audio::Control().speakerConfig = config;
}

void RefuseChannelCount(unsigned channels) {
    std::lock_guard<std::mutex> lock(audio::Control().mutex);
    audio::Control().refusedChannels = channels;
}

void RaiseCriticalError(HRESULT error) {
    audio::RaiseCriticalErrors(error);
}

void SimulateDefaultDeviceChanged(EDataFlow flow, ERole role, const wchar_t* deviceId) {
    audio::NotifyDefaultDeviceChanged(flow, role, deviceId);
}

size_t NotificationClientCount() {
    return audio::RegisteredClientCount();
}

size_t LiveObjectCount() {
    return static_cast<size_t>(audio::g_liveObjects.load(std::memory_order_relaxed));
}

} // namespace audiotest
