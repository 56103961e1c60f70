// The media table: media set by the game, held by banks and copied by preparation; who is handed
// out, and what keeps a bank's data alive while a source reads it.
#include "BankMgrSupport.h"

namespace banktest {
namespace {

class BankMediaTest : public BankMgrTest {
protected:
    void SetUp() override {
        BankMgrTest::SetUp();
        Start(false);
    }
    void TearDown() override {
        Stop();
        if (m_prepared != AU_INVALID_POOL_ID) AU::MemoryMgr::DestroyPool(m_prepared);
        BankMgrTest::TearDown();
    }
    void UsePreparedPool() {
        m_prepared = AU::MemoryMgr::CreatePool(nullptr, 1u << 20, 64, AuPoolAttrMalloc, 0);
        ASSERT_NE(m_prepared, AU_INVALID_POOL_ID);
        m_mgr->SetPreparedMediaPool(m_prepared);
    }
    void Load(const Bytes& bytes) {
        AuBankID id = 0;
        ASSERT_EQ(
            AU::SoundEngine::LoadBank(bytes.data(), static_cast<u32>(bytes.size()), g_DefaultPoolId, id),
            AuResultSuccess);
    }
    // The digest of what GetMedia hands out now, with the reference given back; 0 for nothing.
    u32 DigestOf(u32 mediaID, AuMediaHolder** outHolder = nullptr) {
        u32 size = 0;
        AuMediaHolder* holder = nullptr;
        const u8* data = m_mgr->GetMedia(mediaID, size, holder);
        const u32 digest = data ? Digest(data, size) : 0;
        if (outHolder) *outHolder = holder;
        if (data) m_mgr->ReleaseMedia(mediaID);
        m_mgr->ReleaseHolder(holder);
        return digest;
    }
    static u32 PatternDigest(size_t size, u32 seed) {
        const Bytes bytes = Pattern(size, seed);
        return Digest(bytes.data(), bytes.size());
    }

    AuMemPoolId m_prepared = AU_INVALID_POOL_ID;
};

TEST_F(BankMediaTest, ARefusedSettingLeavesTheTableAsItWas) {
    Load(MediaBank(1, {{0x77, 100}}));
    const u8 game[16] = {1, 2, 3};
    const i32 refs = m_mgr->MediaRefCount(0x77);
    const u32 entries = m_mgr->MediaEntryCount();
    const AuSourceSettings settings[] = {
        {0x77, game, sizeof(game)}, {0x78, game, sizeof(game)}, {0x79, game, 0}};
    EXPECT_EQ(AU::SoundEngine::SetMedia(settings, 3), AuResultFail);
    const AuSourceSettings nullData[] = {{0x77, nullptr, 4}};
    EXPECT_EQ(AU::SoundEngine::SetMedia(nullData, 1), AuResultFail);
    EXPECT_EQ(m_mgr->MediaRefCount(0x77), refs);
    EXPECT_EQ(m_mgr->MediaEntryCount(), entries);
    EXPECT_EQ(DigestOf(0x77), PatternDigest(100, 0x77));
    // The bank's entry outlives the refused calls and goes with the bank.
    EXPECT_EQ(AU::SoundEngine::UnloadBank(1u, nullptr), AuResultSuccess);
    EXPECT_EQ(m_mgr->MediaEntryCount(), 0u);
    EXPECT_EQ(AU::SoundEngine::SetMedia(settings, 0), AuResultSuccess);
    EXPECT_EQ(AU::SoundEngine::UnsetMedia(settings, 0), AuResultSuccess);
}

TEST_F(BankMediaTest, SetMediaIsFoundUntilUnset) {
    const u8 game[8] = {9, 8, 7, 6, 5, 4, 3, 2};
    const AuSourceSettings setting{0x90, game, sizeof(game)};
    ASSERT_EQ(AU::SoundEngine::SetMedia(&setting, 1), AuResultSuccess);
    u32 size = 0;
    AuMediaHolder* holder = nullptr;
    EXPECT_EQ(m_mgr->GetMedia(0x90, size, holder), game);
    EXPECT_EQ(size, sizeof(game));
    ASSERT_NE(holder, nullptr);
    EXPECT_FALSE(holder->stateFlags & AuMediaHolder::kIsBank);
    m_mgr->ReleaseMedia(0x90);
    m_mgr->ReleaseHolder(holder);
    EXPECT_EQ(AU::SoundEngine::UnsetMedia(&setting, 1), AuResultSuccess);
    EXPECT_EQ(m_mgr->MediaEntryCount(), 0u);
    EXPECT_EQ(m_mgr->GetMedia(0x90, size, holder), nullptr);
    EXPECT_EQ(size, 0u);
}

TEST_F(BankMediaTest, TheFirstRegisteredBankIsHandedOutThenTheOtherAfterItUnloads) {
    Load(MediaBank(1, {{0x77, 100}}, 10));
    Load(MediaBank(2, {{0x77, 100}}, 20));
    AuMediaHolder* holder = nullptr;
    EXPECT_EQ(DigestOf(0x77, &holder), PatternDigest(100, 10 + 0x77));
    EXPECT_EQ(holder, m_mgr->FindBank(1, nullptr));
    ASSERT_EQ(AU::SoundEngine::UnloadBank(1u, nullptr), AuResultSuccess);
    EXPECT_EQ(DigestOf(0x77, &holder), PatternDigest(100, 20 + 0x77));
    EXPECT_EQ(holder, m_mgr->FindBank(2, nullptr));
}

TEST_F(BankMediaTest, APreparedCopyWinsOverBankData) {
    UsePreparedPool();
    FakeStreamMgr streams;
    streams.file = MediaBank(3, {{0x77, 100}, {0x78, 50}}, 30);
    Load(MediaBank(1, {{0x77, 100}}, 10));
    ASSERT_EQ(AU::SoundEngine::PrepareBank(AuPreparation_Load, 3u), AuResultSuccess);
    AuMediaHolder* holder = nullptr;
    // Copied from the loaded bank that holds it; read from the prepared bank's file otherwise.
    EXPECT_EQ(DigestOf(0x77, &holder), PatternDigest(100, 10 + 0x77));
    EXPECT_EQ(holder, nullptr);
    EXPECT_EQ(DigestOf(0x78, &holder), PatternDigest(50, 30 + 0x78));
    EXPECT_EQ(holder, nullptr);
    ASSERT_EQ(AU::SoundEngine::UnloadBank(1u, nullptr), AuResultSuccess);
    EXPECT_EQ(DigestOf(0x77), PatternDigest(100, 10 + 0x77)) << "the copy stays while prepared";
    ASSERT_EQ(AU::SoundEngine::PrepareBank(AuPreparation_Unload, 3u), AuResultSuccess);
    EXPECT_EQ(m_mgr->MediaEntryCount(), 0u);
    EXPECT_EQ(m_mgr->BankCount(), 0u);
}

TEST_F(BankMediaTest, PreparingMediaWithoutAPreparedPoolGives52) {
    FakeStreamMgr streams;
    streams.file = MediaBank(3, {{0x77, 100}});
    EXPECT_EQ(AU::SoundEngine::PrepareBank(AuPreparation_Load, 3u), AuResultNoMemory);
    EXPECT_EQ(m_mgr->BankCount(), 0u);
    EXPECT_EQ(m_mgr->MediaEntryCount(), 0u);
    EXPECT_EQ(m_mgr->LoadMedia(CAuBankMgr::MediaLoad{0x77, 3, 0, 100, 0, nullptr, 0}), AuResultNoMemory);
    EXPECT_EQ(m_mgr->MediaEntryCount(), 0u);
}

TEST_F(BankMediaTest, ABankUnloadedWhileItsMediaAreHeldFinishesOnlyWhenTheyAreGivenBack) {
    Load(MediaBank(1, {{0x77, 100}}));
    const u32 pools = NumPools();
    u32 size = 0;
    AuMediaHolder* holder = nullptr;
    const u8* data = m_mgr->GetMedia(0x77, size, holder);
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(holder, m_mgr->FindBank(1, nullptr));
    Completions completions;
    ASSERT_EQ(AU::SoundEngine::UnloadBank(1u, nullptr, &Completions::Record, &completions), AuResultSuccess);
    // The message ran, yet the data stays for the source that reads it.
    EXPECT_EQ(m_stopper.stopped, std::vector<u32>{1});
    EXPECT_TRUE(completions.Calls().empty());
    EXPECT_EQ(Digest(data, size), PatternDigest(100, 0x77));
    // A holder being unloaded is never handed out.
    AuMediaHolder* other = nullptr;
    EXPECT_EQ(m_mgr->GetMedia(0x77, size, other), nullptr);
    EXPECT_EQ(size, 0u);
    m_mgr->ReleaseMedia(0x77);
    m_mgr->ReleaseHolder(holder);
    ASSERT_EQ(completions.Calls().size(), 1u);
    EXPECT_EQ(completions.Calls()[0].id, 1u);
    EXPECT_EQ(m_mgr->MediaEntryCount(), 0u);
    EXPECT_EQ(NumPools(), pools);
}

TEST_F(BankMediaTest, DeferredMediaAreReadInFileOrder) {
    UsePreparedPool();
    FakeStreamMgr streams;
    streams.file = Pattern(4096);
    m_mgr->SetPreparing(true);
    for (const auto& [media, file, offset] : {std::tuple{0xA1u, 5u, 300u}, std::tuple{0xA2u, 2u, 700u},
                                              std::tuple{0xA3u, 5u, 100u}, std::tuple{0xA4u, 2u, 50u}})
        ASSERT_EQ(m_mgr->LoadMedia(CAuBankMgr::MediaLoad{media, file, offset, 64, 0, nullptr, 0}),
                  AuResultSuccess);
    m_mgr->SetPreparing(false);
    EXPECT_EQ(m_mgr->MediaEntryCount(), 0u) << "nothing is read before the pass";
    ASSERT_EQ(m_mgr->LoadDeferredMedia(), AuResultSuccess);
    std::vector<std::string> opens;
    for (const std::string& line : streams.log)
        if (line.rfind("open", 0) == 0) opens.push_back(line.substr(0, line.find(" flags")));
    EXPECT_EQ(opens, (std::vector<std::string>{"open id 2", "open id 2", "open id 5", "open id 5"}));
    std::vector<std::string> seeks;
    for (const std::string& line : streams.log)
        if (line.rfind("seek", 0) == 0) seeks.push_back(line);
    EXPECT_EQ(seeks, (std::vector<std::string>{"seek 50", "seek 700", "seek 100", "seek 300"}));
    u32 size = 0;
    AuMediaHolder* holder = nullptr;
    const u8* data = m_mgr->GetMedia(0xA2, size, holder);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(memcmp(data, streams.file.data() + 700, 64), 0);
    m_mgr->ReleaseMedia(0xA2);
    for (u32 media : {0xA1u, 0xA2u, 0xA3u, 0xA4u})
        m_mgr->UnloadMedia(media);
    EXPECT_EQ(m_mgr->MediaEntryCount(), 0u);
}

TEST_F(BankMediaTest, AShortReadOfPreparedMediaGives2AndTakesItsReferenceBack) {
    UsePreparedPool();
    FakeStreamMgr streams;
    streams.file = Pattern(1000);
    EXPECT_EQ(m_mgr->LoadMedia(CAuBankMgr::MediaLoad{0xB1, 7, 900, 200, 0, nullptr, 0}), AuResultFail);
    EXPECT_EQ(m_mgr->MediaEntryCount(), 0u);
    streams.missing = true;
    EXPECT_EQ(m_mgr->LoadMedia(CAuBankMgr::MediaLoad{0xB1, 7, 10, 20, 0, nullptr, 0}), AuResultFileNotFound);
    EXPECT_EQ(m_mgr->MediaEntryCount(), 0u);
}

TEST_F(BankMediaTest, ReleasingOneMediaEntryTellsWhetherItRemains) {
    const u8 game[4] = {1, 2, 3, 4};
    const AuSourceSettings setting{0xC1, game, sizeof(game)};
    ASSERT_EQ(AU::SoundEngine::SetMedia(&setting, 1), AuResultSuccess);
    ASSERT_EQ(AU::SoundEngine::SetMedia(&setting, 1), AuResultSuccess);
    Completions completions;
    AuBankRequest request{};
    request.kind = AuBankRequest_ReleaseMedia;
    request.bankID = 0xC1;
    request.callback = &Completions::Record;
    request.cookie = &completions;
    EXPECT_EQ(m_mgr->QueueBankRequest(request), AuResultFail);
    EXPECT_EQ(m_mgr->QueueBankRequest(request), AuResultSuccess);
    EXPECT_EQ(m_mgr->MediaEntryCount(), 0u);
    ASSERT_EQ(completions.Calls().size(), 2u);
    EXPECT_EQ(completions.Calls()[0].result, AuResultFail);
    EXPECT_EQ(completions.Calls()[1].result, AuResultSuccess);
}

} // namespace
} // namespace banktest
