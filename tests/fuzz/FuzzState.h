// Where a fuzz target keeps what it writes: under TMPDIR (a folder of the
// run's own, which scripts/fuzz.sh removes), never the user's state.
#pragma once

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace fuzz_state {

// A path of this process's own under TMPDIR.
inline std::string ScratchPath(const std::string &name) {
    const char *tmp = getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/quillbay-fuzz-" + name + "-" +
           std::to_string(getpid());
}

// Points the user's and the machine's registry at hives of the run's own,
// and dialogs at the headless host.
inline void UseStateOfTheRun(const std::string &name) {
    const std::string home = ScratchPath(name);
    setenv("QUILLBAY_HOME", home.c_str(), 1);
    setenv("QUILLBAY_MACHINE_HOME", (home + "/machine").c_str(), 1);
    setenv("QUILLBAY_UI", "headless", 1);
}

} // namespace fuzz_state
