// Settings of a test run's own, so that nothing of the account that runs
// the tests changes a result: its home and desktop folders, its CUPS client
// files and default printer, its display, session bus, proxies and locale,
// and the object's own variables. The object still follows such settings:
// a test that checks that sets them itself.
#pragma once

#include <string>

namespace testing_support {

// Points the process's environment (and so every program it starts) at
// folders under root, which must exist and be the run's own: HOME, the XDG
// folders, TMPDIR, QUILLBAY_HOME, QUILLBAY_MACHINE_HOME and the print
// folder; no CUPS server answers until a test starts one, and no printer is
// named. A variable QUILLBAY_TEST_<NAME>, set by a test's own entry of the
// test list, becomes QUILLBAY_<NAME> (QUILLBAY_TEST_ACP=932: the Shift-JIS
// code page). False when a folder could not be made.
bool UseOwnSettings(const std::string &root);

// A fresh folder for a run's settings: in TMPDIR, or in /tmp when TMPDIR
// names no folder that takes one; empty when neither does.
std::string MakeRunRoot(const std::string &prefix);

} // namespace testing_support
