// The dispatcher: one process for the machine owns the loopback port, asks
// the kernel which account owns each connecting socket and hands the
// connection itself (its descriptor, not its bytes) to that account's
// bridge on ROOT/UID/quillbay/bridge.sock. It reads nothing of a request.
// An account without a bridge gets 503 no-bridge; no connection ever goes
// to another account's bridge.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <set>
#include <string>

#include "BridgeOptions.h"
#include "LoopbackListeners.h"
#include "platform/kernel/SocketOwner.h"

namespace bridge {

class Dispatcher {
public:
    explicit Dispatcher(const BridgeOptions &options);

    // Takes the sockets the service manager passed, else binds the port;
    // false with `error` when it cannot.
    bool Listen(std::string &error);
    unsigned short Port() const { return m_listeners.Port(); }
    // Serves until SIGINT or SIGTERM.
    void Run();

private:
    void HandOver(boost::asio::ip::tcp::socket socket);
    void LogOnce(platform::AccountId account, const std::string &text);

    const BridgeOptions &m_options;
    boost::asio::io_context m_io;
    boost::asio::signal_set m_signals;
    LoopbackListeners m_listeners;
    std::set<platform::AccountId> m_logged; // accounts whose missing bridge was logged
};

} // namespace bridge
