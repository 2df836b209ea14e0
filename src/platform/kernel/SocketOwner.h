// Whose a local connection is, as the kernel knows it: the account that
// owns the socket at the other end of a loopback TCP connection (the
// kernel's socket table, through sock_diag netlink, else /proc/net/tcp and
// tcp6), and the account of the process at the other end of a local
// (unix) socket. Accounts are named by number; the names come from the
// system's account database.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

using AccountId = uint32_t;

// The account owning the socket that connected to `fd`, a connected TCP
// socket on this machine. None when that socket is gone (closed, in
// TIME_WAIT) or the kernel's table does not list it: a caller treats it as
// a stranger.
std::optional<AccountId> ConnectionOwner(int fd);
// The same read from /proc/net/tcp and tcp6 alone, as ConnectionOwner does
// where sock_diag cannot answer.
std::optional<AccountId> ConnectionOwnerFromProc(int fd);

// The account of the process that connected a local socket (SO_PEERCRED).
std::optional<AccountId> LocalPeerAccount(int fd);

// This process's account.
AccountId OwnAccount();
// The account's login name, or its number as text when it has none.
std::string AccountName(AccountId account);
// The number of a named account; none when the machine has no such account.
std::optional<AccountId> FindAccount(const std::string &name);

} // namespace platform
