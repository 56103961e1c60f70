// Playback limiter lists: the instances under one instance limit, highest priority first, so
// that the engine knows which ones give way when one more would exceed the limit. Equal
// priorities are ordered by each instance's order key: larger first with order flag 0, smaller
// first with 1. Positions are found by binary search on (priority, key). Every operation runs on
// the audio thread under g_csMain.
//
// The list is written over any item type that offers, found by argument-dependent lookup:
//     f32 AuLimiterPriority(const Item&);  u32 AuLimiterOrderKey(const Item&);
//     bool AuLimiterIsLive(const Item&);    bool AuLimiterIsStopping(const Item&);
//     void AuLimiterGiveWay(Item&, bool useVirtual, u32 reason);
// The engine's lists hold playback instances (CAuPlaybackLimiter below); tests and benchmarks
// use small records of their own.
#pragma once

#include "memory/AuArray.h"
#include "voices/AuPlaybackInstance.h"

#include <AU/AuTypes.h>
#include <AU/MemoryMgr.h>

#include <new>

// The two lists of limiters the instance manager updates every audio frame.
constexpr u32 AU_LIMITER_KIND_1 = 1;
constexpr u32 AU_LIMITER_KIND_2 = 2;
// Stop reasons handed to the instances that give way.
constexpr u32 AU_LIMITER_REASON_LIST = 1;
constexpr u32 AU_LIMITER_REASON_ENGINE = 2;

template <class Item> class CAuLimiterList {
public:
    // The instance manager's registration of lists with something to update: `registered` on the
    // first add, cleared on the last removal.
    using RegistryFn = void (*)(CAuLimiterList& list, u32 kind, bool registered);
    static void SetRegistry(RegistryFn registry) { s_pfnRegistry = registry; }

    static constexpr u32 kGrowBy = 8;

    CAuLimiterList() = default;
    CAuLimiterList(u16 maximum, bool orderFlag, bool useVirtual)
        : m_uMaximum(maximum), m_uOrderFlag(orderFlag ? 1 : 0), m_uUseVirtual(useVirtual ? 1 : 0) {}
    CAuLimiterList(const CAuLimiterList&) = delete;
    CAuLimiterList& operator=(const CAuLimiterList&) = delete;

    // At its sorted place; 2 when the array cannot grow. The first instance registers the list.
    AURESULT AddInstance(Item* item, u32 kind) {
        if (m_items.Count() == m_items.Capacity() && !m_items.Grow(kGrowBy)) return AuResultFail;
        bool found = false;
        const u32 at = Search(AuLimiterPriority(*item), AuLimiterOrderKey(*item), found);
        m_items.Insert(at, item);
        if (m_items.Count() == 1 && s_pfnRegistry) s_pfnRegistry(*this, kind, true);
        return AuResultSuccess;
    }

    // The order of the others is kept; the last one out unregisters the list.
    void RemoveInstance(Item* item, u32 kind) {
        const u32 at = IndexOf(item);
        if (at == m_items.Count()) return;
        m_items.EraseOrdered(at);
        if (m_items.Count() == 0 && s_pfnRegistry) s_pfnRegistry(*this, kind, false);
    }

    // Before the item stores `priority`: it stays, swaps with one neighbour, or moves to the place
    // the binary search gives.
    void UpdateInstance(f32 priority, Item* item) {
        const u32 at = IndexOf(item);
        const u32 count = m_items.Count();
        if (at == count) return;
        const u32 key = AuLimiterOrderKey(*item);
        const bool afterPrevious = at == 0 || Precedes(m_items[at - 1], priority, key);
        const bool beforeNext = at + 1 == count || PrecededBy(m_items[at + 1], priority, key);
        if (afterPrevious && beforeNext) return;
        if (!afterPrevious && (at < 2 || Precedes(m_items[at - 2], priority, key))) {
            Swap(at, at - 1);
            return;
        }
        if (!beforeNext && (at + 2 >= count || PrecededBy(m_items[at + 2], priority, key))) {
            Swap(at, at + 1);
            return;
        }
        m_items.EraseOrdered(at);
        bool found = false;
        // The erased row leaves room: the insertion cannot fail.
        m_items.Insert(Search(priority, key, found), item);
    }

    // After the order flag changed: every instance reinserted by binary search, in place.
    void Resort() {
        for (u32 i = 1; i < m_items.Count(); ++i) {
            Item* item = m_items[i];
            bool found = false;
            const u32 at = SearchIn(i, AuLimiterPriority(*item), AuLimiterOrderKey(*item), found);
            if (at == i) continue;
            memmove(&m_items[at + 1], &m_items[at], (i - at) * sizeof(Item*));
            m_items[at] = item;
        }
    }

    // Once per audio frame: past the maximum number of live instances, every one that is not
    // already stopping gives way (stops, or goes virtual as its node says with the use-virtual
    // flag). `engineWide` for the engine's own list.
    void Update(bool engineWide) {
        if (m_uMaximum == 0 || m_items.Count() <= m_uMaximum) return;
        u32 live = 0;
        u32 first = 0;
        for (; first < m_items.Count() && live < m_uMaximum; ++first)
            if (AuLimiterIsLive(*m_items[first])) ++live;
        const u32 reason = engineWide ? AU_LIMITER_REASON_ENGINE : AU_LIMITER_REASON_LIST;
        // From the end: an instance that leaves the list at once moves only rows already seen.
        for (u32 i = m_items.Count(); i-- > first;) {
            if (i >= m_items.Count()) continue;
            Item* item = m_items[i];
            if (!AuLimiterIsStopping(*item)) AuLimiterGiveWay(*item, m_uUseVirtual != 0, reason);
        }
    }

    void SetOrderFlag(bool orderFlag) {
        const u8 flag = orderFlag ? 1 : 0;
        if (flag == m_uOrderFlag) return;
        m_uOrderFlag = flag;
        Resort();
    }
    void SetUseVirtual(bool useVirtual) { m_uUseVirtual = useVirtual ? 1 : 0; }
    void SetMaximum(u16 maximum) { m_uMaximum = maximum; }

    u16 Maximum() const { return m_uMaximum; }
    bool OrderFlag() const { return m_uOrderFlag != 0; }
    bool UseVirtual() const { return m_uUseVirtual != 0; }
    u32 Count() const { return m_items.Count(); }
    Item* operator[](u32 i) const { return m_items[i]; }
    void Term() { m_items.Term(); }

private:
    // (priority, key) goes before the row.
    bool PrecededBy(const Item* row, f32 priority, u32 key) const {
        const f32 rowPriority = AuLimiterPriority(*row);
        if (priority != rowPriority) return priority > rowPriority;
        const u32 rowKey = AuLimiterOrderKey(*row);
        return m_uOrderFlag == 0 ? key > rowKey : key < rowKey;
    }
    // The row goes before (priority, key).
    bool Precedes(const Item* row, f32 priority, u32 key) const {
        const f32 rowPriority = AuLimiterPriority(*row);
        if (priority != rowPriority) return rowPriority > priority;
        const u32 rowKey = AuLimiterOrderKey(*row);
        return m_uOrderFlag == 0 ? rowKey > key : rowKey < key;
    }

    u32 Search(f32 priority, u32 key, bool& found) const {
        return SearchIn(m_items.Count(), priority, key, found);
    }

    // Over the first `count` rows: the row of (priority, key), or where it belongs.
    u32 SearchIn(u32 count, f32 priority, u32 key, bool& found) const {
        i64 low = 0;
        i64 high = i64{count} - 1;
        found = false;
        while (low <= high) {
            const i64 mid = low + (high - low) / 2;
            const Item* row = m_items[static_cast<u32>(mid)];
            if (AuLimiterPriority(*row) == priority && AuLimiterOrderKey(*row) == key) {
                found = true;
                return static_cast<u32>(mid);
            }
            if (PrecededBy(row, priority, key))
                high = mid - 1;
            else
                low = mid + 1;
        }
        return static_cast<u32>(low);
    }

    // By its key; a priority changed behind the list's back still finds it, by a walk.
    u32 IndexOf(const Item* item) const {
        bool found = false;
        const u32 at = Search(AuLimiterPriority(*item), AuLimiterOrderKey(*item), found);
        if (found && m_items[at] == item) return at;
        return m_items.IndexOf([item](const Item* row) { return row == item; });
    }

    void Swap(u32 a, u32 b) {
        Item* held = m_items[a];
        m_items[a] = m_items[b];
        m_items[b] = held;
    }

    static inline RegistryFn s_pfnRegistry = nullptr;

    AuArray<Item*> m_items;
    u16 m_uMaximum = 0;
    u8 m_uOrderFlag = 0;
    u8 m_uUseVirtual = 0;
};

// What the engine's lists read of a playback instance: its priority and sequence number, and its
// own state flags.
inline f32 AuLimiterPriority(const CAuPlaybackInstance& instance) {
    return instance.Priority().fPriority;
}
inline u32 AuLimiterOrderKey(const CAuPlaybackInstance& instance) {
    return instance.SequenceNumber();
}
inline bool AuLimiterIsStopping(const CAuPlaybackInstance& instance) {
    return instance.Flags() & (CAuPlaybackInstance::kFlagStopping | CAuPlaybackInstance::kFlagStopped);
}
// An instance that went virtual in the last frame still counts.
inline bool AuLimiterIsLive(const CAuPlaybackInstance& instance) {
    return !AuLimiterIsStopping(instance) &&
           ((!instance.IsVirtual() && !instance.ForcedVirtual()) || instance.MadeVirtualLastFrame());
}
inline void AuLimiterGiveWay(CAuPlaybackInstance& instance, bool useVirtual, u32 reason) {
    if (useVirtual)
        instance.TryStopForLimit(reason);
    else
        instance.StopForLimit(reason);
}

// The engine's lists. Counting a play finds (or makes) the lists the new instance belongs to; the
// instance enters them when it starts, leaves them when it ends and moves in them when its
// priority changes, through the limiter interface it is given.
class CAuPlaybackLimiter final : public CAuLimiterList<CAuPlaybackInstance>, public IAuInstanceLimiter {
public:
    // From the default pool; null without memory. Nodes' lists register as kind 1, busses' as 2.
    static CAuPlaybackLimiter* Create(u32 kind, u16 maximum, bool orderFlag, bool useVirtual);
    static void Destroy(CAuPlaybackLimiter*& list);

    CAuPlaybackLimiter(u32 kind, u16 maximum, bool orderFlag, bool useVirtual)
        : CAuLimiterList(maximum, orderFlag, useVirtual), m_uKind(kind) {}

    using CAuLimiterList::AddInstance;
    using CAuLimiterList::RemoveInstance;
    using CAuLimiterList::Resort;
    // [audio thread]
    AURESULT AddInstance(CAuPlaybackInstance* instance) noexcept override {
        return AddInstance(instance, m_uKind);
    }
    void RemoveInstance(CAuPlaybackInstance* instance) noexcept override {
        RemoveInstance(instance, m_uKind);
    }
    void Resort(CAuPlaybackInstance* instance, f32 newPriority) noexcept override {
        UpdateInstance(newPriority, instance);
    }
    u32 Kind() const { return m_uKind; }

private:
    u32 m_uKind;
};

inline CAuPlaybackLimiter* CAuPlaybackLimiter::Create(u32 kind, u16 maximum, bool orderFlag,
                                                      bool useVirtual) {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuPlaybackLimiter));
    return memory ? new (memory) CAuPlaybackLimiter(kind, maximum, orderFlag, useVirtual) : nullptr;
}

inline void CAuPlaybackLimiter::Destroy(CAuPlaybackLimiter*& list) {
    if (!list) return;
    list->~CAuPlaybackLimiter();
    AU::MemoryMgr::Free(g_DefaultPoolId, list);
    list = nullptr;
}

// The instance manager's choice of the instance that gives way, as the lists' owners call it.
class IAuPlaybackLimits {
public:
    // One more instance of `priority` for `list` (only the instances of `gameObj` count when one
    // is given): 1 when it fits, or when an instance of no higher priority was stopped (or, with
    // `useVirtual`, left to go virtual) for it, which is then the `victim`; else 2, or 80 with
    // `useVirtual`. Equal priorities refuse with `tiesLose`. [audio thread]
    virtual AURESULT ApplyPlaybackLimit(const CAuPlaybackLimiter& list, u16 limit, f32 priority,
                                        CAuRegisteredObj* gameObj, bool tiesLose, bool useVirtual,
                                        CAuPlaybackInstance*& victim) noexcept = 0;

protected:
    ~IAuPlaybackLimits() = default;
};
// Whether the instance that gave way in a limit pass leaves room under `outputBus`: only then
// do the limits further up the pass count it as gone.
inline bool AuGaveWayUnder(CAuPlaybackInstance* victim, CAuIndexable* outputBus) {
    return victim && victim->Node() && victim->Node()->OutputBus() == outputBus;
}

// The instance manager while it runs; without it the lists count and order but drop no one.
extern IAuPlaybackLimits* g_pPlaybackLimits;
