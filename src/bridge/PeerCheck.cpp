#include "PeerCheck.h"

#include "BridgeLog.h"
#include "BridgeProtocol.h"
#include "ClosingReply.h"

namespace bridge {

bool PeerCheck::Admit(boost::asio::ip::tcp::socket &socket) {
    const std::optional<platform::AccountId> owner =
        platform::ConnectionOwner(socket.native_handle());
    if (owner == m_account)
        return true;
    LogRefusal(owner);
    SendClosingReply(std::move(socket),
                     Error(code::kWrongUser, "this bridge serves another account; each account's "
                                             "pages reach their own account's bridge"));
    return false;
}

void PeerCheck::LogRefusal(std::optional<platform::AccountId> owner) {
    if (!m_logged.insert(owner).second)
        return;
    Log(LogLevel::Warning,
        owner ? "refused a connection of account " + platform::AccountName(*owner) + " (uid " +
                    std::to_string(*owner) + "): this bridge serves " +
                    platform::AccountName(m_account) + " only; further ones are not logged"
              : "refused a connection whose owner the kernel does not list (it closed "
                "at once); further ones are not logged");
}

} // namespace bridge
