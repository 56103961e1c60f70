#include "StreamTestSupport.h"

#include <AU/AuDefaultIOHookBlocking.h>

#include <windows.h>

#include <filesystem>
#include <string>

namespace {

using namespace streamtest;

AuFileOpenFlags Flags(u32 origin, u32 fileType, bool languageSpecific) {
    AuFileOpenFlags flags{};
    flags.uOrigin = origin;
    flags.uFileType = fileType;
    flags.bIsLanguageSpecific = languageSpecific;
    flags.uCacheID = AU_NO_CACHE_ID;
    return flags;
}

class FileLocationTest : public StreamingTest {
protected:
    void SetUp() override {
        StreamingTest::SetUp();
        m_folder = FreshFolder();
    }
    std::filesystem::path m_folder;
};

TEST_F(FileLocationTest, PathByIdTable) {
    CAuFileLocationBase location;
    ASSERT_EQ(location.SetBasePath(L"base\\"), AuResultPathNotFound); // stored although missing
    ASSERT_EQ(location.SetBankPath(L"banks/"), AuResultSuccess);
    ASSERT_EQ(location.SetAudioSrcPath(L"media/"), AuResultSuccess);
    ASSERT_EQ(AU::StreamMgr::SetCurrentLanguage(L"English(US)"), AuResultSuccess);
    const struct {
        AuFileOpenFlags flags;
        AURESULT result;
        const wchar_t* path;
    } cases[] = {
        {Flags(0, 0, true), AuResultSuccess, L"base\\banks/English(US)\\1234.bnk"},
        {Flags(0, 0, false), AuResultSuccess, L"base\\banks/1234.bnk"},
        {Flags(0, 4, false), AuResultSuccess, L"base\\media/1234.aum"},
        {Flags(1, 4, true), AuResultSuccess, L"base\\media/English(US)\\1234.aum"},
        {Flags(1, 0, false), AuResultSuccess, L"base\\banks/1234.bnk"},
        {Flags(2, 0, false), AuResultFail, L""},
    };
    for (const auto& c : cases) {
        wchar_t path[AU_MAX_PATH] = L"junk";
        EXPECT_EQ(location.GetFullFilePath(1234, &c.flags, path), c.result);
        if (c.result == AuResultSuccess) {
            EXPECT_STREQ(path, c.path);
        }
    }
    wchar_t path[AU_MAX_PATH];
    EXPECT_EQ(location.GetFullFilePath(1234, nullptr, path), AuResultFail);
    // Without a language the folder is left out.
    ASSERT_EQ(AU::StreamMgr::SetCurrentLanguage(L""), AuResultSuccess);
    const AuFileOpenFlags languageSpecific = Flags(0, 0, true);
    ASSERT_EQ(location.GetFullFilePath(4294967295u, &languageSpecific, path), AuResultSuccess);
    EXPECT_STREQ(path, L"base\\banks/4294967295.bnk");
}

TEST_F(FileLocationTest, PathByNameTable) {
    CAuFileLocationBase location;
    location.SetBasePath(L"B/");
    location.SetBankPath(L"K/");
    location.SetAudioSrcPath(L"M/");
    ASSERT_EQ(AU::StreamMgr::SetCurrentLanguage(L"fr"), AuResultSuccess);
    const struct {
        const AuFileOpenFlags* flags;
        AuOpenMode mode;
        const wchar_t* path;
    } cases[] = {
        {nullptr, AuOpenModeRead, L"B/Init.bnk"},
        {new AuFileOpenFlags(Flags(0, 0, false)), AuOpenModeRead, L"B/K/Init.bnk"},
        {new AuFileOpenFlags(Flags(0, 0, true)), AuOpenModeRead, L"B/K/fr\\Init.bnk"},
        {new AuFileOpenFlags(Flags(0, 0, true)), AuOpenModeWrite, L"B/Init.bnk"},
        {new AuFileOpenFlags(Flags(0, 201, true)), AuOpenModeRead, L"fr\\Init.bnk"},
        {new AuFileOpenFlags(Flags(1, 201, false)), AuOpenModeRead, L"B/Init.bnk"},
        {new AuFileOpenFlags(Flags(1, 0, true)), AuOpenModeRead, L"B/fr\\Init.bnk"},
        {new AuFileOpenFlags(Flags(0, 7, false)), AuOpenModeRead, L"B/Init.bnk"},
    };
    for (const auto& c : cases) {
        wchar_t path[AU_MAX_PATH];
        EXPECT_EQ(location.GetFullFilePath(L"Init.bnk", c.flags, c.mode, path), AuResultSuccess);
        EXPECT_STREQ(path, c.path);
        delete c.flags;
    }
}

TEST_F(FileLocationTest, PathLimits) {
    CAuFileLocationBase location;
    wchar_t path[AU_MAX_PATH];
    const std::wstring name259(259, L'n');
    const std::wstring name260(260, L'n');
    EXPECT_EQ(location.GetFullFilePath(name259.c_str(), nullptr, AuOpenModeRead, path), AuResultSuccess);
    EXPECT_EQ(location.GetFullFilePath(name260.c_str(), nullptr, AuOpenModeRead, path),
              AuResultInvalidParameter);
    EXPECT_EQ(location.GetFullFilePath(static_cast<const wchar_t*>(nullptr), nullptr, AuOpenModeRead, path),
              AuResultInvalidParameter);
    // 259 characters in total still fit; 260 do not.
    location.SetBasePath(std::wstring(250, L'b').c_str());
    EXPECT_EQ(location.GetFullFilePath(L"123456789", nullptr, AuOpenModeRead, path), AuResultSuccess);
    EXPECT_EQ(location.GetFullFilePath(L"1234567890", nullptr, AuOpenModeRead, path), AuResultFail);
    const AuFileOpenFlags media = Flags(0, 3, false);
    location.SetBasePath(std::wstring(249, L'b').c_str());
    EXPECT_EQ(location.GetFullFilePath(1, &media, path), AuResultSuccess); // "1.aum" ends at 254
    location.SetBasePath(std::wstring(255, L'b').c_str());
    EXPECT_EQ(location.GetFullFilePath(1, &media, path), AuResultFail);

    // The base path check counts the longest sub-path and the language.
    CAuFileLocationBase limited;
    ASSERT_EQ(AU::StreamMgr::SetCurrentLanguage(L"abcdefghij"), AuResultSuccess);
    limited.SetBankPath(std::wstring(100, L'k').c_str());
    limited.SetAudioSrcPath(std::wstring(20, L'm').c_str());
    EXPECT_EQ(limited.SetBasePath(std::wstring(148, L'x').c_str()), AuResultPathNotFound);
    EXPECT_EQ(limited.SetBasePath(std::wstring(149, L'x').c_str()), AuResultInvalidParameter);
    EXPECT_EQ(limited.GetBasePath(), std::wstring(148, L'x'));
    EXPECT_EQ(limited.SetBasePath(nullptr), AuResultInvalidParameter);
}

TEST_F(FileLocationTest, BasePathMustBeAFolder) {
    WriteFile(m_folder / "plain.txt", Pattern(4));
    CAuFileLocationBase location;
    const std::wstring folder = Wide(m_folder) + L"/";
    EXPECT_EQ(location.SetBasePath(folder.c_str()), AuResultSuccess);
    const std::wstring file = Wide(m_folder / "plain.txt");
    EXPECT_EQ(location.SetBasePath(file.c_str()), AuResultPathNotFound);
    EXPECT_EQ(location.GetBasePath(), file);
    EXPECT_EQ(location.SetBasePath((Wide(m_folder) + L"/nothing/").c_str()), AuResultPathNotFound);
}

TEST_F(FileLocationTest, OpenModesOnDisk) {
    const std::wstring path = Wide(m_folder / "file.bin");
    AuFileHandle handle = nullptr;
    EXPECT_EQ(CAuDefaultIOHookBlocking::OpenFile(path.c_str(), AuOpenModeRead, handle), AuResultFileNotFound);
    EXPECT_EQ(CAuDefaultIOHookBlocking::OpenFile((Wide(m_folder) + L"/no/file.bin").c_str(), AuOpenModeRead,
                                                 handle),
              AuResultFileNotFound);
    EXPECT_EQ(CAuDefaultIOHookBlocking::OpenFile(path.c_str(), static_cast<AuOpenMode>(4), handle),
              AuResultInvalidParameter);
    EXPECT_EQ(CAuDefaultIOHookBlocking::OpenFile(nullptr, AuOpenModeRead, handle), AuResultInvalidParameter);

    const struct {
        AuOpenMode mode;
        uintmax_t sizeAfter;
    } cases[] = {
        {AuOpenModeWrite, 100},     // open always: kept
        {AuOpenModeReadWrite, 100}, // open always: kept
        {AuOpenModeRead, 100},
        {AuOpenModeWriteOverwrite, 0}, // create always: emptied
    };
    for (const auto& c : cases) {
        WriteFile(m_folder / "file.bin", Pattern(100));
        ASSERT_EQ(CAuDefaultIOHookBlocking::OpenFile(path.c_str(), c.mode, handle), AuResultSuccess)
            << c.mode;
        EXPECT_EQ(std::filesystem::file_size(m_folder / "file.bin"), c.sizeAfter) << c.mode;
        CloseHandle(handle);
    }
    std::filesystem::remove(m_folder / "file.bin");
    ASSERT_EQ(CAuDefaultIOHookBlocking::OpenFile(path.c_str(), AuOpenModeWrite, handle), AuResultSuccess);
    EXPECT_TRUE(std::filesystem::exists(m_folder / "file.bin"));

    // A file held open for writing cannot be opened for reading: the share rules refuse it.
    AuFileHandle second = nullptr;
    EXPECT_EQ(CAuDefaultIOHookBlocking::OpenFile(path.c_str(), AuOpenModeRead, second), AuResultFail);
    CloseHandle(handle);
    // A folder is not a file.
    EXPECT_EQ(CAuDefaultIOHookBlocking::OpenFile(Wide(m_folder).c_str(), AuOpenModeRead, second),
              AuResultFail);
}

// The game's layout: base path, bank path and language folder written with backslashes.
class DiskStreamTest : public FileLocationTest {
protected:
    void SetUp() override {
        FileLocationTest::SetUp();
        ASSERT_EQ(AU::StreamMgr::SetCurrentLanguage(L"English(US)"), AuResultSuccess);
        ASSERT_EQ(m_io.SetBankPath(L"SoundBanks\\"), AuResultSuccess);
        ASSERT_EQ(m_io.SetAudioSrcPath(L"Media\\"), AuResultSuccess);
        ASSERT_EQ(m_io.SetBasePath((Wide(m_folder) + L"\\").c_str()), AuResultSuccess);
        ASSERT_EQ(m_io.Init(DeviceSettings()), AuResultSuccess);
        AU::StreamMgr::SetFileLocationResolver(&m_io);
    }
    void TearDown() override {
        m_io.Term();
        FileLocationTest::TearDown();
    }

    CAuDefaultIOHookBlocking m_io;
};

TEST_F(DiskStreamTest, OpensBanksAndMediaByIdAndName) {
    const std::vector<u8> bank = Pattern(5000, 1);
    const std::vector<u8> media = Pattern(100000, 2);
    WriteFile(m_folder / "SoundBanks" / "English(US)" / "1234.bnk", bank);
    WriteFile(m_folder / "SoundBanks" / "Init.bnk", bank);
    WriteFile(m_folder / "Media" / "77.aum", media);

    const struct {
        u32 id;
        const wchar_t* name;
        AuFileOpenFlags flags;
        const std::vector<u8>* bytes;
    } cases[] = {
        {1234, nullptr, Flags(0, 0, true), &bank},
        {77, nullptr, Flags(0, 2, false), &media},
        {0, L"Init.bnk", Flags(0, 0, false), &bank},
    };
    for (auto c : cases) {
        AU::IAuStdStream* stream = nullptr;
        const AURESULT opened = c.name
                                    ? m_pStreamMgr->CreateStd(c.name, &c.flags, AuOpenModeRead, stream, true)
                                    : m_pStreamMgr->CreateStd(c.id, &c.flags, AuOpenModeRead, stream, true);
        ASSERT_EQ(opened, AuResultSuccess) << c.id;
        std::vector<u8> buffer(c.bytes->size());
        u32 size = 0;
        EXPECT_EQ(stream->Read(buffer.data(), static_cast<u32>(buffer.size()), true, 50, 10.0f, size),
                  AuResultSuccess);
        EXPECT_EQ(size, buffer.size());
        EXPECT_EQ(buffer, *c.bytes);
        stream->Destroy();
    }
    AU::IAuStdStream* stream = nullptr;
    AuFileOpenFlags flags = Flags(0, 0, false);
    EXPECT_EQ(m_pStreamMgr->CreateStd(1234, &flags, AuOpenModeRead, stream, true), AuResultFileNotFound);
    EXPECT_EQ(m_pStreamMgr->CreateStd(L"Missing.bnk", &flags, AuOpenModeRead, stream, true),
              AuResultFileNotFound);
    EXPECT_EQ(m_pStreamMgr->CreateStd(1234, nullptr, AuOpenModeRead, stream, true), AuResultFail);
    EXPECT_EQ(stream, nullptr);
}

TEST_F(DiskStreamTest, WritesGoToDisk) {
    AU::IAuStdStream* stream = nullptr;
    ASSERT_EQ(m_pStreamMgr->CreateStd(L"capture.wav", nullptr, AuOpenModeWriteOverwrite, stream, true),
              AuResultSuccess);
    std::vector<u8> bytes = Pattern(40000, 5);
    u32 size = 0;
    ASSERT_EQ(stream->Write(bytes.data(), 40000, true, 50, 0.0f, size), AuResultSuccess);
    ASSERT_EQ(stream->SetPosition(0, AuMoveBegin, nullptr), AuResultSuccess);
    ASSERT_EQ(stream->Write(bytes.data() + 100, 4, true, 50, 0.0f, size), AuResultSuccess);
    stream->Destroy();
    m_io.Term();
    bytes[0] = bytes[100], bytes[1] = bytes[101], bytes[2] = bytes[102], bytes[3] = bytes[103];
    EXPECT_EQ(ReadWholeFile(m_folder / "capture.wav"), bytes);
}

// A file that is shorter than when it was opened: the read must fail rather than complete with
// stale bytes in the buffer.
TEST_F(DiskStreamTest, AShortReadIsAFailure) {
    WriteFile(m_folder / "Media" / "5.aum", Pattern(3000));
    AU::IAuStdStream* stream = nullptr;
    AuFileOpenFlags flags = Flags(0, 1, false);
    ASSERT_EQ(m_pStreamMgr->CreateStd(5, &flags, AuOpenModeRead, stream, true), AuResultSuccess);
    std::filesystem::resize_file(m_folder / "Media" / "5.aum", 1000);
    std::vector<u8> buffer(3000, 0xAB);
    u32 size = 0;
    EXPECT_EQ(stream->Read(buffer.data(), 3000, true, 50, 0.0f, size), AuResultFail);
    EXPECT_EQ(stream->GetStatus(), AuStmStatusError);
    stream->Destroy();
}

TEST_F(DiskStreamTest, DeferredOpensWaitForTheIOThread) {
    m_io.Term();
    ASSERT_EQ(m_io.Init(DeviceSettings(), true), AuResultSuccess);
    AU::StreamMgr::SetFileLocationResolver(&m_io);
    EXPECT_EQ(m_io.GetDeviceData(), 1u);
    WriteFile(m_folder / "Media" / "8.aum", Pattern(20000, 8));
    AuFileOpenFlags flags = Flags(0, 1, false);
    AU::IAuStdStream* stream = nullptr;
    ASSERT_EQ(m_pStreamMgr->CreateStd(8, &flags, AuOpenModeRead, stream, false), AuResultSuccess);
    AuStreamInfo info{};
    stream->GetInfo(info);
    EXPECT_FALSE(info.bIsOpen);
    std::vector<u8> buffer(20000);
    u32 size = 0;
    ASSERT_EQ(stream->Read(buffer.data(), 20000, true, 50, 0.0f, size), AuResultSuccess);
    EXPECT_EQ(buffer, Pattern(20000, 8));
    stream->Destroy();
    // A synchronous open is still honoured.
    ASSERT_EQ(m_pStreamMgr->CreateStd(8, &flags, AuOpenModeRead, stream, true), AuResultSuccess);
    stream->GetInfo(info);
    EXPECT_TRUE(info.bIsOpen);
    stream->Destroy();
}

} // namespace
