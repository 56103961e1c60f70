// The object index: every bank-defined object and every dynamic sequence, found by ID and kept
// alive by a reference count. One 193-bucket table per kind of object, each with its own lock.
#pragma once

#include <AU/AuTypes.h>

#include <windows.h>

enum AuIndexTableId : u32 {
    AuIndexNodes = 0, // every audio node that is not a bus
    AuIndexBusses = 1,
    AuIndexStates = 2,
    AuIndexEvents = 3,
    AuIndexActions = 4,
    AuIndexLayers = 5,
    AuIndexAttenuations = 6,
    AuIndexModulators = 7,
    AuIndexDynamicSequences = 8,
    AuIndexDialogueEvents = 9,
    AuIndexPluginSettings18 = 10,
    AuIndexPluginSettings19 = 11,
    AuIndexTableCount = 12,
};

class CAuIndexTable;

// The base of every indexed object. Objects live in the default pool and are built in place;
// the last Release unlinks, destroys and frees them.
class CAuIndexable {
public:
    explicit CAuIndexable(u32 id) : key(id) {}
    virtual ~CAuIndexable() = default;
    virtual u32 AddRef() = 0;
    virtual u32 Release() = 0;
    // What kind of class this is, for the voice pipeline (0 unless a class says otherwise).
    virtual u32 ClassKind() { return 0; }

    CAuIndexable* pNextItem = nullptr; // bucket chain, guarded by the table's lock
    u32 key;
    u32 m_lRef = 1; // guarded by the table's lock

protected:
    // The usual operations of an object kept in `table`; they return the new count.
    u32 AddRefIn(CAuIndexTable& table);
    u32 ReleaseIn(CAuIndexTable& table);
};

class CAuIndexTable {
public:
    static constexpr u32 kBuckets = 193;

    void Init();
    void Term();

    void Lock() { EnterCriticalSection(&m_lock); }
    void Unlock() { LeaveCriticalSection(&m_lock); }

    // The first object with the ID, with one more reference; null when absent.
    CAuIndexable* GetPtrAndAddRef(u32 id);
    // Links the object at the head of its bucket.
    void Add(CAuIndexable* object);
    // The caller holds the lock. Unlinks the first object with the ID; nothing when absent.
    void RemoveID(u32 id);
    // The caller holds the lock. Unlinks this very object: with two live objects of one ID (one
    // object in two banks), releasing one must never unlink the other.
    void Remove(CAuIndexable* object);

    u32 Count();

    // The caller holds the lock. Calls visit(object) for every object, buckets 0 to 192, taking
    // each next link before the visit so that the visit may release the object.
    template <class Visit> void ForEach(Visit visit) {
        for (CAuIndexable* head : m_buckets) {
            for (CAuIndexable* object = head; object;) {
                CAuIndexable* next = object->pNextItem;
                visit(object);
                object = next;
            }
        }
    }

private:
    CRITICAL_SECTION m_lock;
    CAuIndexable* m_buckets[kBuckets];
    u32 m_count;
};

class CAuObjectIndex {
public:
    void Init();
    // Deletes the locks, table 11 first; every object must be gone.
    void Term();

    CAuIndexTable& Table(AuIndexTableId table) { return m_tables[table]; }
    CAuIndexTable& GetNodeTable(bool isBus) { return m_tables[isBus ? AuIndexBusses : AuIndexNodes]; }

    CAuIndexable* GetPtrAndAddRef(AuIndexTableId table, u32 id) {
        return m_tables[table].GetPtrAndAddRef(id);
    }
    CAuIndexable* GetNodePtrAndAddRef(u32 id, bool isBus) { return GetNodeTable(isBus).GetPtrAndAddRef(id); }

    // Termination: releases the run-time objects (top-bit IDs) of the node table, then of table 11.
    void ReleaseRunTimeObjects();
    // Termination: for every dynamic sequence, beforeRelease(sequence) then one release.
    void ReleaseDynamicSequences(void (*beforeRelease)(CAuIndexable& sequence));

private:
    CAuIndexTable m_tables[AuIndexTableCount];
};

// Made by the engine's initialisation in the default pool.
extern CAuObjectIndex* g_pIndex;
