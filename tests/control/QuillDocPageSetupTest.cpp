// PageSetup: the browser's header and footer, saved at creation.
#include "QuillDocFixture.h"

namespace {

const char *kKey = "Software\\Microsoft\\Internet Explorer\\PageSetup";

void SetValue(const char *name, const std::string &text) {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
}

std::string GetValue(const char *name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "(no key)";
    char buffer[256] = {};
    DWORD size = sizeof buffer;
    LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::string(buffer, strnlen(buffer, size)) : "(no value)";
}

class PageSetupTest : public QuillDocFixture {
protected:
    void SetUp() override {
        SetValue("header", "&w&b页码，&p/&P");
        SetValue("footer", "&u&b&d");
    }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }
};

} // namespace

TEST_F(PageSetupTest, BlankingThenRestoringLeavesTheRegistryAsItWas) {
    const std::string header = GetValue("header"), footer = GetValue("footer");
    IQuillDoc *doc = CreateDoc();
    EXPECT_EQ(doc->PageSetup(3), S_OK);
    EXPECT_EQ(GetValue("header"), "");
    EXPECT_EQ(GetValue("footer"), "");
    EXPECT_EQ(doc->PageSetup(0), S_OK);
    EXPECT_EQ(GetValue("header"), header);
    EXPECT_EQ(GetValue("footer"), footer);
    doc->Release();
}

TEST_F(PageSetupTest, OneAndTwoBlankOneLine) {
    IQuillDoc *doc = CreateDoc();
    doc->PageSetup(1);
    EXPECT_EQ(GetValue("header"), "");
    EXPECT_EQ(GetValue("footer"), "&u&b&d");
    doc->PageSetup(0);
    doc->PageSetup(2);
    EXPECT_NE(GetValue("header"), "");
    EXPECT_EQ(GetValue("footer"), "");
    doc->Release();
}

TEST_F(PageSetupTest, FiveRestoresAndMinusOneBlanksBoth) {
    IQuillDoc *doc = CreateDoc();
    doc->PageSetup(3);
    doc->PageSetup(5);
    EXPECT_EQ(GetValue("footer"), "&u&b&d");
    EXPECT_NE(GetValue("header"), "");
    doc->PageSetup(-1);
    EXPECT_EQ(GetValue("header"), "");
    EXPECT_EQ(GetValue("footer"), "");
    doc->Release();
}

TEST_F(PageSetupTest, AHeaderTooLongIsNotSaved) {
    SetValue("header", std::string(120, 'h'));
    IQuillDoc *doc = CreateDoc();
    doc->PageSetup(0);
    EXPECT_EQ(GetValue("header"), "");
    EXPECT_EQ(GetValue("footer"), "&u&b&d");
    doc->Release();
}

TEST_F(PageSetupTest, EachObjectRestoresWhatItSawAtCreation) {
    IQuillDoc *first = CreateDoc();
    first->PageSetup(3);
    IQuillDoc *second = CreateDoc();
    first->PageSetup(0);
    EXPECT_EQ(GetValue("footer"), "&u&b&d");
    second->PageSetup(0);
    EXPECT_EQ(GetValue("footer"), "");
    first->Release();
    second->Release();
}

TEST_F(PageSetupTest, AMissingKeyRestoresBlankLines) {
    RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
    IQuillDoc *doc = CreateDoc();
    doc->PageSetup(0);
    EXPECT_EQ(GetValue("header"), "");
    EXPECT_EQ(GetValue("footer"), "");
    doc->Release();
}
