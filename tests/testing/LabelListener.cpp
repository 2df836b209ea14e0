#include "testing/LabelListener.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace testing_support {
namespace {

// The answers of a ZPL printer that is ready: no errors or warnings, the
// host status of a printer with paper and ribbon, and its identification
// (model, firmware, dots per millimetre, memory, options).
constexpr const char *kStatus = "\x02\r\n PRINTER STATUS\r\n   ERRORS:         0 00000000 00000000"
                                "\r\n   WARNINGS:       0 00000000 00000000\r\n\x03\r\n";
constexpr const char *kHostStatus = "\x02"
                                    "030,0,0,0000,000,0,0,0,000,0,0,0\x03\r\n\x02"
                                    "000,0,0,0,0,2,6,0,00000000,1,000\x03\r\n\x02"
                                    "0000,0\x03\r\n";

void SendAll(int fd, const std::string &bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<size_t>(n);
    }
}

} // namespace

LabelListener::LabelListener(int dpi) : m_dpi(dpi) {
    if (pipe(m_wake) != 0)
        return;
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(m_fd, 16) != 0 ||
        getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
        return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
}

LabelListener::~LabelListener() {
    m_stop = true;
    if (m_wake[1] >= 0 && write(m_wake[1], "x", 1) < 0) {
        // The thread then ends at its next poll's time-out.
    }
    if (m_thread.joinable())
        m_thread.join();
    for (int fd : {m_fd, m_wake[0], m_wake[1]}) {
        if (fd >= 0)
            close(fd);
    }
}

// Answers each status query in what a connection sent so far; what is
// left may be the start of the next one.
void LabelListener::Answer(int fd, std::string &pending) {
    for (;;) {
        const size_t status = pending.find("~HQES"), host = pending.find("~HS"),
                     id = pending.find("~HI");
        const size_t first = std::min({status, host, id});
        if (first == std::string::npos)
            break;
        if (first == status) {
            SendAll(fd, kStatus);
        } else if (first == host) {
            SendAll(fd, kHostStatus);
        } else {
            const int dpmm = m_dpi >= 600 ? 24 : m_dpi >= 300 ? 12 : 8;
            SendAll(fd, "\x02ZT410-" + std::to_string(m_dpi) + "dpi,V75.20.01Z," +
                            std::to_string(dpmm) + ",8176KB\x03\r\n");
        }
        pending.erase(0, first + 3);
    }
    if (pending.size() > 8)
        pending.erase(0, pending.size() - 8);
}

void LabelListener::Serve() {
    struct Connection {
        std::string bytes, pending;
    };
    std::map<int, Connection> connections;
    while (!m_stop) {
        std::vector<pollfd> fds = {{m_fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        for (const auto &[fd, connection] : connections)
            fds.push_back({fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), 1000) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            const int client = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0)
                connections[client] = {};
        }
        for (size_t i = 2; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            Connection &connection = connections[fds[i].fd];
            char buffer[65536];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                connection.bytes.append(buffer, static_cast<size_t>(n));
                connection.pending.append(buffer, static_cast<size_t>(n));
                Answer(fds[i].fd, connection.pending);
                continue;
            }
            {
                std::lock_guard<std::mutex> guard(m_lock);
                m_done.push_back(connection.bytes);
            }
            close(fds[i].fd);
            connections.erase(fds[i].fd);
        }
    }
    for (auto &[fd, connection] : connections)
        close(fd);
}

std::string LabelListener::Received() const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::string all;
    for (const std::string &bytes : m_done)
        all += bytes;
    return all;
}

std::vector<std::string> LabelListener::Connections() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_done;
}

std::string LabelListener::WaitForLabels(int count, int seconds) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::string bytes = Received();
    while (LabelCount(bytes) < count && std::chrono::steady_clock::now() < end) {
        usleep(20000);
        bytes = Received();
    }
    return bytes;
}

int LabelCount(const std::string &zpl) {
    int labels = 0;
    for (size_t start = zpl.find("^XA"); start != std::string::npos;
         start = zpl.find("^XA", start + 3)) {
        const size_t end = zpl.find("^XZ", start);
        const std::string format = zpl.substr(start, end == std::string::npos ? end : end - start);
        if (format.find("^XG") == std::string::npos && format.find("^FD") == std::string::npos)
            continue; // a format that prints nothing (^ID deletes a graphic)
        const size_t quantity = format.find("^PQ");
        labels += quantity == std::string::npos ? 1 : atoi(format.c_str() + quantity + 3);
    }
    return labels;
}

double LabelListener::SecondsUntilLabels(int before, int labels,
                                         std::chrono::steady_clock::time_point start) const {
    if (LabelCount(WaitForLabels(before + labels, 30 + labels)) < before + labels)
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace testing_support
