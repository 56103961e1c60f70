#include "memory/AuTlsf.h"

#include "core/AuLog.h"
#include "memory/AuPoison.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr u32 kSlCount = 32;
constexpr u32 kSlLog2 = 5;
constexpr u32 kFlShift = 7; // sizes below 128 bytes share first level 0
constexpr u32 kFlCount = 24;
constexpr u32 kSmallBlock = 1u << kFlShift;

// Header word offsets inside a block header (the header starts one word before the size).
constexpr u32 kPrevPhys = 0;
constexpr u32 kSize = 4;
constexpr u32 kNextFree = 8;
constexpr u32 kPrevFree = 12;
constexpr u32 kHeaderToUser = 8;

constexpr u32 kFreeBit = 1;
constexpr u32 kPrevFreeBit = 2;
constexpr u32 kFlagBits = kFreeBit | kPrevFreeBit;

// Control layout: the null block (offset 0 names it in every link), the bitmaps, the heads.
constexpr u32 kNullBlock = 0;
constexpr u32 kFlBitmap = 16;
constexpr u32 kSlBitmaps = kFlBitmap + 4;
constexpr u32 kHeads = kSlBitmaps + 4 * kFlCount;
static_assert(kHeads + 4 * kFlCount * kSlCount == kTlsfControlSize);
// The first block's back link overlaps the control's last word; it is never read because no
// block precedes the first.
constexpr u32 kFirstBlock = kTlsfControlSize - 4;
static_assert(kTlsfPoolOverhead == kFirstBlock + 4 + 4 + 4);
static_assert(kTlsfMinPoolBytes == 3208 && kTlsfMaxPoolBytes == 1073745020u);

// Word access through memcpy: the region also holds the users' objects. Under the address
// sanitizer the owner keeps everything but the payload of blocks in use poisoned: the control,
// every header and every free block, links included. These two accessors are the only way this
// file touches the region, and each opens the one word it needs for the access alone, so a stray
// user access to a header or a free block is still reported.
struct Region {
    u8* base;

    u32 Get(u32 offset) const {
        return AuWithWord(base + offset, [&] {
            u32 value;
            memcpy(&value, base + offset, 4);
            return value;
        });
    }
    void Set(u32 offset, u32 value) const {
        AuWithWord(base + offset, [&] { memcpy(base + offset, &value, 4); });
    }

    u32 SizeWord(u32 block) const { return Get(block + kSize); }
    u32 Size(u32 block) const { return SizeWord(block) & ~kFlagBits; }
    bool IsFree(u32 block) const { return SizeWord(block) & kFreeBit; }
    bool IsPrevFree(u32 block) const { return SizeWord(block) & kPrevFreeBit; }
    void SetSize(u32 block, u32 size) const { Set(block + kSize, size | (SizeWord(block) & kFlagBits)); }
    void SetFlag(u32 block, u32 bit, bool on) const {
        const u32 word = SizeWord(block);
        Set(block + kSize, on ? (word | bit) : (word & ~bit));
    }
    u32 Next(u32 block) const { return block + 4 + Size(block); }
    u32 LinkNext(u32 block) const {
        const u32 next = Next(block);
        Set(next + kPrevPhys, block);
        return next;
    }

    u32 HeadSlot(u32 fl, u32 sl) const { return kHeads + 4 * (fl * kSlCount + sl); }
};

int HighBit(u32 word) {
    return 31 - __builtin_clz(word);
}
int LowBit(u32 word) {
    return __builtin_ctz(word);
}

u32 AdjustSize(u64 size) {
    if (size == 0 || size >= kTlsfMaxBlockSize) return 0;
    const u32 rounded = static_cast<u32>((size + 3) & ~u64{3});
    return rounded < kTlsfMinBlockSize ? kTlsfMinBlockSize : rounded;
}

void MapInsert(u32 size, u32& fl, u32& sl) {
    if (size < kSmallBlock) {
        fl = 0;
        sl = size / 4;
        return;
    }
    const int bit = HighBit(size);
    fl = static_cast<u32>(bit) - (kFlShift - 1);
    sl = (size >> (bit - static_cast<int>(kSlLog2))) ^ kSlCount;
    // Only a block of exactly the largest size reaches past the last class; the last list still
    // serves it correctly, as every request it answers is smaller.
    if (fl >= kFlCount) {
        fl = kFlCount - 1;
        sl = kSlCount - 1;
    }
}

// False when the rounded request lies beyond every class: no block can be found for it.
bool MapSearch(u32 size, u32& fl, u32& sl) {
    u64 rounded = size;
    if (size >= 32) rounded += (u64{1} << (HighBit(size) - static_cast<int>(kSlLog2))) - 1;
    if (rounded >= kTlsfMaxBlockSize) return false;
    MapInsert(static_cast<u32>(rounded), fl, sl);
    return true;
}

void RemoveFree(const Region& r, u32 block, u32 fl, u32 sl) {
    const u32 prev = r.Get(block + kPrevFree);
    const u32 next = r.Get(block + kNextFree);
    r.Set(next + kPrevFree, prev);
    r.Set(prev + kNextFree, next);
    if (r.Get(r.HeadSlot(fl, sl)) == block) {
        r.Set(r.HeadSlot(fl, sl), next);
        if (next == kNullBlock) {
            const u32 slMap = r.Get(kSlBitmaps + 4 * fl) & ~(1u << sl);
            r.Set(kSlBitmaps + 4 * fl, slMap);
            if (slMap == 0) r.Set(kFlBitmap, r.Get(kFlBitmap) & ~(1u << fl));
        }
    }
}

void InsertFree(const Region& r, u32 block) {
    u32 fl, sl;
    MapInsert(r.Size(block), fl, sl);
    const u32 head = r.Get(r.HeadSlot(fl, sl));
    r.Set(block + kNextFree, head);
    r.Set(block + kPrevFree, kNullBlock);
    r.Set(head + kPrevFree, block);
    r.Set(r.HeadSlot(fl, sl), block);
    r.Set(kFlBitmap, r.Get(kFlBitmap) | (1u << fl));
    r.Set(kSlBitmaps + 4 * fl, r.Get(kSlBitmaps + 4 * fl) | (1u << sl));
}

void Remove(const Region& r, u32 block) {
    u32 fl, sl;
    MapInsert(r.Size(block), fl, sl);
    RemoveFree(r, block, fl, sl);
}

// Takes a free block of at least `size` bytes off its list; kNullBlock when none.
u32 LocateFree(const Region& r, u32 size) {
    u32 fl, sl;
    if (size == 0 || !MapSearch(size, fl, sl)) return kNullBlock;
    u32 slMap = r.Get(kSlBitmaps + 4 * fl) & (~0u << sl);
    if (!slMap) {
        const u32 flMap = r.Get(kFlBitmap) & (~0u << (fl + 1));
        if (!flMap) return kNullBlock;
        fl = static_cast<u32>(LowBit(flMap));
        slMap = r.Get(kSlBitmaps + 4 * fl);
    }
    sl = static_cast<u32>(LowBit(slMap));
    const u32 block = r.Get(r.HeadSlot(fl, sl));
    RemoveFree(r, block, fl, sl);
    return block;
}

bool CanSplit(const Region& r, u32 block, u32 keep) {
    return r.Size(block) >= keep + 16;
}

// Cuts `block` to `keep` bytes; the remainder is marked free and linked to its next block.
u32 Split(const Region& r, u32 block, u32 keep) {
    const u32 remaining = block + 4 + keep;
    r.Set(remaining + kSize, (r.Size(block) - keep - 4) | kFreeBit);
    const u32 next = r.LinkNext(remaining);
    r.SetFlag(next, kPrevFreeBit, true);
    r.SetSize(block, keep);
    return remaining;
}

void* PrepareUsed(const Region& r, u32 block, u32 size) {
    if (CanSplit(r, block, size)) {
        const u32 remaining = Split(r, block, size);
        r.SetFlag(remaining, kPrevFreeBit, true);
        r.LinkNext(block);
        InsertFree(r, remaining);
    }
    r.SetFlag(r.Next(block), kPrevFreeBit, false);
    r.SetFlag(block, kFreeBit, false);
    return r.base + block + kHeaderToUser;
}

u64 RoundUp(u64 value, u64 alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

} // namespace

tlsf_t tlsf_create(void* memory, size_t bytes) {
    const bool tooSmall = bytes < kTlsfMinPoolBytes;
    const u64 payload = tooSmall ? 0 : ((bytes - kTlsfPoolOverhead) & ~size_t{3});
    if (tooSmall || payload > kTlsfMaxBlockSize) {
        AuLog(AuLogLevel::Error, "tlsf_create: Pool size must be between %u and %u bytes.", kTlsfMinPoolBytes,
              kTlsfMaxPoolBytes);
        return nullptr;
    }
    if (!memory || reinterpret_cast<uintptr_t>(memory) % 4 != 0) return nullptr;

    const Region r{static_cast<u8*>(memory)};
    r.Set(kNullBlock + kPrevPhys, 0);
    r.Set(kNullBlock + kSize, 0);
    r.Set(kNullBlock + kNextFree, kNullBlock);
    r.Set(kNullBlock + kPrevFree, kNullBlock);
    r.Set(kFlBitmap, 0);
    for (u32 fl = 0; fl < kFlCount; ++fl) {
        r.Set(kSlBitmaps + 4 * fl, 0);
        for (u32 sl = 0; sl < kSlCount; ++sl)
            r.Set(r.HeadSlot(fl, sl), kNullBlock);
    }

    r.Set(kFirstBlock + kSize, static_cast<u32>(payload) | kFreeBit);
    InsertFree(r, kFirstBlock);
    const u32 sentinel = r.LinkNext(kFirstBlock);
    r.Set(sentinel + kSize, kPrevFreeBit);
    return memory;
}

void tlsf_destroy(tlsf_t) {}

void* tlsf_malloc(tlsf_t tlsf, u32 size) {
    const Region r{static_cast<u8*>(tlsf)};
    const u32 adjusted = AdjustSize(size);
    const u32 block = LocateFree(r, adjusted);
    if (block == kNullBlock) return nullptr;
    return PrepareUsed(r, block, adjusted);
}

void* tlsf_memalign(tlsf_t tlsf, u32 alignment, u32 size) {
    const Region r{static_cast<u8*>(tlsf)};
    const u32 adjusted = AdjustSize(size);
    if (alignment <= 4) return tlsf_malloc(tlsf, size);
    if (adjusted == 0) return nullptr;

    // Room for the request, the worst alignment gap and a splittable leading block.
    const u32 withGap = AdjustSize(u64{adjusted} + alignment + 16);
    const u64 search = withGap ? RoundUp(withGap, alignment) : 0;
    if (search == 0 || search >= kTlsfMaxBlockSize) return nullptr;
    u32 block = LocateFree(r, static_cast<u32>(search));
    if (block == kNullBlock) return nullptr;

    const uintptr_t p = reinterpret_cast<uintptr_t>(r.base) + block + kHeaderToUser;
    uintptr_t q = static_cast<uintptr_t>(RoundUp(p, alignment));
    u32 gap = static_cast<u32>(q - p);
    if (gap && gap < 16) {
        const u32 more = 16 - gap > alignment ? 16 - gap : alignment;
        q = static_cast<uintptr_t>(RoundUp(q + more, alignment));
        gap = static_cast<u32>(q - p);
    }
    if (gap && r.Size(block) >= gap + 16) {
        const u32 aligned = Split(r, block, gap - 4);
        r.SetFlag(aligned, kPrevFreeBit, true);
        r.LinkNext(block);
        InsertFree(r, block);
        block = aligned;
    }
    return PrepareUsed(r, block, adjusted);
}

void tlsf_free(tlsf_t tlsf, void* pointer) {
    if (!pointer) return;
    const Region r{static_cast<u8*>(tlsf)};
    u32 block = static_cast<u32>(static_cast<u8*>(pointer) - r.base) - kHeaderToUser;
    u32 next = r.LinkNext(block);
    r.SetFlag(next, kPrevFreeBit, true);
    r.SetFlag(block, kFreeBit, true);
    if (r.IsPrevFree(block)) {
        const u32 prev = r.Get(block + kPrevPhys);
        Remove(r, prev);
        r.SetSize(prev, r.Size(prev) + r.Size(block) + 4);
        next = r.LinkNext(prev);
        block = prev;
    }
    if (r.IsFree(next)) {
        Remove(r, next);
        r.SetSize(block, r.Size(block) + r.Size(next) + 4);
        r.LinkNext(block);
    }
    InsertFree(r, block);
}

u32 tlsf_block_size(const void* pointer) {
    if (!pointer) return 0;
    const u8* sizeWord = static_cast<const u8*>(pointer) - 4;
    u32 word;
    AuWithWord(sizeWord, [&] { memcpy(&word, sizeWord, 4); });
    return word & ~kFlagBits;
}

bool tlsf_is_used_block(tlsf_t tlsf, size_t bytes, const void* pointer) {
    const Region r{static_cast<u8*>(tlsf)};
    const uintptr_t address = reinterpret_cast<uintptr_t>(pointer);
    const uintptr_t base = reinterpret_cast<uintptr_t>(r.base);
    const u64 sentinel = kFirstBlock + 4 + ((bytes - kTlsfPoolOverhead) & ~size_t{3});
    if (address < base + kFirstBlock + kHeaderToUser || address % 4 != 0 || address - base > sentinel)
        return false;
    const u32 block = static_cast<u32>(address - base) - kHeaderToUser;
    if (r.IsFree(block) || r.Size(block) < kTlsfMinBlockSize || u64{block} + 4 + r.Size(block) > sentinel)
        return false;
    const u32 next = r.Next(block);
    return !r.IsPrevFree(next);
}

int tlsf_check(tlsf_t tlsf, void (*visit)(const TlsfBlockInfo&, void*), void* context) {
    const Region r{static_cast<u8*>(tlsf)};
    int faults = 0;

    // Physical chain: flags agree with neighbours, no two free blocks touch, back links hold.
    u32 freeInChain = 0;
    bool prevFree = false;
    u32 block = kFirstBlock;
    while (r.Size(block) != 0) {
        const bool isFree = r.IsFree(block);
        faults += r.IsPrevFree(block) != prevFree;
        faults += isFree && prevFree;
        faults += r.Size(block) < kTlsfMinBlockSize || r.Size(block) % 4 != 0;
        if (isFree) {
            ++freeInChain;
            u32 fl, sl;
            MapInsert(r.Size(block), fl, sl);
            bool listed = false;
            for (u32 at = r.Get(r.HeadSlot(fl, sl)); at != kNullBlock; at = r.Get(at + kNextFree))
                listed |= at == block;
            faults += !listed;
        }
        const u32 next = r.Next(block);
        if (isFree) faults += r.Get(next + kPrevPhys) != block;
        if (visit) visit(TlsfBlockInfo{block + kHeaderToUser, r.Size(block), isFree}, context);
        prevFree = isFree;
        block = next;
    }
    faults += r.IsPrevFree(block) != prevFree || r.IsFree(block);

    // Lists and bitmaps: a bit is set exactly when its list is non-empty, every listed block is
    // free and belongs to that class, and the lists hold exactly the chain's free blocks.
    u32 listed = 0;
    const u32 flMap = r.Get(kFlBitmap);
    for (u32 fl = 0; fl < kFlCount; ++fl) {
        const u32 slMap = r.Get(kSlBitmaps + 4 * fl);
        faults += ((flMap >> fl) & 1) != (slMap != 0);
        for (u32 sl = 0; sl < kSlCount; ++sl) {
            const u32 head = r.Get(r.HeadSlot(fl, sl));
            faults += ((slMap >> sl) & 1) != (head != kNullBlock);
            u32 previous = kNullBlock;
            for (u32 at = head; at != kNullBlock; at = r.Get(at + kNextFree)) {
                u32 f, s;
                MapInsert(r.Size(at), f, s);
                faults += !r.IsFree(at) || f != fl || s != sl || r.Get(at + kPrevFree) != previous;
                previous = at;
                if (++listed > freeInChain + 1) return faults + 1; // a cycle: stop before looping forever
            }
        }
    }
    faults += flMap >> kFlCount != 0;
    faults += listed != freeInChain;
    return faults;
}
