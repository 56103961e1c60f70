// A memory manager with a default pool for one test, as the engine's initialisation makes it.
#pragma once

#include <AU/MemoryMgr.h>

#include <gtest/gtest.h>

class CoreTestPool : public testing::Test {
protected:
    void SetUp() override {
        const AuMemoryMgrSettings settings{4};
        ASSERT_EQ(AU::MemoryMgr::Init(&settings), AuResultSuccess);
        g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 4u << 20, 64, AuPoolAttrMalloc, 0);
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
    u32 m_usedAtStart = 0;
};
