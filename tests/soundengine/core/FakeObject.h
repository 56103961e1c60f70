// A counted indexed object that stands in for the bank-defined kinds (events, nodes, ...) in the
// core's tests.
#pragma once

#include "core/AuObjectIndex.h"

#include <AU/MemoryMgr.h>

#include <atomic>
#include <new>

namespace au_test {

inline std::atomic<int> g_live{0};
inline std::atomic<int> g_released{0};

// An indexed object as the bank-defined kinds make them: in the default pool, in one table.
class FakeObject : public CAuIndexable {
public:
    FakeObject(u32 id, AuIndexTableId table) : CAuIndexable(id), m_table(table) { g_live.fetch_add(1); }
    ~FakeObject() override {
        m_dying.store(true);
        g_live.fetch_sub(1);
    }
    u32 AddRef() override { return AddRefIn(g_pIndex->Table(m_table)); }
    u32 Release() override {
        g_released.fetch_add(1);
        return ReleaseIn(g_pIndex->Table(m_table));
    }
    bool Dying() const { return m_dying.load(); }

    static FakeObject* Make(u32 id, AuIndexTableId table) {
        void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(FakeObject));
        auto* object = new (memory) FakeObject(id, table);
        g_pIndex->Table(table).Add(object);
        return object;
    }

private:
    AuIndexTableId m_table;
    std::atomic<bool> m_dying{false};
};

} // namespace au_test
