#include <gtest/gtest.h>
#include <string>

#include "support/AnsiStr.h"
#include "testing/TestSupport.h"

namespace {

std::string MidOf(const char *text, int start, int count) {
    AnsiStr out("stale");
    AnsiStr(text).Mid(out, start, count);
    return out.c_str();
}

struct Cut {
    std::string text;
    int pos;
};

Cut BetweenOf(const char *text, const char *startMark, const char *endMark, unsigned flags) {
    AnsiStr out("stale");
    int pos = 0xdead;
    AnsiStr(text).Between(out, startMark, endMark, 0, &pos, flags);
    return {out.c_str(), pos};
}

} // namespace

TEST(AnsiStr, ConstructionSizesTheBuffer) {
    EXPECT_EQ(AnsiStr().Capacity(), 0u);
    EXPECT_STREQ(AnsiStr().c_str(), "");
    EXPECT_EQ(AnsiStr("abc").Capacity(), 80u);
    EXPECT_EQ(AnsiStr("abc", 200).Capacity(), 200u);
    EXPECT_EQ(AnsiStr(std::string(100, 'x').c_str()).Capacity(), 101u);
    EXPECT_EQ(AnsiStr(nullptr).Capacity(), 0u);
    EXPECT_EQ(AnsiStr(0).Capacity(), 80u);
    EXPECT_EQ(AnsiStr(500).Capacity(), 500u);
    AnsiStr copy(AnsiStr("xy", 300));
    EXPECT_EQ(copy.Capacity(), 300u);
    EXPECT_STREQ(copy.c_str(), "xy");
}

TEST(AnsiStr, FindCountsNonOverlappingHits) {
    EXPECT_EQ(AnsiStr("ab/c.gif").Find("ab", 0, 1), 0);
    EXPECT_EQ(AnsiStr("xab").Find("ab", 0, 1), 1);
    EXPECT_EQ(AnsiStr("").Find("ab", 0, 1), -1);
    EXPECT_EQ(AnsiStr("aaaa").Find("aa", 0, 2), 2);
    EXPECT_EQ(AnsiStr("aaaa").Find("aa", 0, 3), -1);
    EXPECT_EQ(AnsiStr("abcabc").Find("abc", 1, 1), 3);
    EXPECT_EQ(AnsiStr("abc").Find("abc", 4, 1), -1);
    EXPECT_EQ(AnsiStr("abc").Find("", 0, 1), -1);
}

TEST(AnsiStr, FindLastCountsFromTheEnd) {
    AnsiStr text("ab://a/b/c.gif");
    EXPECT_EQ(text.FindLast("/", 1), 8);
    EXPECT_EQ(text.FindLast("/", 2), 6);
    EXPECT_EQ(text.FindLast("/", 5), -1);
    EXPECT_EQ(AnsiStr("X.DLL\\A.DLL\\B").FindLast(".DLL\\", 1), 7);
    EXPECT_EQ(AnsiStr("abcabcab").FindLast("abc", 1), 3);
    EXPECT_EQ(AnsiStr("aaaa").FindLast("aa", 2), 0);
    EXPECT_EQ(AnsiStr("ab").FindLast("abc", 1), -1);
    EXPECT_EQ(AnsiStr("xyzzy").FindLast("zy", 1), 3);
}

TEST(AnsiStr, MidCopiesARange) {
    EXPECT_EQ(MidOf("abc://x.dll/a", 6, 0), "x.dll/a");
    EXPECT_EQ(MidOf("abcdef", 2, 3), "cde");
    EXPECT_EQ(MidOf("abcdef", 4, 3), "ef");
    EXPECT_EQ(MidOf("abcdef", -2, 2), "ab");
    EXPECT_EQ(MidOf("abcdef", 6, 1), "");
    EXPECT_EQ(MidOf("", 0, 0), "");
}

TEST(AnsiStr, BetweenCutsBetweenMarkers) {
    Cut cut = BetweenOf("a[bc]d", "[", "]", 1);
    EXPECT_EQ(cut.text, "bc");
    EXPECT_EQ(cut.pos, 4);
    EXPECT_EQ(BetweenOf("a[bc]d", "[", "]", 2).text, "[bc]");
    EXPECT_EQ(BetweenOf("a[bc]d", "[", "]", 0).text, "[bc");
    EXPECT_EQ(BetweenOf("a[]d", "[", "]", 1).text, "");
    EXPECT_EQ(BetweenOf("a[]d", "[", "]", 0).text, "");
    EXPECT_EQ(BetweenOf("a[]d", "[", "]", 2).text, "[]");
    cut = BetweenOf("abc", "", "]", 4);
    EXPECT_EQ(cut.text, "abc");
    EXPECT_EQ(cut.pos, 3);
    cut = BetweenOf("abc", "", "]", 0);
    EXPECT_EQ(cut.text, "");
    EXPECT_EQ(cut.pos, -1);
    EXPECT_EQ(BetweenOf("abc", "<", ">", 1).pos, -1);
}

TEST(AnsiStr, AppendGrowsInSteps) {
    AnsiStr text;
    text.Append("ab");
    EXPECT_EQ(text.Capacity(), 260u);
    text.Append(std::string(300, 'x').c_str());
    EXPECT_EQ(text.Capacity(), 1024u);
    text.Append(std::string(1198, 'y').c_str());
    EXPECT_EQ(text.Length(), 1500u);
    EXPECT_EQ(text.Capacity(), 1501u);
    text.Append(static_cast<const char *>(nullptr));
    EXPECT_EQ(text.Length(), 1500u);
    // A long text built chunk by chunk, as a reply is read, is copied a
    // bounded number of times, not once per chunk.
    const std::string chunk(1020, 'r');
    int copies = 0;
    for (int i = 0; i < 2000; ++i) {
        const DWORD before = text.Capacity();
        text.Append(chunk.c_str());
        copies += text.Capacity() != before;
    }
    EXPECT_EQ(text.Length(), 1500u + 2000u * 1020u);
    EXPECT_EQ(text.At(text.Length()), 0);
    EXPECT_LE(copies, 16);
    AnsiStr numbers("n=");
    numbers.AppendInt(-42);
    numbers.AppendChar('!');
    EXPECT_STREQ(numbers.c_str(), "n=-42!");
}

TEST(AnsiStr, AssignCopiesInPlaceOrReplaces) {
    AnsiStr text("hello world");
    text.Assign("hi");
    EXPECT_STREQ(text.c_str(), "hi");
    EXPECT_EQ(text.Capacity(), 80u);
    EXPECT_EQ(text.At(5), 0); // the old text's bytes are gone
    text.Assign(text.c_str());
    EXPECT_STREQ(text.c_str(), "hi");
    text.Assign(std::string(90, 'z').c_str());
    EXPECT_EQ(text.Capacity(), 91u);
    text.Assign(static_cast<const char *>(nullptr));
    EXPECT_EQ(text.Length(), 0u);
}

TEST(AnsiStr, ReserveKeepsOrDiscards) {
    AnsiStr text("abcdefgh");
    EXPECT_EQ(text.Reserve(5, false), 80u);
    EXPECT_STREQ(text.c_str(), "abcde");
    EXPECT_EQ(text.Length(), 5u);
    text.Reserve(200, false);
    EXPECT_STREQ(text.c_str(), "abcde");
    EXPECT_EQ(text.Capacity(), 200u);
    text.Reserve(10, true);
    EXPECT_STREQ(text.c_str(), "");
    AnsiStr none;
    EXPECT_EQ(none.Reserve(0, true), 80u);
}

TEST(AnsiStr, IndexBeyondTheBufferGivesScratch) {
    AnsiStr text("ab");
    EXPECT_EQ(text.At(1), 'b');
    text.At(500) = 'x';
    EXPECT_EQ(text.At(501), 0);
    AnsiStr empty;
    EXPECT_EQ(empty.At(0), 0);
}

TEST(AnsiStr, TrimRemovesSpacesOnly) {
    AnsiStr text("  a b  ");
    text.Trim();
    EXPECT_STREQ(text.c_str(), "a b");
    EXPECT_EQ(text.Length(), 3u);
    AnsiStr tabs("\ta\t");
    tabs.Trim();
    EXPECT_STREQ(tabs.c_str(), "\ta\t");
    AnsiStr spaces("   ");
    spaces.Trim();
    EXPECT_EQ(spaces.Length(), 0u);
}

TEST(AnsiStr, DeleteMovesTheTail) {
    AnsiStr text("abcdef");
    EXPECT_EQ(text.Delete(1, 2), 4);
    EXPECT_STREQ(text.c_str(), "adef");
    EXPECT_EQ(text.Delete(-1, 2), 3);
    EXPECT_STREQ(text.c_str(), "def");
    EXPECT_EQ(text.Delete(2, 10), 2);
    EXPECT_STREQ(text.c_str(), "de");
    EXPECT_EQ(text.Delete(5, 1), 0);
    EXPECT_EQ(text.Delete(0, 0), 0);
    EXPECT_EQ(text.Delete(-5, 2), 0);
    EXPECT_STREQ(text.c_str(), "de");
}

TEST(AnsiStr, EditsWorkByteByByte) {
    AnsiStr path("a/b/c");
    path.ReplaceChar('/', '\\', false);
    EXPECT_STREQ(path.c_str(), "a\\b/c");
    path.ReplaceChar('/', '\\', true);
    EXPECT_STREQ(path.c_str(), "a\\b\\c");
    AnsiStr mixed(("res://x" + testing_support::Ansi("中")).c_str());
    mixed.ToUpper();
    EXPECT_EQ(std::string(mixed.c_str()), "RES://X" + testing_support::Ansi("中"));
    AnsiStr joined;
    AnsiStr::Concat(joined, "file://", AnsiStr("/tmp/x"));
    EXPECT_STREQ(joined.c_str(), "file:///tmp/x");
}

TEST(AnsiStr, EqualsTreatsNullApart) {
    EXPECT_TRUE(AnsiStr("abc").Equals("abc"));
    EXPECT_FALSE(AnsiStr("abc").Equals("ABC"));
    EXPECT_FALSE(AnsiStr().Equals(""));
    EXPECT_TRUE(AnsiStr().Equals(nullptr));
    EXPECT_FALSE(AnsiStr("a").Equals(nullptr));
}

TEST(AnsiStr, ConvertsBetweenWideAndAnsi) {
    AnsiStr text;
    text.FromWide(u"中文abc");
    EXPECT_EQ(std::string(text.c_str()), testing_support::Ansi("中文abc"));
    EXPECT_EQ(text.Length(), 7u);
    int count = 0;
    const WCHAR *wide = text.ToWide(&count);
    EXPECT_EQ(std::u16string(wide), u"中文abc");
    EXPECT_EQ(count, 6);
    text.FromWide(u"x\u0E01"); // a character GBK lacks
    EXPECT_STREQ(text.c_str(), "x?");
    text.FromWide(nullptr);
    EXPECT_EQ(text.Length(), 0u);
    EXPECT_EQ(std::u16string(AnsiStr().ToWide()), u"");
    EXPECT_EQ(std::string(AnsiStr::FromUtf8("错误").c_str()), testing_support::Ansi("错误"));
}

TEST(AnsiStr, LoadsFolders) {
    AnsiStr temp(AnsiStr::kTempFolder);
    EXPECT_EQ(std::string(temp.c_str()), std::string(getenv("TMPDIR")));
    EXPECT_EQ(temp.Capacity(), 260u);
    AnsiStr file(AnsiStr::kModuleFile);
    AnsiStr folder(AnsiStr::kModuleFolder);
    EXPECT_NE(std::string(file.c_str()).find("test_support"), std::string::npos);
    EXPECT_EQ(std::string(file.c_str()).substr(0, folder.Length() + 1),
              std::string(folder.c_str()) + "/");
    AnsiStr unknown(-32700);
    EXPECT_EQ(unknown.Length(), 0u);
}

TEST(AnsiStr, LoadsStringResources) {
    AnsiStr text("old");
    text.LoadRes(1, GetModuleHandleA(nullptr));
    EXPECT_STREQ(text.c_str(), "main module");
    EXPECT_EQ(text.Capacity(), 1024u);
    text.LoadRes(999, GetModuleHandleA(nullptr));
    EXPECT_EQ(text.Length(), 0u);
}
