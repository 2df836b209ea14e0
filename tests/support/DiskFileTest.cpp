#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "support/AnsiStr.h"
#include "support/DiskFile.h"
#include "testing/TestSupport.h"

using testing_support::ReadFile;
using testing_support::WriteFile;

namespace {

class DiskFileTest : public ::testing::Test {
protected:
    void SetUp() override { m_dir = testing_support::MakeTempDir("diskfile-"); }
    void TearDown() override { testing_support::RemoveTree(m_dir); }
    std::string Path(const std::string &name) const { return m_dir + "/" + name; }

    std::string m_dir;
};

} // namespace

TEST_F(DiskFileTest, OverwritingAReadOnlyFileTruncatesItAndKeepsItReadOnly) {
    std::string path = Path("ro.txt");
    WriteFile(path, "old contents");
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    {
        DiskFile file;
        ASSERT_TRUE(file.Create(path.c_str(), DiskFile::kOverwrite));
        EXPECT_TRUE(file.Write("new", 3, TRUE, nullptr));
        file.Close();
    }
    EXPECT_EQ(ReadFile(path), "new");
    EXPECT_EQ(GetFileAttributesA(path.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(DiskFileTest, CreateMakesMissingDirectories) {
    std::string path = Path("a/b/c/new.bin");
    DiskFile file;
    ASSERT_TRUE(file.Create(path.c_str(), DiskFile::kOverwrite));
    EXPECT_TRUE(file.Write("x", 1, TRUE, nullptr));
    file.Close();
    EXPECT_EQ(ReadFile(path), "x");
    EXPECT_EQ(file.State(), DiskFile::kNothing); // as examined before the create
    EXPECT_EQ(file.RefreshState(), DiskFile::kFile);
}

TEST_F(DiskFileTest, CreateRefusesADirectory) {
    DiskFile file;
    EXPECT_FALSE(file.Create(m_dir.c_str(), DiskFile::kOverwrite));
    EXPECT_EQ(file.State(), DiskFile::kDirectory);
}

TEST_F(DiskFileTest, AppendModeStartsAtTheEnd) {
    std::string path = Path("log.txt");
    WriteFile(path, "abc");
    DiskFile file;
    ASSERT_TRUE(file.Create(path.c_str(), DiskFile::kAppend));
    EXPECT_EQ(file.Tell(), 3u);
    file.Write("def", 3, TRUE, nullptr);
    EXPECT_EQ(file.GetSize(), 6u);
    file.Close();
    EXPECT_EQ(ReadFile(path), "abcdef");
}

TEST_F(DiskFileTest, RelativePathsResolveBesideTheModule) {
    char before[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, before);
    DiskFile file;
    ASSERT_TRUE(file.SetPath("%s.txt", "beside"));
    AnsiStr folder(AnsiStr::kModuleFolder);
    EXPECT_EQ(std::string(file.GetPath()), std::string(folder.c_str()) + "/beside.txt");
    EXPECT_STREQ(file.GetDirectory(), folder.c_str());
    char after[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, after);
    EXPECT_STREQ(before, after);
}

TEST_F(DiskFileTest, OverlongPathsAreRefused) {
    DiskFile file;
    std::string longName(300, 'n');
    EXPECT_FALSE(file.SetPath("%s/%s", m_dir.c_str(), longName.c_str()));
    EXPECT_STREQ(file.GetPath(), "");
    EXPECT_FALSE(file.Create(DiskFile::kOverwrite, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL)));
    EXPECT_FALSE(CreateDirectoryPath((m_dir + "/" + longName).c_str()));
}

TEST_F(DiskFileTest, SizeOfClosedAndMissingFiles) {
    WriteFile(Path("five"), "12345");
    DiskFile file(Path("five").c_str());
    EXPECT_EQ(file.GetSize(), 5u);
    EXPECT_EQ(file.Handle(), nullptr); // opened and closed again
    DiskFile missing(Path("none").c_str());
    EXPECT_EQ(missing.GetSize(), 0u);
    EXPECT_EQ(missing.State(), DiskFile::kNothing);
}

TEST_F(DiskFileTest, OpenOnAnOpenFileOnlyRewinds) {
    WriteFile(Path("r.txt"), "hello");
    DiskFile file;
    ASSERT_TRUE(
        file.Open(Path("r.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL));
    HANDLE first = file.Handle();
    char buffer[8];
    DWORD n = 0;
    EXPECT_TRUE(file.Read(buffer, 3, TRUE, &n));
    EXPECT_EQ(file.Tell(), 3u);
    EXPECT_TRUE(file.Open(GENERIC_READ | GENERIC_WRITE, 0, 0));
    EXPECT_EQ(file.Handle(), first);
    EXPECT_EQ(file.Tell(), 0u);
}

TEST_F(DiskFileTest, ReadsSucceedShortUnlessExact) {
    WriteFile(Path("s.txt"), "abc");
    DiskFile file;
    ASSERT_TRUE(file.Open(Path("s.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, 0));
    char buffer[8];
    DWORD n = 0;
    EXPECT_FALSE(file.Read(buffer, 8, TRUE, &n));
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(file.LastCount(), 3u);
    file.SeekToBegin();
    EXPECT_TRUE(file.Read(buffer, 8, FALSE, &n));
    EXPECT_EQ(std::string(buffer, 8), std::string("abc\0\0\0\0\0", 8)); // zero-filled first
    EXPECT_FALSE(file.Read(buffer, 8, FALSE, &n));                      // at the end: nothing read
    DiskFile closed;
    EXPECT_FALSE(closed.Read(buffer, 1, FALSE, &n));
    EXPECT_EQ(n, 0u);
}

TEST_F(DiskFileTest, TruncateLocksAndDelete) {
    std::string path = Path("t.bin");
    DiskFile file;
    ASSERT_TRUE(file.Create(path.c_str(), DiskFile::kOverwrite));
    file.Write("0123456789", 10, TRUE, nullptr);
    EXPECT_TRUE(file.Truncate(4));
    EXPECT_EQ(file.GetSize(), 4u);
    EXPECT_TRUE(file.Lock(0, 4));
    EXPECT_TRUE(file.Unlock(0, 4));
    EXPECT_TRUE(file.Flush());
    EXPECT_TRUE(file.Delete());
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(file.Truncate(-1));
}

TEST_F(DiskFileTest, CreateDirectoryPathMakesTheChain) {
    std::string deep = Path("x/y/z");
    EXPECT_TRUE(CreateDirectoryPath(deep.c_str()));
    EXPECT_TRUE(CreateDirectoryPath(deep.c_str())); // already there
    std::string windowsStyle = m_dir + "\\p\\q";
    EXPECT_TRUE(CreateDirectoryPath(windowsStyle.c_str()));
    EXPECT_EQ(GetFileAttributesA(Path("p/q").c_str()),
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    WriteFile(Path("file"), "");
    EXPECT_FALSE(CreateDirectoryPath(Path("file/sub").c_str()));
}

TEST_F(DiskFileTest, ChineseNamesMakeTheirFilesAndFoldersNotStrayOnes) {
    const auto trail = testing_support::BackslashTrailCharacters();
    ASSERT_GE(trail.size(), 2u);
    // A missing folder chain whose names end in a 0x5C trail byte, joined
    // with backslashes as the system joins them.
    const std::string folder = "新建" + trail[0], name = trail[1] + ".txt";
    const std::string ansi =
        testing_support::Ansi(m_dir + "\\" + folder + "\\" + trail[1] + "\\" + name);
    DiskFile file;
    ASSERT_TRUE(file.Create(ansi.c_str(), DiskFile::kOverwrite));
    EXPECT_STREQ(file.GetDirectory(), testing_support::Ansi(Path(folder + "/" + trail[1])).c_str());
    EXPECT_TRUE(file.Write("abc", 3, TRUE, nullptr));
    file.Close();
    EXPECT_EQ(ReadFile(Path(folder + "/" + trail[1] + "/" + name)), "abc");
    EXPECT_EQ(testing_support::FolderEntries(m_dir), std::vector<std::string>{folder});
    EXPECT_EQ(testing_support::FolderEntries(Path(folder)), std::vector<std::string>{trail[1]});
    EXPECT_TRUE(file.Delete());
    EXPECT_EQ(file.RefreshState(), DiskFile::kNothing);
}
