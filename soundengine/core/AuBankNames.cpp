#include "core/AuBankNames.h"

#include <AU/SoundEngine.h>

#include <windows.h>

#include <atomic>
#include <cstring>
#include <cwchar>

namespace {

constexpr size_t kMaxNameBytes = 259;

// Installed by the bank manager at its initialisation, read by any thread naming a bank.
std::atomic<AuBankFileNameSink> g_pfnBankFileNameSink{nullptr};

AuUniqueID FromCopy(char* copy) {
    if (char* dot = strchr(copy, '.')) *dot = 0;
    const AuUniqueID id = AU::SoundEngine::GetIDFromString(copy);
    if (AuBankFileNameSink sink = g_pfnBankFileNameSink.load(std::memory_order_acquire)) sink(id, copy);
    return id;
}

} // namespace

void AuSetBankFileNameSink(AuBankFileNameSink sink) {
    g_pfnBankFileNameSink.store(sink, std::memory_order_release);
}

AuUniqueID GetBankIDFromName(const char* name) {
    if (!name) return 0;
    char copy[kMaxNameBytes + 1];
    const size_t length = strnlen(name, kMaxNameBytes);
    memcpy(copy, name, length);
    copy[length] = 0;
    return FromCopy(copy);
}

AuUniqueID GetBankIDFromName(const wchar_t* name) {
    if (!name) return 0;
    char copy[kMaxNameBytes + 1];
    const int length = static_cast<int>(wcsnlen(name, kMaxNameBytes));
    int written = length ? WideCharToMultiByte(CP_ACP, 0, name, length, copy, static_cast<int>(kMaxNameBytes),
                                               nullptr, nullptr)
                         : 0;
    copy[written > 0 ? written : 0] = 0;
    return FromCopy(copy);
}
