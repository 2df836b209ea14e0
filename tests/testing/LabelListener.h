// A label printer's network port for tests: a TCP listener on 127.0.0.1
// that keeps every byte each connection brings, as the printer would have
// received them, and answers the status queries a ZPL printer answers
// (~HQES, ~HS, ~HI) so that a printer application does not wait for them.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class LabelListener {
public:
    // dpi: the resolution the printer says it has (in its ~HI answer).
    explicit LabelListener(int dpi = 203);
    ~LabelListener();
    LabelListener(const LabelListener &) = delete;
    LabelListener &operator=(const LabelListener &) = delete;

    bool Ready() const { return m_fd >= 0; }
    int Port() const { return m_port; }
    // The device URI a queue or a printer application prints to.
    std::string Uri() const { return "socket://127.0.0.1:" + std::to_string(m_port); }

    // Every byte received so far, connections in the order they ended (a
    // connection's bytes are whole once it ended).
    std::string Received() const;
    // The same, one string for each connection that ended.
    std::vector<std::string> Connections() const;
    // Waits until the received bytes hold count labels (LabelCount), for at
    // most the seconds given; the bytes then.
    std::string WaitForLabels(int count, int seconds) const;
    // Waits for `labels` labels more than `before` (30 s and a second a
    // label at most): the seconds since start, or -1 when they did not all
    // come.
    double SecondsUntilLabels(int before, int labels,
                              std::chrono::steady_clock::time_point start) const;

private:
    void Serve();
    void Answer(int fd, std::string &pending);

    int m_dpi;
    int m_fd = -1;
    int m_port = 0;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_lock;
    std::vector<std::string> m_done;
    std::thread m_thread;
};

// The labels a printer prints for ZPL bytes: each format (^XA ... ^XZ) that
// recalls a graphic or has a field prints its ^PQ quantity (1 without one).
int LabelCount(const std::string &zpl);

} // namespace testing_support
