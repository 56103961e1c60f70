#include "banks/AuBankFileNames.h"

#include <AU/MemoryMgr.h>

#include <cstring>

namespace {

constexpr char kExtension[] = ".bnk";
constexpr u32 kExtensionLength = sizeof(kExtension) - 1;

} // namespace

CAuBankFileNames::CAuBankFileNames() {
    InitializeCriticalSection(&m_lock);
}

CAuBankFileNames::~CAuBankFileNames() {
    Term();
    DeleteCriticalSection(&m_lock);
}

AURESULT CAuBankFileNames::SetBankFileName(u32 bankID, const char* name) {
    return SetBankFileName(bankID, name, name ? static_cast<u32>(strlen(name)) : 0);
}

AURESULT CAuBankFileNames::SetBankFileName(u32 bankID, const char* name, u32 length) {
    if (!name) return AuResultInvalidParameter;
    EnterCriticalSection(&m_lock);
    Entry*& head = m_buckets[bankID % kBuckets];
    for (Entry* entry = head; entry; entry = entry->pNext) {
        if (entry->bankID == bankID) {
            LeaveCriticalSection(&m_lock);
            return AuResultSuccess;
        }
    }
    auto* entry = static_cast<Entry*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(Entry)));
    const u64 bytes = u64{length} + kExtensionLength + 1;
    char* copy = entry && bytes <= UINT32_MAX
                     ? static_cast<char*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, static_cast<u32>(bytes)))
                     : nullptr;
    if (!copy) {
        if (entry) AU::MemoryMgr::Free(g_DefaultPoolId, entry);
        LeaveCriticalSection(&m_lock);
        return AuResultNoMemory;
    }
    memcpy(copy, name, length);
    memcpy(copy + length, kExtension, kExtensionLength + 1);
    *entry = Entry{head, bankID, copy};
    head = entry;
    ++m_uCount;
    LeaveCriticalSection(&m_lock);
    return AuResultSuccess;
}

bool CAuBankFileNames::GetBankFileName(u32 bankID, char* out, u32 capacity) {
    EnterCriticalSection(&m_lock);
    for (Entry* entry = m_buckets[bankID % kBuckets]; entry; entry = entry->pNext) {
        if (entry->bankID == bankID) {
            if (out && capacity) {
                const size_t length = strnlen(entry->pszName, capacity - 1);
                memcpy(out, entry->pszName, length);
                out[length] = 0;
            }
            LeaveCriticalSection(&m_lock);
            return true;
        }
    }
    LeaveCriticalSection(&m_lock);
    return false;
}

u32 CAuBankFileNames::Count() {
    EnterCriticalSection(&m_lock);
    const u32 count = m_uCount;
    LeaveCriticalSection(&m_lock);
    return count;
}

void CAuBankFileNames::Term() {
    EnterCriticalSection(&m_lock);
    for (Entry*& head : m_buckets) {
        while (Entry* entry = head) {
            head = entry->pNext;
            AU::MemoryMgr::Free(g_DefaultPoolId, entry->pszName);
            AU::MemoryMgr::Free(g_DefaultPoolId, entry);
        }
    }
    m_uCount = 0;
    LeaveCriticalSection(&m_lock);
}
