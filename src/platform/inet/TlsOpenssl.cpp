#include "Tls.h"

#include <arpa/inet.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace platform::inet {
namespace {

using FindingsRef = std::shared_ptr<TlsFindings>;

void FreeFindings(void *, void *pointer, CRYPTO_EX_DATA *, int, long, void *) {
    delete static_cast<FindingsRef *>(pointer);
}

// The slot of an SSL_CTX that holds its connection's findings.
int FindingsIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, FreeFindings);
    return index;
}

TlsFindings *FindingsOf(SSL_CTX *context) {
    auto *ref = static_cast<FindingsRef *>(SSL_CTX_get_ex_data(context, FindingsIndex()));
    return ref ? ref->get() : nullptr;
}

unsigned Classify(int error) {
    switch (error) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        return kTlsUntrusted;
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return kTlsDate;
    case X509_V_ERR_INVALID_PURPOSE:
        return kTlsUsage;
    default:
        return kTlsInvalid;
    }
}

// Records every fault and lets the verification go on, so all of them are
// known; the requests decide (Tls.h).
int RecordVerification(int ok, X509_STORE_CTX *store) {
    if (ok)
        return 1;
    auto *ssl =
        static_cast<SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    if (TlsFindings *findings = ssl ? FindingsOf(SSL_get_SSL_CTX(ssl)) : nullptr)
        findings->problems |= Classify(X509_STORE_CTX_get_error(store));
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
}

// The platform has no client certificates to offer: it notes that the server
// asked for one and answers with none.
int NoClientCertificate(SSL *ssl, X509 **, EVP_PKEY **) {
    if (TlsFindings *findings = FindingsOf(SSL_get_SSL_CTX(ssl)))
        findings->clientCertificateRequested = true;
    return 0;
}

} // namespace

void PrepareTlsContext(void *sslContext, const std::shared_ptr<TlsFindings> &findings) {
    auto *context = static_cast<SSL_CTX *>(sslContext);
    SSL_CTX_set_default_verify_paths(context);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, RecordVerification);
    SSL_CTX_set_client_cert_cb(context, NoClientCertificate);
    SSL_CTX_set_ex_data(context, FindingsIndex(), new FindingsRef(findings));
}

std::shared_ptr<TlsFindings> FindingsOfConnection(void *ssl) {
    if (!ssl)
        return nullptr;
    auto *ref = static_cast<FindingsRef *>(
        SSL_CTX_get_ex_data(SSL_get_SSL_CTX(static_cast<SSL *>(ssl)), FindingsIndex()));
    return ref ? *ref : nullptr;
}

bool CertificateNamesHost(void *ssl, const std::string &host) {
    X509 *certificate = SSL_get1_peer_certificate(static_cast<SSL *>(ssl));
    if (!certificate)
        return false;
    unsigned char address[16];
    bool named;
    if (inet_pton(AF_INET, host.c_str(), address) == 1 ||
        inet_pton(AF_INET6, host.c_str(), address) == 1)
        named = X509_check_ip_asc(certificate, host.c_str(), 0) == 1;
    else
        named = X509_check_host(certificate, host.c_str(), host.size(), 0, nullptr) == 1;
    X509_free(certificate);
    return named;
}

} // namespace platform::inet
