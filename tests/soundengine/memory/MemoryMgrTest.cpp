#include <AU/MemoryMgr.h>

#include "AuLogCapture.h"
#include "memory/AuTlsf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

namespace {

using namespace AU;

class MemoryMgrTest : public testing::Test {
protected:
    void SetUp() override {
        const AuMemoryMgrSettings settings{4};
        ASSERT_EQ(MemoryMgr::Init(&settings), AuResultSuccess);
    }
    void TearDown() override {
        MemoryMgr::Term();
        EXPECT_FALSE(MemoryMgr::IsInitialized());
    }
};

TEST(MemoryMgrLifecycle, InitRefusesNullSettingsAndASecondInit) {
    EXPECT_FALSE(MemoryMgr::IsInitialized());
    EXPECT_EQ(MemoryMgr::Init(nullptr), AuResultFail);
    const AuMemoryMgrSettings settings{20};
    ASSERT_EQ(MemoryMgr::Init(&settings), AuResultSuccess);
    EXPECT_TRUE(MemoryMgr::IsInitialized());
    const AuMemoryMgrSettings other{3};
    EXPECT_EQ(MemoryMgr::Init(&other), AuResultFail);
    EXPECT_EQ(MemoryMgr::GetMaxPools(), 20); // the first table stays
    EXPECT_EQ(MemoryMgr::GetNumPools(), 0);
    MemoryMgr::Term();
    MemoryMgr::Term(); // nothing when not initialised
    EXPECT_FALSE(MemoryMgr::IsInitialized());
    EXPECT_EQ(MemoryMgr::GetMaxPools(), 0);
    EXPECT_EQ(MemoryMgr::CreatePool(nullptr, 65536, 64, AuPoolAttrMalloc, 0), -1);
}

TEST(MemoryMgrLifecycle, AnEmptyTableHoldsNoPool) {
    const AuMemoryMgrSettings settings{0};
    ASSERT_EQ(MemoryMgr::Init(&settings), AuResultSuccess);
    EXPECT_EQ(MemoryMgr::CreatePool(nullptr, 65536, 64, AuPoolAttrMalloc, 0), -1);
    MemoryMgr::Term();
}

TEST_F(MemoryMgrTest, TlsfPoolFigures) {
    const AuMemPoolId pool = MemoryMgr::CreatePool(nullptr, 65536 + 50, 64, AuPoolAttrMalloc, 0);
    ASSERT_EQ(pool, 0);
    EXPECT_EQ(MemoryMgr::CheckPoolId(pool), AuResultSuccess);
    EXPECT_EQ(MemoryMgr::GetBlockSize(pool), 64u);
    EXPECT_EQ(MemoryMgr::GetPoolAttributes(pool), u32{AuPoolAttrMalloc});
    EXPECT_EQ(MemoryMgr::GetNumPools(), 1);

    MemoryMgr::PoolStats stats{1, 1, {7, 7, 7}};
    ASSERT_EQ(MemoryMgr::GetPoolStats(pool, stats), AuResultSuccess);
    EXPECT_EQ(stats.uReserved, 65536u - 3196u); // cut to whole blocks, less the TLSF overhead
    EXPECT_EQ(stats.uUsed, 0u);
    EXPECT_EQ(stats.uUnused[0] | stats.uUnused[1] | stats.uUnused[2], 0u);

    EXPECT_EQ(MemoryMgr::Malloc(pool, 0), nullptr);
    EXPECT_EQ(MemoryMgr::Malign(pool, 0, 16), nullptr);
    EXPECT_EQ(MemoryMgr::Free(pool, nullptr), AuResultSuccess);

    void* ten = MemoryMgr::Malloc(pool, 10);
    ASSERT_NE(ten, nullptr);
    MemoryMgr::PoolMemInfo info{};
    MemoryMgr::GetPoolMemoryUsed(pool, info);
    EXPECT_EQ(info.uUsed, 16u); // a 12-byte block and its size word
    EXPECT_EQ(info.uReserved, 65536u - 3196u);

    void* aligned = MemoryMgr::Malign(pool, 100, 16);
    ASSERT_NE(aligned, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(aligned) % 16, 0u);
    MemoryMgr::GetPoolMemoryUsed(pool, info);
    EXPECT_EQ(info.uUsed, 16u + tlsf_block_size(aligned) + 4);

    EXPECT_EQ(MemoryMgr::Free(pool, ten), AuResultSuccess);
    EXPECT_EQ(MemoryMgr::Falign(pool, aligned), AuResultSuccess);
    MemoryMgr::GetPoolMemoryUsed(pool, info);
    EXPECT_EQ(info.uUsed, 0u);
    EXPECT_EQ(MemoryMgr::DestroyPool(pool), AuResultSuccess);
    EXPECT_EQ(MemoryMgr::GetNumPools(), 0);
    EXPECT_EQ(MemoryMgr::CheckPoolId(pool), AuResultInvalidPool);
}

TEST_F(MemoryMgrTest, EveryAllocationFitsAPointer) {
    const AuMemPoolId pool = MemoryMgr::CreatePool(nullptr, 1 << 16, 4, AuPoolAttrMalloc, 4);
    ASSERT_NE(pool, -1);
    std::vector<void*> blocks;
    for (u32 size = 1; size < 300; size += 3) {
        void* block = MemoryMgr::Malloc(pool, size);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 8, 0u) << size;
        EXPECT_GE(tlsf_block_size(block), size);
        blocks.push_back(block);
    }
    for (size_t i = 0; i < blocks.size(); i += 2)
        MemoryMgr::Free(pool, blocks[i]);
    for (u32 size = 5; size < 200; size += 7) {
        void* block = MemoryMgr::Malloc(pool, size);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 8, 0u) << size;
    }
}

TEST_F(MemoryMgrTest, CallerMemoryOffEightBytesStillGivesAlignedBlocks) {
    std::vector<u64> storage(8192 / 8 + 1);
    u8* memory = reinterpret_cast<u8*>(storage.data()) + 4;
    const AuMemPoolId pool = MemoryMgr::CreatePool(memory, 8192, 8192, AuPoolAttrNoAlloc, 0);
    ASSERT_NE(pool, -1);
    for (u32 size : {1u, 10u, 13u, 40u}) {
        void* block = MemoryMgr::Malloc(pool, size);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 8, 0u);
    }
    MemoryMgr::DestroyPool(pool); // caller memory is simply forgotten
}

TEST_F(MemoryMgrTest, FixedBlockPoolHandsOutBlocksInOrderAndAppendsReleases) {
    const AuMemPoolId pool =
        MemoryMgr::CreatePool(nullptr, 1000, 64, AuPoolAttrMalloc | AuPoolAttrFixedBlocks, 0);
    ASSERT_NE(pool, -1);
    EXPECT_EQ(MemoryMgr::GetPoolAttributes(pool), u32{AuPoolAttrMalloc | AuPoolAttrFixedBlocks});
    MemoryMgr::PoolStats stats{};
    MemoryMgr::GetPoolStats(pool, stats);
    EXPECT_EQ(stats.uReserved, 960u);                // 15 blocks of 64
    EXPECT_EQ(MemoryMgr::Malloc(pool, 16), nullptr); // not a TLSF pool

    std::vector<u8*> blocks;
    while (void* block = MemoryMgr::GetBlock(pool))
        blocks.push_back(static_cast<u8*>(block));
    ASSERT_EQ(blocks.size(), 15u);
    for (size_t i = 1; i < blocks.size(); ++i)
        EXPECT_EQ(blocks[i] - blocks[i - 1], 64);
    MemoryMgr::GetPoolStats(pool, stats);
    EXPECT_EQ(stats.uUsed, 960u);
    EXPECT_EQ(MemoryMgr::GetBlock(pool), nullptr);

    // Releases join at the tail: the list hands them back in release order.
    EXPECT_EQ(MemoryMgr::ReleaseBlock(pool, blocks[7]), AuResultSuccess);
    EXPECT_EQ(MemoryMgr::ReleaseBlock(pool, blocks[2]), AuResultSuccess);
    EXPECT_EQ(MemoryMgr::ReleaseBlock(pool, blocks[11]), AuResultSuccess);
    MemoryMgr::GetPoolStats(pool, stats);
    EXPECT_EQ(stats.uUsed, 960u - 3 * 64);
    EXPECT_EQ(MemoryMgr::GetBlock(pool), blocks[7]);
    EXPECT_EQ(MemoryMgr::GetBlock(pool), blocks[2]);
    EXPECT_EQ(MemoryMgr::ReleaseBlock(pool, blocks[5]), AuResultSuccess);
    EXPECT_EQ(MemoryMgr::GetBlock(pool), blocks[11]);
    EXPECT_EQ(MemoryMgr::GetBlock(pool), blocks[5]);
    EXPECT_EQ(MemoryMgr::GetBlock(pool), nullptr);

    // Foreign or misplaced blocks change nothing.
    int foreign = 0;
    EXPECT_EQ(MemoryMgr::ReleaseBlock(pool, &foreign), AuResultFail);
    EXPECT_EQ(MemoryMgr::ReleaseBlock(pool, blocks[3] + 8), AuResultFail);
    EXPECT_EQ(MemoryMgr::GetBlock(pool), nullptr);
}

TEST_F(MemoryMgrTest, PageAllocatedPoolsAndAlignment) {
    const AuMemPoolId pages =
        MemoryMgr::CreatePool(nullptr, 0x200000, 16384, AuPoolAttrVirtualAlloc | AuPoolAttrFixedBlocks, 4);
    ASSERT_NE(pages, -1);
    u8* block = static_cast<u8*>(MemoryMgr::GetBlock(pages));
    ASSERT_NE(block, nullptr);
    block[16383] = 1; // committed and writable
    MemoryMgr::ReleaseBlock(pages, block);

    const AuMemPoolId aligned = MemoryMgr::CreatePool(nullptr, 65536, 64, AuPoolAttrMalloc, 4096);
    ASSERT_NE(aligned, -1);
    void* first = MemoryMgr::Malloc(aligned, 32);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % 4096, 0u);
    EXPECT_EQ(MemoryMgr::DestroyPool(pages), AuResultSuccess);
    EXPECT_EQ(MemoryMgr::DestroyPool(aligned), AuResultSuccess);
}

TEST_F(MemoryMgrTest, BadCreationsGiveMinusOneAndLeaveTheRecordFree) {
    AuLogCapture log;
    u8 memory[8192];
    struct Case {
        const char* what;
        void* memory;
        u32 size, blockSize, attributes, alignment;
    } cases[] = {
        {"kind 3", nullptr, 65536, 64, 3, 0},
        {"kind 3 with memory", memory, 8192, 64, 3, 0},
        {"kind 0 without memory", nullptr, 65536, 64, AuPoolAttrNoAlloc, 0},
        {"block size 0", nullptr, 65536, 0, AuPoolAttrMalloc, 0},
        {"no whole block", nullptr, 63, 64, AuPoolAttrMalloc | AuPoolAttrFixedBlocks, 0},
        {"fixed block without room for its link", nullptr, 64, 2, AuPoolAttrMalloc | AuPoolAttrFixedBlocks,
         0},
        {"TLSF below the minimum", nullptr, 3207, 1, AuPoolAttrMalloc, 0},
        {"TLSF cut below the minimum", nullptr, 3300, 3300 / 2 + 1, AuPoolAttrMalloc, 0},
        {"size and alignment beyond 32 bits", nullptr, 0xFFFFFFF0u, 16,
         AuPoolAttrMalloc | AuPoolAttrFixedBlocks, 64},
    };
    for (const Case& c : cases) {
        log.Clear();
        EXPECT_EQ(MemoryMgr::CreatePool(c.memory, c.size, c.blockSize, c.attributes, c.alignment), -1)
            << c.what;
        const std::string printed = log.Text();
        if (std::string(c.what).starts_with("TLSF")) {
            EXPECT_EQ(printed, "tlsf_create: Pool size must be between 3208 and 1073745020 bytes.\n")
                << c.what;
        }
        EXPECT_EQ(MemoryMgr::GetNumPools(), 0) << c.what;
    }
    EXPECT_EQ(MemoryMgr::CreatePool(nullptr, 3208, 8, AuPoolAttrMalloc, 0), 0);
}

TEST_F(MemoryMgrTest, InvalidIdsAreRefusedEverywhere) {
    const AuMemPoolId pool = MemoryMgr::CreatePool(nullptr, 65536, 64, AuPoolAttrMalloc, 0);
    ASSERT_EQ(pool, 0);
    void* block = MemoryMgr::Malloc(pool, 8);
    for (AuMemPoolId id : {-1, 1, 3, 4, 1000}) {
        EXPECT_EQ(MemoryMgr::CheckPoolId(id), AuResultInvalidPool) << id;
        EXPECT_EQ(MemoryMgr::DestroyPool(id), AuResultInvalidPool) << id;
        EXPECT_EQ(MemoryMgr::Malloc(id, 8), nullptr) << id;
        EXPECT_EQ(MemoryMgr::Malign(id, 8, 16), nullptr) << id;
        EXPECT_EQ(MemoryMgr::Free(id, block), AuResultInvalidPool) << id;
        EXPECT_EQ(MemoryMgr::GetBlock(id), nullptr) << id;
        EXPECT_EQ(MemoryMgr::ReleaseBlock(id, block), AuResultInvalidPool) << id;
        EXPECT_EQ(MemoryMgr::GetBlockSize(id), 0u) << id;
        EXPECT_EQ(MemoryMgr::GetPoolAttributes(id), 0u) << id;
        MemoryMgr::PoolMemInfo info{5, 5};
        MemoryMgr::GetPoolMemoryUsed(id, info);
        EXPECT_EQ(info.uReserved | info.uUsed, 0u) << id;
    }
    MemoryMgr::PoolStats stats{};
    EXPECT_EQ(MemoryMgr::GetPoolStats(-1, stats), AuResultFail);
    EXPECT_EQ(MemoryMgr::GetPoolStats(4, stats), AuResultFail);
    EXPECT_EQ(MemoryMgr::GetPoolStats(3, stats), AuResultSuccess); // in range, free: zeros
    EXPECT_EQ(stats.uReserved, 0u);
}

TEST_F(MemoryMgrTest, ForeignAndRepeatedFreesChangeNothing) {
    const AuMemPoolId pool = MemoryMgr::CreatePool(nullptr, 65536, 64, AuPoolAttrMalloc, 0);
    const AuMemPoolId other = MemoryMgr::CreatePool(nullptr, 65536, 64, AuPoolAttrMalloc, 0);
    void* mine = MemoryMgr::Malloc(pool, 40);
    void* theirs = MemoryMgr::Malloc(other, 40);
    ASSERT_TRUE(mine && theirs);
    MemoryMgr::PoolMemInfo before{};
    MemoryMgr::GetPoolMemoryUsed(pool, before);
    int local = 0;
    EXPECT_EQ(MemoryMgr::Free(pool, &local), AuResultFail);
    EXPECT_EQ(MemoryMgr::Free(pool, theirs), AuResultFail);
    EXPECT_EQ(MemoryMgr::Free(pool, static_cast<u8*>(mine) + 4), AuResultFail);
    EXPECT_EQ(MemoryMgr::Free(pool, mine), AuResultSuccess);
    EXPECT_EQ(MemoryMgr::Free(pool, mine), AuResultFail);
    MemoryMgr::PoolMemInfo after{};
    MemoryMgr::GetPoolMemoryUsed(pool, after);
    EXPECT_EQ(after.uUsed, before.uUsed - 48);
    EXPECT_EQ(MemoryMgr::Free(other, theirs), AuResultSuccess);
}

TEST_F(MemoryMgrTest, FullTableAndLowestFreeIndexReuse) {
    for (AuMemPoolId expected = 0; expected < 4; ++expected)
        EXPECT_EQ(MemoryMgr::CreatePool(nullptr, 8192, 64, AuPoolAttrMalloc, 0), expected);
    EXPECT_EQ(MemoryMgr::CreatePool(nullptr, 8192, 64, AuPoolAttrMalloc, 0), -1);
    EXPECT_EQ(MemoryMgr::DestroyPool(2), AuResultSuccess);
    EXPECT_EQ(MemoryMgr::DestroyPool(1), AuResultSuccess);
    EXPECT_EQ(MemoryMgr::GetNumPools(), 2);
    EXPECT_EQ(MemoryMgr::CreatePool(nullptr, 8192, 64, AuPoolAttrMalloc, 0), 1);
    EXPECT_EQ(MemoryMgr::CreatePool(nullptr, 8192, 64, AuPoolAttrMalloc, 0), 2);
    // A destroyed record is as Init left it.
    EXPECT_EQ(MemoryMgr::DestroyPool(3), AuResultSuccess);
    EXPECT_EQ(MemoryMgr::GetPoolAttributes(3), 0u); // refused: the id names no pool
}

TEST_F(MemoryMgrTest, NamesAreNotKept) {
    EXPECT_EQ(MemoryMgr::SetPoolName(0, "Default"), AuResultSuccess);
    EXPECT_EQ(MemoryMgr::SetPoolName(0, L"Default"), AuResultSuccess);
    EXPECT_EQ(MemoryMgr::GetPoolName(0), nullptr);
    EXPECT_EQ(MemoryMgr::SetMonitoring(0, true), AuResultSuccess);
    MemoryMgr::StartProfileThreadUsage(0);
    EXPECT_EQ(MemoryMgr::StopProfileThreadUsage(0), 0u);
}

TEST_F(MemoryMgrTest, ThreadsShareOnePoolUnderItsLock) {
    const AuMemPoolId pool = MemoryMgr::CreatePool(nullptr, 1 << 20, 64, AuPoolAttrMalloc, 0);
    ASSERT_NE(pool, -1);
    std::atomic<int> faults{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(t);
            std::vector<std::pair<u8*, u8>> mine;
            for (int i = 0; i < 5000; ++i) {
                if (mine.size() < 40 && random() % 3) {
                    auto* block = static_cast<u8*>(MemoryMgr::Malloc(pool, 8 + random() % 500));
                    if (block) {
                        const u8 mark = static_cast<u8>(t * 50 + i);
                        block[0] = mark;
                        mine.emplace_back(block, mark);
                    }
                } else if (!mine.empty()) {
                    faults += mine.back().first[0] != mine.back().second;
                    faults += MemoryMgr::Free(pool, mine.back().first) != AuResultSuccess;
                    mine.pop_back();
                }
            }
            for (auto& [block, mark] : mine)
                faults += MemoryMgr::Free(pool, block) != AuResultSuccess;
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(faults.load(), 0);
    MemoryMgr::PoolMemInfo info{};
    MemoryMgr::GetPoolMemoryUsed(pool, info);
    EXPECT_EQ(info.uUsed, 0u);
}

} // namespace

// Of two destroys of one pool racing each other, exactly one succeeds and the count drops once.
TEST_F(MemoryMgrTest, OfTwoRacingDestroysOfOnePoolOneSucceeds) {
    for (int round = 0; round < 200; ++round) {
        const AuMemPoolId pool = MemoryMgr::CreatePool(nullptr, 8192, 64, AuPoolAttrMalloc, 0);
        ASSERT_NE(pool, -1);
        std::atomic<int> destroyed{0};
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < 2; ++t) {
            threads.emplace_back([&] {
                while (!go.load())
                    std::this_thread::yield();
                destroyed += MemoryMgr::DestroyPool(pool) == AuResultSuccess;
            });
        }
        go.store(true);
        for (auto& thread : threads)
            thread.join();
        ASSERT_EQ(destroyed.load(), 1) << "round " << round;
        ASSERT_EQ(MemoryMgr::GetNumPools(), 0) << "round " << round;
    }
}

// Threads making and destroying pools of their own at once keep the count exact.
TEST_F(MemoryMgrTest, ConcurrentCreatesAndDestroysKeepTheCountExact) {
    std::atomic<int> faults{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                const AuMemPoolId own = MemoryMgr::CreatePool(nullptr, 8192, 64, AuPoolAttrMalloc, 0);
                faults += own == -1 || MemoryMgr::GetNumPools() < 1 ||
                          MemoryMgr::DestroyPool(own) != AuResultSuccess;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(faults.load(), 0);
    EXPECT_EQ(MemoryMgr::GetNumPools(), 0);
}

// Pool memory the address sanitizer can see: only its builds mark pool memory.
class PoolPoisoningTest : public MemoryMgrTest {
protected:
    void SetUp() override {
#if !defined(__SANITIZE_ADDRESS__)
        GTEST_SKIP() << "pool memory is marked in address-sanitizer builds only";
#endif
        MemoryMgrTest::SetUp();
    }
};

struct BadAccess {
    const char* name;
    void (*access)(AuMemPoolId tlsfPool, AuMemPoolId fixedPool);
};

const BadAccess kBadAccesses[] = {
    {"first byte of a freed block",
     [](AuMemPoolId pool, AuMemPoolId) {
         auto* block = static_cast<volatile u8*>(MemoryMgr::Malloc(pool, 40));
         MemoryMgr::Free(pool, const_cast<u8*>(block));
         static_cast<void>(block[0]);
     }},
    {"last byte of a freed block",
     [](AuMemPoolId pool, AuMemPoolId) {
         auto* block = static_cast<volatile u8*>(MemoryMgr::Malloc(pool, 40));
         MemoryMgr::Free(pool, const_cast<u8*>(block));
         static_cast<void>(block[39]);
     }},
    {"freed block after TLSF has taken it back",
     [](AuMemPoolId pool, AuMemPoolId) {
         auto* block = static_cast<volatile u8*>(MemoryMgr::Malloc(pool, 40));
         MemoryMgr::Free(pool, const_cast<u8*>(block));
         for (int i = 0; i < 100; ++i) // pushes it out of the quarantine
             MemoryMgr::Free(pool, MemoryMgr::Malloc(pool, 200));
         static_cast<void>(block[4]);
     }},
    {"byte past the size asked for",
     [](AuMemPoolId pool, AuMemPoolId) {
         auto* block = static_cast<volatile u8*>(MemoryMgr::Malloc(pool, 10)); // a 12-byte block
         block[10] = 1;
     }},
    {"size word before a block",
     [](AuMemPoolId pool, AuMemPoolId) {
         auto* block = static_cast<volatile u8*>(MemoryMgr::Malloc(pool, 40));
         static_cast<void>(block[-1]);
     }},
    {"released fixed block",
     [](AuMemPoolId, AuMemPoolId fixed) {
         auto* block = static_cast<volatile u8*>(MemoryMgr::GetBlock(fixed));
         MemoryMgr::ReleaseBlock(fixed, const_cast<u8*>(block));
         static_cast<void>(block[100]);
     }},
};

TEST_F(PoolPoisoningTest, AccessesOutsideTheBlocksInUseAreReported) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const AuMemPoolId pool = MemoryMgr::CreatePool(nullptr, 65536, 64, AuPoolAttrMalloc, 0);
    const AuMemPoolId fixed =
        MemoryMgr::CreatePool(nullptr, 4096, 1024, AuPoolAttrMalloc | AuPoolAttrFixedBlocks, 0);
    ASSERT_TRUE(pool != -1 && fixed != -1);
    for (const BadAccess& bad : kBadAccesses) {
        SCOPED_TRACE(bad.name);
        EXPECT_DEATH(bad.access(pool, fixed), "use-after-poison");
    }
    // What a block's owner may touch stays usable: every byte asked for, a block handed out again.
    auto* block = static_cast<u8*>(MemoryMgr::Malloc(pool, 10));
    block[0] = block[9] = 1;
    ASSERT_EQ(MemoryMgr::Free(pool, block), AuResultSuccess);
    auto* fixedBlock = static_cast<u8*>(MemoryMgr::GetBlock(fixed));
    fixedBlock[0] = fixedBlock[1023] = 1;
    ASSERT_EQ(MemoryMgr::ReleaseBlock(fixed, fixedBlock), AuResultSuccess);
    fixedBlock = static_cast<u8*>(MemoryMgr::GetBlock(fixed));
    fixedBlock[0] = 1;
}

// A freed block waits before it is handed out again, held to 64 blocks and to an eighth of the
// pool.
TEST_F(PoolPoisoningTest, TheQuarantineDelaysReuseWithinItsBounds) {
    struct Case {
        u32 poolBytes;
        u32 size; // below 128 bytes, so a freed block is found by its exact size class
        u32 held;
    };
    for (const Case& c : {Case{65536, 40, 64}, Case{4096, 60, 8}}) {
        SCOPED_TRACE(testing::Message() << c.poolBytes << "-byte pool");
        const AuMemPoolId pool = MemoryMgr::CreatePool(nullptr, c.poolBytes, 64, AuPoolAttrMalloc, 0);
        ASSERT_NE(pool, -1);
        std::vector<void*> blocks;
        for (u32 i = 0; i <= c.held; ++i) {
            blocks.push_back(MemoryMgr::Malloc(pool, c.size));
            ASSERT_NE(blocks.back(), nullptr);
        }
        for (u32 i = 0; i < c.held; ++i)
            ASSERT_EQ(MemoryMgr::Free(pool, blocks[i]), AuResultSuccess);
        void* probe = MemoryMgr::Malloc(pool, c.size);
        ASSERT_NE(probe, nullptr);
        EXPECT_EQ(std::find(blocks.begin(), blocks.end(), probe), blocks.end());
        ASSERT_EQ(MemoryMgr::Free(pool, blocks[c.held]), AuResultSuccess);
        EXPECT_EQ(MemoryMgr::Malloc(pool, c.size), blocks[0]); // the oldest had to go
        ASSERT_EQ(MemoryMgr::DestroyPool(pool), AuResultSuccess);
    }
}

// Blocks held back never make an allocation fail that would succeed without them.
TEST_F(PoolPoisoningTest, AnAllocationNeedingQuarantinedMemoryGetsIt) {
    const AuMemPoolId pool = MemoryMgr::CreatePool(nullptr, 65536, 64, AuPoolAttrMalloc, 0);
    std::vector<void*> blocks;
    while (void* block = MemoryMgr::Malloc(pool, 500))
        blocks.push_back(block);
    for (void* block : blocks)
        ASSERT_EQ(MemoryMgr::Free(pool, block), AuResultSuccess);
    MemoryMgr::PoolMemInfo info{};
    MemoryMgr::GetPoolMemoryUsed(pool, info);
    EXPECT_EQ(info.uUsed, 0u);
    // More than the pool less its held-back eighth; TLSF still finds it in an empty pool.
    EXPECT_NE(MemoryMgr::Malloc(pool, info.uReserved - info.uReserved / 16), nullptr);
}
