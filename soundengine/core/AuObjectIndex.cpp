#include "core/AuObjectIndex.h"

#include <AU/MemoryMgr.h>

#include <initializer_list>

CAuObjectIndex* g_pIndex = nullptr;

u32 CAuIndexable::AddRefIn(CAuIndexTable& table) {
    table.Lock();
    const u32 count = ++m_lRef;
    table.Unlock();
    return count;
}

u32 CAuIndexable::ReleaseIn(CAuIndexTable& table) {
    table.Lock();
    const u32 count = --m_lRef;
    if (count == 0) {
        // Unlinked before it is destroyed, and all under the lock: a lookup either found it with a
        // reference (so the count was not 0) or cannot find it any more.
        table.Remove(this);
        void* memory = dynamic_cast<void*>(this);
        this->~CAuIndexable();
        AU::MemoryMgr::Free(g_DefaultPoolId, memory);
    }
    table.Unlock();
    return count;
}

void CAuIndexTable::Init() {
    InitializeCriticalSection(&m_lock);
    for (CAuIndexable*& head : m_buckets)
        head = nullptr;
    m_count = 0;
}

void CAuIndexTable::Term() {
    DeleteCriticalSection(&m_lock);
}

CAuIndexable* CAuIndexTable::GetPtrAndAddRef(u32 id) {
    Lock();
    CAuIndexable* object = m_buckets[id % kBuckets];
    while (object && object->key != id)
        object = object->pNextItem;
    if (object) ++object->m_lRef;
    Unlock();
    return object;
}

void CAuIndexTable::Add(CAuIndexable* object) {
    Lock();
    CAuIndexable*& head = m_buckets[object->key % kBuckets];
    object->pNextItem = head;
    head = object;
    ++m_count;
    Unlock();
}

void CAuIndexTable::RemoveID(u32 id) {
    for (CAuIndexable** link = &m_buckets[id % kBuckets]; *link; link = &(*link)->pNextItem) {
        if ((*link)->key == id) {
            *link = (*link)->pNextItem;
            --m_count;
            return;
        }
    }
}

void CAuIndexTable::Remove(CAuIndexable* object) {
    for (CAuIndexable** link = &m_buckets[object->key % kBuckets]; *link; link = &(*link)->pNextItem) {
        if (*link == object) {
            *link = object->pNextItem;
            --m_count;
            return;
        }
    }
}

u32 CAuIndexTable::Count() {
    Lock();
    const u32 count = m_count;
    Unlock();
    return count;
}

void CAuObjectIndex::Init() {
    for (CAuIndexTable& table : m_tables)
        table.Init();
}

void CAuObjectIndex::Term() {
    for (u32 i = AuIndexTableCount; i-- > 0;)
        m_tables[i].Term();
}

void CAuObjectIndex::ReleaseRunTimeObjects() {
    for (AuIndexTableId id : {AuIndexNodes, AuIndexPluginSettings19}) {
        CAuIndexTable& table = m_tables[id];
        table.Lock();
        table.ForEach([](CAuIndexable* object) {
            if (object->key & 0x80000000u) object->Release();
        });
        table.Unlock();
    }
}

void CAuObjectIndex::ReleaseDynamicSequences(void (*beforeRelease)(CAuIndexable& sequence)) {
    CAuIndexTable& table = m_tables[AuIndexDynamicSequences];
    table.Lock();
    table.ForEach([beforeRelease](CAuIndexable* sequence) {
        beforeRelease(*sequence);
        sequence->Release();
    });
    table.Unlock();
}
