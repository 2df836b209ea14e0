// Helpers shared by the test programs.
#pragma once

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

// UTF-8 text in the ANSI code page (GBK), and back.
std::string Ansi(const std::string &utf8);
std::string Utf8(const std::string &ansi);

} // namespace testing_support
