#include "parameters/AuKeyedValues.h"

#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <optional>
#include <random>
#include <vector>

namespace {

// Stand-ins for owners: only their addresses are keys.
char g_objects[4];
char g_instances[3];
CAuRegisteredObj* Obj(int i) {
    return reinterpret_cast<CAuRegisteredObj*>(&g_objects[i]);
}
CAuPlaybackInstance* Inst(int i) {
    return reinterpret_cast<CAuPlaybackInstance*>(&g_instances[i]);
}

AuRTPCKey Key(CAuRegisteredObj* obj, u32 playingID = 0, u32 target = 0, u8 channel = 255, u8 note = 255,
              CAuPlaybackInstance* instance = nullptr) {
    AuRTPCKey key(obj);
    key.playingID = playingID;
    key.midiTargetID = target;
    key.midiChannel = channel;
    key.midiNote = note;
    key.pInstance = instance;
    return key;
}

TEST(RTPCKey, SubKeyMatchAndNarrowerFields) {
    const AuRTPCKey global;
    EXPECT_TRUE(global.IsGlobal());
    EXPECT_FALSE(AuRTPCKey(Obj(0)).IsGlobal());
    struct Case {
        AuRTPCKey a, b;
        bool matches;
    };
    const Case cases[] = {
        {global, Key(Obj(0), 7, 3, 1, 60, Inst(0)), true},
        {Key(Obj(0), 7), Key(Obj(1), 7), true}, // the game object is not compared
        {Key(nullptr, 7), Key(nullptr, 8), false},
        {Key(nullptr, 0, 3), Key(nullptr, 0, 4), false},
        {Key(nullptr, 0, 0, 1), Key(nullptr, 0, 0, 2), false},
        {Key(nullptr, 0, 0, 1), Key(nullptr, 0, 0, 255), true},
        {Key(nullptr, 0, 0, 255, 60), Key(nullptr, 0, 0, 255, 61), false},
        {Key(nullptr, 0, 0, 255, 255, Inst(0)), Key(nullptr, 0, 0, 255, 255, Inst(1)), false},
        {Key(nullptr, 7, 3, 1, 60, Inst(0)), Key(nullptr, 7, 3, 1, 60, Inst(0)), true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.a.MatchesSubKey(c.b), c.matches) << &c - cases;
        EXPECT_EQ(c.b.MatchesSubKey(c.a), c.matches) << &c - cases;
    }
    EXPECT_FALSE(global.HasNarrowerField(Key(Obj(0), 7)));
    EXPECT_TRUE(Key(Obj(0)).HasNarrowerField(global));
    EXPECT_FALSE(Key(Obj(0)).HasNarrowerField(Key(Obj(1)))); // specific on both sides
    EXPECT_TRUE(Key(Obj(0), 7).HasNarrowerField(Key(Obj(0))));
    EXPECT_TRUE(Key(nullptr, 0, 0, 255, 255, Inst(0)).HasNarrowerField(Key(Obj(0), 7)));
    EXPECT_TRUE(Key(nullptr, 0, 0, 3).HasNarrowerField(global));
    EXPECT_TRUE(Key(nullptr, 0, 0, 255, 9).HasNarrowerField(global));
    EXPECT_TRUE(Key(nullptr, 0, 4).HasNarrowerField(global));
}

class KeyedValuesTest : public AuDefaultPoolTest {};

TEST_F(KeyedValuesTest, FallBackCases) {
    CAuKeyedValues<f32> values;
    *values.CreateSlot(Key(nullptr, 7)) = 1.5f;
    // A has no values of its own: the value stored without a game object for playing ID 7.
    AuRTPCKey request = Key(Obj(0), 7);
    const f32* found = values.FindValue(request);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(*found, 1.5f);
    EXPECT_EQ(request, Key(nullptr, 7));

    // With a value of A's own at its object level, that value, the playing ID rewritten to any.
    *values.CreateSlot(Key(Obj(0))) = 2.5f;
    request = Key(Obj(0), 7);
    found = values.FindValue(request);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(*found, 2.5f);
    EXPECT_EQ(request, Key(Obj(0)));

    // Nothing narrower: the global value, every field rewritten to any.
    request = Key(Obj(1), 3, 4, 5, 6, Inst(1));
    EXPECT_EQ(values.FindValue(request), nullptr);
    *values.CreateSlot(AuRTPCKey{}) = -1.0f;
    found = values.FindValue(request);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(*found, -1.0f);
    EXPECT_TRUE(request.IsGlobal());

    // The narrowest level found wins and keeps its fields.
    *values.CreateSlot(Key(Obj(0), 7, 0, 255, 255, Inst(2))) = 9.0f;
    request = Key(Obj(0), 7, 0, 255, 255, Inst(2));
    EXPECT_EQ(*values.FindValue(request), 9.0f);
    EXPECT_EQ(request, Key(Obj(0), 7, 0, 255, 255, Inst(2)));
    request = Key(Obj(0), 7, 0, 255, 255, Inst(1));
    EXPECT_EQ(*values.FindValue(request), 2.5f);
    EXPECT_EQ(request, Key(Obj(0)));
}

TEST_F(KeyedValuesTest, CreateSlotOfTheGlobalKeySetsTheGlobalValue) {
    CAuKeyedValues<u32> values;
    EXPECT_TRUE(values.IsEmpty());
    u32* slot = values.CreateSlot(AuRTPCKey{});
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(*slot, 0u);
    *slot = 42;
    EXPECT_EQ(values.CreateSlot(AuRTPCKey{}), slot); // again: the same slot, the value kept
    EXPECT_EQ(*slot, 42u);
    bool narrower = true;
    EXPECT_EQ(values.GetExact(AuRTPCKey{}, nullptr, &narrower), slot);
    EXPECT_FALSE(narrower);
    EXPECT_FALSE(values.IsEmpty());
    EXPECT_EQ(Used(), m_usedAtStart); // the global value lives in the root
    values.RemoveAt(AuRTPCKey{});
    EXPECT_TRUE(values.IsEmpty());
}

TEST_F(KeyedValuesTest, RemovingTheLastValueUnderAnObjectFreesItsBranch) {
    CAuKeyedValues<f32> values;
    *values.CreateSlot(Key(Obj(1))) = 1;
    *values.CreateSlot(Key(Obj(2))) = 1;
    values.RemoveAt(Key(Obj(2))); // the object array keeps room for a second object
    const u32 withOtherObject = Used();
    const AuRTPCKey deep = Key(Obj(0), 7, 3, 1, 60, Inst(0));
    *values.CreateSlot(deep) = 2;
    *values.CreateSlot(Key(Obj(0), 7, 3)) = 3;
    EXPECT_GT(Used(), withOtherObject);
    values.RemoveAt(Key(Obj(0), 7, 3));
    values.RemoveAt(Key(Obj(0), 7)); // holds no value: nothing happens
    EXPECT_GT(Used(), withOtherObject);
    values.RemoveAt(deep);
    EXPECT_EQ(Used(), withOtherObject);
    EXPECT_EQ(*values.GetExact(Key(Obj(1))), 1.0f);
    values.RemoveAt(Key(Obj(1)));
    EXPECT_TRUE(values.IsEmpty());
    EXPECT_EQ(Used(), m_usedAtStart);
}

TEST_F(KeyedValuesTest, GetExactReportsTheWiderValueAndNarrowerOnes) {
    CAuKeyedValues<f32> values;
    *values.CreateSlot(AuRTPCKey{}) = 1;
    *values.CreateSlot(Key(Obj(0))) = 2;
    *values.CreateSlot(Key(Obj(0), 7, 0, 255, 255, Inst(0))) = 3;
    f32* wider = nullptr;
    bool narrower = false;
    EXPECT_EQ(values.GetExact(Key(Obj(0), 7), &wider, &narrower), nullptr);
    ASSERT_NE(wider, nullptr);
    EXPECT_EQ(*wider, 2.0f);
    EXPECT_TRUE(narrower);
    EXPECT_EQ(*values.GetExact(Key(Obj(0)), &wider, &narrower), 2.0f);
    EXPECT_EQ(*wider, 1.0f);
    EXPECT_TRUE(narrower);
    EXPECT_EQ(*values.GetExact(Key(Obj(0), 7, 0, 255, 255, Inst(0)), &wider, &narrower), 3.0f);
    EXPECT_EQ(*wider, 2.0f);
    EXPECT_FALSE(narrower);
    EXPECT_EQ(values.GetExact(Key(Obj(1)), &wider, &narrower), nullptr);
    EXPECT_EQ(*wider, 1.0f);
    EXPECT_FALSE(narrower);
    EXPECT_EQ(*values.GetExact(AuRTPCKey{}, &wider, &narrower), 1.0f);
    EXPECT_EQ(wider, nullptr);
    EXPECT_TRUE(narrower); // a game object has values
}

TEST_F(KeyedValuesTest, RemoveMatchingTreatsAnyFieldsAfterTheObjectAsWildcards) {
    CAuKeyedValues<f32> values;
    const AuRTPCKey kept[] = {Key(Obj(1), 7, 0, 255, 255, Inst(0)), Key(nullptr, 7, 0, 255, 255, Inst(0)),
                              Key(Obj(0), 7, 0, 255, 255, Inst(1)), Key(Obj(0)), AuRTPCKey{}};
    const AuRTPCKey dropped[] = {Key(Obj(0), 7, 0, 255, 255, Inst(0)), Key(Obj(0), 8, 2, 1, 60, Inst(0)),
                                 Key(Obj(0), 0, 0, 255, 255, Inst(0))};
    for (const AuRTPCKey& key : kept)
        *values.CreateSlot(key) = 1;
    for (const AuRTPCKey& key : dropped)
        *values.CreateSlot(key) = 2;
    values.RemoveMatching(Key(Obj(0), 0, 0, 255, 255, Inst(0)));
    for (const AuRTPCKey& key : kept)
        EXPECT_NE(values.GetExact(key), nullptr) << &key - kept;
    for (const AuRTPCKey& key : dropped)
        EXPECT_EQ(values.GetExact(key), nullptr) << &key - dropped;

    values.RemoveMatching(Key(Obj(0))); // the object's own value and all below it
    EXPECT_EQ(values.GetExact(Key(Obj(0))), nullptr);
    EXPECT_EQ(values.GetExact(Key(Obj(0), 7, 0, 255, 255, Inst(1))), nullptr);
    EXPECT_NE(values.GetExact(Key(Obj(1), 7, 0, 255, 255, Inst(0))), nullptr);
    values.RemoveMatching(AuRTPCKey{}); // everything
    EXPECT_TRUE(values.IsEmpty());
    EXPECT_EQ(Used(), m_usedAtStart);
}

TEST_F(KeyedValuesTest, RemoveIfOffersTheSelectedValuesWithTheirKeys) {
    CAuKeyedValues<f32> values;
    *values.CreateSlot(AuRTPCKey{}) = 0;
    *values.CreateSlot(Key(Obj(0))) = 1;
    *values.CreateSlot(Key(Obj(0), 7)) = 2;
    *values.CreateSlot(Key(Obj(0), 7, 0, 255, 255, Inst(0))) = 3;
    *values.CreateSlot(Key(Obj(0), 8)) = 4;
    *values.CreateSlot(Key(Obj(1), 7)) = 5;
    struct Seen {
        std::map<f32, AuRTPCKey> keys;
    } seen;
    const auto removeOdd = [](f32* slot, void* argument, const AuRTPCKey& key) {
        static_cast<Seen*>(argument)->keys[*slot] = key;
        return static_cast<int>(*slot) % 2 == 1;
    };
    // Object 0, playing ID 7: the levels on the way and everything below.
    EXPECT_FALSE(values.RemoveIf(Key(Obj(0), 7), removeOdd, &seen));
    EXPECT_EQ(seen.keys.size(), 4u);
    EXPECT_EQ(seen.keys[0], AuRTPCKey{});
    EXPECT_EQ(seen.keys[1], Key(Obj(0)));
    EXPECT_EQ(seen.keys[2], Key(Obj(0), 7));
    EXPECT_EQ(seen.keys[3], Key(Obj(0), 7, 0, 255, 255, Inst(0)));
    EXPECT_EQ(values.GetExact(Key(Obj(0))), nullptr);
    EXPECT_EQ(values.GetExact(Key(Obj(0), 7, 0, 255, 255, Inst(0))), nullptr);
    EXPECT_NE(values.GetExact(Key(Obj(0), 7)), nullptr);
    EXPECT_NE(values.GetExact(Key(Obj(0), 8)), nullptr);
    EXPECT_NE(values.GetExact(Key(Obj(1), 7)), nullptr); // the object field is followed

    const auto all = [](f32*, void*, const AuRTPCKey&) { return true; };
    EXPECT_TRUE(values.RemoveIf(AuRTPCKey{}, all, nullptr));
    EXPECT_EQ(Used(), m_usedAtStart);
}

class KeyedValuesMemoryTest : public AuDefaultPoolTest {
protected:
    KeyedValuesMemoryTest() : AuDefaultPoolTest(16 * 1024) {}
};

TEST_F(KeyedValuesMemoryTest, CreateSlotWithoutMemoryLeavesNoLevelBehind) {
    CAuKeyedValues<f32> values;
    *values.CreateSlot(Key(Obj(1), 3)) = 1;
    *values.CreateSlot(Key(Obj(2))) = 1;
    values.RemoveAt(Key(Obj(2))); // room in the object array: a refusal leaves the pool as it was
    // Fill the pool, then give memory back a block at a time: the deep key's levels run out of
    // memory at each of their allocations in turn before it fits.
    std::vector<void*> filler;
    while (void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, 16))
        filler.push_back(block);
    const AuRTPCKey deep = Key(Obj(0), 7, 3, 1, 60, Inst(0));
    u32 refusals = 0;
    f32* slot = nullptr;
    while (!slot && !filler.empty()) {
        AU::MemoryMgr::Free(g_DefaultPoolId, filler.back());
        filler.pop_back();
        const u32 before = Used();
        slot = values.CreateSlot(deep);
        if (!slot) {
            ++refusals;
            ASSERT_EQ(Used(), before) << "refusal " << refusals;
            ASSERT_EQ(values.GetExact(deep), nullptr);
        }
    }
    ASSERT_NE(slot, nullptr);
    EXPECT_GE(refusals, 6u); // the object array, five levels and the instance array
    EXPECT_EQ(*values.GetExact(Key(Obj(1), 3)), 1.0f);
    for (void* block : filler)
        AU::MemoryMgr::Free(g_DefaultPoolId, block);
    values.Clear();
    EXPECT_EQ(Used(), m_usedAtStart);
}

// The fall-back rule over a flat map of stored keys, for the randomised comparison.
class FlatModel {
public:
    using Fields = std::array<u64, 6>;

    static Fields Of(const AuRTPCKey& key) {
        Fields f;
        for (u32 d = 0; d < 6; ++d)
            f[d] = AuKeyedValuesDetail::Field(key, d);
        return f;
    }
    static AuRTPCKey ToKey(const Fields& f) {
        AuRTPCKey key;
        for (u32 d = 0; d < 6; ++d)
            AuKeyedValuesDetail::SetField(key, d, f[d]);
        return key;
    }
    static bool IsAny(const Fields& f, u32 d) { return f[d] == AuKeyedValuesDetail::Any(d); }
    // The level a key's value lives at: the first depth from which every field is any.
    static u32 Depth(const Fields& f) {
        u32 depth = 6;
        while (depth > 0 && IsAny(f, depth - 1))
            --depth;
        return depth;
    }
    static bool SamePrefix(const Fields& a, const Fields& b, u32 length) {
        for (u32 d = 0; d < length; ++d)
            if (a[d] != b[d]) return false;
        return true;
    }

    // A level exists where some stored key passes through it.
    bool LevelExists(const Fields& prefix, u32 length) const {
        for (const auto& [stored, value] : m_values)
            if (Depth(stored) >= length && SamePrefix(stored, prefix, length)) return true;
        return false;
    }
    std::optional<f32> OwnValue(const Fields& prefix, u32 length) const {
        Fields key = prefix;
        for (u32 d = length; d < 6; ++d)
            key[d] = AuKeyedValuesDetail::Any(d);
        const auto it = m_values.find(key);
        if (it == m_values.end() || Depth(key) != length) return std::nullopt;
        return it->second;
    }

    std::optional<f32> Find(Fields& key, u32 depth = 0) const {
        bool restAny = true;
        for (u32 d = depth; d < 6; ++d)
            restAny = restAny && IsAny(key, d);
        if (!restAny) {
            if (!LevelExists(key, depth + 1)) {
                key[depth] = AuKeyedValuesDetail::Any(depth);
            }
            if (LevelExists(key, depth + 1)) {
                if (depth == 5) return m_values.at(key);
                if (auto found = Find(key, depth + 1)) return found;
            }
        }
        for (u32 d = depth; d < 6; ++d)
            key[d] = AuKeyedValuesDetail::Any(d);
        return OwnValue(key, depth);
    }

    std::map<Fields, f32> m_values;
};

TEST_F(KeyedValuesTest, RandomisedAgainstAFlatModelOfTheFallBackRule) {
    CAuKeyedValues<f32> values;
    FlatModel model;
    std::mt19937 random(142);
    const auto pick = [&](u32 n) { return u32(random() % n); };
    const auto randomKey = [&] {
        // Mostly any, so that levels are shared and fall-backs happen.
        CAuRegisteredObj* objects[] = {nullptr, nullptr, Obj(0), Obj(1), Obj(2)};
        const u32 playingIDs[] = {0, 0, 0, 7, 8};
        const u32 targets[] = {0, 0, 0, 0, 5};
        const u8 channels[] = {255, 255, 255, 1};
        const u8 notes[] = {255, 255, 255, 60};
        CAuPlaybackInstance* instances[] = {nullptr, nullptr, nullptr, Inst(0), Inst(1)};
        return Key(objects[pick(5)], playingIDs[pick(5)], targets[pick(5)], channels[pick(4)], notes[pick(4)],
                   instances[pick(5)]);
    };
    u32 fallBacks = 0;
    for (int op = 0; op < 100000; ++op) {
        const AuRTPCKey key = randomKey();
        const FlatModel::Fields fields = FlatModel::Of(key);
        const u32 what = pick(100);
        if (what < 35) {
            f32* slot = values.CreateSlot(key);
            ASSERT_NE(slot, nullptr);
            const bool existed = model.m_values.count(fields) > 0;
            ASSERT_EQ(*slot, existed ? model.m_values[fields] : 0.0f);
            *slot = f32(op);
            model.m_values[fields] = f32(op);
        } else if (what < 55) {
            values.RemoveAt(key);
            model.m_values.erase(fields);
        } else if (what < 57) {
            values.RemoveMatching(key);
            const u32 depth = FlatModel::Depth(fields);
            std::erase_if(model.m_values, [&](const auto& entry) {
                for (u32 d = 0; d < depth; ++d)
                    if (!(d > 0 && FlatModel::IsAny(fields, d)) && entry.first[d] != fields[d]) return false;
                return true;
            });
        } else if (what < 85) {
            AuRTPCKey request = key;
            FlatModel::Fields modelRequest = fields;
            const f32* found = values.FindValue(request);
            const std::optional<f32> expected = model.Find(modelRequest);
            ASSERT_EQ(found != nullptr, expected.has_value()) << "op " << op;
            if (found) {
                ASSERT_EQ(*found, *expected) << "op " << op;
                ASSERT_EQ(request, FlatModel::ToKey(modelRequest)) << "op " << op;
                fallBacks += request != key;
            }
        } else {
            bool narrower = false;
            const f32* exact = values.GetExact(key, nullptr, &narrower);
            const auto it = model.m_values.find(fields);
            ASSERT_EQ(exact != nullptr, it != model.m_values.end()) << "op " << op;
            if (exact) {
                ASSERT_EQ(*exact, it->second);
            }
            const u32 depth = FlatModel::Depth(fields);
            bool modelNarrower = false;
            for (const auto& [stored, value] : model.m_values)
                modelNarrower = modelNarrower || (FlatModel::Depth(stored) > depth &&
                                                  FlatModel::SamePrefix(stored, fields, depth) &&
                                                  model.LevelExists(fields, depth));
            ASSERT_EQ(narrower, modelNarrower) << "op " << op;
        }
        ASSERT_EQ(values.IsEmpty(), model.m_values.empty());
    }
    EXPECT_GT(fallBacks, 1000u); // the walk took the fall-back paths, not only exact hits
    for (const auto& [fields, value] : model.m_values)
        values.RemoveAt(FlatModel::ToKey(fields));
    EXPECT_TRUE(values.IsEmpty());
    EXPECT_EQ(Used(), m_usedAtStart); // every level freed as it emptied
}

} // namespace
