#include "streaming/detail/AuIOMemory.h"

#include <AU/MemoryMgr.h>

#include <cmath>
#include <cstring>

AURESULT CAuIOMemory::Init(const AuDeviceSettings& settings) {
    m_uNumBlocks = settings.uIOMemorySize / settings.uGranularity;
    const u32 regionBytes = m_uNumBlocks * settings.uGranularity;
    m_bCachingOn = settings.fCacheRatio > 1.0f;
    if (regionBytes == 0) {
        m_uNumBlocks = 0;
        return AuResultSuccess;
    }
    m_poolId = AU::MemoryMgr::CreatePool(settings.pIOMemory, regionBytes, regionBytes,
                                         settings.ePoolAttributes | AuPoolAttrFixedBlocks,
                                         settings.uIOMemoryAlignment);
    if (m_poolId == AU_INVALID_POOL_ID) return AuResultFail;
    m_pBase = static_cast<u8*>(AU::MemoryMgr::GetBlock(m_poolId));
    const u64 recordBytes = u64{m_uNumBlocks} * sizeof(AuIOBlock);
    const u64 indexBytes = u64{m_uNumBlocks} * sizeof(u32);
    if (recordBytes <= UINT32_MAX)
        m_pBlocks =
            static_cast<AuIOBlock*>(AU::MemoryMgr::Malloc(g_StreamMgrPoolId, static_cast<u32>(recordBytes)));
    if (m_pBlocks && indexBytes <= UINT32_MAX)
        m_pIndex = static_cast<u32*>(AU::MemoryMgr::Malloc(g_StreamMgrPoolId, static_cast<u32>(indexBytes)));
    if (!m_pBase || !m_pBlocks || !m_pIndex) {
        Term();
        return AuResultFail;
    }
    for (u32 i = 0; i < m_uNumBlocks; ++i) {
        AuIOBlock& block = m_pBlocks[i];
        block.uPosition = 0;
        block.pData = m_pBase + u64{i} * settings.uGranularity;
        block.pNextFree = i + 1 < m_uNumBlocks ? &m_pBlocks[i + 1] : nullptr;
        block.uDataSize = 0;
        block.uCacheID = AU_NO_CACHE_ID;
        block.uRefCount = 0;
        m_pIndex[i] = i;
    }
    m_pFreeHead = &m_pBlocks[0];
    m_pFreeTail = &m_pBlocks[m_uNumBlocks - 1];
    m_uFreeCount = m_uNumBlocks;
    // A cached block shared by two streams counts twice, so the ratio may grant more views than blocks.
    const double blocks = static_cast<double>(m_uNumBlocks);
    const double views = std::nearbyint(blocks * settings.fCacheRatio);
    m_uAvailableViews =
        views > blocks ? (views >= UINT32_MAX ? UINT32_MAX : static_cast<u32>(views)) : m_uNumBlocks;
    return AuResultSuccess;
}

void CAuIOMemory::Term() {
    AU::MemoryMgr::Free(g_StreamMgrPoolId, m_pIndex);
    AU::MemoryMgr::Free(g_StreamMgrPoolId, m_pBlocks);
    if (m_poolId != AU_INVALID_POOL_ID) {
        if (m_pBase) AU::MemoryMgr::ReleaseBlock(m_poolId, m_pBase);
        AU::MemoryMgr::DestroyPool(m_poolId);
    }
    m_pIndex = nullptr;
    m_pBlocks = nullptr;
    m_pBase = nullptr;
    m_pFreeHead = m_pFreeTail = nullptr;
    m_uFreeCount = m_uNumBlocks = m_uAvailableViews = 0;
    m_poolId = AU_INVALID_POOL_ID;
}

AuIOBlock* CAuIOMemory::TakeFreeBlock() {
    AuIOBlock* block = m_pFreeHead;
    if (!block) return nullptr;
    m_pFreeHead = block->pNextFree;
    if (!m_pFreeHead) m_pFreeTail = nullptr;
    block->pNextFree = nullptr;
    ++block->uRefCount;
    --m_uFreeCount;
    --m_uAvailableViews;
    return block;
}

void CAuIOMemory::ReleaseBlock(AuIOBlock* block) {
    ++m_uAvailableViews;
    if (--block->uRefCount != 0) return;
    ++m_uFreeCount;
    block->pNextFree = nullptr;
    if (!m_pFreeHead) {
        m_pFreeHead = m_pFreeTail = block;
    } else if (block->uCacheID != AU_NO_CACHE_ID) {
        // Cached data goes to the back so that it stays findable as long as possible.
        m_pFreeTail->pNextFree = block;
        m_pFreeTail = block;
    } else {
        block->pNextFree = m_pFreeHead;
        m_pFreeHead = block;
    }
}

bool CAuIOMemory::KeyLess(u32 a, u32 b) const {
    const AuIOBlock& x = m_pBlocks[a];
    const AuIOBlock& y = m_pBlocks[b];
    if (x.uCacheID != y.uCacheID) return x.uCacheID < y.uCacheID;
    if (x.uPosition != y.uPosition) return x.uPosition < y.uPosition;
    return x.pData < y.pData;
}

// Moves the block's index entry to where its new key belongs; keys are unique because the memory
// address is part of them.
void CAuIOMemory::Resort(u32 number) {
    u32 from = 0;
    while (from < m_uNumBlocks && m_pIndex[from] != number)
        ++from;
    // Take the entry out, then find the new place among the others.
    memmove(&m_pIndex[from], &m_pIndex[from + 1], (m_uNumBlocks - from - 1) * sizeof(u32));
    u32 low = 0, high = m_uNumBlocks - 1;
    while (low < high) {
        const u32 middle = low + (high - low) / 2;
        if (KeyLess(m_pIndex[middle], number))
            low = middle + 1;
        else
            high = middle;
    }
    memmove(&m_pIndex[low + 1], &m_pIndex[low], (m_uNumBlocks - 1 - low) * sizeof(u32));
    m_pIndex[low] = number;
}

void CAuIOMemory::EnterInCache(AuIOBlock* block, u32 cacheID, u64 position, u32 dataSize) {
    block->uCacheID = cacheID;
    block->uPosition = position;
    block->uDataSize = dataSize;
    Resort(static_cast<u32>(block - m_pBlocks));
}

// Blocks without a cache id are never searched, so they only need to stay behind the others.
void CAuIOMemory::RemoveFromCache(AuIOBlock* block) {
    block->uCacheID = AU_NO_CACHE_ID;
    const u32 number = static_cast<u32>(block - m_pBlocks);
    u32 from = 0;
    while (from < m_uNumBlocks && m_pIndex[from] != number)
        ++from;
    memmove(&m_pIndex[from], &m_pIndex[from + 1], (m_uNumBlocks - from - 1) * sizeof(u32));
    m_pIndex[m_uNumBlocks - 1] = number;
}

void CAuIOMemory::FlushCache() {
    for (u32 i = 0; i < m_uNumBlocks; ++i)
        if (m_pBlocks[i].uCacheID != AU_NO_CACHE_ID) RemoveFromCache(&m_pBlocks[i]);
}
