// BeginCharOf, EncryptChar, GetCode and the result slot.
#include "QuillDocFixture.h"

namespace {

class Utilities : public QuillDocFixture {
protected:
    void SetUp() override { m_doc = CreateDoc(); }
    void TearDown() override { m_doc->Release(); }

    std::u16string BeginCharOf(const std::u16string &text, int length, const std::u16string &prefix) {
        BSTR out = nullptr;
        EXPECT_EQ(m_doc->BeginCharOf(Arg(text), length, Arg(prefix), &out), S_OK);
        return Take(out);
    }
    std::u16string EncryptChar(const std::u16string &text) {
        BSTR out = nullptr;
        EXPECT_EQ(m_doc->EncryptChar(Arg(text), &out), S_OK);
        return Take(out);
    }
    std::u16string Result() {
        BSTR out = reinterpret_cast<BSTR>(0xdeadbeef);
        EXPECT_EQ(m_doc->GetDBResult(&out), S_OK);
        return Take(out);
    }

    IQuillDoc *m_doc = nullptr;
};

} // namespace

TEST_F(Utilities, BeginCharOfPadsWithThePrefixsFirstCharacter) {
    EXPECT_EQ(BeginCharOf(u"123", 6, u"0"), u"000123");
    EXPECT_EQ(BeginCharOf(u"123", 6, u"0ab"), u"000123");
    EXPECT_EQ(BeginCharOf(u"中文", 5, u"0"), u"000中文");
    EXPECT_EQ(BeginCharOf(u"12", 6, u""), u"12");
}

TEST_F(Utilities, BeginCharOfCutsByBytes) {
    EXPECT_EQ(BeginCharOf(u"1234567", 4, u"0"), u"1234");
    EXPECT_EQ(BeginCharOf(u"abc", 0, u"0"), u"");
    EXPECT_EQ(BeginCharOf(u"abc", -3, u"0"), u"abc");
    // Three bytes of two GBK characters leave a lone lead byte.
    EXPECT_EQ(BeginCharOf(u"中文", 3, u""), u"中\u30FB");
    BSTR out = nullptr;
    EXPECT_EQ(m_doc->BeginCharOf(nullptr, 3, nullptr, &out), S_OK);
    EXPECT_EQ(Take(out), u"");
}

TEST_F(Utilities, ChineseTextPaddedToFiveCharactersIsSevenGbkBytes) {
    std::u16string padded = BeginCharOf(u"中文", 5, u"0");
    std::string gbk = platform::Utf8ToAnsi(platform::WideToUtf8(padded.c_str()));
    EXPECT_EQ(gbk.size(), 7u);
}

TEST_F(Utilities, EncryptCharKeysOnTheFirstByte) {
    EXPECT_EQ(EncryptChar(u"AB"), u"8283");
    EXPECT_EQ(EncryptChar(u"  AB "), u"8283");
    EXPECT_EQ(EncryptChar(u"\tA"), u"124A"); // tabs stay: 9 + 9, 65 + 9
    EXPECT_EQ(EncryptChar(u""), u"");
    EXPECT_EQ(EncryptChar(u"   "), u"");
    // 中 is D6 D0 in GBK: -42 - 42 = -84, then -48 - 42 = -90.
    EXPECT_EQ(EncryptChar(u"中"), u"FFFFFFACFFFFFFA6");
}

TEST_F(Utilities, GetCodeDrawsFromTheRange) {
    for (int i = 0; i < 50; ++i) {
        int n = -1;
        EXPECT_EQ(m_doc->GetCode(0, 9, &n), S_OK);
        EXPECT_GE(n, 0);
        EXPECT_LE(n, 9);
        n = -1;
        m_doc->GetCode(0, 1, &n);
        EXPECT_TRUE(n == 0 || n == 1);
    }
    int untouched = 0xdead;
    EXPECT_EQ(m_doc->GetCode(1, 1, &untouched), S_OK);
    EXPECT_EQ(m_doc->GetCode(-1, 5, &untouched), S_OK);
    EXPECT_EQ(untouched, 0xdead);
}

TEST_F(Utilities, TheResultSlotKeepsTheLastStringResult) {
    EXPECT_EQ(Result(), u"(null)"); // a fresh object has none
    BeginCharOf(u"7", 3, u"0");
    EXPECT_EQ(Result(), u"007");
    EXPECT_EQ(Result(), u"007");
    EncryptChar(u"AB");
    EXPECT_EQ(Result(), u"8283");
    int n = 0;
    m_doc->GetCode(0, 9, &n); // not a string result
    EXPECT_EQ(Result(), u"8283");
    EXPECT_EQ(m_doc->BeginCharOf(Arg(u"x"), 2, Arg(u"-"), nullptr), S_OK);
    EXPECT_EQ(Result(), u"-x");
}
