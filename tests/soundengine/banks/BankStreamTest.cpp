// The same bank read from memory and through a standard stream of the stream manager gives the
// same chunk sequence: the generated game banks, and a bank written here with every chunk kind.
#include "BankTestSupport.h"

#include <AU/AuDefaultIOHookBlocking.h>

#include <AU/IAuStreamMgr.h>
#include <AU/StreamMgr.h>

namespace banktest {
namespace {

class BankStreamTest : public BankTest {
protected:
    void SetUp() override {
        BankTest::SetUp();
        AuStreamMgrSettings settings;
        AU::StreamMgr::GetDefaultSettings(settings);
        ASSERT_NE(AU::StreamMgr::Create(settings), nullptr);
        ASSERT_EQ(AU::StreamMgr::SetCurrentLanguage(L"English(US)"), AuResultSuccess);
    }
    void TearDown() override {
        m_reader.Term();
        m_io.Term();
        if (AU::IAuStreamMgr::m_pStreamMgr) AU::IAuStreamMgr::m_pStreamMgr->Destroy();
        BankTest::TearDown();
    }
    // Banks are looked for in <folder>/SoundBanks/ as the game lays them out.
    void UseFolder(const std::filesystem::path& folder) {
        ASSERT_EQ(m_io.SetBankPath(L"SoundBanks/"), AuResultSuccess);
        ASSERT_EQ(m_io.SetBasePath((folder.wstring() + L"/").c_str()), AuResultSuccess);
        AuDeviceSettings device;
        AU::StreamMgr::GetDefaultDeviceSettings(device);
        ASSERT_EQ(m_io.Init(device), AuResultSuccess);
        AU::StreamMgr::SetFileLocationResolver(&m_io);
    }
    // Both readings must succeed and agree call for call.
    void ExpectSameReading(const Bytes& image, Reading streamed) {
        ASSERT_EQ(streamed.result, AuResultSuccess);
        const Reading inMemory = ReadMemory(image);
        ASSERT_EQ(inMemory.result, AuResultSuccess);
        EXPECT_EQ(streamed.calls, inMemory.calls);
        EXPECT_EQ(streamed.header.bankID, inMemory.header.bankID);
        EXPECT_EQ(streamed.header.bankID,
                  AuGetBankIDFromMemory(image.data(), static_cast<u32>(image.size())));
        EXPECT_GT(streamed.calls.size(), 4u);
    }

    CAuDefaultIOHookBlocking m_io;
    CAuBankReader m_reader;
};

TEST_F(BankStreamTest, GameBanksByName) {
    const std::filesystem::path resources = std::filesystem::path(TORVIK_SOUNDBANKS_DIR).parent_path();
    UseFolder(resources);
    ASSERT_EQ(m_reader.Init(), AuResultSuccess);
    for (const char* name : {"Init.bnk", "Torvik.bnk"}) {
        const Bytes image = ReadWholeFile(resources / "SoundBanks" / name);
        ASSERT_GE(image.size(), 28u) << name;
        ASSERT_EQ(m_reader.OpenByName(name, 0, nullptr), AuResultSuccess) << name;
        RecordingSinks sinks;
        ExpectSameReading(image, ReadWith(m_reader, AuBankLoadModeLoad, false, sinks));
        m_reader.Close();
    }
}

TEST_F(BankStreamTest, WrittenBankByIDFromTheCommonFolder) {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    const std::filesystem::path folder =
        std::filesystem::path(testing::TempDir()) / "torvik_banks" / info->name();
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder / "SoundBanks");
    const Bytes image = FullBank(0x1234ABCD);
    ASSERT_GT(image.size(), 2u * CAuBankReader::kMinBufferSize) << "the media cross buffer boundaries";
    {
        std::ofstream out(folder / "SoundBanks" / "305441741.bnk", std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }
    UseFolder(folder);
    ASSERT_EQ(m_reader.Init(), AuResultSuccess);
    // Language-specific first; the bank lies in the common folder.
    ASSERT_EQ(m_reader.OpenByID(0x1234ABCD, 0, 0, nullptr, true), AuResultSuccess);
    RecordingSinks sinks;
    ExpectSameReading(image, ReadWith(m_reader, AuBankLoadModeLoad, false, sinks));

    EXPECT_EQ(m_reader.OpenByID(404, 0, 0, nullptr, true), AuResultFileNotFound);
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace banktest
