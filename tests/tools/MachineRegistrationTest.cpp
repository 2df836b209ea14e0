// Registration for the machine and for each user, as real users see it: the
// tools run as root and as two unprivileged users (numeric IDs with no
// account, through setpriv), each with a home of its own and the default
// place of its state, against one machine hive in a folder of the test.
// Needs root to change users; skipped otherwise.
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "testing/TestSupport.h"

namespace {

using testing_support::ProcessResult;

constexpr const char *kClassKey =
    "HKCR\\CLSID\\{AE9D5D26-B784-4C47-8830-86B5D0CA1F7C}\\InprocServer32";
constexpr uid_t kRoot = 0, kAlice = 65501, kBob = 65502;

class MachineRegistration : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to run the tools as other users";
        SKIP_UNDER_EMULATION("the tools start through setpriv, env and /bin/sh, which cannot "
                             "start a program of the emulated processor");
        // A folder every user may enter, outside the test run's private one.
        char pattern[] = "/tmp/quillbay-users-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        chmod(m_dir.c_str(), 0755);
        for (const char *folder : {"/bin", "/machine", "/shared"})
            mkdir((m_dir + folder).c_str(), 0755);
        for (const char *file : {"quillbay-reg", "quillbay-regsvr", "quillbay-script",
                                 "quillbay.so", "libqbplatform.so"})
            Copy(std::string(BIN_DIR) + "/" + file, m_dir + "/bin/" + file);
        // The same module at a second place, for the machine's registration.
        Copy(std::string(BIN_DIR) + "/quillbay.so", m_dir + "/shared/quillbay.so");
        for (uid_t uid : {kRoot, kAlice, kBob}) {
            std::string home = Home(uid);
            mkdir(home.c_str(), 0700);
            ASSERT_EQ(chown(home.c_str(), uid, uid), 0);
        }
        testing_support::WriteFile(m_dir + "/create.js",
                                   "var d = new ActiveXObject('Quillbay.QuillDoc');\n"
                                   "print(d.BeginCharOf('7', 3, '0'));\n");
    }
    void TearDown() override {
        if (!m_dir.empty())
            testing_support::RemoveTree(m_dir);
    }

    static void Copy(const std::string &from, const std::string &to) {
        ASSERT_EQ(testing_support::Run({"/bin/cp", from, to}).exitCode, 0) << from;
    }

    std::string Home(uid_t uid) const { return m_dir + "/home-" + std::to_string(uid); }

    // Runs a tool of the test's folder as a user, with a clean environment:
    // the user's home, the test's machine hive (and a sanitizer run's
    // options); standard error joins the output.
    ProcessResult As(uid_t uid, const std::vector<std::string> &command) const {
        std::vector<std::string> argv;
        if (uid != kRoot) {
            std::string id = std::to_string(uid);
            argv = {"/usr/bin/setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups"};
        }
        argv.insert(argv.end(), {"/usr/bin/env", "-i", "HOME=" + Home(uid),
                                 "QUILLBAY_MACHINE_HOME=" + m_dir + "/machine",
                                 "QUILLBAY_UI=headless", "TMPDIR=" + Home(uid)});
        for (const char *name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
            if (const char *value = getenv(name))
                argv.push_back(std::string(name) + "=" + value);
        }
        argv.insert(argv.end(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1"});
        argv.push_back(m_dir + "/bin/" + command[0]);
        argv.insert(argv.end(), command.begin() + 1, command.end());
        return testing_support::Run(argv);
    }

    // The object as a user's script creates it: "007", or the script's error.
    std::string Create(uid_t uid) const {
        return As(uid, {"quillbay-script", m_dir + "/create.js"}).output;
    }
    // Where the class's module is for a user, as HKEY_CLASSES_ROOT says.
    std::string ModuleFor(uid_t uid) const {
        return As(uid, {"quillbay-reg", "query", kClassKey, "@"}).output;
    }

    std::string m_dir;
};

} // namespace

TEST_F(MachineRegistration, AUserReadsTheMachineHiveButCannotWriteIt) {
    ASSERT_EQ(
        As(kRoot, {"quillbay-reg", "set", "HKLM\\Software\\Shared", "v", "REG_SZ", "all"}).exitCode,
        0);
    EXPECT_EQ(As(kAlice, {"quillbay-reg", "query", "HKLM\\Software\\Shared", "v"}).output, "all\n");
    ProcessResult set =
        As(kAlice, {"quillbay-reg", "set", "HKLM\\Software\\Shared", "v", "REG_SZ", "mine"});
    EXPECT_EQ(set.exitCode, 1);
    EXPECT_EQ(set.output, "quillbay-reg: cannot create the key: access denied (error 5)\n");
    ProcessResult remove = As(kAlice, {"quillbay-reg", "delete", "HKLM\\Software\\Shared"});
    EXPECT_EQ(remove.exitCode, 1);
    EXPECT_EQ(remove.output, "quillbay-reg: cannot delete the key: access denied (error 5)\n");
    EXPECT_EQ(As(kAlice, {"quillbay-reg", "query", "HKLM\\Software\\Shared", "v"}).output, "all\n");

    // Through HKEY_CLASSES_ROOT the same user's write is the user's own.
    EXPECT_EQ(As(kAlice, {"quillbay-reg", "set", "HKCR\\Test.Mine", "@", "REG_SZ", "a"}).exitCode,
              0);
    EXPECT_EQ(
        As(kAlice, {"quillbay-reg", "query", "HKCU\\Software\\Classes\\Test.Mine", "@"}).output,
        "a\n");
    EXPECT_NE(As(kRoot, {"quillbay-reg", "query", "HKCR\\Test.Mine"}).exitCode, 0);
    EXPECT_NE(As(kBob, {"quillbay-reg", "query", "HKCR\\Test.Mine"}).exitCode, 0);
}

TEST_F(MachineRegistration, EachUsersRegistrationIsTheirOwnAndWinsOverTheMachines) {
    const std::string own = m_dir + "/bin/quillbay.so", shared = m_dir + "/shared/quillbay.so";
    EXPECT_NE(Create(kAlice).find("no class is registered"), std::string::npos);
    ASSERT_EQ(As(kAlice, {"quillbay-regsvr", "/s", own}).exitCode, 0);
    EXPECT_EQ(Create(kAlice), "007\n");
    EXPECT_NE(Create(kBob).find("no class is registered"), std::string::npos);

    // Root registers the module for every user; Alice's own registration wins.
    ASSERT_EQ(As(kRoot, {"quillbay-regsvr", "/s", shared}).exitCode, 0);
    EXPECT_EQ(Create(kBob), "007\n");
    EXPECT_EQ(ModuleFor(kBob), shared + "\n");
    EXPECT_EQ(ModuleFor(kAlice), own + "\n");

    // A user cannot take the machine's registration away, and is told so.
    ProcessResult refused = As(kBob, {"quillbay-regsvr", "/u", shared});
    EXPECT_EQ(refused.exitCode, 5);
    EXPECT_NE(refused.output.find("only root can unregister it"), std::string::npos);
    EXPECT_EQ(Create(kBob), "007\n");

    ASSERT_EQ(As(kAlice, {"quillbay-regsvr", "/s", "/u", own}).exitCode, 0);
    EXPECT_EQ(ModuleFor(kAlice), shared + "\n");
    ASSERT_EQ(As(kRoot, {"quillbay-regsvr", "/s", "/u", shared}).exitCode, 0);
    EXPECT_NE(Create(kBob).find("no class is registered"), std::string::npos);
    EXPECT_NE(Create(kAlice).find("no class is registered"), std::string::npos);
    // Root's registration and its removal touched no home of root's.
    struct stat st;
    EXPECT_NE(stat((Home(kRoot) + "/.local").c_str(), &st), 0);
}
