#include "BridgeServer.h"

#include <boost/asio/ip/v6_only.hpp>
#include <csignal>
#include <cstring>

#include "BridgeLog.h"
#include "HttpConnection.h"

namespace bridge {

namespace asio = boost::asio;
using asio::ip::tcp;

BridgeServer::BridgeServer(const BridgeOptions &options, std::string token)
    : m_options(options), m_connections(std::make_shared<std::atomic<size_t>>(0)),
      m_signals(m_io, SIGINT, SIGTERM), m_timer(m_io), m_policy(m_io), m_sessions(m_io, options),
      m_router(options, m_sessions, m_policy, std::move(token)) {}

BridgeServer::~BridgeServer() {
    m_sessions.CloseAll(5);
}

bool BridgeServer::Listen(std::string &error) {
    // With port 0 the system picks one for 127.0.0.1; [::1] must get the
    // same, which another program may hold: then try again.
    for (int attempt = 0; attempt < 20; ++attempt) {
        m_acceptors.clear();
        if (Bind(m_options.port, error)) {
            m_router.SetPort(m_port);
            return true;
        }
        if (m_options.port != 0)
            return false;
    }
    return false;
}

bool BridgeServer::Bind(unsigned short port, std::string &error) {
    boost::system::error_code ec;
    auto v4 = std::make_unique<tcp::acceptor>(m_io);
    tcp::endpoint local(asio::ip::make_address("127.0.0.1"), port);
    if (v4->open(local.protocol(), ec) || v4->set_option(tcp::acceptor::reuse_address(true), ec) ||
        v4->bind(local, ec) || v4->listen(asio::socket_base::max_listen_connections, ec)) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + ec.message();
        return false;
    }
    m_port = v4->local_endpoint().port();
    m_acceptors.push_back(std::move(v4));
    auto v6 = std::make_unique<tcp::acceptor>(m_io);
    tcp::endpoint local6(asio::ip::make_address("::1"), m_port);
    if (v6->open(local6.protocol(), ec) || v6->set_option(asio::ip::v6_only(true), ec) ||
        v6->set_option(tcp::acceptor::reuse_address(true), ec) || v6->bind(local6, ec) ||
        v6->listen(asio::socket_base::max_listen_connections, ec)) {
        if (ec == asio::error::address_in_use) {
            error = "cannot listen on [::1]:" + std::to_string(m_port) + ": " + ec.message();
            return false;
        }
        Log(LogLevel::Warning, "no IPv6 loopback here (" + ec.message() + "): 127.0.0.1 only");
        return true;
    }
    m_acceptors.push_back(std::move(v6));
    return true;
}

void BridgeServer::PrepareFork() {
    m_io.notify_fork(asio::io_context::fork_prepare);
}

void BridgeServer::ForkedChild() {
    m_io.notify_fork(asio::io_context::fork_child);
}

bool BridgeServer::Run() {
    for (auto &acceptor : m_acceptors)
        Accept(*acceptor);
    m_signals.async_wait([this](const boost::system::error_code &ec, int signal) {
        if (ec)
            return;
        Log(LogLevel::Info, std::string("stopping (") + strsignal(signal) + ")");
        for (auto &acceptor : m_acceptors)
            acceptor->close();
        m_io.stop();
    });
    Tick();
    m_io.run();
    return m_sessions.CloseAll(5);
}

void BridgeServer::Accept(tcp::acceptor &acceptor) {
    acceptor.async_accept([this, &acceptor](boost::system::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted)
            return;
        if (ec) {
            // Out of descriptors or the like: try again shortly, not at once.
            Log(LogLevel::Warning, "accepting a connection failed: " + ec.message());
            auto pause = std::make_shared<asio::steady_timer>(m_io, std::chrono::milliseconds(100));
            pause->async_wait([this, pause, &acceptor](const boost::system::error_code &waited) {
                if (!waited)
                    Accept(acceptor);
            });
            return;
        }
        if (*m_connections < m_options.maxConnections) {
            // Requests and replies are small and answered at once: no Nagle.
            boost::system::error_code ignored;
            socket.set_option(tcp::no_delay(true), ignored);
            ConnectionContext context{m_options, m_router, m_sessions};
            std::make_shared<HttpConnection>(std::move(socket), context,
                                             ConnectionTicket(m_connections))
                ->Start();
        } // else: the socket closes as it goes out of scope
        Accept(acceptor);
    });
}

void BridgeServer::Tick() {
    m_sessions.Sweep();
    m_timer.expires_after(std::chrono::seconds(1));
    m_timer.async_wait([this](const boost::system::error_code &ec) {
        if (!ec)
            Tick();
    });
}

} // namespace bridge
