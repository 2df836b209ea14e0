// The main of every test program: the run gets settings of its own (its
// home, the user's and the machine's state directories, temporary
// directory, no CUPS server or printer of the account's) and a scripted UI
// host, so tests neither touch the real registry, read the account's
// settings nor wait for a person.
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

#include "testing/OwnSettings.h"
#include "testing/TestSupport.h"

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    const bool keep = getenv("QUILLBAY_KEEP_TEST_DIR") != nullptr;
    const std::string root = testing_support::MakeRunRoot("quillbay-test-");
    if (root.empty() || !testing_support::UseOwnSettings(root)) {
        fprintf(stderr, "cannot make the test run's folders (in TMPDIR or /tmp)\n");
        return 1;
    }
    int result = RUN_ALL_TESTS();
    if (!keep)
        testing_support::RemoveTree(root);
    return result;
}
