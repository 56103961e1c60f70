// Property values by u8 property ID. One block from the default pool: u8 count n, n u8 IDs, zero
// padding, then n values starting at the first multiple of 4 after the IDs. Banks store the same
// without the padding.
#pragma once

#include <AU/AuTypes.h>

// Where the values start for n IDs.
constexpr u32 AuPropBundleValueOffset(u32 count) {
    return (count + 4) & ~3u;
}
static_assert(AuPropBundleValueOffset(0) == 4 && AuPropBundleValueOffset(3) == 4 &&
              AuPropBundleValueOffset(4) == 8);

// A property's 4-byte value: a float or an integer, as the property says.
union AuPropValue {
    f32 f;
    u32 u;
    i32 i;
};
static_assert(sizeof(AuPropValue) == 4);

// Two words per property: a range {min, max}, or a value with its transition's handle.
struct AuPropValue8 {
    u32 word1;
    u32 word2;
};
static_assert(sizeof(AuPropValue8) == 8 && alignof(AuPropValue8) == 4);

class AuPropBundle {
public:
    AuPropBundle() = default;
    AuPropBundle(const AuPropBundle&) = delete;
    AuPropBundle& operator=(const AuPropBundle&) = delete;
    ~AuPropBundle() { Term(); }

    // Reads u8 n, n IDs and n 4-byte values from [cursor, end) and takes them in place of the
    // bundle's: 1 with the cursor after them; 52 without memory, 8 when the record ends first
    // (the cursor and the bundle unchanged then). n = 0 leaves no block.
    AURESULT SetFromBank(const u8*& cursor, const u8* end);

    u32 Count() const { return m_pBlock ? m_pBlock[0] : 0; }
    // Null when the bundle lacks the property: the caller substitutes its default.
    AuPropValue* GetValue(u8 id);
    // Overwrites the value, or appends the ID in a new block one entry larger: 1, or 2 without
    // memory or with 255 IDs already (the bundle unchanged then).
    AURESULT SetValue(u8 id, AuPropValue value);
    const u8* Block() const { return m_pBlock; }
    void Term();

private:
    u8* m_pBlock = nullptr;
};

class AuPropBundle8 {
public:
    AuPropBundle8() = default;
    AuPropBundle8(const AuPropBundle8&) = delete;
    AuPropBundle8& operator=(const AuPropBundle8&) = delete;
    ~AuPropBundle8() { Term(); }

    // Appends the ID with a zeroed entry in a new block one entry larger; null without memory (the
    // old block kept) or when the bundle already holds 255 IDs.
    AuPropValue8* Add(u8 id);
    // Sets the ID's entry, adding it when missing: 1, or 2 without memory.
    AURESULT Set(u8 id, u32 word1, u32 word2);
    // As AuPropBundle::SetFromBank with 8-byte values.
    AURESULT ReadFromBank(const u8*& cursor, const u8* end);

    u32 Count() const { return m_pBlock ? m_pBlock[0] : 0; }
    AuPropValue8* Get(u8 id);
    const u8* Block() const { return m_pBlock; }
    void Term();

private:
    u8* m_pBlock = nullptr;
};
