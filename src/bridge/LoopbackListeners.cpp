#include "LoopbackListeners.h"

#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/steady_timer.hpp>

#include "BridgeLog.h"
#include "platform/kernel/DescriptorPassing.h"

namespace bridge {

namespace asio = boost::asio;
using asio::ip::tcp;

bool LoopbackListeners::Listen(unsigned short port, std::string &error) {
    // With port 0 the system picks one for 127.0.0.1; [::1] must get the
    // same, which another program may hold: then try again.
    for (int attempt = 0; attempt < 20; ++attempt) {
        m_acceptors.clear();
        if (Bind(port, error))
            return true;
        if (port != 0)
            return false;
    }
    return false;
}

void LoopbackListeners::AcceptAll(std::function<void(tcp::socket)> serve) {
    m_serve = std::move(serve);
    for (auto &acceptor : m_acceptors)
        Accept(*acceptor);
}

void LoopbackListeners::Accept(tcp::acceptor &acceptor) {
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
        m_serve(std::move(socket));
        Accept(acceptor);
    });
}

bool LoopbackListeners::Bind(unsigned short port, std::string &error) {
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

bool LoopbackListeners::Adopt(const std::vector<int> &fds, std::string &error) {
    for (int fd : fds) {
        boost::system::error_code ec;
        auto acceptor = std::make_unique<tcp::acceptor>(m_io);
        acceptor->assign(platform::IsInet6Socket(fd) ? tcp::v6() : tcp::v4(), fd, ec);
        tcp::endpoint local = ec ? tcp::endpoint() : acceptor->local_endpoint(ec);
        if (ec) {
            error = "the socket handed over as descriptor " + std::to_string(fd) +
                    " is not a TCP socket: " + ec.message();
            return false;
        }
        m_port = local.port();
        m_acceptors.push_back(std::move(acceptor));
    }
    if (m_acceptors.empty())
        return error = "no socket was handed over", false;
    return true;
}

void LoopbackListeners::Close() {
    for (auto &acceptor : m_acceptors) {
        boost::system::error_code ignored;
        acceptor->close(ignored);
    }
}

} // namespace bridge
