// The listening TCP sockets of the bridge or the dispatcher: one port on
// 127.0.0.1 and [::1] ([::1] is skipped where the machine has no IPv6), bound
// here or handed over by the service manager.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace bridge {

class LoopbackListeners {
public:
    explicit LoopbackListeners(boost::asio::io_context &io) : m_io(io) {}

    // Binds `port` (0: any free one) on both addresses; false with `error`.
    bool Listen(unsigned short port, std::string &error);
    // Takes listening sockets the service manager bound; false with `error`
    // when one is not a listening TCP socket.
    bool Adopt(const std::vector<int> &fds, std::string &error);
    unsigned short Port() const { return m_port; }
    std::vector<std::unique_ptr<boost::asio::ip::tcp::acceptor>> &Acceptors() {
        return m_acceptors;
    }
    // Accepts connections on every listening socket until Close(), handing
    // each to `serve`.
    void AcceptAll(std::function<void(boost::asio::ip::tcp::socket)> serve);
    void Close();

private:
    bool Bind(unsigned short port, std::string &error);
    void Accept(boost::asio::ip::tcp::acceptor &acceptor);

    boost::asio::io_context &m_io;
    std::vector<std::unique_ptr<boost::asio::ip::tcp::acceptor>> m_acceptors;
    unsigned short m_port = 0;
    std::function<void(boost::asio::ip::tcp::socket)> m_serve;
};

} // namespace bridge
