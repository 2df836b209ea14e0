#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/win32.h"
#include "testing/TestSupport.h"

namespace {

std::string FullPath(const char *path, std::string *filePart = nullptr) {
    char buffer[MAX_PATH];
    LPSTR part = reinterpret_cast<LPSTR>(0xdeadbeef);
    DWORD n = GetFullPathNameA(path, MAX_PATH, buffer, &part);
    EXPECT_GT(n, 0u);
    if (filePart)
        *filePart = part ? part : "(null)";
    return std::string(buffer, n);
}

} // namespace

TEST(Paths, FullPathNormalisesSeparatorsAndDots) {
    std::string part;
    EXPECT_EQ(FullPath("/a/b/../c/./d.txt", &part), "/a/c/d.txt");
    EXPECT_EQ(part, "d.txt");
    EXPECT_EQ(FullPath("\\a\\\\b\\c.gif"), "/a/b/c.gif");
    EXPECT_EQ(FullPath("C:\\pics\\a.gif"), "/pics/a.gif");
    EXPECT_EQ(FullPath("/a/dir/", &part), "/a/dir/");
    EXPECT_EQ(part, "(null)");
}

TEST(Paths, RelativePathsUseTheCurrentDirectory) {
    char previous[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, previous), 0u);
    std::string dir = testing_support::MakeTempDir("paths-");
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    char current[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    EXPECT_EQ(std::string(current), dir);
    EXPECT_EQ(FullPath("sub\\x.txt"), dir + "/sub/x.txt");
    EXPECT_EQ(FullPath("..\\y"), dir.substr(0, dir.find_last_of('/')) + "/y");
    ASSERT_TRUE(SetCurrentDirectoryA(previous));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetCurrentDirectoryA((dir + "/missing").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    testing_support::RemoveTree(dir);
}

TEST(Paths, ShortBuffersGetTheSizeNeeded) {
    char small[4] = "xyz";
    EXPECT_EQ(GetFullPathNameA("/abcdef", sizeof small, small, nullptr), 8u);
    EXPECT_STREQ(small, "xyz");
    EXPECT_EQ(GetTempPathA(0, nullptr), strlen(getenv("TMPDIR")) + 2);
}

TEST(Paths, TempPathFollowsTmpdirWithATrailingSeparator) {
    char buffer[MAX_PATH];
    DWORD n = GetTempPathA(MAX_PATH, buffer);
    EXPECT_EQ(std::string(buffer, n), std::string(getenv("TMPDIR")) + "/");
}

TEST(Paths, SystemFoldersLiveInTheUsersState) {
    char windows[MAX_PATH], system[MAX_PATH];
    ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 0u);
    ASSERT_GT(GetSystemDirectoryA(system, MAX_PATH), 0u);
    EXPECT_EQ(std::string(windows), std::string(getenv("QUILLBAY_HOME")));
    EXPECT_EQ(std::string(system), std::string(windows) + "/system");
}

TEST(Paths, TemporaryAndCurrentFoldersComeBackInTheAnsiCodePage) {
    const auto trail = testing_support::BackslashTrailCharacters();
    ASSERT_FALSE(trail.empty());
    const std::string base = testing_support::MakeTempDir("paths-");
    const std::string dir = base + "/临时" + trail[0];
    ASSERT_TRUE(testing_support::MakeFolder(dir, 0700));
    const std::string saved = getenv("TMPDIR");
    setenv("TMPDIR", dir.c_str(), 1);
    char buffer[MAX_PATH];
    DWORD n = GetTempPathA(MAX_PATH, buffer);
    setenv("TMPDIR", saved.c_str(), 1);
    EXPECT_EQ(std::string(buffer, n), testing_support::Ansi(dir + "/"));

    char previous[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, previous), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(testing_support::Ansi(dir).c_str()));
    n = GetCurrentDirectoryA(MAX_PATH, buffer);
    EXPECT_EQ(std::string(buffer, n), testing_support::Ansi(dir));
    ASSERT_TRUE(SetCurrentDirectoryA(previous));
    testing_support::RemoveTree(base);
}

namespace {

std::string TempPath() {
    char buffer[MAX_PATH] = {};
    DWORD n = GetTempPathA(MAX_PATH, buffer);
    return std::string(buffer, n);
}

mode_t ModeOf(const std::string &path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

TEST(Paths, TempPathWithoutTmpdirIsAFolderOfTheUsersOwn) {
    const std::string base = testing_support::MakeTempDir("private-tmp-");
    const std::string runtime = base + "/run", home = base + "/home";
    ASSERT_TRUE(testing_support::MakeFolder(runtime, 0700));
    testing_support::ScopedEnvironment noTmpdir("TMPDIR", "");
    testing_support::ScopedEnvironment session("XDG_RUNTIME_DIR", runtime);
    testing_support::ScopedEnvironment state("QUILLBAY_HOME", home);
    const mode_t umaskWas = umask(0777); // a umask takes nothing from the folder
    EXPECT_EQ(TempPath(), runtime + "/quillbay/tmp/");
    umask(umaskWas);
    EXPECT_EQ(ModeOf(runtime + "/quillbay/tmp"), 0700u);

    // A folder open to others, or a link in its place, is refused: the
    // user's state holds the folder then.
    ASSERT_EQ(chmod((runtime + "/quillbay/tmp").c_str(), 0755), 0);
    EXPECT_EQ(TempPath(), home + "/tmp/");
    EXPECT_EQ(ModeOf(home + "/tmp"), 0700u);
    ASSERT_EQ(rmdir((runtime + "/quillbay/tmp").c_str()), 0);
    ASSERT_TRUE(testing_support::MakeFolder(base + "/elsewhere", 0700));
    ASSERT_EQ(symlink((base + "/elsewhere").c_str(), (runtime + "/quillbay/tmp").c_str()), 0);
    EXPECT_EQ(TempPath(), home + "/tmp/");
    {
        testing_support::ScopedEnvironment noSession("XDG_RUNTIME_DIR", "");
        EXPECT_EQ(TempPath(), home + "/tmp/");
    }
    // Another account's folder is refused too (as root, a folder given away).
    if (geteuid() == 0) {
        ASSERT_EQ(unlink((runtime + "/quillbay/tmp").c_str()), 0);
        ASSERT_TRUE(testing_support::MakeFolder(runtime + "/quillbay/tmp", 0700));
        ASSERT_EQ(chown((runtime + "/quillbay/tmp").c_str(), 65534, 65534), 0);
        EXPECT_EQ(TempPath(), home + "/tmp/");
    }
    // No folder of the user's own anywhere: an error, never a shared one.
    ASSERT_EQ(chmod((home + "/tmp").c_str(), 0777), 0);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetTempPathA(0, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    testing_support::RemoveTree(base);
}

TEST(Paths, NoPathTheCodePageCannotHoldIsHandedOutOrMade) {
    const std::string base = testing_support::MakeTempDir("lossy-tmp-");
    const std::string runtime = base + "/run", korean = base + "/폴더", home = base + "/søren";
    ASSERT_TRUE(testing_support::MakeFolder(runtime, 0700));
    ASSERT_TRUE(testing_support::MakeFolder(korean, 0700));
    testing_support::ScopedEnvironment tmpdir("TMPDIR", korean);
    testing_support::ScopedEnvironment session("XDG_RUNTIME_DIR", runtime);
    testing_support::ScopedEnvironment state("QUILLBAY_HOME", home);
    // GBK has neither 폴더 nor ø: the private folders take TMPDIR's place.
    EXPECT_EQ(TempPath(), runtime + "/quillbay/tmp/");
    {
        testing_support::ScopedEnvironment noSession("XDG_RUNTIME_DIR", "");
        SetLastError(0xdeadbeef);
        EXPECT_EQ(GetTempPathA(0, nullptr), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
        char buffer[MAX_PATH];
        EXPECT_EQ(GetWindowsDirectoryA(buffer, MAX_PATH), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
        ASSERT_TRUE(SetCurrentDirectoryA(testing_support::Ansi(base).c_str()));
        ASSERT_EQ(chdir(korean.c_str()), 0);
        EXPECT_EQ(GetCurrentDirectoryA(MAX_PATH, buffer), 0u);
        EXPECT_EQ(GetFullPathNameA("a.jpg", MAX_PATH, buffer, nullptr), 0u);
        ASSERT_EQ(chdir("/"), 0);
    }
    // Nothing was made of the names that lost characters.
    EXPECT_EQ(testing_support::FolderEntries(base), (std::vector<std::string>{"run", "폴더"}));
    EXPECT_TRUE(testing_support::FolderEntries(korean).empty());
    testing_support::RemoveTree(base);
}
