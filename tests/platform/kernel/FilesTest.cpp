#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/kernel/TextConvert.h"
#include "platform/win32.h"
#include "testing/TestSupport.h"

using testing_support::Ansi;
using testing_support::ReadFile;
using testing_support::WriteFile;

namespace {

class Files : public ::testing::Test {
protected:
    void SetUp() override { m_dir = testing_support::MakeTempDir("files-"); }
    void TearDown() override { testing_support::RemoveTree(m_dir); }
    std::string Path(const std::string &name) const { return m_dir + "/" + name; }

    std::string m_dir;
};

HANDLE Open(const std::string &path, DWORD access, DWORD disposition, DWORD attributes = 0) {
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                       attributes ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

TEST_F(Files, WritesReadsSeeksAndTruncates) {
    HANDLE h = Open(Path("a.bin"), GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 0xdeadbeef;
    ASSERT_TRUE(WriteFile(h, "hello world", 11, &n, nullptr));
    EXPECT_EQ(n, 11u);
    EXPECT_EQ(GetFileSize(h, nullptr), 11u);
    EXPECT_EQ(SetFilePointer(h, 6, nullptr, FILE_BEGIN), 6u);
    char buffer[16] = {};
    ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &n, nullptr));
    EXPECT_EQ(n, 5u);
    EXPECT_STREQ(buffer, "world");
    EXPECT_EQ(SetFilePointer(h, -6, nullptr, FILE_END), 5u);
    ASSERT_TRUE(SetEndOfFile(h));
    EXPECT_EQ(GetFileSize(h, nullptr), 5u);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(SetFilePointer(h, -10, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    EXPECT_TRUE(FlushFileBuffers(h));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(ReadFile(Path("a.bin")), "hello");
    EXPECT_FALSE(CloseHandle(h)); // a closed handle is refused, not reused
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(Files, DispositionsFollowThePlatform) {
    std::string path = Path("d.txt");
    SetLastError(0xdeadbeef);
    EXPECT_EQ(Open(path, GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Open(Path("no/d.txt"), GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    HANDLE h = Open(path, GENERIC_WRITE, OPEN_ALWAYS);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    WriteFile(h, "abc", 3, nullptr, nullptr);
    CloseHandle(h);
    h = Open(path, GENERIC_WRITE, OPEN_ALWAYS);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(h);
    EXPECT_EQ(ReadFile(path), "abc");

    EXPECT_EQ(Open(path, GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    CloseHandle(Open(path, GENERIC_WRITE, TRUNCATE_EXISTING));
    EXPECT_EQ(ReadFile(path), "");
    EXPECT_EQ(Open(path, GENERIC_READ, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
}

TEST_F(Files, AccessFollowsTheHandle) {
    WriteFile(Path("r.txt"), "data");
    HANDLE h = Open(Path("r.txt"), GENERIC_READ, OPEN_EXISTING);
    DWORD n = 0xdeadbeef;
    EXPECT_FALSE(WriteFile(h, "x", 1, &n, nullptr));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(h);
}

TEST_F(Files, ReadOnlyFilesRefuseWritingAndDeletion) {
    std::string path = Path("ro.txt");
    WriteFile(path, "keep");
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesA(path.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(Open(path, GENERIC_WRITE, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    HANDLE reader = Open(path, GENERIC_READ, OPEN_EXISTING);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesA(path.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(DeleteFileA(path.c_str()));
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Files, AttributesAreKeptWithTheFile) {
    std::string path = Path("t.tmp");
    HANDLE h = Open(path, GENERIC_WRITE, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY);
    CloseHandle(h);
    EXPECT_EQ(GetFileAttributesA(path.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_TEMPORARY));
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesA(path.c_str()),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesA(m_dir.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Files, AttributeQueriesNameTheMissingPart) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    std::string path = Path("sized.bin");
    WriteFile(path, std::string(5000, 'x'));
    ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 5000u);
    EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));

    EXPECT_FALSE(GetFileAttributesExA(Path("none.bin").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(GetFileAttributesExA(Path("no/none.bin").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    // An empty name is no file, not the current directory.
    EXPECT_FALSE(GetFileAttributesExA("", GetFileExInfoStandard, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesA(""), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(DeleteFileA(Path("none.bin").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(Files, DirectoriesAreMadeAndCannotBeOpenedAsFiles) {
    std::string dir = Path("sub");
    EXPECT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryA(dir.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryA(Path("x/y").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Open(dir, GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DeleteFileA(dir.c_str()));
}

TEST_F(Files, BackslashesAndCaseInsensitiveComponents) {
    ASSERT_TRUE(CreateDirectoryA(Path("Pics").c_str(), nullptr));
    WriteFile(Path("Pics/Logo.GIF"), "GIF89a");
    std::string windowsStyle = m_dir + "\\pics\\logo.gif";
    EXPECT_EQ(GetFileAttributesA(windowsStyle.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
    HANDLE h = Open(windowsStyle, GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buffer[8] = {};
    ReadFile(h, buffer, 6, nullptr, nullptr);
    EXPECT_STREQ(buffer, "GIF89a");
    CloseHandle(h);
    // A new file in a directory matched ignoring case keeps its own spelling.
    CloseHandle(Open(m_dir + "\\PICS\\New.txt", GENERIC_WRITE, CREATE_NEW));
    EXPECT_EQ(ReadFile(Path("Pics/New.txt")), "");
}

TEST_F(Files, OverlongPathsAreRefused) {
    std::string path = m_dir + "/" + std::string(300, 'x');
    SetLastError(0xdeadbeef);
    EXPECT_EQ(Open(path, GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

TEST_F(Files, LocksExcludeOverlappingRangesAndOtherHandles) {
    std::string path = Path("lock.bin");
    WriteFile(path, std::string(100, 'x'));
    HANDLE first = Open(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    HANDLE second = Open(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    ASSERT_TRUE(LockFile(first, 10, 0, 20, 0));
    EXPECT_FALSE(LockFile(first, 25, 0, 10, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_FALSE(LockFile(second, 0, 0, 11, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_TRUE(LockFile(second, 30, 0, 5, 0));
    EXPECT_FALSE(UnlockFile(first, 10, 0, 5, 0)); // not the range that was locked
    EXPECT_TRUE(UnlockFile(first, 10, 0, 20, 0));
    EXPECT_TRUE(LockFile(second, 0, 0, 11, 0));
    CloseHandle(first);
    CloseHandle(second);
}

TEST_F(Files, AnsiNamesReachTheDiskInUtf8AndComeBackInAnsi) {
    const auto trail = testing_support::BackslashTrailCharacters();
    ASSERT_GE(trail.size(), 2u);
    const std::string folder = "文件" + trail[0], file = trail[1] + "key.txt";
    const std::string ansiDir = Ansi(Path(folder));
    ASSERT_TRUE(CreateDirectoryA(ansiDir.c_str(), nullptr));
    // The trail byte 0x5C is part of its character, never a separator.
    const std::string ansiFile = ansiDir + "\\" + Ansi(file);
    HANDLE h = Open(ansiFile, GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    WriteFile(h, "x", 1, nullptr, nullptr);
    CloseHandle(h);
    EXPECT_EQ(testing_support::FolderEntries(m_dir), std::vector<std::string>{folder});
    EXPECT_EQ(ReadFile(Path(folder + "/" + file)), "x");

    char full[MAX_PATH] = {};
    LPSTR part = nullptr;
    ASSERT_GT(GetFullPathNameA(ansiFile.c_str(), MAX_PATH, full, &part), 0u);
    EXPECT_EQ(std::string(full), Ansi(Path(folder + "/" + file)));
    EXPECT_EQ(std::string(part ? part : ""), Ansi(file));
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((ansiDir + "\\*.TXT").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::string(found.cFileName), Ansi(file));
    EXPECT_EQ(found.nFileSizeLow, 1u);
    EXPECT_FALSE(FindNextFileA(search, &found));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(search));

    // MAX_PATH counts characters: 80 Chinese ones take 240 bytes in UTF-8.
    std::string longName;
    for (int i = 0; i < 80; ++i)
        longName += "表";
    HANDLE longFile = Open(Ansi(Path(longName)), GENERIC_WRITE, CREATE_NEW);
    EXPECT_NE(longFile, INVALID_HANDLE_VALUE);
    CloseHandle(longFile);

    EXPECT_TRUE(DeleteFileA(ansiFile.c_str()));
    EXPECT_TRUE(RemoveDirectoryA(ansiDir.c_str()));
    EXPECT_EQ(testing_support::FolderEntries(m_dir), std::vector<std::string>{longName});
}

TEST_F(Files, NamesTheCodePageLacksComeBackAsQuestionMarksAndOpenByWideName) {
    WriteFile(Path("\xF0\x9F\x98\x80.txt"), "wide"); // U+1F600, in no ANSI code page
    WIN32_FIND_DATAA ansi{};
    HANDLE search = FindFirstFileA(Ansi(Path("*.txt")).c_str(), &ansi);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(ansi.cFileName, "?.txt");
    FindClose(search);
    WIN32_FIND_DATAW wide{};
    const std::u16string pattern = platform::Utf8ToWide(Path("*.txt"));
    search = FindFirstFileW(pattern.c_str(), &wide);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::u16string(wide.cFileName), u"\U0001F600.txt");
    FindClose(search);
    const std::u16string path = platform::Utf8ToWide(m_dir + "/") + wide.cFileName;
    EXPECT_EQ(GetFileAttributesW(path.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buffer[8] = {};
    DWORD n = 0;
    ReadFile(h, buffer, sizeof buffer, &n, nullptr);
    EXPECT_STREQ(buffer, "wide");
    CloseHandle(h);

    // A name that lost characters reaches no file, not even one named so.
    WriteFile(Path("?.txt"), "another");
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetFileAttributesA(Ansi(Path(ansi.cFileName)).c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(Open(Ansi(Path(ansi.cFileName)), GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_FALSE(DeleteFileA(Ansi(Path(ansi.cFileName)).c_str()));
    EXPECT_FALSE(CreateDirectoryA(Ansi(Path("??")).c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(Open(Ansi(Path("\xFF.txt")), GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(testing_support::FolderEntries(m_dir),
              (std::vector<std::string>{"?.txt", "\xF0\x9F\x98\x80.txt"}));
    EXPECT_EQ(testing_support::ReadFile(Path("?.txt")), "another");
    // In a pattern's last name '?' stays a wildcard.
    search = FindFirstFileA(Ansi(Path("?.txt")).c_str(), &ansi);
    EXPECT_NE(search, INVALID_HANDLE_VALUE);
    FindClose(search);
}
