#include "OriginPolicy.h"

#include <algorithm>
#include <boost/asio/post.hpp>
#include <thread>

#include "BridgeLog.h"
#include "OriginList.h"
#include "platform/user/UiHost.h"

namespace bridge {
namespace {

constexpr auto kStoredFor = std::chrono::seconds(1);
// A question nobody answered (closed, no display) is not asked again for a
// while: a page that keeps trying does not flood the user.
constexpr auto kUnansweredFor = std::chrono::seconds(5);

constexpr auto kSummaryEvery = std::chrono::minutes(1);
constexpr size_t kExamples = 3;

// The answers, in the order the question offers them.
enum Answer { kAllowOnce = 0, kAllowAlways = 1, kBlock = 2 };

} // namespace

OriginPolicy::OriginPolicy(boost::asio::io_context &io)
    : m_io(io), m_outlet(std::make_shared<Outlet>()) {
    m_outlet->policy = this;
}

OriginPolicy::~OriginPolicy() {
    {
        std::lock_guard<std::mutex> guard(m_outlet->lock);
        m_outlet->policy = nullptr;
    }
    if (!m_dialogs)
        return;
    m_dialogs->Close();
    // A question still open (the user away) is left to the process's end.
    for (int i = 0; i < 100 && !m_dialogs->Finished(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (m_dialogs->Finished())
        m_dialogs->Join();
    else
        (void)m_dialogs.release();
}

OriginPolicy::Verdict OriginPolicy::Check(const std::string &raw) {
    std::string origin;
    if (!NormalizeOrigin(raw, origin)) {
        CountRefusal(raw.substr(0, 80));
        return Verdict::Refused;
    }
    const auto now = std::chrono::steady_clock::now();
    if (m_stored.size() >= kKeptOrigins && !m_stored.count(origin))
        Prune(now);
    Stored &stored = m_stored[origin];
    if (now >= stored.until) {
        stored.verdict = AccountVerdict(origin);
        stored.until = now + kStoredFor;
    }
    std::optional<bool> verdict = stored.verdict;
    if (!verdict) {
        auto answered = m_answered.find(origin);
        if (answered != m_answered.end())
            verdict = answered->second;
    }
    if (!verdict) {
        auto unanswered = m_unanswered.find(origin);
        if (unanswered != m_unanswered.end() && now < unanswered->second)
            verdict = false;
        else if (unanswered != m_unanswered.end())
            m_unanswered.erase(unanswered);
    }
    if (!verdict)
        return Verdict::Ask;
    if (!*verdict)
        CountRefusal(origin);
    return *verdict ? Verdict::Allowed : Verdict::Refused;
}

void OriginPolicy::Prune(std::chrono::steady_clock::time_point now) {
    std::erase_if(m_stored, [now](const auto &entry) { return now >= entry.second.until; });
    std::erase_if(m_unanswered, [now](const auto &entry) { return now >= entry.second; });
    // Within one second, more origins than that: the decisions are read
    // again from the registry, and the unanswered may be asked again
    // (questions are limited anyway).
    if (m_stored.size() >= kKeptOrigins)
        m_stored.clear();
    if (m_unanswered.size() >= kKeptOrigins)
        m_unanswered.clear();
}

bool OriginPolicy::MayAsk(std::chrono::steady_clock::time_point now) {
    while (!m_asked.empty() && now - m_asked.front() >= std::chrono::minutes(1))
        m_asked.pop_front();
    return m_asked.size() < kQuestionsPerMinute && m_waiting.size() <= kQuestionsWaiting;
}

void OriginPolicy::CountRefusal(const std::string &origin) {
    if (m_refusals++ == 0)
        m_summaryDue = std::chrono::steady_clock::now() + kSummaryEvery;
    if (m_refusedExamples.size() < kExamples &&
        std::find(m_refusedExamples.begin(), m_refusedExamples.end(), origin) ==
            m_refusedExamples.end())
        m_refusedExamples.push_back(origin);
}

void OriginPolicy::Sweep() {
    const auto now = std::chrono::steady_clock::now();
    Prune(now);
    if (m_refusals == 0 || now < m_summaryDue)
        return;
    std::string examples;
    for (const std::string &origin : m_refusedExamples)
        examples += (examples.empty() ? "" : ", ") + origin;
    Log(LogLevel::Info, "refused " + std::to_string(m_refusals) +
                            " requests of origins not allowed in the last minute (" + examples +
                            (m_refusals > m_refusedExamples.size() ? ", ...)" : ")"));
    m_refusals = 0;
    m_refusedExamples.clear();
}

void OriginPolicy::Ask(const std::string &raw, std::function<void(bool)> done) {
    std::string origin;
    if (!NormalizeOrigin(raw, origin))
        return done(false);
    auto open = m_waiting.find(origin);
    if (open != m_waiting.end())
        return open->second.push_back(std::move(done)); // the question is open already
    const auto now = std::chrono::steady_clock::now();
    if (!MayAsk(now)) {
        // Too many questions lately: refused without one, for now.
        CountRefusal(origin);
        return done(false);
    }
    m_asked.push_back(now);
    m_waiting[origin].push_back(std::move(done));
    Log(LogLevel::Info, "asking the user about " + origin);
    if (!m_dialogs)
        m_dialogs = std::make_unique<TaskThread>(); // started on first use, after any fork
    m_dialogs->Post([outlet = m_outlet, origin] {
        const std::string question =
            "The web page at " + origin +
            " asks to use quillbay: to print on your printers, write barcode files and reach "
            "the databases and servers you set up. Allow it?";
        int answer = platform::UiHost::Current().Choose(
            question, {"Allow this time", "Allow always", "Block"}, -1);
        const bool stored = (answer == kAllowAlways || answer == kBlock) &&
                            StoreVerdict(origin, answer == kAllowAlways);
        std::lock_guard<std::mutex> guard(outlet->lock);
        if (OriginPolicy *policy = outlet->policy)
            boost::asio::post(policy->m_io, [policy, origin, answer, stored] {
                policy->Answered(origin, answer, stored);
            });
    });
}

void OriginPolicy::Answered(const std::string &origin, int answer, bool stored) {
    // The registry holds the answers stored; "allow this time" and an answer
    // that could not be stored hold for the bridge's run; no answer refuses
    // for a few seconds.
    const bool allowed = answer == kAllowOnce || answer == kAllowAlways;
    if (answer < 0)
        m_unanswered[origin] = std::chrono::steady_clock::now() + kUnansweredFor;
    else if (!stored)
        m_answered[origin] = allowed;
    m_stored.erase(origin);
    Log(LogLevel::Info, origin + (allowed ? " allowed" : " refused") +
                            (stored       ? " always"
                             : answer < 0 ? " (no answer)"
                                          : " this time"));
    std::vector<std::function<void(bool)>> waiting;
    waiting.swap(m_waiting[origin]);
    m_waiting.erase(origin);
    for (auto &done : waiting)
        done(allowed);
}

} // namespace bridge
