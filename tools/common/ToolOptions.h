// The options every tool answers: --help prints how the tool is called and
// what it does, --version its name and the project's version.
#pragma once

#include <cstdio>
#include <cstring>

namespace tool_options {

struct ToolInfo {
    const char *name;    // the command, as its manual page is named
    const char *usage;   // the usage lines, each ending in a newline
    const char *summary; // what it does and its options, each line ending in a newline
};

// A call the tool does not understand: the usage on standard error, exit code 2.
inline int Usage(const ToolInfo &tool) {
    fputs(tool.usage, stderr);
    return 2;
}

// When the first argument is --help or --version, answers it on standard
// output and returns true; the tool then exits with 0.
inline bool AnswersStandardOption(int argc, char **argv, const ToolInfo &tool) {
    if (argc < 2)
        return false;
    if (strcmp(argv[1], "--help") == 0) {
        printf("%s\n%s\nSee %s(1) for more.\n", tool.usage, tool.summary, tool.name);
        return true;
    }
    if (strcmp(argv[1], "--version") == 0) {
        printf("%s (quillbay) %s\n", tool.name, QUILLBAY_VERSION);
        return true;
    }
    return false;
}

} // namespace tool_options
