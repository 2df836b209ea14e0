// Certificate checks for the worker's TLS connections (OpenSSL, in
// TlsOpenssl.cpp, the one file that includes it).
//
// A connection's handshake never fails on the server's certificate: the
// verification records what it found (unknown issuer, dates, usage, other
// faults) on the connection, and each request then checks those findings and
// the certificate's name against its own security flags before anything is
// sent. A connection kept for reuse keeps its findings, so a request with
// strict flags is never sent over a connection another request accepted with
// lax ones.
#pragma once

#include <atomic>
#include <memory>
#include <string>

namespace platform::inet {

enum TlsProblem : unsigned {
    kTlsUntrusted = 1, // the issuer is not among the trusted certificates
    kTlsDate = 2,      // expired or not yet valid
    kTlsUsage = 4,     // not made for a server
    kTlsInvalid = 8,   // any other fault (bad signature, malformed, ...)
    kTlsName = 16,     // the certificate does not name the host (per request)
};

struct TlsFindings {
    std::atomic<unsigned> problems{0};
    std::atomic<bool> clientCertificateRequested{false};
};

// Prepares a connection's SSL_CTX (given as void *): trusted certificates
// from the system (and SSL_CERT_FILE / SSL_CERT_DIR), verification that
// records into the findings, no client certificate.
void PrepareTlsContext(void *sslContext, const std::shared_ptr<TlsFindings> &findings);
// The findings of the connection behind an SSL (given as void *), or null.
std::shared_ptr<TlsFindings> FindingsOfConnection(void *ssl);
// Whether the server's certificate names the host (a DNS name or an address).
bool CertificateNamesHost(void *ssl, const std::string &host);

} // namespace platform::inet
