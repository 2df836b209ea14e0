#include "testing/PrivatePostgres.h"

#include <csignal>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "testing/TestSupport.h"

namespace testing_support {
namespace {

constexpr const char *kSuperPassword = "quill-super";
// The socket's name carries a port number; the folder is the cluster's own.
constexpr const char *kPort = "5432";

// The newest installed server's programs.
std::string ServerBin() {
    std::string best;
    if (DIR *dir = opendir("/usr/lib/postgresql")) {
        while (dirent *entry = readdir(dir)) {
            std::string bin = std::string("/usr/lib/postgresql/") + entry->d_name + "/bin";
            if (entry->d_name[0] != '.' && access((bin + "/initdb").c_str(), X_OK) == 0 &&
                bin > best)
                best = bin;
        }
        closedir(dir);
    }
    return best;
}

std::string Quoted(const std::string &text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

PrivatePostgres *g_shared = nullptr;

// Stops the shared server before the test run's folders are removed.
class SharedServer : public ::testing::Environment {
public:
    void TearDown() override {
        delete g_shared;
        g_shared = nullptr;
    }
};

[[maybe_unused]] ::testing::Environment *const g_environment =
    ::testing::AddGlobalTestEnvironment(new SharedServer);

} // namespace

PrivatePostgres &PrivatePostgres::Shared() {
    if (!g_shared)
        g_shared = new PrivatePostgres;
    return *g_shared;
}

PrivatePostgres::PrivatePostgres() {
    m_bin = ServerBin();
    if (m_bin.empty()) {
        m_why = "no PostgreSQL server is installed";
        return;
    }
    m_asRoot = geteuid() == 0;
    // Run as root, the server runs as postgres: its root must be open to it.
    m_root = MakeServerRoot("pg-", m_why);
    if (m_root.empty())
        return;
    WriteFile(m_root + "/pwfile", std::string(kSuperPassword) + "\n");
    if (m_asRoot)
        Run({"/bin/chown", "-R", "postgres:postgres", m_root});
    std::string init = AsServer(m_bin + "/initdb -D " + Quoted(m_root + "/data") +
                                " -U postgres --pwfile=" + Quoted(m_root + "/pwfile") +
                                " -A scram-sha-256 -E UTF8 --locale=C.UTF-8 -N >" +
                                Quoted(m_root + "/initdb.log") + " 2>&1");
    if (Run({"/bin/sh", "-c", init}).exitCode != 0) {
        m_why = "initdb failed: " + ReadFile(m_root + "/initdb.log");
        return;
    }
    if (!Control("start")) {
        m_why = "the server did not start: " + ReadFile(m_root + "/server.log");
        return;
    }
    Watch();
    if (!Superuser(std::string("CREATE ROLE ") + kUser + " LOGIN PASSWORD '" + kPassword + "'") ||
        !Superuser(std::string("CREATE DATABASE ") + kDatabase + " OWNER " + kUser +
                   " ENCODING 'UTF8'"))
        m_why = "the test user and database could not be made";
}

PrivatePostgres::~PrivatePostgres() {
    if (m_watcher > 0) {
        kill(m_watcher, SIGKILL);
        waitpid(m_watcher, nullptr, 0);
    }
    if (m_running)
        Control("stop");
    RemoveServerRoot(m_root);
}

bool PrivatePostgres::Ready(std::string &why) const {
    why = m_why;
    return m_why.empty();
}

std::string PrivatePostgres::AsServer(const std::string &command) const {
    return m_asRoot ? "/usr/sbin/runuser -u postgres -- /bin/sh -c " + Quoted(command) : command;
}

bool PrivatePostgres::Control(const std::string &action) {
    std::string options = "-c listen_addresses='' -c unix_socket_directories=" + m_root + " -p " +
                          kPort + " -c fsync=off -c max_connections=40";
    std::string command = m_bin + "/pg_ctl -D " + Quoted(m_root + "/data") + " -w -t 60 -l " +
                          Quoted(m_root + "/server.log") + " -o " + Quoted(options) +
                          (action == "start" ? " start" : " -m fast " + action) +
                          " >/dev/null 2>&1";
    bool ok = Run({"/bin/sh", "-c", AsServer(command)}).exitCode == 0;
    m_running = action != "stop" ? ok : false;
    return ok;
}

bool PrivatePostgres::Restart() {
    return Control("restart");
}

// A process that stops the server and removes its folder once this
// program is gone, should it end without the destructor. It runs in a
// session of its own, so that a signal to this program's process group
// (a time-out's, say) does not end it too.
void PrivatePostgres::Watch() {
    std::string stop = AsServer(m_bin + "/pg_ctl -D " + Quoted(m_root + "/data") +
                                " -m immediate stop >/dev/null 2>&1");
    m_watcher =
        Spawn({"/usr/bin/setsid", "/bin/sh", "-c",
               "while kill -0 " + std::to_string(getpid()) + " 2>/dev/null; do sleep 1; done; " +
                   stop + "; rm -rf " + Quoted(ServerRootParent(m_root))},
              nullptr);
}

bool PrivatePostgres::Superuser(const std::string &sql, const std::string &database) const {
    return Run({"/usr/bin/env", std::string("PGPASSWORD=") + kSuperPassword, m_bin + "/psql", "-X",
                "-q", "-v", "ON_ERROR_STOP=1", "-h", m_root, "-p", kPort, "-U", "postgres", "-d",
                database, "-c", sql})
               .exitCode == 0;
}

std::string PrivatePostgres::ConnectionString(const std::string &password) const {
    return "Driver={PostgreSQL Unicode};Servername=" + m_root + ";Port=" + kPort +
           ";Database=" + kDatabase + ";UID=" + kUser + ";PWD=" + password;
}

} // namespace testing_support
