#include "memory/AuTlsf.h"

#include "AuLogCapture.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

const std::string kSizeMessage = "tlsf_create: Pool size must be between 3208 and 1073745020 bytes.\n";

struct Blocks {
    std::vector<TlsfBlockInfo> all;
    std::vector<TlsfBlockInfo> Free() const {
        std::vector<TlsfBlockInfo> out;
        std::copy_if(all.begin(), all.end(), std::back_inserter(out), [](const auto& b) { return b.free; });
        return out;
    }
};

Blocks Walk(tlsf_t tlsf) {
    Blocks blocks;
    const int faults = tlsf_check(
        tlsf, [](const TlsfBlockInfo& info, void* out) { static_cast<Blocks*>(out)->all.push_back(info); },
        &blocks);
    EXPECT_EQ(faults, 0);
    return blocks;
}

// A region aligned like every pool the memory manager makes.
struct Region {
    explicit Region(size_t bytes) : storage((bytes + 15) / 16 + 1) {}
    void* data() { return storage.data(); }
    std::vector<std::max_align_t> storage;
};

TEST(Tlsf, RegionBelowTheMinimumIsRefusedWithTheMessage) {
    AuLogCapture log;
    Region region(4096);
    for (size_t bytes : {size_t{0}, size_t{100}, size_t{3196}, size_t{3207}}) {
        log.Clear();
        EXPECT_EQ(tlsf_create(region.data(), bytes), nullptr) << bytes;
        EXPECT_EQ(log.Text(), kSizeMessage) << bytes;
    }
}

TEST(Tlsf, SmallestRegionHoldsOneTwelveByteBlock) {
    AuLogCapture log;
    Region region(3208);
    log.Clear();
    tlsf_t tlsf = tlsf_create(region.data(), 3208);
    EXPECT_EQ(log.Text(), "");
    ASSERT_EQ(tlsf, region.data());
    const Blocks blocks = Walk(tlsf);
    ASSERT_EQ(blocks.all.size(), 1u);
    EXPECT_TRUE(blocks.all[0].free);
    EXPECT_EQ(blocks.all[0].size, 12u);
    EXPECT_EQ(blocks.all[0].offset, 3192u);

    void* block = tlsf_malloc(tlsf, 12);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(tlsf_malloc(tlsf, 1), nullptr);
    tlsf_free(tlsf, block);
    EXPECT_NE(tlsf_malloc(tlsf, 4), nullptr);
}

TEST(Tlsf, RegionAboveTheMaximumIsRefusedAndTheMaximumServes) {
    AuLogCapture log;
    // Untouched pages of an anonymous mapping cost nothing, so the largest pool is affordable.
    const size_t bytes = kTlsfMaxPoolBytes + 4;
    void* memory =
        mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);

    log.Clear();
    EXPECT_EQ(tlsf_create(memory, bytes), nullptr);
    EXPECT_EQ(log.Text(), kSizeMessage);

    // The largest pool's single block is 2^30 bytes, one past the last size class.
    tlsf_t tlsf = tlsf_create(memory, kTlsfMaxPoolBytes);
    ASSERT_NE(tlsf, nullptr);
    EXPECT_EQ(tlsf_check(tlsf), 0);
    void* half = tlsf_malloc(tlsf, 1u << 29);
    ASSERT_NE(half, nullptr);
    EXPECT_EQ(tlsf_block_size(half), 1u << 29);
    void* small = tlsf_malloc(tlsf, 100);
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(tlsf_check(tlsf), 0);
    tlsf_free(tlsf, half);
    tlsf_free(tlsf, small);
    const Blocks blocks = Walk(tlsf);
    ASSERT_EQ(blocks.all.size(), 1u);
    EXPECT_EQ(blocks.all[0].size, 1u << 30);
    EXPECT_EQ(tlsf_malloc(tlsf, 1u << 30), nullptr); // requests of 2^30 and more are never served
    munmap(memory, bytes);
}

TEST(Tlsf, RequestSizesAreAdjusted) {
    Region region(65536);
    tlsf_t tlsf = tlsf_create(region.data(), 65536);
    ASSERT_NE(tlsf, nullptr);
    EXPECT_EQ(tlsf_malloc(tlsf, 0), nullptr);
    EXPECT_EQ(tlsf_malloc(tlsf, 1u << 30), nullptr);
    EXPECT_EQ(tlsf_malloc(tlsf, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(tlsf_block_size(nullptr), 0u);

    struct Case {
        u32 request, block;
    } cases[] = {{1, 12},  {4, 12},    {12, 12},     {13, 16},    {16, 16},
                 {17, 20}, {127, 128}, {1000, 1000}, {1001, 1004}};
    for (const Case& c : cases) {
        void* block = tlsf_malloc(tlsf, c.request);
        ASSERT_NE(block, nullptr) << c.request;
        EXPECT_EQ(tlsf_block_size(block), c.block) << c.request;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 4, 0u);
    }
    EXPECT_EQ(tlsf_check(tlsf), 0);
}

TEST(Tlsf, FreeingNeighboursCoalescesInEitherOrder) {
    for (bool firstThenSecond : {true, false}) {
        Region region(8192);
        tlsf_t tlsf = tlsf_create(region.data(), 8192);
        ASSERT_NE(tlsf, nullptr);
        const u32 initial = Walk(tlsf).all[0].size;
        void* a = tlsf_malloc(tlsf, 100);
        void* b = tlsf_malloc(tlsf, 200);
        void* fence = tlsf_malloc(tlsf, 40);
        ASSERT_TRUE(a && b && fence);
        EXPECT_EQ(static_cast<u8*>(b) - static_cast<u8*>(a), 104); // 100 bytes plus b's size word
        tlsf_free(tlsf, firstThenSecond ? a : b);
        tlsf_free(tlsf, firstThenSecond ? b : a);
        Blocks blocks = Walk(tlsf);
        ASSERT_EQ(blocks.all.size(), 3u);
        EXPECT_TRUE(blocks.all[0].free);
        EXPECT_EQ(blocks.all[0].size, 100u + 200u + 4u);
        EXPECT_FALSE(blocks.all[1].free);
        tlsf_free(tlsf, fence);
        blocks = Walk(tlsf);
        ASSERT_EQ(blocks.all.size(), 1u);
        EXPECT_EQ(blocks.all[0].size, initial);
    }
}

TEST(Tlsf, AlignedAllocationsSplitOffALeadingGap) {
    Region region(1 << 16);
    tlsf_t tlsf = tlsf_create(region.data(), 1 << 16);
    ASSERT_NE(tlsf, nullptr);
    // Shift the next free block off every larger alignment first.
    ASSERT_NE(tlsf_malloc(tlsf, 20), nullptr);
    for (u32 alignment : {8u, 16u, 32u, 64u, 128u, 4096u}) {
        void* block = tlsf_memalign(tlsf, alignment, 24);
        ASSERT_NE(block, nullptr) << alignment;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignment, 0u) << alignment;
        EXPECT_GE(tlsf_block_size(block), 24u);
        for (const TlsfBlockInfo& info : Walk(tlsf).Free())
            EXPECT_GE(info.size, 12u);
    }
    // A gap, when split off, leaves a free leading block of at least 12 payload bytes (16 in all).
    const Blocks blocks = Walk(tlsf);
    EXPECT_GT(blocks.Free().size(), 1u);
    EXPECT_EQ(tlsf_memalign(tlsf, 16, 0), nullptr);
    // Alignments up to 4 take the plain path: a leftover 16-byte gap block serves a 1-byte request.
    void* plain = tlsf_memalign(tlsf, 4, 1);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(tlsf_block_size(plain), 16u);
    EXPECT_EQ(tlsf_check(tlsf), 0);
}

TEST(Tlsf, PlausibilityOfPointersToFree) {
    Region region(8192);
    tlsf_t tlsf = tlsf_create(region.data(), 8192);
    void* a = tlsf_malloc(tlsf, 64);
    void* b = tlsf_malloc(tlsf, 64);
    ASSERT_TRUE(a && b);
    int outside = 0;
    EXPECT_TRUE(tlsf_is_used_block(tlsf, 8192, a));
    EXPECT_FALSE(tlsf_is_used_block(tlsf, 8192, &outside));
    EXPECT_FALSE(tlsf_is_used_block(tlsf, 8192, static_cast<u8*>(a) + 2));
    EXPECT_FALSE(tlsf_is_used_block(tlsf, 8192, region.data()));
    tlsf_free(tlsf, b);
    EXPECT_FALSE(tlsf_is_used_block(tlsf, 8192, b)); // already free
    EXPECT_TRUE(tlsf_is_used_block(tlsf, 8192, a));
}

// A million operations against a shadow of what is live: blocks never overlap or leave the
// region, contents survive, and the structure stays consistent. Freeing everything gives back
// the single initial block.
TEST(Tlsf, RandomChurnAgainstAShadowModel) {
    constexpr size_t kBytes = 1 << 20;
    Region region(kBytes);
    tlsf_t tlsf = tlsf_create(region.data(), kBytes);
    ASSERT_NE(tlsf, nullptr);
    const u32 initial = Walk(tlsf).all[0].size;
    const auto* begin = static_cast<const u8*>(region.data());
    const u8* end = begin + kBytes;

    // Each block's real size: the caller may use all of it, so overlaps are judged by it.
    struct Live {
        u32 size;
        u8 fill;
    };
    std::map<u8*, Live> live; // ordered by address, so overlap checks look at neighbours only
    std::mt19937 random(20261210);
    std::uniform_int_distribution<int> action(0, 99);
    std::uniform_int_distribution<u32> smallSize(1, 256);
    std::uniform_int_distribution<u32> largeSize(257, 16384);
    std::uniform_int_distribution<int> alignmentLog(2, 9);
    std::vector<u8*> order;
    size_t failures = 0;

    auto checkNeighbours = [&](std::map<u8*, Live>::iterator at) {
        if (at != live.begin()) {
            auto before = std::prev(at);
            ASSERT_LE(before->first + before->second.size + 4, at->first);
        }
        auto after = std::next(at);
        if (after != live.end()) {
            ASSERT_LE(at->first + at->second.size + 4, after->first);
        }
    };

    for (int op = 0; op < 1000000; ++op) {
        const int choice = action(random);
        if (choice < 55 || live.empty()) {
            const u32 size = choice % 8 == 0 ? largeSize(random) : smallSize(random);
            const bool aligned = choice % 5 == 0;
            const u32 alignment = aligned ? 1u << alignmentLog(random) : 4;
            u8* block =
                static_cast<u8*>(aligned ? tlsf_memalign(tlsf, alignment, size) : tlsf_malloc(tlsf, size));
            if (!block) {
                ++failures;
                continue;
            }
            ASSERT_EQ(reinterpret_cast<uintptr_t>(block) % alignment, 0u);
            const u32 blockSize = tlsf_block_size(block);
            ASSERT_GE(blockSize, size);
            ASSERT_GE(block, begin + kTlsfControlSize + 4);
            ASSERT_LE(block + blockSize, end);
            const u8 fill = static_cast<u8>(op);
            memset(block, fill, blockSize);
            auto [at, inserted] = live.emplace(block, Live{blockSize, fill});
            ASSERT_TRUE(inserted);
            checkNeighbours(at);
            order.push_back(block);
        } else {
            std::uniform_int_distribution<size_t> pick(0, order.size() - 1);
            const size_t index = pick(random);
            u8* block = order[index];
            order[index] = order.back();
            order.pop_back();
            auto at = live.find(block);
            const Live entry = at->second;
            for (u32 i = 0; i < entry.size; i += 7)
                ASSERT_EQ(block[i], entry.fill);
            ASSERT_EQ(block[entry.size - 1], entry.fill);
            live.erase(at);
            tlsf_free(tlsf, block);
        }
        if (op % 20000 == 0) {
            ASSERT_EQ(tlsf_check(tlsf), 0) << "after operation " << op;
        }
    }
    EXPECT_GT(failures, 0u); // the pool was driven to exhaustion at times
    EXPECT_GT(live.size(), 10u);
    ASSERT_EQ(tlsf_check(tlsf), 0);
    for (u8* block : order)
        tlsf_free(tlsf, block);
    const Blocks blocks = Walk(tlsf);
    ASSERT_EQ(blocks.all.size(), 1u);
    EXPECT_TRUE(blocks.all[0].free);
    EXPECT_EQ(blocks.all[0].size, initial);
}

} // namespace
