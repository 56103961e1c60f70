#include "text.h"

#include <win32_paths.h>

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

HMODULE LoadLibraryW(LPCWSTR path) {
    if (!path || !*path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string native = win32::NativePath(path);
    // A bare name is looked for next to the caller first, as the platform does, not on the
    // system's library path.
    struct stat info;
    if (native.find('/') == std::string::npos && stat(native.c_str(), &info) == 0) native = "./" + native;
    void* module = dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        fprintf(stderr, "LoadLibraryW: %s\n", dlerror());
        SetLastError(ERROR_MOD_NOT_FOUND);
    }
    return module;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    if (!module || !name) {
        SetLastError(module ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // "?Name@@<signature>" names a C++ function; ELF exports it as the plain extern "C" "Name".
    std::string symbol = name;
    if (symbol.size() > 1 && symbol[0] == '?') symbol = symbol.substr(1, symbol.find('@') - 1);
    dlerror();
    void* address = dlsym(module, symbol.c_str());
    if (!address) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(address);
}

BOOL FreeLibrary(HMODULE module) {
    if (!module || dlclose(module) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
