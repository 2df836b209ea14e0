// Every tool answers --help and --version, and refuses a wrong command line
// with its usage and exit code 2.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "testing/TestSupport.h"

namespace {

const char *const kTools[] = {"quillbay-script", "quillbay-regsvr", "quillbay-reg", "quillbay-rc",
                              "quillbay-midl"};

std::string PathOf(const std::string &tool) {
    return std::string(BIN_DIR) + "/" + tool;
}

} // namespace

TEST(ToolOptions, EveryToolAnswersHelpAndVersion) {
    std::vector<std::string> tools(std::begin(kTools), std::end(kTools));
    tools.push_back("quillbay-jobs"); // called bare it lists the jobs
    for (const std::string &tool : tools) {
        auto version = testing_support::Run({PathOf(tool), "--version"});
        EXPECT_EQ(version.exitCode, 0) << tool;
        EXPECT_EQ(version.output, tool + " (quillbay) " + QUILLBAY_VERSION + "\n");
        auto help = testing_support::Run({PathOf(tool), "--help"});
        EXPECT_EQ(help.exitCode, 0) << tool;
        EXPECT_EQ(help.output.rfind("usage: " + tool + " ", 0), 0u) << help.output;
        EXPECT_NE(help.output.find("--version"), std::string::npos) << tool;
        EXPECT_NE(help.output.find("See " + tool + "(1)"), std::string::npos) << tool;
    }
}

TEST(ToolOptions, AWrongCommandLineGivesTheUsageOnStandardError) {
    SKIP_UNDER_EMULATION("the tools start from /bin/sh (to part their output and error), which "
                         "cannot start a program of the emulated processor");
    for (const std::string tool : kTools) {
        auto result = testing_support::Run(
            {"/bin/sh", "-c", "\"$0\" 2>&1 >/dev/null; echo \"exit $?\"", PathOf(tool)});
        EXPECT_EQ(result.output.rfind("usage: " + tool, 0), 0u) << result.output;
        EXPECT_NE(result.output.find("exit 2\n"), std::string::npos) << result.output;
    }
}
