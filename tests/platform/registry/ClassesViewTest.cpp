// HKEY_CLASSES_ROOT over the machine's and the user's hives, in one process
// that may write both (the test run's own places). What a user who may not
// write the machine's hive sees is tested with real users in
// tests/tools/MachineRegistrationTest.cpp.
#include <cstdlib>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/win32.h"
#include "testing/TestSupport.h"

namespace {

std::string Read(HKEY root, const std::string &subkey, const char *name = nullptr) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "(no key)";
    char buffer[256] = {};
    DWORD size = sizeof buffer - 1;
    LONG rc =
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::string(buffer) : "(no value)";
}

LONG Write(HKEY root, const std::string &subkey, const std::string &text,
           DWORD *disposition = nullptr) {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              disposition);
    if (rc != ERROR_SUCCESS)
        return rc;
    rc = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                        static_cast<DWORD>(text.size()));
    RegCloseKey(key);
    return rc;
}

std::vector<std::string> Subkeys(HKEY root, const std::string &subkey) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    char name[64];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    RegCloseKey(key);
    return names;
}

// Where each hive keeps its classes.
const std::string kClasses = "Software\\Classes\\";

// Points the hives at fresh places for one test, and back afterwards.
class FreshHives : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = testing_support::MakeTempDir("hives-");
        m_savedUser = getenv("QUILLBAY_HOME");
        m_savedMachine = getenv("QUILLBAY_MACHINE_HOME");
        setenv("QUILLBAY_HOME", (m_dir + "/user").c_str(), 1);
        setenv("QUILLBAY_MACHINE_HOME", (m_dir + "/machine/quillbay").c_str(), 1);
    }
    void TearDown() override {
        setenv("QUILLBAY_HOME", m_savedUser.c_str(), 1);
        setenv("QUILLBAY_MACHINE_HOME", m_savedMachine.c_str(), 1);
        testing_support::RemoveTree(m_dir);
    }

    std::string m_dir, m_savedUser, m_savedMachine;
};

} // namespace

TEST(ClassesView, UserClassWinsOverTheMachines) {
    const std::string cls = "Test.Wins";
    ASSERT_EQ(Write(HKEY_LOCAL_MACHINE, kClasses + cls + "\\CLSID", "machine"), 0);
    ASSERT_EQ(Write(HKEY_LOCAL_MACHINE, kClasses + cls + "\\CurVer", "Test.Wins.1"), 0);
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, cls + "\\CLSID"), "machine");
    ASSERT_EQ(Write(HKEY_CURRENT_USER, kClasses + cls + "\\CLSID", "user"), 0);
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, cls + "\\CLSID"), "user");
    // A key the user lacks below the user's own key is still the machine's.
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, cls + "\\CurVer"), "Test.Wins.1");
    // A handle opened through the view follows the hives as they change.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, (cls + "\\CLSID").c_str(), 0, KEY_READ, &key), 0);
    ASSERT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, (kClasses + cls).c_str()), 0);
    char text[16] = {};
    DWORD size = sizeof text;
    EXPECT_EQ(
        RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<LPBYTE>(text), &size),
        ERROR_SUCCESS);
    EXPECT_STREQ(text, "machine");
    RegCloseKey(key);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kClasses + cls).c_str());
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, cls), "(no key)");
}

TEST(ClassesView, SubkeysOfBothHivesEnumerateOnceInNameOrder) {
    for (const char *name : {"b", "A", "c"})
        Write(HKEY_LOCAL_MACHINE, kClasses + "Test.Enum\\" + name, "m");
    for (const char *name : {"a", "d"})
        Write(HKEY_CURRENT_USER, kClasses + "Test.Enum\\" + name, "u");
    EXPECT_EQ(Subkeys(HKEY_CLASSES_ROOT, "Test.Enum"),
              (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, "Test.Enum\\A"), "u");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kClasses + "Test.Enum").c_str());
    RegDeleteTreeA(HKEY_CURRENT_USER, (kClasses + "Test.Enum").c_str());
}

TEST(ClassesView, WritesGoToTheMachineWhenThisProcessMayWriteIt) {
    DWORD disposition = 0;
    ASSERT_EQ(Write(HKEY_CLASSES_ROOT, "Test.Written\\CLSID", "{1}", &disposition), 0);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, kClasses + "Test.Written\\CLSID"), "{1}");
    EXPECT_EQ(Read(HKEY_CURRENT_USER, kClasses + "Test.Written"), "(no key)");
    // A key the user holds is no new key of the view, though the machine lacked it.
    Write(HKEY_CURRENT_USER, kClasses + "Test.Mine", "u");
    ASSERT_EQ(Write(HKEY_CLASSES_ROOT, "Test.Mine", "m", &disposition), 0);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, "Test.Mine"), "u"); // the machine's write stays hidden

    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Test.Written"),
              ERROR_ACCESS_DENIED); // has a subkey
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "Test.Written"), ERROR_SUCCESS);
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, kClasses + "Test.Written"), "(no key)");
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "Test.Written"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, ""), ERROR_ACCESS_DENIED);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "Test.Mine");
    RegDeleteTreeA(HKEY_CURRENT_USER, (kClasses + "Test.Mine").c_str());
}

TEST_F(FreshHives, ReadingMakesNoHiveAndTheMachinesIsReadableByAll) {
    HKEY key = reinterpret_cast<HKEY>(0xdeadbeef);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Read(HKEY_CURRENT_USER, "Software"), "(no key)");
    EXPECT_TRUE(Subkeys(HKEY_CLASSES_ROOT, "").empty());
    struct stat st;
    EXPECT_NE(stat((m_dir + "/user").c_str(), &st), 0);
    EXPECT_NE(stat((m_dir + "/machine").c_str(), &st), 0);

    mode_t saved = umask(077);
    ASSERT_EQ(Write(HKEY_LOCAL_MACHINE, "Software\\Test", "x"), 0);
    umask(saved);
    ASSERT_EQ(stat((m_dir + "/machine/quillbay").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    ASSERT_EQ(stat((m_dir + "/machine/quillbay/registry.db").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_NE(stat((m_dir + "/user").c_str(), &st), 0); // still no user hive
}

// User hives written before the classes view kept HKEY_CLASSES_ROOT as a top
// key of their own; their classes move to the user's Software\Classes.
TEST_F(FreshHives, OlderUserHivesKeepTheirClasses) {
    testing_support::Run({"/bin/mkdir", "-p", m_dir + "/user"});
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open((m_dir + "/user/registry.db").c_str(), &db), SQLITE_OK);
    const char *old =
        "CREATE TABLE keys(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL,"
        " name TEXT NOT NULL COLLATE NOCASE, UNIQUE(parent, name));"
        "CREATE TABLE vals(key INTEGER NOT NULL, name TEXT NOT NULL COLLATE NOCASE,"
        " type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, name));"
        "INSERT INTO keys VALUES (1, 0, 'HKEY_CLASSES_ROOT'), (2, 0, 'HKEY_CURRENT_USER'),"
        " (3, 0, 'HKEY_LOCAL_MACHINE'), (4, 0, 'HKEY_USERS'), (10, 1, 'Old.Class'),"
        " (11, 10, 'CLSID'), (12, 2, 'Software');"
        "INSERT INTO vals VALUES (11, '', 1, CAST('{0LD}' AS BLOB));";
    ASSERT_EQ(sqlite3_exec(db, old, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, "Old.Class\\CLSID"), "{0LD}");
    EXPECT_EQ(Read(HKEY_CURRENT_USER, "Software\\Classes\\Old.Class\\CLSID"), "{0LD}");
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, "Software\\Classes\\Old.Class"), "(no key)");
}
