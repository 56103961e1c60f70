// Window procedures and device-interface notifications. SDL windows have no procedure chain of
// their own: the table below is the chain, and only the messages this stand-in makes pass along it.
#include <dbt.h>
#include <win32_user_testing.h>
#include <winuser.h>

#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

LRESULT DefaultProcedure(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

struct Registration {
    HWND window;
    bool allClasses;
    GUID interfaceClass;
};

struct ProcedureState {
    std::mutex mutex;
    std::unordered_map<HWND, WNDPROC> procedures;
    // Keyed by the handle given out; the handle is the address of a heap cell so that it is unique
    // while open.
    std::unordered_map<HDEVNOTIFY, Registration> registrations;
};

ProcedureState& State() {
    static ProcedureState state;
    return state;
}

WNDPROC ProcedureOf(ProcedureState& state, HWND window) {
    auto found = state.procedures.find(window);
    return found == state.procedures.end() ? DefaultProcedure : found->second;
}

} // namespace

LONG_PTR GetWindowLongPtrW(HWND window, int index) {
    if (!window) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (index == GWLP_HINSTANCE) return GetWindowLongW(window, GWL_HINSTANCE);
    if (index != GWLP_WNDPROC) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    ProcedureState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return reinterpret_cast<LONG_PTR>(ProcedureOf(state, window));
}

LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
    if (!window) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (index != GWLP_WNDPROC || value == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    ProcedureState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    WNDPROC previous = ProcedureOf(state, window);
    state.procedures[window] = reinterpret_cast<WNDPROC>(value);
    return reinterpret_cast<LONG_PTR>(previous);
}

LRESULT CallWindowProcW(WNDPROC procedure, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return procedure ? procedure(window, message, wParam, lParam) : 0;
}

HDEVNOTIFY RegisterDeviceNotificationW(HANDLE recipient, LPVOID filter, DWORD flags) {
    const auto* header = static_cast<const DEV_BROADCAST_HDR*>(filter);
    // Only window recipients and device-interface filters exist here.
    if (!recipient || !header ||
        (flags & ~DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != DEVICE_NOTIFY_WINDOW_HANDLE ||
        header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
        header->dbch_size < offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const auto* interfaceFilter = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(filter);
    Registration registration{static_cast<HWND>(recipient),
                              (flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != 0,
                              interfaceFilter->dbcc_classguid};
    HDEVNOTIFY handle = new char;
    ProcedureState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.registrations.emplace(handle, registration);
    return handle;
}

BOOL UnregisterDeviceNotification(HDEVNOTIFY notification) {
    ProcedureState& state = State();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.registrations.erase(notification) == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    delete static_cast<char*>(notification);
    return TRUE;
}

namespace win32usertest {

void ArriveDeviceInterface(const GUID& interfaceClass, const wchar_t* name) {
    // The record carries the name inline, as the platform's does.
    size_t nameLength = name ? std::wcslen(name) : 0;
    std::vector<unsigned char> storage(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) +
                                       nameLength * sizeof(wchar_t));
    auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(storage.data());
    broadcast->dbcc_size = static_cast<DWORD>(storage.size());
    broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    broadcast->dbcc_reserved = 0;
    broadcast->dbcc_classguid = interfaceClass;
    if (name)
        std::memcpy(broadcast->dbcc_name, name, (nameLength + 1) * sizeof(wchar_t));
    else
        broadcast->dbcc_name[0] = 0;

    std::vector<HWND> windows;
    ProcedureState& state = State();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        for (const auto& [handle, registration] : state.registrations)
            if (registration.allClasses || registration.interfaceClass == interfaceClass)
                windows.push_back(registration.window);
    }
    // A procedure may subclass, unsubclass or unregister while it runs: no lock is held here.
    for (HWND window : windows) {
        WNDPROC procedure = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
        procedure(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(broadcast));
    }
}

size_t DeviceNotificationCount() {
    ProcedureState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.registrations.size();
}

} // namespace win32usertest
