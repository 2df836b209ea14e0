// A page session, on the bridge's I/O thread: the objects a page (or a
// local program) created live in it, on an apartment thread of its own, so
// a slow call of one page never holds up another. It ends when its socket
// closes, when the page closes it, or (HTTP sessions) when unused for the
// idle time; its objects are released then, on their own thread.
#pragma once

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "BridgeOptions.h"
#include "PageObjects.h"
#include "TaskThread.h"

namespace bridge {

class PageSession : public std::enable_shared_from_this<PageSession> {
public:
    using Reply = std::function<void(nlohmann::json)>;
    using EventSink = std::function<void(const nlohmann::json &)>;

    // `owner` is the origin that opened it, or "local" for a program.
    PageSession(std::string token, std::string owner, bool socket, const BridgeOptions &options,
                boost::asio::io_context &io);

    // Starts the apartment thread (once the session is shared).
    void Start();

    const std::string &Token() const { return m_token; }
    const std::string &Owner() const { return m_owner; }
    bool Socket() const { return m_socket; }

    // Carries out a request; `reply` runs on the I/O thread. "ping" and
    // "echo" are answered here; "create", "call" and "release" on the
    // apartment thread.
    void Submit(nlohmann::json request, Reply reply);
    // Where job events go (a socket's session); without one they ride along
    // with the next reply as "events".
    void SetEventSink(EventSink sink) { m_sink = std::move(sink); }
    // An HTTP session with no call in flight, unused for the idle time.
    bool Expired(std::chrono::steady_clock::time_point now) const;
    size_t CallsInFlight() const { return m_inFlight; }
    // Ends the session: waiting calls are dropped, the objects released on
    // their thread. Gives the thread back, to be joined once finished.
    std::unique_ptr<TaskThread> Close();

private:
    void Deliver(nlohmann::json event);
    void Finish(nlohmann::json &answer, const Reply &reply);

    std::string m_token, m_owner;
    bool m_socket;
    const BridgeOptions &m_options;
    boost::asio::io_context &m_io;
    std::shared_ptr<PageObjects> m_objects;
    std::unique_ptr<TaskThread> m_apartment;
    size_t m_inFlight = 0;
    std::chrono::steady_clock::time_point m_lastUsed;
    EventSink m_sink;
    std::vector<nlohmann::json> m_events;
};

} // namespace bridge
