// Real servers for the HTTP tests, on loopback, started by the tests and
// stopped by them: nginx (from Debian) for ordinary traffic and HTTPS with
// certificates the tests make with openssl, and the tests' own small server
// (fault_server.py) for what real servers do not do on demand.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// Certificates made once per test program: a CA, and server certificates
// for localhost and 127.0.0.1 that it issued (one valid, one expired, one
// for another name), and a self-signed one for the same names.
struct TestCertificates {
    std::string dir;
    std::string caFile; // the CA certificate, to trust through SSL_CERT_FILE
    std::string good, goodKey, expired, expiredKey, otherName, otherNameKey, selfSigned, selfKey;
    bool ok = false;
};
const TestCertificates &Certificates();

// A port on 127.0.0.1 that nothing listens on right now.
int FreePort();
// Whether something accepts connections on the port within the time.
bool WaitForPort(const std::string &host, int port, int milliseconds);

class Nginx {
public:
    // Plain HTTP, and one TLS port for each of the good, expired, other-name
    // and self-signed certificates. The document root is Root().
    Nginx();
    ~Nginx();
    Nginx(const Nginx &) = delete;
    Nginx &operator=(const Nginx &) = delete;

    bool Ready(std::string &why) const;
    int Port() const { return m_port; }
    enum Tls { kGood, kExpired, kOtherName, kSelfSigned };
    int TlsPort(Tls which) const { return m_tls[which]; }
    const std::string &Root() const { return m_www; }

private:
    std::string m_dir, m_www, m_why;
    int m_pid = -1, m_port = 0, m_tls[4] = {};
};

class FaultServer {
public:
    explicit FaultServer(const std::vector<std::string> &arguments = {});
    ~FaultServer();
    FaultServer(const FaultServer &) = delete;
    FaultServer &operator=(const FaultServer &) = delete;

    int Port() const { return m_port; }
    std::string Url(const std::string &path) const;

private:
    int m_pid = -1, m_port = 0;
};

// tinyproxy (from Debian), in the foreground with a configuration of its own:
// it serves 127.0.0.1 on a port of its own and connects to servers from the
// address `outgoing`, so a server that takes connections from that address
// only (FaultServer's --only-from) is reached through it alone.
class Tinyproxy {
public:
    explicit Tinyproxy(const std::string &outgoing);
    ~Tinyproxy();
    Tinyproxy(const Tinyproxy &) = delete;
    Tinyproxy &operator=(const Tinyproxy &) = delete;

    bool Ready(std::string &why) const;
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port); }

private:
    std::string m_dir, m_why;
    int m_pid = -1, m_port = 0;
};

// Sets the user's receive time-out for new Internet sessions (milliseconds),
// or removes it (0) so the default holds again.
void SetReceiveTimeout(unsigned long milliseconds);

} // namespace testing_support
