// A session (InternetOpenA) and a connection (InternetConnectA). The session
// owns the worker that runs every transfer of its requests (Transport.h);
// a connection only names the server, as the platform's connections do: the
// TCP connections themselves are kept by the worker and reused between
// requests to the same server.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "BlockPool.h"
#include "InternetObject.h"
#include "InternetSettings.h"

namespace platform::inet {

class Transport;

class InternetSession : public InternetObject {
public:
    static std::shared_ptr<InternetSession>
    Create(const char *agent, DWORD accessType, const char *proxy, const char *bypass, DWORD flags);
    InternetSession(std::string agent, ProxySettings proxies, DWORD flags);
    ~InternetSession() override;

    const std::string &Agent() const { return m_agent; }
    bool IsAsync() const { return (m_flags & INTERNET_FLAG_ASYNC) != 0; }
    const ProxySettings &Proxies() const { return m_proxies; }
    // The cookie store's partition of the session's requests: the one of
    // the thread that opened it (CookieStore.h).
    const std::string &CookiePartition() const { return m_cookiePartition; }

    // The worker, started on first use; null when it could not be started
    // or the session is closed.
    std::shared_ptr<Transport> GetTransport();
    // The worker if it runs, without starting it.
    std::shared_ptr<Transport> RunningTransport();

    // The blocks its requests keep received bytes in.
    const std::shared_ptr<BlockPool> &Blocks() const { return m_blocks; }

    // Held by the worker while it reports to a callback; a closing handle
    // waits on it, so no status reaches a handle after InternetCloseHandle
    // returned (except to a callback that closes its own handle).
    std::mutex &DeliveryLock() { return m_delivery; }

    // Servers that asked for a client certificate ("host:port"): the next
    // request to them fails at once with ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED.
    bool WantsClientCertificate(const std::string &server);
    void SetWantsClientCertificate(const std::string &server, bool wants);

    void Close() override;

private:
    const std::string m_agent;
    const ProxySettings m_proxies;
    const DWORD m_flags;
    const std::string m_cookiePartition;
    std::mutex m_lock; // transport start and the certificate list
    std::shared_ptr<Transport> m_transport;
    bool m_stopped = false;
    std::set<std::string> m_clientCertServers;
    std::mutex m_delivery;
    const std::shared_ptr<BlockPool> m_blocks = std::make_shared<BlockPool>();
};

class InternetConnection : public InternetObject {
public:
    InternetConnection(const std::shared_ptr<InternetSession> &session, std::string host,
                       INTERNET_PORT port, DWORD service, DWORD flags, DWORD_PTR context);

    const std::string &Host() const { return m_host; }
    INTERNET_PORT Port() const { return m_port; }
    DWORD Flags() const { return m_flags; }

    // Makes a child handle of this one and enters it in the table.
    template <class T, class... Args> std::shared_ptr<T> MakeChild(Args &&...args) {
        auto child =
            std::make_shared<T>(std::static_pointer_cast<InternetConnection>(shared_from_this()),
                                std::forward<Args>(args)...);
        if (!child->Register())
            return nullptr;
        AddChild(child);
        return child;
    }

private:
    const std::string m_host;
    const INTERNET_PORT m_port;
    const DWORD m_flags;
};

} // namespace platform::inet
