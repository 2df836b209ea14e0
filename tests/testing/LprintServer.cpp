#include "testing/LprintServer.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "testing/HttpServers.h"
#include "testing/TestSupport.h"

namespace testing_support {
namespace {

constexpr const char *kLprint = "/usr/bin/lprint";
constexpr const char *kUser = "nobody"; // who the server runs as under root

} // namespace

LprintServer::LprintServer() {
    if (access(kLprint, X_OK) != 0) {
        m_why = "lprint is not installed (apt-get install lprint)";
        return;
    }
    m_root = MakeServerRoot("lprint-", m_why);
    if (m_root.empty())
        return;
    m_asRoot = geteuid() == 0;
    for (const char *dir : {"/home", "/tmp", "/spool"}) {
        MakeFolder(m_root + dir, 0755);
        if (m_asRoot)
            Run({"/bin/chown", std::string(kUser) + ":", m_root + dir});
    }
    m_port = FreePort();
    // Note: LPrint 1.1 listens on every address of its port; the port is a
    // free one of the test's, and the server lives as long as the test.
    m_pid = Spawn(
        Command({"server", "-o", "server-port=" + std::to_string(m_port), "-o",
                 "server-hostname=localhost", "-o", "log-level=info", "-o",
                 "log-file=" + m_root + "/tmp/lprint.log", "-o",
                 "spool-directory=" + m_root + "/spool", "-o", "server-options=no-web-interface"}),
        nullptr);
    if (m_pid < 0 || !WaitForPort("127.0.0.1", m_port, 20000))
        m_why = "lprint server did not start";
}

std::vector<std::string> LprintServer::Command(const std::vector<std::string> &arguments) const {
    std::vector<std::string> argv;
    if (m_asRoot)
        argv = {"/usr/sbin/runuser", "-u", kUser, "--"};
    // Its state file is $HOME/.lprint.conf, its socket in $TMPDIR.
    argv.insert(argv.end(),
                {"/usr/bin/env", "HOME=" + m_root + "/home", "TMPDIR=" + m_root + "/tmp", kLprint});
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

std::string LprintServer::AddPrinter(const std::string &name, const std::string &driver,
                                     const std::string &device) {
    if (!m_why.empty())
        return "";
    // The server takes sub-commands once its socket is there.
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (Run(Command({"add", "-d", name, "-v", device, "-m", driver})).exitCode == 0)
            return "ipp://127.0.0.1:" + std::to_string(m_port) + "/ipp/print/" + name;
        usleep(100000);
    }
    return "";
}

int LprintServer::ServerPid() const {
    // Under root the server is runuser's child.
    if (!m_asRoot || m_pid <= 0)
        return m_pid;
    const std::string pid = std::to_string(m_pid);
    return atoi(ReadFile("/proc/" + pid + "/task/" + pid + "/children").c_str());
}

void LprintServer::Pause(bool paused) {
    if (const int pid = ServerPid(); pid > 0)
        kill(pid, paused ? SIGSTOP : SIGCONT);
}

LprintServer::~LprintServer() {
    // The server itself first: runuser, ended, would leave it running; it
    // ends on its own once the server has.
    bool ended = m_pid <= 0;
    if (const int server = ServerPid(); server > 0 && server != m_pid) {
        kill(server, SIGCONT);
        kill(server, SIGTERM);
        for (int waited = 0; waited < 500 && !ended; ++waited) {
            ended = waitpid(m_pid, nullptr, WNOHANG) == m_pid;
            if (!ended)
                usleep(20000);
        }
    }
    if (!ended)
        EndProcess(m_pid, std::chrono::milliseconds(10000));
    RemoveServerRoot(m_root);
}

bool LprintServer::Ready(std::string &why) const {
    why = m_why;
    return m_why.empty();
}

} // namespace testing_support
