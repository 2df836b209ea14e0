// Runs a command of the test list (a test script, a checker) with settings
// of its own, as the test programs' main gives them theirs:
//
//   qbtest_own_settings COMMAND [ARGUMENTS...]
//
// Its folders are removed after; its exit code is the command's.
#include <cstdio>
#include <unistd.h>

#include "testing/OwnSettings.h"
#include "testing/TestSupport.h"

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: qbtest_own_settings COMMAND [ARGUMENTS...]\n");
        return 2;
    }
    const std::string root = testing_support::MakeRunRoot("quillbay-test-");
    if (root.empty() || !testing_support::UseOwnSettings(root)) {
        fprintf(stderr, "qbtest_own_settings: cannot make the run's folders\n");
        return 1;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[1], argv + 1); // found on PATH, as a shell would
        fprintf(stderr, "qbtest_own_settings: cannot run %s\n", argv[1]);
        _exit(127);
    }
    const int code = pid > 0 ? testing_support::Wait(pid) : 127;
    testing_support::RemoveTree(root);
    return code;
}
