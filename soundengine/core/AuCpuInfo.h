// What the processor offers the mixing and copy kernels.
#pragma once

#include <AU/AuTypes.h>

enum AuCpuFeature : u32 {
    AuCpuFeatureSSE = 1,
    AuCpuFeatureSSE2 = 2,
    AuCpuFeatureSSE3 = 4,
    AuCpuFeatureSSSE3 = 8,
};

class CAuCpuInfo {
public:
    CAuCpuInfo(u32 features, u32 l2SizeKiB, u32 cacheLineSize);
    virtual ~CAuCpuInfo() = default;

    // The record of this processor, made on first use; a test may stand in its own.
    static CAuCpuInfo* Get();
    // Makes Get return `replacement` (null restores the real record); tests only.
    static void SetForTest(CAuCpuInfo* replacement);
    // Reads the processor: standard leaf 1 for the features, extended leaf 0x80000006 for the
    // cache (64-byte lines and 1024 KiB when that leaf is missing).
    static CAuCpuInfo Detect();

    // True when any bit of the mask is offered.
    virtual bool HasFeature(u32 mask) const;
    virtual u32 GetCacheLineSize() const;
    u32 GetFeatures() const { return m_uFeatures; }
    u32 GetL2SizeKiB() const { return m_uL2SizeKiB; }

private:
    u32 m_uFeatures;
    u32 m_uL2SizeKiB;
    u32 m_uCacheLineSize;
};
