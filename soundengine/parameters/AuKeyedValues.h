// Values per AuRTPCKey: a tree with one level per key field (game object, playing ID, MIDI target,
// MIDI channel, MIDI note, playback instance). Each level keeps its children in an array sorted by
// key and found by binary search; the deepest level holds {instance, value} entries itself. A
// level left without a value and without children is freed at once, so the tree never holds
// more than its values need. Nodes come from the default pool. Used on the audio thread only.
#pragma once

#include "memory/AuArray.h"
#include "parameters/AuRTPCKey.h"

#include <new>
#include <type_traits>

namespace AuKeyedValuesDetail {

constexpr u32 kInstanceDepth = 5;
constexpr u32 kFieldCount = 6;

// The key's field at a depth, widened to 64 bits; pointers sort as unsigned.
inline u64 Field(const AuRTPCKey& key, u32 depth) {
    switch (depth) {
    case 0:
        return reinterpret_cast<uintptr_t>(key.pGameObj);
    case 1:
        return key.playingID;
    case 2:
        return key.midiTargetID;
    case 3:
        return key.midiChannel;
    case 4:
        return key.midiNote;
    default:
        return reinterpret_cast<uintptr_t>(key.pInstance);
    }
}

inline u64 Any(u32 depth) {
    return depth == 3 || depth == 4 ? AU_MIDI_ANY : 0;
}

inline void SetField(AuRTPCKey& key, u32 depth, u64 value) {
    switch (depth) {
    case 0:
        key.pGameObj = reinterpret_cast<CAuRegisteredObj*>(uintptr_t(value));
        break;
    case 1:
        key.playingID = u32(value);
        break;
    case 2:
        key.midiTargetID = u32(value);
        break;
    case 3:
        key.midiChannel = u8(value);
        break;
    case 4:
        key.midiNote = u8(value);
        break;
    default:
        key.pInstance = reinterpret_cast<CAuPlaybackInstance*>(uintptr_t(value));
        break;
    }
}

inline bool IsAny(const AuRTPCKey& key, u32 depth) {
    return Field(key, depth) == Any(depth);
}

// Whether the fields from `depth` on are all any: the key ends at that level.
inline bool EndsAt(const AuRTPCKey& key, u32 depth) {
    for (u32 d = depth; d < kFieldCount; ++d)
        if (!IsAny(key, d)) return false;
    return true;
}

inline void SetAnyFrom(AuRTPCKey& key, u32 depth) {
    for (u32 d = depth; d < kFieldCount; ++d)
        SetField(key, d, Any(d));
}

} // namespace AuKeyedValuesDetail

// T is the stored value: a float for game parameters, a switch ID, a modulator context pointer.
template <class T> class CAuKeyedValues {
    static_assert(std::is_trivially_copyable_v<T> && sizeof(T) <= 8);

public:
    // Offered each selected value by RemoveIf with its key; true removes the value.
    using Predicate = bool (*)(T* slot, void* argument, const AuRTPCKey& key);

    CAuKeyedValues() = default;
    CAuKeyedValues(const CAuKeyedValues&) = delete;
    CAuKeyedValues& operator=(const CAuKeyedValues&) = delete;
    ~CAuKeyedValues() { Clear(); }

    // The value that applies to the key: its own, else the nearest wider one along the fall-back
    // (a game object without values of its own falls back to the values stored without a game
    // object, then to the global value). The key is rewritten to the level the value was found
    // at. Null when nothing applies. [audio thread]
    T* FindValue(AuRTPCKey& key) noexcept { return Find(m_root, 0, key); }

    // The value stored at exactly this key, or null. `outWider` receives the nearest wider value
    // on the key's own path (no fall-back), `outHasNarrower` whether values lie below the key.
    // [audio thread]
    T* GetExact(const AuRTPCKey& key, T** outWider = nullptr, bool* outHasNarrower = nullptr) noexcept;

    // The slot at the key, made with its levels when missing (a new slot holds T{}); null without
    // memory, and then no level is left behind. [audio thread]
    T* CreateSlot(const AuRTPCKey& key) noexcept { return Create(m_root, 0, key); }

    // Clears the value at exactly this key; the global key clears the global value only.
    // [audio thread]
    void RemoveAt(const AuRTPCKey& key) noexcept { RemoveExact(m_root, 0, key); }

    // Clears the key's value and every value below it; an any field after the game object matches
    // every child there. The global key clears everything. [audio thread]
    void RemoveMatching(const AuRTPCKey& key) noexcept { RemoveBelow(m_root, 0, key); }

    // Offers every value the pattern selects (a set field follows that child only, an any field
    // every child, the values of the levels passed included) and removes those the predicate
    // accepts. True when the tree is empty afterwards. [audio thread]
    bool RemoveIf(const AuRTPCKey& pattern, Predicate predicate, void* argument) noexcept {
        AuRTPCKey visited;
        Visit(m_root, 0, pattern, visited, predicate, argument);
        return IsEmpty();
    }

    // Frees every level and clears the global value.
    void Clear() noexcept {
        FreeChildren(m_root, 0);
        m_root.hasValue = false;
        m_root.value = T{};
    }

    bool IsEmpty() const { return !m_root.hasValue && m_root.entries.Count() == 0; }

private:
    struct Node;
    // A child level, or at the instance depth the instance's value itself.
    struct Entry {
        u64 key;
        union {
            Node* child;
            T value;
        };
    };
    struct Node {
        T value{};
        bool hasValue = false;
        AuArray<Entry> entries;
    };

    static bool IsBare(const Node& node) { return !node.hasValue && node.entries.Count() == 0; }

    // The index of the entry with this key, or Count().
    static u32 Locate(const Node& node, u64 key) {
        const u32 at = node.entries.LowerBound(key, [](const Entry& e, u64 k) { return e.key < k; });
        return at < node.entries.Count() && node.entries[at].key == key ? at : node.entries.Count();
    }

    static T* Own(Node& node) { return node.hasValue ? &node.value : nullptr; }

    static T* Find(Node& node, u32 depth, AuRTPCKey& key) {
        using namespace AuKeyedValuesDetail;
        if (EndsAt(key, depth)) return Own(node);
        if (depth == kInstanceDepth) {
            const u32 at = Locate(node, Field(key, depth));
            if (at < node.entries.Count()) return &node.entries[at].value;
        } else {
            u32 at = Locate(node, Field(key, depth));
            if (at == node.entries.Count()) {
                // Values stored for any value of this field with narrower fields set.
                SetField(key, depth, Any(depth));
                at = Locate(node, Any(depth));
            }
            if (at < node.entries.Count()) {
                if (T* found = Find(*node.entries[at].child, depth + 1, key)) return found;
            }
        }
        SetAnyFrom(key, depth);
        return Own(node);
    }

    static Node* NewNode() {
        void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(Node));
        return memory ? new (memory) Node : nullptr;
    }

    static void FreeNode(Node* node, u32 depth) {
        FreeChildren(*node, depth);
        node->~Node();
        AU::MemoryMgr::Free(g_DefaultPoolId, node);
    }

    static void FreeChildren(Node& node, u32 depth) {
        if (depth < AuKeyedValuesDetail::kInstanceDepth)
            for (Entry& entry : node.entries)
                FreeNode(entry.child, depth + 1);
        node.entries.Term();
    }

    // An array left empty is freed too, so that a bare level holds no memory.
    static void EraseEntry(Node& node, u32 at) {
        node.entries.EraseOrdered(at);
        if (node.entries.Count() == 0) node.entries.Term();
    }

    // Drops the child at `at` when nothing is left in it.
    static void PruneChild(Node& node, u32 at, u32 depth) {
        Node* child = node.entries[at].child;
        if (!IsBare(*child)) return;
        EraseEntry(node, at);
        FreeNode(child, depth + 1);
    }

    static T* Create(Node& node, u32 depth, const AuRTPCKey& key) {
        using namespace AuKeyedValuesDetail;
        if (EndsAt(key, depth)) {
            if (!node.hasValue) {
                node.value = T{};
                node.hasValue = true;
            }
            return &node.value;
        }
        const u64 field = Field(key, depth);
        const u32 at = node.entries.LowerBound(field, [](const Entry& e, u64 k) { return e.key < k; });
        const bool found = at < node.entries.Count() && node.entries[at].key == field;
        if (depth == kInstanceDepth) {
            if (found) return &node.entries[at].value;
            Entry* entry = node.entries.Insert(at);
            if (!entry) return nullptr;
            entry->key = field;
            entry->value = T{};
            return &entry->value;
        }
        if (!found) {
            Node* child = NewNode();
            if (!child) return nullptr;
            Entry* entry = node.entries.Insert(at);
            if (!entry) {
                FreeNode(child, depth + 1);
                return nullptr;
            }
            entry->key = field;
            entry->child = child;
        }
        T* slot = Create(*node.entries[at].child, depth + 1, key);
        if (!slot) PruneChild(node, at, depth); // only a level made for this slot is bare
        return slot;
    }

    static void RemoveExact(Node& node, u32 depth, const AuRTPCKey& key) {
        using namespace AuKeyedValuesDetail;
        if (EndsAt(key, depth)) {
            node.hasValue = false;
            node.value = T{};
            return;
        }
        const u32 at = Locate(node, Field(key, depth));
        if (at == node.entries.Count()) return;
        if (depth == kInstanceDepth) {
            EraseEntry(node, at);
            return;
        }
        RemoveExact(*node.entries[at].child, depth + 1, key);
        PruneChild(node, at, depth);
    }

    static void RemoveBelow(Node& node, u32 depth, const AuRTPCKey& key) {
        using namespace AuKeyedValuesDetail;
        if (EndsAt(key, depth)) {
            FreeChildren(node, depth);
            node.hasValue = false;
            node.value = T{};
            return;
        }
        if (depth > 0 && IsAny(key, depth)) {
            // Instances are never any here: the key would have ended at this level.
            for (u32 at = node.entries.Count(); at-- > 0;) {
                RemoveBelow(*node.entries[at].child, depth + 1, key);
                PruneChild(node, at, depth);
            }
            return;
        }
        const u32 at = Locate(node, Field(key, depth));
        if (at == node.entries.Count()) return;
        if (depth == kInstanceDepth) {
            EraseEntry(node, at);
            return;
        }
        RemoveBelow(*node.entries[at].child, depth + 1, key);
        PruneChild(node, at, depth);
    }

    static void Visit(Node& node, u32 depth, const AuRTPCKey& pattern, AuRTPCKey& visited,
                      Predicate predicate, void* argument) {
        using namespace AuKeyedValuesDetail;
        if (node.hasValue && predicate(&node.value, argument, visited)) {
            node.hasValue = false;
            node.value = T{};
        }
        const bool every = IsAny(pattern, depth);
        u32 at = every ? node.entries.Count() : Locate(node, Field(pattern, depth));
        if (!every && at == node.entries.Count()) return;
        // Backwards, so that removing an entry leaves the ones still to visit in place.
        for (u32 end = every ? 0 : at, i = every ? at : at + 1; i-- > end;) {
            SetField(visited, depth, node.entries[i].key);
            if (depth == kInstanceDepth) {
                if (predicate(&node.entries[i].value, argument, visited)) EraseEntry(node, i);
            } else {
                Visit(*node.entries[i].child, depth + 1, pattern, visited, predicate, argument);
                PruneChild(node, i, depth);
            }
        }
        SetField(visited, depth, Any(depth));
    }

    Node m_root;
};

template <class T>
T* CAuKeyedValues<T>::GetExact(const AuRTPCKey& key, T** outWider, bool* outHasNarrower) noexcept {
    using namespace AuKeyedValuesDetail;
    T* wider = nullptr;
    T* slot = nullptr;
    bool narrower = false;
    Node* node = &m_root;
    for (u32 depth = 0;; ++depth) {
        if (EndsAt(key, depth)) {
            slot = Own(*node);
            narrower = node->entries.Count() > 0;
            break;
        }
        if (node->hasValue) wider = &node->value;
        const u32 at = Locate(*node, Field(key, depth));
        if (at == node->entries.Count()) break;
        if (depth == kInstanceDepth) {
            slot = &node->entries[at].value;
            break;
        }
        node = node->entries[at].child;
    }
    if (outWider) *outWider = wider;
    if (outHasNarrower) *outHasNarrower = narrower;
    return slot;
}
