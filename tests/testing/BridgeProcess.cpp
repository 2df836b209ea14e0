#include "testing/BridgeProcess.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "testing/TestAccount.h"
#include "testing/TestSupport.h"

extern char **environ;

namespace testing_support {
namespace {

// The port of the line "quillbay-bridge V listening on http://127.0.0.1:P".
unsigned short ReadPort(int fd, int timeoutMs) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (line.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        char c[256];
        ssize_t n;
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0 ||
            (n = read(fd, c, sizeof c)) <= 0)
            return 0;
        line.append(c, static_cast<size_t>(n));
    }
    size_t at = line.find("127.0.0.1:");
    return at == std::string::npos ? 0 : static_cast<unsigned short>(atoi(line.c_str() + at + 10));
}

std::string NewLogPath() {
    const char *tmp = getenv("TMPDIR");
    static int serial = 0;
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/bridge-" + std::to_string(getpid()) + "-" +
           std::to_string(++serial) + ".log";
}

std::vector<std::string> Arguments(const std::string &program, const std::vector<std::string> &args,
                                   unsigned short port) {
    std::vector<std::string> argv = {program, "--foreground", "--port", std::to_string(port)};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

} // namespace

BridgeProcess::BridgeProcess(const TestAccount &account, const std::string &program,
                             const std::vector<std::string> &args, unsigned short port,
                             const std::vector<std::string> &env)
    : m_logPath(NewLogPath()), m_home(account.Home() + "/quillbay") {
    for (const std::string &e : env) {
        if (e.rfind("QUILLBAY_HOME=", 0) == 0)
            m_home = e.substr(14);
    }
    int out = -1;
    m_pid = account.Spawn(Arguments(program, args, port), env, &out, m_logPath);
    if (m_pid > 0)
        m_port = ReadPort(out, 20000);
    if (out >= 0)
        close(out);
}

BridgeProcess::BridgeProcess(const std::string &program, const std::vector<std::string> &args,
                             unsigned short port) {
    m_logPath = NewLogPath();
    std::vector<std::string> argv = Startable(Arguments(program, args, port));
    std::vector<char *> raw;
    for (std::string &a : argv)
        raw.push_back(a.data());
    raw.push_back(nullptr);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, m_logPath.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    pid_t pid = -1;
    if (posix_spawn(&pid, raw[0], &actions, nullptr, raw.data(), environ) == 0)
        m_pid = pid;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (m_pid > 0)
        m_port = ReadPort(out[0], 20000);
    close(out[0]);
}

BridgeProcess::~BridgeProcess() {
    Stop();
    unlink(m_logPath.c_str());
}

std::string BridgeProcess::Address() const {
    return "http://127.0.0.1:" + std::to_string(m_port);
}

std::string BridgeProcess::Token() const {
    const char *home = getenv("QUILLBAY_HOME");
    std::string token =
        ReadFile((m_home.empty() ? std::string(home ? home : "") : m_home) + "/bridge/token");
    while (!token.empty() && token.back() == '\n')
        token.pop_back();
    return token;
}

std::string BridgeProcess::Log() const {
    return ReadFile(m_logPath);
}

int BridgeProcess::Stop() {
    Terminate();
    return Wait();
}

void BridgeProcess::Terminate() {
    if (m_pid > 0)
        kill(m_pid, SIGTERM);
}

int BridgeProcess::Wait() {
    if (m_pid <= 0)
        return -1;
    int code = testing_support::Wait(m_pid);
    m_pid = -1;
    m_port = 0;
    return code;
}

void BridgeProcess::Kill() {
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGKILL);
    testing_support::Wait(m_pid);
    m_pid = -1;
    m_port = 0;
}

} // namespace testing_support
