// Helpers shared by the test programs.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testing_support {

// An environment variable set for a test's scope, then put back as it was.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char *name, const std::string &value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;

private:
    const char *m_name;
    std::string m_old;
    bool m_had = false;
};

// A fresh directory under the test run's temporary directory, private to
// the user (mode 0700). The run remembers it as its own.
std::string MakeTempDir(const std::string &prefix);
// Makes a folder with a mode and remembers it as the run's own.
bool MakeFolder(const std::string &path, mode_t mode);
void RemoveTree(const std::string &path);
// A root folder for a server that runs as another user (cupsd's filters,
// PostgreSQL): a folder of the test's own, open to every user (0755), in a
// parent of the test's own that others may pass through (0711). Folders on
// the way that the run made are opened to be passed through; a folder the
// run did not make never changes its mode: when one of them is closed to
// other users, the root goes under /tmp instead, and when that fails too
// the answer is empty and why says which folder is closed.
std::string MakeServerRoot(const std::string &prefix, std::string &why);
// The folder to remove for a root MakeServerRoot made: its parent.
std::string ServerRootParent(const std::string &root);
void RemoveServerRoot(const std::string &root);
void WriteFile(const std::string &path, const std::string &bytes);
std::string ReadFile(const std::string &path);

struct ProcessResult {
    int exitCode;
    std::string output; // standard output
};

// The emulator the tests run under, as its words: the build's emulator
// (a cross build's CMAKE_CROSSCOMPILING_EMULATOR), or QUILLBAY_EMULATOR
// when set (empty: none). None for a native build.
const std::vector<std::string> &Emulator();
// The command that starts argv: argv itself, or, under an emulator, the
// emulator in front when argv[0] is a program for the tests' own processor
// (a built program), which this machine cannot start by itself. Every
// start of a program by the test support goes through it.
std::vector<std::string> Startable(const std::vector<std::string> &argv);

// Skips the running test under an emulator, naming why it cannot run there.
#define SKIP_UNDER_EMULATION(why)                                                                  \
    if (!testing_support::Emulator().empty())                                                      \
    GTEST_SKIP() << "under emulation: " << why

// Runs a program with arguments and waits for it.
ProcessResult Run(const std::vector<std::string> &argv);

// Starts a program and returns its process ID; its standard output is read
// from the returned descriptor.
int Spawn(const std::vector<std::string> &argv, int *outputFd);
int Wait(int pid);
// Reads a started program's output to its end, then waits for it.
ProcessResult Finish(int pid, int outputFd);
// Sends SIGTERM, then SIGKILL when the process has not ended in time, and
// reaps it.
void EndProcess(int pid, std::chrono::milliseconds grace);

// The names of a folder's files that end in suffix, sorted; none when the
// folder is missing.
std::vector<std::string> ListFiles(const std::string &dir, const std::string &suffix);
// Every entry of a folder but . and .., sorted, as the file system names them.
std::vector<std::string> FolderEntries(const std::string &dir);
// The path of an entry of a folder that `seen` does not hold yet (a job's
// file, however quickly the jobs came), now added to it; "" when none came.
std::string NewEntry(const std::string &dir, std::vector<std::string> &seen);

// A file of the public image suites (../shared/corpora), and whether a
// suite's folder is there; a plain clone of the repository has none.
std::string Corpus(const std::string &relative);
bool HaveCorpus(const std::string &folder);
// A file of the project's own fixtures (tests/fixtures).
std::string Fixture(const std::string &relative);

// Skips the running test, naming the missing folder, when a suite is absent.
#define SKIP_WITHOUT_CORPUS(folder)                                                                \
    if (!testing_support::HaveCorpus(folder))                                                      \
    GTEST_SKIP() << "corpus folder " << testing_support::Corpus(folder) << " is missing"

// UTF-8 text in the ANSI code page (GBK), and back.
std::string Ansi(const std::string &utf8);
std::string Utf8(const std::string &ansi);
// Characters (UTF-8) whose form in the ANSI code page ends in 0x5C, the byte
// of '\': 嘰 and 乗 in GBK, 十 and 表 in Shift-JIS.
std::vector<std::string> BackslashTrailCharacters();

} // namespace testing_support
