#include <gtest/gtest.h>
#include <win32_paths.h>
#include <windows.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class Files : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/win32filesXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
    }
    void TearDown() override { fs::remove_all(root); }
    std::wstring Wide(const std::string& relative) const {
        std::string s = root + "/" + relative;
        return std::wstring(s.begin(), s.end());
    }
    std::string root;
};

TEST_F(Files, WriteAndReadAtOffsetsBeyondFourGigabytes) {
    HANDLE h = CreateFileW(Wide("big.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const char text[] = "torvik";
    OVERLAPPED at{};
    at.Offset = 0x10;
    at.OffsetHigh = 1; // 4 GiB + 16, a sparse file
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(h, text, sizeof text, &done, &at));
    EXPECT_EQ(done, sizeof text);
    DWORD high = 0;
    EXPECT_EQ(GetFileSize(h, &high), 0x10u + sizeof text);
    EXPECT_EQ(high, 1u);
    char back[sizeof text] = {};
    ASSERT_TRUE(ReadFile(h, back, sizeof back, &done, &at));
    EXPECT_STREQ(back, text);
    // Reading past the end succeeds with fewer bytes, as the platform does.
    at.Offset = 0x10 + 3;
    ASSERT_TRUE(ReadFile(h, back, sizeof back, &done, &at));
    EXPECT_EQ(done, sizeof text - 3);
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Files, ErrorCodesMatchThePlatform) {
    struct Case {
        const char* path;
        DWORD access, share, creation, error;
    } cases[] = {
        {"missing.bnk", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {"nofolder/missing.bnk", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {"nofolder/new.bnk", GENERIC_WRITE, 0, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED}, // the folder itself
        {"x", GENERIC_READ, 0, 99, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        HANDLE h = CreateFileW(Wide(c.path).c_str(), c.access, c.share, nullptr, c.creation, 0, nullptr);
        EXPECT_EQ(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(CreateFileW(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    std::wstring tooLong(40000, L'a');
    EXPECT_EQ(CreateFileW(tooLong.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    std::wstring longName = Wide(std::string(300, 'b'));
    EXPECT_EQ(CreateFileW(longName.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

TEST_F(Files, ShareModesAreEnforcedWithinTheProcess) {
    std::wstring path = Wide("shared.bin");
    HANDLE writer =
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    // The writer does not share reading.
    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // A second writer that shares writing is admitted.
    HANDLE second =
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(second);
    CloseHandle(writer);
    HANDLE reader =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
}

TEST_F(Files, BackslashesAndLetterCaseResolveLikeThePlatform) {
    fs::create_directories(root + "/Resources/SoundBanks");
    { std::ofstream(root + "/Resources/SoundBanks/Init.bnk") << "BKHD"; }
    std::string mixed = root + "\\resources\\SOUNDBANKS\\init.BNK";
    std::wstring wide(mixed.begin(), mixed.end());
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buffer[8] = {};
    DWORD done = 0;
    ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(std::string(buffer, done), "BKHD");
    CloseHandle(h);
    std::string folder = root + "\\Resources\\soundbanks";
    EXPECT_EQ(GetFileAttributesW(std::wstring(folder.begin(), folder.end()).c_str()),
              FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesW(Wide("Resources/none").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// The one rule the stand-ins share for the names the program writes.
TEST_F(Files, NativePathsResolveEachNameAndPreferTheExactOne) {
    fs::create_directories(root + "/Levels");
    for (const char* name : {"Init.bnk", "INIT.bnk", "Exact.json", "EXACT.json"})
        std::ofstream(root + "/Levels/" + name) << name;
    struct Case {
        std::string asked, found;
    } cases[] = {
        {"\\levels\\init.BNK", "/Levels/INIT.bnk"},   // several differ in case: the first in name order
        {"/LEVELS/Exact.json", "/Levels/Exact.json"}, // an exact name is kept as it is
        {"\\Levels\\..\\levels/exact.JSON", "/Levels/../Levels/EXACT.json"},
        {"\\levels\\none\\init.bnk", "/Levels/none/init.bnk"}, // no match: the rest stays as written
    };
    for (const Case& c : cases) {
        EXPECT_EQ(win32::NativePath(root + c.asked), root + c.found) << c.asked;
        const std::wstring wide =
            std::wstring(root.begin(), root.end()) + std::wstring(c.asked.begin(), c.asked.end());
        EXPECT_EQ(win32::NativePath(wide.c_str()), root + c.found) << c.asked;
    }
}

TEST_F(Files, BadHandlesAndAccessAreRefused) {
    DWORD done = 0;
    char byte = 0;
    EXPECT_FALSE(ReadFile(nullptr, &byte, 1, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, &byte, 1, &done, nullptr));
    EXPECT_EQ(GetFileSize(nullptr, nullptr), INVALID_FILE_SIZE);
    HANDLE h =
        CreateFileW(Wide("r.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(WriteFile(h, &byte, 1, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(h);
    EXPECT_FALSE(ReadFile(h, &byte, 1, &done, nullptr)); // closed
}

TEST(VirtualMemory, ReleaseWithSizeZeroFreesTheWholeRegion) {
    const SIZE_T size = 2 * 1024 * 1024;
    auto* base = static_cast<unsigned char*>(VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(base, nullptr);
    base[0] = 1;
    base[size - 1] = 2;
    EXPECT_FALSE(VirtualFree(base, size, MEM_RELEASE)); // the platform demands 0
    EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
    EXPECT_FALSE(VirtualFree(base, 0, MEM_RELEASE));
    EXPECT_EQ(VirtualAlloc(nullptr, 0, MEM_COMMIT, PAGE_READWRITE), nullptr);
}

TEST(Libraries, PluginExportIsFoundThroughItsDecoratedName) {
    HMODULE module = LoadLibraryW(L"Binaries\\testplugin.dll");
    ASSERT_NE(module, nullptr);
    auto entry = reinterpret_cast<int (*)()>(GetProcAddress(module, "?ExpSystem@@YGPAVSystem@@XZ"));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry(), 42);
    EXPECT_EQ(GetProcAddress(module, "?Missing@@YGXXZ"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(LoadLibraryW(L"Binaries\\Absent.DLL"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(GetProcAddress(nullptr, "x"), nullptr);
}

TEST(Libraries, ModuleHandlesAreFoundOnlyForLoadedLibraries) {
    HMODULE program = nullptr;
    ASSERT_TRUE(GetModuleHandleExA(0, nullptr, &program));
    EXPECT_NE(program, nullptr);
    HMODULE found = nullptr;
    EXPECT_FALSE(GetModuleHandleExA(0, "Binaries\\TestPlugin.DLL", &found));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    HMODULE module = LoadLibraryW(L"Binaries\\testplugin.dll");
    ASSERT_NE(module, nullptr);
    ASSERT_TRUE(GetModuleHandleExA(0, "Binaries\\TestPlugin.DLL", &found));
    EXPECT_EQ(found, module);
    // The lookup took no reference: one FreeLibrary unloads it.
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_FALSE(GetModuleHandleExA(0, "Binaries\\TestPlugin.DLL", &found));
    EXPECT_FALSE(GetModuleHandleExA(0, nullptr, nullptr));
}

} // namespace
