#include "core/AuCpuInfo.h"

#include <atomic>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

// Written only by tests, before the engine starts; read by any thread.
std::atomic<CAuCpuInfo*> g_pCpuInfoOverride{nullptr};

} // namespace

CAuCpuInfo::CAuCpuInfo(u32 features, u32 l2SizeKiB, u32 cacheLineSize)
    : m_uFeatures(features), m_uL2SizeKiB(l2SizeKiB), m_uCacheLineSize(cacheLineSize) {}

CAuCpuInfo CAuCpuInfo::Detect() {
    u32 features = 0;
    u32 l2SizeKiB = 1024;
    u32 lineSize = 64;
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax, ebx, ecx, edx;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        features |= (edx & (1u << 25)) ? u32{AuCpuFeatureSSE} : 0u;
        features |= (edx & (1u << 26)) ? u32{AuCpuFeatureSSE2} : 0u;
        features |= (ecx & (1u << 0)) ? u32{AuCpuFeatureSSE3} : 0u;
        features |= (ecx & (1u << 9)) ? u32{AuCpuFeatureSSSE3} : 0u;
    }
    if (__get_cpuid_max(0x80000000u, nullptr) >= 0x80000006u &&
        __get_cpuid(0x80000006u, &eax, &ebx, &ecx, &edx)) {
        lineSize = ecx & 0xFF;
        l2SizeKiB = ecx >> 16;
    }
#endif
    return CAuCpuInfo(features, l2SizeKiB, lineSize);
}

CAuCpuInfo* CAuCpuInfo::Get() {
    if (CAuCpuInfo* replacement = g_pCpuInfoOverride.load(std::memory_order_acquire)) return replacement;
    static CAuCpuInfo s_info = Detect();
    return &s_info;
}

void CAuCpuInfo::SetForTest(CAuCpuInfo* replacement) {
    g_pCpuInfoOverride.store(replacement, std::memory_order_release);
}

bool CAuCpuInfo::HasFeature(u32 mask) const {
    return (m_uFeatures & mask) != 0;
}

u32 CAuCpuInfo::GetCacheLineSize() const {
    return m_uCacheLineSize;
}
