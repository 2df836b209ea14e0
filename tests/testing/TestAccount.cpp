#include "testing/TestAccount.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

extern char **environ;

namespace testing_support {

TestAccount::TestAccount(const std::string &tag) {
    if (geteuid() != 0) {
        m_why = "making an account of the machine needs root (run as root, as CI does)";
        return;
    }
    m_name = "qbt" + tag + std::to_string(getpid() % 100000);
    m_root = MakeServerRoot("account-", m_why);
    if (m_root.empty())
        return;
    m_home = m_root + "/" + m_name;
    // A leftover of a run that was killed goes first.
    if (getpwnam(m_name.c_str()))
        testing_support::Run({"/usr/sbin/userdel", m_name});
    const ProcessResult made =
        testing_support::Run({"/usr/sbin/useradd", "--no-create-home", "--user-group", "--shell",
                              "/usr/sbin/nologin", "--home-dir", m_home, m_name});
    passwd *entry = made.exitCode == 0 ? getpwnam(m_name.c_str()) : nullptr;
    if (!entry) {
        m_why = "useradd " + m_name + " failed (exit code " + std::to_string(made.exitCode) + ")";
        return;
    }
    if (mkdir(m_home.c_str(), 0700) != 0 ||
        chown(m_home.c_str(), entry->pw_uid, entry->pw_gid) != 0) {
        m_why = "cannot make the home folder " + m_home;
        testing_support::Run({"/usr/sbin/userdel", m_name});
        return;
    }
    m_uid = entry->pw_uid;
    m_gid = entry->pw_gid;
}

TestAccount::~TestAccount() {
    if (m_uid >= 0)
        testing_support::Run({"/usr/sbin/userdel", m_name});
    if (!m_root.empty())
        RemoveServerRoot(m_root);
}

namespace {

std::string NameOf(const std::string &entry) {
    return entry.substr(0, entry.find('='));
}

// The entries of `base` whose names no entry of `over` has, then those of
// `over` that set a value.
std::vector<std::string> Overlay(const std::vector<std::string> &base,
                                 const std::vector<std::string> &over) {
    std::vector<std::string> result;
    for (const std::string &entry : base) {
        bool replaced = false;
        for (const std::string &o : over)
            replaced = replaced || NameOf(o) == NameOf(entry);
        if (!replaced)
            result.push_back(entry);
    }
    // An entry without "=" only removes the variable of that name.
    for (const std::string &o : over)
        if (o.find('=') != std::string::npos)
            result.push_back(o);
    return result;
}

} // namespace

std::vector<std::string> TestAccount::Environment(const std::vector<std::string> &env) const {
    std::vector<std::string> inherited;
    for (char **e = environ; *e; ++e)
        inherited.push_back(*e);
    // The test's XDG folders are the test's: the account gets its own, and
    // a runtime folder only where the test gives it one.
    const std::vector<std::string> own = {"HOME=" + m_home,
                                          "USER=" + m_name,
                                          "LOGNAME=" + m_name,
                                          "TMPDIR=" + m_home,
                                          "QUILLBAY_HOME=" + m_home + "/quillbay",
                                          "XDG_CONFIG_HOME=" + m_home + "/.config",
                                          "XDG_DATA_HOME=" + m_home + "/.local/share",
                                          "XDG_STATE_HOME=" + m_home + "/.local/state",
                                          "XDG_CACHE_HOME=" + m_home + "/.cache",
                                          "XDG_RUNTIME_DIR"};
    return Overlay(Overlay(inherited, own), env);
}

int TestAccount::Launch(const std::vector<std::string> &command,
                        const std::vector<std::string> &env,
                        std::vector<std::pair<int, int>> descriptors) const {
    if (m_uid < 0 || command.empty())
        return -1;
    const std::vector<std::string> argv = Startable(command);
    std::vector<std::string> environment = Environment(env);
    std::vector<char *> args, envp;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    for (std::string &e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const gid_t gid = static_cast<gid_t>(m_gid);
    const uid_t uid = static_cast<uid_t>(m_uid);
    const char *home = m_home.c_str();
    pid_t pid = fork();
    if (pid == 0) {
        // Only calls that are safe between fork and exec. Each descriptor
        // is first moved out of the way of the numbers it goes to.
        for (auto &[from, to] : descriptors)
            from = fcntl(from, F_DUPFD_CLOEXEC, 64);
        for (const auto &[from, to] : descriptors)
            dup2(from, to);
        if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0 || chdir(home) != 0)
            _exit(126);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    return pid > 0 ? pid : -1;
}

int TestAccount::Spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                       int *outputFd, const std::string &errorPath) const {
    int pipes[2] = {-1, -1};
    if (outputFd && pipe2(pipes, O_CLOEXEC) != 0)
        return -1;
    const int error = errorPath.empty() ? -1
                                        : open(errorPath.c_str(),
                                               O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    std::vector<std::pair<int, int>> descriptors;
    if (outputFd)
        descriptors.push_back({pipes[1], STDOUT_FILENO});
    if (error >= 0)
        descriptors.push_back({error, STDERR_FILENO});
    const int pid = Launch(argv, env, descriptors);
    if (error >= 0)
        close(error);
    if (outputFd) {
        close(pipes[1]);
        *outputFd = pid > 0 ? pipes[0] : (close(pipes[0]), -1);
    }
    return pid;
}

int TestAccount::SpawnWith(const std::vector<std::string> &argv,
                           const std::vector<std::string> &env,
                           const std::vector<std::pair<int, int>> &descriptors) const {
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    std::vector<std::pair<int, int>> all = descriptors;
    all.push_back({null, STDOUT_FILENO});
    all.push_back({null, STDERR_FILENO});
    const int pid = Launch(argv, env, all);
    close(null);
    return pid;
}

ProcessResult TestAccount::Run(const std::vector<std::string> &argv,
                               const std::vector<std::string> &env) const {
    int out = -1;
    int pid = Spawn(argv, env, &out);
    if (pid < 0)
        return {-1, ""};
    return Finish(pid, out);
}

} // namespace testing_support
