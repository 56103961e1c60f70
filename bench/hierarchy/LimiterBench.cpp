// The playback limiter list beside std::multiset and a std::vector kept sorted with
// std::lower_bound (and std::rotate for a priority change), at 8, 64 and 1024 instances: time per
// add, per priority update and per remove. Priorities take 16 values, so the order keys decide
// often, as they do in a game.
#include "hierarchy/AuPlaybackLimiter.h"

#include <AU/MemoryMgr.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

namespace {

struct Item {
    f32 priority;
    u32 key;
};

f32 AuLimiterPriority(const Item& item) {
    return item.priority;
}
u32 AuLimiterOrderKey(const Item& item) {
    return item.key;
}

// Order flag 0: highest priority first, then the larger key.
struct Before {
    bool operator()(const Item* a, const Item* b) const {
        if (a->priority != b->priority) return a->priority > b->priority;
        return a->key > b->key;
    }
};

class Pools {
public:
    Pools() {
        const AuMemoryMgrSettings settings{8};
        AU::MemoryMgr::Init(&settings);
        g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 4u << 20, 64, AuPoolAttrMalloc, 0);
    }
    ~Pools() { AU::MemoryMgr::Term(); }
};

std::vector<Item> MakeItems(u32 count, u32 seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> priority(0, 15);
    std::vector<Item> items(count);
    for (u32 i = 0; i < count; ++i)
        items[i] = Item{6.25f * priority(random), i + 1};
    return items;
}

std::vector<u32> Shuffled(u32 count, u32 seed) {
    std::vector<u32> order(count);
    for (u32 i = 0; i < count; ++i)
        order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(seed));
    return order;
}

// Inverted rate of operations counted in billions: nanoseconds per operation.
void PerOperation(benchmark::State& state, u32 perIteration) {
    state.counters["ns/op"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * perIteration * 1e-9,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Add: N instances into an empty list, its release included for all three. Remove: all N in
// random order, the filling untimed. Update: one instance a new priority, N times.
void BM_LimiterAdd(benchmark::State& state) {
    Pools pools;
    const u32 n = static_cast<u32>(state.range(0));
    std::vector<Item> items = MakeItems(n, 1);
    for (auto _ : state) {
        CAuLimiterList<Item> list;
        for (Item& item : items)
            list.AddInstance(&item, AU_LIMITER_KIND_1);
        benchmark::DoNotOptimize(list.Count());
        list.Term();
    }
    PerOperation(state, n);
}

void BM_LimiterRemove(benchmark::State& state) {
    Pools pools;
    const u32 n = static_cast<u32>(state.range(0));
    std::vector<Item> items = MakeItems(n, 1);
    const std::vector<u32> order = Shuffled(n, 2);
    for (auto _ : state) {
        state.PauseTiming();
        CAuLimiterList<Item> list;
        for (Item& item : items)
            list.AddInstance(&item, AU_LIMITER_KIND_1);
        state.ResumeTiming();
        for (u32 i : order)
            list.RemoveInstance(&items[i], AU_LIMITER_KIND_1);
        benchmark::DoNotOptimize(list.Count());
        state.PauseTiming();
        list.Term();
        state.ResumeTiming();
    }
    PerOperation(state, n);
}

void BM_LimiterUpdate(benchmark::State& state) {
    Pools pools;
    const u32 n = static_cast<u32>(state.range(0));
    std::vector<Item> items = MakeItems(n, 1);
    CAuLimiterList<Item> list;
    for (Item& item : items)
        list.AddInstance(&item, AU_LIMITER_KIND_1);
    const std::vector<u32> order = Shuffled(n, 3);
    std::mt19937 random(4);
    std::uniform_int_distribution<int> priority(0, 15);
    std::vector<f32> next(n);
    for (f32& value : next)
        value = 6.25f * priority(random);
    for (auto _ : state) {
        for (u32 i = 0; i < n; ++i) {
            Item& item = items[order[i]];
            list.UpdateInstance(next[i], &item);
            item.priority = next[i];
        }
        std::rotate(next.begin(), next.begin() + 1, next.end());
    }
    benchmark::DoNotOptimize(list.Count());
    list.Term();
    PerOperation(state, n);
}

void BM_MultisetAdd(benchmark::State& state) {
    const u32 n = static_cast<u32>(state.range(0));
    std::vector<Item> items = MakeItems(n, 1);
    for (auto _ : state) {
        std::multiset<Item*, Before> set;
        for (Item& item : items)
            set.insert(&item);
        benchmark::DoNotOptimize(set.size());
    }
    PerOperation(state, n);
}

void BM_MultisetRemove(benchmark::State& state) {
    const u32 n = static_cast<u32>(state.range(0));
    std::vector<Item> items = MakeItems(n, 1);
    const std::vector<u32> order = Shuffled(n, 2);
    for (auto _ : state) {
        state.PauseTiming();
        std::multiset<Item*, Before> set;
        for (Item& item : items)
            set.insert(&item);
        state.ResumeTiming();
        for (u32 i : order)
            set.erase(set.find(&items[i]));
        benchmark::DoNotOptimize(set.size());
    }
    PerOperation(state, n);
}

void BM_MultisetUpdate(benchmark::State& state) {
    const u32 n = static_cast<u32>(state.range(0));
    std::vector<Item> items = MakeItems(n, 1);
    std::multiset<Item*, Before> set;
    for (Item& item : items)
        set.insert(&item);
    const std::vector<u32> order = Shuffled(n, 3);
    std::mt19937 random(4);
    std::uniform_int_distribution<int> priority(0, 15);
    std::vector<f32> next(n);
    for (f32& value : next)
        value = 6.25f * priority(random);
    for (auto _ : state) {
        for (u32 i = 0; i < n; ++i) {
            Item& item = items[order[i]];
            auto node = set.extract(set.find(&item));
            item.priority = next[i];
            set.insert(std::move(node));
        }
        std::rotate(next.begin(), next.begin() + 1, next.end());
    }
    benchmark::DoNotOptimize(set.size());
    PerOperation(state, n);
}

void BM_SortedVectorAdd(benchmark::State& state) {
    const u32 n = static_cast<u32>(state.range(0));
    std::vector<Item> items = MakeItems(n, 1);
    for (auto _ : state) {
        std::vector<Item*> sorted;
        for (Item& item : items)
            sorted.insert(std::lower_bound(sorted.begin(), sorted.end(), &item, Before{}), &item);
        benchmark::DoNotOptimize(sorted.size());
    }
    PerOperation(state, n);
}

void BM_SortedVectorRemove(benchmark::State& state) {
    const u32 n = static_cast<u32>(state.range(0));
    std::vector<Item> items = MakeItems(n, 1);
    const std::vector<u32> order = Shuffled(n, 2);
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<Item*> sorted;
        for (Item& item : items)
            sorted.insert(std::lower_bound(sorted.begin(), sorted.end(), &item, Before{}), &item);
        state.ResumeTiming();
        for (u32 i : order)
            sorted.erase(std::lower_bound(sorted.begin(), sorted.end(), &items[i], Before{}));
        benchmark::DoNotOptimize(sorted.size());
    }
    PerOperation(state, n);
}

void BM_SortedVectorUpdate(benchmark::State& state) {
    const u32 n = static_cast<u32>(state.range(0));
    std::vector<Item> items = MakeItems(n, 1);
    std::vector<Item*> sorted;
    for (Item& item : items)
        sorted.insert(std::lower_bound(sorted.begin(), sorted.end(), &item, Before{}), &item);
    const std::vector<u32> order = Shuffled(n, 3);
    std::mt19937 random(4);
    std::uniform_int_distribution<int> priority(0, 15);
    std::vector<f32> next(n);
    for (f32& value : next)
        value = 6.25f * priority(random);
    for (auto _ : state) {
        for (u32 i = 0; i < n; ++i) {
            Item& item = items[order[i]];
            auto from = std::lower_bound(sorted.begin(), sorted.end(), &item, Before{});
            Item moved = item;
            moved.priority = next[i];
            auto to = std::lower_bound(sorted.begin(), sorted.end(), &moved, Before{});
            // One rotation moves it there, shifting the rows in between by one.
            if (to > from)
                std::rotate(from, from + 1, to);
            else
                std::rotate(to, from, from + 1);
            item.priority = next[i];
        }
        std::rotate(next.begin(), next.begin() + 1, next.end());
    }
    benchmark::DoNotOptimize(sorted.size());
    PerOperation(state, n);
}

} // namespace

BENCHMARK(BM_LimiterAdd)->Arg(8)->Arg(64)->Arg(1024);
BENCHMARK(BM_MultisetAdd)->Arg(8)->Arg(64)->Arg(1024);
BENCHMARK(BM_SortedVectorAdd)->Arg(8)->Arg(64)->Arg(1024);
BENCHMARK(BM_LimiterUpdate)->Arg(8)->Arg(64)->Arg(1024);
BENCHMARK(BM_MultisetUpdate)->Arg(8)->Arg(64)->Arg(1024);
BENCHMARK(BM_SortedVectorUpdate)->Arg(8)->Arg(64)->Arg(1024);
BENCHMARK(BM_LimiterRemove)->Arg(8)->Arg(64)->Arg(1024);
BENCHMARK(BM_MultisetRemove)->Arg(8)->Arg(64)->Arg(1024);
BENCHMARK(BM_SortedVectorRemove)->Arg(8)->Arg(64)->Arg(1024);
