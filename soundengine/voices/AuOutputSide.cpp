#include "voices/AuOutputSide.h"

#include "core/AuAudioMgr.h"
#include "core/AuOutputTiming.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuSink.h"
#include "voices/AuXAudio2Sink.h"

#include <dbt.h>
#include <ksmedia.h>
#include <mmdeviceapi.h>
#include <winuser.h>

#include <atomic>
#include <cstring>
#include <cwchar>

namespace {

// Written by the game thread at set-up and tear-down; read by the sink callbacks and the device
// notices on other threads, which only run in between. Release and acquire hand the event over
// complete.
std::atomic<HANDLE> s_hOutputEvent{nullptr};
bool s_bComInitialised = false;

class CAuHardwareSinks final : public IAuHardwareSinks {
public:
    CAuSinkBase* CreateXAudio2Sink(const AuPlatformInitSettings& platform, u32 channelMask,
                                   u32 options) override {
        return AuCreateXAudio2Sink(platform, channelMask, options);
    }
    // The DirectSound sink has not been built: the lower engine falls back to the silent sink.
    CAuSinkBase* CreateDirectSoundSink(const AuPlatformInitSettings&, u32) override { return nullptr; }
};

CAuHardwareSinks s_hardwareSinks;

// Hears of default-device changes on a thread of the system; it only copies the identifier and
// raises the notice.
class CAuDeviceNotificationClient final : public IMMNotificationClient {
public:
    explicit CAuDeviceNotificationClient(IMMDeviceEnumerator* enumerator) : m_pEnumerator(enumerator) {
        m_pEnumerator->AddRef();
        IMMDevice* device = nullptr;
        if (SUCCEEDED(m_pEnumerator->GetDefaultAudioEndpoint(eRender, eMultimedia, &device))) {
            if (FAILED(device->GetId(&m_pDefaultId))) m_pDefaultId = nullptr;
            device->Release();
        }
        m_pEnumerator->RegisterEndpointNotificationCallback(this);
    }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IMMNotificationClient) {
            *object = static_cast<IMMNotificationClient*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return m_uRefs.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override {
        // acq_rel: the thread that frees sees everything done through the other references.
        const ULONG left = m_uRefs.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) Destroy();
        return left;
    }
    HRESULT OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
    HRESULT OnDeviceAdded(LPCWSTR) override { return S_OK; }
    HRESULT OnDeviceRemoved(LPCWSTR) override { return S_OK; }
    HRESULT OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR id) override {
        if (flow != eRender || role != eMultimedia) return S_OK;
        LPWSTR copy = nullptr;
        if (id) {
            const size_t bytes = (wcslen(id) + 1) * sizeof(wchar_t);
            copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
            if (copy) memcpy(copy, id, bytes);
        }
        CoTaskMemFree(m_pDefaultId);
        m_pDefaultId = copy;
        AuRaiseDeviceChangeNotice();
        return S_OK;
    }
    HRESULT OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }

    const wchar_t* DefaultId() const { return m_pDefaultId; }

private:
    void Destroy() {
        // Unregistered first: a notice in flight could otherwise replace the identifier after it
        // was freed. Unregistering waits for such a notice to finish.
        m_pEnumerator->UnregisterEndpointNotificationCallback(this);
        CoTaskMemFree(m_pDefaultId);
        m_pDefaultId = nullptr;
        m_pEnumerator->Release();
        this->~CAuDeviceNotificationClient();
        AU::MemoryMgr::Falign(g_LEngineDefaultPoolId, this);
    }

    std::atomic<ULONG> m_uRefs{1};
    IMMDeviceEnumerator* m_pEnumerator;
    // Written by the notice thread while registered, and by the game thread before registering
    // and after unregistering: never by two threads at once.
    LPWSTR m_pDefaultId = nullptr;
};

CAuDeviceNotificationClient* s_pClient = nullptr;
HDEVNOTIFY s_hDeviceNotify = nullptr;
HWND s_hWindow = nullptr;
WNDPROC s_pfnPreviousProc = nullptr;
AuDeviceWatch s_eWatch = AuDeviceWatch::None;

// The window's thread: an audio or render interface that arrives is a device change.
LRESULT AuDeviceChangeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE && wParam == DBT_DEVICEARRIVAL && g_pAudioMgr && lParam) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        // Only device-interface records carry a class.
        if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
            const GUID& interfaceClass =
                reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam)->dbcc_classguid;
            if (interfaceClass == KSCATEGORY_AUDIO || interfaceClass == KSCATEGORY_RENDER)
                AuRaiseDeviceChangeNotice();
        }
    }
    return CallWindowProcW(s_pfnPreviousProc, window, message, wParam, lParam);
}

void StartDeviceWatch() {
    IMMDeviceEnumerator* enumerator = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL, IID_IMMDeviceEnumerator,
                                   reinterpret_cast<void**>(&enumerator)))) {
        s_pClient = AuNewInLEngine<CAuDeviceNotificationClient>(enumerator);
        s_eWatch = s_pClient ? AuDeviceWatch::Enumerator : AuDeviceWatch::None;
        enumerator->Release();
        return;
    }
    s_hWindow = static_cast<HWND>(CAuLowerEngine::PlatformSettings().window);
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    s_hDeviceNotify = RegisterDeviceNotificationW(s_hWindow, &filter, DEVICE_NOTIFY_ALL_INTERFACE_CLASSES);
    s_pfnPreviousProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(s_hWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(AuDeviceChangeWindowProc)));
    s_eWatch = s_hDeviceNotify ? AuDeviceWatch::Window : AuDeviceWatch::None;
}

void StopDeviceWatch() {
    if (s_pClient) {
        s_pClient->Release();
        s_pClient = nullptr;
    }
    if (s_hDeviceNotify) {
        UnregisterDeviceNotification(s_hDeviceNotify);
        s_hDeviceNotify = nullptr;
    }
    // Put back only what is still ours: another subclass on top of ours keeps its chain.
    if (s_hWindow &&
        GetWindowLongPtrW(s_hWindow, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(AuDeviceChangeWindowProc))
        SetWindowLongPtrW(s_hWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(s_pfnPreviousProc));
    s_hWindow = nullptr;
    s_pfnPreviousProc = nullptr;
    s_eWatch = AuDeviceWatch::None;
}

} // namespace

AURESULT InitOutputSide(const AuInitSettings& settings) {
    const AuPlatformInitSettings& platform = CAuLowerEngine::PlatformSettings();
    SetOutputSampleRate(platform.sampleRateMode == 1 ? AU_LOW_SAMPLE_RATE : AU_DEFAULT_SAMPLE_RATE);
    // Zero frames would leave every sink without a period; the defaults stay then.
    if (settings.samplesPerFrame) SetOutputTiming(static_cast<u16>(settings.samplesPerFrame));

    s_bComInitialised = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));

    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!event) return AuResultFail;
    s_hOutputEvent.store(event, std::memory_order_release);
    if (g_pAudioMgr) g_pAudioMgr->SetWakeEvent(event);

    AuSetHardwareSinks(&s_hardwareSinks);
    const AURESULT result = CAuLowerEngine::Init(settings.mainOutputSettings, settings.mainOutputType);
    if (result == AuResultSuccess) StartDeviceWatch();
    return result;
}

void TermOutputSide() {
    StopDeviceWatch();
    CAuLowerEngine::Term();
    AuSetHardwareSinks(nullptr);
    if (s_bComInitialised) CoUninitialize();
    s_bComInitialised = false;
    if (g_pAudioMgr) g_pAudioMgr->SetWakeEvent(nullptr);
    if (HANDLE event = s_hOutputEvent.exchange(nullptr, std::memory_order_acq_rel)) CloseHandle(event);
}

bool AuOutputSideInitialisedCom() {
    return s_bComInitialised;
}

HANDLE AuOutputEvent() {
    return s_hOutputEvent.load(std::memory_order_acquire);
}

void AuSignalOutputEvent() noexcept {
    if (HANDLE event = s_hOutputEvent.load(std::memory_order_acquire)) SetEvent(event);
}

void AuRaiseDeviceChangeNotice() noexcept {
    CAuLowerEngine::SetDeviceChangePending();
    AuSignalOutputEvent();
}

AuDeviceWatch AuCurrentDeviceWatch() {
    return s_eWatch;
}

const wchar_t* AuDefaultDeviceId() {
    return s_pClient ? s_pClient->DefaultId() : nullptr;
}
