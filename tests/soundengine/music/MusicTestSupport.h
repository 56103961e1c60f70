// The sound engine started for real (silent output) for the music tests, and a pool filler that
// makes the engine's allocations fail.
#pragma once

#include "core/AuSoundEngineInternal.h"

#include <AU/MemoryMgr.h>
#include <AU/SoundEngine.h>
#include <AuEngineStarter.h>

#include <gtest/gtest.h>
#include <win32_testing.h>

#include <vector>

namespace au_test {

class SoundEngineRunning : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(AuEngineStarter::StartMemoryAndStreams(8));
        m_handlesBefore = win32test::OpenHandleCount();
        ASSERT_NO_FATAL_FAILURE(AuEngineStarter::StartEngine());
    }
    void TearDown() override {
        m_engine.Stop();
        win32test::FailNextEventCreations(0);
    }
    static u32 Used() {
        AU::MemoryMgr::PoolMemInfo info{};
        AU::MemoryMgr::GetPoolMemoryUsed(g_DefaultPoolId, info);
        return info.uUsed;
    }

    AuEngineStarter m_engine;
    size_t m_handlesBefore = 0;
};

// Takes every block of the pool but the given sizes, which stay free for the allocations the test
// wants to succeed; everything is given back at the end.
class PoolFiller {
public:
    PoolFiller(AuMemPoolId pool, std::vector<u32> keepFree) : m_pool(pool) {
        std::vector<void*> kept;
        for (u32 size : keepFree) {
            kept.push_back(AU::MemoryMgr::Malloc(pool, size));
            // A spacer keeps the kept blocks from merging.
            m_blocks.push_back(AU::MemoryMgr::Malloc(pool, 16));
        }
        for (u32 size : {4096u, 256u, 16u, 1u})
            while (void* block = AU::MemoryMgr::Malloc(pool, size))
                m_blocks.push_back(block);
        for (void* block : kept)
            AU::MemoryMgr::Free(pool, block);
    }
    ~PoolFiller() {
        for (void* block : m_blocks)
            AU::MemoryMgr::Free(m_pool, block);
    }
    PoolFiller(const PoolFiller&) = delete;
    PoolFiller& operator=(const PoolFiller&) = delete;

private:
    AuMemPoolId m_pool;
    std::vector<void*> m_blocks;
};

} // namespace au_test
