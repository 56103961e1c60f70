#include "hierarchy/AuPlaybackLimiter.h"

#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

struct Item {
    f32 priority = 50.0f;
    u32 key = 0;
    bool live = true;
    bool stopping = false;
    // What the list did to it.
    int gaveWay = 0;
    bool asVirtual = false;
    u32 reason = 0;
};

f32 AuLimiterPriority(const Item& item) {
    return item.priority;
}
u32 AuLimiterOrderKey(const Item& item) {
    return item.key;
}
bool AuLimiterIsLive(const Item& item) {
    return item.live;
}
bool AuLimiterIsStopping(const Item& item) {
    return item.stopping;
}
void AuLimiterGiveWay(Item& item, bool useVirtual, u32 reason) {
    ++item.gaveWay;
    item.asVirtual = useVirtual;
    item.reason = reason;
}

using List = CAuLimiterList<Item>;

std::vector<std::string> g_registry;

void Record(List&, u32 kind, bool registered) {
    g_registry.push_back((registered ? "register " : "unregister ") + std::to_string(kind));
}

class PlaybackLimiterTest : public AuDefaultPoolTest {
protected:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        g_registry.clear();
        List::SetRegistry(&Record);
    }
    void TearDown() override {
        List::SetRegistry(nullptr);
        EXPECT_EQ(Used(), m_usedAtStart);
        AuDefaultPoolTest::TearDown();
    }
    static std::vector<u32> Keys(const List& list) {
        std::vector<u32> keys;
        for (u32 i = 0; i < list.Count(); ++i)
            keys.push_back(list[i]->key);
        return keys;
    }
    // The order the list must keep, by the standard sort.
    static std::vector<u32> Expected(std::vector<Item*> items, bool orderFlag) {
        std::sort(items.begin(), items.end(), [orderFlag](const Item* a, const Item* b) {
            if (a->priority != b->priority) return a->priority > b->priority;
            return orderFlag ? a->key < b->key : a->key > b->key;
        });
        std::vector<u32> keys;
        for (const Item* item : items)
            keys.push_back(item->key);
        return keys;
    }
};

TEST_F(PlaybackLimiterTest, EqualPrioritiesFollowTheOrderFlag) {
    for (const bool orderFlag : {false, true}) {
        List list(0, orderFlag, false);
        Item items[] = {{50.0f, 1}, {70.0f, 2}, {50.0f, 3}, {50.0f, 4}, {10.0f, 5}};
        for (Item& item : items)
            ASSERT_EQ(list.AddInstance(&item, AU_LIMITER_KIND_1), AuResultSuccess);
        const std::vector<u32> expected =
            orderFlag ? std::vector<u32>{2, 1, 3, 4, 5} : std::vector<u32>{2, 4, 3, 1, 5};
        EXPECT_EQ(Keys(list), expected) << orderFlag;
        // Flipping the flag re-sorts at once.
        list.SetOrderFlag(!orderFlag);
        EXPECT_EQ(Keys(list), Expected({&items[0], &items[1], &items[2], &items[3], &items[4]}, !orderFlag));
        for (Item& item : items)
            list.RemoveInstance(&item, AU_LIMITER_KIND_1);
        list.Term();
    }
}

TEST_F(PlaybackLimiterTest, TheFirstAddRegistersAndTheLastRemoveUnregisters) {
    for (const u32 kind : {AU_LIMITER_KIND_1, AU_LIMITER_KIND_2}) {
        g_registry.clear();
        List list;
        Item a{50.0f, 1}, b{40.0f, 2};
        ASSERT_EQ(list.AddInstance(&a, kind), AuResultSuccess);
        ASSERT_EQ(list.AddInstance(&b, kind), AuResultSuccess);
        list.RemoveInstance(&a, kind);
        list.RemoveInstance(&a, kind); // not there any more: nothing
        EXPECT_EQ(g_registry, std::vector<std::string>{"register " + std::to_string(kind)});
        list.RemoveInstance(&b, kind);
        EXPECT_EQ(g_registry, (std::vector<std::string>{"register " + std::to_string(kind),
                                                        "unregister " + std::to_string(kind)}));
        list.Term();
    }
}

TEST_F(PlaybackLimiterTest, UpdateDropsWhatLiesPastTheMaximumOfLiveInstances) {
    struct Case {
        const char* what;
        u16 maximum;
        bool useVirtual;
        bool engineWide;
        std::vector<bool> live;     // by position in the list
        std::vector<bool> stopping; // by position in the list
        std::vector<int> gaveWay;   // by position in the list
    };
    const Case cases[] = {
        {"no maximum", 0, false, false, {1, 1, 1, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}},
        {"within", 4, false, false, {1, 1, 1, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}},
        {"two over", 2, false, false, {1, 1, 1, 1}, {0, 0, 0, 0}, {0, 0, 1, 1}},
        {"virtual ones do not count", 2, true, true, {1, 0, 1, 1}, {0, 0, 0, 0}, {0, 0, 0, 1}},
        {"stopping ones are left", 1, false, true, {1, 0, 1, 1}, {0, 1, 0, 0}, {0, 0, 1, 1}},
    };
    for (const Case& c : cases) {
        List list(c.maximum, false, c.useVirtual);
        std::vector<Item> items(4);
        for (u32 i = 0; i < 4; ++i) {
            items[i] = Item{90.0f - 10.0f * i, i + 1, c.live[i], c.stopping[i]};
            ASSERT_EQ(list.AddInstance(&items[i], AU_LIMITER_KIND_1), AuResultSuccess);
        }
        list.Update(c.engineWide);
        for (u32 i = 0; i < 4; ++i) {
            EXPECT_EQ(items[i].gaveWay, c.gaveWay[i]) << c.what << " " << i;
            if (!items[i].gaveWay) continue;
            EXPECT_EQ(items[i].asVirtual, c.useVirtual) << c.what;
            EXPECT_EQ(items[i].reason, c.engineWide ? AU_LIMITER_REASON_ENGINE : AU_LIMITER_REASON_LIST)
                << c.what;
        }
        list.Term();
    }
}

TEST_F(PlaybackLimiterTest, APriorityChangeStaysSwapsOrMoves) {
    struct Case {
        u32 moved; // index in the list
        f32 priority;
        std::vector<u32> order;
    };
    // Keys 1 to 5 at 90, 80, 70, 60, 50.
    const Case cases[] = {
        {2, 75.0f, {1, 2, 3, 4, 5}}, // between its neighbours: stays
        {2, 85.0f, {1, 3, 2, 4, 5}}, // past one neighbour: swaps
        {2, 55.0f, {1, 2, 4, 3, 5}},
        {2, 95.0f, {3, 1, 2, 4, 5}}, // further: moves
        {0, 10.0f, {2, 3, 4, 5, 1}},
        {4, 80.0f, {1, 5, 2, 3, 4}}, // equal priority, larger key first (order flag 0)
    };
    for (const Case& c : cases) {
        List list;
        std::vector<Item> items(5);
        for (u32 i = 0; i < 5; ++i) {
            items[i] = Item{90.0f - 10.0f * i, i + 1};
            ASSERT_EQ(list.AddInstance(&items[i], AU_LIMITER_KIND_1), AuResultSuccess);
        }
        list.UpdateInstance(c.priority, &items[c.moved]);
        items[c.moved].priority = c.priority;
        EXPECT_EQ(Keys(list), c.order) << c.moved << " to " << c.priority;
        list.Term();
    }
}

TEST_F(PlaybackLimiterTest, RandomAddsUpdatesAndRemovesKeepTheListSorted) {
    std::mt19937 random(1234);
    for (const bool orderFlag : {false, true}) {
        List list(0, orderFlag, false);
        std::vector<std::unique_ptr<Item>> items;
        std::vector<Item*> inList;
        u32 nextKey = 1;
        // Few distinct priorities, so that the keys decide often.
        std::uniform_int_distribution<int> priority(0, 8);
        for (u32 step = 0; step < 3000; ++step) {
            const int what = std::uniform_int_distribution<int>(0, 9)(random);
            if (what < 4 || inList.empty()) {
                items.push_back(std::make_unique<Item>(Item{10.0f * priority(random), nextKey++}));
                ASSERT_EQ(list.AddInstance(items.back().get(), AU_LIMITER_KIND_1), AuResultSuccess);
                inList.push_back(items.back().get());
            } else {
                const size_t at = std::uniform_int_distribution<size_t>(0, inList.size() - 1)(random);
                Item* item = inList[at];
                if (what < 8) {
                    const f32 next = 10.0f * priority(random);
                    list.UpdateInstance(next, item);
                    item->priority = next;
                } else {
                    list.RemoveInstance(item, AU_LIMITER_KIND_1);
                    inList.erase(inList.begin() + static_cast<long>(at));
                }
            }
            ASSERT_EQ(Keys(list), Expected(inList, orderFlag)) << "step " << step;
        }
        list.SetOrderFlag(!orderFlag);
        EXPECT_EQ(Keys(list), Expected(inList, !orderFlag));
        list.Term();
    }
}

} // namespace
