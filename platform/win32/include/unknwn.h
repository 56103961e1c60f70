// The reference-counted object base and interface identifiers of COM interfaces.
#pragma once

#include <windows.h>

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
using IID = GUID;
using REFIID = const IID&;

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

// The compiler keyword that names an interface's identifier is spelled through its IID_ constant here.
#ifndef __uuidof
#define __uuidof(type) IID_##type
#endif

#ifndef STDMETHODCALLTYPE
#define STDMETHODCALLTYPE
#endif

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

extern const IID IID_IUnknown;
