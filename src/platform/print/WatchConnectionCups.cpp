#include <algorithm>
#include <cstring>
#include <cups/cups.h>
#include <random>
#include <unistd.h>

#include "WatchConnection.h"

namespace platform::print {
namespace {

// A request that takes longer has failed (the server hangs).
constexpr auto kRequestLimit = std::chrono::seconds(10);
constexpr int kConnectMilliseconds = 3000;
// How often a request waiting for the server asks whether to go on.
constexpr double kWaitStep = 0.25;
constexpr int kLeaseSeconds = 300;

const char *const kEvents[] = {"job-created",      "job-state-changed",     "job-completed",
                               "job-stopped",      "printer-state-changed", "printer-stopped",
                               "server-restarted", "server-started",        "server-stopped"};

std::vector<std::string> ReasonsOf(ipp_attribute_t *attr) {
    std::vector<std::string> reasons;
    for (int i = 0; attr && i < ippGetCount(attr); ++i) {
        const char *keyword = ippGetString(attr, i, nullptr);
        if (keyword && strcmp(keyword, "none") != 0)
            reasons.push_back(keyword);
    }
    return reasons;
}

std::string TextOf(ipp_attribute_t *attr) {
    const char *text = attr ? ippGetString(attr, 0, nullptr) : nullptr;
    return text ? text : "";
}

std::string PrinterStateName(int state) {
    return state == IPP_PSTATE_PROCESSING ? "processing"
           : state == IPP_PSTATE_STOPPED  ? "stopped"
                                          : "idle";
}

// The queue's name from a printer's URI (".../printers/NAME").
std::string QueueOf(const std::string &uri) {
    const size_t slash = uri.rfind('/');
    return slash == std::string::npos ? uri : uri.substr(slash + 1);
}

ipp_t *Request(ipp_op_t op, const char *uri) {
    ipp_t *request = ippNewRequest(op);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    return request;
}

// What an event notification says, attribute by attribute (in any order);
// the event once all are read.
struct Notification {
    std::string event, printer, text, printerMessage;
    int job = 0, number = 0, jobState = 0, printerState = 0;
    std::vector<std::string> jobReasons, printerReasons;

    void Take(ipp_attribute_t *attr) {
        const std::string key = ippGetName(attr);
        if (key == "notify-sequence-number")
            number = ippGetInteger(attr, 0);
        else if (key == "notify-subscribed-event")
            event = TextOf(attr);
        else if (key == "printer-name")
            printer = TextOf(attr);
        else if (key == "notify-printer-uri" && printer.empty())
            printer = QueueOf(TextOf(attr));
        else if (key == "notify-job-id")
            job = ippGetInteger(attr, 0);
        else if (key == "job-state")
            jobState = ippGetInteger(attr, 0);
        else if (key == "printer-state")
            printerState = ippGetInteger(attr, 0);
        else if (key == "job-state-reasons")
            jobReasons = ReasonsOf(attr);
        else if (key == "printer-state-reasons")
            printerReasons = ReasonsOf(attr);
        else if (key == "printer-state-message")
            printerMessage = TextOf(attr);
        else if (key == "notify-text")
            text = TextOf(attr);
    }

    // Whether it is a printer's or a job's event (not the server's).
    bool Wanted() const { return !printer.empty() && (event.rfind("printer-", 0) == 0 || job > 0); }

    PrinterEvent Event() const {
        PrinterEvent e;
        e.kind = event.rfind("printer-", 0) == 0 ? PrinterEvent::Printer : PrinterEvent::Job;
        e.printer = printer;
        e.job = job;
        e.state =
            e.kind == PrinterEvent::Job ? JobStateName(jobState) : PrinterStateName(printerState);
        e.reasons = e.kind == PrinterEvent::Job ? jobReasons : printerReasons;
        e.message = printerMessage.empty() ? text : printerMessage;
        return e;
    }
};

bool Succeeded() {
    return cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE;
}

bool JobNowOn(http_t *http, int job, PrinterEvent &event) {
    ipp_t *request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    const std::string uri = "ipp://localhost/jobs/" + std::to_string(job);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ipp_t *response = cupsDoRequest(http, request, "/");
    ipp_attribute_t *state =
        response ? ippFindAttribute(response, "job-state", IPP_TAG_ENUM) : nullptr;
    if (state) {
        event = PrinterEvent{};
        event.kind = PrinterEvent::Job;
        event.job = job;
        event.state = JobStateName(ippGetInteger(state, 0));
        event.reasons = ReasonsOf(ippFindAttribute(response, "job-state-reasons", IPP_TAG_KEYWORD));
        event.message =
            TextOf(ippFindAttribute(response, "job-printer-state-message", IPP_TAG_TEXT));
        event.printer = QueueOf(TextOf(ippFindAttribute(response, "job-printer-uri", IPP_TAG_URI)));
    }
    ippDelete(response);
    return state != nullptr;
}

bool PrinterNowOn(http_t *http, const std::string &printer, PrinterEvent &event) {
    const std::string uri = "ipp://localhost/printers/" + printer;
    ipp_t *request = Request(IPP_OP_GET_PRINTER_ATTRIBUTES, uri.c_str());
    const char *wanted[] = {"printer-state", "printer-state-reasons", "printer-state-message"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr,
                  wanted);
    ipp_t *response = cupsDoRequest(http, request, "/");
    ipp_attribute_t *state =
        response ? ippFindAttribute(response, "printer-state", IPP_TAG_ENUM) : nullptr;
    if (state) {
        event = PrinterEvent{};
        event.kind = PrinterEvent::Printer;
        event.printer = printer;
        event.state = PrinterStateName(ippGetInteger(state, 0));
        event.reasons =
            ReasonsOf(ippFindAttribute(response, "printer-state-reasons", IPP_TAG_KEYWORD));
        event.message = TextOf(ippFindAttribute(response, "printer-state-message", IPP_TAG_TEXT));
    }
    ippDelete(response);
    return state != nullptr;
}

} // namespace

std::string JobStateName(int state) {
    return ippEnumString("job-state", state);
}

bool PrinterWatch::JobNow(int job, PrinterEvent &event) {
    return JobNowOn(CUPS_HTTP_DEFAULT, job, event);
}

bool PrinterWatch::PrinterNow(const std::string &printer, PrinterEvent &event) {
    return PrinterNowOn(CUPS_HTTP_DEFAULT, printer, event);
}

// ---- The connection ---------------------------------------------------------------

std::unique_ptr<WatchConnection> WatchConnection::ForThisThread() {
    return std::unique_ptr<WatchConnection>(
        new WatchConnection(cupsServer(), ippPort(), static_cast<int>(cupsEncryption())));
}

WatchConnection::WatchConnection(std::string server, int port, int encryption)
    : m_server(std::move(server)), m_port(port), m_encryption(encryption),
      m_mark("quillbay-watch " + std::to_string(getpid()) + " " +
             std::to_string(std::random_device()())) {}

WatchConnection::~WatchConnection() {
    Close();
}

bool WatchConnection::IsLocal() const {
    return m_server.starts_with("/") || m_server == "localhost" || m_server == "127.0.0.1" ||
           m_server == "::1" || m_server == "[::1]";
}

void WatchConnection::Close() {
    if (m_http)
        httpClose(static_cast<http_t *>(m_http));
    m_http = nullptr;
}

int WatchConnection::Descriptor() const {
    return m_http ? httpGetFd(static_cast<http_t *>(m_http)) : -1;
}

void WatchConnection::Abort() {
    m_abort = true;
}

void WatchConnection::Finish(Clock::time_point by) {
    m_by = by;
    m_abort = false;
}

int WatchConnection::KeepWaiting(void *, void *self) {
    auto *connection = static_cast<WatchConnection *>(self);
    return !connection->m_abort && Clock::now() < connection->m_deadline;
}

void *WatchConnection::Begin() {
    if (m_abort)
        return nullptr;
    m_deadline = std::min(Clock::now() + kRequestLimit, m_by);
    if (!m_http) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now());
        const int wait = static_cast<int>(std::min<long>(kConnectMilliseconds, left.count()));
        if (wait <= 0)
            return nullptr;
        http_t *http = httpConnect2(m_server.c_str(), m_port, nullptr, AF_UNSPEC,
                                    static_cast<http_encryption_t>(m_encryption), 1, wait, nullptr);
        if (!http)
            return nullptr;
        httpSetTimeout(
            http, kWaitStep, [](http_t *h, void *self) { return KeepWaiting(h, self); }, this);
        m_http = http;
    }
    return m_http;
}

void *WatchConnection::Ask(void *request) {
    auto *http = static_cast<http_t *>(Begin());
    if (!http) {
        ippDelete(static_cast<ipp_t *>(request));
        return nullptr;
    }
    ipp_t *response = cupsDoRequest(http, static_cast<ipp_t *>(request), "/");
    // No answer at all: the server went, or the request gave up midway and
    // left the connection in no state to go on. The next one connects anew.
    if (!response)
        Close();
    return response;
}

int WatchConnection::Subscribe(const char *recipient) {
    ipp_t *request = Request(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS, "ipp://localhost/");
    if (recipient)
        ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_URI, "notify-recipient-uri", nullptr,
                     recipient);
    else
        ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-pull-method", nullptr,
                     "ippget");
    ippAddStrings(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events",
                  static_cast<int>(std::size(kEvents)), nullptr, kEvents);
    ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration",
                  kLeaseSeconds);
    ippAddOctetString(request, IPP_TAG_SUBSCRIPTION, "notify-user-data", m_mark.data(),
                      static_cast<int>(m_mark.size()));
    auto *response = static_cast<ipp_t *>(Ask(request));
    ipp_attribute_t *id =
        response ? ippFindAttribute(response, "notify-subscription-id", IPP_TAG_INTEGER) : nullptr;
    const int subscription = id ? ippGetInteger(id, 0) : 0;
    ippDelete(response);
    return subscription;
}

bool WatchConnection::Renew(int subscription) {
    ipp_t *request = Request(IPP_OP_RENEW_SUBSCRIPTION, "ipp://localhost/");
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id",
                  subscription);
    ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration",
                  kLeaseSeconds);
    auto *response = static_cast<ipp_t *>(Ask(request));
    ippDelete(response);
    return response && Succeeded();
}

void WatchConnection::Cancel(int subscription) {
    ipp_t *asked = Request(IPP_OP_GET_SUBSCRIPTION_ATTRIBUTES, "ipp://localhost/");
    ippAddInteger(asked, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id",
                  subscription);
    ippAddString(asked, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "notify-user-data");
    auto *answer = static_cast<ipp_t *>(Ask(asked));
    int length = 0;
    ipp_attribute_t *data =
        answer ? ippFindAttribute(answer, "notify-user-data", IPP_TAG_STRING) : nullptr;
    const void *bytes = data ? ippGetOctetString(data, 0, &length) : nullptr;
    const bool ours = bytes && std::string(static_cast<const char *>(bytes),
                                           static_cast<size_t>(length)) == m_mark;
    ippDelete(answer);
    if (!ours)
        return;
    ipp_t *request = Request(IPP_OP_CANCEL_SUBSCRIPTION, "ipp://localhost/");
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id",
                  subscription);
    ippDelete(static_cast<ipp_t *>(Ask(request)));
}

bool WatchConnection::Read(int subscription, int &sequence, std::vector<PrinterEvent> &events,
                           ReadNews &news) {
    ipp_t *request = Request(IPP_OP_GET_NOTIFICATIONS, "ipp://localhost/");
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-ids",
                  subscription);
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-sequence-numbers", sequence);
    auto *response = static_cast<ipp_t *>(Ask(request));
    if (!response || !Succeeded()) {
        ippDelete(response);
        return false;
    }
    for (ipp_attribute_t *attr = ippFirstAttribute(response); attr;
         attr = ippNextAttribute(response)) {
        if (ippGetGroupTag(attr) != IPP_TAG_EVENT_NOTIFICATION || !ippGetName(attr))
            continue;
        // An event's group: its attributes until the next separator.
        Notification notification;
        for (; attr && ippGetName(attr); attr = ippNextAttribute(response))
            notification.Take(attr);
        // The server keeps a limited number of events: a first one past the
        // number expected says that those before it were dropped.
        news.lost = news.lost || notification.number > sequence;
        news.stopping = news.stopping || notification.event == "server-stopped";
        if (notification.number >= sequence)
            sequence = notification.number + 1;
        if (notification.Wanted())
            events.push_back(notification.Event());
        if (!attr)
            break;
    }
    ippDelete(response);
    return true;
}

std::vector<PrinterEvent> WatchConnection::States() {
    std::vector<PrinterEvent> states;
    auto *http = static_cast<http_t *>(Begin());
    if (!http)
        return states;
    cups_dest_t *dests = nullptr;
    const int count = cupsGetDests2(http, &dests);
    for (int i = 0; i < count && Begin(); ++i) {
        PrinterEvent event;
        if (PrinterNowOn(http, dests[i].name, event))
            states.push_back(event);
    }
    cupsFreeDests(count, dests);
    cups_job_t *jobs = nullptr;
    const int jobCount = Begin() ? cupsGetJobs2(http, &jobs, nullptr, 1, CUPS_WHICHJOBS_ALL) : 0;
    for (int i = 0; i < jobCount && Begin(); ++i) {
        PrinterEvent event;
        if (JobNowOn(http, jobs[i].id, event))
            states.push_back(event);
    }
    cupsFreeJobs(jobCount, jobs);
    return states;
}

} // namespace platform::print
