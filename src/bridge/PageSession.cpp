#include "PageSession.h"

#include <boost/asio/post.hpp>
#include <cctype>
#include <unistd.h>

#include "BridgeFiles.h"
#include "BridgeProtocol.h"
#include "RequestFields.h"
#include "platform/inet/CookieStore.h"
#include "platform/print/JobEvents.h"
#include "platform/print/JobPreview.h"
#include "platform/print/PrinterWatch.h"
#include "platform/print/Printers.h"
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
    if (e.cupsJob > 0)
        event["cupsJob"] = e.cupsJob;
    if (e.printerJob > 0) // a job sent to the printer itself, and its states there
        event["printerJob"] = e.printerJob;
    if (!e.state.empty())
        event["state"] = e.state;
    if (!e.previewPdf.empty()) // file names until the session makes them addresses
        event["preview"] = {{"pdf", e.previewPdf}, {"png", e.previewPng}};
    return event;
}

// A state as events carry it: its state, reasons and message.
json StateOf(const platform::print::PrinterEvent &e) {
    json state = {{"state", e.state}, {"stateReasons", e.reasons}};
    if (!e.message.empty())
        state["message"] = e.message;
    return state;
}

// A file's name as a part of an address: bytes other than letters, digits
// and "-._~" percent-encoded (a title may hold anything).
std::string AddressOf(const std::string &path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string name;
    for (unsigned char c : path.substr(path.rfind('/') + 1)) {
        if (isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~')
            name += static_cast<char>(c);
        else
            name += {'%', kHex[c >> 4], kHex[c & 15]};
    }
    return name;
}

} // namespace

PageSession::PageSession(std::string token, std::string owner, bool socket,
                         const BridgeOptions &options, boost::asio::io_context &io)
    : m_token(std::move(token)), m_owner(std::move(owner)), m_socket(socket), m_options(options),
      m_io(io), m_objects(std::make_shared<PageObjects>(options.maxObjects)),
      m_lastUsed(std::chrono::steady_clock::now()), m_previewKey(RandomToken(16)),
      m_previewFolder(BridgeDirectory().empty() ? ""
                                                : BridgeDirectory() + "/preview-" + m_previewKey),
      m_print(std::make_shared<PrintRequests>(m_previewFolder)) {}

void PageSession::Post(boost::asio::io_context &io, std::weak_ptr<PageSession> weak,
                       std::function<void(PageSession &)> work) {
    boost::asio::post(io, [weak = std::move(weak), work = std::move(work)] {
        if (auto session = weak.lock())
            work(*session);
    });
}

void PageSession::ListenToCups(boost::asio::io_context &io, const std::weak_ptr<PageSession> &weak,
                               std::atomic<int> &listener) {
    if (listener.load() != 0)
        return;
    const int number =
        platform::print::PrinterWatch::Listen([&io, weak](const platform::print::PrinterEvent &e) {
            Post(io, weak, [e](PageSession &session) { session.OnCupsEvent(e); });
        });
    int none = 0;
    if (!listener.compare_exchange_strong(none, number))
        platform::print::PrinterWatch::Unlisten(number); // closed meanwhile
}

void PageSession::Observe(boost::asio::io_context &io, const std::weak_ptr<PageSession> &weak,
                          const std::shared_ptr<std::atomic<int>> &listener,
                          const platform::print::JobEvent &e) {
    using platform::print::JobEvent;
    if (e.stage == JobEvent::Started && e.printer != platform::print::kPdfPrinterName &&
        platform::print::PreviewFolderOfThisThread().empty())
        ListenToCups(io, weak, *listener);
    Post(io, weak, [event = EventOf(e)](PageSession &session) mutable {
        session.PreviewAddresses(event);
        session.Deliver(std::move(event));
    });
    if (e.stage != JobEvent::Finished || e.cupsJob <= 0)
        return;
    // The job is followed from here on: the watch's events before it were
    // not this page's yet, and the watch reads them as soon as CUPS has
    // them. So its state now is asked after the following starts, and told
    // unless an event of it came meanwhile.
    Post(io, weak,
         [cupsJob = e.cupsJob, job = FollowedJob{e.jobId, e.title, e.printer, ""}](
             PageSession &session) { session.Follow(cupsJob, job); });
    platform::print::PrinterEvent now;
    if (platform::print::PrinterWatch::JobNow(e.cupsJob, now))
        Post(io, weak, [now](PageSession &session) { session.OnCupsEvent(now, true); });
}

void PageSession::Follow(int cupsJob, FollowedJob job) {
    m_followed.emplace(cupsJob, std::move(job));
}

void PageSession::OnCupsEvent(const platform::print::PrinterEvent &e, bool snapshot) {
    json state = StateOf(e);
    const std::string seen = Dump(state);
    if (e.kind == platform::print::PrinterEvent::Printer) {
        auto watched = m_watched.find(e.printer);
        if (watched == m_watched.end() || watched->second == seen)
            return;
        watched->second = seen;
        state["event"] = "printer";
        state["printer"] = e.printer;
        return Deliver(std::move(state));
    }
    auto followed = m_followed.find(e.job);
    if (followed == m_followed.end() || (snapshot && followed->second.heard))
        return;
    followed->second.heard = followed->second.heard || !snapshot;
    if (followed->second.seen == seen)
        return;
    followed->second.seen = seen;
    state.update(json{{"event", "job"},
                      {"stage", "state"},
                      {"job", followed->second.job},
                      {"cupsJob", e.job},
                      {"title", followed->second.title},
                      {"printer", followed->second.printer}});
    if (platform::print::IsFinalJobState(e.state))
        m_followed.erase(followed);
    Deliver(std::move(state));
}

// The watched printers: each must be one CUPS knows (asked on the apartment
// thread); their states now come as the first events, then each change.
void PageSession::Watch(json request, Reply reply) {
    const json names = request.contains("printers") ? request["printers"] : json();
    bool valid = names.is_array();
    for (const json &name : valid ? names : json::array())
        valid = valid && name.is_string();
    if (!valid)
        return reply(Error(code::kBadRequest, "watch needs \"printers\": an array of names"));
    ++m_inFlight;
    auto task = [&io = m_io, weak = weak_from_this(), listener = m_listener, names, reply] {
        std::vector<platform::print::PrinterEvent> states;
        std::string unknown;
        for (const json &name : names) {
            platform::print::PrinterEvent now;
            if (!platform::print::PrinterWatch::PrinterNow(name.get<std::string>(), now))
                unknown = name.get<std::string>();
            states.push_back(now);
        }
        if (unknown.empty() && !names.empty())
            ListenToCups(io, weak, *listener);
        Post(io, weak, [states, unknown, names, reply](PageSession &session) {
            json answer = {{"value", names}};
            if (!unknown.empty()) {
                answer = Error(code::kNoPrinter, "CUPS has no printer " + unknown);
            } else {
                session.m_watched.clear();
                for (const json &name : names)
                    session.m_watched[name.get<std::string>()] = "";
            }
            session.Finish(answer, reply);
            for (const platform::print::PrinterEvent &state : states)
                session.OnCupsEvent(state);
        });
    };
    if (!m_apartment->Post(std::move(task))) {
        --m_inFlight;
        reply(Error(code::kNoSession, "the session has ended"));
    }
}

// A previewed job's files as the session's addresses.
void PageSession::PreviewAddresses(json &event) const {
    if (!event.contains("preview"))
        return;
    json &preview = event["preview"];
    for (const char *kind : {"pdf", "png"}) {
        const std::string file = preview.value(kind, "");
        if (file.empty())
            preview.erase(kind);
        else
            preview[kind] = "/preview/" + m_previewKey + "/" + AddressOf(file);
    }
}

std::string PageSession::PreviewFile(const std::string &name) const {
    const bool plain = !name.empty() && name.find('/') == std::string::npos && name[0] != '.';
    const size_t dot = name.rfind('.');
    const std::string ending = dot == std::string::npos ? "" : name.substr(dot);
    if (!plain || (ending != ".pdf" && ending != ".png"))
        return "";
    const std::string path = m_previewFolder + "/" + name;
    return access(path.c_str(), R_OK) == 0 ? path : "";
}

void PageSession::Start() {
    // The apartment: initialised for objects, reporting its print jobs to
    // the session. Its tasks hold the session only weakly, so the session
    // always ends on the I/O thread.
    // Its objects' cookies are the page's origin's, as a browser partitions
    // a site's storage; a local program's are the account's own.
    auto first = [&io = m_io, weak = weak_from_this(), listener = m_listener,
                  partition = m_owner == "local" ? std::string() : m_owner] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        platform::inet::SetCookiePartitionOfThisThread(partition);
        platform::print::ObserveJobsOnThisThread(
            [&io, weak, listener](const platform::print::JobEvent &e) {
                Observe(io, weak, listener, e);
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
    RequestFields fields(request);
    const std::string op = fields.String("op");
    if (!fields.Ok())
        return reply(fields.Failure());
    // Answered at once, with the events held for an HTTP session: a page
    // that only pings still hears of its jobs and printers.
    if (op == "ping" || op == "echo") {
        json answer = {{"value", op == "ping"                ? json({{"$", "undefined"}})
                                 : request.contains("value") ? request["value"]
                                                             : json()}};
        HandOverEvents(answer);
        return reply(std::move(answer));
    }
    if (!m_apartment)
        return reply(Error(code::kNoSession, "the session has ended"));
    if (op == "watch")
        return Watch(std::move(request), std::move(reply));
    if (m_inFlight >= m_options.maxCallsInFlight)
        return reply(Error(code::kLimit, "a page may have " +
                                             std::to_string(m_options.maxCallsInFlight) +
                                             " calls in flight"));
    ++m_inFlight;
    auto task = [&io = m_io, weak = weak_from_this(), objects = m_objects, print = m_print,
                 request = std::move(request), printing = PrintRequests::Handles(op),
                 reply]() mutable {
        json answer =
            Guarded([&] { return printing ? print->Handle(request) : objects->Handle(request); });
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
    HandOverEvents(answer);
    reply(std::move(answer));
}

void PageSession::HandOverEvents(json &answer) {
    if (!m_events.empty()) {
        answer["events"] = std::move(m_events);
        m_events.clear();
    }
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
    if (const int listener = m_listener->exchange(-1); listener > 0)
        platform::print::PrinterWatch::Unlisten(listener);
    RemoveFolder(m_previewFolder);
    if (m_apartment)
        m_apartment->Close([objects = m_objects] { objects->ReleaseAll(); });
    return std::move(m_apartment);
}

} // namespace bridge
