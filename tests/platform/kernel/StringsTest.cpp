#include <gtest/gtest.h>
#include <string>

#include "platform/win32.h"

namespace {

std::string Format(const char *format, ...) {
    char buffer[1100];
    va_list args;
    va_start(args, format);
    wvsprintfA(buffer, format, args);
    va_end(args);
    return buffer;
}

} // namespace

TEST(Strings, FormatsIntegersAsThirtyTwoBitValues) {
    EXPECT_EQ(Format("%d|%5d|%-4d|%03d", -7, 42, 1, 5), "-7|   42|1   |005");
    EXPECT_EQ(Format("%02X", 0x41 + 0x41), "82");
    EXPECT_EQ(Format("%02X", -84), "FFFFFFAC");
    EXPECT_EQ(Format("%x %lu %u", 255, 4000000000u, 7u), "ff 4000000000 7");
    EXPECT_EQ(Format("%I64d", static_cast<long long>(1) << 40), "1099511627776");
}

TEST(Strings, FormatsTextAndCharacters) {
    EXPECT_EQ(Format("%s\\%s", "dir", "name"), "dir\\name");
    EXPECT_EQ(Format("[%5s][%-3s][%.2s]", "ab", "c", "xyz"), "[   ab][c  ][xy]");
    EXPECT_EQ(Format("%c%c%%", 'o', 'k'), "ok%");
}

TEST(Strings, StopsAtTheFormattersLimit) {
    std::string longText(2000, 'a');
    char buffer[1100];
    EXPECT_EQ(wsprintfA(buffer, "%s", longText.c_str()), 1024);
    EXPECT_EQ(std::string(buffer).size(), 1024u);
}

TEST(Strings, FormatsWithAnExplicitLimit) {
    char buffer[16];
    va_list none{};
    EXPECT_EQ(FormatTextA(buffer, 5, "abcdefgh", none), 5);
    EXPECT_STREQ(buffer, "abcde");
}

TEST(Strings, ComparesCaseSensitivelyAndToleratesNull) {
    EXPECT_EQ(lstrcmpA("abc", "abc"), 0);
    EXPECT_NE(lstrcmpA("abc", "ABC"), 0);
    EXPECT_EQ(lstrcmpiA("abc", "ABC"), 0);
    EXPECT_EQ(lstrcmpA(nullptr, nullptr), 0);
    EXPECT_LT(lstrcmpA(nullptr, "a"), 0);
    EXPECT_EQ(lstrlenA(nullptr), 0);
    EXPECT_EQ(lstrlenA("abc"), 3);
    char out[4];
    lstrcpynA(out, "abcdef", 4);
    EXPECT_STREQ(out, "abc");
}

TEST(LastError, IsKeptPerThread) {
    SetLastError(1234);
    DWORD seenByOther = 0xdeadbeef;
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID out) -> DWORD {
            *static_cast<DWORD *>(out) = GetLastError();
            SetLastError(99);
            return 0;
        },
        &seenByOther, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(seenByOther, 0u);
    EXPECT_EQ(GetLastError(), 1234u);
}
