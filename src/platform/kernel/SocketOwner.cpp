#include "SocketOwner.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

// Both ends of a TCP connection, as the connection's own socket sees them.
struct Ends {
    sockaddr_storage local{};
    sockaddr_storage peer{};
    int family = 0;
};

bool EndsOf(int fd, Ends &ends) {
    socklen_t length = sizeof ends.local;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&ends.local), &length) != 0)
        return false;
    length = sizeof ends.peer;
    if (getpeername(fd, reinterpret_cast<sockaddr *>(&ends.peer), &length) != 0)
        return false;
    ends.family = ends.local.ss_family;
    return (ends.family == AF_INET || ends.family == AF_INET6) &&
           ends.peer.ss_family == ends.family;
}

uint16_t PortOf(const sockaddr_storage &address) {
    return address.ss_family == AF_INET ? reinterpret_cast<const sockaddr_in &>(address).sin_port
                                        : reinterpret_cast<const sockaddr_in6 &>(address).sin6_port;
}

// The address's bytes (4 or 16), in network order.
const void *AddressBytes(const sockaddr_storage &address) {
    return address.ss_family == AF_INET
               ? static_cast<const void *>(&reinterpret_cast<const sockaddr_in &>(address).sin_addr)
               : &reinterpret_cast<const sockaddr_in6 &>(address).sin6_addr;
}

size_t AddressSize(int family) {
    return family == AF_INET ? 4 : 16;
}

// Asks sock_diag for the one socket whose source is our peer and whose
// destination is us: the other end of the connection. Answers false when
// netlink cannot be asked at all (then /proc is read instead).
bool AskSockDiag(const Ends &ends, std::optional<AccountId> &owner) {
    int nl = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (nl < 0)
        return false;
    timeval timeout{1, 0};
    setsockopt(nl, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST;
    message.header.nlmsg_seq = 1;
    inet_diag_req_v2 &request = message.request;
    request.sdiag_family = static_cast<uint8_t>(ends.family);
    request.sdiag_protocol = IPPROTO_TCP;
    request.idiag_states = ~0u;
    request.id.idiag_sport = PortOf(ends.peer);
    request.id.idiag_dport = PortOf(ends.local);
    memcpy(request.id.idiag_src, AddressBytes(ends.peer), AddressSize(ends.family));
    memcpy(request.id.idiag_dst, AddressBytes(ends.local), AddressSize(ends.family));
    request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(nl, &message, sizeof message, 0, reinterpret_cast<sockaddr *>(&kernel),
               sizeof kernel) != static_cast<ssize_t>(sizeof message)) {
        close(nl);
        return false;
    }
    alignas(nlmsghdr) char reply[8192];
    ssize_t n = recv(nl, reply, sizeof reply, 0);
    close(nl);
    if (n < static_cast<ssize_t>(sizeof(nlmsghdr)))
        return false;
    auto *header = reinterpret_cast<nlmsghdr *>(reply);
    if (!NLMSG_OK(header, static_cast<unsigned>(n)))
        return false;
    if (header->nlmsg_type == NLMSG_ERROR) {
        // ENOENT: no such socket (it is gone); anything else: sock_diag
        // cannot answer for TCP here.
        auto *error = static_cast<nlmsgerr *>(NLMSG_DATA(header));
        return header->nlmsg_len >= NLMSG_LENGTH(sizeof(nlmsgerr)) && error->error == -ENOENT;
    }
    if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
        header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
        return false;
    auto *found = static_cast<inet_diag_msg *>(NLMSG_DATA(header));
    // A socket without an inode is a TIME_WAIT remnant: it has no owner.
    if (found->idiag_inode != 0)
        owner = found->idiag_uid;
    return true;
}

// "0100007F:1F4C" as /proc/net/tcp prints an address: the address's bytes
// as 32-bit words in this machine's order, then the port.
std::string ProcAddress(const unsigned char *bytes, size_t size, uint16_t port) {
    std::string text;
    char word[9];
    for (size_t at = 0; at < size; at += 4) {
        uint32_t value;
        memcpy(&value, bytes + at, 4);
        snprintf(word, sizeof word, "%08X", value);
        text += word;
    }
    snprintf(word, sizeof word, ":%04X", ntohs(port));
    return text + word;
}

std::string ProcAddress(const sockaddr_storage &address, bool mapped) {
    const auto *bytes = static_cast<const unsigned char *>(AddressBytes(address));
    if (!mapped)
        return ProcAddress(bytes, AddressSize(address.ss_family), PortOf(address));
    // An IPv6 socket that connected to an IPv4 address: ::ffff:a.b.c.d.
    unsigned char v6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    memcpy(v6 + 12, bytes, 4);
    return ProcAddress(v6, sizeof v6, PortOf(address));
}

// The table's line whose local address is our peer and whose remote one is
// us; `mapped` reads IPv4 ends from tcp6, where dual-stack sockets are.
std::optional<AccountId> ReadProcTable(const Ends &ends, bool mapped) {
    const bool v6 = ends.family == AF_INET6 || mapped;
    FILE *table = fopen(v6 ? "/proc/net/tcp6" : "/proc/net/tcp", "re");
    if (!table)
        return std::nullopt;
    const std::string source = ProcAddress(ends.peer, mapped),
                      destination = ProcAddress(ends.local, mapped);
    std::optional<AccountId> owner;
    char line[512];
    if (!fgets(line, sizeof line, table)) // the column names
        line[0] = 0;
    while (!owner && fgets(line, sizeof line, table)) {
        char local[64], remote[64];
        unsigned long uid = 0, inode = 0;
        if (sscanf(line, " %*s %63s %63s %*s %*s %*s %*s %lu %*s %lu", local, remote, &uid,
                   &inode) == 4 &&
            source == local && destination == remote && inode != 0)
            owner = static_cast<AccountId>(uid);
    }
    fclose(table);
    return owner;
}

} // namespace

std::optional<AccountId> ConnectionOwner(int fd) {
    Ends ends;
    if (!EndsOf(fd, ends))
        return std::nullopt;
    std::optional<AccountId> owner;
    if (AskSockDiag(ends, owner))
        return owner;
    return ConnectionOwnerFromProc(fd);
}

std::optional<AccountId> ConnectionOwnerFromProc(int fd) {
    Ends ends;
    if (!EndsOf(fd, ends))
        return std::nullopt;
    std::optional<AccountId> owner = ReadProcTable(ends, false);
    if (!owner && ends.family == AF_INET)
        owner = ReadProcTable(ends, true);
    return owner;
}

std::optional<AccountId> LocalPeerAccount(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        length != sizeof credentials || credentials.pid == 0)
        return std::nullopt;
    return credentials.uid;
}

AccountId OwnAccount() {
    return getuid();
}

std::string AccountName(AccountId account) {
    passwd entry{}, *found = nullptr;
    char buffer[4096];
    if (getpwuid_r(account, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return found->pw_name;
    return std::to_string(account);
}

std::optional<AccountId> FindAccount(const std::string &name) {
    passwd entry{}, *found = nullptr;
    char buffer[4096];
    if (getpwnam_r(name.c_str(), &entry, buffer, sizeof buffer, &found) == 0 && found)
        return found->pw_uid;
    return std::nullopt;
}

} // namespace platform
