// The engine's pooled list: a singly linked list whose items come first from a block allocated at
// Init, then from the pool one by one up to a maximum. Removed block items return to a free list,
// so the lists the audio thread edits every frame do not touch the allocator in the steady state;
// removed pool items go back to the pool at once, so a burst does not keep its memory.
#pragma once

#include <AU/MemoryMgr.h>

#include <type_traits>

template <class T, AuMemPoolId* Pool = &g_DefaultPoolId> class AuPoolList {
    static_assert(std::is_trivially_copyable_v<T>);

    struct Item {
        Item* pNext;
        T value;
    };

public:
    // Unlimited length: the maximum below means "no maximum" when negative.
    static constexpr i32 kNoMaximum = -1;

    AuPoolList() = default;
    AuPoolList(const AuPoolList&) = delete;
    AuPoolList& operator=(const AuPoolList&) = delete;
    ~AuPoolList() { Term(); }

    // Preallocates `preallocated` items in one block. 52 (no memory) when that fails.
    AURESULT Init(u32 preallocated, i32 maximum) {
        Term();
        m_iMaximum = maximum;
        if (preallocated > 0) {
            const u64 bytes = u64{preallocated} * sizeof(Item);
            if (bytes > UINT32_MAX) return AuResultNoMemory;
            m_pBlock = static_cast<Item*>(AU::MemoryMgr::Malloc(*Pool, static_cast<u32>(bytes)));
            if (!m_pBlock) return AuResultNoMemory;
            m_uPreallocated = preallocated;
            for (u32 i = 0; i < preallocated; ++i)
                Release(&m_pBlock[i]);
        }
        return AuResultSuccess;
    }

    // A new item at the end, or null when the list is at its maximum or memory is out.
    T* AddLast(const T& value) {
        Item* item = Acquire();
        if (!item) return nullptr;
        item->value = value;
        item->pNext = nullptr;
        if (m_pTail)
            m_pTail->pNext = item;
        else
            m_pHead = item;
        m_pTail = item;
        return &item->value;
    }

    T* AddFirst(const T& value) {
        Item* item = Acquire();
        if (!item) return nullptr;
        item->value = value;
        item->pNext = m_pHead;
        m_pHead = item;
        if (!m_pTail) m_pTail = item;
        return &item->value;
    }

    // A new item before the first one that `before(value, item)` accepts, so after every item it
    // does not: with a strict "less" the list stays sorted and equal keys keep their arrival
    // order. The tail is tried first, as most insertions come in order. Null as for AddLast.
    template <class Before> T* AddSorted(const T& value, Before before) {
        if (!m_pTail || !before(value, m_pTail->value)) return AddLast(value);
        Item* previous = nullptr;
        Item* next = m_pHead;
        while (!before(value, next->value)) {
            previous = next;
            next = next->pNext;
        }
        Item* item = Acquire();
        if (!item) return nullptr;
        item->value = value;
        item->pNext = next;
        (previous ? previous->pNext : m_pHead) = item;
        return &item->value;
    }

    // The first item, null when the list is empty.
    T* First() { return m_pHead ? &m_pHead->value : nullptr; }
    const T* First() const { return m_pHead ? &m_pHead->value : nullptr; }

    // Removes the first item the predicate accepts; false when none does. Order is kept.
    template <class Predicate> bool RemoveFirst(Predicate accepts) {
        Item* previous = nullptr;
        for (Item* item = m_pHead; item; previous = item, item = item->pNext) {
            if (!accepts(item->value)) continue;
            Unlink(previous, item);
            return true;
        }
        return false;
    }

    // Removes every item the predicate accepts; returns how many went.
    template <class Predicate> u32 RemoveAll(Predicate accepts) {
        u32 removed = 0;
        Item* previous = nullptr;
        Item* item = m_pHead;
        while (item) {
            Item* next = item->pNext;
            if (accepts(item->value)) {
                Unlink(previous, item);
                ++removed;
            } else {
                previous = item;
            }
            item = next;
        }
        return removed;
    }

    void RemoveAll() {
        RemoveAll([](const T&) { return true; });
    }

    // Ends the list: every item is removed, then the block is freed. The list can be initialised
    // again.
    void Term() {
        RemoveAll();
        m_pFree = nullptr;
        if (m_pBlock) AU::MemoryMgr::Free(*Pool, m_pBlock);
        m_pBlock = nullptr;
        m_uPreallocated = 0;
        m_iMaximum = 0;
    }

    u32 Count() const { return m_uCount; }
    bool IsEmpty() const { return m_pHead == nullptr; }

    template <class Visit> void ForEach(Visit visit) {
        for (Item* item = m_pHead; item; item = item->pNext)
            visit(item->value);
    }

private:
    bool InBlock(const Item* item) const { return item >= m_pBlock && item < m_pBlock + m_uPreallocated; }

    Item* Acquire() {
        if (m_iMaximum >= 0 && m_uCount >= static_cast<u32>(m_iMaximum)) return nullptr;
        Item* item = m_pFree;
        if (item)
            m_pFree = item->pNext;
        else
            item = static_cast<Item*>(AU::MemoryMgr::Malloc(*Pool, sizeof(Item)));
        if (item) ++m_uCount;
        return item;
    }

    void Release(Item* item) {
        if (!InBlock(item)) {
            AU::MemoryMgr::Free(*Pool, item);
            return;
        }
        item->pNext = m_pFree;
        m_pFree = item;
    }

    void Unlink(Item* previous, Item* item) {
        (previous ? previous->pNext : m_pHead) = item->pNext;
        if (m_pTail == item) m_pTail = previous;
        --m_uCount;
        Release(item);
    }

    Item* m_pHead = nullptr;
    Item* m_pTail = nullptr;
    Item* m_pFree = nullptr;
    u32 m_uPreallocated = 0;
    i32 m_iMaximum = 0;
    u32 m_uCount = 0;
    Item* m_pBlock = nullptr;
};
