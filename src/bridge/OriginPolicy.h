// Whether a web origin may use the bridge: the decisions stored by the user
// and by the machine's administrator (OriginList), else the answer given
// since the bridge started, else the user is asked through the UI host:
// "Allow this time", "Allow always" or "Block". One question per origin at
// a time; requests that arrive while it is open wait for the same answer.
// Runs on the bridge's I/O thread; the question itself is asked on a dialog
// thread of its own.
#pragma once

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "TaskThread.h"

namespace bridge {

class OriginPolicy {
public:
    enum class Verdict { Allowed, Refused, Ask };

    explicit OriginPolicy(boost::asio::io_context &io);
    ~OriginPolicy();

    // The verdict for an origin as the browser sent it.
    Verdict Check(const std::string &origin);
    // Asks the user; `done` gets the answer on the I/O thread.
    void Ask(const std::string &origin, std::function<void(bool)> done);

private:
    struct Stored {
        std::optional<bool> verdict;
        std::chrono::steady_clock::time_point until;
    };
    void Answered(const std::string &origin, int answer, bool stored);

    // Where the dialog thread hands its answers; cut when the policy ends, so
    // a question still open then (the user away) answers nobody.
    struct Outlet {
        std::mutex lock;
        OriginPolicy *policy;
    };

    boost::asio::io_context &m_io;
    std::shared_ptr<Outlet> m_outlet;
    std::map<std::string, Stored> m_stored; // the registry's decisions, read again after 1 s
    std::map<std::string, bool> m_answered; // answers for the bridge's run
    std::map<std::string, std::chrono::steady_clock::time_point> m_unanswered;
    std::map<std::string, std::vector<std::function<void(bool)>>> m_waiting;
    std::unique_ptr<TaskThread> m_dialogs;
};

} // namespace bridge
