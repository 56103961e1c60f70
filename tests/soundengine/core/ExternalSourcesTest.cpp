#include "core/AuExternalSources.h"

#include <AU/MemoryMgr.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace {

class ExternalSourcesTest : public testing::Test {
protected:
    void SetUp() override {
        const AuMemoryMgrSettings settings{4};
        ASSERT_EQ(AU::MemoryMgr::Init(&settings), AuResultSuccess);
    }
    void TearDown() override {
        AU::MemoryMgr::Term();
        g_DefaultPoolId = -1;
    }
    u32 Used() {
        AU::MemoryMgr::PoolMemInfo info{};
        AU::MemoryMgr::GetPoolMemoryUsed(g_DefaultPoolId, info);
        return info.uUsed;
    }
};

TEST_F(ExternalSourcesTest, CopiesEntriesAndOwnsTheirNames) {
    g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 65536, 64, AuPoolAttrMalloc, 0);
    wchar_t first[] = L"voice_01.aum";
    wchar_t third[] = L"music.aum";
    static const char data[16] = {};
    const AuExternalSourceInfo sources[3] = {
        {11, 4, first, nullptr, 0, 0},
        {12, 1, nullptr, data, sizeof data, 0},
        {13, 2, third, nullptr, 0, 77},
    };
    AuExternalSourceArray* array = AuExternalSourceArray::Create(3, sources);
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(array->Count(), 3u);
    EXPECT_NE((*array)[0].szFile, first);
    EXPECT_STREQ((*array)[0].szFile, L"voice_01.aum");
    EXPECT_EQ((*array)[1].szFile, nullptr);
    EXPECT_EQ((*array)[1].pInMemory, data);
    EXPECT_EQ((*array)[1].uiMemorySize, 16u);
    EXPECT_STREQ((*array)[2].szFile, L"music.aum");
    EXPECT_EQ((*array)[2].idFile, 77u);
    EXPECT_EQ((*array)[2].iExternalSrcCookie, 13u);
    first[0] = L'X'; // the caller's buffers may go away
    EXPECT_STREQ((*array)[0].szFile, L"voice_01.aum");

    array->AddRef();
    array->Release();
    EXPECT_GT(Used(), 0u);
    EXPECT_STREQ((*array)[2].szFile, L"music.aum");
    array->Release(); // the last reference frees the names and the block
    EXPECT_EQ(Used(), 0u);
}

TEST_F(ExternalSourcesTest, AFailedNameCopyLeavesNothingBehind) {
    // Room for the array block but not for the long name after it.
    static std::wstring longName(700, L'n');
    g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 3208 + 200, 8, AuPoolAttrMalloc, 0);
    ASSERT_NE(g_DefaultPoolId, -1);
    const AuExternalSourceInfo sources[2] = {{1, 4, L"a.aum", nullptr, 0, 0},
                                             {2, 4, longName.c_str(), nullptr, 0, 0}};
    EXPECT_EQ(AuExternalSourceArray::Create(2, sources), nullptr);
    EXPECT_EQ(Used(), 0u);
    EXPECT_EQ(AuExternalSourceArray::Create(1, nullptr), nullptr); // entries promised, none given
}

TEST_F(ExternalSourcesTest, NoPoolNoArray) {
    const AuExternalSourceInfo source{1, 4, nullptr, nullptr, 0, 0};
    EXPECT_EQ(AuExternalSourceArray::Create(1, &source), nullptr);
}

} // namespace
