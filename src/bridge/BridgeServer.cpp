#include "BridgeServer.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

#include "BridgeFiles.h"
#include "BridgeLog.h"
#include "BridgeProtocol.h"
#include "ClosingReply.h"
#include "HttpConnection.h"
#include "platform/kernel/DescriptorPassing.h"
#include "platform/print/JobFile.h"
#include "platform/print/Printers.h"

namespace bridge {

namespace asio = boost::asio;
using asio::ip::tcp;

namespace {

// How long the calls in flight at a stop have to finish, and then the
// connections to write their last replies and close.
constexpr auto kCallsFinish = std::chrono::seconds(5);
constexpr auto kConnectionsClose = std::chrono::seconds(2);
// Descriptors kept for what is not a connection: listeners, the log, the
// registry, a job's file, the objects' own.
constexpr size_t kOtherDescriptors = 128;

// A desktop session's soft limit on descriptors (1,024) is below what the
// connections may need: the bridge takes the hard limit. The connections
// allowed at once, as many as fit.
size_t ConnectionsThatFit(size_t wanted) {
    struct rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return wanted;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= wanted + kOtherDescriptors)
        return wanted;
    const size_t fit = limit.rlim_cur > 2 * kOtherDescriptors ? limit.rlim_cur - kOtherDescriptors
                                                              : limit.rlim_cur / 2;
    Log(LogLevel::Warning, "the descriptor limit (" + std::to_string(limit.rlim_cur) + ") allows " +
                               std::to_string(fit) + " connections at once, not " +
                               std::to_string(wanted));
    return fit;
}

} // namespace

BridgeServer::BridgeServer(const BridgeOptions &options, std::string token)
    : m_options(options),
      m_connections(std::make_shared<ConnectionTable>(ConnectionsThatFit(options.maxConnections))),
      m_signals(m_io, SIGINT, SIGTERM), m_timer(m_io), m_stopTimer(m_io), m_listeners(m_io),
      m_dispatcher(platform::FindAccount(kDispatcherAccount)), m_policy(m_io),
      m_sessions(m_io, options), m_router(options, m_sessions, m_policy, std::move(token)) {}

BridgeServer::~BridgeServer() {
    m_sessions.CloseAll(5);
}

bool BridgeServer::Listen(std::string &error) {
    // Started by the account's socket unit, the bridge serves the socket it
    // was handed, as with --socket-only: the dispatcher owns the port.
    const std::vector<int> activated = platform::ActivatedSockets();
    const bool local =
        m_options.socketOnly || (!activated.empty() && platform::IsLocalSocket(activated.front()));
    if (local) {
        if (!ListenLocal(activated, error))
            return false;
        m_port = m_options.port;
    } else {
        if (!m_listeners.Listen(m_options.port, error))
            return false;
        m_port = m_listeners.Port();
    }
    m_router.SetPort(m_port);
    m_router.SetServing(local ? "dispatched" : "direct");
    RemoveLeftovers();
    return true;
}

void BridgeServer::RemoveLeftovers() {
    // What a bridge that died left behind (the instance lock says none runs
    // now): its sessions' previews, and the partial files of its jobs.
    RemovePreviewFolders();
    const std::string prints = platform::print::PrintDirectory();
    if (const int removed = platform::print::JobFile::RemoveLeftovers(prints))
        Log(LogLevel::Info, "removed " + std::to_string(removed) + " partial job files in " +
                                prints + " of processes that are gone");
}

bool BridgeServer::ListenLocal(const std::vector<int> &activated, std::string &error) {
    boost::system::error_code ec;
    m_local = std::make_unique<LocalProtocol::acceptor>(m_io);
    if (!activated.empty() && platform::IsLocalSocket(activated.front())) {
        // The user's socket unit made and holds the socket.
        if (m_local->assign(LocalProtocol(), activated.front(), ec))
            return error = "the socket handed over is not usable: " + ec.message(), false;
        m_socketPath = m_local->local_endpoint(ec).path();
        return true;
    }
    m_socketPath = AccountSocketPath(true);
    if (m_socketPath.empty())
        return error = "XDG_RUNTIME_DIR is not set: the account's socket has no place", false;
    // A socket left by a bridge that died is in the way; the instance lock
    // says no bridge of this account runs now.
    unlink(m_socketPath.c_str());
    const mode_t mask = umask(0177); // the socket is made 0600
    const bool failed = m_local->open(LocalProtocol(), ec) || m_local->bind(m_socketPath, ec) ||
                        m_local->listen(asio::socket_base::max_listen_connections, ec);
    umask(mask);
    if (failed)
        return error = "cannot listen on " + m_socketPath + ": " + ec.message(), false;
    m_boundSocket = true;
    return true;
}

void BridgeServer::PrepareFork() {
    m_io.notify_fork(asio::io_context::fork_prepare);
}

void BridgeServer::ForkedChild() {
    m_io.notify_fork(asio::io_context::fork_child);
}

bool BridgeServer::Run() {
    m_listeners.AcceptAll([this](tcp::socket socket) { Serve(std::move(socket)); });
    if (m_local)
        AcceptLocal();
    m_signals.async_wait([this](const boost::system::error_code &ec, int signal) {
        if (!ec)
            Stop(signal);
    });
    Tick();
    m_io.run();
    // A socket this bridge made goes with it, so the dispatcher answers
    // no-bridge at once; one the service manager holds stays.
    if (m_boundSocket)
        unlink(m_socketPath.c_str());
    return m_sessions.CloseAll(5);
}

void BridgeServer::AcceptLocal() {
    m_local->async_accept([this](boost::system::error_code ec, LocalProtocol::socket channel) {
        if (ec == asio::error::operation_aborted)
            return;
        if (ec) {
            Log(LogLevel::Warning, "accepting on " + m_socketPath + " failed: " + ec.message());
            auto pause = std::make_shared<asio::steady_timer>(m_io, std::chrono::milliseconds(100));
            pause->async_wait([this, pause](const boost::system::error_code &waited) {
                if (!waited)
                    AcceptLocal();
            });
            return;
        }
        if (FromDispatcher(channel)) {
            auto shared = std::make_shared<LocalProtocol::socket>(std::move(channel));
            // The descriptor comes with the channel's one byte; a sender
            // that sends nothing is dropped after a few seconds.
            auto deadline = std::make_shared<asio::steady_timer>(m_io, std::chrono::seconds(5));
            deadline->async_wait([shared](const boost::system::error_code &waited) {
                if (!waited) {
                    boost::system::error_code ignored;
                    shared->close(ignored);
                }
            });
            shared->async_wait(LocalProtocol::socket::wait_read,
                               [this, shared, deadline](const boost::system::error_code &waited) {
                                   deadline->cancel();
                                   if (!waited)
                                       TakeHandedOver(shared);
                               });
        }
        AcceptLocal();
    });
}

// Only the dispatcher hands connections over: root, or its system account.
bool BridgeServer::FromDispatcher(LocalProtocol::socket &channel) {
    const std::optional<platform::AccountId> sender =
        platform::LocalPeerAccount(channel.native_handle());
    if (sender && (*sender == 0 || sender == m_dispatcher))
        return true;
    const platform::AccountId who = sender.value_or(static_cast<platform::AccountId>(-1));
    if (m_strangersLogged.insert(who).second)
        Log(LogLevel::Warning, "refused a connection handed over on " + m_socketPath +
                                   " by account " + (sender ? platform::AccountName(who) : "?") +
                                   ": only the dispatcher hands connections over");
    return false; // the channel closes as it goes out of scope
}

void BridgeServer::TakeHandedOver(std::shared_ptr<LocalProtocol::socket> channel) {
    const platform::ReceivedSocket received = platform::ReceiveDescriptor(channel->native_handle());
    boost::system::error_code ec;
    channel->close(ec);
    if (received.fd < 0)
        return;
    if (!received.stream) {
        close(received.fd);
        return;
    }
    tcp::socket socket(m_io);
    if (socket.assign(received.v6 ? tcp::v6() : tcp::v4(), received.fd, ec)) {
        close(received.fd);
        return;
    }
    Serve(std::move(socket));
}

void BridgeServer::Stop(int signal) {
    Log(LogLevel::Info, std::string("stopping (") + strsignal(signal) +
                            "): the calls in flight finish, then the connections close");
    m_listeners.Close();
    if (m_local) {
        boost::system::error_code ignored;
        m_local->close(ignored);
    }
    m_router.Stop();
    // A second signal does not wait.
    m_signals.async_wait([this](const boost::system::error_code &ec, int) {
        if (!ec)
            m_io.stop();
    });
    m_stopBy = std::chrono::steady_clock::now() + kCallsFinish;
    AwaitCalls();
}

void BridgeServer::AwaitCalls() {
    const size_t calls = m_sessions.CallsInFlight();
    if (calls > 0 && std::chrono::steady_clock::now() < m_stopBy) {
        m_stopTimer.expires_after(std::chrono::milliseconds(10));
        m_stopTimer.async_wait([this](const boost::system::error_code &ec) {
            if (!ec)
                AwaitCalls();
        });
        return;
    }
    if (calls > 0)
        Log(LogLevel::Warning, std::to_string(calls) + " calls still running at the stop");
    m_connections->ShutdownAll();
    m_stopBy = std::chrono::steady_clock::now() + kConnectionsClose;
    AwaitConnections();
}

void BridgeServer::AwaitConnections() {
    if (m_connections->Count() == 0 || std::chrono::steady_clock::now() >= m_stopBy)
        return m_io.stop();
    m_stopTimer.expires_after(std::chrono::milliseconds(10));
    m_stopTimer.async_wait([this](const boost::system::error_code &ec) {
        if (!ec)
            AwaitConnections();
    });
}

void BridgeServer::Serve(tcp::socket socket) {
    if (!m_peers.Admit(socket))
        return;
    if (!m_connections->MakeRoom()) {
        // Every place is held by a connection that is being served.
        SendClosingReply(std::move(socket),
                         Error(code::kLimit, "the bridge serves " +
                                                 std::to_string(m_connections->Limit()) +
                                                 " connections at once; try again shortly"),
                         503);
        return;
    }
    // Requests and replies are small and answered at once: no Nagle.
    boost::system::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    ConnectionContext context{m_options, m_router, m_sessions};
    auto connection = std::make_shared<HttpConnection>(std::move(socket), context,
                                                       ConnectionTicket(m_connections));
    connection->Start();
}

void BridgeServer::Tick() {
    m_sessions.Sweep();
    m_policy.Sweep();
    m_timer.expires_after(std::chrono::seconds(1));
    m_timer.async_wait([this](const boost::system::error_code &ec) {
        if (!ec)
            Tick();
    });
}

} // namespace bridge
