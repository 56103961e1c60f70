// The engine's array: {pointer, count, capacity} in a memory pool. Rows are plain data, moved
// with memcpy; removal either moves the last row into the hole (order lost, O(1)) or moves the
// later rows down (order kept), as each user's observable behaviour needs.
#pragma once

#include <AU/MemoryMgr.h>

#include <cstring>
#include <type_traits>

template <class T, AuMemPoolId* Pool = &g_DefaultPoolId> class AuArray {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    AuArray() = default;
    AuArray(const AuArray&) = delete;
    AuArray& operator=(const AuArray&) = delete;
    ~AuArray() { Term(); }

    // Room for n more rows; false when out of memory, the array unchanged.
    bool Grow(u32 n) {
        const u64 bytes = (u64{m_uCapacity} + n) * sizeof(T);
        if (bytes == 0 || bytes > UINT32_MAX) return false;
        T* rows = static_cast<T*>(AU::MemoryMgr::Malloc(*Pool, static_cast<u32>(bytes)));
        if (!rows) return false;
        if (m_pItems) {
            memcpy(rows, m_pItems, m_uCount * sizeof(T));
            AU::MemoryMgr::Free(*Pool, m_pItems);
        }
        m_pItems = rows;
        m_uCapacity += n;
        return true;
    }

    // A new last row (its contents left to the caller), growing by one row when full.
    T* AddLast() {
        if (m_uCount == m_uCapacity && !Grow(1)) return nullptr;
        return &m_pItems[m_uCount++];
    }

    T* AddLast(const T& row) {
        T* slot = AddLast();
        if (slot) *slot = row;
        return slot;
    }

    // A row made at `index` (index <= Count()), the later rows moved up by one; null when out of
    // memory, the array unchanged.
    T* Insert(u32 index) {
        if (index > m_uCount) return nullptr;
        if (m_uCount == m_uCapacity && !Grow(1)) return nullptr;
        memmove(&m_pItems[index + 1], &m_pItems[index], (m_uCount - index) * sizeof(T));
        ++m_uCount;
        return &m_pItems[index];
    }

    T* Insert(u32 index, const T& row) {
        T* slot = Insert(index);
        if (slot) *slot = row;
        return slot;
    }

    // Rows sorted by `less` (row, key): the first index whose row is not less than the key, or
    // Count(). Insert there to keep the order.
    template <class Key, class Less> u32 LowerBound(const Key& key, Less less) const {
        u32 first = 0;
        u32 count = m_uCount;
        while (count > 0) {
            const u32 half = count / 2;
            if (less(m_pItems[first + half], key)) {
                first += half + 1;
                count -= half + 1;
            } else {
                count = half;
            }
        }
        return first;
    }

    void EraseSwap(u32 index) {
        if (index >= m_uCount) return;
        --m_uCount;
        if (index != m_uCount) m_pItems[index] = m_pItems[m_uCount];
    }

    void EraseOrdered(u32 index) {
        if (index >= m_uCount) return;
        memmove(&m_pItems[index], &m_pItems[index + 1], (m_uCount - index - 1) * sizeof(T));
        --m_uCount;
    }

    // The index of the first row the predicate accepts, or Count().
    template <class Predicate> u32 IndexOf(Predicate accepts) const {
        for (u32 i = 0; i < m_uCount; ++i)
            if (accepts(m_pItems[i])) return i;
        return m_uCount;
    }

    void Term() {
        if (m_pItems) AU::MemoryMgr::Free(*Pool, m_pItems);
        m_pItems = nullptr;
        m_uCount = m_uCapacity = 0;
    }

    u32 Count() const { return m_uCount; }
    u32 Capacity() const { return m_uCapacity; }
    T& operator[](u32 index) { return m_pItems[index]; }
    const T& operator[](u32 index) const { return m_pItems[index]; }
    T* begin() { return m_pItems; }
    T* end() { return m_pItems + m_uCount; }
    const T* begin() const { return m_pItems; }
    const T* end() const { return m_pItems + m_uCount; }

private:
    T* m_pItems = nullptr;
    u32 m_uCount = 0;
    u32 m_uCapacity = 0;
};
