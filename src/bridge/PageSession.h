// A page session, on the bridge's I/O thread: the objects a page (or a
// local program) created live in it, on an apartment thread of its own, so
// a slow call of one page never holds up another. It ends when its socket
// closes, when the page closes it, or (HTTP sessions) when unused for the
// idle time; its objects are released then, on their own thread.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "BridgeOptions.h"
#include "PageObjects.h"
#include "PrintRequests.h"
#include "TaskThread.h"

namespace platform::print {
struct JobEvent;
struct PrinterEvent;
} // namespace platform::print

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
    // "echo" are answered here (with the held events); "create", "call", "release", "printers",
    // "set" and "watch" on the apartment thread.
    void Submit(nlohmann::json request, Reply reply);
    // Where job events go (a socket's session); without one they ride along
    // with the next reply as "events".
    void SetEventSink(EventSink sink) { m_sink = std::move(sink); }
    // An HTTP session with no call in flight, unused for the idle time.
    bool Expired(std::chrono::steady_clock::time_point now) const;
    size_t CallsInFlight() const { return m_inFlight; }
    // The key of the session's preview addresses (/preview/KEY/FILE) and the
    // folder their files are in.
    const std::string &PreviewKey() const { return m_previewKey; }
    std::string PreviewFile(const std::string &name) const;
    // Ends the session: waiting calls are dropped, the objects released on
    // their thread. Gives the thread back, to be joined once finished.
    std::unique_ptr<TaskThread> Close();

private:
    // A CUPS job of the session, followed until its final state.
    struct FollowedJob {
        int job;
        std::string title, printer, seen;
        bool heard = false; // an event of it came since it is followed
    };

    void Deliver(nlohmann::json event);
    // Runs work on the I/O thread while the session lasts (from any thread).
    static void Post(boost::asio::io_context &io, std::weak_ptr<PageSession> weak,
                     std::function<void(PageSession &)> work);
    // On the apartment thread: a job event, and what it brings about: a
    // job for CUPS starts the session's watch before it is sent; a job CUPS
    // took is followed from then on.
    static void Observe(boost::asio::io_context &io, const std::weak_ptr<PageSession> &weak,
                        const std::shared_ptr<std::atomic<int>> &listener,
                        const platform::print::JobEvent &e);
    static void ListenToCups(boost::asio::io_context &io, const std::weak_ptr<PageSession> &weak,
                             std::atomic<int> &listener);
    void Watch(nlohmann::json request, Reply reply);
    void Follow(int cupsJob, FollowedJob job);
    // A snapshot is a state asked for, told only when no event came since
    // the job is followed (an event is as new as the snapshot or newer).
    void OnCupsEvent(const platform::print::PrinterEvent &e, bool snapshot = false);
    void PreviewAddresses(nlohmann::json &event) const;
    void Finish(nlohmann::json &answer, const Reply &reply);
    // The events held for an HTTP session, as the answer's "events".
    void HandOverEvents(nlohmann::json &answer);

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
    std::string m_previewKey, m_previewFolder;
    std::shared_ptr<PrintRequests> m_print;
    // The session's listener of the CUPS watch: 0 without, -1 once closed.
    std::shared_ptr<std::atomic<int>> m_listener = std::make_shared<std::atomic<int>>(0);
    std::map<int, FollowedJob> m_followed;        // by CUPS job
    std::map<std::string, std::string> m_watched; // printer: what was last sent
};

} // namespace bridge
