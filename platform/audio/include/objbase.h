// COM object creation and task memory, for the classes the audio stand-in provides.
#pragma once

#include <unknwn.h>

using CLSID = GUID;
using REFCLSID = const CLSID&;

#define CLSCTX_INPROC_SERVER 0x1u
#define CLSCTX_INPROC_HANDLER 0x2u
#define CLSCTX_LOCAL_SERVER 0x4u
#define CLSCTX_REMOTE_SERVER 0x10u
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154)

// Every class here lives in the process, so an in-process context must be allowed. The object comes
// back with one reference, already asked for `riid`.
HRESULT CoCreateInstance(REFCLSID classId, IUnknown* outer, DWORD context, REFIID riid, LPVOID* object);

LPVOID CoTaskMemAlloc(SIZE_T size);
void CoTaskMemFree(LPVOID block);
