// A device's I/O memory: one region cut into blocks of the granularity, with a cache index that
// keeps blocks findable by (cache id, file position). Guarded by the device lock.
#pragma once

#include <AU/StreamMgr.h>

#include "core/AuPolyBase.h"

struct AuIOBlock {
    u64 uPosition;
    u8* pData;
    AuIOBlock* pNextFree;
    u32 uDataSize;
    u32 uCacheID; // AU_NO_CACHE_ID: holds nothing cacheable
    u16 uRefCount;
};

class CAuIOMemory : public CAuPolyBase {
public:
    AURESULT Init(const AuDeviceSettings& settings);
    void Term();

    // Null when every block is taken.
    AuIOBlock* TakeFreeBlock();
    void ReleaseBlock(AuIOBlock* block);

    void EnterInCache(AuIOBlock* block, u32 cacheID, u64 position, u32 dataSize);
    void RemoveFromCache(AuIOBlock* block);
    void FlushCache();

    u32 NumBlocks() const { return m_uNumBlocks; }
    u32 FreeCount() const { return m_uFreeCount; }
    u32 AvailableViews() const { return m_uAvailableViews; }
    bool CachingOn() const { return m_bCachingOn; }
    AuMemPoolId PoolID() const { return m_poolId; }
    AuIOBlock* Block(u32 number) { return &m_pBlocks[number]; }
    // The block number at a place of the cache index, which is sorted by the blocks' keys.
    u32 IndexEntry(u32 place) const { return m_pIndex[place]; }

private:
    bool KeyLess(u32 a, u32 b) const;
    void Resort(u32 number);

    u8* m_pBase = nullptr;
    AuIOBlock* m_pBlocks = nullptr;
    u32 m_uFreeCount = 0;
    AuIOBlock* m_pFreeTail = nullptr;
    AuIOBlock* m_pFreeHead = nullptr;
    // Block numbers are 32-bit: a large region at a small granularity has more than 65535 blocks.
    u32* m_pIndex = nullptr;
    u32 m_uNumBlocks = 0;
    u32 m_uAvailableViews = 0;
    AuMemPoolId m_poolId = AU_INVALID_POOL_ID;
    bool m_bCachingOn = false;
};
