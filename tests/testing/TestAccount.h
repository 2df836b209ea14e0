// An account of a test's own: made with useradd when the test runs as root
// (as CI does), removed with userdel when the object goes. Programs run as
// the account through setpriv, with an environment the test gives.
#pragma once

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace testing_support {

class TestAccount {
public:
    // The account is named prefix and this process's number (at most 32
    // characters in all).
    explicit TestAccount(const std::string &prefix);
    ~TestAccount();
    TestAccount(const TestAccount &) = delete;
    TestAccount &operator=(const TestAccount &) = delete;

    // Whether the account exists; why says why not (not root, useradd failed).
    bool Ready(std::string &why) const;
    const std::string &Name() const { return m_name; }
    uid_t Uid() const { return m_uid; }
    gid_t Gid() const { return m_gid; }

    // A folder owned by the account with a mode (its parent must let the
    // account pass); false when it cannot be made.
    bool MakeOwnFolder(const std::string &path, mode_t mode) const;
    // The command line that runs argv as the account, with only the given
    // variables set beside PATH, and LANG.
    std::vector<std::string> As(const std::vector<std::pair<std::string, std::string>> &environment,
                                const std::vector<std::string> &argv) const;

private:
    std::string m_name;
    std::string m_why;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    bool m_made = false;
};

} // namespace testing_support
