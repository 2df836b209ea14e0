// Whether a web origin may use the bridge: the decisions stored by the user
// and by the machine's administrator (OriginList), else the answer given
// since the bridge started, else the user is asked through the UI host:
// "Allow this time", "Allow always" or "Block". One question per origin at
// a time; requests that arrive while it is open wait for the same answer.
// Runs on the bridge's I/O thread; the question itself is asked on a dialog
// thread of its own.
//
// What it keeps is bounded whatever the pages do: the stored decisions it
// has read and the origins left unanswered are pruned as they expire and
// capped; questions are asked at most kQuestionsPerMinute across all
// origins, with at most kQuestionsWaiting waiting their turn (any other
// origin is refused without one); refusals are logged as a summary once a
// minute, never a line each.
#pragma once

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <deque>
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
    // Each second: drops what has expired, and logs the refusals' summary
    // once a minute.
    void Sweep();

    static constexpr size_t kQuestionsPerMinute = 10;
    static constexpr size_t kQuestionsWaiting = 4;
    static constexpr size_t kKeptOrigins = 256; // stored and unanswered, each

private:
    struct Stored {
        std::optional<bool> verdict;
        std::chrono::steady_clock::time_point until;
    };
    void Answered(const std::string &origin, int answer, bool stored);
    bool MayAsk(std::chrono::steady_clock::time_point now);
    void CountRefusal(const std::string &origin);
    void Prune(std::chrono::steady_clock::time_point now);

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
    std::deque<std::chrono::steady_clock::time_point> m_asked; // questions of the last minute
    // Refusals since the last summary: how many, and the first few origins.
    size_t m_refusals = 0;
    std::vector<std::string> m_refusedExamples;
    std::chrono::steady_clock::time_point m_summaryDue;
    std::unique_ptr<TaskThread> m_dialogs;
};

} // namespace bridge
