#include "PageSession.h"

#include <boost/asio/post.hpp>

#include "BridgeProtocol.h"
#include "platform/print/JobEvents.h"
#include "platform/win32.h"

namespace bridge {

using nlohmann::json;

namespace {

constexpr size_t kHeldEvents = 64; // per HTTP session, until its next reply

json EventOf(const platform::print::JobEvent &e) {
    json event = {{"event", "job"},       {"stage", platform::print::JobStageName(e.stage)},
                  {"job", e.jobId},       {"title", e.title},
                  {"printer", e.printer}, {"pages", e.pages}};
    if (!e.where.empty())
        event["where"] = e.where;
    if (!e.reason.empty())
        event["reason"] = e.reason; // a failed job: why it did not print
    if (!e.kept.empty())
        event["kept"] = e.kept;
    return event;
}

} // namespace

PageSession::PageSession(std::string token, std::string owner, bool socket,
                         const BridgeOptions &options, boost::asio::io_context &io)
    : m_token(std::move(token)), m_owner(std::move(owner)), m_socket(socket), m_options(options),
      m_io(io), m_objects(std::make_shared<PageObjects>(options.maxObjects)),
      m_lastUsed(std::chrono::steady_clock::now()) {}

void PageSession::Start() {
    // The apartment: initialised for objects, reporting its print jobs to
    // the session. Its tasks hold the session only weakly, so the session
    // always ends on the I/O thread.
    auto first = [&io = m_io, weak = weak_from_this()] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        platform::print::ObserveJobsOnThisThread([&io, weak](const platform::print::JobEvent &e) {
            boost::asio::post(io, [weak, event = EventOf(e)]() mutable {
                if (auto session = weak.lock())
                    session->Deliver(std::move(event));
            });
        });
    };
    auto last = [] {
        platform::print::ObserveJobsOnThisThread({});
        CoUninitialize();
    };
    m_apartment = std::make_unique<TaskThread>(first, last);
}

void PageSession::Submit(json request, Reply reply) {
    m_lastUsed = std::chrono::steady_clock::now();
    const std::string op = request.value("op", "");
    if (op == "ping")
        return reply({{"value", {{"$", "undefined"}}}});
    if (op == "echo")
        return reply({{"value", request.contains("value") ? request["value"] : json()}});
    if (!m_apartment)
        return reply(Error(code::kNoSession, "the session has ended"));
    if (m_inFlight >= m_options.maxCallsInFlight)
        return reply(Error(code::kLimit, "a page may have " +
                                             std::to_string(m_options.maxCallsInFlight) +
                                             " calls in flight"));
    ++m_inFlight;
    auto task = [&io = m_io, weak = weak_from_this(), objects = m_objects,
                 request = std::move(request), reply]() mutable {
        json answer = objects->Handle(request);
        boost::asio::post(io,
                          [weak, answer = std::move(answer), reply = std::move(reply)]() mutable {
                              if (auto session = weak.lock())
                                  session->Finish(answer, reply);
                              else
                                  reply(std::move(answer));
                          });
    };
    if (!m_apartment->Post(std::move(task))) {
        --m_inFlight;
        reply(Error(code::kNoSession, "the session has ended"));
    }
}

void PageSession::Finish(json &answer, const Reply &reply) {
    --m_inFlight;
    m_lastUsed = std::chrono::steady_clock::now();
    if (!m_events.empty()) {
        answer["events"] = std::move(m_events);
        m_events.clear();
    }
    reply(std::move(answer));
}

void PageSession::Deliver(json event) {
    if (m_sink)
        m_sink(event);
    else if (m_events.size() < kHeldEvents)
        m_events.push_back(std::move(event));
}

bool PageSession::Expired(std::chrono::steady_clock::time_point now) const {
    return !m_socket && m_inFlight == 0 &&
           now - m_lastUsed >= std::chrono::seconds(m_options.idleSeconds);
}

std::unique_ptr<TaskThread> PageSession::Close() {
    m_sink = nullptr;
    if (m_apartment)
        m_apartment->Close([objects = m_objects] { objects->ReleaseAll(); });
    return std::move(m_apartment);
}

} // namespace bridge
