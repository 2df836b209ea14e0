// The bridge's server: listeners on 127.0.0.1 and [::1], one I/O thread for
// every connection, the sessions, the origin policy and the endpoints.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <memory>
#include <string>
#include <vector>

#include "BridgeOptions.h"
#include "OriginPolicy.h"
#include "Router.h"
#include "SessionTable.h"

namespace bridge {

class BridgeServer {
public:
    BridgeServer(const BridgeOptions &options, std::string token);
    ~BridgeServer();

    // Binds the port on both loopback addresses ([::1] is skipped where the
    // machine has no IPv6); false with `error` when it cannot.
    bool Listen(std::string &error);
    unsigned short Port() const { return m_port; }
    // Before and after the process forks to detach (no thread runs yet).
    void PrepareFork();
    void ForkedChild();
    // Serves until SIGINT or SIGTERM; then ends every session. False when a
    // session's call was still busy at the end.
    bool Run();

private:
    bool Bind(unsigned short port, std::string &error);
    void Accept(boost::asio::ip::tcp::acceptor &acceptor);
    void Tick();

    const BridgeOptions &m_options;
    std::shared_ptr<std::atomic<size_t>> m_connections;
    boost::asio::io_context m_io;
    boost::asio::signal_set m_signals;
    boost::asio::steady_timer m_timer;
    std::vector<std::unique_ptr<boost::asio::ip::tcp::acceptor>> m_acceptors;
    OriginPolicy m_policy;
    SessionTable m_sessions;
    Router m_router;
    unsigned short m_port = 0;
};

} // namespace bridge
