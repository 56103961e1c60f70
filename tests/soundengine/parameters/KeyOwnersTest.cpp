#include "parameters/AuKeyedParamIds.h"

#include <AuDefaultPoolTest.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

char g_object;
char g_instance;
CAuRegisteredObj* const kObject = reinterpret_cast<CAuRegisteredObj*>(&g_object);
CAuPlaybackInstance* const kInstance = reinterpret_cast<CAuPlaybackInstance*>(&g_instance);

// One kind of owner: answers for keys naming its owner, records what it was asked.
class RecordingDirectory : public IAuKeyOwnerDirectory {
public:
    explicit RecordingDirectory(AuKeyOwnerKind kind) : m_kind(kind) { AuKeyOwners::SetDirectory(kind, this); }
    ~RecordingDirectory() { AuKeyOwners::SetDirectory(m_kind, nullptr); }

    AuKeyedParamIds* FindParamIds(const AuRTPCKey& key) override {
        asked.push_back(key);
        const bool mine = m_kind == AuKeyOwnerKind_Instance    ? key.pInstance == kInstance
                          : m_kind == AuKeyOwnerKind_PlayingID ? key.playingID == 7
                                                               : key.pGameObj == kObject;
        return mine ? &ids : nullptr;
    }

    std::vector<u32> ParamIDs() const { return {ids.ParamIDs().begin(), ids.ParamIDs().end()}; }

    AuKeyedParamIds ids;
    std::vector<AuRTPCKey> asked;

private:
    AuKeyOwnerKind m_kind;
};

class KeyOwnersTest : public AuDefaultPoolTest {
protected:
    void TearDown() override {
        objects.ids.Term();
        playings.ids.Term();
        instances.ids.Term();
        AuDefaultPoolTest::TearDown();
    }
    RecordingDirectory objects{AuKeyOwnerKind_GameObject};
    RecordingDirectory playings{AuKeyOwnerKind_PlayingID};
    RecordingDirectory instances{AuKeyOwnerKind_Instance};
};

TEST_F(KeyOwnersTest, TheNarrowestOwnerInTheKeyKeepsTheID) {
    AuRTPCKey key(kObject);
    key.playingID = 7;
    key.pInstance = kInstance;
    EXPECT_EQ(AuKeyOwners::RegisterParamID(30, key), AuResultSuccess);
    EXPECT_EQ(instances.ParamIDs(), std::vector<u32>{30});
    key.pInstance = nullptr;
    EXPECT_EQ(AuKeyOwners::RegisterParamID(20, key), AuResultSuccess);
    EXPECT_EQ(playings.ParamIDs(), std::vector<u32>{20});
    key.playingID = 0;
    EXPECT_EQ(AuKeyOwners::RegisterParamID(10, key), AuResultSuccess);
    EXPECT_EQ(objects.ParamIDs(), std::vector<u32>{10});
    EXPECT_EQ(instances.ParamIDs(), std::vector<u32>{30});
    EXPECT_EQ(playings.ParamIDs(), std::vector<u32>{20});

    const size_t askedBefore = objects.asked.size() + playings.asked.size() + instances.asked.size();
    EXPECT_EQ(AuKeyOwners::RegisterParamID(40, AuRTPCKey{}), AuResultSuccess); // the global key: nowhere
    EXPECT_EQ(objects.asked.size() + playings.asked.size() + instances.asked.size(), askedBefore);

    AuRTPCKey midiOnly(kObject);
    midiOnly.midiTargetID = 99;
    midiOnly.midiChannel = 3;
    EXPECT_EQ(AuKeyOwners::RegisterModulatorID(50, midiOnly), AuResultSuccess); // no narrower owner field
    EXPECT_EQ(objects.ids.ModulatorIDs().Count(), 1u);
    EXPECT_EQ(objects.ids.ModulatorIDs()[0], 50u);
    EXPECT_EQ(objects.ids.ParamIDs().Count(), 1u);
}

TEST_F(KeyOwnersTest, AnUnknownOwnerOrAMissingDirectoryKeepsNothing) {
    AuRTPCKey other(reinterpret_cast<CAuRegisteredObj*>(&g_instance));
    EXPECT_EQ(AuKeyOwners::RegisterParamID(10, other), AuResultSuccess);
    EXPECT_EQ(objects.asked.size(), 1u);
    EXPECT_EQ(objects.ids.ParamIDs().Count(), 0u);
    AuKeyOwners::SetDirectory(AuKeyOwnerKind_GameObject, nullptr);
    EXPECT_EQ(AuKeyOwners::RegisterParamID(10, AuRTPCKey(kObject)), AuResultSuccess);
    EXPECT_EQ(objects.asked.size(), 1u);
    AuKeyOwners::SetDirectory(AuKeyOwnerKind_GameObject, &objects);
}

TEST_F(KeyOwnersTest, IDsStaySortedWithoutDuplicates) {
    for (u32 id : {5u, 1u, 9u, 5u, 3u, 9u, 0xFFFFFFFFu, 0u})
        ASSERT_EQ(objects.ids.AddParamID(id), AuResultSuccess);
    EXPECT_EQ(objects.ParamIDs(), (std::vector<u32>{0, 1, 3, 5, 9, 0xFFFFFFFFu}));
    EXPECT_EQ(objects.ids.ModulatorIDs().Count(), 0u);
    objects.ids.Term();
    EXPECT_EQ(Used(), m_usedAtStart);
}

class KeyOwnersMemoryTest : public AuDefaultPoolTest {
protected:
    KeyOwnersMemoryTest() : AuDefaultPoolTest(4096) {}
};

TEST_F(KeyOwnersMemoryTest, WithoutMemoryTheIDsAreUnchanged) {
    AuKeyedParamIds ids;
    u32 id = 0;
    AURESULT result = AuResultSuccess;
    while ((result = ids.AddParamID(1000 - id)) == AuResultSuccess)
        ++id;
    EXPECT_EQ(result, AuResultNoMemory);
    ASSERT_EQ(ids.ParamIDs().Count(), id);
    for (u32 i = 0; i < id; ++i)
        ASSERT_EQ(ids.ParamIDs()[i], 1000 - id + 1 + i);
    EXPECT_EQ(ids.AddParamID(1000), AuResultSuccess); // held already: nothing to allocate
}

} // namespace
