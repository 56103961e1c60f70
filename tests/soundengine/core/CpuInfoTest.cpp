#include "core/AuCpuInfo.h"

#include <gtest/gtest.h>

namespace {

TEST(CpuInfo, ThisProcessorHasTheSseFamily) {
    CAuCpuInfo* info = CAuCpuInfo::Get();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(CAuCpuInfo::Get(), info); // one record
#if defined(__x86_64__)
    EXPECT_TRUE(info->HasFeature(AuCpuFeatureSSE));
    EXPECT_TRUE(info->HasFeature(AuCpuFeatureSSE2));
#endif
    EXPECT_GT(info->GetCacheLineSize(), 0u);
    EXPECT_EQ(info->GetCacheLineSize() & (info->GetCacheLineSize() - 1), 0u);
    EXPECT_GT(info->GetL2SizeKiB(), 0u);
}

TEST(CpuInfo, HasFeatureAnswersForAnyBitOfTheMask) {
    const CAuCpuInfo info(AuCpuFeatureSSE2 | AuCpuFeatureSSSE3, 256, 128);
    struct Case {
        u32 mask;
        bool has;
    } cases[] = {{1, false},     {2, true},     {4, false}, {8, true},
                 {1 | 4, false}, {1 | 2, true}, {0, false}, {15, true}};
    for (const Case& c : cases)
        EXPECT_EQ(info.HasFeature(c.mask), c.has) << c.mask;
    EXPECT_EQ(info.GetCacheLineSize(), 128u);
}

TEST(CpuInfo, ATestCanStandInAProcessorWithoutSse) {
    CAuCpuInfo bare(0, 1024, 64);
    CAuCpuInfo::SetForTest(&bare);
    EXPECT_EQ(CAuCpuInfo::Get(), &bare);
    EXPECT_FALSE(CAuCpuInfo::Get()->HasFeature(AuCpuFeatureSSE));
    CAuCpuInfo::SetForTest(nullptr);
    EXPECT_NE(CAuCpuInfo::Get(), &bare);
}

} // namespace
