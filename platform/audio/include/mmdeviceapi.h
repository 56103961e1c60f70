// The audio device enumerator (created through COM): the default render endpoint and its
// identifier, and notification clients told of default-device changes on a thread of the system.
#pragma once

#include <objbase.h>

enum EDataFlow { eRender = 0, eCapture = 1, eAll = 2 };
enum ERole { eConsole = 0, eMultimedia = 1, eCommunications = 2 };

#define DEVICE_STATE_ACTIVE 0x00000001u
#define E_NOTFOUND ((HRESULT)0x80070490)

struct PROPERTYKEY {
    GUID fmtid;
    DWORD pid;
};

struct IMMNotificationClient : IUnknown {
    virtual HRESULT OnDeviceStateChanged(LPCWSTR deviceId, DWORD newState) = 0;
    virtual HRESULT OnDeviceAdded(LPCWSTR deviceId) = 0;
    virtual HRESULT OnDeviceRemoved(LPCWSTR deviceId) = 0;
    // The identifier is null when no device of that flow and role is left.
    virtual HRESULT OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR defaultDeviceId) = 0;
    virtual HRESULT OnPropertyValueChanged(LPCWSTR deviceId, const PROPERTYKEY key) = 0;

protected:
    ~IMMNotificationClient() = default;
};

struct IMMDevice : IUnknown {
    // The identifier comes from CoTaskMemAlloc; the caller frees it with CoTaskMemFree.
    virtual HRESULT GetId(LPWSTR* id) = 0;

protected:
    ~IMMDevice() = default;
};

struct IMMDeviceEnumerator : IUnknown {
    virtual HRESULT GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** endpoint) = 0;
    // The enumerator holds no reference on a registered client: the client unregisters before it
    // goes away. Unregistering waits for a notice that is being delivered to another thread.
    virtual HRESULT RegisterEndpointNotificationCallback(IMMNotificationClient* client) = 0;
    virtual HRESULT UnregisterEndpointNotificationCallback(IMMNotificationClient* client) = 0;

protected:
    ~IMMDeviceEnumerator() = default;
};

extern const CLSID CLSID_MMDeviceEnumerator;
extern const IID IID_IMMDeviceEnumerator;
extern const IID IID_IMMDevice;
extern const IID IID_IMMNotificationClient;
