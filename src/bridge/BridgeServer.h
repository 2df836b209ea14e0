// The bridge's server: listeners on 127.0.0.1 and [::1] (or, behind the
// dispatcher, the account's local socket, on which connections arrive
// already accepted), one I/O thread for every connection, the sessions, the
// origin policy and the endpoints. Every connection is first checked to be
// this account's (PeerCheck).
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "BridgeOptions.h"
#include "ConnectionTable.h"
#include "LoopbackListeners.h"
#include "OriginPolicy.h"
#include "PeerCheck.h"
#include "Router.h"
#include "SessionTable.h"

namespace bridge {

// The system account the dispatcher runs as; with root, the only one whose
// processes may hand connections to an account's bridge.
inline constexpr const char *kDispatcherAccount = "quillbay-dispatch";

class BridgeServer {
public:
    BridgeServer(const BridgeOptions &options, std::string token);
    ~BridgeServer();

    // Binds the port on both loopback addresses, or with --socket-only (or
    // when the service manager passed a local socket) serves the account's
    // local socket; false with `error` when it cannot.
    bool Listen(std::string &error);
    unsigned short Port() const { return m_port; }
    // The local socket served with --socket-only (else empty).
    const std::string &SocketPath() const { return m_socketPath; }
    // Before and after the process forks to detach (no thread runs yet).
    void PrepareFork();
    void ForkedChild();
    // Serves until SIGINT or SIGTERM; then stops in order (Stop) and ends
    // every session. False when a session's call was still busy at the end.
    bool Run();

private:
    using LocalProtocol = boost::asio::local::stream_protocol;

    bool ListenLocal(const std::vector<int> &activated, std::string &error);
    void RemoveLeftovers();
    void AcceptLocal();
    void TakeHandedOver(std::shared_ptr<LocalProtocol::socket> channel);
    bool FromDispatcher(LocalProtocol::socket &channel);
    void Serve(boost::asio::ip::tcp::socket socket);
    void Tick();
    // The orderly stop: no new connection, requests from now on answered
    // shutting-down; the calls in flight finish (for up to kCallsFinish) and
    // their replies are written, then every connection ends (WebSockets
    // with 1001) and the I/O loop with them.
    void Stop(int signal);
    void AwaitCalls();
    void AwaitConnections();

    const BridgeOptions &m_options;
    std::shared_ptr<ConnectionTable> m_connections;
    boost::asio::io_context m_io;
    boost::asio::signal_set m_signals;
    boost::asio::steady_timer m_timer;
    boost::asio::steady_timer m_stopTimer;
    std::chrono::steady_clock::time_point m_stopBy;
    LoopbackListeners m_listeners;
    std::unique_ptr<LocalProtocol::acceptor> m_local;
    std::string m_socketPath;
    bool m_boundSocket = false;                      // made by this bridge (not handed over)
    std::optional<platform::AccountId> m_dispatcher; // its account, when the machine has it
    std::set<platform::AccountId> m_strangersLogged; // local senders refused so far
    PeerCheck m_peers;
    OriginPolicy m_policy;
    SessionTable m_sessions;
    Router m_router;
    unsigned short m_port = 0;
};

} // namespace bridge
