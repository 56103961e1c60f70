// The fuzz targets run without the engine's initialisation: the first input makes the memory
// manager and a default pool, which the lower engine uses too. A replaying test brings its own.
#pragma once

#include <AU/MemoryMgr.h>

namespace voicetest {

inline void EnsureFuzzMemory() {
    if (AU::MemoryMgr::IsInitialized()) return;
    const AuMemoryMgrSettings settings{4};
    AU::MemoryMgr::Init(&settings);
    g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 64u << 20, 64, AuPoolAttrMalloc, 0);
    g_LEngineDefaultPoolId = g_DefaultPoolId;
}

} // namespace voicetest
