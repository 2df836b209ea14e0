#include "testing/TestAccount.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "testing/TestSupport.h"

namespace testing_support {

TestAccount::TestAccount(const std::string &prefix)
    : m_name((prefix + std::to_string(getpid())).substr(0, 32)) {
    if (geteuid() != 0) {
        m_why = "the test needs root to make accounts with useradd";
        return;
    }
    ProcessResult made = Run({"/usr/sbin/useradd", "--no-create-home", "--user-group", "--shell",
                              "/usr/sbin/nologin", m_name});
    passwd *entry = made.exitCode == 0 ? getpwnam(m_name.c_str()) : nullptr;
    if (!entry) {
        m_why = "useradd " + m_name + " failed (" + std::to_string(made.exitCode) + ")";
        return;
    }
    m_uid = entry->pw_uid;
    m_gid = entry->pw_gid;
    m_made = true;
}

TestAccount::~TestAccount() {
    if (m_made)
        Run({"/usr/sbin/userdel", m_name});
}

bool TestAccount::Ready(std::string &why) const {
    why = m_why;
    return m_made;
}

bool TestAccount::MakeOwnFolder(const std::string &path, mode_t mode) const {
    return MakeFolder(path, mode) && chown(path.c_str(), m_uid, m_gid) == 0 &&
           chmod(path.c_str(), mode) == 0;
}

std::vector<std::string>
TestAccount::As(const std::vector<std::pair<std::string, std::string>> &environment,
                const std::vector<std::string> &argv) const {
    std::vector<std::string> line{"/usr/bin/setpriv",
                                  "--reuid=" + std::to_string(m_uid),
                                  "--regid=" + std::to_string(m_gid),
                                  "--clear-groups",
                                  "--",
                                  "/usr/bin/env",
                                  "-i",
                                  "PATH=/usr/local/bin:/usr/bin:/bin",
                                  "LANG=C.UTF-8"};
    for (const auto &[name, value] : environment)
        line.push_back(name + "=" + value);
    line.insert(line.end(), argv.begin(), argv.end());
    return line;
}

} // namespace testing_support
