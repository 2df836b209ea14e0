// The watch on CUPS: a subscription on the server for every printer's and
// job's state changes, read with Get-Notifications (the ippget pull
// method), renewed while it is used and cancelled when the last listener
// goes. A server that takes no subscription is polled instead: its
// printers' states and its jobs', with what changed reported.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <cups/cups.h>
#include <map>
#include <mutex>
#include <thread>

#include "PrinterWatch.h"

namespace platform::print {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kReadEvery = std::chrono::milliseconds(100);
constexpr auto kPollEvery = std::chrono::milliseconds(500);
constexpr int kLeaseSeconds = 300;
constexpr auto kRenewEvery = std::chrono::seconds(120);

const char *const kEvents[] = {"job-created", "job-state-changed",     "job-completed",
                               "job-stopped", "printer-state-changed", "printer-stopped"};

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

class Watch {
public:
    static Watch &Instance() {
        static Watch *watch = new Watch; // lives as long as the process
        return *watch;
    }

    int Listen(PrinterWatch::Listener listener) {
        std::lock_guard starting(m_starting); // one start or end at a time
        std::unique_lock lock(m_lock);
        const int number = ++m_serial;
        m_listeners[number] = std::move(listener);
        if (!m_thread.joinable()) {
            m_stop = false;
            lock.unlock();
            // The subscription is made here, on the caller's thread, so it
            // exists before the caller's next job is sent.
            const int id = Subscribe();
            lock.lock();
            m_subscription = id;
            m_thread = std::thread([this] { Run(); });
        }
        return number;
    }

    void Unlisten(int number) {
        std::lock_guard starting(m_starting);
        std::thread ending;
        {
            std::lock_guard lock(m_lock);
            m_listeners.erase(number);
            if (!m_listeners.empty() || !m_thread.joinable())
                return;
            m_stop = true;
            ending = std::move(m_thread);
        }
        m_wake.notify_all();
        ending.join();
    }

    bool Subscribed() {
        std::lock_guard lock(m_lock);
        return m_subscription > 0;
    }

private:
    // A subscription for every printer's and job's changes; 0 when the
    // server takes none.
    static int Subscribe() {
        ipp_t *request = Request(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS, "ipp://localhost/");
        ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-pull-method", nullptr,
                     "ippget");
        ippAddStrings(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events",
                      static_cast<int>(std::size(kEvents)), nullptr, kEvents);
        ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration",
                      kLeaseSeconds);
        ipp_t *response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
        ipp_attribute_t *id =
            response ? ippFindAttribute(response, "notify-subscription-id", IPP_TAG_INTEGER)
                     : nullptr;
        const int subscription = id ? ippGetInteger(id, 0) : 0;
        ippDelete(response);
        return subscription;
    }

    static bool Simple(ipp_op_t op, int subscription) {
        ipp_t *request = Request(op, "ipp://localhost/");
        ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id",
                      subscription);
        if (op == IPP_OP_RENEW_SUBSCRIPTION)
            ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration",
                          kLeaseSeconds);
        ippDelete(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/"));
        return cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE;
    }

    void Tell(const PrinterEvent &event) {
        std::lock_guard lock(m_lock);
        for (auto &[number, listener] : m_listeners)
            listener(event);
    }

    // Waits the time given; false when the watch is to end.
    bool Pause(std::chrono::milliseconds time) {
        std::unique_lock lock(m_lock);
        return !m_wake.wait_for(lock, time, [this] { return m_stop; });
    }

    void Run() {
        int sequence = 1;
        Clock::time_point renewed = Clock::now();
        int subscription;
        {
            std::lock_guard lock(m_lock);
            subscription = m_subscription;
        }
        while (true) {
            if (subscription > 0) {
                if (!ReadEvents(subscription, sequence))
                    subscription = 0; // the server went, or dropped it
                else if (Clock::now() - renewed > kRenewEvery &&
                         Simple(IPP_OP_RENEW_SUBSCRIPTION, subscription))
                    renewed = Clock::now();
            } else {
                Poll();
                if ((subscription = Subscribe()) > 0) {
                    sequence = 1;
                    renewed = Clock::now();
                }
            }
            {
                std::lock_guard lock(m_lock);
                m_subscription = subscription;
            }
            if (!Pause(subscription > 0 ? kReadEvery : kPollEvery))
                break;
        }
        if (subscription > 0)
            Simple(IPP_OP_CANCEL_SUBSCRIPTION, subscription);
        std::lock_guard lock(m_lock);
        m_subscription = 0;
    }

    // Reads the events after the last one seen; false when the server does
    // not answer or has no such subscription.
    bool ReadEvents(int subscription, int &sequence) {
        ipp_t *request = Request(IPP_OP_GET_NOTIFICATIONS, "ipp://localhost/");
        ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-ids",
                      subscription);
        ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-sequence-numbers",
                      sequence);
        ipp_t *response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
        if (!response || cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) {
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
            if (notification.number >= sequence)
                sequence = notification.number + 1;
            const PrinterEvent event = notification.Event();
            if (!event.printer.empty() && (event.kind == PrinterEvent::Printer || event.job > 0))
                Tell(event);
            if (!attr)
                break;
        }
        ippDelete(response);
        return true;
    }

    // What an event notification says, attribute by attribute (in any
    // order); the event once all are read.
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

        PrinterEvent Event() const {
            PrinterEvent e;
            e.kind = event.rfind("printer-", 0) == 0 ? PrinterEvent::Printer : PrinterEvent::Job;
            e.printer = printer;
            e.job = job;
            e.state = e.kind == PrinterEvent::Job ? JobStateName(jobState)
                                                  : PrinterStateName(printerState);
            e.reasons = e.kind == PrinterEvent::Job ? jobReasons : printerReasons;
            e.message = printerMessage.empty() ? text : printerMessage;
            return e;
        }
    };

    // Without a subscription: every printer's and recent job's state, with
    // those that changed since the last poll reported.
    void Poll() {
        std::vector<PrinterEvent> events;
        cups_dest_t *dests = nullptr;
        const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
        for (int i = 0; i < count; ++i) {
            PrinterEvent event;
            if (PrinterWatch::PrinterNow(dests[i].name, event))
                events.push_back(event);
        }
        cupsFreeDests(count, dests);
        cups_job_t *jobs = nullptr;
        const int jobCount = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, nullptr, 1, CUPS_WHICHJOBS_ALL);
        for (int i = 0; i < jobCount; ++i) {
            PrinterEvent event;
            if (PrinterWatch::JobNow(jobs[i].id, event))
                events.push_back(event);
        }
        cupsFreeJobs(jobCount, jobs);
        for (const PrinterEvent &event : events) {
            const std::string key =
                event.kind == PrinterEvent::Job ? std::to_string(event.job) : "p:" + event.printer;
            std::string seen = event.state + "|" + event.message;
            for (const std::string &reason : event.reasons)
                seen += "|" + reason;
            if (m_polled[key] != seen) {
                m_polled[key] = seen;
                Tell(event);
            }
        }
    }

    std::mutex m_starting;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::map<int, PrinterWatch::Listener> m_listeners;
    int m_serial = 0;
    int m_subscription = 0;
    bool m_stop = false;
    std::thread m_thread;
    std::map<std::string, std::string> m_polled; // the watch thread's only
};

} // namespace

std::string JobStateName(int state) {
    return ippEnumString("job-state", state);
}

bool IsFinalJobState(const std::string &state) {
    return state == "canceled" || state == "aborted" || state == "completed";
}

int PrinterWatch::Listen(Listener listener) {
    return Watch::Instance().Listen(std::move(listener));
}

void PrinterWatch::Unlisten(int number) {
    Watch::Instance().Unlisten(number);
}

bool PrinterWatch::Subscribed() {
    return Watch::Instance().Subscribed();
}

bool PrinterWatch::JobNow(int job, PrinterEvent &event) {
    ipp_t *request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    const std::string uri = "ipp://localhost/jobs/" + std::to_string(job);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ipp_t *response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
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

bool PrinterWatch::PrinterNow(const std::string &printer, PrinterEvent &event) {
    const std::string uri = "ipp://localhost/printers/" + printer;
    ipp_t *request = Request(IPP_OP_GET_PRINTER_ATTRIBUTES, uri.c_str());
    const char *wanted[] = {"printer-state", "printer-state-reasons", "printer-state-message"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr,
                  wanted);
    ipp_t *response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
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

} // namespace platform::print
