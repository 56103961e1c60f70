#include <windows.h>

#include <sys/mman.h>

#include <mutex>
#include <unordered_map>

namespace {

// MEM_RELEASE takes no size, but unmapping needs one: remember each reservation's length.
struct Regions {
    std::mutex lock;
    std::unordered_map<void*, size_t> sizes;
};

Regions& TheRegions() {
    static Regions regions;
    return regions;
}

} // namespace

LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect) {
    if (address || size == 0 || !(allocationType & (MEM_COMMIT | MEM_RESERVE))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    int access = PROT_READ | PROT_WRITE;
    if (protect == PAGE_NOACCESS)
        access = PROT_NONE;
    else if (protect == PAGE_READONLY)
        access = PROT_READ;
    void* base = mmap(nullptr, size, access, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    Regions& regions = TheRegions();
    std::lock_guard guard(regions.lock);
    regions.sizes[base] = size;
    return base;
}

BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD freeType) {
    Regions& regions = TheRegions();
    std::lock_guard guard(regions.lock);
    auto found = regions.sizes.find(address);
    if (found == regions.sizes.end()) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    if (freeType == MEM_RELEASE) {
        if (size != 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        munmap(address, found->second);
        regions.sizes.erase(found);
        return TRUE;
    }
    if (freeType == MEM_DECOMMIT) {
        if (size == 0 || size > found->second) size = found->second;
        madvise(address, size, MADV_DONTNEED);
        return TRUE;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}
