#include "OriginPolicy.h"

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
    if (!NormalizeOrigin(raw, origin))
        return Verdict::Refused;
    const auto now = std::chrono::steady_clock::now();
    Stored &stored = m_stored[origin];
    if (now >= stored.until) {
        stored.verdict = AccountVerdict(origin);
        stored.until = now + kStoredFor;
    }
    if (stored.verdict)
        return *stored.verdict ? Verdict::Allowed : Verdict::Refused;
    auto answered = m_answered.find(origin);
    if (answered != m_answered.end())
        return answered->second ? Verdict::Allowed : Verdict::Refused;
    auto unanswered = m_unanswered.find(origin);
    if (unanswered != m_unanswered.end()) {
        if (now < unanswered->second)
            return Verdict::Refused;
        m_unanswered.erase(unanswered);
    }
    return Verdict::Ask;
}

void OriginPolicy::Ask(const std::string &raw, std::function<void(bool)> done) {
    std::string origin;
    if (!NormalizeOrigin(raw, origin))
        return done(false);
    auto &waiting = m_waiting[origin];
    waiting.push_back(std::move(done));
    if (waiting.size() > 1)
        return; // the question is open already
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
