#include "text.h"

#include <win32_modules.h>
#include <win32_paths.h>

#include <dlfcn.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

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

namespace {

std::mutex& BuiltinMutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<std::string>& BuiltinModules() {
    static std::vector<std::string> names;
    return names;
}

bool IsBuiltinModule(const char* name) {
    std::lock_guard<std::mutex> lock(BuiltinMutex());
    for (const std::string& builtin : BuiltinModules())
        if (strcasecmp(builtin.c_str(), name) == 0) return true;
    return false;
}

} // namespace

void win32::MarkBuiltinModuleLoaded(const char* name) {
    if (IsBuiltinModule(name)) return;
    std::lock_guard<std::mutex> lock(BuiltinMutex());
    BuiltinModules().emplace_back(name);
}

BOOL GetModuleHandleExA(DWORD flags, LPCSTR name, HMODULE* module) {
    if (!module) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *module = nullptr;
    // The program's handle stays valid for the whole run, so it needs no reference of its own.
    void* program = dlopen(nullptr, RTLD_NOW);
    dlclose(program);
    if (!name || IsBuiltinModule(name)) {
        *module = program;
        return TRUE;
    }
    int mode = RTLD_NOW | RTLD_NOLOAD;
    if (flags & GET_MODULE_HANDLE_EX_FLAG_PIN) mode |= RTLD_NODELETE;
    void* loaded = dlopen(win32::NativePath(std::string(name)).c_str(), mode);
    if (!loaded) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    // A handle from this call holds no reference unless pinned, as on the platform.
    if (!(flags & GET_MODULE_HANDLE_EX_FLAG_PIN)) dlclose(loaded);
    *module = loaded;
    return TRUE;
}
