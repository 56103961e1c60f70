// The audio device enumerator: one default render endpoint, and the notification clients that
// hear of default-device changes. Clients are system-wide, as the platform's are.
#include "internal.h"

#include <mmdeviceapi.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <string>
#include <vector>

namespace audio {
namespace {

const wchar_t kInitialDefault[] = L"sdl-default-playback";

struct Endpoints {
    std::mutex mutex;
    bool present = true;
    std::wstring defaultRender = kInitialDefault;
    std::vector<IMMNotificationClient*> clients;
    // Held while a notice is delivered, so that unregistering waits for it; recursive because a
    // client may unregister from inside its own notice.
    std::recursive_mutex delivery;
};

Endpoints& State() {
    static Endpoints endpoints;
    return endpoints;
}

class Endpoint final : public Com<IMMDevice> {
public:
    explicit Endpoint(std::wstring id) : id_(std::move(id)) {}

    HRESULT GetId(LPWSTR* id) override {
        if (!id) return E_POINTER;
        size_t bytes = (id_.size() + 1) * sizeof(wchar_t);
        *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        if (!*id) return E_OUTOFMEMORY;
        std::memcpy(*id, id_.c_str(), bytes);
        return S_OK;
    }

private:
    void* Answer(REFIID riid) override {
        return riid == IID_IUnknown || riid == IID_IMMDevice ? static_cast<IMMDevice*>(this) : nullptr;
    }

    const std::wstring id_;
};

class Enumerator final : public Com<IMMDeviceEnumerator> {
public:
    HRESULT GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** endpoint) override {
        if (!endpoint) return E_POINTER;
        *endpoint = nullptr;
        if (HRESULT failure = InjectedFailure("IMMDeviceEnumerator::GetDefaultAudioEndpoint")) return failure;
        if (flow < eRender || flow > eCapture || role < eConsole || role > eCommunications)
            return E_INVALIDARG;
        Endpoints& state = State();
        std::lock_guard<std::mutex> lock(state.mutex);
        // Only playback exists here.
        if (flow != eRender || !state.present) return E_NOTFOUND;
        *endpoint = new Endpoint(state.defaultRender);
        return S_OK;
    }

    HRESULT RegisterEndpointNotificationCallback(IMMNotificationClient* client) override {
        if (!client) return E_POINTER;
        Endpoints& state = State();
        std::lock_guard<std::mutex> lock(state.mutex);
        state.clients.push_back(client);
        return S_OK;
    }

    HRESULT UnregisterEndpointNotificationCallback(IMMNotificationClient* client) override {
        if (!client) return E_POINTER;
        Endpoints& state = State();
        std::lock_guard<std::recursive_mutex> delivering(state.delivery);
        std::lock_guard<std::mutex> lock(state.mutex);
        auto found = std::find(state.clients.begin(), state.clients.end(), client);
        if (found == state.clients.end()) return E_NOTFOUND;
        state.clients.erase(found);
        return S_OK;
    }

private:
    void* Answer(REFIID riid) override {
        return riid == IID_IUnknown || riid == IID_IMMDeviceEnumerator
                   ? static_cast<IMMDeviceEnumerator*>(this)
                   : nullptr;
    }
};

} // namespace

HRESULT CreateDeviceEnumerator(REFIID riid, void** object) {
    auto* enumerator = new Enumerator;
    HRESULT result = enumerator->QueryInterface(riid, object);
    enumerator->Release();
    return result;
}

void NotifyDefaultDeviceChanged(EDataFlow flow, ERole role, const wchar_t* deviceId) {
    Endpoints& state = State();
    std::lock_guard<std::recursive_mutex> delivering(state.delivery);
    std::vector<IMMNotificationClient*> clients;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (flow == eRender) {
            state.present = deviceId != nullptr;
            state.defaultRender = deviceId ? deviceId : L"";
        }
        clients = state.clients;
    }
    for (IMMNotificationClient* client : clients) {
        // A client that left during an earlier client's notice is not called.
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            if (std::find(state.clients.begin(), state.clients.end(), client) == state.clients.end())
                continue;
        }
        client->OnDefaultDeviceChanged(flow, role, deviceId);
    }
}

size_t RegisteredClientCount() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().clients.size();
}

void ResetDefaultEndpoint() {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().present = true;
    State().defaultRender = kInitialDefault;
}

} // namespace audio
