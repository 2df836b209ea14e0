#include <array>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

#include "platform/win32.h"

namespace {

std::u16string ToWide(UINT codePage, const std::string &bytes) {
    int n =
        MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::u16string wide(static_cast<size_t>(n), u'\0');
    EXPECT_EQ(MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()),
                                  wide.data(), n),
              n);
    return wide;
}

std::string ToBytes(UINT codePage, const std::u16string &wide, BOOL *usedDefault = nullptr) {
    int n = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                nullptr, usedDefault);
    std::string bytes(static_cast<size_t>(n), '\0');
    EXPECT_EQ(WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                  bytes.data(), n, nullptr, usedDefault),
              n);
    return bytes;
}

// "中文测试" in GBK.
const std::string kChineseGbk = "\xD6\xD0\xCE\xC4\xB2\xE2\xCA\xD4";

} // namespace

TEST(CodePage, AnsiIsGbkByDefault) {
    if (getenv("QUILLBAY_ACP"))
        GTEST_SKIP() << "QUILLBAY_ACP is set";
    EXPECT_EQ(GetACP(), 936u);
}

TEST(CodePage, ChineseRoundTripsBetweenGbkAndUtf16) {
    std::u16string wide = ToWide(936, kChineseGbk);
    EXPECT_EQ(wide, u"中文测试");
    EXPECT_EQ(ToBytes(936, wide), kChineseGbk);
    EXPECT_EQ(ToBytes(CP_UTF8, wide), "中文测试");
    EXPECT_EQ(ToWide(CP_UTF8, "中文测试"), u"中文测试");
}

TEST(CodePage, MixedTextAndTerminatorCountWhenLengthIsMinusOne) {
    std::string text = "AB" + kChineseGbk;
    WCHAR wide[16];
    int n = MultiByteToWideChar(936, 0, text.c_str(), -1, wide, 16);
    EXPECT_EQ(n, 7); // two letters, four characters, the terminator
    EXPECT_EQ(std::u16string(wide), u"AB中文测试");
}

TEST(CodePage, CharacterGbkLacksBecomesTheDefaultCharacter) {
    BOOL used = FALSE;
    // A Thai letter and a character outside the basic plane (a surrogate pair).
    std::u16string wide = u"a\u0E01b\U0001F600c";
    EXPECT_EQ(ToBytes(936, wide, &used), "a?b?c");
    EXPECT_TRUE(used);
    used = TRUE;
    ToBytes(936, u"plain", &used);
    EXPECT_FALSE(used);
}

TEST(CodePage, CallerDefaultCharacterIsUsed) {
    char out[8] = {};
    int n = WideCharToMultiByte(936, 0, u"x\u0E01", 2, out, sizeof out, "#", nullptr);
    EXPECT_EQ(n, 2);
    EXPECT_STREQ(out, "x#");
}

TEST(CodePage, InvalidGbkBytesBecomeTheUnicodeDefaultCharacter) {
    // A lone lead byte at the end, and a lead byte followed by a control.
    EXPECT_EQ(ToWide(936, "a\xD6"), u"a\u30FB");
    EXPECT_EQ(ToWide(936, "\xD6\x01z"), u"\u30FB\u0001z");
    WCHAR out[4];
    SetLastError(0xdeadbeef);
    EXPECT_EQ(MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, "a\xD6", 2, out, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(CodePage, UserDefinedAreasOf936AreThePrivateUseCharacters) {
    EXPECT_EQ(ToBytes(936, u"a\uE000b"), "a\xAA\xA1"
                                         "b");
    EXPECT_EQ(ToWide(936, "a\xAA\xA1"
                          "b"),
              u"a\uE000b");
    // Valid characters, also for a caller that refuses invalid bytes.
    WCHAR out[2] = {};
    EXPECT_EQ(MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, "\xFE\xFE", 2, out, 2), 1);
    EXPECT_EQ(out[0], u'\uE4C5');
    // The three areas, cell by cell, are U+E000..U+E765 in order and back.
    std::u16string all;
    for (const auto [leadFirst, leadLast, trailFirst, trailLast] :
         {std::array<int, 4>{0xAA, 0xAF, 0xA1, 0xFE},
          {0xF8, 0xFE, 0xA1, 0xFE},
          {0xA1, 0xA7, 0x40, 0xA0}}) {
        std::string cells;
        for (int lead = leadFirst; lead <= leadLast; ++lead) {
            for (int trail = trailFirst; trail <= trailLast; ++trail) {
                if (trail != 0x7F)
                    cells += {static_cast<char>(lead), static_cast<char>(trail)};
            }
        }
        const std::u16string wide = ToWide(936, cells);
        EXPECT_EQ(ToBytes(936, wide), cells);
        all += wide;
    }
    ASSERT_EQ(all.size(), 0x766u);
    for (size_t i = 0; i < all.size(); ++i)
        ASSERT_EQ(all[i], static_cast<char16_t>(0xE000 + i)) << i;
    // Beside them everything stays as it was: 0x7F is no trail byte, U+E766
    // has no form in the code page.
    EXPECT_EQ(ToWide(936, "\xA1\x7F"), u"\u30FB\u007F");
    EXPECT_EQ(ToBytes(936, u"\uE766"), "?");
}

TEST(CodePage, ReportsSizesAndShortBuffers) {
    EXPECT_EQ(WideCharToMultiByte(936, 0, u"中文", -1, nullptr, 0, nullptr, nullptr), 5);
    char small[3];
    SetLastError(0xdeadbeef);
    EXPECT_EQ(WideCharToMultiByte(936, 0, u"中文", -1, small, 3, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(MultiByteToWideChar(936, 0, "abc", 0, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(12345, 0, "abc", 3, nullptr, 0), 0);
}

TEST(CodePage, LeadBytesOfGbk) {
    if (GetACP() != 936)
        GTEST_SKIP();
    EXPECT_TRUE(IsDBCSLeadByte(0xD6));
    EXPECT_FALSE(IsDBCSLeadByte('A'));
}

// Run by its own test entry with QUILLBAY_ACP set.
TEST(CodePageOverride, FollowsEnvironment) {
    const char *expected = getenv("QUILLBAY_EXPECT_ACP");
    if (!expected)
        GTEST_SKIP() << "runs under its own test entry";
    EXPECT_EQ(GetACP(), static_cast<UINT>(atoi(expected)));
    // In code page 1252, 0xE9 is é.
    WCHAR wide[2] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xE9", 1, wide, 2), 1);
    EXPECT_EQ(wide[0], u'\u00E9');
}
