// Numbered memory pools: every allocation of the sound engine comes from one of them.
#pragma once

#include <AU/AuTypes.h>

struct AuMemoryMgrSettings {
    u32 uMaxNumPools;
};

// Bits 0-1 say where a pool's memory comes from; AuPoolAttrFixedBlocks selects block pools.
enum AuMemPoolAttributes : u32 {
    AuPoolAttrNoAlloc = 0,
    AuPoolAttrMalloc = 1,
    AuPoolAttrVirtualAlloc = 2,
    AuPoolAttrAllocMask = 3,
    AuPoolAttrFixedBlocks = 8,
};

// The manager takes its table and every pool's memory through these four. The engine defines them
// over malloc/free and VirtualAlloc/VirtualFree; the game does not supply its own.
void* SoundAllocHook(u32 size);
void SoundFreeHook(void* pointer);
void* SoundVirtualAllocHook(void* address, u32 size, u32 allocationType, u32 protection);
void SoundVirtualFreeHook(void* address, u32 size, u32 freeType);

// The sound engine's own pool, made by its initialisation; -1 until then.
extern AuMemPoolId g_DefaultPoolId;
// The lower engine's pool (voices, busses, sinks, sample buffers); -1 until the lower engine
// makes it.
extern AuMemPoolId g_LEngineDefaultPoolId;

namespace AU::MemoryMgr {

struct PoolStats {
    u32 uReserved;
    u32 uUsed;
    u32 uUnused[3]; // always 0
};

struct PoolMemInfo {
    u32 uReserved;
    u32 uUsed;
};

AURESULT Init(const AuMemoryMgrSettings* settings);
bool IsInitialized();
void Term();

// The new pool's id, or -1.
AuMemPoolId CreatePool(void* memory, u32 size, u32 blockSize, u32 attributes, u32 blockAlignment = 0);
AURESULT DestroyPool(AuMemPoolId poolId);
AURESULT CheckPoolId(AuMemPoolId poolId);

// Variable-size pools. Blocks are at least 8-byte aligned so that any engine object fits.
void* Malloc(AuMemPoolId poolId, u32 size);
void* Malign(AuMemPoolId poolId, u32 size, u32 alignment);
// 2 for a pointer this pool did not hand out (nothing is changed then).
AURESULT Free(AuMemPoolId poolId, void* pointer);
AURESULT Falign(AuMemPoolId poolId, void* pointer);

// Fixed-block pools: one owner thread at a time, no lock.
void* GetBlock(AuMemPoolId poolId);
AURESULT ReleaseBlock(AuMemPoolId poolId, void* block);

u32 GetBlockSize(AuMemPoolId poolId);
u32 GetPoolAttributes(AuMemPoolId poolId);
i32 GetMaxPools();
i32 GetNumPools();
AURESULT GetPoolStats(AuMemPoolId poolId, PoolStats& stats);
void GetPoolMemoryUsed(AuMemPoolId poolId, PoolMemInfo& info);

// Names are not kept: GetPoolName always gives null.
AURESULT SetPoolName(AuMemPoolId poolId, const char* name);
AURESULT SetPoolName(AuMemPoolId poolId, const wchar_t* name);
const wchar_t* GetPoolName(AuMemPoolId poolId);
AURESULT SetMonitoring(AuMemPoolId poolId, bool enable);
void StartProfileThreadUsage(AuMemPoolId poolId);
u64 StopProfileThreadUsage(AuMemPoolId poolId);

} // namespace AU::MemoryMgr
