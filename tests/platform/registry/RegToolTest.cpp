// The registry seen from another process, through the registry tool.
#include <gtest/gtest.h>
#include <string>

#include "platform/win32.h"
#include "testing/TestSupport.h"

namespace {
const std::string kTool = REGTOOL_PATH;
}

TEST(RegTool, ReadsWhatThisProcessWrote) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\ToolTest", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    std::string text = testing_support::Ansi("页脚");
    RegSetValueExA(key, "footer", 0, REG_SZ, reinterpret_cast<const BYTE *>(text.data()),
                   static_cast<DWORD>(text.size()));
    RegCloseKey(key);
    auto result = testing_support::Run({kTool, "query", "HKCU\\Software\\ToolTest", "footer"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "页脚\n");
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ToolTest");
}

TEST(RegTool, WritesWhatThisProcessReads) {
    ASSERT_EQ(testing_support::Run({kTool, "set", "HKEY_CURRENT_USER\\Software\\ToolTest\\Sub",
                                    "count", "REG_DWORD", "0x2a"})
                  .exitCode,
              0);
    ASSERT_EQ(
        testing_support::Run({kTool, "set", "HKCU\\Software\\ToolTest\\Sub", "@", "REG_SZ", "默认"})
            .exitCode,
        0);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software\\tooltest\\sub", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD value = 0, size = 4, type = 0;
    EXPECT_EQ(
        RegQueryValueExA(key, "count", nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value, 42u);
    char text[16] = {};
    size = sizeof text;
    EXPECT_EQ(RegQueryValueExA(key, "", nullptr, &type, reinterpret_cast<LPBYTE>(text), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(text, testing_support::Ansi("默认").c_str());
    RegCloseKey(key);

    auto exported = testing_support::Run({kTool, "export", "HKCU\\Software\\ToolTest"});
    EXPECT_EQ(exported.exitCode, 0);
    EXPECT_NE(exported.output.find("[HKEY_CURRENT_USER\\Software\\ToolTest\\Sub]"),
              std::string::npos);
    EXPECT_NE(exported.output.find("\"count\"=dword:0000002a"), std::string::npos);
    EXPECT_NE(exported.output.find("@=\"默认\""), std::string::npos);

    EXPECT_EQ(testing_support::Run({kTool, "delete", "HKCU\\Software\\ToolTest"}).exitCode, 0);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\ToolTest", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_NE(testing_support::Run({kTool, "query", "HKCU\\Software\\ToolTest"}).exitCode, 0);
    EXPECT_EQ(testing_support::Run({kTool, "bogus", "HKCU\\x"}).exitCode, 2);
}

TEST(RegTool, ExportedKeysImportBack) {
    const auto trail = testing_support::BackslashTrailCharacters();
    ASSERT_GE(trail.size(), 2u);
    const std::string dir = testing_support::MakeTempDir("regtool-");
    const std::string file = dir + "/导出" + trail[0] + ".reg";
    const std::string base = "HKCU\\Software\\ToolTest\\";
    // Written through the tool (UTF-8 on its command line) with values whose
    // text needs escapes, a number and bytes.
    for (const std::string &name : trail) {
        ASSERT_EQ(testing_support::Run({kTool, "set", base + name + "key", "名" + name, "REG_SZ",
                                        "\"" + name + "\\"})
                      .exitCode,
                  0);
    }
    ASSERT_EQ(testing_support::Run({kTool, "set", base + trail[0] + "key", "n", "REG_DWORD", "7"})
                  .exitCode,
              0);
    ASSERT_EQ(
        testing_support::Run({kTool, "set", base + trail[1] + "key", "b", "REG_BINARY", "5c00ff"})
            .exitCode,
        0);
    const auto query = [&](const std::string &key, const std::string &name) {
        return testing_support::Run({kTool, "query", base + key, name});
    };
    const std::string before = query(trail[0] + "key", "名" + trail[0]).output +
                               query(trail[1] + "key", "名" + trail[1]).output +
                               query(trail[0] + "key", "n").output +
                               query(trail[1] + "key", "b").output;
    ASSERT_EQ(testing_support::Run({kTool, "export", "HKCU\\Software\\ToolTest", file}).exitCode,
              0);
    EXPECT_NE(testing_support::ReadFile(file).find("[HKEY_CURRENT_USER\\Software\\ToolTest\\" +
                                                   trail[0] + "key]"),
              std::string::npos);
    ASSERT_EQ(testing_support::Run({kTool, "delete", "HKCU\\Software\\ToolTest"}).exitCode, 0);
    EXPECT_NE(query(trail[0] + "key", "n").exitCode, 0);

    ASSERT_EQ(testing_support::Run({kTool, "import", file}).exitCode, 0);
    const std::string after = query(trail[0] + "key", "名" + trail[0]).output +
                              query(trail[1] + "key", "名" + trail[1]).output +
                              query(trail[0] + "key", "n").output +
                              query(trail[1] + "key", "b").output;
    EXPECT_EQ(after, before);
    EXPECT_EQ(before, "\"" + trail[0] + "\\\n\"" + trail[1] + "\\\n0x7 (7)\n5c00ff\n");
    testing_support::WriteFile(file, "REGEDIT4\n\n\"orphan\"=\"no key\"\n");
    EXPECT_EQ(testing_support::Run({kTool, "import", file}).exitCode, 1);
    testing_support::Run({kTool, "delete", "HKCU\\Software\\ToolTest"});
    testing_support::RemoveTree(dir);
}
