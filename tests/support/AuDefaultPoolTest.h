// A memory manager with the engine's default pool for one test, as the engine's initialisation
// makes it.
#pragma once

#include <AU/MemoryMgr.h>

#include <gtest/gtest.h>

class AuDefaultPoolTest : public testing::Test {
protected:
    explicit AuDefaultPoolTest(u32 poolBytes = 4u << 20) : m_poolBytes(poolBytes) {}

    void SetUp() override {
        const AuMemoryMgrSettings settings{8};
        ASSERT_EQ(AU::MemoryMgr::Init(&settings), AuResultSuccess);
        g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, m_poolBytes, 64, AuPoolAttrMalloc, 0);
        ASSERT_NE(g_DefaultPoolId, -1);
        m_usedAtStart = Used();
    }
    void TearDown() override {
        AU::MemoryMgr::Term();
        g_DefaultPoolId = -1;
    }
    static u32 Used() {
        AU::MemoryMgr::PoolMemInfo info{};
        AU::MemoryMgr::GetPoolMemoryUsed(g_DefaultPoolId, info);
        return info.uUsed;
    }

    const u32 m_poolBytes;
    u32 m_usedAtStart = 0;
};
