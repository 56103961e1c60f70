// Loading and unloading through the bank exports, with the plain manager and the threaded one:
// the bank list, pools, the unload's completion on the audio side, preparation and clearing.
#include "BankMgrSupport.h"

#include "core/AuThreads.h"
#include "parameters/AuRTPCMgr.h"

namespace banktest {
namespace {

class BankMgrBothTest : public BankMgrTest, public testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        BankMgrTest::SetUp();
        Start(GetParam());
    }
};

INSTANTIATE_TEST_SUITE_P(Managers, BankMgrBothTest, testing::Bool(),
                         [](const auto& info) { return info.param ? "Threaded" : "Plain"; });

TEST_P(BankMgrBothTest, LoadingTwiceGives69AndKeepsOneRecord) {
    const Bytes bytes = MediaBank(0x1111, {{0x77, 100}});
    AuBankID id = 0;
    ASSERT_EQ(AU::SoundEngine::LoadBank(bytes.data(), static_cast<u32>(bytes.size()), g_DefaultPoolId, id),
              AuResultSuccess);
    EXPECT_EQ(id, 0x1111u);
    EXPECT_EQ(AU::SoundEngine::LoadBank(bytes.data(), static_cast<u32>(bytes.size()), g_DefaultPoolId, id),
              AuResultBankAlreadyLoaded);
    Completions again;
    EXPECT_EQ(AU::SoundEngine::LoadBank(bytes.data(), static_cast<u32>(bytes.size()), &Completions::Record,
                                        &again, g_DefaultPoolId, id),
              AuResultSuccess);
    Flush();
    ASSERT_EQ(again.Calls().size(), 1u);
    EXPECT_EQ(again.Calls()[0].result, AuResultBankAlreadyLoaded);
    EXPECT_EQ(again.Calls()[0].pool, g_DefaultPoolId);
    EXPECT_EQ(m_mgr->BankCount(), 1u);
    EXPECT_EQ(AU::SoundEngine::UnloadBank(0x1111u, nullptr), AuResultSuccess);
    EXPECT_EQ(m_mgr->BankCount(), 0u);
    EXPECT_EQ(m_mgr->MediaEntryCount(), 0u);
}

TEST_P(BankMgrBothTest, AnImageInPlaceAtTwoAddressesMakesTwoRecords) {
    const Bytes bytes = MediaBank(0x2222, {{0x77, 64}});
    const Image first(bytes), second(bytes);
    AuBankID id = 0;
    ASSERT_EQ(AU::SoundEngine::LoadBank(first.data(), first.size(), id), AuResultSuccess);
    ASSERT_EQ(AU::SoundEngine::LoadBank(second.data(), second.size(), id), AuResultSuccess);
    EXPECT_EQ(m_mgr->BankCount(), 2u);
    // The media lie where the images are: the first registered is handed out.
    u32 size = 0;
    AuMediaHolder* holder = nullptr;
    const u8* media = m_mgr->GetMedia(0x77, size, holder);
    EXPECT_GE(media, static_cast<const u8*>(first.data()));
    EXPECT_LT(media, static_cast<const u8*>(first.data()) + first.size());
    EXPECT_EQ(size, 64u);
    m_mgr->ReleaseMedia(0x77);
    m_mgr->ReleaseHolder(holder);
    // Unloading names the image: the other record stays.
    EXPECT_EQ(AU::SoundEngine::UnloadBank(0x2222u, first.data()), AuResultSuccess);
    EXPECT_EQ(m_mgr->BankCount(), 1u);
    EXPECT_NE(m_mgr->FindBank(0x2222, second.data()), nullptr);
    EXPECT_EQ(AU::SoundEngine::UnloadBank(0x2222u, nullptr), AuResultBankNotLoaded);
    EXPECT_EQ(AU::SoundEngine::UnloadBank(0x2222u, second.data()), AuResultSuccess);
}

TEST_P(BankMgrBothTest, AnInPlaceImageTooShortOrMisalignedIsRefusedBeforeQueueing) {
    const Bytes bytes = MediaBank(0x3333, {{0x77, 64}});
    const Image aligned(bytes), misaligned(bytes, 4);
    Completions completions;
    AuBankID id = 0;
    EXPECT_EQ(AU::SoundEngine::LoadBank(aligned.data(), 27, id), AuResultInvalidParameter);
    EXPECT_EQ(AU::SoundEngine::LoadBank(misaligned.data(), misaligned.size(), &Completions::Record,
                                        &completions, id),
              AuResultInvalidParameter);
    EXPECT_EQ(id, 0x3333u) << "the ID is read before the checks";
    EXPECT_EQ(AU::SoundEngine::LoadBank(static_cast<const void*>(nullptr), 100, id),
              AuResultInvalidParameter);
    EXPECT_EQ(id, 0u);
    Flush();
    EXPECT_TRUE(completions.Calls().empty());
    EXPECT_EQ(m_mgr->BankCount(), 0u);
}

TEST_P(BankMgrBothTest, UnloadingAnUnknownBankGives54AndAPreparedOnlyBank2) {
    FakeStreamMgr streams;
    streams.file = MediaBank(0x4444, {{0x77, 64}});
    EXPECT_EQ(AU::SoundEngine::UnloadBank(0x4444u, nullptr), AuResultBankNotLoaded);
    ASSERT_EQ(AU::SoundEngine::PrepareBank(AuPreparation_Load, 0x4444u, AuBankContent_StructureOnly),
              AuResultSuccess);
    EXPECT_EQ(AU::SoundEngine::UnloadBank(0x4444u, nullptr), AuResultFail);
    EXPECT_EQ(m_mgr->BankCount(), 1u);
    EXPECT_EQ(AU::SoundEngine::PrepareBank(AuPreparation_Unload, 0x4444u), AuResultSuccess);
    EXPECT_EQ(m_mgr->BankCount(), 0u);
}

TEST_P(BankMgrBothTest, PoolMinusOneMakesAPoolOfExactlyTheDataAndDestroysItAtUnload) {
    const Bytes bytes = MediaBank(0x5555, {{0x71, 1000}, {0x72, 3000}});
    Flush(); // the callback table has its first row
    const u32 pools = NumPools();
    const u32 used = Used();
    AuBankID id = 0;
    ASSERT_EQ(AU::SoundEngine::LoadBank(bytes.data(), static_cast<u32>(bytes.size()), AU_INVALID_POOL_ID, id),
              AuResultSuccess);
    const CAuLoadedBank* bank = m_mgr->FindBank(id, nullptr);
    ASSERT_NE(bank, nullptr);
    EXPECT_EQ(NumPools(), pools + 1);
    ASSERT_NE(bank->poolID, AU_INVALID_POOL_ID);
    EXPECT_EQ(AU::MemoryMgr::GetBlockSize(bank->poolID), bank->uDataSize);
    EXPECT_GE(bank->uDataSize, 4000u);
    EXPECT_LT(bank->uDataSize, 4100u);
    AU::MemoryMgr::PoolMemInfo info{};
    AU::MemoryMgr::GetPoolMemoryUsed(bank->poolID, info);
    EXPECT_EQ(info.uUsed, bank->uDataSize);
    AuMemPoolId unloadedFrom = 0;
    EXPECT_EQ(AU::SoundEngine::UnloadBank(id, nullptr, &unloadedFrom), AuResultSuccess);
    EXPECT_NE(unloadedFrom, AU_INVALID_POOL_ID);
    EXPECT_EQ(NumPools(), pools);
    EXPECT_EQ(Used(), used);
}

TEST_P(BankMgrBothTest, DataShorterThanDeclaredGives7AndLeavesNothingBehind) {
    const Bytes bytes = Cut(MediaBank(0x6666, {{0x71, 1000}}), 10);
    Flush(); // the callback table has its first row
    const u32 pools = NumPools();
    const u32 used = Used();
    AuBankID id = 0;
    EXPECT_EQ(AU::SoundEngine::LoadBank(bytes.data(), static_cast<u32>(bytes.size()), AU_INVALID_POOL_ID, id),
              AuResultBadHeader);
    EXPECT_EQ(m_mgr->BankCount(), 0u);
    EXPECT_EQ(m_mgr->MediaEntryCount(), 0u);
    EXPECT_EQ(NumPools(), pools);
    EXPECT_EQ(Used(), used);
}

TEST_P(BankMgrBothTest, MissingFilesGive66) {
    FakeStreamMgr streams;
    streams.missing = true;
    EXPECT_EQ(AU::SoundEngine::LoadBank(0x7777u, g_DefaultPoolId), AuResultFileNotFound);
    AuBankID id = 0;
    EXPECT_EQ(AU::SoundEngine::LoadBank("Missing.bnk", g_DefaultPoolId, id), AuResultFileNotFound);
    EXPECT_EQ(id, AU::SoundEngine::GetIDFromString("Missing"));
    EXPECT_EQ(m_mgr->BankCount(), 0u);
}

TEST_P(BankMgrBothTest, ANameWithOrWithoutExtensionLoadsTheSameBankFromItsFile) {
    FakeStreamMgr streams;
    const u32 torvik = AU::SoundEngine::GetIDFromString("Torvik");
    streams.file = MediaBank(torvik, {{0x77, 64}});
    AuBankID first = 0, second = 0;
    ASSERT_EQ(AU::SoundEngine::LoadBank("Torvik", g_DefaultPoolId, first), AuResultSuccess);
    EXPECT_EQ(AU::SoundEngine::LoadBank("Torvik.bnk", g_DefaultPoolId, second), AuResultBankAlreadyLoaded);
    EXPECT_EQ(first, torvik);
    EXPECT_EQ(second, torvik);
    EXPECT_EQ(streams.log.front().rfind("open name Torvik.bnk", 0), 0u) << streams.log.front();
    EXPECT_EQ(AU::SoundEngine::UnloadBank("Torvik.bnk", nullptr), AuResultSuccess);
}

TEST_P(BankMgrBothTest, KindsWithoutAHandlerDoNothingAndNeverCallBack) {
    Completions completions;
    for (u32 kind : {9u, 11u, 12u, 0xFFFFFFFFu}) {
        AuBankRequest request{};
        request.kind = kind;
        request.callback = &Completions::Record;
        request.cookie = &completions;
        EXPECT_EQ(m_mgr->QueueBankRequest(request), AuResultSuccess) << kind;
    }
    Flush();
    EXPECT_TRUE(completions.Calls().empty());
    if (GetParam()) {
        EXPECT_EQ(Threaded().Callbacks().CookieCount(), 0u) << "no use of the cookie is left counted";
    }
}

TEST_P(BankMgrBothTest, ASynchronousUnloadReturnsAfterTheAudioSideRanItsMessageAndACallbackComesOnce) {
    const Bytes bytes = MediaBank(0x8888, {{0x77, 64}});
    AuBankID id = 0;
    ASSERT_EQ(AU::SoundEngine::LoadBank(bytes.data(), static_cast<u32>(bytes.size()), g_DefaultPoolId, id),
              AuResultSuccess);
    const u64 before = m_audio->ExecutedMsgCount();
    EXPECT_EQ(AU::SoundEngine::UnloadBank(id, nullptr), AuResultSuccess);
    EXPECT_GT(m_audio->ExecutedMsgCount(), before);
    EXPECT_EQ(m_stopper.stopped, std::vector<u32>{0x8888});

    ASSERT_EQ(AU::SoundEngine::LoadBank(bytes.data(), static_cast<u32>(bytes.size()), g_DefaultPoolId, id),
              AuResultSuccess);
    Completions completions;
    EXPECT_EQ(AU::SoundEngine::UnloadBank(id, nullptr, &Completions::Record, &completions), AuResultSuccess);
    Flush();
    ASSERT_EQ(completions.Calls().size(), 1u);
    EXPECT_EQ(completions.Calls()[0].id, 0x8888u);
    EXPECT_EQ(completions.Calls()[0].result, AuResultSuccess);
    EXPECT_EQ(completions.Calls()[0].pool, g_DefaultPoolId);
}

TEST_P(BankMgrBothTest, AnUnloadIntoAFullRingWithoutAnAudioThreadRunsThePassItself) {
    const Bytes bytes = MediaBank(0x8989, {{0x77, 64}});
    AuBankID id = 0;
    ASSERT_EQ(AU::SoundEngine::LoadBank(bytes.data(), static_cast<u32>(bytes.size()), g_DefaultPoolId, id),
              AuResultSuccess);
    // Fill the ring with messages no one handles until the next one would not fit.
    constexpr u32 kSize = 64;
    while (m_audio->PendingBytes() + 2 * kSize < m_audio->Capacity()) {
        AuQueuedMsg* msg = m_audio->ReserveQueue(AuQueuedMsgType_StopAll, kSize);
        ASSERT_NE(msg, nullptr);
        m_audio->PublishMsg(msg);
    }
    EXPECT_EQ(AU::SoundEngine::UnloadBank(id, nullptr), AuResultSuccess);
    EXPECT_EQ(m_stopper.stopped, std::vector<u32>{0x8989});
    EXPECT_EQ(m_mgr->BankCount(), 0u);
    Flush(); // the threaded caller may wake while the bank thread's pass ends its frame
    EXPECT_TRUE(m_audio->IsEmpty());
}

// A bank both prepared and loaded is unloaded, then loaded again before the audio side has run the
// unload's message. The late message finishes the old load only: it stops what plays the old data
// and frees that, while the new load keeps its data and stays loaded; nothing is left over.
TEST_P(BankMgrBothTest, AReloadBeforeThePendingUnloadRunsKeepsTheNewLoad) {
    constexpr u32 kBank = 0xA1A1;
    FakeStreamMgr streams;
    streams.file = MediaBank(kBank, {{0x77, 100}});
    const AuMemPoolId prepared = AU::MemoryMgr::CreatePool(nullptr, 1u << 16, 64, AuPoolAttrMalloc, 0);
    ASSERT_NE(prepared, AU_INVALID_POOL_ID);
    m_mgr->SetPreparedMediaPool(prepared);
    // The audio thread's pass, run here once it may.
    const auto audioPass = [&] {
        m_audio->SetAudioThreadId(0);
        CAuMainLock lock;
        m_audio->ProcessMsgQueue();
    };
    // An audio thread that has not run since: an unload's message waits in the ring.
    const auto holdAudio = [&] { m_audio->SetAudioThreadId(GetCurrentThreadId() + 1); };
    // A first load from the file, and an unload pending while a synchronous request runs, make
    // what every later one reuses (the reader's buffer, the callback table's rows).
    {
        ASSERT_EQ(AU::SoundEngine::LoadBank(kBank, g_DefaultPoolId), AuResultSuccess);
        holdAudio();
        Completions unloaded;
        ASSERT_EQ(AU::SoundEngine::UnloadBank(kBank, nullptr, &Completions::Record, &unloaded),
                  AuResultSuccess);
        Flush();
        audioPass();
        ASSERT_EQ(unloaded.Calls().size(), 1u);
    }
    const u32 used = Used();
    for (const AuBankContent content : {AuBankContent_StructureOnly, AuBankContent_All}) {
        SCOPED_TRACE(content == AuBankContent_All ? "with media" : "structure only");
        m_stopper.stopped.clear();
        m_stopper.stoppedData.clear();
        ASSERT_EQ(AU::SoundEngine::PrepareBank(AuPreparation_Load, kBank, content), AuResultSuccess);
        ASSERT_EQ(AU::SoundEngine::LoadBank(kBank, g_DefaultPoolId), AuResultSuccess);
        const u8* oldData = m_mgr->FindBank(kBank, nullptr)->pData;
        const i32 refs = m_mgr->MediaRefCount(0x77);

        holdAudio();
        Completions unloaded;
        ASSERT_EQ(AU::SoundEngine::UnloadBank(kBank, nullptr, &Completions::Record, &unloaded),
                  AuResultSuccess);
        ASSERT_EQ(AU::SoundEngine::LoadBank(kBank, g_DefaultPoolId), AuResultSuccess);
        Flush();
        EXPECT_TRUE(unloaded.Calls().empty());
        EXPECT_TRUE(m_stopper.stopped.empty());

        audioPass();
        ASSERT_EQ(unloaded.Calls().size(), 1u);
        EXPECT_EQ(unloaded.Calls()[0].result, AuResultSuccess);
        EXPECT_EQ(m_stopper.stoppedData, std::vector<const u8*>{oldData}) << "only the old data is stopped";
        const CAuLoadedBank* bank = m_mgr->FindBank(kBank, nullptr);
        ASSERT_NE(bank, nullptr);
        EXPECT_TRUE(bank->flags & CAuLoadedBank::kLoaded);
        ASSERT_NE(bank->pData, nullptr);
        EXPECT_EQ(bank->loadCount.load(), 1);
        EXPECT_EQ(bank->prepareCount.load(), 1);
        EXPECT_EQ(m_mgr->MediaRefCount(0x77), refs);
        u32 size = 0;
        AuMediaHolder* holder = nullptr;
        const u8* media = m_mgr->GetMedia(0x77, size, holder);
        ASSERT_NE(media, nullptr);
        EXPECT_EQ(Digest(media, size), Digest(Pattern(100, 0x77).data(), 100));
        if (content == AuBankContent_StructureOnly) {
            EXPECT_EQ(holder, bank);
            EXPECT_GE(media, bank->pData);
            EXPECT_LT(media, bank->pData + bank->uDataSize);
        }
        m_mgr->ReleaseMedia(0x77);
        m_mgr->ReleaseHolder(holder);

        EXPECT_EQ(AU::SoundEngine::UnloadBank(kBank, nullptr), AuResultSuccess);
        EXPECT_EQ(AU::SoundEngine::PrepareBank(AuPreparation_Unload, kBank), AuResultSuccess);
        Flush();
        EXPECT_EQ(m_mgr->BankCount(), 0u);
        EXPECT_EQ(m_mgr->MediaEntryCount(), 0u);
        EXPECT_EQ(Used(), used) << "nothing of either load is kept";
        AU::MemoryMgr::PoolMemInfo info{};
        AU::MemoryMgr::GetPoolMemoryUsed(prepared, info);
        EXPECT_EQ(info.uUsed, 0u);
    }
    m_mgr->SetPreparedMediaPool(AU_INVALID_POOL_ID);
    AU::MemoryMgr::DestroyPool(prepared);
}

TEST_P(BankMgrBothTest, ClearBanksUnloadsInTheReverseOrderOfCollection) {
    // IDs 1, 2 and 3 fall in buckets 1, 2 and 3: collected in that order.
    std::vector<Bytes> banks;
    for (u32 id : {2u, 3u, 1u}) {
        banks.push_back(MediaBank(id, {{0x70 + id, 32}}));
        AuBankID out = 0;
        ASSERT_EQ(AU::SoundEngine::LoadBank(banks.back().data(), static_cast<u32>(banks.back().size()),
                                            g_DefaultPoolId, out),
                  AuResultSuccess);
    }
    EXPECT_EQ(AU::SoundEngine::ClearBanks(), AuResultSuccess);
    EXPECT_EQ(m_stopper.stopped, (std::vector<u32>{3, 2, 1}));
    EXPECT_EQ(m_mgr->BankCount(), 0u);
}

TEST_P(BankMgrBothTest, LoadIOSettingsOutOfRangeGive31AndAreKept) {
    ASSERT_EQ(AU::SoundEngine::SetBankLoadIOSettings(2000.0f, 70), AuResultSuccess);
    EXPECT_EQ(AU::SoundEngine::SetBankLoadIOSettings(2000.0f, 101), AuResultInvalidParameter);
    EXPECT_EQ(AU::SoundEngine::SetBankLoadIOSettings(-1.0f, 10), AuResultInvalidParameter);
    FakeStreamMgr streams;
    streams.file = MediaBank(0x9999, {{0x77, 64}});
    ASSERT_EQ(AU::SoundEngine::LoadBank(0x9999u, g_DefaultPoolId), AuResultSuccess);
    const auto read = std::find_if(streams.log.begin(), streams.log.end(),
                                   [](const std::string& line) { return line.rfind("read", 0) == 0; });
    ASSERT_NE(read, streams.log.end());
    EXPECT_NE(read->find("priority 70"), std::string::npos) << *read;
}

TEST_P(BankMgrBothTest, BankNamesOfTheGameAndOfTheBanksReachTheFileNameTable) {
    FakeStreamMgr streams;
    streams.file = FullBank(0x50C63A23); // its "STID" names 0x50C63A23 "Init"
    ASSERT_EQ(AU::SoundEngine::LoadBank(0x50C63A23u, g_DefaultPoolId), AuResultSuccess);
    char name[64];
    ASSERT_TRUE(m_mgr->FileNames().GetBankFileName(0x50C63A23, name, sizeof(name)));
    EXPECT_STREQ(name, "Init.bnk");
    AuBankID id = 0;
    Completions named;
    EXPECT_EQ(AU::SoundEngine::LoadBank("Other.ext", &Completions::Record, &named, g_DefaultPoolId, id),
              AuResultSuccess);
    Flush();
    ASSERT_TRUE(m_mgr->FileNames().GetBankFileName(id, name, sizeof(name)));
    EXPECT_STREQ(name, "Other.bnk");
}

// An unload posted from inside passes nested as deep as they go, into a full ring: no record can
// be had, so it finishes there and then, and says so.
class FullRingUnloadTest : public BankMgrTest {
protected:
    static constexpr u16 kSelfPost = AuQueuedMsgType_SetSwitch;
    static constexpr u16 kPlain = AuQueuedMsgType_ResetRTPC; // no handler: consumed, never run
    static constexpr u32 kBank = 0x8A8A;

    void SetUp() override {
        BankMgrTest::SetUp();
        Start(false, CAuAudioMgr::kMinQueueSize);
    }
    bool Post(u16 type, u32 size) {
        AuQueuedMsg* msg = m_audio->ReserveQueue(type, size);
        if (msg) m_audio->PublishMsg(msg);
        return msg != nullptr;
    }
    // Each record posts the largest record the ring takes; a full ring nests a pass that runs
    // the next record. Where that post is refused, the ring is filled to its last byte and the
    // bank unloaded.
    static void SelfPost(void* context, const AuQueuedMsg&) {
        auto* self = static_cast<FullRingUnloadTest*>(context);
        if (self->Post(kPlain, 120) || self->m_unloadResult != AuResultNotImplemented) return;
        while (self->Post(kPlain, sizeof(AuQueuedMsg))) {
        }
        self->m_unloadResult =
            AU::SoundEngine::UnloadBank(kBank, nullptr, &Completions::Record, &self->m_unloaded);
    }

    AURESULT m_unloadResult = AuResultNotImplemented;
    Completions m_unloaded;
};

TEST_F(FullRingUnloadTest, AnUnloadThatFinishedOnTheSpotSucceeds) {
    const Bytes bytes = MediaBank(kBank, {{0x77, 64}});
    AuBankID id = 0;
    ASSERT_EQ(AU::SoundEngine::LoadBank(bytes.data(), static_cast<u32>(bytes.size()), g_DefaultPoolId, id),
              AuResultSuccess);
    m_audio->SetMsgHandler(kSelfPost, {SelfPost, nullptr, this});
    // The audio thread's own posts: a full ring runs a nested pass instead of waiting.
    m_audio->SetAudioThreadId(GetCurrentThreadId());
    for (u32 i = 0; i < 14; ++i)
        ASSERT_TRUE(Post(kSelfPost, 16));
    m_audio->RenderAudio();
    for (int i = 0; i < 20 && !m_audio->IsEmpty(); ++i) {
        m_audio->RenderAudio();
        CAuMainLock lock;
        m_audio->ProcessMsgQueue();
    }
    m_audio->SetAudioThreadId(0);
    ASSERT_NE(m_unloadResult, AuResultNotImplemented) << "no post was refused";
    EXPECT_EQ(m_unloadResult, AuResultSuccess);
    ASSERT_EQ(m_unloaded.Calls().size(), 1u);
    EXPECT_EQ(m_unloaded.Calls()[0].result, AuResultSuccess);
    EXPECT_EQ(m_stopper.stopped, std::vector<u32>{kBank});
    EXPECT_EQ(m_mgr->BankCount(), 0u);
}

class BankSettingsTest : public BankMgrTest {
protected:
    void SetUp() override {
        BankMgrTest::SetUp();
        Start(false);
        m_mgr->SetChunkSinks(nullptr, &m_sinks, &m_sinks);
        ASSERT_EQ(m_rtpc.Init(), AuResultSuccess);
        g_pRTPCMgr = &m_rtpc;
    }
    void TearDown() override {
        g_pRTPCMgr = nullptr;
        m_rtpc.Term();
        BankMgrTest::TearDown();
    }
    static Bytes SettingsBank(u32 id, const bankgen::Settings& settings) {
        bankgen::BankBuilder builder(id);
        builder.SetSettings(settings);
        Bytes out;
        std::vector<std::string> errors;
        EXPECT_TRUE(builder.Build(out, errors));
        return out;
    }
    CAuRTPCMgr m_rtpc;
};

TEST_F(BankSettingsTest, GameParametersOfABankReachTheRTPCManager) {
    bankgen::Settings settings;
    settings.gameParameters.push_back({0x300, 5.0f, 1, 2.0f, 3.0f, 1});
    const Bytes bytes = SettingsBank(1, settings);
    AuBankID id = 0;
    ASSERT_EQ(AU::SoundEngine::LoadBank(bytes.data(), static_cast<u32>(bytes.size()), g_DefaultPoolId, id),
              AuResultSuccess);
    bool found = false;
    EXPECT_EQ(m_rtpc.GetDefaultValue(0x300, &found), 5.0f);
    EXPECT_TRUE(found);
}

TEST_F(BankSettingsTest, StateGroupsAreRefusedUntilAStateManagerTakesThem) {
    bankgen::Settings settings;
    settings.stateGroups.push_back({0x100, 250, {}});
    const Bytes bytes = SettingsBank(2, settings);
    AuBankID id = 0;
    EXPECT_EQ(AU::SoundEngine::LoadBank(bytes.data(), static_cast<u32>(bytes.size()), g_DefaultPoolId, id),
              AuResultFail);
    EXPECT_EQ(m_mgr->BankCount(), 0u);
}

TEST(BankExportsWithoutEngineTest, RefuseWithoutABankManager) {
    ASSERT_EQ(g_pBankMgr, nullptr);
    EXPECT_EQ(AU::SoundEngine::ClearBanks(), AuResultFail);
    EXPECT_EQ(AU::SoundEngine::SetBankLoadIOSettings(1.0f, 200), AuResultFail);
    EXPECT_EQ(AU::SoundEngine::LoadBank(1u, 0), AuResultFail);
    const AuSourceSettings setting{1, reinterpret_cast<const u8*>("x"), 1};
    EXPECT_EQ(AU::SoundEngine::SetMedia(&setting, 1), AuResultFail);
    EXPECT_EQ(AU::SoundEngine::SetMedia(nullptr, 1), AuResultInvalidParameter);
    EXPECT_EQ(AU::SoundEngine::UnsetMedia(nullptr, 0), AuResultInvalidParameter);
    AU::SoundEngine::CancelBankCallbackCookie(nullptr);
}

} // namespace
} // namespace banktest
