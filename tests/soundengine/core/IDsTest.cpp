#include <AU/SoundEngine.h>

#include "core/AuBankNames.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using AU::SoundEngine::GetIDFromString;

TEST(GetIDFromString, KnownNames) {
    struct Case {
        const char* name;
        u32 id;
    } cases[] = {
        {"none", 0x2CA33BDB}, {"Init", 0x50C63A23}, {"Torvik", 0x47FD79D2}, {"", 0x811C9DC5},
        {"NONE", 0x2CA33BDB}, {"iNiT", 0x50C63A23}, {"TORVIK", 0x47FD79D2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetIDFromString(c.name), c.id) << c.name;
        const std::wstring wide(c.name, c.name + std::char_traits<char>::length(c.name));
        EXPECT_EQ(GetIDFromString(wide.c_str()), c.id) << c.name;
    }
    EXPECT_EQ(GetIDFromString(static_cast<const char*>(nullptr)), 0u);
    EXPECT_EQ(GetIDFromString(static_cast<const wchar_t*>(nullptr)), 0u);
}

TEST(GetIDFromString, OnlyAsciiLettersAreLowered) {
    // The bytes next to 'A'..'Z' and the Latin-1 capitals stay as they are.
    EXPECT_NE(GetIDFromString("@"), GetIDFromString("`"));
    EXPECT_NE(GetIDFromString("["), GetIDFromString("{"));
    EXPECT_NE(GetIDFromString("\xC9t\xE9"), GetIDFromString("\xE9t\xE9"));
    // FNV-1 of the single byte 0xC9: (basis x prime) xor 0xC9.
    EXPECT_EQ(GetIDFromString("\xC9"), (0x811C9DC5u * 0x01000193u) ^ 0xC9u);
}

TEST(GetIDFromString, WideNamesGoThroughTheAnsiCodePage) {
    EXPECT_EQ(GetIDFromString(L"\u00E9t\u00E9"), GetIDFromString("\xE9t\xE9"));
    EXPECT_EQ(GetIDFromString(L"\u00C9"), GetIDFromString("\xC9")); // not lowered
    EXPECT_EQ(GetIDFromString(L"\u20AC5"), GetIDFromString("\x80"
                                                           "5")); // the euro sign is 0x80
    EXPECT_EQ(GetIDFromString(L"\u4E2D"), GetIDFromString("?"));  // not representable
}

TEST(GetIDFromString, NamesAreCutAt259Characters) {
    const std::string head(259, 'k');
    const std::string longName = head + std::string(41, 'Z');
    EXPECT_EQ(GetIDFromString(longName.c_str()), GetIDFromString(head.c_str()));
    EXPECT_NE(GetIDFromString(head.c_str()), GetIDFromString(head.substr(1).c_str()));
    const std::wstring wideLong(longName.begin(), longName.end());
    EXPECT_EQ(GetIDFromString(wideLong.c_str()), GetIDFromString(head.c_str()));
}

std::vector<std::pair<AuUniqueID, std::string>> g_recorded;

TEST(GetBankIDFromName, CutsAtTheFirstDotAndTellsTheBankManager) {
    AuSetBankFileNameSink([](AuUniqueID id, const char* name) { g_recorded.emplace_back(id, name); });
    g_recorded.clear();
    EXPECT_EQ(GetBankIDFromName("Torvik"), 0x47FD79D2u);
    EXPECT_EQ(GetBankIDFromName("Torvik.bnk"), 0x47FD79D2u);
    EXPECT_EQ(GetBankIDFromName(L"Init.v2.bnk"), 0x50C63A23u);
    EXPECT_EQ(GetBankIDFromName(".hidden"), 0x811C9DC5u);
    const std::vector<std::pair<AuUniqueID, std::string>> expected{
        {0x47FD79D2u, "Torvik"}, {0x47FD79D2u, "Torvik"}, {0x50C63A23u, "Init"}, {0x811C9DC5u, ""}};
    EXPECT_EQ(g_recorded, expected);

    // A dot past the 259th character is never seen.
    g_recorded.clear();
    const std::string longName = std::string(259, 'b') + ".bnk" + std::string(37, 'x');
    EXPECT_EQ(GetBankIDFromName(longName.c_str()), GetIDFromString(std::string(259, 'b').c_str()));
    ASSERT_EQ(g_recorded.size(), 1u);
    EXPECT_EQ(g_recorded[0].second, std::string(259, 'b'));
    const std::string dotted = std::string(250, 'b') + ".bnk";
    EXPECT_EQ(GetBankIDFromName(dotted.c_str()), GetIDFromString(std::string(250, 'b').c_str()));

    AuSetBankFileNameSink(nullptr);
    g_recorded.clear();
    EXPECT_EQ(GetBankIDFromName("Init"), 0x50C63A23u);
    EXPECT_TRUE(g_recorded.empty());
}

} // namespace
