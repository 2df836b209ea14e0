// The main of every test program: the run gets its own state directories
// (the user's and the machine's), temporary directory and a scripted UI
// host, so tests neither touch the real registry nor wait for a person.
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

#include "testing/TestSupport.h"

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    const std::string root = testing_support::MakeTempDir("quillbay-test-");
    setenv("QUILLBAY_HOME", (root + "/home").c_str(), 1);
    setenv("QUILLBAY_MACHINE_HOME", (root + "/machine").c_str(), 1);
    setenv("QUILLBAY_PRINT_DIR", (root + "/prints").c_str(), 1);
    setenv("QUILLBAY_UI", "scripted", 1);
    const std::string tmp = root + "/tmp";
    testing_support::MakeFolder(tmp, 0700);
    setenv("TMPDIR", tmp.c_str(), 1);
    int result = RUN_ALL_TESTS();
    if (!getenv("QUILLBAY_KEEP_TEST_DIR"))
        testing_support::RemoveTree(root);
    return result;
}
