#include "InternetSession.h"

#include "CookieStore.h"
#include "Transport.h"

namespace platform::inet {

std::shared_ptr<InternetSession> InternetSession::Create(const char *agent, DWORD accessType,
                                                         const char *proxy, const char *bypass,
                                                         DWORD flags) {
    ProxySettings proxies;
    switch (accessType) {
    case INTERNET_OPEN_TYPE_PRECONFIG:
        proxies = ProxySettings::Preconfigured();
        break;
    case INTERNET_OPEN_TYPE_DIRECT:
        proxies = ProxySettings::Direct();
        break;
    case INTERNET_OPEN_TYPE_PROXY:
        if (!proxy || !*proxy) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        proxies = ProxySettings::FromLists(proxy, bypass);
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto session = std::make_shared<InternetSession>(agent ? agent : "", proxies, flags);
    session->SetTimeouts(DefaultTimeouts());
    if (!session->Register())
        return nullptr;
    return session;
}

InternetSession::InternetSession(std::string agent, ProxySettings proxies, DWORD flags)
    : InternetObject(INTERNET_HANDLE_TYPE_INTERNET, nullptr, 0), m_agent(std::move(agent)),
      m_proxies(std::move(proxies)), m_flags(flags),
      m_cookiePartition(CookiePartitionOfThisThread()) {}

InternetSession::~InternetSession() {
    if (m_transport)
        m_transport->Stop();
}

std::shared_ptr<Transport> InternetSession::GetTransport() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_transport && !m_stopped)
        m_transport = Transport::Create(*this);
    return m_transport;
}

std::shared_ptr<Transport> InternetSession::RunningTransport() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_transport;
}

bool InternetSession::WantsClientCertificate(const std::string &server) {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_clientCertServers.count(server) != 0;
}

void InternetSession::SetWantsClientCertificate(const std::string &server, bool wants) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (wants)
        m_clientCertServers.insert(server);
    else
        m_clientCertServers.erase(server);
}

void InternetSession::Close() {
    if (IsClosed())
        return;
    InternetObject::Close();
    std::shared_ptr<Transport> transport;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopped = true;
        transport.swap(m_transport);
    }
    if (transport)
        transport->Stop();
}

InternetConnection::InternetConnection(const std::shared_ptr<InternetSession> &session,
                                       std::string host, INTERNET_PORT port, DWORD service,
                                       DWORD flags, DWORD_PTR context)
    : InternetObject(INTERNET_HANDLE_TYPE_CONNECT_HTTP, session, context), m_host(std::move(host)),
      m_port(port), m_flags(flags) {
    (void)service;
}

} // namespace platform::inet
