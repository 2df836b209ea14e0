#include "HttpServers.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "TestSupport.h"
#include "platform/registry/winreg.h"

namespace testing_support {
namespace {

bool Openssl(const std::vector<std::string> &arguments) {
    // Quietly: openssl reports every step on its error stream.
    std::vector<std::string> argv{"/bin/sh", "-c", "exec /usr/bin/openssl \"$@\" 2>/dev/null",
                                  "openssl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return Run(argv).exitCode == 0;
}

// A key and a signing request for the names.
bool Request(const std::string &base, const std::string &name) {
    return Openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                    "-keyout", base + ".key", "-out", base + ".csr", "-subj", "/CN=" + name});
}

TestCertificates MakeCertificates() {
    TestCertificates c;
    c.dir = MakeTempDir("certs-");
    const std::string d = c.dir + "/";
    c.caFile = d + "ca.pem";
    WriteFile(d + "server.ext", "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n"
                                "subjectAltName=DNS:localhost,IP:127.0.0.1\n");
    WriteFile(d + "other.ext", "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n"
                               "subjectAltName=DNS:other.invalid\n");
    WriteFile(d + "index.txt", "");
    WriteFile(d + "serial", "1000\n");
    WriteFile(d + "ca.cnf",
              "[ca]\ndefault_ca=test\n[test]\ndatabase=" + d + "index.txt\nnew_certs_dir=" + d +
                  "\nserial=" + d +
                  "serial\ndefault_md=sha256\npolicy=any\n[any]\ncommonName=supplied\n");
    bool ok = Openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                       "-nodes", "-keyout", d + "ca.key", "-out", c.caFile, "-days", "3", "-subj",
                       "/CN=Quillbay Test CA"});
    const std::string now = "-days";
    ok = ok && Request(d + "good", "localhost") &&
         Openssl({"x509", "-req", "-in", d + "good.csr", "-CA", c.caFile, "-CAkey", d + "ca.key",
                  "-set_serial", "2", "-days", "3", "-extfile", d + "server.ext", "-out",
                  d + "good.pem"});
    ok = ok && Request(d + "other", "other.invalid") &&
         Openssl({"x509", "-req", "-in", d + "other.csr", "-CA", c.caFile, "-CAkey", d + "ca.key",
                  "-set_serial", "3", "-days", "3", "-extfile", d + "other.ext", "-out",
                  d + "other.pem"});
    ok = ok && Request(d + "expired", "localhost") &&
         Openssl({"ca", "-batch", "-config", d + "ca.cnf", "-cert", c.caFile, "-keyfile",
                  d + "ca.key", "-in", d + "expired.csr", "-out", d + "expired.pem", "-notext",
                  "-startdate", "20200101000000Z", "-enddate", "20200102000000Z", "-extfile",
                  d + "server.ext"});
    ok = ok && Openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                        "-nodes", "-keyout", d + "self.key", "-out", d + "self.pem", "-days", "3",
                        "-subj", "/CN=localhost", "-addext",
                        "subjectAltName=DNS:localhost,IP:127.0.0.1"});
    c.good = d + "good.pem";
    c.goodKey = d + "good.key";
    c.expired = d + "expired.pem";
    c.expiredKey = d + "expired.key";
    c.otherName = d + "other.pem";
    c.otherNameKey = d + "other.key";
    c.selfSigned = d + "self.pem";
    c.selfKey = d + "self.key";
    c.ok = ok;
    return c;
}

void Stop(int &pid) {
    if (pid > 0) {
        kill(pid, SIGTERM);
        Wait(pid);
    }
    pid = -1;
}

} // namespace

const TestCertificates &Certificates() {
    static const TestCertificates certificates = MakeCertificates();
    return certificates;
}

int FreePort() {
    // The kernel may hand the same free port out again once it is closed: a
    // port is given once per process, so two servers of one test never get
    // the same.
    static std::mutex lock;
    static std::set<int> given;
    std::lock_guard<std::mutex> guard(lock);
    for (int attempt = 0; attempt < 100; ++attempt) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        int port = 0;
        if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        close(fd);
        if (port != 0 && given.insert(port).second)
            return port;
    }
    return 0;
}

bool WaitForPort(const std::string &host, int port, int milliseconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    do {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, host.c_str(), &address.sin_addr);
        bool up = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
        close(fd);
        if (up)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

Nginx::Nginx() {
    const TestCertificates &c = Certificates();
    if (!c.ok) {
        m_why = "openssl could not make the test certificates";
        return;
    }
    m_dir = MakeTempDir("nginx-");
    m_www = m_dir + "/www";
    Run({"/bin/mkdir", "-p", m_www, m_dir + "/temp"});
    m_port = FreePort();
    std::string servers;
    const std::string locations =
        "    root " + m_www +
        ";\n"
        "    location = /conn { return 200 \"$connection $connection_requests\"; }\n"
        "    location = /post { return 200 \"posted\"; }\n"
        "    location = /moved { return 302 /logo.gif; }\n"
        // Files under /replies/ answer a POST as they answer a GET.
        "    location /replies/ { error_page 405 =200 $uri; }\n";
    servers +=
        "  server {\n    listen 127.0.0.1:" + std::to_string(m_port) + ";\n" + locations + "  }\n";
    const std::pair<std::string, std::string> certs[4] = {{c.good, c.goodKey},
                                                          {c.expired, c.expiredKey},
                                                          {c.otherName, c.otherNameKey},
                                                          {c.selfSigned, c.selfKey}};
    for (int i = 0; i < 4; ++i) {
        m_tls[i] = FreePort();
        servers += "  server {\n    listen 127.0.0.1:" + std::to_string(m_tls[i]) +
                   " ssl;\n    ssl_certificate " + certs[i].first + ";\n    ssl_certificate_key " +
                   certs[i].second + ";\n" + locations + "  }\n";
    }
    const std::string temp = m_dir + "/temp";
    WriteFile(m_dir + "/nginx.conf",
              "master_process off;\ndaemon off;\nerror_log " + m_dir + "/error.log;\npid " + m_dir +
                  "/nginx.pid;\nevents { worker_connections 256; }\nhttp {\n  access_log off;\n"
                  "  default_type application/octet-stream;\n  keepalive_requests 100000;\n  "
                  "sendfile on;\n"
                  "  client_body_temp_path " +
                  temp + "/body;\n  proxy_temp_path " + temp + "/proxy;\n  fastcgi_temp_path " +
                  temp + "/fastcgi;\n  uwsgi_temp_path " + temp + "/uwsgi;\n  scgi_temp_path " +
                  temp + "/scgi;\n" + servers + "}\n");
    m_pid = Spawn(
        {"/usr/sbin/nginx", "-p", m_dir, "-c", m_dir + "/nginx.conf", "-e", m_dir + "/error.log"},
        nullptr);
    bool up = m_pid > 0 && WaitForPort("127.0.0.1", m_port, 10000);
    for (int port : m_tls)
        up = up && WaitForPort("127.0.0.1", port, 10000);
    if (!up)
        m_why = "nginx did not start: " + ReadFile(m_dir + "/error.log");
}

Nginx::~Nginx() {
    Stop(m_pid);
    if (!m_dir.empty())
        RemoveTree(m_dir);
}

bool Nginx::Ready(std::string &why) const {
    why = m_why;
    return m_why.empty();
}

FaultServer::FaultServer(const std::vector<std::string> &arguments) {
    std::vector<std::string> argv{"/usr/bin/python3", FAULT_SERVER_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    int fd = -1;
    m_pid = Spawn(argv, &fd);
    if (m_pid < 0)
        return;
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    close(fd);
    m_port = atoi(line.c_str());
}

FaultServer::~FaultServer() {
    Stop(m_pid);
}

std::string FaultServer::Url(const std::string &path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

Tinyproxy::Tinyproxy(const std::string &outgoing) {
    m_dir = MakeTempDir("tinyproxy-");
    m_port = FreePort();
    WriteFile(m_dir + "/tinyproxy.conf", "Port " + std::to_string(m_port) +
                                             "\nListen 127.0.0.1\nBind " + outgoing +
                                             "\nAllow 127.0.0.1\nTimeout 60\nMaxClients 50\n"
                                             "LogLevel Info\nLogFile \"" +
                                             m_dir + "/tinyproxy.log\"\n");
    m_pid = Spawn({"/usr/bin/tinyproxy", "-d", "-c", m_dir + "/tinyproxy.conf"}, nullptr);
    if (m_pid < 0 || !WaitForPort("127.0.0.1", m_port, 10000))
        m_why = "tinyproxy did not start: " + ReadFile(m_dir + "/tinyproxy.log");
}

Tinyproxy::~Tinyproxy() {
    Stop(m_pid);
    RemoveTree(m_dir);
}

bool Tinyproxy::Ready(std::string &why) const {
    why = m_why;
    return m_why.empty();
}

void SetReceiveTimeout(unsigned long milliseconds) {
    const DWORD value = static_cast<DWORD>(milliseconds);
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER,
                    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0, nullptr,
                    0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (value)
        RegSetValueExA(key, "ReceiveTimeout", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                       sizeof(value));
    else
        RegDeleteValueA(key, "ReceiveTimeout");
    RegCloseKey(key);
}

} // namespace testing_support
