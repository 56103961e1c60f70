#include "FakeObject.h"
#include "core/AuObjectIndex.h"

#include <AuDefaultPoolTest.h>

#include <AU/MemoryMgr.h>

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <thread>
#include <vector>

namespace {

using au_test::FakeObject;
using au_test::g_live;
using au_test::g_released;

class ObjectIndexTest : public AuDefaultPoolTest {
protected:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        g_live = 0;
        g_released = 0;
        g_pIndex = &m_index;
        m_index.Init();
    }
    void TearDown() override {
        m_index.Term();
        g_pIndex = nullptr;
        EXPECT_EQ(g_live.load(), 0);
        EXPECT_EQ(Used(), m_usedAtStart);
        AuDefaultPoolTest::TearDown();
    }
    CAuObjectIndex m_index;
};

TEST_F(ObjectIndexTest, IdsSharingABucketAreBothFoundAndLookupsAddAReference) {
    const u32 x = 0x1234;
    FakeObject* a = FakeObject::Make(x, AuIndexEvents);
    FakeObject* b = FakeObject::Make(x + CAuIndexTable::kBuckets, AuIndexEvents);
    EXPECT_EQ(m_index.Table(AuIndexEvents).Count(), 2u);
    EXPECT_EQ(m_index.GetPtrAndAddRef(AuIndexEvents, x), a);
    EXPECT_EQ(m_index.GetPtrAndAddRef(AuIndexEvents, x + CAuIndexTable::kBuckets), b);
    EXPECT_EQ(a->m_lRef, 2u);
    EXPECT_EQ(b->m_lRef, 2u);
    EXPECT_EQ(m_index.GetPtrAndAddRef(AuIndexEvents, x + 2 * CAuIndexTable::kBuckets), nullptr);
    EXPECT_EQ(m_index.GetPtrAndAddRef(AuIndexActions, x), nullptr); // each kind has its table
    for (FakeObject* object : {a, a, b, b})
        object->Release();
    EXPECT_EQ(m_index.Table(AuIndexEvents).Count(), 0u);
    EXPECT_EQ(m_index.GetPtrAndAddRef(AuIndexEvents, x), nullptr);
}

TEST_F(ObjectIndexTest, ANodeAndABusWithOneIdAreDistinct) {
    FakeObject* node = FakeObject::Make(77, AuIndexNodes);
    FakeObject* bus = FakeObject::Make(77, AuIndexBusses);
    EXPECT_EQ(m_index.GetNodePtrAndAddRef(77, false), node);
    EXPECT_EQ(m_index.GetNodePtrAndAddRef(77, true), bus);
    EXPECT_EQ(&m_index.GetNodeTable(true), &m_index.Table(AuIndexBusses));
    EXPECT_EQ(&m_index.GetNodeTable(false), &m_index.Table(AuIndexNodes));
    node->Release();
    bus->Release();
    node->Release(); // the bus stays
    EXPECT_EQ(m_index.GetNodePtrAndAddRef(77, false), nullptr);
    EXPECT_EQ(m_index.GetNodePtrAndAddRef(77, true), bus);
    bus->Release();
    bus->Release();
}

TEST_F(ObjectIndexTest, TheLastReleaseUnlinksDestroysAndFrees) {
    FakeObject* first = FakeObject::Make(5, AuIndexStates);
    FakeObject* second = FakeObject::Make(5 + CAuIndexTable::kBuckets, AuIndexStates);
    FakeObject* third = FakeObject::Make(5 + 2 * CAuIndexTable::kBuckets, AuIndexStates);
    EXPECT_EQ(first->AddRef(), 2u);
    EXPECT_EQ(first->Release(), 1u);
    // Unlink from the middle of a chain keeps the others reachable.
    EXPECT_EQ(second->Release(), 0u);
    EXPECT_EQ(m_index.GetPtrAndAddRef(AuIndexStates, 5 + CAuIndexTable::kBuckets), nullptr);
    EXPECT_EQ(m_index.GetPtrAndAddRef(AuIndexStates, 5), first);
    EXPECT_EQ(m_index.GetPtrAndAddRef(AuIndexStates, 5 + 2 * CAuIndexTable::kBuckets), third);
    EXPECT_EQ(g_live.load(), 2);
    for (FakeObject* object : {first, first, third, third})
        object->Release();
    EXPECT_EQ(g_live.load(), 0);
}

// Two live objects with one ID (one object in two banks): lookups find the newer, linked first;
// releasing either unlinks that very object and leaves the other reachable.
TEST_F(ObjectIndexTest, ReleasingOneOfTwoObjectsWithOneIdUnlinksThatOne) {
    for (const bool olderFirst : {true, false}) {
        SCOPED_TRACE(olderFirst ? "older released first" : "newer released first");
        FakeObject* older = FakeObject::Make(7, AuIndexEvents);
        FakeObject* newer = FakeObject::Make(7, AuIndexEvents);
        EXPECT_EQ(m_index.Table(AuIndexEvents).Count(), 2u);
        FakeObject* gone = olderFirst ? older : newer;
        FakeObject* kept = olderFirst ? newer : older;
        EXPECT_EQ(gone->Release(), 0u);
        EXPECT_EQ(m_index.Table(AuIndexEvents).Count(), 1u);
        EXPECT_EQ(m_index.GetPtrAndAddRef(AuIndexEvents, 7), kept);
        EXPECT_EQ(kept->Release(), 1u);
        EXPECT_EQ(kept->Release(), 0u);
        EXPECT_EQ(m_index.GetPtrAndAddRef(AuIndexEvents, 7), nullptr);
        EXPECT_EQ(g_live.load(), 0);
    }
}

TEST_F(ObjectIndexTest, TheClassKindQueryIsZeroInTheBase) {
    FakeObject* object = FakeObject::Make(1, AuIndexLayers);
    EXPECT_EQ(object->ClassKind(), 0u);
    object->Release();
}

std::vector<u32> g_droppedSequences;

TEST_F(ObjectIndexTest, TerminationReleasesRunTimeObjectsThenDynamicSequences) {
    // Run-time objects carry the top bit; bank objects are left to their banks.
    FakeObject* runtimeNode = FakeObject::Make(0x80000012u, AuIndexNodes);
    FakeObject* runtimeNode2 = FakeObject::Make(0x80000012u + CAuIndexTable::kBuckets, AuIndexNodes);
    FakeObject* bankNode = FakeObject::Make(0x12u, AuIndexNodes);
    FakeObject* runtimeSettings = FakeObject::Make(0x80000002u, AuIndexPluginSettings19);
    FakeObject* runtimeBus = FakeObject::Make(0x80000012u, AuIndexBusses);
    FakeObject* held = FakeObject::Make(0x80000099u, AuIndexNodes);
    held->AddRef(); // someone still holds it: the walk drops only the index's reference
    FakeObject::Make(300, AuIndexDynamicSequences);
    FakeObject::Make(300 + CAuIndexTable::kBuckets, AuIndexDynamicSequences);
    FakeObject::Make(1, AuIndexDynamicSequences);
    (void)runtimeNode;
    (void)runtimeNode2;
    (void)runtimeSettings;

    m_index.ReleaseRunTimeObjects();
    EXPECT_EQ(m_index.Table(AuIndexNodes).Count(), 2u);
    EXPECT_EQ(m_index.Table(AuIndexPluginSettings19).Count(), 0u);
    EXPECT_EQ(m_index.Table(AuIndexBusses).Count(), 1u);
    EXPECT_EQ(held->m_lRef, 1u);

    g_droppedSequences.clear();
    m_index.ReleaseDynamicSequences([](CAuIndexable& sequence) {
        EXPECT_EQ(sequence.m_lRef, 1u);
        g_droppedSequences.push_back(sequence.key);
    });
    // Buckets in order 0 to 192; within a bucket, the newest first.
    EXPECT_EQ(g_droppedSequences, (std::vector<u32>{1, 300 + CAuIndexTable::kBuckets, 300}));
    EXPECT_EQ(m_index.Table(AuIndexDynamicSequences).Count(), 0u);

    for (FakeObject* object : {bankNode, runtimeBus, held})
        object->Release();
}

// Lookups race the last release: a lookup either gets a live object with its own reference or
// nothing; never one being destroyed.
TEST_F(ObjectIndexTest, ALookupRacingTheLastReleaseNeverReturnsADyingObject) {
    constexpr int kRounds = 2000;
    constexpr u32 kId = 4242;
    std::atomic<bool> done{false};
    std::atomic<int> dyingSeen{0};
    auto lookups = [&] {
        while (!done.load()) {
            CAuIndexable* object = m_index.GetPtrAndAddRef(AuIndexEvents, kId);
            if (!object) continue;
            if (static_cast<FakeObject*>(object)->Dying()) dyingSeen.fetch_add(1);
            object->Release();
        }
    };
    std::thread a(lookups), b(lookups);
    for (int i = 0; i < kRounds; ++i) {
        FakeObject* object = FakeObject::Make(kId, AuIndexEvents);
        object->Release(); // the owner's reference: the last one unless a lookup holds it
        while (m_index.Table(AuIndexEvents).Count() != 0)
            std::this_thread::yield(); // a lookup still holds it; its Release ends it
    }
    done.store(true);
    a.join();
    b.join();
    EXPECT_EQ(dyingSeen.load(), 0);
    EXPECT_EQ(g_live.load(), 0);
    EXPECT_EQ(m_index.Table(AuIndexEvents).Count(), 0u);
}

} // namespace
