#include "Dispatcher.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <unistd.h>

#include "BridgeFiles.h"
#include "BridgeLog.h"
#include "BridgeProtocol.h"
#include "ClosingReply.h"
#include "platform/kernel/DescriptorPassing.h"

namespace bridge {

namespace asio = boost::asio;
using asio::ip::tcp;

Dispatcher::Dispatcher(const BridgeOptions &options)
    : m_options(options), m_signals(m_io, SIGINT, SIGTERM), m_listeners(m_io) {}

bool Dispatcher::Listen(std::string &error) {
    const std::vector<int> activated = platform::ActivatedSockets();
    if (!activated.empty())
        return m_listeners.Adopt(activated, error);
    return m_listeners.Listen(m_options.port, error);
}

void Dispatcher::Run() {
    m_listeners.AcceptAll([this](tcp::socket socket) { HandOver(std::move(socket)); });
    m_signals.async_wait([this](const boost::system::error_code &ec, int signal) {
        if (ec)
            return;
        Log(LogLevel::Info, std::string("stopping (") + strsignal(signal) + ")");
        m_listeners.Close();
        m_io.stop();
    });
    m_io.run();
}

void Dispatcher::HandOver(tcp::socket socket) {
    const std::optional<platform::AccountId> owner =
        platform::ConnectionOwner(socket.native_handle());
    if (!owner)
        return; // gone already, or not listed: nobody to answer
    const std::string path = AccountSocketPath(m_options.runtimeRoot, *owner);
    int channel = platform::ConnectLocal(path);
    // The account owns its runtime folder and may put anything at that
    // name, a link to another account's socket too: the socket must be
    // one the account itself listens on.
    if (channel >= 0 && platform::LocalPeerAccount(channel) != owner) {
        close(channel);
        channel = -1;
        errno = EPERM;
    }
    if (channel >= 0) {
        const bool sent = platform::SendDescriptor(channel, socket.native_handle());
        const int error = errno;
        close(channel);
        if (sent) {
            m_logged.erase(*owner);
            return; // the bridge holds the connection now; our copy closes
        }
        LogOnce(*owner, "cannot hand a connection to " + path + ": " + strerror(error));
    } else {
        LogOnce(*owner, "no bridge of account " + platform::AccountName(*owner) + " at " + path +
                            " (" + strerror(errno) + ")");
    }
    SendClosingReply(std::move(socket),
                     Error(code::kNoBridge, "quillbay-bridge does not run for this account "
                                            "(start it, or enable its socket unit: systemctl "
                                            "--user enable --now quillbay-bridge.socket)"));
}

void Dispatcher::LogOnce(platform::AccountId account, const std::string &text) {
    // One line per account until its bridge answers again.
    if (m_logged.insert(account).second)
        Log(LogLevel::Warning, text);
}

} // namespace bridge
