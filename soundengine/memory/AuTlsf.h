// Two-level segregated fit allocator over one caller-owned region. Constant-time allocation
// and release with immediate coalescing; the control structure lives at the start of the
// region. Every link is a 32-bit offset from the region start, so headers and the control
// structure keep the same byte sizes on 32- and 64-bit machines. Takes no lock: the owner
// (a memory-manager pool) serialises calls.
#pragma once

#include <AU/AuTypes.h>

#include <cstddef>

using tlsf_t = void*;

// Bytes the control structure takes at the start of the region.
constexpr u32 kTlsfControlSize = 3188;
// Control plus the first block's and the closing sentinel's size words.
constexpr u32 kTlsfPoolOverhead = kTlsfControlSize + 4 + 4;
// Size word of one block, counted against every allocation.
constexpr u32 kTlsfBlockOverhead = 4;
// Two free-list links plus the next block's back link.
constexpr u32 kTlsfMinBlockSize = 12;
constexpr u32 kTlsfMaxBlockSize = 1u << 30;
constexpr u32 kTlsfMinPoolBytes = kTlsfPoolOverhead + kTlsfMinBlockSize;
constexpr u32 kTlsfMaxPoolBytes = kTlsfPoolOverhead + kTlsfMaxBlockSize;

// Lays the allocator over [memory, memory + bytes). Null (with a message on standard output
// for a bad size) when the region cannot hold it; memory must be 4-byte aligned.
tlsf_t tlsf_create(void* memory, size_t bytes);
void tlsf_destroy(tlsf_t tlsf);
void* tlsf_malloc(tlsf_t tlsf, u32 size);
void* tlsf_memalign(tlsf_t tlsf, u32 alignment, u32 size);
void tlsf_free(tlsf_t tlsf, void* pointer);
// The payload size of an allocated block, 0 for null.
u32 tlsf_block_size(const void* pointer);
constexpr u32 tlsf_overhead() {
    return kTlsfPoolOverhead;
}

// Cheap plausibility test of a pointer about to be freed: inside the region of `bytes`,
// on the block grid's alignment, marked in use, and its neighbour agreeing. Catches foreign
// pointers and most double frees without walking the pool.
bool tlsf_is_used_block(tlsf_t tlsf, size_t bytes, const void* pointer);

struct TlsfBlockInfo {
    u32 offset; // of the block's user pointer from the region start
    u32 size;
    bool free;
};

// Walks the physical chain and cross-checks it against the free lists and bitmaps. Returns
// the number of inconsistencies found (0 for a sound pool); `visit` sees every block.
int tlsf_check(tlsf_t tlsf, void (*visit)(const TlsfBlockInfo&, void*) = nullptr, void* context = nullptr);
