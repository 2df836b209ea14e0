// An account of the machine for a test: made with useradd when the test
// runs as root (as CI does), removed with userdel when it ends, with a home
// folder of its own (mode 0700) under a root every account may pass
// through. Programs run as the account with the test's environment and a
// few variables of the account's own.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "testing/TestSupport.h"

namespace testing_support {

class TestAccount {
public:
    // `tag` becomes part of the account's name ("qbtA1234" for "A").
    explicit TestAccount(const std::string &tag);
    ~TestAccount();
    TestAccount(const TestAccount &) = delete;
    TestAccount &operator=(const TestAccount &) = delete;

    // False, with Why() saying why, when the account could not be made
    // (the test is not root, or useradd failed): the test then skips.
    bool Made() const { return m_uid >= 0; }
    const std::string &Why() const { return m_why; }
    const std::string &Name() const { return m_name; }
    unsigned Uid() const { return static_cast<unsigned>(m_uid); }
    unsigned Gid() const { return static_cast<unsigned>(m_gid); }
    const std::string &Home() const { return m_home; }

    // Runs a program as the account, `env` ("NAME=VALUE") added to the
    // test's environment after HOME, USER, TMPDIR, QUILLBAY_HOME
    // ($HOME/quillbay) and the XDG folders of the account's own, without
    // XDG_RUNTIME_DIR (an entry "NAME" without a value removes that
    // variable); its standard output comes back.
    ProcessResult Run(const std::vector<std::string> &argv,
                      const std::vector<std::string> &env = {}) const;
    // Starts a program so; its standard output on *outputFd (when given),
    // its standard error appended to errorPath (when given). The process ID,
    // or -1.
    int Spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env,
              int *outputFd, const std::string &errorPath = "") const;
    // Starts a program so with descriptors of the test's given it under
    // other numbers ({from, to}: a DevTools pipe on 3 and 4), its standard
    // output and error going nowhere. The process ID, or -1.
    int SpawnWith(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                  const std::vector<std::pair<int, int>> &descriptors) const;

private:
    int Launch(const std::vector<std::string> &argv, const std::vector<std::string> &env,
               std::vector<std::pair<int, int>> descriptors) const;
    std::vector<std::string> Environment(const std::vector<std::string> &env) const;

    std::string m_name;
    std::string m_root; // the folder the home is in, the test's own
    std::string m_home;
    long m_uid = -1;
    long m_gid = -1;
    std::string m_why;
};

} // namespace testing_support
