#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/win32.h"
#include "testing/SmallDisk.h"
#include "testing/TestSupport.h"

namespace {

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        m_path = std::string("Software\\QuillbayTest\\") +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QuillbayTest"); }

    HKEY Create(const std::string &path) {
        HKEY key = nullptr;
        DWORD disposition = 0;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, &disposition),
                  ERROR_SUCCESS);
        return key;
    }

    std::string m_path;
};

} // namespace

TEST_F(Registry, CreatesOpensAndReportsDisposition) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    RegCloseKey(key);
    HKEY missing = reinterpret_cast<HKEY>(0xdeadbeef);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (m_path + "\\nope").c_str(), 0, KEY_READ, &missing),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing, nullptr);
}

TEST_F(Registry, KeyAndValueNamesIgnoreCase) {
    HKEY key = Create(m_path + "\\Inner");
    const char text[] = "value";
    ASSERT_EQ(RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE *>(text), 6),
              ERROR_SUCCESS);
    RegCloseKey(key);
    std::string upper = m_path;
    for (char &c : upper)
        c = static_cast<char>(toupper(c));
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (upper + "\\INNER").c_str(), 0, KEY_READ, &key),
              ERROR_SUCCESS);
    char buffer[16] = {};
    DWORD size = sizeof buffer, type = 0;
    EXPECT_EQ(
        RegQueryValueExA(key, "NAME", nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 6u);
    EXPECT_STREQ(buffer, "value");
    RegCloseKey(key);
}

TEST_F(Registry, ValueTypesAndBytesAreKept) {
    HKEY key = Create(m_path);
    DWORD number = 0x12345678;
    const BYTE binary[] = {0, 1, 2, 0xFF};
    std::string chinese = testing_support::Ansi("页眉&b第&p页");
    RegSetValueExA(key, "n", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&number), 4);
    RegSetValueExA(key, "b", 0, REG_BINARY, binary, 4);
    RegSetValueExA(key, "s", 0, REG_SZ, reinterpret_cast<const BYTE *>(chinese.data()),
                   static_cast<DWORD>(chinese.size()));
    RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE *>(""), 0);

    BYTE buffer[64];
    DWORD type = 0, size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExA(key, "n", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(memcmp(buffer, &number, 4), 0);
    size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExA(key, "b", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), size),
              std::string(reinterpret_cast<const char *>(binary), 4));
    size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExA(key, "s", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), size), chinese);
    size = 0xdeadbeef;
    ASSERT_EQ(RegQueryValueExA(key, nullptr, nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 0u); // an empty string stores zero bytes
    RegCloseKey(key);
}

TEST_F(Registry, ShortBuffersGetMoreData) {
    HKEY key = Create(m_path);
    std::string longText(120, 'h');
    RegSetValueExA(key, "header", 0, REG_SZ, reinterpret_cast<const BYTE *>(longText.data()), 120);
    char buffer[96];
    DWORD size = sizeof buffer;
    EXPECT_EQ(
        RegQueryValueExA(key, "header", nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size),
        ERROR_MORE_DATA);
    EXPECT_EQ(size, 120u);
    size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "header", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 120u);
    EXPECT_EQ(RegQueryValueExA(key, "none", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(Registry, DeletesValuesKeysAndTrees) {
    HKEY key = Create(m_path + "\\A\\B");
    RegCloseKey(key);
    key = Create(m_path);
    RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE *>("x"), 1);
    EXPECT_EQ(RegDeleteValueA(key, "v"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "v"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(key, "A"), ERROR_ACCESS_DENIED); // it has a subkey
    EXPECT_EQ(RegDeleteKeyA(key, "A\\B"), ERROR_SUCCESS);
    key = Create(m_path + "\\A\\C\\D");
    RegCloseKey(key);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, (m_path + "\\A").c_str()), ERROR_SUCCESS);
    HKEY gone = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (m_path + "\\A").c_str(), 0, KEY_READ, &gone),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED); // not a root
}

TEST_F(Registry, HandlesOfDeletedKeysAreRefused) {
    HKEY key = Create(m_path + "\\Doomed");
    EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, (m_path + "\\Doomed").c_str()), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE *>("x"), 1),
              ERROR_KEY_DELETED);
    RegCloseKey(key);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, EnumeratesInNameOrder) {
    HKEY key = Create(m_path);
    for (const char *name : {"b", "a", "C"}) {
        HKEY sub = nullptr;
        RegCreateKeyExA(key, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr);
        RegCloseKey(sub);
    }
    std::vector<std::string> names;
    char name[8];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "C"}));
    RegCloseKey(key);
}

TEST_F(Registry, ProcessesWritingAtOnceLoseNothing) {
    HKEY key = Create(m_path);
    RegCloseKey(key);
    const int kWriters = 4, kValues = 50;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = fork();
        if (pid == 0) {
            int failures = 0;
            for (int v = 0; v < kValues; ++v) {
                HKEY mine = nullptr;
                std::string name = "w" + std::to_string(w) + "_" + std::to_string(v);
                if (RegCreateKeyExA(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, &mine, nullptr) != ERROR_SUCCESS ||
                    RegSetValueExA(mine, name.c_str(), 0, REG_DWORD,
                                   reinterpret_cast<const BYTE *>(&v), 4) != ERROR_SUCCESS)
                    ++failures;
                RegCloseKey(mine);
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children)
        EXPECT_EQ(testing_support::Wait(pid), 0);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, m_path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    int count = 0;
    char name[32];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        if (RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        ++count;
    }
    EXPECT_EQ(count, kWriters * kValues);
    RegCloseKey(key);
}

TEST_F(Registry, AWriteOnAFullDiskFailsAndTheOldValueStays) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to mount a file system of its own";
    testing_support::SmallDisk disk(1 << 20);
    std::string why;
    ASSERT_TRUE(disk.Ready(why)) << why;
    {
        testing_support::ScopedEnvironment home("QUILLBAY_HOME", disk.Path() + "/home");
        HKEY key = Create(m_path);
        const std::string old = "the value before";
        ASSERT_EQ(RegSetValueExA(key, "conn7", 0, REG_SZ,
                                 reinterpret_cast<const BYTE *>(old.c_str()),
                                 static_cast<DWORD>(old.size() + 1)),
                  ERROR_SUCCESS);
        disk.Fill();
        // A value larger than anything the hive's file has room for.
        const std::string large(300 * 1024, 'v');
        EXPECT_EQ(RegSetValueExA(key, "conn7", 0, REG_SZ,
                                 reinterpret_cast<const BYTE *>(large.c_str()),
                                 static_cast<DWORD>(large.size() + 1)),
                  ERROR_DISK_FULL);
        char data[64] = {};
        DWORD size = sizeof data, type = 0;
        EXPECT_EQ(
            RegQueryValueExA(key, "conn7", nullptr, &type, reinterpret_cast<BYTE *>(data), &size),
            ERROR_SUCCESS);
        EXPECT_EQ(std::string(data), old);
        disk.Free();
        EXPECT_EQ(RegSetValueExA(key, "conn7", 0, REG_SZ,
                                 reinterpret_cast<const BYTE *>(large.c_str()),
                                 static_cast<DWORD>(large.size() + 1)),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    // The registry leaves the small disk's hive for the run's own.
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QuillbayTest");
}

TEST_F(Registry, KeysEndingInABackslashTrailByteStayApart) {
    const auto trail = testing_support::BackslashTrailCharacters();
    ASSERT_GE(trail.size(), 2u);
    const std::string first = testing_support::Ansi(trail[0] + "key");
    const std::string second = testing_support::Ansi(trail[1] + "key");
    for (const std::string &name : {first, second}) {
        HKEY key = Create(m_path + "\\" + name);
        RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE *>(name.data()),
                       static_cast<DWORD>(name.size()));
        RegCloseKey(key);
    }
    HKEY parent = Create(m_path);
    std::vector<std::string> names;
    char name[64];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(parent, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    RegCloseKey(parent);
    EXPECT_EQ(names.size(), 2u);
    for (const std::string &wanted : {first, second}) {
        EXPECT_NE(std::find(names.begin(), names.end(), wanted), names.end());
        HKEY key = nullptr;
        ASSERT_EQ(
            RegOpenKeyExA(HKEY_CURRENT_USER, (m_path + "\\" + wanted).c_str(), 0, KEY_READ, &key),
            ERROR_SUCCESS);
        char value[64] = {};
        DWORD size = sizeof value;
        EXPECT_EQ(
            RegQueryValueExA(key, "v", nullptr, nullptr, reinterpret_cast<LPBYTE>(value), &size),
            ERROR_SUCCESS);
        EXPECT_EQ(std::string(value), wanted);
        RegCloseKey(key);
    }
}
