// Marks pool memory the address sanitizer must treat as unusable. Without the sanitizer every
// call is empty, so release builds pay nothing.
#pragma once

#include <AU/AuTypes.h>

#include <cstddef>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
#define AU_POISONING 1
#include <sanitizer/asan_interface.h>
#else
#define AU_POISONING 0
#endif

constexpr bool kAuPoisoning = AU_POISONING != 0;

inline void AuPoison(const void* address, size_t bytes) {
#if AU_POISONING
    ASAN_POISON_MEMORY_REGION(address, bytes);
#else
    (void)address;
    (void)bytes;
#endif
}

inline void AuUnpoison(const void* address, size_t bytes) {
#if AU_POISONING
    ASAN_UNPOISON_MEMORY_REGION(address, bytes);
#else
    (void)address;
    (void)bytes;
#endif
}

inline bool AuIsPoisoned(const void* address) {
#if AU_POISONING
    return __asan_address_is_poisoned(address) != 0;
#else
    (void)address;
    return false;
#endif
}

// Runs `access` on the 4-byte word at `word` (4-byte aligned) with the word usable, and leaves its
// poisoning as it was. The sanitizer marks 8-byte granules by how many leading bytes are usable,
// so a word in a granule's upper half cannot be opened alone: the whole granule opens, and its
// lower word is closed again afterwards if it was closed before.
template <class Access> auto AuWithWord(const void* word, Access access) {
#if AU_POISONING
    const auto* bytes = static_cast<const u8*>(word);
    if (!__asan_region_is_poisoned(const_cast<u8*>(bytes), 4)) return access();
    const bool upperHalf = reinterpret_cast<uintptr_t>(bytes) % 8 == 4;
    const bool lowerClosed = upperHalf && __asan_address_is_poisoned(bytes - 4);
    AuUnpoison(bytes, 4);
    struct Close {
        const u8* bytes;
        bool lowerClosed;
        ~Close() {
            AuPoison(bytes, 4);
            if (lowerClosed) AuPoison(bytes - 4, 4);
        }
    } close{bytes, lowerClosed};
    return access();
#else
    (void)word;
    return access();
#endif
}
