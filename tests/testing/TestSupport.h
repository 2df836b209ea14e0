// Helpers shared by the test programs.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace testing_support {

// A fresh directory under the test run's temporary directory.
std::string MakeTempDir(const std::string &prefix);
void RemoveTree(const std::string &path);
// Opens every folder on the way to path (and path itself) to other users,
// for servers that run as another user.
void OpenChain(const std::string &path);
void WriteFile(const std::string &path, const std::string &bytes);
std::string ReadFile(const std::string &path);

struct ProcessResult {
    int exitCode;
    std::string output; // standard output
};

// Runs a program with arguments and waits for it.
ProcessResult Run(const std::vector<std::string> &argv);

// Starts a program and returns its process ID; its standard output is read
// from the returned descriptor.
int Spawn(const std::vector<std::string> &argv, int *outputFd);
int Wait(int pid);
// Sends SIGTERM, then SIGKILL when the process has not ended in time, and
// reaps it.
void EndProcess(int pid, std::chrono::milliseconds grace);

// The names of a folder's files that end in suffix, sorted; none when the
// folder is missing.
std::vector<std::string> ListFiles(const std::string &dir, const std::string &suffix);

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

} // namespace testing_support
