#include <AU/SoundEngine.h>

#include <windows.h>

#include <cstring>
#include <cwchar>

namespace {

// Bank authoring hashes the same bytes: the cut, the ASCII-only lower-casing and the constants
// must not change, or banks stop resolving.
constexpr u32 kFnvBasis = 0x811C9DC5u;
constexpr u32 kFnvPrime = 0x01000193u;
constexpr size_t kMaxNameBytes = 259;

u32 HashLowered(const char* text, size_t length) {
    u32 hash = kFnvBasis;
    for (size_t i = 0; i < length; ++i) {
        u8 byte = static_cast<u8>(text[i]);
        if (byte >= 'A' && byte <= 'Z') byte = static_cast<u8>(byte + 0x20);
        hash = (hash * kFnvPrime) ^ byte;
    }
    return hash;
}

} // namespace

namespace AU::SoundEngine {

u32 GetIDFromString(const char* name) {
    if (!name) return 0;
    return HashLowered(name, strnlen(name, kMaxNameBytes));
}

u32 GetIDFromString(const wchar_t* name) {
    if (!name) return 0;
    // The ANSI code page is single-byte, so 259 characters fill at most 259 bytes; converting a
    // counted prefix never depends on what a too-small buffer would hold after a failure.
    char buffer[kMaxNameBytes + 1];
    const int length = static_cast<int>(wcsnlen(name, kMaxNameBytes));
    const int written = length ? WideCharToMultiByte(CP_ACP, 0, name, length, buffer,
                                                     static_cast<int>(kMaxNameBytes), nullptr, nullptr)
                               : 0;
    return HashLowered(buffer, written > 0 ? static_cast<size_t>(written) : 0);
}

} // namespace AU::SoundEngine
