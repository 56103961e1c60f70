#include <AU/MemoryMgr.h>

#include "memory/AuPoison.h"
#include "memory/AuTlsf.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr u32 kOwnsMemory = 1;

// Freed blocks wait, poisoned and still held from TLSF, before they can be handed out again, so a
// late access finds them unusable instead of landing in their next owner. Held to this many
// blocks and to an eighth of the pool, so the wait never starves a pool.
constexpr u32 kQuarantineBlocks = 64;
constexpr u32 kQuarantineShare = 8;

struct AuQuarantine {
    void* blocks[kQuarantineBlocks];
    u32 first;
    u32 count;
    u32 bytes;
};

struct AuPoolRecord {
    u32 blockCount; // non-zero exactly while the record is in use
    u32 blockSize;
    void* base; // what the hook returned; null for caller memory
    u8* start;
    u8* freeTail;
    u8* freeHead;
    u32 attributes;
    u32 flags;
    CRITICAL_SECTION lock;
    tlsf_t tlsf;
    u32 alignment;
    u32 used;
    u32 reserved;
#if AU_POISONING
    AuQuarantine quarantine;
#endif
};

// Written only by Init and Term on the game thread, before and after every other call.
AuPoolRecord* g_pPools = nullptr;
i32 g_nMaxPools = 0;
// Changed by CreatePool and DestroyPool under the record's own lock, from any thread; read by
// anyone. Relaxed order is enough: it is a count, and no other memory is published through it.
std::atomic<i32> g_nPoolsInUse{0};
bool g_bMemoryMgrInitialized = false;

void ResetRecord(AuPoolRecord& pool) {
    pool.blockCount = 0;
    pool.blockSize = 0;
    pool.base = nullptr;
    pool.start = nullptr;
    pool.freeTail = nullptr;
    pool.freeHead = nullptr;
    pool.attributes = AuPoolAttrMalloc;
    pool.flags = 0;
    pool.tlsf = nullptr;
    pool.alignment = 0;
    pool.used = 0;
    pool.reserved = 0;
#if AU_POISONING
    pool.quarantine.first = pool.quarantine.count = pool.quarantine.bytes = 0;
#endif
}

u32 PoolBytes(const AuPoolRecord& pool) {
    return pool.blockCount * pool.blockSize;
}

void ReleaseMemory(AuPoolRecord& pool, u32 poolBytes) {
    // The memory goes back to its owner (the hook's heap, or the caller) usable again.
    AuUnpoison(pool.start, poolBytes);
    if (pool.flags & kOwnsMemory) {
        if ((pool.attributes & AuPoolAttrAllocMask) == AuPoolAttrVirtualAlloc)
            SoundVirtualFreeHook(pool.base, 0, MEM_RELEASE);
        else
            SoundFreeHook(pool.base);
    }
    pool.base = nullptr;
    pool.start = nullptr;
}

// A pool record, or null for an id that names no pool in use.
AuPoolRecord* Find(AuMemPoolId poolId) {
    if (poolId < 0 || poolId >= g_nMaxPools || g_pPools[poolId].blockCount == 0) return nullptr;
    return &g_pPools[poolId];
}

// TLSF block sizes that are 4 modulo 8 keep every block start 8-byte aligned once the first
// one is, which 64-bit engine objects need; requests are rounded so. 10 bytes still give a
// 12-byte block.
u32 RoundForPointers(u32 size) {
    if (size == 0 || size >= kTlsfMaxBlockSize) return size;
    const u64 atLeast = size < kTlsfMinBlockSize ? kTlsfMinBlockSize : size;
    const u64 rounded = ((atLeast - 4 + 7) & ~u64{7}) + 4;
    return rounded >= kTlsfMaxBlockSize ? size : static_cast<u32>(rounded);
}

#if AU_POISONING
void ReleaseOldestQuarantined(AuPoolRecord& pool) {
    AuQuarantine& q = pool.quarantine;
    void* block = q.blocks[q.first];
    q.bytes -= tlsf_block_size(block) + kTlsfBlockOverhead;
    q.first = (q.first + 1) % kQuarantineBlocks;
    --q.count;
    tlsf_free(pool.tlsf, block);
}

// `block` is poisoned and counted free already.
void Quarantine(AuPoolRecord& pool, void* block) {
    AuQuarantine& q = pool.quarantine;
    const u32 bytes = tlsf_block_size(block) + kTlsfBlockOverhead;
    const u32 limit = PoolBytes(pool) / kQuarantineShare;
    if (bytes > limit) {
        tlsf_free(pool.tlsf, block);
        return;
    }
    while (q.count == kQuarantineBlocks || q.bytes + bytes > limit)
        ReleaseOldestQuarantined(pool);
    q.blocks[(q.first + q.count) % kQuarantineBlocks] = block;
    ++q.count;
    q.bytes += bytes;
}
#endif

void* AllocateUnderLock(AuPoolRecord& pool, u32 requested, u32 alignment) {
    if (alignment & (alignment - 1)) return nullptr;
    const u32 size = RoundForPointers(requested);
    const auto allocate = [&] {
        return alignment <= 4 ? tlsf_malloc(pool.tlsf, size) : tlsf_memalign(pool.tlsf, alignment, size);
    };
    void* block = allocate();
#if AU_POISONING
    // The quarantine never makes an allocation fail that would succeed without it.
    if (!block && pool.quarantine.count) {
        while (pool.quarantine.count)
            ReleaseOldestQuarantined(pool);
        block = allocate();
    }
#endif
    if (block) {
        pool.used += tlsf_block_size(block) + kTlsfBlockOverhead;
        // Only the bytes asked for: the rounding stays poisoned.
        AuUnpoison(block, requested);
    }
    return block;
}

} // namespace

AuMemPoolId g_DefaultPoolId = AU_INVALID_POOL_ID;

void* SoundAllocHook(u32 size) {
    return malloc(size);
}
void SoundFreeHook(void* pointer) {
    free(pointer);
}
void* SoundVirtualAllocHook(void* address, u32 size, u32 allocationType, u32 protection) {
    return VirtualAlloc(address, size, allocationType, protection);
}
void SoundVirtualFreeHook(void* address, u32 size, u32 freeType) {
    VirtualFree(address, size, freeType);
}

namespace AU::MemoryMgr {

AURESULT Init(const AuMemoryMgrSettings* settings) {
    if (g_bMemoryMgrInitialized || !settings) return AuResultFail;
    const u64 bytes = u64{settings->uMaxNumPools} * sizeof(AuPoolRecord);
    if (bytes > UINT32_MAX || settings->uMaxNumPools > INT32_MAX) return AuResultFail;
    auto* table = static_cast<AuPoolRecord*>(SoundAllocHook(static_cast<u32>(bytes)));
    if (!table && bytes != 0) return AuResultFail;
    for (u32 i = 0; i < settings->uMaxNumPools; ++i) {
        ResetRecord(table[i]);
        InitializeCriticalSection(&table[i].lock);
    }
    g_pPools = table;
    g_nMaxPools = static_cast<i32>(settings->uMaxNumPools);
    g_nPoolsInUse = 0;
    g_bMemoryMgrInitialized = true;
    return AuResultSuccess;
}

bool IsInitialized() {
    return g_bMemoryMgrInitialized;
}

void Term() {
    if (!g_bMemoryMgrInitialized) return;
    for (i32 i = 0; i < g_nMaxPools; ++i) {
        if (g_pPools[i].blockCount) DestroyPool(i);
        DeleteCriticalSection(&g_pPools[i].lock);
    }
    SoundFreeHook(g_pPools);
    g_pPools = nullptr;
    g_nMaxPools = 0;
    g_nPoolsInUse = 0;
    g_bMemoryMgrInitialized = false;
}

AuMemPoolId CreatePool(void* memory, u32 size, u32 blockSize, u32 attributes, u32 blockAlignment) {
    const u32 kind = attributes & AuPoolAttrAllocMask;
    const bool fixedBlocks = attributes & AuPoolAttrFixedBlocks;
    if (kind == AuPoolAttrAllocMask || (kind == AuPoolAttrNoAlloc && !memory)) return AU_INVALID_POOL_ID;
    // A block count of 0 would leave an in-use record looking free, and a fixed block must hold
    // its 32-bit free-list link.
    if (blockSize == 0 || size / blockSize == 0 || (fixedBlocks && blockSize < 4)) return AU_INVALID_POOL_ID;
    if (g_nPoolsInUse.load(std::memory_order_relaxed) >= g_nMaxPools) return AU_INVALID_POOL_ID;

    AuPoolRecord* pool = nullptr;
    for (i32 i = 0; i < g_nMaxPools && !pool; ++i) {
        EnterCriticalSection(&g_pPools[i].lock);
        if (g_pPools[i].blockCount == 0)
            pool = &g_pPools[i];
        else
            LeaveCriticalSection(&g_pPools[i].lock);
    }
    if (!pool) return AU_INVALID_POOL_ID;

    const u32 blocks = size / blockSize;
    const u32 poolBytes = blocks * blockSize;
    if (memory) {
        pool->flags &= ~kOwnsMemory;
        pool->start = static_cast<u8*>(memory);
    } else {
        const u64 total = u64{poolBytes} + blockAlignment;
        void* base = nullptr;
        if (total <= UINT32_MAX) {
            base = kind == AuPoolAttrVirtualAlloc
                       ? SoundVirtualAllocHook(nullptr, static_cast<u32>(total), MEM_COMMIT, PAGE_READWRITE)
                       : SoundAllocHook(static_cast<u32>(total));
        }
        if (!base) {
            LeaveCriticalSection(&pool->lock);
            return AU_INVALID_POOL_ID;
        }
        pool->base = base;
        pool->start = static_cast<u8*>(base);
        const uintptr_t address = reinterpret_cast<uintptr_t>(base);
        if (blockAlignment && address % blockAlignment)
            pool->start += blockAlignment - address % blockAlignment;
        pool->flags |= kOwnsMemory;
    }
    pool->attributes = attributes;
    pool->reserved = poolBytes;

    if (fixedBlocks) {
        pool->freeHead = pool->freeTail = nullptr;
        for (u32 i = 0; i < blocks; ++i) {
            u8* block = pool->start + u64{i} * blockSize;
            const u32 end = 0;
            memcpy(block, &end, 4);
            if (pool->freeTail) {
                const u32 link = i + 1;
                memcpy(pool->freeTail, &link, 4);
            } else {
                pool->freeHead = block;
            }
            pool->freeTail = block;
        }
        AuPoison(pool->start, poolBytes);
    } else {
        pool->tlsf = tlsf_create(pool->start, poolBytes);
        if (!pool->tlsf) {
            ReleaseMemory(*pool, poolBytes);
            pool->flags = 0;
            pool->attributes = AuPoolAttrMalloc;
            pool->reserved = 0;
            LeaveCriticalSection(&pool->lock);
            return AU_INVALID_POOL_ID;
        }
        pool->reserved -= kTlsfPoolOverhead;
        // Nothing is handed out yet: the control, the headers and the free block are all closed.
        AuPoison(pool->start, poolBytes);
    }

    pool->blockCount = blocks;
    pool->blockSize = blockSize;
    pool->alignment = blockAlignment;
    pool->used = 0;
    g_nPoolsInUse.fetch_add(1, std::memory_order_relaxed);
    LeaveCriticalSection(&pool->lock);
    return static_cast<AuMemPoolId>(pool - g_pPools);
}

AURESULT DestroyPool(AuMemPoolId poolId) {
    if (poolId < 0 || poolId >= g_nMaxPools) return AuResultInvalidPool;
    AuPoolRecord& pool = g_pPools[poolId];
    EnterCriticalSection(&pool.lock);
    // Judged under the record's lock: of two destroys racing each other, the second is refused.
    if (pool.blockCount == 0) {
        LeaveCriticalSection(&pool.lock);
        return AuResultInvalidPool;
    }
    pool.freeHead = pool.freeTail = nullptr;
    if (pool.tlsf) tlsf_destroy(pool.tlsf);
    ReleaseMemory(pool, PoolBytes(pool));
    ResetRecord(pool);
    g_nPoolsInUse.fetch_sub(1, std::memory_order_relaxed);
    LeaveCriticalSection(&pool.lock);
    return AuResultSuccess;
}

AURESULT CheckPoolId(AuMemPoolId poolId) {
    return Find(poolId) ? AuResultSuccess : AuResultInvalidPool;
}

void* Malloc(AuMemPoolId poolId, u32 size) {
    AuPoolRecord* pool = Find(poolId);
    if (!pool || !pool->tlsf || size == 0) return nullptr;
    EnterCriticalSection(&pool->lock);
    // A pool whose memory does not start on 8 bytes cannot rely on the size rounding alone.
    u32 alignment = pool->alignment;
    if (alignment < 8 && reinterpret_cast<uintptr_t>(pool->start) % 8 != 0) alignment = 8;
    void* block = AllocateUnderLock(*pool, size, alignment);
    LeaveCriticalSection(&pool->lock);
    return block;
}

void* Malign(AuMemPoolId poolId, u32 size, u32 alignment) {
    AuPoolRecord* pool = Find(poolId);
    if (!pool || !pool->tlsf || size == 0) return nullptr;
    EnterCriticalSection(&pool->lock);
    if (alignment < 8) alignment = 8;
    void* block = AllocateUnderLock(*pool, size, alignment);
    LeaveCriticalSection(&pool->lock);
    return block;
}

AURESULT Free(AuMemPoolId poolId, void* pointer) {
    if (!pointer) return AuResultSuccess;
    AuPoolRecord* pool = Find(poolId);
    if (!pool) return AuResultInvalidPool;
    if (!pool->tlsf) return AuResultFail;
    EnterCriticalSection(&pool->lock);
    AURESULT result = AuResultFail;
    // A quarantined block is still in use as TLSF sees it; its poisoned first byte, which a
    // block in use never has, tells a second free of it.
    if (tlsf_is_used_block(pool->tlsf, PoolBytes(*pool), pointer) && !AuIsPoisoned(pointer)) {
        const u32 size = tlsf_block_size(pointer);
        pool->used -= size + kTlsfBlockOverhead;
#if AU_POISONING
        AuPoison(pointer, size);
        Quarantine(*pool, pointer);
#else
        tlsf_free(pool->tlsf, pointer);
#endif
        result = AuResultSuccess;
    }
    LeaveCriticalSection(&pool->lock);
    return result;
}

AURESULT Falign(AuMemPoolId poolId, void* pointer) {
    return Free(poolId, pointer);
}

void* GetBlock(AuMemPoolId poolId) {
    AuPoolRecord* pool = Find(poolId);
    if (!pool || !pool->freeHead) return nullptr;
    u8* block = pool->freeHead;
    AuUnpoison(block, pool->blockSize);
    u32 link;
    memcpy(&link, block, 4);
    pool->freeHead = link ? pool->start + u64{link - 1} * pool->blockSize : nullptr;
    if (!pool->freeHead) pool->freeTail = nullptr;
    pool->used += pool->blockSize;
    return block;
}

AURESULT ReleaseBlock(AuMemPoolId poolId, void* block) {
    AuPoolRecord* pool = Find(poolId);
    if (!pool) return AuResultInvalidPool;
    auto* bytes = static_cast<u8*>(block);
    if (!(pool->attributes & AuPoolAttrFixedBlocks) || bytes < pool->start ||
        bytes >= pool->start + PoolBytes(*pool) || (bytes - pool->start) % pool->blockSize != 0)
        return AuResultFail;
    // A free block is poisoned whole, its link word too; the list's own accesses open it.
    const u32 end = 0;
    memcpy(bytes, &end, 4);
    AuPoison(bytes, pool->blockSize);
    if (pool->freeTail) {
        const u32 link = static_cast<u32>((bytes - pool->start) / pool->blockSize) + 1;
        AuWithWord(pool->freeTail, [&] { memcpy(pool->freeTail, &link, 4); });
    } else {
        pool->freeHead = bytes;
    }
    pool->freeTail = bytes;
    pool->used -= pool->blockSize;
    return AuResultSuccess;
}

u32 GetBlockSize(AuMemPoolId poolId) {
    const AuPoolRecord* pool = Find(poolId);
    return pool ? pool->blockSize : 0;
}

u32 GetPoolAttributes(AuMemPoolId poolId) {
    const AuPoolRecord* pool = Find(poolId);
    return pool ? pool->attributes : 0;
}

i32 GetMaxPools() {
    return g_nMaxPools;
}
i32 GetNumPools() {
    return g_nPoolsInUse.load(std::memory_order_relaxed);
}

AURESULT GetPoolStats(AuMemPoolId poolId, PoolStats& stats) {
    if (poolId < 0 || poolId >= g_nMaxPools) return AuResultFail;
    AuPoolRecord& pool = g_pPools[poolId];
    EnterCriticalSection(&pool.lock);
    stats = PoolStats{pool.reserved, pool.used, {0, 0, 0}};
    LeaveCriticalSection(&pool.lock);
    return AuResultSuccess;
}

void GetPoolMemoryUsed(AuMemPoolId poolId, PoolMemInfo& info) {
    info = PoolMemInfo{0, 0};
    AuPoolRecord* pool = Find(poolId);
    if (!pool) return;
    EnterCriticalSection(&pool->lock);
    info = PoolMemInfo{pool->reserved, pool->used};
    LeaveCriticalSection(&pool->lock);
}

// Pools carry no names in this build; monitoring and profiling are not offered either.
AURESULT SetPoolName(AuMemPoolId, const char*) {
    return AuResultSuccess;
}
AURESULT SetPoolName(AuMemPoolId, const wchar_t*) {
    return AuResultSuccess;
}
const wchar_t* GetPoolName(AuMemPoolId) {
    return nullptr;
}
AURESULT SetMonitoring(AuMemPoolId, bool) {
    return AuResultSuccess;
}
void StartProfileThreadUsage(AuMemPoolId) {}
u64 StopProfileThreadUsage(AuMemPoolId) {
    return 0;
}

} // namespace AU::MemoryMgr
