#include "testing/PrivateCups.h"

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "testing/TestSupport.h"

namespace testing_support {
namespace {

int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

bool WaitForPath(const std::string &path, int milliseconds) {
    for (int waited = 0; waited < milliseconds; waited += 20) {
        if (access(path.c_str(), F_OK) == 0)
            return true;
        usleep(20000);
    }
    return false;
}

} // namespace

PrivateCups::PrivateCups() {
    m_root = MakeTempDir("cups-");
    for (const char *dir : {"/etc", "/spool", "/tmp", "/cache", "/state", "/log", "/ipp"})
        mkdir((m_root + dir).c_str(), 0755);
    // Filters run as another user.
    OpenChain(m_root + "/ipp");
    const std::string bus = "unix:path=" + m_root + "/bus";
    setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.c_str(), 1);
    m_dbus = Spawn({"/usr/bin/dbus-daemon", "--session", "--nofork", "--address=" + bus}, nullptr);
    if (!WaitForPath(m_root + "/bus", 5000)) {
        m_why = "dbus-daemon did not start";
        return;
    }
    const std::string printerPort = std::to_string(FreePort());
    m_printer = Spawn({"/usr/sbin/ippeveprinter", "-p", printerPort, "-n", "localhost", "-r", "off",
                       "-k", "-d", m_root + "/ipp", "-c", "/bin/true", "-f", "application/pdf",
                       "Test Printer"},
                      nullptr);
    m_socket = m_root + "/cups.sock";
    WriteFile(m_root + "/etc/cupsd.conf",
              "LogLevel warn\nListen 127.0.0.1:" + std::to_string(FreePort()) + "\nListen " +
                  m_socket +
                  "\nBrowsing Off\nDefaultAuthType None\nWebInterface No\n"
                  "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                  "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n");
    WriteFile(m_root + "/etc/cups-files.conf",
              "ServerRoot " + m_root + "/etc\nRequestRoot " + m_root + "/spool\nTempDir " + m_root +
                  "/tmp\nCacheDir " + m_root + "/cache\nStateDir " + m_root + "/state\nAccessLog " +
                  m_root + "/log/access_log\nErrorLog " + m_root + "/log/error_log\nPageLog " +
                  m_root + "/log/page_log\nPrintcap " + m_root + "/printcap\nSystemGroup root\n");
    WriteFile(m_root + "/printcap", "# private\n");
    m_cupsd = Spawn({"/usr/sbin/cupsd", "-f", "-c", m_root + "/etc/cupsd.conf", "-s",
                     m_root + "/etc/cups-files.conf"},
                    nullptr);
    if (!WaitForPath(m_socket, 10000)) {
        m_why = "cupsd did not start";
        return;
    }
    setenv("CUPS_SERVER", m_socket.c_str(), 1);
    // The printer answers once it listens; lpadmin asks it for its attributes.
    for (int attempt = 0; attempt < 50; ++attempt) {
        auto added = Run({"/usr/sbin/lpadmin", "-p", m_queue, "-E", "-v",
                          "ipp://localhost:" + printerPort + "/ipp/print", "-m", "everywhere"});
        if (added.exitCode == 0) {
            Run({"/usr/sbin/lpadmin", "-d", m_queue});
            return;
        }
        usleep(100000);
    }
    m_why = "lpadmin could not add the queue";
}

PrivateCups::~PrivateCups() {
    for (int pid : {m_cupsd, m_printer, m_dbus}) {
        if (pid > 0) {
            kill(pid, SIGTERM);
            Wait(pid);
        }
    }
    unsetenv("CUPS_SERVER");
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    RemoveTree(m_root);
}

bool PrivateCups::Ready(std::string &why) const {
    why = m_why;
    return m_why.empty();
}

std::string PrivateCups::WaitForDocument(int seconds) const {
    for (int waited = 0; waited < seconds * 10; ++waited) {
        if (DIR *dir = opendir((m_root + "/ipp").c_str())) {
            std::string found;
            while (dirent *entry = readdir(dir)) {
                std::string name = entry->d_name;
                if (name.size() > 4 && name.compare(name.size() - 4, 4, ".pdf") == 0)
                    found = m_root + "/ipp/" + name;
            }
            closedir(dir);
            if (!found.empty())
                return found;
        }
        usleep(100000);
    }
    return "";
}

} // namespace testing_support
