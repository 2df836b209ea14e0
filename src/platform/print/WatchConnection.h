// The printer watch's own connection to the CUPS server and the requests
// the watch makes over it (WatchConnectionCups.cpp, on libcups). Every
// request has a time limit, and one in progress gives up within a quarter
// of a second once Abort is called, so a server that does not answer holds
// up neither the end of a watch nor the bridge's stop. One thread at a time
// uses a connection; Abort may come from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "PrinterWatch.h"

namespace platform::print {

class WatchConnection {
public:
    using Clock = std::chrono::steady_clock;

    // For the server the calling thread asks (CUPS_SERVER, client.conf);
    // connected on its first request.
    static std::unique_ptr<WatchConnection> ForThisThread();
    ~WatchConnection();
    WatchConnection(const WatchConnection &) = delete;
    WatchConnection &operator=(const WatchConnection &) = delete;

    // Whether the server runs on this machine (its socket, or loopback),
    // where its D-Bus notifier reaches this machine's system bus.
    bool IsLocal() const;

    // A subscription for every printer's and job's changes: read with
    // Get-Notifications without a recipient, sent to it with one
    // ("dbus://"). Its number, or 0 when the server takes none.
    int Subscribe(const char *recipient);
    bool Renew(int subscription);
    // Cancels a subscription this connection made: a server that restarted
    // without the subscriptions it had gives their numbers out again, to
    // others' subscriptions too, and those stay.
    void Cancel(int subscription);
    // What a read learnt besides the printers' and jobs' events.
    struct ReadNews {
        bool lost = false;     // the server dropped events before they were read
        bool stopping = false; // the server said it stops
    };
    // The events after the last one seen (sequence is the next number
    // expected, and moves past what was read). False when the server does
    // not answer or no longer has the subscription.
    bool Read(int subscription, int &sequence, std::vector<PrinterEvent> &events, ReadNews &news);
    // Every printer's and recent job's state now.
    std::vector<PrinterEvent> States();

    // From any thread: the request in progress and those after it give up.
    void Abort();
    // The requests from now on (aborted ones included) may run until the
    // time given at the latest: the watch's last ones.
    void Finish(Clock::time_point by);
    void Close();
    // The connection's socket while there is one, else -1: when the server
    // closes it, the server has gone (or let an idle connection go).
    int Descriptor() const;

private:
    WatchConnection(std::string server, int port, int encryption);
    // The connection for a request, made when there is none; null when the
    // server cannot be reached. Sets the request's time limit.
    void *Begin();
    // Sends an IPP request (an ipp_t, freed) and gives the response (an
    // ipp_t for the caller to free) or null.
    void *Ask(void *request);
    static int KeepWaiting(void *http, void *self);

    const std::string m_server;
    const int m_port;
    const int m_encryption;
    // Given to the server with every subscription (notify-user-data): how
    // the connection knows its own.
    const std::string m_mark;
    void *m_http = nullptr; // http_t
    std::atomic<bool> m_abort{false};
    Clock::time_point m_deadline;                      // of the request in progress
    Clock::time_point m_by = Clock::time_point::max(); // of every request
};

} // namespace platform::print
