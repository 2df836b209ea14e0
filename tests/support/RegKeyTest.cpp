#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "platform/user/UiHost.h"
#include "support/RegKey.h"
#include "testing/TestSupport.h"

namespace {

class RegKeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto host = std::make_unique<platform::ScriptedUiHost>();
        m_host = host.get();
        platform::UiHost::Install(std::move(host));
    }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\RegKeyTest"); }

    platform::ScriptedUiHost *m_host = nullptr;
};

} // namespace

TEST_F(RegKeyTest, WritesTextWithoutItsTerminator) {
    RegKey key;
    ASSERT_TRUE(key.Write(HKEY_CURRENT_USER, "Software\\RegKeyTest", "header", "&w&b"));
    char buffer[16];
    memset(buffer, 'x', sizeof buffer);
    DWORD type = 0, size = 0;
    ASSERT_TRUE(key.Read(HKEY_CURRENT_USER, "Software\\RegKeyTest", "header", buffer, sizeof buffer,
                         &type, &size));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(std::string(buffer, 4), "&w&b");
}

TEST_F(RegKeyTest, EmptyTextStoresZeroBytes) {
    RegKey key;
    ASSERT_TRUE(key.Write(HKEY_CURRENT_USER, "Software\\RegKeyTest", "footer", ""));
    char buffer[8];
    DWORD size = 0xdeadbeef;
    ASSERT_TRUE(key.Read(HKEY_CURRENT_USER, "Software\\RegKeyTest", "footer", buffer, sizeof buffer,
                         nullptr, &size));
    EXPECT_EQ(size, 0u);
}

TEST_F(RegKeyTest, ReadMoreUsesTheKeyLeftOpen) {
    RegKey writer;
    writer.Write(HKEY_CURRENT_USER, "Software\\RegKeyTest", "a", "1");
    writer.Write(HKEY_CURRENT_USER, "Software\\RegKeyTest", "b", "22");
    RegKey key;
    char buffer[8] = {};
    EXPECT_FALSE(key.ReadMore("a", buffer, sizeof buffer));
    ASSERT_TRUE(key.Read(HKEY_CURRENT_USER, "Software\\RegKeyTest", "a", buffer, sizeof buffer));
    DWORD size = 0;
    ASSERT_TRUE(key.ReadMore("b", buffer, sizeof buffer, nullptr, &size));
    EXPECT_EQ(std::string(buffer, size), "22");
}

TEST_F(RegKeyTest, RefusesEmptySubkeysAndShortBuffers) {
    RegKey key;
    char buffer[4];
    EXPECT_FALSE(key.Read(HKEY_CURRENT_USER, "", "x", buffer, sizeof buffer));
    EXPECT_FALSE(key.Read(HKEY_CURRENT_USER, nullptr, "x", buffer, sizeof buffer));
    key.Write(HKEY_CURRENT_USER, "Software\\RegKeyTest", "long", "longer than four");
    EXPECT_FALSE(key.Read(HKEY_CURRENT_USER, "Software\\RegKeyTest", "long", buffer, sizeof buffer));
    EXPECT_FALSE(key.Read(HKEY_CURRENT_USER, "Software\\RegKeyTest\\Missing", "x", buffer, 4));
    EXPECT_FALSE(key.Write(HKEY_CURRENT_USER, nullptr, "x", "y"));
    EXPECT_TRUE(m_host->Shown().empty());
}

TEST_F(RegKeyTest, AKeyThatCannotBeCreatedIsReported) {
    RegKey key;
    // A subkey that begins with a separator cannot be created.
    EXPECT_FALSE(key.Write(HKEY_CURRENT_USER, "\\Bad\\Key", "v", "t"));
    auto shown = m_host->Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "错误");
    EXPECT_EQ(shown[0].text, "错误：不能创建注册表项：HKEY_CURRENT_USER\\\\Bad\\Key");
    EXPECT_EQ(shown[0].type, static_cast<UINT>(MB_ICONWARNING));
}

TEST_F(RegKeyTest, AnOpenKeyIsWrittenDirectly) {
    HKEY open = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\RegKeyTest", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &open, nullptr),
              ERROR_SUCCESS);
    RegKey key;
    EXPECT_TRUE(key.Write(open, "ignored", "direct", "yes"));
    RegCloseKey(open);
    char buffer[8] = {};
    EXPECT_TRUE(key.Read(HKEY_CURRENT_USER, "Software\\RegKeyTest", "direct", buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "yes");
    EXPECT_STREQ(RegKey::RootName(open), "");
}
