// The first look at every connection: the kernel says which account owns
// the socket that connected, and a bridge serves its own account only. A
// browser's Origin header or a program's token says nothing about that:
// any local program can write either. Another account's connection is
// answered 403 wrong-user before any of its bytes are read, and logged once
// per account.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <optional>
#include <set>

#include "platform/kernel/SocketOwner.h"

namespace bridge {

class PeerCheck {
public:
    PeerCheck() : m_account(platform::OwnAccount()) {}

    // True when the connection is this account's; else the refusal is
    // sent on it (the socket is taken) and false comes back.
    bool Admit(boost::asio::ip::tcp::socket &socket);

private:
    void LogRefusal(std::optional<platform::AccountId> owner);

    platform::AccountId m_account;
    std::set<std::optional<platform::AccountId>> m_logged; // the accounts refused so far
};

} // namespace bridge
