#include "parameters/AuPropBundle.h"

#include <AU/MemoryMgr.h>

#include <cstring>

namespace {

u32 BlockSize(u32 count, u32 valueSize) {
    return AuPropBundleValueOffset(count) + count * valueSize;
}

// The index of the ID in the block, or the count.
u32 IndexOf(const u8* block, u8 id) {
    if (!block) return 0;
    const u32 count = block[0];
    for (u32 i = 0; i < count; ++i)
        if (block[1 + i] == id) return i;
    return count;
}

void FreeBlock(u8*& block) {
    if (block) AU::MemoryMgr::Free(g_DefaultPoolId, block);
    block = nullptr;
}

// The packed bank form to the padded block: u8 n, n IDs, n values of valueSize bytes.
AURESULT ReadPacked(u8*& block, const u8*& cursor, const u8* end, u32 valueSize) {
    if (!cursor || cursor >= end) return AuResultTruncatedChunk;
    const u32 count = cursor[0];
    const u32 packed = 1 + count * (1 + valueSize);
    if (u64(end - cursor) < packed) return AuResultTruncatedChunk;
    u8* made = nullptr;
    if (count > 0) {
        made = static_cast<u8*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, BlockSize(count, valueSize)));
        if (!made) return AuResultNoMemory;
        memset(made, 0, AuPropBundleValueOffset(count));
        memcpy(made, cursor, 1 + count);
        memcpy(made + AuPropBundleValueOffset(count), cursor + 1 + count, count * valueSize);
    }
    FreeBlock(block);
    block = made;
    cursor += packed;
    return AuResultSuccess;
}

} // namespace

AURESULT AuPropBundle::SetFromBank(const u8*& cursor, const u8* end) {
    return ReadPacked(m_pBlock, cursor, end, sizeof(AuPropValue));
}

AuPropValue* AuPropBundle::GetValue(u8 id) {
    const u32 at = IndexOf(m_pBlock, id);
    if (at >= Count()) return nullptr;
    return reinterpret_cast<AuPropValue*>(m_pBlock + AuPropBundleValueOffset(Count())) + at;
}

AURESULT AuPropBundle::SetValue(u8 id, AuPropValue value) {
    if (AuPropValue* stored = GetValue(id)) {
        *stored = value;
        return AuResultSuccess;
    }
    const u32 count = Count();
    if (count == 255) return AuResultFail;
    const u32 size = BlockSize(count + 1, sizeof(AuPropValue));
    u8* made = static_cast<u8*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, size));
    if (!made) return AuResultFail;
    memset(made, 0, size);
    made[0] = u8(count + 1);
    const u32 offset = AuPropBundleValueOffset(count + 1);
    if (m_pBlock) {
        memcpy(made + 1, m_pBlock + 1, count);
        memcpy(made + offset, m_pBlock + AuPropBundleValueOffset(count), count * sizeof(AuPropValue));
    }
    made[1 + count] = id;
    reinterpret_cast<AuPropValue*>(made + offset)[count] = value;
    FreeBlock(m_pBlock);
    m_pBlock = made;
    return AuResultSuccess;
}

void AuPropBundle::Term() {
    FreeBlock(m_pBlock);
}

AuPropValue8* AuPropBundle8::Add(u8 id) {
    const u32 count = Count();
    if (count == 255) return nullptr;
    u8* made =
        static_cast<u8*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, BlockSize(count + 1, sizeof(AuPropValue8))));
    if (!made) return nullptr;
    const u32 offset = AuPropBundleValueOffset(count + 1);
    memset(made, 0, BlockSize(count + 1, sizeof(AuPropValue8)));
    made[0] = u8(count + 1);
    if (m_pBlock) {
        memcpy(made + 1, m_pBlock + 1, count);
        memcpy(made + offset, m_pBlock + AuPropBundleValueOffset(count), count * sizeof(AuPropValue8));
    }
    made[1 + count] = id;
    FreeBlock(m_pBlock);
    m_pBlock = made;
    return reinterpret_cast<AuPropValue8*>(made + offset) + count;
}

AURESULT AuPropBundle8::Set(u8 id, u32 word1, u32 word2) {
    AuPropValue8* entry = Get(id);
    if (!entry) entry = Add(id);
    if (!entry) return AuResultFail;
    *entry = AuPropValue8{word1, word2};
    return AuResultSuccess;
}

AURESULT AuPropBundle8::ReadFromBank(const u8*& cursor, const u8* end) {
    return ReadPacked(m_pBlock, cursor, end, sizeof(AuPropValue8));
}

AuPropValue8* AuPropBundle8::Get(u8 id) {
    const u32 at = IndexOf(m_pBlock, id);
    if (at >= Count()) return nullptr;
    return reinterpret_cast<AuPropValue8*>(m_pBlock + AuPropBundleValueOffset(Count())) + at;
}

void AuPropBundle8::Term() {
    FreeBlock(m_pBlock);
}
