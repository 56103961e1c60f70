#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string ToAnsi(const std::wstring& wide, BOOL* usedDefault = nullptr) {
    char buffer[64] = {};
    int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), buffer, sizeof buffer,
                                nullptr, usedDefault);
    return std::string(buffer, n);
}

TEST(Conversion, AnsiCodePageIsWindows1252) {
    struct Case {
        std::wstring wide;
        std::string ansi;
        bool replaced;
    } cases[] = {
        {L"Torvik", "Torvik", false},
        {L"caf\u00e9 \u00ff", "caf\xe9 \xff", false},
        {L"\u20ac\u2122\u0178", "\x80\x99\x9f", false},
        {L"\u0100\u4e2d", "??", true},
        {L"\u0081", "\x81", false},
        {L"\u0080", "?", true},
    };
    for (const Case& c : cases) {
        BOOL used = FALSE;
        EXPECT_EQ(ToAnsi(c.wide, &used), c.ansi);
        EXPECT_EQ(used != FALSE, c.replaced);
        wchar_t back[64] = {};
        int n = MultiByteToWideChar(CP_ACP, 0, c.ansi.c_str(), static_cast<int>(c.ansi.size()), back, 64);
        if (!c.replaced) {
            EXPECT_EQ(std::wstring(back, n), c.wide);
        }
    }
}

TEST(Conversion, SizesTerminatorsAndShortBuffers) {
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"abc", -1, nullptr, 0, nullptr, nullptr), 4);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\u20ac", -1, nullptr, 0, nullptr, nullptr), 4);
    char small[3] = {};
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"abcdef", -1, small, 3, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::string(small, 3), "abc"); // what fits is written
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, nullptr, -1, small, 3, nullptr, nullptr), 0);
    EXPECT_EQ(WideCharToMultiByte(1250, 0, L"a", -1, small, 3, nullptr, nullptr), 0);
    wchar_t wide[8] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xe2\x82\xac", -1, wide, 8), 2);
    EXPECT_EQ(wide[0], L'\u20ac');
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xc3", 1, wide, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xc3", 1, wide, 8), 1);
    EXPECT_EQ(wide[0], L'\ufffd');
}

TEST(Crt, RandFollowsTheClassicSequence) {
    srand(1);
    const int expected[] = {41, 18467, 6334, 26500, 19169};
    for (int value : expected)
        EXPECT_EQ(rand(), value);
    srand(1);
    EXPECT_EQ(rand(), 41);
}

TEST(Crt, RandIsOneGeneratorAcrossThreads) {
    srand(12345);
    constexpr int kThreads = 4, kDraws = 5000;
    std::vector<int> seen(kThreads * kDraws);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kDraws; ++i)
                seen[t * kDraws + i] = rand();
        });
    for (auto& t : threads)
        t.join();
    // Every draw advanced the one state: the next value is the one after all of them.
    srand(12345);
    long long expectedSum = 0, sum = 0;
    for (int i = 0; i < kThreads * kDraws; ++i)
        expectedSum += rand();
    for (int v : seen) {
        EXPECT_GE(v, 0);
        EXPECT_LE(v, 32767);
        sum += v;
    }
    EXPECT_EQ(sum, expectedSum);
}

TEST(Crt, Time64IsWallClockSeconds) {
    __int64 stored = 0;
    __int64 now = _time64(&stored);
    EXPECT_EQ(now, stored);
    EXPECT_GT(now, 1700000000);
}

TEST(Messages, SystemTextsForTheCodesWeReport) {
    wchar_t buffer[256];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             ERROR_FILE_NOT_FOUND, 0, buffer, 256, nullptr);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(std::wstring(buffer), L"The system cannot find the file specified.\r\n");
    n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                       static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)), 0, buffer, 256, nullptr);
    EXPECT_EQ(std::wstring(buffer, n), L"Access is denied.\r\n");
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0x12345678, 0, buffer, 256, nullptr), 0u);
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, E_FAIL, 0, buffer, 4, nullptr), 0u);
}

TEST(Wcstombs, ConvertsTruncatesAndRefuses) {
    char out[8];
    size_t n = 99;
    EXPECT_EQ(wcstombs_s(&n, out, sizeof out, L"Card \u00e9", sizeof out), 0);
    EXPECT_STREQ(out, "Card \xe9");
    EXPECT_EQ(n, 7u);
    // Too long for the destination: ERANGE and an empty string, unless truncation is asked for.
    EXPECT_EQ(wcstombs_s(&n, out, sizeof out, L"Graphics card", sizeof out), ERANGE);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(wcstombs_s(&n, out, sizeof out, L"Graphics card", _TRUNCATE), STRUNCATE);
    EXPECT_STREQ(out, "Graphic");
    EXPECT_EQ(n, 8u);
    // Only `count` characters are taken.
    EXPECT_EQ(wcstombs_s(&n, out, sizeof out, L"abcdef", 3), 0);
    EXPECT_STREQ(out, "abc");
    // Beyond the code page: refused.
    EXPECT_EQ(wcstombs_s(&n, out, sizeof out, L"\u4e2d", sizeof out), EILSEQ);
    EXPECT_STREQ(out, "");
    // A size query counts the terminator.
    EXPECT_EQ(wcstombs_s(&n, nullptr, 0, L"abc", _TRUNCATE), 0);
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(wcstombs_s(&n, out, 0, L"abc", 3), EINVAL);
}

} // namespace
