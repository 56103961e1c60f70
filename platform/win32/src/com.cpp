#include <unknwn.h>

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace {
// The threading model each thread asked for first, and how often it initialised COM.
thread_local int t_comCount = 0;
thread_local DWORD t_comModel = 0;
} // namespace

HRESULT CoInitializeEx(LPVOID, DWORD coInit) {
    DWORD model = coInit & COINIT_APARTMENTTHREADED;
    if (t_comCount > 0 && model != t_comModel) return RPC_E_CHANGED_MODE;
    if (t_comCount++ == 0) {
        t_comModel = model;
        return S_OK;
    }
    return S_FALSE;
}

HRESULT CoInitialize(LPVOID reserved) {
    return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

void CoUninitialize() {
    if (t_comCount > 0) --t_comCount;
}
