#include "core/AuExternalSources.h"

#include <AU/MemoryMgr.h>

#include <cstring>
#include <cwchar>
#include <new>

static_assert(sizeof(AuExternalSourceArray) == 8);
static_assert(sizeof(AuExternalSourceArray) % alignof(AuExternalSourceInfo) == 0);

AuExternalSourceArray* AuExternalSourceArray::Create(u32 count, const AuExternalSourceInfo* sources) {
    if (count && !sources) return nullptr;
    const u64 bytes = sizeof(AuExternalSourceArray) + u64{count} * sizeof(AuExternalSourceInfo);
    if (bytes > UINT32_MAX) return nullptr;
    void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, static_cast<u32>(bytes));
    if (!block) return nullptr;
    auto* array = new (block) AuExternalSourceArray;
    array->m_cRefs = 1;
    array->m_nItems = 0;
    AuExternalSourceInfo* items = array->Items();
    for (u32 i = 0; i < count; ++i) {
        items[i] = sources[i];
        if (sources[i].szFile) {
            const u64 nameBytes = (wcslen(sources[i].szFile) + 1) * sizeof(wchar_t);
            void* name = nameBytes <= UINT32_MAX
                             ? AU::MemoryMgr::Malloc(g_DefaultPoolId, static_cast<u32>(nameBytes))
                             : nullptr;
            if (!name) {
                array->Release();
                return nullptr;
            }
            memcpy(name, sources[i].szFile, nameBytes);
            items[i].szFile = static_cast<const wchar_t*>(name);
        }
        array->m_nItems = i + 1;
    }
    return array;
}

void AuExternalSourceArray::Release() {
    if (--m_cRefs != 0) return;
    AuExternalSourceInfo* items = Items();
    for (u32 i = 0; i < m_nItems; ++i)
        AU::MemoryMgr::Free(g_DefaultPoolId, const_cast<wchar_t*>(items[i].szFile));
    AU::MemoryMgr::Free(g_DefaultPoolId, this);
}
