// How the sound engine starts each of its threads.
#pragma once

#include <AU/AuTypes.h>

struct AuThreadProperties {
    i32 nPriority;      // a THREAD_PRIORITY_ value
    u32 dwAffinityMask; // 0 leaves the affinity as the system chose it
    u32 uStackSize;     // bytes
};
