#include "DescriptorPassing.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

int ConnectLocal(const std::string &path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    // A local connect completes at once or fails at once: EAGAIN is a
    // listener whose queue is full, not a connection in progress.
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

bool SendDescriptor(int channel, int fd) {
    char byte = 'S';
    iovec data{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr *header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    memcpy(CMSG_DATA(header), &fd, sizeof fd);
    ssize_t sent;
    do {
        sent = sendmsg(channel, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == 1;
}

namespace {

// Closes every descriptor a message carried: none of them is kept when the
// message is not exactly one.
void CloseAll(msghdr &message) {
    for (cmsghdr *header = CMSG_FIRSTHDR(&message); header;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
            continue;
        size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int fd;
            memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
            close(fd);
        }
    }
}

void Describe(ReceivedSocket &received) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    int type = 0;
    socklen_t typeLength = sizeof type;
    if (getsockname(received.fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        received.v6 = address.ss_family == AF_INET6;
    received.stream = (address.ss_family == AF_INET || address.ss_family == AF_INET6) &&
                      getsockopt(received.fd, SOL_SOCKET, SO_TYPE, &type, &typeLength) == 0 &&
                      type == SOCK_STREAM;
}

} // namespace

ReceivedSocket ReceiveDescriptor(int channel) {
    ReceivedSocket received;
    char byte = 0;
    iovec data{&byte, 1};
    // Room for a few, so a sender of more than one is seen and refused.
    alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n;
    do {
        n = recvmsg(channel, &message, MSG_CMSG_CLOEXEC);
    } while (n < 0 && errno == EINTR);
    if (n != 1)
        return received;
    cmsghdr *header = CMSG_FIRSTHDR(&message);
    const bool one = header && !CMSG_NXTHDR(&message, header) &&
                     !(message.msg_flags & MSG_CTRUNC) && header->cmsg_level == SOL_SOCKET &&
                     header->cmsg_type == SCM_RIGHTS && header->cmsg_len == CMSG_LEN(sizeof(int));
    if (!one) {
        CloseAll(message);
        return received;
    }
    memcpy(&received.fd, CMSG_DATA(header), sizeof received.fd);
    Describe(received);
    return received;
}

bool IsInet6Socket(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    return getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0 &&
           address.ss_family == AF_INET6;
}

bool IsLocalSocket(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    return getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0 &&
           address.ss_family == AF_UNIX;
}

std::vector<int> ActivatedSockets() {
    std::vector<int> sockets;
    const char *pid = getenv("LISTEN_PID");
    const char *fds = getenv("LISTEN_FDS");
    if (pid && fds && atol(pid) == static_cast<long>(getpid())) {
        long count = atol(fds);
        for (long i = 0; i < count && i < 64; ++i) {
            int fd = 3 + static_cast<int>(i);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
            sockets.push_back(fd);
        }
    }
    unsetenv("LISTEN_PID");
    unsetenv("LISTEN_FDS");
    unsetenv("LISTEN_FDNAMES");
    return sockets;
}

} // namespace platform
