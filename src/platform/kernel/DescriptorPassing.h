// Handing a connected socket from one process to another over a local
// (unix) socket (SCM_RIGHTS: the descriptor moves, no byte is copied), and
// the listening sockets a service manager hands over on start.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Connects to the local socket at `path` without blocking; -1 with errno
// set when no one listens there (ENOENT, ECONNREFUSED) or its queue is full
// (EAGAIN). The descriptor is close-on-exec and non-blocking.
int ConnectLocal(const std::string &path);

// Sends `fd` over the connected local socket `channel`, with one byte of
// data so the receiver's read has something to return. False with errno
// set when it could not be sent.
bool SendDescriptor(int channel, int fd);

// A descriptor received over a local socket, and the family of the
// socket it stands for.
struct ReceivedSocket {
    int fd = -1;         // close-on-exec; -1 when nothing came
    bool v6 = false;     // an IPv6 socket (else IPv4, or not a socket at all)
    bool stream = false; // a TCP socket
};
// Reads the one byte and the descriptor SendDescriptor sent. fd is -1 when
// the peer sent no descriptor, more than one, or closed the channel.
ReceivedSocket ReceiveDescriptor(int channel);

// Whether a socket is an IPv6 one (a listening socket handed over by the
// service manager, for one), else IPv4 or not an internet socket.
bool IsInet6Socket(int fd);
// Whether a socket is a local (unix) one.
bool IsLocalSocket(int fd);

// The listening sockets the service manager passed to this process
// (LISTEN_PID and LISTEN_FDS, from descriptor 3 on); none when it did not
// start this process with sockets. The variables are cleared so the
// process's children do not take them as theirs.
std::vector<int> ActivatedSockets();

} // namespace platform
